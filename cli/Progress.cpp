#include "cli/Progress.h"

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "cli/Terminal.h"

namespace dravix::cli {

namespace {

std::string Duration(double seconds) {
    const long whole = seconds < 0 ? 0 : static_cast<long>(seconds + 0.5);
    char text[32];
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

Progress::Progress(std::ostream& err, bool shown, bool terminal, int columns)
    : m_err(err), m_shown(shown), m_terminal(terminal), m_columns(columns) {}

void Progress::Start(int total, const char* unit) {
    m_total = total;
    m_unit = unit;
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
    std::snprintf(counts, sizeof counts, "  %s %d/%d", m_unit, done, m_total);
    std::string line = what + counts + "  elapsed " + Duration(elapsed) + "  left " + left;
    if (m_terminal) {
        // The last column stays free: a line that fills it makes some terminals wrap.
        const int columns = m_columns > 0 ? m_columns : StandardErrorColumns();
        const size_t room = columns > 1 ? static_cast<size_t>(columns - 1) : 1;
        if (line.size() > room) line.resize(room);
        m_width = std::min(m_width, room);
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
