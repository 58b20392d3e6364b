#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

namespace dravix::cli {

// How a measurement goes, on standard error (never on standard output, so that --json stays one
// object): what is being measured, samples done of the total, elapsed and remaining time. On a
// terminal it is one line drawn again in place; elsewhere (--progress into a file or a pipe) a
// line is written for every whole per cent.
class Progress final {
  public:
    Progress(std::ostream& err, bool shown, bool terminal);

    void Start(int total);
    // `what`: "8X  LBA 1234567", "12X (3 of 7)".
    void Update(const std::string& what, int done);
    // Clears the terminal's line.
    void End();

  private:
    std::ostream& m_err;
    bool m_shown;
    bool m_terminal;
    int m_total = 0;
    int m_lastPercent = -1;
    size_t m_width = 0;
    std::chrono::steady_clock::time_point m_started;
};

}  // namespace dravix::cli
