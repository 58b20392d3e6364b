#include "ui/Prompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QThread>
#include <mutex>

namespace dravix {

namespace {

std::mutex g_mutex;
std::shared_ptr<Prompter> g_prompter;
DialogRunner g_runner;
UrlOpener g_opener;

class MessageBoxPrompter final : public Prompter {
  public:
    PromptAnswer Show(QWidget* owner, const PromptRecord& r) override {
        QMessageBox box(owner);
        box.setWindowTitle(r.caption);
        box.setText(r.text);
        switch (r.icon) {
            case PromptIcon::None:
                box.setIcon(QMessageBox::NoIcon);
                break;
            case PromptIcon::Information:
                box.setIcon(QMessageBox::Information);
                break;
            case PromptIcon::Exclamation:
                box.setIcon(QMessageBox::Warning);
                break;
            case PromptIcon::Error:
                box.setIcon(QMessageBox::Critical);
                break;
            case PromptIcon::Question:
                box.setIcon(QMessageBox::Question);
                break;
        }
        switch (r.buttons) {
            case PromptButtons::Ok:
                box.setStandardButtons(QMessageBox::Ok);
                break;
            case PromptButtons::OkCancel:
                box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
                break;
            case PromptButtons::YesNo:
                box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
                break;
        }
        switch (box.exec()) {
            case QMessageBox::Ok:
                return PromptAnswer::Ok;
            case QMessageBox::Yes:
                return PromptAnswer::Yes;
            case QMessageBox::No:
                return PromptAnswer::No;
            default:
                return r.buttons == PromptButtons::YesNo ? PromptAnswer::No : PromptAnswer::Cancel;
        }
    }
};

}  // namespace

std::shared_ptr<Prompter> MakeMessageBoxPrompter() {
    return std::make_shared<MessageBoxPrompter>();
}

void SetPrompter(std::shared_ptr<Prompter> prompter) {
    std::lock_guard lock(g_mutex);
    g_prompter = std::move(prompter);
}

std::shared_ptr<Prompter> CurrentPrompter() {
    std::lock_guard lock(g_mutex);
    if (!g_prompter) g_prompter = MakeMessageBoxPrompter();
    return g_prompter;
}

PromptAnswer Prompt(QWidget* owner, const PromptRecord& record) {
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
    return CurrentPrompter()->Show(owner, record);
}

void SetDialogRunner(DialogRunner runner) {
    std::lock_guard lock(g_mutex);
    g_runner = std::move(runner);
}

int RunModal(QDialog& dialog) {
    DialogRunner runner;
    {
        std::lock_guard lock(g_mutex);
        runner = g_runner;
    }
    return runner ? runner(dialog) : dialog.exec();
}

void SetUrlOpener(UrlOpener opener) {
    std::lock_guard lock(g_mutex);
    g_opener = std::move(opener);
}

bool OpenUrl(const QUrl& url) {
    UrlOpener opener;
    {
        std::lock_guard lock(g_mutex);
        opener = g_opener;
    }
    return opener ? opener(url) : QDesktopServices::openUrl(url);
}

QString AppTitle() {
    const QString path = QCoreApplication::applicationFilePath();
    if (path.isEmpty()) return QStringLiteral("dravix");
    return QFileInfo(path).completeBaseName();
}

void Inform(QWidget* owner, const QString& text, PromptIcon icon) {
    Prompt(owner, PromptRecord{AppTitle(), text, icon, PromptButtons::Ok});
}

PromptAnswer Ask(QWidget* owner, const QString& caption, const QString& text, PromptIcon icon,
                 PromptButtons buttons) {
    return Prompt(owner, PromptRecord{caption, text, icon, buttons});
}

}  // namespace dravix
