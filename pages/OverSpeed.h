#pragma once

#include "pages/SwitchPage.h"

namespace dravix {

// The OverSpeed page (dialog 178): whether the drive burns 4x and 8x DVD±R media at 8x or more,
// and the switch through the setting-scope dialog after a warning for Enable.
class COverSpeed final : public SwitchPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(COverSpeed)
  public:
    explicit COverSpeed(const AppServices& services, QWidget* parent = nullptr);

    static constexpr int kDialogId = 178;
    static constexpr int kTabIconId = 182;
    static constexpr int kNoteId = 1065;
    static constexpr int kStatusIconId = 1072;
    static constexpr int kCheckId = 1073;
    static constexpr int kEnableId = 1074;
    static constexpr int kDisableId = 1075;
    static constexpr int kSetId = 1076;
    static constexpr int kIconOn = 181;
    static constexpr int kIconOff = 180;

  private:
    void Write(bool enable) override;

    static const SwitchPageLayout kLayout;
};

}  // namespace dravix
