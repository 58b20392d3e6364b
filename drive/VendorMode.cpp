#include "drive/VendorMode.h"

#include <utility>

namespace dravix {

VendorModeScope::VendorModeScope(DriveTable& table) : m_table(&table), m_on(table.SetVendorMode(true)) {}

VendorModeScope::~VendorModeScope() {
    End();
}

VendorModeScope::VendorModeScope(VendorModeScope&& other) noexcept
    : m_table(std::exchange(other.m_table, nullptr)), m_on(std::exchange(other.m_on, false)) {}

VendorModeScope& VendorModeScope::operator=(VendorModeScope&& other) noexcept {
    if (this != &other) {
        End();
        m_table = std::exchange(other.m_table, nullptr);
        m_on = std::exchange(other.m_on, false);
    }
    return *this;
}

VendorModeScope VendorModeScope::Resume(DriveTable& table) {
    VendorModeScope scope;
    scope.m_table = &table;
    scope.m_on = true;
    return scope;
}

bool VendorModeScope::SwitchOnAgain(DriveTable& table) {
    return table.SetVendorMode(true);
}

void VendorModeScope::End() {
    if (!m_on) return;
    m_on = false;
    const DriveTable::Failure before = m_table->LastFailure();
    m_table->SetVendorMode(false);
    m_table->RestoreFailure(before);
}

}  // namespace dravix
