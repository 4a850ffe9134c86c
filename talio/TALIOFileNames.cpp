// File names and formats: the saver a file name asks for, and the pictures of the file requester: which
// files it lists (those a loader of the library answers to by their extension), thumbnails made from
// picture files through the quiet reduced preview load, and the thumbnails of its database, kept as JPEG
// files.
#include "talio/talio.h"
#include "ui/FileRequester.h"
#include "host/dos.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace {

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The extension of a name's last part ("" for none, or a leading dot only), in lower case.
std::string extensionOf(const char* name) {
    const char* file = name ? FilePart(name) : nullptr;
    const char* dot = file ? std::strrchr(file, '.') : nullptr;
    return dot && dot != file && dot[1] ? lower(dot + 1) : std::string();
}

// Whether a format word or its class's extension is the extension.
bool formatAnswers(const char* word, const std::string& extension) {
    if (!word || extension.empty()) return false;
    if (lower(word) == extension) return true;
    const ULONG object = Tal_CreateObject((std::string(word) + "TALIO").c_str());
    const char* own =
        object ? reinterpret_cast<const char*>(Tal_DoMethod(object, TALIO_GetExtension)) : nullptr;
    const bool match = own && lower(own) == extension;
    Tal_DisposeObject(object);
    return match;
}

// A name is listed when its extension is a loader's word ("png", "jpeg") or the extension of the loader's
// class ("jpg", "tga"): every format the library can load, without a list of its own.
bool isPictureName(const char* name) {
    const char* dot = name ? std::strrchr(name, '.') : nullptr;
    if (!dot || dot == name || !dot[1]) return false;
    const std::string extension = lower(dot + 1);
    TALIO_GlobalData* global = TALIO_GetGlobalData();
    if (!global) return false;
    for (Node* node : ListNodes<Node>(&global->loaders)) {
        if (!node->ln_Name) continue;
        if (lower(node->ln_Name) == extension) return true;
        const std::string className = std::string(node->ln_Name) + "TALIO";
        const ULONG loader = Tal_CreateObject(className.c_str());
        const char* own =
            loader ? reinterpret_cast<const char*>(Tal_DoMethod(loader, TALIO_GetExtension)) : nullptr;
        const bool match = own && lower(own) == extension;
        Tal_DisposeObject(loader);
        if (match) return true;
    }
    return false;
}

// Averages the source pixels over each target pixel's share of the picture.
void shrink(const UBYTE* src, LONG sw, LONG sh, UBYTE* dst, LONG dw, LONG dh) {
    std::vector<ULONG> sums(size_t(dw) * 3);
    std::vector<LONG> x0(size_t(dw) + 1);
    for (LONG x = 0; x <= dw; x++) x0[size_t(x)] = LONG(int64_t(x) * sw / dw);
    for (LONG y = 0; y < dh; y++) {
        const LONG ya = LONG(int64_t(y) * sh / dh),
                   yb = std::max<LONG>(LONG(int64_t(y + 1) * sh / dh), ya + 1);
        std::fill(sums.begin(), sums.end(), 0);
        for (LONG sy = ya; sy < yb; sy++) {
            const UBYTE* row = src + size_t(sy) * size_t(sw) * 3;
            for (LONG x = 0; x < dw; x++) {
                const LONG xb = std::max(x0[size_t(x) + 1], x0[size_t(x)] + 1);
                ULONG* s = &sums[size_t(x) * 3];
                for (LONG sx = x0[size_t(x)]; sx < xb; sx++) {
                    s[0] += row[sx * 3];
                    s[1] += row[sx * 3 + 1];
                    s[2] += row[sx * 3 + 2];
                }
            }
        }
        for (LONG x = 0; x < dw; x++) {
            const ULONG count =
                ULONG(yb - ya) * ULONG(std::max(x0[size_t(x) + 1], x0[size_t(x)] + 1) - x0[size_t(x)]);
            for (int c = 0; c < 3; c++)
                dst[(size_t(y) * size_t(dw) + size_t(x)) * 3 + size_t(c)] =
                    UBYTE((sums[size_t(x) * 3 + size_t(c)] + count / 2) / count);
        }
    }
}

// The pixels of a loaded buffer as blue, green, red rows of its width.
bool bgrOf(const TALIO_ImageBuffer* buffer, std::vector<UBYTE>& out) {
    out.assign(size_t(buffer->width) * buffer->height * 3, 0);
    return TALIO_GetBufferData(buffer, 0, 0, buffer->width, buffer->height, buffer->width * 3,
                               TALIO_PIXEL_BGR, out.data()) != 0;
}

ULONG makeThumbnail(const char* path, LONG boxWidth, LONG boxHeight, Tal_Thumbnail* out) {
    *out = Tal_Thumbnail{};
    ULONG error = 0, fullWidth = 0, fullHeight = 0;
    const auto tags = Tal_MakeTags(TALIO_TAG_FullWidth, &fullWidth, TALIO_TAG_FullHeight, &fullHeight);
    TALIO_ImageBuffer* buffer =
        TALIO_AutoLoadBufferA(path, TALIO_LOAD_QUIET | TALIO_LOAD_PREVIEW, &error, tags.data());
    if (!buffer) return error ? error : TALIO_ERR_OPEN;
    if (!fullWidth || !fullHeight) {
        fullWidth = buffer->width;
        fullHeight = buffer->height;
    }
    std::vector<UBYTE> pixels;
    LONG w = 0, h = 0;
    Tal_FitThumbnail(fullWidth, fullHeight, boxWidth, boxHeight, &w, &h);
    // A preview smaller than the thumbnail (a tiny picture) is shown at its own size.
    w = std::min<LONG>(w, LONG(buffer->width));
    h = std::min<LONG>(h, LONG(buffer->height));
    const bool ok = bgrOf(buffer, pixels);
    const LONG sw = LONG(buffer->width), sh = LONG(buffer->height);
    TALIO_FreeBuffer(buffer);
    if (!ok) return TALIO_ERR_DAMAGED;
    auto* bgr = static_cast<UBYTE*>(Tal_AllocMem(size_t(w) * size_t(h) * 3));
    if (!bgr) return TALIO_ERR_MEMORY;
    shrink(pixels.data(), sw, sh, bgr, w, h);
    *out = {w, h, fullWidth, fullHeight, bgr};
    return TALIO_OK;
}

ULONG loadThumbnail(const char* path, Tal_Thumbnail* out) {
    *out = Tal_Thumbnail{};
    ULONG error = 0;
    TALIO_ImageBuffer* buffer = TALIO_AutoLoadBufferA(path, TALIO_LOAD_QUIET, &error, nullptr);
    if (!buffer) return 0;
    std::vector<UBYTE> pixels;
    const bool ok = buffer->width <= 256 && buffer->height <= 256 && bgrOf(buffer, pixels);
    const LONG w = LONG(buffer->width), h = LONG(buffer->height);
    TALIO_FreeBuffer(buffer);
    auto* bgr = ok ? static_cast<UBYTE*>(Tal_AllocMem(pixels.size())) : nullptr;
    if (!bgr) return 0;
    std::memcpy(bgr, pixels.data(), pixels.size());
    *out = {w, h, 0, 0, bgr};
    return 1;
}

ULONG saveThumbnail(const char* path, const Tal_Thumbnail* t) {
    if (!t || !t->bgr || t->width < 1 || t->height < 1) return 0;
    TALIO_ImageBuffer* buffer =
        TALIO__AllocBufferQuiet(ULONG(t->width), ULONG(t->height), 24, TALIO_FORMAT_RGBPLANES);
    auto* header = static_cast<TALIO_Header*>(Tal_AllocMemClear(sizeof(TALIO_Header)));
    if (!buffer || !header) {
        Tal_FreeMem(header);
        TALIO_FreeBuffer(buffer);
        return 0;
    }
    buffer->header = header;
    header->buffer = buffer;
    header->truecolour_format = TALIO_FORMAT_RGBPLANES;
    header->grey_format = TALIO_FORMAT_GREY8;
    header->mapped_format = TALIO_FORMAT_RGBPLANES;
    const ULONG quiet = TALIO_SAVE_QUIET;
    const bool ok = TALIO_SetBufferData(buffer, 0, 0, ULONG(t->width), ULONG(t->height), ULONG(t->width) * 3,
                                        TALIO_PIXEL_BGR, t->bgr) &&
                    TALIO_SaveBufferA(header, path, "JPEG", 0, &quiet) == TALIO_OK;
    TALIO_FreeBuffer(buffer);
    return ok ? 1 : 0;
}

constexpr Tal_PictureServices kServices = {isPictureName, makeThumbnail, loadThumbnail, saveThumbnail};

} // namespace

ULONG TALIO__SaverForFileName(const char* name, char* word, size_t size) {
    const std::string extension = extensionOf(name);
    TALIO_GlobalData* global = TALIO_GetGlobalData();
    if (extension.empty() || !global || !word || !size) return 0;
    static constexpr std::pair<const char*, const char*> kindNames[] = {{"lbm", "ILBM"}, {"deep", "IFFDEEP"}};
    std::string found;
    for (const auto& [kind, w] : kindNames)
        if (extension == kind) found = w;
    for (Node* node : ListNodes<Node>(&global->savers)) {
        if (!found.empty()) break;
        if (formatAnswers(node->ln_Name, extension)) found = node->ln_Name;
    }
    if (found.empty() || found.size() >= size) return 0;
    std::memcpy(word, found.c_str(), found.size() + 1);
    return 1;
}

void TALIO__InstallPictureServices(bool install) {
    Tal_SetPictureServices(install ? &kServices : nullptr);
}
