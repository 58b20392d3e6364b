#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/Timeouts.h"

namespace dravix {

// The drive's firmware switches: the option command (FD 1B "ZARN" 16h: OverSpeed and the two
// Lumard learning switches, the learned-disc memory) and the switch command (FD FB "ZARN":
// Test Write and WOPC). Every command is sent data-in into a zeroed buffer with a 200 s time-out,
// writes included, and only between vendor mode on and off; each returns the SendCommand status.

inline constexpr size_t kOptionReplyLength = 12;
inline constexpr size_t kMediaInformationLength = 255;

inline constexpr uint8_t kOptionSubCode = 0x1B;
inline constexpr uint8_t kOptionFunction = 0x16;
inline constexpr uint8_t kSwitchSubCode = 0xFB;

// Byte 7 of the option command.
enum class OptionOperation : uint8_t {
    ReadStates = 0x01,
    WriteLumard = 0x02,
    ClearLearned = 0x03,
    LearnedCount = 0x05,
    WriteOverSpeed = 0x06,
    MediaInformation = 0x07,
};

// Byte 6 of the switch command.
enum class SwitchFunction : uint8_t {
    Read = 0x00,
    SetTestWrite = 0x02,
    SetWopc = 0x03,
};

using OptionReply = std::array<uint8_t, kOptionReplyLength>;
using MediaInformationReply = std::array<uint8_t, kMediaInformationLength>;

// Command blocks, zero-filled 12-byte frames with the signature in bytes 2..5.
std::array<uint8_t, 12> OptionCdb(OptionOperation operation, uint8_t byte8 = 0, uint8_t byte9 = 0);
std::array<uint8_t, 12> SwitchCdb(SwitchFunction function, uint8_t byte8 = 0, uint8_t byte9 = 0);

// --- option command ---------------------------------------------------------------------------

// Reply: byte 0 Un-Known Disc state, byte 1 Supported Disc state, byte 2 OverSpeed state.
uint8_t ReadOptionStates(DriveTable& table, OptionReply& reply);
uint8_t WriteLumard(DriveTable& table, uint8_t unknownDiscState, uint8_t supportedDiscState);
uint8_t WriteOverSpeed(DriveTable& table, uint8_t state);
// Reply bytes 0..1: the number of learned discs, big-endian.
uint8_t ReadLearnedCount(DriveTable& table, OptionReply& reply);
uint8_t ReadMediaInformation(DriveTable& table, MediaInformationReply& reply);
uint8_t ClearLearnedDiscs(DriveTable& table);

// --- switch command ---------------------------------------------------------------------------

// Reply: byte 1 Test Write (0 off, 1 on), byte 2 WOPC disabled (0 WOPC on, 1 WOPC off).
uint8_t ReadSwitchStates(DriveTable& table, OptionReply& reply);
uint8_t SetTestWrite(DriveTable& table, bool enable);
uint8_t SetWopcDisabled(DriveTable& table, bool disable);

// --- option state bytes -----------------------------------------------------------------------

// Bit 1 on, bit 0 temporary (the drive returns to its default at the next restart).
enum class SettingScope { Temporary, Permanent };

inline constexpr size_t kUnknownDiscByte = 0;
inline constexpr size_t kSupportedDiscByte = 1;
inline constexpr size_t kOverSpeedByte = 2;
inline constexpr size_t kTestWriteByte = 1;
inline constexpr size_t kWopcDisabledByte = 2;

// The state byte that writes on or off in a scope: 3 / 1 temporary, 2 / 0 permanent.
uint8_t OptionStateByte(bool on, SettingScope scope);
// 0 and 1 are off, 2 and 3 on; any other value says nothing.
std::optional<bool> OptionStateIsOn(uint8_t stateByte);
// 1 and 3 last until the next restart, 0 and 2 are kept; any other value says nothing.
std::optional<SettingScope> OptionStateScope(uint8_t stateByte);
// A switch flag of the read reply: 0 false, 1 true; any other value says nothing.
std::optional<bool> SwitchFlag(uint8_t flag);
uint16_t LearnedCountOf(const OptionReply& reply);
// The learned count when the drive can hold that many discs: no more than one media information
// answer can list (kMaxMediaRecords). A larger count is not a number of discs; none then.
std::optional<uint16_t> PlausibleLearnedCount(const OptionReply& reply);

// --- media information ------------------------------------------------------------------------

inline constexpr size_t kLearnedRecordLength = 12;
inline constexpr size_t kMediaRecordsOffset = 8;
// The most records a 255-byte answer can hold, whatever its length byte claims.
inline constexpr size_t kMaxMediaRecords =
    (kMediaInformationLength - kMediaRecordsOffset) / kLearnedRecordLength;

struct MediaInformation {
    bool headerValid = false;          // "ZARN", byte 5 = 16h, byte 6 = 07h
    std::vector<std::string> records;  // 12 characters each, NULs as blanks
};

// Records: byte 7 / 12 of them from byte 8 on, cut at the end of the answer.
MediaInformation DecodeMediaInformation(const MediaInformationReply& reply);

}  // namespace dravix
