// Pages: a tabbed container. A row of tab buttons sits above a page group that shows one page at a time;
// the n-th tab shows the n-th page. Tal_AddingPageLabels switches Tal_AddTail between making tabs (the
// object is the tab's label) and adding pages. VerticalPages is the same with the tabs in a column on
// the left; both share the code here.
//
// Tabs are named by their position or by their button's (or label's) handle: an argument below 1024 is
// a position, anything else a handle.
#include "ui/Button.h"
#include "ui/Pages.h"
#include "Tal/Root.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>
#include <vector>

namespace {

Tal_Class pagesClass;

constexpr Tal_Word kFirstHandle = 1024;

struct Tab {
    ULONG label;
    ULONG button;
    Tal_Box* labelBox;
};

// The tab list, guarded: tabs are added while a window may be pressing them.
struct TabList {
    std::mutex lock;
    std::vector<Tab> tabs;
};

struct PagesInstance {
    Tal_Object header;
    ULONG tabRow;    // a row (a column for VerticalPages) of tab buttons ending with the trailer
    ULONG pageGroup; // page mode, frame 4
    ULONG trailer;
    TabList* list;
    ULONG selectedIndex; // the page (and tab) shown
    UBYTE addingLabels;
    UBYTE guard; // a selection is under way: the tab pressed by it does not select again
    UBYTE vertical;
};

PagesInstance* of(void* instance) {
    return static_cast<PagesInstance*>(instance);
}
ULONG self(PagesInstance* p) {
    return p->header.handle;
}

std::vector<Tab> tabsOf(PagesInstance* p) {
    std::lock_guard guard(p->list->lock);
    return p->list->tabs;
}

// The position of a tab given by its button or label handle; -1 when none.
LONG findTab(PagesInstance* p, ULONG handle) {
    std::vector<Tab> tabs = tabsOf(p);
    for (size_t i = 0; i < tabs.size(); i++)
        if (tabs[i].button == handle || tabs[i].label == handle) return LONG(i);
    return -1;
}

// Shows a tab as chosen or not: its label lights up and its button stays down. The label first, so
// that the button draws it as it now is.
void markTab(const Tab& tab, bool chosen) {
    Tal_DoMethod(tab.label, chosen ? TAL_Pressed : TAL_Released);
    Tal_DoMethod(tab.button, chosen ? TAL_Pressed : TAL_Released);
}

ULONG select(PagesInstance* p, ULONG index) {
    if (p->guard) return 0;
    std::vector<Tab> tabs = tabsOf(p);
    const size_t pages = Tal_DoMethod(p->pageGroup, TAL_GetMemberCount);
    if (index >= std::max(tabs.size(), pages)) return 0;
    p->guard = 1;
    const ULONG old = p->selectedIndex;
    if (old != index && old < tabs.size()) markTab(tabs[old], false);
    p->selectedIndex = index;
    if (index < tabs.size()) markTab(tabs[index], true);
    if (index < pages) Tal__SelectPage(p->pageGroup, index);
    p->guard = 0;
    return 1;
}

ULONG selectArgument(PagesInstance* p, Tal_Word argument) {
    if (argument < kFirstHandle) return select(p, ULONG(argument));
    LONG index = findTab(p, ULONG(argument));
    return index >= 0 ? select(p, ULONG(index)) : 0;
}

ULONG addTab(PagesInstance* p, ULONG label) {
    ULONG button = Tal_CreateObject("Button", TAL_SetUserData, label, TAL_SetButtonImmediate, 1,
                                    TAL_SetButtonFramePair, p->vertical ? 14 : 9);
    if (!button) return 0;
    if (p->vertical) Tal_DoMethod(button, TAL_SetGroupOrientation, TAL_HORIZONTAL);
    if (!Tal_DoMethod(button, TAL_AddTail, label)) {
        Tal_DisposeObject(button);
        return 0;
    }
    Tal_AddNotify(button, TAL_Pressed, TAL_AnyValue, self(p), 2, TAL_SelectMemberIndex, button);
    Tab tab{label, button, reinterpret_cast<Tal_Box*>(Tal_DoMethod(label, TAL_GetBox))};
    std::vector<Tab> tabs = tabsOf(p);
    // After the last tab, or first: the trailer stays at the end.
    if (!Tal_DoMethod(p->tabRow, TAL_InsertMember, button, tabs.empty() ? 0 : tabs.back().button)) {
        Tal_DisposeObject(button); // takes the label with it: a tab owns its label
        return 0;
    }
    ULONG index;
    {
        std::lock_guard guard(p->list->lock);
        p->list->tabs.push_back(tab);
        index = ULONG(p->list->tabs.size() - 1);
    }
    if (index == p->selectedIndex) {
        p->guard = 1;
        markTab(tab, true);
        p->guard = 0;
    }
    return 1;
}

ULONG removeTab(PagesInstance* p, ULONG label) {
    Tab tab{};
    ULONG index = 0;
    {
        std::lock_guard guard(p->list->lock);
        auto& tabs = p->list->tabs;
        auto it = std::find_if(tabs.begin(), tabs.end(), [&](const Tab& t) { return t.label == label; });
        if (it == tabs.end()) return 0;
        tab = *it;
        index = ULONG(it - tabs.begin());
        tabs.erase(it);
    }
    Tal_DoMethod(p->tabRow, TAL_RemoveMember, tab.button);
    Tal_DisposeObject(tab.button);
    // The tabs after it move up; the same page stays shown.
    if (index < p->selectedIndex) p->selectedIndex--;
    return 1;
}

ULONG addPage(PagesInstance* p, ULONG page) {
    if (!Tal_DoMethod(p->pageGroup, TAL_AddTail, page)) return 0;
    // A page group shows what was added last; a tabbed one keeps showing the chosen page.
    if (Tal_DoMethod(p->pageGroup, TAL_GetMemberCount) > p->selectedIndex + 1)
        Tal__SelectPage(p->pageGroup, p->selectedIndex);
    return 1;
}

void storeLine(Tal_StoreObjectData* context, int adding) {
    for (LONG i = 0; i < context->depth; i++) std::fputc('\t', context->file);
    std::fprintf(context->file, "Tal_AddingPageLabels,\t\t\t%d,\n", adding);
}

ULONG storeChildren(PagesInstance* p, const Tal_Word* args) {
    auto* context = reinterpret_cast<Tal_StoreObjectData*>(args[0]);
    if (!context || !context->file) return 0;
    storeLine(context, 1);
    for (const Tab& tab : tabsOf(p)) Tal_DoMethod(tab.label, TAL_StoreObject, context);
    storeLine(context, 0);
    Tal_DoMethod(p->pageGroup, TAL_StoreChildren, context);
    return 1;
}

ULONG replaceTrailer(PagesInstance* p, ULONG object) {
    if (object && !Tal_DoMethod(p->tabRow, TAL_AddTail, object)) return 0;
    if (p->trailer) {
        Tal_DoMethod(p->tabRow, TAL_RemoveMember, p->trailer);
        Tal_DisposeObject(p->trailer);
    }
    p->trailer = object;
    return 1;
}

} // namespace

ULONG Tal__SelectPage(ULONG pageGroup, ULONG index) {
    auto* box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(pageGroup, TAL_GetBox));
    if (!box) return 0;
    const WORD x = box->x, y = box->y, w = box->width, h = box->height;
    Tal_DoMethod(pageGroup, TAL_SelectMemberIndex, index);
    // The group lays itself out again at the size it would like; it keeps the room it was given.
    if (w > 0 && (box->x != x || box->y != y || box->width != w || box->height != h)) {
        Tal_DoMethod(pageGroup, TAL_SetBox, x, y, w, h);
        Tal_DoMethod(pageGroup, TAL_DrawObject);
    }
    return 1;
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
// The switch is written by the pages themselves (see storeChildren), so it is no stored attribute.
const Tal_MethodEntry Tal__TabbedPagesMethods[] = {
    ENTRY(TAL_AddingPageLabels, "Tal_AddingPageLabels", TAL_METHOD_PLAIN, 0, "%ld", nullptr),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

size_t Tal__TabbedPagesSize() {
    return sizeof(PagesInstance);
}

void* Tal__NewTabbedPages(Tal_Class* cls, bool vertical) {
    auto* p = of(Tal_AllocObjectMem(cls));
    if (!p) return nullptr;
    p->vertical = vertical;
    p->list = new (std::nothrow) TabList;
    p->header.superObject =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, vertical ? TAL_HORIZONTAL : TAL_VERTICAL);
    p->tabRow = Tal_CreateObject("Group", TAL_SetGroupOrientation, vertical ? TAL_VERTICAL : TAL_HORIZONTAL,
                                 TAL_SetGroupSpacing, 0);
    // A spacer one pixel across takes the rest of the row, so that the tabs keep to the start.
    p->trailer = Tal_CreateObject("Space", vertical ? TAL_SetSpaceFixedWidth : TAL_SetSpaceFixedHeight, 1);
    p->pageGroup = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_PAGES, TAL_SetGroupFrame, 4);
    if (!p->list || !p->header.superObject || !p->tabRow || !p->trailer || !p->pageGroup) {
        for (ULONG h : {p->pageGroup, p->trailer, p->tabRow, p->header.superObject}) Tal_DisposeObject(h);
        delete p->list;
        Tal_FreeObjectMem(p);
        return nullptr;
    }
    Tal_DoMethod(p->tabRow, TAL_AddTail, p->trailer);
    Tal_DoMethod(p->header.superObject, TAL_AddTail, p->tabRow);
    Tal_DoMethod(p->header.superObject, TAL_AddTail, p->pageGroup);
    return p;
}

void Tal__DisposeTabbedPages(void* instance) {
    auto* p = of(instance);
    // The tab row (with the buttons and their labels) and the page group are members of the super object.
    Tal_DisposeObject(p->header.superObject);
    delete p->list;
    Tal_FreeObjectMem(p);
}

Tal_Word Tal__DoTabbedPagesMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* p = of(instance);
    switch (id) {
    case TAL_AddingPageLabels:
    case TAL_AddingPageLabelsTag:
        p->addingLabels = args[0] ? 1 : 0;
        return 1;
    case TAL_AddTail:
        if (!args[0]) return 0;
        return p->addingLabels ? addTab(p, ULONG(args[0])) : addPage(p, ULONG(args[0]));
    case TAL_RemoveMember:
        if (p->addingLabels) return removeTab(p, ULONG(args[0]));
        return Tal_DoMethodA(p->pageGroup, id, args);
    case TAL_SelectMemberIndex:
        return selectArgument(p, args[0]);
    case TAL_SelectMember: {
        LONG index = findTab(p, ULONG(args[0]));
        if (index < 0) {
            // A page without a tab of its own.
            if (!Tal_DoMethod(p->pageGroup, TAL_GetMemberCount)) return 0;
            ULONG page = ULONG(args[0]);
            index = LONG(Tal_DoMethod(p->pageGroup, TAL_GetMemberIndex, page));
            if (ULONG(Tal_DoMethod(p->pageGroup, TAL_GetMemberAt, index)) != page) return 0;
        }
        return select(p, ULONG(index));
    }
    case TAL_GetSelectedIndex:
    case TAL_GetSelectedMember:
        return Tal_DoMethodA(p->pageGroup, id, args);
    case TAL_SetTabRowTrailer:
        return replaceTrailer(p, ULONG(args[0]));
    case TAL_GetPageGroup:
        return p->pageGroup;
    case TAL_GetTabRow:
        return p->tabRow;
    case TAL_StoreChildren:
        return storeChildren(p, args);
    default:
        // The other member methods are about the pages.
        if ((id >> 16) == 0x0047) return Tal_DoMethodA(p->pageGroup, id, args);
        return Tal_DoMethodA(p->header.superObject, id, args);
    }
}

void* Tal_NewPagesClass(const TagItem*) {
    return Tal__NewTabbedPages(&pagesClass, false);
}

void Tal_DisposePagesClass(void* instance) {
    Tal__DisposeTabbedPages(instance);
}

Tal_Word Tal_DoPagesClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    return Tal__DoTabbedPagesMethod(instance, id, args);
}

ULONG Tal_InitPagesClass() {
    return Tal__SetupClass(&pagesClass, "Pages", 0x000B0000, "Group", Tal_NewPagesClass,
                           Tal_DisposePagesClass, Tal_DoPagesClassMethod, Tal__TabbedPagesMethods,
                           ULONG(Tal__TabbedPagesSize()));
}

void Tal_CleanupPagesClass() {
    Tal__CleanupClass(&pagesClass);
}
