#include "pages/Wopc.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/BusyCursor.h"
#include "app/DialogUnits.h"
#include "app/Prompter.h"
#include "drive/OptionCommands.h"
#include "res/Icons.h"
#include "res/Strings.h"

namespace dravix {

CWOPC::CWOPC(QWidget* parent)
    : PropertyPage(kDialogId, QStringLiteral("WOPC"), kTabIconId, parent) {
    BuildControls();
}

CWOPC::~CWOPC() = default;

void CWOPC::BuildControls() {
    setFont(DialogFont());
    const DialogUnits units(font());

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
    page->setSpacing(units.Y(5));

    auto* status = new QGroupBox(this);
    auto* statusRow = new QHBoxLayout(status);
    m_icon = new QLabel(status);
    SetControlId(m_icon, kStatusIconId);
    m_icon->setFixedSize(32, 32);
    m_check = new QPushButton(QStringLiteral("Check"), status);
    SetControlId(m_check, kCheckId);
    statusRow->addWidget(m_icon);
    statusRow->addSpacing(units.X(10));
    statusRow->addWidget(m_check);

    auto* setting = new QGroupBox(this);
    auto* settingRow = new QHBoxLayout(setting);
    m_enable = new QRadioButton(QStringLiteral("Enable(default)"), setting);
    SetControlId(m_enable, kEnableId);
    m_disable = new QRadioButton(QStringLiteral("Disable"), setting);
    SetControlId(m_disable, kDisableId);
    m_set = new QPushButton(QStringLiteral("Set"), setting);
    SetControlId(m_set, kSetId);
    settingRow->addWidget(m_enable);
    settingRow->addWidget(m_disable);
    settingRow->addStretch(1);
    settingRow->addWidget(m_set);

    for (QPushButton* button : {m_check, m_set}) button->setMinimumSize(units.Size(50, 14));

    auto* controls = new QHBoxLayout;
    controls->addWidget(status);
    controls->addWidget(setting, 1);
    page->addLayout(controls);

    // The note carries its own line breaks and runs of blanks; it is shown as written.
    m_note = new QLabel(this);
    SetControlId(m_note, kNoteId);
    m_note->setTextFormat(Qt::PlainText);
    page->addWidget(m_note);
    page->addStretch(1);

    connect(m_check, &QPushButton::clicked, this, &CWOPC::ReadState);
    connect(m_set, &QPushButton::clicked, this, &CWOPC::SetState);
}

void CWOPC::OnInitDialog() {
    m_note->setText(LoadString(120));
    const int drives = m_drive.Open(this);
    if (drives < 0) return;
    if (drives == 0) {
        m_check->setEnabled(false);
        m_set->setEnabled(false);
    }
    ReadState();
}

void CWOPC::OnSheetNotify() { ReadState(); }

void CWOPC::ReadState() {
    if (!m_drive.BeginVendor(this)) return;
    OptionReply reply;
    uint8_t status = kCommandFailed;
    {
        BusyCursor busy;
        status = ReadSwitchStates(m_drive.Table(), reply);
    }
    if (status != kCommandCompleted) {
        Inform(this, option_texts::kSetCommandFail);
    } else if (const std::optional<bool> disabled = SwitchFlag(reply[kWopcDisabledByte])) {
        m_icon->setPixmap(LoadIconPixmap(*disabled ? kIconOff : kIconOn, 32));
        (*disabled ? m_disable : m_enable)->setChecked(true);
    }
    m_drive.EndVendor();
}

void CWOPC::SetState() {
    if (!m_enable->isChecked() && !m_disable->isChecked()) {
        Inform(this, option_texts::kMustSelectWopc);
        return;
    }
    DriveTable& table = m_drive.Table();
    bool vendorOn = false;
    {
        BusyCursor busy;
        m_drive.SelectIfChanged();
        table.WaitUntilReady();
        vendorOn = table.SetVendorMode(true);
    }
    if (!vendorOn) {
        Inform(this, option_texts::kNotSupportTheDrive);
        return;
    }
    uint8_t status = kCommandFailed;
    {
        BusyCursor busy;
        status = SetWopcDisabled(table, !m_enable->isChecked());
    }
    if (status != kCommandCompleted) Inform(this, option_texts::kSetCommandFail);
    m_drive.EndVendor();
    // The read has its own vendor mode sequence, so it follows this one's end.
    if (status == kCommandCompleted) ReadState();
}

}  // namespace dravix
