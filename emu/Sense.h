#pragma once

#include <cstddef>
#include <cstdint>

namespace dravix::emu {

// What one command block came back with: a SCSI status with fixed-format sense, or a host
// time-out (the command never completed as far as the initiator can tell), or an adapter error
// (the adapter failed the request without a status of the drive's).
struct ScsiOutcome {
    enum class Kind { Good, CheckCondition, Busy, HostTimeout, AdapterError } kind;
    uint8_t sense[18];     // fixed format 70h: key byte 2, ASC 12, ASCQ 13, additional length 10
    uint32_t transferred;  // data-in bytes written into the caller's buffer
};

// Sense key, additional sense code and qualifier of a CHECK CONDITION.
struct SenseCode {
    uint8_t key = 0;
    uint8_t asc = 0;
    uint8_t ascq = 0;

    friend bool operator==(const SenseCode&, const SenseCode&) = default;
};

inline constexpr SenseCode kNoMedium{0x02, 0x3A, 0x00};
inline constexpr SenseCode kBecomingReady{0x02, 0x04, 0x01};
inline constexpr SenseCode kMediumMayHaveChanged{0x06, 0x28, 0x00};
inline constexpr SenseCode kPowerOnReset{0x06, 0x29, 0x00};

// The unit attention a drive has yet to report, kept as its ASC (the state file stores the
// number). A power-on reset outranks a medium change, and its number is the larger.
inline constexpr uint8_t kNoAttention = 0;
inline constexpr uint8_t kAttentionMediumChanged = kMediumMayHaveChanged.asc;
inline constexpr uint8_t kAttentionPowerOn = kPowerOnReset.asc;
static_assert(kAttentionPowerOn > kAttentionMediumChanged);
inline constexpr SenseCode kRecoveredError{0x01, 0x17, 0x01};  // recovered data with retries
inline constexpr SenseCode kUnrecoveredReadError{0x03, 0x11, 0x00};
inline constexpr SenseCode kParameterListLengthError{0x05, 0x1A, 0x00};
inline constexpr SenseCode kInvalidOpcode{0x05, 0x20, 0x00};
inline constexpr SenseCode kLbaOutOfRange{0x05, 0x21, 0x00};
inline constexpr SenseCode kInvalidFieldInCdb{0x05, 0x24, 0x00};
inline constexpr SenseCode kLogicalUnitNotSupported{0x05, 0x25, 0x00};
inline constexpr SenseCode kInvalidFieldInParameterList{0x05, 0x26, 0x00};
inline constexpr SenseCode kIncompatibleMedium{0x05, 0x30, 0x00};
inline constexpr SenseCode kCannotReadIncompatibleFormat{0x05, 0x30, 0x02};
inline constexpr SenseCode kSavingNotSupported{0x05, 0x39, 0x00};
inline constexpr SenseCode kMediumRemovalPrevented{0x05, 0x53, 0x02};
// Hardware error: the drive could not keep a change (the state file could not be written).
inline constexpr SenseCode kInternalTargetFailure{0x04, 0x44, 0x00};

inline constexpr size_t kSenseLength = 18;

ScsiOutcome GoodOutcome(uint32_t transferred);
ScsiOutcome CheckConditionOutcome(SenseCode code);
ScsiOutcome BusyOutcome();
ScsiOutcome HostTimeoutOutcome();
ScsiOutcome AdapterErrorOutcome();

// Reads key (low four bits), ASC and ASCQ back out of an outcome's sense bytes.
SenseCode SenseOf(const ScsiOutcome& outcome);

}  // namespace dravix::emu
