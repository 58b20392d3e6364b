#include "probix/MeasuredRange.h"

#include <algorithm>
#include <limits>

namespace dravix {

namespace {

constexpr int64_t kTop = std::numeric_limits<int32_t>::max();

int32_t Clamped(int64_t lba) {
    return static_cast<int32_t>(std::clamp<int64_t>(lba, 0, kTop));
}

// Widens `span` to take in the sectors first..last.
void Take(std::optional<LbaSpan>& span, int64_t first, int64_t last) {
    const LbaSpan taken{Clamped(std::min(first, last)), Clamped(std::max(first, last))};
    span = UnionOf(span, taken);
}

}  // namespace

std::optional<LbaSpan> UnionOf(std::optional<LbaSpan> a, std::optional<LbaSpan> b) {
    if (!a) return b;
    if (!b) return a;
    return LbaSpan{std::min(a->first, b->first), std::max(a->last, b->last)};
}

std::optional<LbaSpan> MeasuredLbas(const ScanResults& results) {
    std::optional<LbaSpan> span;
    // Samples come in position order, but a file may hold them otherwise: every one counts.
    for (const ScanSample& s : results.samples) Take(span, s.lba, s.lba);
    return span;
}

std::optional<LbaSpan> MeasuredLbas(const ReadTestResult& result) {
    std::optional<LbaSpan> span;
    for (const SpeedPoint& p : result.points) Take(span, p.lba, p.lba);
    for (const FailedRange& f : result.failures) Take(span, f.range.first, f.range.last);
    for (const SectorRange& s : result.skipped) Take(span, s.first, s.last);
    // An access-time run draws nothing, whatever range its seeks went over.
    if (span && result.end == ReadTestEnd::Finished && result.range.first <= result.range.last)
        Take(span, result.range.first, result.range.last);
    return span;
}

std::optional<LbaSpan> MeasuredLbas(const WriteTestResult& result) {
    if (result.points.empty()) return std::nullopt;
    std::optional<LbaSpan> span;
    for (const WritePoint& p : result.points) Take(span, p.lba, p.lba);
    // The written range: from the test's first request (timed into the average, not a point of
    // the curve) to the last sector written.
    if (result.writtenSectors > 0)
        Take(span, result.startLba,
             int64_t{result.startLba} +
                 static_cast<int64_t>(std::min<uint64_t>(result.writtenSectors, kTop)) - 1);
    return span;
}

LbaSpan ChartAxisLbas(std::optional<LbaSpan> measured, int64_t discLast) {
    const int64_t disc = std::clamp<int64_t>(discLast, 1, kTop);
    if (!measured) return {0, static_cast<int32_t>(disc)};
    int64_t first = measured->first;
    int64_t last = measured->last;
    if (last - first < kNarrowestChartSpan) {
        // About the middle; pushed inward at the disc's ends, never off what was measured.
        const int64_t top = std::max<int64_t>(disc, last);
        first = std::max<int64_t>(0, (first + last) / 2 - kNarrowestChartSpan / 2);
        last = first + kNarrowestChartSpan;
        if (last > top) {
            last = top;
            first = std::max<int64_t>(0, top - kNarrowestChartSpan);
        }
    }
    return {Clamped(first), Clamped(last)};
}

namespace {

int64_t DiscLast(const ScanResults& results) {
    return results.lastLba;
}
int64_t DiscLast(const ReadTestResult& result) {
    return result.layout.lastLba;
}
int64_t DiscLast(const WriteTestResult& result) {
    return result.layout.lastLba;
}

template <typename Result>
LbaSpan AxisOf(const Result& result, const Result* compared) {
    std::optional<LbaSpan> measured = MeasuredLbas(result);
    int64_t disc = DiscLast(result);
    if (compared != nullptr) {
        measured = UnionOf(measured, MeasuredLbas(*compared));
        disc = std::max<int64_t>(disc, DiscLast(*compared));
    }
    return ChartAxisLbas(measured, disc);
}

}  // namespace

LbaSpan ChartAxisLbas(const ScanResults& results, const ScanResults* compared) {
    return AxisOf(results, compared);
}

LbaSpan ChartAxisLbas(const ReadTestResult& result, const ReadTestResult* compared) {
    return AxisOf(result, compared);
}

LbaSpan ChartAxisLbas(const WriteTestResult& result, const WriteTestResult* compared) {
    return AxisOf(result, compared);
}

}  // namespace dravix
