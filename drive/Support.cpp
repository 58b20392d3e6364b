#include "drive/Support.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "drive/DriveTable.h"
#include "drive/Scsi.h"
#include "drive/Timeouts.h"

namespace dravix {

uint8_t ReadFeatureList(DriveTable& table, uint8_t (&buffer)[kFeatureListLength]) {
    uint8_t cdb[12];
    BuildVendorCdb(cdb, 0x1B);
    cdb[6] = 0x0E;
    cdb[8] = 0xFF;
    constexpr size_t kHeaderLength = 8;
    const uint8_t status = table.ReadAnswer(cdb, buffer, kHeaderLength, kFeatureListTimeoutSeconds);
    // Every code the count announces must have arrived.
    return table.RequireReceived(status, std::min<size_t>(kHeaderLength + buffer[7], kFeatureListLength));
}

std::vector<uint8_t> FeatureCodesOf(const uint8_t (&buffer)[kFeatureListLength]) {
    const size_t n = std::min<size_t>(buffer[7], kFeatureListLength - 8);
    return std::vector<uint8_t>(buffer + 8, buffer + 8 + n);
}

SupportResult CheckDriveSupport(DriveTable& table) {
    table.WaitUntilReady();
    return CheckReadyDriveSupport(table);
}

SupportResult CheckReadyDriveSupport(DriveTable& table) {
    SupportResult result;
    VendorModeScope vendorMode(table);
    if (!vendorMode) {
        // A refusal leaves the drive as it was; an on whose answer did not come in time may still
        // have been carried out, so the drive gets its off (the time-out stays the failure shown).
        if (const DriveTable::Failure failure = table.LastFailure(); failure.status == kCommandTimedOut) {
            table.SetVendorMode(false);
            table.RestoreFailure(failure);
        }
        result.outcome = SupportOutcome::VendorModeRefused;
        return result;
    }
    uint8_t list[kFeatureListLength];
    result.featureListStatus = ReadFeatureList(table, list);
    if (result.featureListStatus != kCommandCompleted || !HasSignature(list)) {
        // A drive that answered (a list without the signature, or a refusal with its own status)
        // is left in vendor mode: it gets no off. A list whose answer was lost (a time-out, or an
        // adapter failure with no status of the drive's) came from a drive that took the on, so
        // it gets its off; the lost list stays the failure reported.
        const DriveTable::Failure failure = table.LastFailure();
        const bool lost = result.featureListStatus == kCommandTimedOut ||
                          (result.featureListStatus != kCommandCompleted && failure.adapterError);
        if (lost) {
            vendorMode.End();
        } else {
            vendorMode.Keep();
        }
        result.outcome = SupportOutcome::FirmwareNotSupported;
        return result;
    }
    result.outcome = SupportOutcome::Supported;
    result.featureCodes = FeatureCodesOf(list);
    result.vendorMode = std::move(vendorMode);
    return result;
}

}  // namespace dravix
