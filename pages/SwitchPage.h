#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "app/PropertyPage.h"
#include "drive/OptionCommands.h"
#include "pages/PageDrive.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace dravix {

// Runs one vendor command under the busy cursor and gives its status.
uint8_t RunBusy(const std::function<uint8_t()>& command);

// The state read of the firmware switch pages: vendor mode on, the read, "Set Command FAIL" when
// it fails and otherwise `show` with the reply, vendor mode off. False only when the drive refused
// vendor mode (the read did not run).
using StateRead = uint8_t (*)(DriveTable& table, OptionReply& reply);
bool ReadStates(PageDrive& drive, QWidget* owner, StateRead read,
                const std::function<void(const OptionReply&)>& show);

// A state on a status icon and its radio pair; no state (a value the decoder did not know)
// leaves both as they were.
void ShowState(std::optional<bool> on, QLabel* icon, QRadioButton* onButton, QRadioButton* offButton,
               int iconOn, int iconOff);

// What one switch page has of its own.
struct SwitchPageSpec {
    struct Note {
        int id = 0;  // 0: no such note
        int stringId = 0;
    };

    int dialogId = 0;
    const char* title = "";
    int tabIconId = 0;
    int statusIconId = 0;
    int checkId = 0;
    int enableId = 0;
    int disableId = 0;
    int setId = 0;
    const char* enableText = "";
    const char* disableText = "";
    int iconOn = 0;
    int iconOff = 0;
    std::array<Note, 2> notes{};
    bool wrapNotes = false;
    const char* mustSelect = "";
    StateRead read = nullptr;
    // The switch from the read reply: on, off, or nothing for a value that says neither.
    std::optional<bool> (*stateOf)(const OptionReply& reply) = nullptr;
};

// A page for one firmware switch: the drive's state icon and Check, the Enable / Disable proposal
// and Set in one row, the notes under it. The icon shows the drive's state; the radio buttons are
// the user's proposal until the next read, which runs on every notification from the sheet and
// after every write.
class SwitchPage : public PropertyPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SwitchPage)
  public:
    ~SwitchPage() override;

    void OnSheetNotify() override;

  protected:
    SwitchPage(const SwitchPageSpec& spec, QWidget* parent);

    void OnInitDialog() override;
    void ReadState();
    // Set with one of the radio buttons checked.
    virtual void Write(bool enable) = 0;
    // The switch command's own write sequence, without confirmation; reads back when it worked.
    void WriteSwitch(uint8_t (*set)(DriveTable& table, bool value), bool value);

  private:
    void BuildControls();
    void SetState();

    const SwitchPageSpec& m_spec;
    PageDrive m_drive;
    QLabel* m_icon = nullptr;
    QRadioButton* m_enable = nullptr;
    QRadioButton* m_disable = nullptr;
    QPushButton* m_check = nullptr;
    QPushButton* m_set = nullptr;
    std::array<QLabel*, 2> m_notes{};
};

}  // namespace dravix
