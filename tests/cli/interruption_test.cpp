// Ctrl+C: the first ends the wait for the drive at once (and the command with it), the second
// ends the program.

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

struct Interruption : ::testing::Test {
    void SetUp() override {
        unsetenv("DRAVIX_ASPI_LIBRARY");
        ASSERT_TRUE(drive.Insert("dvd+r"));
        drive.SetBecomingReady(1000000);  // waited for until the wait's limit: 30 s
    }
    // Ctrl+C as the drive answers its first TEST UNIT READY, `times` times.
    void PressCtrlCAtTheFirstWait(int times) {
        drive.SetTraceHook([this, times](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
            if (cdb[0] != 0x00 || ++readies != 1) return;
            for (int i = 0; i < times; ++i) std::raise(SIGINT);
        });
    }
    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
    int readies = 0;
};

TEST_F(Interruption, CtrlCEndsTheWaitForTheDriveBeforeItsNextPoll) {
    for (const bool json : {false, true}) {
        readies = 0;
        bus.ClearCommands();
        PressCtrlCAtTheFirstWait(1);
        const CliRun run = RunCliCapture(json ? std::vector<std::string>{"--json", "testwrite", "on"}
                                              : std::vector<std::string>{"testwrite", "on"});
        EXPECT_EQ(run.status, 1);
        if (json) {
            EXPECT_EQ(nlohmann::json::parse(run.out)["error"]["message"], "User abort!");
        } else {
            EXPECT_EQ(run.err, "dravix-cli: User abort!\n");
        }
        EXPECT_EQ(bus.CountOpcode(0x00), 1u);  // no poll after Ctrl+C
        EXPECT_EQ(bus.CountOpcode(0xFD), 0u);  // nor anything else
    }
    drive.SetTraceHook(nullptr);
}

TEST_F(Interruption, ASecondCtrlCEndsTheProgramAtOnce) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PressCtrlCAtTheFirstWait(2);
            RunCliCapture({"info"});
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

}  // namespace
}  // namespace dravix::test
