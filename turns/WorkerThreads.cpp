#include "turns/WorkerThreads.h"

#include <algorithm>

namespace dravix {

WorkerThreads& WorkerThreads::Program() {
    static WorkerThreads workers;
    return workers;
}

WorkerThreads::~WorkerThreads() {
    JoinAll();
}

uint64_t WorkerThreads::Start(Body body) {
    auto worker = std::make_unique<Worker>();
    worker->ended = std::make_shared<std::atomic<bool>>(false);
    worker->thread = std::jthread([body = std::move(body), ended = worker->ended](std::stop_token stop) {
        body(stop);
        ended->store(true, std::memory_order_release);
    });
    std::lock_guard lock(m_mutex);
    Reap();
    worker->id = m_nextId++;
    const uint64_t id = worker->id;
    m_workers.push_back(std::move(worker));
    return id;
}

void WorkerThreads::RequestStop(uint64_t id) {
    std::lock_guard lock(m_mutex);
    for (const auto& worker : m_workers) {
        if (worker->id == id) worker->thread.request_stop();
    }
}

size_t WorkerThreads::Running() const {
    std::lock_guard lock(m_mutex);
    return static_cast<size_t>(std::count_if(m_workers.begin(), m_workers.end(), [](const auto& worker) {
        return !worker->ended->load(std::memory_order_acquire);
    }));
}

void WorkerThreads::Reap() {
    // An ended worker has left its body; joining it waits only for the thread's exit.
    std::erase_if(m_workers, [](const std::unique_ptr<Worker>& worker) {
        if (!worker->ended->load(std::memory_order_acquire)) return false;
        worker->thread.join();
        return true;
    });
}

void WorkerThreads::JoinAll() {
    for (;;) {
        std::vector<std::unique_ptr<Worker>> workers;
        {
            std::lock_guard lock(m_mutex);
            workers.swap(m_workers);
        }
        if (workers.empty()) return;
        for (const auto& worker : workers) worker->thread.request_stop();
        // Joined without the lock: a worker may still start another one on its way out.
        for (const auto& worker : workers) worker->thread.join();
    }
}

}  // namespace dravix
