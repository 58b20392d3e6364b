// GIF89a. A 24-bit image becomes a mosaic of 17 × 15 tiles, each with its own 256-entry colour
// table, so that no colour is lost; 1-, 4- and 8-bit images are written as one image with a
// global colour table.
#include <algorithm>
#include <array>
#include <vector>

#include "export/ByteSink.h"
#include "export/FieldWriter.h"
#include "export/GifLzw.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

constexpr uint32_t kTileWidth = 17;
constexpr uint32_t kTileHeight = 15;
constexpr size_t kTableEntries = 256;

void AppendScreenDescriptor(std::vector<uint8_t>& out, const ImageContainer& image, unsigned packed) {
    FieldWriter(out)
        .Bytes("GIF89a", 6)
        .Le16(image.Width())
        .Le16(image.Height())
        .U8(packed)
        .U8(0)   // background colour index
        .U8(0);  // aspect ratio
}

void AppendComment(std::vector<uint8_t>& out, const std::string& comment) {
    if (comment.empty()) return;
    const size_t length = std::min<size_t>(comment.size(), 255);
    FieldWriter(out).U8(0x21).U8(0xFE).U8(static_cast<unsigned>(length)).Bytes(comment.data(), length).U8(0);
}

void AppendGraphicControl(std::vector<uint8_t>& out) {
    // Disposal 0, no transparency, delay 0, transparent index 0xFF.
    FieldWriter(out).U8(0x21).U8(0xF9).U8(4).U8(0).Le16(0).U8(0xFF).U8(0);
}

void AppendImageDescriptor(std::vector<uint8_t>& out, uint32_t left, uint32_t top, uint32_t width,
                           uint32_t height, unsigned packed) {
    FieldWriter(out).U8(0x2C).Le16(left).Le16(top).Le16(width).Le16(height).U8(packed);
}

// Lowest colour-table index for each colour of one tile. Colours are inserted in index order,
// so the first index stored for a colour is the lowest.
class TileColourIndex final {
  public:
    void Reset() {
        if (++m_stamp == 0) {
            m_stamps.fill(0);
            m_stamp = 1;
        }
    }

    uint8_t FindOrInsert(uint32_t colour, uint8_t index) {
        size_t slot = (colour * 2654435761u) >> (32 - kBits);
        while (m_stamps[slot] == m_stamp) {
            if (m_colours[slot] == colour) return m_indices[slot];
            slot = (slot + 1) & (kSlots - 1);
        }
        m_stamps[slot] = m_stamp;
        m_colours[slot] = colour;
        m_indices[slot] = index;
        return index;
    }

  private:
    static constexpr unsigned kBits = 9;
    static constexpr size_t kSlots = size_t{1} << kBits;  // twice the 256 entries
    std::array<uint32_t, kSlots> m_colours{};
    std::array<uint8_t, kSlots> m_indices{};
    std::array<uint32_t, kSlots> m_stamps{};
    uint32_t m_stamp = 0;
};

bool WriteMosaic(const ImageContainer& image, ByteSink& sink, std::string& error) {
    std::vector<uint8_t> head;
    AppendScreenDescriptor(head, image, 0x11);  // no global colour table
    AppendComment(head, image.GifComment());
    sink.Write(head);

    GifLzwEncoder lzw;
    TileColourIndex colourIndex;
    std::array<uint8_t, kTableEntries * 3> table{};  // red, green, blue per entry
    std::array<uint8_t, kTileWidth * kTileHeight> indices{};
    std::vector<uint8_t> tileHead;
    uint32_t lastWidth = 0;
    uint32_t lastHeight = 0;

    for (uint32_t top = 0; top < image.Height(); top += kTileHeight) {
        const uint32_t tileHeight = std::min(kTileHeight, image.Height() - top);
        for (uint32_t left = 0; left < image.Width(); left += kTileWidth) {
            const uint32_t tileWidth = std::min(kTileWidth, image.Width() - left);
            if (tileWidth != lastWidth || tileHeight != lastHeight) {
                // Entries that no pixel of this tile size fills stay 0 from here on.
                table.fill(0);
                lastWidth = tileWidth;
                lastHeight = tileHeight;
            }
            colourIndex.Reset();
            colourIndex.FindOrInsert(0, 0);  // entry 0 is black and never filled from pixels
            // Entry r × 17 + c + 1 holds the pixel of tile row r (0 = the tile's bottom row) and
            // column c; each pixel is coded with the lowest entry of its colour.
            for (uint32_t r = 0; r < tileHeight; ++r) {
                const uint32_t rowFromTop = tileHeight - 1 - r;
                const uint8_t* in = image.RowFromTop(top + rowFromTop) + size_t{left} * 3;
                for (uint32_t c = 0; c < tileWidth; ++c, in += 3) {
                    const size_t entry = size_t{r} * kTileWidth + c + 1;
                    table[entry * 3 + 0] = in[2];
                    table[entry * 3 + 1] = in[1];
                    table[entry * 3 + 2] = in[0];
                    const uint32_t colour = (uint32_t{in[2]} << 16) | (uint32_t{in[1]} << 8) | in[0];
                    indices[size_t{rowFromTop} * tileWidth + c] =
                        colourIndex.FindOrInsert(colour, static_cast<uint8_t>(entry));
                }
            }

            tileHead.clear();
            AppendGraphicControl(tileHead);
            AppendImageDescriptor(tileHead, left, top, tileWidth, tileHeight, 0x87);
            FieldWriter(tileHead).Bytes(table.data(), table.size()).U8(8);
            sink.Write(tileHead);
            lzw.Begin(sink, 8);
            lzw.Add(indices.data(), size_t{tileWidth} * tileHeight);
            if (!lzw.Finish()) {
                error = texts::kGifWrite;
                return false;
            }
            sink.Put(0);
        }
    }
    return true;
}

bool WriteSingleImage(const ImageContainer& image, ByteSink& sink) {
    const unsigned bits = image.BitsPerPixel();
    const unsigned packed = bits == 1 ? 0x80 : bits == 4 ? 0xE3 : 0xE7;
    std::vector<uint8_t> head;
    AppendScreenDescriptor(head, image, packed);
    for (const RgbQuad& c : image.Palette()) FieldWriter(head).U8(c.red).U8(c.green).U8(c.blue);
    AppendGraphicControl(head);
    AppendComment(head, image.GifComment());
    AppendImageDescriptor(head, 0, 0, image.Width(), image.Height(), 0);
    const unsigned minCodeSize = std::max(bits, 2u);
    FieldWriter(head).U8(minCodeSize);
    sink.Write(head);

    GifLzwEncoder lzw;
    lzw.Begin(sink, minCodeSize);
    std::vector<uint8_t> row(image.Width());
    for (uint32_t y = 0; y < image.Height(); ++y) {
        RowToIndices(image, y, row.data());
        lzw.Add(row.data(), row.size());
    }
    if (!lzw.Finish()) return false;
    sink.Put(0);
    return true;
}

}  // namespace

bool WriteGif(const ImageContainer& image, ByteSink& sink, std::string& error) {
    if (image.Width() > 0xFFFF || image.Height() > 0xFFFF) {
        error = texts::kTooLarge;
        return false;
    }
    if (image.BitsPerPixel() == 24) {
        if (!WriteMosaic(image, sink, error)) return false;
    } else if (!WriteSingleImage(image, sink)) {
        error = texts::kGifWrite;
        return false;
    }
    if (!sink.Put(0x3B) || !sink.Flush()) {
        error = texts::kGifWrite;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
