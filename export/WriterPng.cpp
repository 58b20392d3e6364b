// PNG through libpng. libpng leaves an error through longjmp; the setjmp lives in RunPngWrite, a
// plain function without objects that need destruction, and our callbacks hold none either.
#include <algorithm>
#include <csetjmp>
#include <vector>

#include <png.h>

#include "export/ByteSink.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {
namespace {

// Palette images with more pixels than this keep the whole colour table instead of searching.
constexpr uint64_t kPaletteSearchPixelLimit = 65536;

struct PngJob {
    const ImageContainer* image;
    ByteSink* sink;
    png_color* palette;  // paletteEntries entries
    int paletteEntries;
    int backgroundIndex;  // -1: the palette has no white
    uint8_t* row;
    const char* failure;  // set when the writer fails
};

extern "C" void OnPngError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}
extern "C" void OnPngWarning(png_structp, png_const_charp) {}

bool SinkWrite(PngJob* job, png_bytep data, size_t size) {
    return job->sink->Write(data, size);
}

extern "C" void OnPngWrite(png_structp png, png_bytep data, size_t size) {
    if (!SinkWrite(static_cast<PngJob*>(png_get_io_ptr(png)), data, size)) png_error(png, "write failed");
}

extern "C" void OnPngFlush(png_structp) {}

const uint8_t* PrepareRow(PngJob* job, uint32_t y) {
    const ImageContainer& image = *job->image;
    if (image.BitsPerPixel() != 24) return image.RowFromTop(y);  // packed indices as PNG wants them
    RowToRgb(image, y, job->row);
    return job->row;
}

bool RunPngWrite(PngJob* job) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, job, OnPngError, OnPngWarning);
    if (png == nullptr) {
        job->failure = texts::kPngCreate;
        return false;
    }
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        job->failure = texts::kPngInfo;
        return false;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        job->failure = texts::kPngSave;
        return false;
    }
    png_set_write_fn(png, job, OnPngWrite, OnPngFlush);

    const ImageContainer& image = *job->image;
    const bool indexed = image.BitsPerPixel() != 24;
    png_set_IHDR(png, info, image.Width(), image.Height(),
                 indexed ? static_cast<int>(image.BitsPerPixel()) : 8,
                 indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (indexed) png_set_PLTE(png, info, job->palette, job->paletteEntries);

    png_color_16 background{};
    if (!indexed) {
        background.red = background.green = background.blue = 255;
        png_set_bKGD(png, info, &background);
    } else if (job->backgroundIndex >= 0) {
        // A palette image names its background by index; white is only named if present.
        background.index = static_cast<png_byte>(job->backgroundIndex);
        png_set_bKGD(png, info, &background);
    }
    const BitmapInfoHeader& header = image.Header();
    png_set_pHYs(png, info, header.xPelsPerMeter > 0 ? static_cast<png_uint_32>(header.xPelsPerMeter) : 0,
                 header.yPelsPerMeter > 0 ? static_cast<png_uint_32>(header.yPelsPerMeter) : 0,
                 PNG_RESOLUTION_METER);

    png_write_info(png, info);
    for (uint32_t y = 0; y < image.Height(); ++y) {
        png_write_row(png, PrepareRow(job, y));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

// The highest index used plus one, searched only for small images with more than 2 colours.
int PaletteEntriesUsed(const ImageContainer& image) {
    const int entries = static_cast<int>(image.Palette().size());
    if (entries <= 2 || uint64_t{image.Width()} * image.Height() >= kPaletteSearchPixelLimit) return entries;
    int highest = 0;
    std::vector<uint8_t> row(image.Width());
    for (uint32_t y = 0; y < image.Height(); ++y) {
        RowToIndices(image, y, row.data());
        for (uint8_t index : row) highest = std::max<int>(highest, index);
    }
    return highest + 1;
}

}  // namespace

bool WritePng(const ImageContainer& image, ByteSink& sink, std::string& error) {
    if (image.Width() > PNG_UINT_31_MAX || image.Height() > PNG_UINT_31_MAX) {
        error = texts::kTooLarge;
        return false;
    }
    std::vector<png_color> palette;
    int backgroundIndex = -1;
    int entries = 0;
    if (image.BitsPerPixel() != 24) {
        entries = PaletteEntriesUsed(image);
        for (int i = 0; i < entries; ++i) {
            const RgbQuad& c = image.Palette()[static_cast<size_t>(i)];
            palette.push_back(png_color{c.red, c.green, c.blue});
            if (backgroundIndex < 0 && c.red == 255 && c.green == 255 && c.blue == 255) backgroundIndex = i;
        }
    }
    std::vector<uint8_t> row(size_t{image.Width()} * 3);
    PngJob job{&image, &sink, palette.data(), entries, backgroundIndex, row.data(), nullptr};
    if (!RunPngWrite(&job)) {
        error = job.failure;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
