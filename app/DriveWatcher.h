#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace dravix {

class HotPlugMonitor;

// What the drive list shows of the virtual drive's state file: for each drive its kind, its target,
// its INQUIRY identity and the faults that touch INQUIRY. The library rewrites the file for every
// change a drive keeps (vendor mode, a reported unit attention, a disc), which lists the same
// drives; a text that is no state file is returned as it is, so any change of it is seen.
QByteArray VirtualDriveList(const QByteArray& stateText);

// How the main window learns that drives came or went while the program runs: the system's
// device events (gathered over a short settle time, so that the events of one drive make one
// rescan) and the virtual drive's state file, which its tool rewrites whenever its drives change.
// A rescan asked for while the drives are busy is tried again until they are free.
class DriveWatcher final : public QObject {
    Q_OBJECT
  public:
    // How often a rescan that had to wait is tried again.
    static constexpr int kRetryMs = 100;

    // `busy`: a rescan must wait (a scan or a command sequence runs). `rescan` lists the drives.
    DriveWatcher(QObject& window, std::function<bool()> busy, std::function<void()> rescan);
    ~DriveWatcher() override;
    Q_DISABLE_COPY_MOVE(DriveWatcher)

    // Starts watching the system's device events and the virtual drive's state file.
    void Start();
    // A rescan is wanted: now when the drives are free, else once they are.
    void Request();
    // Watches and retries no more (the window closes).
    void Stop();

  private:
    void TryRescan();

    std::function<bool()> m_busy;
    std::function<void()> m_rescan;
    bool m_wanted = false;
    bool m_stopped = false;
    QTimer m_retry;         // waits for scans and sequences to end
    QTimer m_settle;        // gathers the events of one plug-in into one rescan
    QTimer m_virtualWatch;  // the virtual drive's state file
    QString m_virtualStamp;
    QByteArray m_virtualDrives;
    std::unique_ptr<HotPlugMonitor> m_hotPlug;
    QSocketNotifier* m_hotPlugNotifier = nullptr;
};

}  // namespace dravix
