// DirTree: the folders of the device as a tree. Its top row, "My Device", is the user's home folder,
// expanded from the start; the first row inside it is the whole file system ("/"), so that every folder
// can be reached. Setting a path opens the folders on the way and makes the folder's row the active
// node; choosing a row makes its folder the current path.
#include "ui/ListTree.h"
#include "Tal/Root.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <pwd.h>
#include <string>
#include <unistd.h>

namespace {

Tal_Class dirTreeClass;

struct DirTreeInstance {
    Tal_Object header;
    Tal_Word words[2];
    char path[TAL_DIR_PATH_MAX + 1];
    ULONG home;   // the "My Device" node
    ULONG system; // the "/" node inside it; 0 when home is "/"
};

DirTreeInstance* of(void* instance) {
    return static_cast<DirTreeInstance*>(instance);
}
ULONG topmost(DirTreeInstance* t) {
    return Tal_GetTopMostObject(t->header.handle);
}

std::string homeFolder() {
    const char* home = std::getenv("HOME");
    if (!home || *home != '/') {
        const passwd* pw = getpwuid(getuid());
        home = pw && pw->pw_dir && *pw->pw_dir == '/' ? pw->pw_dir : "/";
    }
    std::string h = home;
    while (h.size() > 1 && h.back() == '/') h.pop_back();
    return h.size() <= TAL_DIR_PATH_MAX ? h : "/";
}

// "\" becomes "/", and trailing separators go, but a lone "/" stays.
std::string normalised(const char* path) {
    std::string p = path ? path : "";
    for (char& c : p)
        if (c == '\\') c = '/';
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p;
}

// Scrolls the tree so that the node's row shows at the top.
void scrollTo(DirTreeInstance* t, ULONG node) {
    const auto* row = reinterpret_cast<const Tal_Box*>(Tal_DoMethod(node, TAL_GetBox));
    const auto* tree = reinterpret_cast<const Tal_Box*>(Tal_DoMethod(topmost(t), TAL_GetBox));
    if (!row || !tree || tree->height <= 0) return;
    const LONG scrolled = LONG(int32_t(uint32_t(Tal_DoMethod(topmost(t), TAL_GetScrollY))));
    Tal_DoMethod(topmost(t), TAL_SetScrollY, std::max<LONG>(scrolled + row->y - tree->y - 2, 0));
}

ULONG setPath(DirTreeInstance* t, const char* wanted) {
    const std::string q = normalised(wanted);
    if (q.empty() || q.size() > TAL_DIR_PATH_MAX) return 0;
    if (q == t->path) return 1;
    ULONG found = ULONG(Tal_DoMethod(t->home, TAL_OpenDirNodePath, q.c_str()));
    if (!found && t->system) found = ULONG(Tal_DoMethod(t->system, TAL_OpenDirNodePath, q.c_str()));
    // The active node's notification has set the path already when the folder was found.
    std::snprintf(t->path, sizeof t->path, "%s", q.c_str());
    if (found) scrollTo(t, found);
    return found ? 1 : 0;
}

} // namespace

void* Tal_NewDirTreeClass(const TagItem*) {
    auto* t = of(Tal_AllocObjectMem(&dirTreeClass));
    if (!t) return nullptr;
    t->header.superObject = Tal_CreateObject("ListTree");
    const std::string home = homeFolder();
    t->home = Tal_CreateObject("DirTreeNode", TAL_SetDirNodePath, home.c_str());
    t->system = home == "/" ? 0 : Tal_CreateObject("DirTreeNode", TAL_SetDirNodePath, "/");
    if (!t->header.superObject || !t->home || (home != "/" && !t->system) ||
        !Tal_DoMethod(t->header.superObject, TAL_AddTail, t->home)) {
        Tal_DisposeObject(t->system);
        Tal_DisposeObject(t->home);
        Tal_DisposeObject(t->header.superObject);
        Tal_FreeObjectMem(t);
        return nullptr;
    }
    Tal_DoMethod(t->home, TAL_SetListNodeTitle, "My Device");
    if (t->system) {
        Tal_DoMethod(t->system, TAL_SetListNodeTitle, "/");
        Tal_DoMethod(t->home, TAL_AddHead, t->system);
    }
    Tal_DoMethod(t->home, TAL_ExpandListNode);
    return t;
}

void Tal_DisposeDirTreeClass(void* instance) {
    auto* t = of(instance);
    Tal_DisposeObject(t->header.superObject); // with its rows
    Tal_FreeObjectMem(t);
}

Tal_Word Tal_DoDirTreeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* t = of(instance);
    switch (id) {
    case TAL_SetDirTreeWord1:
    case TAL_SetDirTreeWord2: {
        const int i = id == TAL_SetDirTreeWord1 ? 0 : 1;
        t->words[i] = args[0];
        Tal_DoNotify(topmost(t), id, args[0]);
        return 1;
    }
    case TAL_GetDirTreeWord1:
        return t->words[0];
    case TAL_GetDirTreeWord2:
        return t->words[1];
    case TAL_SetDirTreePath:
        return setPath(t, reinterpret_cast<const char*>(args[0]));
    case TAL_GetDirTreePath:
        return reinterpret_cast<Tal_Word>(t->path);
    case TAL_GetDirTreeRoot:
        return t->home;
    case TAL_SetActiveNode: {
        // A chosen row: its folder is the current path.
        if (const char* p =
                args[0] ? reinterpret_cast<const char*>(Tal_DoMethod(ULONG(args[0]), TAL_GetDirNodePath))
                        : nullptr)
            std::snprintf(t->path, sizeof t->path, "%s", p);
        return Tal_DoMethodA(t->header.superObject, id, args);
    }
    default:
        return Tal_DoMethodA(t->header.superObject, id, args);
    }
}

ULONG Tal_InitDirTreeClass() {
    return Tal__SetupClass(&dirTreeClass, "DirTree", 0x00510000, "ListTree", Tal_NewDirTreeClass,
                           Tal_DisposeDirTreeClass, Tal_DoDirTreeClassMethod, nullptr,
                           sizeof(DirTreeInstance));
}

void Tal_CleanupDirTreeClass() {
    Tal__CleanupClass(&dirTreeClass);
}
