#include "cli/Terminal.h"

#include "cli/Cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <stop_token>
#include <thread>

namespace dravix::cli {

ReadyWaitHooks InterruptibleWaitHooks() {
    // A signal handler may not request a stop itself: the sleep between two polls looks for a
    // stop in short steps and requests it, and the wait then ends before its next poll.
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

CheckedOutputBuffer::CheckedOutputBuffer() = default;

CheckedOutputBuffer::~CheckedOutputBuffer() {
    Flush();
}

bool CheckedOutputBuffer::Flush() {
    if (m_error == 0 && !m_pending.empty())
        m_error = platform::WriteStandardOutput(m_pending.data(), m_pending.size());
    m_pending.clear();
    return m_error == 0;
}

CheckedOutputBuffer::int_type CheckedOutputBuffer::overflow(int_type c) {
    if (m_error != 0) return traits_type::eof();
    if (!traits_type::eq_int_type(c, traits_type::eof())) m_pending.push_back(traits_type::to_char_type(c));
    if (m_pending.size() >= 8192 && !Flush()) return traits_type::eof();
    return traits_type::not_eof(c);
}

std::streamsize CheckedOutputBuffer::xsputn(const char* text, std::streamsize count) {
    if (m_error != 0) return 0;
    m_pending.append(text, static_cast<size_t>(count));
    if (m_pending.size() >= 8192 && !Flush()) return 0;
    return count;
}

int CheckedOutputBuffer::sync() {
    return Flush() ? 0 : -1;
}

int FinishStandardStreams(int status, CheckedOutputBuffer& output) {
    std::cout.flush();
    if (const int error = output.Error(); error != 0 || std::cout.bad()) {
        if (error == EPIPE || StandardOutputBroken()) return kExitFailed;
        std::cerr << cli_texts::kPrefix << "standard output: " << std::strerror(error != 0 ? error : EIO)
                  << std::endl;
        return kExitFailed;
    }
    std::cerr.flush();
    // Nothing is left to tell a failure on standard error to; the status says it.
    if (std::fflush(stderr) != 0 || std::ferror(stderr) || std::cerr.bad()) return kExitFailed;
    return status;
}

}  // namespace dravix::cli
