#include "chart/ReadTestChart.h"

#include <algorithm>
#include <cmath>

#include "chart/ScanChartCanvas.h"

namespace dravix::read_chart {

double SpeedAxisTop(double fastestX) {
    // Quarter lines on whole speeds; a curve never touches the top.
    for (const double top : {4.0, 8.0, 12.0, 16.0, 20.0, 24.0, 32.0, 40.0, 48.0, 56.0, 64.0}) {
        if (fastestX * 1.02 <= top) return top;
    }
    return std::ceil(fastestX * 1.02 / 16.0) * 16.0;
}

void SetUp(ScanChartCanvas& canvas, int firstLba, int lastLba, double topX, bool compare) {
    canvas.AddSeries(kSpeedColour);
    canvas.AddSeries(kErrorColour);
    canvas.AddSeries(kSpeedColour);
    canvas.AddSeries(kErrorColour);
    if (compare) canvas.AddSeries(kSpeedColour, true);
    canvas.SetRange(0.0, topX > 0 ? topX : 1.0, firstLba, std::max(lastLba, firstLba + 1), 0);
    canvas.DrawFrame();
}

void AppendSpeed(ScanChartCanvas& canvas, int series, const SpeedSample& sample, bool anew) {
    if (anew) {
        // A line leaves out its last pixel, so a stretch whose samples all fall in one pixel
        // column (a quick pass's zone) would show nothing: its line begins a column earlier.
        const ChartLayout layout = canvas.Layout();
        const double column = layout.xFactor > 0 ? 1.0 / layout.xFactor : 0.0;
        canvas.AppendPoint(series, sample.speedX, sample.lba - column);
        canvas.ForgetPrevious(series);
        canvas.UpdateCurves();
    }
    canvas.AppendPoint(series, sample.speedX, sample.lba);
    canvas.UpdateCurves();
}

void PlotSpeed(ScanChartCanvas& canvas, int series, std::span<const SpeedSample> samples) {
    bool first = true;
    for (const SpeedSample& s : samples) {
        AppendSpeed(canvas, series, s, first || s.startsLine);
        first = false;
    }
}

void MarkRange(ScanChartCanvas& canvas, double first, double last) {
    const ChartLayout layout = canvas.Layout();
    // One vertical line per pixel column the range covers.
    const double perColumn = layout.xFactor > 0 ? 1.0 / layout.xFactor : std::max(last - first, 1.0);
    const double top = layout.yFactor > 0 ? layout.plotHeight / layout.yFactor : 0.0;
    for (double x = first;; x += perColumn) {
        const double at = std::min(x, last);
        canvas.ForgetPrevious(kErrorMarks);
        canvas.AppendPoint(kErrorMarks, 0.0, at);
        canvas.UpdateCurves();
        canvas.AppendPoint(kErrorMarks, top, at);
        canvas.UpdateCurves();
        if (at >= last) break;
    }
}

void MarkLayerBreak(ScanChartCanvas& canvas, int lba) {
    // Outside the range the line would stand in the margin, or beyond the chart.
    if (lba < canvas.XLower() || lba > canvas.XUpper()) return;
    canvas.DrawRangeMarker(0, lba, 1);
}

}  // namespace dravix::read_chart
