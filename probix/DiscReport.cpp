#include "probix/DiscReport.h"

#include <array>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"
#include "procedures/InfoProcedures.h"
#include "turns/SharedDrive.h"

namespace dravix {

uint8_t TestUnitReadyAfterAttention(DriveTable& table, bool* attention) {
    constexpr uint8_t kUnitAttention = 0x06;
    const uint8_t status = TestUnitReady(table);
    const bool changed = status == kCommandFailed && table.SenseKey() == kUnitAttention;
    if (attention != nullptr) *attention = changed;
    return changed ? TestUnitReady(table) : status;
}

DiscInformation ReadDiscInformation(SharedDrive& drive, uint8_t discTypeCode, const DiscSpeeds* speedsRead) {
    DiscInformation info;
    info.manufacturerId = info.mediaTypeId = info.capacity = scan_texts::kNotAvailable;
    const char* name = ScanDiscName(discTypeCode);
    if (name == nullptr) {
        const bool known =
            DiscTypeOfCode(discTypeCode).code != kDiscUnknown && discTypeCode != kScanDiscUnknown;
        info.discType = known ? scan_texts::kReportNotSupport : scan_texts::kNotAvailable;
        return info;
    }
    info.discType = name;

    DiscIdentifiers identifiers;
    const IdentifierSource source = DiscTypeOfCode(discTypeCode).source;
    const uint8_t status =
        drive.Locked([&](DriveTable& table) { return ReadDiscIdentifiers(table, source, identifiers); });
    if (status != kCommandCompleted) {
        info.identifierReadFailed = true;
        return info;
    }
    info.manufacturerId = identifiers.manufacturerId;
    info.mediaTypeId = identifiers.mediaTypeId;

    if (speedsRead != nullptr) {
        info.lastLba = speedsRead->lastLba;
        info.capacity = info.lastLba ? CapacityText(*info.lastLba) : scan_texts::kCapacityUnread;
        return info;
    }
    std::array<uint8_t, kPerformanceLength> answer{};
    size_t received = 0;
    const bool read = drive.Locked([&](DriveTable& table) {
        return ReadWriteSpeeds(table, answer, received);
    }) == kCommandCompleted;
    if (read) info.lastLba = LastEndLbaOf(std::span(answer).first(received));
    // An answer without a descriptor has no capacity to show, like a failed read.
    info.capacity = info.lastLba ? CapacityText(*info.lastLba) : scan_texts::kCapacityUnread;
    return info;
}

}  // namespace dravix
