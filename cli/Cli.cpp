#include "cli/Cli.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>
#include <sstream>

#include "base/Version.h"
#include "cli/Terminal.h"
#include "drive/Diagnosis.h"
#include "drive/DriveTable.h"
#include "drive/Messages.h"
#include "drive/OptionCommands.h"
#include "drive/Support.h"
#include "drive/Trace.h"
#include "emu/VirtualSetup.h"
#include "probix/ScanTexts.h"
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

CliContext::CliContext(CliOptions options, std::ostream& out, std::ostream& err, std::istream& in)
    : m_options(std::move(options)), m_out(out), m_err(err), m_in(in) {}

CliContext::~CliContext() = default;

void CliContext::SetCommand(const CliCommand* command) {
    m_command = command;
    m_name = command ? command->name : "";
}

int CliContext::Fail(int status, const std::string& message) {
    m_failedStatus = status;
    m_errors.push_back(message);
    if (!Json()) m_err << cli_texts::kPrefix << message << std::endl;
    return status;
}

int CliContext::Usage(const std::string& message) {
    const std::string help =
        m_command ? std::string("dravix-cli help ") + m_command->name : "dravix-cli help";
    return Fail(kExitUsage, message + " (see " + help + ")");
}

void CliContext::Note(const std::string& text) {
    m_err << cli_texts::kPrefix << text << std::endl;
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

DriveTable* CliContext::OpenDrive(bool selectChosen) {
    if (m_table) return m_table.get();
    auto table = std::make_unique<DriveTable>();
    table->SetReadyWaitHooks(InterruptibleWaitHooks());
    if (!table->InitTransport()) {
        Fail(kExitNoDrive, kMsgInitialFail);
        return nullptr;
    }
    const int count = table->EnumerateDrives();
    if (count == 0) {
        Fail(kExitNoDrive, std::string(kMsgNoDeviceFound) + "\n" + NoDriveDiagnosis(*table));
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

DriveTable* CliContext::UseDrive(const DriveNeeds& needs, ReadyState* state) {
    DriveTable* table = OpenDrive();
    if (table == nullptr || AwaitDrive(*table, state) != kExitOk) return nullptr;
    if (!needs.feature) return table;

    // Which pages the drive has decides what it may be asked, before any question or tray check.
    const SupportResult support = CheckDriveSupport(*table);
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
    table->SetVendorMode(false);
    const auto& codes = support.featureCodes;
    if (std::find(codes.begin(), codes.end(), *needs.feature) == codes.end()) {
        Fail(kExitNoDrive, cli_texts::kFeatureNotOffered + std::string(FeaturePageTitle(*needs.feature)));
        return nullptr;
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

bool CliContext::ErrIsTerminal() const {
    return &m_err == &std::cerr && StandardErrorIsTerminal();
}

bool CliContext::ShowProgress() const {
    return !m_options.quiet && (m_options.progress || ErrIsTerminal());
}

std::string CliContext::Escaped(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out.push_back(static_cast<char>(c));
        } else if (c == '\\') {
            out += "\\\\";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

// --- help ------------------------------------------------------------------------------------

namespace {

constexpr CliOption kGlobalOptions[] = {
    {"--virtual", "use the virtual drive (creates its state file from the demo preset if needed)"},
    {"--drive N", "the drive to use, by its index in 'drives' (default 0)"},
    {"--json", "print one JSON object on standard output, also when the command fails"},
    {"--trace", "print every command sent to the drive on standard error"},
    {"--yes, -y", "answer yes to every question"},
    {"--quiet, -q", "show no progress"},
    {"--progress", "show progress on standard error also when it is not a terminal"},
    {"--help, -h", "show the help (of the command, when one is given) and end"},
    {"--version", "show the version and end"},
};

void PrintOptions(std::ostream& s, std::span<const CliOption> options) {
    size_t width = 0;
    for (const CliOption& o : options) width = std::max(width, std::string(o.name).size());
    for (const CliOption& o : options) {
        s << "  " << o.name << std::string(width - std::string(o.name).size() + 2, ' ') << o.text << "\n";
    }
}

constexpr const char* kExitStatusText =
    "Exit status: 0 success; 1 failed (or stopped with Ctrl+C); 2 usage error; 3 no such drive, drive,\n"
    "feature or disc not supported, or drive not ready; 4 no speed recommended (scan, smart).\n";

}  // namespace

std::string UsageText() {
    std::ostringstream s;
    s << "Usage: dravix-cli [OPTIONS] COMMAND [ARGS...]\n\nOptions (before or after the command):\n";
    PrintOptions(s, kGlobalOptions);
    s << "\nCommands:\n";
    char line[160];
    for (const CliCommand& c : AllCommands()) {
        std::snprintf(line, sizeof line, "  %-10s  %s\n", c.name, c.summary);
        s << line;
    }
    std::snprintf(line, sizeof line, "  %-10s  %s\n", "help",
                  "show this help, or with a command's name its options and examples");
    s << line;
    s << "\nRun 'dravix-cli help COMMAND' for a command's options and examples.\n\n" << kExitStatusText;
    return s.str();
}

std::string CommandHelp(const CliCommand& command) {
    std::ostringstream s;
    s << "Usage: dravix-cli [OPTIONS] " << command.name;
    if (*command.synopsis != '\0') s << " " << command.synopsis;
    // The summary of the command list, as a sentence.
    std::string summary = command.summary;
    summary[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(summary[0])));
    s << "\n\n" << summary << ".\n";
    if (!command.options.empty()) {
        s << "\nOptions:\n";
        PrintOptions(s, command.options);
    }
    if (!command.examples.empty()) {
        s << "\nExamples:\n";
        for (const char* example : command.examples) s << "  " << example << "\n";
    }
    s << "\nThe options of every command (--json, --drive N, ...): dravix-cli help\n" << kExitStatusText;
    return s.str();
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

// A drive index: decimal digits, any number of them; kept without leading zeros.
bool ParseIndex(const std::string& text, std::string& index) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const size_t first = text.find_first_not_of('0');
    index = first == std::string::npos ? "0" : text.substr(first);
    return true;
}

struct Parsed {
    CliOptions options;
    std::string commandName;
    std::vector<std::string> args;
    std::string problem;  // the first thing wrong with the global options
    bool help = false;
    bool version = false;
};

Parsed Parse(int argc, char** argv) {
    Parsed p;
    bool endOfOptions = false;
    auto positional = [&p](const std::string& arg) {
        if (p.commandName.empty()) {
            p.commandName = arg;
        } else {
            p.args.push_back(arg);
        }
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        CliOptions& o = p.options;
        if (endOfOptions) {
            positional(arg);
        } else if (arg == "--") {
            endOfOptions = true;
        } else if (arg == "--virtual") {
            o.virtualDrive = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--trace") {
            o.trace = true;
        } else if (arg == "--yes" || arg == "-y") {
            o.yes = true;
        } else if (arg == "--quiet" || arg == "-q") {
            o.quiet = true;
        } else if (arg == "--progress") {
            o.progress = true;
        } else if (arg == "--help" || arg == "-h") {
            p.help = true;
        } else if (arg == "--version") {
            p.version = true;
        } else if (arg == "--drive") {
            if (i + 1 >= argc || !ParseIndex(argv[i + 1], o.drive)) {
                if (p.problem.empty()) p.problem = "--drive takes a drive index (a number from 0)";
                if (i + 1 < argc) ++i;
                continue;
            }
            ++i;
        } else if (p.commandName.empty() && arg.size() > 1 && arg[0] == '-') {
            // Before the command, only the global options exist.
            if (p.problem.empty()) p.problem = "unknown option '" + arg + "'";
        } else {
            positional(arg);
        }
    }
    return p;
}

int RunCommand(CliContext& context, const CliCommand& command, const std::vector<std::string>& args) {
    std::ostream& err = context.Err();
    const CliOptions& options = context.Options();
    SetDriveMessageHandler([&context](const std::string& text) { context.Note(text); });
    if (options.trace) SetTraceSink(MakeStreamTraceSink(err));
    int status = kExitOk;
    if (options.virtualDrive) {
        const std::string error = emu::PrepareVirtualDrive();
        if (!error.empty()) status = context.Fail(kExitFailed, error);
    }
    if (status == kExitOk) {
        const InterruptScope interrupt;
        status = command.run(context, args);
    }
    SetTraceSink(nullptr);
    SetDriveMessageHandler(nullptr);
    return status;
}

}  // namespace

int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream& in) {
    Parsed parsed = Parse(argc, argv);
    CliContext context(parsed.options, out, err, in);
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

    if (parsed.version) {
        context.SetName("version");
        if (!context.Json()) out << "dravix-cli " << kVersionText << "\n";
        context.Result()["version"] = kVersionText;
        return finish(kExitOk);
    }
    if (parsed.help && command != nullptr) return showText(CommandHelp(*command));
    if (parsed.help && (parsed.commandName.empty() || helpCommand) && parsed.args.empty())
        return showText(UsageText());
    if (!parsed.problem.empty()) return finish(context.Usage(parsed.problem));
    if (parsed.commandName.empty()) return finish(context.Usage("no command given"));
    if (helpCommand) {
        if (parsed.args.empty()) return showText(UsageText());
        const CliCommand* about = parsed.args.size() == 1 ? FindCommand(parsed.args[0]) : nullptr;
        if (about == nullptr) {
            return finish(context.Usage(parsed.args.size() == 1 ? "unknown command '" + parsed.args[0] + "'"
                                                                : "help takes one command"));
        }
        return showText(CommandHelp(*about));
    }
    if (command == nullptr) return finish(context.Usage("unknown command '" + parsed.commandName + "'"));
    if (parsed.help) return showText(CommandHelp(*command));
    return finish(RunCommand(context, *command, parsed.args));
}

}  // namespace dravix::cli
