// overspeed, lumard, testwrite, wopc: the drive's firmware switches, read and written with the
// same commands, confirmations and refusals as their pages.

#include <cstdio>
#include <optional>

#include "cli/Commands.h"
#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "drive/Scsi.h"
#include "drive/Support.h"
#include "procedures/SwitchProcedures.h"
#include "procedures/SwitchTexts.h"

namespace dravix::cli {

namespace {

using schema::Json;

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

// Runs one vendor sequence with the prologue every page uses (the command has waited for the
// drive). False, after saying so, when the drive refuses vendor mode.
bool InVendorMode(CliContext& context, DriveTable& table, const DriveNeeds& needs,
                  const std::function<void()>& sequence) {
    if (WithVendorMode(table, sequence)) return true;
    context.Refused(needs, table.LastFailure());
    return false;
}

// An option state byte as text.
std::string OptionText(uint8_t state) {
    const std::optional<bool> on = OptionStateIsOn(state);
    if (!on) return "unknown (" + HexByte(state) + ")";
    return std::string(*on ? "on" : "off") +
           (OptionStateScope(state) == SettingScope::Temporary ? " (until restart)" : "");
}

std::string FlagText(std::optional<bool> on, uint8_t raw) {
    if (!on) return "unknown (" + HexByte(raw) + ")";
    return *on ? "on" : "off";
}

std::optional<bool> ParseOnOff(const std::string& word) {
    if (word == "on") return true;
    if (word == "off") return false;
    return std::nullopt;
}

// --temporary or --permanent; nullopt for neither and for both.
std::optional<SettingScope> ParseScope(const CommandArgs& args) {
    const bool temporary = args.Has("--temporary");
    if (temporary == args.Has("--permanent")) return std::nullopt;
    return temporary ? SettingScope::Temporary : SettingScope::Permanent;
}

bool ConfirmScope(CliContext& context, SettingScope scope) {
    return context.Confirm(scope == SettingScope::Temporary ? option_texts::kConfirmTemporary
                                                            : option_texts::kConfirmPermanent);
}

int NothingChanged(CliContext& context) {
    return context.Fail(kExitFailed, option_texts::kNothingChanged);
}

// Reads the option states; records the failure and gives nullopt when that is not possible.
std::optional<OptionReply> ReadOptions(CliContext& context, DriveTable& table, const DriveNeeds& needs) {
    OptionReply reply;
    uint8_t status = kCommandFailed;
    if (!InVendorMode(context, table, needs, [&] { status = ReadOptionStates(table, reply); }))
        return std::nullopt;
    if (status != kCommandCompleted) {
        context.Fail(kExitFailed, FailureText(option_texts::kSetCommandFail, table.LastFailure()));
        return std::nullopt;
    }
    return reply;
}

// Puts the state of a reply into the result and, without --json, prints its lines; false when
// one of them is a value the drive cannot mean.
using StatePrinter = std::function<bool(CliContext& context, const OptionReply& reply)>;

// A state that is not one the drive can mean is shown as unknown, and the command fails.
int ShowState(CliContext& context, const OptionReply& reply, const StatePrinter& print) {
    if (print(context, reply)) return kExitOk;
    return context.Fail(kExitFailed, "The drive reports a state that is not one of its settings.");
}

// What a write ended with, told as the pages tell it, and the state the drive reports after it.
// A write whose answer failed or was lost is judged by the state read back: the setting the drive
// holds, or, when that read fails too, that nobody knows (`readCommand` reads it again).
int ReportWrite(CliContext& context, const VerifiedWrite& write, const char* name, const StatePrinter& print,
                const DriveNeeds& needs, const char* readCommand) {
    if (write.check != WriteCheck::Refused)
        context.Result()["write"] = schema::Write(FactsOf(write.Outcome()));
    switch (write.check) {
        case WriteCheck::Refused:
            return context.Refused(needs, write.failure);
        case WriteCheck::Unknown:
            return context.Fail(kExitFailed,
                                write_texts::AnswerLostUnread(ReadAgainCommand(context, readCommand)));
        case WriteCheck::WriteFailed:
            ShowState(context, write.reported, print);
            return context.Fail(kExitFailed, FailureText(option_texts::kSetCommandFail, write.failure));
        case WriteCheck::ReadBackFailed:
            return context.Fail(kExitFailed, std::string(name) + ": " +
                                                 FailureText(option_texts::kNotReadBack, write.failure));
        case WriteCheck::Differs:
            ShowState(context, write.reported, print);
            return context.Fail(kExitFailed, option_texts::kNotTaken);
        case WriteCheck::Confirmed:
            break;
    }
    const int status = ShowState(context, write.reported, print);
    if (write.answerLost) context.Note(write_texts::kAnswerLostSettingHeld);
    return status;
}

// --- overspeed ----------------------------------------------------------------------------------

bool PrintOverSpeedState(CliContext& context, const OptionReply& reply) {
    const uint8_t state = reply[kOverSpeedByte];
    context.Result()["overspeed"] = schema::Setting(state);
    if (!context.Json()) context.Out() << "OverSpeed: " << OptionText(state) << "\n";
    return OptionStateIsOn(state).has_value();
}

}  // namespace

int RunOverSpeed(CliContext& context, const CommandArgs& args) {
    std::optional<bool> on;
    std::optional<SettingScope> scope;
    if (!args.words.empty() || args.Has("--temporary") || args.Has("--permanent")) {
        if (args.words.size() == 1) {
            on = ParseOnOff(args.words[0]);
            scope = ParseScope(args);
        }
        if (!on || !scope) return UsageError(context, "overspeed takes on|off and --temporary|--permanent");
    }
    const DriveNeeds needs{.feature = kFeatureOverSpeed, .write = on.has_value()};
    ReadyState ready = ReadyState::Failed;
    DriveTable* table = context.UseDrive(needs, &ready);
    if (table == nullptr) return context.FailedStatus();
    context.Result()["overspeed"] = nullptr;
    context.Result()["write"] = nullptr;
    if (!on) {
        const std::optional<OptionReply> reply = ReadOptions(context, *table, needs);
        return reply ? ShowState(context, *reply, PrintOverSpeedState) : context.FailedStatus();
    }

    // The page opens the tray and waits for the user to take the disc out; a script cannot, so
    // the command stops here, before it asks anything.
    if (ready != ReadyState::NoMedium) return context.Fail(kExitFailed, option_texts::kRemoveMedia);
    if (*on && !context.Confirm(option_texts::kOverSpeedWarning)) return NothingChanged(context);
    if (!ConfirmScope(context, *scope)) return NothingChanged(context);
    table->WaitUntilReady();
    if (context.StopBeforeWrite()) return kExitFailed;
    const VerifiedWrite write = WriteOverSpeedVerified(*table, OptionStateByte(*on, *scope));
    return ReportWrite(context, write, "OverSpeed", PrintOverSpeedState, needs, "overspeed");
}

// --- lumard -------------------------------------------------------------------------------------

namespace {

bool PrintLumardState(CliContext& context, const OptionReply& r) {
    context.Result()["supported_disc"] = schema::Setting(r[kSupportedDiscByte]);
    context.Result()["unknown_disc"] = schema::Setting(r[kUnknownDiscByte]);
    context.Result()["overspeed"] = schema::Setting(r[kOverSpeedByte]);
    if (!context.Json()) {
        context.Out() << "Supported Disc: " << OptionText(r[kSupportedDiscByte]) << "\n"
                      << "Un-Known Disc: " << OptionText(r[kUnknownDiscByte]) << "\n";
    }
    return OptionStateIsOn(r[kSupportedDiscByte]) && OptionStateIsOn(r[kUnknownDiscByte]);
}

// The learned count and the learned discs, as the page's clean tool shows them (all records, not
// only the first six). `failed` tells that the command has failed already (a clear that did not
// happen): the list is still shown. `afterClear`: the list that follows a clear the drive took; a
// failure to read it (a refused vendor mode too) says that only the list is missing.
int PrintLearned(CliContext& context, DriveTable& table, const DriveNeeds& needs, bool failed,
                 bool afterClear = false) {
    OptionReply countReply;
    MediaInformationReply infoReply;
    uint8_t countStatus = kCommandFailed;
    uint8_t infoStatus = kCommandFailed;
    DriveTable::Failure failure;
    const bool vendor = WithVendorMode(table, [&] {
        countStatus = ReadLearnedCount(table, countReply);
        if (countStatus == kCommandCompleted) infoStatus = ReadMediaInformation(table, infoReply);
        failure = table.LastFailure();
    });
    if (!vendor && !afterClear) return context.Refused(needs, table.LastFailure());
    if (!vendor) failure = table.LastFailure();
    if (countStatus != kCommandCompleted || infoStatus != kCommandCompleted) {
        return context.Fail(kExitFailed, FailureText(afterClear ? option_texts::kClearedListUnread
                                                                : option_texts::kSetCommandFail,
                                                     failure));
    }
    const MediaInformation info = DecodeMediaInformation(infoReply);
    if (!info.headerValid) return context.Fail(kExitFailed, option_texts::kResponseError);

    const std::optional<uint16_t> count = PlausibleLearnedCount(countReply);
    Json discs = Json::array();
    for (const std::string& record : info.records) discs.push_back(schema::Text(record));
    context.Result()["learned"] = {{"count", count ? Json(*count) : Json(nullptr)},
                                   {"raw", LearnedCountOf(countReply)},
                                   {"discs", discs}};
    if (!context.Json()) {
        context.Out() << "Learned Disc : "
                      << (count ? std::to_string(*count) + " pcs"
                                : "unknown (" + std::to_string(LearnedCountOf(countReply)) + ")")
                      << "\n";
        for (size_t i = 0; i < info.records.size(); ++i) {
            context.Out() << (i + 1) << ": " << CliContext::Escaped(info.records[i]) << "\n";
        }
    }
    if (!count) return context.Fail(kExitFailed, "The drive reports more learned discs than it can hold.");
    return failed ? context.FailedStatus() : kExitOk;
}

int RunLumardClean(CliContext& context, DriveTable& table, const DriveNeeds& needs) {
    if (!context.Confirm(option_texts::kCleanWarning)) return NothingChanged(context);
    table.WaitUntilReady();
    if (context.StopBeforeWrite()) return kExitFailed;
    const VerifiedWrite clear = ClearLearnedDiscsVerified(table);
    if (clear.check != WriteCheck::Refused)
        context.Result()["write"] = schema::Write(FactsOf(clear.Outcome()));
    switch (clear.check) {
        case WriteCheck::Refused:
            return context.Refused(needs, clear.failure);
        case WriteCheck::Unknown:
            return context.Fail(kExitFailed,
                                write_texts::AnswerLostUnread(ReadAgainCommand(context, "lumard learned")));
        case WriteCheck::WriteFailed:
            context.Fail(kExitFailed, FailureText(option_texts::kClearFail, clear.failure));
            break;
        case WriteCheck::ReadBackFailed:
            return context.Fail(kExitFailed,
                                "Lumard clean: " + FailureText(option_texts::kNotReadBack, clear.failure));
        case WriteCheck::Differs:
            context.Fail(kExitFailed, option_texts::kNotTaken);
            break;
        case WriteCheck::Confirmed:
            if (clear.answerLost) context.Note(write_texts::kAnswerLostSettingHeld);
            break;
    }
    return PrintLearned(context, table, needs, !clear.Done(), clear.Done());
}

struct LumardArgs {
    std::optional<bool> supported;
    std::optional<bool> unknown;
    std::optional<SettingScope> scope;
};

bool ParseLumardArgs(const CommandArgs& args, LumardArgs& parsed) {
    if (!args.words.empty()) return false;
    parsed.scope = ParseScope(args);
    for (const auto& [option, pair] :
         {std::pair{"--supported", &parsed.supported}, std::pair{"--unknown", &parsed.unknown}}) {
        const std::optional<std::string> value = args.Value(option);
        if (!value) continue;
        if (args.Values(option).size() > 1) return false;  // one setting, given once
        *pair = ParseOnOff(*value);
        if (!pair->has_value()) return false;
    }
    return parsed.scope && (parsed.supported || parsed.unknown);
}

int RunLumardSet(CliContext& context, DriveTable& table, const LumardArgs& request, const DriveNeeds& needs) {
    const std::optional<OptionReply> reply = ReadOptions(context, table, needs);
    if (!reply) return context.FailedStatus();
    // Lumard may only change while OverSpeed is off, and only a state that says off lets it.
    const std::optional<bool> overSpeed = OptionStateIsOn((*reply)[kOverSpeedByte]);
    if (!overSpeed) {
        return context.Fail(kExitFailed, "OverSpeed: " + OptionText((*reply)[kOverSpeedByte]) + "\n" +
                                             option_texts::kNothingChanged);
    }
    if (*overSpeed) {
        std::string text = option_texts::kLumardOverSpeedActive;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        return context.Fail(kExitFailed, text);
    }
    // A pair the command line leaves out keeps exactly what the drive reports for it.
    auto stateFor = [&](const std::optional<bool>& wanted, size_t byte,
                        const char* option) -> std::optional<uint8_t> {
        if (wanted) return OptionStateByte(*wanted, *request.scope);
        if (OptionStateIsOn((*reply)[byte])) return (*reply)[byte];
        context.Fail(kExitFailed, std::string(option_texts::kNoValidState) + " " + option + " (" +
                                      HexByte((*reply)[byte]) + ")");
        return std::nullopt;
    };
    const std::optional<uint8_t> unknownState = stateFor(request.unknown, kUnknownDiscByte, "--unknown");
    const std::optional<uint8_t> supportedState =
        stateFor(request.supported, kSupportedDiscByte, "--supported");
    if (!unknownState || !supportedState) return context.FailedStatus();

    if (!ConfirmScope(context, *request.scope)) return NothingChanged(context);
    table.WaitUntilReady();
    if (context.StopBeforeWrite()) return kExitFailed;
    const VerifiedWrite write = WriteLumardVerified(table, *unknownState, *supportedState);
    return ReportWrite(context, write, "Lumard", PrintLumardState, needs, "lumard");
}

}  // namespace

int RunLumard(CliContext& context, const CommandArgs& args) {
    const char* usage =
        "lumard takes learned, clean, or [--supported on|off] [--unknown on|off] "
        "--temporary|--permanent";
    LumardArgs request;
    const bool options = args.Has("--supported") || args.Has("--unknown") || args.Has("--temporary") ||
                         args.Has("--permanent");
    const bool single = args.words.size() == 1 && !options;
    const bool learned = single && args.words[0] == "learned";
    const bool clean = single && args.words[0] == "clean";
    const bool given = !args.words.empty() || options;
    if (given && !learned && !clean && !ParseLumardArgs(args, request)) return UsageError(context, usage);

    // The pages answer a refused vendor mode before a read, the clean tool and a Lumard change
    // (which reads first) alike.
    const DriveNeeds needs{.feature = kFeatureLumard, .write = false};
    DriveTable* table = context.UseDrive(needs);
    if (table == nullptr) return context.FailedStatus();
    for (const char* key : {"supported_disc", "unknown_disc", "overspeed", "learned", "write"})
        context.Result()[key] = nullptr;
    if (learned) return PrintLearned(context, *table, needs, false);
    if (clean) return RunLumardClean(context, *table, needs);
    if (!given) {
        const std::optional<OptionReply> reply = ReadOptions(context, *table, needs);
        return reply ? ShowState(context, *reply, PrintLumardState) : context.FailedStatus();
    }
    return RunLumardSet(context, *table, request, needs);
}

// --- testwrite, wopc ----------------------------------------------------------------------------

namespace {

// Both switches come from the same read: byte 1 Test Write, byte 2 the WOPC disabled flag.
StatePrinter SwitchPrinter(bool wopc) {
    return [wopc](CliContext& context, const OptionReply& reply) {
        const uint8_t raw = reply[wopc ? kWopcDisabledByte : kTestWriteByte];
        std::optional<bool> on = SwitchFlag(raw);
        if (wopc && on) on = !*on;  // the drive reports whether WOPC is disabled
        context.Result()[wopc ? "wopc" : "test_write"] = schema::Switch(on, raw);
        if (!context.Json()) context.Out() << (wopc ? "WOPC: " : "Test Write: ") << FlagText(on, raw) << "\n";
        return on.has_value();
    };
}

int RunSwitch(CliContext& context, const std::vector<std::string>& args, bool wopc) {
    const char* name = wopc ? "wopc" : "testwrite";
    std::optional<bool> on;
    if (!args.empty()) {
        if (args.size() == 1) on = ParseOnOff(args[0]);
        if (!on) return UsageError(context, std::string(name) + " takes on or off");
    }
    const DriveNeeds needs{.feature = wopc ? kFeatureWopc : kFeatureTestWrite, .write = on.has_value()};
    DriveTable* table = context.UseDrive(needs);
    if (table == nullptr) return context.FailedStatus();
    context.Result()[wopc ? "wopc" : "test_write"] = nullptr;
    context.Result()["write"] = nullptr;
    if (!on) {
        OptionReply reply;
        uint8_t status = kCommandFailed;
        if (!InVendorMode(context, *table, needs, [&] { status = ReadSwitchStates(*table, reply); }))
            return context.FailedStatus();
        if (status != kCommandCompleted)
            return context.Fail(kExitFailed,
                                FailureText(option_texts::kSetCommandFail, table->LastFailure()));
        return ShowState(context, reply, SwitchPrinter(wopc));
    }
    if (context.StopBeforeWrite()) return kExitFailed;
    const VerifiedWrite write =
        wopc ? SetWopcDisabledVerified(*table, !*on) : SetTestWriteVerified(*table, *on);
    return ReportWrite(context, write, wopc ? "WOPC" : "Test Write", SwitchPrinter(wopc), needs, name);
}

}  // namespace

int RunTestWrite(CliContext& context, const CommandArgs& args) {
    return RunSwitch(context, args.words, /*wopc=*/false);
}

int RunWopc(CliContext& context, const CommandArgs& args) {
    return RunSwitch(context, args.words, /*wopc=*/true);
}

}  // namespace dravix::cli
