#include "cli/Cli.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "base/Version.h"
#include "cli/Names.h"
#include "cli/Terminal.h"
#include "drive/DriveTable.h"
#include "drive/OptionCommands.h"
#include "drive/Support.h"
#include "drive/Trace.h"
#include "emu/VirtualSetup.h"
#include "probix/ScanTexts.h"
#include "procedures/Diagnosis.h"
#include "procedures/PageTitles.h"
#include "procedures/SupportTexts.h"
#include "procedures/SwitchTexts.h"
#include "res/StringTable.h"

namespace dravix::cli {

namespace {

constexpr uint8_t kSenseIllegalRequest = 0x05;

// What an exit status means, for an error whose command recorded no message of its own.
const char* MeaningOf(int status) {
    switch (status) {
        case kExitUsage:
            return "usage error";
        case kExitNoDrive:
            return "no drive, or not supported, or not ready";
        default:
            return "failed";
    }
}

}  // namespace

CliContext::CliContext(CliOptions options, std::ostream& out, std::ostream& err, std::istream& in,
                       CliEnvironment environment)
    : m_options(std::move(options)), m_environment(environment), m_out(out), m_err(err), m_in(in) {}

CliContext::~CliContext() = default;

void CliContext::SetCommand(const CliCommand* command) {
    m_command = command;
    m_name = command ? command->name : "";
}

int CliContext::Fail(int status, const std::string& message) {
    m_failedStatus = status;
    m_errors.push_back(message);
    if (!Json() && !Silenced()) m_err << cli_texts::kPrefix << TerminalText(message, true) << std::endl;
    return status;
}

bool CliContext::Silenced() const {
    // Standard output has no reader any more: the command ends without a message.
    return &m_out == &std::cout && StandardOutputBroken();
}

bool CliContext::StopBeforeWrite() {
    if (!Interrupted()) return false;
    Fail(kExitFailed, scan_texts::kUserAbort);
    return true;
}

int CliContext::Usage(const std::string& message) {
    const std::string help =
        m_command ? std::string("dravix-cli help ") + m_command->name : "dravix-cli help";
    return Fail(kExitUsage, message + " (see " + help + ")");
}

void CliContext::Note(const std::string& text) {
    if (!Silenced()) m_err << cli_texts::kPrefix << TerminalText(text, true) << std::endl;
}

schema::Json CliContext::Report(int status) const {
    schema::Json report = {{"schema", schema::kVersion},
                           {"command", m_name.empty() ? schema::Json(nullptr) : schema::Json(m_name)},
                           {"error", nullptr}};
    if (status != kExitOk && status != kExitNotRecommended) {
        std::string message;
        for (const std::string& error : m_errors) message += (message.empty() ? "" : "\n") + error;
        report["error"] = {{"code", status}, {"message", message.empty() ? MeaningOf(status) : message}};
    }
    for (const auto& [key, value] : m_result.items()) report[key] = value;
    return report;
}

DriveServices CliContext::Drives() {
    return {m_environment.platform, [this](const std::string& text) { Note(text); }};
}

DriveTable* CliContext::OpenDrive(bool selectChosen) {
    if (m_table) return m_table.get();
    auto table = std::make_unique<DriveTable>(Drives());
    ReadyWaitHooks hooks = InterruptibleWaitHooks();
    hooks.limit = m_environment.readyWaitLimit;
    table->SetReadyWaitHooks(std::move(hooks));
    if (!table->InitTransport()) {
        Fail(kExitNoDrive, kMsgInitialFail);
        return nullptr;
    }
    const int count = table->EnumerateDrives();
    if (count == 0) {
        const std::string text =
            std::string(kMsgNoDeviceFound) + "\n" +
            NoDriveDiagnosis(*table, UsesVirtualDrive() ? VirtualHint::None : VirtualHint::CommandLine);
        // A listing of no drive is an empty listing; the diagnosis is told beside it.
        if (!selectChosen) {
            Note(text);
            m_table = std::move(table);
            return m_table.get();
        }
        Fail(kExitNoDrive, text);
        return nullptr;
    }
    // Any number is an index; one that no drive has is a missing drive, not a wrong command line.
    const std::string& wanted = m_options.drive;
    const int index = !selectChosen ? 0 : wanted.size() > 3 ? kMaxDrives : std::stoi(wanted);
    if (index >= count || !table->SelectDrive(static_cast<uint8_t>(index))) {
        Fail(kExitNoDrive, cli_texts::kNoSuchDrive + wanted);
        return nullptr;
    }
    if (selectChosen) m_result["drive"] = schema::Drive(*table, static_cast<uint8_t>(index));
    m_table = std::move(table);
    return m_table.get();
}

int CliContext::AwaitDrive(DriveTable& table, ReadyState* state) {
    const ReadyState how = table.WaitForDrive();
    if (state != nullptr) *state = how;
    if (how == ReadyState::Cancelled || Interrupted()) return Fail(kExitFailed, scan_texts::kUserAbort);
    if (how == ReadyState::StillBecomingReady) return Fail(kExitNoDrive, scan_texts::kDriveActivating);
    return kExitOk;
}

int CliContext::Refused(const DriveNeeds& needs, const DriveTable::Failure& failure) {
    const bool rejected = failure.status == kCommandFailed && failure.sense.key == kSenseIllegalRequest;
    const std::string detail = rejected ? std::string() : FailureDetail(failure);
    const char* text = needs.write ? option_texts::kNotSupportTheDrive : StringText(kStringDriveNotSupported);
    return Fail(kExitNoDrive, text + detail);
}

DriveTable* CliContext::UseDrive(const DriveNeeds& needs, ReadyState* state, VendorModeScope* vendorMode) {
    DriveTable* table = OpenDrive();
    if (table == nullptr || AwaitDrive(*table, state) != kExitOk) return nullptr;
    if (!needs.feature) return table;

    // Which pages the drive has decides what it may be asked, before any question or tray check.
    // The drive has just been waited for.
    SupportResult support = CheckReadyDriveSupport(*table);
    const DriveTable::Failure failure = table->LastFailure();
    if (support.outcome == SupportOutcome::VendorModeRefused) {
        Refused(needs, failure);
        return nullptr;
    }
    // As the window does: no vendor mode off follows a feature list without the signature.
    if (support.outcome == SupportOutcome::FirmwareNotSupported) {
        const std::string detail =
            support.featureListStatus == kCommandCompleted ? std::string() : FailureDetail(failure);
        Fail(kExitNoDrive, kMsgFirmwareNotSupported + detail);
        return nullptr;
    }
    // A drive that does not serve the command gets its off as `support` ends.
    if (Interrupted()) {
        Fail(kExitFailed, scan_texts::kUserAbort);
        return nullptr;
    }
    const auto& codes = support.featureCodes;
    if (std::find(codes.begin(), codes.end(), *needs.feature) == codes.end()) {
        Fail(kExitNoDrive, cli_texts::kFeatureNotOffered + std::string(FeaturePageTitle(*needs.feature)));
        return nullptr;
    }
    if (vendorMode != nullptr) {
        *vendorMode = std::move(support.vendorMode);
    } else {
        support.vendorMode.End();
    }
    return table;
}

bool CliContext::Confirm(const std::string& question) {
    if (m_options.yes) return true;
    if (Interrupted()) return false;
    m_err << question << " [y/N] " << std::flush;
    std::string answer;
    if (!std::getline(m_in, answer)) {
        m_err << std::endl;
        return false;
    }
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    return !Interrupted() && (answer == "y" || answer == "yes");
}

bool CliContext::CanAsk() const {
    return m_options.yes || (&m_in == &std::cin && StandardInputIsTerminal());
}

bool CliContext::ErrIsTerminal() const {
    return &m_err == &std::cerr && StandardErrorIsTerminal();
}

bool CliContext::ShowProgress() const {
    return !m_options.quiet && (m_options.progress || ErrIsTerminal());
}

std::string CliContext::Escaped(const std::string& text) {
    return TerminalText(text);
}

// --- help ------------------------------------------------------------------------------------

std::string UsageText() {
    return ProgramHelp(CliProgram());
}

std::string CommandHelp(const CliCommand& command) {
    return dravix::CommandHelp(CliProgram(), command);
}

int UsageError(CliContext& context, const std::string& message) {
    return context.Usage(message);
}

int UnexpectedArgument(CliContext& context, const std::string& arg) {
    const bool option = arg.size() > 1 && arg[0] == '-';
    return context.Usage((option ? "unknown option '" : "unexpected argument '") + arg + "'");
}

const CliCommand* FindCommand(const std::string& name) {
    for (const CliCommand& c : AllCommands()) {
        if (name == c.name) return &c;
    }
    return nullptr;
}

// --- the command line ------------------------------------------------------------------------

namespace {

constexpr const char* kDriveIndexProblem = "--drive takes a drive index (a number from 0)";

// A drive index: decimal digits, any number of them; kept without leading zeros.
bool ParseIndex(const std::string& text, std::string& index) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const size_t first = text.find_first_not_of('0');
    index = first == std::string::npos ? "0" : text.substr(first);
    return true;
}

// The global options of the line; a --drive that is no index becomes the line's problem.
CliOptions OptionsOf(ParsedLine& line) {
    CliOptions o;
    o.virtualDrive = line.Has("--virtual");
    o.json = line.Has("--json");
    o.trace = line.Has("--trace");
    o.yes = line.Has("--yes");
    o.quiet = line.Has("--quiet");
    o.progress = line.Has("--progress");
    if (line.missingValue == "--drive") line.problem = kDriveIndexProblem;
    if (const std::optional<std::string> drive = line.Value("--drive");
        drive && !ParseIndex(*drive, o.drive)) {
        if (line.problem.empty()) line.problem = kDriveIndexProblem;
    }
    return o;
}

int RunCommand(CliContext& context, const CliCommand& command, const CommandArgs& args) {
    std::ostream& err = context.Err();
    const CliOptions& options = context.Options();
    if (options.trace) SetTraceSink(MakeStreamTraceSink(err));
    int status = kExitOk;
    if (options.virtualDrive) {
        if (const Result<void> prepared = emu::PrepareVirtualDrive(); !prepared)
            status = context.Fail(kExitFailed, prepared.Failure().text);
    }
    if (status == kExitOk) {
        const InterruptScope interrupt;
        status = command.run(context, args);
    }
    SetTraceSink(nullptr);
    return status;
}

}  // namespace

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream& in,
           const CliEnvironment& environment) {
    ParsedLine parsed = ReadCommandLine(CliProgram(), std::vector<std::string>(argv + 1, argv + argc));
    CliContext context(OptionsOf(parsed), out, err, in, environment);
    const bool helpCommand = parsed.commandName == "help";
    const CliCommand* command = FindCommand(parsed.commandName);
    context.SetCommand(command);

    auto finish = [&](int status) {
        if (context.Json()) {
            out << context.Report(status).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)
                << std::endl;
        }
        return status;
    };
    auto showText = [&](const std::string& text) {
        context.SetName("help");
        if (context.Json()) {
            context.Result()["text"] = text.substr(0, text.find_last_not_of('\n') + 1);
        } else {
            out << text;
        }
        return finish(kExitOk);
    };

    // A wrong line is told before anything is done, --help and --version included.
    if (!parsed.problem.empty()) return finish(context.Usage(parsed.problem));
    if (parsed.Has("--help") && command != nullptr) return showText(CommandHelp(*command));
    if (parsed.Has("--help") && (parsed.commandName.empty() || helpCommand) && parsed.words.size() <= 1) {
        const CliCommand* about = parsed.words.empty() ? nullptr : FindCommand(parsed.words[0]);
        if (about != nullptr) return showText(CommandHelp(*about));
        if (parsed.words.empty()) return showText(UsageText());
    }
    if (parsed.Has("--version")) {
        context.SetName("version");
        if (!context.Json()) out << "dravix-cli " << kVersionText << "\n";
        context.Result()["version"] = kVersionText;
        return finish(kExitOk);
    }
    if (parsed.commandName.empty()) return finish(context.Usage("no command given"));
    if (helpCommand) {
        if (parsed.words.empty()) return showText(UsageText());
        const CliCommand* about = parsed.words.size() == 1 ? FindCommand(parsed.words[0]) : nullptr;
        if (about == nullptr) {
            return finish(context.Usage(parsed.words.size() == 1 ? "unknown command '" + parsed.words[0] + "'"
                                                                 : "help takes one command"));
        }
        return showText(CommandHelp(*about));
    }
    if (command == nullptr) return finish(context.Usage("unknown command '" + parsed.commandName + "'"));
    return finish(RunCommand(context, *command, parsed));
}

}  // namespace dravix::cli
