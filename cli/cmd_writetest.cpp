// writetest: the write test from the command line: writes a blank CD-R, CD-RW, DVD-R, DVD-RW, DVD+R
// or DVD+R DL in simulation and tells how the drive writes it (speed curve, buffer, write mode),
// without recording. Nothing is written unless the drive is seen to simulate on the disc.

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "cli/Commands.h"
#include "cli/OutputFile.h"
#include "cli/Progress.h"
#include "cli/Terminal.h"
#include "drive/DriveTable.h"
#include "export/ImageType.h"
#include "picture/ResultsPictureFile.h"
#include "probix/BenchmarkTable.h"
#include "probix/ResultsFile.h"
#include "probix/WriteTest.h"
#include "probix/WriteTestFile.h"
#include "probix/WriteTestSetup.h"
#include "turns/SharedDrive.h"

namespace dravix::cli {

namespace {

constexpr double kFastestSpeedX = 100.0;
constexpr uint64_t kLargestLengthMB = 20000;  // beyond any disc

constexpr const char* kMarkerLeftBehind =
    "An earlier write test did not end: Test Write may still be on. Check it (dravix-cli testwrite) before "
    "burning.";
constexpr const char* kMarkerCleared =
    "An earlier write test did not end; the drive's simulation is off, so its marker was removed.";

bool ParseSpeedX(std::string text, double& x) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    if (text == "max") {
        x = 0;
        return true;
    }
    if (text.size() < 2 || text.back() != 'x') return false;
    const std::string number = text.substr(0, text.size() - 1);
    if (!std::all_of(number.begin(), number.end(), [](unsigned char c) { return std::isdigit(c) || c == '.'; }) ||
        std::count(number.begin(), number.end(), '.') > 1 || number.front() == '.' || number.back() == '.')
        return false;
    x = std::stod(number);
    return x > 0 && x <= kFastestSpeedX;
}

double Rounded(double value) {
    return std::round(value * 1000.0) / 1000.0;
}

}  // namespace

int RunWriteTest(CliContext& context, const CommandArgs& args) {
    if (!args.words.empty()) return UnexpectedArgument(context, args.words.front());
    WriteTestSettings settings;
    if (const std::optional<std::string> speed = args.Value("--speed")) {
        if (!ParseSpeedX(*speed, settings.speedX))
            return UsageError(context, "--speed is max or a write speed in X up to 100X (8X, 2.4X)");
    }
    if (const std::optional<std::string> length = args.Value("--length")) {
        const bool digits = !length->empty() && length->size() <= 6 &&
                            std::all_of(length->begin(), length->end(), [](unsigned char c) { return std::isdigit(c); });
        const uint64_t mb = digits ? std::stoull(*length) : 0;
        if (mb == 0 || mb > kLargestLengthMB)
            return UsageError(context, "--length takes the megabytes to write (a number from 1)");
        settings.lengthSectors = static_cast<uint32_t>(mb * 1024 * 1024 / 2048);
    }
    const std::string csvPath = args.Value("--csv").value_or("");
    const std::string imagePath = args.Value("--image").value_or("");
    for (const auto& [option, path] : {std::pair{"--csv", &csvPath}, std::pair{"--image", &imagePath}}) {
        if (args.Has(option) && path->empty())
            return UsageError(context, option + std::string(" takes a file name"));
    }
    if (!imagePath.empty() && ImageTypeFromExtension(GetFileExtension(imagePath)) == ImageType::kUnknown)
        return UsageError(context, "--image: no picture format for the extension of '" + imagePath + "'");
    // The files are checked before anything is asked or sent, not after the run.
    if (const int status =
            CheckCommandFiles(context, {{csvPath, FileRole::ResultsFile}, {imagePath, FileRole::Picture}});
        status != kExitOk)
        return status;
    // Writing needs the user's agreement: --yes, or an answer on the terminal.
    if (!context.CanAsk())
        return context.Usage("writetest writes to the disc in simulation: give --yes, or run it on a terminal to be asked");
    if (!context.Confirm(kWriteTestQuestion)) return context.Fail(kExitFailed, "Cancelled.");

    DriveTable* table = context.UseDrive(DriveNeeds{});
    if (table == nullptr) return context.FailedStatus();
    SharedDrive drive(*table);
    settings.markerPath = WriteTestMarkerPath();
    settings.driveName = table->DriveLabel();
    // A marker left behind: a write test ended without putting the setting back (a crash, a kill).
    // A new run would take the simulation left on for the drive's own setting and put it back on
    // at its end, so it starts only once the marked drive is read with simulation off.
    if (const std::optional<WriteTestMarker> marker = ReadWriteTestMarker(settings.markerPath)) {
        std::optional<bool> on;
        if (marker->driveName == settings.driveName) on = ReadMarkedSimulation(*table, *marker);
        if (!on.has_value() || *on) return context.Fail(kExitNoDrive, kMarkerLeftBehind);
        std::error_code ignored;
        std::filesystem::remove(settings.markerPath, ignored);
        context.Note(kMarkerCleared);
    }

    Progress progress(context.Err(), context.ShowProgress(), context.ErrIsTerminal());
    bool started = false;
    WriteTestHooks hooks;
    // Ctrl+C, SIGTERM and SIGHUP end the writing between two requests; the cache is flushed and the
    // setting put back all the same.
    hooks.stopRequested = [] { return Interrupted(); };
    hooks.onPoint = [&](const WritePoint& point, uint64_t written, uint64_t planned) {
        if (!started) {
            progress.Start(static_cast<int>(std::min<uint64_t>(planned, INT32_MAX)), "sector");
            started = true;
        }
        progress.Update("LBA " + std::to_string(point.lba) + "  " + DecimalText(point.speedX, 2) + "X  buffer " +
                            std::to_string(static_cast<int>(std::lround(point.bufferFill * 100))) + "%",
                        static_cast<int>(std::min<uint64_t>(written, INT32_MAX)));
    };
    const WriteTestResult r = ::dravix::RunWriteTest(drive, settings, hooks);
    progress.End();

    schema::Json& json = context.Result();
    json["end"] = WriteTestEndName(r.end);
    json["profile"] = r.profile;
    json["simulation"] = SimulationMethodName(r.method);
    json["start_lba"] = r.startLba;
    json["planned_sectors"] = r.plannedSectors;
    json["written_sectors"] = r.writtenSectors;
    json["speed_kbps"] = r.speedKBps;
    schema::Json speeds = schema::Json::array();
    for (uint32_t kbps : r.writeSpeedsKBps) speeds.push_back(kbps);
    json["write_speeds_kbps"] = speeds;
    schema::Json points = schema::Json::array();
    for (const WritePoint& p : r.points)
        points.push_back({{"lba", p.lba}, {"speed_x", Rounded(p.speedX)}, {"buffer", Rounded(p.bufferFill)},
                          {"rpm", std::lround(p.rpm)}});
    json["points"] = points;
    json["summary"] = schema::WriteSummary(r);
    json["setting_restored"] = r.settingRestored;
    json["simulation_left_on"] = r.simulationLeftOn;
    json["blank_after"] = r.end == WriteTestEnd::Refused ? schema::Json(nullptr) : schema::Json(r.blankAfter);
    json["message"] = r.message.empty() ? schema::Json(nullptr) : schema::Json(r.message);

    // A run that wrote nothing measured nothing: no file is written over an older one.
    const WriteTestRecord record =
        WriteTestRecordOf(table->DriveLabel(), table->FirmwareRevision(), r, UtcTimestamp());
    schema::Json files = schema::Json::object();
    const bool written = WriteResultsFiles(
        context,
        {{"csv", csvPath, [&](const std::string& path) { return SaveWriteTestFile(path, record); }},
         {"image", imagePath, [&](const std::string& path) { return WriteWriteTestPicture(path, record); }}},
        !r.points.empty(), "written", files);
    json["files"] = files;

    if (r.end == WriteTestEnd::Refused) return context.Fail(kExitNoDrive, r.message);
    if (!context.Json() && r.summary) {
        std::ostream& out = context.Out();
        out << "Simulated write of " << r.writtenSectors << " sectors from LBA " << r.startLba << "\n"
            << "  start " << DecimalText(r.summary->startX, 2) << "X, end " << DecimalText(r.summary->endX, 2)
            << "X, average " << DecimalText(r.summary->averageX, 2) << "X, write mode "
            << ReadModeName(r.summary->mode) << "\n"
            << "  a real burn of the whole disc at this speed: " << std::lround(r.fullDiscSeconds) << " s\n"
            << std::flush;
    }
    for (const std::string& note : r.notes)
        if (!note.empty()) context.Note(note);
    if (!r.message.empty()) return context.Fail(kExitFailed, r.message);
    if (r.end == WriteTestEnd::Stopped) return context.Fail(kExitFailed, "Stopped.");
    if (r.end == WriteTestEnd::DriveFailed) return context.Fail(kExitFailed, kWriteTestDriveFailed);
    if (!written) return context.FailedStatus();
    return kExitOk;
}

}  // namespace dravix::cli
