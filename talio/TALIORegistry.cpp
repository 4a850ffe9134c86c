// The front of the image-file library: its start and end, the loader and saver lists, detection and
// loading, saving through a temporary file, error numbers and their texts, and the requesters.
#include "talio/talio.h"

#include "Tal/Catalogue.h"
#include "ui/ui.h"
#include "host/dos.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace {

std::mutex libraryLock;
TALIO_GlobalData globalData;

constexpr const char* kLoaders[] = {"JPEG", "BMP", "GIF", "ILBM", "IFFDEEP", "TARGA", "PNG"};
constexpr const char* kSavers[] = {"BMP", "GIF", "ILBM", "IFFDEEP", "JPEG", "TARGA", "PNG"};
constexpr const char* kOfferedSavers[] = {"BMP", "JPEG", "PNG"};

// Catalogue texts of the error numbers 0..13; 0 has no text of its own.
constexpr ULONG kErrorTexts[] = {32, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37, 343, 561};
constexpr ULONG kLastError = TALIO_ERR_TOO_LARGE;
constexpr ULONG kWriteFailedText = 30;
constexpr ULONG kErrorTitle = 38;
constexpr ULONG kLoadingText = 39;
constexpr ULONG kSavingText = 40;
constexpr ULONG kImageText = 0;
constexpr ULONG kOptionsTitle = 73;

constexpr ULONG kMaxSide = 65536;
constexpr ULONG kMaxDepth = 32;
constexpr size_t kPeekSize = 512;

// MutualExclude: select a row, the selected row.
constexpr ULONG kSelectRow = 0x0021000A;
constexpr ULONG kSelectedRow = 0x00210014;

bool fillList(List* list, std::span<const char* const> words) {
    NewList(list);
    for (const char* word : words) {
        auto* node = static_cast<Node*>(Tal_AllocMemClear(sizeof(Node)));
        if (!node) return false;
        node->ln_Name = Tal_StrDup(word);
        if (!node->ln_Name) {
            Tal_FreeMem(node);
            return false;
        }
        AddTail(list, node);
    }
    return true;
}

void emptyList(List* list) {
    if (!list->lh_Head) return;
    while (Node* node = RemHead(list)) {
        Tal_FreeMem(node->ln_Name);
        Tal_FreeMem(node);
    }
}

// The words of a list, copied under the library's lock: the lists are gone once the library ends.
std::vector<std::string> wordsOf(List TALIO_GlobalData::*list) {
    std::lock_guard guard(libraryLock);
    std::vector<std::string> words;
    if (globalData.openCount <= 0) return words;
    for (Node* node : ListNodes<Node>(&(globalData.*list)))
        words.emplace_back(node->ln_Name ? node->ln_Name : "");
    return words;
}

// The object of the class named by the word and "TALIO"; 0 when there is none or the name does not fit.
ULONG createFormatObject(const char* word) {
    if (!word) return 0;
    char name[256];
    const int n = std::snprintf(name, sizeof name, "%sTALIO", word);
    if (n < 0 || size_t(n) >= sizeof name) return 0;
    return Tal_CreateObject(name);
}

// "Loading JPEG Image": a catalogue text, the format word and the word for an image; without a word the
// catalogue text alone.
std::string progressText(ULONG entry, const char* word) {
    if (!word) return Tal_GetCatalogueText(entry);
    return std::string(Tal_GetCatalogueText(entry)) + " " + word + " " + Tal_GetCatalogueText(kImageText);
}

bool classesExist(std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (!Tal_FindClassFromName(name)) return false;
    return true;
}

// Clears what an Identify fills, rewinds the stream and asks the object. A result of 1 stands only when
// the size is one a buffer can be made for.
ULONG identify(ULONG object, TALIO_Header* header, ULONG method, Tal_Word requesterResult) {
    TALIO_ImageBuffer* b = header->buffer;
    b->width = b->height = b->depth = b->format = b->bytes_per_row = 0;
    std::memset(b->palette, 0, sizeof b->palette);
    if (header->stream && TALIO_Seek(header, 0, 0) != 0) return TALIO_ERR_READ;
    const ULONG result = ULONG(Tal_DoMethod(object, method, header, requesterResult));
    if (result != TALIO_OK) return result ? result : TALIO_ERR_DAMAGED;
    static constexpr ULONG formats[] = {1, 3, 4, 8, 9, 11, 13};
    const bool fits = b->width >= 1 && b->width <= kMaxSide && b->height >= 1 && b->height <= kMaxSide &&
                      b->depth >= 1 && b->depth <= kMaxDepth &&
                      std::find(std::begin(formats), std::end(formats), b->format) != std::end(formats);
    return fits ? TALIO_OK : TALIO_ERR_UNKNOWN;
}

// The reduction requester; 0 when cancelled, else the reduction chosen.
ULONG askReduction() {
    static constexpr char kText[] =
        "This image is too big to open.\nIf you would like to open a scaled\ndown "
        "version, select the scale\nfactor and press OK,\nor press cancel to abort.";
    ULONG group = 0, choice = 0;
    if (classesExist({"Group", "Text", "MutualExclude"})) {
        group = Tal_CreateObjects(0, TAL_TREE_VGROUP, TAL_TREE_TEXTMODE4, kText, TAL_TREE_OBJECT,
                                  "MutualExclude", TAL_TREE_HANDLE, &choice, TAL_TREE_TEXT,
                                  "Reduce Size to 50%", TAL_TREE_TEXT, "Reduce Size to 25%", TAL_TREE_TEXT,
                                  "Reduce Size to 12.5%", TAL_TREE_CLOSE, TAL_TREE_CLOSE);
        if (choice) Tal_DoMethod(choice, kSelectRow, 0);
    }
    // Without the contents the requester can still be answered by a script; shown, it cannot be built.
    const ULONG ok = Tal_ShowRequesterA("Velura", group, 2, globalData.requesterParent, 0, nullptr);
    const ULONG index = group && choice ? ULONG(Tal_DoMethod(choice, kSelectedRow)) : 0;
    Tal_DisposeObject(group);
    if (!ok) return 0;
    static constexpr ULONG reductions[] = {200, 400, 800};
    return index < 3 ? reductions[index] : 200;
}

// What one load made; released whatever the outcome. The buffer (which owns the header) is handed on.
struct LoadParts {
    TALIO_ImageBuffer* buffer = nullptr;
    TALIO_Header* header = nullptr;
    UBYTE* peek = nullptr;
    FILE* file = nullptr;
    ULONG object = 0;
    bool ownObject = true;

    ~LoadParts() {
        release();
        if (ownObject) Tal_DisposeObject(object);
        Tal_FreeMem(peek);
        if (file) std::fclose(file);
    }

    // Ends what the header holds of the operation. The buffer outlives the stream and the first bytes:
    // nothing may point at them afterwards.
    void release() {
        if (!header) return;
        TALIO__EndProgress(header->progress);
        header->progress = nullptr;
        header->stream = nullptr;
        header->peek = nullptr;
        header->peek_length = 0;
        TALIO_ReadBuffered(nullptr, -1, header);
    }

    // The buffer and its header, linked, with what the caller's tags ask of the load; 6 when memory runs
    // out.
    ULONG make(const TagItem* tags) {
        buffer = static_cast<TALIO_ImageBuffer*>(Tal_AllocMemClear(sizeof(TALIO_ImageBuffer)));
        if (!buffer) return TALIO_ERR_DAMAGED;
        NewList(&buffer->layers);
        buffer->level = 255;
        header = static_cast<TALIO_Header*>(Tal_AllocMemClear(sizeof(TALIO_Header)));
        if (!header) return TALIO_ERR_DAMAGED;
        buffer->header = header;
        header->buffer = buffer;
        header->truecolour_format = TALIO_FORMAT_RGBPLANES;
        header->grey_format = TALIO_FORMAT_GREY8;
        header->mapped_format = TALIO_FORMAT_RGBPLANES;
        if (const TagItem* copy = FindTagItem(TALIO_TAG_WorkingCopy, tags)) {
            header->copy_wanted = 1;
            header->copy_spare_rows = ULONG(copy->ti_Data);
        }
        return TALIO_OK;
    }
};

// Allocates the pixels, shows the progress display and has the object load. The object's result, or 9
// when the final progress update reports a cancel.
ULONG loadPixels(LoadParts& parts, ULONG flags, ULONG classFlags, const char* word, ULONG entry) {
    TALIO_Header* header = parts.header;
    TALIO_ImageBuffer* buffer = parts.buffer;
    if (TALIO_TooLarge(buffer->width, buffer->height)) return TALIO_ERR_TOO_LARGE;
    if (!TALIO_AllocBufferMem(buffer)) return TALIO_ERR_MEMORY;
    if (!(flags & TALIO_LOAD_QUIET) && !(classFlags & TALIO_FLAG_NO_PROGRESS))
        header->progress =
            TALIO__BeginProgress(Tal_GetCatalogueText(entry), progressText(entry, word).c_str());
    header->progress_step = TALIO_ProgressStep(buffer->height);
    if (header->stream && TALIO_Seek(header, 0, 0) != 0) return TALIO_ERR_READ;
    ULONG result = ULONG(Tal_DoMethod(parts.object, TALIO_Load, header));
    if (!result) result = TALIO_ERR_DAMAGED;
    if (!TALIO_SetProgressDisplay(header, 100, 100)) result = TALIO_ERR_CANCELLED;
    return result;
}

ULONG loadFile(LoadParts& parts, const char* name, ULONG flags, const TagItem* tags, bool* silent) {
    const bool quiet = flags & TALIO_LOAD_QUIET;
    // Only a file is read: a folder, device or pipe is refused before anything waits on it.
    Tal_FileInfo info;
    if (Tal_GetFileInfo(name, &info) != 0 || (info.flags & (TAL_FILEINFO_DIRECTORY | TAL_FILEINFO_SPECIAL)))
        return TALIO_ERR_OPEN;
    parts.file = Tal_OpenFile(name, "rb");
    if (!parts.file) return TALIO_ERR_OPEN;
    if (ULONG made = parts.make(tags); made != TALIO_OK) return made;
    TALIO_Header* header = parts.header;
    TALIO_ImageBuffer* buffer = parts.buffer;
    parts.peek = static_cast<UBYTE*>(Tal_AllocMemClear(kPeekSize));
    header->owned_file_name = Tal_StrDup(name);
    if (!parts.peek || !header->owned_file_name) return TALIO_ERR_DAMAGED;

    const size_t got = std::fread(parts.peek, 1, kPeekSize, parts.file);
    if (got == 0) return TALIO_ERR_READ;
    header->file_name = header->owned_file_name;
    header->stream = parts.file;
    header->peek = parts.peek;
    header->peek_length = ULONG(got);
    if (fseeko(parts.file, 0, SEEK_END) == 0) {
        const off_t end = ftello(parts.file);
        header->file_size = end > 0 ? uint64_t(end) : 0;
    }
    if (TALIO_Seek(header, 0, 0) != 0) return TALIO_ERR_READ;

    const Tal_Word reduction = GetTagData(TALIO_TAG_Reduction, 0, tags);
    std::string word;
    ULONG classFlags = 0;
    for (const std::string& candidate : wordsOf(&TALIO_GlobalData::loaders)) {
        const ULONG object = createFormatObject(candidate.c_str());
        if (!object) continue;
        if (reduction) Tal_DoMethod(object, TALIO_SetReduction, reduction);
        if (identify(object, header, TALIO_Identify, 0) == TALIO_OK) {
            parts.object = object;
            word = candidate;
            classFlags = ULONG(Tal_DoMethod(object, TALIO_GetFlags));
            break;
        }
        Tal_DisposeObject(object);
    }
    if (!parts.object) return TALIO_ERR_UNKNOWN;
    std::snprintf(header->format_name, sizeof header->format_name, "%s", word.c_str());
    if (flags & TALIO_LOAD_IDENTIFY) return TALIO_OK;

    if ((flags & TALIO_LOAD_PREVIEW) && (classFlags & TALIO_FLAG_PREVIEW)) {
        if (auto* w = reinterpret_cast<ULONG*>(GetTagData(TALIO_TAG_FullWidth, 0, tags))) *w = buffer->width;
        if (auto* h = reinterpret_cast<ULONG*>(GetTagData(TALIO_TAG_FullHeight, 0, tags)))
            *h = buffer->height;
        if (ULONG r = identify(parts.object, header, TALIO_IdentifyPreview, 0); r != TALIO_OK) return r;
        if (TALIO_TooLarge(buffer->width, buffer->height)) return TALIO_ERR_TOO_LARGE;
        if (!TALIO_AllocBufferMem(buffer)) return TALIO_ERR_MEMORY;
        header->progress_step = TALIO_ProgressStep(buffer->height);
        if (TALIO_Seek(header, 0, 0) != 0) return TALIO_ERR_READ;
        const ULONG result = ULONG(Tal_DoMethod(parts.object, TALIO_LoadPreview, header));
        return result ? result : TALIO_ERR_DAMAGED;
    }

    if (!quiet) {
        if (ULONG group = ULONG(Tal_DoMethod(parts.object, TALIO_GetLoadOptions))) {
            const ULONG answer = TALIO_ShowOptionsRequester(parts.object, group);
            if (!answer) return TALIO_ERR_CANCELLED;
            if (ULONG r = identify(parts.object, header, TALIO_Identify, answer); r != TALIO_OK) return r;
        }
        const uint64_t needed = uint64_t(buffer->width) * (uint64_t(buffer->height) + 1) * 7 + 65536;
        if (TALIO__AvailableMemory() < needed) {
            const ULONG chosen = askReduction();
            if (!chosen) {
                *silent = true;
                return TALIO_ERR_MEMORY;
            }
            Tal_DoMethod(parts.object, TALIO_SetReduction, chosen);
            if (ULONG r = identify(parts.object, header, TALIO_Identify, 0); r != TALIO_OK) return r;
        }
    }
    return loadPixels(parts, flags, classFlags, word.c_str(), kLoadingText);
}

// Stores the error where the caller asked and hands out the buffer, or frees it and reports.
TALIO_ImageBuffer* finishLoad(LoadParts& parts, const char* fileName, ULONG error, ULONG flags, bool silent,
                              ULONG* errorOut, const TagItem* tags) {
    if (auto* out = reinterpret_cast<ULONG*>(GetTagData(TALIO_TAG_Error, 0, tags))) *out = error;
    if (errorOut) *errorOut = error;
    parts.release();
    TALIO_ImageBuffer* buffer = parts.buffer;
    parts.buffer = nullptr;
    parts.header = nullptr;
    if (error == TALIO_OK) return buffer;
    TALIO_FreeBuffer(buffer);
    if (!(flags & TALIO_LOAD_QUIET) && !silent) {
        if (fileName && error != TALIO_ERR_CANCELLED)
            TALIO_FileErrorRequest(nullptr, fileName, TALIO_ErrorText(error));
        else
            TALIO_ErrorNumberRequest(error);
    }
    return nullptr;
}

} // namespace

const char* TALIO_ErrorText(ULONG error) {
    return Tal_GetCatalogueText(error >= 1 && error <= kLastError ? kErrorTexts[error] : kErrorTexts[6]);
}

bool TALIO_TooLarge(uint64_t width, uint64_t height) {
    return width > TALIO_MAX_SIDE || height > TALIO_MAX_SIDE || width * height > TALIO_MAX_PIXELS;
}

ULONG TALIO_FileErrorRequest(const char* title, const char* fileName, const char* text) {
    const std::string message = std::string(fileName ? FilePart(fileName) : "") + "\n" + (text ? text : "");
    return Tal_MessageBoxA(title ? title : Tal_GetCatalogueText(kErrorTitle), message.c_str(), 1);
}

const char* TALIO_SaveErrorText(ULONG error) {
    return error == TALIO_ERR_READ ? Tal_GetCatalogueText(kWriteFailedText) : TALIO_ErrorText(error);
}

TALIO_GlobalData* TALIO_Init(Tal_GlobalData* tal) {
    std::lock_guard guard(libraryLock);
    if (globalData.openCount == 0) {
        if (!fillList(&globalData.loaders, kLoaders) || !fillList(&globalData.savers, kSavers) ||
            !fillList(&globalData.offeredSavers, kOfferedSavers)) {
            emptyList(&globalData.loaders);
            emptyList(&globalData.savers);
            emptyList(&globalData.offeredSavers);
            return nullptr;
        }
        globalData.tal = tal ? tal : Tal_GetGlobalData();
        TALIO__InstallPictureServices(true);
    }
    globalData.openCount++;
    return &globalData;
}

void TALIO_Cleanup(TALIO_GlobalData* global) {
    std::lock_guard guard(libraryLock);
    if (global != &globalData || globalData.openCount <= 0 || --globalData.openCount > 0) return;
    TALIO__InstallPictureServices(false);
    emptyList(&globalData.loaders);
    emptyList(&globalData.savers);
    emptyList(&globalData.offeredSavers);
    if (globalData.externalList) Tal_DisposeObject(globalData.externalList);
    globalData.externalList = 0;
}

TALIO_GlobalData* TALIO_GetGlobalData() {
    std::lock_guard guard(libraryLock);
    return globalData.openCount > 0 ? &globalData : nullptr;
}

TALIO_ImageBuffer* TALIO_AutoLoadBufferA(const char* fileName, ULONG flags, ULONG* errorOut,
                                         const TagItem* tags) {
    if (!fileName) return nullptr;
    LoadParts parts;
    bool silent = false;
    const ULONG error = loadFile(parts, fileName, flags, tags, &silent);
    return finishLoad(parts, fileName, error, flags, silent, errorOut, tags);
}

TALIO_ImageBuffer* TALIO_LoadBufferFromTALIOA(ULONG object, ULONG flags, ULONG* errorOut,
                                              const TagItem* tags) {
    LoadParts parts;
    parts.object = object;
    parts.ownObject = false;
    auto load = [&]() -> ULONG {
        if (ULONG made = parts.make(tags); made != TALIO_OK) return made;
        if (!object) return TALIO_ERR_DAMAGED;
        Tal_Word answer = 0;
        if (!(flags & TALIO_LOAD_QUIET)) {
            if (ULONG group = ULONG(Tal_DoMethod(object, TALIO_GetLoadOptions))) {
                answer = TALIO_ShowOptionsRequester(object, group);
                if (!answer) return TALIO_ERR_CANCELLED;
            }
        }
        if (identify(object, parts.header, TALIO_Identify, answer) != TALIO_OK) return TALIO_ERR_UNKNOWN;
        return loadPixels(parts, flags, ULONG(Tal_DoMethod(object, TALIO_GetFlags)), nullptr, kLoadingText);
    };
    const ULONG error = load();
    return finishLoad(parts, nullptr, error, flags, false, errorOut, tags);
}

ULONG TALIO_SaveBufferA(TALIO_Header* header, const char* fileName, const char* formatWord, ULONG object,
                        const ULONG* flagsPointer) {
    const ULONG flags = flagsPointer ? *flagsPointer : 0;
    auto save = [&]() -> ULONG {
        if (!header || !header->buffer) return TALIO_ERR_DAMAGED;
        ULONG made = 0;
        if (!object) {
            made = createFormatObject(formatWord);
            if (!made) return TALIO_ERR_UNKNOWN;
            Tal_DoMethod(made, TALIO_SetSaveBuffer, header->buffer);
        }
        const ULONG saver = object ? object : made;
        // The name is the caller's; the header does not keep it beyond the save.
        const char* previousName = header->file_name;
        if (fileName) header->file_name = fileName;
        const ULONG classFlags = ULONG(Tal_DoMethod(saver, TALIO_GetFlags));
        if (!(flags & TALIO_SAVE_QUIET) && !(classFlags & TALIO_FLAG_NO_PROGRESS))
            header->progress = TALIO__BeginProgress(Tal_GetCatalogueText(kSavingText),
                                                    progressText(kSavingText, formatWord).c_str());
        header->progress_step = TALIO_ProgressStep(header->buffer->height);

        ULONG result;
        if (classFlags & TALIO_FLAG_OWN_OUTPUT) {
            // The class writes its own output (safely, or not to a file at all); once it reported success a
            // late cancel changes nothing.
            result = ULONG(Tal_DoMethod(saver, TALIO_Save, header));
            TALIO_SetProgressDisplay(header, 100, 100);
        } else if (!header->file_name) {
            result = TALIO_ERR_OPEN;
        } else {
            Tal_SafeSave file;
            header->stream = Tal_SafeSaveOpen(&file, header->file_name, "wb");
            if (!header->stream) {
                result = TALIO_ERR_OPEN;
            } else {
                result = ULONG(Tal_DoMethod(saver, TALIO_Save, header));
                header->stream = nullptr;
                if (result == TALIO_OK && !TALIO_SetProgressDisplay(header, 100, 100))
                    result = TALIO_ERR_CANCELLED;
                if (result == TALIO_OK) {
                    if (!Tal_SafeSaveCommit(&file)) result = TALIO_ERR_READ;
                } else {
                    Tal_SafeSaveAbort(&file);
                }
            }
        }
        if (!result) result = TALIO_ERR_DAMAGED;
        TALIO__EndProgress(header->progress);
        header->progress = nullptr;
        header->file_name = previousName;
        Tal_DisposeObject(made);
        return result;
    };
    const ULONG error = save();
    if (!(flags & TALIO_SAVE_QUIET) && error != TALIO_OK && error != TALIO_ERR_CANCELLED)
        Tal_MessageBoxA(Tal_GetCatalogueText(kErrorTitle), TALIO_SaveErrorText(error), 1);
    return error;
}

ULONG TALIO_ErrorNumberRequest(ULONG error) {
    if (error == TALIO_ERR_CANCELLED) return 1;
    return Tal_MessageBoxA(Tal_GetCatalogueText(kErrorTitle), TALIO_ErrorText(error), 1);
}

ULONG TALIO_ShowOptionsRequester(ULONG, ULONG group) {
    return Tal_ShowRequesterA(Tal_GetCatalogueText(kOptionsTitle), group, 2, globalData.requesterParent, 0,
                              nullptr);
}

ULONG TALIO__ReplaceExtension(char* destination, size_t size, const char* path, const char* extension) {
    if (!destination || !path || !extension || !*extension) return 0;
    const std::string source = path;
    const size_t part = size_t(FilePart(path) - path);
    // A leading "." names a hidden file; it is not where the extension starts.
    const size_t dot = source.find('.', part + (source.size() > part && source[part] == '.' ? 1 : 0));
    const std::string result =
        dot == std::string::npos ? source + "." + extension : source.substr(0, dot + 1) + extension;
    if (result.size() + 1 > size) return 0;
    std::memcpy(destination, result.c_str(), result.size() + 1);
    return 1;
}

uint64_t TALIO__AvailableMemory() {
    if (const char* text = std::getenv("VELURA_FREE_MEMORY"); text && *text) {
        char* end = nullptr;
        const unsigned long long value = std::strtoull(text, &end, 10);
        if (end && *end == 0) return value;
    }
    std::ifstream meminfo("/proc/meminfo");
    for (std::string line; std::getline(meminfo, line);) {
        unsigned long long kilobytes = 0;
        if (std::sscanf(line.c_str(), "MemAvailable: %llu kB", &kilobytes) == 1)
            return uint64_t(kilobytes) * 1024;
    }
    return UINT64_MAX;
}
