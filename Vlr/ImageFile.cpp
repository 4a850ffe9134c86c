// Loading and saving images through the image-file library: adoption of a loaded buffer's planes, layers
// built from its layers, saving the composed picture with the format fall-back, the extension fix-up and
// backups made only once the new file is whole.
#include "Vlr/ImageFile.h"

#include "Tal/Catalogue.h"
#include "ui/ui.h"
#include "host/dos.h"
#include "talio/talio.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <utility>

#include <sys/stat.h>
#include <unistd.h>

const char* const TAL_PATH_TOO_LONG_TEXT = "The file name is too long.";

namespace {

std::atomic<LONG> createBackups{0};

// Where the load and save file requesters start: a folder and a name each (the preferences keep the
// folders between runs), and whether a folder chosen for one is taken for the other too.
struct RequesterPlaces {
    std::mutex lock;
    std::string folder[2], name[2]; // [0] load, [1] save
    std::atomic<LONG> samePath{0};
};
RequesterPlaces places;
constexpr int kLoad = 0, kSave = 1;
constexpr ULONG kLoadTitle = 25, kSaveTitle = 26, kNoNameText = 346;

constexpr ULONG kFileErrorTitle = 38;
constexpr const char* kOutOfMemoryText = "Sorry, out of memory.";
// Rows the working planes of a 24-bit image have below the picture (scratch and spare rows).
constexpr ULONG kWorkingSpareRows = 2;

ULONG handleOf(const Tal_Image* image) {
    return image ? image->header.handle : 0;
}

// Where a failure goes: the tags the caller gave (error number and text), and a message box unless quiet,
// naming the file when there is one.
struct Outcome {
    const TagItem* tags;
    bool quiet;
    const char* file = nullptr;

    void set(ULONG error, const char* text) const {
        if (auto* out = reinterpret_cast<ULONG*>(GetTagData(TALIO_TAG_Error, 0, tags))) *out = error;
        if (auto* out = reinterpret_cast<const char**>(GetTagData(TAL_TAG_FileErrorText, 0, tags)))
            *out = text;
    }
    // A failure the library has reported (shown already unless quiet).
    ULONG library(ULONG error, bool saving) const {
        const bool cancelled = error == TALIO_ERR_CANCELLED;
        set(error, cancelled ? nullptr : saving ? TALIO_SaveErrorText(error) : TALIO_ErrorText(error));
        return 0;
    }
    // A failure of this part: said here.
    ULONG own(ULONG error, const char* title, const char* text) const {
        set(error, text);
        if (!quiet && file)
            TALIO_FileErrorRequest(title, file, text);
        else if (!quiet)
            Tal_MessageBoxA(title, text, 1);
        return 0;
    }
    // An error number of the library's table that this part found itself.
    ULONG own(ULONG error, bool saving) const {
        return own(error, Tal_GetCatalogueText(kFileErrorTitle),
                   saving ? TALIO_SaveErrorText(error) : TALIO_ErrorText(error));
    }
    ULONG outOfMemory() const { return own(TALIO_ERR_MEMORY, "Error", kOutOfMemoryText); }
    ULONG pathTooLong() const {
        return own(TALIO_ERR_OPEN, Tal_GetCatalogueText(kFileErrorTitle), TAL_PATH_TOO_LONG_TEXT);
    }
    ULONG ok() const {
        set(TALIO_OK, nullptr);
        return 1;
    }
};

// The library is kept open for the length of one operation.
struct LibraryUse {
    TALIO_GlobalData* global = TALIO_Init(Tal_GetGlobalData());
    ~LibraryUse() { TALIO_Cleanup(global); }
};

// A buffer in format 1: the buffer itself, or a converted copy owned by this record.
struct RgbPlanes {
    TALIO_ImageBuffer* buffer = nullptr;
    TALIO_ImageBuffer* converted = nullptr;
    explicit RgbPlanes(TALIO_ImageBuffer* source) {
        if (source && source->format == TALIO_FORMAT_RGBPLANES) {
            buffer = source;
        } else if (source) {
            converted = TALIO_ConvertBufferFormat(source, TALIO_FORMAT_RGBPLANES);
            buffer = converted;
        }
    }
    ~RgbPlanes() { TALIO_FreeBuffer(converted); }
    bool usable() const {
        return buffer && buffer->red_plane && buffer->green_plane && buffer->blue_plane &&
               buffer->width >= 1 && buffer->height >= 1 && !TALIO_TooLarge(buffer->width, buffer->height);
    }
};

// Allocates the image around the buffer's planes: they become its base planes (the buffer lets go of
// them), and the working planes start as their copy: the one the loader made as it went, when it could
// (the fresh planes of the allocation, never touched, go with the buffer), else a copy made here.
bool adoptPlanes(Tal_Image* image, TALIO_ImageBuffer* source, ULONG allocFlags) {
    RgbPlanes rgb(source);
    if (!rgb.usable()) return false;
    TALIO_ImageBuffer* b = rgb.buffer;
    if (!Tal_AllocImage(image, LONG(b->width), LONG(b->height), 24, allocFlags | TAL_ALLOC_NO_BASE))
        return false;
    image->base_red = b->red_plane;
    image->base_green = b->green_plane;
    image->base_blue = b->blue_plane;
    b->red_plane = b->green_plane = b->blue_plane = nullptr;
    b->red = b->green = b->blue = nullptr;
    if (b->red_copy && b->green_copy && b->blue_copy) {
        std::swap(image->red, b->red_copy);
        std::swap(image->green, b->green_copy);
        std::swap(image->blue, b->blue_copy);
        Tal__SetImageScratchRows(image);
    } else {
        Tal_CopyUndoToImageData(image, 0, 0, image->width - 1, image->height - 1, 0, 0);
    }
    return true;
}

// An attached picture of a buffer layer as a listed image with a paint layer.
Tal_Image* attachedImage(TALIO_ImageBuffer* source) {
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    if (!image) return nullptr;
    if (!adoptPlanes(image, source, 0)) {
        Tal_DisposeObject(handleOf(image));
        return nullptr;
    }
    Tal_DoImageMethod(image, TAL_AddToImageList);
    Tal_DoImageMethod(image, TAL_NewLayer, TAL_PAINT_LAYER, 8, image->width, image->height);
    image->modified_count = 0;
    return image;
}

UWORD wordAt(const UBYTE* block, size_t offset) {
    UWORD v;
    std::memcpy(&v, block + offset, sizeof v);
    return v;
}

// The optional properties a loader gave a buffer layer, applied to the layer made from it.
void applyLayerProperties(Tal_Image* layer, TALIO_ImageBuffer* source) {
    const LONG w = std::min<LONG>(layer->width, LONG(source->width));
    const LONG h = std::min<LONG>(layer->height, LONG(source->height));
    if (layer->kind == TAL_PAINT_LAYER && layer->depth == 8 && layer->grey)
        for (LONG y = 0; y < h; y++)
            TALIO_GetBufferData(source, 0, ULONG(y), ULONG(w), 1, ULONG(w), TALIO_PIXEL_INDEX,
                                layer->grey[y]);
    Tal_ModifiedLayer(layer, 0, 0, layer->width - 1, layer->height - 1);

    if (source->has_layer_colour) {
        const UBYTE colour[3] = {source->layer_colour_red, UBYTE(source->layer_colour_green_blue & 0xFF),
                                 UBYTE(source->layer_colour_green_blue >> 8)};
        std::memcpy(layer->layer_colour, colour, 3);
        std::memcpy(layer->pending_colour, colour, 3);
    }
    if (source->has_mode_object && source->mode_object) {
        auto* instance = static_cast<Tal_Object*>(Tal_GetObjectInstance(source->mode_object));
        std::string name =
            instance && instance->objClass && instance->objClass->name ? instance->objClass->name : "";
        if (const size_t cut = name.find("Mode"); cut != std::string::npos) name.resize(cut);
        // The loaded state is the layer's own: the mode takes effect at once.
        if (!name.empty() && Tal_SelectLayerMode(layer, name.c_str()) && layer->pending_mode) {
            Tal_CopyObjectToObject(layer->pending_mode, source->mode_object);
            Tal_DoLayerDoesntNeedsFixing(layer);
        }
        Tal_DisposeObject(source->mode_object);
        source->mode_object = 0;
        source->has_mode_object = 0;
    }
    if (source->has_placement && source->placement) {
        const UBYTE* p = source->placement;
        WORD* groups[3][6] = {{&layer->layer_x, &layer->layer_y, &layer->layer_w, &layer->layer_h,
                               &layer->orig_w, &layer->orig_h},
                              {&layer->source_x, &layer->source_y, &layer->source_w, &layer->source_h,
                               &layer->source_full_w, &layer->source_full_h},
                              {&layer->mask_x, &layer->mask_y, &layer->mask_w, &layer->mask_h,
                               &layer->mask_full_w, &layer->mask_full_h}};
        for (size_t g = 0; g < 3; g++)
            for (size_t i = 0; i < 6; i++) *groups[g][i] = WORD(wordAt(p, 4 + 12 * g + 2 * i));
    }
    if (source->has_effect_settings) {
        UWORD* fields[10] = {&layer->opacity,        &layer->red_strength, &layer->green_strength,
                             &layer->blue_strength,  &layer->hue_strength, &layer->saturation_strength,
                             &layer->value_strength, &layer->highlights,   &layer->midtones,
                             &layer->shadows};
        for (size_t i = 0; i < 10; i++) *fields[i] = source->effect_values[i];
        layer->fade_shape = LONG(source->fade_values[0]);
        layer->fade_size = LONG(source->fade_values[1]);
        layer->fade_softness = LONG(source->fade_values[2]);
        layer->fade_invert = LONG(source->fade_values[3]);
        layer->tone_table_dirty = 1;
    }
}

// A floating image takes the buffer layer's picture (premultiplied by its alpha unless the file keeps it
// so already) into both its planes.
bool fillFloatingImage(Tal_Image* layer, TALIO_ImageBuffer* source, bool premultiplied) {
    RgbPlanes rgb(source);
    if (!rgb.buffer || !rgb.buffer->red || !layer->red) return false;
    const TALIO_ImageBuffer* b = rgb.buffer;
    const LONG w = std::min<LONG>(layer->width, LONG(b->width));
    const LONG h = std::min<LONG>(layer->height, LONG(b->height));
    for (LONG y = 0; y < h; y++) {
        const size_t at = size_t(y) * b->bytes_per_row;
        std::memcpy(layer->red[y], b->red + at, size_t(w));
        std::memcpy(layer->green[y], b->green + at, size_t(w));
        std::memcpy(layer->blue[y], b->blue + at, size_t(w));
    }
    Tal_Image* alpha = layer->alpha_child;
    if (source->alpha && alpha && alpha->grey) {
        for (LONG y = 0; y < h; y++)
            TALIO_GetBufferData(source->alpha, 0, ULONG(y), ULONG(w), 1, ULONG(w), TALIO_PIXEL_INDEX,
                                alpha->grey[y]);
        if (!premultiplied) Tal_MultiplyImageByImage(layer, 0, 0, alpha, 0, 0, w, h);
    }
    Tal_CopyImageToUndoData(layer, 0, 0, layer->width - 1, layer->height - 1, 0, 0);
    return true;
}

// One layer of the image from one buffer layer, with its attached pictures.
bool buildLayer(Tal_Image* image, TALIO_ImageBuffer* source) {
    const LONG kind = source->depth == 24 ? TAL_FLOATING_IMAGE : TAL_PAINT_LAYER;
    auto* layer = reinterpret_cast<Tal_Image*>(
        Tal_DoImageMethod(image, TAL_NewLayer, kind, 8, LONG(source->width), LONG(source->height)));
    if (!layer) return false;
    if (kind == TAL_FLOATING_IMAGE) {
        layer->process_enable--;
        applyLayerProperties(layer, source);
        const bool filled = fillFloatingImage(layer, source, std::strcmp(image->file_type, "PSD") == 0);
        layer->process_enable++;
        if (!filled) return false;
        auto* inner = reinterpret_cast<TALIO_ImageBuffer*>(source->layers.lh_Head);
        if (inner && inner->node.ln_Succ && first_layer(layer)) {
            applyLayerProperties(first_layer(layer), inner);
            Tal_FullProcessImage(layer);
        }
    } else {
        applyLayerProperties(layer, source);
    }
    if (source->mask) {
        Tal_Image* mask = attachedImage(source->mask);
        if (!mask) return false;
        Tal_DoImageMethod(layer, TAL_SetMaskImage, mask);
    }
    if (source->mask2) {
        Tal_Image* modeSource = attachedImage(source->mask2);
        if (!modeSource) return false;
        Tal_DoImageMethod(layer, TAL_SetModeSourceImage, modeSource);
    }
    return true;
}

bool buildLayers(Tal_Image* image, TALIO_ImageBuffer* buffer) {
    if (!buffer->layers.lh_Head) return true;
    image->process_enable--;
    bool ok = true;
    {
        Tal_LiveRedoOverride redo(1);
        for (Node* node = buffer->layers.lh_Head; ok && node->ln_Succ; node = node->ln_Succ)
            ok = buildLayer(image, reinterpret_cast<TALIO_ImageBuffer*>(node));
    }
    image->process_enable++;
    return ok;
}

// Makes the loaded buffer the image: planes, names, layers, picture information.
ULONG adoptBuffer(Tal_Image* image, TALIO_ImageBuffer* loaded, ULONG flags, const Outcome& outcome) {
    const TALIO_Header* header = loaded->header;
    const char* fileName = header && header->file_name ? header->file_name : "";
    const char* formatName = header ? header->format_name : "";
    if (strnlen(fileName, TAL_PATH_SIZE) >= TAL_PATH_SIZE) return outcome.pathTooLong();
    if (strnlen(formatName, TAL_NAME_FIELD) >= TAL_NAME_FIELD) return outcome.own(TALIO_ERR_UNKNOWN, false);
    const ULONG allocFlags = (flags & TAL_LOAD_ONLY) ? TAL_ALLOC_NO_THREAD : 0;
    if (TALIO_TooLarge(loaded->width, loaded->height)) return outcome.own(TALIO_ERR_TOO_LARGE, false);
    if (!adoptPlanes(image, loaded, allocFlags)) return outcome.outOfMemory();
    Tal__CopyField(image->file_path, sizeof image->file_path, fileName);
    Tal__CopyField(image->file_type, sizeof image->file_type, formatName);
    Tal__CopyField(image->format_name, sizeof image->format_name, formatName);

    if (!buildLayers(image, loaded)) return outcome.outOfMemory();
    if (image->current_layer) Tal_FullProcessImage(image);

    image->modified_count = 0;
    if (header) {
        Tal_FreeMem(image->info_record);
        image->info_record = header->extra;
        loaded->header->extra = nullptr;
    }
    return outcome.ok();
}

// ---------------------------------------------------------------------------------------------------
// Saving.

// A buffer that describes the image's working planes for a saver. It owns neither the planes nor the
// image's picture information; both are let go before the records are freed.
struct SaveDescription {
    TALIO_ImageBuffer* buffer = nullptr;
    TALIO_Header* header = nullptr;

    ~SaveDescription() {
        if (buffer) {
            if (header) header->extra = nullptr;
            buffer->red = buffer->green = buffer->blue = buffer->grey = nullptr;
            TALIO_FreeBuffer(buffer);
        } else {
            Tal_FreeMem(header);
        }
    }

    bool describe(Tal_Image* image) {
        buffer = static_cast<TALIO_ImageBuffer*>(Tal_AllocMemClear(sizeof(TALIO_ImageBuffer)));
        header = static_cast<TALIO_Header*>(Tal_AllocMemClear(sizeof(TALIO_Header)));
        if (!buffer || !header) return false;
        NewList(&buffer->layers);
        buffer->level = 255;
        buffer->header = header;
        header->buffer = buffer;
        header->truecolour_format = TALIO_FORMAT_RGBPLANES;
        header->grey_format = TALIO_FORMAT_GREY8;
        header->mapped_format = TALIO_FORMAT_RGBPLANES;
        header->extra = image->info_record;
        buffer->source_image = image;
        buffer->width = ULONG(image->width);
        buffer->height = ULONG(image->height);
        buffer->depth = ULONG(image->depth);
        buffer->bytes_per_row = ULONG(Tal_ImageDataStride(image->width, 8));
        if (image->depth == 24 && image->red && image->green && image->blue) {
            buffer->format = TALIO_FORMAT_RGBPLANES;
            buffer->red = image->red[0];
            buffer->green = image->green[0];
            buffer->blue = image->blue[0];
            return true;
        }
        if (image->depth == 8 && image->grey) {
            buffer->format = TALIO_FORMAT_GREY8;
            buffer->grey = image->grey[0];
            return true;
        }
        return false;
    }
};

// The image's shared lock, held while a saver reads its planes.
struct ReadLock {
    Tal_Image* image;
    bool held;
    explicit ReadLock(Tal_Image* i) : image(i), held(Tal_LockImageA(i, TAL_LOCK_READ, 0) != 0) {}
    ~ReadLock() {
        if (held) Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
    }
};

bool isSaver(const TALIO_GlobalData* global, const char* word) {
    if (!global || !word || !*word) return false;
    for (Node* node : ListNodes<Node>(const_cast<List*>(&global->savers)))
        if (node->ln_Name && std::strcmp(node->ln_Name, word) == 0) return true;
    return false;
}

ULONG kindOf(ULONG object) {
    return object ? ULONG(Tal_DoMethod(object, TALIO_GetKind)) : 0;
}

// Saves to the path through a temporary file beside it; only then does the old file become the backup
// and the new one take its place. An error number, with the old file (and old backup) untouched on any
// failure; `ownText` is the text of a failure found here (none when the library reported it).
ULONG saveWithBackup(TALIO_Header* header, const char* path, const char* word, ULONG stream, ULONG flags,
                     const char** ownText) {
    char host[PATH_MAX];
    if (!host_ResolvePath(path, 1, host, sizeof host))
        return TALIO_SaveBufferA(header, path, word, stream, &flags);
    std::string target = host;
    // A link stays a link: the file it names is the one saved and backed up.
    if (char* real = realpath(host, nullptr)) {
        target = real;
        std::free(real);
    }
    struct stat st;
    if (stat(target.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
        return TALIO_SaveBufferA(header, path, word, stream, &flags);
    char backup[PATH_MAX];
    const size_t slash = target.rfind('/');
    std::string temp = target.substr(0, slash + 1) + "." + target.substr(slash + 1) + ".XXXXXX";
    if (!Tal__BackupFileName(target.c_str(), backup, sizeof backup) || temp.size() >= PATH_MAX) {
        *ownText = TAL_PATH_TOO_LONG_TEXT;
        return TALIO_ERR_OPEN;
    }
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *ownText = TALIO_SaveErrorText(TALIO_ERR_OPEN);
        return TALIO_ERR_OPEN;
    }
    close(fd);
    const ULONG error = TALIO_SaveBufferA(header, temp.c_str(), word, stream, &flags);
    if (error != TALIO_OK) {
        unlink(temp.c_str());
        return error;
    }
    chmod(temp.c_str(), st.st_mode & 07777);
    *ownText = TALIO_SaveErrorText(TALIO_ERR_READ);
    const bool oldBackupGone = unlink(backup) == 0 || errno == ENOENT;
    if (!oldBackupGone || rename(target.c_str(), backup) != 0) {
        unlink(temp.c_str());
        return TALIO_ERR_READ;
    }
    if (rename(temp.c_str(), target.c_str()) != 0) {
        rename(backup, target.c_str());
        unlink(temp.c_str());
        return TALIO_ERR_READ;
    }
    *ownText = nullptr;
    return TALIO_OK;
}

} // namespace

// ---------------------------------------------------------------------------------------------------
// Settings and names.

void Tal__SetCreateBackups(LONG on) {
    createBackups = on ? 1 : 0;
}

LONG Tal__GetCreateBackups() {
    return createBackups.load();
}

ULONG Tal_AutoChangeFileExtension(const char* source, char* destination, size_t size, const char* format) {
    if (!source || !destination || size == 0) return 0;
    const std::string copy = source; // source and destination may be the same
    char className[TAL_NAME_FIELD];
    const int n = format ? std::snprintf(className, sizeof className, "%sTALIO", format) : -1;
    const ULONG object = n > 0 && size_t(n) < sizeof className ? Tal_CreateObject(className) : 0;
    const char* extension =
        object ? reinterpret_cast<const char*>(Tal_DoMethod(object, TALIO_GetExtension)) : nullptr;
    ULONG changed = 0;
    if (extension && *extension) {
        changed = TALIO__ReplaceExtension(destination, size, copy.c_str(), extension);
        if (!changed) destination[0] = 0;
    } else if (copy.size() < size) {
        std::memcpy(destination, copy.c_str(), copy.size() + 1);
    } else {
        destination[0] = 0;
    }
    Tal_DisposeObject(object);
    return changed;
}

ULONG Tal__BackupFileName(const char* path, char* destination, size_t size) {
    if (!path || !destination) return 0;
    const std::string source = path;
    const size_t part = size_t(FilePart(path) - path);
    // A leading "." names a hidden file; it is not where the extension starts.
    const size_t from = part + (source.size() > part && source[part] == '.' ? 1 : 0);
    const size_t dot = source.find('.', from);
    const std::string result =
        dot == std::string::npos ? source + ".bak" : source.substr(0, dot) + ".bak" + source.substr(dot);
    if (result.size() + 1 > size) return 0;
    std::memcpy(destination, result.c_str(), result.size() + 1);
    return 1;
}

// ---------------------------------------------------------------------------------------------------
// The file requesters.

void rememberPlace(int which, const char* folder, const char* name) {
    std::lock_guard guard(places.lock);
    places.folder[which] = folder;
    places.name[which] = name;
    if (places.samePath) places.folder[1 - which] = folder;
}

void placeOf(int which, char* folder, char* name) {
    std::lock_guard guard(places.lock);
    std::snprintf(folder, TAL_REQUESTER_PATH_SIZE, "%s", places.folder[which].c_str());
    std::snprintf(name, TAL_REQUESTER_PATH_SIZE, "%s", places.name[which].c_str());
}

// The requesters open beside the program's main window.
void* requesterParent() {
    Tal_ImageBase* base = Tal_GetImageBase();
    return base && base->main_window
               ? reinterpret_cast<void*>(Tal_DoMethod(base->main_window, TAL_GetDrawInfo))
               : nullptr;
}

// The folder and a name joined into `out` (a path buffer); false when it does not fit.
bool joinPath(const char* folder, const char* name, char* out, size_t size) {
    if (std::snprintf(out, size, "%s", folder) >= int(size)) return false;
    return AddPart(out, name, size) != 0;
}

// Loads every file chosen in the load file requester; the last image loaded, or none.
Tal_Image* loadChosen(ULONG flags, const TagItem* tags, const Outcome& outcome) {
    char folder[TAL_REQUESTER_PATH_SIZE], name[TAL_REQUESTER_PATH_SIZE];
    placeOf(kLoad, folder, name);
    ULONG kept = 0;
    const ULONG view = GetTagData(TAL_TAG_BrowseImages, 0, tags) ? TAL_REQUESTER_THUMBNAILS : 0;
    if (!Tal_FileRequest(Tal_GetCatalogueText(kLoadTitle), folder, name, requesterParent(), 0,
                         TAL_TAG_RequesterKeep, &kept, TAL_TAG_RequesterFlags, view)) {
        outcome.set(TALIO_ERR_CANCELLED, nullptr);
        return nullptr;
    }
    rememberPlace(kLoad, folder, name);
    Tal_Image* last = nullptr;
    for (const char* chosen = Tal_GetFirstFileRequestSelection(kept); chosen;
         chosen = Tal_GetNextFileRequestSelection(kept, chosen)) {
        char path[TAL_PATH_SIZE];
        if (!*chosen) continue;
        if (!joinPath(folder, chosen, path, sizeof path)) {
            outcome.pathTooLong();
            continue;
        }
        if (Tal_Image* image = Tal__LoadImageA(path, 0, 0, flags, tags)) last = image;
    }
    Tal_EndFileRequest(kept);
    return last;
}

// Asks for the file to save in `word`'s format: the path goes to `target`, and a name whose extension asks
// for another saver changes the format. False when nothing is to be saved (cancelled, or no name).
bool chooseSaveFile(const Tal_Image* image, std::string& word, std::string& target) {
    char folder[TAL_REQUESTER_PATH_SIZE], name[TAL_REQUESTER_PATH_SIZE];
    placeOf(kSave, folder, name);
    // The image's own name, with the format's extension; without a save folder yet, the image's folder.
    if (image->file_path[0]) {
        Tal_AutoChangeFileExtension(FilePart(image->file_path), name, sizeof name, word.c_str());
        const size_t length = size_t(PathPart(image->file_path) - image->file_path);
        if (!folder[0] && length < sizeof folder) {
            std::memcpy(folder, image->file_path, length);
            folder[length] = 0;
        }
    }
    if (!Tal_FileRequest(Tal_GetCatalogueText(kSaveTitle), folder, name, requesterParent(),
                         TAL_FILEREQUEST_SAVE))
        return false;
    if (!*name) {
        Tal_MessageBoxA("Velura", Tal_GetCatalogueText(kNoNameText), 1);
        return false;
    }
    char saver[TAL_NAME_FIELD];
    if (TALIO__SaverForFileName(name, saver, sizeof saver))
        word = saver;
    else
        Tal_AutoChangeFileExtension(name, name, sizeof name, word.c_str());
    rememberPlace(kSave, folder, name);
    char path[TAL_PATH_SIZE];
    if (!*name || !joinPath(folder, name, path, sizeof path)) return false;
    target = path;
    return true;
}

// ---------------------------------------------------------------------------------------------------
// Loading.

ULONG Tal___LoadImageA(Tal_Image* image, const char* path, Tal_Word, ULONG stream, ULONG flags,
                       const TagItem* tags) {
    const Outcome outcome{tags, (flags & TAL_LOAD_QUIET) != 0, path};
    if (!image || image->alloc_state.load() != 0) return outcome.own(TALIO_ERR_DAMAGED, false);
    LibraryUse library;
    if (!library.global) return outcome.outOfMemory();
    // The engine needs the pixels: an identify-only load is never asked of the library.
    const ULONG libraryFlags = flags & ~TALIO_LOAD_IDENTIFY;
    ULONG error = 0;
    TALIO_ImageBuffer* loaded = nullptr;
    // The working planes are wanted at once: a loader that can makes them while it loads.
    const auto loadTags =
        Tal_MakeTags(TALIO_TAG_WorkingCopy, kWorkingSpareRows, tags ? TAG_MORE : TAG_DONE, tags);
    if (stream && kindOf(stream) != TALIO_KIND_ILBM)
        loaded = TALIO_LoadBufferFromTALIOA(stream, libraryFlags, &error, loadTags.data());
    if (!loaded && path) loaded = TALIO_AutoLoadBufferA(path, libraryFlags, &error, loadTags.data());
    if (!loaded) return outcome.library(error ? error : TALIO_ERR_OPEN, false);
    const ULONG result = adoptBuffer(image, loaded, flags, outcome);
    TALIO_FreeBuffer(loaded);
    return result;
}

Tal_Image* Tal__LoadImageA(const char* path, Tal_Word reserved, ULONG stream, ULONG flags,
                           const TagItem* tags) {
    const Outcome outcome{tags, (flags & TAL_LOAD_QUIET) != 0};
    if (stream && kindOf(stream) == TALIO_KIND_ILBM) stream = 0;
    // Without either, the user chooses the files (none when quiet).
    if (!path && !stream) {
        if (!outcome.quiet) return loadChosen(flags, tags, outcome);
        outcome.set(0, nullptr);
        return nullptr;
    }
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    if (!image) {
        outcome.outOfMemory();
        return nullptr;
    }
    if (!Tal___LoadImageA(image, path, reserved, stream, flags, tags)) {
        Tal_DisposeObject(handleOf(image));
        return nullptr;
    }
    if (!(flags & TAL_LOAD_ONLY)) {
        Tal_DoImageMethod(image, TAL_AddToImageList);
        if (IsListEmpty(&image->layers))
            Tal_DoImageMethod(image, TAL_NewLayer, TAL_PAINT_LAYER, 8, image->width, image->height);
        if (!(flags & TAL_LOAD_NO_VIEW)) {
            Tal_DoImageMethod(image, TAL_OpenView);
            Tal_DoImageMethod(image, TAL_SetActiveImage, image);
        }
    }
    image->modified_count = 0;
    return image;
}

Tal_Image* Tal_LoadImage(const char* path, ULONG stream, ULONG flags) {
    return Tal__LoadImageA(path, 0, stream, flags, nullptr);
}

Tal_Image* Tal__LoadFileAsLayer(Tal_Image* image, const char* path, ULONG flags) {
    Tal_ImageBase* base = Tal_GetImageBase();
    // Without a path the user chooses the file.
    char chosen[TAL_PATH_SIZE];
    if (!path && image && base && !(flags & TAL_LOAD_QUIET)) {
        char folder[TAL_REQUESTER_PATH_SIZE], name[TAL_REQUESTER_PATH_SIZE];
        placeOf(kLoad, folder, name);
        if (!Tal_FileRequest(Tal_GetCatalogueText(kLoadTitle), folder, name, requesterParent(), 0))
            return nullptr;
        rememberPlace(kLoad, folder, name);
        if (!*name || !joinPath(folder, name, chosen, sizeof chosen)) return nullptr;
        path = chosen;
    }
    if (!image || !path || !base) return nullptr;
    auto* layer = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_PAINT_LAYER));
    if (!layer) return nullptr;
    layer->parent = image;
    if (!Tal___LoadImageA(layer, path, 0, 0, flags | TAL_LOAD_ONLY, nullptr)) {
        Tal_DisposeObject(handleOf(layer));
        return nullptr;
    }
    {
        Tal_LiveRedoOverride noRedo(0);
        Tal_SelectLayerMode(layer, base->default_mode_name);
        Tal_DoLayerDoesntNeedsFixing(layer);
    }
    layer->top_image = image->top_image ? image->top_image : image;
    layer->orig_w = layer->layer_w = WORD(layer->width);
    layer->orig_h = layer->layer_h = WORD(layer->height);
    Tal_ModifiedLayer(layer, 0, 0, layer->width - 1, layer->height - 1);
    if (!Tal_DoImageMethod(image, TAL_AddLayer, layer)) {
        Tal_DisposeObject(handleOf(layer));
        return nullptr;
    }
    Tal_DoImageMethod(image, TAL_SetCurrentLayer, layer);
    return layer;
}

// ---------------------------------------------------------------------------------------------------
// Saving.

ULONG Tal__SaveImageA(Tal_Image* image, const char* path, const char* format, ULONG stream, ULONG flags,
                      const TagItem* tags) {
    const Outcome outcome{tags, (flags & TAL_SAVE_QUIET) != 0};
    if (!image || image->alloc_state.load() != 1) return outcome.own(TALIO_ERR_DAMAGED, true);
    // The high-precision depths have no file form.
    if (image->depth != 8 && image->depth != 24) return outcome.own(TALIO_ERR_UNSUPPORTED, true);
    LibraryUse library;
    if (!library.global) return outcome.outOfMemory();
    const ULONG libraryFlags = flags & TALIO_SAVE_QUIET;

    std::string word = format ? format : image->format_name;
    std::string target = path ? path : "";
    // The clipboard takes the picture as it is.
    if (kindOf(stream) == TALIO_KIND_CLIPBOARD) {
        SaveDescription picture;
        ReadLock lock(image);
        if (!lock.held || !picture.describe(image)) return outcome.own(TALIO_ERR_DAMAGED, true);
        const ULONG error = TALIO_SaveBufferA(picture.header, path, word.c_str(), stream, &libraryFlags);
        return error == TALIO_OK ? outcome.ok() : outcome.library(error, true);
    }
    // A format no saver answers to becomes JPEG, and the name follows.
    if (!isSaver(library.global, word.c_str())) {
        word = "JPEG";
        if (path) {
            char changed[TAL_PATH_SIZE];
            Tal_AutoChangeFileExtension(path, changed, sizeof changed, word.c_str());
            if (!*changed) return outcome.pathTooLong();
            target = changed;
        }
    }
    // Without a path the user names the file (none when quiet); a cancel saves nothing.
    if (!path && (outcome.quiet || !chooseSaveFile(image, word, target))) {
        outcome.set(TALIO_ERR_CANCELLED, nullptr);
        return 0;
    }
    if (target.size() >= sizeof image->file_path) return outcome.pathTooLong();

    ULONG error;
    const char* ownText = nullptr;
    {
        SaveDescription picture;
        ReadLock lock(image);
        if (!lock.held || !picture.describe(image)) return outcome.own(TALIO_ERR_DAMAGED, true);
        if (createBackups.load() && !(flags & TAL_SAVE_NO_BACKUP))
            error =
                saveWithBackup(picture.header, target.c_str(), word.c_str(), stream, libraryFlags, &ownText);
        else
            error = TALIO_SaveBufferA(picture.header, target.c_str(), word.c_str(), stream, &libraryFlags);
    }
    if (error != TALIO_OK)
        return ownText ? outcome.own(error, Tal_GetCatalogueText(kFileErrorTitle), ownText)
                       : outcome.library(error, true);
    if (!(flags & TAL_SAVE_COPY)) {
        image->modified_count = 0;
        Tal__CopyField(image->file_path, sizeof image->file_path, target.c_str());
        Tal__CopyField(image->format_name, sizeof image->format_name, word.c_str());
        Tal__AnnounceImageChange(image, TAL_CHANGE_SAVED, 0, 0, image->width, image->height);
    }
    return outcome.ok();
}

void Tal__SetRequesterFolder(int save, const char* folder) {
    std::lock_guard guard(places.lock);
    places.folder[save ? kSave : kLoad] = folder ? folder : "";
}

std::string Tal__GetRequesterFolder(int save) {
    std::lock_guard guard(places.lock);
    return places.folder[save ? kSave : kLoad];
}

void Tal__SetSameLoadSavePath(LONG on) {
    places.samePath = on ? 1 : 0;
}

ULONG Tal_SaveImageA(Tal_Image* image, const char* path, const char* format, ULONG stream, ULONG flags,
                     const TagItem* tags) {
    return Tal__SaveImageA(image, path, format, stream, flags, tags);
}
