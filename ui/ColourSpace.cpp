// ColourSpace: a two-dimensional field of colours of one kind (hue down the rows for all kinds but "SV",
// which shows saturation and value at one hue). A press or a drag picks the colour under the pointer;
// an inverted ring marks the current colour. The field is kept as the rows it was drawn from, so that
// the marker moves without the field being computed again, and a pick never sees the marker.
#include "ui/Colour.h"
#include "ui/Window.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

namespace {

Tal_Class colourSpaceClass;

constexpr WORD kMinSize = 2, kNaturalSize = 16, kMaxSize = 1280;
constexpr std::array<const char*, 6> kKinds = {"HS", "HW", "HK", "HSV", "HSV2", "SV"};
constexpr size_t kSV = 5;

struct Point {
    LONG x, y;
};

struct SpaceState {
    std::mutex lock; // the event thread draws and picks; any thread may set the colour
    ULONG colour = 0;
    size_t kind = 0;
    LONG markers = 1;  // the marker shows while this is at least 1
    LONG fieldHue = 0; // the hue an "SV" field shows
    bool tracking = false;
    WORD fixedWidth = 0, fixedHeight = 0;
    // The field as drawn: its rows (blue, green, red; rows padded to 4 bytes) and what they were made for.
    std::vector<UBYTE> rows;
    LONG rowsWidth = 0, rowsHeight = 0, rowsHue = -1;
    size_t rowsKind = kKinds.size();
    ULONG bytesPerRow = 0;
    // The marker on the screen, in window coordinates.
    bool markerShown = false;
    Point marker{0, 0};
};

struct ColourSpaceInstance {
    Tal_Object header;
    SpaceState* state;
};

ColourSpaceInstance* of(void* instance) {
    return static_cast<ColourSpaceInstance*>(instance);
}

ULONG self(ColourSpaceInstance* c) {
    return c->header.handle;
}

Tal_Box* boxOf(ColourSpaceInstance* c) {
    return reinterpret_cast<Tal_Box*>(Tal_DoMethod(c->header.superObject, TAL_GetBox));
}

bool deepDisplay() {
    return host_DisplayDepth() > 8;
}

// Where the marker of a colour sits in a w × h field of a kind, relative to the field's corner.
Point markerOf(size_t kind, ULONG colour, LONG w, LONG h) {
    const Tal_HSV c = Tal_RGBToHSV(colour);
    const LONG last = std::max<LONG>(w - 1, 1);
    if (kind == kSV) // the rows run as the field's do, over h - 1
        return {c.saturation * last / 255, (255 - c.value) * std::max<LONG>(h - 1, 1) / 255};
    const LONG y = c.hue * h / 360;
    switch (kind) {
    case 2: // "HK"
        return {c.value * last / 255, y};
    case 3: // "HSV"
        if (c.saturation != 255 && c.value != 0)
            return {last / 2 + ((255 - c.saturation) * last / 255) / 2, y};
        return {(c.value * last / 255) / 2, y};
    case 4: // "HSV2"
        if ((colour & 0x00FFFFFF) == 0) return {0, y};
        return {(255 - c.saturation) * last / 255, y};
    default: // "HS", "HW"
        return {(255 - c.saturation) * last / 255, y};
    }
}

// Computes the field's rows when the field's size, kind or (for "SV") hue changed.
bool ensureRows(SpaceState& s, LONG w, LONG h) {
    const LONG hue = s.kind == kSV ? s.fieldHue : -1;
    if (s.rowsWidth == w && s.rowsHeight == h && s.rowsKind == s.kind && s.rowsHue == hue) return true;
    const ULONG bytesPerRow = (ULONG(w) * 3 + 3) & ~3u;
    try {
        s.rows.assign(size_t(bytesPerRow) * size_t(h), 0);
    } catch (const std::bad_alloc&) {
        s.rows.clear();
        s.rowsWidth = s.rowsHeight = 0;
        return false;
    }
    for (LONG y = 0; y < h; y++) {
        UBYTE* row = s.rows.data() + size_t(y) * bytesPerRow;
        for (LONG x = 0; x < w; x++) {
            const ULONG colour = Tal_ColourSpaceColourAt(kKinds[s.kind], x, y, w, h, s.fieldHue);
            row[3 * x] = UBYTE(colour >> 16);
            row[3 * x + 1] = UBYTE(colour >> 8);
            row[3 * x + 2] = UBYTE(colour);
        }
    }
    s.bytesPerRow = bytesPerRow;
    s.rowsWidth = w;
    s.rowsHeight = h;
    s.rowsKind = s.kind;
    s.rowsHue = hue;
    return true;
}

// The twelve pixels of the ring round a point (a 5 × 5 square without its corners and its inside),
// inverted where they lie in the field. Inverting them again restores the field.
void invertRing(RastPort* rp, const Tal_Box& b, Point centre) {
    const UBYTE mode = rp->DrawMode;
    SetDrMd(rp, COMPLEMENT);
    for (LONG dy = -2; dy <= 2; dy++)
        for (LONG dx = -2; dx <= 2; dx++) {
            const bool edge = dx == -2 || dx == 2 || dy == -2 || dy == 2;
            const bool corner = (dx == -2 || dx == 2) && (dy == -2 || dy == 2);
            const LONG x = centre.x + dx, y = centre.y + dy;
            if (!edge || corner || x < b.x || y < b.y || x >= b.x + b.width || y >= b.y + b.height) continue;
            RectFill(rp, x, y, x, y);
        }
    SetDrMd(rp, mode);
}

// Puts the field's own pixels back over the ring round a point.
void restoreRing(RastPort* rp, const SpaceState& s, const Tal_Box& b, Point centre) {
    const LONG x0 = std::max<LONG>(centre.x - 2, b.x), y0 = std::max<LONG>(centre.y - 2, b.y);
    const LONG x1 = std::min<LONG>(centre.x + 2, b.x + b.width - 1);
    const LONG y1 = std::min<LONG>(centre.y + 2, b.y + b.height - 1);
    if (x0 > x1 || y0 > y1) return;
    WritePixelArray(s.rows.data(), x0 - b.x, y0 - b.y, LONG(s.bytesPerRow), rp, x0, y0, x1 - x0 + 1,
                    y1 - y0 + 1, RECTFMT_BGR);
}

void showMarker(RastPort* rp, SpaceState& s, const Tal_Box& b) {
    s.markerShown = s.markers >= 1;
    if (!s.markerShown) return;
    const Point at = markerOf(s.kind, s.colour, b.width, b.height);
    s.marker = {b.x + at.x, b.y + at.y};
    invertRing(rp, b, s.marker);
}

// Draws the whole field and the marker (held: the state's lock and the drawing context).
void drawField(ColourSpaceInstance* c, Tal_DrawInfo* di, SpaceState& s) {
    const Tal_Box b = *boxOf(c);
    s.markerShown = false;
    if (b.width <= 0 || b.height <= 0) return;
    // Fields need more than 256 colours.
    if (!deepDisplay() || !ensureRows(s, b.width, b.height)) {
        Tal_EraseObjectBackground(self(c), di);
        return;
    }
    WritePixelArray(s.rows.data(), 0, 0, LONG(s.bytesPerRow), di->rastPort, b.x, b.y, b.width, b.height,
                    RECTFMT_BGR);
    showMarker(di->rastPort, s, b);
}

void draw(ColourSpaceInstance* c) {
    Tal_DrawInfo* di = Tal_LockDrawInfo(self(c));
    if (!di) return;
    {
        std::lock_guard guard(c->state->lock);
        drawField(c, di, *c->state);
    }
    Tal_UnlockDrawInfo(self(c));
}

// After a change of the colour: the marker moves over the field as drawn, or the field is drawn again
// when it no longer shows what it should. From another thread the window's thread redraws the field.
void refresh(ColourSpaceInstance* c) {
    Tal_DrawInfo* di = Tal_LockDrawInfo(self(c));
    if (!di) return;
    {
        SpaceState& s = *c->state;
        std::lock_guard guard(s.lock);
        const Tal_Box b = *boxOf(c);
        const bool current = s.rowsWidth == b.width && s.rowsHeight == b.height && s.rowsKind == s.kind &&
                             s.rowsHue == (s.kind == kSV ? s.fieldHue : -1);
        if (!current || !deepDisplay()) {
            drawField(c, di, s);
        } else {
            if (s.markerShown) restoreRing(di->rastPort, s, b, s.marker);
            showMarker(di->rastPort, s, b);
        }
    }
    Tal_UnlockDrawInfo(self(c));
}

// A new colour. An "SV" field takes the hue of a new colour that has one; a pick keeps the field's hue
// (the hue of a dark or pale pick is only roughly the field's).
void setColour(ColourSpaceInstance* c, ULONG colour, bool picked) {
    colour &= 0x00FFFFFF;
    {
        SpaceState& s = *c->state;
        std::lock_guard guard(s.lock);
        if (!picked && colour != s.colour) {
            const Tal_HSV hsv = Tal_RGBToHSV(colour);
            if (hsv.saturation > 0) s.fieldHue = hsv.hue;
        }
        s.colour = colour;
    }
    Tal_DoNotify(Tal_GetTopMostObject(self(c)), TAL_SetColourSpaceColour, colour);
    refresh(c);
}

// The field's colour at a point of the window, taken into the field.
void pick(ColourSpaceInstance* c, LONG x, LONG y) {
    ULONG colour;
    {
        SpaceState& s = *c->state;
        std::lock_guard guard(s.lock);
        const Tal_Box b = *boxOf(c);
        if (b.width <= 0 || b.height <= 0) return;
        x = std::clamp<LONG>(x, b.x, b.x + b.width - 1) - b.x;
        y = std::clamp<LONG>(y, b.y, b.y + b.height - 1) - b.y;
        colour = Tal_ColourSpaceColourAt(kKinds[s.kind], x, y, b.width, b.height, s.fieldHue);
    }
    setColour(c, colour, true);
}

Tal_Word handleInput(ColourSpaceInstance* c, const Tal_InputEvent* e) {
    if (!e) return 2;
    SpaceState& s = *c->state;
    auto tracking = [&] {
        std::lock_guard guard(s.lock);
        return s.tracking;
    };
    auto setTracking = [&](bool on) {
        std::lock_guard guard(s.lock);
        s.tracking = on;
    };
    switch (e->Class) {
    case IDCMP_MOUSEBUTTONS:
        if (e->Code == SELECTDOWN) {
            if (!Tal_IsCoordOverObject(self(c), e->MouseX, e->MouseY) ||
                Tal_DoMethod(self(c), TAL_IsDisabled) || !deepDisplay())
                return 2;
            setTracking(true);
            pick(c, e->MouseX, e->MouseY);
            return 1;
        }
        if (e->Code == SELECTUP || e->Code == MENUUP) {
            if (!tracking()) return 2;
            setTracking(false);
            return 1;
        }
        return 2;
    case IDCMP_MOUSEMOVE:
        if (!tracking()) return 2;
        pick(c, e->MouseX, e->MouseY);
        return 1;
    case IDCMP_INACTIVEWINDOW:
        setTracking(false);
        return 2;
    default:
        return 2;
    }
}

void limitsOn(WORD fixed, WORD* natural, WORD* minimum, WORD* maximum) {
    if (fixed > 0) {
        *natural = *minimum = *maximum = fixed;
    } else {
        *natural = kNaturalSize;
        *minimum = kMinSize;
        *maximum = kMaxSize;
    }
}

// Changes a setting of the field under the lock and draws the field again.
template <typename F>
void changeField(ColourSpaceInstance* c, F&& change) {
    {
        std::lock_guard guard(c->state->lock);
        change(*c->state);
    }
    draw(c);
}

} // namespace

void* Tal_NewColourSpaceClass(const TagItem*) {
    auto* c = of(Tal_AllocObjectMem(&colourSpaceClass));
    if (!c) return nullptr;
    c->state = new (std::nothrow) SpaceState;
    c->header.superObject = Tal_CreateObject("Root");
    if (!c->state || !c->header.superObject) {
        Tal_DisposeObject(c->header.superObject);
        delete c->state;
        Tal_FreeObjectMem(c);
        return nullptr;
    }
    return c;
}

void Tal_DisposeColourSpaceClass(void* instance) {
    auto* c = of(instance);
    Tal_DisposeObject(c->header.superObject);
    delete c->state;
    Tal_FreeObjectMem(c);
}

Tal_Word Tal_DoColourSpaceClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* c = of(instance);
    SpaceState& s = *c->state;
    switch (id) {
    case TAL_SetColourSpaceColour:
        setColour(c, args ? ULONG(args[0]) : 0, false);
        return 1;
    case TAL_GetColourSpaceColour: {
        std::lock_guard guard(s.lock);
        return s.colour;
    }
    case TAL_SetColourSpaceKind: {
        const char* name = args ? reinterpret_cast<const char*>(args[0]) : nullptr;
        if (!name) return 0;
        const auto it =
            std::find_if(kKinds.begin(), kKinds.end(), [&](const char* k) { return !std::strcmp(k, name); });
        if (it == kKinds.end()) return 0;
        changeField(c, [&](SpaceState& st) { st.kind = size_t(it - kKinds.begin()); });
        return 1;
    }
    case TAL_GetColourSpaceKind: {
        std::lock_guard guard(s.lock);
        return reinterpret_cast<Tal_Word>(kKinds[s.kind]);
    }
    case TAL_RaiseColourSpaceMarker:
    case TAL_LowerColourSpaceMarker:
        changeField(c, [&](SpaceState& st) { st.markers += id == TAL_RaiseColourSpaceMarker ? 1 : -1; });
        return 1;
    case TAL_SetFixedWidth:
    case TAL_SetFixedHeight: {
        const WORD size = WORD(std::clamp<LONG>(args ? LONG(int32_t(args[0])) : 0, 0, kMaxSize));
        std::lock_guard guard(s.lock);
        (id == TAL_SetFixedWidth ? s.fixedWidth : s.fixedHeight) = size;
        return 1;
    }
    case TAL_AskMinMax: {
        Tal_Box* b = boxOf(c);
        std::lock_guard guard(s.lock);
        limitsOn(s.fixedWidth, &b->width, &b->minWidth, &b->maxWidth);
        limitsOn(s.fixedHeight, &b->height, &b->minHeight, &b->maxHeight);
        return 1;
    }
    case TAL_DrawObject:
        draw(c);
        return 1;
    case TAL_HandleIDCMP:
        return handleInput(c, args ? reinterpret_cast<const Tal_InputEvent*>(args[0]) : nullptr);
    default:
        return Tal_DoMethodA(c->header.superObject, id, args);
    }
}

ULONG Tal_InitColourSpaceClass() {
    return Tal__SetupClass(&colourSpaceClass, "ColourSpace", 0x001D0000, "Root", Tal_NewColourSpaceClass,
                           Tal_DisposeColourSpaceClass, Tal_DoColourSpaceClassMethod, nullptr,
                           sizeof(ColourSpaceInstance));
}

void Tal_CleanupColourSpaceClass() {
    Tal__CleanupClass(&colourSpaceClass);
}
