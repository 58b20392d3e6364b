#pragma once

#include <QRgb>

namespace dravix {

class ScanChartCanvas;

// How the scan's curves are set up on a chart, in one place for the Probix page, the results
// window and the pictures of the command line: four series (two criterion-line colour holders,
// then the TE and FE curves), the per-cent range, and a second result's dashed curves.
namespace chart_style {

inline constexpr QRgb kTeColour = 0xFFE31CBB;  // RGB(227, 28, 187)
inline constexpr QRgb kFeColour = 0xFF12EDDD;  // RGB(18, 237, 221)
inline constexpr QRgb kMarkerColour = 0xFF606060;

inline constexpr int kTeLimitSeries = 0;  // colour holders of the criterion lines
inline constexpr int kFeLimitSeries = 1;
inline constexpr int kTeCurve = 2;
inline constexpr int kFeCurve = 3;
inline constexpr int kCompareTeCurve = 4;  // only on charts that compare two results
inline constexpr int kCompareFeCurve = 5;

inline constexpr double kYLowerPercent = 0.0;
inline constexpr double kYUpperPercent = 40.0;

// The page's four series, in order.
void AddScanSeries(ScanChartCanvas& canvas);
// The two further series of a compared result: the same colours as the first result's, dashed.
void AddCompareSeries(ScanChartCanvas& canvas);

}  // namespace chart_style

}  // namespace dravix

#include <span>

namespace dravix::chart_style {

// One position of a curve pair.
struct CurvePoint {
    double x = 0.0;
    double te = 0.0;
    double fe = 0.0;
};

// Draws a whole TE/FE curve pair into the canvas's series `teSeries` and `teSeries + 1`, from its
// first point (the pair starts afresh; other series keep what they hold).
void PlotCurves(ScanChartCanvas& canvas, std::span<const CurvePoint> points, int teSeries);

}  // namespace dravix::chart_style
