#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "emu/VirtualDrive.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {

// One drive of a virtual bus with a disc in it, found by a DriveTable through the real
// pass-through code, the unit attention of the load already taken.
struct DiscInDrive {
    // `beforeInsert` sets the drive up (its model, its clock) before the disc goes in.
    explicit DiscInDrive(const char* media, emu::DriveKind kind = emu::DriveKind::Maker,
                         const std::function<void(DiscInDrive&)>& beforeInsert = {})
        : drive(bus.AddDrive(kind)) {
        if (beforeInsert) beforeInsert(*this);
        EXPECT_TRUE(drive.Insert(media));
        EXPECT_TRUE(table.InitTransport());
        EXPECT_EQ(table.EnumerateDrives(), 1);
        TestUnitReady(table);
    }

    // Every command moves the drive's clock on by the time its model gives it, to the
    // microsecond; `nowUs` is that clock, for a run to read too.
    void SimulateClock() {
        drive.SetClock([this] { return nowUs.load() / 1000; });
        drive.SetMicrosecondSleeper([this](uint64_t us) { nowUs += static_cast<int64_t>(us); });
    }

    // The next command with this operation code answers `reply` (as much as was asked for).
    void Reply(uint8_t opcode, std::vector<uint8_t> reply) {
        emu::FaultRule rule;
        rule.opcode = opcode;
        rule.once = true;
        rule.action = emu::FaultRule::Action::Reply;
        rule.reply = std::move(reply);
        drive.AddFault(rule);
    }

    std::atomic<int64_t> nowUs{1'000'000'000};
    VirtualBus bus;
    emu::VirtualDrive& drive;
    DriveTable table{bus.Drives()};
};

}  // namespace dravix::test
