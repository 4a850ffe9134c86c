// The value gadgets: Slider, Scroller, Knob, Angle and ProgressBar. They share the value attributes of
// the 0x8000xxxx family, so that a panel sets range and value the same way on any of them, and they all
// report a change of the value by notifying TAL_SetValue.
#pragma once

#include "Tal/Root.h"

struct Tal_DrawInfo;

// Shared value attributes (Scroller, Slider, Knob).
constexpr ULONG TAL_SetMinimum = 0x80000064;
constexpr ULONG TAL_GetMinimum = 0x80000065;
constexpr ULONG TAL_SetMaximum = 0x8000006E;
constexpr ULONG TAL_GetMaximum = 0x8000006F;
constexpr ULONG TAL_SetValue = 0x80000078; // also the notification of every change
constexpr ULONG TAL_GetValue = 0x80000079;
constexpr ULONG TAL_SetValueFormat = 0x80000082; // the text is kept by reference
// 1 (the default): every change during a drag is notified; 0: one notification at the release.
constexpr ULONG TAL_SetValueImmediate = 0x0001005A;

// Slider.
constexpr ULONG TAL_SliderIncrease = 0x000D000A;
constexpr ULONG TAL_SliderDecrease = 0x000D0014;

// Scroller.
constexpr ULONG TAL_ScrollerIncrease = 0x001C000A; // value + step
constexpr ULONG TAL_ScrollerDecrease = 0x001C0014; // value - step
constexpr ULONG TAL_SetScrollerValue = 0x001C001E; // also its change notification in scroller mode
constexpr ULONG TAL_GetScrollerValue = 0x001C0028;
constexpr ULONG TAL_SetScrollerTotal = 0x001C0032;
constexpr ULONG TAL_GetScrollerTotal = 0x001C003C;
constexpr ULONG TAL_SetScrollerVisible = 0x001C0046;
constexpr ULONG TAL_GetScrollerVisible = 0x001C0050;
constexpr ULONG TAL_SetScrollerMinimum = 0x001C005A;
constexpr ULONG TAL_SetScrollerStep = 0x001C006E;
constexpr ULONG TAL_GetScrollerStep = 0x001C0078;

// Knob.
constexpr ULONG TAL_KnobIncrease = 0x004C000A;
constexpr ULONG TAL_KnobDecrease = 0x004C0014;

// Angle.
constexpr ULONG TAL_SetAngle = 0x004D000A; // also its change notification
constexpr ULONG TAL_GetAngle = 0x004D0014;

// ProgressBar.
constexpr ULONG TAL_SetProgressValue = 0x0048000A;
constexpr ULONG TAL_GetProgressValue = 0x00480014;
constexpr ULONG TAL_SetProgressTotal = 0x0048001E;
constexpr ULONG TAL_GetProgressTotal = 0x00480028;
constexpr ULONG TAL_SetProgressBarLabel = 0x00480032;
constexpr ULONG TAL_GetProgressBarLabel = 0x0048003C;
constexpr ULONG TAL_RemoveProgressBarLabel = 0x0048006E;

ULONG Tal_InitSliderClass();
void Tal_CleanupSliderClass();
ULONG Tal_InitScrollerClass();
void Tal_CleanupScrollerClass();
ULONG Tal_InitKnobClass();
void Tal_CleanupKnobClass();
ULONG Tal_InitAngleClass();
void Tal_CleanupAngleClass();
ULONG Tal_InitProgressBarClass();
void Tal_CleanupProgressBarClass();

// ---------------------------------------------------------------------------------------------------
// Helpers the value gadgets share (Slider.cpp).

// What storing a value did.
enum class Tal__ValueChange {
    None,   // the value was already there
    Silent, // stored by the first set from the program: nobody is told
    Notify, // changed: listeners hear of it
};

// The value rule: `wanted` is clamped to [low, high] (low wins when high is below it) and stored. The
// first set from the program (not `byUser`) is silent, so that a panel can put a gadget and the value
// it edits in step without echoes; every later change, and every change the user makes, notifies.
Tal__ValueChange Tal__StoreValue(LONG* value, bool* wasSet, LONG wanted, LONG low, LONG high, bool byUser);
LONG Tal__ClampValue(LONG v, LONG low, LONG high);

// The value a drag reaches: start + range × moved ÷ span, with the span at least 1 so that a squeezed
// gadget or an empty range never divides by zero. Ranges are 64-bit, so that any two LONG ends work;
// the result saturates to the LONG range.
LONG Tal__DragValue(LONG start, int64_t range, LONG moved, LONG span);
// Where a thumb sits: span × part ÷ range (part limited to [0, range]; 0 for an empty range or span).
LONG Tal__ThumbOffset(LONG span, int64_t part, int64_t range);

// Font height and frame sizes from the screen's context, or the interface defaults.
struct Tal__ValueMetrics {
    LONG fontHeight;
    LONG frameWidth;
    LONG frameHeight;
};
Tal__ValueMetrics Tal__GetValueMetrics(ULONG object);

// The value as its format shows it (bounded; an empty or missing format is "%ld").
void Tal__FormatValue(char* out, size_t size, const char* format, LONG value);

// The thumb that shows the value: as wide as the format's text for the larger of |minimum × 10| and
// |maximum| plus the frame on both sides, and a font line high.
void Tal__TextThumbSize(ULONG object, const char* format, LONG minimum, LONG maximum, LONG* width,
                        LONG* height);
// Draws that thumb with the value's text centred: a button-face frame, or filled with `fill` (a
// program colour, TAL_NO_COLOUR for none) on displays of more than 256 colours.
void Tal__DrawTextThumb(ULONG object, Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h, const char* format,
                        LONG value, ULONG fill);
