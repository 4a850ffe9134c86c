// Text and measurement fields: StringEdit (a one-line text or number field edited in place by the
// host's text-entry control), MeasurementEdit (a length shown in the user's unit) and
// MeasurementUnitsPrefs (the choice of that unit for the whole program).
#pragma once

#include "ui/Group.h"
#include "ui/Window.h"

// ---------------------------------------------------------------------------------------------------
// StringEdit (built on Root).

constexpr ULONG TAL_SetString = 0x001E000A;         // text: at most 255 characters are kept
constexpr ULONG TAL_GetString = 0x001E0014;         // a pointer to the field's text
constexpr ULONG TAL_SetStringFlags = 0x001E001E;    // TAL_STRING_* bits
constexpr ULONG TAL_SetStringMaxChars = 0x001E0028; // 1..255; typing stops there
constexpr ULONG TAL_SetStringNumber = 0x001E0032;   // the text becomes the number in decimal
constexpr ULONG TAL_GetStringNumber = 0x001E003C;   // "0x" hexadecimal, leading 0 octal; 0 for no number
constexpr ULONG TAL_SetStringFrame = 0x001E0046;    // like Tal_SetGroupFrame (6: no frame, no border)
constexpr ULONG TAL_SetStringFrame2 = 0x001E0050;
// TAL_TextEditFocusLost (0x001E005A, ui/Window.h): reads the text back from the host control; when it
// changed, notifies TAL_SetString with the text (text fields) or TAL_SetStringNumber with the number
// (number fields). 1 when it changed.
constexpr ULONG TAL_GetStringCursor = 0x001E0064;

constexpr ULONG TAL_STRING_NUMBER = 1;    // a number field
constexpr ULONG TAL_STRING_PERMANENT = 8; // the host control stays open (a multi-line field)

// ---------------------------------------------------------------------------------------------------
// MeasurementEdit (built on StringEdit). Values are floats passed as their bits (Tal_FloatToULONG).

constexpr ULONG TAL_SetMeasurementUnit = 0x0058000A; // the unit shown (TAL_UNIT_*)
constexpr ULONG TAL_GetMeasurementUnit = 0x00580014;
constexpr ULONG TAL_SetMeasurementBaseUnit = 0x0058001E; // the unit of the values exchanged
constexpr ULONG TAL_GetMeasurementBaseUnit = 0x00580028;
constexpr ULONG TAL_SetMeasurementValue = 0x00580032; // also notified when the value changes
constexpr ULONG TAL_GetMeasurementValue = 0x0058003C;
constexpr ULONG TAL_SetMeasurementResolution = 0x00580046; // dots per inch
constexpr ULONG TAL_GetMeasurementResolution = 0x00580050;
constexpr ULONG TAL_SetMeasurementWord = 0x0058005A; // kept and stored for the owner
constexpr ULONG TAL_GetMeasurementWord = 0x00580064;
constexpr ULONG TAL_SetMeasurementUnits = 0x00580082; // the unit of every field in the program
constexpr ULONG TAL_MeasurementTyped = 0x00580096;    // the user's text became the value
constexpr ULONG TAL_GetMeasurementText = 0x005800A0;

constexpr ULONG TAL_UNIT_CM = 1;
constexpr ULONG TAL_UNIT_MM = 2;
constexpr ULONG TAL_UNIT_INCHES = 3;
constexpr ULONG TAL_UNIT_PIXELS = 4;
constexpr ULONG TAL_UNIT_DPI = 5; // a resolution field: it keeps its unit when the others change

// The program's unit (TAL_UNIT_CM .. TAL_UNIT_PIXELS) and the object that tells every measurement field
// and units choice about a change (attribute TAL_SetMeasurementUnits).
ULONG Tal__GetMeasurementUnits();
ULONG Tal__SetMeasurementUnits(ULONG unit); // 0 for a unit outside 1..4
ULONG Tal__MeasurementUnitsObject();

// ---------------------------------------------------------------------------------------------------
// MeasurementUnitsPrefs (built on Group): a PopUpList of the four unit names.

constexpr ULONG TAL_UnitsPrefsChosen = 0x0059000A; // from its list: the entry index chosen
constexpr ULONG TAL_UnitsPrefsShow = 0x00590014;   // from the units object: the unit to show

// ---------------------------------------------------------------------------------------------------
// Classes, in the order they are registered.

ULONG Tal_InitStringEditClass();
void Tal_CleanupStringEditClass();
ULONG Tal_InitMeasurementEditClass();
void Tal_CleanupMeasurementEditClass();
ULONG Tal_InitMeasurementUnitsPrefsClass();
void Tal_CleanupMeasurementUnitsPrefsClass();
