#pragma once

#include <string>

namespace dravix::emu {

inline constexpr const char* kVirtualDriveLibraryName = "libdravix-vdrive.so";

// The directory of the running executable (empty when it cannot be found).
std::string ExecutableDirectory();

// Prepares this process for the front ends' --virtual switch: sets DRAVIX_VDRIVE_STATE to the
// state file path when it is unset, creates that file from the demo preset when there is none,
// checks that an existing one can be read, and sets DRAVIX_ASPI_LIBRARY to the virtual drive's
// library in the given directory (by default the executable's). Returns an empty text on success,
// else one line saying what is wrong.
std::string PrepareVirtualDrive(const std::string& libraryDirectory = {});

}  // namespace dravix::emu
