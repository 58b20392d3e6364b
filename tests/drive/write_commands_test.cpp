// The write-test command layer on a virtual drive behind the real pass-through code: the Write
// Parameters page read, changed and read back, writes, the buffer, and answers cut short.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/ReadCommands.h"
#include "drive/WriteCommands.h"
#include "emu/Media.h"
#include "tests/support/DiscInDrive.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;

using Writer = test::DiscInDrive;

TEST(WriteCommands, SimulatedWritesOfADvdMinusRThroughThePageLeaveItBlank) {
    Writer w("dvd-r");
    WriteParametersPage page;
    ASSERT_EQ(ReadWriteParameters(w.table, page), kCommandCompleted);
    EXPECT_FALSE(page.testWrite);
    EXPECT_EQ(page.page.size(), 2u + 0x32);
    page.testWrite = true;
    page.writeType = 2;
    page.dataBlockType = 8;
    ASSERT_EQ(SetWriteParameters(w.table, page), kCommandCompleted);
    WriteParametersPage back;
    ASSERT_EQ(ReadWriteParameters(w.table, back), kCommandCompleted);
    EXPECT_TRUE(back.testWrite);
    EXPECT_EQ(back.writeType, 2);

    TrackInformation track;
    ASSERT_EQ(ReadTrackInformation(w.table, 1, track), kCommandCompleted);
    ASSERT_TRUE(track.nextWritableLba.has_value());
    EXPECT_EQ(*track.nextWritableLba, 0u);
    const Bytes data(32 * 2048, 0x5A);
    ASSERT_EQ(WriteSectors(w.table, 0, 32, data), kCommandCompleted);
    BufferCapacity buffer;
    ASSERT_EQ(ReadBufferCapacity(w.table, buffer), kCommandCompleted);
    EXPECT_EQ(buffer.lengthBytes, w.drive.State().bufferKiB * 1024u);
    ASSERT_EQ(SynchronizeCache(w.table), kCommandCompleted);
    DiscRecording recording;
    ASSERT_EQ(ReadDiscRecording(w.table, recording), kCommandCompleted);
    EXPECT_EQ(recording.status, DiscStatus::Empty);

    // Without simulation the same write records, and the next writable address moves on.
    back.testWrite = false;
    ASSERT_EQ(SetWriteParameters(w.table, back), kCommandCompleted);
    ASSERT_EQ(WriteSectors(w.table, 0, 32, data), kCommandCompleted);
    ASSERT_EQ(ReadDiscRecording(w.table, recording), kCommandCompleted);
    EXPECT_EQ(recording.status, DiscStatus::Incomplete);
    ASSERT_EQ(ReadTrackInformation(w.table, 1, track), kCommandCompleted);
    EXPECT_EQ(track.nextWritableLba, 32u);
    // Too little data for the sectors asked: nothing is sent.
    EXPECT_EQ(WriteSectors(w.table, 32, 32, Bytes(2048)), kCommandFailed);
}

Bytes ModeAnswer(uint16_t blockDescriptors, Bytes page) {
    Bytes answer(8 + blockDescriptors, 0);
    answer[6] = static_cast<uint8_t>(blockDescriptors >> 8);
    answer[7] = static_cast<uint8_t>(blockDescriptors);
    answer.insert(answer.end(), page.begin(), page.end());
    const size_t length = answer.size() - 2;
    answer[0] = static_cast<uint8_t>(length >> 8);
    answer[1] = static_cast<uint8_t>(length);
    return answer;
}

TEST(WriteCommands, AnswersCutShortOrOfAnotherPageFail) {
    const Bytes page = {0x05, 0x32, 0x12, 0x04, 0x08, 0, 0, 0};
    struct Case {
        std::string name;
        uint8_t opcode;
        Bytes reply;
        bool completes;
    };
    auto writeParameters = [](DriveTable& t) {
        WriteParametersPage p;
        const uint8_t status = ReadWriteParameters(t, p);
        return status == kCommandCompleted && p.testWrite && p.writeType == 2 && p.dataBlockType == 8;
    };
    auto buffer = [](DriveTable& t) {
        BufferCapacity b;
        const uint8_t status = ReadBufferCapacity(t, b);
        return status == kCommandCompleted && b.lengthBytes == 0x100000 && b.blankBytes == 0x40000;
    };
    const Bytes bufferAnswer = {0, 10, 0, 0, 0, 0x10, 0, 0, 0, 0x04, 0, 0};
    Bytes inBlocks = bufferAnswer;
    inBlocks[3] = 0x01;
    const std::vector<std::pair<Case, std::function<bool(DriveTable&)>>> cases = {
        {{"page whole", 0x5A, ModeAnswer(0, page), true}, writeParameters},
        {{"page after a block descriptor", 0x5A, ModeAnswer(8, page), true}, writeParameters},
        {{"page cut before its data block type", 0x5A, ModeAnswer(0, Bytes(page.begin(), page.begin() + 4)),
          false},
         writeParameters},
        {{"another page", 0x5A, ModeAnswer(0, {0x2A, 0x06, 0x12, 0x04, 0x08, 0, 0, 0}), false}, writeParameters},
        {{"header only", 0x5A, ModeAnswer(0, {}), false}, writeParameters},
        {{"buffer whole", 0x5C, bufferAnswer, true}, buffer},
        {{"buffer cut short", 0x5C, Bytes(bufferAnswer.begin(), bufferAnswer.begin() + 11), false}, buffer},
        {{"buffer counted in blocks", 0x5C, inBlocks, false}, buffer},
    };
    for (const auto& [c, run] : cases) {
        SCOPED_TRACE(c.name);
        Writer w("dvd-r");
        w.Reply(c.opcode, c.reply);
        EXPECT_EQ(run(w.table), c.completes);
    }
    // A track whose next writable address is not marked valid has none.
    Bytes track(36, 0);
    track[1] = 34;
    track[7] = 0x00;
    track[15] = 0x20;
    Writer w("dvd-r");
    w.Reply(0x52, track);
    TrackInformation info;
    ASSERT_EQ(ReadTrackInformation(w.table, 1, info), kCommandCompleted);
    EXPECT_FALSE(info.nextWritableLba.has_value());
}

TEST(WriteCommands, TheListWritesThePageBackWithOnlyItsFieldsChanged) {
    WriteParametersPage page;
    page.page = {0x85, 0x06, 0x41, 0x04, 0x0A, 0x00, 0x77, 0x00};  // saveable, underrun-free, vendor byte
    page.testWrite = true;
    page.writeType = 2;
    page.dataBlockType = 8;
    const Bytes list = WriteParametersList(page);
    const Bytes expected = {0, 0, 0, 0, 0, 0, 0, 0, 0x05, 0x06, 0x52, 0x04, 0x08, 0x00, 0x77, 0x00};
    EXPECT_EQ(list, expected);
}

}  // namespace
}  // namespace dravix
