#include "tests/support/FakeSgSystem.h"

#include <cerrno>

namespace dravix::test {

void FakeSgSystem::AddDrive(int srIndex, SgDevice device, int sgIndex, int srOpenError, int sgOpenError) {
    Node sr;
    sr.device = device;
    sr.openError = srOpenError;
    if (sgIndex >= 0) {
        sr.generic = "/dev/sg" + std::to_string(sgIndex);
        Node sg;
        sg.blockDevice = false;
        sg.major = 21;
        sg.openError = sgOpenError;
        sg.device = device;
        AddNode(sr.generic, std::move(sg));
    }
    AddNode("/dev/sr" + std::to_string(srIndex), std::move(sr));
}

void FakeSgSystem::AddNode(const std::string& path, Node node) {
    std::lock_guard lock(m_mutex);
    m_nodes[path] = std::move(node);
}

void FakeSgSystem::RemoveNode(const std::string& path) {
    std::lock_guard lock(m_mutex);
    m_nodes.erase(path);
}

int FakeSgSystem::OpenCount() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_open.size());
}

std::vector<std::string> FakeSgSystem::Opened() const {
    std::lock_guard lock(m_mutex);
    return m_opened;
}

std::string FakeSgSystem::PathOf(int fd) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_open.find(fd);
    return it == m_open.end() ? std::string() : it->second;
}

SgSystem::NodeStatus FakeSgSystem::Stat(const std::string& path) {
    std::lock_guard lock(m_mutex);
    NodeStatus s;
    const auto it = m_nodes.find(path);
    if (it == m_nodes.end()) return s;
    s.exists = true;
    s.blockDevice = it->second.blockDevice;
    s.major = it->second.major;
    s.uid = it->second.uid;
    s.gid = it->second.gid;
    s.mode = it->second.mode;
    return s;
}

int FakeSgSystem::Open(const std::string& path) {
    std::lock_guard lock(m_mutex);
    const auto it = m_nodes.find(path);
    if (it == m_nodes.end()) return -ENOENT;
    if (it->second.openError != 0) return -it->second.openError;
    const int fd = m_nextFd++;
    m_open[fd] = path;
    m_opened.push_back(path);
    return fd;
}

void FakeSgSystem::Close(int fd) {
    std::lock_guard lock(m_mutex);
    m_open.erase(fd);
}

std::string FakeSgSystem::GenericNodeOf(const std::string& blockPath) {
    std::lock_guard lock(m_mutex);
    const auto it = m_nodes.find(blockPath);
    return it == m_nodes.end() ? std::string() : it->second.generic;
}

int FakeSgSystem::SgIo(int fd, sg_io_hdr_t* request) {
    SgDevice device;
    {
        std::lock_guard lock(m_mutex);
        const auto open = m_open.find(fd);
        if (open == m_open.end()) return -EBADF;
        // A node removed while open (a drive pulled out) answers nothing, and stays removed.
        const auto node = m_nodes.find(open->second);
        if (node != m_nodes.end()) device = node->second.device;
    }
    if (!device) return -EIO;
    return device(*request);
}

std::string FakeSgSystem::GroupName(unsigned gid) {
    std::lock_guard lock(m_mutex);
    const auto it = m_groups.find(gid);
    return it == m_groups.end() ? std::string() : it->second;
}

}  // namespace dravix::test
