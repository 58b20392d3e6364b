// Writing a blank recordable disc: WRITE(10) into the drive's buffer, which the disc drains at the
// write speed of the drive's strategy; simulation (the Write Parameters page's Test Write bit, or
// the maker's switch on DVD+R) lets the writes go through without recording.

#include <algorithm>
#include <cmath>

#include "emu/Commands.h"

namespace dravix::emu::detail {

namespace {

constexpr SenseCode kInvalidAddressForWrite{0x05, 0x21, 0x02};
constexpr SenseCode kCannotWriteIncompatibleFormat{0x05, 0x30, 0x05};

constexpr size_t kHeaderLength = 8;  // mode parameter header (10)
constexpr uint8_t kWriteParametersPage = 0x05;
constexpr uint8_t kWriteParametersLength = 0x32;

bool IsCd(MediaFamily family) {
    return !IsDvd(family);
}

bool PageSimulates(MediaFamily family) {
    return family == MediaFamily::CdR || family == MediaFamily::CdRw || family == MediaFamily::DvdMinusR ||
           family == MediaFamily::DvdMinusRw;
}

bool SwitchSimulates(MediaFamily family) {
    return family == MediaFamily::DvdPlusR || family == MediaFamily::DvdPlusRDl;
}

// The speed the drive writes at, in kB/s: the fastest listed speed not above the one set, the
// slowest listed when the one set is below all of them.
uint32_t ChosenWriteKBps(const DriveState& s, const MediaInfo& media) {
    const std::vector<uint32_t>& speeds = media.writeSpeeds;
    if (speeds.empty()) return 0;
    const uint32_t fastest = *std::max_element(speeds.begin(), speeds.end());
    if (s.writeSpeedLimitKBps == 0) return fastest;
    uint32_t chosen = 0;
    for (uint32_t speed : speeds)
        if (speed <= s.writeSpeedLimitKBps) chosen = std::max(chosen, speed);
    return chosen ? chosen : *std::min_element(speeds.begin(), speeds.end());
}

WriteStrategy Resolved(WriteStrategy strategy, const MediaInfo& media, double capX) {
    if (strategy != WriteStrategy::Auto) return strategy;
    const bool cd = IsCd(media.family);
    if (capX <= (cd ? 16.0 : 4.0)) return WriteStrategy::Clv;
    if (cd) return WriteStrategy::Cav;
    return media.dualLayer ? WriteStrategy::ZonedClv : WriteStrategy::PartialCav;
}

double SectorsPerMicrosecond(const MediaInfo& media, double speedX) {
    return speedX * BytesPerSecondAt1X(media) / kSectorBytes / 1e6;
}

uint64_t BufferSectors(const DriveState& s) {
    return std::max<uint64_t>(1, uint64_t{s.bufferKiB} * 1024 / kSectorBytes);
}

// Sectors still in the buffer at the command's time.
uint64_t PendingSectors(const Command& c, const MediaInfo* media) {
    const DriveState& s = c.state;
    const int64_t nowUs = c.nowMs * 1000;
    if (!media || s.writeDoneUs <= nowUs) return 0;
    const double speedX = WriteSpeedXAt(s, *media, s.writeNextLba);
    const double pending = static_cast<double>(s.writeDoneUs - nowUs) * SectorsPerMicrosecond(*media, speedX);
    return std::min<uint64_t>(BufferSectors(s), static_cast<uint64_t>(std::llround(pending)));
}

}  // namespace

bool TakesSequentialWrites(const DriveState& state, const MediaInfo& media) {
    (void)state;
    return media.blank && !media.writeSpeeds.empty() &&
           (PageSimulates(media.family) || SwitchSimulates(media.family));
}

bool StillBlank(const DriveState& state, const MediaInfo& media) {
    return media.blank && (!state.disc || state.disc->recordedSectors == 0);
}

bool Simulating(const DriveState& state, const MediaInfo& media) {
    if (state.ignoresSimulation) return false;
    if (PageSimulates(media.family)) return state.writeParameters.testWrite;
    // The page's bit means nothing on DVD+R: that format has no simulation of its own.
    if (SwitchSimulates(media.family)) return state.testWrite;
    return false;
}

double WriteSpeedXAt(const DriveState& state, const MediaInfo& media, uint32_t lba) {
    const double capX = ChosenWriteKBps(state, media) / KilobytesPerSecondAt1X(media);
    if (capX <= 0) return 0;
    const double radius = SectorRadiusMm(media, lba);
    const double inner = InnerRadiusMm(media);
    const double knee = (inner + kOuterRadiusMm) / 2;
    switch (Resolved(state.writeStrategy, media, capX)) {
        case WriteStrategy::Auto:
        case WriteStrategy::Clv:
            return capX;
        case WriteStrategy::Cav:
            return capX * radius / kOuterRadiusMm;
        case WriteStrategy::PartialCav:
            return std::min(capX, capX * radius / knee);
        case WriteStrategy::ZonedClv: {
            constexpr int kZones = 4;
            const int zone = std::clamp(static_cast<int>((radius - inner) / (kOuterRadiusMm - inner) * kZones), 0,
                                        kZones - 1);
            return capX * (kZones - 1 + zone) / (2 * kZones - 2);  // 1/2, 2/3, 5/6, 1 of the speed
        }
        case WriteStrategy::Marginal: {
            const double speed = std::min(capX, capX * radius / knee);
            const bool outer = static_cast<double>(lba) > 0.6 * (static_cast<double>(media.endLba) + 1);
            return outer ? speed / 2 : speed;
        }
    }
    return capX;
}

void ForgetWriting(DriveState& state) {
    state.writeDoneUs = 0;
    state.writeNextLba = 0;
}

void Write10(Command& c) {
    DriveState& s = c.state;
    const MediaInfo& media = *LoadedMedia(s);
    const uint32_t lba = GetBe32(&c.cdb[2]);
    const uint32_t count = GetBe16(&c.cdb[7]);
    if (!TakesSequentialWrites(s, media)) return c.Fail(kCannotWriteIncompatibleFormat);
    if (count == 0) return;
    if (c.dataOut.size() < uint64_t{count} * kSectorBytes) return c.Fail(kInvalidFieldInCdb);
    if (lba > media.endLba || count - 1 > media.endLba - lba) return c.Fail(kLbaOutOfRange);
    const bool simulate = Simulating(s, media);
    // Sequential only: at the next writable address, or (in simulation, where nothing advances
    // it) where the write before ended.
    const uint32_t recorded = s.disc->recordedSectors;
    if (lba != recorded && !(simulate && s.writeNextLba != 0 && lba == s.writeNextLba))
        return c.Fail(kInvalidAddressForWrite);

    // The data goes into the buffer, which the disc drains at the write speed; the command ends
    // once what does not fit has gone onto the disc, and never before the interface has carried it.
    const int64_t nowUs = c.nowMs * 1000;
    const double perUs = SectorsPerMicrosecond(media, WriteSpeedXAt(s, media, lba + count / 2));
    s.writeDoneUs = std::max(nowUs, s.writeDoneUs) + std::llround(count / perUs);
    const int64_t pendingUs = s.writeDoneUs - nowUs;
    const int64_t holdsUs = std::llround(static_cast<double>(BufferSectors(s)) / perUs);
    const uint64_t waitUs = pendingUs > holdsUs ? static_cast<uint64_t>(pendingUs - holdsUs) : 0;
    const auto interfaceUs = static_cast<uint64_t>(
        std::llround(static_cast<double>(count) * kSectorBytes / (s.interfaceKBps * 1000.0) * 1e6));
    c.mediumMicroseconds = std::max(waitUs, interfaceUs);
    c.cacheFirst = c.cacheEnd = 0;
    s.writeNextLba = lba + count;
    if (!simulate) s.disc->recordedSectors = lba + count;
}

void ReadBufferCapacity(Command& c) {
    c.allocation = GetBe16(&c.cdb[7]);
    const bool blocks = c.cdb[1] & 0x01;
    const MediaInfo* media = MediumProblem(c.state, c.nowMs) ? nullptr : LoadedMedia(c.state);
    const uint64_t total = BufferSectors(c.state);
    const uint64_t free = total - PendingSectors(c, media);
    c.reply.assign(12, 0);
    PutBe16(&c.reply[0], 10);
    if (blocks) {
        c.reply[3] = 0x01;
        PutBe32(&c.reply[8], static_cast<uint32_t>(free));
    } else {
        PutBe32(&c.reply[4], static_cast<uint32_t>(total * kSectorBytes));
        PutBe32(&c.reply[8], static_cast<uint32_t>(free * kSectorBytes));
    }
}

void SynchronizeCache(Command& c) {
    DriveState& s = c.state;
    const int64_t nowUs = c.nowMs * 1000;
    if (s.writeDoneUs > nowUs) c.mediumMicroseconds = static_cast<uint64_t>(s.writeDoneUs - nowUs);
    s.writeDoneUs = 0;
}

std::vector<uint8_t> WriteParametersPage(const DriveState& state, uint8_t pageControl) {
    std::vector<uint8_t> page(2 + kWriteParametersLength, 0);
    page[0] = kWriteParametersPage;
    page[1] = kWriteParametersLength;
    if (pageControl == 1) {
        page[2] = 0x1F;  // Test Write, write type
        page[4] = 0x0F;  // data block type
        return page;
    }
    const WriteParameters values = pageControl == 2 ? WriteParameters{} : state.writeParameters;
    page[2] = static_cast<uint8_t>((values.testWrite ? 0x10 : 0) | values.writeType);
    page[3] = 0x04;  // data track, recorded uninterrupted
    page[4] = values.dataBlockType;
    return page;
}

void ModeSelect10(Command& c) {
    const size_t listLength = GetBe16(&c.cdb[7]);
    if (listLength < kHeaderLength || c.dataOut.size() < listLength) return c.Fail(kParameterListLengthError);
    const uint8_t* d = c.dataOut.data();
    if (GetBe16(&d[6]) != 0) return c.Fail(kInvalidFieldInParameterList);  // no block descriptors
    WriteParameters values = c.state.writeParameters;
    for (size_t at = kHeaderLength; at < listLength;) {
        if (listLength - at < 2) return c.Fail(kParameterListLengthError);
        const uint8_t code = d[at] & 0x3F;
        const size_t length = d[at + 1];
        if (listLength - at - 2 < length) return c.Fail(kParameterListLengthError);
        if (code != kWriteParametersPage || length < 3) return c.Fail(kInvalidFieldInParameterList);
        const uint8_t writeType = d[at + 2] & 0x0F;
        const uint8_t blockType = d[at + 4] & 0x0F;
        if (writeType > 3) return c.Fail(kInvalidFieldInParameterList);
        if ((blockType >= 4 && blockType <= 6) || blockType == 14) return c.Fail(kInvalidFieldInParameterList);
        values.testWrite = (d[at + 2] & 0x10) != 0;
        values.writeType = writeType;
        values.dataBlockType = blockType;
        at += 2 + length;
    }
    c.state.writeParameters = values;
}

}  // namespace dravix::emu::detail
