#pragma once

#include <cstdint>
#include <functional>

namespace dravix {

class PropertyPage;

// The pages in the order the sheet shows them, with the feature code that brings each
// (0: the Information page, always there).
struct PageSlot {
    uint8_t featureCode;
    const char* title;
};
inline constexpr PageSlot kPageSlots[] = {
    {0, "Information"}, {5, "Book Type"}, {1, "Probix"},    {2, "WOPC"},
    {3, "Test Write"},  {6, "Lumard"},    {7, "OverSpeed"},
};

// Makes the page a feature code brings (0 for the Information page); null when the program has
// no such page.
using PageFactory = std::function<PropertyPage*(uint8_t featureCode)>;
PageFactory DefaultPageFactory();

}  // namespace dravix
