// The BMP reader, Load's fallback rules, the capture BMP, and file-name mapping.
#include <gtest/gtest.h>

#include <random>

#include "TestDecoders.h"
#include "export/ByteSink.h"
#include "export/ByteSource.h"
#include "export/CaptureBmp.h"
#include "export/FieldWriter.h"
#include "export/ImageTexts.h"

namespace dravix::test {
namespace {

struct BmpSpec {
    bool fileHeader = true;
    uint32_t headerSize = 40;
    int32_t width = 2;
    int32_t height = 2;
    unsigned bits = 24;
    uint32_t compression = 0;
    uint32_t clrUsed = 0;
    int32_t ppm = 0;
    std::vector<uint32_t> masks{};   // written after a 40-byte header
    std::vector<uint8_t> palette{};  // raw entries (3 or 4 bytes each)
    std::vector<uint8_t> pixels{};
    int64_t offBits = -1;  // -1: right after the palette
};

std::vector<uint8_t> MakeBmp(const BmpSpec& s) {
    std::vector<uint8_t> info;
    FieldWriter w(info);
    if (s.headerSize == 12) {
        w.Le32(12)
            .Le16(static_cast<unsigned>(s.width))
            .Le16(static_cast<unsigned>(s.height))
            .Le16(1)
            .Le16(s.bits);
    } else {
        w.Le32(s.headerSize)
            .Le32(static_cast<uint32_t>(s.width))
            .Le32(static_cast<uint32_t>(s.height))
            .Le16(1);
        w.Le16(s.bits).Le32(s.compression).Le32(0).Le32(static_cast<uint32_t>(s.ppm));
        w.Le32(static_cast<uint32_t>(s.ppm))
            .Le32(s.clrUsed)
            .Le32(0)
            .Zeros(s.headerSize > 40 ? s.headerSize - 40 : 0);
    }
    for (uint32_t m : s.masks) w.Le32(m);
    w.Bytes(s.palette.data(), s.palette.size());
    std::vector<uint8_t> file;
    const size_t headerBytes = s.fileHeader ? 14 : 0;
    const uint32_t offset =
        s.offBits >= 0 ? static_cast<uint32_t>(s.offBits) : static_cast<uint32_t>(headerBytes + info.size());
    if (s.fileHeader) FieldWriter(file).U8('B').U8('M').Le32(0).Le32(0).Le32(offset);
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), s.pixels.begin(), s.pixels.end());
    return file;
}

bool Read(const std::vector<uint8_t>& bytes, ImageContainer& image) {
    MemorySource source(bytes);
    return image.Decode(source, ImageType::kBmp);
}

std::string ReadError(const std::vector<uint8_t>& bytes) {
    ImageContainer image;
    EXPECT_FALSE(Read(bytes, image));
    EXPECT_FALSE(image.IsValid());
    return image.GetLastError();
}

std::array<uint8_t, 3> Rgb(const ImageContainer& image, uint32_t x, uint32_t y) {
    const RgbQuad c = image.GetPixelColour(x, y);
    return {c.red, c.green, c.blue};
}

TEST(BmpReader, RoundTripsEveryDepthWithPaletteAndResolution) {
    for (unsigned bits : {1u, 4u, 8u, 24u}) {
        ImageContainer image;
        ASSERT_TRUE(image.Create(13, 5, bits));
        for (size_t i = 0; i < image.Palette().size(); ++i) {
            image.SetPaletteEntry(i, RgbQuad{uint8_t(i), uint8_t(255 - i), uint8_t(i * 7), 0});
        }
        if (bits == 24) FillTestPattern(image);
        for (uint32_t y = 0; y < 5 && bits != 24; ++y) {
            for (uint32_t x = 0; x < 13; ++x) image.SetPixelIndex(x, y, uint8_t((x * 3 + y) % (1u << bits)));
        }
        image.SetPixelsPerMetre(3780, 2835);
        ImageContainer back;
        ASSERT_TRUE(Read(EncodeToMemory(image, ImageType::kBmp), back)) << bits;
        EXPECT_EQ(back.BitsPerPixel(), bits);
        EXPECT_TRUE(std::equal(back.Palette().begin(), back.Palette().end(), image.Palette().begin()));
        EXPECT_EQ(MaxChannelDifference(ToRgb(back), ToRgb(image)), 0);
        EXPECT_EQ(back.DpiX(), 96);  // floor(3780 × 0.0254 + 0.5)
        EXPECT_EQ(back.DpiY(), 72);
        EXPECT_EQ(back.Header().xPelsPerMeter, 3780);
    }
}

TEST(BmpReader, NormalisesDepthsAndLayouts) {
    // 12-byte core header with 3-byte colour entries.
    ImageContainer core;
    ASSERT_TRUE(Read(MakeBmp({.headerSize = 12,
                              .width = 2,
                              .height = 1,
                              .bits = 8,
                              .palette = std::vector<uint8_t>(256 * 3, 9),
                              .pixels = {0, 0, 0, 0}}),
                     core));
    EXPECT_EQ(core.Palette()[255], (RgbQuad{9, 9, 9, 0}));

    // 2 bits become 4 bits; the four entries keep their order.
    std::vector<uint8_t> palette2 = {0, 0, 0, 0, 10, 10, 10, 0, 20, 20, 20, 0, 30, 30, 30, 0};
    ImageContainer two;
    ASSERT_TRUE(Read(
        MakeBmp({.width = 4, .height = 1, .bits = 2, .palette = palette2, .pixels = {0x1B, 0, 0, 0}}), two));
    EXPECT_EQ(two.BitsPerPixel(), 4u);
    for (uint32_t x = 0; x < 4; ++x) EXPECT_EQ(two.GetPixelIndex(x, 0), x);

    // 16 bits: 5-5-5 by default, any masks with compression 3; channels land in the top bits.
    ImageContainer rgb555, rgb565;
    ASSERT_TRUE(
        Read(MakeBmp({.width = 2, .height = 1, .bits = 16, .pixels = {0x00, 0x7C, 0xFF, 0x7F}}), rgb555));
    EXPECT_EQ(Rgb(rgb555, 0, 0), (std::array<uint8_t, 3>{248, 0, 0}));
    EXPECT_EQ(Rgb(rgb555, 1, 0), (std::array<uint8_t, 3>{248, 248, 248}));
    ASSERT_TRUE(Read(MakeBmp({.width = 2,
                              .height = 1,
                              .bits = 16,
                              .compression = 3,
                              .masks = {0xF800, 0x07E0, 0x001F},
                              .pixels = {0xE0, 0x07, 0x1F, 0x00}}),
                     rgb565));
    EXPECT_EQ(Rgb(rgb565, 0, 0), (std::array<uint8_t, 3>{0, 252, 0}));
    EXPECT_EQ(Rgb(rgb565, 1, 0), (std::array<uint8_t, 3>{0, 0, 248}));

    // 32 bits: blue, green, red kept, fourth byte dropped; or through masks.
    ImageContainer plain32, masked32;
    ASSERT_TRUE(Read(MakeBmp({.width = 1, .height = 1, .bits = 32, .pixels = {1, 2, 3, 4}}), plain32));
    EXPECT_EQ(Rgb(plain32, 0, 0), (std::array<uint8_t, 3>{3, 2, 1}));
    ASSERT_TRUE(Read(MakeBmp({.width = 1,
                              .height = 1,
                              .bits = 32,
                              .compression = 3,
                              .masks = {0xFF000000, 0x00FF0000, 0x0000FF00},
                              .pixels = {4, 3, 2, 1}}),
                     masked32));
    EXPECT_EQ(Rgb(masked32, 0, 0), (std::array<uint8_t, 3>{1, 2, 3}));

    // Top-down rows (negative height) and a bare info header without "BM".
    const std::vector<uint8_t> twoRows = {1, 1, 1, 0, 2, 2, 2, 0};
    ImageContainer topDown, bare;
    ASSERT_TRUE(Read(MakeBmp({.width = 1, .height = -2, .pixels = twoRows}), topDown));
    EXPECT_EQ(Rgb(topDown, 0, 0)[0], 1);
    ASSERT_TRUE(Read(MakeBmp({.fileHeader = false, .width = 1, .height = 2, .pixels = twoRows}), bare));
    EXPECT_EQ(Rgb(bare, 0, 0)[0], 2);
}

TEST(BmpReader, DecodesRunLengthFiles) {
    std::vector<uint8_t> grey(256 * 4);
    for (int i = 0; i < 256; ++i) grey[i * 4] = grey[i * 4 + 1] = grey[i * 4 + 2] = uint8_t(i);
    // Bottom row: run of 3 × 7, absolute 5 8 9 (padded), end of line; next row: delta (2, 0) then
    // run of 2 × 4, end of bitmap.
    ImageContainer rle8;
    ASSERT_TRUE(Read(MakeBmp({.width = 6,
                              .height = 2,
                              .bits = 8,
                              .compression = 1,
                              .palette = grey,
                              .pixels = {3, 7, 0, 3, 5, 8, 9, 0, 0, 0, 0, 2, 2, 0, 2, 4, 0, 1}}),
                     rle8));
    const std::vector<uint8_t> bottom = {7, 7, 7, 5, 8, 9}, top = {0, 0, 4, 4, 0, 0};
    for (uint32_t x = 0; x < 6; ++x) {
        EXPECT_EQ(rle8.GetPixelIndex(x, 1), bottom[x]) << x;
        EXPECT_EQ(rle8.GetPixelIndex(x, 0), top[x]) << x;
    }
    // RLE4: run of 5 alternating 1,2; absolute 3 pixels 0xAB 0xC0 (padded to a word); end.
    ImageContainer rle4;
    ASSERT_TRUE(Read(MakeBmp({.width = 8,
                              .height = 1,
                              .bits = 4,
                              .compression = 2,
                              .palette = std::vector<uint8_t>(64, 0),
                              .pixels = {5, 0x12, 0, 3, 0xAB, 0xC0, 0, 1}}),
                     rle4));
    const std::vector<uint8_t> expected = {1, 2, 1, 2, 1, 0xA, 0xB, 0xC};
    for (uint32_t x = 0; x < 8; ++x) EXPECT_EQ(rle4.GetPixelIndex(x, 0), expected[x]) << x;
}

TEST(BmpReader, RejectsMalformedFilesWithTheReadersTexts) {
    EXPECT_EQ(ReadError({'B', 'M', 1, 2, 3}), texts::kNotBmp);
    std::vector<uint8_t> truncatedInfo = MakeBmp({});
    truncatedInfo.resize(30);
    EXPECT_EQ(ReadError(truncatedInfo), texts::kBmpInfo);
    const std::vector<uint8_t> row = {0, 0, 0, 0, 0, 0, 0, 0};
    const std::vector<BmpSpec> bad = {
        {.headerSize = 20, .pixels = row},                           // unknown header size
        {.width = 0, .pixels = row},                                 // no width
        {.height = 0, .pixels = row},                                // no height
        {.bits = 3, .pixels = row},                                  // no such depth
        {.bits = 24, .compression = 1, .pixels = row},               // RLE8 needs 8 bits
        {.height = -2, .bits = 8, .compression = 1, .pixels = row},  // top-down RLE
        {.width = 100000, .height = 100000, .pixels = row},          // pixels far beyond the file
        {.pixels = row, .offBits = 4000},                            // pixel offset beyond the file
        {.pixels = row, .offBits = 20},                              // pixel offset inside the header
        {.width = 4, .height = 4, .pixels = row},                    // truncated rows
        {.bits = 8, .clrUsed = 256, .palette = std::vector<uint8_t>(40, 0)},  // truncated table
        {.bits = 8,
         .compression = 1,
         .palette = std::vector<uint8_t>(1024, 0),
         .pixels = {2, 1, 0}},  // data ends
    };
    for (size_t i = 0; i < bad.size(); ++i)
        EXPECT_EQ(ReadError(MakeBmp(bad[i])), texts::kBmpInfo) << "case " << i;
    // A tiny RLE file claiming 60000 × 60000 pixels is refused before any allocation.
    EXPECT_EQ(ReadError(MakeBmp({.width = 60000,
                                 .height = 60000,
                                 .bits = 8,
                                 .compression = 1,
                                 .palette = std::vector<uint8_t>(1024, 0),
                                 .pixels = {0, 1}})),
              texts::kNoMemory);
}

TEST(BmpReader, SurvivesRandomDamage) {
    ImageContainer source;
    ASSERT_TRUE(source.Create(9, 7, 8));
    const std::vector<uint8_t> good = EncodeToMemory(source, ImageType::kBmp);
    std::mt19937 random(12345);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = good;
        const int damage = 1 + round % 4;
        for (int i = 0; i < damage; ++i) {
            bytes[random() % 60] = static_cast<uint8_t>(random());  // headers and table start
        }
        if (round % 7 == 0) bytes.resize(random() % bytes.size());
        ImageContainer image;
        if (!Read(bytes, image)) {
            const std::string error = image.GetLastError();
            EXPECT_TRUE(error == texts::kNotBmp || error == texts::kBmpInfo || error == texts::kNoMemory)
                << error;
        }
    }
}

TEST(ContainerLoad, FallsBackToTheBmpReaderAndKeepsTextsOnOpenFailure) {
    const std::string path = TempPath("load.png");
    ImageContainer source;
    ASSERT_TRUE(source.Create(3, 3, 24));
    ASSERT_TRUE(source.Save(path, ImageType::kBmp));
    // A BMP named .png: the PNG attempt fails, automatic detection reads it.
    ImageContainer image(path, ImageType::kPng);
    EXPECT_TRUE(image.IsValid());

    WriteFile(path, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16});
    EXPECT_FALSE(image.Load(path, ImageType::kPng));
    EXPECT_FALSE(image.OpenFailed());
    EXPECT_EQ(image.GetLastError(), texts::kBmpInfo);

    image.SetLastError("earlier");
    EXPECT_FALSE(image.Load(TempPath("missing.bmp"), ImageType::kBmp));
    EXPECT_TRUE(image.OpenFailed());
    EXPECT_EQ(image.GetLastError(), "earlier");
    EXPECT_FALSE(image.Load("/tmp", ImageType::kBmp));  // a folder is not a readable file
    EXPECT_TRUE(image.OpenFailed());
    std::remove(path.c_str());
}

TEST(CaptureBmp, WritesTheCaptureHeaderAndReadsBackAs24Bit) {
    // 3 × 2 pixels, 32 bits, top row first as a QImage holds them.
    const std::vector<uint8_t> memory = {1,  2,  3,  0, 4,  5,  6,  0, 7,  8,  9,  0,
                                         11, 12, 13, 0, 14, 15, 16, 0, 17, 18, 19, 0};
    const CaptureBitmap bitmap{3, 2, 32, memory.data(), 12, true, {}};
    const auto info = BuildBitmapInfo(bitmap);
    ASSERT_TRUE(info.has_value());
    MemorySink captureFile;
    ASSERT_TRUE(WriteBmpFile(captureFile, *info, bitmap));
    const std::vector<uint8_t>& file = captureFile.Bytes();
    ASSERT_EQ(file.size(), 54u + 24u);
    EXPECT_EQ(GetLe32(&file[2]), 78u);   // file size
    EXPECT_EQ(GetLe32(&file[10]), 54u);  // pixel offset
    EXPECT_EQ(GetLe16(&file[28]), 32u);  // bits per pixel
    EXPECT_EQ(GetLe32(&file[34]), 24u);  // image size
    EXPECT_EQ(GetLe32(&file[38]) | GetLe32(&file[42]) | GetLe32(&file[46]), 0u);
    EXPECT_EQ(file[54], 11);  // bottom row first

    MemorySource readBack(file);
    ImageContainer image;
    ASSERT_TRUE(image.Load(readBack, ImageType::kJpeg));  // no JPEG reader: the BMP reader takes it
    EXPECT_EQ(image.BitsPerPixel(), 24u);
    EXPECT_EQ(image.DpiX(), 0);
    EXPECT_EQ(image.GetPixelColour(2, 1), (RgbQuad{17, 18, 19, 0}));

    // An indexed display depth carries its full colour table; 16 bits, 65,536 entries.
    const std::vector<uint8_t> indexed(16, 0);
    const auto info8 = BuildBitmapInfo({5, 2, 8, indexed.data(), 8, false, {}});
    ASSERT_TRUE(info8.has_value());
    EXPECT_EQ(info8->header.clrUsed, 256u);
    EXPECT_EQ(info8->header.sizeImage, 16u);
    const auto info16 = BuildBitmapInfo({2, 2, 16, indexed.data(), 4, false, {}});
    ASSERT_TRUE(info16.has_value());
    MemorySink captureFile16;
    ASSERT_TRUE(WriteBmpFile(captureFile16, *info16, {2, 2, 16, indexed.data(), 4, false, {}}));
    EXPECT_EQ(captureFile16.Bytes().size(), 54u + 262144u + 8u);
    MemorySource readBack16(captureFile16.Bytes());
    EXPECT_TRUE(ImageContainer().Load(readBack16, ImageType::kBmp));

    EXPECT_FALSE(BuildBitmapInfo({3, 2, 32, memory.data(), 8, true, {}}).has_value());  // stride too short
    EXPECT_FALSE(BuildBitmapInfo({3, 2, 12, memory.data(), 12, true, {}}).has_value());
}

TEST(FileNames, ExtensionAndTypeFollowTheTable) {
    EXPECT_EQ(GetFileExtension("/home/u/result.png"), "png");
    EXPECT_EQ(GetFileExtension("/home/u/a.b/RESULT.PNG"), "PNG");
    EXPECT_EQ(GetFileExtension("/home/u/scan.old/result"), "");
    EXPECT_EQ(GetFileExtension("/home/u/result"), "");
    const std::vector<std::pair<const char*, int>> table = {
        {"bmp", 1},  {"jpg", 3},  {"jpeg", 3}, {"gif", 2},  {"png", 4},  {"ico", 5},  {"tiff", 6},
        {"tif", 6},  {"tga", 7},  {"pcx", 8},  {"wbmp", 9}, {"wmf", 10}, {"emf", 10}, {"jp2", 11},
        {"j2k", 11}, {"jpc", 12}, {"j2c", 12}, {"pgx", 13}, {"ras", 15}, {"pnm", 14}, {"pgm", 14},
        {"ppm", 14}, {"PnG", 4},  {"doc", 0},  {"", 0},     {"png ", 0}, {".png", 0}};
    for (const auto& [extension, code] : table) {
        EXPECT_EQ(static_cast<int>(ImageTypeFromExtension(extension)), code) << extension;
    }
}

}  // namespace
}  // namespace dravix::test
