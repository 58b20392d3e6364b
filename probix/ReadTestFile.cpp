#include "probix/ReadTestFile.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <sstream>

#include "base/SafeFile.h"
#include "probix/FileFields.h"
#include "probix/Rotation.h"

namespace dravix {

namespace {

constexpr size_t kMaxLineLength = 4096;
// A run keeps about kTargetPoints points; a hand-made file may hold more, never this many.
constexpr size_t kMaxPoints = 1000000;
constexpr size_t kMaxRanges = 1000000;
// A file of kMaxPoints points and as many ranges stays below this.
constexpr size_t kMaxFileBytes = size_t{128} << 20;

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// Speeds and times with three decimals: what is written is read back to the same value, so the
// reader compares them exactly.
std::string Fixed(double value) {
    return Format("%.3f", value);
}

std::string RangeText(const SectorRange& range) {
    return std::to_string(range.first) + "," + std::to_string(range.last);
}

// "not judged", "same", "disc shorter by N", "disc longer by N".
std::string LengthText(const VerifySummary& v) {
    switch (v.length) {
        case LengthMatch::Same:
            return "same";
        case LengthMatch::DiscShorter:
            return "disc shorter by " + std::to_string(v.lengthDifference);
        case LengthMatch::DiscLonger:
            return "disc longer by " + std::to_string(v.lengthDifference);
        case LengthMatch::NotJudged:
            break;
    }
    return "not judged";
}

constexpr const char* kSectorsWrite =
    "planned %" PRIu64 ", read %" PRIu64 ", recovered %" PRIu64 ", failed %" PRIu64 ", skipped %" PRIu64;
constexpr const char* kSectorsRead =
    "planned %" SCNu64 ", read %" SCNu64 ", recovered %" SCNu64 ", failed %" SCNu64 ", skipped %" SCNu64 "%n";
// Format 2 had no count of recovered reads.
constexpr const char* kSectorsReadVersion2 =
    "planned %" SCNu64 ", read %" SCNu64 ", failed %" SCNu64 ", skipped %" SCNu64 "%n";
constexpr int kOldestReadTestFormat = 2;
// The result of a run that a failure of the drive or its connection ended; the "failure" line
// says which, and where.
constexpr const char* kResultFailed = "failed";
constexpr const char* kVerifyWrite =
    "image sectors %" PRIu64 ", compared %" PRIu64 ", differing %" PRIu64 ", unread %" PRIu64 ", image %s";
constexpr const char* kVerifyRead = "image sectors %" SCNu64 ", compared %" SCNu64 ", differing %" SCNu64
                                    ", unread %" SCNu64 ", image %15[a-z]%n";
constexpr const char* kSeriesWrite = "%d reads, %.3f ms average, %.3f ms worst";
constexpr const char* kSeriesRead = "%d reads, %lf ms average, %lf ms worst%n";

std::string SeriesText(const AccessSeries& s) {
    return Format(kSeriesWrite, s.reads, s.averageMs, s.worstMs);
}

// A benchmark figure: "12.345 UNIT", or "none: why".
std::string FigureText(const BenchmarkFigure& figure, const char* unit) {
    if (figure.value) return Fixed(*figure.value) + " " + unit;
    return "none: " + EscapeField(figure.note);
}

bool EndedByFailure(ReadTestEnd end) {
    return end == ReadTestEnd::DriveNotAnswering || end == ReadTestEnd::ConnectionFailed;
}

// The sectors of `ranges` (in order, apart) that lie in `within`.
uint64_t SectorsWithin(const std::vector<SectorRange>& ranges, SectorRange within) {
    uint64_t sectors = 0;
    for (const SectorRange& r : ranges) {
        const uint32_t first = std::max(r.first, within.first);
        const uint32_t last = std::min(r.last, within.last);
        if (first <= last) sectors += uint64_t{last} - first + 1;
    }
    return sectors;
}

bool Inside(const SectorRange& range, const SectorRange& within) {
    return range.first >= within.first && range.last <= within.last;
}

class Reader final : DescriptionReader {
  public:
    Reader(std::istream& in, std::string name)
        : DescriptionReader(in, kMaxLineLength), m_name(std::move(name)) {}

    ReadTestRead Read() {
        ReadTestRead read;
        ReadTestRecord record;
        if (const std::optional<FileFault> fault = Parse(record)) {
            read.error = FaultText(m_name, *fault);
        } else {
            read.record = std::move(record);
        }
        read.otherKind = m_otherKind;
        return read;
    }

  private:
    // "first,last" with first <= last, in position order after `previous`.
    static bool ParseRange(std::string_view text, SectorRange& range) {
        const std::vector<std::string_view> f = SplitCommas(text);
        return f.size() == 2 && ParseNumber(f[0], range.first) && ParseNumber(f[1], range.last) &&
               range.first <= range.last;
    }

    std::optional<FileFault> Ranges(const char* key, std::vector<SectorRange>& ranges) const {
        for (const HeaderLine& h : All(key)) {
            SectorRange range;
            if (!ParseRange(h.value, range) || (!ranges.empty() && range.first <= ranges.back().last) ||
                ranges.size() >= kMaxRanges)
                return FileFault{h.line, std::string("the ") + key + " range is damaged or out of order"};
            ranges.push_back(range);
        }
        return std::nullopt;
    }

    // "12.345 UNIT" or "none: why".
    std::optional<FileFault> Figure(const char* key, const char* unit, BenchmarkFigure& figure) const {
        HeaderLine h;
        if (auto fault = One(key, h)) return fault;
        const std::string none = "none: ";
        if (h.value.rfind(none, 0) == 0) {
            const std::optional<std::string> note = UnescapeField(h.value.substr(none.size()));
            if (!note || note->empty()) return FileFault{h.line, std::string("the ") + key + " is damaged"};
            figure = {std::nullopt, *note};
            return std::nullopt;
        }
        double value = 0;
        int used = 0;
        if (std::sscanf(h.value.c_str(), "%lf %n", &value, &used) != 1 || value < 0 ||
            h.value.substr(static_cast<size_t>(used)) != unit)
            return FileFault{h.line, std::string("the ") + key + " is damaged"};
        figure = {value, {}};
        return std::nullopt;
    }

    // The benchmark's figures: all of them in a benchmark, none in another test.
    std::optional<FileFault> Figures(ReadTestResult& r) const {
        const char* keys[] = {"burst rate", "top read speed", "spin down", "spin up", "eject", "load"};
        if (r.kind != ReadTestKind::Benchmark) {
            for (const char* key : keys) {
                if (!All(key).empty())
                    return FileFault{All(key).front().line, "a benchmark figure in another test"};
            }
            return std::nullopt;
        }
        // A benchmark stopped early has the figures it measured until then: none at all before.
        if (All("burst rate").empty() && r.end != ReadTestEnd::Finished) return std::nullopt;
        BenchmarkFigures b;
        if (auto fault = Figure("burst rate", "MB/s", b.burstMBps)) return fault;
        BenchmarkFigure top;
        if (auto fault = Figure("top read speed", "MB/s", top)) return fault;
        if (!top.value) return FileFault{All("top read speed").front().line, "the top read speed is damaged"};
        b.topReadMBps = *top.value;
        if (auto fault = Figure("spin down", "seconds", b.spinDownSeconds)) return fault;
        if (auto fault = Figure("spin up", "seconds", b.spinUpSeconds)) return fault;
        b.loadEjectRun = !All("eject").empty() || !All("load").empty();
        if (b.loadEjectRun) {
            if (auto fault = Figure("eject", "seconds", b.ejectSeconds)) return fault;
            if (auto fault = Figure("load", "seconds", b.loadSeconds)) return fault;
        }
        r.benchmark = b;
        return std::nullopt;
    }

    std::optional<FileFault> Parse(ReadTestRecord& record) {
        std::string line;
        if (!m_lines.Next(line))
            return FileFault{0,
                             m_lines.TooLong() ? "this is not a Dravix results file" : "the file is empty"};
        if (line != kReadTestResultsTitle) {
            m_otherKind = true;
            return FileFault{1, "this is not a Dravix read test"};
        }
        if (auto fault =
                m_header.Read(m_lines, line, {"track", "failed", "skipped", "difference", "verdict"}))
            return fault;
        ReadTestResult& r = record.result;
        if (auto fault = Number("format version", record.formatVersion)) return fault;
        if (record.formatVersion < kOldestReadTestFormat || record.formatVersion > kReadTestFormatVersion) {
            return FileFault{All("format version").front().line,
                             record.formatVersion > kReadTestFormatVersion
                                 ? "this file was written by a newer version of Dravix (results format " +
                                       std::to_string(record.formatVersion) + ")"
                                 : "the format version is damaged"};
        }
        if (auto fault = Text("drive", record.driveLabel)) return fault;
        if (auto fault = Text("firmware", record.firmware)) return fault;
        if (auto fault = Text("disc type", record.discType)) return fault;
        if (auto fault = Number("profile", r.layout.profile)) return fault;
        r.layout.dvd = r.layout.profile >= 0x10;
        if (auto fault = Number("last lba", r.layout.lastLba)) return fault;
        if (auto fault = Number("sessions", r.layout.sessions)) return fault;
        if (auto fault = Number("layers", r.layout.layers)) return fault;
        {
            HeaderLine h;
            if (auto fault = One("layer break", h)) return fault;
            uint32_t lba = 0;
            if (h.value != "none" && !ParseNumber(h.value, lba))
                return FileFault{h.line, "the layer break is damaged"};
            if (h.value != "none") r.layout.layerBreakLba = lba;
        }
        if (!All("track path").empty()) {
            std::string path;
            if (auto fault = Text("track path", path)) return fault;
            if ((path != "opposite" && path != "parallel") || r.layout.layers < 2)
                return FileFault{All("track path").front().line, "the track path is damaged"};
            r.layout.parallelTrackPath = path == "parallel";
        }
        {
            std::string source;
            if (auto fault = Text("track source", source)) return fault;
            bool known = false;
            for (TrackSource s : {TrackSource::TrackInformation, TrackSource::Toc, TrackSource::Capacity}) {
                if (source == TrackSourceName(s)) {
                    r.layout.trackSource = s;
                    known = true;
                }
            }
            if (!known) return FileFault{All("track source").front().line, "the track source is damaged"};
        }
        for (const HeaderLine& h : All("track")) {
            const std::vector<std::string_view> f = SplitCommas(h.value);
            LayoutTrack t;
            if (f.size() != 5 || !ParseNumber(f[0], t.number) || !ParseNumber(f[1], t.session) ||
                !ParseNumber(f[2], t.firstLba) || !ParseNumber(f[3], t.lastLba) || t.firstLba > t.lastLba ||
                (f[4] != "data" && f[4] != "audio"))
                return FileFault{h.line, "the track is damaged"};
            t.data = f[4] == "data";
            if (!t.data) r.audioTracks.push_back({t.firstLba, t.lastLba});
            r.layout.tracks.push_back(t);
        }
        {
            std::string kind;
            if (auto fault = Text("test", kind)) return fault;
            bool known = false;
            for (ReadTestKind k : {ReadTestKind::Transfer, ReadTestKind::Errors, ReadTestKind::Seek,
                                   ReadTestKind::Benchmark}) {
                if (kind == ReadTestKindName(k)) {
                    r.kind = k;
                    known = true;
                }
            }
            if (!known)
                return FileFault{All("test").front().line,
                                 "the test is none of transfer, errors, seek, benchmark"};
            if (r.kind == ReadTestKind::Benchmark && record.formatVersion < 4)
                return FileFault{All("test").front().line, "a benchmark in a file older than format 4"};
            std::string quick;
            if (auto fault = Text("quick", quick)) return fault;
            if (quick != "yes" && quick != "no")
                return FileFault{All("quick").front().line, "\"quick\" is not yes or no"};
            r.quick = quick == "yes";
        }
        if (auto fault = Text("speed", r.speed.text)) return fault;
        {
            HeaderLine h;
            if (auto fault = One("range", h)) return fault;
            unsigned long first = 0, last = 0;
            int used = 0;
            if (std::sscanf(h.value.c_str(), "LBA %lu up to %lu%n", &first, &last, &used) != 2 ||
                static_cast<size_t>(used) != h.value.size() || first > last || last > UINT32_MAX)
                return FileFault{h.line, "the range is damaged"};
            r.range = {static_cast<uint32_t>(first), static_cast<uint32_t>(last)};
        }
        if (auto fault = Number("request sectors", r.requestSectors)) return fault;
        if (auto fault = Text("date", record.date)) return fault;
        if (auto fault = Text("program version", record.programVersion)) return fault;
        if (!All("image").empty()) {
            if (auto fault = Text("image", record.imageName)) return fault;
        }
        const bool version2 = record.formatVersion == 2;
        {
            std::string end;
            if (auto fault = Text("result", end)) return fault;
            bool known = false;
            for (ReadTestEnd e : {ReadTestEnd::Finished, ReadTestEnd::Stopped, ReadTestEnd::DiscChanged,
                                  ReadTestEnd::DriveGone, ReadTestEnd::NotReadable}) {
                if (end == ReadTestEndName(e)) {
                    r.end = e;
                    known = true;
                }
            }
            const int line = All("result").front().line;
            if (!known && (end != kResultFailed || version2)) return FileFault{line, "the result is damaged"};
            if (known && !All("failure").empty())
                return FileFault{All("failure").front().line, "a failure line without a failed result"};
            if (!known) {
                // "drive-not-answering at LBA N" or "connection-failed at LBA N".
                HeaderLine h;
                if (auto fault = One("failure", h)) return fault;
                known = false;
                for (ReadTestEnd e : {ReadTestEnd::DriveNotAnswering, ReadTestEnd::ConnectionFailed}) {
                    const std::string prefix = std::string(ReadTestEndName(e)) + " at LBA ";
                    if (h.value.rfind(prefix, 0) == 0 &&
                        ParseNumber(h.value.substr(prefix.size()), r.endLba)) {
                        r.end = e;
                        known = true;
                    }
                }
                if (!known) return FileFault{h.line, "the failure is damaged"};
            }
        }
        HeaderLine sectors;
        if (auto fault = One("sectors", sectors)) return fault;
        {
            int used = 0;
            const bool read =
                version2 ? std::sscanf(sectors.value.c_str(), kSectorsReadVersion2, &r.plannedSectors,
                                       &r.readSectors, &r.failedSectors, &r.skippedSectors, &used) == 4
                         : std::sscanf(sectors.value.c_str(), kSectorsRead, &r.plannedSectors, &r.readSectors,
                                       &r.recoveredSectors, &r.failedSectors, &r.skippedSectors, &used) == 5;
            if (!read || static_cast<size_t>(used) != sectors.value.size() ||
                r.recoveredSectors > r.readSectors)
                return FileFault{sectors.line, "the sector counts are damaged"};
        }
        for (const HeaderLine& h : All("failed")) {
            const std::vector<std::string_view> f = SplitCommas(h.value);
            FailedRange failure;
            unsigned status = 0, key = 0, asc = 0, ascq = 0;
            if (f.size() != 6 || !ParseNumber(f[0], failure.range.first) ||
                !ParseNumber(f[1], failure.range.last) || failure.range.first > failure.range.last ||
                !ParseNumber(f[2], status) || (status != kCommandFailed && status != kCommandTimedOut) ||
                !ParseNumber(f[3], key) || !ParseNumber(f[4], asc) || !ParseNumber(f[5], ascq) ||
                key > 0xFF || asc > 0xFF || ascq > 0xFF ||
                (!r.failures.empty() && failure.range.first <= r.failures.back().range.last) ||
                r.failures.size() >= kMaxRanges)
                return FileFault{h.line, "the failed range is damaged or out of order"};
            failure.status = static_cast<uint8_t>(status);
            failure.sense = {static_cast<uint8_t>(key), static_cast<uint8_t>(asc),
                             static_cast<uint8_t>(ascq)};
            r.failures.push_back(failure);
        }
        if (auto fault = Ranges("skipped", r.skipped)) return fault;

        // The counts are those of the ranges: a count edited by hand, or ranges lost, show here.
        uint64_t failed = 0, skipped = 0;
        for (const FailedRange& f : r.failures) failed += f.range.Count();
        for (const SectorRange& s : r.skipped) skipped += s.Count();
        if (failed != r.failedSectors)
            return FileFault{sectors.line, "the failed sectors do not add up to the failed ranges"};
        if (skipped != r.skippedSectors)
            return FileFault{sectors.line, "the skipped sectors do not add up to the skipped ranges"};
        if (r.readSectors + r.failedSectors + r.skippedSectors > r.plannedSectors)
            return FileFault{sectors.line, "more sectors read, failed and skipped than planned"};
        // What the run planned follows from the range; a finished run did all of it.
        const int rangeLine = All("range").front().line;
        if (r.range.last > r.layout.lastLba)
            return FileFault{rangeLine, "the range goes beyond the disc's last LBA"};
        const std::vector<SectorRange> stretches = r.kind == ReadTestKind::Seek
                                                       ? std::vector<SectorRange>{}
                                                       : ReadStretches(r.layout, r.range, r.quick);
        uint64_t planned = 0;
        for (const SectorRange& stretch : stretches) planned += stretch.Count();
        if (r.kind != ReadTestKind::Seek && planned != r.plannedSectors)
            return FileFault{sectors.line, "the planned sectors are not those of the range"};
        if (r.end == ReadTestEnd::Finished &&
            r.readSectors + r.failedSectors + r.skippedSectors != r.plannedSectors)
            return FileFault{sectors.line,
                             "the sectors read, failed and skipped do not add up to those planned"};
        for (const FailedRange& f : r.failures) {
            if (!Inside(f.range, r.range))
                return FileFault{sectors.line, "a failed range lies outside the range read"};
        }
        for (const SectorRange& skip : r.skipped) {
            if (!Inside(skip, r.range))
                return FileFault{sectors.line, "a skipped range lies outside the range read"};
        }

        std::optional<int> transferLine;
        if (!All("transfer").empty()) {
            HeaderLine h;
            if (auto fault = One("transfer", h)) return fault;
            transferLine = h.line;
            const std::optional<TransferSummary> t = ParseTransferSummary(h.value);
            if (!t) return FileFault{h.line, "the transfer summary is damaged"};
            r.transfer = *t;
        }
        if (!All("verify").empty()) {
            HeaderLine h;
            if (auto fault = One("verify", h)) return fault;
            VerifySummary v;
            char image[16] = {};
            int used = 0;
            if (std::sscanf(h.value.c_str(), kVerifyRead, &v.imageSectors, &v.comparedSectors,
                            &v.differingSectors, &v.uncomparedSectors, image, &used) != 5 ||
                (std::string(image) != "read" && std::string(image) != "unreadable"))
                return FileFault{h.line, "the verify summary is damaged"};
            v.imageReadFailed = std::string(image) == "unreadable";
            // The length judgement follows: "; length same", "; length disc shorter by N", ...
            const std::string rest = h.value.substr(static_cast<size_t>(used));
            const std::string prefix = "; length ";
            if (rest.rfind(prefix, 0) != 0) return FileFault{h.line, "the verify summary is damaged"};
            const std::string length = rest.substr(prefix.size());
            unsigned long long by = 0;
            if (length == "same") {
                v.length = LengthMatch::Same;
            } else if (length == "not judged") {
                v.length = LengthMatch::NotJudged;
            } else if (std::sscanf(length.c_str(), "disc shorter by %llu", &by) == 1 &&
                       length == "disc shorter by " + std::to_string(by)) {
                v.length = LengthMatch::DiscShorter;
            } else if (std::sscanf(length.c_str(), "disc longer by %llu", &by) == 1 &&
                       length == "disc longer by " + std::to_string(by)) {
                v.length = LengthMatch::DiscLonger;
            } else {
                return FileFault{h.line, "the verify summary is damaged"};
            }
            v.lengthDifference = by;
            if (auto fault = Ranges("difference", v.differences)) return fault;
            // Format 2 counted the unread sectors apart from the differing ones.
            if (version2) v.differingSectors += v.uncomparedSectors;
            uint64_t listed = v.uncomparedSectors;
            for (const SectorRange& d : v.differences) listed += d.Count();
            // Only the first ranges are listed: all of them must add up, the first few cannot exceed.
            if (v.differences.size() > kListedDifferences ||
                (v.differences.size() < kListedDifferences ? listed != v.differingSectors
                                                           : listed > v.differingSectors))
                return FileFault{h.line, "the differing sectors do not add up to the listed differences"};
            // The compared and unread sectors are those of the image the run covered.
            if (r.kind == ReadTestKind::Seek || (r.quick && !version2))
                return FileFault{h.line, "a verify of a run that compares nothing"};
            uint64_t inImage = 0, unread = 0;
            if (v.imageSectors > 0) {
                const uint64_t base = ImageBaseLba(r.layout);
                const SectorRange extent{
                    static_cast<uint32_t>(base),
                    static_cast<uint32_t>(std::min<uint64_t>(base + v.imageSectors - 1, UINT32_MAX))};
                std::vector<SectorRange> failed;
                for (const FailedRange& f : r.failures) failed.push_back(f.range);
                inImage = SectorsWithin(stretches, extent);
                unread = SectorsWithin(failed, extent) + SectorsWithin(r.skipped, extent);
            }
            const bool exact = r.end == ReadTestEnd::Finished && !v.imageReadFailed;
            if (v.comparedSectors > r.readSectors || v.comparedSectors + v.uncomparedSectors > inImage ||
                v.uncomparedSectors > unread ||
                (exact && (v.comparedSectors != inImage - unread || v.uncomparedSectors != unread)))
                return FileFault{h.line,
                                 "the compared and unread sectors are not those the run read of the image"};
            r.verify = v;
        } else if (!All("difference").empty()) {
            return FileFault{All("difference").front().line, "differences without a verify"};
        }
        if (!All("access").empty()) {
            HeaderLine h;
            if (auto fault = One("access", h)) return fault;
            AccessSummary a;
            const std::string parts[] = {"random ", "; one third ", "; full stroke "};
            AccessSeries* series[] = {&a.random, &a.oneThird, &a.fullStroke};
            size_t at = 0;
            bool ok = true;
            for (size_t i = 0; i < 3 && ok; ++i) {
                ok = h.value.compare(at, parts[i].size(), parts[i]) == 0;
                at += parts[i].size();
                int used = 0;
                ok = ok && std::sscanf(h.value.c_str() + at, kSeriesRead, &series[i]->reads,
                                       &series[i]->averageMs, &series[i]->worstMs, &used) == 3;
                at += static_cast<size_t>(used);
            }
            int used = 0;
            ok = ok &&
                 std::sscanf(h.value.c_str() + at, "; all %lf ms average, %lf ms worst; %d failed%n",
                             &a.averageMs, &a.worstMs, &a.failedReads, &used) == 3 &&
                 at + static_cast<size_t>(used) == h.value.size();
            if (!ok) return FileFault{h.line, "the access times are damaged"};
            r.access = a;
        }
        if (auto fault = Figures(r)) return fault;
        {
            HeaderLine h;
            if (auto fault = One("elapsed", h)) return fault;
            int used = 0;
            if (std::sscanf(h.value.c_str(), "%lf seconds%n", &r.elapsedSeconds, &used) != 1 ||
                static_cast<size_t>(used) != h.value.size() || r.elapsedSeconds < 0)
                return FileFault{h.line, "the elapsed time is damaged"};
        }
        uint64_t expectedPoints = 0;
        if (auto fault = Number("points", expectedPoints)) return fault;

        const bool withRotation = record.formatVersion >= 4;
        const char* columns = withRotation ? kReadTestColumns : kReadTestColumnsVersion3;
        if (line != columns)
            return FileFault{m_lines.Number(), std::string("the table's columns are not ") + columns};
        while (m_lines.Next(line)) {
            if (r.points.size() >= kMaxPoints)
                return FileFault{m_lines.Number(), "more points than a run measures"};
            const std::vector<std::string_view> f = SplitCommas(line);
            SpeedPoint p;
            if (f.size() != (withRotation ? 4u : 3u) || !ParseNumber(f[0], p.lba) ||
                !ParseNumber(f[2], p.speedX) || p.speedX < 0 ||
                f[1] != Format("%.6f", PositionGigabytes(p.lba)) ||
                (withRotation && (!ParseNumber(f[3], p.rpm) || p.rpm < 0)))
                return FileFault{m_lines.Number(),
                                 withRotation
                                     ? "the point is damaged (LBA, its position in GB, the speed in X, "
                                       "the rotation in RPM)"
                                     : "the point is damaged (LBA, its position in GB, the speed in X)"};
            // An older file's rotation follows from the position and the speed.
            if (!withRotation) p.rpm = RotationRpm(r.layout, p.lba, p.speedX);
            if (!r.points.empty() && p.lba <= r.points.back().lba)
                return FileFault{m_lines.Number(), "the points are not in the order of the disc"};
            if (p.lba > r.layout.lastLba)
                return FileFault{m_lines.Number(), "the point lies beyond the disc's last LBA"};
            if (p.lba < r.range.first || p.lba > r.range.last)
                return FileFault{m_lines.Number(), "the point lies outside the range read"};
            r.points.push_back(p);
        }
        if (m_lines.TooLong()) return FileFault{m_lines.Number() + 1, "the line is too long"};
        if (r.points.size() != expectedPoints) {
            return FileFault{m_lines.Number(), "the file holds " + std::to_string(r.points.size()) +
                                                   " of its " + std::to_string(expectedPoints) +
                                                   " points (it is cut short or damaged)"};
        }

        if (r.points.size() > r.readSectors)
            return FileFault{sectors.line, "more speed points than sectors read"};
        if (r.access && r.end == ReadTestEnd::Finished &&
            r.access->random.reads + r.access->oneThird.reads + r.access->fullStroke.reads +
                    r.access->failedReads !=
                kRandomSeeks + kOneThirdSeeks + kFullStrokeSeeks)
            return FileFault{All("access").front().line,
                             "the access-time reads do not add up to those of a run"};

        // The summary is that of the points, and the verdict that of the ranges.
        // A run that ended early has its points but no summary.
        if ((r.transfer && r.points.empty()) ||
            (!r.transfer && !r.points.empty() && r.end == ReadTestEnd::Finished))
            return FileFault{transferLine.value_or(m_lines.Number()),
                             "the transfer summary does not go with the points"};
        if (r.transfer) {
            const auto slowest = std::min_element(
                r.points.begin(), r.points.end(),
                [](const SpeedPoint& a, const SpeedPoint& b) { return a.speedX < b.speedX; });
            if (r.transfer->startX != r.points.front().speedX || r.transfer->endX != r.points.back().speedX ||
                r.transfer->minimumX != slowest->speedX || r.transfer->minimumLba != slowest->lba)
                return FileFault{*transferLine, "the transfer summary does not agree with the speed points"};
        }
        std::vector<std::string> verdict;
        int verdictLine = m_lines.Number();
        for (const HeaderLine& h : All("verdict")) {
            const std::optional<std::string> text = UnescapeField(h.value);
            if (!text) return FileFault{h.line, "the verdict is damaged"};
            if (verdict.empty()) verdictLine = h.line;
            verdict.push_back(*text);
        }
        // Format 2 wrote the verdicts of its time; the counts above are checked all the same, and the
        // verdict shown is today's.
        if (!version2 && verdict != VerdictLines(r))
            return FileFault{verdictLine, "the verdict does not agree with the stored ranges and counts"};
        return std::nullopt;
    }

    std::string m_name;
    bool m_otherKind = false;
};

}  // namespace

std::string TransferSummaryText(const TransferSummary& t) {
    return "start " + Fixed(t.startX) + " X, end " + Fixed(t.endX) + " X, average " + Fixed(t.averageX) +
           " X, minimum " + Fixed(t.minimumX) + " X at LBA " + std::to_string(t.minimumLba) + ", mode " +
           ReadModeName(t.mode);
}

std::optional<TransferSummary> ParseTransferSummary(const std::string& text) {
    TransferSummary t;
    char mode[16] = {};
    unsigned long minimumLba = 0;
    int used = 0;
    if (std::sscanf(text.c_str(),
                    "start %lf X, end %lf X, average %lf X, minimum %lf X at LBA %lu, mode %15s%n", &t.startX,
                    &t.endX, &t.averageX, &t.minimumX, &minimumLba, mode, &used) != 6 ||
        static_cast<size_t>(used) != text.size() || minimumLba > UINT32_MAX)
        return std::nullopt;
    t.minimumLba = static_cast<uint32_t>(minimumLba);
    for (ReadMode m :
         {ReadMode::Clv, ReadMode::Cav, ReadMode::PartialCav, ReadMode::ZonedClv, ReadMode::Unknown}) {
        if (std::string(mode) == ReadModeName(m)) {
            t.mode = m;
            return t;
        }
    }
    return std::nullopt;
}

std::string FixedField(double value) {
    return Fixed(value);
}

const char* ReadTestOutcomeName(const ReadTestResult& r) {
    switch (r.end) {
        case ReadTestEnd::Stopped:
            return "stopped";
        case ReadTestEnd::DiscChanged:
            return "disc_changed";
        case ReadTestEnd::DriveGone:
            return "drive_gone";
        case ReadTestEnd::NotReadable:
            return "not_readable";
        case ReadTestEnd::DriveNotAnswering:
        case ReadTestEnd::ConnectionFailed:
            return kResultFailed;
        case ReadTestEnd::Finished:
            break;
    }
    if (r.failedSectors > 0 || r.skippedSectors > 0 || (r.access && r.access->failedReads > 0))
        return "unreadable";
    if (r.verify) {
        const std::optional<bool> matches = VerifyMatches(r);
        if (!matches) return "incomplete";
        if (!*matches) return "differs";
    }
    return "ok";
}

std::string ReadTestOutcomeText(const ReadTestResult& r) {
    switch (r.end) {
        case ReadTestEnd::Stopped:
            return "User abort!";
        case ReadTestEnd::DiscChanged:
            return "The disc was changed or taken out: the run has no verdict.";
        case ReadTestEnd::DriveGone:
            return "The drive is no longer there: the run has no verdict.";
        case ReadTestEnd::DriveNotAnswering:
            return Format(kEndDriveNotAnswering, r.endLba);
        case ReadTestEnd::ConnectionFailed:
            return Format(kEndConnectionFailed, r.endLba);
        case ReadTestEnd::NotReadable:
            return NotReadableText(r.notReadable);
        case ReadTestEnd::Finished:
            break;
    }
    if (r.kind == ReadTestKind::Seek) {
        if (!r.access) return {};
        return r.access->failedReads > 0
                   ? CountText(kAccessReadsFailed, static_cast<unsigned long long>(r.access->failedReads))
                   : Format("Average access time %.1f ms, worst %.1f ms.", r.access->averageMs,
                            r.access->worstMs);
    }
    std::string text;
    for (const std::string& line : VerdictLines(r)) text += (text.empty() ? "" : " ") + line;
    return text;
}

void WriteReadTest(std::ostream& out, const ReadTestRecord& record) {
    const ReadTestResult& r = record.result;
    const DiscLayout& layout = r.layout;
    out << kReadTestResultsTitle << "\n"
        << "# format version: " << kReadTestFormatVersion << "\n"
        << "# drive: " << EscapeField(record.driveLabel) << "\n"
        << "# firmware: " << EscapeField(record.firmware) << "\n"
        << "# disc type: " << EscapeField(record.discType) << "\n"
        << "# profile: " << layout.profile << "\n"
        << "# last lba: " << layout.lastLba << "\n"
        << "# sessions: " << layout.sessions << "\n"
        << "# layers: " << static_cast<int>(layout.layers) << "\n"
        << "# layer break: " << (layout.layerBreakLba ? std::to_string(*layout.layerBreakLba) : "none")
        << "\n";
    if (layout.layers >= 2)
        out << "# track path: " << (layout.parallelTrackPath ? "parallel" : "opposite") << "\n";
    out << "# track source: " << TrackSourceName(layout.trackSource) << "\n";
    for (const LayoutTrack& t : layout.tracks) {
        out << "# track: " << t.number << ',' << t.session << ',' << t.firstLba << ',' << t.lastLba << ','
            << (t.data ? "data" : "audio") << "\n";
    }
    out << "# test: " << ReadTestKindName(r.kind) << "\n"
        << "# quick: " << (r.quick ? "yes" : "no") << "\n"
        << "# speed: " << EscapeField(r.speed.text) << "\n"
        << "# range: LBA " << r.range.first << " up to " << r.range.last << "\n"
        << "# request sectors: " << r.requestSectors << "\n"
        << "# date: " << EscapeField(record.date) << "\n"
        << "# program version: " << EscapeField(record.programVersion) << "\n";
    if (r.verify) out << "# image: " << EscapeField(record.imageName) << "\n";
    if (EndedByFailure(r.end)) {
        out << "# result: " << kResultFailed << "\n"
            << "# failure: " << ReadTestEndName(r.end) << " at LBA " << r.endLba << "\n";
    } else {
        out << "# result: " << ReadTestEndName(r.end) << "\n";
    }
    out << "# sectors: "
        << Format(kSectorsWrite, r.plannedSectors, r.readSectors, r.recoveredSectors, r.failedSectors,
                  r.skippedSectors)
        << "\n";
    for (const FailedRange& f : r.failures) {
        out << "# failed: " << RangeText(f.range) << ',' << static_cast<int>(f.status) << ','
            << static_cast<int>(f.sense.key) << ',' << static_cast<int>(f.sense.asc) << ','
            << static_cast<int>(f.sense.ascq) << "\n";
    }
    for (const SectorRange& s : r.skipped) out << "# skipped: " << RangeText(s) << "\n";
    if (r.transfer) out << "# transfer: " << TransferSummaryText(*r.transfer) << "\n";
    if (r.verify) {
        const VerifySummary& v = *r.verify;
        out << "# verify: "
            << Format(kVerifyWrite, v.imageSectors, v.comparedSectors, v.differingSectors,
                      v.uncomparedSectors, v.imageReadFailed ? "unreadable" : "read")
            << "; length " << LengthText(v) << "\n";
        for (const SectorRange& d : v.differences) out << "# difference: " << RangeText(d) << "\n";
    }
    if (r.access) {
        const AccessSummary& a = *r.access;
        out << "# access: random " << SeriesText(a.random) << "; one third " << SeriesText(a.oneThird)
            << "; full stroke " << SeriesText(a.fullStroke) << "; all " << Fixed(a.averageMs)
            << " ms average, " << Fixed(a.worstMs) << " ms worst; " << a.failedReads << " failed\n";
    }
    if (r.benchmark) {
        const BenchmarkFigures& b = *r.benchmark;
        out << "# burst rate: " << FigureText(b.burstMBps, "MB/s") << "\n"
            << "# top read speed: " << Fixed(b.topReadMBps) << " MB/s\n"
            << "# spin down: " << FigureText(b.spinDownSeconds, "seconds") << "\n"
            << "# spin up: " << FigureText(b.spinUpSeconds, "seconds") << "\n";
        if (b.loadEjectRun) {
            out << "# eject: " << FigureText(b.ejectSeconds, "seconds") << "\n"
                << "# load: " << FigureText(b.loadSeconds, "seconds") << "\n";
        }
    }
    out << "# elapsed: " << Fixed(r.elapsedSeconds) << " seconds\n";
    for (const std::string& line : VerdictLines(r)) out << "# verdict: " << EscapeField(line) << "\n";
    out << "# points: " << r.points.size() << "\n" << kReadTestColumns << "\n";
    for (const SpeedPoint& p : r.points)
        out << p.lba << ',' << Format("%.6f", PositionGigabytes(p.lba)) << ',' << Fixed(p.speedX) << ','
            << Fixed(p.rpm) << '\n';
}

ReadTestRead ReadReadTest(std::istream& in, const std::string& name) {
    return Reader(in, name).Read();
}

ReadTestRead ReadReadTestFile(const std::string& path) {
    // Opened without waiting: a FIFO or a device is refused at once instead of hanging the reader.
    std::string content;
    const FileResult read = ReadFileContent(path, &content, kMaxFileBytes);
    if (!read.Ok()) return ReadTestRead{std::nullopt, path + ": " + read.detail, false};
    std::istringstream in(std::move(content));
    return ReadReadTest(in, path);
}

std::vector<std::optional<double>> SpeedZones(const ReadTestResult& result) {
    constexpr size_t kZones = 10;
    std::vector<double> sums(kZones, 0.0);
    std::vector<size_t> counts(kZones, 0);
    const uint64_t sectors = uint64_t{result.layout.lastLba} + 1;
    for (const SpeedPoint& p : result.points) {
        const size_t zone = std::min<size_t>(kZones - 1, static_cast<size_t>(p.lba * kZones / sectors));
        sums[zone] += p.speedX;
        ++counts[zone];
    }
    std::vector<std::optional<double>> zones(kZones);
    for (size_t z = 0; z < kZones; ++z) {
        if (counts[z] > 0) zones[z] = sums[z] / static_cast<double>(counts[z]);
    }
    return zones;
}

Result<void> SaveReadTestFile(const std::string& path, const ReadTestRecord& record) {
    std::ostringstream text;
    WriteReadTest(text, record);
    const FileResult written = WriteFileSafely(path, text.str());
    if (!written.Ok()) return Error{written.WriteMessage(path)};
    return {};
}

std::vector<std::string> ReadTestHeaderLines(const ReadTestRecord& record) {
    const ReadTestResult& r = record.result;
    std::vector<std::string> lines;
    lines.push_back("Drive: " + record.driveLabel + "    Firmware: " + record.firmware);
    std::string disc = "Disc: " + record.discType + "    Capacity: " +
                       Format("%.1f MB", (uint64_t{r.layout.lastLba} + 1) * kSectorSize / 1048576.0) +
                       "    Layers: " + std::to_string(r.layout.layers) +
                       "    Tracks: " + std::to_string(r.layout.tracks.size());
    lines.push_back(disc);
    lines.push_back(std::string("Read test: ") + ReadTestKindName(r.kind) + (r.quick ? " (quick)" : "") +
                    "    Speed: " + r.speed.text + "    LBA " + std::to_string(r.range.first) + " up to " +
                    std::to_string(r.range.last) + "    Date: " + record.date);
    if (r.transfer) {
        const TransferSummary& t = *r.transfer;
        lines.push_back(Format("Start %.2fX, end %.2fX, average %.2fX, minimum %.2fX at LBA %u; read mode %s",
                               t.startX, t.endX, t.averageX, t.minimumX, t.minimumLba, ReadModeName(t.mode)));
    }
    if (r.access) {
        const AccessSummary& a = *r.access;
        lines.push_back(
            Format("Access times: random %.1f ms, one third %.1f ms, full stroke %.1f ms; worst %.1f ms",
                   a.random.averageMs, a.oneThird.averageMs, a.fullStroke.averageMs, a.worstMs));
    }
    if (!record.imageName.empty()) lines.push_back("Image: " + record.imageName);
    const std::string outcome = ReadTestOutcomeText(r);
    lines.push_back("Verdict: " + (outcome.empty() ? std::string("none") : outcome));
    return lines;
}

std::string ReadTestShortName(const ReadTestRecord& record) {
    return record.discType + ", " + ReadTestKindName(record.result.kind) + ", " + record.date.substr(0, 10);
}

}  // namespace dravix
