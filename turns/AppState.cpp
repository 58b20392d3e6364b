#include "turns/AppState.h"

#include <mutex>

namespace dravix {

namespace {
std::mutex g_chosenMutex;
DriveIdentity g_chosen;

// The runs that hold the drive; ScanIdle follows their count.
std::mutex g_holdMutex;
int g_holds = 0;
uint64_t g_holdEpoch = 0;  // grows at every ResetState
}  // namespace

DriveIdentity ChosenDrive() {
    std::lock_guard lock(g_chosenMutex);
    return g_chosen;
}

void SetChosenDrive(const DriveIdentity& identity) {
    std::lock_guard lock(g_chosenMutex);
    g_chosen = identity;
}

bool SelectChosenDrive(DriveTable& table) {
    return SelectListedDrive(table, ChosenDrive());
}

bool SelectListedDrive(DriveTable& table, const DriveIdentity& drive) {
    const AppState& state = State();
    const uint64_t generation = state.driveListGeneration.load();
    if (table.ListingGeneration() != generation) {
        table.EnumerateDrives();
        table.SetListingGeneration(generation);
    }
    const int index = drive.Empty() ? state.selectedDriveIndex.load() : FindDrive(table, drive);
    if (index < 0 || index >= table.DriveCount()) {
        table.Deselect();
        return false;
    }
    if (table.SelectedIndex() != index) table.SelectDrive(static_cast<uint8_t>(index));
    return true;
}

AppState& State() {
    static AppState state;
    return state;
}

void RunHold::Set(bool holding) {
    if (holding == m_holding) return;
    std::lock_guard lock(g_holdMutex);
    m_holding = holding;
    if (holding) {
        m_epoch = g_holdEpoch;
        ++g_holds;
        State().scanIdle = 0;
    } else if (m_epoch == g_holdEpoch && g_holds > 0 && --g_holds == 0) {
        State().scanIdle = 1;
    }
}

void ResetState() {
    {
        std::lock_guard lock(g_holdMutex);
        g_holds = 0;
        ++g_holdEpoch;
    }
    AppState& s = State();
    s.selectedDriveIndex = 0;
    s.sheetCreated = false;
    s.sheetPending = false;
    s.pagesRemoving = 0;
    s.featureFlags = 0;
    s.bookTypeReenabled = false;
    s.scanIdle = 1;
    s.driveListGeneration = 0;
    SetChosenDrive({});
}

}  // namespace dravix
