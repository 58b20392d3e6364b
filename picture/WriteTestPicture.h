#pragma once

#include <QImage>

#include <string>
#include <vector>

#include "base/Result.h"
#include "chart/LabelledChart.h"
#include "probix/MeasuredRange.h"
#include "probix/WriteTestFile.h"

namespace dravix {

class ScanChartCanvas;

// The write test's axes for a result (and a second one laid over it): the speed axis over the
// fastest point and the drive's fastest listed write speed, the rotation axis over the fastest
// rotation.
double WriteTestAxisTop(const WriteTestResult& result, const WriteTestResult* compared = nullptr);
double WriteTestRotationTop(const WriteTestResult& result, const WriteTestResult* compared = nullptr);

// A write test on a chart canvas that has its size, over the LBAs written: the write speed, the
// buffer level, the rotation on the right axis; a second result's curves laid over it, dashed.
void DrawWriteTest(ScanChartCanvas& canvas, const WriteTestResult& result,
                   const WriteTestResult* compared = nullptr);

// What the chart's colours stand for: the write speed, the buffer level (and how it is read: the
// plot's height is the full buffer), the rotation, and the compared run's curves.
std::vector<LegendEntry> WriteTestLegend(const WriteTestRecord* compared = nullptr);

// The labelled picture: header, chart, legend. Needs a QGuiApplication.
QImage RenderWriteTestPicture(const WriteTestRecord& record, const WriteTestRecord* compared = nullptr);
// Writes it in the format of the path's extension. Done, or why it could not be written.
Result<void> SaveWriteTestPicture(const std::string& path, const WriteTestRecord& record,
                                  const WriteTestRecord* compared = nullptr);

}  // namespace dravix
