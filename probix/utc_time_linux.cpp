#include "probix/UtcTime.h"

namespace dravix {

std::tm UtcTimeOf(std::time_t moment) {
    std::tm utc{};
    gmtime_r(&moment, &utc);
    return utc;
}

}  // namespace dravix
