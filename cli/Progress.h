#pragma once

#include <chrono>
#include <iosfwd>
#include <string>

namespace dravix::cli {

// How a measurement goes, on standard error (never on standard output, so that --json stays one
// object): what is being measured, samples done of the total, elapsed and remaining time. On a
// terminal it is one line drawn again in place; elsewhere (--progress into a file or a pipe) a
// line is written for every whole per cent. On a terminal the line is cut to its width, so that
// it never wraps into a pile of lines.
class Progress final {
  public:
    // `columns`: the terminal's width; 0 asks the terminal each time (it may be resized).
    Progress(std::ostream& err, bool shown, bool terminal, int columns = 0);

    // `unit`: what is counted ("sample", "sector", "seek").
    void Start(int total, const char* unit = "sample");
    // `what`: "8X  LBA 1234567", "12X (3 of 7)".
    void Update(const std::string& what, int done);
    // Clears the terminal's line.
    void End();

  private:
    std::ostream& m_err;
    bool m_shown;
    bool m_terminal;
    int m_columns;
    int m_total = 0;
    const char* m_unit = "sample";
    int m_lastPercent = -1;
    size_t m_width = 0;
    std::chrono::steady_clock::time_point m_started;
};

}  // namespace dravix::cli
