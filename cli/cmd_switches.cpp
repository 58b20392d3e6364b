// overspeed, lumard, testwrite, wopc: the drive's firmware switches, read and written with the
// same commands, confirmations and refusals as their pages.

#include <cstdio>
#include <nlohmann/json.hpp>
#include <optional>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "drive/Scsi.h"

namespace dravix::cli {

namespace {

using nlohmann::json;

std::string HexByte(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02Xh", value);
    return text;
}

// "Set Command FAIL (status 1, sense 05/24/00)": the page's text and what a script needs to know.
std::string FailureText(const char* text, const DriveTable& table, uint8_t status) {
    char detail[64];
    std::snprintf(detail, sizeof detail, " (status %d, sense %02X/%02X/%02X)", status, table.SenseKey(),
                  table.SenseAsc(), table.SenseAscq());
    return std::string(text) + detail;
}

// What the pages say when the drive refuses vendor mode: before a read (or the clean tool) string
// 104 under "Error", before a write "Not support the drive!".
enum class Refusal { Read, Write };

// Runs one vendor sequence with the prologue every page uses. False (after saying so) when the
// drive refuses vendor mode.
bool InVendorMode(CliContext& context, DriveTable& table, const std::function<void()>& sequence,
                  Refusal refusal = Refusal::Read) {
    table.WaitUntilReady();
    if (WithVendorMode(table, sequence)) return true;
    if (refusal == Refusal::Read) {
        context.Err() << option_texts::kCaptionError << ": " << option_texts::kDriveNotSupported << "\n";
    } else {
        context.Err() << option_texts::kNotSupportTheDrive << "\n";
    }
    return false;
}

// An option state byte as text and as JSON.
std::string OptionText(uint8_t state) {
    const std::optional<bool> on = OptionStateIsOn(state);
    if (!on) return "unknown (" + HexByte(state) + ")";
    return std::string(*on ? "on" : "off") + ((state & 1) ? " (until restart)" : "");
}

json OptionJson(uint8_t state) {
    const std::optional<bool> on = OptionStateIsOn(state);
    if (!on) return {{"on", nullptr}, {"temporary", nullptr}, {"state", state}};
    return {{"on", *on}, {"temporary", (state & 1) != 0}, {"state", state}};
}

std::string FlagText(std::optional<bool> on, uint8_t raw) {
    if (!on) return "unknown (" + HexByte(raw) + ")";
    return *on ? "on" : "off";
}

json FlagJson(std::optional<bool> on, uint8_t raw) {
    return {{"on", on ? json(*on) : json(nullptr)}, {"state", raw}};
}

std::optional<bool> ParseOnOff(const std::string& word) {
    if (word == "on") return true;
    if (word == "off") return false;
    return std::nullopt;
}

// "--temporary" / "--permanent"; nullopt for anything else.
std::optional<SettingScope> ParseScope(const std::string& word) {
    if (word == "--temporary") return SettingScope::Temporary;
    if (word == "--permanent") return SettingScope::Permanent;
    return std::nullopt;
}

bool ConfirmScope(CliContext& context, SettingScope scope) {
    return context.Confirm(scope == SettingScope::Temporary ? option_texts::kConfirmTemporary
                                                            : option_texts::kConfirmPermanent);
}

int NothingChanged(CliContext& context) {
    context.Err() << option_texts::kNothingChanged << "\n";
    return kExitFailed;
}

// Reads the option states; prints the failure and gives nullopt when that is not possible.
std::optional<OptionReply> ReadOptions(CliContext& context, DriveTable& table, int& exitCode) {
    OptionReply reply;
    uint8_t status = kCommandFailed;
    if (!InVendorMode(context, table, [&] { status = ReadOptionStates(table, reply); })) {
        exitCode = kExitNoDrive;
        return std::nullopt;
    }
    if (status != kCommandCompleted) {
        context.Err() << FailureText(option_texts::kSetCommandFail, table, status) << "\n";
        exitCode = kExitFailed;
        return std::nullopt;
    }
    return reply;
}

// Sends one option write; the SendCommand status, or nullopt when vendor mode was refused.
std::optional<uint8_t> WriteOption(CliContext& context, DriveTable& table,
                                   const std::function<uint8_t()>& write) {
    uint8_t status = kCommandFailed;
    if (!InVendorMode(
            context, table, [&] { status = write(); }, Refusal::Write))
        return std::nullopt;
    if (status != kCommandCompleted)
        context.Err() << FailureText(option_texts::kSetCommandFail, table, status) << "\n";
    return status;
}

// --- overspeed ----------------------------------------------------------------------------------

int PrintOverSpeed(CliContext& context, DriveTable& table, std::optional<bool> written) {
    int exitCode = kExitOk;
    const std::optional<OptionReply> reply = ReadOptions(context, table, exitCode);
    if (!reply) return exitCode;
    const uint8_t state = (*reply)[kOverSpeedByte];
    if (context.Options().json) {
        json object = {{"overSpeed", OptionJson(state)}};
        if (written) object["written"] = *written;
        context.PrintJson(object);
    } else {
        context.Out() << "OverSpeed: " << OptionText(state) << "\n";
    }
    return written.value_or(true) ? kExitOk : kExitFailed;
}

}  // namespace

int RunOverSpeed(CliContext& context, const std::vector<std::string>& args) {
    std::optional<bool> on;
    std::optional<SettingScope> scope;
    if (!args.empty()) {
        if (args.size() != 2)
            return UsageError(context, "overspeed takes on|off and --temporary|--permanent");
        on = ParseOnOff(args[0]);
        scope = ParseScope(args[1]);
        if (!on || !scope) return UsageError(context, "overspeed takes on|off and --temporary|--permanent");
    }
    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return kExitNoDrive;
    if (!on) return PrintOverSpeed(context, *table, std::nullopt);

    if (*on && !context.Confirm(option_texts::kOverSpeedWarning)) return NothingChanged(context);
    if (!ConfirmScope(context, *scope)) return NothingChanged(context);
    // The page opens the tray and waits for the user to take the disc out; a script cannot, so
    // the command stops here.
    if (!table->WaitUntilReady()) {
        context.Err() << option_texts::kRemoveMedia << "\n";
        return kExitFailed;
    }
    const uint8_t state = OptionStateByte(*on, *scope);
    const std::optional<uint8_t> status =
        WriteOption(context, *table, [&] { return WriteOverSpeed(*table, state); });
    if (!status) return kExitNoDrive;
    return PrintOverSpeed(context, *table, *status == kCommandCompleted);
}

// --- lumard -------------------------------------------------------------------------------------

namespace {

int PrintLumard(CliContext& context, DriveTable& table, std::optional<bool> written) {
    int exitCode = kExitOk;
    const std::optional<OptionReply> reply = ReadOptions(context, table, exitCode);
    if (!reply) return exitCode;
    const OptionReply& r = *reply;
    if (context.Options().json) {
        json object = {{"supportedDisc", OptionJson(r[kSupportedDiscByte])},
                       {"unknownDisc", OptionJson(r[kUnknownDiscByte])},
                       {"overSpeed", OptionJson(r[kOverSpeedByte])}};
        if (written) object["written"] = *written;
        context.PrintJson(object);
    } else {
        context.Out() << "Supported Disc: " << OptionText(r[kSupportedDiscByte]) << "\n"
                      << "Un-Known Disc: " << OptionText(r[kUnknownDiscByte]) << "\n";
    }
    return written.value_or(true) ? kExitOk : kExitFailed;
}

// The learned count and the learned discs, as the page's clean tool shows them (all records, not
// only the first six).
int PrintLearned(CliContext& context, DriveTable& table, std::optional<bool> cleared) {
    OptionReply countReply;
    MediaInformationReply infoReply;
    uint8_t countStatus = kCommandFailed;
    uint8_t infoStatus = kCommandFailed;
    const bool vendor = InVendorMode(context, table, [&] {
        countStatus = ReadLearnedCount(table, countReply);
        if (countStatus == kCommandCompleted) infoStatus = ReadMediaInformation(table, infoReply);
    });
    if (!vendor) return kExitNoDrive;
    if (countStatus != kCommandCompleted || infoStatus != kCommandCompleted) {
        context.Err() << FailureText(option_texts::kSetCommandFail, table,
                                     countStatus != kCommandCompleted ? countStatus : infoStatus)
                      << "\n";
        return kExitFailed;
    }
    const MediaInformation info = DecodeMediaInformation(infoReply);
    if (!info.headerValid) {
        context.Err() << option_texts::kResponseError << "\n";
        return kExitFailed;
    }
    const uint16_t count = LearnedCountOf(countReply);
    if (context.Options().json) {
        json object = {{"learnedCount", count}, {"discs", info.records}};
        if (cleared) object["cleared"] = *cleared;
        context.PrintJson(object);
    } else {
        context.Out() << "Learned Disc : " << count << " pcs\n";
        for (size_t i = 0; i < info.records.size(); ++i) {
            context.Out() << (i + 1) << ": " << CliContext::Escaped(info.records[i]) << "\n";
        }
    }
    return cleared.value_or(true) ? kExitOk : kExitFailed;
}

int RunLumardClean(CliContext& context, DriveTable& table) {
    if (!context.Confirm(option_texts::kCleanWarning)) return NothingChanged(context);
    uint8_t status = kCommandFailed;
    if (!InVendorMode(context, table, [&] { status = ClearLearnedDiscs(table); })) return kExitNoDrive;
    if (status != kCommandCompleted)
        context.Err() << FailureText(option_texts::kClearFail, table, status) << "\n";
    return PrintLearned(context, table, status == kCommandCompleted);
}

struct LumardArgs {
    std::optional<bool> supported;
    std::optional<bool> unknown;
    std::optional<SettingScope> scope;
};

bool ParseLumardArgs(const std::vector<std::string>& args, LumardArgs& parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        if (const std::optional<SettingScope> scope = ParseScope(args[i])) {
            if (parsed.scope) return false;
            parsed.scope = scope;
            continue;
        }
        std::optional<bool>* pair = args[i] == "--supported" ? &parsed.supported
                                    : args[i] == "--unknown" ? &parsed.unknown
                                                             : nullptr;
        if (pair == nullptr || pair->has_value() || i + 1 >= args.size()) return false;
        *pair = ParseOnOff(args[++i]);
        if (!pair->has_value()) return false;
    }
    return parsed.scope && (parsed.supported || parsed.unknown);
}

int RunLumardSet(CliContext& context, DriveTable& table, const LumardArgs& request) {
    int exitCode = kExitOk;
    const std::optional<OptionReply> reply = ReadOptions(context, table, exitCode);
    if (!reply) return exitCode;
    if (OptionStateIsOn((*reply)[kOverSpeedByte]).value_or(false)) {
        context.Err() << option_texts::kLumardOverSpeedActive;
        return kExitFailed;
    }
    // A pair the command line leaves out keeps exactly what the drive reports for it.
    auto stateFor = [&](const std::optional<bool>& wanted, size_t byte,
                        const char* option) -> std::optional<uint8_t> {
        if (wanted) return OptionStateByte(*wanted, *request.scope);
        if (OptionStateIsOn((*reply)[byte])) return (*reply)[byte];
        context.Err() << option_texts::kNoValidState << " " << option << " (" << HexByte((*reply)[byte])
                      << ")\n";
        return std::nullopt;
    };
    const std::optional<uint8_t> unknownState = stateFor(request.unknown, kUnknownDiscByte, "--unknown");
    const std::optional<uint8_t> supportedState =
        stateFor(request.supported, kSupportedDiscByte, "--supported");
    if (!unknownState || !supportedState) return kExitFailed;

    if (!ConfirmScope(context, *request.scope)) return NothingChanged(context);
    const std::optional<uint8_t> status =
        WriteOption(context, table, [&] { return WriteLumard(table, *unknownState, *supportedState); });
    if (!status) return kExitNoDrive;
    return PrintLumard(context, table, *status == kCommandCompleted);
}

}  // namespace

int RunLumard(CliContext& context, const std::vector<std::string>& args) {
    const char* usage =
        "lumard takes learned, clean, or [--supported on|off] [--unknown on|off] "
        "--temporary|--permanent";
    LumardArgs request;
    const bool single = args.size() == 1;
    const bool learned = single && args[0] == "learned";
    const bool clean = single && args[0] == "clean";
    if (!args.empty() && !learned && !clean && !ParseLumardArgs(args, request))
        return UsageError(context, usage);

    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return kExitNoDrive;
    if (learned) return PrintLearned(context, *table, std::nullopt);
    if (clean) return RunLumardClean(context, *table);
    if (args.empty()) return PrintLumard(context, *table, std::nullopt);
    return RunLumardSet(context, *table, request);
}

// --- testwrite, wopc ----------------------------------------------------------------------------

namespace {

// Both switches come from the same read: byte 1 Test Write, byte 2 the WOPC disabled flag.
int PrintSwitch(CliContext& context, DriveTable& table, bool wopc, std::optional<bool> written) {
    OptionReply reply;
    uint8_t status = kCommandFailed;
    if (!InVendorMode(context, table, [&] { status = ReadSwitchStates(table, reply); })) return kExitNoDrive;
    if (status != kCommandCompleted) {
        context.Err() << FailureText(option_texts::kSetCommandFail, table, status) << "\n";
        return kExitFailed;
    }
    const uint8_t raw = reply[wopc ? kWopcDisabledByte : kTestWriteByte];
    std::optional<bool> on = SwitchFlag(raw);
    if (wopc && on) on = !*on;  // the drive reports whether WOPC is disabled
    if (context.Options().json) {
        json object = {{wopc ? "wopc" : "testWrite", FlagJson(on, raw)}};
        if (written) object["written"] = *written;
        context.PrintJson(object);
    } else {
        context.Out() << (wopc ? "WOPC: " : "Test Write: ") << FlagText(on, raw) << "\n";
    }
    return written.value_or(true) ? kExitOk : kExitFailed;
}

int RunSwitch(CliContext& context, const std::vector<std::string>& args, bool wopc) {
    const char* name = wopc ? "wopc" : "testwrite";
    std::optional<bool> on;
    if (!args.empty()) {
        if (args.size() == 1) on = ParseOnOff(args[0]);
        if (!on) return UsageError(context, std::string(name) + " takes on or off");
    }
    DriveTable* table = context.OpenDrive();
    if (table == nullptr) return kExitNoDrive;
    if (!on) return PrintSwitch(context, *table, wopc, std::nullopt);

    const std::optional<uint8_t> status = WriteOption(
        context, *table, [&] { return wopc ? SetWopcDisabled(*table, !*on) : SetTestWrite(*table, *on); });
    if (!status) return kExitNoDrive;
    return PrintSwitch(context, *table, wopc, *status == kCommandCompleted);
}

}  // namespace

int RunTestWrite(CliContext& context, const std::vector<std::string>& args) {
    return RunSwitch(context, args, /*wopc=*/false);
}

int RunWopc(CliContext& context, const std::vector<std::string>& args) {
    return RunSwitch(context, args, /*wopc=*/true);
}

}  // namespace dravix::cli
