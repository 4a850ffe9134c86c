// Loading and saving a large PNG through the program's own paths (see ImageFileBench.h), at the
// compression level VELURA_BENCH_COMPRESSION. The file is named by VELURA_BENCH_PNG: bench/compare.d/png.sh
// makes a 12-megapixel one, sets it and times pngtopam and pnmtopng beside these.
#include "ImageFileBench.h"

namespace {

ImageFileBench& bench() {
    static ImageFileBench b("VELURA_BENCH_PNG", "PNG", {Tal_InitPNGTALIOClass});
    static const bool levelSet = [] {
        const ULONG png = Tal_CreateObject("PNGTALIO");
        const char* level = std::getenv("VELURA_BENCH_COMPRESSION");
        Tal_DoMethod(png, PNGTALIO_SetCompression, level && *level ? std::atoi(level) : 6);
        Tal_DisposeObject(png);
        return true;
    }();
    (void)levelSet;
    return b;
}

void BM_PngLoadIntoPlanes(benchmark::State& state) {
    bench().loadIntoPlanes(state);
}
BENCHMARK(BM_PngLoadIntoPlanes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PngSaveImage(benchmark::State& state) {
    bench().saveImage(state);
}
BENCHMARK(BM_PngSaveImage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
