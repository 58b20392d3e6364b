#include "app/ResultsMenu.h"

#include <QAction>
#include <QMenu>

#include "scan/Autosave.h"
#include "scan/ResultsWindow.h"
#include "ui/Services.h"

namespace dravix {

void AddResultsMenuItems(QMenu& file, QWidget& window, const AppServices& services) {
    QAction* open = file.addAction(QStringLiteral("&Open Scan Results..."));
    open->setObjectName(QStringLiteral("openScanResults"));
    QObject::connect(open, &QAction::triggered, &window,
                     [&window, &services] { CResultsWindow::AskAndOpen(services, &window); });
    QAction* settings = file.addAction(QStringLiteral("Se&ttings..."));
    settings->setObjectName(QStringLiteral("settings"));
    QObject::connect(settings, &QAction::triggered, &window, [&window, &services] {
        CSettingsDialog dialog(services, &window);
        services.RunModal(dialog);
    });
}

}  // namespace dravix
