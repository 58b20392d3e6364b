#include "procedures/PageTitles.h"

#include "drive/Support.h"

namespace dravix {

const char* FeaturePageTitle(uint8_t code) {
    switch (code) {
        case kFeatureProbix:
            return "Probix";
        case kFeatureWopc:
            return "WOPC";
        case kFeatureTestWrite:
            return "Test Write";
        case kFeatureBookType:
            return "Book Type";
        case kFeatureLumard:
            return "Lumard";
        case kFeatureOverSpeed:
            return "OverSpeed";
        default:
            return nullptr;
    }
}

}  // namespace dravix
