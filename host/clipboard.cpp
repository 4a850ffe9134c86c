// The program's clipboard store, held by one thread at a time, and its exchange with the desktop's
// clipboard through the link (x11clipboard.cpp).
#include "host/clipboard.h"
#include "host/host.h"

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr auto kHoldWait = std::chrono::seconds(5);
constexpr ULONG kFetchWait = 3000;       // milliseconds for another program to hand over its contents
constexpr ULONG kMaxForeignSide = 32767; // the largest picture side the program has

std::mutex stateLock; // guards what follows
std::condition_variable released;
std::thread::id holder; // the thread that holds the clipboard, none while nobody does
std::shared_ptr<const host__ClipboardContents> contents;
// Contents taken over from another program are known by a digest of their owner and bytes: unchanged
// ones are not converted again, and once pasted (emptied) they do not come back.
uint64_t contentsKey = 0;
uint64_t consumedKey = 0;

bool held() {
    std::lock_guard guard(stateLock);
    return holder == std::this_thread::get_id();
}

uint64_t digest(uint64_t h, const void* data, size_t length) {
    const auto* p = static_cast<const UBYTE*>(data);
    for (size_t i = 0; i < length; i++) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

uint64_t keyOf(const host__DesktopContents& d) {
    uint64_t h = digest(14695981039346656037ull, &d.owner, sizeof d.owner);
    h = digest(h, &d.stamp, sizeof d.stamp);
    h = digest(h, d.png.data(), d.png.size());
    h = digest(h, d.text.data(), d.text.size());
    return h ? h : 1;
}

// UTF-8 to the program's Latin-1; characters beyond it become "?".
std::string latin1Of(const std::string& utf8) {
    std::string out;
    for (size_t i = 0; i < utf8.size();) {
        const auto c = UBYTE(utf8[i]);
        int more = c < 0x80             ? 0
                   : (c & 0xE0) == 0xC0 ? 1
                   : (c & 0xF0) == 0xE0 ? 2
                   : (c & 0xF8) == 0xF0 ? 3
                                        : -1;
        if (more < 0) {
            out += '?';
            i++;
            continue;
        }
        ULONG code = more == 0 ? c : c & (0x3F >> more);
        size_t j = i + 1;
        for (int k = 0; k < more && j < utf8.size() && (UBYTE(utf8[j]) & 0xC0) == 0x80; k++, j++)
            code = (code << 6) | (UBYTE(utf8[j]) & 0x3F);
        out += j - i == size_t(more) + 1 && code <= 0xFF ? char(code) : '?';
        i = j;
    }
    return out;
}

// Makes the store hold what another program offers (called by the holder, with no lock held).
void takeOver(const host__DesktopContents& d) {
    const bool empty = d.png.empty() && !d.hasText;
    const uint64_t key = empty ? 0 : keyOf(d);
    {
        std::lock_guard guard(stateLock);
        if (key && key == contentsKey) return;
        if (!key || key == consumedKey) {
            contents.reset();
            contentsKey = 0;
            return;
        }
    }
    auto made = std::make_shared<host__ClipboardContents>();
    if (!d.png.empty())
        made->bitmap = host__PngToBitmap(d.png.data(), d.png.size(), &made->bitmapLength, kMaxForeignSide);
    if (d.hasText) {
        made->text = latin1Of(d.text);
        made->hasText = true;
    }
    std::lock_guard guard(stateLock);
    contents = made->bitmap || made->hasText ? std::move(made) : nullptr;
    contentsKey = key;
}

// Replaces the contents with the program's own (none: empties) and tells the link.
void replace(std::shared_ptr<const host__ClipboardContents> made) {
    {
        std::lock_guard guard(stateLock);
        if (!made && contentsKey) consumedKey = contentsKey;
        contents = made;
        contentsKey = 0;
    }
    host__OfferDesktopClipboard(std::move(made));
}

} // namespace

bool host_OpenClipboard() {
    {
        std::unique_lock guard(stateLock);
        const std::thread::id self = std::this_thread::get_id();
        if (holder == self) return true;
        if (!released.wait_for(guard, kHoldWait, [] { return holder == std::thread::id(); })) {
            KPutStr("clipboard: held by another thread for too long\n");
            return false;
        }
        holder = self;
    }
    host__DesktopContents desktop;
    if (host__FetchDesktopClipboard(&desktop, kFetchWait) == host__DesktopState::Foreign) takeOver(desktop);
    return true;
}

void host_CloseClipboard() {
    {
        std::lock_guard guard(stateLock);
        if (holder != std::this_thread::get_id()) return;
        holder = {};
    }
    released.notify_all();
}

UBYTE* host_AllocClipboardBlock(size_t length) {
    return static_cast<UBYTE*>(std::malloc(length ? length : 1));
}

void host_FreeClipboardBlock(UBYTE* block) {
    std::free(block);
}

const UBYTE* host_GetClipboardBitmap(size_t* length) {
    std::lock_guard guard(stateLock);
    if (holder != std::this_thread::get_id() || !contents || !contents->bitmap) return nullptr;
    if (length) *length = contents->bitmapLength;
    return contents->bitmap;
}

bool host_SetClipboardBitmap(UBYTE* block, size_t length) {
    if (!block || !held()) return false;
    auto made = std::make_shared<host__ClipboardContents>();
    made->bitmap = block;
    made->bitmapLength = length;
    replace(std::move(made));
    return true;
}

bool host_SetClipboardText(const char* text) {
    if (!text || !held()) return false;
    auto made = std::make_shared<host__ClipboardContents>();
    made->text = text;
    made->hasText = true;
    replace(std::move(made));
    return true;
}

size_t host_GetClipboardText(char* out, size_t size) {
    std::lock_guard guard(stateLock);
    if (holder != std::this_thread::get_id() || !contents || !contents->hasText) {
        if (out && size) *out = 0;
        return 0;
    }
    const std::string& text = contents->text;
    if (out && size) {
        const size_t n = std::min(text.size(), size - 1);
        std::memcpy(out, text.data(), n);
        out[n] = 0;
    }
    return text.size();
}

void host_EmptyClipboard() {
    if (held()) replace(nullptr);
}
