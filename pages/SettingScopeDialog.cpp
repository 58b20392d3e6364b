#include "pages/SettingScopeDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "drive/VendorMode.h"
#include "res/Strings.h"
#include "ui/DialogUnits.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"

namespace dravix {

namespace {

constexpr int kTemporaryButton = 1010;
constexpr int kPermanentButton = 1015;
constexpr int kTemporaryText = 1077;
constexpr int kPermanentText = 1078;

// What the step after the confirmation came to.
struct ScopeStep {
    enum class Outcome {
        RemoveMedia,    // a disc is in the opened tray: the user is asked to take it out
        TrayUnknown,    // the drive says neither "no medium" nor "ready": the write is given up
        VendorRefused,  // "Not support the drive!"
        Sent,           // the write was sent; `status` is its result
    };
    Outcome outcome = Outcome::TrayUnknown;
    uint8_t status = kCommandFailed;
};

// The tray check of an OverSpeed write: done when the drive reports no medium. Only a drive that
// is ready holds a disc the user can take out; one that fails in another way would keep the user
// in the loop for good, so the write is given up instead.
std::optional<ScopeStep::Outcome> CheckTrayIsEmpty(DriveTable& table) {
    if (table.WaitUntilReady()) return std::nullopt;
    const uint8_t testUnitReady[12] = {};
    if (table.SendCommand(testUnitReady, kNoData, nullptr, 0, 15) != kCommandCompleted) {
        if (table.SenseKey() == kSenseNoMedium.key && table.SenseAsc() == kSenseNoMedium.asc)
            return std::nullopt;
        return ScopeStep::Outcome::TrayUnknown;
    }
    table.MoveTray(true);
    return ScopeStep::Outcome::RemoveMedia;
}

ScopeStep TrayCheckAndWrite(const AppState& state, DriveTable& table, bool forOverSpeed, bool closeTrayFirst,
                            const ScopeWrite& write) {
    SelectPageDrive(state, table);
    if (closeTrayFirst) table.MoveTray(false);
    if (forOverSpeed) {
        if (const std::optional<ScopeStep::Outcome> tray = CheckTrayIsEmpty(table)) return ScopeStep{*tray};
    }
    const std::optional<uint8_t> status = WithVendorModeOnPageDrive(state, table, [&write](DriveTable& t) {
        return write.operation == OptionOperation::WriteLumard ? WriteLumard(t, write.byte8, write.byte9)
                                                               : WriteOverSpeed(t, write.byte8);
    });
    if (!status) return ScopeStep{ScopeStep::Outcome::VendorRefused};
    return ScopeStep{ScopeStep::Outcome::Sent, *status};
}

uint8_t PairByte(bool on, bool off, SettingScope scope) {
    if (on) return OptionStateByte(true, scope);
    if (off) return OptionStateByte(false, scope);
    return 0;
}

}  // namespace

ScopeWrite ScopeWriteFor(const ScopeRequest& request, SettingScope scope) {
    if (request.forLumard) {
        return {OptionOperation::WriteLumard, PairByte(request.unknownDiscOn, request.unknownDiscOff, scope),
                PairByte(request.supportedDiscOn, request.supportedDiscOff, scope)};
    }
    return {OptionOperation::WriteOverSpeed, OptionStateByte(request.overSpeedOn, scope), 0};
}

SettingScopeDialog::SettingScopeDialog(const AppServices& services, const ScopeRequest& request,
                                       QWidget* parent)
    : QDialog(parent),
      m_services(services),
      m_request(request),
      m_status(NewDriveStatusLine(*this, QStringLiteral("driveStatus"))),
      m_drive(*this, services, m_status) {
    BuildControls();
    findChild<QLabel*>(ControlName(kTemporaryText))->setText(LoadString(133));
    findChild<QLabel*>(ControlName(kPermanentText))->setText(LoadString(134));
    // Without a drive there is nothing to write to, and the empty-tray wait of an OverSpeed write
    // could never end: the buttons work only once drives were found.
    auto* temporary = findChild<QPushButton*>(ControlName(kTemporaryButton));
    auto* permanent = findChild<QPushButton*>(ControlName(kPermanentButton));
    temporary->setEnabled(false);
    permanent->setEnabled(false);
    m_drive.Open([temporary, permanent](int drives) {
        temporary->setEnabled(drives > 0);
        permanent->setEnabled(drives > 0);
    });
}

SettingScopeDialog::~SettingScopeDialog() = default;

void SettingScopeDialog::BuildControls() {
    setWindowTitle(QStringLiteral("Dialog"));
    setFont(DialogFont());
    const DialogUnits units(font());

    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
    layout->setHorizontalSpacing(units.X(10));
    layout->setVerticalSpacing(units.Y(4));

    auto addColumn = [&](int column, int buttonId, const QString& caption, int textId, SettingScope scope) {
        auto* button = new QPushButton(caption, this);
        SetControlId(button, buttonId);
        button->setAutoDefault(false);
        button->setMinimumSize(units.Size(70, 14));
        connect(button, &QPushButton::clicked, this, [this, scope] { Write(scope); });
        auto* text = new QLabel(this);
        SetControlId(text, textId);
        text->setWordWrap(true);
        text->setAlignment(Qt::AlignTop | Qt::AlignLeft);
        text->setMinimumWidth(units.X(90));
        layout->addWidget(button, 0, column, Qt::AlignHCenter);
        layout->addWidget(text, 1, column);
    };
    addColumn(0, kTemporaryButton, QStringLiteral("Temporal Setting"), kTemporaryText,
              SettingScope::Temporary);
    addColumn(1, kPermanentButton, QStringLiteral("System Setting"), kPermanentText, SettingScope::Permanent);
    layout->setRowStretch(1, 1);
    // "Drive activating…" and the like on a line of their own under the two columns.
    layout->addWidget(m_status, 2, 0, 1, 2);
    setMinimumSize(units.Size(210, 70));
}

void SettingScopeDialog::reject() {
    if (m_drive.Sequence().Running()) return;
    QDialog::reject();
}

void SettingScopeDialog::Write(SettingScope scope) {
    const char* question =
        scope == SettingScope::Temporary ? option_texts::kConfirmTemporary : option_texts::kConfirmPermanent;
    if (m_services.Ask(this, option_texts::kCaptionConfirm, question, PromptIcon::None,
                       PromptButtons::YesNo) != PromptAnswer::Yes) {
        return;
    }
    m_drive.Sequence().Start([this, scope] { BeginTrayCheckAndWrite(scope, false); });
}

void SettingScopeDialog::BeginTrayCheckAndWrite(SettingScope scope, bool closeTrayFirst) {
    const ScopeWrite write = ScopeWriteFor(m_request, scope);
    const bool forOverSpeed = m_request.forOverSpeed;
    m_drive.Sequence().Step(
        [forOverSpeed, closeTrayFirst, write, state = m_services.state](DriveTable& table,
                                                                        const WorkerContext&) {
            return TrayCheckAndWrite(*state, table, forOverSpeed, closeTrayFirst, write);
        },
        [this, scope, write](const ScopeStep& step) {
            switch (step.outcome) {
                case ScopeStep::Outcome::RemoveMedia:
                    // The question splits the loop: the tray closes and the drive is asked again
                    // once the user has answered.
                    m_services.Ask(this, option_texts::kCaptionNote, option_texts::kRemoveMedia,
                                   PromptIcon::None, PromptButtons::Ok);
                    BeginTrayCheckAndWrite(scope, true);
                    return;
                case ScopeStep::Outcome::TrayUnknown:
                    m_services.Inform(this, option_texts::kSetCommandFail);
                    return;
                case ScopeStep::Outcome::VendorRefused:
                    m_services.Inform(this, option_texts::kNotSupportTheDrive);
                    return;
                case ScopeStep::Outcome::Sent:
                    // Whether the drive took it, the caller's read tells, also after a failed or
                    // lost answer.
                    m_written = write;
                    m_writeCompleted = step.status == kCommandCompleted;
                    accept();
                    return;
            }
        });
}

}  // namespace dravix
