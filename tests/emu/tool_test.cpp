// dravix-vdrive run in process, and the --virtual preparation of the front ends.

#include <filesystem>
#include <fstream>
#include <sstream>

#include "EmuTestSupport.h"
#include "TempDir.h"
#include "base/InstallLayout.h"
#include "emu/Media.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"
#include "emu/Tool.h"
#include "emu/VirtualSetup.h"

namespace dravix::emu::test {
namespace {

struct ToolResult {
    int exit = -1;
    std::string out;
    std::string err;
};

class ToolTest : public ::testing::Test {
  protected:
    ToolResult Run(std::vector<std::string> args, bool withFile = true) {
        if (withFile) args.insert(args.begin(), {"--file", path});
        std::ostringstream out, err;
        ToolResult result;
        result.exit = RunVdriveTool(args, out, err);
        result.out = out.str();
        result.err = err.str();
        return result;
    }
    DriveState State(size_t drive) {
        auto scenarioOpened = Scenario::Open(path);
        EXPECT_TRUE(scenarioOpened) << scenarioOpened.ErrorText();
        auto scenario = std::move(scenarioOpened).Value();
        return scenario ? scenario->Drive(drive).State() : DriveState{};
    }
    std::string FileText() {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    TempDir dir;
    std::string path = dir.File("vdrive.json");
};

TEST_F(ToolTest, InitCreatesPresetsAndKeepsADamagedFile) {
    ToolResult r = Run({"init", "--preset", "two-drives", path}, false);
    ASSERT_EQ(r.exit, 0) << r.err;
    EXPECT_EQ(State(1).disc->media, "dvd+rw-recorded");
    EXPECT_EQ(Run({"init", "--preset", "minimal"}).exit, 0);
    EXPECT_EQ(Run({"show"}).out.find("Drive 1"), std::string::npos);

    std::ofstream(path) << "{ damaged";
    r = Run({"init"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_NE(r.err.find(path + ": not valid JSON"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("use --force"), std::string::npos);
    EXPECT_EQ(FileText(), "{ damaged");
    EXPECT_EQ(Run({"init", "--force"}).exit, 0);
    EXPECT_EQ(State(0).learnedDiscs.size(), 3u);  // the demo preset
    EXPECT_EQ(Run({"init", "--preset", "huge"}).exit, 2);
}

TEST_F(ToolTest, ExitStatusTellsUsageFromFileProblems) {
    ToolResult r = Run({}, false);
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(r.err, "dravix-vdrive: no command given (see dravix-vdrive help)\n");
    EXPECT_EQ(Run({"--help"}, false).exit, 0);
    EXPECT_EQ(Run({"help", "fault"}, false).out.rfind("Usage: dravix-vdrive [OPTIONS] fault ", 0), 0u);
    EXPECT_EQ(Run({"insert", "--bogus"}).err,
              "dravix-vdrive: unknown option '--bogus' (see dravix-vdrive help insert)\n");

    r = Run({"show"});
    EXPECT_EQ(r.exit, 1);
    EXPECT_EQ(r.err, "dravix-vdrive: " + path + ": no such file (create it with: dravix-vdrive init)\n");

    ASSERT_EQ(Run({"init", "--preset", "minimal"}).exit, 0);
    EXPECT_EQ(Run({"frobnicate"}).exit, 2);
    r = Run({"insert", "dvd+q"});
    EXPECT_EQ(r.exit, 2);
    EXPECT_EQ(
        r.err,
        "dravix-vdrive: unknown media \"dvd+q\"; dravix-vdrive media lists them (see dravix-vdrive help "
        "insert)\n");
    r = Run({"--drive", "3", "eject"});
    EXPECT_EQ(r.exit, 2);
    EXPECT_NE(r.err.find("there is no drive 3"), std::string::npos);
    EXPECT_EQ(Run({"latency", "warp", "5"}).exit, 2);
    EXPECT_EQ(Run({"latency", "tefe", "-5"}).exit, 2);
    EXPECT_EQ(Run({"latency", "vendor", "120001"}).exit, 2);
    EXPECT_EQ(Run({"latency", "vendor", "120000"}).exit, 0);
    EXPECT_EQ(Run({"fault", "add", "00", "check", "02/3A"}).exit, 2);
    EXPECT_EQ(Run({"fault", "add", "100", "busy"}).exit, 2);
    EXPECT_EQ(Run({"set", "booktype", "dvd+r", "1FF"}).exit, 2);
    EXPECT_EQ(Run({"--drive"}, false).exit, 2);
}

TEST_F(ToolTest, FaultSyntax) {
    ASSERT_EQ(Run({"init", "--preset", "minimal"}).exit, 0);
    ASSERT_EQ(
        Run({"fault", "add", "--after", "10", "--once", "fd:fb:05", "--byte", "11=00", "check", "02/3A/00"})
            .exit,
        0);
    ASSERT_EQ(Run({"fault", "add", "fd:*:16", "reply", "070000", "0x01"}).exit, 0);
    ASSERT_EQ(Run({"fault", "add", "FDh:fb", "bad-answer"}).exit, 0);
    ASSERT_EQ(Run({"fault", "add", "0", "timeout"}).exit, 0);
    ASSERT_EQ(Run({"fault", "add", "becoming-ready", "3"}).exit, 0);
    const DriveState s = State(0);
    ASSERT_EQ(s.faults.size(), 4u);
    const FaultRule& first = s.faults[0];
    EXPECT_EQ(first.opcode, 0xFD);
    EXPECT_EQ(first.subCode, uint8_t{0xFB});
    EXPECT_EQ(first.function, uint8_t{0x05});
    EXPECT_EQ(first.bytes, (std::map<uint8_t, uint8_t>{{11, 0x00}}));
    EXPECT_EQ(first.after, 10u);
    EXPECT_TRUE(first.once);
    EXPECT_EQ(first.action, FaultRule::Action::CheckCondition);
    EXPECT_EQ(first.sense, kNoMedium);
    EXPECT_FALSE(s.faults[1].subCode);
    EXPECT_EQ(s.faults[1].function, uint8_t{0x16});
    EXPECT_EQ(s.faults[1].reply, (std::vector<uint8_t>{7, 0, 0, 1}));
    EXPECT_EQ(s.faults[2].answerByte0, 1);
    EXPECT_FALSE(s.faults[3].once);
    EXPECT_EQ(s.becomingReadyCount, 3u);
    EXPECT_NE(Run({"show"}).out.find("fault 0: FDh:FBh:05h byte 11=00h, after 10, once: check 02/3A/00"),
              std::string::npos);

    ASSERT_EQ(Run({"fault", "clear"}).exit, 0);
    EXPECT_TRUE(State(0).faults.empty());
    EXPECT_EQ(State(0).becomingReadyCount, 0u);
}

TEST_F(ToolTest, CommandsWorkOnTheChosenDrive) {
    ASSERT_EQ(Run({"init", "--preset", "two-drives"}).exit, 0);
    // The getopt forms: --opt=value, options after the command.
    ASSERT_EQ(Run({"eject", "--drive=1", "--file=" + path}, false).exit, 0);
    EXPECT_TRUE(State(1).trayOpen);
    EXPECT_FALSE(State(0).trayOpen);
    ASSERT_EQ(Run({"--drive", "1", "insert", "cd-r"}).exit, 0);
    DriveState second = State(1);
    EXPECT_TRUE(second.trayOpen);
    EXPECT_EQ(second.disc->media, "cd-r");
    ASSERT_EQ(Run({"--drive", "1", "load"}).exit, 0);
    EXPECT_EQ(State(1).pendingAttention, 0x28);
    EXPECT_EQ(State(0).disc->media, "dvd+r");

    ASSERT_EQ(Run({"set", "option", "overspeed", "3"}).exit, 0);
    ASSERT_EQ(Run({"set", "booktype", "dvd+r-dl", "01"}).exit, 0);
    ASSERT_EQ(Run({"set", "wopc", "off"}).exit, 0);
    ASSERT_EQ(Run({"set", "region", "DE"}).exit, 0);
    ASSERT_EQ(Run({"latency", "tefe", "40"}).exit, 0);
    // What a benchmark measures, kept in the state file like the rest.
    ASSERT_EQ(Run({"latency", "spindown", "900"}).exit, 0);
    ASSERT_EQ(Run({"set", "interface", "66000"}).exit, 0);
    EXPECT_EQ(Run({"set", "interface", "100"}).exit, 2);
    ASSERT_EQ(Run({"set", "lock", "on"}).exit, 0);
    DriveState first = State(0);
    EXPECT_EQ(first.latencyMs[static_cast<size_t>(LatencyClass::SpinDown)], 900u);
    EXPECT_EQ(first.interfaceKBps, 66000u);
    EXPECT_TRUE(first.mediumLocked);
    EXPECT_EQ(first.options[2].Reported(), 3);
    EXPECT_EQ(first.bookTypes[2], 0x01);
    EXPECT_TRUE(first.wopcDisabled);
    EXPECT_EQ(first.regionMask, 0xDE);
    EXPECT_EQ(first.latencyMs[static_cast<size_t>(LatencyClass::TeFe)], 40u);

    ASSERT_EQ(Run({"restart"}).exit, 0);
    first = State(0);
    EXPECT_EQ(first.options[2].Reported(), 0);
    EXPECT_FALSE(first.mediumLocked);  // a power cycle lets the disc go
    EXPECT_EQ(first.bookTypes[2], 0x01);
    ASSERT_EQ(Run({"remove"}).exit, 0);
    EXPECT_FALSE(State(0).disc);

    ASSERT_EQ(Run({"add-drive", "old-firmware"}).exit, 0);
    const ToolResult shown = Run({"show"});
    EXPECT_NE(shown.out.find("Drive 2 (target 2): \"ZARN\" \"DVD-RW ZR1240A\" \"0.98\" (old-firmware)"),
              std::string::npos);
    // Taking out the middle drive moves the last one up in the list, at its own target; the next
    // drive added takes the target left free. A drive that is not there is a usage error.
    EXPECT_EQ(
        Run({"--drive", "1", "remove-drive"}).out,
        "Removed drive 1 (target 1); the drives after it move up in the list and keep their targets.\n");
    const std::string left = Run({"show"}).out;
    EXPECT_NE(left.find("Drive 1 (target 2): \"ZARN\" \"DVD-RW ZR1240A\" \"0.98\" (old-firmware)"),
              std::string::npos);
    EXPECT_EQ(left.find("Drive 2 "), std::string::npos);
    EXPECT_EQ(Run({"--drive", "2", "remove-drive"}).exit, 2);
    EXPECT_EQ(Run({"add-drive", "maker"}).out, "Added drive 2 (target 1).\n");
    // One medium a line: its name, then at least two spaces, then its description.
    std::istringstream media(Run({"media"}).out);
    size_t listed = 0;
    for (std::string line; std::getline(media, line); ++listed) {
        const size_t gap = line.find("  ");
        ASSERT_NE(gap, std::string::npos) << line;
        EXPECT_NE(FindMedia(line.substr(0, gap)), nullptr) << line;
        EXPECT_NE(line.find_first_not_of(' ', gap), std::string::npos) << line;
    }
    EXPECT_EQ(listed, MediaCatalogue().size());
}

class VirtualSetupTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char* name : {kStateFileVariable, "DRAVIX_ASPI_LIBRARY"}) {
            const char* value = std::getenv(name);
            m_saved.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
        }
        ::setenv(kStateFileVariable, path.c_str(), 1);
        ::unsetenv("DRAVIX_ASPI_LIBRARY");
    }
    void TearDown() override {
        for (const auto& [name, value] : m_saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

    TempDir dir;
    std::string path = dir.File("state/vdrive.json");
    std::string libraryDirectory = std::filesystem::path(DRAVIX_VDRIVE_LIBRARY).parent_path().string();

  private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

TEST_F(VirtualSetupTest, CreatesTheDemoFileAndPointsAtTheLibrary) {
    EXPECT_EQ(PrepareVirtualDrive(libraryDirectory).ErrorText(), "");
    EXPECT_EQ(std::string(std::getenv("DRAVIX_ASPI_LIBRARY")), libraryDirectory + "/libdravix-vdrive.so");
    auto scenarioOpened = Scenario::Open(path);
    ASSERT_TRUE(scenarioOpened) << scenarioOpened.ErrorText();
    auto scenario = std::move(scenarioOpened).Value();
    EXPECT_EQ(scenario->States(), PresetDrives(Preset::Demo));

    // An existing file is used as it is.
    scenario->Drive(0).SetRegionMask(0x00);
    EXPECT_TRUE(PrepareVirtualDrive(libraryDirectory).Ok());
    EXPECT_EQ(Scenario::Open(path).Value()->Drive(0).State().regionMask, 0x00);
}

TEST_F(VirtualSetupTest, ReportsADamagedFileOrAMissingLibrary) {
    std::filesystem::create_directories(dir.File("state"));
    std::ofstream(path) << "[]";
    EXPECT_EQ(PrepareVirtualDrive(libraryDirectory).ErrorText(), path + ": expected an object");
    EXPECT_EQ(std::getenv("DRAVIX_ASPI_LIBRARY"), nullptr);
    const std::string bin = dir.File("bin");
    std::filesystem::create_directories(bin);
    const std::string installed =
        std::filesystem::path(bin + "/" + InstalledLibraryDirectory()).lexically_normal();
    EXPECT_EQ(PrepareVirtualDrive(bin).ErrorText(),
              "libdravix-vdrive.so: the virtual drive library is missing (looked in " + bin + " and " +
                  installed + ")");
}

TEST_F(VirtualSetupTest, FindsTheLibraryOfAnInstalledTree) {
    // bin/ beside the private library folder, as the package installs them.
    const std::string bin = dir.File("usr/bin");
    const std::filesystem::path installed = std::filesystem::path(bin) / InstalledLibraryDirectory();
    std::filesystem::create_directories(bin);
    std::filesystem::create_directories(installed);
    ASSERT_FALSE(std::filesystem::equivalent(installed, bin));
    std::filesystem::copy_file(DRAVIX_VDRIVE_LIBRARY, installed / kVirtualDriveLibraryName);
    EXPECT_EQ(PrepareVirtualDrive(bin).ErrorText(), "");
    EXPECT_EQ(std::string(std::getenv("DRAVIX_ASPI_LIBRARY")),
              (installed / kVirtualDriveLibraryName).lexically_normal().string());
}

}  // namespace
}  // namespace dravix::emu::test
