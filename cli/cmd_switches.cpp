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

constexpr uint8_t kSenseIllegalRequest = 0x05;

std::string HexByte(uint8_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "%02Xh", value);
    return text;
}

// "Set Command FAIL (status 1, sense 05/24/00)": the page's text and what a script needs to know,
// from the command that failed (not from the vendor mode off after it).
std::string FailureText(const char* text, const DriveTable::Failure& failure) {
    return std::string(text) + FailureDetail(failure);
}

// What the pages say when the drive refuses vendor mode: before a read (or the clean tool) string
// 104 under "Error", before a write "Not support the drive!".
enum class Refusal { Read, Write };

// The page's text; a drive that did not simply reject the command (one that timed out or
// reported a hardware error) also gets what it reported.
void SayRefused(CliContext& context, Refusal refusal, const DriveTable::Failure& failure) {
    const bool rejected = failure.status == kCommandFailed && failure.sense.key == kSenseIllegalRequest;
    const std::string detail = rejected ? std::string() : FailureDetail(failure);
    if (refusal == Refusal::Read) {
        context.Err() << option_texts::kCaptionError << ": " << option_texts::kDriveNotSupported << detail
                      << "\n";
    } else {
        context.Err() << option_texts::kNotSupportTheDrive << detail << "\n";
    }
}

// Runs one vendor sequence with the prologue every page uses. False (after saying so) when the
// drive refuses vendor mode.
bool InVendorMode(CliContext& context, DriveTable& table, const std::function<void()>& sequence,
                  Refusal refusal = Refusal::Read) {
    table.WaitUntilReady();
    if (WithVendorMode(table, sequence)) return true;
    SayRefused(context, refusal, table.LastFailure());
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
        context.Err() << FailureText(option_texts::kSetCommandFail, table.LastFailure()) << "\n";
        exitCode = kExitFailed;
        return std::nullopt;
    }
    return reply;
}

// Prints the state lines of a reply (into the JSON object, or as text); false when one of them
// is a value the drive cannot mean.
using StatePrinter = std::function<bool(CliContext& context, const OptionReply& reply, json& object)>;

// A state that is not one the drive can mean is shown as unknown, and the command fails.
int ShowState(CliContext& context, const OptionReply& reply, const StatePrinter& print, json object = {}) {
    const bool plausible = print(context, reply, object);
    if (context.Options().json) context.PrintJson(object);
    if (plausible) return kExitOk;
    context.Err() << "The drive reports a state that is not one of its settings.\n";
    return kExitFailed;
}

// What a write ended with, told as the pages tell it, and the state the drive reports after it.
int ReportWrite(CliContext& context, const VerifiedWrite& write, const char* name, const StatePrinter& print,
                Refusal refusal = Refusal::Write) {
    json object = {{"written", write.check == WriteCheck::Confirmed || write.check == WriteCheck::Differs ||
                                   write.check == WriteCheck::ReadBackFailed},
                   {"confirmed", write.Done()}};
    switch (write.check) {
        case WriteCheck::Refused:
            SayRefused(context, refusal, write.failure);
            return kExitNoDrive;
        case WriteCheck::WriteFailed:
            context.Err() << FailureText(option_texts::kSetCommandFail, write.failure) << "\n";
            if (context.Options().json) context.PrintJson(object);
            return kExitFailed;
        case WriteCheck::ReadBackFailed:
            context.Err() << name << ": " << FailureText(option_texts::kNotReadBack, write.failure) << "\n";
            if (context.Options().json) context.PrintJson(object);
            return kExitFailed;
        case WriteCheck::Differs:
            ShowState(context, write.reported, print, object);
            context.Err() << option_texts::kNotTaken << "\n";
            return kExitFailed;
        case WriteCheck::Confirmed:
            break;
    }
    return ShowState(context, write.reported, print, object);
}

// --- overspeed ----------------------------------------------------------------------------------

bool PrintOverSpeedState(CliContext& context, const OptionReply& reply, json& object) {
    const uint8_t state = reply[kOverSpeedByte];
    object["overSpeed"] = OptionJson(state);
    if (!context.Options().json) context.Out() << "OverSpeed: " << OptionText(state) << "\n";
    return OptionStateIsOn(state).has_value();
}

int PrintOverSpeed(CliContext& context, DriveTable& table) {
    int exitCode = kExitOk;
    const std::optional<OptionReply> reply = ReadOptions(context, table, exitCode);
    if (!reply) return exitCode;
    return ShowState(context, *reply, PrintOverSpeedState);
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
    if (!on) return PrintOverSpeed(context, *table);

    if (*on && !context.Confirm(option_texts::kOverSpeedWarning)) return NothingChanged(context);
    if (!ConfirmScope(context, *scope)) return NothingChanged(context);
    // The page opens the tray and waits for the user to take the disc out; a script cannot, so
    // the command stops here.
    if (!table->WaitUntilReady()) {
        context.Err() << option_texts::kRemoveMedia << "\n";
        return kExitFailed;
    }
    const VerifiedWrite write = WriteOverSpeedVerified(*table, OptionStateByte(*on, *scope));
    return ReportWrite(context, write, "OverSpeed", PrintOverSpeedState);
}

// --- lumard -------------------------------------------------------------------------------------

namespace {

bool PrintLumardState(CliContext& context, const OptionReply& r, json& object) {
    object["supportedDisc"] = OptionJson(r[kSupportedDiscByte]);
    object["unknownDisc"] = OptionJson(r[kUnknownDiscByte]);
    object["overSpeed"] = OptionJson(r[kOverSpeedByte]);
    if (!context.Options().json) {
        context.Out() << "Supported Disc: " << OptionText(r[kSupportedDiscByte]) << "\n"
                      << "Un-Known Disc: " << OptionText(r[kUnknownDiscByte]) << "\n";
    }
    return OptionStateIsOn(r[kSupportedDiscByte]) && OptionStateIsOn(r[kUnknownDiscByte]);
}

int PrintLumard(CliContext& context, DriveTable& table) {
    int exitCode = kExitOk;
    const std::optional<OptionReply> reply = ReadOptions(context, table, exitCode);
    if (!reply) return exitCode;
    return ShowState(context, *reply, PrintLumardState);
}

// The learned count and the learned discs, as the page's clean tool shows them (all records, not
// only the first six).
int PrintLearned(CliContext& context, DriveTable& table, std::optional<bool> cleared) {
    OptionReply countReply;
    MediaInformationReply infoReply;
    uint8_t countStatus = kCommandFailed;
    uint8_t infoStatus = kCommandFailed;
    DriveTable::Failure failure;
    const bool vendor = InVendorMode(context, table, [&] {
        countStatus = ReadLearnedCount(table, countReply);
        if (countStatus == kCommandCompleted) infoStatus = ReadMediaInformation(table, infoReply);
        failure = table.LastFailure();
    });
    if (!vendor) return kExitNoDrive;
    if (countStatus != kCommandCompleted || infoStatus != kCommandCompleted) {
        context.Err() << FailureText(option_texts::kSetCommandFail, failure) << "\n";
        return kExitFailed;
    }
    const MediaInformation info = DecodeMediaInformation(infoReply);
    if (!info.headerValid) {
        context.Err() << option_texts::kResponseError << "\n";
        return kExitFailed;
    }
    const std::optional<uint16_t> count = PlausibleLearnedCount(countReply);
    if (context.Options().json) {
        json object = {{"learnedCount", count ? json(*count) : json(nullptr)}, {"discs", info.records}};
        if (!count) object["learnedCountState"] = LearnedCountOf(countReply);
        if (cleared) object["cleared"] = *cleared;
        context.PrintJson(object);
    } else {
        context.Out() << "Learned Disc : "
                      << (count ? std::to_string(*count) + " pcs"
                                : "unknown (" + std::to_string(LearnedCountOf(countReply)) + ")")
                      << "\n";
        for (size_t i = 0; i < info.records.size(); ++i) {
            context.Out() << (i + 1) << ": " << CliContext::Escaped(info.records[i]) << "\n";
        }
    }
    if (!count) {
        context.Err() << "The drive reports more learned discs than it can hold.\n";
        return kExitFailed;
    }
    return cleared.value_or(true) ? kExitOk : kExitFailed;
}

int RunLumardClean(CliContext& context, DriveTable& table) {
    if (!context.Confirm(option_texts::kCleanWarning)) return NothingChanged(context);
    table.WaitUntilReady();
    const VerifiedWrite clear = ClearLearnedDiscsVerified(table);
    switch (clear.check) {
        case WriteCheck::Refused:
            SayRefused(context, Refusal::Read, clear.failure);
            return kExitNoDrive;
        case WriteCheck::WriteFailed:
            context.Err() << FailureText(option_texts::kClearFail, clear.failure) << "\n";
            break;
        case WriteCheck::ReadBackFailed:
            context.Err() << "Lumard clean: " << FailureText(option_texts::kNotReadBack, clear.failure)
                          << "\n";
            return kExitFailed;
        case WriteCheck::Differs:
            context.Err() << option_texts::kNotTaken << "\n";
            break;
        case WriteCheck::Confirmed:
            break;
    }
    return PrintLearned(context, table, clear.Done());
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
    // Lumard may only change while OverSpeed is off, and only a state that says off lets it.
    const std::optional<bool> overSpeed = OptionStateIsOn((*reply)[kOverSpeedByte]);
    if (!overSpeed) {
        context.Err() << "OverSpeed: " << OptionText((*reply)[kOverSpeedByte]) << "\n"
                      << option_texts::kNothingChanged << "\n";
        return kExitFailed;
    }
    if (*overSpeed) {
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
    table.WaitUntilReady();
    const VerifiedWrite write = WriteLumardVerified(table, *unknownState, *supportedState);
    return ReportWrite(context, write, "Lumard", PrintLumardState);
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
    if (args.empty()) return PrintLumard(context, *table);
    return RunLumardSet(context, *table, request);
}

// --- testwrite, wopc ----------------------------------------------------------------------------

namespace {

// Both switches come from the same read: byte 1 Test Write, byte 2 the WOPC disabled flag.
StatePrinter SwitchPrinter(bool wopc) {
    return [wopc](CliContext& context, const OptionReply& reply, json& object) {
        const uint8_t raw = reply[wopc ? kWopcDisabledByte : kTestWriteByte];
        std::optional<bool> on = SwitchFlag(raw);
        if (wopc && on) on = !*on;  // the drive reports whether WOPC is disabled
        object[wopc ? "wopc" : "testWrite"] = FlagJson(on, raw);
        if (!context.Options().json)
            context.Out() << (wopc ? "WOPC: " : "Test Write: ") << FlagText(on, raw) << "\n";
        return on.has_value();
    };
}

int PrintSwitch(CliContext& context, DriveTable& table, bool wopc) {
    OptionReply reply;
    uint8_t status = kCommandFailed;
    if (!InVendorMode(context, table, [&] { status = ReadSwitchStates(table, reply); })) return kExitNoDrive;
    if (status != kCommandCompleted) {
        context.Err() << FailureText(option_texts::kSetCommandFail, table.LastFailure()) << "\n";
        return kExitFailed;
    }
    return ShowState(context, reply, SwitchPrinter(wopc));
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
    if (!on) return PrintSwitch(context, *table, wopc);

    table->WaitUntilReady();
    const VerifiedWrite write =
        wopc ? SetWopcDisabledVerified(*table, !*on) : SetTestWriteVerified(*table, *on);
    return ReportWrite(context, write, wopc ? "WOPC" : "Test Write", SwitchPrinter(wopc));
}

}  // namespace

int RunTestWrite(CliContext& context, const std::vector<std::string>& args) {
    return RunSwitch(context, args, /*wopc=*/false);
}

int RunWopc(CliContext& context, const std::vector<std::string>& args) {
    return RunSwitch(context, args, /*wopc=*/true);
}

}  // namespace dravix::cli
