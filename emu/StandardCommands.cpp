#include <algorithm>
#include <cmath>
#include <cstring>

#include "emu/Commands.h"

namespace dravix::emu::detail {

namespace {

enum Flags : unsigned {
    kReportsAttention = 1u << 0,  // a pending unit attention ends the command
    kNeedsMedium = 1u << 1,       // a ready disc must be in the drive
};

using Handler = void (*)(Command&);

struct Entry {
    Handler handler = nullptr;
    unsigned flags = 0;
};

void Put(std::vector<uint8_t>& out, size_t offset, std::string_view text, size_t width, char pad) {
    for (size_t i = 0; i < width; ++i)
        out[offset + i] = static_cast<uint8_t>(i < text.size() ? text[i] : pad);
}

bool IsCd(MediaFamily family) {
    return !IsDvd(family);
}

// The fastest the drive reads the disc now, in X.
double SpeedCapX(const DriveState& s, const MediaInfo& media) {
    const double max = MaxReadSpeedX(media);
    if (s.readSpeedLimitKBps == 0) return max;
    return std::clamp(s.readSpeedLimitKBps / KilobytesPerSecondAt1X(media), 1.0, max);
}

// --- TEST UNIT READY -------------------------------------------------------------------------

void TestUnitReady(Command& c) {
    DriveState& s = c.state;
    if (s.pendingAttention == kAttentionPowerOn) {
        s.pendingAttention = kNoAttention;
        return c.Fail(kPowerOnReset);
    }
    if (s.trayOpen || !s.disc) return c.Fail(kNoMedium);
    if (s.becomingReadyCount > 0) {
        --s.becomingReadyCount;
        return c.Fail(kBecomingReady);
    }
    if (c.nowMs < s.readyAtMs) return c.Fail(kBecomingReady);
    if (s.pendingAttention == kAttentionMediumChanged) {
        s.pendingAttention = kNoAttention;
        return c.Fail(kMediumMayHaveChanged);
    }
}

// --- INQUIRY ---------------------------------------------------------------------------------

void Inquiry(Command& c) {
    if (c.cdb[1] & 0x03) return c.Fail(kInvalidFieldInCdb);  // no vital product data pages
    c.allocation = GetBe16(&c.cdb[3]);
    c.reply.assign(36, 0);
    c.reply[0] = 0x05;  // peripheral qualifier 0, device type 5 (CD/DVD)
    c.reply[1] = 0x80;  // removable medium
    c.reply[2] = 0x00;
    c.reply[3] = 0x32;  // ATAPI version 3, response data format 2
    c.reply[4] = 36 - 5;
    Put(c.reply, 8, c.state.vendor, 8, ' ');
    Put(c.reply, 16, c.state.product, 16, ' ');
    Put(c.reply, 32, c.state.revision, 4, ' ');
}

// --- START STOP UNIT -------------------------------------------------------------------------

uint64_t LatencyUs(const DriveState& s, LatencyClass latencyClass) {
    return uint64_t{s.latencyMs[static_cast<size_t>(latencyClass)]} * 1000;
}

void StartStopUnit(Command& c) {
    const bool loadEject = c.cdb[4] & 0x02;
    const bool start = c.cdb[4] & 0x01;
    DriveState& s = c.state;
    if (!loadEject) {
        // Stopping or starting the disc: the command completes once it has stopped or is up to
        // speed. A stopped disc keeps nothing in the cache.
        if (s.trayOpen || !s.disc) return;
        if (!start && !s.discStopped) {
            s.discStopped = true;
            c.mediumMicroseconds = LatencyUs(s, LatencyClass::SpinDown);
            c.cacheFirst = c.cacheEnd = 0;
        } else if (start && s.discStopped) {
            s.discStopped = false;
            c.mediumMicroseconds = LatencyUs(s, LatencyClass::SpinUp);
        }
        return;
    }
    if (!start) {
        if (s.mediumLocked) return c.Fail(kMediumRemovalPrevented);
        s.trayOpen = true;
        s.discStopped = false;
        c.cacheFirst = c.cacheEnd = 0;
        if (s.pendingAttention == kAttentionMediumChanged) s.pendingAttention = kNoAttention;
        return;
    }
    if (!s.trayOpen) return;
    s.trayOpen = false;
    if (s.disc) {
        s.pendingAttention = std::max(s.pendingAttention, kAttentionMediumChanged);
        // The disc spins up once the tray is in.
        s.readyAtMs = c.nowMs + s.latencyMs[static_cast<size_t>(LatencyClass::Tray)] +
                      s.latencyMs[static_cast<size_t>(LatencyClass::SpinUp)];
    }
}

// --- PREVENT ALLOW MEDIUM REMOVAL ------------------------------------------------------------

void PreventAllowMediumRemoval(Command& c) {
    c.state.mediumLocked = (c.cdb[4] & 0x01) != 0;
}

// --- MODE SENSE(10), page 2Ah ----------------------------------------------------------------

void ModeSense10(Command& c) {
    const uint8_t pageControl = c.cdb[2] >> 6;
    const uint8_t page = c.cdb[2] & 0x3F;
    c.allocation = GetBe16(&c.cdb[7]);
    if (page != 0x05 && page != 0x2A && page != 0x3F) return c.Fail(kInvalidFieldInCdb);
    if (pageControl == 3) return c.Fail(kSavingNotSupported);
    if (page == 0x05) {
        c.reply.assign(8, 0);
        const std::vector<uint8_t> write = WriteParametersPage(c.state, pageControl);
        c.reply.insert(c.reply.end(), write.begin(), write.end());
        PutBe16(&c.reply[0], static_cast<uint16_t>(c.reply.size() - 2));
        return;
    }
    // All pages: the Write Parameters page before the capabilities page.
    if (page == 0x3F) {
        c.allocation = GetBe16(&c.cdb[7]);
        Command capabilities(c.state);
        capabilities.cdb = c.cdb;
        capabilities.cdb[2] = static_cast<uint8_t>((pageControl << 6) | 0x2A);
        capabilities.nowMs = c.nowMs;
        ModeSense10(capabilities);
        c.reply = capabilities.reply;
        const std::vector<uint8_t> write = WriteParametersPage(c.state, pageControl);
        c.reply.insert(c.reply.begin() + 8, write.begin(), write.end());
        PutBe16(&c.reply[0], static_cast<uint16_t>(c.reply.size() - 2));
        return;
    }

    const MediaInfo* media = MediumProblem(c.state, c.nowMs) ? nullptr : LoadedMedia(c.state);
    const std::vector<uint32_t> speeds = media ? media->writeSpeeds : std::vector<uint32_t>{};
    const size_t pageLength = 32 + 4 * speeds.size();
    c.reply.assign(8 + pageLength, 0);
    PutBe16(&c.reply[0], static_cast<uint16_t>(c.reply.size() - 2));
    uint8_t* p = &c.reply[8];
    p[0] = 0x2A;
    p[1] = static_cast<uint8_t>(pageLength - 2);
    if (pageControl == 1) return;  // nothing in this page can be changed
    p[2] = 0x3F;                   // reads CD-R, CD-RW, method 2, DVD-ROM, DVD-R, DVD-RAM
    p[3] = 0x37;                   // writes CD-R, CD-RW, DVD-R, DVD-RAM; test write
    p[4] = 0x40;                   // multi-session
    p[6] = 0x29;                   // tray loader, eject, lock
    if (media) {
        const double unit = KilobytesPerSecondAt1X(*media);
        PutBe16(&p[8], static_cast<uint16_t>(std::lround(MaxReadSpeedX(*media) * unit)));
        PutBe16(&p[14], static_cast<uint16_t>(std::lround(SpeedCapX(c.state, *media) * unit)));
    }
    PutBe16(&p[10], 256);
    PutBe16(&p[12], c.state.bufferKiB);
    PutBe16(&p[22], 1);
    PutBe16(&p[28],
            speeds.empty() ? 0 : static_cast<uint16_t>(*std::max_element(speeds.begin(), speeds.end())));
    PutBe16(&p[30], static_cast<uint16_t>(speeds.size()));
    for (size_t i = 0; i < speeds.size(); ++i) PutBe16(&p[32 + 4 * i + 2], static_cast<uint16_t>(speeds[i]));
}

// --- REPORT KEY, format 08h ------------------------------------------------------------------

void ReportKey(Command& c) {
    c.allocation = GetBe16(&c.cdb[8]);
    const uint8_t keyFormat = c.cdb[10] & 0x3F;
    if (c.cdb[7] != 0 || keyFormat != 0x08) return c.Fail(kInvalidFieldInCdb);
    c.reply.assign(8, 0);
    PutBe16(&c.reply[0], 6);
    c.reply[4] = (1 << 6) | (4 << 3) | 4;  // region set; 4 vendor resets and 4 user changes left
    c.reply[5] = c.state.regionMask;
    c.reply[6] = 0x01;  // RPC phase II
}

// --- GET CONFIGURATION -----------------------------------------------------------------------

struct Feature {
    uint16_t code;
    uint8_t version;
    bool persistent;
    bool current;
    std::vector<uint8_t> data;
};

std::vector<Feature> DriveFeatures(const DriveState& s, const MediaInfo* media) {
    auto is = [media](MediaFamily family) { return media && media->family == family; };
    static constexpr uint16_t kProfiles[] = {0x2B, 0x1B, 0x1A, 0x14, 0x13, 0x12,
                                             0x11, 0x10, 0x0A, 0x09, 0x08};
    std::vector<uint8_t> profiles;
    for (uint16_t profile : kProfiles) {
        const bool current = media && media->profile == profile;
        profiles.insert(profiles.end(), {static_cast<uint8_t>(profile >> 8), static_cast<uint8_t>(profile),
                                         static_cast<uint8_t>(current ? 1 : 0), 0});
    }
    const bool dvd = media && IsDvd(media->family);
    const bool cd = media && IsCd(media->family);
    return {
        {0x0000, 0, true, true, profiles},
        {0x0001, 1, true, true, {0, 0, 0, 2, 0x03, 0, 0, 0}},  // ATAPI, DBE
        {0x0002, 1, true, true, {0x02, 0, 0, 0}},
        {0x0003, 0, true, true, {0x29, 0, 0, 0}},  // tray, eject, lock
        {0x0010,
         0,
         false,
         media != nullptr,
         {0, 0, 0x08, 0, 0, 0x10, 0, 0}},  // 2048-byte blocks, blocking 16
        {0x001D, 0, false, cd, {}},
        {0x001E, 1, false, cd, {0, 0, 0, 0}},
        {0x001F, 1, false, dvd, {0x01, 0, 0x01, 0}},
        {0x002A, 1, false, is(MediaFamily::DvdPlusRw), {0x01, 0, 0, 0}},
        {0x002B, 0, false, is(MediaFamily::DvdPlusR), {0x01, 0, 0, 0}},
        {0x002D, 2, false, is(MediaFamily::CdR) || is(MediaFamily::CdRw), {0x46, 0, 0, 0}},
        {0x002F, 1, false, is(MediaFamily::DvdMinusR) || is(MediaFamily::DvdMinusRw), {0x46, 0, 0, 0}},
        // First data byte bit 0: the drive writes DVD+R DL.
        {0x003B,
         0,
         false,
         is(MediaFamily::DvdPlusRDl),
         {static_cast<uint8_t>(s.writesDvdPlusRDl ? 1 : 0), 0, 0, 0}},
        {0x0100, 0, true, true, {}},
    };
}

void GetConfiguration(Command& c) {
    const uint8_t requestType = c.cdb[1] & 0x03;
    const uint16_t start = GetBe16(&c.cdb[2]);
    c.allocation = GetBe16(&c.cdb[7]);
    if (requestType == 3) return c.Fail(kInvalidFieldInCdb);
    // Until the disc is ready the drive knows no current profile.
    const MediaInfo* media = MediumProblem(c.state, c.nowMs) ? nullptr : LoadedMedia(c.state);
    c.reply.assign(8, 0);
    PutBe16(&c.reply[6], media ? media->profile : 0);
    for (const Feature& f : DriveFeatures(c.state, media)) {
        const bool wanted = requestType == 0   ? f.code >= start
                            : requestType == 1 ? f.code >= start && f.current
                                               : f.code == start;
        if (!wanted) continue;
        c.reply.push_back(static_cast<uint8_t>(f.code >> 8));
        c.reply.push_back(static_cast<uint8_t>(f.code));
        c.reply.push_back(
            static_cast<uint8_t>((f.version << 2) | (f.persistent ? 2 : 0) | (f.current ? 1 : 0)));
        c.reply.push_back(static_cast<uint8_t>(f.data.size()));
        c.reply.insert(c.reply.end(), f.data.begin(), f.data.end());
    }
    PutBe32(&c.reply[0], static_cast<uint32_t>(c.reply.size() - 4));
}

// --- GET PERFORMANCE, type 00h: read and write performance ----------------------------------

constexpr int kZoneCount = 4;

// Radius where partial CAV reaches its maximum: halfway out.
double PartialCavKneeMm(const MediaInfo& media) {
    return (InnerRadiusMm(media) + kOuterRadiusMm) / 2;
}

// The first LBA of layer 0 at or beyond a radius (the inverse of SectorRadiusMm), clamped to the
// disc's end.
uint32_t LbaAtRadius(const MediaInfo& media, double radiusMm) {
    const double inner = InnerRadiusMm(media);
    const double fraction = std::clamp(
        (radiusMm * radiusMm - inner * inner) / (kOuterRadiusMm * kOuterRadiusMm - inner * inner), 0.0, 1.0);
    const double layerSectors = media.dualLayer ? (static_cast<double>(media.endLba) + 1) / 2
                                                : (IsDvd(media.family) ? 2295104.0 : 359847.0);
    const double lba = std::ceil(fraction * layerSectors);
    const double lastOfLayer = media.dualLayer ? layerSectors - 1 : media.endLba;
    return static_cast<uint32_t>(std::min(lba, lastOfLayer + 1));
}

struct PerformanceDescriptor {
    uint32_t startLba;
    uint32_t startKBps;
    uint32_t endLba;
    uint32_t endKBps;
};

// The read curve as the drive states it: one descriptor per stretch the model treats alike.
std::vector<PerformanceDescriptor> ReadDescriptors(const DriveState& s, const MediaInfo& media) {
    const uint32_t layerEnd = media.dualLayer ? (media.endLba + 1) / 2 - 1 : media.endLba;
    std::vector<uint32_t> breaks{0};
    if (s.readModel == ReadSpeedModel::PartialCav) {
        breaks.push_back(LbaAtRadius(media, PartialCavKneeMm(media)));
    } else if (s.readModel == ReadSpeedModel::ZonedClv) {
        const double inner = InnerRadiusMm(media);
        for (int zone = 1; zone < kZoneCount; ++zone)
            breaks.push_back(LbaAtRadius(media, inner + (kOuterRadiusMm - inner) * zone / kZoneCount));
    }
    std::vector<std::pair<uint32_t, uint32_t>> stretches;  // layer 0, inner to outer
    for (size_t i = 0; i < breaks.size() && breaks[i] <= layerEnd; ++i) {
        const uint32_t last = i + 1 < breaks.size() ? std::min(breaks[i + 1] - 1, layerEnd) : layerEnd;
        if (last >= breaks[i]) stretches.emplace_back(breaks[i], last);
    }
    if (media.dualLayer) {
        // Layer 1 retraces layer 0 from the outside in.
        const uint32_t layerSectors = layerEnd + 1;
        for (size_t i = stretches.size(); i-- > 0;) {
            const auto [first, last] = stretches[i];
            stretches.emplace_back(2 * layerSectors - 1 - last, 2 * layerSectors - 1 - first);
        }
    }
    const double unit = KilobytesPerSecondAt1X(media);
    std::vector<PerformanceDescriptor> out;
    for (const auto& [first, last] : stretches) {
        out.push_back({first, static_cast<uint32_t>(std::lround(ReadSpeedXAt(s, media, first) * unit)), last,
                       static_cast<uint32_t>(std::lround(ReadSpeedXAt(s, media, last) * unit))});
    }
    return out;
}

void ReadWritePerformance(Command& c, const MediaInfo& media) {
    const bool write = c.cdb[1] & 0x04;
    const bool exceptions = (c.cdb[1] & 0x03) != 0;
    std::vector<PerformanceDescriptor> list;
    if (!exceptions && !write) list = ReadDescriptors(c.state, media);
    if (!exceptions && write && !media.writeSpeeds.empty()) {
        const uint32_t fastest = *std::max_element(media.writeSpeeds.begin(), media.writeSpeeds.end());
        list.push_back({0, fastest, media.endLba, fastest});
    }
    list.resize(std::min<size_t>(list.size(), GetBe16(&c.cdb[8])));
    c.reply.assign(8 + 16 * list.size(), 0);
    PutBe32(&c.reply[0], static_cast<uint32_t>(4 + 16 * list.size()));
    c.reply[4] = static_cast<uint8_t>((write ? 0x02 : 0) | (exceptions ? 0x01 : 0));
    for (size_t i = 0; i < list.size(); ++i) {
        uint8_t* d = &c.reply[8 + 16 * i];
        PutBe32(&d[0], list[i].startLba);
        PutBe32(&d[4], list[i].startKBps);
        PutBe32(&d[8], list[i].endLba);
        PutBe32(&d[12], list[i].endKBps);
    }
}

// --- GET PERFORMANCE, type 03h ---------------------------------------------------------------

void GetPerformance(Command& c) {
    if (c.cdb[10] == 0x00) return ReadWritePerformance(c, *LoadedMedia(c.state));
    if (c.cdb[10] != 0x03) return c.Fail(kInvalidFieldInCdb);
    const MediaInfo& media = *LoadedMedia(c.state);
    const size_t count = std::min<size_t>(media.writeSpeeds.size(), GetBe16(&c.cdb[8]));
    c.reply.assign(8 + 16 * count, 0);
    PutBe32(&c.reply[0], static_cast<uint32_t>(4 + 16 * count));
    for (size_t i = 0; i < count; ++i) {
        uint8_t* d = &c.reply[8 + 16 * i];
        PutBe32(&d[4], media.endLba);
        PutBe32(&d[8], media.readSpeed);
        PutBe32(&d[12], media.writeSpeeds[i]);
    }
}

// --- READ DVD STRUCTURE ----------------------------------------------------------------------

void PutText(std::vector<uint8_t>& out, size_t offset, const std::string& text, size_t width) {
    std::memcpy(&out[offset], text.data(), std::min(text.size(), width));
}

uint8_t LayerTypeBits(const MediaInfo& media) {
    if (media.family == MediaFamily::DvdRom) return 0x01;  // embossed
    return media.rewritable ? 0x04 : 0x02;
}

void PutDataZone(uint8_t* p, const MediaInfo& media) {
    PutBe32(&p[0], kDataZoneStartPsn);
    if (media.dualLayer) {
        const uint32_t layerSectors = (media.endLba + 1) / 2;
        PutBe32(&p[4], ~kDataZoneStartPsn & 0xFFFFFFu);
        PutBe32(&p[8], kDataZoneStartPsn + layerSectors - 1);
    } else {
        PutBe32(&p[4], kDataZoneStartPsn + media.endLba);
    }
}

void PhysicalFormat(Command& c, const MediaInfo& media) {
    if (c.cdb[6] > (media.dualLayer ? 1 : 0)) return c.Fail(kInvalidFieldInCdb);
    c.reply.assign(4 + 2048, 0);
    PutBe16(&c.reply[0], 2048 + 2);
    uint8_t* pfi = &c.reply[4];
    pfi[0] = c.state.disc->bookType;
    pfi[1] = 0x02;  // 120 mm, 10.08 Mbit/s
    pfi[2] =
        static_cast<uint8_t>((media.dualLayer ? 0x30 : 0x00) | LayerTypeBits(media));  // layers, track path
    pfi[3] = 0x10;
    PutDataZone(&pfi[4], media);
    if (media.family == MediaFamily::DvdRam) {
        // The disc manufacturer's name and media type, each ended by a carriage return.
        PutText(c.reply, 553, media.manufacturerId + '\r', 48);
        PutText(c.reply, 601, media.mediaTypeId + '\r', 16);
    }
}

void PrerecordedInformation(Command& c, const MediaInfo& media) {
    if (!HasPrerecordedInformation(media.family)) return c.Fail(kInvalidFieldInCdb);
    c.reply.assign(4 + 40, 0);
    PutBe16(&c.reply[0], 40 + 2);
    // Five fields of eight bytes: field id, six bytes of data, one reserved byte.
    for (uint8_t field = 1; field <= 5; ++field) c.reply[4 + 8 * (field - 1)] = field;
    c.reply[5] = 0x00;            // general-purpose application
    c.reply[6] = media.bookType;  // disc physical code
    const uint32_t lastRecordable = kDataZoneStartPsn + media.endLba;
    c.reply[7] = static_cast<uint8_t>(lastRecordable >> 16);
    c.reply[8] = static_cast<uint8_t>(lastRecordable >> 8);
    c.reply[9] = static_cast<uint8_t>(lastRecordable);
    PutText(c.reply, 21, media.manufacturerId, 6);  // field 3: manufacturer id, first part
    PutText(c.reply, 29, media.mediaTypeId, 6);     // field 4: its second part
}

void AdipInformation(Command& c, const MediaInfo& media) {
    if (!HasAdipInformation(media.family)) return c.Fail(kInvalidFieldInCdb);
    c.reply.assign(4 + 256, 0);
    PutBe16(&c.reply[0], 256 + 2);
    uint8_t* adip = &c.reply[4];
    adip[0] = media.bookType;  // disc category and version as pressed into the groove
    adip[1] = 0x0F;
    adip[2] = static_cast<uint8_t>((media.dualLayer ? 0x30 : 0x00) | LayerTypeBits(media));
    adip[3] = 0x10;
    PutDataZone(&adip[4], media);
    PutText(c.reply, 23, media.manufacturerId, 8);
    PutText(c.reply, 31, media.mediaTypeId, 3);
    adip[30] = 0x01;  // product revision
}

void ReadDvdStructure(Command& c) {
    c.allocation = GetBe16(&c.cdb[8]);
    const MediaInfo& media = *LoadedMedia(c.state);
    if (!IsDvd(media.family)) return c.Fail(kCannotReadIncompatibleFormat);
    switch (c.cdb[7]) {
        case 0x00:
            return PhysicalFormat(c, media);
        case 0x0E:
            return PrerecordedInformation(c, media);
        case 0x11:
            return AdipInformation(c, media);
        default:
            return c.Fail(kInvalidFieldInCdb);
    }
}

// --- READ DISC INFORMATION -------------------------------------------------------------------

void ReadDiscInformation(Command& c) {
    if (c.cdb[1] & 0x07) return c.Fail(kInvalidFieldInCdb);  // only standard disc information
    c.allocation = GetBe16(&c.cdb[7]);
    const MediaInfo& media = *LoadedMedia(c.state);
    c.reply.assign(34, 0);
    PutBe16(&c.reply[0], 32);
    // Empty, appendable (recorded on a blank disc without simulation) or complete.
    const bool empty = StillBlank(c.state, media);
    const uint8_t status = empty ? 0 : media.blank ? 1 : 2;
    const uint8_t lastSession = empty ? 0 : media.blank ? 1 : 3;  // empty / incomplete / complete
    c.reply[2] = static_cast<uint8_t>((media.rewritable ? 0x10 : 0) | (lastSession << 2) | status);
    c.reply[3] = 1;
    c.reply[4] = 1;
    c.reply[5] = 1;
    c.reply[6] = 1;
    c.reply[7] = 0x20;  // unrestricted use
    if (media.blank) {
        PutBe32(&c.reply[16], 0xFFFFFFFF);
        PutBe32(&c.reply[20], media.endLba + 1);
    }
}

// --- READ CAPACITY ---------------------------------------------------------------------------

void ReadCapacity(Command& c) {
    const MediaInfo& media = *LoadedMedia(c.state);
    c.reply.assign(8, 0);
    // A blank disc has no recorded sector: its last one is reported as 0.
    PutBe32(&c.reply[0], IsReadable(media) ? media.endLba : 0);
    PutBe32(&c.reply[4], kSectorBytes);
}

// --- READ(10), READ(12) ----------------------------------------------------------------------

const DamagedSpot* FirstDamage(const DriveState& s, uint32_t lba, uint32_t count) {
    const DamagedSpot* first = nullptr;
    const uint64_t end = static_cast<uint64_t>(lba) + count;
    for (const DamagedSpot& spot : s.damage) {
        const uint64_t spotEnd = static_cast<uint64_t>(spot.firstLba) + spot.count;
        if (spot.firstLba >= end || spotEnd <= lba) continue;
        if (!first || spot.firstLba < first->firstLba) first = &spot;
    }
    return first;
}

uint64_t TransferMicroseconds(const DriveState& s, const MediaInfo& media, uint32_t lba, uint32_t count) {
    if (count == 0) return 0;
    const double speedX = ReadSpeedXAt(s, media, lba + count / 2);
    const double bytes = static_cast<double>(count) * kSectorBytes;
    return static_cast<uint64_t>(std::llround(bytes / (speedX * BytesPerSecondAt1X(media)) * 1e6));
}

// The time the sectors take through the interface.
uint64_t InterfaceMicroseconds(const DriveState& s, uint32_t count) {
    const double bytes = static_cast<double>(count) * kSectorBytes;
    return static_cast<uint64_t>(std::llround(bytes / (s.interfaceKBps * 1000.0) * 1e6));
}

void ReadSectors(Command& c, uint32_t lba, uint32_t count) {
    const MediaInfo& media = *LoadedMedia(c.state);
    DriveState& s = c.state;
    // A blank disc holds no sector a drive could read.
    if (!IsReadable(media)) return c.Fail(kLbaOutOfRange);
    if (count == 0) return;
    if (lba > media.endLba || count - 1 > media.endLba - lba) return c.Fail(kLbaOutOfRange);

    const uint64_t end = uint64_t{lba} + count;
    if (lba >= c.cacheFirst && end <= c.cacheEnd) {
        // All of it is in the cache: the disc is not needed.
        c.mediumMicroseconds = InterfaceMicroseconds(s, count);
    } else {
        // A stopped disc spins up first.
        uint64_t spinUp = 0;
        if (s.discStopped) {
            spinUp = LatencyUs(s, LatencyClass::SpinUp);
            s.discStopped = false;
        }
        const uint64_t seek = SeekMicroseconds(media, c.headLba, lba);
        if (const DamagedSpot* damage = FirstDamage(s, lba, count)) {
            const uint32_t bad = std::max(damage->firstLba, lba);
            c.mediumMicroseconds = spinUp + seek + TransferMicroseconds(s, media, lba, bad - lba) +
                                   kDamagedReadRetryMs * 1000ull;
            c.headLba = bad + 1;
            c.cacheFirst = c.cacheEnd = 0;
            return c.Fail(kUnrecoveredReadError);
        }
        c.mediumMicroseconds =
            spinUp + seek +
            std::max(TransferMicroseconds(s, media, lba, count), InterfaceMicroseconds(s, count));
        c.headLba = lba + count;
        // The cache keeps what was read last, as much of it as the buffer holds; a read that goes
        // on from the one before adds to it.
        const uint64_t bufferSectors = std::max<uint64_t>(1, uint64_t{s.bufferKiB} * 1024 / kSectorBytes);
        const uint64_t first = (lba == c.cacheEnd && c.cacheEnd > c.cacheFirst) ? c.cacheFirst : lba;
        c.cacheEnd = static_cast<uint32_t>(std::min<uint64_t>(end, UINT32_MAX));
        c.cacheFirst =
            static_cast<uint32_t>(std::max<uint64_t>(first, end > bufferSectors ? end - bufferSectors : 0));
    }

    // Only what the initiator can take is made.
    const uint64_t wanted = static_cast<uint64_t>(count) * kSectorBytes;
    c.allocation = static_cast<uint32_t>(std::min<uint64_t>(wanted, UINT32_MAX));
    const uint64_t made = std::min<uint64_t>(
        wanted, (c.dataInLength + kSectorBytes - 1) / kSectorBytes * static_cast<uint64_t>(kSectorBytes));
    c.reply.resize(made);
    for (uint64_t at = 0; at < made; at += kSectorBytes)
        FillSector(media, lba + static_cast<uint32_t>(at / kSectorBytes), &c.reply[at]);
}

void Read10(Command& c) {
    ReadSectors(c, GetBe32(&c.cdb[2]), GetBe16(&c.cdb[7]));
}

void Read12(Command& c) {
    ReadSectors(c, GetBe32(&c.cdb[2]), GetBe32(&c.cdb[6]));
}

// --- READ TOC/PMA/ATIP -----------------------------------------------------------------------

void PutAddress(uint8_t* p, uint32_t lba, bool msf) {
    if (!msf) return PutBe32(p, lba);
    const uint32_t frames = lba + 150;  // MSF counts from the start of the lead-in's pause
    p[0] = 0;
    p[1] = static_cast<uint8_t>(frames / (60 * 75));
    p[2] = static_cast<uint8_t>(frames / 75 % 60);
    p[3] = static_cast<uint8_t>(frames % 75);
}

constexpr uint8_t kDataTrackControl = 0x14;  // ADR 1, data track recorded uninterrupted
constexpr uint8_t kLeadOutTrack = 0xAA;

void ReadToc(Command& c) {
    const bool msf = c.cdb[1] & 0x02;
    const uint8_t format = c.cdb[2] & 0x0F;
    const uint8_t track = c.cdb[6];
    c.allocation = GetBe16(&c.cdb[7]);
    const MediaInfo& media = *LoadedMedia(c.state);
    // A blank disc has no table of contents yet.
    if (!IsReadable(media)) return c.Fail(kInvalidFieldInCdb);
    // One session holding one data track.
    auto descriptor = [&](uint8_t number, uint32_t lba) {
        const size_t at = c.reply.size();
        c.reply.resize(at + 8, 0);
        c.reply[at + 1] = kDataTrackControl;
        c.reply[at + 2] = number;
        PutAddress(&c.reply[at + 4], lba, msf);
    };
    c.reply.assign(4, 0);
    c.reply[2] = 1;
    c.reply[3] = 1;
    if (format == 0x00) {
        if (track > 1 && track != kLeadOutTrack) return c.Fail(kInvalidFieldInCdb);
        if (track <= 1) descriptor(1, 0);
        descriptor(kLeadOutTrack, media.endLba + 1);
    } else if (format == 0x01) {
        descriptor(1, 0);
    } else {
        return c.Fail(kInvalidFieldInCdb);
    }
    PutBe16(&c.reply[0], static_cast<uint16_t>(c.reply.size() - 2));
}

// --- READ TRACK INFORMATION ------------------------------------------------------------------

void ReadTrackInformation(Command& c) {
    const uint8_t addressType = c.cdb[1] & 0x03;
    const uint32_t address = GetBe32(&c.cdb[2]);
    c.allocation = GetBe16(&c.cdb[7]);
    const MediaInfo& media = *LoadedMedia(c.state);
    const bool blank = !IsReadable(media);
    // Sectors recorded on a blank disc (written without simulation): the track is partly written.
    const uint32_t recorded = c.state.disc->recordedSectors;
    // The disc holds one track in one session; on a blank disc that is the invisible track.
    switch (addressType) {
        case 0:
            if (address > media.endLba) return c.Fail(kLbaOutOfRange);
            break;
        case 1:
            if (address != 1 && !(blank && address == 0xFF)) return c.Fail(kInvalidFieldInCdb);
            break;
        case 2:
            if (address != 1) return c.Fail(kInvalidFieldInCdb);
            break;
        default:
            return c.Fail(kInvalidFieldInCdb);
    }
    c.reply.assign(36, 0);
    PutBe16(&c.reply[0], 34);
    c.reply[2] = 1;                                                   // track number
    c.reply[3] = 1;                                                   // session number
    c.reply[5] = 0x04;                                                // data track, uninterrupted
    c.reply[6] = static_cast<uint8_t>((blank && recorded == 0 ? 0x40 : 0x00) | 0x01);  // blank, data mode 1
    c.reply[7] = blank ? (recorded ? 0x03 : 0x01) : 0x02;  // NWA valid, LRA valid
    PutBe32(&c.reply[8], 0);
    PutBe32(&c.reply[12], blank ? recorded : 0);
    PutBe32(&c.reply[16], blank ? media.endLba + 1 - recorded : 0);
    PutBe32(&c.reply[24], media.endLba + 1);
    PutBe32(&c.reply[28], blank ? (recorded ? recorded - 1 : 0) : media.endLba);
}

// --- SET CD SPEED, SET STREAMING -------------------------------------------------------------

// A new read speed starts the drive's reading afresh: what its cache held is let go.
void SetCdSpeed(Command& c) {
    c.cacheFirst = c.cacheEnd = 0;
    const uint16_t read = GetBe16(&c.cdb[2]);
    // FFFFh (and 0) ask for the drive's fastest.
    c.state.readSpeedLimitKBps = (read == 0xFFFF || read == 0) ? 0 : read;
    const uint16_t write = GetBe16(&c.cdb[4]);
    c.state.writeSpeedLimitKBps = (write == 0xFFFF || write == 0) ? 0 : write;
}

void SetStreaming(Command& c) {
    constexpr size_t kDescriptorLength = 28;
    if (c.cdb[8] != 0x00) return c.Fail(kInvalidFieldInCdb);  // only the performance descriptor
    const size_t listLength = GetBe16(&c.cdb[9]);
    if (listLength < kDescriptorLength || c.dataOut.size() < kDescriptorLength)
        return c.Fail(kParameterListLengthError);
    const uint8_t* d = c.dataOut.data();
    c.cacheFirst = c.cacheEnd = 0;
    if (d[0] & 0x04) {  // RDD: back to the drive's defaults
        c.state.readSpeedLimitKBps = 0;
        c.state.writeSpeedLimitKBps = 0;
        return;
    }
    const uint32_t readSize = GetBe32(&d[12]);  // kB
    const uint32_t readTime = GetBe32(&d[16]);  // ms
    if (readTime == 0) return c.Fail(kInvalidFieldInParameterList);
    const uint64_t kbps = static_cast<uint64_t>(readSize) * 1000 / readTime;
    c.state.readSpeedLimitKBps = kbps == 0 ? 1 : static_cast<uint32_t>(std::min<uint64_t>(kbps, UINT32_MAX));
    const uint32_t writeSize = GetBe32(&d[20]);  // kB
    const uint32_t writeTime = GetBe32(&d[24]);  // ms
    if (writeTime != 0) {
        const uint64_t writeKbps = static_cast<uint64_t>(writeSize) * 1000 / writeTime;
        c.state.writeSpeedLimitKBps =
            writeKbps == 0 ? 1 : static_cast<uint32_t>(std::min<uint64_t>(writeKbps, UINT32_MAX));
    }
}

constexpr std::array<Entry, 256> BuildTable() {
    std::array<Entry, 256> table{};
    table[0x00] = {TestUnitReady, 0};  // orders its conditions itself
    table[0x12] = {Inquiry, 0};
    table[0x1B] = {StartStopUnit, kReportsAttention};
    table[0x1E] = {PreventAllowMediumRemoval, kReportsAttention};
    table[0x25] = {ReadCapacity, kReportsAttention | kNeedsMedium};
    table[0x28] = {Read10, kReportsAttention | kNeedsMedium};
    table[0x2A] = {Write10, kReportsAttention | kNeedsMedium};
    table[0x35] = {SynchronizeCache, kReportsAttention | kNeedsMedium};
    table[0x43] = {ReadToc, kReportsAttention | kNeedsMedium};
    table[0x46] = {GetConfiguration, 0};
    table[0x51] = {ReadDiscInformation, kReportsAttention | kNeedsMedium};
    table[0x52] = {ReadTrackInformation, kReportsAttention | kNeedsMedium};
    table[0x55] = {ModeSelect10, kReportsAttention};
    table[0x5C] = {ReadBufferCapacity, kReportsAttention};
    table[0x5A] = {ModeSense10, kReportsAttention};
    table[0xA4] = {ReportKey, kReportsAttention};
    table[0xA8] = {Read12, kReportsAttention | kNeedsMedium};
    table[0xAC] = {GetPerformance, kReportsAttention | kNeedsMedium};
    table[0xAD] = {ReadDvdStructure, kReportsAttention | kNeedsMedium};
    table[0xB6] = {SetStreaming, kReportsAttention};
    table[0xBB] = {SetCdSpeed, kReportsAttention};
    // The maker's commands do not report unit attentions: their firmware answers them from its
    // own state whatever happened to the medium.
    table[0xFD] = {VendorFrame, 0};
    table[0xFE] = {SetBookType, 0};
    table[0xFF] = {ReadBookType, 0};
    return table;
}

constexpr std::array<Entry, 256> kCommandTable = BuildTable();

}  // namespace

LatencyClass LatencyClassOf(const std::array<uint8_t, 16>& cdb) {
    switch (cdb[0]) {
        case 0x1B:
            return (cdb[4] & 0x02) ? LatencyClass::Tray : LatencyClass::Command;
        case 0xFD:
            return (cdb[1] == 0xFB && cdb[6] == 0x05) ? LatencyClass::TeFe : LatencyClass::Vendor;
        case 0xFE:
        case 0xFF:
            return LatencyClass::Vendor;
        default:
            return LatencyClass::Command;
    }
}

namespace {

// The speed the model gives at an LBA when the drive reads at most `cap`.
double ModelSpeedX(const DriveState& state, const MediaInfo& media, double cap, uint32_t lba) {
    const double radius = SectorRadiusMm(media, lba);
    const double inner = InnerRadiusMm(media);
    switch (state.readModel) {
        case ReadSpeedModel::Cav:
            return cap * radius / kOuterRadiusMm;
        case ReadSpeedModel::PartialCav:
            return std::min(cap, cap * radius / PartialCavKneeMm(media));
        case ReadSpeedModel::ZonedClv: {
            const int zone =
                std::clamp(static_cast<int>((radius - inner) / (kOuterRadiusMm - inner) * kZoneCount), 0,
                           kZoneCount - 1);
            return cap * (kZoneCount - 1 + zone) / (2 * kZoneCount - 2);  // 1/2, 2/3, 5/6, 1 of the cap
        }
        case ReadSpeedModel::Clv:
            break;
    }
    return cap;
}

}  // namespace

double ReadSpeedXAt(const DriveState& state, const MediaInfo& media, uint32_t lba) {
    // The model at the drive's full speed, capped by the speed set: a drive told to read slower
    // does not spin slower where it already reads below that speed.
    const double cap = MaxReadSpeedX(media);
    return std::min(SpeedCapX(state, media), ModelSpeedX(state, media, cap, lba));
}

uint64_t SeekMicroseconds(const MediaInfo& media, uint32_t fromLba, uint32_t toLba) {
    if (fromLba == toLba) return 0;
    const double inner = InnerRadiusMm(media);
    const double stroke =
        std::abs(SectorRadiusMm(media, toLba) - SectorRadiusMm(media, fromLba)) / (kOuterRadiusMm - inner);
    // Settling and finding the sector, then a move that grows with the square root of the distance.
    constexpr double kSettleUs = 40000, kFullStrokeUs = 80000;
    return static_cast<uint64_t>(kSettleUs + kFullStrokeUs * std::sqrt(std::min(stroke, 1.0)));
}

const MediaInfo* LoadedMedia(const DriveState& state) {
    return state.disc ? FindMedia(state.disc->media) : nullptr;
}

std::optional<SenseCode> MediumProblem(const DriveState& state, int64_t nowMs) {
    if (state.trayOpen || !state.disc || !LoadedMedia(state)) return kNoMedium;
    if (state.becomingReadyCount > 0 || nowMs < state.readyAtMs) return kBecomingReady;
    return std::nullopt;
}

void RunCommand(Command& c) {
    const Entry& entry = kCommandTable[c.cdb[0]];
    if (!entry.handler) return c.Fail(kInvalidOpcode);
    DriveState& s = c.state;
    // A power-on attention is reported whatever the medium; a medium change only once the new
    // disc is ready, so that a drive still spinning up answers "becoming ready" first.
    if ((entry.flags & kReportsAttention) && s.pendingAttention == kAttentionPowerOn) {
        s.pendingAttention = kNoAttention;
        return c.Fail(kPowerOnReset);
    }
    const std::optional<SenseCode> mediumProblem = MediumProblem(s, c.nowMs);
    if ((entry.flags & kNeedsMedium) && mediumProblem) return c.Fail(*mediumProblem);
    if ((entry.flags & kReportsAttention) && s.pendingAttention == kAttentionMediumChanged &&
        !mediumProblem) {
        s.pendingAttention = kNoAttention;
        return c.Fail(kMediumMayHaveChanged);
    }
    entry.handler(c);
}

}  // namespace dravix::emu::detail
