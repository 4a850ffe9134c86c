// ProgressBar: a label above a framed bar that fills from the left as the value nears the total. Its
// value is usually set from a worker thread; the bar is then repainted by the window's event thread.
#include "ui/Slider.h"
#include "ui/Button.h"
#include "ui/Group.h"
#include "ui/Window.h"

#include <algorithm>
#include <atomic>

namespace {

Tal_Class progressBarClass;

constexpr LONG kBarHeight = 10;
constexpr LONG kBarMinWidth = 40;

struct ProgressBarInstance {
    Tal_Object header;
    std::atomic<ULONG> label; // the label Text; 0 once removed
    ULONG bar;                // the bar Space
    std::atomic<LONG> value;
    std::atomic<LONG> total; // at least 1
};

ProgressBarInstance* of(void* instance) {
    return static_cast<ProgressBarInstance*>(instance);
}

// The filled part: value × width ÷ total, within the bar (nothing for a value below 1).
LONG filledWidth(LONG value, LONG total, LONG width) {
    if (value <= 0 || width <= 0) return 0;
    return LONG(std::min<int64_t>(int64_t(value) * width / std::max<LONG>(total, 1), width));
}

// Paints the bar; from another thread the request goes to the window's event thread (TAL_DrawArea).
void paintBar(ProgressBarInstance* p) {
    const ULONG self = p->header.handle;
    const auto* b = reinterpret_cast<const Tal_Box*>(Tal_DoMethod(p->bar, TAL_GetBox));
    if (!b) return;
    const LONG x = b->x, y = b->y, w = b->width, h = b->height;
    Tal_DrawInfo* di = Tal_LockDrawInfoArea(self, x, y, w, h);
    if (!di) return;
    if (w > 0 && h > 0 && di->rastPort) {
        RastPort* rp = di->rastPort;
        const ULONG fg = rp->FgPen;
        const UBYTE mode = rp->DrawMode;
        SetDrMd(rp, JAM2);
        const LONG filled = filledWidth(p->value, p->total, w);
        SetAPen(rp, 3);
        if (filled > 0) RectFill(rp, x, y, x + filled - 1, y + h - 1);
        SetAPen(rp, 0);
        if (filled < w) RectFill(rp, x + filled, y, x + w - 1, y + h - 1);
        SetAPen(rp, fg);
        SetDrMd(rp, mode);
    }
    Tal_UnlockDrawInfo(self);
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry progressBarMethods[] = {
    ENTRY(TAL_SetProgressBarLabel, "Tal_SetProgressBarLabel", TAL_METHOD_SETTER, TAL_GetProgressBarLabel,
          "%s", nullptr),
    ENTRY(TAL_GetProgressBarLabel, "Tal_GetProgressBarLabel", TAL_METHOD_GETTER, TAL_SetProgressBarLabel,
          nullptr, "%s"),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

void* Tal_NewProgressBarClass(const TagItem*) {
    auto* p = of(Tal_AllocObjectMem(&progressBarClass));
    if (!p) return nullptr;
    new (&p->label) std::atomic<ULONG>(0);
    new (&p->value) std::atomic<LONG>(0);
    new (&p->total) std::atomic<LONG>(100);
    const ULONG group =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 2);
    p->header.superObject = group;
    ULONG frame = 0;
    if (group) {
        p->label = Tal_AddObject(group, "Text", TAL_SetLabel, "");
        frame = Tal_AddObject(group, "Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupFrame, 2);
        if (frame)
            p->bar = Tal_AddObject(frame, "Space", TAL_SetSpaceFixedHeight, kBarHeight, TAL_SetSpaceMinWidth,
                                   kBarMinWidth);
    }
    if (!group || !p->label || !frame || !p->bar) {
        Tal_DisposeObject(group); // and the parts it holds
        Tal_FreeObjectMem(p);
        return nullptr;
    }
    return p;
}

void Tal_DisposeProgressBarClass(void* instance) {
    auto* p = of(instance);
    Tal_DisposeObject(p->header.superObject);
    Tal_FreeObjectMem(p);
}

Tal_Word Tal_DoProgressBarClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* p = of(instance);
    const LONG arg = args ? LONG(int32_t(args[0])) : 0;
    switch (id) {
    case TAL_SetProgressValue:
        if (p->value.exchange(arg) != arg) paintBar(p);
        return 1;
    case TAL_GetProgressValue:
        return Tal_ToWord(p->value.load());
    case TAL_SetProgressTotal:
        // An empty total would divide by zero: it counts as 1.
        p->total = std::max<LONG>(arg, 1);
        paintBar(p);
        return 1;
    case TAL_GetProgressTotal:
        return Tal_ToWord(p->total.load());
    case TAL_SetProgressBarLabel: {
        const ULONG label = p->label;
        if (!label) return 0;
        Tal_DoMethodA(label, TAL_SetLabel, args);
        Tal_DoMethod(label, TAL_DrawObject);
        return 1;
    }
    case TAL_GetProgressBarLabel: {
        const ULONG label = p->label;
        return label ? Tal_DoMethod(label, TAL_GetLabel) : 0;
    }
    case TAL_RemoveProgressBarLabel: {
        const ULONG label = p->label.exchange(0);
        if (label) {
            Tal_DoMethod(p->header.superObject, TAL_RemoveMember, label);
            Tal_DisposeObject(label);
        }
        return 1;
    }
    case TAL_SetSpaceFixedWidth:
        return Tal_DoMethodA(p->bar, id, args);
    case TAL_DrawObject: {
        const Tal_Word result = Tal_DoMethodA(p->header.superObject, id, args);
        paintBar(p);
        return result;
    }
    case TAL_DrawArea:
        paintBar(p);
        return 1;
    case TAL_StoreChildren:
        return 1; // its parts are its own: the attributes make it again
    default:
        return Tal_DoMethodA(p->header.superObject, id, args);
    }
}

ULONG Tal_InitProgressBarClass() {
    return Tal__SetupClass(&progressBarClass, "ProgressBar", 0x00480000, "Group", Tal_NewProgressBarClass,
                           Tal_DisposeProgressBarClass, Tal_DoProgressBarClassMethod, progressBarMethods,
                           sizeof(ProgressBarInstance));
}

void Tal_CleanupProgressBarClass() {
    Tal__CleanupClass(&progressBarClass);
}
