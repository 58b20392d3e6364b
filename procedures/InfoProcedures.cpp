#include "procedures/InfoProcedures.h"

#include <cstdio>
#include <utility>

#include "drive/DriveTable.h"
#include "drive/Scsi.h"

namespace dravix {

namespace {

constexpr uint16_t kBuffer8MKiB = 0x2000;

}  // namespace

std::string BufferSizeText(std::span<const uint8_t> answer) {
    return BufferSizeKiBOf(answer) == kBuffer8MKiB ? kTextBuffer8M : kTextBuffer2M;
}

std::string RegionText(uint8_t mask) {
    if (mask == 0xFF) return kTextNoRegion;
    if (mask == 0x00) return kTextAllRegion;
    std::string digits;
    for (int region = 1; region <= 8; ++region) {
        if ((mask & (1u << (region - 1))) == 0) digits.push_back(static_cast<char>('0' + region));
    }
    return digits;
}

std::string CapacityText(int32_t endLba) {
    // In 64 bits, so that an End LBA of 7FFFFFFFh does not overflow when one is added.
    const double megabytes = static_cast<double>(static_cast<int64_t>(endLba) + 1) * 0.001953125;
    char text[64];
    std::snprintf(text, sizeof text, "%.1f MB", megabytes);
    return text;
}

namespace {

constexpr uint8_t kSenseIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidOperationCode = 0x20;
constexpr uint8_t kAscInvalidFieldInCdb = 0x24;

// A failed read: not available when the drive says it does not offer the command or the field,
// otherwise unread.
void ReadFailed(const DriveTable& table, InfoFill& fill, const char* label) {
    const DriveTable::Failure failure = table.LastFailure();
    const bool illegal = failure.status == kCommandFailed && failure.sense.key == kSenseIllegalRequest;
    if (illegal && failure.sense.asc == kAscInvalidOperationCode) {
        fill.notAvailable.push_back({label, kReasonNotOffered});
    } else if (illegal && failure.sense.asc == kAscInvalidFieldInCdb) {
        fill.notAvailable.push_back({label, kReasonFieldNotOffered});
    } else {
        fill.unread.push_back(label);
    }
}

bool PressedDisc(uint8_t code) {
    return code == kDiscCdRom || code == kDiscDvdRom;
}

void FillDriveFields(DriveTable& table, InfoFill& fill) {
    fill.firmwareVersion = table.FirmwareRevision();

    uint8_t capabilities[kCapabilitiesLength];
    const bool capabilitiesRead = ReadCapabilitiesPage(table, capabilities) == kCommandCompleted;
    fill.bufferSize =
        capabilitiesRead ? BufferSizeText(table.Received(capabilities)) : std::string(kTextBuffer2M);
    if (!capabilitiesRead) ReadFailed(table, fill, kLabelBufferSize);

    fill.connectionInterface = kTextInterface;

    uint8_t rpc[kRpcStateLength];
    if (ReadRpcState(table, rpc) == kCommandCompleted) {
        if (const auto mask = RegionMaskOf(table.Received(rpc))) {
            fill.regionMask = mask;
            fill.regionSetting = RegionText(*mask);
        }
        return;
    }
    // An adapter error without a status of the drive's own (as QEMU's drive gives for a key
    // format it lacks) says nothing about the drive: the drive's own feature list tells whether it
    // offers the region state at all.
    const DriveTable::Failure failure = table.LastFailure();
    if (failure.adapterError) {
        if (DriveListsFeature(table, kFeatureDvdCss) == false) {
            fill.notAvailable.push_back({kLabelRegionSetting, kReasonNotOffered});
        } else {
            fill.unread.push_back(kLabelRegionSetting);
        }
        table.RestoreFailure(failure);
        return;
    }
    ReadFailed(table, fill, kLabelRegionSetting);
}

void FillDiscFields(DriveTable& table, InfoFill& fill) {
    uint8_t profile[kProfileLength];
    const bool profileRead = ReadCurrentProfile(table, profile) == kCommandCompleted;
    if (!profileRead) fill.unread.push_back(kLabelDiscType);
    const DiscType type =
        profileRead ? DiscTypeOfProfile(CurrentProfileOf(table.Received(profile))) : DiscType{};
    fill.discTypeCode = type.code;
    fill.discType = type.name;
    if (type.code == kDiscUnknown) {
        fill.status = kStatusDiscNotSupported;
        return;
    }
    fill.manufactureId = kTextNotAvailable;
    fill.mediaTypeId = kTextNotAvailable;

    if (type.source != IdentifierSource::None) {
        DiscIdentifiers identifiers;
        if (ReadDiscIdentifiers(table, type.source, identifiers) != kCommandCompleted) {
            fill.status = kStatusDiscNotSupported;
            fill.unread.push_back(kLabelManufactureId);
            fill.unread.push_back(kLabelMediaTypeId);
            return;
        }
        fill.manufactureId = identifiers.manufacturerId;
        fill.mediaTypeId = identifiers.mediaTypeId;
        fill.identifiers = std::move(identifiers);
    }

    uint8_t performance[kPerformanceLength];
    if (ReadWriteSpeedDescriptors(table, performance) != kCommandCompleted) {
        fill.blankDiscCapacity = kTextNoCapacity;
        if (PressedDisc(type.code)) {
            fill.notAvailable.push_back({kLabelBlankDiscCapacity, kReasonPressedDisc});
        } else {
            ReadFailed(table, fill, kLabelBlankDiscCapacity);
        }
        return;
    }
    // An answer without a descriptor carries no End LBA: shown like a failed read.
    const auto endLba = LastEndLbaOf(table.Received(performance));
    if (!endLba) {
        fill.blankDiscCapacity = kTextNoCapacity;
        return;
    }
    fill.endLba = *endLba;
    fill.blankDiscCapacity = CapacityText(*endLba);
}

}  // namespace

InfoFill FillInfo(DriveTable& table) {
    InfoFill fill;
    // The TEST UNIT READY waits, as WaitUntilReady does, while the drive says that it is
    // becoming ready or that the medium changed: a disc spinning up is not an empty tray.
    const bool ready = table.WaitForDrive() == ReadyState::Ready;
    if (!ready) {
        fill.discType = fill.manufactureId = fill.mediaTypeId = fill.blankDiscCapacity = kTextNotAvailable;
        fill.status = kStatusInsertBlank;
        FillDriveFields(table, fill);
        return fill;
    }
    fill.status = kStatusReady;
    FillDriveFields(table, fill);
    FillDiscFields(table, fill);
    return fill;
}

StoredDisc& StoredDiscInfo() {
    static StoredDisc stored;
    return stored;
}

void StoreDiscInfo(const InfoFill& fill) {
    StoredDisc& stored = StoredDiscInfo();
    if (fill.discTypeCode) stored.discTypeCode = *fill.discTypeCode;
    if (fill.identifiers) {
        stored.manufacturerId = fill.identifiers->manufacturerId.substr(0, 48);
        stored.mediaTypeId = fill.identifiers->mediaTypeId.substr(0, 16);
    }
    if (fill.endLba) stored.endLba = *fill.endLba;
}

}  // namespace dravix
