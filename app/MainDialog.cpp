#include "app/MainDialog.h"
#include "app/ResultsMenu.h"
#include "base/InstallLayout.h"
#include "base/Version.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QShortcut>
#include <algorithm>

#include "app/AboutDialog.h"
#include "app/DriveWatcher.h"
#include "app/HelpWindow.h"
#include "drive/HotPlug.h"
#include "drive/Support.h"
#include "drive/VendorMode.h"
#include "probix/ScanTexts.h"
#include "procedures/Diagnosis.h"
#include "procedures/DriveReport.h"
#include "procedures/PageTitles.h"
#include "procedures/SupportTexts.h"
#include "res/Icons.h"
#include "res/Strings.h"
#include "scan/MakeReport.h"
#include "scan/ReadTestWindow.h"
#include "scan/WriteTestWindow.h"
#include "turns/AppState.h"
#include "turns/StoppableDrive.h"
#include "ui/DialogUnits.h"
#include "ui/DriveSequence.h"
#include "ui/GuidePage.h"
#include "ui/PropertyPage.h"
#include "ui/Services.h"
#include "ui/UnsupportedDialog.h"

namespace dravix {

const char* const kStartupWarning =
    "\n                  +++  Warning  +++                                   \n\n\n"
    "Dravix  is  limited  to  selective  Zarn DVDRW\n"
    "products, it could offer special unique features, like\n"
    "Book Type setting, Probix, Lumard and so on.\n\n"
    "Before using Dravix, suggest you read through the\n"
    "online Help or user manual to better  understand\n"
    "how   each   tool   works. Technical  information,\n"
    "Implementation  procedures, and  precautions are\n"
    "instructed  so  you  can maximize the benefit of all\n"
    "four tools without causing any side effects.\n\n"
    "You may get different test result from other users\n"
    "according  to  your  test  environment,  such  as\n"
    "hardware,  software,  and  media...etc. Please  use\n"
    "this tool at your own responsibility.";

namespace {

constexpr int kTimerPeriodMs = 600;

constexpr const char* kDriveRefusedVendorMode =
    "The drive refused the maker's vendor mode: it is not one of the Zarn drives Dravix serves.";
constexpr int kSysCommandAbout = 16;

// A tool window already open comes to the front; false when there is none.
bool ShowAgain(QWidget* window) {
    if (window == nullptr) return false;
    window->show();
    window->raise();
    window->activateWindow();
    return true;
}

void EnableControl(PropertyPage* page, int id, bool enabled) {
    if (QWidget* control = page->Control(id)) control->setEnabled(enabled);
}

}  // namespace

// What the window's first step found: the transport, and the drives with their labels.
struct CMainDialog::DriveListing {
    bool transportReady = false;
    std::vector<std::string> lines;  // label, separator, nodes
    std::vector<DriveIdentity> identities;
    std::string diagnosis;  // why no drive could be used, when none was found
};

// What the probe of a drive found, with why vendor mode was refused.
struct CMainDialog::Probed {
    SupportResult result;
    bool kernelRefused = false;  // the kernel, not the drive, refused vendor mode
    std::string diagnosis;       // KernelRefusalDiagnosis when it did
};

CMainDialog::DriveListing CMainDialog::ListTable(DriveTable& table) {
    DriveListing listing;
    listing.transportReady = true;
    const int count = table.EnumerateDrives();
    for (int i = 0; i < count; ++i) {
        listing.lines.push_back(DriveListLine(table, i));
        listing.identities.push_back(IdentityOf(table, i));
    }
    if (count == 0)
        listing.diagnosis =
            NoDriveDiagnosis(table, UsesVirtualDrive() ? VirtualHint::None : VirtualHint::Window);
    return listing;
}

CMainDialog::CMainDialog(const AppServices& services, PageFactory pages, QWidget* parent)
    : QDialog(parent),
      m_services(services),
      m_pageFactory(std::move(pages)),
      m_drives(std::make_shared<StoppableDrive>(services.drives)) {
    setWindowTitle(QStringLiteral("Dravix Ver.2.0"));
    setFont(DialogFont());
    setObjectName(QStringLiteral("dialog102"));
    BuildMenu();
    BuildLayout();
    m_sequence = new DriveSequence(*m_driveList, services, m_drives, m_checking);
    m_timer = new QTimer(this);
    m_timer->setObjectName(QString::fromLatin1(kTimerName));
    const QIcon icon = LoadIcon(128);
    setWindowIcon(icon);
    m_timer->setInterval(kTimerPeriodMs);
    connect(m_timer, &QTimer::timeout, this, &CMainDialog::OnTimer);
    connect(m_driveList, &QComboBox::activated, this, &CMainDialog::OnDriveListChanged);
    m_watcher = new DriveWatcher(
        *this,
        [this] {
            return !m_initialised || m_services.State().scanIdle.load() == 0 ||
                   DriveSequence::AnyWorking(*this);
        },
        [this] { ListDrivesAgain(); });
    // F1 opens the guide's page of what the user is looking at, in this window or in one it opened
    // (a results window); Ctrl+S saves as the menu says. Ctrl+X and Ctrl+A stay text only: the
    // common cut and select-all keys must never end the program or open a box.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    help->setContext(Qt::ApplicationShortcut);
    connect(help, &QShortcut::activated, this, &CMainDialog::OpenContextHelp);
    auto* save = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
    connect(save, &QShortcut::activated, this, &CMainDialog::OnSave);
    qApp->installEventFilter(this);
}

CMainDialog::~CMainDialog() {
    m_timer->stop();
    m_watcher->Stop();
    if (!m_closing) {
        m_sequence->Stop();
        SendVendorModeOff();
    }
    // The pages go quietly, as on a drive change: none of them talks to the drive on its way out.
    RemovePages();
    // The sheet outlives this window's own part: it must not call back into it.
    disconnect(m_sheet, nullptr, this, nullptr);
}

void CMainDialog::SendVendorModeOff() {
    const uint8_t index = m_services.State().selectedDriveIndex.load();
    m_sequence->Finally(
        [index](DriveTable& table) {
            // A probe of another drive may have used the table since this was asked for.
            if (table.SelectedIndex() != index) table.SelectDrive(index);
            VendorModeScope::Resume(table).End();
        },
        m_services.State().ChosenDrive());
}

void CMainDialog::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(QStringLiteral("File(&F)"));
    m_fileMenu = file;
    QAction* save = file->addAction(QStringLiteral("&Save      Ctrl+S"));
    save->setObjectName(QStringLiteral("id32773"));
    connect(save, &QAction::triggered, this, &CMainDialog::OnSave);
    QAction* rescan = file->addAction(QStringLiteral("&Rescan Drives"));
    m_pageCommandsEnd = rescan;
    rescan->setObjectName(QStringLiteral("rescanDrives"));
    connect(rescan, &QAction::triggered, this, &CMainDialog::Rescan);
    AddResultsMenuItems(*file, *this, m_services);
    QAction* exit = file->addAction(QStringLiteral("E&xit       Ctrl+X"));
    exit->setObjectName(QStringLiteral("id32774"));
    connect(exit, &QAction::triggered, this, &QDialog::reject);
    QMenu* tools = m_menuBar->addMenu(QStringLiteral("Tools(&T)"));
    QAction* readTest = tools->addAction(QStringLiteral("&Read Test\u2026"));
    readTest->setObjectName(QStringLiteral("readTest"));
    connect(readTest, &QAction::triggered, this, &CMainDialog::OpenReadTest);
    QAction* writeTest = tools->addAction(QStringLiteral("&Write Test\u2026"));
    writeTest->setObjectName(QStringLiteral("writeTest"));
    connect(writeTest, &QAction::triggered, this, &CMainDialog::OpenWriteTest);
    QAction* makeReport = tools->addAction(QStringLiteral("&Make Report\u2026"));
    makeReport->setObjectName(QStringLiteral("makeReport"));
    connect(makeReport, &QAction::triggered, this, [this] { AskAndMakeReport(m_services, this); });
    QMenu* help = m_menuBar->addMenu(QStringLiteral("Help(&H)"));
    QAction* contents = help->addAction(QStringLiteral("Dravix Help    F1"));
    contents->setObjectName(QStringLiteral("id32775"));
    connect(contents, &QAction::triggered, this, &CMainDialog::OpenHelpFile);
    QAction* report = help->addAction(QStringLiteral("Copy Drive Report"));
    report->setObjectName(QStringLiteral("copyDriveReport"));
    connect(report, &QAction::triggered, this, [this] { CopyDriveReport(); });
    help->addSeparator();
    QAction* about = help->addAction(QStringLiteral("&About             Ctrl+A"));
    about->setObjectName(QStringLiteral("id32776"));
    connect(about, &QAction::triggered, this, &CMainDialog::OnAbout);
}

void CMainDialog::BuildLayout() {
    const DialogUnits du(font());
    const int menuHeight = m_menuBar->sizeHint().height();
    m_menuBar->setGeometry(0, 0, du.X(372), menuHeight);
    // The dialog's client area lies below its menu.
    auto place = [&](QWidget* w, int x, int y, int width, int height) {
        QRect r = du.Rect(x, y, width, height);
        r.translate(0, menuHeight);
        w->setGeometry(r);
    };

    m_banner = new QLabel(this);
    m_banner->setObjectName(QStringLiteral("IDB_BITMAP_VI"));
    place(m_banner, 7, 3, 358, 41);
    m_banner->setPixmap(LoadBanner(m_banner->size()));

    auto* label = new QLabel(QStringLiteral("Drive:"), this);
    place(label, 14, 48, 28, 8);

    m_driveList = new QComboBox(this);
    SetControlId(m_driveList, kDriveListId);
    m_driveList->setMaxVisibleItems(8);
    place(m_driveList, 45, 46, 314, 12);

    // The frame's caption is never meant to be read (the sheet covers it); while no sheet is
    // shown it would read "Static", so it stays empty and the diagnosis stands in the frame.
    m_sheetFrame = new QGroupBox(QString(), this);
    SetControlId(m_sheetFrame, 1007);
    m_sheetFrame->setFlat(true);
    place(m_sheetFrame, 7, 57, 358, 264);

    m_sheet = new PropertySheet(m_services.state, m_sheetFrame);
    m_sheet->hide();
    connect(m_sheet, &PropertySheet::ActivePageChanged, this, &CMainDialog::ShowPageCommands);

    m_diagnosis = new QLabel(m_sheetFrame);
    m_diagnosis->setObjectName(QStringLiteral("driveDiagnosis"));
    m_diagnosis->setWordWrap(true);
    m_diagnosis->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_diagnosis->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_diagnosis->setGeometry(du.Rect(7, 10, 344, 240));
    m_diagnosis->hide();

    // While a drive is checked, this stands where its pages will be.
    m_checking = new QLabel(this);
    m_checking->setObjectName(QStringLiteral("checkingDrive"));
    m_checking->setAlignment(Qt::AlignCenter);
    m_checking->setCursor(Qt::WaitCursor);
    place(m_checking, 7, 57, 358, 264);
    m_checking->hide();

    setFixedSize(du.X(372), du.Y(331) + menuHeight);
}

void CMainDialog::ShowPageCommands() {
    // A page's commands go with the page (it owns them); the separators are the window's own.
    for (const QPointer<QAction>& shown : m_pageCommands) {
        if (shown == nullptr) continue;
        m_fileMenu->removeAction(shown);
        if (shown->parent() == this) delete shown;
    }
    m_pageCommands.clear();
    const PropertyPage* page = m_sheet->ActivePage();
    const QList<QAction*> commands = page != nullptr ? page->Commands() : QList<QAction*>{};
    if (commands.isEmpty()) return;
    auto separator = [this] {
        auto* line = new QAction(this);
        line->setSeparator(true);
        m_fileMenu->insertAction(m_pageCommandsEnd, line);
        m_pageCommands.emplace_back(line);
    };
    separator();
    for (QAction* command : commands) {
        m_fileMenu->insertAction(m_pageCommandsEnd, command);
        m_pageCommands.emplace_back(command);
    }
    separator();
}

void CMainDialog::LayoutSheet() {
    // The sheet covers its frame entirely, the frame's own caption included.
    m_sheet->setGeometry(m_sheetFrame->rect());
}

void CMainDialog::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (m_sheet) LayoutSheet();
}

void CMainDialog::OnInitDialog() {
    m_services.Ask(this, QString::fromLatin1(kStartupCaption), QString::fromLatin1(kStartupWarning),
                   PromptIcon::Exclamation, PromptButtons::Ok);
    m_sequence->Start([this] {
        m_sequence->ShowStatus(QString::fromUtf8(kStatusCheckingDrive));
        m_sequence->Step(
            [](DriveTable& table, const WorkerContext&) {
                if (!table.InitTransport()) return DriveListing{};
                DriveListing listing = ListTable(table);
                table.SelectDrive(0);
                return listing;
            },
            [this](const DriveListing& listing) {
                if (!listing.transportReady) {
                    m_services.Inform(this, QString::fromLatin1(kMsgInitialFail));
                    m_closing = true;
                    QDialog::done(QDialog::Rejected);
                    return;
                }
                FillDriveList(listing);
                m_initialised = true;
                m_watcher->Start();
                // With no drive there is nothing to probe: the drive list's diagnosis says why.
                if (listing.lines.empty()) {
                    m_services.State().sheetPending = true;
                    return;
                }
                // A write test that did not end (a crash) may have left the drive simulating:
                // offered to be checked before the drive is probed.
                CheckLeftWriteTestMarker(m_services, *this, *m_sequence, [this](bool) { ShowDriveSheet(); });
            });
    });
}

void CMainDialog::FillDriveList(const DriveListing& listing) {
    ListDrives(listing);
    if (listing.lines.empty()) {
        const QString diagnosis = QString::fromStdString(listing.diagnosis);
        m_services.Inform(this, QString::fromLatin1(kMsgNoDeviceFound) + QStringLiteral("\n\n") + diagnosis);
        ShowDiagnosis(diagnosis);
        return;
    }
    m_driveList->setCurrentIndex(0);
    m_services.State().selectedDriveIndex = 0;
    m_services.State().SetChosenDrive(m_listed.front());
}

void CMainDialog::ListDrives(const DriveListing& listing) {
    m_driveList->clear();
    // The drive's label as it sent it; the nodes after it are the system's own text.
    for (const std::string& line : listing.lines) m_driveList->addItem(QString::fromUtf8(line.c_str()));
    m_listed = listing.identities;
}

void CMainDialog::ShowDiagnosis(const QString& text) {
    m_diagnosis->setText(text);
    m_diagnosis->setVisible(!text.isEmpty());
    if (!text.isEmpty()) m_diagnosis->raise();
}

QString CMainDialog::Diagnosis() const {
    return m_diagnosis->isHidden() ? QString() : m_diagnosis->text();
}

void CMainDialog::Rescan() {
    m_watcher->Request();
}

void CMainDialog::ListDrivesAgain() {
    m_sequence->Start([this] {
        m_sequence->Step([](DriveTable& table, const WorkerContext&) { return ListTable(table); },
                         [this](const DriveListing& listing) { OnRescanned(listing); });
    });
}

void CMainDialog::OnRescanned(const DriveListing& listing) {
    AppState& state = m_services.State();
    if (listing.identities == m_listed) {
        // The same drives: the list and the window's table agree again, nothing else changes.
        return;
    }
    ++state.driveListGeneration;
    const DriveIdentity chosen = m_services.State().ChosenDrive();
    ListDrives(listing);
    const auto kept = std::find(m_listed.begin(), m_listed.end(), chosen);
    if (!chosen.Empty() && kept != m_listed.end()) {
        const int line = static_cast<int>(kept - m_listed.begin());
        m_driveList->setCurrentIndex(line);
        state.selectedDriveIndex = static_cast<uint8_t>(line);
        FollowScanIdle();
        return;
    }
    // The chosen drive is gone: its pages go with it (what they measured stays in windows of their
    // own), the user is told once, and the first drive left is probed as at start-up.
    m_timer->stop();
    for (PropertyPage* page : m_pages) {
        if (page->IsInitialised()) page->OnDriveGone();
    }
    if (!m_pages.empty()) RemovePages();
    if (!chosen.Empty() && chosen != m_goneTold) {
        m_services.Ask(this, QStringLiteral("Warning"), QString::fromLatin1(scan_texts::kDriveGone),
                       PromptIcon::Exclamation, PromptButtons::Ok);
    }
    m_goneTold = {};
    if (listing.lines.empty()) {
        m_services.State().SetChosenDrive({});
        state.sheetPending = true;
        ShowDiagnosis(QString::fromLatin1(kMsgNoDeviceFound) + QStringLiteral("\n\n") +
                      QString::fromStdString(listing.diagnosis));
        FollowScanIdle();
        return;
    }
    m_driveList->setCurrentIndex(0);
    state.selectedDriveIndex = 0;
    m_services.State().SetChosenDrive(m_listed.front());
    ShowDriveSheet(ProbeCause::AfterPullOut);
}

void CMainDialog::CopyDriveReport(std::function<void(const QString& report)> done) {
    if (m_closing) return;
    // The report checks every drive (vendor mode on and off): never in the middle of a scan or
    // of another window's command sequence.
    if (m_services.State().scanIdle.load() == 0 || DriveSequence::AnyWorking(*this)) {
        QTimer::singleShot(DriveWatcher::kRetryMs, this,
                           [this, done = std::move(done)] { CopyDriveReport(done); });
        return;
    }
    m_sequence->Start([this, done = std::move(done)] {
        m_sequence->Step(
            [](DriveTable& table, const WorkerContext&) {
                return DriveReportText(GatherDriveReport(table, kVersionText, ReadSystemFacts(), true));
            },
            [this, done](const std::string& text) {
                const QString report = QString::fromUtf8(text.c_str());
                if (QClipboard* clipboard = QGuiApplication::clipboard()) {
                    clipboard->setText(report);
                    m_services.Inform(this, QString::fromLatin1(kMsgReportCopied), PromptIcon::Information);
                }
                if (done) done(report);
            });
    });
}

void CMainDialog::ShowDriveSheet(ProbeCause cause) {
    ProbeDrive(
        [this](bool supported) {
            AppState& state = m_services.State();
            if (!supported) {
                state.sheetPending = true;
                return;
            }
            state.sheetPending = false;
            ShowDiagnosis({});
            if (state.sheetCreated) return;
            LayoutSheet();
            m_sheet->show();
            m_sheet->Create();
            state.sheetCreated = true;
        },
        cause);
}

void CMainDialog::AddPage(uint8_t featureCode, bool makeActive) {
    PropertyPage* page = m_pageFactory ? m_pageFactory(featureCode) : nullptr;
    if (page == nullptr) return;  // a feature whose page this program lacks adds nothing
    m_pages.push_back(page);
    connect(page, &PropertyPage::DriveGoneTold, this, [this] {
        m_goneTold = m_services.State().ChosenDrive();
        Rescan();
    });
    if (const char* guide = GuidePageOf(featureCode)) SetGuidePage(*page, QString::fromLatin1(guide));
    m_sheet->AddPage(page);
    if (makeActive) m_sheet->SetActivePage(page);
}

void CMainDialog::ProbeDrive(std::function<void(bool supported)> done, ProbeCause cause) {
    AppState& state = m_services.State();
    state.featureFlags = 0;
    state.sheetPending = false;
    m_timer->stop();
    // Part of the running sequence when the initialisation or a drive change asks for it.
    auto probe = [this, done = std::move(done), cause] {
        m_sequence->ShowStatus(QString::fromUtf8(kStatusCheckingDrive));
        m_sequence->Step(
            [index = m_services.State().selectedDriveIndex.load()](DriveTable& table, const WorkerContext&) {
                if (table.SelectedIndex() != index) table.SelectDrive(index);
                Probed probed;
                probed.result = CheckDriveSupport(table);
                // The drive stays in vendor mode until the pages the probe brings have asked for
                // their first commands: the window sends the off after them (SendVendorModeOff).
                probed.result.vendorMode.Keep();
                if (probed.result.outcome == SupportOutcome::VendorModeRefused &&
                    RefusedByKernel(table.LastFailure())) {
                    probed.kernelRefused = true;
                    probed.diagnosis = KernelRefusalDiagnosis(table);
                }
                return probed;
            },
            [this, done, cause](const Probed& probed) { OnProbed(probed, done, cause); });
    };
    if (m_sequence->Running()) {
        probe();
    } else {
        m_sequence->Start(probe);
    }
}

void CMainDialog::OnProbed(const Probed& probed, const std::function<void(bool)>& done, ProbeCause cause) {
    AppState& state = m_services.State();
    const SupportResult& result = probed.result;
    bool supported = false;
    if (probed.kernelRefused) {
        // The drive never saw the command: telling its owner that it is not a Zarn drive would
        // be wrong. The kernel's refusal, the node and the way to access go in its place.
        const QString diagnosis = QString::fromStdString(probed.diagnosis);
        m_services.Ask(this, QStringLiteral("Warning"), diagnosis, PromptIcon::Exclamation,
                       PromptButtons::Ok);
        ShowDiagnosis(diagnosis);
    } else if (result.outcome == SupportOutcome::VendorModeRefused) {
        // The user lost a drive and chose none: telling them that this one "is exclusive for
        // Zarn drives" would read as if the drive that went were not one. The line says why.
        if (cause == ProbeCause::Chosen) {
            CUnsupportedDialog dialog(m_services, this);
            m_services.RunModal(dialog);
        }
        ShowDiagnosis(QString::fromLatin1(kDriveRefusedVendorMode));
    } else if (result.outcome != SupportOutcome::Supported) {
        m_services.Ask(this, QString::fromLatin1(kStartupCaption),
                       QString::fromLatin1(kMsgFirmwareNotSupported), PromptIcon::Exclamation,
                       PromptButtons::Ok);
        ShowDiagnosis(QString::fromLatin1(kMsgFirmwareNotSupported));
    } else {
        ShowDiagnosis({});
        supported = true;
        AddPage(kInformationPage, true);
        for (uint8_t code : result.featureCodes) {
            if (FeaturePageTitle(code) != nullptr) state.SetFeature(code);
        }
        for (uint8_t code : kPageOrder) {
            if (code != kInformationPage && state.HasFeature(code)) AddPage(code, false);
        }
        m_timer->start();
        // After the commands the pages have just asked for, as when the pages ran them at once:
        // after a drive change the Information page's first read. At start-up that page comes
        // with the sheet, which `done` makes after the probe: its reads follow the off.
        SendVendorModeOff();
    }
    if (done) done(supported);
    FollowScanIdle();
}

void CMainDialog::FollowScanIdle() {
    // Whatever the steps' busy state left it at (a scan had it disabled when they began).
    m_driveList->setEnabled(m_services.State().scanIdle.load() != 0);
}

void CMainDialog::RemovePages() {
    AppState& state = m_services.State();
    state.pagesRemoving = 1;
    // Information first, then the feature pages in sheet order, as they were added.
    for (PropertyPage* page : m_pages) m_sheet->RemovePage(page);
    m_pages.clear();
    state.pagesRemoving = 0;
}

void CMainDialog::OnDriveListChanged(int index) {
    AppState& state = m_services.State();
    if (index < 0 || index == state.selectedDriveIndex) return;
    // The probe of the chosen drive selects it in the window's table.
    state.selectedDriveIndex = static_cast<uint8_t>(index);
    if (index < static_cast<int>(m_listed.size())) m_services.State().SetChosenDrive(m_listed[index]);
    if (state.sheetPending) {
        ShowDriveSheet();
        return;
    }
    if (!m_pages.empty()) RemovePages();
    ProbeDrive();
}

void CMainDialog::OnTimer() {
    AppState& state = m_services.State();
    // ScanIdle is 0 during a write test too (the test holds it as a scan does), so the Test Write
    // page's Check and Set are locked while the test has the drive simulating: the timer locks
    // them for a write test as well as for a scan, and gives them back when it ends, when the
    // page's read shows the drive's state again.
    const bool idle = state.scanIdle.load() != 0;
    m_driveList->setEnabled(idle);
    PropertyPage* page = m_sheet->ActivePage();
    // A page whose sequence runs keeps its controls as the sequence has them: a write cannot be
    // started twice.
    if (page == nullptr || !page->IsInitialised() || page->SequenceRunning()) return;
    const ScanLock lock = page->LockedByScan();
    for (int id : lock.controls) EnableControl(page, id, idle);
    if (lock.untilGivenBack.empty()) return;
    // Given back once per scan (the Book type page's BookTypeReenabled).
    if (!idle) {
        state.bookTypeReenabled = false;
        for (int id : lock.untilGivenBack) EnableControl(page, id, false);
    } else if (!state.bookTypeReenabled) {
        state.bookTypeReenabled = true;
        for (int id : lock.givenBack) EnableControl(page, id, true);
    }
}

void CMainDialog::OpenReadTest() {
    // One window at a time; it reads the disc of the drive chosen when it opened and at each
    // START. Standard commands only: any drive, without the maker's support check.
    if (ShowAgain(m_readTest)) return;
    m_readTest = new CReadTestWindow(m_services, this);
    // A run holds the drive as a scan does: the drive list follows at once, also when no page
    // (and so no timer) is there.
    connect(m_readTest, &CReadTestWindow::RunningChanged, this, &CMainDialog::OnTimer);
    m_readTest->show();
}

void CMainDialog::OpenWriteTest() {
    if (ShowAgain(m_writeTest)) return;
    m_writeTest = new CWriteTestWindow(m_services, this);
    // The drive list and the pages' buttons follow the run at once, not at the next tick.
    connect(m_writeTest, &CWriteTestWindow::RunningChanged, this, &CMainDialog::OnTimer);
    m_writeTest->show();
}

void CMainDialog::OnSysCommand(int id) {
    if ((id & 0xFFF0) == kSysCommandAbout) OnAbout();
}

void CMainDialog::contextMenuEvent(QContextMenuEvent* event) {
    // The window manager owns the title bar's menu here; the About item of the system menu is
    // offered on the dialog's own surface instead.
    const QString text = LoadString(101);
    if (text.isEmpty()) return;
    QMenu menu(this);
    QAction* about = menu.addAction(text);
    if (menu.exec(event->globalPos()) == about) OnSysCommand(kSysCommandAbout);
}

void CMainDialog::OnAbout() {
    CAboutDialog dialog(m_services, this);
    m_services.RunModal(dialog);
}

void CMainDialog::OpenHelpFile() {
    OpenHelpFileFor(QCoreApplication::applicationDirPath(), QString::fromLatin1(kGuideFirstPage));
}

QWidget* CMainDialog::ModalAbove() const {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == this) return nullptr;
    for (QWidget* w = modal; w != nullptr; w = w->parentWidget()) {
        if (w == this) return modal;
    }
    return nullptr;
}

bool CMainDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (key->key() == Qt::Key_F1 && key->modifiers() == Qt::NoModifier && ModalAbove() != nullptr) {
            OpenContextHelp();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QString CMainDialog::ContextGuidePage() const {
    QWidget* active = QApplication::activeWindow();
    QWidget* focus = QApplication::focusWidget();
    // The help window in front of a modal dialog shows the dialog's page.
    if (active != nullptr && active == m_help) {
        if (QWidget* modal = ModalAbove()) active = modal;
    }
    // Another window of the program (a results window) names its own page; the help window and
    // this window show the active page's.
    if (active != nullptr && active != this && active != m_help) {
        const QString page =
            GuidePageFor(focus != nullptr && focus->window() == active ? focus : active, this);
        if (!page.isEmpty()) return page;
    }
    if (focus != nullptr && focus->window() == this) {
        const QString page = GuidePageFor(focus, this);
        if (!page.isEmpty()) return page;
    }
    PropertyPage* page = m_sheet->ActivePage();
    return page != nullptr ? GuidePageFor(page, this) : QString();
}

void CMainDialog::OpenContextHelp() {
    const QString page = ContextGuidePage();
    OpenHelpFileFor(QCoreApplication::applicationDirPath(), page);
}

void CMainDialog::OpenHelpFileFor(const QString& programDirectory, const QString& page) {
    // The guide is shown in the program's own window, so neither a CHM viewer nor a browser is needed.
    const QString guide = FindGuideDirectory(programDirectory);
    if (guide.isEmpty()) {
        m_services.Inform(this, QString::fromLatin1(kMsgHelpMissing));
        return;
    }
    if (m_help == nullptr) m_help = new HelpWindow(m_services, guide, this);
    QWidget* modal = ModalAbove();
    auto* dialog = qobject_cast<QDialog*>(modal);
    if (modal != nullptr && MoveHelpTo(modal) && dialog != nullptr) {
        connect(dialog, &QDialog::finished, m_help, [this, dialog] {
            // The dialog is hidden by now: the help goes to the window in front of this one.
            if (m_help->parentWidget() != dialog) return;
            QWidget* front = ModalAbove();
            MoveHelpTo(front != nullptr ? front : this);
        });
    }
    if (!page.isEmpty()) m_help->ShowPage(page);
    if (!m_help->isVisible()) {
        // Opened (or opened again) within the screen the window in front of it is on.
        QWidget* owner = m_help->parentWidget() != nullptr ? m_help->parentWidget()->window() : this;
        const QRect place = HelpGeometry(owner->frameGeometry(), owner->screen()->availableGeometry(),
                                         QSize(kHelpWidth, kHelpHeight));
        m_help->resize(place.size());
        m_help->move(place.topLeft());
    }
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

HelpWindow* CMainDialog::Help() const {
    return m_help.data();
}

bool CMainDialog::MoveHelpTo(QWidget* owner) {
    if (m_help->parentWidget() == owner) return false;
    // A new parent hides the window; one that was shown stays where it was.
    const bool shown = m_help->isVisible();
    const QRect where = m_help->geometry();
    m_help->setParent(owner, m_help->windowFlags());
    if (shown) {
        m_help->setGeometry(where);
        m_help->show();
    }
    return true;
}

void CMainDialog::OnSave() {
    if (m_services.saveHandler) {
        m_services.saveHandler(*this);
    } else {
        m_services.Inform(this, QStringLiteral("Saving pictures is not available in this build."));
    }
}

void CMainDialog::done(int result) {
    if (!m_closing) {
        m_closing = true;
        m_timer->stop();
        m_watcher->Stop();
        // A probe still at the drive ends after its command; the window does not wait for it.
        m_sequence->Stop();
        SendVendorModeOff();
    }
    QDialog::done(result);
}

}  // namespace dravix
