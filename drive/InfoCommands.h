#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/Timeouts.h"

namespace dravix {

class DriveTable;

// The drive and disc information the Information page shows: the standard MMC reads it sends and
// the decoders over their answers (the page's texts and its fill: procedures/InfoProcedures.h).
// Every read here is a standard command; nothing is changed in the drive.

// What the identifier decoders give for a field without text, and a disc type's name when the
// profile is none of the known ones.
inline constexpr const char* kTextNotAvailable = "N/A";
inline constexpr const char* kTextNoIdentifier = "NA";  // a DVD-RAM identifier field that starts with 0

// Disc type codes, from the current profile.
enum DiscTypeCode : uint8_t {
    kDiscCdRom = 1,
    kDiscCdR = 2,
    kDiscCdRw = 3,
    kDiscDvdRom = 4,
    kDiscDvdPlusRDl = 5,
    kDiscDvdPlusR = 6,
    kDiscDvdPlusRw = 7,
    kDiscDvdMinusR = 8,
    kDiscDvdMinusRw = 9,
    kDiscDvdMinusRDl = 16,
    kDiscDvdRam = 17,
    kDiscUnknown = 240,
};

// Where a disc keeps its manufacturer and media type identifiers.
enum class IdentifierSource {
    None,            // CDs and pressed DVDs
    Adip,            // DVD+R, DVD+RW, DVD+R DL: READ DVD STRUCTURE format 11h
    Prerecorded,     // DVD-R, DVD-RW, DVD-R DL: format 0Eh
    PhysicalFormat,  // DVD-RAM: format 00h
};

struct DiscType {
    uint8_t code = kDiscUnknown;
    const char* name = kTextNotAvailable;
    IdentifierSource source = IdentifierSource::None;
};

// Only the low byte of the Current Profile field counts.
DiscType DiscTypeOfProfile(uint16_t profile);
DiscType DiscTypeOfCode(uint8_t code);

// --- decoders over answer bytes --------------------------------------------------------------
// Each takes the whole answer buffer; bytes it needs beyond the buffer count as absent.

// MODE SENSE(10) page 2Ah: Buffer Size Supported (bytes 20..21) in KB; none when the answer is
// too short.
std::optional<uint16_t> BufferSizeKiBOf(std::span<const uint8_t> answer);

// REPORT KEY format 08h answer: the RPC state's region mask (a set bit: that region is not
// playable) is byte 5; none when the answer is too short.
std::optional<uint8_t> RegionMaskOf(std::span<const uint8_t> answer);

// GET CONFIGURATION: the Current Profile field (bytes 6..7); 0 when the answer is too short.
uint16_t CurrentProfileOf(std::span<const uint8_t> answer);

struct DiscIdentifiers {
    std::string manufacturerId;  // at most 48 characters
    std::string mediaTypeId;     // at most 16 characters
};

// The identifier texts of a READ DVD STRUCTURE answer of the given source.
DiscIdentifiers AdipIdentifiers(std::span<const uint8_t> answer);
DiscIdentifiers PrerecordedIdentifiers(std::span<const uint8_t> answer);
DiscIdentifiers PhysicalFormatIdentifiers(std::span<const uint8_t> answer);

// GET PERFORMANCE (write speed descriptors): the End LBA of the last descriptor the answer holds,
// none when it holds no whole descriptor. The count is clamped to what the buffer carries.
std::optional<int32_t> LastEndLbaOf(std::span<const uint8_t> answer);
// The same answer's write speeds in kB/s, in answer order, the descriptors without a speed left
// out; clamped as above.
std::vector<uint32_t> WriteSpeedsKBpsOf(std::span<const uint8_t> answer);

// --- commands (each zero-fills its buffer and returns the SendCommand status) ----------------
// A command whose answer lacks a field its decoder reads is a failed command; decode only
// table.Received(answer), the part the drive sent.

inline constexpr size_t kCapabilitiesLength = 30;
inline constexpr size_t kRpcStateLength = 30;
inline constexpr size_t kProfileLength = 8;
inline constexpr size_t kAdipLength = 300;
inline constexpr size_t kPrerecordedLength = 44;
inline constexpr size_t kPhysicalFormatLength = 700;
inline constexpr size_t kPerformanceLength = 200;
inline constexpr size_t kOneFeatureLength = 16;

// The feature whose commands include REPORT KEY's region state (key format 08h).
inline constexpr uint16_t kFeatureDvdCss = 0x0106;

// MMC answers open with their own length, a 2-byte field (MODE SENSE(10), REPORT KEY, READ DVD
// STRUCTURE, READ DISC INFORMATION) or a 4-byte one (GET CONFIGURATION, GET PERFORMANCE) that
// counts the bytes after it. An answer that brings fewer bytes than the smaller of that length and
// the length requested is cut short: a failed command (RequireReceived), never a shorter answer.
// One that claims more than was requested is whole with what was requested.
uint8_t RequireWholeAnswer(DriveTable& table, uint8_t status, std::span<const uint8_t> answer,
                           size_t lengthFieldBytes, size_t requested);

uint8_t TestUnitReady(DriveTable& table, uint32_t timeoutSeconds = kInfoTimeoutSeconds);
uint8_t ReadCapabilitiesPage(DriveTable& table, std::span<uint8_t, kCapabilitiesLength> answer);
uint8_t ReadRpcState(DriveTable& table, std::span<uint8_t, kRpcStateLength> answer);
uint8_t ReadCurrentProfile(DriveTable& table, std::span<uint8_t, kProfileLength> answer);
uint8_t ReadWriteSpeedDescriptors(DriveTable& table, std::span<uint8_t, kPerformanceLength> answer);

// Whether the drive's configuration lists the feature (GET CONFIGURATION for that one feature);
// nullopt when the drive did not answer.
std::optional<bool> DriveListsFeature(DriveTable& table, uint16_t feature);

// Reads the identifiers from the source's structure; the SendCommand status (no read for None).
uint8_t ReadDiscIdentifiers(DriveTable& table, IdentifierSource source, DiscIdentifiers& identifiers);

}  // namespace dravix
