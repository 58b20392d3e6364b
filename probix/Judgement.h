#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>

#include "probix/ResultsFile.h"

namespace dravix {

// What a Smart report or a kept run amounts to, worked out in one place: the report window, the
// command line and the results file's reader all ask here, so that they can never disagree.

struct SmartVerdict {
    RunOutcome outcome = RunOutcome::NotRecommended;
    std::optional<size_t> recommended;  // the row of the fastest speed found fit
    std::string text;                   // one line: "Highest recommended speed: 8X", …
};

// The ranking, first that applies: the disc changed, a row not measured or a stop before the disc
// was checked again (stopped), a row failed
// or the identifiers unread (failed), a speed found fit (ok, the fastest one by kB/s), none fit
// (not recommended). A recommendation needs the whole report: a speed not measured, or not
// measured on a known disc, may be the higher one.
SmartVerdict JudgeSmartReport(std::span<const SmartRow> rows, const SmartDisc& disc);

// A Smart file keeps no flag for its identifiers: the report writes "N/A" for both when it could
// not read them.
bool SmartIdentifiersUnread(const ScanResults& results);

// A kept run's stored outcome and verdict against its own contents: for a TE/FE run, ok and
// not_recommended from the samples and the limits over every position of the range, stopped,
// failed and no_verdict against the sample count; for a Smart report, JudgeSmartReport of its
// rows. Empty when they agree; otherwise which line disagrees ("result" or "verdict") and how.
struct StoredVerdictFault {
    const char* key = "result";
    std::string what;
};
std::optional<StoredVerdictFault> CheckStoredVerdict(const ScanResults& results);

}  // namespace dravix
