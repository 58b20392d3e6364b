#include "emu/VirtualSetup.h"

#include <cstdlib>
#include <filesystem>

#include "base/InstallLayout.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"

namespace dravix::emu {

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
