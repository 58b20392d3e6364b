#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "probix/ScanEngine.h"
#include "probix/ScanStatistics.h"

namespace dravix {

// The results file: what a TE/FE run or a Smart report found, kept as text that a spreadsheet
// reads too. `#` lines describe the run ("# key: value"), then one CSV table: the samples of a
// run, or the speeds of a Smart report. The program and the command line write it with the
// functions here; the user's guide documents it (docs/help/results-file.html).
//
// Format version 1 added the version line, the outcome, the sample count and the statistics to
// the scan CSV of earlier releases; such files (no version line) are still read, as version 0.
// The reader is in ResultsFileReader.h.

inline constexpr int kResultsFormatVersion = 1;
inline constexpr const char* kScanResultsTitle = "# Dravix Probix TE/FE scan";
inline constexpr const char* kSmartResultsTitle = "# Dravix Smart Mode report";
inline constexpr const char* kSampleColumns = "lba,psn,te_raw,fe_raw,te_percent,fe_percent";
inline constexpr const char* kSmartColumns = "speed,kbps,speed_code,result";

// How a run or a report ended.
// DiscChanged: a Smart report whose disc was changed while it measured (a TE/FE run gives
// NoVerdict for that).
enum class RunOutcome { Ok, NotRecommended, Stopped, Failed, NoVerdict, DiscChanged };
// "ok", "not_recommended", "stopped", "failed", "no_verdict", "disc_changed" (the command line's
// JSON names).
const char* OutcomeName(RunOutcome outcome);
std::optional<RunOutcome> OutcomeOfName(const std::string& name);
RunOutcome OutcomeOf(const ScanResult& result);
// What the page shows at the end of the run: the verdict, "User abort!", the failure (its box
// text, and the status text on a second line when it differs).
std::string OutcomeText(const ScanResult& result);

// A speed's result by name: "ok", "not_recommended", "failed", and "not_measured" for a speed
// the run stopped before (the JSON gives null there).
const char* SpeedResultName(SpeedResult result);

// "normal", "full", "quick", "custom", "smart".
const char* SamplingModeName(SamplingMode mode);
std::optional<SamplingMode> SamplingModeOfName(const std::string& name);

struct SmartRow {
    uint8_t speedCode = 0;
    uint32_t kbps = 0;
    SpeedResult result = SpeedResult::Stopped;  // Stopped: the report ended before this speed

    bool operator==(const SmartRow&) const = default;
};

struct ScanResults {
    enum class Kind { Scan, Smart };
    Kind kind = Kind::Scan;
    int formatVersion = kResultsFormatVersion;  // of the file it was read from

    std::string driveLabel;
    std::string firmware;
    uint8_t discTypeCode = kScanDiscUnknown;
    std::string discType;  // as shown: "DVD+R", "N/A", …
    std::string manufacturerId;
    std::string mediaTypeId;
    std::string date;  // UTC, "2026-12-08T11:00:00Z"
    std::string programVersion;
    RunOutcome outcome = RunOutcome::Ok;
    std::string verdictText;  // one line

    // A TE/FE run.
    uint8_t speedCode = 0;
    uint32_t kbps = 0;
    SamplingMode mode = SamplingMode::Normal;
    ScanRange range;
    int32_t lastLba = kDefaultLastLba;
    uint16_t teReference = 0;
    uint16_t feReference = 0;
    int64_t elapsedSeconds = 0;
    std::vector<ScanSample> samples;
    ScanStatistics statistics;  // of `samples`; set by the reader and by FinishResults

    // A Smart report.
    std::string capacity;  // "4482.6 MB", "0", "N/A"
    // Whether the disc's identifiers were read before and after the report; not known for a file
    // of an earlier release (see SmartIdentifiersUnread).
    std::optional<bool> identifiersRead;
    std::vector<SmartRow> speeds;
};

// Sets the statistics (and the samples' indexes) from the samples.
void FinishResults(ScanResults& results);

// "2026-12-08T11:00:00Z" of now.
std::string UtcTimestamp();

void WriteResults(std::ostream& out, const ScanResults& results);
// The statistics of a run as the file keeps them, one "# statistics: " line each: the column
// names, the whole run, each zone. The reader takes a file's statistics only when they are these.
std::vector<std::string> StatisticsLines(const ScanStatistics& statistics);

// Writes the whole file beside `path` and then puts it in place (base/SafeFile.h), so that a
// failed write leaves no half file and an existing file as it was; a name that stands for a FIFO,
// a device or a folder is refused. Done, or why the file could not be written.
Result<void> SaveResultsFile(const std::string& path, const ScanResults& results);

// Writes a new file in `folder` named `stem` + ".csv"; an existing file is never replaced: the
// name then gets "-2", "-3", … The path written, or the message.
Result<std::string> SaveResultsFileNew(const std::string& folder, const std::string& stem,
                                       const ScanResults& results);

// What a picture, the results window and the report say about a result, one line each: drive and
// firmware; disc type, manufacturer and media id; speed, mode and date; the verdict; the maxima.
std::vector<std::string> ResultsHeaderLines(const ScanResults& results);
// A short name of a result for a legend: "ORIONDSC D08, 8X, 2026-12-08".
std::string ResultsShortName(const ScanResults& results);

// The autosave name of a result: the template's fields {date} (YYYY-MM-DD), {time} (HHMMSS),
// {drive}, {mid} (manufacturer and media id), {speed} ("8X"; for a Smart report the fastest speed
// it recommends, or "none"), {mode} ("smart" for a Smart report) and {verdict} (the result word,
// OutcomeName: "ok", "not_recommended", "stopped", …) filled in; every character that does not
// belong in a file name becomes "_". Other text stays as it is.
inline constexpr const char* kDefaultNameTemplate = "{date}_{time}_{mid}_{speed}_{mode}_{verdict}";
std::string ExpandNameTemplate(const std::string& nameTemplate, const ScanResults& results);

}  // namespace dravix
