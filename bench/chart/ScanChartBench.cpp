// Cost of one scan sample on the chart: two AppendPoint calls and UpdateCurves on a 700 × 400 chart,
// then the composition for the screen; and one full composition of both layers.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QPainter>

#include <cmath>

#include "chart/ScanChartCanvas.h"

namespace {

constexpr int kLastLba = 2295103;
constexpr int kStep = 16384;  // the finest scan step: 140 samples a disc

void SetUpLikeScanPage(dravix::ScanChartCanvas& chart) {
    chart.Create(700, 400);
    for (QRgb colour : {qRgb(227, 28, 187), qRgb(18, 237, 221), qRgb(227, 28, 187), qRgb(18, 237, 221)})
        chart.AddSeries(colour);
    chart.SetRange(0.0, 40.0, 0, kLastLba, 0);
    chart.DrawLimitLine(1, 18, 1);
    chart.DrawLimitLine(0, 27, 1);
}

void AddSample(dravix::ScanChartCanvas& chart, int& pos) {
    pos = pos + kStep < kLastLba ? pos + kStep : 0;
    chart.AppendPoint(2, 25.0 + 20.0 * std::sin(pos / 80000.0), pos);  // now and then above the plot
    chart.AppendPoint(3, 10.0 + 5.0 * std::cos(pos / 60000.0), pos);
    chart.UpdateCurves();
}

void BM_Sample(benchmark::State& state) {
    dravix::ScanChartCanvas chart;
    SetUpLikeScanPage(chart);
    int pos = 0;
    for (auto _ : state) AddSample(chart, pos);
}
BENCHMARK(BM_Sample);

// What a sample costs the scan worker and the UI thread together: the drawing, then the paint
// handler's composition of what changed and its copy to the window.
void BM_SampleAndPaint(benchmark::State& state) {
    dravix::ScanChartCanvas chart;
    SetUpLikeScanPage(chart);
    QImage window(700, 400, QImage::Format_RGB32);
    int pos = 0;
    for (auto _ : state) {
        AddSample(chart, pos);
        // The window repaints what the canvas reports as changed, as CScanChart asks it to.
        QPainter painter(&window);
        painter.setClipRect(chart.PendingRepaint());
        chart.Paint(painter, QPoint(0, 0));
    }
}
BENCHMARK(BM_SampleAndPaint);

// One composition of the whole client area (grid OR plot), as for a picture of the chart.
void BM_FullComposition(benchmark::State& state) {
    dravix::ScanChartCanvas chart;
    SetUpLikeScanPage(chart);
    int pos = 0;
    for (int i = 0; i < 100; ++i) AddSample(chart, pos);
    QImage target;
    for (auto _ : state) {
        chart.ComposeInto(target);
        benchmark::DoNotOptimize(target.constBits());
    }
}
BENCHMARK(BM_FullComposition);

}  // namespace

int main(int argc, char** argv) {
    // Labels need a font database, hence an application object; no screen is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
