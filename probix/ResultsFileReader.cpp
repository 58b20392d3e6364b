#include "probix/ResultsFileReader.h"

#include <climits>
#include <cstdio>
#include <sstream>
#include <string_view>

#include "base/SafeFile.h"
#include "probix/FileFields.h"
#include "probix/Judgement.h"
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

class Reader {
  public:
    Reader(std::istream& in, std::string name) : m_lines(in, kMaxLineLength), m_name(std::move(name)) {}

    ResultsRead Read() {
        ResultsRead read;
        ScanResults results;
        if (const std::optional<FileFault> fault = Parse(results)) {
            read.error = FaultText(m_name, *fault);
        } else {
            read.results = std::move(results);
        }
        return read;
    }

  private:
    std::optional<FileFault> HeaderValue(const char* key, std::string& value) const {
        const std::optional<HeaderLine> found = m_header.One(key);
        if (!found)
            return FileFault{m_lines.Number(), std::string("the description has no \"") + key + "\" line"};
        const std::optional<std::string> text = UnescapeField(found->value);
        if (!text) return FileFault{found->line, std::string("the \"") + key + "\" value is damaged"};
        value = *text;
        return std::nullopt;
    }

    std::optional<FileFault> Bad(const char* key, const char* what) const {
        const std::optional<HeaderLine> found = m_header.One(key);
        return FileFault{found ? found->line : m_lines.Number(), what};
    }

    std::optional<FileFault> Parse(ScanResults& r) {
        std::string line;
        if (!m_lines.Next(line))
            return FileFault{0,
                             m_lines.TooLong() ? "this is not a Dravix results file" : "the file is empty"};
        if (line == kScanResultsTitle) {
            r.kind = ScanResults::Kind::Scan;
        } else if (line == kSmartResultsTitle) {
            r.kind = ScanResults::Kind::Smart;
        } else {
            return FileFault{1, "this is not a Dravix results file"};
        }
        r.formatVersion = 0;

        // The description up to the table's column line; a newer format is refused as soon as
        // its version line is read.
        const auto version = [&r](const std::string& key, const HeaderLine& h) -> std::optional<FileFault> {
            if (key != "format version") return std::nullopt;
            int number = 0;
            if (!ParseNumber(h.value, number) || number < 1)
                return FileFault{h.line, "the format version is damaged"};
            if (number > kResultsFormatVersion) {
                return FileFault{h.line, "this file was written by a newer version of Dravix (results format " +
                                             std::to_string(number) + "; this version reads up to format " +
                                             std::to_string(kResultsFormatVersion) + ")"};
            }
            r.formatVersion = number;
            return std::nullopt;
        };
        if (auto fault = m_header.Read(m_lines, line, {"statistics"}, version)) return fault;
        std::vector<std::pair<int, std::string>> statistics;
        for (const HeaderLine& h : m_header.All("statistics")) statistics.emplace_back(h.line, h.value);

        if (auto fault = HeaderValue("drive", r.driveLabel)) return fault;
        if (auto fault = HeaderValue("firmware", r.firmware)) return fault;
        if (auto fault = HeaderValue("disc type", r.discType)) return fault;
        r.discTypeCode = DiscCodeOfName(r.discType);
        if (auto fault = HeaderValue("manufacturer id", r.manufacturerId)) return fault;
        if (auto fault = HeaderValue("media type id", r.mediaTypeId)) return fault;
        if (auto fault = HeaderValue("date", r.date)) return fault;
        if (m_header.Has("program version")) {
            if (auto fault = HeaderValue("program version", r.programVersion)) return fault;
        }
        if (auto fault = HeaderValue("verdict", r.verdictText)) return fault;
        if (r.formatVersion >= 1) {
            std::string outcome;
            if (auto fault = HeaderValue("result", outcome)) return fault;
            const std::optional<RunOutcome> parsed = OutcomeOfName(outcome);
            if (!parsed)
                return Bad("result",
                           "the result is none of ok, not_recommended, stopped, failed, no_verdict, "
                           "disc_changed");
            r.outcome = *parsed;
        }
        std::optional<FileFault> fault =
            r.kind == ScanResults::Kind::Scan ? ParseScan(r, line, statistics) : ParseSmart(r, line);
        if (fault) return fault;
        // The verdict shown is the one the file's own rows give, never one edited in.
        if (const std::optional<StoredVerdictFault> disagrees = CheckStoredVerdict(r))
            return Bad(disagrees->key, disagrees->what.c_str());
        return std::nullopt;
    }

    std::optional<FileFault> ParseScan(ScanResults& r, std::string& line,
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
        if (m_header.Has("elapsed")) {
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
            return FileFault{m_lines.Number(), std::string("the table's columns are not ") + kSampleColumns};
        const int columnsLine = m_lines.Number();
        while (m_lines.Next(line)) {
            if (r.samples.size() >= kMaxRows)
                return FileFault{m_lines.Number(), "more samples than a run can measure"};
            const std::vector<std::string_view> f = SplitCommas(line);
            ScanSample s;
            if (f.size() != 6 || !ParseNumber(f[0], s.lba) || !ParseNumber(f[1], s.psn) ||
                !ParseNumber(f[2], s.teRaw) || !ParseNumber(f[3], s.feRaw) ||
                !ParseNumber(f[4], s.tePercent) || !ParseNumber(f[5], s.fePercent))
                return FileFault{m_lines.Number(), "the sample is damaged (six numbers expected)"};
            if (s.tePercent != PercentOf(s.teRaw, r.teReference) ||
                s.fePercent != PercentOf(s.feRaw, r.feReference))
                return FileFault{m_lines.Number(),
                                 "the per-cent values do not match the raw values and references"};
            if (!r.samples.empty() && s.lba <= r.samples.back().lba)
                return FileFault{m_lines.Number(), "the samples are not in the order of the disc"};
            r.samples.push_back(s);
        }
        if (m_lines.TooLong()) return FileFault{m_lines.Number() + 1, "the line is too long"};
        if (expected >= 0 && r.samples.size() != static_cast<size_t>(expected)) {
            return FileFault{m_lines.Number(), "the file holds " + std::to_string(r.samples.size()) +
                                                   " of its " + std::to_string(expected) +
                                                   " samples (it is cut short or damaged)"};
        }
        FinishResults(r);

        // Stored statistics must be those of the samples: a file edited by hand or damaged in the
        // middle is not shown with figures that belong to other samples.
        if (r.formatVersion >= 1) {
            const std::vector<std::string> lines = StatisticsLines(r.statistics);
            if (statistics.size() != lines.size())
                return FileFault{statistics.empty() ? columnsLine : statistics.back().first,
                                 "the statistics are incomplete"};
            for (size_t i = 0; i < lines.size(); ++i) {
                if (statistics[i].second != lines[i])
                    return FileFault{statistics[i].first, "the statistics do not match the samples"};
            }
        }
        return std::nullopt;
    }

    std::optional<FileFault> ParseSmart(ScanResults& r, std::string& line) {
        if (auto fault = HeaderValue("capacity", r.capacity)) return fault;
        std::string text;
        if (m_header.Has("identifiers")) {
            if (auto fault = HeaderValue("identifiers", text)) return fault;
            if (text != "read" && text != "not read")
                return Bad("identifiers", "the identifiers line is neither read nor not read");
            r.identifiersRead = text == "read";
        }
        long long expected = 0;
        if (auto fault = HeaderValue("speeds", text)) return fault;
        if (!ParseNumber(text, expected) || expected < 0 || expected > static_cast<long long>(kMaxSpeedCount))
            return Bad("speeds", "the speed count is damaged");
        if (line != kSmartColumns)
            return FileFault{m_lines.Number(), std::string("the table's columns are not ") + kSmartColumns};
        while (m_lines.Next(line)) {
            const std::vector<std::string_view> f = SplitCommas(line);
            SmartRow row;
            unsigned code = 0;
            const std::optional<SpeedResult> result = f.size() == 4 ? SpeedResultOfName(f[3]) : std::nullopt;
            if (f.size() != 4 || !ParseNumber(f[1], row.kbps) || !ParseNumber(f[2], code) || !result ||
                SpeedOfCode(static_cast<uint8_t>(code)) == nullptr || code > 0xFF ||
                f[0] != ShortSpeedLabel(static_cast<uint8_t>(code)))
                return FileFault{m_lines.Number(), "the speed row is damaged"};
            if (r.speeds.size() >= kMaxSpeedCount)
                return FileFault{m_lines.Number(), "more speeds than a disc offers"};
            row.speedCode = static_cast<uint8_t>(code);
            row.result = *result;
            r.speeds.push_back(row);
        }
        if (m_lines.TooLong()) return FileFault{m_lines.Number() + 1, "the line is too long"};
        if (r.speeds.size() != static_cast<size_t>(expected)) {
            return FileFault{m_lines.Number(), "the file holds " + std::to_string(r.speeds.size()) +
                                                   " of its " + std::to_string(expected) +
                                                   " speeds (it is cut short or damaged)"};
        }
        return std::nullopt;
    }

    static RunOutcome OutcomeOfVerdict(const std::string& verdict) {
        if (verdict == scan_texts::kVerdictOk) return RunOutcome::Ok;
        if (verdict == scan_texts::kVerdictNotRecommended) return RunOutcome::NotRecommended;
        if (verdict == scan_texts::kUserAbort) return RunOutcome::Stopped;
        return RunOutcome::Failed;
    }

    FileLines m_lines;
    std::string m_name;
    FileHeader m_header;
};

}  // namespace

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

}  // namespace dravix
