#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "drive/DriveNodes.h"
#include "turns/StoppableDrive.h"
#include "ui/Workers.h"

class QLabel;
class QTimer;
class QWidget;

namespace dravix {

class AppServices;

// The texts a window shows while its drive works.
inline constexpr const char* kStatusDriveActivating = "Drive activating\u2026";
inline constexpr const char* kStatusCheckingDrive = "Checking the drive\u2026";
inline constexpr const char* kStatusReadingDrive = "Reading the drive\u2026";
// How long a step may keep the window busy before it says that the drive is being read.
inline constexpr int kSlowDriveMs = 800;

// A line for a sequence's status texts inside a window's layout: hidden until a text comes, its
// height kept meanwhile, so the texts are drawn over no control and the window keeps its size as
// they come and go.
QLabel* NewDriveStatusLine(QWidget& parent, const QString& objectName);

// How a window runs its drive command sequences without making the user wait for the drive.
//
// A sequence is a chain of steps. Each step runs on a worker with the window's drive to itself:
// it takes its turn at the drive (turns come in the order the steps were asked for, whichever
// window asked), so one window's vendor mode on, commands and off are never split by another's.
// Its result goes to a continuation on the UI thread, which shows what the step found, asks the
// user what the sequence needs to know (a question ends a step; the answer starts the next one)
// and may start the next step. The worker never waits for the UI thread.
//
// While a step is at the drive the window is busy: its busy widget is disabled and shows the wait
// cursor, and a status line says "Drive activating..." while the drive becomes ready, or "Reading
// the drive..." when a slow drive keeps the window busy and nothing else is said. While a
// continuation asks the user something the window is not disabled (a dialog it opens must be
// usable), but the sequence still runs: Running() stays true until its last continuation is done.
// Stop (the window changes drive or goes) lets the command at the drive finish and ends the step
// without sending another command (vendor mode off aside); its continuation never runs.
class DriveSequence final : public QObject {
    Q_OBJECT
  public:
    // `busy` is the widget that is disabled and shows the wait cursor; `status` the label that
    // shows the status texts (null: a label of its own at the bottom of `busy`). The drive
    // layer's own messages during a step are shown through `services`.
    DriveSequence(QWidget& busy, const AppServices& services, std::shared_ptr<StoppableDrive> drive,
                  QLabel* status = nullptr);
    // The object name of the workers the sequence's steps and runs go on.
    static constexpr const char* kWorkersName = "sequenceWorkers";
    ~DriveSequence() override;
    Q_DISABLE_COPY_MOVE(DriveSequence)

    // Starts a sequence: `begin` runs now when no sequence runs, else when the running one has
    // ended. One sequence waits at most; another one asked for meanwhile would read the same
    // drive again and is not kept.
    void Start(std::function<void()> begin);

    // A step of the running sequence, asked for by its `begin` or by a continuation:
    // `work(table, context)` on a worker, then `then(result)` on the UI thread.
    template <typename Work, typename Then>
    void Step(Work work, Then then) {
        RunStep(Erase<DriveTable>(std::move(work), std::move(then)), false);
    }

    // A step outside any sequence that shows nothing while it runs (a poll). Not started while a
    // step of a sequence, a Finally or another such step runs; it runs while a sequence only asks
    // the user something (a page's timer goes on under its message boxes). Its continuation is
    // dropped when a step of a sequence has been asked for meanwhile. False when it was not started.
    template <typename Work, typename Then>
    bool Background(Work work, Then then) {
        if (m_background || m_atDrive > 0 || m_finally->load() > 0) return false;
        RunStep(Erase<DriveTable>(std::move(work), std::move(then)), true);
        return true;
    }

    // Work outside any sequence that the window does not wait for, and that may last: a scan run,
    // a measurement, a disc poll. `work(drive, context)` runs on a worker with the window's drive
    // as its threads share it: each use of `drive` takes its own turn at the drive, so another
    // window's step may come between two of them (a run that finds vendor mode switched off
    // switches it on again). It shows nothing while it goes: the window stays usable, its STOP
    // or Exit included. What it finds on the way it posts through its context; `then(result)`
    // follows on the UI thread, unless the run has been stopped meanwhile (StopRun, Stop, the
    // window going). Returns the run's id (never 0).
    template <typename Work, typename Then>
    uint64_t Run(Work work, Then then) {
        return StartRun(Erase<SharedDrive>(std::move(work), std::move(then)));
    }
    // The run is asked to stop: it sends nothing more once its command at the drive is back (or
    // nothing at all while it waits for the drive), and nothing it posts arrives any more.
    void StopRun(uint64_t id);
    // The run has not ended yet (also a stopped run still at the drive).
    bool RunGoing(uint64_t id) const { return m_runs.contains(id); }

    // Work that reaches the drive even when the window goes right after (vendor mode off at the
    // end of a window): after the steps asked for before it, not stopped, nothing comes back. It
    // takes its turn at the drive of the last step (the program's chosen drive when there was
    // none), or at `drive`.
    void Finally(std::function<void(DriveTable& table)> work, std::optional<DriveIdentity> drive = {});

    // A sequence is running (a step, a continuation, or one waiting to begin).
    bool Running() const { return m_depth > 0; }
    // A sequence, a background step, a run or a Finally is running.
    bool Working() const { return Running() || m_background || !m_runs.empty() || m_finally->load() > 0; }
    // Ends the running sequence (see above), the background step and the runs, and drops the
    // sequence waiting.
    void Stop();

    // A status text for the rest of the sequence (UI thread).
    void ShowStatus(const QString& text);
    // Hides the status text when it is `text`.
    void EndStatus(const QString& text);

    // True while any sequence of `root` or of a window inside it works (tests, the main window).
    static bool AnyWorking(const QObject& root);

  private:
    using Continuation = std::function<void()>;
    // A step's work gets the table it holds, a run's the shared drive.
    template <typename Drive>
    using ErasedWork = std::function<Continuation(Drive& drive, const WorkerContext& context)>;

    template <typename Drive, typename Work, typename Then>
    static ErasedWork<Drive> Erase(Work work, Then then) {
        return [work = std::move(work), then = std::move(then)](
                   Drive& drive, const WorkerContext& context) -> Continuation {
            using Result = std::invoke_result_t<Work&, Drive&, const WorkerContext&>;
            if constexpr (std::is_void_v<Result>) {
                work(drive, context);
                return [then] { then(); };
            } else {
                auto result = std::make_shared<Result>(work(drive, context));
                return [then, result] { then(std::move(*result)); };
            }
        };
    }

    // The identity of the drive the window's steps address: the one chosen in the main window
    // (before the first listing, the one the window's table addresses).
    DriveIdentity ChosenDrive() const;
    void RunStep(ErasedWork<DriveTable> work, bool background);
    uint64_t StartRun(ErasedWork<SharedDrive> work);
    void Deliver(const Continuation& continuation, const std::vector<std::string>& messages,
                 uint64_t generation, bool background, uint64_t stepsAsked);
    void Leave(uint64_t generation);
    void EnterBusy();
    void LeaveBusy();

    QWidget& m_busy;
    const AppServices& m_services;
    std::shared_ptr<StoppableDrive> m_drive;
    QPointer<QLabel> m_status;
    bool m_ownStatus = false;
    Workers* m_workers;
    int m_depth = 0;    // the running sequence: its begin, steps and continuations
    int m_atDrive = 0;  // its steps at the drive
    bool m_background = false;
    uint64_t m_backgroundWorker = 0;
    bool m_busyWasEnabled = true;
    QTimer* m_slow = nullptr;  // a step that takes long says so
    uint64_t m_generation = 0;
    uint64_t m_stepsAsked = 0;                 // steps of sequences asked for so far
    std::optional<DriveIdentity> m_lastDrive;  // the drive the last step took its turn at
    std::set<uint64_t> m_runs;                 // runs whose end has not been delivered
    std::shared_ptr<std::atomic<int>> m_finally = std::make_shared<std::atomic<int>>(0);
    std::function<void()> m_waiting;
};

}  // namespace dravix
