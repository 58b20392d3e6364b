#pragma once

#include <array>
#include <functional>

#include "pages/SwitchPage.h"

namespace dravix {

// The Lumard page (dialog 177): whether the drive applies learned write strategies to discs it
// supports and learns strategies for discs it does not know, the discs it has learned, and the
// clean tool that erases them. Settings are written through the setting-scope dialog.
class CSLWS final : public PropertyPage {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CSLWS)
  public:
    explicit CSLWS(const AppServices& services, QWidget* parent = nullptr);
    ~CSLWS() override;

    void OnSheetNotify() override;

    static constexpr int kDialogId = 177;
    static constexpr int kTabIconId = 185;
    static constexpr int kSupportedIconId = 1071;
    static constexpr int kUnknownIconId = 1101;
    static constexpr int kCheckId = 1067;
    static constexpr int kSupportedOnId = 1065;
    static constexpr int kSupportedOffId = 1066;
    static constexpr int kUnknownOnId = 1069;
    static constexpr int kUnknownOffId = 1070;
    static constexpr int kSetId = 1068;
    static constexpr int kLearnedCountId = 1079;
    static constexpr int kFirstRecordId = 1081;  // 1081..1086: learned discs 1 to 6
    static constexpr int kShownRecords = 6;
    static constexpr int kCleanId = 1010;
    static constexpr int kIconActivated = 184;
    static constexpr int kIconNotActivated = 183;

  protected:
    void OnInitDialog() override;

  private:
    struct LearnedDiscs;

    void BuildControls();
    void StatusCheck();
    void BeginStatusCheck(WrittenValue written = {});
    void SetSetting();
    // Set's state read; vendor mode is left on for a box that the read ends with.
    struct SetRead {
        StateRead read;
        bool vendorLeftOn = false;
    };
    void AfterSetRead(const SetRead& found);
    // Set after the read: the choice, the setting-scope dialog, the status check.
    void ChooseAndWrite();
    void Clean();
    // The learned count and the media information, as one step; with `stopAtFailure` a failed count
    // read leaves the media information unread (the initialisation). `clearCompleted`: the read
    // follows a clear, whose answer said it completed or not; the count tells what it came to.
    void BeginLearnedDiscs(bool stopAtFailure, std::function<void()> then,
                           std::optional<bool> clearCompleted = std::nullopt);
    bool ShowLearnedDiscs(const LearnedDiscs& discs);
    void ShowLearnedDiscsAfterClear(const LearnedDiscs& discs, bool clearCompleted);

    DriveSequence& Sequence() { return m_drive.Sequence(); }

    PageDrive m_drive;
    QLabel* m_supportedIcon = nullptr;
    QLabel* m_unknownIcon = nullptr;
    QPushButton* m_check = nullptr;
    QRadioButton* m_supportedOn = nullptr;
    QRadioButton* m_supportedOff = nullptr;
    QRadioButton* m_unknownOn = nullptr;
    QRadioButton* m_unknownOff = nullptr;
    QPushButton* m_set = nullptr;
    QLabel* m_learnedCount = nullptr;
    std::array<QLabel*, kShownRecords> m_records{};
    QPushButton* m_clean = nullptr;
};

}  // namespace dravix
