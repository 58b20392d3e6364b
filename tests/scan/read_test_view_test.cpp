// The read test's chart, and a saved read test in the results window: a quick run's curve has a
// line per zone and nothing across the sectors between, which were never read; the results
// window shows a read-test file's curve, unread ranges and verdict, and a write-test file's curves
// and figures, laid over only by another write test.

#include <gtest/gtest.h>

#include <QImage>
#include <QLabel>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <optional>

#include "chart/ChartStyle.h"
#include "chart/ReadTestChart.h"
#include "chart/ScanChart.h"
#include "chart/ScanChartCanvas.h"
#include "chart/WriteTestChart.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "picture/ReadTestPicture.h"
#include "probix/ReadTest.h"
#include "probix/ReadTestFile.h"
#include "probix/Rotation.h"
#include "probix/WriteTestFile.h"
#include "scan/ResultsWindow.h"
#include "scan/WriteTestView.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/VirtualBus.h"
#include "turns/SharedDrive.h"
#include "ui/Services.h"

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

// A read test of part of a dual-layer disc is drawn over the sectors it read: the axis runs from
// its first to its last, and the layer break is marked (and in the legend) only when it lies
// among them.
TEST(ReadTestPicture, TheChartSpansTheSectorsReadAndMarksALayerBreakAmongThem) {
    struct Case {
        uint32_t first;
        uint32_t last;
        bool breakShown;
    };
    constexpr uint32_t kLayerBreak = 2084960;
    for (const Case& c : {Case{90000, 130000, false}, Case{2000000, 2200000, true}}) {
        SCOPED_TRACE(c.first);
        ReadTestResult result;
        result.end = ReadTestEnd::Finished;
        result.layout.dvd = true;
        result.layout.layers = 2;
        result.layout.lastLba = 4173823;
        result.layout.layerBreakLba = kLayerBreak;
        result.layout.tracks = {LayoutTrack{1, 1, 0, 4173823, true}};
        result.range = {c.first, c.last};
        for (uint32_t lba = c.first; lba < c.last; lba += 1024) result.points.push_back({lba, 8.0});

        ScanChartCanvas canvas;
        canvas.Create(800, 400);
        DrawReadTest(canvas, result);
        const std::vector<ChartLabel> labels = canvas.Labels();
        ASSERT_EQ(labels.size(), 11u);
        EXPECT_EQ(labels[5].text, QString::number(c.first));
        EXPECT_EQ(labels[10].text, QString::number(c.last));
        const ChartLayout layout = canvas.Layout();
        const QImage plot = canvas.PlotLayer();
        int markerColumn = -1;
        for (int x = 0; x < plot.width(); ++x) {
            if (plot.pixel(x, (layout.plotTop + layout.plotBottom) / 2) == chart_style::kMarkerColour)
                markerColumn = x;
        }
        const std::vector<LegendEntry> legend = ReadTestLegend(result);
        EXPECT_EQ(std::count_if(legend.begin(), legend.end(),
                                [](const LegendEntry& e) { return e.text == QStringLiteral("Layer break"); }),
                  c.breakShown ? 1 : 0);
        if (!c.breakShown) {
            EXPECT_EQ(markerColumn, -1);
            continue;
        }
        const double at = layout.plotLeft + (kLayerBreak - c.first) * layout.xFactor;
        EXPECT_NEAR(markerColumn, at, 1.0);
    }
}

// A drive reading at constant angular velocity: the rotation curve lies flat on the right axis's
// line for its RPM while the speed rises outward; points without a rotation draw none. The Probix
// page's chart has no right axis.
TEST(ReadTestPicture, ACavReadsRotationStaysOnOneRowWhileTheSpeedRises) {
    constexpr double kRpm = 6000.0;
    ReadTestResult result;
    result.end = ReadTestEnd::Finished;
    result.layout.dvd = true;
    result.layout.lastLba = 2295103;
    result.layout.tracks = {LayoutTrack{1, 1, 0, 2295103, true}};
    result.range = {0, 2295103};
    constexpr uint32_t kNoRotationFirst = 1000000, kNoRotationLast = 1300000;
    for (uint32_t lba = 0; lba <= 2295103; lba += 4096) {
        const double speedX = kRpm / RotationRpm(result.layout, lba, 1.0);
        const bool known = lba < kNoRotationFirst || lba > kNoRotationLast;
        result.points.push_back({lba, speedX, known ? kRpm : 0.0});
    }

    ScanChartCanvas canvas;
    canvas.Create(800, 400);
    DrawReadTest(canvas, result);
    const ChartLayout layout = canvas.Layout();
    const QImage plot = canvas.PlotLayer();
    auto rowsOf = [&](QRgb colour, int x) {
        std::vector<int> rows;
        for (int y = 0; y < plot.height(); ++y) {
            if (plot.pixel(x, y) == colour) rows.push_back(y);
        }
        return rows;
    };
    auto column = [&](double lba) { return layout.plotLeft + static_cast<int>(lba * layout.xFactor); };

    std::vector<int> rotationRows;
    int rotationColumns = 0;
    for (int x = 0; x < plot.width(); ++x) {
        const std::vector<int> rows = rowsOf(read_chart::kRotationColour, x);
        rotationRows.insert(rotationRows.end(), rows.begin(), rows.end());
        rotationColumns += rows.empty() ? 0 : 1;
    }
    ASSERT_FALSE(rotationRows.empty());
    EXPECT_EQ(*std::min_element(rotationRows.begin(), rotationRows.end()),
              *std::max_element(rotationRows.begin(), rotationRows.end()));
    const int gapColumns = column(kNoRotationLast) - column(kNoRotationFirst);
    EXPECT_GT(rotationColumns, layout.plotWidth - gapColumns - 30);
    for (const double lba : {kNoRotationFirst + 20000.0, (kNoRotationFirst + kNoRotationLast) / 2.0,
                             kNoRotationLast - 20000.0})
        EXPECT_TRUE(rowsOf(read_chart::kRotationColour, column(lba)).empty()) << lba;

    // The speed rises from the inside out: its curve stands higher (a smaller row) at the end.
    const std::vector<int> inner = rowsOf(read_chart::kSpeedColour, column(100000));
    const std::vector<int> outer = rowsOf(read_chart::kSpeedColour, column(2200000));
    ASSERT_FALSE(inner.empty());
    ASSERT_FALSE(outer.empty());
    EXPECT_GT(inner.front(), outer.back() + layout.plotHeight / 4);

    // The right axis reads the RPM scale, its title above it, and the flat curve lies on the line
    // labelled with its rotation.
    const std::vector<ChartLabel> right = canvas.RightLabels();
    std::vector<QString> texts;
    for (const ChartLabel& label : right) texts.push_back(label.text);
    EXPECT_EQ(texts, (std::vector<QString>{"8000", "6000", "4000", "2000", "0", "RPM"}));
    ASSERT_EQ(right.size(), 6u);
    EXPECT_NEAR(rotationRows.front(), right[1].anchor.y(), 1);
    for (const ChartLabel& label : right) EXPECT_GT(label.cell.left(), layout.plotRight + 1) << label.text.toStdString();
    EXPECT_LT(right[5].cell.bottom(), right[0].cell.top());
    const std::vector<LegendEntry> legend = ReadTestLegend(result);
    EXPECT_EQ(std::count_if(legend.begin(), legend.end(),
                            [](const LegendEntry& e) {
                                return e.text == QStringLiteral("Rotation (RPM)") &&
                                       e.colour == read_chart::kRotationColour;
                            }),
              1);

    // The Probix page's chart: nothing right of its frame.
    ScanChartCanvas page;
    page.Create(800, 400);
    chart_style::AddScanSeries(page);
    page.SetRange(chart_style::kYLowerPercent, chart_style::kYUpperPercent, 0, 2295103, 0);
    EXPECT_TRUE(page.RightLabels().empty());
    const QImage grid = page.GridLayer();
    for (int x = page.Layout().plotRight + 2; x < grid.width(); ++x) {
        for (int y = 0; y < grid.height(); ++y) ASSERT_EQ(grid.pixel(x, y), 0xFF000000u) << x << "," << y;
    }
}

// Pixels of a colour on a chart's plot.
int Pixels(CScanChart& chart, QRgb colour) {
    const QImage plot = chart.Canvas().PlotLayer();
    int count = 0;
    for (int y = 0; y < plot.height(); ++y) {
        for (int x = 0; x < plot.width(); ++x) count += plot.pixel(x, y) == colour ? 1 : 0;
    }
    return count;
}

TEST(ReadTestResults, TheResultsWindowOpensAReadTestFile) {
    // A read test of a damaged CD, run on the virtual drive's simulated clock and saved.
    test::VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
    int64_t nowUs = 1'000'000'000;
    drive.SetClock([&nowUs] { return nowUs / 1000; });
    drive.SetMicrosecondSleeper([&nowUs](uint64_t us) { nowUs += static_cast<int64_t>(us); });
    ASSERT_TRUE(drive.Insert("cd-r-recorded"));
    drive.AddDamage({5000, 4});
    DriveTable table{bus.Drives()};
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    TestUnitReady(table);
    SharedDrive shared(table);
    ReadTestSettings settings;
    settings.startLba = 0;
    settings.endLba = 19999;
    ReadTestObserver quiet;
    ReadTestRecord record;
    record.driveLabel = "ZARN DVD-RW";
    record.discType = "CD R";
    record.date = "2026-12-08T20:00:00Z";
    record.result = RunReadTest(
        shared, settings, quiet, [] { return false; }, [&nowUs] { return nowUs; });
    ASSERT_EQ(record.result.end, ReadTestEnd::Finished);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("read.csv"));
    ASSERT_EQ(SaveReadTestFile(path.toStdString(), record).ErrorText(), "");

    AppServices services;
    services.drives = bus.Drives();
    QWidget parent;
    CResultsWindow* window = nullptr;
    CResultsWindow::Open(services, &parent, path, [&window](CResultsWindow* opened) { window = opened; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return window != nullptr; }, 20000));
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("Read Test Results")));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("readTestVerdict"))->text(),
              QStringLiteral("4 sectors could not be read."));
    CScanChart* chart = window->findChild<CScanChart*>(QStringLiteral("readTestChart"));
    ASSERT_NE(chart, nullptr);
    EXPECT_GT(Pixels(*chart, read_chart::kSpeedColour), 20);
    EXPECT_GT(Pixels(*chart, read_chart::kErrorColour), 0);
    delete window;
}

// A read test laid over another in the results window: the second run's curve dashed in the
// first one's colour, both in the legend, and the figures of both side by side (the benchmark's
// where the second run has them and the first has not).
TEST(ReadTestResults, TheResultsWindowLaysASecondReadTestOverTheFirst) {
    const auto run = [](ReadTestKind kind, double speedX, const char* date) {
        ReadTestRecord record;
        record.driveLabel = "ZARN DVD-RW";
        record.discType = "DVD-R";
        record.date = date;
        ReadTestResult& r = record.result;
        r.end = ReadTestEnd::Finished;
        r.kind = kind;
        r.layout.dvd = true;
        r.layout.lastLba = 2295103;
        r.layout.tracks = {LayoutTrack{1, 1, 0, 2295103, true}};
        r.range = {0, 2295103};
        r.plannedSectors = r.readSectors = r.range.Count();
        for (uint32_t lba = 0; lba < 2295103; lba += 4096) r.points.push_back({lba, speedX, 1500});
        r.transfer = TransferSummary{speedX, speedX, speedX, speedX, 0, ReadMode::Clv};
        if (kind == ReadTestKind::Benchmark) {
            BenchmarkFigures b;
            b.burstMBps = {33.3, {}};
            b.spinDownSeconds = {0.5, {}};
            b.spinUpSeconds = {std::nullopt, kNotSupportedByDrive};
            r.benchmark = b;
        }
        return record;
    };
    QTemporaryDir folder;
    const QString pathA = folder.filePath(QStringLiteral("a.csv"));
    const QString pathB = folder.filePath(QStringLiteral("b.csv"));
    const ReadTestRecord b = run(ReadTestKind::Benchmark, 4.0, "2026-12-09T10:00:00Z");
    ASSERT_EQ(SaveReadTestFile(pathA.toStdString(), run(ReadTestKind::Transfer, 12.0, "2026-12-08T10:00:00Z"))
                  .ErrorText(),
              "");
    ASSERT_EQ(SaveReadTestFile(pathB.toStdString(), b).ErrorText(), "");

    AppServices services;
    QWidget parent;
    CResultsWindow* window = nullptr;
    CResultsWindow::Open(services, &parent, pathA, [&window](CResultsWindow* opened) { window = opened; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return window != nullptr; }, 20000));
    std::optional<bool> compared;
    window->CompareFile(pathB, [&compared](bool done) { compared = done; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return compared.has_value(); }, 20000));
    ASSERT_TRUE(*compared);

    CScanChart* chart = window->findChild<CScanChart*>(QStringLiteral("readTestChart"));
    ASSERT_NE(chart, nullptr);
    const ScanChartCanvas& canvas = chart->Canvas();
    ASSERT_GT(canvas.SeriesCount(), read_chart::kCompareSpeedCurve);
    const ChartSeries second = canvas.Series(read_chart::kCompareSpeedCurve);
    EXPECT_TRUE(second.dashed);
    EXPECT_EQ(second.colour, read_chart::kSpeedColour);
    // The second run's curve is on the plot at its own speed, below the first one's.
    const ChartLayout layout = canvas.Layout();
    const QImage plot = canvas.PlotLayer();
    const auto row = [&](double x) { return layout.plotBottom - static_cast<int>(x * layout.yFactor); };
    int atFour = 0;
    for (int y = row(4.0) - 2; y <= row(4.0) + 2; ++y) {
        for (int x = layout.plotLeft; x < layout.plotRight; ++x) atFour += plot.pixel(x, y) == read_chart::kSpeedColour;
    }
    EXPECT_GT(atFour, layout.plotWidth / 4);
    EXPECT_LT(atFour, layout.plotWidth * 5);  // dashed: gaps along the line

    const QString legend = window->findChild<QLabel*>(QStringLiteral("readTestLegend"))->text();
    EXPECT_TRUE(legend.contains(QStringLiteral("Read&nbsp;speed&nbsp;(X)"))) << legend.toStdString();
    EXPECT_TRUE(legend.contains(QStringLiteral("Read&nbsp;speed&nbsp;of&nbsp;") +
                                QString::fromStdString(ReadTestShortName(b)).toHtmlEscaped().replace(
                                    QLatin1Char(' '), QStringLiteral("&nbsp;"))))
        << legend.toStdString();
    // The compared curves stand dashed in the legend as on the chart, not dotted like a limit line.
    EXPECT_FALSE(legend.contains(QStringLiteral("&middot;"))) << legend.toStdString();

    QTableWidget* figures = window->Figures();
    ASSERT_TRUE(figures != nullptr && figures->isVisibleTo(window));
    const auto cells = [&](const QString& name) {
        for (int r = 0; r < figures->rowCount(); ++r) {
            if (figures->item(r, 0)->text() == name)
                return std::make_pair(figures->item(r, 1)->text(), figures->item(r, 2)->text());
        }
        ADD_FAILURE() << "no row " << name.toStdString();
        return std::make_pair(QString(), QString());
    };
    EXPECT_EQ(cells(QStringLiteral("Average speed")), std::make_pair(QStringLiteral("12.00X"), QStringLiteral("4.00X")));
    EXPECT_EQ(cells(QStringLiteral("Burst rate")).first, QStringLiteral("-"));
    EXPECT_TRUE(cells(QStringLiteral("Burst rate")).second.startsWith(QStringLiteral("33.3 MB/s")));
    EXPECT_EQ(cells(QStringLiteral("Spin-up time")).second, QString::fromLatin1(kNotSupportedByDrive));
    delete window;
}

// A saved write test in the results window: its speed and buffer curves and its figures; a second
// write test laid over it dashed, the figures of both side by side; a read test is not laid over it.
TEST(WriteTestResults, TheResultsWindowShowsAWriteTestAndComparesItOnlyWithAnother) {
    const auto run = [](double speedX, const char* date) {
        WriteTestResult r;
        r.end = WriteTestEnd::Finished;
        r.profile = 0x1B;
        r.method = SimulationMethod::MakerSwitch;
        r.speedKBps = static_cast<uint32_t>(speedX * 1385);
        r.layout.profile = 0x1B;
        r.layout.dvd = true;
        r.layout.lastLba = 2295103;
        r.plannedSectors = r.writtenSectors = 2295104;
        for (uint32_t lba = 0; lba < 2295104; lba += 16384) r.points.push_back({lba, speedX, 0.75, 1400.0});
        r.summary = TransferSummary{speedX, speedX, speedX, speedX, 0, ReadMode::Clv};
        r.fullDiscSeconds = 3600 / speedX;
        r.settingRestored = r.blankAfter = true;
        return WriteTestRecordOf("ZARN DVD-RW", "1.20", r, date);
    };
    QTemporaryDir folder;
    const QString pathA = folder.filePath(QStringLiteral("a.csv"));
    const QString pathB = folder.filePath(QStringLiteral("b.csv"));
    const QString readPath = folder.filePath(QStringLiteral("read.csv"));
    ASSERT_EQ(SaveWriteTestFile(pathA.toStdString(), run(8.0, "2026-12-08T10:00:00Z")).ErrorText(), "");
    ASSERT_EQ(SaveWriteTestFile(pathB.toStdString(), run(4.0, "2026-12-09T10:00:00Z")).ErrorText(), "");
    ReadTestRecord read;
    read.discType = "DVD-R";
    read.date = "2026-12-09T11:00:00Z";
    read.result.end = ReadTestEnd::Finished;
    read.result.layout.dvd = true;
    read.result.layout.lastLba = 2295103;
    read.result.layout.tracks = {LayoutTrack{1, 1, 0, 2295103, true}};
    read.result.range = {0, 2295103};
    read.result.plannedSectors = read.result.readSectors = read.result.range.Count();
    for (uint32_t lba = 0; lba < 2295103; lba += 65536) read.result.points.push_back({lba, 8.0, 1500});
    read.result.transfer = TransferSummary{8.0, 8.0, 8.0, 8.0, 0, ReadMode::Clv};
    ASSERT_EQ(SaveReadTestFile(readPath.toStdString(), read).ErrorText(), "");

    AppServices services;
    auto boxes = std::make_shared<test::ScriptedPrompter>();
    services.prompter = boxes;
    QWidget parent;
    CResultsWindow* window = nullptr;
    CResultsWindow::Open(services, &parent, pathA, [&window](CResultsWindow* opened) { window = opened; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return window != nullptr; }, 20000));
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("Write Test Results")))
        << window->windowTitle().toStdString();
    EXPECT_TRUE(window->Header()->text().contains(QStringLiteral("Write test (Test Write switch)")))
        << window->Header()->text().toStdString();
    CScanChart* chart = window->findChild<CScanChart*>(QStringLiteral("writeTestChart"));
    ASSERT_NE(chart, nullptr);
    EXPECT_GT(Pixels(*chart, write_chart::kSpeedColour), 20);
    EXPECT_GT(Pixels(*chart, write_chart::kBufferColour), 20);
    EXPECT_TRUE(window->findChild<QLabel*>(QStringLiteral("writeTestSummary"))
                    ->text()
                    .contains(QStringLiteral("average 8.00X. Write mode: CLV.")));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("writeTestVerdict"))->text(),
              QString::fromLatin1(kWriteTestFinished));

    std::optional<bool> compared;
    window->CompareFile(pathB, [&compared](bool done) { compared = done; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return compared.has_value(); }, 20000));
    ASSERT_TRUE(*compared);
    chart = window->findChild<CScanChart*>(QStringLiteral("writeTestChart"));
    ASSERT_GT(chart->Canvas().SeriesCount(), write_chart::kCompareRotationCurve);
    for (const auto& [curve, colour] :
         {std::pair{write_chart::kCompareSpeedCurve, write_chart::kSpeedColour},
          std::pair{write_chart::kCompareBufferCurve, write_chart::kBufferColour}}) {
        const ChartSeries series = chart->Canvas().Series(curve);
        EXPECT_TRUE(series.dashed) << curve;
        EXPECT_EQ(series.colour, colour) << curve;
    }
    QTableWidget* figures = window->Figures();
    ASSERT_TRUE(figures->isVisibleTo(window));
    ASSERT_EQ(figures->horizontalHeaderItem(2)->text(), QStringLiteral("Compared run"));
    int averageRow = -1;
    for (int r = 0; r < figures->rowCount(); ++r)
        if (figures->item(r, 0)->text() == QStringLiteral("Average speed")) averageRow = r;
    ASSERT_GE(averageRow, 0);
    EXPECT_EQ(figures->item(averageRow, 1)->text(), QStringLiteral("8.00X"));
    EXPECT_EQ(figures->item(averageRow, 2)->text(), QStringLiteral("4.00X"));

    // A read test is refused with the command line's words, and the write test laid over stays.
    compared.reset();
    window->CompareFile(readPath, [&compared](bool done) { compared = done; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return compared.has_value(); }, 20000));
    EXPECT_FALSE(*compared);
    ASSERT_FALSE(boxes->asked.empty());
    EXPECT_EQ(boxes->asked.back().text,
              readPath + QStringLiteral(": a write test compares only with another write test."));
    ASSERT_TRUE(window->ComparedWriteTest());
    EXPECT_EQ(window->ComparedWriteTest()->date, "2026-12-09T10:00:00Z");
    delete window;
}

}  // namespace
}  // namespace dravix
