// BMP: 14-byte file header, the container's 40-byte info header, the colour table, the rows as
// held (bottom row first, padded to 4 bytes).
#include <vector>

#include "export/ByteSink.h"
#include "export/FieldWriter.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/Writers.h"

namespace dravix::writers {

bool WriteBmp(const ImageContainer& image, ByteSink& sink, std::string& error) {
    const BitmapInfoHeader& held = image.Header();
    const size_t colours = image.Palette().size();
    const size_t imageSize = image.Pixels().size();
    const uint64_t pixelOffset = kBitmapFileHeaderSize + kBitmapInfoHeaderSize + 4 * uint64_t{colours};
    const uint64_t fileSize = pixelOffset + imageSize;
    if (fileSize > UINT32_MAX) {
        error = texts::kTooLarge;
        return false;
    }

    std::vector<uint8_t> header;
    header.reserve(static_cast<size_t>(pixelOffset));
    FieldWriter(header)
        .U8('B')
        .U8('M')
        .Le32(static_cast<uint32_t>(fileSize))
        .Le16(0)
        .Le16(0)
        .Le32(static_cast<uint32_t>(pixelOffset))
        .Le32(kBitmapInfoHeaderSize)
        .Le32(image.Width())
        .Le32(image.Height())
        .Le16(1)
        .Le16(image.BitsPerPixel())
        .Le32(0)
        .Le32(static_cast<uint32_t>(imageSize))
        .Le32(static_cast<uint32_t>(held.xPelsPerMeter))
        .Le32(static_cast<uint32_t>(held.yPelsPerMeter))
        .Le32(static_cast<uint32_t>(colours))
        .Le32(0);
    for (const RgbQuad& c : image.Palette()) FieldWriter(header).U8(c.blue).U8(c.green).U8(c.red).U8(0);

    sink.Write(header);
    if (!sink.Write(image.Pixels().data(), imageSize)) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
