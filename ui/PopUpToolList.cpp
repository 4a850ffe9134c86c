// PopUpToolList: a picture button that offers a palette of picture buttons (its members) beside itself;
// the button chosen lends the list its picture.
#include "ui/PopUp.h"
#include "Tal/Root.h"
#include "ui/Button.h"
#include "ui/Pages.h"

namespace {

Tal_Class toolListClass;

constexpr ULONG kBitMapClass = 0x00080000;
constexpr ULONG kButtonClass = 0x00030000;

struct ToolListInstance {
    Tal_Object header;
    ULONG picture; // the BitMap shown
    ULONG chosen;
    UBYTE initialised;
};

ToolListInstance* of(void* instance) {
    return static_cast<ToolListInstance*>(instance);
}

ULONG firstMember(ULONG object) {
    return ULONG(Tal_DoMethod(object, TAL_GetFirstGroupObject));
}

// The first picture down the first-member chain of the palette (four levels at most).
ULONG firstPicture(ToolListInstance* t) {
    ULONG object = ULONG(Tal_DoMethod(t->header.superObject, TAL_GetPopUpContent));
    for (int level = 0; object && level < 4; level++) {
        object = firstMember(object);
        if (object && Tal_GetObjectClassID(object) == kBitMapClass) return object;
    }
    return 0;
}

void chosen(ToolListInstance* t, ULONG button) {
    if (!button || Tal_GetObjectClassID(button) != kButtonClass) return;
    const ULONG picture = firstMember(button);
    if (!picture || Tal_GetObjectClassID(picture) != kBitMapClass) return;
    Tal_DoMethod(t->picture, TAL_CopyBitMap, picture);
    t->chosen = button;
    Tal_DoNotify(Tal_GetTopMostObject(t->header.handle), TAL_ToolListChosen, button);
}

} // namespace

void* Tal_NewPopUpToolListClass(const TagItem*) {
    auto* t = of(Tal_AllocObjectMem(&toolListClass));
    if (!t) return nullptr;
    t->header.superObject =
        Tal_CreateObject("PopUp", TAL_SetGroupFrame, TAL_FRAME_FLAT, TAL_SetPopUpPos, TAL_POPUP_RIGHT);
    const ULONG shown = Tal_CreateObject("Button", TAL_SetGroupFrame, 7, TAL_SetPressedFrame, 5);
    t->picture = Tal_CreateObject("BitMap", TAL_SetBitMapFixedWidth, 16, TAL_SetBitMapFixedHeight, 16);
    if (!t->header.superObject || !shown || !t->picture || !Tal_DoMethod(shown, TAL_AddTail, t->picture) ||
        !Tal_DoMethod(t->header.superObject, TAL_AddTail, shown)) {
        if (!Tal_GetParentObject(t->picture)) Tal_DisposeObject(t->picture);
        if (!Tal_GetParentObject(shown)) Tal_DisposeObject(shown);
        Tal_DisposeObject(t->header.superObject);
        Tal_FreeObjectMem(t);
        return nullptr;
    }
    // From now on members go to the palette.
    Tal_DoMethod(t->header.superObject, TAL_SetPopUpContentMode, 1);
    return t;
}

void Tal_DisposePopUpToolListClass(void* instance) {
    auto* t = of(instance);
    Tal_DisposeObject(t->header.superObject);
    Tal_FreeObjectMem(t);
}

Tal_Word Tal_DoPopUpToolListClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* t = of(instance);
    switch (id) {
    case TAL_DrawObject:
        if (!t->initialised) {
            t->initialised = 1;
            if (ULONG first = firstPicture(t)) Tal_DoMethod(t->picture, TAL_CopyBitMap, first);
        }
        return Tal_DoMethodA(t->header.superObject, id, args);
    case TAL_PopUpChoose: {
        const Tal_Word result = Tal_DoMethodA(t->header.superObject, id, args);
        chosen(t, ULONG(args[0]));
        return result;
    }
    default:
        return Tal_DoMethodA(t->header.superObject, id, args);
    }
}

ULONG Tal_InitPopUpToolListClass() {
    return Tal__SetupClass(&toolListClass, "PopUpToolList", 0x00410000, "PopUp", Tal_NewPopUpToolListClass,
                           Tal_DisposePopUpToolListClass, Tal_DoPopUpToolListClassMethod, nullptr,
                           sizeof(ToolListInstance));
}

void Tal_CleanupPopUpToolListClass() {
    Tal__CleanupClass(&toolListClass);
}
