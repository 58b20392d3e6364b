#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/CommandTable.h"

// Reading a command line against its command table, as getopt-trained users expect: options
// before or after the command, "--opt=value" and "--opt value", bundled short flags ("-yq"), and
// "--" after which every argument is one of the command's, even one that starts with a dash.
// A value is always the next argument: "--csv --json" names the file "--json".
namespace dravix {

class ParsedLine {
  public:
    // The command of the table, or null: none given, "help", or an unknown one (see Problem).
    const CommandSpec* command = nullptr;
    // The command's name as given ("help" included); empty when none was given.
    std::string commandName;
    // The arguments of the command that are not options, in their order.
    std::vector<std::string> words;
    // The first thing wrong with the line, as one sentence without the help pointer; empty when
    // nothing is. An option given without its value is named in `missingValue` too.
    std::string problem;
    std::string missingValue;

    // Whether the option (by its long name, "--json") was given; its last value; all its values.
    bool Has(std::string_view option) const;
    std::optional<std::string> Value(std::string_view option) const;
    std::vector<std::string> Values(std::string_view option) const;

    void Set(const std::string& option, std::vector<std::string> values);

  private:
    std::map<std::string, std::vector<std::string>, std::less<>> m_given;
};

// `args` without the program's name. "help" is a command of every program (its words: the
// command to explain).
ParsedLine ReadCommandLine(const ProgramSpec& program, const std::vector<std::string>& args);

// "PROBLEM (see PROGRAM help COMMAND)": the one form of a usage error.
std::string UsageProblem(const ProgramSpec& program, const CommandSpec* command, const std::string& problem);

// The program's help: usage, options, the commands, the exit statuses; and one command's help:
// its usage, summary, options, examples. Lines stay within 80 columns: a long text wraps under
// its column.
std::string ProgramHelp(const ProgramSpec& program);
std::string CommandHelp(const ProgramSpec& program, const CommandSpec& command);

// The exit statuses as one paragraph ("Exit status: 0 success; 1 ...").
std::string ExitStatusText(const ProgramSpec& program);

}  // namespace dravix
