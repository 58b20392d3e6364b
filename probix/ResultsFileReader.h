#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "probix/ResultsFile.h"

namespace dravix {

// Reads a results file (ResultsFile.h) back: every line is checked, the per-cent values against
// the raw values and references, the statistics against the samples.

struct ResultsRead {
    std::optional<ScanResults> results;
    // Empty when read; otherwise "FILE, line N: what is wrong" (or "FILE: …" for the file as a whole).
    std::string error;
};
// `name` is the file's name for the messages. Nothing partial is returned: a file with a fault
// anywhere gives only the message.
ResultsRead ReadResults(std::istream& in, const std::string& name);
// Only a regular file is read; a FIFO or a device is refused at once.
ResultsRead ReadResultsFile(const std::string& path);

}  // namespace dravix
