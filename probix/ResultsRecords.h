#pragma once

// The results records of the measurements, built in one place for the window that shows a run and
// the command line that prints it: a scan's, a Smart report's and a read test's. What a front end
// adds is only what it alone knows (the drive it opened, the date it keeps).

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "probix/DiscReport.h"
#include "probix/ReadTestFile.h"
#include "probix/ResultsFile.h"
#include "probix/ScanEngine.h"
#include "probix/SpeedList.h"

namespace dravix {

// The drive a record was measured on.
struct RecordDrive {
    std::string label;
    std::string firmware;
};

// What a scan run gave: its result, the samples it reported and the references it reported
// before the samples (kept when the result has none, as for a run that failed later).
struct ScanRunRecord {
    ScanResult result;
    std::vector<ScanSample> samples;
    uint16_t teReference = 0;
    uint16_t feReference = 0;
};

// A scan's results record, statistics included. The identifiers are the disc's as read before
// the run ("N/A" when not read). A stopped run lasted as long as its last sample had: the time
// the page shows.
ScanResults ScanResultsOf(const RecordDrive& drive, const DiscIdentifiers& ids, const ScanSettings& settings,
                          uint32_t kbps, ScanRunRecord run, std::string date);

// A Smart report's results record; none when it measured no speed. `info` is what the report read
// of the disc before it measured; `kbps` go with the codes of `speeds`.
std::optional<ScanResults> SmartResultsOf(const RecordDrive& drive, uint8_t discTypeCode,
                                          const DiscInformation& info, const std::vector<uint8_t>& speedCodes,
                                          const std::vector<uint32_t>& kbps, const SmartReportRun& run,
                                          std::string date);

// A read test's record: the run's result with the drive, the image it was verified against
// (empty without a verify) and the disc's type as its profile names it.
ReadTestRecord ReadTestRecordOf(const RecordDrive& drive, std::string imageName, ReadTestResult result,
                                std::string date);

}  // namespace dravix
