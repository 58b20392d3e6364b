#pragma once

#include <QString>
#include <utility>
#include <vector>

#include "base/SafeFile.h"

namespace dravix {

// A window's save that would replace a file the window has read or shows (`taken`, in order; empty
// names left out), or the run's other file: the refusal ("'PATH' is also an input of this window;
// choose another name.", … the results file …), empty when `target` is free.
QString SaveClash(const std::vector<std::pair<QString, FileRole>>& taken, const QString& target,
                  FileRole role);

}  // namespace dravix
