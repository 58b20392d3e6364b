#pragma once

#include <QImage>

#include <string>
#include <vector>

#include "base/Result.h"
#include "chart/LabelledChart.h"
#include "probix/MeasuredRange.h"
#include "probix/ReadTestFile.h"

namespace dravix {

class ScanChartCanvas;

// The speed axis's top for a result (and a second one laid over it).
double ReadTestAxisTop(const ReadTestResult& result, const ReadTestResult* compared = nullptr);
// The rotation axis's top for a result (and a second one laid over it).
double ReadTestRotationTop(const ReadTestResult& result, const ReadTestResult* compared = nullptr);
// A read test on a chart canvas that has its size, over the LBAs measured: the speed curve, the
// rotation on the right axis, the unread ranges in red, the layer break when it lies among them;
// a second result's curves laid over it.
void DrawReadTest(ScanChartCanvas& canvas, const ReadTestResult& result,
                  const ReadTestResult* compared = nullptr);

// What the chart's colours stand for: the speed curve (and the compared one), the unread ranges,
// the layer break of a dual-layer disc when it lies on the chart: on a chart over `axis`, or over
// what the results measured.
std::vector<LegendEntry> ReadTestLegend(const ReadTestResult& result, const ReadTestRecord* compared,
                                        LbaSpan axis);
std::vector<LegendEntry> ReadTestLegend(const ReadTestResult& result,
                                        const ReadTestRecord* compared = nullptr);

// The labelled picture: header, chart, legend. Needs a QGuiApplication.
QImage RenderReadTestPicture(const ReadTestRecord& record, const ReadTestRecord* compared = nullptr);
// Writes it in the format of the path's extension. Done, or why it could not be written.
Result<void> SaveReadTestPicture(const std::string& path, const ReadTestRecord& record,
                                 const ReadTestRecord* compared = nullptr);

}  // namespace dravix
