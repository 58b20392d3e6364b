#pragma once

#include <string>
#include <string_view>

namespace dravix {

// Format codes of the writers. Values outside 1..15 can reach the dispatch (it answers
// "Encode: Unknown format"), so this is a plain enumeration over int.
enum class ImageType : int {
    kUnknown = 0,
    kBmp = 1,
    kGif = 2,
    kJpeg = 3,
    kPng = 4,
    kIco = 5,
    kTiff = 6,
    kTga = 7,
    kPcx = 8,
    kWbmp = 9,
    kWmf = 10,
    kJp2 = 11,  // JPEG-2000 file format
    kJpc = 12,  // JPEG-2000 code stream
    kPgx = 13,
    kPnm = 14,
    kSunRaster = 15,
};

inline constexpr int kFirstImageType = 1;
inline constexpr int kLastImageType = 15;

// The text after the last "." of path, or "" when there is none or when that dot belongs to a
// folder name (a "/" follows it).
std::string GetFileExtension(std::string_view path);

// Maps an extension (any case, without the dot) to its format; kUnknown when not recognised.
ImageType ImageTypeFromExtension(std::string_view extension);

}  // namespace dravix
