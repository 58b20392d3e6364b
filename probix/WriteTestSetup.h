#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "probix/WriteTest.h"

namespace dravix {

class DriveTable;

// What the write test's front ends share around the engine: the question asked before a run, the
// marker's place and what it says, the disc as the window offers it, and the check of a marker
// left behind.

// Asked before any run; writing needs the user's agreement.
inline constexpr const char* kWriteTestQuestion =
    "The drive is asked to simulate every write; Dravix checks that simulation is on before writing and "
    "that the disc is still blank afterwards. The setting is put back as it was.";

// A run a write failed in ended there.
inline constexpr const char* kWriteTestDriveFailed = "The drive failed a write; the test was ended.";

// The marker in the user's state folder: $XDG_STATE_HOME, else ~/.local/state, in its dravix
// folder. Empty when neither is known (no marker is then written).
std::string WriteTestMarkerPath();

// What a marker says: the drive it names, how simulation was asked for and the setting before.
struct WriteTestMarker {
    std::string driveName;
    SimulationMethod method = SimulationMethod::MakerSwitch;
    bool earlierOn = false;
};
// The marker at `path`; none when there is none. A marker that cannot be understood still tells
// that a run did not end: it is read as one of the maker's switch with the setting off before.
std::optional<WriteTestMarker> ReadWriteTestMarker(const std::string& path);

// The disc in the drive as far as a write test needs it, read before a run: standard commands,
// and for a DVD+R or DVD+R DL the maker's feature list.
struct WriteTestDisc {
    bool ready = false;  // the drive answered with a current profile
    uint16_t profile = 0;
    SimulationMethod method = SimulationMethod::None;
    bool blank = false;
    std::vector<uint32_t> writeSpeedsKBps;  // as the drive lists them, fastest first
    bool makerTestWrite = false;            // the maker's feature list holds Test Write
    // The disc can be write-tested: blank, of the six kinds, and for DVD+R the maker's switch.
    bool Testable() const {
        return ready && blank &&
               (method == SimulationMethod::ModePage ||
                (method == SimulationMethod::MakerSwitch && makerTestWrite));
    }
};
WriteTestDisc ReadWriteTestDisc(DriveTable& table);
// Why a disc cannot be write-tested; empty for one that can.
const char* WriteTestDiscRefusal(const WriteTestDisc& disc);
// A DVD+R or DVD+R DL in a drive without the maker's Test Write.
inline constexpr const char* kWriteTestNoMakerSwitch =
    "This drive has no Test Write of the maker's: a DVD+R cannot be write-tested in it.";

// Whether the simulation a marker names is on in the drive the table has selected (vendor mode
// around the switch's read); none when the drive did not tell.
std::optional<bool> ReadMarkedSimulation(DriveTable& table, const WriteTestMarker& marker);

}  // namespace dravix
