#include "export/MemoryFile.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace dravix {

bool MemoryFile::Write(const void* data, size_t size) noexcept {
    if (size == 0) return true;
    uint64_t end = 0;
    if (__builtin_add_overflow(m_position, uint64_t{size}, &end) || end > SIZE_MAX / 2) return false;
    try {
        if (end > m_bytes.size()) {
            if (end > m_bytes.capacity())
                m_bytes.reserve(std::max<size_t>(static_cast<size_t>(end), m_bytes.capacity() * 2));
            m_bytes.resize(static_cast<size_t>(end));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memcpy(m_bytes.data() + m_position, data, size);
    m_position = end;
    return true;
}

size_t MemoryFile::Read(void* data, size_t size) noexcept {
    if (m_position >= m_bytes.size()) return 0;
    const size_t available = m_bytes.size() - static_cast<size_t>(m_position);
    const size_t count = size < available ? size : available;
    std::memcpy(data, m_bytes.data() + m_position, count);
    m_position += count;
    return count;
}

}  // namespace dravix
