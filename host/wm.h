// The in-process window system: host windows with retained surfaces on one logical screen, per-thread
// message queues, focus, capture, timers, input routing and the composition of the screen.
//
// Every host window belongs to the thread that created it; that thread's queue receives the window's
// messages and its pump (host_GetMessage / host_DispatchMessage) calls the window procedure. Positions are
// relative to the parent's top-left corner (top-level windows: the logical screen).
#pragma once

#include "host/graphics.h"
#include "host/surface.h"

struct host_Window;

// Host messages.
constexpr ULONG HM_CREATE = 0x0001;
constexpr ULONG HM_DESTROY = 0x0002;
constexpr ULONG HM_SETFOCUS = 0x0007;
constexpr ULONG HM_KILLFOCUS = 0x0008;
constexpr ULONG HM_PAINT = 0x000F;
constexpr ULONG HM_CLOSE = 0x0010;
constexpr ULONG HM_QUIT = 0x0012;
constexpr ULONG HM_WINDOWPOSCHANGED = 0x0047;
constexpr ULONG HM_COPYDATA = 0x004A;
constexpr ULONG HM_HELP = 0x0053;
constexpr ULONG HM_KEYDOWN = 0x0100;
constexpr ULONG HM_KEYUP = 0x0101;
constexpr ULONG HM_CHAR = 0x0102;
constexpr ULONG HM_COMMAND = 0x0111;
constexpr ULONG HM_TIMER = 0x0113;
constexpr ULONG HM_MOUSEMOVE = 0x0200;
constexpr ULONG HM_LBUTTONDOWN = 0x0201;
constexpr ULONG HM_LBUTTONUP = 0x0202;
constexpr ULONG HM_RBUTTONDOWN = 0x0204;
constexpr ULONG HM_RBUTTONUP = 0x0205;
constexpr ULONG HM_MBUTTONDOWN = 0x0207;
constexpr ULONG HM_MBUTTONUP = 0x0208;
constexpr ULONG HM_CAPTURECHANGED = 0x0215;
constexpr ULONG HM_USER = 0x0400;

// Virtual keys the program compares.
constexpr ULONG VK_BACK = 8;
constexpr ULONG VK_TAB = 9;
constexpr ULONG VK_RETURN = 13;
constexpr ULONG VK_SHIFT = 16;
constexpr ULONG VK_CONTROL = 17;
constexpr ULONG VK_MENU = 18; // alt
constexpr ULONG VK_ESCAPE = 27;
constexpr ULONG VK_SPACE = 32;
constexpr ULONG VK_END = 35;
constexpr ULONG VK_HOME = 36;
constexpr ULONG VK_LEFT = 37;
constexpr ULONG VK_UP = 38;
constexpr ULONG VK_RIGHT = 39;
constexpr ULONG VK_DOWN = 40;
constexpr ULONG VK_DELETE = 46;
constexpr ULONG VK_F1 = 112;
constexpr ULONG VK_ACTION = 134; // the handheld's action key

// Mouse messages carry the point in the window's coordinates in lParam, and the buttons in wParam.
constexpr ULONG MK_LBUTTON = 1;
constexpr ULONG MK_RBUTTON = 2;
constexpr ULONG MK_SHIFT = 4;
constexpr ULONG MK_CONTROL = 8;
constexpr ULONG MK_MBUTTON = 16;
constexpr ULONG MK_ALT = 32;
// Key and character messages carry the modifier keys held when they were sent (MK_SHIFT, MK_CONTROL,
// MK_ALT) in lParam, so that a queued message reports its own state, not the keyboard's at handling.
inline Tal_Word host_MakePoint(LONG x, LONG y) { return Tal_Word(UWORD(x)) | (Tal_Word(UWORD(y)) << 16); }
inline LONG host_PointX(Tal_Word lp) { return WORD(lp & 0xFFFF); }
inline LONG host_PointY(Tal_Word lp) { return WORD((lp >> 16) & 0xFFFF); }

struct host_Rect {
    LONG x, y, w, h;
    bool contains(LONG px, LONG py) const { return px >= x && py >= y && px < x + w && py < y + h; }
};

struct HostMessage {
    host_Window* window;
    ULONG message;
    Tal_Word wParam;
    Tal_Word lParam;
};

using host_WindowProc = Tal_Word (*)(host_Window* window, ULONG message, Tal_Word wParam, Tal_Word lParam);

// Styles.
constexpr ULONG HWS_CHILD = 0x1;   // an ordinary window inside its parent
constexpr ULONG HWS_POPUP = 0x2;   // a pop-up: a window of the program without a frame of its own
constexpr ULONG HWS_CONTROL = 0x4; // a control inside a window (takes the focus)
constexpr ULONG HWS_SHELL = 0x8;   // part of the screen's shell (title and menu bars, menus, message boxes)
constexpr ULONG HWS_HIDDEN = 0x10; // created invisible

struct host_WindowDesc {
    host_Window* parent = nullptr;
    host_Rect rect{0, 0, 1, 1};
    ULONG style = 0;
    host_WindowProc proc = nullptr;
    Tal_Word createParam = 0; // handed to HM_CREATE in lParam, and kept as the user word
    const char* name = "";
};

// The logical screen. Set up once by the back end before windows open.
void host_InitWindowSystem(LONG width, LONG height);
void host_CleanupWindowSystem();
LONG host_ScreenWidth();
LONG host_ScreenHeight();

// Windows. host_CreateWindow sends HM_CREATE (in the calling thread, whose queue the window joins) and
// returns none when a surface cannot be had or HM_CREATE returns (Tal_Word)-1. host_DestroyWindow sends
// HM_DESTROY to the window and its children and releases them; call it from the owning thread.
host_Window* host_CreateWindow(const host_WindowDesc& desc);
void host_DestroyWindow(host_Window* window);
bool host_IsWindow(host_Window* window);

// What a window's procedure and drawing need.
Tal_Word host_GetUserData(host_Window* window);
void host_SetUserData(host_Window* window, Tal_Word data);
Layer* host_GetLayer(host_Window* window); // drawing into it shows on the screen
host_Rect host_GetRect(host_Window* window); // relative to the parent
host_Rect host_GetScreenRect(host_Window* window);
host_Window* host_GetParent(host_Window* window);
ULONG host_GetStyle(host_Window* window);
const char* host_GetName(host_Window* window);

// Moves and sizes (the surface keeps what fits); posts HM_WINDOWPOSCHANGED when anything changed, and
// HM_PAINT for the whole window when the size changed.
void host_SetWindowRect(host_Window* window, const host_Rect& rect);
void host_ShowWindow(host_Window* window, bool show);
bool host_IsVisible(host_Window* window);
void host_BringToTop(host_Window* window);
// Asks for HM_PAINT (coalesced; the whole window when rect is none).
void host_Invalidate(host_Window* window, const host_Rect* rect = nullptr);

// Focus (keys go there), capture (all mouse input goes there), key states.
void host_SetFocus(host_Window* window);
host_Window* host_GetFocus();
void host_SetCapture(host_Window* window);
void host_ReleaseCapture();
host_Window* host_GetCapture();
bool host_IsKeyDown(ULONG vk);
// The window whose (visible) area holds the point of the logical screen, children first.
host_Window* host_WindowFromPoint(LONG x, LONG y);
// A modal window (message box): while one is up, input to windows outside it is dropped.
void host_PushModal(host_Window* window);
void host_PopModal(host_Window* window);

// Messages.
bool host_PostMessage(host_Window* window, ULONG message, Tal_Word wParam, Tal_Word lParam);
// Calls the procedure in the owning thread and returns its result; while waiting, the caller goes on
// serving messages sent to its own windows, so two threads may send to each other.
Tal_Word host_SendMessage(host_Window* window, ULONG message, Tal_Word wParam, Tal_Word lParam);
// The calling thread's next message; false after HM_QUIT. Paint and timer messages come when nothing
// else is queued; mouse moves are coalesced.
bool host_GetMessage(HostMessage* message);
// The same without waiting; false when nothing is queued.
bool host_PeekMessage(HostMessage* message);
Tal_Word host_DispatchMessage(const HostMessage& message);
void host_PostQuitMessage(); // to the calling thread's queue
void host_PostQuitToOwner(host_Window* window);
// A timer: HM_TIMER with the id every `milliseconds` until killed.
void host_SetTimer(host_Window* window, ULONG id, ULONG milliseconds);
void host_KillTimer(host_Window* window, ULONG id);

// Input from the back end, in logical screen coordinates. Routed like a host would: mouse input to the
// capture window or the window under the pointer, keys and characters to the focus window.
void host_InjectMouseMove(LONG x, LONG y);
void host_InjectButton(int button, bool down, LONG x, LONG y); // 0 left, 1 right, 2 middle
void host_InjectKey(ULONG vk, bool down);
void host_InjectChar(UBYTE character);
void host_GetPointer(LONG* x, LONG* y);

// Composition: the visible windows, bottom to top, into a surface of the screen's size.
void host_ComposeScreen(host_Surface* out);
// Drawing anywhere calls this; a presenter waits for it. Returns the change count after waiting at most
// `milliseconds` for one newer than `seen`.
void host_NoteScreenChange();
ULONG host_WaitScreenChange(ULONG seen, ULONG milliseconds);

// Idle: every queue empty and its thread waiting for messages, every task asleep (Wait or Delay).
bool host_QueuesIdle();

// The pointer shape the back end shows (the shape of the window under the pointer, set by the window
// layer); changing it counts as a screen change.
void host_SetPointerShape(host_Pointer shape);
host_Pointer host_GetPointerShape();

// The character a key gives, as the host reports it with the key: letters (A-Z are virtual keys 65-90)
// in lower or upper case, with Control the control code 1-26; digits and space; Return 13, BackSpace 8,
// Tab 9 and Escape 27. 0 for keys that give no character (other printable characters arrive as typed
// text, not through this).
UBYTE host_CharForKey(ULONG vk, bool shift, bool control);
