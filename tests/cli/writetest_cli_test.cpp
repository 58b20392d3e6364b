// dravix-cli writetest on the virtual drive: the agreement it needs, the refusals and the run,
// with the exit statuses and what the drive was sent.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "drive/DriveTable.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

TEST(WriteTestCli, RefusesWithoutAgreementOrABlankDiscAndRunsOtherwise) {
    const std::filesystem::path state =
        std::filesystem::temp_directory_path() / ("dravix-writetest-cli-" + std::to_string(::getpid()));
    std::filesystem::create_directories(state);
    ::setenv("XDG_STATE_HOME", state.c_str(), 1);
    struct Case {
        std::string name;
        const char* media;
        std::vector<std::string> args;
        int status;
        bool writes;
        std::string end;  // of the JSON, empty when the command ended before the drive
    };
    const Case cases[] = {
        {"no --yes and no terminal", "dvd+r", {"--json", "writetest"}, 2, false, ""},
        {"a recorded disc", "dvd+r-recorded", {"--yes", "--json", "writetest"}, 3, false, "refused"},
        {"a read-only disc", "dvd-rom", {"--yes", "--json", "writetest"}, 3, false, "refused"},
        {"a bad length", "dvd+r", {"--yes", "writetest", "--length", "0"}, 2, false, ""},
        {"DVD+R through Test Write", "dvd+r", {"--yes", "--json", "writetest", "--length", "4"}, 0, true, "finished"},
        {"DVD-R through the page", "dvd-r", {"--yes", "--json", "writetest", "--length", "4", "--speed", "4X"}, 0,
         true, "finished"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualBus bus;
        emu::VirtualDrive& drive = bus.AddDrive();
        drive.Insert(c.media);
        size_t writes = 0;
        drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) { writes += cdb[0] == 0x2A; });
        const CliRun run = RunCliCapture(bus.Drives(), c.args);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(writes > 0, c.writes);
        if (!c.end.empty()) {
            const auto json = nlohmann::json::parse(run.out);
            EXPECT_EQ(json.at("end"), c.end);
            if (c.status == 0) {
                EXPECT_EQ(json.at("written_sectors"), 2048);
                EXPECT_EQ(json.at("blank_after"), true);
                EXPECT_EQ(json.at("setting_restored"), true);
                EXPECT_FALSE(json.at("points").empty());
            }
        }
        EXPECT_EQ(drive.State().disc->recordedSectors, 0u);
        EXPECT_FALSE(drive.State().testWrite);
        EXPECT_FALSE(drive.State().writeParameters.testWrite);
    }
    // A marker that a write test left behind: the next run starts only once the drive it names is
    // read with simulation off, and removes it; left on, or another drive named, the run is refused.
    struct MarkerCase {
        const char* name;
        bool namesThisDrive;
        bool leftOn;
        int status;
    };
    const MarkerCase markers[] = {{"this drive, simulation off", true, false, 0},
                                  {"this drive, Test Write left on", true, true, 3},
                                  {"another drive", false, false, 3}};
    const std::filesystem::path marker = state / "dravix" / "write-test-on";
    for (const MarkerCase& m : markers) {
        SCOPED_TRACE(m.name);
        VirtualBus bus;
        emu::VirtualDrive& drive = bus.AddDrive();
        drive.Insert("dvd+r");
        drive.SetTestWrite(m.leftOn);
        DriveTable table{bus.Drives()};
        ASSERT_TRUE(table.InitTransport());
        ASSERT_EQ(table.EnumerateDrives(), 1);
        table.SelectDrive(0);
        std::filesystem::create_directories(marker.parent_path());
        std::ofstream(marker) << "drive " << (m.namesThisDrive ? table.DriveLabel() : std::string("another"))
                              << "\nsimulation switch\nearlier off\n";
        size_t writes = 0;
        drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) { writes += cdb[0] == 0x2A; });
        const CliRun run = RunCliCapture(bus.Drives(), {"--yes", "writetest", "--length", "2"});
        EXPECT_EQ(run.status, m.status) << run.err;
        EXPECT_EQ(writes > 0, m.status == 0);
        EXPECT_EQ(std::filesystem::exists(marker), m.status != 0);
        if (m.status != 0) {
            EXPECT_NE(run.err.find("Test Write may still be on"), std::string::npos) << run.err;
        }
        EXPECT_EQ(drive.State().testWrite, m.leftOn);
        std::filesystem::remove(marker);
    }
    std::filesystem::remove_all(state);
}

}  // namespace
}  // namespace dravix::test
