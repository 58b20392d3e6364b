#include <mutex>

#include "drive/Platform.h"

namespace dravix {

namespace {
std::mutex g_overrideMutex;
std::shared_ptr<Platform> g_override;
}  // namespace

void SetPlatformOverride(std::shared_ptr<Platform> platform) {
    std::lock_guard lock(g_overrideMutex);
    g_override = std::move(platform);
}

std::shared_ptr<Platform> CurrentPlatform() {
    {
        std::lock_guard lock(g_overrideMutex);
        if (g_override) return g_override;
    }
    return SystemPlatform();
}

}  // namespace dravix
