// Loading and saving a large JPEG through the program's own paths (see ImageFileBench.h). The file is
// named by VELURA_BENCH_JPEG (bench/compare.sh makes a 12-megapixel one and sets it, and times the same
// work by djpeg, cjpeg and ImageMagick beside these); without it these benchmarks skip.
#include "ImageFileBench.h"

namespace {

ImageFileBench& bench() {
    static ImageFileBench b = [] {
        ImageFileBench made("VELURA_BENCH_JPEG", "JPEG", {Tal_InitJPEGTALIOClass});
        if (made.active()) {
            const ULONG jpeg = Tal_CreateObject("JPEGTALIO");
            const char* quality = std::getenv("VELURA_BENCH_QUALITY");
            Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, quality && *quality ? std::atoi(quality) : 90);
            Tal_DisposeObject(jpeg);
        }
        return made;
    }();
    return b;
}

void BM_JpegLoadIntoPlanes(benchmark::State& state) {
    bench().loadIntoPlanes(state);
}
BENCHMARK(BM_JpegLoadIntoPlanes)->Unit(benchmark::kMillisecond)->UseRealTime();

// The open path: the buffer's planes adopted as the image's base planes, and the working copy the loader
// filled while decoding as its working planes.
void BM_JpegLoadAsImage(benchmark::State& state) {
    bench().loadAsImage(state);
}
BENCHMARK(BM_JpegLoadAsImage)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_JpegSaveImage(benchmark::State& state) {
    bench().saveImage(state);
}
BENCHMARK(BM_JpegSaveImage)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace
