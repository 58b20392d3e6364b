#include "probix/SpeedList.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "turns/SharedDrive.h"

namespace dravix {

namespace {

constexpr std::array<SpeedEntry, 7> kSpeeds = {{
    {3324, 13, "2.4X => (%5ld Kb/Sec)  ", "2.4X"},
    {5540, 14, " 4X => (%5ld Kb/Sec)  ", "4X"},
    {8310, 15, " 6X => (%5ld Kb/Sec)  ", "6X"},
    {11080, 16, " 8X => (%5ld Kb/Sec)  ", "8X"},
    {13850, 17, "10X => (%5ld Kb/Sec)  ", "10X"},
    {16620, 18, "12X => (%5ld Kb/Sec)  ", "12X"},
    {22160, 19, "16X => (%5ld Kb/Sec)  ", "16X"},
}};

constexpr size_t kDescriptorOffset = 8;
constexpr size_t kDescriptorLength = 16;
constexpr size_t kWriteSpeedField = 12;

}  // namespace

const SpeedEntry* SpeedOfKbps(uint32_t kbps) {
    const auto it =
        std::find_if(kSpeeds.begin(), kSpeeds.end(), [kbps](const SpeedEntry& e) { return e.kbps == kbps; });
    return it == kSpeeds.end() ? nullptr : &*it;
}

const SpeedEntry* SpeedOfCode(uint8_t code) {
    const auto it =
        std::find_if(kSpeeds.begin(), kSpeeds.end(), [code](const SpeedEntry& e) { return e.code == code; });
    return it == kSpeeds.end() ? nullptr : &*it;
}

std::string SpeedListLabel(const SpeedEntry& speed, uint32_t kbps) {
    char text[64];
    // The formats come from the table above and each takes exactly one long.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, speed.labelFormat, static_cast<long>(kbps));
#pragma GCC diagnostic pop
    return text;
}

const char* ShortSpeedLabel(uint8_t code) {
    const SpeedEntry* speed = SpeedOfCode(code);
    return speed ? speed->shortLabel : "?";
}

uint8_t ScanDiscTypeOfProfile(uint16_t profile) {
    // The scan knows the discs of the Information page except DVD-R DL and DVD-RAM.
    const uint8_t code = DiscTypeOfProfile(profile).code;
    return code == kDiscDvdMinusRDl || code == kDiscDvdRam ? kScanDiscUnknown : code;
}

bool ScanSupportsDisc(uint8_t discTypeCode) {
    return ScanDiscName(discTypeCode) != nullptr;
}

const char* ScanDiscName(uint8_t discTypeCode) {
    switch (discTypeCode) {
        case kScanDvdPlusRDl:
            return "DVD+R DL";
        case kScanDvdPlusR:
            return "DVD+R";
        case kScanDvdMinusR:
            return "DVD-R";
        default:
            return nullptr;
    }
}

uint8_t ReadDiscType(DriveTable& table) {
    uint8_t answer[kProfileLength];
    if (ReadCurrentProfile(table, answer) != kCommandCompleted) return kScanDiscUnknown;
    return ScanDiscTypeOfProfile(CurrentProfileOf(table.Received(answer)));
}

DiscSpeeds DecodeWriteSpeeds(std::span<const uint8_t> answer) {
    DiscSpeeds speeds;
    speeds.lastLba = LastEndLbaOf(answer);
    if (answer.size() < kDescriptorOffset) return speeds;
    const uint32_t dataLength = GetBe32(answer.data());
    if (dataLength < 4) return speeds;
    const size_t fits = (answer.size() - kDescriptorOffset) / kDescriptorLength;
    const size_t count = std::min<size_t>((dataLength - 4) / kDescriptorLength, fits);
    for (size_t i = 0; i < count && speeds.codes.size() < kMaxSpeedCount; ++i) {
        const uint8_t* descriptor = answer.data() + kDescriptorOffset + i * kDescriptorLength;
        const uint32_t kbps = GetBe32(descriptor + kWriteSpeedField);
        const SpeedEntry* speed = SpeedOfKbps(kbps);
        if (speed == nullptr) continue;  // skipped without leaving a gap in the list
        speeds.codes.push_back(speed->code);
        speeds.kbps.push_back(kbps);
        speeds.labels.push_back(SpeedListLabel(*speed, kbps));
    }
    return speeds;
}

uint8_t ReadWriteSpeeds(DriveTable& table, std::span<uint8_t> answer, size_t& received) {
    received = 0;
    if (answer.size() < kPerformanceLength) return kCommandFailed;
    const uint8_t status = ReadWriteSpeedDescriptors(table, answer.first<kPerformanceLength>());
    if (status == kCommandCompleted) received = table.LastTransferred();
    return status;
}

DiscSurvey SurveyDisc(SharedDrive& drive, const StopRequested& stopRequested) {
    constexpr uint8_t kUnitAttention = 0x06;
    DiscSurvey survey;
    // The drive reports a medium change once: a second survey reads the new disc's type and speeds.
    for (int attempt = 0; attempt < 2; ++attempt) {
        const bool attention = survey.attention;
        survey = DiscSurvey{};
        survey.attention = attention;
        const std::optional<uint8_t> discType =
            drive.LockedUnlessStopped(stopRequested, [](DriveTable& table) { return ReadDiscType(table); });
        if (!discType) return survey;
        survey.discTypeCode = *discType;
        if (!ScanSupportsDisc(survey.discTypeCode)) {
            survey.kind = DiscSurvey::Kind::NotSupported;
            return survey;
        }
        std::array<uint8_t, kPerformanceLength> answer{};
        size_t received = 0;
        bool changed = false;
        const std::optional<uint8_t> status =
            drive.LockedUnlessStopped(stopRequested, [&](DriveTable& table) {
                const uint8_t read = ReadWriteSpeeds(table, answer, received);
                changed = read == kCommandFailed && table.SenseKey() == kUnitAttention;
                return read;
            });
        if (!status) return survey;
        if (changed) {
            survey.attention = true;
            continue;
        }
        if (*status != kCommandCompleted) {
            survey.kind = DiscSurvey::Kind::SpeedsUnreadable;
            return survey;
        }
        survey.speeds = DecodeWriteSpeeds(std::span(answer).first(received));
        survey.kind = survey.speeds.codes.empty() ? DiscSurvey::Kind::NoKnownSpeed : DiscSurvey::Kind::Ready;
        return survey;
    }
    survey.kind = DiscSurvey::Kind::SpeedsUnreadable;
    return survey;
}

}  // namespace dravix
