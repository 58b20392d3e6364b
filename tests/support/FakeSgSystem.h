#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "drive/SgSystem.h"

namespace dravix::test {

// Answers one SG_IO request the way the kernel fills sg_io_hdr: status, host and driver status,
// sense bytes written, data moved. Return 0, or -errno for the ioctl itself failing.
using SgDevice = std::function<int(sg_io_hdr_t& request)>;

// Fake device nodes for the Linux pass-through path. Block nodes of the CD-ROM major stand for
// drives; each drive may have a SCSI generic node; the device behind a node answers requests.
class FakeSgSystem final : public SgSystem {
  public:
    struct Node {
        bool blockDevice = true;
        unsigned major = kScsiCdromMajor;
        unsigned uid = 0;
        unsigned gid = 0;
        unsigned mode = 0660;
        int openError = 0;    // errno that Open reports, 0 = opens
        std::string generic;  // the SCSI generic node behind this block node
        SgDevice device;
    };

    // A CD/DVD drive at /dev/srN, optionally with a generic node /dev/sgM.
    void AddDrive(int srIndex, SgDevice device, int sgIndex = -1, int srOpenError = 0, int sgOpenError = 0);
    void AddNode(const std::string& path, Node node);
    void SetGroupName(unsigned gid, std::string name) { m_groups[gid] = std::move(name); }
    void RemoveNode(const std::string& path);
    void SetGenericDriverLoaded(bool loaded) { m_genericLoaded = loaded; }
    void SetCdromDriverLoaded(bool loaded) { m_cdromLoaded = loaded; }

    int OpenCount() const;                    // descriptors open now
    std::vector<std::string> Opened() const;  // every successful open, in order
    std::string PathOf(int fd) const;

    NodeStatus Stat(const std::string& path) override;
    int Open(const std::string& path) override;
    void Close(int fd) override;
    std::string GenericNodeOf(const std::string& blockPath) override;
    int SgIo(int fd, sg_io_hdr_t* request) override;
    bool GenericDriverLoaded() override { return m_genericLoaded; }
    bool CdromDriverLoaded() override { return m_cdromLoaded; }
    std::string GroupName(unsigned gid) override;

  private:
    mutable std::mutex m_mutex;
    std::map<std::string, Node> m_nodes;
    std::map<int, std::string> m_open;
    std::vector<std::string> m_opened;
    std::map<unsigned, std::string> m_groups;
    int m_nextFd = 3;
    bool m_genericLoaded = true;
    bool m_cdromLoaded = true;
};

}  // namespace dravix::test
