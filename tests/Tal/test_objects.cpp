#include "Tal/Tal.h"
#include "host/dos.h"
#include "support/TalTest.h"

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

namespace {

// A small family of classes: TBase (with a layout box, like the base class), TMiddle on TBase, TTop on
// TMiddle, and TWindow on TBase with the window's class identifier.
constexpr ULONG SetValue = 0x7E01000A, GetValue = 0x7E010014, GetSelf = 0x7E01001E, DisposeTop = 0x7E010028,
                SetParent = 0x7E010032, UseCount = 0x7E01003C, MiddleOnly = 0x7E02000A, TopOnly = 0x7E03000A;

struct TestInstance {
    Tal_Object header;
    Tal_Box box;
    Tal_Word value;
};

std::atomic<int> unknownMethods{0};

Tal_Class tBase, tMiddle, tTop, tWindow;

const Tal_MethodEntry baseMethods[] = {
    {SetValue, "Tal_SetTestValue", TAL_METHOD_SETTER, GetValue, "%ld", nullptr, nullptr, nullptr, nullptr},
    {GetValue, "Tal_GetTestValue", TAL_METHOD_GETTER, SetValue, nullptr, nullptr, "%ld", nullptr, nullptr},
    {0, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr}};
const Tal_MethodEntry middleMethods[] = {
    {MiddleOnly, "Tal_MiddleOnly", TAL_METHOD_PLAIN, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {0, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr}};
// Shares a name with TBase, as classes may when they share the identifier too.
const Tal_MethodEntry topMethods[] = {
    {SetValue, "Tal_SetTestValue", TAL_METHOD_SETTER, GetValue, "%ld", nullptr, nullptr, nullptr, nullptr},
    {TopOnly, "TopOnly", TAL_METHOD_PLAIN, 0, nullptr, nullptr, nullptr, nullptr, nullptr},
    {0, nullptr, 0, 0, nullptr, nullptr, nullptr, nullptr, nullptr}};

void* newInstance(Tal_Class* cls, const char* superName) {
    auto* self = static_cast<TestInstance*>(Tal_AllocObjectMem(cls));
    if (!self) return nullptr;
    if (superName) {
        self->header.superObject = Tal_CreateObject(superName);
        if (!self->header.superObject) {
            Tal_FreeObjectMem(self);
            return nullptr;
        }
    } else {
        self->header.box = &self->box;
    }
    return self;
}

void disposeInstance(void* instance) {
    Tal_DisposeObject(static_cast<Tal_Object*>(instance)->superObject);
    Tal_FreeObjectMem(instance);
}

Tal_Word baseDispatch(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<TestInstance*>(instance);
    switch (id) {
    case SetValue:
        self->value = args[0];
        return 1;
    case GetValue:
        return self->value;
    case GetSelf:
        return self->header.handle;
    case DisposeTop:
        Tal_DisposeObject(Tal_GetTopMostObject(self->header.handle));
        return 1;
    case SetParent:
        self->box.parent = ULONG(args[0]);
        return 1;
    case UseCount:
        return Tal__UseCount(&self->header);
    default:
        unknownMethods++;
        return 0;
    }
}

Tal_Word forward(void* instance, ULONG id, const Tal_Word* args) {
    return Tal_DoMethodA(static_cast<Tal_Object*>(instance)->superObject, id, args);
}

Tal_Word middleDispatch(void* instance, ULONG id, const Tal_Word* args) {
    if (id == MiddleOnly) return 2;
    return forward(instance, id, args);
}

Tal_Word topDispatch(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<TestInstance*>(instance);
    if (id == TopOnly) return 3;
    if (id == SetValue) { // handled here and passed on, as an override that wants the base too
        self->value = args[0] * 2;
        return forward(instance, id, args);
    }
    return forward(instance, id, args);
}

void registerTestClasses() {
    Tal__SetupClass(
        &tBase, "TBase", 0x7E010000, nullptr, [](const TagItem*) { return newInstance(&tBase, nullptr); },
        disposeInstance, baseDispatch, baseMethods, sizeof(TestInstance));
    Tal__SetupClass(
        &tMiddle, "TMiddle", 0x7E020000, "TBase",
        [](const TagItem*) { return newInstance(&tMiddle, "TBase"); }, disposeInstance, middleDispatch,
        middleMethods, sizeof(TestInstance));
    Tal__SetupClass(
        &tTop, "TTop", 0x7E030000, "TMiddle", [](const TagItem*) { return newInstance(&tTop, "TMiddle"); },
        disposeInstance, topDispatch, topMethods, sizeof(TestInstance));
    Tal__SetupClass(
        &tWindow, "TWindow", 0x00090000, "TBase",
        [](const TagItem*) { return newInstance(&tWindow, "TBase"); }, disposeInstance, forward, nullptr,
        sizeof(TestInstance));
}

class Objects : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        registerTestClasses();
        unknownMethods = 0;
    }
    void TearDown() override {
        for (Tal_Class* cls : {&tWindow, &tTop, &tMiddle, &tBase}) {
            EXPECT_EQ(cls->instanceCount.load(), 0u) << cls->name << " objects left behind";
            Tal__CleanupClass(cls);
        }
        TalFixture::TearDown();
    }
};

TEST_F(Objects, HandlesStartAt1024AndAreNeverReused) {
    ULONG a = Tal_CreateObject("TBase");
    ULONG b = Tal_CreateObject("TBase");
    EXPECT_EQ(a, 1024u);
    EXPECT_EQ(b, 1025u);
    Tal_DisposeObject(a);
    ULONG c = Tal_CreateObject("TBase");
    EXPECT_EQ(c, 1026u);
    EXPECT_EQ(Tal_DoMethod(a, GetSelf), 0u);
    EXPECT_EQ(Tal_DoMethod(c, GetSelf), c);
    Tal_DisposeObject(b);
    Tal_DisposeObject(c);
}

TEST_F(Objects, TableGrowsInChunksWithoutDisturbingLiveHandles) {
    EXPECT_EQ(gd->handleCapacity.load(), 16000u);
    std::vector<ULONG> handles;
    while (gd->nextHandle.load() < 16000) {
        handles.push_back(Tal_CreateObject("TBase", SetValue, gd->nextHandle.load()));
        ASSERT_NE(handles.back(), 0u);
    }
    EXPECT_EQ(gd->handleCapacity.load(), 16000u);
    ULONG grown = Tal_CreateObject("TBase", SetValue, 16000);
    EXPECT_EQ(grown, 16000u);
    EXPECT_EQ(gd->handleCapacity.load(), 24000u);
    handles.push_back(grown);
    for (ULONG h : handles) ASSERT_EQ(Tal_DoMethod(h, GetValue), h);
    for (ULONG h : handles) Tal_DisposeObject(h);
}

TEST_F(Objects, BadHandlesYieldZeroAndAreReportedOnlyWithDiagnostics) {
    ULONG gone = Tal_CreateObject("TBase");
    Tal_DisposeObject(gone);
    ULONG notYet = gd->nextHandle.load();
    struct Case {
        ULONG handle;
        const char* report; // with diagnostics on; none for handle 0
    } cases[] = {{0, nullptr},
                 {2, "Tried to access illegal object"},
                 {notYet + 1, "Tried to access illegal object"},
                 {notYet, "Tried to access freed object"},
                 {gone, "Tried to access freed object"},
                 {500, "Tried to access freed object"}};
    for (const Case& c : cases) {
        {
            DebugCapture quiet;
            EXPECT_EQ(Tal_DoMethod(c.handle, GetValue), 0u);
            EXPECT_EQ(Tal_GetObjectInstance(c.handle), nullptr);
            EXPECT_EQ(quiet.text(), "") << c.handle;
        }
        gd->diagnostics = 1;
        DebugCapture loud;
        EXPECT_EQ(Tal_DoMethod(c.handle, GetValue), 0u);
        if (c.report)
            EXPECT_TRUE(loud.contains(std::string("Warning: ") + c.report))
                << c.handle << ": " << loud.text();
        else
            EXPECT_EQ(loud.text(), "");
        gd->diagnostics = 0;
    }
    Tal_DisposeObject(gone); // a second disposal does nothing
}

TEST_F(Objects, MethodsTravelDownTheChainAndDisposalTakesItAll) {
    ULONG top = Tal_CreateObject("TTop", SetValue, 21);
    auto* topInstance = static_cast<TestInstance*>(Tal_GetObjectInstance(top));
    ULONG middle = topInstance->header.superObject;
    ULONG base = static_cast<Tal_Object*>(Tal_GetObjectInstance(middle))->superObject;
    EXPECT_EQ(topInstance->value, 42u);          // the override ran ...
    EXPECT_EQ(Tal_DoMethod(top, GetValue), 21u); // ... and so did the base
    EXPECT_EQ(Tal_DoMethod(top, TopOnly), 3u);
    EXPECT_EQ(Tal_DoMethod(top, MiddleOnly), 2u);
    EXPECT_EQ(Tal_DoMethod(base, MiddleOnly), 0u); // inner instances do not see outer methods
    EXPECT_EQ(Tal_DoMethod(top, 0x7E0F0000), 0u);
    EXPECT_EQ(unknownMethods.load(), 2);
    EXPECT_EQ(Tal_DoMethod(top, GetSelf), base); // the base instance answers
    EXPECT_EQ(Tal_DoMethod(top, UseCount), 1u);  // one caller inside the base instance

    EXPECT_EQ(Tal_GetTopMostObject(base), top);
    EXPECT_EQ(Tal_GetTopMostObject(top), top);
    EXPECT_EQ(Tal_GetTopMostObject(0), 0u);
    EXPECT_EQ(Tal_GetObjectClassID(middle), 0x7E020000u);
    EXPECT_EQ(Tal_GetObjectClassID(0), 0u);
    EXPECT_EQ(tTop.instanceCount.load(), 1u);
    EXPECT_EQ(tBase.instanceCount.load(), 1u);

    Tal_DisposeObject(top);
    EXPECT_EQ(tBase.instanceCount.load(), 0u);
    for (ULONG h : {top, middle, base}) EXPECT_EQ(Tal_GetObjectInstance(h), nullptr);
}

TEST_F(Objects, AnObjectMayDisposeItselfFromInsideAMethod) {
    ULONG top = Tal_CreateObject("TTop");
    EXPECT_EQ(Tal_DoMethod(top, DisposeTop), 1u); // the memory outlives the call that freed it
    EXPECT_EQ(Tal_DoMethod(top, GetValue), 0u);
    EXPECT_EQ(tTop.instanceCount.load(), 0u);
}

TEST_F(Objects, CreateAppliesTagsInOrderThroughNextTagItem) {
    TagItem tags[] = {{SetValue, 1}, {TAG_SKIP, 2}, {SetValue, 2}, {SetValue, 3}, {TAG_DONE, 0}};
    ULONG h = Tal_CreateObjectA("TBase", tags);
    EXPECT_EQ(Tal_DoMethod(h, GetValue), 3u);
    Tal_DisposeObject(h);
    EXPECT_EQ(Tal_CreateObject("NoSuchClass"), 0u);
    EXPECT_EQ(Tal_CreateObject(nullptr), 0u);
    auto* image = static_cast<TestInstance*>(Tal_CreateImageObject("TBase", SetValue, 9));
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(Tal_DoImageMethod(image, GetValue), 9u);
    EXPECT_EQ(Tal_DoImageMethod(nullptr, GetValue), 0u);
    Tal_DisposeObject(image->header.handle);
}

TEST_F(Objects, CompactSliderIsMadeAsScroller) {
    ULONG h = Tal_NewObjectA("CompactSlider", nullptr);
    ASSERT_NE(h, 0u);
    EXPECT_STREQ(static_cast<Tal_Object*>(Tal_GetObjectInstance(h))->objClass->name, "Scroller");
    Tal_DisposeObject(h);
}

TEST_F(Objects, ClassesAndMethodsAreFoundByName) {
    EXPECT_EQ(Tal_FindClassFromName("TMiddle"), &tMiddle);
    EXPECT_EQ(Tal_FindClassFromName("tmiddle"), nullptr);
    EXPECT_EQ(tMiddle.superClass, &tBase);
    EXPECT_EQ(tMiddle.version, 2u);
    EXPECT_EQ(tMiddle.registered, 1u);

    // By name: every class in registration order, with or without the "Tal_" prefix.
    EXPECT_EQ(Tal_FindMethodFromString(nullptr, "Tal_SetTestValue"), &baseMethods[0]);
    EXPECT_EQ(Tal_FindMethodFromString(&tTop, "SetTestValue"), &baseMethods[0]);
    EXPECT_EQ(Tal_FindMethodFromString(nullptr, "Tal_TopOnly"), &topMethods[1]);
    EXPECT_EQ(Tal_FindMethodFromString(nullptr, "Tal_Nothing"), nullptr);
    // By identifier: the class, then its superclasses.
    EXPECT_EQ(Tal_FindMethodFromId(&tTop, GetValue), &baseMethods[1]);
    EXPECT_EQ(Tal_FindMethodFromId(&tTop, SetValue), &topMethods[0]);
    EXPECT_EQ(Tal_FindMethodFromId(&tMiddle, TopOnly), nullptr);

    // Removing a class removes its names; a later class with the same name takes over.
    Tal__CleanupClass(&tBase);
    EXPECT_EQ(Tal_FindClassFromName("TBase"), nullptr);
    EXPECT_EQ(Tal_FindMethodFromString(nullptr, "SetTestValue"), &topMethods[0]);
    EXPECT_EQ(Tal_FindMethodFromString(nullptr, "GetTestValue"), nullptr);
    EXPECT_EQ(Tal_AddClass(&tBase), 1u);
    EXPECT_EQ(Tal_AddClass(&tBase), 1u); // already there: not added twice
    EXPECT_EQ(Tal_FindMethodFromString(nullptr, "GetTestValue"), &baseMethods[1]);
}

TEST_F(Objects, SearchHierarchyClimbsContainersButSkipsTheObject) {
    ULONG window = Tal_CreateObject("TWindow");
    ULONG group = Tal_CreateObject("TMiddle", SetParent, window);
    ULONG button = Tal_CreateObject("TTop", SetParent, group);
    EXPECT_EQ(Tal_GetParentObject(button), group);
    EXPECT_EQ(Tal_GetParentObject(window), 0u);
    EXPECT_EQ(Tal_SearchHierachyForClassId(button, 0x00090000), window);
    EXPECT_EQ(Tal_SearchHierachyForClassId(button, 0x7E010000), group); // the group's chain holds a TBase
    EXPECT_EQ(Tal_SearchHierachyForClassId(button, 0x7E030000), 0u);    // its own class
    EXPECT_EQ(Tal_SearchHierachyForClassId(0, 0x00090000), 0u);
    for (ULONG h : {button, group, window}) Tal_DisposeObject(h);
}

TEST_F(Objects, DebugOutputNamesMethods) {
    ULONG h = Tal_CreateObject("TBase");
    DebugCapture debug;
    Tal_DebugDoClassMethod(Tal_GetObjectInstance(h), GetValue);
    Tal_DebugDoClassMethod(Tal_GetObjectInstance(h), 0x7E0100FF);
    EXPECT_EQ(debug.text(), "Method=Tal_GetTestValue, (Class=TBase)\nMethod=2113995007 (Class=TBase)\n");
    Tal_DisposeObject(h);
}

TEST_F(Objects, NestedInitKeepsTheState) {
    ULONG h = Tal_CreateObject("TBase", SetValue, 5);
    EXPECT_EQ(Tal_Init(), gd);
    Tal_CleanUp();
    EXPECT_EQ(Tal_DoMethod(h, GetValue), 5u);
    EXPECT_EQ(Tal_FindClassFromName("TBase"), &tBase);
    Tal_DisposeObject(h);
}

TEST_F(Objects, ExternalSearchPathsAreKept) {
    EXPECT_EQ(Tal_AddExternalClassSearchPath("/usr/lib/velura"), 1u);
    EXPECT_EQ(ListCount(&gd->searchPaths), 1u);
    EXPECT_EQ(Tal_RemoveExternalClassSearchPath("/usr/lib/velura"), 0u);
    EXPECT_EQ(ListCount(&gd->searchPaths), 1u); // freed at clean-up
}

// Threads create, call and dispose their own objects, and call and dispose objects of a shared pool
// that others dispose at the same moment: calls on a going object return 0, never crash.
TEST_F(Objects, ManyThreadsCreateCallAndDisposeAtOnce) {
    constexpr int kThreads = 4, kRounds = 2000, kPool = 64;
    std::vector<std::atomic<ULONG>> pool(kPool);
    for (auto& slot : pool) slot = Tal_CreateObject("TTop", SetValue, 1);
    std::atomic<long> answered{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            std::mt19937 random(t);
            for (int i = 0; i < kRounds; i++) {
                ULONG own = Tal_CreateObject("TTop", SetValue, i);
                EXPECT_EQ(Tal_DoMethod(own, GetValue), Tal_Word(i));
                Tal_DisposeObject(own);
                auto& slot = pool[random() % kPool];
                ULONG shared = slot.load();
                if (Tal_DoMethod(shared, GetValue) == 1) answered++;
                if (random() % 8 == 0) {
                    ULONG fresh = Tal_CreateObject("TTop", SetValue, 1);
                    ULONG old = slot.exchange(fresh);
                    Tal_DisposeObject(old);
                }
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (auto& slot : pool) Tal_DisposeObject(slot.load());
    EXPECT_GT(answered.load(), 0);
}

TEST_F(Objects, UsageReportCountsLiveObjects) {
    std::string dir = std::string(std::getenv("VELURA_TEST_TMP") ? std::getenv("VELURA_TEST_TMP") : "/tmp") +
                      "/usage-report";
    std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
    setenv("VELURA_USER_DIR", dir.c_str(), 1);
    host__ResetDirectories();
    static Tal_Class hundred;
    Tal__SetupClass(
        &hundred, "Hundred", 0x7E090000, nullptr, [](const TagItem*) { return Tal_AllocObjectMem(&hundred); },
        Tal_FreeObjectMem, [](void*, ULONG, const Tal_Word*) { return Tal_Word(0); }, nullptr, 100);
    ULONG objects[3];
    for (ULONG& h : objects) h = Tal_CreateObject("Hundred");
    Tal__ReportObjectUsage(__FILE__, __LINE__);
    std::ifstream in(dir + "/objects.txt");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(),
              "Class Hundred has 3 Objects, total size 300\nTotal of 3 Objects, total size 0kb\n\n");
    for (ULONG h : objects) Tal_DisposeObject(h);
    Tal__CleanupClass(&hundred);
    unsetenv("VELURA_USER_DIR");
    host__ResetDirectories();
}

} // namespace
