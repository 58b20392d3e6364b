#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace dravix {

// A growable in-memory file with a position, for encoders that seek back over what they wrote
// (libtiff patches directory offsets, OpenJPEG box lengths). The finished bytes go to the sink
// in one write.
class MemoryFile final {
  public:
    // Writes at the position, growing the file; false when memory runs out.
    bool Write(const void* data, size_t size) noexcept;
    // Reads up to size bytes at the position; returns the count read.
    size_t Read(void* data, size_t size) noexcept;
    // Positions past the end are allowed; a later write fills the gap with zeros.
    void Seek(uint64_t position) noexcept { m_position = position; }
    uint64_t Position() const noexcept { return m_position; }
    uint64_t Size() const noexcept { return m_bytes.size(); }
    const std::vector<uint8_t>& Bytes() const noexcept { return m_bytes; }

  private:
    std::vector<uint8_t> m_bytes;
    uint64_t m_position = 0;
};

}  // namespace dravix
