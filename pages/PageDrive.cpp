#include "pages/PageDrive.h"

#include "drive/VendorMode.h"
#include "ui/AppState.h"

namespace dravix {

PageDrive::PageDrive(QWidget& window)
    : m_drive(std::make_shared<StoppableDrive>()), m_sequence(new DriveSequence(window, m_drive)) {}

int OpenPageDrive(DriveTable& table) {
    if (!table.InitTransport()) return -1;
    const int count = table.EnumerateDrives();
    if (count > 0) table.SelectDrive(State().selectedDriveIndex);
    return count;
}

void SelectPageDrive(DriveTable& table) {
    const uint8_t wanted = State().selectedDriveIndex;
    if (table.SelectedIndex() != wanted) table.SelectDrive(wanted);
}

StateRead ReadStatesOnDrive(DriveTable& table, StateReadCommand read) {
    SelectPageDrive(table);
    table.WaitUntilReady();
    StateRead result;
    const VendorModeScope vendor(table);
    if (!vendor) {
        result.vendorRefused = true;
        return result;
    }
    result.status = read(table, result.reply);
    return result;
}

}  // namespace dravix
