#include "probix/Rotation.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace dravix {

namespace {

// The nominal values of the physical standards for 120 mm discs.
// DVD (ECMA-267 for the read-only disc, which the recordable formats follow): track pitch
// 0.74 um; 1X is a scanning velocity of 3.49 m/s on a single-layer disc and 3.84 m/s on a
// dual-layer one; the data zone (LBA 0, physical sector 30000h) starts at a radius of 24.0 mm.
constexpr double kDvdTrackPitchMm = 0.74e-3;
constexpr double kDvdSingleLayerMmPerSecondAt1X = 3490.0;
constexpr double kDvdDualLayerMmPerSecondAt1X = 3840.0;
constexpr double kDvdDataStartRadiusMm = 24.0;
// CD (ECMA-130): track pitch 1.6 um; 1X is a scanning velocity of 1.2 to 1.4 m/s, the lower
// end being what long discs use; the program area starts at a radius of 25 mm, and LBA 0 lies
// two seconds (150 sectors) into it.
constexpr double kCdTrackPitchMm = 1.6e-3;
constexpr double kCdMmPerSecondAt1X = 1200.0;
constexpr double kCdProgramStartRadiusMm = 25.0;
constexpr uint32_t kCdSectorsBeforeLba0 = 150;

bool TwoLayers(const DiscLayout& layout) {
    return layout.dvd && (layout.layers >= 2 || layout.layerBreakLba);
}

double MmPerSecondAt1X(const DiscLayout& layout) {
    if (!layout.dvd) return kCdMmPerSecondAt1X;
    return TwoLayers(layout) ? kDvdDualLayerMmPerSecondAt1X : kDvdSingleLayerMmPerSecondAt1X;
}

}  // namespace

double TrackRadiusMm(const DiscLayout& layout, uint32_t lba) {
    const double pitch = layout.dvd ? kDvdTrackPitchMm : kCdTrackPitchMm;
    const double startRadius = layout.dvd ? kDvdDataStartRadiusMm : kCdProgramStartRadiusMm;
    // The length of track one sector takes: the distance covered at 1X while it is read.
    const double sectorsPerSecondAt1X = layout.BytesPerSecondAt1X() / kSectorSize;
    const double sectorLengthMm = MmPerSecondAt1X(layout) / sectorsPerSecondAt1X;

    // The sectors between the start of the layer's recording and this one.
    double before = static_cast<double>(lba) + (layout.dvd ? 0 : kCdSectorsBeforeLba0);
    if (TwoLayers(layout)) {
        const double layerBreak = layout.layerBreakLba.value_or((uint64_t{layout.lastLba} + 1) / 2);
        if (lba >= layerBreak) {
            const double intoLayer1 = lba - layerBreak;
            before = layout.parallelTrackPath ? intoLayer1 : std::max(0.0, layerBreak - 1 - intoLayer1);
        }
    }
    return std::sqrt(startRadius * startRadius + before * sectorLengthMm * pitch / std::numbers::pi);
}

double RotationRpm(const DiscLayout& layout, uint32_t lba, double speedX) {
    if (speedX <= 0) return 0;
    const double circumferenceMm = 2 * std::numbers::pi * TrackRadiusMm(layout, lba);
    return speedX * MmPerSecondAt1X(layout) / circumferenceMm * 60.0;
}

}  // namespace dravix
