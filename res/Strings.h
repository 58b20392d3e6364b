#pragma once

#include <QString>

#include "res/StringTable.h"

namespace dravix {

// The string table's text for an id, for a widget. An id without a text gives an empty string.
QString LoadString(int id);

}  // namespace dravix
