// libdravix-vdrive.so: the ASPI programming interface over the virtual drives of the state file.
// Host adapter 0 holds the drives as targets 0..n-1 (LUN 0). Execute requests complete on the
// library's own worker thread, so callers see SS_PENDING first and poll the status byte, as with
// a real ASPI manager.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "drive/AspiSrb.h"
#include "emu/Scenario.h"
#include "emu/StateFile.h"

namespace {

using namespace dravix::aspi;
using dravix::emu::Scenario;
using dravix::emu::ScsiOutcome;

constexpr uint8_t kTargetsPerAdapter = 8;
constexpr uint8_t kHostAdapterScsiId = 7;

void SetStatus(uint8_t& status, uint8_t value) {
    // The caller polls this byte from another thread: everything else in the block must be
    // visible before it changes.
    std::atomic_ref<uint8_t>(status).store(value, std::memory_order_release);
}

void CopyText(uint8_t* field, const char* text, size_t width) {
    std::memset(field, ' ', width);
    std::memcpy(field, text, std::min(std::strlen(text), width));
}

class AspiHost final {
  public:
    static AspiHost& Instance() {
        static AspiHost host;
        return host;
    }

    ~AspiHost() {
        {
            std::lock_guard lock(m_queueMutex);
            m_stopping = true;
        }
        m_wakeUp.notify_all();
        if (m_worker.joinable()) m_worker.join();
    }

    uint32_t SupportInfo() {
        Scenario* scenario = Load();
        if (!scenario) return static_cast<uint32_t>(SS_NO_ADAPTERS) << 8;
        return (static_cast<uint32_t>(SS_COMP) << 8) | 1;
    }

    uint32_t Send(void* block) {
        if (!block) return SS_INVALID_SRB;
        auto* header = static_cast<SRB_Header*>(block);
        switch (header->SRB_Cmd) {
            case SC_HA_INQUIRY:
                return Finish(header, HostAdapterInquiry(*static_cast<SRB_HAInquiry*>(block)));
            case SC_GET_DEV_TYPE:
                return Finish(header, DeviceType(*static_cast<SRB_GDEVBlock*>(block)));
            case SC_EXEC_SCSI_CMD:
                return Queue(*static_cast<SRB_ExecSCSICmd*>(block));
            default:
                return Finish(header, SS_INVALID_SRB);
        }
    }

  private:
    AspiHost() = default;

    Scenario* Load() {
        std::lock_guard lock(m_loadMutex);
        if (m_scenario) return m_scenario.get();
        std::string error;
        m_scenario = Scenario::Open(dravix::emu::StateFilePath(), &error);
        if (!m_scenario) {
            if (error != m_loadError) std::fprintf(stderr, "libdravix-vdrive: %s\n", error.c_str());
            m_loadError = error;
            return nullptr;
        }
        m_scenario->SetErrorSink([](const std::string& message) {
            std::fprintf(stderr, "libdravix-vdrive: %s\n", message.c_str());
        });
        return m_scenario.get();
    }

    static uint32_t Finish(SRB_Header* header, uint8_t status) {
        SetStatus(header->SRB_Status, status);
        return status;
    }

    size_t VisibleDrives() {
        Scenario* scenario = Load();
        return scenario ? std::min<size_t>(scenario->DriveCount(), kTargetsPerAdapter) : 0;
    }

    uint8_t HostAdapterInquiry(SRB_HAInquiry& block) {
        block.HA_Count = Load() ? 1 : 0;
        if (block.SRB_HaId != 0 || !Load()) return SS_INVALID_HA;
        block.HA_SCSI_ID = kHostAdapterScsiId;
        CopyText(block.HA_ManagerId, "DRAVIX VDRIVE", sizeof block.HA_ManagerId);
        CopyText(block.HA_Identifier, "VIRTUAL", sizeof block.HA_Identifier);
        std::memset(block.HA_Unique, 0, sizeof block.HA_Unique);
        block.HA_Unique[3] = kTargetsPerAdapter;
        return SS_COMP;
    }

    uint8_t DeviceType(SRB_GDEVBlock& block) {
        if (block.SRB_HaId != 0 || !Load()) return SS_INVALID_HA;
        if (block.SRB_Lun != 0 || block.SRB_Target >= VisibleDrives()) return SS_NO_DEVICE;
        block.SRB_DeviceType = DTYPE_CDROM;
        return SS_COMP;
    }

    uint32_t Queue(SRB_ExecSCSICmd& block) {
        block.SRB_HaStat = HASTAT_OK;
        block.SRB_TargStat = 0;
        if (block.SRB_HaId != 0 || !Load())
            return Finish(reinterpret_cast<SRB_Header*>(&block), SS_INVALID_HA);
        const uint8_t direction = block.SRB_Flags & (SRB_DIR_IN | SRB_DIR_OUT);
        if (block.SRB_CDBLen == 0 || block.SRB_CDBLen > sizeof block.CDBByte ||
            direction == (SRB_DIR_IN | SRB_DIR_OUT) || (block.SRB_BufLen > 0 && !block.SRB_BufPointer)) {
            return Finish(reinterpret_cast<SRB_Header*>(&block), SS_INVALID_SRB);
        }
        if (block.SRB_Lun != 0 || block.SRB_Target >= VisibleDrives()) {
            return Finish(reinterpret_cast<SRB_Header*>(&block), SS_NO_DEVICE);
        }
        // SRB_EVENT_NOTIFY has nothing to signal on this system; the caller polls.
        SetStatus(block.SRB_Status, SS_PENDING);
        {
            std::lock_guard lock(m_queueMutex);
            m_queue.push_back(&block);
            if (!m_worker.joinable()) m_worker = std::thread([this] { Work(); });
        }
        m_wakeUp.notify_one();
        return SS_PENDING;
    }

    void Work() {
        for (;;) {
            SRB_ExecSCSICmd* block = nullptr;
            {
                std::unique_lock lock(m_queueMutex);
                m_wakeUp.wait(lock, [this] { return m_stopping || !m_queue.empty(); });
                if (m_queue.empty()) return;
                block = m_queue.front();
                m_queue.pop_front();
            }
            Execute(*block);
        }
    }

    void Execute(SRB_ExecSCSICmd& block) {
        const int direction = (block.SRB_Flags & SRB_DIR_IN) ? 2 : (block.SRB_Flags & SRB_DIR_OUT) ? 1 : 0;
        ScsiOutcome outcome{};
        try {
            outcome = m_scenario->Drive(block.SRB_Target)
                          .Execute(block.CDBByte, block.SRB_CDBLen, direction, block.SRB_BufPointer,
                                   block.SRB_BufLen, 0);
        } catch (const std::exception&) {
            // The drive left the state file while the request waited.
            SetStatus(block.SRB_Status, SS_NO_DEVICE);
            return;
        }
        uint8_t status = SS_ERR;
        switch (outcome.kind) {
            case ScsiOutcome::Kind::Good:
                block.SRB_TargStat = 0x00;
                status = SS_COMP;
                break;
            case ScsiOutcome::Kind::CheckCondition: {
                block.SRB_TargStat = 0x02;
                const size_t length = std::min<size_t>(block.SRB_SenseLen, sizeof block.SenseArea);
                std::memcpy(block.SenseArea, outcome.sense, std::min(length, sizeof outcome.sense));
                break;
            }
            case ScsiOutcome::Kind::Busy:
                block.SRB_TargStat = 0x08;
                break;
            case ScsiOutcome::Kind::HostTimeout:
                block.SRB_HaStat = HASTAT_TIMEOUT;
                break;
        }
        SetStatus(block.SRB_Status, status);
    }

    std::mutex m_loadMutex;
    std::unique_ptr<Scenario> m_scenario;
    std::string m_loadError;

    std::mutex m_queueMutex;
    std::condition_variable m_wakeUp;
    std::deque<SRB_ExecSCSICmd*> m_queue;
    bool m_stopping = false;
    std::thread m_worker;
};

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t GetASPI32SupportInfo() {
    return AspiHost::Instance().SupportInfo();
}

extern "C" __attribute__((visibility("default"))) uint32_t SendASPI32Command(void* srb) {
    return AspiHost::Instance().Send(srb);
}
