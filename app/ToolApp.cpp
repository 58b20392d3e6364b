#include "app/ToolApp.h"

#include "app/MainDialog.h"
#include "app/Prompter.h"

namespace dravix {

CToolApp::CToolApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("dravix"));
    setQuitOnLastWindowClosed(false);
}

int CToolApp::InitInstance() {
    CMainDialog window;
    if (!window.OnInitDialog()) return 0;
    RunModal(window);
    return 0;
}

}  // namespace dravix
