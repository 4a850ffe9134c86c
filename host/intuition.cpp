// The window layer: the screen, windows with their pump threads and input ports, and the window and
// screen procedures that turn host messages into input messages.
//
// Shared state (the active window, the pointer window, the qualifier word, the window list and the
// records' pointer positions) is changed under the forbid lock; the lock is never held while calling into
// the window system.
#include "host/intuition.h"
#include "host/controls.h"
#include "host/display.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <cstdio>
#include <string>
#include <thread>

namespace {

constexpr LONG kBarHeight = 26;
constexpr ULONG kTickTimer = 1;
constexpr ULONG kTickMilliseconds = 100;
constexpr ULONG PM_TEXTENTRY = HM_USER + 1;
constexpr ULONG PM_FULLSCREEN = HM_USER + 2;
constexpr ULONG PM_POPUPMENU = HM_USER + 3;
constexpr ULONG PM_MENUBAR = HM_USER + 4;

std::atomic<host_TextEntryFocusLossHandler> focusLossHandler{nullptr};

IntuitionBase base;
std::atomic<bool> baseReady{false};
Screen* screen = nullptr;
std::mutex screenLock; // opening the screen

void fullScreen(Window* w, bool on);

std::mutex& busyLock = *new std::mutex;
std::condition_variable& busyWake = *new std::condition_variable; // never destroyed: pumps outlive exit

void clearBusy(ULONG& busy) {
    std::lock_guard guard(busyLock);
    Forbid();
    busy = 0;
    Permit();
    busyWake.notify_all();
}

// Set while the action key is down: left-button events carry the right-button codes.
bool actionKey = false;

IntuitionBase* ib() {
    if (!baseReady.load(std::memory_order_acquire)) {
        Forbid();
        if (!baseReady.load()) {
            NewList(&base.Windows);
            host_SetIntuitionBase(&base);
            baseReady.store(true, std::memory_order_release);
        }
        Permit();
    }
    return &base;
}

// Refreshes the shift, control and alt bits of the global qualifier word from the modifier keys a
// message was sent with; returns the whole word.
UWORD refreshQualifier(Tal_Word modifiers) {
    UWORD keys = UWORD(((modifiers & MK_SHIFT) ? IEQUALIFIER_SHIFT : 0) |
                       ((modifiers & MK_CONTROL) ? IEQUALIFIER_CONTROL : 0) |
                       ((modifiers & MK_ALT) ? IEQUALIFIER_ALT : 0));
    Forbid();
    IntuitionBase* i = ib();
    i->Qualifier =
        UWORD((i->Qualifier & ~(IEQUALIFIER_SHIFT | IEQUALIFIER_CONTROL | IEQUALIFIER_ALT)) | keys);
    UWORD q = i->Qualifier;
    Permit();
    return q;
}

void setQualifierBits(UWORD bits, bool on) {
    Forbid();
    if (on)
        ib()->Qualifier |= bits;
    else
        ib()->Qualifier &= UWORD(~bits);
    Permit();
}

bool unionInto(Rectangle& into, const Rectangle& r) {
    into.MinX = std::min(into.MinX, r.MinX);
    into.MinY = std::min(into.MinY, r.MinY);
    into.MaxX = std::max(into.MaxX, r.MaxX);
    into.MaxY = std::max(into.MaxY, r.MaxY);
    return true;
}

// Queues an input message on a window's port. New size, mouse move and changed messages replace an older
// queued one of their class; a refresh absorbs the queued refreshes into the union of their rectangles.
void postInput(Window* w, ULONG cls, UWORD code, const Rectangle* refresh = nullptr,
               bool withPointer = false) {
    if (!w || !w->UserPort) return;
    auto* msg = static_cast<IntuiMessage*>(Tal_AllocMemClear(sizeof(IntuiMessage)));
    if (!msg) return;
    msg->Class = cls;
    msg->Code = code;
    msg->ExecMessage.mn_Length = UWORD(sizeof(IntuiMessage) - sizeof(Message));
    Forbid();
    msg->Qualifier = ib()->Qualifier;
    if (withPointer) {
        msg->MouseX = w->MouseX;
        msg->MouseY = w->MouseY;
    }
    if (refresh) msg->Refresh = *refresh;
    List* queued = &w->UserPort->mp_MsgList;
    bool replaces = cls == IDCMP_NEWSIZE || cls == IDCMP_MOUSEMOVE || cls == IDCMP_CHANGEWINDOW;
    if (replaces || cls == IDCMP_REFRESHWINDOW) {
        for (Node* n = queued->lh_Head; n->ln_Succ;) {
            Node* next = n->ln_Succ;
            auto* old = reinterpret_cast<IntuiMessage*>(n);
            if (old->Class == cls) {
                if (cls == IDCMP_REFRESHWINDOW) unionInto(msg->Refresh, old->Refresh);
                Remove(n);
                Tal_FreeMem(old);
            }
            n = next;
        }
    }
    PutMsg(w->UserPort, &msg->ExecMessage);
    Permit();
}

Window* windowOf(host_Window* hw) {
    return reinterpret_cast<Window*>(host_GetUserData(hw));
}

// The Window a host window belongs to (itself or a control inside it).
Window* windowAt(host_Window* hw) {
    for (; hw; hw = host_GetParent(hw)) {
        if (screen && hw == screen->HostWindow) return nullptr;
        ULONG style = host_GetStyle(hw);
        if (style & (HWS_CHILD | HWS_POPUP)) return windowOf(hw);
    }
    return nullptr;
}

void setPointerWindow(Window* w) {
    Window* old;
    Forbid();
    old = ib()->PointerWindow;
    if (old != w && !(w && w->Busy)) ib()->PointerWindow = w;
    Window* now = ib()->PointerWindow;
    Permit();
    if (old == now) return;
    if (old) {
        postInput(old, IDCMP_POINTERLEFT, 0);
        host_KillTimer(old->HostWindow, kTickTimer);
    }
    if (now) {
        host_SetTimer(now->HostWindow, kTickTimer, kTickMilliseconds);
        host_SetPointerShape(now->Pointer);
    } else {
        host_SetPointerShape(host_Pointer::Arrow);
    }
}

// Makes a window the active one; the old one gets a deactivated and the new one an activated message.
void updateTitleBar();

void activate(Window* w) {
    Forbid();
    Window* old = ib()->ActiveWindow;
    if (w && w->Busy) {
        Permit();
        return;
    }
    ib()->ActiveWindow = w;
    Permit();
    if (old == w) return;
    updateTitleBar();
    if (old) postInput(old, IDCMP_INACTIVEWINDOW, 0);
    if (w) postInput(w, IDCMP_ACTIVEWINDOW, 0);
}

Window* activeWindow() {
    Forbid();
    Window* w = ib()->ActiveWindow;
    Permit();
    return w;
}

// Stores a pointer position given in host-window coordinates into the window, and into the active window
// (converted to its frame) when that is another one.
void storePointer(Window* w, host_Window* hw, LONG x, LONG y, Window* active) {
    host_Rect at = host_GetScreenRect(hw);
    Forbid();
    if (w) {
        w->MouseX = WORD(x + w->BorderLeft);
        w->MouseY = WORD(y + w->BorderTop);
    }
    if (active && active != w && active->HostWindow) {
        Permit();
        host_Rect a = host_GetScreenRect(active->HostWindow);
        Forbid();
        active->MouseX = WORD(at.x + x - a.x);
        active->MouseY = WORD(at.y + y - a.y);
    }
    Permit();
}

void trace(const char* what, Window* w, Window* active, LONG x, LONG y) {
    KPrintF("%s: Window=%ld,Active=%ld  - X=%ld,Y=%ld\n", what, long(w ? w->ObjectHandle : 0),
            long(active ? active->ObjectHandle : 0), long(x), long(y));
}

UWORD rawKeyFor(ULONG vk) {
    switch (vk) {
    case VK_UP:
        return RAWKEY_UP;
    case VK_DOWN:
        return RAWKEY_DOWN;
    case VK_RIGHT:
        return RAWKEY_RIGHT;
    case VK_LEFT:
        return RAWKEY_LEFT;
    default:
        return 0;
    }
}

// Keys and characters, the same for windows and the screen: they go to `target`.
void handleKey(Window* target, ULONG message, Tal_Word key, Tal_Word modifiers) {
    if (!target) return;
    UWORD q = refreshQualifier(modifiers);
    if (message == HM_KEYDOWN) {
        if (key == VK_ACTION) {
            actionKey = true;
            setQualifierBits(IEQUALIFIER_RBUTTON, true);
        }
        if (UWORD raw = rawKeyFor(ULONG(key))) postInput(target, IDCMP_RAWKEY, raw);
        if (key == VK_DELETE) postInput(target, IDCMP_VANILLAKEY, 127);
        postInput(target, IDCMP_RAWKEYDOWN, UWORD(key));
    } else if (message == HM_KEYUP) {
        if (key == VK_ACTION) {
            actionKey = false;
            setQualifierBits(IEQUALIFIER_RBUTTON, false);
        } else {
            postInput(target, IDCMP_RAWKEYUP, UWORD(key));
        }
    } else if (message == HM_CHAR) {
        postInput(target, IDCMP_CHARACTER, UWORD(key));
        if ((q & IEQUALIFIER_CONTROL) && key < 27)
            postInput(target, IDCMP_VANILLAKEY, UWORD(key + ((q & IEQUALIFIER_SHIFT) ? 64 : 96)));
    }
}

void handleButton(Window* w, host_Window* hw, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    LONG x = host_PointX(lParam), y = host_PointY(lParam);
    refreshQualifier(wParam);
    bool down = message == HM_LBUTTONDOWN || message == HM_RBUTTONDOWN || message == HM_MBUTTONDOWN;
    UWORD code;
    UWORD bit;
    if (message == HM_LBUTTONDOWN || message == HM_LBUTTONUP) {
        code = down ? (actionKey ? MENUDOWN : SELECTDOWN) : (actionKey ? MENUUP : SELECTUP);
        bit = actionKey ? 0 : IEQUALIFIER_LEFTBUTTON;
    } else if (message == HM_RBUTTONDOWN || message == HM_RBUTTONUP) {
        code = down ? MENUDOWN : MENUUP;
        bit = IEQUALIFIER_RBUTTON;
    } else {
        code = down ? MIDDLEDOWN : MIDDLEUP;
        bit = IEQUALIFIER_MIDBUTTON;
    }
    bool middle = bit == IEQUALIFIER_MIDBUTTON;
    if (down) {
        if (middle && activeWindow() != w) return;
        host_SetCapture(hw);
        host_SetFocus(hw);
        if (bit) setQualifierBits(bit, true);
        if (activeWindow() != w && !w->Busy) {
            activate(w);
            if (screen) host_SetFocus(screen->HostWindow);
            host_BringToTop(hw);
        }
        if (activeWindow() == w) {
            storePointer(w, hw, x, y, nullptr);
            postInput(w, IDCMP_MOUSEBUTTONS, code, nullptr, true);
        }
        return;
    }
    host_ReleaseCapture();
    if (bit) setQualifierBits(bit, false);
    Window* active = activeWindow();
    if (middle && active != w) return;
    storePointer(w, hw, x, y, active);
    postInput(active, IDCMP_MOUSEBUTTONS, code, nullptr, true);
    if (!middle) trace(message == HM_LBUTTONUP ? "LButtonUp" : "RButtonUp", w, active, x, y);
}

void handleMove(Window* w, host_Window* hw, Tal_Word wParam, Tal_Word lParam) {
    LONG x = host_PointX(lParam), y = host_PointY(lParam);
    refreshQualifier(wParam);
    setPointerWindow(w);
    Window* active = activeWindow();
    storePointer(w, hw, x, y, active);
    postInput(active ? active : w, IDCMP_MOUSEMOVE, 0, nullptr, true);
}

Tal_Word windowProc(host_Window* hw, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    Window* w = windowOf(hw);
    if (!w) return 0;
    switch (message) {
    case HM_DESTROY:
        host_PostQuitMessage();
        return 0;
    case HM_PAINT: {
        LONG x = host_PointX(wParam), y = host_PointY(wParam), width = host_PointX(lParam),
             height = host_PointY(lParam);
        Rectangle r{WORD(x + w->BorderLeft), WORD(y + w->BorderTop), WORD(x + width + w->BorderLeft),
                    WORD(y + height + w->BorderTop)};
        postInput(w, IDCMP_REFRESHWINDOW, 0, &r);
        return 0;
    }
    case HM_CLOSE:
        postInput(w, IDCMP_CLOSEWINDOW, 0);
        return 0;
    case HM_WINDOWPOSCHANGED: {
        host_Rect r = host_GetRect(hw);
        Forbid();
        bool changed = r.x != w->LeftEdge || r.y != w->TopEdge || r.w != w->Width || r.h != w->Height;
        w->LeftEdge = WORD(r.x);
        w->TopEdge = WORD(r.y);
        w->Width = WORD(r.w);
        w->Height = WORD(r.h);
        Permit();
        if (changed) postInput(w, IDCMP_NEWSIZE, 0);
        Window* active = activeWindow();
        KPrintF("WM_WINDOWPOSCHANGED: Window=%ld,Active=%ld  - X=%ld,Y=%ld\n", long(w->ObjectHandle),
                long(active ? active->ObjectHandle : 0), long(r.x), long(r.y));
        return 0;
    }
    case HM_KEYDOWN:
    case HM_KEYUP:
    case HM_CHAR:
        if (activeWindow()) handleKey(w, message, wParam, lParam);
        return 0;
    case HM_COMMAND:
        // A text-entry control lost the focus: its object hears it in the window's thread.
        if ((wParam >> 16) == 512 && w->ObjectHandle) {
            ULONG control = ULONG(host_GetUserData(reinterpret_cast<host_Window*>(lParam)));
            if (auto handler = focusLossHandler.load(); control && handler) handler(w->ObjectHandle, control);
        }
        return 0;
    case HM_TIMER: {
        Forbid();
        bool pointer = ib()->PointerWindow == w;
        Permit();
        if (pointer) postInput(w, IDCMP_INTUITICKS, 0, nullptr, true);
        return 0;
    }
    case HM_MOUSEMOVE:
        handleMove(w, hw, wParam, lParam);
        return 0;
    case PM_TEXTENTRY: {
        const auto* box = reinterpret_cast<const host_Rect*>(lParam);
        static std::atomic<ULONG> nextId{100};
        return reinterpret_cast<Tal_Word>(host_CreateEditControl(
            hw, {box->x + w->BorderLeft, box->y + w->BorderTop, box->w, box->h}, ULONG(wParam), nextId++));
    }
    case PM_FULLSCREEN:
        fullScreen(w, wParam != 0);
        return 0;
    case HM_LBUTTONDOWN:
    case HM_LBUTTONUP:
    case HM_RBUTTONDOWN:
    case HM_RBUTTONUP:
    case HM_MBUTTONDOWN:
    case HM_MBUTTONUP:
        handleButton(w, hw, message, wParam, lParam);
        return 0;
    default:
        return 0;
    }
}

void windowPump(Window* w) {
    host_SetThreadName("Tal Window pump");
    host_WindowDesc desc;
    desc.parent = screen ? screen->HostWindow : nullptr;
    desc.rect = {w->LeftEdge, w->TopEdge, w->Width, w->Height};
    desc.style = (w->Flags & WFLG_POPUP) ? HWS_POPUP : HWS_CHILD;
    desc.proc = windowProc;
    desc.createParam = reinterpret_cast<Tal_Word>(w);
    desc.name = w->Title;
    host_Window* hw = host_CreateWindow(desc);
    if (hw) {
        InitRastPort(w->RPort);
        w->RPort->rp_Layer = host_GetLayer(hw);
        w->RPort->rp_Screen = w->WScreen;
        w->RPort->rp_Window = w;
        w->RPort->TxHeight = UWORD(host_FontHeight(host_InterfaceFont()));
        SetAPen(w->RPort, 0);
        host_BringToTop(hw);
    }
    Forbid();
    w->HostWindow = hw;
    if (hw) {
        AddTail(&ib()->Windows, &w->node);
        if (!(w->Flags & WFLG_POPUP)) ib()->ActiveWindow = w;
    }
    Permit();
    updateTitleBar();
    // Activation refuses busy windows: it comes once the window is fully open.
    clearBusy(w->Busy);
    if (hw && (w->Flags & WFLG_ACTIVATE)) {
        Forbid();
        ib()->ActiveWindow = nullptr;
        Permit();
        activate(w);
        // Keys typed now are for it (a requester answers Enter at once).
        host_SetFocus(hw);
    }
    if (!hw) return;
    HostMessage m;
    while (host_GetMessage(&m)) host_DispatchMessage(m);
    host_DestroyWindow(hw);
    clearBusy(w->Busy);
}

// ---------------------------------------------------------------------------------------------------
// The screen.

ULONG mainWindowObject = 0; // guarded by the forbid lock
std::atomic<const host_MenuBarResource*> menuBarResource{nullptr};
host_Window* titleBar = nullptr;
std::atomic<host_Window*> menuBar{nullptr};

void createScreenBars(host_Window* screenWindow, const char* title) {
    titleBar = host_CreateTitleBar(title, screenWindow);
    if (const host_MenuBarResource* bar = menuBarResource) menuBar = host_CreateMenuBar(bar, screenWindow);
}

// The open window of the main window's object (under the forbid lock).
Window* mainWindow() {
    if (!mainWindowObject) return nullptr;
    for (Window* w : ListNodes<Window>(&ib()->Windows))
        if (w->ObjectHandle == mainWindowObject && !w->Busy) return w;
    return nullptr;
}

// The title bar shows the active window's screen title, or the screen's own.
void updateTitleBar() {
    std::string text;
    Forbid();
    host_Window* bar = titleBar;
    const Window* active = ib()->ActiveWindow;
    if (active && active->ScreenTitle)
        text = active->ScreenTitle;
    else if (screen && screen->Title)
        text = screen->Title;
    Permit();
    if (bar) host_SetTitleBarText(bar, text.c_str());
}

// Calls `item` for every menu of the screen's menu bar and `button` when the command is one of its buttons.
template <typename Item, typename Button>
void forScreenCommand(ULONG command, Item item, Button button) {
    host_Window* bar = menuBar;
    const host_MenuBarResource* resource = menuBarResource;
    if (!bar || !resource) return;
    for (ULONG i = 0; i < resource->count; i++) {
        const host_MenuBarButtonResource& b = resource->buttons[i];
        if (b.command == command) button(bar);
        if (host_Menu* menu = b.kind == HMB_MENU ? host_MenuBarMenu(bar, b.command) : nullptr) item(menu);
    }
}

// Full screen: the bars go and the screen window and the window cover the whole screen; off again, the
// bars come back and the window gets its size back.
host_Rect beforeFullScreen{};

void fullScreen(Window* w, bool on) {
    LONG width = host_ScreenWidth(), height = host_ScreenHeight();
    if (on) beforeFullScreen = host_GetRect(w->HostWindow);
    if (titleBar) host_ShowWindow(titleBar, !on);
    if (menuBar) host_ShowMenuBar(menuBar, !on);
    if (screen && screen->HostWindow)
        host_SetWindowRect(screen->HostWindow, on ? host_Rect{0, 0, width, height}
                                                  : host_Rect{0, kBarHeight, width, height - 2 * kBarHeight});
    host_SetWindowRect(w->HostWindow, on ? host_Rect{0, 0, width, height} : beforeFullScreen);
}
host_CopyDataHandler copyDataHandler = nullptr;

// What the screen does with messages that are not input: closing, menu commands, data from another
// instance of the program, help, and the pop-up menus it shows for windows.
Tal_Word screenMessage(host_Window* hw, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    switch (message) {
    case HM_CLOSE: {
        Forbid();
        Window* main = mainWindow();
        if (main) postInput(main, IDCMP_CLOSEWINDOW, 0);
        Permit();
        if (!main)
            if (host_QuitHandler quit = host_GetQuitHandler()) quit();
        return 0;
    }
    case HM_COMMAND: {
        Forbid();
        Window* main = mainWindow();
        if (main) postInput(main, IDCMP_MENUCOMMAND, UWORD(wParam));
        Permit();
        if (!main) KPrintF("menu command %ld: no main window\n", long(wParam));
        return 0;
    }
    case HM_COPYDATA: {
        auto* data = reinterpret_cast<host_CopyData*>(lParam);
        if (data && copyDataHandler) copyDataHandler(data);
        Tal_FreeMem(data);
        return 0;
    }
    case HM_HELP:
        host_OpenHelp();
        return 0;
    case PM_MENUBAR: // a new menu bar (or none) for the screen
        if (host_Window* old = menuBar.exchange(nullptr)) host_DestroyWindow(old);
        if (const host_MenuBarResource* bar = menuBarResource) menuBar = host_CreateMenuBar(bar, hw);
        return 0;
    case PM_POPUPMENU:
        return host_TrackPopupMenu(reinterpret_cast<const host_Menu*>(wParam), host_PointX(lParam),
                                   host_PointY(lParam));
    default:
        return 0;
    }
}

Tal_Word screenProc(host_Window* hw, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    switch (message) {
    case HM_PAINT: {
        RastPort rp;
        InitRastPort(&rp);
        rp.rp_Layer = host_GetLayer(hw);
        host_Rect r = host_GetRect(hw);
        SetAPen(&rp, 0);
        RectFill(&rp, 0, 0, r.w - 1, r.h - 1);
        return 0;
    }
    case HM_KEYDOWN:
    case HM_KEYUP:
    case HM_CHAR:
        handleKey(activeWindow(), message, wParam, lParam);
        return 0;
    case HM_MOUSEMOVE: {
        Forbid();
        Window* pointer = ib()->PointerWindow;
        Permit();
        if (pointer) setPointerWindow(nullptr);
        KPrintF("Screen MouseMove: Active=%ld  - X=%ld,Y=%ld\n",
                long(activeWindow() ? activeWindow()->ObjectHandle : 0), long(host_PointX(lParam)),
                long(host_PointY(lParam)));
        return 0;
    }
    default:
        return screenMessage(hw, message, wParam, lParam);
    }
}

void screenPump(Screen* s) {
    host_SetThreadName("Velura screen");
    LONG width = host_ScreenWidth(), height = host_ScreenHeight();
    host_WindowDesc desc;
    desc.rect = {0, kBarHeight, width, height - 2 * kBarHeight};
    desc.proc = screenProc;
    desc.createParam = reinterpret_cast<Tal_Word>(s);
    desc.name = "VeluraMainWindow";
    host_Window* hw = host_CreateWindow(desc);
    if (hw) {
        InitRastPort(&s->RastPort);
        s->RastPort.rp_Layer = host_GetLayer(hw);
        s->RastPort.rp_Screen = s;
        s->FontHeight = host_FontHeight(host_InterfaceFont());
        s->RastPort.TxHeight = UWORD(s->FontHeight);
        createScreenBars(hw, s->Title);
    }
    Forbid();
    s->HostWindow = hw;
    Permit();
    clearBusy(s->Busy);
    HostMessage m;
    while (hw && host_GetMessage(&m)) host_DispatchMessage(m);
}

// Waits until a pump thread clears a busy flag. A condition variable rather than Delay steps: the waiting
// thread is busy, not idle, for anyone who waits for the program to settle.
void waitWhileBusy(const ULONG& busy) {
    std::unique_lock guard(busyLock);
    busyWake.wait(guard, [&] {
        Forbid();
        bool b = busy != 0;
        Permit();
        return !b;
    });
}

} // namespace

IntuitionBase* host_Intuition() {
    return ib();
}

void host_SetMainWindowObject(ULONG objectHandle) {
    Forbid();
    mainWindowObject = objectHandle;
    Permit();
}

void host_SetScreenMenuBar(const host_MenuBarResource* resource) {
    std::lock_guard guard(screenLock);
    menuBarResource = resource;
    if (screen && screen->HostWindow) host_SendMessage(screen->HostWindow, PM_MENUBAR, 0, 0);
}

bool host_IsScreenCommandShown(ULONG command) {
    bool shown = false;
    forScreenCommand(
        command,
        [&](host_Menu* menu) {
            const ULONG flags = host_GetMenuItemFlags(menu, command);
            shown = shown || (flags != HMF_NOTFOUND && !(flags & HMF_HIDDEN));
        },
        [&](host_Window* bar) { shown = shown || host_IsMenuBarButtonShown(bar, command); });
    return shown;
}

bool host_IsScreenCommandEnabled(ULONG command) {
    bool enabled = false;
    forScreenCommand(
        command,
        [&](host_Menu* menu) {
            const ULONG flags = host_GetMenuItemFlags(menu, command);
            enabled = enabled || (flags != HMF_NOTFOUND && !(flags & HMF_GREYED));
        },
        [&](host_Window* bar) { enabled = enabled || host_IsMenuBarButtonEnabled(bar, command); });
    return enabled;
}

bool host_GetScreenTitle(char* buffer, ULONG size) {
    Forbid();
    host_Window* bar = titleBar;
    Permit();
    return bar && host_GetTitleBarText(bar, buffer, size);
}

void host_ShowScreenCommand(ULONG command, bool show) {
    forScreenCommand(
        command, [&](host_Menu* menu) { host_ShowMenuItem(menu, command, show); },
        [&](host_Window* bar) { host_ShowMenuBarButton(bar, command, show); });
}

void host_EnableScreenCommand(ULONG command, bool enable) {
    forScreenCommand(
        command, [&](host_Menu* menu) { host_EnableMenuItem(menu, command, enable); },
        [&](host_Window* bar) { host_EnableMenuBarButton(bar, command, enable); });
}

void host_SetCopyDataHandler(host_CopyDataHandler handler) {
    copyDataHandler = handler;
}

bool host_SendCopyData(ULONG id, const void* data, size_t size) {
    Screen* s = LockPubScreen();
    if (!s || size > 0xFFFFFF) return false;
    auto* copy = static_cast<host_CopyData*>(Tal_AllocMem(sizeof(host_CopyData) + size + 1));
    if (!copy) return false;
    copy->id = id;
    copy->size = ULONG(size);
    std::memcpy(copy->data, data, size);
    copy->data[size] = 0;
    if (!host_PostMessage(s->HostWindow, HM_COPYDATA, 0, reinterpret_cast<Tal_Word>(copy))) {
        Tal_FreeMem(copy);
        return false;
    }
    return true;
}

Screen* OpenScreenTagList(void*, const TagItem* tags) {
    std::lock_guard guard(screenLock);
    if (screen) return screen;
    ib();
    init_graphics();
    auto* s = static_cast<Screen*>(Tal_AllocMemClear(sizeof(Screen)));
    if (!s) return nullptr;
    const char* title = reinterpret_cast<const char*>(GetTagData(SA_Title, 0, tags));
    s->Title = Tal_StrDup(title ? title : "Velura");
    s->LeftEdge = 0;
    s->TopEdge = 0;
    s->Width = WORD(host_ScreenWidth());
    s->Height = WORD(host_ScreenHeight() - 2 * kBarHeight);
    s->BackgroundColour = 0xFFFFFF;
    s->Colours[0] = 0;
    s->Colours[1] = 0xFFFFFF;
    s->Colours[2] = 0xFFB43C;
    host_SetScreenPenColour(0, s->BackgroundColour);
    s->Busy = 1;
    try {
        std::thread(screenPump, s).detach();
    } catch (...) {
        Tal_FreeMem(s->Title);
        Tal_FreeMem(s);
        return nullptr;
    }
    waitWhileBusy(s->Busy);
    if (!s->HostWindow) {
        Tal_FreeMem(s->Title);
        Tal_FreeMem(s);
        return nullptr;
    }
    Forbid();
    ib()->FirstScreen = s;
    Permit();
    screen = s;
    return s;
}

ULONG CloseScreen(Screen* s) {
    std::lock_guard guard(screenLock);
    if (!s) return 1;
    if (s->HostWindow) host_PostQuitToOwner(s->HostWindow);
    // The record stays until the process ends: the pump may still be finishing with it.
    return 1;
}

Screen* LockPubScreen(const char*) {
    return OpenScreenTagList(nullptr, nullptr);
}
void UnlockPubScreen(const char*, Screen*) {}

Window* OpenWindowTagList(void*, const TagItem* tags) {
    Screen* s = reinterpret_cast<Screen*>(GetTagData(WA_PubScreen, 0, tags));
    if (!s) s = reinterpret_cast<Screen*>(GetTagData(WA_CustomScreen, 0, tags));
    if (!s) s = LockPubScreen();
    if (!s) return nullptr;
    // Sizes that do not fit the record give no window rather than a wrapped one.
    LONG width = LONG(GetTagData(WA_Width, 0, tags)), height = LONG(GetTagData(WA_Height, 0, tags));
    if (FindTagItem(WA_InnerWidth, tags)) width = LONG(GetTagData(WA_InnerWidth, 0, tags));
    if (FindTagItem(WA_InnerHeight, tags)) height = LONG(GetTagData(WA_InnerHeight, 0, tags));
    if (width < 0 || height < 0 || width > 32767 || height > 32767) return nullptr;
    auto* w = static_cast<Window*>(Tal_AllocMemClear(sizeof(Window)));
    if (!w) return nullptr;
    w->LeftEdge = WORD(GetTagData(WA_Left, 0, tags));
    w->TopEdge = WORD(GetTagData(WA_Top, 0, tags));
    w->Width = WORD(width);
    w->Height = WORD(height);
    w->IDCMPFlags = ULONG(GetTagData(WA_IDCMP, 0, tags));
    w->Flags = ULONG(GetTagData(WA_Flags, 0, tags));
    const char* title = reinterpret_cast<const char*>(GetTagData(WA_Title, 0, tags));
    w->Title = Tal_StrDup(title ? title : "");
    w->ObjectHandle = ULONG(GetTagData(WA_ObjectHandle, 0, tags));
    w->WScreen = s;
    w->MaxWidth = w->MaxHeight = 32767;
    w->RefreshRect = {32767, 32767, 0, 0};
    w->Pointer = host_Pointer::Arrow;
    w->RPort = static_cast<RastPort*>(Tal_AllocMemClear(sizeof(RastPort)));
    w->UserPort = CreateMsgPort();
    if (!w->Title || !w->RPort || !w->UserPort) {
        DeleteMsgPort(w->UserPort);
        Tal_FreeMem(w->RPort);
        Tal_FreeMem(w->Title);
        Tal_FreeMem(w);
        return nullptr;
    }
    w->Busy = 1;
    try {
        std::thread(windowPump, w).detach();
    } catch (...) {
        w->Busy = 0;
    }
    waitWhileBusy(w->Busy);
    if (!w->HostWindow) {
        DeleteMsgPort(w->UserPort);
        Tal_FreeMem(w->RPort);
        Tal_FreeMem(w->Title);
        Tal_FreeMem(w);
        return nullptr;
    }
    return w;
}

void CloseWindow(Window* w) {
    if (!w) return;
    Forbid();
    w->Busy = 1;
    const bool wasActive = ib()->ActiveWindow == w;
    if (wasActive) ib()->ActiveWindow = nullptr;
    bool wasPointer = ib()->PointerWindow == w;
    if (wasPointer) ib()->PointerWindow = nullptr;
    Permit();
    if (wasPointer) host_SetPointerShape(host_Pointer::Arrow);
    host_PostQuitToOwner(w->HostWindow);
    waitWhileBusy(w->Busy);
    Forbid();
    Remove(&w->node);
    // The window opened last of those that take the activation (not a tooltip or a drag window) is active
    // again, keys included, as it was before this one came: a requester closed leaves no window deaf.
    Window* next = nullptr;
    if (wasActive)
        for (Window* o : ListNodes<Window>(&ib()->Windows))
            if (!o->Busy && o->HostWindow && (!(o->Flags & WFLG_POPUP) || (o->Flags & WFLG_ACTIVATE)))
                next = o;
    Permit();
    if (next) {
        activate(next);
        host_SetFocus(next->HostWindow);
    }
    updateTitleBar();
    DeleteMsgPort(w->UserPort);
    Tal_FreeMem(w->RPort);
    Tal_FreeMem(w->Title);
    Tal_FreeMem(w->ScreenTitle);
    Tal_FreeMem(w);
}

void ChangeWindowBox(Window* w, LONG left, LONG top, LONG width, LONG height) {
    if (w) host_SetWindowRect(w->HostWindow, {left, top, width, height});
}

ULONG WindowLimits(Window* w, LONG minWidth, LONG minHeight, ULONG maxWidth, ULONG maxHeight) {
    if (!w) return 0;
    Forbid();
    w->MinWidth = WORD(minWidth);
    w->MinHeight = WORD(minHeight);
    w->MaxWidth = WORD(std::min<ULONG>(maxWidth, 32767));
    w->MaxHeight = WORD(std::min<ULONG>(maxHeight, 32767));
    Permit();
    return 1;
}

void ActivateWindow(Window* w) {
    if (w) host_ShowWindow(w->HostWindow, true);
}

void WindowToFront(Window* w) {
    if (!w) return;
    host_ShowWindow(w->HostWindow, true);
    host_BringToTop(w->HostWindow);
}

void WindowToBack(Window*) {}

void SetWindowTitles(Window* w, const char* title, const char* screenTitle) {
    if (!w) return;
    char* newTitle = title ? Tal_StrDup(title) : nullptr;
    char* newScreenTitle = screenTitle ? Tal_StrDup(screenTitle) : nullptr;
    Forbid();
    char* oldTitle = nullptr;
    if (newTitle) {
        oldTitle = w->Title;
        w->Title = newTitle;
    }
    char* oldScreenTitle = w->ScreenTitle;
    w->ScreenTitle = newScreenTitle;
    Permit();
    Tal_FreeMem(oldTitle);
    Tal_FreeMem(oldScreenTitle);
    updateTitleBar();
}

Window* Tal_FindWindowUnderMouse(Window* w) {
    if (!w || !w->HostWindow) return nullptr;
    host_Rect at = host_GetScreenRect(w->HostWindow);
    Forbid();
    LONG x = at.x + w->MouseX - w->BorderLeft, y = at.y + w->MouseY - w->BorderTop;
    Permit();
    return windowAt(host_WindowFromPoint(x, y));
}

void Tal_GrabMousePointer(Window* w) {
    if (w) host_SetCapture(w->HostWindow);
}

void Tal_UngrabMousePointer(Window*) {
    host_ReleaseCapture();
}

void BeginRefresh(Window* w) {
    if (w) host_BeginRefresh(host_GetLayer(w->HostWindow), w->RefreshRect);
}

void EndRefresh(Window* w, ULONG) {
    if (!w) return;
    host_EndRefresh(host_GetLayer(w->HostWindow));
    w->RefreshRect = {32767, 32767, 0, 0};
}

ULONG Tal_SetCursor(Window* w, ULONG shape) {
    if (!w) return 0;
    host_Pointer pointer = host_PointerForShape(shape);
    Forbid();
    bool changed = w->Pointer != pointer;
    w->Pointer = pointer;
    bool current = ib()->PointerWindow == w;
    Permit();
    if (changed && current) host_SetPointerShape(pointer);
    return 1;
}

void ScrollWindowRaster(Window* w, LONG dx, LONG dy, LONG x0, LONG y0, LONG x1, LONG y1) {
    if (!w) return;
    Rectangle exposed;
    host_ScrollLayer(host_GetLayer(w->HostWindow), dx, dy, x0, y0, x1, y1, &exposed);
    if (exposed.MinX <= exposed.MaxX && exposed.MinY <= exposed.MaxY) {
        host_Rect r{exposed.MinX, exposed.MinY, exposed.MaxX - exposed.MinX + 1,
                    exposed.MaxY - exposed.MinY + 1};
        host_Invalidate(w->HostWindow, &r);
    }
}

void host_SetTextEntryFocusLossHandler(host_TextEntryFocusLossHandler handler) {
    focusLossHandler = handler;
}

host_Window* host_CreateTextEntry(Window* w, LONG x, LONG y, LONG width, LONG height, ULONG style) {
    if (!w) return nullptr;
    host_Rect box{x, y, width, height};
    return reinterpret_cast<host_Window*>(
        host_SendMessage(w->HostWindow, PM_TEXTENTRY, style, reinterpret_cast<Tal_Word>(&box)));
}

void host_FullScreen(Window* w, bool on) {
    if (w) host_SendMessage(w->HostWindow, PM_FULLSCREEN, on ? 1 : 0, 0);
}

ULONG host_PopUpMenu(const host_Menu* menu, LONG x, LONG y) {
    Screen* s = LockPubScreen();
    if (!s) return 0;
    return ULONG(host_SendMessage(s->HostWindow, PM_POPUPMENU, reinterpret_cast<Tal_Word>(menu),
                                  host_MakePoint(x, y)));
}
