// Windows icon with one image: the icon directory, one entry, and a BMP without file header whose
// height counts the colour rows and the AND mask rows. The mask is all 0 (opaque).
#include <vector>

#include "export/ByteSink.h"
#include "export/FieldWriter.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/Writers.h"

namespace dravix::writers {

bool WriteIco(const ImageContainer& image, ByteSink& sink, std::string& error) {
    // The directory entry holds each side in one byte.
    if (image.Width() > 255 || image.Height() > 255) {
        error = texts::kIcoSize;
        return false;
    }
    const unsigned bits = image.BitsPerPixel();
    const size_t colours = image.Palette().size();
    const size_t xorBytes = image.Pixels().size();
    const size_t maskRowBytes = BmpRowBytes(image.Width(), 1);
    const size_t andBytes = maskRowBytes * image.Height();
    const size_t imageBytes = kBitmapInfoHeaderSize + 4 * colours + xorBytes + andBytes;
    constexpr uint32_t kImageOffset = 6 + 16;

    std::vector<uint8_t> head;
    FieldWriter(head)
        .Le16(0)  // reserved
        .Le16(1)  // type: icon
        .Le16(1)  // one image
        .U8(image.Width())
        .U8(image.Height())
        .U8(bits < 8 ? 1u << bits : 0)  // colour count, 0 for 256 or more
        .U8(0)
        .Le16(1)  // planes
        .Le16(bits)
        .Le32(static_cast<uint32_t>(imageBytes))
        .Le32(kImageOffset)
        .Le32(kBitmapInfoHeaderSize)
        .Le32(image.Width())
        .Le32(2 * image.Height())
        .Le16(1)
        .Le16(bits)
        .Le32(0)
        .Le32(static_cast<uint32_t>(xorBytes + andBytes))
        .Le32(0)
        .Le32(0)
        .Le32(0)
        .Le32(0);
    for (const RgbQuad& c : image.Palette()) FieldWriter(head).U8(c.blue).U8(c.green).U8(c.red).U8(0);
    sink.Write(head);
    sink.Write(image.Pixels().data(), xorBytes);
    const std::vector<uint8_t> mask(andBytes, 0);
    sink.Write(mask);
    if (sink.Failed()) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
