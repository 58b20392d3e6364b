// The option and switch command families on the virtual drive: the blocks they send, how the
// drive's answers decode, and which settings survive a restart.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "tests/support/VirtualBus.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Vendor(uint8_t subCode, Bytes from6) {
    Bytes cdb = {0xFD, subCode, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
    std::copy(from6.begin(), from6.end(), cdb.begin() + 6);
    return cdb;
}

// A drive table on one virtual maker's drive, in vendor mode.
struct OptionFixture : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(table.InitTransport());
        ASSERT_EQ(table.EnumerateDrives(), 1);
        ASSERT_TRUE(table.SetVendorMode(true));
        bus.ClearCommands();
    }

    OptionReply Options() {
        OptionReply reply;
        EXPECT_EQ(ReadOptionStates(table, reply), kCommandCompleted);
        return reply;
    }
    OptionReply Switches() {
        OptionReply reply;
        EXPECT_EQ(ReadSwitchStates(table, reply), kCommandCompleted);
        return reply;
    }
    // The drive after a power cycle, back in vendor mode.
    void Restart() {
        drive.Restart();
        table.WaitUntilReady();
        ASSERT_TRUE(table.SetVendorMode(true));
    }

    test::VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
    DriveTable table;
};

TEST_F(OptionFixture, EveryCommandSendsItsBlock) {
    OptionReply reply;
    MediaInformationReply info;
    ReadOptionStates(table, reply);
    WriteLumard(table, 1, 3);
    WriteLumard(table, 0, 2);
    WriteOverSpeed(table, 3);
    WriteOverSpeed(table, 0);
    ReadLearnedCount(table, reply);
    ReadMediaInformation(table, info);
    ClearLearnedDiscs(table);
    ReadSwitchStates(table, reply);
    SetTestWrite(table, true);
    SetTestWrite(table, false);
    SetWopcDisabled(table, true);
    SetWopcDisabled(table, false);

    const std::vector<Bytes> expected = {
        Vendor(0x1B, {0x16, 0x01, 0x04}),
        Vendor(0x1B, {0x16, 0x02, 0x01, 0x03}),
        Vendor(0x1B, {0x16, 0x02, 0x00, 0x02}),
        Vendor(0x1B, {0x16, 0x06, 0x03}),
        Vendor(0x1B, {0x16, 0x06, 0x00}),
        Vendor(0x1B, {0x16, 0x05, 0x02}),
        Vendor(0x1B, {0x16, 0x07}),
        Vendor(0x1B, {0x16, 0x03}),
        Vendor(0xFB, {0x00, 0x00, 0x04}),
        Vendor(0xFB, {0x02, 0x00, 0x00, 0x01}),
        Vendor(0xFB, {0x02, 0x00, 0x00, 0x00}),
        Vendor(0xFB, {0x03, 0x00, 0x00, 0x01}),
        Vendor(0xFB, {0x03, 0x00, 0x00, 0x00}),
    };
    EXPECT_EQ(bus.Commands(), expected);
}

TEST(OptionTransfer, DataInWithTwelveBytesOr255AndTwoHundredSeconds) {
    test::VirtualBus bus;
    emu::VirtualDrive drive(emu::DriveKind::Maker);
    struct Seen {
        int direction;
        unsigned length;
        unsigned timeoutMs;
        bool zeroed;
    };
    std::vector<Seen> seen;
    bus.Os().AddDrive(
        0,
        [&](sg_io_hdr_t& r) {
            if (r.cmdp[0] == 0xFD && r.cmdp[1] != 0xF1 && r.cmdp[1] != 0xF2) {
                const auto* data = static_cast<const uint8_t*>(r.dxferp);
                bool zeroed = true;
                for (unsigned i = 0; i < r.dxfer_len; ++i) zeroed = zeroed && data[i] == 0;
                seen.push_back({r.dxfer_direction, r.dxfer_len, r.timeout, zeroed});
            }
            return test::ExecuteOnVirtualDrive(drive, r);
        },
        0);
    DriveTable table;
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    ASSERT_TRUE(table.SetVendorMode(true));

    // Buffers that held an earlier answer go out zeroed again.
    OptionReply reply;
    reply.fill(0xAA);
    MediaInformationReply info;
    info.fill(0xAA);
    WriteOverSpeed(table, 2);
    ReadOptionStates(table, reply);
    ReadMediaInformation(table, info);
    SetTestWrite(table, true);

    ASSERT_EQ(seen.size(), 4u);
    const unsigned lengths[] = {12, 12, 255, 12};
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].direction, SG_DXFER_FROM_DEV);
        EXPECT_EQ(seen[i].length, lengths[i]);
        EXPECT_EQ(seen[i].timeoutMs, 200'000u);
        EXPECT_TRUE(seen[i].zeroed);
    }
}

TEST_F(OptionFixture, TemporaryValuesEndWithARestartPermanentOnesStay) {
    ASSERT_EQ(WriteOverSpeed(table, OptionStateByte(true, SettingScope::Temporary)), kCommandCompleted);
    ASSERT_EQ(WriteLumard(table, OptionStateByte(false, SettingScope::Temporary),
                          OptionStateByte(true, SettingScope::Temporary)),
              kCommandCompleted);
    ASSERT_EQ(SetTestWrite(table, true), kCommandCompleted);
    ASSERT_EQ(SetWopcDisabled(table, true), kCommandCompleted);
    OptionReply options = Options();
    EXPECT_EQ(options[kOverSpeedByte], 3);
    EXPECT_EQ(options[kUnknownDiscByte], 1);
    EXPECT_EQ(options[kSupportedDiscByte], 3);
    OptionReply switches = Switches();
    EXPECT_EQ(switches[kTestWriteByte], 1);
    EXPECT_EQ(switches[kWopcDisabledByte], 1);

    Restart();
    const emu::DriveState factory = emu::FactoryState(emu::DriveKind::Maker);
    options = Options();
    EXPECT_EQ(options[kOverSpeedByte], factory.options[2].Reported());
    EXPECT_EQ(options[kUnknownDiscByte], factory.options[0].Reported());
    EXPECT_EQ(options[kSupportedDiscByte], factory.options[1].Reported());
    switches = Switches();
    EXPECT_EQ(switches[kTestWriteByte], 0);
    EXPECT_EQ(switches[kWopcDisabledByte], 0);

    ASSERT_EQ(WriteOverSpeed(table, OptionStateByte(true, SettingScope::Permanent)), kCommandCompleted);
    ASSERT_EQ(WriteLumard(table, OptionStateByte(false, SettingScope::Permanent),
                          OptionStateByte(true, SettingScope::Permanent)),
              kCommandCompleted);
    Restart();
    options = Options();
    EXPECT_EQ(options[kOverSpeedByte], 2);
    EXPECT_EQ(options[kUnknownDiscByte], 0);
    EXPECT_EQ(options[kSupportedDiscByte], 2);
}

TEST_F(OptionFixture, LearnedDiscsAreCountedListedAndCleared) {
    drive.SetLearnedDiscs({"MCC-004", "RICOHJPN-R03", "CMC"});
    OptionReply count;
    ASSERT_EQ(ReadLearnedCount(table, count), kCommandCompleted);
    EXPECT_EQ(LearnedCountOf(count), 3);
    MediaInformationReply reply;
    ASSERT_EQ(ReadMediaInformation(table, reply), kCommandCompleted);
    const MediaInformation info = DecodeMediaInformation(reply);
    EXPECT_TRUE(info.headerValid);
    EXPECT_EQ(info.records, (std::vector<std::string>{"MCC-004     ", "RICOHJPN-R03", "CMC         "}));

    ASSERT_EQ(ClearLearnedDiscs(table), kCommandCompleted);
    ASSERT_EQ(ReadLearnedCount(table, count), kCommandCompleted);
    EXPECT_EQ(LearnedCountOf(count), 0);
    ASSERT_EQ(ReadMediaInformation(table, reply), kCommandCompleted);
    EXPECT_TRUE(DecodeMediaInformation(reply).records.empty());
}

TEST_F(OptionFixture, FailuresComeBackAsTheStatus) {
    emu::FaultRule rule;
    rule.opcode = 0xFD;
    rule.subCode = 0x1B;
    rule.function = 0x16;
    rule.bytes = {{7, 0x06}};
    rule.sense = emu::kInvalidFieldInCdb;
    drive.AddFault(rule);
    EXPECT_EQ(WriteOverSpeed(table, 3), kCommandFailed);
    EXPECT_EQ(table.SenseAsc(), 0x24);
    EXPECT_EQ(Options()[kOverSpeedByte], 0);  // nothing was written

    ASSERT_TRUE(table.SetVendorMode(false));
    OptionReply reply;
    EXPECT_EQ(ReadSwitchStates(table, reply), kCommandFailed);  // outside vendor mode
}

TEST(VendorSequence, RunsBetweenOnAndOffOrNotAtAll) {
    test::VirtualBus bus;
    bus.AddDrive(emu::DriveKind::Maker);
    bus.AddDrive(emu::DriveKind::OtherMaker);
    DriveTable table;
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 2);
    bus.ClearCommands();

    OptionReply reply;
    uint8_t status = 0xEE;
    EXPECT_TRUE(WithVendorMode(table, [&] { status = ReadOptionStates(table, reply); }));
    EXPECT_EQ(status, kCommandCompleted);
    EXPECT_EQ(bus.Commands(),
              (std::vector<Bytes>{Vendor(0xF1, {}), Vendor(0x1B, {0x16, 0x01, 0x04}), Vendor(0xF2, {})}));
    EXPECT_FALSE(bus.Drive(0).State().vendorMode);

    ASSERT_TRUE(table.SelectDrive(1));
    bus.ClearCommands();
    bool ran = false;
    EXPECT_FALSE(WithVendorMode(table, [&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_EQ(bus.Commands(), (std::vector<Bytes>{Vendor(0xF1, {})}));  // no off after a refusal
}

TEST(StateBytes, OnOffScopeAndValuesThatSayNothing) {
    EXPECT_EQ(OptionStateByte(true, SettingScope::Temporary), 3);
    EXPECT_EQ(OptionStateByte(false, SettingScope::Temporary), 1);
    EXPECT_EQ(OptionStateByte(true, SettingScope::Permanent), 2);
    EXPECT_EQ(OptionStateByte(false, SettingScope::Permanent), 0);

    EXPECT_EQ(OptionStateIsOn(0), false);
    EXPECT_EQ(OptionStateIsOn(1), false);
    EXPECT_EQ(OptionStateIsOn(2), true);
    EXPECT_EQ(OptionStateIsOn(3), true);
    for (uint8_t other : {4, 7, 0x80, 0xFF}) EXPECT_EQ(OptionStateIsOn(other), std::nullopt) << int(other);

    EXPECT_EQ(SwitchFlag(0), false);
    EXPECT_EQ(SwitchFlag(1), true);
    for (uint8_t other : {2, 5, 0xFF}) EXPECT_EQ(SwitchFlag(other), std::nullopt) << int(other);

    OptionReply count{};
    count[0] = 0x00;
    count[1] = 0x07;
    EXPECT_EQ(LearnedCountOf(count), 7);
    count[0] = 0x01;
    count[1] = 0x02;
    EXPECT_EQ(LearnedCountOf(count), 258);
}

// A media information answer with the given record-area length and records "DISC01", "DISC02"…
MediaInformationReply MediaAnswer(uint8_t length) {
    MediaInformationReply reply{};
    std::memcpy(reply.data(), "ZARN", 4);
    reply[5] = 0x16;
    reply[6] = 0x07;
    reply[7] = length;
    for (size_t i = 0; i < kMaxMediaRecords; ++i) {
        char id[8];
        std::snprintf(id, sizeof id, "DISC%02zu", i + 1);
        std::memcpy(&reply[8 + 12 * i], id, 6);
    }
    return reply;
}

TEST(MediaInformationDecoder, RecordCountFollowsTheLengthByteWithinTheAnswer) {
    MediaInformation info = DecodeMediaInformation(MediaAnswer(30));
    EXPECT_TRUE(info.headerValid);
    EXPECT_EQ(info.records, (std::vector<std::string>{"DISC01      ", "DISC02      "}));
    EXPECT_TRUE(DecodeMediaInformation(MediaAnswer(11)).records.empty());
    EXPECT_EQ(DecodeMediaInformation(MediaAnswer(12)).records.size(), 1u);

    // 255 / 12 would be 21 records; the 21st would end at byte 260 of a 255-byte answer.
    info = DecodeMediaInformation(MediaAnswer(255));
    ASSERT_EQ(info.records.size(), kMaxMediaRecords);
    EXPECT_EQ(kMaxMediaRecords, 20u);
    EXPECT_EQ(info.records.back(), "DISC20      ");
}

TEST(MediaInformationDecoder, HeaderAndRecordText) {
    MediaInformationReply reply = MediaAnswer(12);
    std::memcpy(&reply[8], "ABCD\0\0\0\0\0\0\0\0", 12);
    EXPECT_EQ(DecodeMediaInformation(reply).records, std::vector<std::string>{"ABCD        "});

    for (auto spoil :
         {+[](MediaInformationReply& r) { r[0] = 'X'; }, +[](MediaInformationReply& r) { r[5] = 0x17; },
          +[](MediaInformationReply& r) { r[6] = 0x06; }}) {
        MediaInformationReply bad = MediaAnswer(24);
        spoil(bad);
        const MediaInformation info = DecodeMediaInformation(bad);
        EXPECT_FALSE(info.headerValid);
        EXPECT_TRUE(info.records.empty());
    }
    reply[4] = 0x55;  // byte 4 is not looked at
    EXPECT_TRUE(DecodeMediaInformation(reply).headerValid);
}

}  // namespace
}  // namespace dravix
