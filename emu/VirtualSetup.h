#pragma once

#include <string>

namespace dravix::emu {

inline constexpr const char* kVirtualDriveLibraryName = "libdravix-vdrive.so";

// The directory of the running executable (empty when it cannot be found).
std::string ExecutableDirectory();

// Where an installed tree keeps the virtual drive's library and the programs' data (the user's
// guide), each relative to the folder of the programs. In the build tree both sit beside them.
std::string InstalledLibraryDirectory();
std::string InstalledDataDirectory();

// The file `name` (a relative path) for a program in `programDirectory`: beside the program, else
// under `installedDirectory` taken relative to the program's folder. Empty when neither is there.
std::string FindProgramFile(const std::string& programDirectory, const std::string& installedDirectory,
                            const std::string& name);

// Prepares this process for the front ends' --virtual switch: sets DRAVIX_VDRIVE_STATE to the
// state file path when it is unset, creates that file from the demo preset when there is none,
// checks that an existing one can be read, and sets DRAVIX_ASPI_LIBRARY to the virtual drive's
// library found for a program in the given directory (by default the executable's). Returns an
// empty text on success, else one line saying what is wrong.
std::string PrepareVirtualDrive(const std::string& programDirectory = {});

}  // namespace dravix::emu
