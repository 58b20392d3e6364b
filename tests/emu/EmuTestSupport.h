#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "emu/Sense.h"
#include "emu/VirtualDrive.h"

namespace dravix::emu::test {

// What a command came back with, and the bytes it wrote.
struct Answer {
    ScsiOutcome outcome{};
    std::vector<uint8_t> data;

    bool Good() const { return outcome.kind == ScsiOutcome::Kind::Good; }
    SenseCode Sense() const { return SenseOf(outcome); }
    uint16_t Be16(size_t at) const { return static_cast<uint16_t>(data.at(at) << 8 | data.at(at + 1)); }
    uint32_t Be32(size_t at) const {
        return static_cast<uint32_t>(data.at(at)) << 24 | static_cast<uint32_t>(data.at(at + 1)) << 16 |
               static_cast<uint32_t>(data.at(at + 2)) << 8 | data.at(at + 3);
    }
    std::string Text(size_t at, size_t length) const {
        return std::string(data.begin() + static_cast<long>(at),
                           data.begin() + static_cast<long>(at + length));
    }
};

inline std::vector<uint8_t> Cdb(std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> cdb(bytes);
    cdb.resize(std::max<size_t>(cdb.size(), 12), 0);
    return cdb;
}

// FDh frame: sub-code, "ZARN", then bytes 6.. as given.
inline std::vector<uint8_t> Vendor(uint8_t subCode, std::initializer_list<uint8_t> functionBytes = {}) {
    std::vector<uint8_t> cdb(12, 0);
    const uint8_t head[6] = {0xFD, subCode, 'Z', 'A', 'R', 'N'};
    std::copy(head, head + 6, cdb.begin());
    std::copy(functionBytes.begin(), functionBytes.begin() + std::min<size_t>(functionBytes.size(), 6),
              cdb.begin() + 6);
    return cdb;
}

inline std::vector<uint8_t> TeFeCdb(uint8_t byte7, uint32_t psn, uint8_t byte11) {
    return Vendor(0xFB, {0x05, byte7, static_cast<uint8_t>(psn >> 16), static_cast<uint8_t>(psn >> 8),
                         static_cast<uint8_t>(psn), byte11});
}

// Sends a CDB with a data-in buffer of `length` bytes (none when 0); the buffer carries guard
// bytes behind it that the drive must leave alone.
inline Answer Send(VirtualDrive& drive, const std::vector<uint8_t>& cdb, uint32_t length = 0) {
    constexpr uint8_t kGuard = 0xA5;
    std::vector<uint8_t> buffer(length + 16, kGuard);
    std::fill(buffer.begin(), buffer.begin() + length, 0);
    Answer answer;
    answer.outcome =
        drive.Execute(cdb.data(), cdb.size(), length ? 2 : 0, length ? buffer.data() : nullptr, length, 15);
    for (size_t i = length; i < buffer.size(); ++i)
        EXPECT_EQ(buffer[i], kGuard) << "wrote past the buffer at " << i;
    EXPECT_LE(answer.outcome.transferred, length);
    buffer.resize(length);
    answer.data = buffer;
    return answer;
}

inline ::testing::AssertionResult FailsWith(const Answer& answer, SenseCode expected) {
    if (answer.outcome.kind != ScsiOutcome::Kind::CheckCondition) {
        return ::testing::AssertionFailure() << "no CHECK CONDITION";
    }
    const SenseCode got = answer.Sense();
    if (got == expected && answer.outcome.sense[0] == 0x70 && answer.outcome.sense[7] == 10) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure()
           << std::hex << "sense " << int(got.key) << "/" << int(got.asc) << "/" << int(got.ascq);
}

inline void EnterVendorMode(VirtualDrive& drive) {
    ASSERT_TRUE(Send(drive, Vendor(0xF1)).Good());
}

}  // namespace dravix::emu::test
