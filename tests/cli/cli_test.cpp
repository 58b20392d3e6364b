// The command line's own commands (drives, probe, raw), its options, usage errors and exit
// statuses, on virtual drives behind fake device nodes.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "drive/Support.h"
#include "export/ImageTexts.h"
#include "procedures/SupportTexts.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

using Bytes = std::vector<uint8_t>;

struct CliTest : ::testing::Test {
    void SetUp() override { unsetenv("DRAVIX_ASPI_LIBRARY"); }
    VirtualBus bus;
};

// An INQUIRY answer with the given 28 identity bytes (vendor, product, revision).
emu::FaultRule InquiryReply(const std::string& identity) {
    emu::FaultRule rule;
    rule.opcode = 0x12;
    rule.action = emu::FaultRule::Action::Reply;
    rule.reply.assign(36, 0);
    rule.reply[0] = 0x05;
    std::memcpy(rule.reply.data() + 8, identity.data(), std::min<size_t>(identity.size(), 28));
    return rule;
}

TEST_F(CliTest, DrivesListsEveryDriveInDiscoveryOrder) {
    bus.AddDrive();
    bus.AddDrive(emu::DriveKind::OtherMaker);
    const CliRun run = RunCliCapture(bus.Drives(), {"drives"});
    ASSERT_EQ(run.status, 0) << run.err;
    // The 28-character label, then the drive's nodes.
    const std::string first = run.out.substr(0, run.out.find('\n'));
    EXPECT_EQ(first.rfind("0: ", 0), 0u);
    EXPECT_EQ(first.substr(3 + 28), " \u2014 /dev/sr0, /dev/sg0");
    EXPECT_NE(run.out.find("\n1: "), std::string::npos);
    EXPECT_NE(run.out.find("\u2014 /dev/sr1, /dev/sg1\n"), std::string::npos);

    const CliRun json = RunCliCapture(bus.Drives(), {"--json", "drives"});
    const auto object = nlohmann::json::parse(json.out);
    ASSERT_EQ(object["drives"].size(), 2u);
    EXPECT_EQ(object["drives"][1]["index"], 1);
    EXPECT_EQ(object["drives"][0]["label"].get<std::string>().size(), 28u);
    EXPECT_EQ(object["drives"][1]["nodes"], nlohmann::json::array({"/dev/sr1", "/dev/sg1"}));
    EXPECT_TRUE(object["drives"][1]["adapter"].is_null());
}

TEST_F(CliTest, DriveIdentityIsPrintedEscaped) {
    bus.AddDrive().AddFault(
        InquiryReply(std::string("ZA\x07RN\x1B[2J") + "\xFF" + std::string(18, ' ') + "1.00"));
    const CliRun run = RunCliCapture(bus.Drives(), {"drives"});
    ASSERT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("0: ZA\\x07RN\\x1B[2J\\xFF"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('\x1B'), std::string::npos);  // no terminal control reaches the screen
    // Nor into JSON, which could not even hold the byte FFh.
    for (const char* command : {"drives", "probe", "info"}) {
        const CliRun json = RunCliCapture(bus.Drives(), {"--json", command});
        const auto object = nlohmann::json::parse(json.out);
        const auto& drive = command == std::string("drives") ? object["drives"][0] : object["drive"];
        EXPECT_EQ(drive["vendor"], "ZA\\x07RN\\x1B[2");
        EXPECT_EQ(drive["product"], "J\\xFF");
    }

    // A NUL ends the product text, as the label is read as a C string; the revision follows.
    VirtualBus other;
    other.AddDrive().AddFault(InquiryReply(std::string("ZARN\0\0\0\0", 8) + std::string(16, 'P') + "REV1"));
    const CliRun cut = RunCliCapture(other.Drives(), {"drives"});
    EXPECT_EQ(cut.out, "0: ZARNREV1 \u2014 /dev/sr0, /dev/sg0\n");
}

// A listing of no drive is an empty listing (exit 0), told with the hint; a command that needs a
// drive fails with it (exit 3). The hint names the command line's own --virtual.
TEST_F(CliTest, NoDriveIsAnEmptyListingAndAFailureOfTheOtherCommands) {
    const CliRun none = RunCliCapture(bus.Drives(), {"drives"});
    EXPECT_EQ(none.status, 0);
    EXPECT_TRUE(none.out.empty());
    EXPECT_EQ(none.err.rfind(std::string("dravix-cli: ") + kMsgNoDeviceFound + "\n", 0), 0u);
    EXPECT_NE(none.err.find("start it with \"dravix-cli --virtual\"."), std::string::npos) << none.err;
    const CliRun json = RunCliCapture(bus.Drives(), {"--json", "drives"});
    EXPECT_EQ(json.status, 0);
    EXPECT_EQ(nlohmann::json::parse(json.out)["drives"], nlohmann::json::array());
    EXPECT_EQ(RunCliCapture(bus.Drives(), {"info"}).status, 3);

    FakeSgSystem::Node refused;
    refused.openError = EACCES;
    bus.Os().AddNode("/dev/sr0", refused);
    const CliRun hinted = RunCliCapture(bus.Drives(), {"probe"});
    EXPECT_EQ(hinted.status, 3);
    EXPECT_NE(hinted.err.find("No Device found!\nSome drives could not be opened:\n  /dev/sr0"),
              std::string::npos)
        << hinted.err;
}

// The drive report: program, system, each drive with its nodes and support, and the commands
// with their sense, in text and JSON, and nothing of the user's own.
TEST_F(CliTest, DiagnoseReportsDrivesNodesSupportAndTheLastCommands) {
    bus.AddDrive().SetFeatureCodes({5, 1});
    bus.AddDrive(emu::DriveKind::OtherMaker);
    const CliRun run = RunCliCapture(bus.Drives(), {"diagnose"});
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* part :
         {"version: ", "kernel: ", "transport: pass-through", "sg driver loaded: yes", "0: \"ZARN",
          "node /dev/sr0 (owner root, group gid 0, mode 0660, opened)", "node /dev/sg1 (owner root",
          "support: supported\n   feature codes: 5 1", "support: vendor mode refused (refused by the drive)",
          "/dev/sr1, /dev/sg1 [1] CDB FD F1 5A 41 52 4E 00 00 00 00 00 00 -> 1 sense 05/"}) {
        EXPECT_NE(run.out.find(part), std::string::npos) << part << "\n" << run.out;
    }
    for (const char* variable : {"HOME", "USER", "LOGNAME"}) {
        const char* value = std::getenv(variable);
        if (value != nullptr && std::strlen(value) > 1) {
            EXPECT_EQ(run.out.find(value), std::string::npos) << variable;
        }
    }

    const auto object = nlohmann::json::parse(RunCliCapture(bus.Drives(), {"--json", "diagnose"}).out);
    ASSERT_EQ(object["drives"].size(), 2u);
    EXPECT_EQ(object["drives"][0]["features"], nlohmann::json::array({5, 1}));
    EXPECT_EQ(object["drives"][1]["supported"], false);
    EXPECT_EQ(object["drives"][1]["node_details"][1]["path"], "/dev/sg1");
    EXPECT_EQ(object["sg_loaded"], true);
    EXPECT_FALSE(object["commands"].empty());
    // The last one: the other maker's drive refusing vendor mode, with its sense.
    EXPECT_EQ(object["commands"].back()["cdb"], "FD F1 5A 41 52 4E 00 00 00 00 00 00");
    EXPECT_EQ(object["commands"].back()["sense"]["key"], 5);
}

TEST_F(CliTest, ProbeTellsSupportedRefusedAndOldFirmwareApart) {
    bus.AddDrive().SetFeatureCodes({7, 1, 4, 5});
    bus.AddDrive(emu::DriveKind::OtherMaker);
    bus.AddDrive(emu::DriveKind::OldFirmware);

    const CliRun supported = RunCliCapture(bus.Drives(), {"probe"});
    EXPECT_EQ(supported.status, 0);
    EXPECT_EQ(supported.out,
              "supported\nfeatures: 7 1 4 5\npages: Information, Book Type, Probix, OverSpeed\n");
    EXPECT_FALSE(bus.Drive(0).State().vendorMode);  // left as found

    const CliRun refused = RunCliCapture(bus.Drives(), {"--drive", "1", "probe"});
    EXPECT_EQ(refused.status, 3);
    EXPECT_EQ(refused.err, "dravix-cli: vendor mode refused (refused by the drive)\n");

    const CliRun old = RunCliCapture(bus.Drives(), {"--drive", "2", "--json", "probe"});
    EXPECT_EQ(old.status, 3);
    const auto object = nlohmann::json::parse(old.out);
    EXPECT_EQ(object["supported"], false);
    EXPECT_EQ(object["error"], (nlohmann::json{{"code", 3}, {"message", kMsgFirmwareNotSupported}}));
    EXPECT_TRUE(bus.Drive(2).State().vendorMode);  // no off after a feature list without the signature

    const CliRun missing = RunCliCapture(bus.Drives(), {"--drive", "3", "probe"});
    EXPECT_EQ(missing.status, 3);
    EXPECT_EQ(missing.err, "dravix-cli: There is no drive 3\n");
}

TEST_F(CliTest, RawSendsOneCommandAndShowsStatusSenseAndAnswer) {
    emu::VirtualDrive& drive = bus.AddDrive();
    const CliRun inquiry = RunCliCapture(bus.Drives(), {"raw", "--in", "36", "12 00 00 00 24 00"});
    ASSERT_EQ(inquiry.status, 0) << inquiry.err;
    EXPECT_EQ(inquiry.out.rfind(
                  "status: 0 (completed)\nsense: 00/00/00\ntransferred: 36 of 36 bytes\n0000  05 ", 0),
              0u)
        << inquiry.out;
    EXPECT_NE(inquiry.out.find("0020  "), std::string::npos);  // 36 bytes: three lines

    // Only what the drive sent is shown.
    const CliRun longer = RunCliCapture(bus.Drives(), {"raw", "--in", "64", "12 00 00 00 40 00"});
    EXPECT_NE(longer.out.find("transferred: 36 of 64 bytes\n"), std::string::npos) << longer.out;
    EXPECT_EQ(longer.out.find("0030  "), std::string::npos);

    drive.RemoveDisc();
    const CliRun notReady = RunCliCapture(bus.Drives(), {"raw", "00 00 00 00 00 00"});
    EXPECT_EQ(notReady.status, 1);
    EXPECT_EQ(notReady.out, "status: 1 (failed)\nsense: 02/3A/00\n");
    EXPECT_EQ(bus.Commands().back(), (Bytes{0, 0, 0, 0, 0, 0}));

    const CliRun json =
        RunCliCapture(bus.Drives(), {"--json", "raw", "0x5A", "08", "2A00000000001E00", "--in", "30"});
    const auto object = nlohmann::json::parse(json.out);
    EXPECT_EQ(object["cdb"], "5A 08 2A 00 00 00 00 00 1E 00");
    EXPECT_EQ(object["status"], 0);
    EXPECT_EQ(object["data"].get<std::string>().size(), 30u * 3 - 1);

    // Data out from a file of hex bytes.
    const std::string file = ::testing::TempDir() + "/dravix-raw-out.hex";
    std::ofstream(file) << "00 00 00 08\n";
    const CliRun out = RunCliCapture(bus.Drives(), {"raw", "--out", file, "55 10 00 00 00 00 00 00 04 00"});
    EXPECT_NE(out.out.find("status: "), std::string::npos);
    // The data-out file holds whole bytes, at most 1 MiB of them; past it, nothing is sent.
    bus.ClearCommands();
    std::ofstream(file) << "00 0 00\n";
    const CliRun odd = RunCliCapture(bus.Drives(), {"raw", "--out", file, "55 10 00 00 00 00 00 00 04 00"});
    EXPECT_EQ(odd.status, 1);
    EXPECT_NE(odd.err.find("'0' is not hex bytes"), std::string::npos) << odd.err;
    const CliRun endless =
        RunCliCapture(bus.Drives(), {"raw", "--out", "/dev/zero", "55 10 00 00 00 00 00 00 04 00"});
    EXPECT_EQ(endless.status, 1);
    EXPECT_NE(endless.err.find("holds more than 1048576 bytes"), std::string::npos) << endless.err;
    EXPECT_TRUE(bus.Commands().empty());
    std::remove(file.c_str());
}

TEST_F(CliTest, RawTellsAKernelRefusalFromTheDrives) {
    // A kernel that refuses vendor command codes on the node it was given.
    bus.Os().AddDrive(0, [](sg_io_hdr_t& r) {
        if (r.cmdp[0] == 0xFD) return -EPERM;
        if (r.cmdp[0] == 0x12) {
            auto* data = static_cast<uint8_t*>(r.dxferp);
            std::memset(data, 0, r.dxfer_len);
            std::memcpy(data + 8, "ZARN    DVD-RW ZR1680A  1.20", 28);
        }
        return 0;
    });
    const CliRun raw = RunCliCapture(bus.Drives(), {"raw", "FD F1 5A 41 52 4E 00 00 00 00 00 00"});
    EXPECT_EQ(raw.status, 1);
    EXPECT_NE(raw.out.find("refused by the kernel (permission denied)"), std::string::npos) << raw.out;

    const CliRun probe = RunCliCapture(bus.Drives(), {"probe"});
    EXPECT_EQ(probe.status, 3);
    EXPECT_NE(probe.err.find("vendor mode refused (refused by the kernel: permission denied on /dev/sr0"),
              std::string::npos)
        << probe.err;
}

TEST_F(CliTest, AUsageErrorIsOneLineThatNamesTheHelpToRead) {
    bus.AddDrive();
    struct Case {
        std::vector<std::string> args;
        std::string line;  // standard error, whole
    };
    const Case cases[] = {
        {{}, "no command given (see dravix-cli help)"},
        {{"frobnicate"}, "unknown command 'frobnicate' (see dravix-cli help)"},
        {{"--bogus", "info"}, "unknown option '--bogus' (see dravix-cli help info)"},
        {{"info", "--bogus"}, "unknown option '--bogus' (see dravix-cli help info)"},
        {{"drives", "extra"}, "unexpected argument 'extra' (see dravix-cli help drives)"},
        {{"--drive"}, "--drive takes a drive index (a number from 0) (see dravix-cli help)"},
        {{"--drive", "-1", "info"},
         "--drive takes a drive index (a number from 0) (see dravix-cli help info)"},
        {{"help", "frobnicate"}, "unknown command 'frobnicate' (see dravix-cli help)"},
        {{"raw"}, "raw needs the command block as hex bytes (see dravix-cli help raw)"},
        {{"raw", "zz"}, "'zz' is not hex bytes (two digits a byte) (see dravix-cli help raw)"},
        // Longer or shorter than the opcode's block: never padded; an odd number of digits is no byte.
        {{"raw", "12 00 00 00 24 00 00"},
         "operation code 12h takes a 6-byte command block, not 7 bytes (see dravix-cli help raw)"},
        {{"raw", "12 00"},
         "operation code 12h takes a 6-byte command block, not 2 bytes (see dravix-cli help raw)"},
        {{"raw", "120 0 0 0 24"},
         "'120 0 0 0 24' is not hex bytes (two digits a byte) (see dravix-cli help raw)"},
        {{"raw", "--in", "4", "--out", "f", "00"},
         "--in and --out exclude each other (see dravix-cli help raw)"},
        {{"raw", "--in", "99999999", "12"},
         "--in takes a byte count up to 1048576 (see dravix-cli help raw)"},
        {{"scan", "--speed", "4X", "--mode", "slow"},
         "--mode is one of normal, full, quick, custom (see dravix-cli help scan)"},
        {{"scan", "--speed"}, "--speed takes a value (see dravix-cli help scan)"},
        {{"--version", "--bogus"}, "unknown option '--bogus' (see dravix-cli help)"},
        {{"-yz", "info"}, "unknown option '-z' (see dravix-cli help info)"},
        {{"scan", "--speed=4X", "--image", "chart.xyz"},
         "--image: no picture format for the extension of 'chart.xyz' (see dravix-cli help scan)"},
        {{"convert", "in.bmp", "out.xyz"},
         std::string("'out.xyz': ") + texts::kUnsupportedType + " (see dravix-cli help convert)"},
    };
    for (const Case& c : cases) {
        const CliRun run = RunCliCapture(bus.Drives(), c.args);
        EXPECT_EQ(run.status, 2) << c.line;
        EXPECT_EQ(run.err, std::string("dravix-cli: ") + c.line + "\n");
        EXPECT_TRUE(run.out.empty());

        // With --json the same error is the one object on standard output.
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), "--json");
        const CliRun json = RunCliCapture(bus.Drives(), args);
        EXPECT_EQ(json.status, 2);
        EXPECT_TRUE(json.err.empty()) << json.err;
        const auto object = nlohmann::json::parse(json.out);
        EXPECT_EQ(object["error"], (nlohmann::json{{"code", 2}, {"message", c.line}}));
    }
    EXPECT_TRUE(bus.Commands().empty());  // nothing reached the drive
}

// The getopt forms: a value after "=" or as the next argument, bundled short flags, options
// before or after the command, and "--" after which a name that starts with a dash is a file.
TEST_F(CliTest, OptionsInEveryFormMeanTheSame) {
    bus.AddDrive();
    bus.AddDrive();
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> same;
    };
    const Case cases[] = {
        {{"--drive=1", "--json", "testwrite"}, {"--json", "--drive", "1", "testwrite"}},
        {{"testwrite", "--drive", "1", "--json"}, {"--json", "--drive", "1", "testwrite"}},
        {{"-yq", "--json", "wopc"}, {"--yes", "--quiet", "--json", "wopc"}},
        {{"--json", "drives", "-qy"}, {"-q", "-y", "--json", "drives"}},
    };
    for (const Case& c : cases) {
        const CliRun run = RunCliCapture(bus.Drives(), c.args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, RunCliCapture(bus.Drives(), c.same).out) << c.args[0];
    }
    // A value is always the next argument, even one that looks like an option.
    EXPECT_EQ(RunCliCapture(bus.Drives(), {"scan", "--speed", "--json"}).err.find("unknown option"),
              std::string::npos);
    // After "--" a name with a leading dash is a file to read, not an option.
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"compare", "--", "-a.csv", "-b.csv"}, {"report", "-o", "r.html", "--", "-a.csv"}}) {
        const CliRun run = RunCliCapture(bus.Drives(), args);
        EXPECT_EQ(run.status, 1) << run.err;
        EXPECT_NE(run.err.find("-a.csv"), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find("unknown option"), std::string::npos) << run.err;
    }
}

TEST_F(CliTest, HelpOfTheProgramAndOfEachCommand) {
    const CliRun help = RunCliCapture(bus.Drives(), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(RunCliCapture(bus.Drives(), {"help"}).out, help.out);
    for (const cli::CliCommand& command : cli::AllCommands()) {
        EXPECT_NE(help.out.find(std::string("\n  ") + command.name + " "), std::string::npos) << command.name;
        const CliRun own = RunCliCapture(bus.Drives(), {"help", command.name});
        EXPECT_EQ(own.status, 0);
        EXPECT_EQ(own.out.rfind(std::string("Usage: dravix-cli [OPTIONS] ") + command.name, 0), 0u)
            << own.out;
        EXPECT_NE(own.out.find("\nExamples:\n  dravix-cli "), std::string::npos) << command.name;
        EXPECT_EQ(RunCliCapture(bus.Drives(), {command.name, "--help"}).out, own.out);
    }
    EXPECT_NE(RunCliCapture(bus.Drives(), {"help", "raw"}).out.find("  --in N "), std::string::npos);
    // Every line of every help within 80 columns.
    std::vector<std::string> texts = {help.out};
    for (const cli::CliCommand& command : cli::AllCommands())
        texts.push_back(RunCliCapture(bus.Drives(), {"help", command.name}).out);
    for (const std::string& text : texts) {
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
    }
}

TEST_F(CliTest, TraceWritesEveryCommandToStandardError) {
    bus.AddDrive();
    const CliRun run = RunCliCapture(bus.Drives(), {"--trace", "probe"});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.err.find("[0] CDB 12 00 00 00 38 00 in 56 -> 0 got 36 data 05"), std::string::npos)
        << run.err;
    EXPECT_NE(run.err.find("CDB FD F1 5A 41 52 4E 00 00 00 00 00 00 -> 0"), std::string::npos);
    EXPECT_NE(run.err.find("CDB FD 1B 5A 41 52 4E 0E 00 FF 00 00 00 in 255 -> 0 got 14 data 5A 41 52 4E"),
              std::string::npos);
    // Tracing ends with the command.
    const CliRun quiet = RunCliCapture(bus.Drives(), {"drives"});
    EXPECT_TRUE(quiet.err.empty());
}

}  // namespace
}  // namespace dravix::test
