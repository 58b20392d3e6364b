// Every drive command the pages, the scan and the command line send, answered badly: short,
// empty, all FFh, with an odd sense, timed out, busy. Whatever the answer, nothing is reported as
// done, nothing the drive did not say is shown, and the drive is usable afterwards. Every write
// carried out whose answer is then lost or a failure is reported as what the drive holds; an
// answer cut short is a failed read.

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include <nlohmann/json.hpp>

#include "drive/BookTypeCommands.h"
#include "emu/Media.h"
#include "probix/ScanTexts.h"
#include "procedures/BookTypeProcedures.h"
#include "procedures/WriteCheck.h"
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

    const CliRun run = RunCliCapture(bus.Drives(), target.command);
    const bool mayStand = fault == Fault::AllFF && target.ffIsAnAnswer;
    if (!mayStand) {
        EXPECT_NE(run.status, 0) << run.out << run.err;
        EXPECT_EQ(run.out.find(target.madeUp), std::string::npos) << run.out;
    }
    EXPECT_EQ(run.out.find("sense 00/00/00"), std::string::npos);
    EXPECT_EQ(run.err.find("sense 00/00/00"), std::string::npos) << run.err;

    // The drive answers normally again, and the command line left it out of vendor mode.
    drive.ClearFaults();
    const CliRun after = RunCliCapture(bus.Drives(), {"testwrite"});
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

// --- writes that are carried out, and then their answer is lost or a failure ---------------------

enum class Answer { Lost, Failure, LostAndUnread };

struct Write {
    const char* name;
    emu::FaultRule match;  // the write
    std::vector<std::string> command;
    std::function<void(emu::VirtualDrive&)> setup;
    emu::FaultRule readBack;  // the read after the write (the reads before it are let through)
    const char* readAgain;    // the command that reads the setting again
    // The line the command prints for what the drive holds, and that line after the write.
    std::function<std::string(const emu::DriveState&)> holds;
    const char* wanted;
};

void PrintTo(const Write& write, std::ostream* out) {
    *out << write.name;
}

emu::FaultRule After(emu::FaultRule rule, uint32_t after) {
    rule.after = after;
    return rule;
}

std::string OptionLine(const char* label, const emu::OptionSetting& option) {
    const uint8_t state = option.Reported();
    return std::string(label) + (state >= 2 ? "on" : "off") + ((state & 1) ? " (until restart)" : "");
}

std::vector<Write> Writes() {
    using S = const emu::DriveState&;
    const auto options = [](size_t kind, const char* label) {
        return [kind, label](S s) { return OptionLine(label, s.options[kind]); };
    };
    const auto learned = [](emu::VirtualDrive& drive) { drive.SetLearnedDiscs({"ORIONDSCR16"}); };
    return {
        {"TestWrite",
         Match(0xFD, 0xFB, 0x02),
         {"testwrite", "on"},
         {},
         Match(0xFD, 0xFB, 0x00),
         "testwrite",
         [](S s) { return std::string("Test Write: ") + (s.testWrite ? "on" : "off"); },
         "Test Write: on"},
        {"Wopc",
         Match(0xFD, 0xFB, 0x03),
         {"wopc", "off"},
         {},
         Match(0xFD, 0xFB, 0x00),
         "wopc",
         [](S s) { return std::string("WOPC: ") + (s.wopcDisabled ? "off" : "on"); },
         "WOPC: off"},
        {"OverSpeedTemporary",
         Option(0x06),
         {"--yes", "overspeed", "on", "--temporary"},
         {},
         Option(0x01),
         "overspeed",
         options(2, "OverSpeed: "),
         "OverSpeed: on (until restart)"},
        {"OverSpeedPermanent",
         Option(0x06),
         {"--yes", "overspeed", "off", "--permanent"},
         [](emu::VirtualDrive& drive) { drive.SetOption(emu::OptionKind::OverSpeed, 3); },
         Option(0x01),
         "overspeed",
         options(2, "OverSpeed: "),
         "OverSpeed: off"},
        {"LumardUnknownPermanent",
         Option(0x02),
         {"--yes", "lumard", "--unknown", "off", "--permanent"},
         {},
         After(Option(0x01), 1),
         "lumard",
         options(0, "Un-Known Disc: "),
         "Un-Known Disc: off"},
        {"LumardSupportedTemporary",
         Option(0x02),
         {"--yes", "lumard", "--supported", "on", "--temporary"},
         {},
         After(Option(0x01), 1),
         "lumard",
         options(1, "Supported Disc: "),
         "Supported Disc: on (until restart)"},
        {"LumardClean",
         Option(0x03),
         {"--yes", "lumard", "clean"},
         learned,
         Option(0x05),
         "lumard learned",
         [](S s) { return "Learned Disc : " + std::to_string(s.learnedDiscs.size()) + " pcs"; },
         "Learned Disc : 0 pcs"},
        {"BookTypeRow",
         Match(0xFE, 0x05, {}, {{3, 0x00}}),
         {"--yes", "booktype", "set", "dvd+r", "dvd-rom"},
         {},
         After(Match(0xFF, 0x10, {}, {{2, 0x00}}), 1),
         "booktype",
         [](S s) { return std::string("For DVD+R Disc : ") + BookTypeName(s.bookTypes[1]); },
         "For DVD+R Disc : DVD-ROM"},
        {"BookTypeMedia",
         Match(0xFE, 0x02),
         {"--yes", "booktype", "set-media", "dvd-rom"},
         Insert("dvd+rw-recorded"),
         Match(0xAD, {}, {}, {{7, 0x00}}),
         "booktype",
         [](S s) { return std::string("Book Type : ") + DisplayOfDiscBookType(s.disc->bookType >> 4).name; },
         "Book Type : DVD-ROM"},
    };
}

const char* AnswerName(Answer answer) {
    constexpr const char* kNames[] = {"Lost", "Failure", "LostAndUnread"};
    return kNames[static_cast<int>(answer)];
}

class WriteAnswers : public ::testing::TestWithParam<std::tuple<Write, Answer>> {
  protected:
    void SetUp() override { unsetenv("DRAVIX_ASPI_LIBRARY"); }
    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
};

TEST_P(WriteAnswers, TheReportIsWhatTheDriveHolds) {
    const auto& [write, answer] = GetParam();
    if (write.setup) write.setup(drive);
    emu::FaultRule rule = write.match;
    rule.once = true;
    rule.action = answer == Answer::Failure ? emu::FaultRule::Action::AppliedCheck
                                            : emu::FaultRule::Action::AppliedTimeout;
    rule.sense = {0x04, 0x44, 0x00};
    drive.AddFault(rule);
    if (answer == Answer::LostAndUnread) {
        emu::FaultRule unread = write.readBack;
        unread.sense = {0x04, 0x44, 0x00};
        drive.AddFault(unread);
    }
    const emu::DriveState before = drive.State();

    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "json" : "text");
        drive.ReplaceState(before);
        std::vector<std::string> command = write.command;
        if (json) command.insert(command.begin(), "--json");
        const CliRun run = RunCliCapture(bus.Drives(), command);
        // The write was carried out whatever its answer said.
        const std::string held = write.holds(drive.State());
        ASSERT_EQ(held, write.wanted);
        const std::string unread =
            write_texts::AnswerLostUnread(std::string("`dravix-cli ") + write.readAgain + "`");
        if (answer == Answer::LostAndUnread) {
            EXPECT_EQ(run.status, 1) << run.out << run.err;
            if (!json) {
                EXPECT_NE(run.err.find(unread), std::string::npos) << run.err;
            }
        } else {
            EXPECT_EQ(run.status, 0) << run.out << run.err;
            if (!json) {
                EXPECT_NE(run.out.find(held), std::string::npos) << run.out;
                EXPECT_NE(run.err.find(write_texts::kAnswerLostSettingHeld), std::string::npos) << run.err;
            }
        }
        if (json) {
            const auto report = nlohmann::json::parse(run.out);
            const auto& written = report["write"];
            if (answer == Answer::LostAndUnread) {
                EXPECT_TRUE(written["written"].is_null()) << run.out;
                EXPECT_TRUE(written["confirmed"].is_null()) << run.out;
                EXPECT_EQ(report["error"]["message"], unread);
            } else {
                EXPECT_EQ(written["written"], true) << run.out;
                EXPECT_EQ(written["confirmed"], true) << run.out;
            }
            EXPECT_EQ(written["answer_lost"], true) << run.out;
        }
        EXPECT_FALSE(drive.State().vendorMode);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryWrite, WriteAnswers,
                         ::testing::Combine(::testing::ValuesIn(Writes()),
                                            ::testing::Values(Answer::Lost, Answer::Failure,
                                                              Answer::LostAndUnread)),
                         [](const ::testing::TestParamInfo<std::tuple<Write, Answer>>& info) {
                             return std::string(std::get<0>(info.param).name) + "_" +
                                    AnswerName(std::get<1>(info.param));
                         });

// --- GET PERFORMANCE cut short ------------------------------------------------------------------

struct CutShort {
    const char* name;
    std::vector<std::string> command;
    int status;
    const char* shown;  // on standard output, or standard error
};

void PrintTo(const CutShort& row, std::ostream* out) {
    *out << row.name;
}

class CutShortSpeeds : public ::testing::TestWithParam<std::tuple<CutShort, size_t>> {
  protected:
    void SetUp() override { unsetenv("DRAVIX_ASPI_LIBRARY"); }
    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
};

// A blank DVD+R offers seven speeds: 120 bytes whose header claims 116. Fewer bytes are a failed
// read, never a shorter list.
TEST_P(CutShortSpeeds, AreAFailedRead) {
    const auto& [row, delivered] = GetParam();
    Insert("dvd+r")(drive);
    const uint8_t cdb[12] = {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, 10, 0x03, 0};
    std::vector<uint8_t> whole(200);
    const emu::ScsiOutcome outcome = drive.Execute(cdb, sizeof cdb, 2, whole.data(), 200, 0);
    ASSERT_EQ(outcome.transferred, 120u);
    ASSERT_EQ(whole[3], 116);
    emu::FaultRule rule = Match(0xAC);
    rule.action = emu::FaultRule::Action::Reply;
    rule.reply.assign(whole.begin(), whole.begin() + static_cast<long>(delivered));
    drive.AddFault(rule);

    const CliRun run = RunCliCapture(bus.Drives(), row.command);
    EXPECT_EQ(run.status, row.status) << run.out << run.err;
    EXPECT_NE((run.out + run.err).find(row.shown), std::string::npos) << run.out << run.err;
    EXPECT_EQ(run.out.find("MB"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("recommended"), std::string::npos) << run.out;
}

INSTANTIATE_TEST_SUITE_P(
    GetPerformance, CutShortSpeeds,
    ::testing::Combine(::testing::Values(CutShort{"Info", {"info"}, 1, "Blank Disc Capacity: (not read)"},
                                         CutShort{"Scan", kScan, 3, scan_texts::kInsertBlankDisc},
                                         CutShort{"Smart", {"smart"}, 3, scan_texts::kInsertBlankDisc}),
                       ::testing::Values(size_t{60}, size_t{119})),
    [](const ::testing::TestParamInfo<std::tuple<CutShort, size_t>>& info) {
        return std::string(std::get<0>(info.param).name) + "_" + std::to_string(std::get<1>(info.param));
    });

// --- the read test ------------------------------------------------------------------------------

struct ReadFault {
    const char* name;
    const char* media;
    std::vector<emu::FaultRule> rules;
    std::vector<std::string> more;  // arguments after the range and the image
    int status;
    const char* end;
    // Added when the first sector read comes (a drive that hangs once the run is under way).
    std::vector<emu::FaultRule> atFirstRead = {};
    // The speed command the drive is found to have taken, even when its answer was lost.
    const char* method = nullptr;
};

void PrintTo(const ReadFault& row, std::ostream* out) {
    *out << row.name;
}

emu::FaultRule With(emu::FaultRule rule, emu::FaultRule::Action action, emu::SenseCode sense = {},
                    uint32_t after = 0, bool once = false) {
    rule.action = action;
    rule.sense = sense;
    rule.after = after;
    rule.once = once;
    return rule;
}

constexpr uint32_t kReadSectors = 4096;  // the range of every run, and its image

std::vector<ReadFault> ReadFaults() {
    using A = emu::FaultRule::Action;
    const emu::FaultRule read = Match(0x28);
    const emu::SenseCode mediumChanged{0x06, 0x28, 0x00};
    std::vector<emu::FaultRule> busyFiveTimes;
    for (int i = 0; i < 5; ++i) busyFiveTimes.push_back(With(read, A::Busy, {}, 3, true));
    std::vector<ReadFault> rows = {
        {"Healthy", "dvd-rom", {}, {}, 0, "finished"},
        {"ReadLost", "dvd-rom", {With(read, A::AppliedTimeout, {}, 3, true)}, {}, 0, "finished"},
        {"ReadShort",
         "dvd-rom",
         {[&] {
             emu::FaultRule r = With(read, A::Reply, {}, 3, true);
             r.reply.assign(1000, 0);
             return r;
         }()},
         {},
         0,
         "finished"},
        {"ReadBusyFiveTimes", "dvd-rom", busyFiveTimes, {}, 0, "finished"},
        {"ReadRecovered",
         "dvd-rom",
         {With(read, A::AppliedCheck, {0x01, 0x17, 0x01}, 3, true)},
         {},
         0,
         "finished"},
        // The drive's own sense, ABORTED COMMAND included, is a read error of the sector.
        {"ReadAborted",
         "dvd-rom",
         {With(Match(0x28, {}, {}, {{5, 0x40}}), A::CheckCondition, {0x0B, 0x00, 0x00})},
         {},
         4,
         "finished"},
        {"ReadBusError", "dvd-rom", {With(read, A::AdapterError, {}, 3, true)}, {}, 1, "connection-failed"},
        // TEST UNIT READY answers: the disc is at fault and the test goes on.
        {"ReadHungDriveAnswers", "dvd-rom", {With(read, A::HostTimeout, {}, 3)}, {}, 4, "finished"},
        {"ReadHungDriveSilent",
         "dvd-rom",
         {With(read, A::HostTimeout, {}, 3)},
         {},
         1,
         "drive-not-answering",
         {With(Match(0x00), A::HostTimeout)}},
        {"StreamingLost",
         "dvd-rom",
         {With(Match(0xB6), A::AppliedTimeout)},
         {"--speed", "8X"},
         0,
         "finished",
         {},
         "SET STREAMING"},
        {"CdSpeedLost",
         "cd-rom",
         {With(Match(0xBB), A::AppliedTimeout)},
         {"--speed", "8X"},
         0,
         "finished",
         {},
         "SET CD SPEED"},
    };
    // A medium change on any command of the run ends it as a disc change.
    for (const auto& [name, media, opcode] : {std::tuple{"ChangedOnConfiguration", "dvd-rom", 0x46},
                                              {"ChangedOnDiscInformation", "dvd-rom", 0x51},
                                              {"ChangedOnCapacity", "dvd-rom", 0x25},
                                              {"ChangedOnToc", "dvd-rom", 0x43},
                                              {"ChangedOnTrackInformation", "dvd-rom", 0x52},
                                              {"ChangedOnStructure", "dvd-rom", 0xAD},
                                              {"ChangedOnPerformance", "dvd-rom", 0xAC},
                                              {"ChangedOnModeSense", "dvd-rom", 0x5A},
                                              {"ChangedOnStreaming", "dvd-rom", 0xB6},
                                              {"ChangedOnCdSpeed", "cd-rom", 0xBB},
                                              {"ChangedOnRead", "dvd-rom", 0x28}})
        rows.push_back({name,
                        media,
                        {With(Match(static_cast<uint8_t>(opcode)), A::CheckCondition, mediumChanged,
                              opcode == 0x28 ? 3u : 0u, true)},
                        {"--speed", "8X"},
                        1,
                        "disc-changed"});
    return rows;
}

class ReadTestFaults : public ::testing::TestWithParam<ReadFault> {
  protected:
    void SetUp() override { unsetenv("DRAVIX_ASPI_LIBRARY"); }
    // The first sectors of `media` as an image file: a healthy run over them matches it.
    std::string Image(const char* media) {
        // Named after the case: the cases run side by side in processes of their own.
        const auto path = std::filesystem::path(::testing::TempDir()) /
                          (std::string(media) + "-" + GetParam().name + "-start.iso");
        std::ofstream file(path, std::ios::binary);
        std::vector<uint8_t> sector(2048);
        for (uint32_t lba = 0; lba < kReadSectors; ++lba) {
            emu::FillSector(*emu::FindMedia(media), lba, sector.data());
            file.write(reinterpret_cast<const char*>(sector.data()), 2048);
        }
        return path.string();
    }
    VirtualBus bus;
    emu::VirtualDrive& drive = bus.AddDrive();
};

TEST_P(ReadTestFaults, NoSectorIsReadThatNoReadDeliveredAndOnlyACompleteComparisonMatches) {
    const ReadFault& row = GetParam();
    Insert(row.media)(drive);
    for (const emu::FaultRule& rule : row.rules) drive.AddFault(rule);
    // The drive's clock is simulated: a command that never completes costs its whole time-out.
    std::atomic<uint64_t> simulatedUs{0};
    drive.SetMicrosecondSleeper([&](uint64_t us) { simulatedUs += us; });
    std::atomic<uint64_t> delivered{0};
    std::atomic<bool> reading{false};
    drive.SetTraceHook([&](const uint8_t* cdb, size_t, const emu::ScsiOutcome& outcome) {
        if (cdb[0] != 0x28) return;
        const bool brought = outcome.kind == emu::ScsiOutcome::Kind::Good ||
                             outcome.kind == emu::ScsiOutcome::Kind::CheckCondition;
        if (brought) delivered += outcome.transferred / 2048;
        if (!reading.exchange(true))
            for (const emu::FaultRule& rule : row.atFirstRead) drive.AddFault(rule);
    });
    std::vector<std::string> args = {"--json",   "readtest",      "--start",
                                     "0",        "--end",         std::to_string(kReadSectors - 1),
                                     "--verify", Image(row.media)};
    args.insert(args.end(), row.more.begin(), row.more.end());
    const CliRun run = RunCliCapture(bus.Drives(), args);
    drive.SetTraceHook(nullptr);
    EXPECT_EQ(run.status, row.status) << run.out;
    const auto report = nlohmann::json::parse(run.out);
    EXPECT_EQ(report["end"], row.end) << run.out;
    EXPECT_EQ(report["sectors"]["read"], delivered.load()) << run.out;
    // A run without a verdict (or that ended before its first read) matches nothing.
    const auto& verify = report["verify"];
    const bool matched = verify.is_object() && verify["matches"] == true;
    if (matched) {
        EXPECT_EQ(verify["complete"], true);
        EXPECT_EQ(verify["compared_sectors"], kReadSectors);
        EXPECT_EQ(report["sectors"]["planned"], kReadSectors);
    }
    if (row.end != std::string("finished")) {
        EXPECT_TRUE(verify.is_null() || verify["matches"].is_null()) << run.out;
    }
    // The healthy run and every fault the drive got over match the image in full.
    EXPECT_EQ(matched, row.status == 0) << run.out;
    if (row.method) {
        EXPECT_EQ(report["speed"]["method"], row.method) << run.out;
    }
    // A drive that stops answering ends the test within minutes of its own time.
    if (row.end == std::string("drive-not-answering")) {
        EXPECT_LT(simulatedUs.load(), 180'000'000u);
    }
}

INSTANTIATE_TEST_SUITE_P(EveryFault, ReadTestFaults, ::testing::ValuesIn(ReadFaults()),
                         [](const ::testing::TestParamInfo<ReadFault>& info) { return info.param.name; });

}  // namespace
}  // namespace dravix::test
