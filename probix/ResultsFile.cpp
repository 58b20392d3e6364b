#include "probix/ResultsFile.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <map>
#include <sstream>

#include "base/SafeFile.h"
#include "probix/ScanTexts.h"
#include "probix/SpeedList.h"

namespace dravix {

namespace {

// Longest line the reader takes; a results line is far shorter, anything longer is no results file.
constexpr size_t kMaxLineLength = 4096;
// More rows than any run can measure (a full run of a DVD+R DL has 254).
constexpr size_t kMaxRows = 1000000;
// A results file is read whole; one of a full run is some kilobytes, and even kMaxRows rows of
// samples stay below this.
constexpr size_t kMaxFileBytes = size_t{128} << 20;

const char* const kStatisticsColumns =
    "part,samples,te_max_percent,te_max_lba,te_avg_percent,te_over_limit,fe_max_percent,fe_max_lba,"
    "fe_avg_percent,fe_over_limit";

// Header values stay on one line and come back exactly: printable ASCII as it is, a backslash
// doubled, anything else as \xNN.
std::string Escape(const std::string& text) {
    std::string out;
    for (const unsigned char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

std::optional<std::string> Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == '\\') {
            out += '\\';
            ++i;
        } else if (i + 3 < text.size() && text[i + 1] == 'x' &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 2])) &&
                   std::isxdigit(static_cast<unsigned char>(text[i + 3]))) {
            out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else {
            return std::nullopt;
        }
    }
    return out;
}

template <typename T>
bool ParseNumber(std::string_view text, T& value) {
    if (text.empty()) return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size();
}

std::vector<std::string_view> SplitCommas(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    for (;;) {
        const size_t comma = line.find(',', start);
        fields.push_back(
            line.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start));
        if (comma == std::string_view::npos) return fields;
        start = comma + 1;
    }
}

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

// The statistics lines (after "# statistics: ") of a run: the column names, the whole run, each zone.
std::vector<std::string> StatisticsLines(const ScanStatistics& stats) {
    std::vector<std::string> lines{kStatisticsColumns, StatisticsLine("all", stats.all)};
    for (size_t z = 0; z < stats.zones.size(); ++z)
        lines.push_back(StatisticsLine("zone " + std::to_string(z), stats.zones[z]));
    return lines;
}

std::optional<SpeedResult> SpeedResultOfName(std::string_view name) {
    for (SpeedResult r :
         {SpeedResult::Fit, SpeedResult::OverLimit, SpeedResult::Failed, SpeedResult::Stopped}) {
        if (name == SpeedResultName(r)) return r;
    }
    return std::nullopt;
}

uint8_t DiscCodeOfName(const std::string& name) {
    for (uint8_t code : {kScanDvdPlusRDl, kScanDvdPlusR, kScanDvdMinusR}) {
        if (name == ScanDiscName(code)) return code;
    }
    return kScanDiscUnknown;
}

// One fault of a file: the line it was found on (0: the file as a whole) and what is wrong.
struct Fault {
    int line = 0;
    std::string what;
};

class Reader {
  public:
    Reader(std::istream& in, std::string name) : m_in(in), m_name(std::move(name)) {}

    ResultsRead Read() {
        ResultsRead read;
        ScanResults results;
        if (const std::optional<Fault> fault = Parse(results)) {
            read.error = m_name +
                         (fault->line > 0 ? ", line " + std::to_string(fault->line) : std::string()) + ": " +
                         fault->what;
        } else {
            read.results = std::move(results);
        }
        return read;
    }

  private:
    // False at the end of the file. A line longer than any results line ends the reading as damaged.
    bool NextLine(std::string& line) {
        line.clear();
        int c = 0;
        bool any = false;
        while ((c = m_in.get()) != EOF) {
            any = true;
            if (c == '\n') break;
            if (line.size() >= kMaxLineLength) {
                m_tooLong = true;
                return false;
            }
            line += static_cast<char>(c);
        }
        if (!any) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back();  // written or edited on Windows
        ++m_line;
        return true;
    }

    std::optional<Fault> HeaderValue(const char* key, std::string& value) const {
        const auto found = m_header.find(key);
        if (found == m_header.end())
            return Fault{m_line, std::string("the description has no \"") + key + "\" line"};
        const std::optional<std::string> text = Unescape(found->second.text);
        if (!text) return Fault{found->second.line, std::string("the \"") + key + "\" value is damaged"};
        value = *text;
        return std::nullopt;
    }

    std::optional<Fault> Bad(const char* key, const char* what) const {
        const auto found = m_header.find(key);
        return Fault{found == m_header.end() ? m_line : found->second.line, what};
    }

    std::optional<Fault> Parse(ScanResults& r) {
        std::string line;
        if (!NextLine(line))
            return Fault{0, m_tooLong ? "this is not a Dravix results file" : "the file is empty"};
        if (line == kScanResultsTitle) {
            r.kind = ScanResults::Kind::Scan;
        } else if (line == kSmartResultsTitle) {
            r.kind = ScanResults::Kind::Smart;
        } else {
            return Fault{1, "this is not a Dravix results file"};
        }
        r.formatVersion = 0;

        // The description: "# key: value" lines up to the table's column line.
        std::vector<std::pair<int, std::string>> statistics;
        for (;;) {
            if (!NextLine(line))
                return Fault{
                    m_tooLong ? m_line + 1 : 0,
                    m_tooLong ? "the line is too long" : "the file ends before its table (it is cut short)"};
            if (line.empty() || line[0] != '#') break;
            const size_t colon = line.find(": ");
            if (line.rfind("# ", 0) != 0 || colon == std::string::npos)
                return Fault{m_line, "a description line without \"# key: value\""};
            const std::string key = line.substr(2, colon - 2);
            const std::string value = line.substr(colon + 2);
            if (key == "format version") {
                int version = 0;
                if (!ParseNumber(value, version) || version < 1)
                    return Fault{m_line, "the format version is damaged"};
                if (version > kResultsFormatVersion) {
                    return Fault{m_line,
                                 "this file was written by a newer version of Dravix (results format " +
                                     std::to_string(version) + "; this version reads up to format " +
                                     std::to_string(kResultsFormatVersion) + ")"};
                }
                r.formatVersion = version;
            } else if (key == "statistics") {
                statistics.emplace_back(m_line, value);
            } else {
                m_header[key] = {m_line, value};
            }
        }

        if (auto fault = HeaderValue("drive", r.driveLabel)) return fault;
        if (auto fault = HeaderValue("firmware", r.firmware)) return fault;
        if (auto fault = HeaderValue("disc type", r.discType)) return fault;
        r.discTypeCode = DiscCodeOfName(r.discType);
        if (auto fault = HeaderValue("manufacturer id", r.manufacturerId)) return fault;
        if (auto fault = HeaderValue("media type id", r.mediaTypeId)) return fault;
        if (auto fault = HeaderValue("date", r.date)) return fault;
        if (m_header.count("program version") != 0) {
            if (auto fault = HeaderValue("program version", r.programVersion)) return fault;
        }
        if (auto fault = HeaderValue("verdict", r.verdictText)) return fault;
        if (r.formatVersion >= 1) {
            std::string outcome;
            if (auto fault = HeaderValue("result", outcome)) return fault;
            const std::optional<RunOutcome> parsed = OutcomeOfName(outcome);
            if (!parsed)
                return Bad("result",
                           "the result is none of ok, not_recommended, stopped, failed, no_verdict");
            r.outcome = *parsed;
        }
        return r.kind == ScanResults::Kind::Scan ? ParseScan(r, line, statistics) : ParseSmart(r, line);
    }

    std::optional<Fault> ParseScan(ScanResults& r, std::string& line,
                                   const std::vector<std::pair<int, std::string>>& statistics) {
        std::string text;
        if (auto fault = HeaderValue("speed", text)) return fault;
        {
            char label[16] = {};
            unsigned kbps = 0;
            unsigned code = 0;
            if (std::sscanf(text.c_str(), "%15s (%u kB/s, speed code %u)", label, &kbps, &code) != 3 ||
                SpeedOfCode(static_cast<uint8_t>(code)) == nullptr || code > 0xFF)
                return Bad("speed", "the speed is damaged");
            r.speedCode = static_cast<uint8_t>(code);
            r.kbps = kbps;
        }
        if (auto fault = HeaderValue("mode", text)) return fault;
        const std::optional<SamplingMode> mode = SamplingModeOfName(text);
        if (!mode || *mode == SamplingMode::Smart) return Bad("mode", "the sampling mode is damaged");
        r.mode = *mode;
        if (auto fault = HeaderValue("range", text)) return fault;
        {
            long start = 0, end = 0, last = 0;
            if (std::sscanf(text.c_str(), "LBA %ld up to %ld (last LBA %ld)", &start, &end, &last) != 3 ||
                last <= 0 || last > INT32_MAX || start < INT32_MIN || start > INT32_MAX || end < INT32_MIN ||
                end > INT32_MAX)
                return Bad("range", "the range is damaged");
            r.range = {static_cast<int32_t>(start), static_cast<int32_t>(end)};
            r.lastLba = static_cast<int32_t>(last);
        }
        if (auto fault = HeaderValue("references", text)) return fault;
        {
            unsigned te = 0, fe = 0;
            if (std::sscanf(text.c_str(), "te %u, fe %u", &te, &fe) != 2 || te > 0xFFFF || fe > 0xFFFF)
                return Bad("references", "the references are damaged");
            r.teReference = static_cast<uint16_t>(te);
            r.feReference = static_cast<uint16_t>(fe);
        }
        if (m_header.count("elapsed") != 0) {
            if (auto fault = HeaderValue("elapsed", text)) return fault;
            long long seconds = 0;
            if (std::sscanf(text.c_str(), "%lld seconds", &seconds) != 1 || seconds < 0)
                return Bad("elapsed", "the elapsed time is damaged");
            r.elapsedSeconds = seconds;
        }
        if (r.formatVersion == 0) r.outcome = OutcomeOfVerdict(r.verdictText);
        long long expected = -1;
        if (r.formatVersion >= 1) {
            if (auto fault = HeaderValue("samples", text)) return fault;
            if (!ParseNumber(text, expected) || expected < 0 || static_cast<size_t>(expected) > kMaxRows)
                return Bad("samples", "the sample count is damaged");
        }

        if (line != kSampleColumns)
            return Fault{m_line, std::string("the table's columns are not ") + kSampleColumns};
        const int columnsLine = m_line;
        while (NextLine(line)) {
            if (r.samples.size() >= kMaxRows) return Fault{m_line, "more samples than a run can measure"};
            const std::vector<std::string_view> f = SplitCommas(line);
            ScanSample s;
            if (f.size() != 6 || !ParseNumber(f[0], s.lba) || !ParseNumber(f[1], s.psn) ||
                !ParseNumber(f[2], s.teRaw) || !ParseNumber(f[3], s.feRaw) ||
                !ParseNumber(f[4], s.tePercent) || !ParseNumber(f[5], s.fePercent))
                return Fault{m_line, "the sample is damaged (six numbers expected)"};
            if (s.tePercent != PercentOf(s.teRaw, r.teReference) ||
                s.fePercent != PercentOf(s.feRaw, r.feReference))
                return Fault{m_line, "the per-cent values do not match the raw values and references"};
            if (!r.samples.empty() && s.lba <= r.samples.back().lba)
                return Fault{m_line, "the samples are not in the order of the disc"};
            r.samples.push_back(s);
        }
        if (m_tooLong) return Fault{m_line + 1, "the line is too long"};
        if (expected >= 0 && r.samples.size() != static_cast<size_t>(expected)) {
            return Fault{m_line, "the file holds " + std::to_string(r.samples.size()) + " of its " +
                                     std::to_string(expected) + " samples (it is cut short or damaged)"};
        }
        FinishResults(r);

        // Stored statistics must be those of the samples: a file edited by hand or damaged in the
        // middle is not shown with figures that belong to other samples.
        if (r.formatVersion >= 1) {
            const std::vector<std::string> lines = StatisticsLines(r.statistics);
            if (statistics.size() != lines.size())
                return Fault{statistics.empty() ? columnsLine : statistics.back().first,
                             "the statistics are incomplete"};
            for (size_t i = 0; i < lines.size(); ++i) {
                if (statistics[i].second != lines[i])
                    return Fault{statistics[i].first, "the statistics do not match the samples"};
            }
        }
        return std::nullopt;
    }

    std::optional<Fault> ParseSmart(ScanResults& r, std::string& line) {
        if (auto fault = HeaderValue("capacity", r.capacity)) return fault;
        std::string text;
        long long expected = 0;
        if (auto fault = HeaderValue("speeds", text)) return fault;
        if (!ParseNumber(text, expected) || expected < 0 || expected > static_cast<long long>(kMaxSpeedCount))
            return Bad("speeds", "the speed count is damaged");
        if (line != kSmartColumns)
            return Fault{m_line, std::string("the table's columns are not ") + kSmartColumns};
        while (NextLine(line)) {
            const std::vector<std::string_view> f = SplitCommas(line);
            SmartRow row;
            unsigned code = 0;
            const std::optional<SpeedResult> result = f.size() == 4 ? SpeedResultOfName(f[3]) : std::nullopt;
            if (f.size() != 4 || !ParseNumber(f[1], row.kbps) || !ParseNumber(f[2], code) || !result ||
                SpeedOfCode(static_cast<uint8_t>(code)) == nullptr || code > 0xFF ||
                f[0] != ShortSpeedLabel(static_cast<uint8_t>(code)))
                return Fault{m_line, "the speed row is damaged"};
            if (r.speeds.size() >= kMaxSpeedCount) return Fault{m_line, "more speeds than a disc offers"};
            row.speedCode = static_cast<uint8_t>(code);
            row.result = *result;
            r.speeds.push_back(row);
        }
        if (m_tooLong) return Fault{m_line + 1, "the line is too long"};
        if (r.speeds.size() != static_cast<size_t>(expected)) {
            return Fault{m_line, "the file holds " + std::to_string(r.speeds.size()) + " of its " +
                                     std::to_string(expected) + " speeds (it is cut short or damaged)"};
        }
        return std::nullopt;
    }

    static RunOutcome OutcomeOfVerdict(const std::string& verdict) {
        if (verdict == scan_texts::kVerdictOk) return RunOutcome::Ok;
        if (verdict == scan_texts::kVerdictNotRecommended) return RunOutcome::NotRecommended;
        if (verdict == scan_texts::kUserAbort) return RunOutcome::Stopped;
        return RunOutcome::Failed;
    }

    struct HeaderLine {
        int line = 0;
        std::string text;
    };

    std::istream& m_in;
    std::string m_name;
    int m_line = 0;
    bool m_tooLong = false;
    std::map<std::string, HeaderLine> m_header;
};

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
        case RunOutcome::NoVerdict:
            break;
    }
    return "no_verdict";
}

std::optional<RunOutcome> OutcomeOfName(const std::string& name) {
    for (RunOutcome o : {RunOutcome::Ok, RunOutcome::NotRecommended, RunOutcome::Stopped, RunOutcome::Failed,
                         RunOutcome::NoVerdict}) {
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

void WriteResults(std::ostream& out, const ScanResults& r) {
    const bool scan = r.kind == ScanResults::Kind::Scan;
    std::string verdict = r.verdictText;
    std::replace(verdict.begin(), verdict.end(), '\n', ' ');
    out << (scan ? kScanResultsTitle : kSmartResultsTitle) << "\n"
        << "# format version: " << kResultsFormatVersion << "\n"
        << "# drive: " << Escape(r.driveLabel) << "\n"
        << "# firmware: " << Escape(r.firmware) << "\n"
        << "# disc type: " << Escape(r.discType) << "\n"
        << "# manufacturer id: " << Escape(r.manufacturerId) << "\n"
        << "# media type id: " << Escape(r.mediaTypeId) << "\n";
    if (!scan) {
        out << "# capacity: " << Escape(r.capacity) << "\n"
            << "# date: " << Escape(r.date) << "\n"
            << "# program version: " << Escape(r.programVersion) << "\n"
            << "# verdict: " << Escape(verdict) << "\n"
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
        << "# date: " << Escape(r.date) << "\n"
        << "# program version: " << Escape(r.programVersion) << "\n"
        << "# verdict: " << Escape(verdict) << "\n"
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

ResultsRead ReadResults(std::istream& in, const std::string& name) {
    return Reader(in, name).Read();
}

ResultsRead ReadResultsFile(const std::string& path) {
    // Opened without waiting: a FIFO or a device is refused at once instead of hanging the reader.
    std::string content;
    const FileResult read = ReadFileContent(path, &content, kMaxFileBytes);
    if (!read.Ok()) return ResultsRead{std::nullopt, path + ": " + read.detail};
    std::istringstream in(std::move(content));
    return ReadResults(in, path);
}

std::string SaveResultsFile(const std::string& path, const ScanResults& results) {
    std::ostringstream text;
    WriteResults(text, results);
    const FileResult written = WriteFileSafely(path, text.str());
    return written.Ok() ? std::string() : written.WriteMessage(path);
}

std::string SaveResultsFileNew(const std::string& folder, const std::string& stem, const ScanResults& results,
                               std::string* written) {
    std::ostringstream text;
    WriteResults(text, results);
    const std::string bytes = text.str();
    const std::filesystem::path base(folder);
    for (int n = 1; n <= 9999; ++n) {
        const std::string name = stem + (n == 1 ? std::string() : "-" + std::to_string(n)) + ".csv";
        const std::string path = (base / name).string();
        const FileResult result = WriteFileSafely(path, bytes, SafeFile::Mode::NoReplace);
        if (result.problem == FileProblem::Exists) continue;
        if (!result.Ok()) return result.WriteMessage(path);
        if (written != nullptr) *written = path;
        return {};
    }
    return "cannot write '" + (base / (stem + ".csv")).string() + "': too many files of that name";
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
    const char* verdict = r.outcome == RunOutcome::Ok               ? "ok"
                          : r.outcome == RunOutcome::NotRecommended ? "not-recommended"
                                                                    : "none";
    std::string mid = r.manufacturerId;
    if (!r.mediaTypeId.empty()) mid += (mid.empty() ? "" : "-") + r.mediaTypeId;
    const std::pair<const char*, std::string> fields[] = {
        {"{date}", date},
        {"{time}", time},
        {"{drive}", r.driveLabel},
        {"{mid}", mid},
        {"{speed}", smart ? std::string("smart") : std::string(ShortSpeedLabel(r.speedCode))},
        {"{mode}", smart ? std::string("smart") : std::string(SamplingModeName(r.mode))},
        {"{verdict}", verdict},
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
