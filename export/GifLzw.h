#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace dravix {

class ByteSink;

// The LZW coder of GIF image data. Codes start at minimum code size + 1 bits with a clear code
// first; the width grows up to 12 bits; a clear code restarts the table when it is full. Codes are
// packed least significant bit first and written in sub-blocks of at most 254 bytes. The minimum
// code size byte before the data and the block terminator after it are the caller's.
//
// One coder serves any number of images: Begin resets it without clearing its 5003-slot hash
// table (slots carry a generation stamp), so coding many small tiles stays cheap.
class GifLzwEncoder final {
  public:
    GifLzwEncoder();

    void Begin(ByteSink& sink, unsigned minCodeSize);
    // Every index must be below 2^minCodeSize.
    void Add(const uint8_t* indices, size_t count);
    // Writes the pending string, the end-of-information code, the last bits and the pending
    // sub-block, then flushes the sink. False when the sink reports an error.
    bool Finish();

  private:
    void Output(unsigned code);
    void ResetHash();
    void FlushBlock();

    ByteSink* m_sink = nullptr;
    unsigned m_minCodeSize = 8;
    unsigned m_clearCode = 256;
    unsigned m_nextCode = 258;
    unsigned m_codeWidth = 9;
    unsigned m_maxCode = 511;
    bool m_clearPending = false;
    int m_prefix = -1;

    uint32_t m_bitBuffer = 0;
    unsigned m_bitCount = 0;
    std::array<uint8_t, 255> m_block{};  // length byte, then up to 254 data bytes
    size_t m_blockLength = 0;

    std::vector<uint32_t> m_keys;
    std::vector<uint16_t> m_codes;
    std::vector<uint32_t> m_stamps;
    uint32_t m_stamp = 1;
};

}  // namespace dravix
