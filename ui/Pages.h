// Tabbed containers (Pages, VerticalPages), the scrolling group (VirtualGroup), pictures (BitMap) and the
// start-up tip window (TipOfTheDay).
#pragma once

#include "ui/Group.h"
#include "host/graphics.h"

#include <string>

// ---------------------------------------------------------------------------------------------------
// Pages and VerticalPages: a row (or column) of tab buttons above (or beside) a page group.

// 1: from now on Tal_AddTail adds tabs (its object is the tab's label); 0: it adds pages.
constexpr ULONG TAL_AddingPageLabels = 0x000B0014;
constexpr ULONG TAL_AddingPageLabelsTag = 0x50616765; // the same, as written in object trees ("Page")
constexpr ULONG TAL_SetTabRowTrailer = 0x000B000A;    // replaces the object that ends the tab row
constexpr ULONG TAL_GetPageGroup = 0x000B001E;
constexpr ULONG TAL_GetTabRow = 0x000B0028;

// ---------------------------------------------------------------------------------------------------
// VirtualGroup: content larger than its box, scrolled with two scrollers.

constexpr ULONG TAL_AutoHideScrollers = 0x00020280; // hide a scroller whose visible part is its total
constexpr ULONG TAL_SetHScrollerObject = 0x00240032;
constexpr ULONG TAL_GetHScrollerObject = 0x0024003C;
constexpr ULONG TAL_SetVScrollerObject = 0x00240046;
constexpr ULONG TAL_GetVScrollerObject = 0x00240050;
constexpr ULONG TAL_VirtualContentMethod = 0x0024005A; // passed to the content
constexpr ULONG TAL_SetHScrollStep = 0x00240064;
constexpr ULONG TAL_GetHScrollStep = 0x0024006E;
constexpr ULONG TAL_SetVScrollStep = 0x00240078; // -1: the first member's height, at every layout
constexpr ULONG TAL_GetVScrollStep = 0x00240082;
constexpr ULONG TAL_HideScrollers = 0x0024008C;
constexpr ULONG TAL_ShowScrollers = 0x00240096;
constexpr ULONG TAL_HideHScroller = 0x002400A0;
constexpr ULONG TAL_HideVScroller = 0x002400AA;
constexpr ULONG TAL_ShowHScroller = 0x002400B4;
constexpr ULONG TAL_ShowVScroller = 0x002400BE;
constexpr ULONG TAL_GetHScroller = 0x002400C8; // the scroller objects themselves
constexpr ULONG TAL_GetVScroller = 0x002400D2;

// ---------------------------------------------------------------------------------------------------
// BitMap: a built-in picture or an IFF ILBM picture file of the interface.

constexpr ULONG TAL_SetToolBarName = 0x0008000A; // loads "Tal_Images:ToolBar/<name>"
constexpr ULONG TAL_GetToolBarName = 0x00080014;
constexpr ULONG TAL_LoadBitMap = 0x0008001E; // a built-in name, else an ILBM file
constexpr ULONG TAL_LoadBitMapAlias = 0x80000136;
constexpr ULONG TAL_GetBitMapFile = 0x00080028;
constexpr ULONG TAL_SetBitMapPicture = 0x00080032; // a planar picture, not owned
constexpr ULONG TAL_SetBitMapPictureAlias = 0x80000140;
constexpr ULONG TAL_GetBitMapPicture = 0x0008003C;
constexpr ULONG TAL_GetBitMapPictureAlias = 0x80000141;
constexpr ULONG TAL_SetBitMapMask = 0x00080046; // a planar mask: pixels whose bit is 0 are not drawn
constexpr ULONG TAL_GetBitMapMask = 0x00080050;
constexpr ULONG TAL_SetBitMapOffsetX = 0x0008005A;
constexpr ULONG TAL_SetBitMapOffsetY = 0x00080064;
constexpr ULONG TAL_SetBitMapWidth = 0x0008006E; // 0: the picture's own
constexpr ULONG TAL_SetBitMapHeight = 0x00080078;
constexpr ULONG TAL_SetBitMapColour0 = 0x00080082; // 1: colour 0 of a file picture shows the background
constexpr ULONG TAL_CopyBitMap = 0x0008008C;       // show the picture of another BitMap
constexpr ULONG TAL_SetBuiltInPicture = 0x00080096;
constexpr ULONG TAL_SetBitMapRows =
    0x000800AA; // width, height, rows (blue, green, red), bytes per row: copied
// Fixed sizes, as Space and VectorImage take them: the same as the width and height above.
constexpr ULONG TAL_SetBitMapFixedWidth = 0x0001012C;
constexpr ULONG TAL_SetBitMapFixedHeight = 0x00010136;
// TAL_DrawBackdrop (0x000800A0, host/graphics.h): draws the picture, repeated, into a rectangle.

// The built-in pictures: handles 1 .. TAL_BUILTIN_PICTURES, in this order. Names are compared without
// regard to case, after "Tal_Images:" has become "Data/Images/".
constexpr ULONG TAL_BUILTIN_PICTURES = 28;
struct Tal_BuiltInPicture {
    const char* name;
    LONG width, height;
    const UBYTE* pixels; // rows of blue, green, red, bytesPerRow apart; the key colour is transparent
    LONG bytesPerRow;
};
constexpr ULONG TAL_BUILTIN_KEY_COLOUR = 0x00BDBDBD; // (189, 189, 189), 0x00BBGGRR
// The picture of a handle (a built-in one or one the program added), none for another number.
const Tal_BuiltInPicture* Tal__GetBuiltInPicture(ULONG handle);
// Adds a picture of the program's own under a handle beyond the built-in ones (replacing an earlier one of
// that handle); the source makes it on first use and keeps it.
using Tal_PictureSource = const Tal_BuiltInPicture* (*)();
void Tal_AddProgramPicture(ULONG handle, Tal_PictureSource source);
// The handle of a built-in picture name, 0 when it is none.
ULONG Tal_FindBuiltInPicture(const char* name);
// A picture name as the interface looks it up: backslashes become "/", "Tal_Images:" becomes
// "Data/Images/" and "Velura:" goes (relative names start at the installation directory anyway).
std::string Tal__PictureName(const char* name);

// An interface picture read from an IFF ILBM file. Colours beyond those of the colour map are black;
// without a colour map the entries are a grey ramp.
struct Tal_InterfacePicture {
    BitMap* planes; // owned (FreeBitMap); Planes[k] is bit k of each pixel's colour index
    LONG width, height, depth;
    ULONG colours; // entries taken from the colour map
    UBYTE palette[256 * 3];
};
// Reads a whole ILBM file held in memory. Refuses (0) anything that is not a complete picture of 1 to 8
// planes: a missing FORM, BMHD or BODY, a zero size, chunks or runs that leave the file or a line, a
// BODY shorter than the picture, a compression other than none or ByteRun1.
ULONG Tal__ReadInterfaceILBM(const UBYTE* data, size_t size, Tal_InterfacePicture* picture);
void Tal__FreeInterfacePicture(Tal_InterfacePicture* picture);

// ---------------------------------------------------------------------------------------------------
// TipOfTheDay: the start-up window that shows one tip after another.

constexpr ULONG TAL_SetTipsFile = 0x0056000A;  // a stored-object file holding a group of tips
constexpr ULONG TAL_SetTipsState = 0x00560014; // the state file: "index,show"; reads it at once
constexpr ULONG TAL_NextTip = 0x0056001E;
constexpr ULONG TAL_CloseTips = 0x00560028; // close, advance, write the state file
constexpr ULONG TAL_GetTipIndex = 0x00560032;

// ---------------------------------------------------------------------------------------------------
// Classes, in the order they are registered.

ULONG Tal_InitBitMapClass();
void Tal_CleanupBitMapClass();
ULONG Tal_InitPagesClass();
void Tal_CleanupPagesClass();
ULONG Tal_InitVerticalPagesClass();
void Tal_CleanupVerticalPagesClass();
ULONG Tal_InitVirtualGroupClass();
void Tal_CleanupVirtualGroupClass();
ULONG Tal_InitTipOfTheDayClass();
void Tal_CleanupTipOfTheDayClass();

// Shows the page at the index of a page-mode group, which keeps the room it was given.
ULONG Tal__SelectPage(ULONG pageGroup, ULONG index);

// Shared by Pages and VerticalPages (the tab row is a column for VerticalPages).
void* Tal__NewTabbedPages(Tal_Class* cls, bool vertical);
void Tal__DisposeTabbedPages(void* instance);
Tal_Word Tal__DoTabbedPagesMethod(void* instance, ULONG id, const Tal_Word* args);
size_t Tal__TabbedPagesSize();
extern const Tal_MethodEntry Tal__TabbedPagesMethods[];
