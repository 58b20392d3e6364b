#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <stop_token>
#include <type_traits>
#include <utility>

#include "drive/DriveNodes.h"
#include "drive/DriveTable.h"
#include "turns/DriveTurns.h"

namespace dravix {

// One DriveTable as several threads of a window use it (the scan page's poll, run and Smart
// report, a page's command sequences). A DriveTable serves one thread at a time, and a drive
// serves one window's sequence at a time: every use takes its turn at the drive (DriveTurns, in
// the order the turns were asked for) and then has the table to itself, the reading of a
// command's sense included. A thread that already holds the drive uses it directly.
class SharedDrive final {
  public:
    explicit SharedDrive(DriveTable& table)
        : m_table(table), m_drive(IdentityOf(table, table.SelectedIndex())) {}
    SharedDrive(const SharedDrive&) = delete;
    SharedDrive& operator=(const SharedDrive&) = delete;

    // The drive to the thread that took it, until the holder ends.
    class Holder final {
      public:
        Holder(Holder&& other) noexcept
            : m_drive(std::exchange(other.m_drive, nullptr)), m_turn(std::move(other.m_turn)) {}
        Holder& operator=(Holder&&) = delete;
        Holder(const Holder&) = delete;
        ~Holder();
        DriveTable& Table() const { return m_drive->m_table; }

      private:
        friend class SharedDrive;
        Holder(SharedDrive* drive, DriveTurns::Turn turn);

        SharedDrive* m_drive;
        DriveTurns::Turn m_turn;
    };

    // Takes the drive with a turn reserved earlier, possibly on another thread (so that turns
    // keep the order in which they were asked for). Empty when `stop` is requested before the
    // turn has come: nothing may then be sent.
    std::optional<Holder> Take(DriveTurns::Turn turn, const std::stop_token& stop = {});
    // The drive the table addresses, by its identity, as the last use of the table left it; from
    // any thread (the table itself only serves the thread that holds it).
    DriveIdentity Drive() const;
    // A turn at that drive.
    DriveTurns::Turn Reserve() { return DriveTurns::Of(Drive()).Reserve(); }

    // Runs `use(table)` with the drive to itself and returns what it returns.
    template <typename Use>
    decltype(auto) Locked(Use&& use) {
        if (HeldHere()) return std::forward<Use>(use)(m_table);
        const Holder holder = *Take(Reserve());
        return std::forward<Use>(use)(m_table);
    }

    // As Locked, for a worker that can be told to stop: `stopRequested()` is asked once the drive
    // is free, and when it is true nothing is sent and the result is empty. A worker that waited
    // for another's command so sends nothing after its own stop request.
    template <typename Stop, typename Use>
    auto LockedUnlessStopped(const Stop& stopRequested, Use&& use)
        -> std::optional<std::invoke_result_t<Use, DriveTable&>> {
        if (HeldHere()) {
            if (stopRequested()) return std::nullopt;
            return std::forward<Use>(use)(m_table);
        }
        const Holder holder = *Take(Reserve());
        if (stopRequested()) return std::nullopt;
        return std::forward<Use>(use)(m_table);
    }

    // Threads on their way to the drive or waiting for it to be free.
    int Waiting() const { return m_waiting.load(); }

  private:
    bool HeldHere() const;

    DriveTable& m_table;
    std::mutex m_tableMutex;
    mutable std::mutex m_driveMutex;
    DriveIdentity m_drive;
    std::atomic<int> m_waiting{0};
};

}  // namespace dravix
