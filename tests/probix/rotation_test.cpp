// The disc's rotation from the speed and the position: known radii of the standard discs (a DVD's
// data from 24 mm, its 4.7 GB ending at 58 mm; a CD's program area from 25 mm, 74 minutes ending
// near 58 mm) give the revolutions per minute that a speed in X means there.

#include <gtest/gtest.h>

#include <cmath>

#include "probix/Rotation.h"

namespace dravix {
namespace {

DiscLayout Dvd() {
    DiscLayout layout;
    layout.dvd = true;
    layout.lastLba = 2295103;
    return layout;
}

DiscLayout DualLayer(bool parallel) {
    DiscLayout layout;
    layout.dvd = true;
    layout.layers = 2;
    layout.lastLba = 4173823;
    layout.layerBreakLba = 2086912;
    layout.parallelTrackPath = parallel;
    return layout;
}

DiscLayout Cd() {
    DiscLayout layout;
    layout.lastLba = 332999;
    return layout;
}

// Revolutions per minute of a track of `radiusMm` passing at `mmPerSecond`.
double Rpm(double mmPerSecond, double radiusMm) {
    return mmPerSecond / (2 * 3.14159265358979 * radiusMm) * 60;
}

TEST(Rotation, SpeedAndRadiusGiveTheRevolutionsPerMinute) {
    // 1X: 3.49 m/s on one DVD layer, 3.84 m/s on a dual-layer disc, 1.2 m/s on CD.
    constexpr double kDvd = 3490, kDvdDl = 3840, kCd = 1200;
    // The LBA halfway through a 4.7 GB layer's area lies at sqrt((24^2 + 58^2) / 2) mm.
    const double middleMm = std::sqrt((24.0 * 24.0 + 58.0 * 58.0) / 2);
    struct Case {
        const char* what;
        DiscLayout layout;
        uint32_t lba;
        double speedX;
        double expectedRpm;
    };
    const Case cases[] = {
        {"DVD 1X inside", Dvd(), 0, 1, Rpm(kDvd, 24)},
        {"DVD CLV 8X inside", Dvd(), 0, 8, Rpm(8 * kDvd, 24)},
        {"DVD CLV 8X outside: slower", Dvd(), 2295104, 8, Rpm(8 * kDvd, 58)},
        // CAV 16X at the edge: the speed grows with the radius, the rotation stays.
        {"DVD CAV inside", Dvd(), 0, 16 * 24 / 58.0, Rpm(16 * kDvd, 58)},
        {"DVD CAV middle", Dvd(), 1147552, 16 * middleMm / 58.0, Rpm(16 * kDvd, 58)},
        {"DVD CAV outside", Dvd(), 2295104, 16, Rpm(16 * kDvd, 58)},
        {"CD 1X inside", Cd(), 0, 1, Rpm(kCd, 25)},
        {"CD CLV 48X inside", Cd(), 0, 48, Rpm(48 * kCd, 25)},
        {"CD CLV 48X at 74 minutes", Cd(), 332999, 48, Rpm(48 * kCd, 57.8)},
        // Opposite track path: layer 1 starts outside, where layer 0 ended, and ends inside.
        {"DL layer 0 inside", DualLayer(false), 0, 4, Rpm(4 * kDvdDl, 24)},
        {"DL layer 0 at the break", DualLayer(false), 2086911, 4, Rpm(4 * kDvdDl, 58)},
        {"DL layer 1 at the break", DualLayer(false), 2086912, 4, Rpm(4 * kDvdDl, 58)},
        {"DL layer 1 halfway back", DualLayer(false), 2086912 + 1043456, 4, Rpm(4 * kDvdDl, middleMm)},
        {"DL layer 1 at its end", DualLayer(false), 4173823, 4, Rpm(4 * kDvdDl, 24)},
        // Parallel track path: layer 1 starts inside again.
        {"PTP layer 1 at the break", DualLayer(true), 2086912, 4, Rpm(4 * kDvdDl, 24)},
        {"no speed", Dvd(), 1000, 0, 0},
    };
    for (const Case& c : cases) {
        const double rpm = RotationRpm(c.layout, c.lba, c.speedX);
        EXPECT_NEAR(rpm, c.expectedRpm, c.expectedRpm * 0.005) << c.what;
    }
}

}  // namespace
}  // namespace dravix
