#include "tests/support/VirtualBus.h"

#include <algorithm>
#include <cstring>

#include "turns/WorkerThreads.h"

namespace dravix::test {

int ExecuteOnVirtualDrive(emu::VirtualDrive& drive, sg_io_hdr_t& r) {
    const int direction = r.dxfer_direction == SG_DXFER_TO_DEV     ? 1
                          : r.dxfer_direction == SG_DXFER_FROM_DEV ? 2
                                                                   : 0;
    const emu::ScsiOutcome outcome = drive.Execute(
        r.cmdp, r.cmd_len, direction, static_cast<uint8_t*>(r.dxferp), r.dxfer_len, r.timeout / 1000);
    r.status = 0;
    r.host_status = 0;
    r.driver_status = 0;
    r.sb_len_wr = 0;
    r.resid = 0;
    switch (outcome.kind) {
        case emu::ScsiOutcome::Kind::Good:
            if (direction == 2)
                r.resid = static_cast<int>(r.dxfer_len - std::min(r.dxfer_len, outcome.transferred));
            break;
        case emu::ScsiOutcome::Kind::CheckCondition: {
            const size_t n = std::min<size_t>(emu::kSenseLength, r.mx_sb_len);
            std::memcpy(r.sbp, outcome.sense, n);
            r.sb_len_wr = static_cast<unsigned char>(n);
            r.status = 0x02;
            r.masked_status = 0x01;
            r.driver_status = 0x08;  // DRIVER_SENSE
            // What came before the sense (a recovered read brings all of its data).
            if (direction == 2)
                r.resid = static_cast<int>(r.dxfer_len - std::min(r.dxfer_len, outcome.transferred));
            break;
        }
        case emu::ScsiOutcome::Kind::Busy:
            r.status = 0x08;
            r.masked_status = 0x04;
            break;
        case emu::ScsiOutcome::Kind::HostTimeout:
            r.host_status = 0x03;  // DID_TIME_OUT
            break;
        case emu::ScsiOutcome::Kind::AdapterError:
            r.host_status = 0x07;  // DID_ERROR
            break;
    }
    return 0;
}

VirtualBus::VirtualBus()
    : m_os(std::make_shared<FakeSgSystem>()), m_platform(std::make_shared<TestPlatform>()) {
    m_platform->sg = m_os;
}

VirtualBus::~VirtualBus() {
    // A worker of a window that is gone may still be at one of these drives.
    WorkerThreads::Program().JoinAll();
}

emu::VirtualDrive& VirtualBus::AddDrive(emu::DriveKind kind) {
    m_drives.push_back(std::make_unique<emu::VirtualDrive>(kind));
    emu::VirtualDrive* drive = m_drives.back().get();
    const int index = static_cast<int>(m_drives.size() - 1);
    m_os->AddDrive(
        index,
        [this, drive](sg_io_hdr_t& r) {
            {
                std::lock_guard lock(m_logMutex);
                m_log.emplace_back(r.cmdp, r.cmdp + r.cmd_len);
            }
            return ExecuteOnVirtualDrive(*drive, r);
        },
        index);
    return *drive;
}

std::vector<std::vector<uint8_t>> VirtualBus::Commands() const {
    std::lock_guard lock(m_logMutex);
    return m_log;
}

size_t VirtualBus::CountOpcode(uint8_t opcode) const {
    std::lock_guard lock(m_logMutex);
    return static_cast<size_t>(
        std::count_if(m_log.begin(), m_log.end(), [opcode](const auto& cdb) { return cdb[0] == opcode; }));
}

void VirtualBus::ClearCommands() {
    std::lock_guard lock(m_logMutex);
    m_log.clear();
}

}  // namespace dravix::test
