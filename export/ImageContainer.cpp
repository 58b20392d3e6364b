#include "export/ImageContainer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

#include "base/Portability.h"
#include "base/SafeFile.h"
#include "export/ByteSink.h"
#include "export/ByteSource.h"
#include "export/ImageTexts.h"
#include "export/Writers.h"

namespace dravix {

size_t BmpRowBytes(uint64_t width, unsigned bitsPerPixel) {
    // Bounded well below overflow: width is at most 2^32 and bits at most 32.
    const uint64_t bits = width * bitsPerPixel;
    const uint64_t bytes = ((bits + 31) / 32) * 4;
    if (bytes > SIZE_MAX) return 0;
    return static_cast<size_t>(bytes);
}

ImageContainer::ImageContainer() = default;

ImageContainer::ImageContainer(const std::string& path, ImageType type) {
    Load(path, type);
}

bool ImageContainer::Create(uint32_t width, uint32_t height, unsigned bitsPerPixel) {
    Destroy();
    if (width == 0 || height == 0) return false;
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24) return false;
    // BMP fields are signed 32-bit.
    if (width > INT32_MAX || height > INT32_MAX) {
        SetLastError(texts::kNoMemory);
        return false;
    }
    const size_t rowBytes = BmpRowBytes(width, bitsPerPixel);
    size_t total = 0;
    if (rowBytes == 0 || MultiplyOverflows(rowBytes, size_t{height}, &total) || total > kMaxImageBytes) {
        SetLastError(texts::kNoMemory);
        return false;
    }
    try {
        m_pixels.assign(total, 0);
        m_palette.assign(bitsPerPixel == 24 ? 0 : size_t{1} << bitsPerPixel, RgbQuad{});
    } catch (const std::bad_alloc&) {
        Destroy();
        SetLastError(texts::kNoMemory);
        return false;
    }
    m_width = width;
    m_height = height;
    m_bitsPerPixel = bitsPerPixel;
    m_rowBytes = rowBytes;
    m_header = BitmapInfoHeader{};
    m_header.width = static_cast<int32_t>(width);
    m_header.height = static_cast<int32_t>(height);
    m_header.bitCount = static_cast<uint16_t>(bitsPerPixel);
    m_header.sizeImage = total <= UINT32_MAX ? static_cast<uint32_t>(total) : 0;
    m_header.clrUsed = static_cast<uint32_t>(m_palette.size());
    return true;
}

void ImageContainer::Destroy() {
    m_width = m_height = 0;
    m_bitsPerPixel = 0;
    m_rowBytes = 0;
    m_header = BitmapInfoHeader{};
    std::vector<uint8_t>().swap(m_pixels);
    m_palette.clear();
}

bool ImageContainer::Load(const std::string& path, ImageType type) {
    m_openFailed = false;
    FileSource file(path);
    if (!file.IsOpen()) {
        m_openFailed = true;
        return false;
    }
    return Load(file, type);
}

bool ImageContainer::Load(ByteSource& source, ImageType type) {
    m_openFailed = false;
    const int code = static_cast<int>(type);
    std::string remembered;
    if (code >= kFirstImageType && code <= kLastImageType) {
        // Readers that fail without a text (no reader for the type) leave the BMP reader's text.
        const std::string before = m_lastError;
        m_lastError.clear();
        if (DecodeAs(source, type)) return true;
        remembered = m_lastError;
        if (remembered.empty()) m_lastError = before;
    }
    if (DecodeAs(source, ImageType::kUnknown)) return true;
    if (!remembered.empty()) m_lastError = remembered;
    return false;
}

bool ImageContainer::Decode(ByteSource& source, ImageType type) {
    m_openFailed = false;
    return DecodeAs(source, type);
}

bool ImageContainer::DecodeAs(ByteSource& source, ImageType type) {
    Destroy();
    if (type != ImageType::kUnknown && type != ImageType::kBmp) return false;
    if (!source.Seek(0)) return false;
    std::string error;
    if (ReadBmp(source, *this, error)) return true;
    Destroy();
    SetLastError(error);
    return false;
}

bool ImageContainer::Save(const std::string& path, ImageType type) {
    m_openFailed = false;
    FileSink file;
    if (!file.Begin(path).Ok()) {
        m_openFailed = true;
        return false;
    }
    bool written = Encode(&file, type);
    if (written && !file.Commit().Ok()) {
        SetLastError(texts::kWriteFailed);
        written = false;
    }
    if (written) return true;
    file.Abandon();
    // The icon, WBMP and metafile writers refuse an image before writing anything: the name is
    // then taken by an empty file if it was free, and an existing file stays as it was.
    const bool refused = (type == ImageType::kIco && m_lastError == texts::kIcoSize) ||
                         (type == ImageType::kWbmp && m_lastError == texts::kWbmpSize) ||
                         type == ImageType::kWmf;
    if (refused) static_cast<void>(CreateEmptyFile(path));
    return false;
}

bool ImageContainer::Encode(ByteSink* sink, ImageType type) {
    if (sink == nullptr) {
        SetLastError(texts::kNullFileHandler);
        return false;
    }
    if (!IsValid()) {
        SetLastError(texts::kNullImage);
        return false;
    }
    std::string error;
    bool written = false;
    try {
        switch (type) {
            case ImageType::kBmp:
                written = writers::WriteBmp(*this, *sink, error);
                break;
            case ImageType::kGif:
                written = writers::WriteGif(*this, *sink, error);
                break;
            case ImageType::kJpeg:
                written = writers::WriteJpeg(*this, *sink, error);
                break;
            case ImageType::kPng:
                written = writers::WritePng(*this, *sink, error);
                break;
            case ImageType::kIco:
                written = writers::WriteIco(*this, *sink, error);
                break;
            case ImageType::kTiff:
                written = writers::WriteTiff(*this, *sink, error);
                break;
            case ImageType::kTga:
                written = writers::WriteTga(*this, *sink, error);
                break;
            case ImageType::kPcx:
                written = writers::WritePcx(*this, *sink, error);
                break;
            case ImageType::kWbmp:
                written = writers::WriteWbmp(*this, *sink, error);
                break;
            case ImageType::kWmf:
                error = texts::kWmf;
                break;
            case ImageType::kJp2:
                written = writers::WriteJpeg2000(*this, *sink, false, error);
                break;
            case ImageType::kJpc:
                written = writers::WriteJpeg2000(*this, *sink, true, error);
                break;
            case ImageType::kPgx:
                written = writers::WritePgx(*this, *sink, error);
                break;
            case ImageType::kPnm:
                written = writers::WritePnm(*this, *sink, error);
                break;
            case ImageType::kSunRaster:
                written = writers::WriteSunRaster(*this, *sink, error);
                break;
            default:
                error = texts::kUnknownFormat;
                break;
        }
    } catch (const std::bad_alloc&) {
        // Writers turn their own failures into texts; memory exhaustion is the one that can
        // escape a buffer allocation.
        written = false;
        error = texts::kNoMemory;
    }
    if (written && !sink->Flush()) {
        written = false;
        error = texts::kWriteFailed;
    }
    if (!written) SetLastError(error);
    return written;
}

void ImageContainer::SetLastError(std::string_view text) {
    m_lastError.assign(text.substr(0, kMaxLastErrorLength));
}

const uint8_t* ImageContainer::RowFromTop(uint32_t y) const {
    return m_pixels.data() + static_cast<size_t>(m_height - 1 - y) * m_rowBytes;
}

uint8_t* ImageContainer::RowFromTop(uint32_t y) {
    return m_pixels.data() + static_cast<size_t>(m_height - 1 - y) * m_rowBytes;
}

void ImageContainer::SetPaletteEntry(size_t index, RgbQuad colour) {
    if (index < m_palette.size()) {
        colour.reserved = 0;
        m_palette[index] = colour;
    }
}

bool ImageContainer::IsGreyRamp() const {
    if (m_palette.empty()) return false;
    for (size_t i = 0; i < m_palette.size(); ++i) {
        const RgbQuad& c = m_palette[i];
        if (c.red != i || c.green != i || c.blue != i) return false;
    }
    return true;
}

uint8_t ImageContainer::GetPixelIndex(uint32_t x, uint32_t y) const {
    if (x >= m_width || y >= m_height || m_bitsPerPixel == 24) return 0;
    const uint8_t* row = RowFromTop(y);
    switch (m_bitsPerPixel) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
        default:
            return row[x];
    }
}

void ImageContainer::SetPixelIndex(uint32_t x, uint32_t y, uint8_t index) {
    if (x >= m_width || y >= m_height || m_bitsPerPixel == 24) return;
    uint8_t* row = RowFromTop(y);
    switch (m_bitsPerPixel) {
        case 1: {
            const uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
            row[x >> 3] = static_cast<uint8_t>((index & 1) ? (row[x >> 3] | bit) : (row[x >> 3] & ~bit));
            break;
        }
        case 4:
            if (x & 1) {
                row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0xF0) | (index & 0x0F));
            } else {
                row[x >> 1] = static_cast<uint8_t>((row[x >> 1] & 0x0F) | (index << 4));
            }
            break;
        default:
            row[x] = index;
            break;
    }
}

RgbQuad ImageContainer::GetPixelColour(uint32_t x, uint32_t y) const {
    if (x >= m_width || y >= m_height) return {};
    if (m_bitsPerPixel != 24) {
        const uint8_t index = GetPixelIndex(x, y);
        return index < m_palette.size() ? m_palette[index] : RgbQuad{};
    }
    const uint8_t* p = RowFromTop(y) + size_t{x} * 3;
    return RgbQuad{p[0], p[1], p[2], 0};
}

void ImageContainer::SetPixelColour(uint32_t x, uint32_t y, RgbQuad colour) {
    if (x >= m_width || y >= m_height || m_bitsPerPixel != 24) return;
    uint8_t* p = RowFromTop(y) + size_t{x} * 3;
    p[0] = colour.blue;
    p[1] = colour.green;
    p[2] = colour.red;
}

void ImageContainer::SetDpi(int x, int y) {
    m_dpiX = x;
    m_dpiY = y;
}

void ImageContainer::SetPixelsPerMetre(int32_t x, int32_t y) {
    m_header.xPelsPerMeter = x;
    m_header.yPelsPerMeter = y;
}

}  // namespace dravix
