// Method dispatch: a bare handle lookup, and a method that travels through three instances.
#include "Tal/Tal.h"
#include "ui/ui.h"

#include <benchmark/benchmark.h>

namespace {

constexpr ULONG GetValue = 0x7F01000A;

struct Instance {
    Tal_Object header;
    Tal_Word value;
};

Tal_Class base, middle, top;

void* newInstance(Tal_Class* cls, const char* superName) {
    auto* self = static_cast<Instance*>(Tal_AllocObjectMem(cls));
    if (self && superName) self->header.superObject = Tal_CreateObject(superName);
    return self;
}

void dispose(void* instance) {
    Tal_DisposeObject(static_cast<Tal_Object*>(instance)->superObject);
    Tal_FreeObjectMem(instance);
}

Tal_Word baseDispatch(void* instance, ULONG id, const Tal_Word*) {
    return id == GetValue ? static_cast<Instance*>(instance)->value : 0;
}

Tal_Word forward(void* instance, ULONG id, const Tal_Word* args) {
    return Tal_DoMethodA(static_cast<Tal_Object*>(instance)->superObject, id, args);
}

struct Setup {
    Setup() {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal__SetupClass(
            &base, "BBase", 0x7F010000, nullptr, [](const TagItem*) { return newInstance(&base, nullptr); },
            dispose, baseDispatch, nullptr, sizeof(Instance));
        Tal__SetupClass(
            &middle, "BMiddle", 0x7F020000, "BBase",
            [](const TagItem*) { return newInstance(&middle, "BBase"); }, dispose, forward, nullptr,
            sizeof(Instance));
        Tal__SetupClass(
            &top, "BTop", 0x7F030000, "BMiddle", [](const TagItem*) { return newInstance(&top, "BMiddle"); },
            dispose, forward, nullptr, sizeof(Instance));
    }
};

ULONG objectOf(const char* cls) {
    static Setup setup;
    return Tal_CreateObject(cls);
}

void BM_HandleLookup(benchmark::State& state) {
    ULONG handle = objectOf("BBase");
    for (auto _ : state) {
        void* instance = Tal_LockObjectInstance(handle);
        benchmark::DoNotOptimize(instance);
        Tal_UnlockObjectInstance(instance);
    }
    Tal_DisposeObject(handle);
}
BENCHMARK(BM_HandleLookup)->ThreadRange(1, 2);

void BM_DoMethodThreeDeep(benchmark::State& state) {
    ULONG handle = objectOf("BTop");
    for (auto _ : state) benchmark::DoNotOptimize(Tal_DoMethod(handle, GetValue));
    Tal_DisposeObject(handle);
}
BENCHMARK(BM_DoMethodThreeDeep)->ThreadRange(1, 2);

void BM_DoMethodOneDeep(benchmark::State& state) {
    ULONG handle = objectOf("BBase");
    for (auto _ : state) benchmark::DoNotOptimize(Tal_DoMethod(handle, GetValue));
    Tal_DisposeObject(handle);
}
BENCHMARK(BM_DoMethodOneDeep);

void BM_CreateAndDispose(benchmark::State& state) {
    objectOf("BBase");
    for (auto _ : state) Tal_DisposeObject(objectOf("BTop"));
}
BENCHMARK(BM_CreateAndDispose);

} // namespace
