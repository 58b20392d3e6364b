#include "scan/TeFe.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFileDialog>
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

#include "base/Version.h"
#include "chart/ChartStyle.h"
#include "chart/ScanChart.h"
#include "drive/DriveTable.h"
#include "drive/VendorMode.h"
#include "probix/DiscReport.h"
#include "probix/ScanTexts.h"
#include "res/Strings.h"
#include "scan/Autosave.h"
#include "scan/ResultsPicture.h"
#include "scan/SmartReport.h"
#include "scan/StatusLine.h"
#include "turns/AppState.h"
#include "turns/SharedDrive.h"
#include "turns/StoppableDrive.h"
#include "ui/DialogUnits.h"
#include "ui/DriveSequence.h"
#include "ui/Services.h"
#include "ui/TextColour.h"
#include "ui/UnsupportedDialog.h"
#include "ui/Workers.h"

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
constexpr int kTeCurve = chart_style::kTeCurve;
constexpr int kFeCurve = chart_style::kFeCurve;
constexpr double kChartTopPercent = chart_style::kYUpperPercent;

QString Latin(const char* text) {
    return QString::fromLatin1(text);
}

QLabel* StaticText(QWidget* parent, const QString& text, const DialogUnits& units, int x, int y, int width,
                   int height) {
    auto* label = new QLabel(text, parent);
    label->setTextFormat(Qt::PlainText);
    PlaceDlu(label, units, x, y, width, height);
    return label;
}

void Colour(QWidget* control, const QColor& colour) {
    // A transparent background in the control's own text colour (readable on the page's).
    SetReadableTextColour(control, colour);
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

struct CTEFE::Shared {
    // ScanBusy: the poll worker reads it.
    std::atomic<bool> scanBusy{false};
    // Held by the run while it draws a sample, and by STOP and the page's end while they ask the
    // run to stop and take the chart away, so that nothing of a stopped run reaches the chart.
    // Also guards the criterion flags, which the run reads when it redraws the lines.
    std::mutex drawMutex;
    // The chart's canvas, which the run draws on (the canvas locks each drawing); the chart
    // window shows it when the run's post reaches the page. Null once the page is gone.
    ScanChartCanvas* canvas = nullptr;
    bool teLimitShown = false;
    bool feLimitShown = false;
    // What the current run measured so far (guarded by drawMutex): kept when the run ends or stops.
    std::vector<ScanSample> samples;
    uint16_t teReference = 0;
    uint16_t feReference = 0;
    // The vendor mode the page holds from its initialisation to its end: begun and ended on the
    // page's workers at the drive, so that the page's end sends the off also when the page goes
    // before it has heard whether the drive accepted the on.
    VendorModeScope vendorMode;
};

CTEFE::CTEFE(const AppServices& services, QWidget* parent)
    : PropertyPage(kDialogId, QStringLiteral("Probix"), kTabIconId, services, parent),
      m_workers(new Workers(this)),
      m_shared(std::make_shared<Shared>()) {
    BuildControls();
    m_timer.setInterval(kPollPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &CTEFE::OnTimer);
}

CTEFE::~CTEFE() {
    m_timer.stop();
    {
        // From here on no worker draws: the chart goes with the page.
        std::lock_guard lock(m_shared->drawMutex);
        m_shared->canvas = nullptr;
        m_workers->RequestStopAll();
    }
    if (m_runWorker != 0) State().scanIdle = 1;  // a run ended with the page: the program is idle again
    // Vendor mode off goes out after the command a worker may still have at the drive, when the
    // drive accepted vendor mode on.
    if (m_sequence != nullptr) {
        m_sequence->Finally([shared = m_shared](DriveTable&) { shared->vendorMode.End(); });
    }
}

bool CTEFE::ScanBusy() const {
    return m_shared->scanBusy.load();
}

SharedDrive* CTEFE::Drive() const {
    return m_scanDriveOpen ? &m_scanDrive->Shared() : nullptr;
}

size_t CTEFE::WorkerCount() const {
    return m_workers->Running();
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
    PlaceDlu(frame, units, 7, 99, 331, 96);
    m_chartFrame = frame;

    // The last run's figures and the two ways to keep it.
    m_summary = StaticText(this, QString(), units, 7, 197, 193, 20);
    m_summary->setWordWrap(true);
    m_summary->setObjectName(QString::fromLatin1(kSummaryName));
    QFont small = m_summary->font();
    if (small.pointSizeF() > 0) small.setPointSizeF(small.pointSizeF() * 0.9);
    m_summary->setFont(small);
    m_saveResults = new QPushButton(QStringLiteral("Save Scan Results..."), this);
    m_saveResults->setObjectName(QString::fromLatin1(kSaveResultsName));
    PlaceDlu(m_saveResults, units, 201, 200, 68, 14);
    m_savePicture = new QPushButton(QStringLiteral("Save Chart Picture..."), this);
    m_savePicture->setObjectName(QString::fromLatin1(kSavePictureName));
    PlaceDlu(m_savePicture, units, 270, 200, 68, 14);
    m_saveResults->setEnabled(false);
    m_savePicture->setEnabled(false);
    connect(m_saveResults, &QPushButton::clicked, this, &CTEFE::AskAndSaveResults);
    connect(m_savePicture, &QPushButton::clicked, this, &CTEFE::AskAndSavePicture);

    m_status = new StatusLine(this);
    SetControlId(m_status, kStatusId);
    PlaceDlu(m_status, units, 7, 220, 331, 12);
    m_status->Show(QStringLiteral("status bar"));

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
    if (State().pagesRemoving.load() != 0) return;

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
    m_statusText = Latin(scan_texts::kInitial);
    m_shared->scanBusy = false;

    m_scanDrive = std::make_shared<StoppableDrive>();
    m_sequence = new DriveSequence(*this, Services(), m_scanDrive);
    m_sequence->Start([this] { OpenScanDrive(); });
}

void CTEFE::OpenScanDrive() {
    m_sequence->Step(
        [](DriveTable& table, const WorkerContext&) {
            struct Opened {
                int drives = -1;
                std::string label;
                std::string firmware;
            } opened;
            if (!table.InitTransport()) return opened;
            opened.drives = table.EnumerateDrives();
            table.SetListingGeneration(State().driveListGeneration.load());
            if (opened.drives > 0 && SelectChosenDrive(table)) {
                opened.label = table.DriveLabel();
                opened.firmware = table.FirmwareRevision();
            }
            return opened;
        },
        [this](const auto& opened) {
            m_driveLabel = opened.label;
            m_firmware = opened.firmware;
            OnScanDriveOpen(opened.drives);
        });
}

void CTEFE::OnScanDriveOpen(int drives) {
    if (drives < 0) {
        Services().Inform(this, Latin(scan_texts::kInitialFail));
        return;
    }
    if (drives == 0) {
        Services().Inform(this, Latin(scan_texts::kNoDeviceFound));
        return;
    }
    m_scanDriveOpen = true;

    ResetScanPage();

    {
        const QSignalBlocker block(m_samplingCombo);
        for (int entry = 0; entry < kSamplingModeCount; ++entry) {
            m_samplingCombo->addItem(Latin(SamplingModeText(SamplingModeOfEntry(entry))));
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
        m_timer.start();
    } else {
        CUnsupportedDialog dialog(Services(), this);
        Services().RunModal(dialog);
        m_driveAccepted = false;
    }

    m_chart = new CScanChart;
    m_chart->Create(this, m_chartFrame->geometry());
    m_chart->setFixedSize(m_chartFrame->size());
    m_chart->raise();
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
        m_speedCombo->addItem(Latin(scan_texts::kNotAvailable));
        m_speedCombo->setCurrentIndex(0);
    }
    m_startEdit->setEnabled(false);
    m_endEdit->setEnabled(false);
    SetStatus(Latin(scan_texts::kInsertBlankDisc));
    m_discIds = {};
    m_speedCodes.clear();
    if (m_lastResults) m_runDiscGone = true;
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

void CTEFE::OnTimer() {
    if (m_pollRunning || !m_scanDriveOpen) return;
    m_pollRunning = true;
    m_workers->Start([this, drive = m_scanDrive, shared = m_shared,
                      discKnown = m_discKnown](const WorkerContext& context) {
        // Only the drive and the shared state are used here; `this` only on the page's thread.
        const PollOutcome outcome = PollDisc(drive->Shared(), *shared, discKnown, context.StopToken());
        context.Post([this, outcome] { OnPollDone(outcome); });
    });
}

CTEFE::PollOutcome CTEFE::PollDisc(SharedDrive& drive, const Shared& shared, bool discKnown,
                                   const std::stop_token& stop) {
    const StopRequested quiet = [&shared, &stop] { return stop.stop_requested() || shared.scanBusy.load(); };
    PollOutcome outcome;
    if (quiet()) return outcome;  // not even waiting for the drive while a run has it
    // A disc loaded since the last tick is reported at once, not one tick later after its unit
    // attention. A run that started while the poll waited for the drive has it to itself.
    bool attention = false;
    const std::optional<uint8_t> status =
        drive.LockedUnlessStopped(quiet, [&attention](DriveTable& table) -> uint8_t {
            // After a rescan the chosen drive may sit elsewhere in the list, or be gone.
            if (!SelectChosenDrive(table)) return kCommandFailed;
            return TestUnitReadyAfterAttention(table, &attention);
        });
    if (!status) return outcome;
    if (*status != kCommandCompleted) {
        outcome.kind = PollOutcome::Kind::NotReady;
        return outcome;
    }
    // The tray may have gone out and in since the last tick: the drive is ready, but with another
    // disc, which is examined now.
    outcome.discChanged = discKnown && attention;
    if (discKnown && !attention) {
        outcome.kind = PollOutcome::Kind::Unchanged;
        return outcome;
    }
    outcome.survey = SurveyDisc(drive, quiet);
    outcome.kind = outcome.survey.kind == DiscSurvey::Kind::Abandoned ? PollOutcome::Kind::Idle
                                                                      : PollOutcome::Kind::Surveyed;
    return outcome;
}

void CTEFE::OnPollDone(const PollOutcome& outcome) {
    m_pollRunning = false;
    // The drive reports a medium change only once: whatever else happens, the disc is examined anew.
    if (outcome.discChanged) {
        m_discKnown = false;
        m_resetPending = true;
    }
    // A run or report that started meanwhile owns the page: what the poll saw is stale.
    if (ScanBusy()) return;
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
            return;
    }
}

void CTEFE::BuildSpeedList(const DiscSurvey& survey) {
    m_discTypeCode = survey.discTypeCode;
    if (survey.kind == DiscSurvey::Kind::NotSupported) {
        SetStatus(Latin(scan_texts::kDiscNotSupported));
        return;
    }
    SetStatus(Latin(ScanDiscName(m_discTypeCode)));

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
        for (const std::string& label : survey.speeds.labels)
            m_speedCombo->addItem(QString::fromStdString(label));
        if (m_speedCodes.empty()) {
            m_speedCombo->addItem(Latin(scan_texts::kNotAvailable));
            m_speedCombo->setCurrentIndex(0);
        }
    }
    if (m_speedCodes.empty()) {
        SetStatus(Latin(scan_texts::kDiscNotSupported));
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
    SetStatus(Latin(scan_texts::kReady));
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
        Services().Inform(this, Latin(problem));
        return;
    }
    if (m_chart == nullptr) return;
    const int marker = start ? 0 : 1;
    m_chart->DrawRangeMarker(marker, value, 0);
    m_chart->DrawRangeMarker(marker, value, 1);
}

// --- the run ----------------------------------------------------------------------------------

void CTEFE::LockScanControls(bool on) {
    State().scanIdle = on ? 0 : 1;
    m_startButton->setEnabled(!on);
    m_stopButton->setEnabled(on);
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_startEdit, m_endEdit, m_speedCombo, m_samplingCombo}) {
        control->setEnabled(!on);
    }
}

void CTEFE::OnStart() {
    // One run at a time; also a START arriving before the run has disabled the button.
    if (!m_driveAccepted || !m_scanDriveOpen || m_chart == nullptr || m_runWorker != 0 || ScanBusy()) return;

    ScanSettings settings;
    if (m_mode == SamplingMode::Customize) {
        settings.customStart = LeadingNumber(m_startEdit->text().toStdString());
        settings.customEnd = LeadingNumber(m_endEdit->text().toStdString());
        if (const char* problem = CheckRange(settings.customStart, settings.customEnd, m_lastLba)) {
            Services().Inform(this, Latin(problem));
            return;
        }
    }
    if (m_mode == SamplingMode::Smart) {
        RunSmartReport();
        return;
    }

    settings.discTypeCode = m_discTypeCode;
    settings.lastLba = m_lastLba;
    settings.mode = m_mode;
    settings.baseStep = m_baseStep;
    settings.speedCode = m_selectedSpeedCode;
    m_runSettings = settings;
    m_runKbps = 0;
    for (size_t i = 0; i < m_speedCodes.size() && i < m_speedKbps.size(); ++i) {
        if (m_speedCodes[i] == settings.speedCode) m_runKbps = m_speedKbps[i];
    }

    m_shared->scanBusy = true;
    LockScanControls(true);
    m_elapsed->setText(QStringLiteral(" "));
    SetStatus(Latin(scan_texts::kTesting));
    m_runWorker = m_workers->Start(
        [this, drive = m_scanDrive, shared = m_shared, settings](const WorkerContext& context) {
            RunWorker(this, drive, shared, settings, context);
        });
}

void CTEFE::RunWorker(CTEFE* page, const std::shared_ptr<StoppableDrive>& drive,
                      const std::shared_ptr<Shared>& shared, const ScanSettings& settings,
                      const WorkerContext& context) {
    // Runs on the worker and may outlive the page: it keeps the drive and the shared state, and
    // reaches the page only through what it posts (dropped once the run is stopped or the page is
    // gone).
    const StopRequested stopRequested = [&context] { return context.StopRequested(); };

    // Vendor mode is switched on again before every run; what the drive answers is not looked at.
    // A run stopped while it waited for the drive sends nothing.
    if (!drive->Shared().LockedUnlessStopped(stopRequested, [](DriveTable& table) {
            SelectChosenDrive(table);
            return VendorModeScope::SwitchOnAgain(table);
        })) {
        return;
    }
    {
        std::lock_guard lock(shared->drawMutex);
        if (stopRequested() || shared->canvas == nullptr) return;
        shared->canvas->ResetCurves();
        shared->samples.clear();
        shared->teReference = shared->feReference = 0;
        if (shared->feLimitShown) shared->canvas->DrawLimitLine(kFeSeries, kFeLimitPercent, 1);
        if (shared->teLimitShown) shared->canvas->DrawLimitLine(kTeSeries, kTeLimitPercent, 1);
    }
    context.Post([page] { page->m_chart->ShowChanges(); });

    ScanCallbacks observer;
    observer.onReferences = [&](uint16_t te, uint16_t fe, int) {
        std::lock_guard lock(shared->drawMutex);
        if (stopRequested()) return;
        shared->teReference = te;
        shared->feReference = fe;
    };
    observer.onSample = [&](const ScanSample& sample) {
        {
            std::lock_guard lock(shared->drawMutex);
            if (stopRequested() || shared->canvas == nullptr) return;
            shared->samples.push_back(sample);
            shared->canvas->AppendPoint(kTeCurve, sample.tePercent, sample.lba);
            shared->canvas->AppendPoint(kFeCurve, sample.fePercent, sample.lba);
            shared->canvas->UpdateCurves();
        }
        const int64_t seconds = sample.elapsedSeconds;
        context.Post([page, seconds] {
            page->m_chart->ShowChanges();
            page->m_elapsed->setText(QString::fromStdString(ElapsedText(seconds)));
        });
    };
    const ScanResult result = RunTeFeScan(drive->Shared(), settings, observer, stopRequested);
    if (result.end == ScanEnd::Stopped) return;  // STOP has already given the page back
    // The disc's identifiers name the results file; read once the run has measured something.
    std::optional<DiscIdentifiers> ids;
    if (result.samples > 0) {
        const IdentifierSource source = DiscTypeOfCode(settings.discTypeCode).source;
        DiscIdentifiers read;
        const std::optional<uint8_t> status = drive->Shared().LockedUnlessStopped(
            stopRequested, [&](DriveTable& table) { return ReadDiscIdentifiers(table, source, read); });
        if (status && *status == kCommandCompleted) ids = read;
    }
    context.Post([page, result, ids] {
        if (ids) page->m_discIds = {ids->manufacturerId, ids->mediaTypeId};
        page->OnRunEnded(result);
    });
}

void CTEFE::OnRunEnded(const ScanResult& result) {
    // The drive told the run, not the poll, that the disc may have changed: examine it anew.
    if (result.unitAttention) {
        m_discKnown = false;
        m_resetPending = true;
    }
    if (result.end == ScanEnd::NoVerdict) {
        m_elapsed->setText(QString::fromStdString(ElapsedText(result.elapsedSeconds)));
        const QString text = Latin(NoVerdictText(result.noVerdict));
        Services().Ask(this, Latin(scan_texts::kWarningCaption), text, PromptIcon::Exclamation,
                       PromptButtons::Ok);
        SetStatus(text, WarningColour());
    } else if (result.end == ScanEnd::Failed) {
        m_elapsed->setText(QString::fromStdString(ElapsedText(result.elapsedSeconds)));
        const FailureTexts texts = TextsOfFailure(result.path, result.outcome);
        Services().Ask(this, Latin(scan_texts::kWarningCaption), Latin(texts.box), PromptIcon::Exclamation,
                       PromptButtons::Ok);
        SetStatus(Latin(texts.status), WarningColour());
    } else {
        const QString verdict = Latin(VerdictText(result));
        Services().Inform(this, verdict);
        SetStatus(verdict, result.notRecommended ? WarningColour() : OkColour());
    }
    m_shared->scanBusy = false;
    m_runWorker = 0;
    LockScanControls(false);
    KeepResults(result);
}

void CTEFE::OnStop() {
    if (m_runWorker == 0) return;
    {
        // After this, the stopped run draws nothing more, whatever command it is waiting for.
        std::lock_guard lock(m_shared->drawMutex);
        m_workers->RequestStop(m_runWorker);
    }
    m_runWorker = 0;
    m_shared->scanBusy = false;
    LockScanControls(false);
    SetStatus(Latin(scan_texts::kUserAbort), WarningColour());
    ScanResult stopped;
    stopped.end = ScanEnd::Stopped;
    KeepResults(stopped);
}

void CTEFE::RunSmartReport() {
    m_shared->scanBusy = true;
    m_sequence->Start([this] {
        m_sequence->Step(
            [](DriveTable& table, const WorkerContext&) { VendorModeScope::SwitchOnAgain(table); },
            [this] {
                {
                    CSmartReportDlg dialog(Services(), m_scanDrive, m_discTypeCode, m_speedCodes, this);
                    dialog.SetSaveHandler([this, &dialog] { AskAndSaveSmartResults(dialog); });
                    Services().RunModal(dialog);
                    if (dialog.LastLba()) m_lastLba = *dialog.LastLba();
                    AutosaveSmartResults(dialog);
                }
                m_shared->scanBusy = false;
            });
    });
}

void CTEFE::KeepResults(const ScanResult& result) {
    ScanResults r;
    {
        std::lock_guard lock(m_shared->drawMutex);
        r.samples = m_shared->samples;
        r.teReference = result.teReference != 0 ? result.teReference : m_shared->teReference;
        r.feReference = result.feReference != 0 ? result.feReference : m_shared->feReference;
    }
    // A run that measured nothing leaves nothing to keep (the last results stay as they were).
    if (r.samples.empty()) return;
    r.driveLabel = m_driveLabel;
    r.firmware = m_firmware;
    r.discTypeCode = m_runSettings.discTypeCode;
    const char* disc = ScanDiscName(r.discTypeCode);
    r.discType = disc != nullptr ? disc : scan_texts::kNotAvailable;
    r.manufacturerId = m_discIds.manufacturerId;
    r.mediaTypeId = m_discIds.mediaTypeId;
    r.date = UtcTimestamp();
    r.programVersion = kVersionText;
    r.outcome = OutcomeOf(result);
    r.verdictText = OutcomeText(result);
    std::replace(r.verdictText.begin(), r.verdictText.end(), '\n', ' ');
    r.speedCode = m_runSettings.speedCode;
    r.kbps = m_runKbps;
    r.mode = m_runSettings.mode;
    r.lastLba = m_runSettings.lastLba;
    r.range = RangeOf(m_runSettings.mode, m_runSettings.discTypeCode, m_runSettings.lastLba,
                      m_runSettings.customStart, m_runSettings.customEnd);
    r.elapsedSeconds =
        result.end == ScanEnd::Stopped ? r.samples.back().elapsedSeconds : result.elapsedSeconds;
    FinishResults(r);
    m_lastResults = std::move(r);
    m_resultsStale = false;
    m_runDiscGone = false;
    m_saveResults->setEnabled(true);
    m_savePicture->setEnabled(true);
    MarkResultsStale();  // shows the summary as belonging to the current settings

    const AutosaveOutcome saved = AutosaveResults(*m_lastResults);
    if (!saved.error.isEmpty()) Services().Inform(this, saved.error);
    if (!saved.path.isEmpty())
        m_summary->setToolTip(m_summary->toolTip() + QStringLiteral("\nSaved as %1").arg(saved.path));
}

void CTEFE::MarkResultsStale() {
    if (!m_lastResults || m_summary == nullptr) return;
    const ScanResults& r = *m_lastResults;
    // The results belong to the page's settings while the disc, its speed, the mode and (in
    // Customize) the range are those of the run.
    bool current =
        !m_runDiscGone && !m_speedCodes.empty() && r.speedCode == m_selectedSpeedCode && r.mode == m_mode;
    if (current && m_mode == SamplingMode::Customize) {
        current = LeadingNumber(m_startEdit->text().toStdString()) == m_runSettings.customStart &&
                  LeadingNumber(m_endEdit->text().toStdString()) == m_runSettings.customEnd;
    }
    if (m_runWorker != 0) current = true;  // the run's own controls are locked
    const PartStatistics& all = r.statistics.all;
    auto channel = [](const char* name, const ChannelStatistics& c) {
        return QStringLiteral("%1 max %2 % @ %3, avg %4 %, %5 over")
            .arg(Latin(name))
            .arg(c.maxPercent)
            .arg(c.maxLba)
            .arg(c.averagePercent, 0, 'f', 1)
            .arg(c.overLimit);
    };
    const QString te = channel("TE", all.te);
    const QString fe = channel("FE", all.fe);
    m_summary->setToolTip(QString::fromStdString(StatisticsSummary(all)));
    const QString run =
        QStringLiteral("%1 %2").arg(Latin(ShortSpeedLabel(r.speedCode)), Latin(SamplingModeName(r.mode)));
    if (current) {
        m_summary->setText(QStringLiteral("%1 - %2\nlast run - %3").arg(run, te, fe));
        m_summary->setStyleSheet(QString());
    } else {
        m_summary->setText(
            QStringLiteral("%1 - %2\n%3 - %4").arg(run, te, Latin(kPreviousRunPrefix).toLower(), fe));
        m_summary->setStyleSheet(QStringLiteral("QLabel { color: gray; }"));
        // The verdict in the status line is the previous run's too.
        const QString verdict = QString::fromStdString(r.verdictText);
        if (m_statusText == verdict)
            SetStatus(QStringLiteral("%1 (%2): ").arg(Latin(kPreviousRunPrefix), run) + verdict);
    }
    m_resultsStale = !current;
}

QString CTEFE::SaveResults(const QString& path) const {
    if (!m_lastResults) return QStringLiteral("There are no results to save.");
    return QString::fromStdString(SaveResultsFile(QFile::encodeName(path).toStdString(), *m_lastResults));
}

QString CTEFE::SavePicture(const QString& path) const {
    if (!m_lastResults) return QStringLiteral("There are no results to save.");
    return QString::fromStdString(SaveResultsPicture(QFile::encodeName(path).toStdString(), *m_lastResults));
}

void CTEFE::AskAndSaveResults() {
    if (!m_lastResults) return;
    const QString name = QString::fromStdString(ExpandNameTemplate(kDefaultNameTemplate, *m_lastResults)) +
                         QStringLiteral(".csv");
    const QString path = QFileDialog::getSaveFileName(this, QStringLiteral("Save Scan Results"), name,
                                                      QStringLiteral("Dravix results (*.csv)"));
    if (path.isEmpty()) return;
    if (const QString problem = SaveResults(path); !problem.isEmpty()) Services().Inform(this, problem);
}

void CTEFE::AskAndSavePicture() {
    if (!m_lastResults) return;
    const QString name = QString::fromStdString(ExpandNameTemplate(kDefaultNameTemplate, *m_lastResults)) +
                         QStringLiteral(".png");
    const QString path =
        QFileDialog::getSaveFileName(this, QStringLiteral("Save Chart Picture"), name,
                                     QStringLiteral("Pictures (*.png *.bmp *.jpg *.gif *.pcx *.tif)"));
    if (path.isEmpty()) return;
    if (const QString problem = SavePicture(path); !problem.isEmpty()) Services().Inform(this, problem);
}

void CTEFE::AskAndSaveSmartResults(CSmartReportDlg& dialog) {
    const std::optional<ScanResults> results = SmartResultsOf(dialog);
    if (!results) return;
    const QString name = QString::fromStdString(ExpandNameTemplate(kDefaultNameTemplate, *results));
    const QString path =
        QFileDialog::getSaveFileName(&dialog, QStringLiteral("Save Results"), name + QStringLiteral(".csv"),
                                     QStringLiteral("Dravix results (*.csv)"));
    if (path.isEmpty()) return;
    const std::string problem = SaveResultsFile(QFile::encodeName(path).toStdString(), *results);
    if (!problem.empty()) Services().Inform(&dialog, QString::fromStdString(problem));
}

void CTEFE::AutosaveSmartResults(const CSmartReportDlg& dialog) {
    const std::optional<ScanResults> results = SmartResultsOf(dialog);
    if (!results) return;
    const AutosaveOutcome saved = AutosaveResults(*results);
    if (!saved.error.isEmpty()) Services().Inform(this, saved.error);
}

std::optional<ScanResults> CTEFE::SmartResultsOf(const CSmartReportDlg& dialog) const {
    ScanResults r;
    r.kind = ScanResults::Kind::Smart;
    r.driveLabel = m_driveLabel;
    r.firmware = m_firmware;
    r.discTypeCode = m_discTypeCode;
    r.discType = dialog.DiscType().toStdString();
    r.manufacturerId = dialog.ManufacturerId().toStdString();
    r.mediaTypeId = dialog.MediaTypeId().toStdString();
    r.capacity = dialog.Capacity().toStdString();
    r.date = UtcTimestamp();
    r.programVersion = kVersionText;
    const std::vector<SpeedResult>& results = dialog.SpeedResults();
    bool complete = !results.empty();
    bool anyFailed = false;
    const SmartRow* highest = nullptr;  // the fastest speed found fit
    for (size_t i = 0; i < results.size() && i < m_speedCodes.size(); ++i) {
        r.speeds.push_back({m_speedCodes[i], i < m_speedKbps.size() ? m_speedKbps[i] : 0, results[i]});
        complete = complete && results[i] != SpeedResult::Stopped;
        anyFailed = anyFailed || results[i] == SpeedResult::Failed;
    }
    // A report closed before its first result measured nothing worth keeping.
    if (std::all_of(r.speeds.begin(), r.speeds.end(),
                    [](const SmartRow& row) { return row.result == SpeedResult::Stopped; }))
        return std::nullopt;
    for (const SmartRow& row : r.speeds) {
        if (row.result == SpeedResult::Fit && (highest == nullptr || row.kbps > highest->kbps))
            highest = &row;
    }
    // As the command line judges a report: a recommendation needs every speed measured.
    r.outcome = !complete   ? RunOutcome::Stopped
                : anyFailed ? RunOutcome::Failed
                : highest   ? RunOutcome::Ok
                            : RunOutcome::NotRecommended;
    r.verdictText = r.outcome == RunOutcome::Ok
                        ? scan_texts::kHighestRecommended + std::string(ShortSpeedLabel(highest->speedCode))
                    : r.outcome == RunOutcome::NotRecommended ? std::string(scan_texts::kNoSpeedRecommended)
                    : r.outcome == RunOutcome::Stopped        ? std::string(scan_texts::kUserAbort)
                                                              : std::string(scan_texts::kMeasurementFailed);
    return r;
}

}  // namespace dravix
