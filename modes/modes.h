// Paint modes: what a paint layer does to the picture below it. The compositor asks a layer's mode, one
// span at a time, for the full effect of the mode on the picture below (TAL_ModeRenderLine with a
// Tal_ModeLineRecord), then blends that result in by the layer's coverage and effect controls.
//
// RootMode holds what every mode shares (its layer, flags, ten small parameters, its options panel);
// the concrete modes are built on it by delegation.
#pragma once

#include "Vlr/Vlr.h"

// ---------------------------------------------------------------------------------------------------
// Methods of every mode (class 0x12). TAL_ModeRenderLine, TAL_GetModeFlags, TAL_SetModeLayer and
// TAL_GetModeOptions come with the engine's header.

constexpr ULONG TAL_SetModeFlags = 0x00120015;
constexpr ULONG TAL_GetModeLayer = 0x00120028;
constexpr ULONG TAL_SetModeOptions = 0x00120032;
constexpr ULONG TAL_ModeChanged = 0x00120046; // asks the layer's image for a recompose

constexpr ULONG TAL_SetModeAmount = 0x0012006E;
constexpr ULONG TAL_GetModeAmount = 0x00120078;
constexpr ULONG TAL_SetModeRadius = 0x00120082;
constexpr ULONG TAL_GetModeRadius = 0x0012008C;
constexpr ULONG TAL_SetModeAngle = 0x00120096;
constexpr ULONG TAL_GetModeAngle = 0x001200A0;
constexpr ULONG TAL_SetModeColourMode = 0x001200AA;
constexpr ULONG TAL_GetModeColourMode = 0x001200B4;
constexpr ULONG TAL_SetModeParameterE = 0x001200BE;
constexpr ULONG TAL_GetModeParameterE = 0x001200C8;
constexpr ULONG TAL_SetModeParameterF = 0x001200FA;
constexpr ULONG TAL_GetModeParameterF = 0x00120104;
constexpr ULONG TAL_SetModeParameterG = 0x0012010E;
constexpr ULONG TAL_GetModeParameterG = 0x00120118;
constexpr ULONG TAL_SetModeParameterH = 0x00120122;
constexpr ULONG TAL_GetModeParameterH = 0x0012012C;
constexpr ULONG TAL_SetModeParameterI = 0x00120136;
constexpr ULONG TAL_GetModeParameterI = 0x00120140;
constexpr ULONG TAL_SetModeParameterJ = 0x0012014A;
constexpr ULONG TAL_GetModeParameterJ = 0x00120154;

// Flags of TAL_GetModeFlags besides TAL_ModeReadsSource: while the source image is recomposed in
// bands, its changes are reported once its last row arrives.
constexpr ULONG TAL_ModeSourceAtLastRow = 4;

// Methods of the mode options plug-in and of panels that a mode sends.
constexpr ULONG TAL_PluginHideTitle = 0x03E80050;
constexpr ULONG TAL_PluginToFront = 0x03E8008C;

// Colourise (and Sepia): the colour the ramps are built for, instead of the layer's colour.
constexpr ULONG TAL_SetColouriseRed = 0x0000081E;
constexpr ULONG TAL_SetColouriseGreen = 0x00000832;
constexpr ULONG TAL_SetColouriseBlue = 0x00000846;

// ColourToGrey: the conversion, 0..10 (TAL_GREY_LUMINANCE by default).
constexpr ULONG TAL_SetGreyConversion = 0x0000081E;
constexpr ULONG TAL_GetGreyConversion = 0x00000828;
constexpr LONG TAL_GREY_MIN = 0;
constexpr LONG TAL_GREY_MAX = 1;
constexpr LONG TAL_GREY_AVERAGE = 2;
constexpr LONG TAL_GREY_RED = 3;
constexpr LONG TAL_GREY_GREEN = 4;
constexpr LONG TAL_GREY_BLUE = 5;
constexpr LONG TAL_GREY_GREEN_BLUE = 6;
constexpr LONG TAL_GREY_RED_BLUE = 7;
constexpr LONG TAL_GREY_RED_GREEN = 8;
constexpr LONG TAL_GREY_LUMINANCE = 9;
constexpr LONG TAL_GREY_VIDEO = 10;

// Clone: the offset of the picture it copies (signed 16-bit each), and a group of offset changes
// (argument 1 opens, 0 closes) during which a change is announced but asks for no recompose.
constexpr ULONG TAL_SetCloneDX = 0x1B5A000A;
constexpr ULONG TAL_GetCloneDX = 0x1B5A0014;
constexpr ULONG TAL_SetCloneDY = 0x1B5A001E;
constexpr ULONG TAL_GetCloneDY = 0x1B5A0028;
constexpr ULONG TAL_CloneOffsetGroup = 0x1B5A0046;

// ---------------------------------------------------------------------------------------------------
// The classes.

ULONG Tal_InitRootModeClass();
void Tal_CleanupRootModeClass();
ULONG Tal_InitPaintModeClass();
void Tal_CleanupPaintModeClass();
ULONG Tal_InitNegativeModeClass();
void Tal_CleanupNegativeModeClass();
ULONG Tal_InitColouriseModeClass();
void Tal_CleanupColouriseModeClass();
ULONG Tal_InitSepiaModeClass();
void Tal_CleanupSepiaModeClass();
ULONG Tal_InitColourToGreyModeClass();
void Tal_CleanupColourToGreyModeClass();
ULONG Tal_InitEmbossModeClass();
void Tal_CleanupEmbossModeClass();
ULONG Tal_InitFlipXModeClass();
void Tal_CleanupFlipXModeClass();
ULONG Tal_InitFlipYModeClass();
void Tal_CleanupFlipYModeClass();
ULONG Tal_InitCloneModeClass();
void Tal_CleanupCloneModeClass();
