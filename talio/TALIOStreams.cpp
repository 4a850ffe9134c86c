// Stream functions, the read-ahead reader and progress reporting of the image-file library.
#include "talio/talio.h"

#include "host/host.h"

#include <algorithm>
#include <atomic>
#include <cstring>

struct TALIO_ReadAhead {
    UBYTE data[1024];
    size_t position; // next byte to serve
    size_t filled;   // bytes in data
};

namespace {

constexpr size_t kReadAheadSize = 1024;
constexpr size_t kDirectReadAbove = 512;

std::atomic<const TALIO_ProgressHooks*> progressHooks{nullptr};

ULONG readBytes(UBYTE* bytes, size_t n, TALIO_Header* header) {
    return TALIO_ReadData(bytes, 1, n, header) == n ? 1 : 0;
}

// Values are assembled byte by byte, so the stream's byte order never depends on the machine's.
ULONG readInteger(uint32_t* value, size_t n, TALIO_Header* header) {
    UBYTE b[4] = {};
    if (!readBytes(b, n, header)) return 0;
    uint32_t v = 0;
    for (size_t i = 0; i < n; i++) {
        const size_t shift = header->swap_bytes == 1 ? 8 * (n - 1 - i) : 8 * i;
        v |= uint32_t(b[i]) << shift;
    }
    *value = v;
    return 1;
}

ULONG writeInteger(uint32_t value, size_t n, TALIO_Header* header) {
    UBYTE b[4];
    for (size_t i = 0; i < n; i++) {
        const size_t shift = header && header->swap_bytes == 1 ? 8 * (n - 1 - i) : 8 * i;
        b[i] = UBYTE(value >> shift);
    }
    return TALIO_WriteData(b, 1, n, header) == n ? 1 : 0;
}

} // namespace

size_t TALIO_ReadData(void* destination, size_t itemSize, size_t count, TALIO_Header* header) {
    if (!destination || !header || !header->stream || itemSize == 0) return 0;
    return std::fread(destination, itemSize, count, header->stream);
}

size_t TALIO_ReadDataLocal(void* destination, size_t itemSize, size_t count, TALIO_Header* header) {
    return TALIO_ReadData(destination, itemSize, count, header);
}

ULONG TALIO_ReadULONG(ULONG* value, TALIO_Header* header) {
    if (!value || !header) return 0;
    return readInteger(value, 4, header);
}

ULONG TALIO_ReadUWORD(UWORD* value, TALIO_Header* header) {
    uint32_t v = 0;
    if (!value || !header || !readInteger(&v, 2, header)) return 0;
    *value = UWORD(v);
    return 1;
}

ULONG TALIO_ReadUBYTE(UBYTE* value, TALIO_Header* header) {
    if (!value || !header) return 0;
    return readBytes(value, 1, header);
}

size_t TALIO_WriteData(const void* source, size_t itemSize, size_t count, TALIO_Header* header) {
    if (!source || !header || !header->stream || itemSize == 0) return 0;
    return std::fwrite(source, itemSize, count, header->stream);
}

ULONG TALIO_WriteULONG(ULONG value, TALIO_Header* header) {
    return writeInteger(value, 4, header);
}

ULONG TALIO_WriteUWORD(UWORD value, TALIO_Header* header) {
    return writeInteger(value, 2, header);
}

ULONG TALIO_WriteUBYTE(UBYTE value, TALIO_Header* header) {
    return writeInteger(value, 1, header);
}

LONG TALIO_Seek(TALIO_Header* header, int64_t offset, ULONG origin) {
    if (!header || !header->stream || origin > 2) return -1;
    static constexpr int whence[] = {SEEK_SET, SEEK_CUR, SEEK_END};
    // Buffered bytes of the read-ahead reader belong to the old position.
    if (header->reader) header->reader->position = header->reader->filled = 0;
    return fseeko(header->stream, off_t(offset), whence[origin]) == 0 ? 0 : -1;
}

size_t TALIO_ReadBuffered(void* destination, int64_t length, TALIO_Header* header) {
    if (!header) return 0;
    if (length < 0) {
        Tal_FreeMem(header->reader);
        header->reader = nullptr;
        return 0;
    }
    if (!destination || length == 0) return 0;
    if (!header->reader) {
        header->reader = static_cast<TALIO_ReadAhead*>(Tal_AllocMemClear(sizeof(TALIO_ReadAhead)));
        if (!header->reader) return 0;
    }
    TALIO_ReadAhead* r = header->reader;
    auto* out = static_cast<UBYTE*>(destination);
    const size_t wanted = size_t(length);
    size_t done = 0;
    while (done < wanted) {
        const size_t buffered = r->filled - r->position;
        const size_t take = std::min(buffered, wanted - done);
        std::memcpy(out + done, r->data + r->position, take);
        r->position += take;
        done += take;
        if (done == wanted) break;
        if (wanted - done > kDirectReadAbove) {
            const size_t n = TALIO_ReadData(out + done, 1, wanted - done, header);
            done += n;
            if (done < wanted) break; // end of the file
        }
        r->position = 0;
        r->filled = TALIO_ReadData(r->data, 1, kReadAheadSize, header);
        if (r->filled == 0) break;
    }
    return done;
}

ULONG TALIO_ProgressStep(ULONG height) {
    const ULONG step = height / 20;
    return step <= 32 ? 32 : step;
}

ULONG TALIO__RowsDone(TALIO_Header* header, ULONG before, ULONG done, ULONG total) {
    const ULONG step = header->progress_step ? header->progress_step : TALIO_ProgressStep(total);
    return done / step == before / step || TALIO_SetProgressDisplay(header, done, total);
}

void TALIO__SetProgressHooks(const TALIO_ProgressHooks* hooks) {
    progressHooks = hooks;
}

ULONG TALIO_SetProgressDisplay(TALIO_Header* header, ULONG done, ULONG total) {
    const TALIO_ProgressHooks* hooks = progressHooks.load();
    if (hooks && hooks->set) return hooks->set(header ? header->progress : nullptr, done, total) ? 1 : 0;
    constexpr ULONG kBreakSignals = SIGBREAKF_CTRL_C | 0x8000;
    return (SetSignal(0, 0) & kBreakSignals) ? 0 : 1;
}

// Used by the registry to open and close displays.
Tal_ProgressDisplay* TALIO__BeginProgress(const char* title, const char* text) {
    const TALIO_ProgressHooks* hooks = progressHooks.load();
    return hooks && hooks->begin ? hooks->begin(title, text) : nullptr;
}

void TALIO__EndProgress(Tal_ProgressDisplay* display) {
    const TALIO_ProgressHooks* hooks = progressHooks.load();
    if (display && hooks && hooks->end) hooks->end(display);
}
