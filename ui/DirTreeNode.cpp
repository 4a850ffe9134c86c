// DirTreeNode: one folder of the device in a DirTree. The first time it is expanded it reads its folder
// once: each sub-folder becomes a child node, each file a row of its file list, both in the order of their
// lower-cased names. Hidden entries (names starting with ".") are left out, and so are paths too long to
// keep.
#include "ui/ListTree.h"
#include "Tal/Root.h"
#include "ui/Pages.h"
#include "host/dos.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>
#include <new>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

Tal_Class dirNodeClass;

struct DirNodeInstance {
    Tal_Object header;
    char path[TAL_DIR_PATH_MAX + 1];
    ULONG files;                         // LinkedList, made when first asked for
    std::vector<std::string>* fileNames; // full paths, in order
    UBYTE scanned;
};

DirNodeInstance* of(void* instance) {
    return static_cast<DirNodeInstance*>(instance);
}
ULONG topmost(DirNodeInstance* n) {
    return Tal_GetTopMostObject(n->header.handle);
}

// The folder picture every node shows, loaded once.
std::mutex folderLock;
ULONG folderPicture = 0;

ULONG folderIcon() {
    std::lock_guard guard(folderLock);
    if (!folderPicture) {
        folderPicture = Tal_CreateObject("BitMap");
        if (folderPicture &&
            !Tal_DoMethod(folderPicture, TAL_LoadBitMap, "Data/Images/FolderContracted.iff")) {
            Tal_DisposeObject(folderPicture);
            folderPicture = 0;
        }
    }
    return folderPicture;
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool isRoot(const char* path) {
    return std::strcmp(path, "/") == 0;
}

// The path of an entry of the folder, or "" when it does not fit.
std::string join(const char* folder, const std::string& name) {
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    path += name;
    return path.size() <= TAL_DIR_PATH_MAX ? path : std::string();
}

struct Entry {
    std::string key, path;
};

void scan(DirNodeInstance* n) {
    n->scanned = 1;
    std::vector<Entry> folders, files;
    Tal_DirectoryEntry* dir = Tal_OpenDirectory(n->path);
    while (dir && Tal_ScanDirectory(dir)) {
        const std::string name = dir->name;
        if (name.empty() || name[0] == '.') continue; // ".", ".." and hidden entries
        const std::string path = join(n->path, name);
        struct stat st;
        if (path.empty() || stat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode))
            folders.push_back({lower(name), path});
        else if (S_ISREG(st.st_mode))
            files.push_back({lower(name), path});
    }
    Tal_CloseDirectory(dir);
    auto byKey = [](const Entry& a, const Entry& b) { return a.key < b.key; };
    std::stable_sort(folders.begin(), folders.end(), byKey);
    std::stable_sort(files.begin(), files.end(), byKey);
    const ULONG me = topmost(n);
    for (const Entry& f : folders) {
        ULONG child = Tal_CreateObject("DirTreeNode", TAL_SetDirNodePath, f.path.c_str());
        if (child && !Tal_DoMethod(me, TAL_AddTail, child)) Tal_DisposeObject(child);
    }
    for (const Entry& f : files) n->fileNames->push_back(f.path);
}

// The file list: a row per file, made when first asked for (most folders are only passed through).
ULONG fileList(DirNodeInstance* n) {
    if (!n->files) {
        n->files = Tal_CreateObject("LinkedList");
        for (const std::string& path : *n->fileNames) {
            ULONG item = Tal_CreateObject("ListTreeItem", TAL_SetLabel, path.c_str());
            if (item && !Tal_DoMethod(n->files, TAL_AddTail, item)) Tal_DisposeObject(item);
        }
    }
    return n->files;
}

void setPath(DirNodeInstance* n, const char* path) {
    if (!path || std::strlen(path) > TAL_DIR_PATH_MAX) return;
    std::snprintf(n->path, sizeof n->path, "%s", path);
    // The title: a drive ("C:") as it stands, else the last part of the path.
    const size_t length = std::strlen(path);
    const char* title = length == 2 && path[1] == ':' ? path : FilePart(path);
    if (!*title) title = path;
    Tal_DoMethod(topmost(n), TAL_SetListNodeTitle, title);
}

// The node of path q at or below this one (the folders on the way read and expanded), or 0.
ULONG openPath(DirNodeInstance* n, const char* q) {
    const ULONG me = topmost(n);
    if (std::strcmp(q, n->path) == 0) {
        const ULONG tree = Tal_SearchHierachyForClassId(me, 0x00220000);
        if (!tree || ULONG(Tal_DoMethod(tree, TAL_GetActiveNode)) != me) Tal_DoMethod(me, TAL_Pressed);
        return me;
    }
    const size_t length = std::strlen(n->path);
    if (!isRoot(n->path) &&
        (std::strncmp(q, n->path, length) != 0 || (q[length] != '/' && q[length] != '\\')))
        return 0;
    if (!n->scanned) scan(n);
    for (ULONG child = ULONG(Tal_DoMethod(me, TAL_GetFirstGroupObject)); child;
         child = ULONG(Tal_DoMethod(me, TAL_GetNextGroupObject, child))) {
        // The whole file system's row (inside "My Device") is the way to folders outside the home folder.
        const auto* childPath = reinterpret_cast<const char*>(Tal_DoMethod(child, TAL_GetDirNodePath));
        if (childPath && isRoot(childPath) && !isRoot(n->path)) continue;
        if (ULONG found = ULONG(Tal_DoMethod(child, TAL_OpenDirNodePath, q))) {
            if (!Tal_DoMethod(me, TAL_IsListNodeExpanded)) Tal_DoMethod(me, TAL_ExpandListNode);
            return found;
        }
    }
    return 0;
}

} // namespace

void* Tal_NewDirTreeNodeClass(const TagItem*) {
    auto* n = of(Tal_AllocObjectMem(&dirNodeClass));
    if (!n) return nullptr;
    n->header.superObject = Tal_CreateObject("ListTreeNode");
    n->fileNames = new (std::nothrow) std::vector<std::string>;
    if (!n->header.superObject || !n->fileNames) {
        delete n->fileNames;
        Tal_DisposeObject(n->header.superObject);
        Tal_FreeObjectMem(n);
        return nullptr;
    }
    if (ULONG icon = folderIcon()) Tal_DoMethod(n->header.superObject, TAL_SetListNodeIcon, icon);
    return n;
}

void Tal_DisposeDirTreeNodeClass(void* instance) {
    auto* n = of(instance);
    Tal_DisposeObject(n->files);
    delete n->fileNames;
    Tal_DisposeObject(n->header.superObject);
    Tal_FreeObjectMem(n);
}

Tal_Word Tal_DoDirTreeNodeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* n = of(instance);
    switch (id) {
    case TAL_SetDirNodePath:
        setPath(n, reinterpret_cast<const char*>(args[0]));
        return 1;
    case TAL_GetDirNodePath:
        return reinterpret_cast<Tal_Word>(n->path);
    case TAL_GetDirNodeFiles:
        return fileList(n);
    case TAL_OpenDirNodePath: {
        const char* q = reinterpret_cast<const char*>(args[0]);
        return q ? openPath(n, q) : 0;
    }
    case TAL_ExpandListNode:
        if (!n->scanned) scan(n);
        return Tal_DoMethodA(n->header.superObject, id, args);
    default:
        return Tal_DoMethodA(n->header.superObject, id, args);
    }
}

ULONG Tal_InitDirTreeNodeClass() {
    return Tal__SetupClass(&dirNodeClass, "DirTreeNode", 0x00540000, "ListTreeNode", Tal_NewDirTreeNodeClass,
                           Tal_DisposeDirTreeNodeClass, Tal_DoDirTreeNodeClassMethod, nullptr,
                           sizeof(DirNodeInstance));
}

void Tal_CleanupDirTreeNodeClass() {
    {
        std::lock_guard guard(folderLock);
        Tal_DisposeObject(folderPicture);
        folderPicture = 0;
    }
    Tal__CleanupClass(&dirNodeClass);
}
