#include "export/GifLzw.h"

#include <algorithm>

#include "export/ByteSink.h"

namespace dravix {
namespace {

constexpr unsigned kHashSize = 5003;
constexpr unsigned kMaxBits = 12;
constexpr unsigned kTableLimit = 1u << kMaxBits;  // 4096 codes
constexpr size_t kMaxBlockData = 254;

}  // namespace

GifLzwEncoder::GifLzwEncoder() : m_keys(kHashSize), m_codes(kHashSize), m_stamps(kHashSize, 0) {}

void GifLzwEncoder::Begin(ByteSink& sink, unsigned minCodeSize) {
    m_sink = &sink;
    m_minCodeSize = minCodeSize;
    m_clearCode = 1u << minCodeSize;
    m_nextCode = m_clearCode + 2;
    m_codeWidth = minCodeSize + 1;
    m_maxCode = (1u << m_codeWidth) - 1;
    m_clearPending = false;
    m_prefix = -1;
    m_bitBuffer = 0;
    m_bitCount = 0;
    m_blockLength = 0;
    ResetHash();
    Output(m_clearCode);
}

void GifLzwEncoder::ResetHash() {
    if (++m_stamp == 0) {
        std::fill(m_stamps.begin(), m_stamps.end(), 0);
        m_stamp = 1;
    }
}

void GifLzwEncoder::Add(const uint8_t* indices, size_t count) {
    size_t i = 0;
    if (m_prefix < 0 && count > 0) m_prefix = indices[i++];
    unsigned prefix = static_cast<unsigned>(m_prefix);
    for (; i < count; ++i) {
        const unsigned pixel = indices[i];
        const uint32_t key = (prefix << 8) | pixel;
        int slot = static_cast<int>((pixel << 4) ^ prefix);
        bool found = false;
        if (m_stamps[static_cast<unsigned>(slot)] == m_stamp) {
            if (m_keys[static_cast<unsigned>(slot)] == key) {
                found = true;
            } else {
                // Secondary probe as in the classic coder: step back by the complement.
                const int step = slot == 0 ? 1 : static_cast<int>(kHashSize) - slot;
                for (;;) {
                    slot -= step;
                    if (slot < 0) slot += kHashSize;
                    if (m_stamps[static_cast<unsigned>(slot)] != m_stamp) break;
                    if (m_keys[static_cast<unsigned>(slot)] == key) {
                        found = true;
                        break;
                    }
                }
            }
        }
        if (found) {
            prefix = m_codes[static_cast<unsigned>(slot)];
            continue;
        }
        Output(prefix);
        prefix = pixel;
        if (m_nextCode < kTableLimit) {
            m_keys[static_cast<unsigned>(slot)] = key;
            m_codes[static_cast<unsigned>(slot)] = static_cast<uint16_t>(m_nextCode++);
            m_stamps[static_cast<unsigned>(slot)] = m_stamp;
        } else {
            // Table full: start again after a clear code.
            ResetHash();
            m_nextCode = m_clearCode + 2;
            m_clearPending = true;
            Output(m_clearCode);
        }
    }
    m_prefix = static_cast<int>(prefix);
}

void GifLzwEncoder::Output(unsigned code) {
    m_bitBuffer |= uint32_t{code} << m_bitCount;
    m_bitCount += m_codeWidth;
    while (m_bitCount >= 8) {
        m_block[1 + m_blockLength++] = static_cast<uint8_t>(m_bitBuffer);
        if (m_blockLength == kMaxBlockData) FlushBlock();
        m_bitBuffer >>= 8;
        m_bitCount -= 8;
    }
    // The width follows the table one code late, as the decoder adds its entries one code late.
    if (m_clearPending) {
        m_codeWidth = m_minCodeSize + 1;
        m_maxCode = (1u << m_codeWidth) - 1;
        m_clearPending = false;
    } else if (m_nextCode > m_maxCode) {
        ++m_codeWidth;
        m_maxCode = m_codeWidth == kMaxBits ? kTableLimit : (1u << m_codeWidth) - 1;
    }
}

void GifLzwEncoder::FlushBlock() {
    if (m_blockLength == 0) return;
    m_block[0] = static_cast<uint8_t>(m_blockLength);
    m_sink->Write(m_block.data(), m_blockLength + 1);
    m_blockLength = 0;
}

bool GifLzwEncoder::Finish() {
    if (m_prefix >= 0) Output(static_cast<unsigned>(m_prefix));
    Output(m_clearCode + 1);
    if (m_bitCount > 0) {
        m_block[1 + m_blockLength++] = static_cast<uint8_t>(m_bitBuffer);
        m_bitBuffer = 0;
        m_bitCount = 0;
    }
    FlushBlock();
    m_prefix = -1;
    return m_sink->Flush();
}

}  // namespace dravix
