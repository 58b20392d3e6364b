#pragma once

#include <QDialog>
#include <optional>

#include "drive/OptionCommands.h"
#include "pages/PageDrive.h"
#include "procedures/SwitchTexts.h"

class QLabel;

namespace dravix {

// What the OverSpeed or the Lumard page asks the setting-scope dialog to write. The caller sets
// exactly one of forOverSpeed and forLumard, and the flags of the radio buttons it found checked.
struct ScopeRequest {
    bool forOverSpeed = false;
    bool forLumard = false;
    bool overSpeedOn = false;  // "Enable" was checked, else "Disable (Default)"
    bool supportedDiscOn = false;
    bool supportedDiscOff = false;
    bool unknownDiscOn = false;
    bool unknownDiscOff = false;
};

// The state bytes of the write the request asks for in a scope.
struct ScopeWrite {
    OptionOperation operation;
    uint8_t byte8;
    uint8_t byte9;
};
ScopeWrite ScopeWriteFor(const ScopeRequest& request, SettingScope scope);

// Dialog 179: writes the requested option either until the next restart ("Temporal Setting",
// 1010) or for good ("System Setting", 1015), after a confirmation. An OverSpeed write needs an
// empty tray: the tray opens and the user is asked to take the disc out until the drive reports
// none. After a write the dialog closes as accepted; its close box writes nothing. The caller
// reads the drive again however the dialog closed, and tells what a write came to: also a write
// whose answer failed may have been applied. Its commands run in the dialog's own drive
// sequence; the buttons work once the dialog has found the drives.
class SettingScopeDialog final : public QDialog {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SettingScopeDialog)
  public:
    SettingScopeDialog(const AppServices& services, const ScopeRequest& request, QWidget* parent = nullptr);
    ~SettingScopeDialog() override;

    // The write sent to the drive, whatever it answered; empty when the dialog sent none.
    std::optional<ScopeWrite> Written() const { return m_written; }
    // The drive answered that it completed the write; when not, only the caller's read of the
    // drive tells what the write came to.
    bool WriteCompleted() const { return m_writeCompleted; }

  public slots:
    // Closing is refused while a command of the dialog is at the drive.
    void reject() override;

  private:
    void BuildControls();
    void Write(SettingScope scope);
    // The step after the confirmation (and after each time the user was asked to empty the tray):
    // for OverSpeed the tray check, then the write.
    void BeginTrayCheckAndWrite(SettingScope scope, bool closeTrayFirst);

    const AppServices& m_services;
    ScopeRequest m_request;
    QLabel* m_status;  // the drive's status texts, in a row of their own under the two columns
    PageDrive m_drive;
    std::optional<ScopeWrite> m_written;
    bool m_writeCompleted = false;
};

}  // namespace dravix
