#include "fuzz/VirtualDriveFuzz.h"

#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "fuzz/FuzzCheck.h"

namespace dravix::fuzz {

namespace {

constexpr uint8_t kGuard = 0xA5;

uint32_t Be16(std::span<const uint8_t> cdb, size_t at) {
    return (uint32_t{cdb[at]} << 8) | cdb[at + 1];
}

// The most data-in bytes the command may carry, from its own fields; none when its length is
// fixed by the command itself.
std::optional<uint32_t> AllocationLimit(std::span<const uint8_t> cdb) {
    switch (cdb[0]) {
        case 0x12:  // INQUIRY
            return Be16(cdb, 3);
        case 0x46:  // GET CONFIGURATION
        case 0x51:  // READ DISC INFORMATION
        case 0x5A:  // MODE SENSE(10)
            return Be16(cdb, 7);
        case 0xA4:  // REPORT KEY
        case 0xAD:  // READ DVD STRUCTURE
            return Be16(cdb, 8);
        case 0xAC:  // GET PERFORMANCE: a header and at most the asked-for number of descriptors
            return 8 + 16 * Be16(cdb, 8);
        case 0xFD:  // the maker's feature list
            if (cdb[1] == 0x1B && cdb[6] == 0x0E) return Be16(cdb, 7);
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

}  // namespace

void MakeTimeless(emu::VirtualDrive& drive) {
    auto now = std::make_shared<int64_t>(1'000'000);
    drive.SetClock([now] { return *now += 100; });
    drive.SetSleeper([](uint32_t) {});
}

void RunCheckedCommand(emu::VirtualDrive& drive, std::span<const uint8_t> cdb, size_t cdbLength,
                       int direction, uint32_t bufferLength, std::span<const uint8_t> data,
                       bool scriptedReplies) {
    std::array<uint8_t, 16> block{};
    std::copy_n(cdb.begin(), std::min(cdb.size(), block.size()), block.begin());

    // Exactly bufferLength bytes on the heap, so that a write past the end is caught by ASan.
    std::vector<uint8_t> buffer(bufferLength, kGuard);
    if (direction == kDataOut && !data.empty()) {
        for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = data[i % data.size()];
    }
    const std::vector<uint8_t> before = buffer;
    const emu::DriveState stateBefore = drive.LocalState();
    const emu::ScsiOutcome outcome = drive.Execute(block.data(), cdbLength, direction,
                                                   buffer.empty() ? nullptr : buffer.data(), bufferLength,
                                                   /*timeoutSeconds=*/30);

    FUZZ_CHECK(outcome.transferred <= bufferLength);
    if (outcome.kind != emu::ScsiOutcome::Kind::Good || direction != kDataIn)
        FUZZ_CHECK(outcome.transferred == 0);
    if (direction == kDataIn && outcome.kind == emu::ScsiOutcome::Kind::Good && cdbLength > 0 &&
        !scriptedReplies) {
        if (const std::optional<uint32_t> limit = AllocationLimit(block))
            FUZZ_CHECK(outcome.transferred <= *limit);
    }
    // Nothing beyond what was transferred is touched, and a data-out buffer is left as it was.
    FUZZ_CHECK(
        std::equal(buffer.begin() + outcome.transferred, buffer.end(), before.begin() + outcome.transferred));
    if (outcome.kind == emu::ScsiOutcome::Kind::CheckCondition) {
        FUZZ_CHECK(outcome.sense[0] == 0x70);
        // A refused request (ILLEGAL REQUEST) changes nothing: requests are checked whole before
        // anything is applied. Only the fault rules' own counters may move.
        if ((outcome.sense[2] & 0x0F) == 0x05) {
            emu::DriveState after = drive.LocalState();
            after.faults = stateBefore.faults;
            FUZZ_CHECK(after == stateBefore);
        }
    }
}

}  // namespace dravix::fuzz
