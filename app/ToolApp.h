#pragma once

#include <QApplication>

namespace dravix {

// The application object: runs the main window modally and ends when it closes.
class CToolApp final : public QApplication {
    Q_OBJECT
  public:
    CToolApp(int& argc, char** argv);
    // Creates the main window, initialises it and runs it; the exit status of the program.
    int InitInstance();
};

}  // namespace dravix
