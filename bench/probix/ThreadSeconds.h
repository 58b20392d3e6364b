#pragma once

#include <time.h>

namespace dravix::bench {

// Seconds of this thread's processor time: the figure for one core, whatever else the machine
// runs (the virtual drive answers on the calling thread).
inline double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace dravix::bench
