#pragma once

#include <cstdint>
#include <functional>

#include "drive/Support.h"

namespace dravix {

class AppServices;
class PropertyPage;

// The Information page is brought by no feature: it is always there, first.
inline constexpr uint8_t kInformationPage = 0;

// The pages in the order the sheet shows them, by the feature code that brings each; each page
// carries its own tab title.
inline constexpr uint8_t kPageOrder[] = {kInformationPage,  kFeatureBookType, kFeatureProbix,   kFeatureWopc,
                                         kFeatureTestWrite, kFeatureLumard,   kFeatureOverSpeed};

// The page of the user's guide about the page a feature code brings (kInformationPage for the
// Information page); null for a code without a page.
const char* GuidePageOf(uint8_t featureCode);

// Makes the page a feature code brings (kInformationPage for the Information page); null when the
// program has no such page.
using PageFactory = std::function<PropertyPage*(uint8_t featureCode)>;
// The program's pages, each made with `services` (which outlives them).
PageFactory DefaultPageFactory(const AppServices& services);

}  // namespace dravix
