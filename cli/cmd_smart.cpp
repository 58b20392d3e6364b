// smart: the Smart Mode report from the command line: the disc's information and, for every speed
// the disc offers, whether it is fit for writing at it, judged at the outer-track points; then the
// highest speed it is fit for.

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "base/Version.h"
#include "cli/Commands.h"
#include "cli/Names.h"
#include "cli/OutputFile.h"
#include "cli/Progress.h"
#include "cli/ScanSession.h"
#include "drive/DriveTable.h"
#include "probix/DiscReport.h"
#include "probix/Judgement.h"
#include "probix/ResultsFile.h"
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
    std::vector<SpeedResult> results(speeds.codes.size(), SpeedResult::Stopped);
    int total = 0;
    for (uint8_t code : speeds.codes)
        total += static_cast<int>(SmartPoints(survey.discTypeCode, code).size());
    Progress progress(context.Err(), context.ShowProgress(), context.ErrIsTerminal());
    progress.Start(total);
    int done = 0;
    bool stopped = false;
    for (size_t i = 0; i < speeds.codes.size() && !stopped; ++i) {
        const uint8_t code = speeds.codes[i];
        char what[48];
        std::snprintf(what, sizeof what, "%s (%zu of %zu)", ShortSpeedLabel(code), i + 1,
                      speeds.codes.size());
        int measured = 0;
        progress.Update(what, done);
        results[i] = MeasureSpeed(drive, survey.discTypeCode, code, interrupted,
                                  [&] { progress.Update(what, done + ++measured); });
        done += static_cast<int>(SmartPoints(survey.discTypeCode, code).size());
        stopped = results[i] == SpeedResult::Stopped;
        if (!stopped && !context.Json()) {
            progress.End();
            char line[64];
            std::snprintf(line, sizeof line, "%-6s%s", ShortSpeedLabel(code), SpeedResultText(results[i]));
            context.Out() << line << std::endl;
        }
    }
    progress.End();

    // The disc's identity once more after the last speed: the measurements are vendor commands,
    // which report no medium change.
    SmartDisc disc;
    disc.identifiersUnread = unread;
    if (!stopped) {
        const DiscIdentifiers before{info.manufacturerId, info.mediaTypeId};
        const std::optional<SmartDisc> checked =
            RecheckSmartDisc(drive, survey.discTypeCode, unread ? nullptr : &before, interrupted);
        if (checked) {
            disc = *checked;
        } else {
            disc.stoppedBeforeCheck = true;
        }
    }

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
    const bool measuredAny = std::any_of(results.begin(), results.end(),
                                         [](SpeedResult result) { return result != SpeedResult::Stopped; });
    auto smartFile = [&] {
        ScanResults file;
        file.kind = ScanResults::Kind::Smart;
        file.driveLabel = session.Table().DriveLabel();
        file.firmware = session.Table().FirmwareRevision();
        file.discTypeCode = survey.discTypeCode;
        file.discType = info.discType;
        file.manufacturerId = info.manufacturerId;
        file.mediaTypeId = info.mediaTypeId;
        file.capacity = info.capacity;
        file.date = UtcTimestamp();
        file.programVersion = kVersionText;
        file.outcome = verdict.outcome;
        file.verdictText = verdict.text;
        file.identifiersRead = !disc.identifiersUnread;
        file.speeds = measured;
        return file;
    };
    const bool csvWritten = WriteResultsFiles(
        context,
        {{"csv", csvPath, [&](const std::string& path) { return SaveResultsFile(path, smartFile()); }}},
        measuredAny, "measured", context.Result());

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
