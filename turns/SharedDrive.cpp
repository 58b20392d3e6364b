#include "turns/SharedDrive.h"

namespace dravix {

namespace {

// The shared drive this thread holds, if any (a thread holds at most one at a time).
thread_local const SharedDrive* t_held = nullptr;

}  // namespace

bool SharedDrive::HeldHere() const {
    return t_held == this;
}

DriveIdentity SharedDrive::Drive() const {
    std::lock_guard lock(m_driveMutex);
    return m_drive;
}

std::optional<SharedDrive::Holder> SharedDrive::Take(DriveTurns::Turn turn, const std::stop_token& stop) {
    ++m_waiting;
    const bool came = turn.Wait(stop);
    if (!came) {
        --m_waiting;
        return std::nullopt;
    }
    // Uses of one table always address one drive at a time, so the table is free once the turn
    // has come; the lock covers a table whose selection changed between two uses.
    m_tableMutex.lock();
    --m_waiting;
    return Holder(this, std::move(turn));
}

SharedDrive::Holder::Holder(SharedDrive* drive, DriveTurns::Turn turn)
    : m_drive(drive), m_turn(std::move(turn)) {
    t_held = m_drive;
}

SharedDrive::Holder::~Holder() {
    if (m_drive == nullptr) return;
    t_held = nullptr;
    {
        // The use may have selected another drive (or listed the drives again).
        DriveIdentity addressed = IdentityOf(m_drive->m_table, m_drive->m_table.SelectedIndex());
        std::lock_guard lock(m_drive->m_driveMutex);
        m_drive->m_drive = std::move(addressed);
    }
    m_drive->m_tableMutex.unlock();
    m_turn.End();
}

}  // namespace dravix
