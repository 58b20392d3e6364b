#pragma once

#include <QRgb>

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
};

}  // namespace dravix
