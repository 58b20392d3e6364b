#include "probix/ScanEngine.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "base/ByteOrder.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "drive/VendorMode.h"
#include "probix/DiscLayout.h"
#include "probix/ScanTexts.h"
#include "turns/SharedDrive.h"

namespace dravix {

namespace {

constexpr uint8_t kSwitchSubCode = 0xFB;
constexpr uint8_t kTeFeFunction = 0x05;
constexpr uint8_t kReferenceMarker = 0x02;  // byte 7 of a reference read
constexpr uint8_t kMeasureKind = 0x00;
constexpr int kZoneCount = 10;
constexpr size_t kReferenceNeeded = 3;  // the level, bytes 1..2
constexpr size_t kMeasureNeeded = 7;    // validity, TE bytes 1..2, FE bytes 5..6

constexpr uint8_t kUnitAttention = 0x06;
constexpr uint8_t kAscMediumChanged = 0x28;

constexpr std::array<uint32_t, 4> kDualLayerPoints = {0x220000, 0x225000, 0xDD3000, 0xDD3500};
constexpr std::array<uint32_t, 2> kFastSpeedPoints = {0x220000, 0x225000};
constexpr std::array<uint32_t, 1> kSlowSpeedPoints = {0x260000};

int32_t ClampToInt32(int64_t value) {
    return static_cast<int32_t>(std::clamp<int64_t>(value, INT32_MIN, INT32_MAX));
}

void PutPsn(uint8_t* field, uint32_t psn) {
    PutBe24(field, psn & 0xFFFFFFu);
}

int Zone(int64_t pos, uint8_t discTypeCode, int32_t lastLba) {
    if (IsDualLayer(discTypeCode)) {
        if (pos < kLayer1StartLba) return static_cast<int>(pos / kDualLayerZoneLength);
        return static_cast<int>(kZoneCount - (pos - kLayer1StartLba) / kDualLayerZoneLength);
    }
    // A drive reporting a last LBA below 10 would make the zone length 0; such a disc is all
    // outer zone.
    const int64_t zoneLength = std::max<int64_t>(lastLba / kZoneCount, 1);
    return static_cast<int>(std::clamp<int64_t>(pos / zoneLength, INT_MIN, INT_MAX));
}

// The program's other windows switch vendor mode off after their own commands, also while a
// scan runs (a page that becomes active reads its state); the drive then refuses the TE/FE
// command as unknown. Vendor mode is switched on again and the command repeated once.
bool VendorModeLost(const Sense& sense) {
    return sense == kSenseInvalidCommand;
}

// Empty when a stop request came before the command was sent: it is asked once the drive is free,
// so a worker that waited for another's command sends nothing after its stop.
template <typename Command>
auto SendTeFe(SharedDrive& drive, const StopRequested& stopRequested, Command command) {
    return drive.LockedUnlessStopped(stopRequested, [&](DriveTable& table) {
        auto reading = command(table);
        if (reading.status == kCommandFailed && VendorModeLost(reading.sense) && !stopRequested()) {
            VendorModeScope::SwitchOnAgain(table);
            if (!stopRequested()) reading = command(table);
        }
        return reading;
    });
}

// The disc's manufacturer and media type ids, read before and after a run to tell whether it
// measured one disc.
struct IdentityReading {
    uint8_t status = kCommandFailed;
    Sense sense;
    int osError = 0;
    DiscIdentifiers ids;
    bool attention = false;      // the drive reported a unit attention
    bool mediumChanged = false;  // … that the medium changed
};

IdentityReading ReadIdentity(DriveTable& table, uint8_t discTypeCode) {
    IdentityReading reading;
    const IdentifierSource source = DiscTypeOfCode(discTypeCode).source;
    for (int attempt = 0; attempt < 2; ++attempt) {
        reading.status = ReadDiscIdentifiers(table, source, reading.ids);
        reading.sense = reading.status == kCommandCompleted ? Sense{} : table.LastSense();
        reading.osError = reading.status == kCommandCompleted ? 0 : table.LastOsError();
        if (reading.status == kCommandCompleted || reading.sense.key != kUnitAttention) break;
        reading.attention = true;
        if (reading.sense.asc == kAscMediumChanged) {
            reading.mediumChanged = true;
            break;
        }
        // Another attention (a reset) is reported once; the read that follows answers from the disc.
    }
    return reading;
}

bool SameDisc(const DiscIdentifiers& a, const DiscIdentifiers& b) {
    return a.manufacturerId == b.manufacturerId && a.mediaTypeId == b.mediaTypeId;
}

}  // namespace

const char* SamplingModeText(SamplingMode mode) {
    switch (mode) {
        case SamplingMode::Normal:
            return "Normal (Default)";
        case SamplingMode::Full:
            return "Full";
        case SamplingMode::Quick:
            return "Quick";
        case SamplingMode::Smart:
            return "Smart";
        case SamplingMode::Customize:
            return "Customize";
    }
    return "";
}

SamplingMode SamplingModeOfEntry(int entry) {
    if (entry < 0 || entry >= kSamplingModeCount) return SamplingMode::Normal;
    return static_cast<SamplingMode>(entry);
}

int32_t BaseStepOf(SamplingMode mode) {
    return mode == SamplingMode::Full ? kFineStep : kCoarseStep;
}

bool IsDualLayer(uint8_t discTypeCode) {
    return discTypeCode == kScanDvdPlusRDl;
}

uint32_t LbaToPsn(int32_t lba, uint8_t discTypeCode) {
    const uint32_t offset =
        IsDualLayer(discTypeCode) && lba >= kLayer1StartLba ? kLayer1PsnOffset : kLayer0PsnOffset;
    return static_cast<uint32_t>(lba) + offset;
}

uint32_t ClampDualLayerPsn(uint32_t psn, uint8_t discTypeCode) {
    if (IsDualLayer(discTypeCode) && psn >= kDualLayerClampFirstPsn && psn <= kDualLayerClampLastPsn) {
        return kDualLayerClampFirstPsn;
    }
    return psn;
}

int32_t NextStep(int32_t pos, int32_t baseStep, uint8_t discTypeCode, int32_t lastLba) {
    const int zone = Zone(pos, discTypeCode, lastLba);
    if (zone < 5) return baseStep;
    if (zone <= 8) return (baseStep + kFineStep) / 2;
    return kFineStep;
}

int ZoneOf(int32_t pos, uint8_t discTypeCode, int32_t lastLba) {
    // Zone runs one past the outermost band at the very end of a layer (and of layer 1's start).
    return std::clamp(Zone(pos, discTypeCode, lastLba), 0, kScanZoneCount - 1);
}

ScanRange RangeOf(SamplingMode mode, uint8_t discTypeCode, int32_t lastLba, int32_t customStart,
                  int32_t customEnd) {
    int32_t start = 0;
    int32_t endBase = lastLba;
    if (mode == SamplingMode::Quick) {
        start = kQuickStartLba;
        endBase = IsDualLayer(discTypeCode) ? kQuickEndLbaDualLayer : lastLba;
    } else if (mode == SamplingMode::Customize) {
        start = customStart;
        endBase = customEnd;
    }
    return ScanRange{start, ClampToInt32(static_cast<int64_t>(endBase) - kRangeEndMargin)};
}

std::vector<SamplePoint> SamplePoints(const ScanRange& range, int32_t baseStep, uint8_t discTypeCode,
                                      int32_t lastLba) {
    std::vector<SamplePoint> points;
    // In 64 bits, so that a range ending near the top of the 32-bit range cannot wrap around.
    for (int64_t pos = range.start; pos < range.end;) {
        const auto lba = static_cast<int32_t>(pos);
        points.push_back({lba, ClampDualLayerPsn(LbaToPsn(lba, discTypeCode), discTypeCode)});
        pos += std::max(NextStep(lba, baseStep, discTypeCode, lastLba), 1);
    }
    return points;
}

int32_t LeadingNumber(const std::string& text) {
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return ClampToInt32(value);
}

const char* CheckRange(int32_t start, int32_t end, int32_t lastLba) {
    if (static_cast<int64_t>(end) - start < kMinimumRangeLength) return scan_texts::kMinimumLength;
    if (start < 0) return scan_texts::kStartAddressWrong;
    if (end > lastLba) return scan_texts::kEndAddressExceeds;
    return nullptr;
}

const char* CheckStartAddress(int32_t start, int32_t lastLba) {
    return start < 0 || start > lastLba ? scan_texts::kStartAddressWrong : nullptr;
}

const char* CheckEndAddress(int32_t end, int32_t lastLba) {
    return end < 0 || end > lastLba ? scan_texts::kEndAddressWrong : nullptr;
}

uint32_t ReferencePsn(TeFeChannel channel, uint8_t discTypeCode) {
    if (channel == TeFeChannel::Fe) return kFeReferencePsn;
    return IsDualLayer(discTypeCode) ? kTeReferencePsnDualLayer : kTeReferencePsn;
}

void BuildReferenceCdb(uint8_t (&cdb)[12], TeFeChannel channel, uint32_t psn) {
    BuildVendorCdb(cdb, kSwitchSubCode);
    cdb[6] = kTeFeFunction;
    cdb[7] = kReferenceMarker;
    PutPsn(&cdb[8], psn);
    cdb[11] = static_cast<uint8_t>(channel);
}

void BuildMeasureCdb(uint8_t (&cdb)[12], uint8_t speedCode, uint32_t psn) {
    BuildVendorCdb(cdb, kSwitchSubCode);
    cdb[6] = kTeFeFunction;
    cdb[7] = speedCode;
    PutPsn(&cdb[8], psn);
    cdb[11] = kMeasureKind;
}

ReferenceReading ReadTeFeReference(DriveTable& table, TeFeChannel channel, uint8_t discTypeCode) {
    uint8_t cdb[12] = {};
    BuildReferenceCdb(cdb, channel, ReferencePsn(channel, discTypeCode));
    uint8_t answer[kReferenceAnswerLength] = {};
    ReferenceReading reading;
    reading.status = table.ReadAnswer(cdb, answer, kReferenceNeeded, kTeFeTimeoutSeconds);
    if (reading.status != kCommandCompleted) {
        reading.sense = table.LastSense();
        reading.osError = table.LastOsError();
        return reading;
    }
    const uint16_t value = GetBe16(&answer[1]);
    reading.value = value == kInvalidReference ? 0 : value;
    return reading;
}

TeFeReading MeasureTeFe(DriveTable& table, uint8_t speedCode, uint32_t psn) {
    uint8_t cdb[12] = {};
    BuildMeasureCdb(cdb, speedCode, psn);
    uint8_t answer[kMeasureAnswerLength] = {};
    TeFeReading reading;
    reading.status = table.ReadAnswer(cdb, answer, kMeasureNeeded, kTeFeTimeoutSeconds);
    if (reading.status != kCommandCompleted) {
        reading.sense = table.LastSense();
        reading.osError = table.LastOsError();
        return reading;
    }
    reading.validity = answer[0];
    reading.teRaw = GetBe16(&answer[1]);
    reading.feRaw = GetBe16(&answer[5]);
    return reading;
}

uint16_t PercentOf(uint16_t raw, uint16_t reference) {
    if (reference == 0) return UINT16_MAX;
    const uint32_t percent = static_cast<uint32_t>(raw) * 100u / reference;
    return static_cast<uint16_t>(std::min<uint32_t>(percent, UINT16_MAX));
}

bool OverTeLimit(uint16_t tePercent) {
    return tePercent > kTeLimitPercent;
}
bool OverFeLimit(uint16_t fePercent) {
    return fePercent > kFeLimitPercent;
}

FailureOutcome ClassifyFailure(const Sense& sense, uint8_t status, int osError) {
    if (DriveGone(status, sense, osError)) return FailureOutcome::DriveGone;
    return sense == kSenseNoMedium ? FailureOutcome::NoDisc : FailureOutcome::Other;
}

FailureTexts TextsOfFailure(FailurePath path, FailureOutcome outcome) {
    if (outcome == FailureOutcome::NoDisc) return {scan_texts::kNoDiscInside, scan_texts::kNoDiscInside};
    if (outcome == FailureOutcome::DriveGone) return {scan_texts::kDriveGone, scan_texts::kDriveGone};
    // A refused FE reference or sample points at the firmware; the status line still asks for a
    // retry, as after a refused TE reference.
    const char* box =
        path == FailurePath::B ? scan_texts::kFirmwareNotSupported : scan_texts::kDriveActivating;
    return {box, scan_texts::kDriveActivating};
}

std::string ElapsedText(int64_t seconds) {
    char text[48];
    std::snprintf(text, sizeof text, scan_texts::kElapsedFormat, static_cast<long>(seconds));
    return text;
}

const char* NoVerdictText(NoVerdictReason reason) {
    switch (reason) {
        case NoVerdictReason::NoPosition:
            return scan_texts::kNoPosition;
        case NoVerdictReason::EndBelowStart:
            return scan_texts::kRangeNotSupported;
        case NoVerdictReason::DiscChanged:
            return scan_texts::kDiscChanged;
        case NoVerdictReason::None:
            break;
    }
    return "";
}

const char* VerdictText(const ScanResult& result) {
    return result.notRecommended ? scan_texts::kVerdictNotRecommended : scan_texts::kVerdictOk;
}

ScanResult RunTeFeScan(SharedDrive& drive, const ScanSettings& settings, ScanObserver& observer,
                       const StopRequested& stopRequested) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    auto elapsed = [started] {
        return static_cast<int64_t>(
            std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - started).count());
    };

    ScanResult result;
    auto finish = [&](ScanEnd end) {
        result.end = end;
        result.elapsedSeconds = elapsed();
        observer.OnEnd(result);
        return result;
    };
    auto fail = [&](FailurePath path, const auto& reading) {
        const Sense& sense = reading.sense;
        result.path = path;
        result.sense = sense;
        result.outcome = ClassifyFailure(sense, reading.status, reading.osError);
        if (sense.key == kUnitAttention) result.unitAttention = true;
        return finish(ScanEnd::Failed);
    };
    auto noVerdict = [&](NoVerdictReason reason) {
        result.noVerdict = reason;
        return finish(ScanEnd::NoVerdict);
    };

    const uint8_t disc = settings.discTypeCode;
    // A range without positions has nothing to judge; nothing is sent for it.
    const ScanRange range =
        RangeOf(settings.mode, disc, settings.lastLba, settings.customStart, settings.customEnd);
    if (range.end < range.start) return noVerdict(NoVerdictReason::EndBelowStart);
    const std::vector<SamplePoint> points = SamplePoints(range, settings.baseStep, disc, settings.lastLba);
    if (points.empty()) return noVerdict(NoVerdictReason::NoPosition);

    auto readIdentity = [&] {
        return drive.LockedUnlessStopped(stopRequested,
                                         [disc](DriveTable& table) { return ReadIdentity(table, disc); });
    };
    const std::optional<IdentityReading> before = readIdentity();
    if (!before || stopRequested()) return finish(ScanEnd::Stopped);
    result.unitAttention = before->attention;
    // Changed since the disc was examined: what the run was set up for belongs to another disc.
    if (before->mediumChanged) return noVerdict(NoVerdictReason::DiscChanged);
    if (before->status != kCommandCompleted) return fail(FailurePath::A, *before);
    result.discIds = before->ids;

    const std::optional<ReferenceReading> te = SendTeFe(drive, stopRequested, [disc](DriveTable& table) {
        return ReadTeFeReference(table, TeFeChannel::Te, disc);
    });
    if (!te || stopRequested()) return finish(ScanEnd::Stopped);
    if (te->value == 0) return fail(FailurePath::A, *te);
    const std::optional<ReferenceReading> fe = SendTeFe(drive, stopRequested, [disc](DriveTable& table) {
        return ReadTeFeReference(table, TeFeChannel::Fe, disc);
    });
    if (!fe || stopRequested()) return finish(ScanEnd::Stopped);
    if (fe->value == 0) return fail(FailurePath::B, *fe);
    result.teReference = te->value;
    result.feReference = fe->value;

    result.plannedSamples = static_cast<int>(points.size());
    observer.OnReferences(te->value, fe->value, result.plannedSamples);

    const uint8_t speed = settings.speedCode;
    for (const SamplePoint& point : points) {
        const std::optional<TeFeReading> answer =
            SendTeFe(drive, stopRequested,
                     [speed, &point](DriveTable& table) { return MeasureTeFe(table, speed, point.psn); });
        // The answer of a command that was at the drive when the stop came is dropped.
        if (!answer || stopRequested()) return finish(ScanEnd::Stopped);
        const TeFeReading& reading = *answer;
        if (!reading.Ok()) return fail(FailurePath::B, reading);

        ScanSample sample;
        sample.index = result.samples;
        sample.lba = point.lba;
        sample.psn = point.psn;
        sample.teRaw = reading.teRaw;
        sample.feRaw = reading.feRaw;
        sample.tePercent = PercentOf(reading.teRaw, te->value);
        sample.fePercent = PercentOf(reading.feRaw, fe->value);
        sample.elapsedSeconds = elapsed();
        if (OverTeLimit(sample.tePercent)) ++result.teOverLimit;
        if (OverFeLimit(sample.fePercent)) ++result.feOverLimit;
        ++result.samples;
        observer.OnSample(sample);
    }

    // The samples judge one disc only if the disc did not change under them.
    const std::optional<IdentityReading> after = readIdentity();
    if (!after || stopRequested()) return finish(ScanEnd::Stopped);
    result.unitAttention = result.unitAttention || after->attention;
    if (after->mediumChanged) return noVerdict(NoVerdictReason::DiscChanged);
    if (after->status != kCommandCompleted) return fail(FailurePath::B, *after);
    if (!SameDisc(before->ids, after->ids)) return noVerdict(NoVerdictReason::DiscChanged);
    result.notRecommended = result.teOverLimit != 0 || result.feOverLimit != 0;
    return finish(ScanEnd::Finished);
}

const char* SpeedResultText(SpeedResult result) {
    return result == SpeedResult::Fit ? scan_texts::kSpeedOk : scan_texts::kSpeedNotRecommended;
}

std::span<const uint32_t> SmartPoints(uint8_t discTypeCode, uint8_t speedCode) {
    if (IsDualLayer(discTypeCode)) return kDualLayerPoints;
    if (speedCode == 18 || speedCode == 19) return kFastSpeedPoints;
    return kSlowSpeedPoints;
}

SpeedResult MeasureSpeed(SharedDrive& drive, uint8_t discTypeCode, uint8_t speedCode,
                         const StopRequested& stopRequested, const std::function<void()>& onPoint) {
    const std::optional<ReferenceReading> te =
        SendTeFe(drive, stopRequested, [discTypeCode](DriveTable& table) {
            return ReadTeFeReference(table, TeFeChannel::Te, discTypeCode);
        });
    if (!te || stopRequested()) return SpeedResult::Stopped;
    if (te->value == 0) return SpeedResult::Failed;
    const std::optional<ReferenceReading> fe =
        SendTeFe(drive, stopRequested, [discTypeCode](DriveTable& table) {
            return ReadTeFeReference(table, TeFeChannel::Fe, discTypeCode);
        });
    if (!fe || stopRequested()) return SpeedResult::Stopped;
    if (fe->value == 0) return SpeedResult::Failed;

    for (const uint32_t psn : SmartPoints(discTypeCode, speedCode)) {
        const std::optional<TeFeReading> reading =
            SendTeFe(drive, stopRequested,
                     [speedCode, psn](DriveTable& table) { return MeasureTeFe(table, speedCode, psn); });
        if (!reading || stopRequested()) return SpeedResult::Stopped;
        if (!reading->Ok()) return SpeedResult::Failed;
        if (onPoint) onPoint();
        if (OverTeLimit(PercentOf(reading->teRaw, te->value))) return SpeedResult::OverLimit;
        if (OverFeLimit(PercentOf(reading->feRaw, fe->value))) return SpeedResult::OverLimit;
    }
    return SpeedResult::Fit;
}

std::optional<SmartDisc> RecheckSmartDisc(SharedDrive& drive, uint8_t discTypeCode,
                                          const DiscIdentifiers* before, const StopRequested& stopRequested) {
    const std::optional<IdentityReading> after = drive.LockedUnlessStopped(
        stopRequested, [discTypeCode](DriveTable& table) { return ReadIdentity(table, discTypeCode); });
    if (!after || stopRequested()) return std::nullopt;
    SmartDisc disc;
    disc.identifiersUnread = before == nullptr;
    if (after->mediumChanged) {
        disc.changed = true;
    } else if (after->status != kCommandCompleted) {
        // No disc (or no drive) at all is another disc than the one measured; any other failure
        // leaves it unknown.
        const FailureOutcome outcome = ClassifyFailure(after->sense, after->status, after->osError);
        disc.changed = outcome != FailureOutcome::Other;
        disc.identifiersUnread = !disc.changed;
    } else if (before != nullptr && !SameDisc(*before, after->ids)) {
        disc.changed = true;
    }
    return disc;
}

SmartReportRun RunSmartReport(SharedDrive& drive, uint8_t discTypeCode, const std::vector<uint8_t>& speedCodes,
                              const DiscIdentifiers* before, SmartObserver& observer,
                              const StopRequested& stopRequested) {
    SmartReportRun run;
    run.results.assign(speedCodes.size(), SpeedResult::Stopped);
    run.disc.identifiersUnread = before == nullptr;
    run.disc.stoppedBeforeCheck = true;
    for (size_t i = 0; i < speedCodes.size(); ++i) {
        if (stopRequested()) return run;
        observer.OnSpeedStart(i);
        const SpeedResult result =
            MeasureSpeed(drive, discTypeCode, speedCodes[i], stopRequested, [&observer, i] { observer.OnPoint(i); });
        if (result == SpeedResult::Stopped) return run;
        run.results[i] = result;
        observer.OnSpeedResult(i, result);
    }
    if (const std::optional<SmartDisc> checked = RecheckSmartDisc(drive, discTypeCode, before, stopRequested))
        run.disc = *checked;
    return run;
}

}  // namespace dravix
