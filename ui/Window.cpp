// Window: a container that owns one host window and one event thread. The event thread turns the host
// window's input messages into method calls on the window's objects, performs the asynchronous methods
// queued for the window, and is the only thread that draws into it (others queue their drawing, or
// draw under the window lock).
#include "ui/Window.h"
#include "ui/Group.h"
#include "Tal/Root.h"
#include "Tal/Thread.h"
#include "host/display.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace {

Tal_Class windowClass;

constexpr ULONG kCentred = 0xCECECECE;
constexpr size_t kTitleSize = 261;

struct WindowInstance {
    Tal_Object header;
    char title[kTitleSize];
    MsgPort* asyncPort;
    ULONG thread;    // the event thread's Thread object
    Task* eventTask; // guarded by the forbid lock
    ULONG type;
    ULONG flags2;
    ULONG anchor;
    ULONG hostFlags;
    WORD showCount;
    Tal_Semaphore* lock;
    LONG x, y, width, height; // requested or current outer box (x and y may be the centred marker)
    LONG defaultWidth, defaultHeight;
    LONG xOffset, yOffset;
    ULONG xAnchor, yAnchor;
    ULONG pointer;
    ULONG positionId;
    ULONG requesterButtons;
    ULONG dragObject;
    LONG dragX, dragY;
    ULONG dropTarget;
    ULONG tooltip;
    LONG ticks;
    Window* host;
    UBYTE closeRequest;
    UBYTE bottomRowAdded;
    UBYTE fullScreen;
    UBYTE swallowRelease; // a press that closed pop-up windows: its release goes nowhere
    ULONG frameGroup, contents, children;
    Tal_DrawInfo drawInfo;
    RastPort detached; // what the drawing context points at while no host window is open: measuring only
    UWORD qualifier;   // of the event being handled
};

WindowInstance* of(void* instance) {
    return static_cast<WindowInstance*>(instance);
}
ULONG handleOf(WindowInstance* w) {
    return w->header.handle;
}

// Remembered positions: (position ID, x, y, inner width, inner height).
struct Remembered {
    ULONG id;
    LONG x, y, w, h;
};
std::mutex rememberedLock;
std::vector<Remembered> remembered;

Remembered* rememberedFor(ULONG id) {
    for (Remembered& r : remembered)
        if (r.id == id) return &r;
    return nullptr;
}

// The context measuring uses (set by the first screen that starts); the object's own otherwise.
std::atomic<Tal_DrawInfo*> inspection{nullptr};

bool isEventThread(WindowInstance* w) {
    Forbid();
    bool mine = w->eventTask && w->eventTask == FindTask(nullptr);
    Permit();
    return mine;
}

bool threadRuns(WindowInstance* w) {
    Forbid();
    bool runs = w->eventTask != nullptr;
    Permit();
    return runs;
}

void queue(WindowInstance* w, ULONG command) {
    Tal_DoAsyncMethod(handleOf(w), command, 0, 0);
}

Tal_Word notify(WindowInstance* w, ULONG id, Tal_Word value) {
    return Tal_DoNotify(handleOf(w), id, value);
}

// ---------------------------------------------------------------------------------------------------
// Opening and closing the host window (in the event thread).

ULONG hostFlagsOf(WindowInstance* w) {
    ULONG flags = w->hostFlags;
    if (w->type & 2) flags |= WFLG_POPUP;
    if (w->type & (0x01 | 0x20 | 0x40)) flags |= 0x102F;
    if (w->type & 0x10) flags |= 0x1800;
    if (w->type == 10) flags |= WFLG_POPUP;
    return flags;
}

// The bottom row of requesters: their buttons, or a stretching space.
void addBottomRow(WindowInstance* w) {
    if (w->bottomRowAdded) return;
    w->bottomRowAdded = 1;
    if (w->type != 64 && (hostFlagsOf(w) & WFLG_POPUP)) return;
    ULONG row = 0;
    if (w->type == 64) {
        ULONG buttons = w->requesterButtons;
        if (buttons == 1 || buttons == 16) {
            row = Tal_CreateObjects(0, TAL_TREE_HGROUP, TAL_SetWeight, 0, TAL_TREE_SPACE, 2, TAL_TREE_CLOSE);
            ULONG button = Tal_AddObject(row, "Button", TAL_SetLabel, buttons == 1 ? " OK " : "Cancel");
            Tal_AddNotify(button, TAL_Released, TAL_AnyValue, handleOf(w), 2, TAL_EndRequester,
                          buttons == 1 ? 1 : 0);
        } else {
            row = buttons;
        }
    }
    if (row) Tal_DoMethod(w->contents, TAL_AddTail, row);
}

void fillDrawInfo(WindowInstance* w, Screen* screen) {
    Tal_DrawInfo& di = w->drawInfo;
    RastPort* rp = di.rastPort;
    Tal_Semaphore* lock = di.windowLock;
    host_InitDrawInfo(&di, rp);
    di.screen = screen;
    di.windowObject = handleOf(w);
    di.windowLock = lock;
    di.useColours = 1;
    Forbid();
    di.eventTask = w->eventTask;
    Permit();
}

// Where a window opens beside an anchor window: the anchor's x + width (or y + height), once it is open
// (waiting a little for it); `otherwise` when it does not open.
LONG anchorEdge(ULONG anchor, ULONG getPosition, ULONG getSize, LONG otherwise) {
    for (int attempt = 0; attempt <= 5; attempt++) {
        if (Tal_DoMethod(anchor, TAL_GetHostWindow))
            return LONG(Tal_DoMethod(anchor, getPosition)) + LONG(Tal_DoMethod(anchor, getSize));
        if (attempt < 5) Delay(10);
    }
    return otherwise;
}

// Our windows have no title bars of their own: while a requester or a window that belongs to another
// window (an image window) is active, the screen's title bar shows its title. The main window and other
// members of the screen leave the screen's title there.
void applyTitle(WindowInstance* w) {
    if (!w->host) return;
    const bool shown =
        (w->type & (0x01 | 0x20 | 0x40)) || Tal_SearchHierachyForClassId(handleOf(w), 0x00090000);
    SetWindowTitles(w->host, w->title, shown && w->title[0] ? w->title : nullptr);
}

// While a requester-style window of type 0x40 is open, the screen's menu-bar commands are hidden.
void hideScreenCommands(bool hide) {
    static std::mutex lock;
    static int open = 0;
    std::lock_guard guard(lock);
    open += hide ? 1 : -1;
    if (open != (hide ? 1 : 0)) return;
    for (ULONG command : {40001u, 40012u, 40025u, 143u, 81u, 142u, 101u, 155u})
        host_ShowScreenCommand(command, !hide);
}

void openHost(WindowInstance* w) {
    while (!Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES)) Delay(1);
    if (w->host) {
        // Already open: an open request only brings it to the front.
        WindowToFront(w->host);
        Tal_ReleaseSemaphore(w->lock);
        return;
    }
    w->showCount--;
    if (w->showCount >= 1) {
        Tal_ReleaseSemaphore(w->lock);
        return;
    }
    ULONG screenObject = Tal_SearchHierachyForClassId(handleOf(w), 0x00460000);
    Screen* screen =
        screenObject ? reinterpret_cast<Screen*>(Tal_DoMethod(screenObject, 0x004601B8)) : nullptr;
    if (!screen) screen = LockPubScreen();
    if (!screen) {
        Tal_ReleaseSemaphore(w->lock);
        return;
    }
    InitRastPort(&w->detached);
    w->drawInfo.rastPort = &w->detached;
    fillDrawInfo(w, screen);
    w->drawInfo.screenObject = screenObject;
    addBottomRow(w);
    Tal_DoMethod(handleOf(w), TAL_SetColour1, screen->BackgroundColour);
    Tal_DoMethod(w->header.superObject, TAL_SetDrawInfo, &w->drawInfo);
    Tal_DoMethod(w->header.superObject, TAL_AskMinMax, &w->drawInfo);
    auto* content = reinterpret_cast<Tal_Box*>(Tal_DoMethod(w->header.superObject, TAL_GetBox));

    LONG width = w->width ? w->width : w->defaultWidth ? w->defaultWidth : content->width;
    LONG height = w->height ? w->height : w->defaultHeight ? w->defaultHeight : content->height;
    LONG x = w->x, y = w->y;
    {
        std::lock_guard guard(rememberedLock);
        if (Remembered* r = w->positionId ? rememberedFor(w->positionId) : nullptr; r && r->w) {
            x = r->x;
            y = r->y;
            width = r->w;
            height = r->h;
        }
    }
    width = std::max<LONG>(width, content->minWidth);
    height = std::max<LONG>(height, content->minHeight);
    if (w->type == 64) x = y = 0;
    if (w->anchor) {
        if (Tal_RootInstance* a = Tal__LockRootInstance(w->anchor)) {
            x = a->box.x + a->box.width / 2 - width / 2;
            y = a->box.y + a->box.height / 2 - height / 2;
            Tal_UnlockObjectInstance(a);
        }
    }
    if (ULONG(x) != kCentred) x += w->xOffset;
    if (ULONG(y) != kCentred) y += w->yOffset;
    // Anchor windows: this one opens right of (below) them.
    if (w->xAnchor) x = anchorEdge(w->xAnchor, TAL_GetWindowX, TAL_GetWindowW, x);
    if (w->yAnchor) y = anchorEdge(w->yAnchor, TAL_GetWindowY, TAL_GetWindowH, y);
    if (ULONG(x) == kCentred) x = (screen->Width - width) / 2;
    if (ULONG(y) == kCentred) y = (screen->Height - height) / 2;
    if (w->type == 10) y -= height;
    width = std::max<LONG>(std::min<LONG>(width, screen->Width),
                           std::min<LONG>(content->minWidth, screen->Width));
    height = std::max<LONG>(std::min<LONG>(height, screen->Height),
                            std::min<LONG>(content->minHeight, screen->Height));
    x = std::clamp<LONG>(x, 0, std::max<LONG>(screen->Width - width, 0));
    y = std::clamp<LONG>(y, 0, std::max<LONG>(screen->Height - height, 0));

    Window* host =
        OpenWindowTags(nullptr, WA_Left, x, WA_Top, y, WA_Width, std::max<LONG>(width, 1), WA_Height,
                       std::max<LONG>(height, 1), WA_CustomScreen, screen, WA_IDCMP, 0x12FC071F, WA_Flags,
                       hostFlagsOf(w), WA_Title, w->title, WA_ObjectHandle, handleOf(w));
    if (host) {
        w->host = host;
        host->Owner = reinterpret_cast<void*>(handleOf(w));
        w->drawInfo.rastPort = host->RPort;
        w->drawInfo.window = host;
        w->x = host->LeftEdge;
        w->y = host->TopEdge;
        w->width = host->Width;
        w->height = host->Height;
        Tal_DoMethod(w->header.superObject, TAL_SetBox, 0, 0, host->Width, host->Height);
        WindowLimits(host, content->minWidth, content->minHeight, ULONG(content->maxWidth),
                     ULONG(content->maxHeight));
        if (w->pointer) Tal_SetCursor(host, w->pointer);
        if (w->type & 0x80) {
            host_FullScreen(host, true);
            w->fullScreen = 1;
        }
        applyTitle(w);
        if (w->type & 0x40) hideScreenCommands(true);
    }
    Tal_ReleaseSemaphore(w->lock);
}

void closeHost(WindowInstance* w) {
    while (!Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES)) Delay(1);
    w->showCount++;
    if (w->showCount >= 0 && w->host) {
        if (w->fullScreen) host_FullScreen(w->host, false);
        w->fullScreen = 0;
        if (w->positionId) {
            std::lock_guard guard(rememberedLock);
            if (Remembered* r = rememberedFor(w->positionId))
                *r = {w->positionId, w->host->LeftEdge, w->host->TopEdge, w->host->Width, w->host->Height};
        }
        // The content lets go of the drawing context first: fields read back what is being typed.
        Tal_DoMethod(w->header.superObject, TAL_SetDrawInfo, 0);
        Window* host = w->host;
        w->host = nullptr;
        w->drawInfo.window = nullptr;
        InitRastPort(&w->detached);
        w->drawInfo.rastPort = &w->detached;
        CloseWindow(host);
        if (w->type & 0x40) hideScreenCommands(false);
    }
    Tal_ReleaseSemaphore(w->lock);
}

void redrawAll(WindowInstance* w) {
    w->drawInfo.pendingRedraws = 0;
    w->drawInfo.lockMissed = false; // set again when the lock is still taken
    Tal_DoMethod(w->header.superObject, TAL_DrawObject);
}

// ---------------------------------------------------------------------------------------------------
// Input dispatch (in the event thread).

Tal_InputEvent eventFor(WindowInstance* w, const IntuiMessage* m) {
    Tal_InputEvent e{};
    e.window = w->host;
    e.Class = m->Class;
    e.Code = m->Code;
    e.Qualifier = m->Qualifier;
    e.IAddress = m->IAddress;
    e.MouseX = WORD(m->MouseX - (w->host ? w->host->BorderLeft : 0));
    e.MouseY = WORD(m->MouseY - (w->host ? w->host->BorderTop : 0));
    e.UpdateInfo = m->UpdateInfo;
    return e;
}

Tal_Word offer(WindowInstance* w, Tal_InputEvent* e) {
    return Tal_DoMethod(w->header.superObject, TAL_HandleIDCMP, e);
}

// Global shortcut keys: key code, qualifier (kept), target, method words.
struct Shortcut {
    Node node;
    ULONG key;
    ULONG qualifier;
    ULONG target;
    ULONG count;
    Tal_Word words[1];
};

bool performShortcut(ULONG code) {
    std::vector<Tal_Word> words;
    ULONG target = 0;
    {
        SemaphoreGuard guard(&Tal_GetGlobalData()->registryLock);
        for (Shortcut* s : ListNodes<Shortcut>(&Tal_GetGlobalData()->shortcutKeys)) {
            if (s->key != code) continue;
            target = s->target;
            words.assign(s->words, s->words + s->count);
            break;
        }
    }
    if (words.empty()) return false;
    words.push_back(0);
    Tal_DoMethodA(target, ULONG(words[0]), words.data() + 1);
    return true;
}

void removeTooltip(WindowInstance* w) {
    if (!w->tooltip) return;
    Tal_DoMethod(w->children, TAL_RemoveMember, w->tooltip);
    Tal_DisposeObject(w->tooltip);
    w->tooltip = 0;
}

void showTooltip(WindowInstance* w, const Tal_InputEvent& e) {
    auto* tip = reinterpret_cast<const char*>(
        Tal_DoMethod(w->header.superObject, TAL_GetToolTipAt, e.MouseX, e.MouseY));
    if (!tip || !*tip || !w->host) return;
    ULONG window = Tal_CreateObjects(0, TAL_TREE_OBJECT, "Window", TAL_SetWindowType, 2, TAL_TREE_VGROUP,
                                     TAL_SetGroupFrame, 6, TAL_TREE_SPACE, 2, TAL_TREE_TEXT, tip,
                                     TAL_TREE_SPACE, 2, TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    if (!window) return;
    Tal_DoMethod(window, TAL_SetColours, 0xDCFAFA);
    Tal_DoMethod(window, TAL_SetWindowX, w->host->LeftEdge + e.MouseX);
    Tal_DoMethod(window, TAL_SetWindowY, w->host->TopEdge + e.MouseY + 20);
    Tal_DoMethod(w->children, TAL_AddTail, window);
    w->tooltip = window;
    Tal_DoMethod(window, TAL_OpenWindow);
}

// The deepest object under a point (window coordinates) among an object's members; 0 for none.
ULONG objectUnder(ULONG object, LONG x, LONG y, int depth = 0) {
    if (depth > 64) return 0;
    for (ULONG m = ULONG(Tal_DoMethod(object, TAL_GetFirstGroupObject)); m;
         m = ULONG(Tal_DoMethod(object, TAL_GetNextGroupObject, m))) {
        if (!Tal_IsCoordOverObject(m, x, y)) continue;
        const ULONG inner = objectUnder(m, x, y, depth + 1);
        return inner ? inner : m;
    }
    return 0;
}

// Open pop-up windows (type 2) of a window, tooltips aside: they have no thread of their own, the window
// they belong to serves their input.
// (A pop-up window's own pop-up windows, a sub-menu's, are served by the same thread.)
void collectPopUps(WindowInstance* w, std::vector<WindowInstance*>& found, int depth) {
    if (depth > 8) return;
    for (ULONG c = ULONG(Tal_DoMethod(w->children, TAL_GetFirstGroupObject)); c;
         c = ULONG(Tal_DoMethod(w->children, TAL_GetNextGroupObject, c))) {
        if (c == w->tooltip) continue;
        auto* o = static_cast<Tal_Object*>(Tal__LockObjectInstanceQuiet(c));
        if (!o) continue;
        WindowInstance* child =
            o->objClass == &windowClass && (of(o)->type & 2) && of(o)->host ? of(o) : nullptr;
        Tal_UnlockObjectInstance(o);
        if (!child) continue;
        found.push_back(child);
        collectPopUps(child, found, depth + 1);
    }
}

std::vector<WindowInstance*> popUpChildren(WindowInstance* w) {
    std::vector<WindowInstance*> found;
    collectPopUps(w, found, 0);
    return found;
}

// A release over a pop-up window chooses what lies under the pointer there (0x000900D2 with it); a press
// outside every pop-up window closes them (0x000900D2 with 0) and is used up, its release too. True when
// the event was used so.
bool popUpInput(WindowInstance* w, const IntuiMessage* m, const Tal_InputEvent& e) {
    if (m->Class != IDCMP_MOUSEBUTTONS) return false;
    if (w->swallowRelease && (m->Code == SELECTUP || m->Code == MENUUP)) {
        w->swallowRelease = 0;
        return true;
    }
    const std::vector<WindowInstance*> pops = popUpChildren(w);
    if (pops.empty() || !w->host) return false;
    const LONG px = w->host->LeftEdge + w->host->BorderLeft + e.MouseX;
    const LONG py = w->host->TopEdge + w->host->BorderTop + e.MouseY;
    WindowInstance* over = nullptr;
    for (WindowInstance* c : pops)
        if (px >= c->host->LeftEdge && py >= c->host->TopEdge && px < c->host->LeftEdge + c->host->Width &&
            py < c->host->TopEdge + c->host->Height)
            over = c;
    if (m->Code == SELECTUP && over) {
        const LONG cx = px - over->host->LeftEdge - over->host->BorderLeft;
        const LONG cy = py - over->host->TopEdge - over->host->BorderTop;
        notify(over, TAL_ChildWindowsClosed, objectUnder(handleOf(over), cx, cy));
        return true;
    }
    if ((m->Code == SELECTDOWN || m->Code == MENUDOWN) && !over) {
        for (WindowInstance* c : pops) notify(c, TAL_ChildWindowsClosed, 0);
        w->swallowRelease = 1;
        return true;
    }
    return false;
}

void dispatchMouse(WindowInstance* w, const IntuiMessage* m) {
    Tal_InputEvent e = eventFor(w, m);
    if (popUpInput(w, m, e)) return;
    if (w->drawInfo.pendingRedraws) redrawAll(w);
    if (m->Class == IDCMP_INACTIVEWINDOW) notify(w, TAL_WindowDeactivated, 1);
    bool press = m->Class == IDCMP_MOUSEBUTTONS;
    if (press || m->Class == IDCMP_POINTERLEFT || m->Class == IDCMP_INACTIVEWINDOW ||
        (m->Class == IDCMP_MOUSEMOVE && w->ticks))
        removeTooltip(w);
    w->ticks = 0;
    if (w->dragObject) {
        Window* under = Tal_FindWindowUnderMouse(w->host);
        ULONG target = under ? ULONG(reinterpret_cast<Tal_Word>(under->Owner)) : 0;
        LONG x = e.MouseX, y = e.MouseY;
        if (under && under != w->host) {
            x += w->host->LeftEdge - under->LeftEdge;
            y += w->host->TopEdge - under->TopEdge;
        }
        if (press && (m->Code == SELECTUP || m->Code == MENUUP)) {
            Tal_Word accepted = target ? Tal_DoMethod(target, TAL_DragDrop, w->dragObject, x, y) : 0;
            Tal_DoNotify(w->dragObject, TAL_DragDrop, accepted, x, y);
            w->dragObject = 0;
        } else if (m->Class == IDCMP_MOUSEMOVE && target) {
            Tal_DoMethod(target, TAL_DragOver, w->dragObject, x, y);
        }
        return;
    }
    offer(w, &e);
    // A release inside a pop-up window chooses what lies under the pointer.
    if ((w->type & 2) && m->Class == IDCMP_MOUSEBUTTONS && m->Code == SELECTUP)
        notify(w, TAL_ChildWindowsClosed, objectUnder(handleOf(w), e.MouseX, e.MouseY));
}

void dispatch(WindowInstance* w, IntuiMessage* m) {
    w->qualifier = m->Qualifier;
    switch (m->Class) {
    case IDCMP_NEWSIZE:
        if (w->host) {
            EndRefresh(w->host);
            if (w->host->Width != w->width || w->host->Height != w->height) {
                w->width = w->host->Width;
                w->height = w->host->Height;
                Tal_DoMethod(w->header.superObject, TAL_SetBox, 0, 0, w->width, w->height);
                RastPort* rp = w->host->RPort;
                SetAPen(rp, 0);
                RectFill(rp, 0, 0, w->width - 1, w->height - 1);
                redrawAll(w);
            }
            w->x = w->host->LeftEdge;
            w->y = w->host->TopEdge;
        }
        return;
    case IDCMP_REFRESHWINDOW:
        if (w->host && Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES)) {
            w->host->RefreshRect = m->Refresh;
            w->host->RefreshRect.MaxX = WORD(std::max(m->Refresh.MinX, WORD(m->Refresh.MaxX - 1)));
            w->host->RefreshRect.MaxY = WORD(std::max(m->Refresh.MinY, WORD(m->Refresh.MaxY - 1)));
            BeginRefresh(w->host);
            // The damaged area starts from the background; the objects draw over it.
            RastPort* rp = w->host->RPort;
            SetAPen(rp, 0);
            RectFill(rp, w->host->RefreshRect.MinX, w->host->RefreshRect.MinY, w->host->RefreshRect.MaxX,
                     w->host->RefreshRect.MaxY);
            Tal_ReleaseSemaphore(w->lock);
            redrawAll(w);
            EndRefresh(w->host);
        }
        return;
    case IDCMP_RAWKEYDOWN:
    case IDCMP_RAWKEYUP:
    case IDCMP_CHARACTER:
    case IDCMP_RAWKEY:
    case IDCMP_VANILLAKEY: {
        Tal_InputEvent e = eventFor(w, m);
        if (offer(w, &e) == 2) {
            bool controlKey = m->Class == IDCMP_VANILLAKEY && (m->Qualifier & IEQUALIFIER_CONTROL);
            bool f1 = m->Class == IDCMP_RAWKEYDOWN && m->Code == 112;
            if (controlKey || f1) performShortcut(m->Code);
        }
        return;
    }
    case IDCMP_CLOSEWINDOW:
        notify(w, TAL_CloseWindow, 0);
        return;
    case IDCMP_ACTIVEWINDOW:
        notify(w, TAL_WindowActivated, 1);
        dispatchMouse(w, m);
        return;
    case IDCMP_CHANGEWINDOW:
        if (w->host) {
            w->x = w->host->LeftEdge;
            w->y = w->host->TopEdge;
            w->width = w->host->Width;
            w->height = w->host->Height;
        }
        return;
    case IDCMP_MENUCOMMAND:
        if (m->Code == 1)
            notify(w, TAL_WindowToFront, 1);
        else if (ULONG screen = w->drawInfo.screenObject)
            Tal_DoMethod(screen, TAL_ScreenMenuCommand, m->Code);
        return;
    case IDCMP_INTUITICKS: {
        w->ticks++;
        Tal_GlobalData* gd = Tal_GetGlobalData();
        Tal_InputEvent e = eventFor(w, m);
        if (gd->tooltips && w->ticks >= LONG(gd->tooltipDelay) && !w->tooltip && !(m->Qualifier & 0x7000))
            showTooltip(w, e);
        offer(w, &e);
        return;
    }
    default:
        dispatchMouse(w, m);
        return;
    }
}

void teardown(WindowInstance* w);

void handleCommand(Tal_AsyncMessage* msg, void* user) {
    auto* w = static_cast<WindowInstance*>(user);
    switch (msg->command) {
    case TAL_ForceShow:
        while (!Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES)) Delay(1);
        if (!w->host) w->showCount = 1;
        Tal_ReleaseSemaphore(w->lock);
        openHost(w);
        return;
    case TAL_OpenWindow:
        openHost(w);
        return;
    case TAL_CloseWindow:
        closeHost(w);
        return;
    case TAL_SetWindowTitle:
        while (!Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES)) Delay(1);
        applyTitle(w);
        Tal_ReleaseSemaphore(w->lock);
        return;
    case TAL_WindowToFront:
        if (w->host) WindowToFront(w->host);
        return;
    case TAL_WindowToBack:
        if (w->host) WindowToBack(w->host);
        return;
    default:
        return;
    }
}

// The signals of the mask that came within a tick (20 ms), without waiting longer.
ULONG waitBriefly(ULONG mask) {
    if (ULONG got = SetSignal(0, mask) & mask) return got;
    Delay(1);
    return SetSignal(0, mask) & mask;
}

ULONG Tal__HandleWindow(Tal_Word userData) {
    auto* w = reinterpret_cast<WindowInstance*>(userData);
    Task* task = FindTask(nullptr);
    MsgPort* port = CreateMsgPort();
    Forbid();
    w->eventTask = task;
    w->drawInfo.eventTask = task;
    w->asyncPort = port;
    Permit();
    Tal_DoMethod(handleOf(w), TAL_SetAsyncPort, port);
    while (port && !w->closeRequest) {
        ULONG mask = (1u << port->mp_SigBit) | SIGBREAKF_CTRL_C;
        if (w->host) mask |= 1u << w->host->UserPort->mp_SigBit;
        for (WindowInstance* c : popUpChildren(w)) mask |= 1u << c->host->UserPort->mp_SigBit;
        // A draw that found the window locked is tried again soon, message or not.
        ULONG got = w->drawInfo.lockMissed ? waitBriefly(mask) : Wait(mask);
        if (got & SIGBREAKF_CTRL_C) break;
        Tal__DrainAsyncPort(port, handleCommand, w);
        while (w->host) {
            if (SetSignal(0, 0) & SIGBREAKF_CTRL_C) break;
            auto* m = reinterpret_cast<IntuiMessage*>(GetMsg(w->host->UserPort));
            if (!m) break;
            Tal_SetCursor(w->host, w->pointer);
            dispatch(w, m);
            ReplyMsg(&m->ExecMessage);
            Tal_FreeMem(m);
        }
        for (WindowInstance* c : popUpChildren(w)) {
            // Held while its input is handled: a choice may close and dispose it meanwhile.
            Tal_Object* held = Tal__LockObjectInstanceQuiet(handleOf(c));
            if (!held) continue;
            while (c->host) {
                auto* m = reinterpret_cast<IntuiMessage*>(GetMsg(c->host->UserPort));
                if (!m) break;
                dispatch(c, m);
                ReplyMsg(&m->ExecMessage);
                Tal_FreeMem(m);
            }
            Tal_UnlockObjectInstance(held);
        }
        if ((w->drawInfo.pendingRedraws || w->drawInfo.lockMissed) && w->host) redrawAll(w);
    }
    removeTooltip(w);
    Tal_DoMethod(handleOf(w), TAL_SetAsyncPort, 0);
    Forbid();
    w->asyncPort = nullptr;
    Permit();
    DeleteMsgPort(port);
    teardown(w);
    return 0;
}

// Closes the host window and frees what the window owns. The lock goes last: its handle is cleared
// first so that no new caller takes it, then it is taken once to wait out those inside.
void teardown(WindowInstance* w) {
    while (w->host) {
        w->showCount = 0;
        closeHost(w);
    }
    Forbid();
    w->eventTask = nullptr;
    Permit();
    Tal_DisposeObject(w->children);
    Tal_DisposeObject(w->header.superObject);
    Tal_Semaphore* lock = w->lock;
    w->lock = nullptr;
    w->drawInfo.windowLock = nullptr;
    if (Tal_ObtainSemaphore(lock, TAL_LOCK_RETRIES)) Tal_ReleaseSemaphore(lock);
    Tal_FreeSemaphore(lock);
    ULONG thread = w->thread;
    w->thread = 0;
    Tal_FreeObjectMem(w);
    Tal_DisposeObject(thread);
}

ULONG start(WindowInstance* w) {
    if (w->type & 2) {
        w->showCount--;
        return 1;
    }
    if (w->thread && threadRuns(w)) {
        // Already running: a start is an open request.
        queue(w, TAL_OpenWindow);
        return 1;
    }
    char name[16 + kTitleSize];
    std::snprintf(name, sizeof name, "Tal Window%s", w->title);
    if (!w->thread)
        w->thread = Tal_CreateObject("Thread", TAL_SetThreadEntry, Tal__HandleWindow, TAL_SetThreadName, name,
                                     TAL_SetThreadStackSize, 32768, TAL_SetUserData, w);
    if (!w->thread || !Tal_DoMethod(w->thread, TAL_Start)) return 0;
    for (int i = 0; i < 500; i++) {
        Forbid();
        bool ready = w->asyncPort != nullptr;
        Permit();
        if (ready) break;
        Delay(1);
    }
    if (!threadRuns(w)) return 0;
    queue(w, TAL_OpenWindow);
    return 1;
}

bool isWindow(ULONG object) {
    auto* o = static_cast<Tal_Object*>(Tal__LockObjectInstanceQuiet(object));
    bool window = o && o->objClass == &windowClass;
    if (o) Tal_UnlockObjectInstance(o);
    return window;
}

void setBox(WindowInstance* w, ULONG id, Tal_Word value) {
    LONG v = LONG(int32_t(uint32_t(value)));
    switch (id) {
    case TAL_SetWindowX:
        w->x = v;
        break;
    case TAL_SetWindowY:
        w->y = v;
        break;
    case TAL_SetWindowW:
        w->width = v;
        break;
    case TAL_SetWindowH:
        w->height = v;
        break;
    }
}

void changeBox(WindowInstance* w, LONG x, LONG y, LONG width, LONG height) {
    if (!Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES)) return;
    if (w->host)
        ChangeWindowBox(w->host, x, y, width, height);
    else {
        w->x = x;
        w->y = y;
        w->width = width;
        w->height = height;
    }
    Tal_ReleaseSemaphore(w->lock);
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry windowMethods[] = {
    ENTRY(TAL_SetWindowTitle, "Tal_SetWindowTitle", TAL_METHOD_SETTER, 0, "%s", nullptr),
    ENTRY(TAL_SetWindowType, "Tal_SetWindowType", TAL_METHOD_SETTER, TAL_GetWindowType, "%ld", nullptr),
    ENTRY(TAL_GetWindowType, "Tal_GetWindowType", TAL_METHOD_GETTER, TAL_SetWindowType, nullptr, "%ld"),
    ENTRY(TAL_SetWindowX, "Tal_SetWindowX", TAL_METHOD_SETTER, TAL_GetWindowX, "%ld", nullptr),
    ENTRY(TAL_GetWindowX, "Tal_GetWindowX", TAL_METHOD_GETTER, TAL_SetWindowX, nullptr, "%ld"),
    ENTRY(TAL_SetWindowY, "Tal_SetWindowY", TAL_METHOD_SETTER, TAL_GetWindowY, "%ld", nullptr),
    ENTRY(TAL_GetWindowY, "Tal_GetWindowY", TAL_METHOD_GETTER, TAL_SetWindowY, nullptr, "%ld"),
    ENTRY(TAL_SetWindowW, "Tal_SetWindowW", TAL_METHOD_SETTER, TAL_GetWindowW, "%ld", nullptr),
    ENTRY(TAL_GetWindowW, "Tal_GetWindowW", TAL_METHOD_GETTER, TAL_SetWindowW, nullptr, "%ld"),
    ENTRY(TAL_SetWindowH, "Tal_SetWindowH", TAL_METHOD_SETTER, TAL_GetWindowH, "%ld", nullptr),
    ENTRY(TAL_GetWindowH, "Tal_GetWindowH", TAL_METHOD_GETTER, TAL_SetWindowH, nullptr, "%ld"),
    ENTRY(TAL_SetWindowDefaultW, "Tal_SetWindowDefaultW", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetWindowDefaultH, "Tal_SetWindowDefaultH", TAL_METHOD_SETTER, 0, "%ld", nullptr),
    ENTRY(TAL_SetWindowPositionID, "Tal_SetWindowPositionID", TAL_METHOD_SETTER, TAL_GetWindowPositionID,
          "%ld", nullptr),
    ENTRY(TAL_GetWindowPositionID, "Tal_GetWindowPositionID", TAL_METHOD_GETTER, TAL_SetWindowPositionID,
          nullptr, "%ld"),
    ENTRY(TAL_OpenWindow, "Tal_OpenWindow", TAL_METHOD_PLAIN, TAL_CloseWindow, nullptr, nullptr),
    ENTRY(TAL_CloseWindow, "Tal_CloseWindow", TAL_METHOD_PLAIN, TAL_OpenWindow, nullptr, nullptr),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

void* Tal_NewWindowClass(const TagItem*) {
    auto* w = static_cast<WindowInstance*>(Tal_AllocObjectMem(&windowClass));
    if (!w) return nullptr;
    w->showCount = 1;
    w->lock = Tal_AllocSemaphore();
    w->header.superObject = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    w->frameGroup = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    w->contents = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    w->children = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    if (!w->lock || !w->header.superObject || !w->frameGroup || !w->contents || !w->children) {
        for (ULONG h : {w->children, w->contents, w->frameGroup, w->header.superObject}) Tal_DisposeObject(h);
        Tal_FreeSemaphore(w->lock);
        Tal_FreeObjectMem(w);
        return nullptr;
    }
    Tal_DoMethod(w->frameGroup, TAL_AddTail, w->contents);
    Tal_DoMethod(w->header.superObject, TAL_AddTail, w->frameGroup);
    if (auto* children = static_cast<Tal_Object*>(Tal_GetObjectInstance(w->children)))
        children->outerObject = w->header.handle;
    InitRastPort(&w->detached);
    w->drawInfo.rastPort = &w->detached;
    w->drawInfo.windowLock = w->lock;
    w->drawInfo.frameWidth = w->drawInfo.frameHeight = 2;
    w->drawInfo.fontHeight = host_FontHeight(host_InterfaceFont());
    w->drawInfo.windowObject = w->header.handle;
    return w;
}

void Tal_DisposeWindowClass(void* instance) {
    auto* w = of(instance);
    // The show count is the event thread's (it may be opening the window now): teardown closes the window
    // whatever the count.
    if (w->thread && threadRuns(w)) {
        if (isEventThread(w)) {
            // The thread tears the window down on its way out.
            Signal(FindTask(nullptr), SIGBREAKF_CTRL_C);
            w->closeRequest = 1;
        } else {
            ULONG thread = w->thread;
            Tal_DoMethod(thread, TAL_Stop); // its exit tears the window down
        }
        return;
    }
    teardown(w);
}

Tal_Word Tal_DoWindowClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* w = of(instance);
    switch (id) {
    case TAL_SetWindowTitle: {
        const char* title = reinterpret_cast<const char*>(args[0]);
        std::snprintf(w->title, sizeof w->title, "%s", title ? title : "");
        if (threadRuns(w)) queue(w, TAL_SetWindowTitle);
        return 1;
    }
    case TAL_SetWindowType:
        w->type = ULONG(args[0]);
        return 1;
    case TAL_GetWindowType:
        return w->type;
    case TAL_SetWindowFlags2:
        w->flags2 = ULONG(args[0]);
        return 1;
    case TAL_GetWindowFlags2:
        return w->flags2;
    case TAL_SetWindowAnchor:
        w->anchor = ULONG(args[0]);
        return 1;
    case TAL_GetWindowAnchor:
        return w->anchor;
    case TAL_SetWindowBox: {
        const auto* tags = reinterpret_cast<const TagItem*>(args[0]);
        for (ULONG tag : {TAL_SetWindowX, TAL_SetWindowY, TAL_SetWindowW, TAL_SetWindowH})
            if (const TagItem* item = FindTagItem(tag, tags)) setBox(w, tag, item->ti_Data);
        return 1;
    }
    case TAL_SetWindowX:
    case TAL_SetWindowY:
    case TAL_SetWindowW:
    case TAL_SetWindowH:
        setBox(w, id, args[0]);
        return 1;
    case TAL_GetWindowX:
        return Tal_Word(intptr_t(w->x));
    case TAL_GetWindowY:
        return Tal_Word(intptr_t(w->y));
    case TAL_GetWindowW:
        return Tal_Word(intptr_t(w->width));
    case TAL_GetWindowH:
        return Tal_Word(intptr_t(w->height));
    case TAL_SetWindowXOffset:
        w->xOffset = LONG(args[0]);
        return 1;
    case TAL_SetWindowYOffset:
        w->yOffset = LONG(args[0]);
        return 1;
    case TAL_SetWindowDefaultW:
        w->defaultWidth = LONG(args[0]);
        return 1;
    case TAL_SetWindowDefaultH:
        w->defaultHeight = LONG(args[0]);
        return 1;
    case TAL_SetWindowHostFlags:
        w->hostFlags = ULONG(args[0]);
        return 1;
    case TAL_BeginWindowDrag:
        w->dragObject = ULONG(args[0]);
        if (w->host) {
            w->dragX = w->host->MouseX;
            w->dragY = w->host->MouseY;
        }
        return 1;
    case TAL_ChangeWindowBox:
        changeBox(w, LONG(args[0]), LONG(args[1]), LONG(args[2]), LONG(args[3]));
        return 1;
    case TAL_SetWindowXAnchor:
        w->xAnchor = ULONG(args[0]);
        return 1;
    case TAL_SetWindowYAnchor:
        w->yAnchor = ULONG(args[0]);
        return 1;
    case TAL_SetWindowPointer:
        w->pointer = ULONG(args[0]);
        if (w->host) Tal_SetCursor(w->host, w->pointer);
        return 1;
    case TAL_GetWindowPointer:
        return w->pointer;
    case TAL_SetWindowPositionID: {
        w->positionId = ULONG(args[0]);
        std::lock_guard guard(rememberedLock);
        if (w->positionId && !rememberedFor(w->positionId)) remembered.push_back({w->positionId, 0, 0, 0, 0});
        return 1;
    }
    case TAL_GetWindowPositionID:
        return w->positionId;
    case TAL_EndRequester:
        return notify(w, args[0] ? TAL_WindowToFront : TAL_CloseWindow, args[0]);
    case TAL_WindowToFront:
    case TAL_WindowToBack:
        queue(w, id);
        return 1;
    case TAL_WindowToBackNow:
        if (Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES)) {
            if (w->host) WindowToBack(w->host);
            Tal_ReleaseSemaphore(w->lock);
        }
        return 1;
    case TAL_GetHostWindow: {
        // The event thread opens and closes the host window under the lock.
        if (!Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES)) return 0;
        Window* host = w->host;
        Tal_ReleaseSemaphore(w->lock);
        return reinterpret_cast<Tal_Word>(host);
    }
    case TAL_SetRequesterButtons:
        w->requesterButtons = ULONG(args[0]);
        return 1;
    case TAL_OpenWindow:
    case TAL_Show:
        if (threadRuns(w) && !isEventThread(w))
            queue(w, TAL_OpenWindow);
        else if (threadRuns(w) || (w->type & 2))
            openHost(w);
        else
            w->showCount--;
        return 1;
    case TAL_CloseWindow:
    case TAL_Hide:
        if (threadRuns(w) && !isEventThread(w))
            queue(w, TAL_CloseWindow);
        else if (threadRuns(w) || (w->type & 2))
            closeHost(w);
        else
            w->showCount++;
        return 1;
    case TAL_ForceShow:
        if (threadRuns(w))
            queue(w, TAL_ForceShow);
        else
            w->showCount = 0;
        return 1;
    case TAL_LockObjectMethod:
        return Tal_ObtainSemaphore(w->lock, TAL_LOCK_RETRIES);
    case TAL_UnlockObjectMethod:
        Tal_ReleaseSemaphore(w->lock);
        return 1;
    case TAL_AskMinMax:
    case TAL_SetBox: {
        Tal_Word result = Tal_DoMethodA(w->header.superObject, id, args);
        if (w->host && id == TAL_AskMinMax) {
            auto* box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(w->header.superObject, TAL_GetBox));
            // The host's pump thread moves and sizes the window under the forbid lock.
            Forbid();
            const LONG left = w->host->LeftEdge, top = w->host->TopEdge;
            const LONG width = w->host->Width, height = w->host->Height;
            Permit();
            if (box->minWidth > width || box->minHeight > height) {
                Screen* s = w->host->WScreen;
                ChangeWindowBox(w->host, left, top,
                                std::min<LONG>(std::max<LONG>(box->minWidth, width), s->Width),
                                std::min<LONG>(std::max<LONG>(box->minHeight, height), s->Height));
            }
            WindowLimits(w->host, box->minWidth, box->minHeight, ULONG(box->maxWidth), ULONG(box->maxHeight));
        }
        return result;
    }
    case TAL_Start: {
        ULONG ok = start(w);
        Tal_DoMethodA(w->header.superObject, id, args);
        return ok;
    }
    case TAL_StoreChildren:
        return Tal_DoMethodA(w->contents, id, args);
    case TAL_SetGroupFrame:
    case TAL_SetGroupOrientation:
    case TAL_SetGroupMargin:
        return Tal_DoMethodA(w->contents, id, args);
    case TAL_AddTail:
    case TAL_RemoveMember:
        return Tal_DoMethodA(isWindow(ULONG(args[0])) ? w->children : w->contents, id, args);
    case TAL_PassWindowType:
        if (!w->type) w->type = ULONG(args[0]);
        return 1;
    default:
        if ((id >> 16) == 0x0047) return Tal_DoMethodA(w->contents, id, args);
        return Tal_DoMethodA(w->header.superObject, id, args);
    }
}

ULONG Tal_InitWindowClass() {
    return Tal__SetupClass(&windowClass, "Window", 0x00090000, "Group", Tal_NewWindowClass,
                           Tal_DisposeWindowClass, Tal_DoWindowClassMethod, windowMethods,
                           sizeof(WindowInstance));
}

void Tal_CleanupWindowClass() {
    Tal__CleanupClass(&windowClass);
}

// ---------------------------------------------------------------------------------------------------
// Drawing contexts.

Tal_DrawInfo* Tal_LockDrawInfoAreaDebug(ULONG object, LONG x, LONG y, LONG w, LONG h, const char*, ULONG) {
    Tal_RootInstance* root = Tal__LockRootInstance(object);
    if (!root) return nullptr;
    Tal_DrawInfo* di = root->header.drawInfo;
    bool hiddenObject = root->box.flags & TAL_BOX_HIDDEN;
    Tal_UnlockObjectInstance(root);
    if (!di || hiddenObject) return nullptr;
    Forbid();
    Task* eventTask = di->eventTask;
    Permit();
    if (eventTask != FindTask(nullptr)) {
        if (!eventTask) return nullptr;
        if (w == 0 && h == 0)
            Tal_DoAsyncMethod(di->windowObject, TAL_DoAsyncMethodMethod, Tal_GetTopMostObject(object),
                              TAL_DrawObject, 0, 0);
        else
            Tal_DoAsyncMethod(di->windowObject, TAL_DoAsyncMethodMethod, object, TAL_DrawArea, x, 0x00010118,
                              y, 0x00010122, w, 0x00010118, h, 0);
        return nullptr;
    }
    if (!di->windowLock || !Tal_ObtainSemaphore(di->windowLock, TAL_LOCK_TRY)) {
        di->pendingRedraws++;
        di->lockMissed = true;
        return nullptr;
    }
    if (!di->window || !di->rastPort) {
        Tal_ReleaseSemaphore(di->windowLock);
        return nullptr;
    }
    root = Tal__LockRootInstance(object);
    if (root) {
        root->box.savedClipRegion = InstallClipRegion(di->rastPort->rp_Layer, root->box.clipRegion);
        di->box = &root->box;
        Tal_UnlockObjectInstance(root);
    }
    return di;
}

void Tal_UnlockDrawInfoDebug(ULONG object, const char*, ULONG) {
    Tal_RootInstance* root = Tal__LockRootInstance(object);
    if (!root) return;
    Tal_DrawInfo* di = root->header.drawInfo;
    if (di && di->rastPort) InstallClipRegion(di->rastPort->rp_Layer, root->box.savedClipRegion);
    root->box.savedClipRegion = nullptr;
    Tal_UnlockObjectInstance(root);
    if (di && di->windowLock) Tal_ReleaseSemaphore(di->windowLock);
}

Tal_DrawInfo* Tal_LockDrawInfoForInspection(ULONG object) {
    Tal_RootInstance* root = Tal__LockRootInstance(object);
    if (!root) return nullptr;
    Tal_DrawInfo* di = root->header.drawInfo;
    Tal_UnlockObjectInstance(root);
    if (!di) return nullptr;
    Tal_DrawInfo* global = inspection.load();
    return global ? global : di;
}

void Tal_UnlockDrawInfoForInspection(ULONG) {}

void Tal__SetInspectionDrawInfo(Tal_DrawInfo* di) {
    inspection = di;
}

void Tal__ClearInspectionDrawInfo(Tal_DrawInfo* di) {
    inspection.compare_exchange_strong(di, nullptr);
}

ULONG Tal_AddGlobalShortcutKeyA(ULONG key, ULONG qualifier, ULONG target, ULONG count,
                                const Tal_Word* words) {
    if (!count || !words) return 0;
    auto* s = static_cast<Shortcut*>(Tal_AllocMemClear(sizeof(Shortcut) + count * sizeof(Tal_Word)));
    if (!s) return 0;
    s->key = key;
    s->qualifier = qualifier;
    s->target = target;
    s->count = count;
    std::copy(words, words + count, s->words);
    SemaphoreGuard guard(&Tal_GetGlobalData()->registryLock);
    AddTail(&Tal_GetGlobalData()->shortcutKeys, &s->node);
    return 1;
}

UWORD Tal_GetQualifier() {
    return host_Intuition()->Qualifier;
}

LONG Tal_GetWidestCharWidth(Tal_DrawInfo* di) {
    return TextLength(di ? di->rastPort : nullptr, "W", 1);
}

void Tal_GetWindowLayoutInfo(Screen*, UBYTE* info) {
    IntuitionBase* i = host_Intuition();
    info[0] = i->BorderLeft;
    info[1] = i->BorderRight;
    info[2] = i->BorderTop;
    info[3] = i->BorderBottom;
}

void Tal_AlignRequestorPosition(ULONG window) {
    if (!Tal_GetGlobalData()->imageBase) return;
    Tal_DoMethod(window, TAL_SetWindowX, 0);
    Tal_DoMethod(window, TAL_SetWindowY, 0);
    Tal_DoMethod(window, TAL_SetWindowW, 240);
    Tal_DoMethod(window, TAL_SetWindowH, 268);
}

void Tal_BeginDragAndDrop(ULONG object) {
    Tal_RootInstance* root = Tal__LockRootInstance(object);
    if (!root) return;
    Tal_DrawInfo* di = root->header.drawInfo;
    Tal_UnlockObjectInstance(root);
    if (di && di->windowObject)
        Tal_DoMethod(di->windowObject, TAL_BeginWindowDrag, Tal_GetTopMostObject(object));
}
