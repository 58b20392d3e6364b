// The read test's chart: a quick run's curve has a line per zone and nothing across the sectors
// between, which were never read.

#include <gtest/gtest.h>

#include <QImage>

#include "chart/ReadTestChart.h"
#include "chart/ScanChartCanvas.h"
#include "probix/ReadTest.h"
#include "scan/ReadTestPicture.h"

namespace dravix {
namespace {

TEST(ReadTestPicture, AQuickRunsCurveLeavesTheUnreadGapsEmpty) {
    ReadTestResult result;
    result.end = ReadTestEnd::Finished;
    result.quick = true;
    result.layout.dvd = true;
    result.layout.lastLba = 2295103;
    result.layout.tracks = {LayoutTrack{1, 1, 0, 2295103, true}};
    result.range = {0, 2295103};
    const std::vector<SectorRange> zones = ReadStretches(result.layout, result.range, true);
    ASSERT_EQ(zones.size(), kQuickZones);
    for (const SectorRange& zone : zones) {
        for (uint32_t lba = zone.first; lba <= zone.last; lba += 512) result.points.push_back({lba, 8.0});
    }

    ScanChartCanvas canvas;
    canvas.Create(800, 400);
    DrawReadTest(canvas, result);
    const ChartLayout layout = canvas.Layout();
    const QImage plot = canvas.PlotLayer();
    auto column = [&](double lba) { return layout.plotLeft + static_cast<int>(lba * layout.xFactor); };
    auto curveAt = [&](int x) {
        for (int y = layout.plotTop; y < layout.plotBottom; ++y) {
            if (plot.pixel(x, y) == read_chart::kSpeedColour) return true;
        }
        return false;
    };
    for (size_t z = 0; z + 1 < zones.size(); ++z) {
        SCOPED_TRACE(z);
        // Each zone shows, though it is narrower than a pixel column; nothing between two zones.
        EXPECT_TRUE(curveAt(column(zones[z].first) - 1));
        EXPECT_FALSE(curveAt(column((zones[z].last + zones[z + 1].first) / 2.0)));
    }
}

}  // namespace
}  // namespace dravix
