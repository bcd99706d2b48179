#include "exp_base.h"

#include "demo_mark.h"
#include "device/demo_cues.h"
#include "device/sensor_protocol.h"
#include "output/snapshot.h"
#include "widgets/app_setup.h"
#include "widgets/control_ids.h"
#include "widgets/dialog_units.h"
#include "widgets/font_cells.h"
#include "widgets/picture_button.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>

#include <array>
#include <cmath>

namespace zelkor::acquisition {

namespace {

using namespace std::chrono_literals;

// With no sensor attached the worker looks for one this often; the stop event still ends the wait at once.
constexpr auto kOpenRetry = 100ms;
constexpr int kRefreshPeriodMs = 10;
constexpr int kBannerTitleX = 120;
constexpr int kBannerTitleY = 10;
constexpr int kTitleCellHeight = 26;
const QColor kTitleColour(18, 0, 255);
constexpr int kTopRightMargin = 20;
constexpr int kTopMargin = 10;
constexpr int kBarLeft = 20;
constexpr int kBarBottomGap = 41;
constexpr int kBarRightMargin = 20;

// Template 170 positions (dialog units) of the frame's bottom buttons.
const QRect kBackRect(277, 199, 19, 13);
const QRect kSnapshotRect(254, 199, 19, 13);
const QRect kStartRect(2, 199, 40, 13);
const QRect kStopRect(43, 199, 40, 13);
const QRect kMinimiseRect(266, 1, 9, 9);
const QRect kCloseRect(275, 1, 9, 9);

// A report must hold the fields that are decoded from it; a shorter transfer is a damaged report.
constexpr std::size_t kReportBytesWithoutTime = device::kReportTemperatureOffset + 4;
constexpr std::size_t kReportBytesWithTime = device::kReportIntervalOffset + 4;

}  // namespace

OpenFailureReaction OpenFailureReactionFor(int experimentIndex)
{
    switch (experimentIndex) {
    case 0:
    case 9:
    case 12:
        return {"没有找到Zelkor设备！", true};
    case 2:
    case 5:
        return {nullptr, true};
    case 1:
        return {"没有找到二维设备！", false};
    case 3:
    case 4:
        return {"找不到Zelkor设备!", false};
    default:
        return {nullptr, false};
    }
}

CDlgTdExpBase::CDlgTdExpBase(int experimentIndex, QWidget* parent, std::shared_ptr<device::UsbPlatform> platform)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      m_link(std::move(platform)),
      experimentIndex_(experimentIndex),
      banner_(QStringLiteral(":/bitmap/130.png"))
{
    setFont(widgets::ExperimentDialogFont());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    const auto units = widgets::BaseUnitsFor(font());
    auto makeButton = [&](int id, const QRect& du) {
        auto* button = new widgets::CPictureButton(this);
        button->Create(id, QString(), widgets::MapDialogRect(du, units), this);
        return button;
    };
    minimise_ = makeButton(kIdMinimise, kMinimiseRect);
    close_ = makeButton(kIdClose, kCloseRect);
    back_ = makeButton(kIdBack, kBackRect);
    snapshot_ = makeButton(kIdSnapshot, kSnapshotRect);
    start_ = makeButton(kIdStart, kStartRect);
    stop_ = makeButton(kIdStop, kStopRect);
    new CDemoMark(this, minimise_, banner_.isNull() ? QSize(970, 43) : banner_.size());

    connect(minimise_, &QPushButton::clicked, this, &QWidget::showMinimized);
    connect(close_, &QPushButton::clicked, this, &CDlgTdExpBase::CloseExperiment);
    connect(back_, &QPushButton::clicked, this, &CDlgTdExpBase::CloseExperiment);
    takeSnapshot = [](QWidget* window) { output::TakeSnapshot(window); };
    connect(snapshot_, &QPushButton::clicked, this, [this] {
        if (takeSnapshot)
            takeSnapshot(this);
    });

    timer1_.setTimerType(Qt::PreciseTimer);
    connect(&timer1_, &QTimer::timeout, this, [this] { RefreshView(); });

    // Enter and Escape are swallowed anywhere in the window, before any control sees them.
    qApp->installEventFilter(this);
}

CDlgTdExpBase::~CDlgTdExpBase()
{
    qApp->removeEventFilter(this);
    StopWorker();
}

void CDlgTdExpBase::RefreshView() {}

bool CDlgTdExpBase::ReadReport()
{
    std::array<std::uint8_t, device::kReportSize> report{};
    std::size_t read = 0;
    if (!m_link.Read(report.size(), report.data(), &read))
        return false;
    const bool withTime = device::HasTimeField(m_secondVersion.load());
    if (read < (withTime ? kReportBytesWithTime : kReportBytesWithoutTime) || report[device::kReportStatusOffset] != 0)
        return true;
    const device::DataReport decoded = device::DecodeReport(report, withTime);
    const double left = decoded.leftMm * 0.001;
    const double right = decoded.rightMm * 0.001;
    // Only a real triangle with the baseline can be solved (and this refuses NaN as well).
    if (!(left + right > m_baseline && std::fabs(left - right) < m_baseline))
        return true;
    DataPck raw;
    raw.x = left;
    raw.y = right;
    raw.temperature = decoded.temperatureC;
    raw.interval = decoded.intervalUs ? *decoded.intervalUs / 1000000 : 0.0f;
    m_rawQueue.Push(raw);
    return true;
}

void CDlgTdExpBase::Decimate()
{
    const SolveFunction solve = SolverFor(m_transformIndex.load());
    decimator_.Decimate(m_rawQueue, m_sampleQueue, m_samplingFrequency.load(), m_secondVersion.load(),
                        solve ? solve : SolverFor(1));
}

void CDlgTdExpBase::AcquisitionLoop()
{
    while (!stopEvent_.Wait(1ms)) {
        if (!m_link.IsConnected()) {
            if (!m_link.OpenLink() && stopEvent_.Wait(kOpenRetry))
                return;
        } else if (!m_streaming.load()) {
            if (device::Identify(m_link)) {
                m_firstVersion.store(m_link.firstVersion.load());
                m_secondVersion.store(m_link.secondVersion.load());
                if (device::Start(m_link))
                    m_streaming.store(true);
            } else {
                m_link.CloseLink();
            }
        } else {
            // Decimate runs after every report read, kept or not.
            if (ReadReport())
                Decimate();
            else
                m_streaming.store(false);
        }
    }
}

void CDlgTdExpBase::WorkerMain()
{
    AcquisitionLoop();
    workerFinished_.store(true);
}

bool CDlgTdExpBase::StartAcquisition()
{
    if (!m_link.IsConnected() && !m_link.OpenLink()) {
        const OpenFailureReaction reaction = OpenFailureReactionFor(experimentIndex_);
        if (reaction.message)
            widgets::ShowMessage(this, QString::fromUtf8(reaction.message));
        if (!reaction.goOn)
            return false;
    }
    if (!worker_.joinable()) {
        stopEvent_.Reset();
        workerFinished_.store(false);
        worker_ = std::thread(&CDlgTdExpBase::WorkerMain, this);
    }
    timer1_.start(kRefreshPeriodMs);
    device::SendDemoCue(device::DemoCue::AcquisitionStarted);
    return true;
}

void CDlgTdExpBase::StopAcquisition()
{
    timer1_.stop();
    m_streaming.store(false);
    device::SendDemoCue(device::DemoCue::AcquisitionStopped);
}

void CDlgTdExpBase::StopWorker()
{
    timer1_.stop();
    m_streaming.store(false);
    if (!worker_.joinable())
        return;
    stopEvent_.Set();
    m_link.Cancel();
    // The worker may be waiting for the user-interface thread to show a message for it; run such
    // queued calls while waiting, or the two threads would wait for each other.
    while (!workerFinished_.load()) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        std::this_thread::sleep_for(1ms);
    }
    worker_.join();
}

void CDlgTdExpBase::CloseExperiment()
{
    done(0);
}

void CDlgTdExpBase::done(int result)
{
    StopWorker();
    QDialog::done(result);
}

void CDlgTdExpBase::InitFrame(const QString& title)
{
    setWindowIcon(QIcon(QStringLiteral(":/icon/128.png")));
    minimise_->SetBitmap(QPixmap(QStringLiteral(":/bitmap/103.png")));
    minimise_->resize(16, 16);
    close_->SetBitmap(QPixmap(QStringLiteral(":/bitmap/104.png")));
    close_->resize(16, 16);
    snapshot_->SetIcon(QIcon(QStringLiteral(":/icon/139.png")));
    back_->setText(QStringLiteral("返回"));
    setWindowTitle(title);
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        setGeometry(screen->availableGeometry());
    setWindowState(windowState() | Qt::WindowMaximized);
}

widgets::CPictureButton* CDlgTdExpBase::FrameButton(int id) const
{
    return widgets::FindControl<widgets::CPictureButton>(this, id);
}

void CDlgTdExpBase::PlaceTopRightButtons(int clientWidth)
{
    close_->move(clientWidth - close_->width() - kTopRightMargin, kTopMargin);
    minimise_->move(close_->x() - minimise_->width(), kTopMargin);
}

void CDlgTdExpBase::LayoutBottomButtonBar(const std::vector<QWidget*>& buttons)
{
    const int w = width();
    const int h = height();
    back_->move(w - kBarRightMargin - back_->width(), h - kBarBottomGap - back_->height());
    snapshot_->move(back_->x() - snapshot_->width(), h - kBarBottomGap - snapshot_->height());
    int x = kBarLeft;
    int bottom = h - kBarBottomGap;
    for (QWidget* button : buttons) {
        if (!button)
            continue;
        if (x != kBarLeft && x + button->width() > snapshot_->x()) {
            x = kBarLeft;
            bottom -= kBarBottomGap;
        }
        button->move(x, bottom - button->height());
        x += button->width();
    }
}

void CDlgTdExpBase::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    if (!banner_.isNull())
        painter.drawPixmap(0, 0, banner_);
    const QString title = windowTitle();
    if (!title.isEmpty()) {
        painter.setFont(widgets::FontForCellHeight(QStringLiteral("宋体"), kTitleCellHeight, true, false));
        painter.setPen(kTitleColour);
        painter.drawText(rect().adjusted(kBannerTitleX, kBannerTitleY, 0, 0), Qt::AlignLeft | Qt::AlignTop, title);
    }
}

void CDlgTdExpBase::resizeEvent(QResizeEvent* event)
{
    QDialog::resizeEvent(event);
    PlaceTopRightButtons(width());
}

bool CDlgTdExpBase::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) &&
            static_cast<QWidget*>(watched)->window() == this)
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace zelkor::acquisition
