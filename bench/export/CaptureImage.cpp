#include "CaptureImage.h"

#include <cmath>
#include <random>

namespace dravix::bench {

ImageContainer MakeCaptureImage() {
    constexpr uint32_t kWidth = 1920;
    constexpr uint32_t kHeight = 1080;
    ImageContainer image;
    image.Create(kWidth, kHeight, 24);
    image.SetDpi(0, 0);  // as a capture read back
    std::mt19937 random(2024);
    for (uint32_t y = 0; y < kHeight; ++y) {
        for (uint32_t x = 0; x < kWidth; ++x) {
            RgbQuad c{240, 240, 240, 0};                // window background
            if (y < 24) c = RgbQuad{250, 250, 250, 0};  // menu bar
            if (y >= 40 && y < 120) {                   // banner gradient
                c = RgbQuad{uint8_t(120 + x / 16), uint8_t(60 + x / 20), uint8_t(20 + y), 0};
            }
            const bool inChart = x >= 200 && x < 1800 && y >= 200 && y < 950;
            if (inChart) {
                c = RgbQuad{255, 255, 255, 0};
                if ((x - 200) % 80 == 0 || (y - 200) % 50 == 0) c = RgbQuad{192, 192, 192, 0};  // grid
            }
            if (x == 200 || x == 1799 || y == 200 || y == 949) c = RgbQuad{64, 64, 64, 0};  // frames
            if (y >= 960 && y < 1060 && (x / 7 + y / 11) % 3 == 0 && random() % 4 == 0) {
                c = RgbQuad{0, 0, 0, 0};  // text-like speckle in the status area
            }
            image.SetPixelColour(x, y, c);
        }
    }
    // Two curves (TE red, FE blue) drawn across the chart.
    for (uint32_t x = 200; x < 1800; ++x) {
        const double t = (x - 200) / 1600.0;
        const auto te = static_cast<uint32_t>(700 - 300 * t - 40 * std::sin(t * 40) + random() % 6);
        const auto fe = static_cast<uint32_t>(800 - 200 * t - 30 * std::cos(t * 33) + random() % 6);
        for (uint32_t d = 0; d < 2; ++d) {
            image.SetPixelColour(x, te + d, RgbQuad{0, 0, 255, 0});
            image.SetPixelColour(x, fe + d, RgbQuad{255, 0, 0, 0});
        }
    }
    return image;
}

}  // namespace dravix::bench
