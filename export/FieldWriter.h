#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/ByteOrder.h"

namespace dravix {

// Builds a header as a list of fields in file order, so a format's layout reads top to bottom
// like its table.
class FieldWriter final {
  public:
    explicit FieldWriter(std::vector<uint8_t>& out) : m_out(out) {}

    FieldWriter& U8(unsigned v) {
        m_out.push_back(static_cast<uint8_t>(v));
        return *this;
    }
    FieldWriter& Le16(unsigned v) { return U8(v & 0xFF).U8((v >> 8) & 0xFF); }
    FieldWriter& Le32(uint32_t v) { return Le16(v & 0xFFFF).Le16(v >> 16); }
    FieldWriter& Be16(unsigned v) { return U8((v >> 8) & 0xFF).U8(v & 0xFF); }
    FieldWriter& Be32(uint32_t v) { return Be16(v >> 16).Be16(v & 0xFFFF); }
    FieldWriter& Zeros(size_t count) {
        m_out.insert(m_out.end(), count, 0);
        return *this;
    }
    FieldWriter& Bytes(const void* data, size_t size) {
        const auto* p = static_cast<const uint8_t*>(data);
        m_out.insert(m_out.end(), p, p + size);
        return *this;
    }

  private:
    std::vector<uint8_t>& m_out;
};

}  // namespace dravix
