// Workers, the one way a window hands work to a worker and gets it back: what a worker posts
// arrives in order and before its end; a window that goes while its worker is in the middle of a
// step hears nothing more, and the worker is asked to stop.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ui/Workers.h"

namespace dravix {
namespace {

TEST(Workers, PostsArriveInOrderAndTheEndComesLast) {
    QObject window;
    auto* workers = new Workers(&window);
    std::vector<std::string> heard;
    QObject::connect(workers, &Workers::Ended, &window, [&](uint64_t) { heard.push_back("end"); });
    workers->Start([&heard](const WorkerContext& context) {
        for (int i = 1; i <= 5; ++i) context.Post([&heard, i] { heard.push_back(std::to_string(i)); });
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return workers->Running() == 0; }, 20000));
    EXPECT_EQ(heard, (std::vector<std::string>{"1", "2", "3", "4", "5", "end"}));
}

TEST(Workers, AWindowThatGoesWhileAStepRunsHearsNothingBack) {
    struct Step {
        std::mutex mutex;
        std::condition_variable changed;
        bool started = false;
        bool carryOn = false;
    };
    auto step = std::make_shared<Step>();
    auto heard = std::make_shared<std::atomic<bool>>(false);
    auto stopSeen = std::make_shared<std::atomic<bool>>(false);
    auto* window = new QObject;
    auto* workers = new Workers(window);
    workers->Start([step, heard, stopSeen](const WorkerContext& context) {
        {
            std::unique_lock lock(step->mutex);
            step->started = true;
            step->changed.notify_all();
            step->changed.wait(lock, [&] { return step->carryOn; });
        }
        *stopSeen = context.StopRequested();
        context.Post([heard] { *heard = true; });
    });
    {
        std::unique_lock lock(step->mutex);
        step->changed.wait(lock, [&] { return step->started; });
    }
    delete window;  // in the middle of the step
    {
        std::lock_guard lock(step->mutex);
        step->carryOn = true;
        step->changed.notify_all();
    }
    JoinAllWorkers();
    QCoreApplication::processEvents();
    EXPECT_TRUE(stopSeen->load());
    EXPECT_FALSE(heard->load());
}

}  // namespace
}  // namespace dravix
