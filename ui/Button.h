// The elementary gadgets: Button, CheckBox, MutualExclude, ToolButton, Text, Space, ShortcutKey and
// VectorImage, and the bounded number formatter that labels and value gadgets share.
#pragma once

#include "ui/Group.h"

struct Tal_DrawInfo;

// ---------------------------------------------------------------------------------------------------
// Button (built on Group): pressed with the stylus or its shortcut key; notifies Tal_Pressed,
// Tal_Released and the click TAL_ButtonClicked.

constexpr ULONG TAL_SetButtonImmediate = 0x0001005A; // notify on the press instead of on the release
constexpr ULONG TAL_SetButtonNoPressLook = 0x0003000A;
constexpr ULONG TAL_SetButtonToggle = 0x00030014;
constexpr ULONG TAL_SetButtonFramePair = 0x0003001E; // 9, 14 or 16: that frame while down, +1 while up
constexpr ULONG TAL_ButtonClicked = 0x00030028;      // notification: the button was activated
constexpr ULONG TAL_SetButtonState = 0x00030032;     // non-zero presses, zero releases
constexpr ULONG TAL_GetButtonState = 0x0003003C;
// The key code that presses a button (0: none). The same identifiers set and get the key text of a
// ShortcutKey editor.
constexpr ULONG TAL_SetShortcutKey = 0x004A000A;
constexpr ULONG TAL_GetShortcutKey = 0x004A0014;

// Frame styles buttons use.
constexpr ULONG TAL_FRAME_BUTTON = 4;
constexpr ULONG TAL_FRAME_BUTTON_DOWN = 5;
constexpr ULONG TAL_FRAME_FLAT = 6;
constexpr ULONG TAL_FRAME_ROLLOVER = 19;

// ---------------------------------------------------------------------------------------------------
// CheckBox (built on Group): a toggle with a check mark and a label.

constexpr ULONG TAL_SetChecked = 0x0015000A; // also the notification of every set
constexpr ULONG TAL_GetChecked = 0x00150014;

// ---------------------------------------------------------------------------------------------------
// MutualExclude (built on Group): Tal_AddTail wraps each object in a row with a radio mark.

constexpr ULONG TAL_SetMutualExcludeIndex = 0x0021000A; // also the notification of a selection
constexpr ULONG TAL_GetMutualExcludeIndex = 0x00210014; // -1 while none is selected

// ---------------------------------------------------------------------------------------------------
// ToolButton (built on Group): a button that cycles through state pictures (its members).

constexpr ULONG TAL_SetToolButtonState = 0x0049000A; // also the notification of a state change
constexpr ULONG TAL_GetToolButtonState = 0x00490014;

// ---------------------------------------------------------------------------------------------------
// Text (built on Root): a label, a number shown with the label as its format, wrapped or turned.

constexpr ULONG TAL_SetTextNumber = 0x0004000A; // also switches the text to showing the number
constexpr ULONG TAL_GetTextNumber = 0x00040014;
constexpr ULONG TAL_SetTextMode = 0x0004001E;
constexpr ULONG TAL_GetTextMode = 0x00040028;
constexpr ULONG TAL_SetTextRotation = 0x00040032; // degrees; only 270 is drawn turned
constexpr ULONG TAL_GetTextRotation = 0x0004003C;

constexpr ULONG TAL_TEXT_PLAIN = 0;   // no background, lines centred
constexpr ULONG TAL_TEXT_CENTRED = 1; // the default: background erased, lines centred
constexpr ULONG TAL_TEXT_WRAPPED = 4; // a paragraph broken into lines that fit the width

// ---------------------------------------------------------------------------------------------------
// Space (built on Root): room between gadgets, or a separator line. VectorImage takes the same fixed
// sizes. A fixed size of -1 takes no room at all.

constexpr ULONG TAL_SetSpaceFixedWidth = 0x0001012C;
constexpr ULONG TAL_SetSpaceFixedHeight = 0x00010136;
constexpr ULONG TAL_SetSpaceSize = 0x000E000A; // fixed width and height
constexpr ULONG TAL_SetSpaceSeparator = 0x000E0028;
constexpr ULONG TAL_GetSpaceSeparator = 0x000E0032;
constexpr ULONG TAL_SetSpaceMinWidth = 0x000E0050;
constexpr ULONG TAL_SetSpaceMinHeight = 0x000E005A;

// ---------------------------------------------------------------------------------------------------
// ShortcutKey (built on Group): an editor row for one keyboard shortcut.

// TAL_SetShortcutKey / TAL_GetShortcutKey: the key text.
constexpr ULONG TAL_SetShortcutKeyQualifier = 0x004A001E; // index into TAL_SHORTCUT_QUALIFIERS
constexpr ULONG TAL_GetShortcutKeyQualifier = 0x004A0028;
constexpr ULONG TAL_SetShortcutKeyTarget = 0x004A0032;
constexpr ULONG TAL_GetShortcutKeyTarget = 0x004A003C;
constexpr ULONG TAL_SetShortcutKeyArgumentString = 0x004A0046;
constexpr ULONG TAL_GetShortcutKeyArgumentString = 0x004A0050;
constexpr ULONG TAL_SetShortcutKeyMethodString = 0x004A005A;
constexpr ULONG TAL_GetShortcutKeyMethodString = 0x004A0064;

constexpr const char* TAL_SHORTCUT_QUALIFIERS[] = {"None",     "Left Command", "Right Command",
                                                   "Left Alt", "Right Alt",    "Shift"};

// ---------------------------------------------------------------------------------------------------
// VectorImage (built on Root): the small shapes of the interface, drawn at any size.

constexpr ULONG TAL_SetVectorShape = 0x00050032;

constexpr ULONG TAL_SHAPE_ARROW_LEFT = 0x0005000A;
constexpr ULONG TAL_SHAPE_ARROW_RIGHT = 0x00050014;
constexpr ULONG TAL_SHAPE_ARROW_UP = 0x0005001E;
constexpr ULONG TAL_SHAPE_ARROW_DOWN = 0x00050028;
constexpr ULONG TAL_SHAPE_CHECK = 0x00050032;
constexpr ULONG TAL_SHAPE_UNCHECKED = 0x0005003C;
constexpr ULONG TAL_SHAPE_RADIO_OFF = 0x0005005A;
constexpr ULONG TAL_SHAPE_RADIO_ON = 0x00050064;
constexpr ULONG TAL_SHAPE_QUESTION = 0x0005006E;
constexpr ULONG TAL_SHAPE_CROSS = 0x00050078;
constexpr ULONG TAL_SHAPE_TO_FRONT = 0x00050082;
constexpr ULONG TAL_SHAPE_TO_BACK = 0x0005008C;
constexpr ULONG TAL_SHAPE_MINUS_BOX = 0x00050096; // pressed: plus
constexpr ULONG TAL_SHAPE_PLUS_BOX = 0x000500A0;

// Draws a shape into the rectangle (the shape keeps one pixel inside it) in `pen`; `pressed` selects
// the pressed variant of shapes that have one. The port's pens and mode are kept.
void Tal__DrawVectorShape(Tal_DrawInfo* di, ULONG shape, LONG x, LONG y, LONG w, LONG h, ULONG pen,
                          bool pressed);

// ---------------------------------------------------------------------------------------------------
// Formatting numbers with formats that come from outside (labels, stored texts): at most one integer
// conversion (flags, width and precision allowed; d, i, u, x, X or o, with or without l) and "%%"; every
// other character, further conversions included, is copied as it stands. The result always ends within
// `size` bytes (cut when longer). Returns the length written.
size_t Tal_FormatNumber(char* out, size_t size, const char* format, LONG value);

// ---------------------------------------------------------------------------------------------------
// Classes, in the order they are registered.

ULONG Tal_InitButtonClass();
void Tal_CleanupButtonClass();
ULONG Tal_InitTextClass();
void Tal_CleanupTextClass();
ULONG Tal_InitSpaceClass();
void Tal_CleanupSpaceClass();
ULONG Tal_InitCheckBoxClass();
void Tal_CleanupCheckBoxClass();
ULONG Tal_InitVectorImageClass();
void Tal_CleanupVectorImageClass();
ULONG Tal_InitMutualExcludeClass();
void Tal_CleanupMutualExcludeClass();
ULONG Tal_InitToolButtonClass();
void Tal_CleanupToolButtonClass();
ULONG Tal_InitShortcutKeyClass();
void Tal_CleanupShortcutKeyClass();
