#include "ui/Prompter.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QMetaObject>
#include <QPointer>
#include <QThread>
#include <mutex>

#include "drive/Messages.h"

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
    const std::shared_ptr<Prompter> prompter = CurrentPrompter();
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr || QThread::currentThread() == app->thread()) return prompter->Show(owner, record);
    // A worker never waits for the UI thread: its box is shown there later, and only a box the
    // user can do nothing but acknowledge may come from a worker.
    Q_ASSERT(record.buttons == PromptButtons::Ok);
    QMetaObject::invokeMethod(
        app, [prompter, owner = QPointer<QWidget>(owner), record] { prompter->Show(owner.data(), record); },
        Qt::QueuedConnection);
    return PromptAnswer::Ok;
}

void RouteDriveMessagesToBoxes() {
    SetDriveMessageHandler([](const std::string& text) { Inform(nullptr, QString::fromStdString(text)); });
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
