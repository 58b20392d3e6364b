// scan: the Probix TE/FE measurement of the page, from the command line: the same engine, the
// page's texts and verdict, a progress line on a terminal, and the samples as CSV or a chart.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "cli/Commands.h"
#include "cli/ScanSession.h"
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
    bool json = false;
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

std::string SpeedList(const DiscSpeeds& speeds) {
    std::string list;
    for (size_t i = 0; i < speeds.codes.size(); ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "  %-5s %6lu kB/s\n", ShortSpeedLabel(speeds.codes[i]),
                      static_cast<unsigned long>(speeds.kbps[i]));
        list += line;
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

// The terminal's progress line: position, samples, elapsed and estimated time left.
class ProgressLine final {
  public:
    explicit ProgressLine(bool shown) : m_shown(shown) {}

    void Start(int planned) {
        m_planned = planned;
        m_started = std::chrono::steady_clock::now();
    }
    void Sample(const ScanSample& sample) {
        if (!m_shown) return;
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started).count();
        const int done = sample.index + 1;
        const double left = done > 0 ? elapsed / done * (m_planned - done) : 0.0;
        std::fprintf(stderr, "\r  LBA %8ld   sample %4d/%-4d   elapsed %5.0f s   left ~%5.0f s ",
                     static_cast<long>(sample.lba), done, m_planned, elapsed, left);
        std::fflush(stderr);
    }
    void End() {
        if (m_shown && m_planned >= 0) {
            std::fprintf(stderr, "\r%78s\r", "");
            std::fflush(stderr);
        }
    }

  private:
    bool m_shown;
    int m_planned = -1;
    std::chrono::steady_clock::time_point m_started;
};

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
        case ScanEnd::Failed:
            break;
    }
    const FailureTexts texts = TextsOfFailure(result.path, result.outcome);
    std::string text = texts.box;
    if (std::string(texts.status) != texts.box) text += "\n" + std::string(texts.status);
    return text;
}

bool WriteCsv(const std::string& path, const ScanRecord& r, std::ostream& err) {
    std::ofstream csv(path, std::ios::out | std::ios::trunc);
    if (!csv) {
        err << "dravix-cli: cannot write " << path << std::endl;
        return false;
    }
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
    if (!csv) {
        err << "dravix-cli: cannot write " << path << std::endl;
        return false;
    }
    return true;
}

#ifdef DRAVIX_CLI_CHART_IMAGES
// The chart as the page draws it (both criterion lines shown), written through the image
// container in the format of the file's extension.
bool WriteImage(const std::string& path, const ScanRecord& r, std::ostream& err) {
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
        err << "dravix-cli: " << image.GetLastError() << std::endl;
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
        err << "dravix-cli: cannot write " << path;
        if (!image.OpenFailed()) err << ": " << image.GetLastError();
        err << std::endl;
        return false;
    }
    return true;
}
#else
bool WriteImage(const std::string& /*path*/, const ScanRecord& /*r*/, std::ostream& err) {
    err << "dravix-cli: this build writes no pictures (it was built without the GUI)" << std::endl;
    return false;
}
#endif

nlohmann::json SampleJson(const ScanSample& s) {
    return {{"lba", s.lba},
            {"psn", s.psn},
            {"te_raw", s.teRaw},
            {"fe_raw", s.feRaw},
            {"te_percent", s.tePercent},
            {"fe_percent", s.fePercent}};
}

int ParseArgs(CliContext& context, const std::vector<std::string>& args, ScanArgs& parsed) {
    parsed.json = context.Options().json;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const bool hasValue = i + 1 < args.size();
        if (arg == "--json") {
            parsed.json = true;
        } else if (!hasValue && (arg == "--speed" || arg == "--mode" || arg == "--start" || arg == "--end" ||
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
            return UsageError(context, "scan: unknown argument '" + arg + "'");
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

}  // namespace

int RunScan(CliContext& context, const std::vector<std::string>& args) {
    ScanArgs parsed;
    if (const int status = ParseArgs(context, args, parsed); status != kExitOk) return status;

    ScanSession session;
    if (const int status = session.Open(context); status != kExitOk) return status;
    DriveTable* table = &session.Table();
    SharedDrive& drive = session.Drive();
    const DiscSurvey& survey = session.Survey();
    const StopRequested interrupted = session.Interrupted();

    const std::optional<size_t> speed = FindSpeed(survey.speeds, parsed.speed);
    if (!speed) {
        context.Err() << "dravix-cli: the disc offers no speed '" << CliContext::Escaped(parsed.speed)
                      << "'; its speeds are:\n"
                      << SpeedList(survey.speeds);
        return kExitUsage;
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
            context.Err() << problem << std::endl;
            return kExitUsage;
        }
    }
    record.range = RangeOf(parsed.mode, record.discTypeCode, record.settings.lastLba,
                           record.settings.customStart, record.settings.customEnd);
    record.disc = ReadDiscInformation(drive, record.discTypeCode);

    if (!parsed.json) {
        context.Out() << "drive: " << CliContext::Escaped(record.driveLabel) << "\n"
                      << "disc: " << ScanDiscName(record.discTypeCode) << " "
                      << CliContext::Escaped(record.disc.manufacturerId) << " "
                      << CliContext::Escaped(record.disc.mediaTypeId) << "\n"
                      << "speed: " << ShortSpeedLabel(record.speedCode) << " (" << record.kbps << " kB/s)\n"
                      << "mode: " << ModeName(parsed.mode) << ", LBA " << record.range.start << " up to "
                      << record.range.end << std::endl;
    }

#ifdef _WIN32
    const bool terminal = false;
#else
    const bool terminal = &context.Err() == &std::cerr && isatty(STDERR_FILENO) != 0;
#endif
    ProgressLine progress(terminal);
    ScanCallbacks observer;
    observer.onReferences = [&](uint16_t, uint16_t, int planned) { progress.Start(planned); };
    observer.onSample = [&](const ScanSample& sample) {
        record.samples.push_back(sample);
        progress.Sample(sample);
    };
    record.result = RunTeFeScan(drive, record.settings, observer, interrupted);
    progress.End();

    bool written = true;
    if (!parsed.csvPath.empty()) written = WriteCsv(parsed.csvPath, record, context.Err()) && written;
    if (!parsed.imagePath.empty()) written = WriteImage(parsed.imagePath, record, context.Err()) && written;

    const ScanResult& result = record.result;
    if (parsed.json) {
        nlohmann::json samples = nlohmann::json::array();
        for (const ScanSample& s : record.samples) samples.push_back(SampleJson(s));
        const char* outcome = result.end == ScanEnd::Stopped  ? "stopped"
                              : result.end == ScanEnd::Failed ? "failed"
                              : result.notRecommended         ? "not recommended"
                                                              : "ok";
        context.PrintJson({{"drive", record.driveLabel},
                           {"firmware", record.firmware},
                           {"disc", ScanDiscName(record.discTypeCode)},
                           {"manufacturer_id", record.disc.manufacturerId},
                           {"media_type_id", record.disc.mediaTypeId},
                           {"speed", ShortSpeedLabel(record.speedCode)},
                           {"speed_kbps", record.kbps},
                           {"mode", ModeName(parsed.mode)},
                           {"start", record.range.start},
                           {"end", record.range.end},
                           {"last_lba", record.settings.lastLba},
                           {"te_reference", result.teReference},
                           {"fe_reference", result.feReference},
                           {"te_limit", kTeLimitPercent},
                           {"fe_limit", kFeLimitPercent},
                           {"te_over_limit", result.teOverLimit},
                           {"fe_over_limit", result.feOverLimit},
                           {"elapsed_seconds", result.elapsedSeconds},
                           {"result", outcome},
                           {"text", OutcomeText(result)},
                           {"samples", samples}});
    } else {
        context.Out() << OutcomeText(result) << std::endl;
    }

    if (result.end != ScanEnd::Finished) return kExitFailed;
    if (!written) return kExitFailed;
    return result.notRecommended ? kExitNotRecommended : kExitOk;
}

}  // namespace dravix::cli
