#include "emu/VirtualSetup.h"

#include <cstdlib>
#include <filesystem>

#include "base/InstallLayout.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"

namespace dravix::emu {

Result<void> PrepareVirtualDrive(const std::string& programDirectory) {
    const std::string directory = programDirectory.empty() ? ExecutableDirectory() : programDirectory;
    if (directory.empty()) return Error{"cannot find the directory of this program"};
    const std::string library =
        FindProgramFile(directory, InstalledLibraryDirectory(), kVirtualDriveLibraryName);
    if (library.empty()) {
        const std::filesystem::path installed =
            (std::filesystem::path(directory) / InstalledLibraryDirectory()).lexically_normal();
        return Error{std::string(kVirtualDriveLibraryName) +
                     ": the virtual drive library is missing (looked in " + directory + " and " +
                     installed.string() + ")"};
    }

    const std::string path = StateFilePath();
    std::error_code ignored;
    if (!std::filesystem::exists(path, ignored)) {
        Scenario demo(Preset::Demo);
        if (Result<void> written = demo.BindToFile(path); !written) return written;
    } else if (const Result<std::unique_ptr<Scenario>> opened = Scenario::Open(path); !opened) {
        return opened.Failure();
    }
    if (::setenv(kStateFileVariable, path.c_str(), 0) != 0 ||
        ::setenv("DRAVIX_ASPI_LIBRARY", library.c_str(), 1) != 0) {
        return Error{"cannot set the environment for the virtual drive"};
    }
    return {};
}

}  // namespace dravix::emu
