// The option and switch command families: the blocks they send and how they send them, and the
// decoders of the drive's answers.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "tests/support/CommandBlocks.h"
#include "tests/support/VirtualBus.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(OptionCommands, SendTheirBlocksDataInIntoZeroedBuffersWithTwoHundredSeconds) {
    test::VirtualBus bus;
    emu::VirtualDrive drive(emu::DriveKind::Maker);
    struct Seen {
        Bytes cdb;
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
                const bool zeroed = std::all_of(data, data + r.dxfer_len, [](uint8_t b) { return b == 0; });
                seen.push_back(
                    {Bytes(r.cmdp, r.cmdp + r.cmd_len), r.dxfer_direction, r.dxfer_len, r.timeout, zeroed});
            }
            return test::ExecuteOnVirtualDrive(drive, r);
        },
        0);
    DriveTable table{bus.Drives()};
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    ASSERT_TRUE(table.SetVendorMode(true));

    // Buffers that hold an earlier answer go out zeroed again.
    OptionReply reply;
    reply.fill(0xAA);
    MediaInformationReply info;
    info.fill(0xAA);
    ReadOptionStates(table, reply);
    WriteLumard(table, 1, 3);
    WriteOverSpeed(table, 2);
    ReadLearnedCount(table, reply);
    ReadMediaInformation(table, info);
    ClearLearnedDiscs(table);
    ReadSwitchStates(table, reply);
    SetTestWrite(table, true);
    SetTestWrite(table, false);
    SetWopcDisabled(table, true);

    const std::vector<Bytes> expected = {
        test::VendorCdb(0x1B, {0x16, 0x01, 0x04}),
        test::VendorCdb(0x1B, {0x16, 0x02, 0x01, 0x03}),
        test::VendorCdb(0x1B, {0x16, 0x06, 0x02}),
        test::VendorCdb(0x1B, {0x16, 0x05, 0x02}),
        test::VendorCdb(0x1B, {0x16, 0x07}),
        test::VendorCdb(0x1B, {0x16, 0x03}),
        test::VendorCdb(0xFB, {0x00, 0x00, 0x04}),
        test::VendorCdb(0xFB, {0x02, 0x00, 0x00, 0x01}),
        test::VendorCdb(0xFB, {0x02, 0x00, 0x00, 0x00}),
        test::VendorCdb(0xFB, {0x03, 0x00, 0x00, 0x01}),
    };
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < seen.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(seen[i].cdb, expected[i]);
        EXPECT_EQ(seen[i].direction, SG_DXFER_FROM_DEV);
        EXPECT_EQ(seen[i].length, i == 4 ? 255u : 12u);
        EXPECT_EQ(seen[i].timeoutMs, 200'000u);
        EXPECT_TRUE(seen[i].zeroed);
    }
    const emu::DriveState state = drive.State();
    EXPECT_EQ(state.options[2].Reported(), 2);
    EXPECT_EQ(state.options[1].Reported(), 3);
    EXPECT_TRUE(state.wopcDisabled);
}

// A media information answer with the given record-area length and records "DISC01", "DISC02"…
MediaInformationReply MediaAnswer(uint8_t length) {
    MediaInformationReply reply{'Z', 'A', 'R', 'N', 0, 0x16, 0x07, length};
    for (size_t i = 0; i < kMaxMediaRecords; ++i) {
        char id[8];
        std::snprintf(id, sizeof id, "DISC%02zu", i + 1);
        std::memcpy(&reply[8 + 12 * i], id, 6);
    }
    return reply;
}

TEST(MediaInformationDecoder, RecordsFollowTheLengthByteWithinTheAnswer) {
    MediaInformation info = DecodeMediaInformation(MediaAnswer(30));
    EXPECT_TRUE(info.headerValid);
    EXPECT_EQ(info.records, (std::vector<std::string>{"DISC01      ", "DISC02      "}));

    // 255 / 12 would be 21 records; the 21st would end at byte 260 of a 255-byte answer.
    info = DecodeMediaInformation(MediaAnswer(255));
    ASSERT_EQ(info.records.size(), 20u);
    EXPECT_EQ(info.records.back(), "DISC20      ");

    for (size_t index : {0, 3, 5, 6}) {
        MediaInformationReply bad = MediaAnswer(24);
        bad[index] ^= 0x01;
        info = DecodeMediaInformation(bad);
        EXPECT_FALSE(info.headerValid) << index;
        EXPECT_TRUE(info.records.empty());
    }
}

}  // namespace
}  // namespace dravix
