// Truevision TGA, uncompressed: true colour for 24 bits, colour-mapped for 8 bits. Rows bottom
// row first, each exactly width × bytes per pixel long.
#include <vector>

#include "export/ByteSink.h"
#include "export/FieldWriter.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/Writers.h"

namespace dravix::writers {

bool WriteTga(const ImageContainer& image, ByteSink& sink, std::string& error) {
    const unsigned bits = image.BitsPerPixel();
    if (bits != 8 && bits != 24) {
        error = texts::kTgaDepth;
        return false;
    }
    if (image.Width() > 0xFFFF || image.Height() > 0xFFFF) {
        error = texts::kTooLarge;
        return false;
    }
    const bool mapped = bits == 8;
    std::vector<uint8_t> header;
    FieldWriter(header)
        .U8(0)               // ID length
        .U8(mapped ? 1 : 0)  // colour-map type
        .U8(mapped ? 1 : 2)  // image type: uncompressed colour-mapped or true colour
        .Le16(0)             // first colour-map index
        .Le16(mapped ? 256 : 0)
        .U8(mapped ? 24 : 0)  // colour-map entry size
        .Le16(0)              // X origin
        .Le16(0)              // Y origin
        .Le16(image.Width())
        .Le16(image.Height())
        .U8(bits)
        .U8(0);  // descriptor: origin at the bottom left
    if (mapped) {
        for (const RgbQuad& c : image.Palette()) FieldWriter(header).U8(c.blue).U8(c.green).U8(c.red);
    }
    sink.Write(header);

    // The container's rows are already bottom row first; only the 4-byte padding goes.
    const size_t rowBytes = size_t{image.Width()} * (bits / 8);
    const uint8_t* pixels = image.Pixels().data();
    if (rowBytes == image.RowBytes()) {
        sink.Write(pixels, image.Pixels().size());
    } else {
        for (uint32_t row = 0; row < image.Height(); ++row) {
            sink.Write(pixels + size_t{row} * image.RowBytes(), rowBytes);
        }
    }
    if (sink.Failed()) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
