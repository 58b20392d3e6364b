#pragma once

#include <iosfwd>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace dravix {
class DriveTable;
}

namespace dravix::cli {

enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,
    kExitUsage = 2,
    kExitNoDrive = 3,         // no drive, drive or disc not supported, drive not ready
    kExitNotRecommended = 4,  // a scan whose verdict is "not recommended"
};

struct CliOptions {
    bool virtualDrive = false;
    int driveIndex = 0;
    bool json = false;
    bool trace = false;
    bool yes = false;
};

// What every command gets: the global options, the streams, and the drive it works on.
class CliContext {
  public:
    CliContext(CliOptions options, std::ostream& out, std::ostream& err, std::istream& in);
    ~CliContext();

    const CliOptions& Options() const { return m_options; }
    std::ostream& Out() { return m_out; }
    std::ostream& Err() { return m_err; }
    std::istream& In() { return m_in; }

    // A DriveTable with the transport prepared, the drives enumerated and --drive selected
    // (drive 0 when selectChosen is false). Prints "No Device found!" (with the permission hint)
    // or the transport failure and returns null when there is no such drive; the command then
    // exits with kExitNoDrive.
    DriveTable* OpenDrive(bool selectChosen = true);

    // Asks a yes/no question on the terminal; --yes answers yes without asking. End of input or
    // anything but y/yes is no.
    bool Confirm(const std::string& question);

    // Prints one JSON object on a line of its own.
    void PrintJson(const nlohmann::json& object);

    // Makes text safe for a terminal: printable ASCII stays, everything else becomes \xNN.
    static std::string Escaped(const std::string& text);

  private:
    CliOptions m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    std::istream& m_in;
    std::unique_ptr<DriveTable> m_table;
};

using CommandFn = int (*)(CliContext& context, const std::vector<std::string>& args);

struct CliCommand {
    const char* name;
    const char* synopsis;  // "raw [--in N | --out HEXFILE] [--timeout S] HEXBYTES..."
    const char* summary;   // one line for the usage text
    CommandFn run;
};

// Every command, in the order the usage text lists them.
std::span<const CliCommand> AllCommands();

// Prints "dravix-cli: <message>" and the usage text to standard error; returns kExitUsage.
int UsageError(CliContext& context, const std::string& message);
std::string UsageText();

// The whole command line: global options, then the command and its arguments.
int RunCli(int argc, char** argv, std::ostream& out, std::ostream& err, std::istream& in);

}  // namespace dravix::cli
