// The interface's drawing operations: bevels, indents, background erasing and the frame styles.
#include "ui/Frames.h"

#include "Tal/Root.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr ULONG kButtonFace = 0x00C0C0C0; // the host's button face
constexpr ULONG kShadow = 0x00808080;     // the host's 3-D shadow and dark shadow
constexpr ULONG kDarkShadow = 0x00404040;
constexpr ULONG kHighlight = 0x00FFFFFF;
constexpr ULONG kDefaultColour1 = 0x00DCFAFA; // the colour 1 that frames 6 and 7 show as white
constexpr LONG kTitlePad = 2;                 // background kept either side of a title on an edge

// Keeps the port's pens, mode and pen position for the caller.
class PortState {
  public:
    explicit PortState(RastPort* rp) : rp_(rp), saved_(*rp) {}
    ~PortState() {
        rp_->FgPen = saved_.FgPen;
        rp_->BgPen = saved_.BgPen;
        rp_->AOlPen = saved_.AOlPen;
        rp_->DrawMode = saved_.DrawMode;
        rp_->cp_x = saved_.cp_x;
        rp_->cp_y = saved_.cp_y;
    }
    PortState(const PortState&) = delete;
    PortState& operator=(const PortState&) = delete;

  private:
    RastPort* rp_;
    RastPort saved_;
};

void fill(RastPort* rp, ULONG pen, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (x0 > x1 || y0 > y1) return;
    SetAPen(rp, pen);
    SetDrMd(rp, JAM2);
    RectFill(rp, x0, y0, x1, y1);
}

void outline(RastPort* rp, ULONG pen, LONG x, LONG y, LONG w, LONG h) {
    if (w <= 0 || h <= 0) return;
    fill(rp, pen, x, y, x + w - 1, y);
    fill(rp, pen, x, y + h - 1, x + w - 1, y + h - 1);
    fill(rp, pen, x, y, x, y + h - 1);
    fill(rp, pen, x + w - 1, y, x + w - 1, y + h - 1);
}

// Top and left edges in one pen, bottom and right in another (which wins the two shared corners).
void edges(RastPort* rp, ULONG topLeft, ULONG bottomRight, LONG x, LONG y, LONG w, LONG h) {
    if (w <= 0 || h <= 0) return;
    fill(rp, topLeft, x, y, x + w - 1, y);
    fill(rp, topLeft, x, y, x, y + h - 1);
    fill(rp, bottomRight, x, y + h - 1, x + w - 1, y + h - 1);
    fill(rp, bottomRight, x + w - 1, y, x + w - 1, y + h - 1);
}

ULONG direct(ULONG colour) {
    return host_DirectPen(colour);
}

LONG fontHeightOf(const Tal_DrawInfo* di) {
    if (di->fontHeight > 0) return di->fontHeight;
    if (di->rastPort->TxHeight) return di->rastPort->TxHeight;
    return host_FontHeight(host_InterfaceFont());
}

// A title cut to fit the width, and where it goes.
struct Title {
    const char* text = nullptr;
    ULONG length = 0;
    LONG width = 0;
    explicit operator bool() const { return length > 0; }
};

Title fitTitle(RastPort* rp, const char* title, LONG maxWidth) {
    Title t;
    if (!title || !*title || maxWidth <= 0) return t;
    t.text = title;
    t.length = TextFit(rp, title, ULONG(std::strlen(title)), nullptr, nullptr, 1, ULONG(maxWidth), 0xFFFF);
    t.width = TextLength(rp, title, t.length);
    return t;
}

// Draws the title with its left edge at x and top at y: on the B pen in JAM2, else transparent.
void drawTitle(RastPort* rp, const Title& t, LONG x, LONG y, ULONG fg, ULONG bg, UBYTE mode) {
    if (!t) return;
    SetABPenDrMd(rp, fg, bg, mode);
    Move(rp, x, y);
    Text(rp, t.text, t.length);
}

// The object colour (1, 2 or 3) when object colours are used and it is set; else `otherwise`.
ULONG objectColour(ULONG object, const Tal_DrawInfo* di, int which, ULONG otherwise) {
    if (!di->useColours || !object) return otherwise;
    const Tal_RootInstance* root = Tal__GetRootInstance(object);
    if (!root) return otherwise;
    const ULONG c = which == 1 ? root->colour1 : which == 2 ? root->colour2 : root->colour3;
    return c == TAL_NO_COLOUR ? otherwise : c & 0x00FFFFFF;
}

} // namespace

void Tal_DrawBevel(Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h) {
    if (!di || !di->rastPort) return;
    PortState keep(di->rastPort);
    outline(di->rastPort, 1, x, y, w, h);
}

void Tal_DrawIndent(Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h) {
    if (!di || !di->rastPort) return;
    PortState keep(di->rastPort);
    edges(di->rastPort, di->shadePen, 1, x, y, w, h);
}

void Tal_EraseBackground(ULONG object, Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h) {
    if (!di || !di->rastPort || w <= 0 || h <= 0) return;
    RastPort* rp = di->rastPort;
    const Tal_RootInstance* root = object ? Tal__GetRootInstance(object) : nullptr;
    if (root && root->backdrop && Tal_GetObjectInstance(root->backdrop)) {
        // The picture is anchored at the object's box, so that partial erases line up.
        Tal_DoMethod(root->backdrop, TAL_DrawBackdrop, di, x, y, w, h, LONG(x - root->box.x),
                     LONG(y - root->box.y));
        return;
    }
    if (di->useColours && root) {
        ULONG colour = root->colour1;
        // The nearest container with a background colour; the walk is bounded against a broken tree.
        ULONG handle = object;
        for (int depth = 0; colour == TAL_NO_COLOUR && depth < 256; depth++) {
            handle = Tal_GetParentObject(handle);
            const Tal_RootInstance* parent = handle ? Tal__GetRootInstance(handle) : nullptr;
            if (!parent) break;
            colour = parent->colour1;
        }
        if (colour != TAL_NO_COLOUR) {
            FillPixelArray(rp, x, y, w, h, colour);
            return;
        }
    }
    PortState keep(rp);
    fill(rp, di->backgroundPen, x, y, x + w - 1, y + h - 1);
}

void Tal_EraseObjectBackground(ULONG object, Tal_DrawInfo* di) {
    const Tal_RootInstance* root = object ? Tal__GetRootInstance(object) : nullptr;
    if (!root) return;
    Tal_EraseBackground(object, di, root->box.x, root->box.y, root->box.width, root->box.height);
}

void Tal_DrawFrame(ULONG object, Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h, const char* title, ULONG,
                   ULONG style) {
    if (!di || !di->rastPort || w <= 0 || h <= 0) return;
    RastPort* rp = di->rastPort;
    PortState keep(rp);
    const LONG fh = fontHeightOf(di);
    const LONG x1 = x + w - 1, y1 = y + h - 1;
    const Title t = fitTitle(rp, title, w - 2 * kTitlePad - 2);
    const LONG tx = x + (w - t.width) / 2;
    const LONG tyMiddle = y + (h - fh) / 2;

    // A title interrupting the top edge: the background cleared behind it, then the text.
    auto titleOnEdge = [&](bool clearInPen0) {
        if (!t) return;
        if (clearInPen0)
            fill(rp, 0, tx - kTitlePad, y, tx + t.width + kTitlePad - 1, y + fh - 1);
        else
            Tal_EraseBackground(object, di, tx - kTitlePad, y, t.width + 2 * kTitlePad, fh);
        drawTitle(rp, t, tx, y, 1, 0, JAM1);
    };
    // Bevel or indent, lowered by two thirds of a line under a title.
    auto edgeWithTitle = [&](bool indent) {
        const LONG off = t ? fh * 2 / 3 : 0;
        if (indent)
            edges(rp, di->shadePen, 1, x, y + off, w, h - off);
        else
            outline(rp, 1, x, y + off, w, h - off);
        titleOnEdge(false);
    };

    switch (style & 0x7F) {
    case 1:
    case 11:
        edgeWithTitle(false);
        break;
    case 2:
        edgeWithTitle(true);
        break;
    case 3:
        if (t) {
            const LONG mid = y + fh / 2;
            outline(rp, 1, x, mid, w, h - (mid - y));
            titleOnEdge(true);
        } else if (di->shadePen) {
            edges(rp, di->shadePen, 2, x, y, w, h);
            edges(rp, di->shadePen, 2, x + 1, y + 1, w - 2, h - 2);
        } else {
            edges(rp, di->shadePen, 1, x, y, w, h);
            outline(rp, 1, x + 1, y + 1, w - 2, h - 2);
        }
        break;
    case 4:
        fill(rp, direct(objectColour(object, di, 2, kButtonFace)), x + 1, y + 1, x1 - 1, y1 - 1);
        outline(rp, 1, x, y, w, h);
        drawTitle(rp, t, tx, tyMiddle, 1, 0, JAM1);
        break;
    case 5: {
        fill(rp, 1, x, y, x1, y1);
        const LONG in = di->useColours ? 1 : 2;
        fill(rp, direct(objectColour(object, di, 3, kButtonFace)), x + in, y + in, x1 - in, y1 - in);
        drawTitle(rp, t, tx, tyMiddle, 2, 3, JAM2);
        break;
    }
    case 6:
    case 7: {
        const Tal_RootInstance* root = object ? Tal__GetRootInstance(object) : nullptr;
        if (!di->useColours && root && (root->colour1 & 0x00FFFFFF) == kDefaultColour1 &&
            root->colour1 != TAL_NO_COLOUR)
            fill(rp, 2, x, y, x1, y1);
        else
            Tal_EraseBackground(object, di, x, y, w, h);
        drawTitle(rp, t, tx, tyMiddle, 1, 0, JAM1);
        break;
    }
    case 8:
        if (di->useColours) {
            fill(rp, direct(objectColour(object, di, 3, kButtonFace)), x, y, x1, y1);
        } else {
            SetDrMd(rp, COMPLEMENT);
            RectFill(rp, x, y, x1, y1);
        }
        drawTitle(rp, t, tx, tyMiddle, 2, 3, JAM2);
        break;
    case 9:
    case 10:
        fill(rp, 0, x, y, x1, y1);
        fill(rp, 1, x, y, x1, y);
        fill(rp, 1, x1, y, x1, y1);
        drawTitle(rp, t, tx, (style & 0x7F) == 9 ? y + 1 : tyMiddle, 1, 0, JAM2);
        break;
    case 12:
    case 13:
        if ((style & 0x7F) == 13) {
            SetAPen(rp, 1);
            SetOutlinePen(rp, 1);
            SetDrMd(rp, JAM2);
        }
        host_FillEllipseBox(rp, x, y, x1, y1);
        drawTitle(rp, t, tx, tyMiddle, (style & 0x7F) == 13 ? 2 : 1, 0, JAM1);
        break;
    case 18:
        Tal_EraseBackground(object, di, x, y, w, h);
        edgeWithTitle(true);
        break;
    case 20:
        fill(rp, di->shadePen, x, y, x1, y);
        fill(rp, 2, x, y + 1, x1, y + 1);
        fill(rp, 1, x, y1, x1, y1);
        drawTitle(rp, t, tx, tyMiddle, 1, 0, JAM1);
        break;
    case 21:
    case 22:
        // A sunken edge: shadow over highlight outside, dark shadow over button face inside; the soft
        // variant (22) has a gentler inner ring.
        edges(rp, direct(kShadow), direct(kHighlight), x, y, w, h);
        if ((style & 0x7F) == 21)
            edges(rp, direct(kDarkShadow), direct(kButtonFace), x + 1, y + 1, w - 2, h - 2);
        else
            edges(rp, direct(kShadow), direct(kHighlight), x + 1, y + 1, w - 2, h - 2);
        drawTitle(rp, t, tx, tyMiddle, 1, 0, JAM1);
        break;
    default:
        break;
    }
}
