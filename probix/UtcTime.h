#pragma once

#include <ctime>

namespace dravix {

// The calendar time in UTC of a moment; the platform's own thread-safe conversion, one file per
// platform (utc_time_linux.cpp, utc_time_windows.cpp).
std::tm UtcTimeOf(std::time_t moment);

}  // namespace dravix
