// The main window on virtual drives: start-up order and texts, the drive list, the page set and
// its order, the timer that locks controls while a scan runs, help, and vendor mode off at the end.

#include <gtest/gtest.h>

#include <QComboBox>
#include <QDir>
#include <QMenuBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QUrl>
#include <cerrno>
#include <map>

#include "app/HelpWindow.h"
#include "app/MainDialog.h"
#include "drive/Messages.h"
#include "drive/Support.h"
#include "tests/support/ScriptedPrompter.h"
#include "tests/support/Settle.h"
#include "tests/support/VirtualBus.h"
#include "ui/AppState.h"
#include "ui/Prompter.h"
#include "ui/PropertyPage.h"
#include "ui/WorkerThreads.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;
const Bytes kVendorOn = {0xFD, 0xF1, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
const Bytes kVendorOff = {0xFD, 0xF2, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};

// A page that records what the sheet does to it and carries the controls the timer looks for.
class FakePage final : public PropertyPage {
  public:
    FakePage(int dialogId, const char* title, std::vector<int> controls, std::vector<std::string>* log)
        : PropertyPage(dialogId, QString::fromLatin1(title), 152), m_log(log) {
        for (int id : controls) {
            auto* button = new QPushButton(QStringLiteral("button"), this);
            SetControlId(button, id);
        }
    }
    ~FakePage() override { m_log->push_back("destroy " + Title().toStdString()); }
    void OnSheetNotify() override { m_log->push_back("notify " + Title().toStdString()); }

  protected:
    void OnInitDialog() override { m_log->push_back("init " + Title().toStdString()); }

  private:
    std::vector<std::string>* m_log;
};

struct MainDialogTest : ::testing::Test {
    test::VirtualBus bus;
    std::shared_ptr<test::ScriptedPrompter> prompter = std::make_shared<test::ScriptedPrompter>();
    std::vector<std::string> dialogs;  // class names of the modal dialogs run
    std::vector<std::string> pageLog;
    std::vector<QUrl> opened;
    bool openSucceeds = true;

    void SetUp() override {
        ResetState();
        SetPrompter(prompter);
        RouteDriveMessagesToBoxes();
        SetDialogRunner([this](QDialog& d) {
            dialogs.emplace_back(d.metaObject()->className());
            return int(QDialog::Accepted);
        });
        SetUrlOpener([this](const QUrl& url) {
            opened.push_back(url);
            return openSucceeds;
        });
    }
    void TearDown() override {
        SetUrlOpener(nullptr);
        SetDialogRunner(nullptr);
        SetDriveMessageHandler(nullptr);
        SetPrompter(nullptr);
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
            if (!kTitles.contains(code)) return nullptr;
            const auto& [dialog, controls] = kPages.at(code);
            return new FakePage(dialog, kTitles.at(code), controls, &pageLog);
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
        window.DriveList()->setCurrentIndex(line);
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
    CMainDialog window(FakePages());
    Open(window);

    ASSERT_EQ(prompter->asked.size(), 1u);
    const PromptRecord& warning = prompter->asked[0];
    EXPECT_EQ(warning.caption, QStringLiteral("Dravix version 2.0"));
    EXPECT_EQ(warning.text, QString::fromLatin1(kStartupWarning));
    EXPECT_TRUE(warning.text.startsWith(QStringLiteral("\n                  +++  Warning  +++")));
    EXPECT_EQ(warning.icon, PromptIcon::Exclamation);
    EXPECT_EQ(warning.buttons, PromptButtons::Ok);

    EXPECT_EQ(window.windowTitle(), QStringLiteral("Dravix Ver.2.0"));
    ASSERT_EQ(window.DriveList()->count(), 2);
    EXPECT_EQ(window.DriveList()->itemText(0).size(), 28);
    EXPECT_EQ(window.DriveList()->currentIndex(), 0);
    EXPECT_TRUE(State().sheetCreated);
    EXPECT_FALSE(State().sheetPending);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "Book Type", "Probix", "WOPC",
                                                      "Test Write", "Lumard", "OverSpeed"}));
    EXPECT_EQ(window.Sheet()->ActivePage()->Title(), QStringLiteral("Information"));
    EXPECT_EQ(pageLog, (std::vector<std::string>{"init Information"}));  // others wait until shown
    EXPECT_TRUE(window.Timer().isActive());
    EXPECT_EQ(window.Timer().interval(), 600);
    // The probe leaves the drive out of vendor mode.
    EXPECT_EQ(bus.Commands().back(), kVendorOff);
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(MainDialogTest, MenuCarriesItsTextsAndCommandIds) {
    bus.AddDrive();
    CMainDialog window(FakePages());
    std::vector<std::pair<std::string, std::string>> items;
    for (QAction* menu : window.MenuBar()->actions()) {
        for (QAction* item : menu->menu()->actions()) {
            items.emplace_back(item->objectName().toStdString(), item->text().toStdString());
        }
        items.emplace_back("menu", menu->text().toStdString());
    }
    EXPECT_EQ(items, (std::vector<std::pair<std::string, std::string>>{
                         {"id32773", "&Save      Ctrl+S"},
                         {"openScanResults", "&Open Scan Results..."},
                         {"settings", "Se&ttings..."},
                         {"id32774", "E&xit       Ctrl+X"},
                         {"menu", "File(&F)"},
                         {"id32775", "Dravix Help    F1"},
                         {"", ""},
                         {"id32776", "&About             Ctrl+A"},
                         {"menu", "Help(&H)"},
                     }));
}

TEST_F(MainDialogTest, TransportFailureEndsTheProgramWithInitialFail) {
    auto platform = std::make_shared<test::TestPlatform>();
    platform->passThrough = false;  // an ASPI library that cannot be loaded
    test::ScopedPlatform scope(platform);
    CMainDialog window(FakePages());
    Open(window);
    EXPECT_TRUE(window.Closed());
    EXPECT_EQ(prompter->Texts(), (std::vector<QString>{QString::fromLatin1(kStartupWarning),
                                                       QStringLiteral("Can't load WNASPI32.DLL!!"),
                                                       QStringLiteral("Initial fail.")}));
    EXPECT_EQ(prompter->asked[2].caption, AppTitle());
    EXPECT_EQ(prompter->asked[2].icon, PromptIcon::None);
    EXPECT_EQ(window.result(), QDialog::Rejected);
}

TEST_F(MainDialogTest, NoDriveShowsNoDeviceFoundAndTheNotSupportedDialog) {
    CMainDialog window(FakePages());
    Open(window);
    ASSERT_EQ(prompter->asked.size(), 2u);
    EXPECT_EQ(prompter->asked[1].text, QStringLiteral("No Device found!"));
    EXPECT_EQ(prompter->asked[1].caption, AppTitle());
    EXPECT_EQ(dialogs, (std::vector<std::string>{"dravix::CUnsupportedDialog"}));
    EXPECT_EQ(window.DriveList()->count(), 0);
    EXPECT_TRUE(State().sheetPending);
    EXPECT_FALSE(State().sheetCreated);
    EXPECT_FALSE(window.Timer().isActive());
}

TEST_F(MainDialogTest, RefusedDriveNodesAreExplainedWithNoDeviceFound) {
    bus.Os().SetGroupName(24, "cdrom");
    test::FakeSgSystem::Node node;
    node.gid = 24;
    node.openError = EACCES;
    bus.Os().AddNode("/dev/sr0", node);
    CMainDialog window(FakePages());
    Open(window);
    ASSERT_GE(prompter->asked.size(), 2u);
    EXPECT_TRUE(prompter->asked[1].text.startsWith(QStringLiteral("No Device found!\n\n")));
    EXPECT_TRUE(prompter->asked[1].text.contains(QStringLiteral("/dev/sr0")));
    EXPECT_TRUE(prompter->asked[1].text.contains(QStringLiteral("\"cdrom\"")));
}

TEST_F(MainDialogTest, OtherMakersDriveThenMakersDriveThenBack) {
    bus.AddDrive(emu::DriveKind::OtherMaker);
    bus.AddDrive().SetFeatureCodes({5, 1});
    CMainDialog window(FakePages());
    Open(window);
    EXPECT_EQ(dialogs.size(), 1u);  // not a maker's drive: dialog 161, no sheet
    EXPECT_TRUE(State().sheetPending);
    EXPECT_FALSE(window.Sheet()->isVisible() && State().sheetCreated);

    Choose(window, 1);
    EXPECT_TRUE(State().sheetCreated);
    EXPECT_FALSE(State().sheetPending);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "Book Type", "Probix"}));
    EXPECT_EQ(State().selectedDriveIndex, 1);

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
    CMainDialog window(FakePages());
    Open(window);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "Book Type", "OverSpeed"}));
    EXPECT_TRUE(State().HasFeature(7));
    EXPECT_TRUE(State().HasFeature(5));
    EXPECT_FALSE(State().HasFeature(4));
}

TEST_F(MainDialogTest, NoFeatureCodesGiveTheInformationPageAloneUntilAnotherDriveIsChosen) {
    bus.AddDrive().SetFeatureCodes({});
    bus.AddDrive().SetFeatureCodes({2});
    CMainDialog window(FakePages());
    Open(window);
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information"}));
    Choose(window, 1);
    EXPECT_EQ(pageLog.at(1), "destroy Information");
    EXPECT_EQ(Tabs(window), (std::vector<std::string>{"Information", "WOPC"}));
}

TEST_F(MainDialogTest, ChoosingTheSelectedLineAgainDoesNothing) {
    bus.AddDrive();
    bus.AddDrive();
    CMainDialog window(FakePages());
    Open(window);
    bus.ClearCommands();
    pageLog.clear();
    Choose(window, 0);
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_TRUE(pageLog.empty());
}

TEST_F(MainDialogTest, OldFirmwareGetsTheFirmwareMessageAndNoVendorModeOff) {
    bus.AddDrive(emu::DriveKind::OldFirmware);
    CMainDialog window(FakePages());
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
    CMainDialog window(FakePages());
    Open(window);
    PropertySheet* sheet = window.Sheet();
    auto control = [&](int page, int id) { return sheet->Page(page)->Control(id); };

    State().scanIdle = 0;
    window.OnTimer();
    EXPECT_FALSE(window.DriveList()->isEnabled());
    EXPECT_FALSE(control(0, 1015)->isEnabled());

    sheet->SetActivePage(sheet->Page(1));  // Book Type
    window.OnTimer();
    for (int id : {1016, 1029, 1017, 1018, 1019, 1021}) EXPECT_FALSE(control(1, id)->isEnabled()) << id;
    State().scanIdle = 1;
    window.OnTimer();
    EXPECT_TRUE(window.DriveList()->isEnabled());
    EXPECT_TRUE(control(1, 1016)->isEnabled());
    EXPECT_TRUE(control(1, 1019)->isEnabled());
    for (int id : {1029, 1017, 1018, 1021}) EXPECT_FALSE(control(1, id)->isEnabled()) << id;
    // Once only: the page may disable its check buttons again and the next tick leaves them.
    control(1, 1016)->setEnabled(false);
    window.OnTimer();
    EXPECT_FALSE(control(1, 1016)->isEnabled());

    sheet->SetActivePage(sheet->Page(2));  // WOPC
    State().scanIdle = 0;
    window.OnTimer();
    EXPECT_FALSE(control(2, 1030)->isEnabled());
    EXPECT_FALSE(control(2, 1031)->isEnabled());
    State().scanIdle = 1;
    window.OnTimer();
    EXPECT_TRUE(control(2, 1030)->isEnabled());

    sheet->SetActivePage(sheet->Page(3));  // Test Write
    State().scanIdle = 0;
    window.OnTimer();
    EXPECT_FALSE(control(3, 1010)->isEnabled());
    EXPECT_FALSE(control(3, 1015)->isEnabled());
}

TEST_F(MainDialogTest, SheetNotifiesPagesAsTheyAreLeftAndActivated) {
    bus.AddDrive().SetFeatureCodes({2, 3});
    CMainDialog window(FakePages());
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
    auto window = std::make_unique<CMainDialog>(FakePages());
    Open(*window);
    window->Sheet()->SetActivePage(window->Sheet()->Page(1));
    pageLog.clear();
    window.reset();
    EXPECT_EQ(pageLog, (std::vector<std::string>{"destroy Information", "destroy WOPC"}));
}

TEST_F(MainDialogTest, HelpShowsTheGuideInItsOwnWindowOrSaysItIsMissing) {
    bus.AddDrive();
    CMainDialog window(FakePages());
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

TEST_F(MainDialogTest, AboutComesFromTheMenuAndTheSystemCommand) {
    bus.AddDrive();
    CMainDialog window(FakePages());
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
        CMainDialog window(FakePages());
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

}  // namespace
}  // namespace dravix
