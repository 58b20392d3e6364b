// Sun raster, standard type: a 32-byte big-endian header, then rows top first, each padded to 16
// bits. 24-bit pixels are stored blue, green, red; a grey-ramp image is written as 8-bit indices
// with an identity grey colour map.
#include <algorithm>
#include <vector>

#include "export/ByteSink.h"
#include "export/FieldWriter.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

constexpr uint32_t kMagic = 0x59A66A95;
constexpr uint32_t kTypeStandard = 1;
constexpr uint32_t kMapNone = 0;
constexpr uint32_t kMapEqualRgb = 1;

}  // namespace

bool WriteSunRaster(const ImageContainer& image, ByteSink& sink, std::string& error) {
    const bool grey = image.BitsPerPixel() != 24;
    if (grey && !image.IsGreyRamp()) {
        error = texts::kSunRasterDepth;
        return false;
    }
    const size_t pixelBytes = size_t{image.Width()} * (grey ? 1 : 3);
    const size_t rowBytes = pixelBytes + (pixelBytes & 1);
    const uint64_t length = uint64_t{rowBytes} * image.Height();
    if (length > UINT32_MAX) {
        error = texts::kTooLarge;
        return false;
    }
    std::vector<uint8_t> header;
    FieldWriter(header)
        .Be32(kMagic)
        .Be32(image.Width())
        .Be32(image.Height())
        .Be32(grey ? 8 : 24)
        .Be32(static_cast<uint32_t>(length))
        .Be32(kTypeStandard)
        .Be32(grey ? kMapEqualRgb : kMapNone)
        .Be32(grey ? 768 : 0);
    if (grey) {
        // The map lists all reds, then all greens, then all blues.
        for (int channel = 0; channel < 3; ++channel) {
            for (unsigned i = 0; i < 256; ++i) header.push_back(static_cast<uint8_t>(i));
        }
    }
    sink.Write(header);

    std::vector<uint8_t> row(rowBytes, 0);
    for (uint32_t y = 0; y < image.Height(); ++y) {
        if (grey) {
            RowToIndices(image, y, row.data());
        } else {
            const uint8_t* in = image.RowFromTop(y);
            std::copy_n(in, pixelBytes, row.begin());
        }
        sink.Write(row);
    }
    if (sink.Failed()) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
