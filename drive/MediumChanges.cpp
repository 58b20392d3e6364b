#include "drive/MediumChanges.h"

#include <map>
#include <mutex>

namespace dravix {

namespace {

std::mutex g_mutex;
std::map<DriveIdentity, uint64_t> g_changes;

}  // namespace

uint64_t MediumChangesOf(const DriveIdentity& drive) {
    std::lock_guard lock(g_mutex);
    const auto found = g_changes.find(drive);
    return found != g_changes.end() ? found->second : 0;
}

void CountMediumChange(const DriveIdentity& drive) {
    std::lock_guard lock(g_mutex);
    ++g_changes[drive];
}

}  // namespace dravix
