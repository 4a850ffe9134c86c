// PNGTALIO: PNG files through libpng. Loads every kind: grey of 1 to 16 bits, palette, RGB and RGBA, with
// or without Adam7 interlace; 16-bit samples are scaled to 8 bits, palette pictures become true colour,
// and an alpha channel (or a transparency chunk) becomes the picture's alpha buffer. Saves true colour as
// 24-bit RGB and grey pictures as 8-bit grey, at a compression level of 0 to 9, interlaced or not.
//
// libpng reports errors by a long jump back into the operation that started it. The functions between a
// setjmp and the library calls therefore hold only plain data: no object with a destructor may be
// skipped by the jump.
#include "talio/TALIOPNG.h"

#include "Tal/Catalogue.h"
#include "host/host.h"

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <mutex>

#include <png.h>

namespace {

Tal_Class pngClass;

struct PNGTALIOInstance {
    Tal_Object header;
};

constexpr ULONG kPngClassId = 7005;
constexpr size_t kSignatureAndHeader = 8 + 8 + 13;

// Save options, process-wide for the run.
struct Options {
    ULONG compression;
    ULONG interlace;
};
std::mutex optionsLock;
Options options{6, 0};

Options currentOptions() {
    std::lock_guard guard(optionsLock);
    return options;
}

void setCompression(Tal_Word value) {
    std::lock_guard guard(optionsLock);
    options.compression = ULONG(std::clamp<intptr_t>(intptr_t(value), 0, 9));
}

void setInterlace(Tal_Word value) {
    std::lock_guard guard(optionsLock);
    options.interlace = value ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------
// The library's errors and the stream.

void errorExit(png_structp png, png_const_charp message) {
    KPrintF("PNG: %s\n", message);
    png_longjmp(png, 1);
}

void warning(png_structp, png_const_charp) {}

// What the stream functions saw: a short read or write turns into the error number of the operation.
struct StreamState {
    TALIO_Header* header;
    bool shortTransfer;
};

void readData(png_structp png, png_bytep data, size_t length) {
    auto* st = static_cast<StreamState*>(png_get_io_ptr(png));
    if (TALIO_ReadData(data, 1, length, st->header) != length) {
        st->shortTransfer = true;
        png_error(png, "the file ends early");
    }
}

void writeData(png_structp png, png_bytep data, size_t length) {
    auto* st = static_cast<StreamState*>(png_get_io_ptr(png));
    if (TALIO_WriteData(data, 1, length, st->header) != length) {
        st->shortTransfer = true;
        png_error(png, "the file cannot be written");
    }
}

void flushData(png_structp) {} // the registry syncs the file once it is whole

// ---------------------------------------------------------------------------------------------------
// Identify: the signature and the IHDR chunk that must follow it.

bool validKind(UBYTE colourType, UBYTE bitDepth) {
    switch (colourType) {
    case PNG_COLOR_TYPE_GRAY:
        return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8 || bitDepth == 16;
    case PNG_COLOR_TYPE_PALETTE:
        return bitDepth == 1 || bitDepth == 2 || bitDepth == 4 || bitDepth == 8;
    case PNG_COLOR_TYPE_RGB:
    case PNG_COLOR_TYPE_GRAY_ALPHA:
    case PNG_COLOR_TYPE_RGB_ALPHA:
        return bitDepth == 8 || bitDepth == 16;
    default:
        return false;
    }
}

ULONG be32(const UBYTE* p) {
    return ULONG(p[0]) << 24 | ULONG(p[1]) << 16 | ULONG(p[2]) << 8 | p[3];
}

ULONG identify(TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    const UBYTE* p = header->peek;
    if (!p || header->peek_length < kSignatureAndHeader || png_sig_cmp(p, 0, 8) != 0 || be32(p + 8) != 13 ||
        std::memcmp(p + 12, "IHDR", 4) != 0)
        return TALIO_ERR_UNKNOWN;
    const ULONG width = be32(p + 16), height = be32(p + 20);
    const UBYTE bitDepth = p[24], colourType = p[25];
    if (width == 0 || height == 0 || width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX ||
        !validKind(colourType, bitDepth))
        return TALIO_ERR_UNKNOWN;
    TALIO_ImageBuffer* b = header->buffer;
    const bool grey = !(colourType & PNG_COLOR_MASK_COLOR);
    b->width = width;
    b->height = height;
    b->depth = grey ? 8 : 24;
    b->format = grey ? header->grey_format : header->truecolour_format;
    return TALIO_OK;
}

// ---------------------------------------------------------------------------------------------------
// Load.

// Plain memory the decoder works in, released after the library is done whatever way it ended.
struct LoadWork {
    png_bytep rows;  // one row, or the whole picture of an interlaced file
    png_bytep split; // one row of the colour or grey samples without the alpha
    png_bytep alpha; // one row of alpha
};

// One decoded row of `channels` samples a pixel into the buffer and its alpha buffer.
bool storeRow(TALIO_ImageBuffer* b, ULONG y, const UBYTE* row, int channels, LoadWork* work) {
    const ULONG w = b->width;
    switch (channels) {
    case 1:
        return TALIO_SetBufferData(b, 0, y, w, 1, w, TALIO_PIXEL_GREY, row);
    case 3:
        return TALIO_SetBufferData(b, 0, y, w, 1, 3 * w, TALIO_PIXEL_RGB, row);
    default: {
        const int colours = channels - 1;
        for (ULONG x = 0; x < w; x++) {
            for (int c = 0; c < colours; c++)
                work->split[size_t(x) * colours + c] = row[size_t(x) * channels + c];
            work->alpha[x] = row[size_t(x) * channels + colours];
        }
        const ULONG code = colours == 1 ? TALIO_PIXEL_GREY : TALIO_PIXEL_RGB;
        return TALIO_SetBufferData(b, 0, y, w, 1, w * colours, code, work->split) &&
               TALIO_SetBufferData(b->alpha, 0, y, w, 1, w, TALIO_PIXEL_GREY, work->alpha);
    }
    }
}

// Decodes into the buffer; runs inside the caller's setjmp.
ULONG decode(png_structp png, png_infop info, TALIO_Header* header, StreamState* stream, LoadWork* work) {
    TALIO_ImageBuffer* b = header->buffer;
    png_set_read_fn(png, stream, readData);
    png_read_info(png, info);
    if (png_get_image_width(png, info) != b->width || png_get_image_height(png, info) != b->height)
        return TALIO_ERR_DAMAGED;
    // Palette to true colour, grey to 8 bits, a transparency chunk to alpha; 16-bit samples rounded.
    png_set_expand(png);
    png_set_scale_16(png);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    const int channels = png_get_channels(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    if (channels < 1 || channels > 4 || png_get_bit_depth(png, info) != 8 ||
        rowBytes != size_t(b->width) * size_t(channels) || b->depth != (channels <= 2 ? 8u : 24u))
        return TALIO_ERR_DAMAGED;

    if (channels == 2 || channels == 4) {
        b->alpha = TALIO__AllocBufferQuiet(b->width, b->height, 8, TALIO_FORMAT_GREY8);
        work->split = static_cast<png_bytep>(Tal_AllocMem(rowBytes));
        work->alpha = static_cast<png_bytep>(Tal_AllocMem(b->width));
        if (!b->alpha || !work->split || !work->alpha) return TALIO_ERR_MEMORY;
    }
    // An interlaced picture is whole only after its last pass: it is decoded in memory first.
    const uint64_t held = passes > 1 ? uint64_t(rowBytes) * b->height : rowBytes;
    if (held > SIZE_MAX / 2) return TALIO_ERR_MEMORY;
    work->rows = static_cast<png_bytep>(Tal_AllocMem(size_t(held)));
    if (!work->rows) return TALIO_ERR_MEMORY;

    if (passes == 1) {
        for (ULONG y = 0; y < b->height; y++) {
            png_read_row(png, work->rows, nullptr);
            if (!storeRow(b, y, work->rows, channels, work)) return TALIO_ERR_DAMAGED;
            if (!TALIO__RowsDone(header, y, y + 1, b->height)) return TALIO_ERR_CANCELLED;
        }
    } else {
        const ULONG total = ULONG(passes) * b->height;
        for (int pass = 0; pass < passes; pass++)
            for (ULONG y = 0; y < b->height; y++) {
                png_read_row(png, work->rows + size_t(y) * rowBytes, nullptr);
                if (!TALIO__RowsDone(header, ULONG(pass) * b->height + y, ULONG(pass) * b->height + y + 1,
                                     total))
                    return TALIO_ERR_CANCELLED;
            }
        for (ULONG y = 0; y < b->height; y++)
            if (!storeRow(b, y, work->rows + size_t(y) * rowBytes, channels, work)) return TALIO_ERR_DAMAGED;
    }
    // What follows the picture data (text, the end chunk) is not needed.
    return TALIO_OK;
}

ULONG load(TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    if (!header->stream) return TALIO_ERR_OPEN;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, errorExit, warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    auto* work = static_cast<LoadWork*>(Tal_AllocMemClear(sizeof(LoadWork)));
    auto* stream = static_cast<StreamState*>(Tal_AllocMemClear(sizeof(StreamState)));
    ULONG result = TALIO_ERR_MEMORY;
    if (png && info && work && stream) {
        stream->header = header;
        if (setjmp(png_jmpbuf(png)))
            result = stream->shortTransfer ? TALIO_ERR_READ : TALIO_ERR_DAMAGED;
        else
            result = decode(png, info, header, stream, work);
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    if (work) {
        Tal_FreeMem(work->rows);
        Tal_FreeMem(work->split);
        Tal_FreeMem(work->alpha);
    }
    Tal_FreeMem(work);
    Tal_FreeMem(stream);
    return result;
}

// ---------------------------------------------------------------------------------------------------
// Save.

// Compresses an interlaced picture into the stream; runs inside the caller's setjmp. (Pictures without
// interlace go through the writer of TALIOPNG.h, which compresses on every processor.)
ULONG encodeInterlaced(png_structp png, png_infop info, TALIO_Header* header, StreamState* stream,
                       int compression, int channels, png_bytep row) {
    const TALIO_ImageBuffer* b = header->buffer;
    png_set_write_fn(png, stream, writeData, flushData);
    png_set_IHDR(png, info, b->width, b->height, 8, channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB,
                 PNG_INTERLACE_ADAM7, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, compression);
    // Stored without compression, filtering would only cost time.
    if (compression == 0) png_set_filter(png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_write_info(png, info);
    // Each pass of an interlaced picture takes every row and keeps the pixels it needs.
    const int passes = png_set_interlace_handling(png);
    const ULONG code = channels == 1 ? TALIO_PIXEL_INDEX : TALIO_PIXEL_RGB;
    const ULONG rowBytes = b->width * ULONG(channels);
    const ULONG total = ULONG(passes) * b->height;
    for (int pass = 0; pass < passes; pass++)
        for (ULONG y = 0; y < b->height; y++) {
            if (!TALIO_GetBufferData(b, 0, y, b->width, 1, rowBytes, code, row)) return TALIO_ERR_DAMAGED;
            png_write_row(png, row);
            if (!TALIO__RowsDone(header, ULONG(pass) * b->height + y, ULONG(pass) * b->height + y + 1, total))
                return TALIO_ERR_CANCELLED;
        }
    png_write_end(png, info);
    return TALIO_OK;
}

ULONG save(TALIO_Header* header) {
    const TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    const int channels =
        b->depth == 24 && b->format == TALIO_FORMAT_RGBPLANES                                       ? 3
        : b->depth == 8 && (b->format == TALIO_FORMAT_GREY8 || b->format == TALIO_FORMAT_RGBPLANES) ? 1
                                                                                                    : 0;
    if (!channels || b->width == 0 || b->height == 0 || b->width > PNG_UINT_31_MAX / 4 ||
        b->height > PNG_UINT_31_MAX)
        return TALIO_ERR_UNSUPPORTED;
    if (!header->stream) return TALIO_ERR_OPEN;
    const Options opts = currentOptions();
    if (!opts.interlace) return TALIO__WritePNG(header, channels, int(opts.compression));
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, errorExit, warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    auto* row = static_cast<png_bytep>(Tal_AllocMem(size_t(b->width) * size_t(channels)));
    auto* stream = static_cast<StreamState*>(Tal_AllocMemClear(sizeof(StreamState)));
    ULONG result = TALIO_ERR_MEMORY;
    if (png && info && row && stream) {
        stream->header = header;
        if (setjmp(png_jmpbuf(png)))
            result = stream->shortTransfer ? TALIO_ERR_READ : TALIO_ERR_DAMAGED;
        else
            result = encodeInterlaced(png, info, header, stream, int(opts.compression), channels, row);
    }
    png_destroy_write_struct(png ? &png : nullptr, info ? &info : nullptr);
    Tal_FreeMem(row);
    Tal_FreeMem(stream);
    return result;
}

// The save-options group: the compression level and interlace, tied to the process-wide options.
constexpr ULONG kOptionsTitle = 560, kCompressionLabel = 563, kInterlacedLabel = 562;

ULONG makeSaveOptions() {
    const Options opts = currentOptions();
    return TALIO__MakeSaveOptions({Tal_GetCatalogueText(kOptionsTitle),
                                   Tal_GetCatalogueText(kCompressionLabel), nullptr, 0, 9,
                                   LONG(opts.compression), "%ld", setCompression,
                                   Tal_GetCatalogueText(kInterlacedLabel), opts.interlace, setInterlace});
}

} // namespace

void* Tal_NewPNGTALIOClass(const TagItem*) {
    auto* self = static_cast<PNGTALIOInstance*>(Tal_AllocObjectMem(&pngClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_FILE, 1, "png");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposePNGTALIOClass(void* instance) {
    auto* self = static_cast<PNGTALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoPNGTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<PNGTALIOInstance*>(instance);
    switch (id) {
    case PNGTALIO_SetCompression:
        setCompression(args[0]);
        return 1;
    case PNGTALIO_GetCompression:
        return currentOptions().compression;
    case PNGTALIO_SetInterlace:
        setInterlace(args[0]);
        return 1;
    case PNGTALIO_GetInterlace:
        return currentOptions().interlace;
    case TALIO_Identify:
        return identify(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Load:
        return load(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Save:
        return save(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_GetSaveOptions:
        return TALIO__SaveOptionsOf(self->header.superObject, makeSaveOptions);
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitPNGTALIOClass() {
    return Tal__SetupClass(&pngClass, "PNGTALIO", kPngClassId, "RootTALIO", Tal_NewPNGTALIOClass,
                           Tal_DisposePNGTALIOClass, Tal_DoPNGTALIOClassMethod, nullptr,
                           sizeof(PNGTALIOInstance));
}

void Tal_CleanupPNGTALIOClass() {
    Tal__CleanupClass(&pngClass);
}
