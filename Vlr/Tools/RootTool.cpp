// RootTool: the base of every tool. A tool is a group that holds its tool button; pressing the button (or
// the tool's key) makes it the current tool, which the image views hand their input to. While current,
// the tool's options panel stands in the tool-options container.
#include "Vlr/Tools/Tools.h"
#include "Tal/Catalogue.h"
#include "ui/ui.h"

#include <mutex>

namespace {

Tal_Class rootToolClass;

// Methods the tool's button sends the tool.
constexpr ULONG kButtonPressed = 0x177100F0;
constexpr ULONG kButtonState = 0x177100FA;

struct RootToolInstance {
    Tal_Object header;
    ULONG options;
    WORD optionsCount; // 0: not shown, -1: shown; further requests nest
    LONG selected;
    ULONG flags;
    ULONG cursor;
};

RootToolInstance* of(void* instance) {
    return static_cast<RootToolInstance*>(instance);
}
ULONG topmost(const RootToolInstance* t) {
    return Tal_GetTopMostObject(t->header.handle);
}
Tal_ImageBase* engine() {
    return Tal_GetImageBase();
}
ULONG imageObject() {
    Tal_ImageBase* base = engine();
    return base && base->image_object ? base->image_object->header.handle : 0;
}

std::mutex keyLock;
ULONG toolKeys[256];

void forgetKeys(ULONG tool) {
    if (!tool) return;
    std::lock_guard guard(keyLock);
    for (ULONG& k : toolKeys)
        if (k == tool) k = 0;
}

Tal_Word showOptions(RootToolInstance* t) {
    Tal_ImageBase* base = engine();
    if (t->options) {
        const WORD was = t->optionsCount--;
        if (was == 0 && base && base->tool_options_container)
            Tal_DoMethod(base->tool_options_container, TAL_AddHead, t->options);
    }
    if (base) Tal_DoMethod(base->tool_options_plugin, TAL_RefreshToolOptions);
    return 1;
}

Tal_Word hideOptions(RootToolInstance* t) {
    if (!t->options) return 1;
    const WORD was = t->optionsCount++;
    if (was == -1) Tal_DoMethod(Tal_GetParentObject(t->options), TAL_RemoveMember, t->options);
    return 1;
}

// Selection: the tool becomes current (the previous one is released) and shows its options.
Tal_Word press(RootToolInstance* t, const Tal_Word* args) {
    Tal_ImageBase* base = engine();
    const ULONG me = topmost(t);
    if (!t->selected) {
        t->selected = 1;
        const ULONG previous = base ? base->current_tool : 0;
        if (previous && previous != me) Tal_DoMethod(previous, TAL_Released);
        if (base) base->current_tool = me;
        t->optionsCount = 0;
        Tal_DoMethod(me, TAL_ShowToolOptions);
    }
    Tal_DoNotify(imageObject(), TAL_CurrentToolChanged, base ? base->current_tool : 0);
    return Tal_DoMethodA(t->header.superObject, TAL_Pressed, args);
}

Tal_Word release(RootToolInstance* t, const Tal_Word* args) {
    if (t->selected) {
        t->selected = 0;
        t->optionsCount = -1;
        Tal_DoMethod(topmost(t), TAL_HideToolOptions);
    }
    return Tal_DoMethodA(t->header.superObject, TAL_Released, args);
}

// A tool group holds one member: a new one replaces (and disposes) the one there.
Tal_Word addMember(RootToolInstance* t, ULONG member) {
    if (!member) return 0;
    if (const ULONG old = ULONG(Tal_DoMethod(t->header.superObject, TAL_GetFirstGroupObject));
        old && old != member) {
        Tal_DoMethod(t->header.superObject, TAL_RemoveMember, old);
        Tal_DisposeObject(old);
    }
    return Tal_DoMethod(t->header.superObject, TAL_AddTail, member);
}

ULONG makeButton(RootToolInstance* t, const char* const* pictures, ULONG tooltip) {
    const ULONG button = Tal_CreateObject("ToolButton");
    if (!button) return 0;
    for (const char* const* name = pictures; name && *name; name++) {
        const ULONG picture = Tal_CreateObject("BitMap", TAL_LoadBitMap, *name);
        if (!picture || !Tal_DoMethod(button, TAL_AddTail, picture)) {
            Tal_DisposeObject(picture);
            Tal_DisposeObject(button);
            return 0;
        }
    }
    if (tooltip) Tal_DoMethod(button, TAL_SetToolTip, Tal_GetCatalogueText(tooltip));
    const ULONG me = t->header.handle;
    Tal_AddNotify(button, TAL_Pressed, TAL_AnyValue, me, 1, kButtonPressed);
    Tal_AddNotify(button, TAL_SetToolButtonState, TAL_AnyValue, me, 2, kButtonState, TAL_TriggerValue);
    if (!addMember(t, button)) {
        Tal_DisposeObject(button);
        return 0;
    }
    return button;
}

} // namespace

void* Tal_NewRootToolClass(const TagItem*) {
    auto* t = of(Tal_AllocObjectMem(&rootToolClass));
    if (!t) return nullptr;
    t->header.superObject = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    if (!t->header.superObject) {
        Tal_FreeObjectMem(t);
        return nullptr;
    }
    return t;
}

void Tal_DisposeRootToolClass(void* instance) {
    auto* t = of(instance);
    t->optionsCount = -1;
    hideOptions(t);
    const ULONG me = topmost(t);
    for (ULONG h : {t->header.handle, t->header.outerObject, me}) forgetKeys(h);
    if (Tal_ImageBase* base = engine()) {
        for (ULONG* slot : {&base->current_tool, &base->default_tool})
            if (*slot && (*slot == me || *slot == t->header.handle || *slot == t->header.outerObject))
                *slot = 0;
    }
    Tal_DisposeObject(t->header.superObject);
    Tal_FreeObjectMem(t);
}

Tal_Word Tal_DoRootToolClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* t = of(instance);
    switch (id) {
    case TAL_GetToolFlags:
        return t->flags;
    case TAL_SetToolFlags:
        t->flags = ULONG(args[0]);
        return 1;
    case TAL_HandleToolInput:
        return 2;
    case TAL_SetToolOptions:
        t->options = ULONG(args[0]);
        return 1;
    case TAL_GetToolOptions:
        return t->options;
    case TAL_ShowToolOptions:
        return showOptions(t);
    case TAL_HideToolOptions:
        return hideOptions(t);
    case TAL_SetToolCursor:
        t->cursor = ULONG(args[0]);
        return 1;
    case TAL_GetToolCursor:
        return t->cursor;
    case TAL_ToolOwnsAction:
        return 0;
    case TAL_MakeToolButton:
        return makeButton(t, reinterpret_cast<const char* const*>(args[0]), ULONG(args[1]));
    case TAL_Pressed:
        return press(t, args);
    case TAL_Released:
        return release(t, args);
    case kButtonPressed:
        return Tal_DoMethod(topmost(t), TAL_Pressed);
    case kButtonState:
        return Tal_DoMethod(topmost(t), TAL_SetToolButtonState, args[0]);
    case TAL_SetToolButtonState: // which variant the button shows: the tool's own business
        return 1;
    case TAL_AddTail:
        return addMember(t, ULONG(args[0]));
    default:
        return Tal_DoMethodA(t->header.superObject, id, args);
    }
}

ULONG Tal_InitRootToolClass() {
    return Tal__SetupClass(&rootToolClass, "RootTool", 0x17710000, "Group", Tal_NewRootToolClass,
                           Tal_DisposeRootToolClass, Tal_DoRootToolClassMethod, nullptr,
                           sizeof(RootToolInstance));
}

void Tal_CleanupRootToolClass() {
    Tal__CleanupClass(&rootToolClass);
}

// ---------------------------------------------------------------------------------------------------
// Tool keys.

ULONG Tal_SetToolKey(UBYTE key, ULONG tool) {
    std::lock_guard guard(keyLock);
    toolKeys[key] = tool;
    return 1;
}

ULONG Tal_ToolForKey(UBYTE key) {
    std::lock_guard guard(keyLock);
    return toolKeys[key];
}

// ---------------------------------------------------------------------------------------------------
// What gestures share.

ULONG Tal_ToolView(Tal_Image* image) {
    if (!image || !Tal_LockImageA(image, TAL_LOCK_READ, 0)) return 0;
    const ULONG view = Tal_GetImageViewHandle(image->first_view);
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
    return view;
}

void Tal_ToolGestureRunning(LONG running) {
    Tal_DoNotify(imageObject(), TAL_GestureRunning, running);
}

Tal_ToolPreview::Tal_ToolPreview(ULONG view) : view_(view) {
    Tal_DrawInfo* di = view ? Tal_LockDrawInfo(view) : nullptr;
    if (!di) return;
    if (!di->rastPort) {
        Tal_UnlockDrawInfo(view_);
        return;
    }
    port_ = di->rastPort;
    pen_ = port_->FgPen;
    mode_ = GetDrMd(port_);
    SetDrMd(port_, COMPLEMENT);
    SetAPen(port_, 1);
}

Tal_ToolPreview::~Tal_ToolPreview() {
    if (!port_) return;
    SetDrMd(port_, mode_);
    SetAPen(port_, pen_);
    Tal_UnlockDrawInfo(view_);
}
