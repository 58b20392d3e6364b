#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "probix/ReadTestFile.h"
#include "probix/ResultsFile.h"
#include "probix/WriteTestFile.h"

// The report of results: one HTML page, readable offline in any browser, holding each result
// given: the drive and disc, the labelled chart picture (embedded), the statistics per zone, a
// Smart report's table, and a read test's summary with its unreadable and differing ranges. The
// command line's `report` and the windows' "Make Report…" write this same page.
namespace dravix {

// One result of a report and the file it is in.
struct ReportResult {
    std::string path;  // the results file (its name heads the section); empty for a run not saved
    std::optional<ScanResults> scan;           // a scan's or Smart report's results,
    std::optional<ReadTestRecord> readTest;    // or a read test,
    std::optional<WriteTestRecord> writeTest = std::nullopt;  // or a write test
};

// Reads results files of any kind (write tests, read tests, scans, Smart reports), in order. The first that
// cannot be read fails the whole, with its reader's message.
Result<std::vector<ReportResult>> ReadReportResults(const std::vector<std::string>& paths);

// The chart pictures the page embeds, as PNG data URIs (picture/ makes them); a function left
// empty, or an empty URI, leaves the picture out.
struct ReportPictures {
    std::function<std::string(const ScanResults&)> scan;
    std::function<std::string(const ReadTestRecord&)> readTest;
    std::function<std::string(const WriteTestRecord&)> writeTest;
};

// The page, which says it was made at `madeAt` (UtcTimestamp's form).
std::string ResultsReportHtml(const std::vector<ReportResult>& results, const ReportPictures& pictures,
                              const std::string& madeAt);

}  // namespace dravix
