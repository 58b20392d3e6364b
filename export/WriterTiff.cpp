// TIFF through libtiff, one page. libtiff seeks back to patch offsets, so the file is built in
// memory and handed to the sink in one write. Its messages go to per-file handlers, never to
// standard error.
#include <cstdarg>
#include <memory>
#include <vector>

#include <tiffio.h>

#include "export/ByteSink.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/MemoryFile.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

MemoryFile& FileOf(thandle_t handle) {
    return *static_cast<MemoryFile*>(handle);
}

extern "C" tmsize_t TiffRead(thandle_t handle, void* data, tmsize_t size) {
    return size < 0 ? -1 : static_cast<tmsize_t>(FileOf(handle).Read(data, static_cast<size_t>(size)));
}

extern "C" tmsize_t TiffWrite(thandle_t handle, void* data, tmsize_t size) {
    if (size < 0 || !FileOf(handle).Write(data, static_cast<size_t>(size))) return -1;
    return size;
}

extern "C" toff_t TiffSeek(thandle_t handle, toff_t offset, int whence) {
    MemoryFile& file = FileOf(handle);
    uint64_t base = 0;
    if (whence == SEEK_CUR) base = file.Position();
    if (whence == SEEK_END) base = file.Size();
    file.Seek(base + offset);
    return file.Position();
}

extern "C" int TiffClose(thandle_t) {
    return 0;
}
extern "C" toff_t TiffSize(thandle_t handle) {
    return FileOf(handle).Size();
}
extern "C" int TiffMap(thandle_t, void**, toff_t*) {
    return 0;
}
extern "C" void TiffUnmap(thandle_t, void*, toff_t) {}
extern "C" int TiffQuiet(TIFF*, void*, const char*, const char*, va_list) {
    return 1;
}

bool IsBlackAndWhite(const ImageContainer& image) {
    const auto palette = image.Palette();
    const RgbQuad black{0, 0, 0, 0};
    const RgbQuad white{255, 255, 255, 0};
    return palette.size() == 2 &&
           ((palette[0] == black && palette[1] == white) || (palette[0] == white && palette[1] == black));
}

void SetTags(TIFF* tif, const ImageContainer& image, bool bilevel) {
    TIFFSetField(tif, TIFFTAG_SUBFILETYPE, 0);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.Width());
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.Height());
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, static_cast<double>(image.DpiX() > 0 ? image.DpiX() : 0));
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, static_cast<double>(image.DpiY() > 0 ? image.DpiY() : 0));

    const unsigned bits = image.BitsPerPixel();
    if (bits == 24) {
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_JPEG);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, image.JpegQuality());
    } else {
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, bits);
        if (bilevel) {
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX4);
            TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
        } else {
            TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
            if (bits == 8) TIFFSetField(tif, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
            // A 4-bit (i, i, i) table is not a grey scale of 4-bit samples, so only 8 bits
            // are written as grey.
            if (bits == 8 && image.IsGreyRamp()) {
                TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            } else {
                TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
                const size_t entries = size_t{1} << bits;
                std::vector<uint16_t> red(entries), green(entries), blue(entries);
                const auto palette = image.Palette();
                for (size_t i = 0; i < entries && i < palette.size(); ++i) {
                    red[i] = static_cast<uint16_t>(palette[i].red * 257);
                    green[i] = static_cast<uint16_t>(palette[i].green * 257);
                    blue[i] = static_cast<uint16_t>(palette[i].blue * 257);
                }
                TIFFSetField(tif, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
            }
        }
    }
    uint32_t rowsPerStrip = TIFFDefaultStripSize(tif, 0);
    rowsPerStrip = (rowsPerStrip + 7) / 8 * 8;
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
}

bool WriteRows(TIFF* tif, const ImageContainer& image, bool bilevel) {
    const unsigned bits = image.BitsPerPixel();
    // With white-is-zero a set bit is black; a table whose entry 0 is black needs inverting.
    const bool invert = bilevel && image.Palette()[0] == RgbQuad{0, 0, 0, 0};
    const size_t rowBytes = (size_t{image.Width()} * bits + 7) / 8;
    std::vector<uint8_t> row(bits == 24 ? size_t{image.Width()} * 3 : rowBytes);
    for (uint32_t y = 0; y < image.Height(); ++y) {
        if (bits == 24) {
            RowToRgb(image, y, row.data());
        } else {
            const uint8_t* in = image.RowFromTop(y);
            for (size_t i = 0; i < rowBytes; ++i) row[i] = invert ? static_cast<uint8_t>(~in[i]) : in[i];
        }
        if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) return false;
    }
    return true;
}

}  // namespace

bool WriteTiff(const ImageContainer& image, ByteSink& sink, std::string& error) {
    MemoryFile file;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options == nullptr) {
        error = texts::kTiffSave;
        return false;
    }
    TIFFOpenOptionsSetErrorHandlerExtR(options, TiffQuiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options, TiffQuiet, nullptr);
    // Closed on every path, including an allocation failure while the tags are set.
    std::unique_ptr<TIFF, void (*)(TIFF*)> tif(
        TIFFClientOpenExt("dravix", "w", &file, TiffRead, TiffWrite, TiffSeek, TiffClose, TiffSize, TiffMap,
                          TiffUnmap, options),
        TIFFClose);
    TIFFOpenOptionsFree(options);
    if (tif == nullptr) {
        error = texts::kTiffSave;
        return false;
    }
    const bool bilevel = image.BitsPerPixel() == 1 && IsBlackAndWhite(image);
    SetTags(tif.get(), image, bilevel);
    if (!WriteRows(tif.get(), image, bilevel)) {
        error = texts::kTiffSave;
        return false;
    }
    if (!TIFFWriteDirectory(tif.get())) {
        error = texts::kTiffDirectory;
        return false;
    }
    tif.reset();
    if (!sink.Write(file.Bytes())) {
        error = texts::kTiffSave;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
