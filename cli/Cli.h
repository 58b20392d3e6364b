#pragma once

#include <chrono>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/CommandLine.h"
#include "base/CommandTable.h"
#include "cli/Schema.h"
#include "drive/DriveTable.h"
#include "drive/VendorMode.h"

namespace dravix::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,   // the command failed, or was stopped with Ctrl+C
    kExitUsage = 2,    // the command line is wrong
    kExitNoDrive = 3,  // no such drive; drive, feature or disc not supported; drive not ready
    // No speed recommended; a read test found unreadable or differing sectors, or did not show the
    // disc to match its image.
    kExitNotRecommended = 4,
};

// The command line's own texts (the pages' texts come from the drive layer and the scan texts).
namespace cli_texts {
inline constexpr const char* kPrefix = "dravix-cli: ";
inline constexpr const char* kNoSuchDrive = "There is no drive ";                // + the index
inline constexpr const char* kFeatureNotOffered = "This drive does not offer ";  // + the page title
}  // namespace cli_texts

struct CliOptions {
    bool virtualDrive = false;
    std::string drive = "0";  // the index as given: decimal digits, no leading zeros
    bool json = false;
    bool trace = false;
    bool yes = false;
    bool quiet = false;
    bool progress = false;
};

// What a run takes from the program that starts it besides the command line and its streams.
struct CliEnvironment {
    // How long a drive that keeps saying it is becoming ready is waited for.
    std::chrono::milliseconds readyWaitLimit = kReadyWaitLimit;
    // What the drives are reached through; null: the system's platform.
    std::shared_ptr<Platform> platform;
};

struct CliCommand;

// What a drive command needs before it starts: the feature the drive must list (checked with the
// support check, before any question or tray check), and whether a refused vendor mode is told
// as before a write ("Not support the drive!") or as before a read ("This drive is not supported").
struct DriveNeeds {
    std::optional<uint8_t> feature;
    bool write = false;
};

// What every command gets: the global options, the streams, the drive it works on, and the
// result it reports (lines on standard output, or one JSON object with --json).
class CliContext {
  public:
    CliContext(CliOptions options, std::ostream& out, std::ostream& err, std::istream& in,
               CliEnvironment environment = {});
    ~CliContext();

    const CliOptions& Options() const { return m_options; }
    bool Json() const { return m_options.json; }
    std::ostream& Out() { return m_out; }
    std::ostream& Err() { return m_err; }
    std::istream& In() { return m_in; }

    // The command being run (for "see dravix-cli help COMMAND"), and the JSON's "command" (also
    // "help" and "version", which are no commands of the table).
    void SetCommand(const CliCommand* command);
    void SetName(std::string name) { m_name = std::move(name); }
    const CliCommand* Command() const { return m_command; }

    // The keys of the command's JSON result; printed after "schema", "command" and "error".
    schema::Json& Result() { return m_result; }

    // Records the failure and returns `status`. Without --json the message goes to standard
    // error at once, its first line after the one prefix; with --json it becomes the result's
    // "error".
    int Fail(int status, const std::string& message);
    // A wrong command line: one line naming the problem and the help to read. kExitUsage.
    int Usage(const std::string& message);
    // A remark that is no failure (a warning of a page, a step that failed while the command went
    // on): standard error, after the prefix, in either mode.
    void Note(const std::string& text);
    // The exit status of the last Fail.
    int FailedStatus() const { return m_failedStatus; }
    // Just before a write is sent: true, after failing with "User abort!", when a stop was asked
    // for (Ctrl+C, SIGTERM, SIGHUP); the write is then not sent.
    bool StopBeforeWrite();

    // The JSON object of the run: schema, command, error, then the result's keys.
    schema::Json Report(int status) const;

    // What a DriveTable of this run is given: the environment's platform, and the drive layer's
    // messages told as notes (Note).
    DriveServices Drives();

    // A DriveTable with the transport prepared, the drives enumerated and --drive selected; its
    // waits end at Ctrl+C. Null, after Fail with kExitNoDrive, when there is no such drive. With
    // selectChosen the result gets "drive"; without it no drive is selected (drive 0 when there
    // is one) and a listing of no drive is no failure (the diagnosis is noted).
    DriveTable* OpenDrive(bool selectChosen = true);
    // OpenDrive, then the wait for the drive and the support check of `needs`. Null after Fail:
    // Ctrl+C (kExitFailed), a drive that never became ready or that does not offer the feature
    // (kExitNoDrive). `state`, when given, receives how the wait ended. `vendorMode`, when given,
    // receives the support check's vendor mode for the commands that follow at once (its end
    // sends the off); otherwise the off is sent before UseDrive returns.
    DriveTable* UseDrive(const DriveNeeds& needs, ReadyState* state = nullptr,
                         VendorModeScope* vendorMode = nullptr);

    // The wait for the drive with its failures: Ctrl+C and a drive still becoming ready end the
    // command (Fail); otherwise kExitOk, with how the wait ended in `state`.
    int AwaitDrive(DriveTable& table, ReadyState* state = nullptr);

    // Fails with the refusal text of `needs` for a drive that refused vendor mode; the failure's
    // detail is added unless the drive simply rejected the command. kExitNoDrive.
    int Refused(const DriveNeeds& needs, const DriveTable::Failure& failure);

    // Asks a yes/no question on the terminal; --yes answers yes without asking. End of input,
    // Ctrl+C and anything but y/yes is no.
    bool Confirm(const std::string& question);

    // Progress lines go to standard error: on a terminal unless --quiet, or with --progress.
    bool ShowProgress() const;
    bool ErrIsTerminal() const;
    // A question can be answered: --yes was given, or the input is the terminal.
    bool CanAsk() const;

    // Makes text safe for a terminal: UTF-8 stays, control characters and invalid bytes become
    // \xNN (TerminalText).
    static std::string Escaped(const std::string& text);

  private:
    bool Silenced() const;

    CliOptions m_options;
    CliEnvironment m_environment;
    std::ostream& m_out;
    std::ostream& m_err;
    std::istream& m_in;
    std::unique_ptr<DriveTable> m_table;
    const CliCommand* m_command = nullptr;
    std::string m_name;
    schema::Json m_result = schema::Json::object();
    std::vector<std::string> m_errors;
    int m_failedStatus = kExitFailed;
};

// A command's arguments as read against its entry of the command table: its options by long
// name (args.Value("--speed"), args.Has("--temporary")) and its other arguments (args.words).
using CommandArgs = ParsedLine;
using CommandFn = int (*)(CliContext& context, const CommandArgs& args);

// A command of the table: what the help, the parser, the manual page and the completion show,
// and the function that runs it.
struct CliCommand : CommandSpec {
    CommandFn run;
};

// Every command, in the order the help lists them.
std::span<const CliCommand> AllCommands();
const CliCommand* FindCommand(const std::string& name);
// The program's table: global options, commands, exit statuses.
const ProgramSpec& CliProgram();

// context.Usage(message).
int UsageError(CliContext& context, const std::string& message);
// The usage error of an argument a command does not take: "unknown option '--x'" for an option,
// "unexpected argument 'x'" otherwise.
int UnexpectedArgument(CliContext& context, const std::string& arg);
// The help of the whole program, and of one command.
std::string UsageText();
std::string CommandHelp(const CliCommand& command);

// The whole command line: global options (before or after the command), then the command and
// its arguments.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream& in,
           const CliEnvironment& environment = {});

}  // namespace dravix::cli
