#pragma once

// The fields of Dravix's text files (scan and read-test results): header values that stay on one
// line, exact numbers, comma-separated rows. Writer and reader of every kind use these, so a value
// written by one is read back the same by the other. The readers also share how they take the
// lines and how they name a fault.

#include <charconv>
#include <cstddef>
#include <istream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dravix {

// Printable ASCII as it is, a backslash doubled, anything else as \xNN.
std::string EscapeField(const std::string& text);

// The text EscapeField wrote; nothing when an escape is damaged.
std::optional<std::string> UnescapeField(const std::string& text);

// The whole of `text` as a number; false for an empty text, trailing characters or overflow.
template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

// The fields of a row, empty ones included; the views point into `line`.
std::vector<std::string_view> SplitCommas(std::string_view line);

// One fault of a file: the line it was found on (0: the file as a whole) and what is wrong.
struct FileFault {
    int line = 0;
    std::string what;
};

// What a reader tells of a fault: "NAME, line N: what", or "NAME: what" for the file as a whole.
std::string FaultText(const std::string& name, const FileFault& fault);

// The lines of a text file one at a time, for its reader: counted from 1, a Windows line end
// taken off. A line of `maxLength` characters or more is no line of these files: the reading
// ends there and TooLong() tells why.
class FileLines {
  public:
    FileLines(std::istream& in, size_t maxLength) : m_in(in), m_maxLength(maxLength) {}

    // False at the end of the file or at a line that is too long.
    bool Next(std::string& line);
    // The number of the line read last (0 before the first).
    int Number() const { return m_number; }
    bool TooLong() const { return m_tooLong; }

  private:
    std::istream& m_in;
    size_t m_maxLength;
    int m_number = 0;
    bool m_tooLong = false;
};

}  // namespace dravix
