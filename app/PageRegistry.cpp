#include "app/PageRegistry.h"

#include "drive/Support.h"
#include "pages/BookType.h"
#include "pages/Info.h"
#include "pages/Lumard.h"
#include "pages/OverSpeed.h"
#include "pages/TestWrite.h"
#include "pages/Wopc.h"
#include "scan/TeFe.h"
#include "ui/PropertyPage.h"

namespace dravix {

const char* GuidePageOf(uint8_t featureCode) {
    switch (featureCode) {
        case kInformationPage:
            return "information.html";
        case kFeatureBookType:
            return "booktype.html";
        case kFeatureProbix:
            return "probix.html";
        case kFeatureWopc:
            return "wopc.html";
        case kFeatureTestWrite:
            return "testwrite.html";
        case kFeatureLumard:
            return "lumard.html";
        case kFeatureOverSpeed:
            return "overspeed.html";
        default:
            return nullptr;
    }
}

PageFactory DefaultPageFactory(const AppServices& services) {
    return [&services](uint8_t featureCode) -> PropertyPage* {
        switch (featureCode) {
            case kInformationPage:
                return new CInfo(services);
            case kFeatureBookType:
                return new CBookType(services);
            case kFeatureProbix:
                return new CTEFE(services);
            case kFeatureWopc:
                return new CWOPC(services);
            case kFeatureTestWrite:
                return new CTestWrite(services);
            case kFeatureLumard:
                return new CSLWS(services);
            case kFeatureOverSpeed:
                return new COverSpeed(services);
            default:
                return nullptr;
        }
    };
}

}  // namespace dravix
