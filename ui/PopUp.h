// Pop-ups: PopUp (a button that shows a content group beside itself, in a pop-up window or as a host
// pop-up menu, and reports the object chosen), PopUpList (a choice list showing its current entry),
// PopUpToolList (a picture button offering a palette of picture buttons), Menu and MenuBar (menus of the
// interface) and MenuItem (an entry, with a check mark, a picture, a shortcut, or entries of its own).
#pragma once

#include "ui/Group.h"

// ---------------------------------------------------------------------------------------------------
// PopUp (built on Button).

constexpr ULONG TAL_SetPopUpContentMode = 0x000C000A; // 1: member methods go to the content group
constexpr ULONG TAL_SetPopUpPos = 0x000C0014;         // TAL_POPUP_* below
constexpr ULONG TAL_GetPopUpContent = 0x000C001E;     // the content group
constexpr ULONG TAL_IsPopUpOpen = 0x000C0028;
// Chooses an object and closes (also notified with the object first); Tal_Released closes without one.
constexpr ULONG TAL_PopUpChoose = 0x000C0064;
constexpr ULONG TAL_PopUpClosed = 0x000C006E; // notified with the chosen object (0: none)
// Notified before opening with the address of the chosen field (a ULONG): a listener may store there the
// object to show instead of the content group.
constexpr ULONG TAL_PopUpOpening = 0x000C0082;
constexpr ULONG TAL_SetPopUpNative = 0x000C00A0; // 1: the content shows as a host pop-up menu
constexpr ULONG TAL_SetPopUpXOffset = 0x00090190;
constexpr ULONG TAL_SetPopUpYOffset = 0x0009019A;

constexpr ULONG TAL_POPUP_AT_POINTER = 0;
constexpr ULONG TAL_POPUP_AT_BOX = 1;
constexpr ULONG TAL_POPUP_RIGHT = 2; // left of the box when it would pass the screen's right edge
constexpr ULONG TAL_POPUP_BELOW = 8;
constexpr ULONG TAL_POPUP_ABOVE = 16; // the window opens above its place by its height

// ---------------------------------------------------------------------------------------------------
// PopUpList (built on PopUp): member methods, TAL_GetSelectedIndex and TAL_SelectMemberIndex (a new
// index notifies TAL_PopUpListEntry and TAL_SelectMemberIndex) work on its entries.

constexpr ULONG TAL_GetPopUpListEntry = 0x00290014;
constexpr ULONG TAL_PopUpListEntry = 0x0029001E;    // select the entry by handle; notified with the entry
constexpr ULONG TAL_SetPopUpListFlags = 0x00290028; // TAL_POPUPLIST_BELOW

constexpr ULONG TAL_POPUPLIST_BELOW = 2;

// ---------------------------------------------------------------------------------------------------
// PopUpToolList (built on PopUp): its members are buttons holding a picture; choosing one shows its picture.

constexpr ULONG TAL_ToolListChosen = 0x0041001E; // notified with the chosen button

// ---------------------------------------------------------------------------------------------------
// Menu (built on PopUp), MenuBar (a row of menus) and MenuItem (built on Button, or on PopUp once it has
// entries of its own).

constexpr ULONG TAL_SetMenuItemImageName = 0x0018000A;
constexpr ULONG TAL_GetMenuItemImageName = 0x00180014;
constexpr ULONG TAL_SetMenuItemText = 0x0018001E; // also a menu's title
constexpr ULONG TAL_GetMenuItemText = 0x00180028;
constexpr ULONG TAL_SetMenuItemShortcut = 0x00180032; // a character: Ctrl and it choose the entry
constexpr ULONG TAL_SetMenuItemMenu = 0x0018005A;     // the owning menu
constexpr ULONG TAL_SetMenuItemChecks = 0x00180078;   // TAL_MENU_* below
constexpr ULONG TAL_GetMenuItemChecks = 0x00180082;

constexpr ULONG TAL_MENU_UNCHECKED = 1;
constexpr ULONG TAL_MENU_CHECKED = 2;

// The menu that is open (at most one in the process), 0 for none.
ULONG Tal_GetOpenMenu();

ULONG Tal_InitPopUpClass();
void Tal_CleanupPopUpClass();
ULONG Tal_InitPopUpListClass();
void Tal_CleanupPopUpListClass();
ULONG Tal_InitPopUpToolListClass();
void Tal_CleanupPopUpToolListClass();
ULONG Tal_InitMenuClass();
void Tal_CleanupMenuClass();
ULONG Tal_InitMenuBarClass();
void Tal_CleanupMenuBarClass();
ULONG Tal_InitMenuItemClass();
void Tal_CleanupMenuItemClass();
