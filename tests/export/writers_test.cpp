// Dispatch, refusals, output failures, and the small formats (BMP, TGA, ICO, WBMP, PGX, PNM,
// Sun raster), checked byte by byte or through the tests' own decoders.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestDecoders.h"
#include "base/ByteOrder.h"
#include "export/ByteSink.h"
#include "export/ImageTexts.h"
#include "tests/support/FileSizeLimit.h"

namespace dravix::test {
namespace {

ImageContainer Indexed(uint32_t width, uint32_t height, unsigned bits, bool greyRamp) {
    ImageContainer image;
    EXPECT_TRUE(image.Create(width, height, bits));
    for (size_t i = 0; i < image.Palette().size(); ++i) {
        const auto v = static_cast<uint8_t>(i);
        image.SetPaletteEntry(
            i, greyRamp ? RgbQuad{v, v, v, 0} : RgbQuad{v, uint8_t(255 - v), uint8_t(v / 2), 0});
    }
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) image.SetPixelIndex(x, y, uint8_t((x + 2 * y) % (1u << bits)));
    }
    return image;
}

ImageContainer Rgb24(uint32_t width, uint32_t height) {
    ImageContainer image;
    EXPECT_TRUE(image.Create(width, height, 24));
    FillTestPattern(image);
    return image;
}

std::string FailureText(ImageContainer& image, ImageType type, size_t sinkLimit = SIZE_MAX) {
    MemorySink sink(sinkLimit);
    EXPECT_FALSE(image.Encode(&sink, type));
    return image.GetLastError();
}

TEST(Dispatch, ChecksOutputImageAndFormatBeforeAnyWriter) {
    ImageContainer image = Rgb24(4, 4);
    EXPECT_FALSE(image.Encode(nullptr, ImageType::kBmp));
    EXPECT_EQ(image.GetLastError(), texts::kNullFileHandler);
    ImageContainer empty;
    EXPECT_EQ(FailureText(empty, ImageType::kPng), texts::kNullImage);
    EXPECT_EQ(FailureText(image, ImageType::kUnknown), texts::kUnknownFormat);
    EXPECT_EQ(FailureText(image, static_cast<ImageType>(16)), texts::kUnknownFormat);
    image.SetLastError(std::string(300, 'x'));
    EXPECT_EQ(image.GetLastError().size(), 255u);
}

// A refusal never touches an existing file. Where there was none, the icon, WBMP and metafile
// refusals leave an empty file and the others nothing.
TEST(Dispatch, RefusalsWriteNothing) {
    ImageContainer wide = Rgb24(256, 10);
    ImageContainer rgb = Rgb24(8, 8);
    ImageContainer colour8 = Indexed(8, 8, 8, false);
    ImageContainer grey8 = Indexed(8, 8, 8, true);
    ImageContainer oneBit = Indexed(8, 8, 1, false);
    ImageContainer fourBit = Indexed(8, 8, 4, false);
    const std::vector<std::tuple<ImageContainer*, ImageType, const char*>> cases = {
        {&wide, ImageType::kIco, texts::kIcoSize},
        {&rgb, ImageType::kWbmp, texts::kWbmpSize},
        {&rgb, ImageType::kWmf, texts::kWmf},
        {&colour8, ImageType::kJpeg, texts::kJpegDepth},
        {&fourBit, ImageType::kTga, texts::kTgaDepth},
        {&oneBit, ImageType::kTga, texts::kTgaDepth},
        {&colour8, ImageType::kJp2, texts::kOpenJpegDepth},
        {&colour8, ImageType::kJpc, texts::kOpenJpegDepth},
        {&rgb, ImageType::kPgx, texts::kPgxDepth},
        {&colour8, ImageType::kPgx, texts::kPgxDepth},
        {&colour8, ImageType::kPnm, texts::kPnmDepth},
        {&colour8, ImageType::kSunRaster, texts::kSunRasterDepth},
    };
    const std::string path = TempPath("refused");
    for (const auto& [image, type, text] : cases) {
        WriteFile(path, {1, 2, 3});
        EXPECT_FALSE(image->Save(path, type)) << text;
        EXPECT_FALSE(image->OpenFailed());
        EXPECT_EQ(image->GetLastError(), text);
        EXPECT_EQ(ReadFile(path), (std::vector<uint8_t>{1, 2, 3})) << text;

        std::remove(path.c_str());
        EXPECT_FALSE(image->Save(path, type)) << text;
        const bool leftEmpty = type == ImageType::kIco || type == ImageType::kWbmp || type == ImageType::kWmf;
        EXPECT_EQ(std::filesystem::exists(path), leftEmpty) << text;
        EXPECT_TRUE(ReadFile(path).empty()) << text;
    }
    EXPECT_FALSE(grey8.Save("/nonexistent-folder/x.png", ImageType::kPng));
    EXPECT_TRUE(grey8.OpenFailed());
    std::remove(path.c_str());
}

TEST(Dispatch, OutputFailuresAreReportedWithEachFormatsText) {
    ImageContainer rgb = Rgb24(64, 64);
    EXPECT_EQ(FailureText(rgb, ImageType::kGif, 1000), texts::kGifWrite);
    EXPECT_EQ(FailureText(rgb, ImageType::kPng, 100), texts::kPngSave);
    EXPECT_EQ(FailureText(rgb, ImageType::kJpeg, 100), "Output file write error --- out of disk space?");
    EXPECT_EQ(FailureText(rgb, ImageType::kPcx, 0), texts::kPcxHeader);
    EXPECT_EQ(FailureText(rgb, ImageType::kPcx, 200), texts::kWriteFailed);
    EXPECT_EQ(FailureText(rgb, ImageType::kTiff, 100), texts::kTiffSave);
    EXPECT_EQ(FailureText(rgb, ImageType::kJp2, 100), texts::kWriteFailed);
    for (ImageType type : {ImageType::kBmp, ImageType::kTga, ImageType::kPnm, ImageType::kSunRaster}) {
        EXPECT_EQ(FailureText(rgb, type, 100), texts::kWriteFailed);
    }
    // The container is still usable after a failed JPEG (libjpeg's longjmp left nothing behind).
    MemorySink sink;
    EXPECT_TRUE(rgb.Encode(&sink, ImageType::kJpeg));

    // A file that could not be written whole leaves nothing where there was nothing.
    const std::string path = TempPath("partial");
    bool saved = true;
    {
        const FileSizeLimit full(100);
        ASSERT_TRUE(full.Set());
        saved = rgb.Save(path, ImageType::kBmp);
    }
    EXPECT_FALSE(saved);
    EXPECT_EQ(rgb.GetLastError(), texts::kWriteFailed);
    EXPECT_FALSE(std::filesystem::exists(path));
}

TEST(SmallFormats, BmpAndTgaHeadersAndPixels) {
    ImageContainer rgb = Rgb24(3, 2);
    rgb.SetPixelsPerMetre(3780, 3780);
    const std::vector<uint8_t> bmp = EncodeToMemory(rgb, ImageType::kBmp);
    ASSERT_EQ(bmp.size(), 54u + 2 * 12);
    EXPECT_EQ(GetLe32(&bmp[2]), 78u);
    EXPECT_EQ(GetLe32(&bmp[10]), 54u);
    EXPECT_EQ(GetLe32(&bmp[34]), 24u);
    EXPECT_EQ(GetLe32(&bmp[38]), 3780u);
    EXPECT_EQ(GetLe32(&bmp[46]), 0u);
    ImageContainer colour8 = Indexed(5, 3, 8, false);
    const std::vector<uint8_t> bmp8 = EncodeToMemory(colour8, ImageType::kBmp);
    EXPECT_EQ(GetLe32(&bmp8[10]), 14u + 40u + 1024u);
    EXPECT_EQ(GetLe32(&bmp8[46]), 256u);

    for (ImageContainer* image : {&rgb, &colour8}) {
        const std::vector<uint8_t> tga = EncodeToMemory(*image, ImageType::kTga);
        const bool mapped = image->BitsPerPixel() == 8;
        const std::vector<uint8_t> header = {0,
                                             uint8_t(mapped),
                                             uint8_t(mapped ? 1 : 2),
                                             0,
                                             0,
                                             uint8_t(mapped ? 0 : 0),
                                             uint8_t(mapped ? 1 : 0),
                                             uint8_t(mapped ? 24 : 0),
                                             0,
                                             0,
                                             0,
                                             0,
                                             uint8_t(image->Width()),
                                             0,
                                             uint8_t(image->Height()),
                                             0,
                                             uint8_t(mapped ? 8 : 24),
                                             0};
        EXPECT_TRUE(std::equal(header.begin(), header.end(), tga.begin()));
        RgbImage decoded;
        std::string why;
        ASSERT_TRUE(DecodeTga(tga, decoded, why)) << why;
        EXPECT_EQ(MaxChannelDifference(decoded, ToRgb(*image)), 0);
    }
}

TEST(SmallFormats, IconAndWirelessBitmap) {
    ImageContainer icon = Indexed(16, 10, 4, false);
    const std::vector<uint8_t> ico = EncodeToMemory(icon, ImageType::kIco);
    const size_t xorBytes = 8 * 10, andBytes = 4 * 10;
    ASSERT_EQ(ico.size(), 22u + 40 + 64 + xorBytes + andBytes);
    EXPECT_EQ(GetLe16(&ico[2]), 1u);  // icon
    EXPECT_EQ(ico[6], 16);            // width
    EXPECT_EQ(ico[7], 10);            // height
    EXPECT_EQ(ico[8], 16);            // colours
    EXPECT_EQ(GetLe32(&ico[14]), 40u + 64 + xorBytes + andBytes);
    EXPECT_EQ(GetLe32(&ico[18]), 22u);
    EXPECT_EQ(GetLe32(&ico[22 + 8]), 20u);  // height of colour and mask rows
    EXPECT_TRUE(std::equal(icon.Pixels().begin(), icon.Pixels().end(), ico.begin() + 22 + 40 + 64));

    // 200 × 2, 1 bit: sizes as multi-byte integers, rows top first, set bit white.
    ImageContainer mono;
    ASSERT_TRUE(mono.Create(200, 2, 1));
    mono.SetPaletteEntry(0, RgbQuad{255, 255, 255, 0});  // index 0 white: bits invert
    mono.SetPixelIndex(0, 0, 1);
    const std::vector<uint8_t> wbmp = EncodeToMemory(mono, ImageType::kWbmp);
    ASSERT_EQ(wbmp.size(), 5u + 2 * 25);
    EXPECT_EQ(std::vector<uint8_t>(wbmp.begin(), wbmp.begin() + 6),
              (std::vector<uint8_t>{0, 0, 0x81, 0x48, 2, 0x7F}));
    EXPECT_EQ(wbmp[7], 0xFF);
    ImageContainer wideMono;
    ASSERT_TRUE(wideMono.Create(256, 2, 1));
    EXPECT_EQ(FailureText(wideMono, ImageType::kWbmp), texts::kWbmpSize);
}

TEST(SmallFormats, PgxPnmAndSunRaster) {
    ImageContainer grey = Indexed(3, 2, 8, true);
    const std::vector<uint8_t> pgx = EncodeToMemory(grey, ImageType::kPgx);
    const std::string pgxHeader = "PG ML + 8 3 2\n";
    ASSERT_EQ(pgx.size(), pgxHeader.size() + 6);
    EXPECT_EQ(std::string(pgx.begin(), pgx.begin() + 14), pgxHeader);
    EXPECT_EQ(std::vector<uint8_t>(pgx.begin() + 14, pgx.end()), (std::vector<uint8_t>{0, 1, 2, 2, 3, 4}));

    const std::vector<uint8_t> pgm = EncodeToMemory(grey, ImageType::kPnm);
    EXPECT_EQ(std::string(pgm.begin(), pgm.begin() + 11), "P5\n3 2\n255\n");
    ImageContainer rgb = Rgb24(3, 2);
    const std::vector<uint8_t> ppm = EncodeToMemory(rgb, ImageType::kPnm);
    ASSERT_EQ(ppm.size(), 11u + 18);
    const RgbImage expected = ToRgb(rgb);
    EXPECT_TRUE(std::equal(expected.rgb.begin(), expected.rgb.end(), ppm.begin() + 11));

    // Sun raster: big-endian header, rows padded to 16 bits, 24-bit pixels blue-green-red.
    const std::vector<uint8_t> ras = EncodeToMemory(rgb, ImageType::kSunRaster);
    ASSERT_EQ(ras.size(), 32u + 2 * 10);
    const std::vector<uint8_t> header = {0x59, 0xA6, 0x6A, 0x95, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 24,
                                         0,    0,    0,    20,   0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(std::equal(header.begin(), header.end(), ras.begin()));
    const RgbQuad topRight = rgb.GetPixelColour(2, 0);
    EXPECT_EQ(ras[32 + 6], topRight.blue);
    EXPECT_EQ(ras[32 + 8], topRight.red);
    EXPECT_EQ(ras[32 + 9], 0);  // padding
    const std::vector<uint8_t> greyRas = EncodeToMemory(grey, ImageType::kSunRaster);
    EXPECT_EQ(greyRas.size(), 32u + 768 + 2 * 4);
    EXPECT_EQ(GetLe32(&greyRas[24]), 0x01000000u);  // map type 1 (big-endian)
}

}  // namespace
}  // namespace dravix::test
