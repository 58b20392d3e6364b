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

std::string PrepareVirtualDrive(const std::string& libraryDirectory) {
    const std::string directory = libraryDirectory.empty() ? ExecutableDirectory() : libraryDirectory;
    if (directory.empty()) return "cannot find the directory of this program";
    const std::string library = directory + "/" + kVirtualDriveLibraryName;
    if (::access(library.c_str(), R_OK) != 0) return library + ": the virtual drive library is missing";

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
