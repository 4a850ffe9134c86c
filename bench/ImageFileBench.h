// What the image-file benchmarks share: the library and the image engine started once, the file named by
// an environment variable (bench/compare.d/ makes it and sets it; without it the benchmarks skip), and
// the three paths timed: the library's load into a buffer's planes, the program's open path that makes
// an image of the file, and its save path.
#pragma once

#include "Vlr/ImageFile.h"
#include "talio/talio.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

struct ImageFileBench {
    std::string variable, format, input, output;
    Tal_Image* image = nullptr; // the picture the save benchmark writes

    // The file named by `variable`, loaded by the format class `initClass` registers; saves go to
    // VELURA_BENCH_OUT, else beside the file with `suffix`.
    ImageFileBench(const char* variable_, const char* format_, ULONG (*initClass)(), const char* suffix)
        : variable(variable_), format(format_) {
        const char* file = std::getenv(variable_);
        if (!file || !*file) return;
        input = file;
        const char* out = std::getenv("VELURA_BENCH_OUT");
        output = out && *out ? out : input + suffix;
        Tal_Init();
        Tal_InitImageClass();
        Tal_InitRootTALIOClass();
        initClass();
        TALIO_Init(Tal_GetGlobalData());
        Tal__OpenImageEngine();
    }
    bool ready(benchmark::State& state) const {
        if (input.empty()) state.SkipWithError((variable + " names no file (see bench/compare.d/)").c_str());
        return !input.empty();
    }
    Tal_Image* load() const {
        return Tal__LoadImageA(input.c_str(), 0, 0, TAL_LOAD_QUIET | TAL_LOAD_ONLY | TAL_LOAD_NO_VIEW,
                               nullptr);
    }

    // The library's load: detection, decoding and the three planes of the buffer.
    void loadIntoPlanes(benchmark::State& state) const {
        if (!ready(state)) return;
        for (auto _ : state) {
            ULONG error = 0;
            TALIO_ImageBuffer* b = TALIO_AutoLoadBufferA(input.c_str(), TALIO_LOAD_QUIET, &error, nullptr);
            if (!b) {
                state.SkipWithError("the file does not load");
                break;
            }
            benchmark::DoNotOptimize(b->red);
            TALIO_FreeBuffer(b);
        }
    }

    // The open path: the buffer's planes adopted as the image's base planes, copied into its working planes.
    void loadAsImage(benchmark::State& state) const {
        if (!ready(state)) return;
        for (auto _ : state) {
            Tal_Image* loaded = load();
            if (!loaded) {
                state.SkipWithError("the file does not load");
                break;
            }
            benchmark::DoNotOptimize(loaded->red);
            Tal_DisposeObject(loaded->header.handle);
        }
    }

    // The save path: the image's working planes written through a temporary file, which is synced and
    // renamed over the output.
    void saveImage(benchmark::State& state) {
        if (!ready(state)) return;
        if (!image) image = load();
        if (!image) {
            state.SkipWithError("the file does not load");
            return;
        }
        for (auto _ : state)
            if (!Tal__SaveImageA(image, output.c_str(), format.c_str(), 0,
                                 TAL_SAVE_QUIET | TAL_SAVE_NO_BACKUP, nullptr)) {
                state.SkipWithError("the picture could not be saved");
                break;
            }
    }
};
