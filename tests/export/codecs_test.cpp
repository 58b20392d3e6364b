// JPEG, PNG, TIFF and JPEG-2000, read back with the libraries' own decoders.
#include <gtest/gtest.h>

#include <tiff.h>

#include "TestDecoders.h"
#include "base/ByteOrder.h"

namespace dravix::test {
namespace {

ImageContainer Smooth24(uint32_t width, uint32_t height) {
    ImageContainer image;
    EXPECT_TRUE(image.Create(width, height, 24));
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) {
            image.SetPixelColour(x, y, RgbQuad{uint8_t(2 * x), uint8_t(100 + y), uint8_t(200 - x), 0});
        }
    }
    return image;
}

ImageContainer Palette8(uint32_t width, uint32_t height, bool grey) {
    ImageContainer image;
    EXPECT_TRUE(image.Create(width, height, 8));
    for (size_t i = 0; i < 256; ++i) {
        const auto v = static_cast<uint8_t>(i);
        image.SetPaletteEntry(i,
                              grey ? RgbQuad{v, v, v, 0} : RgbQuad{uint8_t(v * 3), v, uint8_t(255 - v), 0});
    }
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) image.SetPixelIndex(x, y, uint8_t(x * 5 + y * 3));
    }
    return image;
}

// A capture read back: 24 bits, pixels per metre 0, so 0 dots per inch.
ImageContainer CaptureLike(uint32_t width, uint32_t height) {
    ImageContainer image = Smooth24(width, height);
    const std::string path = TempPath("capture_like.bmp");
    EXPECT_TRUE(image.Save(path, ImageType::kBmp));
    ImageContainer loaded(path, ImageType::kBmp);
    std::remove(path.c_str());
    EXPECT_EQ(loaded.DpiX(), 0);
    return loaded;
}

TEST(Jpeg, CarriesJfifDensityAndDecodesCloseToTheSource) {
    ImageContainer capture = CaptureLike(61, 37);
    RgbImage decoded;
    JpegInfo info;
    ASSERT_TRUE(DecodeJpeg(EncodeToMemory(capture, ImageType::kJpeg), decoded, info));
    EXPECT_EQ(info.components, 3);
    EXPECT_TRUE(info.jfif);
    EXPECT_EQ(info.densityUnit, 1);
    EXPECT_EQ(info.xDensity, 0);
    EXPECT_EQ(info.yDensity, 0);
    EXPECT_LE(MaxChannelDifference(decoded, ToRgb(capture)), 12);

    ImageContainer fresh = Smooth24(8, 8);  // 96 dpi until an image is read
    ASSERT_TRUE(DecodeJpeg(EncodeToMemory(fresh, ImageType::kJpeg), decoded, info));
    EXPECT_EQ(info.xDensity, 96);

    // A grey-ramp table is written as one grey component.
    ImageContainer grey = Palette8(40, 24, true);
    ASSERT_TRUE(DecodeJpeg(EncodeToMemory(grey, ImageType::kJpeg), decoded, info));
    EXPECT_EQ(info.components, 1);
    EXPECT_LE(MaxChannelDifference(decoded, ToRgb(grey)), 24);
}

TEST(Png, TrueColourChunksAndExactPixels) {
    ImageContainer capture = CaptureLike(33, 17);
    const std::vector<uint8_t> png = EncodeToMemory(capture, ImageType::kPng);
    const std::vector<PngChunk> chunks = PngChunks(png);
    ASSERT_FALSE(chunks.empty());
    EXPECT_EQ(chunks.front().type, "IHDR");
    EXPECT_EQ(std::vector<uint8_t>(chunks.front().data.begin() + 8, chunks.front().data.end()),
              (std::vector<uint8_t>{8, 2, 0, 0, 0}));
    EXPECT_EQ(chunks.back().type, "IEND");
    auto find = [&](const std::vector<PngChunk>& list, const std::string& type) {
        const auto it =
            std::find_if(list.begin(), list.end(), [&](const PngChunk& c) { return c.type == type; });
        return it == list.end() ? std::vector<uint8_t>{} : it->data;
    };
    EXPECT_EQ(find(chunks, "bKGD"), (std::vector<uint8_t>{0, 255, 0, 255, 0, 255}));
    EXPECT_EQ(find(chunks, "pHYs"), (std::vector<uint8_t>{0, 0, 0, 0, 0, 0, 0, 0, 1}));
    RgbImage decoded;
    ASSERT_TRUE(DecodePng(png, decoded));
    EXPECT_EQ(MaxChannelDifference(decoded, ToRgb(capture)), 0);

    capture.SetPixelsPerMetre(3780, 2835);
    EXPECT_EQ(find(PngChunks(EncodeToMemory(capture, ImageType::kPng)), "pHYs"),
              (std::vector<uint8_t>{0, 0, 0x0E, 0xC4, 0, 0, 0x0B, 0x13, 1}));
}

TEST(Png, PaletteImagesKeepOnlyTheEntriesUsed) {
    ImageContainer small;
    ASSERT_TRUE(small.Create(10, 4, 4));
    for (size_t i = 0; i < 16; ++i) small.SetPaletteEntry(i, RgbQuad{uint8_t(i * 16), 0, 255, 0});
    small.SetPaletteEntry(5, RgbQuad{255, 255, 255, 0});
    for (uint32_t x = 0; x < 10; ++x) small.SetPixelIndex(x, 1, uint8_t(x % 6));  // highest index 5
    const std::vector<uint8_t> png = EncodeToMemory(small, ImageType::kPng);
    const std::vector<PngChunk> chunks = PngChunks(png);
    EXPECT_EQ(std::vector<uint8_t>(chunks[0].data.begin() + 8, chunks[0].data.begin() + 10),
              (std::vector<uint8_t>{4, 3}));
    for (const PngChunk& c : chunks) {
        if (c.type == "PLTE") {
            EXPECT_EQ(c.data.size(), 6u * 3);
        }
        if (c.type == "bKGD") {
            EXPECT_EQ(c.data, std::vector<uint8_t>{5});  // the white entry
        }
    }
    RgbImage decoded;
    ASSERT_TRUE(DecodePng(png, decoded));
    EXPECT_EQ(MaxChannelDifference(decoded, ToRgb(small)), 0);

    ImageContainer large = Palette8(300, 300, false);  // 90,000 pixels: no search
    const std::vector<PngChunk> largeChunks = PngChunks(EncodeToMemory(large, ImageType::kPng));
    for (const PngChunk& c : largeChunks) {
        if (c.type == "PLTE") {
            EXPECT_EQ(c.data.size(), 256u * 3);
        }
    }
}

TEST(Tiff, TrueColourIsJpegCompressedWithTheStatedTags) {
    ImageContainer image = Smooth24(100, 70);
    image.SetDpi(150, 150);
    RgbImage decoded;
    TiffInfo info;
    ASSERT_TRUE(DecodeTiff(EncodeToMemory(image, ImageType::kTiff), decoded, info));
    EXPECT_EQ(info.compression, COMPRESSION_JPEG);
    EXPECT_EQ(info.photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(info.samplesPerPixel, 3);
    EXPECT_EQ(info.rowsPerStrip % 8, 0u);
    EXPECT_GT(info.rowsPerStrip, 0u);
    EXPECT_EQ(info.xResolution, 150.0f);
    EXPECT_EQ(info.resolutionUnit, RESUNIT_INCH);
    EXPECT_EQ(info.orientation, ORIENTATION_TOPLEFT);
    EXPECT_EQ(info.planar, PLANARCONFIG_CONTIG);
    EXPECT_EQ(info.subfileType, 0u);
    EXPECT_LE(MaxChannelDifference(decoded, ToRgb(image)), 12);
}

TEST(Tiff, IndexedFormsDecodeExactly) {
    struct Case {
        ImageContainer image;
        uint16_t compression, photometric, predictor;
    };
    ImageContainer mono;
    EXPECT_TRUE(mono.Create(45, 9, 1));
    mono.SetPaletteEntry(1, RgbQuad{255, 255, 255, 0});
    for (uint32_t x = 0; x < 45; x += 3) mono.SetPixelIndex(x, x % 9, 1);
    ImageContainer monoInverted = mono;
    monoInverted.SetPaletteEntry(0, RgbQuad{255, 255, 255, 0});
    monoInverted.SetPaletteEntry(1, RgbQuad{0, 0, 0, 0});
    ImageContainer nibble;
    EXPECT_TRUE(nibble.Create(9, 4, 4));
    for (size_t i = 0; i < 16; ++i) nibble.SetPaletteEntry(i, RgbQuad{uint8_t(i * 9), uint8_t(i), 77, 0});
    for (uint32_t x = 0; x < 9; ++x) nibble.SetPixelIndex(x, x % 4, uint8_t(x));
    std::vector<Case> cases;
    cases.push_back({Palette8(31, 12, false), COMPRESSION_LZW, PHOTOMETRIC_PALETTE, PREDICTOR_HORIZONTAL});
    cases.push_back({Palette8(31, 12, true), COMPRESSION_LZW, PHOTOMETRIC_MINISBLACK, PREDICTOR_HORIZONTAL});
    cases.push_back({nibble, COMPRESSION_LZW, PHOTOMETRIC_PALETTE, PREDICTOR_NONE});
    cases.push_back({mono, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, PREDICTOR_NONE});
    cases.push_back({monoInverted, COMPRESSION_CCITTFAX4, PHOTOMETRIC_MINISWHITE, PREDICTOR_NONE});
    for (size_t i = 0; i < cases.size(); ++i) {
        RgbImage decoded;
        TiffInfo info;
        ASSERT_TRUE(DecodeTiff(EncodeToMemory(cases[i].image, ImageType::kTiff), decoded, info)) << i;
        EXPECT_EQ(info.compression, cases[i].compression) << i;
        EXPECT_EQ(info.photometric, cases[i].photometric) << i;
        if (info.compression == COMPRESSION_LZW) {
            EXPECT_EQ(info.predictor, cases[i].predictor) << i;
        }
        EXPECT_EQ(MaxChannelDifference(decoded, ToRgb(cases[i].image)), 0) << i;
        if (info.photometric == PHOTOMETRIC_PALETTE) {
            EXPECT_EQ(info.colourMapRed[3], 257 * cases[i].image.Palette()[3].red) << i;
        }
    }
}

TEST(Jpeg2000, FileAndCodeStreamAreLossless) {
    for (bool codeStream : {false, true}) {
        for (auto [width, height] : std::vector<std::pair<uint32_t, uint32_t>>{{57, 40}, {3, 2}, {1, 1}}) {
            ImageContainer image = Smooth24(width, height);
            const std::vector<uint8_t> bytes =
                EncodeToMemory(image, codeStream ? ImageType::kJpc : ImageType::kJp2);
            ASSERT_GT(bytes.size(), 12u);
            if (codeStream) {
                EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4),
                          (std::vector<uint8_t>{0xFF, 0x4F, 0xFF, 0x51}));
            } else {
                EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 8), "jP  ");
            }
            RgbImage decoded;
            Jpeg2000Info info;
            ASSERT_TRUE(DecodeJpeg2000(bytes, codeStream, decoded, info)) << width;
            EXPECT_EQ(info.components, 3u);
            EXPECT_EQ(info.precision, 8u);
            EXPECT_EQ(MaxChannelDifference(decoded, ToRgb(image)), 0) << width;
        }
    }
    ImageContainer grey = Palette8(20, 20, true);
    RgbImage decoded;
    Jpeg2000Info info;
    ASSERT_TRUE(DecodeJpeg2000(EncodeToMemory(grey, ImageType::kJp2), false, decoded, info));
    EXPECT_EQ(info.components, 1u);
    EXPECT_EQ(MaxChannelDifference(decoded, ToRgb(grey)), 0);
}

}  // namespace
}  // namespace dravix::test
