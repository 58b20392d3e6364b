// The write test on a virtual drive behind the real pass-through code: the guard's cases where
// nothing may be recorded (the command trace shows what was sent), the one where the run goes
// through, and one run per write strategy against the drive's model.

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "emu/Commands.h"
#include "emu/Media.h"
#include "probix/WriteTest.h"
#include "tests/support/DiscInDrive.h"
#include "turns/SharedDrive.h"

namespace dravix {
namespace {

struct Sent {
    uint8_t opcode = 0;
    bool switchSet = false;  // the maker's Test Write switch
    bool good = false;
};

struct WriteBench : test::DiscInDrive {
    explicit WriteBench(const char* media, emu::DriveKind kind = emu::DriveKind::Maker)
        : DiscInDrive(media, kind, [](DiscInDrive& d) { d.SimulateClock(); }) {
        drive.SetTraceHook([this](const uint8_t* cdb, size_t, const emu::ScsiOutcome& outcome) {
            sent.push_back({cdb[0], cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[6] == 0x02,
                            outcome.kind == emu::ScsiOutcome::Kind::Good});
            if (cdb[0] != 0x2A) nowUs += hostUsBetweenWrites;
            if (onCommand) onCommand(cdb);
        });
        marker = (std::filesystem::temp_directory_path() /
                  ("dravix-write-marker-" + std::to_string(reinterpret_cast<uintptr_t>(this))))
                     .string();
    }
    ~WriteBench() { std::filesystem::remove(marker); }

    WriteTestResult Run(uint32_t sectors = 2048, uint32_t request = 32) {
        WriteTestSettings settings;
        if (sectors) settings.lengthSectors = sectors;
        settings.requestSectors = request;
        settings.markerPath = marker;
        settings.driveName = "virtual";
        WriteTestHooks hooks;
        hooks.clock = [this] { return nowUs.load(); };
        hooks.stopRequested = [this] { return stopAfterWrites && Count(0x2A) >= stopAfterWrites; };
        return RunWriteTest(shared, settings, hooks);
    }
    size_t Count(uint8_t opcode) const {
        return static_cast<size_t>(std::count_if(sent.begin(), sent.end(), [&](const Sent& s) { return s.opcode == opcode; }));
    }
    size_t SwitchSets() const {
        return static_cast<size_t>(std::count_if(sent.begin(), sent.end(), [](const Sent& s) { return s.switchSet; }));
    }
    size_t GoodWrites() const {
        return static_cast<size_t>(
            std::count_if(sent.begin(), sent.end(), [](const Sent& s) { return s.opcode == 0x2A && s.good; }));
    }
    // Position in the trace of the last command with this opcode (or the last switch set).
    long LastOf(uint8_t opcode, bool switchSet = false) const {
        for (size_t i = sent.size(); i-- > 0;)
            if (switchSet ? sent[i].switchSet : sent[i].opcode == opcode) return static_cast<long>(i);
        return -1;
    }
    bool Recorded() const { return drive.State().disc->recordedSectors != 0; }

    size_t stopAfterWrites = 0;
    // The host's time for whatever it sends between two writes; the drive writes on from its
    // buffer meanwhile.
    int64_t hostUsBetweenWrites = 0;
    std::function<void(const uint8_t*)> onCommand;
    std::vector<Sent> sent;
    std::string marker;
    SharedDrive shared{table};
};

emu::FaultRule Fail(uint8_t opcode, uint32_t after = 0) {
    emu::FaultRule rule;
    rule.opcode = opcode;
    rule.after = after;
    rule.action = emu::FaultRule::Action::CheckCondition;
    rule.sense = emu::kInvalidFieldInCdb;
    return rule;
}

TEST(WriteTestGuard, NothingIsRecordedWhereSimulationIsNotConfirmed) {
    struct Case {
        const char* name;
        const char* media;
        emu::DriveKind kind;
        std::function<void(WriteBench&)> arrange;
        const char* message;
    };
    // After the set, MODE SENSE of the page reads the Test Write bit off.
    emu::FaultRule readBackOff;
    readBackOff.opcode = 0x5A;
    readBackOff.after = 1;
    readBackOff.once = true;
    readBackOff.action = emu::FaultRule::Action::Reply;
    readBackOff.reply = std::vector<uint8_t>(8 + 52, 0);
    readBackOff.reply[1] = 58;
    readBackOff.reply[8] = 0x05;
    readBackOff.reply[9] = 0x32;
    readBackOff.reply[10] = 0x01;
    readBackOff.reply[12] = 0x08;
    const Case cases[] = {
        {"simulation refused", "dvd-r", emu::DriveKind::Maker,
         [](WriteBench& b) { b.drive.AddFault(Fail(0x55)); }, kWriteTestCannotSimulate},
        {"read-back off", "dvd-r", emu::DriveKind::Maker, [&](WriteBench& b) { b.drive.AddFault(readBackOff); },
         kWriteTestCannotSimulate},
        {"disc not blank", "dvd+r-recorded", emu::DriveKind::Maker, [](WriteBench&) {}, kWriteTestNeedsBlankDisc},
        {"a disc that overwrites", "dvd+rw-blank", emu::DriveKind::Maker, [](WriteBench&) {},
         kWriteTestNeedsBlankDisc},
        {"DVD+R with only the page's bit (no maker's switch)", "dvd+r", emu::DriveKind::OtherMaker,
         [](WriteBench&) {}, kWriteTestCannotSimulate},
        {"DVD+R on a drive whose feature list lacks Test Write", "dvd+r", emu::DriveKind::Maker,
         [](WriteBench& b) { b.drive.SetFeatureCodes({1, 2, 5}); }, kWriteTestCannotSimulate},
        {"DVD+R whose switch reads back off", "dvd+r", emu::DriveKind::Maker,
         [](WriteBench& b) {
             emu::FaultRule rule;
             rule.opcode = 0xFD;
             rule.subCode = 0xFB;
             rule.function = 0x02;
             rule.action = emu::FaultRule::Action::Reply;  // answered, never carried out
             rule.reply = std::vector<uint8_t>(12, 0);
             b.drive.AddFault(rule);
         },
         kWriteTestCannotSimulate},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteBench b(c.media, c.kind);
        c.arrange(b);
        const WriteTestResult result = b.Run();
        EXPECT_EQ(result.end, WriteTestEnd::Refused);
        EXPECT_EQ(result.message, c.message);
        EXPECT_EQ(b.Count(0x2A), 0u);
        EXPECT_FALSE(b.Recorded());
        EXPECT_FALSE(b.drive.State().writeParameters.testWrite);
        EXPECT_FALSE(b.drive.State().testWrite);
        if (std::string(c.message) == kWriteTestNeedsBlankDisc) {
            EXPECT_EQ(b.Count(0x55), 0u);
            EXPECT_EQ(b.SwitchSets(), 0u);
        }
    }
}

TEST(WriteTestGuard, ARunThroughThePageOrTheSwitchLeavesTheDiscBlankAndTheSettingAsItWas) {
    for (const char* media : {"dvd-r", "dvd+r", "cd-r"}) {
        SCOPED_TRACE(media);
        WriteBench b(media);
        const WriteTestResult result = b.Run();
        EXPECT_EQ(result.end, WriteTestEnd::Finished);
        EXPECT_EQ(result.writtenSectors, 2048u);
        EXPECT_EQ(b.GoodWrites(), 64u);
        EXPECT_TRUE(result.blankAfter);
        EXPECT_TRUE(result.settingRestored);
        EXPECT_TRUE(result.message.empty());
        EXPECT_FALSE(b.Recorded());
        EXPECT_FALSE(b.drive.State().writeParameters.testWrite);
        EXPECT_FALSE(b.drive.State().testWrite);
        EXPECT_FALSE(std::filesystem::exists(b.marker));
        EXPECT_FALSE(result.points.empty());
        // The cache is flushed after the last write, and only then is the setting put back.
        const long restore = std::string(media) == "dvd+r" ? b.LastOf(0, true) : b.LastOf(0x55);
        EXPECT_LT(b.LastOf(0x2A), b.LastOf(0x35));
        EXPECT_LT(b.LastOf(0x35), restore);
    }
    // An earlier setting that was on is put back on.
    WriteBench b("dvd+r");
    b.drive.SetTestWrite(true);
    EXPECT_EQ(b.Run().end, WriteTestEnd::Finished);
    EXPECT_TRUE(b.drive.State().testWrite);
}

TEST(WriteTestGuard, ARestartBetweenTwoWritesEndsTheWriting) {
    WriteBench b("dvd+r");
    b.onCommand = [&b](const uint8_t* cdb) {
        if (cdb[0] == 0x2A && b.Count(0x2A) == 5) b.drive.Restart();
    };
    const WriteTestResult result = b.Run();
    EXPECT_EQ(result.end, WriteTestEnd::DriveFailed);
    EXPECT_EQ(b.GoodWrites(), 5u);
    EXPECT_EQ(b.Count(0x2A), 6u);  // the one the unit attention refused, then none
    EXPECT_FALSE(b.Recorded());
}

TEST(WriteTestGuard, ADriveThatIgnoresSimulationIsCaughtAfterTheFirstRequest) {
    WriteBench b("dvd-r");
    b.drive.Update([](emu::DriveState& s) { s.ignoresSimulation = true; });
    const WriteTestResult result = b.Run();
    EXPECT_EQ(result.end, WriteTestEnd::Recorded);
    EXPECT_EQ(result.message, kWriteTestRecorded);
    EXPECT_EQ(b.Count(0x2A), 1u);
    EXPECT_FALSE(result.blankAfter);
    EXPECT_EQ(result.writtenSectors, 32u);  // kept as evidence
    EXPECT_TRUE(result.notes.empty());      // the recording is told once, not again as a note
}

TEST(WriteTestGuard, StopRestoresTheSettingAfterTheFlush) {
    WriteBench b("dvd+r");
    b.stopAfterWrites = 10;
    const WriteTestResult result = b.Run();
    EXPECT_EQ(result.end, WriteTestEnd::Stopped);
    EXPECT_EQ(b.Count(0x2A), 10u);
    EXPECT_TRUE(result.settingRestored);
    EXPECT_FALSE(b.drive.State().testWrite);
    EXPECT_LT(b.LastOf(0x35), b.LastOf(0, true));
    EXPECT_FALSE(std::filesystem::exists(b.marker));
}

TEST(WriteTestGuard, AFailedFlushLeavesSimulationOnAndSaysSo) {
    for (const char* media : {"dvd-r", "dvd+r"}) {
        SCOPED_TRACE(media);
        WriteBench b(media);
        b.drive.AddFault(Fail(0x35));
        const WriteTestResult result = b.Run();
        EXPECT_TRUE(result.simulationLeftOn);
        EXPECT_EQ(result.message, kWriteTestStillOn);
        EXPECT_FALSE(result.settingRestored);
        const emu::DriveState s = b.drive.State();
        EXPECT_TRUE(std::string(media) == "dvd+r" ? s.testWrite : s.writeParameters.testWrite);
        // Nothing was put back after the failed flush.
        const long restore = std::string(media) == "dvd+r" ? b.LastOf(0, true) : b.LastOf(0x55);
        EXPECT_LT(restore, b.LastOf(0x35));
        EXPECT_TRUE(std::filesystem::exists(b.marker));  // the next start warns
        EXPECT_FALSE(b.Recorded());
    }
}

// The average speed the drive's model gives over the run's sectors: the sectors over the sum of
// the time each takes.
double ModelAverageX(const emu::DriveState& state, const char* media, uint32_t sectors) {
    const emu::MediaInfo& info = *emu::FindMedia(media);
    double seconds = 0;
    constexpr uint32_t kStep = 256;
    for (uint32_t lba = 0; lba < sectors; lba += kStep)
        seconds += std::min(kStep, sectors - lba) / emu::detail::WriteSpeedXAt(state, info, lba + kStep / 2);
    return sectors / seconds;
}

TEST(WriteTest, EachStrategyIsRecognisedAndItsAverageSpeedMatchesTheModel) {
    struct Case {
        emu::WriteStrategy strategy;
        const char* media;
        ReadMode mode;
    };
    const Case cases[] = {
        {emu::WriteStrategy::Clv, "dvd-r", ReadMode::Clv},
        {emu::WriteStrategy::Cav, "dvd-r", ReadMode::Cav},
        {emu::WriteStrategy::PartialCav, "dvd+r", ReadMode::PartialCav},
        {emu::WriteStrategy::ZonedClv, "dvd-r", ReadMode::ZonedClv},
        {emu::WriteStrategy::Auto, "dvd+r", ReadMode::PartialCav},  // as the drive comes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(emu::WriteStrategyName(c.strategy));
        WriteBench b(c.media);
        b.drive.Update([&](emu::DriveState& s) { s.writeStrategy = c.strategy; });
        // Whole discs in requests of the default size, from a host that takes its time between
        // writes (a buffer read is slow on some drives).
        b.hostUsBetweenWrites = 20'000;
        const WriteTestResult result = b.Run(0, kDefaultRequestSectors);
        ASSERT_EQ(result.end, WriteTestEnd::Finished) << result.message;
        ASSERT_TRUE(result.summary.has_value());
        EXPECT_EQ(result.summary->mode, c.mode);
        const double model = ModelAverageX(b.drive.State(), c.media, static_cast<uint32_t>(result.writtenSectors));
        EXPECT_NEAR(result.summary->averageX, model, model * 0.03);
        // The curve's ends are the model's speeds there.
        const emu::MediaInfo& info = *emu::FindMedia(c.media);
        const double startX = emu::detail::WriteSpeedXAt(b.drive.State(), info, result.points.front().lba);
        const double endX = emu::detail::WriteSpeedXAt(b.drive.State(), info, result.points.back().lba);
        EXPECT_NEAR(result.summary->startX, startX, startX * 0.05);
        EXPECT_NEAR(result.summary->endX, endX, endX * 0.05);
        EXPECT_TRUE(result.blankAfter);
    }
    // The marginal disc slows down on its outer part.
    WriteBench b("dvd+r");
    b.drive.Update([](emu::DriveState& s) { s.writeStrategy = emu::WriteStrategy::Marginal; });
    const WriteTestResult result = b.Run(0, 256);
    ASSERT_TRUE(result.summary.has_value());
    // Halfway out the drive writes at full speed; on the outer part at half of it.
    const double middle = result.points.at(result.points.size() / 2).speedX;
    EXPECT_NEAR(result.summary->endX, middle / 2, middle * 0.05);
}

}  // namespace
}  // namespace dravix
