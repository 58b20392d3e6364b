#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/Support.h"
#include "drive/Timeouts.h"

namespace dravix {

class DriveTable;

// The drive and disc information the Information page shows: the standard MMC reads it sends,
// the decoders over their answers, and the fill procedure that turns both into field texts.
// Every read here is a standard command; nothing is changed in the drive.

// Texts of the fields and of the status line.
inline constexpr const char* kTextNotAvailable = "N/A";
inline constexpr const char* kTextNoIdentifier = "NA";  // a DVD-RAM identifier field that starts with 0
inline constexpr const char* kTextBuffer8M = "8M";
inline constexpr const char* kTextBuffer2M = "2M";
inline constexpr const char* kTextInterface = "ATAPI / IDE";
inline constexpr const char* kTextNoRegion = "No Region";
inline constexpr const char* kTextAllRegion = "All Region";
inline constexpr const char* kTextNoCapacity = "0";
inline constexpr const char* kStatusDetect = "Detect...";
inline constexpr const char* kStatusReady = " ";
inline constexpr const char* kStatusInsertBlank = "Please insert blank disc...";
inline constexpr const char* kStatusDiscNotSupported = "Not support for this disc.";
inline constexpr const char* kMsgDriveNotSupportedAtRefresh = "Not support the drive.";

// Labels of the fields, as the page shows them beside the texts.
inline constexpr const char* kLabelFirmwareVersion = "Firmware Version:";
inline constexpr const char* kLabelBufferSize = "Buffer Size:";
inline constexpr const char* kLabelConnectionInterface = "Connection Interface:";
inline constexpr const char* kLabelRegionSetting = "DVD Region Setting:";
inline constexpr const char* kLabelDiscType = "Disc Type:";
inline constexpr const char* kLabelManufactureId = "Manufacture ID:";
inline constexpr const char* kLabelMediaTypeId = "Media Type ID:";
inline constexpr const char* kLabelBlankDiscCapacity = "Blank Disc Capacity:";

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

// MODE SENSE(10) page 2Ah: "8M" when Buffer Size Supported (bytes 20..21) is 2000h KB, else "2M".
std::string BufferSizeText(std::span<const uint8_t> answer);

// The RPC state's region mask (a set bit: that region is not playable) as the page shows it.
std::string RegionText(uint8_t mask);
// REPORT KEY format 08h answer: the mask is byte 5; none when the answer is too short.
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
// "%.1f MB" of (End LBA + 1) sectors of 2048 bytes.
std::string CapacityText(int32_t endLba);

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

// --- the fill procedure ----------------------------------------------------------------------

// What one fill wrote. A field the procedure did not reach is empty, so the page keeps its text.
struct InfoFill {
    std::optional<std::string> firmwareVersion;
    std::optional<std::string> bufferSize;
    std::optional<std::string> connectionInterface;
    std::optional<std::string> regionSetting;
    std::optional<std::string> discType;
    std::optional<std::string> manufactureId;
    std::optional<std::string> mediaTypeId;
    std::optional<std::string> blankDiscCapacity;
    std::optional<std::string> status;

    std::optional<uint8_t> regionMask;  // the mask the region text was made from

    // What the program keeps of the disc between refreshes.
    std::optional<uint8_t> discTypeCode;
    std::optional<DiscIdentifiers> identifiers;
    std::optional<int32_t> endLba;
    // The labels of the fields whose command failed: they show the page's failure texts ("2M",
    // "N/A", "0"), which are no answer of the drive.
    std::vector<const char*> unread;
    // Fields that have no value to read, with the reason: the drive does not offer the command or
    // the field (ILLEGAL REQUEST, invalid operation code or invalid field), or the field does not
    // apply to the disc (no blank capacity on a pressed disc). The page shows its usual texts for
    // them too; they are no failure.
    struct NotAvailable {
        const char* label;
        const char* reason;
    };
    std::vector<NotAvailable> notAvailable;
};

inline constexpr const char* kReasonNotOffered = "the drive does not offer this command";
inline constexpr const char* kReasonFieldNotOffered = "the drive does not offer this field";
inline constexpr const char* kReasonPressedDisc = "a pressed disc has no blank capacity";

// Reads the selected drive and its disc: TEST UNIT READY (repeated while the drive is becoming
// ready, as WaitUntilReady does), the drive fields, then, with a ready disc, its type, identifiers
// and free capacity. The caller has waited for the drive.
InfoFill FillInfo(DriveTable& table);

// The disc information kept program-wide, updated from each fill.
struct StoredDisc {
    uint8_t discTypeCode = 0;
    std::string manufacturerId;
    std::string mediaTypeId;
    int32_t endLba = 0;
};
StoredDisc& StoredDiscInfo();
void StoreDiscInfo(const InfoFill& fill);

}  // namespace dravix
