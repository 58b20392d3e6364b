#include "pages/OverSpeed.h"

#include "pages/SettingScopeDialog.h"
#include "ui/Services.h"

namespace dravix {

const SwitchPageLayout COverSpeed::kLayout{
    .dialogId = kDialogId,
    .title = "OverSpeed",
    .tabIconId = kTabIconId,
    .statusIconId = kStatusIconId,
    .checkId = kCheckId,
    .enableId = kEnableId,
    .disableId = kDisableId,
    .setId = kSetId,
    .enableText = "Enable",
    .disableText = "Disable (Default)",
    .iconOn = kIconOn,
    .iconOff = kIconOff,
    .notes = {{{kNoteId, 135}}},
    .wrapNotes = true,
    .mustSelect = option_texts::kMustSelectOverSpeed,
    .read = ReadOptionStates,
    .stateOf = [](const OptionReply& reply) { return OptionStateIsOn(reply[kOverSpeedByte]); },
    .scopedStateOf = [](const OptionReply& reply) { return reply[kOverSpeedByte]; },
};

COverSpeed::COverSpeed(const AppServices& services, QWidget* parent)
    : SwitchPage(kLayout, services, parent) {}

void COverSpeed::Write(bool enable) {
    if (enable && Services().Ask(this, option_texts::kCaptionWarning, option_texts::kOverSpeedWarning,
                                 PromptIcon::Exclamation, PromptButtons::YesNo) != PromptAnswer::Yes) {
        return;
    }
    ScopeRequest request;
    request.forOverSpeed = true;
    request.overSpeedOn = enable;
    std::optional<ScopeWrite> written;
    WrittenValue check;
    {
        SettingScopeDialog dialog(Services(), request, this);
        Services().RunModal(dialog);
        written = dialog.Written();
        check.completed = dialog.WriteCompleted();
    }
    // The dialog wrote or not, however it closed: the page shows what the drive now holds, and
    // that decides what a write came to.
    if (written) {
        check.holds = [state = written->byte8](const OptionReply& reply) {
            return reply[kOverSpeedByte] == state;
        };
    }
    BeginRead(std::move(check));
}

}  // namespace dravix
