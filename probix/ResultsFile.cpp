#include "probix/ResultsFile.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>

#include "base/SafeFile.h"
#include "probix/FileFields.h"
#include "probix/Judgement.h"
#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"
#include "probix/UtcTime.h"

namespace dravix {

namespace {

const char* const kStatisticsColumns =
    "part,samples,te_max_percent,te_max_lba,te_avg_percent,te_over_limit,fe_max_percent,fe_max_lba,"
    "fe_avg_percent,fe_over_limit";

std::string Format(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string StatisticsLine(const std::string& part, const PartStatistics& s) {
    if (s.samples == 0) return part + ",0,,,,,,,,";
    return Format("%s,%d,%u,%ld,%.2f,%d,%u,%ld,%.2f,%d", part.c_str(), s.samples,
                  static_cast<unsigned>(s.te.maxPercent), static_cast<long>(s.te.maxLba), s.te.averagePercent,
                  s.te.overLimit, static_cast<unsigned>(s.fe.maxPercent), static_cast<long>(s.fe.maxLba),
                  s.fe.averagePercent, s.fe.overLimit);
}

}  // namespace

std::vector<std::string> StatisticsLines(const ScanStatistics& stats) {
    std::vector<std::string> lines{kStatisticsColumns, StatisticsLine("all", stats.all)};
    for (size_t z = 0; z < stats.zones.size(); ++z)
        lines.push_back(StatisticsLine("zone " + std::to_string(z), stats.zones[z]));
    return lines;
}

namespace {

std::string Sanitised(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        const bool keep = std::isalnum(c) != 0 || c == '-' || c == '_' || c == '.' || c == '+';
        out += keep && c < 0x80 ? static_cast<char>(c) : '_';
    }
    // A name of dots only would name a folder.
    if (std::all_of(out.begin(), out.end(), [](char c) { return c == '.'; }))
        out = std::string(out.size(), '_');
    return out;
}

}  // namespace

const char* SpeedResultName(SpeedResult result) {
    switch (result) {
        case SpeedResult::Fit:
            return "ok";
        case SpeedResult::OverLimit:
            return "not_recommended";
        case SpeedResult::Failed:
            return "failed";
        case SpeedResult::Stopped:
            break;
    }
    return "not_measured";
}

const char* OutcomeName(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::Ok:
            return "ok";
        case RunOutcome::NotRecommended:
            return "not_recommended";
        case RunOutcome::Stopped:
            return "stopped";
        case RunOutcome::Failed:
            return "failed";
        case RunOutcome::DiscChanged:
            return "disc_changed";
        case RunOutcome::NoVerdict:
            break;
    }
    return "no_verdict";
}

std::optional<RunOutcome> OutcomeOfName(const std::string& name) {
    for (RunOutcome o : {RunOutcome::Ok, RunOutcome::NotRecommended, RunOutcome::Stopped, RunOutcome::Failed,
                         RunOutcome::NoVerdict, RunOutcome::DiscChanged}) {
        if (name == OutcomeName(o)) return o;
    }
    return std::nullopt;
}

RunOutcome OutcomeOf(const ScanResult& result) {
    switch (result.end) {
        case ScanEnd::Stopped:
            return RunOutcome::Stopped;
        case ScanEnd::Failed:
            return RunOutcome::Failed;
        case ScanEnd::NoVerdict:
            return RunOutcome::NoVerdict;
        case ScanEnd::Finished:
            break;
    }
    return result.notRecommended ? RunOutcome::NotRecommended : RunOutcome::Ok;
}

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

const char* SamplingModeName(SamplingMode mode) {
    switch (mode) {
        case SamplingMode::Full:
            return "full";
        case SamplingMode::Quick:
            return "quick";
        case SamplingMode::Customize:
            return "custom";
        case SamplingMode::Smart:
            return "smart";
        case SamplingMode::Normal:
            break;
    }
    return "normal";
}

std::optional<SamplingMode> SamplingModeOfName(const std::string& name) {
    for (SamplingMode m : {SamplingMode::Normal, SamplingMode::Full, SamplingMode::Quick, SamplingMode::Smart,
                           SamplingMode::Customize}) {
        if (name == SamplingModeName(m)) return m;
    }
    return std::nullopt;
}

void FinishResults(ScanResults& results) {
    for (size_t i = 0; i < results.samples.size(); ++i) results.samples[i].index = static_cast<int>(i);
    results.statistics = ComputeStatistics(results.samples, results.discTypeCode, results.lastLba);
}

std::string UtcTimestamp() {
    const std::tm utc = UtcTimeOf(std::time(nullptr));
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

void WriteResults(std::ostream& out, const ScanResults& r) {
    const bool scan = r.kind == ScanResults::Kind::Scan;
    std::string verdict = r.verdictText;
    std::replace(verdict.begin(), verdict.end(), '\n', ' ');
    out << (scan ? kScanResultsTitle : kSmartResultsTitle) << "\n"
        << "# format version: " << kResultsFormatVersion << "\n"
        << "# drive: " << EscapeField(r.driveLabel) << "\n"
        << "# firmware: " << EscapeField(r.firmware) << "\n"
        << "# disc type: " << EscapeField(r.discType) << "\n"
        << "# manufacturer id: " << EscapeField(r.manufacturerId) << "\n"
        << "# media type id: " << EscapeField(r.mediaTypeId) << "\n";
    if (!scan) {
        out << "# identifiers: " << (SmartIdentifiersUnread(r) ? "not read" : "read") << "\n"
            << "# capacity: " << EscapeField(r.capacity) << "\n"
            << "# date: " << EscapeField(r.date) << "\n"
            << "# program version: " << EscapeField(r.programVersion) << "\n"
            << "# verdict: " << EscapeField(verdict) << "\n"
            << "# result: " << OutcomeName(r.outcome) << "\n"
            << "# speeds: " << r.speeds.size() << "\n"
            << kSmartColumns << "\n";
        for (const SmartRow& row : r.speeds) {
            out << ShortSpeedLabel(row.speedCode) << ',' << row.kbps << ',' << static_cast<int>(row.speedCode)
                << ',' << SpeedResultName(row.result) << '\n';
        }
        return;
    }
    out << "# speed: " << ShortSpeedLabel(r.speedCode) << " (" << r.kbps << " kB/s, speed code "
        << static_cast<int>(r.speedCode) << ")\n"
        << "# mode: " << SamplingModeName(r.mode) << "\n"
        << "# range: LBA " << r.range.start << " up to " << r.range.end << " (last LBA " << r.lastLba << ")\n"
        << "# references: te " << r.teReference << ", fe " << r.feReference << "\n"
        << "# limits: te " << kTeLimitPercent << " %, fe " << kFeLimitPercent << " %\n"
        << "# date: " << EscapeField(r.date) << "\n"
        << "# program version: " << EscapeField(r.programVersion) << "\n"
        << "# verdict: " << EscapeField(verdict) << "\n"
        << "# result: " << OutcomeName(r.outcome) << "\n"
        << "# elapsed: " << r.elapsedSeconds << " seconds\n"
        << "# samples: " << r.samples.size() << "\n";
    for (const std::string& line : StatisticsLines(ComputeStatistics(r.samples, r.discTypeCode, r.lastLba))) {
        out << "# statistics: " << line << "\n";
    }
    out << kSampleColumns << "\n";
    for (const ScanSample& s : r.samples) {
        out << s.lba << ',' << s.psn << ',' << s.teRaw << ',' << s.feRaw << ',' << s.tePercent << ','
            << s.fePercent << '\n';
    }
}

Result<void> SaveResultsFile(const std::string& path, const ScanResults& results) {
    std::ostringstream text;
    WriteResults(text, results);
    const FileResult written = WriteFileSafely(path, text.str());
    if (!written.Ok()) return Error{written.WriteMessage(path)};
    return {};
}

Result<std::string> SaveResultsFileNew(const std::string& folder, const std::string& stem,
                                       const ScanResults& results) {
    std::ostringstream text;
    WriteResults(text, results);
    const std::string bytes = text.str();
    const std::filesystem::path base(folder);
    for (int n = 1; n <= 9999; ++n) {
        const std::string name = stem + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".csv";
        const std::string path = (base / name).string();
        const FileResult result = WriteFileSafely(path, bytes, SafeFile::Mode::NoReplace);
        if (result.problem == FileProblem::Exists) continue;
        if (!result.Ok()) return Error{result.WriteMessage(path)};
        return path;
    }
    return Error{"cannot write '" + (base / (stem + ".csv")).string() + "': too many files of that name"};
}

std::vector<std::string> ResultsHeaderLines(const ScanResults& r) {
    std::vector<std::string> lines;
    lines.push_back("Drive: " + r.driveLabel + "    Firmware: " + r.firmware);
    lines.push_back("Disc: " + r.discType + "    Manufacturer ID: " + r.manufacturerId +
                    "    Media Type ID: " + r.mediaTypeId +
                    (r.kind == ScanResults::Kind::Smart ? "    Capacity: " + r.capacity : ""));
    if (r.kind == ScanResults::Kind::Scan) {
        lines.push_back("Speed: " + std::string(ShortSpeedLabel(r.speedCode)) + " (" +
                        std::to_string(r.kbps) + " kB/s)    Mode: " + SamplingModeName(r.mode) +
                        "    Date: " + r.date);
    } else {
        lines.push_back("Smart Mode report    Date: " + r.date);
    }
    lines.push_back("Verdict: " + (r.verdictText.empty() ? std::string("none") : r.verdictText));
    if (r.kind == ScanResults::Kind::Scan) {
        const std::vector<std::string> summary = StatisticsSummaryLines(r.statistics.all);
        if (summary.empty()) lines.push_back("No samples.");
        lines.insert(lines.end(), summary.begin(), summary.end());
    }
    return lines;
}

std::string ResultsShortName(const ScanResults& r) {
    const std::string speed = r.kind == ScanResults::Kind::Smart ? "Smart" : ShortSpeedLabel(r.speedCode);
    return r.manufacturerId + " " + r.mediaTypeId + ", " + speed + ", " + r.date.substr(0, 10);
}

std::string ExpandNameTemplate(const std::string& nameTemplate, const ScanResults& r) {
    const bool smart = r.kind == ScanResults::Kind::Smart;
    // "2026-12-08T11:00:00Z": the date and the time without separators.
    const std::string date = r.date.size() >= 10 ? r.date.substr(0, 10) : std::string("nodate");
    std::string time = r.date.size() >= 19 ? r.date.substr(11, 8) : std::string("notime");
    time.erase(std::remove(time.begin(), time.end(), ':'), time.end());
    // A Smart report's speed is the fastest one it recommends; its mode is "smart".
    std::string speed = ShortSpeedLabel(r.speedCode);
    if (smart) {
        const SmartRow* highest = nullptr;
        for (const SmartRow& row : r.speeds) {
            if (row.result == SpeedResult::Fit && (highest == nullptr || row.kbps > highest->kbps))
                highest = &row;
        }
        speed = highest != nullptr ? std::string(ShortSpeedLabel(highest->speedCode)) : std::string("none");
    }
    std::string mid = r.manufacturerId;
    if (!r.mediaTypeId.empty()) mid += (mid.empty() ? "" : "-") + r.mediaTypeId;
    const std::pair<const char*, std::string> fields[] = {
        {"{date}", date},
        {"{time}", time},
        {"{drive}", r.driveLabel},
        {"{mid}", mid},
        {"{speed}", speed},
        {"{mode}", smart ? std::string("smart") : std::string(SamplingModeName(r.mode))},
        {"{verdict}", OutcomeName(r.outcome)},
    };
    std::string name;
    for (size_t i = 0; i < nameTemplate.size();) {
        bool replaced = false;
        for (const auto& [field, value] : fields) {
            if (nameTemplate.compare(i, std::char_traits<char>::length(field), field) == 0) {
                name += value;
                i += std::char_traits<char>::length(field);
                replaced = true;
                break;
            }
        }
        if (!replaced) name += nameTemplate[i++];
    }
    name = Sanitised(name);
    return name.empty() ? std::string("results") : name;
}

}  // namespace dravix
