// The Linux pass-through path: SG_IO on each drive's SCSI generic node, or on its sr node when
// the generic node cannot be opened.

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <vector>

#include "drive/SgSystem.h"
#include "drive/TransportPath.h"

namespace dravix {

namespace {

constexpr unsigned char kHostTimeOut = 0x03;    // DID_TIME_OUT
constexpr unsigned char kDriverTimeOut = 0x06;  // DRIVER_TIMEOUT
constexpr unsigned char kDriverSense = 0x08;    // DRIVER_SENSE
constexpr size_t kSenseBufferLength = 32;

class RealSystem final : public SgSystem {
  public:
    NodeStatus Stat(const std::string& path) override {
        NodeStatus s;
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0) return s;
        s.exists = true;
        s.blockDevice = S_ISBLK(st.st_mode);
        s.major = s.blockDevice ? major(st.st_rdev) : 0;
        s.uid = st.st_uid;
        s.gid = st.st_gid;
        s.mode = st.st_mode & 07777;
        return s;
    }

    int Open(const std::string& path) override {
        const int fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        return fd >= 0 ? fd : -errno;
    }

    void Close(int fd) override { ::close(fd); }

    std::string GenericNodeOf(const std::string& blockPath) override {
        const std::string name = blockPath.substr(blockPath.find_last_of('/') + 1);
        const std::string dir = "/sys/block/" + name + "/device/scsi_generic";
        DIR* d = ::opendir(dir.c_str());
        if (d == nullptr) return {};
        std::string node;
        while (dirent* e = ::readdir(d)) {
            if (std::strncmp(e->d_name, "sg", 2) == 0) {
                node = std::string("/dev/") + e->d_name;
                break;
            }
        }
        ::closedir(d);
        return node;
    }

    int SgIo(int fd, sg_io_hdr_t* request) override { return ::ioctl(fd, SG_IO, request) == 0 ? 0 : -errno; }

    bool GenericDriverLoaded() override {
        struct stat st {};
        return ::stat("/sys/class/scsi_generic", &st) == 0;
    }

    bool CdromDriverLoaded() override {
        struct stat st {};
        return ::stat("/sys/module/sr_mod", &st) == 0;
    }

    std::string GroupName(unsigned gid) override {
        struct group g {};
        struct group* found = nullptr;
        char buffer[4096];
        if (::getgrgid_r(gid, &g, buffer, sizeof buffer, &found) != 0 || found == nullptr) return {};
        return found->gr_name;
    }
};

bool IsPermissionError(int negativeErrno) {
    return negativeErrno == -EACCES || negativeErrno == -EPERM;
}

class SgPath final : public TransportPath {
  public:
    explicit SgPath(std::shared_ptr<SgSystem> system) : m_os(std::move(system)) {}

    bool Load() override { return true; }

    void Enumerate(DiscoveryTarget& target) override {
        DiscoveryFacts facts;
        facts.passThrough = true;
        facts.cdromDriverLoaded = m_os->CdromDriverLoaded();
        facts.genericDriverLoaded = m_os->GenericDriverLoaded();
        for (int i = 0; i < kCandidateNodes; ++i) {
            if (target.Full()) break;  // room for eight drives; a ninth is ignored
            const std::string blockPath = "/dev/sr" + std::to_string(i);
            const SgSystem::NodeStatus node = m_os->Stat(blockPath);
            if (!node.exists || !node.blockDevice || node.major != kScsiCdromMajor) continue;
            ++facts.driveNodes;

            int fd = m_os->Open(blockPath);
            if (fd < 0) {
                if (IsPermissionError(fd)) Refused(target, blockPath, node.gid);
                continue;
            }
            std::vector<DriveNode> nodes = {Described(blockPath, node, true)};
            // Vendor command codes only pass the kernel's filter on /dev/sr* with raw-I/O
            // privilege; the generic node takes them from anyone who may open it.
            std::string commandNode = blockPath;
            const std::string generic = m_os->GenericNodeOf(blockPath);
            if (!generic.empty()) {
                const SgSystem::NodeStatus genericNode = m_os->Stat(generic);
                const int gfd = m_os->Open(generic);
                if (gfd >= 0) {
                    m_os->Close(fd);
                    fd = gfd;
                    commandNode = generic;
                } else if (IsPermissionError(gfd)) {
                    Refused(target, generic, genericNode.gid);
                }
                nodes.push_back(Described(generic, genericNode, gfd >= 0));
            }

            DriveEntry candidate;
            candidate.deviceHandle = fd;
            candidate.nodeName = commandNode;
            candidate.nodes = std::move(nodes);
            if (target.TryAddDrive(candidate, 56) != 0) m_os->Close(fd);
        }
        target.NoteFacts(facts);
    }

    TransportResult Send(const DriveEntry& entry, const uint8_t* cdb, int cdbLength, int direction,
                         void* data, uint32_t length, uint32_t timeoutSeconds) override {
        TransportResult result;
        if (entry.deviceHandle == kNoDevice) return result;

        uint8_t sense[kSenseBufferLength] = {};
        uint8_t command[16] = {};
        std::memcpy(command, cdb, static_cast<size_t>(cdbLength));

        sg_io_hdr_t request{};
        request.interface_id = 'S';
        request.cmd_len = static_cast<unsigned char>(cdbLength);
        request.cmdp = command;
        request.mx_sb_len = sizeof sense;
        request.sbp = sense;
        switch (direction) {
            case kDataOut:
                request.dxfer_direction = SG_DXFER_TO_DEV;
                break;
            case kDataIn:
                request.dxfer_direction = SG_DXFER_FROM_DEV;
                break;
            default:
                request.dxfer_direction = SG_DXFER_NONE;
                length = 0;
                break;
        }
        request.dxfer_len = length;
        request.dxferp = length != 0 ? data : nullptr;
        const uint64_t ms = static_cast<uint64_t>(timeoutSeconds) * 1000u;
        request.timeout = ms > UINT_MAX ? UINT_MAX : static_cast<unsigned>(ms);

        const int rc = m_os->SgIo(static_cast<int>(entry.deviceHandle), &request);
        if (rc != 0) {
            result.osError = -rc;
            result.outcome =
                rc == -ETIMEDOUT ? TransportResult::Outcome::TimedOut : TransportResult::Outcome::Failed;
            return result;
        }
        if (request.host_status == kHostTimeOut || (request.driver_status & 0x0F) == kDriverTimeOut) {
            result.outcome = TransportResult::Outcome::TimedOut;
            return result;
        }
        // The kernel reports what it did not move; a driver that cannot tell leaves it 0.
        const int resid = request.resid;
        const uint32_t moved = resid <= 0                              ? length
                               : resid >= static_cast<int64_t>(length) ? 0
                                                                       : length - resid;
        const size_t senseLength = std::min<size_t>(request.sb_len_wr, sizeof sense);
        if (request.status == kScsiCheckCondition ||
            ((request.driver_status & kDriverSense) != 0 && senseLength != 0)) {
            result.outcome = TransportResult::Outcome::CheckCondition;
            result.sense = DecodeSense(sense, senseLength);
            result.transferred = moved;
            return result;
        }
        // BUSY, RESERVATION CONFLICT and adapter errors: the command did not run, so it must not
        // be reported as completed.
        if (request.status != kScsiGood || request.host_status != 0 || (request.driver_status & 0x0F) != 0) {
            result.outcome = TransportResult::Outcome::Failed;
            result.adapterError = request.status == kScsiGood;
            return result;
        }
        result.outcome = TransportResult::Outcome::Completed;
        result.transferred = moved;
        return result;
    }

    void CloseHandle(DriveEntry& entry) override {
        if (entry.deviceHandle != kNoDevice) m_os->Close(static_cast<int>(entry.deviceHandle));
        entry.deviceHandle = kNoDevice;
    }

  private:
    DriveNode Described(const std::string& path, const SgSystem::NodeStatus& status, bool opened) {
        DriveNode node;
        node.path = path;
        node.uid = status.uid;
        node.gid = status.gid;
        node.groupName = m_os->GroupName(status.gid);
        node.mode = status.mode;
        node.opened = opened;
        return node;
    }

    void Refused(DiscoveryTarget& target, const std::string& path, unsigned gid) {
        RefusedNode refused;
        refused.path = path;
        refused.groupName = m_os->GroupName(gid);
        refused.genericModuleMissing = !m_os->GenericDriverLoaded();
        target.NoteRefusedNode(refused);
    }

    std::shared_ptr<SgSystem> m_os;
};

}  // namespace

std::shared_ptr<SgSystem> RealSgSystem() {
    return std::make_shared<RealSystem>();
}

std::unique_ptr<TransportPath> MakeSgPath(std::shared_ptr<SgSystem> system) {
    return std::make_unique<SgPath>(std::move(system));
}

}  // namespace dravix
