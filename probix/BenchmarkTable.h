#pragma once

#include <optional>
#include <string>
#include <vector>

#include "probix/ReadTest.h"

namespace dravix {

// The benchmark's figures as one table, the same for the command line, the Read Test window and
// the results window: a row per test with its value and unit, or why it has none.

// The rotation at the curve's first and last point, and the fastest.
struct CurveRotation {
    double start = 0;
    double end = 0;
    double top = 0;
};
CurveRotation RotationOf(const ReadTestResult& result);

struct BenchmarkRow {
    const char* test;   // the JSON name
    const char* label;  // the table's name
    const char* unit;
    std::optional<double> value;
    std::string note;  // beside the value, or instead of it
    int decimals;
};

// The rows of a benchmark's result (its `benchmark` set): transfer rate, rotation, burst rate,
// access times, spin-down and spin-up, and eject and load when they were asked for.
std::vector<BenchmarkRow> BenchmarkRows(const ReadTestResult& result);

// `value` with `decimals` after the point ("12.35").
std::string DecimalText(double value, int decimals);
// A row's figure as the table shows it: "12.3 MB/s  (note)", or the note alone.
std::string BenchmarkFigureText(const BenchmarkRow& row);

}  // namespace dravix
