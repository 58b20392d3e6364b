#include "cli/Terminal.h"

#include <atomic>
#include <csignal>
#include <memory>
#include <stop_token>
#include <thread>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace dravix::cli {

namespace {

std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void OnInterrupt(int) {
    // The system's own handling is back by now (reset on delivery): a second Ctrl+C ends the
    // program.
    g_interrupted.store(true);
}

#ifndef _WIN32
struct sigaction g_previous {};
#else
void (*g_previous)(int) = SIG_DFL;
#endif

}  // namespace

InterruptScope::InterruptScope() {
    g_interrupted = false;
#ifndef _WIN32
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // The handler runs once: the second Ctrl+C meets the default action and ends the program.
    // No restart: a read from the terminal (a question) ends instead of waiting on.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, &g_previous);
#else
    g_previous = std::signal(SIGINT, OnInterrupt);
#endif
}

InterruptScope::~InterruptScope() {
    g_interrupted = false;
#ifndef _WIN32
    sigaction(SIGINT, &g_previous, nullptr);
#else
    std::signal(SIGINT, g_previous == SIG_ERR ? SIG_DFL : g_previous);
#endif
}

bool Interrupted() {
    return g_interrupted.load();
}

ReadyWaitHooks InterruptibleWaitHooks() {
    // A signal handler may not request a stop itself: the sleep between two polls looks for
    // Ctrl+C in short steps and requests it, and the wait then ends before its next poll.
    auto source = std::make_shared<std::stop_source>();
    ReadyWaitHooks hooks;
    hooks.stop = source->get_token();
    hooks.sleep = [source](std::chrono::milliseconds interval, const std::stop_token&) {
        const auto end = std::chrono::steady_clock::now() + interval;
        for (;;) {
            if (Interrupted()) {
                source->request_stop();
                return;
            }
            const auto now = std::chrono::steady_clock::now();
            if (now >= end) return;
            std::this_thread::sleep_for(
                std::min<std::chrono::steady_clock::duration>(end - now, kInterruptLatency));
        }
    };
    return hooks;
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(2) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

}  // namespace dravix::cli
