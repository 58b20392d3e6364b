#pragma once

#include <cstdint>

namespace dravix {

// The tab title of the page a firmware feature code brings ("Probix", "WOPC", …); null for codes
// that bring none (4 and unknown values).
const char* FeaturePageTitle(uint8_t code);

}  // namespace dravix
