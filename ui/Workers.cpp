#include "ui/Workers.h"

#include <QMetaObject>
#include <mutex>

#include "ui/WorkerThreads.h"

namespace dravix {

// The way back from the workers to one window. The lock makes "the window still exists" and the
// queuing one step, so a window being destroyed on its thread is never posted to.
struct WorkerChannel {
    std::mutex mutex;
    Workers* receiver = nullptr;

    void Post(std::function<void()> update) {
        std::lock_guard lock(mutex);
        if (receiver == nullptr) return;
        QMetaObject::invokeMethod(receiver, std::move(update), Qt::QueuedConnection);
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
    {
        std::lock_guard lock(m_channel->mutex);
        m_channel->receiver = nullptr;
    }
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
