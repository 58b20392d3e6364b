// compare: two results files side by side: each zone's TE and FE maxima and how the second
// differs from the first.

#include <cstdio>

#include "cli/Commands.h"
#include "cli/Names.h"
#include "cli/OutputFile.h"
#include "export/ImageType.h"
#include "probix/ResultsFile.h"
#include "probix/SpeedList.h"

#ifdef DRAVIX_CLI_CHART_IMAGES
#include "cli/ResultsPictureFile.h"
#endif

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

}  // namespace

int RunCompare(CliContext& context, const CommandArgs& args) {
    const std::vector<std::string>& paths = args.words;
    const std::string imagePath = args.Value("--image").value_or("");
    if (args.Has("--image") && imagePath.empty()) return UsageError(context, "--image takes a file name");
    if (!imagePath.empty() && ImageTypeFromExtension(GetFileExtension(imagePath)) == ImageType::kUnknown)
        return UsageError(context, "--image: no picture format for the extension of '" + imagePath + "'");
    if (paths.size() != 2) return UsageError(context, "compare needs two results files");
    if (!imagePath.empty()) {
        if (const int status = CheckOutputFile(context, imagePath); status != kExitOk) return status;
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
#ifdef DRAVIX_CLI_CHART_IMAGES
        if (const std::string problem = WriteResultsPicture(imagePath, a, &b); !problem.empty())
            return context.Fail(kExitFailed, problem);
#else
        return context.Fail(kExitFailed, "this build writes no pictures (it was built without the GUI)");
#endif
    }
    return kExitOk;
}

}  // namespace dravix::cli
