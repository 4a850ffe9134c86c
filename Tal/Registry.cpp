// Start and end of the object system, and the class registry.
#include "Tal/Root.h"
#include "Tal/Tal.h"
#include "Tal/Thread.h"
#include "host/dos.h"
#include "host/intuition.h"
#include "host/msgbox.h"

#include <cassert>
#include <cstdio>
#include <mutex>
#include <span>
#include <string_view>
#include <unordered_map>

void Tal__InitHandleTable(Tal_GlobalData* gd);
void Tal__FreeHandleTable(Tal_GlobalData* gd);

namespace {

Tal_GlobalData globalData;
std::mutex initLock;

// The object system's own classes: what Tal_Init registers when the program names no other table.
constexpr Tal_ClassRegistration ownClasses[] = {
    {Tal_InitRootClass, Tal_CleanupRootClass},
    {Tal_InitThreadClass, Tal_CleanupThreadClass},
};
std::span<const Tal_ClassRegistration> registeredClasses = ownClasses;

constexpr const char* serviceLibraries[] = {"dos.library",          "graphics.library", "intuition.library",
                                            "utility.library",      "icon.library",     "layers.library",
                                            "cybergraphics.library"};

// Indexes over the class list, kept under the registry lock: the first registered class of a name, and
// the first registered method entry of a name (without its "Tal_" prefix).
std::unordered_map<std::string_view, Tal_Class*> classesByName;
std::unordered_map<std::string_view, const Tal_MethodEntry*> methodsByName;

std::string_view withoutPrefix(const char* name) {
    std::string_view view(name);
    if (view.starts_with("Tal_")) view.remove_prefix(4);
    return view;
}

void indexClass(Tal_Class* cls) {
    classesByName.emplace(cls->name, cls);
    if (!cls->methods) return;
    for (const Tal_MethodEntry* entry = cls->methods; entry->id; entry++) {
        if (!entry->name) continue;
        auto [it, added] = methodsByName.emplace(withoutPrefix(entry->name), entry);
        // Two classes may share a method name only when they share its identifier.
        assert(added || it->second->id == entry->id);
        (void)it;
        (void)added;
    }
}

void rebuildIndexes() {
    classesByName.clear();
    methodsByName.clear();
    for (Tal_Class* cls : ListNodes<Tal_Class>(&globalData.classList)) indexClass(cls);
}

} // namespace

Tal_GlobalData* Tal_GetGlobalData() {
    return &globalData;
}

Tal_Semaphore* Tal__ObjectLock() {
    return globalData.objectLock;
}

void Tal_SetClassRegistrations(std::span<const Tal_ClassRegistration> classes) {
    std::lock_guard lock(initLock);
    if (globalData.initCount == 0) registeredClasses = classes;
}

Tal_GlobalData* Tal_Init() {
    std::lock_guard lock(initLock);
    Tal_GlobalData* gd = &globalData;
    if (gd->initCount++ > 0) return gd;

    Tal__InitHandleTable(gd);
    for (const char* name : serviceLibraries) OpenLibrary(name, 0);

    InitSemaphore(&gd->registryLock);
    InitSemaphore(&gd->semaphoreListLock);
    NewList(&gd->classList);
    NewList(&gd->searchPaths);
    NewList(&gd->shortcutKeys);
    NewList(&gd->semaphores);
    gd->tooltips = 0;
    gd->tooltipDelay = 5;
    gd->diagnostics = 0;
    gd->pendingDisposals = 0;
    gd->buttonFaceColour = 0x00C0C0C0;
    gd->highlightColour = 0x00FFB6AA;
    gd->standardMargin = 2;

    gd->objectLock = Tal_AllocSemaphore();

    for (const Tal_ClassRegistration& entry : registeredClasses)
        if (!entry.init()) break;
    return gd;
}

void Tal_CleanUp() {
    std::lock_guard lock(initLock);
    Tal_GlobalData* gd = &globalData;
    if (gd->initCount <= 0 || --gd->initCount > 0) return;

    while (gd->pendingDisposals.load() > 0) Delay(10);
    while (Node* path = RemHead(&gd->searchPaths)) Tal_FreeMem(path);
    while (Node* shortcut = RemHead(&gd->shortcutKeys)) Tal_FreeMem(shortcut);
    for (auto it = registeredClasses.rbegin(); it != registeredClasses.rend(); ++it) it->cleanup();
    // Classes their owners forgot to remove must not look registered to the next start.
    while (Node* node = RemHead(&gd->classList)) reinterpret_cast<Tal_Class*>(node)->registered = 0;
    Tal_FreeSemaphore(gd->objectLock);
    gd->objectLock = nullptr;

    Tal__FreeHandleTable(gd);
    classesByName.clear();
    methodsByName.clear();
    CleanupSemaphore(&gd->semaphoreListLock);
    CleanupSemaphore(&gd->registryLock);
}

ULONG Tal_AddClass(Tal_Class* cls) {
    if (!cls) return 0;
    SemaphoreGuard guard(&globalData.registryLock);
    if (cls->registered) return 1;
    AddTail(&globalData.classList, &cls->links);
    cls->registered = 1;
    indexClass(cls);
    return 1;
}

ULONG Tal_RemoveClass(Tal_Class* cls) {
    if (!cls) return 0;
    SemaphoreGuard guard(&globalData.registryLock);
    if (!cls->registered) return 1;
    Remove(&cls->links);
    cls->registered = 0;
    rebuildIndexes();
    return 1;
}

Tal_Class* Tal_FindClassFromName(const char* name) {
    if (!name) return nullptr;
    SemaphoreGuard guard(&globalData.registryLock);
    auto it = classesByName.find(name);
    return it == classesByName.end() ? nullptr : it->second;
}

ULONG Tal__SetupClass(Tal_Class* cls, const char* name, ULONG classId, const char* superName,
                      Tal_NewFunction newFunction, Tal_DisposeFunction disposeFunction,
                      Tal_DispatchFunction dispatchFunction, const Tal_MethodEntry* methods,
                      ULONG instanceSize) {
    if (cls->registered) return 1;
    cls->name = name;
    cls->info = "";
    cls->classId = classId;
    cls->version = TAL_CLASS_VERSION;
    cls->superClass = superName ? Tal_FindClassFromName(superName) : nullptr;
    cls->instanceCount = 0;
    cls->newFunction = newFunction;
    cls->disposeFunction = disposeFunction;
    cls->dispatchFunction = dispatchFunction;
    cls->reserved = 0;
    cls->methods = methods;
    cls->secondTable = nullptr;
    cls->instanceSize = instanceSize;
    return Tal_AddClass(cls);
}

void Tal__CleanupClass(Tal_Class* cls) {
    if (cls && cls->registered) Tal_RemoveClass(cls);
}

ULONG Tal_AddExternalClassSearchPath(const char* path) {
    auto* node = static_cast<Node*>(Tal_AllocMemClear(sizeof(Node)));
    if (!node) return 0;
    node->ln_Name = const_cast<char*>(path); // kept by reference
    SemaphoreGuard guard(&globalData.registryLock);
    AddTail(&globalData.searchPaths, node);
    return 1;
}

ULONG Tal_RemoveExternalClassSearchPath(const char*) {
    SemaphoreGuard guard(&globalData.registryLock);
    return 0;
}

const Tal_MethodEntry* Tal_FindMethodFromId(const Tal_Class* cls, ULONG id) {
    for (; cls; cls = cls->superClass) {
        if (!cls->methods) continue;
        for (const Tal_MethodEntry* entry = cls->methods; entry->id; entry++)
            if (entry->id == id) return entry;
    }
    return nullptr;
}

// Searches every registered class in registration order; the class argument is not consulted.
const Tal_MethodEntry* Tal_FindMethodFromString(const Tal_Class*, const char* name) {
    if (!name) return nullptr;
    SemaphoreGuard guard(&globalData.registryLock);
    auto it = methodsByName.find(withoutPrefix(name));
    return it == methodsByName.end() ? nullptr : it->second;
}

void Tal_DebugDoClassMethod(const void* instance, ULONG id) {
    const auto* object = static_cast<const Tal_Object*>(instance);
    const char* className = object && object->objClass ? object->objClass->name : "";
    const Tal_MethodEntry* found = nullptr;
    {
        SemaphoreGuard guard(&globalData.registryLock);
        for (Tal_Class* cls : ListNodes<Tal_Class>(&globalData.classList)) {
            if (cls->classId != (id & 0xFFFF0000u) || !cls->methods) continue;
            for (const Tal_MethodEntry* entry = cls->methods; entry->id && !found; entry++)
                if (entry->id == id) found = entry;
            break;
        }
    }
    if (found && found->name)
        KPrintF("Method=%s, (Class=%s)\n", found->name, className);
    else
        KPrintF("Method=%ld (Class=%s)\n", long(int32_t(id)), className);
}

// Shown in a message box once the program has a screen; always written to the debug output.
void Tal__ReportDiagnostic(const char* title, const char* text) {
    if (!globalData.diagnostics.load(std::memory_order_relaxed)) return;
    KPrintF("%s: %s\n", title, text);
    if (host_Intuition()->FirstScreen) host_MessageBox(title, text, 2);
}

void Tal__ReportObjectUsage(const char*, ULONG) {
    Tal_SafeSave save;
    FILE* file = Tal_SafeSaveOpen(&save, "objects.txt", "w");
    if (!file) return;
    long totalCount = 0, totalSize = 0;
    {
        SemaphoreGuard guard(&globalData.registryLock);
        for (Tal_Class* cls : ListNodes<Tal_Class>(&globalData.classList)) {
            long count = long(cls->instanceCount.load());
            if (count == 0) continue;
            long size = count * long(cls->instanceSize);
            std::fprintf(file, "Class %s has %ld Objects, total size %ld\n", cls->name, count, size);
            totalCount += count;
            totalSize += size;
        }
    }
    std::fprintf(file, "Total of %ld Objects, total size %ldkb\n\n", totalCount, totalSize / 1024);
    if (!Tal_SafeSaveCommit(&save)) KPutStr("Tal__ReportObjectUsage: objects.txt could not be written\n");
}
