#pragma once

#include <deque>
#include <memory>

#include "drive/DriveTable.h"
#include "emu/VirtualDrive.h"
#include "tests/support/FakeSgSystem.h"
#include "tests/support/TestPlatform.h"

namespace dravix::test {

// Virtual drives behind fake device nodes: drive i answers at /dev/sr<i> and its generic node
// /dev/sg<i>. A DriveTable given the bus's services (Drives()) finds these drives through the
// real Linux pass-through code; the bus must outlive it.
class VirtualBus final {
  public:
    VirtualBus();
    ~VirtualBus();
    VirtualBus(const VirtualBus&) = delete;
    VirtualBus& operator=(const VirtualBus&) = delete;

    emu::VirtualDrive& AddDrive(emu::DriveKind kind = emu::DriveKind::Maker);
    emu::VirtualDrive& Drive(size_t index) { return *m_drives.at(index); }
    size_t Count() const { return m_drives.size(); }
    FakeSgSystem& Os() { return *m_os; }
    // What a DriveTable (a window's, through AppServices; the command line's, through its
    // environment) is given to reach these drives.
    DriveServices Drives() const { return {m_platform, {}}; }

    // The CDBs every drive has received, in order (all drives together).
    std::vector<std::vector<uint8_t>> Commands() const;
    // How many of them have this operation code.
    size_t CountOpcode(uint8_t opcode) const;
    void ClearCommands();

  private:
    std::shared_ptr<FakeSgSystem> m_os;
    std::shared_ptr<TestPlatform> m_platform;
    std::deque<std::unique_ptr<emu::VirtualDrive>> m_drives;
    mutable std::mutex m_logMutex;
    std::vector<std::vector<uint8_t>> m_log;
};

// Runs one request on a virtual drive the way the kernel would fill sg_io_hdr.
int ExecuteOnVirtualDrive(emu::VirtualDrive& drive, sg_io_hdr_t& request);

}  // namespace dravix::test
