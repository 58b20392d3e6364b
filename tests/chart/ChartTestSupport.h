#pragma once

#include <QImage>
#include <QRect>

#include "chart/ScanChartCanvas.h"

namespace dravix::test {

inline constexpr QRgb kTe = 0xE31CBB;  // RGB(227, 28, 187)
inline constexpr QRgb kFe = 0x12EDDD;  // RGB(18, 237, 221)
inline constexpr QRgb kWhite = 0xFFFFFF;
inline constexpr QRgb kBlack = 0x000000;
inline constexpr QRgb kMarker = 0x606060;
inline constexpr int kLastLba = 2295103;

inline QRgb At(const QImage& image, int x, int y) {
    return image.pixel(x, y) & 0xFFFFFF;
}

// Pixels of `colour` inside `rect` (clipped to the image).
inline int Count(const QImage& image, QRect rect, QRgb colour) {
    rect &= image.rect();
    int n = 0;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x) n += At(image, x, y) == colour;
    return n;
}

inline int CountNonBlack(const QImage& image, const QRect& rect) {
    return (rect & image.rect()).width() * (rect & image.rect()).height() - Count(image, rect, kBlack);
}

// Smallest rectangle holding every non-black pixel of `rect`.
inline QRect InkBounds(const QImage& image, QRect rect) {
    rect &= image.rect();
    QRect ink;
    for (int y = rect.top(); y <= rect.bottom(); ++y)
        for (int x = rect.left(); x <= rect.right(); ++x)
            if (At(image, x, y) != kBlack) ink |= QRect(x, y, 1, 1);
    return ink;
}

// The chart as the scan page sets it up: four series (two criterion colours, then the TE and FE
// curves) and the range of a single-layer DVD+R.
inline void SetUpLikeScanPage(ScanChartCanvas& chart, int width, int height) {
    chart.Create(width, height);
    for (QRgb colour : {kTe, kFe, kTe, kFe}) chart.AddSeries(colour);
    chart.SetRange(0.0, 40.0, 0, kLastLba, 0);
}

}  // namespace dravix::test
