// VectorImage: the small shapes of the interface (arrows, check and radio marks, a question mark, a
// cross, the front and back squares, plus and minus boxes), drawn at any size.
#include "ui/Button.h"
#include "ui/Window.h"

#include <algorithm>

namespace {

Tal_Class vectorClass;

constexpr WORD kMinSize = 3;
constexpr WORD kMaxSize = 2400;

struct VectorInstance {
    Tal_Object header;
    WORD fixedWidth, fixedHeight; // 0 = free, -1 = no room at all
    ULONG shape;
    UBYTE pressed;
};

VectorInstance* of(void* instance) {
    return static_cast<VectorInstance*>(instance);
}
Tal_Box* boxOf(VectorInstance* v) {
    return reinterpret_cast<Tal_Box*>(Tal_DoMethod(v->header.superObject, TAL_GetBox));
}

void askLimits(VectorInstance* v) {
    Tal_Box* b = boxOf(v);
    b->width = b->minWidth = kMinSize;
    b->height = b->minHeight = kMinSize;
    b->maxWidth = b->maxHeight = kMaxSize;
    auto fixed = [](WORD size, WORD* natural, WORD* minimum, WORD* maximum) {
        if (size == 0) return;
        *natural = *minimum = *maximum = size < 0 ? 0 : size;
    };
    fixed(v->fixedWidth, &b->width, &b->minWidth, &b->maxWidth);
    fixed(v->fixedHeight, &b->height, &b->minHeight, &b->maxHeight);
}

// ---------------------------------------------------------------------------------------------------
// Drawing primitives in a pen.

void fill(RastPort* rp, ULONG pen, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (x0 > x1 || y0 > y1) return;
    SetAPen(rp, pen);
    RectFill(rp, x0, y0, x1, y1);
}

void outline(RastPort* rp, ULONG pen, LONG x, LONG y, LONG side) {
    fill(rp, pen, x, y, x + side - 1, y);
    fill(rp, pen, x, y + side - 1, x + side - 1, y + side - 1);
    fill(rp, pen, x, y, x, y + side - 1);
    fill(rp, pen, x + side - 1, y, x + side - 1, y + side - 1);
}

// A line with both of its ends.
void line(RastPort* rp, ULONG pen, LONG x0, LONG y0, LONG x1, LONG y1) {
    DrawLine(rp, x0, y0, x1, y1, pen);
    fill(rp, pen, x1, y1, x1, y1);
}

// A filled triangle pointing left, right, up or down, at most `length` long and twice that wide less
// one, centred in the rectangle.
void arrow(RastPort* rp, ULONG pen, ULONG shape, LONG x, LONG y, LONG w, LONG h) {
    const bool across = shape == TAL_SHAPE_ARROW_LEFT || shape == TAL_SHAPE_ARROW_RIGHT;
    const LONG along = across ? w : h, span = across ? h : w;
    const LONG length = std::min<LONG>({4, along, (span + 1) / 2});
    if (length <= 0) return;
    const LONG start = (across ? x : y) + (along - length) / 2;
    const LONG middle = (across ? y : x) + (span - 1) / 2;
    const bool backwards = shape == TAL_SHAPE_ARROW_LEFT || shape == TAL_SHAPE_ARROW_UP;
    for (LONG i = 0; i < length; i++) {
        const LONG at = backwards ? start + i : start + length - 1 - i; // i = distance from the tip
        if (across)
            fill(rp, pen, at, middle - i, at, middle + i);
        else
            fill(rp, pen, middle - i, at, middle + i, at);
    }
}

// Two overlapping squares, the back one at the top left; `frontDark` fills the front one with the pen
// and the back one with white, else the other way round.
void squares(RastPort* rp, ULONG pen, LONG x, LONG y, LONG side, bool frontDark) {
    const LONG q = std::max<LONG>(side * 2 / 3, 3), off = side - q;
    const ULONG backFill = frontDark ? 2 : pen, frontFill = frontDark ? pen : 2;
    fill(rp, backFill, x, y, x + q - 1, y + q - 1);
    outline(rp, pen, x, y, q);
    fill(rp, frontFill, x + off, y + off, x + off + q - 1, y + off + q - 1);
    outline(rp, pen, x + off, y + off, q);
}

} // namespace

void Tal__DrawVectorShape(Tal_DrawInfo* di, ULONG shape, LONG x, LONG y, LONG w, LONG h, ULONG pen,
                          bool pressed) {
    if (!di || !di->rastPort) return;
    RastPort* rp = di->rastPort;
    const RastPort saved = *rp;
    SetDrMd(rp, JAM2);
    // The shape keeps one pixel inside the rectangle; square shapes take the largest centred square.
    x += 1;
    y += 1;
    w -= 2;
    h -= 2;
    const LONG side = std::min(w, h);
    const LONG sx = x + (w - side) / 2, sy = y + (h - side) / 2;
    if (w > 0 && h > 0) switch (shape) {
        case TAL_SHAPE_ARROW_LEFT:
        case TAL_SHAPE_ARROW_RIGHT:
        case TAL_SHAPE_ARROW_UP:
        case TAL_SHAPE_ARROW_DOWN:
            arrow(rp, pen, shape, x, y, w, h);
            break;
        case TAL_SHAPE_CHECK: {
            // Two strokes, two pixels thick: down to the bottom middle, then up to the top right (the
            // short stroke thickened upwards, the steep one leftwards).
            const LONG ax = x + 2, ay = y + h * 2 / 3, bx = x + w / 2, by = y + h - 1, cx = x + w - 1, cy = y;
            for (LONG d = 0; d < 2; d++) {
                line(rp, pen, ax, ay - d, bx, by - d);
                line(rp, pen, bx - d, by, cx - d, cy);
            }
            break;
        }
        case TAL_SHAPE_RADIO_OFF:
        case TAL_SHAPE_RADIO_ON: {
            // A white disc with a ring in the pen; a dot in the middle when on.
            SetAPen(rp, 2);
            SetOutlinePen(rp, pen);
            host_FillEllipseBox(rp, sx, sy, sx + side - 1, sy + side - 1);
            if (shape == TAL_SHAPE_RADIO_ON) {
                const LONG in = std::max<LONG>(side / 4 + 1, 2);
                if (side - 2 * in > 0) {
                    SetAPen(rp, pen);
                    SetOutlinePen(rp, pen);
                    host_FillEllipseBox(rp, sx + in, sy + in, sx + side - 1 - in, sy + side - 1 - in);
                }
            }
            break;
        }
        case TAL_SHAPE_QUESTION: {
            const LONG fh = di->fontHeight > 0 ? di->fontHeight : host_FontHeight(host_InterfaceFont());
            SetABPenDrMd(rp, pen, 0, JAM1);
            Move(rp, x + (w - TextLength(rp, "?", 1)) / 2, y + (h - fh) / 2);
            Text(rp, "?", 1);
            break;
        }
        case TAL_SHAPE_CROSS:
            for (LONG d = 0; d < 2; d++) {
                line(rp, pen, sx + d, sy, sx + side - 1, sy + side - 1 - d);
                line(rp, pen, sx + side - 1 - d, sy, sx, sy + side - 1 - d);
            }
            break;
        case TAL_SHAPE_TO_FRONT:
        case TAL_SHAPE_TO_BACK:
            squares(rp, pen, sx, sy, side, (shape == TAL_SHAPE_TO_FRONT) != pressed);
            break;
        case TAL_SHAPE_MINUS_BOX:
        case TAL_SHAPE_PLUS_BOX: {
            const LONG s = side % 2 ? side : side - 1; // odd, so that the bars sit in the middle
            const LONG mx = sx + s / 2, my = sy + s / 2;
            outline(rp, di->midGreyPen, sx, sy, s);
            fill(rp, pen, sx + 2, my, sx + s - 3, my);
            if (shape == TAL_SHAPE_PLUS_BOX || pressed) fill(rp, pen, mx, sy + 2, mx, sy + s - 3);
            break;
        }
        default: // the unchecked mark, and shapes this program does not know, draw nothing
            break;
        }
    rp->FgPen = saved.FgPen;
    rp->BgPen = saved.BgPen;
    rp->AOlPen = saved.AOlPen;
    rp->DrawMode = saved.DrawMode;
    rp->cp_x = saved.cp_x;
    rp->cp_y = saved.cp_y;
}

namespace {

void draw(VectorInstance* v) {
    Tal_Box* b = boxOf(v);
    if (b->width <= 0 || b->height <= 0) return;
    const ULONG self = v->header.handle;
    Tal_DrawInfo* di = Tal_LockDrawInfo(self);
    if (!di) return;
    Tal_EraseObjectBackground(self, di);
    // Pressed shapes turn white only where a pressed gadget is dark (256 colours or fewer); on deeper
    // displays the pressed face is light and the shape stays black.
    ULONG pen = v->pressed && host_DisplayDepth() <= 8 ? 2 : 1;
    if (Tal_DoMethod(v->header.superObject, TAL_IsDisabled)) pen = di->darkGreyPen;
    Tal__DrawVectorShape(di, v->shape, b->x, b->y, b->width, b->height, pen, v->pressed);
    Tal_UnlockDrawInfo(self);
}

} // namespace

void* Tal_NewVectorImageClass(const TagItem*) {
    auto* v = static_cast<VectorInstance*>(Tal_AllocObjectMem(&vectorClass));
    if (!v) return nullptr;
    v->header.superObject = Tal_CreateObject("Root");
    if (!v->header.superObject) {
        Tal_FreeObjectMem(v);
        return nullptr;
    }
    return v;
}

void Tal_DisposeVectorImageClass(void* instance) {
    auto* v = of(instance);
    Tal_DisposeObject(v->header.superObject);
    Tal_FreeObjectMem(v);
}

Tal_Word Tal_DoVectorImageClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* v = of(instance);
    switch (id) {
    case TAL_SetVectorShape:
        v->shape = ULONG(args[0]);
        return 1;
    case TAL_SetSpaceFixedWidth:
        v->fixedWidth = WORD(args[0]);
        return 1;
    case TAL_SetSpaceFixedHeight:
        v->fixedHeight = WORD(args[0]);
        return 1;
    case TAL_Pressed:
    case TAL_Released:
        v->pressed = id == TAL_Pressed;
        return Tal_DoMethodA(v->header.superObject, id, args);
    case TAL_AskMinMax:
        askLimits(v);
        return 1;
    case TAL_DrawObject:
        draw(v);
        return 1;
    default:
        return Tal_DoMethodA(v->header.superObject, id, args);
    }
}

ULONG Tal_InitVectorImageClass() {
    return Tal__SetupClass(&vectorClass, "VectorImage", 0x00050000, "Root", Tal_NewVectorImageClass,
                           Tal_DisposeVectorImageClass, Tal_DoVectorImageClassMethod, nullptr,
                           sizeof(VectorInstance));
}

void Tal_CleanupVectorImageClass() {
    Tal__CleanupClass(&vectorClass);
}
