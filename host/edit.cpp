// The text-entry control: a child window that edits an 8-bit text with a caret, scrolling so that the
// caret stays in view, with the Return and Tab rules and the focus-loss report of the host's controls.
//
// The controls' state lives in one registry under one lock, so that the text can be set and read from
// any thread while the owning thread edits; the window's user word stays free for the owner.
#include "host/controls.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr ULONG kWhite = 0xFFFFFF, kBlack = 0x000000, kFace = 0xC0C0C0, kShadow = 0x808080, kDark = 0x404040;
constexpr ULONG kReadOnlyInside = 0xE8E8E8;
constexpr LONG kFrame = 2;        // the sunken frame
constexpr LONG kTextInset = 4;    // frame and padding left of the text
constexpr LONG kMultiLineTop = 3; // frame and padding above the first line

struct EditControl {
    host_Window* window = nullptr;
    host_Window* parent = nullptr;
    ULONG style = 0;
    ULONG id = 0;
    LONG width = 0, height = 0;
    std::string text;
    size_t caret = 0;
    ULONG limit = HOST_EDIT_DEFAULT_LIMIT;
    LONG scrollX = 0; // pixels of the text left of the box
    LONG topLine = 0; // the first line shown (multi-line)
    LONG goalX = -1;  // Up and Down keep to this column
    bool multiLine() const { return style & HES_MULTILINE; }
};

std::mutex editLock;
std::vector<EditControl*> edits; // in creation order, under editLock

EditControl* find(host_Window* w) { // under editLock
    for (EditControl* e : edits)
        if (e->window == w) return e;
    return nullptr;
}

host_Font* font() {
    return host_InterfaceFont();
}
LONG lineHeight() {
    return std::max<LONG>(host_FontHeight(font()), 1);
}
LONG widthOf(const std::string& s, size_t from, size_t to) {
    return host_FontTextWidth(font(), s.data() + from, ULONG(to - from));
}

// Lines as [start, end) ranges; a single-line control has one.
struct Line {
    size_t start, end;
};

std::vector<Line> linesOf(const EditControl& e) {
    std::vector<Line> lines;
    size_t start = 0;
    if (e.multiLine())
        for (size_t i = 0; i < e.text.size(); i++)
            if (e.text[i] == '\n') {
                lines.push_back({start, i});
                start = i + 1;
            }
    lines.push_back({start, e.text.size()});
    return lines;
}

LONG lineOfCaret(const std::vector<Line>& lines, size_t caret) {
    for (size_t i = 0; i < lines.size(); i++)
        if (caret <= lines[i].end) return LONG(i);
    return LONG(lines.size()) - 1;
}

LONG innerWidth(const EditControl& e) {
    return std::max<LONG>(e.width - 2 * kTextInset, 1);
}
LONG visibleLines(const EditControl& e) {
    return e.multiLine() ? std::max<LONG>((e.height - 2 * kMultiLineTop) / lineHeight(), 1) : 1;
}
LONG textTop(const EditControl& e) {
    return e.multiLine() ? kMultiLineTop : (e.height - lineHeight()) / 2;
}

// The offset in a line nearest to a pixel column of it.
size_t nearestInLine(const EditControl& e, const Line& line, LONG x) {
    LONG left = 0;
    for (size_t i = line.start; i < line.end; i++) {
        const LONG right = left + widthOf(e.text, i, i + 1);
        if (x < (left + right + 1) / 2) return i;
        left = right;
    }
    return line.end;
}

// Scrolls so that the caret is in the box, and no further than the text needs.
void showCaret(EditControl& e) {
    const std::vector<Line> lines = linesOf(e);
    const LONG line = lineOfCaret(lines, e.caret);
    const LONG caretX = widthOf(e.text, lines[line].start, e.caret);
    const LONG inner = innerWidth(e);
    LONG widest = 0;
    for (const Line& l : lines) widest = std::max(widest, widthOf(e.text, l.start, l.end));
    e.scrollX = std::min(e.scrollX, std::max<LONG>(widest - inner + 1, 0));
    if (caretX - e.scrollX > inner - 1) e.scrollX = caretX - inner + 1;
    if (caretX < e.scrollX) e.scrollX = caretX;
    const LONG shown = visibleLines(e);
    e.topLine = std::min(e.topLine, std::max<LONG>(LONG(lines.size()) - shown, 0));
    if (line < e.topLine) e.topLine = line;
    if (line >= e.topLine + shown) e.topLine = line - shown + 1;
}

void changed(EditControl& e) {
    showCaret(e);
    host_Invalidate(e.window);
}

std::string normalise(const char* text) {
    std::string out;
    for (const char* p = text; p && *p; p++) {
        if (*p == '\r') {
            out += '\n';
            if (p[1] == '\n') p++;
        } else {
            out += *p;
        }
    }
    return out;
}

// The next (or previous) visible text-entry control of the same parent, none at the end.
host_Window* tabNeighbour(const EditControl& e, bool backwards) { // under editLock
    std::vector<EditControl*> order;
    for (EditControl* o : edits)
        if (o->parent == e.parent) order.push_back(o);
    auto self = std::find(order.begin(), order.end(), &e);
    if (backwards) {
        while (self != order.begin())
            if (host_IsVisible((*--self)->window)) return (*self)->window;
    } else {
        while (++self != order.end())
            if (host_IsVisible((*self)->window)) return (*self)->window;
    }
    return nullptr;
}

// A key or character; returns the window that should get the focus, if any.
// Keys and characters carry the modifiers held when they were typed (MK_SHIFT, MK_CONTROL).
host_Window* keyDown(EditControl& e, ULONG vk, Tal_Word modifiers) {
    const bool ctrl = modifiers & MK_CONTROL;
    const std::vector<Line> lines = linesOf(e);
    const LONG line = lineOfCaret(lines, e.caret);
    const bool vertical = vk == VK_UP || vk == VK_DOWN;
    if (!vertical) e.goalX = -1;
    switch (vk) {
    case VK_LEFT:
        if (e.caret > 0) e.caret--;
        break;
    case VK_RIGHT:
        if (e.caret < e.text.size()) e.caret++;
        break;
    case VK_HOME:
        e.caret = ctrl ? 0 : lines[line].start;
        break;
    case VK_END:
        e.caret = ctrl ? e.text.size() : lines[line].end;
        break;
    case VK_UP:
    case VK_DOWN: {
        const LONG to = line + (vk == VK_UP ? -1 : 1);
        if (!e.multiLine() || to < 0 || to >= LONG(lines.size())) break;
        if (e.goalX < 0) e.goalX = widthOf(e.text, lines[line].start, e.caret);
        e.caret = nearestInLine(e, lines[to], e.goalX);
        break;
    }
    case VK_DELETE:
        if (!(e.style & HES_READONLY) && e.caret < e.text.size()) e.text.erase(e.caret, 1);
        break;
    case VK_RETURN:
        // Ctrl+Return gives no character: it ends the entry in either kind of control.
        if (ctrl && e.style) return e.parent;
        break;
    default:
        return nullptr;
    }
    changed(e);
    return nullptr;
}

host_Window* character(EditControl& e, UBYTE c, Tal_Word modifiers) {
    const bool rules = e.style != 0, readOnly = e.style & HES_READONLY;
    e.goalX = -1;
    switch (c) {
    case '\t':
        if (!rules) return nullptr;
        if (host_Window* next = tabNeighbour(e, modifiers & MK_SHIFT)) return next;
        return e.parent;
    case '\r':
        if (modifiers & MK_CONTROL) return nullptr; // handled with the key
        if (!e.multiLine()) return rules ? e.parent : nullptr;
        c = '\n';
        break;
    case '\b':
        if (!readOnly && e.caret > 0) {
            e.text.erase(--e.caret, 1);
            changed(e);
        }
        return nullptr;
    default:
        if (c < 32 || c == 127) return nullptr;
        if ((e.style & HES_NUMBER) && (c < '0' || c > '9')) return nullptr;
        break;
    }
    if (readOnly || e.text.size() >= e.limit) return nullptr;
    e.text.insert(e.caret++, 1, char(c));
    changed(e);
    return nullptr;
}

void tap(EditControl& e, LONG x, LONG y) {
    const std::vector<Line> lines = linesOf(e);
    LONG line = e.topLine + (y - textTop(e)) / lineHeight();
    if (y < textTop(e)) line = e.topLine - 1;
    line = std::clamp<LONG>(line, 0, LONG(lines.size()) - 1);
    e.caret = nearestInLine(e, lines[line], x - kTextInset + e.scrollX);
    e.goalX = -1;
    changed(e);
}

void paint(host_Window* w) {
    EditControl e;
    {
        std::lock_guard guard(editLock);
        const EditControl* found = find(w);
        if (!found) return;
        e = *found;
    }
    RastPort rp;
    InitRastPort(&rp);
    rp.rp_Layer = host_GetLayer(w);
    if (e.width <= 2 * kFrame || e.height <= 2 * kFrame) {
        FillPixelArray(&rp, 0, 0, e.width, e.height, kShadow); // too small for anything but its frame
        return;
    }
    FillPixelArray(&rp, kFrame, kFrame, e.width - 2 * kFrame, e.height - 2 * kFrame,
                   (e.style & HES_READONLY) ? kReadOnlyInside : kWhite);
    host__DrawEdges(&rp, kShadow, kWhite, 0, 0, e.width, e.height);
    host__DrawEdges(&rp, kDark, kFace, 1, 1, e.width - 2, e.height - 2);
    Region clip{{WORD(kFrame), WORD(kFrame), WORD(e.width - kFrame - 1), WORD(e.height - kFrame - 1)}};
    Region* old = InstallClipRegion(rp.rp_Layer, &clip);
    SetABPenDrMd(&rp, host_DirectPen(kBlack), 0, JAM1);
    const std::vector<Line> lines = linesOf(e);
    const LONG lh = lineHeight(), top = textTop(e), shown = visibleLines(e);
    for (LONG i = e.topLine; i < LONG(lines.size()) && i < e.topLine + shown + 1; i++) {
        Move(&rp, kTextInset - e.scrollX, top + (i - e.topLine) * lh);
        Text(&rp, e.text.data() + lines[i].start, ULONG(lines[i].end - lines[i].start));
    }
    if (host_GetFocus() == w) {
        const LONG line = lineOfCaret(lines, e.caret);
        const LONG x = kTextInset - e.scrollX + widthOf(e.text, lines[line].start, e.caret);
        FillPixelArray(&rp, x, top + (line - e.topLine) * lh, 1, lh, kBlack);
    }
    InstallClipRegion(rp.rp_Layer, old);
}

Tal_Word editProc(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    host_Window* focusTo = nullptr;
    switch (message) {
    case HM_PAINT:
        paint(w);
        return 0;
    case HM_SETFOCUS:
        host_Invalidate(w);
        return 0;
    case HM_WINDOWPOSCHANGED: {
        // The owner moved or sized the control: the box decides the scrolling.
        const host_Rect r = host_GetRect(w);
        std::lock_guard guard(editLock);
        if (EditControl* e = find(w)) {
            e->width = r.w;
            e->height = r.h;
            changed(*e);
        }
        return 0;
    }
    case HM_KILLFOCUS: {
        host_Invalidate(w);
        std::lock_guard guard(editLock);
        if (EditControl* e = find(w))
            host_PostMessage(e->parent, HM_COMMAND, Tal_Word(HEN_KILLFOCUS) << 16 | e->id,
                             reinterpret_cast<Tal_Word>(w));
        return 0;
    }
    case HM_LBUTTONDOWN: {
        host_SetFocus(w);
        std::lock_guard guard(editLock);
        if (EditControl* e = find(w)) tap(*e, host_PointX(lParam), host_PointY(lParam));
        return 0;
    }
    case HM_KEYDOWN: {
        std::lock_guard guard(editLock);
        if (EditControl* e = find(w)) focusTo = keyDown(*e, ULONG(wParam), lParam);
        break;
    }
    case HM_CHAR: {
        std::lock_guard guard(editLock);
        if (EditControl* e = find(w)) focusTo = character(*e, UBYTE(wParam), lParam);
        break;
    }
    case HM_DESTROY: {
        std::lock_guard guard(editLock);
        if (EditControl* e = find(w)) {
            edits.erase(std::find(edits.begin(), edits.end(), e));
            delete e;
        }
        return 0;
    }
    default:
        return 0;
    }
    if (focusTo) host_SetFocus(focusTo);
    return 0;
}

} // namespace

host_Window* host_CreateEditControl(host_Window* parent, const host_Rect& box, ULONG style, ULONG id) {
    if (!parent || !host_IsWindow(parent) || box.w < 1 || box.h < 1) return nullptr;
    auto* e = new (std::nothrow) EditControl;
    if (!e) return nullptr;
    e->parent = parent;
    e->style = style;
    e->id = id & 0xFFFF;
    e->width = box.w;
    e->height = box.h;
    host_WindowDesc desc;
    desc.parent = parent;
    desc.rect = box;
    desc.style = HWS_CONTROL;
    desc.proc = editProc;
    desc.name = "Edit";
    // The control paints once it is registered: its first paint comes from the queue, after this.
    host_Window* w = host_CreateWindow(desc);
    if (!w) {
        delete e;
        return nullptr;
    }
    e->window = w;
    std::lock_guard guard(editLock);
    edits.push_back(e);
    return w;
}

bool host_IsEditControl(host_Window* edit) {
    std::lock_guard guard(editLock);
    return find(edit) != nullptr;
}

bool host_SetEditText(host_Window* edit, const char* text) {
    std::string normalised = normalise(text);
    std::lock_guard guard(editLock);
    EditControl* e = find(edit);
    if (!e) return false;
    e->text = std::move(normalised);
    e->caret = e->text.size();
    e->goalX = -1;
    changed(*e);
    return true;
}

ULONG host_GetEditText(host_Window* edit, char* buffer, ULONG size) {
    if (buffer && size) buffer[0] = 0;
    std::lock_guard guard(editLock);
    const EditControl* e = find(edit);
    if (!e) return 0;
    if (buffer && size) {
        const size_t n = std::min<size_t>(e->text.size(), size - 1);
        std::memcpy(buffer, e->text.data(), n);
        buffer[n] = 0;
    }
    return ULONG(e->text.size());
}

void host_SetEditLimit(host_Window* edit, ULONG maxLength) {
    std::lock_guard guard(editLock);
    if (EditControl* e = find(edit)) e->limit = maxLength ? maxLength : HOST_EDIT_DEFAULT_LIMIT;
}

void host_SetEditCaret(host_Window* edit, ULONG position) {
    std::lock_guard guard(editLock);
    if (EditControl* e = find(edit)) {
        e->caret = std::min<size_t>(position, e->text.size());
        e->goalX = -1;
        changed(*e);
    }
}

ULONG host_GetEditCaret(host_Window* edit) {
    std::lock_guard guard(editLock);
    const EditControl* e = find(edit);
    return e ? ULONG(e->caret) : 0;
}
