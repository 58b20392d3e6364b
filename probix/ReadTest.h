#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "base/Result.h"
#include "drive/ReadCommands.h"
#include "drive/Scsi.h"
#include "probix/DiscLayout.h"

namespace dravix {

class SharedDrive;

// The read test without any window: it reads a recorded disc back with standard commands and
// tells how it reads: the transfer rate against the position, the sectors that cannot be read, how
// the data compares with an image file, and how fast the drive seeks. The command line and the
// Read Test window both drive it. Works on any CD/DVD drive.

inline constexpr uint32_t kDefaultRequestSectors = 32;
// An error burst ends after this many unreadable sectors in a row, or this long without a
// sector read; the run then skips this many sectors ahead and records them as unread.
inline constexpr uint32_t kBurstSectorLimit = 64;
inline constexpr int64_t kBurstMicrosecondsLimit = 60'000'000;
inline constexpr uint32_t kBurstSkipSectors = 2048;  // 4 MiB
// Quick mode reads zones of 4 MiB spread evenly over the disc.
inline constexpr uint32_t kQuickZones = 100;
inline constexpr uint32_t kQuickZoneSectors = 2048;
// The chart gets about this many points.
inline constexpr uint32_t kTargetPoints = 1000;
// A verify lists this many ranges of differing sectors at most.
inline constexpr size_t kListedDifferences = 20;
// Access time: one-sector reads.
inline constexpr int kRandomSeeks = 100;
inline constexpr int kOneThirdSeeks = 50;
inline constexpr int kFullStrokeSeeks = 50;
// A drive that lets this many requests in a row time out is asked TEST UNIT READY: no answer to
// that either ends the run.
inline constexpr int kTimeoutsBeforeReadyCheck = 3;
// A drive that answers BUSY is asked again this often, this long apart, before the request fails.
inline constexpr int kBusyRetries = 5;
inline constexpr int64_t kBusyRetryMicroseconds = 200'000;

// A text that counts: its form for one and for any other count ("%llu" is the count).
struct CountTexts {
    const char* one;
    const char* many;
};

// Texts of the verdicts.
inline constexpr const char* kVerdictAllRead = "All sectors read.";
inline constexpr CountTexts kVerdictUnreadable{"%llu sector could not be read.",
                                               "%llu sectors could not be read."};
inline constexpr CountTexts kVerdictSkipped{"%llu sector was skipped.", "%llu sectors were skipped."};
inline constexpr const char* kVerdictImageMatches = "The disc matches the image.";
inline constexpr CountTexts kVerdictImageDiffers{"The disc differs from the image in %llu sector.",
                                                 "The disc differs from the image in %llu sectors."};
// After kVerdictImageDiffers (without its full stop) when some of the sectors were not read.
inline constexpr const char* kVerdictImageDiffersUnread = " (%llu of them unread).";
// A comparison that found no difference but did not cover the range and the image both: the
// range's sectors beyond the image, then the image's sectors outside the range.
inline constexpr const char* kVerdictBeyondImage =
    "%llu of %llu sectors compared: the image ends at LBA %llu; the rest had nothing to compare against.";
inline constexpr const char* kVerdictImagePartlyRead =
    "LBA %llu\u2013%llu match the image; the image's other %llu sectors were not read.";
inline constexpr const char* kVerdictImageNotRead = "None of the image's %llu sectors were read.";
inline constexpr const char* kVerdictImageUnreadable =
    "The image could not be read: the disc was not compared with it.";
inline constexpr CountTexts kVerdictDiscShorter{"The disc is %llu sector shorter than the image.",
                                                "The disc is %llu sectors shorter than the image."};
inline constexpr CountTexts kVerdictDiscLonger{"The disc is %llu sector longer than the image.",
                                               "The disc is %llu sectors longer than the image."};
inline constexpr CountTexts kSectorCount{"%llu sector", "%llu sectors"};
inline constexpr CountTexts kReadCount{"%llu read", "%llu reads"};
inline constexpr CountTexts kAccessReadsFailed{"%llu access-time read failed.",
                                               "%llu access-time reads failed."};
// Of the sectors read, those the drive read after retries of its own (RECOVERED ERROR).
inline constexpr CountTexts kReadAfterRetries{"%llu read after retries by the drive",
                                              "%llu read after retries by the drive"};
// Ends without verdict that tell where the run was ("%u": the LBA).
inline constexpr const char* kEndDriveNotAnswering =
    "The drive stopped answering; the test was ended at LBA %u.";
inline constexpr const char* kEndConnectionFailed = "The connection to the drive failed at LBA %u.";

// `texts` for `count`, in the form that goes with it.
std::string CountText(const CountTexts& texts, unsigned long long count);

// --- the image a disc is verified against ------------------------------------------------------

class VerifyImage {
  public:
    virtual ~VerifyImage() = default;
    // Sectors of 2048 bytes; a last partial sector counts, padded with zeros.
    virtual uint64_t SectorCount() const = 0;
    // Copies `count` sectors from `sector` (all inside the image) into `out`; false on a read error.
    virtual bool Read(uint64_t sector, uint32_t count, uint8_t* out) = 0;
};

// An image file (an ISO, or any file of a data track's bytes), or why it cannot be opened.
Result<std::unique_ptr<VerifyImage>> OpenImageFile(const std::string& path);

// --- settings --------------------------------------------------------------------------------

enum class ReadTestKind {
    Transfer,  // read the range, time each request: the speed curve (and the read errors)
    Errors,    // the same reading, for its errors and the verify
    Seek,      // access times only
    // All in one run: the quick zones' speed curve, the burst rate, the access times, spin-down
    // and spin-up and, when asked, eject and load.
    Benchmark,
};
const char* ReadTestKindName(ReadTestKind kind);  // "transfer", "errors", "seek", "benchmark"

struct ReadTestSettings {
    ReadTestKind kind = ReadTestKind::Transfer;
    ReadSpeed speed;  // Max by default
    bool quick = false;
    // A chosen range (clamped to the disc's data); none: every data track.
    std::optional<uint32_t> startLba;
    std::optional<uint32_t> endLba;
    // Sectors per request: 32 unless the drive's transfer limit is smaller.
    uint32_t requestSectors = kDefaultRequestSectors;
    // Compared with every sector read; its sector 0 is the first data track's first sector.
    VerifyImage* image = nullptr;
    // A benchmark also opens and closes the tray (the user agreed to it).
    bool loadEject = false;
};

// --- the result ------------------------------------------------------------------------------

struct SectorRange {
    uint32_t first = 0;
    uint32_t last = 0;
    uint64_t Count() const { return uint64_t{last} - first + 1; }
    friend bool operator==(const SectorRange&, const SectorRange&) = default;
};

// Unreadable sectors in a row that failed alike.
struct FailedRange {
    SectorRange range;
    uint8_t status = kCommandFailed;  // 1 (sense below) or 255 (time-out)
    Sense sense;
};

struct SpeedPoint {
    uint32_t lba = 0;  // the first sector the point covers
    double speedX = 0;
    double rpm = 0;  // the disc's rotation there (RotationRpm)
};
// Gigabytes (10^9 bytes) before an LBA, for the chart's position axis.
double PositionGigabytes(uint32_t lba);

enum class ReadMode { Clv, Cav, PartialCav, ZonedClv, Unknown };
const char* ReadModeName(ReadMode mode);  // "CLV", "CAV", "P-CAV", "Z-CLV", "unknown"
// Where a sector lies across the data area of `layout`'s disc: 0 at its inner edge, 1 at the outer
// edge of a full disc. Sectors lie at one density (as a CLV recorder writes them), so the radius
// grows with the square root of the sectors before it; layer 1 of a dual-layer disc runs back inwards.
double RadialFraction(const DiscLayout& layout, uint32_t lba);
// The read mode a curve over `layout`'s disc shows (points in position order, on one layer).
// Unknown when the points are too few or span too little of the radius to tell the modes apart: a
// short stretch of any mode can look flat, or rise by no more than the noise.
ReadMode RecogniseReadMode(std::span<const SpeedPoint> points, const DiscLayout& layout);

struct TransferSummary {
    double startX = 0;
    double endX = 0;
    double averageX = 0;
    double minimumX = 0;
    uint32_t minimumLba = 0;
    ReadMode mode = ReadMode::Unknown;
};

enum class LengthMatch { NotJudged, Same, DiscShorter, DiscLonger };

struct VerifySummary {
    uint64_t imageSectors = 0;
    uint64_t comparedSectors = 0;
    // Image sectors the disc does not give back as they are: compared and unequal, lacking (the
    // disc is shorter), and unread; the unread ones also in `uncomparedSectors`.
    uint64_t differingSectors = 0;
    // Image sectors on the disc that could not be read (failed or skipped): listed with the
    // failures.
    uint64_t uncomparedSectors = 0;
    // The first kListedDifferences ranges compared unequal or lacking (disc LBAs); the unread
    // ones are the failed and skipped ranges.
    std::vector<SectorRange> differences;
    LengthMatch length = LengthMatch::NotJudged;  // judged on a run over every sector
    uint64_t lengthDifference = 0;                // sectors
    bool imageReadFailed = false;                 // the image file could not be read: no verify
};

struct AccessSeries {
    int reads = 0;  // timed reads that succeeded
    double averageMs = 0;
    double worstMs = 0;
};

struct AccessSummary {
    AccessSeries random;
    AccessSeries oneThird;
    AccessSeries fullStroke;
    double averageMs = 0;
    double worstMs = 0;
    int failedReads = 0;
};

// The burst rate: the same small range read again and again from the drive's cache, the fastest
// of the repeated reads timed.
inline constexpr uint32_t kBurstRateSectors = 32;  // 64 KiB, within any drive's cache
inline constexpr int kBurstRateReads = 5;
// A load is over when the drive is ready with the disc recognised; it is given this long, and
// asked this often meanwhile.
inline constexpr int64_t kLoadWaitMicroseconds = 60'000'000;
inline constexpr int64_t kLoadPollMicroseconds = 100'000;

// Why a benchmark's figure has no value.
inline constexpr const char* kNotSupportedByDrive = "not supported by this drive";
inline constexpr const char* kEjectRefused =
    "The drive refused to open its tray: another program may be using the drive.";
inline constexpr const char* kNotMeasured = "not measured";  // the run ended before
inline constexpr const char* kNotStopped = "not measured: the disc could not be stopped";
inline constexpr const char* kTrayNotOpened = "not measured: the tray did not open";
inline constexpr const char* kNotReadyInTime = "the drive was not ready with the disc within 60 seconds";
// After the burst rate, with the top read speed in MB/s.
inline constexpr const char* kBurstRateNote =
    "The burst rate should exceed the drive's top read speed (%.1f MB/s).";

// Asked before a benchmark opens the tray.
inline constexpr const char* kLoadEjectQuestion =
    "The tray will open and close again. A tray that cannot close by itself (most laptop drives) must be "
    "pushed in. Continue?";

// One figure of a benchmark: its value in its unit, or why there is none.
struct BenchmarkFigure {
    std::optional<double> value;
    std::string note;  // empty with a value
    friend bool operator==(const BenchmarkFigure&, const BenchmarkFigure&) = default;
};

struct BenchmarkFigures {
    BenchmarkFigure burstMBps;  // MB/s of 10^6 bytes
    // The drive's top read speed on the disc in MB/s, which the burst rate should exceed: what
    // the drive states, else the fastest point of the curve; 0 when neither is known.
    double topReadMBps = 0;
    BenchmarkFigure spinDownSeconds;  // START STOP UNIT, Start clear, until it completes
    BenchmarkFigure spinUpSeconds;    // START STOP UNIT, Start set, until the first read completes
    bool loadEjectRun = false;        // asked for: the two figures below
    BenchmarkFigure ejectSeconds;     // until the tray is open
    BenchmarkFigure loadSeconds;      // until the drive is ready with the disc recognised
    friend bool operator==(const BenchmarkFigures&, const BenchmarkFigures&) = default;
};
// The burst rate's note with the top read speed ("The burst rate should exceed ..."); empty when
// the top read speed is not known.
std::string BurstRateNote(const BenchmarkFigures& figures);

enum class ReadTestEnd {
    Finished,     // a verdict
    Stopped,      // a stop request ended it: no verdict
    DiscChanged,  // the disc was changed or taken out: no verdict
    DriveGone,    // the drive is no longer there: no verdict
    NotReadable,  // nothing to read: see NotReadableReason
    // Requests timed out and TEST UNIT READY went unanswered too: no verdict, at `endLba`.
    DriveNotAnswering,
    // The adapter failed a request without a status of the drive's own: no verdict, at `endLba`.
    ConnectionFailed,
};
// "finished", "stopped", "disc-changed", "drive-gone", "not-readable", "drive-not-answering",
// "connection-failed".
const char* ReadTestEndName(ReadTestEnd end);

enum class NotReadableReason { None, NoDisc, Blank, NoDataTrack, Unreadable, DriveFailed, EmptyRange };
// "No disc in the drive.", "The disc is blank.", ...
const char* NotReadableText(NotReadableReason reason);
// Why a disc whose layout came out so cannot be read (DriveFailed for a layout that is ready).
NotReadableReason NotReadableReasonOf(LayoutOutcome outcome);

struct ReadTestResult {
    ReadTestEnd end = ReadTestEnd::NotReadable;
    NotReadableReason notReadable = NotReadableReason::None;
    ReadTestKind kind = ReadTestKind::Transfer;
    bool quick = false;
    DiscLayout layout;
    SpeedSetting speed;
    std::vector<SectorRange> audioTracks;  // left out of the read
    SectorRange range;                     // first and last sector the run covers
    uint32_t requestSectors = kDefaultRequestSectors;

    uint64_t plannedSectors = 0;
    uint64_t readSectors = 0;
    // Of the sectors read, those of reads the drive answered with RECOVERED ERROR.
    uint64_t recoveredSectors = 0;
    uint64_t failedSectors = 0;
    uint64_t skippedSectors = 0;
    std::vector<FailedRange> failures;  // in position order
    std::vector<SectorRange> skipped;

    std::vector<SpeedPoint> points;
    std::optional<TransferSummary> transfer;  // when at least one point was measured
    std::optional<VerifySummary> verify;
    std::optional<AccessSummary> access;
    std::optional<BenchmarkFigures> benchmark;

    // The command and sense that ended a run without verdict (disc change, drive gone).
    uint8_t endStatus = kCommandCompleted;
    Sense endSense;
    uint32_t endLba = 0;  // where a drive that stopped answering or a failed connection ended it
    double elapsedSeconds = 0;
};

// The disc LBA of an image's sector 0: the first sector of the first data track.
uint32_t ImageBaseLba(const DiscLayout& layout);

// A comparison is complete when every sector of the run was read and compared with the image and
// the image holds no sector beyond them: every planned sector compared, and every image sector.
bool VerifyComplete(const ReadTestResult& result);
// Whether the disc matches the image: true only for a finished, complete comparison without a
// difference; false when any image sector differs or could not be read; none otherwise (no
// verify, no verdict, or a comparison that is not complete).
std::optional<bool> VerifyMatches(const ReadTestResult& result);

// The verdict lines of a finished run, in order: the read ("All sectors read." or "N sectors
// could not be read.", then "N sectors were skipped."), then the verify ("The disc matches the
// image.", "The disc differs from the image in N sectors (M of them unread).", or what an
// incomplete comparison covered), then the lengths. Empty for a run that did not finish and for an
// access-time run.
std::vector<std::string> VerdictLines(const ReadTestResult& result);

// The sectors a run over `layout`'s disc covers: from its first to its last data sector, within the
// settings' chosen range; first > last when the two do not meet.
SectorRange ReadTestRange(const DiscLayout& layout, const ReadTestSettings& settings);
// What a run over `range` reads, in order: the data tracks' parts within it, or in quick mode
// kQuickZones zones of kQuickZoneSectors spread evenly over them.
std::vector<SectorRange> ReadStretches(const DiscLayout& layout, SectorRange range, bool quick);

// Where the speed curve's line breaks: nothing is read between two stretches, so no line may
// claim a speed there.
class CurveBreaks {
  public:
    explicit CurveBreaks(std::vector<SectorRange> stretches);
    explicit CurveBreaks(const ReadTestResult& result);
    // Whether the point at `lba` begins a new line: the first point, and each point in another
    // stretch than the one before. Points come in position order.
    bool StartsLine(uint32_t lba);

  private:
    std::vector<SectorRange> m_stretches;
    size_t m_current = SIZE_MAX;
};

// --- the run ---------------------------------------------------------------------------------

struct ReadTestProgress {
    uint64_t doneSectors = 0;  // read, failed or skipped
    uint64_t plannedSectors = 0;
    uint32_t lba = 0;  // where the run is
    // The run reads `lba` again on its own, a request over it having failed (a retry pass: slow
    // on a damaged disc, one request at a time); told before each such read and after it.
    bool retrying = false;
    uint64_t failedSectors = 0;
    uint64_t skippedSectors = 0;
    double lastSpeedX = 0;  // of the last point, 0 before the first
    int seeksDone = 0;      // access-time run
    int seeksPlanned = 0;
    // A benchmark's test that begins now ("Measuring the burst rate…"); null in every other call.
    const char* step = nullptr;
};

// The steps a benchmark tells as it begins each.
inline constexpr const char* kStepBurstRate = "Measuring the burst rate\u2026";
inline constexpr const char* kStepAccessTimes = "Measuring the access times\u2026";
inline constexpr const char* kStepSpinDown = "Spinning the disc down\u2026";
inline constexpr const char* kStepSpinUp = "Spinning the disc up\u2026";
inline constexpr const char* kStepEject = "Opening the tray\u2026";
inline constexpr const char* kStepLoad = "Closing the tray and waiting for the disc\u2026";

// What a run tells while it goes. All calls come from the thread that runs it.
class ReadTestObserver {
  public:
    virtual ~ReadTestObserver() = default;
    virtual void OnLayout(const DiscLayout& /*layout*/, const SpeedSetting& /*speed*/) {}
    virtual void OnProgress(const ReadTestProgress& /*progress*/) {}
    virtual void OnPoint(const SpeedPoint& /*point*/) {}
    virtual void OnFailure(const FailedRange& /*failure*/) {}
    virtual void OnEnd(const ReadTestResult& /*result*/) {}
};

class ReadTestCallbacks final : public ReadTestObserver {
  public:
    std::function<void(const DiscLayout&, const SpeedSetting&)> onLayout;
    std::function<void(const ReadTestProgress&)> onProgress;
    std::function<void(const SpeedPoint&)> onPoint;
    std::function<void(const FailedRange&)> onFailure;
    std::function<void(const ReadTestResult&)> onEnd;

    void OnLayout(const DiscLayout& layout, const SpeedSetting& speed) override {
        if (onLayout) onLayout(layout, speed);
    }
    void OnProgress(const ReadTestProgress& progress) override {
        if (onProgress) onProgress(progress);
    }
    void OnPoint(const SpeedPoint& point) override {
        if (onPoint) onPoint(point);
    }
    void OnFailure(const FailedRange& failure) override {
        if (onFailure) onFailure(failure);
    }
    void OnEnd(const ReadTestResult& result) override {
        if (onEnd) onEnd(result);
    }
};

// Microseconds of a steady clock; tests give the virtual drive's simulated one.
using MicrosecondClock = std::function<int64_t()>;
// A pause of the run (between BUSY retries) on the same clock.
using MicrosecondSleep = std::function<void(int64_t microseconds)>;

// Asked before every request once the drive is free and after it: true ends the run there
// without verdict.
using ReadTestStop = std::function<bool()>;

// The other side of a run that goes on another thread: a front end can end it at once, with what
// it measured, while the request at the drive has yet to return (at most its time-out). The run
// holds the handover's lock while it works and lets go of it while a command is at the drive.
class ReadTestHandover final {
  public:
    ReadTestHandover() = default;
    ReadTestHandover(const ReadTestHandover&) = delete;
    ReadTestHandover& operator=(const ReadTestHandover&) = delete;

    // From any thread: the run is to stop. Returns at once what it measured until now, ended as
    // stopped (the run's own result once it has ended); no observer call comes after it, and the
    // run's thread ends when the command at the drive returns. None when the run has not begun:
    // it then ends as it begins.
    std::optional<ReadTestResult> Stop();
    // Waits at most `wait` for the run to end; true when it has.
    bool WaitForEnd(std::chrono::milliseconds wait);

  private:
    friend class ReadTestRunAccess;
    std::mutex m_mutex;
    std::condition_variable m_ended;
    std::atomic<bool> m_stop{false};
    bool m_done = false;
    bool m_handedOver = false;
    std::function<ReadTestResult()> m_snapshot;  // while the run goes
    std::optional<ReadTestResult> m_result;      // handed over, or the run's own
};

// What a run uses besides the drive, its settings and its observer; every part may be left empty.
struct ReadTestHooks {
    ReadTestStop stopRequested;
    MicrosecondClock clock;  // a steady clock when empty
    MicrosecondSleep sleep;  // the thread sleeps when empty
    ReadTestHandover* handover = nullptr;
};

// Reads the layout, sets the speed and runs the test. Each request takes the drive's turn for
// itself only; every request has its time-out, and a drive that stops answering ends the run, so
// no run can hang.
ReadTestResult RunReadTest(SharedDrive& drive, const ReadTestSettings& settings, ReadTestObserver& observer,
                           const ReadTestHooks& hooks);
ReadTestResult RunReadTest(SharedDrive& drive, const ReadTestSettings& settings, ReadTestObserver& observer,
                           const ReadTestStop& stopRequested, const MicrosecondClock& clock = {});

}  // namespace dravix
