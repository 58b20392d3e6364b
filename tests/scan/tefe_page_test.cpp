// The Probix page offscreen on the virtual drive: disc detection and the speed list, range
// checks, runs with their verdicts and failures, STOP, and the program's idle flag.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QSignalSpy>
#include <algorithm>

#include "capture/SaveWindowImage.h"
#include "chart/ChartStyle.h"
#include "chart/ScanChart.h"
#include "probix/ScanTexts.h"
#include "res/Strings.h"
#include "scan/ReadTestWindow.h"
#include "scan/StatusLine.h"
#include "tests/probix/ScanTestSupport.h"
#include "tests/scan/PageTestSupport.h"
#include "turns/WorkerThreads.h"
#include "ui/TextColour.h"

namespace dravix {
namespace {

using scan_test::PageFixture;

// The speed codes the virtual DVD-R offers: 4X, 8X and 16X (its 2770 kB/s is no scan speed).
const std::vector<uint8_t> kDvdMinusRSpeeds = {14, 16, 19};

QString Latin(const char* text) {
    return QString::fromLatin1(text);
}

std::vector<QString> Entries(QComboBox* combo) {
    std::vector<QString> entries;
    for (int i = 0; i < combo->count(); ++i) entries.push_back(combo->itemText(i));
    return entries;
}

// Pixels of the chart's plot layer that something was drawn on.
int DrawnPixels(CScanChart* chart) {
    const QImage plot = chart->Canvas().PlotLayer();
    int drawn = 0;
    for (int y = 0; y < plot.height(); ++y) {
        for (int x = 0; x < plot.width(); ++x) drawn += (plot.pixel(x, y) & 0xFFFFFF) != 0 ? 1 : 0;
    }
    return drawn;
}

size_t CountOpcode(const test::VirtualBus& bus, uint8_t opcode) {
    size_t n = 0;
    for (const auto& cdb : bus.Commands()) n += cdb[0] == opcode ? 1 : 0;
    return n;
}

class TeFePage : public PageFixture {};

TEST_F(TeFePage, InitialisationResetsThePageAndStartsThePoll) {
    AddDrive();
    OpenPage();
    EXPECT_TRUE(DriveAccepted());
    EXPECT_EQ(StatusText(), Latin(scan_texts::kInsertBlankDisc));
    EXPECT_EQ(Entries(Control<QComboBox>(CTEFE::kSpeedComboId)), std::vector<QString>{"N/A"});
    EXPECT_EQ(Entries(Control<QComboBox>(CTEFE::kSamplingComboId)),
              (std::vector<QString>{"Normal (Default)", "Full", "Quick", "Smart", "Customize"}));
    EXPECT_EQ(Mode(), SamplingMode::Normal);
    EXPECT_EQ(BaseStepOf(Mode()), 0xC000);
    for (int id :
         {CTEFE::kStartId, CTEFE::kStopId, CTEFE::kTeCheckId, CTEFE::kFeCheckId, CTEFE::kStartEditId}) {
        EXPECT_FALSE(Control(id)->isEnabled()) << id;
    }
    ASSERT_NE(Chart(), nullptr);
    EXPECT_EQ(Chart()->Canvas().SeriesCount(), 4);
    EXPECT_EQ(Chart()->Canvas().Series(2).colour, CTEFE::TeColour().rgb());
    EXPECT_EQ(Chart()->Canvas().Series(3).colour, CTEFE::FeColour().rgb());
    EXPECT_EQ(Chart()->geometry(), Control(CTEFE::kChartFrameId)->geometry());
    EXPECT_TRUE(dialogs.empty());
}

TEST_F(TeFePage, WhilePagesAreRemovedTheInitialisationDoesNothing) {
    AddDrive();
    services.State().pagesRemoving = 1;
    OpenPage();
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_EQ(Chart(), nullptr);
    EXPECT_FALSE(DriveAccepted());
}

TEST_F(TeFePage, ADriveRefusingVendorModeGetsTheUnsupportedDialogAndNoPoll) {
    AddDrive(emu::DriveKind::OtherMaker);
    CTEFE& p = OpenPage();
    EXPECT_EQ(dialogs, std::vector<QString>{"dialog161"});
    EXPECT_FALSE(DriveAccepted());
    EXPECT_NE(Chart(), nullptr);
    bus.ClearCommands();
    p.OnStart();
    EXPECT_FALSE(RunGoing());
    EXPECT_TRUE(bus.Commands().empty());
}

TEST_F(TeFePage, NoDriveGivesNoDeviceFound) {
    CTEFE& p = OpenPage();
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kNoDeviceFound)});
    EXPECT_EQ(Chart(), nullptr);
    p.OnTimer();  // no drive, no poll
    EXPECT_EQ(test::RunningWorkers(p), 0u);
}

TEST_F(TeFePage, AGoodDvdPlusRListsItsSpeedsWithinOneTick) {
    AddDrive();
    CTEFE& p = OpenPage();
    bus.Drive(0).Insert("dvd+r");
    Tick();
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
    const std::vector<QString> expected = {"2.4X => ( 3324 Kb/Sec)  ", " 4X => ( 5540 Kb/Sec)  ",
                                           " 6X => ( 8310 Kb/Sec)  ",  " 8X => (11080 Kb/Sec)  ",
                                           "10X => (13850 Kb/Sec)  ",  "12X => (16620 Kb/Sec)  ",
                                           "16X => (22160 Kb/Sec)  "};
    EXPECT_EQ(Entries(Control<QComboBox>(CTEFE::kSpeedComboId)), expected);
    EXPECT_EQ(Control<QComboBox>(CTEFE::kSpeedComboId)->currentIndex(), 0);
    EXPECT_EQ(test::ChosenSpeedCode(p), 13);
    EXPECT_EQ(LastLba(), 2295103);
    EXPECT_EQ(Control<QLineEdit>(CTEFE::kStartEditId)->text(), "0");
    EXPECT_EQ(Control<QLineEdit>(CTEFE::kEndEditId)->text(), "2295103");
    EXPECT_FALSE(Control(CTEFE::kStartEditId)->isEnabled());
    EXPECT_TRUE(Control(CTEFE::kStartId)->isEnabled());
    EXPECT_TRUE(Control(CTEFE::kTeCheckId)->isEnabled());
    EXPECT_FALSE(Control(CTEFE::kStopId)->isEnabled());
    const auto labels = Chart()->Canvas().Labels();
    EXPECT_TRUE(
        std::any_of(labels.begin(), labels.end(), [](const ChartLabel& l) { return l.text == "2295103"; }));

    // Known now: the next ticks only ask whether the disc is still there.
    bus.ClearCommands();
    Tick();
    EXPECT_EQ(CountOpcode(bus, 0x46), 0u);
    EXPECT_EQ(CountOpcode(bus, 0x00), 1u);
}

TEST_F(TeFePage, ASkippedSpeedKeepsListAndCodesInLine) {
    AddDrive().Insert("dvd-r");  // 2770 kB/s first, then 4X, 8X, 16X
    CTEFE& p = OpenPage();
    Tick();
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
    EXPECT_EQ(Entries(Control<QComboBox>(CTEFE::kSpeedComboId)),
              (std::vector<QString>{" 4X => ( 5540 Kb/Sec)  ", " 8X => (11080 Kb/Sec)  ",
                                    "16X => (22160 Kb/Sec)  "}));
    EXPECT_EQ(test::ChosenSpeedCode(p), 14);
    Control<QComboBox>(CTEFE::kSpeedComboId)->setCurrentIndex(1);
    EXPECT_EQ(test::ChosenSpeedCode(p), 16);
    Control<QComboBox>(CTEFE::kSpeedComboId)->setCurrentIndex(2);
    EXPECT_EQ(test::ChosenSpeedCode(p), 19);
}

class UnsupportedDisc : public PageFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(UnsupportedDisc, IsExaminedOnceUntilRemoved) {
    AddDrive().Insert(GetParam());
    OpenPage();
    Tick();
    EXPECT_EQ(StatusText(), Latin(scan_texts::kDiscNotSupported));
    EXPECT_FALSE(Control(CTEFE::kStartId)->isEnabled());
    EXPECT_EQ(Entries(Control<QComboBox>(CTEFE::kSpeedComboId)), std::vector<QString>{"N/A"});
    bus.ClearCommands();
    Tick();
    EXPECT_EQ(CountOpcode(bus, 0x46), 0u);
    EXPECT_EQ(StatusText(), Latin(scan_texts::kDiscNotSupported));
}

INSTANTIATE_TEST_SUITE_P(Discs, UnsupportedDisc,
                         ::testing::Values("dvd+rw-blank", "dvd-rw", "cd-r", "cd-rom", "dvd-rom", "dvd-ram"));

TEST_F(TeFePage, RemovingTheDiscResetsThePageWithinOneTickAndTheNextDiscIsExamined) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    ASSERT_EQ(StatusText(), Latin(scan_texts::kReady));
    drive.RemoveDisc();
    Tick();
    EXPECT_EQ(StatusText(), Latin(scan_texts::kInsertBlankDisc));
    EXPECT_EQ(Entries(Control<QComboBox>(CTEFE::kSpeedComboId)), std::vector<QString>{"N/A"});
    EXPECT_FALSE(Control(CTEFE::kStartId)->isEnabled());

    drive.Insert("dvd+r-dl");
    Tick();
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
    EXPECT_EQ(LastLba(), 4173823);
    EXPECT_EQ(Control<QComboBox>(CTEFE::kSpeedComboId)->count(), 4);
}

// The tray went out and in between two ticks: the drive still answers "ready" once it has reported
// the medium change, yet the disc in it is another one.
TEST_F(TeFePage, ADiscSwappedBetweenTwoTicksIsExaminedAnew) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    CTEFE& p = OpenPage();
    Tick();
    ASSERT_EQ(LastLba(), 2295103);
    ASSERT_EQ(Control<QComboBox>(CTEFE::kSpeedComboId)->count(), 7);

    drive.Insert("dvd+r-dl");
    Tick();
    EXPECT_EQ(LastLba(), 4173823);
    EXPECT_EQ(Control<QComboBox>(CTEFE::kSpeedComboId)->count(), 4);
    EXPECT_EQ(Control<QLineEdit>(CTEFE::kEndEditId)->text(), "4173823");
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
    // Known now: the next tick does not examine it again.
    bus.ClearCommands();
    Tick();
    EXPECT_EQ(CountOpcode(bus, 0x46), 0u);

    // A disc the scan does not measure takes the page back to the reset state.
    drive.Insert("dvd+rw-blank");
    Tick();
    EXPECT_EQ(StatusText(), Latin(scan_texts::kDiscNotSupported));
    EXPECT_FALSE(Control(CTEFE::kStartId)->isEnabled());
    EXPECT_FALSE(Control(CTEFE::kTeCheckId)->isEnabled());
    EXPECT_EQ(Entries(Control<QComboBox>(CTEFE::kSpeedComboId)), std::vector<QString>{"N/A"});

    // Back to a measurable disc.
    drive.Insert("dvd-r");
    Tick();
    EXPECT_EQ(test::OfferedSpeedCodes(p), kDvdMinusRSpeeds);
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
    EXPECT_TRUE(Control(CTEFE::kStartId)->isEnabled());
}

// The medium change is reported to the poll's TEST UNIT READY just as a run starts: the poll's
// answer is dropped, but the disc is examined anew once the run is over.
TEST_F(TeFePage, ADiscChangeSeenAsARunStartsIsExaminedAfterTheRun) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    CTEFE& p = OpenPage();
    Tick();
    ASSERT_EQ(LastLba(), 2295103);

    drive.Insert("dvd+r-dl");
    gate.Install(drive);
    drive.SetLatency(emu::LatencyClass::Command, 1);  // TEST UNIT READY passes the gate too
    gate.Allow(1);                                    // the one that reports the change
    p.OnTimer();
    ASSERT_TRUE(gate.WaitArrived(2));  // the poll asks again and is held there
    ClickStart();
    ASSERT_TRUE(RunGoing());
    gate.Open();
    ASSERT_TRUE(WaitRunEnded());
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::RunningWorkers(p) == 0; }, 20000));

    Tick();
    EXPECT_EQ(LastLba(), 4173823);
    EXPECT_EQ(Control<QComboBox>(CTEFE::kSpeedComboId)->count(), 4);
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
}

// START pressed right after a disc swap, before the poll saw it: the run finds that its disc is not
// the page's and gives no verdict; the next tick after it examines the new disc, so the next run
// measures it as it is.
TEST_F(TeFePage, ADiscSwappedJustBeforeStartIsExaminedAtTheNextTickAfterTheRun) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    ASSERT_EQ(LastLba(), 2295103);

    drive.Insert("dvd+r-dl");
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kDiscChanged)});
    EXPECT_EQ(StatusText(), Latin(scan_texts::kDiscChanged));

    Tick();
    EXPECT_EQ(LastLba(), 4173823);
    EXPECT_EQ(Control<QComboBox>(CTEFE::kSpeedComboId)->count(), 4);
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
}

// A disc put in with the tray closed just as a run ends: the drive reports the change once, to the
// first command that asks. No command of the run may take that report without telling the page,
// or the page stays on the old disc ("Ready.") and every START fails on the new one.
TEST_F(TeFePage, ADiscPutInAsARunEndsIsExaminedAtTheNextTick) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r-dl");
    CTEFE& p = OpenPage();
    Tick();
    ASSERT_EQ(LastLba(), 4173823);

    int identityReads = 0;
    drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        // After the run's second identity read, the one that follows its last sample.
        if (cdb[0] == 0xAD && ++identityReads == 2) drive.Insert("dvd-r");
    });
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());
    drive.SetTraceHook(nullptr);
    EXPECT_EQ(identityReads, 2);  // nothing more after the run

    Tick();
    EXPECT_EQ(test::OfferedSpeedCodes(p), kDvdMinusRSpeeds);
    EXPECT_EQ(StatusText(), Latin(scan_texts::kReady));
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());
    const QString verdict = StatusText();
    EXPECT_TRUE(verdict == Latin(scan_texts::kVerdictOk) ||
                verdict == Latin(scan_texts::kVerdictNotRecommended))
        << verdict.toStdString();
}

// After a run another disc goes in, and another window's ready-wait (a page's prologue, the book
// type page's tray poll) gets the drive's only report of the change: the Probix page still finds
// it at its next tick and shows no verdict of the earlier disc as current, and the Read Test
// window beside it, which polls nothing of its own, shows the new disc while it is idle.
TEST_F(TeFePage, ADiscChangeTakenByAnotherWindowReachesThePageAndTheReadTestWindow) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    CReadTestWindow readTest(services);
    ASSERT_TRUE(test::Settle(readTest));
    auto* disc = readTest.findChild<QLabel*>(QStringLiteral("readTestDisc"));
    ASSERT_FALSE(disc->text().startsWith(QStringLiteral("DVD ROM")));
    gate.Open();
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());
    ASSERT_FALSE(ShowsPreviousRun());

    drive.Insert("dvd-rom");
    DriveTable otherWindow(bus.Drives());
    ASSERT_TRUE(otherWindow.InitTransport());
    ASSERT_EQ(otherWindow.EnumerateDrives(), 1);
    otherWindow.WaitUntilReady();
    Tick();
    EXPECT_EQ(StatusText(), Latin(scan_texts::kDiscNotSupported));
    EXPECT_TRUE(ShowsPreviousRun());
    EXPECT_TRUE(QTest::qWaitFor([&] { return disc->text().startsWith(QStringLiteral("DVD ROM")); }, 20000))
        << disc->text().toStdString();
}

TEST_F(TeFePage, UnreadableSpeedsResetThePageUntilTheDiscIsRemoved) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    emu::FaultRule rule;
    rule.opcode = 0xAC;
    rule.sense = emu::kBecomingReady;
    drive.AddFault(rule);
    OpenPage();
    Tick();
    EXPECT_EQ(StatusText(), Latin(scan_texts::kInsertBlankDisc));
    bus.ClearCommands();
    Tick();
    EXPECT_EQ(CountOpcode(bus, 0xAC), 0u);
}

TEST_F(TeFePage, SamplingModeEnablesTheEditsOnlyForCustomize) {
    AddDrive().Insert("dvd+r");
    OpenPage();
    Tick();
    ChooseMode(SamplingMode::Customize);
    EXPECT_TRUE(Control(CTEFE::kStartEditId)->isEnabled());
    EXPECT_TRUE(Control(CTEFE::kEndEditId)->isEnabled());
    EXPECT_EQ(BaseStepOf(Mode()), 0xC000);
    ChooseMode(SamplingMode::Full);
    EXPECT_FALSE(Control(CTEFE::kStartEditId)->isEnabled());
    EXPECT_EQ(Mode(), SamplingMode::Full);
    EXPECT_EQ(BaseStepOf(Mode()), 0x4000);
}

// The mode is read from the sampling combo again whenever it loses the focus or its list closes,
// also without a new choice: a page reset in Customize mode gets its edits back that way.
TEST_F(TeFePage, TheSamplingComboIsReadAgainWhenItLosesTheFocusOrItsListCloses) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    ChooseMode(SamplingMode::Customize);
    auto* combo = Control<QComboBox>(CTEFE::kSamplingComboId);
    auto send = [combo](QEvent::Type type, Qt::FocusReason reason) {
        QFocusEvent event(type, reason);
        QApplication::sendEvent(combo, &event);
    };

    drive.RemoveDisc();
    Tick();
    drive.Insert("dvd+r");
    Tick();
    ASSERT_EQ(StatusText(), Latin(scan_texts::kReady));
    EXPECT_FALSE(Control(CTEFE::kStartEditId)->isEnabled());  // the reset left them disabled
    send(QEvent::FocusOut, Qt::TabFocusReason);
    EXPECT_TRUE(Control(CTEFE::kStartEditId)->isEnabled());
    EXPECT_TRUE(Control(CTEFE::kEndEditId)->isEnabled());
    EXPECT_EQ(Mode(), SamplingMode::Customize);

    drive.RemoveDisc();
    Tick();
    ASSERT_FALSE(Control(CTEFE::kStartEditId)->isEnabled());
    send(QEvent::FocusOut, Qt::PopupFocusReason);  // the list opens: nothing is chosen yet
    EXPECT_FALSE(Control(CTEFE::kStartEditId)->isEnabled());
    send(QEvent::FocusIn, Qt::PopupFocusReason);  // the list closed
    EXPECT_TRUE(Control(CTEFE::kStartEditId)->isEnabled());

    // After a run every mode has its edits enabled; leaving the combo in Normal mode disables them.
    drive.Insert("dvd+r");
    Tick();
    ChooseMode(SamplingMode::Quick);
    ClickStart();
    // While the run goes the combo is disabled: losing the focus then changes nothing.
    send(QEvent::FocusOut, Qt::OtherFocusReason);
    EXPECT_FALSE(Control(CTEFE::kStartEditId)->isEnabled());
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_TRUE(Control(CTEFE::kStartEditId)->isEnabled());
    send(QEvent::FocusOut, Qt::MouseFocusReason);
    EXPECT_FALSE(Control(CTEFE::kStartEditId)->isEnabled());
    EXPECT_EQ(Mode(), SamplingMode::Quick);
}

TEST_F(TeFePage, CustomizeRangeChecksAtStart) {
    AddDrive().Insert("dvd+r");
    OpenPage();
    Tick();
    ChooseMode(SamplingMode::Customize);
    struct Case {
        const char* start;
        const char* end;
        const char* text;
    };
    for (const Case& c : {Case{"0", "149999", scan_texts::kMinimumLength},
                          Case{"-5", "200000", scan_texts::kStartAddressWrong},
                          Case{"0", "2295104", scan_texts::kEndAddressExceeds}}) {
        prompter->Clear();
        Control<QLineEdit>(CTEFE::kStartEditId)->setText(c.start);
        Control<QLineEdit>(CTEFE::kEndEditId)->setText(c.end);
        ClickStart();
        EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(c.text)}) << c.start << ".." << c.end;
        EXPECT_FALSE(RunGoing());
    }
    // Exactly 150000 long is accepted: positions 0, 49152 and 98304.
    prompter->Clear();
    Control<QLineEdit>(CTEFE::kStartEditId)->setText("0");
    Control<QLineEdit>(CTEFE::kEndEditId)->setText("150000");
    bus.ClearCommands();
    ClickStart();
    EXPECT_TRUE(RunGoing());
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kVerdictOk)});
    size_t measured = 0;
    for (const auto& cdb : bus.Commands())
        measured += cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0 ? 1 : 0;
    EXPECT_EQ(measured, 3u);
}

TEST_F(TeFePage, AddressEditsCheckWhenTheyLoseTheFocusAndMoveTheMarkers) {
    AddDrive().Insert("dvd+r");
    OpenPage();
    Tick();
    ChooseMode(SamplingMode::Customize);
    auto* start = Control<QLineEdit>(CTEFE::kStartEditId);
    auto* end = Control<QLineEdit>(CTEFE::kEndEditId);
    auto leave = [](QLineEdit* edit) {
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(edit, &out);
    };
    start->setText("-5");
    leave(start);
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kStartAddressWrong)});
    EXPECT_EQ(Chart()->Canvas().StartMarkerX(), 0);
    start->setText("1000");
    leave(start);
    EXPECT_EQ(Chart()->Canvas().StartMarkerX(), 1000);

    prompter->Clear();
    end->setText("2295104");
    leave(end);
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kEndAddressWrong)});
    end->setText("500000 LBA");
    leave(end);
    EXPECT_EQ(Chart()->Canvas().EndMarkerX(), 500000);
    // A message box taking the focus does not check again.
    prompter->Clear();
    end->setText("-1");
    QFocusEvent byBox(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(end, &byBox);
    EXPECT_TRUE(BoxTexts().empty());
}

TEST_F(TeFePage, ARunDrawsBothCurvesAndEndsWithTheVerdict) {
    AddDrive().Insert("dvd+r");
    CTEFE& p = OpenPage();
    Tick();
    ChooseSpeed(19);  // the good disc is not fit at 16X
    ClickStart();
    EXPECT_TRUE(RunGoing());
    EXPECT_EQ(services.State().scanIdle.load(), 0);
    EXPECT_FALSE(Control(CTEFE::kStartId)->isEnabled());
    EXPECT_TRUE(Control(CTEFE::kStopId)->isEnabled());
    EXPECT_FALSE(Control(CTEFE::kSpeedComboId)->isEnabled());
    EXPECT_FALSE(Control(CTEFE::kSamplingComboId)->isEnabled());
    EXPECT_TRUE(Control(CTEFE::kTeCheckId)->isEnabled());
    ASSERT_TRUE(WaitRunEnded());

    const auto boxes = prompter->Asked();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Latin(scan_texts::kVerdictNotRecommended));
    EXPECT_EQ(boxes[0].icon, PromptIcon::None);
    EXPECT_EQ(StatusText(), Latin(scan_texts::kVerdictNotRecommended));
    EXPECT_EQ(Status()->PendingColour(), CTEFE::WarningColour());
    EXPECT_EQ(services.State().scanIdle.load(), 1);
    EXPECT_TRUE(Control(CTEFE::kStartId)->isEnabled());
    EXPECT_FALSE(Control(CTEFE::kStopId)->isEnabled());
    EXPECT_TRUE(Control(CTEFE::kStartEditId)->isEnabled());  // every mode gets the edits back
    EXPECT_TRUE(TickStartsAPoll());                          // the poll goes on
    ASSERT_TRUE(test::Settle(p));
    QApplication::processEvents();
    EXPECT_TRUE(Control<QLabel>(CTEFE::kElapsedId)->text().endsWith(" seconds"));

    // Both curves are drawn in their colours.
    const QImage plot = Chart()->Canvas().PlotLayer();
    bool te = false, fe = false;
    for (int y = 0; y < plot.height(); ++y) {
        for (int x = 0; x < plot.width(); ++x) {
            te |= plot.pixel(x, y) == CTEFE::TeColour().rgb();
            fe |= plot.pixel(x, y) == CTEFE::FeColour().rgb();
        }
    }
    EXPECT_TRUE(te);
    EXPECT_TRUE(fe);

    // The status colour lasts for one paint.
    Status()->grab();
    EXPECT_EQ(Status()->PaintedColour(), CTEFE::WarningColour());
    EXPECT_EQ(Status()->PendingColour(), QColor(Qt::black));

    // The next run at a fit speed is ok, in green.
    prompter->Clear();
    ChooseSpeed(16);
    ChooseMode(SamplingMode::Quick);
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kVerdictOk)});
    EXPECT_EQ(Status()->PendingColour(), CTEFE::OkColour());
}

TEST_F(TeFePage, ReferenceFailuresShowProbixWarnings) {
    struct Case {
        emu::FaultRule rule;
        const char* box;
        const char* status;
    };
    auto rule = [](uint8_t byte11, emu::SenseCode sense) {
        emu::FaultRule r;
        r.opcode = 0xFD;
        r.subCode = 0xFB;
        r.bytes[11] = byte11;
        r.sense = sense;
        return r;
    };
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    for (const Case& c :
         {Case{rule(0x03, emu::kNoMedium), scan_texts::kNoDiscInside, scan_texts::kNoDiscInside},
          Case{rule(0x03, emu::kBecomingReady), scan_texts::kDriveActivating, scan_texts::kDriveActivating},
          Case{rule(0x04, emu::kBecomingReady), scan_texts::kFirmwareNotSupported,
               scan_texts::kDriveActivating}}) {
        drive.ClearFaults();
        drive.AddFault(c.rule);
        prompter->Clear();
        ClickStart();
        ASSERT_TRUE(WaitRunEnded());
        const auto boxes = prompter->Asked();
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].caption, "Probix Warning");
        EXPECT_EQ(boxes[0].icon, PromptIcon::Exclamation);
        EXPECT_EQ(boxes[0].text, Latin(c.box));
        EXPECT_EQ(StatusText(), Latin(c.status));
        EXPECT_EQ(Status()->PendingColour(), CTEFE::WarningColour());
        EXPECT_EQ(services.State().scanIdle.load(), 1);
        EXPECT_TRUE(Control(CTEFE::kStartId)->isEnabled());
    }
}

// A run's box follows its last command: after a failure nothing more is sent before it; after a
// finished run only the read of the disc's identifiers that tells it measured one disc.
TEST_F(TeFePage, NothingIsSentBetweenARunsLastCommandAndItsBox) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    ChooseMode(SamplingMode::Quick);
    std::vector<std::vector<uint8_t>> atBox;
    prompter->onShow = [&](const PromptRecord&) { atBox = bus.Commands(); };
    auto isMeasure = [](const std::vector<uint8_t>& c) { return c[0] == 0xFD && c[1] == 0xFB && c[11] == 0; };
    for (const bool fail : {true, false}) {
        SCOPED_TRACE(fail ? "failed" : "finished");
        drive.ClearFaults();
        if (fail) {
            emu::FaultRule rule;
            rule.opcode = 0xFD;
            rule.subCode = 0xFB;
            rule.bytes = {{6, 0x05}, {11, 0x00}};
            rule.after = 3;
            rule.sense = emu::kBecomingReady;
            drive.AddFault(rule);
        }
        bus.ClearCommands();
        prompter->Clear();
        ClickStart();
        ASSERT_TRUE(WaitRunEnded());
        ASSERT_EQ(prompter->Asked().size(), 1u);
        const auto last = std::find_if(atBox.rbegin(), atBox.rend(), isMeasure);
        ASSERT_NE(last, atBox.rend());
        std::vector<uint8_t> after;
        for (auto it = atBox.rbegin(); it != last; ++it) after.insert(after.begin(), (*it)[0]);
        EXPECT_EQ(after, fail ? std::vector<uint8_t>{} : std::vector<uint8_t>{0xAD});
    }
}

TEST_F(TeFePage, StopMidRunKeepsTheCurvesAndANewRunStartsAtOnce) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    CTEFE& p = OpenPage();
    Tick();
    gate.Install(drive);
    gate.Allow(2 + 10);  // references and ten samples; the eleventh is held at the drive
    ChooseMode(SamplingMode::Full);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(13));
    QApplication::processEvents();
    const int drawn = DrawnPixels(Chart());
    EXPECT_GT(drawn, 0);

    ClickStop();  // the eleventh sample is still at the drive
    EXPECT_FALSE(RunGoing());
    EXPECT_EQ(StatusText(), Latin(scan_texts::kUserAbort));
    EXPECT_EQ(Status()->PendingColour(), CTEFE::WarningColour());
    EXPECT_EQ(services.State().scanIdle.load(), 1);
    EXPECT_TRUE(Control(CTEFE::kStartId)->isEnabled());  // pressed again below: a new run
    EXPECT_FALSE(Control(CTEFE::kStopId)->isEnabled());

    // The held answer comes back after STOP: it is dropped, nothing more is sent or drawn.
    gate.Allow(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::RunningWorkers(p) == 0; }, 20000));
    EXPECT_EQ(gate.Arrived(), 13);
    EXPECT_EQ(DrawnPixels(Chart()), drawn);
    EXPECT_TRUE(prompter->Asked().empty());

    // START again at once: a whole new run with its verdict.
    gate.Open();
    ClickStart();
    EXPECT_TRUE(RunGoing());
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kVerdictOk)});
    EXPECT_EQ(gate.Arrived(), 13 + 2 + 140);
}

TEST_F(TeFePage, StopThenStartWhileTheStoppedRunStillWaitsForTheDrive) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    gate.Install(drive);
    gate.Allow(2 + 3);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(6));
    ClickStop();
    ClickStart();  // the stopped run still holds a command at the drive
    EXPECT_TRUE(RunGoing());
    EXPECT_EQ(services.State().scanIdle.load(), 0);
    gate.Open();
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kVerdictOk)});
    // The stopped run sent nothing after its held sample: one run of 64 samples, plus 4 commands.
    EXPECT_EQ(gate.Arrived(), 6 + 2 + 64);
}

// A run stopped while it still waits for the drive (the run stopped before it has a command
// there) sends nothing once the drive is free.
TEST_F(TeFePage, ARunStoppedWhileWaitingForTheDriveSendsNothing) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    CTEFE& p = OpenPage();
    Tick();
    gate.Install(drive);
    gate.Allow(2 + 3);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(6));  // the fourth sample is held at the drive
    ClickStop();
    ClickStart();  // the new run waits for the drive held by the stopped one, or has not asked yet
    ClickStop();
    bus.ClearCommands();
    gate.Open();
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::RunningWorkers(p) == 0; }, 20000));
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_TRUE(prompter->Asked().empty());
    EXPECT_EQ(StatusText(), Latin(scan_texts::kUserAbort));
}

// A poll that waits for the drive when a run starts leaves the drive to the run.
TEST_F(TeFePage, APollWaitingForTheDriveWhenARunStartsSendsNothing) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    CTEFE& p = OpenPage();
    Tick();
    gate.Install(drive);
    gate.Allow(2 + 3);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(6));
    ClickStop();                     // its fourth sample is still at the drive
    ASSERT_TRUE(TickStartsAPoll());  // it waits for the drive held by the stopped run
    ClickStart();
    bus.ClearCommands();
    gate.Open();
    ASSERT_TRUE(WaitRunEnded());
    ASSERT_TRUE(QTest::qWaitFor([&] { return test::RunningWorkers(p) == 0; }, 20000));
    EXPECT_EQ(CountOpcode(bus, 0x00), 0u);
    EXPECT_EQ(BoxTexts(), std::vector<QString>{Latin(scan_texts::kVerdictOk)});
}

TEST_F(TeFePage, AStartWhileARunExistsIsIgnored) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    CTEFE& p = OpenPage();
    Tick();
    gate.Install(drive);
    gate.Allow(2);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(3));
    const size_t workers = test::RunningWorkers(p);
    p.OnStart();
    EXPECT_EQ(test::RunningWorkers(p), workers);
    gate.Open();
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_EQ(prompter->Asked().size(), 1u);
}

TEST_F(TeFePage, ThePollStaysSilentDuringARun) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    gate.Install(drive);
    gate.Allow(4);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(5));
    bus.ClearCommands();
    Tick();
    EXPECT_EQ(CountOpcode(bus, 0x00), 0u);
    EXPECT_EQ(StatusText(), Latin(scan_texts::kTesting));
    gate.Open();
    ASSERT_TRUE(WaitRunEnded());
}

TEST_F(TeFePage, DestroyingThePageMidRunStopsTheRunAndLeavesTheProgramIdle) {
    auto& drive = AddDrive();
    drive.Insert("dvd+r");
    OpenPage();
    Tick();
    gate.Install(drive);
    gate.Allow(3);
    ClickStart();
    ASSERT_TRUE(gate.WaitArrived(4));
    EXPECT_EQ(services.State().scanIdle.load(), 0);
    bus.ClearCommands();
    // The page goes at once, without waiting for the command held at the drive.
    delete page;
    page = nullptr;
    EXPECT_EQ(services.State().scanIdle.load(), 1);
    EXPECT_EQ(gate.Arrived(), 4);
    // Once the held answer is back, the run sends nothing more; vendor mode off follows.
    gate.Open();
    WorkerThreads::Program().JoinAll();
    EXPECT_EQ(bus.Commands(),
              (std::vector<std::vector<uint8_t>>{{0xFD, 0xF2, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0}}));
    EXPECT_TRUE(prompter->Asked().empty());
}

TEST_F(TeFePage, CriterionBoxesDrawAndEraseTheLimitLinesAndARunRedrawsThem) {
    AddDrive().Insert("dvd+r");
    OpenPage();
    Tick();
    const ChartLayout layout = Chart()->Canvas().Layout();
    auto lineRow = [&](int percent) {
        return layout.plotBottom - static_cast<int>(percent * layout.yFactor);
    };
    // Pixels of the colour on the row, inside the plot.
    auto onRow = [&](int row, QRgb colour) {
        const QImage plot = Chart()->Canvas().PlotLayer();
        int n = 0;
        for (int x = layout.plotLeft; x < layout.plotRight; ++x) n += plot.pixel(x, row) == colour ? 1 : 0;
        return n;
    };
    Control<QCheckBox>(CTEFE::kFeCheckId)->click();
    EXPECT_GT(onRow(lineRow(18), CTEFE::FeColour().rgb()), 50);
    Control<QCheckBox>(CTEFE::kFeCheckId)->click();
    EXPECT_EQ(DrawnPixels(Chart()), 0);

    // A run clears the chart and draws the lines that are switched on again.
    Control<QCheckBox>(CTEFE::kTeCheckId)->click();
    ChooseMode(SamplingMode::Quick);
    ClickStart();
    ASSERT_TRUE(WaitRunEnded());
    EXPECT_GT(onRow(lineRow(27), CTEFE::TeColour().rgb()), 50);
    EXPECT_EQ(onRow(lineRow(18), CTEFE::FeColour().rgb()) > 50, false);
}

// Every text of the page stays readable (contrast 4.5:1) whether the desktop's palette is light or
// dark: measured on the status line's pixels for each colour the page gives it, and on the colours
// of the criterion boxes and their legends.
TEST_F(TeFePage, TextsStayReadableUnderLightAndDarkPalettes) {
    const QPalette original = QApplication::palette();
    QPalette dark = original;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        dark.setColor(group, QPalette::Window, QColor(53, 53, 53));
        dark.setColor(group, QPalette::WindowText, QColor(230, 230, 230));
        dark.setColor(group, QPalette::Button, QColor(60, 60, 60));
        dark.setColor(group, QPalette::ButtonText, QColor(230, 230, 230));
        dark.setColor(group, QPalette::Base, QColor(35, 35, 35));
        dark.setColor(group, QPalette::Text, QColor(230, 230, 230));
        dark.setColor(group, QPalette::Light, QColor(90, 90, 90));
        dark.setColor(group, QPalette::Dark, QColor(20, 20, 20));
    }
    AddDrive();
    const QColor statusColours[] = {Qt::black, CTEFE::HelpColour(), CTEFE::OkColour(),
                                    CTEFE::WarningColour()};
    for (const bool isDark : {false, true}) {
        const QPalette& palette = isDark ? dark : original;
        SCOPED_TRACE(palette.color(QPalette::Window).name().toStdString());
        QApplication::setPalette(palette);
        CTEFE& p = OpenPage();
        p.show();
        // Solid glyphs: edges blended with the background would understate the ink.
        QFont solid = Status()->font();
        solid.setStyleStrategy(QFont::NoAntialias);
        Status()->setFont(solid);
        for (const QColor& colour : statusColours) {
            SCOPED_TRACE(colour.name().toStdString());
            Status()->Show(QStringLiteral("This disc is ok for writing"), colour);
            const QImage line = Status()->grab().toImage();
            const QRect inside = Status()->contentsRect();
            const QColor background = line.pixelColor(inside.left() + 1, inside.center().y());
            double best = 1.0;
            for (int y = inside.top(); y <= inside.bottom(); ++y)
                for (int x = inside.left(); x <= inside.right(); ++x)
                    best = std::max(best, ContrastRatio(line.pixelColor(x, y), background));
            if (isDark) {
                EXPECT_GE(best, kMinimumTextContrast) << Status()->DrawnColour().name().toStdString()
                                                      << " on " << background.name().toStdString();
            } else {
                // The dialogs' own colours, exactly.
                EXPECT_EQ(Status()->DrawnColour(), colour);
            }
        }
        // Check box, legend and curve alike, under any palette.
        for (const auto& [id, curve] : {std::pair{CTEFE::kTeCheckId, chart_style::kTeColour},
                                        std::pair{CTEFE::kTeLegendId, chart_style::kTeColour},
                                        std::pair{CTEFE::kFeCheckId, chart_style::kFeColour},
                                        std::pair{CTEFE::kFeLegendId, chart_style::kFeColour}}) {
            EXPECT_EQ(Control(id)->palette().color(QPalette::WindowText).rgb(), curve) << id;
        }
        // A picture of the window shows the verdict in the colour the screen shows.
        Status()->Show(QStringLiteral("This disc is ok for writing"), CTEFE::WarningColour());
        Status()->repaint();
        const QColor shown = Status()->DrawnColour();
        const QImage picture = CaptureWindow(p);
        const QRect line(Status()->mapTo(&p, QPoint(0, 0)), Status()->size());
        bool found = false;
        for (int y = line.top(); y <= line.bottom() && !found; ++y)
            for (int x = line.left(); x <= line.right() && !found; ++x)
                found = picture.pixelColor(x, y) == shown;
        EXPECT_TRUE(found) << shown.name().toStdString();
        delete page;
        page = nullptr;
    }
    QApplication::setPalette(original);
}

TEST_F(TeFePage, HoverHelpInDarkBlueAndTheStatusTextBackInBlack) {
    AddDrive();
    OpenPage();
    const std::pair<int, int> helps[] = {{CTEFE::kSamplingComboId, 127}, {CTEFE::kSpeedComboId, 128},
                                         {CTEFE::kStartLabelId, 129},    {CTEFE::kEndLabelId, 130},
                                         {CTEFE::kTeCheckId, 131},       {CTEFE::kFeCheckId, 131}};
    for (const auto& [id, string] : helps) {
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(Control(id), &enter);
        EXPECT_EQ(Status()->Text(), LoadString(string)) << id;
        EXPECT_EQ(Status()->PendingColour(), CTEFE::HelpColour());
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(Control(id), &leave);
        EXPECT_EQ(Status()->Text(), Latin(scan_texts::kInsertBlankDisc));
        EXPECT_EQ(Status()->PendingColour(), QColor(Qt::black));
    }
    EXPECT_EQ(LoadString(130), "(1) Maximum: 2621440, (2) (End > Start) and (End - Start >= 150000)");
}

}  // namespace
}  // namespace dravix
