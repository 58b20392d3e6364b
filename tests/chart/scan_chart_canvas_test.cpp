#include <gtest/gtest.h>

#include <QPainter>

#include <cmath>
#include <limits>

#include "chart/LabelledChart.h"
#include "chart/ScanChartCanvas.h"
#include "tests/chart/ChartTestSupport.h"

namespace dravix {
namespace {

using namespace dravix::test;

class ScanChartCanvasTest : public ::testing::Test {
  protected:
    static constexpr int kWidth = 700;
    static constexpr int kHeight = 400;
    // Expected mapping, written out from the layout numbers rather than taken from the chart.
    static constexpr int kLeft = 24, kTop = 10, kRight = kWidth - 10, kBottom = kHeight - 25;
    static int Px(double x) { return kLeft + static_cast<int>(x * (kRight - kLeft) / kLastLba); }
    static int Py(double v) { return kBottom - static_cast<int>(v * (kBottom - kTop) / 40.0); }

    void SetUp() override { SetUpLikeScanPage(chart, kWidth, kHeight); }

    void Sample(double te, double fe, double x) {
        chart.AppendPoint(2, te, x);
        chart.AppendPoint(3, fe, x);
        chart.UpdateCurves();
    }

    ScanChartCanvas chart;
};

TEST_F(ScanChartCanvasTest, LayoutFrameAndGridOfTheScanRange) {
    for (const QSize size : {QSize(kWidth, kHeight), QSize(523, 311)}) {
        ScanChartCanvas other;
        SetUpLikeScanPage(other, size.width(), size.height());
        const ChartLayout layout = other.Layout();
        EXPECT_EQ(layout.plotLeft, 24);
        EXPECT_EQ(layout.plotTop, 10);
        EXPECT_EQ(layout.plotRight, size.width() - 10);
        EXPECT_EQ(layout.plotBottom, size.height() - 25);
        EXPECT_EQ(other.GridLayer().size(), size);
    }

    const QImage grid = chart.GridLayer();
    // Closed frame from (plotLeft, plotTop) to (plotRight + 1, plotBottom + 1), corners included.
    EXPECT_EQ(Count(grid, QRect(QPoint(kLeft, kTop), QPoint(kRight + 1, kTop)), kWhite), kRight + 2 - kLeft);
    EXPECT_EQ(Count(grid, QRect(QPoint(kLeft, kBottom + 1), QPoint(kRight + 1, kBottom + 1)), kWhite),
              kRight + 2 - kLeft);
    EXPECT_EQ(Count(grid, QRect(QPoint(kLeft, kTop), QPoint(kLeft, kBottom + 1)), kWhite),
              kBottom + 2 - kTop);
    EXPECT_EQ(Count(grid, QRect(QPoint(kRight + 1, kTop), QPoint(kRight + 1, kBottom + 1)), kWhite),
              kBottom + 2 - kTop);
    EXPECT_EQ(At(grid, kRight + 2, kTop), kBlack);
    EXPECT_EQ(At(grid, kLeft - 1, kBottom + 1), kBlack);

    // Three dotted rows, a dot every 4 pixels from plotLeft up to plotRight; no vertical grid lines.
    const int mid = (kTop + kBottom) / 2, quarter = (kBottom - kTop) / 4;
    for (const int row : {mid - quarter, mid, mid + quarter}) {
        for (int x = kLeft + 1; x < kRight; ++x)
            EXPECT_EQ(At(grid, x, row), (x - kLeft) % 4 == 0 ? kWhite : kBlack);
        EXPECT_EQ(At(grid, kLeft + 4, row + 1), kBlack);
    }
    EXPECT_EQ(CountNonBlack(chart.PlotLayer(), chart.PlotLayer().rect()), 0);
}

TEST_F(ScanChartCanvasTest, LabelsTextOrderAndAlignment) {
    const std::vector<ChartLabel> labels = chart.Labels();
    const QStringList expected = {"40",     "30",     "20",      "10",      "0",      "0",
                                  "459020", "918040", "1377060", "1836080", "2295103"};
    ASSERT_EQ(labels.size(), static_cast<size_t>(expected.size()));
    const QImage grid = chart.GridLayer();
    const int mid = (kTop + kBottom) / 2, quarter = (kBottom - kTop) / 4;
    const int yAnchors[] = {kTop, mid - quarter, mid, mid + quarter, kBottom};
    const int pitch = (kRight - kLeft) / 5;
    const int xAnchors[] = {kLeft, kLeft + pitch, kLeft + 2 * pitch, kLeft + 3 * pitch, kLeft + 4 * pitch,
                            kRight};
    for (size_t i = 0; i < labels.size(); ++i) {
        SCOPED_TRACE(expected[static_cast<int>(i)].toStdString());
        EXPECT_EQ(labels[i].text, expected[static_cast<int>(i)]);
        // Where the glyphs really landed, measured on the layer.
        const QRect ink = InkBounds(grid, labels[i].cell.adjusted(-3, 0, 3, 3));
        ASSERT_FALSE(ink.isEmpty());
        if (i < 5) {  // Y labels: right-aligned 4 pixels left of the plot
            EXPECT_LE(ink.right(), kLeft - 5);
            EXPECT_GE(ink.right(), kLeft - 8);
            if (i == 0) {  // top-aligned at plotTop
                EXPECT_GE(ink.top(), kTop);
                EXPECT_LE(ink.top(), kTop + 4);
            } else {  // standing on the baseline
                EXPECT_NEAR(ink.bottom(), yAnchors[i] - 1, 1);
            }
        } else {  // X labels: top-aligned 4 pixels below the plot
            EXPECT_GE(ink.top(), kBottom + 4);
            EXPECT_LE(ink.top(), kBottom + 8);
            const int anchor = xAnchors[i - 5];
            if (i == 5) {
                EXPECT_NEAR(ink.left(), anchor, 2);
            } else if (i + 1 == labels.size()) {
                EXPECT_NEAR(ink.right(), anchor - 1, 2);
            } else {
                EXPECT_NEAR((ink.left() + ink.right()) / 2.0, anchor, 2.0);
            }
        }
    }
    // Nothing but labels and frame outside the plot.
    EXPECT_EQ(CountNonBlack(grid, QRect(QPoint(kLeft - 4, 0), QPoint(kLeft - 1, kHeight - 1))), 0);
    EXPECT_EQ(CountNonBlack(grid, QRect(QPoint(kRight + 2, 0), QPoint(kWidth - 1, kHeight - 1))), 0);
}

TEST_F(ScanChartCanvasTest, LeftMarginFollowsDigitsAndDecimals) {
    struct Case {
        double lower, upper;
        int decimals, plotLeft;
        const char* top;
    };
    for (const Case& c : {Case{0.0, 1000.0, 0, 36, "1000"}, Case{0.0, 40.0, 1, 30, "40.0"},
                          Case{0.0, 1000.0, 1, 42, "1000.0"}, Case{-100.0, 40.0, 0, 30, "40"},
                          Case{0.0, 0.5, 2, 30, "0.50"}}) {
        SCOPED_TRACE(c.top);
        chart.SetRange(c.lower, c.upper, 0, kLastLba, c.decimals);
        EXPECT_EQ(chart.Layout().plotLeft, c.plotLeft);
        EXPECT_EQ(chart.Labels().front().text, c.top);
        EXPECT_EQ(At(chart.GridLayer(), c.plotLeft, kTop + 1), kWhite);  // the frame moved with it
        EXPECT_EQ(At(chart.GridLayer(), c.plotLeft - 1, kTop + 1), kBlack);
    }
}

TEST_F(ScanChartCanvasTest, FirstPointPaintsNothingAndLaterPointsJoinUp) {
    chart.ResetCurves();
    Sample(20.0, 10.0, 0);
    EXPECT_EQ(CountNonBlack(chart.PlotLayer(), chart.PlotLayer().rect()), 0);

    Sample(30.0, 10.0, 1000000);
    QImage plot = chart.PlotLayer();
    // TE rises from (px(0), py(20)) towards (px(1e6), py(30)): its last pixel is left out.
    EXPECT_EQ(At(plot, Px(0), Py(20)), kTe);
    EXPECT_EQ(At(plot, Px(1000000), Py(30)), kBlack);
    EXPECT_EQ(Count(plot, plot.rect(), kTe), Px(1000000) - Px(0));  // an x-major line: one pixel a column
    // FE is flat in its own colour; series 0 and 1 are never curves.
    EXPECT_EQ(Count(plot, QRect(QPoint(Px(0), Py(10)), QPoint(Px(1000000) - 1, Py(10))), kFe),
              Px(1000000) - Px(0));

    Sample(30.0, 10.0, 2000000);
    plot = chart.PlotLayer();
    EXPECT_EQ(At(plot, Px(1000000), Py(30)), kTe);  // the joint is painted by the next segment
    EXPECT_EQ(At(plot, Px(0), Py(20)), kTe);        // earlier segments stay

    EXPECT_EQ(chart.AppendPoint(7, 5.0, 1.0), 0.0);
    EXPECT_EQ(chart.AppendPoint(-1, 5.0, 1.0), 0.0);
    EXPECT_EQ(chart.AppendPoint(2, 12.0, 2100000), 30.0);  // returns the former current Y
    const ChartSeries te = chart.Series(2);
    EXPECT_EQ(te.prevX, 2000000);
    EXPECT_EQ(te.y, 12.0);
    EXPECT_EQ(te.hasPrevious, 1);
}

TEST_F(ScanChartCanvasTest, CurvesOutsideTheYRangeAreClippedVertically) {
    // Criterion lines on the clipping rows show how far the black-out reaches sideways.
    chart.DrawLimitLine(0, 40, 1);  // row plotTop
    chart.DrawLimitLine(1, -1, 1);  // a row below plotBottom
    const int belowRow = Py(-1);
    ASSERT_GT(belowRow, kBottom + 1);
    Sample(20.0, 15.0, 1000000);
    Sample(60.0, -30.0, 1200000);
    const QImage plot = chart.PlotLayer();
    const int x0 = Px(1000000), x1 = Px(1200000);

    EXPECT_EQ(CountNonBlack(plot, QRect(QPoint(x0, 0), QPoint(x1, kTop))), 0);
    EXPECT_EQ(CountNonBlack(plot, QRect(QPoint(x0, kBottom + 1), QPoint(x1, kHeight - 1))), 0);
    EXPECT_EQ(Count(plot, QRect(QPoint(x0, kTop + 1), QPoint(x1, kBottom)), kTe), Py(20) - kTop);
    EXPECT_GT(Count(plot, QRect(QPoint(x0, kTop + 1), QPoint(x1, kBottom)), kFe), 0);
    // Outside the segment's span the lines are untouched (dots at offsets 0..2 of every 6).
    EXPECT_EQ(At(plot, kLeft, kTop), kTe);
    EXPECT_EQ(At(plot, kLeft, belowRow), kFe);
    const int after = x1 + 1 + (6 - (x1 + 1 - kLeft) % 6);
    EXPECT_EQ(At(plot, after, kTop), kTe);
    EXPECT_EQ(At(plot, after, belowRow), kFe);

    // Values far off the scale or not numbers at all draw nothing outside the layers' rules.
    for (const double wild : {1e12, -1e300, std::numeric_limits<double>::infinity(), std::nan("")})
        Sample(wild, wild, 1300000);
    EXPECT_EQ(CountNonBlack(chart.PlotLayer(), QRect(0, 0, kWidth, kTop)), 0);
    EXPECT_EQ(CountNonBlack(chart.PlotLayer(), QRect(QPoint(x1, kTop), QPoint(Px(1300000), kTop))), 0);
}

TEST_F(ScanChartCanvasTest, CriterionLinesAreDottedAndEraseWhatLiesOnThem) {
    const int row = Py(27);
    const int from = kLeft;
    // An FE curve flat along the TE criterion row, then the line on top of it.
    Sample(10.0, 27.0, 0);
    Sample(10.0, 27.0, kLastLba);
    chart.DrawLimitLine(0, 27, 1);
    QImage plot = chart.PlotLayer();
    for (int x = from; x < kRight - 1; ++x)
        ASSERT_EQ(At(plot, x, row), (x - from) % 6 < 3 ? kTe : kBlack) << x;

    chart.DrawLimitLine(1, 18, 1);
    EXPECT_EQ(At(chart.PlotLayer(), from, Py(18)), kFe);

    chart.DrawLimitLine(0, 27, 0);
    plot = chart.PlotLayer();
    EXPECT_EQ(CountNonBlack(plot, QRect(QPoint(0, row), QPoint(kWidth - 1, row))), 0);
    EXPECT_GT(Count(plot, QRect(QPoint(from, Py(10)), QPoint(kRight, Py(10))), kTe),
              600);  // other curve stays
    EXPECT_EQ(At(plot, from, Py(18)), kFe);
}

// Our own charts span only the LBAs measured: there the X value 0 lies left of the plot, and the
// line keeps to the plot instead of running through the Y labels.
TEST_F(ScanChartCanvasTest, OnAnAxisStartingAfterZeroACriterionLineKeepsToThePlot) {
    chart.SetRange(0.0, 40.0, 90000, 130000, 0);
    chart.DrawLimitLine(0, 27, 1);
    const QImage plot = chart.PlotLayer();
    const int row = Py(27);
    EXPECT_EQ(CountNonBlack(plot, QRect(QPoint(0, row), QPoint(kLeft - 1, row))), 0);
    EXPECT_EQ(At(plot, kLeft, row), kTe);
    EXPECT_GT(Count(plot, QRect(QPoint(kLeft, row), QPoint(kRight, row)), kTe), (kRight - kLeft) / 2 - 6);
}

TEST_F(ScanChartCanvasTest, RangeMarkersAndTheirErasure) {
    // A new chart remembers position 0: erasing there clears column plotLeft of the plot.
    ScanChartCanvas fresh;
    SetUpLikeScanPage(fresh, kWidth, kHeight);
    fresh.AppendPoint(2, 1.0, 0);
    fresh.UpdateCurves();
    fresh.AppendPoint(2, 39.0, 0);
    fresh.UpdateCurves();
    ASSERT_GT(Count(fresh.PlotLayer(), QRect(kLeft, 0, 1, kHeight), kTe), 300);
    fresh.DrawRangeMarker(0, 1000000, 0);
    EXPECT_EQ(CountNonBlack(fresh.PlotLayer(), QRect(QPoint(kLeft, kTop + 1), QPoint(kLeft, kBottom))), 0);

    chart.DrawRangeMarker(0, 300000, 1);
    chart.DrawRangeMarker(1, 2000000, 1);
    QImage plot = chart.PlotLayer();
    const QRect start(QPoint(Px(300000), kTop + 1), QPoint(Px(300000), kBottom));
    const QRect end(QPoint(Px(2000000), kTop + 1), QPoint(Px(2000000), kBottom));
    EXPECT_EQ(Count(plot, start, kMarker), kBottom - kTop);  // from plotBottom up to, not including, plotTop
    EXPECT_EQ(At(plot, Px(300000), kTop), kBlack);
    EXPECT_EQ(Count(plot, end, kMarker), kBottom - kTop);

    // Moving the start marker as the page does: erase (x ignored), then draw at the new place.
    chart.DrawRangeMarker(0, 2000000, 0);
    chart.DrawRangeMarker(0, 600000, 1);
    plot = chart.PlotLayer();
    EXPECT_EQ(CountNonBlack(plot, start), 0);
    EXPECT_EQ(Count(plot, end, kMarker), kBottom - kTop);
    EXPECT_EQ(chart.StartMarkerX(), 600000);
    EXPECT_EQ(chart.EndMarkerX(), 2000000);
}

TEST_F(ScanChartCanvasTest, FrameRedrawsClearThePlotAndCurvesContinueAfterSetRange) {
    const std::function<void(ScanChartCanvas&)> clearers[] = {
        [](ScanChartCanvas& c) { c.AddSeries(kWhite); },
        [](ScanChartCanvas& c) { c.SetRange(0.0, 80.0, 0, kLastLba, 0); },
        [](ScanChartCanvas& c) { c.ResetCurves(); },
    };
    for (size_t i = 0; i < std::size(clearers); ++i) {
        SCOPED_TRACE(i);
        ScanChartCanvas c;
        SetUpLikeScanPage(c, kWidth, kHeight);
        c.DrawLimitLine(0, 27, 1);
        c.DrawRangeMarker(1, 900000, 1);
        for (const double x : {100000.0, 500000.0}) {
            c.AppendPoint(2, 20.0, x);
            c.UpdateCurves();
        }
        ASSERT_GT(CountNonBlack(c.PlotLayer(), c.PlotLayer().rect()), 0);
        clearers[i](c);
        EXPECT_EQ(CountNonBlack(c.PlotLayer(), c.PlotLayer().rect()), 0);
        // Only ResetCurves forgets the points: otherwise the next segment starts at (500000, 20).
        c.AppendPoint(2, 20.0, 700000);
        c.UpdateCurves();
        const double yScale = i == 1 ? 80.0 : 40.0;
        const int joinY = kBottom - static_cast<int>(20.0 * (kBottom - kTop) / yScale);
        EXPECT_EQ(At(c.PlotLayer(), Px(500000), joinY), i == 2 ? kBlack : kTe);
        EXPECT_EQ(CountNonBlack(c.PlotLayer(), c.PlotLayer().rect()), i == 2 ? 0 : Px(700000) - Px(500000));
    }
}

// A paint clipped to part of what changed (Qt's region of an earlier update, while a worker has
// drawn more) shows only that part: the rest stays pending until a paint shows it.
TEST_F(ScanChartCanvasTest, WhatAClippedPaintLeftOutStaysPending) {
    QImage screen(kWidth, kHeight, QImage::Format_RGB32);
    screen.fill(Qt::black);
    const auto paint = [&](const QRegion& exposed) {
        QPainter painter(&screen);
        painter.setClipRegion(exposed);
        chart.Paint(painter, QPoint(0, 0), exposed);
    };
    paint(QRect(0, 0, kWidth, kHeight));
    ASSERT_TRUE(chart.PendingRepaint().isEmpty());

    Sample(10.0, 5.0, 0);
    Sample(20.0, 8.0, 1000000);
    const QRect first = chart.PendingRepaint();
    ASSERT_FALSE(first.isEmpty());
    Sample(30.0, 12.0, 2000000);  // drawn before the paint for `first` comes
    paint(first);
    const QRect pending = chart.PendingRepaint();
    EXPECT_GT(pending.right(), first.right());
    paint(pending);
    EXPECT_TRUE(chart.PendingRepaint().isEmpty());
    EXPECT_EQ(screen, chart.Render());
}

TEST_F(ScanChartCanvasTest, CompositionIsGridOrPlotAndPaintKeepsUp) {
    QImage painted(kWidth, kHeight, QImage::Format_RGB32);
    const auto paint = [&] {
        QPainter painter(&painted);
        chart.Paint(painter, QPoint(0, 0));
    };
    paint();
    chart.DrawLimitLine(0, 20, 1);
    Sample(5.0, 35.0, 0);
    Sample(45.0, 10.0, 1500000);
    const int markerColumn = kLeft + 40;  // on a grid dot
    chart.DrawRangeMarker(0, static_cast<int>(40.5 * kLastLba / (kRight - kLeft)), 1);
    paint();  // only what changed is composed again

    const QImage grid = chart.GridLayer(), plot = chart.PlotLayer(), rendered = chart.Render();
    ASSERT_EQ(rendered.size(), QSize(kWidth, kHeight));
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            ASSERT_EQ(At(rendered, x, y), At(grid, x, y) | At(plot, x, y)) << x << "," << y;
    EXPECT_EQ(painted, rendered);
    const int mid = (kTop + kBottom) / 2;
    EXPECT_EQ(At(rendered, markerColumn, mid), kWhite);  // grid dot OR grey marker
    EXPECT_EQ(At(rendered, markerColumn, mid + 1), kMarker);
    EXPECT_EQ(At(rendered, kLeft + 1, Py(20)), kTe);

    // A larger client area keeps the layers; the composition is black beyond them.
    chart.OnSize(kWidth + 50, kHeight + 20);
    EXPECT_EQ(chart.Layout().plotRight, kWidth + 40);
    EXPECT_EQ(chart.GridLayer().size(), QSize(kWidth, kHeight));
    const QImage grown = chart.Render();
    EXPECT_EQ(grown.size(), QSize(kWidth + 50, kHeight + 20));
    EXPECT_EQ(CountNonBlack(grown, QRect(kWidth, 0, 50, kHeight + 20)), 0);
    EXPECT_EQ(grown.copy(0, 0, kWidth, kHeight), rendered);

    // Clearing while the client area is smaller than the layers still clears all of them.
    chart.OnSize(kWidth / 2, kHeight / 2);
    chart.ResetCurves();
    EXPECT_EQ(CountNonBlack(chart.PlotLayer(), chart.PlotLayer().rect()), 0);
}

// On a screen with two device pixels per client pixel the layers are drawn at that resolution: the
// layout doubles, while lines stay one pixel wide, dots run 3 on / 3 off and lines leave out their
// last pixel, all counted in device pixels; the labels are set in a font twice as tall.
TEST(ScanChartCanvasAtRatio2, DrawsAtDevicePixels) {
    constexpr int kW = 350, kH = 200;  // client pixels
    constexpr int left = 48, top = 20, right = 2 * kW - 20, bottom = 2 * kH - 50;
    const auto px = [](double x) { return left + static_cast<int>(x * (right - left) / kLastLba); };
    const auto py = [](double v) { return bottom - static_cast<int>(v * (bottom - top) / 40.0); };
    ScanChartCanvas chart;
    chart.Create(kW, kH, 2.0);
    for (QRgb colour : {kTe, kFe, kTe, kFe}) chart.AddSeries(colour);
    chart.SetRange(0.0, 40.0, 0, kLastLba, 0);

    const ChartLayout layout = chart.Layout();
    EXPECT_EQ(QRect(QPoint(layout.plotLeft, layout.plotTop), QPoint(layout.plotRight, layout.plotBottom)),
              QRect(QPoint(left, top), QPoint(right, bottom)));
    const QImage grid = chart.GridLayer();
    ASSERT_EQ(grid.size(), QSize(2 * kW, 2 * kH));
    EXPECT_EQ(chart.Render().devicePixelRatio(), 2.0);

    // The frame is one device pixel wide.
    EXPECT_EQ(Count(grid, QRect(QPoint(left, top), QPoint(right + 1, top)), kWhite), right + 2 - left);
    EXPECT_EQ(Count(grid, QRect(QPoint(left + 1, top + 1), QPoint(right, top + 1)), kWhite), 0);
    EXPECT_EQ(Count(grid, QRect(QPoint(left + 1, top + 1), QPoint(left + 1, bottom)), kWhite), 0);

    // A flat segment paints its columns up to, not including, the end point.
    chart.AppendPoint(2, 10.0, 0);
    chart.UpdateCurves();
    chart.AppendPoint(2, 10.0, 1000000);
    chart.UpdateCurves();
    chart.DrawLimitLine(1, 18, 1);
    const QImage plot = chart.PlotLayer();
    EXPECT_EQ(Count(plot, QRect(QPoint(0, py(10)), QPoint(2 * kW - 1, py(10))), kTe), px(1000000) - px(0));
    EXPECT_EQ(At(plot, px(1000000), py(10)), kBlack);
    EXPECT_EQ(CountNonBlack(plot, QRect(0, py(10) - 1, 2 * kW, 1)), 0);
    for (int x = left; x < right - 1; ++x)
        ASSERT_EQ(At(plot, x, py(18)), (x - left) % 6 < 3 ? kFe : kBlack) << x;
    EXPECT_EQ(CountNonBlack(plot, QRect(0, py(18) + 1, 2 * kW, 1)), 0);

    // Text at the layers' resolution: twice the height of the same label at ratio 1.
    ScanChartCanvas single;
    SetUpLikeScanPage(single, kW, kH);
    const QRect ink2 = InkBounds(grid, chart.Labels().front().cell);
    const QRect ink1 = InkBounds(single.GridLayer(), single.Labels().front().cell);
    ASSERT_FALSE(ink1.isEmpty());
    EXPECT_NEAR(ink2.height(), 2 * ink1.height(), 2);
    EXPECT_LE(ink2.right(), left - 8);  // the label gap doubles too
}

TEST(ScanChartCanvasBeforeCreate, DrawsNothingAndRemembersMarkers) {
    ScanChartCanvas chart;
    for (QRgb colour : {kTe, kFe, kTe, kFe}) EXPECT_TRUE(chart.AddSeries(colour));
    chart.AppendPoint(2, 10.0, 5.0);
    chart.UpdateCurves();
    chart.DrawLimitLine(0, 27, 1);
    chart.DrawRangeMarker(1, 1234, 1);
    EXPECT_EQ(chart.EndMarkerX(), 1234);
    EXPECT_EQ(chart.Series(2).hasPrevious, 0);  // no segment was drawn
    EXPECT_TRUE(chart.Render().isNull());
}

// A header line longer than the chart wraps inside the picture: nothing is drawn in its right
// margin, and the picture grows by the lines the wrap adds.
TEST(LabelledChartHeader, ALongLineWrapsInsideThePicture) {
    LabelledChart shortHeader;
    shortHeader.header = {QStringLiteral("Speed: 8X")};
    LabelledChart longHeader;
    longHeader.header = {QString(QStringLiteral("TE max 20 % at LBA 2238669, avg 18.4 %; ")).repeated(6)};
    const int chartWidth = 300, chartHeight = 120;
    const QImage one = RenderLabelledChart(shortHeader, chartWidth, chartHeight);
    const QImage wrapped = RenderLabelledChart(longHeader, chartWidth, chartHeight);
    ASSERT_EQ(wrapped.width(), one.width());
    EXPECT_GT(wrapped.height(), one.height());
    const int headerBottom = wrapped.height() - chartHeight - 20;  // above the chart and legend
    const int marginLeft = 10 + chartWidth;
    for (int y = 0; y < headerBottom; ++y)
        for (int x = marginLeft; x < wrapped.width(); ++x)
            ASSERT_EQ(wrapped.pixel(x, y), 0xFFFFFFFFu) << x << "," << y;
}

}  // namespace
}  // namespace dravix
