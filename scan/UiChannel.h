#pragma once

#include <QObject>
#include <functional>
#include <mutex>

namespace dravix {

// How a worker that may outlive its window hands updates to it: each update is queued to the
// window's thread while the window exists, and dropped once the window has closed the channel.
// The lock makes "the window still exists" and the queuing one step, so a window being destroyed
// on its thread is never posted to.
class UiChannel final {
  public:
    explicit UiChannel(QObject* receiver) : m_receiver(receiver) {}
    UiChannel(const UiChannel&) = delete;
    UiChannel& operator=(const UiChannel&) = delete;

    // From any thread: runs `update` later on the receiver's thread, unless the channel is closed
    // by then.
    void Post(std::function<void()> update);
    // From the receiver's thread, before the receiver goes away.
    void Close();

  private:
    std::mutex m_mutex;
    QObject* m_receiver;
};

}  // namespace dravix
