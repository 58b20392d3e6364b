// ZSoft PCX version 5: a 128-byte header and run-length coded plane lines, top line first. The
// whole image is coded into memory first and written with one call after the header.
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "export/ByteSink.h"
#include "export/FieldWriter.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

constexpr size_t kMaxRun = 63;

// Output cursor over a buffer sized for the worst case, so the coding loop does no bounds or
// capacity checks.
struct CodedBytes {
    uint8_t* next;
};

void PutRun(CodedBytes& out, uint8_t value, size_t count) {
    if (count == 1 && value < 0xC0) {
        *out.next++ = value;
    } else {
        *out.next++ = static_cast<uint8_t>(0xC0 + count);
        *out.next++ = value;
    }
}

// Codes one plane line. A run longer than 63 is written as full runs of 63 (0xFF, value) and a
// remainder, as the byte-by-byte rule produces. A line of odd length is followed by one 0 byte
// so that every plane line covers an even number of bytes.
// Index of the first byte at or after `from` that differs from value, or count. Compares eight
// bytes at a time: captures are mostly long runs of one value.
size_t RunEnd(const uint8_t* data, size_t from, size_t count, uint8_t value) {
    const uint64_t pattern = value * 0x0101010101010101ull;
    while (count - from >= 8) {
        uint64_t word;
        std::memcpy(&word, data + from, 8);
        const uint64_t differing = word ^ pattern;
        if (differing != 0) {
            // The byte at the lowest address is the low byte on little-endian machines.
            const int bit = std::endian::native == std::endian::little ? __builtin_ctzll(differing)
                                                                       : __builtin_clzll(differing);
            return from + static_cast<size_t>(bit) / 8;
        }
        from += 8;
    }
    while (from < count && data[from] == value) ++from;
    return from;
}

void EncodePlaneLine(const uint8_t* data, size_t count, CodedBytes& out) {
    size_t i = 0;
    while (i < count) {
        const uint8_t value = data[i];
        const size_t end = RunEnd(data, i + 1, count, value);
        size_t run = end - i;
        while (run > kMaxRun) {
            *out.next++ = 0xFF;
            *out.next++ = value;
            run -= kMaxRun;
        }
        PutRun(out, value, run);
        i = end;
    }
    if (count & 1) *out.next++ = 0;
}

// Brightness order of a 1-bit table, to keep a set bit white as mono PCX files are read.
bool FirstEntryIsBrighter(const ImageContainer& image) {
    auto luma = [](const RgbQuad& c) { return 299 * c.red + 587 * c.green + 114 * c.blue; };
    return luma(image.Palette()[0]) > luma(image.Palette()[1]);
}

// Codes all plane lines, top line first; returns the number of bytes in `coded`.
size_t EncodeImage(const ImageContainer& image, std::unique_ptr<uint8_t[]>& coded) {
    const uint32_t width = image.Width();
    const unsigned bits = image.BitsPerPixel();
    const size_t planeBytes = bits >= 8 ? width : (size_t{width} + 7) / 8;
    const size_t planes = bits == 24 ? 3 : bits == 4 ? 4 : 1;
    // Worst case: two bytes per byte plus the fill byte of every plane line. Left uninitialised:
    // only the pages written are ever touched.
    coded.reset(new uint8_t[size_t{image.Height()} * planes * (2 * planeBytes + 1)]);
    CodedBytes out{coded.get()};

    std::vector<uint8_t> plane(planeBytes * planes);
    std::vector<uint8_t> indices(bits == 4 ? width : 0);
    const bool invert = bits == 1 && FirstEntryIsBrighter(image);
    for (uint32_t y = 0; y < image.Height(); ++y) {
        const uint8_t* row = image.RowFromTop(y);
        switch (bits) {
            case 24: {
                // Split blue-green-red pixels into red, green and blue plane lines.
                uint8_t* __restrict red = plane.data();
                uint8_t* __restrict green = red + width;
                uint8_t* __restrict blue = green + width;
                const uint8_t* __restrict pixel = row;
                for (uint32_t x = 0; x < width; ++x) {
                    blue[x] = pixel[3 * x];
                    green[x] = pixel[3 * x + 1];
                    red[x] = pixel[3 * x + 2];
                }
                EncodePlaneLine(red, width, out);
                EncodePlaneLine(green, width, out);
                EncodePlaneLine(blue, width, out);
                break;
            }
            case 8:
                EncodePlaneLine(row, width, out);
                break;
            case 1:
                for (size_t i = 0; i < planeBytes; ++i)
                    plane[i] = invert ? static_cast<uint8_t>(~row[i]) : row[i];
                if (width & 7) plane[planeBytes - 1] &= static_cast<uint8_t>(0xFF00 >> (width & 7));
                EncodePlaneLine(plane.data(), planeBytes, out);
                break;
            default:  // 4 bits: bit p of every index forms plane p
                RowToIndices(image, y, indices.data());
                std::fill(plane.begin(), plane.end(), 0);
                for (uint32_t x = 0; x < width; ++x) {
                    for (unsigned p = 0; p < 4; ++p) {
                        if ((indices[x] >> p) & 1)
                            plane[p * planeBytes + (x >> 3)] |= static_cast<uint8_t>(0x80 >> (x & 7));
                    }
                }
                for (unsigned p = 0; p < 4; ++p)
                    EncodePlaneLine(plane.data() + p * planeBytes, planeBytes, out);
                break;
        }
    }
    return static_cast<size_t>(out.next - coded.get());
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
        .U8(bits == 24  ? 3
            : bits == 4 ? 4
                        : 1)
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
    std::unique_ptr<uint8_t[]> coded;
    const size_t codedBytes = EncodeImage(image, coded);

    if (!sink.Write(BuildHeader(image, bytesPerLine))) {
        error = texts::kPcxHeader;
        return false;
    }
    sink.Write(coded.get(), codedBytes);
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
