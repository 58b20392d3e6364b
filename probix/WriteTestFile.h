#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "probix/WriteTest.h"

namespace dravix {

// The results file of a write test, in the read test's conventions: `#` lines describe the run
// ("# key: value"; notes on several lines), then one CSV table of the points. Its format version
// is its own. The user's guide documents it (docs/help/results-file.html).

inline constexpr int kWriteTestFormatVersion = 1;
inline constexpr const char* kWriteTestResultsTitle = "# Dravix write test";
inline constexpr const char* kWriteTestColumns = "lba,position_gb,speed_x,buffer_pct,rpm";

// Why a write test is not laid over a read test or a scan, nor they over it.
inline constexpr const char* kWriteTestComparesOnly = "a write test compares only with another write test";

// "write-parameters-page", "test-write-switch", "none": as the file and the JSON name them.
const char* SimulationMethodName(SimulationMethod method);

// A write test as it is kept: the run's result and what tells it apart from other runs.
struct WriteTestRecord {
    int formatVersion = kWriteTestFormatVersion;  // of the file it was read from
    std::string driveLabel;
    std::string firmware;
    std::string discType;  // as the Information page names it: "DVD+R", "CD R"
    std::string date;      // UTC, "2026-12-08T11:00:00Z"
    std::string programVersion;
    WriteTestResult result;
};

// The record of a run: the drive it ran on, the disc's type as its profile names it.
WriteTestRecord WriteTestRecordOf(std::string driveLabel, std::string firmware, WriteTestResult result,
                                  std::string date);

// What the run came to on one line: the message it ended with, or how it ended.
std::string WriteTestOutcomeText(const WriteTestResult& result);

void WriteWriteTest(std::ostream& out, const WriteTestRecord& record);

struct WriteTestRead {
    std::optional<WriteTestRecord> record;
    // Empty when read; otherwise "FILE, line N: what is wrong" (or "FILE: ..." for the whole file).
    std::string error;
    // The file does not begin as a write test does: it may be another kind of results file.
    bool otherKind = false;
};
// `name` is the file's name for the messages. The stored counts and summary must be those of the
// stored points: a file whose figures disagree is damaged. Nothing partial is returned.
WriteTestRead ReadWriteTest(std::istream& in, const std::string& name);
// Only a regular file is read; a FIFO or a device is refused at once.
WriteTestRead ReadWriteTestFile(const std::string& path);

// The write speed in ten equal parts of the disc (inner to outer), as a read test's SpeedZones.
std::vector<std::optional<double>> SpeedZones(const WriteTestResult& result);

// Writes the whole file through base/SafeFile.h. Done, or why the file could not be written.
Result<void> SaveWriteTestFile(const std::string& path, const WriteTestRecord& record);

// What a picture and the report say about a write test, one line each: drive and firmware; disc;
// test, speed and date; the summary; the outcome.
std::vector<std::string> WriteTestHeaderLines(const WriteTestRecord& record);
// A short name for a legend: "DVD+R, write test, 2026-12-08".
std::string WriteTestShortName(const WriteTestRecord& record);

}  // namespace dravix
