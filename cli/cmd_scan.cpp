// scan: the Probix TE/FE measurement of the page, from the command line: the same engine, the
// page's texts and verdict, a progress line on a terminal, and the samples as CSV or a chart.

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <optional>
#include <sstream>

#include "cli/Commands.h"
#include "cli/Names.h"
#include "cli/OutputFile.h"
#include "cli/Progress.h"
#include "cli/ScanSession.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "export/ImageContainer.h"
#include "export/ImageType.h"
#include "probix/DiscReport.h"
#include "probix/ResultsFile.h"
#include "probix/ResultsRecords.h"
#include "probix/ScanEngine.h"
#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"
#include "turns/SharedDrive.h"

#include "picture/ResultsPictureFile.h"

namespace dravix::cli {

namespace {

struct ScanArgs {
    std::string speed;
    SamplingMode mode = SamplingMode::Normal;
    bool modeGiven = false;
    std::optional<int32_t> start;
    std::optional<int32_t> end;
    std::string csvPath;
    std::string imagePath;
};

bool ParseLba(const std::string& text, int32_t& value) {
    if (text.empty() || text.size() > 10) return false;
    if (!std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return false;
    const long long parsed = std::stoll(text);
    if (parsed > INT32_MAX) return false;
    value = static_cast<int32_t>(parsed);
    return true;
}

// "--speed 8X" or "--speed 8x" by the short label, "--speed 11080" by kB/s; index into the
// disc's speeds, none when it offers no such speed.
std::optional<size_t> FindSpeed(const DiscSpeeds& speeds, const std::string& wanted) {
    std::string upper = wanted;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return std::toupper(c); });
    for (size_t i = 0; i < speeds.codes.size(); ++i) {
        if (upper == ShortSpeedLabel(speeds.codes[i]) || upper == std::to_string(speeds.kbps[i])) return i;
    }
    return std::nullopt;
}

// "4X (5540 kB/s), 8X (11080 kB/s)".
std::string SpeedList(const DiscSpeeds& speeds) {
    std::string list;
    for (size_t i = 0; i < speeds.codes.size(); ++i) {
        list += (i ? ", " : "") + std::string(ShortSpeedLabel(speeds.codes[i])) + " (" +
                std::to_string(speeds.kbps[i]) + " kB/s)";
    }
    return list;
}

// What the scan CLI keeps of a run besides the results file's contents.
struct ScanRecord {
    ScanResult result;
    ScanResults file;
};

// The labelled chart (header, both criterion lines, legend), written through the image container
// in the format of the file's extension; done, or why it could not be.
Result<void> WriteImage(const std::string& path, const ScanRecord& r) {
    return WriteResultsPicture(path, r.file);
}

schema::Json SampleJson(const ScanSample& s) {
    return {{"lba", s.lba},
            {"psn", s.psn},
            {"te_raw", s.teRaw},
            {"fe_raw", s.feRaw},
            {"te_percent", s.tePercent},
            {"fe_percent", s.fePercent}};
}

int ParseArgs(CliContext& context, const CommandArgs& args, ScanArgs& parsed) {
    if (!args.words.empty()) return UnexpectedArgument(context, args.words.front());
    parsed.speed = args.Value("--speed").value_or("");
    if (const std::optional<std::string> mode = args.Value("--mode")) {
        parsed.modeGiven = true;
        if (*mode == "normal") {
            parsed.mode = SamplingMode::Normal;
        } else if (*mode == "full") {
            parsed.mode = SamplingMode::Full;
        } else if (*mode == "quick") {
            parsed.mode = SamplingMode::Quick;
        } else if (*mode == "custom") {
            parsed.mode = SamplingMode::Customize;
        } else {
            return UsageError(context, "--mode is one of normal, full, quick, custom");
        }
    }
    for (const char* option : {"--start", "--end"}) {
        const std::optional<std::string> text = args.Value(option);
        int32_t value = 0;
        if (!text) continue;
        if (!ParseLba(*text, value))
            return UsageError(context, option + std::string(" takes an LBA (a number from 0)"));
        (std::string(option) == "--start" ? parsed.start : parsed.end) = value;
    }
    parsed.csvPath = args.Value("--csv").value_or("");
    parsed.imagePath = args.Value("--image").value_or("");
    if (args.Has("--csv") && parsed.csvPath.empty()) return UsageError(context, "--csv takes a file name");
    if (args.Has("--image") && parsed.imagePath.empty())
        return UsageError(context, "--image takes a file name");
    if (parsed.speed.empty()) return UsageError(context, "scan needs --speed");
    if ((parsed.start || parsed.end) && !parsed.modeGiven) parsed.mode = SamplingMode::Customize;
    if (parsed.mode == SamplingMode::Customize && !(parsed.start && parsed.end)) {
        return UsageError(context, "--mode custom needs --start and --end");
    }
    if (parsed.mode != SamplingMode::Customize && (parsed.start || parsed.end)) {
        return UsageError(context, "--start and --end go with --mode custom");
    }
    if (!parsed.imagePath.empty() &&
        ImageTypeFromExtension(GetFileExtension(parsed.imagePath)) == ImageType::kUnknown) {
        return UsageError(context,
                          "--image: no picture format for the extension of '" + parsed.imagePath + "'");
    }
    return kExitOk;
}

// The files asked for are made only now, so that a run that failed before it measured anything
// leaves no empty file; a stopped run keeps what it measured.
bool WriteFiles(CliContext& context, const ScanArgs& parsed, const ScanRecord& record) {
    schema::Json files = schema::Json::object();
    const bool written = WriteResultsFiles(
        context,
        {{"csv", parsed.csvPath, [&](const std::string& path) { return SaveResultsFile(path, record.file); }},
         {"image", parsed.imagePath, [&](const std::string& path) { return WriteImage(path, record); }}},
        !record.file.samples.empty(), "measured", files);
    context.Result()["files"] = files;
    return written;
}

}  // namespace

int RunScan(CliContext& context, const CommandArgs& args) {
    ScanArgs parsed;
    if (const int status = ParseArgs(context, args, parsed); status != kExitOk) return status;
    // The files are checked before the drive is touched, not after a long run.
    if (const int status = CheckCommandFiles(
            context, {{parsed.csvPath, FileRole::ResultsFile}, {parsed.imagePath, FileRole::Picture}});
        status != kExitOk)
        return status;

    ScanSession session;
    if (const int status = session.Open(context); status != kExitOk) return status;
    DriveTable* table = &session.Table();
    SharedDrive& drive = session.Drive();
    const DiscSurvey& survey = session.Survey();

    const std::optional<size_t> speed = FindSpeed(survey.speeds, parsed.speed);
    if (!speed) {
        return context.Usage("the disc offers no speed '" + CliContext::Escaped(parsed.speed) +
                             "'; it offers " + SpeedList(survey.speeds));
    }

    ScanSettings settings;
    settings.discTypeCode = survey.discTypeCode;
    settings.lastLba = survey.speeds.lastLba.value_or(kDefaultLastLba);
    settings.mode = parsed.mode;
    settings.baseStep = BaseStepOf(parsed.mode);
    settings.speedCode = survey.speeds.codes[*speed];
    settings.customStart = parsed.start.value_or(0);
    settings.customEnd = parsed.end.value_or(0);
    if (parsed.mode == SamplingMode::Customize) {
        if (const char* problem = CheckRange(settings.customStart, settings.customEnd, settings.lastLba)) {
            return context.Usage(problem);
        }
    }
    const uint32_t kbps = survey.speeds.kbps[*speed];
    const ScanRange range =
        RangeOf(parsed.mode, survey.discTypeCode, settings.lastLba, settings.customStart, settings.customEnd);
    // The survey has just read the speeds, and with them the capacity.
    const DiscInformation disc = ReadDiscInformation(drive, survey.discTypeCode, &survey.speeds);

    if (!context.Json()) {
        context.Out() << "drive: " << CliContext::Escaped(table->DriveLabel()) << "\n"
                      << "disc: " << ScanDiscName(survey.discTypeCode) << " "
                      << CliContext::Escaped(disc.manufacturerId) << " " << CliContext::Escaped(disc.mediaTypeId)
                      << "\n"
                      << "speed: " << ShortSpeedLabel(settings.speedCode) << " (" << kbps << " kB/s)\n"
                      << "mode: " << SamplingModeName(parsed.mode) << ", LBA " << range.start << " up to "
                      << range.end << std::endl;
    }

    Progress progress(context.Err(), context.ShowProgress(), context.ErrIsTerminal());
    ScanRunRecord run;
    ScanCallbacks observer;
    observer.onReferences = [&](uint16_t te, uint16_t fe, int planned) {
        run.teReference = te;
        run.feReference = fe;
        progress.Start(planned);
    };
    observer.onSample = [&](const ScanSample& sample) {
        run.samples.push_back(sample);
        progress.Update(std::string(ShortSpeedLabel(settings.speedCode)) + "  LBA " + std::to_string(sample.lba),
                        sample.index + 1);
    };
    run.result = RunTeFeScan(drive, settings, observer, ScanSession::Interrupted());
    progress.End();

    ScanRecord record;
    record.result = run.result;
    record.file = ScanResultsOf({table->DriveLabel(), table->FirmwareRevision()},
                                {disc.manufacturerId, disc.mediaTypeId}, settings, kbps, std::move(run),
                                UtcTimestamp());
    const ScanResults& file = record.file;
    const ScanResult& result = record.result;

    const bool unread = disc.identifierReadFailed;
    auto idJson = [unread](const std::string& text) { return unread ? nullptr : schema::TextOrNull(text); };
    schema::Json samples = schema::Json::array();
    for (const ScanSample& s : file.samples) samples.push_back(SampleJson(s));
    auto reference = [](uint16_t value) { return value != 0 ? schema::Json(value) : nullptr; };
    schema::Json& json = context.Result();
    json["disc"] = schema::Disc(file.discType, idJson(disc.manufacturerId), idJson(disc.mediaTypeId),
                                unread ? std::nullopt : disc.lastLba);
    json["speed"] = schema::Speed(ShortSpeedLabel(file.speedCode), file.kbps);
    json["mode"] = SamplingModeName(parsed.mode);
    json["range"] = {{"start", file.range.start}, {"end", file.range.end}};
    json["last_lba"] = file.lastLba;
    json["references"] = {{"te", reference(result.teReference)}, {"fe", reference(result.feReference)}};
    json["limits"] = {{"te_percent", kTeLimitPercent}, {"fe_percent", kFeLimitPercent}};
    json["statistics"] = schema::Statistics(file.statistics);
    json["elapsed_seconds"] = result.elapsedSeconds;
    json["result"] = OutcomeName(file.outcome);
    json["text"] = OutcomeText(result);
    json["samples"] = samples;

    const bool written = WriteFiles(context, parsed, record);
    if (result.end != ScanEnd::Finished) return context.Fail(kExitFailed, OutcomeText(result));
    if (!context.Json()) context.Out() << OutcomeText(result) << std::endl;
    if (!written) return context.FailedStatus();
    return result.notRecommended ? kExitNotRecommended : kExitOk;
}

}  // namespace dravix::cli
