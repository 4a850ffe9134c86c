// StringEdit: the one-line text or number field. It draws its text itself; typing happens in a host
// text-entry control laid over the field while it is edited. When that control loses the focus, the
// window queues TAL_TextEditFocusLost to the field, which reads the text back and notifies the change.
//
// The control belongs to the window's pump thread, which alone may destroy it; a field therefore hides
// its control when editing ends and shows it again for the next edit. The control goes with its host
// window. The control's user word holds the field's handle, which is also how a field recognises its own
// control after its window was closed and opened again.
#include "ui/StringEdit.h"
#include "host/controls.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>
#include <mutex>
#include <new>
#include <string>

namespace {

Tal_Class stringEditClass;

constexpr ULONG kMaxChars = 255; // the text buffer holds 255 characters and the terminator
constexpr ULONG kDefaultFrame = 11;
constexpr ULONG kNoFrame = 6;
constexpr ULONG kTextPointer = 4; // the window's pointer shape over a field
constexpr LONG kTextInset = 4; // where the host control puts its text: it does not move when editing starts
constexpr LONG kPermanentMaxHeight = 1280;
constexpr ULONG kDisabledInside = 0x00E8E8E8;

struct StringEditInstance {
    Tal_Object header;
    char text[kMaxChars + 1];
    ULONG maxChars;
    ULONG cursor;
    ULONG pointerState;
    ULONG frame;
    ULONG editing;
    host_Window* control;
    Window* controlWindow; // the host window the control lives in
    host_Font* font;
    ULONG flags;
    ULONG ownHandle;
    Tal_Box* box;
    // The text and the editing state: set from any thread, drawn and edited in the window's thread.
    std::mutex lock;
};

StringEditInstance* of(void* instance) {
    return static_cast<StringEditInstance*>(instance);
}
ULONG super(StringEditInstance* s) {
    return s->header.superObject;
}
ULONG topmost(StringEditInstance* s) {
    return Tal_GetTopMostObject(s->ownHandle);
}

host_Font* fontOf(StringEditInstance* s) {
    return s->font ? s->font : host_InterfaceFont();
}
LONG widthOf(host_Font* font, const char* text, size_t length) {
    return host_FontTextWidth(font, text, ULONG(length));
}

bool permanent(StringEditInstance* s) {
    return s->flags & TAL_STRING_PERMANENT;
}
bool bordered(ULONG frame) {
    return (frame & 0x7F) != kNoFrame;
}

// A control is this field's while it exists and carries the field's handle: a control that went with
// its window, or a new one that happens to have the same address, is not.
bool ownsControl(StringEditInstance* s, host_Window* control) {
    return control && host_IsEditControl(control) && ULONG(host_GetUserData(control)) == s->ownHandle;
}

// Reads an integer the way the C library's strtol does with base 0, in the C locale, limited to the
// 32-bit range. 0 when the text holds no number.
LONG parseNumber(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+') p++;
    int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && std::isxdigit(static_cast<unsigned char>(p[2]))) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;
    }
    unsigned long long magnitude = 0;
    const char* end = p + std::strlen(p);
    auto [stop, error] = std::from_chars(p, end, magnitude, base);
    if (stop == p) return 0;
    constexpr unsigned long long kLimit = 1ull << 31;
    if (error == std::errc::result_out_of_range || magnitude >= kLimit)
        return negative ? std::numeric_limits<LONG>::min() : std::numeric_limits<LONG>::max();
    return negative ? LONG(-static_cast<long long>(magnitude)) : LONG(magnitude);
}

// The open control, or none; a control that went with its window (closed while the field was being
// edited) ends the editing.
host_Window* liveControl(StringEditInstance* s) {
    host_Window* control;
    {
        std::lock_guard guard(s->lock);
        if (!s->editing) return nullptr;
        control = s->control;
    }
    if (ownsControl(s, control)) return control;
    std::lock_guard guard(s->lock);
    if (s->control == control) s->editing = 0;
    return nullptr;
}

void redraw(StringEditInstance* s) {
    Tal_DoMethod(topmost(s), TAL_DrawObject);
}

// Stores a text (at most `limit` characters) and clears the rest of the buffer; the cursor stays within
// the text. Under the lock.
void storeText(StringEditInstance* s, const char* text, size_t limit) {
    size_t length = text ? strnlen(text, limit) : 0;
    std::memset(s->text, 0, sizeof s->text);
    std::memcpy(s->text, text ? text : "", length);
    s->cursor = std::min<ULONG>(s->cursor, ULONG(length));
}

void setText(StringEditInstance* s, const char* text) {
    std::string copy;
    {
        std::lock_guard guard(s->lock);
        storeText(s, text, kMaxChars);
        copy = s->text;
    }
    if (host_Window* control = liveControl(s))
        host_SetEditText(control, copy.c_str());
    else
        redraw(s);
}

void setNumber(StringEditInstance* s, LONG value) {
    char text[16] = {};
    std::to_chars(text, text + sizeof text - 1, value);
    setText(s, text);
}

// Takes the control's text (at most the field's maximum) when it differs from the stored one, and
// notifies it. 1 when the text changed.
ULONG readBack(StringEditInstance* s) {
    host_Window* control = liveControl(s);
    if (!control) return 0;
    ULONG keep;
    {
        std::lock_guard guard(s->lock);
        keep = std::min(kMaxChars, s->maxChars);
    }
    char typed[kMaxChars + 1] = {};
    host_GetEditText(control, typed, keep + 1);
    const ULONG caret = host_GetEditCaret(control);
    bool number;
    LONG value;
    {
        std::lock_guard guard(s->lock);
        if (std::strcmp(typed, s->text) == 0) return 0;
        storeText(s, typed, keep);
        s->cursor = std::min<ULONG>(caret, ULONG(std::strlen(s->text)));
        number = s->flags & TAL_STRING_NUMBER;
        value = parseNumber(s->text);
    }
    // Notified outside the lock: listeners read the field, and may set it.
    if (number)
        Tal_DoNotify(topmost(s), TAL_SetStringNumber, value);
    else
        Tal_DoNotify(topmost(s), TAL_SetString, s->text);
    return 1;
}

// Ends editing: the typed text is taken first (unless asked not to), the focus goes back to the window
// and the control is hidden for the next edit.
void closeControl(StringEditInstance* s, bool takeText, bool draw) {
    if (takeText) readBack(s);
    host_Window* control;
    {
        std::lock_guard guard(s->lock);
        if (!s->editing) return;
        s->editing = 0;
        control = s->control;
    }
    if (ownsControl(s, control)) {
        if (host_GetFocus() == control) host_SetFocus(host_GetParent(control));
        host_ShowWindow(control, false);
    }
    if (draw) redraw(s);
}

host_Rect controlRect(const Tal_Box* box, const Window* window) {
    return {box->x + window->BorderLeft, box->y + window->BorderTop, std::max<LONG>(box->width, 1),
            std::max<LONG>(box->height, 1)};
}

// Lays the control over the field, filled with its text; a press at (x, y) is handed on so that the
// caret lands where the user pressed.
bool openControl(StringEditInstance* s, bool press, LONG x, LONG y) {
    auto* di = reinterpret_cast<Tal_DrawInfo*>(Tal_DoMethod(super(s), TAL_GetDrawInfo));
    if (!di || !di->window || s->box->width <= 0 || s->box->height <= 0) return false;
    Window* window = di->window;
    const Tal_Box box = *s->box;
    host_Window* control;
    ULONG limit;
    std::string text;
    {
        std::lock_guard guard(s->lock);
        control = s->control;
        limit = s->maxChars;
        text = s->text;
        if (s->controlWindow != window) control = nullptr;
    }
    if (ownsControl(s, control)) {
        host_SetWindowRect(control, controlRect(&box, window));
    } else {
        ULONG style = permanent(s) ? (HES_AUTOHSCROLL | HES_MULTILINE) : HES_AUTOHSCROLL;
        control = host_CreateTextEntry(window, box.x, box.y, std::max<LONG>(box.width, 1),
                                       std::max<LONG>(box.height, 1), style);
        if (!control) return false;
        host_SetUserData(control, s->ownHandle);
    }
    host_SetEditLimit(control, limit);
    host_SetEditText(control, text.c_str());
    host_ShowWindow(control, true);
    {
        std::lock_guard guard(s->lock);
        s->control = control;
        s->controlWindow = window;
        s->editing = 1;
    }
    if (press) host_SendMessage(control, HM_LBUTTONDOWN, MK_LBUTTON, host_MakePoint(x - box.x, y - box.y));
    return true;
}

// The focus left the control: take the text; a one-line field also ends editing, unless the control
// has the focus again by now (the user tapped back into it).
ULONG focusLost(StringEditInstance* s) {
    ULONG changed = readBack(s);
    host_Window* control = liveControl(s);
    if (control && !permanent(s) && host_GetFocus() != control) closeControl(s, false, true);
    return changed;
}

// ---------------------------------------------------------------------------------------------------
// Limits and drawing.

struct Borders {
    LONG width = 2, height = 2;
};
Borders bordersOf(const Tal_DrawInfo* di) {
    Borders b;
    if (di) {
        b.width = di->frameWidth;
        b.height = di->frameHeight;
    }
    return b;
}

WORD saturate(LONG v) {
    return WORD(std::clamp<LONG>(v, 0, 32767));
}

void askLimits(StringEditInstance* s, const Tal_DrawInfo* di) {
    host_Font* font = fontOf(s);
    const Borders border = bordersOf(di);
    ULONG maxChars, frame;
    LONG textWidth;
    {
        std::lock_guard guard(s->lock);
        maxChars = s->maxChars;
        frame = s->frame;
        textWidth = widthOf(font, s->text, std::strlen(s->text));
    }
    const LONG charWidth = (s->flags & TAL_STRING_NUMBER)
                               ? std::max<LONG>(widthOf(font, "023456789", 9) / 9, 1)
                               : std::max<LONG>(widthOf(font, "W", 1), 1);
    const bool framed = bordered(frame);
    const LONG extraWidth = framed ? 3 * border.width : 0;
    const LONG height = host_FontHeight(font) + (framed ? 2 * border.height : 0);
    const LONG minWidth = (maxChars < 64 ? charWidth * LONG(maxChars) : charWidth) + extraWidth;
    Tal_Box* box = s->box;
    box->minWidth = saturate(minWidth);
    box->minHeight = saturate(height);
    box->maxWidth = saturate(std::max(minWidth, charWidth * LONG(maxChars) + extraWidth));
    box->maxHeight = saturate(permanent(s) ? kPermanentMaxHeight : height);
    box->width = saturate(std::max(minWidth, textWidth + extraWidth));
    box->height = saturate(height);
}

// The first character drawn: as far left as the text up to the cursor allows, the cursor kept in view
// with one blank to spare. A field too narrow for anything starts at the cursor.
size_t firstVisible(host_Font* font, const std::string& text, size_t cursor, LONG room) {
    cursor = std::min(cursor, text.size());
    const LONG available = room - widthOf(font, " ", 1);
    size_t first = 0;
    while (first < cursor && widthOf(font, text.data() + first, cursor - first) > available) first++;
    return first;
}

void draw(StringEditInstance* s) {
    // A permanent field is its control: opened at the first draw, then kept over the box.
    if (permanent(s) && !liveControl(s)) openControl(s, false, 0, 0);
    Tal_DrawInfo* di = Tal_LockDrawInfo(s->ownHandle);
    if (!di) return;
    const Tal_Box box = *s->box;
    std::string text;
    size_t cursor;
    ULONG frame;
    {
        std::lock_guard guard(s->lock);
        text = s->text;
        cursor = s->cursor;
        frame = s->frame;
    }
    if (host_Window* control = liveControl(s)) {
        // The control shows the field while it is open; it follows the box.
        if (di->window) host_SetWindowRect(control, controlRect(&box, di->window));
        Tal_UnlockDrawInfo(s->ownHandle);
        return;
    }
    if (box.width <= 0 || box.height <= 0) {
        Tal_UnlockDrawInfo(s->ownHandle);
        return;
    }
    RastPort* rp = di->rastPort;
    host_Font* font = fontOf(s);
    const bool framed = bordered(frame);
    const bool disabled = Tal_DoMethod(super(s), TAL_IsDisabled) != 0;
    const LONG edge = framed ? 1 : 0;
    const LONG inset = framed ? kTextInset : 1;
    // The inside: pen 2 for an editable field, grey for a disabled one (as the host's read-only control).
    FillPixelArray(rp, box.x + edge, box.y + edge, box.width - 2 * edge, box.height - 2 * edge,
                   disabled ? kDisabledInside : host_PenColour(rp, 2));
    const LONG room = box.width - inset - std::max<LONG>(edge, 1);
    const size_t first = firstVisible(font, text, cursor, room);
    if (room > 0 && first < text.size()) {
        const ULONG fits = TextFit(rp, text.data() + first, ULONG(text.size() - first), nullptr, nullptr, 1,
                                   ULONG(room), 0xFFFF);
        const UBYTE mode = GetDrMd(rp);
        const ULONG pen = rp->FgPen;
        SetABPenDrMd(rp, disabled ? di->darkGreyPen : 1, 2, JAM1);
        Move(rp, box.x + inset, box.y + (box.height - host_FontHeight(font)) / 2);
        Text(rp, text.data() + first, fits);
        SetAPen(rp, pen);
        SetDrMd(rp, mode);
    }
    if (framed && (frame & 0x7F) != 7 && (frame & 0x7F) != 0)
        Tal_DrawFrame(s->ownHandle, di, box.x, box.y, box.width, box.height, nullptr, 0, frame);
    Tal_UnlockDrawInfo(s->ownHandle);
}

// ---------------------------------------------------------------------------------------------------
// Input.

// The text pointer belongs to the field that set it: leaving a field resets it only when no other field
// took it over meanwhile (fields hear a move in member order, whichever is entered or left first).
std::atomic<ULONG> pointerOwner{0};

void setPointer(StringEditInstance* s, bool over) {
    const ULONG wanted = over ? kTextPointer : 0;
    if (s->pointerState == wanted) return;
    s->pointerState = wanted;
    ULONG me = s->ownHandle;
    if (over)
        pointerOwner = me;
    else if (!pointerOwner.compare_exchange_strong(me, 0))
        return;
    auto* di = reinterpret_cast<Tal_DrawInfo*>(Tal_DoMethod(super(s), TAL_GetDrawInfo));
    if (di && di->windowObject) Tal_DoMethod(di->windowObject, TAL_SetWindowPointer, wanted);
}

Tal_Word handleInput(StringEditInstance* s, const Tal_InputEvent* e) {
    if (!e) return 2;
    const bool over = Tal_IsCoordOverObject(s->ownHandle, e->MouseX, e->MouseY) != 0;
    switch (e->Class) {
    case IDCMP_MOUSEMOVE:
        setPointer(s, over);
        return 2;
    case IDCMP_POINTERLEFT:
        setPointer(s, false);
        return 2;
    case IDCMP_INACTIVEWINDOW:
        if (!permanent(s)) closeControl(s, true, true);
        return 2;
    case IDCMP_MOUSEBUTTONS:
        if (e->Code != SELECTDOWN) return 2;
        if (over && !Tal_DoMethod(super(s), TAL_IsDisabled))
            return openControl(s, true, e->MouseX, e->MouseY) ? 1 : 2;
        if (!over && !permanent(s)) closeControl(s, true, true);
        return 2;
    default:
        return 2;
    }
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry stringEditMethods[] = {
    ENTRY(TAL_SetString, "Tal_SetStringEditText", TAL_METHOD_SETTER, TAL_GetString, "%s", nullptr),
    ENTRY(TAL_GetString, "Tal_GetStringEditText", TAL_METHOD_GETTER, TAL_SetString, nullptr, "%s"),
    ENTRY(TAL_SetStringFlags, "Tal_SetStringEditFlags", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetStringMaxChars, "Tal_SetStringEditMaxChars", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetStringFrame, "Tal_SetStringEditFrame", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

void* Tal_NewStringEditClass(const TagItem*) {
    auto* s = static_cast<StringEditInstance*>(Tal_AllocObjectMem(&stringEditClass));
    if (!s) return nullptr;
    s->header.superObject = Tal_CreateObject("Root");
    if (!s->header.superObject) {
        Tal_FreeObjectMem(s);
        return nullptr;
    }
    new (&s->lock) std::mutex;
    s->ownHandle = s->header.handle;
    s->maxChars = kMaxChars;
    s->frame = kDefaultFrame;
    s->box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(s->header.superObject, TAL_GetBox));
    return s;
}

void Tal_DisposeStringEditClass(void* instance) {
    auto* s = of(instance);
    // The control stays with its window; it no longer names this field, so its reports go nowhere.
    host_Window* control = s->control;
    if (ownsControl(s, control)) {
        host_SetUserData(control, 0);
        if (host_GetFocus() == control) host_SetFocus(host_GetParent(control));
        host_ShowWindow(control, false);
    }
    Tal_DisposeObject(s->header.superObject);
    s->lock.~mutex();
    Tal_FreeObjectMem(s);
}

Tal_Word Tal_DoStringEditClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* s = of(instance);
    switch (id) {
    case TAL_SetString:
        setText(s, reinterpret_cast<const char*>(args[0]));
        return 1;
    case TAL_GetString:
        readBack(s); // a text still being typed counts
        return reinterpret_cast<Tal_Word>(s->text);
    case TAL_SetStringFlags:
        s->flags = ULONG(args[0]);
        return 1;
    case TAL_SetStringMaxChars: {
        ULONG limit;
        {
            std::lock_guard guard(s->lock);
            s->maxChars = std::clamp<ULONG>(ULONG(args[0]), 1, kMaxChars);
            limit = s->maxChars;
        }
        if (host_Window* control = liveControl(s)) host_SetEditLimit(control, limit);
        return 1;
    }
    case TAL_SetStringNumber:
        setNumber(s, LONG(int32_t(uint32_t(args[0]))));
        return 1;
    case TAL_GetStringNumber: {
        readBack(s);
        std::lock_guard guard(s->lock);
        return Tal_Word(intptr_t(parseNumber(s->text)));
    }
    case TAL_SetStringFrame:
    case TAL_SetStringFrame2:
    case TAL_SetGroupFrame:
        s->frame = ULONG(args[0]);
        return 1;
    case TAL_TextEditFocusLost:
        return focusLost(s);
    case TAL_GetStringCursor: {
        std::lock_guard guard(s->lock);
        return s->cursor;
    }
    case TAL_SetDrawInfo:
        if (args[0]) {
            Tal_DoMethodA(super(s), id, args);
            s->font = host_InterfaceFont();
        } else {
            closeControl(s, true, false);
            Tal_DoMethodA(super(s), id, args);
            s->font = nullptr;
        }
        return 0;
    case TAL_AskMinMax:
        askLimits(s, reinterpret_cast<const Tal_DrawInfo*>(args[0]));
        return 1;
    case TAL_SetBox: {
        Tal_DoMethodA(super(s), id, args);
        if (host_Window* control = liveControl(s))
            host_SetWindowRect(control, controlRect(s->box, s->controlWindow));
        return 0;
    }
    case TAL_DrawObject:
        draw(s);
        return 1;
    case TAL_HandleIDCMP:
        return handleInput(s, reinterpret_cast<const Tal_InputEvent*>(args[0]));
    case TAL_Hide:
    case TAL_ForceHide:
    case TAL_DisableObject: {
        Tal_Word result = Tal_DoMethodA(super(s), id, args);
        // A hidden or disabled field cannot be typed into.
        const bool hidden = Tal_DoMethod(super(s), TAL_IsHidden) != 0;
        if (hidden || Tal_DoMethod(super(s), TAL_IsDisabled)) closeControl(s, true, !hidden);
        return result;
    }
    default:
        return Tal_DoMethodA(super(s), id, args);
    }
}

ULONG Tal_InitStringEditClass() {
    // A field whose host control lost the focus hears it in its window's thread.
    host_SetTextEntryFocusLossHandler([](ULONG window, ULONG control) {
        Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, control, TAL_TextEditFocusLost, 0, 0);
    });
    return Tal__SetupClass(&stringEditClass, "StringEdit", 0x001E0000, "Root", Tal_NewStringEditClass,
                           Tal_DisposeStringEditClass, Tal_DoStringEditClassMethod, stringEditMethods,
                           sizeof(StringEditInstance));
}

void Tal_CleanupStringEditClass() {
    host_SetTextEntryFocusLossHandler(nullptr);
    Tal__CleanupClass(&stringEditClass);
}
