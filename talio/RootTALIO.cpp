// RootTALIO: the base of every format class. It keeps the values the registry reads (kind, flags,
// reduction, options groups, extension, the buffer a saver is made for) and answers the format methods
// with "unsupported", so a format class handles only what it can do.
#include "talio/talio.h"

namespace {

Tal_Class rootTalioClass;

struct RootTALIOInstance {
    Tal_Object header;
    ULONG flags;
    ULONG kind;
    ULONG spare;
    ULONG reduction;
    ULONG loadOptions; // owned groups
    ULONG saveOptions;
    char* extension; // owned copy
    TALIO_ImageBuffer* saveBuffer;
};

bool validReduction(ULONG r) {
    return r == 100 || r == 200 || r == 400 || r == 800;
}

// Replaces an owned options group.
void replaceGroup(ULONG* slot, ULONG group) {
    if (*slot && *slot != group) Tal_DisposeObject(*slot);
    *slot = group;
}

} // namespace

void* Tal_NewRootTALIOClass(const TagItem*) {
    auto* self = static_cast<RootTALIOInstance*>(Tal_AllocObjectMem(&rootTalioClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("Root");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    self->reduction = 100;
    return self;
}

void Tal_DisposeRootTALIOClass(void* instance) {
    auto* self = static_cast<RootTALIOInstance*>(instance);
    // Whoever showed a group has taken it out of its window by now.
    Tal_DisposeObject(self->loadOptions);
    Tal_DisposeObject(self->saveOptions);
    Tal_FreeMem(self->extension);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoRootTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<RootTALIOInstance*>(instance);
    switch (id) {
    case TALIO_GetKind:
        return self->kind;
    case TALIO_SetKind:
        self->kind = ULONG(args[0]);
        return 1;
    case TALIO_GetFlags:
        return self->flags;
    case TALIO_SetFlags:
        self->flags = ULONG(args[0]);
        return 1;
    case TALIO_GetSpare:
        return self->spare;
    case TALIO_SetSpare:
        self->spare = ULONG(args[0]);
        return 1;
    case TALIO_Identify:
    case TALIO_Load:
        return TALIO_ERR_UNSUPPORTED;
    case TALIO_Save:
        return TALIO_ERR_CANNOT_SAVE;
    // The preview forms reach the format class itself, which may answer only the plain ones.
    case TALIO_IdentifyPreview:
        return Tal_DoMethodA(Tal_GetTopMostObject(self->header.handle), TALIO_Identify, args);
    case TALIO_LoadPreview:
        return Tal_DoMethodA(Tal_GetTopMostObject(self->header.handle), TALIO_Load, args);
    case TALIO_SetLoadOptions:
        replaceGroup(&self->loadOptions, ULONG(args[0]));
        return 1;
    case TALIO_GetLoadOptions:
        return self->loadOptions;
    case TALIO_SetSaveOptions:
        replaceGroup(&self->saveOptions, ULONG(args[0]));
        return 1;
    case TALIO_GetSaveOptions:
        return self->saveOptions;
    case TALIO_SetExtension: {
        const char* text = reinterpret_cast<const char*>(args[0]);
        char* copy = text ? Tal_StrDup(text) : nullptr;
        if (text && !copy) return 0;
        Tal_FreeMem(self->extension);
        self->extension = copy;
        return 1;
    }
    case TALIO_GetExtension:
        return reinterpret_cast<Tal_Word>(self->extension);
    case TALIO_SetSaveBuffer:
        self->saveBuffer = reinterpret_cast<TALIO_ImageBuffer*>(args[0]);
        return 1;
    case TALIO_GetSaveBuffer:
        return reinterpret_cast<Tal_Word>(self->saveBuffer);
    case TALIO_SetReduction:
        if (!validReduction(ULONG(args[0]))) return 0;
        self->reduction = ULONG(args[0]);
        return 1;
    case TALIO_GetReduction:
        return self->reduction;
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG TALIO__NewFormatBase(ULONG kind, ULONG flags, const char* extension) {
    const ULONG base = Tal_CreateObject("RootTALIO");
    if (!base) return 0;
    Tal_DoMethod(base, TALIO_SetKind, kind);
    Tal_DoMethod(base, TALIO_SetFlags, flags);
    if (extension && !Tal_DoMethod(base, TALIO_SetExtension, extension)) {
        Tal_DisposeObject(base);
        return 0;
    }
    return base;
}

ULONG TALIO__SaveOptionsOf(ULONG base, ULONG (*build)()) {
    if (!Tal_DoMethod(base, TALIO_GetSaveOptions))
        if (ULONG group = build()) Tal_DoMethod(base, TALIO_SetSaveOptions, group);
    return ULONG(Tal_DoMethod(base, TALIO_GetSaveOptions));
}

ULONG Tal_InitRootTALIOClass() {
    return Tal__SetupClass(&rootTalioClass, "RootTALIO", 7001, "Root", Tal_NewRootTALIOClass,
                           Tal_DisposeRootTALIOClass, Tal_DoRootTALIOClassMethod, nullptr,
                           sizeof(RootTALIOInstance));
}

void Tal_CleanupRootTALIOClass() {
    Tal__CleanupClass(&rootTalioClass);
}
