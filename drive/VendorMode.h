#pragma once

#include "drive/DriveTable.h"

namespace dravix {

// Pairs vendor mode on and off within one command sequence. The constructor sends on; when the
// drive accepted it, the destructor (or an earlier End) sends off. A drive that refused on gets no
// off. The off keeps the sense and error of the command before it, so a failure text read after
// the scope has ended still names the command that failed, not the off.
class VendorModeScope final {
  public:
    explicit VendorModeScope(DriveTable& table);
    ~VendorModeScope();
    VendorModeScope(const VendorModeScope&) = delete;
    VendorModeScope& operator=(const VendorModeScope&) = delete;

    // The drive accepted vendor mode on.
    bool Accepted() const { return m_on; }
    explicit operator bool() const { return m_on; }

    // Sends off now (for sequences whose off comes before a last step); does nothing twice.
    void End();
    // Leaves vendor mode on when the scope ends (a window that holds it for its whole life).
    void Keep() { m_on = false; }

  private:
    DriveTable& m_table;
    bool m_on = false;
};

}  // namespace dravix
