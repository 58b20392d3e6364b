#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "emu/Scenario.h"

namespace dravix::bench {

// How the drives of a benchmark's state file are slowed down.
struct SlowDrives {
    std::vector<emu::LatencyClass> classes;  // each takes latencyMs
    uint32_t latencyMs = 0;
    // The disc's medium change has already been reported: the user starts the program on a drive
    // that is ready, and the run holds no ready-wait of its own. Without it the drive reports the
    // change (and a spin-up latency set before applies) at the program's first command.
    bool ready = true;
};

// Slows down every drive of `scenario` as `slow` says, then writes the scenario to `path` and
// points DRAVIX_VDRIVE_STATE at it, so that the programs started from here on use it. Prints the
// problem on standard error and returns false when the file cannot be written.
bool WriteSlowScenario(emu::Scenario& scenario, const SlowDrives& slow, const std::string& path);

}  // namespace dravix::bench
