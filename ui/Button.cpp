// Button: a group that can be pressed with the stylus or its shortcut key: a plain push button that
// activates on the release, an immediate one that activates on the press, a toggle, a tab with a pair
// of frames, or a flat button that lights up while the pointer is over it.
#include "ui/Button.h"
#include "ui/Window.h"

namespace {

Tal_Class buttonClass;

struct ButtonInstance {
    Tal_Object header;
    ULONG shortcut;
    UBYTE hover;
    UBYTE selected;
    UBYTE tracking; // the select button went down on the button and is still held
    UBYTE immediate;
    UBYTE noPressLook;
    UBYTE toggle;
    UBYTE framePair;
    UBYTE upFrame;
    UBYTE rollover;
    // The group's look as set through the button, and the background colour its owner gave it: the
    // members (labels, shapes) erase to the face of the frame that is drawn.
    UBYTE frame, pressedFrame, selectedFrame;
    UBYTE groupPressed, groupSelected;
    ULONG ownColour1;
};

ButtonInstance* of(void* instance) {
    return static_cast<ButtonInstance*>(instance);
}
ULONG super(ButtonInstance* b) {
    return b->header.superObject;
}
ULONG self(ButtonInstance* b) {
    return b->header.handle;
}
ULONG topmost(ButtonInstance* b) {
    return Tal_GetTopMostObject(b->header.handle);
}

void redraw(ButtonInstance* b) {
    Tal_DoMethod(topmost(b), TAL_DrawObject);
}

void notify(ButtonInstance* b, ULONG id) {
    ULONG top = topmost(b);
    Tal_DoNotify(top, id, top);
}

bool disabled(ButtonInstance* b) {
    return Tal_DoMethod(super(b), TAL_IsDisabled) != 0;
}

void setFrame(ButtonInstance* b, UBYTE frame) {
    b->frame = frame;
    Tal_DoMethod(super(b), TAL_SetGroupFrame, frame);
}
void setPressedFrame(ButtonInstance* b, UBYTE frame) {
    b->pressedFrame = frame;
    Tal_DoMethod(super(b), TAL_SetPressedFrame, frame);
}
void setSelectedFrame(ButtonInstance* b, UBYTE frame) {
    b->selectedFrame = frame;
    Tal_DoMethod(super(b), TAL_SetSelectedFrame, frame);
}
void setGroupPressed(ButtonInstance* b, bool pressed) {
    b->groupPressed = pressed;
    Tal_DoMethod(super(b), pressed ? TAL_Pressed : TAL_Released);
}

// The colour the members erase to: the face of a button frame (colour 2) or of a pressed one (colour
// 3), else the background the owner set, or the container's.
void applyFace(ButtonInstance* b) {
    Tal_RootInstance* root = Tal__GetRootInstance(self(b));
    if (!root) return;
    UBYTE style = b->groupPressed && b->pressedFrame     ? b->pressedFrame
                  : b->groupSelected && b->selectedFrame ? b->selectedFrame
                                                         : b->frame;
    style &= 0x7F;
    root->colour1 = style == TAL_FRAME_BUTTON                      ? root->colour2
                    : style == TAL_FRAME_BUTTON_DOWN || style == 8 ? root->colour3
                                                                   : b->ownColour1;
}

void rememberOwnColour(ButtonInstance* b) {
    if (Tal_RootInstance* root = Tal__GetRootInstance(self(b))) b->ownColour1 = root->colour1;
}

// ---------------------------------------------------------------------------------------------------
// Pressing and releasing.

Tal_Word press(ButtonInstance* b) {
    if (b->selected || disabled(b)) return 0;
    b->selected = 1;
    if (!b->noPressLook) {
        if (b->framePair)
            setFrame(b, b->framePair);
        else
            setGroupPressed(b, true);
        redraw(b);
    }
    if (b->immediate || b->toggle) notify(b, TAL_ButtonClicked);
    notify(b, TAL_Pressed);
    return topmost(b);
}

// Notifies the release (the activation) unless the button is immediate or is still being held: a
// pointer that leaves a held button releases it silently.
Tal_Word release(ButtonInstance* b) {
    if (!b->selected) return topmost(b);
    b->selected = 0;
    if (b->framePair) setFrame(b, b->upFrame);
    if (!b->noPressLook) {
        if (!b->framePair) setGroupPressed(b, false);
        redraw(b);
    } else if (b->framePair) {
        redraw(b);
    }
    if ((!b->immediate && !b->tracking) || b->toggle) {
        notify(b, TAL_Released);
        notify(b, TAL_ButtonClicked);
    }
    return topmost(b);
}

Tal_Word flip(ButtonInstance* b) {
    return b->selected ? release(b) : press(b);
}

// Back up without telling anyone.
void unselect(ButtonInstance* b) {
    if (!b->selected) return;
    b->selected = 0;
    if (b->noPressLook) return;
    setGroupPressed(b, false);
    redraw(b);
}

void setHover(ButtonInstance* b, bool on) {
    if (b->hover == UBYTE(on)) return;
    b->hover = on;
    b->groupSelected = on;
    Tal_DoMethod(super(b), on ? TAL_SetSelectedOn : TAL_SetSelectedOff); // redraws
}

// The shortcut key: a toggle flips; any other button activates as if immediate and springs back up
// (a tab stays down).
void keyPress(ButtonInstance* b) {
    if (b->toggle) {
        flip(b);
        return;
    }
    const UBYTE immediate = b->immediate;
    b->immediate = 1;
    Tal_Word pressed = press(b);
    b->immediate = immediate;
    if (pressed && !b->framePair) unselect(b);
}

bool over(ButtonInstance* b, LONG x, LONG y) {
    return Tal_IsCoordOverObject(self(b), x, y) != 0;
}

Tal_Word handleInput(ButtonInstance* b, const Tal_Word* args) {
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[0]);
    if (!e) return 2;
    switch (e->Class) {
    case IDCMP_MOUSEBUTTONS:
        if (e->Code == SELECTDOWN) {
            if (!over(b, e->MouseX, e->MouseY) || disabled(b)) return 2;
            if (b->toggle && b->immediate)
                flip(b);
            else if (!b->toggle)
                press(b);
            b->tracking = 1;
            return 1;
        }
        if (e->Code == SELECTUP) {
            if (!b->tracking) return 2;
            // A toggle that waits for the release flips when the release is on it.
            if (b->toggle && !b->immediate && over(b, e->MouseX, e->MouseY)) flip(b);
            b->tracking = 0;
            if (b->selected && !b->toggle && !b->framePair) release(b);
            return 1;
        }
        return 2;
    case IDCMP_MOUSEMOVE: {
        const bool on = over(b, e->MouseX, e->MouseY);
        if (b->tracking) {
            if (!b->toggle && !b->framePair) {
                if (!on && b->selected)
                    release(b); // silent: still tracking
                else if (on && !b->selected && !b->noPressLook && !b->immediate)
                    press(b); // an immediate button has had its activation already
            }
            return 1;
        }
        if (b->rollover) setHover(b, on);
        return 2;
    }
    case IDCMP_INACTIVEWINDOW:
        b->tracking = 0;
        if (!b->toggle && !b->framePair) unselect(b);
        setHover(b, false);
        return 2;
    case IDCMP_POINTERLEFT:
        setHover(b, false);
        return 2;
    case IDCMP_VANILLAKEY:
    case IDCMP_RAWKEYDOWN:
        // Key 0 is no shortcut; hidden (another page) and disabled buttons leave the key to others.
        if (!b->shortcut || e->Code != b->shortcut || Tal_DoMethod(super(b), TAL_IsHidden) || disabled(b))
            return 2;
        keyPress(b);
        return 1;
    default:
        return Tal_DoMethodA(super(b), TAL_HandleIDCMP, args);
    }
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry buttonMethods[] = {
    ENTRY(TAL_SetShortcutKey, "Tal_SetShortcutKey", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

void* Tal_NewButtonClass(const TagItem*) {
    auto* b = static_cast<ButtonInstance*>(Tal_AllocObjectMem(&buttonClass));
    if (!b) return nullptr;
    b->header.superObject = Tal_CreateObject("Group", TAL_SetGroupFrame, TAL_FRAME_BUTTON,
                                             TAL_SetPressedFrame, TAL_FRAME_BUTTON_DOWN);
    if (!b->header.superObject) {
        Tal_FreeObjectMem(b);
        return nullptr;
    }
    b->frame = TAL_FRAME_BUTTON;
    b->pressedFrame = TAL_FRAME_BUTTON_DOWN;
    b->ownColour1 = TAL_NO_COLOUR;
    return b;
}

void Tal_DisposeButtonClass(void* instance) {
    auto* b = of(instance);
    Tal_DisposeObject(b->header.superObject);
    Tal_FreeObjectMem(b);
}

Tal_Word Tal_DoButtonClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* b = of(instance);
    switch (id) {
    case TAL_Pressed:
        return press(b);
    case TAL_Released:
        return release(b);
    case TAL_GadgetEvent3:
    case TAL_GadgetEvent4:
        if (!over(b, LONG(args[0]), LONG(args[1]))) return 0;
        return id == TAL_GadgetEvent3 ? press(b) : release(b);
    case TAL_SetButtonState:
        return args[0] ? press(b) : release(b);
    case TAL_GetButtonState:
        return b->selected;
    case TAL_SetButtonImmediate:
        b->immediate = args[0] ? 1 : 0;
        return 1;
    case TAL_SetButtonNoPressLook:
        b->noPressLook = args[0] ? 1 : 0;
        if (b->noPressLook) {
            b->rollover = 0;
            setFrame(b, TAL_FRAME_FLAT);
            setPressedFrame(b, 8);
        }
        return 1;
    case TAL_SetButtonToggle:
        b->toggle = args[0] ? 1 : 0;
        if (b->toggle) {
            b->immediate = 1;
            setFrame(b, 7);
            setPressedFrame(b, TAL_FRAME_BUTTON_DOWN);
        }
        return 1;
    case TAL_SetButtonFramePair:
        b->framePair = UBYTE(args[0]);
        b->upFrame = b->framePair ? UBYTE(b->framePair + 1) : 0;
        if (b->framePair) setFrame(b, b->selected ? b->framePair : b->upFrame);
        return 1;
    case TAL_SetShortcutKey:
        b->shortcut = ULONG(args[0]);
        return b->shortcut;
    case TAL_GetShortcutKey:
        return b->shortcut;
    case TAL_SetGroupFrame: {
        const UBYTE frame = UBYTE(args[0]);
        if (frame == TAL_FRAME_FLAT) {
            b->rollover = 0;
            setPressedFrame(b, 8);
        } else if (frame == TAL_FRAME_ROLLOVER) {
            b->rollover = 1;
            setPressedFrame(b, TAL_FRAME_BUTTON_DOWN);
            setSelectedFrame(b, TAL_FRAME_BUTTON);
        }
        setFrame(b, frame);
        return 1;
    }
    case TAL_SetPressedFrame:
        setPressedFrame(b, UBYTE(args[0]));
        return 1;
    case TAL_SetSelectedFrame:
        setSelectedFrame(b, UBYTE(args[0]));
        return 1;
    case TAL_SetSelectedOn:
    case TAL_SetSelectedOff:
        b->groupSelected = id == TAL_SetSelectedOn;
        return Tal_DoMethodA(super(b), id, args);
    case TAL_SetColour1:
    case TAL_SetColours: {
        Tal_Word result = Tal_DoMethodA(super(b), id, args);
        rememberOwnColour(b);
        return result;
    }
    case TAL_DragOver:
        if (b->framePair && !b->selected && over(b, LONG(args[1]), LONG(args[2]))) press(b);
        return Tal_DoMethodA(super(b), id, args);
    case TAL_HandleIDCMP:
        return handleInput(b, args);
    case TAL_DrawObject:
        applyFace(b);
        return Tal_DoMethodA(super(b), id, args);
    default:
        return Tal_DoMethodA(super(b), id, args);
    }
}

ULONG Tal_InitButtonClass() {
    return Tal__SetupClass(&buttonClass, "Button", 0x00030000, "Group", Tal_NewButtonClass,
                           Tal_DisposeButtonClass, Tal_DoButtonClassMethod, buttonMethods,
                           sizeof(ButtonInstance));
}

void Tal_CleanupButtonClass() {
    Tal__CleanupClass(&buttonClass);
}
