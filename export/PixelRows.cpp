#include "export/PixelRows.h"

#include <algorithm>

#include "export/ImageContainer.h"

namespace dravix {

void RowToRgb(const ImageContainer& image, uint32_t y, uint8_t* out) {
    const uint8_t* in = image.RowFromTop(y);
    const uint32_t width = image.Width();
    for (uint32_t x = 0; x < width; ++x, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

void RowToIndices(const ImageContainer& image, uint32_t y, uint8_t* out) {
    const uint8_t* in = image.RowFromTop(y);
    const uint32_t width = image.Width();
    switch (image.BitsPerPixel()) {
        case 1:
            for (uint32_t x = 0; x < width; ++x) out[x] = (in[x >> 3] >> (7 - (x & 7))) & 1;
            break;
        case 4:
            for (uint32_t x = 0; x < width; ++x) out[x] = (x & 1) ? (in[x >> 1] & 0x0F) : (in[x >> 1] >> 4);
            break;
        default:
            std::copy_n(in, width, out);
            break;
    }
}

uint16_t ClampDpi16(int dpi) {
    return static_cast<uint16_t>(std::clamp(dpi, 0, 65535));
}

}  // namespace dravix
