#include "ui/Services.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QThread>
#include <QUrl>

namespace dravix {

PromptAnswer AppServices::Prompt(QWidget* owner, const PromptRecord& record) const {
    const QCoreApplication* app = QCoreApplication::instance();
    if (app != nullptr && QThread::currentThread() != app->thread()) {
        // A box belongs to the UI thread; a worker posts it there (WorkerContext::Post). One
        // asked for here anyway is not shown: a message box on this thread would bring the
        // program down.
        qWarning("dravix: a message box asked for off the UI thread was not shown: %s",
                 qPrintable(record.text));
        switch (record.buttons) {
            case PromptButtons::Ok:
                return PromptAnswer::Ok;
            case PromptButtons::OkCancel:
                return PromptAnswer::Cancel;
            case PromptButtons::YesNo:
                return PromptAnswer::No;
        }
    }
    if (prompter) return prompter->Show(owner, record);
    return MakeMessageBoxPrompter()->Show(owner, record);
}

void AppServices::Inform(QWidget* owner, const QString& text, PromptIcon icon) const {
    Prompt(owner, PromptRecord{AppTitle(), text, icon, PromptButtons::Ok});
}

PromptAnswer AppServices::Ask(QWidget* owner, const QString& caption, const QString& text, PromptIcon icon,
                              PromptButtons buttons) const {
    return Prompt(owner, PromptRecord{caption, text, icon, buttons});
}

int AppServices::RunModal(QDialog& dialog) const {
    return dialogRunner ? dialogRunner(dialog) : dialog.exec();
}

QString AppServices::AskSaveFileName(QWidget* owner, const SaveQuestion& question) const {
    if (saveFileName) return saveFileName(owner, question);
    return QFileDialog::getSaveFileName(owner, question.title, question.proposedName, question.filter);
}

QStringList AppServices::AskOpenFileNames(QWidget* owner, const OpenQuestion& question) const {
    if (openFileNames) return openFileNames(owner, question);
    return QFileDialog::getOpenFileNames(owner, question.title, question.folder, question.filter);
}

bool AppServices::OpenUrl(const QUrl& url) const {
    return urlOpener ? urlOpener(url) : QDesktopServices::openUrl(url);
}

int AppServices::OpenLink(const QString& target) const {
    if (OpenUrl(LinkUrl(target))) return kLinkOpened;
    const std::optional<LaunchCommand> command = BrowserLaunchCommand(BrowserCommandText(), target);
    if (!command) return kLinkNoAssociation;
    return linkLauncher ? linkLauncher(*command) : LaunchDetached(*command);
}

}  // namespace dravix
