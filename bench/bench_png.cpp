// Loading and saving a large PNG through the program's own paths: the library's load into a buffer's
// planes, and the save path that writes an image at a compression level. The file is named by
// VELURA_BENCH_PNG (bench/compare.d/png.sh makes a 12-megapixel one and sets it, and times pngtopam and
// pnmtopng beside these); without it these benchmarks skip.
#include "Vlr/ImageFile.h"
#include "talio/talio.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

struct PngBench {
    std::string input, output;
    Tal_Image* image = nullptr; // the picture the save benchmark writes

    PngBench() {
        const char* file = std::getenv("VELURA_BENCH_PNG");
        if (!file || !*file) return;
        input = file;
        const char* out = std::getenv("VELURA_BENCH_OUT");
        output = out && *out ? out : input + ".saved.png";
        Tal_Init();
        Tal_InitImageClass();
        Tal_InitRootTALIOClass();
        Tal_InitPNGTALIOClass();
        TALIO_Init(Tal_GetGlobalData());
        Tal__OpenImageEngine();
        const ULONG png = Tal_CreateObject("PNGTALIO");
        const char* level = std::getenv("VELURA_BENCH_COMPRESSION");
        Tal_DoMethod(png, PNGTALIO_SetCompression, level && *level ? std::atoi(level) : 6);
        Tal_DisposeObject(png);
    }
    bool ready(benchmark::State& state) const {
        if (input.empty()) state.SkipWithError("VELURA_BENCH_PNG names no file (see bench/compare.d/png.sh)");
        return !input.empty();
    }
};

PngBench& bench() {
    static PngBench b;
    return b;
}

// The library's load: detection, decoding and the three planes of the buffer.
void BM_PngLoadIntoPlanes(benchmark::State& state) {
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
BENCHMARK(BM_PngLoadIntoPlanes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The save path: the image's working planes written as a PNG through a temporary file, which is synced
// and renamed over the output.
void BM_PngSaveImage(benchmark::State& state) {
    if (!bench().ready(state)) return;
    PngBench& b = bench();
    if (!b.image)
        b.image = Tal__LoadImageA(b.input.c_str(), 0, 0, TAL_LOAD_QUIET | TAL_LOAD_ONLY | TAL_LOAD_NO_VIEW,
                                  nullptr);
    if (!b.image) {
        state.SkipWithError("the file does not load");
        return;
    }
    for (auto _ : state)
        if (!Tal__SaveImageA(b.image, b.output.c_str(), "PNG", 0, TAL_SAVE_QUIET | TAL_SAVE_NO_BACKUP,
                             nullptr)) {
            state.SkipWithError("the picture could not be saved");
            break;
        }
}
BENCHMARK(BM_PngSaveImage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
