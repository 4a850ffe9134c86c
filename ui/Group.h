// The container class: member lists, layout in rows and columns, pages and virtual (scrolled) content.
#pragma once

#include "Tal/Root.h"

// Member methods, understood by every container.
constexpr ULONG TAL_AddHead = 0x0047000A;
constexpr ULONG TAL_AddTail = 0x0047001E;
constexpr ULONG TAL_InsertMember = 0x00470032;
constexpr ULONG TAL_InsertMemberAt = 0x0047003C;
constexpr ULONG TAL_RemoveMember = 0x00470046;
constexpr ULONG TAL_GetFirstGroupObject = 0x00470050;
constexpr ULONG TAL_GetLastGroupObject = 0x0047005A;
constexpr ULONG TAL_GetNextGroupObject = 0x00470064;
constexpr ULONG TAL_GetPrevGroupObject = 0x0047006E;
constexpr ULONG TAL_GetMemberIndex = 0x0047008C;
constexpr ULONG TAL_GetMemberAt = 0x00470096;
constexpr ULONG TAL_GetMemberCount = 0x004700A0;

constexpr ULONG TAL_SetGroupFrame = 0x0002012C;
constexpr ULONG TAL_SetGroupAlignment = 0x00020190;
constexpr ULONG TAL_SelectMemberIndex = 0x0002019A;
constexpr ULONG TAL_GetSelectedIndex = 0x000201A4;
constexpr ULONG TAL_SelectMember = 0x000201AE;
constexpr ULONG TAL_GetSelectedMember = 0x000201B8;
constexpr ULONG TAL_SetGroupFixedWidth = 0x000201C2;
constexpr ULONG TAL_SetGroupFixedHeight = 0x000201CC;
constexpr ULONG TAL_SetGroupOrientation = 0x000201F4;
constexpr ULONG TAL_GetGroupOrientation = 0x000201FE;
constexpr ULONG TAL_SetScrollX = 0x00020208;
constexpr ULONG TAL_GetScrollX = 0x00020212;
constexpr ULONG TAL_SetScrollY = 0x0002021C;
constexpr ULONG TAL_GetScrollY = 0x00020226;
constexpr ULONG TAL_ScrollToPoint = 0x00020227;
constexpr ULONG TAL_SetGroupWidth = 0x00020230;
constexpr ULONG TAL_GetGroupWidth = 0x0002023A;
constexpr ULONG TAL_SetGroupHeight = 0x00020244;
constexpr ULONG TAL_GetGroupHeight = 0x0002024E;
constexpr ULONG TAL_GetBoxWidth = 0x00020258;
constexpr ULONG TAL_GetBoxHeight = 0x00020262;
constexpr ULONG TAL_VisibleWidth = 0x0002026C;  // notified by virtual groups
constexpr ULONG TAL_VisibleHeight = 0x00020276; // notified by virtual groups
constexpr ULONG TAL_SetGroupFlags = 0x0002028A;
constexpr ULONG TAL_GetGroupFlags = 0x0002029E;
constexpr ULONG TAL_SetDropHighlight = 0x000202A8;
constexpr ULONG TAL_GetDropHighlight = 0x000202B2;
constexpr ULONG TAL_SetPressedFrame = 0x000202C6;
constexpr ULONG TAL_SetSelectedFrame = 0x000202D0;
constexpr ULONG TAL_SetSelectedOn = 0x000202DA;
constexpr ULONG TAL_SetSelectedOff = 0x000202E4;
constexpr ULONG TAL_HoldLayout = 0x000202EE;
constexpr ULONG TAL_ReleaseLayout = 0x000202F8;
constexpr ULONG TAL_SetGroupSpacing = 0x0002030C;
constexpr ULONG TAL_GetGroupSpacing = 0x00020316;
constexpr ULONG TAL_SetGroupMargin = 0x00020320;
constexpr ULONG TAL_GetGroupMargin = 0x0002032A;

// Drag and drop enquiries and the window-type word passed to windows.
constexpr ULONG TAL_DragEnter = 0x000901C2;
constexpr ULONG TAL_DragOver = 0x000901CC;
constexpr ULONG TAL_DragDrop = 0x000901D6;
constexpr ULONG TAL_PassWindowType = 0x000901E0;

// Orientation values and flags.
constexpr ULONG TAL_VERTICAL = 1;
constexpr ULONG TAL_HORIZONTAL = 2;
constexpr ULONG TAL_PAGES = 4;
constexpr ULONG TAL_VIRTUAL = 8;
constexpr ULONG TAL_PAGES_SELECTED_LIMITS = 20;
constexpr ULONG TAL_FRAME_NO_ERASE = 0x80;

ULONG Tal_InitGroupClass();
void Tal_CleanupGroupClass();
