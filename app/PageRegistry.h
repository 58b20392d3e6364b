#pragma once

#include <cstdint>
#include <functional>

namespace dravix {

class AppServices;
class PropertyPage;

// The pages in the order the sheet shows them, by the feature code that brings each (0: the
// Information page, always there); each page carries its own tab title.
inline constexpr uint8_t kPageOrder[] = {0, 5, 1, 2, 3, 6, 7};

// Makes the page a feature code brings (0 for the Information page); null when the program has
// no such page.
using PageFactory = std::function<PropertyPage*(uint8_t featureCode)>;
// The program's pages, each made with `services` (which outlives them).
PageFactory DefaultPageFactory(const AppServices& services);

}  // namespace dravix
