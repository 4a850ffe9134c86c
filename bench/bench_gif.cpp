// Saving a large picture as GIF through the library's save path: the octree reduction to 256 colours,
// the mapping with error diffusion at the default 70%, the LZW coding and the write through a temporary
// file renamed over the output. The picture is a binary PPM named by VELURA_BENCH_GIF_SOURCE
// (bench/compare.sh makes a 12-megapixel one and times ImageMagick's "-colors 256" beside this); without
// it the benchmark skips.
#include "talio/talio.h"
#include "ui/ui.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// A binary PPM of maxval 255 into a buffer of three planes; none on anything else.
TALIO_ImageBuffer* readPpm(const char* name) {
    FILE* f = std::fopen(name, "rb");
    if (!f) return nullptr;
    unsigned width = 0, height = 0, maxval = 0;
    TALIO_ImageBuffer* b = nullptr;
    if (std::fscanf(f, "P6 %u %u %u", &width, &height, &maxval) == 3 && maxval == 255 && std::fgetc(f) != EOF)
        b = TALIO_AllocBuffer(width, height, 24, 0, TALIO_FORMAT_RGBPLANES, 0);
    std::vector<UBYTE> row(size_t(width) * 3);
    for (ULONG y = 0; b && y < height; y++)
        if (std::fread(row.data(), 1, row.size(), f) != row.size() ||
            !TALIO_SetBufferData(b, 0, y, width, 1, ULONG(row.size()), TALIO_PIXEL_RGB, row.data())) {
            TALIO_FreeBuffer(b);
            b = nullptr;
        }
    std::fclose(f);
    return b;
}

struct GifBench {
    TALIO_ImageBuffer* picture = nullptr;
    TALIO_Header header{};
    std::string output;

    GifBench() {
        const char* source = std::getenv("VELURA_BENCH_GIF_SOURCE");
        if (!source || !*source) return;
        const char* out = std::getenv("VELURA_BENCH_OUT");
        output = out && *out ? out : std::string(source) + ".saved.gif";
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitRootTALIOClass();
        Tal_InitGIFTALIOClass();
        TALIO_Init(Tal_GetGlobalData());
        picture = readPpm(source);
        header.buffer = picture;
        header.truecolour_format = TALIO_FORMAT_RGBPLANES;
        header.grey_format = TALIO_FORMAT_GREY8;
        header.mapped_format = TALIO_FORMAT_RGBPLANES;
    }
};

GifBench& bench() {
    static GifBench b;
    return b;
}

// 256 colours, dithered (the GIF options' defaults).
void BM_GifSave(benchmark::State& state) {
    GifBench& b = bench();
    if (!b.picture) {
        state.SkipWithError("VELURA_BENCH_GIF_SOURCE names no PPM picture (see bench/compare.sh)");
        return;
    }
    const ULONG quiet = TALIO_SAVE_QUIET;
    for (auto _ : state)
        if (TALIO_SaveBufferA(&b.header, b.output.c_str(), "GIF", 0, &quiet) != TALIO_OK) {
            state.SkipWithError("the picture could not be saved");
            break;
        }
}
BENCHMARK(BM_GifSave)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
