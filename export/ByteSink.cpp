#include "export/ByteSink.h"

#include <cstring>
#include <new>

namespace dravix {

bool ByteSink::Write(const void* data, size_t size) noexcept {
    if (m_failed) return false;
    if (size == 0) return true;
    if (!DoWrite(data, size)) m_failed = true;
    return !m_failed;
}

bool ByteSink::Flush() noexcept {
    if (m_failed) return false;
    if (!DoFlush()) m_failed = true;
    return !m_failed;
}

FileResult FileSink::Commit() {
    FileResult committed = m_file.Commit();
    if (!committed.Ok()) MarkFailed();
    return committed;
}

bool MemorySink::DoWrite(const void* data, size_t size) noexcept {
    if (size > m_limit - m_bytes.size()) return false;
    try {
        const auto* bytes = static_cast<const uint8_t*>(data);
        m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

}  // namespace dravix
