#include "ui/AppState.h"

namespace dravix {

AppState& State() {
    static AppState state;
    return state;
}

void ResetState() {
    AppState& s = State();
    s.selectedDriveIndex = 0;
    s.sheetCreated = false;
    s.sheetPending = false;
    s.pagesRemoving = 0;
    s.featureFlags = 0;
    s.bookTypeReenabled = false;
    s.scanIdle = 1;
}

}  // namespace dravix
