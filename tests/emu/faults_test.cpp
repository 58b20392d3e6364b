// Fault rules, latencies (through an injected sleeper) and use from several threads.

#include <thread>

#include "EmuTestSupport.h"

namespace dravix::emu::test {
namespace {

const std::vector<uint8_t> kTestUnitReady = Cdb({0x00});
const std::vector<uint8_t> kReadOptions = Vendor(0x1B, {0x16, 0x01, 0x04});

FaultRule Rule(uint8_t opcode, FaultRule::Action action) {
    FaultRule rule;
    rule.opcode = opcode;
    rule.action = action;
    return rule;
}

class FaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(drive.Insert("dvd+r"));
        ASSERT_TRUE(FailsWith(Send(drive, kTestUnitReady), kMediumMayHaveChanged));
        ASSERT_TRUE(Send(drive, kTestUnitReady).Good());
        EnterVendorMode(drive);
    }
    VirtualDrive drive{DriveKind::Maker};
};

TEST_F(FaultTest, CheckConditionAfterTheNthCallOnce) {
    FaultRule rule = Rule(0x00, FaultRule::Action::CheckCondition);
    rule.sense = kBecomingReady;
    rule.after = 2;
    rule.once = true;
    drive.AddFault(rule);
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kBecomingReady));
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
    EXPECT_TRUE(drive.State().faults[0].spent);
}

TEST_F(FaultTest, AlwaysKeepsFiringUntilCleared) {
    drive.AddFault(Rule(0x00, FaultRule::Action::Busy));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(drive.Execute(kTestUnitReady.data(), 6, kNoData, nullptr, 0, 15).kind, ScsiOutcome::Kind::Busy);
    drive.ClearFaults();
    EXPECT_TRUE(Send(drive, kTestUnitReady).Good());
}

TEST_F(FaultTest, MatchesOnSubCodeFunctionAndFurtherBytes) {
    // Only the TE reference read fails; the FE reference and the samples are left alone.
    FaultRule rule = Rule(0xFD, FaultRule::Action::HostTimeout);
    rule.subCode = 0xFB;
    rule.function = 0x05;
    rule.bytes[11] = 0x03;
    drive.AddFault(rule);
    EXPECT_EQ(Send(drive, TeFeCdb(0x02, 0x25C000, 0x03), 12).outcome.kind, ScsiOutcome::Kind::HostTimeout);
    EXPECT_TRUE(Send(drive, TeFeCdb(0x02, 0x30000, 0x04), 12).Good());
    EXPECT_TRUE(Send(drive, TeFeCdb(13, 0x100000, 0x00), 8).Good());
    EXPECT_TRUE(Send(drive, kReadOptions, 12).Good());
    EXPECT_EQ(drive.State().faults[0].seen, 1u);
}

TEST_F(FaultTest, BadAnswerKeepsTheDataButSetsByte0) {
    const Answer clean = Send(drive, TeFeCdb(13, 0x100000, 0x00), 8);
    FaultRule rule = Rule(0xFD, FaultRule::Action::BadAnswer);
    rule.function = 0x05;
    rule.answerByte0 = 0x01;
    drive.AddFault(rule);
    const Answer bad = Send(drive, TeFeCdb(13, 0x100000, 0x00), 8);
    ASSERT_TRUE(bad.Good());
    EXPECT_EQ(bad.data[0], 0x01);
    EXPECT_EQ(std::vector<uint8_t>(bad.data.begin() + 1, bad.data.end()),
              std::vector<uint8_t>(clean.data.begin() + 1, clean.data.end()));
}

TEST_F(FaultTest, ReplyOverrideAnswersWithoutRunningTheCommand) {
    FaultRule rule = Rule(0xFD, FaultRule::Action::Reply);
    rule.subCode = 0x1B;
    rule.function = 0x16;
    rule.reply = {0x07, 0x00, 0x07};
    drive.AddFault(rule);
    EXPECT_EQ(Send(drive, kReadOptions, 12).data, (std::vector<uint8_t>{7, 0, 7, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    // An overridden write leaves the state as it was.
    ASSERT_TRUE(Send(drive, Vendor(0x1B, {0x16, 0x06, 0x03}), 12).Good());
    EXPECT_EQ(drive.State().options[2].Reported(), 0);
    // The reply is cut to the caller's buffer.
    EXPECT_EQ(Send(drive, kReadOptions, 2).outcome.transferred, 2u);
}

TEST_F(FaultTest, FaultsComeBeforeMediumAndAttentionChecks) {
    drive.Eject();
    FaultRule rule = Rule(0x00, FaultRule::Action::CheckCondition);
    rule.sense = SenseCode{0x02, 0x04, 0x01};
    rule.once = true;
    drive.AddFault(rule);
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kBecomingReady));
    EXPECT_TRUE(FailsWith(Send(drive, kTestUnitReady), kNoMedium));
}

TEST_F(FaultTest, LatencyPerCommandClassGoesThroughTheSleeper) {
    std::vector<uint32_t> sleeps;
    drive.SetSleeper([&sleeps](uint32_t ms) { sleeps.push_back(ms); });
    drive.SetLatency(LatencyClass::TeFe, 40);
    drive.SetLatency(LatencyClass::Tray, 700);
    drive.SetLatency(LatencyClass::Vendor, 20);

    Send(drive, TeFeCdb(13, 0x100000, 0x00), 8);
    Send(drive, TeFeCdb(0x02, 0x25C000, 0x03), 12);
    Send(drive, kReadOptions, 12);
    Send(drive, kTestUnitReady);
    Send(drive, Cdb({0x1B, 0, 0, 0, 0x02, 0}));
    Send(drive, Cdb({0x1B, 0, 0, 0, 0x01, 0}));  // spin up without tray movement
    Send(drive, Cdb({0xFF, 0x10, 0x00}), 2);
    EXPECT_EQ(sleeps, (std::vector<uint32_t>{40, 40, 20, 700, 20}));

    // No command takes longer than the bound, whatever it was given (no time-out set here).
    sleeps.clear();
    drive.SetLatency(LatencyClass::Vendor, 3'600'000);
    uint8_t reply[12];
    drive.Execute(kReadOptions.data(), 12, kDataIn, reply, sizeof reply, 0);
    EXPECT_EQ(sleeps, std::vector<uint32_t>{kMaxLatencyMs});
}

TEST_F(FaultTest, LatencyBeyondTheTimeoutIsAHostTimeout) {
    std::vector<uint32_t> sleeps;
    drive.SetSleeper([&sleeps](uint32_t ms) { sleeps.push_back(ms); });
    drive.SetLatency(LatencyClass::TeFe, 31000);
    const std::vector<uint8_t> sample = TeFeCdb(13, 0x100000, 0x00);
    uint8_t buffer[8] = {};
    EXPECT_EQ(drive.Execute(sample.data(), 12, kDataIn, buffer, 8, 30).kind, ScsiOutcome::Kind::HostTimeout);
    EXPECT_EQ(drive.Execute(sample.data(), 12, kDataIn, buffer, 8, 0).kind, ScsiOutcome::Kind::Good);  // no limit
    EXPECT_EQ(sleeps, (std::vector<uint32_t>{30000, 31000}));
}

TEST(Threads, ScanWorkerAndUserInterfaceShareOneDrive) {
    VirtualDrive drive(DriveKind::Maker);
    drive.Insert("dvd+r");
    EnterVendorMode(drive);
    const Answer expected = Send(drive, TeFeCdb(16, 0x120000, 0x00), 8);
    std::atomic<int> wrong{0};
    std::thread scan([&] {
        for (int i = 0; i < 2000; ++i) {
            uint8_t buffer[8] = {};
            const std::vector<uint8_t> cdb = TeFeCdb(16, 0x120000, 0x00);
            const ScsiOutcome outcome = drive.Execute(cdb.data(), 12, kDataIn, buffer, 8, 30);
            if (outcome.kind != ScsiOutcome::Kind::Good ||
                std::vector<uint8_t>(buffer, buffer + 8) != expected.data)
                ++wrong;
        }
    });
    for (int i = 0; i < 2000; ++i) {
        drive.SetRegionMask(static_cast<uint8_t>(i));
        uint8_t buffer[12] = {};
        const std::vector<uint8_t> cdb = Vendor(0xFB, {0x02, 0, 0, static_cast<uint8_t>(i & 1)});
        if (drive.Execute(cdb.data(), 12, kDataIn, buffer, 12, 200).kind != ScsiOutcome::Kind::Good) ++wrong;
    }
    scan.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(drive.State().regionMask, static_cast<uint8_t>(1999));
}

}  // namespace
}  // namespace dravix::emu::test
