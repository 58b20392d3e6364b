#pragma once

#include <cstdint>

namespace dravix {

// Length of the command block for an operation code: 0xA0 and above travel as 12 bytes, below
// that the command group decides (0 → 6, 1 and 2 → 10, 3 → 12, 4 → 16). The sender and the
// virtual drive both go by it.
constexpr int CdbLength(uint8_t opcode) {
    if (opcode >= 0xA0) return 12;
    switch (opcode >> 5) {
        case 0:
            return 6;
        case 1:
        case 2:
            return 10;
        case 3:
            return 12;
        default:
            return 16;  // group 4 (0x80..0x9F)
    }
}

}  // namespace dravix
