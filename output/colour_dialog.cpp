#include "colour_dialog.h"

#include "colour_picker.h"
#include "widgets/control_ids.h"
#include "widgets/dialog_units.h"
#include "widgets/picture_button.h"

#include <QGroupBox>
#include <QLabel>

#include <array>

namespace zelkor::output {

namespace {

const QColor kButtonFace(242, 241, 248);

struct PickerPlace {
    int id;
    const char16_t* caption;
    int captionX;
    int pickerX;
    int y;
    QColor ColourSettings::*field;
};

const std::array<PickerPlace, 7> kPlaces = {{
    {CDlgClrSetting::kAxisPicker, u"坐标轴颜色：", 12, 62, 17, &ColourSettings::axis},
    {CDlgClrSetting::kGridLinePicker, u"坐标线颜色：", 12, 62, 44, &ColourSettings::gridLine},
    {CDlgClrSetting::kBackgroundPicker, u"背景颜色：", 12, 62, 72, &ColourSettings::background},
    {CDlgClrSetting::kTrajectoryPicker, u"平抛轨迹小球颜色：", 112, 189, 17, &ColourSettings::trajectoryMarker},
    {CDlgClrSetting::kComponentPicker, u"分量轨迹小球颜色：", 112, 189, 44, &ColourSettings::componentMarker},
    {CDlgClrSetting::kXColumnPicker, u"表格X列颜色：", 12, 62, 100, &ColourSettings::xColumn},
    {CDlgClrSetting::kYColumnPicker, u"表格Y列颜色：", 113, 189, 100, &ColourSettings::yColumn},
}};

constexpr int kPickerWidth = 43;

}  // namespace

QFont CDlgClrSetting::DialogFont()
{
    QFont font(QStringLiteral("MS Shell Dlg"));
    font.setPixelSize(11);
    return font;
}

CDlgClrSetting::CDlgClrSetting(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("CDlgClrSetting"));
    setWindowTitle(QStringLiteral("颜色设置"));
    setFont(DialogFont());
    const widgets::DialogBaseUnits units = widgets::BaseUnitsFor(font());
    auto du = [&units](int x, int y, int w, int h) { return widgets::MapDialogRect(QRect(x, y, w, h), units); };
    setFixedSize(du(0, 0, 250, 161).size());

    (new QGroupBox(this))->setGeometry(du(7, 7, 236, 84));
    (new QGroupBox(this))->setGeometry(du(7, 88, 236, 33));

    for (const PickerPlace& place : kPlaces) {
        auto* picker = new CXColorPickerXP(this);
        widgets::SetControlId(picker, place.id);
        // The template's 30 units include a drop-down list; the control itself is one line high.
        const QRect box = du(place.pickerX, place.y, kPickerWidth, 30);
        picker->setGeometry(box.x(), box.y(), box.width(), picker->sizeHint().height());

        auto* caption = new QLabel(QString::fromUtf16(place.caption), this);
        const int captionRight = du(place.pickerX - 1, 0, 0, 0).x();
        const QRect at = du(place.captionX, place.y, 0, 0);
        caption->setGeometry(at.x(), at.y(), captionRight - at.x(), picker->height());
        caption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }

    struct ButtonPlace {
        int id;
        const char16_t* caption;
        int x;
    };
    for (const ButtonPlace& b : {ButtonPlace{kResetButton, u"重置", 72}, ButtonPlace{kOkButton, u"确定", 126},
                                 ButtonPlace{kCancelButton, u"取消", 179}}) {
        auto* button = new widgets::CPictureButton(this);
        button->Create(b.id, QString::fromUtf16(b.caption), du(b.x, 131, 50, 23), this);
        button->SetFaceColor(kButtonFace);
        if (b.id == kOkButton)
            button->setDefault(true);
        connect(button, &QPushButton::clicked, this, [this, id = b.id] {
            if (id == kResetButton) {
                Reset();
            } else if (id == kOkButton) {
                TakeFromPickers();
                accept();
            } else {
                reject();
            }
        });
    }
}

CXColorPickerXP* CDlgClrSetting::Picker(int id) const
{
    return widgets::FindControl<CXColorPickerXP>(this, id);
}

void CDlgClrSetting::showEvent(QShowEvent* event)
{
    ShowFields();
    QDialog::showEvent(event);
}

void CDlgClrSetting::ShowFields()
{
    for (const PickerPlace& place : kPlaces)
        if (CXColorPickerXP* picker = Picker(place.id))
            picker->SetColor(colours.*place.field);
}

void CDlgClrSetting::Reset()
{
    const ColourSettings defaults;
    for (const PickerPlace& place : kPlaces)
        if (CXColorPickerXP* picker = Picker(place.id))
            picker->SetColor(defaults.*place.field);
}

void CDlgClrSetting::TakeFromPickers()
{
    for (const PickerPlace& place : kPlaces)
        if (const CXColorPickerXP* picker = Picker(place.id))
            colours.*place.field = picker->GetColor();
}

}  // namespace zelkor::output
