#pragma once

// The fields of Dravix's text files (scan and read-test results): header values that stay on one
// line, exact numbers, comma-separated rows. Writer and reader of every kind use these, so a value
// written by one is read back the same by the other.

#include <charconv>
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

}  // namespace dravix
