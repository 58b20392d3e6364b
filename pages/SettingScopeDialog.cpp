#include "pages/SettingScopeDialog.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "app/BusyCursor.h"
#include "app/DialogUnits.h"
#include "app/Prompter.h"
#include "app/PropertyPage.h"
#include "res/Strings.h"

namespace dravix {

namespace {

constexpr int kTemporaryButton = 1010;
constexpr int kPermanentButton = 1015;
constexpr int kTemporaryText = 1077;
constexpr int kPermanentText = 1078;

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

SettingScopeDialog::SettingScopeDialog(const ScopeRequest& request, QWidget* parent)
    : QDialog(parent), m_request(request) {
    BuildControls();
    findChild<QLabel*>(ControlName(kTemporaryText))->setText(LoadString(133));
    findChild<QLabel*>(ControlName(kPermanentText))->setText(LoadString(134));
    // Without a drive there is nothing to write to, and the empty-tray wait of an OverSpeed write
    // could never end: the buttons stay disabled (also when the transport is not ready).
    if (m_drive.Open(this) <= 0) {
        findChild<QPushButton*>(ControlName(kTemporaryButton))->setEnabled(false);
        findChild<QPushButton*>(ControlName(kPermanentButton))->setEnabled(false);
    }
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
    setMinimumSize(units.Size(210, 70));
}

bool SettingScopeDialog::WaitForEmptyTray() {
    DriveTable& table = m_drive.Table();
    // The user takes the disc out of the open tray; a drive reporting no medium ends this.
    while (!table.WaitUntilReady()) {
        // Only a drive that is ready holds a disc the user can take out. One that fails in another
        // way would keep the user in this loop for good: the write is given up instead.
        const uint8_t testUnitReady[12] = {};
        if (table.SendCommand(testUnitReady, kNoData, nullptr, 0, 15) != kCommandCompleted) {
            if (table.SenseKey() == 0x02 && table.SenseAsc() == 0x3A) return true;
            return false;
        }
        table.MoveTray(true);
        Ask(this, option_texts::kCaptionNote, option_texts::kRemoveMedia, PromptIcon::None,
            PromptButtons::Ok);
        table.MoveTray(false);
    }
    return true;
}

void SettingScopeDialog::Write(SettingScope scope) {
    const char* question =
        scope == SettingScope::Temporary ? option_texts::kConfirmTemporary : option_texts::kConfirmPermanent;
    if (Ask(this, option_texts::kCaptionConfirm, question, PromptIcon::None, PromptButtons::YesNo) !=
        PromptAnswer::Yes) {
        return;
    }
    m_drive.SelectIfChanged();
    if (m_request.forOverSpeed && !WaitForEmptyTray()) {
        Inform(this, option_texts::kSetCommandFail);
        return;
    }

    DriveTable& table = m_drive.Table();
    bool vendorOn = false;
    {
        BusyCursor busy;
        table.WaitUntilReady();
        vendorOn = table.SetVendorMode(true);
    }
    if (!vendorOn) {
        Inform(this, option_texts::kNotSupportTheDrive);
        return;
    }
    const ScopeWrite write = ScopeWriteFor(m_request, scope);
    uint8_t status = kCommandFailed;
    {
        BusyCursor busy;
        status = write.operation == OptionOperation::WriteLumard
                     ? WriteLumard(table, write.byte8, write.byte9)
                     : WriteOverSpeed(table, write.byte8);
    }
    if (status != kCommandCompleted) Inform(this, option_texts::kSetCommandFail);
    table.SetVendorMode(false);
    accept();
}

}  // namespace dravix
