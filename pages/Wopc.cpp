#include "pages/Wopc.h"

namespace dravix {

namespace {

// The drive keeps a "WOPC disabled" flag; the page shows WOPC itself.
std::optional<bool> WopcOn(const OptionReply& reply) {
    const std::optional<bool> disabled = SwitchFlag(reply[kWopcDisabledByte]);
    if (!disabled) return std::nullopt;
    return !*disabled;
}

}  // namespace

const SwitchPageLayout CWOPC::kLayout{
    .dialogId = kDialogId,
    .title = "WOPC",
    .tabIconId = kTabIconId,
    .statusIconId = kStatusIconId,
    .checkId = kCheckId,
    .enableId = kEnableId,
    .disableId = kDisableId,
    .setId = kSetId,
    .enableText = "Enable(default)",
    .disableText = "Disable",
    .iconOn = kIconOn,
    .iconOff = kIconOff,
    .notes = {{{kNoteId, 120}}},
    .wrapNotes = false,
    .mustSelect = option_texts::kMustSelectWopc,
    .read = ReadSwitchStates,
    .stateOf = WopcOn,
};

CWOPC::CWOPC(const AppServices& services, QWidget* parent) : SwitchPage(kLayout, services, parent) {}

void CWOPC::Write(bool enable) {
    WriteSwitch(SetWopcDisabledVerified, !enable);
}

}  // namespace dravix
