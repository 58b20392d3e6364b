#include "pages/SwitchPage.h"

#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>
#include <algorithm>

#include "drive/VendorMode.h"
#include "res/Icons.h"
#include "res/Strings.h"
#include "ui/DialogUnits.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"

namespace dravix {

namespace {

// The button of every switch page that reads the drive's state again.
constexpr const char* kCheckButton = "\"Check\"";

}  // namespace

bool ShowStateReadFailure(const AppServices& services, QWidget* owner, const StateRead& read) {
    if (read.vendorRefused) {
        services.Ask(owner, QString::fromLatin1(option_texts::kCaptionError),
                     LoadString(kStringDriveNotSupported), PromptIcon::None, PromptButtons::Ok);
        return false;
    }
    if (read.status != kCommandCompleted) {
        services.Inform(owner, QString::fromLatin1(option_texts::kSetCommandFail));
        return false;
    }
    return true;
}

void ShowStateAfterWrite(const AppServices& services, QWidget* owner, const StateRead& read,
                         const WrittenValue& written,
                         const std::function<void(const OptionReply& reply)>& show) {
    const bool readBack = !read.vendorRefused && read.status == kCommandCompleted;
    if (written.holds) {
        const WriteOutcome outcome = ClassifyWrite(
            written.completed, readBack ? std::optional<bool>(written.holds(read.reply)) : std::nullopt);
        if (outcome.check == WriteCheck::Unknown) {
            services.Inform(owner, AnswerLostMessage(option_texts::kSetCommandFail, kCheckButton));
            return;
        }
        // The drive took vendor mode and the write: a refusal now is a read that failed, not a
        // drive this program does not serve.
        if (outcome.check == WriteCheck::ReadBackFailed) {
            services.Inform(owner, QString::fromLatin1(option_texts::kSetCommandFail));
            return;
        }
        show(read.reply);
        if (outcome.check == WriteCheck::Differs || outcome.check == WriteCheck::WriteFailed)
            services.Inform(owner, QString::fromLatin1(option_texts::kSetCommandFail));
        return;
    }
    if (ShowStateReadFailure(services, owner, read)) show(read.reply);
}

void ShowState(std::optional<bool> on, QLabel* icon, QRadioButton* onButton, QRadioButton* offButton,
               int iconOn, int iconOff) {
    if (!on) return;
    icon->setPixmap(LoadIconPixmap(*on ? iconOn : iconOff, 32));
    (*on ? onButton : offButton)->setChecked(true);
}

void ShowScopeTip(uint8_t state, QLabel* icon) {
    icon->setToolTip(ProgramText(OptionStateDescription(state)));
}

SwitchPage::SwitchPage(const SwitchPageLayout& layout, const AppServices& services, QWidget* parent)
    : PropertyPage(layout.dialogId, QString::fromLatin1(layout.title), layout.tabIconId, services, parent),
      m_layout(layout),
      m_drive(*this, services) {
    BuildControls();
}

SwitchPage::~SwitchPage() = default;

void SwitchPage::BuildControls() {
    setFont(DialogFont());
    const DialogUnits units(font());

    auto* page = new QVBoxLayout(this);
    // Tight enough that a page with two notes has room for the blank line between them.
    page->setContentsMargins(units.X(7), units.Y(3), units.X(7), units.Y(2));
    page->setSpacing(units.Y(2));

    // One row: the drive's state and Check, then the proposal and Set.
    m_icon = new QLabel(this);
    SetControlId(m_icon, m_layout.statusIconId);
    m_icon->setFixedSize(32, 32);
    m_check = new QPushButton(QStringLiteral("Check"), this);
    SetControlId(m_check, m_layout.checkId);
    auto* separator = new QFrame(this);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    m_enable = new QRadioButton(QString::fromLatin1(m_layout.enableText), this);
    SetControlId(m_enable, m_layout.enableId);
    m_disable = new QRadioButton(QString::fromLatin1(m_layout.disableText), this);
    SetControlId(m_disable, m_layout.disableId);
    m_set = new QPushButton(QStringLiteral("Set"), this);
    SetControlId(m_set, m_layout.setId);

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
    bool firstNote = true;
    for (size_t i = 0; i < m_notes.size(); ++i) {
        if (m_layout.notes[i].id == 0) continue;
        // A note in a field of its own goes on after a blank line, as its paragraphs do.
        if (!firstNote) page->addSpacing(std::max(0, QFontMetrics(font()).lineSpacing() - page->spacing()));
        firstNote = false;
        m_notes[i] = new QLabel(this);
        SetControlId(m_notes[i], m_layout.notes[i].id);
        m_notes[i]->setTextFormat(Qt::PlainText);
        m_notes[i]->setWordWrap(m_layout.wrapNotes);
        page->addWidget(m_notes[i]);
    }
    page->addStretch(1);

    connect(m_check, &QPushButton::clicked, this, &SwitchPage::ReadState);
    connect(m_set, &QPushButton::clicked, this, &SwitchPage::SetState);
}

void SwitchPage::OnInitDialog() {
    for (size_t i = 0; i < m_notes.size(); ++i) {
        if (m_notes[i] != nullptr) m_notes[i]->setText(LoadString(m_layout.notes[i].stringId));
    }
    m_drive.Open([this](int drives) {
        if (drives == 0) {
            m_check->setEnabled(false);
            m_set->setEnabled(false);
        }
        BeginRead();
    });
}

void SwitchPage::OnSheetNotify() {
    ReadState();
}

void SwitchPage::ReadState() {
    Sequence().Start([this] { BeginRead(); });
}

void SwitchPage::BeginRead(WrittenValue written) {
    Sequence().Step(
        [read = m_layout.read, state = Services().state](DriveTable& table, const WorkerContext&) {
            return ReadStatesOnDrive(*state, table, read);
        },
        [this, written = std::move(written)](const StateRead& read) {
            ShowStateAfterWrite(Services(), this, read, written, [this](const OptionReply& reply) {
                ShowState(m_layout.stateOf(reply), m_icon, m_enable, m_disable, m_layout.iconOn,
                          m_layout.iconOff);
                if (m_layout.scopedStateOf) ShowScopeTip(m_layout.scopedStateOf(reply), m_icon);
            });
        });
}

void SwitchPage::SetState() {
    if (!m_enable->isChecked() && !m_disable->isChecked()) {
        Services().Inform(this, m_layout.mustSelect);
        return;
    }
    const bool enable = m_enable->isChecked();
    Sequence().Start([this, enable] { Write(enable); });
}

void SwitchPage::WriteSwitch(VerifiedWrite (*write)(DriveTable& table, bool value), bool value) {
    Sequence().Step(
        [write, value, state = Services().state](DriveTable& table, const WorkerContext&) {
            SelectPageDrive(*state, table);
            table.WaitUntilReady();
            return write(table, value);
        },
        [this](const VerifiedWrite& written) {
            switch (written.check) {
                case WriteCheck::Refused:
                    // A refused vendor mode says "Not support the drive!" here, not string 104.
                    Services().Inform(this, option_texts::kNotSupportTheDrive);
                    return;
                case WriteCheck::ReadBackFailed:
                    Services().Inform(this, option_texts::kSetCommandFail);
                    return;
                case WriteCheck::Unknown:
                    Services().Inform(this, AnswerLostMessage(option_texts::kSetCommandFail, kCheckButton));
                    return;
                case WriteCheck::Confirmed:
                case WriteCheck::Differs:
                case WriteCheck::WriteFailed:
                    // The page shows what the drive reports, also after a write whose answer
                    // failed; the drive has taken the value only when that is what was written.
                    ShowState(m_layout.stateOf(written.reported), m_icon, m_enable, m_disable,
                              m_layout.iconOn, m_layout.iconOff);
                    if (!written.Done()) Services().Inform(this, option_texts::kSetCommandFail);
                    return;
            }
        });
}

}  // namespace dravix
