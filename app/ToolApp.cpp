#include "app/ToolApp.h"

#include <clocale>
#include <cstdio>

#include "app/CloseOnSignal.h"
#include "app/HelpWindow.h"
#include "app/MainDialog.h"
#include "ui/Services.h"
#include "ui/Workers.h"

namespace dravix {

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
    CommandLine line;
    for (const std::string& argument : arguments) {
        if (argument == "--virtual") {
            line.useVirtual = true;
        } else if (argument == "--help-window") {
            line.helpWindow = true;
        } else if (argument == "--help" || argument == "-h") {
            line.showUsage = true;
        } else if (argument == "--version") {
            line.showVersion = true;
        } else if (line.unknown.empty()) {
            line.unknown = argument;
        }
    }
    return line;
}

CToolApp::CToolApp(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("dravix"));
    // Matches the installed desktop entry, so a desktop shows the entry's name and icon for the window.
    setDesktopFileName(QStringLiteral("org.dravix.Dravix"));
    setQuitOnLastWindowClosed(false);
    // Qt has set the user's locale; printf-formatted numbers (the chart's and the results' figures)
    // keep the C locale's decimal point.
    std::setlocale(LC_NUMERIC, "C");
}

int CToolApp::InitInstance(const AppServices& services) {
    {
        CMainDialog window(services, DefaultPageFactory(services));
        // SIGTERM and SIGHUP close as File > Exit: a running scan stops between commands and the
        // drive gets vendor mode off.
        const CloseOnSignal closeOnSignal([&window] { CloseLikeFileExit(window); });
        window.OnInitDialog();
        if (!window.Closed()) services.RunModal(window);
    }
    // The window is gone; a worker may still have its one command at the drive, and vendor mode
    // off follows it. The program ends once they are back.
    JoinAllWorkers();
    return 0;
}

int CToolApp::RunHelpWindow(const AppServices& services) {
    const QString guide = FindGuideDirectory(applicationDirPath());
    if (guide.isEmpty()) {
        std::fprintf(stderr, "dravix: %s\n", kMsgHelpMissing);
        return 1;
    }
    HelpWindow window(services, guide);
    window.show();
    setQuitOnLastWindowClosed(true);
    return exec();
}

}  // namespace dravix
