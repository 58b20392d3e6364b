#pragma once

#include <cstdint>
#include <optional>

#include "probix/ReadTest.h"
#include "probix/ResultsFile.h"
#include "probix/WriteTest.h"

// Which LBAs the chart of a result spans. The charts of our own windows, their pictures and those
// of the command line show what was measured, not the whole disc; the Probix page's chart keeps
// the disc's whole range and does not use this.
namespace dravix {

// From `first` to `last`, both included.
struct LbaSpan {
    int32_t first = 0;
    int32_t last = 0;
    friend bool operator==(const LbaSpan&, const LbaSpan&) = default;
};

// From the first to the last LBA a result measured; none when it measured nothing. A TE/FE run
// measured at its samples' positions. A read test measured where its speed points start and the
// sectors it could not read or skipped; a finished one read every sector of its range, so that
// range is measured in full.
std::optional<LbaSpan> MeasuredLbas(const ScanResults& results);
std::optional<LbaSpan> MeasuredLbas(const ReadTestResult& result);
// A write test measured the sectors it wrote, from its first point on.
std::optional<LbaSpan> MeasuredLbas(const WriteTestResult& result);

// Both spans and what lies between them; either alone when the other is none.
std::optional<LbaSpan> UnionOf(std::optional<LbaSpan> a, std::optional<LbaSpan> b);

// A span is widened to at least this many sectors about its middle, so that a single position
// (or a few close together) gets an axis of its own with five distinct labels between its ends.
inline constexpr int32_t kNarrowestChartSpan = 100;

// The position axis of a chart: `measured`, widened when narrower than kNarrowestChartSpan
// (within 0 .. discLast where the disc has room); without a measurement the whole disc,
// 0 .. discLast. Always first < last.
LbaSpan ChartAxisLbas(std::optional<LbaSpan> measured, int64_t discLast);

// The axis of a result's chart, and of a chart with a second result laid over it: the union of
// both runs' ranges, on the larger of the two discs.
LbaSpan ChartAxisLbas(const ScanResults& results, const ScanResults* compared = nullptr);
LbaSpan ChartAxisLbas(const ReadTestResult& result, const ReadTestResult* compared = nullptr);
LbaSpan ChartAxisLbas(const WriteTestResult& result, const WriteTestResult* compared = nullptr);

}  // namespace dravix
