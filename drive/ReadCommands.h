#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "drive/Timeouts.h"

namespace dravix {

class DriveTable;

// The standard MMC commands a read test sends: where the data lies (capacity, table of contents,
// tracks, disc status, layers), how fast the drive reads (performance descriptors, the
// capabilities page), setting the read speed, and reading sectors. Each command builds its CDB,
// checks that the answer brought what it claims, decodes only what arrived, and returns the
// SendCommand status. Every one works on any MMC drive: no vendor command is involved.
//
// The rule for answers with a length field: an answer that brings fewer bytes than the smaller of
// its own length and the length requested failed (status 1, LastFailure().shortAnswer), it is never
// read as a shorter list; an answer claiming more than was requested is decoded up to what was
// requested.

inline constexpr uint32_t kSectorSize = 2048;

// --- READ CAPACITY ---------------------------------------------------------------------------

struct Capacity {
    uint32_t lastLba = 0;
    uint32_t blockLength = 0;
};
std::optional<Capacity> DecodeCapacity(std::span<const uint8_t> answer);
uint8_t ReadCapacity(DriveTable& table, Capacity& capacity);

// --- READ(10), READ(12) ----------------------------------------------------------------------

enum class ReadCommand : uint8_t { Read10 = 0x28, Read12 = 0xA8 };

// READ(10) carries at most 65535 sectors, READ(12) any 32-bit count.
void BuildReadCdb(uint8_t (&cdb)[12], ReadCommand command, uint32_t lba, uint32_t count);
// Reads `count` sectors of 2048 bytes from `lba` into `data` (which holds at least that many). A
// read that brings less than all of them failed. The buffer is not cleared first.
uint8_t ReadSectors(DriveTable& table, ReadCommand command, uint32_t lba, uint32_t count,
                    std::span<uint8_t> data, uint32_t timeoutSeconds = kReadSectorsTimeoutSeconds);

// A read the drive answered with RECOVERED ERROR (sense key 1): it read the sectors after retries
// of its own, and all `count` of them arrived with the sense. Such a read is good.
bool ReadWasRecovered(const DriveTable& table, uint32_t count);

// --- START STOP UNIT -------------------------------------------------------------------------

// What START STOP UNIT is asked to do (its Start and LoEj bits), with Immed clear: the command
// completes when the disc has stopped or is up to speed, or the tray has moved.
enum class StartStop : uint8_t { StopDisc = 0x00, StartDisc = 0x01, OpenTray = 0x02, CloseTray = 0x03 };
void BuildStartStopCdb(uint8_t (&cdb)[12], StartStop what);
uint8_t StartStopUnit(DriveTable& table, StartStop what, uint32_t timeoutSeconds = kStartStopTimeoutSeconds);

// --- READ TOC/PMA/ATIP format 0 (tracks) and 1 (sessions) --------------------------------------

inline constexpr uint8_t kLeadOutTrackNumber = 0xAA;

struct TocTrack {
    uint8_t number = 0;
    uint8_t control = 0;  // bit 2: a data track (clear: audio)
    uint32_t startLba = 0;
    bool IsData() const { return (control & 0x04) != 0; }
};

struct Toc {
    uint8_t firstTrack = 0;
    uint8_t lastTrack = 0;
    std::vector<TocTrack> tracks;     // in the order given, the lead-out left out
    std::optional<uint32_t> leadOut;  // the first LBA after the last track
};
// Addresses in LBA form. Null when the header has not arrived.
std::optional<Toc> DecodeToc(std::span<const uint8_t> answer);
uint8_t ReadToc(DriveTable& table, Toc& toc);

struct SessionInfo {
    uint8_t firstSession = 0;
    uint8_t lastSession = 0;
    uint8_t firstTrackOfLastSession = 0;
    uint32_t lastSessionStartLba = 0;
};
std::optional<SessionInfo> DecodeSessionInfo(std::span<const uint8_t> answer);
uint8_t ReadSessionInfo(DriveTable& table, SessionInfo& sessions);

// --- READ TRACK INFORMATION ------------------------------------------------------------------

struct TrackInformation {
    uint16_t track = 0;
    uint16_t session = 0;
    uint8_t trackMode = 0;  // bit 2: data
    uint8_t dataMode = 0;
    bool blank = false;
    uint32_t startLba = 0;
    uint32_t freeBlocks = 0;
    uint32_t size = 0;
    std::optional<uint32_t> lastRecordedLba;  // when the drive marks it valid and sent it
    std::optional<uint32_t> nextWritableLba;  // the same: where the next write must start
    bool IsData() const { return (trackMode & 0x04) != 0; }
};
std::optional<TrackInformation> DecodeTrackInformation(std::span<const uint8_t> answer);
// The track with this number.
uint8_t ReadTrackInformation(DriveTable& table, uint16_t track, TrackInformation& information);

// --- READ DISC INFORMATION -------------------------------------------------------------------

enum class DiscStatus : uint8_t { Empty = 0, Incomplete = 1, Complete = 2, Other = 3 };

struct DiscRecording {
    DiscStatus status = DiscStatus::Other;
    bool erasable = false;
    uint16_t firstTrack = 0;
    uint16_t sessions = 0;
    uint16_t firstTrackOfLastSession = 0;
    uint16_t lastTrackOfLastSession = 0;
};
std::optional<DiscRecording> DecodeDiscRecording(std::span<const uint8_t> answer);
uint8_t ReadDiscRecording(DriveTable& table, DiscRecording& recording);

// --- READ DVD STRUCTURE format 00h: layers ---------------------------------------------------

struct LayerInfo {
    uint8_t layers = 1;
    bool oppositeTrackPath = false;
    uint32_t startPsn = 0;
    uint32_t endPsn = 0;
    uint32_t endLayer0Psn = 0;
    // The first LBA of layer 1 on a disc of two layers.
    std::optional<uint32_t> layerBreakLba;
};
std::optional<LayerInfo> DecodeLayerInfo(std::span<const uint8_t> answer);
uint8_t ReadLayerInfo(DriveTable& table, LayerInfo& layers);

// --- GET PERFORMANCE type 00h ----------------------------------------------------------------

struct PerformanceDescriptor {
    uint32_t startLba = 0;
    uint32_t startKBps = 0;
    uint32_t endLba = 0;
    uint32_t endKBps = 0;
};
inline constexpr uint16_t kMaxPerformanceDescriptors = 32;
// The nominal read (or write) performance the drive states for the disc.
std::vector<PerformanceDescriptor> DecodePerformance(std::span<const uint8_t> answer);
uint8_t ReadPerformance(DriveTable& table, bool write, std::vector<PerformanceDescriptor>& descriptors);

// --- MODE SENSE(10) page 2Ah: read speeds ----------------------------------------------------

struct CapabilitySpeeds {
    uint16_t maxReadKBps = 0;
    uint16_t currentReadKBps = 0;
};
// From an answer of ReadCapabilitiesPage (header and page); null when the fields did not arrive.
std::optional<CapabilitySpeeds> DecodeCapabilitySpeeds(std::span<const uint8_t> answer);
uint8_t ReadCapabilitySpeeds(DriveTable& table, CapabilitySpeeds& speeds);

// --- setting the read speed ------------------------------------------------------------------

// The fastest the drive reads the disc now, in kB/s: the highest speed of its performance
// descriptors (which follow a speed set), or else the capabilities page's current read speed.
// After a speed command whose answer was lost this tells what the drive does.
uint8_t ReadCurrentReadSpeed(DriveTable& table, uint32_t& kbps);

// FFFFh asks for the drive's fastest.
inline constexpr uint16_t kMaxSpeedKBps = 0xFFFF;
uint8_t SetCdSpeed(DriveTable& table, uint16_t readKBps, uint16_t writeKBps = kMaxSpeedKBps);
// One performance descriptor over [startLba, endLba]: `readKBps` kilobytes each second, or, with
// restoreDefaults, the drive's own speeds again.
uint8_t SetStreaming(DriveTable& table, uint32_t startLba, uint32_t endLba, uint32_t readKBps,
                     bool restoreDefaults);

}  // namespace dravix
