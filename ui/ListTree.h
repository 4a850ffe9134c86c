// ListTree: an ordered list of rows (the members of a group) with an active node, an active item and a
// selection of items. The action list of every image is one.
#pragma once

#include "ui/Group.h"

constexpr ULONG TAL_SetActiveNode = 0x0022000A; // notified with the node
constexpr ULONG TAL_GetActiveNode = 0x00220014;
constexpr ULONG TAL_SetActiveItem = 0x0022001E; // notified with the item
constexpr ULONG TAL_GetActiveItem = 0x00220028;
constexpr ULONG TAL_ClearListTree = 0x00220032; // removes and disposes every row
constexpr ULONG TAL_SetMultiSelect = 0x0022003C;
constexpr ULONG TAL_GetMultiSelect = 0x00220046;
constexpr ULONG TAL_GetFirstSelected = 0x00220050;
constexpr ULONG TAL_GetNextSelected = 0x0022005A;     // the selected item after the given one, 0 at the end
constexpr ULONG TAL_ReleaseSelection = 0x00220064;    // every selected item is released
constexpr ULONG TAL_AddToSelection = 0x0022006E;      // once
constexpr ULONG TAL_RemoveFromSelection = 0x00220078; // and released

ULONG Tal_InitListTreeClass();
void Tal_CleanupListTreeClass();
