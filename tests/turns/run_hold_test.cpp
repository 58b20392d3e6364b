// ScanIdle with more than one run: a Probix scan may wait for the drive's turn while a read test
// holds it, so the runs end in any order.

#include <gtest/gtest.h>

#include <optional>

#include "turns/AppState.h"

namespace dravix {
namespace {

TEST(RunHold, TheProgramIsIdleOnlyWhenNoRunHoldsTheDrive) {
    ResetState();
    RunHold readTest;
    std::optional<RunHold> scan;
    scan.emplace();
    readTest.Set(true);
    scan->Set(true);
    // The read test ends first and lets go twice (its end, then its window going): the scan
    // still holds the drive.
    readTest.Set(false);
    readTest.Set(false);
    EXPECT_EQ(State().scanIdle.load(), 0);
    // A second start of a running scan counts once; the page going lets go.
    scan->Set(true);
    scan.reset();
    EXPECT_EQ(State().scanIdle.load(), 1);

    // A hold from before a reset lets go of nothing taken after it.
    readTest.Set(true);
    ResetState();
    RunHold next;
    next.Set(true);
    readTest.Set(false);
    EXPECT_EQ(State().scanIdle.load(), 0);
    next.Set(false);
    EXPECT_EQ(State().scanIdle.load(), 1);
}

}  // namespace
}  // namespace dravix
