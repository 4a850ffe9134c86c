// Loading and saving a large 24-bit BMP through the program's own paths. The file is named by
// VELURA_BENCH_BMP (bench/compare.d/bmp.sh makes a 12-megapixel one and sets it, and times the same work
// by netpbm and ImageMagick beside these); without it these benchmarks skip.
#include "ImageFileBench.h"

namespace {

ImageFileBench& bench() {
    static ImageFileBench b("VELURA_BENCH_BMP", "BMP", {Tal_InitBMPTALIOClass});
    return b;
}

// The library's load: detection, the rows read and split into the buffer's three planes.
void BM_BmpLoadIntoPlanes(benchmark::State& state) {
    bench().loadIntoPlanes(state);
}
BENCHMARK(BM_BmpLoadIntoPlanes)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BmpLoadAsImage(benchmark::State& state) {
    bench().loadAsImage(state);
}
BENCHMARK(BM_BmpLoadAsImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_BmpSaveImage(benchmark::State& state) {
    bench().saveImage(state);
}
BENCHMARK(BM_BmpSaveImage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
