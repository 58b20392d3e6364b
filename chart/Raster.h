#pragma once

// Pixel routines for the chart layers. They follow the rules of the classic desktop graphics
// interface that the chart's drawing relies on: a line leaves out its last pixel, a filled rectangle
// leaves out its right column and bottom row, and a dotted pen paints its gaps in the background
// colour. A dashed pen (for a compared curve) leaves its gaps untouched, so the curve beneath shows.
// Everything is clipped to the image; coordinates may lie anywhere in the int range.

#include <QImage>
#include <QRect>

#include <cstdint>

namespace dravix::raster {

enum class PenStyle { Solid, Dot, Dash };

// Cosmetic pen of width 0: one pixel wide whatever the direction.
struct Pen {
    PenStyle style = PenStyle::Solid;
    QRgb colour = 0xFFFFFFFF;
    QRgb background = 0xFF000000;  // what a dotted pen paints in its gaps
    // The dashed pen: dashOn painted pixels, then dashOff left alone, along the line's major axis.
    // The pattern stands at `dashPhase` pixels at the line's start, so a curve drawn as many short
    // lines carries it on from one to the next (see DashSteps).
    int dashOn = 0;
    int dashOff = 0;
    int64_t dashPhase = 0;
};

// Length of a painted run and of a gap run of the dotted pen, in pixels along the line.
inline constexpr int kDotRun = 3;

// The layers are RGB32; every colour written carries an opaque alpha byte.
constexpr QRgb Opaque(QRgb colour) {
    return colour | 0xFF000000u;
}

// Paints the pixels of the line from (x0, y0) towards (x1, y1), the last one excluded. A line
// to its own start paints nothing. The dot pattern starts afresh at (x0, y0); the dash pattern at
// pen.dashPhase.
void DrawLine(QImage& image, int x0, int y0, int x1, int y1, const Pen& pen);

// How far the dash pattern moves along the line from (x0, y0) to (x1, y1): the pixels it steps
// over, clipped or not.
int64_t DashSteps(int x0, int y0, int x1, int y1);

// Fills [left, right) × [top, bottom); an empty or inverted rectangle paints nothing.
void FillRect(QImage& image, int left, int top, int right, int bottom, QRgb colour);

void SetPixel(QImage& image, int x, int y, QRgb colour);

// The pixels DrawLine may touch (a superset), for the bookkeeping of what changed.
QRect LineBounds(int x0, int y0, int x1, int y1);

}  // namespace dravix::raster
