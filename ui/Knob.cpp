// Knob: a dial that gives 0 to 359 degrees, 0 straight up and growing clockwise. A press sets the value
// to the pointer's direction from the centre at once, and a drag keeps following it.
#include "ui/Slider.h"
#include "ui/Group.h"
#include "ui/Window.h"

#include <algorithm>
#include <cmath>
#include <mutex>
#include <numbers>

namespace {

Tal_Class knobClass;

constexpr LONG kSize = 64;

struct KnobInstance {
    Tal_Object header;
    LONG minimum, maximum, value;
    bool wasSet; // the first set from the program is silent
    LONG dragStart;
    LONG radiusX, radiusY;
    LONG centreX, centreY;
    LONG markerSize;
    const char* format;
    LONG side; // of the square the knob is drawn in
    LONG pressX, pressY;
    UBYTE dragging;
    UBYTE immediate;
    Tal_Box* box;     // the Root instance's
    std::mutex* lock; // guards the fields above against the event thread and the program's threads
};

KnobInstance* of(void* instance) {
    return static_cast<KnobInstance*>(instance);
}

ULONG handleOf(KnobInstance* k) {
    return k->header.handle;
}

struct State {
    LONG minimum, maximum, value;
    LONG radiusX, radiusY, centreX, centreY, markerSize, side;
    bool dragging, immediate;
};

State stateOf(KnobInstance* k) {
    std::lock_guard guard(*k->lock);
    return {k->minimum, k->maximum,    k->value, k->radiusX,       k->radiusY,       k->centreX,
            k->centreY, k->markerSize, k->side,  k->dragging != 0, k->immediate != 0};
}

// The knob is drawn in the largest square of its box; the marker runs round inside the rim.
void layout(KnobInstance* k) {
    const Tal_Box& b = *k->box;
    std::lock_guard guard(*k->lock);
    k->side = std::max<LONG>(std::min(b.width, b.height), 0);
    k->radiusX = k->radiusY = std::max<LONG>((k->side - k->markerSize - 7) / 2, 0);
    k->centreX = b.x + k->side / 2 + 1;
    k->centreY = b.y + k->side / 2 + 1;
}

// The marker's centre for a value: 0 at the top, clockwise.
void markerAt(const State& st, LONG value, LONG* x, LONG* y) {
    const double theta = double(value - 90) * std::numbers::pi / 180.0;
    *x = st.centreX + LONG(std::floor(st.radiusX * std::cos(theta)));
    *y = st.centreY + LONG(std::floor(st.radiusY * std::sin(theta)));
}

void draw(KnobInstance* k) {
    const ULONG self = handleOf(k);
    Tal_DrawInfo* di = Tal_LockDrawInfo(self);
    if (!di) return;
    const State st = stateOf(k);
    if (st.side > 0) {
        RastPort* rp = di->rastPort;
        const ULONG fg = rp->FgPen, outline = rp->AOlPen;
        const UBYTE mode = rp->DrawMode;
        Tal_EraseObjectBackground(self, di);
        // The dial: a white disc with a black rim, and ticks at the four quarters.
        const LONG r = st.side / 2 - 1;
        SetABPenDrMd(rp, 2, rp->BgPen, JAM2);
        SetOutlinePen(rp, 1);
        Tal_DrawFrame(self, di, st.centreX - r, st.centreY - r, 2 * r + 1, 2 * r + 1, nullptr, 0, 12);
        const ULONG tickPen = Tal_DoMethod(self, TAL_IsDisabled) ? di->darkGreyPen : di->midGreyPen;
        for (LONG quarter = 0; quarter < 360; quarter += 90) {
            LONG x0, y0, x1, y1;
            State inner = st, outer = st;
            inner.radiusX = inner.radiusY = r - 4;
            outer.radiusX = outer.radiusY = r - 1;
            markerAt(inner, quarter, &x0, &y0);
            markerAt(outer, quarter, &x1, &y1);
            DrawLine(rp, x0, y0, x1, y1, tickPen);
        }
        LONG mx, my;
        markerAt(st, st.value, &mx, &my);
        DrawLine(rp, st.centreX, st.centreY, mx, my, tickPen);
        const LONG half = st.markerSize / 2;
        Tal_DrawFrame(self, di, mx - half, my - half, st.markerSize, st.markerSize, nullptr, 0, 13);
        SetAPen(rp, fg);
        SetOutlinePen(rp, outline);
        SetDrMd(rp, mode);
    }
    Tal_UnlockDrawInfo(self);
}

void notifyValue(KnobInstance* k, LONG value) {
    Tal_DoNotify(Tal_GetTopMostObject(handleOf(k)), TAL_SetValue, value);
}

// Stores a value under the value rule (the pointer's direction is not clamped); redraws when it
// changed and notifies unless a drag waits for its end.
void changeValue(KnobInstance* k, LONG wanted, bool byUser, bool clamp, bool notify = true) {
    Tal__ValueChange change;
    LONG value;
    {
        std::lock_guard guard(*k->lock);
        const LONG before = k->value;
        const LONG low = clamp ? k->minimum : INT32_MIN, high = clamp ? k->maximum : INT32_MAX;
        change = Tal__StoreValue(&k->value, &k->wasSet, wanted, low, high, byUser);
        value = k->value;
        if (change == Tal__ValueChange::Silent && before == value) change = Tal__ValueChange::None;
    }
    if (change == Tal__ValueChange::None) return;
    draw(k);
    if (change == Tal__ValueChange::Notify && notify) notifyValue(k, value);
}

// A step stays within the range, as every set value does.
void step(KnobInstance* k, LONG delta) {
    const int64_t v = int64_t(stateOf(k).value) + delta;
    changeValue(k, LONG(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)), true, true);
}

void changeRange(KnobInstance* k, LONG* field, LONG v) {
    bool moved;
    LONG value;
    {
        std::lock_guard guard(*k->lock);
        *field = v;
        value = Tal__ClampValue(k->value, k->minimum, k->maximum);
        moved = value != k->value && k->wasSet;
        k->value = value;
    }
    draw(k);
    if (moved) notifyValue(k, value);
}

// 0 straight up, 90 to the right, 180 below, 270 to the left (y grows downwards).
LONG directionOf(const State& st, LONG x, LONG y) {
    const double degrees =
        std::atan2(double(y - st.centreY), double(x - st.centreX)) * 180.0 / std::numbers::pi;
    LONG v = LONG(std::floor(degrees)) + 90;
    return v < 0 ? v + 360 : v;
}

void endDrag(KnobInstance* k) {
    LONG start, value;
    bool immediate;
    {
        std::lock_guard guard(*k->lock);
        if (!k->dragging) return;
        k->dragging = 0;
        start = k->dragStart;
        value = k->value;
        immediate = k->immediate;
    }
    if (!immediate && value != start) notifyValue(k, value);
}

Tal_Word handleInput(KnobInstance* k, const Tal_InputEvent* e) {
    if (!e) return 2;
    const ULONG self = handleOf(k);
    switch (e->Class) {
    case IDCMP_MOUSEBUTTONS:
        if (e->Code == SELECTDOWN) {
            if (!Tal_IsCoordOverObject(self, e->MouseX, e->MouseY) || Tal_DoMethod(self, TAL_IsDisabled))
                return 2;
            bool immediate;
            {
                std::lock_guard guard(*k->lock);
                k->dragging = 1;
                k->dragStart = k->value;
                k->pressX = e->MouseX;
                k->pressY = e->MouseY;
                immediate = k->immediate;
            }
            changeValue(k, directionOf(stateOf(k), e->MouseX, e->MouseY), true, false, immediate);
            return 1;
        }
        if (e->Code == SELECTUP || e->Code == MENUUP) {
            if (!stateOf(k).dragging) return 2;
            endDrag(k);
            return 1;
        }
        return 2;
    case IDCMP_MOUSEMOVE: {
        const State st = stateOf(k);
        if (!st.dragging) return 2;
        changeValue(k, directionOf(st, e->MouseX, e->MouseY), true, false, st.immediate);
        return 1;
    }
    case IDCMP_INACTIVEWINDOW:
        endDrag(k);
        return 2;
    default:
        return 2;
    }
}

} // namespace

void* Tal_NewKnobClass(const TagItem*) {
    auto* k = of(Tal_AllocObjectMem(&knobClass));
    if (!k) return nullptr;
    k->header.superObject = Tal_CreateObject("Root");
    k->lock = new (std::nothrow) std::mutex;
    if (!k->header.superObject || !k->lock) {
        Tal_DisposeObject(k->header.superObject);
        delete k->lock;
        Tal_FreeObjectMem(k);
        return nullptr;
    }
    k->box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(k->header.superObject, TAL_GetBox));
    k->minimum = 0;
    k->maximum = 359;
    k->markerSize = 8;
    k->format = "%ld";
    k->immediate = 1;
    return k;
}

void Tal_DisposeKnobClass(void* instance) {
    auto* k = of(instance);
    delete k->lock;
    Tal_DisposeObject(k->header.superObject);
    Tal_FreeObjectMem(k);
}

Tal_Word Tal_DoKnobClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* k = of(instance);
    const LONG arg = args ? LONG(int32_t(args[0])) : 0;
    switch (id) {
    case TAL_SetMinimum:
        changeRange(k, &k->minimum, arg);
        return 1;
    case TAL_SetMaximum:
        changeRange(k, &k->maximum, arg);
        return 1;
    case TAL_SetValue:
        changeValue(k, arg, false, true);
        return 1;
    case TAL_GetMinimum:
    case TAL_GetMaximum:
    case TAL_GetValue: {
        const State st = stateOf(k);
        return Tal_ToWord(id == TAL_GetMinimum ? st.minimum : id == TAL_GetMaximum ? st.maximum : st.value);
    }
    case TAL_SetValueFormat: {
        std::lock_guard guard(*k->lock);
        const char* format = args ? reinterpret_cast<const char*>(args[0]) : nullptr;
        k->format = format ? format : "%ld";
        return 1;
    }
    case TAL_SetValueImmediate: {
        std::lock_guard guard(*k->lock);
        k->immediate = arg ? 1 : 0;
        return 1;
    }
    case TAL_KnobIncrease:
        step(k, 1);
        return 1;
    case TAL_KnobDecrease:
        step(k, -1);
        return 1;
    case TAL_AskMinMax: {
        Tal_Box& b = *k->box;
        b.width = b.minWidth = b.maxWidth = kSize;
        b.height = b.minHeight = b.maxHeight = kSize;
        return 1;
    }
    case TAL_SetBox: {
        Tal_Word result = Tal_DoMethodA(k->header.superObject, id, args);
        layout(k);
        return result;
    }
    case TAL_DrawObject:
        draw(k);
        return 1;
    case TAL_HandleIDCMP:
        return handleInput(k, args ? reinterpret_cast<const Tal_InputEvent*>(args[0]) : nullptr);
    default:
        return Tal_DoMethodA(k->header.superObject, id, args);
    }
}

ULONG Tal_InitKnobClass() {
    return Tal__SetupClass(&knobClass, "Knob", 0x004C0000, "Root", Tal_NewKnobClass, Tal_DisposeKnobClass,
                           Tal_DoKnobClassMethod, nullptr, sizeof(KnobInstance));
}

void Tal_CleanupKnobClass() {
    Tal__CleanupClass(&knobClass);
}
