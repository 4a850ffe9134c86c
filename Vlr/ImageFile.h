// Loading and saving images: files become images (their planes adopted from the image-file library's
// buffer, their layers built from the buffer's layers) and images become files through a saver, with the
// extension fix-up, the fall-back to JPEG and ".bak" backups.
//
// Every save goes through a temporary file in the target's directory; the old file is replaced only when
// the new one was written whole, and with backups on it becomes the ".bak" file only then.
#pragma once

#include "Vlr/Vlr.h"

#include <cstddef>
#include <string>

// Load flags (also handed to the library).
constexpr ULONG TAL_LOAD_QUIET = 0x04;    // no message or requester; the library stays quiet too
constexpr ULONG TAL_LOAD_ONLY = 0x10;     // no thread, not listed, no paint layer, no view
constexpr ULONG TAL_LOAD_NO_VIEW = 0x200; // no view, not made active

// Save flags (0x04, quiet, is handed to the library).
constexpr ULONG TAL_SAVE_QUIET = 0x04;
constexpr ULONG TAL_SAVE_COPY = 0x20;      // the image stays unsaved and keeps its path and format
constexpr ULONG TAL_SAVE_NO_BACKUP = 0x40; // no ".bak" file, whatever the setting

// Tags of loads and saves, besides the library's (7181, the error number, is honoured by both):
// where the text of a failure goes (const char**): the text a message box shows when the operation is
// not quiet; none when nothing failed or the user cancelled.
constexpr Tag TAL_TAG_FileErrorText = 7261;

// Tag of a load without a path: the files are chosen in the browsing requester (thumbnails).
constexpr Tag TAL_TAG_BrowseImages = 7262;

// The text shown when a path does not fit the image's path field.
extern const char* const TAL_PATH_TOO_LONG_TEXT;

// Loads a file (or, with a stream object whose kind is not 5, from that object) as a new image. Unless
// TAL_LOAD_ONLY the image is listed and gets a paint layer when it has no layer; unless also
// TAL_LOAD_NO_VIEW it gets a view and becomes the active image. Without a path and stream nothing is
// loaded when quiet; otherwise the user chooses files in the load file requester (several may be chosen,
// each is loaded; TAL_TAG_BrowseImages shows thumbnails). The image or none (the last one loaded).
Tal_Image* Tal__LoadImageA(const char* path, Tal_Word reserved, ULONG stream, ULONG flags,
                           const TagItem* tags);
// Opens an image in the active image's place when the program shows one image at a time and the active
// image is shown: `make` makes it with TAL_LOAD_NO_VIEW, the active image's view is closed (which may ask;
// refused, the new image is disposed and none returned), then the new image gets its view and becomes
// active. Otherwise `make` makes it with flags 0. The image or none.
Tal_Image* Tal__OpenInPlaceOfActive(Tal_Image* (*make)(ULONG flags, void* user), void* user);
// Loads into an image object that has no planes yet. 1 or 0.
ULONG Tal___LoadImageA(Tal_Image* image, const char* path, Tal_Word reserved, ULONG stream, ULONG flags,
                       const TagItem* tags);
// Saves the image's composed picture (its working planes) to `path` in `format` (a saver word). A
// format no saver answers to falls back to JPEG, with the path's extension changed to match. With a
// stream object of kind 1024 the picture goes straight to it. 1 when the file or stream was written, 0
// on failure or cancel. On success, unless TAL_SAVE_COPY, the image is marked saved (modified_count 0,
// its path and format) and announces change type 4. Without a path (and not quiet) the user names the
// file in the save file requester; a name whose extension names a saver saves in that format, any other
// name gets the format's extension.
ULONG Tal__SaveImageA(Tal_Image* image, const char* path, const char* format, ULONG stream, ULONG flags,
                      const TagItem* tags);

// Thin wrappers for the image-file users (web save, batch conversion, the I/O panel, image media).
Tal_Image* Tal_LoadImage(const char* path, ULONG stream, ULONG flags);
ULONG Tal_SaveImageA(Tal_Image* image, const char* path, const char* format, ULONG stream, ULONG flags,
                     const TagItem* tags);

// Loads a file as a 24-bit layer of `image` (method 0x0010008C): painted over its whole size, made the
// current layer. The layer or none.
Tal_Image* Tal__LoadFileAsLayer(Tal_Image* image, const char* path, ULONG flags);

// Writes into destination (size bytes) the source path with the extension of the saver class named by
// format ("%sTALIO"): in the last path component, everything after its first "." (not a leading one) is
// replaced, or ".ext" appended. 1 when changed; 0 when the class has no extension (destination holds the
// plain copy) or the result does not fit (destination then empty). Source and destination may be one.
ULONG Tal_AutoChangeFileExtension(const char* source, char* destination, size_t size, const char* format);
// The backup name of a path: ".bak" inserted before the first "." of its last component (not a leading
// one), else appended. 0 when it does not fit.
ULONG Tal__BackupFileName(const char* path, char* destination, size_t size);

// The folders the load and save file requesters start in (the preferences keep them), and whether a
// folder chosen for one is taken for the other too.
void Tal__SetRequesterFolder(int save, const char* folder);
std::string Tal__GetRequesterFolder(int save);
void Tal__SetSameLoadSavePath(LONG on);

// The backup setting (off at start); the preferences keep it.
void Tal__SetCreateBackups(LONG on);
LONG Tal__GetCreateBackups();
