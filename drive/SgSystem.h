#pragma once

// The operating-system calls of the Linux pass-through path, behind one interface so that tests
// can stand a virtual drive behind fake device nodes and still run the real request building and
// answer decoding.

#include <scsi/sg.h>

#include <memory>
#include <string>

namespace dravix {

class TransportPath;

class SgSystem {
  public:
    struct NodeStatus {
        bool exists = false;
        bool blockDevice = false;
        unsigned major = 0;
        unsigned uid = 0;
        unsigned gid = 0;
        unsigned mode = 0;  // permission bits
    };

    virtual ~SgSystem() = default;
    virtual NodeStatus Stat(const std::string& path) = 0;
    // Opens for reading and writing without waiting for media; a descriptor, or -errno.
    virtual int Open(const std::string& path) = 0;
    virtual void Close(int fd) = 0;
    // The SCSI generic node behind a block device ("/dev/sg1"), found through sysfs; "" if none.
    virtual std::string GenericNodeOf(const std::string& blockPath) = 0;
    // The SG_IO request; 0, or -errno.
    virtual int SgIo(int fd, sg_io_hdr_t* request) = 0;
    // True when the SCSI generic driver is present (its sysfs class exists).
    virtual bool GenericDriverLoaded() = 0;
    // True when the kernel's CD/DVD driver (sr) is present (built in or loaded).
    virtual bool CdromDriverLoaded() = 0;
    virtual std::string GroupName(unsigned gid) = 0;
};

std::shared_ptr<SgSystem> RealSgSystem();

// The pass-through path over SG_IO: candidates /dev/sr0 … /dev/sr23.
std::unique_ptr<TransportPath> MakeSgPath(std::shared_ptr<SgSystem> system);

inline constexpr unsigned kScsiCdromMajor = 11;
inline constexpr int kCandidateNodes = 24;

}  // namespace dravix
