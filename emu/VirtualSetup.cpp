#include "emu/VirtualSetup.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "emu/Scenario.h"
#include "emu/StateFile.h"

namespace dravix::emu {

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

std::string PrepareVirtualDrive(const std::string& programDirectory) {
    const std::string directory = programDirectory.empty() ? ExecutableDirectory() : programDirectory;
    if (directory.empty()) return "cannot find the directory of this program";
    const std::string library =
        FindProgramFile(directory, InstalledLibraryDirectory(), kVirtualDriveLibraryName);
    if (library.empty()) {
        const std::filesystem::path installed =
            (std::filesystem::path(directory) / InstalledLibraryDirectory()).lexically_normal();
        return std::string(kVirtualDriveLibraryName) + ": the virtual drive library is missing (looked in " +
               directory + " and " + installed.string() + ")";
    }

    const std::string path = StateFilePath();
    std::string error;
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        Scenario demo(Preset::Demo);
        if (!demo.BindToFile(path, &error)) return error;
    } else if (!Scenario::Open(path, &error)) {
        return error;
    }
    if (::setenv(kStateFileVariable, path.c_str(), 0) != 0 ||
        ::setenv("DRAVIX_ASPI_LIBRARY", library.c_str(), 1) != 0) {
        return "cannot set the environment for the virtual drive";
    }
    return {};
}

}  // namespace dravix::emu
