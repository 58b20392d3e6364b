#include "pages/PageDrive.h"

#include "app/AppState.h"
#include "app/BusyCursor.h"
#include "app/Prompter.h"
#include "drive/Support.h"
#include "res/Strings.h"

namespace dravix {

int PageDrive::Open(QWidget* owner) {
    if (!m_table.InitTransport()) {
        Inform(owner, QString::fromLatin1(kMsgInitialFail));
        return -1;
    }
    const int count = m_table.EnumerateDrives();
    if (count > 0) {
        m_lastIndex = State().selectedDriveIndex;
        m_table.SelectDrive(m_lastIndex);
    }
    return count;
}

void PageDrive::SelectIfChanged() {
    const uint8_t wanted = State().selectedDriveIndex;
    if (wanted == m_lastIndex) return;
    m_table.SelectDrive(wanted);
    m_lastIndex = wanted;
}

bool PageDrive::BeginVendor(QWidget* owner) {
    {
        BusyCursor busy;
        SelectIfChanged();
        m_table.WaitUntilReady();
        if (m_table.SetVendorMode(true)) return true;
    }
    // The box waits for the user, not for the drive: it gets the normal cursor.
    Ask(owner, QStringLiteral("Error"), LoadString(104), PromptIcon::None, PromptButtons::Ok);
    return false;
}

void PageDrive::EndVendor() {
    m_table.SetVendorMode(false);
}

}  // namespace dravix
