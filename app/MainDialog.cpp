#include "app/MainDialog.h"
#include "app/ResultsMenu.h"

#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShortcut>
#include <mutex>

#include "app/AboutDialog.h"
#include "app/HelpWindow.h"
#include "drive/Support.h"
#include "res/Icons.h"
#include "res/Strings.h"
#include "ui/AppState.h"
#include "ui/DialogUnits.h"
#include "ui/DriveSequence.h"
#include "ui/Prompter.h"
#include "ui/PropertyPage.h"
#include "ui/StoppableDrive.h"
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
constexpr int kSysCommandAbout = 16;

// Page dialogs whose buttons the timer locks while a scan runs.
constexpr int kInfoDialog = 154;
constexpr int kBookTypeDialog = 104;
constexpr int kWopcDialog = 105;
constexpr int kTestWriteDialog = 106;

std::mutex g_saveMutex;
CMainDialog::SaveHandler g_saveHandler;

void EnableControl(PropertyPage* page, int id, bool enabled) {
    if (QWidget* control = page->Control(id)) control->setEnabled(enabled);
}

}  // namespace

// What the window's first step found: the transport, and the drives with their labels.
struct CMainDialog::DriveListing {
    bool transportReady = false;
    std::vector<std::string> labels;
    std::string permissionHint;  // why no drive could be used, when none was found
};

CMainDialog::CMainDialog(PageFactory pages, QWidget* parent)
    : QDialog(parent), m_pageFactory(std::move(pages)), m_drives(std::make_shared<StoppableDrive>()) {
    setWindowTitle(QStringLiteral("Dravix Ver.2.0"));
    setFont(DialogFont());
    setObjectName(QStringLiteral("dialog102"));
    BuildMenu();
    BuildLayout();
    m_sequence = new DriveSequence(*m_driveList, m_drives, m_checking);
    const QIcon icon = LoadIcon(128);
    setWindowIcon(icon);
    m_timer.setInterval(kTimerPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &CMainDialog::OnTimer);
    connect(m_driveList, &QComboBox::activated, this, &CMainDialog::OnDriveListChanged);
    // F1 is the standard help command; the other key names in the menu are only text.
    auto* help = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(help, &QShortcut::activated, this, &CMainDialog::OpenHelpFile);
}

CMainDialog::~CMainDialog() {
    m_timer.stop();
    if (!m_closing) {
        m_sequence->Stop();
        SendVendorModeOff();
    }
    // The pages go quietly, as on a drive change: none of them talks to the drive on its way out.
    RemovePages();
}

void CMainDialog::SendVendorModeOff() {
    const uint8_t index = State().selectedDriveIndex.load();
    m_sequence->Finally(
        [index](DriveTable& table) {
            // A probe of another drive may have used the table since this was asked for.
            if (table.SelectedIndex() != index) table.SelectDrive(index);
            table.SetVendorMode(false);
        },
        index);
}

void CMainDialog::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(QStringLiteral("File(&F)"));
    QAction* save = file->addAction(QStringLiteral("&Save      Ctrl+S"));
    save->setObjectName(QStringLiteral("id32773"));
    connect(save, &QAction::triggered, this, &CMainDialog::OnSave);
    AddResultsMenuItems(*file, *this);
    QAction* exit = file->addAction(QStringLiteral("E&xit       Ctrl+X"));
    exit->setObjectName(QStringLiteral("id32774"));
    connect(exit, &QAction::triggered, this, &QDialog::reject);
    QMenu* help = m_menuBar->addMenu(QStringLiteral("Help(&H)"));
    QAction* contents = help->addAction(QStringLiteral("Dravix Help    F1"));
    contents->setObjectName(QStringLiteral("id32775"));
    connect(contents, &QAction::triggered, this, &CMainDialog::OpenHelpFile);
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
    SetControlId(m_driveList, 1009);
    m_driveList->setMaxVisibleItems(8);
    place(m_driveList, 45, 46, 314, 12);

    m_sheetFrame = new QGroupBox(QStringLiteral("Static"), this);
    SetControlId(m_sheetFrame, 1007);
    m_sheetFrame->setFlat(true);
    place(m_sheetFrame, 7, 57, 358, 264);

    m_sheet = new PropertySheet(m_sheetFrame);
    m_sheet->hide();

    // While a drive is checked, this stands where its pages will be.
    m_checking = new QLabel(this);
    m_checking->setObjectName(QStringLiteral("checkingDrive"));
    m_checking->setAlignment(Qt::AlignCenter);
    m_checking->setCursor(Qt::WaitCursor);
    place(m_checking, 7, 57, 358, 264);
    m_checking->hide();

    setFixedSize(du.X(372), du.Y(331) + menuHeight);
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
    Ask(this, QString::fromLatin1(kStartupCaption), QString::fromLatin1(kStartupWarning),
        PromptIcon::Exclamation, PromptButtons::Ok);
    m_sequence->Start([this] {
        m_sequence->ShowStatus(QString::fromUtf8(kStatusCheckingDrive));
        m_sequence->Step(
            [](DriveTable& table, const WorkerContext&) {
                DriveListing listing;
                if (!table.InitTransport()) return listing;
                listing.transportReady = true;
                const int count = table.EnumerateDrives();
                for (int i = 0; i < count; ++i) {
                    table.SelectDrive(static_cast<uint8_t>(i));
                    listing.labels.push_back(table.DriveLabel());
                }
                if (count == 0) listing.permissionHint = PermissionHint(table.RefusedNodes());
                table.SelectDrive(0);
                return listing;
            },
            [this](const DriveListing& listing) {
                if (!listing.transportReady) {
                    Inform(this, QString::fromLatin1(kMsgInitialFail));
                    m_closing = true;
                    QDialog::done(QDialog::Rejected);
                    return;
                }
                FillDriveList(listing);
                ShowDriveSheet();
            });
    });
}

void CMainDialog::FillDriveList(const DriveListing& listing) {
    if (listing.labels.empty()) {
        QString text = QString::fromLatin1(kMsgNoDeviceFound);
        if (!listing.permissionHint.empty())
            text += QStringLiteral("\n\n") + QString::fromStdString(listing.permissionHint);
        Inform(this, text);
        return;
    }
    m_driveList->clear();
    for (const std::string& label : listing.labels) m_driveList->addItem(QString::fromLatin1(label.c_str()));
    m_driveList->setCurrentIndex(0);
    State().selectedDriveIndex = 0;
}

void CMainDialog::ShowDriveSheet() {
    ProbeDrive([this](bool supported) {
        AppState& state = State();
        if (!supported) {
            state.sheetPending = true;
            return;
        }
        state.sheetPending = false;
        if (state.sheetCreated) return;
        LayoutSheet();
        m_sheet->show();
        m_sheet->Create();
        state.sheetCreated = true;
    });
}

void CMainDialog::AddPage(uint8_t featureCode, bool makeActive) {
    PropertyPage* page = m_pageFactory ? m_pageFactory(featureCode) : nullptr;
    if (page == nullptr) return;  // a feature whose page this program lacks adds nothing
    m_pages.push_back(page);
    m_sheet->AddPage(page);
    if (makeActive) m_sheet->SetActivePage(page);
}

void CMainDialog::ProbeDrive(std::function<void(bool supported)> done) {
    AppState& state = State();
    state.featureFlags = 0;
    state.sheetPending = false;
    m_timer.stop();
    // Part of the running sequence when the initialisation or a drive change asks for it.
    auto probe = [this, done = std::move(done)] {
        m_sequence->ShowStatus(QString::fromUtf8(kStatusCheckingDrive));
        m_sequence->Step(
            [index = State().selectedDriveIndex.load()](DriveTable& table, const WorkerContext&) {
                if (table.SelectedIndex() != index) table.SelectDrive(index);
                return CheckDriveSupport(table);
            },
            [this, done](const SupportResult& result) { OnProbed(result, done); });
    };
    if (m_sequence->Running()) {
        probe();
    } else {
        m_sequence->Start(probe);
    }
}

void CMainDialog::OnProbed(const SupportResult& result, const std::function<void(bool)>& done) {
    AppState& state = State();
    bool supported = false;
    if (result.outcome == SupportOutcome::VendorModeRefused) {
        CUnsupportedDialog dialog(this);
        RunModal(dialog);
    } else if (result.outcome != SupportOutcome::Supported) {
        Ask(this, QString::fromLatin1(kStartupCaption), QString::fromLatin1(kMsgFirmwareNotSupported),
            PromptIcon::Exclamation, PromptButtons::Ok);
    } else {
        supported = true;
        AddPage(0, true);
        for (uint8_t code : result.featureCodes) {
            if (FeaturePageTitle(code) != nullptr) state.SetFeature(code);
        }
        for (uint8_t code : kPageOrder) {
            if (code != 0 && state.HasFeature(code)) AddPage(code, false);
        }
        m_timer.start();
        // After the commands the pages have just asked for, as when the pages ran them at once.
        SendVendorModeOff();
    }
    if (done) done(supported);
}

void CMainDialog::RemovePages() {
    AppState& state = State();
    state.pagesRemoving = 1;
    // Information first, then the feature pages in sheet order, as they were added.
    for (PropertyPage* page : m_pages) m_sheet->RemovePage(page);
    m_pages.clear();
    state.pagesRemoving = 0;
}

void CMainDialog::OnDriveListChanged(int index) {
    AppState& state = State();
    if (index < 0 || index == state.selectedDriveIndex) return;
    // The probe of the chosen drive selects it in the window's table.
    state.selectedDriveIndex = static_cast<uint8_t>(index);
    if (state.sheetPending) {
        ShowDriveSheet();
        return;
    }
    if (!m_pages.empty()) RemovePages();
    ProbeDrive();
}

void CMainDialog::OnTimer() {
    AppState& state = State();
    const bool idle = state.scanIdle.load() != 0;
    m_driveList->setEnabled(idle);
    PropertyPage* page = m_sheet->ActivePage();
    // A page whose sequence runs keeps its controls as the sequence has them: a write cannot be
    // started twice.
    if (page == nullptr || !page->IsInitialised() || page->SequenceRunning()) return;
    switch (page->DialogId()) {
        case kInfoDialog:
            EnableControl(page, 1015, idle);
            break;
        case kBookTypeDialog:
            if (!idle) {
                state.bookTypeReenabled = false;
                for (int id : {1016, 1029, 1017, 1018, 1019, 1021}) EnableControl(page, id, false);
            } else if (!state.bookTypeReenabled) {
                // The set buttons stay as the page left them.
                state.bookTypeReenabled = true;
                EnableControl(page, 1016, true);
                EnableControl(page, 1019, true);
            }
            break;
        case kWopcDialog:
            EnableControl(page, 1030, idle);
            EnableControl(page, 1031, idle);
            break;
        case kTestWriteDialog:
            EnableControl(page, 1010, idle);
            EnableControl(page, 1015, idle);
            break;
        default:
            break;
    }
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
    CAboutDialog dialog(this);
    RunModal(dialog);
}

void CMainDialog::OpenHelpFile() {
    OpenHelpFileFor(QCoreApplication::applicationDirPath());
}

void CMainDialog::OpenHelpFileFor(const QString& programDirectory) {
    // The guide is shown in the program's own window, so neither a CHM viewer nor a browser is needed.
    const QString guide = FindGuideDirectory(programDirectory);
    if (guide.isEmpty()) {
        Inform(this, QString::fromLatin1(kMsgHelpMissing));
        return;
    }
    if (m_help == nullptr) m_help = new HelpWindow(guide, this);
    m_help->show();
    m_help->raise();
    m_help->activateWindow();
}

void CMainDialog::SetSaveHandler(SaveHandler handler) {
    std::lock_guard lock(g_saveMutex);
    g_saveHandler = std::move(handler);
}

void CMainDialog::OnSave() {
    SaveHandler handler;
    {
        std::lock_guard lock(g_saveMutex);
        handler = g_saveHandler;
    }
    if (handler) {
        handler(*this);
    } else {
        Inform(this, QStringLiteral("Saving pictures is not available in this build."));
    }
}

void CMainDialog::done(int result) {
    if (!m_closing) {
        m_closing = true;
        m_timer.stop();
        // A probe still at the drive ends after its command; the window does not wait for it.
        m_sequence->Stop();
        SendVendorModeOff();
    }
    QDialog::done(result);
}

}  // namespace dravix
