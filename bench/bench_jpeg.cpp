// Loading and saving a large JPEG through the program's own paths: the library's load into a buffer's
// planes, the open path that makes an image of it, and the save path that writes an image. The file is
// named by VELURA_BENCH_JPEG (bench/compare.sh makes a 12-megapixel one and sets it, and times the same
// work by djpeg, cjpeg and ImageMagick beside these); without it these benchmarks skip.
#include "Vlr/ImageFile.h"
#include "talio/talio.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

struct JpegBench {
    std::string input, output;
    Tal_Image* image = nullptr; // the picture the save benchmark writes

    JpegBench() {
        const char* file = std::getenv("VELURA_BENCH_JPEG");
        if (!file || !*file) return;
        input = file;
        const char* out = std::getenv("VELURA_BENCH_OUT");
        output = out && *out ? out : input + ".saved.jpg";
        Tal_Init();
        Tal_InitImageClass();
        Tal_InitRootTALIOClass();
        Tal_InitJPEGTALIOClass();
        TALIO_Init(Tal_GetGlobalData());
        Tal__OpenImageEngine();
        const ULONG jpeg = Tal_CreateObject("JPEGTALIO");
        const char* quality = std::getenv("VELURA_BENCH_QUALITY");
        Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, quality && *quality ? std::atoi(quality) : 90);
        Tal_DisposeObject(jpeg);
    }
    bool ready(benchmark::State& state) const {
        if (input.empty()) state.SkipWithError("VELURA_BENCH_JPEG names no file (see bench/compare.sh)");
        return !input.empty();
    }
    Tal_Image* load() const {
        return Tal__LoadImageA(input.c_str(), 0, 0, TAL_LOAD_QUIET | TAL_LOAD_ONLY | TAL_LOAD_NO_VIEW,
                               nullptr);
    }
};

JpegBench& bench() {
    static JpegBench b;
    return b;
}

// The library's load: detection, decoding and the three planes of the buffer.
void BM_JpegLoadIntoPlanes(benchmark::State& state) {
    if (!bench().ready(state)) return;
    for (auto _ : state) {
        ULONG error = 0;
        TALIO_ImageBuffer* b =
            TALIO_AutoLoadBufferA(bench().input.c_str(), TALIO_LOAD_QUIET, &error, nullptr);
        if (!b) {
            state.SkipWithError("the file does not load");
            break;
        }
        benchmark::DoNotOptimize(b->red);
        TALIO_FreeBuffer(b);
    }
}
BENCHMARK(BM_JpegLoadIntoPlanes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The open path: the buffer's planes adopted as the image's base planes, and the working copy the loader
// filled while decoding as its working planes.
void BM_JpegLoadAsImage(benchmark::State& state) {
    if (!bench().ready(state)) return;
    for (auto _ : state) {
        Tal_Image* image = bench().load();
        if (!image) {
            state.SkipWithError("the file does not load");
            break;
        }
        benchmark::DoNotOptimize(image->red);
        Tal_DisposeObject(image->header.handle);
    }
}
BENCHMARK(BM_JpegLoadAsImage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The save path: the image's working planes written as a JPEG through a temporary file, which is synced
// and renamed over the output.
void BM_JpegSaveImage(benchmark::State& state) {
    if (!bench().ready(state)) return;
    JpegBench& b = bench();
    if (!b.image) b.image = b.load();
    if (!b.image) {
        state.SkipWithError("the file does not load");
        return;
    }
    for (auto _ : state)
        if (!Tal__SaveImageA(b.image, b.output.c_str(), "JPEG", 0, TAL_SAVE_QUIET | TAL_SAVE_NO_BACKUP,
                             nullptr)) {
            state.SkipWithError("the picture could not be saved");
            break;
        }
}
BENCHMARK(BM_JpegSaveImage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
