// Lists and trees: LinkedList (a list of object handles that owns them), ListTree (a scrolled list of
// rows with an active node, an active item and a selection), its rows ListTreeItem (selectable) and
// ListTreeNode (expanding to child rows), and DirTree / DirTreeNode, a tree of the device's folders. The
// action list of every image is a ListTree too.
#pragma once

#include "ui/Group.h"

// ---------------------------------------------------------------------------------------------------
// LinkedList (built on Root): the member methods of ui/Group.h (TAL_InsertMember after the member
// given as position, 0 first, -1 last), and a user word.

constexpr ULONG TAL_SetLinkedListWord = 0x00470078;
constexpr ULONG TAL_GetLinkedListWord = 0x00470082;

// ---------------------------------------------------------------------------------------------------
// ListTree (built on VirtualGroup): the member methods add and remove rows.

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

// Notified by a row that is activated: a selected item pressed again (single selection, or multiple
// selection without shift), a selected node pressed again.
constexpr ULONG TAL_RowActivated = 0x000102A8;

// ---------------------------------------------------------------------------------------------------
// ListTreeItem (built on Group): a row of the list. Its members are what the row shows; its label (kept
// as a copy) names it. A select press chooses it by the tree's rules: single selection; or with
// multiple selection, shift extends the selection from its first item, control toggles the row.

// ---------------------------------------------------------------------------------------------------
// ListTreeNode (built on Group): a row with an expand button, an icon and a title, above its children
// (indented, shown while expanded). Member methods go to the children.

constexpr ULONG TAL_ExpandListNode = 0x0053000A;   // also notified
constexpr ULONG TAL_CollapseListNode = 0x00530014; // also notified
constexpr ULONG TAL_SetListNodeTitle = 0x0053001E; // copied (255 characters at most)
constexpr ULONG TAL_GetListNodeTitle = 0x00530028;
constexpr ULONG TAL_SetListNodeIcon = 0x00530032; // a BitMap whose picture the icon shows
constexpr ULONG TAL_GetListNodeIcon = 0x0053003C;
constexpr ULONG TAL_IsListNodeExpanded = 0x00530046;
constexpr ULONG TAL_ToggleListNode = 0x00530064;

// ---------------------------------------------------------------------------------------------------
// DirTree (built on ListTree): the folders of the device. Its one top row, "My Device", is the user's
// home folder; the first row inside it is the whole file system ("/"). DirTreeNode (built on
// ListTreeNode): one folder, scanned once when first expanded.

constexpr ULONG TAL_SetDirTreeWord1 = 0x0051000A; // notified
constexpr ULONG TAL_GetDirTreeWord1 = 0x00510014;
constexpr ULONG TAL_SetDirTreeWord2 = 0x0051001E; // notified
constexpr ULONG TAL_GetDirTreeWord2 = 0x00510028;
// A trailing separator is dropped (a lone "/" stays); a path that differs from the current one is opened:
// the folders on the way are expanded and the folder's row becomes the active node. 1 when it was found.
constexpr ULONG TAL_SetDirTreePath = 0x0051003C;
constexpr ULONG TAL_GetDirTreePath = 0x00510046;
constexpr ULONG TAL_OpenDirNodePath = 0x00510050; // on a node: the node of that path below it, or 0
constexpr ULONG TAL_GetDirTreeRoot = 0x0051005A;  // the "My Device" node

constexpr ULONG TAL_SetDirNodePath = 0x0054000A;
constexpr ULONG TAL_GetDirNodePath = 0x00540014;
constexpr ULONG TAL_GetDirNodeFiles = 0x0054001E; // a LinkedList of ListTreeItems named by full path

// The longest folder path the tree and the file requester keep; longer ones are left out, never cut.
constexpr size_t TAL_DIR_PATH_MAX = 259;

ULONG Tal_InitLinkedListClass();
void Tal_CleanupLinkedListClass();
ULONG Tal_InitListTreeClass();
void Tal_CleanupListTreeClass();
ULONG Tal_InitListTreeItemClass();
void Tal_CleanupListTreeItemClass();
ULONG Tal_InitListTreeNodeClass();
void Tal_CleanupListTreeNodeClass();
ULONG Tal_InitDirTreeClass();
void Tal_CleanupDirTreeClass();
ULONG Tal_InitDirTreeNodeClass();
void Tal_CleanupDirTreeNodeClass();
