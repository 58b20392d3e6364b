// The measurement engine on the virtual drive: where a run samples, what it sends, how it judges
// and how it ends.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "probix/ScanTexts.h"
#include "tests/probix/ScanTestSupport.h"

namespace dravix {
namespace {

using scan_test::DriveWithDisc;

constexpr int32_t kDualLayerLastLba = 4173823;
const StopRequested kNeverStop = [] { return false; };

// Collects what a run reports.
class Recorder final : public ScanObserver {
  public:
    void OnReferences(uint16_t te, uint16_t fe, int planned) override {
        teReference = te;
        feReference = fe;
        plannedSamples = planned;
    }
    void OnSample(const ScanSample& sample) override { samples.push_back(sample); }
    void OnEnd(const ScanResult& result) override {
        ++ends;
        last = result;
    }

    uint16_t teReference = 0;
    uint16_t feReference = 0;
    int plannedSamples = -1;
    std::vector<ScanSample> samples;
    int ends = 0;
    ScanResult last;
};

ScanSettings Settings(uint8_t disc, int32_t lastLba, SamplingMode mode, uint8_t speed = 13) {
    ScanSettings s;
    s.discTypeCode = disc;
    s.lastLba = lastLba;
    s.mode = mode;
    s.baseStep = BaseStepOf(mode);
    s.speedCode = speed;
    return s;
}

struct ModeCase {
    const char* media;
    uint8_t disc;
    int32_t lastLba;
    SamplingMode mode;
    size_t count;
    int32_t first;
    int32_t last;
};

class SamplingModes : public ::testing::TestWithParam<ModeCase> {};

// Each run measures exactly the planned positions, first and last where the modes put them, and
// every PSN it sends is the mapped (and on DL clamped) position.
TEST_P(SamplingModes, RunMeasuresThePlannedPositions) {
    const ModeCase& c = GetParam();
    DriveWithDisc fixture(c.media);
    Recorder recorder;
    const ScanResult result =
        RunTeFeScan(fixture.shared, Settings(c.disc, c.lastLba, c.mode), recorder, kNeverStop);

    ASSERT_EQ(result.end, ScanEnd::Finished);
    ASSERT_EQ(recorder.samples.size(), c.count);
    EXPECT_EQ(result.samples, static_cast<int>(c.count));
    EXPECT_EQ(recorder.plannedSamples, static_cast<int>(c.count));
    EXPECT_EQ(recorder.samples.front().lba, c.first);
    EXPECT_EQ(recorder.samples.back().lba, c.last);

    const std::vector<uint32_t> sent = fixture.MeasuredPsns();
    ASSERT_EQ(sent.size(), c.count);
    for (size_t i = 0; i < c.count; ++i) {
        const ScanSample& s = recorder.samples[i];
        EXPECT_EQ(s.index, static_cast<int>(i));
        EXPECT_EQ(sent[i], ClampDualLayerPsn(LbaToPsn(s.lba, c.disc), c.disc)) << "sample " << i;
        EXPECT_EQ(s.psn, sent[i]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    SingleAndDualLayer, SamplingModes,
    ::testing::Values(ModeCase{"dvd+r", 6, kDefaultLastLba, SamplingMode::Normal, 64, 0, 2277376},
                      ModeCase{"dvd+r", 6, kDefaultLastLba, SamplingMode::Full, 140, 0, 2277376},
                      ModeCase{"dvd+r", 6, kDefaultLastLba, SamplingMode::Quick, 19, kQuickStartLba, 2271437},
                      ModeCase{"dvd+r-dl", 5, kDualLayerLastLba, SamplingMode::Normal, 127, 0, 4145152},
                      ModeCase{"dvd+r-dl", 5, kDualLayerLastLba, SamplingMode::Full, 254, 0, 4145152},
                      ModeCase{"dvd+r-dl", 5, kDualLayerLastLba, SamplingMode::Quick, 25, kQuickStartLba,
                               2271437}));

TEST(SamplePositions, CustomizeZeroTo150000MeasuresThreePositions) {
    const ScanRange range = RangeOf(SamplingMode::Customize, 6, kDefaultLastLba, 0, 150000);
    EXPECT_EQ(range.end, 133616);
    DriveWithDisc fixture("dvd+r");
    ScanSettings settings = Settings(6, kDefaultLastLba, SamplingMode::Customize);
    settings.customStart = 0;
    settings.customEnd = 150000;
    Recorder recorder;
    RunTeFeScan(fixture.shared, settings, recorder, kNeverStop);
    EXPECT_EQ(fixture.MeasuredPsns(), (std::vector<uint32_t>{0x30000, 0x30000 + 49152, 0x30000 + 98304}));
}

TEST(SamplePositions, DegenerateLastLbaNeitherDividesByZeroNorLoopsForever) {
    // A drive reporting a tiny capacity: the zone length would be 0.
    const auto points = SamplePoints(ScanRange{10, 40000}, kCoarseStep, 6, 5);
    EXPECT_EQ(points.size(), 3u);  // beyond zone 9 from the start: steps of 16384
    // A range ending near the top of the 32-bit range does not wrap around.
    const auto top = SamplePoints(ScanRange{INT32_MAX - 20000, INT32_MAX}, kFineStep, 6, INT32_MAX);
    EXPECT_EQ(top.size(), 2u);
}

TEST(DualLayerMapping, LayerOffsetsAndTheClampAroundTheLayerJump) {
    EXPECT_EQ(LbaToPsn(0, 5), 0x30000u);
    EXPECT_EQ(LbaToPsn(2070527, 5), 0x2297FFu);
    EXPECT_EQ(ClampDualLayerPsn(LbaToPsn(2070527, 5), 5), 0x2297FFu);
    for (int32_t lba : {2070528, 2080000, 2086911}) {
        EXPECT_EQ(ClampDualLayerPsn(LbaToPsn(lba, 5), 5), 0x229800u) << lba;
    }
    EXPECT_EQ(LbaToPsn(2086912, 5), 0xDD2800u);
    EXPECT_EQ(ClampDualLayerPsn(0xDD0000, 5), 0x229800u);
    EXPECT_EQ(ClampDualLayerPsn(0xDD0001, 5), 0xDD0001u);
    // Single-layer discs have one offset and no clamp.
    EXPECT_EQ(LbaToPsn(2086912, 6), 2086912u + 0x30000u);
    EXPECT_EQ(ClampDualLayerPsn(0x229900, 6), 0x229900u);
}

TEST(TeFeCommands, ReferenceAndMeasurementBlocks) {
    DriveWithDisc fixture("dvd+r-dl");
    Recorder recorder;
    ScanSettings settings = Settings(5, kDualLayerLastLba, SamplingMode::Customize, 16);
    settings.customStart = 0;
    settings.customEnd = 150000;
    RunTeFeScan(fixture.shared, settings, recorder, kNeverStop);
    const auto commands = fixture.bus.Commands();
    ASSERT_GE(commands.size(), 5u);
    // The disc's identity (ADIP) before the references and again after the last sample.
    const std::vector<uint8_t> identity = {0xAD, 0, 0, 0, 0, 0, 0, 0x11, 0x01, 0x2C, 0, 0};
    EXPECT_EQ(commands.front(), identity);
    EXPECT_EQ(commands.back(), identity);
    EXPECT_EQ(commands[1],
              (std::vector<uint8_t>{0xFD, 0xFB, 'Z', 'A', 'R', 'N', 0x05, 0x02, 0x22, 0x00, 0x00, 0x03}));
    EXPECT_EQ(commands[2],
              (std::vector<uint8_t>{0xFD, 0xFB, 'Z', 'A', 'R', 'N', 0x05, 0x02, 0x03, 0x00, 0x00, 0x04}));
    EXPECT_EQ(commands[3],
              (std::vector<uint8_t>{0xFD, 0xFB, 'Z', 'A', 'R', 'N', 0x05, 16, 0x03, 0x00, 0x00, 0x00}));
    // The drive's references come back as the run's.
    EXPECT_EQ(recorder.teReference, 1620);
    EXPECT_EQ(recorder.feReference, 1180);

    uint8_t cdb[12];
    BuildReferenceCdb(cdb, TeFeChannel::Te, ReferencePsn(TeFeChannel::Te, 6));
    EXPECT_EQ(DriveWithDisc::Psn({cdb, cdb + 12}), 0x25C000u);
}

// References of 1000 make the per-cent values equal raw / 10.
struct VerdictCase {
    uint16_t tePercent;
    uint16_t fePercent;
    bool notRecommended;
};

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Verdicts, LimitsAre27And18Inclusive) {
    const VerdictCase& c = GetParam();
    DriveWithDisc fixture("dvd+r");
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Te, 1000));
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Fe, 1000));
    // Every sample at the limits, one sample (the fifth) at the case's values.
    fixture.drive.AddFault(scan_test::SampleReply(c.tePercent * 10, c.fePercent * 10, 4, true));
    fixture.drive.AddFault(scan_test::SampleReply(270, 180));
    Recorder recorder;
    const ScanResult result =
        RunTeFeScan(fixture.shared, Settings(6, kDefaultLastLba, SamplingMode::Normal), recorder, kNeverStop);
    ASSERT_EQ(result.end, ScanEnd::Finished);
    EXPECT_EQ(result.notRecommended, c.notRecommended);
    EXPECT_STREQ(VerdictText(result),
                 c.notRecommended ? scan_texts::kVerdictNotRecommended : scan_texts::kVerdictOk);
    EXPECT_EQ(recorder.samples[4].tePercent, c.tePercent);
    EXPECT_EQ(recorder.samples[4].fePercent, c.fePercent);
    EXPECT_EQ(result.teOverLimit, c.tePercent > 27 ? 1 : 0);
    EXPECT_EQ(result.feOverLimit, c.fePercent > 18 ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Boundaries, Verdicts,
                         ::testing::Values(VerdictCase{27, 18, false}, VerdictCase{28, 18, true},
                                           VerdictCase{27, 19, true}, VerdictCase{0, 0, false}));

TEST(Percent, TruncatesAndSaturatesInsteadOfWrapping) {
    EXPECT_EQ(PercentOf(497, 1840), 27);  // 27.01
    EXPECT_EQ(PercentOf(516, 1840), 28);
    EXPECT_EQ(PercentOf(65535, 1), 65535);
    // 2622 × 100 / 4 = 65550, which modulo 65536 would read as 14 per cent.
    EXPECT_EQ(PercentOf(2622, 4), 65535);
}

TEST(Percent, ASampleFarOverTheLimitIsNeverJudgedOk) {
    DriveWithDisc fixture("dvd+r");
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Te, 4));
    fixture.drive.AddFault(scan_test::ReferenceReply(TeFeChannel::Fe, 4));
    fixture.drive.AddFault(scan_test::SampleReply(2622, 2622));
    Recorder recorder;
    const ScanResult result =
        RunTeFeScan(fixture.shared, Settings(6, kDefaultLastLba, SamplingMode::Quick), recorder, kNeverStop);
    EXPECT_TRUE(result.notRecommended);
    EXPECT_EQ(recorder.samples.front().tePercent, 65535);
}

struct FailureCase {
    const char* name;
    emu::FaultRule rule;
    FailurePath path;
    FailureOutcome outcome;
    const char* box;
    const char* status;
    int samples;
};

class Failures : public ::testing::TestWithParam<FailureCase> {};

TEST_P(Failures, EndTheRunWithThePathsTexts) {
    const FailureCase& c = GetParam();
    DriveWithDisc fixture("dvd+r");
    fixture.drive.AddFault(c.rule);
    Recorder recorder;
    const ScanResult result =
        RunTeFeScan(fixture.shared, Settings(6, kDefaultLastLba, SamplingMode::Normal), recorder, kNeverStop);
    ASSERT_EQ(result.end, ScanEnd::Failed);
    EXPECT_EQ(recorder.ends, 1);
    EXPECT_EQ(result.path, c.path);
    EXPECT_EQ(result.outcome, c.outcome);
    EXPECT_EQ(result.samples, c.samples);
    EXPECT_EQ(recorder.samples.size(), static_cast<size_t>(c.samples));
    const FailureTexts texts = TextsOfFailure(result.path, result.outcome);
    EXPECT_STREQ(texts.box, c.box);
    EXPECT_STREQ(texts.status, c.status);
    // Nothing is sent after the failing command.
    EXPECT_EQ(fixture.TeFeCommands(),
              static_cast<size_t>(c.path == FailurePath::A ? 1 : 2 + c.samples + (c.samples > 0 ? 1 : 0)));
}

emu::FaultRule Sample(emu::FaultRule rule, uint32_t after) {
    rule.after = after;
    return rule;
}

emu::FaultRule BadAnswerAfter(uint32_t after) {
    emu::FaultRule rule = scan_test::TeFeRule(0x00);
    rule.action = emu::FaultRule::Action::BadAnswer;
    rule.answerByte0 = 1;
    rule.after = after;
    return rule;
}

emu::FaultRule TimeoutOnFeReference() {
    emu::FaultRule rule = scan_test::TeFeRule(0x04);
    rule.action = emu::FaultRule::Action::HostTimeout;
    return rule;
}

using scan_test::CheckConditionOn;
using scan_test::TeFeRule;

INSTANTIATE_TEST_SUITE_P(
    PathsAAndB, Failures,
    ::testing::Values(
        FailureCase{"TeReferenceNoDisc", CheckConditionOn(TeFeRule(0x03), emu::kNoMedium), FailurePath::A,
                    FailureOutcome::NoDisc, scan_texts::kNoDiscInside, scan_texts::kNoDiscInside, 0},
        FailureCase{"TeReferenceBecomingReady", CheckConditionOn(TeFeRule(0x03), emu::kBecomingReady),
                    FailurePath::A, FailureOutcome::Other, scan_texts::kDriveActivating,
                    scan_texts::kDriveActivating, 0},
        FailureCase{"FeReferenceBecomingReady", CheckConditionOn(TeFeRule(0x04), emu::kBecomingReady),
                    FailurePath::B, FailureOutcome::Other, scan_texts::kFirmwareNotSupported,
                    scan_texts::kDriveActivating, 0},
        FailureCase{"FeReferenceTimeout", TimeoutOnFeReference(), FailurePath::B, FailureOutcome::Other,
                    scan_texts::kFirmwareNotSupported, scan_texts::kDriveActivating, 0},
        FailureCase{"SampleNoDisc", Sample(CheckConditionOn(TeFeRule(0x00), emu::kNoMedium), 7),
                    FailurePath::B, FailureOutcome::NoDisc, scan_texts::kNoDiscInside,
                    scan_texts::kNoDiscInside, 7},
        FailureCase{"SampleMarkedInvalid", BadAnswerAfter(3), FailurePath::B, FailureOutcome::Other,
                    scan_texts::kFirmwareNotSupported, scan_texts::kDriveActivating, 3},
        // A drive taken away answers neither path's pair: it says it is gone.
        FailureCase{"TeReferenceDriveGone", CheckConditionOn(TeFeRule(0x03), emu::kLogicalUnitNotSupported),
                    FailurePath::A, FailureOutcome::DriveGone, scan_texts::kDriveGone, scan_texts::kDriveGone,
                    0},
        FailureCase{
            "SampleDriveGone", Sample(CheckConditionOn(TeFeRule(0x00), emu::kLogicalUnitNotSupported), 5),
            FailurePath::B, FailureOutcome::DriveGone, scan_texts::kDriveGone, scan_texts::kDriveGone, 5}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return info.param.name; });

TEST(Run, ARangeWithoutPositionsGivesNoVerdictAndSendsNothing) {
    struct Case {
        SamplingMode mode;
        int32_t lastLba, start, end;
        NoVerdictReason reason;
    };
    // end = start: no position; a last LBA below the Quick range (or a corrupt one) puts the end
    // below the start.
    for (const Case& c :
         {Case{SamplingMode::Customize, kDefaultLastLba, 100000, 116384, NoVerdictReason::NoPosition},
          Case{SamplingMode::Quick, 1000000, 0, 0, NoVerdictReason::EndBelowStart},
          Case{SamplingMode::Normal, 0, 0, 0, NoVerdictReason::EndBelowStart}}) {
        DriveWithDisc fixture("dvd+r");
        ScanSettings settings = Settings(6, c.lastLba, c.mode);
        settings.customStart = c.start;
        settings.customEnd = c.end;
        Recorder recorder;
        const ScanResult result = RunTeFeScan(fixture.shared, settings, recorder, kNeverStop);
        EXPECT_EQ(result.end, ScanEnd::NoVerdict);
        EXPECT_EQ(result.noVerdict, c.reason);
        EXPECT_TRUE(fixture.bus.Commands().empty());
        EXPECT_EQ(recorder.ends, 1);
    }
    EXPECT_STREQ(NoVerdictText(NoVerdictReason::NoPosition), "No position to measure in this range.");
    EXPECT_STREQ(NoVerdictText(NoVerdictReason::EndBelowStart), "Not support for this disc.");
}

TEST(Run, AStopEndsItBetweenCommandsAndDropsTheAnswerInFlight) {
    DriveWithDisc fixture("dvd+r");
    std::atomic<int> measured{0};
    // The stop comes while the sixth measurement is at the drive.
    fixture.drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0x00) ++measured;
    });
    Recorder recorder;
    const ScanResult result = RunTeFeScan(fixture.shared, Settings(6, kDefaultLastLba, SamplingMode::Full),
                                          recorder, [&] { return measured.load() >= 6; });
    EXPECT_EQ(result.end, ScanEnd::Stopped);
    EXPECT_EQ(recorder.samples.size(), 5u);
    EXPECT_EQ(fixture.MeasuredPsns().size(), 6u);
    // The drive answers normally afterwards.
    EXPECT_EQ(TestUnitReady(fixture.table), kCommandCompleted);
    EXPECT_NE(ReadTeFeReference(fixture.table, TeFeChannel::Te, 6).value, 0);
}

TEST(Run, AStopBeforeTheStartSendsNothing) {
    DriveWithDisc fixture("dvd+r");
    Recorder recorder;
    const ScanResult result = RunTeFeScan(fixture.shared, Settings(6, kDefaultLastLba, SamplingMode::Normal),
                                          recorder, [] { return true; });
    EXPECT_EQ(result.end, ScanEnd::Stopped);
    EXPECT_TRUE(fixture.bus.Commands().empty());
}

// The stop comes while the run waits for the drive, which another thread has: once the drive is
// free the run sends nothing more.
TEST(Run, AStopWhileWaitingForTheDriveSendsNothing) {
    DriveWithDisc fixture("dvd+r");
    scan_test::StopSwitch stop;
    Recorder recorder;
    ScanResult result;
    {
        scan_test::DriveHolder holder(fixture.shared);
        std::thread run([&] {
            result = RunTeFeScan(fixture.shared, Settings(6, kDefaultLastLba, SamplingMode::Normal), recorder,
                                 stop.Predicate());
        });
        scan_test::WaitForAWaiter(fixture.shared);
        stop.Stop();
        holder.Release();
        run.join();
    }
    EXPECT_EQ(result.end, ScanEnd::Stopped);
    EXPECT_TRUE(fixture.bus.Commands().empty());
    EXPECT_TRUE(recorder.samples.empty());
}

TEST(VirtualMedia, VerdictsFollowTheDiscsQuality) {
    struct Case {
        const char* media;
        uint8_t disc;
        int32_t lastLba;
        uint8_t speed;
        bool notRecommended;
    };
    for (const Case& c :
         {Case{"dvd+r", 6, kDefaultLastLba, 16, false}, Case{"dvd+r", 6, kDefaultLastLba, 19, true},
          Case{"dvd+r-marginal", 6, kDefaultLastLba, 17, false},
          Case{"dvd+r-marginal", 6, kDefaultLastLba, 18, true},
          Case{"dvd+r-bad", 6, kDefaultLastLba, 13, true}, Case{"dvd+r-dl", 5, kDualLayerLastLba, 15, false},
          Case{"dvd+r-dl", 5, kDualLayerLastLba, 16, true}}) {
        DriveWithDisc fixture(c.media);
        Recorder recorder;
        const ScanResult result = RunTeFeScan(
            fixture.shared, Settings(c.disc, c.lastLba, SamplingMode::Normal, c.speed), recorder, kNeverStop);
        ASSERT_EQ(result.end, ScanEnd::Finished) << c.media;
        EXPECT_EQ(result.notRecommended, c.notRecommended) << c.media << " speed " << int(c.speed);
    }
}

TEST(RangeEntry, LeadingNumberAndChecksInOrder) {
    EXPECT_EQ(LeadingNumber(""), 0);
    EXPECT_EQ(LeadingNumber("abc"), 0);
    EXPECT_EQ(LeadingNumber("  150000xyz"), 150000);
    EXPECT_EQ(LeadingNumber("-5"), -5);
    EXPECT_EQ(LeadingNumber("99999999999"), INT32_MAX);

    EXPECT_STREQ(CheckRange(0, 149999, kDefaultLastLba), scan_texts::kMinimumLength);
    EXPECT_STREQ(CheckRange(-5, 200000, kDefaultLastLba), scan_texts::kStartAddressWrong);
    EXPECT_STREQ(CheckRange(0, kDefaultLastLba + 1, kDefaultLastLba), scan_texts::kEndAddressExceeds);
    EXPECT_EQ(CheckRange(100, 150100, kDefaultLastLba), nullptr);
    // The length check comes first, also for a negative start.
    EXPECT_STREQ(CheckRange(-5, 100000, kDefaultLastLba), scan_texts::kMinimumLength);
    // No overflow for extreme values.
    EXPECT_STREQ(CheckRange(INT32_MIN, INT32_MAX, kDefaultLastLba), scan_texts::kStartAddressWrong);

    EXPECT_STREQ(CheckStartAddress(-1, kDefaultLastLba), scan_texts::kStartAddressWrong);
    EXPECT_EQ(CheckStartAddress(kDefaultLastLba, kDefaultLastLba), nullptr);
    EXPECT_STREQ(CheckEndAddress(kDefaultLastLba + 1, kDefaultLastLba), scan_texts::kEndAddressWrong);
}

}  // namespace
}  // namespace dravix

namespace dravix {
namespace {

TEST(VendorMode, SwitchedOffByAnotherWindowMidRunIsSwitchedOnAgainOnce) {
    DriveWithDisc fixture("dvd+r");
    int measured = 0;
    // Another window's command sequence ends with vendor mode off after the tenth sample.
    fixture.drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[11] == 0x00 && ++measured == 10)
            fixture.drive.SetVendorMode(false);
    });
    Recorder recorder;
    const ScanResult result =
        RunTeFeScan(fixture.shared, Settings(6, kDefaultLastLba, SamplingMode::Normal), recorder, kNeverStop);
    fixture.drive.SetTraceHook(nullptr);
    EXPECT_EQ(result.end, ScanEnd::Finished);
    EXPECT_EQ(recorder.samples.size(), 64u);
    // The eleventh measurement was refused, vendor mode sent, and the measurement repeated.
    const auto commands = fixture.bus.Commands();
    const std::vector<uint8_t> vendorOn = {0xFD, 0xF1, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
    ASSERT_EQ(std::count(commands.begin(), commands.end(), vendorOn), 1);
    const auto on = std::find(commands.begin(), commands.end(), vendorOn);
    EXPECT_EQ(*(on - 1), *(on + 1));
    EXPECT_EQ(on - commands.begin(), 3 + 11);  // identity, two references, eleven samples
}

TEST(VendorMode, ADriveThatKeepsRefusingFailsThroughPathBAfterOneRetry) {
    DriveWithDisc fixture("dvd+r");
    fixture.drive.AddFault(
        scan_test::CheckConditionOn(scan_test::TeFeRule(0x00), emu::SenseCode{0x05, 0x20, 0x00}));
    Recorder recorder;
    const ScanResult result =
        RunTeFeScan(fixture.shared, Settings(6, kDefaultLastLba, SamplingMode::Normal), recorder, kNeverStop);
    EXPECT_EQ(result.end, ScanEnd::Failed);
    EXPECT_EQ(result.path, FailurePath::B);
    EXPECT_EQ(fixture.MeasuredPsns().size(), 2u);
    EXPECT_EQ(MeasureSpeed(fixture.shared, kScanDvdPlusR, 13, kNeverStop), SpeedResult::Failed);
}

}  // namespace
}  // namespace dravix
