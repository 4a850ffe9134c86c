// Slider: a plain slider whose thumb shows the value, horizontal or vertical (maximum at the top). A
// press before or after the thumb steps by one; a drag on the thumb follows the pointer.
//
// Also the helpers every value gadget shares: the value rule, drag scaling and the thumb with text.
#include "ui/Slider.h"
#include "ui/Button.h"
#include "ui/Group.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>

// ---------------------------------------------------------------------------------------------------
// Shared helpers.

LONG Tal__ClampValue(LONG v, LONG low, LONG high) {
    return std::max(low, std::min(v, high));
}

Tal__ValueChange Tal__StoreValue(LONG* value, bool* wasSet, LONG wanted, LONG low, LONG high, bool byUser) {
    const LONG v = Tal__ClampValue(wanted, low, high);
    if (!*wasSet) {
        *wasSet = true;
        const bool changed = *value != v;
        *value = v;
        if (!byUser) return Tal__ValueChange::Silent;
        return changed ? Tal__ValueChange::Notify : Tal__ValueChange::None;
    }
    if (*value == v) return Tal__ValueChange::None;
    *value = v;
    return Tal__ValueChange::Notify;
}

namespace {

LONG saturate(int64_t v) {
    return LONG(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

} // namespace

LONG Tal__DragValue(LONG start, int64_t range, LONG moved, LONG span) {
    return saturate(int64_t(start) + range * moved / std::max<LONG>(span, 1));
}

LONG Tal__ThumbOffset(LONG span, int64_t part, int64_t range) {
    if (span <= 0 || range <= 0) return 0;
    // span × part stays within 64 bits: span is a pixel count and part at most 2^32.
    return LONG(int64_t(span) * std::clamp<int64_t>(part, 0, range) / range);
}

Tal__ValueMetrics Tal__GetValueMetrics(ULONG object) {
    Tal__ValueMetrics m{0, 2, 2};
    if (Tal_DrawInfo* di = Tal_LockDrawInfoForInspection(object)) {
        m = {di->fontHeight, di->frameWidth, di->frameHeight};
        Tal_UnlockDrawInfoForInspection(object);
    }
    if (m.fontHeight <= 0) m.fontHeight = std::max<LONG>(host_FontHeight(host_InterfaceFont()), 1);
    return m;
}

void Tal__FormatValue(char* out, size_t size, const char* format, LONG value) {
    Tal_FormatNumber(out, size, format && *format ? format : "%ld", value);
}

namespace {

LONG textWidth(const char* text) {
    host_Font* font = host_InterfaceFont();
    return font ? host_FontTextWidth(font, text, ULONG(std::strlen(text))) : LONG(std::strlen(text)) * 6;
}

// Keeps a port's pens, draw mode and pen position for the caller.
struct PortPens {
    RastPort* rp;
    ULONG fg, bg;
    UBYTE mode;
    WORD x, y;
    explicit PortPens(RastPort* port)
        : rp(port), fg(port->FgPen), bg(port->BgPen), mode(port->DrawMode), x(port->cp_x), y(port->cp_y) {}
    ~PortPens() {
        SetABPenDrMd(rp, fg, bg, mode);
        Move(rp, x, y);
    }
};

} // namespace

void Tal__TextThumbSize(ULONG object, const char* format, LONG minimum, LONG maximum, LONG* width,
                        LONG* height) {
    const Tal__ValueMetrics m = Tal__GetValueMetrics(object);
    // Ten times the minimum leaves room for its sign and one more digit.
    const LONG widest = saturate(std::max(std::abs(int64_t(minimum) * 10), std::abs(int64_t(maximum))));
    char text[64];
    Tal__FormatValue(text, sizeof text, format, widest);
    *width = textWidth(text) + 2 * m.frameWidth;
    *height = std::max<LONG>(m.fontHeight + 2 * m.frameHeight - 4, 1);
}

void Tal__DrawTextThumb(ULONG object, Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h, const char* format,
                        LONG value, ULONG fill) {
    if (!di || !di->rastPort || w <= 0 || h <= 0) return;
    RastPort* rp = di->rastPort;
    if (fill != TAL_NO_COLOUR && host_DisplayDepth() > 8) {
        FillPixelArray(rp, x, y, w, h, fill & 0x00FFFFFF);
        Tal_DrawBevel(di, x, y, w, h);
    } else {
        Tal_DrawFrame(object, di, x, y, w, h, nullptr, 0, 4);
    }
    char text[64];
    Tal__FormatValue(text, sizeof text, format, value);
    // The widest text the thumb is made for fits inside its frame lines; anything wider is cut.
    ULONG length = TextFit(rp, text, ULONG(std::strlen(text)), nullptr, nullptr, 1,
                           ULONG(std::max<LONG>(w - 2, 0)), ULONG(h));
    const LONG tw = TextLength(rp, text, length);
    const LONG fh = rp->TxHeight ? rp->TxHeight : Tal__GetValueMetrics(object).fontHeight;
    PortPens keep(rp);
    const bool disabled = Tal_DoMethod(object, TAL_IsDisabled) != 0;
    SetABPenDrMd(rp, disabled ? di->darkGreyPen : 1, 0, JAM1);
    Move(rp, x + (w - tw) / 2, y + (h - fh) / 2);
    Text(rp, text, length);
}

// ---------------------------------------------------------------------------------------------------
// The Slider class.

namespace {

Tal_Class sliderClass;

constexpr UBYTE kVertical = 2;
constexpr LONG kMaxSize = 1280;

struct SliderInstance {
    Tal_Object header;
    LONG minimum, maximum, value;
    // Whether the value was ever set: the first set from the program is silent. A flag rather than a
    // marker value, which a real value could equal.
    bool wasSet;
    LONG dragStart;
    LONG thumbWidth, thumbHeight;
    LONG pressX, pressY;
    const char* format;
    UBYTE orientation;
    UBYTE dragging;
    UBYTE immediate;
    Tal_Box* box;     // the Root instance's
    std::mutex* lock; // guards the fields above against the event thread and the program's threads
};

ULONG handleOf(SliderInstance* s) {
    return s->header.handle;
}

bool vertical(const SliderInstance* s) {
    return s->orientation == kVertical;
}

// A consistent copy of what drawing and input need.
struct State {
    LONG minimum, maximum, value;
    const char* format;
    bool vertical, dragging, immediate;
};

State stateOf(SliderInstance* s) {
    std::lock_guard guard(*s->lock);
    return {s->minimum, s->maximum, s->value, s->format, vertical(s), s->dragging != 0, s->immediate != 0};
}

// Along the track: the usable part inside the frame, the thumb's length and its offset in it.
struct Geometry {
    LONG start, length, thumb, offset;
    LONG acrossStart, across;
};

Geometry geometryOf(SliderInstance* s, const State& st) {
    const Tal__ValueMetrics m = Tal__GetValueMetrics(handleOf(s));
    LONG tw, th;
    Tal__TextThumbSize(handleOf(s), st.format, st.minimum, st.maximum, &tw, &th);
    const Tal_Box& b = *s->box;
    Geometry g{};
    if (st.vertical) {
        g = {b.y + m.frameHeight, b.height - 2 * m.frameHeight, th, 0,
             b.x + m.frameWidth,  b.width - 2 * m.frameWidth};
    } else {
        g = {b.x + m.frameWidth,  b.width - 2 * m.frameWidth,  tw, 0,
             b.y + m.frameHeight, b.height - 2 * m.frameHeight};
    }
    g.length = std::max<LONG>(g.length, 0);
    g.thumb = std::min(g.thumb, g.length);
    // The maximum sits at the top of a vertical slider.
    const int64_t part = st.vertical ? int64_t(st.maximum) - st.value : int64_t(st.value) - st.minimum;
    g.offset = Tal__ThumbOffset(g.length - g.thumb, part, int64_t(st.maximum) - st.minimum);
    return g;
}

void draw(SliderInstance* s) {
    const ULONG self = handleOf(s);
    Tal_DrawInfo* di = Tal_LockDrawInfo(self);
    if (!di) return;
    const Tal_Box& b = *s->box;
    if (b.width > 0 && b.height > 0) {
        const State st = stateOf(s);
        const Geometry g = geometryOf(s, st);
        Tal_EraseObjectBackground(self, di);
        Tal_DrawFrame(self, di, b.x, b.y, b.width, b.height, nullptr, 0, 1);
        if (g.thumb > 0 && g.across > 0) {
            const LONG along = g.start + g.offset;
            if (st.vertical)
                Tal__DrawTextThumb(self, di, g.acrossStart, along, g.across, g.thumb, st.format, st.value,
                                   TAL_NO_COLOUR);
            else
                Tal__DrawTextThumb(self, di, along, g.acrossStart, g.thumb, g.across, st.format, st.value,
                                   TAL_NO_COLOUR);
        }
    }
    Tal_UnlockDrawInfo(self);
}

void notifyValue(SliderInstance* s, LONG value) {
    Tal_DoNotify(Tal_GetTopMostObject(handleOf(s)), TAL_SetValue, value);
}

// Stores a value under the value rule; redraws when it changed and notifies unless told to wait for the
// end of a drag.
void changeValue(SliderInstance* s, LONG wanted, bool byUser, bool notify = true) {
    Tal__ValueChange change;
    LONG value;
    {
        std::lock_guard guard(*s->lock);
        const LONG before = s->value;
        change = Tal__StoreValue(&s->value, &s->wasSet, wanted, s->minimum, s->maximum, byUser);
        value = s->value;
        if (change == Tal__ValueChange::Silent && before == value) change = Tal__ValueChange::None;
    }
    if (change == Tal__ValueChange::None) return;
    draw(s);
    if (change == Tal__ValueChange::Notify && notify) notifyValue(s, value);
}

// A new range keeps the value inside it; a value that had to move is announced once it was set.
void changeRange(SliderInstance* s, LONG* field, LONG v) {
    bool moved;
    LONG value;
    {
        std::lock_guard guard(*s->lock);
        *field = v;
        value = Tal__ClampValue(s->value, s->minimum, s->maximum);
        moved = value != s->value;
        s->value = value;
        moved = moved && s->wasSet;
    }
    draw(s);
    if (moved) notifyValue(s, value);
}

void step(SliderInstance* s, LONG delta) {
    LONG value;
    {
        std::lock_guard guard(*s->lock);
        value = s->value;
    }
    changeValue(s, saturate(int64_t(value) + delta), true);
}

void askLimits(SliderInstance* s) {
    const Tal__ValueMetrics m = Tal__GetValueMetrics(handleOf(s));
    const State st = stateOf(s);
    LONG tw, th;
    Tal__TextThumbSize(handleOf(s), st.format, st.minimum, st.maximum, &tw, &th);
    {
        std::lock_guard guard(*s->lock);
        s->thumbWidth = tw;
        s->thumbHeight = th;
    }
    // One pixel per step when there is room for it.
    const int64_t range = std::max<int64_t>(int64_t(st.maximum) - st.minimum, 0);
    const LONG alongFrame = st.vertical ? m.frameHeight : m.frameWidth;
    const LONG alongMin = (st.vertical ? th : tw) + 2 * alongFrame + 1;
    const LONG alongNatural = LONG(std::min<int64_t>(alongMin + range, kMaxSize));
    const LONG across = st.vertical ? tw + 2 * m.frameWidth : th + 2 * m.frameHeight;
    Tal_Box& b = *s->box;
    auto clip = [](LONG v) { return WORD(std::clamp<LONG>(v, 0, 32767)); };
    if (st.vertical) {
        b.minHeight = clip(alongMin);
        b.height = clip(std::max(alongMin, alongNatural));
        b.maxHeight = WORD(std::max<LONG>(kMaxSize, b.minHeight));
        b.minWidth = b.width = b.maxWidth = clip(across);
    } else {
        b.minWidth = clip(alongMin);
        b.width = clip(std::max(alongMin, alongNatural));
        b.maxWidth = WORD(std::max<LONG>(kMaxSize, b.minWidth));
        b.minHeight = b.height = b.maxHeight = clip(across);
    }
}

void endDrag(SliderInstance* s) {
    LONG start, value;
    bool immediate;
    {
        std::lock_guard guard(*s->lock);
        if (!s->dragging) return;
        s->dragging = 0;
        start = s->dragStart;
        value = s->value;
        immediate = s->immediate;
    }
    draw(s);
    if (!immediate && value != start) notifyValue(s, value);
}

Tal_Word handleInput(SliderInstance* s, const Tal_InputEvent* e) {
    if (!e) return 2;
    const ULONG self = handleOf(s);
    switch (e->Class) {
    case IDCMP_MOUSEBUTTONS:
        if (e->Code == SELECTDOWN) {
            if (!Tal_IsCoordOverObject(self, e->MouseX, e->MouseY) || Tal_DoMethod(self, TAL_IsDisabled))
                return 2;
            const State st = stateOf(s);
            const Geometry g = geometryOf(s, st);
            const LONG o = (st.vertical ? e->MouseY : e->MouseX) - g.start;
            if (o < g.offset) {
                step(s, st.vertical ? 1 : -1);
            } else if (o >= g.offset + g.thumb) {
                step(s, st.vertical ? -1 : 1);
            } else {
                std::lock_guard guard(*s->lock);
                s->dragging = 1;
                s->dragStart = s->value;
                s->pressX = e->MouseX;
                s->pressY = e->MouseY;
            }
            return 1;
        }
        if (e->Code == SELECTUP || e->Code == MENUUP) {
            if (!stateOf(s).dragging) return 2;
            endDrag(s);
            return 1;
        }
        return 2;
    case IDCMP_MOUSEMOVE: {
        const State st = stateOf(s);
        if (!st.dragging) return 2;
        const Geometry g = geometryOf(s, st);
        LONG start, moved;
        {
            std::lock_guard guard(*s->lock);
            start = s->dragStart;
            // Up increases the value of a vertical slider.
            moved = st.vertical ? s->pressY - e->MouseY : e->MouseX - s->pressX;
        }
        changeValue(s, Tal__DragValue(start, int64_t(st.maximum) - st.minimum, moved, g.length - g.thumb),
                    true, st.immediate);
        return 1;
    }
    case IDCMP_INACTIVEWINDOW:
        endDrag(s);
        return 2;
    default:
        return 2;
    }
}

SliderInstance* of(void* instance) {
    return static_cast<SliderInstance*>(instance);
}

Tal_Word word(LONG v) {
    return Tal_ToWord(v);
}

} // namespace

void* Tal_NewSliderClass(const TagItem*) {
    auto* s = of(Tal_AllocObjectMem(&sliderClass));
    if (!s) return nullptr;
    s->header.superObject = Tal_CreateObject("Root");
    s->lock = new (std::nothrow) std::mutex;
    if (!s->header.superObject || !s->lock) {
        Tal_DisposeObject(s->header.superObject);
        delete s->lock;
        Tal_FreeObjectMem(s);
        return nullptr;
    }
    s->box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(s->header.superObject, TAL_GetBox));
    s->minimum = 0;
    s->maximum = 100;
    s->format = "%ld";
    s->immediate = 1;
    return s;
}

void Tal_DisposeSliderClass(void* instance) {
    auto* s = of(instance);
    delete s->lock;
    Tal_DisposeObject(s->header.superObject);
    Tal_FreeObjectMem(s);
}

Tal_Word Tal_DoSliderClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* s = of(instance);
    const LONG arg = args ? LONG(int32_t(args[0])) : 0;
    switch (id) {
    case TAL_SetMinimum:
        changeRange(s, &s->minimum, arg);
        return 1;
    case TAL_SetMaximum:
        changeRange(s, &s->maximum, arg);
        return 1;
    case TAL_SetValue:
        changeValue(s, arg, false);
        return 1;
    case TAL_GetMinimum:
    case TAL_GetMaximum:
    case TAL_GetValue: {
        const State st = stateOf(s);
        return word(id == TAL_GetMinimum ? st.minimum : id == TAL_GetMaximum ? st.maximum : st.value);
    }
    case TAL_SetValueFormat: {
        std::lock_guard guard(*s->lock);
        const char* format = args ? reinterpret_cast<const char*>(args[0]) : nullptr;
        s->format = format ? format : "%ld";
        return 1;
    }
    case TAL_SetValueImmediate: {
        std::lock_guard guard(*s->lock);
        s->immediate = arg ? 1 : 0;
        return 1;
    }
    case TAL_SetGroupOrientation: {
        std::lock_guard guard(*s->lock);
        s->orientation = UBYTE(arg);
        return 1;
    }
    case TAL_GetGroupOrientation: {
        std::lock_guard guard(*s->lock);
        return s->orientation;
    }
    case TAL_SliderIncrease:
        step(s, 1);
        return 1;
    case TAL_SliderDecrease:
        step(s, -1);
        return 1;
    case TAL_AskMinMax:
        askLimits(s);
        return 1;
    case TAL_DrawObject:
        draw(s);
        return 1;
    case TAL_HandleIDCMP:
        return handleInput(s, args ? reinterpret_cast<const Tal_InputEvent*>(args[0]) : nullptr);
    default:
        return Tal_DoMethodA(s->header.superObject, id, args);
    }
}

ULONG Tal_InitSliderClass() {
    return Tal__SetupClass(&sliderClass, "Slider", 0x000D0000, "Root", Tal_NewSliderClass,
                           Tal_DisposeSliderClass, Tal_DoSliderClassMethod, nullptr, sizeof(SliderInstance));
}

void Tal_CleanupSliderClass() {
    Tal__CleanupClass(&sliderClass);
}
