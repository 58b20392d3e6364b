#pragma once

// The fields of Dravix's text files (scan and read-test results): header values that stay on one
// line, exact numbers, comma-separated rows. Writer and reader of every kind use these, so a value
// written by one is read back the same by the other. The readers also share how they take the
// lines and how they name a fault.

#include <charconv>
#include <cstddef>
#include <functional>
#include <initializer_list>
#include <istream>
#include <map>
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

// One "# key: value" line of a file's description.
struct HeaderLine {
    int line = 0;
    std::string value;
};

// The description of a results file: the "# key: value" lines after its title, up to the first
// line that does not begin with '#' (the table's column line). Every key is given once, except
// the keys a kind of file lists as repeatable (one line per track, range, ...).
class FileHeader {
  public:
    // Called on each line as it is read, so that a reader can refuse a file early (a newer
    // format) before the lines it does not know give another reason.
    using LineCheck = std::function<std::optional<FileFault>(const std::string& key, const HeaderLine&)>;

    // Reads the description; `line` is left holding the line after it. A fault for a file that
    // ends or a line that is too long before the table, a line not of the "# key: value" form, or
    // a key given a second time.
    std::optional<FileFault> Read(FileLines& lines, std::string& line,
                                  std::initializer_list<std::string_view> repeatable,
                                  const LineCheck& check = {});

    bool Has(const std::string& key) const { return m_lines.count(key) != 0; }
    // The line of a key given once; nothing when the key is missing.
    std::optional<HeaderLine> One(const std::string& key) const;
    // The lines of `key` in the order of the file.
    std::vector<HeaderLine> All(const std::string& key) const;

  private:
    std::multimap<std::string, HeaderLine> m_lines;
};

// What the readers of results files share: the file's lines and its description, and a key's
// value taken from it, each with a fault naming the line when the key is missing or its value is
// damaged ("the description has no \"KEY\" line", "the \"KEY\" value is damaged").
class DescriptionReader {
  protected:
    DescriptionReader(std::istream& in, size_t maxLineLength) : m_lines(in, maxLineLength) {}

    // The one line of `key`.
    std::optional<FileFault> One(const char* key, HeaderLine& out) const;
    std::optional<FileFault> Text(const char* key, std::string& value) const;
    template <typename T>
    std::optional<FileFault> Number(const char* key, T& value) const {
        HeaderLine h;
        if (auto fault = One(key, h)) return fault;
        if (!ParseNumber(h.value, value)) return Damaged(h, key);
        return std::nullopt;
    }
    std::vector<HeaderLine> All(const char* key) const { return m_header.All(key); }
    static FileFault Damaged(const HeaderLine& h, const char* key);

    FileLines m_lines;
    FileHeader m_header;
};

}  // namespace dravix
