#pragma once

#include <string>

namespace dravix {

class ByteSink;
class ByteSource;
class ImageContainer;

// One function per format, each in its own file. The container's dispatch calls them with a
// valid image and an open sink. On failure a writer returns false and puts its text in `error`;
// a writer that refuses an image does so before writing anything.
namespace writers {

bool WriteBmp(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WriteGif(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WriteJpeg(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WritePng(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WriteIco(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WriteTiff(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WriteTga(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WritePcx(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WriteWbmp(const ImageContainer& image, ByteSink& sink, std::string& error);
// codeStream false: JP2 file format; true: bare code stream (.jpc/.j2c).
bool WriteJpeg2000(const ImageContainer& image, ByteSink& sink, bool codeStream, std::string& error);
bool WritePgx(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WritePnm(const ImageContainer& image, ByteSink& sink, std::string& error);
bool WriteSunRaster(const ImageContainer& image, ByteSink& sink, std::string& error);

}  // namespace writers

// The BMP reader; fills image or returns false with its text in `error`.
bool ReadBmp(ByteSource& source, ImageContainer& image, std::string& error);

}  // namespace dravix
