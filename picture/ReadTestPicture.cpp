#include "picture/ReadTestPicture.h"

#include <algorithm>
#include <vector>

#include "base/SafeFile.h"
#include "chart/LabelledChart.h"
#include "chart/ReadTestChart.h"
#include "chart/ScanChartCanvas.h"
#include "picture/ResultsPicture.h"

namespace dravix {

namespace {

std::vector<read_chart::SpeedSample> SamplesOf(const ReadTestResult& result) {
    std::vector<read_chart::SpeedSample> samples;
    samples.reserve(result.points.size());
    CurveBreaks breaks(result);
    for (const SpeedPoint& p : result.points)
        samples.push_back({static_cast<double>(p.lba), p.speedX, breaks.StartsLine(p.lba), p.rpm});
    return samples;
}

double Fastest(const ReadTestResult& result) {
    double fastest = result.layout.maxReadSpeedX;
    for (const SpeedPoint& p : result.points) fastest = std::max(fastest, p.speedX);
    return fastest;
}

double FastestRotation(const ReadTestResult& result) {
    double fastest = 0;
    for (const SpeedPoint& p : result.points) fastest = std::max(fastest, p.rpm);
    return fastest;
}

}  // namespace

double ReadTestRotationTop(const ReadTestResult& result, const ReadTestResult* compared) {
    return read_chart::RotationAxisTop(
        std::max(FastestRotation(result), compared ? FastestRotation(*compared) : 0.0));
}

double ReadTestAxisTop(const ReadTestResult& result, const ReadTestResult* compared) {
    return read_chart::SpeedAxisTop(std::max(Fastest(result), compared ? Fastest(*compared) : 0.0));
}

void DrawReadTest(ScanChartCanvas& canvas, const ReadTestResult& result, const ReadTestResult* compared) {
    const LbaSpan axis = ChartAxisLbas(result, compared);
    read_chart::SetUp(canvas, axis.first, axis.last,
                      {ReadTestAxisTop(result, compared), ReadTestRotationTop(result, compared)},
                      compared != nullptr);
    if (result.layout.layerBreakLba)
        read_chart::MarkLayerBreak(
            canvas, static_cast<int>(std::min<uint32_t>(*result.layout.layerBreakLba, INT32_MAX)));
    if (compared) {
        const std::vector<read_chart::SpeedSample> samples = SamplesOf(*compared);
        read_chart::PlotRotation(canvas, read_chart::kCompareRotationCurve, samples);
        read_chart::PlotSpeed(canvas, read_chart::kCompareSpeedCurve, samples);
    }
    const std::vector<read_chart::SpeedSample> samples = SamplesOf(result);
    read_chart::PlotRotation(canvas, read_chart::kRotationCurve, samples);
    read_chart::PlotSpeed(canvas, read_chart::kSpeedCurve, samples);
    for (const FailedRange& f : result.failures) read_chart::MarkRange(canvas, f.range.first, f.range.last);
    for (const SectorRange& s : result.skipped) read_chart::MarkRange(canvas, s.first, s.last);
}

std::vector<LegendEntry> ReadTestLegend(const ReadTestResult& result, const ReadTestRecord* compared) {
    return ReadTestLegend(result, compared, ChartAxisLbas(result, compared ? &compared->result : nullptr));
}

std::vector<LegendEntry> ReadTestLegend(const ReadTestResult& result, const ReadTestRecord* compared,
                                        LbaSpan axis) {
    std::vector<LegendEntry> legend;
    legend.push_back({read_chart::kSpeedColour, QStringLiteral("Read speed (X)"), false});
    if (compared) {
        legend.push_back(
            {read_chart::kSpeedColour,
             QStringLiteral("Read speed of ") + QString::fromStdString(ReadTestShortName(*compared)), false,
             true});
    }
    legend.push_back({read_chart::kRotationColour, QStringLiteral("Rotation (RPM)"), false});
    if (compared) {
        legend.push_back(
            {read_chart::kRotationColour,
             QStringLiteral("Rotation of ") + QString::fromStdString(ReadTestShortName(*compared)), false,
             true});
    }
    legend.push_back({read_chart::kErrorColour, QStringLiteral("Unread sectors"), false});
    if (result.layout.layerBreakLba && int64_t{*result.layout.layerBreakLba} >= axis.first &&
        int64_t{*result.layout.layerBreakLba} <= axis.last)
        legend.push_back({chart_style::kMarkerColour, QStringLiteral("Layer break"), false});
    return legend;
}

QImage RenderReadTestPicture(const ReadTestRecord& record, const ReadTestRecord* compared) {
    LabelledChart picture;
    for (const std::string& line : ReadTestHeaderLines(record))
        picture.header << QString::fromStdString(line);
    if (compared) {
        picture.header << QStringLiteral("Compared with: %1 (%2)")
                              .arg(QString::fromStdString(ReadTestShortName(*compared)),
                                   QString::fromStdString(ReadTestOutcomeText(compared->result)));
    }
    picture.legend = ReadTestLegend(record.result, compared);
    ScanChartCanvas canvas;
    canvas.Create(kLabelledChartWidth, kLabelledChartHeight);
    DrawReadTest(canvas, record.result, compared ? &compared->result : nullptr);
    picture.chart = canvas.Render();
    return RenderLabelledChart(picture);
}

Result<void> SaveReadTestPicture(const std::string& path, const ReadTestRecord& record,
                                 const ReadTestRecord* compared) {
    if (const FileResult writable = CheckWritableTarget(path); !writable.Ok())
        return Error{writable.WriteMessage(path)};
    return SavePictureFile(path, RenderReadTestPicture(record, compared));
}

}  // namespace dravix
