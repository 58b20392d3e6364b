// The read-test command layer on a virtual drive behind the real pass-through code: what each
// command decodes from a recorded disc, and the rule for answers cut short or claiming too much.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/ReadCommands.h"
#include "emu/Media.h"
#include "tests/support/DiscInDrive.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;

using Reader = test::DiscInDrive;

TEST(ReadCommands, LayoutOfARecordedDualLayerDisc) {
    Reader r("dvd+r-dl-recorded");
    Capacity capacity;
    ASSERT_EQ(ReadCapacity(r.table, capacity), kCommandCompleted);
    EXPECT_EQ(capacity.lastLba, 4173823u);
    EXPECT_EQ(capacity.blockLength, 2048u);

    Toc toc;
    ASSERT_EQ(ReadToc(r.table, toc), kCommandCompleted);
    ASSERT_EQ(toc.tracks.size(), 1u);
    EXPECT_TRUE(toc.tracks[0].IsData());
    EXPECT_EQ(toc.leadOut, 4173824u);
    SessionInfo sessions;
    ASSERT_EQ(ReadSessionInfo(r.table, sessions), kCommandCompleted);
    EXPECT_EQ(sessions.lastSession, 1);

    TrackInformation track;
    ASSERT_EQ(ReadTrackInformation(r.table, 1, track), kCommandCompleted);
    EXPECT_EQ(track.size, 4173824u);
    EXPECT_EQ(track.lastRecordedLba, 4173823u);
    EXPECT_FALSE(track.blank);

    DiscRecording recording;
    ASSERT_EQ(ReadDiscRecording(r.table, recording), kCommandCompleted);
    EXPECT_EQ(recording.status, DiscStatus::Complete);
    EXPECT_EQ(recording.sessions, 1);

    LayerInfo layers;
    ASSERT_EQ(ReadLayerInfo(r.table, layers), kCommandCompleted);
    EXPECT_EQ(layers.layers, 2);
    EXPECT_EQ(layers.layerBreakLba, 0x1FD800u);

    std::vector<PerformanceDescriptor> performance;
    ASSERT_EQ(ReadPerformance(r.table, false, performance), kCommandCompleted);
    ASSERT_FALSE(performance.empty());
    EXPECT_EQ(performance.back().endLba, 4173823u);

    // The speed set shows in the capabilities page.
    ASSERT_EQ(SetCdSpeed(r.table, 5540), kCommandCompleted);
    CapabilitySpeeds speeds;
    ASSERT_EQ(ReadCapabilitySpeeds(r.table, speeds), kCommandCompleted);
    EXPECT_EQ(speeds.currentReadKBps, 5540);
    EXPECT_EQ(speeds.maxReadKBps, 16620);
    ASSERT_EQ(SetStreaming(r.table, 0, 4173823, 0, true), kCommandCompleted);
    ASSERT_EQ(ReadCapabilitySpeeds(r.table, speeds), kCommandCompleted);
    EXPECT_EQ(speeds.currentReadKBps, 16620);

    // Both read commands bring the disc's own data.
    Bytes data(3 * kSectorSize);
    for (ReadCommand command : {ReadCommand::Read10, ReadCommand::Read12}) {
        ASSERT_EQ(ReadSectors(r.table, command, 0x1FD7FF, 3, data), kCommandCompleted);
        Bytes expected(kSectorSize);
        emu::FillSector(*emu::FindMedia("dvd+r-dl-recorded"), 0x1FD801, expected.data());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), data.begin() + 2 * kSectorSize));
    }
}

Bytes TocAnswer(uint16_t claimedLength, size_t descriptors) {
    Bytes answer(4 + 8 * descriptors, 0);
    PutBe16(&answer[0], claimedLength);
    answer[2] = 1;
    answer[3] = static_cast<uint8_t>(descriptors);
    for (size_t i = 0; i < descriptors; ++i) {
        answer[4 + 8 * i + 1] = 0x14;
        answer[4 + 8 * i + 2] = static_cast<uint8_t>(i + 1);
        PutBe32(&answer[4 + 8 * i + 4], static_cast<uint32_t>(1000 * i));
    }
    return answer;
}

Bytes PerformanceAnswer(uint32_t claimedLength, size_t descriptors) {
    Bytes answer(8 + 16 * descriptors, 0);
    PutBe32(&answer[0], claimedLength);
    for (size_t i = 0; i < descriptors; ++i) PutBe32(&answer[8 + 16 * i + 8], static_cast<uint32_t>(i));
    return answer;
}

Bytes Sized(uint16_t claimedLength, size_t delivered) {
    Bytes answer(delivered, 0);
    if (delivered >= 2) PutBe16(&answer[0], claimedLength);
    return answer;
}

TEST(ReadCommands, AnAnswerShortOfWhatItClaimsFailsAndOneClaimingMoreIsReadAsFarAsAskedFor) {
    struct Case {
        std::string name;
        uint8_t opcode;
        Bytes reply;
        // Runs the command; on success returns how many entries it decoded (1 for a record).
        std::function<std::pair<uint8_t, size_t>(DriveTable&)> run;
        bool completes;
        size_t entries;
    };
    auto toc = [](DriveTable& t) {
        Toc toc;
        const uint8_t status = ReadToc(t, toc);
        return std::make_pair(status, toc.tracks.size());
    };
    auto performance = [](DriveTable& t) {
        std::vector<PerformanceDescriptor> list;
        const uint8_t status = ReadPerformance(t, false, list);
        return std::make_pair(status, list.size());
    };
    auto one = [](auto command) {
        return [command](DriveTable& t) { return std::make_pair(command(t), size_t{1}); };
    };
    const auto track = one([](DriveTable& t) {
        TrackInformation info;
        return ReadTrackInformation(t, 1, info);
    });
    const auto disc = one([](DriveTable& t) {
        DiscRecording recording;
        return ReadDiscRecording(t, recording);
    });
    const auto layers = one([](DriveTable& t) {
        LayerInfo info;
        return ReadLayerInfo(t, info);
    });
    const auto capacity = one([](DriveTable& t) {
        Capacity c;
        return ReadCapacity(t, c);
    });
    const auto sessions = one([](DriveTable& t) {
        SessionInfo s;
        return ReadSessionInfo(t, s);
    });
    const auto twoSectors = one([](DriveTable& t) {
        Bytes data(2 * kSectorSize);
        return ReadSectors(t, ReadCommand::Read10, 0, 2, data);
    });

    const Case cases[] = {
        {"toc whole", 0x43, TocAnswer(2 + 3 * 8, 3), toc, true, 3},
        {"toc cut inside its list", 0x43, TocAnswer(2 + 3 * 8, 2), toc, false, 0},
        // 804 bytes were asked for: 100 descriptors; the 101st it claims is not read.
        {"toc claiming more than asked for", 0x43, TocAnswer(2 + 101 * 8, 101), toc, true, 100},
        {"performance whole", 0xAC, PerformanceAnswer(4 + 16 * 3, 3), performance, true, 3},
        {"performance cut short", 0xAC, PerformanceAnswer(4 + 16 * 3, 2), performance, false, 0},
        {"performance claiming more than asked for", 0xAC, PerformanceAnswer(4 + 16 * 40, 40), performance,
         true, kMaxPerformanceDescriptors},
        {"track information cut short", 0x52, Sized(34, 30), track, false, 0},
        {"track information without its size field", 0x52, Sized(10, 36), track, false, 0},
        {"track information as far as asked for", 0x52, Sized(0xFFFF, 60), track, true, 1},
        {"disc information cut short", 0x51, Sized(32, 6), disc, false, 0},
        {"disc information without the newer fields", 0x51, Sized(8, 34), disc, true, 1},
        {"layer information cut short", 0xAD, Sized(2050, 19), layers, false, 0},
        {"session information claiming no session", 0x43, Sized(2, 12), sessions, false, 0},
        {"capacity cut short", 0x25, Bytes(7, 0), capacity, false, 0},
        {"two sectors bringing one", 0x28, Bytes(kSectorSize, 0), twoSectors, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Reader r("dvd-rom");
        r.Reply(c.opcode, c.reply);
        const auto [status, entries] = c.run(r.table);
        if (c.completes) {
            EXPECT_EQ(status, kCommandCompleted);
            EXPECT_EQ(entries, c.entries);
        } else {
            EXPECT_EQ(status, kCommandFailed);
            EXPECT_TRUE(r.table.LastFailure().shortAnswer);
        }
    }
}

}  // namespace
}  // namespace dravix
