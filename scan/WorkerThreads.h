#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stop_token>
#include <thread>
#include <vector>

namespace dravix {

// The worker threads of one window (the scan page's polls, runs and Smart measurements). A
// worker that is told to stop may still be waiting for a command at the drive; it is never
// destroyed while it runs: it stays here until it has ended, and is joined then. Used from the
// window's thread only; the workers see nothing of it but their stop token.
class WorkerThreads final {
  public:
    using Body = std::function<void(std::stop_token stop)>;

    WorkerThreads() = default;
    // Asks every worker to stop and joins them. The workers must never wait for the thread that
    // destroys this (they post to it, they do not block on it).
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Starts `body` on a new thread; the id is never 0.
    uint64_t Start(Body body);
    void RequestStop(uint64_t id);
    void RequestStopAll();
    // True while the worker's body has not returned.
    bool Running(uint64_t id) const;
    // Joins the workers whose body has returned; never waits for a running one.
    void Reap();
    // Stops and joins everything.
    void JoinAll();
    // Workers not yet joined (running, or ended and not yet reaped).
    size_t Count() const { return m_workers.size(); }

  private:
    struct Worker {
        uint64_t id = 0;
        std::shared_ptr<std::atomic<bool>> ended;
        std::jthread thread;
    };

    std::vector<std::unique_ptr<Worker>> m_workers;
    uint64_t m_nextId = 1;
};

}  // namespace dravix
