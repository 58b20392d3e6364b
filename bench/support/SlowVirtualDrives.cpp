#include "bench/support/SlowVirtualDrives.h"

#include <cstdio>
#include <cstdlib>

#include "emu/StateFile.h"

namespace dravix::bench {

bool WriteSlowScenario(emu::Scenario& scenario, const SlowDrives& slow, const std::string& path) {
    for (size_t i = 0; i < scenario.DriveCount(); ++i) {
        emu::VirtualDrive& drive = scenario.Drive(i);
        if (slow.ready) {
            // Taken before the latencies, so that setting up costs no time.
            const uint8_t testUnitReady[6] = {};
            drive.Execute(testUnitReady, sizeof testUnitReady, 0, nullptr, 0, 0);
        }
        for (emu::LatencyClass latency : slow.classes) drive.SetLatency(latency, slow.latencyMs);
    }
    if (const Result<void> written = scenario.BindToFile(path); !written) {
        std::fprintf(stderr, "%s\n", written.Failure().text.c_str());
        return false;
    }
    if (::setenv(emu::kStateFileVariable, path.c_str(), 1) != 0) {
        std::fprintf(stderr, "cannot set %s\n", emu::kStateFileVariable);
        return false;
    }
    return true;
}

}  // namespace dravix::bench
