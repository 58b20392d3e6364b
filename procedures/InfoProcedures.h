#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/InfoCommands.h"

namespace dravix {

class DriveTable;

// What the Information page and `dravix-cli info` show of the drive and its disc: the field texts,
// the labels, and the fill procedure that reads the drive and turns its answers into those texts.

// Texts of the fields and of the status line.
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

// MODE SENSE(10) page 2Ah: "8M" when Buffer Size Supported is 2000h KB, else "2M".
std::string BufferSizeText(std::span<const uint8_t> answer);

// The RPC state's region mask as the page shows it.
std::string RegionText(uint8_t mask);

// "%.1f MB" of (End LBA + 1) sectors of 2048 bytes.
std::string CapacityText(int32_t endLba);

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
