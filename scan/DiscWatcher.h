#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <optional>

#include "drive/DriveNodes.h"

namespace dravix {

struct AppState;
class DriveSequence;

// The one watch on a drive's disc, shared by every view that shows the drive's disc (the Probix
// page, the Read Test window). A drive reports a medium change once, to the first command after
// it: a second poll of a view's own would take that report from the other view. So no view polls
// on its own. The Probix page's disc poll is the drive's poll while that page polls; otherwise the
// watcher polls once a second through the drive sequence a view lends it (a run of that sequence,
// with the view's own drive table). What any poll found, and every medium change any window's
// command took (MediumChangesOf), reaches every view through Changed. UI thread only.
class DiscWatcher final : public QObject {
    Q_OBJECT
  public:
    static constexpr int kPollPeriodMs = 1000;

    // What the views compare with what they show.
    struct Disc {
        uint64_t changes = 0;       // medium changes the drive has reported so far
        std::optional<bool> ready;  // the last poll found the drive ready (none before the first)
        bool operator==(const Disc&) const = default;
    };

    // The watcher of `drive` in the program whose state is `state`, made when a view first asks and
    // gone with the last view's reference.
    static std::shared_ptr<DiscWatcher> Of(const std::shared_ptr<AppState>& state,
                                           const DriveIdentity& drive);
    ~DiscWatcher() override;
    Q_DISABLE_COPY_MOVE(DiscWatcher)

    const DriveIdentity& Drive() const { return m_drive; }
    Disc Current() const { return m_shown; }

    // A view that cannot poll the drive itself lends its drive sequence (over a table that finds
    // the drive by its identity); the watcher polls through it once a second while the sequence
    // lives, unless a view polls the drive itself or a run holds a drive (ScanIdle 0).
    void NeedPolls(DriveSequence& sequence);
    // The view that polls the drive itself says so while it does (calls pair up), and hands over
    // what each of its polls found.
    void PolledByView(bool polling);
    void Polled(bool ready);

  signals:
    // The drive reported a medium change, or a poll found it ready or not ready, since the last
    // Changed.
    void Changed();

  private:
    DiscWatcher(std::shared_ptr<AppState> state, DriveIdentity drive);
    void OnTick();
    // Tells the views when the drive's medium changes or its readiness moved on.
    void Check();

    std::shared_ptr<AppState> m_state;
    DriveIdentity m_drive;
    QPointer<DriveSequence> m_lent;
    // The poll going, a run of that sequence (0: none).
    QPointer<DriveSequence> m_pollSequence;
    uint64_t m_poll = 0;
    int m_viewPollers = 0;
    std::optional<bool> m_ready;
    Disc m_shown;
    QTimer m_timer;
};

}  // namespace dravix
