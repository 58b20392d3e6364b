// The switch pages' procedures over the option and switch commands.

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "procedures/SwitchProcedures.h"
#include "tests/support/VirtualBus.h"

namespace dravix {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Vendor(uint8_t subCode, Bytes from6 = {}) {
    Bytes cdb = {0xFD, subCode, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
    std::copy(from6.begin(), from6.end(), cdb.begin() + 6);
    return cdb;
}

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
              (std::vector<Bytes>{Vendor(0xF1), Vendor(0x1B, {0x16, 0x01, 0x04}), Vendor(0xF2)}));

    ASSERT_TRUE(table.SelectDrive(1));
    bus.ClearCommands();
    bool ran = false;
    EXPECT_FALSE(WithVendorMode(table, [&] { ran = true; }));
    EXPECT_FALSE(ran);
    EXPECT_EQ(bus.Commands(), std::vector<Bytes>{Vendor(0xF1)});  // no off after a refusal
}

}  // namespace
}  // namespace dravix
