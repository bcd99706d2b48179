#pragma once
// CDlgClrSetting: the seven colours of an experiment's chart and table, each with a colour picker,
// plus "重置" (back to the built-in colours), "确定" and "取消".

#include "output/colour_settings.h"

#include <QDialog>
#include <QFont>

namespace zelkor::output {

class CXColorPickerXP;

class CDlgClrSetting : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTemplateId = 131;
    static constexpr int kAxisPicker = 1002;
    static constexpr int kGridLinePicker = 1003;
    static constexpr int kBackgroundPicker = 1004;
    static constexpr int kTrajectoryPicker = 1005;
    static constexpr int kComponentPicker = 1006;
    static constexpr int kXColumnPicker = 1007;
    static constexpr int kYColumnPicker = 1008;
    static constexpr int kResetButton = 242;
    static constexpr int kOkButton = 1;
    static constexpr int kCancelButton = 2;

    explicit CDlgClrSetting(QWidget* parent = nullptr);

    // The fields: assigned before the dialog runs, shown by the pickers when it opens, and taken
    // from the pickers by "确定".
    ColourSettings colours;

    CXColorPickerXP* Picker(int id) const;

    // "MS Shell Dlg", 8 point (11 pixels at 96 dpi).
    static QFont DialogFont();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void ShowFields();
    void Reset();
    void TakeFromPickers();
};

}  // namespace zelkor::output
