#include "app/MainDialog.h"

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
#include "app/AppState.h"
#include "app/DialogUnits.h"
#include "app/HelpWindow.h"
#include "app/Prompter.h"
#include "app/PropertyPage.h"
#include "app/UnsupportedDialog.h"
#include "drive/Support.h"
#include "res/Icons.h"
#include "res/Strings.h"

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

CMainDialog::CMainDialog(PageFactory pages, QWidget* parent)
    : QDialog(parent), m_pageFactory(std::move(pages)) {
    setWindowTitle(QStringLiteral("Dravix Ver.2.0"));
    setFont(DialogFont());
    setObjectName(QStringLiteral("dialog102"));
    BuildMenu();
    BuildLayout();
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
    if (!m_closing) m_drives.SetVendorMode(false);
    // The pages go quietly, as on a drive change: none of them talks to the drive on its way out.
    RemovePages();
}

void CMainDialog::BuildMenu() {
    m_menuBar = new QMenuBar(this);
    QMenu* file = m_menuBar->addMenu(QStringLiteral("File(&F)"));
    QAction* save = file->addAction(QStringLiteral("&Save      Ctrl+S"));
    save->setObjectName(QStringLiteral("id32773"));
    connect(save, &QAction::triggered, this, &CMainDialog::OnSave);
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

bool CMainDialog::OnInitDialog() {
    Ask(this, QString::fromLatin1(kStartupCaption), QString::fromLatin1(kStartupWarning),
        PromptIcon::Exclamation, PromptButtons::Ok);
    if (!m_drives.InitTransport()) {
        Inform(this, QString::fromLatin1(kMsgInitialFail));
        m_closing = true;
        QDialog::done(QDialog::Rejected);
        return false;
    }
    FillDriveList();
    ShowDriveSheet();
    return true;
}

void CMainDialog::FillDriveList() {
    const int count = m_drives.EnumerateDrives();
    if (count == 0) {
        QString text = QString::fromLatin1(kMsgNoDeviceFound);
        const std::string hint = PermissionHint(m_drives.RefusedNodes());
        if (!hint.empty()) text += QStringLiteral("\n\n") + QString::fromStdString(hint);
        Inform(this, text);
        return;
    }
    m_driveList->clear();
    for (int i = 0; i < count; ++i) {
        m_drives.SelectDrive(static_cast<uint8_t>(i));
        char label[100] = {};
        m_drives.GetDriveLabel(label, sizeof label);
        m_driveList->addItem(QString::fromLatin1(label));
    }
    m_driveList->setCurrentIndex(0);
    State().selectedDriveIndex = 0;
    m_drives.SelectDrive(0);
}

void CMainDialog::ShowDriveSheet() {
    AppState& state = State();
    if (!ProbeDrive()) {
        state.sheetPending = true;
        return;
    }
    state.sheetPending = false;
    if (state.sheetCreated) return;
    LayoutSheet();
    m_sheet->show();
    m_sheet->Create();
    state.sheetCreated = true;
}

void CMainDialog::AddPage(uint8_t featureCode, bool makeActive) {
    PropertyPage* page = m_pageFactory ? m_pageFactory(featureCode) : nullptr;
    if (page == nullptr) return;  // a feature whose page this program lacks adds nothing
    m_pages.push_back(page);
    m_sheet->AddPage(page);
    if (makeActive) m_sheet->SetActivePage(page);
}

bool CMainDialog::ProbeDrive() {
    AppState& state = State();
    state.featureFlags = 0;
    state.sheetPending = false;
    m_timer.stop();

    const SupportResult result = CheckDriveSupport(m_drives);
    if (result.outcome == SupportOutcome::VendorModeRefused) {
        CUnsupportedDialog dialog(this);
        RunModal(dialog);
        return false;
    }
    if (result.outcome != SupportOutcome::Supported) {
        Ask(this, QString::fromLatin1(kStartupCaption), QString::fromLatin1(kMsgFirmwareNotSupported),
            PromptIcon::Exclamation, PromptButtons::Ok);
        return false;
    }

    AddPage(0, true);
    for (uint8_t code : result.featureCodes) {
        if (FeaturePageTitle(code) != nullptr) state.SetFeature(code);
    }
    for (const PageSlot& slot : kPageSlots) {
        if (slot.featureCode != 0 && state.HasFeature(slot.featureCode)) AddPage(slot.featureCode, false);
    }
    m_timer.start();
    m_drives.SetVendorMode(false);
    return true;
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
    state.selectedDriveIndex = static_cast<uint8_t>(index);
    m_drives.SelectDrive(static_cast<uint8_t>(index));
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
    if (page == nullptr || !page->IsInitialised()) return;
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
        m_drives.SetVendorMode(false);
    }
    QDialog::done(result);
}

}  // namespace dravix
