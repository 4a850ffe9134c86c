// PopUp: a button that, pressed, shows a content group beside itself and reports which of its objects
// was chosen. The content shows in a pop-up window that the owner window serves, or as a host pop-up
// menu tracked by a thread of its own; either way the owner window's thread never waits for the choice
// (its redraws and queued methods go on), and the choice arrives as TAL_PopUpChoose in that thread.
//
// A tap on the button opens it; a tap on an entry (or a press on the button dragged to an entry and
// released there) chooses; a tap outside closes it without a choice.
#include "ui/PopUp.h"
#include "Tal/Root.h"
#include "ui/Button.h"
#include "ui/Window.h"
#include "host/controls.h"

#include <algorithm>
#include <new>
#include <thread>

namespace {

Tal_Class popUpClass;

constexpr ULONG kMenuItemClass = 0x00180000;
constexpr ULONG kButtonClass = 0x00030000;
constexpr ULONG kTextClass = 0x00040000;
constexpr ULONG kSpaceClass = 0x000E0000;

struct PopUpInstance {
    Tal_Object header;
    ULONG chosen;
    ULONG window;  // the pop-up window while open
    ULONG content; // the content group
    ULONG shown;   // what is shown while open
    ULONG owner;   // the window the pop-up belongs to, while open
    ULONG position;
    WORD xOffset, yOffset;
    UBYTE contentMode;
    UBYTE open;
    UBYTE native;
    std::thread* tracker; // the host menu's thread
};

PopUpInstance* of(void* instance) {
    return static_cast<PopUpInstance*>(instance);
}
ULONG topmost(PopUpInstance* p) {
    return Tal_GetTopMostObject(p->header.handle);
}
const Tal_Box* boxOf(ULONG object) {
    return reinterpret_cast<const Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
}

// Performs the choice in the owner window's thread.
void chooseLater(ULONG owner, ULONG popUp, ULONG object) {
    if (!owner || !Tal_DoAsyncMethod(owner, TAL_DoAsyncMethodMethod, popUp, TAL_PopUpChoose, object, 0))
        Tal_DoMethod(popUp, TAL_PopUpChoose, object);
}

bool isButton(ULONG object) {
    for (ULONG h = object, step = 0; h && step < 16; step++) {
        auto* o = static_cast<Tal_Object*>(Tal__LockObjectInstanceQuiet(h));
        if (!o) return false;
        const bool button = o->objClass->classId == kButtonClass;
        h = o->superObject;
        Tal_UnlockObjectInstance(o);
        if (button) return true;
    }
    return false;
}

Tal_Word windowChose(Tal_Word popUp, ULONG, ULONG, const Tal_Word* args) {
    auto* p = static_cast<PopUpInstance*>(Tal_GetObjectInstance(ULONG(popUp)));
    if (!p) return 0;
    // The entry: the button holding the object under the pointer, else the member of what is shown that
    // holds it.
    ULONG object = args ? ULONG(args[0]) : 0;
    while (object && !isButton(object) && Tal_GetTopMostObject(Tal_GetParentObject(object)) != p->shown)
        object = Tal_GetTopMostObject(Tal_GetParentObject(object));
    chooseLater(p->owner, ULONG(popUp), object);
    return 1;
}

void appendEntries(host_Menu* menu, ULONG group, int depth);

void appendEntry(host_Menu* menu, ULONG object, int depth) {
    const ULONG cls = Tal_GetObjectClassID(object);
    if (cls == kSpaceClass) {
        host_AppendMenuItem(menu, 0, "", HMF_SEPARATOR, nullptr);
    } else if (cls == kMenuItemClass || cls == kTextClass) {
        const ULONG getText = cls == kMenuItemClass ? TAL_GetMenuItemText : TAL_GetLabel;
        const auto* text = reinterpret_cast<const char*>(Tal_DoMethod(object, getText));
        const ULONG first = cls == kMenuItemClass ? ULONG(Tal_DoMethod(object, TAL_GetFirstGroupObject)) : 0;
        ULONG flags = Tal_DoMethod(object, TAL_IsDisabled) ? HMF_GREYED : 0;
        if (cls == kMenuItemClass && (Tal_DoMethod(object, TAL_GetMenuItemChecks) & TAL_MENU_CHECKED))
            flags |= HMF_CHECKED;
        if (first && Tal_GetObjectClassID(first) == kMenuItemClass) {
            host_Menu* sub = host_CreateMenu(nullptr, 0);
            appendEntries(sub, object, depth + 1);
            host_AppendMenuItem(menu, 0, text ? text : "", flags, sub);
        } else {
            host_AppendMenuItem(menu, object, text ? text : "", flags, nullptr);
        }
    } else {
        appendEntries(menu, object, depth + 1);
    }
}

// The host menu of a content: groups walked in order, entries by their text, spaces as separators.
void appendEntries(host_Menu* menu, ULONG group, int depth) {
    if (depth > 32) return;
    for (ULONG m = ULONG(Tal_DoMethod(group, TAL_GetFirstGroupObject)); m;
         m = ULONG(Tal_DoMethod(group, TAL_GetNextGroupObject, m)))
        appendEntry(menu, m, depth);
}

struct Placement {
    LONG x, y;             // in the owner's screen coordinates (windows are placed in them)
    LONG screenX, screenY; // on the logical screen (host menus are placed on it)
};

Placement place(PopUpInstance* p, Window* host, Tal_DrawInfo* di, ULONG content) {
    const Tal_Box* b = boxOf(topmost(p));
    const LONG left = host->LeftEdge + host->BorderLeft, top = host->TopEdge + host->BorderTop;
    const host_Rect onScreen = host_GetScreenRect(host->HostWindow);
    const LONG dx = onScreen.x - host->LeftEdge, dy = onScreen.y - host->TopEdge;
    LONG cw = 0;
    if (content) {
        Tal_DoMethod(content, TAL_SetDrawInfo, di);
        Tal_DoMethod(content, TAL_AskMinMax, di);
        if (const Tal_Box* c = boxOf(content)) cw = c->width;
    }
    LONG x = left + b->x, y = top + b->y;
    switch (p->position) {
    case TAL_POPUP_AT_POINTER: {
        LONG px = 0, py = 0;
        host_GetPointer(&px, &py);
        x = px - dx;
        y = py - dy;
        break;
    }
    case TAL_POPUP_RIGHT:
        x = left + b->x + b->width;
        if (di && di->screen && x + cw > di->screen->Width) x = left + b->x - cw;
        break;
    case TAL_POPUP_BELOW:
        y = top + b->y + b->height;
        break;
    default:
        break;
    }
    x += p->xOffset;
    y += p->yOffset;
    return {x, y, x + dx, y + dy};
}

void trackNative(PopUpInstance* p, ULONG content, const Placement& at) {
    host_Menu* menu = host_CreateMenu(nullptr, 0);
    if (!menu) return;
    appendEntry(menu, content, 0);
    if (p->tracker) {
        p->tracker->join();
        delete p->tracker;
    }
    const ULONG owner = p->owner, me = topmost(p);
    p->tracker = new (std::nothrow) std::thread([menu, at, owner, me] {
        const ULONG chosen = host_TrackPopupMenu(menu, at.screenX, at.screenY);
        host_DisposeMenu(menu);
        chooseLater(owner, me, chosen);
    });
    if (!p->tracker) {
        host_DisposeMenu(menu);
        chooseLater(owner, me, 0);
    }
}

void openWindow(PopUpInstance* p, ULONG content, const Placement& at) {
    const ULONG window =
        Tal_CreateObject("Window", TAL_SetWindowType, p->position == TAL_POPUP_ABOVE ? 10 : 2, TAL_SetWindowX,
                         at.x, TAL_SetWindowY, at.y, TAL_SetGroupFrame, 6);
    if (!window || !Tal_DoMethod(window, TAL_AddTail, content) ||
        !Tal_DoMethod(p->owner, TAL_AddTail, window)) {
        if (window) Tal_DoMethod(window, TAL_RemoveMember, content);
        Tal_DisposeObject(window);
        chooseLater(p->owner, topmost(p), 0);
        return;
    }
    p->window = window;
    Tal_AddCallBackNotify(window, TAL_ChildWindowsClosed, TAL_AnyValue, windowChose, topmost(p));
    Tal_DoMethod(window, TAL_Start);
    Tal_DoMethod(window, TAL_OpenWindow);
}

Tal_Word open(PopUpInstance* p) {
    const ULONG me = topmost(p);
    if (p->open) return me;
    Tal_RootInstance* root = Tal__GetRootInstance(me);
    Tal_DrawInfo* di = root ? root->header.drawInfo : nullptr;
    if (!di || !di->windowObject) return 0;
    Forbid();
    Task* eventTask = di->eventTask;
    Permit();
    // The pop-up belongs to its window's thread: that thread opens it, serves it and hears the choice.
    if (eventTask && eventTask != FindTask(nullptr)) {
        Tal_DoAsyncMethod(di->windowObject, TAL_DoAsyncMethodMethod, me, TAL_Pressed, 0, 0);
        return me;
    }
    auto* host = reinterpret_cast<Window*>(Tal_DoMethod(di->windowObject, TAL_GetHostWindow));
    if (!host) return 0;
    p->open = 1;
    p->owner = di->windowObject;
    Tal_DoMethod(p->header.superObject, TAL_Pressed);
    p->chosen = 0;
    ULONG chosenField = 0;
    Tal_DoNotify(me, TAL_PopUpOpening, &chosenField);
    const ULONG content = chosenField                                         ? chosenField
                          : Tal_DoMethod(p->content, TAL_GetFirstGroupObject) ? p->content
                                                                              : 0;
    p->shown = content;
    const Placement at = place(p, host, di, content);
    if (!content)
        chooseLater(p->owner, me, 0); // nothing to offer: it closes again at once
    else if (p->native)
        trackNative(p, content, at);
    else
        openWindow(p, content, at);
    return me;
}

void close(PopUpInstance* p) {
    if (!p->open) return;
    p->open = 0;
    if (p->window) {
        Tal_DoMethod(p->window, TAL_CloseWindow);
        Tal_DoMethod(p->window, TAL_RemoveMember, p->shown);
        Tal_DoMethod(p->owner, TAL_RemoveMember, p->window);
        Tal_DisposeObject(p->window);
        p->window = 0;
    }
    Tal_DoMethod(p->header.superObject, TAL_Released);
    Tal_DoMethod(p->content, TAL_Released);
    p->shown = 0;
    p->owner = 0;
}

Tal_Word choose(PopUpInstance* p, ULONG object) {
    const ULONG me = topmost(p);
    if (object) {
        p->chosen = object;
        Tal_DoNotify(me, TAL_PopUpChoose, object);
    }
    if (p->open) {
        close(p);
        Tal_DoNotify(me, TAL_PopUpClosed, object);
    }
    return me;
}

Tal_Word handleInput(PopUpInstance* p, const Tal_Word* args) {
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[0]);
    if (e && e->Class == IDCMP_MOUSEBUTTONS && (e->Code == SELECTDOWN || e->Code == MENUDOWN) &&
        Tal_IsCoordOverObject(topmost(p), e->MouseX, e->MouseY)) {
        if (!Tal_DoMethod(topmost(p), TAL_IsDisabled)) Tal_DoMethod(topmost(p), TAL_Pressed);
        return 1;
    }
    // The release of the press that opened it keeps it open: the next tap chooses.
    if (e && e->Class == IDCMP_MOUSEBUTTONS && e->Code == SELECTUP && p->open) return 1;
    return Tal_DoMethodA(p->header.superObject, TAL_HandleIDCMP, args);
}

bool toContent(PopUpInstance* p, ULONG id) {
    if (!p->contentMode) return false;
    return (id >> 16) == 0x0047 || id == TAL_SetGroupFrame || id == TAL_SetGroupOrientation ||
           id == TAL_SetPressedFrame;
}

} // namespace

void* Tal_NewPopUpClass(const TagItem*) {
    auto* p = of(Tal_AllocObjectMem(&popUpClass));
    if (!p) return nullptr;
    p->header.superObject = Tal_CreateObject("Button");
    p->content = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 0);
    if (!p->header.superObject || !p->content) {
        Tal_DisposeObject(p->content);
        Tal_DisposeObject(p->header.superObject);
        Tal_FreeObjectMem(p);
        return nullptr;
    }
    return p;
}

void Tal_DisposePopUpClass(void* instance) {
    auto* p = of(instance);
    if (p->tracker) {
        host_CloseMenus();
        p->tracker->join();
        delete p->tracker;
    }
    close(p);
    Tal_DisposeObject(p->content);
    Tal_DisposeObject(p->header.superObject);
    Tal_FreeObjectMem(p);
}

Tal_Word Tal_DoPopUpClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* p = of(instance);
    if (toContent(p, id)) return Tal_DoMethodA(p->content, id, args);
    switch (id) {
    case TAL_Pressed:
        return open(p);
    case TAL_Released:
        return choose(p, 0);
    case TAL_PopUpChoose:
        return choose(p, ULONG(args[0]));
    case TAL_SetPopUpContentMode:
        p->contentMode = args[0] ? 1 : 0;
        return 1;
    case TAL_SetPopUpPos:
        p->position = ULONG(args[0]);
        return 1;
    case TAL_SetPopUpNative:
        p->native = args[0] ? 1 : 0;
        return 1;
    case TAL_SetPopUpXOffset:
        p->xOffset = WORD(args[0]);
        return 1;
    case TAL_SetPopUpYOffset:
        p->yOffset = WORD(args[0]);
        return 1;
    case TAL_GetPopUpContent:
        return p->content;
    case TAL_IsPopUpOpen:
        return p->open;
    case TAL_HandleIDCMP:
        return handleInput(p, args);
    case TAL_AskMinMax: {
        const Tal_Word result = Tal_DoMethodA(p->header.superObject, id, args);
        if (!p->open) Tal_DoMethodA(p->content, id, args);
        return result;
    }
    default:
        return Tal_DoMethodA(p->header.superObject, id, args);
    }
}

ULONG Tal_InitPopUpClass() {
    return Tal__SetupClass(&popUpClass, "PopUp", 0x000C0000, "Button", Tal_NewPopUpClass,
                           Tal_DisposePopUpClass, Tal_DoPopUpClassMethod, nullptr, sizeof(PopUpInstance));
}

void Tal_CleanupPopUpClass() {
    Tal__CleanupClass(&popUpClass);
}
