#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/PageRegistry.h"
#include "drive/DriveNodes.h"
#include "drive/DriveTable.h"
#include "drive/Support.h"

class QComboBox;
class QGroupBox;
class QAction;
class QLabel;
class QMenu;
class QMenuBar;

namespace dravix {

class AppServices;
class DriveSequence;
class DriveWatcher;
class HelpWindow;
class PropertyPage;
class PropertySheet;
class CReadTestWindow;
class CWriteTestWindow;
class StoppableDrive;

// The main window: the drive list, the property sheet with the drive's feature pages, the menu.
// Its own commands (the transport, the drive list, the probe of a drive) run in its drive
// sequence; while a drive is probed the window says "Checking the drive..." and keeps its menus,
// its tabs and its painting.
class CMainDialog final : public QDialog {
    Q_OBJECT
  public:
    // The drive list's control id and the object name of timer 1 (the drive list follows
    // ScanIdle, the pages get their turn).
    static constexpr int kDriveListId = 1009;
    static constexpr const char* kTimerName = "timer1";

    // `services`: what the window and every window it makes ask of the user and the desktop
    // (it outlives them); `pages` makes the pages a drive's features bring.
    CMainDialog(const AppServices& services, PageFactory pages, QWidget* parent = nullptr);
    ~CMainDialog() override;
    Q_DISABLE_COPY_MOVE(CMainDialog)

    // The initialisation of the window, begun before it is shown: the start-up warning, then in
    // the window's drive sequence the transport, the drive list, the probe and the sheet. When
    // the transport cannot be prepared ("Initial fail.") the window closes and the program ends.
    void OnInitDialog();

    // Why a drive is probed. After a pull-out the first drive left is probed without the user
    // choosing it: a drive that refuses vendor mode is then explained in the diagnosis line, not
    // with the not-supported dialog, which only a drive the user chose (or the first at start-up)
    // gets.
    enum class ProbeCause { Chosen, AfterPullOut };
    // The probe of the selected drive with the page set it brings; `done` gets its outcome.
    void ProbeDrive(std::function<void(bool supported)> done = {}, ProbeCause cause = ProbeCause::Chosen);
    void ShowDriveSheet(ProbeCause cause = ProbeCause::Chosen);
    // Help > "Dravix Help": the guide's first page.
    void OpenHelpFile();
    // F1: the guide's page of the active window (a results window, a modal dialog such as the
    // Smart report) or of the sheet's active page; the first page when neither names one.
    void OpenContextHelp();
    QString ContextGuidePage() const;
    void OnDriveListChanged(int index);
    void OnTimer();
    // The system menu's commands: id 16 (low four bits ignored) is the About item.
    void OnSysCommand(int id);
    void OnSave();
    void OnAbout();
    // Tools > "Read Test…": the read test window for the chosen drive (raised when it is open).
    void OpenReadTest();
    // Tools > "Write Test…": the write test window for the chosen drive (raised when it is open).
    void OpenWriteTest();

    // Lists the drives again (the menu's "Rescan Drives", a drive plugged in or removed, the
    // virtual drive's list changed). Waits until no scan and no command sequence of any window
    // runs. The chosen drive stays chosen where it is still found (no new probe, the pages stay);
    // otherwise the first drive is chosen and probed as at start-up.
    void Rescan();
    // Help > "Copy Drive Report": the drive report (version, system, drives, last commands) to
    // the clipboard, once no scan and no command sequence runs. `done` gets the text (tests).
    void CopyDriveReport(std::function<void(const QString& report)> done = {});

    // The text that stands in the sheet's frame when no page can be shown: why (no drive, the
    // kernel's refusal, a drive that is not the maker's); empty while pages are shown.
    QString Diagnosis() const;

    // Shows the user's guide found for a program in the given folder in the help window, at `page`
    // when one is given, or says that it is missing. OpenHelpFile looks for this program's own.
    void OpenHelpFileFor(const QString& programDirectory, const QString& page = {});
    HelpWindow* Help() const;

    PropertySheet* Sheet() const { return m_sheet; }
    // The window has been closed (or its initialisation failed).
    bool Closed() const { return m_closing; }

  protected:
    // F1 in a modal dialog opened over this window: the dialog shuts this window's shortcut out.
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    struct DriveListing;

    void BuildLayout();
    void BuildMenu();
    struct Probed;

    // Lists the drives of the window's table (on the worker).
    static DriveListing ListTable(DriveTable& table);

    void FillDriveList(const DriveListing& listing);
    void ListDrives(const DriveListing& listing);
    // The rescan itself, once the drive watcher finds the drives free.
    void ListDrivesAgain();
    void OnRescanned(const DriveListing& listing);
    void ShowDiagnosis(const QString& text);
    void OnProbed(const Probed& probed, const std::function<void(bool)>& done, ProbeCause cause);
    // The drive list follows ScanIdle once the window's own sequence has ended, whether or not a
    // probe succeeded (timer 1 runs only after one that did).
    void FollowScanIdle();
    void AddPage(uint8_t featureCode, bool makeActive);
    void RemovePages();
    void LayoutSheet();
    // The active page's own commands in the File menu, after Save.
    void ShowPageCommands();
    // Vendor mode off to the selected drive, after the commands asked for before it, even when
    // the window goes right after.
    void SendVendorModeOff();
    // The modal dialog in front when it is one that this window opened (not this window's own
    // modal run); null otherwise.
    QWidget* ModalAbove() const;
    // The help window as a window of `owner`: a modal dialog blocks every window but its own, so
    // the guide opened from one belongs to it while it is open, and comes back when it closes.
    // False when it already belongs to `owner`.
    bool MoveHelpTo(QWidget* owner);

    const AppServices& m_services;
    PageFactory m_pageFactory;
    std::shared_ptr<StoppableDrive> m_drives;
    DriveSequence* m_sequence = nullptr;
    QLabel* m_checking = nullptr;
    QMenuBar* m_menuBar = nullptr;
    QMenu* m_fileMenu = nullptr;
    QAction* m_pageCommandsEnd = nullptr;           // the File menu's item after the page's commands
    std::vector<QPointer<QAction>> m_pageCommands;  // as shown, with the separators around them
    QLabel* m_banner = nullptr;
    QComboBox* m_driveList = nullptr;
    QGroupBox* m_sheetFrame = nullptr;
    PropertySheet* m_sheet = nullptr;
    std::vector<PropertyPage*> m_pages;  // the pages of the last successful probe, in sheet order
    QTimer* m_timer = nullptr;           // timer 1
    // Once opened; a child window, so a modal main window leaves it usable. Guarded: while it
    // belongs to a modal dialog it goes if the dialog is deleted before it closes.
    QPointer<HelpWindow> m_help;
    bool m_closing = false;
    QLabel* m_diagnosis = nullptr;         // in the sheet's frame, over it while no page is shown
    std::vector<DriveIdentity> m_listed;   // the drives of the list, line by line
    bool m_initialised = false;            // the first listing is done
    DriveWatcher* m_watcher = nullptr;     // plugged and removed drives, the virtual drive's changes
    DriveIdentity m_goneTold;              // a page has said that this drive is no longer there
    QPointer<CReadTestWindow> m_readTest;  // while open
    QPointer<CWriteTestWindow> m_writeTest;
};

// The start-up warning, as the program shows it.
extern const char* const kStartupWarning;
inline constexpr const char* kStartupCaption = "Dravix version 2.0";
inline constexpr const char* kMsgHelpMissing = "Files could not be found on this disc.";
inline constexpr const char* kMsgReportCopied = "The drive report was copied to the clipboard.";

}  // namespace dravix
