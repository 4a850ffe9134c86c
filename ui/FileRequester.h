// The file requester: the program's own browser of folders and pictures (FileRequester), the thumbnail
// database it keeps on disk, and the functions the program asks for files with (Tal_FileRequestA).
#pragma once

#include "ui/ListTree.h"

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

// ---------------------------------------------------------------------------------------------------
// FileRequester (built on Group).

constexpr ULONG TAL_SetRequesterDirectory = 0x004E001E; // "\" becomes "/"; a new one is listed
constexpr ULONG TAL_GetRequesterDirectory = 0x004E0028; // the folder (as the path field shows it)
constexpr ULONG TAL_SetRequesterFile = 0x004E0032;      // shown and notified
constexpr ULONG TAL_GetRequesterFile = 0x004E003C;
constexpr ULONG TAL_RunFileRequester = 0x004E0046; // 1 for Ok, 0 otherwise
constexpr ULONG TAL_SetRequesterTitle = 0x004E0064;
constexpr ULONG TAL_GetRequesterTitle = 0x004E006E;
constexpr ULONG TAL_SetRequesterFlags = 0x004E0078;   // TAL_REQUESTER_THUMBNAILS
constexpr ULONG TAL_RequesterRowPressed = 0x004E00A0; // a file row was pressed (its name)
constexpr ULONG TAL_SetRequesterExtra = 0x004E00AA;   // an object below the fields (save options)
constexpr ULONG TAL_SetOwnRequester = 0x004E00E6;     // also hides the tree and the path row
constexpr ULONG TAL_GetOwnRequester = 0x004E00F0;
// TAL_SetMultiSelect / TAL_GetMultiSelect: of the file list. TAL_GetFirstSelected / TAL_GetNextSelected:
// the names of the selected files (text pointers valid until the list changes), or with nothing selected
// the file-name field's text, then 0.

// Tags of Tal_FileRequestA besides TAL_SetRequesterExtra and TAL_SetOwnRequester.
constexpr Tag TAL_TAG_RequesterNameField = 0x004E00BE; // ULONG*: receives the file-name field
constexpr Tag TAL_TAG_RequesterKeep = 0x004E00C8;      // ULONG*: multiple selection; receives the requester
constexpr Tag TAL_TAG_RequesterFlags = 0x004E0078;     // the requester's flags

constexpr ULONG TAL_REQUESTER_THUMBNAILS = 2; // rows show the thumbnail and the name (else the details)

// Flags of Tal_FileRequestA.
constexpr ULONG TAL_FILEREQUEST_SAVE = 1;

// The buffers Tal_FileRequestA fills: 260 bytes each.
constexpr size_t TAL_REQUESTER_PATH_SIZE = 260;

// Asks the user for a file in the program's own requester, starting in `directory` with `file` as the
// name. On Ok copies the folder and the name back (1); 0 for Cancel. A script's queued answer answers it
// (1: Ok with the names as they are). With TAL_TAG_RequesterKeep the requester is kept for the selection
// functions below and must be ended with Tal_EndFileRequest.
ULONG Tal_FileRequestA(const char* title, char* directory, char* file, void* drawInfo, ULONG flags,
                       const TagItem* tags);
template <typename... A>
ULONG Tal_FileRequest(const char* title, char* directory, char* file, void* drawInfo, ULONG flags,
                      A... tags) {
    const auto list = Tal_MakeTags(tags...);
    return Tal_FileRequestA(title, directory, file, drawInfo, flags, list.data());
}
// The chosen names of a kept requester, first and next (0 at the end).
const char* Tal_GetFirstFileRequestSelection(ULONG requester);
const char* Tal_GetNextFileRequestSelection(ULONG requester, const char* previous);
void Tal_EndFileRequest(ULONG requester);

// ---------------------------------------------------------------------------------------------------
// Pictures: what the requester needs from the image-file library, which installs it (the kit knows no
// file formats).

struct Tal_Thumbnail {
    LONG width, height;          // of the thumbnail
    ULONG fullWidth, fullHeight; // of the picture it shows
    UBYTE* bgr;                  // width × 3 bytes a row (blue, green, red); Tal_FreeThumbnail
};
void Tal_FreeThumbnail(Tal_Thumbnail* thumbnail);

struct Tal_PictureServices {
    // Whether files of that name are listed: their extension is one a loader of the library answers to.
    bool (*isPictureName)(const char* name);
    // The picture of a file reduced to fit a box, quietly; an error number of the library (1 success, 8
    // not a picture any loader knows).
    ULONG (*makeThumbnail)(const char* path, LONG boxWidth, LONG boxHeight, Tal_Thumbnail* out);
    // A thumbnail stored in the database, and storing one (as a JPEG file, through a safe save); 1 or 0.
    ULONG (*loadThumbnail)(const char* path, Tal_Thumbnail* out);
    ULONG (*saveThumbnail)(const char* path, const Tal_Thumbnail* thumbnail);
};
void Tal_SetPictureServices(const Tal_PictureServices* services);
const Tal_PictureServices* Tal_GetPictureServices();

// The size of a thumbnail of a picture: the largest that fits the box with the picture's proportions,
// each side at least 1.
void Tal_FitThumbnail(ULONG width, ULONG height, LONG boxWidth, LONG boxHeight, LONG* outWidth,
                      LONG* outHeight);
// The box thumbnails fit in.
constexpr LONG TAL_THUMBNAIL_WIDTH = 50, TAL_THUMBNAIL_HEIGHT = 39;

// ---------------------------------------------------------------------------------------------------
// The listing and the thumbnail database, as the requester's worker uses them.

// One listed file.
struct Tal_FileEntry {
    std::string name;
    uint64_t size = 0;
    ULONG date = 0; // the modification time, cut to 32 bits (only compared for equality)
    ULONG width = 0, height = 0, spare = 0;
    ULONG state = 0; // 0 no thumbnail, 1 thumbnail in the database, 2 not a picture
    ULONG storedDate = 0;
    std::string sizeText, dimensionText;
    bool folder = false;       // a folder row (listed only when the tree is hidden)
    Tal_Thumbnail thumbnail{}; // owned; freed by Tal_ClearFileEntries
};
void Tal_ClearFileEntries(std::vector<Tal_FileEntry>& entries);

// "File Size: %ldKB": the size in kilobytes (1 below 2048 bytes), with thousands separated by ",".
std::string Tal_FileSizeText(uint64_t bytes);

// Whether to stop: a new folder was asked for, or the end.
using Tal_StopCheck = std::function<bool()>;

// The pictures of a folder: regular files only (never a pipe or device), no hidden ones, those the
// picture services list, in the order of their lower-cased names. False when the folder cannot be read
// or the listing was stopped.
bool Tal_ListPictureFiles(const std::string& folder, std::vector<Tal_FileEntry>& entries,
                          const Tal_StopCheck& stop);
// Gives every entry its thumbnail: from the database when its picture has not changed, else made from
// the picture and stored; a file that is no picture gets state 2. `done` is told of each entry finished.
// The folder's records (_Entries) are written at the end, and thumbnails of files that are gone are
// deleted. Stops early when told to.
void Tal_MakeThumbnails(const std::string& folder, std::vector<Tal_FileEntry>& entries,
                        const Tal_StopCheck& stop, const std::function<void(size_t)>& done);

// Where the database lives: the given folder, or (none) $XDG_CACHE_HOME/velura/ImageDatabase, else
// ~/.cache/velura/ImageDatabase. Setting it forgets the folder table read from the old place.
void Tal_SetThumbnailDatabase(const char* folder);
std::string Tal_ThumbnailDatabase();

// The records of an _Entries file: each "METI", a 32-bit little-endian length L, then width, height,
// spare, state, date (32-bit little-endian) and the name with its zero, padded to a multiple of 4.
// Reading stops at the first record that is damaged or names no plain file.
struct Tal_ThumbnailRecord {
    ULONG width, height, spare, state, date;
    std::string name;
};
// The Index: "Highest: N", then "number,folder" a line. Lines are bounded; the first line that is not of
// that form ends the reading, but every number read counts: the highest number seen is returned.
ULONG Tal_ParseThumbnailIndex(const UBYTE* data, size_t size,
                              std::vector<std::pair<ULONG, std::string>>* folders);
std::vector<UBYTE> Tal_EncodeThumbnailRecords(const std::vector<Tal_ThumbnailRecord>& records);
std::vector<Tal_ThumbnailRecord> Tal_DecodeThumbnailRecords(const UBYTE* data, size_t size);

// ---------------------------------------------------------------------------------------------------
// Classes.

ULONG Tal_InitFileRequesterClass();
void Tal_CleanupFileRequesterClass();
