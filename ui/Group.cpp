// Group: the container of the interface. It keeps an ordered member list, computes its limits from its
// members', distributes its box among them (stacked vertically or horizontally, or one at a time as
// pages, or larger than itself and scrolled), draws its frame and offers input to its members.
//
// Its registration also creates the global object lock, which guards every notification list and the
// member lists of groups that have no member lock of their own.
#include "ui/Group.h"
#include "Tal/Root.h"
#include "ui/Window.h"

#include <algorithm>
#include <atomic>
#include <vector>

namespace {

Tal_Class groupClass;

struct MemberNode {
    Node node;
    ULONG member;
    Tal_Box* box;
    MemberNode* selfMark;
};

struct GroupInstance {
    Tal_Object header;
    List members;
    MemberNode* selected;
    Region* clip;
    MemberNode* cursor;
    ULONG flags;
    WORD count;
    WORD minWidth, minHeight;
    WORD requestedWidth, requestedHeight;
    WORD naturalWidth, naturalHeight; // from the last limits: the box keeps only the size it was given
    WORD margin, spacing;
    UBYTE frame, pressedFrame, selectedFrame;
    UBYTE fixedWidth, fixedHeight;
    UBYTE alignment;
    UBYTE laidOut;
    UBYTE orientation;
    UBYTE dropHighlight;
    UBYTE selectedState;
    UBYTE scrollGuard;
    UBYTE pressed;
    BYTE layoutEnable;
    LONG scrollX, scrollY;
    Tal_Box* box; // the base instance's box
    // Limits, layout or drawing running in another thread: removals wait for it.
    std::atomic<int> busy;
    std::atomic<Task*> busyTask;
};

constexpr LONG kMax = 32767;
constexpr ULONG kMaxLayoutFlag = 1;

WORD saturate(LONG v) {
    return WORD(std::clamp<LONG>(v, -kMax, kMax));
}

GroupInstance* of(void* instance) {
    return static_cast<GroupInstance*>(instance);
}
ULONG super(GroupInstance* g) {
    return g->header.superObject;
}
ULONG self(GroupInstance* g) {
    return g->header.handle;
}
ULONG topmost(GroupInstance* g) {
    return Tal_GetTopMostObject(g->header.handle);
}

bool vertical(GroupInstance* g) {
    return (g->orientation & 3) != TAL_HORIZONTAL;
}
bool pages(GroupInstance* g) {
    return g->orientation & TAL_PAGES;
}
bool isVirtual(GroupInstance* g) {
    return g->orientation & TAL_VIRTUAL;
}
bool hidden(const Tal_Box* box) {
    return box && (box->flags & TAL_BOX_HIDDEN);
}

Tal_Semaphore* memberLock(GroupInstance* g) {
    auto* lock = reinterpret_cast<Tal_Semaphore*>(Tal_DoMethod(super(g), TAL_GetMemberLock));
    return lock ? lock : Tal__ObjectLock();
}

// Holds the member lock for a scope (when it could be had).
struct MemberLock {
    Tal_Semaphore* lock;
    bool held;
    MemberLock(GroupInstance* g, ULONG retries)
        : lock(memberLock(g)), held(Tal_ObtainSemaphore(lock, retries) != 0) {}
    ~MemberLock() {
        if (held) Tal_ReleaseSemaphore(lock);
    }
};

// Marks limits, layout and drawing, so that a removal from another thread waits for them to end.
struct Busy {
    GroupInstance* g;
    explicit Busy(GroupInstance* group) : g(group) {
        g->busy++;
        g->busyTask = FindTask(nullptr);
    }
    ~Busy() { g->busy--; }
};

template <typename F>
void forMembers(GroupInstance* g, F f) {
    for (MemberNode* n : ListNodes<MemberNode>(&g->members)) f(n);
}

// Sends a method to every member (only the selected one in page mode, when asked).
void toMembers(GroupInstance* g, ULONG id, const Tal_Word* args, bool selectedOnlyInPages) {
    if (selectedOnlyInPages && pages(g)) {
        if (g->selected) Tal_DoMethodA(g->selected->member, id, args);
        return;
    }
    std::vector<ULONG> members;
    {
        MemberLock lock(g, TAL_LOCK_RETRIES);
        forMembers(g, [&](MemberNode* n) { members.push_back(n->member); });
    }
    for (ULONG m : members) Tal_DoMethodA(m, id, args);
}

MemberNode* nodeOf(GroupInstance* g, ULONG member) {
    for (MemberNode* n : ListNodes<MemberNode>(&g->members))
        if (n->member == member) return n;
    return nullptr;
}

Tal_DrawInfo* drawInfo(GroupInstance* g) {
    return reinterpret_cast<Tal_DrawInfo*>(Tal_DoMethod(super(g), TAL_GetDrawInfo));
}

// Font height and frame thickness from the screen's context, or the interface defaults.
struct Metrics {
    LONG fontHeight = 11, frameWidth = 2, frameHeight = 2;
};
Metrics metrics(GroupInstance* g) {
    Metrics m;
    if (Tal_DrawInfo* di = Tal_LockDrawInfoForInspection(self(g))) {
        m.fontHeight = di->fontHeight;
        m.frameWidth = di->frameWidth;
        m.frameHeight = di->frameHeight;
        Tal_UnlockDrawInfoForInspection(self(g));
    } else {
        m.fontHeight = host_FontHeight(host_InterfaceFont());
    }
    return m;
}

const char* label(GroupInstance* g) {
    auto* text = reinterpret_cast<const char*>(Tal_DoMethod(super(g), TAL_GetLabel));
    return text ? text : "";
}

bool framed(GroupInstance* g) {
    return g->frame != 0 && g->frame != 6;
}

// ---------------------------------------------------------------------------------------------------
// Limits.

void askLimits(GroupInstance* g, Tal_Word context) {
    Busy busy(g);
    MemberLock lock(g, TAL_LOCK_RETRIES);
    Metrics m = metrics(g);
    const char* text = label(g);
    LONG labelWidth = *text ? host_FontTextWidth(host_InterfaceFont(), text, LONG(std::strlen(text))) : 0;

    LONG w = 0, h = 0, mw = 0, mh = 0, Mw = 0, Mh = 0;
    if (!pages(g)) {
        bool vert = vertical(g);
        LONG visible = 0, largestMinWidth = 0, largestMinHeight = 0;
        forMembers(g, [&](MemberNode* n) {
            Tal_DoMethod(n->member, TAL_AskMinMax, context);
            Tal_Box* b = n->box;
            if (!b || hidden(b)) return;
            visible++;
            largestMinWidth = std::max<LONG>(largestMinWidth, b->minWidth);
            largestMinHeight = std::max<LONG>(largestMinHeight, b->minHeight);
            auto* weight = Tal__GetRootInstance(n->member);
            bool stretches = !weight || weight->weight != 0;
            if (vert) {
                w = std::max<LONG>(w, b->width);
                h += b->height;
                mw = std::max<LONG>(mw, b->minWidth);
                mh += b->minHeight;
                Mw = std::max<LONG>(Mw, b->maxWidth);
                Mh += stretches ? b->maxHeight : b->minHeight;
            } else {
                h = std::max<LONG>(h, b->height);
                w += b->width;
                mh = std::max<LONG>(mh, b->minHeight);
                mw += b->minWidth;
                Mh = std::max<LONG>(Mh, b->maxHeight);
                Mw += stretches ? b->maxWidth : b->minWidth;
            }
        });
        // A member of a fixed-size row (column) is as wide (high) as the widest (highest) minimum.
        if (!vert && g->fixedWidth) {
            mw = visible * largestMinWidth;
            w = std::max(w, mw);
        }
        if (vert && g->fixedHeight) {
            mh = visible * largestMinHeight;
            h = std::max(h, mh);
        }
        LONG gaps = g->spacing * std::max<LONG>(visible - 1, 0);
        if (vert) {
            h += gaps;
            mh += gaps;
            Mh += gaps;
        } else {
            w += gaps;
            mw += gaps;
            Mw += gaps;
        }
    } else {
        forMembers(g, [&](MemberNode* n) {
            if (g->orientation == TAL_PAGES_SELECTED_LIMITS && n != g->selected) return;
            bool wasHidden = n != g->selected;
            if (wasHidden) Tal_DoMethod(n->member, TAL_ForceShow);
            Tal_DoMethod(n->member, TAL_SetDrawInfo, drawInfo(g));
            Tal_DoMethod(n->member, TAL_AskMinMax, context);
            if (wasHidden) {
                Tal_DoMethod(n->member, TAL_SetDrawInfo, 0);
                Tal_DoMethod(n->member, TAL_Hide);
            }
            if (Tal_Box* b = n->box) {
                w = std::max<LONG>(w, b->width);
                h = std::max<LONG>(h, b->height);
                mw = std::max<LONG>(mw, b->minWidth);
                mh = std::max<LONG>(mh, b->minHeight);
                Mw = std::max<LONG>(Mw, b->maxWidth);
                Mh = std::max<LONG>(Mh, b->maxHeight);
            }
        });
    }
    LONG* widths[] = {&w, &mw, &Mw};
    LONG* heights[] = {&h, &mh, &Mh};
    if (framed(g)) {
        for (LONG* v : widths) *v += 2 * m.frameWidth;
        for (LONG* v : heights) *v += 2 * m.frameHeight;
    }
    for (LONG* v : widths) *v += 2 * g->margin;
    for (LONG* v : heights) *v += 2 * g->margin;
    if (*text) {
        for (LONG* v : widths) *v = std::max(*v, labelWidth + 2 * m.frameWidth);
        for (LONG* v : heights) *v += m.fontHeight - m.frameHeight + 2;
    }
    w = std::max<LONG>(w, g->requestedWidth);
    h = std::max<LONG>(h, g->requestedHeight);
    if (g->fixedWidth) Mw = mw;
    if (g->fixedHeight) Mh = mh;
    if (g->flags & kMaxLayoutFlag) {
        Mw = 1280;
        Mh = 1280;
    }
    if (isVirtual(g)) mw = mh = 1;
    Tal_Box* box = g->box;
    box->width = saturate(w);
    box->height = saturate(h);
    box->minWidth = saturate(mw);
    box->minHeight = saturate(mh);
    box->maxWidth = saturate(std::max(Mw, mw));
    box->maxHeight = saturate(std::max(Mh, mh));
    g->minWidth = box->minWidth;
    g->minHeight = box->minHeight;
    g->naturalWidth = box->width;
    g->naturalHeight = box->height;
}

// ---------------------------------------------------------------------------------------------------
// Layout.

struct Area {
    LONG x, y, w, h;
};

Area innerArea(GroupInstance* g, const Metrics& m) {
    Tal_Box* b = g->box;
    Area a{b->x, b->y, b->width, b->height};
    if (framed(g))
        a = {a.x + m.frameWidth, a.y + m.frameHeight, a.w - 2 * m.frameWidth, a.h - 2 * m.frameHeight};
    a = {a.x + g->margin, a.y + g->margin, a.w - 2 * g->margin, a.h - 2 * g->margin};
    if (*label(g)) {
        LONG down = m.fontHeight - m.frameHeight;
        a = {a.x, a.y + down, a.w - 2 * m.frameWidth, a.h - down};
    }
    return a;
}

void installClip(GroupInstance* g, bool needed, const Area& visible) {
    if (needed) {
        if (!g->clip) g->clip = NewRegion();
        if (!g->clip) return;
        ClearRegion(g->clip);
        Rectangle r{WORD(visible.x), WORD(visible.y), WORD(visible.x + std::max<LONG>(visible.w, 1) - 1),
                    WORD(visible.y + std::max<LONG>(visible.h, 1) - 1)};
        OrRectRegion(g->clip, &r);
        Tal_DoMethod(self(g), TAL_SetClipRegion, g->clip);
    } else if (g->box->clipRegion == g->clip && g->clip) {
        Tal_DoMethod(self(g), TAL_SetClipRegion, 0);
    }
}

void layout(GroupInstance* g, const Tal_Word* args) {
    Busy busy(g);
    MemberLock lock(g, TAL_LOCK_RETRIES);
    Tal_DoMethodA(super(g), TAL_SetBox, args);
    Metrics m = metrics(g);
    Area inner = innerArea(g, m);
    Area visible = inner;
    if (isVirtual(g)) {
        inner.w = std::max<LONG>(inner.w, g->naturalWidth);
        inner.h = std::max<LONG>(inner.h, g->naturalHeight);
        g->scrollX = std::clamp<LONG>(g->scrollX, 0, std::max<LONG>(inner.w - visible.w, 0));
        g->scrollY = std::clamp<LONG>(g->scrollY, 0, std::max<LONG>(inner.h - visible.h, 0));
        inner.x -= g->scrollX;
        inner.y -= g->scrollY;
    }
    if (pages(g)) {
        if (MemberNode* n = g->selected) {
            Tal_Box* b = n->box;
            LONG dx = b ? std::max<LONG>(inner.w - b->maxWidth, 0) / 2 : 0;
            LONG dy = b ? std::max<LONG>(inner.h - b->maxHeight, 0) / 2 : 0;
            Tal_DoMethod(n->member, TAL_SetBox, inner.x + dx, inner.y + dy, inner.w - 2 * dx,
                         inner.h - 2 * dy);
        }
        installClip(g, false, visible);
        return;
    }
    bool vert = vertical(g);
    std::vector<MemberNode*> shown;
    forMembers(g, [&](MemberNode* n) {
        if (n->box && !hidden(n->box)) shown.push_back(n);
    });
    auto minAlong = [&](Tal_Box* b) { return LONG(vert ? b->minHeight : b->minWidth); };
    auto maxAlong = [&](Tal_Box* b) { return LONG(vert ? b->maxHeight : b->maxWidth); };
    auto maxAcross = [&](Tal_Box* b) { return LONG(vert ? b->maxWidth : b->maxHeight); };
    auto weightOf = [](MemberNode* n) {
        Tal_RootInstance* r = Tal__GetRootInstance(n->member);
        return r ? LONG(r->weight) : 100;
    };
    const LONG innerAlong = vert ? inner.h : inner.w, innerAcross = vert ? inner.w : inner.h;
    LONG gaps = g->spacing * std::max<LONG>(LONG(shown.size()) - 1, 0);
    LONG sum = gaps, stretchers = 0, largestMinWidth = 0, largestMinHeight = 0;
    for (MemberNode* n : shown) {
        sum += minAlong(n->box);
        if (maxAlong(n->box) > minAlong(n->box) && weightOf(n) != 0) stretchers++;
        largestMinWidth = std::max<LONG>(largestMinWidth, n->box->minWidth);
        largestMinHeight = std::max<LONG>(largestMinHeight, n->box->minHeight);
    }
    stretchers = std::max<LONG>(stretchers, 1);
    LONG extra = std::max<LONG>(innerAlong - sum, 0);
    // Sizes first: alignment is relative to the largest member across the direction.
    std::vector<std::pair<LONG, LONG>> sizes; // along, across
    LONG largestAcross = 0;
    for (MemberNode* n : shown) {
        LONG along = std::min(minAlong(n->box) + weightOf(n) * (extra / stretchers) / 100, maxAlong(n->box));
        LONG across = std::min(innerAcross, maxAcross(n->box));
        // Fixed width or height: every member as wide (high) as the widest (highest) minimum.
        if (g->fixedWidth) (vert ? across : along) = largestMinWidth;
        if (g->fixedHeight) (vert ? along : across) = largestMinHeight;
        sizes.push_back({along, across});
        largestAcross = std::max(largestAcross, across);
    }
    LONG pos = vert ? inner.y : inner.x;
    for (size_t i = 0; i < shown.size(); i++) {
        auto [along, across] = sizes[i];
        LONG offset = (largestAcross - across) / 2;
        if ((vert && (g->alignment & 2)) || (!vert && (g->alignment & 8))) offset = largestAcross - across;
        if (!(g->alignment & (16 | 32)) && !(g->alignment & (vert ? 2 : 8))) offset = 0;
        LONG startAcross = (vert ? inner.x : inner.y) + offset;
        if (vert)
            Tal_DoMethod(shown[i]->member, TAL_SetBox, startAcross, pos, across, along);
        else
            Tal_DoMethod(shown[i]->member, TAL_SetBox, pos, startAcross, along, across);
        pos += along + g->spacing;
    }
    bool tooSmall = g->box->width < g->minWidth || g->box->height < g->minHeight || innerAlong < sum;
    installClip(g, tooSmall && !isVirtual(g), visible);
    if (isVirtual(g)) installClip(g, true, visible);
}

// Lays the group out again in the box it has: the box is read before the limits rewrite it.
void layOutAgain(GroupInstance* g) {
    Tal_Box* b = g->box;
    LONG x = b->x, y = b->y, w = b->width, h = b->height;
    Tal_DoMethod(self(g), TAL_AskMinMax, drawInfo(g));
    Tal_DoMethod(self(g), TAL_SetBox, x, y, w, h);
}

void relayout(GroupInstance* g) {
    if (g->laidOut && g->layoutEnable > 0) layOutAgain(g);
}

// ---------------------------------------------------------------------------------------------------
// Drawing.

void draw(GroupInstance* g) {
    Tal_DrawInfo* di = drawInfo(g);
    Tal_Box* b = g->box;
    // A hidden group has nothing to draw, now or later (its empty box is no reason to draw again).
    if (hidden(b)) return;
    if (b->width <= 0 || b->height <= 0) {
        if (di) di->pendingRedraws++;
        return;
    }
    Busy busy(g);
    MemberLock lock(g, TAL_LOCK_TRY);
    if (!lock.held) {
        if (di) di->pendingRedraws++;
        return;
    }
    g->laidOut = 1;
    UBYTE frame = g->pressed && g->pressedFrame          ? g->pressedFrame
                  : g->selectedState && g->selectedFrame ? g->selectedFrame
                                                         : g->frame;
    if (frame) {
        if (Tal_DrawInfo* locked = Tal_LockDrawInfo(self(g))) {
            if (!(frame & TAL_FRAME_NO_ERASE)) Tal_EraseObjectBackground(self(g), locked);
            UBYTE style = frame & 0x7F;
            if (style != 6 && style != 7)
                Tal_DrawFrame(self(g), locked, b->x, b->y, b->width, b->height, label(g), 1, style);
            Tal_UnlockDrawInfo(self(g));
        }
    }
    if (isVirtual(g) && !g->scrollGuard) {
        g->scrollGuard = 1;
        Metrics m = metrics(g);
        Area inner = innerArea(g, m);
        ULONG me = topmost(g);
        Tal_DoNotify(me, TAL_VisibleWidth, inner.w);
        Tal_DoNotify(me, TAL_VisibleHeight, inner.h);
        Tal_DoNotify(me, TAL_SetGroupWidth, std::max<LONG>(g->naturalWidth, inner.w));
        Tal_DoNotify(me, TAL_SetGroupHeight, std::max<LONG>(g->naturalHeight, inner.h));
        g->scrollGuard = 0;
    }
    if (pages(g)) {
        if (g->selected) Tal_DoMethod(g->selected->member, TAL_DrawObject);
        return;
    }
    Region* clip = b->clipRegion;
    forMembers(g, [&](MemberNode* n) {
        if (clip && n->box &&
            (n->box->y > clip->bounds.MaxY || n->box->y + n->box->height - 1 < clip->bounds.MinY))
            return;
        Tal_DoMethod(n->member, TAL_DrawObject);
    });
}

// ---------------------------------------------------------------------------------------------------
// Members.

ULONG insert(GroupInstance* g, ULONG member, Tal_Word position) {
    if (!member || member == self(g)) return 0;
    Tal_RootInstance* root = Tal__LockRootInstance(member);
    if (!root) return 0;
    bool taken = root->box.parent != 0;
    Tal_Box* box = &root->box;
    Tal_UnlockObjectInstance(root);
    if (taken) return 0;
    auto* n = static_cast<MemberNode*>(Tal_AllocMemClear(sizeof(MemberNode)));
    if (!n) return 0;
    n->member = member;
    n->box = box;
    n->selfMark = n;
    Tal_Semaphore* lock = memberLock(g);
    {
        MemberLock held(g, TAL_MUST_LOCK);
        MemberNode* after = nullptr;
        if (position == Tal_Word(-1) || LONG(position) == -1)
            after = reinterpret_cast<MemberNode*>(g->members.lh_TailPred);
        else if (position != 0)
            after = nodeOf(g, ULONG(position));
        if (after && !after->node.ln_Succ) after = nullptr; // the header: none
        Insert(&g->members, &n->node, after ? &after->node : nullptr);
        g->count++;
        box->parent = topmost(g);
    }
    if (Tal_DoMethod(super(g), TAL_IsHidden)) Tal_DoMethod(member, TAL_ForceHide);
    if (pages(g)) {
        if (g->selected) {
            Tal_DoMethod(g->selected->member, TAL_Hide);
            Tal_DoMethod(g->selected->member, TAL_SetDrawInfo, 0);
        }
        g->selected = n;
    }
    Tal_DoMethod(member, TAL_SetMemberLock, lock == Tal__ObjectLock() ? nullptr : lock);
    Tal_DoMethod(member, TAL_SetDrawInfo, drawInfo(g));
    relayout(g);
    return 1;
}

ULONG removeMember(GroupInstance* g, ULONG member) {
    Task* me = FindTask(nullptr);
    while (g->busy > 0 && g->busyTask != me) Delay(1);
    MemberNode* n;
    {
        MemberLock held(g, TAL_LOCK_RETRIES);
        n = nodeOf(g, member);
        if (!n) return 0;
        g->count--;
        if (g->cursor == n) g->cursor = nullptr;
        if (g->selected == n) g->selected = nullptr;
        Remove(&n->node);
        n->selfMark = nullptr;
        if (n->box) n->box->parent = 0;
    }
    Tal_DoMethod(member, TAL_SetDrawInfo, 0);
    Tal_DoMethod(member, TAL_SetMemberLock, 0);
    for (int i = 0; i < 256 && Tal_DoMethod(member, TAL_IsHidden); i++) Tal_DoMethod(member, TAL_Show);
    Tal_FreeMem(n);
    relayout(g);
    return 1;
}

ULONG neighbour(GroupInstance* g, ULONG member, bool next) {
    MemberLock held(g, TAL_LOCK_RETRIES);
    MemberNode* n = g->cursor && g->cursor->member == member ? g->cursor : nodeOf(g, member);
    if (!n) return 0;
    Node* other = next ? n->node.ln_Succ : n->node.ln_Pred;
    if (!other || !other->ln_Succ || !other->ln_Pred) return 0; // a sentinel
    g->cursor = reinterpret_cast<MemberNode*>(other);
    return g->cursor->member;
}

void select(GroupInstance* g, MemberNode* n) {
    if (!n || n == g->selected) return;
    Tal_DrawInfo* di = drawInfo(g);
    if (MemberNode* old = g->selected) {
        Tal_DoMethod(old->member, TAL_SetDrawInfo, 0);
        Tal_DoMethod(old->member, TAL_Hide);
    }
    g->selected = n;
    Tal_DoMethod(n->member, TAL_SetDrawInfo, di);
    for (int i = 0; i < 256 && Tal_DoMethod(n->member, TAL_IsHidden); i++) Tal_DoMethod(n->member, TAL_Show);
    if (g->box->width > 0) {
        layOutAgain(g);
        Tal_DoMethod(self(g), TAL_DrawObject);
    }
}

MemberNode* memberAt(GroupInstance* g, ULONG index) {
    MemberNode* found = nullptr;
    ULONG i = 0;
    forMembers(g, [&](MemberNode* n) {
        if (i++ <= index) found = n;
    });
    return found;
}

ULONG indexOf(GroupInstance* g, MemberNode* wanted) {
    ULONG i = 0, at = 0;
    forMembers(g, [&](MemberNode* n) {
        if (n == wanted) at = i;
        i++;
    });
    return at;
}

void scrollTo(GroupInstance* g, LONG x, LONG y) {
    g->scrollX = std::max<LONG>(x, 0);
    g->scrollY = std::max<LONG>(y, 0);
    Tal_Box* b = g->box;
    if (b->width <= 0) return;
    Tal_DoMethod(self(g), TAL_SetBox, b->x, b->y, b->width, b->height);
    Tal_DoMethod(self(g), TAL_DrawObject);
}

// Drag and drop: a member may take it; else a group with drop highlight marks the place.
Tal_Word dragEnquiry(GroupInstance* g, ULONG id, const Tal_Word* args) {
    std::vector<ULONG> members;
    forMembers(g, [&](MemberNode* n) { members.push_back(n->member); });
    for (ULONG m : members)
        if (Tal_Word answer = Tal_DoMethodA(m, id, args)) return answer;
    LONG x = LONG(args[1]), y = LONG(args[2]);
    if (!g->dropHighlight || !Tal_IsCoordOverObject(self(g), x, y)) return 0;
    Tal_DoNotify(topmost(g), id, args[0], x, y);
    LONG lineY = g->box->y;
    forMembers(g, [&](MemberNode* n) {
        if (n->box && y >= n->box->y) lineY = n->box->y + n->box->height;
    });
    if (Tal_DrawInfo* di = Tal_LockDrawInfo(self(g))) {
        RastPort* rp = di->rastPort;
        UBYTE mode = GetDrMd(rp);
        SetDrMd(rp, COMPLEMENT);
        SetAPen(rp, 1);
        RectFill(rp, g->box->x, lineY, g->box->x + g->box->width - 1, lineY + 1);
        SetDrMd(rp, mode);
        Tal_UnlockDrawInfo(self(g));
    }
    return topmost(g);
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry groupMethods[] = {
    ENTRY(TAL_SetGroupFrame, "Tal_SetGroupFrame", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetGroupOrientation, "Tal_SetGroupOrientation", TAL_METHOD_SETTER, TAL_GetGroupOrientation,
          "%ld", nullptr),
    ENTRY(TAL_GetGroupOrientation, "Tal_GetGroupOrientation", TAL_METHOD_GETTER, TAL_SetGroupOrientation,
          nullptr, "%ld"),
    ENTRY(TAL_SetGroupSpacing, "Tal_SetGroupSpacing", TAL_METHOD_SETTER, TAL_GetGroupSpacing, "%ld", nullptr),
    ENTRY(TAL_GetGroupSpacing, "Tal_GetGroupSpacing", TAL_METHOD_GETTER, TAL_SetGroupSpacing, nullptr, "%ld"),
    ENTRY(TAL_SetGroupMargin, "Tal_SetGroupMargin", TAL_METHOD_SETTER, TAL_GetGroupMargin, "%ld", nullptr),
    ENTRY(TAL_GetGroupMargin, "Tal_GetGroupMargin", TAL_METHOD_GETTER, TAL_SetGroupMargin, nullptr, "%ld"),
    ENTRY(TAL_SetGroupAlignment, "Tal_SetGroupAlignment", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetGroupFixedWidth, "Tal_SetGroupFixedWidth", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetGroupFixedHeight, "Tal_SetGroupFixedHeight", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetGroupWidth, "Tal_SetGroupWidth", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetGroupHeight, "Tal_SetGroupHeight", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SelectMemberIndex, "Tal_SelectMemberIndex", TAL_METHOD_PLAIN, 0, "%ld", nullptr),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

void* Tal_NewGroupClass(const TagItem*) {
    auto* g = static_cast<GroupInstance*>(Tal_AllocObjectMem(&groupClass));
    if (!g) return nullptr;
    g->header.superObject = Tal_CreateObject("Root");
    if (!g->header.superObject) {
        Tal_FreeObjectMem(g);
        return nullptr;
    }
    NewList(&g->members);
    new (&g->busy) std::atomic<int>(0);
    new (&g->busyTask) std::atomic<Task*>(nullptr);
    g->alignment = 16;
    g->layoutEnable = 1;
    g->box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(g->header.superObject, TAL_GetBox));
    return g;
}

void Tal_DisposeGroupClass(void* instance) {
    auto* g = of(instance);
    while (Node* node = RemHead(&g->members)) {
        auto* n = reinterpret_cast<MemberNode*>(node);
        if (n->box) n->box->parent = 0;
        Tal_DisposeObject(n->member);
        Tal_FreeMem(n);
    }
    if (g->clip) DisposeRegion(g->clip);
    Tal_DisposeObject(g->header.superObject);
    Tal_FreeObjectMem(g);
}

Tal_Word Tal_DoGroupClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* g = of(instance);
    switch (id) {
    // Members.
    case TAL_AddHead:
        return insert(g, ULONG(args[0]), 0);
    case TAL_AddTail:
        return insert(g, ULONG(args[0]), Tal_Word(-1));
    case TAL_InsertMember:
        return insert(g, ULONG(args[0]), args[1]);
    case TAL_InsertMemberAt: {
        ULONG under = 0;
        forMembers(g, [&](MemberNode* n) {
            if (!under && Tal_IsCoordOverObject(n->member, LONG(args[1]), LONG(args[2]))) under = n->member;
        });
        return insert(g, ULONG(args[0]), under);
    }
    case TAL_RemoveMember:
        return removeMember(g, ULONG(args[0]));
    case TAL_GetFirstGroupObject:
    case TAL_GetLastGroupObject: {
        MemberLock held(g, TAL_LOCK_RETRIES);
        if (IsListEmpty(&g->members)) return 0;
        g->cursor = reinterpret_cast<MemberNode*>(id == TAL_GetFirstGroupObject ? g->members.lh_Head
                                                                                : g->members.lh_TailPred);
        return g->cursor->member;
    }
    case TAL_GetNextGroupObject:
        return neighbour(g, ULONG(args[0]), true);
    case TAL_GetPrevGroupObject:
        return neighbour(g, ULONG(args[0]), false);
    case TAL_GetMemberIndex: {
        MemberLock held(g, TAL_LOCK_RETRIES);
        MemberNode* n = nodeOf(g, ULONG(args[0]));
        return n ? indexOf(g, n) : 0;
    }
    case TAL_GetMemberAt: {
        MemberLock held(g, TAL_LOCK_RETRIES);
        MemberNode* n = memberAt(g, ULONG(args[0]));
        return n ? n->member : 0;
    }
    case TAL_GetMemberCount:
        return ULONG(g->count);

    // Attributes.
    case TAL_SetGroupFrame:
        g->frame = UBYTE(args[0]);
        return 1;
    case TAL_SetGroupOrientation:
        g->orientation = UBYTE(args[0]);
        if (args[0] == TAL_PAGES) g->frame = 6;
        return 1;
    case TAL_GetGroupOrientation:
        return g->orientation;
    case TAL_SetGroupSpacing:
        g->spacing = WORD(args[0]);
        return 1;
    case TAL_GetGroupSpacing:
        return Tal_Word(intptr_t(g->spacing));
    case TAL_SetGroupMargin:
        g->margin = WORD(args[0]);
        return 1;
    case TAL_GetGroupMargin:
        return Tal_Word(intptr_t(g->margin));
    case TAL_SetGroupAlignment:
        g->alignment = UBYTE(args[0]);
        return g->alignment;
    case TAL_SetGroupFixedWidth:
        g->fixedWidth = args[0] ? 1 : 0;
        return 1;
    case TAL_SetGroupFixedHeight:
        g->fixedHeight = args[0] ? 1 : 0;
        return 1;
    case TAL_SetGroupWidth:
        g->requestedWidth = std::max<WORD>(WORD(args[0]), g->minWidth);
        return 1;
    case TAL_SetGroupHeight:
        g->requestedHeight = std::max<WORD>(WORD(args[0]), g->minHeight);
        return 1;
    case TAL_GetGroupWidth:
        return Tal_Word(std::max<LONG>(g->box->width, g->requestedWidth));
    case TAL_GetGroupHeight:
        return Tal_Word(std::max<LONG>(g->box->height, g->requestedHeight));
    case TAL_GetBoxWidth:
        return Tal_Word(intptr_t(g->box->width));
    case TAL_GetBoxHeight:
        return Tal_Word(intptr_t(g->box->height));
    case TAL_SetGroupFlags:
        g->flags = ULONG(args[0]);
        return 1;
    case TAL_GetGroupFlags:
        return g->flags;
    case TAL_SelectMemberIndex:
        // Below 1024 an index, else a member's handle.
        select(g, args[0] < 1024 ? memberAt(g, ULONG(args[0])) : nodeOf(g, ULONG(args[0])));
        return 1;
    case TAL_SelectMember: {
        MemberNode* n = nodeOf(g, ULONG(args[0]));
        select(g, n);
        return n ? 1 : 0;
    }
    case TAL_GetSelectedIndex:
        return g->selected ? indexOf(g, g->selected) : 0;
    case TAL_GetSelectedMember:
        return g->selected ? g->selected->member : 0;
    case TAL_HoldLayout:
        return Tal_Word(intptr_t(--g->layoutEnable));
    case TAL_ReleaseLayout: {
        bool was = g->layoutEnable == 0;
        g->layoutEnable++;
        if (was && (args[0] != 0 || args == nullptr)) relayout(g);
        return Tal_Word(intptr_t(g->layoutEnable));
    }
    case TAL_SetDropHighlight:
        g->dropHighlight = args[0] ? 1 : 0;
        return 1;
    case TAL_GetDropHighlight:
        return g->dropHighlight;
    case TAL_SetPressedFrame:
        g->pressedFrame = UBYTE(args[0]);
        return 1;
    case TAL_SetSelectedFrame:
        g->selectedFrame = UBYTE(args[0]);
        return 1;
    case TAL_SetSelectedOn:
    case TAL_SetSelectedOff:
        g->selectedState = id == TAL_SetSelectedOn;
        Tal_DoMethod(topmost(g), TAL_DrawObject);
        return 1;
    case TAL_SetScrollX:
        scrollTo(g, LONG(args[0]), g->scrollY);
        return 1;
    case TAL_SetScrollY:
        scrollTo(g, g->scrollX, LONG(args[0]));
        return 1;
    case TAL_ScrollToPoint:
        scrollTo(g, LONG(args[0]), LONG(args[1]));
        return 1;
    case TAL_GetScrollX:
        return Tal_Word(g->scrollX);
    case TAL_GetScrollY:
        return Tal_Word(g->scrollY);

    // Base-class methods with a group's meaning.
    case TAL_AskMinMax:
        askLimits(g, args[0]);
        return 1;
    case TAL_SetBox:
        layout(g, args);
        return 0;
    case TAL_DrawObject:
        draw(g);
        return 1;
    case TAL_HandleIDCMP: {
        if (pages(g)) return g->selected ? Tal_DoMethodA(g->selected->member, id, args) : 2;
        const auto* event = reinterpret_cast<const Tal_InputEvent*>(args[0]);
        if (isVirtual(g) && event && event->Class == 8 && event->Code == 104 &&
            !Tal_IsCoordOverObject(self(g), event->MouseX, event->MouseY))
            return 2;
        std::vector<ULONG> members;
        forMembers(g, [&](MemberNode* n) { members.push_back(n->member); });
        for (ULONG m : members)
            if (Tal_DoMethodA(m, id, args) == 1) return 1;
        return 2;
    }
    case TAL_Pressed:
    case TAL_Released:
        g->pressed = id == TAL_Pressed;
        toMembers(g, id, args, true);
        return Tal_DoMethodA(super(g), id, args);
    case TAL_Start:
    case TAL_Stop:
        toMembers(g, id, args, true);
        return 0;
    case TAL_Show:
    case TAL_Hide:
    case TAL_EnableObject:
    case TAL_DisableObject:
    case TAL_ForceHide:
    case TAL_ForceShow:
    case TAL_SetMemberLock:
        toMembers(g, id, args, false);
        return Tal_DoMethodA(super(g), id, args);
    case TAL_SetDrawInfo:
        Tal_DoMethodA(super(g), id, args);
        if (pages(g)) {
            if (g->selected) Tal_DoMethodA(g->selected->member, id, args);
        } else {
            toMembers(g, id, args, false);
        }
        return 0;
    case TAL_StoreChildren:
        toMembers(g, TAL_StoreObject, args, false);
        return 1;
    case TAL_FindObjectByName: {
        if (Tal_Word found = Tal_DoMethodA(super(g), id, args)) return found;
        std::vector<ULONG> members;
        forMembers(g, [&](MemberNode* n) { members.push_back(n->member); });
        for (ULONG m : members)
            if (Tal_Word found = Tal_DoMethodA(m, id, args)) return found;
        return 0;
    }
    case TAL_GetToolTipAt: {
        LONG x = LONG(args[0]), y = LONG(args[1]);
        if (Tal_IsCoordOverObject(self(g), x, y)) {
            std::vector<ULONG> members;
            forMembers(g, [&](MemberNode* n) { members.push_back(n->member); });
            for (ULONG m : members)
                if (Tal_IsCoordOverObject(m, x, y))
                    if (Tal_Word tip = Tal_DoMethodA(m, id, args)) return tip;
        }
        return Tal_DoMethodA(super(g), id, args);
    }
    case TAL_DragEnter:
    case TAL_DragOver:
    case TAL_DragDrop:
        return dragEnquiry(g, id, args);
    case TAL_PassWindowType:
        toMembers(g, id, args, false);
        return 1;
    default:
        return Tal_DoMethodA(super(g), id, args);
    }
}

ULONG Tal_InitGroupClass() {
    return Tal__SetupClass(&groupClass, "Group", 0x00020000, "Root", Tal_NewGroupClass, Tal_DisposeGroupClass,
                           Tal_DoGroupClassMethod, groupMethods, sizeof(GroupInstance));
}

void Tal_CleanupGroupClass() {
    Tal__CleanupClass(&groupClass);
}
