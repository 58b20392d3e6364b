#pragma once

#include <cstdint>

#include "drive/DriveTable.h"

class QWidget;

namespace dravix {

// A settings page's own drive table, and the drive index it last addressed. Every window that
// talks to drives owns one; all of them enumerate the drives in the same order, so the index the
// main window's list chose addresses the same drive here.
class PageDrive final {
  public:
    // InitTransport (on failure the application message box "Initial fail."), EnumerateDrives,
    // and with drives SelectDrive(SelectedDriveIndex). The number of drives, -1 when the
    // transport could not be prepared.
    int Open(QWidget* owner);

    DriveTable& Table() { return m_table; }
    uint8_t DriveCount() const { return m_table.DriveCount(); }

    // SelectDrive(SelectedDriveIndex) when it differs from the index last addressed.
    void SelectIfChanged();

    // The common start of a vendor command sequence: select if needed, WaitUntilReady, vendor
    // mode on. When the drive refuses vendor mode: string 104 "This drive is not supported"
    // with the caption "Error", and false (no vendor mode off is due).
    bool BeginVendor(QWidget* owner);
    void EndVendor();

  private:
    DriveTable m_table;
    uint8_t m_lastIndex = 0;
};

}  // namespace dravix
