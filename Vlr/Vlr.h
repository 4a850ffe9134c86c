// The image engine: images, layers and their planes, the image list, the Image class and its thread,
// compositing, change announcements, undo data and fixing.
//
// Every picture is a Tal_Image, and so is every layer of it. Pixels are planar: three 8-bit planes for
// colour, one for grey or paint coverage, float planes for the high-precision depth. A plane is one block
// holding a row table followed by its rows, and is handled through its row table.
#pragma once

#include "Tal/RootIDs.h"
#include "Tal/Tal.h"
#include "Tal/Thread.h"
#include "host/graphics.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

struct Tal_Image;
struct Tal_ImageView;

// ---------------------------------------------------------------------------------------------------
// Records.

// A list node that knows the record it links.
struct Tal_ImageNode {
    Node node;
    void* owner;
};

// Image kinds.
constexpr LONG TAL_IMAGE = 0;
constexpr LONG TAL_PAINT_LAYER = 1;
constexpr LONG TAL_FLOATING_IMAGE = 2;

// Flags of Tal_AllocImage.
constexpr ULONG TAL_ALLOC_NO_BASE = 1;   // no base planes
constexpr ULONG TAL_ALLOC_NO_THREAD = 2; // no image thread (the row extents are always made)

// Fade shapes.
constexpr LONG TAL_FADE_NONE = 0;
constexpr LONG TAL_FADE_EDGES = 1;
constexpr LONG TAL_FADE_CIRCLE = 2;
constexpr LONG TAL_FADE_ELLIPSE = 3;

constexpr size_t TAL_PATH_SIZE = 264;
constexpr size_t TAL_NAME_FIELD = 128;

struct Tal_Image {
    Tal_Object header;
    Tal_ImageNode layer_node;    // in the image list, or in the parent's layer list
    Tal_ImageNode registry_node; // in the registry of live images
    MsgPort* thread_port;        // the image thread's port (top-level images)
    LONG kind;
    LONG width, height;
    LONG depth; // 8, 24, 32 or 96
    float resolution;
    UBYTE** red;
    UBYTE** green;
    UBYTE** blue;
    UBYTE** base_red;
    UBYTE** base_green;
    UBYTE** base_blue;
    UBYTE** grey;
    UBYTE** base_grey;
    float** fred;
    float** fgreen;
    float** fblue;
    float** base_fred;
    float** base_fgreen;
    float** base_fblue;
    float** fgrey;
    float** base_fgrey;
    UBYTE* scratch_red;
    UBYTE* scratch_green;
    UBYTE* scratch_blue;
    UBYTE* scratch_grey;
    UBYTE* rgb_line; // 3 × width + 16 bytes
    UBYTE* spare_line;
    float* fscratch_red;
    float* fscratch_green;
    float* fscratch_blue;
    float* fspare_line;
    List layers; // bottom first
    Tal_Image* current_layer;
    Tal_Image* paint_layer;
    Tal_Image* parent;
    Tal_Image* top_image;
    Tal_Image* mask_image;
    Tal_Image* mode_source_image;
    Tal_Image* alpha_child;
    Tal_ImageView* first_view;
    List views;
    Tal_Box* damage_rect;
    char file_path[TAL_PATH_SIZE];
    UBYTE layer_colour[3]; // R, G, B
    UBYTE pending_colour[3];
    char mode_name[TAL_NAME_FIELD];
    char pending_mode_name[TAL_NAME_FIELD];
    char media_name[TAL_NAME_FIELD];
    ULONG media;
    ULONG mode;
    ULONG pending_mode;
    WORD layer_x, layer_y, layer_w, layer_h;
    WORD orig_w, orig_h;
    WORD source_x, source_y, source_w, source_h, source_full_w, source_full_h;
    WORD mask_x, mask_y, mask_w, mask_h, mask_full_w, mask_full_h;
    LONG* row_min_x; // height + 4 each; an empty row has min = width − 1, max = 0
    LONG* row_max_x;
    ULONG live_action;
    ULONG action_list; // a ListTree of the recorded actions, newest first
    LONG visible;
    std::atomic<LONG> process_enable;
    std::atomic<LONG> redraw_enable;
    std::atomic<LONG> notify_hold;
    std::atomic<LONG> interruptible;
    std::atomic<LONG> fix_count;
    std::atomic<LONG> restore_pending;
    LONG keep_settings;
    std::atomic<LONG> redraw_busy;
    std::atomic<LONG> alloc_state; // 1 allocated, 0 not, −1 being disposed
    std::atomic<LONG> lock_count;
    UWORD opacity;
    UWORD red_strength, green_strength, blue_strength;
    UWORD hue_strength, saturation_strength, value_strength;
    UWORD highlights, midtones, shadows;
    UWORD tone_table_dirty;
    UBYTE* tone_table; // 768 bytes
    LONG fade_shape;
    LONG fade_size;
    LONG fade_softness;
    LONG fade_invert;
    char file_type[TAL_NAME_FIELD];
    char format_name[TAL_NAME_FIELD];
    SignalSemaphore compose_lock;
    LONG owner_context;
    Tal_Word mask_notify;
    Tal_Word source_notify;
    Tal_Semaphore* lock;
    ULONG thread;
    Tal_ThreadEntry thread_entry;
    LONG marker_x, marker_y;
    void* info_record;
    std::atomic<LONG> modified_count;
    char* extra_image_path; // 260 bytes
    ULONG extra_image;

    // Engine bookkeeping.
    std::atomic<LONG> pins;         // Tal_LockImageA calls between the registry look-up and the lock
    std::atomic<Task*> thread_task; // the image thread's task while it runs
    LONG new_width, new_height;     // the size being made between Tal_BeginNewImageSize and End or Abort
    LONG resizing;
    UBYTE** parked[3];              // an image's working planes of the old size while it is resized
    Tal_Word recompose_arg;         // the layer of the banded recompose running on this image
    std::atomic<LONG> thread_state; // 0 starting, 1 port made, 2 ended
    Tal_Word parent_notify;         // the change listener the parent installed on this layer
    LONG in_list;                   // linked into the image list
};

// A request for the rows of a region.
struct Tal_ImageLock {
    Tal_Image* image;
    Tal_Image* layer; // none: the image's own data
    LONG x0, y0, x1, y1;
    UBYTE** red_rows; // indexed by absolute row and column
    UBYTE** green_rows;
    UBYTE** blue_rows;
    UBYTE** grey_rows;
    void* block1; // private, freed by Tal_FreeImageLock
    void* block2;
};

// The argument of a mode's line method (TAL_ModeRenderLine): six pointers.
struct Tal_ModeLineRecord {
    Tal_ImageLock* region; // image, layer, x0, y, x1, y and the rows composed so far below the layer
    Tal_ImageLock* below;  // image and layer only: for Tal_GetImageDataBelowLayer
    UBYTE** red_result;    // result row tables: entries 0..x1 − x0 of row 0
    UBYTE** green_result;
    UBYTE** blue_result;
    UBYTE** grey_result;
};

struct Tal_ImageView {
    Tal_Object header;
    Tal_ImageNode view_node;
    Tal_Image* image;
    LONG scroll_x, scroll_y;
    LONG visible_w, visible_h;
    LONG shown_w, shown_h;
    ULONG window;
    ULONG scroll_group;
    Tal_Box* layout_box;
    LONG owner_context;
    LONG shown;
    RastPort rast_port;
    Tal_Word image_notify;
    LONG dispose_image;
    ULONG status_group, progress_bar, status_text;
    Tal_Word busy_notify, progress_notify, done_notify;
    ULONG video_data;
    LONG pointer_state;
    LONG marker_x, marker_y;
    LONG media_size, media_pressure;
    char media_name[TAL_NAME_FIELD];
    LONG redraw_pending;
    LONG full_screen;
    ULONG buttons[2];
    ULONG image_handle;
};

// The global state of the image engine, hung from Tal_GetGlobalData()->imageBase.
struct Tal_ImageBase {
    List images;              // top-level images
    List registry;            // every image object
    SignalSemaphore listLock; // guards both lists and the active image
    Tal_Image* active_image;
    Tal_Image* image_object; // the 8 × 8 image that is the hub of engine-wide notifications
    LONG paint_red, paint_green, paint_blue;
    char default_mode_name[TAL_NAME_FIELD];
    char default_media_name[TAL_NAME_FIELD];
    LONG thumb_width, thumb_height;
    SignalSemaphore redraw_lock;
    LONG redraw_lines;
    std::atomic<LONG> live_redo; // the user's setting (command 142)
    LONG single_image;           // open replaces the active image's view
    LONG are_you_sure;           // ask before closing a modified image
    ULONG current_tool;
    ULONG app_object;
    ULONG screen_object;
    ULONG main_window;
    char preset_name[TAL_NAME_FIELD]; // current media preset
    ULONG preset;
    ULONG preset_list;
    ULONG max_undo_size; // stored, not enforced
    char product_name[TAL_NAME_FIELD];
    LONG count; // nested opens
    // Registered by the mode options plug-in while it exists: the group in which the current layer's
    // mode shows its options panel, and the plug-in itself.
    ULONG mode_options_container;
    ULONG mode_options_plugin;
    // Snapping to a grid (the snap requester sets it; a size below 1 counts as 10).
    LONG snap_enabled;
    LONG snap_width, snap_height;
    LONG snap_x, snap_y;
};

// ---------------------------------------------------------------------------------------------------
// Method identifiers of the Image class (class 0x10, and the engine-wide group 0x13).

constexpr ULONG TAL_SetImageWidth = 0x0010000A;
constexpr ULONG TAL_SetImageHeight = 0x00100014;
constexpr ULONG TAL_SetImageDepth = 0x0010001E;
constexpr ULONG TAL_SetImageKind = 0x0010001F;
constexpr ULONG TAL_DrawObjectRect = 0x00010020;
constexpr ULONG TAL_GetImageRecord = 0x00100028;
constexpr ULONG TAL_SetMediaAttribute = 0x00100032;
constexpr ULONG TAL_FixLayers = 0x00100046;
constexpr ULONG TAL_RecomposeLayer = 0x00100054;
constexpr ULONG TAL_SetLayerMode = 0x0010005A;
constexpr ULONG TAL_GetLayerMode = 0x0010005B;
constexpr ULONG TAL_SetImageMedia = 0x00100064;
constexpr ULONG TAL_SetGlobalImageMediaName = 0x00100065;
constexpr ULONG TAL_GetGlobalImageMediaName = 0x00100067;
constexpr ULONG TAL_SetTransparencyPercent = 0x0010006E;
constexpr ULONG TAL_SetTransparency = 0x0010006F;
constexpr ULONG TAL_NewLayer = 0x00100078;
constexpr ULONG TAL_DisposeLayer = 0x00100082;
constexpr ULONG TAL_LoadFileAsLayer = 0x0010008C;
constexpr ULONG TAL_AddLayer = 0x001000A0;
constexpr ULONG TAL_RemoveLayer = 0x001000AA;
constexpr ULONG TAL_SetCurrentLayer = 0x001000B4;
constexpr ULONG TAL_PaintLayerChanged = 0x001000B6; // notified with the new paint layer
constexpr ULONG TAL_SetParentImage = 0x001000BE;
constexpr ULONG TAL_ClearLayer = 0x001000C8;
constexpr ULONG TAL_FillLayer = 0x001000D2;
constexpr ULONG TAL_InvertImage = 0x001000DC;
constexpr ULONG TAL_InvertPaintLayer = 0x001000E6;
constexpr ULONG TAL_ClearImageData = 0x001001F4;
constexpr ULONG TAL_FillImageData = 0x001001FE;
constexpr ULONG TAL_SetModeSourceImage = 0x00100226;
constexpr ULONG TAL_SetMaskImage = 0x00100230;
constexpr ULONG TAL_SetSourcePlacement = 0x0010023A;
constexpr ULONG TAL_SetMaskPlacement = 0x00100244;
constexpr ULONG TAL_SetLayerPosition = 0x0010024E;
constexpr ULONG TAL_LayerToTop = 0x00100262;
constexpr ULONG TAL_LayerUp = 0x0010026C;
constexpr ULONG TAL_LayerDown = 0x00100276;
constexpr ULONG TAL_LayerToBottom = 0x00100280;
constexpr ULONG TAL_MoveLayerAfter = 0x0010028A;
constexpr ULONG TAL_ImageDataChanged = 0x00100294; // the change notification
constexpr ULONG TAL_PaintLayerListener = 0x0010029E;
constexpr ULONG TAL_MaskListener = 0x001002A8;
constexpr ULONG TAL_SourceListener = 0x001002B2;
constexpr ULONG TAL_FloatingListener = 0x001002B3;
constexpr ULONG TAL_ShowLayer = 0x001002BC;
constexpr ULONG TAL_HideLayer = 0x001002C6;
constexpr ULONG TAL_ImageDisposing = 0x001002D0; // change type of a disposal
constexpr ULONG TAL_ShowView = 0x001002DA;
constexpr ULONG TAL_HideViewRequest = 0x001002E4;
constexpr ULONG TAL_ActivateAndShow = 0x001002EE;
constexpr ULONG TAL_HideView = 0x001002F8;
constexpr ULONG TAL_OpenView = 0x00100302;
constexpr ULONG TAL_CloseView = 0x0010030C;
constexpr ULONG TAL_ImageNothing = 0x00100316;
constexpr ULONG TAL_SetRedReductionPercent = 0x00100320;
constexpr ULONG TAL_SetRedReduction = 0x0010032A;
constexpr ULONG TAL_SetGreenReductionPercent = 0x00100334;
constexpr ULONG TAL_SetGreenReduction = 0x0010033E;
constexpr ULONG TAL_SetBlueReductionPercent = 0x00100348;
constexpr ULONG TAL_SetBlueReduction = 0x00100352;
constexpr ULONG TAL_SetHueReductionPercent = 0x0010035C;
constexpr ULONG TAL_SetHueReduction = 0x00100366;
constexpr ULONG TAL_SetSaturationReductionPercent = 0x00100370;
constexpr ULONG TAL_SetSaturationReduction = 0x0010037A;
constexpr ULONG TAL_SetValueReductionPercent = 0x00100384;
constexpr ULONG TAL_SetValueReduction = 0x0010038E;
constexpr ULONG TAL_SetHighlightsReductionPercent = 0x00100398;
constexpr ULONG TAL_SetHighlightsReduction = 0x001003A2;
constexpr ULONG TAL_SetMidtonesReductionPercent = 0x001003AC;
constexpr ULONG TAL_SetMidtonesReduction = 0x001003B6;
constexpr ULONG TAL_SetShadowsReductionPercent = 0x001003C0;
constexpr ULONG TAL_SetShadowsReduction = 0x001003CA;
constexpr ULONG TAL_SetFadeShape = 0x001003E8;
constexpr ULONG TAL_GetFadeShape = 0x001003F2;
constexpr ULONG TAL_SetFadeSize = 0x001003FC;
constexpr ULONG TAL_GetFadeSize = 0x00100406;
constexpr ULONG TAL_SetFadeSoftness = 0x00100410;
constexpr ULONG TAL_GetFadeSoftness = 0x0010041A;
constexpr ULONG TAL_SetFadeInvert = 0x00100424;
constexpr ULONG TAL_GetFadeInvert = 0x0010042E;
constexpr ULONG TAL_LoadAuxiliaryImage = 0x0010044C;

constexpr ULONG TAL_AddToImageList = 0x0013000A;
constexpr ULONG TAL_RemoveFromImageList = 0x00130014;
constexpr ULONG TAL_SetActiveImage = 0x0013001E;
constexpr ULONG TAL_OpenImageFile = 0x0013003C;
constexpr ULONG TAL_BrowseImages = 0x0013003D;
constexpr ULONG TAL_SaveImage = 0x00130046;
constexpr ULONG TAL_SaveImageAs = 0x00130047;
constexpr ULONG TAL_SaveImageCopy = 0x00130048;
constexpr ULONG TAL_PrintImage = 0x00130049;
constexpr ULONG TAL_SetLayerRed = 0x00130050;
constexpr ULONG TAL_SetLayerGreen = 0x00130051;
constexpr ULONG TAL_SetLayerBlue = 0x00130052;
constexpr ULONG TAL_SetLayerColour = 0x00130053;
constexpr ULONG TAL_SetGlobalRed = 0x0013005A;
constexpr ULONG TAL_SetGlobalGreen = 0x0013005B;
constexpr ULONG TAL_SetGlobalBlue = 0x0013005C;
constexpr ULONG TAL_SetGlobalColourRGB = 0x0013005D;
constexpr ULONG TAL_GetGlobalColourRGB = 0x0013005E;
constexpr ULONG TAL_ImageChangedEvent = 0x0013008C;
constexpr ULONG TAL_LongOperationStart = 0x00130096;
constexpr ULONG TAL_LongOperationProgress = 0x001300A0;
constexpr ULONG TAL_LongOperationEnd = 0x001300AA;
constexpr ULONG TAL_NewImageFromBitmap = 0x00131388;

constexpr ULONG TAL_QuitRequest = 0x0007000A;
constexpr ULONG TAL_DisposeObjectLater = 0x03E80046;

// Methods of other families the engine sends.
constexpr ULONG TAL_ModeRenderLine = 0x0012000A;
constexpr ULONG TAL_GetModeFlags = 0x00120014;
constexpr ULONG TAL_SetModeLayer = 0x0012001E;
constexpr ULONG TAL_GetModeOptions = 0x0012003C;
constexpr ULONG TAL_ModeReadsSource = 1; // flag of TAL_GetModeFlags
constexpr ULONG TAL_ViewSetImage = 0x0044000A;
constexpr ULONG TAL_ViewSetMagnification = 0x0044001E;
constexpr ULONG TAL_ViewFit = 0x0044003C;
constexpr ULONG TAL_HandleToolInput = 0x1771001E;
constexpr ULONG TAL_ActionNewActionAdded = 0x138901CD;
constexpr ULONG TAL_ActionResizeAborted = 0x138901C2;

// Media getters the engine asks (the media family's header has the rest). The kind of a medium is its
// smear mode: nonzero paints the picture itself.
constexpr ULONG TAL_GetMediaSmearMode = 0x00110186;
constexpr ULONG TAL_GetMediaWidth = 0x001101D6;
constexpr ULONG TAL_GetMediaModeName = 0x00110212;

// ---------------------------------------------------------------------------------------------------
// The engine base.

// Makes the engine's global state (lists, defaults, the image target codes of notifications) and hangs
// it from the global data; counts nested calls. The Image and ListTree classes must be registered first.
// Creates the engine-wide image object (8 × 8, 24 bits). None on failure.
Tal_ImageBase* Tal__OpenImageEngine();
// Undoes Tal__OpenImageEngine when the count reaches 0: disposes the image object and every image left.
void Tal__CloseImageEngine();
Tal_ImageBase* Tal_GetImageBase();

ULONG Tal_InitImageClass();
void Tal_CleanupImageClass();
void* Tal_NewImageClass(const TagItem* tags);
void Tal_DisposeImageClass(void* instance);
Tal_Word Tal_DoImageMethodA(void* instance, ULONG id, const Tal_Word* args);

// The mode name of the default paint mode: its layers are composed without calling the mode.
constexpr const char* TAL_PAINT_MODE_NAME = "Paint";

// Effective live-redo setting of the calling thread: the innermost Tal_LiveRedoOverride, else the
// user's setting. Code that must compose (or must not) for the duration of an operation overrides it
// for its own thread instead of changing the user's setting.
LONG Tal__LiveRedo();
class Tal_LiveRedoOverride {
  public:
    explicit Tal_LiveRedoOverride(LONG value);
    ~Tal_LiveRedoOverride();
    Tal_LiveRedoOverride(const Tal_LiveRedoOverride&) = delete;
    Tal_LiveRedoOverride& operator=(const Tal_LiveRedoOverride&) = delete;

  private:
    LONG saved_;
    bool hadOverride_;
};

// ---------------------------------------------------------------------------------------------------
// Images, planes and the image list.

Tal_Image* Tal_AllocImage(Tal_Image* image, LONG width, LONG height, LONG depth, ULONG flags);
void Tal_DeallocImage(Tal_Image* image);
// Points the scratch and spare rows at the current working planes.
void Tal__SetImageScratchRows(Tal_Image* image);
// A zeroed plane of `rows` rows: depth 8 one byte per pixel, 24 three (interleaved rows), 32 one float.
// Width and rows must be 1..32767. The row table is the plane's handle.
UBYTE** Tal_AllocImageData(LONG width, LONG rows, LONG depth);
float** Tal_AllocFloatImageData(LONG width, LONG rows);
void Tal_FreeImageData(void* rows);
// Bytes between the starts of two rows of a plane of this width and depth (0 for other depths).
size_t Tal_ImageDataStride(LONG width, LONG depth);
// Test hook: the plane allocation after `after` more succeed fails (−1: none fails).
void Tal__FailPlaneAllocation(LONG after);

ULONG Tal_ChangeImageDepth(Tal_Image* image, LONG depth);
Tal_Image* Tal__CopyImage(Tal_Image* image, ULONG flags);

// Lock types: 1 and 2 shared (read, compose), 4 exclusive.
constexpr ULONG TAL_LOCK_READ = 1;
constexpr ULONG TAL_LOCK_COMPOSE = 2;
constexpr ULONG TAL_LOCK_EXCLUSIVE = 4;
ULONG Tal_LockImageA(Tal_Image* image, ULONG type, Tal_Word extra);
ULONG Tal_UnlockImageA(Tal_Image* image, ULONG type, Tal_Word extra);
Tal_Image* Tal_LockActiveImageA(ULONG type, Tal_Word extra);
// 1 when the pointer names an image in the registry that is not being disposed.
ULONG Tal__IsLiveImage(const Tal_Image* image);

ULONG Tal_GetImageHandle(const Tal_Image* image);
ULONG Tal_GetImageViewHandle(const Tal_ImageView* view);

Tal_Image* first_layer(const Tal_Image* image);
Tal_Image* last_layer(const Tal_Image* image);
Tal_Image* next_layer(const Tal_Image* layer);
Tal_Image* prev_layer(const Tal_Image* layer);
Tal_Image* first_image(const Tal_ImageBase* base);
Tal_Image* last_image(const Tal_ImageBase* base);
Tal_Image* next_image(const Tal_Image* image);
Tal_Image* prev_image(const Tal_Image* image);

// Reads the colour map of an IFF ILBM file into colours (256 entries, 0x00BBGGRR); the count read, or 0.
ULONG Tal_ReadPalette(const char* path, ULONG* colours);

// Copies a text (none counts as empty) into a fixed field of `size` bytes; 0, and the field untouched,
// when it does not fit.
ULONG Tal__CopyField(char* field, size_t size, const char* text);

// "%ldKB" up to 1,048,576 bytes (at least 1), above it "%ld,%03ldKB" with thousands of kilobytes; and
// "%lds", at least 1. 0 when the buffer is too small.
ULONG Tal_FormatByteCount(char* buffer, size_t size, uint64_t bytes);
ULONG Tal_FormatSeconds(char* buffer, size_t size, int64_t seconds);

ULONG Tal_CheckImageMsgPort(Tal_Image* image, Tal_Word reserved);
// 1 when called on the image thread of the image's top image and a recompose of the same image and
// layer as the banded recompose running on it waits on that thread's port.
ULONG Tal__NewerRecomposeWaiting(Tal_Image* image);

// The record of TAL_NewImageFromBitmap: a bottom-up picture, rows of 3 × width bytes (blue, green, red)
// padded to a multiple of 4. The receiver fills in `length`, the bytes of pixel data present; the record
// and its pixels are one block from Tal_AllocMem, freed by the method in every case.
struct Tal_BitmapRecord {
    LONG width, height;
    Tal_Word reserved[2];
    const UBYTE* pixels;
    size_t length;
};

// ---------------------------------------------------------------------------------------------------
// Compositing and region operations.

void Tal_ProcessImage(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1);
void Tal_FullProcessImage(Tal_Image* image);
void Tal_ProcessLayer(Tal_Image* layer, LONG x0, LONG y0, LONG x1, LONG y1);
void Tal_FullProcessLayer(Tal_Image* layer);
void Tal_ProcessImageBelowLayer(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1, UBYTE** red_rows,
                                UBYTE** green_rows, UBYTE** blue_rows, UBYTE** grey_rows,
                                Tal_Image* stop_layer);
Tal_ImageLock* Tal_GetImageDataBelowLayer(Tal_ImageLock* lock);
void Tal_FreeImageLock(Tal_ImageLock* lock);
ULONG Tal_CopyImageDataRGB(Tal_Image* image, LONG x, LONG row, LONG count, Tal_Word reserved, UBYTE* red,
                           UBYTE* green, UBYTE* blue);

ULONG Tal_AddImageToImage(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy, LONG width,
                          LONG height);
ULONG Tal_SubtractImageFromImage(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy,
                                 LONG width, LONG height);
ULONG Tal_MultiplyImageByImage(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy, LONG width,
                               LONG height);
ULONG Tal_BlitImageToImage(Tal_Image* dst, LONG dx, LONG dy, Tal_Image* src, LONG sx, LONG sy, LONG width,
                           LONG height, LONG strength);
ULONG Tal__MergeImagesViaAlphaAndTrans(Tal_Image* dst, LONG x, LONG y, Tal_Image* src, LONG sx, LONG sy,
                                       LONG width, LONG height, Tal_Image* alpha, LONG strength);
void Tal_InvertImageFunc(Tal_Image* image);
// Scales the source's working planes to the destination's size into the destination's working planes:
// nearest, or smooth with flags bit 0. 8 to 8, 8 to 24 (grey into each channel), 24 to 8 (green), 24 to
// 24; 0 for other depths.
ULONG Tal__ScaleImageToImage(Tal_Image* destination, Tal_Image* source, ULONG flags);
ULONG Tal_RenderRectangle(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1, LONG amount, ULONG colour);

// Byte kernels. Strengths are 0..255 (255 = the source itself); larger values count as 255.
void SaturateAddByteArray(UBYTE* dst, const UBYTE* src, LONG n);
void SaturateSubByteArray(UBYTE* dst, const UBYTE* src, LONG n);
void MultiplyByteArray(UBYTE* dst, const UBYTE* src, LONG n);
void Tal__MergeByteArray(UBYTE* dst, const UBYTE* src, LONG n, LONG strength);
void MergeDataViaAlphaAndTrans(UBYTE* dst, const UBYTE* src, const UBYTE* alpha, LONG strength, LONG n);

// Line conversions; interleaved pixels are blue, green, red.
void Tal_MakeRGBLine(const UBYTE* red, const UBYTE* green, const UBYTE* blue, UBYTE* out, LONG n);
void Tal_MakeRGBLine32f(const float* red, const float* green, const float* blue, UBYTE* out, LONG n);
void Tal_MakeScaledRGBLine(const UBYTE* red, const UBYTE* green, const UBYTE* blue, UBYTE* out, LONG first,
                           LONG last, ULONG step);
void Tal_MakeScaledGreyLine(UBYTE* out, const UBYTE* grey, LONG first, LONG last, ULONG step);
// Splits red, green, blue triplets into three planes.
void Tal_SplitRGB(UBYTE* red, UBYTE* green, UBYTE* blue, const UBYTE* interleaved, LONG n);

// ---------------------------------------------------------------------------------------------------
// Change tracking, undo data and fixing.

// Change types of TAL_ImageDataChanged.
constexpr ULONG TAL_CHANGE_REGION = 0;
constexpr ULONG TAL_CHANGE_ALL = 1;
constexpr ULONG TAL_CHANGE_FORMAT = 2;
constexpr ULONG TAL_CHANGE_SAVED = 4;

void Tal_ModifiedImageData(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1);
void Tal_ModifiedAllImageData(Tal_Image* image);
void Tal_ModifiedImageFormat(Tal_Image* image);
void Tal_ModifiedLayer(Tal_Image* layer, LONG x0, LONG y0, LONG x1, LONG y1);
// Sends the change notification of `type` over the rectangle (clamped), without touching row extents.
void Tal__AnnounceImageChange(Tal_Image* image, ULONG type, LONG x0, LONG y0, LONG x1, LONG y1);

void Tal_CopyImageToUndoData(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1, LONG dx, LONG dy);
void Tal_CopyUndoToImageData(Tal_Image* image, LONG x0, LONG y0, LONG x1, LONG y1, LONG dx, LONG dy);

ULONG Tal_LayerNeedsFixing(Tal_Image* layer);
void Tal_DoLayerDoesntNeedsFixing(Tal_Image* layer);
void Tal_RedoLayerChanges(Tal_Image* layer);
void Tal_FixLayerChanges(Tal_Image* layer);
void Tal_RedrawLayerChanges(Tal_Image* layer, LONG x0, LONG y0, LONG x1, LONG y1);
void Tal_FullRedrawLayerChanges(Tal_Image* layer);

// Selects the mode `name` for a paint layer: a new "<name>Mode" object becomes its pending mode (an
// earlier pending mode is promoted first). 0 when no such mode class exists; nothing changes then.
ULONG Tal_SelectLayerMode(Tal_Image* layer, const char* name);

// What a fix replaced, for taking it back: per row the first and last fixed column (an unfixed row has
// first = width − 1, last = 0) and the replaced base runs (red, green, blue, and alpha for a floating
// image, row by row).
struct Tal_FixData {
    WORD* first; // height + 8 entries
    WORD* last;
    UBYTE* saved; // none when nothing was fixed or memory ran out
    size_t size;
    LONG width, height;
    ULONG nothingFixed;
    ULONG floating;
};
// Fixes the paint of the image's layers (of `image` itself when it is a floating image) into its base
// planes: the composed rows within the union of the layers' painted extents are copied into the base
// planes. Qualifier 1 also empties the extents, clears the layers and applies their pending state;
// qualifier 2 keeps the paint and recomposes. `data` (may be none) receives what was replaced. The
// caller holds the image lock.
ULONG Tal__FixImageLayers(Tal_Image* image, LONG qualifier, Tal_FixData* data);
// Writes saved runs back into the base planes (and the working planes and alpha of a floating image).
ULONG Tal__RestoreFixData(Tal_Image* image, const Tal_FixData* data);
void Tal__FreeFixData(Tal_FixData* data);

ULONG Tal_BeginNewImageSize(Tal_Image* image, LONG width, LONG height);
ULONG Tal_EndNewImageSize(Tal_Image* image, LONG width, LONG height);
ULONG Tal_AbortNewImageSize(Tal_Image* image, LONG width, LONG height);

// ---------------------------------------------------------------------------------------------------
// Brush presets (media restored by name and kept for the run) and the medium of an image.

// Makes the medium the image's medium and its name the image's media name (method 0x00100064).
ULONG Tal__SetImageMedia(Tal_Image* image, ULONG medium);
// Chooses a preset by name (Tal_SetGlobalImageMediaName): restored the first time, then reused; it
// becomes the image's medium and, asynchronously, that of every other open image. 0 when the name is
// empty, does not fit or names no preset file that restores a medium; the current medium stays then.
ULONG Tal__ChooseMediaPreset(Tal_Image* image, const char* name);
// Disposes every preset (the engine closes).
void Tal__DisposeMediaPresets();

// Sends an image change to the image's views (types 0 and 1 redraw the rectangle).
void Tal__RedrawInViews(Tal_Image* image, ULONG type, LONG x0, LONG y0, LONG x1, LONG y1);
