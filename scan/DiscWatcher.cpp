#include "scan/DiscWatcher.h"

#include <algorithm>
#include <vector>

#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/MediumChanges.h"
#include "turns/AppState.h"
#include "turns/SharedDrive.h"
#include "ui/DriveSequence.h"

namespace dravix {

namespace {

constexpr uint8_t kUnitAttention = 0x06;

// The watchers that views hold (UI thread).
std::vector<std::weak_ptr<DiscWatcher>>& Watchers() {
    static std::vector<std::weak_ptr<DiscWatcher>> watchers;
    return watchers;
}

}  // namespace

std::shared_ptr<DiscWatcher> DiscWatcher::Of(const std::shared_ptr<AppState>& state,
                                             const DriveIdentity& drive) {
    std::vector<std::weak_ptr<DiscWatcher>>& watchers = Watchers();
    std::erase_if(watchers, [](const std::weak_ptr<DiscWatcher>& w) { return w.expired(); });
    for (const std::weak_ptr<DiscWatcher>& held : watchers) {
        if (std::shared_ptr<DiscWatcher> watcher = held.lock();
            watcher->m_state == state && watcher->Drive() == drive)
            return watcher;
    }
    std::shared_ptr<DiscWatcher> watcher(new DiscWatcher(state, drive));
    watchers.push_back(watcher);
    return watcher;
}

DiscWatcher::DiscWatcher(std::shared_ptr<AppState> state, DriveIdentity drive)
    : m_state(std::move(state)), m_drive(std::move(drive)) {
    m_shown.changes = MediumChangesOf(m_drive);
    m_timer.setInterval(kPollPeriodMs);
    connect(&m_timer, &QTimer::timeout, this, &DiscWatcher::OnTick);
}

DiscWatcher::~DiscWatcher() = default;

void DiscWatcher::NeedPolls(DriveSequence& sequence) {
    m_lent = &sequence;
    if (!m_timer.isActive()) m_timer.start();
}

void DiscWatcher::PolledByView(bool polling) {
    m_viewPollers = std::max(0, m_viewPollers + (polling ? 1 : -1));
}

void DiscWatcher::Polled(bool ready) {
    m_ready = ready;
    Check();
}

void DiscWatcher::OnTick() {
    DriveSequence* const sequence = m_lent.data();
    if (sequence == nullptr) {
        m_timer.stop();  // no view needs the watcher's own poll any more
        return;
    }
    // A view's own commands (its poll, a run) report the drive's changes while they go.
    const bool polling = m_pollSequence != nullptr && m_pollSequence->RunGoing(m_poll);
    if (polling || m_viewPollers > 0 || m_state->scanIdle.load() == 0) {
        Check();
        return;
    }
    m_pollSequence = sequence;
    m_poll = sequence->Run(
        [state = m_state, identity = m_drive](SharedDrive& drive, const WorkerContext& context) {
            return drive.LockedUnlessStopped([&context] { return context.StopRequested(); },
                                             [&state, &identity](DriveTable& table) -> uint8_t {
                                                 if (!state->SelectListedDrive(table, identity))
                                                     return kCommandFailed;
                                                 // A reported change is counted; the drive is asked again for
                                                 // its state.
                                                 const uint8_t first = TestUnitReady(table);
                                                 return first == kCommandFailed &&
                                                                table.SenseKey() == kUnitAttention
                                                            ? TestUnitReady(table)
                                                            : first;
                                             });
        },
        // A poll stopped with the view's sequence tells nothing; the next tick polls again.
        [watcher = QPointer<DiscWatcher>(this)](const std::optional<uint8_t>& status) {
            if (watcher == nullptr) return;
            if (status) watcher->m_ready = *status == kCommandCompleted;
            watcher->Check();
        });
}

void DiscWatcher::Check() {
    const Disc now{MediumChangesOf(m_drive), m_ready};
    if (now == m_shown) return;
    m_shown = now;
    emit Changed();
}

}  // namespace dravix
