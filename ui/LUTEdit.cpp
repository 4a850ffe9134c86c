// LUTEdit: a curve from the lower left corner of its box through a middle point to the upper right
// corner, drawn over a 64 × 64 area; the user drags the middle point. It also keeps the owner's lookup
// table (one entry for each x of its range) and reads and writes its entries, within the range only.
#include "ui/Colour.h"
#include "ui/Button.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

namespace {

Tal_Class lutEditClass;

constexpr LONG kAreaSize = 64, kSegments = 20, kGrab = 2;

struct Point {
    LONG x, y;
};

struct LUTState {
    std::mutex lock; // the event thread drags and draws; the owner may set ranges and entries from another
    LONG minX = 0, maxX = 255, minY = 0, maxY = 255;
    Point start{0, 0}, middle{127, 200}, end{255, 255};
    bool dragging = false; // the middle point follows the pointer
    UBYTE* table = nullptr;
    ULONG elementSize = 1;
};

struct LUTEditInstance {
    Tal_Object header;
    ULONG area; // the Space the curve is drawn in
    LUTState* state;
};

LUTEditInstance* of(void* instance) {
    return static_cast<LUTEditInstance*>(instance);
}

ULONG self(LUTEditInstance* l) {
    return l->header.handle;
}

Tal_Box areaBox(LUTEditInstance* l) {
    return *reinterpret_cast<Tal_Box*>(Tal_DoMethod(l->area, TAL_GetBox));
}

// Within [low, high]; low when the range is empty.
LONG within(int64_t v, LONG low, LONG high) {
    return LONG(std::max<int64_t>(low, std::min<int64_t>(v, high)));
}

// Where a point of the curve is drawn (the maxima are at least 1).
Point place(const LUTState& s, const Tal_Box& b, Point p) {
    return {LONG(b.x + int64_t(p.x) * b.width / s.maxX),
            LONG(b.y + b.height - int64_t(p.y) * b.height / s.maxY)};
}

void drawCurve(LUTEditInstance* l) {
    Tal_DrawInfo* di = Tal_LockDrawInfo(self(l));
    if (!di) return;
    const Tal_Box b = areaBox(l);
    RastPort* rp = di->rastPort;
    if (b.width > 0 && b.height > 0 && rp) {
        LUTState& s = *l->state;
        std::lock_guard guard(s.lock);
        const ULONG pen = rp->FgPen;
        const UBYTE mode = rp->DrawMode;
        SetDrMd(rp, JAM2);
        SetAPen(rp, 0);
        RectFill(rp, b.x, b.y, b.x + b.width - 1, b.y + b.height - 1);
        // The curve may leave the box: it is clipped to it, and to whatever clips the object already.
        Rectangle clip{b.x, b.y, WORD(b.x + b.width - 1), WORD(b.y + b.height - 1)};
        Layer* layer = rp->rp_Layer;
        if (layer && layer->clipped) {
            clip.MinX = std::max(clip.MinX, layer->clip.MinX);
            clip.MinY = std::max(clip.MinY, layer->clip.MinY);
            clip.MaxX = std::min(clip.MaxX, layer->clip.MaxX);
            clip.MaxY = std::min(clip.MaxY, layer->clip.MaxY);
        }
        Region region{clip};
        Region* old = layer ? InstallClipRegion(layer, &region) : nullptr;
        const Point p0 = place(s, b, s.start), pm = place(s, b, s.middle), p1 = place(s, b, s.end);
        SetAPen(rp, 1);
        Move(rp, p0.x, p0.y);
        Tal_DrawBezier(rp, p0.x, p0.y, pm.x, pm.y, p1.x, p1.y, kSegments);
        const Point points[] = {p0, pm, p1};
        for (int i = 0; i < 3; i++) {
            SetAPen(rp, i == 1 && s.dragging ? 2 : 1);
            RectFill(rp, points[i].x - 2, points[i].y - 2, points[i].x + 2, points[i].y + 2);
        }
        if (layer) InstallClipRegion(layer, old);
        SetAPen(rp, pen);
        SetDrMd(rp, mode);
    }
    Tal_UnlockDrawInfo(self(l));
}

// Moves the middle point (kept within the ranges); the owner hears of a change.
void setMiddle(LUTEditInstance* l, int64_t x, int64_t y) {
    Point p;
    {
        LUTState& s = *l->state;
        std::lock_guard guard(s.lock);
        p = {within(x, s.minX, s.maxX), within(y, s.minY, s.maxY)};
        if (p.x == s.middle.x && p.y == s.middle.y) return;
        s.middle = p;
    }
    drawCurve(l);
    Tal_DoNotify(Tal_GetTopMostObject(self(l)), TAL_SetLUTMiddle, p.x, p.y);
}

// The middle point under the pointer, read back from the box.
void follow(LUTEditInstance* l, LONG x, LONG y) {
    const Tal_Box b = areaBox(l);
    int64_t mx, my;
    {
        LUTState& s = *l->state;
        std::lock_guard guard(s.lock);
        const int64_t w = std::max<LONG>(b.width, 1), h = std::max<LONG>(b.height, 1);
        mx = within((int64_t(x) - b.x) * s.maxX / w, s.minX, s.maxX);
        my = s.maxY - within((int64_t(y) - b.y) * s.maxY / h, s.minY, s.maxY);
    }
    setMiddle(l, mx, my);
}

bool setDragging(LUTEditInstance* l, bool on) {
    std::lock_guard guard(l->state->lock);
    const bool was = l->state->dragging;
    l->state->dragging = on;
    return was;
}

Tal_Word handleInput(LUTEditInstance* l, const Tal_InputEvent* e) {
    if (!e) return 2;
    switch (e->Class) {
    case IDCMP_MOUSEBUTTONS:
        if (e->Code == SELECTDOWN) {
            if (Tal_DoMethod(self(l), TAL_IsDisabled)) return 2;
            const Tal_Box b = areaBox(l);
            Point m;
            {
                std::lock_guard guard(l->state->lock);
                m = place(*l->state, b, l->state->middle);
            }
            // Only the middle point is dragged: a press within two pixels of it.
            if (std::abs(e->MouseX - m.x) > kGrab || std::abs(e->MouseY - m.y) > kGrab) return 2;
            setDragging(l, true);
            drawCurve(l);
            return 1;
        }
        if (e->Code == SELECTUP || e->Code == MENUUP) {
            if (!setDragging(l, false)) return 2;
            drawCurve(l);
            return 1;
        }
        return 2;
    case IDCMP_MOUSEMOVE: {
        bool dragging;
        {
            std::lock_guard guard(l->state->lock);
            dragging = l->state->dragging;
        }
        if (!dragging) return 2;
        follow(l, e->MouseX, e->MouseY);
        return 1;
    }
    case IDCMP_INACTIVEWINDOW:
        if (setDragging(l, false)) drawCurve(l);
        return 2;
    default:
        return 2;
    }
}

// The table entry of a position: none without a table or outside the range.
UBYTE* entry(LUTState& s, LONG position) {
    if (!s.table || position < s.minX || position > s.maxX) return nullptr;
    return s.table + size_t(int64_t(position) - s.minX) * s.elementSize;
}

Tal_Word storeEntry(LUTState& s, LONG position, ULONG value) {
    std::lock_guard guard(s.lock);
    UBYTE* at = entry(s, position);
    if (!at) return Tal_ToWord(LONG(-1));
    if (s.elementSize == 1) {
        *at = UBYTE(value);
    } else if (s.elementSize == 2) {
        const UWORD v = UWORD(value);
        std::memcpy(at, &v, sizeof v);
    } else {
        std::memcpy(at, &value, sizeof value);
    }
    return 1;
}

Tal_Word readEntry(LUTState& s, LONG position) {
    std::lock_guard guard(s.lock);
    const UBYTE* at = entry(s, position);
    if (!at) return Tal_ToWord(LONG(-1));
    if (s.elementSize == 1) return *at;
    if (s.elementSize == 2) {
        UWORD v;
        std::memcpy(&v, at, sizeof v);
        return v;
    }
    ULONG v;
    std::memcpy(&v, at, sizeof v);
    return v;
}

// A change of a range: the points stay within the ranges.
void setRange(LUTEditInstance* l, LONG LUTState::*field, LONG v, bool maximum) {
    {
        LUTState& s = *l->state;
        std::lock_guard guard(s.lock);
        s.*field = maximum ? std::max<LONG>(v, 1) : v;
    }
    drawCurve(l);
}

LONG getRange(LUTEditInstance* l, LONG LUTState::*field) {
    std::lock_guard guard(l->state->lock);
    return l->state->*field;
}

} // namespace

void* Tal_NewLUTEditClass(const TagItem*) {
    auto* l = of(Tal_AllocObjectMem(&lutEditClass));
    if (!l) return nullptr;
    l->state = new (std::nothrow) LUTState;
    const ULONG group =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupFrame, 4);
    l->header.superObject = group;
    if (group) l->area = Tal_AddObject(group, "Space", TAL_SetSpaceSize, kAreaSize);
    if (!l->state || !l->area) {
        Tal_DisposeObject(group);
        delete l->state;
        Tal_FreeObjectMem(l);
        return nullptr;
    }
    return l;
}

void Tal_DisposeLUTEditClass(void* instance) {
    auto* l = of(instance);
    Tal_DisposeObject(l->header.superObject);
    delete l->state;
    Tal_FreeObjectMem(l);
}

Tal_Word Tal_DoLUTEditClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* l = of(instance);
    LUTState& s = *l->state;
    const LONG arg = args ? LONG(int32_t(args[0])) : 0;
    switch (id) {
    case TAL_SetLUTMinX:
        setRange(l, &LUTState::minX, arg, false);
        return 1;
    case TAL_SetLUTMaxX:
        setRange(l, &LUTState::maxX, arg, true);
        return 1;
    case TAL_SetLUTMinY:
        setRange(l, &LUTState::minY, arg, false);
        return 1;
    case TAL_SetLUTMaxY:
        setRange(l, &LUTState::maxY, arg, true);
        return 1;
    case TAL_GetLUTMinX:
        return Tal_ToWord(getRange(l, &LUTState::minX));
    case TAL_GetLUTMaxX:
        return Tal_ToWord(getRange(l, &LUTState::maxX));
    case TAL_GetLUTMinY:
        return Tal_ToWord(getRange(l, &LUTState::minY));
    case TAL_GetLUTMaxY:
        return Tal_ToWord(getRange(l, &LUTState::maxY));
    case TAL_SetLUTTable: {
        std::lock_guard guard(s.lock);
        s.table = args ? reinterpret_cast<UBYTE*>(args[0]) : nullptr;
        return 1;
    }
    case TAL_SetLUTTableElements: {
        const ULONG size = ULONG(args[1]);
        if (size != 1 && size != 2 && size != 4) return 0;
        std::lock_guard guard(s.lock);
        s.table = reinterpret_cast<UBYTE*>(args[0]);
        s.elementSize = size;
        return 1;
    }
    case TAL_SetLUTEntry:
        return storeEntry(s, arg, ULONG(args[1]));
    case TAL_GetLUTEntry:
        return readEntry(s, arg);
    case TAL_SetLUTMiddle:
        setMiddle(l, arg, LONG(int32_t(args[1])));
        return 1;
    case TAL_GetLUTMiddleX:
    case TAL_GetLUTMiddleY: {
        std::lock_guard guard(s.lock);
        return Tal_ToWord(id == TAL_GetLUTMiddleX ? s.middle.x : s.middle.y);
    }
    case TAL_DrawObject: {
        const Tal_Word result = Tal_DoMethodA(l->header.superObject, id, args);
        drawCurve(l);
        return result;
    }
    case TAL_HandleIDCMP:
        return handleInput(l, args ? reinterpret_cast<const Tal_InputEvent*>(args[0]) : nullptr);
    case TAL_StoreChildren:
        return 1; // its drawing area is its own
    default:
        return Tal_DoMethodA(l->header.superObject, id, args);
    }
}

ULONG Tal_InitLUTEditClass() {
    return Tal__SetupClass(&lutEditClass, "LUTEdit", 0x00500000, "Group", Tal_NewLUTEditClass,
                           Tal_DisposeLUTEditClass, Tal_DoLUTEditClassMethod, nullptr,
                           sizeof(LUTEditInstance));
}

void Tal_CleanupLUTEditClass() {
    Tal__CleanupClass(&lutEditClass);
}
