// The ASPI path: drives reached through an ASPI library's request blocks. Portable; the library
// and the completion event come from the platform.

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "drive/AspiSrb.h"
#include "drive/Messages.h"
#include "drive/Platform.h"
#include "drive/TransportPath.h"

namespace dravix {

namespace {

using namespace aspi;

// Reads the status byte the library writes from its own thread when the request ends.
uint8_t LoadStatus(uint8_t& status) {
    return std::atomic_ref<uint8_t>(status).load(std::memory_order_acquire);
}

// Without a completion event: poll the status byte, yielding the processor between reads and
// backing off to short sleeps so a slow command does not keep a core busy.
void PollUntilDone(uint8_t& status) {
    const auto start = std::chrono::steady_clock::now();
    while (LoadStatus(status) == SS_PENDING) {
        if (std::chrono::steady_clock::now() - start < std::chrono::microseconds(200)) {
            std::this_thread::yield();
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
    }
}

class AspiPath final : public TransportPath {
  public:
    explicit AspiPath(Platform& platform) : m_platform(platform) {}

    bool Load() override {
        m_library = m_platform.LoadAspiLibrary();
        if (!m_library) return false;
        m_supportInfo = m_library->SupportInfo();
        m_send = m_library->SendCommand();
        if (m_supportInfo == nullptr || m_send == nullptr) return false;
        const uint32_t info = m_supportInfo();
        const uint8_t status = static_cast<uint8_t>(info >> 8);
        if (status != SS_COMP && status != SS_NO_ADAPTERS) {
            ShowDriveMessage(kMsgUnexpectedAspiFailure);
            return false;
        }
        m_adapterCount = static_cast<int32_t>(info & 0xFF);
        return true;
    }

    int32_t AdapterCount() const override { return m_adapterCount; }

    void Enumerate(DiscoveryTarget& target) override {
        if (m_send == nullptr) return;
        for (int32_t adapter = 0; adapter < m_adapterCount; ++adapter) {
            SRB_HAInquiry inquiry{};
            inquiry.SRB_Cmd = SC_HA_INQUIRY;
            inquiry.SRB_HaId = static_cast<uint8_t>(adapter);
            if (Submit(&inquiry, inquiry.SRB_Status) != SS_COMP) continue;
            const uint8_t reported = inquiry.HA_Unique[3];
            const int targets = (reported == 8 || reported == 16) ? reported : 8;
            for (int id = 0; id < targets; ++id) {
                if (target.Full()) return;  // room for eight drives; a ninth is ignored
                SRB_GDEVBlock device{};
                device.SRB_Cmd = SC_GET_DEV_TYPE;
                device.SRB_HaId = static_cast<uint8_t>(adapter);
                device.SRB_Target = static_cast<uint8_t>(id);
                if (Submit(&device, device.SRB_Status) != SS_COMP || device.SRB_DeviceType != DTYPE_CDROM) {
                    continue;
                }
                DriveEntry candidate;
                candidate.adapterId = static_cast<uint8_t>(adapter);
                candidate.targetId = static_cast<uint8_t>(id);
                target.TryAddDrive(candidate, 36);
            }
        }
    }

    TransportResult Send(const DriveEntry& entry, const uint8_t* cdb, int cdbLength, int direction,
                         void* data, uint32_t length, uint32_t /*timeoutSeconds: not used here*/) override {
        TransportResult result;
        if (m_send == nullptr) return result;
        SRB_ExecSCSICmd srb{};
        srb.SRB_Cmd = SC_EXEC_SCSI_CMD;
        srb.SRB_HaId = entry.adapterId;
        srb.SRB_Target = entry.targetId;
        srb.SRB_Lun = 0;
        srb.SRB_Flags = direction == kDataOut ? SRB_DIR_OUT : direction == kDataIn ? SRB_DIR_IN : 0;
        srb.SRB_BufLen = length;
        srb.SRB_BufPointer = static_cast<uint8_t*>(data);
        srb.SRB_SenseLen = SENSE_LEN;
        srb.SRB_CDBLen = static_cast<uint8_t>(cdbLength);
        std::memcpy(srb.CDBByte, cdb, static_cast<size_t>(cdbLength));

        uint8_t status = SS_PENDING;
        if (auto event = m_platform.CreateCompletionEvent()) {
            srb.SRB_Flags |= SRB_EVENT_NOTIFY;
            srb.SRB_PostProc = event->NativeHandle();
            const uint8_t returned = static_cast<uint8_t>(m_send(&srb));
            if (returned == SS_PENDING) event->Wait();
            status = Settled(srb.SRB_Status, returned);
        } else {
            status = Submit(&srb, srb.SRB_Status);
        }

        if (status == SS_COMP) {
            result.outcome = TransportResult::Outcome::Completed;
            return result;
        }
        result.sense = DecodeSense(srb.SenseArea, std::min<size_t>(srb.SRB_SenseLen, sizeof srb.SenseArea));
        if (srb.SRB_HaStat == HASTAT_TIMEOUT) {
            result.outcome = TransportResult::Outcome::TimedOut;
        } else if (srb.SRB_TargStat == kScsiCheckCondition) {
            result.outcome = TransportResult::Outcome::CheckCondition;
        } else {
            result.outcome = TransportResult::Outcome::Failed;
        }
        return result;
    }

    void CloseHandle(DriveEntry& entry) override { entry.deviceHandle = kNoDevice; }

  private:
    // Sends a request that the library may finish at once or later, and waits for its status.
    // A request the library rejects outright is not polled: its status byte may never change.
    uint8_t Submit(void* srb, uint8_t& status) {
        const uint8_t returned = static_cast<uint8_t>(m_send(srb));
        if (returned == SS_PENDING) PollUntilDone(status);
        return Settled(status, returned);
    }

    static uint8_t Settled(uint8_t& status, uint8_t returned) {
        const uint8_t now = LoadStatus(status);
        return now != SS_PENDING ? now : returned;
    }

    Platform& m_platform;
    std::unique_ptr<AspiLibrary> m_library;
    GetSupportInfoFn m_supportInfo = nullptr;
    SendCommandFn m_send = nullptr;
    int32_t m_adapterCount = 0;
};

}  // namespace

std::unique_ptr<TransportPath> MakeAspiPath(Platform& platform) {
    return std::make_unique<AspiPath>(platform);
}

}  // namespace dravix
