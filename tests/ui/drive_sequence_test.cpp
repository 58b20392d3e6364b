// The pages' drive sequences on a virtual drive that holds a command: the window keeps going while
// the drive works, the sequence ends in its order once the drive answers, windows on one drive
// take turns, closing in the middle ends cleanly, and a write the drive did not take says so.

#include <QAbstractButton>
#include <QLabel>
#include <QTimer>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <optional>

#include "app/MainDialog.h"
#include "drive/InfoCommands.h"
#include "pages/BookType.h"
#include "pages/Lumard.h"
#include "pages/OverSpeed.h"
#include "pages/TestWrite.h"
#include "pages/Wopc.h"
#include "tests/pages/switches_support.h"
#include "tests/support/CommandGate.h"
#include "tests/support/TestPlatform.h"
#include "turns/SharedDrive.h"
#include "turns/StoppableDrive.h"
#include "turns/WorkerThreads.h"
#include "ui/DriveSequence.h"

namespace dravix::test {
namespace {

namespace texts = option_texts;

struct PageSequence : SwitchPageFixture {
    void TearDown() override {
        gate.Open();
        SwitchPageFixture::TearDown();
    }

    // Clicks without waiting for what the click starts.
    static void Press(const QWidget& page, int controlId) {
        page.findChild<QAbstractButton*>(ControlName(controlId))->click();
    }

    static PropertyPage* PageOf(CMainDialog& window, int dialogId) {
        for (int i = 0; i < window.Sheet()->PageCount(); ++i) {
            if (window.Sheet()->Page(i)->DialogId() == dialogId) return window.Sheet()->Page(i);
        }
        return nullptr;
    }

    CommandGate gate;
};

TEST_F(PageSequence, AWriteHeldAtTheDriveLeavesTheWindowFreeAndEndsInOrder) {
    CWOPC page(services);
    Init(page);
    Click(&page, CWOPC::kDisableId);
    gate.Install(drive, {emu::LatencyClass::Vendor});
    bus.ClearCommands();
    Press(page, CWOPC::kSetId);
    // The click has returned with vendor mode on still at the drive.
    ASSERT_TRUE(gate.WaitArrived(1));
    bool served = false;
    QTimer::singleShot(0, &page, [&] { served = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return served; }));
    EXPECT_EQ(gate.Arrived(), 1);
    EXPECT_TRUE(page.SequenceRunning());
    EXPECT_FALSE(page.isEnabled());
    EXPECT_EQ(page.cursor().shape(), Qt::WaitCursor);

    gate.Open();
    ASSERT_TRUE(Settle(page));
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, Vendor(0xFB, {0x03, 0x00, 0x00, 0x01}),
                                                    kVendorOff, kVendorOn, kReadSwitches, kVendorOff}));
    EXPECT_TRUE(ShowsIcon(&page, CWOPC::kStatusIconId, CWOPC::kIconOff));
    EXPECT_TRUE(page.isEnabled());
    EXPECT_NE(page.cursor().shape(), Qt::WaitCursor);
    EXPECT_TRUE(prompter->asked.empty());
}

TEST_F(PageSequence, TheMainWindowsTimerLeavesAPageWithASequenceAlone) {
    drive.SetFeatureCodes({5});
    CMainDialog window(services, DefaultPageFactory(services));
    window.OnInitDialog();
    ASSERT_TRUE(Settle(window));
    PropertyPage* bookType = PageOf(window, CBookType::kDialogId);
    ASSERT_NE(bookType, nullptr);
    window.Sheet()->SetActivePage(bookType);
    ASSERT_TRUE(Settle(window));

    // Check Drive disables its button until its rows are read; the drive holds the first read.
    gate.Install(drive, {emu::LatencyClass::Vendor});
    Press(*bookType, CBookType::kCheckDriveId);
    ASSERT_TRUE(gate.WaitArrived(1));
    services.State().bookTypeReenabled = false;
    window.OnTimer();
    EXPECT_FALSE(services.State().bookTypeReenabled);
    EXPECT_TRUE(bookType->Control(CBookType::kCheckDriveId)->testAttribute(Qt::WA_ForceDisabled));

    gate.Open();
    ASSERT_TRUE(Settle(window));
    EXPECT_TRUE(bookType->Control(CBookType::kCheckDriveId)->isEnabled());
}

TEST_F(PageSequence, ClosingTheWindowMidSequenceLeavesAtOnceAndSendsOnlyVendorModeOff) {
    drive.SetFeatureCodes({2});
    auto window = std::make_unique<CMainDialog>(services, DefaultPageFactory(services));
    window->OnInitDialog();
    ASSERT_TRUE(Settle(*window));
    PropertyPage* wopc = PageOf(*window, CWOPC::kDialogId);
    ASSERT_NE(wopc, nullptr);
    gate.Install(drive, {emu::LatencyClass::Vendor});
    window->Sheet()->SetActivePage(wopc);  // its read: vendor mode on is held at the drive
    ASSERT_TRUE(gate.WaitArrived(1));
    const size_t boxes = prompter->asked.size();
    bus.ClearCommands();

    window->reject();
    window.reset();
    EXPECT_EQ(gate.Arrived(), 1);  // the window went while the command was still at the drive

    gate.Open();
    WorkerThreads::Program().JoinAll();
    // The page's read ends without its command; its vendor mode off goes out, then the window's.
    EXPECT_EQ(bus.Commands(), (std::vector<Bytes>{kVendorOff, kVendorOff}));
    EXPECT_EQ(prompter->asked.size(), boxes);
    EXPECT_FALSE(drive.State().vendorMode);
}

TEST_F(PageSequence, WindowsOnOneDriveTakeTurns) {
    CTestWrite testWrite(services);
    CWOPC wopc(services);
    Init(testWrite);
    Init(wopc);
    gate.Install(drive, {emu::LatencyClass::Vendor});
    bus.ClearCommands();
    testWrite.OnSheetNotify();
    ASSERT_TRUE(gate.WaitArrived(1));
    wopc.OnSheetNotify();  // its read waits for the other page's sequence to end
    gate.Open();
    ASSERT_TRUE(Settle(testWrite));
    ASSERT_TRUE(Settle(wopc));
    EXPECT_EQ(VendorCommands(), (std::vector<Bytes>{kVendorOn, kReadSwitches, kVendorOff, kVendorOn,
                                                    kReadSwitches, kVendorOff}));
}

TEST_F(PageSequence, ADriveBecomingReadyIsShownWhileThePageWaits) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    CTestWrite page(services);
    Init(page);
    drive.SetBecomingReady(2);
    gate.Install(drive, {emu::LatencyClass::Command});
    gate.Allow(1);  // the first TEST UNIT READY answers "becoming ready", the second is held
    Press(page, CTestWrite::kCheckId);
    ASSERT_TRUE(gate.WaitArrived(2));
    auto* status = page.findChild<QLabel*>(QStringLiteral("driveStatus"));
    ASSERT_NE(status, nullptr);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !status->isHidden(); }));
    EXPECT_EQ(status->text(), QString::fromUtf8(kStatusDriveActivating));

    gate.Open();
    ASSERT_TRUE(Settle(page));
    EXPECT_TRUE(status->isHidden());
    EXPECT_TRUE(prompter->asked.empty());
}

// A write the drive completes without taking the value, and a read-back that says nothing: the
// page shows what the drive reports and says the write failed.
struct UnverifiedWrite {
    const char* name;
    std::function<PropertyPage*()> make;
    std::vector<int> choose;  // radio buttons checked before Set
    int set;
    int dialogButton;  // 0: no setting-scope dialog
    std::function<void(SwitchPageFixture&)> fault;
    int icon, shown;  // the status icon control and the icon it shows afterwards
    int checked;      // the radio button checked afterwards
};

TEST_F(PageSequence, AWriteTheDriveDidNotTakeIsAFailedWrite) {
    const UnverifiedWrite cases[] = {
        {"test write",
         [this] { return new CTestWrite(services); },
         {1022},
         1015,
         0,
         [](SwitchPageFixture& f) { f.Fault(0xFB, 0x02, {}, Bytes{}); },
         1063,
         175,
         1023},
        {"wopc",
         [this] { return new CWOPC(services); },
         {1034},
         1031,
         0,
         [](SwitchPageFixture& f) { f.Fault(0xFB, 0x03, {}, Bytes{}); },
         1060,
         172,
         1033},
        {"overspeed",
         [this] { return new COverSpeed(services); },
         {1075},
         1076,
         1010,
         [](SwitchPageFixture& f) {
             f.drive.SetOption(emu::OptionKind::OverSpeed, 3);
             f.Fault(0x1B, 0x16, {{7, 0x06}}, Bytes{});
         },
         1072,
         181,
         1074},
        {"lumard",
         [this] { return new CSLWS(services); },
         {1065, 1069},
         1068,
         1015,
         [](SwitchPageFixture& f) {
             f.Fault(0x1B, 0x16, {{7, 0x02}}, Bytes{});
         },
         1071,
         183,
         1066},
        // A value that says neither on nor off leaves the page as it was: the icon of the last
        // read, the user's proposal.
        {"test write, read-back out of range",
         [this] { return new CTestWrite(services); },
         {1022},
         1015,
         0,
         [](SwitchPageFixture& f) {
             f.SwitchReply({0x00, 0x07, 0x00});
         },
         1063,
         175,
         1022},
    };
    for (const UnverifiedWrite& c : cases) {
        SCOPED_TRACE(c.name);
        drive.ClearFaults();
        drive.Restart();
        prompter->asked.clear();
        std::unique_ptr<PropertyPage> page(c.make());
        Init(*page);
        for (int id : c.choose) Click(page.get(), id);
        c.fault(*this);
        dialogScript.click = c.dialogButton;
        Click(page.get(), c.set);

        ASSERT_FALSE(prompter->asked.empty());
        EXPECT_EQ(prompter->asked.back().text, texts::kSetCommandFail);
        EXPECT_EQ(prompter->asked.back().caption, AppTitle());
        EXPECT_TRUE(ShowsIcon(page.get(), c.icon, c.shown));
        EXPECT_TRUE(Checked(page.get(), c.checked));
    }
}

// A run takes the drive's turn for each of its uses, not for its whole length: another window's
// step goes between two of them, while the run's window stays usable. A run stopped between its
// uses sends nothing more and its continuation never runs.
TEST_F(PageSequence, ARunTakesItsTurnForEachUseAndStopsBetweenThem) {
    QWidget runner, other;
    DriveSequence running(runner, services, std::make_shared<StoppableDrive>(bus.Drives()));
    DriveSequence asking(other, services, std::make_shared<StoppableDrive>(bus.Drives()));
    const auto open = [this](DriveTable& table) {
        return table.InitTransport() && table.EnumerateDrives() > 0 &&
               services.State().SelectChosenDrive(table);
    };
    // A run that opens the drive, waits until the test lets it go, then asks the drive once more.
    const auto heldRun = [&](std::atomic<bool>& between, std::shared_future<void> carryOn,
                             std::optional<std::optional<uint8_t>>& found) {
        return running.Run(
            [&open, &between, carryOn](SharedDrive& drive, const WorkerContext& context) {
                const auto stopped = [&context] { return context.StopRequested(); };
                drive.LockedUnlessStopped(stopped, open);
                between = true;
                carryOn.wait();
                return drive.LockedUnlessStopped(stopped,
                                                 [](DriveTable& table) { return TestUnitReady(table); });
            },
            [&found](const std::optional<uint8_t>& status) { found = status; });
    };

    std::atomic<bool> between{false};
    std::promise<void> carryOn;
    std::optional<std::optional<uint8_t>> found;
    const uint64_t run = heldRun(between, carryOn.get_future().share(), found);
    ASSERT_TRUE(QTest::qWaitFor([&] { return between.load(); }));
    EXPECT_TRUE(runner.isEnabled());
    EXPECT_TRUE(running.RunGoing(run));
    std::optional<bool> opened;
    asking.Start([&] {
        asking.Step([&](DriveTable& table, const WorkerContext&) { return open(table); },
                    [&](bool done) { opened = done; });
    });
    EXPECT_TRUE(Settle(other));  // while the run still waits between its uses
    EXPECT_EQ(opened, true);
    carryOn.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !running.RunGoing(run); }));
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->has_value());  // its second use was sent

    std::atomic<bool> stoppedBetween{false};
    std::promise<void> stoppedCarryOn;
    std::optional<std::optional<uint8_t>> stoppedFound;
    const uint64_t stopped = heldRun(stoppedBetween, stoppedCarryOn.get_future().share(), stoppedFound);
    ASSERT_TRUE(QTest::qWaitFor([&] { return stoppedBetween.load(); }));
    running.StopRun(stopped);
    bus.ClearCommands();
    stoppedCarryOn.set_value();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !running.RunGoing(stopped); }));
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_FALSE(stoppedFound.has_value());
}

// A window's stoppable table keeps the program's own transport: on the ASPI path it says ASPI.
TEST(StoppableDriveTransport, KeepsTheProgramsOwnPath) {
    auto aspi = std::make_shared<TestPlatform>();
    aspi->passThrough = false;
    StoppableDrive drive({aspi, {}});
    drive.Table().DetectPassThrough();
    EXPECT_FALSE(drive.Table().UsePassThrough());
}

}  // namespace
}  // namespace dravix::test
