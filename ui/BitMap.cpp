// BitMap: shows a picture, either one built into the program (looked up by name or handle) or an IFF
// ILBM picture file of the interface. Also serves as the backdrop of other objects, repeating its picture
// over the rectangle it is asked to fill.
//
// Picture files are outside data: the reader trusts nothing in them. Every chunk, run and line is bounded
// by the file and by the picture's own line length; a picture that does not fit is refused whole.
#include "ui/Pages.h"
#include "Tal/Root.h"
#include "ui/Window.h"
#include "host/byterun1.h"
#include "host/dos.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace {

Tal_Class bitMapClass;

constexpr size_t kMaxFileSize = 16u << 20;     // interface pictures are small; more is not one of ours
constexpr size_t kMaxPlaneBytes = 64u << 20;   // the same for what a picture may claim to hold
constexpr size_t kByteRun1MaxExpansion = 64;   // two bytes of input give at most 128 of output
constexpr ULONG kFirstKeyCandidate = 0xFF00FF; // magenta: rare in interface pictures

ULONG be32(const UBYTE* p) {
    return ULONG(p[0]) << 24 | ULONG(p[1]) << 16 | ULONG(p[2]) << 8 | p[3];
}
LONG be16(const UBYTE* p) {
    return LONG(p[0]) << 8 | p[1];
}
bool chunkIs(const UBYTE* id, const char* name) {
    return std::memcmp(id, name, 4) == 0;
}

struct Header {
    LONG width, height, planes, masking, compression;
    bool seen;
};

// One ByteRun1 line: exactly `length` bytes, never reading past `end` nor writing past the line; a run
// that overruns the line refuses the picture.
bool unpackLine(const UBYTE*& src, const UBYTE* end, UBYTE* out, size_t length) {
    bool overran = false;
    return host_UnpackByteRun1(&src, end, out, length, &overran) == length && !overran;
}

// The planes of the BODY; none when the header or the data do not make a whole picture.
BitMap* readBody(const Header& h, const UBYTE* body, size_t length) {
    if (h.width < 1 || h.height < 1 || h.width > 32767 || h.height > 32767) return nullptr;
    if (h.planes < 1 || h.planes > 8 || (h.compression != 0 && h.compression != 1)) return nullptr;
    const size_t rowLength = size_t((h.width + 15) / 16) * 2;
    const size_t lines = size_t(h.planes) + (h.masking == 1 ? 1 : 0); // a mask line is read and dropped
    const size_t needed = rowLength * lines * size_t(h.height);
    if (needed > kMaxPlaneBytes) return nullptr;
    if (needed > (h.compression == 0 ? length : length * kByteRun1MaxExpansion)) return nullptr;
    BitMap* bitmap = AllocBitMap(ULONG(h.width), ULONG(h.height), ULONG(h.planes), 0);
    if (!bitmap) return nullptr;
    std::vector<UBYTE> dropped(rowLength);
    const UBYTE* src = body;
    const UBYTE* end = body + length;
    for (LONG y = 0; y < h.height; y++) {
        for (size_t k = 0; k < lines; k++) {
            UBYTE* dst =
                LONG(k) < h.planes ? bitmap->Planes[k] + size_t(y) * bitmap->BytesPerRow : dropped.data();
            if (h.compression == 0) {
                std::memcpy(dst, src, rowLength);
                src += rowLength;
            } else if (!unpackLine(src, end, dst, rowLength)) {
                FreeBitMap(bitmap);
                return nullptr;
            }
        }
    }
    return bitmap;
}

// ---------------------------------------------------------------------------------------------------

struct BitMapInstance {
    Tal_Object header;
    BitMap* picture; // planar
    UBYTE* rgb;      // the picture as blue, green, red rows, rowBytes apart (built when first drawn)
    UBYTE* keyed;    // the same with the transparent pixels in the key colour
    ULONG keyColour;
    BitMap* mask; // not owned
    char* fileName;
    char* toolBarName;
    const Tal_BuiltInPicture* builtIn;
    LONG builtInWidth, builtInHeight;
    LONG offsetX, offsetY;
    LONG width, height; // 0: the picture's own
    UBYTE colour0;
    UBYTE palette[256 * 3];
    UBYTE pressed;
    UBYTE owned;
    LONG pictureWidth, pictureHeight; // of the planar picture
    LONG rowBytes;
    Tal_Box* box;
    std::mutex lock; // the picture against drawing in the window's thread
};

BitMapInstance* of(void* instance) {
    return static_cast<BitMapInstance*>(instance);
}

void dropRows(BitMapInstance* self) {
    Tal_FreeMem(self->rgb);
    Tal_FreeMem(self->keyed);
    self->rgb = self->keyed = nullptr;
}

void dropPicture(BitMapInstance* self) {
    dropRows(self);
    if (self->owned) FreeBitMap(self->picture);
    self->picture = nullptr;
    self->owned = 0;
    self->builtIn = nullptr;
    self->pictureWidth = self->pictureHeight = 0;
}

void setText(char*& field, const char* text) {
    char* copy = text ? Tal_StrDup(text) : nullptr;
    Tal_FreeMem(field);
    field = copy;
}

LONG shownWidth(const BitMapInstance* self) {
    if (self->builtIn) return self->builtIn->width;
    return self->picture || self->rgb ? self->pictureWidth : 0;
}
LONG shownHeight(const BitMapInstance* self) {
    if (self->builtIn) return self->builtIn->height;
    return self->picture || self->rgb ? self->pictureHeight : 0;
}

// Grey levels spread over the colours a picture of that depth can have.
void greyRamp(UBYTE* palette, LONG depth) {
    const ULONG entries = 1u << depth;
    for (ULONG i = 0; i < entries; i++)
        palette[3 * i] = palette[3 * i + 1] = palette[3 * i + 2] = UBYTE(i * 255 / (entries - 1));
}

bool masked(const BitMap* mask, LONG x, LONG y) {
    if (!mask || !mask->Planes[0] || y >= mask->Rows || x >= LONG(mask->BytesPerRow) * 8) return false;
    return !(mask->Planes[0][size_t(y) * mask->BytesPerRow + size_t(x / 8)] & (0x80 >> (x % 8)));
}

// A key colour that no other entry of the palette has, so that only transparent pixels vanish.
ULONG uniqueKey(const UBYTE* palette, ULONG entries) {
    for (ULONG key = kFirstKeyCandidate;; key = (key + 0x010101) & 0xFFFFFF) {
        bool used = false;
        for (ULONG i = 1; i < entries && !used; i++)
            used = (ULONG(palette[3 * i]) | ULONG(palette[3 * i + 1]) << 8 |
                    ULONG(palette[3 * i + 2]) << 16) == key;
        if (!used) return key;
    }
}

// Turns the planar picture into rows of colours: once per picture, colour-0 setting and mask.
bool buildRows(BitMapInstance* self) {
    if (self->rgb) return true;
    const BitMap* bm = self->picture;
    const LONG w = self->pictureWidth, h = self->pictureHeight;
    if (!bm || bm->Depth < 1 || bm->Depth > 8 || w < 1 || h < 1) return false;
    std::vector<UBYTE> indices(size_t(w) * size_t(h));
    if (!planar_to_chunky(bm->Planes[0], indices.data(), ULONG(w), ULONG(h), bm->Depth, bm->BytesPerRow,
                          ULONG(w)))
        return false;
    const LONG rowBytes = (w * 3 + 3) & ~3;
    auto* rgb = static_cast<UBYTE*>(Tal_AllocMemClear(size_t(rowBytes) * size_t(h)));
    auto* keyed = static_cast<UBYTE*>(Tal_AllocMemClear(size_t(rowBytes) * size_t(h)));
    if (!rgb || !keyed) {
        Tal_FreeMem(rgb);
        Tal_FreeMem(keyed);
        return false;
    }
    const ULONG key = uniqueKey(self->palette, 1u << bm->Depth);
    for (LONG y = 0; y < h; y++) {
        for (LONG x = 0; x < w; x++) {
            const UBYTE index = indices[size_t(y) * size_t(w) + size_t(x)];
            const UBYTE* c = self->palette + 3 * index;
            UBYTE* o = rgb + size_t(y) * size_t(rowBytes) + size_t(x) * 3;
            UBYTE* k = keyed + size_t(y) * size_t(rowBytes) + size_t(x) * 3;
            o[0] = c[2];
            o[1] = c[1];
            o[2] = c[0];
            const bool clear = (index == 0 && self->colour0) || masked(self->mask, x, y);
            k[0] = clear ? UBYTE(key >> 16) : o[0];
            k[1] = clear ? UBYTE(key >> 8) : o[1];
            k[2] = clear ? UBYTE(key) : o[2];
        }
    }
    self->rgb = rgb;
    self->keyed = keyed;
    self->keyColour = key;
    self->rowBytes = rowBytes;
    return true;
}

// Draws the picture's part (srcX, srcY) at (x, y), w × h at most. A backdrop is opaque: nothing of what
// lies below may show through it.
void blit(BitMapInstance* self, RastPort* rp, LONG srcX, LONG srcY, LONG x, LONG y, LONG w, LONG h,
          bool backdrop) {
    w = std::min(w, shownWidth(self) - srcX);
    h = std::min(h, shownHeight(self) - srcY);
    if (w <= 0 || h <= 0) return;
    if (const Tal_BuiltInPicture* p = self->builtIn) {
        if (backdrop) {
            const ULONG pen = rp->FgPen;
            EraseRect(rp, x, y, x + w - 1, y + h - 1);
            SetAPen(rp, pen);
        }
        host_WritePixelArrayKeyed(p->pixels, srcX, srcY, p->bytesPerRow, rp, x, y, w, h,
                                  TAL_BUILTIN_KEY_COLOUR);
        return;
    }
    if (!buildRows(self)) return;
    if (!backdrop && (self->colour0 || self->mask) && self->keyed)
        host_WritePixelArrayKeyed(self->keyed, srcX, srcY, self->rowBytes, rp, x, y, w, h, self->keyColour);
    else
        WritePixelArray(self->rgb, srcX, srcY, self->rowBytes, rp, x, y, w, h, RECTFMT_BGR);
}

// A greyed picture (on a button that cannot act) shows the background through every other pixel.
void veil(RastPort* rp, const Tal_Box* b) {
    const ULONG pen = rp->FgPen;
    const ULONG mode = GetDrMd(rp);
    SetABPenDrMd(rp, 0, rp->BgPen, JAM1);
    for (LONG y = b->y; y < b->y + b->height; y++)
        for (LONG x = b->x + ((y - b->y) & 1); x < b->x + b->width; x += 2) WritePixel(rp, x, y);
    SetABPenDrMd(rp, pen, rp->BgPen, mode);
}

void draw(BitMapInstance* self) {
    const ULONG me = self->header.handle;
    const Tal_Box* b = self->box;
    if (b->width <= 0 || b->height <= 0) return;
    Tal_DrawInfo* di = Tal_LockDrawInfo(me);
    if (!di) return;
    RastPort* rp = di->rastPort;
    {
        std::lock_guard guard(self->lock);
        if (self->pressed) {
            // Pressed (a chosen tab, a held button): the picture on the highlight colour.
            const Tal_RootInstance* root = Tal__GetRootInstance(me);
            const ULONG colour =
                root && root->colour3 != TAL_NO_COLOUR ? root->colour3 : Tal_GetGlobalData()->highlightColour;
            FillPixelArray(rp, b->x, b->y, b->width, b->height, colour & 0x00FFFFFF);
        } else if (self->builtIn && !self->colour0) {
            const ULONG pen = rp->FgPen;
            EraseRect(rp, b->x, b->y, b->x + b->width - 1, b->y + b->height - 1);
            SetAPen(rp, pen);
        } else {
            // What shows through the clear pixels: the background of whatever holds the picture (a
            // button's face, a panel's colour), never what was drawn there before.
            Tal_EraseObjectBackground(me, di);
        }
        blit(self, rp, std::max<LONG>(self->offsetX, 0), std::max<LONG>(self->offsetY, 0), b->x, b->y,
             b->width, b->height, false);
    }
    if (Tal_DoMethod(me, TAL_IsDisabled)) veil(rp, b);
    Tal_UnlockDrawInfo(me);
}

// The picture repeated over (x, y, w, h); (ox, oy) is the rectangle's place in the object it is the
// backdrop of, so that partial redraws line up.
void drawBackdrop(BitMapInstance* self, Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h, LONG ox, LONG oy) {
    if (!di || !di->rastPort || w <= 0 || h <= 0) return;
    std::lock_guard guard(self->lock);
    const LONG pw = shownWidth(self), ph = shownHeight(self);
    if (pw <= 0 || ph <= 0) return;
    auto wrap = [](LONG v, LONG n) { return ((v % n) + n) % n; };
    const LONG startX = wrap(ox + self->offsetX, pw);
    for (LONG cy = y, sy = wrap(oy + self->offsetY, ph); cy < y + h; sy = 0) {
        const LONG th = std::min(ph - sy, y + h - cy);
        for (LONG cx = x, sx = startX; cx < x + w; sx = 0) {
            const LONG tw = std::min(pw - sx, x + w - cx);
            blit(self, di->rastPort, sx, sy, cx, cy, tw, th, true);
            cx += tw;
        }
        cy += th;
    }
}

void redraw(BitMapInstance* self) {
    Tal_DoMethod(self->header.handle, TAL_DrawObject);
}

ULONG showBuiltIn(BitMapInstance* self, ULONG handle) {
    const Tal_BuiltInPicture* p = Tal__GetBuiltInPicture(handle);
    if (!p) return 0;
    {
        std::lock_guard guard(self->lock);
        dropPicture(self);
        self->builtIn = p;
        self->builtInWidth = p->width;
        self->builtInHeight = p->height;
        setText(self->fileName, p->name);
    }
    redraw(self);
    return 1;
}

bool readFile(const std::string& name, std::vector<UBYTE>& out) {
    FILE* f = Tal_OpenFile(name.c_str(), "rb");
    if (!f) return false;
    long size = std::fseek(f, 0, SEEK_END) == 0 ? std::ftell(f) : -1;
    bool ok = size > 0 && size_t(size) <= kMaxFileSize && std::fseek(f, 0, SEEK_SET) == 0;
    if (ok) {
        out.resize(size_t(size));
        ok = std::fread(out.data(), 1, out.size(), f) == out.size();
    }
    std::fclose(f);
    return ok;
}

// A built-in picture when the name is one, else the ILBM file (also tried with ".iff" when the name has
// no extension). A picture that cannot be read leaves the shown one as it was.
ULONG load(BitMapInstance* self, const char* name) {
    if (!name || !*name) return 0;
    std::string wanted = Tal__PictureName(name);
    if (ULONG handle = Tal_FindBuiltInPicture(wanted.c_str())) return showBuiltIn(self, handle);
    std::vector<UBYTE> file;
    if (!readFile(wanted, file)) {
        if (std::strchr(FilePart(wanted.c_str()), '.') || !readFile(wanted + ".iff", file)) {
            KPrintF("BitMap: cannot read the picture \"%s\"\n", name);
            return 0;
        }
        wanted += ".iff";
    }
    Tal_InterfacePicture picture;
    if (!Tal__ReadInterfaceILBM(file.data(), file.size(), &picture)) {
        KPrintF("BitMap: \"%s\" is not an ILBM picture that can be shown\n", name);
        return 0;
    }
    char* copy = Tal_StrDup(wanted.c_str());
    if (!copy) {
        Tal__FreeInterfacePicture(&picture);
        return 0;
    }
    {
        std::lock_guard guard(self->lock);
        dropPicture(self);
        self->picture = picture.planes;
        self->owned = 1;
        self->pictureWidth = picture.width;
        self->pictureHeight = picture.height;
        std::memcpy(self->palette, picture.palette, sizeof self->palette);
        // A 48 × 48 picture shows all its colours, colour 0 as well.
        if (picture.width == 48 && picture.height == 48) self->colour0 = 0;
        Tal_FreeMem(self->fileName);
        self->fileName = copy;
    }
    redraw(self);
    return 1;
}

// The BitMap instance of an object (the object locked; release with Tal_UnlockObjectInstance).
BitMapInstance* lockBitMap(ULONG handle) {
    for (int step = 0; handle && step < 64; step++) {
        Tal_Object* o = Tal__LockObjectInstanceQuiet(handle);
        if (!o) return nullptr;
        if (o->objClass == &bitMapClass) return of(o);
        handle = o->superObject;
        Tal_UnlockObjectInstance(o);
    }
    return nullptr;
}

// Shows the other BitMap's picture. A file picture is copied, so that the other one may go first.
ULONG copyFrom(BitMapInstance* self, ULONG other) {
    BitMapInstance* src = lockBitMap(other);
    if (!src) return 0;
    if (src == self) {
        Tal_UnlockObjectInstance(src);
        return 1;
    }
    ULONG ok = 1;
    {
        std::scoped_lock guard(self->lock, src->lock);
        BitMap* copy = nullptr;
        if (!src->builtIn && src->picture) {
            const BitMap* from = src->picture;
            copy = AllocBitMap(ULONG(src->pictureWidth), ULONG(src->pictureHeight), from->Depth, 0);
            if (copy && from->Depth <= 8) {
                const size_t rowBytes = std::min(copy->BytesPerRow, from->BytesPerRow);
                for (UBYTE k = 0; k < from->Depth; k++)
                    for (LONG y = 0; y < src->pictureHeight; y++)
                        std::memcpy(copy->Planes[k] + size_t(y) * copy->BytesPerRow,
                                    from->Planes[k] + size_t(y) * from->BytesPerRow, rowBytes);
            }
            ok = copy != nullptr;
        }
        if (ok) {
            dropPicture(self);
            self->builtIn = src->builtIn;
            self->builtInWidth = src->builtInWidth;
            self->builtInHeight = src->builtInHeight;
            self->picture = copy;
            self->owned = copy != nullptr;
            self->pictureWidth = src->pictureWidth;
            self->pictureHeight = src->pictureHeight;
            std::memcpy(self->palette, src->palette, sizeof self->palette);
            setText(self->fileName, src->fileName);
        }
    }
    Tal_UnlockObjectInstance(src);
    if (ok) redraw(self);
    return ok;
}

ULONG setPlanar(BitMapInstance* self, BitMap* bitmap) {
    {
        std::lock_guard guard(self->lock);
        dropPicture(self);
        self->picture = bitmap;
        if (bitmap) {
            self->pictureWidth = LONG(GetBitMapAttr(bitmap, BMA_WIDTH));
            self->pictureHeight = LONG(GetBitMapAttr(bitmap, BMA_HEIGHT));
        }
    }
    redraw(self);
    return 1;
}

// Shows a true-colour picture: a copy of its rows (blue, green, red).
ULONG setRows(BitMapInstance* self, LONG width, LONG height, const UBYTE* bgr, LONG bytesPerRow) {
    if (width < 1 || height < 1 || width > 32767 || height > 32767 || !bgr || bytesPerRow < width * 3)
        return 0;
    const LONG rowBytes = (width * 3 + 3) & ~3;
    auto* rows = static_cast<UBYTE*>(Tal_AllocMemClear(size_t(rowBytes) * size_t(height)));
    if (!rows) return 0;
    for (LONG y = 0; y < height; y++)
        std::memcpy(rows + size_t(y) * size_t(rowBytes), bgr + size_t(y) * size_t(bytesPerRow),
                    size_t(width) * 3);
    {
        std::lock_guard guard(self->lock);
        dropPicture(self);
        self->rgb = rows;
        self->rowBytes = rowBytes;
        self->pictureWidth = width;
        self->pictureHeight = height;
        self->colour0 = 0;
        setText(self->fileName, nullptr);
    }
    redraw(self);
    return 1;
}

void limits(BitMapInstance* self) {
    std::lock_guard guard(self->lock);
    Tal_Box* b = self->box;
    const LONG w = self->width > 0 ? self->width : shownWidth(self);
    const LONG h = self->height > 0 ? self->height : shownHeight(self);
    b->width = b->minWidth = b->maxWidth = WORD(std::min<LONG>(w, 32767));
    b->height = b->minHeight = b->maxHeight = WORD(std::min<LONG>(h, 32767));
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
// The picture file is the one attribute stored with a BitMap: restoring it shows the same picture.
const Tal_MethodEntry bitMapMethods[] = {
    ENTRY(TAL_LoadBitMap, "Tal_SetBitMapFile", TAL_METHOD_SETTER, TAL_GetBitMapFile, "%s", nullptr),
    ENTRY(TAL_GetBitMapFile, "Tal_GetBitMapFile", TAL_METHOD_GETTER, TAL_LoadBitMap, nullptr, "%s"),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

ULONG Tal__ReadInterfaceILBM(const UBYTE* data, size_t size, Tal_InterfacePicture* picture) {
    if (!picture) return 0;
    std::memset(picture, 0, sizeof *picture);
    if (!data || size < 12 || !chunkIs(data, "FORM") || !chunkIs(data + 8, "ILBM")) return 0;
    // The FORM may claim less than the file holds (trailing bytes are not part of it), never more.
    size_t end = size;
    const size_t formEnd = size_t(be32(data + 4)) + 8;
    if (formEnd >= 12 && formEnd < end) end = formEnd;

    Header h{};
    const UBYTE* cmap = nullptr;
    size_t cmapLength = 0;
    BitMap* planes = nullptr;
    for (size_t pos = 12; end - pos >= 8;) {
        const UBYTE* id = data + pos;
        const size_t length = be32(data + pos + 4);
        pos += 8;
        if (length > end - pos) { // a chunk that runs past the file
            FreeBitMap(planes);
            return 0;
        }
        const UBYTE* chunk = data + pos;
        if (chunkIs(id, "BMHD") && !planes) {
            if (length < 20) return 0;
            h = {be16(chunk), be16(chunk + 2), chunk[8], chunk[9], chunk[10], true};
        } else if (chunkIs(id, "CMAP")) {
            cmap = chunk;
            cmapLength = length;
        } else if (chunkIs(id, "BODY") && !planes) {
            if (!h.seen) return 0;
            planes = readBody(h, chunk, length);
            if (!planes) return 0;
        }
        // The pad byte after an odd length; a file may end without it.
        pos += length;
        pos += std::min<size_t>(length & 1, end - pos);
    }
    if (!planes) return 0;

    picture->planes = planes;
    picture->width = h.width;
    picture->height = h.height;
    picture->depth = h.planes;
    if (cmap) {
        picture->colours = ULONG(std::min<size_t>({cmapLength / 3, size_t(1) << h.planes, 256}));
        std::memcpy(picture->palette, cmap, size_t(picture->colours) * 3);
    } else {
        greyRamp(picture->palette, h.planes);
    }
    return 1;
}

void Tal__FreeInterfacePicture(Tal_InterfacePicture* picture) {
    if (!picture) return;
    FreeBitMap(picture->planes);
    picture->planes = nullptr;
}

void* Tal_NewBitMapClass(const TagItem*) {
    auto* self = of(Tal_AllocObjectMem(&bitMapClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("Root");
    if (!self->header.superObject) {
        Tal_FreeObjectMem(self);
        return nullptr;
    }
    new (&self->lock) std::mutex;
    self->box = reinterpret_cast<Tal_Box*>(Tal_DoMethod(self->header.superObject, TAL_GetBox));
    self->colour0 = 1;
    greyRamp(self->palette, 8);
    return self;
}

void Tal_DisposeBitMapClass(void* instance) {
    auto* self = of(instance);
    dropPicture(self);
    Tal_FreeMem(self->fileName);
    Tal_FreeMem(self->toolBarName);
    self->lock.~mutex();
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word Tal_DoBitMapClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = of(instance);
    auto number = [&] { return LONG(int32_t(uint32_t(args[0]))); };
    auto setNumber = [&](LONG& field) {
        std::lock_guard guard(self->lock);
        field = number();
        return Tal_Word(1);
    };
    switch (id) {
    case TAL_LoadBitMap:
    case TAL_LoadBitMapAlias:
        return load(self, reinterpret_cast<const char*>(args[0]));
    case TAL_GetBitMapFile:
        return reinterpret_cast<Tal_Word>(self->fileName);
    case TAL_SetToolBarName: {
        const char* name = reinterpret_cast<const char*>(args[0]);
        if (!name || !*name) return 0;
        setText(self->toolBarName, name);
        return load(self, ("Tal_Images:ToolBar/" + std::string(name)).c_str());
    }
    case TAL_GetToolBarName:
        return reinterpret_cast<Tal_Word>(self->toolBarName);
    case TAL_SetBitMapPicture:
    case TAL_SetBitMapPictureAlias:
        return setPlanar(self, reinterpret_cast<BitMap*>(args[0]));
    case TAL_SetBitMapRows:
        return setRows(self, LONG(args[0]), LONG(args[1]), reinterpret_cast<const UBYTE*>(args[2]),
                       LONG(args[3]));
    case TAL_GetBitMapPicture:
    case TAL_GetBitMapPictureAlias:
        return reinterpret_cast<Tal_Word>(self->picture);
    case TAL_SetBitMapMask: {
        std::lock_guard guard(self->lock);
        self->mask = reinterpret_cast<BitMap*>(args[0]);
        if (self->picture) dropRows(self); // true-colour rows have nothing to be built again from
        return 1;
    }
    case TAL_GetBitMapMask:
        return reinterpret_cast<Tal_Word>(self->mask);
    case TAL_SetBitMapOffsetX:
        return setNumber(self->offsetX);
    case TAL_SetBitMapOffsetY:
        return setNumber(self->offsetY);
    case TAL_SetBitMapWidth:
    case TAL_SetBitMapFixedWidth:
        return setNumber(self->width);
    case TAL_SetBitMapHeight:
    case TAL_SetBitMapFixedHeight:
        return setNumber(self->height);
    case TAL_SetBitMapColour0: {
        std::lock_guard guard(self->lock);
        self->colour0 = args[0] ? 1 : 0;
        if (self->picture) dropRows(self);
        return 1;
    }
    case TAL_CopyBitMap:
        return copyFrom(self, ULONG(args[0]));
    case TAL_SetBuiltInPicture:
        return showBuiltIn(self, ULONG(args[0]));
    case TAL_DrawBackdrop:
        drawBackdrop(self, reinterpret_cast<Tal_DrawInfo*>(args[0]), LONG(args[1]), LONG(args[2]),
                     LONG(args[3]), LONG(args[4]), LONG(args[5]), LONG(args[6]));
        return 1;
    case TAL_AskMinMax:
        limits(self);
        return 1;
    case TAL_DrawObject:
        draw(self);
        return 1;
    case TAL_Pressed:
    case TAL_Released: {
        const UBYTE pressed = id == TAL_Pressed;
        const bool changed = self->pressed != pressed;
        self->pressed = pressed;
        if (changed) redraw(self);
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

ULONG Tal_InitBitMapClass() {
    return Tal__SetupClass(&bitMapClass, "BitMap", 0x00080000, "Root", Tal_NewBitMapClass,
                           Tal_DisposeBitMapClass, Tal_DoBitMapClassMethod, bitMapMethods,
                           sizeof(BitMapInstance));
}

void Tal_CleanupBitMapClass() {
    Tal__CleanupClass(&bitMapClass);
}
