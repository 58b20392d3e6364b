#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "cli/Schema.h"

// Text that comes from outside (file names as typed, a drive's strings) as each output shows it:
// valid UTF-8 stays UTF-8 everywhere; what is not valid UTF-8 is escaped the same way in every
// output, so that a name can always be told and typed again.
namespace dravix::cli {

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

// A file name into a JSON object: `key` holds the name (each invalid byte as U+FFFD) and, only
// when the name is not valid UTF-8, `key`_hex its bytes in hex, so that a script can open the
// file again.
void PutName(schema::Json& object, const std::string& key, const std::string& name);
// The same for a list of names: `key`_hex, when present, holds one entry per name (null for the
// names that are valid UTF-8).
void PutNames(schema::Json& object, const std::string& key, const std::vector<std::string>& names);

}  // namespace dravix::cli
