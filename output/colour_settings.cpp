#include "colour_settings.h"

#include "colour_dialog.h"
#include "widgets/data_chart_panel.h"
#include "widgets/data_table.h"

namespace zelkor::output {

namespace {

widgets::CChartSeries* SeriesAt(const widgets::CDataChartPanel& chart, std::size_t index)
{
    const auto& list = chart.SeriesList();
    return index < list.size() ? list[index] : nullptr;
}

}  // namespace

ColourSettings CurrentColours(const widgets::CDataChartPanel& chart, const widgets::CDataTable& table)
{
    ColourSettings colours;
    colours.axis = chart.view.xAxisColour;
    colours.gridLine = chart.view.minorGridColour;
    colours.background = chart.view.plotBackground;
    if (const widgets::CChartSeries* s = SeriesAt(chart, 1))
        colours.trajectoryMarker = s->markerColour;
    if (const widgets::CChartSeries* s = SeriesAt(chart, 2))
        colours.componentMarker = s->markerColour;
    colours.xColumn = table.GetItemFgColour(0, 0);
    colours.yColumn = table.GetItemFgColour(0, 1);
    return colours;
}

void ApplyColours(const ColourSettings& colours, widgets::CDataChartPanel& chart, widgets::CDataTable& table)
{
    chart.view.xAxisColour = colours.axis;
    chart.view.yAxisColour = colours.axis;
    chart.view.minorGridColour = colours.gridLine;
    chart.view.majorGridColour = colours.gridLine;
    chart.panelBackground = colours.background;
    chart.view.plotBackground = colours.background;
    if (widgets::CChartSeries* s = SeriesAt(chart, 1))
        s->markerColour = colours.trajectoryMarker;
    for (std::size_t i : {std::size_t{2}, std::size_t{3}})
        if (widgets::CChartSeries* s = SeriesAt(chart, i))
            s->markerColour = colours.componentMarker;
    table.SetColumnTextColour(0, colours.xColumn);
    table.SetColumnTextColour(1, colours.yColumn);
    chart.Redraw();
    table.Refresh();
}

bool EditColours(QWidget* owner, widgets::CDataChartPanel& chart, widgets::CDataTable& table)
{
    CDlgClrSetting dialog(owner);
    dialog.colours = CurrentColours(chart, table);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    ApplyColours(dialog.colours, chart, table);
    return true;
}

}  // namespace zelkor::output
