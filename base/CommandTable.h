#pragma once

#include <span>
#include <string>
#include <vector>

// The command table of a command-line program: its global options, its commands with their
// options and arguments, its exit statuses. The one source of the argument parser, the help, the
// manual page and the shell completion, so that none of them can tell another story.
namespace dravix {

// One option of a program or command, or the arguments a command takes after its name.
struct CommandOption {
    // "--speed", "-o, --output" (short and long name); for arguments their form: "on|off", "A B".
    const char* name;
    // The name of the option's value ("S", "FILE"); empty for a flag and for arguments.
    const char* value;
    const char* text;
    // What shell completion offers for the value or the arguments: blank-separated words, or
    // kCompleteFiles; empty for nothing.
    const char* choices = "";

    bool IsOption() const { return name[0] == '-'; }
    bool TakesValue() const { return IsOption() && value[0] != '\0'; }
};

// Completion offers file names.
inline constexpr const char* kCompleteFiles = "<file>";

struct CommandSpec {
    const char* name;
    const char* synopsis;  // the arguments after the name
    const char* summary;   // one line for the command list, in lower case, no full stop
    std::span<const CommandOption> options;
    std::span<const char* const> examples;  // whole command lines
};

struct ExitStatusSpec {
    int status;
    const char* text;
};

struct ProgramSpec {
    const char* name;         // "dravix-cli"
    const char* summary;      // the manual page's NAME line after the dash
    const char* description;  // paragraphs separated by a blank line
    std::span<const CommandOption> globalOptions;
    std::vector<const CommandSpec*> commands;  // in the order the help lists them
    std::span<const ExitStatusSpec> exitStatuses;

    const CommandSpec* Find(const std::string& command) const;
};

// The long name of an option ("--output" of "-o, --output"), or its only name.
std::string LongName(const CommandOption& option);

}  // namespace dravix
