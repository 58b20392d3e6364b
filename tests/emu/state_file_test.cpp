// The state file: its format, its messages, and scenarios (in one or several processes) that
// share it.

#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "EmuTestSupport.h"
#include "TempDir.h"
#include "emu/Media.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"
#include "tests/support/FileSizeLimit.h"

extern char** environ;

namespace dravix::emu::test {
namespace {

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream(path) << text;
}

DriveState BusyState() {
    DriveState s = FactoryState(DriveKind::OldFirmware);
    s.target = 5;
    s.product = "ODD PRODUCT";
    s.featureCodes = {7, 1};
    s.bufferKiB = 1234;
    s.regionMask = 0x5A;
    s.bookTypes = {0x01, 0x92, 0xE1};
    s.options[0].Write(3);
    s.options[2].Write(2);
    s.learnedDiscs = {"ABC", "123456789012"};
    s.testWrite = true;
    s.vendorMode = true;
    s.trayOpen = true;
    s.disc = Disc{"dvd-r", 0x25, 4096};
    s.writeStrategy = WriteStrategy::Marginal;
    s.ignoresSimulation = true;
    s.writeParameters = WriteParameters{true, 2, 8};
    s.writeSpeedLimitKBps = 5540;
    s.pendingAttention = 0x29;
    s.readyAtMs = 1'700'000'000'123;
    s.becomingReadyCount = 4;
    s.latencyMs = {1, 2, 3, 4, 5};
    FaultRule rule;
    rule.opcode = 0xFD;
    rule.subCode = 0xFB;
    rule.function = 0x05;
    rule.bytes = {{11, 0x03}, {7, 0x02}};
    rule.after = 9;
    rule.once = true;
    rule.action = FaultRule::Action::Reply;
    rule.reply = {7, 0, 7};
    rule.seen = 3;
    s.faults = {rule, FaultRule{}};
    s.readModel = ReadSpeedModel::Clv;
    s.readSpeedLimitKBps = 5540;
    s.damage = {{100, 5}, {2000, 1}};
    return s;
}

TEST(StateText, RoundTripKeepsEveryField) {
    const std::vector<DriveState> drives{BusyState(), FactoryState(DriveKind::OtherMaker)};
    const Result<std::vector<DriveState>> back = StateFromText(StateToText(drives));
    ASSERT_TRUE(back) << back.ErrorText();
    EXPECT_EQ(*back, drives);
}

TEST(StateText, MissingKeysTakeTheFactoryValues) {
    const Result<std::vector<DriveState>> parsed =
        StateFromText(R"({"format": "dravix-vdrive-state", "version": 1,
                          "drives": [{"kind": "old-firmware", "disc": {"media": "dvd+r"}}]})");
    ASSERT_TRUE(parsed) << parsed.ErrorText();
    const std::vector<DriveState>& drives = *parsed;
    ASSERT_EQ(drives.size(), 1u);
    DriveState expected = FactoryState(DriveKind::OldFirmware);
    expected.disc = Disc{"dvd+r", 0xA1};
    EXPECT_EQ(drives[0], expected);
}

TEST(StateText, ProblemsNameThePlaceAndWhatIsWrong) {
    const std::string head = R"({"format": "dravix-vdrive-state", "version": 1, "drives": [)";
    const std::pair<std::string, std::string> cases[] = {
        {"{", "not valid JSON: parse error at line 1, column 2"},
        {R"({"format": "other", "version": 1, "drives": []})", "format: expected \"dravix-vdrive-state\""},
        {R"({"format": "dravix-vdrive-state", "version": 2, "drives": []})",
         "version: this program reads version 1"},
        {head + R"({"bookTyps": {}}]})", "drives[0].bookTyps: unknown key"},
        {head + R"({}, {"bookTypes": {"dvd+r": 300}}]})",
         "drives[1].bookTypes.dvd+r: expected a number from 0 to 255"},
        {head + R"({"disc": {"media": "dvd+q"}}]})", "drives[0].disc.media: unknown media \"dvd+q\""},
        {head + R"({"learnedDiscs": ["1234567890123"]}]})",
         "drives[0]: learned disc identifiers must be up to 12"},
        {head + R"({"faults": [{"opcode": 0, "action": "explode"}]}]})",
         "drives[0].faults[0].action: expected check"},
        {head + R"({"faults": [{"opcode": 0, "bytes": {"16": 1}}]}]})",
         "drives[0].faults[0].bytes.16: a CDB byte index"},
        {head + R"({"tray": 1}]})", "drives[0].tray: expected a text"},
        {head + R"({"latencyMs": {"vendor": 120001}}]})",
         "drives[0].latencyMs.vendor: expected a number from 0 to 120000"},
        {head + R"({"target": 8}]})", "drives[0].target: expected a number from 0 to 7"},
        {head + R"({"target": 3}, {}, {"target": 3}]})", "drives[2].target: target 3 is drive 0's already"},
    };
    for (const auto& [text, expected] : cases) {
        const Result<std::vector<DriveState>> parsed = StateFromText(text);
        EXPECT_FALSE(parsed) << text;
        EXPECT_EQ(parsed.ErrorText().rfind(expected, 0), 0u) << "got: " << parsed.ErrorText();
    }
}

TEST(StateFilePath, EnvironmentChoosesTheFile) {
    struct Restore {
        std::string names[3] = {"DRAVIX_VDRIVE_STATE", "XDG_STATE_HOME", "HOME"};
        std::optional<std::string> values[3];
        Restore() {
            for (int i = 0; i < 3; ++i)
                if (const char* v = std::getenv(names[i].c_str())) values[i] = v;
        }
        ~Restore() {
            for (int i = 0; i < 3; ++i) {
                if (values[i])
                    ::setenv(names[i].c_str(), values[i]->c_str(), 1);
                else
                    ::unsetenv(names[i].c_str());
            }
        }
    } restore;
    ::unsetenv("DRAVIX_VDRIVE_STATE");
    ::setenv("HOME", "/home/someone", 1);
    ::unsetenv("XDG_STATE_HOME");
    EXPECT_EQ(StateFilePath(), "/home/someone/.local/state/dravix/vdrive.json");
    ::setenv("XDG_STATE_HOME", "relative/state", 1);  // not absolute: ignored
    EXPECT_EQ(StateFilePath(), "/home/someone/.local/state/dravix/vdrive.json");
    ::setenv("XDG_STATE_HOME", "/var/xdg", 1);
    EXPECT_EQ(StateFilePath(), "/var/xdg/dravix/vdrive.json");
    ::setenv("DRAVIX_VDRIVE_STATE", "", 1);
    EXPECT_EQ(StateFilePath(), "/var/xdg/dravix/vdrive.json");
    ::setenv("DRAVIX_VDRIVE_STATE", "/tmp/elsewhere.json", 1);
    EXPECT_EQ(StateFilePath(), "/tmp/elsewhere.json");
}

TEST(ScenarioFile, OpenNamesTheFileAndTheProblem) {
    TempDir dir;
    EXPECT_EQ(Scenario::Open(dir.File("none.json")).ErrorText(),
              dir.File("none.json") + ": no such file (create it with: dravix-vdrive init)");
    WriteFile(dir.File("bad.json"), "[1, 2");
    const std::string error = Scenario::Open(dir.File("bad.json")).ErrorText();
    EXPECT_EQ(error.rfind(dir.File("bad.json") + ": not valid JSON", 0), 0u) << error;
    EXPECT_EQ(error.find('\n'), std::string::npos);
    EXPECT_EQ(Scenario::Open(dir.Path()).ErrorText(), dir.Path() + ": not a regular file");
}

TEST(ScenarioFile, TwoInstancesSeeEachOthersChanges) {
    TempDir dir;
    const std::string path = dir.File("state/vdrive.json");  // the directory is created
    Scenario first(Preset::Minimal);
    ASSERT_EQ(first.BindToFile(path).ErrorText(), "");
    auto secondOpened = Scenario::Open(path);
    ASSERT_TRUE(secondOpened) << secondOpened.ErrorText();
    auto second = std::move(secondOpened).Value();
    VirtualDrive& a = first.Drive(0);
    VirtualDrive& b = second->Drive(0);

    // A disc changed in one instance is a changed disc in the other.
    ASSERT_TRUE(a.Insert("cd-r"));
    EXPECT_EQ(Send(b, Cdb({0x46, 0, 0, 0, 0, 0, 0, 0, 8, 0}), 8).data[7], 0x09);
    EXPECT_TRUE(FailsWith(Send(b, Cdb({0x00})), kMediumMayHaveChanged));
    EXPECT_TRUE(Send(a, Cdb({0x00})).Good());  // the attention was reported once, to whoever asked first

    // Firmware state written through one is kept, and a restart through the other keeps only
    // the permanent part.
    EnterVendorMode(a);
    ASSERT_TRUE(Send(a, Vendor(0x1B, {0x16, 0x02, 0x03, 0x02}), 12).Good());
    ASSERT_TRUE(Send(a, Vendor(0xFB, {0x02, 0, 0, 1}), 12).Good());
    EXPECT_EQ(Send(b, Vendor(0x1B, {0x16, 0x01, 0x04}), 12).data[0], 3);
    b.Restart();
    EnterVendorMode(a);
    const Answer options = Send(a, Vendor(0x1B, {0x16, 0x01, 0x04}), 12);
    EXPECT_EQ(options.data[0], 2);
    EXPECT_EQ(options.data[1], 2);
    EXPECT_EQ(Send(a, Vendor(0xFB, {0x00, 0, 0x04}), 12).data[1], 0);

    // What the file holds is what both see.
    const Result<std::vector<DriveState>> onDisk = StateFromText(ReadFile(path));
    ASSERT_TRUE(onDisk) << onDisk.ErrorText();
    EXPECT_EQ(*onDisk, second->States());
    EXPECT_EQ(*onDisk, first.States());
}

TEST(ScenarioFile, DrivesAddedOrRemovedElsewhere) {
    TempDir dir;
    const std::string path = dir.File("vdrive.json");
    Scenario first(Preset::Minimal);
    ASSERT_EQ(first.BindToFile(path).ErrorText(), "");
    auto second = Scenario::Open(path).Value();
    second->AddDrive(DriveKind::OtherMaker);
    ASSERT_EQ(first.DriveCount(), 2u);
    VirtualDrive& gone = first.Drive(1);
    EXPECT_EQ(Send(gone, Cdb({0x12, 0, 0, 0, 36, 0}), 36).Text(8, 8), "KORVANE ");
    // The first drive taken out elsewhere: the other one moves up in the list and stays the same
    // drive at its own target; nothing answers at the first one's.
    ASSERT_TRUE(second->RemoveDrive(0));
    EXPECT_EQ(&first.Drive(0), &gone);
    EXPECT_EQ(first.DriveAtTarget(1), &gone);
    EXPECT_EQ(first.DriveAtTarget(0), nullptr);

    Scenario shorter(Preset::Minimal);
    ASSERT_EQ(shorter.BindToFile(path).ErrorText(), "");
    EXPECT_EQ(first.DriveCount(), 1u);
    EXPECT_THROW(first.Drive(1), std::out_of_range);
    EXPECT_TRUE(FailsWith(Send(gone, Cdb({0x00})), kLogicalUnitNotSupported));
}

TEST(ScenarioFile, MalformedFileIsReportedAndNeverOverwritten) {
    TempDir dir;
    const std::string path = dir.File("vdrive.json");
    Scenario scenario(Preset::Minimal);
    ASSERT_EQ(scenario.BindToFile(path).ErrorText(), "");
    std::vector<std::string> reported;
    scenario.SetErrorSink([&reported](const std::string& message) { reported.push_back(message); });
    VirtualDrive& drive = scenario.Drive(0);

    const std::string broken =
        R"({"format": "dravix-vdrive-state", "version": 1, "drives": [{"regionMask": -1}]})";
    WriteFile(path, broken);
    drive.SetRegionMask(0x12);
    drive.Insert("dvd-rom");
    EXPECT_TRUE(Send(drive, Cdb({0x12, 0, 0, 0, 36, 0}), 36).Good());  // the drive keeps working
    EXPECT_EQ(ReadFile(path), broken);
    ASSERT_EQ(reported.size(), 1u);  // once, not at every command
    EXPECT_EQ(reported[0], path + ": drives[0].regionMask: expected a number from 0 to 255");
    EXPECT_EQ(scenario.LastError(), reported[0]);

    // Once repaired, the file is the truth again.
    Scenario repaired(Preset::TwoDrives);
    WriteFile(path, repaired.Text());
    EXPECT_EQ(scenario.DriveCount(), 2u);
    EXPECT_EQ(scenario.LastError(), "");
    drive.SetRegionMask(0x34);
    EXPECT_NE(ReadFile(path).find("\"regionMask\": 52"), std::string::npos);
}

TEST(ScenarioFile, OnlyARegularFileIsUsedAndALinkIsWrittenThrough) {
    TempDir dir;
    // A FIFO would block the first reader until someone writes to it: refused at once.
    ASSERT_EQ(::mkfifo(dir.File("fifo.json").c_str(), 0600), 0);
    EXPECT_EQ(Scenario::Open(dir.File("fifo.json")).ErrorText(),
              dir.File("fifo.json") + ": not a regular file");

    Scenario original(Preset::Minimal);
    ASSERT_EQ(original.BindToFile(dir.File("target.json")).ErrorText(), "");
    std::filesystem::create_symlink("target.json", dir.File("link.json"));
    auto linkedOpened = Scenario::Open(dir.File("link.json"));
    ASSERT_TRUE(linkedOpened) << linkedOpened.ErrorText();
    auto linked = std::move(linkedOpened).Value();
    linked->Drive(0).SetTestWrite(true);
    EXPECT_TRUE(std::filesystem::is_symlink(dir.File("link.json")));
    EXPECT_TRUE(original.Drive(0).State().testWrite);
}

TEST(ScenarioFile, AChangeThatCannotBeSavedIsUndoneAndTheCommandFails) {
    TempDir dir;
    Scenario scenario(Preset::Minimal);
    ASSERT_EQ(scenario.BindToFile(dir.File("vdrive.json")).ErrorText(), "");
    const std::string before = ReadFile(dir.File("vdrive.json"));
    VirtualDrive& drive = scenario.Drive(0);

    Answer on, inquiry;
    {
        const dravix::test::FileSizeLimit full(16);  // writing the file fails
        ASSERT_TRUE(full.Set());
        on = Send(drive, Vendor(0xF1));
        inquiry = Send(drive, Cdb({0x12, 0, 0, 0, 36, 0}), 36);
    }

    EXPECT_TRUE(FailsWith(on, kInternalTargetFailure));
    EXPECT_TRUE(inquiry.Good());  // a command that changes nothing still works
    EXPECT_FALSE(drive.State().vendorMode);
    EXPECT_EQ(ReadFile(dir.File("vdrive.json")), before);
    EXPECT_NE(scenario.LastError().find("cannot write"), std::string::npos);
}

TEST(ScenarioFile, WritesLeaveNoTemporaryFilesBehind) {
    TempDir dir;
    Scenario scenario(Preset::Minimal);
    ASSERT_EQ(scenario.BindToFile(dir.File("vdrive.json")).ErrorText(), "");
    for (int i = 0; i < 50; ++i) scenario.Drive(0).SetRegionMask(static_cast<uint8_t>(i));
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"vdrive.json", "vdrive.json.lock"}));
}

int RunTool(const std::vector<std::string>& args, pid_t* pid = nullptr) {
    std::vector<std::string> all{DRAVIX_VDRIVE_TOOL};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& arg : all) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t child = 0;
    if (::posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    if (pid) {
        *pid = child;
        return 0;
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ScenarioFile, AnotherProcessChangesTheDisc) {
    TempDir dir;
    const std::string path = dir.File("vdrive.json");
    Scenario scenario(Preset::Demo);
    ASSERT_EQ(scenario.BindToFile(path).ErrorText(), "");
    VirtualDrive& drive = scenario.Drive(0);
    ASSERT_EQ(RunTool({"--file", path, "insert", "dvd+r-bad"}), 0);
    EXPECT_EQ(drive.State().disc->media, "dvd+r-bad");
    ASSERT_EQ(RunTool({"--file", path, "eject"}), 0);
    EXPECT_TRUE(FailsWith(Send(drive, Cdb({0x00})), kNoMedium));
}

// A write test sends tens of thousands of WRITEs: none of them may rewrite the file (that made the
// host slower than the disc), and a change made elsewhere meanwhile does not break the run.
TEST(ScenarioFile, SimulatedWritesLeaveTheFileAloneAndARunGoesOnAfterAChangeElsewhere) {
    TempDir dir;
    const std::string path = dir.File("vdrive.json");
    Scenario scenario(Preset::Minimal);
    ASSERT_EQ(scenario.BindToFile(path).ErrorText(), "");
    VirtualDrive& drive = scenario.Drive(0);
    drive.SetClock([] { return int64_t{1'000'000}; });
    drive.SetSleeper([](uint32_t) {});
    ASSERT_TRUE(drive.Insert("dvd+r"));
    drive.SetTestWrite(true);
    Send(drive, Cdb({0x00}));  // the new disc's unit attention
    std::vector<uint8_t> data(32 * kSectorBytes, 0x5A);
    auto write = [&](uint8_t lbaLow) {
        const std::vector<uint8_t> cdb = Cdb({0x2A, 0, 0, 0, 0, lbaLow, 0, 0, 32, 0});
        return drive.Execute(cdb.data(), 10, 1, data.data(), static_cast<uint32_t>(data.size()), 15).kind ==
               ScsiOutcome::Kind::Good;
    };
    ASSERT_TRUE(write(0));
    const std::string before = ReadFile(path);
    ASSERT_TRUE(write(32));
    ASSERT_TRUE(write(64));
    EXPECT_EQ(ReadFile(path), before);
    ASSERT_EQ(RunTool({"--file", path, "latency", "command", "1"}), 0);
    EXPECT_TRUE(write(96));  // still where the run stands, not at the blank disc's start
}

TEST(ScenarioFile, ConcurrentProcessesLoseNoChange) {
    TempDir dir;
    const std::string path = dir.File("vdrive.json");
    Scenario scenario(Preset::Minimal);
    ASSERT_EQ(scenario.BindToFile(path).ErrorText(), "");
    constexpr int kProcesses = 6;
    std::vector<pid_t> children(kProcesses);
    for (int i = 0; i < kProcesses; ++i) {
        ASSERT_EQ(RunTool({"--file", path, "fault", "add", "--after", std::to_string(i), "12", "busy"},
                          &children[i]),
                  0);
    }
    // Meanwhile this process changes the same file.
    for (int i = 0; i < 20; ++i) scenario.Drive(0).SetRegionMask(static_cast<uint8_t>(i));
    for (pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, 0);
    }
    const DriveState state = scenario.Drive(0).State();
    EXPECT_EQ(state.faults.size(), static_cast<size_t>(kProcesses));
    EXPECT_EQ(state.regionMask, 19);
}

}  // namespace
}  // namespace dravix::emu::test
