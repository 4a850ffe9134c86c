// The colour editors: ColourBox (one colour), ColourSpace (a two-dimensional colour field to pick from),
// ColourEdit (fields, a box and six sliders in step) and LUTEdit (a three-point curve over a lookup
// table), with the colour conversions they share. Colours are words 0x00BBGGRR (red in the low byte).
#pragma once

#include "Tal/Root.h"

// ---------------------------------------------------------------------------------------------------
// Conversions.

struct Tal_HSV {
    LONG hue;        // 0 .. 359 degrees
    LONG saturation; // 0 .. 255
    LONG value;      // 0 .. 255
};

// Integer HSV to RGB with the rounding (x × 257 + 1) >> 16. Saturation and value are taken as 16-bit
// numbers (bit 15 set counts as 0) and kept within 0 .. 255; a hue outside 0 .. 359 gives black unless
// the saturation is 0, which gives the grey of the value.
ULONG Tal_HSVToRGB(LONG hue, LONG saturation, LONG value);
// RGB to HSV in single precision, each result truncated; hue 0 for greys.
Tal_HSV Tal_RGBToHSV(ULONG colour);

constexpr ULONG Tal_PackRGB(ULONG red, ULONG green, ULONG blue) {
    return (red & 0xFF) | (green & 0xFF) << 8 | (blue & 0xFF) << 16;
}

// ---------------------------------------------------------------------------------------------------
// ColourBox (built on Root): shows one colour.

constexpr ULONG TAL_SetColourBoxRed = 0x0017000A; // each set notifies its own identifier
constexpr ULONG TAL_SetColourBoxGreen = 0x0017000B;
constexpr ULONG TAL_SetColourBoxBlue = 0x0017000C;
constexpr ULONG TAL_GetColourBoxRed = 0x00170014;
constexpr ULONG TAL_GetColourBoxGreen = 0x00170015;
constexpr ULONG TAL_GetColourBoxBlue = 0x00170016;
constexpr ULONG TAL_SetColourBoxColour = 0x0017001E;
constexpr ULONG TAL_SetColourBoxFixedWidth = 0x00170032; // 0: free
constexpr ULONG TAL_GetColourBoxFixedWidth = 0x0017003C;
constexpr ULONG TAL_SetColourBoxFixedHeight = 0x00170046;
constexpr ULONG TAL_GetColourBoxFixedHeight = 0x00170050;

// ---------------------------------------------------------------------------------------------------
// ColourSpace (built on Root): a field of colours of one kind; a press or a drag picks from it. The
// marker (an inverted ring round the current colour) shows while the marker count is at least 1.
// Fixed sizes: TAL_SetFixedWidth, TAL_SetFixedHeight.

constexpr ULONG TAL_SetColourSpaceColour = 0x001D001E; // also the notification of every set
constexpr ULONG TAL_GetColourSpaceColour = 0x001D0028;
constexpr ULONG TAL_SetColourSpaceKind = 0x001D003C; // "HS", "HW", "HK", "HSV", "HSV2" or "SV"
constexpr ULONG TAL_GetColourSpaceKind = 0x001D0046;
constexpr ULONG TAL_RaiseColourSpaceMarker = 0x001D0050;
constexpr ULONG TAL_LowerColourSpaceMarker = 0x001D005A;

// The colour a field of a kind shows at (x, y) of a w × h field; `hue` is the current colour's, used by
// "SV" only. 0 for an unknown kind.
ULONG Tal_ColourSpaceColourAt(const char* kind, LONG x, LONG y, LONG w, LONG h, LONG hue);

// ---------------------------------------------------------------------------------------------------
// ColourEdit (built on Group): five colour fields, a colour box and sliders for red, green, blue, hue,
// saturation and value that stay in step. TAL_SetValueImmediate goes to its sliders.

constexpr ULONG TAL_SetColourEditColour = 0x001B001E; // also the notification of every change
constexpr ULONG TAL_GetColourEditColour = 0x001B0028;
constexpr ULONG TAL_ColourEditRed = 0x001B0032; // from the sliders: the new component
constexpr ULONG TAL_ColourEditGreen = 0x001B0033;
constexpr ULONG TAL_ColourEditBlue = 0x001B0034;
constexpr ULONG TAL_ColourEditHue = 0x001B0035;
constexpr ULONG TAL_ColourEditSaturation = 0x001B0036;
constexpr ULONG TAL_ColourEditValue = 0x001B0037;
constexpr ULONG TAL_ColourEditPicked = 0x001B0046; // from its colour fields: the picked colour
// The parts, for panels that arrange or watch them: argument 0..4 the colour fields ("HSV", "HSV2",
// "HK", "HW", "SV"), 5 the colour box, 6..11 the sliders (red, green, blue, hue, saturation, value).
constexpr ULONG TAL_GetColourEditPart = 0x001B0050;

// ---------------------------------------------------------------------------------------------------
// LUTEdit (built on Group): a curve from (minimum x, minimum y) through a middle point the user drags to
// (maximum x, maximum y), over a lookup table of the owner's holding one entry of the element size for
// each x from minimum x to maximum x.

constexpr ULONG TAL_SetLUTMinX = 0x0050000A;
constexpr ULONG TAL_GetLUTMinX = 0x00500014;
constexpr ULONG TAL_SetLUTMaxX = 0x0050001E; // maxima are at least 1
constexpr ULONG TAL_GetLUTMaxX = 0x00500028;
constexpr ULONG TAL_SetLUTMinY = 0x00500032;
constexpr ULONG TAL_GetLUTMinY = 0x0050003C;
constexpr ULONG TAL_SetLUTMaxY = 0x00500046;
constexpr ULONG TAL_GetLUTMaxY = 0x00500050;
constexpr ULONG TAL_SetLUTTable = 0x0050005A;         // the table, of the current element size (0: none)
constexpr ULONG TAL_SetLUTTableElements = 0x0050005B; // the table and its element size (1, 2 or 4)
constexpr ULONG TAL_SetLUTEntry = 0x00500064;         // position, value: 1, or -1 (no table, outside)
constexpr ULONG TAL_GetLUTEntry = 0x0050006E;         // position: the value, or -1
constexpr ULONG TAL_SetLUTMiddle = 0x00500078;        // x, y; also the notification of every change
constexpr ULONG TAL_GetLUTMiddleX = 0x00500082;
constexpr ULONG TAL_GetLUTMiddleY = 0x0050008C;

// ---------------------------------------------------------------------------------------------------
// Classes, in the order they are registered.

ULONG Tal_InitColourBoxClass();
void Tal_CleanupColourBoxClass();
ULONG Tal_InitColourEditClass();
void Tal_CleanupColourEditClass();
ULONG Tal_InitColourSpaceClass();
void Tal_CleanupColourSpaceClass();
ULONG Tal_InitLUTEditClass();
void Tal_CleanupLUTEditClass();
