#pragma once

#include <string>

#include "base/InstallLayout.h"
#include "base/Result.h"

namespace dravix::emu {

// Prepares this process for the front ends' --virtual switch: sets DRAVIX_VDRIVE_STATE to the
// state file path when it is unset, creates that file from the demo preset when there is none,
// checks that an existing one can be read, and sets DRAVIX_ASPI_LIBRARY to the virtual drive's
// library found for a program in the given directory (by default the executable's). When it
// cannot, one line saying what is wrong.
Result<void> PrepareVirtualDrive(const std::string& programDirectory = {});

}  // namespace dravix::emu
