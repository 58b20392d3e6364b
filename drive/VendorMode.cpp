#include "drive/VendorMode.h"

namespace dravix {

VendorModeScope::VendorModeScope(DriveTable& table) : m_table(table), m_on(table.SetVendorMode(true)) {}

VendorModeScope::~VendorModeScope() {
    End();
}

void VendorModeScope::End() {
    if (!m_on) return;
    m_on = false;
    const DriveTable::Failure before = m_table.LastFailure();
    m_table.SetVendorMode(false);
    m_table.RestoreFailure(before);
}

}  // namespace dravix
