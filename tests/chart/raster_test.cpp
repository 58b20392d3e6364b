#include <gtest/gtest.h>

#include <cstdlib>

#include "chart/Raster.h"
#include "tests/chart/ChartTestSupport.h"

namespace dravix {
namespace {

using namespace dravix::test;
using raster::Pen;
using raster::PenStyle;

QImage Blank(int width, int height) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(0xFF000000);
    return image;
}

TEST(Raster, LinesLeaveOutTheirLastPixelInEveryDirection) {
    const Pen pen{PenStyle::Solid, 0xFFFFFF, 0};
    const QPoint from(20, 20);
    for (const QPoint to : {QPoint(37, 25), QPoint(25, 37), QPoint(3, 25), QPoint(15, 3), QPoint(37, 3),
                            QPoint(3, 37), QPoint(20, 5), QPoint(34, 20), QPoint(31, 31)}) {
        SCOPED_TRACE(testing::Message() << to.x() << "," << to.y());
        QImage image = Blank(41, 41);
        raster::DrawLine(image, from.x(), from.y(), to.x(), to.y(), pen);
        const int steps = std::max(std::abs(to.x() - from.x()), std::abs(to.y() - from.y()));
        EXPECT_EQ(Count(image, image.rect(), kWhite), steps);  // one pixel per step of the longer axis
        EXPECT_EQ(At(image, from.x(), from.y()), kWhite);
        EXPECT_EQ(At(image, to.x(), to.y()), kBlack);
        // Painted pixels lie within half a pixel of the ideal line.
        for (int y = 0; y < 41; ++y)
            for (int x = 0; x < 41; ++x) {
                if (At(image, x, y) != kWhite) continue;
                const double cross =
                    double(to.x() - from.x()) * (y - from.y()) - double(to.y() - from.y()) * (x - from.x());
                EXPECT_LE(std::abs(cross) / steps, 0.5 + 1e-9) << x << "," << y;
            }
    }
    QImage image = Blank(10, 10);
    raster::DrawLine(image, 4, 4, 4, 4, pen);  // a line to its own start
    EXPECT_EQ(Count(image, image.rect(), kWhite), 0);
}

TEST(Raster, ClippedLinesMatchTheUnclippedOnesAndDotsFollowTheLineStart) {
    // The same lines, once on an image that holds them whole and once on a small window that starts
    // far inside them: the window must show exactly the same pixels, dot phase included.
    constexpr int kShift = 3050;
    for (const PenStyle style : {PenStyle::Solid, PenStyle::Dot}) {
        const Pen pen{style, 0xFFFFFF, 0x606060};
        for (const QRect line :
             {QRect(QPoint(-3000, 10), QPoint(3000, 50)), QRect(QPoint(3000, 59), QPoint(-3000, 0)),
              QRect(QPoint(40, -3000), QPoint(10, 3000))}) {
            QImage whole = Blank(6100, 6100);
            QImage window = Blank(100, 60);
            raster::DrawLine(whole, line.left() + kShift, line.top() + kShift, line.right() + kShift,
                             line.bottom() + kShift, pen);
            raster::DrawLine(window, line.left(), line.top(), line.right(), line.bottom(), pen);
            EXPECT_EQ(window, whole.copy(kShift, kShift, 100, 60));
            EXPECT_GT(CountNonBlack(window, window.rect()), 0);
        }
    }

    // Three painted, three in the background colour, from the first pixel on.
    QImage image = Blank(20, 1);
    raster::DrawLine(image, 1, 0, 15, 0, Pen{PenStyle::Dot, 0xE31CBB, 0x000001});
    const QRgb expected[] = {kBlack, kTe, kTe, kTe, 1, 1, 1, kTe, kTe, kTe, 1, 1, 1, kTe, kTe, kBlack};
    for (int x = 0; x < 16; ++x) EXPECT_EQ(At(image, x, 0), expected[x]) << x;
}

TEST(Raster, FillsLeaveOutTheRightColumnAndBottomRow) {
    QImage image = Blank(10, 10);
    raster::FillRect(image, 2, 3, 6, 8, 0xFFFFFF);
    EXPECT_EQ(Count(image, image.rect(), kWhite), 4 * 5);
    EXPECT_EQ(Count(image, QRect(2, 3, 4, 5), kWhite), 20);
    raster::FillRect(image, 6, 0, 5, 10, 0xE31CBB);  // inverted: nothing
    raster::FillRect(image, -100, 9, 100, 100, 0xE31CBB);
    EXPECT_EQ(Count(image, image.rect(), kTe), 10);
}

}  // namespace
}  // namespace dravix
