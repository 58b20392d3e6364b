#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "drive/VendorMode.h"

namespace dravix {

// Firmware features a drive announces in its feature list; each brings one page (its title:
// procedures/PageTitles.h).
enum FeatureCode : uint8_t {
    kFeatureProbix = 1,
    kFeatureWopc = 2,
    kFeatureTestWrite = 3,
    kFeatureBookType = 5,
    kFeatureLumard = 6,
    kFeatureOverSpeed = 7,
};

enum class SupportOutcome {
    Supported,             // vendor mode is on until the result's scope ends
    VendorModeRefused,     // the caller shows the not-supported dialog
    FirmwareNotSupported,  // the caller shows the not-supported message
};

struct SupportResult {
    SupportOutcome outcome = SupportOutcome::FirmwareNotSupported;
    std::vector<uint8_t> featureCodes;  // as listed by the drive, Supported only
    uint8_t featureListStatus = 0;      // SendCommand status of the feature list read
    // Supported: the drive's vendor mode, which the caller keeps while it uses the feature codes
    // or lets end. The other outcomes hold none: a drive that refused on, or whose feature list
    // lacks the signature or was refused, is sent no off; one whose feature list was lost (timed
    // out, or failed at the adapter) has been sent its off before the check returned.
    VendorModeScope vendorMode;
};

inline constexpr size_t kFeatureListLength = 255;

// Vendor feature list FD 1B "ZARN" 0E 00 FF … into a zeroed 255-byte buffer; the SendCommand status
// (failed when the answer ends before the codes its count announces).
uint8_t ReadFeatureList(DriveTable& table, uint8_t (&buffer)[kFeatureListLength]);

// Feature codes of a feature-list answer: n at byte 7, codes from byte 8, never beyond the answer.
std::vector<uint8_t> FeatureCodesOf(const uint8_t (&buffer)[kFeatureListLength]);

// The support check on the selected drive: wait for it, vendor mode on, feature list. The off
// goes out when the result's vendor mode ends; no message is shown: the outcome tells the caller
// what to show.
SupportResult CheckDriveSupport(DriveTable& table);
// The same for a drive its caller has just waited for: vendor mode on and the feature list, with
// no second wait before them.
SupportResult CheckReadyDriveSupport(DriveTable& table);

}  // namespace dravix
