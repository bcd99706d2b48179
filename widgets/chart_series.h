#pragma once
// The records an experiment hands to the data chart: the chart view (axis ranges and appearance) and the
// chart series (points, drawing style, drawn window, label). Plain fields, assigned directly by the owner
// and followed by a repaint request (CDataChartPanel::Redraw); nothing is validated.

#include <QColor>
#include <QString>

#include <vector>

namespace zelkor::widgets {

struct CChartView {
    int axisLineWidth = 1;  // px, both axis lines
    double xMin = 0, yMin = 0;
    double xSpan = 1, ySpan = 1;
    double xMax = 1, yMax = 1;  // kept at min + span by whoever changes min or span
    double xScrollUnit = 0.1, yScrollUnit = 0.1;
    int bottomMargin = 50, leftMargin = 50, rightMargin = 60, topMargin = 40;
    QString xName, yName;  // drawn italic
    QString xUnit, yUnit;  // drawn upright after "/ "
    int xLabelHeight = 16, yLabelHeight = 16;  // cell height of tick labels and title
    bool xArrow = true, yArrow = true;
    double xMajorStep = 0.2, yMajorStep = 0.2;
    bool xLabels = true, yLabels = true;
    bool xTitlePicture = false, yTitlePicture = false;  // with an empty name: draw the title image
    int xTitleImage = 0, yTitleImage = 0;  // bitmap resource number (":/bitmap/<n>.png"), 0 none
    bool equalScale = false;
    bool adaptX = false;  // with equal scale: x span follows y span (else y span follows x span)
    bool xMirrored = false;
    bool yUp = true;
    bool autoXStep = true, autoYStep = true;  // recompute the major steps at every paint
    bool yMinorGrid = true, xMinorGrid = true;
    bool plotBorder = false;
    QColor xAxisColour{0, 0, 0}, yAxisColour{0, 0, 0};
    QColor plotBackground{255, 255, 239};
    QColor minorGridColour{230, 230, 230};
    QColor majorGridColour{198, 195, 198};

    bool operator==(const CChartView&) const = default;
};

// Drawing styles of a series.
inline constexpr int kStyleMarkers = 0;
inline constexpr int kStylePolyline = 1;
inline constexpr int kStylePolylineMarkers = 2;  // and any other value

struct CChartSeries {
    std::vector<double> x, y;  // index i pairs x[i] with y[i]
    bool visible = true;
    int style = kStylePolyline;
    int markerRadius = 4;  // px
    int lineWidth = 2;     // px
    Qt::PenStyle lineStyle = Qt::SolidLine;
    QColor markerColour{255, 0, 0};
    QColor lineColour{255, 0, 0};  // also the label colour
    // Drawn window: numberDrawn points from firstDrawn. The owner keeps
    // firstDrawn + numberDrawn <= size; where it appends directly it keeps numberDrawn = size.
    int firstDrawn = 0;
    int numberDrawn = 0;
    bool selectable = false;  // the first selectable series of the list is the one range picks refer to
    QString labelText;        // caption drawn with its top-left corner at (labelX, labelY), data units
    double labelX = 0, labelY = 0;

    // Empties the series (points and drawn window).
    void Clear()
    {
        x.clear();
        y.clear();
        firstDrawn = 0;
        numberDrawn = 0;
    }
    // Appends one point and draws it (numberDrawn = size): for owners that append directly.
    void Append(double px, double py)
    {
        x.push_back(px);
        y.push_back(py);
        numberDrawn = static_cast<int>(x.size()) - firstDrawn;
    }
};

}  // namespace zelkor::widgets
