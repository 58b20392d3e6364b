#include "capture/SaveDialog.h"

#include <QFileDialog>
#include <QFileSystemModel>
#include <QRegularExpression>

namespace dravix {

QStringList SaveDialogFilters() {
    // The JPEG entry lists its patterns the way users know it, joined by ";", which Qt alone would
    // read as one pattern; the dialog is given them one by one (SaveFilterPatterns).
    return {
        QStringLiteral("tttmap File (*.bmp)"),
        QStringLiteral("JPEG File (*.jpeg;*.jpg)"),
        QStringLiteral("Portable Network Graphics (*.png)"),
        QStringLiteral("GIF File(*.gif)"),
        QStringLiteral("PCX File(*.pcx)"),
    };
}

QStringList SaveFilterPatterns(const QString& filter) {
    const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
    const qsizetype close = filter.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open) return {};
    static const QRegularExpression separators(QStringLiteral("[ ;]+"));
    return filter.mid(open + 1, close - open - 1).split(separators, Qt::SkipEmptyParts);
}

namespace {

// Lists the files of every pattern of `filter`; the dialog has just set the list to its own
// reading of the filter.
void ListFilesOfFilter(QFileDialog& dialog, const QString& filter) {
    if (auto* files = dialog.findChild<QFileSystemModel*>())
        files->setNameFilters(SaveFilterPatterns(filter));
}

}  // namespace

std::optional<SaveChoice> RunStandardSaveDialog(const AppServices& services) {
    const QStringList filters = SaveDialogFilters();
    QFileDialog dialog(nullptr, QString::fromLatin1(kSaveDialogTitle));
    // Qt's own dialog everywhere: only its file list can be given the patterns one by one.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    // The extension is decided by the export (typed extension first, then the filter), so the
    // dialog must not add one of its own.
    dialog.setDefaultSuffix(QString());
    dialog.setNameFilters(filters);
    dialog.selectNameFilter(filters.front());
    ListFilesOfFilter(dialog, filters.front());
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString& filter) { ListFilesOfFilter(dialog, filter); });
    dialog.selectFile(QString::fromLatin1(kSaveDialogInitialName));
    if (services.RunModal(dialog) != QDialog::Accepted) return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.front().isEmpty()) return std::nullopt;
    return SaveChoice{files.front(), static_cast<int>(filters.indexOf(dialog.selectedNameFilter())) + 1};
}

std::optional<SaveChoice> AskForSaveTarget(const AppServices& services) {
    return services.saveDialog ? services.saveDialog() : RunStandardSaveDialog(services);
}

}  // namespace dravix
