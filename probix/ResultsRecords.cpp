#include "probix/ResultsRecords.h"

#include <algorithm>

#include "base/Version.h"
#include "drive/InfoCommands.h"
#include "probix/Judgement.h"
#include "probix/ScanTexts.h"

namespace dravix {

ScanResults ScanResultsOf(const RecordDrive& drive, const DiscIdentifiers& ids, const ScanSettings& settings,
                          uint32_t kbps, ScanRunRecord run, std::string date) {
    const ScanResult& result = run.result;
    ScanResults r;
    r.samples = std::move(run.samples);
    r.teReference = result.teReference != 0 ? result.teReference : run.teReference;
    r.feReference = result.feReference != 0 ? result.feReference : run.feReference;
    r.driveLabel = drive.label;
    r.firmware = drive.firmware;
    r.discTypeCode = settings.discTypeCode;
    const char* disc = ScanDiscName(r.discTypeCode);
    r.discType = disc != nullptr ? disc : scan_texts::kNotAvailable;
    r.manufacturerId = ids.manufacturerId;
    r.mediaTypeId = ids.mediaTypeId;
    r.date = std::move(date);
    r.programVersion = kVersionText;
    r.outcome = OutcomeOf(result);
    r.verdictText = OutcomeText(result);
    std::replace(r.verdictText.begin(), r.verdictText.end(), '\n', ' ');
    r.speedCode = settings.speedCode;
    r.kbps = kbps;
    r.mode = settings.mode;
    r.lastLba = settings.lastLba;
    r.range = RangeOf(settings.mode, settings.discTypeCode, settings.lastLba, settings.customStart,
                      settings.customEnd);
    r.elapsedSeconds = result.end == ScanEnd::Stopped && !r.samples.empty() ? r.samples.back().elapsedSeconds
                                                                             : result.elapsedSeconds;
    FinishResults(r);
    return r;
}

std::optional<ScanResults> SmartResultsOf(const RecordDrive& drive, uint8_t discTypeCode,
                                          const DiscInformation& info, const std::vector<uint8_t>& speedCodes,
                                          const std::vector<uint32_t>& kbps, const SmartReportRun& run,
                                          std::string date) {
    ScanResults r;
    r.kind = ScanResults::Kind::Smart;
    for (size_t i = 0; i < run.results.size() && i < speedCodes.size(); ++i)
        r.speeds.push_back({speedCodes[i], i < kbps.size() ? kbps[i] : 0, run.results[i]});
    // A report stopped before its first result measured nothing worth keeping.
    if (std::all_of(r.speeds.begin(), r.speeds.end(),
                    [](const SmartRow& row) { return row.result == SpeedResult::Stopped; }))
        return std::nullopt;
    r.driveLabel = drive.label;
    r.firmware = drive.firmware;
    r.discTypeCode = discTypeCode;
    r.discType = info.discType;
    r.manufacturerId = info.manufacturerId;
    r.mediaTypeId = info.mediaTypeId;
    r.capacity = info.capacity;
    r.date = std::move(date);
    r.programVersion = kVersionText;
    const SmartVerdict verdict = JudgeSmartReport(r.speeds, run.disc);
    r.outcome = verdict.outcome;
    r.verdictText = verdict.text;
    r.identifiersRead = !run.disc.identifiersUnread;
    return r;
}

ReadTestRecord ReadTestRecordOf(const RecordDrive& drive, std::string imageName, ReadTestResult result,
                                std::string date) {
    ReadTestRecord record;
    record.driveLabel = drive.label;
    record.firmware = drive.firmware;
    record.programVersion = kVersionText;
    record.imageName = std::move(imageName);
    record.discType = DiscTypeOfProfile(result.layout.profile).name;
    record.result = std::move(result);
    record.date = std::move(date);
    return record;
}

}  // namespace dravix
