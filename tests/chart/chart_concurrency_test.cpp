#include <gtest/gtest.h>

#include <QPainter>

#include <atomic>
#include <cmath>
#include <thread>

#include "chart/ScanChartCanvas.h"
#include "tests/chart/ChartTestSupport.h"

namespace dravix {
namespace {

using namespace dravix::test;

// The scan worker draws runs while the UI thread paints and toggles a criterion line, as the page
// does during a scan. Meant to be run under ThreadSanitizer too; without it, it checks that the
// kept composition never misses a change made while another thread was composing.
TEST(ChartConcurrency, WorkerDrawsWhileTheUiThreadPaints) {
    ScanChartCanvas chart;
    SetUpLikeScanPage(chart, 700, 400);
    std::atomic<bool> done{false};
    std::atomic<bool> painting{false};

    std::thread worker([&] {
        // The drawing starts once the UI thread paints, so that the two overlap however the
        // threads are scheduled.
        while (!painting) std::this_thread::yield();
        for (int run = 0; run < 8; ++run) {
            chart.ResetCurves();
            chart.DrawLimitLine(1, 18, 1);
            for (int pos = 0; pos < kLastLba; pos += 16384) {
                chart.AppendPoint(2, 25.0 + 20.0 * std::sin(pos / 80000.0 + run), pos);
                chart.AppendPoint(3, 15.0 + 30.0 * std::cos(pos / 60000.0), pos);
                chart.UpdateCurves();
            }
        }
        done = true;
    });

    QImage screen(700, 400, QImage::Format_RGB32);
    for (int on = 1; !done; on ^= 1) {
        chart.DrawLimitLine(0, 27, on);
        QPainter painter(&screen);
        chart.Paint(painter, QPoint(0, 0));
        EXPECT_EQ(chart.Layout().plotLeft, 24);
        painting = true;
    }
    worker.join();
    chart.DrawLimitLine(0, 27, 1);
    {
        QPainter painter(&screen);
        chart.Paint(painter, QPoint(0, 0));
    }
    EXPECT_EQ(screen, chart.Render());
    EXPECT_GT(Count(screen, screen.rect(), kFe), 600);
}

}  // namespace
}  // namespace dravix
