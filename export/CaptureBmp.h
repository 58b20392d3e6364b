#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "export/ImageContainer.h"

namespace dravix {

class ByteSink;

// A captured bitmap as pixel rows in memory. For a QImage of format RGB32 pass
// {width(), height(), 32, constBits(), bytesPerLine(), true}: its pixels are already blue, green,
// red, unused in memory, which is what a 32-bit BMP stores.
struct CaptureBitmap {
    uint32_t width = 0;
    uint32_t height = 0;
    unsigned bitsPerPixel = 32;              // 1, 4, 8, 16, 24 or 32
    const uint8_t* bits = nullptr;           // the first row in memory
    size_t bytesPerLine = 0;                 // distance between rows in memory
    bool topDown = true;                     // true when `bits` starts with the top row
    std::span<const RgbQuad> colourTable{};  // depths below 16: missing entries are written as 0
};

// The header block of the capture file: the info header and its colour table.
struct BitmapInfo {
    BitmapInfoHeader header;
    std::vector<RgbQuad> colours;  // "colours used" entries: 2^b for b < 24, none otherwise
};

// Fills the info header for the bitmap: 40-byte header, positive height (rows bottom row first),
// compression 0, image size = padded row bytes × height, pixels per metre 0, colours used 2^b
// below 24 bits. Empty when the bitmap cannot be described (no pixels, an unsupported depth, a
// row stride too short, or sizes beyond 32 bits).
std::optional<BitmapInfo> BuildBitmapInfo(const CaptureBitmap& bitmap);

// Writes the BMP file of the capture into `file`: the 14-byte file header, the info header with
// its colour table, and the rows bottom row first, each padded to 4 bytes. False when the bitmap
// does not match the header or a write fails.
bool WriteBmpFile(ByteSink& file, const BitmapInfo& info, const CaptureBitmap& bitmap);

}  // namespace dravix
