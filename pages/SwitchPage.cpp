#include "pages/SwitchPage.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/BusyCursor.h"
#include "app/DialogUnits.h"
#include "app/Prompter.h"
#include "res/Icons.h"
#include "res/Strings.h"

namespace dravix {

uint8_t RunBusy(const std::function<uint8_t()>& command) {
    BusyCursor busy;
    return command();
}

bool ReadStates(PageDrive& drive, QWidget* owner, StateRead read,
                const std::function<void(const OptionReply&)>& show) {
    if (!drive.BeginVendor(owner)) return false;
    OptionReply reply;
    const uint8_t status = RunBusy([&] { return read(drive.Table(), reply); });
    if (status != kCommandCompleted) {
        Inform(owner, option_texts::kSetCommandFail);
    } else {
        show(reply);
    }
    drive.EndVendor();
    return true;
}

void ShowState(std::optional<bool> on, QLabel* icon, QRadioButton* onButton, QRadioButton* offButton,
               int iconOn, int iconOff) {
    if (!on) return;
    icon->setPixmap(LoadIconPixmap(*on ? iconOn : iconOff, 32));
    (*on ? onButton : offButton)->setChecked(true);
}

SwitchPage::SwitchPage(const SwitchPageSpec& spec, QWidget* parent)
    : PropertyPage(spec.dialogId, QString::fromLatin1(spec.title), spec.tabIconId, parent), m_spec(spec) {
    BuildControls();
}

SwitchPage::~SwitchPage() = default;

void SwitchPage::BuildControls() {
    setFont(DialogFont());
    const DialogUnits units(font());

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(units.X(7), units.Y(4), units.X(7), units.Y(3));
    page->setSpacing(units.Y(3));

    // One row: the drive's state and Check, then the proposal and Set.
    m_icon = new QLabel(this);
    SetControlId(m_icon, m_spec.statusIconId);
    m_icon->setFixedSize(32, 32);
    m_check = new QPushButton(QStringLiteral("Check"), this);
    SetControlId(m_check, m_spec.checkId);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    m_enable = new QRadioButton(QString::fromLatin1(m_spec.enableText), this);
    SetControlId(m_enable, m_spec.enableId);
    m_disable = new QRadioButton(QString::fromLatin1(m_spec.disableText), this);
    SetControlId(m_disable, m_spec.disableId);
    m_set = new QPushButton(QStringLiteral("Set"), this);
    SetControlId(m_set, m_spec.setId);

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

    // Notes that carry their own line breaks and runs of blanks are shown as written.
    for (size_t i = 0; i < m_notes.size(); ++i) {
        if (m_spec.notes[i].id == 0) continue;
        m_notes[i] = new QLabel(this);
        SetControlId(m_notes[i], m_spec.notes[i].id);
        m_notes[i]->setTextFormat(Qt::PlainText);
        m_notes[i]->setWordWrap(m_spec.wrapNotes);
        page->addWidget(m_notes[i]);
    }
    page->addStretch(1);

    connect(m_check, &QPushButton::clicked, this, &SwitchPage::ReadState);
    connect(m_set, &QPushButton::clicked, this, &SwitchPage::SetState);
}

void SwitchPage::OnInitDialog() {
    for (size_t i = 0; i < m_notes.size(); ++i) {
        if (m_notes[i] != nullptr) m_notes[i]->setText(LoadString(m_spec.notes[i].stringId));
    }
    const int drives = m_drive.Open(this);
    if (drives < 0) return;
    if (drives == 0) {
        m_check->setEnabled(false);
        m_set->setEnabled(false);
    }
    ReadState();
}

void SwitchPage::OnSheetNotify() {
    ReadState();
}

void SwitchPage::ReadState() {
    ReadStates(m_drive, this, m_spec.read, [this](const OptionReply& reply) {
        ShowState(m_spec.stateOf(reply), m_icon, m_enable, m_disable, m_spec.iconOn, m_spec.iconOff);
    });
}

void SwitchPage::SetState() {
    if (!m_enable->isChecked() && !m_disable->isChecked()) {
        Inform(this, m_spec.mustSelect);
        return;
    }
    Write(m_enable->isChecked());
}

void SwitchPage::WriteSwitch(uint8_t (*set)(DriveTable& table, bool value), bool value) {
    // Not BeginVendor: a refused vendor mode says "Not support the drive!" here, after the busy
    // cursor is gone.
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
    const uint8_t status = RunBusy([&] { return set(table, value); });
    if (status != kCommandCompleted) Inform(this, option_texts::kSetCommandFail);
    m_drive.EndVendor();
    // The read has its own vendor mode sequence, so it follows this one's end.
    if (status == kCommandCompleted) ReadState();
}

}  // namespace dravix
