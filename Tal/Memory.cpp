// Allocation entry points and the growable byte buffer.
#include "Tal/TalBase.h"

#include <cstdlib>

void* AllocVec(size_t size, ULONG flags) {
    if (size == 0) size = 1;
    return (flags & MEMF_CLEAR) ? std::calloc(1, size) : std::malloc(size);
}
void* AllocMem(size_t size, ULONG flags) {
    return AllocVec(size, flags);
}
void FreeVec(void* p) {
    std::free(p);
}
void FreeMem(void* p) {
    std::free(p);
}
void* Tal_AllocMem(size_t size) {
    return AllocVec(size, 0);
}
void* Tal_AllocMemClear(size_t size) {
    return AllocVec(size, MEMF_CLEAR);
}
void* Tal_Calloc(size_t count, size_t size) {
    return std::calloc(count ? count : 1, size ? size : 1);
}
void Tal_FreeMem(void* p) {
    std::free(p);
}
void* Tal_AllocMemQuick(size_t size) {
    return AllocVec(size, 0);
}
void Tal_FreeMemQuick(void* p) {
    std::free(p);
}
void Tal_FreeAsyncMsg(void* msg) {
    std::free(msg);
}

char* Tal_StrDup(const char* text) {
    if (!text) return nullptr;
    size_t n = std::strlen(text) + 1;
    char* copy = static_cast<char*>(Tal_AllocMem(n));
    if (copy) std::memcpy(copy, text, n);
    return copy;
}

Tal_DynamicMemory* Tal_InitDynamicMemoryA(ULONG flags) {
    auto* buf = static_cast<Tal_DynamicMemory*>(Tal_AllocMemClear(sizeof(Tal_DynamicMemory)));
    if (buf) buf->flags = flags & 3;
    return buf;
}

// Grows to exactly the size needed: the buffers assembled here are small and their final size is
// read back by the callers from the capacity as well.
ULONG Tal_WriteDynamicMemory(Tal_DynamicMemory* buf, const void* p, ULONG n) {
    if (!buf) return 0;
    if (n == 0) return 1;
    uint64_t needed = uint64_t(buf->length) + n;
    if (needed > 0xFFFFFFFFu) return 0;
    if (needed > buf->capacity) {
        auto* grown = static_cast<UBYTE*>(std::realloc(buf->data, needed));
        if (!grown) return 0;
        buf->data = grown;
        buf->capacity = ULONG(needed);
    }
    std::memcpy(buf->data + buf->writePosition, p, n);
    buf->writePosition += n;
    buf->length += n;
    return 1;
}

static ULONG writeInteger(Tal_DynamicMemory* buf, ULONG v, int bytes) {
    if (!buf) return 0;
    UBYTE out[4];
    bool big = buf->flags == TAL_DYNMEM_BIGENDIAN;
    for (int i = 0; i < bytes; i++) {
        int shift = 8 * (big ? bytes - 1 - i : i);
        out[i] = UBYTE(v >> shift);
    }
    return Tal_WriteDynamicMemory(buf, out, ULONG(bytes));
}

ULONG Tal_WriteDynamicMemoryULONG(Tal_DynamicMemory* buf, ULONG v) {
    return writeInteger(buf, v, 4);
}
ULONG Tal_WriteDynamicMemoryUWORD(Tal_DynamicMemory* buf, ULONG v) {
    return writeInteger(buf, v, 2);
}
ULONG Tal_WriteDynamicMemoryUBYTE(Tal_DynamicMemory* buf, ULONG v) {
    return writeInteger(buf, v, 1);
}

void Tal_CleanupDynamicMemory(Tal_DynamicMemory* buf) {
    if (!buf) return;
    std::free(buf->data);
    std::free(buf);
}
