#include "export/CaptureBmp.h"

#include <algorithm>

#include "base/Portability.h"
#include "export/ByteSink.h"
#include "export/FieldWriter.h"

namespace dravix {

std::optional<BitmapInfo> BuildBitmapInfo(const CaptureBitmap& bitmap) {
    const unsigned b = bitmap.bitsPerPixel;
    if (b != 1 && b != 4 && b != 8 && b != 16 && b != 24 && b != 32) return std::nullopt;
    if (bitmap.bits == nullptr || bitmap.width == 0 || bitmap.height == 0) return std::nullopt;
    if (bitmap.width > INT32_MAX || bitmap.height > INT32_MAX) return std::nullopt;
    const uint64_t usedRowBytes = (uint64_t{bitmap.width} * b + 7) / 8;
    if (bitmap.bytesPerLine < usedRowBytes) return std::nullopt;
    const size_t rowBytes = BmpRowBytes(bitmap.width, b);
    uint64_t imageSize = 0;
    if (MultiplyOverflows(uint64_t{rowBytes}, uint64_t{bitmap.height}, &imageSize)) return std::nullopt;
    const uint64_t colours = b < 24 ? uint64_t{1} << b : 0;
    if (kBitmapFileHeaderSize + kBitmapInfoHeaderSize + 4 * colours + imageSize > UINT32_MAX)
        return std::nullopt;

    BitmapInfo info;
    info.header.size = kBitmapInfoHeaderSize;
    info.header.width = static_cast<int32_t>(bitmap.width);
    info.header.height = static_cast<int32_t>(bitmap.height);
    info.header.planes = 1;
    info.header.bitCount = static_cast<uint16_t>(b);
    info.header.compression = 0;
    info.header.sizeImage = static_cast<uint32_t>(imageSize);
    info.header.clrUsed = static_cast<uint32_t>(colours);
    info.colours.assign(static_cast<size_t>(colours), RgbQuad{});
    const size_t given = std::min(info.colours.size(), bitmap.colourTable.size());
    for (size_t i = 0; i < given; ++i) {
        info.colours[i] = bitmap.colourTable[i];
        info.colours[i].reserved = 0;
    }
    return info;
}

bool WriteBmpFile(ByteSink& file, const BitmapInfo& info, const CaptureBitmap& bitmap) {
    const BitmapInfoHeader& h = info.header;
    if (bitmap.bits == nullptr || h.width <= 0 || h.height <= 0 ||
        static_cast<uint32_t>(h.width) != bitmap.width || static_cast<uint32_t>(h.height) != bitmap.height ||
        h.bitCount != bitmap.bitsPerPixel) {
        return false;
    }
    const size_t rowBytes = BmpRowBytes(bitmap.width, bitmap.bitsPerPixel);
    const size_t usedRowBytes = (size_t{bitmap.width} * bitmap.bitsPerPixel + 7) / 8;
    if (bitmap.bytesPerLine < usedRowBytes) return false;
    const uint32_t pixelOffset =
        static_cast<uint32_t>(kBitmapFileHeaderSize + kBitmapInfoHeaderSize + 4 * info.colours.size());

    std::vector<uint8_t> header;
    FieldWriter(header)
        .U8('B')
        .U8('M')
        .Le32(pixelOffset + h.sizeImage)
        .Le16(0)
        .Le16(0)
        .Le32(pixelOffset)
        .Le32(h.size)
        .Le32(static_cast<uint32_t>(h.width))
        .Le32(static_cast<uint32_t>(h.height))
        .Le16(h.planes)
        .Le16(h.bitCount)
        .Le32(h.compression)
        .Le32(h.sizeImage)
        .Le32(static_cast<uint32_t>(h.xPelsPerMeter))
        .Le32(static_cast<uint32_t>(h.yPelsPerMeter))
        .Le32(h.clrUsed)
        .Le32(h.clrImportant);
    for (const RgbQuad& c : info.colours) FieldWriter(header).U8(c.blue).U8(c.green).U8(c.red).U8(0);

    file.Write(header);
    std::vector<uint8_t> row(rowBytes, 0);
    for (uint32_t i = 0; i < bitmap.height; ++i) {
        // File row i is the i-th row from the bottom.
        const uint32_t memoryRow = bitmap.topDown ? bitmap.height - 1 - i : i;
        const uint8_t* source = bitmap.bits + size_t{memoryRow} * bitmap.bytesPerLine;
        std::copy_n(source, usedRowBytes, row.begin());
        if (!file.Write(row.data(), row.size())) break;
    }
    return file.Flush();
}

}  // namespace dravix
