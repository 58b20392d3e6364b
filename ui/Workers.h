#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stop_token>

namespace dravix {

struct WorkerChannel;

// What a worker's body has: its stop request, and the one way back to the UI thread.
class WorkerContext final {
  public:
    WorkerContext(std::shared_ptr<WorkerChannel> channel, std::stop_token stop)
        : m_channel(std::move(channel)), m_stop(std::move(stop)) {}

    const std::stop_token& StopToken() const { return m_stop; }
    bool StopRequested() const { return m_stop.stop_requested(); }

    // Runs `update` on the UI thread after everything this worker posted before. Dropped when the
    // window is gone or the worker has been asked to stop by the time it would run. Never waits.
    void Post(std::function<void()> update) const;

  private:
    std::shared_ptr<WorkerChannel> m_channel;
    std::stop_token m_stop;
};

// How a window hands work to worker threads and gets the results back. Work at a drive goes
// through the window's DriveSequence (its steps, background steps and runs), which takes the
// drive's turn and uses these workers; a window starts a worker here directly only for work that
// sends nothing to a drive (writing a results file, reading a file the user named). Each body
// runs on a worker of the program (WorkerThreads::Program()); what it posts
// runs on the window's thread while the window exists and the worker has not been asked to stop.
// A worker never waits for the UI thread and the window never waits for a worker: destroying this
// (with its window) asks its workers to stop and drops what they still post; a worker at the drive
// ends on its own once its command has come back.
class Workers final : public QObject {
    Q_OBJECT
  public:
    explicit Workers(QObject* window);
    ~Workers() override;
    Q_DISABLE_COPY_MOVE(Workers)

    using Body = std::function<void(const WorkerContext& context)>;

    // Starts `body` on a worker; the id (never 0) names it to RequestStop.
    uint64_t Start(Body body);
    // Starts `body` on a thread that nobody joins, for work that sends nothing to a drive but may
    // wait on something else (reading a file the user named): the end of the program never waits
    // for it. Its posts arrive as a worker's do; it is not counted by Running() and gets no Ended.
    void StartUnjoined(Body body);
    // The worker sends nothing more once its current command is back, and its posts are dropped.
    void RequestStop(uint64_t id);
    void RequestStopAll();
    // Workers started here whose end has not been delivered yet.
    size_t Running() const { return m_running.size(); }

  signals:
    // A worker has ended; delivered after everything it posted, also when it was stopped.
    void Ended(uint64_t id);

  private:
    std::shared_ptr<WorkerChannel> m_channel;
    std::map<uint64_t, uint64_t> m_running;  // our id → the program's worker id
    uint64_t m_nextId = 1;
};

// Waits for every worker of the program to end, asking each to stop first: at the end of the
// program, and in tests before their drives go.
void JoinAllWorkers();

}  // namespace dravix
