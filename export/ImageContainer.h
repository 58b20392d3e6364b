#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "export/ImageType.h"

namespace dravix {

class ByteSink;
class ByteSource;

// One colour table entry, in the byte order of a BMP file.
struct RgbQuad {
    uint8_t blue = 0;
    uint8_t green = 0;
    uint8_t red = 0;
    uint8_t reserved = 0;

    friend bool operator==(const RgbQuad&, const RgbQuad&) = default;
};

// The 40-byte BMP info header, as the container holds it.
struct BitmapInfoHeader {
    uint32_t size = 40;
    int32_t width = 0;
    int32_t height = 0;  // positive: rows stored bottom row first
    uint16_t planes = 1;
    uint16_t bitCount = 0;
    uint32_t compression = 0;
    uint32_t sizeImage = 0;
    int32_t xPelsPerMeter = 0;
    int32_t yPelsPerMeter = 0;
    uint32_t clrUsed = 0;
    uint32_t clrImportant = 0;
};

inline constexpr size_t kBitmapFileHeaderSize = 14;
inline constexpr size_t kBitmapInfoHeaderSize = 40;
inline constexpr uint32_t kMaxLastErrorLength = 255;

// The container never holds more pixel bytes than this, so a forged header cannot make a reader
// allocate gigabytes; it is ample for any screen capture.
inline constexpr size_t kMaxImageBytes = size_t{256} << 20;

// Bytes of one row of `width` pixels at `bitsPerPixel`, padded to 4 bytes; 0 on overflow.
size_t BmpRowBytes(uint64_t width, unsigned bitsPerPixel);

// One image of 1, 4, 8 or 24 bits per pixel in the layout of an uncompressed BMP: rows bottom row
// first, each padded to 4 bytes, 24-bit pixels blue-green-red, a colour table of 2, 16 or 256
// entries for the indexed depths. Beside the pixels it keeps what the writers read: the
// resolution, the JPEG quality, per-format option bits, a transparency index, a GIF comment, and
// the text of the last failure.
//
// Typical use (the export): ImageContainer image(path, ImageType::kBmp); if (!image.IsValid())
// show image.GetLastError() (or the "cannot open" text when image.OpenFailed()); then
// image.Save(path, type), showing image.GetLastError() on failure.
class ImageContainer final {
  public:
    ImageContainer();
    // Runs Load(path, type).
    ImageContainer(const std::string& path, ImageType type);

    // A fresh image with zeroed pixels and a zeroed colour table (set entries with
    // SetPaletteEntry). Depth 1, 4, 8 or 24; fails with "Can't allocate memory" when the pixels
    // would exceed kMaxImageBytes or cannot be allocated.
    bool Create(uint32_t width, uint32_t height, unsigned bitsPerPixel);
    // Drops the image; settings (resolution, quality, options) stay.
    void Destroy();

    // Reads the file as `type` (1..15); when that fails, reads it again with automatic detection
    // (the BMP reader). If both fail and a type was given whose reader left a text, that text is
    // the last error. A file that cannot be opened fails with OpenFailed() set and the last error
    // unchanged.
    bool Load(const std::string& path, ImageType type);
    // The same from a source already open (the capture in memory).
    bool Load(ByteSource& source, ImageType type);
    // Decodes from a source; kUnknown means automatic detection. Only BMP has a reader here.
    bool Decode(ByteSource& source, ImageType type);

    // Writes the image in the format `type` as the file `path`, beside it first and in its place
    // only when complete (base/SafeFile.h). False with OpenFailed() set when no file can be
    // written there (a folder that cannot be written, a name that is no regular file), or with
    // the writer's text; an existing file then stays as it was. The icon, WBMP and metafile
    // refusals leave an empty file where there was none.
    bool Save(const std::string& path, ImageType type);
    // Writes the image in the format `type`; "null file handler" for a null sink.
    bool Encode(ByteSink* sink, ImageType type);

    bool IsValid() const { return !m_pixels.empty(); }
    // True when the last Load or Save could not open its file.
    bool OpenFailed() const { return m_openFailed; }
    const std::string& GetLastError() const { return m_lastError; }
    // Keeps at most 255 characters, as the export's message buffer does.
    void SetLastError(std::string_view text);

    uint32_t Width() const { return m_width; }
    uint32_t Height() const { return m_height; }
    unsigned BitsPerPixel() const { return m_bitsPerPixel; }
    size_t RowBytes() const { return m_rowBytes; }
    const BitmapInfoHeader& Header() const { return m_header; }

    // All rows, bottom row first, as a BMP file stores them.
    std::span<const uint8_t> Pixels() const { return m_pixels; }
    std::span<uint8_t> Pixels() { return m_pixels; }
    // Row y counted from the top of the picture.
    const uint8_t* RowFromTop(uint32_t y) const;
    uint8_t* RowFromTop(uint32_t y);

    // 2, 16 or 256 entries for indexed images, empty for 24 bits.
    std::span<const RgbQuad> Palette() const { return m_palette; }
    void SetPaletteEntry(size_t index, RgbQuad colour);
    // True for an indexed image whose entry i is (i, i, i): its indices are grey levels.
    bool IsGreyRamp() const;

    // Pixel access with y counted from the top; out-of-range coordinates read 0 and write nothing.
    uint8_t GetPixelIndex(uint32_t x, uint32_t y) const;
    void SetPixelIndex(uint32_t x, uint32_t y, uint8_t index);
    RgbQuad GetPixelColour(uint32_t x, uint32_t y) const;
    void SetPixelColour(uint32_t x, uint32_t y, RgbQuad colour);  // 24-bit images only

    // Dots per inch: 96 until an image is read, then taken from its pixels per metre.
    int DpiX() const { return m_dpiX; }
    int DpiY() const { return m_dpiY; }
    void SetDpi(int x, int y);
    // The header's pixels-per-metre fields, which BMP and PNG carry.
    void SetPixelsPerMetre(int32_t x, int32_t y);

    // The quality the JPEG writers use (and TIFF with JPEG compression).
    static constexpr int JpegQuality() { return 90; }
    // Written as a GIF comment extension when not empty (at most 255 bytes of it).
    const std::string& GifComment() const { return m_gifComment; }
    void SetGifComment(std::string comment) { m_gifComment = std::move(comment); }

  private:
    bool DecodeAs(ByteSource& source, ImageType type);

    uint32_t m_width = 0;
    uint32_t m_height = 0;
    unsigned m_bitsPerPixel = 0;
    size_t m_rowBytes = 0;
    BitmapInfoHeader m_header;
    std::vector<uint8_t> m_pixels;
    std::vector<RgbQuad> m_palette;

    int m_dpiX = 96;
    int m_dpiY = 96;
    std::string m_gifComment;

    std::string m_lastError;
    bool m_openFailed = false;
};

}  // namespace dravix
