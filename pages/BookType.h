#pragma once

#include <memory>
#include <optional>

#include "pages/PageDrive.h"
#include "procedures/BookTypeProcedures.h"
#include "ui/PropertyPage.h"

class QLabel;
class QPushButton;
class QTimer;

namespace dravix {

// The Book Type page (dialog 104): the book type the drive writes on new DVD+RW, DVD+R and
// DVD+R DL media ("Drive Setting"), and the book type of a recorded DVD+RW in the tray ("Media
// Status"), each read and changed. A 500 ms poll shows an emptied tray; hints under the groups
// say what the control under the cursor does. Its commands run in the page's drive sequence, the
// poll between its sequences; what a procedure finds on the worker is shown here in its order.
class CBookType final : public PropertyPage, private BookTypeObserver {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(CBookType)
  public:
    explicit CBookType(const AppServices& services, QWidget* parent = nullptr);
    ~CBookType() override;

    static constexpr int kDialogId = 104;
    static constexpr int kTabIconId = 139;
    static constexpr int kCheckDriveId = 1016;
    // The drive's rows (DVD+RW, DVD+R, DVD+R DL): the book type shown and its Modify button.
    static constexpr int kPlusRwStatusId = 1024;
    static constexpr int kPlusRStatusId = 1025;
    static constexpr int kPlusRDlStatusId = 1026;
    static constexpr int kPlusRwModifyId = 1029;
    static constexpr int kPlusRModifyId = 1017;
    static constexpr int kPlusRDlModifyId = 1018;
    static constexpr int kCheckMediaId = 1019;
    static constexpr int kMediaModifyId = 1021;
    static constexpr int kMediaNameId = 1027;
    static constexpr int kMediaBookTypeId = 1028;
    static constexpr int kHintId = 1056;
    static constexpr int kPollIntervalMs = 500;
    // The object name of the tray poll's timer (Timer 1).
    static constexpr const char* kPollTimerName = "timer1";

    // The string table id of the hint for a control showing this label; 0 when it has none.
    static int HintStringId(int controlId, const QString& label);

    // Timer 1: shows an emptied tray (not while a sequence runs). Public so that tests can run one
    // poll without waiting for the timer.
    void PollTray();

    // A scan locks every button; after it only the two checks come back, the set buttons stay as
    // the page left them.
    ScanLock LockedByScan() const override;

  protected:
    void OnInitDialog() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // A set that reached the drive: the check after it tells what it came to.
    struct SentRowSet {
        BookTypeRow row;
        uint8_t value;
        SetSent sent;
    };

    void BuildControls();
    void CheckDrive();
    void BeginCheckDrive(std::optional<SentRowSet> set = std::nullopt);
    void CheckMedia();
    // `failedSet`: the book type of a disc set whose answer failed or was lost; the check then
    // tells what the disc holds.
    void BeginCheckMedia(std::optional<uint8_t> failedSet = std::nullopt);
    // The checks' steps, each ending at a message box or at the check's end.
    void ContinueCheckDrive(std::shared_ptr<CheckDriveProgress> progress);
    void ContinueCheckMedia(std::shared_ptr<CheckMediaProgress> progress);
    void ModifyRow(BookTypeRow row);
    void ModifyMedia();
    void ShowRow(BookTypeRow row, uint8_t value);
    void ShowHintFor(QWidget* control);
    // Gives a Modify button a new label, and the hint with it when the pointer is over it.
    void SetButtonLabel(QPushButton* button, const QString& label);

    // BookTypeObserver: what the procedures find, shown as they find it.
    void Notice(BookTypeNotice notice) override;
    void RowRead(BookTypeRow row, uint8_t value) override;
    void MediaKindFound(MediaKind kind) override;
    void BlankDvdPlusRw() override;
    void DiscBookTypeRead(std::optional<uint8_t> nibble) override;

    DriveSequence& Sequence() { return m_drive.Sequence(); }

    PageDrive m_drive;
    QTimer* m_poll = nullptr;

    QLabel* m_rowStatus[3] = {};
    QPushButton* m_rowButton[3] = {};
    QPushButton* m_checkDrive = nullptr;
    QLabel* m_mediaName = nullptr;
    QLabel* m_mediaBookType = nullptr;
    QPushButton* m_mediaModify = nullptr;
    QPushButton* m_checkMedia = nullptr;
    QLabel* m_hint = nullptr;
};

}  // namespace dravix
