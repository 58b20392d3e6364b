// dravix-cli overspeed, lumard, testwrite and wopc on a virtual drive.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "drive/OptionCommands.h"
#include "procedures/SwitchTexts.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

namespace texts = option_texts;
using Bytes = std::vector<uint8_t>;

Bytes Vendor(uint8_t subCode, Bytes from6 = {}) {
    Bytes cdb = {0xFD, subCode, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
    std::copy(from6.begin(), from6.end(), cdb.begin() + 6);
    return cdb;
}

struct SwitchCli : ::testing::Test {
    void SetUp() override { unsetenv("DRAVIX_ASPI_LIBRARY"); }

    CliRun Run(std::vector<std::string> args, const std::string& input = "") {
        return RunCliCapture(bus.Drives(), std::move(args), input);
    }

    bool Sent(const Bytes& cdb) const {
        const auto commands = bus.Commands();
        return std::find(commands.begin(), commands.end(), cdb) != commands.end();
    }
    // Every command that changes a setting or moves the tray.
    std::vector<Bytes> Changes() const {
        std::vector<Bytes> changes;
        for (const Bytes& cdb : bus.Commands()) {
            const bool optionWrite =
                cdb[0] == 0xFD && cdb[1] == 0x1B && (cdb[7] == 0x02 || cdb[7] == 0x03 || cdb[7] == 0x06);
            const bool switchWrite = cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[6] != 0x00;
            if (optionWrite || switchWrite || cdb[0] == 0x1B) changes.push_back(cdb);
        }
        return changes;
    }
    void Reply(uint8_t subCode, uint8_t function, std::map<uint8_t, uint8_t> bytes, Bytes reply) {
        emu::FaultRule rule;
        rule.opcode = 0xFD;
        rule.subCode = subCode;
        rule.function = function;
        rule.bytes = std::move(bytes);
        rule.action = emu::FaultRule::Action::Reply;
        rule.reply = std::move(reply);
        drive.AddFault(rule);
    }

    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
};

TEST_F(SwitchCli, ReadsPrintTheDrivesState) {
    drive.SetOption(emu::OptionKind::OverSpeed, 3);
    drive.SetOption(emu::OptionKind::SupportedDisc, 2);
    drive.SetWopcDisabled(true);
    EXPECT_EQ(Run({"overspeed"}).out, "OverSpeed: on (until restart)\n");
    EXPECT_EQ(Run({"lumard"}).out, "Supported Disc: on\nUn-Known Disc: on\n");
    EXPECT_EQ(Run({"testwrite"}).out, "Test Write: off\n");
    EXPECT_EQ(Run({"wopc"}).out, "WOPC: off\n");

    const CliRun json = Run({"--json", "lumard"});
    EXPECT_EQ(json.status, cli::kExitOk);
    const auto object = nlohmann::json::parse(json.out);
    EXPECT_EQ(object["supported_disc"]["on"], true);
    EXPECT_EQ(object["supported_disc"]["temporary"], false);
    EXPECT_EQ(object["overspeed"]["raw"], 3);
    EXPECT_TRUE(Changes().empty());
    EXPECT_FALSE(drive.State().vendorMode);

    Reply(0xFB, 0x00, {}, {0x00, 0x02, 0x05});
    EXPECT_EQ(Run({"testwrite"}).out, "Test Write: unknown (02h)\n");
    EXPECT_TRUE(nlohmann::json::parse(Run({"--json", "wopc"}).out)["wopc"]["on"].is_null());
}

TEST_F(SwitchCli, OverSpeedAsksBothQuestionsWritesAndReadsBack) {
    CliRun run = Run({"overspeed", "on", "--temporary"}, "y\nyes\n");
    EXPECT_EQ(run.status, cli::kExitOk);
    EXPECT_NE(run.err.find(texts::kOverSpeedWarning), std::string::npos);
    EXPECT_NE(run.err.find(texts::kConfirmTemporary), std::string::npos);
    EXPECT_EQ(run.out, "OverSpeed: on (until restart)\n");
    EXPECT_EQ(Changes(), std::vector<Bytes>{Vendor(0x1B, {0x16, 0x06, 0x03})});

    bus.ClearCommands();
    run = Run({"--yes", "--json", "overspeed", "off", "--permanent"});
    EXPECT_EQ(run.status, cli::kExitOk);
    EXPECT_EQ(Changes(), std::vector<Bytes>{Vendor(0x1B, {0x16, 0x06, 0x00})});
    const auto object = nlohmann::json::parse(run.out);
    EXPECT_EQ(object["write"]["confirmed"], true);
    EXPECT_EQ(object["overspeed"]["on"], false);
    EXPECT_EQ(object["overspeed"]["temporary"], false);
}

TEST_F(SwitchCli, DeclinedQuestionsAndADiscInTheTrayChangeNothing) {
    for (const char* input : {"n\n", "y\nn\n", ""}) {
        const CliRun run = Run({"overspeed", "on", "--permanent"}, input);
        EXPECT_EQ(run.status, cli::kExitFailed) << input;
        EXPECT_NE(run.err.find(texts::kNothingChanged), std::string::npos);
    }
    ASSERT_TRUE(drive.Insert("dvd+r"));
    bus.ClearCommands();
    const CliRun run = Run({"--yes", "overspeed", "on", "--permanent"});
    EXPECT_EQ(run.status, cli::kExitFailed);
    EXPECT_NE(run.err.find(texts::kRemoveMedia), std::string::npos);
    EXPECT_TRUE(Changes().empty());  // neither written nor the tray moved
    EXPECT_EQ(drive.State().options[2].Reported(), 0);
}

TEST_F(SwitchCli, LumardWritesTheGivenPairsKeepsTheOtherAndRespectsOverSpeed) {
    drive.SetOption(emu::OptionKind::SupportedDisc, 3);
    CliRun run = Run({"lumard", "--unknown", "off", "--permanent"}, "y\n");
    EXPECT_EQ(run.status, cli::kExitOk);
    EXPECT_NE(run.err.find(texts::kConfirmPermanent), std::string::npos);
    EXPECT_EQ(Changes(), std::vector<Bytes>{Vendor(0x1B, {0x16, 0x02, 0x00, 0x03})});
    EXPECT_EQ(run.out, "Supported Disc: on (until restart)\nUn-Known Disc: off\n");

    bus.ClearCommands();
    run = Run({"--yes", "lumard", "--temporary", "--supported", "off", "--unknown", "on"});
    EXPECT_EQ(Changes(), std::vector<Bytes>{Vendor(0x1B, {0x16, 0x02, 0x03, 0x01})});

    // The drive reports nothing usable for the pair left out: nothing is written.
    Reply(0x1B, 0x16, {{7, 0x01}}, {0x09, 0x00, 0x00});
    bus.ClearCommands();
    run = Run({"--yes", "lumard", "--supported", "on", "--temporary"});
    EXPECT_EQ(run.status, cli::kExitFailed);
    EXPECT_NE(run.err.find(texts::kNoValidState), std::string::npos);

    drive.ClearFaults();
    drive.SetOption(emu::OptionKind::OverSpeed, 2);
    run = Run({"--yes", "lumard", "--supported", "on", "--unknown", "on", "--temporary"});
    EXPECT_EQ(run.status, cli::kExitFailed);
    EXPECT_EQ(run.err, std::string("dravix-cli: ") + texts::kLumardOverSpeedActive);
    EXPECT_TRUE(Changes().empty());
}

TEST_F(SwitchCli, LearnedDiscsAreListedAndCleanedAfterConfirmation) {
    drive.SetLearnedDiscs({"ABCD", "RICOHJPN-R03"});
    CliRun run = Run({"lumard", "learned"});
    EXPECT_EQ(run.out, "Learned Disc : 2 pcs\n1: ABCD        \n2: RICOHJPN-R03\n");

    run = Run({"lumard", "clean"}, "n\n");
    EXPECT_EQ(run.status, cli::kExitFailed);
    EXPECT_NE(run.err.find(texts::kCleanWarning), std::string::npos);
    EXPECT_FALSE(Sent(Vendor(0x1B, {0x16, 0x03})));

    run = Run({"--json", "lumard", "clean"}, "y\n");
    EXPECT_EQ(run.status, cli::kExitOk);
    const auto object = nlohmann::json::parse(run.out);
    EXPECT_EQ(object["write"]["confirmed"], true);
    EXPECT_EQ(object["learned"]["count"], 0);
    EXPECT_TRUE(drive.State().learnedDiscs.empty());

    Bytes wrong(255, 0);
    std::memcpy(wrong.data(), "ZORN", 4);
    Reply(0x1B, 0x16, {{7, 0x07}}, wrong);
    run = Run({"lumard", "learned"});
    EXPECT_EQ(run.status, cli::kExitFailed);
    EXPECT_EQ(run.err, std::string("dravix-cli: ") + texts::kResponseError + "\n");
}

TEST_F(SwitchCli, TestWriteAndWopcSwitchWithoutQuestions) {
    CliRun run = Run({"testwrite", "on"});
    EXPECT_EQ(run.status, cli::kExitOk);
    EXPECT_EQ(run.out, "Test Write: on\n");
    EXPECT_TRUE(run.err.empty());
    run = Run({"wopc", "off"});
    EXPECT_EQ(run.out, "WOPC: off\n");
    EXPECT_EQ(Changes(), (std::vector<Bytes>{Vendor(0xFB, {0x02, 0x00, 0x00, 0x01}),
                                             Vendor(0xFB, {0x03, 0x00, 0x00, 0x01})}));
    drive.Restart();
    EXPECT_EQ(Run({"testwrite"}).out, "Test Write: off\n");
    EXPECT_EQ(Run({"wopc"}).out, "WOPC: on\n");
}

TEST_F(SwitchCli, UsageErrorsAndRefusals) {
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"overspeed", "on"},
             {"overspeed", "maybe", "--temporary"},
             {"lumard", "--temporary"},
             {"lumard", "--supported", "on"},
             {"lumard", "--supported", "on", "--supported", "off", "--permanent"},
             {"wopc", "enable"}}) {
        EXPECT_EQ(Run(args).status, cli::kExitUsage) << args[0] << " " << args[1];
    }
    EXPECT_TRUE(bus.Commands().empty());

    bus.AddDrive(emu::DriveKind::OtherMaker);
    const CliRun run = Run({"--drive", "1", "testwrite", "on"});
    EXPECT_EQ(run.status, cli::kExitNoDrive);
    EXPECT_EQ(run.err, std::string("dravix-cli: ") + texts::kNotSupportTheDrive + "\n");
}

TEST_F(SwitchCli, ARefusedReadSaysWhatThePagesSay) {
    // The pages answer a refused vendor mode before a read (and before the Lumard clean tool)
    // with string 104; only the writes say "Not support the drive!".
    bus.AddDrive(emu::DriveKind::OtherMaker);
    const std::string notSupported = "dravix-cli: This drive is not supported\n";
    for (std::vector<std::string> args :
         std::vector<std::vector<std::string>>{{"overspeed"},
                                               {"lumard"},
                                               {"lumard", "learned"},
                                               {"lumard", "clean"},
                                               {"lumard", "--supported", "on", "--permanent"},
                                               {"testwrite"},
                                               {"wopc"}}) {
        args.insert(args.begin(), {"--yes", "--drive", "1"});
        const CliRun run = Run(args);
        EXPECT_EQ(run.status, cli::kExitNoDrive) << args[3];
        EXPECT_EQ(run.err, notSupported) << args[3];
    }
    const CliRun write = Run({"--yes", "--drive", "1", "overspeed", "off", "--permanent"});
    EXPECT_EQ(write.status, cli::kExitNoDrive);
    EXPECT_EQ(write.err, std::string("dravix-cli: ") + texts::kNotSupportTheDrive + "\n");
}

}  // namespace
}  // namespace dravix::test
