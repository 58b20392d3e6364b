#include "turns/AppState.h"

#include "drive/DriveTable.h"

namespace dravix {

DriveIdentity AppState::ChosenDrive() const {
    std::lock_guard lock(m_chosenMutex);
    return m_chosen;
}

void AppState::SetChosenDrive(const DriveIdentity& identity) {
    std::lock_guard lock(m_chosenMutex);
    m_chosen = identity;
}

bool AppState::SelectChosenDrive(DriveTable& table) const {
    return SelectListedDrive(table, ChosenDrive());
}

bool AppState::OpenChosenDrive(DriveTable& table) const {
    if (!table.InitTransport()) return false;
    if (table.EnumerateDrives() <= 0) return false;
    table.SetListingGeneration(driveListGeneration.load());
    return SelectChosenDrive(table);
}

bool AppState::SelectListedDrive(DriveTable& table, const DriveIdentity& drive) const {
    const uint64_t generation = driveListGeneration.load();
    if (table.ListingGeneration() != generation) {
        table.EnumerateDrives();
        table.SetListingGeneration(generation);
    }
    const int index = drive.Empty() ? selectedDriveIndex.load() : FindDrive(table, drive);
    if (index < 0 || index >= table.DriveCount()) {
        table.Deselect();
        return false;
    }
    if (table.SelectedIndex() != index) table.SelectDrive(static_cast<uint8_t>(index));
    return true;
}

void AppState::Hold() {
    std::lock_guard lock(m_holdMutex);
    ++m_holds;
    scanIdle = 0;
}

void AppState::LetGo() {
    std::lock_guard lock(m_holdMutex);
    if (m_holds > 0 && --m_holds == 0) scanIdle = 1;
}

void RunHold::Set(bool holding) {
    if (holding == m_holding || !m_state) return;
    m_holding = holding;
    if (holding) {
        m_state->Hold();
    } else {
        m_state->LetGo();
    }
}

}  // namespace dravix
