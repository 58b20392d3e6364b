// GIF (tile mosaic, single image, LZW) and PCX (header, run-length rules), decoded by the tests'
// own decoders.
#include <gtest/gtest.h>

#include <random>

#include "TestDecoders.h"
#include "base/ByteOrder.h"

namespace dravix::test {
namespace {

GifFile DecodeGifOrFail(ImageContainer& image) {
    GifFile gif;
    std::string why;
    EXPECT_TRUE(DecodeGif(EncodeToMemory(image, ImageType::kGif), gif, why)) << why;
    return gif;
}

ImageContainer RandomIndexed(uint32_t width, uint32_t height, unsigned bits, unsigned seed) {
    ImageContainer image;
    EXPECT_TRUE(image.Create(width, height, bits));
    std::mt19937 random(seed);
    for (size_t i = 0; i < image.Palette().size(); ++i) {
        image.SetPaletteEntry(i, RgbQuad{uint8_t(random()), uint8_t(random()), uint8_t(random()), 0});
    }
    for (uint32_t y = 0; y < height; ++y) {
        for (uint32_t x = 0; x < width; ++x) image.SetPixelIndex(x, y, uint8_t(random() % (1u << bits)));
    }
    return image;
}

TEST(Gif, TrueColourImageBecomesAMosaicOf17By15Tiles) {
    ImageContainer image;
    ASSERT_TRUE(image.Create(35, 16, 24));
    FillTestPattern(image);
    // Two pixels of one colour in the first tile: both take the lower entry.
    image.SetPixelColour(3, 14, RgbQuad{1, 2, 3, 0});  // tile row 0, column 3: entry 4
    image.SetPixelColour(5, 2, RgbQuad{1, 2, 3, 0});   // tile row 12, column 5: entry 210
    image.SetPixelColour(6, 2, RgbQuad{0, 0, 0, 0});   // black: entry 0
    image.SetGifComment("Dravix");
    const GifFile gif = DecodeGifOrFail(image);

    EXPECT_EQ(gif.packed, 0x11);
    EXPECT_TRUE(gif.globalTable.empty());
    EXPECT_EQ(gif.comments, std::vector<std::string>{"Dravix"});
    ASSERT_EQ(gif.frames.size(), 6u);
    const std::vector<std::array<uint32_t, 4>> expected = {{0, 0, 17, 15}, {17, 0, 17, 15}, {34, 0, 1, 15},
                                                           {0, 15, 17, 1}, {17, 15, 17, 1}, {34, 15, 1, 1}};
    for (size_t i = 0; i < 6; ++i) {
        const GifFrame& f = gif.frames[i];
        EXPECT_EQ((std::array<uint32_t, 4>{f.left, f.top, f.width, f.height}), expected[i]) << i;
        EXPECT_EQ(f.packed, 0x87);
        EXPECT_EQ(f.minCodeSize, 8u);
        EXPECT_EQ(f.controlExtension, (std::vector<uint8_t>{0x21, 0xF9, 4, 0, 0, 0, 0xFF, 0}));
        EXPECT_TRUE(f.firstCodeWasClear && f.endedWithEoi);
    }
    EXPECT_EQ(MaxChannelDifference(gif.canvas, ToRgb(image)), 0);

    const GifFrame& first = gif.frames[0];
    const RgbQuad bottomLeft = image.GetPixelColour(0, 14);
    const RgbQuad aboveIt = image.GetPixelColour(0, 13);
    EXPECT_EQ((std::vector<uint8_t>(first.localTable.begin() + 3, first.localTable.begin() + 6)),
              (std::vector<uint8_t>{bottomLeft.red, bottomLeft.green, bottomLeft.blue}));
    EXPECT_EQ(first.localTable[18 * 3], aboveIt.red);
    EXPECT_EQ(first.indices[14 * 17 + 3], 4);
    EXPECT_EQ(first.indices[2 * 17 + 5], 4);
    EXPECT_EQ(first.indices[2 * 17 + 6], 0);
    // The one-pixel-wide tile fills entries 1, 18, 35 ...; everything else stays 0.
    const GifFrame& narrow = gif.frames[2];
    EXPECT_EQ(std::count(narrow.localTable.begin() + 3 * 2, narrow.localTable.begin() + 3 * 18, 0), 3 * 16);
}

TEST(Gif, IndexedImagesUseOneImageWithAGlobalTable) {
    for (const auto& [bits, packed, minCode] :
         std::vector<std::array<unsigned, 3>>{{1, 0x80, 2}, {4, 0xE3, 4}, {8, 0xE7, 8}}) {
        ImageContainer image = RandomIndexed(23, 11, bits, bits);
        const GifFile gif = DecodeGifOrFail(image);
        EXPECT_EQ(gif.packed, packed);
        EXPECT_EQ(gif.globalTable.size(), 3u << bits);
        EXPECT_TRUE(gif.comments.empty());
        ASSERT_EQ(gif.frames.size(), 1u);
        EXPECT_EQ(gif.frames[0].packed, 0);
        EXPECT_EQ(gif.frames[0].minCodeSize, minCode);
        EXPECT_EQ(MaxChannelDifference(gif.canvas, ToRgb(image)), 0) << bits;
    }
}

TEST(Gif, LzwCodesLongDataAcrossTableResets) {
    // Noise fills the table repeatedly (clear codes, 12-bit codes); a flat image makes long strings.
    ImageContainer noise = RandomIndexed(300, 200, 8, 7);
    const GifFile noisy = DecodeGifOrFail(noise);
    ASSERT_EQ(noisy.frames.size(), 1u);
    EXPECT_GT(noisy.frames[0].clearCodes, 5u);
    EXPECT_EQ(noisy.frames[0].widestCode, 12u);
    EXPECT_EQ(noisy.largestSubBlock, 254u);
    EXPECT_EQ(MaxChannelDifference(noisy.canvas, ToRgb(noise)), 0);

    ImageContainer flat;
    ASSERT_TRUE(flat.Create(1000, 300, 4));
    const GifFile flatGif = DecodeGifOrFail(flat);
    EXPECT_EQ(MaxChannelDifference(flatGif.canvas, ToRgb(flat)), 0);
    ImageContainer dot = RandomIndexed(1, 1, 1, 3);
    EXPECT_EQ(MaxChannelDifference(DecodeGifOrFail(dot).canvas, ToRgb(dot)), 0);
}

PcxFile DecodePcxOrFail(ImageContainer& image) {
    PcxFile pcx;
    std::string why;
    EXPECT_TRUE(DecodePcx(EncodeToMemory(image, ImageType::kPcx), pcx, why)) << why;
    return pcx;
}

TEST(Pcx, HeaderOfACaptureLikeImage) {
    ImageContainer image;
    ASSERT_TRUE(image.Create(3, 2, 24));
    image.SetDpi(0, 0);
    const PcxFile pcx = DecodePcxOrFail(image);
    std::vector<uint8_t> expected = {10, 5, 1, 8, 0, 0, 0, 0, 2, 0, 1, 0, 0, 0, 0, 0};
    expected.resize(128, 0);
    expected[65] = 3;  // planes
    expected[66] = 4;  // bytes per line: 3 rounded up to even
    EXPECT_EQ(pcx.header, expected);
    for (const auto& line : pcx.coded) EXPECT_EQ(line.back(), 0);  // odd width: fill byte
}

TEST(Pcx, RunLengthRules) {
    // 70 red values of 5 in the top line: 63 + 7.
    ImageContainer wide;
    ASSERT_TRUE(wide.Create(70, 2, 24));
    for (uint32_t x = 0; x < 70; ++x) wide.SetPixelColour(x, 0, RgbQuad{0, 0, 5, 0});
    EXPECT_EQ(DecodePcxOrFail(wide).coded[0], (std::vector<uint8_t>{0xFF, 0x05, 0xC7, 0x05}));

    // One pixel wide: red 0xC5 must be coded as a run; green 0x40 stands alone; each gets a fill 0.
    ImageContainer narrow;
    ASSERT_TRUE(narrow.Create(1, 1, 24));
    narrow.SetPixelColour(0, 0, RgbQuad{0x00, 0x40, 0xC5, 0});
    const PcxFile pcx = DecodePcxOrFail(narrow);
    EXPECT_EQ(pcx.coded[0], (std::vector<uint8_t>{0xC1, 0xC5, 0x00}));
    EXPECT_EQ(pcx.coded[1], (std::vector<uint8_t>{0x40, 0x00}));
}

TEST(Pcx, EveryDepthDecodesToTheSamePixels) {
    ImageContainer rgb;
    ASSERT_TRUE(rgb.Create(131, 9, 24));
    FillTestPattern(rgb);
    for (uint32_t x = 0; x < 131; ++x)
        rgb.SetPixelColour(x, 3, RgbQuad{0xC0, 0xC0, uint8_t(x < 64 ? 0xFF : x)});
    EXPECT_EQ(MaxChannelDifference(DecodePcxOrFail(rgb).image, ToRgb(rgb)), 0);

    for (unsigned bits : {1u, 4u, 8u}) {
        ImageContainer image = RandomIndexed(37, 5, bits, 11 + bits);
        if (bits == 1) {
            // Mono PCX files read a set bit as white: a white-first table must still come out right.
            image.SetPaletteEntry(0, RgbQuad{255, 255, 255, 0});
            image.SetPaletteEntry(1, RgbQuad{0, 0, 0, 0});
        }
        const PcxFile pcx = DecodePcxOrFail(image);
        EXPECT_EQ(pcx.planes, bits == 4 ? 4u : 1u);
        EXPECT_EQ(pcx.bytesPerLine, bits == 8 ? 38u : 6u);
        EXPECT_EQ(MaxChannelDifference(pcx.image, ToRgb(image)), 0) << bits;
    }
}

}  // namespace
}  // namespace dravix::test
