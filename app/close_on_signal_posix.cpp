#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

#include "app/CloseOnSignal.h"

namespace dravix {

namespace {

constexpr int kCloseSignals[] = {SIGTERM, SIGHUP};
int g_pipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    const char byte = 1;
    // A full pipe already holds a request: nothing is lost.
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[1], &byte, 1);
    errno = saved;
}

}  // namespace

CloseOnSignal::CloseOnSignal(std::function<void()> close, QObject* parent)
    : QObject(parent), m_close(std::move(close)) {
    if (g_pipe[0] < 0 && ::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &CloseOnSignal::Take);
    m_notifier = notifier;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int number : kCloseSignals) sigaction(number, &action, nullptr);
}

// The handler stays: a signal while the program waits for its workers' last commands (and vendor
// mode off) only fills the pipe, unless a first one was taken already.
CloseOnSignal::~CloseOnSignal() = default;

void CloseOnSignal::Take() {
    char bytes[16];
    while (::read(g_pipe[0], bytes, sizeof bytes) > 0) {
    }
    // The program is closing: a second signal is not asked twice.
    for (const int number : kCloseSignals) std::signal(number, SIG_DFL);
    if (m_close) m_close();
}

}  // namespace dravix
