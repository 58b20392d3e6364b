// Encoding a 1920 × 1080 capture-like image in every format, into memory. Run with
// "--write-bmp PATH" to write the same picture as the BMP that compare.sh feeds to both tools.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>

#include "CaptureImage.h"
#include "export/ByteSink.h"
#include "export/ImageTexts.h"

namespace dravix::bench {
namespace {

const ImageContainer& Capture() {
    static const ImageContainer image = MakeCaptureImage();
    return image;
}

void BM_Encode(benchmark::State& state, ImageType type) {
    ImageContainer image = Capture();
    size_t bytes = 0;
    for (auto _ : state) {
        MemorySink sink;
        if (!image.Encode(&sink, type)) {
            state.SkipWithError(image.GetLastError().c_str());
            break;
        }
        bytes = sink.Bytes().size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_ReadCaptureBmp(benchmark::State& state) {
    const std::string path = "/tmp/dravix_bench_capture.bmp";
    ImageContainer source = Capture();
    source.Save(path, ImageType::kBmp);
    for (auto _ : state) {
        ImageContainer image(path, ImageType::kBmp);
        benchmark::DoNotOptimize(image.IsValid());
    }
    std::remove(path.c_str());
}

BENCHMARK_CAPTURE(BM_Encode, bmp, ImageType::kBmp)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, gif, ImageType::kGif)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, jpeg, ImageType::kJpeg)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, png, ImageType::kPng)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, tiff, ImageType::kTiff)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, tga, ImageType::kTga)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, pcx, ImageType::kPcx)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, jp2, ImageType::kJp2)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, jpc, ImageType::kJpc)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, pnm, ImageType::kPnm)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Encode, ras, ImageType::kSunRaster)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadCaptureBmp)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace dravix::bench

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write-bmp") == 0) {
        dravix::ImageContainer image = dravix::bench::MakeCaptureImage();
        return image.Save(argv[2], dravix::ImageType::kBmp) ? 0 : 1;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
