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
#include "cli/Progress.h"
#include "cli/ScanSession.h"
#include "cli/Terminal.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "export/ImageContainer.h"
#include "export/ImageType.h"
#include "scan/DiscReport.h"
#include "scan/ScanEngine.h"
#include "scan/ScanTexts.h"
#include "scan/SpeedList.h"
#include "ui/SharedDrive.h"

#ifdef DRAVIX_CLI_CHART_IMAGES
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>

#include "chart/ScanChartCanvas.h"
#endif

#ifndef DRAVIX_VERSION_TEXT
#define DRAVIX_VERSION_TEXT "2.0"
#endif

namespace dravix::cli {

namespace {

constexpr int kImageWidth = 640;
constexpr int kImageHeight = 360;

struct ScanArgs {
    std::string speed;
    SamplingMode mode = SamplingMode::Normal;
    bool modeGiven = false;
    std::optional<int32_t> start;
    std::optional<int32_t> end;
    std::string csvPath;
    std::string imagePath;
};

const char* ModeName(SamplingMode mode) {
    switch (mode) {
        case SamplingMode::Full:
            return "full";
        case SamplingMode::Quick:
            return "quick";
        case SamplingMode::Customize:
            return "custom";
        default:
            return "normal";
    }
}

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

std::string UtcNow() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &now);
#else
    gmtime_r(&now, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

struct ScanRecord {
    std::string driveLabel;
    std::string firmware;
    uint8_t discTypeCode = 0;
    DiscInformation disc;
    uint8_t speedCode = 0;
    uint32_t kbps = 0;
    ScanSettings settings;
    ScanRange range;
    ScanResult result;
    std::vector<ScanSample> samples;
};

// What the page would show at the end of the run.
std::string OutcomeText(const ScanResult& result) {
    switch (result.end) {
        case ScanEnd::Finished:
            return VerdictText(result);
        case ScanEnd::Stopped:
            return scan_texts::kUserAbort;
        case ScanEnd::NoVerdict:
            return NoVerdictText(result.noVerdict);
        case ScanEnd::Failed:
            break;
    }
    const FailureTexts texts = TextsOfFailure(result.path, result.outcome);
    std::string text = texts.box;
    if (std::string(texts.status) != texts.box) text += "\n" + std::string(texts.status);
    return text;
}

bool WriteCsv(const std::string& path, const ScanRecord& r, CliContext& context) {
    std::ofstream csv(path, std::ios::out | std::ios::trunc);
    if (!csv) {
        context.Fail(kExitFailed, "cannot write '" + path + "'");
        return false;
    }
    // A file that could not be written whole is not left behind as if it were the record.
    auto failed = [&] {
        csv.close();
        std::remove(path.c_str());
        context.Fail(kExitFailed, "cannot write '" + path + "'");
        return false;
    };
    std::string verdict = OutcomeText(r.result);
    std::replace(verdict.begin(), verdict.end(), '\n', ' ');
    csv << "# Dravix Probix TE/FE scan\n"
        << "# drive: " << CliContext::Escaped(r.driveLabel) << "\n"
        << "# firmware: " << CliContext::Escaped(r.firmware) << "\n"
        << "# disc type: " << ScanDiscName(r.discTypeCode) << "\n"
        << "# manufacturer id: " << CliContext::Escaped(r.disc.manufacturerId) << "\n"
        << "# media type id: " << CliContext::Escaped(r.disc.mediaTypeId) << "\n"
        << "# speed: " << ShortSpeedLabel(r.speedCode) << " (" << r.kbps << " kB/s, speed code "
        << static_cast<int>(r.speedCode) << ")\n"
        << "# mode: " << ModeName(r.settings.mode) << "\n"
        << "# range: LBA " << r.range.start << " up to " << r.range.end << " (last LBA " << r.settings.lastLba
        << ")\n"
        << "# references: te " << r.result.teReference << ", fe " << r.result.feReference << "\n"
        << "# limits: te " << kTeLimitPercent << " %, fe " << kFeLimitPercent << " %\n"
        << "# date: " << UtcNow() << "\n"
        << "# program version: " << DRAVIX_VERSION_TEXT << "\n"
        << "# verdict: " << verdict << "\n"
        << "lba,psn,te_raw,fe_raw,te_percent,fe_percent\n";
    for (const ScanSample& s : r.samples) {
        csv << s.lba << ',' << s.psn << ',' << s.teRaw << ',' << s.feRaw << ',' << s.tePercent << ','
            << s.fePercent << '\n';
    }
    csv.flush();
    if (!csv) return failed();
    csv.close();
    if (!csv) return failed();
    return true;
}

#ifdef DRAVIX_CLI_CHART_IMAGES
// The chart as the page draws it (both criterion lines shown), written through the image
// container in the format of the file's extension.
bool WriteImage(const std::string& path, const ScanRecord& r, CliContext& context) {
    std::unique_ptr<QGuiApplication> app;
    if (QCoreApplication::instance() == nullptr) {
        // Text output needs a GUI application; no display is needed for an offscreen picture.
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "dravix-cli";
        static char* argv[] = {name, nullptr};
        app = std::make_unique<QGuiApplication>(argc, argv);
    }
    ScanChartCanvas canvas;
    canvas.Create(kImageWidth, kImageHeight);
    canvas.AddSeries(qRgb(227, 28, 187));
    canvas.AddSeries(qRgb(18, 237, 221));
    canvas.AddSeries(qRgb(227, 28, 187));
    canvas.AddSeries(qRgb(18, 237, 221));
    canvas.SetRange(0.0, 40.0, 0, r.settings.lastLba, 0);
    canvas.DrawLimitLine(1, kFeLimitPercent, 1);
    canvas.DrawLimitLine(0, kTeLimitPercent, 1);
    for (const ScanSample& s : r.samples) {
        canvas.AppendPoint(2, s.tePercent, s.lba);
        canvas.AppendPoint(3, s.fePercent, s.lba);
        canvas.UpdateCurves();
    }
    const QImage picture = canvas.Render().convertToFormat(QImage::Format_RGB32);

    ImageContainer image;
    if (!image.Create(static_cast<uint32_t>(picture.width()), static_cast<uint32_t>(picture.height()), 24)) {
        context.Fail(kExitFailed, "'" + path + "': " + image.GetLastError());
        return false;
    }
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb p = picture.pixel(x, y);
            image.SetPixelColour(static_cast<uint32_t>(x), static_cast<uint32_t>(y),
                                 RgbQuad{static_cast<uint8_t>(qBlue(p)), static_cast<uint8_t>(qGreen(p)),
                                         static_cast<uint8_t>(qRed(p)), 0});
        }
    }
    if (!image.Save(path, ImageTypeFromExtension(GetFileExtension(path)))) {
        context.Fail(kExitFailed,
                     "cannot write '" + path + "'" + (image.OpenFailed() ? "" : ": " + image.GetLastError()));
        return false;
    }
    return true;
}
#else
bool WriteImage(const std::string& /*path*/, const ScanRecord& /*r*/, CliContext& context) {
    context.Fail(kExitFailed, "this build writes no pictures (it was built without the GUI)");
    return false;
}
#endif

schema::Json SampleJson(const ScanSample& s) {
    return {{"lba", s.lba},
            {"psn", s.psn},
            {"te_raw", s.teRaw},
            {"fe_raw", s.feRaw},
            {"te_percent", s.tePercent},
            {"fe_percent", s.fePercent}};
}

int ParseArgs(CliContext& context, const std::vector<std::string>& args, ScanArgs& parsed) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (!hasValue && (arg == "--speed" || arg == "--mode" || arg == "--start" || arg == "--end" ||
                          arg == "--csv" || arg == "--image")) {
            return UsageError(context, arg + " takes a value");
        } else if (arg == "--speed") {
            parsed.speed = args[++i];
        } else if (arg == "--mode") {
            const std::string& mode = args[++i];
            parsed.modeGiven = true;
            if (mode == "normal") {
                parsed.mode = SamplingMode::Normal;
            } else if (mode == "full") {
                parsed.mode = SamplingMode::Full;
            } else if (mode == "quick") {
                parsed.mode = SamplingMode::Quick;
            } else if (mode == "custom") {
                parsed.mode = SamplingMode::Customize;
            } else {
                return UsageError(context, "--mode is one of normal, full, quick, custom");
            }
        } else if (arg == "--start" || arg == "--end") {
            int32_t value = 0;
            if (!ParseLba(args[++i], value))
                return UsageError(context, arg + " takes an LBA (a number from 0)");
            (arg == "--start" ? parsed.start : parsed.end) = value;
        } else if (arg == "--csv") {
            parsed.csvPath = args[++i];
        } else if (arg == "--image") {
            parsed.imagePath = args[++i];
        } else {
            return UnexpectedArgument(context, arg);
        }
    }
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

const char* OutcomeName(const ScanResult& result) {
    switch (result.end) {
        case ScanEnd::Stopped:
            return "stopped";
        case ScanEnd::Failed:
            return "failed";
        case ScanEnd::NoVerdict:
            return "no_verdict";
        case ScanEnd::Finished:
            break;
    }
    return result.notRecommended ? "not_recommended" : "ok";
}

// Writes the files asked for. They are made only now, so that a run that failed before it
// measured anything leaves no empty file; a stopped run keeps what it measured. False when one
// could not be written.
bool WriteFiles(CliContext& context, const ScanArgs& parsed, const ScanRecord& record) {
    bool allWritten = true;
    schema::Json files = {{"csv", nullptr}, {"image", nullptr}};
    const bool measured = !record.samples.empty();
    for (const auto& [key, path] : {std::pair{"csv", parsed.csvPath}, std::pair{"image", parsed.imagePath}}) {
        if (path.empty()) continue;
        if (!measured) {
            context.Note("'" + path + "' was not written: nothing was measured");
            continue;
        }
        const bool written =
            std::string(key) == "csv" ? WriteCsv(path, record, context) : WriteImage(path, record, context);
        if (written) files[key] = path;
        allWritten = allWritten && written;
    }
    context.Result()["files"] = files;
    return allWritten;
}

}  // namespace

int RunScan(CliContext& context, const std::vector<std::string>& args) {
    ScanArgs parsed;
    if (const int status = ParseArgs(context, args, parsed); status != kExitOk) return status;
    // The files' folders are checked before the drive is touched, not after a long run.
    for (const std::string& path : {parsed.csvPath, parsed.imagePath}) {
        if (path.empty()) continue;
        if (const std::string problem = OutputFileProblem(path); !problem.empty())
            return context.Fail(kExitFailed, problem);
    }

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

    ScanRecord record;
    record.driveLabel = table->DriveLabel();
    record.firmware = table->FirmwareRevision();
    record.discTypeCode = survey.discTypeCode;
    record.speedCode = survey.speeds.codes[*speed];
    record.kbps = survey.speeds.kbps[*speed];
    record.settings.discTypeCode = survey.discTypeCode;
    record.settings.lastLba = survey.speeds.lastLba.value_or(kDefaultLastLba);
    record.settings.mode = parsed.mode;
    record.settings.baseStep = BaseStepOf(parsed.mode);
    record.settings.speedCode = record.speedCode;
    record.settings.customStart = parsed.start.value_or(0);
    record.settings.customEnd = parsed.end.value_or(0);
    if (parsed.mode == SamplingMode::Customize) {
        if (const char* problem =
                CheckRange(record.settings.customStart, record.settings.customEnd, record.settings.lastLba)) {
            return context.Usage(problem);
        }
    }
    record.range = RangeOf(parsed.mode, record.discTypeCode, record.settings.lastLba,
                           record.settings.customStart, record.settings.customEnd);
    record.disc = ReadDiscInformation(drive, record.discTypeCode);

    if (!context.Json()) {
        context.Out() << "drive: " << CliContext::Escaped(record.driveLabel) << "\n"
                      << "disc: " << ScanDiscName(record.discTypeCode) << " "
                      << CliContext::Escaped(record.disc.manufacturerId) << " "
                      << CliContext::Escaped(record.disc.mediaTypeId) << "\n"
                      << "speed: " << ShortSpeedLabel(record.speedCode) << " (" << record.kbps << " kB/s)\n"
                      << "mode: " << ModeName(parsed.mode) << ", LBA " << record.range.start << " up to "
                      << record.range.end << std::endl;
    }

    Progress progress(context.Err(), context.ShowProgress(), context.ErrIsTerminal());
    ScanCallbacks observer;
    observer.onReferences = [&](uint16_t, uint16_t, int planned) { progress.Start(planned); };
    observer.onSample = [&](const ScanSample& sample) {
        record.samples.push_back(sample);
        progress.Update(
            std::string(ShortSpeedLabel(record.speedCode)) + "  LBA " + std::to_string(sample.lba),
            sample.index + 1);
    };
    record.result = RunTeFeScan(drive, record.settings, observer, ScanSession::Interrupted());
    progress.End();

    const ScanResult& result = record.result;
    const bool unread = record.disc.identifierReadFailed;
    auto idJson = [unread](const std::string& text) { return unread ? nullptr : schema::TextOrNull(text); };
    schema::Json samples = schema::Json::array();
    for (const ScanSample& s : record.samples) samples.push_back(SampleJson(s));
    auto reference = [](uint16_t value) { return value != 0 ? schema::Json(value) : nullptr; };
    schema::Json& json = context.Result();
    json["disc"] = schema::Disc(ScanDiscName(record.discTypeCode), idJson(record.disc.manufacturerId),
                                idJson(record.disc.mediaTypeId), unread ? std::nullopt : record.disc.lastLba);
    json["speed"] = schema::Speed(ShortSpeedLabel(record.speedCode), record.kbps);
    json["mode"] = ModeName(parsed.mode);
    json["range"] = {{"start", record.range.start}, {"end", record.range.end}};
    json["last_lba"] = record.settings.lastLba;
    json["references"] = {{"te", reference(result.teReference)}, {"fe", reference(result.feReference)}};
    json["limits"] = {{"te_percent", kTeLimitPercent}, {"fe_percent", kFeLimitPercent}};
    json["statistics"] = {{"te", {{"over_limit", result.teOverLimit}}},
                          {"fe", {{"over_limit", result.feOverLimit}}}};
    json["elapsed_seconds"] = result.elapsedSeconds;
    json["result"] = OutcomeName(result);
    json["text"] = OutcomeText(result);
    json["samples"] = samples;

    const bool written = WriteFiles(context, parsed, record);
    if (result.end != ScanEnd::Finished) return context.Fail(kExitFailed, OutcomeText(result));
    if (!context.Json()) context.Out() << OutcomeText(result) << std::endl;
    if (!written) return context.FailedStatus();
    return result.notRecommended ? kExitNotRecommended : kExitOk;
}

}  // namespace dravix::cli
