// smart: the Smart Mode report from the command line: the disc's information and, for every speed
// the disc offers, whether it is fit for writing at it, judged at the outer-track points; then the
// highest speed it is fit for.

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "cli/Commands.h"
#include "cli/Names.h"
#include "cli/OutputFile.h"
#include "cli/Progress.h"
#include "cli/ScanSession.h"
#include "drive/DriveTable.h"
#include "probix/DiscReport.h"
#include "probix/Judgement.h"
#include "probix/ResultsFile.h"
#include "probix/ResultsRecords.h"
#include "probix/ScanEngine.h"
#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"
#include "turns/SharedDrive.h"

namespace dravix::cli {

int RunSmart(CliContext& context, const CommandArgs& args) {
    if (!args.words.empty()) return UnexpectedArgument(context, args.words.front());
    const std::string csvPath = args.Value("--csv").value_or("");
    if (args.Has("--csv") && csvPath.empty()) return UsageError(context, "--csv takes a file name");
    if (const int status = CheckCommandFiles(context, {{csvPath, FileRole::ResultsFile}}); status != kExitOk)
        return status;
    ScanSession session;
    if (const int status = session.Open(context); status != kExitOk) return status;
    SharedDrive& drive = session.Drive();
    const DiscSurvey& survey = session.Survey();
    const StopRequested interrupted = ScanSession::Interrupted();

    // The survey has just read the speeds, and with them the capacity.
    const DiscInformation info = ReadDiscInformation(drive, survey.discTypeCode, &survey.speeds);
    const bool unread = info.identifierReadFailed;
    if (unread) context.Fail(kExitFailed, scan_texts::kDiscNotSupported);
    // After a failed identifier read the report's "N/A" stands for no answer: say so instead.
    auto field = [unread](const std::string& value) {
        return unread ? std::string("(not read)") : CliContext::Escaped(value);
    };
    auto fieldJson = [unread](const std::string& value) {
        return unread ? schema::Json(nullptr) : schema::TextOrNull(value);
    };
    context.Result()["disc"] =
        schema::Disc(schema::TextOrNull(info.discType), fieldJson(info.manufacturerId),
                     fieldJson(info.mediaTypeId), unread ? std::nullopt : info.lastLba);
    if (!context.Json()) {
        context.Out() << "Disc Type: " << info.discType << "\n"
                      << "Manufacture ID: " << field(info.manufacturerId) << "\n"
                      << "Media Type ID: " << field(info.mediaTypeId) << "\n"
                      << "Blank Disc Capacity: " << field(info.capacity) << "\n"
                      << std::flush;
    }

    const DiscSpeeds& speeds = survey.speeds;
    int total = 0;
    for (uint8_t code : speeds.codes)
        total += static_cast<int>(SmartPoints(survey.discTypeCode, code).size());
    Progress progress(context.Err(), context.ShowProgress(), context.ErrIsTerminal());
    progress.Start(total);
    int done = 0;  // points of the speeds before the one measured
    int measuredPoints = 0;
    std::string what;
    SmartCallbacks observer;
    observer.onSpeedStart = [&](size_t i) {
        char text[48];
        std::snprintf(text, sizeof text, "%s (%zu of %zu)", ShortSpeedLabel(speeds.codes[i]), i + 1,
                      speeds.codes.size());
        what = text;
        measuredPoints = 0;
        progress.Update(what, done);
    };
    observer.onPoint = [&](size_t) { progress.Update(what, done + ++measuredPoints); };
    observer.onSpeedResult = [&](size_t i, SpeedResult result) {
        done += static_cast<int>(SmartPoints(survey.discTypeCode, speeds.codes[i]).size());
        if (context.Json()) return;
        progress.End();
        char line[64];
        std::snprintf(line, sizeof line, "%-6s%s", ShortSpeedLabel(speeds.codes[i]), SpeedResultText(result));
        context.Out() << line << std::endl;
    };
    // After the last speed the disc's identity is read once more: the measurements are vendor
    // commands, which report no medium change.
    const DiscIdentifiers before{info.manufacturerId, info.mediaTypeId};
    const SmartReportRun run = RunSmartReport(drive, survey.discTypeCode, speeds.codes,
                                              unread ? nullptr : &before, observer, interrupted);
    progress.End();
    const std::vector<SpeedResult>& results = run.results;
    const SmartDisc& disc = run.disc;

    std::vector<SmartRow> measured;
    schema::Json rows = schema::Json::array();
    for (size_t i = 0; i < speeds.codes.size(); ++i) {
        const SpeedResult result = results[i];
        measured.push_back({speeds.codes[i], speeds.kbps[i], result});
        rows.push_back({{"speed", schema::Speed(ShortSpeedLabel(speeds.codes[i]), speeds.kbps[i])},
                        {"result", result == SpeedResult::Stopped ? schema::Json(nullptr)
                                                                  : schema::Json(SpeedResultName(result))},
                        {"text", result == SpeedResult::Stopped ? schema::Json(nullptr)
                                                                : schema::Json(SpeedResultText(result))}});
    }
    const SmartVerdict verdict = JudgeSmartReport(measured, disc);
    const std::optional<size_t> highest = verdict.recommended;
    context.Result()["speeds"] = rows;
    context.Result()["recommended_speed"] =
        highest ? schema::Speed(ShortSpeedLabel(speeds.codes[*highest]), speeds.kbps[*highest]) : nullptr;
    context.Result()["result"] = OutcomeName(verdict.outcome);

    // As a scan's: a report stopped before its first speed was measured leaves no file.
    const std::optional<ScanResults> smartFile =
        SmartResultsOf({session.Table().DriveLabel(), session.Table().FirmwareRevision()}, survey.discTypeCode,
                       info, speeds.codes, speeds.kbps, run, UtcTimestamp());
    const bool csvWritten = WriteResultsFiles(
        context,
        {{"csv", csvPath, [&](const std::string& path) { return SaveResultsFile(path, *smartFile); }}},
        smartFile.has_value(), "measured", context.Result());

    switch (verdict.outcome) {
        case RunOutcome::Ok:
        case RunOutcome::NotRecommended:
            if (!context.Json()) context.Out() << verdict.text << "\n";
            // A results file asked for and not written fails the command, as for scan.
            if (!csvWritten) return context.FailedStatus();
            return highest ? kExitOk : kExitNotRecommended;
        case RunOutcome::Failed:
            if (!disc.identifiersUnread) {
                std::string failed;
                for (const SmartRow& row : measured) {
                    if (row.result == SpeedResult::Failed)
                        failed += (failed.empty() ? "" : ", ") + std::string(ShortSpeedLabel(row.speedCode));
                }
                return context.Fail(kExitFailed, "The measurement failed at " + failed + ".");
            }
            break;
        case RunOutcome::Stopped:
        case RunOutcome::NoVerdict:
        case RunOutcome::DiscChanged:
            break;
    }
    return context.Fail(kExitFailed, verdict.text);
}

}  // namespace dravix::cli
