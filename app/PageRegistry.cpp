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

PageFactory DefaultPageFactory() {
    return [](uint8_t featureCode) -> PropertyPage* {
        switch (featureCode) {
            case 0:
                return new CInfo();
            case kFeatureBookType:
                return new CBookType();
            case kFeatureProbix:
                return new CTEFE();
            case kFeatureWopc:
                return new CWOPC();
            case kFeatureTestWrite:
                return new CTestWrite();
            case kFeatureLumard:
                return new CSLWS();
            case kFeatureOverSpeed:
                return new COverSpeed();
            default:
                return nullptr;
        }
    };
}

}  // namespace dravix
