#include "pages/TestWrite.h"

#include <QFrame>
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

CTestWrite::CTestWrite(QWidget* parent)
    : PropertyPage(kDialogId, QStringLiteral("Test Write"), kTabIconId, parent) {
    BuildControls();
}

CTestWrite::~CTestWrite() = default;

void CTestWrite::BuildControls() {
    setFont(DialogFont());
    const DialogUnits units(font());

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(units.X(7), units.Y(4), units.X(7), units.Y(3));
    page->setSpacing(units.Y(3));

    // One row: the drive's state and Check, then the proposal and Set.
    m_icon = new QLabel(this);
    SetControlId(m_icon, kStatusIconId);
    m_icon->setFixedSize(32, 32);
    m_check = new QPushButton(QStringLiteral("Check"), this);
    SetControlId(m_check, kCheckId);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    m_enable = new QRadioButton(QStringLiteral("Enable"), this);
    SetControlId(m_enable, kEnableId);
    m_disable = new QRadioButton(QStringLiteral("Disable(default)"), this);
    SetControlId(m_disable, kDisableId);
    m_set = new QPushButton(QStringLiteral("Set"), this);
    SetControlId(m_set, kSetId);

    auto* controls = new QHBoxLayout;
    controls->addWidget(m_icon);
    controls->addSpacing(units.X(6));
    controls->addWidget(m_check);
    controls->addSpacing(units.X(10));
    controls->addWidget(separator);
    controls->addSpacing(units.X(10));
    controls->addWidget(m_enable);
    controls->addSpacing(units.X(6));
    controls->addWidget(m_disable);
    controls->addStretch(1);
    controls->addWidget(m_set);
    page->addLayout(controls);

    auto* rule = new QFrame(this);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    page->addWidget(rule);

    for (QPushButton* button : {m_check, m_set}) button->setMinimumSize(units.Size(50, 14));

    // The notes carry their own line breaks and runs of blanks; they are shown as written.
    m_note = new QLabel(this);
    SetControlId(m_note, kNoteId);
    m_note->setTextFormat(Qt::PlainText);
    m_note2 = new QLabel(this);
    SetControlId(m_note2, kNote2Id);
    m_note2->setTextFormat(Qt::PlainText);
    page->addWidget(m_note);
    page->addWidget(m_note2);
    page->addStretch(1);

    connect(m_check, &QPushButton::clicked, this, &CTestWrite::ReadState);
    connect(m_set, &QPushButton::clicked, this, &CTestWrite::SetState);
}

void CTestWrite::OnInitDialog() {
    m_note->setText(LoadString(121));
    m_note2->setText(LoadString(132));
    const int drives = m_drive.Open(this);
    if (drives < 0) return;
    if (drives == 0) {
        m_check->setEnabled(false);
        m_set->setEnabled(false);
    }
    ReadState();
}

void CTestWrite::OnSheetNotify() {
    ReadState();
}

void CTestWrite::ReadState() {
    if (!m_drive.BeginVendor(this)) return;
    OptionReply reply;
    uint8_t status = kCommandFailed;
    {
        BusyCursor busy;
        status = ReadSwitchStates(m_drive.Table(), reply);
    }
    if (status != kCommandCompleted) {
        Inform(this, option_texts::kSetCommandFail);
    } else if (const std::optional<bool> on = SwitchFlag(reply[kTestWriteByte])) {
        m_icon->setPixmap(LoadIconPixmap(*on ? kIconOn : kIconOff, 32));
        (*on ? m_enable : m_disable)->setChecked(true);
    }
    m_drive.EndVendor();
}

void CTestWrite::SetState() {
    if (!m_enable->isChecked() && !m_disable->isChecked()) {
        Inform(this, option_texts::kMustSelectTestWrite);
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
        status = SetTestWrite(table, m_enable->isChecked());
    }
    if (status != kCommandCompleted) Inform(this, option_texts::kSetCommandFail);
    m_drive.EndVendor();
    // The read has its own vendor mode sequence, so it follows this one's end.
    if (status == kCommandCompleted) ReadState();
}

}  // namespace dravix
