// The host's own controls, drawn with the drawing layer on the in-process window system: menus as data,
// the title bar, the menu bar with its drop-up menus and image buttons, pop-up menus, and the single- and
// multi-line text-entry control.
//
// Every function here may be called from any thread unless it says otherwise. Windows are created in the
// calling thread, whose message pump then serves them (host/wm.h).
#pragma once

#include "host/wm.h"

// Height of the title bar at the top of the logical screen and of the menu bar at its bottom.
constexpr LONG HOST_BAR_HEIGHT = 26;

// ---------------------------------------------------------------------------------------------------
// Menus as data.

// Item flags.
constexpr ULONG HMF_GREYED = 0x1;          // shown in grey; cannot be chosen
constexpr ULONG HMF_CHECKED = 0x2;         // shows a check mark
constexpr ULONG HMF_HIDDEN = 0x4;          // not shown at all
constexpr ULONG HMF_SEPARATOR = 0x8;       // a dividing line (command and text unused)
constexpr ULONG HMF_NOTFOUND = 0xFFFFFFFF; // host_GetMenuItemFlags: no item with that command

// A menu written as constant data: an item with subItems opens that sub-menu (its command is unused).
struct host_MenuItemResource {
    ULONG command;
    const char* text;
    ULONG flags = 0;
    const host_MenuItemResource* subItems = nullptr;
    ULONG subCount = 0;
};

// A menu: a list of items, each with a command number, an 8-bit Latin-1 text, flags and an optional
// sub-menu that the menu owns. Every operation takes one lock shared by all menus, so the program may
// grey items from any thread while a menu is shown (it repaints). A menu must not be disposed while it
// is shown.
struct host_Menu;

// A deep copy of the items (none when memory runs out); count 0 gives an empty menu.
host_Menu* host_CreateMenu(const host_MenuItemResource* items, ULONG count);
void host_DisposeMenu(host_Menu* menu); // with its sub-menus
// Appends an item; subMenu (or none) is adopted and disposed with the menu. Returns the item's index,
// or -1 for no menu (subMenu is then disposed).
LONG host_AppendMenuItem(host_Menu* menu, ULONG command, const char* text, ULONG flags, host_Menu* subMenu);
ULONG host_MenuItemCount(const host_Menu* menu);

// By command number: every item with that command, in the menu and its sub-menus. The flags in `mask`
// take the bits of `value`; returns the number of items found.
ULONG host_SetMenuItemFlags(host_Menu* menu, ULONG command, ULONG mask, ULONG value);
// The flags of the first item with that command (depth first), HMF_NOTFOUND when there is none.
ULONG host_GetMenuItemFlags(const host_Menu* menu, ULONG command);
// Sets the text of every item with that command; false when there is none.
bool host_SetMenuItemText(host_Menu* menu, ULONG command, const char* text);
// Copies the text of the first item with that command (cut to size - 1 bytes, always terminated) and
// returns its full length; 0 when there is none.
ULONG host_GetMenuItemText(const host_Menu* menu, ULONG command, char* buffer, ULONG size);

inline void host_EnableMenuItem(host_Menu* menu, ULONG command, bool enable) {
    host_SetMenuItemFlags(menu, command, HMF_GREYED, enable ? 0 : HMF_GREYED);
}
inline void host_CheckMenuItem(host_Menu* menu, ULONG command, bool checked) {
    host_SetMenuItemFlags(menu, command, HMF_CHECKED, checked ? HMF_CHECKED : 0);
}
inline void host_ShowMenuItem(host_Menu* menu, ULONG command, bool shown) {
    host_SetMenuItemFlags(menu, command, HMF_HIDDEN, shown ? 0 : HMF_HIDDEN);
}

// ---------------------------------------------------------------------------------------------------
// Pop-up menus.

// Shows the menu with its top-left corner at a point of the logical screen (flipped to the other side
// of the point, then moved, to stay on the screen) and runs a nested message loop in the calling thread,
// which owns the menu's windows, until the menu closes. Returns the chosen command, or 0 for a tap
// outside the menu, Escape, another menu opening, host_CloseMenus, or a menu with nothing shown.
// The stylus may press, drag and release on an item, or tap an item; a tap on a greyed item, a separator
// or an item that opens a sub-menu leaves the menu open, and a press outside is swallowed whole (its
// release too). Keys: Up and Down highlight, Right and Return open a sub-menu, Return chooses, Left and
// Escape close the innermost sub-menu (Escape then the menu). While the menu is up it has the pointer
// capture and every key; the focus does not change. A quit message that arrives meanwhile closes the
// menu and is posted again for the outer loop. Drop-up menus of the menu bar work the same way, without
// the nested loop.
ULONG host_TrackPopupMenu(const host_Menu* menu, LONG x, LONG y);

// Closes whatever menu is open (a pop-up menu then returns 0), from any thread.
void host_CloseMenus();
// True while a pop-up or drop-up menu is shown.
bool host_IsMenuOpen();
// Where a shown item with that text is on the logical screen (the newest menu first), for scripts and
// tests; false when no shown menu has it.
bool host_FindShownMenuItem(const char* text, host_Rect* rect);

// ---------------------------------------------------------------------------------------------------
// The title bar: a shell window across the top of the logical screen with a title and a "?" button.

// Tapping "?" posts HM_HELP to the target. Destroy it with host_DestroyWindow from the creating thread.
host_Window* host_CreateTitleBar(const char* title, host_Window* helpTarget);
void host_SetTitleBarText(host_Window* titleBar, const char* title);
// Copies the title (cut to size - 1 bytes, always terminated when size > 0); false for no title bar.
bool host_GetTitleBarText(host_Window* titleBar, char* buffer, ULONG size);

// ---------------------------------------------------------------------------------------------------
// The menu bar: a shell window across the bottom of the logical screen with drop-down buttons that open
// drop-up menus, and image buttons.

// Kinds of menu-bar buttons.
constexpr ULONG HMB_MENU = 0;  // a drop-down button: opens its menu above the bar
constexpr ULONG HMB_IMAGE = 1; // an image button: chooses its command
constexpr ULONG HMB_CHECK = 2; // an image button that toggles its checked state, then chooses its command

struct host_MenuBarButtonResource {
    ULONG command;
    ULONG kind;
    const char* label;                            // drop-down buttons: the label; image buttons: the tip
    const host_MenuItemResource* items = nullptr; // drop-down buttons: the menu
    ULONG count = 0;
    ULONG picture = 0; // image buttons: the built-in picture (host_MenuBarPicture)
};

struct host_MenuBarResource {
    const host_MenuBarButtonResource* buttons;
    ULONG count;
};

// Creates the bar in the calling thread (which must pump its messages). A chosen menu item or image
// button posts HM_COMMAND with the command in wParam (lParam 0) to the target. None when a window cannot
// be had. Destroy it with host_DestroyWindow from the creating thread.
host_Window* host_CreateMenuBar(const host_MenuBarResource* resource, host_Window* target);
// The menu of a drop-down button (by the button's command), owned by the bar; none when there is none.
host_Menu* host_MenuBarMenu(host_Window* bar, ULONG buttonCommand);
// Where a button is on the logical screen; false for an unknown command.
bool host_GetMenuBarButtonRect(host_Window* bar, ULONG buttonCommand, host_Rect* rect);
// A disabled button shows grey and does nothing; a hidden one is not drawn and does nothing (the others
// keep their places). Unknown commands are ignored.
void host_EnableMenuBarButton(host_Window* bar, ULONG buttonCommand, bool enable);
void host_ShowMenuBarButton(host_Window* bar, ULONG buttonCommand, bool show);
bool host_IsMenuBarButtonShown(host_Window* bar, ULONG buttonCommand);
bool host_IsMenuBarButtonEnabled(host_Window* bar, ULONG buttonCommand);
// The state of a check button (it also toggles itself when tapped).
void host_CheckMenuBarButton(host_Window* bar, ULONG buttonCommand, bool checked);
bool host_IsMenuBarButtonChecked(host_Window* bar, ULONG buttonCommand);
// Hides the bar (full screen; an open menu closes) or shows it again.
void host_ShowMenuBar(host_Window* bar, bool show);

// The built-in pictures of the menu bar's image buttons, 16 × 16 in RECTFMT_BGR rows with a key colour
// for the transparent pixels: 1 fill the paint layer with the paint mode, 2 clear the paint layer,
// 4 the erase mode. None for other numbers.
struct host_Picture {
    LONG width, height;
    const UBYTE* bgr; // width × 3 bytes per row
    ULONG keyColour;  // program colour (0x00BBGGRR) of the transparent pixels
};
const host_Picture* host_MenuBarPicture(ULONG number);

// ---------------------------------------------------------------------------------------------------
// The text-entry control ("EDIT"): a child control (HWS_CONTROL) inside a host window.
//
// Keys: characters insert at the caret (Latin-1 32..255 but 127); BackSpace and Delete; Left, Right,
// Home and End (with Ctrl: the whole text); Up and Down between lines of a multi-line control. A text
// wider or taller than the box scrolls so that the caret stays visible. Tapping takes the focus and puts
// the caret at the tapped place.
//
// Rules (any style but 0): Return gives the focus back to the parent window; in a multi-line control
// Return breaks the line and Ctrl+Return gives the focus back. Tab moves the focus to the next text-entry
// control of the same parent in creation order (Shift+Tab: the previous one), or back to the parent when
// there is none. Style 0 is a plain single-line control with neither rule.
//
// Losing the focus posts HM_COMMAND to the parent with wParam = (HEN_KILLFOCUS << 16) | id and lParam =
// the control. The control's user word stays free for its owner.

// Styles.
constexpr ULONG HES_MULTILINE = 0x0004;
constexpr ULONG HES_AUTOHSCROLL = 0x0080; // the ordinary single-line style (every control scrolls)
constexpr ULONG HES_READONLY = 0x0800;    // the caret moves, the text does not change
constexpr ULONG HES_NUMBER = 0x2000;      // only the digits 0-9 can be typed
constexpr ULONG HEN_KILLFOCUS = 512;      // the notification code of the focus-loss report

constexpr ULONG HOST_EDIT_DEFAULT_LIMIT = 32767;

// Creates the control in the calling thread at a box relative to the parent's top-left corner; the owner
// may move and size it later with host_SetWindowRect. Lines of a multi-line control end with "\n" ("\r\n"
// and "\r" given to host_SetEditText become "\n"). None for no parent, an empty box or when a window
// cannot be had.
host_Window* host_CreateEditControl(host_Window* parent, const host_Rect& box, ULONG style, ULONG id);
bool host_IsEditControl(host_Window* edit);
// Replaces the text (not cut by the limit, which only stops typing) and puts the caret at its end;
// false for no control.
bool host_SetEditText(host_Window* edit, const char* text);
// Copies the text (cut to size - 1 bytes, always terminated when size > 0) and returns its full length.
ULONG host_GetEditText(host_Window* edit, char* buffer, ULONG size);
// The most characters typing may make (default HOST_EDIT_DEFAULT_LIMIT; 0 means the default).
void host_SetEditLimit(host_Window* edit, ULONG maxLength);
// The caret as an offset into the text (cut to the text's length).
void host_SetEditCaret(host_Window* edit, ULONG position);
ULONG host_GetEditCaret(host_Window* edit);

// ---------------------------------------------------------------------------------------------------
// Shared by the controls' sources.

// Top and left edges in one colour, bottom and right in another (program colours).
void host__DrawEdges(RastPort* rp, ULONG topLeft, ULONG bottomRight, LONG x, LONG y, LONG w, LONG h);
