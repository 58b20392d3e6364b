// Drive turns, the shared drive and the worker threads on their own: turns come per drive in the
// order they were asked for, a stop request gives up a turn without taking it, a worker stopped
// between two steps does not begin the next.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>
#include <vector>

#include "drive/DriveNodes.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "tests/support/VirtualBus.h"
#include "turns/DriveTurns.h"
#include "turns/SharedDrive.h"
#include "turns/WorkerThreads.h"

namespace dravix {
namespace {

// A latch a worker waits on until the test lets it go.
class Latch final {
  public:
    void Release() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }
    void Wait() {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_open; });
    }

  private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_open = false;
};

// A drive as the turns know it.
DriveIdentity DriveAt(const char* node, const char* label = "ZARN    DVD RW DR-1900E  1.00") {
    return DriveIdentity{node, -1, -1, label};
}

TEST(DriveTurns, TurnsAtOneDriveComeInTheOrderTheyWereAskedForWhateverThreadWaits) {
    DriveTurns& turns = DriveTurns::Of(DriveAt("/dev/sr5"));
    std::vector<DriveTurns::Turn> reserved;
    for (int i = 0; i < 4; ++i) reserved.push_back(turns.Reserve());
    std::mutex mutex;
    std::vector<int> order;
    std::vector<std::thread> threads;
    // The last turn's thread starts first.
    for (int i = 3; i >= 0; --i) {
        threads.emplace_back([&, i, turn = std::move(reserved[static_cast<size_t>(i)])]() mutable {
            ASSERT_TRUE(turn.Wait());
            {
                std::lock_guard lock(mutex);
                order.push_back(i);
            }
            turn.End();
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3}));
}

TEST(DriveTurns, ATurnAtAnotherDriveDoesNotWaitForThisOne) {
    DriveTurns::Turn held = DriveTurns::Of(DriveAt("/dev/sr6")).Reserve();
    ASSERT_TRUE(held.Wait());
    // Another node, another label on the same node (a drive plugged in where one was), the ASPI
    // path's adapter and target: each is a drive of its own.
    for (const DriveIdentity& other :
         {DriveAt("/dev/sr7"), DriveAt("/dev/sr6", "ZARN    DVD RW DR-2000   1.00"),
          DriveIdentity{"", 0, 6, "ZARN    DVD RW DR-1900E  1.00"}}) {
        DriveTurns::Turn turn = DriveTurns::Of(other).Reserve();
        EXPECT_TRUE(turn.Wait());  // would wait for `held` if the drives shared a queue
    }
}

TEST(DriveTurns, EveryTableAddressingTheSameDriveWaitsInItsQueue) {
    // Two tables that list the drive at different places name it alike.
    DriveTurns::Turn held = DriveTurns::Of(DriveAt("/dev/sr8")).Reserve();
    ASSERT_TRUE(held.Wait());
    DriveTurns::Turn same = DriveTurns::Of(DriveAt("/dev/sr8")).Reserve();
    std::stop_source stop;
    stop.request_stop();
    EXPECT_FALSE(same.Wait(stop.get_token()));  // behind `held`: given up, not taken
}

TEST(DriveTurns, AStopRequestGivesUpTheWaitAndLeavesTheQueue) {
    DriveTurns& turns = DriveTurns::Of(DriveAt("/dev/sr4"));
    DriveTurns::Turn first = turns.Reserve();
    ASSERT_TRUE(first.Wait());
    DriveTurns::Turn stopped = turns.Reserve();
    DriveTurns::Turn last = turns.Reserve();
    std::stop_source stop;
    std::optional<bool> came;
    std::thread waiter([&] { came = stopped.Wait(stop.get_token()); });
    stop.request_stop();
    waiter.join();
    EXPECT_EQ(came, false);
    first.End();
    EXPECT_TRUE(last.Wait());  // the stopped turn no longer stands before it
}

TEST(SharedDrive, AUseStoppedWhileItWaitsForTheDriveSendsNothing) {
    test::VirtualBus bus;
    bus.AddDrive();
    DriveTable table{bus.Drives()};
    ASSERT_TRUE(table.InitTransport());
    ASSERT_EQ(table.EnumerateDrives(), 1);
    SharedDrive drive(table);
    bus.ClearCommands();

    // Another window's sequence holds the drive.
    DriveTurns::Turn other = DriveTurns::Of(IdentityOf(table, table.SelectedIndex())).Reserve();
    ASSERT_TRUE(other.Wait());
    std::atomic<bool> stopRequested{false};
    std::optional<std::optional<uint8_t>> result;
    std::thread worker([&] {
        result = drive.LockedUnlessStopped([&] { return stopRequested.load(); },
                                           [](DriveTable& t) { return TestUnitReady(t); });
    });
    while (drive.Waiting() == 0) std::this_thread::yield();
    stopRequested = true;
    other.End();
    worker.join();
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->has_value());
    EXPECT_TRUE(bus.Commands().empty());
}

TEST(WorkerThreads, AWorkerStoppedBetweenStepsBeginsNoOtherStep) {
    WorkerThreads workers;
    Latch inFirstStep;
    Latch carryOn;
    std::atomic<int> steps{0};
    const uint64_t id = workers.Start([&](std::stop_token stop) {
        for (int step = 0; step < 3; ++step) {
            if (stop.stop_requested()) return;
            ++steps;
            if (step == 0) {
                inFirstStep.Release();
                carryOn.Wait();
            }
        }
    });
    inFirstStep.Wait();
    workers.RequestStop(id);
    carryOn.Release();  // the step at hand ends as it would
    workers.JoinAll();
    EXPECT_EQ(steps.load(), 1);
    EXPECT_EQ(workers.Running(), 0u);
}

TEST(WorkerThreads, JoinAllWaitsAlsoForWorkersStartedOnTheWayOut) {
    WorkerThreads workers;
    std::atomic<bool> lateOneRan{false};
    workers.Start([&](std::stop_token) { workers.Start([&](std::stop_token) { lateOneRan = true; }); });
    workers.JoinAll();
    EXPECT_TRUE(lateOneRan.load());
    EXPECT_EQ(workers.Running(), 0u);
}

}  // namespace
}  // namespace dravix
