// The clipboard: the program's own store of one device-independent bitmap (the 40-byte bitmap header,
// colour table and rows of the classic clipboard format) and one 8-bit text. With an X display the store
// is linked to the desktop's clipboard: what the program puts there is offered to other programs (the
// bitmap as image/png, the text as UTF-8 and Latin-1 strings), and what another program copied is taken
// over when the clipboard is opened. Without a display the store alone is the clipboard.
#pragma once

#include "Tal/TalBase.h"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

// Holds the clipboard for the calling thread: other threads wait for it (false after a few seconds). With
// the desktop link running, another program's clipboard contents are taken over first.
bool host_OpenClipboard();
void host_CloseClipboard();

// Blocks for bitmaps the clipboard takes over.
UBYTE* host_AllocClipboardBlock(size_t length);
void host_FreeClipboardBlock(UBYTE* block);

// While the caller holds the clipboard: the bitmap and its length, valid until it is emptied or closed;
// none when there is no bitmap.
const UBYTE* host_GetClipboardBitmap(size_t* length);
// Puts a bitmap (a block of host_AllocClipboardBlock, taken over on success) in place of everything the
// clipboard held. False when the caller does not hold the clipboard (the block stays the caller's).
bool host_SetClipboardBitmap(UBYTE* block, size_t length);
// The same for a text (copied).
bool host_SetClipboardText(const char* text);
// The text's length (0 without a text); at most size - 1 bytes of it are copied to out, with a final 0.
size_t host_GetClipboardText(char* out, size_t size);
// Empties the clipboard. What another program offered and was taken over stays consumed until that
// program's clipboard changes.
void host_EmptyClipboard();

// The link to the desktop's clipboard on the X display named by DISPLAY: its own connection and thread.
// False (nothing started) without a display.
bool host_StartDesktopClipboard();
void host_StopDesktopClipboard();

// ---------------------------------------------------------------------------------------------------
// Inside the host layer.

// Conversions between clipboard bitmaps and PNG files. A bitmap of 24 or 32 bits, uncompressed, becomes a
// PNG of 8-bit RGB (false for any other). A PNG of any kind becomes a 24-bit bottom-up bitmap (a block of
// host_AllocClipboardBlock), transparency laid over white; none when it is damaged or a side exceeds
// maxSide.
bool host__BitmapToPng(const UBYTE* bitmap, size_t length, std::vector<UBYTE>* png);
UBYTE* host__PngToBitmap(const UBYTE* png, size_t length, size_t* bitmapLength, ULONG maxSide);

// What the desktop's clipboard holds when another program owns it.
struct host__DesktopContents {
    ULONG owner = 0;        // the owning window
    ULONG stamp = 0;        // when it took the clipboard, when it says
    std::vector<UBYTE> png; // an image/png, or empty
    std::string text;       // UTF-8, or empty
    bool hasText = false;
};
enum class host__DesktopState {
    Ours,    // no link, or the program owns the desktop's clipboard: the store holds the contents
    Foreign, // another program owns it (or nobody does): its contents are filled in
};
// Asks the link, waiting at most `milliseconds`; Ours when it does not answer in time.
host__DesktopState host__FetchDesktopClipboard(host__DesktopContents* out, ULONG milliseconds);
// What the store holds; shared with the link, never changed once made.
struct host__ClipboardContents {
    UBYTE* bitmap = nullptr; // a block of host_AllocClipboardBlock, owned
    size_t bitmapLength = 0;
    std::string text; // Latin-1
    bool hasText = false;
    host__ClipboardContents() = default;
    host__ClipboardContents(const host__ClipboardContents&) = delete;
    host__ClipboardContents& operator=(const host__ClipboardContents&) = delete;
    ~host__ClipboardContents() { host_FreeClipboardBlock(bitmap); }
};
// Tells the link what the store holds now (none: nothing), so that it owns the desktop's clipboard or
// gives it up.
void host__OfferDesktopClipboard(std::shared_ptr<const host__ClipboardContents> contents);
