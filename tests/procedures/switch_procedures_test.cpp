// The switch pages' procedures over the option and switch commands.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "tests/support/CommandBlocks.h"
#include "procedures/SwitchProcedures.h"
#include "tests/support/VirtualBus.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(VendorSequence, RunsBetweenOnAndOffOrNotAtAll) {
    test::VirtualBus bus;
    bus.AddDrive(emu::DriveKind::Maker);
    bus.AddDrive(emu::DriveKind::OtherMaker);
    DriveTable table{bus.Drives()};
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 2);
    bus.ClearCommands();

    OptionReply reply;
    uint8_t status = 0xEE;
    EXPECT_TRUE(WithVendorMode(table, [&] { status = ReadOptionStates(table, reply); }));
    EXPECT_EQ(status, kCommandCompleted);
    EXPECT_EQ(bus.Commands(),
              (std::vector<Bytes>{test::VendorCdb(0xF1), test::VendorCdb(0x1B, {0x16, 0x01, 0x04}), test::VendorCdb(0xF2)}));

    ASSERT_TRUE(table.SelectDrive(1));
    bus.ClearCommands();
    bool ran = false;
    EXPECT_FALSE(WithVendorMode(table, [&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_EQ(bus.Commands(), std::vector<Bytes>{test::VendorCdb(0xF1)});  // no off after a refusal
}

}  // namespace
}  // namespace dravix
