// Scroller: a proportional scroll bar with two arrow buttons, which also serves as the compact numeric
// slider of the option panels. Setting a maximum switches it to slider mode: the thumb shows the value,
// its range is minimum .. maximum and both arrow buttons move behind the track.
#include "ui/Slider.h"
#include "ui/Button.h"
#include "ui/Group.h"
#include "ui/Window.h"

#include <algorithm>
#include <mutex>

namespace {

Tal_Class scrollerClass;

constexpr UBYTE kHorizontal = 4, kVertical = 2;
constexpr LONG kTrackSize = 11;  // across, and the shortest thumb of a scroll bar
constexpr LONG kRepeatTicks = 5; // ticks an arrow is held before it repeats

struct ScrollerInstance {
    Tal_Object header;
    ULONG trackSpace, track;
    ULONG decreaseButton, increaseButton; // left or upper, right or lower
    ULONG decreaseImage, increaseImage;
    LONG minimum, total, visible, value;
    bool wasSet; // the first set from the program is silent
    LONG dragStart;
    LONG thumbWidth, thumbHeight;
    LONG thumbOffset;
    LONG pressX, pressY;
    UBYTE orientation;
    UBYTE dragging;
    WORD step;
    ULONG thumbColour;
    const char* format;
    UBYTE immediate;
    UBYTE sliderMode;
    LONG ticks;
    std::mutex* lock; // guards the value fields against the event thread and the program's threads
};

ScrollerInstance* of(void* instance) {
    return static_cast<ScrollerInstance*>(instance);
}

ULONG handleOf(ScrollerInstance* s) {
    return s->header.handle;
}

struct State {
    LONG minimum, total, visible, value;
    LONG step;
    ULONG thumbColour;
    const char* format;
    bool vertical, dragging, immediate, sliderMode;
    // Cannot overflow: visible is 0, or within 0 .. total.
    LONG upper() const { return total - visible; }
    int64_t range() const { return int64_t(upper()) - minimum; }
};

State stateOf(ScrollerInstance* s) {
    std::lock_guard guard(*s->lock);
    return {s->minimum,       s->total,          s->visible,        s->value,
            s->step,          s->thumbColour,    s->format,         s->orientation == kVertical,
            s->dragging != 0, s->immediate != 0, s->sliderMode != 0};
}

Tal_Box* boxOf(ULONG object) {
    return reinterpret_cast<Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
}

// Along the track: where the thumb may run, its length and its offset; across: the thumb's extent.
struct Geometry {
    LONG start, length, thumb, offset;
    LONG acrossStart, across;
    LONG trackX, trackY, trackW, trackH;
};

Geometry geometryOf(ScrollerInstance* s, const State& st) {
    Geometry g{};
    const Tal_Box* t = boxOf(s->track);
    if (!t) return g;
    g.trackX = t->x, g.trackY = t->y, g.trackW = t->width, g.trackH = t->height;
    const LONG along = st.vertical ? t->y : t->x, alongLen = st.vertical ? t->height : t->width;
    const LONG across = st.vertical ? t->x : t->y, acrossLen = st.vertical ? t->width : t->height;
    const Tal__ValueMetrics m = Tal__GetValueMetrics(handleOf(s));
    const LONG b = st.vertical ? m.frameHeight : m.frameWidth;
    const LONG bAcross = st.vertical ? m.frameWidth : m.frameHeight;
    if (st.sliderMode) {
        LONG tw, th;
        Tal__TextThumbSize(handleOf(s), st.format, st.minimum, st.upper(), &tw, &th);
        g = {along + b, alongLen - 2 * b, st.vertical ? th : tw,
             0,         across + bAcross, acrossLen - 2 * bAcross,
             g.trackX,  g.trackY,         g.trackW,
             g.trackH};
    } else {
        // A proportional thumb, never shorter than an arrow button is wide.
        LONG thumb = LONG(int64_t(alongLen) * std::max<LONG>(st.visible, 0) / std::max<LONG>(st.total, 1));
        thumb = std::max(thumb, 2 * b);
        if (thumb < 12) thumb = kTrackSize;
        g = {along, alongLen, thumb, 0, across, acrossLen, g.trackX, g.trackY, g.trackW, g.trackH};
    }
    g.length = std::max<LONG>(g.length, 0);
    g.across = std::max<LONG>(g.across, 0);
    g.thumb = std::min(g.thumb, g.length);
    g.offset = Tal__ThumbOffset(g.length - g.thumb, int64_t(st.value) - st.minimum, st.range());
    return g;
}

// The track's content: the thumb and what lies beside it.
void drawTrack(ScrollerInstance* s) {
    const ULONG self = handleOf(s);
    Tal_DrawInfo* di = Tal_LockDrawInfo(self);
    if (!di) return;
    const State st = stateOf(s);
    const Geometry g = geometryOf(s, st);
    RastPort* rp = di->rastPort;
    if (g.trackW > 0 && g.trackH > 0 && rp) {
        {
            std::lock_guard guard(*s->lock);
            s->thumbOffset = g.offset;
        }
        const ULONG fg = rp->FgPen;
        const UBYTE mode = rp->DrawMode;
        SetDrMd(rp, JAM2);
        const LONG x0 = g.trackX, y0 = g.trackY, x1 = g.trackX + g.trackW - 1, y1 = g.trackY + g.trackH - 1;
        const LONG t0 = g.start + g.offset, t1 = t0 + g.thumb - 1;
        if (st.sliderMode) {
            SetAPen(rp, 0);
            RectFill(rp, x0, y0, x1, y1);
            Tal_DrawFrame(self, di, g.trackX, g.trackY, g.trackW, g.trackH, nullptr, 0, 1);
            if (g.thumb > 0 && g.across > 0) {
                if (st.vertical)
                    Tal__DrawTextThumb(self, di, g.acrossStart, t0, g.across, g.thumb, st.format, st.value,
                                       st.thumbColour);
                else
                    Tal__DrawTextThumb(self, di, t0, g.acrossStart, g.thumb, g.across, st.format, st.value,
                                       st.thumbColour);
            }
        } else {
            // The two long edges, the trough cleared on both sides of the thumb, the thumb with grips.
            SetAPen(rp, 1);
            if (st.vertical) {
                RectFill(rp, x0, y0, x0, y1);
                RectFill(rp, x1, y0, x1, y1);
            } else {
                RectFill(rp, x0, y0, x1, y0);
                RectFill(rp, x0, y1, x1, y1);
            }
            SetAPen(rp, 0);
            if (st.vertical) {
                if (t0 > y0) RectFill(rp, x0 + 1, y0, x1 - 1, t0 - 1);
                if (t1 < y1) RectFill(rp, x0 + 1, t1 + 1, x1 - 1, y1);
            } else {
                if (t0 > x0) RectFill(rp, x0, y0 + 1, t0 - 1, y1 - 1);
                if (t1 < x1) RectFill(rp, t1 + 1, y0 + 1, x1, y1 - 1);
            }
            if (g.thumb > 0) {
                const ULONG style = st.dragging ? 5 : 4;
                if (st.vertical)
                    Tal_DrawFrame(self, di, x0, t0, g.trackW, g.thumb, nullptr, 0, style);
                else
                    Tal_DrawFrame(self, di, t0, y0, g.thumb, g.trackH, nullptr, 0, style);
                const ULONG gripPen = st.dragging ? 2 : 1;
                const LONG middle = t0 + g.thumb / 2;
                for (LONG d = -2; d <= 2; d += 2) {
                    if (st.vertical && g.trackW > 6)
                        DrawLine(rp, x0 + 3, middle + d, x1 - 3, middle + d, gripPen);
                    else if (!st.vertical && g.trackH > 6)
                        DrawLine(rp, middle + d, y0 + 3, middle + d, y1 - 3, gripPen);
                }
            }
        }
        SetAPen(rp, fg);
        SetDrMd(rp, mode);
    }
    Tal_UnlockDrawInfo(self);
}

void notifyValue(ScrollerInstance* s, LONG value, bool sliderMode) {
    Tal_DoNotify(Tal_GetTopMostObject(handleOf(s)), sliderMode ? TAL_SetValue : TAL_SetScrollerValue, value);
}

// Stores a value under the value rule, clamped to [minimum, total - visible]; redraws when it changed
// and notifies unless a drag waits for its end.
void changeValue(ScrollerInstance* s, LONG wanted, bool byUser, bool notify = true) {
    Tal__ValueChange change;
    LONG value;
    bool sliderMode;
    {
        std::lock_guard guard(*s->lock);
        const LONG before = s->value;
        change = Tal__StoreValue(&s->value, &s->wasSet, wanted, s->minimum, s->total - s->visible, byUser);
        value = s->value;
        sliderMode = s->sliderMode;
        if (change == Tal__ValueChange::Silent && before == value) change = Tal__ValueChange::None;
    }
    if (change == Tal__ValueChange::None) return;
    drawTrack(s);
    if (change == Tal__ValueChange::Notify && notify) notifyValue(s, value, sliderMode);
}

void step(ScrollerInstance* s, LONG delta) {
    const State st = stateOf(s);
    changeValue(s, LONG(std::clamp<int64_t>(int64_t(st.value) + delta, INT32_MIN, INT32_MAX)), true);
}

// Slider mode, once: no visible part, and the arrow buttons behind the track.
void enterSliderMode(ScrollerInstance* s) {
    {
        std::lock_guard guard(*s->lock);
        if (s->sliderMode) return;
        s->sliderMode = 1;
        s->visible = 0;
    }
    const ULONG group = s->header.superObject;
    for (ULONG button : {s->decreaseButton, s->increaseButton}) {
        Tal_DoMethod(group, TAL_RemoveMember, button);
        Tal_DoMethod(group, TAL_AddTail, button);
    }
}

enum class Range { Minimum, Total, Visible };

// A new range keeps the value inside [minimum, total - visible]: a value below 0 stays where it is
// when the range still holds it. A value that had to move is announced once it was set.
void changeRange(ScrollerInstance* s, Range which, LONG v) {
    bool moved, sliderMode;
    LONG value;
    {
        std::lock_guard guard(*s->lock);
        switch (which) {
        case Range::Minimum:
            s->minimum = v;
            break;
        case Range::Total:
            s->total = v;
            if (!s->sliderMode && s->total < s->visible) s->visible = std::max<LONG>(s->total, 0);
            break;
        case Range::Visible:
            // The slider's range has no visible part.
            if (s->sliderMode) break;
            s->visible = std::max<LONG>(v, 0);
            if (s->visible > s->total) s->total = s->visible;
            break;
        }
        value = Tal__ClampValue(s->value, s->minimum, s->total - s->visible);
        moved = value != s->value && s->wasSet;
        s->value = value;
        sliderMode = s->sliderMode;
    }
    drawTrack(s);
    if (moved) notifyValue(s, value, sliderMode);
}

void askLimits(ScrollerInstance* s, const Tal_Word* args) {
    const State st = stateOf(s);
    LONG minW = kTrackSize, minH = kTrackSize;
    if (st.sliderMode) {
        const Tal__ValueMetrics m = Tal__GetValueMetrics(handleOf(s));
        LONG tw, th;
        Tal__TextThumbSize(handleOf(s), st.format, st.minimum, st.upper(), &tw, &th);
        {
            std::lock_guard guard(*s->lock);
            s->thumbWidth = tw;
            s->thumbHeight = th;
        }
        minW = tw + 2 * m.frameWidth + (st.vertical ? 0 : 1);
        minH = th + 2 * m.frameHeight + (st.vertical ? 1 : 0);
    }
    Tal_DoMethod(s->trackSpace, TAL_SetSpaceMinWidth, std::clamp<LONG>(minW, 1, 255));
    Tal_DoMethod(s->trackSpace, TAL_SetSpaceMinHeight, std::clamp<LONG>(minH, 1, 255));
    Tal_DoMethodA(s->header.superObject, TAL_AskMinMax, args);
    // A scroll bar grows along its track only.
    if (Tal_Box* b = boxOf(s->header.superObject)) {
        if (st.vertical) {
            b->maxWidth = b->minWidth;
            b->width = b->minWidth;
        } else {
            b->maxHeight = b->minHeight;
            b->height = b->minHeight;
        }
    }
}

void endDrag(ScrollerInstance* s) {
    LONG start, value;
    bool immediate, sliderMode;
    {
        std::lock_guard guard(*s->lock);
        if (!s->dragging) return;
        s->dragging = 0;
        start = s->dragStart;
        value = s->value;
        immediate = s->immediate;
        sliderMode = s->sliderMode;
    }
    drawTrack(s);
    if (!immediate && value != start) notifyValue(s, value, sliderMode);
}

// Ticks while the select button is held: from the fifth on, each one steps once more for a pressed
// arrow button.
bool repeatArrows(ScrollerInstance* s, const Tal_InputEvent* e) {
    LONG ticks;
    {
        std::lock_guard guard(*s->lock);
        s->ticks = (e->Qualifier & IEQUALIFIER_LEFTBUTTON) ? s->ticks + 1 : 0;
        ticks = s->ticks;
    }
    if (ticks < kRepeatTicks) return false;
    const LONG amount = stateOf(s).step;
    bool stepped = false;
    if (Tal_DoMethod(s->decreaseButton, TAL_GetButtonState)) {
        step(s, -amount);
        stepped = true;
    }
    if (Tal_DoMethod(s->increaseButton, TAL_GetButtonState)) {
        step(s, amount);
        stepped = true;
    }
    return stepped;
}

Tal_Word handleInput(ScrollerInstance* s, ULONG id, const Tal_Word* args) {
    const auto* e = args ? reinterpret_cast<const Tal_InputEvent*>(args[0]) : nullptr;
    const ULONG self = handleOf(s);
    auto toGroup = [&] { return Tal_DoMethodA(s->header.superObject, id, args); };
    if (!e) return toGroup();
    switch (e->Class) {
    case IDCMP_MOUSEBUTTONS:
        if (e->Code == SELECTDOWN) {
            if (!Tal_IsCoordOverObject(self, e->MouseX, e->MouseY) || Tal_DoMethod(self, TAL_IsDisabled))
                return 2;
            {
                std::lock_guard guard(*s->lock);
                s->ticks = 0;
            }
            if (!Tal_IsCoordOverObject(s->track, e->MouseX, e->MouseY)) return toGroup();
            const State st = stateOf(s);
            const Geometry g = geometryOf(s, st);
            const LONG o = (st.vertical ? e->MouseY : e->MouseX) - g.start;
            const LONG page = st.sliderMode ? 1 : std::max<LONG>(st.visible, 1);
            if (o < g.offset) {
                step(s, -page);
            } else if (o >= g.offset + g.thumb) {
                step(s, page);
            } else {
                {
                    std::lock_guard guard(*s->lock);
                    s->dragging = 1;
                    s->dragStart = s->value;
                    s->pressX = e->MouseX;
                    s->pressY = e->MouseY;
                }
                drawTrack(s);
            }
            return 1;
        }
        if ((e->Code == SELECTUP || e->Code == MENUUP) && stateOf(s).dragging) {
            endDrag(s);
            return 1;
        }
        return toGroup();
    case IDCMP_MOUSEMOVE: {
        const State st = stateOf(s);
        if (!st.dragging) return toGroup();
        const Geometry g = geometryOf(s, st);
        LONG start, moved;
        {
            std::lock_guard guard(*s->lock);
            start = s->dragStart;
            moved = st.vertical ? e->MouseY - s->pressY : e->MouseX - s->pressX;
        }
        // The scale of the range the thumb covers: minimum .. maximum in slider mode.
        changeValue(s, Tal__DragValue(start, st.range(), moved, g.length - g.thumb), true, st.immediate);
        return 1;
    }
    case IDCMP_INTUITICKS: {
        const bool stepped = repeatArrows(s, e);
        const Tal_Word used = toGroup();
        return stepped ? 1 : used;
    }
    case IDCMP_INACTIVEWINDOW:
        endDrag(s);
        return toGroup();
    default:
        return toGroup();
    }
}

void setOrientation(ScrollerInstance* s, LONG orientation) {
    const bool vertical = orientation == kVertical;
    {
        std::lock_guard guard(*s->lock);
        s->orientation = vertical ? kVertical : kHorizontal;
    }
    Tal_DoMethod(s->header.superObject, TAL_SetGroupOrientation, vertical ? TAL_VERTICAL : TAL_HORIZONTAL);
    Tal_DoMethod(s->decreaseImage, TAL_SetVectorShape, vertical ? TAL_SHAPE_ARROW_UP : TAL_SHAPE_ARROW_LEFT);
    Tal_DoMethod(s->increaseImage, TAL_SetVectorShape,
                 vertical ? TAL_SHAPE_ARROW_DOWN : TAL_SHAPE_ARROW_RIGHT);
    // The arrows keep their size along the track and fill the bar across it.
    for (ULONG image : {s->decreaseImage, s->increaseImage}) {
        Tal_DoMethod(image, TAL_SetSpaceFixedWidth, vertical ? 0 : kTrackSize);
        Tal_DoMethod(image, TAL_SetSpaceFixedHeight, vertical ? kTrackSize : 0);
    }
}

// An arrow button: a button holding an arrow picture 11 pixels long, which steps the scroller when it
// is activated.
ULONG arrowButton(ScrollerInstance* s, ULONG shape, ULONG method, ULONG* image) {
    // The track takes whatever room there is to spare.
    ULONG button = Tal_CreateObject("Button", TAL_SetWeight, 0);
    if (!button) return 0;
    *image = Tal_CreateObject("VectorImage", TAL_SetVectorShape, shape, TAL_SetSpaceFixedWidth, kTrackSize);
    if (!*image) {
        Tal_DisposeObject(button);
        return 0;
    }
    Tal_DoMethod(button, TAL_AddTail, *image);
    Tal_AddNotify(button, TAL_ButtonClicked, TAL_AnyValue, handleOf(s), 1, method);
    return button;
}

} // namespace

void* Tal_NewScrollerClass(const TagItem*) {
    auto* s = of(Tal_AllocObjectMem(&scrollerClass));
    if (!s) return nullptr;
    s->lock = new (std::nothrow) std::mutex;
    const ULONG group = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    s->header.superObject = group;
    if (group && s->lock) {
        s->track = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupFrame, 6);
        s->trackSpace =
            Tal_CreateObject("Space", TAL_SetSpaceMinWidth, kTrackSize, TAL_SetSpaceMinHeight, kTrackSize);
        if (s->track && s->trackSpace) {
            Tal_DoMethod(s->track, TAL_AddTail, s->trackSpace);
        } else {
            Tal_DisposeObject(s->trackSpace);
            s->trackSpace = 0;
        }
        if (s->track) Tal_DoMethod(group, TAL_AddTail, s->track);
        s->decreaseButton = arrowButton(s, TAL_SHAPE_ARROW_LEFT, TAL_ScrollerDecrease, &s->decreaseImage);
        if (s->decreaseButton) Tal_DoMethod(group, TAL_AddHead, s->decreaseButton);
        s->increaseButton = arrowButton(s, TAL_SHAPE_ARROW_RIGHT, TAL_ScrollerIncrease, &s->increaseImage);
        if (s->increaseButton) Tal_DoMethod(group, TAL_AddTail, s->increaseButton);
    }
    if (!group || !s->lock || !s->track || !s->trackSpace || !s->decreaseButton || !s->increaseButton) {
        Tal_DisposeObject(group); // and the parts it holds
        delete s->lock;
        Tal_FreeObjectMem(s);
        return nullptr;
    }
    s->total = 1;
    s->visible = 1;
    s->thumbWidth = s->thumbHeight = 15;
    s->orientation = kHorizontal;
    s->step = 1;
    s->thumbColour = TAL_NO_COLOUR;
    s->format = "%ld";
    s->immediate = 1;
    return s;
}

void Tal_DisposeScrollerClass(void* instance) {
    auto* s = of(instance);
    delete s->lock;
    Tal_DisposeObject(s->header.superObject);
    Tal_FreeObjectMem(s);
}

Tal_Word Tal_DoScrollerClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* s = of(instance);
    const LONG arg = args ? LONG(int32_t(args[0])) : 0;
    switch (id) {
    case TAL_ScrollerIncrease:
        step(s, stateOf(s).step);
        return 1;
    case TAL_ScrollerDecrease:
        step(s, -stateOf(s).step);
        return 1;
    case TAL_SetValue:
    case TAL_SetScrollerValue:
        changeValue(s, arg, false);
        return 1;
    case TAL_GetValue:
    case TAL_GetScrollerValue:
        return Tal_ToWord(stateOf(s).value);
    case TAL_SetMinimum:
    case TAL_SetScrollerMinimum:
        changeRange(s, Range::Minimum, arg);
        return 1;
    case TAL_GetMinimum:
        return Tal_ToWord(stateOf(s).minimum);
    case TAL_SetMaximum:
        enterSliderMode(s);
        changeRange(s, Range::Total, arg);
        return 1;
    case TAL_GetMaximum:
    case TAL_GetScrollerTotal:
        return Tal_ToWord(stateOf(s).total);
    case TAL_SetScrollerTotal:
        changeRange(s, Range::Total, arg);
        return 1;
    case TAL_SetScrollerVisible:
        changeRange(s, Range::Visible, arg);
        return 1;
    case TAL_GetScrollerVisible:
        return Tal_ToWord(stateOf(s).visible);
    case TAL_SetScrollerStep: {
        std::lock_guard guard(*s->lock);
        s->step = WORD(arg);
        return 1;
    }
    case TAL_GetScrollerStep:
        return Tal_ToWord(stateOf(s).step);
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
    case TAL_SetColours: {
        std::lock_guard guard(*s->lock);
        s->thumbColour = args ? ULONG(args[0]) : TAL_NO_COLOUR;
        return 1;
    }
    case TAL_SetGroupOrientation:
        setOrientation(s, arg);
        return 1;
    case TAL_GetGroupOrientation:
        return stateOf(s).vertical ? kVertical : kHorizontal;
    case TAL_AskMinMax:
        askLimits(s, args);
        return 1;
    case TAL_DrawObject: {
        const Tal_Word result = Tal_DoMethodA(s->header.superObject, id, args);
        drawTrack(s);
        return result;
    }
    case TAL_HandleIDCMP:
        return handleInput(s, id, args);
    case TAL_StoreChildren:
        return 1; // its parts are its own: the attributes make it again
    default:
        return Tal_DoMethodA(s->header.superObject, id, args);
    }
}

ULONG Tal_InitScrollerClass() {
    return Tal__SetupClass(&scrollerClass, "Scroller", 0x001C0000, "Group", Tal_NewScrollerClass,
                           Tal_DisposeScrollerClass, Tal_DoScrollerClassMethod, nullptr,
                           sizeof(ScrollerInstance));
}

void Tal_CleanupScrollerClass() {
    Tal__CleanupClass(&scrollerClass);
}
