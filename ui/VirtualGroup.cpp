// VirtualGroup: a viewport on content that may be larger than it, with a vertical scroller on the right
// and a horizontal one below (a corner space where they meet), each with an optional object beside it.
// A scroller shows only while its direction has more content than room, unless it is hidden outright.
//
// The members live in a plain vertical group, the content. A virtual-mode group (the viewport) reserves
// the room for it in the layout: as small as 1 × 1, as large as the content wants. This class places the
// content in the viewport at its natural size, moved by the scroll position, and clips it (and every
// object inside it) to the viewport.
#include "ui/Button.h"
#include "ui/Pages.h"
#include "ui/Slider.h"
#include "Tal/Root.h"

#include <algorithm>

namespace {

Tal_Class virtualGroupClass;

constexpr LONG kDefaultStep = 16; // pixels per arrow tap
constexpr LONG kCornerSize = 16;

struct VirtualInstance {
    Tal_Object header;
    ULONG viewport, content;
    ULONG vScroller, hScroller, corner;
    ULONG vObject, hObject;
    ULONG vColumn, hRow;
    UBYTE hHidden, vHidden; // hidden outright
    UBYTE hShown, vShown;   // shown as laid out
    UBYTE cornerShown;
    UBYTE laidOut;
    UBYTE guard;  // the scrollers echo the values this object gives them
    LONG rowStep; // -1: the first member's height
    LONG held;    // Tal_HoldLayout: member changes wait for the release
    LONG scrollX, scrollY;
    LONG naturalWidth, naturalHeight; // of the content
};

VirtualInstance* of(void* instance) {
    return static_cast<VirtualInstance*>(instance);
}
ULONG self(VirtualInstance* v) {
    return v->header.handle;
}
ULONG topmost(VirtualInstance* v) {
    return Tal_GetTopMostObject(v->header.handle);
}
Tal_Box* boxOf(ULONG object) {
    return reinterpret_cast<Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
}

// Gives a region to an object and everything inside it, except objects that clip themselves. The
// members are those of every Group in the object's instance chain: classes built on a group may answer
// the member methods for a part of them only (Pages for its pages, not its tabs).
void clipTree(ULONG object, Region* clip, const Tal_Class* group, int depth = 0) {
    if (!object || depth > 64) return;
    Tal_Box* b = boxOf(object);
    if (b && (!b->clipRegion || b->clipRegion == clip)) Tal_DoMethod(object, TAL_SetClipRegion, clip);
    for (ULONG h = object, step = 0; h && step < 16; step++) {
        Tal_Object* instance = Tal__LockObjectInstanceQuiet(h);
        if (!instance) return;
        const bool isGroup = instance->objClass == group;
        const ULONG inner = instance->superObject;
        Tal_UnlockObjectInstance(instance);
        if (isGroup)
            for (ULONG m = ULONG(Tal_DoMethod(h, TAL_GetFirstGroupObject)); m;
                 m = ULONG(Tal_DoMethod(h, TAL_GetNextGroupObject, m)))
                clipTree(m, clip, group, depth + 1);
        h = inner;
    }
}

struct Viewport {
    LONG x, y, w, h;
};
Viewport viewportOf(VirtualInstance* v) {
    const Tal_Box* b = boxOf(v->viewport);
    return b ? Viewport{b->x, b->y, b->width, b->height} : Viewport{};
}

LONG maxScrollX(VirtualInstance* v, const Viewport& vp) {
    return std::max<LONG>(v->naturalWidth - vp.w, 0);
}
LONG maxScrollY(VirtualInstance* v, const Viewport& vp) {
    return std::max<LONG>(v->naturalHeight - vp.h, 0);
}

// Puts the content at its place for the scroll position and clips it to the viewport.
void placeContent(VirtualInstance* v) {
    const Viewport vp = viewportOf(v);
    v->scrollX = std::clamp<LONG>(v->scrollX, 0, maxScrollX(v, vp));
    v->scrollY = std::clamp<LONG>(v->scrollY, 0, maxScrollY(v, vp));
    Tal_DoMethod(v->content, TAL_SetBox, vp.x - v->scrollX, vp.y - v->scrollY,
                 std::max(vp.w, v->naturalWidth), std::max(vp.h, v->naturalHeight));
    if (Tal_Box* b = boxOf(v->viewport)) clipTree(v->content, b->clipRegion, Tal_FindClassFromName("Group"));
}

// The scrollers follow the content and the viewport; their echoes are not taken for new positions.
void updateScrollers(VirtualInstance* v) {
    const Viewport vp = viewportOf(v);
    const LONG totalW = std::max(vp.w, v->naturalWidth), totalH = std::max(vp.h, v->naturalHeight);
    v->guard++;
    Tal_DoMethod(v->hScroller, TAL_SetScrollerTotal, totalW);
    Tal_DoMethod(v->hScroller, TAL_SetScrollerVisible, vp.w);
    Tal_DoMethod(v->hScroller, TAL_SetScrollerValue, v->scrollX);
    Tal_DoMethod(v->vScroller, TAL_SetScrollerTotal, totalH);
    Tal_DoMethod(v->vScroller, TAL_SetScrollerVisible, vp.h);
    Tal_DoMethod(v->vScroller, TAL_SetScrollerValue, v->scrollY);
    if (v->rowStep < 0) {
        // A row: the first member's height.
        const ULONG first = ULONG(Tal_DoMethod(v->content, TAL_GetFirstGroupObject));
        const Tal_Box* b = first ? boxOf(first) : nullptr;
        Tal_DoMethod(v->vScroller, TAL_SetScrollerStep, b && b->height > 0 ? b->height : 1);
    }
    v->guard--;
    const ULONG me = topmost(v);
    Tal_DoNotify(me, TAL_VisibleWidth, vp.w);
    Tal_DoNotify(me, TAL_VisibleHeight, vp.h);
    Tal_DoNotify(me, TAL_SetGroupWidth, totalW);
    Tal_DoNotify(me, TAL_SetGroupHeight, totalH);
}

void showPart(ULONG object, UBYTE* shown, bool show) {
    if (*shown == UBYTE(show)) return;
    *shown = show;
    Tal_DoMethod(object, show ? TAL_Show : TAL_Hide);
}

LONG minWidthOf(ULONG object) {
    const Tal_Box* b = boxOf(object);
    return b ? b->minWidth : 0;
}
LONG minHeightOf(ULONG object) {
    const Tal_Box* b = boxOf(object);
    return b ? b->minHeight : 0;
}

// Shows the scrollers the content needs and that are not hidden outright; true when that changed.
bool fitScrollers(VirtualInstance* v) {
    const Viewport vp = viewportOf(v);
    const UBYTE wasH = v->hShown, wasV = v->vShown;
    // The room without scrollers, and what each scroller (with its object) takes of it. A hidden part
    // has no size of its own, but its members were still measured.
    const LONG across = std::max(minWidthOf(v->vScroller), v->vObject ? minWidthOf(v->vObject) : 0);
    const LONG high = std::max(minHeightOf(v->hScroller), v->hObject ? minHeightOf(v->hObject) : 0);
    const LONG roomW = vp.w + (v->vShown ? boxOf(v->vColumn)->width : 0);
    const LONG roomH = vp.h + (v->hShown ? boxOf(v->hRow)->height : 0);
    bool needV = v->naturalHeight > roomH, needH = v->naturalWidth > roomW;
    if (needV && !needH) needH = v->naturalWidth > roomW - across;
    if (needH && !needV) needV = v->naturalHeight > roomH - high;
    const bool showH = needH && !v->hHidden, showV = needV && !v->vHidden;
    showPart(v->hRow, &v->hShown, showH);
    showPart(v->vColumn, &v->vShown, showV);
    // The corner fills the place where both meet.
    showPart(v->corner, &v->cornerShown, showH && showV);
    return wasH != v->hShown || wasV != v->vShown;
}

// Limits with the drawing context given (none: the object's own).
void askLimits(VirtualInstance* v, const Tal_Word* args) {
    const Tal_Word context[] = {args ? args[0] : Tal_DoMethod(self(v), TAL_GetDrawInfo), 0};
    args = context;
    Tal_DoMethodA(v->header.superObject, TAL_AskMinMax, args);
    // The corner is as wide as the vertical scroller.
    const Tal_Box* s = boxOf(v->vScroller);
    const Tal_Box* c = boxOf(v->corner);
    if (s && c && s->minWidth > 0 && c->minWidth != s->minWidth) {
        Tal_DoMethod(v->corner, TAL_SetSpaceFixedWidth, s->minWidth);
        Tal_DoMethodA(v->header.superObject, TAL_AskMinMax, args);
    }
    // The viewport has just asked the content: its box holds the content's natural size.
    if (const Tal_Box* b = boxOf(v->content)) {
        v->naturalWidth = std::max<LONG>(b->width, b->minWidth);
        v->naturalHeight = std::max<LONG>(b->height, b->minHeight);
    }
}

void layout(VirtualInstance* v, const Tal_Word* args) {
    Tal_DoMethodA(v->header.superObject, TAL_SetBox, args);
    // Showing or hiding a scroller changes the viewport; twice settles it.
    for (int pass = 0; pass < 2 && fitScrollers(v); pass++) {
        askLimits(v, nullptr);
        Tal_DoMethodA(v->header.superObject, TAL_SetBox, args);
    }
    v->laidOut = 1;
    placeContent(v);
    updateScrollers(v);
}

// Lays the whole group out again in its box (after a change of the members or of the scrollers).
void relayout(VirtualInstance* v) {
    if (!v->laidOut || v->held > 0) return;
    const Tal_Box* b = boxOf(self(v));
    const Tal_Word box[] = {Tal_Word(intptr_t(b->x)), Tal_Word(intptr_t(b->y)), Tal_Word(intptr_t(b->width)),
                            Tal_Word(intptr_t(b->height))};
    askLimits(v, nullptr);
    layout(v, box);
    Tal_DoMethod(topmost(v), TAL_DrawObject);
}

// Scrolls to (x, y) (a coordinate below 0 stays), tells the scrollers and redraws the viewport.
void scrollTo(VirtualInstance* v, LONG x, LONG y, bool notifyX, bool notifyY) {
    if (v->guard) return;
    const Viewport vp = viewportOf(v);
    v->scrollX = std::clamp<LONG>(x, 0, maxScrollX(v, vp));
    v->scrollY = std::clamp<LONG>(y, 0, maxScrollY(v, vp));
    if (notifyX) Tal_DoNotify(topmost(v), TAL_SetScrollX, v->scrollX);
    if (notifyY) Tal_DoNotify(topmost(v), TAL_SetScrollY, v->scrollY);
    if (!v->laidOut) return;
    v->guard++;
    Tal_DoMethod(v->hScroller, TAL_SetScrollerValue, v->scrollX);
    Tal_DoMethod(v->vScroller, TAL_SetScrollerValue, v->scrollY);
    v->guard--;
    placeContent(v);
    Tal_DoMethod(v->viewport, TAL_DrawObject);
}

// An object beside a scroller (none removes it); the one it replaces goes.
ULONG setSideObject(VirtualInstance* v, ULONG* field, ULONG container, ULONG object) {
    if (object == *field) return 1;
    if (object && !Tal_DoMethod(container, TAL_AddHead, object)) return 0;
    if (*field) {
        Tal_DoMethod(container, TAL_RemoveMember, *field);
        Tal_DisposeObject(*field);
    }
    *field = object;
    relayout(v);
    return 1;
}

ULONG hideOutright(VirtualInstance* v, int horizontal, int vertical) {
    if (horizontal >= 0) v->hHidden = UBYTE(horizontal);
    if (vertical >= 0) v->vHidden = UBYTE(vertical);
    fitScrollers(v);
    relayout(v);
    return 1;
}

bool isPageMethod(ULONG id) {
    return id == TAL_SelectMemberIndex || id == TAL_GetSelectedIndex || id == TAL_SelectMember ||
           id == TAL_GetSelectedMember;
}

} // namespace

void* Tal_NewVirtualGroupClass(const TagItem*) {
    auto* v = of(Tal_AllocObjectMem(&virtualGroupClass));
    if (!v) return nullptr;
    v->header.superObject = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    ULONG row = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    v->viewport =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL | TAL_VIRTUAL, TAL_SetGroupFrame, 6);
    v->content = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    v->vColumn = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetWeight, 0);
    v->hRow = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetWeight, 0);
    v->vScroller = Tal_CreateObject("Scroller", TAL_SetGroupOrientation, 2);
    v->hScroller = Tal_CreateObject("Scroller");
    v->corner = Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, kCornerSize, TAL_SetWeight, 0);
    const ULONG parts[] = {row,     v->viewport,  v->content,   v->vColumn,
                           v->hRow, v->vScroller, v->hScroller, v->corner};
    if (!v->header.superObject || std::find(std::begin(parts), std::end(parts), 0u) != std::end(parts)) {
        for (ULONG h : parts) Tal_DisposeObject(h);
        Tal_DisposeObject(v->header.superObject);
        Tal_FreeObjectMem(v);
        return nullptr;
    }
    Tal_DoMethod(v->viewport, TAL_AddTail, v->content);
    Tal_DoMethod(v->vColumn, TAL_AddTail, v->vScroller);
    Tal_DoMethod(row, TAL_AddTail, v->viewport);
    Tal_DoMethod(row, TAL_AddTail, v->vColumn);
    Tal_DoMethod(v->hRow, TAL_AddTail, v->hScroller);
    Tal_DoMethod(v->hRow, TAL_AddTail, v->corner);
    Tal_DoMethod(v->header.superObject, TAL_AddTail, row);
    Tal_DoMethod(v->header.superObject, TAL_AddTail, v->hRow);
    v->hShown = v->vShown = v->cornerShown = 1;
    v->rowStep = kDefaultStep;
    for (ULONG scroller : {v->hScroller, v->vScroller}) {
        Tal_DoMethod(scroller, TAL_SetScrollerTotal, 1000);
        Tal_DoMethod(scroller, TAL_SetScrollerVisible, 50);
        Tal_DoMethod(scroller, TAL_SetScrollerStep, kDefaultStep);
    }
    const ULONG me = v->header.handle;
    Tal_AddNotify(v->hScroller, TAL_SetScrollerValue, TAL_AnyValue, me, 2, TAL_SetScrollX, TAL_TriggerValue);
    Tal_AddNotify(v->vScroller, TAL_SetScrollerValue, TAL_AnyValue, me, 2, TAL_SetScrollY, TAL_TriggerValue);
    return v;
}

void Tal_DisposeVirtualGroupClass(void* instance) {
    auto* v = of(instance);
    Tal_DisposeObject(v->header.superObject); // every part is inside it
    Tal_FreeObjectMem(v);
}

Tal_Word Tal_DoVirtualGroupClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* v = of(instance);
    auto number = [&](int i) { return LONG(int32_t(uint32_t(args[i]))); };
    switch (id) {
    case TAL_SetScrollX:
        scrollTo(v, number(0), v->scrollY, true, false);
        return 1;
    case TAL_SetScrollY:
        scrollTo(v, v->scrollX, number(0), false, true);
        return 1;
    case TAL_ScrollToPoint:
        scrollTo(v, number(0), number(1), true, true);
        return 1;
    case TAL_GetScrollX:
        return Tal_Word(intptr_t(v->scrollX));
    case TAL_GetScrollY:
        return Tal_Word(intptr_t(v->scrollY));
    case TAL_AutoHideScrollers:
        if (fitScrollers(v)) relayout(v);
        return 1;
    case TAL_SetHScrollerObject:
        return setSideObject(v, &v->hObject, v->hRow, ULONG(args[0]));
    case TAL_GetHScrollerObject:
        return v->hObject;
    case TAL_SetVScrollerObject:
        return setSideObject(v, &v->vObject, v->vColumn, ULONG(args[0]));
    case TAL_GetVScrollerObject:
        return v->vObject;
    case TAL_SetHScrollStep:
        return Tal_DoMethod(v->hScroller, TAL_SetScrollerStep, args[0]);
    case TAL_GetHScrollStep:
        return Tal_DoMethod(v->hScroller, TAL_GetScrollerStep);
    case TAL_SetVScrollStep:
        v->rowStep = number(0);
        if (v->rowStep >= 0) Tal_DoMethod(v->vScroller, TAL_SetScrollerStep, v->rowStep);
        relayout(v);
        return 1;
    case TAL_GetVScrollStep:
        return Tal_Word(intptr_t(v->rowStep));
    case TAL_HideScrollers:
        return hideOutright(v, 1, 1);
    case TAL_ShowScrollers:
        return hideOutright(v, 0, 0);
    case TAL_HideHScroller:
        return hideOutright(v, 1, -1);
    case TAL_HideVScroller:
        return hideOutright(v, -1, 1);
    case TAL_ShowHScroller:
        return hideOutright(v, 0, -1);
    case TAL_ShowVScroller:
        return hideOutright(v, -1, 0);
    case TAL_GetHScroller:
        return v->hScroller;
    case TAL_GetVScroller:
        return v->vScroller;
    case TAL_HoldLayout:
        return Tal_Word(intptr_t(++v->held));
    case TAL_ReleaseLayout:
        if (v->held > 0 && --v->held == 0) relayout(v);
        return Tal_Word(intptr_t(v->held));
    case TAL_AskMinMax:
        askLimits(v, args);
        return 1;
    case TAL_SetBox:
        layout(v, args);
        return 0;
    case TAL_StoreChildren:
        return Tal_DoMethodA(v->content, id, args);
    case TAL_SetGroupSpacing:
    case TAL_GetGroupSpacing:
    case TAL_SetGroupMargin:
    case TAL_GetGroupMargin:
    case TAL_VirtualContentMethod:
        return Tal_DoMethodA(v->content, id, args);
    default:
        if ((id >> 16) == 0x0047 || isPageMethod(id)) {
            const Tal_Word result = Tal_DoMethodA(v->content, id, args);
            // New or removed members change what there is to scroll.
            if (id == TAL_AddHead || id == TAL_AddTail || id == TAL_InsertMember ||
                id == TAL_InsertMemberAt || id == TAL_RemoveMember)
                relayout(v);
            return result;
        }
        return Tal_DoMethodA(v->header.superObject, id, args);
    }
}

ULONG Tal_InitVirtualGroupClass() {
    return Tal__SetupClass(&virtualGroupClass, "VirtualGroup", 0x00240000, "Group", Tal_NewVirtualGroupClass,
                           Tal_DisposeVirtualGroupClass, Tal_DoVirtualGroupClassMethod, nullptr,
                           sizeof(VirtualInstance));
}

void Tal_CleanupVirtualGroupClass() {
    Tal__CleanupClass(&virtualGroupClass);
}
