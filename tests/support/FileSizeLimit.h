#pragma once

#include <sys/resource.h>

#include <csignal>

namespace dravix::test {

// While it lives, writes to a file fail past the given size, as on a full disk (also for root,
// whom a read-only folder would not stop); the signal such a write raises is ignored meanwhile.
class FileSizeLimit final {
  public:
    explicit FileSizeLimit(rlim_t bytes) : m_previousHandler(std::signal(SIGXFSZ, SIG_IGN)) {
        ::getrlimit(RLIMIT_FSIZE, &m_saved);
        rlimit limited = m_saved;
        limited.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Set() const { return m_set; }

  private:
    void (*m_previousHandler)(int);
    rlimit m_saved{};
    bool m_set = false;
};

}  // namespace dravix::test
