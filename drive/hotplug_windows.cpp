// No device events are watched on Windows: a rescan asked for by the user finds new drives.

#include <windows.h>

#include "drive/HotPlug.h"

namespace dravix {

std::unique_ptr<HotPlugMonitor> OpenHotPlugMonitor() {
    return nullptr;
}

SystemFacts ReadSystemFacts() {
    SystemFacts facts;
    facts.kernel = "Windows";
    return facts;
}

}  // namespace dravix
