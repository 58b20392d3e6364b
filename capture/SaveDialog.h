#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

namespace dravix {

inline constexpr const char* kSaveDialogTitle = "Save Image File";
inline constexpr const char* kSaveDialogInitialName = "Dravix";

// What the user chose in the save dialog.
struct SaveChoice {
    QString path;         // the full path name, as typed or picked
    int filterIndex = 0;  // 1-based position of the selected filter, 0 when none matches
};

// The five filters of the save dialog, in their order: BMP, JPEG, PNG, GIF, PCX.
QStringList SaveDialogFilters();
// The file name patterns of one filter: those in its last parentheses, separated by blanks or ";".
QStringList SaveFilterPatterns(const QString& filter);

// The save dialog as the program shows it: a QFileDialog in save mode without parent, no default
// suffix, no overwrite prompt, the initial name "Dravix" and the first filter selected. It runs
// through RunModal, so a test's dialog runner can drive it. Empty when cancelled. UI thread only.
std::optional<SaveChoice> RunStandardSaveDialog();

// The seam the export asks for a file name: tests install a function that answers without a
// window. A null function restores the standard dialog.
using SaveDialogFunction = std::function<std::optional<SaveChoice>()>;
void SetSaveDialog(SaveDialogFunction dialog);
std::optional<SaveChoice> AskForSaveTarget();

}  // namespace dravix
