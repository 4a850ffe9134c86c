// PopUpList: a choice list. It shows its current entry (a page group holding the entries) beside a
// down arrow; pressed, it offers every entry's label in a host pop-up menu, and the entry chosen becomes
// the current one.
#include "ui/PopUp.h"
#include "Tal/Root.h"
#include "ui/Button.h"
#include "ui/Pages.h"

#include <new>
#include <vector>

namespace {

Tal_Class popUpListClass;

struct PopUpListInstance {
    Tal_Object header;
    ULONG pages; // the entries
    ULONG menu;  // the pop-up's content group: a Text per entry while open
    ULONG flags;
    std::vector<ULONG>* offered; // the Texts made for the menu
};

PopUpListInstance* of(void* instance) {
    return static_cast<PopUpListInstance*>(instance);
}
ULONG topmost(PopUpListInstance* l) {
    return Tal_GetTopMostObject(l->header.handle);
}

ULONG selectedIndex(PopUpListInstance* l) {
    return ULONG(Tal_DoMethod(l->pages, TAL_GetSelectedIndex));
}

// Shows the entry at the index and tells the listeners; `always` tells them also when it was shown.
ULONG select(PopUpListInstance* l, ULONG index, bool always) {
    const ULONG count = ULONG(Tal_DoMethod(l->pages, TAL_GetMemberCount));
    if (index >= count) return 0;
    const bool changed = index != selectedIndex(l);
    if (changed) {
        Tal__SelectPage(l->pages, index);
        Tal_RelayoutAndRedrawObject(topmost(l));
    }
    if (changed || always) {
        const ULONG me = topmost(l);
        Tal_DoNotify(me, TAL_PopUpListEntry, Tal_DoMethod(l->pages, TAL_GetMemberAt, index));
        Tal_DoNotify(me, TAL_SelectMemberIndex, index);
    }
    return 1;
}

// A Text for each entry, with the entry's label and its index as user data.
void offer(PopUpListInstance* l) {
    if (!l->offered->empty()) return;
    ULONG index = 0;
    for (ULONG e = ULONG(Tal_DoMethod(l->pages, TAL_GetFirstGroupObject)); e;
         e = ULONG(Tal_DoMethod(l->pages, TAL_GetNextGroupObject, e)), index++) {
        const auto* label = reinterpret_cast<const char*>(Tal_DoMethod(e, TAL_GetLabel));
        const ULONG text = Tal_CreateObject("Text", TAL_SetLabel, label ? label : "", TAL_SetUserData, index);
        if (text && Tal_DoMethod(l->menu, TAL_AddTail, text))
            l->offered->push_back(text);
        else
            Tal_DisposeObject(text);
    }
    Tal_DoMethod(l->header.superObject, TAL_SetPopUpPos,
                 l->flags & TAL_POPUPLIST_BELOW ? TAL_POPUP_BELOW : TAL_POPUP_AT_BOX);
}

// After a choice (the Text chosen) or a close: the Texts go, and a choice selects its entry.
void finish(PopUpListInstance* l, ULONG chosen) {
    LONG index = -1;
    for (ULONG text : *l->offered) {
        if (text == chosen) index = LONG(Tal_DoMethod(text, TAL_GetUserData));
        Tal_DoMethod(l->menu, TAL_RemoveMember, text);
        Tal_DisposeObject(text);
    }
    l->offered->clear();
    Tal_DoMethod(topmost(l), TAL_DrawObject);
    if (index >= 0) select(l, ULONG(index), true);
}

} // namespace

void* Tal_NewPopUpListClass(const TagItem*) {
    auto* l = of(Tal_AllocObjectMem(&popUpListClass));
    if (!l) return nullptr;
    l->offered = new (std::nothrow) std::vector<ULONG>;
    l->header.superObject =
        Tal_CreateObject("PopUp", TAL_SetPopUpNative, 1, TAL_SetPopUpPos, TAL_POPUP_BELOW, TAL_SetGroupFrame,
                         TAL_FRAME_BUTTON, TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupSpacing, 0);
    l->pages =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_PAGES, TAL_SetGroupFrame, TAL_FRAME_FLAT);
    const ULONG arrow =
        Tal_CreateObject("VectorImage", TAL_SetVectorShape, TAL_SHAPE_ARROW_DOWN, TAL_SetSpaceFixedWidth, 10,
                         TAL_SetSpaceFixedHeight, 10, TAL_SetWeight, 0);
    if (!l->offered || !l->header.superObject || !l->pages || !arrow ||
        !Tal_DoMethod(l->header.superObject, TAL_AddTail, l->pages) ||
        !Tal_DoMethod(l->header.superObject, TAL_AddTail, arrow)) {
        Tal_DisposeObject(arrow);
        Tal_DisposeObject(l->pages);
        Tal_DisposeObject(l->header.superObject);
        delete l->offered;
        Tal_FreeObjectMem(l);
        return nullptr;
    }
    l->flags = 1;
    l->menu = ULONG(Tal_DoMethod(l->header.superObject, TAL_GetPopUpContent));
    Tal_DoMethod(l->menu, TAL_SetGroupFrame, 1);
    Tal_DoMethod(l->menu, TAL_SetGroupMargin, 4);
    return l;
}

void Tal_DisposePopUpListClass(void* instance) {
    auto* l = of(instance);
    Tal_DisposeObject(l->header.superObject); // with the entries and the menu's Texts
    delete l->offered;
    Tal_FreeObjectMem(l);
}

Tal_Word Tal_DoPopUpListClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* l = of(instance);
    switch (id) {
    case TAL_Pressed:
        offer(l);
        return Tal_DoMethodA(l->header.superObject, id, args);
    case TAL_Released:
    case TAL_PopUpChoose: {
        const bool wasOpen = Tal_DoMethod(l->header.superObject, TAL_IsPopUpOpen) != 0;
        const Tal_Word result = Tal_DoMethodA(l->header.superObject, id, args);
        if (wasOpen || !l->offered->empty()) finish(l, id == TAL_PopUpChoose ? ULONG(args[0]) : 0);
        return result;
    }
    case TAL_SelectMemberIndex:
        return select(l, ULONG(args[0]), false);
    case TAL_GetSelectedIndex:
        return selectedIndex(l);
    case TAL_GetPopUpListEntry:
        return Tal_DoMethod(l->pages, TAL_GetSelectedMember);
    case TAL_PopUpListEntry: {
        const ULONG index = ULONG(Tal_DoMethod(l->pages, TAL_GetMemberIndex, args[0]));
        return select(l, index, false);
    }
    case TAL_SetPopUpListFlags:
        l->flags = ULONG(args[0]);
        return 1;
    default:
        if ((id >> 16) == 0x0047) return Tal_DoMethodA(l->pages, id, args);
        return Tal_DoMethodA(l->header.superObject, id, args);
    }
}

ULONG Tal_InitPopUpListClass() {
    return Tal__SetupClass(&popUpListClass, "PopUpList", 0x00290000, "PopUp", Tal_NewPopUpListClass,
                           Tal_DisposePopUpListClass, Tal_DoPopUpListClassMethod, nullptr,
                           sizeof(PopUpListInstance));
}

void Tal_CleanupPopUpListClass() {
    Tal__CleanupClass(&popUpListClass);
}
