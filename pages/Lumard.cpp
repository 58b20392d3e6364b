#include "pages/Lumard.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/DialogUnits.h"
#include "app/Prompter.h"
#include "pages/SettingScopeDialog.h"

namespace dravix {

namespace {

QLabel* SunkenField(QWidget* parent, int id, int minimumWidth) {
    auto* field = new QLabel(parent);
    SetControlId(field, id);
    field->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    field->setTextFormat(Qt::PlainText);
    field->setMinimumWidth(minimumWidth);
    return field;
}

QRadioButton* Radio(const QString& text, int id, QWidget* parent, QButtonGroup* group) {
    auto* radio = new QRadioButton(text, parent);
    SetControlId(radio, id);
    group->addButton(radio);
    return radio;
}

}  // namespace

CSLWS::CSLWS(QWidget* parent) : PropertyPage(kDialogId, QStringLiteral("Lumard"), kTabIconId, parent) {
    BuildControls();
}

CSLWS::~CSLWS() = default;

void CSLWS::BuildControls() {
    setFont(DialogFont());
    const DialogUnits units(font());

    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(units.X(7), units.Y(7), units.X(7), units.Y(7));
    page->setSpacing(units.Y(7));

    auto* status = new QGroupBox(QStringLiteral("Status"), this);
    auto* statusGrid = new QGridLayout(status);
    m_supportedIcon = new QLabel(status);
    SetControlId(m_supportedIcon, kSupportedIconId);
    m_unknownIcon = new QLabel(status);
    SetControlId(m_unknownIcon, kUnknownIconId);
    for (QLabel* icon : {m_supportedIcon, m_unknownIcon}) icon->setFixedSize(32, 32);
    m_check = new QPushButton(QStringLiteral("Check"), status);
    SetControlId(m_check, kCheckId);
    statusGrid->addWidget(m_supportedIcon, 0, 0, Qt::AlignHCenter);
    statusGrid->addWidget(m_unknownIcon, 1, 0, Qt::AlignHCenter);
    statusGrid->addWidget(m_check, 2, 0);

    // Each pair is exclusive within itself only.
    auto* setting = new QGroupBox(QStringLiteral("Setting"), this);
    auto* settingGrid = new QGridLayout(setting);
    auto* supportedGroup = new QButtonGroup(this);
    auto* unknownGroup = new QButtonGroup(this);
    m_supportedOn = Radio(QStringLiteral("Activated"), kSupportedOnId, setting, supportedGroup);
    m_supportedOff =
        Radio(QStringLiteral("Non-Activated(default)"), kSupportedOffId, setting, supportedGroup);
    m_unknownOn = Radio(QStringLiteral("Activated(default)"), kUnknownOnId, setting, unknownGroup);
    m_unknownOff = Radio(QStringLiteral("Non-Activated"), kUnknownOffId, setting, unknownGroup);
    m_set = new QPushButton(QStringLiteral("Set"), setting);
    SetControlId(m_set, kSetId);
    settingGrid->addWidget(new QLabel(QStringLiteral("Supported Disc"), setting), 0, 0);
    settingGrid->addWidget(m_supportedOn, 0, 1);
    settingGrid->addWidget(m_supportedOff, 0, 2);
    settingGrid->addWidget(new QLabel(QStringLiteral("Un-Known Disc"), setting), 1, 0);
    settingGrid->addWidget(m_unknownOn, 1, 1);
    settingGrid->addWidget(m_unknownOff, 1, 2);
    settingGrid->addWidget(m_set, 2, 2, Qt::AlignRight);
    for (int row : {0, 1}) settingGrid->setRowMinimumHeight(row, 32);
    settingGrid->setColumnStretch(3, 1);

    auto* upper = new QHBoxLayout;
    upper->addWidget(status);
    upper->addWidget(setting, 1);
    page->addLayout(upper);

    auto* clean = new QGroupBox(QStringLiteral("EEPROM Clean Tool"), this);
    auto* cleanGrid = new QGridLayout(clean);
    auto* countRow = new QHBoxLayout;
    countRow->addWidget(new QLabel(QStringLiteral("Learned Disc :"), clean));
    m_learnedCount = SunkenField(clean, kLearnedCountId, units.X(30));
    countRow->addWidget(m_learnedCount);
    countRow->addWidget(new QLabel(QStringLiteral("pcs"), clean));
    countRow->addStretch(1);
    cleanGrid->addLayout(countRow, 0, 0, 1, 4);
    cleanGrid->addWidget(new QLabel(QStringLiteral("Media Information :"), clean), 1, 0, 1, 4);
    for (int i = 0; i < kShownRecords; ++i) {
        const int column = i < 3 ? 0 : 2;
        const int row = 2 + i % 3;
        cleanGrid->addWidget(new QLabel(QString::number(i + 1), clean), row, column, Qt::AlignRight);
        m_records[i] = SunkenField(clean, kFirstRecordId + i, units.X(80));
        cleanGrid->addWidget(m_records[i], row, column + 1);
    }
    m_clean = new QPushButton(QStringLiteral("Clean"), clean);
    SetControlId(m_clean, kCleanId);
    cleanGrid->addWidget(m_clean, 5, 3, Qt::AlignRight);
    cleanGrid->setColumnStretch(1, 1);
    cleanGrid->setColumnStretch(3, 1);
    page->addWidget(clean);
    page->addStretch(1);

    for (QPushButton* button : {m_check, m_set, m_clean}) button->setMinimumSize(units.Size(50, 14));

    connect(m_check, &QPushButton::clicked, this, &CSLWS::StatusCheck);
    connect(m_set, &QPushButton::clicked, this, &CSLWS::SetSetting);
    connect(m_clean, &QPushButton::clicked, this, &CSLWS::Clean);
}

void CSLWS::OnInitDialog() {
    const int drives = m_drive.Open(this);
    if (drives < 0) return;
    if (drives == 0) {
        m_check->setEnabled(false);
        m_set->setEnabled(false);
        m_clean->setEnabled(false);
    }
    if (!ReadLearnedCountField()) return;
    if (!ReadMediaInformationFields()) return;
    StatusCheck();
}

void CSLWS::OnSheetNotify() {
    StatusCheck();
}

void CSLWS::StatusCheck() {
    ReadStates(m_drive, this, ReadOptionStates, [this](const OptionReply& reply) {
        ShowState(OptionStateIsOn(reply[kUnknownDiscByte]), m_unknownIcon, m_unknownOn, m_unknownOff,
                  kIconActivated, kIconNotActivated);
        ShowState(OptionStateIsOn(reply[kSupportedDiscByte]), m_supportedIcon, m_supportedOn, m_supportedOff,
                  kIconActivated, kIconNotActivated);
    });
}

void CSLWS::SetSetting() {
    // A failed state read still lets the choice below go on; an active OverSpeed does not.
    bool overSpeedOn = false;
    const bool read = ReadStates(m_drive, this, ReadOptionStates, [&](const OptionReply& reply) {
        overSpeedOn = OptionStateIsOn(reply[kOverSpeedByte]).value_or(false);
        if (overSpeedOn) {
            Ask(this, option_texts::kCaptionWarning, option_texts::kLumardOverSpeedActive,
                PromptIcon::Exclamation, PromptButtons::Ok);
        }
    });
    if (!read || overSpeedOn) return;

    if (!m_supportedOn->isChecked() && !m_supportedOff->isChecked() && !m_unknownOn->isChecked() &&
        !m_unknownOff->isChecked()) {
        Inform(this, option_texts::kMustSelectLumard);
        return;
    }
    ScopeRequest request;
    request.forLumard = true;
    request.supportedDiscOn = m_supportedOn->isChecked();
    request.supportedDiscOff = !request.supportedDiscOn && m_supportedOff->isChecked();
    request.unknownDiscOn = m_unknownOn->isChecked();
    request.unknownDiscOff = !request.unknownDiscOn && m_unknownOff->isChecked();
    {
        SettingScopeDialog dialog(request, this);
        RunModal(dialog);
    }
    StatusCheck();
}

void CSLWS::Clean() {
    if (Ask(this, option_texts::kCaptionWarning, option_texts::kCleanWarning, PromptIcon::Exclamation,
            PromptButtons::YesNo) != PromptAnswer::Yes) {
        return;
    }
    if (!m_drive.BeginVendor(this)) return;
    const uint8_t status = RunBusy([this] { return ClearLearnedDiscs(m_drive.Table()); });
    if (status != kCommandCompleted) Inform(this, option_texts::kClearFail);
    m_drive.EndVendor();
    ReadLearnedCountField();
    ReadMediaInformationFields();
}

bool CSLWS::ReadLearnedCountField() {
    if (!m_drive.BeginVendor(this)) return false;
    OptionReply reply;
    const uint8_t status = RunBusy([&] { return ReadLearnedCount(m_drive.Table(), reply); });
    if (status == kCommandCompleted) m_learnedCount->setText(QString::number(LearnedCountOf(reply)));
    m_drive.EndVendor();
    return status == kCommandCompleted;
}

bool CSLWS::ReadMediaInformationFields() {
    if (!m_drive.BeginVendor(this)) return false;
    MediaInformationReply reply;
    const uint8_t status = RunBusy([&] { return ReadMediaInformation(m_drive.Table(), reply); });
    for (QLabel* field : m_records) field->clear();
    if (status != kCommandCompleted) {
        m_drive.EndVendor();
        return false;
    }
    const MediaInformation info = DecodeMediaInformation(reply);
    if (!info.headerValid) {
        Inform(this, option_texts::kResponseError);
        m_drive.EndVendor();
        return false;
    }
    for (size_t i = 0; i < info.records.size() && i < m_records.size(); ++i) {
        m_records[i]->setText(
            QString::fromLatin1(info.records[i].data(), static_cast<int>(info.records[i].size())));
    }
    m_drive.EndVendor();
    return true;
}

}  // namespace dravix
