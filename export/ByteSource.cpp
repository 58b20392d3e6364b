#include "export/ByteSource.h"

#include <unistd.h>

#include <cstring>

#include "base/SafeFile.h"

namespace dravix {

FileSource::FileSource(const std::string& path) {
    // A FIFO, a device or a folder is refused before it is read (or waited on).
    FileResult opened;
    off_t size = 0;
    const int fd = OpenFileForReading(path, &opened, &size);
    if (fd < 0) return;
    m_file = ::fdopen(fd, "rb");
    if (!m_file) {
        ::close(fd);
        return;
    }
    m_size = static_cast<uint64_t>(size);
}

FileSource::~FileSource() {
    if (m_file) std::fclose(m_file);
}

bool FileSource::Read(void* data, size_t size) noexcept {
    if (!m_file) return false;
    if (size > m_size || m_position > m_size - size) return false;
    if (std::fread(data, 1, size, m_file) != size) return false;
    m_position += size;
    return true;
}

bool FileSource::Seek(uint64_t offset) noexcept {
    if (!m_file || offset > m_size) return false;
    if (fseeko(m_file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    m_position = offset;
    return true;
}

bool MemorySource::Read(void* data, size_t size) noexcept {
    if (size > m_bytes.size() || m_position > m_bytes.size() - size) return false;
    if (size != 0) std::memcpy(data, m_bytes.data() + m_position, size);
    m_position += size;
    return true;
}

bool MemorySource::Seek(uint64_t offset) noexcept {
    if (offset > m_bytes.size()) return false;
    m_position = offset;
    return true;
}

}  // namespace dravix
