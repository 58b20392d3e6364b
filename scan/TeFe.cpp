#include "scan/TeFe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFocusEvent>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <optional>

#include "chart/ChartStyle.h"
#include "chart/ScanChart.h"
#include "drive/DriveNodes.h"
#include "drive/DriveTable.h"
#include "drive/MediumChanges.h"
#include "drive/VendorMode.h"
#include "probix/DiscReport.h"
#include "probix/ScanTexts.h"
#include "res/Strings.h"
#include "scan/DiscWatcher.h"
#include "scan/StatusLine.h"
#include "scan/TeFeShared.h"
#include "turns/AppState.h"
#include "turns/SharedDrive.h"
#include "turns/StoppableDrive.h"
#include "ui/DialogUnits.h"
#include "ui/DriveSequence.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"
#include "ui/TextColour.h"
#include "ui/UnsupportedDialog.h"

namespace dravix {

namespace {

// Help texts of the string table, by the control the pointer is over.
constexpr int kHelpSampling = 127;
constexpr int kHelpSpeeds = 128;
constexpr int kHelpStart = 129;
constexpr int kHelpEnd = 130;
constexpr int kHelpCriteria = 131;

constexpr int kTeSeries = chart_style::kTeLimitSeries;
constexpr int kFeSeries = chart_style::kFeLimitSeries;
constexpr double kChartTopPercent = chart_style::kYUpperPercent;

QLabel* StaticText(QWidget* parent, const QString& text, const DialogUnits& units, int x, int y, int width,
                   int height) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    PlaceDlu(label, units, x, y, width, height);
    return label;
}

void Colour(QWidget* control, const QColor& colour) {
    // A transparent background in the colour of the curve the control names, under any palette:
    // the check box, its legend and the curve (on screen and in every picture) are alike.
    QPalette palette = control->palette();
    for (const QPalette::ColorRole role : {QPalette::WindowText, QPalette::ButtonText, QPalette::Text})
        palette.setColor(role, colour);
    control->setPalette(palette);
    control->setAutoFillBackground(false);
}

// The moments at which the sampling combo reports the end of a selection without a new choice:
// it loses the focus (its own list opening aside), or its list closes and gives the focus back.
bool SelectionEndCancel(const QEvent* event) {
    if (event->type() != QEvent::FocusOut && event->type() != QEvent::FocusIn) return false;
    const bool popup = static_cast<const QFocusEvent*>(event)->reason() == Qt::PopupFocusReason;
    return event->type() == QEvent::FocusOut ? !popup : popup;
}

}  // namespace

CTEFE::CTEFE(const AppServices& services, QWidget* parent)
    : PropertyPage(kDialogId, QStringLiteral("Probix"), kTabIconId, services, parent),
      m_shared(std::make_shared<Shared>(services.state)),
      m_timer(new QTimer(this)),
      m_kept(*this, services),
      m_runHold(services.state) {
    BuildControls();
    m_timer->setObjectName(QString::fromLatin1(kPollTimerName));
    m_timer->setInterval(kPollPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &CTEFE::OnTimer);
}

CTEFE::~CTEFE() {
    m_timer->stop();
    StopWatchingDisc();
    {
        // From here on no worker draws: the chart goes with the page.
        std::lock_guard lock(m_shared->drawMutex);
        m_shared->canvas = nullptr;
        if (m_sequence != nullptr) m_sequence->Stop();
    }
    m_runHold.Set(false);  // a run ended with the page: it holds the drive no more
    // Vendor mode off goes out after the command a worker may still have at the drive, when the
    // drive accepted vendor mode on.
    if (m_sequence != nullptr) {
        m_sequence->Finally([shared = m_shared](DriveTable&) { shared->vendorMode.End(); });
    }
}

void CTEFE::BuildControls() {
    setFont(DialogFont());
    const DialogUnits units(font());

    // Group boxes first, so that the controls placed over them stay on top.
    PlaceDlu(new QGroupBox(QStringLiteral("Setting "), this), units, 7, 3, 331, 45);
    PlaceDlu(new QGroupBox(QStringLiteral("TE/FE Test Area "), this), units, 7, 50, 222, 45);
    PlaceDlu(new QGroupBox(QStringLiteral("Show Criteria"), this), units, 233, 50, 105, 45);

    StaticText(this, QStringLiteral("Disc Speed:"), units, 14, 18, 44, 9);
    m_speedCombo = new QComboBox(this);
    SetControlId(m_speedCombo, kSpeedComboId);
    PlaceDlu(m_speedCombo, units, 60, 15, 122, 13);
    // The labels pad the kB/s value with blanks ("%5ld"); they line up only when a blank is as
    // wide as a digit. "Courier New" is met by Liberation Mono, as "Arial" by Liberation Sans.
    QFont fixedPitch(QStringLiteral("Courier New"));
    fixedPitch.setStyleHint(QFont::Monospace);
    fixedPitch.setFixedPitch(true);
    fixedPitch.setPointSize(font().pointSize());
    m_speedCombo->setFont(fixedPitch);

    m_startLabel = StaticText(this, QStringLiteral("Start Position :"), units, 190, 15, 56, 9);
    SetControlId(m_startLabel, kStartLabelId);
    m_startEdit = new QLineEdit(this);
    SetControlId(m_startEdit, kStartEditId);
    PlaceDlu(m_startEdit, units, 248, 13, 56, 12);
    StaticText(this, QStringLiteral("LBA"), units, 308, 15, 20, 9);

    m_endLabel = StaticText(this, QStringLiteral("End Position  :"), units, 190, 31, 56, 9);
    SetControlId(m_endLabel, kEndLabelId);
    m_endEdit = new QLineEdit(this);
    SetControlId(m_endEdit, kEndEditId);
    PlaceDlu(m_endEdit, units, 248, 29, 56, 12);
    StaticText(this, QStringLiteral("LBA"), units, 308, 31, 20, 9);

    StaticText(this, QStringLiteral("Sampling Rate :"), units, 14, 64, 54, 9);
    m_samplingCombo = new QComboBox(this);
    SetControlId(m_samplingCombo, kSamplingComboId);
    PlaceDlu(m_samplingCombo, units, 70, 61, 74, 13);

    m_startButton = new QPushButton(QStringLiteral("START"), this);
    SetControlId(m_startButton, kStartId);
    PlaceDlu(m_startButton, units, 150, 60, 36, 14);
    m_stopButton = new QPushButton(QStringLiteral("STOP"), this);
    SetControlId(m_stopButton, kStopId);
    PlaceDlu(m_stopButton, units, 189, 60, 36, 14);

    StaticText(this, QStringLiteral("Elapsed Time:"), units, 14, 80, 54, 9);
    m_elapsed = StaticText(this, QString(), units, 70, 80, 100, 9);
    SetControlId(m_elapsed, kElapsedId);

    m_teCheck = new QCheckBox(QStringLiteral("TE"), this);
    SetControlId(m_teCheck, kTeCheckId);
    PlaceDlu(m_teCheck, units, 239, 62, 24, 10);
    StaticText(this, QStringLiteral("(Tracking Error)"), units, 264, 63, 56, 9);
    m_teLegend = StaticText(this, QStringLiteral("---"), units, 322, 63, 14, 9);
    SetControlId(m_teLegend, kTeLegendId);

    m_feCheck = new QCheckBox(QStringLiteral("FE"), this);
    SetControlId(m_feCheck, kFeCheckId);
    PlaceDlu(m_feCheck, units, 239, 78, 24, 10);
    StaticText(this, QStringLiteral("(Focus Error)"), units, 264, 79, 56, 9);
    m_feLegend = StaticText(this, QStringLiteral("---"), units, 322, 79, 14, 9);
    SetControlId(m_feLegend, kFeLegendId);

    Colour(m_teCheck, TeColour());
    Colour(m_teLegend, TeColour());
    Colour(m_feCheck, FeColour());
    Colour(m_feLegend, FeColour());

    auto* frame = new QFrame(this);
    frame->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    QPalette black = frame->palette();
    black.setColor(QPalette::Window, Qt::black);
    frame->setPalette(black);
    frame->setAutoFillBackground(true);
    SetControlId(frame, kChartFrameId);
    PlaceDlu(frame, units, 7, 99, 331, 118);
    m_chartFrame = frame;

    m_status = new StatusLine(this);
    SetControlId(m_status, kStatusId);
    PlaceDlu(m_status, units, 7, 220, 331, 12);
    m_status->Show(QStringLiteral("status bar"));
    // The last run's figures are the status line's tool tip.
    m_kept.ShowFiguresOn(*m_status);

    setFixedSize(units.Size(345, 236));

    // Until a disc is found nothing can be started; the initialisation's reset says so again.
    for (QWidget* control : std::initializer_list<QWidget*>{m_startButton, m_stopButton, m_teCheck, m_feCheck,
                                                            m_startEdit, m_endEdit}) {
        control->setEnabled(false);
    }

    for (QWidget* control :
         std::initializer_list<QWidget*>{m_samplingCombo, m_speedCombo, m_startLabel, m_endLabel, m_teCheck,
                                         m_feCheck, m_startEdit, m_endEdit}) {
        control->installEventFilter(this);
    }

    connect(m_startButton, &QPushButton::clicked, this, &CTEFE::OnStart);
    connect(m_stopButton, &QPushButton::clicked, this, &CTEFE::OnStop);
    connect(m_speedCombo, &QComboBox::currentIndexChanged, this, &CTEFE::OnSpeedChanged);
    connect(m_samplingCombo, &QComboBox::currentIndexChanged, this, &CTEFE::OnSamplingChanged);
    connect(m_teCheck, &QCheckBox::clicked, this, &CTEFE::OnTeClicked);
    connect(m_startEdit, &QLineEdit::textChanged, this, &CTEFE::MarkResultsStale);
    connect(m_endEdit, &QLineEdit::textChanged, this, &CTEFE::MarkResultsStale);
    connect(m_feCheck, &QCheckBox::clicked, this, &CTEFE::OnFeClicked);
}

void CTEFE::OnInitDialog() {
    if (Services().State().pagesRemoving.load() != 0) return;

    m_pollRunning = false;
    m_discKnown = false;
    m_resetPending = false;
    m_speedCodes.clear();
    m_selectedSpeedCode = kFirstSpeedCode;
    m_runWorker = 0;
    m_shared->feLimitShown = m_shared->teLimitShown = false;
    m_lastLba = kDefaultLastLba;
    m_discTypeCode = kScanDiscUnknown;
    m_baseStep = 0;
    m_mode = SamplingMode::Normal;
    m_statusText = ProgramText(scan_texts::kInitial);
    m_shared->scanBusy = false;

    m_scanDrive = std::make_shared<StoppableDrive>(Services().drives);
    m_sequence = new DriveSequence(*this, Services(), m_scanDrive);
    m_sequence->Start([this] { OpenScanDrive(); });
}

void CTEFE::OpenScanDrive() {
    m_sequence->Step(
        [state = m_shared->state](DriveTable& table, const WorkerContext&) {
            struct Opened {
                int drives = -1;
                std::string label;
                std::string firmware;
                DriveIdentity identity;
            } opened;
            if (!table.InitTransport()) return opened;
            opened.drives = table.EnumerateDrives();
            table.SetListingGeneration(state->driveListGeneration.load());
            if (opened.drives > 0 && state->SelectChosenDrive(table)) {
                opened.label = table.DriveLabel();
                opened.firmware = table.FirmwareRevision();
                opened.identity = IdentityOf(table, table.SelectedIndex());
            }
            return opened;
        },
        [this](const auto& opened) {
            m_kept.SetDrive(opened.label, opened.firmware);
            if (!opened.identity.Empty()) WatchDisc(opened.identity);
            OnScanDriveOpen(opened.drives);
        });
}

void CTEFE::OnScanDriveOpen(int drives) {
    if (drives < 0) {
        Services().Inform(this, ProgramText(scan_texts::kInitialFail));
        return;
    }
    if (drives == 0) {
        Services().Inform(this, ProgramText(scan_texts::kNoDeviceFound));
        return;
    }
    m_scanDriveOpen = true;

    ResetScanPage();

    {
        const QSignalBlocker block(m_samplingCombo);
        for (int entry = 0; entry < kSamplingModeCount; ++entry) {
            m_samplingCombo->addItem(ProgramText(SamplingModeText(SamplingModeOfEntry(entry))));
        }
        m_samplingCombo->setCurrentIndex(0);
    }
    m_baseStep = kCoarseStep;
    m_mode = SamplingMode::Normal;

    m_sequence->Step(
        [shared = m_shared](DriveTable& table, const WorkerContext&) {
            shared->vendorMode = VendorModeScope(table);
            return shared->vendorMode.Accepted();
        },
        [this](bool accepted) { OnVendorMode(accepted); });
}

void CTEFE::OnVendorMode(bool accepted) {
    if (accepted) {
        m_driveAccepted = true;
        m_timer->start();
        if (m_discWatch && !m_pollsForWatch) {
            m_pollsForWatch = true;
            m_discWatch->PolledByView(true);
        }
    } else {
        CUnsupportedDialog dialog(Services(), this);
        Services().RunModal(dialog);
        m_driveAccepted = false;
    }

    m_chart = new CScanChart;
    m_chart->Create(this, m_chartFrame->geometry());
    m_chart->setFixedSize(m_chartFrame->size());
    m_chart->raise();
    // The last run's commands, as the File menu has them.
    m_chart->setContextMenuPolicy(Qt::ActionsContextMenu);
    m_chart->addActions(m_kept.Commands());
    chart_style::AddScanSeries(m_chart->Canvas());
    m_teLegend->setText(QStringLiteral("---"));
    m_feLegend->setText(QStringLiteral("---"));
    std::lock_guard lock(m_shared->drawMutex);
    m_shared->canvas = &m_chart->Canvas();
}

void CTEFE::ResetScanPage() {
    m_startButton->setEnabled(false);
    m_stopButton->setEnabled(false);
    m_teCheck->setEnabled(false);
    m_feCheck->setEnabled(false);
    {
        const QSignalBlocker block(m_speedCombo);
        m_speedCombo->clear();
        m_speedCombo->addItem(ProgramText(scan_texts::kNotAvailable));
        m_speedCombo->setCurrentIndex(0);
    }
    m_startEdit->setEnabled(false);
    m_endEdit->setEnabled(false);
    SetStatus(ProgramText(scan_texts::kInsertBlankDisc));
    m_kept.DiscGone();
    m_speedCodes.clear();
    MarkResultsStale();
}

void CTEFE::SetStatus(const QString& text, const QColor& colour) {
    // The colour lasts for one paint of the line; the text stays the page's status text.
    m_statusText = text;
    m_status->Show(text, colour);
}

void CTEFE::ShowFieldHelp(int stringId) {
    m_status->Show(LoadString(stringId), HelpColour());
}

bool CTEFE::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Enter) {
        if (watched == m_samplingCombo) ShowFieldHelp(kHelpSampling);
        if (watched == m_speedCombo) ShowFieldHelp(kHelpSpeeds);
        if (watched == m_startLabel) ShowFieldHelp(kHelpStart);
        if (watched == m_endLabel) ShowFieldHelp(kHelpEnd);
        if (watched == m_teCheck || watched == m_feCheck) ShowFieldHelp(kHelpCriteria);
    } else if (event->type() == QEvent::Leave) {
        // Anywhere else the page's own status text comes back, in black.
        m_status->Show(m_statusText);
    } else if (watched == m_samplingCombo && m_samplingCombo->isEnabled() && SelectionEndCancel(event)) {
        // The mode is taken from the combo again, also when nothing new was chosen. A combo that
        // is disabled (a run goes) is left alone.
        OnSamplingChanged(m_samplingCombo->currentIndex());
    } else if (event->type() == QEvent::FocusOut && (watched == m_startEdit || watched == m_endEdit)) {
        // A message box taking the focus is no reason to check the box again.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            OnAddressEditLeft(static_cast<QLineEdit*>(watched));
        }
    }
    return PropertyPage::eventFilter(watched, event);
}

// --- the disc poll ----------------------------------------------------------------------------

void CTEFE::WatchDisc(const DriveIdentity& drive) {
    StopWatchingDisc();
    m_discWatch = DiscWatcher::Of(m_shared->state, drive);
    // What the page shows now is what it reads from here on.
    m_discChanges = MediumChangesOf(drive);
}

void CTEFE::StopWatchingDisc() {
    if (m_discWatch && m_pollsForWatch) m_discWatch->PolledByView(false);
    m_pollsForWatch = false;
    m_discWatch.reset();
}

void CTEFE::OnTimer() {
    // Not even waiting for the drive while a run or the Smart report has it.
    if (m_pollRunning || !m_scanDriveOpen || m_shared->scanBusy.load()) return;
    m_pollRunning = true;
    m_sequence->Run(
        [shared = m_shared, discKnown = m_discKnown, knownChanges = m_discChanges](
            SharedDrive& drive, const WorkerContext& context) {
            // Only the drive and the shared state are used here; the page only on its thread.
            return PollDisc(drive, *shared, discKnown, knownChanges, context.StopToken());
        },
        [this](const PollOutcome& outcome) { OnPollDone(outcome); });
}

CTEFE::PollOutcome CTEFE::PollDisc(SharedDrive& drive, const Shared& shared, bool discKnown,
                                   uint64_t knownChanges, const std::stop_token& stop) {
    const StopRequested quiet = [&shared, &stop] { return stop.stop_requested() || shared.scanBusy.load(); };
    PollOutcome outcome;
    // A disc loaded since the last tick is reported at once, not one tick later after its unit
    // attention. A run that started while the poll waited for the drive has it to itself.
    bool attention = false;
    DriveIdentity identity;
    const std::optional<uint8_t> status =
        drive.LockedUnlessStopped(quiet, [&shared, &attention, &identity](DriveTable& table) -> uint8_t {
            // After a rescan the chosen drive may sit elsewhere in the list, or be gone.
            if (!shared.state->SelectChosenDrive(table)) return kCommandFailed;
            identity = IdentityOf(table, table.SelectedIndex());
            return TestUnitReadyAfterAttention(table, &attention);
        });
    if (!status) return outcome;
    outcome.changes = MediumChangesOf(identity);
    if (*status != kCommandCompleted) {
        outcome.kind = PollOutcome::Kind::NotReady;
        return outcome;
    }
    // The tray may have gone out and in since the last tick (this poll or another window's
    // command got the drive's report of it): the drive is ready, but with another disc, which is
    // examined now.
    const bool changed = attention || outcome.changes != knownChanges;
    outcome.discChanged = discKnown && changed;
    if (discKnown && !changed) {
        outcome.kind = PollOutcome::Kind::Unchanged;
        return outcome;
    }
    outcome.survey = SurveyDisc(drive, quiet);
    // GET PERFORMANCE took the report of a disc changed since the tick's TEST UNIT READY.
    outcome.discChanged = outcome.discChanged || outcome.survey.attention;
    outcome.changes = MediumChangesOf(identity);
    outcome.kind = outcome.survey.kind == DiscSurvey::Kind::Abandoned ? PollOutcome::Kind::Idle
                                                                      : PollOutcome::Kind::Surveyed;
    return outcome;
}

void CTEFE::OnPollDone(const PollOutcome& outcome) {
    m_pollRunning = false;
    // The views of the drive's disc beside this page hear what the poll found.
    if (m_discWatch && outcome.kind != PollOutcome::Kind::Idle)
        m_discWatch->Polled(outcome.kind != PollOutcome::Kind::NotReady);
    // The drive reports a medium change only once: whatever else happens, the disc is examined anew.
    if (outcome.discChanged) {
        m_discKnown = false;
        m_resetPending = true;
    }
    // A run or report that started meanwhile owns the page: what the poll saw is stale.
    if (m_shared->scanBusy.load()) return;
    if (m_resetPending && outcome.kind != PollOutcome::Kind::Unchanged) {
        // What the page shows belongs to the disc that was taken out.
        ResetScanPage();
        m_resetPending = false;
    }
    switch (outcome.kind) {
        case PollOutcome::Kind::Idle:
        case PollOutcome::Kind::Unchanged:
            return;
        case PollOutcome::Kind::NotReady:
            ResetScanPage();
            m_discKnown = false;
            return;
        case PollOutcome::Kind::Surveyed:
            BuildSpeedList(outcome.survey);
            m_discKnown = true;
            m_discChanges = outcome.changes;
            return;
    }
}

void CTEFE::BuildSpeedList(const DiscSurvey& survey) {
    m_discTypeCode = survey.discTypeCode;
    if (survey.kind == DiscSurvey::Kind::NotSupported) {
        SetStatus(ProgramText(scan_texts::kDiscNotSupported));
        return;
    }
    SetStatus(ProgramText(ScanDiscName(m_discTypeCode)));

    m_speedCombo->setEnabled(true);
    {
        const QSignalBlocker block(m_speedCombo);
        m_speedCombo->clear();
    }
    if (survey.kind == DiscSurvey::Kind::SpeedsUnreadable) {
        ResetScanPage();
        return;
    }

    m_speedCodes = survey.speeds.codes;
    m_speedKbps = survey.speeds.kbps;
    {
        const QSignalBlocker block(m_speedCombo);
        // Each line carries its speed code.
        for (size_t i = 0; i < survey.speeds.labels.size(); ++i) {
            const QVariant code = i < m_speedCodes.size() ? QVariant(uint32_t{m_speedCodes[i]}) : QVariant();
            m_speedCombo->addItem(QString::fromStdString(survey.speeds.labels[i]), code);
        }
        if (m_speedCodes.empty()) {
            m_speedCombo->addItem(ProgramText(scan_texts::kNotAvailable));
            m_speedCombo->setCurrentIndex(0);
        }
    }
    if (m_speedCodes.empty()) {
        SetStatus(ProgramText(scan_texts::kDiscNotSupported));
        return;
    }
    {
        const QSignalBlocker block(m_speedCombo);
        m_speedCombo->setCurrentIndex(0);
    }
    m_selectedSpeedCode = m_speedCodes[0];

    if (survey.speeds.lastLba) m_lastLba = *survey.speeds.lastLba;
    m_chart->SetRange(0.0, kChartTopPercent, 0, m_lastLba, 0);
    m_startEdit->setText(QStringLiteral("0"));
    m_endEdit->setText(QString::number(m_lastLba));

    if (m_driveAccepted) {
        m_startButton->setEnabled(true);
        m_teCheck->setEnabled(true);
        m_feCheck->setEnabled(true);
        m_stopButton->setEnabled(false);
    }
    SetStatus(ProgramText(scan_texts::kReady));
    repaint();
}

// --- settings ---------------------------------------------------------------------------------

void CTEFE::OnSpeedChanged(int index) {
    if (index >= 0 && static_cast<size_t>(index) < m_speedCodes.size())
        m_selectedSpeedCode = m_speedCodes[index];
    MarkResultsStale();
}

void CTEFE::OnSamplingChanged(int index) {
    m_startEdit->setEnabled(false);
    m_endEdit->setEnabled(false);
    m_mode = SamplingModeOfEntry(index);
    m_baseStep = BaseStepOf(m_mode);
    if (m_mode == SamplingMode::Customize) {
        m_startEdit->setEnabled(true);
        m_endEdit->setEnabled(true);
    }
    MarkResultsStale();
}

void CTEFE::OnTeClicked() {
    if (m_chart == nullptr) return;
    std::lock_guard lock(m_shared->drawMutex);
    m_shared->teLimitShown = !m_shared->teLimitShown;
    m_chart->DrawLimitLine(kTeSeries, kTeLimitPercent, m_shared->teLimitShown ? 1 : 0);
}

void CTEFE::OnFeClicked() {
    if (m_chart == nullptr) return;
    std::lock_guard lock(m_shared->drawMutex);
    m_shared->feLimitShown = !m_shared->feLimitShown;
    m_chart->DrawLimitLine(kFeSeries, kFeLimitPercent, m_shared->feLimitShown ? 1 : 0);
}

void CTEFE::OnAddressEditLeft(QLineEdit* edit) {
    const bool start = edit == m_startEdit;
    const int32_t value = LeadingNumber(edit->text().toStdString());
    const char* problem = start ? CheckStartAddress(value, m_lastLba) : CheckEndAddress(value, m_lastLba);
    if (problem != nullptr) {
        Services().Inform(this, ProgramText(problem));
        return;
    }
    if (m_chart == nullptr) return;
    const int marker = start ? 0 : 1;
    m_chart->DrawRangeMarker(marker, value, 0);
    m_chart->DrawRangeMarker(marker, value, 1);
}

void CTEFE::MarkResultsStale() {
    PageSettings now;
    now.speedsKnown = !m_speedCodes.empty();
    now.speedCode = m_selectedSpeedCode;
    now.mode = m_mode;
    now.customStart = LeadingNumber(m_startEdit->text().toStdString());
    now.customEnd = LeadingNumber(m_endEdit->text().toStdString());
    now.runGoing = m_runWorker != 0;
    m_kept.ShowSummary(now);
}

}  // namespace dravix
