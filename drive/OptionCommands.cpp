#include "drive/OptionCommands.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/Scsi.h"

namespace dravix {

namespace {

constexpr uint8_t kMediaInformationMarker5 = 0x16;
constexpr uint8_t kMediaInformationMarker6 = 0x07;

// Read bytes of the option and switch read commands: they ask for four bytes of state.
constexpr uint8_t kStateReadLength = 0x04;
constexpr uint8_t kLearnedCountLength = 0x02;

// The fields each reply must carry.
constexpr size_t kStatesNeeded = 3;        // option states: bytes 0..2; switch states: bytes 1..2
constexpr size_t kLearnedCountNeeded = 2;  // bytes 0..1
constexpr size_t kMediaHeaderLength = kMediaRecordsOffset;

template <size_t N>
uint8_t Send(DriveTable& table, const std::array<uint8_t, 12>& cdb, std::array<uint8_t, N>& reply,
             size_t needed) {
    return table.ReadAnswer(cdb.data(), reply, needed, kOptionTimeoutSeconds);
}

// The writes answer nothing, yet the firmware expects them as data-in commands like the reads.
uint8_t SendWrite(DriveTable& table, const std::array<uint8_t, 12>& cdb) {
    OptionReply unused;
    return Send(table, cdb, unused, 0);
}

// The records the length byte claims, as many as the answer can hold.
size_t ClaimedRecords(const MediaInformationReply& reply) {
    return std::min<size_t>(reply[7] / kLearnedRecordLength, kMaxMediaRecords);
}

}  // namespace

std::array<uint8_t, 12> OptionCdb(OptionOperation operation, uint8_t byte8, uint8_t byte9) {
    std::array<uint8_t, 12> cdb{};
    BuildVendorCdb(cdb.data(), kOptionSubCode);
    cdb[6] = kOptionFunction;
    cdb[7] = static_cast<uint8_t>(operation);
    cdb[8] = byte8;
    cdb[9] = byte9;
    return cdb;
}

std::array<uint8_t, 12> SwitchCdb(SwitchFunction function, uint8_t byte8, uint8_t byte9) {
    std::array<uint8_t, 12> cdb{};
    BuildVendorCdb(cdb.data(), kSwitchSubCode);
    cdb[6] = static_cast<uint8_t>(function);
    cdb[8] = byte8;
    cdb[9] = byte9;
    return cdb;
}

uint8_t ReadOptionStates(DriveTable& table, OptionReply& reply) {
    return Send(table, OptionCdb(OptionOperation::ReadStates, kStateReadLength), reply, kStatesNeeded);
}

uint8_t WriteLumard(DriveTable& table, uint8_t unknownDiscState, uint8_t supportedDiscState) {
    return SendWrite(table, OptionCdb(OptionOperation::WriteLumard, unknownDiscState, supportedDiscState));
}

uint8_t WriteOverSpeed(DriveTable& table, uint8_t state) {
    return SendWrite(table, OptionCdb(OptionOperation::WriteOverSpeed, state));
}

uint8_t ReadLearnedCount(DriveTable& table, OptionReply& reply) {
    return Send(table, OptionCdb(OptionOperation::LearnedCount, kLearnedCountLength), reply,
                kLearnedCountNeeded);
}

uint8_t ReadMediaInformation(DriveTable& table, MediaInformationReply& reply) {
    const uint8_t status =
        Send(table, OptionCdb(OptionOperation::MediaInformation), reply, kMediaHeaderLength);
    if (status != kCommandCompleted || !DecodeMediaInformation(reply).headerValid) return status;
    // Everything the length byte claims must have arrived: an answer cut short is not one the
    // drive gave, not even in its whole records.
    return table.RequireReceived(status,
                                 std::min<size_t>(kMediaRecordsOffset + reply[7], kMediaInformationLength));
}

uint8_t ClearLearnedDiscs(DriveTable& table) {
    return SendWrite(table, OptionCdb(OptionOperation::ClearLearned));
}

uint8_t ReadSwitchStates(DriveTable& table, OptionReply& reply) {
    return Send(table, SwitchCdb(SwitchFunction::Read, kStateReadLength), reply, kStatesNeeded);
}

uint8_t SetTestWrite(DriveTable& table, bool enable) {
    return SendWrite(table, SwitchCdb(SwitchFunction::SetTestWrite, 0, enable ? 1 : 0));
}

uint8_t SetWopcDisabled(DriveTable& table, bool disable) {
    return SendWrite(table, SwitchCdb(SwitchFunction::SetWopc, 0, disable ? 1 : 0));
}

uint8_t OptionStateByte(bool on, SettingScope scope) {
    const uint8_t temporaryBit = scope == SettingScope::Temporary ? 1 : 0;
    return static_cast<uint8_t>((on ? 2 : 0) | temporaryBit);
}

std::optional<bool> OptionStateIsOn(uint8_t stateByte) {
    if (stateByte > 3) return std::nullopt;
    return stateByte >= 2;
}

std::optional<SettingScope> OptionStateScope(uint8_t stateByte) {
    if (!OptionStateIsOn(stateByte)) return std::nullopt;
    return (stateByte & 1) != 0 ? SettingScope::Temporary : SettingScope::Permanent;
}

std::optional<bool> SwitchFlag(uint8_t flag) {
    if (flag > 1) return std::nullopt;
    return flag == 1;
}

uint16_t LearnedCountOf(const OptionReply& reply) {
    return GetBe16(reply.data());
}

std::optional<uint16_t> PlausibleLearnedCount(const OptionReply& reply) {
    const uint16_t count = LearnedCountOf(reply);
    if (count > kMaxMediaRecords) return std::nullopt;
    return count;
}

MediaInformation DecodeMediaInformation(const MediaInformationReply& reply) {
    MediaInformation info;
    info.headerValid = HasSignature(reply.data()) && reply[5] == kMediaInformationMarker5 &&
                       reply[6] == kMediaInformationMarker6;
    if (!info.headerValid) return info;
    // The length byte can claim up to 21 records; only 20 fit in the answer.
    const size_t count = ClaimedRecords(reply);
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* record = reply.data() + kMediaRecordsOffset + i * kLearnedRecordLength;
        std::string text(reinterpret_cast<const char*>(record), kLearnedRecordLength);
        std::replace(text.begin(), text.end(), '\0', ' ');
        info.records.push_back(std::move(text));
    }
    return info;
}

}  // namespace dravix
