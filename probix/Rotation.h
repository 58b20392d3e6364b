#pragma once

#include <cstdint>

#include "probix/DiscLayout.h"

namespace dravix {

// How fast a disc turns while the drive reads it: from the measured speed and the radius of the
// track that holds the sector. A drive reading at constant angular velocity shows one rotation
// speed over the disc; at constant linear velocity the rotation falls from the inside out.

// Radius in millimetres of the track holding `lba` on `layout`'s disc, from the disc type's
// nominal track pitch and 1X scanning velocity: sectors lie at one length of track each, so the
// area inside a sector grows with the sectors before it. On a disc of two layers with opposite
// track path, layer 1 runs back inward from the layer break's radius; with parallel track path it
// starts at the inside again.
double TrackRadiusMm(const DiscLayout& layout, uint32_t lba);

// Revolutions per minute at `lba` for a speed of `speedX` (in the disc type's X); 0 for a speed
// of 0 or less.
double RotationRpm(const DiscLayout& layout, uint32_t lba, double speedX);

}  // namespace dravix
