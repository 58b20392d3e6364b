#pragma once

// Decoders used only by the tests, written from the formats' descriptions (GIF, PCX, TGA) or on
// the reading side of the libraries (libjpeg, libpng, libtiff, OpenJPEG), so the writers are
// checked by code that does not share their logic.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "export/ImageContainer.h"

namespace dravix::test {

// Pixels top row first, red, green, blue.
struct RgbImage {
    uint32_t width = 0;
    uint32_t height = 0;
    std::vector<uint8_t> rgb;

    std::array<uint8_t, 3> At(uint32_t x, uint32_t y) const;
};

// What the container's pixels look like, in the same form.
RgbImage ToRgb(const ImageContainer& image);
// Largest difference of any channel; -1 when the sizes differ.
int MaxChannelDifference(const RgbImage& a, const RgbImage& b);

// Fills a 24-bit image with a pattern of smooth areas and sharp edges.
void FillTestPattern(ImageContainer& image);
// Writes the image with `type` into memory; empty on failure.
std::vector<uint8_t> EncodeToMemory(ImageContainer& image, ImageType type);

// ---- GIF ----
struct GifFrame {
    uint32_t left = 0, top = 0, width = 0, height = 0;
    uint8_t packed = 0;
    std::vector<uint8_t> localTable;  // red, green, blue per entry
    unsigned minCodeSize = 0;
    std::vector<uint8_t> indices;
    std::vector<uint8_t> controlExtension;  // the 8 bytes 0x21 0xF9 ... 0 that preceded it
    bool firstCodeWasClear = false;
    bool endedWithEoi = false;
    size_t clearCodes = 0;  // clear codes after the first
    unsigned widestCode = 0;
};

struct GifFile {
    uint32_t width = 0, height = 0;
    uint8_t packed = 0;
    std::vector<uint8_t> globalTable;
    std::vector<std::string> comments;
    std::vector<GifFrame> frames;
    size_t largestSubBlock = 0;
    bool trailer = false;
    RgbImage canvas;  // frames drawn with their colour tables
};

bool DecodeGif(const std::vector<uint8_t>& bytes, GifFile& gif, std::string& why);

// ---- PCX ----
struct PcxFile {
    std::vector<uint8_t> header;  // the 128 bytes
    uint32_t width = 0, height = 0;
    unsigned planes = 0, bitsPerPlane = 0, bytesPerLine = 0;
    std::vector<std::vector<uint8_t>> coded;  // raw coded bytes of every plane line
    RgbImage image;
};

bool DecodePcx(const std::vector<uint8_t>& bytes, PcxFile& pcx, std::string& why);

// ---- TGA ----
bool DecodeTga(const std::vector<uint8_t>& bytes, RgbImage& image, std::string& why);

// ---- Library readers ----
struct JpegInfo {
    int components = 0;
    bool jfif = false;
    int densityUnit = -1;
    int xDensity = -1, yDensity = -1;
};
bool DecodeJpeg(const std::vector<uint8_t>& bytes, RgbImage& image, JpegInfo& info);

struct PngChunk {
    std::string type;
    std::vector<uint8_t> data;
};
std::vector<PngChunk> PngChunks(const std::vector<uint8_t>& bytes);
bool DecodePng(const std::vector<uint8_t>& bytes, RgbImage& image);

struct TiffInfo {
    uint16_t compression = 0, photometric = 0, samplesPerPixel = 0, bitsPerSample = 0, predictor = 1;
    uint32_t rowsPerStrip = 0;
    float xResolution = -1, yResolution = -1;
    uint16_t resolutionUnit = 0, orientation = 0, planar = 0;
    uint32_t subfileType = 99;
    std::vector<uint16_t> colourMapRed;
};
bool DecodeTiff(const std::vector<uint8_t>& bytes, RgbImage& image, TiffInfo& info);

struct Jpeg2000Info {
    unsigned components = 0;
    unsigned precision = 0;
};
bool DecodeJpeg2000(const std::vector<uint8_t>& bytes, bool codeStream, RgbImage& image, Jpeg2000Info& info);

// ---- Files ----
std::string TempPath(const std::string& name);
std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

}  // namespace dravix::test
