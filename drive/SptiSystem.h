#pragma once

// The operating-system calls of the Windows pass-through path, behind one interface like the
// Linux path's, so the request building and answer decoding can be exercised without a drive.

#include <windows.h>

#include <memory>
#include <string>

namespace dravix {

class TransportPath;

class SptiSystem {
  public:
    virtual ~SptiSystem() = default;
    // CreateFile for reading and writing, sharing both, existing devices only; INVALID_HANDLE_VALUE on
    // failure.
    virtual HANDLE OpenDevice(const std::string& path) = 0;
    virtual UINT DriveType(const std::string& root) = 0;
    virtual BOOL DeviceControl(HANDLE device, DWORD code, void* in, DWORD inLength, void* out,
                               DWORD outLength, DWORD* returned) = 0;
    virtual DWORD LastError() = 0;
    virtual void Close(HANDLE device) = 0;
};

std::shared_ptr<SptiSystem> RealSptiSystem();

// The pass-through path over IOCTL_SCSI_PASS_THROUGH_DIRECT: drive letters c … z.
std::unique_ptr<TransportPath> MakeSptiPath(std::shared_ptr<SptiSystem> system);

}  // namespace dravix
