#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <type_traits>
#include <utility>

#include "drive/DriveTable.h"

namespace dravix {

// The scan's drive (ScanDrive): one DriveTable that the disc poll, the measurement run and the
// Smart report all use from their own threads. A DriveTable serves one thread at a time, so every
// command, together with the reading of its sense, runs under one lock; a poll that is still at
// the drive when a run starts makes the run wait for that one command, not for the poll.
class SharedDrive final {
  public:
    explicit SharedDrive(DriveTable& table) : m_table(table) {}
    SharedDrive(const SharedDrive&) = delete;
    SharedDrive& operator=(const SharedDrive&) = delete;

    // Runs `use(table)` with the drive to itself and returns what it returns.
    template <typename Use>
    decltype(auto) Locked(Use&& use) {
        const std::lock_guard lock(Acquire(), std::adopt_lock);
        return std::forward<Use>(use)(m_table);
    }

    // As Locked, for a worker that can be told to stop: `stopRequested()` is asked once the drive
    // is free, and when it is true nothing is sent and the result is empty. A worker that waited
    // for another's command so sends nothing after its own stop request.
    template <typename Stop, typename Use>
    auto LockedUnlessStopped(const Stop& stopRequested, Use&& use)
        -> std::optional<std::invoke_result_t<Use, DriveTable&>> {
        const std::lock_guard lock(Acquire(), std::adopt_lock);
        if (stopRequested()) return std::nullopt;
        return std::forward<Use>(use)(m_table);
    }

    // Threads on their way to the drive or waiting for it to be free.
    int Waiting() const { return m_waiting.load(); }

  private:
    std::mutex& Acquire() {
        ++m_waiting;
        m_mutex.lock();
        --m_waiting;
        return m_mutex;
    }

    std::mutex m_mutex;
    std::atomic<int> m_waiting{0};
    DriveTable& m_table;
};

}  // namespace dravix
