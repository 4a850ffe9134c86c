// Firing a notification with one and with ten listeners.
#include "Tal/Root.h"
#include "ui/ui.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

constexpr ULONG Attribute = 0x7F00000A;

void BM_DoNotify(benchmark::State& state) {
    static bool started = (Tal_UseInterfaceClasses(), Tal_Init() != nullptr);
    (void)started;
    ULONG source = Tal_CreateObject("Root");
    std::vector<ULONG> listeners;
    for (int i = 0; i < state.range(0); i++) {
        listeners.push_back(Tal_CreateObject("Root"));
        Tal_AddNotify(source, Attribute, TAL_AnyValue, listeners.back(), 2, TAL_SetUserData,
                      TAL_TriggerValue);
    }
    Tal_Word value = 0;
    for (auto _ : state) Tal_DoNotify(source, Attribute, ++value);
    state.SetItemsProcessed(state.iterations() * state.range(0));
    for (ULONG h : listeners) Tal_DisposeObject(h);
    Tal_DisposeObject(source);
}
BENCHMARK(BM_DoNotify)->Arg(1)->Arg(10);

} // namespace
