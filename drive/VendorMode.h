#pragma once

#include "drive/DriveTable.h"

namespace dravix {

// Pairs vendor mode on and off: the one way the program switches vendor mode. The constructor
// sends on; when the drive accepted it, the destructor (or an earlier End) sends off. A drive that
// refused on gets no off. The off keeps the sense and error of the command before it, so a failure
// text read after the scope has ended still names the command that failed, not the off.
//
// Movable, so that the support check can hand its vendor mode to the caller. A scope sends its
// off on the thread it ends on: it ends where the drive is the holder's (its turn at the drive).
class VendorModeScope final {
  public:
    // No vendor mode: sends nothing.
    VendorModeScope() = default;
    explicit VendorModeScope(DriveTable& table);
    ~VendorModeScope();
    VendorModeScope(VendorModeScope&& other) noexcept;
    VendorModeScope& operator=(VendorModeScope&& other) noexcept;
    VendorModeScope(const VendorModeScope&) = delete;
    VendorModeScope& operator=(const VendorModeScope&) = delete;

    // Vendor mode switched on earlier by a scope whose off was kept for later (Keep), or that a
    // window may have left on: sends no on, and its end sends the off.
    static VendorModeScope Resume(DriveTable& table);

    // Vendor mode on again under a scope held elsewhere, when another window's off has ended it
    // in the middle of a sequence (or before a run, which may come long after that scope began).
    // The holder's scope still sends the one off. True when the drive accepted it.
    static bool SwitchOnAgain(DriveTable& table);

    // The drive accepted vendor mode on, and the off has not been sent or handed on.
    bool Accepted() const { return m_on; }
    explicit operator bool() const { return m_on; }

    // Sends off now (for sequences whose off comes before a last step); does nothing twice.
    void End();
    // Sends no off when the scope ends: the drive stays in vendor mode for a holder that sends
    // the off itself later (Resume), or for a drive that must get none.
    void Keep() { m_on = false; }

  private:
    DriveTable* m_table = nullptr;
    bool m_on = false;
};

}  // namespace dravix
