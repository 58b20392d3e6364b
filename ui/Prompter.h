#pragma once

#include <QString>
#include <functional>
#include <memory>

class QDialog;
class QUrl;
class QWidget;

namespace dravix {

enum class PromptIcon { None, Information, Exclamation, Error, Question };
enum class PromptButtons { Ok, OkCancel, YesNo };
enum class PromptAnswer { Ok, Cancel, Yes, No };

// One message box as the program asks for it.
struct PromptRecord {
    QString caption;
    QString text;
    PromptIcon icon = PromptIcon::None;
    PromptButtons buttons = PromptButtons::Ok;
};

// Every message box of the program goes through the current prompter. The program's shows a
// QMessageBox; tests install a scripted one that records what was asked and answers it.
class Prompter {
  public:
    virtual ~Prompter() = default;
    // Runs on the UI thread; owner may be null.
    virtual PromptAnswer Show(QWidget* owner, const PromptRecord& record) = 0;
};

void SetPrompter(std::shared_ptr<Prompter> prompter);
std::shared_ptr<Prompter> CurrentPrompter();

// Shows a box; UI thread only (a worker posts its boxes there through its WorkerContext).
PromptAnswer Prompt(QWidget* owner, const PromptRecord& record);

// The caption of application message boxes: the executable's file name without extension.
QString AppTitle();

// Application message box: OK, the application's title, no icon unless given.
void Inform(QWidget* owner, const QString& text, PromptIcon icon = PromptIcon::None);
// Window message box with a fixed caption.
PromptAnswer Ask(QWidget* owner, const QString& caption, const QString& text, PromptIcon icon,
                 PromptButtons buttons);

// The production prompter.
std::shared_ptr<Prompter> MakeMessageBoxPrompter();

// Every modal dialog of the program (the not-supported dialog, the About box, the setting-scope
// dialog, the Smart report) runs through one runner: exec() in the program; tests install one
// that drives the dialog (clicks its buttons, records it) and returns its result.
using DialogRunner = std::function<int(QDialog& dialog)>;
void SetDialogRunner(DialogRunner runner);
int RunModal(QDialog& dialog);

// Opens a file or web address with the desktop's handler (QDesktopServices); replaceable in tests.
using UrlOpener = std::function<bool(const QUrl& url)>;
void SetUrlOpener(UrlOpener opener);
bool OpenUrl(const QUrl& url);

}  // namespace dravix
