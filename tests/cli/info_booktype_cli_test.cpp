// dravix-cli info and booktype on a virtual drive: the page's fields and texts as lines or JSON,
// the confirmations on the terminal, the refusals and the exit status.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "drive/BookTypeCommands.h"
#include "procedures/BookTypeProcedures.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

CliRun Cli(const VirtualBus& bus, std::vector<std::string> args, const std::string& input = "") {
    return RunCliCapture(bus.Drives(), std::move(args), input);
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

struct CliOnVirtualDrive : ::testing::Test {
    size_t CountOpcode(uint8_t opcode) const { return bus.CountOpcode(opcode); }

    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
};

TEST_F(CliOnVirtualDrive, InfoPrintsThePageFields) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    CliRun run = Cli(bus, {"info"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "Firmware Version: 1.20\n"
              "Buffer Size: 8M\n"
              "Connection Interface: ATAPI / IDE\n"
              "DVD Region Setting: 1\n"
              "Disc Type: DVD+R\n"
              "Manufacture ID: ORIONDSC\n"
              "Media Type ID: R16\n"
              "Blank Disc Capacity: 4482.6 MB\n");

    drive.RemoveDisc();
    drive.SetRegionMask(0xFF);
    run = Cli(bus, {"--json", "info"});
    EXPECT_EQ(run.status, 0);
    const auto object = nlohmann::json::parse(run.out);
    EXPECT_TRUE(object["disc"].is_null());
    EXPECT_EQ(object["region"]["playable"], nlohmann::json::array());
    EXPECT_EQ(object["status"], "Please insert blank disc...");
    EXPECT_EQ(object["drive"]["revision"], "1.20");
}

TEST_F(CliOnVirtualDrive, InfoLeavesUnreachedFieldsEmpty) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    emu::FaultRule rule;
    rule.opcode = 0xAD;
    rule.sense = emu::kInvalidFieldInCdb;
    drive.AddFault(rule);
    const CliRun run = Cli(bus, {"--json", "info"});
    EXPECT_EQ(run.status, 1);
    const auto object = nlohmann::json::parse(run.out);
    EXPECT_EQ(object["status"], "Not support for this disc.");
    // The page's "N/A" for a read that failed is no identifier the drive reported.
    EXPECT_TRUE(object["disc"]["manufacturer_id"].is_null());
    EXPECT_EQ(object["unread"], (nlohmann::json{"disc.manufacturer_id", "disc.media_type_id"}));
    EXPECT_TRUE(object["disc"]["capacity_bytes"].is_null());
    EXPECT_EQ(object["error"]["code"], 1);
}

TEST(CliWithoutDrive, InfoAndBookTypeExitWithNoDrive) {
    VirtualBus bus;
    for (const char* command : {"info", "booktype"}) {
        const CliRun run = Cli(bus, {command});
        EXPECT_EQ(run.status, 3) << command;
        EXPECT_TRUE(Contains(run.err, "No Device found!")) << command;
    }
}

TEST_F(CliOnVirtualDrive, BookTypeShowsRowsAndTheLoadedDisc) {
    ASSERT_TRUE(drive.Insert("dvd+rw-recorded"));
    drive.SetBookType(emu::BookTypeRow::PlusR, 0x01);
    CliRun run = Cli(bus, {"booktype"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out,
              "For DVD+RW Disc : DVD+RW\n"
              "For DVD+R Disc : DVD-ROM\n"
              "For DVD+R DL Disc : DVD+R DL\n"
              "Current Media : DVD+RW\n"
              "Book Type : DVD+RW\n");

    // No DL feature: that row is never read; an empty tray gets the page's warning.
    drive.Update([](emu::DriveState& s) { s.writesDvdPlusRDl = false; });
    drive.RemoveDisc();
    bus.ClearCommands();
    run = Cli(bus, {"--json", "booktype"});
    EXPECT_EQ(run.status, 0);
    const auto object = nlohmann::json::parse(run.out);
    EXPECT_EQ(object["rows"][2],
              (nlohmann::json{{"row", "dvd+r-dl"}, {"book_type", nullptr}, {"raw", nullptr}}));
    EXPECT_EQ(object["rows"][1]["raw"], 1);
    EXPECT_EQ(object["rows"][1]["book_type"], "DVD-ROM");
    EXPECT_EQ(object["writes_dvd_plus_r_dl"], false);
    EXPECT_TRUE(object["media"]["kind"].is_null());
    EXPECT_TRUE(Contains(run.err, "Warning: The drive is empty; please insert a DVD disc"));
    for (const auto& cdb : bus.Commands()) EXPECT_FALSE(cdb[0] == 0xFF && cdb[1] == 0x10 && cdb[2] == 0x01);
}

TEST_F(CliOnVirtualDrive, SetARowAsksFirstAndSurvivesARestart) {
    // Declined: nothing is set.
    CliRun run = Cli(bus, {"booktype", "set", "dvd+r", "dvd-rom"}, "n\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, RowConfirmationText(BookTypeRow::PlusR)));
    EXPECT_TRUE(Contains(run.err, "Cancelled."));
    EXPECT_EQ(CountOpcode(0xFE), 0u);
    EXPECT_EQ(drive.State().bookTypes[1], 0xA1);

    run = Cli(bus, {"booktype", "set", "dvd+r", "dvd-rom"}, "y\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.out, "For DVD+R Disc : DVD-ROM\n"));
    EXPECT_EQ(drive.State().bookTypes[1], 0x01);

    run = Cli(bus, {"--yes", "booktype", "set", "dvd+r-dl", "dvd-rom"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_FALSE(Contains(run.err, "CANNOT"));  // --yes does not ask

    drive.Restart();
    run = Cli(bus, {"booktype"});
    EXPECT_TRUE(Contains(run.out, "For DVD+R Disc : DVD-ROM\n"));
    EXPECT_TRUE(Contains(run.out, "For DVD+R DL Disc : DVD-ROM\n"));

    run = Cli(bus, {"--yes", "booktype", "set", "dvd+r", "dvd+r"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(drive.State().bookTypes[1], 0xA1);
}

TEST_F(CliOnVirtualDrive, SetARowEjectsAsThePageDoes) {
    ASSERT_TRUE(drive.Insert("cd-rom"));
    CliRun run = Cli(bus, {"--yes", "booktype", "set", "dvd+rw", "dvd-rom"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(drive.State().trayOpen);
    EXPECT_EQ(drive.State().bookTypes[0], 0x01);
}

TEST_F(CliOnVirtualDrive, RowRefusalsAndFailures) {
    EXPECT_EQ(Cli(bus, {"booktype", "set", "dvd+r", "dvd+rw"}).status, 2);
    EXPECT_EQ(Cli(bus, {"booktype", "set", "dvd-r", "dvd-rom"}).status, 2);
    EXPECT_EQ(Cli(bus, {"booktype", "set", "dvd+r"}).status, 2);
    EXPECT_EQ(Cli(bus, {"booktype", "set-media", "dvd+r"}).status, 2);
    EXPECT_EQ(CountOpcode(0xFE), 0u);

    drive.SetBookType(emu::BookTypeRow::PlusR, 0x55);
    CliRun run = Cli(bus, {"--yes", "booktype", "set", "dvd+r", "dvd-rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "55h"));

    drive.Update([](emu::DriveState& s) { s.writesDvdPlusRDl = false; });
    run = Cli(bus, {"--yes", "booktype", "set", "dvd+r-dl", "dvd-rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CountOpcode(0xFE), 0u);

    emu::FaultRule rule;
    rule.opcode = 0xFE;
    rule.sense = emu::kInvalidFieldInCdb;
    drive.AddFault(rule);
    run = Cli(bus, {"--yes", "booktype", "set", "dvd+rw", "dvd-rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, std::string("dravix-cli: ") + kMsgSetDriveFail));
    EXPECT_TRUE(Contains(run.out, "For DVD+RW Disc : DVD+RW\n"));  // read back all the same
}

TEST_F(CliOnVirtualDrive, AFailedFeatureListLeavesTheDvdPlusRAndDvdPlusRwRowsSettable) {
    // The page keeps Modify on the rows it could read when only the feature list fails.
    emu::FaultRule rule;
    rule.opcode = 0x46;
    rule.bytes = {{7, 0x40}};
    rule.sense = emu::kInvalidFieldInCdb;
    drive.AddFault(rule);

    CliRun run = Cli(bus, {"--yes", "booktype", "set", "dvd+r", "dvd-rom"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, "Get Configuration fail."));
    EXPECT_EQ(CountOpcode(0xFE), 1u);
    EXPECT_EQ(drive.State().bookTypes[1], 0x01);
    EXPECT_TRUE(Contains(run.out, "For DVD+R Disc : DVD-ROM\n"));

    run = Cli(bus, {"--yes", "booktype", "set", "dvd+rw", "dvd-rom"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(drive.State().bookTypes[0], 0x01);

    // Without the feature list the DVD+R DL row stays out of reach, as on the page.
    run = Cli(bus, {"--yes", "booktype", "set", "dvd+r-dl", "dvd-rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CountOpcode(0xFE), 2u);
    EXPECT_EQ(drive.State().bookTypes[2], 0xE1);
}

TEST_F(CliOnVirtualDrive, ARowWhoseReadFailsIsNotSet) {
    emu::FaultRule rule;
    rule.opcode = 0xFF;
    rule.bytes = {{1, 0x10}, {2, 0x00}};
    rule.sense = emu::kInvalidFieldInCdb;
    drive.AddFault(rule);
    const CliRun run = Cli(bus, {"--yes", "booktype", "set", "dvd+r", "dvd-rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, std::string("dravix-cli: ") + kMsgCheckDriveFail));
    EXPECT_EQ(CountOpcode(0xFE), 0u);
    EXPECT_EQ(drive.State().bookTypes[1], 0xA1);
}

TEST(CliOnAnotherMakersDrive, BookTypeIsNotSupported) {
    VirtualBus bus;
    bus.AddDrive(emu::DriveKind::OtherMaker);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"booktype"}, {"--yes", "booktype", "set", "dvd+r", "dvd-rom"}}) {
        const CliRun run = Cli(bus, args);
        EXPECT_EQ(run.status, 3);
        EXPECT_TRUE(Contains(run.err, "dravix-cli: This drive is not supported"));
    }
}

TEST_F(CliOnVirtualDrive, SetMediaOnlyOnARecordedDvdPlusRw) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    CliRun run = Cli(bus, {"--yes", "booktype", "set-media", "dvd-rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, std::string("dravix-cli: ") + kMsgDvdPlusRwOnly));

    ASSERT_TRUE(drive.Insert("dvd+rw-blank"));
    run = Cli(bus, {"--yes", "booktype", "set-media", "dvd-rom"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(CountOpcode(0xFE), 0u);

    ASSERT_TRUE(drive.Insert("dvd+rw-recorded"));
    run = Cli(bus, {"booktype", "set-media", "dvd-rom"}, "y\ny\n");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(Contains(run.err, kMsgChangeBookTypeNow));
    EXPECT_TRUE(Contains(run.err, kMsgBookTypeChanged));
    EXPECT_EQ(run.out, "Current Media : DVD+RW\nBook Type : DVD-ROM\n");
    EXPECT_EQ(drive.State().disc->bookType, 0x01);

    // Declining the reload keeps the change and does not touch the tray.
    bus.ClearCommands();
    run = Cli(bus, {"booktype", "set-media", "dvd+rw"}, "y\nn\n");
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(drive.State().disc->bookType, 0x92);
    EXPECT_EQ(CountOpcode(0x1B), 0u);

    run = Cli(bus, {"booktype", "set-media", "dvd-rom"}, "n\n");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(drive.State().disc->bookType, 0x92);
}

}  // namespace
}  // namespace dravix::test
