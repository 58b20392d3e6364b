// Where the command line writes: output files checked before the first drive command and made
// only after a run that measured something; progress on standard error only.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "emu/Scenario.h"
#include "export/ImageContainer.h"
#include "probix/ResultsFile.h"
#include "probix/ResultsFileReader.h"
#include "tests/support/CliRunner.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

namespace fs = std::filesystem;

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

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
    ASSERT_EQ(::mkfifo(Path("fifo.csv").c_str(), 0600), 0);
    fs::create_directories(Path("locked"));
    std::ofstream(Path("locked/old.csv")) << "old";
    fs::permissions(Path("locked"), fs::perms::owner_read | fs::perms::owner_exec);
    auto cannotWrite = [](const std::string& path, const std::string& why) {
        return "cannot write '" + path + "': " + why;
    };
    auto notRegular = [](const std::string& path) {
        return "'" + path + "' is not a regular file; choose another name.";
    };
    const struct {
        const char* option;
        std::string path;
        int status;
        std::string message;
        bool asRoot;  // root writes into a read-only folder anyway
        bool asUser = true;
    } cases[] = {
        {"--csv", Path("missing/x.csv"), 1,
         cannotWrite(Path("missing/x.csv"), "the folder '" + Path("missing") + "' does not exist"), true},
        {"--csv", Path("plain/x.csv"), 1,
         cannotWrite(Path("plain/x.csv"), "'" + Path("plain") + "' is not a folder"), true},
        {"--image", Path("folder.png"), 2, notRegular(Path("folder.png")), true},
        {"--csv", Path("fifo.csv"), 2, notRegular(Path("fifo.csv")), true},
        {"--csv", Path("locked/old.csv"), 1,
         cannotWrite(Path("locked/old.csv"), "the folder '" + Path("locked") + "' is not writable"), false},
        // A folder that is there but takes no new files (for a user it is read-only).
        {"--csv", "/proc/version", 1,
         cannotWrite("/proc/version", "no file can be made in the folder '/proc'"), true, false},
    };
    ASSERT_TRUE(drive.Insert("dvd+r"));
    bus.ClearCommands();
    for (const auto& c : cases) {
        if (::geteuid() == 0 ? !c.asRoot : !c.asUser) continue;
        SCOPED_TRACE(c.path);
        const CliRun run = RunCliCapture(bus.Drives(), {"scan", "--speed", "4X", c.option, c.path});
        EXPECT_EQ(run.status, c.status);
        EXPECT_EQ(run.err, "dravix-cli: " + c.message + "\n");
    }
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_TRUE(fs::is_fifo(Path("fifo.csv")));
    fs::permissions(Path("locked"), fs::perms::owner_all);
}

// What the program writes (a picture, a results file, a report, the virtual drive's state file)
// never destroys a file: a write that fails leaves the target as it was and no temporary file, a
// name that stands for no regular file is refused, and an input that is a FIFO fails at once.
TEST_F(Output, SaveFailuresLeaveTheTargetAsItWas) {
    ASSERT_TRUE(drive.Insert("dvd+r"));
    const std::string csv = Path("input.csv");
    ASSERT_EQ(RunCliCapture(bus.Drives(), {"scan", "--speed", "8X", "--mode", "quick", "--csv", csv}).status,
              0);
    ImageContainer picture;
    ASSERT_TRUE(picture.Create(8, 8, 24));
    ASSERT_TRUE(picture.Save(Path("input.bmp"), ImageType::kBmp));
    emu::Scenario scenario(emu::Preset::Minimal);
    ASSERT_EQ(scenario.BindToFile(Path("input.json")).ErrorText(), "");

    struct Written {
        bool ok = false;
        std::string message;
        int status = -1;  // the command line's, for the writers run through it
    };
    auto command = [this](std::vector<std::string> args) {
        const CliRun run = RunCliCapture(bus.Drives(), std::move(args));
        return Written{run.status == 0, run.err, run.status};
    };
    const struct {
        const char* name;
        std::string input;
        const char* extension;
        std::function<Written(const std::string& input, const std::string& target)> write;
    } writers[] = {
        {"image", Path("input.bmp"), ".bmp",
         [&](const std::string& in, const std::string& target) {
             return command({"convert", in, target});
         }},
        {"results file", csv, ".csv",
         [](const std::string& in, const std::string& target) {
             const ResultsRead read = ReadResultsFile(in);
             if (!read.results) return Written{false, read.error};
             const Result<void> saved = SaveResultsFile(target, *read.results);
             return Written{saved.Ok(), saved.ErrorText()};
         }},
        {"smart's results file", "", ".csv",
         [&](const std::string&, const std::string& target) {
             return command({"smart", "--csv", target});
         }},
        {"report", csv, ".html",
         [&](const std::string& in, const std::string& target) {
             return command({"report", in, "-o", target});
         }},
        {"state file", Path("input.json"), ".json",
         [](const std::string& in, const std::string& target) {
             const auto opened = emu::Scenario::Open(in);
             if (!opened) return Written{false, opened.ErrorText()};
             const Result<void> bound = (*opened)->BindToFile(target);
             return Written{bound.Ok(), bound.ErrorText()};
         }},
    };

    enum class Scene {
        FullDisk,
        LinkedPartName,
        LongName,
        Fifo,
        LinkToFifo,
        Device,
        Folder,
        FifoInput,
        ReadOnlyFolder
    };
    const struct {
        const char* name;
        Scene scene;
        bool written;
    } cases[] = {
        {"a full disk", Scene::FullDisk, false},
        {"the old temporary name linked to another file", Scene::LinkedPartName, true},
        {"a name of 255 bytes", Scene::LongName, true},
        {"a FIFO", Scene::Fifo, false},
        {"a link to a FIFO", Scene::LinkToFifo, false},
        {"a device", Scene::Device, false},
        {"a folder", Scene::Folder, false},
        {"an input that is a FIFO", Scene::FifoInput, false},
        {"an existing file in a read-only folder", Scene::ReadOnlyFolder, false},
    };
    const std::string precious = "precious\n";
    int n = 0;
    for (const auto& c : cases) {
        if (c.scene == Scene::ReadOnlyFolder && ::geteuid() == 0) continue;
        for (const auto& w : writers) {
            if (c.scene == Scene::FifoInput && w.input.empty()) continue;  // it reads no file
            SCOPED_TRACE(std::string(w.name) + ", " + c.name);
            const fs::path folder = dir / ("case" + std::to_string(++n));
            fs::create_directories(folder);
            const std::string stem =
                c.scene == Scene::LongName ? std::string(255 - std::strlen(w.extension), 'n') : "out";
            const std::string target = (folder / (stem + w.extension)).string();
            std::string input = w.input;
            // What must be as it was afterwards: the target, unless the scene names another file.
            std::function<bool()> unchanged = [&] { return ReadText(target) == precious; };
            if (c.scene != Scene::Fifo && c.scene != Scene::LinkToFifo && c.scene != Scene::Device &&
                c.scene != Scene::Folder)
                std::ofstream(target) << precious;
            switch (c.scene) {
                case Scene::LinkedPartName: {
                    const std::string victim = (folder / "victim").string();
                    std::ofstream(victim) << precious;
                    fs::create_symlink(victim, target + ".part");
                    unchanged = [victim, &precious] { return ReadText(victim) == precious; };
                    break;
                }
                case Scene::LongName:
                    unchanged = [&] { return ReadText(target) != precious && !ReadText(target).empty(); };
                    break;
                case Scene::Fifo:
                    ASSERT_EQ(::mkfifo(target.c_str(), 0600), 0);
                    unchanged = [&] { return fs::is_fifo(fs::symlink_status(target)); };
                    break;
                case Scene::LinkToFifo:
                    ASSERT_EQ(::mkfifo((folder / "fifo").c_str(), 0600), 0);
                    fs::create_symlink(folder / "fifo", target);
                    unchanged = [&] { return fs::is_symlink(target) && fs::is_fifo(folder / "fifo"); };
                    break;
                case Scene::Device:
                    // The null device's numbers, in the test's own folder.
                    if (::mknod(target.c_str(), S_IFCHR | 0600, makedev(1, 3)) != 0) continue;
                    unchanged = [&] { return fs::is_character_file(fs::symlink_status(target)); };
                    break;
                case Scene::Folder:
                    fs::create_directories(target);
                    std::ofstream(target + "/inside") << precious;
                    unchanged = [&] { return ReadText(target + "/inside") == precious; };
                    break;
                case Scene::FifoInput:
                    input = (folder / ("input" + fs::path(w.input).extension().string())).string();
                    ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
                    break;
                case Scene::ReadOnlyFolder:
                    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
                    break;
                default:
                    break;
            }

            Written written;
            if (c.scene == Scene::FullDisk) {
                const FileSizeLimit full(precious.size());
                ASSERT_TRUE(full.Set());
                written = w.write(input, target);
            } else {
                written = w.write(input, target);
            }
            fs::permissions(folder, fs::perms::owner_all);

            EXPECT_EQ(written.ok, c.written) << written.message;
            EXPECT_TRUE(unchanged());
            const bool refusedName = c.scene == Scene::Fifo || c.scene == Scene::LinkToFifo ||
                                     c.scene == Scene::Device || c.scene == Scene::Folder;
            if (refusedName) {
                EXPECT_NE(written.message.find("not a regular file"), std::string::npos) << written.message;
                if (written.status != -1) {
                    EXPECT_EQ(written.status, 2);
                }
            }
            for (const auto& entry : fs::directory_iterator(folder))
                EXPECT_NE(entry.path().filename().string().rfind(".dravix-", 0), 0u) << entry.path();
        }
    }
}
// No output of a command is one of its inputs or another of its outputs: the same file by any
// name (a hard link, a symbolic link, another spelling), or a name not made yet. Each is refused
// before anything is read or sent to the drive, and the file named stays byte for byte as it was.
TEST_F(Output, NoOutputIsAnInputOrAnotherOutput) {
    for (const char* name : {"disc.iso", "a.csv", "b.png", "chart.bmp", "state.json"})
        std::ofstream(Path(name)) << "precious\n";
    fs::create_hard_link(Path("disc.iso"), Path("disc-link.png"));
    fs::create_symlink(Path("a.csv"), Path("a-link.png"));
    fs::create_directories(dir / "sub");
    const std::string notMade = (dir / "sub" / ".." / "new.png").string();
    const std::string iso = Path("disc.iso"), bmp = Path("chart.bmp"), state = Path("state.json");
    const char* input = "an input";
    const char* results = "the results file";
    const struct {
        std::vector<std::string> args;
        std::string target;  // the file that must stay as it was (none for a name not made yet)
        std::string refused;
        const char* is;
    } cases[] = {
        {{"readtest", "--verify", iso, "--csv", iso}, iso, iso, input},
        {{"readtest", "--verify", iso, "--image", Path("disc-link.png")}, iso, Path("disc-link.png"), input},
        {{"readtest", "--csv", bmp, "--image", bmp}, bmp, bmp, results},
        {{"scan", "--speed", "8X", "--image", bmp, "--csv", Path("./chart.bmp")}, bmp, bmp, results},
        {{"scan", "--speed", "8X", "--csv", Path("new.png"), "--image", notMade}, "", notMade, results},
        {{"smart", "--csv", state}, state, state, input},
        {{"compare", Path("a.csv"), Path("b.png"), "--image", Path("a-link.png")},
         Path("a.csv"),
         Path("a-link.png"),
         input},
        {{"report", Path("a.csv"), Path("b.png"), "-o", Path("b.png")}, Path("b.png"), Path("b.png"), input},
        {{"report", Path("missing.csv"), "-o", Path("missing.csv")}, "", Path("missing.csv"), input},
        {{"convert", bmp, bmp}, bmp, bmp, input},
    };
    ASSERT_TRUE(drive.Insert("dvd+r-recorded"));
    bus.ClearCommands();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + c.refused);
        // The virtual drive's state file is read and written while the drive is in use.
        if (c.target == state) {
            setenv("DRAVIX_ASPI_LIBRARY", Path("libdravix-vdrive.so").c_str(), 1);
            setenv("DRAVIX_VDRIVE_STATE", state.c_str(), 1);
        }
        const CliRun run = RunCliCapture(bus.Drives(), c.args);
        unsetenv("DRAVIX_ASPI_LIBRARY");
        unsetenv("DRAVIX_VDRIVE_STATE");
        EXPECT_EQ(run.status, 2);
        EXPECT_EQ(run.err, "dravix-cli: '" + c.refused + "' is also " + c.is +
                               " of this command; choose another name.\n");
        if (!c.target.empty()) {
            EXPECT_EQ(ReadText(c.target), "precious\n");
        }
        EXPECT_FALSE(fs::exists(Path("new.png")) || fs::exists(Path("missing.csv")));
    }
    EXPECT_TRUE(bus.Commands().empty());
    EXPECT_TRUE(fs::is_symlink(Path("a-link.png")));
}

// One rule for every measuring command, however its run ended (a failure, Ctrl+C, and so a reader
// of standard output that went away, which stops a run the same way): a run that measured nothing
// writes no file and leaves an older one as it was (a stopped run that measured keeps it: see
// the read test's Ctrl+C test).
TEST_F(Output, ARunThatMeasuredNothingLeavesNoFile) {
    const std::string csv = Path("results.csv");
    using Stop = std::function<bool(const uint8_t*)>;
    const Stop vendorScan = [](const uint8_t* c) { return c[0] == 0xFD && c[1] == 0xFB; };
    const Stop trackInfo = [](const uint8_t* c) { return c[0] == 0x52; };
    emu::FaultRule reference;
    reference.opcode = 0xFD;
    reference.subCode = 0xFB;
    reference.bytes = {{11, 0x03}};
    reference.sense = emu::kNoMedium;
    const struct {
        std::vector<std::string> args;
        const char* disc;  // none: the drive is empty (the run never starts: no note)
        Stop stopAt;       // Ctrl+C as the drive answers it; none: the references fail
        int status;
        const char* nothing;
    } cases[] = {
        {{"scan", "--speed", "4X"}, nullptr, vendorScan, 3, nullptr},
        {{"scan", "--speed", "4X"}, "dvd+r", nullptr, 1, "measured"},
        {{"scan", "--speed", "4X"}, "dvd+r", vendorScan, 1, "measured"},
        {{"smart"}, "dvd+r", vendorScan, 1, "measured"},
        {{"readtest"}, "dvd+r-recorded", trackInfo, 1, "read"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.front() + " " + (c.disc ? c.disc : "no disc"));
        std::ofstream(csv) << "older\n";
        drive.ClearFaults();
        if (!c.stopAt) drive.AddFault(reference);
        c.disc ? static_cast<void>(drive.Insert(c.disc)) : drive.RemoveDisc();
        drive.SetTraceHook([&, stopped = false](const uint8_t* cdb, size_t, const emu::ScsiOutcome&) mutable {
            if (c.stopAt && !stopped && c.stopAt(cdb)) stopped = std::raise(SIGINT) == 0;
        });
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--csv", csv});
        const CliRun run = RunCliCapture(bus.Drives(), args);
        drive.SetTraceHook(nullptr);
        EXPECT_EQ(run.status, c.status) << run.err;
        EXPECT_EQ(ReadText(csv), "older\n");
        const std::string note = "'" + csv + "' was not written: nothing was " + (c.nothing ? c.nothing : "");
        EXPECT_EQ(run.err.find(note) != std::string::npos, c.nothing != nullptr) << run.err;
    }
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
        const CliRun run = RunCliCapture(bus.Drives(), c.args);
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
