#pragma once

#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "base/Result.h"
#include "probix/ReadTest.h"

namespace dravix {

// The results file of a read test: like the scan's results file, `#` lines describe the run
// ("# key: value", some keys on several lines: tracks, failed and skipped ranges, differences,
// verdict lines), then one CSV table of the speed points. The user's guide documents it
// (docs/help/results-file.html).
//
// Read tests raised the results format to version 2; only read-test files carry it, so scan and
// Smart files stay readable by the releases that read version 1. Version 3 counts the reads the
// drive recovered, ends a run that a failure of the drive or its connection ended as "failed",
// and counts unread image sectors among the differing ones. Version 4 adds the disc's rotation to
// every point, the track path of a disc of two layers, and the benchmark's figures (burst rate,
// spin-down and spin-up, eject and load). Versions 2 and 3 are still read: their rotation is
// worked out from the position and the speed.

inline constexpr int kReadTestFormatVersion = 4;
inline constexpr const char* kReadTestResultsTitle = "# Dravix read test";
inline constexpr const char* kReadTestColumns = "lba,position_gb,speed_x,rpm";
// The table of versions 2 and 3.
inline constexpr const char* kReadTestColumnsVersion3 = "lba,position_gb,speed_x";

// A read test as it is kept: the run's result and what tells it apart from other runs.
struct ReadTestRecord {
    int formatVersion = kReadTestFormatVersion;  // of the file it was read from
    std::string driveLabel;
    std::string firmware;
    std::string discType;  // as the Information page names it: "DVD ROM", "CD R", "N/A"
    std::string date;      // UTC, "2026-12-08T11:00:00Z"
    std::string programVersion;
    std::string imageName;  // the image verified against; empty without a verify
    ReadTestResult result;
};

// "ok" (all read and, with a verify, a complete comparison that matches), "unreadable" (sectors
// failed or were skipped, or access-time reads failed), "differs" (all read, the image differs),
// "incomplete" (all read, nothing differs, but the comparison did not cover the range and the
// image both, or the image could not be read), "stopped", "disc_changed", "drive_gone", "failed"
// (the drive stopped answering, or the connection to it failed), "not_readable" (the command
// line's JSON names).
const char* ReadTestOutcomeName(const ReadTestResult& result);
// What the run came to on one line: the verdict lines joined, or why there is none.
std::string ReadTestOutcomeText(const ReadTestResult& result);

// The "transfer" line's value ("start 1.000 X, end ..., mode CLV"), which the write test's file
// shares; none for a damaged one (a mode unknown included).
std::string TransferSummaryText(const TransferSummary& t);
std::optional<TransferSummary> ParseTransferSummary(const std::string& text);
// Speeds and times as these files hold them: three decimals, read back to the same value.
std::string FixedField(double value);

void WriteReadTest(std::ostream& out, const ReadTestRecord& record);

struct ReadTestRead {
    std::optional<ReadTestRecord> record;
    // Empty when read; otherwise "FILE, line N: what is wrong" (or "FILE: ..." for the whole file).
    std::string error;
    // The file does not begin as a read test does: it may be another kind of results file.
    bool otherKind = false;
};
// `name` is the file's name for the messages. The stored counts, summary and verdict must be those
// of the stored ranges and speed points: a file whose verdict disagrees is damaged. Nothing partial
// is returned.
ReadTestRead ReadReadTest(std::istream& in, const std::string& name);

// Only a regular file is read; a FIFO or a device is refused at once.
ReadTestRead ReadReadTestFile(const std::string& path);

// The speed of a read test in ten equal parts of the disc (inner to outer), each the mean of its
// points; none for a part without points.
std::vector<std::optional<double>> SpeedZones(const ReadTestResult& result);

// Writes the whole file through base/SafeFile.h. Done, or why the file could not be written.
Result<void> SaveReadTestFile(const std::string& path, const ReadTestRecord& record);

// What a picture, the results window and the report say about a read test, one line each: drive
// and firmware; disc; test, speed and date; the summary; the verdict.
std::vector<std::string> ReadTestHeaderLines(const ReadTestRecord& record);
// A short name for a legend: "DVD ROM, transfer, 2026-12-08".
std::string ReadTestShortName(const ReadTestRecord& record);

}  // namespace dravix
