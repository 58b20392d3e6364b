#pragma once

#include <QColor>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <stop_token>
#include <vector>

#include <optional>

#include "probix/ResultsFile.h"
#include "probix/ScanEngine.h"
#include "probix/SpeedList.h"
#include "scan/KeptResults.h"
#include "turns/AppState.h"
#include "ui/PropertyPage.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace dravix {

class CScanChart;
class CSmartReportDlg;
class DiscWatcher;
struct DriveIdentity;
class DriveSequence;
class DriveTable;
class SharedDrive;
class StatusLine;
class StoppableDrive;
class WorkerContext;

// The Probix page (dialog 136): finds a blank DVD+R, DVD+R DL or DVD-R in the drive every second,
// offers its write speeds, and measures TE and FE along the disc at the chosen speed on a worker,
// drawing both curves as they come and judging the disc at the end. STOP ends a run between
// commands. Smart mode opens the Smart Mode Report instead.
//
// Threads: the page's controls are touched only on its own thread; the poll and the run are runs
// of the page's drive sequence (its start-up commands are steps of it), which post their results
// to it. The page's drive (ScanDrive) takes one command at a time from whichever thread asks, in
// turn with the other windows on that drive. No worker ever waits for the page's thread, and the
// page never waits for a worker: destroying it asks them to stop, and one still at the drive ends
// on its own once its command is back, touching nothing of the page.
//
// The page is in three files: the page itself (TeFe.cpp: its controls, start-up, disc poll and
// settings), its run (TeFeRun.cpp: START, the run on its worker, STOP, the Smart report) and its
// kept results (KeptResults).

class CTEFE final : public PropertyPage {
    Q_OBJECT
  public:
    static constexpr int kDialogId = 136;
    static constexpr int kTabIconId = 142;
    static constexpr int kSpeedComboId = 1005;
    static constexpr int kStartEditId = 1008;
    static constexpr int kEndEditId = 1057;
    static constexpr int kStartLabelId = 1061;
    static constexpr int kEndLabelId = 1062;
    static constexpr int kSamplingComboId = 1016;
    static constexpr int kStartId = 1009;
    static constexpr int kStopId = 1010;
    static constexpr int kElapsedId = 1011;
    static constexpr int kTeCheckId = 1024;
    static constexpr int kFeCheckId = 1023;
    static constexpr int kTeLegendId = 1017;
    static constexpr int kFeLegendId = 1018;
    static constexpr int kChartFrameId = 1015;
    static constexpr int kStatusId = 1025;
    static constexpr int kPollPeriodMs = 1000;
    // The last run's commands (the main window's File menu and the chart's context menu offer
    // them) and its figures (the status line's tool tip): KeptResults.
    static constexpr const char* kSaveResultsName = KeptResults::kSaveResultsName;
    static constexpr const char* kSavePictureName = KeptResults::kSavePictureName;
    static constexpr const char* kShowResultsName = KeptResults::kShowResultsName;
    static constexpr const char* kPreviousRunPrefix = KeptResults::kPreviousRunPrefix;

    static QColor TeColour() { return QColor(227, 28, 187); }
    static QColor FeColour() { return QColor(18, 237, 221); }
    static QColor HelpColour() { return QColor(0, 0, 160); }
    static QColor OkColour() { return QColor(0, 130, 0); }
    static QColor WarningColour() { return QColor(255, 0, 0); }

    explicit CTEFE(const AppServices& services, QWidget* parent = nullptr);
    // Stops the timer and asks every worker to stop (without waiting for one), sends vendor mode
    // off after them when the drive accepted it, and gives the program its idle state back.
    ~CTEFE() override;
    Q_DISABLE_COPY_MOVE(CTEFE)

    // Save Scan Results..., Save Chart Picture... and Show in Results Window, once a run is kept.
    QList<QAction*> Commands() const override { return m_kept.Commands(); }

    // Timer 1: starts a disc poll unless one is running.
    void OnTimer();
    // The drive went: the page polls no more, and the last run (finished or cut short) stays in a
    // results window, to look at and to save.
    void OnDriveGone() override;
    void OnStart();
    void OnStop();

    // The object name of timer 1, the disc poll.
    static constexpr const char* kPollTimerName = "pollTimer";

  protected:
    void OnInitDialog() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // What the page's workers share with it, kept alive by whichever of them lives longest.
    struct Shared;

    struct PollOutcome {
        enum class Kind { Idle, NotReady, Unchanged, Surveyed };
        Kind kind = Kind::Idle;
        DiscSurvey survey;
        // The drive reported a medium change while the page knew its disc (to this poll or to
        // any other command of the program): the disc in the drive may be another one, so what
        // the page shows of it no longer holds.
        bool discChanged = false;
        uint64_t changes = 0;  // the drive's medium changes counted by the end of the poll
    };

    void BuildControls();
    void ResetScanPage();
    void SetStatus(const QString& text, const QColor& colour = Qt::black);
    void ShowFieldHelp(int stringId);

    static PollOutcome PollDisc(SharedDrive& drive, const Shared& shared, bool discKnown,
                                uint64_t knownChanges, const std::stop_token& stop);
    // The page's poll is its drive's disc poll (DiscWatcher) while its timer runs.
    void WatchDisc(const DriveIdentity& drive);
    void StopWatchingDisc();
    void OnPollDone(const PollOutcome& outcome);
    void BuildSpeedList(const DiscSurvey& survey);

    void OnSpeedChanged(int index);
    void OnSamplingChanged(int index);
    void OnTeClicked();
    void OnFeClicked();
    void OnAddressEditLeft(QLineEdit* edit);

    void OpenScanDrive();
    void OnScanDriveOpen(int drives);
    void OnVendorMode(bool accepted);
    void LockScanControls(bool on);
    // The run at the drive; nothing when it was stopped.
    static std::optional<ScanResult> RunWorker(CTEFE* page, SharedDrive& drive,
                                               const std::shared_ptr<Shared>& shared,
                                               const ScanSettings& settings, const WorkerContext& context);
    void OnRunEnded(const ScanResult& result);
    // Keeps what the run measured (shown, saved, autosaved).
    void KeepResults(const ScanResult& result);
    // Shows the kept results as the current run's or a previous one's.
    void MarkResultsStale();
    void RunSmartReport();

    // ScanDrive: the page's own drive table, shared by its workers one command at a time.
    std::shared_ptr<StoppableDrive> m_scanDrive;
    bool m_scanDriveOpen = false;
    DriveSequence* m_sequence = nullptr;
    std::shared_ptr<Shared> m_shared;
    QTimer* m_timer;  // timer 1

    // Page fields (this thread only; ScanBusy lives in m_shared, where the poll worker reads it).
    int32_t m_baseStep = 0;
    SamplingMode m_mode = SamplingMode::Normal;
    bool m_driveAccepted = false;
    bool m_pollRunning = false;
    bool m_discKnown = false;
    // The medium changes the drive had reported when the page examined its disc.
    uint64_t m_discChanges = 0;
    std::shared_ptr<DiscWatcher> m_discWatch;
    bool m_pollsForWatch = false;
    // A medium change was seen while a run or the report owned the page: the page is reset before
    // the next disc survey is shown.
    bool m_resetPending = false;
    uint8_t m_selectedSpeedCode = kFirstSpeedCode;
    QString m_statusText;

    // The run going or last run, and what the page keeps of it.
    ScanSettings m_runSettings;
    uint32_t m_runKbps = 0;
    KeptResults m_kept;

    // The disc.
    std::vector<uint8_t> m_speedCodes;
    std::vector<uint32_t> m_speedKbps;
    uint8_t m_discTypeCode = kScanDiscUnknown;
    int32_t m_lastLba = kDefaultLastLba;

    // The run (0: none), a run of the page's sequence. A stopped run may still be at the drive; it
    // is no longer the page's run, and nothing it posts reaches the page.
    uint64_t m_runWorker = 0;
    // The run's part in ScanIdle, taken and let go with the run's controls.
    RunHold m_runHold;

    QComboBox* m_speedCombo = nullptr;
    QComboBox* m_samplingCombo = nullptr;
    QLineEdit* m_startEdit = nullptr;
    QLineEdit* m_endEdit = nullptr;
    QLabel* m_startLabel = nullptr;
    QLabel* m_endLabel = nullptr;
    QPushButton* m_startButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QLabel* m_elapsed = nullptr;
    QCheckBox* m_teCheck = nullptr;
    QCheckBox* m_feCheck = nullptr;
    QLabel* m_teLegend = nullptr;
    QLabel* m_feLegend = nullptr;
    QWidget* m_chartFrame = nullptr;
    CScanChart* m_chart = nullptr;
    StatusLine* m_status = nullptr;
};

}  // namespace dravix
