#include "pages/Lumard.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "drive/VendorMode.h"
#include "pages/SettingScopeDialog.h"
#include "ui/DialogUnits.h"
#include "ui/Services.h"

namespace dravix {

namespace {

// Only the command line reads the learned discs on request; the page reads them when it opens.
constexpr const char* kReadLearnedAgain = "`dravix-cli lumard learned`";

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

// What the learned-disc step found.
struct CSLWS::LearnedDiscs {
    StateRead count;  // the learned count, read as the option states are
    bool informationAsked = false;
    bool informationRefused = false;  // vendor mode on was refused before the media information
    uint8_t informationStatus = kCommandFailed;
    MediaInformationReply information{};
    // The answer's header is wrong: "Response error data!" comes before vendor mode off, which
    // a step of its own sends after the box.
    bool vendorLeftOn = false;
};

CSLWS::CSLWS(const AppServices& services, QWidget* parent)
    : PropertyPage(kDialogId, QStringLiteral("Lumard"), kTabIconId, services, parent),
      m_drive(*this, services) {
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
    m_drive.Open([this](int drives) {
        if (drives == 0) {
            m_check->setEnabled(false);
            m_set->setEnabled(false);
            m_clean->setEnabled(false);
        }
        BeginLearnedDiscs(true, [this] { BeginStatusCheck(); });
    });
}

void CSLWS::OnSheetNotify() {
    StatusCheck();
}

void CSLWS::StatusCheck() {
    Sequence().Start([this] { BeginStatusCheck(); });
}

void CSLWS::BeginStatusCheck(WrittenValue written) {
    Sequence().Step(
        [state = Services().state](DriveTable& table, const WorkerContext&) {
            return ReadStatesOnDrive(*state, table, ReadOptionStates);
        },
        [this, written = std::move(written)](const StateRead& read) {
            ShowStateAfterWrite(Services(), this, read, written, [this](const OptionReply& reply) {
                ShowState(OptionStateIsOn(reply[kUnknownDiscByte]), m_unknownIcon, m_unknownOn, m_unknownOff,
                          kIconActivated, kIconNotActivated);
                ShowState(OptionStateIsOn(reply[kSupportedDiscByte]), m_supportedIcon, m_supportedOn,
                          m_supportedOff, kIconActivated, kIconNotActivated);
                ShowScopeTip(reply[kUnknownDiscByte], m_unknownIcon);
                ShowScopeTip(reply[kSupportedDiscByte], m_supportedIcon);
            });
        });
}

void CSLWS::SetSetting() {
    Sequence().Start([this] {
        Sequence().Step(
            [state = Services().state](DriveTable& table, const WorkerContext&) {
                SetRead found;
                SelectPageDrive(*state, table);
                table.WaitUntilReady();
                VendorModeScope vendor(table);
                found.read.vendorRefused = !vendor;
                if (!vendor) return found;
                found.read.status = ReadOptionStates(table, found.read.reply);
                // A failed read's box and an active OverSpeed's come before vendor mode off.
                found.vendorLeftOn = found.read.status != kCommandCompleted ||
                                     OptionStateIsOn(found.read.reply[kOverSpeedByte]).value_or(false);
                if (found.vendorLeftOn) vendor.Keep();
                return found;
            },
            [this](const SetRead& found) { AfterSetRead(found); });
    });
}

void CSLWS::AfterSetRead(const SetRead& found) {
    const StateRead& read = found.read;
    if (read.vendorRefused) {
        ShowStateReadFailure(Services(), this, read);
        return;
    }
    // A failed state read still lets the choice below go on; an active OverSpeed does not.
    const bool goOn = read.status != kCommandCompleted;
    if (read.status != kCommandCompleted) {
        Services().Inform(this, option_texts::kSetCommandFail);
    } else if (found.vendorLeftOn) {
        Services().Ask(this, option_texts::kCaptionWarning, option_texts::kLumardOverSpeedActive,
                       PromptIcon::Exclamation, PromptButtons::Ok);
    }
    if (!found.vendorLeftOn) {
        ChooseAndWrite();
        return;
    }
    Sequence().Step([](DriveTable& table, const WorkerContext&) { VendorModeScope::Resume(table).End(); },
                    [this, goOn] {
                        if (goOn) ChooseAndWrite();
                    });
}

void CSLWS::ChooseAndWrite() {
    if (!m_supportedOn->isChecked() && !m_supportedOff->isChecked() && !m_unknownOn->isChecked() &&
        !m_unknownOff->isChecked()) {
        Services().Inform(this, option_texts::kMustSelectLumard);
        return;
    }
    ScopeRequest request;
    request.forLumard = true;
    request.supportedDiscOn = m_supportedOn->isChecked();
    request.supportedDiscOff = !request.supportedDiscOn && m_supportedOff->isChecked();
    request.unknownDiscOn = m_unknownOn->isChecked();
    request.unknownDiscOff = !request.unknownDiscOn && m_unknownOff->isChecked();
    std::optional<ScopeWrite> written;
    WrittenValue check;
    {
        SettingScopeDialog dialog(Services(), request, this);
        Services().RunModal(dialog);
        written = dialog.Written();
        check.completed = dialog.WriteCompleted();
    }
    // A pair the drive did not take is a failed write; one it holds is a write done.
    if (written) {
        check.holds = [write = *written](const OptionReply& reply) {
            return reply[kUnknownDiscByte] == write.byte8 && reply[kSupportedDiscByte] == write.byte9;
        };
    }
    BeginStatusCheck(std::move(check));
}

void CSLWS::Clean() {
    if (Services().Ask(this, option_texts::kCaptionWarning, option_texts::kCleanWarning,
                       PromptIcon::Exclamation, PromptButtons::YesNo) != PromptAnswer::Yes) {
        return;
    }
    Sequence().Start([this] {
        Sequence().Step(
            [state = Services().state](DriveTable& table, const WorkerContext&) {
                return WithVendorModeOnPageDrive(*state, table,
                                                 [](DriveTable& t) { return ClearLearnedDiscs(t); });
            },
            [this](std::optional<uint8_t> status) {
                if (!status) {
                    ShowStateReadFailure(Services(), this, StateRead{.vendorRefused = true});
                    return;
                }
                // A clear whose answer failed may still have cleared: the count read after it
                // tells.
                BeginLearnedDiscs(false, {}, *status == kCommandCompleted);
            });
    });
}

void CSLWS::BeginLearnedDiscs(bool stopAtFailure, std::function<void()> then,
                              std::optional<bool> clearCompleted) {
    Sequence().Step(
        [stopAtFailure, state = Services().state](DriveTable& table, const WorkerContext&) {
            LearnedDiscs discs;
            discs.count = ReadStatesOnDrive(*state, table, ReadLearnedCount);
            const bool countRead = !discs.count.vendorRefused && discs.count.status == kCommandCompleted;
            if (stopAtFailure && !countRead) return discs;
            discs.informationAsked = true;
            SelectPageDrive(*state, table);
            table.WaitUntilReady();
            VendorModeScope vendor(table);
            discs.informationRefused = !vendor;
            if (!vendor) return discs;
            discs.informationStatus = ReadMediaInformation(table, discs.information);
            discs.vendorLeftOn = discs.informationStatus == kCommandCompleted &&
                                 !DecodeMediaInformation(discs.information).headerValid;
            if (discs.vendorLeftOn) vendor.Keep();
            return discs;
        },
        [this, then = std::move(then), clearCompleted](const LearnedDiscs& discs) {
            bool shown = false;
            if (clearCompleted) {
                ShowLearnedDiscsAfterClear(discs, *clearCompleted);
            } else {
                shown = ShowLearnedDiscs(discs);
            }
            if (discs.vendorLeftOn) {
                Sequence().Step(
                    [](DriveTable& table, const WorkerContext&) { VendorModeScope::Resume(table).End(); },
                    [] {});
                return;
            }
            if (shown && then) then();
        });
}

void CSLWS::ShowLearnedDiscsAfterClear(const LearnedDiscs& discs, bool clearCompleted) {
    const bool countRead = !discs.count.vendorRefused && discs.count.status == kCommandCompleted;
    const WriteOutcome outcome =
        ClassifyWrite(clearCompleted,
                      countRead ? std::optional<bool>(LearnedCountOf(discs.count.reply) == 0) : std::nullopt);
    if (outcome.check == WriteCheck::Unknown) {
        Services().Inform(this, AnswerLostMessage(option_texts::kClearFail, kReadLearnedAgain));
        return;
    }
    // The drive took vendor mode for the clear: a refusal now is a read that failed, and a count
    // the page cannot show would leave the count from before the clear standing.
    LearnedDiscs shown = discs;
    if (shown.count.vendorRefused) shown.count = StateRead{};
    if (shown.informationRefused) shown.informationRefused = false;
    ShowLearnedDiscs(shown);
    if (outcome.check == WriteCheck::ReadBackFailed) Services().Inform(this, option_texts::kSetCommandFail);
    if (outcome.check == WriteCheck::WriteFailed) Services().Inform(this, option_texts::kClearFail);
}

bool CSLWS::ShowLearnedDiscs(const LearnedDiscs& discs) {
    bool shown = true;
    if (discs.count.vendorRefused) {
        ShowStateReadFailure(Services(), this, discs.count);
        shown = false;
    } else if (discs.count.status != kCommandCompleted) {
        shown = false;
    } else {
        m_learnedCount->setText(QString::number(LearnedCountOf(discs.count.reply)));
    }
    if (!discs.informationAsked) return false;
    if (discs.informationRefused) {
        ShowStateReadFailure(Services(), this, StateRead{.vendorRefused = true});
        return false;
    }
    for (QLabel* field : m_records) field->clear();
    if (discs.informationStatus != kCommandCompleted) return false;
    const MediaInformation info = DecodeMediaInformation(discs.information);
    if (!info.headerValid) {
        Services().Inform(this, option_texts::kResponseError);
        return false;
    }
    for (size_t i = 0; i < info.records.size() && i < m_records.size(); ++i) {
        m_records[i]->setText(
            QString::fromLatin1(info.records[i].data(), static_cast<int>(info.records[i].size())));
    }
    return shown;
}

}  // namespace dravix
