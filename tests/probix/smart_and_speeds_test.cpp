// The Smart mode's per-speed check and the disc survey that feeds the speed list.

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "probix/Judgement.h"
#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"
#include "tests/probix/ScanTestSupport.h"

namespace dravix {
namespace {

using scan_test::DriveWithDisc;

const StopRequested kNeverStop = [] { return false; };

// Every point within the limits, so that each speed measures all its points.
void PassEverywhere(DriveWithDisc& fixture) {
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Te, 1000));
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Fe, 1000));
    fixture.drive.AddFault(scan_test::SampleReply(100, 100));
}

TEST(MeasureSpeed, SingleLayerMeasuresTwoPointsAtTheTopSpeedsAndOneBelow) {
    DriveWithDisc fixture("dvd+r");
    PassEverywhere(fixture);
    for (uint8_t speed = 13; speed <= 19; ++speed) {
        fixture.bus.ClearCommands();
        EXPECT_EQ(MeasureSpeed(fixture.shared, kScanDvdPlusR, speed, kNeverStop), SpeedResult::Fit);
        const std::vector<uint32_t> expected =
            speed >= 18 ? std::vector<uint32_t>{0x220000, 0x225000} : std::vector<uint32_t>{0x260000};
        EXPECT_EQ(fixture.MeasuredPsns(), expected) << "speed " << int(speed);
        EXPECT_EQ(fixture.TeFeCommands(), 2 + expected.size());
    }
}

TEST(MeasureSpeed, DualLayerMeasuresFourPointsAtEverySpeed) {
    DriveWithDisc fixture("dvd+r-dl");
    PassEverywhere(fixture);
    for (uint8_t speed : {13, 16, 19}) {
        fixture.bus.ClearCommands();
        MeasureSpeed(fixture.shared, kScanDvdPlusRDl, speed, kNeverStop);
        EXPECT_EQ(fixture.MeasuredPsns(), (std::vector<uint32_t>{0x220000, 0x225000, 0xDD3000, 0xDD3500}));
    }
}

TEST(MeasureSpeed, VerdictsOfTheVirtualMedia) {
    DriveWithDisc good("dvd+r");
    EXPECT_EQ(MeasureSpeed(good.shared, kScanDvdPlusR, 13, kNeverStop), SpeedResult::Fit);
    EXPECT_EQ(MeasureSpeed(good.shared, kScanDvdPlusR, 19, kNeverStop), SpeedResult::OverLimit);
    DriveWithDisc bad("dvd+r-bad");
    EXPECT_EQ(MeasureSpeed(bad.shared, kScanDvdPlusR, 13, kNeverStop), SpeedResult::OverLimit);
    DriveWithDisc dl("dvd+r-dl");
    EXPECT_EQ(MeasureSpeed(dl.shared, kScanDvdPlusRDl, 15, kNeverStop), SpeedResult::Fit);
    EXPECT_EQ(MeasureSpeed(dl.shared, kScanDvdPlusRDl, 16, kNeverStop), SpeedResult::OverLimit);
    EXPECT_STREQ(SpeedResultText(SpeedResult::Fit), scan_texts::kSpeedOk);
    EXPECT_STREQ(SpeedResultText(SpeedResult::OverLimit), scan_texts::kSpeedNotRecommended);
    EXPECT_STREQ(SpeedResultText(SpeedResult::Failed), scan_texts::kSpeedNotRecommended);
}

TEST(MeasureSpeed, TheFirstFailingPointDecides) {
    DriveWithDisc fixture("dvd+r-dl");
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Te, 1000));
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Fe, 1000));
    // First point: TE 28 %, FE far over its limit too; the later points would pass.
    fixture.drive.AddFault(scan_test::SampleReply(280, 900, 0, true));
    fixture.drive.AddFault(scan_test::SampleReply(100, 100));
    EXPECT_EQ(MeasureSpeed(fixture.shared, kScanDvdPlusRDl, 13, kNeverStop), SpeedResult::OverLimit);
    EXPECT_EQ(fixture.MeasuredPsns().size(), 1u);

    // The third point fails its FE limit: the fourth is not measured.
    fixture.drive.ClearFaults();
    fixture.bus.ClearCommands();
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Te, 1000));
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Fe, 1000));
    fixture.drive.AddFault(scan_test::SampleReply(270, 190, 2, true));
    fixture.drive.AddFault(scan_test::SampleReply(270, 180));
    EXPECT_EQ(MeasureSpeed(fixture.shared, kScanDvdPlusRDl, 13, kNeverStop), SpeedResult::OverLimit);
    EXPECT_EQ(fixture.MeasuredPsns().size(), 3u);

    // All points at the limits pass.
    fixture.drive.ClearFaults();
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Te, 1000));
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Fe, 1000));
    fixture.drive.AddFault(scan_test::SampleReply(270, 180));
    EXPECT_EQ(MeasureSpeed(fixture.shared, kScanDvdPlusRDl, 13, kNeverStop), SpeedResult::Fit);
}

TEST(MeasureSpeed, FailuresMarkTheSpeedFailed) {
    DriveWithDisc fixture("dvd+r");
    fixture.drive.AddFault(scan_test::CheckConditionOn(scan_test::TeFeRule(0x04), emu::kBecomingReady));
    EXPECT_EQ(MeasureSpeed(fixture.shared, kScanDvdPlusR, 13, kNeverStop), SpeedResult::Failed);
    EXPECT_TRUE(fixture.MeasuredPsns().empty());

    fixture.drive.ClearFaults();
    emu::FaultRule invalid = scan_test::TeFeRule(0x00);
    invalid.action = emu::FaultRule::Action::BadAnswer;
    fixture.drive.AddFault(invalid);
    EXPECT_EQ(MeasureSpeed(fixture.shared, kScanDvdPlusR, 19, kNeverStop), SpeedResult::Failed);
}

TEST(MeasureSpeed, AStopBetweenCommandsGivesNoResult) {
    DriveWithDisc fixture("dvd+r-dl");
    int asked = 0;
    PassEverywhere(fixture);
    // Asked before each command (with the drive in hand) and after it: the sixth question comes
    // after the first point, whose answer is dropped.
    const SpeedResult result = MeasureSpeed(fixture.shared, kScanDvdPlusRDl, 13, [&] { return ++asked > 5; });
    EXPECT_EQ(result, SpeedResult::Stopped);
    EXPECT_EQ(fixture.MeasuredPsns().size(), 1u);
}

// The stop (Exit) comes while the measurement waits for the drive, which another thread has: once
// the drive is free nothing more is sent.
TEST(MeasureSpeed, AStopWhileWaitingForTheDriveSendsNothing) {
    DriveWithDisc fixture("dvd+r");
    scan_test::StopSwitch stop;
    SpeedResult result = SpeedResult::Fit;
    {
        scan_test::DriveHolder holder(fixture.shared);
        std::thread measure(
            [&] { result = MeasureSpeed(fixture.shared, kScanDvdPlusR, 13, stop.Predicate()); });
        scan_test::WaitForAWaiter(fixture.shared);
        stop.Stop();
        holder.Release();
        measure.join();
    }
    EXPECT_EQ(result, SpeedResult::Stopped);
    EXPECT_TRUE(fixture.bus.Commands().empty());
}

// The Smart report as the window and the command line run it: the observer hears of each speed,
// each point and each result in order, and a stop request between two points ends the report
// there: no result for that speed, no other speed, no check of the disc.
TEST(RunSmartReport, TheObserverFollowsEveryPointAndAStopEndsItBetweenPoints) {
    const std::vector<uint8_t> speeds{13, 16, 19};
    struct Case {
        const char* name;
        int stopAfterPoints;  // 0: never
        std::vector<SpeedResult> results;
        std::string events;
    } cases[] = {
        {"whole", 0, {SpeedResult::Fit, SpeedResult::Fit, SpeedResult::Fit},
         "s0 p0 p0 p0 p0 r0 s1 p1 p1 p1 p1 r1 s2 p2 p2 p2 p2 r2 "},
        {"stopped in the second speed", 6, {SpeedResult::Fit, SpeedResult::Stopped, SpeedResult::Stopped},
         "s0 p0 p0 p0 p0 r0 s1 p1 p1 "},
    };
    for (const Case& c : cases) {
        DriveWithDisc fixture("dvd+r-dl");
        PassEverywhere(fixture);
        std::string events;
        int points = 0;
        SmartCallbacks observer;
        observer.onSpeedStart = [&](size_t i) { events += "s" + std::to_string(i) + " "; };
        observer.onPoint = [&](size_t i) {
            events += "p" + std::to_string(i) + " ";
            ++points;
        };
        observer.onSpeedResult = [&](size_t i, SpeedResult result) {
            EXPECT_EQ(result, SpeedResult::Fit) << c.name;
            events += "r" + std::to_string(i) + " ";
        };
        const SmartReportRun run =
            RunSmartReport(fixture.shared, kScanDvdPlusRDl, speeds, nullptr, observer,
                           [&] { return c.stopAfterPoints > 0 && points >= c.stopAfterPoints; });
        EXPECT_EQ(events, c.events) << c.name;
        EXPECT_EQ(run.results, c.results) << c.name;
        const bool stopped = c.stopAfterPoints > 0;
        EXPECT_EQ(fixture.MeasuredPsns().size(), static_cast<size_t>(stopped ? c.stopAfterPoints : 12)) << c.name;
        // The disc's identity is read after the last speed only when the report was not stopped.
        EXPECT_EQ(fixture.bus.Commands().size() > fixture.TeFeCommands(), !stopped) << c.name;
        EXPECT_EQ(run.disc.stoppedBeforeCheck, stopped) << c.name;
        EXPECT_FALSE(run.disc.changed) << c.name;
        EXPECT_TRUE(run.disc.identifiersUnread) << c.name;  // none were given as read before
    }
}

// The one judgement of a Smart report that the window, the command line and the results file's
// reader share: its ranking, the fastest speed by kB/s, and a recommendation only from a report
// complete on a known disc.
TEST(SmartJudgement, RanksTheOutcomesAndRecommendsOnlyFromACompleteReport) {
    using R = SpeedResult;
    auto rows = [](R slow, R fast, R middle) {
        // In the drive's order, which need not be by speed: 16X comes before 8X here.
        return std::vector<SmartRow>{{13, 3324, slow}, {19, 22160, fast}, {16, 11080, middle}};
    };
    struct Case {
        const char* what;
        std::vector<SmartRow> rows;
        SmartDisc disc;
        RunOutcome outcome;
        const char* word;
        std::optional<size_t> recommended;
        std::string text;
    } cases[] = {
        {"fastest fit by kB/s",
         rows(R::Fit, R::OverLimit, R::Fit),
         {},
         RunOutcome::Ok,
         "ok",
         2,
         "Highest recommended speed: 8X"},
        {"none fit",
         rows(R::OverLimit, R::OverLimit, R::OverLimit),
         {},
         RunOutcome::NotRecommended,
         "not_recommended",
         std::nullopt,
         scan_texts::kNoSpeedRecommended},
        {"a failed speed",
         rows(R::Fit, R::Failed, R::Fit),
         {},
         RunOutcome::Failed,
         "failed",
         std::nullopt,
         scan_texts::kMeasurementFailed},
        {"identifiers unread",
         rows(R::Fit, R::Fit, R::Fit),
         {false, true, false},
         RunOutcome::Failed,
         "failed",
         std::nullopt,
         scan_texts::kIdentifiersUnread},
        {"stopped over failed",
         rows(R::Failed, R::Fit, R::Stopped),
         {false, true, false},
         RunOutcome::Stopped,
         "stopped",
         std::nullopt,
         scan_texts::kUserAbort},
        {"stopped before the last check",
         rows(R::Fit, R::Fit, R::Fit),
         {false, false, true},
         RunOutcome::Stopped,
         "stopped",
         std::nullopt,
         scan_texts::kUserAbort},
        {"disc changed over all",
         rows(R::Fit, R::Failed, R::Stopped),
         {true, true, true},
         RunOutcome::DiscChanged,
         "disc_changed",
         std::nullopt,
         scan_texts::kDiscChanged},
        {"disc changed, all fit",
         rows(R::Fit, R::Fit, R::Fit),
         {true, false, false},
         RunOutcome::DiscChanged,
         "disc_changed",
         std::nullopt,
         scan_texts::kDiscChanged},
    };
    for (const Case& c : cases) {
        const SmartVerdict verdict = JudgeSmartReport(c.rows, c.disc);
        EXPECT_EQ(verdict.outcome, c.outcome) << c.what;
        EXPECT_STREQ(OutcomeName(verdict.outcome), c.word) << c.what;
        EXPECT_EQ(verdict.recommended, c.recommended) << c.what;
        EXPECT_EQ(verdict.text, c.text) << c.what;
    }
}

// A poll that waits for the drive while a run starts sends nothing once the drive is free.
TEST(DiscSurvey, AStopWhileWaitingForTheDriveSendsNothing) {
    DriveWithDisc fixture("dvd+r");
    scan_test::StopSwitch stop;
    DiscSurvey survey;
    survey.kind = DiscSurvey::Kind::Ready;
    {
        scan_test::DriveHolder holder(fixture.shared);
        std::thread poll([&] { survey = SurveyDisc(fixture.shared, stop.Predicate()); });
        scan_test::WaitForAWaiter(fixture.shared);
        stop.Stop();
        holder.Release();
        poll.join();
    }
    EXPECT_EQ(survey.kind, DiscSurvey::Kind::Abandoned);
    EXPECT_TRUE(fixture.bus.Commands().empty());
}

// What a worker sends is decided with the drive in hand: a stop requested meanwhile sends nothing.
TEST(SharedDriveUse, AStopRequestedWhileWaitingForTheDriveSendsNothing) {
    DriveWithDisc fixture("dvd+r");
    scan_test::StopSwitch stop;
    std::optional<uint8_t> status = kCommandFailed;
    {
        scan_test::DriveHolder holder(fixture.shared);
        std::thread worker([&] {
            status = fixture.shared.LockedUnlessStopped(
                stop.Predicate(), [](DriveTable& table) { return TestUnitReady(table); });
        });
        scan_test::WaitForAWaiter(fixture.shared);
        stop.Stop();
        holder.Release();
        worker.join();
    }
    EXPECT_FALSE(status.has_value());
    EXPECT_TRUE(fixture.bus.Commands().empty());

    // Without a stop the command goes to the drive and its status comes back.
    status = fixture.shared.LockedUnlessStopped([] { return false; },
                                                [](DriveTable& table) { return TestUnitReady(table); });
    EXPECT_EQ(status, std::optional<uint8_t>(kCommandCompleted));
    EXPECT_EQ(fixture.bus.Commands().size(), 1u);
}

// A GET PERFORMANCE answer with the given write speeds; the last descriptor ends at endLba.
std::vector<uint8_t> PerformanceAnswer(const std::vector<uint32_t>& speeds, uint32_t endLba) {
    std::vector<uint8_t> answer(kPerformanceLength, 0);
    const uint32_t length = static_cast<uint32_t>(4 + 16 * speeds.size());
    answer[0] = static_cast<uint8_t>(length >> 24);
    answer[1] = static_cast<uint8_t>(length >> 16);
    answer[2] = static_cast<uint8_t>(length >> 8);
    answer[3] = static_cast<uint8_t>(length);
    for (size_t i = 0; i < speeds.size() && 8 + 16 * (i + 1) <= answer.size(); ++i) {
        uint8_t* d = &answer[8 + 16 * i];
        for (int b = 0; b < 4; ++b) {
            d[4 + b] = static_cast<uint8_t>(endLba >> (24 - 8 * b));
            d[12 + b] = static_cast<uint8_t>(speeds[i] >> (24 - 8 * b));
        }
    }
    return answer;
}

TEST(SpeedList, LabelsCodesAndSkippedSpeedsStayInLine) {
    const DiscSpeeds speeds = DecodeWriteSpeeds(PerformanceAnswer({2770, 3324, 5540, 9999, 22160}, 2295103));
    EXPECT_EQ(speeds.codes, (std::vector<uint8_t>{13, 14, 19}));
    ASSERT_EQ(speeds.labels.size(), 3u);
    EXPECT_EQ(speeds.labels[0], "2.4X => ( 3324 Kb/Sec)  ");
    EXPECT_EQ(speeds.labels[1], " 4X => ( 5540 Kb/Sec)  ");
    EXPECT_EQ(speeds.labels[2], "16X => (22160 Kb/Sec)  ");
    EXPECT_EQ(speeds.lastLba, 2295103);

    const DiscSpeeds four = DecodeWriteSpeeds(PerformanceAnswer({3324, 5540, 8310, 11080}, 2295103));
    ASSERT_EQ(four.labels.size(), 4u);
    EXPECT_EQ(four.labels[2], " 6X => ( 8310 Kb/Sec)  ");
    EXPECT_EQ(four.labels[3], " 8X => (11080 Kb/Sec)  ");
}

TEST(SpeedList, ALengthBeyondTheBufferIsClampedAndNoDescriptorGivesNothing) {
    std::vector<uint8_t> answer = PerformanceAnswer(std::vector<uint32_t>(12, 3324), 100);
    answer[0] = 0x7F;  // claims far more descriptors than 200 bytes hold
    EXPECT_EQ(DecodeWriteSpeeds(answer).codes.size(), 12u);
    const DiscSpeeds none = DecodeWriteSpeeds(PerformanceAnswer({}, 0));
    EXPECT_TRUE(none.codes.empty());
    EXPECT_FALSE(none.lastLba.has_value());
}

TEST(DiscSurvey, FailuresOfTheTwoReads) {
    DriveWithDisc fixture("dvd+r");
    emu::FaultRule performance;
    performance.opcode = 0xAC;
    performance.sense = emu::kBecomingReady;
    fixture.drive.AddFault(performance);
    EXPECT_EQ(SurveyDisc(fixture.shared, kNeverStop).kind, DiscSurvey::Kind::SpeedsUnreadable);

    fixture.drive.ClearFaults();
    emu::FaultRule configuration;
    configuration.opcode = 0x46;
    configuration.sense = emu::kNoMedium;
    fixture.drive.AddFault(configuration);
    const DiscSurvey survey = SurveyDisc(fixture.shared, kNeverStop);
    EXPECT_EQ(survey.kind, DiscSurvey::Kind::NotSupported);
    EXPECT_EQ(survey.discTypeCode, kScanDiscUnknown);

    // A disc whose speeds are all unknown to the table.
    fixture.drive.ClearFaults();
    emu::FaultRule odd;
    odd.opcode = 0xAC;
    odd.action = emu::FaultRule::Action::Reply;
    odd.reply = PerformanceAnswer({2770, 4000}, 2295103);
    fixture.drive.AddFault(odd);
    EXPECT_EQ(SurveyDisc(fixture.shared, kNeverStop).kind, DiscSurvey::Kind::NoKnownSpeed);
}

// A disc changed between the two reads: GET PERFORMANCE takes the only report of the change, so
// the survey says so and reads the new disc from its type, instead of keeping the old disc's type
// with no sign that another one is in.
TEST(DiscSurvey, ADiscChangedBetweenItsTwoReadsIsSurveyedAgain) {
    DriveWithDisc fixture("dvd+r-dl");
    bool swapped = false;
    fixture.drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] == 0x46 && !swapped) {
            swapped = true;
            fixture.drive.Insert("dvd-r");
        }
    });
    const DiscSurvey survey = SurveyDisc(fixture.shared, kNeverStop);
    fixture.drive.SetTraceHook(nullptr);
    EXPECT_TRUE(survey.attention);
    EXPECT_EQ(survey.kind, DiscSurvey::Kind::Ready);
    EXPECT_EQ(survey.discTypeCode, kScanDvdMinusR);
    EXPECT_FALSE(SurveyDisc(fixture.shared, kNeverStop).attention);
}

}  // namespace
}  // namespace dravix
