// The window layer of the service interface: the screen, windows with input ports, and the input
// messages the interface classes consume. Built on the in-process window system (host/wm.h).
#pragma once

#include "host/graphics.h"
#include "host/host.h"
#include "host/wm.h"

// Input message classes.
constexpr ULONG IDCMP_NEWSIZE = 2;
constexpr ULONG IDCMP_REFRESHWINDOW = 4;
constexpr ULONG IDCMP_MOUSEBUTTONS = 8;
constexpr ULONG IDCMP_MOUSEMOVE = 16;
constexpr ULONG IDCMP_RAWKEYDOWN = 256;
constexpr ULONG IDCMP_RAWKEYUP = 257;
constexpr ULONG IDCMP_CHARACTER = 258;
constexpr ULONG IDCMP_CLOSEWINDOW = 512;
constexpr ULONG IDCMP_RAWKEY = 1024;
constexpr ULONG IDCMP_ACTIVEWINDOW = 0x00040000;
constexpr ULONG IDCMP_INACTIVEWINDOW = 0x00080000;
constexpr ULONG IDCMP_VANILLAKEY = 0x00200000;
constexpr ULONG IDCMP_INTUITICKS = 0x00400000;
constexpr ULONG IDCMP_CHANGEWINDOW = 0x02000000;
constexpr ULONG IDCMP_MENUCOMMAND = 0x10000101;
constexpr ULONG IDCMP_POINTERLEFT = 0x80000002;

// Mouse button codes.
constexpr UWORD SELECTDOWN = 104;
constexpr UWORD SELECTUP = 232;
constexpr UWORD MENUDOWN = 105;
constexpr UWORD MENUUP = 233;
constexpr UWORD MIDDLEDOWN = 106;
constexpr UWORD MIDDLEUP = 234;

// Raw key codes of the arrow keys.
constexpr UWORD RAWKEY_UP = 76;
constexpr UWORD RAWKEY_DOWN = 77;
constexpr UWORD RAWKEY_RIGHT = 78;
constexpr UWORD RAWKEY_LEFT = 79;

// Qualifier bits.
constexpr UWORD IEQUALIFIER_SHIFT = 0x0001;
constexpr UWORD IEQUALIFIER_CONTROL = 0x0008;
constexpr UWORD IEQUALIFIER_ALT = 0x0010;
constexpr UWORD IEQUALIFIER_MIDBUTTON = 0x1000;
constexpr UWORD IEQUALIFIER_RBUTTON = 0x2000;
constexpr UWORD IEQUALIFIER_LEFTBUTTON = 0x4000;

// Window flags.
constexpr ULONG WFLG_POPUP = 0x800;
constexpr ULONG WFLG_ACTIVATE = 0x1000;

// Tags of OpenWindowTagList and OpenScreenTagList.
constexpr Tag WA_Left = 0x80000064;
constexpr Tag WA_Top = 0x80000065;
constexpr Tag WA_Width = 0x80000066;
constexpr Tag WA_Height = 0x80000067;
constexpr Tag WA_IDCMP = 0x8000006A;
constexpr Tag WA_Flags = 0x8000006B;
constexpr Tag WA_Title = 0x8000006E;
constexpr Tag WA_CustomScreen = 0x80000070;
constexpr Tag WA_InnerWidth = 0x80000076;
constexpr Tag WA_InnerHeight = 0x80000077;
constexpr Tag WA_PubScreen = 0x80000079;
constexpr Tag WA_ObjectHandle = 0x80002773;
constexpr Tag SA_Title = 0x80000028;

struct Window;

struct Screen {
    WORD LeftEdge, TopEdge, Width, Height; // the work area, in which windows are placed
    char* Title;
    void* ColorMap;
    struct RastPort RastPort;
    LONG FontHeight;
    ULONG BackgroundColour;
    ULONG Colours[3];
    host_Window* HostWindow;
    ULONG Busy;
};

struct Window {
    Node node;
    WORD LeftEdge, TopEdge, Width, Height; // outer box, in screen (work area) coordinates
    WORD MouseY, MouseX;
    WORD MinWidth, MinHeight, MaxWidth, MaxHeight;
    ULONG Flags;
    char* Title;
    char* ScreenTitle; // what the title bar shows while the window is active; none: the screen's title
    Screen* WScreen;
    RastPort* RPort;
    UBYTE BorderLeft, BorderTop, BorderRight, BorderBottom;
    ULONG IDCMPFlags;
    MsgPort* UserPort;
    void* Owner; // the interface object that owns the window
    ULONG Busy;
    ULONG ObjectHandle;
    Rectangle RefreshRect;
    host_Window* HostWindow;
    host_Pointer Pointer;
};

// The queued input message.
struct IntuiMessage {
    Message ExecMessage;
    ULONG Class;
    UWORD Code;
    UWORD Qualifier;
    void* IAddress;
    WORD MouseX, MouseY; // the pointer in the window's outer coordinates (button and move messages)
    ULONG Seconds, Micros;
    Rectangle Refresh; // refresh messages
    void* UpdateInfo;
};

// The global record of the window layer (what OpenLibrary("intuition.library") returns).
struct IntuitionBase {
    Window* ActiveWindow;
    Window* PointerWindow;
    Screen* FirstScreen;
    UBYTE BorderLeft, BorderRight, BorderTop, BorderBottom; // of ordinary windows
    UWORD Qualifier;
    List Windows;
};
IntuitionBase* host_Intuition();

Screen* OpenScreenTagList(void* reserved, const TagItem* tags);
template <typename... A>
Screen* OpenScreenTags(void* reserved, A... tags) {
    const auto list = Tal_MakeTags(tags...);
    return OpenScreenTagList(reserved, list.data());
}
ULONG CloseScreen(Screen* screen);
Screen* LockPubScreen(const char* name = nullptr);
void UnlockPubScreen(const char* name, Screen* screen);

Window* OpenWindowTagList(void* reserved, const TagItem* tags);
template <typename... A>
Window* OpenWindowTags(void* reserved, A... tags) {
    const auto list = Tal_MakeTags(tags...);
    return OpenWindowTagList(reserved, list.data());
}
void CloseWindow(Window* window);
void ChangeWindowBox(Window* window, LONG left, LONG top, LONG width, LONG height);
ULONG WindowLimits(Window* window, LONG minWidth, LONG minHeight, ULONG maxWidth, ULONG maxHeight);
void ActivateWindow(Window* window);
void WindowToFront(Window* window);
void WindowToBack(Window* window);
// The window's title, and the title the screen's title bar shows while the window is active (none: the
// screen's own). The bar follows at once.
void SetWindowTitles(Window* window, const char* title, const char* screenTitle);
Window* Tal_FindWindowUnderMouse(Window* window);
void Tal_GrabMousePointer(Window* window);
void Tal_UngrabMousePointer(Window* window);
void BeginRefresh(Window* window);
void EndRefresh(Window* window, ULONG complete = 1);
ULONG Tal_SetCursor(Window* window, ULONG shape);
void ScrollWindowRaster(Window* window, LONG dx, LONG dy, LONG x0, LONG y0, LONG x1, LONG y1);

// The window that hears the screen's close request and its menu commands (the program's main window),
// named by its object: whenever a window of that object is open. 0: none.
void host_SetMainWindowObject(ULONG objectHandle);

// The menu bar the screen shows at the bottom (kept by reference; none: no menu bar); an open screen
// takes it at once.
void host_SetScreenMenuBar(const struct host_MenuBarResource* resource);
// A command of the screen's menu bar, wherever it is (a button of the bar, or items of its menus): shown
// or hidden, enabled or greyed. Commands the bar does not have are ignored.
void host_ShowScreenCommand(ULONG command, bool show);
void host_EnableScreenCommand(ULONG command, bool enable);
// Whether the bar shows the command somewhere, and whether it may be chosen there.
bool host_IsScreenCommandShown(ULONG command);
bool host_IsScreenCommandEnabled(ULONG command);
// What the screen's title bar shows (cut to size - 1 bytes); false without a title bar.
bool host_GetScreenTitle(char* buffer, ULONG size);

// Data handed over by another instance of the program, as the screen receives it (identifier 0x0013003C:
// a path to open). The handler runs in the screen's thread; the record is freed after it returns.
struct host_CopyData {
    ULONG id;
    ULONG size; // bytes of data, not counting the zero that always follows them
    UBYTE data[1];
};
using host_CopyDataHandler = void (*)(const host_CopyData* data);
void host_SetCopyDataHandler(host_CopyDataHandler handler);
// Queues data to the screen (any thread); false when there is no screen or memory.
bool host_SendCopyData(ULONG id, const void* data, size_t size);

// Private messages of windows: a text-entry control inside the window (box relative to the inner area;
// style 0 leaves it without the Return and Tab rules), full screen on (1) and off (0).
host_Window* host_CreateTextEntry(Window* window, LONG x, LONG y, LONG width, LONG height, ULONG style);
// Called in the window's pump thread when one of its text-entry controls loses the keyboard focus, with
// the window's object and the control's user word; set by the interface above.
using host_TextEntryFocusLossHandler = void (*)(ULONG windowObject, ULONG control);
void host_SetTextEntryFocusLossHandler(host_TextEntryFocusLossHandler handler);
void host_FullScreen(Window* window, bool on);
// A pop-up menu of the screen at a point of the work area; the chosen command or 0.
ULONG host_PopUpMenu(const struct host_Menu* menu, LONG x, LONG y);
