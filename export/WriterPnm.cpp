// Binary PNM: P6 (red, green, blue) for a 24-bit image, P5 (grey) for a grey-ramp image; maximum
// value 255, top row first.
#include <string>
#include <vector>

#include "export/ByteSink.h"
#include "export/ImageContainer.h"
#include "export/ImageTexts.h"
#include "export/PixelRows.h"
#include "export/Writers.h"

namespace dravix::writers {

bool WritePnm(const ImageContainer& image, ByteSink& sink, std::string& error) {
    const bool grey = image.BitsPerPixel() != 24;
    if (grey && !image.IsGreyRamp()) {
        error = texts::kPnmDepth;
        return false;
    }
    const std::string header = std::string(grey ? "P5\n" : "P6\n") + std::to_string(image.Width()) + " " +
                               std::to_string(image.Height()) + "\n255\n";
    sink.Write(header.data(), header.size());
    std::vector<uint8_t> row(size_t{image.Width()} * (grey ? 1 : 3));
    for (uint32_t y = 0; y < image.Height(); ++y) {
        if (grey) {
            RowToIndices(image, y, row.data());
        } else {
            RowToRgb(image, y, row.data());
        }
        sink.Write(row);
    }
    if (sink.Failed()) {
        error = texts::kWriteFailed;
        return false;
    }
    return true;
}

}  // namespace dravix::writers
