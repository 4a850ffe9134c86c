// FileRequester: the program's own file browser. The folders as a tree above the pictures of the chosen
// folder (a row each: its thumbnail and name, or thumbnail, name, size and picture size), a path field and
// a file-name field, and room for an extra object (the save options).
//
// A worker thread lists the folder and makes the thumbnails; it hands what it found to the requester's
// window thread, which alone builds and changes the rows. A new folder (signal 0x8000) or the end (0x1000)
// stops the worker's listing at once.
#include "ui/FileRequester.h"
#include "Tal/Catalogue.h"
#include "Tal/Root.h"
#include "Tal/Thread.h"
#include "ui/Button.h"
#include "ui/Pages.h"
#include "ui/StringEdit.h"
#include "ui/Window.h"
#include "host/dos.h"
#include "host/msgbox.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <sys/stat.h>

namespace {

Tal_Class requesterClass;

constexpr ULONG kListSignal = 0x8000;
constexpr ULONG kEndSignal = SIGBREAKF_CTRL_C;
// Performed in the window's thread: take what the worker handed over.
constexpr ULONG kTakeUpdates = 0x004E0100;
constexpr LONG kRowHeight = TAL_THUMBNAIL_HEIGHT + 5;
constexpr const char* kParent = "(Parent)";
constexpr ULONG kFolderText = 620, kNameText = 621;

// What the window thread shows for a listed file.
struct Row {
    ULONG item = 0, pages = 0, picture = 0, dimensionText = 0;
    std::string name, size, dimension;
    bool folder = false;
};

// What the worker hands over: a listing, or the thumbnail of one row.
struct Update {
    ULONG generation = 0;
    bool listing = false;
    std::vector<Tal_FileEntry> entries; // a listing: names, sizes, folder flags
    size_t index = 0;
    Tal_Thumbnail thumbnail{};
    ULONG width = 0, height = 0;
    bool placeholder = false;
};

struct State {
    std::mutex lock; // the fields below up to `updates`
    std::string directory;
    ULONG generation = 0;
    ULONG window = 0;
    Task* worker = nullptr; // also under the forbid lock
    std::deque<Update> updates;
    // The window thread's.
    std::vector<std::unique_ptr<Row>> rows;
    ULONG shownGeneration = 0;
    std::string title;
    std::string answer; // the folder handed out last
    std::atomic<int> workerStarted{0};
    std::atomic<int> ended{0};
    std::atomic<int> result{0};
};

struct RequesterInstance {
    Tal_Object header;
    ULONG tree, list, pathField, nameField, pathRow, treeSeparator, extraGroup, extra;
    ULONG flags;
    UBYTE own;
    State* state;
};

RequesterInstance* of(void* instance) {
    return static_cast<RequesterInstance*>(instance);
}
ULONG topmost(RequesterInstance* r) {
    return Tal_GetTopMostObject(r->header.handle);
}

// "\" becomes "/"; trailing separators go, a lone "/" stays. "" when the path is too long to keep.
std::string normalised(const char* path) {
    std::string p = path ? path : "";
    for (char& c : p)
        if (c == '\\') c = '/';
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    return p.size() <= TAL_DIR_PATH_MAX ? p : std::string();
}

std::string joined(const std::string& folder, const std::string& name) {
    return folder + (folder.empty() || folder.back() == '/' ? "" : "/") + name;
}

bool isFolder(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void signalWorker(State* s, ULONG signal) {
    Forbid();
    if (s->worker) Signal(s->worker, signal);
    Permit();
}

// ---------------------------------------------------------------------------------------------------
// The worker.

bool stopAsked() {
    return (SetSignal(0, 0) & (kListSignal | kEndSignal)) != 0;
}

// Hands an update to the window's thread (or takes it at once when no window shows the requester).
void handOver(RequesterInstance* r, Update update) {
    State* s = r->state;
    ULONG window;
    {
        std::lock_guard guard(s->lock);
        s->updates.push_back(std::move(update));
        window = s->window;
    }
    // Only the window's thread changes the rows of a requester on the screen.
    if (!window)
        Tal_DoMethod(topmost(r), kTakeUpdates);
    else
        Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, topmost(r), kTakeUpdates, 0, 0);
}

void setPointer(RequesterInstance* r, host_Pointer shape) {
    ULONG window;
    {
        std::lock_guard guard(r->state->lock);
        window = r->state->window;
    }
    if (window)
        Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, window, TAL_SetWindowPointer, ULONG(shape), 0);
}

// The folders of a folder, for the rows shown when the tree is hidden: "(Parent)" first.
void prependFolders(const std::string& folder, std::vector<Tal_FileEntry>& entries) {
    std::vector<Tal_FileEntry> folders;
    if (folder != "/") {
        Tal_FileEntry up;
        up.name = kParent;
        up.folder = true;
        folders.push_back(std::move(up));
    }
    std::vector<std::string> names;
    Tal_DirectoryEntry* dir = Tal_OpenDirectory(folder.c_str());
    while (dir && Tal_ScanDirectory(dir)) {
        const std::string name = dir->name;
        if (!name.empty() && name[0] != '.' && isFolder(joined(folder, name))) names.push_back(name);
    }
    Tal_CloseDirectory(dir);
    auto lower = [](std::string t) {
        for (char& c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
        return t;
    };
    std::stable_sort(names.begin(), names.end(), [&](auto& a, auto& b) { return lower(a) < lower(b); });
    for (const std::string& name : names) {
        Tal_FileEntry e;
        e.name = name;
        e.folder = true;
        folders.push_back(std::move(e));
    }
    entries.insert(entries.begin(), std::make_move_iterator(folders.begin()),
                   std::make_move_iterator(folders.end()));
}

void listFolder(RequesterInstance* r) {
    State* s = r->state;
    std::string folder;
    ULONG generation;
    {
        std::lock_guard guard(s->lock);
        folder = s->directory;
        generation = s->generation;
    }
    std::vector<Tal_FileEntry> entries;
    setPointer(r, host_Pointer::Busy);
    bool listed = Tal_ListPictureFiles(folder, entries, stopAsked);
    if (!listed && !stopAsked()) listed = Tal_ListPictureFiles(folder, entries, stopAsked);
    if (r->own && !stopAsked()) prependFolders(folder, entries);
    setPointer(r, host_Pointer::Arrow);
    if (stopAsked()) {
        Tal_ClearFileEntries(entries);
        return;
    }
    const size_t folders =
        size_t(std::count_if(entries.begin(), entries.end(), [](auto& e) { return e.folder; }));
    Update listing;
    listing.generation = generation;
    listing.listing = true;
    for (const Tal_FileEntry& e : entries) {
        Tal_FileEntry copy;
        copy.name = e.name;
        copy.sizeText = e.sizeText;
        copy.folder = e.folder;
        listing.entries.push_back(std::move(copy));
    }
    handOver(r, std::move(listing));
    std::vector<Tal_FileEntry> pictures(std::make_move_iterator(entries.begin() + long(folders)),
                                        std::make_move_iterator(entries.end()));
    Tal_MakeThumbnails(folder, pictures, stopAsked, [&](size_t i) {
        Update u;
        u.generation = generation;
        u.index = folders + i;
        u.thumbnail = pictures[i].thumbnail;
        pictures[i].thumbnail = {};
        u.width = pictures[i].width;
        u.height = pictures[i].height;
        u.placeholder = !u.thumbnail.bgr;
        handOver(r, std::move(u));
    });
    Tal_ClearFileEntries(pictures);
}

ULONG workerEntry(Tal_Word userData) {
    auto* r = reinterpret_cast<RequesterInstance*>(userData);
    State* s = r->state;
    Forbid();
    s->worker = FindTask(nullptr);
    Permit();
    s->workerStarted = 1;
    for (;;) {
        const ULONG got = Wait(kListSignal | kEndSignal);
        if (got & kEndSignal) break;
        if (got & kListSignal) listFolder(r);
    }
    Forbid();
    s->worker = nullptr;
    Permit();
    return 0;
}

std::string directoryOf(RequesterInstance* r) {
    std::lock_guard guard(r->state->lock);
    return r->state->directory;
}

// ---------------------------------------------------------------------------------------------------
// Rows (in the window's thread).

Tal_Word rowPressed(Tal_Word requester, ULONG source, ULONG, const Tal_Word*) {
    const auto* name = reinterpret_cast<const char*>(Tal_DoMethod(source, TAL_GetLabel));
    return name ? Tal_DoMethod(ULONG(requester), TAL_RequesterRowPressed, name) : 0;
}

Tal_Word rowActivated(Tal_Word requester, ULONG source, ULONG, const Tal_Word*) {
    auto* r = static_cast<RequesterInstance*>(Tal_GetObjectInstance(ULONG(requester)));
    if (!r) return 0;
    const auto* name = reinterpret_cast<const char*>(Tal_DoMethod(source, TAL_GetLabel));
    // A folder row opens the folder; a picture row is the answer.
    if (name && (std::strcmp(name, kParent) == 0 || isFolder(joined(directoryOf(r), name)))) return 0;
    r->state->result = 1;
    r->state->ended = 1;
    return 1;
}

void clearRows(RequesterInstance* r) {
    Tal_DoMethod(r->list, TAL_ClearListTree);
    r->state->rows.clear();
}

std::unique_ptr<Row> makeRow(RequesterInstance* r, const Tal_FileEntry& e) {
    auto row = std::make_unique<Row>();
    row->dimension.reserve(32); // its text is shown from this buffer: it must not move
    row->name = e.name;
    row->size = e.sizeText;
    row->folder = e.folder;
    const bool thumbnails = r->flags & TAL_REQUESTER_THUMBNAILS;
    ULONG placeholder = 0;
    // clang-format off
    row->item = Tal_CreateObjects(0,
        TAL_TREE_OBJECT, "ListTreeItem", TAL_SetLabel, row->name.c_str(),
            TAL_TREE_OBJECT, "Group", TAL_TREE_HANDLE, &row->pages, TAL_SetGroupOrientation, TAL_PAGES,
                TAL_SetWeight, 0,
                TAL_TREE_OBJECT, "BitMap", TAL_TREE_HANDLE, &row->picture,
                    TAL_SetBitMapFixedWidth, TAL_THUMBNAIL_WIDTH, TAL_SetBitMapFixedHeight, TAL_THUMBNAIL_HEIGHT,
                TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "VectorImage", TAL_TREE_HANDLE, &placeholder, TAL_SetVectorShape,
                    TAL_SHAPE_QUESTION, TAL_SetSpaceFixedWidth, TAL_THUMBNAIL_WIDTH, TAL_SetSpaceFixedHeight,
                    TAL_THUMBNAIL_HEIGHT,
                TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
        TAL_TREE_CLOSE);
    // clang-format on
    if (!row->item || !row->pages || !row->picture || !placeholder) {
        Tal_DisposeObject(row->item);
        return nullptr;
    }
    Tal__SelectPage(row->pages, 0); // the thumbnail's place; the placeholder shows when there is none
    if (thumbnails || row->folder) {
        Tal_AddObject(row->item, "Text", TAL_SetLabel, row->name.c_str(), TAL_SetTextMode, TAL_TEXT_PLAIN);
    } else {
        ULONG column = Tal_CreateObjects(0, TAL_TREE_VGROUP, TAL_TREE_CLOSE);
        Tal_AddObject(column, "Text", TAL_SetLabel, row->name.c_str(), TAL_SetTextMode, TAL_TEXT_PLAIN);
        Tal_AddObject(column, "Text", TAL_SetLabel, row->size.c_str(), TAL_SetTextMode, TAL_TEXT_PLAIN);
        row->dimensionText = Tal_AddObject(column, "Text", TAL_SetLabel, row->dimension.c_str(),
                                           TAL_SetTextMode, TAL_TEXT_PLAIN);
        if (column && !Tal_DoMethod(row->item, TAL_AddTail, column)) Tal_DisposeObject(column);
    }
    if (row->folder) {
        // A folder shows the folder picture in place of a thumbnail.
        Tal_DoMethod(row->picture, TAL_LoadBitMap, "Data/Images/FolderContracted.iff");
        Tal_DoMethod(row->picture, TAL_SetBitMapFixedWidth, 0);
        Tal_DoMethod(row->picture, TAL_SetBitMapFixedHeight, 0);
    }
    const ULONG me = topmost(r);
    Tal_AddCallBackNotify(row->item, TAL_Pressed, TAL_AnyValue, rowPressed, me);
    Tal_AddCallBackNotify(row->item, TAL_RowActivated, TAL_AnyValue, rowActivated, me);
    return row;
}

void showListing(RequesterInstance* r, const std::vector<Tal_FileEntry>& entries) {
    clearRows(r);
    Tal_DoMethod(r->list, TAL_HoldLayout);
    for (const Tal_FileEntry& e : entries) {
        std::unique_ptr<Row> row = makeRow(r, e);
        if (!row) continue;
        if (!Tal_DoMethod(r->list, TAL_AddTail, row->item)) {
            Tal_DisposeObject(row->item);
            continue;
        }
        r->state->rows.push_back(std::move(row));
    }
    Tal_DoMethod(r->list, TAL_ReleaseLayout);
}

void showThumbnail(RequesterInstance* r, Update& u) {
    if (u.index >= r->state->rows.size()) return;
    Row& row = *r->state->rows[u.index];
    if (u.placeholder) {
        Tal__SelectPage(row.pages, 1);
        return;
    }
    row.dimension = std::to_string(u.width) + "x" + std::to_string(u.height);
    if (row.dimensionText) Tal_DoMethod(row.dimensionText, TAL_SetLabel, row.dimension.c_str());
    Tal_DoMethod(row.picture, TAL_SetBitMapRows, u.thumbnail.width, u.thumbnail.height, u.thumbnail.bgr,
                 u.thumbnail.width * 3);
    // The thumbnail's own size inside the box, centred by the row.
    Tal_DoMethod(row.picture, TAL_SetBitMapFixedWidth, u.thumbnail.width);
    Tal_DoMethod(row.picture, TAL_SetBitMapFixedHeight, u.thumbnail.height);
    Tal_RelayoutAndRedrawObject(row.item);
}

void takeUpdates(RequesterInstance* r) {
    State* s = r->state;
    std::deque<Update> taken;
    ULONG current;
    {
        std::lock_guard guard(s->lock);
        taken.swap(s->updates);
        current = s->generation;
    }
    for (Update& u : taken) {
        if (u.generation == current) {
            if (u.listing) {
                showListing(r, u.entries);
                s->shownGeneration = u.generation;
            } else if (s->shownGeneration == current) {
                showThumbnail(r, u);
            }
        }
        Tal_FreeThumbnail(&u.thumbnail);
    }
}

// ---------------------------------------------------------------------------------------------------
// Folder and name.

ULONG setDirectory(RequesterInstance* r, const char* path) {
    const std::string folder = normalised(path);
    if (folder.empty()) return 0;
    State* s = r->state;
    {
        std::lock_guard guard(s->lock);
        if (folder == s->directory) return 1;
        s->directory = folder;
        s->generation++;
    }
    Tal_DoMethod(r->tree, TAL_SetDirTreePath, folder.c_str());
    Tal_DoMethod(r->pathField, TAL_SetString, folder.c_str());
    signalWorker(s, kListSignal);
    return 1;
}

void setFile(RequesterInstance* r, const char* name) {
    Tal_DoMethod(r->nameField, TAL_SetString, name ? name : "");
    Tal_DoNotify(topmost(r), TAL_SetRequesterFile, Tal_DoMethod(r->nameField, TAL_GetString));
}

ULONG rowChosen(RequesterInstance* r, const char* name) {
    if (!name) return 0;
    const std::string folder = directoryOf(r);
    if (std::strcmp(name, kParent) == 0) {
        std::string up = folder;
        const size_t slash = up.find_last_of('/');
        up = slash == std::string::npos || slash == 0 ? "/" : up.substr(0, slash);
        return setDirectory(r, up.c_str());
    }
    const std::string path = joined(folder, name);
    if (isFolder(path)) return setDirectory(r, path.c_str());
    setFile(r, name);
    return 1;
}

Tal_Word treeChose(Tal_Word requester, ULONG, ULONG, const Tal_Word* args) {
    const ULONG node = args ? ULONG(args[0]) : 0;
    const auto* path = node ? reinterpret_cast<const char*>(Tal_DoMethod(node, TAL_GetDirNodePath)) : nullptr;
    return path ? Tal_DoMethod(ULONG(requester), TAL_SetRequesterDirectory, path) : 0;
}

Tal_Word pathTyped(Tal_Word requester, ULONG, ULONG, const Tal_Word* args) {
    return args ? Tal_DoMethod(ULONG(requester), TAL_SetRequesterDirectory, args[0]) : 0;
}

// The selected names: of the selected rows, or with none the file-name field's text.
const char* firstSelected(RequesterInstance* r) {
    if (ULONG item = ULONG(Tal_DoMethod(r->list, TAL_GetFirstSelected)))
        return reinterpret_cast<const char*>(Tal_DoMethod(item, TAL_GetLabel));
    return reinterpret_cast<const char*>(Tal_DoMethod(r->nameField, TAL_GetString));
}

const char* nextSelected(RequesterInstance* r, const char* previous) {
    for (ULONG item = ULONG(Tal_DoMethod(r->list, TAL_GetFirstSelected)); item;
         item = ULONG(Tal_DoMethod(r->list, TAL_GetNextSelected, item))) {
        if (reinterpret_cast<const char*>(Tal_DoMethod(item, TAL_GetLabel)) != previous) continue;
        const ULONG next = ULONG(Tal_DoMethod(r->list, TAL_GetNextSelected, item));
        return next ? reinterpret_cast<const char*>(Tal_DoMethod(next, TAL_GetLabel)) : nullptr;
    }
    return nullptr;
}

void setOwn(RequesterInstance* r, bool own) {
    if (r->own == UBYTE(own)) return;
    r->own = own;
    for (ULONG part : {r->tree, r->pathRow, r->treeSeparator}) Tal_DoMethod(part, own ? TAL_Hide : TAL_Show);
}

// ---------------------------------------------------------------------------------------------------
// Running.

Tal_Word ended(Tal_Word requester, ULONG, ULONG, const Tal_Word*) {
    auto* r = static_cast<RequesterInstance*>(Tal_GetObjectInstance(ULONG(requester)));
    if (r) r->state->ended = 1;
    return 1;
}

Tal_Word okPressed(Tal_Word requester, ULONG, ULONG, const Tal_Word*) {
    auto* r = static_cast<RequesterInstance*>(Tal_GetObjectInstance(ULONG(requester)));
    if (!r) return 0;
    r->state->result = 1;
    r->state->ended = 1;
    return 1;
}

ULONG run(RequesterInstance* r, ULONG parent) {
    State* s = r->state;
    const ULONG me = topmost(r);
    s->ended = 0;
    s->result = 0;
    s->workerStarted = 0;
    ULONG thread = Tal_CreateObject("Thread", TAL_SetThreadName, "Tal File Requester Thread",
                                    TAL_SetThreadEntry, workerEntry, TAL_SetThreadStackSize, 0x4000);
    ULONG ok = 0, cancel = 0;
    const ULONG buttons =
        Tal_CreateObjects(0, TAL_TREE_HGROUP, TAL_SetWeight, 0,                                        //
                          TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &ok, TAL_SetShortcutKey, 13,     //
                          TAL_TREE_LABEL, "Ok", TAL_TREE_CLOSE, TAL_TREE_SPACE, 2,                     //
                          TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &cancel, TAL_SetShortcutKey, 27, //
                          TAL_TREE_LABEL, "Cancel", TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    const ULONG window =
        Tal_CreateObject("Window", TAL_SetWindowTitle, s->title.c_str(), TAL_SetWindowX, 70, TAL_SetWindowY,
                         40, TAL_SetWindowDefaultW, 450, TAL_SetWindowDefaultH, 440, TAL_SetWindowType, 64,
                         TAL_SetWindowPositionID, 0x004E0000, TAL_SetGroupMargin,
                         Tal_GetGlobalData()->standardMargin, TAL_SetRequesterButtons, buttons,
                         // Above the windows of the program, the start window among them.
                         TAL_SetWindowHostFlags, WFLG_POPUP);
    Tal_Word parentClosed = 0;
    auto undo = [&] {
        if (parentClosed) Tal_RemoveNotify(parent, parentClosed);
        Tal_DisposeObject(thread);
        if (window) Tal_DoMethod(window, TAL_RemoveMember, me);
        if (parent && window) Tal_DoMethod(parent, TAL_RemoveMember, window);
        Tal_DisposeObject(window);
        // The window takes its button row when it first opens.
        if (buttons && !Tal_GetParentObject(buttons)) Tal_DisposeObject(buttons);
    };
    if (!thread || !buttons || !window || !ok || !cancel) {
        undo();
        return 0;
    }
    Tal_DoMethod(thread, TAL_SetUserData, r);
    Tal_AddCallBackNotify(ok, TAL_ButtonClicked, TAL_AnyValue, okPressed, me);
    Tal_AddCallBackNotify(cancel, TAL_ButtonClicked, TAL_AnyValue, ended, me);
    Tal_AddCallBackNotify(window, TAL_CloseWindow, TAL_AnyValue, ended, me);
    // Closing the window it belongs to (quitting the program) cancels it: the answer to that waits for it.
    if (parent) parentClosed = Tal_AddCallBackNotify(parent, TAL_CloseWindow, TAL_AnyValue, ended, me);
    if (parent) Tal_DoMethod(parent, TAL_AddTail, window);
    Tal_AlignRequestorPosition(window);
    if (!Tal_DoMethod(window, TAL_AddTail, me)) {
        undo();
        return 0;
    }
    // A worker that does not start ends the request: nothing would ever be listed.
    if (!Tal_DoMethod(thread, TAL_Start)) {
        undo();
        return 0;
    }
    for (int tries = 0; !s->workerStarted; tries++) {
        if (tries > 500) {
            undo();
            return 0;
        }
        Delay(1);
    }
    Tal_DoMethod(window, TAL_Start);
    // A window that cannot open (no screen) ends the request: nobody could answer it.
    for (int tries = 0; !Tal_DoMethod(window, TAL_GetHostWindow); tries++) {
        if (tries > 250) {
            undo();
            return 0;
        }
        Delay(1);
    }
    {
        std::lock_guard guard(s->lock);
        s->window = window;
        s->generation++; // what was listed before is shown again, freshly
    }
    signalWorker(s, kListSignal);
    while (!s->ended && !(SetSignal(0, 0) & kEndSignal)) Delay(5);
    const ULONG result = s->result ? 1 : 0;
    // The worker goes first, then the window; the requester leaves the window before it goes.
    Tal_DisposeObject(thread);
    thread = 0;
    Tal_DoMethod(window, TAL_CloseWindow);
    {
        std::lock_guard guard(s->lock);
        s->window = 0;
    }
    undo();
    return result;
}

} // namespace

void* Tal_NewFileRequesterClass(const TagItem*) {
    auto* r = of(Tal_AllocObjectMem(&requesterClass));
    if (!r) return nullptr;
    r->state = new (std::nothrow) State;
    r->header.superObject =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 2);
    // clang-format off
    const ULONG parts = r->state && r->header.superObject ? Tal_CreateObjects(0,
        TAL_TREE_VGROUP,
            TAL_TREE_OBJECT, "DirTree", TAL_TREE_HANDLE, &r->tree, TAL_SetWeight, 50, TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "Space", TAL_TREE_HANDLE, &r->treeSeparator, TAL_SetSpaceFixedHeight, 2,
                TAL_SetSpaceSeparator, 1, TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "ListTree", TAL_TREE_HANDLE, &r->list, TAL_SetWeight, 150, TAL_SetVScrollStep,
                kRowHeight, TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_TREE_HANDLE, &r->pathRow, TAL_SetWeight, 0, TAL_SetGroupSpacing, 4,
                TAL_TREE_LABEL, Tal_GetCatalogueText(kFolderText),
                TAL_TREE_OBJECT, "StringEdit", TAL_TREE_HANDLE, &r->pathField, TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP, TAL_SetWeight, 0, TAL_SetGroupSpacing, 4,
                TAL_TREE_LABEL, Tal_GetCatalogueText(kNameText),
                TAL_TREE_OBJECT, "StringEdit", TAL_TREE_HANDLE, &r->nameField, TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_VGROUP, TAL_TREE_HANDLE, &r->extraGroup, TAL_SetWeight, 0, TAL_TREE_CLOSE,
        TAL_TREE_CLOSE) : 0;
    // clang-format on
    if (!parts || !r->tree || !r->list || !r->pathField || !r->nameField || !r->extraGroup ||
        !Tal_DoMethod(r->header.superObject, TAL_AddTail, parts)) {
        Tal_DisposeObject(parts);
        Tal_DisposeObject(r->header.superObject);
        delete r->state;
        Tal_FreeObjectMem(r);
        return nullptr;
    }
    const ULONG me = r->header.handle;
    Tal_AddCallBackNotify(r->tree, TAL_SetActiveNode, TAL_AnyValue, treeChose, me);
    Tal_AddCallBackNotify(r->pathField, TAL_SetString, TAL_AnyValue, pathTyped, me);
    // It starts in the home folder.
    const ULONG home = ULONG(Tal_DoMethod(r->tree, TAL_GetDirTreeRoot));
    setDirectory(r, reinterpret_cast<const char*>(Tal_DoMethod(home, TAL_GetDirNodePath)));
    return r;
}

void Tal_DisposeFileRequesterClass(void* instance) {
    auto* r = of(instance);
    Tal_DisposeObject(r->header.superObject); // with the tree, the list and the extra object
    for (Update& u : r->state->updates) Tal_FreeThumbnail(&u.thumbnail);
    delete r->state;
    Tal_FreeObjectMem(r);
}

Tal_Word Tal_DoFileRequesterClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* r = of(instance);
    switch (id) {
    case TAL_SetRequesterDirectory:
        return setDirectory(r, reinterpret_cast<const char*>(args[0]));
    case TAL_GetRequesterDirectory: {
        // The folder itself: the path field keeps 255 characters, a folder may have up to 259.
        std::lock_guard guard(r->state->lock);
        r->state->answer = r->state->directory;
        return reinterpret_cast<Tal_Word>(r->state->answer.c_str());
    }
    case TAL_SetRequesterFile:
        setFile(r, reinterpret_cast<const char*>(args[0]));
        return 1;
    case TAL_GetRequesterFile:
        return Tal_DoMethod(r->nameField, TAL_GetString);
    case TAL_RunFileRequester:
        return run(r, ULONG(args[0]));
    case TAL_SetRequesterTitle: {
        const char* title = reinterpret_cast<const char*>(args[0]);
        r->state->title = title ? title : "";
        return 1;
    }
    case TAL_GetRequesterTitle:
        return reinterpret_cast<Tal_Word>(r->state->title.c_str());
    case TAL_SetRequesterFlags:
        r->flags = ULONG(args[0]);
        return 1;
    case TAL_RequesterRowPressed:
        return rowChosen(r, reinterpret_cast<const char*>(args[0]));
    case TAL_SetRequesterExtra: {
        const ULONG extra = ULONG(args[0]);
        if (r->extra) Tal_DoMethod(r->extraGroup, TAL_RemoveMember, r->extra);
        r->extra = extra && Tal_DoMethod(r->extraGroup, TAL_AddTail, extra) ? extra : 0;
        return r->extra == extra;
    }
    case TAL_SetOwnRequester:
        setOwn(r, args[0] != 0);
        return 1;
    case TAL_GetOwnRequester:
        return r->own;
    case TAL_SetMultiSelect:
    case TAL_GetMultiSelect:
        return Tal_DoMethodA(r->list, id, args);
    case TAL_GetFirstSelected:
        return reinterpret_cast<Tal_Word>(firstSelected(r));
    case TAL_GetNextSelected:
        return reinterpret_cast<Tal_Word>(nextSelected(r, reinterpret_cast<const char*>(args[0])));
    case kTakeUpdates:
        takeUpdates(r);
        return 1;
    case TAL_TAG_RequesterNameField:
        return r->nameField;
    default:
        return Tal_DoMethodA(r->header.superObject, id, args);
    }
}

ULONG Tal_InitFileRequesterClass() {
    return Tal__SetupClass(&requesterClass, "FileRequester", 0x004E0000, "Group", Tal_NewFileRequesterClass,
                           Tal_DisposeFileRequesterClass, Tal_DoFileRequesterClassMethod, nullptr,
                           sizeof(RequesterInstance));
}

void Tal_CleanupFileRequesterClass() {
    Tal__CleanupClass(&requesterClass);
}

// ---------------------------------------------------------------------------------------------------
// The functions the program asks for files with.

ULONG Tal_FileRequestA(const char* title, char* directory, char* file, void* drawInfo, ULONG flags,
                       const TagItem* tags) {
    auto* keep = reinterpret_cast<ULONG*>(GetTagData(TAL_TAG_RequesterKeep, 0, tags));
    if (keep) *keep = 0;
    const ULONG requester =
        Tal_CreateObject("FileRequester", TAL_SetRequesterTitle, title ? title : "", TAL_SetRequesterFlags,
                         GetTagData(TAL_TAG_RequesterFlags, 0, tags));
    if (!requester) return 0;
    const std::string start = directory && *directory ? directory : "";
    if (!start.empty()) Tal_DoMethod(requester, TAL_SetRequesterDirectory, start.c_str());
    if (file) Tal_DoMethod(requester, TAL_SetRequesterFile, file);
    if (ULONG extra = ULONG(GetTagData(TAL_SetRequesterExtra, 0, tags)))
        Tal_DoMethod(requester, TAL_SetRequesterExtra, extra);
    if (FindTagItem(TAL_SetOwnRequester, tags))
        Tal_DoMethod(requester, TAL_SetOwnRequester, GetTagData(TAL_SetOwnRequester, 0, tags));
    if (keep && !(flags & TAL_FILEREQUEST_SAVE)) Tal_DoMethod(requester, TAL_SetMultiSelect, 1);
    if (auto* field = reinterpret_cast<ULONG*>(GetTagData(TAL_TAG_RequesterNameField, 0, tags)))
        *field = ULONG(Tal_DoMethod(requester, TAL_TAG_RequesterNameField));
    // Where it opens: beside the window of the drawing context given, else on its own.
    const auto* di = static_cast<const Tal_DrawInfo*>(drawInfo);
    ULONG result;
    if (LONG answer; host_TakeQueuedAnswer(&answer)) {
        KPrintF("requester: %s answered %ld\n", title ? title : "", long(answer));
        result = answer == 1 ? 1 : 0;
    } else {
        result = ULONG(Tal_DoMethod(requester, TAL_RunFileRequester, di ? di->windowObject : 0));
    }
    if (result) {
        const auto* folder =
            reinterpret_cast<const char*>(Tal_DoMethod(requester, TAL_GetRequesterDirectory));
        const auto* name = reinterpret_cast<const char*>(Tal_DoMethod(requester, TAL_GetRequesterFile));
        // A folder or name that does not fit is an error, never cut.
        if (!folder || !name || std::strlen(folder) >= TAL_REQUESTER_PATH_SIZE ||
            std::strlen(name) >= TAL_REQUESTER_PATH_SIZE) {
            result = 0;
        } else {
            if (directory) std::snprintf(directory, TAL_REQUESTER_PATH_SIZE, "%s", folder);
            if (file) std::snprintf(file, TAL_REQUESTER_PATH_SIZE, "%s", name);
        }
    }
    if (keep && result) {
        *keep = requester;
        return result;
    }
    // The extra object stays its owner's.
    Tal_DoMethod(requester, TAL_SetRequesterExtra, 0);
    Tal_DisposeObject(requester);
    return result;
}

const char* Tal_GetFirstFileRequestSelection(ULONG requester) {
    return reinterpret_cast<const char*>(Tal_DoMethod(requester, TAL_GetFirstSelected));
}

const char* Tal_GetNextFileRequestSelection(ULONG requester, const char* previous) {
    return reinterpret_cast<const char*>(Tal_DoMethod(requester, TAL_GetNextSelected, previous));
}

void Tal_EndFileRequest(ULONG requester) {
    if (requester) Tal_DoMethod(requester, TAL_SetRequesterExtra, 0);
    Tal_DisposeObject(requester);
}
