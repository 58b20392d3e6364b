#pragma once

#include "pages/SwitchPage.h"

namespace dravix {

// The WOPC page (dialog 105): Walking OPC, the drive's laser power adjustment while writing,
// which stays disabled until the drive restarts. Set writes without confirmation and reads back.
class CWOPC final : public SwitchPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CWOPC)
  public:
    explicit CWOPC(const AppServices& services, QWidget* parent = nullptr);

    static constexpr int kDialogId = 105;
    static constexpr int kTabIconId = 169;
    static constexpr int kCheckId = 1030;
    static constexpr int kSetId = 1031;
    static constexpr int kEnableId = 1033;
    static constexpr int kDisableId = 1034;
    static constexpr int kStatusIconId = 1060;
    static constexpr int kNoteId = 1058;
    static constexpr int kIconOn = 172;
    static constexpr int kIconOff = 173;

    ScanLock LockedByScan() const override { return {.controls = {kCheckId, kSetId}}; }

  private:
    void Write(bool enable) override;

    static const SwitchPageLayout kLayout;
};

}  // namespace dravix
