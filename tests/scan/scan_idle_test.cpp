// The Probix page inside the main window: while a run goes, ScanIdle lets the main window's timer
// lock the drive list and the other pages' buttons, and gives them back when the run ends; the
// commands of the window's start and of a click on the Probix tab; F1 in its modal Smart report
// opens the report's guide page; a run whose drive is pulled out keeps its curves when the drive's
// pages go.

#include <QComboBox>
#include <QShortcut>
#include <QTemporaryDir>
#include <QTextBrowser>

#include "app/HelpWindow.h"
#include "app/MainDialog.h"
#include "app/PageRegistry.h"
#include "chart/ChartStyle.h"
#include "drive/Trace.h"
#include "probix/ResultsFileReader.h"
#include "probix/ScanTexts.h"
#include "scan/ResultsWindow.h"
#include "scan/SmartReport.h"
#include "tests/scan/PageTestSupport.h"
#include "tests/support/CommandNames.h"
#include "tests/support/LibraryDrives.h"
#include "tests/support/MainWindowControls.h"

namespace dravix {
namespace {

class ScanInMainWindow : public scan_test::PageFixture {
  protected:
    void TearDown() override {
        page = nullptr;  // the sheet owns it
        PageFixture::TearDown();
    }

    PageFactory WithProbix() {
        return [this, others = DefaultPageFactory(services)](uint8_t code) -> PropertyPage* {
            return code == 1 ? new CTEFE(services) : others(code);
        };
    }

    template <typename T>
    static T* FindPage(CMainDialog& window) {
        for (int i = 0; i < window.Sheet()->PageCount(); ++i) {
            if (auto* found = qobject_cast<T*>(window.Sheet()->Page(i))) return found;
        }
        return nullptr;
    }

    // Brings the Probix page of `window` to the front and polls the disc once by hand (the poll
    // timer stopped), as a user who waits for "Ready." before pressing START.
    ::testing::AssertionResult ShowProbix(CMainDialog& window) {
        page = FindPage<CTEFE>(window);
        if (page == nullptr) return ::testing::AssertionFailure() << "the window has no Probix page";
        window.Sheet()->SetActivePage(page);
        if (!test::Settle(window)) return ::testing::AssertionFailure() << "the window did not settle";
        PollTimer().stop();
        Tick();
        return ::testing::AssertionSuccess();
    }
};

TEST_F(ScanInMainWindow, ARunLocksTheDriveListAndOtherPagesButtonsUntilItEnds) {
    auto& drive = AddDrive();
    drive.SetFeatureCodes({1, 2});
    drive.Insert("dvd+r");
    CMainDialog window(services, WithProbix());
    window.OnInitDialog();
    ASSERT_TRUE(test::Settle(window));
    PropertyPage* wopc = nullptr;
    for (int i = 0; i < window.Sheet()->PageCount(); ++i) {
        if (window.Sheet()->Page(i)->DialogId() == 105) wopc = window.Sheet()->Page(i);
    }
    ASSERT_NE(wopc, nullptr);
    window.Sheet()->SetActivePage(wopc);
    ASSERT_TRUE(test::Settle(window));
    ASSERT_TRUE(ShowProbix(window));
    ASSERT_TRUE(page->IsInitialised());
    ASSERT_EQ(StatusText(), QString::fromLatin1(scan_texts::kReady));

    gate.Install(drive);
    gate.Allow(2 + 5);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(8));
    window.OnTimer();
    EXPECT_FALSE(test::DriveListOf(window)->isEnabled());

    // The user looks at the WOPC page again while the run goes on. Its read takes its turn at the drive
    // between two of the run's commands.
    window.Sheet()->SetActivePage(wopc);
    gate.Allow(1);
    ASSERT_TRUE(test::Settle(*wopc));
    ASSERT_TRUE(gate.WaitArrived(9));
    window.OnTimer();
    EXPECT_FALSE(wopc->Control(1030)->isEnabled());
    EXPECT_FALSE(wopc->Control(1031)->isEnabled());

    gate.Open();
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(BoxTexts().back(), QString::fromLatin1(scan_texts::kVerdictOk));
    window.OnTimer();
    EXPECT_TRUE(test::DriveListOf(window)->isEnabled());
    EXPECT_TRUE(wopc->Control(1030)->isEnabled());
    EXPECT_TRUE(wopc->Control(1031)->isEnabled());

    // STOP gives them back as well.
    window.Sheet()->SetActivePage(page);
    gate.Install(drive);
    ClickStart();
    window.OnTimer();
    EXPECT_FALSE(test::DriveListOf(window)->isEnabled());
    ClickStop();
    window.OnTimer();
    EXPECT_TRUE(test::DriveListOf(window)->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::RunningWorkers(*page) == 0; }, 20000));
}

// The window's start and a click on the Probix tab send what their sequences ask for, in order,
// and nothing more: each window's own drive list and ready-wait once, vendor mode on and off once
// per window, one disc poll.
TEST_F(ScanInMainWindow, StartAndProbixTabSendTheirSequencesAndNothingMore) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    // The disc has been reported: no wait for a medium change in what follows.
    const uint8_t testUnitReady[6] = {};
    drive.Execute(testUnitReady, sizeof testUnitReady, 0, nullptr, 0, 0);
    bus.ClearCommands();

    // The Information page's read: its drive list, its ready-wait, then its fields.
    const std::vector<std::string> information = {
        "INQUIRY",    "TEST UNIT READY",   "TEST UNIT READY",    "MODE SENSE",
        "REPORT KEY", "GET CONFIGURATION", "READ DVD STRUCTURE", "GET PERFORMANCE"};
    auto then = [](std::vector<std::string> first, const std::vector<std::string>& second) {
        first.insert(first.end(), second.begin(), second.end());
        return first;
    };

    CMainDialog window(services, WithProbix());
    window.OnInitDialog();
    ASSERT_TRUE(test::Settle(window));
    // The probe and its vendor mode off, then the sheet with the Information page: its reads at
    // its initialisation and at its activation.
    EXPECT_EQ(test::CommandNames(bus.Commands()),
              then(then({"INQUIRY", "TEST UNIT READY", "vendor mode on", "feature list", "vendor mode off"},
                        information),
                   information));

    bus.ClearCommands();
    page = FindPage<CTEFE>(window);
    ASSERT_NE(page, nullptr);
    window.Sheet()->SetActivePage(page);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !test::OfferedSpeedCodes(*page).empty(); }, 20000));
    // The Information page reads as it is left; the Probix page lists the drives, takes vendor
    // mode and polls the disc at its timer's first tick.
    EXPECT_EQ(test::CommandNames(bus.Commands()),
              then(information,
                   {"INQUIRY", "vendor mode on", "TEST UNIT READY", "GET CONFIGURATION", "GET PERFORMANCE"}));
}

// The report is modal: it shuts the main window's F1 out, and every window but its own.
TEST_F(ScanInMainWindow, F1InTheSmartReportOpensItsGuidePageInAWindowThatTakesInput) {
    auto& drive = AddDrive();
    drive.SetFeatureCodes({1});
    drive.Insert("dvd+r");
    CMainDialog window(services, WithProbix());
    window.OnInitDialog();
    ASSERT_TRUE(test::Settle(window));
    window.show();
    ASSERT_TRUE(ShowProbix(window));
    ChooseMode(SamplingMode::Smart);

    auto bringToFront = [](QWidget& front) {
        front.activateWindow();
        QApplication::setActiveWindow(&front);
    };
    QString shownInReport;
    int keysTaken = 0;
    dialogScript = [&](QDialog& dialog) {
        auto& report = static_cast<CSmartReportDlg&>(dialog);
        report.show();
        bringToFront(report);
        QTest::keyClick(&report, Qt::Key_F1);
        HelpWindow* help = window.Help();
        if (help == nullptr || !help->isVisible()) {
            ADD_FAILURE() << "F1 opened no help window";
        } else {
            shownInReport = help->Browser()->source().fileName();
            // A window that the modal report blocks would not get its application-wide keys.
            auto* probe = new QShortcut(QKeySequence(Qt::Key_F2), help);
            probe->setContext(Qt::ApplicationShortcut);
            QObject::connect(probe, &QShortcut::activated, [&keysTaken] { ++keysTaken; });
            bringToFront(*help);
            QTest::keyClick(help, Qt::Key_F2);
        }
        EXPECT_TRUE(QTest::qWaitFor([&] { return report.MeasurementDone(); }, 30000));
        report.findChild<QPushButton*>(ControlName(CSmartReportDlg::kExitId))->click();
        return dialog.result();
    };
    ClickStart();
    ASSERT_TRUE(test::Settle(*page));
    EXPECT_EQ(shownInReport, QStringLiteral("smart-report.html"));
    EXPECT_EQ(keysTaken, 1);
    // The guide stays open when the report closes.
    ASSERT_NE(window.Help(), nullptr);
    EXPECT_TRUE(window.Help()->isVisible());
}

// The drive is pulled out after six samples. The run ends with "The drive is no longer there.";
// the rescan then takes the drive's pages away, and the six samples stay, drawn, in a results
// window that saves them. Plugged in again, the drive is probed and scanned as at start-up.
TEST_F(ScanInMainWindow, ARunWhoseDriveIsPulledOutKeepsItsCurvesInAResultsWindow) {
    auto& drive = AddDrive();
    drive.SetFeatureCodes({1});
    drive.Insert("dvd+r");
    CMainDialog window(services, WithProbix());
    window.OnInitDialog();
    ASSERT_TRUE(test::Settle(window));
    ASSERT_TRUE(ShowProbix(window));
    ASSERT_EQ(StatusText(), QString::fromLatin1(scan_texts::kReady));

    gate.Install(drive);
    gate.Allow(2 + 5);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(2 + 6));  // the sixth sample is answered, its answer held
    bus.Os().RemoveNode("/dev/sr0");
    bus.Os().RemoveNode("/dev/sg0");
    gate.Allow(1);
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(BoxTexts().back(), QString::fromLatin1(scan_texts::kDriveGone));
    const std::optional<ScanResults> last = test::KeptRun(*page);
    ASSERT_TRUE(last.has_value());
    const std::vector<ScanSample> measured = last->samples;
    ASSERT_EQ(measured.size(), 6u);

    window.Rescan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::DriveListOf(window)->count() == 0; }, 20000));
    ASSERT_TRUE(test::Settle(window));
    page = nullptr;  // gone with its drive
    EXPECT_EQ(window.Sheet()->PageCount(), 0);
    EXPECT_TRUE(window.Diagnosis().startsWith(QStringLiteral("No Device found!")));

    auto* kept = window.findChild<CResultsWindow*>();
    ASSERT_NE(kept, nullptr);
    EXPECT_TRUE(kept->isVisible());
    const auto samePoints = [&](const std::vector<ScanSample>& samples) {
        if (samples.size() != measured.size()) return false;
        for (size_t i = 0; i < samples.size(); ++i) {
            if (samples[i].lba != measured[i].lba || samples[i].tePercent != measured[i].tePercent ||
                samples[i].fePercent != measured[i].fePercent)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(samePoints(kept->Results().samples));
    EXPECT_EQ(kept->Results().outcome, RunOutcome::Failed);
    EXPECT_NE(kept->Results().verdictText.find(scan_texts::kDriveGone), std::string::npos);
    // Every point but the last starts a drawn segment of each curve (a line leaves its last pixel).
    auto* area = kept->findChild<QWidget*>(QStringLiteral("resultsChartArea"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return kept->Chart()->size() == area->size(); }, 5000));
    const QImage plot = kept->Chart()->Canvas().PlotLayer();
    const ChartLayout layout = kept->Chart()->Canvas().Layout();
    const auto at = [&](int32_t lba, uint16_t percent) {
        return plot.pixel(layout.plotLeft + static_cast<int>(lba * layout.xFactor),
                          layout.plotBottom - static_cast<int>(percent * layout.yFactor));
    };
    for (size_t i = 0; i + 1 < measured.size(); ++i) {
        EXPECT_EQ(at(measured[i].lba, measured[i].tePercent), chart_style::kTeColour) << i;
        EXPECT_EQ(at(measured[i].lba, measured[i].fePercent), chart_style::kFeColour) << i;
    }

    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("pulled.csv"));
    EXPECT_EQ(kept->SaveResults(path), QString());
    const ResultsRead read = ReadResultsFile(QFile::encodeName(path).toStdString());
    ASSERT_TRUE(read.results.has_value()) << read.error;
    EXPECT_TRUE(samePoints(read.results->samples));
    EXPECT_TRUE(kept->windowTitle().endsWith(QStringLiteral("pulled.csv")));

    // The drive is back.
    bus.Os().AddDrive(
        0, [&drive](sg_io_hdr_t& r) { return test::ExecuteOnVirtualDrive(drive, r); }, 0);
    window.Rescan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::DriveListOf(window)->count() == 1; }, 20000));
    ASSERT_TRUE(test::Settle(window));
    ASSERT_TRUE(ShowProbix(window));
    ASSERT_EQ(StatusText(), QString::fromLatin1(scan_texts::kReady));
    gate.Open();
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(BoxTexts().back(), QString::fromLatin1(scan_texts::kVerdictOk));
    ASSERT_TRUE(test::KeptRun(*page).has_value());
    EXPECT_EQ(test::KeptRun(*page)->samples.size(), 64u);
}

// The virtual drive's library with two drives, the maker's first, pulled out after six samples:
// the run says "The drive is no longer there." (once), its curves go to a results window, and the
// window looks for the drives by itself. The other maker's drive it then probes gets the diagnosis
// line, not the not-supported dialog (the user chose no drive), and the drive list is usable again:
// the drive plugged in again is listed and chosen without a restart.
TEST_F(ScanInMainWindow, TheFirstOfTwoDrivesPulledOutMidRunOnTheAspiPath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    emu::DriveState maker = emu::FactoryState(emu::DriveKind::Maker);
    maker.featureCodes = {1};
    maker.disc = emu::Disc{"dvd+r", 0xA1};
    test::LibraryDrives drives(QFile::encodeName(dir.filePath(QStringLiteral("vdrive.json"))).toStdString(),
                               {maker, emu::FactoryState(emu::DriveKind::OtherMaker)});
    services.drives = drives.Drives();

    CMainDialog window(services, WithProbix());
    window.OnInitDialog();
    ASSERT_TRUE(test::Settle(window));
    ASSERT_TRUE(ShowProbix(window));
    ASSERT_EQ(StatusText(), QString::fromLatin1(scan_texts::kReady));
    std::atomic<int> measured{0};
    SetTraceSink([&](const CommandTrace& trace) {
        if (test::CommandName(trace.cdb) == "TE/FE measurement" && trace.status == 0 && ++measured == 6)
            drives.Scenario().RemoveDrive(0);
    });
    test::TimerOf(window).stop();
    ClickStart();
    window.OnTimer();  // the run locks the drive list, as the timer has it
    EXPECT_FALSE(test::DriveListOf(window)->isEnabled());
    const bool pagesGone = QTest::qWaitFor([&] { return window.Sheet()->PageCount() == 0; }, 20000);
    SetTraceSink(nullptr);
    page = nullptr;  // gone with its drive
    ASSERT_TRUE(pagesGone);
    ASSERT_TRUE(test::Settle(window));

    const std::vector<QString> boxes = BoxTexts();
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), QString::fromLatin1(scan_texts::kDriveGone)), 1);
    EXPECT_EQ(std::count(boxes.begin(), boxes.end(), QString::fromLatin1(scan_texts::kFirmwareNotSupported)),
              0);
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(window.Diagnosis().startsWith(QStringLiteral("The drive refused the maker's vendor mode")));
    EXPECT_NE(window.findChild<CResultsWindow*>(), nullptr);
    EXPECT_EQ(test::DriveListOf(window)->count(), 1);
    EXPECT_TRUE(test::DriveListOf(window)->isEnabled());

    drives.Scenario().AddDrive(maker);  // plugged in again: it takes the target it had
    window.Rescan();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::DriveListOf(window)->count() == 2; }, 20000));
    ASSERT_TRUE(test::Settle(window));
    EXPECT_TRUE(test::DriveListOf(window)->itemText(0).endsWith(QStringLiteral("virtual drive at target 0")));
    test::DriveListOf(window)->setCurrentIndex(0);
    window.OnDriveListChanged(0);
    ASSERT_TRUE(test::Settle(window));
    EXPECT_NE(FindPage<CTEFE>(window), nullptr);
    EXPECT_TRUE(dialogs.empty());
}

}  // namespace
}  // namespace dravix
