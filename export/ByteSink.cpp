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

FileSink::FileSink(const std::string& path) : m_file(std::fopen(path.c_str(), "wb")) {}

FileSink::~FileSink() {
    if (m_file) std::fclose(m_file);
}

bool FileSink::Close() noexcept {
    if (!m_file) return false;
    const bool flushed = Flush();
    const bool closed = std::fclose(m_file) == 0;
    m_file = nullptr;
    if (!closed) MarkFailed();
    return flushed && closed;
}

bool FileSink::DoWrite(const void* data, size_t size) noexcept {
    return m_file && std::fwrite(data, 1, size, m_file) == size;
}

bool FileSink::DoFlush() noexcept {
    return m_file && std::fflush(m_file) == 0;
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
