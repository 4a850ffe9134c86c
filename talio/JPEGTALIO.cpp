// JPEGTALIO: JPEG files through the IJG library (libjpeg 6b interface), with reduced decoding, quality and
// progressive saving, and the IPTC picture information of the "Photoshop 3.0" marker.
//
// The library reports fatal errors by a long jump back into the operation that started it. The functions
// between a setjmp and the library calls therefore hold only plain data: no object with a destructor may
// be skipped by the jump.
#include "talio/talio.h"

#include "Tal/Catalogue.h"
#include "ui/ui.h"
#include "host/dos.h"
#include "host/host.h"

#include <algorithm>
#include <condition_variable>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include <jerror.h>
#include <jpeglib.h>

namespace {

Tal_Class jpegClass;

struct JPEGTALIOInstance {
    Tal_Object header;
};

constexpr ULONG kJpegClassId = 7003;
constexpr ULONG kJpegFlags = 1 | TALIO_FLAG_OWN_OUTPUT | TALIO_FLAG_PREVIEW;
constexpr int kApp13 = JPEG_APP0 + 13;
constexpr unsigned kMaxSaveSide = 65500; // the largest side a JPEG file can hold

// Save options, process-wide for the run.
struct Options {
    ULONG quality;
    ULONG progressive;
};
std::mutex optionsLock;
Options options{90, 0};

Options currentOptions() {
    std::lock_guard guard(optionsLock);
    return options;
}

void setQuality(Tal_Word value) {
    std::lock_guard guard(optionsLock);
    options.quality = ULONG(std::clamp<intptr_t>(intptr_t(value), 1, 100));
}

void setProgressive(Tal_Word value) {
    std::lock_guard guard(optionsLock);
    options.progressive = value ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------
// The error manager: messages go to the debug output; a fatal error jumps back with its code kept.

struct ErrorManager {
    jpeg_error_mgr pub;
    jmp_buf jump;
    int failedCode;
    int endOfFile;   // the file ended (the library then supplies an end marker)
    int missingData; // picture data was needed beyond a marker
};

void outputMessage(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    KPrintF("JPEG: %s\n", text);
}

void errorExit(j_common_ptr cinfo) {
    auto* e = reinterpret_cast<ErrorManager*>(cinfo->err);
    e->failedCode = cinfo->err->msg_code;
    (*cinfo->err->output_message)(cinfo);
    longjmp(e->jump, 1);
}

void emitMessage(j_common_ptr cinfo, int level) {
    if (level >= 0) return; // trace messages
    auto* e = reinterpret_cast<ErrorManager*>(cinfo->err);
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) e->endOfFile = 1;
    if (cinfo->err->msg_code == JWRN_HIT_MARKER) e->missingData = 1;
    if (cinfo->err->num_warnings++ == 0) (*cinfo->err->output_message)(cinfo);
}

jpeg_error_mgr* initErrors(ErrorManager* e) {
    jpeg_std_error(&e->pub);
    e->pub.error_exit = errorExit;
    e->pub.output_message = outputMessage;
    e->pub.emit_message = emitMessage;
    return &e->pub;
}

struct DecodeState {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
};

struct EncodeState {
    jpeg_compress_struct cinfo;
    ErrorManager err;
};

// The input: the registry's open stream (at its start), or the file opened by name.
struct Input {
    FILE* file;
    int owned;
};

ULONG openInput(const TALIO_Header* header, Input* in) {
    in->owned = 0;
    in->file = header->stream;
    if (in->file) return 1;
    if (!header->file_name) return 0;
    in->file = Tal_OpenFile(header->file_name, "rb");
    in->owned = 1;
    return in->file ? 1 : 0;
}

void closeInput(Input* in) {
    if (in->owned && in->file) std::fclose(in->file);
    in->file = nullptr;
}

ULONG denominator(ULONG reduction) {
    switch (reduction) {
    case 100:
        return 1;
    case 200:
        return 2;
    case 400:
        return 4;
    case 800:
        return 8;
    default:
        return 0;
    }
}

// ---------------------------------------------------------------------------------------------------
// Identify.

bool jpegStart(const TALIO_Header* header) {
    if (!header->peek || header->peek_length < 4) return false;
    const UBYTE* p = header->peek;
    return p[0] == 0xFF && p[1] == 0xD8 && p[2] == 0xFF && (p[3] == 0xE0 || p[3] == 0xE1);
}

// Reads the header and fills the buffer's size; runs inside the caller's setjmp.
ULONG describe(ULONG self, TALIO_Header* header, DecodeState* st, Input* in, int preview) {
    jpeg_create_decompress(&st->cinfo);
    jpeg_stdio_src(&st->cinfo, in->file);
    jpeg_read_header(&st->cinfo, TRUE);
    const uint64_t w = st->cinfo.image_width, h = st->cinfo.image_height;
    ULONG reduction = ULONG(Tal_DoMethod(self, TALIO_GetReduction));
    if (preview) {
        constexpr uint64_t p = TALIO_PREVIEW_SIZE;
        if (w > 2 * p) reduction = 200;
        if (w > 4 * p) reduction = 400;
        if (w > 8 * p) reduction = 800;
        Tal_DoMethod(self, TALIO_SetReduction, reduction);
    }
    if (!denominator(reduction)) return TALIO_ERR_UNSUPPORTED;
    TALIO_ImageBuffer* b = header->buffer;
    b->width = ULONG((w * 100 + reduction - 1) / reduction);
    b->height = ULONG((h * 100 + reduction - 1) / reduction);
    b->depth = ULONG(st->cinfo.num_components) * 8;
    b->format = st->cinfo.num_components == 1 ? header->grey_format : header->truecolour_format;
    return TALIO_OK;
}

ULONG identify(ULONG self, TALIO_Header* header, int preview) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    if (!jpegStart(header)) return TALIO_ERR_UNKNOWN;
    Input in;
    if (!openInput(header, &in)) return TALIO_ERR_OPEN;
    auto* st = static_cast<DecodeState*>(Tal_AllocMemClear(sizeof(DecodeState)));
    if (!st) {
        closeInput(&in);
        return TALIO_ERR_DAMAGED;
    }
    st->cinfo.err = initErrors(&st->err);
    ULONG result;
    if (setjmp(st->err.jump))
        result = TALIO_ERR_UNKNOWN;
    else
        result = describe(self, header, st, &in, preview);
    jpeg_destroy_decompress(&st->cinfo);
    Tal_FreeMem(st);
    closeInput(&in);
    return result;
}

// ---------------------------------------------------------------------------------------------------
// Load.

// The picture information of the first "Photoshop 3.0" marker, attached to the header.
ULONG attachInformation(TALIO_Header* header, const jpeg_decompress_struct* cinfo) {
    static constexpr char kPhotoshop[] = "Photoshop 3.0";
    for (jpeg_saved_marker_ptr m = cinfo->marker_list; m; m = m->next) {
        if (m->marker != kApp13 || m->data_length < sizeof kPhotoshop ||
            std::memcmp(m->data, kPhotoshop, sizeof kPhotoshop) != 0)
            continue;
        auto* info = static_cast<TALIO_IPTCInfo*>(Tal_AllocMemClear(sizeof(TALIO_IPTCInfo)));
        if (!info) return TALIO_ERR_MEMORY;
        TALIO__ReadIPTC(m->data, m->data_length, info);
        Tal_FreeMem(header->extra);
        header->extra = info;
        break;
    }
    return TALIO_OK;
}

// Storing decoded rows in a large picture's planes (and in the working copy, when the caller wants one)
// costs nearly as much as decoding them: the planes are new memory, written once. With a second processor
// a worker stores them while the decoder goes on: the decoder fills rows of a ring, the worker empties
// them into the buffer in chunks. When the worker falls behind and the ring is full, the decoder stores
// the oldest rows itself instead of waiting, and at the end it stores what is left beside the worker, so
// that both processors stay busy whichever side is slower. The pipe is made and ended outside the
// library's jump, and the decoder only ever waits in calls of its own, so that no lock is held when the
// library jumps back.
struct RowPipe {
    static constexpr ULONG kSlots = 64; // rows in the ring
    static constexpr ULONG kChunk = 16; // rows stored in one go
    static constexpr ULONG kIdle = ~ULONG(0);
    enum Storer { kWorker, kDecoder };

    std::mutex lock;
    std::condition_variable changed;
    std::vector<UBYTE> ring;
    ULONG rowBytes = 0;
    TALIO_ImageBuffer* buffer = nullptr;
    ULONG code = 0;
    ULONG written = 0;                 // rows the decoder has put in the ring
    ULONG claimed = 0;                 // rows handed to a storer
    ULONG storing[2] = {kIdle, kIdle}; // the first row of the chunk each storer is at
    bool finished = false;
    bool failed = false; // a row could not be stored
    std::thread worker;

    UBYTE* slot(ULONG row) { return ring.data() + size_t(row % kSlots) * rowBytes; }
    // Every row below this one is stored: its slot may take a new row.
    ULONG storedBelow() const { return std::min({claimed, storing[kWorker], storing[kDecoder]}); }

    // Claims the oldest rows not yet claimed (a chunk at most) and stores them without the lock.
    void storeChunk(std::unique_lock<std::mutex>& guard, Storer who) {
        const ULONG from = claimed, to = std::min(written, claimed + kChunk);
        claimed = to;
        storing[who] = from;
        guard.unlock();
        bool ok = true;
        for (ULONG row = from; row < to && ok; row++)
            ok = TALIO_SetBufferData(buffer, 0, row, buffer->width, 1, rowBytes, code, slot(row)) != 0;
        guard.lock();
        storing[who] = kIdle;
        failed = failed || !ok;
        changed.notify_all();
    }
    void work() {
        host_SetThreadName("JPEG rows");
        std::unique_lock guard(lock);
        for (;;) {
            changed.wait(guard, [&] { return written - claimed >= kChunk || finished; });
            if (written == claimed) {
                if (finished) return;
                continue;
            }
            storeChunk(guard, kWorker);
        }
    }
    // Starts the worker; false when it cannot run (the rows are then stored by the decoder).
    bool start(TALIO_ImageBuffer* b, ULONG bytes, ULONG pixelCode) {
        buffer = b, rowBytes = bytes, code = pixelCode;
        ring.assign(size_t(kSlots) * bytes, 0);
        try {
            worker = std::thread([this] { work(); });
        } catch (...) {
            return false;
        }
        return true;
    }
    // The slots for rows [first, first + count): until the rows before them are stored, the decoder
    // stores some itself, or waits while the worker has them all.
    void reserve(ULONG first, ULONG count) {
        std::unique_lock guard(lock);
        while (first + count - storedBelow() > kSlots) {
            if (written > claimed)
                storeChunk(guard, kDecoder);
            else
                changed.wait(guard);
        }
    }
    void publish(ULONG rows) {
        std::lock_guard guard(lock);
        written = rows;
        if (written - claimed >= kChunk) changed.notify_all();
    }
    // Stores what is left, beside the worker, and lets the worker end; false when a row could not be
    // stored.
    bool finish() {
        {
            std::unique_lock guard(lock);
            while (written > claimed) storeChunk(guard, kDecoder);
        }
        return end();
    }
    // Lets the worker end without more rows from the decoder (after a failure).
    bool end() {
        {
            std::lock_guard guard(lock);
            finished = true;
            changed.notify_all();
        }
        if (worker.joinable()) worker.join();
        return !failed;
    }
    ~RowPipe() { end(); }
};

// Whether every coefficient of every component has come with all its bits (a progressive picture; a
// sequential one is always complete here).
bool progressionComplete(const jpeg_decompress_struct* cinfo) {
    if (!cinfo->progressive_mode || !cinfo->coef_bits) return true;
    for (int c = 0; c < cinfo->num_components; c++)
        for (int k = 0; k < DCTSIZE2; k++)
            if (cinfo->coef_bits[c][k] != 0) return false;
    return true;
}

// A file that ends inside the picture data is damaged, not a picture with a grey end; so is a progressive
// one that ends where one of its later scans begins: every scan it holds is whole, but the coefficients the
// later ones bring are missing or unrefined. One that lacks only its end marker is whole.
bool cutShort(const DecodeState* st) {
    return st->err.endOfFile && (st->err.missingData || !progressionComplete(&st->cinfo));
}

bool worthAPipe(const TALIO_ImageBuffer* b) {
    return uint64_t(b->width) * b->height >= (uint64_t(1) << 20) && std::thread::hardware_concurrency() > 1;
}

// Decodes into the buffer; runs inside the caller's setjmp. Returning early leaves the decompressor to be
// destroyed unfinished. With a pipe, decoded rows go through its ring to its worker.
ULONG decode(TALIO_Header* header, DecodeState* st, Input* in, ULONG denom, RowPipe* pipe) {
    jpeg_decompress_struct* cinfo = &st->cinfo;
    TALIO_ImageBuffer* b = header->buffer;
    jpeg_create_decompress(cinfo);
    jpeg_stdio_src(cinfo, in->file);
    jpeg_save_markers(cinfo, kApp13, 0xFFFF);
    jpeg_read_header(cinfo, TRUE);

    // One grey or three colour components; CMYK and the rest are refused before decoding.
    int components;
    if (cinfo->num_components == 1 && cinfo->jpeg_color_space == JCS_GRAYSCALE) {
        cinfo->out_color_space = JCS_GRAYSCALE;
        components = 1;
    } else if (cinfo->num_components == 3 &&
               (cinfo->jpeg_color_space == JCS_YCbCr || cinfo->jpeg_color_space == JCS_RGB)) {
        cinfo->out_color_space = JCS_RGB;
        components = 3;
    } else {
        return TALIO_ERR_UNSUPPORTED;
    }
    if (b->depth != ULONG(components) * 8) return TALIO_ERR_UNSUPPORTED;
    cinfo->scale_num = 1;
    cinfo->scale_denom = denom;
    jpeg_start_decompress(cinfo);
    // A progressive picture has been read whole by now.
    if (cutShort(st)) return TALIO_ERR_DAMAGED;
    // The rows must be exactly those of the buffer.
    if (cinfo->output_width != b->width || cinfo->output_height != b->height ||
        cinfo->output_components != components)
        return TALIO_ERR_UNSUPPORTED;
    if (ULONG r = attachInformation(header, cinfo); r != TALIO_OK) return r;

    // The working copy the caller will want is filled with the planes, by the worker when there is one.
    if (components == 3) TALIO__AllocWorkingCopy(b);
    const ULONG code = components == 1 ? TALIO_PIXEL_GREY : TALIO_PIXEL_RGB;
    const ULONG rowBytes = cinfo->output_width * ULONG(components);
    const int batch =
        std::min(cinfo->rec_outbuf_height > 0 ? cinfo->rec_outbuf_height : 1, int(RowPipe::kSlots));
    if (pipe && !pipe->start(b, rowBytes, code)) pipe = nullptr;
    JSAMPARRAY rows = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE,
                                                  rowBytes, JDIMENSION(batch));
    const ULONG step = header->progress_step ? header->progress_step : TALIO_ProgressStep(b->height);
    while (cinfo->output_scanline < cinfo->output_height) {
        const ULONG first = cinfo->output_scanline;
        if (pipe) {
            pipe->reserve(first, ULONG(batch));
            for (int i = 0; i < batch; i++) rows[i] = pipe->slot(first + ULONG(i));
        }
        const ULONG got = jpeg_read_scanlines(cinfo, rows, JDIMENSION(batch));
        if (got == 0 || cutShort(st)) return TALIO_ERR_DAMAGED;
        if (pipe)
            pipe->publish(first + got);
        else
            for (ULONG i = 0; i < got; i++)
                if (!TALIO_SetBufferData(b, 0, first + i, b->width, 1, rowBytes, code, rows[i]))
                    return TALIO_ERR_DAMAGED;
        const ULONG done = first + got;
        if (done / step != first / step && !TALIO_SetProgressDisplay(header, done, b->height))
            return TALIO_ERR_CANCELLED;
    }
    jpeg_finish_decompress(cinfo);
    if (pipe && !pipe->finish()) return TALIO_ERR_DAMAGED;
    return TALIO_OK;
}

ULONG load(ULONG self, TALIO_Header* header) {
    if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
    const ULONG denom = denominator(ULONG(Tal_DoMethod(self, TALIO_GetReduction)));
    if (!denom) return TALIO_ERR_UNSUPPORTED;
    Input in;
    if (!openInput(header, &in)) return TALIO_ERR_OPEN;
    auto* st = static_cast<DecodeState*>(Tal_AllocMemClear(sizeof(DecodeState)));
    RowPipe* pipe = nullptr;
    if (st && worthAPipe(header->buffer)) pipe = new (std::nothrow) RowPipe;
    if (!st) {
        closeInput(&in);
        return TALIO_ERR_DAMAGED;
    }
    st->cinfo.err = initErrors(&st->err);
    ULONG result;
    if (setjmp(st->err.jump))
        result = TALIO_ERR_DAMAGED;
    else
        result = decode(header, st, &in, denom, pipe);
    // The worker ends before the ring it reads goes (after an early return or the library's jump too).
    delete pipe;
    jpeg_destroy_decompress(&st->cinfo);
    Tal_FreeMem(st);
    closeInput(&in);
    return result;
}

// ---------------------------------------------------------------------------------------------------
// Save.

// Compresses the buffer into the file; runs inside the caller's setjmp.
ULONG encode(TALIO_Header* header, EncodeState* st, FILE* file, Options opts, const Tal_DynamicMemory* iptc,
             UBYTE* row, int components) {
    jpeg_compress_struct* cinfo = &st->cinfo;
    const TALIO_ImageBuffer* b = header->buffer;
    jpeg_create_compress(cinfo);
    jpeg_stdio_dest(cinfo, file);
    cinfo->image_width = b->width;
    cinfo->image_height = b->height;
    cinfo->input_components = components;
    cinfo->in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(cinfo);
    jpeg_set_quality(cinfo, int(opts.quality), TRUE);
    if (opts.progressive) jpeg_simple_progression(cinfo);
    jpeg_start_compress(cinfo, TRUE);
    if (iptc) jpeg_write_marker(cinfo, kApp13, iptc->data, iptc->length);

    const ULONG code = components == 1 ? TALIO_PIXEL_INDEX : TALIO_PIXEL_RGB;
    const ULONG step = header->progress_step ? header->progress_step : TALIO_ProgressStep(b->height);
    JSAMPROW rows[1] = {row};
    for (ULONG y = 0; y < b->height; y++) {
        if (!TALIO_GetBufferData(b, 0, y, b->width, 1, b->width * ULONG(components), code, row))
            return TALIO_ERR_DAMAGED;
        jpeg_write_scanlines(cinfo, rows, 1);
        if ((y + 1) % step == 0 && !TALIO_SetProgressDisplay(header, y + 1, b->height))
            return TALIO_ERR_CANCELLED;
    }
    jpeg_finish_compress(cinfo);
    return TALIO_OK;
}

ULONG save(TALIO_Header* header) {
    const TALIO_ImageBuffer* b = header ? header->buffer : nullptr;
    if (!b) return TALIO_ERR_DAMAGED;
    // Checked before anything is opened: true colour in planes, or grey (one component).
    const int components =
        b->depth == 24 && b->format == TALIO_FORMAT_RGBPLANES                                       ? 3
        : b->depth == 8 && (b->format == TALIO_FORMAT_GREY8 || b->format == TALIO_FORMAT_RGBPLANES) ? 1
                                                                                                    : 0;
    if (!components) return TALIO_ERR_UNKNOWN;
    if (b->width == 0 || b->height == 0 || b->width > kMaxSaveSide || b->height > kMaxSaveSide)
        return TALIO_ERR_UNSUPPORTED;
    if (!header->file_name) return TALIO_ERR_OPEN;
    const Options opts = currentOptions();

    Tal_DynamicMemory* iptc = nullptr;
    if (header->extra) {
        iptc = Tal_InitDynamicMemoryA(TAL_DYNMEM_BIGENDIAN);
        if (!iptc || !TALIO__BuildIPTC(static_cast<const TALIO_IPTCInfo*>(header->extra), iptc)) {
            Tal_CleanupDynamicMemory(iptc);
            return TALIO_ERR_MEMORY;
        }
    }
    auto* row = static_cast<UBYTE*>(Tal_AllocMem(size_t(b->width) * size_t(components)));
    auto* st = static_cast<EncodeState*>(Tal_AllocMemClear(sizeof(EncodeState)));
    Tal_SafeSave file;
    FILE* out = row && st ? Tal_SafeSaveOpen(&file, header->file_name, "wb") : nullptr;
    ULONG result;
    if (!row || !st) {
        result = TALIO_ERR_MEMORY;
    } else if (!out) {
        result = TALIO_ERR_OPEN;
    } else {
        st->cinfo.err = initErrors(&st->err);
        if (setjmp(st->err.jump))
            result = st->err.failedCode == JERR_FILE_WRITE ? TALIO_ERR_READ : TALIO_ERR_DAMAGED;
        else
            result = encode(header, st, out, opts, iptc, row, components);
        jpeg_destroy_compress(&st->cinfo);
        // Only a complete file replaces the old one.
        if (result == TALIO_OK) {
            if (!Tal_SafeSaveCommit(&file)) result = TALIO_ERR_READ;
        } else {
            Tal_SafeSaveAbort(&file);
        }
    }
    Tal_FreeMem(st);
    Tal_FreeMem(row);
    Tal_CleanupDynamicMemory(iptc);
    return result;
}

// ---------------------------------------------------------------------------------------------------
// The save-options group: quality and encoding, tied to the process-wide options.

ULONG makeSaveOptions() {
    const Options opts = currentOptions();
    return TALIO__MakeSaveOptions({Tal_GetCatalogueText(97), Tal_GetCatalogueText(155),
                                   Tal_GetCatalogueText(157), 1, 100, LONG(opts.quality), "%ld%%", setQuality,
                                   Tal_GetCatalogueText(253), opts.progressive, setProgressive});
}

} // namespace

void* Tal_NewJPEGTALIOClass(const TagItem*) {
    auto* self = static_cast<JPEGTALIOInstance*>(Tal_AllocObjectMem(&jpegClass));
    if (!self) return nullptr;
    self->header.superObject = TALIO__NewFormatBase(TALIO_KIND_FILE, kJpegFlags, "jpg");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    return self;
}

void Tal_DisposeJPEGTALIOClass(void* instance) {
    auto* self = static_cast<JPEGTALIOInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoJPEGTALIOClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<JPEGTALIOInstance*>(instance);
    const ULONG handle = Tal_GetTopMostObject(self->header.handle);
    switch (id) {
    case JPEGTALIO_SetQuality:
        setQuality(args[0]);
        return 1;
    case JPEGTALIO_GetQuality:
        return currentOptions().quality;
    case JPEGTALIO_SetProgressive:
        setProgressive(args[0]);
        return 1;
    case JPEGTALIO_GetProgressive:
        return currentOptions().progressive;
    case TALIO_Identify:
        return identify(handle, reinterpret_cast<TALIO_Header*>(args[0]), 0);
    case TALIO_IdentifyPreview:
        return identify(handle, reinterpret_cast<TALIO_Header*>(args[0]), 1);
    case TALIO_Load:
    case TALIO_LoadPreview:
        return load(handle, reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_Save:
        return save(reinterpret_cast<TALIO_Header*>(args[0]));
    case TALIO_GetSaveOptions:
        return TALIO__SaveOptionsOf(self->header.superObject, makeSaveOptions);
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitJPEGTALIOClass() {
    return Tal__SetupClass(&jpegClass, "JPEGTALIO", kJpegClassId, "RootTALIO", Tal_NewJPEGTALIOClass,
                           Tal_DisposeJPEGTALIOClass, Tal_DoJPEGTALIOClassMethod, nullptr,
                           sizeof(JPEGTALIOInstance));
}

void Tal_CleanupJPEGTALIOClass() {
    Tal__CleanupClass(&jpegClass);
}
