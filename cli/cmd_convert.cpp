// convert IN OUT: reads IN into an image container (the BMP reader) and writes it in the format
// of OUT's extension, with the texts that File > Save shows.

#include <nlohmann/json.hpp>

#include "cli/Commands.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/ImageType.h"

namespace dravix::cli {

int RunConvert(CliContext& context, const std::vector<std::string>& args) {
    if (args.size() != 2) return UsageError(context, "convert takes an input and an output file");
    const std::string& input = args[0];
    const std::string& output = args[1];
    const ImageType type = ImageTypeFromExtension(GetFileExtension(output));

    auto finish = [&](bool saved, const std::string& message) {
        if (context.Options().json) {
            context.PrintJson({{"saved", saved}, {"message", message}, {"type", static_cast<int>(type)}});
        } else if (saved) {
            context.Out() << message << "\n";
        } else {
            context.Err() << message << "\n";
        }
        return saved ? kExitOk : kExitFailed;
    };

    if (type == ImageType::kUnknown) return finish(false, texts::kUnsupportedType);
    // The input's own extension picks the first reader to try; the BMP reader is the fallback.
    ImageContainer image(input, ImageTypeFromExtension(GetFileExtension(input)));
    if (!image.IsValid())
        return finish(false, image.OpenFailed() ? texts::kFailToSave : image.GetLastError());
    if (!image.Save(output, type)) {
        return finish(false, image.OpenFailed() ? texts::kFailToSave : image.GetLastError());
    }
    return finish(true, texts::kSaveSuccess);
}

}  // namespace dravix::cli
