#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/ShownText.h"
#include "cli/Schema.h"

// Text that comes from outside (file names as typed, a drive's strings) in the JSON output; the
// terminal's and a page's forms are base/ShownText.h's.
namespace dravix::cli {

// A file name into a JSON object: `key` holds the name (each invalid byte as U+FFFD) and, only
// when the name is not valid UTF-8, `key`_hex its bytes in hex, so that a script can open the
// file again.
void PutName(schema::Json& object, const std::string& key, const std::string& name);
// The same for a list of names: `key`_hex, when present, holds one entry per name (null for the
// names that are valid UTF-8).
void PutNames(schema::Json& object, const std::string& key, const std::vector<std::string>& names);

}  // namespace dravix::cli
