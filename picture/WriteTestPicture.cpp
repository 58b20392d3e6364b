#include "picture/WriteTestPicture.h"

#include <algorithm>
#include <vector>

#include "chart/ScanChartCanvas.h"
#include "chart/WriteTestChart.h"

namespace dravix {

namespace {

std::vector<write_chart::WriteSample> SamplesOf(const WriteTestResult& result) {
    std::vector<write_chart::WriteSample> samples;
    samples.reserve(result.points.size());
    for (const WritePoint& p : result.points)
        samples.push_back({static_cast<double>(p.lba), p.speedX, p.bufferFill, p.rpm});
    return samples;
}

double Fastest(const WriteTestResult& result) {
    double fastest = result.speedKBps > 0 ? result.speedKBps / result.layout.KBpsAt1X() : 0.0;
    for (const WritePoint& p : result.points) fastest = std::max(fastest, p.speedX);
    return fastest;
}

double FastestRotation(const WriteTestResult& result) {
    double fastest = 0;
    for (const WritePoint& p : result.points) fastest = std::max(fastest, p.rpm);
    return fastest;
}

}  // namespace

double WriteTestAxisTop(const WriteTestResult& result, const WriteTestResult* compared) {
    return read_chart::SpeedAxisTop(std::max(Fastest(result), compared ? Fastest(*compared) : 0.0));
}

double WriteTestRotationTop(const WriteTestResult& result, const WriteTestResult* compared) {
    return read_chart::RotationAxisTop(
        std::max(FastestRotation(result), compared ? FastestRotation(*compared) : 0.0));
}

void DrawWriteTest(ScanChartCanvas& canvas, const WriteTestResult& result, const WriteTestResult* compared) {
    const LbaSpan axis = ChartAxisLbas(result, compared);
    write_chart::Begin(canvas, axis.first, axis.last,
                       {WriteTestAxisTop(result, compared), WriteTestRotationTop(result, compared)},
                       compared != nullptr);
    if (compared) write_chart::Plot(canvas, SamplesOf(*compared), true);
    write_chart::Plot(canvas, SamplesOf(result));
}

}  // namespace dravix
