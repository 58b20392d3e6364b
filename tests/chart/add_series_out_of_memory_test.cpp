// Its own executable: it replaces the global allocation functions to make one allocation fail.
#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

#include "chart/ScanChartCanvas.h"
#include "tests/chart/ChartTestSupport.h"

namespace {
thread_local bool failNextAllocation = false;
}  // namespace

void* operator new(std::size_t size) {
    if (failNextAllocation) {
        failNextAllocation = false;
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void operator delete(void* memory) noexcept {
    std::free(memory);
}
void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}

namespace dravix {
namespace {

using namespace dravix::test;

TEST(AddSeriesOutOfMemory, ReturnsFalseAndLeavesChartAndPictureAsTheyWere) {
    ScanChartCanvas chart;
    chart.Create(300, 200);
    chart.DrawRangeMarker(0, 1000000, 1);
    const QImage before = chart.PlotLayer();
    ASSERT_GT(Count(before, before.rect(), kMarker), 100);

    failNextAllocation = true;
    EXPECT_FALSE(chart.AddSeries(kTe));
    failNextAllocation = false;
    EXPECT_EQ(chart.SeriesCount(), 0);
    EXPECT_EQ(chart.PlotLayer(), before);  // the frame was not redrawn

    EXPECT_TRUE(chart.AddSeries(kTe));
    EXPECT_EQ(chart.SeriesCount(), 1);
    EXPECT_EQ(chart.Series(0).colour, kTe);
    EXPECT_EQ(Count(chart.PlotLayer(), before.rect(), kMarker), 0);
}

}  // namespace
}  // namespace dravix
