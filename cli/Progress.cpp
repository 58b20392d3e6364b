#include "cli/Progress.h"

#include <cstdio>
#include <ostream>

namespace dravix::cli {

namespace {

std::string Duration(double seconds) {
    const long whole = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

Progress::Progress(std::ostream& err, bool shown, bool terminal)
    : m_err(err), m_shown(shown), m_terminal(terminal) {}

void Progress::Start(int total) {
    m_total = total;
    m_lastPercent = -1;
    m_started = std::chrono::steady_clock::now();
}

void Progress::Update(const std::string& what, int done) {
    if (!m_shown || m_total <= 0) return;
    const int percent = done * 100 / m_total;
    if (!m_terminal && percent == m_lastPercent) return;
    m_lastPercent = percent;
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
    const std::string left = done > 0 ? Duration(elapsed / done * (m_total - done)) : std::string("-:--");
    char counts[64];
    std::snprintf(counts, sizeof counts, "  sample %d/%d", done, m_total);
    const std::string line = what + counts + "  elapsed " + Duration(elapsed) + "  left " + left;
    if (m_terminal) {
        // Drawn over the last one; blanks wipe what a longer line left.
        m_err << '\r' << line << std::string(m_width > line.size() ? m_width - line.size() : 0, ' ')
              << std::flush;
        m_width = std::max(m_width, line.size());
    } else {
        m_err << line << '\n' << std::flush;
    }
}

void Progress::End() {
    if (m_shown && m_terminal && m_width > 0)
        m_err << '\r' << std::string(m_width, ' ') << '\r' << std::flush;
    m_width = 0;
}

}  // namespace dravix::cli
