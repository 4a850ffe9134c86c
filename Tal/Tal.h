// The object system: classes registered by name, objects addressed by handles, methods addressed by
// 32-bit identifiers, superclass behaviour by delegation to a contained superclass instance.
#pragma once

#include "Tal/TalBase.h"
#include "host/host.h"

#include <atomic>

struct Tal_Class;
struct Tal_DrawInfo;
struct Tal_Semaphore;
struct Region;

// ---------------------------------------------------------------------------------------------------
// Classes.

// Kinds of method-table entries.
constexpr ULONG TAL_METHOD_PLAIN = 1;
constexpr ULONG TAL_METHOD_SETTER = 2;
constexpr ULONG TAL_METHOD_GETTER = 4;

// One method that can be named in text or stored.
struct Tal_MethodEntry {
    ULONG id;
    const char* name;
    ULONG kind;
    ULONG counterpart;        // the getter of a setter, the setter of a getter, the opposite method
    const char* argFormat;    // "%ld", "%lx" or "%s" per argument word, or none
    const void* reserved1;
    const char* resultFormat; // for getters
    const void* reserved2;
    const void* reserved3;
};

using Tal_NewFunction = void* (*)(const TagItem* tags);
using Tal_DisposeFunction = void (*)(void* instance);
using Tal_DispatchFunction = Tal_Word (*)(void* instance, ULONG id, const Tal_Word* args);

constexpr ULONG TAL_CLASS_VERSION = 2;

struct Tal_Class {
    MinNode links;
    const char* name;
    const char* info;
    ULONG classId;
    ULONG version;
    ULONG registered;
    Tal_Class* superClass;
    std::atomic<ULONG> instanceCount;
    Tal_NewFunction newFunction;
    Tal_DisposeFunction disposeFunction;
    Tal_DispatchFunction dispatchFunction;
    ULONG reserved;
    const Tal_MethodEntry* methods; // ended by an entry with id 0
    const void* secondTable;
    ULONG instanceSize;
};

// ---------------------------------------------------------------------------------------------------
// Objects.

// The layout box of an object (kept in its Root instance).
struct Tal_Box {
    WORD x, y;
    WORD width, height;
    WORD minWidth, minHeight;
    WORD maxWidth, maxHeight;
    ULONG parent;
    ULONG flags; // TAL_BOX_HIDDEN
    ULONG reserved;
    Region* clipRegion;
    Region* savedClipRegion;
};
constexpr ULONG TAL_BOX_HIDDEN = 1;

// The header every instance starts with; the class's own fields follow.
struct Tal_Object {
    ULONG handle;
    ULONG superObject; // receives every method this class does not handle; 0 for Root
    Tal_Class* objClass;
    Tal_Box* box;           // Root instances only
    Tal_DrawInfo* drawInfo; // Root instances only
    ULONG outerObject;      // the instance this one works for, 0 when it stands alone
    // Callers currently inside the object, plus two state bits of the object system.
    std::atomic<ULONG> useCount;
};

// The number of callers inside an object (its use count without the state bits).
ULONG Tal__UseCount(const Tal_Object* instance);

// ---------------------------------------------------------------------------------------------------
// Process-wide state.

struct Tal_GlobalData {
    SignalSemaphore registryLock; // class list, handle table growth, search paths, shortcut keys
    List classList;
    List searchPaths;
    List shortcutKeys;
    void* imageBase;
    std::atomic<ULONG> diagnostics; // non-zero: invalid handles and unknown methods are reported
    ULONG tooltips;
    ULONG tooltipDelay;
    std::atomic<LONG> pendingDisposals;
    ULONG qualifier;
    LONG initCount;
    ULONG buttonFaceColour; // default colour 2 of new objects, 0x00BBGGRR
    ULONG highlightColour;  // default colour 3
    ULONG standardMargin;
    // The handle table (see mainObjects.cpp).
    void* handleTable;
    std::atomic<ULONG> nextHandle;
    std::atomic<ULONG> handleCapacity;
    // Every Tal_Semaphore of the process, and the lock of that list.
    List semaphores;
    SignalSemaphore semaphoreListLock;
    // The global object lock: guards notification and member lists.
    Tal_Semaphore* objectLock;
};

Tal_GlobalData* Tal_GetGlobalData();

// ---------------------------------------------------------------------------------------------------
// Registry.

Tal_GlobalData* Tal_Init();
void Tal_CleanUp();
ULONG Tal_AddClass(Tal_Class* cls);
ULONG Tal_RemoveClass(Tal_Class* cls);
Tal_Class* Tal_FindClassFromName(const char* name);
ULONG Tal_AddExternalClassSearchPath(const char* path);
ULONG Tal_RemoveExternalClassSearchPath(const char* path);
const Tal_MethodEntry* Tal_FindMethodFromId(const Tal_Class* cls, ULONG id);
const Tal_MethodEntry* Tal_FindMethodFromString(const Tal_Class* cls, const char* name);
void Tal_DebugDoClassMethod(const void* instance, ULONG id);

// Fills a class record the way every class's initialisation function does and registers it; the
// superclass is looked up by name (none when it is not registered yet). Returns 1 when registered.
ULONG Tal__SetupClass(Tal_Class* cls, const char* name, ULONG classId, const char* superName,
                           Tal_NewFunction newFunction, Tal_DisposeFunction disposeFunction,
                           Tal_DispatchFunction dispatchFunction, const Tal_MethodEntry* methods,
                           ULONG instanceSize);
// Removes a class record when it is registered.
void Tal__CleanupClass(Tal_Class* cls);

// ---------------------------------------------------------------------------------------------------
// Objects.

ULONG Tal_NewObjectA(const char* className, const TagItem* tags);
ULONG Tal_CreateObjectA(const char* className, const TagItem* tags);
void* Tal_CreateImageObjectA(const char* className, const TagItem* tags);
void Tal_DisposeObject(ULONG handle);
void* Tal_AllocObjectMem(Tal_Class* cls);
void Tal_FreeObjectMem(void* instance);
void* Tal_GetObjectInstance(ULONG handle);
void* Tal_LockObjectInstance(ULONG handle);
void Tal_UnlockObjectInstance(void* instance);
Tal_Word Tal_DoMethodA(ULONG handle, ULONG id, const Tal_Word* args);
ULONG Tal_LockObject(ULONG handle);
void Tal_UnlockObject(ULONG handle);
ULONG Tal_GetObjectClassID(ULONG handle);
ULONG Tal_GetTopMostObject(ULONG handle);
ULONG Tal_GetParentObject(ULONG handle);
ULONG Tal_SearchHierachyForClassId(ULONG handle, ULONG classId);
inline Tal_Word Tal_StackCheck(Tal_Word x) { return x; }

template <typename... A>
ULONG Tal_CreateObject(const char* className, A... tagsAndValues) {
    const auto tags = Tal_MakeTags(tagsAndValues...);
    return Tal_CreateObjectA(className, tags.data());
}

template <typename... A>
void* Tal_CreateImageObject(const char* className, A... tagsAndValues) {
    const auto tags = Tal_MakeTags(tagsAndValues...);
    return Tal_CreateImageObjectA(className, tags.data());
}

template <typename... A>
Tal_Word Tal_DoMethod(ULONG handle, ULONG id, A... args) {
    const Tal_Word words[] = {Tal_ToWord(args)..., 0};
    return Tal_DoMethodA(handle, id, words);
}

// Image and image-view records start with their instance header, so their handle is the first field.
template <typename... A>
Tal_Word Tal_DoImageMethod(const void* image, ULONG id, A... args) {
    if (!image) return 0;
    return Tal_DoMethod(static_cast<const Tal_Object*>(image)->handle, id, args...);
}

template <typename... A>
Tal_Word Tal_DoImageViewMethod(const void* view, ULONG id, A... args) {
    return Tal_DoImageMethod(view, id, args...);
}

// Reports a problem of the object system: a requester when diagnostics are on and message boxes exist,
// otherwise the debug output.
void Tal__ReportDiagnostic(const char* title, const char* text);
