#include "scan/MakeReport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <QWidget>

#include "picture/ResultsReportPage.h"
#include "scan/SaveClash.h"
#include "ui/ProgramText.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {

namespace {

std::string FileName(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

QString ShownPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

}  // namespace

void SaveReport(const AppServices& services, QWidget* owner, const std::vector<ReportResult>& results,
                const QString& proposedName) {
    const QString path = services.AskSaveFileName(
        owner, {QString::fromLatin1(kSaveReportTitle), proposedName, QStringLiteral("HTML report (*.html)")});
    if (path.isEmpty()) return;
    // The report never replaces a file it reports on.
    std::vector<std::pair<QString, FileRole>> taken;
    for (const ReportResult& result : results) taken.emplace_back(ShownPath(result.path), FileRole::Input);
    if (const QString clash = SaveClash(taken, path, FileRole::Output); !clash.isEmpty()) {
        services.Inform(owner, clash, PromptIcon::Exclamation);
        return;
    }
    const std::string file = FileName(path);
    if (const FileResult written = WriteFileSafely(file, ResultsReportPage(results)); !written.Ok()) {
        services.Inform(owner, ProgramText(written.WriteMessage(file)), PromptIcon::Exclamation);
        return;
    }
    const PromptAnswer open =
        services.Ask(owner, AppTitle(),
                     QStringLiteral("The report was written to '%1'.\n\nOpen it in the browser?").arg(path),
                     PromptIcon::Question, PromptButtons::YesNo);
    if (open != PromptAnswer::Yes) return;
    if (!services.OpenUrl(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath())))
        services.Inform(owner, QStringLiteral("'%1' could not be opened in the browser.").arg(path),
                        PromptIcon::Exclamation);
}

void AskAndMakeReport(const AppServices& services, QWidget* owner) {
    const QStringList paths =
        services.AskOpenFileNames(owner, {QString::fromLatin1(kMakeReportTitle), QString(),
                                          QStringLiteral("Dravix results (*.csv);;All files (*)")});
    if (paths.isEmpty()) return;
    std::vector<std::string> files;
    for (const QString& path : paths) files.push_back(FileName(path));
    // One results file: the report is proposed beside it under its name; several: "report.html"
    // beside the first.
    const QFileInfo first(paths.front());
    const QString proposed =
        first.dir().filePath(paths.size() == 1 ? first.completeBaseName() + QStringLiteral(".html")
                                               : QStringLiteral("report.html"));
    // The reading belongs to the window: it ends with it.
    auto* workers = new Workers(owner);
    workers->StartUnjoined([&services, owner, workers, files, proposed](const WorkerContext& context) {
        Result<std::vector<ReportResult>> read = ReadReportResults(files);
        context.Post([&services, owner, workers, proposed, read = std::move(read)] {
            workers->deleteLater();
            if (!read) {
                services.Inform(owner, ProgramText(read.Failure().text), PromptIcon::Exclamation);
                return;
            }
            SaveReport(services, owner, *read, proposed);
        });
    });
}

}  // namespace dravix
