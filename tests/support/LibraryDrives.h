#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/Platform.h"
#include "emu/Scenario.h"
#include "tests/support/TestPlatform.h"

namespace dravix::test {

// Drives behind the virtual drive's own ASPI library, as `--virtual` runs them: they are written
// to the test's state file, which the library reads (and re-reads after every change made through
// Scenario()), and a DriveTable given Drives() takes the ASPI path over the library.
// The library reads the file named when it is first loaded: one such file per test program.
class LibraryDrives final {
  public:
    LibraryDrives(const std::string& statePath, const std::vector<emu::DriveState>& drives)
        : m_scenario(drives), m_platform(std::make_shared<TestPlatform>()) {
        ::setenv("DRAVIX_VDRIVE_STATE", statePath.c_str(), 1);
        EXPECT_EQ(m_scenario.BindToFile(statePath).ErrorText(), "");
        m_platform->passThrough = false;
        m_platform->loadAspi = [] {
            return LoadAspiLibraryFile(std::string(DRAVIX_TEST_BIN_DIR) + "/libdravix-vdrive.so");
        };
    }
    ~LibraryDrives() { ::unsetenv("DRAVIX_VDRIVE_STATE"); }
    LibraryDrives(const LibraryDrives&) = delete;
    LibraryDrives& operator=(const LibraryDrives&) = delete;

    emu::Scenario& Scenario() { return m_scenario; }
    DriveServices Drives() const { return {m_platform, {}}; }

  private:
    emu::Scenario m_scenario;
    std::shared_ptr<TestPlatform> m_platform;
};

}  // namespace dravix::test
