// Wireless bitmap, type 0: a 1-bit image with sides below 256, rows top first, a set bit white.
#include <vector>

#include "export/ByteSink.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

// Multi-byte integer: 7 bits per byte, most significant group first, high bit = more follows.
void AppendUintVar(std::vector<uint8_t>& out, uint32_t value) {
    uint8_t groups[5];
    int count = 0;
    do {
        groups[count++] = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (count > 1) out.push_back(static_cast<uint8_t>(groups[--count] | 0x80));
    out.push_back(groups[0]);
}

}  // namespace

bool WriteWbmp(const ImageContainer& image, ByteSink& sink, std::string& error) {
    if (image.BitsPerPixel() != 1 || image.Width() >= 256 || image.Height() >= 256) {
        error = texts::kWbmpSize;
        return false;
    }
    // Index 1 is written as white unless the table says entry 0 is the brighter one.
    const auto palette = image.Palette();
    auto luma = [](const RgbQuad& c) { return 299 * c.red + 587 * c.green + 114 * c.blue; };
    const bool invert = luma(palette[0]) > luma(palette[1]);

    std::vector<uint8_t> out{0, 0};  // type 0, fixed header 0
    AppendUintVar(out, image.Width());
    AppendUintVar(out, image.Height());
    const size_t rowBytes = (size_t{image.Width()} + 7) / 8;
    const uint8_t lastMask = static_cast<uint8_t>(0xFF00 >> (((image.Width() - 1) & 7) + 1));
    for (uint32_t y = 0; y < image.Height(); ++y) {
        const uint8_t* row = image.RowFromTop(y);
        for (size_t i = 0; i < rowBytes; ++i) {
            uint8_t byte = invert ? static_cast<uint8_t>(~row[i]) : row[i];
            if (i + 1 == rowBytes) byte &= lastMask;
            out.push_back(byte);
        }
    }
    if (!sink.Write(out)) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
