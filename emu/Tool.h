#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace dravix::emu {

enum ToolExit : int { kToolOk = 0, kToolBadFile = 1, kToolUsage = 2 };

// dravix-vdrive: arguments without the program name. Messages go to out, errors (one line each,
// "dravix-vdrive: …") and the usage text to err.
int RunVdriveTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

std::string VdriveToolUsage();

}  // namespace dravix::emu
