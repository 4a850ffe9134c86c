// Screen: the container of windows; it owns the host screen.
#include "ui/Group.h"
#include "Tal/Root.h"
#include "ui/Window.h"

#include <cstdio>

namespace {

Tal_Class screenClass;

constexpr size_t kTextSize = 257;

struct ScreenInstance {
    Tal_Object header;
    ULONG type; // 0 and 1: the shared public screen; 2: a screen of its own
    char title[kTextSize];
    char publicName[kTextSize];
    Screen* host;
    ULONG words[8]; // further words, kept for whoever sets them
    ULONG windowType;
    Tal_DrawInfo inspection;
};

ScreenInstance* of(void* instance) {
    return static_cast<ScreenInstance*>(instance);
}

void openHost(ScreenInstance* s) {
    if (s->host) return;
    s->host = s->type == 2 ? OpenScreenTags(nullptr, SA_Title, s->title) : LockPubScreen();
    if (!s->host) return;
    host_InitDrawInfo(&s->inspection, &s->host->RastPort);
    s->inspection.screen = s->host;
    s->inspection.screenObject = s->header.handle;
    Tal__SetInspectionDrawInfo(&s->inspection);
}

void closeHost(ScreenInstance* s) {
    if (!s->host) return;
    Tal__ClearInspectionDrawInfo(&s->inspection);
    if (s->type == 2)
        while (!CloseScreen(s->host)) Delay(10);
    else
        UnlockPubScreen(nullptr, s->host);
    s->host = nullptr;
}

} // namespace

void* Tal_NewScreenClass(const TagItem*) {
    auto* s = static_cast<ScreenInstance*>(Tal_AllocObjectMem(&screenClass));
    if (!s) return nullptr;
    s->header.superObject = Tal_CreateObject("Group");
    if (!s->header.superObject) {
        Tal_FreeObjectMem(s);
        return nullptr;
    }
    return s;
}

void Tal_DisposeScreenClass(void* instance) {
    auto* s = of(instance);
    Tal_DisposeObject(s->header.superObject);
    closeHost(s);
    Tal_FreeObjectMem(s);
}

Tal_Word Tal_DoScreenClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* s = of(instance);
    ULONG super = s->header.superObject;
    switch (id) {
    case TAL_Start:
        openHost(s);
        Tal_DoMethodForAll(super, TAL_PassWindowType, s->windowType);
        Tal_DoMethodForAll(super, TAL_Show);
        return Tal_DoMethodA(super, id, args);
    case TAL_Stop:
        Tal_DoMethodForAll(super, TAL_Hide);
        closeHost(s);
        return Tal_DoMethodA(super, id, args);
    case 0x0046000A:
        closeHost(s);
        return 1;
    case 0x00460014:
        openHost(s);
        return s->host ? 1 : 0;
    case 0x00460028:
        std::snprintf(s->title, sizeof s->title, "%s", args[0] ? reinterpret_cast<const char*>(args[0]) : "");
        return 1;
    case 0x00460032:
        return reinterpret_cast<Tal_Word>(s->title);
    case 0x0046003C:
        std::snprintf(s->publicName, sizeof s->publicName, "%s",
                      args[0] ? reinterpret_cast<const char*>(args[0]) : "");
        return 1;
    case 0x00460046:
        return reinterpret_cast<Tal_Word>(s->publicName);
    case 0x004600F0:
        s->type = ULONG(args[0]);
        return 1;
    case 0x004600FA:
        return s->type;
    case 0x00460104:
        s->words[0] = ULONG(args[0]);
        return 1;
    case 0x0046010E:
        return s->words[0];
    case 0x004601B8:
        return reinterpret_cast<Tal_Word>(s->host);
    case 0x004601C2:
        s->windowType = ULONG(args[0]);
        Tal_DoMethodForAll(super, TAL_PassWindowType, s->windowType);
        return 1;
    case TAL_ScreenMenuCommand:
        return Tal_DoNotify(s->header.handle, TAL_ScreenMenuCommand, args[0]);
    case TAL_AddHead:
    case TAL_AddTail: {
        Tal_Word result = Tal_DoMethodA(super, id, args);
        if (result) Tal_DoMethod(ULONG(args[0]), TAL_PassWindowType, s->windowType);
        return result;
    }
    default:
        // The six word pairs 0x00460140 ... 0x004601AE: set by one ID, read by the next.
        if (id >= 0x00460140 && id <= 0x004601AE && (id - 0x00460140) % 10 == 0) {
            size_t slot = 1 + (id - 0x00460140) / 20;
            bool set = ((id - 0x00460140) / 10) % 2 == 0;
            if (slot < 8) {
                if (set) s->words[slot] = ULONG(args[0]);
                return set ? 1 : s->words[slot];
            }
        }
        return Tal_DoMethodA(super, id, args);
    }
}

ULONG Tal_InitScreenClass() {
    return Tal__SetupClass(&screenClass, "Screen", 0x00460000, "Group", Tal_NewScreenClass,
                           Tal_DisposeScreenClass, Tal_DoScreenClassMethod, nullptr, sizeof(ScreenInstance));
}

void Tal_CleanupScreenClass() {
    Tal__CleanupClass(&screenClass);
}
