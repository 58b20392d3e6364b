#include "ui/Workers.h"

#include <QMetaObject>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "turns/WorkerThreads.h"

namespace dravix {

// The way back from the workers to one window. Updates wait in the channel's own queue and each
// queued call on the UI thread takes the oldest, so an update is handed over under this lock,
// which the thread sanitizer sees (Qt's event queue locks are invisible to it), and stays in
// order; a nested event loop (a message box) still runs the updates that come in meanwhile. The
// lock also makes "the window still exists" and the queuing one step, so a window being
// destroyed on its thread is never posted to.
struct WorkerChannel {
    std::mutex mutex;
    Workers* receiver = nullptr;
    std::deque<std::function<void()>> updates;

    void Post(std::function<void()> update) {
        std::lock_guard lock(mutex);
        if (receiver == nullptr) return;
        updates.push_back(std::move(update));
        // The channel lives as long as its receiver, and Qt drops queued calls to a receiver
        // that is gone.
        QMetaObject::invokeMethod(
            receiver, [this] { RunOldest(); }, Qt::QueuedConnection);
    }

    // UI thread.
    void RunOldest() {
        std::function<void()> update;
        {
            std::lock_guard lock(mutex);
            if (updates.empty()) return;
            update = std::move(updates.front());
            updates.pop_front();
        }
        update();
    }

    // UI thread: the receiver goes; updates not yet run are dropped here, on the thread they
    // were meant for.
    void Close() {
        std::deque<std::function<void()>> dropped;
        {
            std::lock_guard lock(mutex);
            receiver = nullptr;
            dropped.swap(updates);
        }
    }
};

void WorkerContext::Post(std::function<void()> update) const {
    m_channel->Post([stop = m_stop, update = std::move(update)] {
        if (!stop.stop_requested()) update();
    });
}

Workers::Workers(QObject* window) : QObject(window), m_channel(std::make_shared<WorkerChannel>()) {
    m_channel->receiver = this;
    connect(this, &Workers::Ended, this, [this](uint64_t id) { m_running.erase(id); });
}

Workers::~Workers() {
    m_channel->Close();
    RequestStopAll();
}

uint64_t Workers::Start(Body body) {
    const uint64_t id = m_nextId++;
    const uint64_t worker = WorkerThreads::Program().Start(
        [channel = m_channel, body = std::move(body), id](std::stop_token stop) {
            body(WorkerContext(channel, stop));
            // Delivered only while the receiver exists, so it is still there when this runs.
            channel->Post([channel, id] { emit channel->receiver->Ended(id); });
        });
    m_running.emplace(id, worker);
    return id;
}

void Workers::StartUnjoined(Body body) {
    std::thread([channel = m_channel, body = std::move(body)] {
        body(WorkerContext(channel, std::stop_token()));
    }).detach();
}

void Workers::RequestStop(uint64_t id) {
    if (const auto it = m_running.find(id); it != m_running.end())
        WorkerThreads::Program().RequestStop(it->second);
}

void Workers::RequestStopAll() {
    for (const auto& [id, worker] : m_running) WorkerThreads::Program().RequestStop(worker);
}

void JoinAllWorkers() {
    WorkerThreads::Program().JoinAll();
}

}  // namespace dravix
