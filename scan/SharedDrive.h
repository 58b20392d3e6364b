#pragma once

#include <mutex>
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
        std::lock_guard lock(m_mutex);
        return std::forward<Use>(use)(m_table);
    }

  private:
    std::mutex m_mutex;
    DriveTable& m_table;
};

}  // namespace dravix
