// The image engine's own dialogs: the progress display of long operations, the new-image requester and
// its NewImageReq class, the picture information requester, the welcome requester, snapping to a grid,
// the about box and the out-of-memory message. Requesters are shown modally over the main window and
// block their caller until they are answered.
#pragma once

#include "Vlr/Vlr.h"

// ---------------------------------------------------------------------------------------------------
// Progress display: a window with a bar and a Stop button. The worker updates it; the user stops the
// work with the button or by closing the window (the window's own thread notes it, so it works while
// the worker is busy).

struct Tal_ProgressDisplay {
    ULONG window;
    ULONG progress_bar;
    ULONG stop_button;
    ULONG stopped; // set (atomically) by the window's thread
};

// Opens a display in `parent` (0: the main window) with the title and the bar's text. None when there is
// no window to hold it or it cannot be made; the work then runs without one.
Tal_ProgressDisplay* Tal_BeginProgressDisplay(ULONG parent, const char* title, const char* text);
// Shows value of total (and a new text, when given). 0 when the work is to stop: the display was
// stopped, or the calling task has a break signal pending (also without a display).
ULONG Tal_SetProgressDisplay(Tal_ProgressDisplay* display, ULONG value, ULONG total, const char* text);
// Closes and frees the display; none is ignored.
void Tal_EndProgressDisplay(Tal_ProgressDisplay* display);
// Makes these the displays of the image-file library's loads and saves (and of everything else that
// opens its displays through the library); off again with false.
void Tal__UseProgressDisplays(bool on);

// ---------------------------------------------------------------------------------------------------
// Out of memory: a box titled "Error" with the text (none: "Sorry, out of memory.").

void Tal_OutOfMemory(const char* text);

// ---------------------------------------------------------------------------------------------------
// NewImageReq (built on Group): the contents of the new-image requester. Sizes are pixels; the fields
// show them in the user's unit.

constexpr ULONG TAL_SetNewImageWidth = 0x0028000A;
constexpr ULONG TAL_GetNewImageWidth = 0x00280014;
constexpr ULONG TAL_SetNewImageHeight = 0x0028001E;
constexpr ULONG TAL_GetNewImageHeight = 0x00280028;
constexpr ULONG TAL_SetNewImageDepth = 0x00280032; // 24, or 8 for a grey picture
constexpr ULONG TAL_GetNewImageDepth = 0x0028003C;
constexpr ULONG TAL_SetNewImageLayerDepth = 0x00280096; // of a paint layer: 8 or 24
constexpr ULONG TAL_GetNewImageLayerDepth = 0x002800A0;
constexpr ULONG TAL_SetNewImageLayerKind = 0x002800AA; // TAL_PAINT_LAYER or TAL_FLOATING_IMAGE
constexpr ULONG TAL_GetNewImageLayerKind = 0x002800B4;
constexpr ULONG TAL_GetNewImageBackground = 0x002800C8; // 0x00BBGGRR
constexpr ULONG TAL_SetNewImageResolution = 0x002800D2; // dots per inch (Tal_FloatToULONG)
constexpr ULONG TAL_GetNewImageResolution = 0x002800DC;
constexpr ULONG TAL_ChooseNewImagePreset = 0x002800E6;  // index into TAL_NEW_IMAGE_PRESETS
constexpr ULONG TAL_SetNewImageBackground = 0x002800F0; // 0 black, 1 white, 2 the paint colour
constexpr ULONG TAL_NewImageFieldChanged = 0x002800FA;  // from its fields: the memory line follows
constexpr ULONG TAL_NewImageResolutionChanged = 0x00280104;
constexpr ULONG TAL_GetNewImageMemoryText = 0x0028010E;
constexpr ULONG TAL_GetNewImageRefusal = 0x00280118; // Tal__NewImageRefusal of what the fields hold

constexpr const char* TAL_NEW_IMAGE_PRESETS[] = {"240x320", "320x240", "480x640",
                                                 "640x480", "600x800", "800x600"};

ULONG Tal_InitNewImageReqClass();
void Tal_CleanupNewImageReqClass();

// What a new picture of this size takes, as the memory line shows it: 7 bytes a pixel with a paint layer
// first, 10 with a floating image.
uint64_t Tal__NewImageEstimate(LONG width, LONG height, LONG layerKind);
// Why a new picture of this size (pixels, as the fields give them) and resolution cannot be made: a
// catalogue text, or none when it can (both sides whole numbers from 1 to 32767 once rounded, the
// resolution above 0, and the planes of the picture and its first layer within the free memory).
const char* Tal__NewImageRefusal(float width, float height, float resolution, LONG layerKind,
                                 LONG layerDepth);

// Shows the requester (`request`, or one made here with the active image's size and resolution, else
// 480 x 640 at 72 dpi). Sizes that cannot be made are refused with a message and the requester comes
// back with them. The request on OK (one made here is disposed on cancel), else 0.
ULONG Tal_ShowNewImageReq(ULONG request);
// The requester, then the new picture: listed, with its first layer, active, modified count 0, in a
// view; with TAL_LOAD_NO_VIEW (Vlr/ImageFile.h) without a view and not made active. The request is
// disposed once read. The image, or 0 (cancelled, or out of memory, which is said).
Tal_Image* Tal__DoNewImageReqA(ULONG request, ULONG flags);
Tal_Image* Tal_DoNewImageReq(ULONG request);
// The "New..." command: the requester, the new picture in the place of the active one when the program
// shows one image at a time (the active one's view closed first, which may ask; refused, nothing new).
Tal_Image* Tal__NewImageCommand();

// ---------------------------------------------------------------------------------------------------
// The other requesters. Each returns 1 for OK.

// The picture's file, size and layers, and its picture information (headline, caption, category
// pages); edits are written back on OK, only those fields the user changed (an image without a record
// gets one when there is something to keep).
ULONG Tal_ShowImageInfoReq(Tal_Image* image);
// "Welcome to Velura!": four large buttons that end it and choose the commands 60 (new), 51 (open), 139
// (browse) and 64 (screen grab) through the screen's menu commands; a command the program cannot do now
// is greyed.
ULONG Tal_ShowStartupReq();
// The grid the tools snap to: on or off, its width and height (at least 1) and offsets, in the user's
// unit at 72 dpi.
ULONG Tal_ShowSnapToGridReq();
// The start picture until it is tapped (or the task is told to stop), then the program's version and
// credits.
void Tal__AboutVelura();
