#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "drive/ReadCommands.h"
#include "drive/Scsi.h"

namespace dravix {

class DriveTable;

// Where a disc's data lies and how fast the drive reads it, from standard commands only, so that
// it works on any CD/DVD drive. Every command may be refused by a real drive: the layout then
// falls back (tracks from READ TOC, then READ CAPACITY; speeds unknown) and notes what it did.

// 1X in user-data bytes per second.
inline constexpr double kDvdBytesPerSecondAt1X = 1385000.0;
inline constexpr double kCdBytesPerSecondAt1X = 153600.0;
// 1X in the kB/s of the speed commands and descriptors (CD: the audio rate, 2352-byte frames).
inline constexpr double kDvdKBpsAt1X = 1385.0;
inline constexpr double kCdKBpsAt1X = 176.4;

struct LayoutTrack {
    uint16_t number = 0;
    uint16_t session = 1;
    uint32_t firstLba = 0;
    uint32_t lastLba = 0;
    bool data = true;  // false: an audio track, which the read test leaves out
};

// Where the tracks came from.
enum class TrackSource { TrackInformation, Toc, Capacity };
const char* TrackSourceName(TrackSource source);  // "READ TRACK INFORMATION", "READ TOC", "READ CAPACITY"

struct DiscLayout {
    uint16_t profile = 0;  // current profile; 0 when the drive did not tell
    bool dvd = false;      // DVD units of speed, else CD units
    uint32_t lastLba = 0;  // the last readable sector
    uint16_t sessions = 1;
    std::vector<LayoutTrack> tracks;
    TrackSource trackSource = TrackSource::Capacity;
    uint8_t layers = 1;
    std::optional<uint32_t> layerBreakLba;  // the first LBA of layer 1
    // Layer 1 runs outward like layer 0 (some pressed discs) instead of back inward from the
    // layer break (every recordable dual-layer disc): as the disc's physical format says.
    bool parallelTrackPath = false;
    std::vector<PerformanceDescriptor> readPerformance;
    std::optional<CapabilitySpeeds> capabilitySpeeds;
    double maxReadSpeedX = 0;  // 0: the drive did not say
    // What the drive refused and how the layout made do ("GET PERFORMANCE refused: ...").
    std::vector<std::string> notes;

    double BytesPerSecondAt1X() const { return dvd ? kDvdBytesPerSecondAt1X : kCdBytesPerSecondAt1X; }
    double KBpsAt1X() const { return dvd ? kDvdKBpsAt1X : kCdKBpsAt1X; }
    // The sectors of the data tracks.
    uint64_t DataSectors() const;
};

enum class LayoutOutcome {
    Ready,        // a disc with data tracks
    NoDisc,       // the drive reports no medium
    Blank,        // the disc holds nothing recorded
    NoDataTrack,  // recorded, but no track holds data (an audio CD)
    Unreadable,   // the drive told neither capacity nor table of contents, or a kind it cannot read
    DriveFailed,  // the drive did not become ready, or stopped answering
    DiscChanged,  // a unit attention for a medium change came while the layout was read
};

struct LayoutReading {
    LayoutOutcome outcome = LayoutOutcome::DriveFailed;
    DiscLayout layout;
    uint8_t status = kCommandCompleted;  // of the command that decided a failed outcome
    Sense sense;
    int osError = 0;
};

// Waits for the drive, then reads profile, disc information, capacity, tracks, layers and read
// speeds. The caller has the drive to itself.
LayoutReading ReadDiscLayout(DriveTable& table);

// The speed to read at: 0 is "Max", left to the drive.
struct ReadSpeed {
    double x = 0;
    bool IsMax() const { return x <= 0; }
};

// How the read speed was set: the command the drive accepted, or none ("Max").
enum class SpeedMethod { Max, SetStreaming, SetCdSpeed };
const char* SpeedMethodName(SpeedMethod method);  // "Max", "SET STREAMING", "SET CD SPEED"

struct SpeedSetting {
    ReadSpeed requested;
    SpeedMethod method = SpeedMethod::Max;
    uint32_t kbps = 0;  // what was sent (0 with Max)
    // "16X by SET STREAMING (22160 kB/s)", "Max", "Max (the drive refused SET STREAMING and SET CD SPEED)",
    // "8X by SET STREAMING (11080 kB/s; its answer was lost, the drive reports 8X)".
    std::string text;
    // The answer to a speed command was lost (timed out, or failed at the adapter): the drive may
    // have carried it out, so its speed was read back. `reportedX` is what it reported (0: the
    // speed could not be read back).
    bool answerLost = false;
    double reportedX = 0;
    // A speed command (or the read-back) reported a medium change, or no disc: the run ends as
    // after a disc change, with that command's status and sense.
    bool discChanged = false;
    uint8_t status = kCommandCompleted;
    Sense sense;
};

// Sets the read speed with SET STREAMING or SET CD SPEED, whichever the drive takes (SET STREAMING
// first on DVD, SET CD SPEED first on CD). "Max" asks the drive for its own speeds again; a drive
// that refuses both commands is left as it is, which counts as "Max". A command whose answer is
// lost is not taken for a refusal: the speed the drive reports then decides (a drive that reads at
// the speed asked took it; otherwise the other command is tried).
SpeedSetting ApplyReadSpeed(DriveTable& table, const DiscLayout& layout, ReadSpeed speed);

// A unit attention that says the medium changed, or a drive without disc.
bool MediumChanged(const Sense& sense);
// A drive that is no longer there: the platform call failed without sense, or the target reports
// that the logical unit is not supported.
bool DriveGone(uint8_t status, const Sense& sense, int osError);

}  // namespace dravix
