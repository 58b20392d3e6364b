#include "app/ResultsMenu.h"

#include <QAction>
#include <QMenu>

#include "scan/Autosave.h"
#include "scan/ResultsWindow.h"
#include "ui/Prompter.h"

namespace dravix {

void AddResultsMenuItems(QMenu& file, QWidget& window) {
    QAction* open = file.addAction(QStringLiteral("&Open Scan Results..."));
    open->setObjectName(QStringLiteral("openScanResults"));
    QObject::connect(open, &QAction::triggered, &window, [&window] { CResultsWindow::AskAndOpen(&window); });
    QAction* settings = file.addAction(QStringLiteral("Se&ttings..."));
    settings->setObjectName(QStringLiteral("settings"));
    QObject::connect(settings, &QAction::triggered, &window, [&window] {
        CSettingsDialog dialog(&window);
        RunModal(dialog);
    });
}

}  // namespace dravix
