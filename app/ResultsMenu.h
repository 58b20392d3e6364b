#pragma once

class QMenu;
class QWidget;

namespace dravix {

class AppServices;

// The File menu's items for saved results: "Open Scan Results..." (a results window of its own,
// no drive needed) and "Settings..." (autosave). Object names "openScanResults", "settings".
void AddResultsMenuItems(QMenu& file, QWidget& window, const AppServices& services);

}  // namespace dravix
