#pragma once

#include <QRgb>

#include <span>

#include "chart/ReadTestChart.h"

namespace dravix {

class ScanChartCanvas;

// How a write test is drawn, for the Write Test window, its saved pictures and those of the
// command line: the write speed in X against the LBA in the read test's speed colour, the drive's
// buffer level from empty at the bottom of the plot to full at its top, the rotation in RPM on the
// right axis as the read test has it, and a second result's curves dashed in the same colours.
namespace write_chart {

inline constexpr QRgb kSpeedColour = read_chart::kSpeedColour;
inline constexpr QRgb kBufferColour = 0xFF4090FF;  // RGB(64, 144, 255)
inline constexpr QRgb kRotationColour = read_chart::kRotationColour;

// Series 0 and 1 only hold colours (the canvas draws curves from series 2 on).
inline constexpr int kSpeedCurve = 2;
inline constexpr int kBufferCurve = 3;
inline constexpr int kRotationCurve = 4;
inline constexpr int kCompareSpeedCurve = 5;  // only on charts that compare two results
inline constexpr int kCompareBufferCurve = 6;
inline constexpr int kCompareRotationCurve = 7;

// The legend's words for the buffer curve, which has no axis of its own.
inline constexpr const char* kBufferLegend = "Buffer level (bottom 0 %, top 100 %)";

struct WriteSample {
    double lba = 0;
    double speedX = 0;
    double bufferFill = 0;  // 0..1; values outside are drawn at the plot's edge
    double rpm = 0;         // 0: not known, nothing drawn
};

// The axes are the read test's: speed in X on the left, rotation in RPM on the right.
using Axes = read_chart::Axes;

// Adds the series (and the compared curves'), sets the range 0..topX over LBA firstLba..lastLba
// with the rotation axis at the right, and draws the frame.
void Begin(ScanChartCanvas& canvas, int firstLba, int lastLba, const Axes& axes, bool compare = false);
// Moves the three curves of the result (or of the compared one) on to a sample; `anew` starts
// new lines.
void Append(ScanChartCanvas& canvas, const WriteSample& sample, bool anew, bool compared = false);
// A whole result's curves, from its first sample.
void Plot(ScanChartCanvas& canvas, std::span<const WriteSample> samples, bool compared = false);

// The buffer level as a Y value of the left axis: the plot's height scaled by the fill, a full
// buffer on the highest row a curve shows on.
double BufferY(const ScanChartCanvas& canvas, double fill);

}  // namespace write_chart

}  // namespace dravix
