#pragma once

#include <atomic>
#include <cstdint>

namespace dravix {

// The program-wide state the main window shares with the pages. The scan worker writes ScanIdle
// and reads PagesRemoving and the selection from its thread, so those are atomics.
struct AppState {
    std::atomic<uint8_t> selectedDriveIndex{0};  // the drive chosen in the main window's list
    bool sheetCreated = false;
    bool sheetPending = false;              // the last probe on the way to creating the sheet failed
    std::atomic<uint8_t> pagesRemoving{0};  // 1 while the main window removes pages
    uint8_t featureFlags = 0;               // bit (code - 1) set: that feature's page was added
    bool bookTypeReenabled = false;         // the timer gave the Book type buttons back since the last scan
    std::atomic<uint8_t> scanIdle{1};       // 0 while a media scan runs

    bool HasFeature(uint8_t code) const { return (featureFlags >> (code - 1)) & 1u; }
    void SetFeature(uint8_t code) { featureFlags = static_cast<uint8_t>(featureFlags | (1u << (code - 1))); }
};

// The one instance of the program.
AppState& State();

// Puts every field back to its start value (tests start each case from a fresh program state).
void ResetState();

}  // namespace dravix
