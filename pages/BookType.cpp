#include "pages/BookType.h"

#include <QCursor>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <functional>
#include <memory>
#include <vector>

#include "drive/Support.h"
#include "pages/PageDrive.h"
#include "res/Strings.h"
#include "turns/AppState.h"
#include "ui/DialogUnits.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"
#include "ui/TextColour.h"

namespace dravix {

namespace {

constexpr int kMaxLabelLength = 49;  // what the Modify handlers read of a button's label
const QColor kStatusTextColour(0, 0, 128);

// The controls of the drive's rows, in row order.
constexpr int kRowStatusIds[] = {CBookType::kPlusRwStatusId, CBookType::kPlusRStatusId,
                                 CBookType::kPlusRDlStatusId};
constexpr int kRowModifyIds[] = {CBookType::kPlusRwModifyId, CBookType::kPlusRModifyId,
                                 CBookType::kPlusRDlModifyId};

size_t IndexOf(BookTypeRow row) {
    return static_cast<size_t>(row);
}

// What a procedure finds on the worker, kept for the page to show on the UI thread in the same
// order.
class Findings final : public BookTypeObserver {
  public:
    void Notice(BookTypeNotice notice) override {
        m_calls.push_back([notice](BookTypeObserver& page) { page.Notice(notice); });
    }
    void RowRead(BookTypeRow row, uint8_t value) override {
        m_calls.push_back([row, value](BookTypeObserver& page) { page.RowRead(row, value); });
    }
    void MediaKindFound(MediaKind kind) override {
        m_calls.push_back([kind](BookTypeObserver& page) { page.MediaKindFound(kind); });
    }
    void BlankDvdPlusRw() override {
        m_calls.push_back([](BookTypeObserver& page) { page.BlankDvdPlusRw(); });
    }
    void DiscBookTypeRead(std::optional<uint8_t> nibble) override {
        m_calls.push_back([nibble](BookTypeObserver& page) { page.DiscBookTypeRead(nibble); });
    }

    void ShowOn(BookTypeObserver& page) const {
        for (const auto& call : m_calls) call(page);
    }

  private:
    std::vector<std::function<void(BookTypeObserver&)>> m_calls;
};

// What a procedure returned, with what it found on the way.
template <typename Result>
struct Found {
    Result result{};
    Findings findings;
};

void SelectAndWait(const AppState& state, DriveTable& table) {
    SelectPageDrive(state, table);
    table.WaitUntilReady();
}

int ControlIdOf(const QObject* control) {
    const QString name = control->objectName();
    if (!name.startsWith(QLatin1String("id"))) return 0;
    return name.mid(2).toInt();
}

}  // namespace

CBookType::CBookType(const AppServices& services, QWidget* parent)
    : PropertyPage(kDialogId, QStringLiteral("Book Type"), kTabIconId, services, parent),
      m_drive(*this, services) {
    BuildControls();
    m_poll = new QTimer(this);
    m_poll->setObjectName(QString::fromLatin1(kPollTimerName));
    m_poll->setInterval(kPollIntervalMs);
    connect(m_poll, &QTimer::timeout, this, &CBookType::PollTray);
}

CBookType::~CBookType() = default;

void CBookType::BuildControls() {
    setFont(DialogFont());
    const DialogUnits units(font());

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
    page->setSpacing(units.Y(6));

    auto statusText = [&](QWidget* parent, int id) {
        auto* label = new QLabel(ProgramText(kBookTypeNotAvailable), parent);
        label->setTextFormat(Qt::PlainText);
        label->setMinimumWidth(units.X(50));
        SetReadableTextColour(label, kStatusTextColour);
        label->setAutoFillBackground(false);  // drawn on the page's own background
        SetControlId(label, id);
        return label;
    };
    auto button = [&](const QString& text, QWidget* parent, int id) {
        auto* b = new QPushButton(text, parent);
        b->setMinimumSize(units.Size(80, 14));
        SetControlId(b, id);
        return b;
    };

    auto* drive = new QGroupBox(QStringLiteral("Drive Setting"), this);
    auto* driveGrid = new QGridLayout(drive);
    driveGrid->setHorizontalSpacing(units.X(8));
    driveGrid->setVerticalSpacing(units.Y(4));
    driveGrid->setColumnStretch(1, 1);
    for (BookTypeRow row : kAllBookTypeRows) {
        const BookTypeRowText& info = TextsOfRow(row);
        const int line = static_cast<int>(IndexOf(row));
        driveGrid->addWidget(new QLabel(ProgramText(info.label), drive), line, 0);
        m_rowStatus[IndexOf(row)] = statusText(drive, kRowStatusIds[IndexOf(row)]);
        driveGrid->addWidget(m_rowStatus[IndexOf(row)], line, 1);
        m_rowButton[IndexOf(row)] = button(ProgramText(kLabelSetDvdRom), drive, kRowModifyIds[IndexOf(row)]);
        driveGrid->addWidget(m_rowButton[IndexOf(row)], line, 2);
        connect(m_rowButton[IndexOf(row)], &QPushButton::clicked, this, [this, row] { ModifyRow(row); });
    }
    m_checkDrive = button(QStringLiteral("Check Drive"), drive, kCheckDriveId);
    driveGrid->addWidget(m_checkDrive, 3, 2);
    page->addWidget(drive);

    auto* media = new QGroupBox(QStringLiteral("Media Status"), this);
    auto* mediaGrid = new QGridLayout(media);
    mediaGrid->setHorizontalSpacing(units.X(8));
    mediaGrid->setVerticalSpacing(units.Y(4));
    mediaGrid->setColumnStretch(1, 1);
    mediaGrid->addWidget(new QLabel(ProgramText(kLabelCurrentMedia), media), 0, 0);
    m_mediaName = statusText(media, kMediaNameId);
    mediaGrid->addWidget(m_mediaName, 0, 1);
    mediaGrid->addWidget(new QLabel(ProgramText(kLabelMediaBookType), media), 1, 0);
    m_mediaBookType = statusText(media, kMediaBookTypeId);
    mediaGrid->addWidget(m_mediaBookType, 1, 1);
    m_mediaModify = button(ProgramText(kLabelSetDvdRom), media, kMediaModifyId);
    mediaGrid->addWidget(m_mediaModify, 1, 2);
    m_checkMedia = button(QStringLiteral("Check Media"), media, kCheckMediaId);
    mediaGrid->addWidget(m_checkMedia, 2, 2);
    page->addWidget(media);

    m_hint = new QLabel(this);
    m_hint->setTextFormat(Qt::PlainText);
    m_hint->setWordWrap(true);
    m_hint->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Two wrapped lines, plus the line break some hints end with; fixed so the page never jumps.
    m_hint->setFixedHeight(3 * m_hint->fontMetrics().lineSpacing());
    SetControlId(m_hint, kHintId);
    page->addWidget(m_hint);
    page->addStretch(1);

    connect(m_checkDrive, &QPushButton::clicked, this, &CBookType::CheckDrive);
    connect(m_checkMedia, &QPushButton::clicked, this, &CBookType::CheckMedia);
    connect(m_mediaModify, &QPushButton::clicked, this, &CBookType::ModifyMedia);

    // Buttons and texts take part in the hints; group boxes let the cursor through to the page.
    for (QWidget* control : findChildren<QWidget*>()) {
        if (qobject_cast<QPushButton*>(control) || qobject_cast<QLabel*>(control)) {
            control->installEventFilter(this);
        }
    }
}

void CBookType::OnInitDialog() {
    for (QPushButton* b : m_rowButton) b->setEnabled(false);
    m_mediaModify->setEnabled(false);
    m_drive.Open([this](int drives) {
        if (drives > 0) {
            m_poll->start();
        } else {
            m_checkDrive->setEnabled(false);
            m_checkMedia->setEnabled(false);
        }
        BeginCheckDrive();
    });
}

ScanLock CBookType::LockedByScan() const {
    return {.untilGivenBack = {kCheckDriveId, kPlusRwModifyId, kPlusRModifyId, kPlusRDlModifyId,
                               kCheckMediaId, kMediaModifyId},
            .givenBack = {kCheckDriveId, kCheckMediaId}};
}

int CBookType::HintStringId(int controlId, const QString& label) {
    const bool toDvdRom = label == ProgramText(kLabelSetDvdRom);
    switch (controlId) {
        case kCheckMediaId:
            return 110;
        case kCheckDriveId:
            return 111;
        case kPlusRwModifyId:
            return toDvdRom ? 112 : label == ProgramText(kLabelSetDvdPlusRw) ? 113 : 0;
        case kPlusRModifyId:
            return toDvdRom ? 114 : label == ProgramText(kLabelSetDvdPlusR) ? 115 : 0;
        case kPlusRDlModifyId:
            return toDvdRom ? 116 : label == ProgramText(kLabelSetDvdPlusRDl) ? 117 : 0;
        case kMediaModifyId:
            return toDvdRom ? 118 : label == ProgramText(kLabelSetDvdPlusRw) ? 119 : 0;
        default:
            return 0;
    }
}

bool CBookType::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter) {
        if (auto* control = qobject_cast<QWidget*>(watched)) ShowHintFor(control);
    }
    return PropertyPage::eventFilter(watched, event);
}

void CBookType::ShowHintFor(QWidget* control) {
    const auto* button = qobject_cast<QPushButton*>(control);
    const int id = HintStringId(ControlIdOf(control), button ? button->text() : QString());
    m_hint->setText(id != 0 ? LoadString(id) : QString());
}

void CBookType::SetButtonLabel(QPushButton* button, const QString& label) {
    if (button->text() == label) return;
    button->setText(label);
    // The hint belongs to the control under the pointer as it is now. A message box on the way
    // may have taken the pointer's enter and leave events, so its position decides.
    if (button->isVisible() && button->rect().contains(button->mapFromGlobal(QCursor::pos())))
        ShowHintFor(button);
}

void CBookType::CheckDrive() {
    Sequence().Start([this] { BeginCheckDrive(); });
}

void CBookType::BeginCheckDrive(std::optional<SentRowSet> set) {
    m_checkDrive->setEnabled(false);
    if (!set) {
        ContinueCheckDrive(std::make_shared<CheckDriveProgress>());
        return;
    }
    Sequence().Step(
        [set, state = Services().state](DriveTable& table, const WorkerContext&) {
            Found<DriveRows> found;
            SelectAndWait(*state, table);
            found.result = CheckDriveAfterSet(table, set->row, set->value, set->sent, found.findings).rows;
            return found;
        },
        [this](const Found<DriveRows>& found) {
            found.findings.ShowOn(*this);
            m_checkDrive->setEnabled(true);
        });
}

void CBookType::ContinueCheckDrive(std::shared_ptr<CheckDriveProgress> progress) {
    // Each message box ends a step: what comes after it is sent once it has been answered.
    Sequence().Step(
        [progress, state = Services().state](DriveTable& table, const WorkerContext&) {
            Found<std::optional<BookTypeNotice>> found;
            if (progress->next == CheckDriveStage::PlusR) SelectAndWait(*state, table);
            found.result = dravix::ContinueCheckDrive(table, *progress, found.findings);
            return found;
        },
        [this, progress](const Found<std::optional<BookTypeNotice>>& found) {
            found.findings.ShowOn(*this);
            if (found.result) Notice(*found.result);
            if (!progress->Finished()) {
                ContinueCheckDrive(progress);
                return;
            }
            m_checkDrive->setEnabled(true);
        });
}

void CBookType::ShowRow(BookTypeRow row, uint8_t value) {
    const RowDisplay display = DisplayOfRow(row, value);
    m_rowStatus[IndexOf(row)]->setText(ProgramText(display.status));
    SetButtonLabel(m_rowButton[IndexOf(row)], ProgramText(display.buttonLabel));
    m_rowButton[IndexOf(row)]->setEnabled(display.buttonEnabled);
}

void CBookType::ModifyRow(BookTypeRow row) {
    const BookTypeRowText& info = TextsOfRow(row);
    if (Services().Ask(this, ProgramText(kCaptionWarning), LoadString(info.confirmationString),
                       PromptIcon::None, PromptButtons::OkCancel) != PromptAnswer::Ok) {
        return;
    }
    const QString label = m_rowButton[IndexOf(row)]->text().left(kMaxLabelLength);
    const std::optional<uint8_t> target = TargetOfRowLabel(row, label.toStdString());
    Sequence().Start([this, row, target] {
        if (!target) {
            BeginCheckDrive();
            return;
        }
        Sequence().Step(
            [row, value = *target](DriveTable& table, const WorkerContext&) {
                Found<SetSent> found;
                found.result = SetRowBookType(table, row, value, found.findings);
                return found;
            },
            [this, row, value = *target](const Found<SetSent>& found) {
                found.findings.ShowOn(*this);
                // Whatever happened, the rows show what the drive now reports; after a set that
                // reached the drive they also tell what it came to.
                if (found.result == SetSent::NotSent) {
                    BeginCheckDrive();
                } else {
                    BeginCheckDrive(SentRowSet{row, value, found.result});
                }
            });
    });
}

void CBookType::CheckMedia() {
    Sequence().Start([this] { BeginCheckMedia(); });
}

void CBookType::BeginCheckMedia(std::optional<uint8_t> failedSet) {
    m_checkMedia->setEnabled(false);
    m_mediaModify->setEnabled(false);
    if (!failedSet) {
        ContinueCheckMedia(std::make_shared<CheckMediaProgress>());
        return;
    }
    Sequence().Step(
        [failedSet, state = Services().state](DriveTable& table, const WorkerContext&) {
            Found<MediaCheck> found;
            SelectAndWait(*state, table);
            found.result = CheckMediaAfterSet(table, *failedSet, SetSent::Failed, found.findings).media;
            return found;
        },
        [this](const Found<MediaCheck>& found) {
            found.findings.ShowOn(*this);
            m_checkMedia->setEnabled(true);
        });
}

void CBookType::ContinueCheckMedia(std::shared_ptr<CheckMediaProgress> progress) {
    Sequence().Step(
        [progress, state = Services().state](DriveTable& table, const WorkerContext&) {
            Found<std::optional<BookTypeNotice>> found;
            if (!progress->kindKnown) SelectAndWait(*state, table);
            found.result = dravix::ContinueCheckMedia(table, *progress, found.findings);
            return found;
        },
        [this, progress](const Found<std::optional<BookTypeNotice>>& found) {
            found.findings.ShowOn(*this);
            if (found.result) Notice(*found.result);
            if (!progress->done) {
                ContinueCheckMedia(progress);
                return;
            }
            m_checkMedia->setEnabled(true);
        });
}

void CBookType::ModifyMedia() {
    if (Services().Ask(this, ProgramText(kCaptionWarning), ProgramText(kMsgChangeBookTypeNow),
                       PromptIcon::None, PromptButtons::OkCancel) != PromptAnswer::Ok) {
        return;
    }
    const QString label = m_mediaModify->text().left(kMaxLabelLength);
    const std::optional<uint8_t> target = TargetOfMediaLabel(label.toStdString());
    if (!target) return;
    Sequence().Start([this, value = *target] {
        Sequence().Step(
            [value](DriveTable& table, const WorkerContext&) {
                Found<SetSent> found;
                found.result = SetDiscBookType(table, value, found.findings);
                return found;
            },
            [this, value](const Found<SetSent>& found) {
                found.findings.ShowOn(*this);
                if (found.result == SetSent::NotSent) return;
                if (found.result == SetSent::Failed) {
                    // Whether the disc took it despite the answer only the disc, read after the
                    // reload that follows a set, can tell.
                    Sequence().Step([](DriveTable& table, const WorkerContext&) { ReloadDisc(table); },
                                    [this, value] { BeginCheckMedia(value); });
                    return;
                }
                if (Services().Ask(this, ProgramText(kCaptionWarning), ProgramText(kMsgBookTypeChanged),
                                   PromptIcon::None, PromptButtons::OkCancel) != PromptAnswer::Ok) {
                    return;
                }
                Sequence().Step([](DriveTable& table, const WorkerContext&) { ReloadDisc(table); },
                                [this] { BeginCheckMedia(); });
            });
    });
}

void CBookType::PollTray() {
    Sequence().Background(
        [](DriveTable& table, const WorkerContext&) {
            table.WaitUntilReady();
            return TrayIsEmpty(table);
        },
        [this](bool empty) {
            if (!empty) return;
            m_mediaName->setText(ProgramText(MediaKindName(MediaKind::NoMedium)));
            m_mediaBookType->setText(ProgramText(kBookTypeNotAvailable));
            m_mediaModify->setEnabled(false);
        });
}

void CBookType::Notice(BookTypeNotice notice) {
    const NoticeText text = TextOf(notice);
    QString message = text.stringId != 0 ? LoadString(text.stringId) : ProgramText(text.text);
    if (text.checkButton != nullptr)
        message = AnswerLostMessage(text.text, std::string("\"") + text.checkButton + "\"");
    if (text.caption == nullptr) {
        Services().Inform(this, message);
    } else {
        Services().Ask(this, ProgramText(text.caption), message, PromptIcon::None, PromptButtons::Ok);
    }
}

void CBookType::RowRead(BookTypeRow row, uint8_t value) {
    ShowRow(row, value);
}

void CBookType::MediaKindFound(MediaKind kind) {
    m_mediaName->setText(ProgramText(MediaKindName(kind)));
    if (kind == MediaKind::DvdPlusRw) m_mediaModify->setEnabled(true);
}

void CBookType::BlankDvdPlusRw() {
    m_mediaBookType->setText(ProgramText(kBookTypeNotAvailable));
    SetButtonLabel(m_mediaModify, ProgramText(kLabelSetDvdRom));
    m_mediaModify->setEnabled(false);
    m_checkMedia->setEnabled(true);
}

void CBookType::DiscBookTypeRead(std::optional<uint8_t> nibble) {
    const DiscBookDisplay display = DisplayOfDiscBookType(nibble);
    m_mediaBookType->setText(ProgramText(display.name));
    if (display.modifyLabel != nullptr) SetButtonLabel(m_mediaModify, ProgramText(display.modifyLabel));
    if (display.enablesModify) m_mediaModify->setEnabled(true);
}

}  // namespace dravix
