#pragma once

#include <QString>

namespace dravix {

// The string table, by resource id. An id without a text gives an empty string.
QString LoadString(int id);

}  // namespace dravix
