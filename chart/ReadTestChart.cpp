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

double RotationAxisTop(double fastestRpm) {
    const double wanted = std::max(fastestRpm, 0.0) * 1.02;
    if (wanted <= 4000.0) return std::max(std::ceil(wanted / 1000.0), 1.0) * 1000.0;
    return std::ceil(wanted / 2000.0) * 2000.0;
}

void SetUp(ScanChartCanvas& canvas, int firstLba, int lastLba, const Axes& axes, bool compare) {
    canvas.AddSeries(kSpeedColour);
    canvas.AddSeries(kErrorColour);
    canvas.AddSeries(kSpeedColour);
    canvas.AddSeries(kErrorColour);
    canvas.AddSeries(kRotationColour);
    if (compare) {
        canvas.AddSeries(kSpeedColour, true);
        canvas.AddSeries(kRotationColour, true);
    }
    canvas.SetRightAxis(0.0, axes.topRpm > 0 ? axes.topRpm : RotationAxisTop(0),
                        QString::fromLatin1(kRotationAxisTitle));
    canvas.SetRange(0.0, axes.topX > 0 ? axes.topX : 1.0, firstLba, std::max(lastLba, firstLba + 1), 0);
    canvas.DrawFrame();
}

namespace {

void Append(ScanChartCanvas& canvas, int series, double y, double lba, bool anew) {
    if (anew) {
        // A line leaves out its last pixel, so a stretch whose samples all fall in one pixel
        // column (a quick pass's zone) would show nothing: its line begins a column earlier.
        // The point is put in the middle of that column: one column's width back from `lba`
        // may round into the same column or two columns back.
        const ChartLayout layout = canvas.Layout();
        double before = lba;
        if (layout.xFactor > 0) {
            const double xLower = canvas.XLower();
            const double earlier = std::floor((lba - xLower) * layout.xFactor) - 1;
            // Pixel columns truncate toward zero: left of the axis's start they run the other way.
            before = xLower + (earlier + (earlier >= 0 ? 0.5 : -0.5)) / layout.xFactor;
        }
        canvas.AppendPoint(series, y, before);
        canvas.ForgetPrevious(series);
        canvas.UpdateCurves();
    }
    canvas.AppendPoint(series, y, lba);
    canvas.UpdateCurves();
}

}  // namespace

void AppendSpeed(ScanChartCanvas& canvas, int series, const SpeedSample& sample, bool anew) {
    Append(canvas, series, sample.speedX, sample.lba, anew);
}

void AppendRotation(ScanChartCanvas& canvas, int series, const SpeedSample& sample, bool anew) {
    if (!(sample.rpm > 0)) return;
    Append(canvas, series, canvas.FromRightAxis(sample.rpm), sample.lba, anew);
}

void PlotSpeed(ScanChartCanvas& canvas, int series, std::span<const SpeedSample> samples) {
    bool first = true;
    for (const SpeedSample& s : samples) {
        AppendSpeed(canvas, series, s, first || s.startsLine);
        first = false;
    }
}

void PlotRotation(ScanChartCanvas& canvas, int series, std::span<const SpeedSample> samples) {
    bool gap = true;
    for (const SpeedSample& s : samples) {
        AppendRotation(canvas, series, s, gap || s.startsLine);
        gap = !(s.rpm > 0);
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
