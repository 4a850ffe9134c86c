// The object system: classes registered by name, objects addressed by handles, methods addressed by
// 32-bit identifiers, superclass behaviour by delegation to a contained superclass instance.
#pragma once

#include "Tal/TalBase.h"
#include "host/host.h"

#include <atomic>
#include <cstdio>
#include <span>

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
    ULONG counterpart;     // the getter of a setter, the setter of a getter, the opposite method
    const char* argFormat; // "%ld", "%lx" or "%s" per argument word, or none
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
    // The handle table (see Objects.cpp).
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

// A class that Tal_Init registers: its initialisation and clean-up functions.
struct Tal_ClassRegistration {
    ULONG (*init)();
    void (*cleanup)();
};
// The classes the first Tal_Init registers, in this order (stopping at the first that fails), and the last
// Tal_CleanUp removes in the reverse order. The program hands its table down before it starts the object
// system; the table is kept by reference. Without one, the object system's own classes (Root, Thread).
// Ignored while the object system is running.
void Tal_SetClassRegistrations(std::span<const Tal_ClassRegistration> classes);
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
inline Tal_Word Tal_StackCheck(Tal_Word x) {
    return x;
}

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

// ---------------------------------------------------------------------------------------------------
// Semaphores of the object system: recursive exclusive locks with a shared mode, bounded retries when a
// wait could close a cycle of waiting tasks, and the source place of every obtain.

struct Tal_Semaphore {
    SignalSemaphore hostLock; // guards the record; its node links it into the global list
    List holders;             // one node per shared hold or shared request
    List waiters;             // one node per task waiting for exclusive access
    LONG sharedCount;
    ULONG exclusiveCount; // exclusive holds (nested ones too) plus exclusive requests still trying
    LONG nesting;         // 0 while held once, 2 at the second obtain, then +1 per obtain
    ULONG reserved;
    Task* owner;
    const char* obtainedFile;
    ULONG obtainedLine;
    const char* createdFile;
    ULONG createdLine;
};

// Retry counts callers pass: 0 never waits, 100 for state and list changes, TAL_MUST_LOCK where the
// caller must have the lock.
constexpr ULONG TAL_LOCK_TRY = 0;
constexpr ULONG TAL_LOCK_RETRIES = 100;
constexpr ULONG TAL_MUST_LOCK = 0x00FFFFFF;

Tal_Semaphore* Tal_AllocSemaphoreDebug(const char* file, ULONG line);
void Tal_FreeSemaphoreDebug(Tal_Semaphore* sem, const char* file, ULONG line);
ULONG Tal_ObtainSemaphoreDebug(Tal_Semaphore* sem, ULONG retries, const char* file, ULONG line);
void Tal_ReleaseSemaphoreDebug(Tal_Semaphore* sem, const char* file, ULONG line);
ULONG Tal_ObtainSemaphoreSharedDebug(Tal_Semaphore* sem, ULONG retries, const char* file, ULONG line);
void Tal_ReleaseSemaphoreSharedDebug(Tal_Semaphore* sem, const char* file, ULONG line);

#define Tal_AllocSemaphore() Tal_AllocSemaphoreDebug(__FILE__, __LINE__)
#define Tal_FreeSemaphore(sem) Tal_FreeSemaphoreDebug((sem), __FILE__, __LINE__)
#define Tal_ObtainSemaphore(sem, retries) Tal_ObtainSemaphoreDebug((sem), (retries), __FILE__, __LINE__)
#define Tal_ReleaseSemaphore(sem) Tal_ReleaseSemaphoreDebug((sem), __FILE__, __LINE__)
#define Tal_ObtainSemaphoreShared(sem, retries)                                                              \
    Tal_ObtainSemaphoreSharedDebug((sem), (retries), __FILE__, __LINE__)
#define Tal_ReleaseSemaphoreShared(sem) Tal_ReleaseSemaphoreSharedDebug((sem), __FILE__, __LINE__)

// Writes the object usage report "objects.txt" (in the user directory); the arguments are not used.
void Tal__ReportObjectUsage(const char* file, ULONG line);

// ---------------------------------------------------------------------------------------------------
// Object trees, built from a word list (see Trees.cpp for the codes).

constexpr Tal_Word TAL_TREE_END = 0;
constexpr Tal_Word TAL_TREE_OBJECT = 11; // class name: a member, opened
constexpr Tal_Word TAL_TREE_CLOSE = 21;
constexpr Tal_Word TAL_TREE_TEXT = 31;      // text: a Text with that label
constexpr Tal_Word TAL_TREE_TEXTVALUE = 32; // text: a Text showing that value
constexpr Tal_Word TAL_TREE_LABEL = 33;     // text: a Text with that label and weight 0
constexpr Tal_Word TAL_TREE_TURNED = 36;    // text: a Text turned through 270 degrees, weight 0
constexpr Tal_Word TAL_TREE_TEXTMODE4 = 37; // text: a Text with text mode 4
constexpr Tal_Word TAL_TREE_BITMAP = 41;    // file name: a BitMap showing that picture
constexpr Tal_Word TAL_TREE_HGROUP = 51;
constexpr Tal_Word TAL_TREE_VGROUP = 61;
constexpr Tal_Word TAL_TREE_STRING = 71;
constexpr Tal_Word TAL_TREE_STRING1 = 81;
constexpr Tal_Word TAL_TREE_COMPACTSLIDER = 91;
constexpr Tal_Word TAL_TREE_SLIDER = 101;
constexpr Tal_Word TAL_TREE_SPACE = 0x000E000A;         // n: a Space of size n
constexpr Tal_Word TAL_TREE_SPACE_HEIGHT1 = 0x000E0014; // a Space of fixed height 1
constexpr Tal_Word TAL_TREE_SPACE_WIDTH1 = 0x000E001E;  // a Space of fixed width 1
constexpr Tal_Word TAL_TREE_SPACE_WIDTH = 0x000E003C;   // n: fixed width n, fixed height 1
constexpr Tal_Word TAL_TREE_SPACE_HEIGHT = 0x000E0046;  // n: fixed width 1, fixed height n
constexpr Tal_Word TAL_TREE_HANDLE = 0x8000012C;        // address of a ULONG: the last created object

ULONG Tal_CreateObjectsA(const Tal_Word* words, ULONG subclassFlag);
template <typename... A>
ULONG Tal_CreateObjects(int, A... words) {
    const Tal_Word list[] = {Tal_ToWord(words)..., 0};
    return Tal_CreateObjectsA(list, 0);
}
template <typename... A>
ULONG Tal_CreateSubClassObjects(int, A... words) {
    const Tal_Word list[] = {Tal_ToWord(words)..., 0};
    return Tal_CreateObjectsA(list, 1);
}

ULONG Tal_AddObjectA(ULONG parent, const char* className, const TagItem* tags);
template <typename... A>
ULONG Tal_AddObject(ULONG parent, const char* className, A... tagsAndValues) {
    const auto tags = Tal_MakeTags(tagsAndValues...);
    return Tal_AddObjectA(parent, className, tags.data());
}

void Tal_DoMethodForAllA(ULONG container, ULONG id, const Tal_Word* args);
template <typename... A>
void Tal_DoMethodForAll(ULONG container, ULONG id, A... args) {
    const Tal_Word words[] = {Tal_ToWord(args)..., 0};
    Tal_DoMethodForAllA(container, id, words);
}

// ---------------------------------------------------------------------------------------------------
// Notifications: a change of an attribute of a source object sends a prepared method to a target, or
// calls a function.

// Target codes resolved when a notification fires.
constexpr ULONG TAL_TARGET_VALUE = 0x000100C0;       // the object named by the new attribute value
constexpr ULONG TAL_TARGET_IMAGE = 0x00130028;       // the current image
constexpr ULONG TAL_TARGET_LAYER = 0x001000B5;       // the current layer of the current image
constexpr ULONG TAL_TARGET_INNER_LAYER = 0x001000B7; // its own current layer, else the current layer

using Tal_NotifyCallback = Tal_Word (*)(Tal_Word userData, ULONG source, ULONG trigger, const Tal_Word* args);

Tal_Word Tal_AddNotifyA(ULONG source, ULONG trigger, Tal_Word value, Tal_Word target, ULONG count,
                        const Tal_Word* method);
// Tal_AddNotify(source, trigger, value, target, n, method, arg, ...): n words of method and arguments.
template <typename... A>
Tal_Word Tal_AddNotify(ULONG source, ULONG trigger, Tal_Word value, Tal_Word target, ULONG count,
                       A... words) {
    const Tal_Word method[] = {Tal_ToWord(words)..., 0};
    return Tal_AddNotifyA(source, trigger, value, target, count, method);
}
Tal_Word Tal_AddCallBackNotify(ULONG source, ULONG trigger, Tal_Word value, Tal_NotifyCallback function,
                               Tal_Word userData);
ULONG Tal_RemoveNotify(ULONG source, Tal_Word identifier);

// The trigger words: the trigger identifier, then its arguments; zero words follow, so that placeholders
// may name arguments the trigger does not have.
Tal_Word Tal_DoNotifyWords(ULONG source, const Tal_Word* triggerWords);
template <typename... A>
Tal_Word Tal_DoNotify(ULONG source, ULONG trigger, A... args) {
    const Tal_Word words[] = {trigger, Tal_ToWord(args)..., 0, 0, 0, 0, 0, 0, 0, 0};
    return Tal_DoNotifyWords(source, words);
}
template <typename... A>
Tal_Word Tal_DoImageNotify(const void* image, ULONG trigger, A... args) {
    if (!image) return 0;
    return Tal_DoNotify(static_cast<const Tal_Object*>(image)->handle, trigger, args...);
}
inline Tal_Word Tal_DoNotifyA() {
    return 0;
}

// Resolves the image target codes; the image engine installs it, until then they name no object.
using Tal_ImageTargetResolver = ULONG (*)(ULONG code);
void Tal__SetImageTargetResolver(Tal_ImageTargetResolver resolver);

// ---------------------------------------------------------------------------------------------------
// Asynchronous methods: a method queued on the port of the thread that owns an object.

struct Tal_AsyncMessage {
    Message message; // length = bytes of the argument words
    ULONG target;    // the topmost handle of the object the method was sent to
    Tal_Word command;
    Tal_Word args[1]; // as many as copied
};

// The argument words of a queued message.
inline size_t Tal_AsyncArgCount(const Tal_AsyncMessage* msg) {
    return msg->message.mn_Length / sizeof(Tal_Word);
}

ULONG Tal_DoAsyncMethodA(ULONG handle, const Tal_Word* words);
template <typename... A>
ULONG Tal_DoAsyncMethod(ULONG handle, A... words) {
    const Tal_Word list[] = {Tal_ToWord(words)..., 0, 0};
    return Tal_DoAsyncMethodA(handle, list);
}
template <typename... A>
ULONG Tal_DoAsyncImageMethod(const void* image, A... words) {
    if (!image) return 0;
    return Tal_DoAsyncMethod(static_cast<const Tal_Object*>(image)->handle, words...);
}

// Drains a port of asynchronous messages the way an owning thread does: "perform a method on a target"
// messages are performed here, redraws of one object queued back to back are drawn once, and every other
// command goes to `handler`. Every message is released afterwards.
using Tal_AsyncHandler = void (*)(Tal_AsyncMessage* msg, void* user);
void Tal__DrainAsyncPort(MsgPort* port, Tal_AsyncHandler handler, void* user);

// Takes every queued message of a command off a port (released unperformed); returns how many.
ULONG Tal__DropAsyncMessages(MsgPort* port, Tal_Word command);

ULONG Tal_AsyncDisposeObject(ULONG handle);

// ---------------------------------------------------------------------------------------------------
// Stored objects: objects written as text (".TalStr" files) and rebuilt from it.

struct Tal_StoreObjectData {
    FILE* file;
    Tal_Word reserved;
    LONG depth; // indentation of the object being written
    ULONG flag;
};

ULONG Tal_StoreObjectToDisk(ULONG handle, const char* fileName, ULONG flags);
ULONG Tal__InternalStoreObject(ULONG handle, Tal_StoreObjectData* context);
ULONG Tal__InternalStoreObjectMethods(ULONG handle, Tal_StoreObjectData* context);
// The text of the whole object in a block of its own (release with Tal_FreeStoredObjectBuffer); none on
// failure. The size excludes the terminating zero.
char* Tal_StoreObjectToBuffer(ULONG handle, ULONG* size, ULONG flags);
void Tal_FreeStoredObjectBuffer(char* text);
ULONG Tal_RestoreObjectFromDisk(const char* fileName);
// Parses (and rewrites) the text; restored text attributes point into it, so it must live as long as
// the objects. Returns the first object created. A text that nests objects deeper than
// TAL_MAX_STORED_NESTING is damaged: 0, and nothing is made. A method line whose number is no number of
// its format (or does not fit 32 bits) is not applied, so the attribute keeps its value.
constexpr size_t TAL_MAX_STORED_NESTING = 256;
ULONG Tal_CreateObjectsFromString(char* text);
ULONG Tal_CopyObjectToObject(ULONG destination, ULONG source);
