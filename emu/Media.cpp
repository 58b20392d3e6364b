#include "emu/Media.h"

#include <algorithm>
#include <cmath>

namespace dravix::emu {

namespace {

constexpr uint32_t kSingleLayerEndLba = 2295103;  // 4.7 GB
constexpr uint32_t kDualLayerEndLba = 4173823;    // 8.5 GB, two layers of 2086912 sectors
constexpr uint32_t kCdEndLba = 359846;            // 80 minutes
constexpr uint32_t kRecordedDvdEndLba = 1998847;  // 4.09 GB
constexpr uint32_t kRecordedCdEndLba = 332999;    // 74 minutes

// Write speeds in kB/s: 2.4X 4X 6X 8X 10X 12X 16X of DVD, and CD speeds.
constexpr uint32_t k2_4X = 3324, k4X = 5540, k6X = 8310, k8X = 11080, k10X = 13850, k12X = 16620,
                   k16X = 22160;
constexpr uint32_t kOdd2X = 2770;  // a DVD-R 2X descriptor the scan's speed table does not know
constexpr uint32_t kCd16X = 2822, kCd24X = 4234, kCd40X = 7056, kCd48X = 8467;

//                                2.4X  4X    6X    8X    10X   12X   16X
constexpr std::array<double, 7> kGoodGain{1.00, 1.03, 1.08, 1.14, 1.22, 1.34, 1.80};
constexpr std::array<double, 7> kMarginalGain{1.00, 1.02, 1.05, 1.10, 1.20, 1.62, 2.00};
constexpr std::array<double, 7> kBadGain{1.00, 1.05, 1.10, 1.18, 1.30, 1.45, 1.80};
constexpr std::array<double, 7> kDualLayerGain{1.00, 1.05, 1.12, 1.60, 1.80, 2.00, 2.40};
constexpr std::array<double, 7> kDashRGain{1.00, 1.03, 1.08, 1.15, 1.25, 1.40, 1.85};
constexpr std::array<double, 7> kRewritableGain{1.00, 1.03, 1.07, 1.12, 1.20, 1.30, 1.60};

uint32_t PsnOfLba(uint32_t lba) {
    return kDataZoneStartPsn + lba;
}

TeFeModel Model(uint16_t teRef, uint16_t feRef, LevelModel te, LevelModel fe, uint64_t seed,
                std::vector<DefectSpot> defects = {}) {
    return TeFeModel{teRef, feRef, te, fe, seed, std::move(defects)};
}

std::vector<MediaInfo> BuildCatalogue() {
    std::vector<MediaInfo> list;
    auto add = [&list](MediaInfo info) { list.push_back(std::move(info)); };
    const std::vector<uint32_t> allDvdSpeeds{k2_4X, k4X, k6X, k8X, k10X, k12X, k16X};

    // Fit up to 12X everywhere; at 16X the outer zone (from about 79 % of the radius) fails.
    add({.name = "dvd+r",
         .description = "blank DVD+R, good: fit up to 12X, not at 16X",
         .family = MediaFamily::DvdPlusR,
         .profile = 0x1B,
         .blank = true,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0xA1,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k16X,
         .writeSpeeds = allDvdSpeeds,
         .manufacturerId = "ORIONDSC",
         .mediaTypeId = "R16",
         .tefe = Model(1840, 1260, {10, 8, kGoodGain, 0.6}, {6, 5, kGoodGain, 0.5}, 0x5EED0001)});
    // Fit up to 10X; from 12X the outer zone fails.
    add({.name = "dvd+r-marginal",
         .description = "blank DVD+R, marginal: fit up to 10X, not from 12X",
         .family = MediaFamily::DvdPlusR,
         .profile = 0x1B,
         .blank = true,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0xA1,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k16X,
         .writeSpeeds = allDvdSpeeds,
         .manufacturerId = "BUDGETMD",
         .mediaTypeId = "R08",
         .tefe = Model(1710, 1190, {13, 7, kMarginalGain, 0.6}, {8, 5, kMarginalGain, 0.5}, 0x5EED0002,
                       {{PsnOfLba(1100000), PsnOfLba(1120000), 3.0, 1.5}})});
    // High levels toward the outer edge and two defect spots: not fit at any speed.
    add({.name = "dvd+r-bad",
         .description = "blank DVD+R, bad: not fit at any speed",
         .family = MediaFamily::DvdPlusR,
         .profile = 0x1B,
         .blank = true,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0xA1,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k8X,
         .writeSpeeds = {k2_4X, k4X, k6X, k8X},
         .manufacturerId = "CHEAPDSK",
         .mediaTypeId = "R04",
         .tefe = Model(1550, 1020, {21, 11, kBadGain, 0.8}, {11, 9, kBadGain, 0.6}, 0x5EED0003,
                       {{PsnOfLba(560000), PsnOfLba(640000), 12.0, 7.0},
                        {PsnOfLba(1300000), PsnOfLba(1340000), 9.0, 6.0}})});
    // Fit up to 6X; at 8X the outer zone of each layer fails.
    add({.name = "dvd+r-dl",
         .description = "blank DVD+R DL: fit up to 6X, not at 8X",
         .family = MediaFamily::DvdPlusRDl,
         .profile = 0x2B,
         .blank = true,
         .rewritable = false,
         .dualLayer = true,
         .bookType = 0xE1,
         .endLba = kDualLayerEndLba,
         .readSpeed = k16X,
         .writeSpeeds = {k2_4X, k4X, k6X, k8X},
         .manufacturerId = "ORIONDSC",
         .mediaTypeId = "D08",
         .tefe = Model(1620, 1180, {11, 8, kDualLayerGain, 0.6}, {7, 5, kDualLayerGain, 0.5}, 0x5EED0004)});
    // The 2X descriptor comes first, so a speed list must skip it and keep its entries in line.
    add({.name = "dvd-r",
         .description = "blank DVD-R: fit up to 8X, not at 16X; lists an odd 2X speed",
         .family = MediaFamily::DvdMinusR,
         .profile = 0x11,
         .blank = true,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0x25,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k16X,
         .writeSpeeds = {kOdd2X, k4X, k8X, k16X},
         .manufacturerId = "PRISMA",
         .mediaTypeId = "DR16G1",
         .tefe = Model(1780, 1230, {10, 8, kDashRGain, 0.6}, {6, 5, kDashRGain, 0.5}, 0x5EED0005)});
    add({.name = "dvd+rw-blank",
         .description = "blank DVD+RW",
         .family = MediaFamily::DvdPlusRw,
         .profile = 0x1A,
         .blank = true,
         .rewritable = true,
         .dualLayer = false,
         .bookType = 0x92,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k16X,
         .writeSpeeds = {k2_4X, k4X, k8X},
         .manufacturerId = "ORIONDSC",
         .mediaTypeId = "W08",
         .tefe = Model(1700, 1200, {9, 7, kRewritableGain, 0.5}, {6, 4, kRewritableGain, 0.4}, 0x5EED0006)});
    add({.name = "dvd+rw-recorded",
         .description = "recorded DVD+RW (book type can be changed)",
         .family = MediaFamily::DvdPlusRw,
         .profile = 0x1A,
         .blank = false,
         .rewritable = true,
         .dualLayer = false,
         .bookType = 0x92,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k16X,
         .writeSpeeds = {k2_4X, k4X, k8X},
         .manufacturerId = "ORIONDSC",
         .mediaTypeId = "W08",
         .tefe = Model(1700, 1200, {9, 7, kRewritableGain, 0.5}, {6, 4, kRewritableGain, 0.4}, 0x5EED0007)});
    add({.name = "dvd-rw",
         .description = "blank DVD-RW",
         .family = MediaFamily::DvdMinusRw,
         .profile = 0x14,
         .blank = true,
         .rewritable = true,
         .dualLayer = false,
         .bookType = 0x32,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k16X,
         .writeSpeeds = {k4X, k6X},
         .manufacturerId = "PRISMA",
         .mediaTypeId = "RW6X01",
         .tefe = Model(1690, 1190, {9, 7, kRewritableGain, 0.5}, {6, 4, kRewritableGain, 0.4}, 0x5EED0008)});
    add({.name = "dvd-ram",
         .description = "DVD-RAM",
         .family = MediaFamily::DvdRam,
         .profile = 0x12,
         .blank = false,
         .rewritable = true,
         .dualLayer = false,
         .bookType = 0x16,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k8X,
         .writeSpeeds = {k2_4X, k4X},
         .manufacturerId = "ORION DISC CORP",
         .mediaTypeId = "RAM-5X",
         .tefe = Model(1720, 1210, {9, 7, kRewritableGain, 0.5}, {6, 4, kRewritableGain, 0.4}, 0x5EED0009)});
    add({.name = "dvd-rom",
         .description = "pressed DVD-ROM",
         .family = MediaFamily::DvdRom,
         .profile = 0x10,
         .blank = false,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0x01,
         .endLba = kSingleLayerEndLba,
         .readSpeed = k16X,
         .writeSpeeds = {},
         .manufacturerId = "",
         .mediaTypeId = "",
         .tefe = std::nullopt});
    add({.name = "cd-rom",
         .description = "pressed CD-ROM",
         .family = MediaFamily::CdRom,
         .profile = 0x08,
         .blank = false,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0,
         .endLba = kCdEndLba,
         .readSpeed = kCd48X,
         .writeSpeeds = {},
         .manufacturerId = "",
         .mediaTypeId = "",
         .tefe = std::nullopt});
    add({.name = "cd-r",
         .description = "blank CD-R",
         .family = MediaFamily::CdR,
         .profile = 0x09,
         .blank = true,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0,
         .endLba = kCdEndLba,
         .readSpeed = kCd48X,
         .writeSpeeds = {kCd16X, kCd24X, kCd40X, kCd48X},
         .manufacturerId = "",
         .mediaTypeId = "",
         .tefe = std::nullopt});
    // Recorded write-once discs, for the read test. A finalised DVD+R holds what was burned, not a
    // full disc: its capacity ends where the recording ended.
    add({.name = "dvd+r-recorded",
         .description = "recorded DVD+R (4.1 GB of data, closed)",
         .family = MediaFamily::DvdPlusR,
         .profile = 0x1B,
         .blank = false,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0xA1,
         .endLba = kRecordedDvdEndLba,
         .readSpeed = k16X,
         .writeSpeeds = allDvdSpeeds,
         .manufacturerId = "ORIONDSC",
         .mediaTypeId = "R16",
         .tefe = std::nullopt});
    add({.name = "dvd+r-dl-recorded",
         .description = "recorded DVD+R DL (both layers full, closed)",
         .family = MediaFamily::DvdPlusRDl,
         .profile = 0x2B,
         .blank = false,
         .rewritable = false,
         .dualLayer = true,
         .bookType = 0xE1,
         .endLba = kDualLayerEndLba,
         .readSpeed = k12X,
         .writeSpeeds = {k2_4X, k4X, k6X, k8X},
         .manufacturerId = "ORIONDSC",
         .mediaTypeId = "D08",
         .tefe = std::nullopt});
    add({.name = "cd-r-recorded",
         .description = "recorded CD-R (74 minutes of data, closed)",
         .family = MediaFamily::CdR,
         .profile = 0x09,
         .blank = false,
         .rewritable = false,
         .dualLayer = false,
         .bookType = 0,
         .endLba = kRecordedCdEndLba,
         .readSpeed = kCd48X,
         .writeSpeeds = {kCd16X, kCd24X, kCd40X, kCd48X},
         .manufacturerId = "",
         .mediaTypeId = "",
         .tefe = std::nullopt});
    add({.name = "cd-rw",
         .description = "blank CD-RW",
         .family = MediaFamily::CdRw,
         .profile = 0x0A,
         .blank = true,
         .rewritable = true,
         .dualLayer = false,
         .bookType = 0,
         .endLba = kCdEndLba,
         .readSpeed = kCd40X,
         .writeSpeeds = {kCd16X, kCd24X},
         .manufacturerId = "",
         .mediaTypeId = "",
         .tefe = std::nullopt});
    return list;
}

// splitmix64: a cheap, well-mixed hash so that the noise is the same on every run and machine.
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// A value in [-1, 1] fixed by disc, sector, speed and channel.
double Noise(uint64_t seed, uint32_t psn, uint8_t speedCode, int channel) {
    const uint64_t h =
        Mix(seed ^ Mix((static_cast<uint64_t>(psn) << 16) ^ (static_cast<uint64_t>(speedCode) << 4) ^
                       static_cast<uint64_t>(channel)));
    const double unit = static_cast<double>(h >> 11) / static_cast<double>(1ull << 53);  // [0, 1)
    return unit * 2.0 - 1.0;
}

double Level(const LevelModel& model, double radius, uint8_t speedCode, double noise) {
    const size_t index = std::clamp<int>(speedCode - kFirstSpeedCode, 0, kSpeedCodeCount - 1);
    return (model.base + model.rise * radius * radius) * model.gain[index] + model.noise * noise;
}

double Percent(const MediaInfo& media, uint32_t psn, uint8_t speedCode, bool te) {
    if (!media.tefe) return 0;
    const TeFeModel& model = *media.tefe;
    const double radius = RadialPosition(media, psn).value_or(1.0);
    double level =
        Level(te ? model.te : model.fe, radius, speedCode, Noise(model.seed, psn, speedCode, te ? 1 : 2));
    for (const DefectSpot& spot : model.defects) {
        if (psn >= spot.firstPsn && psn <= spot.lastPsn) level += te ? spot.tePercent : spot.fePercent;
    }
    return std::max(level, 0.0);
}

uint16_t Raw(double percent, uint16_t reference) {
    const double raw = std::round(percent * reference / 100.0);
    return static_cast<uint16_t>(std::clamp(raw, 0.0, 65535.0));
}

}  // namespace

std::span<const MediaInfo> MediaCatalogue() {
    static const std::vector<MediaInfo> catalogue = BuildCatalogue();
    return catalogue;
}

const MediaInfo* FindMedia(std::string_view name) {
    for (const MediaInfo& media : MediaCatalogue()) {
        if (media.name == name) return &media;
    }
    return nullptr;
}

bool IsDvd(MediaFamily family) {
    return family != MediaFamily::CdRom && family != MediaFamily::CdR && family != MediaFamily::CdRw;
}

bool HasAdipInformation(MediaFamily family) {
    return family == MediaFamily::DvdPlusR || family == MediaFamily::DvdPlusRDl ||
           family == MediaFamily::DvdPlusRw;
}

bool HasPrerecordedInformation(MediaFamily family) {
    return family == MediaFamily::DvdMinusR || family == MediaFamily::DvdMinusRw;
}

std::optional<double> RadialPosition(const MediaInfo& media, uint32_t psn) {
    const uint64_t sectors = static_cast<uint64_t>(media.endLba) + 1;
    if (!media.dualLayer) {
        if (psn < kDataZoneStartPsn || psn - kDataZoneStartPsn >= sectors) return std::nullopt;
        return static_cast<double>(psn - kDataZoneStartPsn) / static_cast<double>(sectors);
    }
    const uint32_t layerSectors = static_cast<uint32_t>(sectors / 2);
    if (psn >= kDataZoneStartPsn && psn - kDataZoneStartPsn < layerSectors) {
        return static_cast<double>(psn - kDataZoneStartPsn) / layerSectors;
    }
    const uint32_t mirrored = ~psn & 0xFFFFFFu;  // layer 1 sector → the layer 0 sector at its radius
    if (psn <= 0xFFFFFFu && psn > 0x800000u && mirrored >= kDataZoneStartPsn &&
        mirrored - kDataZoneStartPsn < layerSectors) {
        return static_cast<double>(mirrored - kDataZoneStartPsn) / layerSectors;
    }
    return std::nullopt;
}

double TePercent(const MediaInfo& media, uint32_t psn, uint8_t speedCode) {
    return Percent(media, psn, speedCode, true);
}

double FePercent(const MediaInfo& media, uint32_t psn, uint8_t speedCode) {
    return Percent(media, psn, speedCode, false);
}

TeFeLevels MeasureLevels(const MediaInfo& media, uint32_t psn, uint8_t speedCode) {
    if (!media.tefe) return {};
    return TeFeLevels{Raw(TePercent(media, psn, speedCode), media.tefe->teReference),
                      Raw(FePercent(media, psn, speedCode), media.tefe->feReference)};
}

bool IsReadable(const MediaInfo& media) {
    return !media.blank;
}

double BytesPerSecondAt1X(const MediaInfo& media) {
    return IsDvd(media.family) ? 1385000.0 : 153600.0;
}

double KilobytesPerSecondAt1X(const MediaInfo& media) {
    return IsDvd(media.family) ? 1385.0 : 176.4;
}

double MaxReadSpeedX(const MediaInfo& media) {
    return media.readSpeed / KilobytesPerSecondAt1X(media);
}

double InnerRadiusMm(const MediaInfo& media) {
    return IsDvd(media.family) ? 24.0 : 25.0;
}

double SectorRadiusMm(const MediaInfo& media, uint32_t lba) {
    // Fraction of a full layer's area that lies inside the sector.
    double fraction = 0;
    if (media.dualLayer) {
        const double layerSectors = (static_cast<double>(media.endLba) + 1) / 2;
        fraction = lba < layerSectors ? lba / layerSectors : 1.0 - (lba - layerSectors) / layerSectors;
    } else {
        const double fullSectors =
            static_cast<double>(IsDvd(media.family) ? kSingleLayerEndLba : kCdEndLba) + 1;
        fraction = lba / fullSectors;
    }
    fraction = std::clamp(fraction, 0.0, 1.0);
    const double inner = InnerRadiusMm(media);
    return std::sqrt(inner * inner + fraction * (kOuterRadiusMm * kOuterRadiusMm - inner * inner));
}

void FillSector(const MediaInfo& media, uint32_t lba, uint8_t* out) {
    // The disc's seed from its name (FNV-1a), so that two kinds of disc differ.
    uint64_t seed = 0xCBF29CE484222325ull;
    for (const char c : media.name) seed = (seed ^ static_cast<uint8_t>(c)) * 0x100000001B3ull;
    const uint64_t sectorSeed = Mix(seed ^ (static_cast<uint64_t>(lba) << 20));
    // One splitmix step per eight bytes: cheap enough that generating data never dominates a read.
    for (size_t at = 0; at < kSectorBytes; at += 8) {
        const uint64_t word = Mix(sectorSeed + at);
        for (size_t i = 0; i < 8; ++i) out[at + i] = static_cast<uint8_t>(word >> (8 * i));
    }
    out[0] = static_cast<uint8_t>(lba >> 24);
    out[1] = static_cast<uint8_t>(lba >> 16);
    out[2] = static_cast<uint8_t>(lba >> 8);
    out[3] = static_cast<uint8_t>(lba);
}

}  // namespace dravix::emu
