#pragma once

#include "pages/SwitchPage.h"

namespace dravix {

// The Test Write page (dialog 106): the drive's simulation mode for DVD+R, DVD+RW and DVD+R DL,
// which lasts until the drive restarts. Set writes without confirmation and reads back.
class CTestWrite final : public SwitchPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CTestWrite)
  public:
    explicit CTestWrite(const AppServices& services, QWidget* parent = nullptr);

    static constexpr int kDialogId = 106;
    static constexpr int kTabIconId = 170;
    static constexpr int kCheckId = 1010;
    static constexpr int kSetId = 1015;
    static constexpr int kEnableId = 1022;
    static constexpr int kDisableId = 1023;
    static constexpr int kStatusIconId = 1063;
    static constexpr int kNoteId = 1059;
    static constexpr int kNote2Id = 1064;
    static constexpr int kIconOn = 174;
    static constexpr int kIconOff = 175;

    ScanLock LockedByScan() const override { return {.controls = {kCheckId, kSetId}}; }

  private:
    void Write(bool enable) override;

    static const SwitchPageLayout kLayout;
};

}  // namespace dravix
