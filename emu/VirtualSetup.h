#pragma once

#include <string>

#include "base/InstallLayout.h"

namespace dravix::emu {

// Prepares this process for the front ends' --virtual switch: sets DRAVIX_VDRIVE_STATE to the
// state file path when it is unset, creates that file from the demo preset when there is none,
// checks that an existing one can be read, and sets DRAVIX_ASPI_LIBRARY to the virtual drive's
// library found for a program in the given directory (by default the executable's). Returns an
// empty text on success, else one line saying what is wrong.
std::string PrepareVirtualDrive(const std::string& programDirectory = {});

}  // namespace dravix::emu
