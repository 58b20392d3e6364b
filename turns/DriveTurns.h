#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <stop_token>

#include "drive/DriveNodes.h"

namespace dravix {

// Whose turn it is at one drive. Every window of the program has a DriveTable of its own, and
// several of them may address the same drive; they take turns at it here, in the order the turns
// were asked for, so that one window's command sequence (vendor mode on, its commands, off) is
// never split by another window's commands. Turns are kept by the drive's identity, which names
// the same drive in every table whatever its place in that table's listing; every table that
// addresses no drive (empty identity) shares one queue.
class DriveTurns final {
  public:
    // The turns at the drive with this identity; from any thread.
    static DriveTurns& Of(const DriveIdentity& drive);

    // A place in the queue, from the moment it is reserved until it ends. Movable; ending it (or
    // destroying it) lets the next turn come.
    class Turn final {
      public:
        Turn() = default;
        ~Turn();
        Turn(Turn&& other) noexcept;
        Turn& operator=(Turn&& other) noexcept;
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;

        // Waits until every turn reserved before this one has ended. False when `stop` is
        // requested first: the turn is then given up.
        bool Wait(const std::stop_token& stop = {});
        void End();

      private:
        friend class DriveTurns;
        Turn(DriveTurns* turns, uint64_t id) : m_turns(turns), m_id(id) {}

        DriveTurns* m_turns = nullptr;
        uint64_t m_id = 0;
    };

    // A turn at the back of the queue; from any thread.
    Turn Reserve();

    DriveTurns() = default;
    DriveTurns(const DriveTurns&) = delete;
    DriveTurns& operator=(const DriveTurns&) = delete;

  private:
    bool WaitFor(uint64_t id, const std::stop_token& stop);
    void Leave(uint64_t id);

    std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<uint64_t> m_queue;  // the front holds the drive
    uint64_t m_nextId = 0;
};

}  // namespace dravix
