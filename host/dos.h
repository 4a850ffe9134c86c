// Files, directories and paths of the host layer.
//
// Names are 8-bit texts with "/" or "\" as separators; "\" becomes "/" before any system call and the
// bytes are otherwise passed through unchanged. A name starting with a separator is absolute. Any other
// name is relative to the installation directory ("Velura:" names it, "Tal_Images:" its Data/Images/):
//  - a relative name that is read is looked for in the user directory first, then in the installation
//    directory; a name missing as spelled is then matched case-insensitively, one component at a time;
//  - a relative name that is written, created, renamed or deleted lives in the user directory (missing
//    parent directories are created); the installation tree is never written.
// A path that does not fit its buffer (or PATH_MAX) is an error, never cut.
#pragma once

#include "Tal/TalBase.h"

#include <cstdio>

// Size of the name buffers of the program (directory-entry names, temporary file names).
constexpr size_t TAL_NAME_SIZE = 260;

// ---------------------------------------------------------------------------------------------------
// Path texts. These work on the text alone and never touch the file system.

// Appends name to path in place, with a separator between them unless path is empty or one already
// ends/starts there ("/" when path already contains one, else "\"). The buffer holds size bytes;
// returns 0 and leaves path unchanged when the result would not fit.
ULONG AddPart(char* path, const char* name, size_t size);
// The part after the last "/", "\" or ":"; the whole text when there is none.
const char* FilePart(const char* path);
char* FilePart(char* path);
// Where the directory part of path ends: the last separator (writing a 0 there leaves the directory
// without its trailing separator; a leading "/" is kept), else the position after a ":", else path.
const char* PathPart(const char* path);
char* PathPart(char* path);

// ---------------------------------------------------------------------------------------------------
// Files.

constexpr ULONG TAL_FILEINFO_DIRECTORY = 1;
constexpr ULONG TAL_FILEINFO_SPECIAL = 2; // neither a file nor a directory: a device, pipe or socket

struct Tal_FileInfo {
    ULONG flags; // TAL_FILEINFO_DIRECTORY, TAL_FILEINFO_SPECIAL
    ULONG reserved1;
    ULONG size; // bytes; 0xFFFFFFFF for files of 4 GiB and more
    ULONG reserved2[3];
};

// Opens a file with the C library's modes ("r", "rb", "w", "wb", "a", ...); none when it cannot be
// opened or when the completed name is too long. Only regular files are opened: a directory (errno
// EISDIR), a device, pipe or socket (errno ENODEV) is refused at once, never read or waited on. Modes
// containing "w", "a" or "+" write (see the rules above).
FILE* Tal_OpenFile(const char* name, const char* mode);
// 0 with info filled in (zeroed first), -1 when the entry does not exist. Symbolic links are followed.
LONG Tal_GetFileInfo(const char* name, Tal_FileInfo* info);
// 1 when Tal_GetFileInfo succeeds (files and directories alike).
ULONG Tal_DoesFileExist(const char* name);

// ---------------------------------------------------------------------------------------------------
// Directory scans. Names come sorted by their bytes; "." and ".." are handed out like any name. A
// relative directory lists the entries of its user and installation copies together, each name once.

struct Tal_DirectoryEntry {
    void* search;             // the scan's private state
    ULONG firstPending;       // 1 until the first name has been handed out
    char name[TAL_NAME_SIZE]; // the name (without directory) handed out by the last successful scan
};

// None when the directory does not exist or memory runs out.
Tal_DirectoryEntry* Tal_OpenDirectory(const char* path);
// 1 with the next name in entry->name, 0 when there are no more.
ULONG Tal_ScanDirectory(Tal_DirectoryEntry* entry);
// Ends the scan and frees the record; none is accepted.
void Tal_CloseDirectory(Tal_DirectoryEntry* entry);

// ---------------------------------------------------------------------------------------------------
// File and directory operations; each returns non-zero on success.

// Deletes one file (not a directory).
ULONG Tal_DeleteFile(const char* name);
// Moves or renames a file or directory; refuses to replace an existing entry. A file is copied and then
// deleted when the two names are on different file systems.
ULONG Tal_RenameFile(const char* oldName, const char* newName);
// Copies one file through a safe save: an existing target is replaced only when the copy is complete.
ULONG Tal_CopyFile(const char* from, const char* to);
// Creates one directory; an existing one is a failure.
ULONG Tal_CreateDir(const char* name);
// Copies a directory tree. "from" without a trailing separator is copied as a new directory inside "to"
// (created when missing); with one, its contents go straight into "to", which must exist. Symbolic links
// are copied as links, never followed. Refuses to copy a tree into itself. 1 only when all was copied.
ULONG Tal_CopyDir(const char* from, const char* to);
// Deletes a directory tree: with a trailing separator only its contents, else the directory as well.
// Symbolic links inside are deleted as links, never followed; failures do not stop the walk. 1 only when
// everything asked for was deleted.
ULONG Tal_DeleteDir(const char* path);

// Writes into buffer (TAL_NAME_SIZE bytes) the name of a new, empty, unique file in $TMPDIR (else /tmp);
// 0 when it cannot be created.
ULONG Tal_GetTempFileName(char* buffer);

// Converts a Latin-1 text with its terminator into wide characters in buffer; with none as buffer,
// allocates (length + 1) wide characters with AllocVec, which the caller releases. None for a none text
// or when the allocation fails.
wchar_t* Tal_ConvertAsciToUnicodeIfNeeded(const char* text, wchar_t* buffer);

// ---------------------------------------------------------------------------------------------------
// Safe saving: every save of a user file writes a temporary file in the target's directory and renames
// it over the target only when all of it reached the disk. A failure leaves the old file as it was.
//
//   Tal_SafeSave save;
//   FILE* f = Tal_SafeSaveOpen(&save, name, "wb");
//   if (!f) return fail;
//   ... write to f ...
//   if (!Tal_SafeSaveCommit(&save)) return fail;   // or Tal_SafeSaveAbort(&save) to give up
//
// After a successful open, exactly one of Commit or Abort must follow; both release the state.

struct Tal_SafeSave {
    FILE* file;   // where the caller writes
    char* target; // the file being replaced (host path)
    char* temp;   // the temporary file
};

// Opens the temporary file; mode is "w" or "wb". A relative name is saved in the user directory. A
// symbolic link as target is followed, so the link stays. Fails (none), changing nothing, when the target
// is not a regular file (errno EISDIR for a directory, ENODEV for a device, pipe or socket) or is not
// writable, or when its directory is missing or not writable. The temporary file is named
// ".velura-save-<process id>-XXXXXX".
FILE* Tal_SafeSaveOpen(Tal_SafeSave* save, const char* name, const char* mode);
// Checks every write, flushes, syncs and closes the temporary file, gives it the old file's permission
// bits (a new file gets 0644 less the umask) and renames it over the target. 1 on success; 0 on failure,
// with the temporary file removed, the old file untouched and errno saying why (a write that failed
// earlier, when the file size limit or a full disk stopped it, says so: EFBIG, ENOSPC).
ULONG Tal_SafeSaveCommit(Tal_SafeSave* save);
// Closes and removes the temporary file.
void Tal_SafeSaveAbort(Tal_SafeSave* save);

// Test hook: the next Tal_SafeSaveCommit (in any thread) fails as if a write had failed.
void host_FailNextSafeSave();

// The reason a file operation above failed, for messages: the system's text of the error number, and "Not
// a regular file" for the devices, pipes and sockets that they refuse (ENODEV).
const char* host_FileErrorText(int error);

// Removes, in the user directory and below, the temporary files that safe saves of processes which have
// ended (killed half-way) left behind; those of running processes and every other file stay. The program
// calls it as it starts.
void host_RemoveStaleSafeSaves();

// ---------------------------------------------------------------------------------------------------
// Directories of the program and name resolution, for code that hands paths to other programs.

// The installation directory (VELURA_HOME, else the build's data folder) and the user directory
// (VELURA_USER_DIR, else $XDG_CONFIG_HOME/velura/, else ~/.config/velura/), each ending with "/".
// 0 when the text does not fit the buffer.
ULONG host_GetInstallDir(char* buffer, size_t size);
ULONG host_GetUserDir(char* buffer, size_t size);
// The host path of a program name. For reading (write = 0): the file that exists, or 0. For writing:
// where the file goes, with missing parent directories of a relative name created.
ULONG host_ResolvePath(const char* name, ULONG write, char* buffer, size_t size);

// Makes the next use read the directories from the environment again (tests change it).
void host__ResetDirectories();
