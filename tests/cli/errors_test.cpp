// How the command line fails: any drive index, a feature the drive does not list (refused
// before any question or tray check), a drive that never becomes ready.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

#include "drive/DriveTable.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct CliErrors : ::testing::Test {
    void SetUp() override { unsetenv("DRAVIX_ASPI_LIBRARY"); }

    // Commands that change a setting, the disc or the tray.
    std::vector<Bytes> Changes() const {
        std::vector<Bytes> changes;
        for (const Bytes& cdb : bus.Commands()) {
            const bool option = cdb[0] == 0xFD && cdb[1] == 0x1B && cdb[6] == 0x16 && cdb[7] != 0x01 &&
                                cdb[7] != 0x05 && cdb[7] != 0x07;
            const bool switchWrite = cdb[0] == 0xFD && cdb[1] == 0xFB && (cdb[6] == 0x02 || cdb[6] == 0x03);
            if (option || switchWrite || cdb[0] == 0x1B || cdb[0] == 0xFE) changes.push_back(cdb);
        }
        return changes;
    }

    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
};

TEST_F(CliErrors, AnyIndexNamesADriveThatMayNotExist) {
    for (const char* index : {"1", "255", "1000", "99999999999999999999", "007"}) {
        const CliRun run = RunCliCapture(bus.Drives(), {"--drive", index, "testwrite", "on"});
        EXPECT_EQ(run.status, 3) << index;
        const std::string shown = std::string(index) == "007" ? "7" : index;
        EXPECT_EQ(run.err, "dravix-cli: There is no drive " + shown + "\n");
    }
    EXPECT_EQ(RunCliCapture(bus.Drives(), {"--drive", "000", "testwrite"}).status, 0);
    EXPECT_TRUE(Changes().empty());
}

TEST_F(CliErrors, AFeatureTheDriveDoesNotListIsRefusedBeforeAnyQuestionOrTrayCheck) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    struct Case {
        std::vector<uint8_t> features;
        std::vector<std::string> args;
        const char* feature;
    };
    const Case cases[] = {
        {{1, 5}, {"testwrite", "on"}, "Test Write"},
        {{1, 5}, {"wopc"}, "WOPC"},
        {{1, 5}, {"overspeed", "on", "--permanent"}, "OverSpeed"},  // a disc in the tray, and questions
        {{1, 5}, {"lumard", "clean"}, "Lumard"},
        {{7}, {"booktype", "set", "dvd+r", "dvd-rom"}, "Book Type"},
        {{7}, {"scan", "--speed", "4X"}, "Probix"},
        {{7}, {"smart"}, "Probix"},
    };
    for (const Case& c : cases) {
        drive.SetFeatureCodes(c.features);
        // No answer on standard input: a question would show.
        const CliRun run = RunCliCapture(bus.Drives(), c.args);
        EXPECT_EQ(run.status, 3) << c.feature;
        EXPECT_EQ(run.err, std::string("dravix-cli: This drive does not offer ") + c.feature + "\n");
        EXPECT_FALSE(drive.State().vendorMode);
    }
    EXPECT_TRUE(Changes().empty());

    // Another maker's drive is refused as the page refuses it, before the tray is looked at.
    VirtualBus other;
    other.AddDrive(emu::DriveKind::OtherMaker).Insert("dvd+r");
    const CliRun refused = RunCliCapture(other.Drives(), {"overspeed", "on", "--permanent"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.err, "dravix-cli: Not support the drive!\n");
}

TEST_F(CliErrors, ADriveThatNeverBecomesReadyIsNotReady) {
    cli::CliEnvironment environment;
    environment.readyWaitLimit = std::chrono::milliseconds(0);  // gives up at the first "becoming ready"
    ASSERT_TRUE(drive.Insert("dvd+r"));
    drive.SetBecomingReady(1000);
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"info"}, {"probe"}, {"testwrite"}, {"booktype"}, {"scan", "--speed", "4X"}}) {
        const CliRun run = RunCliCapture(bus.Drives(), args, "", environment);
        EXPECT_EQ(run.status, 3) << args[0];
        EXPECT_EQ(run.err, "dravix-cli: Drive activating... Please retry.\n") << args[0];
        EXPECT_TRUE(run.out.empty()) << run.out;
    }
}

}  // namespace
}  // namespace dravix::test
