// What the page keeps of a run, and the results window: saved, autosaved, marked as the previous
// run, opened without a drive and compared.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QStandardPaths>
#include <QTableWidget>
#include <QTest>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <future>

#include "chart/ChartStyle.h"
#include "chart/ScanChart.h"
#include "chart/ScanChartCanvas.h"
#include "picture/ResultsPicture.h"
#include "probix/ResultsFileReader.h"
#include "probix/ScanTexts.h"
#include "scan/Autosave.h"
#include "scan/ResultsWindow.h"
#include "tests/scan/PageTestSupport.h"
#include "ui/Workers.h"

namespace dravix {
namespace {

using scan_test::PageFixture;

std::filesystem::path FreshFolder(const char* name) {
    const std::filesystem::path folder = std::filesystem::path(::testing::TempDir()) / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string Content(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

class ResultsPage : public PageFixture {
  protected:
    void SetUp() override {
        PageFixture::SetUp();
        QStandardPaths::setTestModeEnabled(true);  // the settings go to a test location
    }
    void TearDown() override {
        StoreAutosaveSettings(AutosaveSettings{});
        PageFixture::TearDown();
    }
};

TEST_F(ResultsPage, ARunIsKeptSavedAutosavedAndMarkedAsThePreviousRunOnceTheSettingsChange) {
    const std::filesystem::path folder = FreshFolder("dravix-autosave-page");
    StoreAutosaveSettings(
        {true, QString::fromStdString(folder.string()), QStringLiteral("{speed}_{verdict}")});
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    CTEFE& p = OpenPage();
    Tick();
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());

    const std::optional<ScanResults> last = test::KeptRun(p);
    ASSERT_TRUE(last);
    const ScanResults& kept = *last;
    EXPECT_EQ(kept.samples.size(), 64u);
    EXPECT_EQ(kept.outcome, RunOutcome::Ok);
    EXPECT_EQ(kept.manufacturerId, "ORIONDSC");
    EXPECT_FALSE(ShowsPreviousRun());

    // Saved by hand and autosaved: both read back as what the page keeps.
    const std::string saved = (folder / "by-hand.csv").string();
    QString answer;
    services.saveFileName = [&answer](QWidget*, const SaveQuestion&) { return answer; };
    // The autosave is written on the page's worker, and the page names the file once it exists.
    ASSERT_TRUE(QTest::qWaitFor([&] { return Figures().contains(QStringLiteral("2.4X_ok.csv")); }, 20000));
    answer = QString::fromStdString(saved);
    test::PageCommand(p, CTEFE::kSaveResultsName)->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return Figures().contains(QStringLiteral("by-hand.csv")); }, 20000));
    for (const std::string& path : {saved, (folder / "2.4X_ok.csv").string()}) {
        const ResultsRead read = ReadResultsFile(path);
        ASSERT_TRUE(read.results) << read.error;
        EXPECT_EQ(read.results->statistics, kept.statistics) << path;
        EXPECT_EQ(read.results->samples.size(), kept.samples.size()) << path;
    }

    // Its picture is not saved over its results file (the one it was last saved as), which stays
    // as it was.
    const std::string content = Content(saved);
    answer = QString::fromStdString(saved);
    test::PageCommand(p, CTEFE::kSavePictureName)->trigger();
    EXPECT_EQ(BoxTexts().back().toStdString(),
              "'" + saved + "' is also the results file of this window; choose another name.");
    EXPECT_EQ(Content(saved), content);

    // Another speed: what the page shows is the previous run's, and the status line keeps the
    // verdict as it stands; back at its speed it is current.
    const QString verdict = StatusText();
    ChooseSpeed(14);
    EXPECT_TRUE(ShowsPreviousRun());
    EXPECT_EQ(StatusText(), verdict);
    ChooseSpeed(13);
    EXPECT_FALSE(ShowsPreviousRun());

    // A stopped run is kept and autosaved too, with what it measured; the name never clashes.
    gate.Install(drive);
    gate.Allow(2 + 10);
    ChooseMode(SamplingMode::Full);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(13));
    ClickStop();
    gate.Open();
    const std::optional<ScanResults> stoppedRun = test::KeptRun(p);
    ASSERT_TRUE(stoppedRun);
    EXPECT_EQ(stoppedRun->outcome, RunOutcome::Stopped);
    EXPECT_EQ(stoppedRun->samples.size(), 10u);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return Figures().contains(QStringLiteral("2.4X_stopped.csv")); }, 20000));
    const ResultsRead stopped = ReadResultsFile((folder / "2.4X_stopped.csv").string());
    ASSERT_TRUE(stopped.results) << stopped.error;
    EXPECT_EQ(stopped.results->samples.size(), 10u);
    EXPECT_EQ(stopped.results->verdictText, scan_texts::kUserAbort);
}

ScanResults Made(uint16_t teRaw, const char* mid) {
    ScanResults r;
    r.driveLabel = "ZARN";
    r.discTypeCode = kScanDvdPlusR;
    r.discType = "DVD+R";
    r.manufacturerId = mid;
    r.mediaTypeId = "R16";
    r.date = "2026-12-08T10:00:00Z";
    r.speedCode = 15;
    r.kbps = 8310;
    r.teReference = r.feReference = 1000;
    r.verdictText = scan_texts::kVerdictOk;
    // Every position of a Normal run: a file's verdict must be its samples'.
    r.range = RangeOf(SamplingMode::Normal, kScanDvdPlusR, kDefaultLastLba, 0, 0);
    const std::vector<SamplePoint> points =
        SamplePoints(r.range, BaseStepOf(SamplingMode::Normal), kScanDvdPlusR, kDefaultLastLba);
    for (size_t i = 0; i < points.size(); ++i) {
        ScanSample s;
        s.lba = points[i].lba;
        s.psn = points[i].psn;
        s.teRaw = static_cast<uint16_t>(teRaw + i);
        s.feRaw = 80;
        s.tePercent = PercentOf(s.teRaw, 1000);
        s.fePercent = PercentOf(s.feRaw, 1000);
        r.samples.push_back(s);
    }
    FinishResults(r);
    return r;
}

int PixelsOf(const QImage& image, QRgb colour) {
    int n = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) n += image.pixel(x, y) == colour ? 1 : 0;
    return n;
}

// Pixels of `colour` in the canvas's plot between two per-cent values: a compared curve drawn
// higher than the first result's (Made(200) against Made(100)) is told apart by where it lies.
int PixelsBetweenPercent(const ScanChartCanvas& canvas, QRgb colour, double lowPercent, double highPercent) {
    const QImage plot = canvas.PlotLayer();
    const ChartLayout layout = canvas.Layout();
    const int top = layout.plotBottom - static_cast<int>(highPercent * layout.yFactor);
    const int bottom = layout.plotBottom - static_cast<int>(lowPercent * layout.yFactor);
    int n = 0;
    for (int y = std::max(top, 0); y <= bottom && y < plot.height(); ++y)
        for (int x = 0; x < plot.width(); ++x) n += plot.pixel(x, y) == colour ? 1 : 0;
    return n;
}

// Made(200)'s TE lies between 20 and 26.3 %, Made(100)'s below 16.3 %, the TE limit at 27 %.
int ComparedTePixels(const ScanChartCanvas& canvas) {
    return PixelsBetweenPercent(canvas, chart_style::kTeColour, 19.5, 26.5);
}

ScanResults Flat(uint16_t te, uint16_t fe, int samples) {
    ScanResults r = Made(100, "ORIONDSC");
    r.samples.clear();
    for (int i = 0; i < samples; ++i) {
        ScanSample s;
        s.lba = static_cast<int32_t>(int64_t{r.lastLba} * i / (samples - 1));
        s.tePercent = te;
        s.fePercent = fe;
        r.samples.push_back(s);
    }
    return r;
}

// A compare picture: the compared curves are dashed in the run's own colours, and the dashes run on
// along the whole curve although it is drawn as thousands of one-pixel segments; the run's curves
// stay unbroken. Rows of a colour from the top: its limit line, the compared curve, the run's.
TEST_F(ResultsPage, AComparedResultIsDrawnDashedInTheSameColours) {
    const ScanResults run = Flat(12, 5, 3000);
    const ScanResults compared = Flat(22, 15, 3000);
    const QImage picture = RenderResultsPicture(run, &compared).convertToFormat(QImage::Format_RGB32);
    for (const QRgb colour : {chart_style::kTeColour, chart_style::kFeColour}) {
        SCOPED_TRACE(colour);
        struct Row {
            int count = 0;
            int first = -1;
            int last = -1;
            int longestRun = 0;
        };
        std::vector<Row> rows;
        for (int y = 0; y < picture.height(); ++y) {
            Row row;
            int runLength = 0;
            for (int x = 0; x < picture.width(); ++x) {
                const bool ink = picture.pixel(x, y) == colour;
                runLength = ink ? runLength + 1 : 0;
                row.longestRun = std::max(row.longestRun, runLength);
                if (!ink) continue;
                ++row.count;
                if (row.first < 0) row.first = x;
                row.last = x;
            }
            // Curves and the limit line span the plot; legend samples are far shorter.
            if (row.count >= 200) rows.push_back(row);
        }
        ASSERT_EQ(rows.size(), 3u);
        const Row& dashed = rows[1];
        const Row& solid = rows[2];
        EXPECT_EQ(solid.count, solid.last - solid.first + 1);  // no gap
        EXPECT_GT(solid.count, 500);
        // Dashes of 6 with gaps of 4 over the same span: gaps all along, never a solid stretch.
        EXPECT_LE(dashed.longestRun, 6);
        EXPECT_NEAR(dashed.count, (dashed.last - dashed.first + 1) * 0.6, 10);
        EXPECT_GT(dashed.last - dashed.first, solid.last - solid.first - 10);
    }
}

TEST_F(ResultsPage, ResultsOpenWithoutADriveAndACompareDrawsALegend) {
    const std::filesystem::path folder = FreshFolder("dravix-results-window");
    const std::string first = (folder / "first.csv").string();
    const std::string second = (folder / "second.csv").string();
    const std::string broken = (folder / "broken.csv").string();
    ASSERT_EQ(SaveResultsFile(first, Made(100, "ORIONDSC")).ErrorText(), "");
    ASSERT_EQ(SaveResultsFile(second, Made(200, "LYRADISC")).ErrorText(), "");
    {
        std::ofstream out(broken);
        out << "# Dravix Probix TE/FE scan\n# format version: 1\n# drive ZARN\n";
    }

    QWidget owner;  // no drive anywhere: the bus has none
    CResultsWindow* window = nullptr;
    CResultsWindow::Open(services, &owner, QString::fromStdString(first),
                         [&](CResultsWindow* w) { window = w; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return window != nullptr; }, 20000));
    EXPECT_EQ(window->Results().samples.size(), 64u);
    const QImage plot = window->Chart()->Canvas().PlotLayer();
    EXPECT_GT(PixelsOf(plot, chart_style::kTeColour), 100);
    EXPECT_EQ(ComparedTePixels(window->Chart()->Canvas()), 0);

    bool compared = false;
    window->CompareFile(QString::fromStdString(second), [&](bool ok) { compared = ok; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return compared; }, 20000));
    EXPECT_GT(ComparedTePixels(window->Chart()->Canvas()), 100);
    // The entry is kept on one line, after a dashed sample in TE's colour.
    EXPECT_TRUE(window->Legend()->text().contains(
        QStringLiteral("%1\">&ndash;&#8288;&nbsp;&ndash;&#8288;&nbsp;&ndash;&#8288;</span>&nbsp;<span "
                       "style=\"color:white\">TE&nbsp;of&nbsp;LYRADISC&nbsp;R16")
            .arg(QColor::fromRgb(chart_style::kTeColour).name())))
        << window->Legend()->text().toStdString();
    EXPECT_TRUE(window->Header()->text().contains(QStringLiteral("Compared with: LYRADISC")));
    EXPECT_TRUE(bus.Commands().empty());
    // What is laid over the chart is not saved over.
    const std::string laidOver = Content(second);
    EXPECT_EQ(window->SaveResults(QString::fromStdString(second)).toStdString(),
              "'" + second + "' is also an input of this window; choose another name.");
    EXPECT_EQ(Content(second), laidOver);

    // A damaged file: a message naming the file and the line, and no window.
    prompter->Clear();
    bool opened = false;
    CResultsWindow::Open(services, &owner, QString::fromStdString(broken),
                         [&](CResultsWindow*) { opened = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompter->Asked().empty(); }, 20000));
    EXPECT_FALSE(opened);
    EXPECT_TRUE(BoxTexts().front().startsWith(QString::fromStdString(broken + ", line 3: ")))
        << BoxTexts().front().toStdString();

    // A FIFO is refused at once instead of holding the reader until someone writes to it.
    const std::string fifo = (folder / "fifo.csv").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    prompter->Clear();
    CResultsWindow::Open(services, &owner, QString::fromStdString(fifo),
                         [&](CResultsWindow*) { opened = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !prompter->Asked().empty(); }, 20000));
    EXPECT_FALSE(opened);
    EXPECT_EQ(BoxTexts().front(), QString::fromStdString(fifo + ": not a regular file"));
    delete window;
}

// The results window uses its space: at a bigger size the chart (made again at that size) and the
// table are bigger, the compared columns fit without scrolling; a Smart report opens wide enough
// for its table.
TEST_F(ResultsPage, TheResultsWindowGrowsItsChartAndTableWithTheWindow) {
    auto* window = new CResultsWindow(services, Made(100, "ORIONDSC"), QStringLiteral("/tmp/first.csv"));
    ASSERT_TRUE(window->Compare(Made(200, "LYRADISC"), QStringLiteral("/tmp/second.csv")));
    window->show();
    QSize chart;
    QSize table;
    for (const QSize size : {QSize(700, 600), QSize(1100, 900)}) {
        SCOPED_TRACE(size.width());
        window->resize(size);
        // The chart is made again once the size settles, filling its place.
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                CScanChart* c = window->Chart();
                return c->size() == c->parentWidget()->size() &&
                       c->Canvas().GridLayer().width() >= c->width() - 8;
            },
            5000))
            << window->Chart()->width() << "x" << window->Chart()->height() << " in "
            << window->Chart()->parentWidget()->width() << "x" << window->Chart()->parentWidget()->height()
            << ", layer " << window->Chart()->Canvas().GridLayer().width();
        const QSize nowChart = window->Chart()->size();
        const QSize nowTable = window->Figures()->size();
        EXPECT_GT(nowChart.width(), chart.width());
        EXPECT_GT(nowChart.height(), chart.height());
        EXPECT_GT(nowTable.width(), table.width());
        EXPECT_GT(nowTable.height(), table.height());
        EXPECT_LE(window->Figures()->horizontalHeader()->length(), window->Figures()->viewport()->width());
        // Both results are drawn on the new chart.
        const QImage plot = window->Chart()->Canvas().PlotLayer();
        EXPECT_GT(PixelsOf(plot, chart_style::kTeColour), 100);
        EXPECT_GT(ComparedTePixels(window->Chart()->Canvas()), 100);
        chart = nowChart;
        table = nowTable;
    }
    delete window;

    ScanResults smart = Made(100, "ORIONDSC");
    smart.kind = ScanResults::Kind::Smart;
    smart.samples.clear();
    smart.capacity = "4482.6 MB";
    smart.speeds = {{14, 5540, SpeedResult::Fit}, {16, 11080, SpeedResult::OverLimit}};
    auto* report = new CResultsWindow(services, smart, QStringLiteral("/tmp/a-smart-report.csv"));
    report->show();
    EXPECT_LE(report->Figures()->horizontalHeader()->length(), report->Figures()->viewport()->width());
    // No column is cut: each is as wide as its longest text.
    QTableWidget* figures = report->Figures();
    for (int c = 0; c < figures->columnCount(); ++c) {
        for (int r = 0; r < figures->rowCount(); ++r) {
            const QString text = figures->item(r, c)->text();
            EXPECT_GE(figures->columnWidth(c), figures->fontMetrics().horizontalAdvance(text))
                << text.toStdString();
        }
    }
    delete report;
}

// The X labels of a chart, left to right.
QStringList XLabels(const ScanChartCanvas& canvas) {
    QStringList labels;
    const std::vector<ChartLabel> all = canvas.Labels();
    for (size_t i = 5; i < all.size(); ++i) labels << all[i].text;  // after the five Y labels
    return labels;
}

// A Customize scan of 0-300000: the Probix page's chart keeps the whole disc, the results window's
// spans the positions measured, so that the curves fill its plot instead of a strip at its left.
TEST_F(ResultsPage, TheResultsWindowsChartSpansTheMeasuredRangeAndThePagesTheDisc) {
    AddDrive().Insert("dvd+r");
    OpenPage();
    Tick();
    ChooseMode(SamplingMode::Customize);
    Control<QLineEdit>(CTEFE::kStartEditId)->setText("0");
    Control<QLineEdit>(CTEFE::kEndEditId)->setText("300000");
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(XLabels(Chart()->Canvas()),
              (QStringList{"0", "459020", "918040", "1377060", "1836080", "2295103"}));

    page->findChild<QAction*>(QString::fromLatin1(CTEFE::kShowResultsName))->trigger();
    auto* window = page->findChild<CResultsWindow*>();
    ASSERT_NE(window, nullptr);
    const std::vector<ScanSample>& samples = window->Results().samples;
    ASSERT_GE(samples.size(), 3u);
    const ScanChartCanvas& canvas = window->Chart()->Canvas();
    const QStringList labels = XLabels(canvas);
    ASSERT_EQ(labels.size(), 6);
    EXPECT_EQ(labels.front(), QString::number(samples.front().lba));
    EXPECT_EQ(labels.back(), QString::number(samples.back().lba));
    EXPECT_LE(labels.back().toInt(), 300000);
    EXPECT_GT(labels.back().toInt(), 200000);
    // The TE curve reaches the plot's right edge.
    const QImage plot = canvas.PlotLayer();
    const ChartLayout layout = canvas.Layout();
    int rightmost = -1;
    for (int y = layout.plotTop; y <= layout.plotBottom; ++y)
        for (int x = 0; x < plot.width(); ++x)
            if (plot.pixel(x, y) == chart_style::kTeColour) rightmost = std::max(rightmost, x);
    EXPECT_GE(rightmost, layout.plotRight - 2);
    delete window;
}

// Compare at the window's default size: each figure of both runs in a cell of one line, and the
// compared file's long path shortened in its middle on a line of its own.
TEST_F(ResultsPage, TheCompareTableFitsOneLineARowAndPathsAreShortenedInTheMiddle) {
    const QString folder = QStringLiteral("/home/someone/Discs/results of the spring test series/") +
                           QString(120, QLatin1Char('x'));
    const QString first = folder + QStringLiteral("/first.csv");
    const QString second = folder + QStringLiteral("/second.csv");
    auto* window = new CResultsWindow(services, Made(100, "ORIONDSC"), first);
    ASSERT_TRUE(window->Compare(Made(200, "LYRADISC"), second));
    window->show();
    QApplication::processEvents();
    const QSize opened = window->size();

    QTableWidget* figures = window->Figures();
    const int oneLine = figures->fontMetrics().lineSpacing();
    ASSERT_EQ(figures->rowCount(), kScanZoneCount + 1);
    ASSERT_GT(figures->columnCount(), 4);
    for (int r = 0; r < figures->rowCount(); ++r) {
        SCOPED_TRACE(r);
        EXPECT_LT(figures->rowHeight(r), 2 * oneLine);
        for (int c = 0; c < figures->columnCount(); ++c) {
            const QString text = figures->item(r, c)->text();
            EXPECT_LE(figures->fontMetrics().horizontalAdvance(text), figures->columnWidth(c))
                << text.toStdString();
        }
    }
    EXPECT_LE(figures->horizontalHeader()->length(), figures->viewport()->width());

    struct PathLine {
        const char* name;
        QString lead;
        QString path;
    };
    for (const PathLine& line :
         {PathLine{"resultsFile", QStringLiteral("File: "), first},
          PathLine{"resultsComparedWith", QStringLiteral("Compared file: "), second}}) {
        SCOPED_TRACE(line.name);
        auto* label = window->findChild<QLabel*>(QLatin1String(line.name));
        ASSERT_NE(label, nullptr);
        const QString text = label->text();
        EXPECT_EQ(label->toolTip(), line.path);
        ASSERT_TRUE(text.startsWith(line.lead + QStringLiteral("/home/someone/"))) << text.toStdString();
        EXPECT_TRUE(text.endsWith(line.path.mid(line.path.lastIndexOf(QLatin1Char('/')))))
            << text.toStdString();
        EXPECT_TRUE(text.contains(QChar(0x2026))) << text.toStdString();
        EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width());
        EXPECT_LT(label->height(), 2 * label->fontMetrics().lineSpacing());
    }
    // The paths did not widen the window.
    EXPECT_EQ(window->size(), opened);
    EXPECT_LE(window->width(), 700);
    delete window;
}

// File > Exit ends the program even while a reading is stuck (a file on a hung network share):
// the end of the program joins the drive workers, never a reader.
TEST_F(ResultsPage, TheEndOfTheProgramDoesNotWaitForAReader) {
    QObject owner;
    auto* workers = new Workers(&owner);
    std::promise<void> release;
    std::shared_future<void> held = release.get_future().share();
    std::atomic<bool> read{false};
    workers->StartUnjoined([held, &read](const WorkerContext&) {
        held.wait();
        read = true;
    });
    JoinAllWorkers();
    EXPECT_FALSE(read);
    release.set_value();
    EXPECT_TRUE(QTest::qWaitFor([&] { return read.load(); }, 20000));
}

}  // namespace
}  // namespace dravix
