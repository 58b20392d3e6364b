#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "base/CommandTable.h"

namespace dravix::emu {

enum ToolExit : int { kToolOk = 0, kToolBadFile = 1, kToolUsage = 2 };

// dravix-vdrive: arguments without the program name. Messages, the help and the version go to
// out; errors (one line each, "dravix-vdrive: …") to err.
int RunVdriveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string VdriveToolUsage();

// The tool's command table: its help, its parser, its manual page and its completion.
const ProgramSpec& VdriveProgram();

}  // namespace dravix::emu
