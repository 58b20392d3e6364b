#include <gtest/gtest.h>

#include <QApplication>
#include <QEvent>
#include <QWidget>

#include <cmath>
#include <thread>
#include <utility>

#include "chart/ScanChart.h"
#include "tests/chart/ChartTestSupport.h"

namespace dravix {
namespace {

using namespace dravix::test;

class PaintCounter final : public QObject {
  public:
    int paints = 0;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

void ProcessEvents() {
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
}

class ScanChartWidgetTest : public ::testing::Test {
  protected:
    // The placeholder frame's rectangle in the page; the client area is 3 pixels in on every side.
    static inline const QRect kPlaceholder{10, 20, 706, 406};

    void SetUp() override {
        page.resize(800, 500);
        ASSERT_TRUE(chart->Create(&page, kPlaceholder));
        for (QRgb colour : {kTe, kFe, kTe, kFe}) ASSERT_TRUE(chart->AddSeries(colour));
        chart->SetRange(0.0, 40.0, 0, kLastLba, 0);
    }

    QWidget page;
    CScanChart* chart = new CScanChart;  // owned by the page once created
};

TEST_F(ScanChartWidgetTest, CreatesAVisibleSunkenChildWithLayersOfItsClientSize) {
    EXPECT_EQ(chart->parentWidget(), &page);
    EXPECT_TRUE(chart->isVisibleTo(&page));
    EXPECT_EQ(chart->geometry(), kPlaceholder);
    EXPECT_EQ(chart->contentsRect(), QRect(3, 3, 700, 400));
    EXPECT_EQ(chart->Canvas().GridLayer().size(), QSize(700, 400));
    EXPECT_EQ(chart->Canvas().Layout().plotRight, 690);

    EXPECT_FALSE(chart->Create(&page, kPlaceholder));  // once only
    CScanChart orphan;
    EXPECT_FALSE(orphan.Create(nullptr, kPlaceholder));

    // Showing the page delivers the resize that Qt held back while hidden; it changes nothing.
    page.show();
    ProcessEvents();
    EXPECT_EQ(chart->Canvas().Layout().plotLeft, 24);

    // The window shows exactly the composition, inside its frame.
    chart->DrawLimitLine(0, 27, 1);
    chart->DrawRangeMarker(0, 500000, 1);
    chart->AppendPoint(2, 10.0, 0);
    chart->UpdateCurves();
    chart->AppendPoint(2, 30.0, 2000000);
    chart->UpdateCurves();
    const QImage shown = chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(shown.copy(chart->contentsRect()), chart->Canvas().Render());

    // A real size change moves the plot but keeps the layers.
    chart->resize(606, 306);
    EXPECT_EQ(chart->Canvas().Layout().plotRight, 590);
    EXPECT_EQ(chart->Canvas().GridLayer().size(), QSize(700, 400));
}

TEST_F(ScanChartWidgetTest, WhatAWorkerDrewOnTheCanvasIsShownWhenTheUiThreadAsks) {
    page.show();
    ProcessEvents();
    PaintCounter counter;
    chart->installEventFilter(&counter);

    std::thread worker([this] {
        ScanChartCanvas& canvas = chart->Canvas();
        canvas.ResetCurves();
        canvas.DrawLimitLine(0, 27, 1);
        for (int pos = 0; pos < kLastLba; pos += 49152) {
            canvas.AppendPoint(2, 20.0 + 10.0 * std::sin(pos / 100000.0), pos);
            canvas.AppendPoint(3, 8.0, pos);
            canvas.UpdateCurves();
        }
    });
    worker.join();
    ProcessEvents();
    EXPECT_EQ(counter.paints, 0);  // the worker's drawing asks the window for nothing
    chart->ShowChanges();          // as the worker's post does on the UI thread
    ProcessEvents();
    EXPECT_GE(counter.paints, 1);
    const QImage plot = chart->Canvas().PlotLayer();
    EXPECT_GT(Count(plot, plot.rect(), kFe), 600);
}

// A whole scan as the page drives it, then the start and end boxes edited. Set
// DRAVIX_CHART_PICTURE to a .png path to keep the picture.
TEST_F(ScanChartWidgetTest, ScanPicture) {
    page.show();
    chart->ResetCurves();
    chart->DrawLimitLine(1, 18, 1);
    chart->DrawLimitLine(0, 27, 1);
    for (int pos = 0; pos < kLastLba - 16384; pos += 16384) {
        const double t = double(pos) / kLastLba;
        chart->AppendPoint(2, 9.0 + 14.0 * t + 3.0 * std::sin(pos / 90000.0) + (t > 0.9 ? 30.0 : 0.0), pos);
        chart->AppendPoint(3, 5.0 + 6.0 * t + 2.0 * std::cos(pos / 70000.0), pos);
        chart->UpdateCurves();
    }
    for (const auto& [which, x] : {std::pair{0, 300000}, std::pair{1, 1900000}}) {
        chart->DrawRangeMarker(which, x, 0);
        chart->DrawRangeMarker(which, x, 1);
    }
    ProcessEvents();
    const QImage picture = chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
    if (const QByteArray path = qgetenv("DRAVIX_CHART_PICTURE"); !path.isEmpty())
        picture.save(QString::fromLocal8Bit(path));

    const QImage client = picture.copy(chart->contentsRect());
    EXPECT_GT(Count(client, client.rect(), kBlack), client.width() * client.height() * 9 / 10);
    EXPECT_GT(Count(client, client.rect(), kWhite), 2 * (700 + 400));  // frame, grid, labels
    EXPECT_GT(Count(client, client.rect(), kTe), 600);
    EXPECT_GT(Count(client, client.rect(), kFe), 600);
    EXPECT_GT(Count(client, client.rect(), kMarker), 2 * 300);
    EXPECT_EQ(CountNonBlack(client, QRect(0, 0, 700, 10)), 0);  // the TE peak is cut at the top
}

// Whatever the screen's device pixel ratio, the window shows the layers one to one: they are made
// at the ratio and never scaled. ctest also runs this with QT_SCALE_FACTOR=2.
TEST(ScanChartWindow, ShowsItsLayersPixelForPixel) {
    QWidget page;
    page.resize(400, 300);
    auto* chart = new CScanChart;
    ASSERT_TRUE(chart->Create(&page, QRect(10, 10, 356, 206)));
    for (QRgb colour : {kTe, kFe, kTe, kFe}) chart->AddSeries(colour);
    chart->SetRange(0.0, 40.0, 0, kLastLba, 0);
    page.show();
    ProcessEvents();
    chart->DrawLimitLine(0, 27, 1);
    chart->DrawRangeMarker(1, 1500000, 1);
    for (const int pos : {0, 700000, 1400000, 2100000}) {
        chart->AppendPoint(2, 10.0 + pos / 100000.0, pos);
        chart->UpdateCurves();
    }
    ProcessEvents();

    const qreal ratio = chart->devicePixelRatioF();
    EXPECT_EQ(chart->Canvas().GridLayer().size(), QSize(350, 200) * ratio);
    const QImage shown = chart->grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shown.size(), chart->size() * ratio);
    const QRect client = chart->contentsRect();
    QImage composed = chart->Canvas().Render();
    composed.setDevicePixelRatio(1.0);
    QImage onScreen = shown.copy(QRect(client.topLeft() * ratio, client.size() * ratio));
    onScreen.setDevicePixelRatio(1.0);
    EXPECT_EQ(onScreen, composed);
}

}  // namespace
}  // namespace dravix
