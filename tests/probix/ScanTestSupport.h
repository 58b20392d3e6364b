#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "emu/VirtualDrive.h"
#include "probix/ScanEngine.h"
#include "tests/support/VirtualBus.h"
#include "turns/SharedDrive.h"

namespace dravix::scan_test {

// Rules that make the TE/FE commands answer what a test needs.
inline emu::FaultRule TeFeRule(uint8_t byte11) {
    emu::FaultRule rule;
    rule.opcode = 0xFD;
    rule.subCode = 0xFB;
    rule.function = 0x05;
    rule.bytes[11] = byte11;
    return rule;
}

inline emu::FaultRule ReferenceReply(TeFeChannel channel, uint16_t value) {
    emu::FaultRule rule = TeFeRule(static_cast<uint8_t>(channel));
    rule.action = emu::FaultRule::Action::Reply;
    rule.reply = {0, static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value), 0};
    return rule;
}

inline emu::FaultRule SampleReply(uint16_t teRaw, uint16_t feRaw, uint32_t after = 0, bool once = false) {
    emu::FaultRule rule = TeFeRule(0x00);
    rule.action = emu::FaultRule::Action::Reply;
    rule.reply = {0, static_cast<uint8_t>(teRaw >> 8), static_cast<uint8_t>(teRaw), 0,
                  0, static_cast<uint8_t>(feRaw >> 8), static_cast<uint8_t>(feRaw), 0};
    rule.after = after;
    rule.once = once;
    return rule;
}

inline emu::FaultRule CheckConditionOn(emu::FaultRule rule, emu::SenseCode sense) {
    rule.action = emu::FaultRule::Action::CheckCondition;
    rule.sense = sense;
    return rule;
}

// A maker's drive on the virtual bus with a disc loaded and spun up, vendor mode on, and a
// DriveTable of the test's own addressing it.
class DriveWithDisc {
  public:
    explicit DriveWithDisc(const std::string& media) : drive(bus.AddDrive()) {
        if (!media.empty()) {
            EXPECT_TRUE(drive.Insert(media));
        }
        EXPECT_TRUE(table.InitTransport());
        EXPECT_EQ(table.EnumerateDrives(), 1);
        // The first command after loading reports the medium change.
        while (TestUnitReady(table) != kCommandCompleted && table.SenseKey() == 0x06) {
        }
        EXPECT_TRUE(table.SetVendorMode(true));
        bus.ClearCommands();
    }

    // The PSNs of every measurement sent since the last ClearCommands, in order.
    std::vector<uint32_t> MeasuredPsns() const {
        std::vector<uint32_t> psns;
        for (const auto& cdb : bus.Commands()) {
            if (IsTeFe(cdb) && cdb[11] == 0x00) psns.push_back(Psn(cdb));
        }
        return psns;
    }

    // How many TE/FE commands (references and measurements) were sent.
    size_t TeFeCommands() const {
        size_t n = 0;
        for (const auto& cdb : bus.Commands()) n += IsTeFe(cdb) ? 1 : 0;
        return n;
    }

    static bool IsTeFe(const std::vector<uint8_t>& cdb) {
        return cdb.size() >= 12 && cdb[0] == 0xFD && cdb[1] == 0xFB && cdb[6] == 0x05;
    }
    static uint32_t Psn(const std::vector<uint8_t>& cdb) {
        return static_cast<uint32_t>(cdb[8]) << 16 | static_cast<uint32_t>(cdb[9]) << 8 | cdb[10];
    }

    test::VirtualBus bus;
    emu::VirtualDrive& drive;
    DriveTable table{bus.Drives()};
    SharedDrive shared{table};
};

// Another thread has the drive to itself (as a stopped run's command or a poll may have) until the
// test releases it.
class DriveHolder {
  public:
    explicit DriveHolder(SharedDrive& drive)
        : m_thread([this, &drive] {
              drive.Locked([this](DriveTable&) {
                  std::unique_lock lock(m_mutex);
                  m_held = true;
                  m_changed.notify_all();
                  m_changed.wait(lock, [this] { return m_released; });
                  return 0;
              });
          }) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [this] { return m_held; });
    }
    ~DriveHolder() {
        Release();
        m_thread.join();
    }
    DriveHolder(const DriveHolder&) = delete;
    DriveHolder& operator=(const DriveHolder&) = delete;

    void Release() {
        std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_held = false;
    bool m_released = false;
    std::thread m_thread;
};

// A stop request the test switches on.
class StopSwitch {
  public:
    StopRequested Predicate() {
        return [this] { return m_stopped.load(); };
    }
    void Stop() { m_stopped = true; }

  private:
    std::atomic<bool> m_stopped{false};
};

// Until another thread is on its way to the drive or waits for it (the drive being held, it cannot
// get further).
inline void WaitForAWaiter(const SharedDrive& drive) {
    while (drive.Waiting() == 0) std::this_thread::yield();
}

}  // namespace dravix::scan_test
