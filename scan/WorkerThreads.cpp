#include "scan/WorkerThreads.h"

#include <algorithm>

namespace dravix {

WorkerThreads::~WorkerThreads() {
    JoinAll();
}

uint64_t WorkerThreads::Start(Body body) {
    auto worker = std::make_unique<Worker>();
    worker->id = m_nextId++;
    worker->ended = std::make_shared<std::atomic<bool>>(false);
    worker->thread = std::jthread([body = std::move(body), ended = worker->ended](std::stop_token stop) {
        body(stop);
        ended->store(true, std::memory_order_release);
    });
    const uint64_t id = worker->id;
    m_workers.push_back(std::move(worker));
    return id;
}

void WorkerThreads::RequestStop(uint64_t id) {
    for (const auto& worker : m_workers) {
        if (worker->id == id) worker->thread.request_stop();
    }
}

void WorkerThreads::RequestStopAll() {
    for (const auto& worker : m_workers) worker->thread.request_stop();
}

bool WorkerThreads::Running(uint64_t id) const {
    return std::any_of(m_workers.begin(), m_workers.end(), [id](const auto& worker) {
        return worker->id == id && !worker->ended->load(std::memory_order_acquire);
    });
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
    RequestStopAll();
    for (const auto& worker : m_workers) {
        if (worker->thread.joinable()) worker->thread.join();
    }
    m_workers.clear();
}

}  // namespace dravix
