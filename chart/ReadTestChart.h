#pragma once

#include <QRgb>

#include <span>

namespace dravix {

class ScanChartCanvas;

// How a read test is drawn on the chart control, for the Read Test window, its saved pictures and
// those of the command line: the speed in X against the LBA, the disc's rotation in RPM on a
// second axis at the right, ranges that could not be read marked in red from bottom to top, the
// layer break of a dual-layer disc as a marker line, and a second result's curves dashed in the
// first one's colours, as a compared scan's curves are.
namespace read_chart {

inline constexpr QRgb kSpeedColour = 0xFF40E040;         // RGB(64, 224, 64)
inline constexpr QRgb kRotationColour = 0xFFFFB020;      // RGB(255, 176, 32)
inline constexpr QRgb kErrorColour = 0xFFFF2020;         // RGB(255, 32, 32)

// The right axis's title.
inline constexpr const char* kRotationAxisTitle = "RPM";

// Series 0 and 1 only hold colours (the canvas draws curves from series 2 on).
inline constexpr int kSpeedCurve = 2;
inline constexpr int kErrorMarks = 3;
inline constexpr int kRotationCurve = 4;
inline constexpr int kCompareSpeedCurve = 5;  // only on charts that compare two results
inline constexpr int kCompareRotationCurve = 6;

struct SpeedSample {
    double lba = 0;
    double speedX = 0;
    bool startsLine = false;  // nothing was read since the sample before: no line joins them
    double rpm = 0;           // the rotation there; 0: not known, nothing drawn
};

// The tops of the two axes: speed in X on the left, rotation in RPM on the right.
struct Axes {
    double topX = 0;
    double topRpm = 0;
};

// The top of the speed axis for a curve whose fastest speed is `fastestX`: a round number of X
// above it, so that the quarter lines fall on readable speeds.
double SpeedAxisTop(double fastestX);
// The top of the rotation axis for a curve whose fastest rotation is `fastestRpm`: a round number
// of RPM above it (thousands, then steps of 2000), so that the quarter lines fall on whole RPM.
double RotationAxisTop(double fastestRpm);

// Adds the series (and the compared curves'), sets the range 0..topX over LBA firstLba..lastLba
// with the rotation axis 0..topRpm at the right, and draws the frame.
void SetUp(ScanChartCanvas& canvas, int firstLba, int lastLba, const Axes& axes, bool compare = false);
// Moves the speed curve `series` on to a sample; `anew` starts a new line (after a gap), which
// shows at least one pixel column wide.
void AppendSpeed(ScanChartCanvas& canvas, int series, const SpeedSample& sample, bool anew);
// The same for the rotation curve `series`, to the right axis's scale. A sample without a rotation
// draws nothing: the next one that has one starts a new line (`anew`).
void AppendRotation(ScanChartCanvas& canvas, int series, const SpeedSample& sample, bool anew);
// A whole curve, from its first sample; a line for each stretch of samples.
void PlotSpeed(ScanChartCanvas& canvas, int series, std::span<const SpeedSample> samples);
void PlotRotation(ScanChartCanvas& canvas, int series, std::span<const SpeedSample> samples);
// Marks the sectors first..last in red over the plot's height, at least one pixel column wide.
void MarkRange(ScanChartCanvas& canvas, double first, double last);
// The first LBA of layer 1, as the start marker line; none when it lies outside the chart's range.
void MarkLayerBreak(ScanChartCanvas& canvas, int lba);

}  // namespace read_chart

}  // namespace dravix
