#include <io.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "cli/Terminal.h"

namespace dravix::cli {

namespace {

std::atomic<bool> g_interrupted{false};

// Ctrl+C and Ctrl+Break; closing the console window is SIGBREAK's too.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGBREAK};
void (*g_previous[std::size(kStopSignals)])(int) = {SIG_DFL, SIG_DFL, SIG_DFL};

extern "C" void OnStopSignal(int) {
    g_interrupted.store(true);
    // The handler runs once: the second signal meets the default action.
    for (const int signal : kStopSignals) std::signal(signal, SIG_DFL);
}

}  // namespace

void PrepareProcess() {}

InterruptScope::InterruptScope() {
    g_interrupted = false;
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        g_previous[i] = std::signal(kStopSignals[i], OnStopSignal);
}

InterruptScope::~InterruptScope() {
    g_interrupted = false;
    for (size_t i = 0; i < std::size(kStopSignals); ++i)
        std::signal(kStopSignals[i], g_previous[i] == SIG_ERR ? SIG_DFL : g_previous[i]);
}

bool Interrupted() {
    return g_interrupted.load();
}

bool StandardOutputBroken() {
    return false;
}

bool StandardErrorIsTerminal() {
    return _isatty(2) != 0;
}

bool StandardInputIsTerminal() {
    return _isatty(0) != 0;
}

int StandardErrorColumns() {
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info))
        return info.srWindow.Right - info.srWindow.Left + 1;
    return 80;
}

namespace platform {

int WriteStandardOutput(const char* text, size_t length) {
    while (length > 0) {
        const int chunk = static_cast<int>(std::min<size_t>(length, 1 << 20));
        const int written = _write(1, text, static_cast<unsigned>(chunk));
        if (written <= 0) return written < 0 ? errno : EIO;
        text += written;
        length -= static_cast<size_t>(written);
    }
    return 0;
}

}  // namespace platform

}  // namespace dravix::cli
