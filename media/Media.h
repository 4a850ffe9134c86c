// The media (brushes): RootMedia, the brush engine that lays dabs of a brush picture into a paint
// layer's coverage (or, in smear and image mode, into the picture itself), and the two media built on it,
// AirBrushMedia and ImageMedia.
//
// All drawing is one method, TAL_MediaStroke, whose argument words are a stroke request: the request
// kind, then the top image, the layer, the stroke kind (1 paints, other nonzero values erase, 0 ends a
// stroke), the stroke flags, the points and the tablet data.
#pragma once

#include "Vlr/Vlr.h"

// Class identifiers.
constexpr ULONG TAL_ROOT_MEDIA_CLASS = 0x00000801;
constexpr ULONG TAL_AIRBRUSH_MEDIA_CLASS = 0x00000802;
constexpr ULONG TAL_IMAGE_MEDIA_CLASS = 0x00000803;

// Attributes (named in the method table, so presets can set them) and further methods; the getters of
// the kind (smear mode), the width and the mode name are the engine's (Vlr/Vlr.h).
constexpr ULONG TAL_SetMediaSize = 0x00110014;
constexpr ULONG TAL_GetMediaSize = 0x0011001E;
constexpr ULONG TAL_SetMediaPressure = 0x00110028;
constexpr ULONG TAL_GetMediaPressure = 0x00110032;
constexpr ULONG TAL_MediaStroke = 0x00110050;
constexpr ULONG TAL_SetMasterMediaImageName = 0x0011012C;
constexpr ULONG TAL_GetMasterMediaImageName = 0x0011012D;
constexpr ULONG TAL_SetMediaBrushImage = 0x00110136;
constexpr ULONG TAL_GetMediaBrushImage = 0x00110140;
constexpr ULONG TAL_MakeMediaImages = 0x0011014A;
constexpr ULONG TAL_FreeMediaImages = 0x00110154;
constexpr ULONG TAL_FillMediaImage = 0x0011015E;
constexpr ULONG TAL_SetMediaFreehandMode = 0x00110168;
constexpr ULONG TAL_GetMediaFreehandMode = 0x00110172;
constexpr ULONG TAL_SetMediaSmearMode = 0x0011017C;
constexpr ULONG TAL_SetMediaImageMode = 0x00110190;
constexpr ULONG TAL_GetMediaImageMode = 0x0011019A;
constexpr ULONG TAL_SetMasterMediaAlphaImageName = 0x001101A4;
constexpr ULONG TAL_GetMasterMediaAlphaImageName = 0x001101AE;
constexpr ULONG TAL_SetMediaJitter = 0x001101B8;
constexpr ULONG TAL_GetMediaJitter = 0x001101C2;
constexpr ULONG TAL_GetMediaHeight = 0x001101EA;
constexpr ULONG TAL_SetMediaFlags = 0x001101F4;
constexpr ULONG TAL_GetMediaFlags = 0x001101FE;
constexpr ULONG TAL_SetMediaModeName = 0x00110208;
constexpr ULONG TAL_SetMasterMediaImage = 0x0011021C;      // a picture lent to the medium, not owned
constexpr ULONG TAL_SetMasterMediaAlphaImage = 0x00110226; // likewise

// Request kinds, the first word of a stroke request. Any other kind (0) only ends the stroke.
constexpr ULONG TAL_MEDIA_LINE = 0x00110064;  // top image, layer, kind, flags, x0, y0, x1, y1, tablet
constexpr ULONG TAL_MEDIA_CURVE = 0x0011006E; // top image, layer, kind, flags, x0, y0, xm, ym, x2, y2, tablet
constexpr ULONG TAL_MEDIA_DAB = 0x001100AA;   // top image, layer, kind, flags, x, y, tablet

// Stroke flags.
constexpr ULONG TAL_STROKE_QUIET = 1;      // the dabs announce nothing (the caller will)
constexpr ULONG TAL_STROKE_ALONG_LINE = 2; // dabs all along a line even when freehand mode is off

// Words in the longest stroke request (a curve), kind included.
constexpr size_t TAL_MEDIA_REQUEST_WORDS = 12;

// Pen data that comes with a point: the pressure is the top byte of the first word (0 = none).
struct TalTabletData {
    ULONG word;
};

constexpr size_t TAL_MEDIA_NAME_SIZE = 260;

// The state of the brush engine, the RootMedia instance. The images and names are replaced only under
// `lock`, which also covers each whole stroke request.
struct Tal_Media {
    Tal_Object header;
    LONG size; // as last set; 0 until set
    LONG width, height;
    UWORD pressure;
    Tal_Image* brush_image;        // width × height: 8-bit coverage stamp, or 24-bit in image mode
    Tal_Image* master_image;       // as loaded or lent; none for the built-in round brush
    Tal_Image* smear_image;        // (width + 1) × (height + 1), 24-bit, in smear mode
    Tal_Image* master_alpha_image; // as loaded or lent
    Tal_Image* alpha_image;        // the master alpha scaled to width × height, 24-bit
    char master_image_name[TAL_MEDIA_NAME_SIZE];
    char master_alpha_image_name[TAL_MEDIA_NAME_SIZE];
    char mode_name[TAL_MEDIA_NAME_SIZE];
    LONG freehand_mode;
    LONG smear_mode; // 0 off, 1 smear, 2 smear after recomposing the dab's area
    LONG image_mode;
    LONG jitter; // percent of the brush size
    LONG last_x, last_y;
    LONG flags;
    LONG last_stroke_kind;
    SignalSemaphore lock;

    // Whether the master pictures were loaded here (owned) or lent (TAL_SetMasterMediaImage...).
    bool master_owned, alpha_owned;
    // The union of the rectangles the dabs of the running line changed, and the image it lies in.
    bool changed_any;
    Tal_Image* changed_in;
    LONG changed_x0, changed_y0, changed_x1, changed_y1;
};

// The RootMedia part of a medium (the object itself or one its instances delegate to); none when the
// handle names no medium. The caller keeps the medium alive.
Tal_Media* Tal__GetMedia(ULONG handle);
// Records a rectangle (in `where`'s coordinates) that a dab of this medium changed, so that the line
// running it announces it.
void Tal__NoteMediaChange(Tal_Media* media, Tal_Image* where, LONG x0, LONG y0, LONG x1, LONG y1);

// Dabs along a straight line and along a quadratic curve, through the top image's medium.
void Tal__DrawMediaLine(Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x0, LONG y0, LONG x1,
                        LONG y1, Tal_Word tablet);
void Tal__DrawMediaCurve(Tal_Image* top, Tal_Image* layer, LONG kind, ULONG flags, LONG x0, LONG y0, LONG xm,
                         LONG ym, LONG x2, LONG y2, Tal_Word tablet);

// Ends a stroke: the medium forgets the stroke kind, so the next stroke starts afresh.
inline void Tal_EndMediaStroke(ULONG media) {
    const Tal_Word request[TAL_MEDIA_REQUEST_WORDS] = {};
    Tal_DoMethodA(media, TAL_MediaStroke, request);
}

ULONG Tal_InitRootMediaClass();
void Tal_CleanupRootMediaClass();
ULONG Tal_InitAirBrushMediaClass();
void Tal_CleanupAirBrushMediaClass();
ULONG Tal_InitImageMediaClass();
void Tal_CleanupImageMediaClass();
