#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "probix/WriteTestFile.h"
#include "probix/WriteTestSetup.h"
#include "scan/WriteTestView.h"
#include "turns/AppState.h"

class QBoxLayout;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTimer;

namespace dravix {

class AppServices;
class DriveSequence;
class StoppableDrive;

// The write test of the drive chosen in the main window: a blank recordable disc written in
// simulation, so that its write-speed curve, the drive's buffer and the write mode show without
// burning it. The window shows the disc and how it is simulated, the write speed (from the disc's
// own write speeds) and the length, START and STOP, the progress, the elapsed time and the buffer
// as the run goes, the chart as it grows, and the figures and the end's message.
//
// Before every run the user is told what will happen (OK or Cancel; Cancel sends nothing). The run
// holds the drive's turn from its first command to its last (the engine takes it), and ScanIdle
// is 0 meanwhile, so the main window neither lists the drives again nor lets its pages at the
// drive. It goes on a worker that the window's going does not cut short: STOP, closing the window
// or the program's end ask it to stop between two requests, and it still flushes the drive's cache
// and puts the simulation setting back. Closing the window while it runs waits for that.
//
// Object names: "writeTestDisc", "writeTestSpeed", "writeTestLength", "writeTestLengthMB",
// "writeTestStart", "writeTestStop", "writeTestProgress", "writeTestElapsed", "writeTestBuffer",
// "writeTestStatus", "writeTestChart", "writeTestLegend", "writeTestSummary", "writeTestVerdict",
// "writeTestSaveResults", "writeTestSavePicture".
class CWriteTestWindow final : public QDialog {
    Q_OBJECT
  public:
    CWriteTestWindow(const AppServices& services, QWidget* parent = nullptr);
    ~CWriteTestWindow() override;
    Q_DISABLE_COPY_MOVE(CWriteTestWindow)

    // Reads the chosen drive's disc and shows it (when the window opens, and after each run).
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
    void FillSpeeds(const WriteTestDisc& disc);
    // The run itself, once the user has agreed and no marker stands in the way.
    void Launch(WriteTestSettings settings);
    void OnPoint(const WritePoint& point, uint64_t written, uint64_t planned);
    void OnRunEnded(const Ran& ran);
    void SetRunning(bool running);
    void ShowElapsed();
    void ShowStatus(const QString& text);
    void AskSaveResults();
    void AskSaveChartPicture();

    const AppServices& m_services;
    std::shared_ptr<StoppableDrive> m_drive;
    DriveSequence* m_sequence = nullptr;
    std::shared_ptr<std::atomic<bool>> m_stop;
    bool m_running = false;
    bool m_closeWhenEnded = false;
    RunHold m_runHold;  // the run's part in ScanIdle
    std::optional<WriteTestDisc> m_disc;
    std::optional<WriteTestRecord> m_record;  // the last run, once it wrote something
    QString m_driveLabel;
    bool m_chartBegun = false;  // the running chart has its axes
    QElapsedTimer m_elapsed;

    QLabel* m_discText = nullptr;
    QGroupBox* m_settings = nullptr;
    QComboBox* m_speed = nullptr;
    QComboBox* m_length = nullptr;
    QLineEdit* m_lengthMB = nullptr;
    QLabel* m_driveStatus = nullptr;
    QPushButton* m_start = nullptr;
    QPushButton* m_stopButton = nullptr;
    QProgressBar* m_progress = nullptr;
    QLabel* m_elapsedText = nullptr;
    QLabel* m_buffer = nullptr;
    QLabel* m_status = nullptr;
    QTimer* m_tick = nullptr;
    WriteTestView* m_view = nullptr;  // the chart, its legend, the figures and the end's message
    QPushButton* m_saveResults = nullptr;
    QPushButton* m_savePicture = nullptr;
};

// A marker left by a write test that did not end (a crash, a kill): the user is warned that Test
// Write may still be on and asked whether to check it. Yes reads the drive the marker names (the
// chosen one when it is not found) in `sequence`, tells what the drive says and removes the marker
// when simulation is off; No keeps it. `done` gets whether no marker is left; it comes at once
// when there is none.
void CheckLeftWriteTestMarker(const AppServices& services, QWidget& owner, DriveSequence& sequence,
                              std::function<void(bool cleared)> done = {});

// Texts of the window.
inline constexpr const char* kWriteTestTitle = "Write Test";
inline constexpr const char* kWriteTestScanRunning =
    "A scan or a read test is running: start the write test when it has ended.";
inline constexpr const char* kWriteTestNothingWritten = "Nothing was written: there is nothing to save.";
inline constexpr const char* kWriteTestBadLength = "The length is the megabytes to write: a number from 1.";
inline constexpr const char* kWriteTestMarkerQuestion =
    "An earlier write test did not end: Test Write may still be on. Check the drive now?";
inline constexpr const char* kWriteTestMarkerOff = "Test Write is off: the drive records its writes again.";
inline constexpr const char* kWriteTestMarkerStands =
    "Not started: an earlier write test did not end, and Test Write is not known to be off.";
inline constexpr const char* kWriteTestMarkerUnknown =
    "The drive did not tell whether Test Write is on: check it on the Test Write page before burning.";

}  // namespace dravix
