#include "chart/ChartStyle.h"

#include "chart/ScanChartCanvas.h"

namespace dravix::chart_style {

void AddScanSeries(ScanChartCanvas& canvas) {
    canvas.AddSeries(kTeColour);
    canvas.AddSeries(kFeColour);
    canvas.AddSeries(kTeColour);
    canvas.AddSeries(kFeColour);
}

void AddCompareSeries(ScanChartCanvas& canvas) {
    canvas.AddSeries(kTeColour, true);
    canvas.AddSeries(kFeColour, true);
}

}  // namespace dravix::chart_style

namespace dravix::chart_style {

void PlotCurves(ScanChartCanvas& canvas, std::span<const CurvePoint> points, int teSeries) {
    bool first = true;
    for (const CurvePoint& p : points) {
        canvas.AppendPoint(teSeries, p.te, p.x);
        canvas.AppendPoint(teSeries + 1, p.fe, p.x);
        // The first point of a pair is not joined to wherever the series stood before.
        if (first) {
            canvas.ForgetPrevious(teSeries);
            canvas.ForgetPrevious(teSeries + 1);
        }
        first = false;
        canvas.UpdateCurves();
    }
}

}  // namespace dravix::chart_style
