#include "chart/Raster.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace dravix::raster {

namespace {

inline QRgb* PixelRow(QImage& image, int y) {
    return reinterpret_cast<QRgb*>(image.scanLine(y));
}

}  // namespace

void SetPixel(QImage& image, int x, int y, QRgb colour) {
    if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
    PixelRow(image, y)[x] = Opaque(colour);
}

void FillRect(QImage& image, int left, int top, int right, int bottom, QRgb colour) {
    left = std::max(left, 0);
    top = std::max(top, 0);
    right = std::min(right, image.width());
    bottom = std::min(bottom, image.height());
    if (left >= right || top >= bottom) return;
    const QRgb value = Opaque(colour);
    for (int y = top; y < bottom; ++y)
        std::fill(PixelRow(image, y) + left, PixelRow(image, y) + right, value);
}

void DrawLine(QImage& image, int x0, int y0, int x1, int y1, const Pen& pen) {
    // The pixel at step k along the major axis has the minor offset round(k * minor / major)
    // (halves rounded away from the start), which is the Bresenham choice in closed form. The
    // closed form lets us jump straight to the steps that fall inside the image, so a segment to a
    // value far outside the plot costs no more than one across the image.
    const int64_t dx = int64_t{x1} - x0;
    const int64_t dy = int64_t{y1} - y0;
    const int64_t adx = std::llabs(dx);
    const int64_t ady = std::llabs(dy);
    const int64_t steps = std::max(adx, ady);
    if (steps == 0) return;

    const bool xMajor = adx >= ady;
    const int64_t major0 = xMajor ? x0 : y0;
    const int64_t minor0 = xMajor ? y0 : x0;
    const int64_t majorSign = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int64_t minorSign = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const int64_t majorDelta = xMajor ? adx : ady;
    const int64_t minorDelta = xMajor ? ady : adx;
    const int64_t majorLimit = xMajor ? image.width() : image.height();
    const int64_t minorLimit = xMajor ? image.height() : image.width();

    // Steps k whose major coordinate major0 + majorSign * k lies in [0, majorLimit).
    int64_t first = 0;
    int64_t last = steps;  // exclusive: the end point is never painted
    if (majorSign > 0) {
        first = std::max(first, -major0);
        last = std::min(last, majorLimit - major0);
    } else {
        first = std::max(first, major0 - majorLimit + 1);
        last = std::min(last, major0 + 1);
    }
    if (first >= last) return;

    // Minor offset at the first step from the closed form (the product needs more than 64 bits when
    // the line starts far outside), then Bresenham's error stepping from there on.
    const int64_t denominator = 2 * majorDelta;
    const __int128 numerator = static_cast<__int128>(2 * first) * minorDelta + majorDelta;
    int64_t offset = static_cast<int64_t>(numerator / denominator);
    int64_t remainder = static_cast<int64_t>(numerator % denominator);

    const int64_t dashPeriod = int64_t{std::max(pen.dashOn, 1)} + std::max(pen.dashOff, 0);
    const int64_t dashStart = ((pen.dashPhase % dashPeriod) + dashPeriod) % dashPeriod;
    const QRgb ink = Opaque(pen.colour);
    const QRgb gap = Opaque(pen.background);
    uchar* const bits = image.bits();
    const qsizetype bytesPerLine = image.bytesPerLine();
    for (int64_t k = first; k < last; ++k) {
        const int64_t minor = minor0 + minorSign * offset;
        if (minor >= 0 && minor < minorLimit) {
            const int64_t major = major0 + majorSign * k;
            const int64_t x = xMajor ? major : minor;
            const int64_t y = xMajor ? minor : major;
            QRgb* const pixel = reinterpret_cast<QRgb*>(bits + y * bytesPerLine) + x;
            if (pen.style == PenStyle::Dash) {
                if ((dashStart + k) % dashPeriod < std::max(pen.dashOn, 1)) *pixel = ink;
            } else {
                const bool painted = pen.style == PenStyle::Solid || (k / kDotRun) % 2 == 0;
                *pixel = painted ? ink : gap;
            }
        }
        remainder += 2 * minorDelta;
        if (remainder >= denominator) {
            remainder -= denominator;
            ++offset;
        }
    }
}

int64_t DashSteps(int x0, int y0, int x1, int y1) {
    return std::max(std::llabs(int64_t{x1} - x0), std::llabs(int64_t{y1} - y0));
}

QRect LineBounds(int x0, int y0, int x1, int y1) {
    return QRect(QPoint(std::min(x0, x1), std::min(y0, y1)), QPoint(std::max(x0, x1), std::max(y0, y1)));
}

}  // namespace dravix::raster
