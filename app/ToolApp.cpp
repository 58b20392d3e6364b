#include "app/ToolApp.h"

#include "app/MainDialog.h"
#include "ui/Prompter.h"
#include "ui/Workers.h"

namespace dravix {

CToolApp::CToolApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("dravix"));
    setQuitOnLastWindowClosed(false);
}

int CToolApp::InitInstance() {
    {
        CMainDialog window;
        window.OnInitDialog();
        if (!window.Closed()) RunModal(window);
    }
    // The window is gone; a worker may still have its one command at the drive, and vendor mode
    // off follows it. The program ends once they are back.
    JoinAllWorkers();
    return 0;
}

}  // namespace dravix
