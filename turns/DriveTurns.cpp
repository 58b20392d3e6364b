#include "turns/DriveTurns.h"

#include <algorithm>
#include <array>
#include <utility>

#include "drive/DriveTable.h"

namespace dravix {

DriveTurns& DriveTurns::Of(uint8_t index) {
    // One queue per index a table can address, and one for "no drive" (255), so that every turn
    // is kept somewhere. Never destroyed: the program's workers, joined only when their own
    // static owner goes at exit, may still end a turn after other statics are gone.
    static auto* const turns = new std::array<DriveTurns, kMaxDrives + 1>;
    return (*turns)[std::min<size_t>(index, kMaxDrives)];
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
