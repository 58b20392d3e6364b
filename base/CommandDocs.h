#pragma once

#include <string>
#include <vector>

#include "base/CommandTable.h"

// What is made from a command table at build time: the manual page and the bash completion.
namespace dravix {

struct ManPageText {
    std::string version;               // "2.0.0"
    std::string sections;              // roff of the sections between EXIT STATUS and EXAMPLES
    std::vector<std::string> seeAlso;  // "dravix-cli(1)"
};

// The manual page in roff: NAME, SYNOPSIS, DESCRIPTION, OPTIONS, COMMANDS (one subsection a
// command with its options and examples), EXIT STATUS, then `text.sections`, EXAMPLES (the first
// example of every command) and SEE ALSO.
std::string ManPage(const ProgramSpec& program, const ManPageText& text);

// A bash completion script (for bash-completion's completions folder): commands, the options of
// the program and of the command typed, the choices of an option's value or of the arguments,
// file names where a file is asked for.
std::string BashCompletion(const ProgramSpec& program);

}  // namespace dravix
