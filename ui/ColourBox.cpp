// ColourBox: a rectangle filled with one colour, of a free or a fixed size.
#include "ui/Colour.h"
#include "ui/Window.h"

#include <algorithm>
#include <atomic>

namespace {

Tal_Class colourBoxClass;

constexpr WORD kMinSize = 4, kNaturalSize = 16, kMaxSize = 1280;

struct ColourBoxInstance {
    Tal_Object header;
    std::atomic<ULONG> colour;                 // 0x00BBGGRR
    std::atomic<WORD> fixedWidth, fixedHeight; // 0: free
};

ColourBoxInstance* of(void* instance) {
    return static_cast<ColourBoxInstance*>(instance);
}

Tal_Box* boxOf(ColourBoxInstance* c) {
    return reinterpret_cast<Tal_Box*>(Tal_DoMethod(c->header.superObject, TAL_GetBox));
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

void draw(ColourBoxInstance* c) {
    const ULONG self = c->header.handle;
    Tal_DrawInfo* di = Tal_LockDrawInfo(self);
    if (!di) return;
    const Tal_Box* b = boxOf(c);
    if (b->width > 0 && b->height > 0)
        FillPixelArray(di->rastPort, b->x, b->y, b->width, b->height, c->colour);
    Tal_UnlockDrawInfo(self);
}

// Stores the colour, tells the listeners of `attribute` the value, and shows it.
void change(ColourBoxInstance* c, ULONG colour, ULONG attribute, ULONG told) {
    c->colour = colour & 0x00FFFFFF;
    Tal_DoNotify(Tal_GetTopMostObject(c->header.handle), attribute, told);
    draw(c);
}

void changeChannel(ColourBoxInstance* c, ULONG attribute, int shift, ULONG v) {
    v &= 0xFF;
    ULONG colour = c->colour, wanted;
    do {
        wanted = (colour & ~(0xFFu << shift)) | v << shift;
    } while (!c->colour.compare_exchange_weak(colour, wanted));
    Tal_DoNotify(Tal_GetTopMostObject(c->header.handle), attribute, v);
    draw(c);
}

} // namespace

void* Tal_NewColourBoxClass(const TagItem*) {
    auto* c = of(Tal_AllocObjectMem(&colourBoxClass));
    if (!c) return nullptr;
    new (&c->colour) std::atomic<ULONG>(0);
    new (&c->fixedWidth) std::atomic<WORD>(0);
    new (&c->fixedHeight) std::atomic<WORD>(0);
    c->header.superObject = Tal_CreateObject("Root");
    if (!c->header.superObject) {
        Tal_FreeObjectMem(c);
        return nullptr;
    }
    return c;
}

void Tal_DisposeColourBoxClass(void* instance) {
    auto* c = of(instance);
    Tal_DisposeObject(c->header.superObject);
    Tal_FreeObjectMem(c);
}

Tal_Word Tal_DoColourBoxClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* c = of(instance);
    const ULONG arg = args ? ULONG(args[0]) : 0;
    switch (id) {
    case TAL_SetColourBoxRed:
        changeChannel(c, id, 0, arg);
        return 1;
    case TAL_SetColourBoxGreen:
        changeChannel(c, id, 8, arg);
        return 1;
    case TAL_SetColourBoxBlue:
        changeChannel(c, id, 16, arg);
        return 1;
    case TAL_GetColourBoxRed:
        return c->colour & 0xFF;
    case TAL_GetColourBoxGreen:
        return (c->colour >> 8) & 0xFF;
    case TAL_GetColourBoxBlue:
        return (c->colour >> 16) & 0xFF;
    case TAL_SetColourBoxColour:
        change(c, arg, id, arg & 0x00FFFFFF);
        return 1;
    case TAL_SetColourBoxFixedWidth:
        c->fixedWidth = WORD(std::min<ULONG>(arg, kMaxSize));
        return 1;
    case TAL_GetColourBoxFixedWidth:
        return ULONG(c->fixedWidth);
    case TAL_SetColourBoxFixedHeight:
        c->fixedHeight = WORD(std::min<ULONG>(arg, kMaxSize));
        return 1;
    case TAL_GetColourBoxFixedHeight:
        return ULONG(c->fixedHeight);
    case TAL_AskMinMax: {
        Tal_Box* b = boxOf(c);
        limitsOn(c->fixedWidth, &b->width, &b->minWidth, &b->maxWidth);
        limitsOn(c->fixedHeight, &b->height, &b->minHeight, &b->maxHeight);
        return 1;
    }
    case TAL_DrawObject:
        draw(c);
        return 1;
    default:
        return Tal_DoMethodA(c->header.superObject, id, args);
    }
}

ULONG Tal_InitColourBoxClass() {
    return Tal__SetupClass(&colourBoxClass, "ColourBox", 0x00170000, "Root", Tal_NewColourBoxClass,
                           Tal_DisposeColourBoxClass, Tal_DoColourBoxClassMethod, nullptr,
                           sizeof(ColourBoxInstance));
}

void Tal_CleanupColourBoxClass() {
    Tal__CleanupClass(&colourBoxClass);
}
