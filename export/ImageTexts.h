#pragma once

// Every text that the container, its reader and its writers leave in the last-error buffer.
// The export and the command line show these; tests compare against the same constants.
namespace dravix::texts {

// Before any writer runs.
inline constexpr const char* kNullFileHandler = "null file handler";
inline constexpr const char* kNullImage = "null image!!!";
inline constexpr const char* kUnknownFormat = "Encode: Unknown format";

// BMP reader.
inline constexpr const char* kNotBmp = "Not a BMP";
inline constexpr const char* kBmpInfo = "Error reading BMP info";
inline constexpr const char* kNoMemory = "Can't allocate memory";

// Writers.
inline constexpr const char* kGifWrite = "Write Error in GIF file";
inline constexpr const char* kJpegDepth = "JPEG can save only RGB or GreyScale images";
inline constexpr const char* kPngCreate = "Failed to create PNG structure";
inline constexpr const char* kPngInfo = "Failed to initialize PNG info structure";
inline constexpr const char* kPngSave = "Error saving PNG file";
inline constexpr const char* kIcoSize = "Can't save this image as icon";
inline constexpr const char* kTiffDirectory = "Error saving TIFF directory";
inline constexpr const char* kTiffSave = "Error saving TIFF file";
inline constexpr const char* kTgaDepth = "Bit depth must be 8 or 24";
inline constexpr const char* kPcxHeader = "cannot write PCX header";
inline constexpr const char* kWbmpSize = "Can't save this image as WBMP";
inline constexpr const char* kWmf = "Save WMF not supported";
inline constexpr const char* kOpenJpegInit = "cannot initialize OpenJPEG";
inline constexpr const char* kOpenJpegDepth = "OpenJPEG can save only RGB or GrayScale images";
inline constexpr const char* kOpenJpegEncode = "Error saving JPEG-2000 file";
inline constexpr const char* kPgxDepth = "PGX can save only GrayScale images";
inline constexpr const char* kPnmDepth = "PNM can save only RGB or GrayScale images";
inline constexpr const char* kSunRasterDepth = "Sun raster can save only RGB or GrayScale images";

// Failures that the formats' own texts do not cover: the output refused bytes (a full disk), or
// the image exceeds the size fields of the format.
inline constexpr const char* kWriteFailed = "Error writing image file";
inline constexpr const char* kTooLarge = "Image too large for this format";

}  // namespace dravix::texts

// The export flow's own messages (File > Save and `dravix-cli convert`).
namespace dravix::texts {

inline constexpr const char* kUnsupportedType = "Can't support this image type.";
inline constexpr const char* kFailToSave = "Fail to save file.";
inline constexpr const char* kSaveSuccess = "Save successfully.";

}  // namespace dravix::texts
