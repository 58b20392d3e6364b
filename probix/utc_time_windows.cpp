#include "probix/UtcTime.h"

namespace dravix {

std::tm UtcTimeOf(std::time_t moment) {
    std::tm utc{};
    gmtime_s(&utc, &moment);
    return utc;
}

}  // namespace dravix
