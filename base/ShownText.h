#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Text that comes from outside (file names as typed, a drive's strings) as the terminal and a
// page show it: valid UTF-8 stays UTF-8; what is not valid UTF-8 is escaped the same way
// everywhere, so that a name can always be told and typed again.
namespace dravix {

// The length of the valid UTF-8 sequence at the start of `text`; 0 when it starts with a byte
// that is not one.
size_t Utf8SequenceLength(std::string_view text);
bool ValidUtf8(std::string_view text);

// For the terminal: UTF-8 characters as they are; invalid bytes, control characters (C0, DEL and
// C1) as \xNN, a backslash as \\. With keepNewlines a line break stays one (messages of several
// lines).
std::string TerminalText(std::string_view text, bool keepNewlines = false);

// For an HTML page: as on the terminal (invalid bytes as \xNN, never raw), then &, <, > and "
// as entities.
std::string HtmlText(std::string_view text);

}  // namespace dravix
