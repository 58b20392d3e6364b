// The Probix page's run: START, the run on its worker (drawing on the chart's canvas and posting
// what the page shows), its end and its verdict, STOP, and the Smart report.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <optional>

#include "chart/ChartStyle.h"
#include "chart/ScanChart.h"
#include "drive/VendorMode.h"
#include "probix/DiscReport.h"
#include "probix/ScanTexts.h"
#include "scan/SmartReport.h"
#include "scan/TeFe.h"
#include "scan/TeFeShared.h"
#include "turns/AppState.h"
#include "turns/SharedDrive.h"
#include "turns/StoppableDrive.h"
#include "ui/DriveSequence.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"

namespace dravix {

namespace {

constexpr int kTeSeries = chart_style::kTeLimitSeries;
constexpr int kFeSeries = chart_style::kFeLimitSeries;
constexpr int kTeCurve = chart_style::kTeCurve;
constexpr int kFeCurve = chart_style::kFeCurve;

}  // namespace

void CTEFE::LockScanControls(bool on) {
    m_runHold.Set(on);
    m_startButton->setEnabled(!on);
    m_stopButton->setEnabled(on);
    for (QWidget* control :
         std::initializer_list<QWidget*>{m_startEdit, m_endEdit, m_speedCombo, m_samplingCombo}) {
        control->setEnabled(!on);
    }
}

void CTEFE::OnStart() {
    // One run at a time; also a START arriving before the run has disabled the button.
    if (!m_driveAccepted || !m_scanDriveOpen || m_chart == nullptr || m_runWorker != 0 ||
        m_shared->scanBusy.load())
        return;

    ScanSettings settings;
    if (m_mode == SamplingMode::Customize) {
        settings.customStart = LeadingNumber(m_startEdit->text().toStdString());
        settings.customEnd = LeadingNumber(m_endEdit->text().toStdString());
        if (const char* problem = CheckRange(settings.customStart, settings.customEnd, m_lastLba)) {
            Services().Inform(this, ProgramText(problem));
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
    SetStatus(ProgramText(scan_texts::kTesting));
    m_runWorker = m_sequence->Run(
        [this, shared = m_shared, settings](SharedDrive& drive, const WorkerContext& context) {
            return RunWorker(this, drive, shared, settings, context);
        },
        [this](const std::optional<ScanResult>& result) {
            if (!result) return;
            // A run that could not read them names no disc, not one of an earlier run.
            m_kept.SetDiscIds(result->discIds ? DiscIdentifiersText{result->discIds->manufacturerId,
                                                                    result->discIds->mediaTypeId}
                                              : DiscIdentifiersText{});
            OnRunEnded(*result);
        });
}

std::optional<ScanResult> CTEFE::RunWorker(CTEFE* page, SharedDrive& drive,
                                           const std::shared_ptr<Shared>& shared,
                                           const ScanSettings& settings, const WorkerContext& context) {
    // Runs on the worker and may outlive the page: the sequence keeps the drive, the run the
    // shared state, and it reaches the page only through what it posts (dropped once the run is
    // stopped or the page is gone).
    const StopRequested stopRequested = [&context] { return context.StopRequested(); };

    // Vendor mode is switched on again before every run; what the drive answers is not looked at.
    // A run stopped while it waited for the drive sends nothing.
    if (!drive.LockedUnlessStopped(stopRequested, [&shared](DriveTable& table) {
            shared->state->SelectChosenDrive(table);
            return VendorModeScope::SwitchOnAgain(table);
        })) {
        return std::nullopt;
    }
    {
        std::lock_guard lock(shared->drawMutex);
        if (stopRequested() || shared->canvas == nullptr) return std::nullopt;
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
    ScanResult result = RunTeFeScan(drive, settings, observer, stopRequested);
    if (result.end == ScanEnd::Stopped) return std::nullopt;  // STOP has already given the page back
    // The results file names the disc the run read before it measured. No command is sent for it
    // afterwards: one could take the drive's only report of a medium change (the page would then
    // never examine the new disc), and after an eject or a removal it would name no disc at all.
    return result;
}

void CTEFE::OnRunEnded(const ScanResult& result) {
    // The drive told the run, not the poll, that the disc may have changed: examine it anew.
    if (result.unitAttention) {
        m_discKnown = false;
        m_resetPending = true;
    }
    if (result.end == ScanEnd::NoVerdict) {
        m_elapsed->setText(QString::fromStdString(ElapsedText(result.elapsedSeconds)));
        const QString text = ProgramText(NoVerdictText(result.noVerdict));
        Services().Ask(this, ProgramText(scan_texts::kWarningCaption), text, PromptIcon::Exclamation,
                       PromptButtons::Ok);
        SetStatus(text, WarningColour());
    } else if (result.end == ScanEnd::Failed) {
        m_elapsed->setText(QString::fromStdString(ElapsedText(result.elapsedSeconds)));
        const FailureTexts texts = TextsOfFailure(result.path, result.outcome);
        Services().Ask(this, ProgramText(scan_texts::kWarningCaption), ProgramText(texts.box),
                       PromptIcon::Exclamation, PromptButtons::Ok);
        SetStatus(ProgramText(texts.status), WarningColour());
    } else {
        const QString verdict = ProgramText(VerdictText(result));
        Services().Inform(this, verdict);
        SetStatus(verdict, result.notRecommended ? WarningColour() : OkColour());
    }
    m_shared->scanBusy = false;
    m_runWorker = 0;
    LockScanControls(false);
    KeepResults(result);
    // The box has said that the drive is no longer there.
    if (result.end == ScanEnd::Failed && result.outcome == FailureOutcome::DriveGone) emit DriveGoneTold();
}

void CTEFE::OnStop() {
    if (m_runWorker == 0) return;
    {
        // After this, the stopped run draws nothing more, whatever command it is waiting for.
        std::lock_guard lock(m_shared->drawMutex);
        m_sequence->StopRun(m_runWorker);
    }
    m_runWorker = 0;
    m_shared->scanBusy = false;
    LockScanControls(false);
    SetStatus(ProgramText(scan_texts::kUserAbort), WarningColour());
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
                    const auto results = [this, &dialog] {
                        return m_kept.SmartResultsOf(dialog, m_discTypeCode, m_speedCodes, m_speedKbps);
                    };
                    dialog.SetSaveHandler(
                        [this, &dialog, results] { m_kept.AskAndSaveSmart(dialog, results()); });
                    Services().RunModal(dialog);
                    if (dialog.LastLba()) m_lastLba = *dialog.LastLba();
                    // The report's identity reads may have taken the drive's report of a new
                    // disc: examine the disc anew.
                    if (dialog.Disc().changed || dialog.Disc().identifiersUnread) {
                        m_discKnown = false;
                        m_resetPending = true;
                    }
                    m_kept.Autosave(results());
                }
                m_shared->scanBusy = false;
            });
    });
}

void CTEFE::OnDriveGone() {
    m_timer->stop();
    StopWatchingDisc();
    // The page goes next; the results window is the main window's, so the curves outlive the page.
    m_kept.ShowInResultsWindow();
}

void CTEFE::KeepResults(const ScanResult& result) {
    std::vector<ScanSample> samples;
    uint16_t teReference = 0;
    uint16_t feReference = 0;
    {
        std::lock_guard lock(m_shared->drawMutex);
        samples = m_shared->samples;
        teReference = m_shared->teReference;
        feReference = m_shared->feReference;
    }
    m_kept.Keep(result, std::move(samples), teReference, feReference, m_runSettings, m_runKbps);
}

}  // namespace dravix
