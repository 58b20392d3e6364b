#pragma once

#include <QObject>
#include <functional>

class QDialog;

namespace dravix {

// SIGTERM and SIGHUP (what `timeout`, a session's end or a closed terminal send) close the program
// as File > Exit does, from its event loop: the handler only writes a byte into a pipe that the
// loop watches. A second signal, once the first has been taken, ends the program at once. Where
// the platform has no such signals nothing is watched.
class CloseOnSignal final : public QObject {
  public:
    explicit CloseOnSignal(std::function<void()> close, QObject* parent = nullptr);
    ~CloseOnSignal() override;
    Q_DISABLE_COPY_MOVE(CloseOnSignal)

  private:
    void Take();

    std::function<void()> m_close;
    QObject* m_notifier = nullptr;
};

// What File > Exit does, from wherever the program is: boxes and dialogs open above the window end
// first (as their Cancel or Exit would), then the window itself.
void CloseLikeFileExit(QDialog& window);

}  // namespace dravix
