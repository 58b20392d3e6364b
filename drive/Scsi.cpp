#include "drive/Scsi.h"

#include <cstring>

namespace dravix {

Sense DecodeSense(const uint8_t* data, size_t length) {
    Sense s;
    if (data == nullptr || length == 0) return s;
    const uint8_t responseCode = data[0] & 0x7F;
    if (responseCode == 0x72 || responseCode == 0x73) {
        if (length > 1) s.key = data[1] & 0x0F;
        if (length > 2) s.asc = data[2];
        if (length > 3) s.ascq = data[3];
    } else {
        if (length > 2) s.key = data[2] & 0x0F;
        if (length > 12) s.asc = data[12];
        if (length > 13) s.ascq = data[13];
    }
    return s;
}

void BuildVendorCdb(uint8_t cdb[12], uint8_t subCode) {
    std::memset(cdb, 0, 12);
    cdb[0] = kVendorOpcode;
    cdb[1] = subCode;
    std::memcpy(cdb + 2, kSignature, 4);
}

bool HasSignature(const uint8_t* p) {
    return std::memcmp(p, kSignature, 4) == 0;
}

std::string HexBytes(const uint8_t* data, size_t length) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        if (i) out.push_back(' ');
        out.push_back(digits[data[i] >> 4]);
        out.push_back(digits[data[i] & 0x0F]);
    }
    return out;
}

}  // namespace dravix
