// The BMP reader on arbitrary bytes, then every writer on each image it accepts. A refused file
// leaves no image and says why; an accepted one is consistent, every writer either writes bytes
// or says why not, and the BMP writer's file reads back as the same image.

#include <algorithm>
#include <span>

#include "export/ByteSink.h"
#include "export/ByteSource.h"
#include "export/ImageContainer.h"
#include "fuzz/FuzzCheck.h"

namespace {

using dravix::ImageContainer;
using dravix::ImageType;

// The writers run only on images up to this size, so that a tiny RLE file that unpacks into a
// huge picture does not spend the run in the JPEG and JPEG-2000 encoders.
constexpr uint64_t kMaxPixelsForWriters = 64 * 64;

void CheckReadsBackTheSame(const ImageContainer& image, const std::vector<uint8_t>& file) {
    dravix::MemorySource source(file);
    ImageContainer again;
    FUZZ_CHECK(again.Decode(source, ImageType::kBmp));
    FUZZ_CHECK(again.Width() == image.Width() && again.Height() == image.Height());
    FUZZ_CHECK(again.BitsPerPixel() == image.BitsPerPixel());
    FUZZ_CHECK(std::ranges::equal(again.Pixels(), image.Pixels()));
    FUZZ_CHECK(std::ranges::equal(again.Palette(), image.Palette()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    dravix::MemorySource source(std::span<const uint8_t>(data, size));
    ImageContainer image;
    if (!image.Decode(source, ImageType::kBmp)) {
        FUZZ_CHECK(!image.IsValid());
        FUZZ_CHECK(!image.GetLastError().empty());
        return 0;
    }
    FUZZ_CHECK(image.Width() > 0 && image.Height() > 0);
    FUZZ_CHECK(image.RowBytes() * image.Height() == image.Pixels().size());
    FUZZ_CHECK(image.RowBytes() * 8 >= uint64_t{image.Width()} * image.BitsPerPixel());
    FUZZ_CHECK(image.Palette().size() == (image.BitsPerPixel() == 24 ? 0u : 1u << image.BitsPerPixel()));
    if (uint64_t{image.Width()} * image.Height() > kMaxPixelsForWriters) return 0;

    for (int code = dravix::kFirstImageType; code <= dravix::kLastImageType; ++code) {
        const auto type = static_cast<ImageType>(code);
        dravix::MemorySink sink;
        image.SetLastError("");
        if (image.Encode(&sink, type)) {
            FUZZ_CHECK(!sink.Bytes().empty());
            if (type == ImageType::kBmp) CheckReadsBackTheSame(image, sink.Bytes());
        } else {
            FUZZ_CHECK(!image.GetLastError().empty());
        }
        FUZZ_CHECK(image.GetLastError().size() <= dravix::kMaxLastErrorLength);
    }
    return 0;
}
