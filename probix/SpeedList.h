#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "probix/ScanEngine.h"

namespace dravix {

class DriveTable;
class SharedDrive;

// The disc the scan page finds in the drive: its type and the write speeds it may be measured at.

// One write speed the measurement knows: the drive's kB/s value, the speed code of the
// measurement command, the speed list's label format and the Smart report's short label.
struct SpeedEntry {
    uint32_t kbps;
    uint8_t code;
    const char* labelFormat;
    const char* shortLabel;
};
inline constexpr uint8_t kFirstSpeedCode = 13;  // 2.4X
inline constexpr uint8_t kLastSpeedCode = 19;   // 16X

// Exact matches only; null for any other value.
const SpeedEntry* SpeedOfKbps(uint32_t kbps);
const SpeedEntry* SpeedOfCode(uint8_t code);
// The speed list's line for a speed: its label format filled with the kB/s value ("%5ld").
std::string SpeedListLabel(const SpeedEntry& speed, uint32_t kbps);
// "2.4X" … "16X"; "?" for an unknown code.
const char* ShortSpeedLabel(uint8_t code);

// The scan's disc type code of a current profile (only its low byte counts): 5 DVD+R DL, 6 DVD+R,
// 8 DVD-R, the other known discs by their codes, anything else 240.
uint8_t ScanDiscTypeOfProfile(uint16_t profile);
// DVD+R DL, DVD+R and DVD-R are measured.
bool ScanSupportsDisc(uint8_t discTypeCode);
// "DVD+R DL", "DVD+R", "DVD-R"; null for a disc the scan does not measure.
const char* ScanDiscName(uint8_t discTypeCode);

// GET CONFIGURATION: the scan's disc type code, 240 when the command fails.
uint8_t ReadDiscType(DriveTable& table);

// The matched speeds of a GET PERFORMANCE answer, in answer order (list position and code
// index agree), and the End LBA of the answer's last descriptor, matched or not.
struct DiscSpeeds {
    std::vector<uint8_t> codes;
    std::vector<uint32_t> kbps;
    std::vector<std::string> labels;
    std::optional<int32_t> lastLba;
};
inline constexpr size_t kMaxSpeedCount = 12;  // what a 200-byte answer can hold
DiscSpeeds DecodeWriteSpeeds(std::span<const uint8_t> answer);

// GET PERFORMANCE into a zeroed 200-byte buffer; the SendCommand status. `received` is how much
// of the answer the drive sent: decode only that part.
uint8_t ReadWriteSpeeds(DriveTable& table, std::span<uint8_t> answer, size_t& received);

// What examining a newly ready disc found.
struct DiscSurvey {
    enum class Kind {
        Abandoned,         // a stop request came first: nothing is known
        NotSupported,      // not a disc the scan measures (or GET CONFIGURATION failed)
        SpeedsUnreadable,  // GET PERFORMANCE failed
        NoKnownSpeed,      // no descriptor with a speed of the table
        Ready,
    };
    Kind kind = Kind::Abandoned;
    uint8_t discTypeCode = kScanDiscUnknown;
    DiscSpeeds speeds;
    // The drive reported a medium change meanwhile (GET CONFIGURATION reports none, GET
    // PERFORMANCE does): the survey started again, and whoever shows a disc must examine it anew.
    bool attention = false;
};
// The drive's part of building the speed list: disc type, then its speeds. Each command takes the
// drive's lock for itself; a stop request is honoured before each, once the drive is free. A disc
// changed between the two reads is surveyed again from its type.
DiscSurvey SurveyDisc(SharedDrive& drive, const StopRequested& stopRequested);

}  // namespace dravix
