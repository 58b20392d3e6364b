#pragma once

#include <memory>
#include <mutex>
#include <stop_token>

#include "drive/DriveTable.h"
#include "turns/SharedDrive.h"

namespace dravix {

// A window's own DriveTable, whose command sequences can be stopped between two commands: while
// a thread uses it under a stop request (StopScope), the request lets the command at the drive
// finish and makes every later command of that use fail at once (status 1, no sense, nothing sent
// to the drive), so the sequence runs out without waiting for the drive. Vendor mode off still
// goes out, so a stopped sequence leaves the drive as it found it.
//
// Workers share it through a shared_ptr, so the table stays valid for a worker that is still at
// the drive when its window is gone.
class StoppableDrive final {
  public:
    // The table takes the services its window was given.
    explicit StoppableDrive(DriveServices services);
    ~StoppableDrive();
    StoppableDrive(const StoppableDrive&) = delete;
    StoppableDrive& operator=(const StoppableDrive&) = delete;

    DriveTable& Table() { return *m_table; }
    SharedDrive& Shared() { return *m_shared; }

    struct Gate;

    // The commands sent while it lives end at `stop`. The caller holds the drive (SharedDrive).
    class StopScope final {
      public:
        StopScope(Gate& gate, std::stop_token stop);
        ~StopScope();
        StopScope(const StopScope&) = delete;
        StopScope& operator=(const StopScope&) = delete;

      private:
        Gate& m_gate;
    };
    StopScope StopWith(std::stop_token stop) { return StopScope(*m_gate, std::move(stop)); }

  private:
    std::shared_ptr<Gate> m_gate;
    std::unique_ptr<DriveTable> m_table;
    std::unique_ptr<SharedDrive> m_shared;
};

}  // namespace dravix
