#pragma once

#include <QString>
#include <QStringList>
#include <optional>

#include "ui/Services.h"

namespace dravix {

inline constexpr const char* kSaveDialogTitle = "Save Image File";
inline constexpr const char* kSaveDialogInitialName = "Dravix";

// The five filters of the save dialog, in their order: BMP, JPEG, PNG, GIF, PCX.
QStringList SaveDialogFilters();
// The file name patterns of one filter: those in its last parentheses, separated by blanks or ";".
QStringList SaveFilterPatterns(const QString& filter);

// The save dialog as the program shows it: a QFileDialog in save mode without parent, no default
// suffix, no overwrite prompt, the initial name "Dravix" and the first filter selected. It runs
// through the services' RunModal, so a test's dialog runner can drive it. Empty when cancelled.
// UI thread only.
std::optional<SaveChoice> RunStandardSaveDialog(const AppServices& services);

// The file name the export asks for: the services' save dialog, or the standard one when they
// have none (tests give one that answers without a window).
std::optional<SaveChoice> AskForSaveTarget(const AppServices& services);

}  // namespace dravix
