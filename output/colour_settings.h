#pragma once
// The colour settings of the projectile, free-fall and Galileo windows: seven colours for the chart
// and the table, chosen in a small dialog and applied to the experiment's chart and table.

#include <QColor>

class QWidget;

namespace zelkor::widgets {
class CDataChartPanel;
class CDataTable;
}  // namespace zelkor::widgets

namespace zelkor::output {

struct ColourSettings {
    QColor axis{0, 0, 0};
    QColor gridLine{160, 160, 160};
    QColor background{255, 251, 240};
    QColor trajectoryMarker{255, 0, 0};  // series 1
    QColor componentMarker{0, 0, 255};   // series 2 and 3
    QColor xColumn{0, 0, 0};             // table column 0
    QColor yColumn{0, 0, 0};             // table column 1
};

// The colours a chart and table show now (the dialog opens with them).
ColourSettings CurrentColours(const widgets::CDataChartPanel& chart, const widgets::CDataTable& table);
// Applies the colours to the chart (axes, both grids, panel and plot background, markers of series
// 1, 2 and 3 of its list) and the table (text of columns 0 and 1, header included), and repaints.
void ApplyColours(const ColourSettings& colours, widgets::CDataChartPanel& chart, widgets::CDataTable& table);

// Button 254 "颜色设置": opens the dialog with the current colours; on OK applies them. True on OK.
bool EditColours(QWidget* owner, widgets::CDataChartPanel& chart, widgets::CDataTable& table);

}  // namespace zelkor::output
