#pragma once
// CRecordingExperiment: what the experiments that record a trajectory into a table share (free fall,
// projectile motion, the Galileo incline, and in part the composition of motions).
//
// - start-up (with or without the drop-height check), the reset, start, stop and clear of a recording;
// - the position pipeline: zero point, offset position, optional rotation, shown position;
// - the record list, the table and the trajectory series (series 1), kept row for row: record i is table
//   row i + 1 and point i of series 1, whatever the chart's view shows;
// - the four standard series (live marker, trajectory, horizontal and vertical components); a window may
//   add its own after them, and "every series" below means all of them;
// - the buttons from the window's table, the button column with its wrapping and group frames, the
//   frame buttons, and the label rows: "X:"/"Y:" captions and value boxes, the drop-height box with its
//   edit field, the sampling-frequency caption and radios, the colour button, in their large and small
//   variants (built from the shared blocks of widgets/window_blocks.h);
// - delete selected rows, component toggles, import, export and colour settings.
//
// A concrete experiment gives its set-up, its button table and column, its chart view, its own series,
// its recording rule, its calibration and its calculations. Everything runs on the user-interface thread.

#include "acquisition/exp_base.h"
#include "number_texts.h"
#include "output/spreadsheet_io.h"
#include "widgets/chart_series.h"
#include "widgets/data_table.h"
#include "widgets/window_blocks.h"

#include <QColor>
#include <QFont>
#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace zelkor::widgets {
class CDataChartPanel;
class CZelRadioButton;
}  // namespace zelkor::widgets

namespace zelkor::experiments {

using acquisition::CWindowKey;
using acquisition::MakeExperimentWindow;
using widgets::Initially;
using widgets::kFaceColours;
using widgets::kFaceFile;
using widgets::kFaceSetting;
using widgets::kFaceStart;
using widgets::kFaceStop;

// Control ids the recording experiments share.
using acquisition::kIdRadio25Hz;
using acquisition::kIdRadio50Hz;
inline constexpr int kIdClear = 242;
inline constexpr int kIdZero = 243;
inline constexpr int kIdStartRecording = 244;
inline constexpr int kIdCalibrate = 245;
inline constexpr int kIdComponentX = 246;
inline constexpr int kIdComponentY = 247;
inline constexpr int kIdParabola = 248;
inline constexpr int kIdAcceleration = 249;
inline constexpr int kIdDeleteRows = 250;
inline constexpr int kIdExport = 251;
inline constexpr int kIdImport = 252;
inline constexpr int kIdColours = 254;
inline constexpr int kIdFrequencyBox = 5001;
inline constexpr int kIdXCaption = 5002;
inline constexpr int kIdXValue = 5003;
inline constexpr int kIdYCaption = 5004;
inline constexpr int kIdYValue = 5005;
inline constexpr int kIdRateCaption = 5006;
inline constexpr int kIdHeightBox = 5007;
inline constexpr int kIdHeightEdit = 5008;
inline constexpr int kIdChart = 20101;
inline constexpr int kIdTable = 20102;

inline constexpr double kRestTolerance = -0.005;  // recorded while below this much above the zero point
inline constexpr const char* kFitFailed = "曲线拟合失败！";
inline constexpr const char* kCalibrationTooShort = "校准距离不足！";

// Zero point and rotation: turns a solved sample position into the position the experiment shows.
struct PositionFrame {
    double x0 = 0.0, y0 = 0.0;  // zero point
    double theta = 0.0;         // radians
    bool rotationOn = false;
    int rotationSign = 1;       // +1 rotates by +theta, -1 by -theta

    struct Shown {
        double xOffset = 0.0, yOffset = 0.0;  // sample minus zero point
        double x = 0.0, y = 0.0;              // after the rotation
    };
    Shown Apply(double sampleX, double sampleY) const;
};

class CRecordingExperiment : public acquisition::CDlgTdExpBase {
    Q_OBJECT
public:
    struct Record {
        double x = 0.0, y = 0.0, t = 0.0;
    };

    struct Setup {
        int experimentIndex = 0;
        QString title;
        int transformIndex = 1;
        QFont captionFont;         // of the experiment buttons
        int rotationSign = 1;      // the calibration turns by +theta (vertical) or -theta (horizontal)
        bool dropHeight = true;    // the drop-height field, its start-up check and the frequency radios
        bool plotBorder = false;
        bool groupFrames = false;  // empty frames around the button column's groups
        QString exportFolder;      // "freelyfall", "acous", "galileo"
        int tableRows = 101;       // header row included
        int columnWidth = 96;
        bool centreHeaders = true;
        int importColumns = 3;     // x, y[, t]
        QStringList exportHeaders = {QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("t")};
    };

    // A button of the window's table. The frame's 232, 233, 241 and 231 exist already and are restyled.
    struct ButtonSpec {
        int id;
        const char* caption;  // empty: no caption (or the frame's own)
        QColor face;
        Initially state = Initially::Enabled;
    };

    // A place in the button column: a button, or two half-width ones side by side; a new group starts
    // further down (and gets a group frame where the window has them).
    struct ColumnSlot {
        int id;
        int pairedId = 0;
        bool newGroup = false;
    };

    // The buttons of a recording window, in their column's order: zero setting, calibration (with its
    // caption), start and stop, the two component toggles, the window's own analysis buttons, clear,
    // import, export; then the colour button and the frame's buttons. The column places them.
    static std::vector<ButtonSpec> RecordingButtons(const char* calibration, const std::vector<ButtonSpec>& analysis);
    static std::vector<ColumnSlot> RecordingColumn(const std::vector<ButtonSpec>& analysis);

    ~CRecordingExperiment() override;

    // Observation (tests, snapshots of state).
    const std::vector<Record>& Records() const { return records_; }
    unsigned NextTableRow() const { return nextTableRow_; }
    double ShownX() const { return shown_.x; }
    double ShownY() const { return shown_.y; }
    bool Recording() const { return recording_; }
    bool StartedUp() const { return startedUp_; }
    double DropHeight() const { return dropHeight_; }
    float TimeStep() const { return timeStep_; }
    double RunningTime() const { return time_; }
    const PositionFrame& Frame() const { return frame_; }
    const widgets::CChartSeries& Series(int index) const;
    widgets::CDataChartPanel* Chart() const { return chart_; }
    widgets::CDataTable* Table() const { return table_; }
    int TableCapacity() const;

    void RefreshView() override;

protected:
    // Creates the frame, the buttons of `buttons`, table, chart, label boxes and (with a drop height) the
    // height field and the frequency radios, and binds the shared operations to their buttons. The
    // window adds its own series and controls, then sets its chart view.
    CRecordingExperiment(CWindowKey key, const Setup& setup, const std::vector<ButtonSpec>& buttons,
                         QWidget* parent, std::shared_ptr<device::UsbPlatform> platform);

    // --- what each window gives ---------------------------------------------------------------------
    // The recording rule and the live marker, for each accepted sample (the shown position is set).
    virtual void OnSample() = 0;
    // Sets the chart view for the current state (the drop height, the window's view flags).
    virtual void SetChartView() = 0;
    virtual void Calibrate() = 0;
    virtual void LayoutWindow() = 0;
    // The buttons that need records; those clear disables (the same unless the window says otherwise).
    virtual std::vector<int> DataButtons() const = 0;
    virtual std::vector<int> ClearedButtons() const { return DataButtons(); }
    virtual bool AcceptsImportedRow(const Record& record) const = 0;
    // The series derived from the records that deletion and import hide first.
    virtual void HideOnDelete();
    virtual void HideOnImport();
    // After deleted rows, when records remain (the projectile rebuilds its times).
    virtual void AfterRowsDeleted(const widgets::RowDeletion&) {}
    // The window's own state at the start-up reset and at clear.
    virtual void OnReset() {}
    virtual void OnClear() {}

    // --- start-up and the recording -----------------------------------------------------------------
    void StartUp();
    void Reset();
    void StartRecording();
    void StopRecording();
    void Clear();
    // Records the shown position at the running time (series 1, record list, table) and steps the time.
    void RecordShownPosition();
    // The live marker follows the shown position.
    void MoveMarker();
    void ZeroSetting();
    // Adds a calibration angle; one that is no number (a calibration point at the zero point) is ignored.
    void AddCalibrationAngle(double angle);

    // --- chart -----------------------------------------------------------------------------------
    // Hands the series list to the chart and repaints it.
    void RefreshChart();
    // A view with the panel's defaults, keeping the colours that creation and the colour settings gave.
    widgets::CChartView FreshView() const;
    // Trajectory axes "X / m" and "Y / m" from these minima, label heights 25, no arrows, major steps 0.2
    // fixed, equal scale, Y growing downwards.
    widgets::CChartView PositionView(double xMin, double xSpan, double yMin, double ySpan, bool adaptX) const;
    static void Empty(widgets::CChartSeries& s, bool hide = true);
    widgets::CChartSeries marker_;      // 0: live position
    widgets::CChartSeries trajectory_;  // 1: recorded points
    widgets::CChartSeries horizontal_;  // 2: x of each record at y = kComponentOffset
    widgets::CChartSeries vertical_;    // 3: y of each record at x = kComponentOffset
    std::vector<widgets::CChartSeries*> seriesList_;
    static constexpr double kComponentOffset = -0.04;

    PositionFrame frame_;
    PositionFrame::Shown shown_;
    double limit_ = 2.0;  // samples at or beyond it on either axis are dropped
    float timeStep_ = 0.02f;
    double time_ = 0.0;
    bool recording_ = false;
    double dropHeight_ = 0.8;

    std::vector<Record> records_;
    unsigned nextTableRow_ = 1;
    widgets::CDataChartPanel* chart_ = nullptr;
    widgets::CDataTable* table_ = nullptr;

    // --- layout ------------------------------------------------------------------------------------
    // The button column from `top` at x = w - 132: 37 apart, 56 before a new group, wrapping to y = 50
    // one column (100) further left where a button would reach below h - 72; then the group frames.
    void LayoutButtonColumn(const std::vector<ColumnSlot>& column, int top);
    // 241 and 231 above each other at the bottom right, 228 and 227 in the top right corner.
    void PlaceFrameButtons();
    // Projectile and incline: the table down the left side, the chart between it and the column, the
    // label rows below the chart from the table's right edge.
    void LayoutSideTableWindow(const std::vector<ColumnSlot>& column);
    // The two label rows from x0 (the upper one is one text height above the lower one). By default the
    // coordinate row with the rate box 5001, and the drop-height row.
    virtual void LayoutLabelRows(int x0, int upperTop, int lowerTop);
    int ScrollBarWidth() const;
    bool LargeLabels() const { return widgets::LargeLabels(height()); }
    // The label rows are measured in 宋体, 24 px in the large variant and 20 px in the small one.
    widgets::CLabelMetrics LabelMetrics() const;
    int LabelTextHeight() const { return LabelMetrics().TextHeight(); }
    int LabelFontSize() const { return LargeLabels() ? 24 : 20; }
    QString LatinFont() const;  // the value boxes' font command
    // The "X:"/"Y:" row: captions and value boxes (5002 to 5005) from x0; returns the right end.
    int LayoutCoordinateRow(int x0, int top);
    // The colour button 254 at the start of the lower row.
    void PlaceColourButton(int x0, int top);
    // Rebuilds the label boxes' markup from the current values (every layout pass).
    virtual void RebuildLabelTexts();
    QString RateCaptionMarkup() const;

    widgets::CZelFormattedTextBox* xCaption_ = nullptr;
    widgets::CZelFormattedTextBox* xValue_ = nullptr;
    widgets::CZelFormattedTextBox* yCaption_ = nullptr;
    widgets::CZelFormattedTextBox* yValue_ = nullptr;
    widgets::CZelFormattedTextBox* rateBox_ = nullptr;     // 5001
    widgets::CZelFormattedTextBox* rateCaption_ = nullptr; // 5006
    widgets::CZelFormattedTextBox* heightBox_ = nullptr;   // 5007
    widgets::CEasyEdit* heightEdit_ = nullptr;             // 5008
    widgets::CZelRadioButton* radio25_ = nullptr;
    widgets::CZelRadioButton* radio50_ = nullptr;

    bool event(QEvent* e) override;
    void paintEvent(QPaintEvent* e) override;
    void showEvent(QShowEvent* e) override;
    void resizeEvent(QResizeEvent* e) override;

private:
    bool TakeSample(const _DataPck& sample);
    void ApplyStoppedButtons();
    void AppendRecord(const Record& record);
    void ClearRecords();
    void DeleteSelectedRows();
    void ToggleComponent(widgets::CChartSeries& series, bool horizontalComponent);
    void ImportRecords();
    void ExportRecords();
    void EditColours();
    void CreateDropHeightControls();
    double ReadDropHeightField() const;
    void DropHeightChanged();
    void LayoutDropHeightRow(int x0, int top);
    QString HeightMarkup() const;
    QString RateMarkup() const;
    void ShowValuesPlain();

    Setup setup_;
    std::vector<widgets::CGroupFrame*> groupFrames_;
    bool startUpQueued_ = false;
    bool startedUp_ = false;
};

}  // namespace zelkor::experiments
