#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace dravix::emu {

enum class MediaFamily {
    CdRom,
    CdR,
    CdRw,
    DvdRom,
    DvdPlusR,
    DvdPlusRDl,
    DvdMinusR,
    DvdPlusRw,
    DvdMinusRw,
    DvdRam
};

// Speed codes of the TE/FE measurement: 13 = 2.4X … 19 = 16X.
inline constexpr uint8_t kFirstSpeedCode = 13;
inline constexpr uint8_t kLastSpeedCode = 19;
inline constexpr size_t kSpeedCodeCount = kLastSpeedCode - kFirstSpeedCode + 1;

// First physical sector of the data zone; LBA 0 sits there.
inline constexpr uint32_t kDataZoneStartPsn = 0x30000;

// A level (TE or FE) in per cent of its reference: (base + rise * r^2) * gain[speed] + noise * u,
// where r is the radial position within the layer (0 inner, 1 outer edge) and u a seeded value in
// [-1, 1]. The gain table carries the speed dependence per disc, which lets a catalogue entry say
// exactly from which speed on it stops being fit.
struct LevelModel {
    double base = 0;
    double rise = 0;
    std::array<double, kSpeedCodeCount> gain{};
    double noise = 0;
};

// A damaged stretch of the recording area: adds to the level of every sample inside it.
struct DefectSpot {
    uint32_t firstPsn = 0;
    uint32_t lastPsn = 0;
    double tePercent = 0;
    double fePercent = 0;
};

struct TeFeModel {
    uint16_t teReference = 0;
    uint16_t feReference = 0;
    LevelModel te;
    LevelModel fe;
    uint64_t seed = 0;
    std::vector<DefectSpot> defects;
};

// One kind of disc the virtual drive can hold.
struct MediaInfo {
    std::string name;         // catalogue name: "dvd+r", "cd-rom", …
    std::string description;  // one line for listings
    MediaFamily family = MediaFamily::CdRom;
    uint16_t profile = 0;  // MMC current profile
    bool blank = false;    // disc status empty (else complete)
    bool rewritable = false;
    bool dualLayer = false;
    uint8_t bookType = 0;  // first byte of the physical format information
    uint32_t endLba = 0;
    uint32_t readSpeed = 0;             // kB/s, for the write speed descriptors
    std::vector<uint32_t> writeSpeeds;  // kB/s, in the order GET PERFORMANCE lists them
    std::string manufacturerId;         // ADIP 8 / pre-recorded 6 / DVD-RAM up to 48 characters
    std::string mediaTypeId;            // ADIP 3 / pre-recorded 6 / DVD-RAM up to 16 characters
    std::optional<TeFeModel> tefe;      // discs with a recording area the drive can measure
};

std::span<const MediaInfo> MediaCatalogue();
const MediaInfo* FindMedia(std::string_view name);

bool IsDvd(MediaFamily family);
bool HasAdipInformation(MediaFamily family);         // DVD+R, DVD+R DL, DVD+RW
bool HasPrerecordedInformation(MediaFamily family);  // DVD-R, DVD-RW

// Radial position (0 inner edge … 1 outer edge) of a physical sector within its layer; none when
// the sector lies outside the disc's data area. Layer 1 of a dual-layer disc runs from the outer
// edge inwards (opposite track path), its sector numbers are the bitwise complement of layer 0's.
std::optional<double> RadialPosition(const MediaInfo& media, uint32_t psn);

struct TeFeLevels {
    uint16_t teRaw = 0;
    uint16_t feRaw = 0;
};

// The model's level in per cent at a sector (which must lie in the data area) and speed code.
double TePercent(const MediaInfo& media, uint32_t psn, uint8_t speedCode);
double FePercent(const MediaInfo& media, uint32_t psn, uint8_t speedCode);

// Raw levels the drive reports: the per-cent levels scaled by the disc's references.
TeFeLevels MeasureLevels(const MediaInfo& media, uint32_t psn, uint8_t speedCode);

// --- reading a recorded disc -----------------------------------------------------------------

inline constexpr uint32_t kSectorBytes = 2048;

// A disc whose sectors can be read: anything recorded (a blank disc holds no data).
bool IsReadable(const MediaInfo& media);

// User-data bytes per second of 1X: 1,385,000 on DVD, 153,600 (75 sectors of 2048) on CD.
double BytesPerSecondAt1X(const MediaInfo& media);
// The speed unit of the command interfaces (kB/s per X): 1385 on DVD, 176.4 (audio rate) on CD.
double KilobytesPerSecondAt1X(const MediaInfo& media);
// The fastest the drive reads this disc, in X (its read speed descriptor).
double MaxReadSpeedX(const MediaInfo& media);

// Radius in millimetres of the track that holds an LBA: the data area runs from 24 mm (DVD) or
// 25 mm (CD) to 58 mm for a full disc, a sector's radius growing with the square root of the area
// before it. Layer 1 of a dual-layer disc runs from the outer edge inwards.
double SectorRadiusMm(const MediaInfo& media, uint32_t lba);
double InnerRadiusMm(const MediaInfo& media);
inline constexpr double kOuterRadiusMm = 58.0;

// The 2048 bytes of user data of a sector: its LBA (big-endian) then bytes fixed by the disc and
// the LBA, so an image of the disc can be written without reading it. `out` holds 2048 bytes.
void FillSector(const MediaInfo& media, uint32_t lba, uint8_t* out);

}  // namespace dravix::emu
