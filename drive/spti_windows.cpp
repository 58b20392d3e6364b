// The Windows pass-through path: IOCTL_SCSI_PASS_THROUGH_DIRECT on "\\.\X:" handles.

#include <windows.h>
// The pass-through declarations need the Windows types above them.
#include <ntddscsi.h>

#include <cstddef>
#include <cstring>

#include "drive/SptiSystem.h"
#include "drive/TransportPath.h"

namespace dravix {

namespace {

constexpr DWORD kErrorSemaphoreTimeout = 121;
constexpr UCHAR kSenseAreaLength = 32;

// The request record: the pass-through block, filler to an 8-byte boundary, then the sense area.
struct PassThroughRequest {
    SCSI_PASS_THROUGH_DIRECT header;
    ULONG filler;
    UCHAR sense[kSenseAreaLength];
};

class RealSystem final : public SptiSystem {
  public:
    HANDLE OpenDevice(const std::string& path) override {
        return ::CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                             nullptr, OPEN_EXISTING, 0, nullptr);
    }
    UINT DriveType(const std::string& root) override { return ::GetDriveTypeA(root.c_str()); }
    BOOL DeviceControl(HANDLE device, DWORD code, void* in, DWORD inLength, void* out, DWORD outLength,
                       DWORD* returned) override {
        return ::DeviceIoControl(device, code, in, inLength, out, outLength, returned, nullptr);
    }
    DWORD LastError() override { return ::GetLastError(); }
    void Close(HANDLE device) override { ::CloseHandle(device); }
};

HANDLE AsHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

class SptiPath final : public TransportPath {
  public:
    explicit SptiPath(std::shared_ptr<SptiSystem> system) : m_os(std::move(system)) {}

    bool Load() override { return true; }

    void Enumerate(DiscoveryTarget& target) override {
        for (char letter = 'c'; letter <= 'z'; ++letter) {
            if (target.Full()) return;  // room for eight drives; a ninth is ignored
            const std::string device = std::string("\\\\.\\") + letter + ":";
            HANDLE handle = m_os->OpenDevice(device);
            if (handle == INVALID_HANDLE_VALUE || handle == nullptr) continue;
            if (m_os->DriveType(std::string(1, letter) + ":") != DRIVE_CDROM) {
                m_os->Close(handle);
                continue;
            }
            DriveEntry candidate;
            candidate.deviceHandle = reinterpret_cast<std::intptr_t>(handle);
            candidate.nodeName = device;
            if (target.TryAddDrive(candidate, 56) != 0) m_os->Close(handle);
        }
    }

    TransportResult Send(const DriveEntry& entry, const uint8_t* cdb, int cdbLength, int direction,
                         void* data, uint32_t length, uint32_t timeoutSeconds) override {
        TransportResult result;
        if (entry.deviceHandle == kNoDevice) return result;

        PassThroughRequest request;
        std::memset(&request, 0, sizeof request);
        SCSI_PASS_THROUGH_DIRECT& spt = request.header;
        spt.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
        spt.PathId = entry.adapterId;
        spt.TargetId = entry.targetId;
        spt.Lun = 0;
        spt.CdbLength = static_cast<UCHAR>(cdbLength);
        std::memcpy(spt.Cdb, cdb, static_cast<size_t>(cdbLength));
        spt.SenseInfoLength = kSenseAreaLength;
        spt.SenseInfoOffset = offsetof(PassThroughRequest, sense);
        spt.DataIn = direction == kDataOut  ? SCSI_IOCTL_DATA_OUT
                     : direction == kDataIn ? SCSI_IOCTL_DATA_IN
                                            : SCSI_IOCTL_DATA_UNSPECIFIED;
        spt.DataTransferLength = length;
        spt.DataBuffer = data;
        spt.TimeOutValue = timeoutSeconds;

        DWORD returned = 0;
        if (!m_os->DeviceControl(AsHandle(entry.deviceHandle), IOCTL_SCSI_PASS_THROUGH_DIRECT, &request,
                                 sizeof(SCSI_PASS_THROUGH_DIRECT), &request, sizeof request, &returned)) {
            const DWORD error = m_os->LastError();
            result.osError = static_cast<int>(error);
            result.outcome = error == kErrorSemaphoreTimeout ? TransportResult::Outcome::TimedOut
                                                             : TransportResult::Outcome::Failed;
            return result;
        }
        if (spt.ScsiStatus == kScsiCheckCondition) {
            result.outcome = TransportResult::Outcome::CheckCondition;
            result.sense = DecodeSense(request.sense, kSenseAreaLength);
            result.transferred = spt.DataTransferLength < length ? spt.DataTransferLength : length;
            return result;
        }
        // BUSY and the other statuses mean the command did not run.
        if (spt.ScsiStatus != kScsiGood) {
            result.outcome = TransportResult::Outcome::Failed;
            return result;
        }
        result.outcome = TransportResult::Outcome::Completed;
        // The driver rewrites the length with the bytes it moved.
        result.transferred = spt.DataTransferLength < length ? spt.DataTransferLength : length;
        return result;
    }

    void CloseHandle(DriveEntry& entry) override {
        if (entry.deviceHandle != kNoDevice) m_os->Close(AsHandle(entry.deviceHandle));
        entry.deviceHandle = kNoDevice;
    }

  private:
    std::shared_ptr<SptiSystem> m_os;
};

}  // namespace

std::shared_ptr<SptiSystem> RealSptiSystem() {
    return std::make_shared<RealSystem>();
}

std::unique_ptr<TransportPath> MakeSptiPath(std::shared_ptr<SptiSystem> system) {
    return std::make_unique<SptiPath>(std::move(system));
}

}  // namespace dravix
