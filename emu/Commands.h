#pragma once

// The command set of the virtual drive: one handler per operation code, each a function of the
// drive state that either fills the answer or names the sense of its CHECK CONDITION. Internal to
// the virtual drive.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/ByteOrder.h"
#include "emu/DriveState.h"
#include "emu/Media.h"
#include "emu/Sense.h"

namespace dravix::emu::detail {

struct Command {
    explicit Command(DriveState& driveState) : state(driveState) {}

    std::array<uint8_t, 16> cdb{};  // zero beyond what the caller sent
    DriveState& state;
    int64_t nowMs = 0;
    std::vector<uint8_t> reply;        // the whole data-in answer
    uint32_t allocation = UINT32_MAX;  // the CDB's allocation length, where it has one
    std::optional<SenseCode> failure;  // set: CHECK CONDITION, no data
    std::span<const uint8_t> dataOut;  // what the initiator sent (kDataOut)
    uint32_t dataInLength = 0;         // how much the initiator can take: no point making more
    // The drive's own pick-up and disc: where the head is (after the last read), and how long the
    // medium took for this command beyond the command's latency.
    uint32_t headLba = 0;
    uint64_t mediumMicroseconds = 0;
    // The sectors the drive's cache holds, [cacheFirst, cacheEnd): a read within them needs no
    // disc, only the interface.
    uint32_t cacheFirst = 0;
    uint32_t cacheEnd = 0;

    void Fail(SenseCode code) { failure = code; }
};

// Runs a command on the state. The caller has checked the CDB length.
void RunCommand(Command& command);

// Which latency a command takes.
LatencyClass LatencyClassOf(const std::array<uint8_t, 16>& cdb);

// The media of the disc in the drive whatever its readiness; null for an empty tray.
const MediaInfo* LoadedMedia(const DriveState& state);

// No medium (tray open or empty), becoming ready, or nothing: the disc can be used.
std::optional<SenseCode> MediumProblem(const DriveState& state, int64_t nowMs);

// The speed in X at which the drive reads an LBA of the disc now: the drive's model, capped by the
// disc's maximum and the speed set with SET CD SPEED or SET STREAMING.
double ReadSpeedXAt(const DriveState& state, const MediaInfo& media, uint32_t lba);
// Time for the pick-up to move between two LBAs and find its track.
uint64_t SeekMicroseconds(const MediaInfo& media, uint32_t fromLba, uint32_t toLba);

// Writing a blank recordable disc (CD-R/RW, DVD-R/RW, DVD+R, DVD+R DL).
// A disc that can take sequential writes: a blank or appendable one of those media.
bool TakesSequentialWrites(const DriveState& state, const MediaInfo& media);
// The disc was blank and nothing has been recorded on it.
bool StillBlank(const DriveState& state, const MediaInfo& media);
// Whether writes now go through without recording: the Write Parameters page's Test Write bit on
// CD-R/RW and DVD-R/RW, the maker's Test Write switch on DVD+R and DVD+R DL.
bool Simulating(const DriveState& state, const MediaInfo& media);
// The speed in X at which the drive writes an LBA with the speed set now.
double WriteSpeedXAt(const DriveState& state, const MediaInfo& media, uint32_t lba);
void Write10(Command& command);
void ReadBufferCapacity(Command& command);
void SynchronizeCache(Command& command);
void ModeSelect10(Command& command);
// The Write Parameters page (05h) as MODE SENSE gives it: current values, or (pageControl 1)
// the mask of what MODE SELECT can change.
std::vector<uint8_t> WriteParametersPage(const DriveState& state, uint8_t pageControl);
// Clears what a write run keeps (a new disc, a restart).
void ForgetWriting(DriveState& state);

// Handlers of the maker's commands (opcodes FDh, FEh, FFh).
void VendorFrame(Command& command);
void ReadBookType(Command& command);
void SetBookType(Command& command);

}  // namespace dravix::emu::detail
