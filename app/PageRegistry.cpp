#include "app/PageRegistry.h"

#include "app/PropertyPage.h"

namespace dravix {

PageFactory DefaultPageFactory() {
    return [](uint8_t /*featureCode*/) -> PropertyPage* { return nullptr; };
}

}  // namespace dravix
