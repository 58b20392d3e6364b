#include "export/ImageType.h"

#include <array>
#include <utility>

namespace dravix {

std::string GetFileExtension(std::string_view path) {
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos) return {};
    const std::string_view extension = path.substr(dot + 1);
    // A separator after the dot means the dot was part of a folder name ("scan.old/result").
    if (extension.find('/') != std::string_view::npos) return {};
    return std::string(extension);
}

ImageType ImageTypeFromExtension(std::string_view extension) {
    // Searched in this order; the first exact match wins.
    static constexpr std::array<std::pair<std::string_view, ImageType>, 22> kTable{{
        {"bmp", ImageType::kBmp},       {"jpg", ImageType::kJpeg},  {"jpeg", ImageType::kJpeg},
        {"gif", ImageType::kGif},       {"png", ImageType::kPng},   {"ico", ImageType::kIco},
        {"tiff", ImageType::kTiff},     {"tif", ImageType::kTiff},  {"tga", ImageType::kTga},
        {"pcx", ImageType::kPcx},       {"wbmp", ImageType::kWbmp}, {"wmf", ImageType::kWmf},
        {"emf", ImageType::kWmf},       {"jp2", ImageType::kJp2},   {"j2k", ImageType::kJp2},
        {"jpc", ImageType::kJpc},       {"j2c", ImageType::kJpc},   {"pgx", ImageType::kPgx},
        {"ras", ImageType::kSunRaster}, {"pnm", ImageType::kPnm},   {"pgm", ImageType::kPnm},
        {"ppm", ImageType::kPnm},
    }};

    std::string lower(extension);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    for (const auto& [name, type] : kTable) {
        if (lower == name) return type;
    }
    return ImageType::kUnknown;
}

}  // namespace dravix
