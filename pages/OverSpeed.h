#pragma once

#include "app/PropertyPage.h"
#include "pages/PageDrive.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace dravix {

// The OverSpeed page (dialog 178): whether the drive burns 4x and 8x DVD±R media at 8x or more,
// and the switch through the setting-scope dialog. The icon shows the drive's state; the radio
// buttons are the user's proposal until the next read, which follows every write.
class COverSpeed final : public PropertyPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(COverSpeed)
public:
    explicit COverSpeed(QWidget* parent = nullptr);
    ~COverSpeed() override;

    void OnSheetNotify() override;

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
