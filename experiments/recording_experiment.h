#pragma once
// CRecordingExperiment: what the experiments that record a trajectory into a table share (free fall,
// projectile motion, the Galileo incline, and in part the composition of motions).
//
// - the position pipeline: zero point, offset position, optional rotation, shown position;
// - the record list, the table and the trajectory series (series 1), kept row for row: record i is table
//   row i + 1 and point i of series 1, whatever the chart's view shows;
// - the four standard series (live marker, trajectory, horizontal and vertical components);
// - the label rows: "X:"/"Y:" captions and value boxes, the drop-height box with its edit field, the
//   sampling-frequency caption and radios, the colour button, in their large and small variants
//   (built from the shared blocks of widgets/window_blocks.h);
// - delete selected rows, component toggles, import, export and colour settings.
//
// A concrete experiment adds its chart view, its own series, its buttons' order and layout, its
// recording rule and its calculations. Everything runs on the user-interface thread.

#include "acquisition/exp_base.h"
#include "number_texts.h"
#include "output/spreadsheet_io.h"
#include "widgets/chart_series.h"
#include "widgets/data_table.h"
#include "widgets/window_blocks.h"

#include <QColor>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

namespace zelkor::widgets {
class CDataChartPanel;
class CZelRadioButton;
}  // namespace zelkor::widgets

namespace zelkor::experiments {

using acquisition::CWindowKey;
using acquisition::MakeExperimentWindow;
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
        int transformIndex = 1;
        QString exportFolder;      // "freelyfall", "acous", "galileo"
        int tableRows = 101;       // header row included
        int columnWidth = 96;
        int importColumns = 3;     // x, y[, t]
        QStringList exportHeaders = {QStringLiteral("X"), QStringLiteral("Y"), QStringLiteral("t")};
    };

    ~CRecordingExperiment() override;

    // Observation (tests, snapshots of state).
    const std::vector<Record>& Records() const { return records_; }
    unsigned NextTableRow() const { return nextTableRow_; }
    double ShownX() const { return shown_.x; }
    double ShownY() const { return shown_.y; }
    bool Recording() const { return recording_; }
    const PositionFrame& Frame() const { return frame_; }
    const widgets::CChartSeries& Series(int index) const;
    widgets::CDataChartPanel* Chart() const { return chart_; }
    widgets::CDataTable* Table() const { return table_; }
    int TableCapacity() const;

protected:
    CRecordingExperiment(CWindowKey key, const Setup& setup, QWidget* parent,
                         std::shared_ptr<device::UsbPlatform> platform);

    // --- chart -----------------------------------------------------------------------------------
    // The chart with its fixed settings, and the four standard series (all hidden and empty).
    void CreateChart(bool plotBorder);
    // Hands the series list to the chart and repaints it.
    void RefreshChart();
    widgets::CChartSeries marker_;      // 0: live position
    widgets::CChartSeries trajectory_;  // 1: recorded points
    widgets::CChartSeries horizontal_;  // 2: x of each record at y = componentOffset
    widgets::CChartSeries vertical_;    // 3: y of each record at x = componentOffset
    std::vector<widgets::CChartSeries*> seriesList_;
    static constexpr double kComponentOffset = -0.04;
    static void Empty(widgets::CChartSeries& s, bool hide = true);

    // --- position --------------------------------------------------------------------------------
    // Runs the shared part of the per-sample processing: time step from the sample, zero point,
    // rotation, the range limits. Returns false for a sample outside them, which leaves the shown
    // position as it was. An accepted sample becomes the shown position and its value boxes are set.
    bool TakeSample(const _DataPck& sample);
    // Drains the sample queue, calling OnSample for each sample, then refreshes the chart once.
    void DrainSamples();
    virtual void OnSample() = 0;
    // The live marker follows the shown position.
    void MoveMarker();
    void ZeroSetting();

    PositionFrame frame_;
    PositionFrame::Shown shown_;
    double limit_ = 2.0;  // samples at or beyond it on either axis are dropped
    float timeStep_ = 0.02f;
    double time_ = 0.0;
    bool recording_ = false;

    // --- records ---------------------------------------------------------------------------------
    // Appends a record to the list, series 1 (by incremental append; a point the view cannot show is
    // kept all the same) and the next table row.
    void AppendRecord(const Record& record);
    // Empties the record list and the table.
    void ClearRecords();
    // Delete selected rows (250 and the context menu).
    void DeleteSelectedRows();
    // Component toggles (246, 247).
    void ToggleComponent(widgets::CChartSeries& series, bool horizontalComponent);
    // Import (252), export (251), colour settings (254).
    void ImportRecords();
    void ExportRecords();
    void EditColours();

    // Per experiment: the buttons that need records, an imported row's acceptance, the series derived
    // from the records (hidden when rows are deleted or a file is imported).
    virtual std::vector<int> DataButtons() const = 0;
    virtual bool AcceptsImportedRow(const Record& record) const = 0;
    virtual void HideDerivedSeries();
    // After deleted rows, when records remain (the projectile rebuilds its times).
    virtual void AfterRowsDeleted(const widgets::RowDeletion&) {}

    std::vector<Record> records_;
    unsigned nextTableRow_ = 1;
    widgets::CDataChartPanel* chart_ = nullptr;
    widgets::CDataTable* table_ = nullptr;

    // --- label rows ------------------------------------------------------------------------------
    bool LargeLabels() const { return widgets::LargeLabels(height()); }
    // The label rows are measured in 宋体, 24 px in the large variant and 20 px in the small one.
    widgets::CLabelMetrics LabelMetrics() const;
    int LabelTextHeight() const { return LabelMetrics().TextHeight(); }
    QString LatinFont() const;  // the value boxes' font command
    QString HeightMarkup() const;
    QString RateMarkup() const;
    int RateBoxWidth() const;
    // The "X:"/"Y:" row: captions and value boxes (5002 to 5005) from x0; returns the right end.
    int LayoutCoordinateRow(int x0, int top);
    // The lower row of the drop-height experiments: 254, the height box 5007 with its edit 5008, the
    // rate caption 5006 and the radios 229, 230.
    void LayoutDropHeightRow(int x0, int top);
    // Rebuilds the label boxes' markup from the current values (every layout pass).
    virtual void RebuildLabelTexts();
    void ShowValuesPlain();
    // The drop-height controls and the frequency radios (free fall and projectile motion).
    void CreateDropHeightControls();
    double ReadDropHeightField() const;
    virtual void DropHeightChanged() {}

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

private:
    Setup setup_;
};

}  // namespace zelkor::experiments
