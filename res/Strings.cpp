#include "res/Strings.h"

namespace dravix {

QString LoadString(int id) {
    return QString::fromUtf8(StringText(id));
}

}  // namespace dravix
