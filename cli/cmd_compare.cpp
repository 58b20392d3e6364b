// compare: two results files side by side: each zone's TE and FE maxima of two scans, or the
// mean read speed of two read tests, and how the second differs from the first.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "cli/Commands.h"
#include "cli/Names.h"
#include "cli/OutputFile.h"
#include "export/ImageType.h"
#include "probix/ReadTestFile.h"
#include "probix/ResultsFile.h"
#include "probix/ResultsFileReader.h"
#include "probix/SpeedList.h"
#include "probix/WriteTestFile.h"

#include "picture/ResultsPictureFile.h"

namespace dravix::cli {

namespace {

schema::Json Max(const PartStatistics& part, bool te) {
    if (part.samples == 0) return nullptr;
    return te ? part.te.maxPercent : part.fe.maxPercent;
}

schema::Json Difference(const PartStatistics& a, const PartStatistics& b, bool te) {
    if (a.samples == 0 || b.samples == 0) return nullptr;
    return te ? int(b.te.maxPercent) - int(a.te.maxPercent) : int(b.fe.maxPercent) - int(a.fe.maxPercent);
}

schema::Json ZoneJson(schema::Json zone, const PartStatistics& a, const PartStatistics& b) {
    return {{"zone", zone},
            {"te_max_percent", {Max(a, true), Max(b, true)}},
            {"fe_max_percent", {Max(a, false), Max(b, false)}},
            {"te_difference", Difference(a, b, true)},
            {"fe_difference", Difference(a, b, false)}};
}

std::string Cell(const schema::Json& value, bool sign = false) {
    if (value.is_null()) return "-";
    const int v = value.get<int>();
    return (sign && v > 0 ? "+" : "") + std::to_string(v);
}

std::string Row(const std::string& name, const PartStatistics& a, const PartStatistics& b) {
    const schema::Json z = ZoneJson(nullptr, a, b);
    char line[128];
    std::snprintf(line, sizeof line, "%-6s %8s %8s %6s   %8s %8s %6s", name.c_str(),
                  Cell(z["te_max_percent"][0]).c_str(), Cell(z["te_max_percent"][1]).c_str(),
                  Cell(z["te_difference"], true).c_str(), Cell(z["fe_max_percent"][0]).c_str(),
                  Cell(z["fe_max_percent"][1]).c_str(), Cell(z["fe_difference"], true).c_str());
    return line;
}

schema::Json Speed(const std::optional<double>& speed) {
    return speed ? schema::Json(std::round(*speed * 100.0) / 100.0) : schema::Json(nullptr);
}

schema::Json SpeedZoneJson(schema::Json zone, const std::optional<double>& a,
                           const std::optional<double>& b) {
    return {{"zone", zone},
            {"speed_x", {Speed(a), Speed(b)}},
            {"difference", a && b ? Speed(*b - *a) : schema::Json(nullptr)}};
}

std::optional<double> AverageX(const ReadTestResult& r) {
    if (!r.transfer) return std::nullopt;
    return r.transfer->averageX;
}

std::string SpeedCell(const schema::Json& value, bool sign = false) {
    if (value.is_null()) return "-";
    char text[32];
    std::snprintf(text, sizeof text, sign ? "%+.2f" : "%.2f", value.get<double>());
    return text;
}

// The zones of two speed curves side by side, as JSON ("results" being `compared`) and as text.
void PutSpeedZones(CliContext& context, const std::vector<std::string>& paths, const std::string (&names)[2],
                   const schema::Json& compared, const std::vector<std::optional<double>>& zonesA,
                   const std::vector<std::optional<double>>& zonesB, std::optional<double> averageA,
                   std::optional<double> averageB) {
    schema::Json zones = schema::Json::array();
    for (size_t z = 0; z < zonesA.size(); ++z)
        zones.push_back(SpeedZoneJson(static_cast<int>(z), zonesA[z], zonesB[z]));
    const schema::Json all = SpeedZoneJson(nullptr, averageA, averageB);
    context.Result()["results"] = compared;
    context.Result()["zones"] = zones;
    context.Result()["all"] = all;

    if (!context.Json()) {
        std::ostream& out = context.Out();
        for (size_t i = 0; i < 2; ++i) {
            out << (i == 0 ? "A: " : "B: ") << CliContext::Escaped(paths[i]) << "\n   "
                << CliContext::Escaped(names[i]) << "\n";
        }
        char line[128];
        std::snprintf(line, sizeof line, "%-6s %9s %9s %7s", "zone", "speed A", "speed B", "B-A");
        out << line << "   (X; zone 0 is the start of the disc)\n";
        auto row = [&](const std::string& name, const schema::Json& z) {
            std::snprintf(line, sizeof line, "%-6s %9s %9s %7s", name.c_str(),
                          SpeedCell(z["speed_x"][0]).c_str(), SpeedCell(z["speed_x"][1]).c_str(),
                          SpeedCell(z["difference"], true).c_str());
            out << line << "\n";
        };
        for (size_t z = 0; z < zones.size(); ++z) row(std::to_string(z), zones[z]);
        row("all", all);
        out << std::flush;
    }
}

// Two read tests: their speed curves, zone by zone (tenths of the disc), and the picture of A with
// B laid over it.
int CompareReadTests(CliContext& context, const std::vector<std::string>& paths, const ReadTestRecord& a,
                     const ReadTestRecord& b, const std::string& imagePath) {
    const ReadTestRecord* records[] = {&a, &b};
    schema::Json compared = schema::Json::array();
    for (size_t i = 0; i < 2; ++i) {
        const ReadTestRecord& r = *records[i];
        schema::Json entry = schema::Json::object();
        PutName(entry, "file", paths[i]);
        schema::Json transfer = nullptr;
        if (r.result.transfer) {
            const TransferSummary& t = *r.result.transfer;
            // The rotation as readtest gives it: at the first and last point, and the fastest.
            const std::vector<SpeedPoint>& points = r.result.points;
            double fastest = 0;
            for (const SpeedPoint& p : points) fastest = std::max(fastest, p.rpm);
            auto rpm = [](double value) { return std::round(value * 10) / 10; };
            transfer = {{"start_x", t.startX},
                        {"end_x", t.endX},
                        {"average_x", t.averageX},
                        {"minimum_x", t.minimumX},
                        {"minimum_lba", t.minimumLba},
                        {"read_mode", ReadModeName(t.mode)},
                        {"start_rpm", rpm(points.empty() ? 0 : points.front().rpm)},
                        {"end_rpm", rpm(points.empty() ? 0 : points.back().rpm)},
                        {"max_rpm", rpm(fastest)}};
        }
        schema::Json described = {{"disc_type", schema::TextOrNull(r.discType)},
                                  {"last_lba", r.result.layout.lastLba},
                                  {"test", ReadTestKindName(r.result.kind)},
                                  {"speed", r.result.speed.text},
                                  {"date", r.date},
                                  {"result", ReadTestOutcomeName(r.result)},
                                  {"failed_sectors", r.result.failedSectors},
                                  {"transfer", transfer}};
        for (auto& [key, value] : described.items()) entry[key] = value;
        compared.push_back(entry);
    }
    const std::string names[] = {
        ReadTestShortName(a) + ", " + a.result.speed.text + ": " + ReadTestOutcomeText(a.result),
        ReadTestShortName(b) + ", " + b.result.speed.text + ": " + ReadTestOutcomeText(b.result)};
    PutSpeedZones(context, paths, names, compared, SpeedZones(a.result), SpeedZones(b.result),
                  AverageX(a.result), AverageX(b.result));
    if (!imagePath.empty()) {
        if (const Result<void> written = WriteReadTestPicture(imagePath, a, &b); !written)
            return context.Fail(kExitFailed, written.Failure().text);
    }
    return kExitOk;
}

// Two write tests: their write speeds, zone by zone, and the picture of A with B laid over it.
int CompareWriteTests(CliContext& context, const std::vector<std::string>& paths, const WriteTestRecord& a,
                      const WriteTestRecord& b, const std::string& imagePath) {
    const WriteTestRecord* records[] = {&a, &b};
    schema::Json compared = schema::Json::array();
    for (const WriteTestRecord* r : records) {
        schema::Json entry = schema::Json::object();
        PutName(entry, "file", paths[compared.size()]);
        schema::Json lowest = nullptr;
        for (const WritePoint& p : r->result.points)
            lowest = std::min(lowest.is_null() ? 1.0 : lowest.get<double>(),
                              std::round(p.bufferFill * 1000) / 1000);
        schema::Json described = {{"disc_type", schema::TextOrNull(r->discType)},
                                  {"last_lba", r->result.layout.lastLba},
                                  {"speed_kbps", r->result.speedKBps},
                                  {"date", r->date},
                                  {"end", WriteTestEndName(r->result.end)},
                                  {"written_sectors", r->result.writtenSectors},
                                  {"lowest_buffer", lowest},
                                  {"summary", schema::WriteSummary(r->result)}};
        for (auto& [key, value] : described.items()) entry[key] = value;
        compared.push_back(entry);
    }
    const auto average = [](const WriteTestResult& r) {
        return r.summary ? std::optional<double>(r.summary->averageX) : std::nullopt;
    };
    const std::string names[] = {WriteTestShortName(a) + ": " + WriteTestOutcomeText(a.result),
                                 WriteTestShortName(b) + ": " + WriteTestOutcomeText(b.result)};
    PutSpeedZones(context, paths, names, compared, SpeedZones(a.result), SpeedZones(b.result),
                  average(a.result), average(b.result));
    if (!imagePath.empty()) {
        if (const Result<void> written = WriteWriteTestPicture(imagePath, a, &b); !written)
            return context.Fail(kExitFailed, written.Failure().text);
    }
    return kExitOk;
}

}  // namespace

int RunCompare(CliContext& context, const CommandArgs& args) {
    const std::vector<std::string>& paths = args.words;
    const std::string imagePath = args.Value("--image").value_or("");
    if (args.Has("--image") && imagePath.empty()) return UsageError(context, "--image takes a file name");
    if (!imagePath.empty() && ImageTypeFromExtension(GetFileExtension(imagePath)) == ImageType::kUnknown)
        return UsageError(context, "--image: no picture format for the extension of '" + imagePath + "'");
    if (paths.size() != 2) return UsageError(context, "compare needs two results files");
    if (const int status = CheckCommandFiles(
            context,
            {{paths[0], FileRole::Input}, {paths[1], FileRole::Input}, {imagePath, FileRole::Picture}});
        status != kExitOk)
        return status;

    // Write tests compare with write tests, read tests with read tests, scans with scans.
    std::vector<WriteTestRead> writeTests;
    for (const std::string& path : paths) writeTests.push_back(ReadWriteTestFile(path));
    if (writeTests[0].record || writeTests[1].record) {
        for (size_t i = 0; i < 2; ++i) {
            if (writeTests[i].record) continue;
            if (!writeTests[i].otherKind) return context.Fail(kExitFailed, writeTests[i].error);
            return context.Fail(kExitFailed, paths[i] + ": " + kWriteTestComparesOnly);
        }
        return CompareWriteTests(context, paths, *writeTests[0].record, *writeTests[1].record, imagePath);
    }
    for (const WriteTestRead& read : writeTests) {
        if (!read.otherKind) return context.Fail(kExitFailed, read.error);
    }
    std::vector<ReadTestRead> readTests;
    for (const std::string& path : paths) readTests.push_back(ReadReadTestFile(path));
    if (readTests[0].record || readTests[1].record) {
        for (size_t i = 0; i < 2; ++i) {
            if (readTests[i].record) continue;
            if (!readTests[i].otherKind) return context.Fail(kExitFailed, readTests[i].error);
            return context.Fail(kExitFailed, paths[i] + ": a read test compares only with another read test");
        }
        return CompareReadTests(context, paths, *readTests[0].record, *readTests[1].record, imagePath);
    }
    for (const ReadTestRead& read : readTests) {
        if (!read.otherKind) return context.Fail(kExitFailed, read.error);
    }

    std::vector<ScanResults> results;
    for (const std::string& path : paths) {
        ResultsRead read = ReadResultsFile(path);
        if (!read.results) return context.Fail(kExitFailed, read.error);
        if (read.results->kind != ScanResults::Kind::Scan)
            return context.Fail(kExitFailed, path + ": a Smart Mode report has no zones to compare");
        results.push_back(std::move(*read.results));
    }
    const ScanResults& a = results[0];
    const ScanResults& b = results[1];

    schema::Json compared = schema::Json::array();
    for (size_t i = 0; i < 2; ++i) {
        const ScanResults& r = results[i];
        schema::Json entry = schema::Json::object();
        PutName(entry, "file", paths[i]);
        schema::Json described = {
            {"disc", schema::Disc(schema::TextOrNull(r.discType), schema::TextOrNull(r.manufacturerId),
                                  schema::TextOrNull(r.mediaTypeId), r.lastLba)},
            {"speed", schema::Speed(ShortSpeedLabel(r.speedCode), r.kbps)},
            {"mode", SamplingModeName(r.mode)},
            {"date", r.date},
            {"result", OutcomeName(r.outcome)},
            {"statistics", schema::Statistics(r.statistics)}};
        for (auto& [key, value] : described.items()) entry[key] = value;
        compared.push_back(entry);
    }
    schema::Json zones = schema::Json::array();
    for (size_t z = 0; z < a.statistics.zones.size(); ++z)
        zones.push_back(ZoneJson(static_cast<int>(z), a.statistics.zones[z], b.statistics.zones[z]));
    context.Result()["results"] = compared;
    context.Result()["zones"] = zones;
    context.Result()["all"] = ZoneJson(nullptr, a.statistics.all, b.statistics.all);

    if (!context.Json()) {
        std::ostream& out = context.Out();
        for (size_t i = 0; i < 2; ++i) {
            out << (i == 0 ? "A: " : "B: ") << CliContext::Escaped(paths[i]) << "\n   "
                << CliContext::Escaped(ResultsShortName(results[i])) << ", " << results[i].discType << ", "
                << SamplingModeName(results[i].mode) << ": " << CliContext::Escaped(results[i].verdictText)
                << "\n";
        }
        char header[128];
        std::snprintf(header, sizeof header, "%-6s %8s %8s %6s   %8s %8s %6s", "zone", "TE max A", "TE max B",
                      "B-A", "FE max A", "FE max B", "B-A");
        out << header << "   (per cent)\n";
        for (size_t z = 0; z < zones.size(); ++z)
            out << Row(std::to_string(z), a.statistics.zones[z], b.statistics.zones[z]) << "\n";
        out << Row("all", a.statistics.all, b.statistics.all) << std::endl;
    }

    if (!imagePath.empty()) {
        if (const Result<void> written = WriteResultsPicture(imagePath, a, &b); !written)
            return context.Fail(kExitFailed, written.Failure().text);
    }
    return kExitOk;
}

}  // namespace dravix::cli
