// report: one HTML file, readable offline in any browser, holding each result given: the drive and
// disc, the labelled chart picture (embedded), the statistics per zone, and a Smart report's table.

#include <sstream>

#include "cli/Commands.h"
#include "cli/OutputFile.h"
#include "probix/ResultsFile.h"
#include "probix/SpeedList.h"

#ifdef DRAVIX_CLI_CHART_IMAGES
#include "cli/ResultsPictureFile.h"
#endif

namespace dravix::cli {

namespace {

std::string Html(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

#ifdef DRAVIX_CLI_CHART_IMAGES
std::string Base64(const std::string& bytes) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t v = (uint8_t(bytes[i]) << 16) | (uint8_t(bytes[i + 1]) << 8) | uint8_t(bytes[i + 2]);
        for (int shift : {18, 12, 6, 0}) out += kDigits[(v >> shift) & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const uint32_t v = (uint8_t(bytes[i]) << 16) | (two ? uint8_t(bytes[i + 1]) << 8 : 0);
        out += kDigits[(v >> 18) & 63];
        out += kDigits[(v >> 12) & 63];
        out += two ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}
#endif

std::string Figures(const PartStatistics& part, const ChannelStatistics& c) {
    if (part.samples == 0) return "<td>-</td><td>-</td><td>-</td><td>-</td>";
    char text[160];
    std::snprintf(text, sizeof text, "<td>%u</td><td>%ld</td><td>%.2f</td><td>%d</td>",
                  unsigned(c.maxPercent), long(c.maxLba), c.averagePercent, c.overLimit);
    return text;
}

std::string SmartResultText(SpeedResult result) {
    return result == SpeedResult::Stopped ? std::string("(not measured)") : SpeedResultText(result);
}

void Section(std::ostream& out, const std::string& path, const ScanResults& r) {
    const bool smart = r.kind == ScanResults::Kind::Smart;
    out << "<section>\n<h2>" << Html(smart ? "Smart Mode report: " : "TE/FE scan: ")
        << Html(ResultsShortName(r)) << "</h2>\n<p class=\"file\">" << Html(path)
        << "</p>\n<table class=\"info\">\n";
    auto row = [&out](const char* key, const std::string& value) {
        out << "<tr><th>" << key << "</th><td>" << Html(value) << "</td></tr>\n";
    };
    row("Drive", r.driveLabel);
    row("Firmware", r.firmware);
    row("Disc type", r.discType);
    row("Manufacturer ID", r.manufacturerId);
    row("Media type ID", r.mediaTypeId);
    if (smart) {
        row("Blank disc capacity", r.capacity);
    } else {
        row("Speed", std::string(ShortSpeedLabel(r.speedCode)) + " (" + std::to_string(r.kbps) + " kB/s)");
        row("Mode", SamplingModeName(r.mode));
        row("Range", "LBA " + std::to_string(r.range.start) + " up to " + std::to_string(r.range.end) +
                         " (last LBA " + std::to_string(r.lastLba) + ")");
    }
    row("Date", r.date);
    row("Verdict", r.verdictText.empty() ? std::string("none") : r.verdictText);
    out << "</table>\n";

    if (smart) {
        out << "<table class=\"figures\"><tr><th>Speed</th><th>kB/s</th><th>Result</th></tr>\n";
        for (const SmartRow& s : r.speeds) {
            out << "<tr><td>" << ShortSpeedLabel(s.speedCode) << "</td><td>" << s.kbps << "</td><td>"
                << Html(SmartResultText(s.result)) << "</td></tr>\n";
        }
        out << "</table>\n</section>\n";
        return;
    }
#ifdef DRAVIX_CLI_CHART_IMAGES
    const std::string png = ResultsPicturePng(r);
    if (!png.empty()) {
        out << "<p><img alt=\"TE/FE chart of " << Html(ResultsShortName(r))
            << "\" src=\"data:image/png;base64," << Base64(png) << "\"></p>\n";
    }
#endif
    out << "<table class=\"figures\">\n<tr><th rowspan=\"2\">Zone</th><th rowspan=\"2\">Samples</th>"
           "<th colspan=\"4\">TE (limit "
        << kTeLimitPercent << " %)</th><th colspan=\"4\">FE (limit " << kFeLimitPercent
        << " %)</th></tr>\n<tr><th>max %</th><th>at LBA</th><th>avg %</th><th>over</th>"
           "<th>max %</th><th>at LBA</th><th>avg %</th><th>over</th></tr>\n";
    auto part = [&out](const std::string& name, const PartStatistics& p) {
        out << "<tr><td>" << name << "</td><td>" << p.samples << "</td>" << Figures(p, p.te)
            << Figures(p, p.fe) << "</tr>\n";
    };
    for (size_t z = 0; z < r.statistics.zones.size(); ++z) part(std::to_string(z), r.statistics.zones[z]);
    part("<b>all</b>", r.statistics.all);
    out << "</table>\n</section>\n";
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#111}h1{font-size:1.4em}h2{font-size:1.15em;"
    "border-bottom:1px solid #999}table{border-collapse:collapse;margin:.5em 0}th,td{border:1px solid #bbb;"
    "padding:2px 8px;text-align:left}table.figures td{text-align:right}.file{color:#555;font-size:.9em}"
    "img{max-width:100%}";

}  // namespace

int RunReport(CliContext& context, const std::vector<std::string>& args) {
    std::vector<std::string> inputs;
    std::string output;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-o" || args[i] == "--output") {
            if (i + 1 >= args.size()) return UsageError(context, args[i] + " takes a value");
            output = args[++i];
        } else if (!args[i].empty() && args[i][0] == '-') {
            return UnexpectedArgument(context, args[i]);
        } else {
            inputs.push_back(args[i]);
        }
    }
    if (inputs.empty()) return UsageError(context, "report needs at least one results file");
    if (output.empty()) return UsageError(context, "report needs -o FILE");
    if (const int status = CheckOutputFile(context, output); status != kExitOk) return status;

    std::vector<ScanResults> results;
    for (const std::string& path : inputs) {
        ResultsRead read = ReadResultsFile(path);
        if (!read.results) return context.Fail(kExitFailed, read.error);
        results.push_back(std::move(*read.results));
    }

    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>Dravix scan "
            "report</title>\n"
         << "<style>" << kStyle << "</style>\n</head>\n<body>\n<h1>Dravix scan report</h1>\n<p>"
         << results.size() << (results.size() == 1 ? " result" : " results") << ", made "
         << Html(UtcTimestamp()) << ".</p>\n";
    for (size_t i = 0; i < results.size(); ++i) Section(html, inputs[i], results[i]);
    html << "</body>\n</html>\n";

    if (const FileResult written = WriteFileSafely(output, html.str()); !written.Ok())
        return FailedWrite(context, output, written);
    schema::Json files = schema::Json::array();
    for (const std::string& path : inputs) files.push_back(path);
    context.Result()["inputs"] = files;
    context.Result()["output"] = output;
    if (!context.Json()) context.Out() << "written: " << CliContext::Escaped(output) << std::endl;
    return kExitOk;
}

}  // namespace dravix::cli
