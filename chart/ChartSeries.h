#pragma once

#include <QRgb>

#include <cstdint>

namespace dravix {

// One curve of the chart. Only the newest two points are kept: the drawn layer is the curve's only
// record, so a run of any length uses the same memory.
struct ChartSeries {
    QRgb colour = 0;
    double y = 0.0;      // current point
    double prevX = 0.0;  // previous point
    double x = 0.0;
    double prevY = 0.0;
    int hasPrevious = 0;  // 1 once the current point has been drawn, so the next one joins it
    bool dashed = false;  // a compared result's curve: dashed, its gaps showing what lies beneath
    // Where the dash pattern stands at the previous and at the current point; drawing the newest
    // segment again (an update without a new point) paints the same pixels.
    int64_t prevDashPhase = 0;
    int64_t dashPhase = 0;
};

}  // namespace dravix
