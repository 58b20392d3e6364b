// Ctrl+C, SIGTERM and SIGHUP: the first ends the wait for the drive at once (and the command with
// it) or stops a command between two drive commands; the second ends the program.

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

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
        const CliRun run =
            RunCliCapture(bus.Drives(), json ? std::vector<std::string>{"--json", "testwrite", "on"}
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
            RunCliCapture(bus.Drives(), {"info"});
            std::exit(0);
        },
        ::testing::KilledBySignal(SIGINT), "");
}

// SIGTERM (timeout, a CI cancelling) and SIGHUP (a closed terminal) stop a command as the first
// Ctrl+C does, whatever the command: between two commands, vendor mode off, nothing written that
// was not sent yet, the partial result kept and marked stopped, the JSON object printed.
TEST(Signals, TerminateStopsEveryCommandFamilyBetweenTwoCommands) {
    unsetenv("DRAVIX_ASPI_LIBRARY");
    using Cdb = std::vector<uint8_t>;
    const auto vendor = [](uint8_t sub, int byte6) {
        return [sub, byte6](const Cdb& c) {
            return c[0] == 0xFD && c[1] == sub && (byte6 < 0 || c[6] == byte6);
        };
    };
    struct Case {
        const char* family;
        std::vector<std::string> args;
        const char* disc;
        std::function<bool(const Cdb&)> at;  // the signal comes as the drive answers the nth of these
        int nth;
        std::function<bool(const Cdb&)> neverSent;
        const char* result;  // the JSON "result" of a measurement, else null
    };
    const Case cases[] = {
        // During the support check: the switch write is not sent. During the first row read of
        // booktype set: no other row is read.
        {"switch", {"testwrite", "on"}, "dvd+r", vendor(0x1B, 0x0E), 1, vendor(0xFB, -1), nullptr},
        {"option",
         {"--yes", "lumard", "clean"},
         "dvd+r",
         vendor(0x1B, 0x0E),
         1,
         [](const Cdb& c) { return c[0] == 0xFD && c[1] == 0x1B && c[7] == 0x06; },
         nullptr},
        {"book type",
         {"--yes", "booktype", "set", "dvd+r", "dvd-rom"},
         "dvd+r",
         [](const Cdb& c) { return c[0] == 0xFF; },
         1,
         [](const Cdb& c) { return c[0] == 0xFE; },
         nullptr},
        {"scan",
         {"scan", "--speed", "4X", "--mode", "quick"},
         "dvd+r",
         vendor(0xFB, 0x05),
         3,
         nullptr,
         "stopped"},
        {"smart", {"smart"}, "dvd+r", vendor(0xFB, 0x05), 3, nullptr, "stopped"},
    };
    for (const int signal : {SIGTERM, SIGHUP}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.family) + (signal == SIGTERM ? " SIGTERM" : " SIGHUP"));
            VirtualBus bus;
            emu::VirtualDrive& drive = bus.AddDrive();
            ASSERT_TRUE(drive.Insert(c.disc));
            int seen = 0;
            drive.SetTraceHook([&](const uint8_t* cdb, size_t length, const emu::ScsiOutcome&) {
                if (c.at(Cdb(cdb, cdb + length)) && ++seen == c.nth) std::raise(signal);
            });
            std::vector<std::string> args = c.args;
            args.insert(args.begin(), "--json");
            const CliRun run = RunCliCapture(bus.Drives(), args);
            drive.SetTraceHook(nullptr);
            EXPECT_EQ(run.status, 1) << run.out << run.err;
            const nlohmann::json object = nlohmann::json::parse(run.out);
            EXPECT_EQ(object["error"]["message"], "User abort!");
            if (c.result != nullptr) {
                EXPECT_EQ(object["result"], c.result);
            }
            const std::vector<Cdb> sent = bus.Commands();
            if (c.neverSent) {
                for (const Cdb& cdb : sent) EXPECT_FALSE(c.neverSent(cdb));
            }
            // The command the signal came at is the last of its kind (no further row read of
            // booktype, no further measurement).
            EXPECT_EQ(std::count_if(sent.begin(), sent.end(), c.at), c.nth);
            EXPECT_FALSE(drive.State().vendorMode);
        }
    }
}

}  // namespace
}  // namespace dravix::test
