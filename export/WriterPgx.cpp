// PGX, the single-component test format of JPEG-2000: a text header "PG ML + 8 width height"
// and one unsigned byte per sample, top row first.
#include <string>
#include <vector>

#include "export/ByteSink.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {

bool WritePgx(const ImageContainer& image, ByteSink& sink, std::string& error) {
    if (image.BitsPerPixel() == 24 || !image.IsGreyRamp()) {
        error = texts::kPgxDepth;
        return false;
    }
    const std::string header =
        "PG ML + 8 " + std::to_string(image.Width()) + " " + std::to_string(image.Height()) + "\n";
    sink.Write(header.data(), header.size());
    std::vector<uint8_t> row(image.Width());
    for (uint32_t y = 0; y < image.Height(); ++y) {
        RowToIndices(image, y, row.data());
        sink.Write(row);
    }
    if (sink.Failed()) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
