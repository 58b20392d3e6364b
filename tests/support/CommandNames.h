#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace dravix::test {

// The commands a drive was sent, by name, for tests that check a sequence's order: the opcode,
// and for the maker's commands what they do.
inline std::string CommandName(const std::vector<uint8_t>& cdb) {
    if (cdb.empty()) return "none";
    switch (cdb[0]) {
        case 0x00:
            return "TEST UNIT READY";
        case 0x12:
            return "INQUIRY";
        case 0x46:
            return "GET CONFIGURATION";
        case 0x5A:
            return "MODE SENSE";
        case 0xA4:
            return "REPORT KEY";
        case 0xAC:
            return "GET PERFORMANCE";
        case 0xAD:
            return "READ DVD STRUCTURE";
        case 0xFD:
            if (cdb.size() < 12) break;
            if (cdb[1] == 0xF1) return "vendor mode on";
            if (cdb[1] == 0xF2) return "vendor mode off";
            if (cdb[1] == 0x1B && cdb[6] == 0x0E) return "feature list";
            if (cdb[1] == 0xFB && cdb[6] == 0x05)
                return cdb[11] == 0 ? "TE/FE measurement" : "TE/FE reference";
            break;
        default:
            break;
    }
    char other[16];
    std::snprintf(other, sizeof other, "opcode %02X", cdb[0]);
    return other;
}

inline std::vector<std::string> CommandNames(const std::vector<std::vector<uint8_t>>& cdbs) {
    std::vector<std::string> names;
    for (const auto& cdb : cdbs) names.push_back(CommandName(cdb));
    return names;
}

}  // namespace dravix::test
