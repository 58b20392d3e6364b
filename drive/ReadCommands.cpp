#include "drive/ReadCommands.h"

#include <algorithm>
#include <cstdint>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/Scsi.h"

namespace dravix {

namespace {

constexpr size_t kCapacityLength = 8;
constexpr size_t kTocLength = 804;  // header and 100 track descriptors
constexpr size_t kTocHeaderLength = 4;
constexpr size_t kTocDescriptorLength = 8;
constexpr size_t kTrackInformationLength = 48;
constexpr size_t kTrackInformationNeeded = 28;  // through the track size, bytes 24..27
constexpr size_t kDiscInformationLength = 34;
constexpr size_t kDiscInformationNeeded = 7;  // through the last track in the last session (LSB)
constexpr size_t kLayerAnswerLength = 4 + 2048;
constexpr size_t kLayerNeeded = 20;  // through the end sector of layer 0, bytes 16..19
constexpr size_t kPerformanceHeaderLength = 8;
constexpr size_t kPerformanceDescriptorLength = 16;
constexpr size_t kCapabilitySpeedsNeeded = 24;  // header, then the page through bytes 14..15
constexpr size_t kStreamingDescriptorLength = 28;

// What an answer with a two-byte length field claims to be, the field included.
size_t ClaimedBy16(std::span<const uint8_t> answer) {
    return answer.size() < 2 ? 0 : size_t{GetBe16(answer.data())} + 2;
}

// The part of what arrived that the answer claims: never beyond the length it states.
std::span<const uint8_t> Claimed(std::span<const uint8_t> answer, size_t claimed) {
    return answer.first(std::min(answer.size(), claimed));
}

// A data-in command whose answer states its own length: at least `needed` bytes must arrive, and
// then all of what the answer claims as far as it was asked for.
template <typename ClaimedLength>
uint8_t ReadClaimed(DriveTable& table, const uint8_t (&cdb)[12], std::span<uint8_t> answer, size_t needed,
                    ClaimedLength claimedLength, uint32_t timeoutSeconds) {
    const uint8_t status = table.ReadAnswer(cdb, answer, needed, timeoutSeconds);
    if (status != kCommandCompleted) return status;
    return table.RequireReceived(status, std::min(claimedLength(table.Received(answer)), answer.size()));
}

// Marks the last command failed for an answer that arrived whole but lacks what it must hold.
uint8_t ShortAnswer(DriveTable& table) {
    return table.RequireReceived(kCommandCompleted, SIZE_MAX);
}

}  // namespace

std::optional<Capacity> DecodeCapacity(std::span<const uint8_t> answer) {
    if (answer.size() < kCapacityLength) return std::nullopt;
    return Capacity{GetBe32(&answer[0]), GetBe32(&answer[4])};
}

uint8_t ReadCapacity(DriveTable& table, Capacity& capacity) {
    const uint8_t cdb[12] = {0x25};
    uint8_t answer[kCapacityLength];
    const uint8_t status = table.ReadAnswer(cdb, answer, kCapacityLength, kLayoutTimeoutSeconds);
    if (status == kCommandCompleted) capacity = *DecodeCapacity(table.Received(answer));
    return status;
}

void BuildReadCdb(uint8_t (&cdb)[12], ReadCommand command, uint32_t lba, uint32_t count) {
    std::fill(std::begin(cdb), std::end(cdb), uint8_t{0});
    cdb[0] = static_cast<uint8_t>(command);
    PutBe32(&cdb[2], lba);
    if (command == ReadCommand::Read10) {
        PutBe16(&cdb[7], static_cast<uint16_t>(std::min<uint32_t>(count, 0xFFFF)));
    } else {
        PutBe32(&cdb[6], count);
    }
}

uint8_t ReadSectors(DriveTable& table, ReadCommand command, uint32_t lba, uint32_t count,
                    std::span<uint8_t> data, uint32_t timeoutSeconds) {
    const uint64_t bytes = uint64_t{count} * kSectorSize;
    if (bytes > data.size() || bytes > UINT32_MAX || (command == ReadCommand::Read10 && count > 0xFFFF))
        return kCommandFailed;
    uint8_t cdb[12];
    BuildReadCdb(cdb, command, lba, count);
    const uint8_t status =
        table.SendCommand(cdb, kDataIn, data.data(), static_cast<uint32_t>(bytes), timeoutSeconds);
    return table.RequireReceived(status, static_cast<size_t>(bytes));
}

void BuildStartStopCdb(uint8_t (&cdb)[12], StartStop what) {
    std::fill(std::begin(cdb), std::end(cdb), uint8_t{0});
    cdb[0] = 0x1B;
    cdb[4] = static_cast<uint8_t>(what);
}

uint8_t StartStopUnit(DriveTable& table, StartStop what, uint32_t timeoutSeconds) {
    uint8_t cdb[12];
    BuildStartStopCdb(cdb, what);
    return table.SendCommand(cdb, kNoData, nullptr, 0, timeoutSeconds);
}

bool ReadWasRecovered(const DriveTable& table, uint32_t count) {
    constexpr uint8_t kRecoveredError = 0x01;
    const DriveTable::Failure failure = table.LastFailure();
    return failure.status == kCommandFailed && failure.sense.key == kRecoveredError &&
           table.TransferredBeforeSense() >= uint64_t{count} * kSectorSize;
}

std::optional<Toc> DecodeToc(std::span<const uint8_t> answer) {
    if (answer.size() < kTocHeaderLength) return std::nullopt;
    answer = Claimed(answer, ClaimedBy16(answer));
    Toc toc;
    toc.firstTrack = answer[2];
    toc.lastTrack = answer[3];
    for (size_t at = kTocHeaderLength; at + kTocDescriptorLength <= answer.size();
         at += kTocDescriptorLength) {
        const TocTrack track{answer[at + 2], static_cast<uint8_t>(answer[at + 1] & 0x0F),
                             GetBe32(&answer[at + 4])};
        if (track.number == kLeadOutTrackNumber) {
            toc.leadOut = track.startLba;
        } else {
            toc.tracks.push_back(track);
        }
    }
    return toc;
}

uint8_t ReadToc(DriveTable& table, Toc& toc) {
    const uint8_t cdb[12] = {0x43, 0, 0x00, 0, 0, 0, 0, kTocLength >> 8, kTocLength & 0xFF, 0};
    std::vector<uint8_t> answer(kTocLength);
    const uint8_t status =
        ReadClaimed(table, cdb, answer, kTocHeaderLength, ClaimedBy16, kLayoutTimeoutSeconds);
    if (status == kCommandCompleted) toc = *DecodeToc(table.Received(answer));
    return status;
}

std::optional<SessionInfo> DecodeSessionInfo(std::span<const uint8_t> answer) {
    answer = Claimed(answer, ClaimedBy16(answer));
    if (answer.size() < kTocHeaderLength + kTocDescriptorLength) return std::nullopt;
    return SessionInfo{answer[2], answer[3], answer[6], GetBe32(&answer[8])};
}

uint8_t ReadSessionInfo(DriveTable& table, SessionInfo& sessions) {
    constexpr size_t kLength = kTocHeaderLength + kTocDescriptorLength;
    const uint8_t cdb[12] = {0x43, 0, 0x01, 0, 0, 0, 0, 0, kLength, 0};
    uint8_t answer[kLength];
    const uint8_t status = ReadClaimed(table, cdb, answer, kLength, ClaimedBy16, kLayoutTimeoutSeconds);
    if (status != kCommandCompleted) return status;
    const auto decoded = DecodeSessionInfo(table.Received(answer));
    // An answer claiming less than one descriptor holds no session.
    if (!decoded) return ShortAnswer(table);
    sessions = *decoded;
    return status;
}

std::optional<TrackInformation> DecodeTrackInformation(std::span<const uint8_t> answer) {
    answer = Claimed(answer, ClaimedBy16(answer));
    if (answer.size() < kTrackInformationNeeded) return std::nullopt;
    TrackInformation info;
    info.track = answer[2];
    info.session = answer[3];
    info.trackMode = answer[5] & 0x0F;
    info.blank = (answer[6] & 0x40) != 0;
    info.dataMode = answer[6] & 0x0F;
    info.startLba = GetBe32(&answer[8]);
    info.freeBlocks = GetBe32(&answer[16]);
    info.size = GetBe32(&answer[24]);
    if ((answer[7] & 0x02) && answer.size() >= 32) info.lastRecordedLba = GetBe32(&answer[28]);
    if (answer[7] & 0x01) info.nextWritableLba = GetBe32(&answer[12]);
    if (answer.size() >= 34) {
        info.track = static_cast<uint16_t>(answer[32] << 8 | answer[2]);
        info.session = static_cast<uint16_t>(answer[33] << 8 | answer[3]);
    }
    return info;
}

uint8_t ReadTrackInformation(DriveTable& table, uint16_t track, TrackInformation& information) {
    uint8_t cdb[12] = {0x52, 0x01, 0, 0, 0, 0, 0, 0, kTrackInformationLength, 0};
    PutBe32(&cdb[2], track);
    uint8_t answer[kTrackInformationLength];
    uint8_t status =
        ReadClaimed(table, cdb, answer, kTrackInformationNeeded, ClaimedBy16, kLayoutTimeoutSeconds);
    if (status != kCommandCompleted) return status;
    const auto decoded = DecodeTrackInformation(table.Received(answer));
    if (!decoded) return ShortAnswer(table);
    information = *decoded;
    return status;
}

std::optional<DiscRecording> DecodeDiscRecording(std::span<const uint8_t> answer) {
    answer = Claimed(answer, ClaimedBy16(answer));
    if (answer.size() < kDiscInformationNeeded) return std::nullopt;
    auto withHigh = [&answer](size_t low, size_t high) {
        return static_cast<uint16_t>((answer.size() > high ? answer[high] << 8 : 0) | answer[low]);
    };
    DiscRecording recording;
    recording.status = static_cast<DiscStatus>(answer[2] & 0x03);
    recording.erasable = (answer[2] & 0x10) != 0;
    recording.firstTrack = answer[3];
    recording.sessions = withHigh(4, 9);
    recording.firstTrackOfLastSession = withHigh(5, 10);
    recording.lastTrackOfLastSession = withHigh(6, 11);
    return recording;
}

uint8_t ReadDiscRecording(DriveTable& table, DiscRecording& recording) {
    const uint8_t cdb[12] = {0x51, 0, 0, 0, 0, 0, 0, 0, kDiscInformationLength, 0};
    uint8_t answer[kDiscInformationLength];
    const uint8_t status =
        ReadClaimed(table, cdb, answer, kDiscInformationNeeded, ClaimedBy16, kLayoutTimeoutSeconds);
    if (status != kCommandCompleted) return status;
    const auto decoded = DecodeDiscRecording(table.Received(answer));
    if (!decoded) return ShortAnswer(table);
    recording = *decoded;
    return status;
}

std::optional<LayerInfo> DecodeLayerInfo(std::span<const uint8_t> answer) {
    answer = Claimed(answer, ClaimedBy16(answer));
    if (answer.size() < kLayerNeeded) return std::nullopt;
    const uint8_t* d = &answer[4];
    LayerInfo info;
    info.layers = static_cast<uint8_t>(((d[2] >> 5) & 0x03) + 1);
    info.oppositeTrackPath = (d[2] & 0x10) != 0;
    info.startPsn = GetBe32(&d[4]) & 0xFFFFFF;
    info.endPsn = GetBe32(&d[8]) & 0xFFFFFF;
    info.endLayer0Psn = GetBe32(&d[12]) & 0xFFFFFF;
    if (info.layers == 2 && info.endLayer0Psn >= info.startPsn)
        info.layerBreakLba = info.endLayer0Psn - info.startPsn + 1;
    return info;
}

uint8_t ReadLayerInfo(DriveTable& table, LayerInfo& layers) {
    const uint8_t cdb[12] = {0xAD, 0, 0, 0, 0, 0, 0, 0x00, kLayerAnswerLength >> 8, kLayerAnswerLength & 0xFF,
                             0,    0};
    std::vector<uint8_t> answer(kLayerAnswerLength);
    const uint8_t status = ReadClaimed(table, cdb, answer, kLayerNeeded, ClaimedBy16, kLayoutTimeoutSeconds);
    if (status != kCommandCompleted) return status;
    const auto decoded = DecodeLayerInfo(table.Received(answer));
    if (!decoded) return ShortAnswer(table);
    layers = *decoded;
    return status;
}

namespace {

size_t ClaimedBy32(std::span<const uint8_t> answer) {
    return answer.size() < 4 ? 0 : size_t{GetBe32(answer.data())} + 4;
}

}  // namespace

std::vector<PerformanceDescriptor> DecodePerformance(std::span<const uint8_t> answer) {
    std::vector<PerformanceDescriptor> list;
    answer = Claimed(answer, ClaimedBy32(answer));
    for (size_t at = kPerformanceHeaderLength; at + kPerformanceDescriptorLength <= answer.size();
         at += kPerformanceDescriptorLength) {
        list.push_back({GetBe32(&answer[at]), GetBe32(&answer[at + 4]), GetBe32(&answer[at + 8]),
                        GetBe32(&answer[at + 12])});
    }
    return list;
}

uint8_t ReadPerformance(DriveTable& table, bool write, std::vector<PerformanceDescriptor>& descriptors) {
    // Tolerance 10b (10 %), nominal performance, type 00h.
    uint8_t cdb[12] = {0xAC, static_cast<uint8_t>(0x10 | (write ? 0x04 : 0)), 0, 0, 0, 0, 0, 0, 0, 0, 0x00,
                       0};
    PutBe16(&cdb[8], kMaxPerformanceDescriptors);
    std::vector<uint8_t> answer(kPerformanceHeaderLength +
                                kMaxPerformanceDescriptors * kPerformanceDescriptorLength);
    const uint8_t status =
        ReadClaimed(table, cdb, answer, kPerformanceHeaderLength, ClaimedBy32, kLayoutTimeoutSeconds);
    if (status == kCommandCompleted) descriptors = DecodePerformance(table.Received(answer));
    return status;
}

std::optional<CapabilitySpeeds> DecodeCapabilitySpeeds(std::span<const uint8_t> answer) {
    answer = Claimed(answer, ClaimedBy16(answer));
    if (answer.size() < 8) return std::nullopt;
    const size_t page = 8 + size_t{GetBe16(&answer[6])};  // after the block descriptors
    if (answer.size() < page + 16 || (answer[page] & 0x3F) != 0x2A) return std::nullopt;
    return CapabilitySpeeds{GetBe16(&answer[page + 8]), GetBe16(&answer[page + 14])};
}

uint8_t ReadCapabilitySpeeds(DriveTable& table, CapabilitySpeeds& speeds) {
    uint8_t answer[kCapabilitiesLength];
    uint8_t status = ReadCapabilitiesPage(table, answer);
    if (status != kCommandCompleted) return status;
    status =
        table.RequireReceived(status, std::min(ClaimedBy16(table.Received(answer)), kCapabilitySpeedsNeeded));
    if (status != kCommandCompleted) return status;
    const auto decoded = DecodeCapabilitySpeeds(table.Received(answer));
    if (!decoded) return ShortAnswer(table);
    speeds = *decoded;
    return status;
}

uint8_t ReadCurrentReadSpeed(DriveTable& table, uint32_t& kbps) {
    std::vector<PerformanceDescriptor> descriptors;
    uint8_t status = ReadPerformance(table, false, descriptors);
    uint32_t fastest = 0;
    for (const PerformanceDescriptor& d : descriptors) fastest = std::max({fastest, d.startKBps, d.endKBps});
    if (status == kCommandCompleted && fastest > 0) {
        kbps = fastest;
        return status;
    }
    CapabilitySpeeds speeds;
    status = ReadCapabilitySpeeds(table, speeds);
    if (status != kCommandCompleted) return status;
    if (speeds.currentReadKBps == 0) return ShortAnswer(table);  // the page does not tell it
    kbps = speeds.currentReadKBps;
    return status;
}

uint8_t SetCdSpeed(DriveTable& table, uint16_t readKBps, uint16_t writeKBps) {
    uint8_t cdb[12] = {0xBB};
    PutBe16(&cdb[2], readKBps);
    PutBe16(&cdb[4], writeKBps);
    return table.SendCommand(cdb, kNoData, nullptr, 0, kSpeedTimeoutSeconds);
}

uint8_t SetStreaming(DriveTable& table, uint32_t startLba, uint32_t endLba, uint32_t readKBps,
                     bool restoreDefaults) {
    uint8_t cdb[12] = {0xB6, 0, 0, 0, 0, 0, 0, 0, 0x00, 0, kStreamingDescriptorLength, 0};
    uint8_t descriptor[kStreamingDescriptorLength] = {};
    descriptor[0] = restoreDefaults ? 0x04 : 0x00;
    PutBe32(&descriptor[4], startLba);
    PutBe32(&descriptor[8], endLba);
    // So many kilobytes in one second, for reading and (left as it is) writing.
    PutBe32(&descriptor[12], readKBps);
    PutBe32(&descriptor[16], 1000);
    PutBe32(&descriptor[20], readKBps);
    PutBe32(&descriptor[24], 1000);
    return table.SendCommand(cdb, kDataOut, descriptor, sizeof descriptor, kSpeedTimeoutSeconds);
}

}  // namespace dravix
