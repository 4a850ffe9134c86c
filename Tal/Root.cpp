// Root: the base part of every object, and the place where unknown methods end.
#include "Tal/Root.h"
#include "Tal/TalPrivate.h"

#include <algorithm>
#include <cstdio>

namespace {

Tal_Class rootClass;

constexpr ULONG kDropEnquiries[] = {0x000901C2, 0x000901CC, 0x000901D6, 0x0018005A};

#define ENTRY(id, name, kind, counterpart, argFormat, resultFormat)                                          \
    { id, name, kind, counterpart, argFormat, nullptr, resultFormat, nullptr, nullptr }
// The methods that can be named in stored text. Only attributes and harmless switches: a stored text is
// outside data, so nothing that takes a pointer or disposes objects is reachable by name.
const Tal_MethodEntry rootMethods[] = {
    ENTRY(TAL_SetLabel, "Tal_SetLabel", TAL_METHOD_SETTER, TAL_GetLabel, "%s", nullptr),
    ENTRY(TAL_GetLabel, "Tal_GetLabel", TAL_METHOD_GETTER, TAL_SetLabel, nullptr, "%s"),
    ENTRY(TAL_SetBox, "Tal_SetBox", TAL_METHOD_PLAIN, 0, "%ld%ld%ld%ld", nullptr),
    ENTRY(TAL_SetWeight, "Tal_SetWeight", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetUserData, "Tal_SetUserData", TAL_METHOD_SETTER, TAL_GetUserData, "%ld", nullptr),
    ENTRY(TAL_GetUserData, "Tal_GetUserData", TAL_METHOD_GETTER, TAL_SetUserData, nullptr, "%ld"),
    ENTRY(TAL_Show, "Tal_Show", TAL_METHOD_PLAIN, TAL_Hide, nullptr, nullptr),
    ENTRY(TAL_Hide, "Tal_Hide", TAL_METHOD_PLAIN, TAL_Show, nullptr, nullptr),
    ENTRY(TAL_SetObjectName, "Tal_SetObjectName", TAL_METHOD_SETTER, TAL_GetObjectName, "%s", nullptr),
    ENTRY(TAL_GetObjectName, "Tal_GetObjectName", TAL_METHOD_GETTER, TAL_SetObjectName, nullptr, "%s"),
    ENTRY(TAL_SetColour1, "Tal_SetColour1", TAL_METHOD_SETTER, 0, "%lx", nullptr),
    ENTRY(TAL_SetColour2, "Tal_SetColour2", TAL_METHOD_SETTER, 0, "%lx", nullptr),
    ENTRY(TAL_SetColour3, "Tal_SetColour3", TAL_METHOD_SETTER, 0, "%lx", nullptr),
    ENTRY(TAL_SetColours, "Tal_SetColours", TAL_METHOD_SETTER, 0, "%lx", nullptr),
    ENTRY(TAL_IsHidden, "Tal_IsHidden", TAL_METHOD_GETTER, 0, nullptr, "%ld"),
    ENTRY(TAL_SetToolTip, "Tal_SetToolTip", TAL_METHOD_SETTER, TAL_GetToolTip, "%s", nullptr),
    ENTRY(TAL_GetToolTip, "Tal_GetToolTip", TAL_METHOD_GETTER, TAL_SetToolTip, nullptr, "%s"),
    ENTRY(TAL_EnableObject, "Tal_EnableObject", TAL_METHOD_PLAIN, TAL_DisableObject, nullptr, nullptr),
    ENTRY(TAL_DisableObject, "Tal_DisableObject", TAL_METHOD_PLAIN, TAL_EnableObject, nullptr, nullptr),
    ENTRY(TAL_IsDisabled, "Tal_IsDisabled", TAL_METHOD_GETTER, 0, nullptr, "%ld"),
    ENTRY(TAL_ForceShow, "Tal_ForceShow", TAL_METHOD_PLAIN, TAL_ForceHide, nullptr, nullptr),
    ENTRY(TAL_ForceHide, "Tal_ForceHide", TAL_METHOD_PLAIN, TAL_ForceShow, nullptr, nullptr),
    ENTRY(TAL_SetBackdrop, "Tal_SetBackdrop", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

ULONG topmost(const Tal_RootInstance* self) {
    return Tal_GetTopMostObject(self->header.handle);
}

void setHidden(Tal_RootInstance* self) {
    if (self->hideCount >= 1)
        self->box.flags |= TAL_BOX_HIDDEN;
    else
        self->box.flags &= ~TAL_BOX_HIDDEN;
}

// Adds to a channel of a packed colour, within 0..255, channel by channel.
ULONG shiftChannels(ULONG c, int delta) {
    ULONG out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        int v = std::clamp(int((c >> shift) & 0xFF) + delta, 0, 255);
        out |= ULONG(v) << shift;
    }
    return out;
}

void reportUnknownMethod(ULONG id) {
    if (!Tal_GetGlobalData()->diagnostics.load(std::memory_order_relaxed)) return;
    char text[512];
    std::snprintf(text, sizeof text,
                  "Please report the following information to the maker of Velura.\n"
                  "(Press OK to continue, not Cancel)\n\n"
                  "Message: Unknown Method Class %ld Number %ld  at Root Level",
                  long(id >> 16), long(id & 0xFFFF));
    Tal__ReportDiagnostic("Tal.library Internal Error", text);
}

// Runs f on the notification block under the global object lock; none when the lock or the block
// cannot be had or the object is being disposed.
template <typename F>
Tal_Word withBlock(Tal_RootInstance* self, F f) {
    if (!Tal_ObtainSemaphore(Tal__ObjectLock(), TAL_LOCK_RETRIES)) return 0;
    Tal_NotifyBlock* block = Tal__NotifyBlock(self);
    Tal_Word result = block && !block->disposed ? f(block) : 0;
    Tal_ReleaseSemaphore(Tal__ObjectLock());
    return result;
}

} // namespace

void* Tal_NewRootClass(const TagItem*) {
    auto* self = static_cast<Tal_RootInstance*>(Tal_AllocObjectMem(&rootClass));
    if (!self) return nullptr;
    Tal_GlobalData* gd = Tal_GetGlobalData();
    self->header.box = &self->box;
    self->weight = 100;
    self->colour1 = TAL_NO_COLOUR;
    self->colour2 = gd->buttonFaceColour;
    self->colour3 = gd->highlightColour;
    self->label = "";
    return self;
}

void Tal_DisposeRootClass(void* instance) {
    auto* self = static_cast<Tal_RootInstance*>(instance);
    Tal__DisposeNotifications(self);
    Tal_FreeMem(self->name);
    self->name = nullptr;
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoRootClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<Tal_RootInstance*>(instance);
    switch (id) {
    case TAL_DisposeSelf:
        Tal_DisposeObject(topmost(self));
        return 1;
    case TAL_SetLabel:
        self->label = reinterpret_cast<const char*>(args[0]);
        return 0;
    case TAL_GetLabel:
        return reinterpret_cast<Tal_Word>(self->label);
    case TAL_HandleIDCMP:
        return 2;
    case TAL_SetDrawInfo:
        self->header.drawInfo = reinterpret_cast<Tal_DrawInfo*>(args[0]);
        return 0;
    case TAL_GetDrawInfo:
        return reinterpret_cast<Tal_Word>(self->header.drawInfo);
    case TAL_GetBox:
        return reinterpret_cast<Tal_Word>(&self->box);
    case TAL_SetBox: {
        Tal_Box& box = self->box;
        box.x = WORD(args[0]);
        box.y = WORD(args[1]);
        box.width = std::max(box.minWidth, std::min(WORD(args[2]), box.maxWidth));
        box.height = std::max(box.minHeight, std::min(WORD(args[3]), box.maxHeight));
        return 0;
    }
    case TAL_Start:
    case TAL_Stop:
        return 0;
    case TAL_AddNotifyMethod:
        return Tal__AddNotifyRecord(self, args);
    case TAL_AddCallBackNotifyMethod:
        return Tal__AddCallBackRecord(self, args);
    case TAL_RemoveNotifyMethod:
        return Tal__RemoveNotifyRecord(self, args[0]);
    case TAL_DoNotifyMethod:
        return Tal__FireNotify(self, args);
    case TAL_SetWeight:
        self->weight = WORD(args[0]);
        return 0;
    case TAL_SetUserData:
        self->userData = args[0];
        return 0;
    case TAL_GetUserData:
        return self->userData;
    case TAL_Pressed:
    case TAL_Released:
    case TAL_GadgetEvent3:
    case TAL_GadgetEvent4:
        return topmost(self);
    case TAL_Show:
        self->hideCount--;
        setHidden(self);
        return Tal_Word(intptr_t(self->hideCount));
    case TAL_Hide:
        self->hideCount++;
        setHidden(self);
        return Tal_Word(intptr_t(self->hideCount));
    case TAL_StoreChildren:
    case TAL_StoreReserved:
        return 0;
    case TAL_StoreObject:
        return Tal__InternalStoreObject(topmost(self), reinterpret_cast<Tal_StoreObjectData*>(args[0]));
    case TAL_SetObjectName: {
        Tal_FreeMem(self->name);
        self->name = nullptr;
        const char* text = reinterpret_cast<const char*>(args[0]);
        if (!text) return 1;
        self->name = Tal_StrDup(text);
        return self->name ? 1 : 0;
    }
    case TAL_GetObjectName:
        return reinterpret_cast<Tal_Word>(self->name);
    case TAL_FindObjectByName: {
        const char* wanted = reinterpret_cast<const char*>(args[0]);
        return self->name && wanted && std::strcmp(self->name, wanted) == 0 ? topmost(self) : 0;
    }
    case TAL_SetClipRegion:
        self->box.clipRegion = reinterpret_cast<Region*>(args[0]);
        return 0;
    case TAL_SetAsyncPort:
        self->asyncPort = reinterpret_cast<MsgPort*>(args[0]);
        return 0;
    case TAL_DoAsyncMethodMethod:
        return Tal__QueueAsyncMethod(self, args);
    case TAL_SetColour1:
        self->colour1 = ULONG(args[0]);
        return 1;
    case TAL_SetColour2:
        self->colour2 = ULONG(args[0]);
        return 1;
    case TAL_SetColour3:
        self->colour3 = ULONG(args[0]);
        return 1;
    case TAL_SetColours: {
        ULONG c = ULONG(args[0]);
        self->colour1 = c;
        self->colour2 = c ? shiftChannels(c, 16) : 0;
        self->colour3 = c ? shiftChannels(c, -16) : 0;
        return 1;
    }
    case TAL_IsHidden:
        return self->hideCount >= 1 ? Tal_Word(self->hideCount) : 0;
    case TAL_PokeLong:
    case TAL_PokeWord:
    case TAL_PokeByte: {
        void* address = reinterpret_cast<void*>(args[0]);
        if (!address) return 0;
        // Pokes set flags that other threads poll (a requester's running flag): the long store is atomic.
        if (id == TAL_PokeLong)
            __atomic_store_n(static_cast<ULONG*>(address), ULONG(args[1]), __ATOMIC_SEQ_CST);
        else if (id == TAL_PokeWord)
            *static_cast<UWORD*>(address) = UWORD(args[1]);
        else
            *static_cast<UBYTE*>(address) = UBYTE(args[1]);
        return 0;
    }
    case TAL_SetToolTip:
        self->tooltip = reinterpret_cast<const char*>(args[0]);
        return 0;
    case TAL_GetToolTip:
    case TAL_GetToolTipAt:
        return reinterpret_cast<Tal_Word>(self->tooltip);
    case TAL_LockObjectMethod:
        if (!Tal_ObtainSemaphore(Tal__ObjectLock(), TAL_LOCK_RETRIES)) return 0;
        Tal__NotifyBlock(self);
        return 1;
    case TAL_UnlockObjectMethod:
        Tal_ReleaseSemaphore(Tal__ObjectLock());
        return 1;
    case TAL_EnableObject:
        return Tal_Word(intptr_t(--self->disableCount));
    case TAL_DisableObject:
        return Tal_Word(intptr_t(++self->disableCount));
    case TAL_IsDisabled:
        return self->disableCount >= 1 ? Tal_Word(self->disableCount) : 0;
    case TAL_ForceShow:
        self->hideCount = 0;
        setHidden(self);
        return 1;
    case TAL_ForceHide:
        self->hideCount++;
        self->box.flags |= TAL_BOX_HIDDEN;
        return Tal_Word(intptr_t(self->hideCount));
    case TAL_SetStoredText: {
        void* text = reinterpret_cast<void*>(args[0]);
        if (!text) return 0;
        bool attached = withBlock(self, [&](Tal_NotifyBlock* block) {
            auto* stored = static_cast<Tal_StoredText*>(Tal_AllocMem(sizeof(Tal_StoredText)));
            if (!stored) return Tal_Word(0);
            *stored = {block->storedTexts, text};
            block->storedTexts = stored;
            return Tal_Word(1);
        });
        // Unattached, the text is kept rather than freed: restored attributes may already point into it.
        if (!attached) KPutStr("Tal_SetStoredText: the text could not be attached\n");
        return 0;
    }
    case TAL_SetMemberLock: {
        auto* replacement = reinterpret_cast<Tal_Semaphore*>(args[0]);
        Tal_Semaphore* old = self->memberLock;
        if (old) Tal_ObtainSemaphore(old, TAL_MUST_LOCK);
        self->memberLock = replacement;
        if (old) Tal_ReleaseSemaphore(old);
        return reinterpret_cast<Tal_Word>(self->memberLock);
    }
    case TAL_GetMemberLock:
        return reinterpret_cast<Tal_Word>(self->memberLock);
    case TAL_SetBackdrop:
        self->backdrop = ULONG(args[0]);
        return 1;
    default:
        if (std::find(std::begin(kDropEnquiries), std::end(kDropEnquiries), id) != std::end(kDropEnquiries))
            return 0;
        reportUnknownMethod(id);
        return 0;
    }
}

ULONG Tal_InitRootClass() {
    return Tal__SetupClass(&rootClass, "Root", 0x00010000, nullptr, Tal_NewRootClass, Tal_DisposeRootClass,
                           Tal_DoRootClassMethod, rootMethods, sizeof(Tal_RootInstance));
}

void Tal_CleanupRootClass() {
    Tal__CleanupClass(&rootClass);
}

// The Root instance is the one that carries the layout box.
Tal_RootInstance* Tal__LockRootInstance(ULONG handle) {
    for (int step = 0; handle && step < 4096; step++) {
        Tal_Object* object = Tal__LockObjectInstanceQuiet(handle);
        if (!object) return nullptr;
        if (object->box) return reinterpret_cast<Tal_RootInstance*>(object);
        handle = object->superObject;
        Tal_UnlockObjectInstance(object);
    }
    return nullptr;
}

Tal_RootInstance* Tal__GetRootInstance(ULONG handle) {
    Tal_RootInstance* root = Tal__LockRootInstance(handle);
    if (root) Tal_UnlockObjectInstance(root);
    return root;
}

ULONG Tal_IsCoordOverObject(ULONG handle, LONG x, LONG y) {
    if (!handle || Tal_DoMethod(handle, TAL_IsHidden)) return 0;
    Tal_RootInstance* root = Tal__LockRootInstance(handle);
    if (!root) return 0;
    const Tal_Box& box = root->box;
    bool over = box.x <= x && x < box.x + box.width && box.y <= y && y < box.y + box.height;
    Tal_UnlockObjectInstance(root);
    return over ? 1 : 0;
}

void Tal_RelayoutAndRedrawObject(ULONG handle) {
    auto* box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(handle, TAL_GetBox));
    if (!box) return;
    WORD x = box->x, y = box->y, w = box->width, h = box->height;
    Region* clip = box->clipRegion;
    Tal_DoMethod(handle, TAL_AskMinMax, Tal_DoMethod(handle, TAL_GetDrawInfo));
    Tal_DoMethod(handle, TAL_SetBox, x, y, w, h);
    if (clip) Tal_DoMethod(handle, TAL_SetClipRegion, clip);
    Tal_DoMethod(handle, TAL_DrawObject);
}
