#include "pages/TestWrite.h"

namespace dravix {

const SwitchPageLayout CTestWrite::kLayout{
    .dialogId = kDialogId,
    .title = "Test Write",
    .tabIconId = kTabIconId,
    .statusIconId = kStatusIconId,
    .checkId = kCheckId,
    .enableId = kEnableId,
    .disableId = kDisableId,
    .setId = kSetId,
    .enableText = "Enable",
    .disableText = "Disable(default)",
    .iconOn = kIconOn,
    .iconOff = kIconOff,
    .notes = {{{kNoteId, 121}, {kNote2Id, 132}}},
    .wrapNotes = false,
    .mustSelect = option_texts::kMustSelectTestWrite,
    .read = ReadSwitchStates,
    .stateOf = [](const OptionReply& reply) { return SwitchFlag(reply[kTestWriteByte]); },
};

CTestWrite::CTestWrite(const AppServices& services, QWidget* parent)
    : SwitchPage(kLayout, services, parent) {}

void CTestWrite::Write(bool enable) {
    WriteSwitch(SetTestWriteVerified, enable);
}

}  // namespace dravix
