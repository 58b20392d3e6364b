#pragma once

#include "app/PropertyPage.h"
#include "pages/PageDrive.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace dravix {

// The WOPC page (dialog 105): Walking OPC, the drive's laser power adjustment while writing,
// which stays disabled until the drive restarts. Set writes without confirmation and reads back.
class CWOPC final : public PropertyPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CWOPC)
public:
    explicit CWOPC(QWidget* parent = nullptr);
    ~CWOPC() override;

    void OnSheetNotify() override;

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

protected:
    void OnInitDialog() override;

private:
    void BuildControls();
    void ReadState();
    void SetState();

    PageDrive m_drive;
    QLabel* m_icon = nullptr;
    QRadioButton* m_enable = nullptr;
    QRadioButton* m_disable = nullptr;
    QPushButton* m_check = nullptr;
    QPushButton* m_set = nullptr;
    QLabel* m_note = nullptr;
};

}  // namespace dravix
