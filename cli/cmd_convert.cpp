// convert IN OUT: reads IN into an image container (the BMP reader) and writes it in the format
// of OUT's extension, with the texts that File > Save shows, each naming its file.

#include <algorithm>
#include <cctype>

#include "cli/Commands.h"
#include "cli/Names.h"
#include "cli/OutputFile.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/ImageType.h"

namespace dravix::cli {

namespace {

// The format's name in the JSON: the usual extension, lower case.
const char* FormatName(ImageType type) {
    static constexpr const char* kNames[] = {nullptr, "bmp",  "gif", "jpg", "png", "ico", "tif", "tga",
                                             "pcx",   "wbmp", "wmf", "jp2", "jpc", "pgx", "pnm", "ras"};
    const int index = static_cast<int>(type);
    return index >= kFirstImageType && index <= kLastImageType ? kNames[index] : nullptr;
}

std::string Quoted(const std::string& path) {
    return "'" + path + "'";
}

}  // namespace

int RunConvert(CliContext& context, const CommandArgs& args) {
    if (args.words.size() != 2) return UsageError(context, "convert takes an input and an output file");
    const std::string& input = args.words[0];
    const std::string& output = args.words[1];
    const ImageType type = ImageTypeFromExtension(GetFileExtension(output));

    schema::Json& json = context.Result();
    PutName(json, "input", input);
    PutName(json, "output", output);
    const char* format = FormatName(type);
    json["format"] = format ? schema::Json(format) : nullptr;
    json["saved"] = false;

    // As for scan's --image: a name that chooses no format is a mistake in the command line.
    if (type == ImageType::kUnknown) return context.Usage(Quoted(output) + ": " + texts::kUnsupportedType);
    if (const int status = CheckCommandFiles(context, {{input, FileRole::Input}, {output, FileRole::Output}});
        status != kExitOk)
        return status;
    // The input's own extension picks the first reader to try; the BMP reader is the fallback.
    ImageContainer image(input, ImageTypeFromExtension(GetFileExtension(input)));
    if (!image.IsValid()) {
        return context.Fail(kExitFailed, image.OpenFailed() ? "cannot open " + Quoted(input)
                                                            : Quoted(input) + ": " + image.GetLastError());
    }
    if (!image.Save(output, type)) {
        return context.Fail(
            kExitFailed,
            Quoted(output) + ": " + (image.OpenFailed() ? texts::kFailToSave : image.GetLastError()));
    }
    json["saved"] = true;
    if (!context.Json()) context.Out() << texts::kSaveSuccess << "\n";
    return kExitOk;
}

}  // namespace dravix::cli
