// MutualExclude: a column of choices of which one is selected. Each object added becomes a row with a
// radio mark in front of it; pressing a row selects it.
#include "ui/Button.h"
#include "ui/Window.h"

namespace {

Tal_Class mutualExcludeClass;

constexpr LONG kMarkSize = 18;
constexpr LONG kGap = 4;

struct MutualExcludeInstance {
    Tal_Object header;
    ULONG selected; // the selected row, 0 while none is
};

MutualExcludeInstance* of(void* instance) {
    return static_cast<MutualExcludeInstance*>(instance);
}
ULONG super(MutualExcludeInstance* m) {
    return m->header.superObject;
}

// A row: the mark, a gap, the object and a stretching space. The object stays the caller's when the
// row cannot be made.
ULONG addRow(MutualExcludeInstance* m, ULONG object) {
    if (!object || Tal_GetParentObject(object)) return 0;
    ULONG row = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    ULONG parts[] = {
        Tal_CreateObject("VectorImage", TAL_SetSpaceFixedWidth, kMarkSize, TAL_SetSpaceFixedHeight, kMarkSize,
                         TAL_SetVectorShape, TAL_SHAPE_RADIO_OFF),
        Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, kGap), object, Tal_CreateObject("Space")};
    bool ok = row != 0;
    for (ULONG part : parts) ok = ok && part && Tal_DoMethod(row, TAL_AddTail, part);
    ok = ok && Tal_DoMethod(super(m), TAL_AddTail, row);
    if (ok) {
        // The space after the object takes the row's slack, so that a label stays beside its mark.
        Tal_DoMethod(object, TAL_SetWeight, 0);
        return 1;
    }
    Tal_DoMethod(row, TAL_RemoveMember, object);
    for (ULONG part : parts)
        if (part && part != object && !Tal_GetParentObject(part)) Tal_DisposeObject(part);
    Tal_DisposeObject(row);
    return 0;
}

void setMark(ULONG row, ULONG shape) {
    ULONG mark = ULONG(Tal_DoMethod(row, TAL_GetFirstGroupObject));
    Tal_DoMethod(mark, TAL_SetVectorShape, shape);
    Tal_DoMethod(mark, TAL_DrawObject);
}

Tal_Word selectedIndex(MutualExcludeInstance* m) {
    if (!m->selected) return Tal_Word(intptr_t(-1));
    return Tal_DoMethod(super(m), TAL_GetMemberIndex, m->selected);
}

// An index outside the rows changes nothing.
Tal_Word select(MutualExcludeInstance* m, LONG index) {
    const LONG count = LONG(Tal_DoMethod(super(m), TAL_GetMemberCount));
    if (index < 0 || index >= count) return selectedIndex(m);
    ULONG row = ULONG(Tal_DoMethod(super(m), TAL_GetMemberAt, index));
    if (m->selected && m->selected != row) setMark(m->selected, TAL_SHAPE_RADIO_OFF);
    m->selected = row;
    setMark(row, TAL_SHAPE_RADIO_ON);
    Tal_DoNotify(Tal_GetTopMostObject(m->header.handle), TAL_SetMutualExcludeIndex, index);
    return Tal_Word(index);
}

Tal_Word handleInput(MutualExcludeInstance* m, const Tal_Word* args) {
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[0]);
    if (!e || e->Class != IDCMP_MOUSEBUTTONS || e->Code != SELECTDOWN ||
        Tal_DoMethod(super(m), TAL_IsDisabled))
        return Tal_DoMethodA(super(m), TAL_HandleIDCMP, args);
    LONG index = 0;
    for (ULONG row = ULONG(Tal_DoMethod(super(m), TAL_GetFirstGroupObject)); row;
         row = ULONG(Tal_DoMethod(super(m), TAL_GetNextGroupObject, row)), index++) {
        if (!Tal_IsCoordOverObject(row, e->MouseX, e->MouseY)) continue;
        select(m, index);
        Tal_DoMethodA(super(m), TAL_HandleIDCMP, args); // the object in the row may take the press too
        return 1;
    }
    return Tal_DoMethodA(super(m), TAL_HandleIDCMP, args);
}

} // namespace

void* Tal_NewMutualExcludeClass(const TagItem*) {
    auto* m = static_cast<MutualExcludeInstance*>(Tal_AllocObjectMem(&mutualExcludeClass));
    if (!m) return nullptr;
    m->header.superObject = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    if (!m->header.superObject) {
        Tal_FreeObjectMem(m);
        return nullptr;
    }
    return m;
}

void Tal_DisposeMutualExcludeClass(void* instance) {
    auto* m = of(instance);
    Tal_DisposeObject(m->header.superObject);
    Tal_FreeObjectMem(m);
}

Tal_Word Tal_DoMutualExcludeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* m = of(instance);
    switch (id) {
    case TAL_AddTail:
        return addRow(m, ULONG(args[0]));
    case TAL_SetMutualExcludeIndex:
        return select(m, LONG(args[0]));
    case TAL_GetMutualExcludeIndex:
        return selectedIndex(m);
    case TAL_HandleIDCMP:
        return handleInput(m, args);
    case TAL_StoreChildren:
        // The choices only: restored, each is wrapped in a new row again.
        for (ULONG row = ULONG(Tal_DoMethod(super(m), TAL_GetFirstGroupObject)); row;
             row = ULONG(Tal_DoMethod(super(m), TAL_GetNextGroupObject, row))) {
            const ULONG mark = ULONG(Tal_DoMethod(row, TAL_GetFirstGroupObject));
            const ULONG gap = ULONG(Tal_DoMethod(row, TAL_GetNextGroupObject, mark));
            Tal_DoMethod(ULONG(Tal_DoMethod(row, TAL_GetNextGroupObject, gap)), TAL_StoreObject, args[0]);
        }
        return 1;
    default:
        return Tal_DoMethodA(m->header.superObject, id, args);
    }
}

ULONG Tal_InitMutualExcludeClass() {
    return Tal__SetupClass(&mutualExcludeClass, "MutualExclude", 0x00210000, "Group",
                           Tal_NewMutualExcludeClass, Tal_DisposeMutualExcludeClass,
                           Tal_DoMutualExcludeClassMethod, nullptr, sizeof(MutualExcludeInstance));
}

void Tal_CleanupMutualExcludeClass() {
    Tal__CleanupClass(&mutualExcludeClass);
}
