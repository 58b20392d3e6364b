#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <memory>
#include <optional>

#include "probix/ReadTestFile.h"
#include "turns/AppState.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace dravix {

class AppServices;
class DiscWatcher;
class DriveSequence;
class ReadTestView;
class StoppableDrive;

// The read test of the drive chosen in the main window, on any CD/DVD drive: it sends standard
// commands only, so the maker's support check plays no part. The window shows the disc, the test,
// speed, range and image to verify against, START and STOP, the speed chart as it grows, the
// figures and the verdict, and saves the result and its labelled picture.
//
// The run goes on a worker in the window's drive sequence, as the pages' commands do, and holds the
// drive's turn from its first command to its last: no other window's commands (a Probix scan
// among them) come between. While it runs ScanIdle is 0, so the main window locks its drive list
// as for a scan. STOP shows what the run measured at once and ends it when the request at the
// drive returns (the drive stays held until then); closing the window stops it first.
//
// Object names: "readTestDisc", "readTestKind", "readTestSpeed", "readTestRange",
// "readTestFirstLba", "readTestLastLba", "readTestImage", "readTestBrowse", "readTestLoadEject", "readTestStart",
// "readTestStop", "readTestProgress", "readTestStatus", "readTestSaveResults",
// "readTestSavePicture"; the chart and figures are those of ReadTestView.
class CReadTestWindow final : public QDialog {
    Q_OBJECT
  public:
    CReadTestWindow(const AppServices& services, QWidget* parent = nullptr);
    ~CReadTestWindow() override;
    Q_DISABLE_COPY_MOVE(CReadTestWindow)

    // Reads the chosen drive's disc and shows it (when the window opens, and after a disc change).
    void ReadDisc();
    void Start();
    void Stop();
    bool Running() const { return m_running; }

    // What Save Results… and Save Chart Picture… write once the name is chosen; false after the
    // message that says why nothing was written.
    bool SaveResults(const QString& path);
    bool SaveChartPicture(const QString& path);

  signals:
    // A run began or ended.
    void RunningChanged(bool running);

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    struct DiscRead;
    struct Ran;

    void Build();
    void ShowDisc(const DiscRead& read);
    void ShowDiscLayout(const DiscLayout& layout);
    void FillSpeeds(const DiscLayout& layout);
    void OnRangeChosen();
    void BrowseImage();
    void AskSaveResults();
    void AskSaveChartPicture();
    void OnRunEnded(const Ran& ran);
    // What a run came to, on the chart, in the figures and the status line.
    void ShowRun(const Ran& ran);
    void SetRunning(bool running);
    // The save buttons follow the run the window keeps.
    void EnableSaving();
    void ShowStatus(const QString& text);
    // While the run reads a failed request's sectors again one by one, the status line says which
    // LBA, how many sectors are unreadable so far and, every second, how long the read at the drive
    // has taken; null `lba` ends it and the status line says what it said before.
    void ShowRetry(std::optional<uint32_t> lba, uint64_t failedSectors);
    void ShowRetryText();
    // The run's stop request and the sequence's, so that nothing more goes to the drive.
    void StopRun();
    // The disc shown is the one the drive's disc watcher knows of; a disc changed since is read
    // and shown while no run goes.
    void FollowDisc();

    const AppServices& m_services;
    std::shared_ptr<StoppableDrive> m_drive;
    DriveSequence* m_sequence = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stop;
    std::shared_ptr<ReadTestHandover> m_handover;  // the running test's
    ReadTestRecord m_runHeader;                    // drive, disc and image of the running test
    bool m_stopShown = false;  // STOP showed the run; what the worker still posts is not shown
    bool m_running = false;
    RunHold m_runHold;                       // the run's part in ScanIdle
    std::optional<ReadTestRecord> m_record;  // the last run, once it measured something
    std::shared_ptr<DiscWatcher> m_discWatch;
    uint64_t m_shownChanges = 0;  // the drive's medium changes when the disc shown was read
    std::optional<bool> m_shownReady;

    QLabel* m_disc = nullptr;
    QGroupBox* m_settings = nullptr;
    QComboBox* m_kind = nullptr;
    QComboBox* m_speed = nullptr;
    QComboBox* m_range = nullptr;
    QLineEdit* m_firstLba = nullptr;
    QLineEdit* m_lastLba = nullptr;
    QLineEdit* m_image = nullptr;
    QCheckBox* m_loadEject = nullptr;  // a benchmark's eject and load
    QPushButton* m_browse = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stopButton = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_status = nullptr;
    QLabel* m_driveStatus = nullptr;  // the sequence's "Drive activating…", under the settings
    QTimer* m_retryTick = nullptr;
    QElapsedTimer m_retryRead;        // since the read at the drive went out
    std::optional<uint32_t> m_retryLba;
    uint64_t m_retryFailed = 0;
    QString m_statusBeforeRetry;
    ReadTestView* m_view = nullptr;
    QPushButton* m_saveResults = nullptr;
    QPushButton* m_savePicture = nullptr;
};

// Texts of the window.
inline constexpr const char* kReadTestTitle = "Read Test";
inline constexpr const char* kReadTestNoDrive = "No Device found!";
inline constexpr const char* kReadTestScanRunning =
    "A scan is running: start the read test when it has ended.";
inline constexpr const char* kReadTestWriteTestRunning =
    "A write test is running: start the read test when it has ended.";
inline constexpr const char* kReadTestBadRange =
    "The range needs a start and an end LBA, the start not after the end.";
inline constexpr const char* kReadTestNothingMeasured = "Nothing was read: there is nothing to save.";

}  // namespace dravix
