// dravix-cli readtest on the virtual drive: the exit statuses in one table, what the terminal
// shows of unreadable and differing sectors, any maker's drive, Ctrl+C, and the results file
// written after the run.

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "emu/Media.h"
#include "probix/ReadTestFile.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

// A drive whose reads take a hundredth of their modelled time, so that a run of a thousand
// sectors is quick and still timed.
emu::VirtualDrive& QuickDrive(VirtualBus& bus, const char* media,
                              emu::DriveKind kind = emu::DriveKind::Maker) {
    emu::VirtualDrive& drive = bus.AddDrive(kind);
    drive.SetMicrosecondSleeper(
        [](uint64_t us) { std::this_thread::sleep_for(std::chrono::microseconds(us / 100)); });
    if (media) drive.Insert(media);
    return drive;
}

class ReadTestCli : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("DRAVIX_ASPI_LIBRARY");
        m_dir = std::filesystem::temp_directory_path() /
                ("dravix-readtest-cli-" + std::to_string(::getpid()) + "-" +
                 ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(m_dir);
    }
    void TearDown() override { std::filesystem::remove_all(m_dir); }

    std::string Path(const char* name) const { return (m_dir / name).string(); }

    // The first `sectors` sectors of a medium as an image file, with `changed` sectors altered.
    std::string Image(const char* media, uint32_t sectors, std::vector<uint32_t> changed = {}) {
        const std::string path = Path(changed.empty() ? "same.iso" : "changed.iso");
        std::ofstream file(path, std::ios::binary);
        std::vector<uint8_t> sector(2048);
        for (uint32_t lba = 0; lba < sectors; ++lba) {
            emu::FillSector(*emu::FindMedia(media), lba, sector.data());
            if (std::find(changed.begin(), changed.end(), lba) != changed.end()) sector[100] ^= 0x5A;
            file.write(reinterpret_cast<const char*>(sector.data()), 2048);
        }
        return path;
    }

    std::filesystem::path m_dir;
};

TEST_F(ReadTestCli, ExitStatusesTellWhatTheReadFound) {
    const std::vector<std::string> range = {"readtest", "--start", "0", "--end", "999"};
    auto with = [&](std::vector<std::string> more) {
        std::vector<std::string> args = range;
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    struct Case {
        std::string name;
        std::function<std::vector<std::string>()> args;
        std::function<void(VirtualBus&)> setup;
        int status;
        std::string shown;  // a line the terminal shows
    };
    const Case cases[] = {
        {"all read", [&] { return range; }, [](VirtualBus& b) { QuickDrive(b, "dvd-rom"); }, 0,
         "All sectors read."},
        {"unreadable sectors", [&] { return range; },
         [](VirtualBus& b) {
             QuickDrive(b, "dvd-rom").AddDamage({100, 4});
         },
         4, "unreadable: LBA 100-103 (4), sense 03/11/00"},
        {"the image matches",
         [&] {
             return with({"--verify", Image("dvd-rom", 1000)});
         },
         [](VirtualBus& b) { QuickDrive(b, "dvd-rom"); }, 0, "The disc matches the image."},
        {"the image differs",
         [&] {
             return with({"--verify", Image("dvd-rom", 1000, {10, 11, 700})});
         },
         [](VirtualBus& b) { QuickDrive(b, "dvd-rom"); }, 4, "differs: LBA 10-11 (2)"},
        // Nothing differs, but the image ends before the range does: the disc is not shown to
        // match it.
        {"the image ends inside the range",
         [&] {
             return with({"--verify", Image("dvd-rom", 600)});
         },
         [](VirtualBus& b) { QuickDrive(b, "dvd-rom"); }, 4,
         "600 of 1000 sectors compared: the image ends at LBA 599; the rest had nothing to compare against."},
        {"a verify of quick zones",
         [&] {
             return std::vector<std::string>{"readtest", "--quick", "--verify", Image("dvd-rom", 10)};
         },
         [](VirtualBus& b) { QuickDrive(b, "dvd-rom"); }, 2, ""},
        {"access times",
         [] {
             return std::vector<std::string>{"readtest", "--mode", "seek"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom"); }, 0, "access random: "},
        // No vendor command: a drive of another maker is read as well.
        {"another maker's drive", [&] { return range; },
         [](VirtualBus& b) { QuickDrive(b, "dvd+r-recorded", emu::DriveKind::OtherMaker); }, 0,
         "All sectors read."},
        {"no disc", [&] { return range; }, [](VirtualBus& b) { QuickDrive(b, nullptr); }, 3, ""},
        {"a blank disc", [&] { return range; }, [](VirtualBus& b) { QuickDrive(b, "dvd+r"); }, 3, ""},
        {"no such drive",
         [] {
             return std::vector<std::string>{"--drive", "4", "readtest"};
         },
         [](VirtualBus& b) { QuickDrive(b, "dvd-rom"); }, 3, ""},
        {"a range beyond the disc",
         [] {
             return std::vector<std::string>{"readtest", "--start", "400000"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom"); }, 2, ""},
        {"quick and a range",
         [] {
             return std::vector<std::string>{"readtest", "--quick", "--start", "5"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom"); }, 2, ""},
        {"a speed that is none",
         [] {
             return std::vector<std::string>{"readtest", "--speed", "fast"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom"); }, 2, ""},
        // A benchmark: one table of every figure; eject and load only when the user agreed.
        {"a benchmark",
         [] {
             return std::vector<std::string>{"readtest", "--mode", "benchmark"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom"); }, 0, "  burst rate"},
        {"eject and load without --yes or a terminal",
         [] {
             return std::vector<std::string>{"readtest", "--mode", "benchmark", "--load-eject"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom"); }, 2, ""},
        {"eject and load with --yes",
         [] {
             return std::vector<std::string>{"--yes", "readtest", "--mode", "benchmark", "--load-eject"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom"); }, 0, "  load time"},
        {"a tray another program holds",
         [] {
             return std::vector<std::string>{"--yes", "readtest", "--mode", "benchmark", "--load-eject"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom").SetMediumLocked(true); }, 0,
         "The drive refused to open its tray: another program may be using the drive."},
        {"eject and load in another test",
         [] {
             return std::vector<std::string>{"--yes", "readtest", "--load-eject"};
         },
         [](VirtualBus& b) { QuickDrive(b, "cd-rom"); }, 2, ""},
        {"an image that is missing",
         [&] {
             return with({"--verify", Path("missing.iso")});
         },
         [](VirtualBus& b) { QuickDrive(b, "dvd-rom"); }, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        VirtualBus bus;
        c.setup(bus);
        const CliRun run = RunCliCapture(bus.Drives(), c.args());
        EXPECT_EQ(run.status, c.status) << run.out << run.err;
        if (!c.shown.empty()) {
            EXPECT_NE(run.out.find(c.shown), std::string::npos) << run.out;
        }
        EXPECT_EQ(bus.CountOpcode(0xFD), 0u);  // never a vendor command
        // Arguments and files are checked before the drive is touched.
        if (c.status == 2 || c.status == 1) {
            EXPECT_EQ(bus.CountOpcode(0x28), 0u);
        }
    }
}

// Ctrl+C while a read is at the drive: what was read is written at once, and the command ends when
// that read returns.
TEST_F(ReadTestCli, CtrlCKeepsWhatWasReadWithoutWaitingForTheReadAtTheDrive) {
    VirtualBus bus;
    emu::VirtualDrive& drive = QuickDrive(bus, "dvd-rom");
    const std::string csv = Path("stopped.csv");
    int reads = 0;
    bool writtenMeanwhile = false;
    drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) {
        if (cdb[0] != 0x28 || ++reads != 10) return;
        std::raise(SIGINT);
        // The read is held here, at the drive, until the results file is there.
        for (int wait = 0; wait < 2000 && !writtenMeanwhile; ++wait) {
            writtenMeanwhile = std::filesystem::exists(csv);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const CliRun run =
        RunCliCapture(bus.Drives(), {"readtest", "--start", "0", "--end", "9999", "--csv", csv});
    drive.SetTraceHook(nullptr);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("User abort!"), std::string::npos) << run.err;
    EXPECT_TRUE(writtenMeanwhile);
    EXPECT_EQ(reads, 10);  // the request at the drive was the last

    std::ifstream in(csv);
    const ReadTestRead read = ReadReadTest(in, csv);
    ASSERT_TRUE(read.record) << read.error;
    EXPECT_EQ(read.record->result.end, ReadTestEnd::Stopped);
    EXPECT_EQ(read.record->result.readSectors, 9u * 32);
}

}  // namespace
}  // namespace dravix::test
