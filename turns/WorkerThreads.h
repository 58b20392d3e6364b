#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace dravix {

// The worker threads of the program. A window that no longer needs a worker asks it to stop and
// forgets it: the worker ends on its own once the command it may have at the drive has come
// back, and is joined here later, never by the window that started it, so no window waits for a
// drive. JoinAll waits for all of them: when the program ends, and in tests before their virtual
// drives go. Safe from any thread.
class WorkerThreads final {
  public:
    using Body = std::function<void(std::stop_token stop)>;

    // The program's workers.
    static WorkerThreads& Program();

    WorkerThreads() = default;
    ~WorkerThreads();
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;

    // Starts `body` on a new thread; the id is never 0. Joins the workers that have ended.
    uint64_t Start(Body body);
    void RequestStop(uint64_t id);
    // Stops and joins every worker, those started meanwhile included.
    void JoinAll();
    // Workers whose body has not returned.
    size_t Running() const;

  private:
    struct Worker {
        uint64_t id = 0;
        std::shared_ptr<std::atomic<bool>> ended;
        std::jthread thread;
    };
    void Reap();

    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<Worker>> m_workers;
    uint64_t m_nextId = 1;
};

}  // namespace dravix
