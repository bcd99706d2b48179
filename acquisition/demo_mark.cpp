#include "demo_mark.h"

#include "device/demo_cues.h"
#include "widgets/font_cells.h"

#include <QEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

namespace zelkor::acquisition {

namespace {

constexpr int kGapToNeighbour = 10;
constexpr int kPadding = 8;
constexpr int kCellHeight = 22;
constexpr int kMenuCellHeight = 20;  // as the experiments' button captions, readable from the back
const QColor kMarkColour(200, 0, 0);

QFont MarkFont()
{
    return widgets::FontForCellHeight(QStringLiteral("黑体"), kCellHeight, true, false);
}

QString MarkText()
{
    return QStringLiteral("演示模式");
}

}  // namespace

CDemoMark::CDemoMark(QWidget* frame, QWidget* rightNeighbour, QSize bannerSize)
    : QWidget(frame), rightNeighbour_(rightNeighbour), bannerSize_(bannerSize), menu_(new QMenu(this))
{
    setObjectName(QStringLiteral("demoMark"));
    menu_->setObjectName(QStringLiteral("demoHelperMenu"));
    menu_->setFont(widgets::FontForCellHeight(QStringLiteral("宋体"), kMenuCellHeight));
    frame->installEventFilter(this);
    if (rightNeighbour_)
        rightNeighbour_->installEventFilter(this);
    ShowActive(device::DemoModeActive());
    Place();
}

void CDemoMark::ShowActive(bool active)
{
    if (active == active_)
        return;
    active_ = active;
    if (active) {
        setCursor(Qt::PointingHandCursor);
        setToolTip(QStringLiteral("演示模式：数据来自模拟的传感器，不是测量结果。\n点击可请实验助手摆放实验装置。"));
    } else {
        unsetCursor();
        setToolTip(QString());
    }
}

void CDemoMark::Place()
{
    const int neighbourLeft = rightNeighbour_ ? rightNeighbour_->x() : bannerSize_.width();
    const int right = std::min(bannerSize_.width(), neighbourLeft) - kGapToNeighbour;
    const int width = QFontMetrics(MarkFont()).horizontalAdvance(MarkText()) + 2 * kPadding;
    setGeometry(right - width, 0, width, bannerSize_.height());
}

bool CDemoMark::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
        Place();
    return QWidget::eventFilter(watched, event);
}

void CDemoMark::paintEvent(QPaintEvent*)
{
    // A demo sensor may come or go while the window lives (tests make one after the window).
    ShowActive(device::DemoModeActive());
    if (!active_)
        return;
    QPainter painter(this);
    painter.setFont(MarkFont());
    painter.setPen(kMarkColour);
    painter.drawText(rect().adjusted(0, 0, -kPadding, 0), Qt::AlignRight | Qt::AlignVCenter, MarkText());
}

void CDemoMark::mousePressEvent(QMouseEvent* event)
{
    ShowActive(device::DemoModeActive());
    if (active_ && event->button() == Qt::LeftButton)
        OpenMenu();
    else
        QWidget::mousePressEvent(event);
}

void CDemoMark::OpenMenu()
{
    menu_->clear();
    menu_->addSection(QStringLiteral("请实验助手："));
    const std::vector<device::DemoHelperAction> actions = device::DemoHelperActions();
    for (const device::DemoHelperAction& action : actions) {
        const device::DemoCue cue = action.cue;
        menu_->addAction(QString::fromStdString(action.text), this, [cue] { device::SendDemoCue(cue); });
    }
    if (actions.empty())
        menu_->addAction(QStringLiteral("本实验无需助手操作"))->setEnabled(false);
    menu_->popup(mapToGlobal(QPoint(0, height())));
}

}  // namespace zelkor::acquisition
