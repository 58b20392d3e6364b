#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <utility>
#include <vector>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "emu/VirtualDrive.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {

using Bytes = std::vector<uint8_t>;

// A feature descriptor: code, version/flags, additional length, data.
inline void AddFeature(Bytes& answer, uint16_t code, Bytes data) {
    answer.push_back(static_cast<uint8_t>(code >> 8));
    answer.push_back(static_cast<uint8_t>(code));
    answer.push_back(0x00);
    answer.push_back(static_cast<uint8_t>(data.size()));
    answer.insert(answer.end(), data.begin(), data.end());
}

inline Bytes Configuration(std::initializer_list<std::pair<uint16_t, Bytes>> features) {
    Bytes answer(8, 0);
    for (const auto& [code, data] : features) AddFeature(answer, code, data);
    PutBe32(answer.data(), static_cast<uint32_t>(answer.size() - 4));
    return answer;
}

// A table on one virtual drive behind the real pass-through code, with faults to arm and the
// commands the drive saw.
struct OnVirtualDrive : ::testing::Test {
    void SetUp() override {
        ASSERT_TRUE(table.InitTransport());
        ASSERT_EQ(table.EnumerateDrives(), 1);
    }

    void Insert(const char* media) {
        ASSERT_TRUE(drive.Insert(media));
        table.WaitUntilReady();  // past the medium-changed attention
        bus.ClearCommands();
    }

    emu::FaultRule& Fault(uint8_t opcode, std::map<uint8_t, uint8_t> bytes = {}) {
        rules.emplace_back();
        rules.back().opcode = opcode;
        rules.back().bytes = std::move(bytes);
        rules.back().sense = emu::kInvalidFieldInCdb;
        return rules.back();
    }
    void Arm() {
        for (const auto& rule : rules) drive.AddFault(rule);
        rules.clear();
    }

    bool Sent(const Bytes& cdb) const {
        const auto commands = bus.Commands();
        return std::find(commands.begin(), commands.end(), cdb) != commands.end();
    }
    std::vector<Bytes> Sequence(uint8_t opcodeA, uint8_t opcodeB = 0xFF, uint8_t opcodeC = 0xFF) const {
        std::vector<Bytes> out;
        for (const Bytes& cdb : bus.Commands()) {
            if (cdb[0] == opcodeA || cdb[0] == opcodeB || cdb[0] == opcodeC) out.push_back(cdb);
        }
        return out;
    }

    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
    DriveTable table{bus.Drives()};
    std::vector<emu::FaultRule> rules;
};

}  // namespace dravix::test
