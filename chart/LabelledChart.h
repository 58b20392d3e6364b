#pragma once

#include <QImage>
#include <QRgb>
#include <QString>
#include <QStringList>
#include <vector>

#include "chart/ChartStyle.h"

namespace dravix {

// A chart picture that explains itself: header lines above the chart (what was measured, how and
// with which outcome) and a legend below it. The chart inside is the scan chart as the page draws
// it (both criterion lines on); up to two curve pairs, the second dashed in the same colours.
struct LegendEntry {
    QRgb colour = 0;
    QString text;
    bool dotted = false;  // a criterion line
    bool dashed = false;  // a compared result's curve
};

struct LabelledChart {
    QStringList header;
    std::vector<LegendEntry> legend;
    int xLower = 0;  // the LBAs the chart spans
    int xUpper = 0;
    int teLimit = 0;  // the criterion lines drawn (0: none)
    int feLimit = 0;
    std::vector<chart_style::CurvePoint> curves;
    std::vector<chart_style::CurvePoint> compared;  // empty: one result only
    // A chart the caller drew (a read test's speed curve) instead of the TE/FE curves above; it
    // sets the picture's chart size.
    QImage chart;
};

inline constexpr int kLabelledChartWidth = 640;
inline constexpr int kLabelledChartHeight = 360;

// The whole picture (RGB32). Needs a QGuiApplication for its text.
QImage RenderLabelledChart(const LabelledChart& picture, int chartWidth = kLabelledChartWidth,
                           int chartHeight = kLabelledChartHeight);

}  // namespace dravix
