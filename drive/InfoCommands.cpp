#include "drive/InfoCommands.h"

#include <algorithm>
#include <cstring>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/Scsi.h"

namespace dravix {

namespace {

constexpr size_t kDescriptorOffset = 8;
constexpr size_t kDescriptorLength = 16;

// The answer's bytes [offset, offset + width), clipped to the answer.
std::span<const uint8_t> Field(std::span<const uint8_t> answer, size_t offset, size_t width) {
    if (offset >= answer.size()) return {};
    return answer.subspan(offset, std::min(width, answer.size() - offset));
}

// A letter or digit of the "C" locale, whatever locale the program runs in.
bool IsAsciiAlnum(uint8_t c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The text of an ADIP or pre-recorded field: from the first letter or digit among the first
// `searched` bytes to the field's end. The drive pads short ids with NULs, which end the text.
std::string TextFromFirstAlnum(std::span<const uint8_t> field, size_t searched) {
    const size_t limit = std::min(searched, field.size());
    for (size_t i = 0; i < limit; ++i) {
        if (!IsAsciiAlnum(field[i])) continue;
        std::string text;
        for (size_t j = i; j < field.size() && field[j] != 0; ++j)
            text.push_back(static_cast<char>(field[j]));
        return text;
    }
    return kTextNotAvailable;
}

// A DVD-RAM identifier: "NA" when the field starts with 0, else the field up to CR or NUL.
std::string TextUpToReturn(std::span<const uint8_t> field) {
    if (field.empty() || field[0] == 0) return kTextNoIdentifier;
    std::string text;
    for (uint8_t c : field) {
        if (c == 0 || c == '\r') break;
        text.push_back(static_cast<char>(c));
    }
    return text;
}

// The fields each answer must carry (up to the last byte a decoder reads).
constexpr size_t kCapabilitiesNeeded = 22;     // buffer size, bytes 20..21
constexpr size_t kRpcStateNeeded = 6;          // region mask, byte 5
constexpr size_t kProfileNeeded = 8;           // current profile, bytes 6..7
constexpr size_t kPerformanceNeeded = 8;       // header; the descriptors are counted in what arrived
constexpr size_t kAdipNeeded = 34;             // media type id, bytes 31..33
constexpr size_t kPrerecordedNeeded = 35;      // media type id, bytes 29..34
constexpr size_t kPhysicalFormatNeeded = 617;  // media type id, bytes 601..616

// GET PERFORMANCE asks for at most this many descriptors: the answer the drive may send.
constexpr uint8_t kMaxDescriptors = 10;
constexpr size_t kPerformanceRequested = kDescriptorOffset + kMaxDescriptors * kDescriptorLength;

// A read whose answer opens with its length field of `lengthFieldBytes` and must come whole up to
// `requested` bytes, besides the fields its decoder needs.
uint8_t ReadIn(DriveTable& table, const uint8_t (&cdb)[12], std::span<uint8_t> answer, size_t needed,
               size_t lengthFieldBytes, size_t requested) {
    const uint8_t status = table.ReadAnswer(cdb, answer, needed, kInfoTimeoutSeconds);
    return RequireWholeAnswer(table, status, answer, lengthFieldBytes, requested);
}

}  // namespace

DiscType DiscTypeOfProfile(uint16_t profile) {
    switch (profile & 0xFF) {
        case 0x08:
            return {kDiscCdRom, "CD ROM", IdentifierSource::None};
        case 0x09:
            return {kDiscCdR, "CD R", IdentifierSource::None};
        case 0x0A:
            return {kDiscCdRw, "CD RW", IdentifierSource::None};
        case 0x10:
            return {kDiscDvdRom, "DVD ROM", IdentifierSource::None};
        case 0x2B:
            return {kDiscDvdPlusRDl, "DVD+R DL", IdentifierSource::Adip};
        case 0x1B:
            return {kDiscDvdPlusR, "DVD+R", IdentifierSource::Adip};
        case 0x1A:
            return {kDiscDvdPlusRw, "DVD+RW", IdentifierSource::Adip};
        case 0x11:
            return {kDiscDvdMinusR, "DVD-R", IdentifierSource::Prerecorded};
        case 0x13:
        case 0x14:
            return {kDiscDvdMinusRw, "DVD-RW", IdentifierSource::Prerecorded};
        case 0x15:
            return {kDiscDvdMinusRDl, "DVD-R DL", IdentifierSource::Prerecorded};
        case 0x12:
            return {kDiscDvdRam, "DVD-RAM", IdentifierSource::PhysicalFormat};
        default:
            return {};
    }
}

DiscType DiscTypeOfCode(uint8_t code) {
    static constexpr uint8_t kProfileOfCode[][2] = {
        {kDiscCdRom, 0x08},      {kDiscCdR, 0x09},         {kDiscCdRw, 0x0A},      {kDiscDvdRom, 0x10},
        {kDiscDvdPlusRDl, 0x2B}, {kDiscDvdPlusR, 0x1B},    {kDiscDvdPlusRw, 0x1A}, {kDiscDvdMinusR, 0x11},
        {kDiscDvdMinusRw, 0x14}, {kDiscDvdMinusRDl, 0x15}, {kDiscDvdRam, 0x12},
    };
    for (const auto& entry : kProfileOfCode) {
        if (entry[0] == code) return DiscTypeOfProfile(entry[1]);
    }
    return {};
}

std::optional<uint16_t> BufferSizeKiBOf(std::span<const uint8_t> answer) {
    const auto field = Field(answer, 20, 2);
    if (field.size() != 2) return std::nullopt;
    return GetBe16(field.data());
}

std::optional<uint8_t> RegionMaskOf(std::span<const uint8_t> answer) {
    if (answer.size() <= 5) return std::nullopt;
    return answer[5];
}

uint16_t CurrentProfileOf(std::span<const uint8_t> answer) {
    const auto field = Field(answer, 6, 2);
    return field.size() == 2 ? GetBe16(field.data()) : 0;
}

DiscIdentifiers AdipIdentifiers(std::span<const uint8_t> answer) {
    // The manufacturer field's eighth byte is shown but never starts the text.
    return {TextFromFirstAlnum(Field(answer, 23, 8), 7), TextFromFirstAlnum(Field(answer, 31, 3), 3)};
}

DiscIdentifiers PrerecordedIdentifiers(std::span<const uint8_t> answer) {
    return {TextFromFirstAlnum(Field(answer, 21, 6), 6), TextFromFirstAlnum(Field(answer, 29, 6), 6)};
}

DiscIdentifiers PhysicalFormatIdentifiers(std::span<const uint8_t> answer) {
    return {TextUpToReturn(Field(answer, 553, 48)), TextUpToReturn(Field(answer, 601, 16))};
}

std::optional<int32_t> LastEndLbaOf(std::span<const uint8_t> answer) {
    if (answer.size() < 4) return std::nullopt;
    const uint32_t dataLength = GetBe32(answer.data());
    if (dataLength < 4) return std::nullopt;  // no descriptor, and (length - 4) must not wrap
    size_t count = (dataLength - 4) / kDescriptorLength;
    const size_t fits =
        answer.size() > kDescriptorOffset ? (answer.size() - kDescriptorOffset) / kDescriptorLength : 0;
    count = std::min(count, fits);
    if (count == 0) return std::nullopt;
    const uint8_t* last = answer.data() + kDescriptorOffset + (count - 1) * kDescriptorLength;
    return static_cast<int32_t>(GetBe32(last + 4));
}

std::vector<uint32_t> WriteSpeedsKBpsOf(std::span<const uint8_t> answer) {
    std::vector<uint32_t> speeds;
    if (answer.size() < kDescriptorOffset) return speeds;
    const size_t claimed = std::min(answer.size(), size_t{GetBe32(answer.data())} + 4);
    for (size_t at = kDescriptorOffset; at + kDescriptorLength <= claimed; at += kDescriptorLength) {
        const uint32_t kbps = GetBe32(answer.data() + at + 12);
        if (kbps != 0) speeds.push_back(kbps);
    }
    return speeds;
}

uint8_t RequireWholeAnswer(DriveTable& table, uint8_t status, std::span<const uint8_t> answer,
                           size_t lengthFieldBytes, size_t requested) {
    if (status != kCommandCompleted || table.LastTransferred() < lengthFieldBytes ||
        answer.size() < lengthFieldBytes) {
        return status;
    }
    const size_t claimed =
        (lengthFieldBytes == 4 ? size_t{GetBe32(answer.data())} : size_t{GetBe16(answer.data())}) +
        lengthFieldBytes;
    return table.RequireReceived(status, std::min(claimed, requested));
}

uint8_t TestUnitReady(DriveTable& table, uint32_t timeoutSeconds) {
    const uint8_t cdb[12] = {};
    return table.SendCommand(cdb, kNoData, nullptr, 0, timeoutSeconds);
}

uint8_t ReadCapabilitiesPage(DriveTable& table, std::span<uint8_t, kCapabilitiesLength> answer) {
    const uint8_t cdb[12] = {0x5A, 0x08, 0x2A, 0, 0, 0, 0, 0, kCapabilitiesLength, 0};
    return ReadIn(table, cdb, answer, kCapabilitiesNeeded, 2, kCapabilitiesLength);
}

uint8_t ReadRpcState(DriveTable& table, std::span<uint8_t, kRpcStateLength> answer) {
    const uint8_t cdb[12] = {0xA4, 0, 0, 0, 0, 0, 0, 0, 0, kRpcStateLength, 0x08, 0};
    return ReadIn(table, cdb, answer, kRpcStateNeeded, 2, kRpcStateLength);
}

uint8_t ReadCurrentProfile(DriveTable& table, std::span<uint8_t, kProfileLength> answer) {
    const uint8_t cdb[12] = {0x46, 0, 0, 0, 0, 0, 0, 0, kProfileLength, 0};
    return ReadIn(table, cdb, answer, kProfileNeeded, 4, kProfileLength);
}

std::optional<bool> DriveListsFeature(DriveTable& table, uint16_t feature) {
    // GET CONFIGURATION, one feature (RT 10b) from the given code: the header and, when the drive
    // has the feature, its descriptor.
    uint8_t answer[kOneFeatureLength] = {};
    const uint8_t cdb[12] = {0x46,
                             0x02,
                             static_cast<uint8_t>(feature >> 8),
                             static_cast<uint8_t>(feature),
                             0,
                             0,
                             0,
                             0,
                             kOneFeatureLength,
                             0,
                             0,
                             0};
    if (ReadIn(table, cdb, answer, kProfileNeeded, 4, kOneFeatureLength) != kCommandCompleted)
        return std::nullopt;
    const std::span<const uint8_t> received = table.Received(answer);
    if (received.size() < kProfileNeeded + 2 || GetBe32(received.data()) < kProfileNeeded) return false;
    return GetBe16(received.data() + kProfileNeeded) == feature;
}

uint8_t ReadWriteSpeedDescriptors(DriveTable& table, std::span<uint8_t, kPerformanceLength> answer) {
    const uint8_t cdb[12] = {0xAC, 0, 0, 0, 0, 0, 0, 0, 0, kMaxDescriptors, 0x03, 0};
    return ReadIn(table, cdb, answer, kPerformanceNeeded, 4, kPerformanceRequested);
}

uint8_t ReadDiscIdentifiers(DriveTable& table, IdentifierSource source, DiscIdentifiers& identifiers) {
    switch (source) {
        case IdentifierSource::Adip: {
            uint8_t answer[kAdipLength];
            const uint8_t cdb[12] = {0xAD, 0, 0, 0, 0, 0, 0, 0x11, 0x01, 0x2C, 0, 0};
            const uint8_t status = ReadIn(table, cdb, answer, kAdipNeeded, 2, kAdipLength);
            if (status == kCommandCompleted) identifiers = AdipIdentifiers(table.Received(answer));
            return status;
        }
        case IdentifierSource::Prerecorded: {
            uint8_t answer[kPrerecordedLength];
            const uint8_t cdb[12] = {0xAD, 0, 0, 0, 0, 0, 0, 0x0E, 0x00, kPrerecordedLength, 0, 0};
            const uint8_t status = ReadIn(table, cdb, answer, kPrerecordedNeeded, 2, kPrerecordedLength);
            if (status == kCommandCompleted) identifiers = PrerecordedIdentifiers(table.Received(answer));
            return status;
        }
        case IdentifierSource::PhysicalFormat: {
            uint8_t answer[kPhysicalFormatLength];
            const uint8_t cdb[12] = {0xAD, 0, 0, 0, 0, 0, 0, 0x00, 0x02, 0xBC, 0, 0};
            const uint8_t status =
                ReadIn(table, cdb, answer, kPhysicalFormatNeeded, 2, kPhysicalFormatLength);
            if (status == kCommandCompleted) identifiers = PhysicalFormatIdentifiers(table.Received(answer));
            return status;
        }
        case IdentifierSource::None:
            break;
    }
    return kCommandFailed;
}

}  // namespace dravix
