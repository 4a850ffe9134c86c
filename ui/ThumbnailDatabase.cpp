// The listing of a folder's pictures and the thumbnail database of the file requester.
//
// The database is a folder of its own: "Index" (text: "Highest: N", then "number,folder" for every
// folder that has thumbnails), and one sub-folder per listed folder, named by its number, holding a JPEG
// thumbnail per picture (named like the picture) and "_Entries", the records of that folder's files.
// Everything read from it is checked: a damaged record ends the reading, a record that names no plain
// file is dropped, and numbers already seen are never handed out again.
#include "ui/FileRequester.h"
#include "host/dos.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sys/stat.h>

namespace {

constexpr size_t kMaxIndexLine = 4096;
constexpr size_t kMaxIndexSize = 4u << 20;
constexpr size_t kMaxEntriesSize = 16u << 20;
constexpr size_t kMaxRecordName = 259;
constexpr size_t kRecordFixed = 20; // five words

std::mutex servicesLock;
const Tal_PictureServices* services = nullptr;

// The folder table: folder path -> number, read from the Index of the database in use.
struct Table {
    std::string root; // the database folder the table belongs to
    bool read = false;
    ULONG highest = 0;
    std::map<std::string, ULONG> numbers;
};
std::mutex tableLock;
Table table;
std::string chosenRoot; // set by Tal_SetThumbnailDatabase; empty: the default place

ULONG le32(const UBYTE* p) {
    return ULONG(p[0]) | ULONG(p[1]) << 8 | ULONG(p[2]) << 16 | ULONG(p[3]) << 24;
}
void put32(std::vector<UBYTE>& out, ULONG v) {
    for (int i = 0; i < 4; i++) out.push_back(UBYTE(v >> (8 * i)));
}

bool plainName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\\') == std::string::npos;
}

bool readWhole(const std::string& path, size_t limit, std::vector<UBYTE>& out) {
    FILE* f = Tal_OpenFile(path.c_str(), "rb");
    if (!f) return false;
    out.clear();
    UBYTE chunk[65536];
    size_t got;
    bool ok = true;
    while ((got = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
        if (out.size() + got > limit) {
            ok = false;
            break;
        }
        out.insert(out.end(), chunk, chunk + got);
    }
    std::fclose(f);
    return ok;
}

bool writeWhole(const std::string& path, const std::vector<UBYTE>& data) {
    Tal_SafeSave save;
    FILE* f = Tal_SafeSaveOpen(&save, path.c_str(), "wb");
    if (!f) return false;
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), f) != data.size()) {
        Tal_SafeSaveAbort(&save);
        return false;
    }
    return Tal_SafeSaveCommit(&save) != 0;
}

// Creates a folder and the folders above it; true when it is there.
bool makeFolders(const std::string& path) {
    for (size_t at = 1; at <= path.size(); at++) {
        if (at < path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        struct stat st;
        if (stat(part.c_str(), &st) == 0) {
            if (!S_ISDIR(st.st_mode)) return false;
            continue;
        }
        if (!Tal_CreateDir(part.c_str())) return false;
    }
    return true;
}

std::string defaultRoot() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    std::string base;
    if (cache && *cache == '/') {
        base = cache;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home && *home == '/' ? home : "/tmp") + "/.cache";
    }
    return base + "/velura/ImageDatabase";
}

std::string currentRoot() {
    return chosenRoot.empty() ? defaultRoot() : chosenRoot;
}

// Reads the Index of the database in use into the table (under tableLock).
void readIndex() {
    const std::string root = currentRoot();
    if (table.read && table.root == root) return;
    table = Table{};
    table.root = root;
    table.read = true;
    std::vector<UBYTE> data;
    if (!readWhole(root + "/Index", kMaxIndexSize, data)) return;
    std::vector<std::pair<ULONG, std::string>> folders;
    table.highest = Tal_ParseThumbnailIndex(data.data(), data.size(), &folders);
    for (auto& [number, folder] : folders) table.numbers[folder] = number;
}

bool writeIndex() {
    std::string text = "Highest: " + std::to_string(table.highest) + "\n";
    for (const auto& [folder, number] : table.numbers) text += std::to_string(number) + "," + folder + "\n";
    return writeWhole(table.root + "/Index", std::vector<UBYTE>(text.begin(), text.end()));
}

// The database folder of a listed folder, or "" when it has none and `create` is false (or it cannot be
// made). A folder seen for the first time gets the next number; its folder is made when asked to create,
// and then the Index is written.
std::string folderOf(const std::string& folder, bool create) {
    std::lock_guard guard(tableLock);
    readIndex();
    auto it = table.numbers.find(folder);
    if (it != table.numbers.end()) {
        const std::string path = table.root + "/" + std::to_string(it->second);
        struct stat st;
        if (stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path;
        if (!create || !makeFolders(path)) return "";
        return path;
    }
    if (!create || !makeFolders(table.root)) return "";
    // A number whose folder is there already (an Index that lost lines) is skipped.
    for (int tries = 0; tries < 1000; tries++) {
        if (table.highest >= 0x7FFFFFFF) return "";
        const ULONG number = ++table.highest;
        const std::string path = table.root + "/" + std::to_string(number);
        if (Tal_CreateDir(path.c_str())) {
            table.numbers[folder] = number;
            writeIndex();
            return path;
        }
    }
    return "";
}

ULONG fileDate(const struct stat& st) {
    return ULONG(uint64_t(st.st_mtime));
}

std::string lower(const std::string& s) {
    std::string out = s;
    for (char& c : out) c = char(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

void showPicture(Tal_FileEntry& e) {
    e.dimensionText = std::to_string(e.width) + "x" + std::to_string(e.height);
}

} // namespace

void Tal_FreeThumbnail(Tal_Thumbnail* thumbnail) {
    if (!thumbnail) return;
    Tal_FreeMem(thumbnail->bgr);
    *thumbnail = Tal_Thumbnail{};
}

void Tal_SetPictureServices(const Tal_PictureServices* s) {
    std::lock_guard guard(servicesLock);
    services = s;
}

const Tal_PictureServices* Tal_GetPictureServices() {
    std::lock_guard guard(servicesLock);
    return services;
}

void Tal_FitThumbnail(ULONG width, ULONG height, LONG boxWidth, LONG boxHeight, LONG* outWidth,
                      LONG* outHeight) {
    const uint64_t w = std::max<ULONG>(width, 1), h = std::max<ULONG>(height, 1);
    const uint64_t bw = uint64_t(std::max<LONG>(boxWidth, 1)), bh = uint64_t(std::max<LONG>(boxHeight, 1));
    // scale = min(bw / w, bh / h): the width decides when bw * h <= bh * w.
    uint64_t tw, th;
    if (bw * h <= bh * w) {
        tw = bw;
        th = h * bw / w;
    } else {
        th = bh;
        tw = w * bh / h;
    }
    *outWidth = LONG(std::clamp<uint64_t>(tw, 1, bw));
    *outHeight = LONG(std::clamp<uint64_t>(th, 1, bh));
}

void Tal_ClearFileEntries(std::vector<Tal_FileEntry>& entries) {
    for (Tal_FileEntry& e : entries) Tal_FreeThumbnail(&e.thumbnail);
    entries.clear();
}

std::string Tal_FileSizeText(uint64_t bytes) {
    const uint64_t kb = bytes < 2048 ? 1 : bytes / 1024;
    std::string digits = std::to_string(kb);
    for (size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
    return "File Size: " + digits + "KB";
}

bool Tal_ListPictureFiles(const std::string& folder, std::vector<Tal_FileEntry>& entries,
                          const Tal_StopCheck& stop) {
    Tal_ClearFileEntries(entries);
    const Tal_PictureServices* s = Tal_GetPictureServices();
    Tal_DirectoryEntry* dir = Tal_OpenDirectory(folder.c_str());
    if (!dir) return false;
    bool stopped = false;
    while (Tal_ScanDirectory(dir)) {
        if (stop && stop()) {
            stopped = true;
            break;
        }
        const std::string name = dir->name;
        if (name.empty() || name[0] == '.') continue;
        if (!s || !s->isPictureName || !s->isPictureName(name.c_str())) continue;
        std::string path = folder;
        if (path.empty() || path.back() != '/') path += '/';
        path += name;
        struct stat st;
        // Only regular files: a pipe or a device named like a picture would hold the worker for ever.
        if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        Tal_FileEntry e;
        e.name = name;
        e.size = uint64_t(st.st_size);
        e.date = fileDate(st);
        e.sizeText = Tal_FileSizeText(e.size);
        entries.push_back(std::move(e));
    }
    Tal_CloseDirectory(dir);
    if (stopped) {
        Tal_ClearFileEntries(entries);
        return false;
    }
    std::stable_sort(entries.begin(), entries.end(), [](const Tal_FileEntry& a, const Tal_FileEntry& b) {
        return lower(a.name) < lower(b.name);
    });
    return true;
}

std::vector<UBYTE> Tal_EncodeThumbnailRecords(const std::vector<Tal_ThumbnailRecord>& records) {
    std::vector<UBYTE> out;
    for (const Tal_ThumbnailRecord& r : records) {
        const ULONG length = ULONG((r.name.size() + kRecordFixed + 1 + 3) & ~size_t(3));
        out.insert(out.end(), {'M', 'E', 'T', 'I'});
        put32(out, length);
        for (ULONG v : {r.width, r.height, r.spare, r.state, r.date}) put32(out, v);
        out.insert(out.end(), r.name.begin(), r.name.end());
        out.resize(out.size() + (length - kRecordFixed - r.name.size()), 0);
    }
    return out;
}

std::vector<Tal_ThumbnailRecord> Tal_DecodeThumbnailRecords(const UBYTE* data, size_t size) {
    std::vector<Tal_ThumbnailRecord> records;
    size_t at = 0;
    while (data && size - at >= 8) {
        if (std::memcmp(data + at, "METI", 4) != 0) break;
        const uint64_t length = le32(data + at + 4);
        if (length < kRecordFixed + 4 || length % 4 != 0 || length > size - at - 8) break;
        const UBYTE* body = data + at + 8;
        const UBYTE* name = body + kRecordFixed;
        const size_t room = size_t(length) - kRecordFixed;
        const auto* zero = static_cast<const UBYTE*>(std::memchr(name, 0, room));
        if (!zero || size_t(zero - name) > kMaxRecordName) break;
        Tal_ThumbnailRecord r{
            le32(body),      le32(body + 4),
            le32(body + 8),  le32(body + 12),
            le32(body + 16), std::string(reinterpret_cast<const char*>(name), size_t(zero - name))};
        at += 8 + size_t(length);
        if (plainName(r.name)) records.push_back(std::move(r));
    }
    return records;
}

ULONG Tal_ParseThumbnailIndex(const UBYTE* data, size_t size,
                              std::vector<std::pair<ULONG, std::string>>* folders) {
    ULONG highest = 0;
    size_t at = 0;
    bool first = true;
    while (data && at < size) {
        size_t end = at;
        while (end < size && data[end] != '\n' && end - at <= kMaxIndexLine) end++;
        if (end - at > kMaxIndexLine) break;
        const std::string line(reinterpret_cast<const char*>(data) + at, end - at);
        at = end + 1;
        const char* text = line.c_str();
        char* rest = nullptr;
        if (first) {
            first = false;
            if (line.rfind("Highest: ", 0) != 0) break;
            const unsigned long n = std::strtoul(text + 9, &rest, 10);
            if (rest == text + 9 || n > 0x7FFFFFFF) break;
            highest = std::max(highest, ULONG(n));
            continue;
        }
        const unsigned long n = std::strtoul(text, &rest, 10);
        if (rest == text || n == 0 || n > 0x7FFFFFFF) break;
        highest = std::max(highest, ULONG(n));
        if (*rest != ',' || rest[1] != '/' || std::strlen(rest + 1) != line.size() - size_t(rest + 1 - text))
            break;
        if (folders) folders->emplace_back(ULONG(n), std::string(rest + 1));
    }
    return highest;
}

void Tal_SetThumbnailDatabase(const char* folder) {
    std::lock_guard guard(tableLock);
    chosenRoot = folder ? folder : "";
    while (chosenRoot.size() > 1 && chosenRoot.back() == '/') chosenRoot.pop_back();
    table = Table{};
}

std::string Tal_ThumbnailDatabase() {
    std::lock_guard guard(tableLock);
    return currentRoot();
}

void Tal_MakeThumbnails(const std::string& folder, std::vector<Tal_FileEntry>& entries,
                        const Tal_StopCheck& stop, const std::function<void(size_t)>& done) {
    const Tal_PictureServices* s = Tal_GetPictureServices();
    if (!s) return;
    // The Index holds one folder a line.
    const bool storable = folder.find('\n') == std::string::npos && !folder.empty() && folder[0] == '/';
    std::string store = storable ? folderOf(folder, false) : "";
    std::vector<Tal_ThumbnailRecord> stale;
    if (!store.empty()) {
        std::vector<UBYTE> data;
        if (readWhole(store + "/_Entries", kMaxEntriesSize, data)) {
            std::map<std::string, Tal_FileEntry*> byName;
            for (Tal_FileEntry& e : entries) byName[e.name] = &e;
            for (Tal_ThumbnailRecord& r : Tal_DecodeThumbnailRecords(data.data(), data.size())) {
                auto it = byName.find(r.name);
                if (it == byName.end()) {
                    stale.push_back(std::move(r));
                    continue;
                }
                Tal_FileEntry& e = *it->second;
                e.width = r.width;
                e.height = r.height;
                e.spare = r.spare;
                e.state = r.state <= 2 ? r.state : 0;
                e.storedDate = r.date;
            }
        }
    }
    for (size_t i = 0; i < entries.size(); i++) {
        if (stop && stop()) return;
        Tal_FileEntry& e = entries[i];
        // A picture whose file changed is looked at again, whatever was recorded.
        if (e.state != 0 && e.storedDate != e.date) e.state = 0;
        const std::string picture = folder + (folder.back() == '/' ? "" : "/") + e.name;
        if (e.state == 1) {
            if (store.empty() || !s->loadThumbnail(((store + "/") + e.name).c_str(), &e.thumbnail))
                e.state = 0;
        }
        if (e.state == 0) {
            Tal_Thumbnail made{};
            const ULONG error =
                s->makeThumbnail(picture.c_str(), TAL_THUMBNAIL_WIDTH, TAL_THUMBNAIL_HEIGHT, &made);
            if (stop && stop()) {
                Tal_FreeThumbnail(&made);
                return;
            }
            if (error == 1) {
                e.width = made.fullWidth;
                e.height = made.fullHeight;
                e.thumbnail = made;
                if (storable && store.empty()) store = folderOf(folder, true);
                if (!store.empty() && s->saveThumbnail(((store + "/") + e.name).c_str(), &e.thumbnail))
                    e.state = 1;
            } else if (error == 8) {
                e.state = 2;
            }
        }
        e.storedDate = e.date;
        if (e.thumbnail.bgr) showPicture(e);
        if (done) done(i);
    }
    if (store.empty()) return;
    for (const Tal_ThumbnailRecord& r : stale) Tal_DeleteFile(((store + "/") + r.name).c_str());
    std::vector<Tal_ThumbnailRecord> records;
    for (const Tal_FileEntry& e : entries)
        records.push_back({e.width, e.height, e.spare, e.state, e.date, e.name});
    writeWhole(store + "/_Entries", Tal_EncodeThumbnailRecords(records));
}
