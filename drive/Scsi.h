#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/CdbLength.h"
#include "base/TransferDirection.h"

namespace dravix {

// Results of DriveTable::SendCommand.
inline constexpr uint8_t kCommandCompleted = 0;
inline constexpr uint8_t kCommandFailed = 1;
inline constexpr uint8_t kCommandTimedOut = 255;

// SCSI status bytes the transports look at.
inline constexpr uint8_t kScsiGood = 0x00;
inline constexpr uint8_t kScsiCheckCondition = 0x02;
inline constexpr uint8_t kScsiBusy = 0x08;

// Sense key (low four bits only), additional sense code and qualifier of the last failed command.
struct Sense {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;

    friend bool operator==(const Sense&, const Sense&) = default;
};

// Additional sense codes the program acts on.
inline constexpr uint8_t kAscBecomingReady = 0x04;         // logical unit not ready
inline constexpr uint8_t kAscMediumMayHaveChanged = 0x28;  // not ready to ready change
inline constexpr uint8_t kAscPowerOnReset = 0x29;          // power on, reset or bus device reset
inline constexpr uint8_t kAscMediumNotPresent = 0x3A;
inline constexpr uint8_t kAscInvalidCommandOperationCode = 0x20;
// What a drive answers when its tray holds no disc.
inline constexpr Sense kSenseNoMedium{0x02, kAscMediumNotPresent, 0x00};
// What a drive answers to a command it does not know: ILLEGAL REQUEST, invalid command operation
// code (the maker's drive outside vendor mode, to a vendor command).
inline constexpr Sense kSenseInvalidCommand{0x05, kAscInvalidCommandOperationCode, 0x00};

inline constexpr size_t kMaxCdbLength = 16;

// Decodes fixed-format (70h/71h) and descriptor-format (72h/73h) sense data. Anything shorter than
// the fields it needs leaves those fields zero.
Sense DecodeSense(const uint8_t* data, size_t length);

// The maker's four-letter signature that every vendor command and some answers carry.
inline constexpr char kSignature[4] = {'Z', 'A', 'R', 'N'};
inline constexpr uint8_t kVendorOpcode = 0xFD;

// Fills a zeroed 12-byte vendor frame: FDh, sub-code, "ZARN", six zero bytes.
void BuildVendorCdb(uint8_t cdb[12], uint8_t subCode);

// True when p[0..3] is the signature; p must hold four bytes.
bool HasSignature(const uint8_t* p);

// "12 00 00 00 38 00" — upper-case hex bytes separated by blanks.
std::string HexBytes(const uint8_t* data, size_t length);

}  // namespace dravix
