#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <optional>

#include "drive/DriveTable.h"
#include "turns/AppState.h"
#include "ui/LinkLauncher.h"
#include "ui/Prompter.h"

class QDialog;
class QUrl;
class QWidget;

namespace dravix {

// What the user chose in a save dialog.
struct SaveChoice {
    QString path;         // the full path name, as typed or picked
    int filterIndex = 0;  // 1-based position of the selected filter, 0 when none matches
};

// A file name a window's own save command asks for: the dialog's title, the proposed name and the
// filter list ("Name (*.ext);;Other (*.x *.y)").
struct SaveQuestion {
    QString title;
    QString proposedName;
    QString filter;
};

// The files a window's own open command asks for: the dialog's title, the folder it starts in and
// the filter list.
struct OpenQuestion {
    QString title;
    QString folder;
    QString filter;
};

// What the program's windows share and ask of the desktop and of the user, in one place: the
// program's state, the drive layer's services, message boxes, modal dialogs, opening addresses
// and links, File > Save. The application makes one and hands it to its main window, which hands
// it to every window it makes; a window hands it on to the dialogs it opens. Tests give the
// windows one whose parts they script. A part left empty is the program's own. UI thread only
// (the state aside: workers share it, each keeping it alive while it runs).
class AppServices final {
  public:
    // The state the windows share: the chosen drive, ScanIdle, the sheet's flags.
    std::shared_ptr<AppState> state = std::make_shared<AppState>();
    AppState& State() const { return *state; }

    // What every DriveTable a window makes is given: the platform it reaches drives through and
    // where the drive layer's messages go. Empty parts: the system's platform, standard error.
    DriveServices drives;

    // Every message box. Empty: a QMessageBox.
    std::shared_ptr<Prompter> prompter;
    // Every modal dialog (the not-supported dialog, the About box, the setting-scope dialog, the
    // Smart report, the save dialog). Empty: exec().
    std::function<int(QDialog& dialog)> dialogRunner;
    // Opens a file or web address with the desktop's handler. Empty: QDesktopServices.
    std::function<bool(const QUrl& url)> urlOpener;
    // Starts the browser command when the desktop cannot open a link. Empty: LaunchDetached.
    LinkLauncher linkLauncher;
    // File > Save's file name. Empty: the standard save dialog.
    std::function<std::optional<SaveChoice>()> saveDialog;
    // File > Save of the main window. Empty: the build cannot save pictures.
    std::function<void(QWidget& window)> saveHandler;
    // The file name of a window's own save command (a run's results file or chart picture); empty
    // when the user cancels. Empty: the standard save dialog.
    std::function<QString(QWidget* owner, const SaveQuestion& question)> saveFileName;
    // The files a window's own command reads, one or more (the results of a report); empty when
    // the user cancels. Empty: the standard open dialog.
    std::function<QStringList(QWidget* owner, const OpenQuestion& question)> openFileNames;

    // Shows a box; owner may be null.
    PromptAnswer Prompt(QWidget* owner, const PromptRecord& record) const;
    // Application message box: OK, the application's title, no icon unless given.
    void Inform(QWidget* owner, const QString& text, PromptIcon icon = PromptIcon::None) const;
    // Window message box with a fixed caption.
    PromptAnswer Ask(QWidget* owner, const QString& caption, const QString& text, PromptIcon icon,
                     PromptButtons buttons) const;
    // Runs a modal dialog; its result.
    int RunModal(QDialog& dialog) const;
    // Asks for the name of a file to write; empty when cancelled.
    QString AskSaveFileName(QWidget* owner, const SaveQuestion& question) const;
    // Asks for one or more files to read; empty when cancelled.
    QStringList AskOpenFileNames(QWidget* owner, const OpenQuestion& question) const;
    bool OpenUrl(const QUrl& url) const;
    // Opens a link's target: with the desktop's handler, else with the browser command. The
    // outcome in the shell's numbering (LinkOpened).
    int OpenLink(const QString& target) const;
};

}  // namespace dravix
