// The file requester's listing of a folder of photographs with thumbnails: cold (no thumbnail database:
// every picture is read as a reduced preview, shrunk and stored as a JPEG) and warm (every thumbnail comes
// from the database). The folder comes from VELURA_BENCH_THUMBNAILS (bench/compare.d/thumbnails.sh makes
// it); without it the benchmarks skip.
#include "talio/talio.h"
#include "ui/ui.h"
#include "host/dos.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Listing {
    std::string folder, database;
    Listing() {
        const char* f = std::getenv("VELURA_BENCH_THUMBNAILS");
        if (!f || !*f) return;
        folder = f;
        database = folder + ".database";
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal_InitRootTALIOClass();
        Tal_InitJPEGTALIOClass();
        Tal_InitBMPTALIOClass();
        TALIO_Init(Tal_GetGlobalData());
        Tal_SetThumbnailDatabase(database.c_str());
    }
    size_t list() {
        std::vector<Tal_FileEntry> entries;
        Tal_ListPictureFiles(folder, entries, nullptr);
        Tal_MakeThumbnails(folder, entries, nullptr, nullptr);
        size_t shown = 0;
        for (const Tal_FileEntry& e : entries) shown += e.thumbnail.bgr != nullptr;
        Tal_ClearFileEntries(entries);
        return shown;
    }
};

Listing& listing() {
    static Listing l;
    return l;
}

void BM_ThumbnailsCold(benchmark::State& state) {
    Listing& l = listing();
    if (l.folder.empty()) {
        state.SkipWithError("VELURA_BENCH_THUMBNAILS is not set");
        return;
    }
    for (auto _ : state) {
        state.PauseTiming();
        Tal_DeleteDir(l.database.c_str());
        Tal_SetThumbnailDatabase(l.database.c_str());
        state.ResumeTiming();
        benchmark::DoNotOptimize(l.list());
    }
}
BENCHMARK(BM_ThumbnailsCold)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_ThumbnailsWarm(benchmark::State& state) {
    Listing& l = listing();
    if (l.folder.empty()) {
        state.SkipWithError("VELURA_BENCH_THUMBNAILS is not set");
        return;
    }
    l.list(); // the database filled
    for (auto _ : state) benchmark::DoNotOptimize(l.list());
}
BENCHMARK(BM_ThumbnailsWarm)->Unit(benchmark::kMillisecond);

} // namespace
