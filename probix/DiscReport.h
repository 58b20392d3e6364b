#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace dravix {

class DriveTable;
class SharedDrive;
struct DiscSpeeds;

// TEST UNIT READY, asked once more when the drive answers with a unit attention: that reports a
// change (a disc was loaded, the drive was reset), not the disc's state. `attention`, when given,
// tells whether such a change was reported.
uint8_t TestUnitReadyAfterAttention(DriveTable& table, bool* attention = nullptr);

// The disc information of the Smart Mode report, read with the Information page's commands and
// decoders.
struct DiscInformation {
    std::string discType;        // "DVD+R DL", "DVD+R", "DVD-R"; "Not Support." or "N/A" otherwise
    std::string manufacturerId;  // "N/A" until read
    std::string mediaTypeId;
    std::string capacity;               // "%.1f MB"; "0" when the speeds cannot be read; "N/A" when not read
    bool identifierReadFailed = false;  // the caller shows "Not support for this disc."
    std::optional<int32_t> lastLba;     // from the capacity read
};

// Nothing is read for a disc the scan does not measure; after a failed identifier read the
// capacity is not read either. `speedsRead`: the write speeds the caller has just read from this
// disc, whose last End LBA gives the capacity without another GET PERFORMANCE.
DiscInformation ReadDiscInformation(SharedDrive& drive, uint8_t discTypeCode,
                                    const DiscSpeeds* speedsRead = nullptr);

}  // namespace dravix
