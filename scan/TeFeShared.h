#pragma once

// What the Probix page's workers share with it (TeFe.cpp and TeFeRun.cpp only).

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "chart/ScanChartCanvas.h"
#include "drive/VendorMode.h"
#include "probix/ScanEngine.h"
#include "scan/TeFe.h"

namespace dravix {

// Kept alive by whichever of the page and its workers lives longest.
struct CTEFE::Shared {
    explicit Shared(std::shared_ptr<AppState> programState) : state(std::move(programState)) {}
    // The program's state: the workers find the chosen drive with it.
    const std::shared_ptr<AppState> state;
    // ScanBusy: the poll worker reads it.
    std::atomic<bool> scanBusy{false};
    // Held by the run while it draws a sample, and by STOP and the page's end while they ask the
    // run to stop and take the chart away, so that nothing of a stopped run reaches the chart.
    // Also guards the criterion flags, which the run reads when it redraws the lines.
    std::mutex drawMutex;
    // The chart's canvas, which the run draws on (the canvas locks each drawing); the chart
    // window shows it when the run's post reaches the page. Null once the page is gone.
    ScanChartCanvas* canvas = nullptr;
    bool teLimitShown = false;
    bool feLimitShown = false;
    // What the current run measured so far (guarded by drawMutex): kept when the run ends or stops.
    std::vector<ScanSample> samples;
    uint16_t teReference = 0;
    uint16_t feReference = 0;
    // The vendor mode the page holds from its initialisation to its end: begun and ended on the
    // page's workers at the drive, so that the page's end sends the off also when the page goes
    // before it has heard whether the drive accepted the on.
    VendorModeScope vendorMode;
};

}  // namespace dravix
