#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/Terminal.h"

namespace dravix::cli {

namespace {

std::atomic<bool> g_interrupted{false};
std::atomic<bool> g_outputBroken{false};
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[std::size(kStopSignals)]{};

extern "C" void OnStopSignal(int) {
    g_interrupted.store(true);
    // The second of any of them meets the system's own handling and ends the program.
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    for (const int signal : kStopSignals) sigaction(signal, &fallback, nullptr);
}

}  // namespace

void PrepareProcess() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

InterruptScope::InterruptScope() {
    g_interrupted = false;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
    // No restart: a read from the terminal (a question) ends instead of waiting on.
    action.sa_flags = 0;
    for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &action, &g_previous[i]);
}

InterruptScope::~InterruptScope() {
    g_interrupted = false;
    for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &g_previous[i], nullptr);
}

bool Interrupted() {
    return g_interrupted.load() || StandardOutputBroken();
}

bool StandardOutputBroken() {
    if (g_outputBroken.load()) return true;
    // The write end of a pipe or socket whose reader has gone reports an error: the next write
    // would fail with EPIPE, so the command need not measure on until it writes.
    pollfd output{STDOUT_FILENO, POLLOUT, 0};
    if (poll(&output, 1, 0) == 1 && (output.revents & POLLERR) != 0) g_outputBroken = true;
    return g_outputBroken.load();
}

bool StandardErrorIsTerminal() {
    return isatty(STDERR_FILENO) != 0;
}

bool StandardInputIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

int StandardErrorColumns() {
    winsize size{};
    if (ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    if (const char* columns = std::getenv("COLUMNS")) {
        const int value = std::atoi(columns);
        if (value > 0) return value;
    }
    return 80;
}

namespace platform {

int WriteStandardOutput(const char* text, size_t length) {
    while (length > 0) {
        const ssize_t written = write(STDOUT_FILENO, text, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return written < 0 ? errno : EIO;
        text += written;
        length -= static_cast<size_t>(written);
    }
    return 0;
}

}  // namespace platform

}  // namespace dravix::cli
