#include "probix/WriteTestFile.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "base/SafeFile.h"
#include "base/Version.h"
#include "drive/InfoCommands.h"
#include "probix/FileFields.h"
#include "probix/ReadTestFile.h"

namespace dravix {

namespace {

constexpr size_t kMaxLineLength = 4096;
constexpr size_t kMaxPoints = 1000000;
constexpr size_t kMaxNotes = 1000;
constexpr size_t kMaxFileBytes = size_t{64} << 20;

constexpr const char* kSectorsWrite = "planned %" PRIu64 ", written %" PRIu64 ", requests %" PRIu32;
constexpr const char* kSectorsRead = "planned %" SCNu64 ", written %" SCNu64 ", requests %" SCNu32 "%n";

constexpr WriteTestEnd kEnds[] = {WriteTestEnd::Finished, WriteTestEnd::Stopped, WriteTestEnd::Refused,
                                  WriteTestEnd::Recorded, WriteTestEnd::DriveFailed};
constexpr SimulationMethod kMethods[] = {SimulationMethod::None, SimulationMethod::ModePage,
                                         SimulationMethod::MakerSwitch};

const char* YesNo(bool value) {
    return value ? "yes" : "no";
}

std::string Position(uint32_t lba) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6f", PositionGigabytes(lba));
    return text;
}

// The buffer's fill as the table holds it: per cent with one decimal.
std::string BufferPercent(double fill) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", std::clamp(fill, 0.0, 1.0) * 100.0);
    return text;
}

class Reader final : DescriptionReader {
  public:
    Reader(std::istream& in, std::string name)
        : DescriptionReader(in, kMaxLineLength), m_name(std::move(name)) {}

    WriteTestRead Read() {
        WriteTestRead read;
        WriteTestRecord record;
        if (const std::optional<FileFault> fault = Parse(record)) {
            read.error = FaultText(m_name, *fault);
        } else {
            read.record = std::move(record);
        }
        read.otherKind = m_otherKind;
        return read;
    }

  private:
    std::optional<FileFault> Flag(const char* key, bool& value) const {
        HeaderLine h;
        if (auto fault = One(key, h)) return fault;
        if (h.value != "yes" && h.value != "no") return Damaged(h, key);
        value = h.value == "yes";
        return std::nullopt;
    }

    // "12.345 UNIT" at or above zero.
    std::optional<FileFault> Measure(const char* key, const char* unit, double& value) const {
        HeaderLine h;
        if (auto fault = One(key, h)) return fault;
        int used = 0;
        const std::string form = std::string("%lf ") + unit + "%n";
        if (std::sscanf(h.value.c_str(), form.c_str(), &value, &used) != 1 ||
            static_cast<size_t>(used) != h.value.size() || !(value >= 0))
            return Damaged(h, key);
        return std::nullopt;
    }

    template <typename Enum, size_t N>
    std::optional<FileFault> Named(const char* key, const Enum (&values)[N], const char* (*name)(Enum),
                                   Enum& value) const {
        HeaderLine h;
        if (auto fault = One(key, h)) return fault;
        for (const Enum v : values) {
            if (h.value == name(v)) {
                value = v;
                return std::nullopt;
            }
        }
        return Damaged(h, key);
    }

    std::optional<FileFault> Parse(WriteTestRecord& record) {
        std::string line;
        if (!m_lines.Next(line))
            return FileFault{0,
                             m_lines.TooLong() ? "this is not a Dravix results file" : "the file is empty"};
        if (line != kWriteTestResultsTitle) {
            m_otherKind = true;
            return FileFault{1, "this is not a Dravix write test"};
        }
        if (auto fault = m_header.Read(m_lines, line, {"note", "write speed"})) return fault;
        WriteTestResult& r = record.result;
        if (auto fault = Number("format version", record.formatVersion)) return fault;
        if (record.formatVersion != kWriteTestFormatVersion) {
            return FileFault{m_header.One("format version")->line,
                             record.formatVersion > kWriteTestFormatVersion
                                 ? "this file was written by a newer version of Dravix (write test format " +
                                       std::to_string(record.formatVersion) + ")"
                                 : "the format version is damaged"};
        }
        if (auto fault = Text("drive", record.driveLabel)) return fault;
        if (auto fault = Text("firmware", record.firmware)) return fault;
        if (auto fault = Text("disc type", record.discType)) return fault;
        if (auto fault = Number("profile", r.profile)) return fault;
        r.layout.profile = r.profile;
        r.layout.dvd = r.profile >= 0x10;
        if (auto fault = Number("last lba", r.layout.lastLba)) return fault;
        if (auto fault = Number("layers", r.layout.layers)) return fault;
        {
            HeaderLine h;
            if (auto fault = One("layer break", h)) return fault;
            uint32_t lba = 0;
            if (h.value != "none" && !ParseNumber(h.value, lba)) return Damaged(h, "layer break");
            if (h.value != "none") r.layout.layerBreakLba = lba;
        }
        if (auto fault = Text("date", record.date)) return fault;
        if (auto fault = Text("program version", record.programVersion)) return fault;
        if (auto fault = Named("simulation", kMethods, SimulationMethodName, r.method)) return fault;
        if (auto fault = Number("speed asked kbps", r.speedKBps)) return fault;
        for (const HeaderLine& h : m_header.All("write speed")) {
            uint32_t kbps = 0;
            if (!ParseNumber(h.value, kbps) || r.writeSpeedsKBps.size() >= kMaxPoints)
                return Damaged(h, "write speed");
            r.writeSpeedsKBps.push_back(kbps);
        }
        if (auto fault = Number("start lba", r.startLba)) return fault;
        if (auto fault = Named("result", kEnds, WriteTestEndName, r.end)) return fault;
        if (m_header.Has("message")) {
            if (auto fault = Text("message", r.message)) return fault;
        }
        for (const HeaderLine& h : m_header.All("note")) {
            const std::optional<std::string> text = UnescapeField(h.value);
            if (!text || r.notes.size() >= kMaxNotes) return Damaged(h, "note");
            r.notes.push_back(*text);
        }
        HeaderLine sectors;
        if (auto fault = One("sectors", sectors)) return fault;
        {
            int used = 0;
            if (std::sscanf(sectors.value.c_str(), kSectorsRead, &r.plannedSectors, &r.writtenSectors,
                            &r.writeRequests, &used) != 3 ||
                static_cast<size_t>(used) != sectors.value.size())
                return Damaged(sectors, "sectors");
        }
        if (r.writtenSectors > r.plannedSectors)
            return FileFault{sectors.line, "more sectors written than planned"};
        if (r.end == WriteTestEnd::Finished && r.writtenSectors != r.plannedSectors)
            return FileFault{sectors.line, "a finished run that did not write all it planned"};
        if (r.plannedSectors > 0 && uint64_t{r.startLba} + r.plannedSectors - 1 > r.layout.lastLba)
            return FileFault{sectors.line, "the sectors planned go beyond the disc's last LBA"};
        std::optional<int> transferLine;
        if (const std::optional<HeaderLine> h = m_header.One("transfer")) {
            transferLine = h->line;
            r.summary = ParseTransferSummary(h->value);
            if (!r.summary) return FileFault{h->line, "the transfer summary is damaged"};
        }
        if (auto fault = Measure("full disc", "seconds", r.fullDiscSeconds)) return fault;
        if (auto fault = Flag("simulation left on", r.simulationLeftOn)) return fault;
        if (auto fault = Flag("setting restored", r.settingRestored)) return fault;
        if (auto fault = Flag("blank after", r.blankAfter)) return fault;
        if (auto fault = Measure("elapsed", "seconds", r.elapsedSeconds)) return fault;
        uint64_t expectedPoints = 0;
        if (auto fault = Number("points", expectedPoints)) return fault;

        if (line != kWriteTestColumns)
            return FileFault{m_lines.Number(),
                             std::string("the table's columns are not ") + kWriteTestColumns};
        while (m_lines.Next(line)) {
            if (r.points.size() >= kMaxPoints)
                return FileFault{m_lines.Number(), "more points than a run measures"};
            const std::vector<std::string_view> f = SplitCommas(line);
            WritePoint p;
            double percent = -1;
            if (f.size() != 5 || !ParseNumber(f[0], p.lba) || f[1] != Position(p.lba) ||
                !ParseNumber(f[2], p.speedX) || !(p.speedX >= 0) || !ParseNumber(f[3], percent) ||
                !(percent >= 0 && percent <= 100) || !ParseNumber(f[4], p.rpm) || !(p.rpm >= 0))
                return FileFault{m_lines.Number(),
                                 "the point is damaged (LBA, its position in GB, the speed in X, the buffer "
                                 "in per cent, the rotation in RPM)"};
            p.bufferFill = percent / 100.0;
            if (!r.points.empty() && p.lba <= r.points.back().lba)
                return FileFault{m_lines.Number(), "the points are not in the order of the disc"};
            if (p.lba < r.startLba || uint64_t{p.lba} >= uint64_t{r.startLba} + r.writtenSectors)
                return FileFault{m_lines.Number(), "the point lies outside the sectors written"};
            r.points.push_back(p);
        }
        if (m_lines.TooLong()) return FileFault{m_lines.Number() + 1, "the line is too long"};
        if (r.points.size() != expectedPoints)
            return FileFault{m_lines.Number(), "the file holds " + std::to_string(r.points.size()) +
                                                   " of its " + std::to_string(expectedPoints) +
                                                   " points (it is cut short or damaged)"};
        // A run that wrote has its summary; the summary is that of the points.
        if (r.summary.has_value() != !r.points.empty())
            return FileFault{transferLine.value_or(m_lines.Number()),
                             "the transfer summary does not go with the points"};
        if (r.summary) {
            const auto slowest = std::min_element(
                r.points.begin(), r.points.end(),
                [](const WritePoint& a, const WritePoint& b) { return a.speedX < b.speedX; });
            if (r.summary->startX != r.points.front().speedX || r.summary->endX != r.points.back().speedX ||
                r.summary->minimumX != slowest->speedX || r.summary->minimumLba != slowest->lba)
                return FileFault{*transferLine, "the transfer summary does not agree with the points"};
        }
        return std::nullopt;
    }

    std::string m_name;
    bool m_otherKind = false;
};

}  // namespace

const char* SimulationMethodName(SimulationMethod method) {
    switch (method) {
        case SimulationMethod::ModePage:
            return "write-parameters-page";
        case SimulationMethod::MakerSwitch:
            return "test-write-switch";
        case SimulationMethod::None:
            break;
    }
    return "none";
}

WriteTestRecord WriteTestRecordOf(std::string driveLabel, std::string firmware, WriteTestResult result,
                                  std::string date) {
    WriteTestRecord record;
    record.driveLabel = std::move(driveLabel);
    record.firmware = std::move(firmware);
    record.programVersion = kVersionText;
    record.discType = DiscTypeOfProfile(result.profile).name;
    record.result = std::move(result);
    record.date = std::move(date);
    return record;
}

std::string WriteTestOutcomeText(const WriteTestResult& r) {
    if (!r.message.empty()) return r.message;
    switch (r.end) {
        case WriteTestEnd::Finished:
            return "Finished: nothing was recorded.";
        case WriteTestEnd::Stopped:
            return "Stopped.";
        case WriteTestEnd::DriveFailed:
            return "The drive failed a write; the test was ended.";
        case WriteTestEnd::Refused:
        case WriteTestEnd::Recorded:
            break;
    }
    return WriteTestEndName(r.end);
}

void WriteWriteTest(std::ostream& out, const WriteTestRecord& record) {
    const WriteTestResult& r = record.result;
    const DiscLayout& layout = r.layout;
    // The points sit inside the sectors written (a point stands for the sectors from it on).
    out << kWriteTestResultsTitle << "\n"
        << "# format version: " << kWriteTestFormatVersion << "\n"
        << "# drive: " << EscapeField(record.driveLabel) << "\n"
        << "# firmware: " << EscapeField(record.firmware) << "\n"
        << "# disc type: " << EscapeField(record.discType) << "\n"
        << "# profile: " << r.profile << "\n"
        << "# last lba: " << layout.lastLba << "\n"
        << "# layers: " << static_cast<int>(layout.layers) << "\n"
        << "# layer break: " << (layout.layerBreakLba ? std::to_string(*layout.layerBreakLba) : "none")
        << "\n"
        << "# date: " << EscapeField(record.date) << "\n"
        << "# program version: " << EscapeField(record.programVersion) << "\n"
        << "# simulation: " << SimulationMethodName(r.method) << "\n"
        << "# speed asked kbps: " << r.speedKBps << "\n";
    for (const uint32_t kbps : r.writeSpeedsKBps) out << "# write speed: " << kbps << "\n";
    out << "# start lba: " << r.startLba << "\n"
        << "# result: " << WriteTestEndName(r.end) << "\n";
    if (!r.message.empty()) out << "# message: " << EscapeField(r.message) << "\n";
    for (const std::string& note : r.notes) out << "# note: " << EscapeField(note) << "\n";
    char sectors[128];
    std::snprintf(sectors, sizeof sectors, kSectorsWrite, r.plannedSectors, r.writtenSectors,
                  r.writeRequests);
    out << "# sectors: " << sectors << "\n";
    if (r.summary) out << "# transfer: " << TransferSummaryText(*r.summary) << "\n";
    out << "# full disc: " << FixedField(r.fullDiscSeconds) << " seconds\n"
        << "# simulation left on: " << YesNo(r.simulationLeftOn) << "\n"
        << "# setting restored: " << YesNo(r.settingRestored) << "\n"
        << "# blank after: " << YesNo(r.blankAfter) << "\n"
        << "# elapsed: " << FixedField(r.elapsedSeconds) << " seconds\n"
        << "# points: " << r.points.size() << "\n"
        << kWriteTestColumns << "\n";
    for (const WritePoint& p : r.points)
        out << p.lba << ',' << Position(p.lba) << ',' << FixedField(p.speedX) << ','
            << BufferPercent(p.bufferFill) << ',' << FixedField(p.rpm) << '\n';
}

WriteTestRead ReadWriteTest(std::istream& in, const std::string& name) {
    return Reader(in, name).Read();
}

WriteTestRead ReadWriteTestFile(const std::string& path) {
    std::string content;
    const FileResult read = ReadFileContent(path, &content, kMaxFileBytes);
    if (!read.Ok()) return WriteTestRead{std::nullopt, path + ": " + read.detail, false};
    std::istringstream in(std::move(content));
    return ReadWriteTest(in, path);
}

std::vector<std::optional<double>> SpeedZones(const WriteTestResult& result) {
    ReadTestResult asRead;
    asRead.layout = result.layout;
    for (const WritePoint& p : result.points) asRead.points.push_back({p.lba, p.speedX, p.rpm});
    return SpeedZones(asRead);
}

Result<void> SaveWriteTestFile(const std::string& path, const WriteTestRecord& record) {
    std::ostringstream text;
    WriteWriteTest(text, record);
    const FileResult written = WriteFileSafely(path, text.str());
    if (!written.Ok()) return Error{written.WriteMessage(path)};
    return {};
}

std::vector<std::string> WriteTestHeaderLines(const WriteTestRecord& record) {
    const WriteTestResult& r = record.result;
    char text[256];
    std::vector<std::string> lines;
    lines.push_back("Drive: " + record.driveLabel + "    Firmware: " + record.firmware);
    std::snprintf(text, sizeof text, "    Capacity: %.1f MB    Layers: %d",
                  (uint64_t{r.layout.lastLba} + 1) * 2048 / 1048576.0, static_cast<int>(r.layout.layers));
    lines.push_back("Disc: " + record.discType + text);
    const char* how = r.method == SimulationMethod::MakerSwitch ? "Test Write switch"
                      : r.method == SimulationMethod::ModePage  ? "Write Parameters page"
                                                                : "no simulation";
    std::string speed = "max";
    if (r.speedKBps > 0) {
        std::snprintf(text, sizeof text, "%.1fX", r.speedKBps / r.layout.KBpsAt1X());
        speed = text;
    }
    std::snprintf(text, sizeof text, "Write test (%s)    Speed: %s    LBA %u, %llu sectors", how,
                  speed.c_str(), r.startLba, static_cast<unsigned long long>(r.writtenSectors));
    lines.push_back(text + ("    Date: " + record.date));
    if (r.summary) {
        const TransferSummary& t = *r.summary;
        std::snprintf(text, sizeof text,
                      "Start %.2fX, end %.2fX, average %.2fX, minimum %.2fX at LBA %u; write mode %s; "
                      "a whole disc in %.0f s",
                      t.startX, t.endX, t.averageX, t.minimumX, t.minimumLba, ReadModeName(t.mode),
                      r.fullDiscSeconds);
        lines.push_back(text);
    }
    lines.push_back("Outcome: " + WriteTestOutcomeText(r));
    return lines;
}

std::string WriteTestShortName(const WriteTestRecord& record) {
    return record.discType + ", write test, " + record.date.substr(0, 10);
}

}  // namespace dravix
