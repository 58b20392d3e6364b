// The Probix page inside the main window: while a run goes, ScanIdle lets the main window's timer
// lock the drive list and the other pages' buttons, and gives them back when the run ends; the
// commands of the window's start and of a click on the Probix tab; F1 in its modal Smart report
// opens the report's guide page.

#include <QComboBox>
#include <QShortcut>
#include <QTextBrowser>

#include "app/HelpWindow.h"
#include "app/MainDialog.h"
#include "app/PageRegistry.h"
#include "probix/ScanTexts.h"
#include "scan/SmartReport.h"
#include "tests/scan/PageTestSupport.h"
#include "tests/support/CommandNames.h"

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
    page = FindPage<CTEFE>(window);
    ASSERT_NE(page, nullptr);
    window.Sheet()->SetActivePage(page);
    ASSERT_TRUE(page->IsInitialised());
    ASSERT_TRUE(test::Settle(window));
    PollTimer().stop();
    Tick();
    ASSERT_EQ(StatusText(), QString::fromLatin1(scan_texts::kReady));

    gate.Install(drive);
    gate.Allow(2 + 5);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(8));
    window.OnTimer();
    EXPECT_FALSE(window.DriveList()->isEnabled());

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
    EXPECT_TRUE(window.DriveList()->isEnabled());
    EXPECT_TRUE(wopc->Control(1030)->isEnabled());
    EXPECT_TRUE(wopc->Control(1031)->isEnabled());

    // STOP gives them back as well.
    window.Sheet()->SetActivePage(page);
    gate.Install(drive);
    ClickStart();
    window.OnTimer();
    EXPECT_FALSE(window.DriveList()->isEnabled());
    ClickStop();
    window.OnTimer();
    EXPECT_TRUE(window.DriveList()->isEnabled());
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->WorkerCount() == 0; }, 20000));
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
    // The probe, the page's first read inside its vendor mode, the off, the page's second read.
    EXPECT_EQ(test::CommandNames(bus.Commands()),
              then(then(then({"INQUIRY", "TEST UNIT READY", "vendor mode on", "feature list"}, information),
                        {"vendor mode off"}),
                   information));

    bus.ClearCommands();
    page = FindPage<CTEFE>(window);
    ASSERT_NE(page, nullptr);
    window.Sheet()->SetActivePage(page);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !page->SpeedCodes().empty(); }, 20000));
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
    page = FindPage<CTEFE>(window);
    ASSERT_NE(page, nullptr);
    window.Sheet()->SetActivePage(page);
    ASSERT_TRUE(test::Settle(window));
    PollTimer().stop();
    Tick();
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

}  // namespace
}  // namespace dravix
