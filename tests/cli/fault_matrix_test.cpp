// Every drive command the pages, the scan and the command line send, answered badly: short,
// empty, all FFh, with an odd sense, timed out, busy. Whatever the answer, nothing is reported as
// done, nothing the drive did not say is shown, and the drive is usable afterwards.

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>

#include "probix/ScanTexts.h"
#include "tests/support/CliRunner.h"
#include "tests/support/VirtualBus.h"

namespace dravix::test {
namespace {

enum class Fault { Short, Empty, AllFF, OddSense, TimeOut, Busy };

struct Target {
    const char* name;
    emu::FaultRule match;  // which command the fault hits
    size_t needed;         // bytes its answer must carry; a short answer has one less
    std::vector<std::string> command;
    std::function<void(emu::VirtualDrive&)> setup;
    // What the output would show if the answer were decoded as zeros or a write taken as done.
    const char* madeUp;
    // All FFh bytes are an answer the drive can mean (a region mask, an unknown profile): shown,
    // and the command may succeed.
    bool ffIsAnAnswer = false;
};

void PrintTo(const Target& target, std::ostream* out) {
    *out << target.name;
}

emu::FaultRule Match(uint8_t opcode, std::optional<uint8_t> sub = {}, std::optional<uint8_t> function = {},
                     std::map<uint8_t, uint8_t> bytes = {}) {
    emu::FaultRule rule;
    rule.opcode = opcode;
    rule.subCode = sub;
    rule.function = function;
    rule.bytes = std::move(bytes);
    return rule;
}

emu::FaultRule Option(uint8_t operation) {
    return Match(0xFD, 0x1B, 0x16, {{7, operation}});
}

emu::FaultRule TeFe(uint8_t byte11) {
    return Match(0xFD, 0xFB, 0x05, {{11, byte11}});
}

// A disc loaded and spun up, its medium change already reported (so no command waits for it).
auto Insert(const char* media) {
    return [media](emu::VirtualDrive& drive) {
        drive.Insert(media);
        const uint8_t testUnitReady[6] = {};
        drive.Execute(testUnitReady, sizeof testUnitReady, 0, nullptr, 0, 0);
    };
}

const std::vector<std::string> kScan = {"scan", "--speed", "8X"};

std::vector<Target> Targets() {
    const auto learned = [](emu::VirtualDrive& drive) { drive.SetLearnedDiscs({"ORIONDSCR16"}); };
    return {
        {"ModeSense", Match(0x5A), 22, {"info"}, Insert("dvd+r"), "Buffer Size: 2M", true},
        {"RegionState", Match(0xA4), 6, {"info"}, Insert("dvd+r"), "All Region", true},
        {"Profile", Match(0x46), 8, {"info"}, Insert("dvd+r"), "Disc Type: N/A", true},
        {"Identifiers", Match(0xAD), 34, {"info"}, Insert("dvd+r"), "Manufacture ID: N/A", true},
        {"Capacity", Match(0xAC), 8, {"info"}, Insert("dvd+r"), "Blank Disc Capacity: 0", true},
        {"DriveBookType", Match(0xFF), 1, {"booktype"}, Insert("dvd+r"), "For DVD+R Disc : N/A"},
        {"DiscBookType", Match(0xAD), 5, {"booktype"}, Insert("dvd+r"), "Book Type : DVD-ROM"},
        {"DiscStatus", Match(0x51), 3, {"booktype"}, Insert("dvd+rw-recorded"), "Book Type : N/A", true},
        {"SetBookType",
         Match(0xFE),
         1,
         {"--yes", "booktype", "set", "dvd+r", "dvd-rom"},
         Insert("dvd+r"),
         "For DVD+R Disc : DVD-ROM"},
        {"OptionStates", Option(0x01), 3, {"overspeed"}, {}, "OverSpeed: off"},
        {"WriteOverSpeed",
         Option(0x06),
         1,
         {"--yes", "overspeed", "off", "--permanent"},
         [](emu::VirtualDrive& drive) { drive.SetOption(emu::OptionKind::OverSpeed, 3); },
         "OverSpeed: off"},
        {"WriteLumard",
         Option(0x02),
         1,
         {"--yes", "lumard", "--unknown", "on", "--permanent"},
         [](emu::VirtualDrive& drive) { drive.SetOption(emu::OptionKind::UnknownDisc, 0); },
         "Un-Known Disc: on"},
        {"LearnedCount", Option(0x05), 2, {"lumard", "learned"}, learned, "Learned Disc : 0 pcs"},
        {"LearnedDiscs", Option(0x07), 8, {"lumard", "learned"}, learned, "1: "},
        {"ClearLearned", Option(0x03), 1, {"--yes", "lumard", "clean"}, learned, "Learned Disc : 0 pcs"},
        {"SwitchStates",
         Match(0xFD, 0xFB, 0x00),
         3,
         {"testwrite"},
         [](emu::VirtualDrive& drive) { drive.SetTestWrite(true); },
         "Test Write: off"},
        {"SetTestWrite", Match(0xFD, 0xFB, 0x02), 1, {"testwrite", "on"}, {}, "Test Write: on"},
        {"SetWopc", Match(0xFD, 0xFB, 0x03), 1, {"wopc", "off"}, {}, "WOPC: off"},
        {"TeReference", TeFe(0x03), 3, kScan, Insert("dvd+r"), scan_texts::kVerdictOk},
        {"FeReference", TeFe(0x04), 3, kScan, Insert("dvd+r"), scan_texts::kVerdictOk},
        {"Measurement", TeFe(0x00), 7, kScan, Insert("dvd+r"), scan_texts::kVerdictOk},
        {"DiscIdentity", Match(0xAD), 34, kScan, Insert("dvd+r"), scan_texts::kVerdictOk, true},
        {"SmartMeasurement", TeFe(0x00), 7, {"smart"}, Insert("dvd+r"), scan_texts::kSpeedOk},
        {"SmartIdentity", Match(0xAD), 34, {"smart"}, Insert("dvd+r"), "Manufacture ID: N/A", true},
    };
}

emu::FaultRule Injected(const Target& target, Fault fault) {
    emu::FaultRule rule = target.match;
    switch (fault) {
        case Fault::Short:
            rule.action = emu::FaultRule::Action::Reply;
            rule.reply.assign(target.needed - 1, 0);
            break;
        case Fault::Empty:
            rule.action = emu::FaultRule::Action::Reply;
            break;
        case Fault::AllFF:
            rule.action = emu::FaultRule::Action::Reply;
            rule.reply.assign(255, 0xFF);
            break;
        case Fault::OddSense:
            rule.action = emu::FaultRule::Action::CheckCondition;
            rule.sense = {0x0B, 0x47, 0x00};
            break;
        case Fault::TimeOut:
            rule.action = emu::FaultRule::Action::HostTimeout;
            break;
        case Fault::Busy:
            rule.action = emu::FaultRule::Action::Busy;
            break;
    }
    return rule;
}

const char* FaultName(Fault fault) {
    constexpr const char* kNames[] = {"Short", "Empty", "AllFF", "OddSense", "TimeOut", "Busy"};
    return kNames[static_cast<int>(fault)];
}

void PrintTo(Fault fault, std::ostream* out) {
    *out << FaultName(fault);
}

class FaultMatrix : public ::testing::TestWithParam<std::tuple<Target, Fault>> {
  protected:
    void SetUp() override { unsetenv("DRAVIX_ASPI_LIBRARY"); }
    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
};

TEST_P(FaultMatrix, NothingIsDoneOrShownThatTheDriveDidNotSay) {
    const auto& [target, fault] = GetParam();
    if (target.setup) target.setup(drive);
    drive.AddFault(Injected(target, fault));

    const CliRun run = RunCliCapture(target.command);
    const bool mayStand = fault == Fault::AllFF && target.ffIsAnAnswer;
    if (!mayStand) {
        EXPECT_NE(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.out.find(target.madeUp), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.out.find("sense 00/00/00"), std::string::npos);
    EXPECT_EQ(run.err.find("sense 00/00/00"), std::string::npos) << run.err;

    // The drive answers normally again, and the command line left it out of vendor mode.
    drive.ClearFaults();
    const CliRun after = RunCliCapture({"testwrite"});
    EXPECT_EQ(after.status, 0) << after.err;
    EXPECT_FALSE(drive.State().vendorMode);
}

INSTANTIATE_TEST_SUITE_P(EveryCommand, FaultMatrix,
                         ::testing::Combine(::testing::ValuesIn(Targets()),
                                            ::testing::Values(Fault::Short, Fault::Empty, Fault::AllFF,
                                                              Fault::OddSense, Fault::TimeOut, Fault::Busy)),
                         [](const ::testing::TestParamInfo<std::tuple<Target, Fault>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    FaultName(std::get<1>(info.param));
                         });

}  // namespace
}  // namespace dravix::test
