// The BMP reader of the container: file header optional, 40-byte (or longer) info headers and
// 12-byte core headers, bit-field masks, RLE4/RLE8 and top-down files. Every size read from the
// file is checked against the file's length before anything is allocated.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "base/ByteOrder.h"
#include "base/Portability.h"
#include "export/ByteSource.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/Writers.h"

namespace dravix {
namespace {

constexpr uint32_t kCompressionRgb = 0;
constexpr uint32_t kCompressionRle8 = 1;
constexpr uint32_t kCompressionRle4 = 2;
constexpr uint32_t kCompressionBitFields = 3;
constexpr uint32_t kCoreHeaderSize = 12;
// Longest header seen in the wild is 124 bytes (version 5); anything far beyond is not a BMP.
constexpr uint32_t kMaxInfoHeaderSize = 4096;

struct ChannelMask {
    uint32_t mask = 0;
    unsigned shift = 0;
    unsigned width = 0;
};

ChannelMask MakeChannelMask(uint32_t mask) {
    ChannelMask m{mask, 0, 0};
    if (mask == 0) return m;
    m.shift = static_cast<unsigned>(__builtin_ctz(mask));
    m.width = 32 - static_cast<unsigned>(__builtin_clz(mask >> m.shift));
    return m;
}

// Moves a channel to the top bits of a byte (low bits 0); wider channels keep their top 8 bits.
uint8_t ExtractChannel(uint32_t pixel, const ChannelMask& m) {
    if (m.mask == 0) return 0;
    const uint32_t value = (pixel & m.mask) >> m.shift;
    if (m.width >= 8) return static_cast<uint8_t>(value >> (m.width - 8));
    return static_cast<uint8_t>(value << (8 - m.width));
}

struct BmpLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    bool topDown = false;
    unsigned bits = 0;
    uint32_t compression = kCompressionRgb;
    uint32_t sizeImage = 0;
    int32_t ppmX = 0;
    int32_t ppmY = 0;
    ChannelMask masks[3];  // red, green, blue
    uint64_t paletteOffset = 0;
    unsigned paletteEntries = 0;  // entries the image uses, at most 2^bits
    unsigned paletteEntrySize = 4;
    uint64_t pixelOffset = 0;
};

bool IsSupportedDepth(unsigned bits, bool core) {
    switch (bits) {
        case 1:
        case 2:
        case 4:
        case 8:
        case 24:
            return true;
        case 16:
        case 32:
            return !core;
        default:
            return false;
    }
}

bool CompressionFits(uint32_t compression, unsigned bits) {
    switch (compression) {
        case kCompressionRgb:
            return true;
        case kCompressionRle8:
            return bits == 8;
        case kCompressionRle4:
            return bits == 4;
        case kCompressionBitFields:
            return bits == 16 || bits == 32;
        default:
            return false;
    }
}

bool ReadLayout(ByteSource& source, BmpLayout& layout, std::string& error) {
    uint8_t fileHeader[kBitmapFileHeaderSize];
    if (!source.Read(fileHeader, sizeof fileHeader)) {
        error = texts::kNotBmp;
        return false;
    }
    error = texts::kBmpInfo;
    // Without the "BM" signature the data is taken to be a bare info header (a DIB).
    const bool hasFileHeader = fileHeader[0] == 'B' && fileHeader[1] == 'M';
    const uint64_t infoStart = hasFileHeader ? kBitmapFileHeaderSize : 0;
    const uint32_t offBits = hasFileHeader ? GetLe32(fileHeader + 10) : 0;
    const uint64_t fileSize = source.Size();

    uint8_t info[kBitmapInfoHeaderSize] = {};
    if (!source.Seek(infoStart) || !source.Read(info, 4)) return false;
    const uint32_t headerSize = GetLe32(info);
    uint32_t clrUsed = 0;
    const bool core = headerSize == kCoreHeaderSize;
    if (core) {
        if (!source.Read(info + 4, kCoreHeaderSize - 4)) return false;
        layout.width = GetLe16(info + 4);
        layout.height = GetLe16(info + 6);
        layout.bits = GetLe16(info + 10);
        layout.paletteEntrySize = 3;
    } else {
        if (headerSize < kBitmapInfoHeaderSize || headerSize > kMaxInfoHeaderSize) return false;
        if (!source.Read(info + 4, kBitmapInfoHeaderSize - 4)) return false;
        const auto width = static_cast<int32_t>(GetLe32(info + 4));
        const auto height = static_cast<int32_t>(GetLe32(info + 8));
        if (width <= 0 || height == 0 || height == INT32_MIN) return false;
        layout.width = static_cast<uint32_t>(width);
        layout.topDown = height < 0;
        layout.height = static_cast<uint32_t>(height < 0 ? -height : height);
        layout.bits = GetLe16(info + 14);
        layout.compression = GetLe32(info + 16);
        layout.sizeImage = GetLe32(info + 20);
        layout.ppmX = static_cast<int32_t>(GetLe32(info + 24));
        layout.ppmY = static_cast<int32_t>(GetLe32(info + 28));
        clrUsed = GetLe32(info + 32);
    }
    if (layout.width == 0 || layout.height == 0) return false;
    if (!IsSupportedDepth(layout.bits, core) || !CompressionFits(layout.compression, layout.bits))
        return false;
    const bool rle = layout.compression == kCompressionRle4 || layout.compression == kCompressionRle8;
    if (rle && layout.topDown) return false;

    uint64_t tableStart = infoStart + headerSize;
    uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
    if (layout.bits == 32) {
        masks[0] = 0x00FF0000;
        masks[1] = 0x0000FF00;
        masks[2] = 0x000000FF;
    }
    if (layout.compression == kCompressionBitFields) {
        // The masks follow a 40-byte header; longer headers hold them at the same place.
        uint8_t maskBytes[12];
        if (!source.Seek(infoStart + kBitmapInfoHeaderSize) || !source.Read(maskBytes, sizeof maskBytes)) {
            return false;
        }
        for (int i = 0; i < 3; ++i) masks[i] = GetLe32(maskBytes + 4 * i);
        if (headerSize == kBitmapInfoHeaderSize) tableStart += sizeof maskBytes;
    }
    for (int i = 0; i < 3; ++i) layout.masks[i] = MakeChannelMask(masks[i]);

    // Entries stored in the file (which sets where a headerless file's pixels start) and entries
    // the image can use; a larger count than the depth allows is tolerated.
    uint64_t storedEntries = core ? 0 : clrUsed;
    if (layout.bits <= 8) {
        const unsigned maxEntries = 1u << layout.bits;
        if (storedEntries == 0) storedEntries = maxEntries;
        layout.paletteEntries = static_cast<unsigned>(std::min<uint64_t>(storedEntries, maxEntries));
    }
    layout.paletteOffset = tableStart;
    const uint64_t usedTableEnd = tableStart + uint64_t{layout.paletteEntries} * layout.paletteEntrySize;
    if (usedTableEnd > fileSize) return false;

    if (offBits != 0) {
        layout.pixelOffset = offBits;
    } else {
        layout.pixelOffset = tableStart + storedEntries * layout.paletteEntrySize;
    }
    if (layout.pixelOffset < usedTableEnd || layout.pixelOffset > fileSize) return false;

    if (!rle) {
        const size_t rowBytes = BmpRowBytes(layout.width, layout.bits);
        uint64_t dataBytes = 0;
        if (rowBytes == 0 || MultiplyOverflows(uint64_t{rowBytes}, uint64_t{layout.height}, &dataBytes) ||
            dataBytes > fileSize - layout.pixelOffset) {
            return false;
        }
    }
    error.clear();
    return true;
}

int DotsPerInch(int32_t pixelsPerMetre) {
    if (pixelsPerMetre <= 0) return 0;
    return static_cast<int>(std::floor(pixelsPerMetre * 0.0254 + 0.5));
}

void ConvertRow(const BmpLayout& layout, const uint8_t* in, uint8_t* out) {
    const uint32_t width = layout.width;
    switch (layout.bits) {
        case 2:
            // Each 2-bit index becomes a nibble of the 4-bit row.
            for (uint32_t x = 0; x < width; ++x) {
                const unsigned v = (in[x >> 2] >> (6 - 2 * (x & 3))) & 3;
                if (x & 1) {
                    out[x >> 1] = static_cast<uint8_t>(out[x >> 1] | v);
                } else {
                    out[x >> 1] = static_cast<uint8_t>(v << 4);
                }
            }
            break;
        case 16:
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t pixel = GetLe16(in + 2 * size_t{x});
                out[3 * size_t{x} + 0] = ExtractChannel(pixel, layout.masks[2]);
                out[3 * size_t{x} + 1] = ExtractChannel(pixel, layout.masks[1]);
                out[3 * size_t{x} + 2] = ExtractChannel(pixel, layout.masks[0]);
            }
            break;
        case 32:
            for (uint32_t x = 0; x < width; ++x) {
                const uint32_t pixel = GetLe32(in + 4 * size_t{x});
                out[3 * size_t{x} + 0] = ExtractChannel(pixel, layout.masks[2]);
                out[3 * size_t{x} + 1] = ExtractChannel(pixel, layout.masks[1]);
                out[3 * size_t{x} + 2] = ExtractChannel(pixel, layout.masks[0]);
            }
            break;
        default:
            break;  // same depth in and out: copied by the caller
    }
}

bool ReadUncompressed(ByteSource& source, const BmpLayout& layout, ImageContainer& image) {
    const size_t inRowBytes = BmpRowBytes(layout.width, layout.bits);
    const size_t outRowBytes = image.RowBytes();
    const bool sameDepth = layout.bits == image.BitsPerPixel();
    std::vector<uint8_t> row(inRowBytes);
    if (!source.Seek(layout.pixelOffset)) return false;
    uint8_t* pixels = image.Pixels().data();
    for (uint32_t i = 0; i < layout.height; ++i) {
        const uint32_t bottomUp = layout.topDown ? layout.height - 1 - i : i;
        uint8_t* out = pixels + size_t{bottomUp} * outRowBytes;
        if (sameDepth) {
            if (!source.Read(out, outRowBytes)) return false;
            continue;
        }
        if (!source.Read(row.data(), inRowBytes)) return false;
        ConvertRow(layout, row.data(), out);
    }
    return true;
}

// Decodes RLE8 or RLE4 data into the (bottom-up) rows of image. Pixels outside the image are
// dropped; data that ends before the last row is reached is an error.
bool DecodeRle(const std::vector<uint8_t>& data, const BmpLayout& layout, ImageContainer& image) {
    const bool rle4 = layout.compression == kCompressionRle4;
    const uint64_t width = layout.width;
    const uint64_t height = layout.height;
    uint8_t* pixels = image.Pixels().data();
    const size_t rowBytes = image.RowBytes();
    uint64_t x = 0;
    uint64_t y = 0;
    size_t pos = 0;

    auto put = [&](uint8_t value) {
        if (x < width) {
            uint8_t* row = pixels + static_cast<size_t>(y) * rowBytes;
            if (rle4) {
                uint8_t& byte = row[x >> 1];
                byte = (x & 1) ? static_cast<uint8_t>((byte & 0xF0) | (value & 0x0F))
                               : static_cast<uint8_t>((byte & 0x0F) | (value << 4));
            } else {
                row[x] = value;
            }
        }
        ++x;
    };

    while (y < height) {
        if (data.size() - pos < 2) return y + 1 >= height;
        const unsigned count = data[pos];
        const unsigned value = data[pos + 1];
        pos += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count && x < width; ++i) {
                put(static_cast<uint8_t>(rle4 ? ((i & 1) ? (value & 0x0F) : (value >> 4)) : value));
            }
            continue;
        }
        if (value == 0) {  // end of line
            x = 0;
            ++y;
        } else if (value == 1) {  // end of bitmap
            return true;
        } else if (value == 2) {  // delta
            if (data.size() - pos < 2) return false;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else {  // absolute run of `value` pixels, padded to a 16-bit boundary
            const size_t bytes = rle4 ? (value + 1) / 2 : value;
            const size_t padded = bytes + (bytes & 1);
            if (data.size() - pos < bytes) return false;
            for (unsigned i = 0; i < value; ++i) {
                const uint8_t b = data[pos + (rle4 ? i / 2 : i)];
                put(static_cast<uint8_t>(rle4 ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b));
            }
            pos += std::min(padded, data.size() - pos);
        }
    }
    return true;
}

bool ReadRle(ByteSource& source, const BmpLayout& layout, ImageContainer& image) {
    // Worst case for valid data is two bytes per pixel plus an end of line per row.
    const uint64_t available = source.Size() - layout.pixelOffset;
    const uint64_t worstCase = 2 * uint64_t{layout.width} * layout.height + 2 * uint64_t{layout.height} + 2;
    uint64_t length = std::min(available, worstCase);
    if (layout.sizeImage != 0) length = std::min<uint64_t>(length, layout.sizeImage);
    std::vector<uint8_t> data(static_cast<size_t>(length));
    if (!source.Seek(layout.pixelOffset) || !source.Read(data.data(), data.size())) return false;
    return DecodeRle(data, layout, image);
}

}  // namespace

bool ReadBmp(ByteSource& source, ImageContainer& image, std::string& error) {
    BmpLayout layout;
    if (!ReadLayout(source, layout, error)) return false;

    unsigned depth = layout.bits;
    if (depth == 2) depth = 4;
    if (depth == 16 || depth == 32) depth = 24;
    try {
        if (!image.Create(layout.width, layout.height, depth)) {
            error = texts::kNoMemory;
            return false;
        }
        image.SetPixelsPerMetre(layout.ppmX, layout.ppmY);
        image.SetDpi(DotsPerInch(layout.ppmX), DotsPerInch(layout.ppmY));

        if (layout.paletteEntries > 0) {
            uint8_t entry[4] = {};
            if (!source.Seek(layout.paletteOffset)) {
                error = texts::kBmpInfo;
                return false;
            }
            for (unsigned i = 0; i < layout.paletteEntries; ++i) {
                if (!source.Read(entry, layout.paletteEntrySize)) {
                    error = texts::kBmpInfo;
                    return false;
                }
                image.SetPaletteEntry(i, RgbQuad{entry[0], entry[1], entry[2], 0});
            }
        }

        const bool rle = layout.compression == kCompressionRle4 || layout.compression == kCompressionRle8;
        if (!(rle ? ReadRle(source, layout, image) : ReadUncompressed(source, layout, image))) {
            error = texts::kBmpInfo;
            return false;
        }
    } catch (const std::bad_alloc&) {
        error = texts::kNoMemory;
        return false;
    }
    return true;
}

}  // namespace dravix
