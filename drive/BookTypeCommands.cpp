#include "drive/BookTypeCommands.h"

#include <algorithm>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/Scsi.h"

namespace dravix {

namespace {

constexpr uint8_t kReadBookTypeOpcode = 0xFF;
constexpr uint8_t kSetBookTypeOpcode = 0xFE;
constexpr uint8_t kSetDiscTarget = 0x02;

constexpr size_t kVendorReadLength = 2;
constexpr size_t kProfileAnswerLength = 12;
constexpr size_t kDiscInformationLength = 255;
constexpr size_t kDiscStructureLength = 100;
// What the commands ask the drive for (their allocation lengths), where the buffer is larger.
constexpr size_t kProfileRequested = 8;
constexpr size_t kDiscStructureRequested = 0x14;

// The fields each answer must carry.
constexpr size_t kProfileNeeded = 8;        // current profile, bytes 6..7
constexpr size_t kFeatureHeaderLength = 8;  // data length and current profile
constexpr size_t kDiscStatusNeeded = 3;     // disc status, byte 2
constexpr size_t kDiscBookNeeded = 5;       // book type, byte 4

constexpr BookTypeRowInfo kRows[] = {
    {0x00, 0x00, 0x04, 0x00, kBookDvdPlusRw},
    {0x10, 0x00, 0x05, 0x00, kBookDvdPlusR},
    {0x10, 0x01, 0x05, 0x01, kBookDvdPlusRDl},
};

size_t IndexOf(BookTypeRow row) {
    return static_cast<size_t>(row);
}

bool SenseIsNoMedium(const DriveTable& table) {
    return table.SenseKey() == kSenseNoMedium.key && table.SenseAsc() == kSenseNoMedium.asc;
}

}  // namespace

bool KnownDriveBookType(uint8_t value) {
    return value == kBookNone || value == kBookDvdRom || value == kBookDvdPlusRw || value == kBookDvdPlusR ||
           value == kBookDvdPlusRDl;
}

const BookTypeRowInfo& RowInfo(BookTypeRow row) {
    return kRows[IndexOf(row)];
}

MediaKind MediaKindOfProfile(uint16_t profile) {
    switch (profile & 0xFF) {
        case 0x08:
            return MediaKind::CdRom;
        case 0x09:
            return MediaKind::CdR;
        case 0x0A:
            return MediaKind::CdRw;
        case 0x10:
            return MediaKind::DvdRom;
        case 0x1B:
            return MediaKind::DvdPlusR;
        case 0x1A:
            return MediaKind::DvdPlusRw;
        case 0x11:
            return MediaKind::DvdMinusR;
        case 0x13:
        case 0x14:
            return MediaKind::DvdMinusRw;
        case 0x12:
            return MediaKind::DvdRam;
        case 0x2B:
            return MediaKind::DvdPlusRDl;
        default:
            return MediaKind::Other;
    }
}

bool WritesDvdPlusRDl(std::span<const uint8_t> answer) {
    if (answer.size() < 4) return false;
    const uint32_t dataLength = GetBe32(answer.data());
    if (dataLength < 8) return false;
    // The data length excludes its own four bytes. The list ends there or at the end of the
    // buffer, whichever comes first: a byte past the reported length is not part of the answer,
    // not even the first data byte of a header that sits at its very end.
    const size_t end = std::min<size_t>(size_t{dataLength} + 4, answer.size());
    size_t offset = 8;
    while (offset + 4 <= end) {
        const uint8_t* header = answer.data() + offset;
        const uint16_t code = GetBe16(header);
        const uint8_t additionalLength = header[3];
        const size_t firstData = offset + 4;
        if (code == kFeatureDvdPlusRDlWrite && additionalLength >= 1 && firstData < end &&
            answer[firstData] == 0x01) {
            return true;
        }
        offset = firstData + additionalLength;
    }
    return false;
}

bool IsEmptyDisc(std::span<const uint8_t> answer) {
    return answer.size() > 2 && (answer[2] & 0x03) == 0;
}

std::optional<uint8_t> DiscBookNibbleOf(std::span<const uint8_t> answer) {
    if (answer.size() <= 4) return std::nullopt;
    return static_cast<uint8_t>(answer[4] >> 4);
}

uint8_t ReadDriveBookType(DriveTable& table, BookTypeRow row, uint8_t& value) {
    const BookTypeRowInfo& info = RowInfo(row);
    const uint8_t cdb[12] = {kReadBookTypeOpcode, info.readByte1, info.readByte2};
    uint8_t answer[kVendorReadLength] = {};
    const uint8_t status = table.ReadAnswer(cdb, answer, 1, kBookTypeReadTimeoutSeconds);
    if (status == kCommandCompleted) value = answer[0];
    return status;
}

uint8_t SetDriveBookTypeCommand(DriveTable& table, BookTypeRow row, uint8_t value) {
    const BookTypeRowInfo& info = RowInfo(row);
    const uint8_t cdb[12] = {kSetBookTypeOpcode, info.setByte1, value, info.setByte3};
    return table.SendCommand(cdb, kNoData, nullptr, 0, kBookTypeSetTimeoutSeconds);
}

uint8_t SetDiscBookTypeCommand(DriveTable& table, uint8_t value) {
    const uint8_t cdb[12] = {kSetBookTypeOpcode, kSetDiscTarget, value};
    return table.SendCommand(cdb, kNoData, nullptr, 0, kBookTypeSetTimeoutSeconds);
}

uint8_t ReadProfileForBookType(DriveTable& table, uint16_t& profile) {
    const uint8_t cdb[12] = {0x46, 0, 0, 0, 0, 0, 0, 0, 0x08, 0};
    uint8_t answer[kProfileAnswerLength] = {};
    const uint8_t status =
        RequireWholeAnswer(table, table.ReadAnswer(cdb, answer, kProfileNeeded, kBookTypeReadTimeoutSeconds),
                           answer, 4, kProfileRequested);
    if (status == kCommandCompleted) profile = CurrentProfileOf(table.Received(answer));
    return status;
}

uint8_t ReadAllFeatures(DriveTable& table, std::vector<uint8_t>& answer) {
    const uint8_t cdb[12] = {0x46, 0, 0, 0, 0, 0, 0, 0x40, 0x00, 0};
    answer.assign(kConfigurationLength, 0);
    const uint8_t status = RequireWholeAnswer(
        table, table.ReadAnswer(cdb, answer, kFeatureHeaderLength, kFeatureListTimeoutSeconds), answer, 4,
        kConfigurationLength);
    // What the walk may read: only the part the drive sent.
    answer.resize(status == kCommandCompleted ? table.LastTransferred() : 0);
    return status;
}

uint8_t ReadDiscStatus(DriveTable& table, bool& empty) {
    const uint8_t cdb[12] = {0x51, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0};
    uint8_t answer[kDiscInformationLength] = {};
    const uint8_t status = RequireWholeAnswer(
        table, table.ReadAnswer(cdb, answer, kDiscStatusNeeded, kBookTypeReadTimeoutSeconds), answer, 2,
        kDiscInformationLength);
    if (status == kCommandCompleted) empty = IsEmptyDisc(table.Received(answer));
    return status;
}

uint8_t ReadDiscBookType(DriveTable& table, std::optional<uint8_t>& nibble) {
    const uint8_t cdb[12] = {0xAD, 0, 0, 0, 0, 0, 0, 0, 0, 0x14, 0, 0};
    uint8_t answer[kDiscStructureLength] = {};
    const uint8_t status =
        RequireWholeAnswer(table, table.ReadAnswer(cdb, answer, kDiscBookNeeded, kBookTypeReadTimeoutSeconds),
                           answer, 2, kDiscStructureRequested);
    nibble = status == kCommandCompleted ? DiscBookNibbleOf(table.Received(answer)) : std::nullopt;
    return status;
}

MediaKind DetermineMediaKind(DriveTable& table) {
    table.WaitUntilReady();
    if (TestUnitReady(table) != kCommandCompleted && SenseIsNoMedium(table)) return MediaKind::NoMedium;
    uint16_t profile = 0;
    if (ReadProfileForBookType(table, profile) != kCommandCompleted) return MediaKind::Failed;
    return MediaKindOfProfile(profile);
}

bool TrayIsEmpty(DriveTable& table) {
    return TestUnitReady(table) != kCommandCompleted && SenseIsNoMedium(table);
}

}  // namespace dravix
