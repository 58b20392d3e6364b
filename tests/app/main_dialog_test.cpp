// The main window on virtual drives: start-up order and texts, the drive list, the page set and
// its order, the timer that locks controls while a scan runs, help, and vendor mode off at the end.

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QUrl>
#include <cerrno>
#include <functional>
#include <map>

#include "app/DriveWatcher.h"
#include "app/HelpWindow.h"
#include "app/MainDialog.h"
#include "chart/ScanChart.h"
#include "drive/Messages.h"
#include "drive/Support.h"
#include "emu/Scenario.h"
#include "probix/ResultsFileReader.h"
#include "procedures/SupportTexts.h"
#include "scan/ResultsWindow.h"
#include "scan/TeFe.h"
#include "tests/scan/TeFeControls.h"
#include "tests/support/MainWindowControls.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/Settle.h"
#include "tests/support/VirtualBus.h"
#include "turns/AppState.h"
#include "turns/WorkerThreads.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kVendorOn = {0xFD, 0xF1, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
const Bytes kVendorOff = {0xFD, 0xF2, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};

// A page that records what the sheet does to it and carries the controls a scan locks.
class FakePage final : public PropertyPage {
  public:
    FakePage(const AppServices& services, int dialogId, const char* title, std::vector<int> controls,
             ScanLock lock, std::vector<std::string>* log)
        : PropertyPage(dialogId, QString::fromLatin1(title), 152, services),
          m_lock(std::move(lock)),
          m_log(log) {
        for (int id : controls) {
            auto* button = new QPushButton(QStringLiteral("button"), this);
            SetControlId(button, id);
        }
    }
    ~FakePage() override { m_log->push_back("destroy " + Title().toStdString()); }
    void OnSheetNotify() override { m_log->push_back("notify " + Title().toStdString()); }
    ScanLock LockedByScan() const override { return m_lock; }

  protected:
    void OnInitDialog() override { m_log->push_back("init " + Title().toStdString()); }

  private:
    ScanLock m_lock;
    std::vector<std::string>* m_log;
};

struct MainDialogTest : ::testing::Test {
    MainDialogTest() { services.drives = bus.Drives(); }

    test::VirtualBus bus;
    std::shared_ptr<test::ScriptedPrompter> prompter = std::make_shared<test::ScriptedPrompter>();
    std::vector<std::string> dialogs;  // class names of the modal dialogs run
    std::vector<std::string> pageLog;
    std::vector<QUrl> opened;
    bool openSucceeds = true;

    AppServices services;

    void SetUp() override {
        services.prompter = prompter;
        services.dialogRunner = [this](QDialog& d) {
            dialogs.emplace_back(d.metaObject()->className());
            return int(QDialog::Accepted);
        };
        services.urlOpener = [this](const QUrl& url) {
            opened.push_back(url);
            return openSucceeds;
        };
    }

    PageFactory FakePages() {
        return [this](uint8_t code) -> PropertyPage* {
            static const std::map<uint8_t, std::pair<int, std::vector<int>>> kPages = {
                {0, {154, {1015}}},       {5, {104, {1016, 1029, 1017, 1018, 1019, 1021}}},
                {1, {136, {1009, 1010}}}, {2, {105, {1030, 1031}}},
                {3, {106, {1010, 1015}}}, {6, {177, {1067}}},
                {7, {178, {1073}}},
            };
            static const std::map<uint8_t, const char*> kTitles = {
                {0, "Information"}, {5, "Book Type"}, {1, "Probix"},    {2, "WOPC"},
                {3, "Test Write"},  {6, "Lumard"},    {7, "OverSpeed"},
            };
            // As the real pages say it: the Information, WOPC and Test Write buttons follow the
            // scan; of the Book type buttons only the checks come back, once.
            static const std::map<uint8_t, ScanLock> kLocks = {
                {0, {.controls = {1015}}},
                {5, {.untilGivenBack = {1016, 1029, 1017, 1018, 1019, 1021}, .givenBack = {1016, 1019}}},
                {2, {.controls = {1030, 1031}}},
                {3, {.controls = {1010, 1015}}},
            };
            if (!kTitles.contains(code)) return nullptr;
            const auto& [dialog, controls] = kPages.at(code);
            const auto lock = kLocks.find(code);
            return new FakePage(services, dialog, kTitles.at(code), controls,
                                lock != kLocks.end() ? lock->second : ScanLock{}, &pageLog);
        };
    }

    static std::vector<std::string> Tabs(CMainDialog& window) {
        std::vector<std::string> tabs;
        for (int i = 0; i < window.Sheet()->PageCount(); ++i) {
            tabs.push_back(window.Sheet()->tabText(i).toStdString());
        }
        return tabs;
    }

    // The window's initialisation, run to its end.
    static void Open(CMainDialog& window) {
        window.OnInitDialog();
        EXPECT_TRUE(test::Settle(window));
    }

    // The drive list's user choice (the list reports an activation, as a click does), and the
    // probe it starts run to its end.
    static void Choose(CMainDialog& window, int line) {
        test::DriveListOf(window)->setCurrentIndex(line);
        window.OnDriveListChanged(line);
        EXPECT_TRUE(test::Settle(window));
    }

    size_t Count(const Bytes& cdb) const {
        const auto all = bus.Commands();
        return static_cast<size_t>(std::count(all.begin(), all.end(), cdb));
    }
};

TEST_F(MainDialogTest, StartsWithTheWarningThenListsTheDrivesAndShowsThePages) {
    bus.AddDrive().SetFeatureCodes({1, 2, 3, 5, 6, 7});
    bus.AddDrive(emu::DriveKind::OtherMaker);
    CMainDialog window(services, FakePages());
    Open(window);

    ASSERT_EQ(prompter->asked.size(), 1u);
    const PromptRecord& warning = prompter->asked[0];
    EXPECT_EQ(warning.caption, QStringLiteral("Dravix version 2.0"));
    EXPECT_EQ(warning.text, QString::fromLatin1(kStartupWarning));
    EXPECT_TRUE(warning.text.startsWith(QStringLiteral("\n                  +++  Warning  +++")));
    EXPECT_EQ(warning.icon, PromptIcon::Exclamation);
    EXPECT_EQ(warning.buttons, PromptButtons::Ok);

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Dravix Ver.2.0"));
    ASSERT_EQ(test::DriveListOf(window)->count(), 2);
    // The 28-character label, then the drive's nodes.
    EXPECT_EQ(test::DriveListOf(window)->itemText(0).mid(28), QStringLiteral(" \u2014 /dev/sr0, /dev/sg0"));
    EXPECT_EQ(test::DriveListOf(window)->currentIndex(), 0);
    EXPECT_TRUE(services.State().sheetCreated);
    EXPECT_FALSE(services.State().sheetPending);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "Book Type", "Probix", "WOPC",
                                                      "Test Write", "Lumard", "OverSpeed"}));
    EXPECT_EQ(window.Sheet()->ActivePage()->Title(), QStringLiteral("Information"));
    EXPECT_EQ(pageLog, (std::vector<std::string>{"init Information"}));  // others wait until shown
    EXPECT_TRUE(test::TimerOf(window).isActive());
    EXPECT_EQ(test::TimerOf(window).interval(), 600);
    // The probe leaves the drive out of vendor mode.
    EXPECT_EQ(bus.Commands().back(), kVendorOff);
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(MainDialogTest, MenuCarriesItsTextsAndCommandIds) {
    bus.AddDrive();
    CMainDialog window(services, FakePages());
    std::vector<std::pair<std::string, std::string>> items;
    for (QAction* menu : test::MenuBarOf(window)->actions()) {
        for (QAction* item : menu->menu()->actions()) {
            items.emplace_back(item->objectName().toStdString(), item->text().toStdString());
        }
        items.emplace_back("menu", menu->text().toStdString());
    }
    EXPECT_EQ(items, (std::vector<std::pair<std::string, std::string>>{
                         {"id32773", "&Save      Ctrl+S"},
                         {"rescanDrives", "&Rescan Drives"},
                         {"openScanResults", "&Open Scan Results..."},
                         {"settings", "Se&ttings..."},
                         {"id32774", "E&xit       Ctrl+X"},
                         {"menu", "File(&F)"},
                         {"readTest", "&Read Test\u2026"},
                         {"writeTest", "&Write Test\u2026"},
                         {"makeReport", "&Make Report\u2026"},
                         {"menu", "Tools(&T)"},
                         {"id32775", "Dravix Help    F1"},
                         {"copyDriveReport", "Copy Drive Report"},
                         {"", ""},
                         {"id32776", "&About             Ctrl+A"},
                         {"menu", "Help(&H)"},
                     }));
}

// Of the key names in the menu only Ctrl+S (and F1) act; the common cut and select-all keys must
// neither close the window nor open the About box.
TEST_F(MainDialogTest, CtrlSSavesWhileCtrlXAndCtrlAStayInert) {
    bus.AddDrive();
    CMainDialog window(services, FakePages());
    Open(window);
    int saves = 0;
    services.saveHandler = [&](QWidget&) { ++saves; };
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    dialogs.clear();

    QTest::keyClick(&window, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(saves, 1);
    QTest::keyClick(&window, Qt::Key_X, Qt::ControlModifier);
    QTest::keyClick(&window, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(saves, 1);
    EXPECT_FALSE(window.Closed());
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(MainDialogTest, TransportFailureEndsTheProgramWithInitialFail) {
    auto platform = std::make_shared<test::TestPlatform>();
    platform->passThrough = false;  // an ASPI library that cannot be loaded
    services.drives.platform = platform;
    // A box runs an event loop of its own, which delivers what the worker posts while it is open:
    // "Initial fail." must still wait until the library's box is answered.
    size_t askedWhileLibraryBoxOpen = 0;
    prompter->answer = [&](const PromptRecord& record) {
        if (record.text == QString::fromLatin1(kMsgCantLoadAspi)) {
            EXPECT_TRUE(QTest::qWaitFor([] { return WorkerThreads::Program().Running() == 0; }));
            askedWhileLibraryBoxOpen = prompter->asked.size();
        }
        return PromptAnswer::Ok;
    };
    CMainDialog window(services, FakePages());
    Open(window);
    EXPECT_TRUE(window.Closed());
    EXPECT_EQ(askedWhileLibraryBoxOpen, 2u);
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{QString::fromLatin1(kStartupWarning),
                                                       QStringLiteral("Can't load WNASPI32.DLL!!"),
                                                       QStringLiteral("Initial fail.")}));
    EXPECT_EQ(prompter->asked[2].caption, AppTitle());
    EXPECT_EQ(prompter->asked[2].icon, PromptIcon::None);
    EXPECT_EQ(window.result(), QDialog::Rejected);
}

// With no drive there is nothing to probe: no "exclusive for Zarn drives" box, but the cause and
// how to see the program anyway, in the message and in the sheet's frame.
TEST_F(MainDialogTest, NoDriveSaysWhyInsteadOfTheNotSupportedDialog) {
    CMainDialog window(services, FakePages());
    Open(window);
    ASSERT_EQ(prompter->asked.size(), 2u);
    EXPECT_TRUE(prompter->asked[1].text.startsWith(QStringLiteral("No Device found!\n\n")));
    EXPECT_TRUE(prompter->asked[1].text.contains(QStringLiteral("no CD/DVD drive")));
    EXPECT_TRUE(prompter->asked[1].text.contains(QStringLiteral("dravix --virtual")));
    EXPECT_EQ(prompter->asked[1].caption, AppTitle());
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(window.Diagnosis().contains(QStringLiteral("dravix --virtual")));
    EXPECT_EQ(test::DriveListOf(window)->count(), 0);
    EXPECT_TRUE(services.State().sheetPending);
    EXPECT_FALSE(services.State().sheetCreated);
    EXPECT_FALSE(test::TimerOf(window).isActive());
}

// The kernel refuses vendor commands on the sr node while the drive's sg node is refused to us:
// the window names the kernel, both nodes and the access rule, never the not-supported dialog.
TEST_F(MainDialogTest, KernelRefusalIsToldAsSuchWithTheNodesAndTheWayToAccess) {
    emu::VirtualDrive& drive = bus.AddDrive();
    test::FakeSgSystem::Node sr;
    sr.generic = "/dev/sg0";
    sr.device = [&drive](sg_io_hdr_t& r) {
        return r.cmdp[0] == 0xFD ? -EPERM : test::ExecuteOnVirtualDrive(drive, r);
    };
    bus.Os().AddNode("/dev/sr0", sr);
    test::FakeSgSystem::Node sg;
    sg.blockDevice = false;
    sg.openError = EACCES;
    bus.Os().AddNode("/dev/sg0", sg);
    CMainDialog window(services, FakePages());
    Open(window);
    ASSERT_EQ(prompter->asked.size(), 2u);
    const QString text = prompter->asked[1].text;
    EXPECT_EQ(prompter->asked[1].caption, QStringLiteral("Warning"));
    for (const char* part :
         {"The kernel, not the drive", "/dev/sr0", "/dev/sg0", "70-dravix.rules", "administrator"}) {
        EXPECT_TRUE(text.contains(QString::fromLatin1(part))) << part << "\n" << text.toStdString();
    }
    EXPECT_FALSE(text.contains(QStringLiteral("joining the group \"root\"")));
    EXPECT_TRUE(dialogs.empty());
    EXPECT_EQ(window.Diagnosis(), text);
    EXPECT_TRUE(services.State().sheetPending);
}

// Help > "Copy Drive Report" puts the drive report on the clipboard: the drive's nodes, its
// support and the commands of its check.
TEST_F(MainDialogTest, DriveReportGoesToTheClipboard) {
    bus.AddDrive().SetFeatureCodes({5});
    CMainDialog window(services, FakePages());
    Open(window);
    // The disc poll's commands, over and over: one line with their count.
    DriveTable poll(bus.Drives());
    ASSERT_TRUE(poll.InitTransport());
    ASSERT_EQ(poll.EnumerateDrives(), 1);
    poll.SelectDrive(0);
    for (int i = 0; i < 5; ++i) {
        const uint8_t cdb[12] = {};
        poll.SendCommand(cdb, 0, nullptr, 0, 15);
    }
    QString report;
    const size_t boxes = prompter->asked.size();
    window.CopyDriveReport([&](const QString& text) { report = text; });
    EXPECT_TRUE(test::Settle(window));
    EXPECT_EQ(QGuiApplication::clipboard()->text(), report);
    ASSERT_EQ(prompter->asked.size(), boxes + 1) << report.toStdString();
    EXPECT_EQ(prompter->asked.back().text, QStringLiteral("The drive report was copied to the clipboard."));
    const QRegularExpressionMatch folded =
        QRegularExpression(QStringLiteral("CDB 00 00 00 00 00 00 -> [^\n]* \u00D7(\\d+)\n")).match(report);
    ASSERT_TRUE(folded.hasMatch()) << report.toStdString();
    EXPECT_GE(folded.captured(1).toInt(), 5);
    const QStringList lines = report.split(QLatin1Char('\n'));
    const auto sameCommand = [](const QString& a, const QString& b) {
        return a == b && a.contains(QStringLiteral("CDB"));
    };
    EXPECT_EQ(std::adjacent_find(lines.begin(), lines.end(), sameCommand), lines.end())
        << report.toStdString();
    for (const char* part :
         {"0: \"", "node /dev/sg0", "support: supported", "feature codes: 5", "CDB FD 1B 5A 41 52 4E 0E"}) {
        EXPECT_TRUE(report.contains(QString::fromLatin1(part))) << part << "\n" << report.toStdString();
    }
}

// Drives that look alike are told apart in the list; a rescan keeps the chosen drive (no probe,
// the same pages) when another one goes, and every table finds it by its node, not its position.
// Once the chosen drive goes too, the first drive left is probed as at start-up.
TEST_F(MainDialogTest, RescanKeepsTheChosenDriveByItsNodesAndProbesAnotherWhenItGoes) {
    bus.AddDrive().SetFeatureCodes({5});
    bus.AddDrive().SetFeatureCodes({5, 1});
    CMainDialog window(services, FakePages());
    Open(window);
    ASSERT_EQ(test::DriveListOf(window)->count(), 2);
    EXPECT_TRUE(test::DriveListOf(window)->itemText(0).endsWith(QStringLiteral("\u2014 /dev/sr0, /dev/sg0")));
    EXPECT_TRUE(test::DriveListOf(window)->itemText(1).endsWith(QStringLiteral("\u2014 /dev/sr1, /dev/sg1")));
    Choose(window, 1);
    const std::vector<std::string> tabs = Tabs(window);
    ASSERT_EQ(tabs, (std::vector<std::string>{"Information", "Book Type", "Probix"}));

    // A page's table, listed before the rescan.
    DriveTable page(bus.Drives());
    ASSERT_TRUE(page.InitTransport());
    ASSERT_EQ(page.EnumerateDrives(), 2);
    page.SetListingGeneration(services.State().driveListGeneration);

    bus.Os().RemoveNode("/dev/sr0");
    bus.Os().RemoveNode("/dev/sg0");
    bus.ClearCommands();
    // Not while a scan runs: the rescan waits for its end.
    services.State().scanIdle = 0;
    window.Rescan();
    EXPECT_FALSE(DriveSequence::AnyWorking(window));
    EXPECT_EQ(test::DriveListOf(window)->count(), 2);
    services.State().scanIdle = 1;
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::DriveListOf(window)->count() == 1; }, 5000));
    EXPECT_TRUE(test::Settle(window));
    EXPECT_EQ(services.State().selectedDriveIndex.load(), 0);
    EXPECT_TRUE(test::DriveListOf(window)->currentText().endsWith(QStringLiteral("/dev/sr1, /dev/sg1")));
    EXPECT_EQ(Count(kVendorOn), 0u);
    EXPECT_EQ(Tabs(window), tabs);
    ASSERT_TRUE(services.State().SelectChosenDrive(page));
    EXPECT_EQ(page.Entry(page.SelectedIndex()).nodes.front().path, "/dev/sr1");

    bus.Os().RemoveNode("/dev/sr1");
    bus.Os().RemoveNode("/dev/sg1");
    bus.AddDrive().SetFeatureCodes({7});
    window.Rescan();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return test::DriveListOf(window)->currentText().contains("/dev/sr2"); }, 5000));
    EXPECT_TRUE(test::Settle(window));
    EXPECT_EQ(Count(kVendorOn), 1u);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "OverSpeed"}));
    EXPECT_TRUE(services.State().SelectChosenDrive(page));
    EXPECT_EQ(page.Entry(page.SelectedIndex()).nodes.front().path, "/dev/sr2");
}

// The chosen drive pulled out while a box of the window is open, after a scan left the drive list
// locked: once the box is answered the window says "The drive is no longer there." once, probes
// the drive left without the not-supported dialog (the user chose none), and gives the list back.
TEST_F(MainDialogTest, APullOutWhileABoxIsOpenEndsWithAUsableDriveList) {
    bus.AddDrive().SetFeatureCodes({1});
    bus.AddDrive(emu::DriveKind::OtherMaker);
    CMainDialog window(services, FakePages());
    Open(window);
    test::TimerOf(window).stop();
    services.State().scanIdle = 0;  // a scan: the timer locks the list, and then the scan ends
    window.OnTimer();
    services.State().scanIdle = 1;
    ASSERT_FALSE(test::DriveListOf(window)->isEnabled());
    prompter->answer = [&](const PromptRecord& record) {
        if (record.text == QString::fromLatin1(kMsgReportCopied)) {
            bus.Os().RemoveNode("/dev/sr0");
            bus.Os().RemoveNode("/dev/sg0");
            window.Rescan();  // the system's event, while the box is open
        }
        return PromptAnswer::Ok;
    };
    window.CopyDriveReport();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::DriveListOf(window)->count() == 1; }, 20000));
    ASSERT_TRUE(test::Settle(window));
    const std::vector<QString> texts = prompter->Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), QStringLiteral("The drive is no longer there.")), 1);
    EXPECT_EQ(prompter->asked.back().caption, QStringLiteral("Warning"));
    EXPECT_TRUE(dialogs.empty());
    EXPECT_TRUE(window.Diagnosis().startsWith(QStringLiteral("The drive refused the maker's vendor mode")));
    EXPECT_TRUE(test::DriveListOf(window)->isEnabled());
}

TEST_F(MainDialogTest, RefusedDriveNodesAreExplainedWithNoDeviceFound) {
    bus.Os().SetGroupName(24, "cdrom");
    test::FakeSgSystem::Node node;
    node.gid = 24;
    node.openError = EACCES;
    bus.Os().AddNode("/dev/sr0", node);
    CMainDialog window(services, FakePages());
    Open(window);
    ASSERT_GE(prompter->asked.size(), 2u);
    EXPECT_TRUE(prompter->asked[1].text.startsWith(QStringLiteral("No Device found!\n\n")));
    EXPECT_TRUE(prompter->asked[1].text.contains(QStringLiteral("/dev/sr0")));
    EXPECT_TRUE(prompter->asked[1].text.contains(QStringLiteral("\"cdrom\"")));
}

TEST_F(MainDialogTest, OtherMakersDriveThenMakersDriveThenBack) {
    bus.AddDrive(emu::DriveKind::OtherMaker);
    bus.AddDrive().SetFeatureCodes({5, 1});
    CMainDialog window(services, FakePages());
    Open(window);
    EXPECT_EQ(dialogs.size(), 1u);  // not a maker's drive: dialog 161, no sheet
    EXPECT_TRUE(services.State().sheetPending);
    EXPECT_FALSE(window.Sheet()->isVisible() && services.State().sheetCreated);

    Choose(window, 1);
    EXPECT_TRUE(services.State().sheetCreated);
    EXPECT_FALSE(services.State().sheetPending);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "Book Type", "Probix"}));
    EXPECT_EQ(services.State().selectedDriveIndex, 1);

    pageLog.clear();
    Choose(window, 0);
    EXPECT_EQ(dialogs.size(), 2u);
    EXPECT_TRUE(Tabs(window).empty());  // an empty sheet
    // The pages went in sheet order and were not woken up on their way out.
    EXPECT_EQ(pageLog,
              (std::vector<std::string>{"destroy Information", "destroy Book Type", "destroy Probix"}));

    Choose(window, 1);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "Book Type", "Probix"}));
    EXPECT_EQ(window.Sheet()->ActivePage()->Title(), QStringLiteral("Information"));
    EXPECT_EQ(dialogs.size(), 2u);
}

TEST_F(MainDialogTest, TabsFollowThePageOrderWhateverTheCodeOrder) {
    bus.AddDrive().SetFeatureCodes({7, 5, 4, 9});
    CMainDialog window(services, FakePages());
    Open(window);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "Book Type", "OverSpeed"}));
    EXPECT_TRUE(services.State().HasFeature(7));
    EXPECT_TRUE(services.State().HasFeature(5));
    EXPECT_FALSE(services.State().HasFeature(4));
}

TEST_F(MainDialogTest, NoFeatureCodesGiveTheInformationPageAloneUntilAnotherDriveIsChosen) {
    bus.AddDrive().SetFeatureCodes({});
    bus.AddDrive().SetFeatureCodes({2});
    CMainDialog window(services, FakePages());
    Open(window);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information"}));
    Choose(window, 1);
    EXPECT_EQ(pageLog.at(1), "destroy Information");
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "WOPC"}));
}

TEST_F(MainDialogTest, ChoosingTheSelectedLineAgainDoesNothing) {
    bus.AddDrive();
    bus.AddDrive();
    CMainDialog window(services, FakePages());
    Open(window);
    bus.ClearCommands();
    pageLog.clear();
    Choose(window, 0);
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_TRUE(pageLog.empty());
}

TEST_F(MainDialogTest, OldFirmwareGetsTheFirmwareMessageAndNoVendorModeOff) {
    bus.AddDrive(emu::DriveKind::OldFirmware);
    CMainDialog window(services, FakePages());
    Open(window);
    ASSERT_EQ(prompter->asked.size(), 2u);
    EXPECT_EQ(prompter->asked[1].text, QString::fromLatin1(kMsgFirmwareNotSupported));
    EXPECT_EQ(prompter->asked[1].caption, QStringLiteral("Dravix version 2.0"));
    EXPECT_EQ(prompter->asked[1].icon, PromptIcon::Exclamation);
    EXPECT_EQ(Count(kVendorOn), 1u);
    EXPECT_EQ(Count(kVendorOff), 0u);
    EXPECT_TRUE(Tabs(window).empty());
}

TEST_F(MainDialogTest, TimerLocksTheDriveListAndPageButtonsWhileAScanRuns) {
    bus.AddDrive().SetFeatureCodes({5, 2, 3});
    CMainDialog window(services, FakePages());
    Open(window);
    PropertySheet* sheet = window.Sheet();
    auto control = [&](int page, int id) { return sheet->Page(page)->Control(id); };

    services.State().scanIdle = 0;
    window.OnTimer();
    EXPECT_FALSE(test::DriveListOf(window)->isEnabled());
    EXPECT_FALSE(control(0, 1015)->isEnabled());

    sheet->SetActivePage(sheet->Page(1));  // Book Type
    window.OnTimer();
    for (int id : {1016, 1029, 1017, 1018, 1019, 1021}) EXPECT_FALSE(control(1, id)->isEnabled()) << id;
    services.State().scanIdle = 1;
    window.OnTimer();
    EXPECT_TRUE(test::DriveListOf(window)->isEnabled());
    EXPECT_TRUE(control(1, 1016)->isEnabled());
    EXPECT_TRUE(control(1, 1019)->isEnabled());
    for (int id : {1029, 1017, 1018, 1021}) EXPECT_FALSE(control(1, id)->isEnabled()) << id;
    // Once only: the page may disable its check buttons again and the next tick leaves them.
    control(1, 1016)->setEnabled(false);
    window.OnTimer();
    EXPECT_FALSE(control(1, 1016)->isEnabled());

    sheet->SetActivePage(sheet->Page(2));  // WOPC
    services.State().scanIdle = 0;
    window.OnTimer();
    EXPECT_FALSE(control(2, 1030)->isEnabled());
    EXPECT_FALSE(control(2, 1031)->isEnabled());
    services.State().scanIdle = 1;
    window.OnTimer();
    EXPECT_TRUE(control(2, 1030)->isEnabled());

    sheet->SetActivePage(sheet->Page(3));  // Test Write
    services.State().scanIdle = 0;
    window.OnTimer();
    EXPECT_FALSE(control(3, 1010)->isEnabled());
    EXPECT_FALSE(control(3, 1015)->isEnabled());
}

TEST_F(MainDialogTest, SheetNotifiesPagesAsTheyAreLeftAndActivated) {
    bus.AddDrive().SetFeatureCodes({2, 3});
    CMainDialog window(services, FakePages());
    Open(window);
    pageLog.clear();
    PropertySheet* sheet = window.Sheet();
    sheet->SetActivePage(sheet->Page(1));
    sheet->SetActivePage(sheet->Page(2));
    sheet->SetActivePage(sheet->Page(1));
    EXPECT_EQ(pageLog, (std::vector<std::string>{"notify Information", "init WOPC", "notify WOPC",
                                                 "init Test Write", "notify Test Write", "notify WOPC"}));
}

TEST_F(MainDialogTest, ClosingTakesThePagesDownWithoutWakingThem) {
    bus.AddDrive().SetFeatureCodes({2});
    auto window = std::make_unique<CMainDialog>(services, FakePages());
    Open(*window);
    window->Sheet()->SetActivePage(window->Sheet()->Page(1));
    pageLog.clear();
    window.reset();
    EXPECT_EQ(pageLog, (std::vector<std::string>{"destroy Information", "destroy WOPC"}));
}

TEST_F(MainDialogTest, HelpShowsTheGuideInItsOwnWindowOrSaysItIsMissing) {
    bus.AddDrive();
    CMainDialog window(services, FakePages());
    Open(window);
    const size_t boxes = prompter->asked.size();
    // The test programs are built beside the guide, as the program is.
    window.OpenHelpFile();
    ASSERT_NE(window.Help(), nullptr);
    EXPECT_TRUE(window.Help()->isVisible());
    EXPECT_EQ(window.Help()->Browser()->source().fileName(), QStringLiteral("index.html"));
    EXPECT_TRUE(opened.empty());  // neither a CHM viewer nor a browser is asked
    EXPECT_EQ(prompter->asked.size(), boxes);

    // A program folder (a blank in its name) with the guide in neither place.
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("bin dir")));
    window.OpenHelpFileFor(dir.path() + QStringLiteral("/bin dir"));
    ASSERT_EQ(prompter->asked.size(), boxes + 1);
    EXPECT_EQ(prompter->asked.back().text, QStringLiteral("Files could not be found on this disc."));
    EXPECT_EQ(prompter->asked.back().caption, AppTitle());
}

// F1 opens the guide at the page of what is in front: the sheet's active page, or a results
// window; the menu's item opens the first page, and Escape closes the help window.
TEST_F(MainDialogTest, F1OpensTheGuidePageOfThePageOrWindowInFront) {
    bus.AddDrive().SetFeatureCodes({1, 2, 3, 5, 6, 7});
    CMainDialog window(services, FakePages());
    Open(window);
    window.show();
    // The offscreen platform leaves activation to the program.
    auto bringToFront = [](QWidget& front) {
        front.activateWindow();
        QApplication::setActiveWindow(&front);
        ASSERT_EQ(QApplication::activeWindow(), &front);
    };
    auto pressF1 = [&bringToFront](QWidget& front) {
        bringToFront(front);
        QTest::keyClick(&front, Qt::Key_F1);
    };
    auto shown = [&window] {
        return window.Help() != nullptr && window.Help()->isVisible()
                   ? window.Help()->Browser()->source().fileName().toStdString()
                   : std::string();
    };
    const std::map<std::string, std::string> guide = {
        {"Information", "information.html"}, {"Book Type", "booktype.html"},
        {"Probix", "probix.html"},           {"WOPC", "wopc.html"},
        {"Test Write", "testwrite.html"},    {"Lumard", "lumard.html"},
        {"OverSpeed", "overspeed.html"},
    };
    ASSERT_EQ(window.Sheet()->PageCount(), static_cast<int>(guide.size()));
    for (int i = 0; i < window.Sheet()->PageCount(); ++i) {
        const std::string tab = window.Sheet()->tabText(i).toStdString();
        SCOPED_TRACE(tab);
        window.Sheet()->SetActivePage(window.Sheet()->Page(i));
        pressF1(window);
        EXPECT_EQ(shown(), guide.at(tab));
    }

    window.OpenHelpFile();
    EXPECT_EQ(shown(), "index.html");
    bringToFront(*window.Help());
    QTest::keyClick(window.Help(), Qt::Key_Escape);
    EXPECT_FALSE(window.Help()->isVisible());

    for (const auto kind : {ScanResults::Kind::Scan, ScanResults::Kind::Smart}) {
        ScanResults results;
        results.kind = kind;
        auto* opened = new CResultsWindow(services, results, QStringLiteral("/tmp/result.csv"), &window);
        opened->show();
        pressF1(*opened);
        EXPECT_EQ(shown(), kind == ScanResults::Kind::Scan ? "results-file.html" : "smart-report.html");
        opened->close();
    }

    window.OpenReadTest();
    auto* readTest = window.findChild<QDialog*>(QStringLiteral("readTestWindow"));
    ASSERT_NE(readTest, nullptr);
    pressF1(*readTest);
    EXPECT_EQ(shown(), "readtest.html");
    readTest->close();
    EXPECT_TRUE(test::Settle(window));
}

// The Probix page's run commands are the page's own: the File menu shows them while the page is
// the active one, the chart's context menu has the very same commands, and both are usable only
// once a run is kept. Saving from either menu writes the run the page keeps.
TEST_F(MainDialogTest, TheFileMenuAndTheChartMenuOfferTheRunsCommandsOnceARunIsKept) {
    QStandardPaths::setTestModeEnabled(true);  // no autosave from the user's settings
    bus.AddDrive().SetFeatureCodes({1});
    bus.Drive(0).Insert("dvd+r");
    bus.AddDrive(emu::DriveKind::OtherMaker);
    const PageFactory fakes = FakePages();
    CTEFE* probix = nullptr;
    CMainDialog window(services, [&](uint8_t code) -> PropertyPage* {
        if (code != kFeatureProbix) return fakes(code);
        probix = new CTEFE(services);
        return probix;
    });
    Open(window);
    ASSERT_NE(probix, nullptr);
    QMenu* file = test::MenuBarOf(window)->actions().front()->menu();
    // The File menu's items by name, a separator as "-".
    auto items = [file] {
        QStringList names;
        for (QAction* action : file->actions())
            names << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
        return names;
    };
    const QStringList windowsOwn = {"id32773", "rescanDrives", "openScanResults", "settings", "id32774"};
    const QStringList withRunCommands = {"id32773",
                                         "-",
                                         CTEFE::kSaveResultsName,
                                         CTEFE::kSavePictureName,
                                         CTEFE::kShowResultsName,
                                         "-",
                                         "rescanDrives",
                                         "openScanResults",
                                         "settings",
                                         "id32774"};
    auto runCommands = [file] { return file->actions().mid(2, 3); };
    auto enabled = [](const QList<QAction*>& commands) {
        return std::all_of(commands.begin(), commands.end(), [](QAction* a) { return a->isEnabled(); });
    };
    EXPECT_EQ(items(), windowsOwn);  // the Information page offers none

    window.Sheet()->SetActivePage(probix);
    ASSERT_TRUE(test::Settle(window));
    CScanChart* chart = probix->findChild<CScanChart*>();
    ASSERT_NE(chart, nullptr);
    EXPECT_EQ(items(), withRunCommands);
    const QList<QAction*> fromFile = runCommands();
    EXPECT_EQ(chart->contextMenuPolicy(), Qt::ActionsContextMenu);
    EXPECT_EQ(chart->actions(), fromFile);
    EXPECT_TRUE(std::none_of(fromFile.begin(), fromFile.end(), [](QAction* a) { return a->isEnabled(); }));

    probix->OnTimer();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::RunningWorkers(*probix) == 0; }, 20000));
    probix->OnStart();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::KeptRun(*probix).has_value(); }, 60000));
    const ScanResults kept = *test::KeptRun(*probix);
    EXPECT_TRUE(enabled(runCommands()));

    QTemporaryDir folder;
    std::vector<QString> asked;
    services.saveFileName = [&](QWidget*, const SaveQuestion& question) {
        asked.push_back(question.title);
        return folder.filePath(question.title.contains(QStringLiteral("Picture"))
                                   ? QStringLiteral("run.png")
                                   : QStringLiteral("run.csv"));
    };
    auto command = [](const QList<QAction*>& actions, const char* name) {
        const auto it = std::find_if(actions.begin(), actions.end(),
                                     [name](QAction* a) { return a->objectName() == QLatin1String(name); });
        return it != actions.end() ? *it : nullptr;
    };
    // The results from the File menu: written on the page's worker, then named in the figures.
    command(file->actions(), CTEFE::kSaveResultsName)->trigger();
    auto* status = probix->findChild<QWidget*>(ControlName(CTEFE::kStatusId));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return status->toolTip().contains(folder.filePath("run.csv")); }, 20000));
    const ResultsRead saved = ReadResultsFile(QFile::encodeName(folder.filePath("run.csv")).toStdString());
    ASSERT_TRUE(saved.results) << saved.error;
    EXPECT_EQ(saved.results->samples.size(), kept.samples.size());
    EXPECT_EQ(saved.results->statistics, kept.statistics);
    // The picture from the chart's menu.
    command(chart->actions(), CTEFE::kSavePictureName)->trigger();
    EXPECT_FALSE(QImage(folder.filePath("run.png")).isNull());
    EXPECT_EQ(asked, (std::vector<QString>{QStringLiteral("Save Scan Results"),
                                           QStringLiteral("Save Chart Picture")}));
    // The run in a results window, its figures with it, named by the file it was saved as.
    command(chart->actions(), CTEFE::kShowResultsName)->trigger();
    auto* shown = window.findChild<CResultsWindow*>();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(shown->Results().statistics, kept.statistics);
    EXPECT_EQ(shown->findChild<QLabel*>(QStringLiteral("resultsFile"))->toolTip(),
              folder.filePath("run.csv"));
    delete shown;

    // Another page in front: the File menu has none of the run's commands.
    window.Sheet()->SetActivePage(window.Sheet()->Page(0));
    EXPECT_EQ(items(), windowsOwn);
    window.Sheet()->SetActivePage(probix);
    EXPECT_EQ(items(), withRunCommands);
    EXPECT_EQ(runCommands(), fromFile);
    // The page goes with its drive, and its commands with it.
    Choose(window, 1);
    EXPECT_EQ(items(), windowsOwn);
}

TEST_F(MainDialogTest, AboutComesFromTheMenuAndTheSystemCommand) {
    bus.AddDrive();
    CMainDialog window(services, FakePages());
    Open(window);
    dialogs.clear();
    window.findChild<QAction*>(QStringLiteral("id32776"))->trigger();
    window.OnSysCommand(16 | 0x5);  // the low four bits do not count
    window.OnSysCommand(0xF060);
    EXPECT_EQ(dialogs, (std::vector<std::string>{"dravix::CAboutDialog", "dravix::CAboutDialog"}));
}

TEST_F(MainDialogTest, ClosingSendsVendorModeOffToTheSelectedDrive) {
    bus.AddDrive();
    bus.AddDrive();
    {
        CMainDialog window(services, FakePages());
        Open(window);
        Choose(window, 1);
        bus.ClearCommands();
        window.findChild<QAction*>(QStringLiteral("id32774"))->trigger();  // File > Exit
        EXPECT_EQ(window.result(), QDialog::Rejected);
    }
    // The program waits for its workers when the window has gone.
    WorkerThreads::Program().JoinAll();
    EXPECT_EQ(bus.Commands(), (std::vector<Bytes>{kVendorOff}));
}

// The virtual drive's state file is rewritten for every change a drive keeps; the drives are
// listed again (an INQUIRY each) only when what the list shows of them changed.
TEST(VirtualDriveListTest, OnlyAChangeOfTheListedDrivesCallsForAListing) {
    using Change = std::function<void(emu::Scenario&)>;
    auto listed = [](const Change& change) {
        emu::Scenario scenario(emu::Preset::TwoDrives);
        change(scenario);
        return VirtualDriveList(QByteArray::fromStdString(scenario.Text()));
    };
    auto fault = [](uint8_t opcode) {
        emu::FaultRule rule;
        rule.opcode = opcode;
        rule.action = emu::FaultRule::Action::CheckCondition;
        rule.sense = {0x05, 0x24, 0x00};
        return rule;
    };
    const QByteArray unchanged = listed([](emu::Scenario&) {});
    const struct {
        const char* change;
        Change apply;
        bool listedAgain;
    } cases[] = {
        {"vendor mode on", [](emu::Scenario& s) { s.Drive(0).SetVendorMode(true); }, false},
        {"a restart's unit attention", [](emu::Scenario& s) { s.Drive(1).Restart(); }, false},
        {"the disc taken out", [](emu::Scenario& s) { s.Drive(0).RemoveDisc(); }, false},
        {"a latency", [](emu::Scenario& s) { s.Drive(0).SetLatency(emu::LatencyClass::Command, 500); },
         false},
        {"a fault of the feature list", [&](emu::Scenario& s) { s.Drive(0).AddFault(fault(0xFD)); }, false},
        {"a fault of INQUIRY", [&](emu::Scenario& s) { s.Drive(0).AddFault(fault(0x12)); }, true},
        {"a drive removed", [](emu::Scenario& s) { s.RemoveDrive(1); }, true},
        {"a drive added", [](emu::Scenario& s) { s.AddDrive(emu::DriveKind::OtherMaker); }, true},
        {"another firmware revision",
         [](emu::Scenario& s) { s.Drive(1).Update([](emu::DriveState& d) { d.revision = "1.09"; }); }, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(listed(c.apply) != unchanged, c.listedAgain) << c.change;
    }
    // A text that is no state file (a file cut short) is looked at as a whole.
    EXPECT_NE(VirtualDriveList("{\"drives\": ["), VirtualDriveList("{\"drives\": [{"));
    EXPECT_NE(VirtualDriveList("{\"drives\": ["), unchanged);
}

}  // namespace
}  // namespace dravix
