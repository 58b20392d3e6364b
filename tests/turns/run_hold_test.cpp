// ScanIdle with more than one run: a Probix scan may wait for the drive's turn while a read test
// holds it, so the runs end in any order.

#include <gtest/gtest.h>

#include <memory>
#include <optional>

#include "turns/AppState.h"

namespace dravix {
namespace {

TEST(RunHold, TheProgramIsIdleOnlyWhenNoRunHoldsTheDrive) {
    const auto state = std::make_shared<AppState>();
    RunHold readTest(state);
    std::optional<RunHold> scan;
    scan.emplace(state);
    readTest.Set(true);
    scan->Set(true);
    // The read test ends first and lets go twice (its end, then its window going): the scan
    // still holds the drive.
    readTest.Set(false);
    readTest.Set(false);
    EXPECT_EQ(state->scanIdle.load(), 0);
    // A second start of a running scan counts once; the page going lets go.
    scan->Set(true);
    scan.reset();
    EXPECT_EQ(state->scanIdle.load(), 1);

    // Each program state counts its own runs: a hold on another lets go of nothing here.
    const auto other = std::make_shared<AppState>();
    RunHold elsewhere(other);
    RunHold next(state);
    elsewhere.Set(true);
    next.Set(true);
    elsewhere.Set(false);
    EXPECT_EQ(state->scanIdle.load(), 0);
    EXPECT_EQ(other->scanIdle.load(), 1);
    next.Set(false);
    EXPECT_EQ(state->scanIdle.load(), 1);
}

}  // namespace
}  // namespace dravix
