// Space: room between gadgets, of a fixed or a free size, or a separator line through its middle.
#include "ui/Button.h"
#include "ui/Window.h"

#include <algorithm>

namespace {

Tal_Class spaceClass;

constexpr WORD kMaxSize = 1280;

struct SpaceInstance {
    Tal_Object header;
    WORD fixedWidth, fixedHeight; // 0 = free, -1 = no room at all
    UBYTE separator;
    UBYTE minWidth, minHeight; // 0 counts as 1
};

SpaceInstance* of(void* instance) {
    return static_cast<SpaceInstance*>(instance);
}
Tal_Box* boxOf(SpaceInstance* s) {
    return reinterpret_cast<Tal_Box*>(Tal_DoMethod(s->header.superObject, TAL_GetBox));
}

// A fixed size replaces minimum, natural and maximum size on its axis.
void applyFixed(WORD fixed, WORD* natural, WORD* minimum, WORD* maximum) {
    if (fixed == 0) return;
    const WORD size = fixed < 0 ? 0 : fixed;
    *natural = *minimum = *maximum = size;
}

void askLimits(SpaceInstance* s) {
    Tal_Box* b = boxOf(s);
    b->minWidth = b->width = WORD(std::max<int>(s->minWidth, 1));
    b->minHeight = b->height = WORD(std::max<int>(s->minHeight, 1));
    b->maxWidth = b->maxHeight = kMaxSize;
    applyFixed(s->fixedWidth, &b->width, &b->minWidth, &b->maxWidth);
    applyFixed(s->fixedHeight, &b->height, &b->minHeight, &b->maxHeight);
}

// Only a separator draws: a horizontal line when its height is fixed, else a vertical one.
void draw(SpaceInstance* s) {
    Tal_Box* b = boxOf(s);
    if (!s->separator || b->width <= 0 || b->height <= 0) return;
    const ULONG self = s->header.handle;
    Tal_DrawInfo* di = Tal_LockDrawInfo(self);
    if (!di) return;
    Tal_EraseObjectBackground(self, di);
    RastPort* rp = di->rastPort;
    SetAPen(rp, 1);
    SetDrMd(rp, JAM2);
    if (s->fixedHeight != 0) {
        const LONG y = b->y + b->height / 2;
        RectFill(rp, b->x, y, b->x + b->width - 1, y);
    } else {
        const LONG x = b->x + b->width / 2;
        RectFill(rp, x, b->y, x, b->y + b->height - 1);
    }
    Tal_UnlockDrawInfo(self);
}

} // namespace

void* Tal_NewSpaceClass(const TagItem*) {
    auto* s = static_cast<SpaceInstance*>(Tal_AllocObjectMem(&spaceClass));
    if (!s) return nullptr;
    s->header.superObject = Tal_CreateObject("Root");
    if (!s->header.superObject) {
        Tal_FreeObjectMem(s);
        return nullptr;
    }
    return s;
}

void Tal_DisposeSpaceClass(void* instance) {
    auto* s = of(instance);
    Tal_DisposeObject(s->header.superObject);
    Tal_FreeObjectMem(s);
}

Tal_Word Tal_DoSpaceClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* s = of(instance);
    switch (id) {
    case TAL_SetSpaceFixedWidth:
        s->fixedWidth = WORD(args[0]);
        return 1;
    case TAL_SetSpaceFixedHeight:
        s->fixedHeight = WORD(args[0]);
        return 1;
    case TAL_SetSpaceSize:
        s->fixedWidth = s->fixedHeight = WORD(args[0]);
        return 1;
    case TAL_SetSpaceSeparator:
        s->separator = args[0] ? 1 : 0;
        return 1;
    case TAL_GetSpaceSeparator:
        return s->separator;
    case TAL_SetSpaceMinWidth:
        s->minWidth = UBYTE(args[0]);
        return 1;
    case TAL_SetSpaceMinHeight:
        s->minHeight = UBYTE(args[0]);
        return 1;
    case TAL_AskMinMax:
        askLimits(s);
        return 1;
    case TAL_DrawObject:
        draw(s);
        return 1;
    default:
        return Tal_DoMethodA(s->header.superObject, id, args);
    }
}

ULONG Tal_InitSpaceClass() {
    return Tal__SetupClass(&spaceClass, "Space", 0x000E0000, "Root", Tal_NewSpaceClass, Tal_DisposeSpaceClass,
                           Tal_DoSpaceClassMethod, nullptr, sizeof(SpaceInstance));
}

void Tal_CleanupSpaceClass() {
    Tal__CleanupClass(&spaceClass);
}
