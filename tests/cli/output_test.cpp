// Where the command line writes: output files checked before the first drive command and made
// only after a run that measured something; progress on standard error only.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

namespace fs = std::filesystem;

struct Output : ::testing::Test {
    void SetUp() override {
        unsetenv("DRAVIX_ASPI_LIBRARY");
        dir =
            fs::path(::testing::TempDir()) /
            ("dravix-output-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Path(const char* name) const { return (dir / name).string(); }

    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
    fs::path dir;
};

TEST_F(Output, AFileThatCannotBeWrittenStopsTheScanBeforeTheDrive) {
    fs::create_directories(Path("folder.png"));
    std::ofstream(Path("plain")) << "x";
    const struct {
        const char* option;
        std::string path;
        std::string why;
    } cases[] = {
        {"--csv", Path("missing/x.csv"), "the folder '" + Path("missing") + "' does not exist"},
        {"--csv", Path("plain/x.csv"), "'" + Path("plain") + "' is not a folder"},
        {"--image", Path("folder.png"), "it is a folder"},
    };
    ASSERT_TRUE(drive.Insert("dvd+r"));
    bus.ClearCommands();
    for (const auto& c : cases) {
        const CliRun run = RunCliCapture({"scan", "--speed", "4X", c.option, c.path});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "dravix-cli: cannot write '" + c.path + "': " + c.why + "\n");
    }
    EXPECT_TRUE(bus.Commands().empty());
}

TEST_F(Output, ARunThatMeasuredNothingLeavesNoFile) {
    const std::string csv = Path("scan.csv");
    EXPECT_EQ(RunCliCapture({"scan", "--speed", "4X", "--csv", csv}).status, 3);  // no disc
    EXPECT_FALSE(fs::exists(csv));

    ASSERT_TRUE(drive.Insert("dvd+r"));
    emu::FaultRule reference;
    reference.opcode = 0xFD;
    reference.subCode = 0xFB;
    reference.bytes = {{11, 0x03}};
    reference.sense = emu::kNoMedium;
    drive.AddFault(reference);
    const CliRun failed = RunCliCapture({"scan", "--speed", "4X", "--csv", csv});
    EXPECT_EQ(failed.status, 1);
    EXPECT_FALSE(fs::exists(csv));
    EXPECT_NE(failed.err.find("'" + csv + "' was not written: nothing was measured"), std::string::npos);
}

TEST_F(Output, ProgressGoesToStandardErrorWhenAskedForAndNeverToStandardOutput) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    const struct {
        std::vector<std::string> args;
        const char* shown;  // a line of the progress, null when none may show
    } cases[] = {
        {{"--progress", "scan", "--speed", "8X", "--mode", "quick"},
         "8X  LBA 2271437  sample 19/19  elapsed "},
        {{"--progress", "--json", "smart"}, "16X (7 of 7)  sample 8/9  elapsed "},
        {{"--progress", "--quiet", "smart"}, nullptr},
        {{"scan", "--speed", "8X", "--mode", "quick"}, nullptr},  // standard error is no terminal
    };
    for (const auto& c : cases) {
        const CliRun run = RunCliCapture(c.args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out.find("elapsed"), std::string::npos);
        if (c.shown) {
            EXPECT_NE(run.err.find(c.shown), std::string::npos) << run.err;
            EXPECT_NE(run.err.find("  left "), std::string::npos);
        } else {
            EXPECT_EQ(run.err.find("elapsed"), std::string::npos) << run.err;
        }
    }
}

}  // namespace
}  // namespace dravix::test
