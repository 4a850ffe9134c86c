// Text: a label. It shows its label, or a number formatted with the label as the format, centred line by
// line, as a word-wrapped paragraph, or turned through 270 degrees. Also home of the bounded number
// formatter every label and value gadget uses.
#include "ui/Button.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

Tal_Class textClass;

constexpr size_t kNumberSize = 16;
constexpr LONG kMaxSize = 1280;
constexpr LONG kWrappedMinWidth = 8;

struct TextInstance {
    Tal_Object header;
    LONG number;
    LONG lineCount;
    UBYTE selected;
    UBYTE numberMode;
    ULONG mode;
    UBYTE rotation; // quarter turns
    char formatted[kNumberSize];
    LONG cachedWidth;  // of the widest line; -1 = not measured
    LONG laidOutWidth; // the width a wrapped text was last laid out at; 0 = never
    LONG linesAsked;   // the lines a wrapped text asked room for
    UBYTE relayouts;   // layouts asked for in a row without the lines settling
};

// Performed in the window's thread: the window's layout once more, now that a wrapped text knows how
// many lines its width gives.
constexpr ULONG kRelayoutWindow = 0x000400F0;
constexpr UBYTE kMaxRelayouts = 2;

TextInstance* of(void* instance) {
    return static_cast<TextInstance*>(instance);
}
ULONG super(TextInstance* t) {
    return t->header.superObject;
}
ULONG self(TextInstance* t) {
    return t->header.handle;
}
Tal_Box* boxOf(TextInstance* t) {
    return reinterpret_cast<Tal_Box*>(Tal_DoMethod(super(t), TAL_GetBox));
}

const char* label(TextInstance* t) {
    auto* text = reinterpret_cast<const char*>(Tal_DoMethod(super(t), TAL_GetLabel));
    return text ? text : "";
}

// What the text shows: the formatted number, or the label.
std::string_view shown(TextInstance* t) {
    return t->numberMode ? std::string_view(t->formatted) : std::string_view(label(t));
}

void formatNumber(TextInstance* t) {
    const char* format = label(t);
    Tal_FormatNumber(t->formatted, sizeof t->formatted, *format ? format : "%ld", t->number);
}

LONG textWidth(std::string_view s) {
    return host_FontTextWidth(host_InterfaceFont(), s.data(), ULONG(s.size()));
}

LONG fontHeightOf(Tal_DrawInfo* di) {
    if (di && di->fontHeight > 0) return di->fontHeight;
    return host_FontHeight(host_InterfaceFont());
}

LONG measuringFontHeight(TextInstance* t) {
    Tal_DrawInfo* di = Tal_LockDrawInfoForInspection(self(t));
    LONG height = fontHeightOf(di);
    if (di) Tal_UnlockDrawInfoForInspection(self(t));
    return height;
}

// Lines separated by line feeds; a carriage return before a line feed is dropped.
std::vector<std::string_view> splitLines(std::string_view s) {
    std::vector<std::string_view> lines;
    for (;;) {
        size_t end = s.find('\n');
        std::string_view line = s.substr(0, end);
        if (!line.empty() && line.back() == '\r' && end != s.npos) line.remove_suffix(1);
        lines.push_back(line);
        if (end == s.npos) break;
        s.remove_prefix(end + 1);
    }
    return lines;
}

// A paragraph broken into lines that fit the width: each break goes back to the last blank of the piece
// that fits (the blank is dropped); a piece without a blank is cut where it stops fitting. Every line
// takes at least one character, so that a character wider than the width still moves on.
std::vector<std::string_view> wrapLines(std::string_view s, LONG width) {
    std::vector<std::string_view> out;
    RastPort rp;
    InitRastPort(&rp);
    for (std::string_view paragraph : splitLines(s)) {
        if (paragraph.empty()) out.push_back(paragraph);
        while (!paragraph.empty()) {
            size_t fit = TextFit(&rp, paragraph.data(), ULONG(paragraph.size()), nullptr, nullptr, 1,
                                 ULONG(std::max<LONG>(width, 0)), 0xFFFF);
            fit = std::max<size_t>(fit, 1);
            size_t take = fit, skip = 0;
            if (fit < paragraph.size()) {
                if (paragraph[fit] == ' ') {
                    skip = 1;
                } else if (size_t blank = paragraph.substr(0, fit).rfind(' ');
                           blank != paragraph.npos && blank > 0) {
                    take = blank;
                    skip = 1;
                }
            }
            out.push_back(paragraph.substr(0, take));
            paragraph.remove_prefix(take + skip);
        }
    }
    return out;
}

LONG widestLine(TextInstance* t) {
    if (t->cachedWidth < 0) {
        LONG widest = 0;
        for (std::string_view line : splitLines(shown(t))) widest = std::max(widest, textWidth(line));
        t->cachedWidth = widest;
    }
    return t->cachedWidth;
}

void forget(TextInstance* t) {
    t->cachedWidth = -1;
    if (t->numberMode) formatNumber(t);
}

void redraw(TextInstance* t) {
    Tal_DoMethod(Tal_GetTopMostObject(self(t)), TAL_DrawObject);
}

// ---------------------------------------------------------------------------------------------------
// Limits and layout.

void askLimits(TextInstance* t) {
    Tal_Box* b = boxOf(t);
    const LONG fh = measuringFontHeight(t);
    const LONG widest = std::min(widestLine(t), kMaxSize);
    if (t->mode == TAL_TEXT_WRAPPED) {
        // Lines at the width of the last layout: a paragraph is as tall as it was made narrow.
        const std::string_view text = shown(t);
        const LONG lines = t->laidOutWidth > 0 ? LONG(wrapLines(text, t->laidOutWidth).size())
                                               : LONG(splitLines(text).size());
        t->lineCount = t->linesAsked = std::max<LONG>(lines, 1);
        const LONG h = std::min(t->lineCount * fh, kMaxSize);
        b->minWidth = kWrappedMinWidth;
        b->minHeight = WORD(h);
        b->width = WORD(std::max(widest, kWrappedMinWidth));
        b->height = WORD(h);
        b->maxWidth = b->maxHeight = kMaxSize;
        return;
    }
    t->lineCount = LONG(splitLines(shown(t)).size());
    LONG w = widest, h = std::min(t->lineCount * fh, kMaxSize);
    if (t->rotation == 1 || t->rotation == 3) {
        std::swap(w, h);
        b->minWidth = b->width = b->maxWidth = WORD(w);
        b->minHeight = b->height = b->maxHeight = WORD(h);
        return;
    }
    b->minWidth = b->width = WORD(w);
    b->minHeight = b->height = b->maxHeight = WORD(h);
    b->maxWidth = kMaxSize;
}

void layout(TextInstance* t, const Tal_Word* args) {
    Tal_DoMethodA(super(t), TAL_SetBox, args);
    Tal_Box* b = boxOf(t);
    t->laidOutWidth = b->width;
    if (t->mode != TAL_TEXT_WRAPPED || b->width <= 0) return;
    t->lineCount = std::max<LONG>(LONG(wrapLines(shown(t), b->width).size()), 1);
    // The room was asked for before the width was known: when the lines differ, the window lays out
    // again; a few times in a row at most, in case the room never settles.
    if (t->lineCount == t->linesAsked) {
        t->relayouts = 0;
        return;
    }
    if (t->relayouts >= kMaxRelayouts) return;
    if (ULONG window = Tal_SearchHierachyForClassId(self(t), 0x00090000)) {
        t->relayouts++;
        Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, self(t), kRelayoutWindow, window, 0);
    }
}

// ---------------------------------------------------------------------------------------------------
// Drawing.

void drawLine(RastPort* rp, LONG x, LONG y, std::string_view line) {
    if (line.empty()) return;
    Move(rp, x, y);
    Text(rp, line.data(), ULONG(line.size()));
}

void draw(TextInstance* t) {
    Tal_Box* b = boxOf(t);
    if (b->width <= 0 || b->height <= 0) return;
    Tal_DrawInfo* di = Tal_LockDrawInfo(self(t));
    if (!di) return;
    RastPort* rp = di->rastPort;
    const LONG fh = fontHeightOf(di);
    const bool deep = host_DisplayDepth() > 8;
    ULONG pen = 1;
    if (t->selected) {
        if (deep) {
            Tal_RootInstance* root = Tal__GetRootInstance(self(t));
            ULONG colour =
                root && root->colour3 != TAL_NO_COLOUR ? root->colour3 : Tal_GetGlobalData()->highlightColour;
            FillPixelArray(rp, b->x, b->y, b->width, b->height, colour & 0x00FFFFFF);
        } else if (t->mode == TAL_TEXT_CENTRED) {
            SetAPen(rp, 3);
            SetDrMd(rp, JAM2);
            RectFill(rp, b->x, b->y, b->x + b->width - 1, b->y + b->height - 1);
            pen = 2;
        }
    } else if (t->mode == TAL_TEXT_CENTRED) {
        Tal_EraseObjectBackground(self(t), di);
    }
    if (Tal_DoMethod(super(t), TAL_IsDisabled)) pen = di->darkGreyPen;
    SetABPenDrMd(rp, pen, 0, JAM1);

    std::string_view text = shown(t);
    if (t->rotation != 0) {
        // Turned lines side by side; only a quarter turn of 270 degrees draws anything.
        std::vector<std::string_view> lines = splitLines(text);
        LONG x = b->x + (b->width - LONG(lines.size()) * fh) / 2;
        for (std::string_view line : lines) {
            Move(rp, x, b->y + (b->height - textWidth(line)) / 2);
            Tal_DrawRotatedText(rp, line.data(), ULONG(line.size()), LONG(t->rotation) * 90);
            x += fh;
        }
    } else if (t->mode == TAL_TEXT_WRAPPED) {
        std::vector<std::string_view> lines = wrapLines(text, b->width);
        t->lineCount = std::max<LONG>(LONG(lines.size()), 1);
        LONG y = b->y;
        for (std::string_view line : lines) {
            drawLine(rp, b->x, y, line);
            y += fh;
        }
    } else {
        std::vector<std::string_view> lines = splitLines(text);
        LONG y = b->y + (b->height - LONG(lines.size()) * fh) / 2;
        if (lines.size() == 1) {
            drawLine(rp, b->x + (b->width - textWidth(lines[0])) / 2, y, lines[0]);
        } else {
            const LONG x = b->x + b->width / 2 - widestLine(t) / 2;
            for (std::string_view line : lines) {
                drawLine(rp, x, y, line);
                y += fh;
            }
        }
    }
    Tal_UnlockDrawInfo(self(t));
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry textMethods[] = {
    ENTRY(TAL_SetTextMode, "Tal_SetTextMode", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

// ---------------------------------------------------------------------------------------------------
// The bounded formatter.

size_t Tal_FormatNumber(char* out, size_t size, const char* format, LONG value) {
    if (!out || size == 0) return 0;
    std::string text;
    bool converted = false;
    for (const char* p = format ? format : ""; *p;) {
        if (p[0] != '%') {
            text += *p++;
            continue;
        }
        if (p[1] == '%') {
            text += '%';
            p += 2;
            continue;
        }
        // A conversion: flags, width, precision, length letters, then the kind.
        const char* q = p + 1;
        std::string flags;
        while (*q && std::string_view("-+ 0#").find(*q) != std::string_view::npos) {
            if (flags.find(*q) == std::string::npos) flags += *q;
            q++;
        }
        int width = -1, precision = -1;
        if (*q >= '1' && *q <= '9')
            for (width = 0; *q >= '0' && *q <= '9'; q++) width = std::min(width * 10 + (*q - '0'), 64);
        if (*q == '.')
            for (precision = 0, q++; *q >= '0' && *q <= '9'; q++)
                precision = std::min(precision * 10 + (*q - '0'), 64);
        for (int n = 0; n < 2 && (*q == 'l' || *q == 'h'); n++) q++;
        const char kind = *q;
        if (converted || !kind || std::string_view("diuxXo").find(kind) == std::string_view::npos) {
            text += *p++; // not one the formatter takes: the '%' stands for itself
            continue;
        }
        const bool isSigned = kind == 'd' || kind == 'i';
        if (isSigned && flags.find('#') != std::string::npos) flags.erase(flags.find('#'), 1);
        std::string conversion = "%" + flags;
        if (width >= 0) conversion += std::to_string(width);
        if (precision >= 0) conversion += "." + std::to_string(precision);
        conversion += "ll";
        conversion += kind;
        char number[160];
        if (isSigned)
            std::snprintf(number, sizeof number, conversion.c_str(), static_cast<long long>(value));
        else
            std::snprintf(number, sizeof number, conversion.c_str(),
                          static_cast<unsigned long long>(static_cast<ULONG>(value)));
        text += number;
        converted = true;
        p = q + 1;
    }
    const size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = 0;
    return n;
}

// ---------------------------------------------------------------------------------------------------

void* Tal_NewTextClass(const TagItem*) {
    auto* t = static_cast<TextInstance*>(Tal_AllocObjectMem(&textClass));
    if (!t) return nullptr;
    t->header.superObject = Tal_CreateObject("Root");
    if (!t->header.superObject) {
        Tal_FreeObjectMem(t);
        return nullptr;
    }
    t->lineCount = 1;
    t->mode = TAL_TEXT_CENTRED;
    t->cachedWidth = -1;
    return t;
}

void Tal_DisposeTextClass(void* instance) {
    auto* t = of(instance);
    Tal_DisposeObject(t->header.superObject);
    Tal_FreeObjectMem(t);
}

Tal_Word Tal_DoTextClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* t = of(instance);
    switch (id) {
    case TAL_SetLabel: {
        Tal_Word result = Tal_DoMethodA(super(t), id, args);
        forget(t);
        redraw(t);
        return result;
    }
    case TAL_SetTextNumber:
        t->number = LONG(args[0]);
        t->numberMode = 1;
        forget(t);
        redraw(t);
        return 1;
    case TAL_GetTextNumber:
        return Tal_Word(intptr_t(t->number));
    case TAL_SetTextMode:
        t->mode = ULONG(args[0]);
        t->cachedWidth = -1;
        return 1;
    case TAL_GetTextMode:
        return t->mode;
    case TAL_SetTextRotation:
        t->rotation = UBYTE(((LONG(args[0]) / 90) % 4 + 4) % 4);
        return 1;
    case TAL_GetTextRotation:
        return Tal_Word(t->rotation) * 90;
    case TAL_Pressed:
    case TAL_Released:
    case TAL_GadgetEvent3:
    case TAL_GadgetEvent4:
        t->selected = id == TAL_Pressed || id == TAL_GadgetEvent3;
        redraw(t);
        return Tal_DoMethodA(super(t), id, args);
    case TAL_AskMinMax:
        askLimits(t);
        return 1;
    case TAL_SetBox:
        layout(t, args);
        return 0;
    case TAL_DrawObject:
        draw(t);
        return 1;
    case kRelayoutWindow:
        Tal_RelayoutAndRedrawObject(ULONG(args[0]));
        return 1;
    default:
        return Tal_DoMethodA(super(t), id, args);
    }
}

ULONG Tal_InitTextClass() {
    return Tal__SetupClass(&textClass, "Text", 0x00040000, "Root", Tal_NewTextClass, Tal_DisposeTextClass,
                           Tal_DoTextClassMethod, textMethods, sizeof(TextInstance));
}

void Tal_CleanupTextClass() {
    Tal__CleanupClass(&textClass);
}
