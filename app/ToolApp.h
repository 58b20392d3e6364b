#pragma once

#include <QApplication>
#include <string>
#include <vector>

namespace dravix {

class AppServices;

// The program's own options, read from what Qt's standard options (-style, -platform, -reverse, …)
// left of the command line; Qt reads its own first.
struct CommandLine {
    bool useVirtual = false;   // --virtual
    bool helpWindow = false;   // --help-window: only the user's guide, without the main window
    bool showUsage = false;    // --help, -h
    bool showVersion = false;  // --version
    std::string unknown;       // the first argument that is none of these
};
CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The application object: runs the main window modally and ends when it closes.
class CToolApp final : public QApplication {
    Q_OBJECT
  public:
    CToolApp(int& argc, char** argv);
    // Creates the main window with `services`, initialises it and runs it; the exit status of
    // the program.
    int InitInstance(const AppServices& services);
    // Shows only the user's guide in its window until it is closed; 1 with the missing-guide
    // message on standard error when there is no guide.
    int RunHelpWindow(const AppServices& services);
};

}  // namespace dravix
