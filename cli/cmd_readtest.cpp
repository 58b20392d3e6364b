// readtest: the read test from the command line: reads a recorded disc back with standard commands
// on any drive (no support check, no vendor command), and tells the transfer rate, the sectors that
// could not be read, how the data compares with an image, or the access times.

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <thread>

#include "cli/Commands.h"
#include "cli/Names.h"
#include "cli/OutputFile.h"
#include "cli/Progress.h"
#include "cli/Terminal.h"
#include "drive/DriveTable.h"
#include "drive/InfoCommands.h"
#include "export/ImageType.h"
#include "probix/BenchmarkTable.h"
#include "probix/ReadTest.h"
#include "probix/ReadTestFile.h"
#include "probix/ResultsFile.h"
#include "probix/ResultsRecords.h"
#include "probix/ScanTexts.h"
#include "turns/SharedDrive.h"

#include "picture/ResultsPictureFile.h"

namespace dravix::cli {

namespace {

// The highest speed a user may ask for: beyond any CD or DVD drive.
constexpr double kFastestSpeedX = 100.0;
// How often the command looks for Ctrl+C while the run goes on its own thread.
constexpr std::chrono::milliseconds kStopPoll{50};

struct ReadTestArgs {
    ReadTestSettings settings;
    std::string speedText = "max";
    std::string verifyPath;
    std::string csvPath;
    std::string imagePath;
};

bool ParseLba(const std::string& text, uint32_t& value) {
    if (text.empty() || text.size() > 10 ||
        !std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return false;
    const unsigned long long parsed = std::stoull(text);
    if (parsed > UINT32_MAX) return false;
    value = static_cast<uint32_t>(parsed);
    return true;
}

// "max", or a speed in X: "8X", "8x", "2.4X".
bool ParseSpeed(const std::string& text, ReadSpeed& speed) {
    std::string lower = text;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return std::tolower(c); });
    if (lower == "max") {
        speed = ReadSpeed{};
        return true;
    }
    if (lower.size() < 2 || lower.back() != 'x') return false;
    const std::string number = lower.substr(0, lower.size() - 1);
    if (!std::all_of(number.begin(), number.end(),
                     [](unsigned char c) { return std::isdigit(c) || c == '.'; }) ||
        std::count(number.begin(), number.end(), '.') > 1 || number.front() == '.' || number.back() == '.')
        return false;
    const double x = std::stod(number);
    if (x <= 0 || x > kFastestSpeedX) return false;
    speed.x = x;
    return true;
}

int ParseArgs(CliContext& context, const CommandArgs& args, ReadTestArgs& parsed) {
    if (!args.words.empty()) return UnexpectedArgument(context, args.words.front());
    ReadTestSettings& s = parsed.settings;
    if (const std::optional<std::string> mode = args.Value("--mode")) {
        if (*mode == "transfer") {
            s.kind = ReadTestKind::Transfer;
        } else if (*mode == "errors") {
            s.kind = ReadTestKind::Errors;
        } else if (*mode == "seek") {
            s.kind = ReadTestKind::Seek;
        } else if (*mode == "benchmark") {
            s.kind = ReadTestKind::Benchmark;
        } else {
            return UsageError(context, "--mode is one of transfer, errors, seek, benchmark");
        }
    }
    s.loadEject = args.Has("--load-eject");
    if (s.loadEject && s.kind != ReadTestKind::Benchmark)
        return UsageError(context, "--load-eject goes with --mode benchmark");
    if (const std::optional<std::string> speed = args.Value("--speed")) {
        if (!ParseSpeed(*speed, s.speed))
            return UsageError(context, "--speed is max or a speed in X up to 100X (8X, 2.4X)");
        parsed.speedText = *speed;
    }
    for (const char* option : {"--start", "--end"}) {
        const std::optional<std::string> text = args.Value(option);
        uint32_t value = 0;
        if (!text) continue;
        if (!ParseLba(*text, value))
            return UsageError(context, option + std::string(" takes an LBA (a number from 0)"));
        (std::string(option) == "--start" ? s.startLba : s.endLba) = value;
    }
    s.quick = args.Has("--quick");
    if (s.kind == ReadTestKind::Benchmark && (s.startLba || s.endLba))
        return UsageError(context, "--mode benchmark reads the whole disc: no --start or --end");
    if (s.quick && (s.startLba || s.endLba))
        return UsageError(context, "--quick reads the whole disc: no --start or --end");
    if (s.startLba && s.endLba && *s.startLba > *s.endLba)
        return UsageError(context, "--start is after --end");
    for (const auto& [option, path] :
         {std::pair{"--verify", &parsed.verifyPath}, std::pair{"--csv", &parsed.csvPath},
          std::pair{"--image", &parsed.imagePath}}) {
        *path = args.Value(option).value_or("");
        if (args.Has(option) && path->empty())
            return UsageError(context, option + std::string(" takes a file name"));
    }
    if ((s.kind == ReadTestKind::Seek || s.kind == ReadTestKind::Benchmark) && !parsed.verifyPath.empty())
        return UsageError(context, "--verify goes with --mode transfer or errors");
    if (s.quick && !parsed.verifyPath.empty())
        return UsageError(context, "--verify compares every sector: no --quick");
    if (!parsed.imagePath.empty() &&
        ImageTypeFromExtension(GetFileExtension(parsed.imagePath)) == ImageType::kUnknown) {
        return UsageError(context,
                          "--image: no picture format for the extension of '" + parsed.imagePath + "'");
    }
    return kExitOk;
}

std::string RangeText(const SectorRange& r) {
    return r.first == r.last ? "LBA " + std::to_string(r.first)
                             : "LBA " + std::to_string(r.first) + "-" + std::to_string(r.last);
}

std::string SenseText(const FailedRange& f) {
    if (f.status == kCommandTimedOut) return "time-out";
    if (f.sense == Sense{}) return "no sense (the drive was busy or sent too little)";
    char text[32];
    std::snprintf(text, sizeof text, "sense %02X/%02X/%02X", f.sense.key, f.sense.asc, f.sense.ascq);
    return text;
}

std::string Decimal(double value, int decimals) {
    return DecimalText(value, decimals);
}

// Rounded for JSON, so that a figure does not carry the noise of a timer's last digits.
double Rounded(double value, double scale = 1000.0) {
    return std::round(value * scale) / scale;
}

schema::Json RangeJson(const SectorRange& r) {
    return {{"first", r.first}, {"last", r.last}, {"sectors", r.Count()}};
}

schema::Json LayoutJson(const ReadTestRecord& record) {
    const DiscLayout& layout = record.result.layout;
    schema::Json tracks = schema::Json::array();
    for (const LayoutTrack& t : layout.tracks) {
        tracks.push_back({{"number", t.number},
                          {"session", t.session},
                          {"first_lba", t.firstLba},
                          {"last_lba", t.lastLba},
                          {"data", t.data}});
    }
    schema::Json notes = schema::Json::array();
    for (const std::string& note : layout.notes) notes.push_back(note);
    const uint64_t sectors = uint64_t{layout.lastLba} + 1;
    return {{"type", schema::TextOrNull(record.discType)},
            {"profile", layout.profile},
            {"last_lba", layout.lastLba},
            {"capacity_bytes", sectors * kSectorSize},
            {"capacity_mb", std::round(static_cast<double>(sectors) * kSectorSize / 1048576.0 * 10.0) / 10.0},
            {"sessions", layout.sessions},
            {"layers", layout.layers},
            {"layer_break_lba",
             layout.layerBreakLba ? schema::Json(*layout.layerBreakLba) : schema::Json(nullptr)},
            {"tracks", tracks},
            {"track_source", TrackSourceName(layout.trackSource)},
            {"max_read_speed_x",
             layout.maxReadSpeedX > 0 ? schema::Json(Rounded(layout.maxReadSpeedX)) : nullptr},
            {"notes", notes}};
}

schema::Json BenchmarkJson(const ReadTestResult& r) {
    schema::Json tests = schema::Json::array();
    for (const BenchmarkRow& row : BenchmarkRows(r)) {
        tests.push_back({{"test", row.test},
                         {"value", row.value ? schema::Json(Rounded(*row.value)) : schema::Json(nullptr)},
                         {"unit", row.unit},
                         {"note", row.note.empty() ? schema::Json(nullptr) : schema::Json(row.note)}});
    }
    return tests;
}

void PrintBenchmark(CliContext& context, const ReadTestResult& r) {
    std::ostream& out = context.Out();
    const std::vector<BenchmarkRow> rows = BenchmarkRows(r);
    size_t width = 0;
    for (const BenchmarkRow& row : rows) width = std::max(width, std::string(row.label).size());
    out << "benchmark:\n";
    for (const BenchmarkRow& row : rows) {
        std::string label = row.label;
        label.resize(width + 2, ' ');
        out << "  " << label << BenchmarkFigureText(row) << "\n";
    }
}

schema::Json ResultJson(const ReadTestRecord& record, const ReadTestArgs& args) {
    const ReadTestResult& r = record.result;
    schema::Json json = schema::Json::object();
    json["disc"] = LayoutJson(record);
    json["mode"] = ReadTestKindName(r.kind);
    json["quick"] = r.quick;
    json["speed"] = {{"requested", args.settings.speed.IsMax() ? std::string("max")
                                                               : Decimal(args.settings.speed.x, 1) + "X"},
                     {"method", SpeedMethodName(r.speed.method)},
                     {"kbps", r.speed.kbps},
                     {"text", r.speed.text},
                     {"answer_lost", r.speed.answerLost},
                     {"reported_x", r.speed.reportedX > 0 ? schema::Json(r.speed.reportedX) : nullptr}};
    json["range"] = {{"start", r.range.first}, {"end", r.range.last}};
    json["request_sectors"] = r.requestSectors;
    json["sectors"] = {{"planned", r.plannedSectors},
                       {"read", r.readSectors},
                       {"recovered", r.recoveredSectors},
                       {"failed", r.failedSectors},
                       {"skipped", r.skippedSectors}};
    schema::Json failures = schema::Json::array();
    for (const FailedRange& f : r.failures) {
        schema::Json item = RangeJson(f.range);
        item["timed_out"] = f.status == kCommandTimedOut;
        item["sense"] = {{"key", f.sense.key}, {"asc", f.sense.asc}, {"ascq", f.sense.ascq}};
        failures.push_back(item);
    }
    json["failed"] = failures;
    schema::Json skipped = schema::Json::array();
    for (const SectorRange& s : r.skipped) skipped.push_back(RangeJson(s));
    json["skipped"] = skipped;
    schema::Json audio = schema::Json::array();
    for (const SectorRange& a : r.audioTracks) audio.push_back(RangeJson(a));
    json["audio_tracks_skipped"] = audio;
    if (r.transfer) {
        const TransferSummary& t = *r.transfer;
        const CurveRotation rotation = RotationOf(r);
        json["transfer"] = {{"start_x", Rounded(t.startX)},
                            {"end_x", Rounded(t.endX)},
                            {"average_x", Rounded(t.averageX)},
                            {"minimum_x", Rounded(t.minimumX)},
                            {"minimum_lba", t.minimumLba},
                            {"read_mode", ReadModeName(t.mode)},
                            {"start_rpm", Rounded(rotation.start, 1)},
                            {"end_rpm", Rounded(rotation.end, 1)},
                            {"max_rpm", Rounded(rotation.top, 1)}};
    } else {
        json["transfer"] = nullptr;
    }
    if (r.verify) {
        const VerifySummary& v = *r.verify;
        const std::optional<bool> matches = VerifyMatches(r);
        schema::Json differences = schema::Json::array();
        for (const SectorRange& d : v.differences) differences.push_back(RangeJson(d));
        const char* length = v.length == LengthMatch::Same          ? "same"
                             : v.length == LengthMatch::DiscShorter ? "disc_shorter"
                             : v.length == LengthMatch::DiscLonger  ? "disc_longer"
                                                                    : nullptr;
        schema::Json verify = {{"image_sectors", v.imageSectors},
                               {"compared_sectors", v.comparedSectors},
                               {"differing_sectors", v.differingSectors},
                               {"unread_sectors", v.uncomparedSectors},
                               {"differences", differences},
                               {"length", length ? schema::Json(length) : schema::Json(nullptr)},
                               {"length_difference", v.lengthDifference},
                               {"image_read_failed", v.imageReadFailed},
                               {"complete", VerifyComplete(r)},
                               {"matches", matches ? schema::Json(*matches) : schema::Json(nullptr)}};
        PutName(verify, "image", args.verifyPath);
        json["verify"] = verify;
    } else {
        json["verify"] = nullptr;
    }
    if (r.access) {
        const AccessSummary& a = *r.access;
        auto series = [](const AccessSeries& s) {
            return schema::Json{
                {"reads", s.reads}, {"average_ms", Rounded(s.averageMs)}, {"worst_ms", Rounded(s.worstMs)}};
        };
        json["access"] = {{"random", series(a.random)},          {"one_third", series(a.oneThird)},
                          {"full_stroke", series(a.fullStroke)}, {"average_ms", Rounded(a.averageMs)},
                          {"worst_ms", Rounded(a.worstMs)},      {"failed_reads", a.failedReads}};
    } else {
        json["access"] = nullptr;
    }
    schema::Json points = schema::Json::array();
    for (const SpeedPoint& p : r.points)
        points.push_back({{"lba", p.lba},
                          {"position_gb", Rounded(PositionGigabytes(p.lba), 1e6)},
                          {"speed_x", Rounded(p.speedX)},
                          {"rpm", Rounded(p.rpm, 1)}});
    json["points"] = points;
    json["benchmark"] = r.benchmark ? BenchmarkJson(r) : schema::Json(nullptr);
    json["elapsed_seconds"] = Rounded(r.elapsedSeconds);
    json["end"] = ReadTestEndName(r.end);
    const bool endsAtLba = r.end == ReadTestEnd::DriveNotAnswering || r.end == ReadTestEnd::ConnectionFailed;
    json["end_lba"] = endsAtLba ? schema::Json(r.endLba) : schema::Json(nullptr);
    json["result"] = ReadTestOutcomeName(r);
    schema::Json verdict = schema::Json::array();
    for (const std::string& line : VerdictLines(r)) verdict.push_back(line);
    json["verdict"] = verdict;
    return json;
}

// What the terminal shows once the layout is known.
void PrintLayout(CliContext& context, const ReadTestRecord& record) {
    const DiscLayout& layout = record.result.layout;
    const uint64_t sectors = uint64_t{layout.lastLba} + 1;
    size_t data = 0;
    for (const LayoutTrack& t : layout.tracks) data += t.data ? 1 : 0;
    context.Out() << "drive: " << CliContext::Escaped(record.driveLabel) << "\n"
                  << "disc: " << record.discType << ", " << CountText(kSectorCount, sectors) << " ("
                  << Decimal(static_cast<double>(sectors) * kSectorSize / 1048576.0, 1) << " MB), "
                  << static_cast<int>(layout.layers) << (layout.layers == 1 ? " layer" : " layers") << ", "
                  << layout.tracks.size() << (layout.tracks.size() == 1 ? " track" : " tracks");
    if (data != layout.tracks.size())
        context.Out() << " (" << layout.tracks.size() - data << " audio, not read)";
    if (layout.layerBreakLba) context.Out() << ", layer break at LBA " << *layout.layerBreakLba;
    context.Out() << "\n"
                  << "speed: " << record.result.speed.text << std::endl;
}

void PrintResult(CliContext& context, const ReadTestRecord& record) {
    const ReadTestResult& r = record.result;
    std::ostream& out = context.Out();
    if (r.kind != ReadTestKind::Seek) {
        out << "read: " << ReadTestKindName(r.kind) << (r.quick ? " (quick)" : "") << ", LBA "
            << r.range.first << " up to " << r.range.last << ": " << r.readSectors << " of "
            << CountText(kSectorCount, r.plannedSectors) << " read";
        if (r.recoveredSectors > 0) out << " (" << CountText(kReadAfterRetries, r.recoveredSectors) << ")";
        out << ", " << r.failedSectors << " failed, " << r.skippedSectors << " skipped\n";
    }
    if (r.transfer) {
        const TransferSummary& t = *r.transfer;
        out << "speed: start " << Decimal(t.startX, 2) << "X, end " << Decimal(t.endX, 2) << "X, average "
            << Decimal(t.averageX, 2) << "X, minimum " << Decimal(t.minimumX, 2) << "X at LBA "
            << t.minimumLba << "\n"
            << "read mode: " << ReadModeName(t.mode) << "\n";
        const CurveRotation rotation = RotationOf(r);
        out << "rotation: start " << Decimal(rotation.start, 0) << " RPM, end " << Decimal(rotation.end, 0)
            << " RPM, fastest " << Decimal(rotation.top, 0) << " RPM\n";
    }
    for (const FailedRange& f : r.failures)
        out << "unreadable: " << RangeText(f.range) << " (" << f.range.Count() << "), " << SenseText(f)
            << "\n";
    for (const SectorRange& s : r.skipped) out << "skipped: " << RangeText(s) << " (" << s.Count() << ")\n";
    if (r.verify) {
        for (const SectorRange& d : r.verify->differences)
            out << "differs: " << RangeText(d) << " (" << d.Count() << ")\n";
        if (r.verify->differingSectors > 0 && r.verify->differences.size() == kListedDifferences)
            out << "differs: (only the first " << kListedDifferences << " ranges are listed)\n";
    }
    if (r.access) {
        const AccessSummary& a = *r.access;
        auto series = [&](const char* name, const AccessSeries& s) {
            out << "access " << name << ": " << Decimal(s.averageMs, 1) << " ms average, "
                << Decimal(s.worstMs, 1) << " ms worst ("
                << CountText(kReadCount, static_cast<unsigned long long>(s.reads)) << ")\n";
        };
        series("random", a.random);
        series("one third", a.oneThird);
        series("full stroke", a.fullStroke);
        out << "access: " << Decimal(a.averageMs, 1) << " ms average, " << Decimal(a.worstMs, 1)
            << " ms worst";
        if (a.failedReads > 0)
            out << ", " << CountText(kReadCount, static_cast<unsigned long long>(a.failedReads)) << " failed";
        out << "\n";
    }
    if (r.benchmark) PrintBenchmark(context, r);
    for (const std::string& line : VerdictLines(r)) out << line << "\n";
    out << std::flush;
}

bool WriteFiles(CliContext& context, const ReadTestArgs& args, const ReadTestRecord& record) {
    const ReadTestResult& r = record.result;
    const bool measured = r.readSectors + r.failedSectors + r.skippedSectors > 0 || r.access.has_value();
    schema::Json files = schema::Json::object();
    const bool written = WriteResultsFiles(
        context,
        {{"csv", args.csvPath, [&](const std::string& path) { return SaveReadTestFile(path, record); }},
         {"image", args.imagePath,
          [&](const std::string& path) { return WriteReadTestPicture(path, record); }}},
        measured, "read", files);
    context.Result()["files"] = files;
    return written;
}

int ExitOfNotReadable(NotReadableReason reason) {
    switch (reason) {
        case NotReadableReason::NoDisc:
        case NotReadableReason::Blank:
        case NotReadableReason::NoDataTrack:
        case NotReadableReason::Unreadable:
            return kExitNoDrive;
        case NotReadableReason::EmptyRange:
            return kExitUsage;
        case NotReadableReason::DriveFailed:
        case NotReadableReason::None:
            break;
    }
    return kExitFailed;
}

}  // namespace

int RunReadTest(CliContext& context, const CommandArgs& args) {
    ReadTestArgs parsed;
    if (const int status = ParseArgs(context, args, parsed); status != kExitOk) return status;
    // Files are checked before the drive is touched, not after a long run; no output may be the
    // image or the other output.
    if (const int status = CheckCommandFiles(context, {{parsed.verifyPath, FileRole::Input},
                                                       {parsed.csvPath, FileRole::ResultsFile},
                                                       {parsed.imagePath, FileRole::Picture}});
        status != kExitOk)
        return status;
    std::unique_ptr<VerifyImage> image;
    if (!parsed.verifyPath.empty()) {
        Result<std::unique_ptr<VerifyImage>> opened = OpenImageFile(parsed.verifyPath);
        if (!opened)
            return context.Fail(kExitFailed,
                                "cannot read the image " + CliContext::Escaped(opened.Failure().text));
        image = std::move(opened).Value();
        parsed.settings.image = image.get();
    }

    // The tray moves only when the user agreed: --yes, or an answer on the terminal.
    if (parsed.settings.loadEject) {
        if (!context.CanAsk())
            return context.Usage(
                "--load-eject opens and closes the tray: give --yes, or run it on a terminal "
                "to be asked");
        if (!context.Confirm(kLoadEjectQuestion)) return context.Fail(kExitFailed, "Cancelled.");
    }

    DriveTable* table = context.UseDrive(DriveNeeds{});
    if (table == nullptr) return context.FailedStatus();
    SharedDrive drive(*table);

    const RecordDrive recordDrive{table->DriveLabel(), table->FirmwareRevision()};
    // The layout as the run found it, printed before the run reads.
    ReadTestRecord record = ReadTestRecordOf(recordDrive, parsed.verifyPath, {}, {});

    Progress progress(context.Err(), context.ShowProgress(), context.ErrIsTerminal());
    bool progressStarted = false;
    bool progressOfSeeks = false;  // a benchmark goes from reading the zones to seeking
    ReadTestCallbacks observer;
    observer.onLayout = [&](const DiscLayout& layout, const SpeedSetting& speed) {
        record.discType = DiscTypeOfProfile(layout.profile).name;
        record.result.layout = layout;
        record.result.speed = speed;
        for (const std::string& note : layout.notes) context.Note(note);
        if (!context.Json()) PrintLayout(context, record);
    };
    observer.onProgress = [&](const ReadTestProgress& p) {
        // A benchmark's step moves no count: the bars stay as the reads left them.
        if (p.step != nullptr) return;
        const bool seek = p.seeksPlanned > 0;
        if (progressStarted && seek != progressOfSeeks) {
            progress.End();
            progressStarted = false;
        }
        progressOfSeeks = seek;
        if (!progressStarted) {
            progress.Start(
                seek ? p.seeksPlanned : static_cast<int>(std::min<uint64_t>(p.plannedSectors, INT32_MAX)),
                seek ? "seek" : "sector");
            progressStarted = true;
        }
        std::string what = "LBA " + std::to_string(p.lba);
        if (!seek && p.lastSpeedX > 0) what += "  " + Decimal(p.lastSpeedX, 2) + "X";
        if (p.retrying) what += "  retrying sector by sector";
        if (p.failedSectors > 0) what += "  " + std::to_string(p.failedSectors) + " unreadable";
        progress.Update(what,
                        seek ? p.seeksDone : static_cast<int>(std::min<uint64_t>(p.doneSectors, INT32_MAX)));
    };
    // The run goes on a thread of its own, so that Ctrl+C is answered at once with what it
    // measured even while a request is at the drive; the command ends (and lets go of the drive)
    // when that request returns.
    ReadTestHandover handover;
    ReadTestHooks hooks;
    hooks.stopRequested = [] { return Interrupted(); };
    hooks.handover = &handover;
    ReadTestResult ran;
    std::thread worker([&] { ran = RunReadTest(drive, parsed.settings, observer, hooks); });
    struct Joined {
        std::thread& thread;
        ~Joined() {
            if (thread.joinable()) thread.join();
        }
    } joined{worker};
    std::optional<ReadTestResult> stopped;
    while (!handover.WaitForEnd(kStopPoll)) {
        if (Interrupted() && (stopped = handover.Stop())) break;
    }
    if (!stopped) worker.join();
    progress.End();
    record = ReadTestRecordOf(recordDrive, parsed.verifyPath, stopped ? *stopped : ran, UtcTimestamp());
    const ReadTestResult& r = record.result;

    if (r.end == ReadTestEnd::NotReadable) {
        const int status = ExitOfNotReadable(r.notReadable);
        if (status == kExitUsage) return context.Usage(NotReadableText(r.notReadable));
        if (r.notReadable != NotReadableReason::NoDisc) context.Result()["disc"] = LayoutJson(record);
        return context.Fail(status, NotReadableText(r.notReadable));
    }
    const schema::Json result = ResultJson(record, parsed);
    for (const auto& [key, value] : result.items()) context.Result()[key] = value;
    if (!context.Json() && r.end == ReadTestEnd::Finished) PrintResult(context, record);
    const bool written = WriteFiles(context, parsed, record);
    if (r.end != ReadTestEnd::Finished) return context.Fail(kExitFailed, ReadTestOutcomeText(r));
    if (r.verify && r.verify->imageReadFailed)
        return context.Fail(kExitFailed,
                            "the image " + CliContext::Escaped(parsed.verifyPath) + " could not be read");
    if (!written) return context.FailedStatus();
    if (r.kind == ReadTestKind::Seek && !context.Json()) context.Out() << ReadTestOutcomeText(r) << std::endl;
    // A benchmark's figure the drive could not give is no fault of the disc; a refused eject is
    // told all the same.
    if (r.benchmark && r.benchmark->loadEjectRun && r.benchmark->ejectSeconds.note == kEjectRefused)
        context.Note(kEjectRefused);
    return std::string(ReadTestOutcomeName(r)) == "ok" ? kExitOk : kExitNotRecommended;
}

}  // namespace dravix::cli
