#include "chart/WriteTestChart.h"

#include <algorithm>

#include "chart/ScanChartCanvas.h"

namespace dravix::write_chart {

void Begin(ScanChartCanvas& canvas, int firstLba, int lastLba, const Axes& axes, bool compare) {
    canvas.AddSeries(kSpeedColour);
    canvas.AddSeries(kBufferColour);
    canvas.AddSeries(kSpeedColour);
    canvas.AddSeries(kBufferColour);
    canvas.AddSeries(kRotationColour);
    if (compare) {
        canvas.AddSeries(kSpeedColour, true);
        canvas.AddSeries(kBufferColour, true);
        canvas.AddSeries(kRotationColour, true);
    }
    canvas.SetRightAxis(0.0, axes.topRpm > 0 ? axes.topRpm : read_chart::RotationAxisTop(0),
                        QString::fromLatin1(read_chart::kRotationAxisTitle));
    canvas.SetRange(0.0, axes.topX > 0 ? axes.topX : 1.0, firstLba, std::max(lastLba, firstLba + 1), 0);
    canvas.DrawFrame();
}

double BufferY(const ScanChartCanvas& canvas, double fill) {
    // A full buffer stands on the plot's highest row that keeps a curve: the canvas blanks a
    // segment that reaches the top edge row, and the buffer is full most of the time.
    const ChartLayout layout = canvas.Layout();
    const double top = layout.yFactor > 0 ? (layout.plotHeight - 0.5) / layout.yFactor : 0.0;
    return std::clamp(fill, 0.0, 1.0) * top;
}

namespace {

// `rotationAnew`: the rotation's line starts afresh where the ones before had no rotation.
void AppendCurves(ScanChartCanvas& canvas, const WriteSample& sample, bool anew, bool rotationAnew,
                  bool compared) {
    const read_chart::SpeedSample atSpeed{sample.lba, sample.speedX, anew, sample.rpm};
    const read_chart::SpeedSample atBuffer{sample.lba, BufferY(canvas, sample.bufferFill), anew, 0};
    read_chart::AppendRotation(canvas, compared ? kCompareRotationCurve : kRotationCurve, atSpeed,
                               rotationAnew);
    read_chart::AppendSpeed(canvas, compared ? kCompareBufferCurve : kBufferCurve, atBuffer, anew);
    read_chart::AppendSpeed(canvas, compared ? kCompareSpeedCurve : kSpeedCurve, atSpeed, anew);
}

}  // namespace

void Append(ScanChartCanvas& canvas, const WriteSample& sample, bool anew, bool compared) {
    AppendCurves(canvas, sample, anew, anew, compared);
}

void Plot(ScanChartCanvas& canvas, std::span<const WriteSample> samples, bool compared) {
    bool first = true;
    bool rotationGap = true;
    for (const WriteSample& s : samples) {
        AppendCurves(canvas, s, first, first || rotationGap, compared);
        rotationGap = !(s.rpm > 0);
        first = false;
    }
}

}  // namespace dravix::write_chart
