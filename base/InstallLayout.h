#pragma once

#include <string>

namespace dravix {

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

// The virtual drive's library, as installed and as built.
inline constexpr const char* kVirtualDriveLibraryName = "libdravix-vdrive.so";

// The drive commands of this process go to the virtual drive: DRAVIX_ASPI_LIBRARY names its
// library (set by --virtual, or by hand).
bool UsesVirtualDrive();

}  // namespace dravix
