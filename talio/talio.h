// The image-file library: streams and image buffers, the format registry with detection, loading and
// saving, error numbers and their texts, and the format classes (each a class of the object system whose
// name is a format word followed by "TALIO", built on RootTALIO).
//
// A load or save works on two records: a TALIO_Header (one stream: the open file, its first bytes, its
// size, the progress display, the buffer formats the caller wants) and a TALIO_ImageBuffer (the picture in
// one of seven memory layouts, with palette, attached pictures and layers). Format classes read and write
// through the stream functions and store pixels with TALIO_SetBufferData / TALIO_GetBufferData.
//
// Every operation keeps its state in its header or its format object, so loads and saves may run in
// several threads at once; the process-wide options of the format classes are guarded and read once per
// operation.
#pragma once

#include "Tal/Tal.h"

#include <cstdint>
#include <cstdio>

struct Tal_Image;
struct Tal_ProgressDisplay;
struct TALIO_ImageBuffer;
struct TALIO_ReadAhead;

// ---------------------------------------------------------------------------------------------------
// Error numbers: results of the format methods, TALIO_SaveBufferA and the loaders.

constexpr ULONG TALIO_OK = 1;
constexpr ULONG TALIO_ERR_MEMORY = 2;
constexpr ULONG TALIO_ERR_READ = 3; // also: writing failed
constexpr ULONG TALIO_ERR_DAMAGED = 6;
constexpr ULONG TALIO_ERR_UNSUPPORTED = 7;
constexpr ULONG TALIO_ERR_UNKNOWN = 8;
constexpr ULONG TALIO_ERR_CANCELLED = 9;
constexpr ULONG TALIO_ERR_OPEN = 10;
constexpr ULONG TALIO_ERR_CANNOT_SAVE = 12;
// The picture is larger than the program opens (TALIO_MAX_SIDE, TALIO_MAX_PIXELS).
constexpr ULONG TALIO_ERR_TOO_LARGE = 13;

// The largest picture that is opened: at most 32767 pixels on a side and 16384 x 16384 pixels in all.
constexpr ULONG TALIO_MAX_SIDE = 32767;
constexpr uint64_t TALIO_MAX_PIXELS = uint64_t(16384) * 16384;
// Whether a picture of this size is larger than that.
bool TALIO_TooLarge(uint64_t width, uint64_t height);

// The text of an error number (a catalogue text, "" when no catalogue is loaded); numbers outside 1..13
// give the text of error 6.
const char* TALIO_ErrorText(ULONG error);
// The same for a failed save: error 3 there means the file could not be written.
const char* TALIO_SaveErrorText(ULONG error);
// Shows a message box about a file: the title (none: the title of the file messages), the file's name
// (without its folders) on the first line and the text below it, one button. The box's result.
ULONG TALIO_FileErrorRequest(const char* title, const char* fileName, const char* text);

// ---------------------------------------------------------------------------------------------------
// Buffer formats and pixel codes.

constexpr ULONG TALIO_FORMAT_RGBPLANES = 1; // three planes red, green, blue (plane storage below)
constexpr ULONG TALIO_FORMAT_RGB24 = 3;     // one block, R, G, B
constexpr ULONG TALIO_FORMAT_RGB32 = 4;     // one block, R, G, B, unused; bytes_per_row must be given
constexpr ULONG TALIO_FORMAT_BITPLANES = 8; // `depth` bitplanes one after the other, leftmost pixel in bit 7
constexpr ULONG TALIO_FORMAT_GREY8 = 9;     // one block, one grey byte per pixel
constexpr ULONG TALIO_FORMAT_INDEXED8 = 11; // one block, one palette index per pixel
constexpr ULONG TALIO_FORMAT_RGBAPLANES = 13; // four planes

constexpr ULONG TALIO_PIXEL_RGB = 3;
constexpr ULONG TALIO_PIXEL_RGBX = 4;
constexpr ULONG TALIO_PIXEL_RGB565 = 7; // 16-bit native word
constexpr ULONG TALIO_PIXEL_GREY = 9;
constexpr ULONG TALIO_PIXEL_INDEX = 11;
constexpr ULONG TALIO_PIXEL_BGR = 12;
constexpr ULONG TALIO_PIXEL_BGRX = 14;
constexpr ULONG TALIO_PIXEL_RGBA_INVERSE = 15; // read only: R, G, B, 255 - alpha
constexpr ULONG TALIO_PIXEL_RGBA = 16;         // read only
constexpr ULONG TALIO_PIXEL_XBGR = 17;
constexpr ULONG TALIO_PIXEL_INDEX4 = 18; // two indexes per byte, high nibble first

// ---------------------------------------------------------------------------------------------------
// Records.

// One load or save, allocated zeroed by whoever starts the operation and owned by its buffer.
struct TALIO_Header {
    const char* file_name;     // the file being loaded or saved
    FILE* stream;              // the open file; none when the class supplies its own input or output
    UBYTE* peek;               // the first bytes of the file (a zeroed block of 512 bytes)
    ULONG peek_length;         // how many of them the file really had
    uint64_t file_size;        // bytes
    char format_name[256];     // the word of the loader that read the file ("JPEG", ...)
    TALIO_ImageBuffer* buffer; // the picture loaded or saved
    Tal_ProgressDisplay* progress;
    ULONG progress_step;     // rows between progress updates (TALIO_ProgressStep)
    ULONG truecolour_format; // buffer format for true-colour pictures (1 for every load of the registry)
    ULONG grey_format;       // for grey pictures (9)
    ULONG mapped_format;     // for colour-mapped pictures (1)
    ULONG swap_bytes;        // 1: multi-byte stream values are big-endian (the stream functions swap)
    void* extra;             // a block a loader attaches (JPEG: TALIO_IPTCInfo); freed with the buffer
    ULONG copy_wanted;       // TALIO_TAG_WorkingCopy was given: a loader that can fills a working copy
    ULONG copy_spare_rows;   // zeroed rows below the picture in each plane of that copy
    // Private state of the operation.
    char* owned_file_name;   // the copy file_name points to after a registry load
    TALIO_ReadAhead* reader; // the read-ahead reader of TALIO_ReadBuffered
};

// Plane storage of format 1 and 13 (the layout of the image engine's planes, so that it can adopt them): one
// zeroed block holding the row table, then the rows, each the width rounded up to 8 bytes; the row table
// is the plane's handle and the whole block is freed through it with Tal_FreeMem.
using TALIO_Plane = UBYTE**;

struct TALIO_ImageBuffer {
    Node node;            // in the parent's layer list
    TALIO_Header* header; // owned
    ULONG width, height;
    ULONG depth;         // bits per pixel (format 8: the number of bitplanes)
    ULONG bytes_per_row; // distance between rows of one plane; 0 asks TALIO_AllocBufferMem to choose
    ULONG format;
    UBYTE* memory; // the single block of formats 3, 4, 8, 9 and 11
    UBYTE* planes[32];
    UBYTE* rgb24;
    UBYTE* rgb32;
    UBYTE* red;
    UBYTE* green;
    UBYTE* blue;
    UBYTE* grey;
    UBYTE* indexed;
    UBYTE* rgba[4];
    TALIO_ImageBuffer* mask; // attached pictures, owned
    TALIO_ImageBuffer* mask2;
    TALIO_ImageBuffer* alpha;                       // 8-bit alpha of a layer of kind 2, owned
    ULONG palette[256];                             // red + green * 256 + blue * 65536
    List layers;                                    // TALIO_ImageBuffer layers, owned
    TALIO_Plane red_plane, green_plane, blue_plane; // format 1; the image engine takes them and clears these
    TALIO_Plane rgba_plane[4];                      // format 13
    // Format 1: a second copy of the planes (TALIO_TAG_WorkingCopy), made and filled only by a loader that
    // can; every row stored into the planes goes into it too. The image engine takes it and clears these.
    TALIO_Plane red_copy, green_copy, blue_copy;
    ULONG level;             // 255 from TALIO_AllocBuffer
    Tal_Image* source_image; // on save: the picture written (alpha of codes 15 and 16)
    // Layer properties a loader may give a layer; the image engine applies them to the layer it makes.
    ULONG has_layer_colour;
    UBYTE layer_colour_red;
    UWORD layer_colour_green_blue;
    ULONG has_placement;
    UBYTE* placement; // three groups of six 16-bit values at bytes 4, 16, 28; owned
    ULONG has_effect_settings;
    UWORD effect_values[10]; // opacity and the nine strengths
    ULONG fade_values[4];
    ULONG has_mode_object;
    ULONG mode_object; // given up by the loader; disposed with the buffer unless taken
};

// ---------------------------------------------------------------------------------------------------
// Streams. Counts are those of the file layer: items for reads and writes, 0 on failure or without a
// stream. At the end of the file the reads return what they got.

size_t TALIO_ReadData(void* destination, size_t itemSize, size_t count, TALIO_Header* header);
size_t TALIO_ReadDataLocal(void* destination, size_t itemSize, size_t count, TALIO_Header* header);
ULONG TALIO_ReadULONG(ULONG* value, TALIO_Header* header); // little-endian, big-endian with swap_bytes
ULONG TALIO_ReadUWORD(UWORD* value, TALIO_Header* header);
ULONG TALIO_ReadUBYTE(UBYTE* value, TALIO_Header* header);
size_t TALIO_WriteData(const void* source, size_t itemSize, size_t count, TALIO_Header* header);
ULONG TALIO_WriteULONG(ULONG value, TALIO_Header* header);
ULONG TALIO_WriteUWORD(UWORD value, TALIO_Header* header);
ULONG TALIO_WriteUBYTE(UBYTE value, TALIO_Header* header);
// Origin 0 = start, 1 = current, 2 = end. 0 on success, -1 on failure (as the file layer).
LONG TALIO_Seek(TALIO_Header* header, int64_t offset, ULONG origin);

// The read-ahead reader of the run-length decoders, kept in the header: requests are served from a
// 1024-byte buffer; a request missing more than 512 bytes reads them straight from the stream. Returns
// the bytes delivered. Length -1 frees the reader's state (the registry does so after every operation).
size_t TALIO_ReadBuffered(void* destination, int64_t length, TALIO_Header* header);

// ---------------------------------------------------------------------------------------------------
// Progress. Format classes report rows done; a result of 0 means cancel (the class returns error 9).
// Without a display (quiet operations) a pending break signal of the task (0x1000 or 0x8000) still
// cancels.

// Rows between updates for a picture of `height` rows: height / 20, but 32 when that is 32 or less.
ULONG TALIO_ProgressStep(ULONG height);
ULONG TALIO_SetProgressDisplay(TALIO_Header* header, ULONG done, ULONG total);
// Rows `before` to `done` of `total` are done: reports when that passes a multiple of the header's step.
// 0 means cancel.
ULONG TALIO__RowsDone(TALIO_Header* header, ULONG before, ULONG done, ULONG total);

// The progress display of the image engine, installed by it; until then no display is shown.
struct TALIO_ProgressHooks {
    Tal_ProgressDisplay* (*begin)(const char* title, const char* text);
    ULONG (*set)(Tal_ProgressDisplay* display, ULONG value, ULONG total); // 0 = stop
    void (*end)(Tal_ProgressDisplay* display);
};
void TALIO__SetProgressHooks(const TALIO_ProgressHooks* hooks);
// Opening and closing a display through the hooks (none without them).
Tal_ProgressDisplay* TALIO__BeginProgress(const char* title, const char* text);
void TALIO__EndProgress(Tal_ProgressDisplay* display);

// The alpha of a saved picture (pixel codes 15 and 16) comes from its transparency record: an 8-bit
// picture placed at (x, y); pixels outside it are transparent. The image engine installs the resolver
// (1 with `out` filled when the image has such a record); without it every picture is opaque.
struct TALIO_AlphaSource {
    LONG x, y;
    ULONG width, height;
    const UBYTE* const* rows;
};
using TALIO_AlphaResolver = ULONG (*)(const Tal_Image* image, TALIO_AlphaSource* out);
void TALIO__SetAlphaResolver(TALIO_AlphaResolver resolver);

// ---------------------------------------------------------------------------------------------------
// Buffers. Sizes are computed in 64 bits with overflow checks; a size that does not fit is a failure.

// Allocates a buffer with its pixels (TALIO_AllocBufferMem); on failure frees what it made, reports error
// 2 (TALIO_ErrorNumberRequest) and returns none.
TALIO_ImageBuffer* TALIO_AllocBuffer(ULONG width, ULONG height, ULONG depth, ULONG bytesPerRow, ULONG format,
                                     ULONG reserved);
// The same without reporting a failure: for a picture a loader attaches to the one it loads.
TALIO_ImageBuffer* TALIO__AllocBufferQuiet(ULONG width, ULONG height, ULONG depth, ULONG format);
// Chooses bytes_per_row when it is 0 and allocates the pixels; formats 1 and 13 always take the planes'
// real row distance. A given bytes_per_row shorter than a row fails. 1 or 0.
ULONG TALIO_AllocBufferMem(TALIO_ImageBuffer* buffer);
void TALIO_FreeBufferMem(TALIO_ImageBuffer* buffer);
// Frees the header (with its extra block), the pixels, the attached pictures and every layer.
void TALIO_FreeBuffer(TALIO_ImageBuffer* buffer);
// Kind 1: a layer; kind 2: a layer with an alpha buffer (format 9). Appended to the parent's layers.
TALIO_ImageBuffer* TALIO_AddLayer(TALIO_ImageBuffer* parent, ULONG width, ULONG height, ULONG depth,
                                  ULONG format, ULONG kind, ULONG reserved);

// Stores `rows` rows of `width` pixels at (x, y) from source rows sourceRowBytes apart. Into format 1 from
// codes 3, 4, 7, 9, 11, 12, 14, 17, 18; into format 9 from code 9; into format 11 from code 11. A region
// outside the buffer or any other combination stores nothing and returns 0.
ULONG TALIO_SetBufferData(TALIO_ImageBuffer* buffer, ULONG x, ULONG y, ULONG width, ULONG rows,
                          ULONG sourceRowBytes, ULONG pixelCode, const void* source);
// Makes the working copy of a format-1 buffer whose header asks for one (copy_wanted), zeroed like the
// planes; from then on TALIO_SetBufferData stores every row into both. 1 when the copy exists.
ULONG TALIO__AllocWorkingCopy(TALIO_ImageBuffer* buffer);
// The reverse, from format 1 or 9 (grey in all three channels), into codes 3, 4, 11, 12, 14, 15, 16 (the
// fourth byte of 4 and 14 is left as it was; 11 gives the green or grey value).
ULONG TALIO_GetBufferData(const TALIO_ImageBuffer* buffer, ULONG x, ULONG y, ULONG width, ULONG rows,
                          ULONG destinationRowBytes, ULONG pixelCode, void* destination);
// A new buffer of format 1 (the only target) from formats 1, 3, 4, 8, 9, 11 and 13, with the palette; it
// has no header. The source stays as it is.
TALIO_ImageBuffer* TALIO_ConvertBufferFormat(const TALIO_ImageBuffer* buffer, ULONG target);
// Fills the first `count` palette entries (1..256, clamped) with a grey ramp. 1.
ULONG TALIO_ComputeBestColourmapA(TALIO_ImageBuffer* buffer, ULONG count);

// ---------------------------------------------------------------------------------------------------
// The registry.

struct TALIO_GlobalData {
    LONG openCount;        // guarded by the library's lock
    List loaders;          // nodes named by format words, tried in this order
    List savers;           //
    List offeredSavers;    // the formats offered to the user when saving
    ULONG externalList;    // a list object disposed at the end, when some part set it
    Tal_GlobalData* tal;   //
    ULONG requesterParent; // the object that holds requester windows (the program's App), or 0
};

// Starts the library (counted); the lists exist while the count is above 0.
TALIO_GlobalData* TALIO_Init(Tal_GlobalData* tal);
void TALIO_Cleanup(TALIO_GlobalData* global);
TALIO_GlobalData* TALIO_GetGlobalData();

// Load flags.
constexpr ULONG TALIO_LOAD_QUIET = 4;    // no requester, progress display or message
constexpr ULONG TALIO_LOAD_IDENTIFY = 8; // the buffer comes back with size and format but no pixels
constexpr ULONG TALIO_LOAD_PREVIEW = 0x80;
// Save flags.
constexpr ULONG TALIO_SAVE_QUIET = 4;

// Load tags.
constexpr Tag TALIO_TAG_Error = 7181;     // ULONG*: where the error number goes
constexpr Tag TALIO_TAG_Reduction = 7191; // 100, 200, 400 or 800: given to every format object first
constexpr Tag TALIO_TAG_FullWidth = 7201; // ULONG*: full width on a preview load
constexpr Tag TALIO_TAG_FullHeight = 7211;
// ULONG: the caller will want a second copy of a true-colour picture's planes (the image engine's working
// planes) with this many zeroed rows below the picture. A loader that can makes it while it loads, on a
// second processor when it has one, so that no pass over the picture is left for afterwards; the others
// leave the buffer's red_copy, green_copy and blue_copy none.
constexpr Tag TALIO_TAG_WorkingCopy = 7221;

// Detects the format of a file and loads it. Identified sizes are limited: width and height 1..65536,
// depth 1..32, width × height at most 2^28 (error 2 beyond). None without a file name (no error number).
TALIO_ImageBuffer* TALIO_AutoLoadBufferA(const char* fileName, ULONG flags, ULONG* error,
                                         const TagItem* tags);
// Loads from a format object that supplies its own input (clipboard, screen grab).
TALIO_ImageBuffer* TALIO_LoadBufferFromTALIOA(ULONG object, ULONG flags, ULONG* error, const TagItem* tags);
// Saves header->buffer through `object`, or through a new object of class formatWord + "TALIO". The file
// is written to a temporary file beside it and renamed over it only when everything was written, so a
// failure leaves an existing file as it was. `flags` points at the save flags (none: 0). Error number.
ULONG TALIO_SaveBufferA(TALIO_Header* header, const char* fileName, const char* formatWord, ULONG object,
                        const ULONG* flags);
// Shows the error's text in a message box (nothing for 9, which gives 1); the box's result.
ULONG TALIO_ErrorNumberRequest(ULONG error);
// Shows a format's options group in a requester with OK and Cancel; 0 when cancelled.
ULONG TALIO_ShowOptionsRequester(ULONG object, ULONG group);

// Writes into destination (size bytes) the path with its extension replaced: in the last path component,
// everything after its first "." (not a leading one) becomes `extension`; without one ".extension" is
// appended. 0 when it does not fit (destination then unchanged). Source and destination may be the same.
ULONG TALIO__ReplaceExtension(char* destination, size_t size, const char* path, const char* extension);

// Hands the file requester its pictures (which files it lists, thumbnails; see ui/FileRequester.h), or
// takes them back. The library does it as it starts and ends.
void TALIO__InstallPictureServices(bool install);
// The saver a file name asks for by its extension: a saver whose word or class extension it is (".iff" is
// the first saver with that extension, ILBM), ".lbm" ILBM, ".deep" IFFDEEP. A word of the saver list
// counts even when its class is missing (the save then says so). 1 with the word, 0 when none fits.
ULONG TALIO__SaverForFileName(const char* name, char* word, size_t size);
// Free physical memory in bytes: VELURA_FREE_MEMORY when set, else MemAvailable; UINT64_MAX when unknown.
uint64_t TALIO__AvailableMemory();

// ---------------------------------------------------------------------------------------------------
// Format classes. Their methods are plain numbers; every result is a 32-bit number.

constexpr ULONG TALIO_GetKind = 7011;
constexpr ULONG TALIO_SetKind = 7021;
constexpr ULONG TALIO_GetFlags = 7022;
constexpr ULONG TALIO_SetFlags =
    7023; // on the RootTALIO instance (GIF and JPEG objects answer 7023 otherwise)
constexpr ULONG TALIO_GetSpare = 7031;
constexpr ULONG TALIO_SetSpare = 7041;
constexpr ULONG TALIO_Identify = 7051; // header [, options requester result] -> error number
constexpr ULONG TALIO_IdentifyPreview = 7052;
constexpr ULONG TALIO_Load = 7061;
constexpr ULONG TALIO_Save = 7071;
constexpr ULONG TALIO_LoadPreview = 7072;
constexpr ULONG TALIO_SetLoadOptions = 7121; // group handle, owned by the object
constexpr ULONG TALIO_GetLoadOptions = 7131;
constexpr ULONG TALIO_SetSaveOptions = 7141;
constexpr ULONG TALIO_GetSaveOptions = 7151;
constexpr ULONG TALIO_GetExtension = 7161;
constexpr ULONG TALIO_SetExtension = 7171; // text without the dot
constexpr ULONG TALIO_SetSaveBuffer = 7221;
constexpr ULONG TALIO_GetSaveBuffer = 7231;
constexpr ULONG TALIO_SetReduction = 7241; // 100 (full size), 200, 400 or 800; others are refused (0)
constexpr ULONG TALIO_GetReduction = 7251;

// Flags of a format class.
constexpr ULONG TALIO_FLAG_OWN_OUTPUT = 2; // opens its own output: the registry opens no file for it
constexpr ULONG TALIO_FLAG_NO_PROGRESS = 4;
constexpr ULONG TALIO_FLAG_PREVIEW = 0x100; // supports the reduced preview load

// A format's save-options group: framed and titled, a row with a slider between two optional texts, and a
// check box below. Each change of the slider or the check box is handed to its setter (the format's
// process-wide options). 0 when the interface classes are missing.
struct TALIO_SaveOptionsLayout {
    const char* title;
    const char* sliderLeft; // none: no text there
    const char* sliderRight;
    LONG minimum, maximum, value;
    const char* valueFormat;
    void (*sliderChanged)(Tal_Word value);
    const char* checkLabel;
    ULONG checked;
    void (*checkChanged)(Tal_Word value);
};
ULONG TALIO__MakeSaveOptions(const TALIO_SaveOptionsLayout& layout);

// Kinds.
constexpr ULONG TALIO_KIND_FILE = 15;
constexpr ULONG TALIO_KIND_ILBM = 5;
constexpr ULONG TALIO_KIND_SCREENGRAB = 513;
constexpr ULONG TALIO_KIND_CLIPBOARD = 1024;

// The size the image engine previews pictures at (preview loads aim just above it).
constexpr ULONG TALIO_PREVIEW_SIZE = 50;

ULONG Tal_InitRootTALIOClass();
void Tal_CleanupRootTALIOClass();

// The RootTALIO instance a format class holds, made with its kind, flags and extension (none: the format
// has no files); 0 on failure.
ULONG TALIO__NewFormatBase(ULONG kind, ULONG flags, const char* extension);
// The save-options group kept by a format class's RootTALIO instance, built by `build` when first asked
// for (most format objects only ever identify a file); 0 when it cannot be built.
ULONG TALIO__SaveOptionsOf(ULONG base, ULONG (*build)());

// ---------------------------------------------------------------------------------------------------
// JPEG.

constexpr ULONG JPEGTALIO_SetQuality = 7013; // 1..100; the options are process-wide
constexpr ULONG JPEGTALIO_GetQuality = 7023;
constexpr ULONG JPEGTALIO_SetProgressive = 7033;
constexpr ULONG JPEGTALIO_GetProgressive = 7043;

// The program's release number, written into the IPTC record of saved pictures.
constexpr ULONG VELURA_RELEASE = 1;

// The picture information carried in a JPEG file's "Photoshop 3.0" marker: fixed character fields, each
// holding a text of at most its size, terminated by 0 only when shorter (read them with a length limit).
struct TALIO_IPTCInfo {
    char object_name[64];             // dataset 5
    char city[32];                    // 90
    char province_state[32];          // 95
    char country_code[4];             // 100
    char country_name[64];            // 101
    char credit[32];                  // 110
    char object_cycle[2];             // 75
    char byline[32];                  // 80
    char byline_title[32];            // 85
    char urgency[2];                  // 10
    char category[4];                 // 15
    char caption[2000];               // 120
    char supplemental_categories[32]; // 20, several joined by "\n"
    char transmission_reference[32];  // 103
    char keywords[64];                // 25, several joined by "\n"
    char headline[256];               // 105
    char source[32];                  // 115
    char date_created[9];             // 55
    char time_created[12];            // 60
    char release_date[9];             // 30
    char release_time[12];            // 35
    char writer_editor[32];           // 122
    char special_instructions[256];   // 40
    char originating_program[32];     // 65 (read only: saving writes the program's name)
    char copyright_notice[128];       // 116
    char reserved[128];               // not used
    char fixture_identifier[32];      // 22
    char edit_status[64];             // 7
};
static_assert(sizeof(TALIO_IPTCInfo) == 3430);

// Fills `info` (zeroed by the caller) from the data of an APP13 marker; only datasets that lie wholly in
// the data are used. The block for an APP13 marker from `info`, appended to `out` (big-endian).
void TALIO__ReadIPTC(const UBYTE* data, size_t length, TALIO_IPTCInfo* info);
ULONG TALIO__BuildIPTC(const TALIO_IPTCInfo* info, Tal_DynamicMemory* out);

ULONG Tal_InitJPEGTALIOClass();
void Tal_CleanupJPEGTALIOClass();

// ---------------------------------------------------------------------------------------------------
// The clipboard and screen grabs: format objects with no file behind them, used through
// TALIO_LoadBufferFromTALIOA and TALIO_SaveBufferA with the object given.

ULONG Tal_InitClipboardTALIOClass();
void Tal_CleanupClipboardTALIOClass();

// The delay before a screen grab, 0..30 seconds (2 at first); process-wide for the run.
constexpr ULONG ScreenGrabTALIO_SetDelay = 7014;
constexpr ULONG ScreenGrabTALIO_GetDelay = 7024;

ULONG Tal_InitScreenGrabTALIOClass();
void Tal_CleanupScreenGrabTALIOClass();
// GIF, and the colour reduction other savers share.

// The GIF save options, process-wide for the run: colours 1..256 (256), dithering 0..100 percent (70),
// interlaced 0 or 1 (0). Method 7023 on a GIFTALIO object is the colour count, not the flags.
constexpr ULONG GIFTALIO_SetColours = 7013;
constexpr ULONG GIFTALIO_GetColours = 7023;
constexpr ULONG GIFTALIO_SetDithering = 7033;
constexpr ULONG GIFTALIO_GetDithering = 7043;
constexpr ULONG GIFTALIO_SetInterlaced = 7053;
constexpr ULONG GIFTALIO_GetInterlaced = 7063;

// Reduces the colours of a buffer (format 1, or 9 for grey) to at most `colours` (1..256) and writes them
// into its palette; the mapper below then maps to them. 1 when at least one colour was made, else 0.
ULONG TALIO__ComputeBestColourmapA(TALIO_ImageBuffer* buffer, ULONG colours);
// Maps `rows` rows of `width` pixels at (x, y) to indexes of the palette the last
// TALIO__ComputeBestColourmapA made, one byte each, rows rowBytes apart in destination. With method
// TALIO_MAP_DIFFUSE by error diffusion at the GIF dithering amount (its errors and direction carry on from
// the previous call), otherwise each pixel gets its nearest colour. 1, or 0 without a palette or for a
// region outside the buffer.
constexpr ULONG TALIO_MAP_DIFFUSE = 0xFFFF3000;
ULONG TALIO__GetBufferData(const TALIO_ImageBuffer* buffer, ULONG x, ULONG y, ULONG width, ULONG rows,
                           ULONG rowBytes, ULONG method, UBYTE* destination);

ULONG Tal_InitGIFTALIOClass();
void Tal_CleanupGIFTALIOClass();

// ---------------------------------------------------------------------------------------------------
// BMP.

ULONG Tal_InitBMPTALIOClass();
void Tal_CleanupBMPTALIOClass();

// ---------------------------------------------------------------------------------------------------
// TARGA.

constexpr ULONG TARGATALIO_SetCompress = 7013; // 1: save run-length coded; the option is process-wide
constexpr ULONG TARGATALIO_GetCompress = 7033;

// Fills byteCount bytes of destination with run-length decoded pixels of the header's buffer depth,
// read through the header's read-ahead reader; the bytes filled (fewer when the packets end). Packets may
// run on from one call into the next: their rest is carried, process-wide, so only one decoding may be
// under way at a time. byteCount -1 drops the carry and frees the header's reader (none: the carry only).
size_t TALIO_RLEDecode(void* destination, size_t itemSize, int64_t byteCount, TALIO_Header* header);

ULONG Tal_InitTARGATALIOClass();
void Tal_CleanupTARGATALIOClass();
// IFF: ILBM (bitplanes) and DEEP (chunky true colour).

ULONG Tal_InitILBMTALIOClass();
void Tal_CleanupILBMTALIOClass();
ULONG Tal_InitIFFDEEPTALIOClass();
void Tal_CleanupIFFDEEPTALIOClass();

// ---------------------------------------------------------------------------------------------------
// PNG. A picture with alpha loads with its alpha in the buffer's `alpha` (format 9).

constexpr ULONG PNGTALIO_SetCompression = 7020; // zlib level 0..9 (6 at start); the options are process-wide
constexpr ULONG PNGTALIO_GetCompression = 7030;
constexpr ULONG PNGTALIO_SetInterlace = 7040; // 1: Adam7
constexpr ULONG PNGTALIO_GetInterlace = 7050;

ULONG Tal_InitPNGTALIOClass();
void Tal_CleanupPNGTALIOClass();
