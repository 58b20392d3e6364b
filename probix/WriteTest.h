#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "drive/Scsi.h"
#include "probix/ReadTest.h"

namespace dravix {

class SharedDrive;

// The write test without any window: it writes a blank recordable disc sequentially in
// simulation and times every request, so that the write-speed curve, the drive's buffer and its
// write mode show without burning the disc. Nothing is ever written unless the drive has been
// seen, read back, to simulate on this disc; the disc is read again after the first request and at
// the end, and the drive's simulation setting is put back once its cache has been flushed.

// The texts the run ends with.
inline constexpr const char* kWriteTestRecorded = "The drive recorded on the disc although simulation was on.";
inline constexpr const char* kWriteTestStillOn = "Test Write is still on: restart the drive before burning.";
inline constexpr const char* kWriteTestCannotSimulate =
    "This drive cannot simulate writing on this disc; a write test would burn it.";
inline constexpr const char* kWriteTestNeedsBlankDisc =
    "A write test needs a blank CD-R, CD-RW, DVD-R, DVD-RW, DVD+R or DVD+R DL in the drive.";
inline constexpr const char* kWriteTestNotRestored =
    "The drive's earlier simulation setting could not be put back; check it before burning.";

// How simulation is asked of the drive on a disc.
enum class SimulationMethod {
    None,        // the disc cannot be write-tested
    ModePage,    // CD-R, CD-RW, DVD-R, DVD-RW: the Write Parameters page's Test Write bit
    MakerSwitch  // DVD+R, DVD+R DL: the maker's Test Write switch only
};
SimulationMethod SimulationMethodOfProfile(uint16_t profile);

struct WriteTestSettings {
    double speedX = 0;                      // 0: the disc's fastest
    std::optional<uint32_t> lengthSectors;  // none: the whole disc
    uint32_t requestSectors = kDefaultRequestSectors;
    // The marker file written before simulation is switched on and removed once it is put back;
    // empty: none.
    std::string markerPath;
    std::string driveName;  // named in the marker
};

enum class WriteTestEnd {
    Finished,
    Stopped,         // a stop request: the results so far, the setting put back
    Refused,         // nothing was written: `message` says why
    Recorded,        // the disc is no longer blank: kWriteTestRecorded
    DriveFailed,     // a write failed (unit attention, time-out, transport): the results so far
};
const char* WriteTestEndName(WriteTestEnd end);  // "finished", "stopped", "refused", "recorded", "drive-failed"

struct WritePoint {
    uint32_t lba = 0;
    double speedX = 0;
    double bufferFill = 0;  // 0..1, as READ BUFFER CAPACITY gave it after the point
    double rpm = 0;
};

struct WriteTestResult {
    WriteTestEnd end = WriteTestEnd::Refused;
    std::string message;  // the refusal or warning, empty when none
    std::vector<std::string> notes;
    uint16_t profile = 0;
    SimulationMethod method = SimulationMethod::None;
    std::vector<uint32_t> writeSpeedsKBps;  // as the drive listed them
    uint32_t speedKBps = 0;                 // asked for
    DiscLayout layout;                      // the blank disc as far as the rotation and modes need it
    uint32_t startLba = 0;
    uint64_t plannedSectors = 0;
    uint64_t writtenSectors = 0;
    uint32_t writeRequests = 0;
    std::vector<WritePoint> points;
    std::optional<TransferSummary> summary;
    double fullDiscSeconds = 0;  // a real burn of the whole disc at the average speed
    bool simulationLeftOn = false;
    bool settingRestored = false;
    bool blankAfter = false;
    uint8_t endStatus = kCommandCompleted;
    Sense endSense;
    double elapsedSeconds = 0;
};

struct WriteTestHooks {
    std::function<bool()> stopRequested;  // asked between requests
    MicrosecondClock clock;               // a steady clock when empty
    std::function<void(const WritePoint&, uint64_t written, uint64_t planned)> onPoint;
};

// The guard and the run, with the drive's turn held from the first command to the last.
WriteTestResult RunWriteTest(SharedDrive& drive, const WriteTestSettings& settings, const WriteTestHooks& hooks);

}  // namespace dravix
