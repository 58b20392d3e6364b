// ZSoft PCX version 5: a 128-byte header and run-length coded plane lines, top line first. The
// whole image is coded into memory first and written with one call after the header.
#include <algorithm>
#include <vector>

#include "export/ByteOrder.h"
#include "export/ByteSink.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

constexpr unsigned kMaxRun = 63;

void FlushRun(std::vector<uint8_t>& out, uint8_t value, unsigned count) {
    if (count == 1 && value < 0xC0) {
        out.push_back(value);
    } else {
        out.push_back(static_cast<uint8_t>(0xC0 + count));
        out.push_back(value);
    }
}

// Codes one plane line: `count` bytes, `stride` apart. A line of odd length is followed by one
// 0 byte so that every plane line covers an even number of bytes.
void EncodePlaneLine(const uint8_t* data, size_t count, size_t stride, std::vector<uint8_t>& out) {
    uint8_t pending = 0;
    unsigned run = 0;
    for (size_t i = 0; i < count; ++i, data += stride) {
        const uint8_t byte = *data;
        if (byte != pending && run != 0) {
            FlushRun(out, pending, run);
            run = 0;
        }
        if (run == kMaxRun) {
            out.push_back(0xFF);
            out.push_back(pending);
            run = 0;
        }
        pending = byte;
        ++run;
    }
    if (run != 0) FlushRun(out, pending, run);
    if (count & 1) out.push_back(0);
}

// Brightness order of a 1-bit table, to keep a set bit white as mono PCX files are read.
bool FirstEntryIsBrighter(const ImageContainer& image) {
    auto luma = [](const RgbQuad& c) { return 299 * c.red + 587 * c.green + 114 * c.blue; };
    return luma(image.Palette()[0]) > luma(image.Palette()[1]);
}

void EncodeImage(const ImageContainer& image, std::vector<uint8_t>& out) {
    const uint32_t width = image.Width();
    const unsigned bits = image.BitsPerPixel();
    const size_t planeBytes = bits >= 8 ? width : (size_t{width} + 7) / 8;
    // Worst case: two bytes per byte plus the fill byte of every plane line.
    const size_t planes = bits == 24 ? 3 : bits == 4 ? 4 : 1;
    out.reserve(size_t{image.Height()} * planes * (2 * planeBytes + 1));

    std::vector<uint8_t> plane(planeBytes);
    std::vector<uint8_t> indices(bits == 4 ? width : 0);
    const bool invert = bits == 1 && FirstEntryIsBrighter(image);
    for (uint32_t y = 0; y < image.Height(); ++y) {
        const uint8_t* row = image.RowFromTop(y);
        switch (bits) {
            case 24:
                EncodePlaneLine(row + 2, width, 3, out);  // red
                EncodePlaneLine(row + 1, width, 3, out);  // green
                EncodePlaneLine(row + 0, width, 3, out);  // blue
                break;
            case 8: EncodePlaneLine(row, width, 1, out); break;
            case 1:
                for (size_t i = 0; i < planeBytes; ++i) plane[i] = invert ? static_cast<uint8_t>(~row[i]) : row[i];
                if (width & 7) plane[planeBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width & 7));
                EncodePlaneLine(plane.data(), planeBytes, 1, out);
                break;
            default:  // 4 bits: bit p of every index forms plane p
                RowToIndices(image, y, indices.data());
                for (unsigned p = 0; p < 4; ++p) {
                    std::fill(plane.begin(), plane.end(), 0);
                    for (uint32_t x = 0; x < width; ++x) {
                        if ((indices[x] >> p) & 1) plane[x >> 3] |= static_cast<uint8_t>(0x80 >> (x & 7));
                    }
                    EncodePlaneLine(plane.data(), planeBytes, 1, out);
                }
                break;
        }
    }
}

std::vector<uint8_t> BuildHeader(const ImageContainer& image, size_t bytesPerLine) {
    const unsigned bits = image.BitsPerPixel();
    std::vector<uint8_t> header;
    header.reserve(128);
    FieldWriter(header)
        .U8(10)  // manufacturer
        .U8(5)   // version
        .U8(1)   // encoding
        .U8(bits >= 8 ? 8 : 1)
        .Le16(0)
        .Le16(0)
        .Le16(image.Width() - 1)
        .Le16(image.Height() - 1)
        .Le16(ClampDpi16(image.DpiX()))
        .Le16(ClampDpi16(image.DpiY()));
    // The 16-colour map.
    if (bits == 1) {
        FieldWriter(header).Zeros(3).U8(255).U8(255).U8(255).Zeros(42);
    } else if (bits == 4) {
        for (const RgbQuad& c : image.Palette()) FieldWriter(header).U8(c.red).U8(c.green).U8(c.blue);
    } else {
        FieldWriter(header).Zeros(48);
    }
    FieldWriter(header)
        .U8(0)  // reserved
        .U8(bits == 24 ? 3 : bits == 4 ? 4 : 1)
        .Le16(static_cast<unsigned>(bytesPerLine))
        .Zeros(60);
    return header;
}

}  // namespace

bool WritePcx(const ImageContainer& image, ByteSink& sink, std::string& error) {
    const unsigned bits = image.BitsPerPixel();
    const size_t lineBytes = bits >= 8 ? image.Width() : (size_t{image.Width()} + 7) / 8;
    const size_t bytesPerLine = lineBytes + (lineBytes & 1);
    if (image.Width() > 0x10000 || image.Height() > 0x10000 || bytesPerLine > 0xFFFF) {
        error = texts::kTooLarge;
        return false;
    }
    std::vector<uint8_t> coded;
    EncodeImage(image, coded);

    if (!sink.Write(BuildHeader(image, bytesPerLine))) {
        error = texts::kPcxHeader;
        return false;
    }
    sink.Write(coded);
    if (bits == 8) {
        std::vector<uint8_t> trailer;
        trailer.reserve(769);
        trailer.push_back(12);
        for (const RgbQuad& c : image.Palette()) FieldWriter(trailer).U8(c.red).U8(c.green).U8(c.blue);
        sink.Write(trailer);
    }
    if (sink.Failed()) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
