#include "base/InstallLayout.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace dravix {

bool UsesVirtualDrive() {
    const char* library = std::getenv("DRAVIX_ASPI_LIBRARY");
    return library != nullptr &&
           std::filesystem::path(library).filename() == std::filesystem::path(kVirtualDriveLibraryName);
}

std::string ExecutableDirectory() {
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return self.parent_path().string();
}

// The build writes both folders relative to the programs' own, so the installed tree can be moved
// as a whole (another prefix, a staging folder) and no build path is compiled in.
std::string InstalledLibraryDirectory() {
    return DRAVIX_LIBRARY_DIR_FROM_BIN;
}

std::string InstalledDataDirectory() {
    return DRAVIX_DATA_DIR_FROM_BIN;
}

std::string FindProgramFile(const std::string& programDirectory, const std::string& installedDirectory,
                            const std::string& name) {
    const std::filesystem::path program(programDirectory);
    for (const std::filesystem::path& folder : {program, program / installedDirectory}) {
        const std::string path = (folder / name).lexically_normal().string();
        if (::access(path.c_str(), R_OK) == 0) return path;
    }
    return {};
}

}  // namespace dravix
