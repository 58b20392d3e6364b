#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/ByteOrder.h"

namespace dravix::test {

// The maker's vendor command block for `subCode`, with `from6` in bytes 6 onward.
inline std::vector<uint8_t> VendorCdb(uint8_t subCode, std::vector<uint8_t> from6 = {}) {
    std::vector<uint8_t> cdb = {0xFD, subCode, 'Z', 'A', 'R', 'N', 0, 0, 0, 0, 0, 0};
    std::copy(from6.begin(), from6.begin() + std::min<size_t>(from6.size(), 6), cdb.begin() + 6);
    return cdb;
}

// A GET PERFORMANCE answer of `size` bytes with the given length field and write-speed
// descriptors ending at `endLbas` (as many as fit).
inline std::vector<uint8_t> PerformanceAnswer(uint32_t dataLength, std::vector<uint32_t> endLbas,
                                              size_t size = 200) {
    std::vector<uint8_t> answer(size, 0);
    PutBe32(answer.data(), dataLength);
    for (size_t i = 0; i < endLbas.size() && 8 + 16 * (i + 1) <= size; ++i) {
        PutBe32(&answer[8 + 16 * i + 4], endLbas[i]);
    }
    return answer;
}

}  // namespace dravix::test
