#include "turns/DriveTurns.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace dravix {

DriveTurns& DriveTurns::Of(const DriveIdentity& drive) {
    // One queue per drive the program has addressed, made when first asked for and kept (a
    // handful of drives in a session). Never destroyed: the program's workers, joined only when
    // their own static owner goes at exit, may still end a turn after other statics are gone.
    static auto* const mutex = new std::mutex;
    static auto* const turns = new std::map<DriveIdentity, std::unique_ptr<DriveTurns>>;
    std::lock_guard lock(*mutex);
    std::unique_ptr<DriveTurns>& queue = (*turns)[drive];
    if (!queue) queue = std::make_unique<DriveTurns>();
    return *queue;
}

DriveTurns::Turn DriveTurns::Reserve() {
    std::lock_guard lock(m_mutex);
    const uint64_t id = ++m_nextId;
    m_queue.push_back(id);
    return Turn(this, id);
}

bool DriveTurns::WaitFor(uint64_t id, const std::stop_token& stop) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait(lock, stop, [&] { return !m_queue.empty() && m_queue.front() == id; });
}

void DriveTurns::Leave(uint64_t id) {
    {
        std::lock_guard lock(m_mutex);
        std::erase(m_queue, id);
    }
    m_changed.notify_all();
}

DriveTurns::Turn::~Turn() {
    End();
}

DriveTurns::Turn::Turn(Turn&& other) noexcept
    : m_turns(std::exchange(other.m_turns, nullptr)), m_id(std::exchange(other.m_id, 0)) {}

DriveTurns::Turn& DriveTurns::Turn::operator=(Turn&& other) noexcept {
    if (this != &other) {
        End();
        m_turns = std::exchange(other.m_turns, nullptr);
        m_id = std::exchange(other.m_id, 0);
    }
    return *this;
}

bool DriveTurns::Turn::Wait(const std::stop_token& stop) {
    if (m_turns == nullptr) return false;
    if (m_turns->WaitFor(m_id, stop)) return true;
    End();
    return false;
}

void DriveTurns::Turn::End() {
    if (m_turns == nullptr) return;
    m_turns->Leave(m_id);
    m_turns = nullptr;
    m_id = 0;
}

}  // namespace dravix
