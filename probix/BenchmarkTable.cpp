#include "probix/BenchmarkTable.h"

#include <algorithm>
#include <cstdio>

namespace dravix {

CurveRotation RotationOf(const ReadTestResult& r) {
    CurveRotation rotation;
    if (r.points.empty()) return rotation;
    rotation.start = r.points.front().rpm;
    rotation.end = r.points.back().rpm;
    for (const SpeedPoint& p : r.points) rotation.top = std::max(rotation.top, p.rpm);
    return rotation;
}

std::string DecimalText(double value, int decimals) {
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::vector<BenchmarkRow> BenchmarkRows(const ReadTestResult& r) {
    std::vector<BenchmarkRow> rows;
    if (!r.benchmark) return rows;
    const BenchmarkFigures& b = *r.benchmark;
    auto figure = [&](const char* test, const char* label, const char* unit, const BenchmarkFigure& f,
                      int decimals, std::string note = {}) {
        rows.push_back({test, label, unit, f.value, f.value ? std::move(note) : f.note, decimals});
    };
    const std::optional<double> average =
        r.transfer ? std::optional<double>(r.transfer->averageX) : std::nullopt;
    rows.push_back({"transfer_rate", "transfer rate (average)", "X", average,
                    average ? std::string("read mode ") + ReadModeName(r.transfer->mode) : kNotMeasured, 2});
    const CurveRotation rotation = RotationOf(r);
    rows.push_back({"rotation", "rotation (fastest)", "RPM",
                    r.points.empty() ? std::nullopt : std::optional<double>(rotation.top),
                    r.points.empty() ? kNotMeasured
                                     : "from " + DecimalText(rotation.start, 0) + " to " +
                                           DecimalText(rotation.end, 0) + " RPM",
                    0});
    figure("burst_rate", "burst rate", "MB/s", b.burstMBps, 1, BurstRateNote(b));
    auto access = [&](const char* test, const char* label, AccessSeries AccessSummary::*series) {
        const AccessSeries* measured = r.access ? &(*r.access.*series) : nullptr;
        if (measured && measured->reads > 0) {
            rows.push_back({test, label, "ms", measured->averageMs, {}, 1});
        } else {
            rows.push_back(
                {test, label, "ms", std::nullopt, measured ? "no read succeeded" : kNotMeasured, 1});
        }
    };
    access("access_random", "access time (random)", &AccessSummary::random);
    access("access_one_third", "access time (one third)", &AccessSummary::oneThird);
    access("access_full_stroke", "access time (full stroke)", &AccessSummary::fullStroke);
    figure("spin_down", "spin-down time", "s", b.spinDownSeconds, 2);
    figure("spin_up", "spin-up time", "s", b.spinUpSeconds, 2);
    if (b.loadEjectRun) {
        figure("eject", "eject time", "s", b.ejectSeconds, 2);
        figure("load", "load time", "s", b.loadSeconds, 2);
    }
    return rows;
}

std::string BenchmarkFigureText(const BenchmarkRow& row) {
    if (!row.value) return row.note;
    std::string text = DecimalText(*row.value, row.decimals) + " " + row.unit;
    if (!row.note.empty()) text += "  (" + row.note + ")";
    return text;
}

}  // namespace dravix
