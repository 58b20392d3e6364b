#pragma once

#include <QTest>
#include <condition_variable>
#include <initializer_list>
#include <mutex>

#include "emu/VirtualDrive.h"

namespace dravix::test {

// Holds commands at a virtual drive (after the drive has answered one, before the answer
// returns) once the allowance is used up, until the test allows more or opens the gate. By
// default the TE/FE commands are held; any latency class can be.
class CommandGate {
  public:
    ~CommandGate() { Open(); }

    void Install(emu::VirtualDrive& drive,
                 std::initializer_list<emu::LatencyClass> held = {emu::LatencyClass::TeFe}) {
        for (emu::LatencyClass latency : held) drive.SetLatency(latency, 1);
        drive.SetSleeper([this](uint32_t) { Pass(); });
    }
    void Allow(int commands) {
        std::lock_guard lock(m_mutex);
        m_allowance += commands;
        m_changed.notify_all();
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    // Waits (processing the UI thread's events) until `count` commands have reached the gate.
    bool WaitArrived(int count) {
        return QTest::qWaitFor(
            [&] {
                std::lock_guard lock(m_mutex);
                return m_arrived >= count;
            },
            20000);
    }
    int Arrived() const {
        std::lock_guard lock(m_mutex);
        return m_arrived;
    }

  private:
    void Pass() {
        std::unique_lock lock(m_mutex);
        ++m_arrived;
        m_changed.wait(lock, [&] { return m_open || m_passed < m_allowance; });
        ++m_passed;
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_arrived = 0;
    int m_passed = 0;
    int m_allowance = 0;
    bool m_open = false;
};

}  // namespace dravix::test
