#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

#include "drive/OptionCommands.h"
#include "pages/PageDrive.h"
#include "procedures/SwitchProcedures.h"
#include "procedures/SwitchTexts.h"
#include "ui/PropertyPage.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace dravix {

// How a state read shows on a page: string 104 under "Error" when the drive refused vendor mode,
// "Set Command FAIL" when the read failed. True when the read brought a reply.
bool ShowStateReadFailure(const AppServices& services, QWidget* owner, const StateRead& read);

// A state on a status icon and its radio pair; no state (a value the decoder did not know)
// leaves both as they were.
void ShowState(std::optional<bool> on, QLabel* icon, QRadioButton* onButton, QRadioButton* offButton,
               int iconOn, int iconOff);
// The tip of a status icon whose switch is written until the next restart or for good: what the
// drive reports of both (OptionStateDescription); none for a value that says neither.
void ShowScopeTip(uint8_t state, QLabel* icon);

// What a written value must look like in the read that follows it; empty when nothing was written.
using ReadBackCheck = std::function<bool(const OptionReply& reply)>;

// A write the read that follows it judges: the value it asked for, and whether its own answer
// said that it completed.
struct WrittenValue {
    ReadBackCheck holds;  // empty: nothing was written
    bool completed = true;
};

// The read that follows a write (or any read, with nothing written): the state, shown by `show`,
// or the read's failure; then what the write came to (ClassifyWrite). A drive that holds another
// value says "Set Command FAIL" (the page already shows what it holds); a write whose answer
// failed and that cannot be read back says that, and that nobody knows what the drive holds, in
// place of the read's own failure; a drive that holds the value says nothing more.
void ShowStateAfterWrite(const AppServices& services, QWidget* owner, const StateRead& read,
                         const WrittenValue& written,
                         const std::function<void(const OptionReply& reply)>& show);

// What one switch page has of its own.
struct SwitchPageLayout {
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
    StateReadCommand read = nullptr;
    // The switch from the read reply: on, off, or nothing for a value that says neither.
    std::optional<bool> (*stateOf)(const OptionReply& reply) = nullptr;
    // The option state byte behind the icon, for a switch written until a restart or for good;
    // null for a switch without a scope.
    uint8_t (*scopedStateOf)(const OptionReply& reply) = nullptr;
};

// A page for one firmware switch: the drive's state icon and Check, the Enable / Disable proposal
// and Set in one row, the notes under it. The icon shows the drive's state; the radio buttons are
// the user's proposal until the next read, which runs on every notification from the sheet and
// after every write. Its commands run in the page's drive sequence.
class SwitchPage : public PropertyPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(SwitchPage)
  public:
    ~SwitchPage() override;

    void OnSheetNotify() override;

  protected:
    SwitchPage(const SwitchPageLayout& layout, const AppServices& services, QWidget* parent);

    void OnInitDialog() override;
    // Check: a sequence that reads the state.
    void ReadState();
    // The read as a step of the running sequence; `written` is a value just written.
    void BeginRead(WrittenValue written = {});
    // Set with one of the radio buttons checked, inside a running sequence.
    virtual void Write(bool enable) = 0;
    // The switch command's own write, without confirmation, and its read-back, as a step of the
    // running sequence.
    void WriteSwitch(VerifiedWrite (*write)(DriveTable& table, bool value), bool value);
    DriveSequence& Sequence() { return m_drive.Sequence(); }

  private:
    void BuildControls();
    void SetState();

    const SwitchPageLayout& m_layout;
    PageDrive m_drive;
    QLabel* m_icon = nullptr;
    QRadioButton* m_enable = nullptr;
    QRadioButton* m_disable = nullptr;
    QPushButton* m_check = nullptr;
    QPushButton* m_set = nullptr;
    std::array<QLabel*, 2> m_notes{};
};

}  // namespace dravix
