// The write test's chart: the buffer level stands on the plot's own height, whatever the speed
// axis, so that a full buffer shows at the plot's top and half a buffer at its middle.

#include <gtest/gtest.h>

#include <vector>

#include "chart/ScanChartCanvas.h"
#include "chart/WriteTestChart.h"

namespace dravix {
namespace {

TEST(WriteTestChart, TheBufferLevelIsDrawnToThePlotsHeightWhateverTheSpeedAxis) {
    for (const double topX : {8.0, 48.0}) {
        SCOPED_TRACE(topX);
        ScanChartCanvas canvas;
        canvas.Create(640, 360);
        write_chart::Begin(canvas, 0, 100000, {topX, 16000});
        // Full, then half full; a fill beyond full (a drive's odd answer) stays on the plot.
        std::vector<write_chart::WriteSample> samples;
        for (int lba = 0; lba <= 100000; lba += 1000)
            samples.push_back({double(lba), 1.0, lba < 30000 ? 1.0 : lba < 70000 ? 0.5 : 1.7, 1200});
        write_chart::Plot(canvas, samples);
        const ChartLayout layout = canvas.Layout();
        const QImage plot = canvas.PlotLayer();
        auto bufferRows = [&](int lba) {
            std::vector<int> rows;
            const int x = layout.plotLeft + static_cast<int>(lba * layout.xFactor);
            for (int y = 0; y < plot.height(); ++y)
                if (plot.pixel(x, y) == write_chart::kBufferColour) rows.push_back(y);
            return rows;
        };
        const std::vector<int> full = bufferRows(15000);
        const std::vector<int> half = bufferRows(50000);
        const std::vector<int> over = bufferRows(85000);
        ASSERT_EQ(full.size(), 1u);
        ASSERT_EQ(half.size(), 1u);
        ASSERT_EQ(over.size(), 1u);
        // On the plot, and at its top: the top edge row itself is blanked by the canvas.
        EXPECT_EQ(full.front(), layout.plotTop + 1);
        EXPECT_NEAR(half.front(), (layout.plotTop + layout.plotBottom) / 2.0, 1);
        EXPECT_EQ(over.front(), full.front());
    }
}

}  // namespace
}  // namespace dravix
