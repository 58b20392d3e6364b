#pragma once

#include "probix/MeasuredRange.h"
#include "probix/WriteTest.h"

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

}  // namespace dravix
