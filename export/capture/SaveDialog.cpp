#include "export/capture/SaveDialog.h"

#include <QFileDialog>
#include <mutex>

#include "ui/Prompter.h"

namespace dravix {

namespace {

std::mutex g_mutex;
SaveDialogFunction g_dialog;

}  // namespace

QStringList SaveDialogFilters() {
    // The JPEG entry keeps its text although Qt reads "*.jpeg;*.jpg" as one pattern: the text is
    // what users know, and the extension logic does not depend on the pattern.
    return {
        QStringLiteral("tttmap File (*.bmp)"),
        QStringLiteral("JPEG File (*.jpeg;*.jpg)"),
        QStringLiteral("Portable Network Graphics (*.png)"),
        QStringLiteral("GIF File(*.gif)"),
        QStringLiteral("PCX File(*.pcx)"),
    };
}

std::optional<SaveChoice> RunStandardSaveDialog() {
    const QStringList filters = SaveDialogFilters();
    QFileDialog dialog(nullptr, QString::fromLatin1(kSaveDialogTitle));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    // The extension is decided by the export (typed extension first, then the filter), so the
    // dialog must not add one of its own.
    dialog.setDefaultSuffix(QString());
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.front());
    dialog.selectFile(QString::fromLatin1(kSaveDialogInitialName));
    if (RunModal(dialog) != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
    return SaveChoice{files.front(), static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1};
}

void SetSaveDialog(SaveDialogFunction dialog) {
    std::lock_guard lock(g_mutex);
    g_dialog = std::move(dialog);
}

std::optional<SaveChoice> AskForSaveTarget() {
    SaveDialogFunction dialog;
    {
        std::lock_guard lock(g_mutex);
        dialog = g_dialog;
    }
    return dialog ? dialog() : RunStandardSaveDialog();
}

}  // namespace dravix
