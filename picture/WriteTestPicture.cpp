#include "picture/WriteTestPicture.h"

#include <algorithm>
#include <vector>

#include "base/SafeFile.h"
#include "chart/ScanChartCanvas.h"
#include "chart/WriteTestChart.h"
#include "picture/ResultsPicture.h"

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

std::vector<LegendEntry> WriteTestLegend(const WriteTestRecord* compared) {
    const QString other = compared ? QString::fromStdString(WriteTestShortName(*compared)) : QString();
    std::vector<LegendEntry> legend;
    legend.push_back({write_chart::kSpeedColour, QStringLiteral("Write speed (X)"), false});
    if (compared)
        legend.push_back({write_chart::kSpeedColour, QStringLiteral("Write speed of ") + other, false, true});
    legend.push_back({write_chart::kBufferColour, QString::fromLatin1(write_chart::kBufferLegend), false});
    if (compared)
        legend.push_back(
            {write_chart::kBufferColour, QStringLiteral("Buffer level of ") + other, false, true});
    legend.push_back({write_chart::kRotationColour, QStringLiteral("Rotation (RPM)"), false});
    if (compared)
        legend.push_back({write_chart::kRotationColour, QStringLiteral("Rotation of ") + other, false, true});
    return legend;
}

QImage RenderWriteTestPicture(const WriteTestRecord& record, const WriteTestRecord* compared) {
    LabelledChart picture;
    for (const std::string& line : WriteTestHeaderLines(record))
        picture.header << QString::fromStdString(line);
    if (compared) {
        picture.header << QStringLiteral("Compared with: %1 (%2)")
                              .arg(QString::fromStdString(WriteTestShortName(*compared)),
                                   QString::fromStdString(WriteTestOutcomeText(compared->result)));
    }
    picture.legend = WriteTestLegend(compared);
    ScanChartCanvas canvas;
    canvas.Create(kLabelledChartWidth, kLabelledChartHeight);
    DrawWriteTest(canvas, record.result, compared ? &compared->result : nullptr);
    picture.chart = canvas.Render();
    return RenderLabelledChart(picture);
}

Result<void> SaveWriteTestPicture(const std::string& path, const WriteTestRecord& record,
                                  const WriteTestRecord* compared) {
    if (const FileResult writable = CheckWritableTarget(path); !writable.Ok())
        return Error{writable.WriteMessage(path)};
    return SavePictureFile(path, RenderWriteTestPicture(record, compared));
}

}  // namespace dravix
