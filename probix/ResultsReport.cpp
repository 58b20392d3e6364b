#include "probix/ResultsReport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "base/ShownText.h"
#include "base/Version.h"
#include "probix/ResultsFileReader.h"
#include "probix/SpeedList.h"

namespace dravix {

namespace {

// Text on the page: as the terminal shows it (invalid bytes as \xNN), then HTML's entities.
std::string Html(const std::string& text) {
    return HtmlText(text);
}

// The section's line naming the file the result is in.
std::string FileLine(const std::string& path) {
    return Html(path.empty() ? std::string("not saved") : std::filesystem::path(path).filename().string());
}

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

void Section(std::ostream& out, const std::string& path, const ScanResults& r,
             const ReportPictures& pictures) {
    const bool smart = r.kind == ScanResults::Kind::Smart;
    out << "<section>\n<h2>" << Html(smart ? "Smart Mode report: " : "TE/FE scan: ")
        << Html(ResultsShortName(r)) << "</h2>\n<p class=\"file\">" << FileLine(path)
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
        out << "<table class=\"figures\"><tr><th>Speed</th><th>kB/s</th><th "
               "class=\"text\">Result</th></tr>\n";
        for (const SmartRow& s : r.speeds) {
            out << "<tr><td>" << ShortSpeedLabel(s.speedCode) << "</td><td>" << s.kbps
                << "</td><td class=\"text\">" << Html(SmartResultText(s.result)) << "</td></tr>\n";
        }
        out << "</table>\n</section>\n";
        return;
    }
    const std::string png = pictures.scan ? pictures.scan(r) : std::string();
    if (!png.empty()) {
        out << "<p><img alt=\"TE/FE chart of " << Html(ResultsShortName(r)) << "\" src=\"" << png
            << "\"></p>\n";
    }
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

std::string Ranges(const std::vector<SectorRange>& ranges) {
    std::string text;
    for (const SectorRange& r : ranges) {
        text += (text.empty() ? "" : ", ") + std::to_string(r.first);
        if (r.last != r.first) text += "-" + std::to_string(r.last);
    }
    return text.empty() ? std::string("none") : text;
}

void ReadTestSection(std::ostream& out, const std::string& path, const ReadTestRecord& record,
                     const ReportPictures& pictures) {
    const ReadTestResult& r = record.result;
    out << "<section>\n<h2>" << Html("Read test: " + ReadTestShortName(record)) << "</h2>\n<p class=\"file\">"
        << FileLine(path) << "</p>\n<table class=\"info\">\n";
    auto row = [&out](const char* key, const std::string& value) {
        out << "<tr><th>" << key << "</th><td>" << Html(value) << "</td></tr>\n";
    };
    row("Drive", record.driveLabel);
    row("Firmware", record.firmware);
    row("Disc type", record.discType);
    row("Test", std::string(ReadTestKindName(r.kind)) + (r.quick ? " (quick)" : ""));
    row("Speed", r.speed.text);
    row("Range", "LBA " + std::to_string(r.range.first) + " up to " + std::to_string(r.range.last));
    row("Sectors", std::to_string(r.readSectors) + " read, " + std::to_string(r.failedSectors) + " failed, " +
                       std::to_string(r.skippedSectors) + " skipped of " + std::to_string(r.plannedSectors));
    if (r.transfer) {
        char text[200];
        std::snprintf(text, sizeof text, "start %.2fX, end %.2fX, average %.2fX, minimum %.2fX at LBA %u; %s",
                      r.transfer->startX, r.transfer->endX, r.transfer->averageX, r.transfer->minimumX,
                      r.transfer->minimumLba, ReadModeName(r.transfer->mode));
        row("Transfer rate", text);
    }
    std::vector<SectorRange> failed;
    for (const FailedRange& f : r.failures) failed.push_back(f.range);
    if (r.kind != ReadTestKind::Seek) row("Unreadable sectors", Ranges(failed));
    if (!r.skipped.empty()) row("Skipped sectors", Ranges(r.skipped));
    if (r.verify) {
        row("Image", record.imageName);
        row("Differing sectors", Ranges(r.verify->differences));
    }
    row("Date", record.date);
    const std::string outcome = ReadTestOutcomeText(r);
    row("Verdict", outcome.empty() ? std::string("none") : outcome);
    out << "</table>\n";
    const std::string png = pictures.readTest ? pictures.readTest(record) : std::string();
    if (!png.empty()) {
        out << "<p><img alt=\"Read speed chart of " << Html(ReadTestShortName(record)) << "\" src=\"" << png
            << "\"></p>\n";
    }
    out << "</section>\n";
}

void WriteTestSection(std::ostream& out, const std::string& path, const WriteTestRecord& record,
                      const ReportPictures& pictures) {
    const WriteTestResult& r = record.result;
    out << "<section>\n<h2>" << Html("Write test: " + WriteTestShortName(record))
        << "</h2>\n<p class=\"file\">" << FileLine(path) << "</p>\n<table class=\"info\">\n";
    auto row = [&out](const char* key, const std::string& value) {
        out << "<tr><th>" << key << "</th><td>" << Html(value) << "</td></tr>\n";
    };
    char text[200];
    row("Drive", record.driveLabel);
    row("Firmware", record.firmware);
    row("Disc type", record.discType);
    row("Simulation", SimulationMethodName(r.method));
    std::snprintf(text, sizeof text, "%.1fX (%u kB/s)", r.speedKBps / r.layout.KBpsAt1X(), r.speedKBps);
    row("Speed", r.speedKBps > 0 ? std::string(text) : std::string("max"));
    std::snprintf(text, sizeof text, "%llu written of %llu planned, from LBA %u",
                  static_cast<unsigned long long>(r.writtenSectors),
                  static_cast<unsigned long long>(r.plannedSectors), r.startLba);
    row("Sectors", text);
    if (r.summary) {
        std::snprintf(text, sizeof text, "start %.2fX, end %.2fX, average %.2fX, minimum %.2fX at LBA %u; %s",
                      r.summary->startX, r.summary->endX, r.summary->averageX, r.summary->minimumX,
                      r.summary->minimumLba, ReadModeName(r.summary->mode));
        row("Write speed", text);
        std::snprintf(text, sizeof text, "%.0f s", r.fullDiscSeconds);
        row("Whole disc burned in", text);
    }
    row("Date", record.date);
    row("Outcome", WriteTestOutcomeText(r));
    if (!r.points.empty()) {
        double lowest = 1.0;
        for (const WritePoint& p : r.points) lowest = std::min(lowest, p.bufferFill);
        std::snprintf(text, sizeof text, "%.0f %%", lowest * 100.0);
        row("Lowest buffer level", text);
    }
    const std::string setting = r.simulationLeftOn  ? std::string(kWriteTestStillOn)
                                : r.settingRestored ? std::string("put back as it was")
                                                    : std::string("not changed");
    row("Simulation setting", setting);
    out << "</table>\n";
    const std::string png = pictures.writeTest ? pictures.writeTest(record) : std::string();
    if (!png.empty()) {
        out << "<p><img alt=\"Write speed chart of " << Html(WriteTestShortName(record)) << "\" src=\"" << png
            << "\"></p>\n";
    }
    out << "</section>\n";
}

constexpr const char* kStyle =
    "body{font-family:sans-serif;margin:1.5em;color:#111}h1{font-size:1.4em}h2{font-size:1.15em;"
    "border-bottom:1px solid #999}table{border-collapse:collapse;margin:.5em 0}th,td{border:1px solid #bbb;"
    "padding:2px 8px;text-align:left}table.figures td{text-align:right}table.figures "
    ".text{text-align:left}.file{color:#555;font-size:.9em}"
    "img{max-width:100%}";

}  // namespace

Result<std::vector<ReportResult>> ReadReportResults(const std::vector<std::string>& paths) {
    std::vector<ReportResult> results;
    for (const std::string& path : paths) {
        WriteTestRead writeTest = ReadWriteTestFile(path);
        if (writeTest.record) {
            results.push_back({path, std::nullopt, std::nullopt, std::move(writeTest.record)});
            continue;
        }
        if (!writeTest.otherKind) return Error{writeTest.error};
        ReadTestRead readTest = ReadReadTestFile(path);
        if (readTest.record) {
            results.push_back({path, std::nullopt, std::move(readTest.record)});
            continue;
        }
        if (!readTest.otherKind) return Error{readTest.error};
        ResultsRead read = ReadResultsFile(path);
        if (!read.results) return Error{read.error};
        results.push_back({path, std::move(read.results), std::nullopt});
    }
    return results;
}

std::string ResultsReportHtml(const std::vector<ReportResult>& results, const ReportPictures& pictures,
                              const std::string& madeAt) {
    std::ostringstream html;
    html << "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
         << "<meta name=\"generator\" content=\"Dravix " << kVersionText
         << "\">\n<title>Dravix scan "
            "report</title>\n"
         << "<style>" << kStyle << "</style>\n</head>\n<body>\n<h1>Dravix scan report</h1>\n<p>"
         << results.size() << (results.size() == 1 ? " result" : " results") << ", made " << Html(madeAt)
         << " by Dravix " << kVersionText << ".</p>\n";
    for (const ReportResult& result : results) {
        if (result.writeTest) {
            WriteTestSection(html, result.path, *result.writeTest, pictures);
        } else if (result.readTest) {
            ReadTestSection(html, result.path, *result.readTest, pictures);
        } else if (result.scan) {
            Section(html, result.path, *result.scan, pictures);
        }
    }
    html << "</body>\n</html>\n";
    return html.str();
}

}  // namespace dravix
