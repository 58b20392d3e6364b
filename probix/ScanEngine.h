#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "drive/InfoCommands.h"
#include "drive/Scsi.h"
#include "drive/Timeouts.h"

namespace dravix {

class DriveTable;
class SharedDrive;

// The Probix TE/FE measurement without any window: where a run samples, the two vendor commands,
// the per-cent values against the limits, the run itself and the Smart mode's per-speed check.
// The scan page and the command line both drive it.

// Last LBA of a single-layer DVD+R; what the page assumes until the disc's speeds are read.
inline constexpr int32_t kDefaultLastLba = 2295103;

inline constexpr int32_t kCoarseStep = 0xC000;  // 49152 sectors
inline constexpr int32_t kFineStep = 0x4000;    // 16384 sectors
inline constexpr int32_t kQuickStartLba = 1878221;
inline constexpr int32_t kQuickEndLbaDualLayer = 2295603;
// A run stops this far before the end of its range.
inline constexpr int32_t kRangeEndMargin = 16384;
inline constexpr int32_t kMinimumRangeLength = 150000;

// DVD+R DL: layer 1 starts at LBA 1FD800h; each layer is cut into zones of this many sectors.
inline constexpr int32_t kLayer1StartLba = 0x1FD800;
inline constexpr int32_t kDualLayerZoneLength = 208691;
inline constexpr uint32_t kLayer0PsnOffset = 0x30000;
inline constexpr uint32_t kLayer1PsnOffset = 0xBD5000;
// Sectors of this span (the end of layer 0, the middle zone, the start of layer 1 as numbered
// by the drive) are measured at the first of them.
inline constexpr uint32_t kDualLayerClampFirstPsn = 0x229800;
inline constexpr uint32_t kDualLayerClampLastPsn = 0xDD0000;

inline constexpr uint32_t kTeReferencePsn = 0x25C000;
inline constexpr uint32_t kTeReferencePsnDualLayer = 0x220000;
inline constexpr uint32_t kFeReferencePsn = 0x30000;

inline constexpr uint16_t kTeLimitPercent = 27;
inline constexpr uint16_t kFeLimitPercent = 18;

// The disc type codes the scan measures (from the current profile).
inline constexpr uint8_t kScanDvdPlusRDl = 5;
inline constexpr uint8_t kScanDvdPlusR = 6;
inline constexpr uint8_t kScanDvdMinusR = 8;
inline constexpr uint8_t kScanDiscUnknown = 240;

// --- where a run samples ---------------------------------------------------------------------

// Entries of the sampling combo, in list order.
enum class SamplingMode : uint8_t { Normal = 0, Full = 1, Quick = 2, Smart = 3, Customize = 4 };
inline constexpr int kSamplingModeCount = 5;
// The combo's texts, by entry.
const char* SamplingModeText(SamplingMode mode);
// An entry outside 0..4 counts as entry 0.
SamplingMode SamplingModeOfEntry(int entry);
int32_t BaseStepOf(SamplingMode mode);

bool IsDualLayer(uint8_t discTypeCode);

// Layer 0 sits 30000h sectors into the disc; on DVD+R DL, LBAs from 1FD800h are on layer 1.
uint32_t LbaToPsn(int32_t lba, uint8_t discTypeCode);
// On DVD+R DL, a PSN from 229800h to DD0000h becomes 229800h; otherwise unchanged.
uint32_t ClampDualLayerPsn(uint32_t psn, uint8_t discTypeCode);
// The step after `pos`: the base step near the inner edge of a layer, finer toward its outer edge
// (16384 sectors in the outermost zones).
int32_t NextStep(int32_t pos, int32_t baseStep, uint8_t discTypeCode, int32_t lastLba);
// The ten zones NextStep steps by, as one radial band 0 (inner) to 9 (outer) per position; on
// DVD+R DL both layers' positions at the same radius share a zone.
inline constexpr int kScanZoneCount = 10;
int ZoneOf(int32_t pos, uint8_t discTypeCode, int32_t lastLba);

// Positions from `start` while below `end` (end is already the range's end less the margin).
struct ScanRange {
    int32_t start = 0;
    int32_t end = 0;
};
// The range of a sampling mode; Customize takes the start and end the user gave.
ScanRange RangeOf(SamplingMode mode, uint8_t discTypeCode, int32_t lastLba, int32_t customStart,
                  int32_t customEnd);

struct SamplePoint {
    int32_t lba = 0;
    uint32_t psn = 0;  // where the drive measures it (after the dual-layer clamp)
};
// Every position a run over `range` measures, in order.
std::vector<SamplePoint> SamplePoints(const ScanRange& range, int32_t baseStep, uint8_t discTypeCode,
                                      int32_t lastLba);

// --- range entry -----------------------------------------------------------------------------

// The leading decimal number of an edit box's text (blanks and a sign allowed before it, nothing
// after it matters); 0 when there is none. Clamped to the 32-bit range.
int32_t LeadingNumber(const std::string& text);

// The Customize range checks, in order; null when the range is accepted, else the text of the
// first that fails.
const char* CheckRange(int32_t start, int32_t end, int32_t lastLba);
// The checks of one edit box on its own (0 to lastLba); null when accepted.
const char* CheckStartAddress(int32_t start, int32_t lastLba);
const char* CheckEndAddress(int32_t end, int32_t lastLba);

// --- the two vendor commands -----------------------------------------------------------------

// Byte 11 of a reference read.
enum class TeFeChannel : uint8_t { Te = 0x03, Fe = 0x04 };

inline constexpr size_t kReferenceAnswerLength = 12;
inline constexpr size_t kMeasureAnswerLength = 8;

uint32_t ReferencePsn(TeFeChannel channel, uint8_t discTypeCode);
// FD FB "ZARN" 05 02 psn(3) 03|04.
void BuildReferenceCdb(uint8_t (&cdb)[12], TeFeChannel channel, uint32_t psn);
// FD FB "ZARN" 05 speed psn(3) 00.
void BuildMeasureCdb(uint8_t (&cdb)[12], uint8_t speedCode, uint32_t psn);

// A reference of FFFFh is no level the drive measured (an answer of all FFh bytes): it fails
// like a reference of 0.
inline constexpr uint16_t kInvalidReference = 0xFFFF;

struct ReferenceReading {
    uint16_t value = 0;  // 0: failed (a reference of 0 or FFFFh, or a short answer, counts as failed)
    uint8_t status = kCommandFailed;
    Sense sense;      // of the failed command
    int osError = 0;  // … and the platform's error code
};
ReferenceReading ReadTeFeReference(DriveTable& table, TeFeChannel channel, uint8_t discTypeCode);

struct TeFeReading {
    uint8_t status = kCommandFailed;
    uint8_t validity = 0;  // answer byte 0; anything but 0 is a failed measurement
    uint16_t teRaw = 0;
    uint16_t feRaw = 0;
    Sense sense;
    int osError = 0;
    bool Ok() const { return status == kCommandCompleted && validity == 0; }
};
TeFeReading MeasureTeFe(DriveTable& table, uint8_t speedCode, uint32_t psn);

// raw × 100 / reference, truncated. Saturates at 65535: a value that wrapped around 16 bits could
// turn a sample far over its limit into one under it. A reference of 0 gives 65535.
uint16_t PercentOf(uint16_t raw, uint16_t reference);
bool OverTeLimit(uint16_t tePercent);
bool OverFeLimit(uint16_t fePercent);

// --- failures --------------------------------------------------------------------------------

enum class FailureOutcome { NoDisc, Other, DriveGone };
// 02h/3Ah/00h means the disc is gone; a drive that no longer answers at all (unplugged, switched
// off: the platform call fails without sense, or the target has no such unit) is gone itself;
// anything else (a time-out, a refused command, an answer marked invalid) is the other outcome.
FailureOutcome ClassifyFailure(const Sense& sense, uint8_t status = kCommandFailed, int osError = 0);

// Path A: the TE reference failed. Path B: the FE reference or a sample failed.
enum class FailurePath { None, A, B };

struct FailureTexts {
    const char* box;     // the "Probix Warning" message box
    const char* status;  // the status line
};
// A drive that is gone says so on both paths, instead of the pair that asks for a retry.
FailureTexts TextsOfFailure(FailurePath path, FailureOutcome outcome);

// "%ld seconds".
std::string ElapsedText(int64_t seconds);

// --- a run -----------------------------------------------------------------------------------

struct ScanSettings {
    uint8_t discTypeCode = kScanDvdPlusR;
    int32_t lastLba = kDefaultLastLba;
    SamplingMode mode = SamplingMode::Normal;
    int32_t baseStep = kCoarseStep;
    uint8_t speedCode = 13;
    int32_t customStart = 0;  // Customize only
    int32_t customEnd = 0;
};

struct ScanSample {
    int index = 0;  // 0 for the first position measured
    int32_t lba = 0;
    uint32_t psn = 0;
    uint16_t teRaw = 0;
    uint16_t feRaw = 0;
    uint16_t tePercent = 0;
    uint16_t fePercent = 0;
    int64_t elapsedSeconds = 0;
};

enum class ScanEnd {
    Finished,   // every position measured: a verdict
    Failed,     // path A or B
    Stopped,    // a stop request ended it between commands: no verdict
    NoVerdict,  // nothing to judge, or not one disc to judge: see NoVerdictReason
};

enum class NoVerdictReason {
    None,
    NoPosition,     // the range holds no position to measure (nothing is sent)
    EndBelowStart,  // the range ends below its start: the disc's reported size makes no sense
    DiscChanged,    // the disc in the drive is not the one the run started on
};
// "No position to measure in this range.", "Not support for this disc.", and the changed disc's.
const char* NoVerdictText(NoVerdictReason reason);

struct ScanResult {
    ScanEnd end = ScanEnd::Finished;
    bool notRecommended = false;  // Finished: a sample was over a limit
    int teOverLimit = 0;
    int feOverLimit = 0;
    FailurePath path = FailurePath::None;  // Failed
    FailureOutcome outcome = FailureOutcome::Other;
    NoVerdictReason noVerdict = NoVerdictReason::None;  // NoVerdict
    // The drive reported a unit attention (a medium change or a reset) to a command of the run.
    // It reports that once: whoever polls the disc must examine it anew.
    bool unitAttention = false;
    // The disc's identifiers as read before the run measured: the run's results name this disc,
    // whatever happens to the drive afterwards. Empty when that read failed.
    std::optional<DiscIdentifiers> discIds;
    Sense sense;
    uint16_t teReference = 0;
    uint16_t feReference = 0;
    int samples = 0;  // positions measured
    int plannedSamples = 0;
    int64_t elapsedSeconds = 0;
};

// The verdict text of a finished run.
const char* VerdictText(const ScanResult& result);

// What a run tells while it goes. All calls come from the thread that runs it.
class ScanObserver {
  public:
    virtual ~ScanObserver() = default;
    virtual void OnReferences(uint16_t /*te*/, uint16_t /*fe*/, int /*plannedSamples*/) {}
    virtual void OnSample(const ScanSample& /*sample*/) {}
    virtual void OnEnd(const ScanResult& /*result*/) {}
};

// A ScanObserver made of functions; an empty one is not called.
class ScanCallbacks final : public ScanObserver {
  public:
    std::function<void(uint16_t te, uint16_t fe, int plannedSamples)> onReferences;
    std::function<void(const ScanSample& sample)> onSample;
    std::function<void(const ScanResult& result)> onEnd;

    void OnReferences(uint16_t te, uint16_t fe, int plannedSamples) override {
        if (onReferences) onReferences(te, fe, plannedSamples);
    }
    void OnSample(const ScanSample& sample) override {
        if (onSample) onSample(sample);
    }
    void OnEnd(const ScanResult& result) override {
        if (onEnd) onEnd(result);
    }
};

// Asked before every command, once the drive is free, and after it: true ends the run there (a
// command not yet sent is not sent), and the answer of a command that was at the drive meanwhile
// is dropped.
using StopRequested = std::function<bool()>;

// Checks the range (no command is sent for a range without positions), reads the disc's identity
// and both references, measures every position of the range at the speed, reads the identity
// again and, on the same disc, judges it by the limits. Each command takes the drive's lock for
// itself only.
ScanResult RunTeFeScan(SharedDrive& drive, const ScanSettings& settings, ScanObserver& observer,
                       const StopRequested& stopRequested);

// --- Smart mode ------------------------------------------------------------------------------

enum class SpeedResult : uint8_t {
    OverLimit = 0,
    Fit = 1,
    Failed = 2,
    Stopped = 3,  // a stop request came between commands; the speed has no result
};
// "OK." for Fit, "Not recommended." for OverLimit and Failed.
const char* SpeedResultText(SpeedResult result);

// The outer-track positions a speed is judged at (physical sector numbers).
std::span<const uint32_t> SmartPoints(uint8_t discTypeCode, uint8_t speedCode);

// Both references, then each point in order; the first point over a limit or failing decides.
// `onPoint`, when given, is called after each point the drive measured (for a progress line).
SpeedResult MeasureSpeed(SharedDrive& drive, uint8_t discTypeCode, uint8_t speedCode,
                         const StopRequested& stopRequested, const std::function<void()>& onPoint = {});

// What is known about the disc a Smart report measured.
struct SmartDisc {
    bool changed = false;             // the disc was changed (or taken out) while the report measured
    bool identifiersUnread = false;   // its manufacturer and media type ids could not be read
    bool stoppedBeforeCheck = false;  // a stop request came after the last speed, before the check
};

// The disc's identity after a report's last speed: the report measures with vendor commands only,
// which no drive answers with a unit attention, so a changed disc shows only here. `before` are the
// identifiers read when the report began (null when that read failed: they stay unread). A medium
// change reported, no disc or other identifiers: changed. Empty when a stop request came first.
std::optional<SmartDisc> RecheckSmartDisc(SharedDrive& drive, uint8_t discTypeCode,
                                          const DiscIdentifiers* before, const StopRequested& stopRequested);

// What a Smart report tells while it measures. All calls come from the thread that runs it.
class SmartObserver {
  public:
    virtual ~SmartObserver() = default;
    // The speed at `index` of the list is about to be measured.
    virtual void OnSpeedStart(size_t /*index*/) {}
    // The drive measured one more point of that speed.
    virtual void OnPoint(size_t /*index*/) {}
    // The speed's result; not called for a speed a stop request ended.
    virtual void OnSpeedResult(size_t /*index*/, SpeedResult /*result*/) {}
};

// A SmartObserver made of functions; an empty one is not called.
class SmartCallbacks final : public SmartObserver {
  public:
    std::function<void(size_t index)> onSpeedStart;
    std::function<void(size_t index)> onPoint;
    std::function<void(size_t index, SpeedResult result)> onSpeedResult;

    void OnSpeedStart(size_t index) override {
        if (onSpeedStart) onSpeedStart(index);
    }
    void OnPoint(size_t index) override {
        if (onPoint) onPoint(index);
    }
    void OnSpeedResult(size_t index, SpeedResult result) override {
        if (onSpeedResult) onSpeedResult(index, result);
    }
};

// What a Smart report measured.
struct SmartReportRun {
    // One per speed of the list, in its order; Stopped for every speed not measured.
    std::vector<SpeedResult> results;
    // The check after the last speed; stoppedBeforeCheck when a stop request came before it (the
    // identifiers stay as unread as they were).
    SmartDisc disc;
};

// Measures every speed of `speedCodes` in order (MeasureSpeed), then checks the disc once more
// (RecheckSmartDisc, with `before` as there). A stop request ends it between commands: no other
// speed is measured and the disc is not checked.
SmartReportRun RunSmartReport(SharedDrive& drive, uint8_t discTypeCode, const std::vector<uint8_t>& speedCodes,
                              const DiscIdentifiers* before, SmartObserver& observer,
                              const StopRequested& stopRequested);

}  // namespace dravix
