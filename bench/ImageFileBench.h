// The three paths a large picture file takes through the program, for one format: the library's load into
// a buffer's planes, the open path that makes an image of the file (the buffer's planes adopted as base
// planes, copied into the working planes), and the save path (the working planes written through a
// temporary file that is synced and renamed over the target). The file comes from an environment
// variable (bench/compare.d/ sets it); without it the benchmarks skip.
#pragma once

#include "Vlr/ImageFile.h"
#include "talio/talio.h"
#include "ui/ui.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <initializer_list>
#include <string>

class ImageFileBench {
  public:
    // The file named by `variable`, saved to VELURA_BENCH_OUT (or beside it) through the saver `word`.
    ImageFileBench(const char* variable, const char* word, std::initializer_list<ULONG (*)()> classes)
        : variable_(variable), word_(word) {
        const char* file = std::getenv(variable);
        if (!file || !*file) return;
        input_ = file;
        const char* out = std::getenv("VELURA_BENCH_OUT");
        output_ = out && *out ? out : input_ + ".saved";
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitImageClass();
        Tal_InitRootTALIOClass();
        for (ULONG (*init)() : classes) init();
        TALIO_Init(Tal_GetGlobalData());
        Tal__OpenImageEngine();
    }
    bool active() const { return !input_.empty(); }

    void loadIntoPlanes(benchmark::State& state) {
        if (!ready(state)) return;
        for (auto _ : state) {
            ULONG error = 0;
            TALIO_ImageBuffer* b = TALIO_AutoLoadBufferA(input_.c_str(), TALIO_LOAD_QUIET, &error, nullptr);
            if (!b) {
                state.SkipWithError("the file does not load");
                break;
            }
            benchmark::DoNotOptimize(b->red);
            TALIO_FreeBuffer(b);
        }
    }
    void loadAsImage(benchmark::State& state) {
        if (!ready(state)) return;
        for (auto _ : state) {
            Tal_Image* image = load();
            if (!image) {
                state.SkipWithError("the file does not load");
                break;
            }
            benchmark::DoNotOptimize(image->red);
            Tal_DisposeObject(image->header.handle);
        }
    }
    void saveImage(benchmark::State& state) {
        if (!ready(state)) return;
        if (!image_) image_ = load();
        if (!image_) {
            state.SkipWithError("the file does not load");
            return;
        }
        for (auto _ : state)
            if (!Tal__SaveImageA(image_, output_.c_str(), word_, 0, TAL_SAVE_QUIET | TAL_SAVE_NO_BACKUP,
                                 nullptr)) {
                state.SkipWithError("the picture could not be saved");
                break;
            }
    }

  private:
    bool ready(benchmark::State& state) const {
        if (!active())
            state.SkipWithError((std::string(variable_) + " names no file (see bench/compare.sh)").c_str());
        return active();
    }
    Tal_Image* load() const {
        return Tal__LoadImageA(input_.c_str(), 0, 0, TAL_LOAD_QUIET | TAL_LOAD_ONLY | TAL_LOAD_NO_VIEW,
                               nullptr);
    }

    const char* variable_;
    const char* word_;
    std::string input_, output_;
    Tal_Image* image_ = nullptr; // the picture the save benchmark writes
};
