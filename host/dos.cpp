// Files, directories and paths on POSIX.
#include "host/dos.h"
#include "host/host.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef VELURA_DATA_DIR
#define VELURA_DATA_DIR "data"
#endif

static_assert(NAME_MAX < TAL_NAME_SIZE, "every directory entry name must fit the entry record");

namespace {

using std::optional;
using std::string;
using std::string_view;
using Names = std::vector<string>;

// The interface reports failures as results: memory running out inside a container becomes one too.
template <typename R, typename F>
R guarded(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

bool isSeparator(char c) {
    return c == '/' || c == '\\';
}
bool endsWithSeparator(string_view s) {
    return !s.empty() && isSeparator(s.back());
}

// Every path handed to the system leaves room for its terminator in PATH_MAX.
bool fitsHost(const string& path) {
    return path.size() < PATH_MAX;
}

string toHost(string_view name) {
    string s(name);
    std::replace(s.begin(), s.end(), '\\', '/');
    return s;
}

// The joining rule of AddPart: one separator between the parts, never two.
string joinNames(string_view path, string_view name) {
    if (path.empty()) return string(name);
    if (name.empty()) return string(path);
    string out(path);
    if (endsWithSeparator(path)) {
        while (!name.empty() && isSeparator(name.front())) name.remove_prefix(1);
    } else if (!isSeparator(name.front())) {
        out += path.find('/') != string_view::npos ? '/' : '\\';
    }
    out += name;
    return out;
}

// Joins host paths, where only "/" separates.
string hostJoin(const string& dir, string_view name) {
    string out = dir;
    if (out.empty() || out.back() != '/') out += '/';
    out += name;
    return out;
}

// The directory holding a host path, without its trailing separator ("/" for the root).
string parentOf(string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    if (slash == string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

string lastComponent(string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    size_t slash = path.rfind('/');
    return slash == string::npos ? path : path.substr(slash + 1);
}

bool exists(const string& path) {
    struct stat st;
    return fitsHost(path) && lstat(path.c_str(), &st) == 0;
}

bool isDirectory(const string& path) {
    struct stat st;
    return fitsHost(path) && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// ---------------------------------------------------------------------------------------------------
// The installation and user directories, absolute and ending with "/", read from the environment once.

struct Directories {
    bool settled = false;
    string install;
    string user; // empty when there is no home to put it in
};

std::mutex directoriesLock;
Directories directories;

string environmentText(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

string homeDirectory() {
    string home = environmentText("HOME");
    if (!home.empty()) return home;
    struct passwd entry, *found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir)
        return found->pw_dir;
    return "";
}

string absoluteDirectory(const string& dir) {
    string path = toHost(dir);
    if (path.empty()) return path;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (getcwd(cwd, sizeof cwd)) path = hostJoin(cwd, path);
    }
    if (path.back() != '/') path += '/';
    return path;
}

Directories programDirectories() {
    std::lock_guard lock(directoriesLock);
    if (!directories.settled) {
        string home = environmentText("VELURA_HOME");
        directories.install = absoluteDirectory(home.empty() ? string(VELURA_DATA_DIR) : home);
        string user = environmentText("VELURA_USER_DIR");
        if (user.empty()) {
            // A relative XDG_CONFIG_HOME is invalid and ignored.
            string config = environmentText("XDG_CONFIG_HOME");
            if (config.empty() || config[0] != '/') {
                string userHome = homeDirectory();
                config = userHome.empty() ? "" : hostJoin(userHome, ".config");
            }
            if (!config.empty()) user = hostJoin(config, "velura");
        }
        directories.user = absoluteDirectory(user);
        directories.settled = true;
    }
    return directories;
}

// ---------------------------------------------------------------------------------------------------
// Program names.

struct ProgramName {
    bool absolute;
    string path;        // host form: the absolute path, or the part below the installation directory
    bool trailingSlash; // the name ended with a separator
};

ProgramName parseName(const char* name) {
    string s = toHost(name);
    bool trailing = endsWithSeparator(name);
    if (!s.empty() && s[0] == '/') return {true, s, trailing};
    struct Prefix {
        const char* prefix;
        const char* below;
    };
    static constexpr Prefix prefixes[] = {{"Velura:", ""}, {"Tal_Images:", "Data/Images/"}};
    for (const Prefix& p : prefixes) {
        size_t n = std::strlen(p.prefix);
        if (s.size() >= n && strncasecmp(s.c_str(), p.prefix, n) == 0) {
            size_t rest = n;
            while (rest < s.size() && s[rest] == '/') rest++;
            return {false, p.below + s.substr(rest), trailing};
        }
    }
    return {false, s, trailing};
}

// The entry of dir equal to name but for ASCII case; the smallest by bytes when several are.
optional<string> findFolded(const string& dir, string_view name) {
    DIR* d = opendir(dir.c_str());
    if (!d) return std::nullopt;
    optional<string> best;
    while (dirent* e = readdir(d)) {
        if (std::strlen(e->d_name) == name.size() && strncasecmp(e->d_name, name.data(), name.size()) == 0 &&
            (!best || *best > e->d_name))
            best = e->d_name;
    }
    closedir(d);
    return best;
}

// Finds rel below base (which ends with "/"), one component at a time, each missing component matched
// case-insensitively. With keepMissing, the components from the first one that matches nothing on are
// kept as spelled (a name about to be created); otherwise nothing is found.
optional<string> findBelow(const string& base, const string& rel, bool keepMissing) {
    string current = base;
    bool missing = false;
    size_t pos = 0;
    while (pos < rel.size()) {
        size_t end = std::min(rel.find('/', pos), rel.size());
        string_view component(rel.data() + pos, end - pos);
        pos = end + 1;
        if (component.empty()) continue;
        string next = current + string(component);
        if (!missing && !exists(next)) {
            if (optional<string> match = findFolded(current, component))
                next = current + *match;
            else if (keepMissing)
                missing = true;
            else
                return std::nullopt;
        }
        if (!fitsHost(next)) return std::nullopt;
        current = next + '/';
    }
    if (current != base && !rel.empty() && rel.back() != '/') current.pop_back();
    return current;
}

// Creates every missing directory along path.
bool makeDirectories(const string& path) {
    for (size_t i = 1; i <= path.size(); i++) {
        if (i < path.size() && path[i] != '/') continue;
        string prefix = path.substr(0, i);
        if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    return isDirectory(path);
}

// The file a name reads: its user copy, else its installation copy, each first as spelled.
optional<string> resolveRead(const ProgramName& name) {
    if (name.absolute) return fitsHost(name.path) ? optional(name.path) : std::nullopt;
    Directories dirs = programDirectories();
    const string* bases[] = {&dirs.user, &dirs.install};
    for (const string* base : bases)
        if (!base->empty() && exists(*base + name.path)) return *base + name.path;
    for (const string* base : bases)
        if (!base->empty())
            if (optional<string> found = findBelow(*base, name.path, false)) return found;
    errno = ENOENT;
    return std::nullopt;
}

// Where a name is written: a relative one in the user directory, its parents created on request.
optional<string> resolveWrite(const ProgramName& name, bool makeParents) {
    if (name.absolute) return fitsHost(name.path) ? optional(name.path) : std::nullopt;
    Directories dirs = programDirectories();
    if (dirs.user.empty()) return std::nullopt;
    string spelled = dirs.user + name.path;
    optional<string> path = exists(spelled) ? optional(spelled) : findBelow(dirs.user, name.path, true);
    if (!path || !fitsHost(*path)) return std::nullopt;
    if (makeParents && !makeDirectories(parentOf(*path))) return std::nullopt;
    return path;
}

// Every name of a directory, "." and ".." included, or nothing when it cannot be read.
optional<Names> listDirectory(const string& path) {
    DIR* d = opendir(path.c_str());
    if (!d) return std::nullopt;
    Names names;
    while (dirent* e = readdir(d)) names.emplace_back(e->d_name);
    closedir(d);
    return names;
}

bool isDotName(const string& name) {
    return name == "." || name == "..";
}

// Opens a regular file only, with the C library's modes. A pipe, device, socket or directory is refused
// at once (errno EISDIR for a directory, ENODEV for the others) and never read, written or waited on: the
// file is opened without waiting and looked at before anything else happens to it.
FILE* openRegular(const string& path, const char* mode) {
    const bool plus = std::strchr(mode, '+') != nullptr;
    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    switch (mode[0]) {
    case 'r':
        flags |= plus ? O_RDWR : O_RDONLY;
        break;
    case 'w':
        flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT;
        break;
    case 'a':
        flags |= (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
        break;
    default:
        errno = EINVAL;
        return nullptr;
    }
    if (!fitsHost(path)) {
        errno = ENAMETOOLONG;
        return nullptr;
    }
    const int fd = open(path.c_str(), flags, 0666);
    if (fd < 0) {
        if (errno == ENXIO) errno = ENODEV; // a pipe without a reader, a socket, a device without a driver
        return nullptr;
    }
    struct stat st;
    int problem = 0;
    if (fstat(fd, &st) != 0)
        problem = errno;
    else if (!S_ISREG(st.st_mode))
        problem = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
    // Truncating waits until now: only a regular file is ever cut.
    else if (mode[0] == 'w' && ftruncate(fd, 0) != 0)
        problem = errno;
    else if (fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        problem = errno;
    FILE* file = problem ? nullptr : fdopen(fd, mode);
    if (!file) {
        if (!problem) problem = errno;
        close(fd);
        errno = problem;
    }
    return file;
}

// ---------------------------------------------------------------------------------------------------
// Safe saving on host paths.

std::atomic<bool> failNextSave{false};

// Temporary files of safe saves: the prefix, the saving process's id, "-" and six characters, so that a
// later start can tell the files of a process that was killed from those of one that still saves.
constexpr const char* kSafeSavePrefix = ".velura-save-";

// The id of the process whose safe save left this name; 0 when the name is not one of ours.
pid_t safeSaveOwner(const string& name) {
    const size_t prefix = std::strlen(kSafeSavePrefix);
    if (name.compare(0, prefix, kSafeSavePrefix) != 0) return 0;
    const size_t dash = name.find('-', prefix);
    if (dash == string::npos || dash == prefix || dash > prefix + 9 || name.size() != dash + 7) return 0;
    pid_t pid = 0;
    for (size_t i = prefix; i < dash; i++) {
        if (name[i] < '0' || name[i] > '9') return 0;
        pid = pid * 10 + (name[i] - '0');
    }
    return pid;
}

// Removes the temporary files of safe saves whose process has ended, in dir and below (links are never
// followed); depth bounds the walk.
void removeStaleSaves(const string& dir, int depth) {
    optional<Names> names = listDirectory(dir);
    if (!names) return;
    for (const string& name : *names) {
        if (isDotName(name)) continue;
        const string path = hostJoin(dir, name);
        struct stat st;
        if (!fitsHost(path) || lstat(path.c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) {
            if (depth > 0) removeStaleSaves(path, depth - 1);
            continue;
        }
        const pid_t owner = safeSaveOwner(name);
        if (S_ISREG(st.st_mode) && st.st_uid == getuid() && owner > 0 && kill(owner, 0) != 0 &&
            errno == ESRCH && unlink(path.c_str()) == 0)
            KPrintF("removed %s, left by a save that never ended\n", path.c_str());
    }
}

mode_t currentUmask() {
    // Reading the mask with umask() would change it for a moment under other threads' feet.
    mode_t mask = 022;
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status)) {
            if (std::strncmp(line, "Umask:", 6) == 0) {
                mask = mode_t(std::strtol(line + 6, nullptr, 8));
                break;
            }
        }
        std::fclose(status);
    }
    return mask;
}

void releaseSave(Tal_SafeSave* save) {
    Tal_FreeMem(save->target);
    Tal_FreeMem(save->temp);
    *save = {};
}

FILE* safeSaveOpenHost(Tal_SafeSave* save, string target, const char* mode) {
    if (!mode || (std::strcmp(mode, "w") != 0 && std::strcmp(mode, "wb") != 0)) return nullptr;
    struct stat st;
    if (!fitsHost(target)) return nullptr;
    if (lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = realpath(target.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    if (stat(target.c_str(), &st) == 0) {
        // Only a file is ever replaced: a device, pipe or socket behind the name (or its link) stays.
        if (!S_ISREG(st.st_mode)) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : ENODEV;
            return nullptr;
        }
        if (access(target.c_str(), W_OK) != 0) return nullptr;
    } else if (errno != ENOENT) {
        return nullptr;
    }
    string temp = hostJoin(parentOf(target), kSafeSavePrefix + std::to_string(getpid()) + "-XXXXXX");
    if (!fitsHost(temp)) return nullptr;
    int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return nullptr;
    FILE* file = fdopen(fd, mode);
    save->target = Tal_StrDup(target.c_str());
    save->temp = Tal_StrDup(temp.c_str());
    if (!file || !save->target || !save->temp) {
        if (file)
            std::fclose(file);
        else
            close(fd);
        unlink(temp.c_str());
        releaseSave(save);
        return nullptr;
    }
    save->file = file;
    return file;
}

// Makes a rename durable; the rename has happened either way.
void syncDirectory(const string& dir) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    fsync(fd);
    close(fd);
}

// On failure errno says why: the first step that failed, or for a write that failed earlier the error of
// writing the rest once more (a full disk, a file size limit), else EIO.
bool safeSaveCommit(Tal_SafeSave* save) {
    FILE* file = save->file;
    int fd = fileno(file);
    int problem = 0;
    auto step = [&](bool done) {
        if (!done && !problem) problem = errno ? errno : EIO;
    };
    if (failNextSave.exchange(false))
        problem = EIO;
    else if (std::ferror(file))
        problem = std::fflush(file) != 0 && errno ? errno : EIO;
    else
        step(std::fflush(file) == 0);
    if (!problem) {
        struct stat old;
        mode_t permissions = 0644 & ~currentUmask();
        if (stat(save->target, &old) == 0) {
            permissions = old.st_mode & 07777;
            // Keeps the old group when we belong to it; otherwise the file simply stays in ours.
            [[maybe_unused]] int groupKept = fchown(fd, uid_t(-1), old.st_gid);
        }
        step(fchmod(fd, permissions) == 0);
    }
    // File systems that cannot sync say EINVAL; their data has been handed over all the same.
    if (!problem) step(fsync(fd) == 0 || errno == EINVAL);
    step(std::fclose(file) == 0);
    if (!problem) step(rename(save->temp, save->target) == 0);
    if (!problem)
        syncDirectory(parentOf(save->target));
    else
        unlink(save->temp);
    releaseSave(save);
    errno = problem;
    return !problem;
}

bool copyHostFile(const string& from, const string& to) {
    FILE* in = std::fopen(from.c_str(), "rbe");
    if (!in) return false;
    struct stat st;
    if (fstat(fileno(in), &st) != 0 || S_ISDIR(st.st_mode)) {
        std::fclose(in);
        return false;
    }
    Tal_SafeSave save{};
    if (!safeSaveOpenHost(&save, to, "wb")) {
        std::fclose(in);
        return false;
    }
    std::vector<char> buffer(1 << 16);
    size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), in)) > 0)
        if (std::fwrite(buffer.data(), 1, n, save.file) != n) break;
    bool readOk = !std::ferror(in);
    std::fclose(in);
    if (!readOk) {
        Tal_SafeSaveAbort(&save);
        return false;
    }
    return safeSaveCommit(&save);
}

// A fresh name next to path for building an entry that then replaces it.
string siblingTempName(const string& path) {
    static std::atomic<ULONG> counter{0};
    return hostJoin(parentOf(path),
                    ".velura-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1)));
}

// Copies a symbolic link as a link, replacing what is at the target unless that is a directory.
bool copyLink(const string& from, const string& to) {
    std::vector<char> text(PATH_MAX);
    ssize_t n = readlink(from.c_str(), text.data(), text.size() - 1);
    if (n < 0) return false;
    text[size_t(n)] = 0;
    if (symlink(text.data(), to.c_str()) == 0) return true;
    struct stat st;
    if (errno != EEXIST || lstat(to.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return false;
    string temp = siblingTempName(to);
    if (symlink(text.data(), temp.c_str()) != 0) return false;
    if (rename(temp.c_str(), to.c_str()) == 0) return true;
    unlink(temp.c_str());
    return false;
}

// Copies the contents of the directory from into the existing directory to; stops at the first failure.
bool copyTree(const string& from, const string& to) {
    optional<Names> names = listDirectory(from);
    if (!names) return false;
    for (const string& name : *names) {
        if (isDotName(name)) continue;
        string source = hostJoin(from, name), target = hostJoin(to, name);
        if (!fitsHost(source) || !fitsHost(target)) return false;
        struct stat st;
        if (lstat(source.c_str(), &st) != 0) continue; // gone since the listing
        bool ok = true;
        if (S_ISLNK(st.st_mode)) {
            ok = copyLink(source, target);
        } else if (S_ISDIR(st.st_mode)) {
            // An existing link in the target is not entered: the copy stays inside the target tree.
            struct stat existing;
            ok = (mkdir(target.c_str(), 0777) == 0 ||
                  (errno == EEXIST && lstat(target.c_str(), &existing) == 0 && S_ISDIR(existing.st_mode))) &&
                 copyTree(source, target);
        } else if (S_ISREG(st.st_mode)) {
            ok = copyHostFile(source, target);
        } // devices, pipes and sockets are not data: skipped
        if (!ok) return false;
    }
    return true;
}

// Deletes everything inside dir, never following a link; goes on after failures and says whether all
// went.
bool deleteContents(const string& dir) {
    optional<Names> names = listDirectory(dir);
    if (!names) return false;
    bool ok = true;
    for (const string& name : *names) {
        if (isDotName(name)) continue;
        string path = hostJoin(dir, name);
        struct stat st;
        if (!fitsHost(path)) {
            ok = false;
        } else if (lstat(path.c_str(), &st) != 0) {
            ok = ok && errno == ENOENT;
        } else if (S_ISDIR(st.st_mode)) {
            bool inner = deleteContents(path);
            ok = rmdir(path.c_str()) == 0 && inner && ok;
        } else {
            ok = (unlink(path.c_str()) == 0 || errno == ENOENT) && ok;
        }
    }
    return ok;
}

bool renameNoReplace(const string& from, const string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the flag: check, then rename.
    if (exists(to)) return false;
    return rename(from.c_str(), to.c_str()) == 0;
}

bool copyOut(const string& text, char* buffer, size_t size) {
    if (!buffer || text.size() >= size) return false;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return true;
}

struct DirectoryScan {
    Names names;
    size_t next = 0;
};

} // namespace

// ---------------------------------------------------------------------------------------------------
// Path texts.

ULONG AddPart(char* path, const char* name, size_t size) {
    if (!path || !name) return 0;
    return guarded(0u, [&] { return copyOut(joinNames(path, name), path, size) ? 1u : 0u; });
}

const char* FilePart(const char* path) {
    if (!path) return nullptr;
    const char* part = path;
    for (const char* p = path; *p; p++)
        if (isSeparator(*p) || *p == ':') part = p + 1;
    return part;
}
char* FilePart(char* path) {
    return const_cast<char*>(FilePart(static_cast<const char*>(path)));
}

const char* PathPart(const char* path) {
    if (!path) return nullptr;
    const char* end = path;
    for (const char* p = path; *p; p++) {
        if (isSeparator(*p))
            end = p == path ? p + 1 : p;
        else if (*p == ':')
            end = p + 1;
    }
    return end;
}
char* PathPart(char* path) {
    return const_cast<char*>(PathPart(static_cast<const char*>(path)));
}

// ---------------------------------------------------------------------------------------------------
// Files.

FILE* Tal_OpenFile(const char* name, const char* mode) {
    if (!name || !mode) return nullptr;
    return guarded<FILE*>(nullptr, [&]() -> FILE* {
        bool writes = std::strpbrk(mode, "wa+") != nullptr;
        bool creates = std::strpbrk(mode, "wa") != nullptr;
        ProgramName program = parseName(name);
        optional<string> path = writes ? resolveWrite(program, creates) : resolveRead(program);
        return path ? openRegular(*path, mode) : nullptr;
    });
}

LONG Tal_GetFileInfo(const char* name, Tal_FileInfo* info) {
    if (!name || !info) return -1;
    *info = {};
    return guarded(-1, [&] {
        optional<string> path = resolveRead(parseName(name));
        struct stat st;
        if (!path || stat(path->c_str(), &st) != 0) return -1;
        if (S_ISDIR(st.st_mode))
            info->flags = TAL_FILEINFO_DIRECTORY;
        else if (!S_ISREG(st.st_mode))
            info->flags = TAL_FILEINFO_SPECIAL;
        else
            info->size = ULONG(std::min<uint64_t>(uint64_t(st.st_size), 0xFFFFFFFFu));
        return 0;
    });
}

ULONG Tal_DoesFileExist(const char* name) {
    Tal_FileInfo info;
    return Tal_GetFileInfo(name, &info) == 0 ? 1 : 0;
}

// ---------------------------------------------------------------------------------------------------
// Directory scans.

Tal_DirectoryEntry* Tal_OpenDirectory(const char* path) {
    if (!path) return nullptr;
    return guarded<Tal_DirectoryEntry*>(nullptr, [&]() -> Tal_DirectoryEntry* {
        ProgramName program = parseName(path);
        Names names;
        bool found = false;
        auto add = [&](const optional<string>& dir) {
            if (!dir || !fitsHost(*dir)) return;
            if (optional<Names> listed = listDirectory(*dir)) {
                names.insert(names.end(), listed->begin(), listed->end());
                found = true;
            }
        };
        if (program.absolute) {
            add(program.path);
        } else {
            Directories dirs = programDirectories();
            for (const string* base : {&dirs.user, &dirs.install}) {
                if (base->empty()) continue;
                string spelled = *base + program.path;
                add(exists(spelled) ? optional(spelled) : findBelow(*base, program.path, false));
            }
        }
        if (!found) return nullptr;
        std::sort(names.begin(), names.end());
        names.erase(std::unique(names.begin(), names.end()), names.end());

        auto* scan = new DirectoryScan{std::move(names)};
        auto* entry = static_cast<Tal_DirectoryEntry*>(AllocVec(sizeof(Tal_DirectoryEntry), MEMF_CLEAR));
        if (!entry) {
            delete scan;
            return nullptr;
        }
        entry->search = scan;
        entry->firstPending = 1;
        return entry;
    });
}

ULONG Tal_ScanDirectory(Tal_DirectoryEntry* entry) {
    if (!entry || !entry->search) return 0;
    auto* scan = static_cast<DirectoryScan*>(entry->search);
    if (scan->next >= scan->names.size()) return 0;
    const string& name = scan->names[scan->next++];
    std::memcpy(entry->name, name.c_str(), name.size() + 1);
    entry->firstPending = 0;
    return 1;
}

void Tal_CloseDirectory(Tal_DirectoryEntry* entry) {
    if (!entry) return;
    delete static_cast<DirectoryScan*>(entry->search);
    FreeVec(entry);
}

// ---------------------------------------------------------------------------------------------------
// File and directory operations.

ULONG Tal_DeleteFile(const char* name) {
    if (!name) return 0;
    return guarded(0u, [&] {
        optional<string> path = resolveWrite(parseName(name), false);
        return path && unlink(path->c_str()) == 0 ? 1u : 0u;
    });
}

ULONG Tal_RenameFile(const char* oldName, const char* newName) {
    if (!oldName || !newName) return 0;
    return guarded(0u, [&] {
        optional<string> from = resolveWrite(parseName(oldName), false);
        optional<string> to = resolveWrite(parseName(newName), true);
        if (!from || !to) return 0u;
        if (renameNoReplace(*from, *to)) return 1u;
        // Across file systems a file moves by copy and delete.
        struct stat st;
        if (errno != EXDEV || lstat(from->c_str(), &st) != 0 || !S_ISREG(st.st_mode) || exists(*to))
            return 0u;
        if (!copyHostFile(*from, *to)) return 0u;
        if (unlink(from->c_str()) == 0) return 1u;
        unlink(to->c_str());
        return 0u;
    });
}

ULONG Tal_CopyFile(const char* from, const char* to) {
    if (!from || !to) return 0;
    return guarded(0u, [&] {
        optional<string> source = resolveRead(parseName(from));
        optional<string> target = resolveWrite(parseName(to), true);
        return source && target && copyHostFile(*source, *target) ? 1u : 0u;
    });
}

ULONG Tal_CreateDir(const char* name) {
    if (!name) return 0;
    return guarded(0u, [&] {
        optional<string> path = resolveWrite(parseName(name), true);
        return path && mkdir(path->c_str(), 0777) == 0 ? 1u : 0u;
    });
}

ULONG Tal_CopyDir(const char* from, const char* to) {
    if (!from || !to) return 0;
    return guarded(0u, [&] {
        ProgramName source = parseName(from), destination = parseName(to);
        optional<string> fromPath = resolveRead(source);
        optional<string> toPath = resolveWrite(destination, true);
        if (!fromPath || !toPath || !isDirectory(*fromPath)) return 0u;
        // The program's own tree is mirrored in the user directory as it is needed.
        if (!destination.absolute && !makeDirectories(*toPath)) return 0u;
        if (!isDirectory(*toPath)) return 0u;

        // A copy into the tree itself would feed on its own output.
        char* realFrom = realpath(fromPath->c_str(), nullptr);
        char* realTo = realpath(toPath->c_str(), nullptr);
        bool inside = realFrom && realTo &&
                      (string_view(realTo) == realFrom ||
                       string(realTo).starts_with(string(realFrom) + "/") || string_view(realFrom) == "/");
        bool resolved = realFrom && realTo;
        std::free(realFrom);
        std::free(realTo);
        if (!resolved || inside) return 0u;

        string target = *toPath;
        if (!source.trailingSlash) {
            target = hostJoin(*toPath, lastComponent(*fromPath));
            if (!fitsHost(target)) return 0u;
            if (mkdir(target.c_str(), 0777) != 0 && !(errno == EEXIST && isDirectory(target))) return 0u;
        }
        return copyTree(*fromPath, target) ? 1u : 0u;
    });
}

ULONG Tal_DeleteDir(const char* path) {
    if (!path) return 0;
    return guarded(0u, [&] {
        ProgramName program = parseName(path);
        optional<string> resolved = resolveWrite(program, false);
        if (!resolved) return 0u;
        string dir = *resolved;
        while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
        if (dir == "/" || dir.empty()) return 0u; // never the whole file system
        struct stat st;
        if (lstat(dir.c_str(), &st) != 0) return 0u;
        if (!program.trailingSlash) {
            // A link named as the tree is removed as a link.
            if (S_ISLNK(st.st_mode)) return unlink(dir.c_str()) == 0 ? 1u : 0u;
            if (!S_ISDIR(st.st_mode)) return 0u;
        }
        bool emptied = deleteContents(dir);
        if (program.trailingSlash) return emptied ? 1u : 0u;
        return rmdir(dir.c_str()) == 0 ? 1u : 0u;
    });
}

ULONG Tal_GetTempFileName(char* buffer) {
    if (!buffer) return 0;
    return guarded(0u, [&] {
        string dir = environmentText("TMPDIR");
        string name = hostJoin(dir.empty() ? "/tmp" : dir, "velura-XXXXXX");
        if (name.size() >= TAL_NAME_SIZE) return 0u;
        int fd = mkostemp(name.data(), O_CLOEXEC);
        if (fd < 0) return 0u;
        close(fd);
        return copyOut(name, buffer, TAL_NAME_SIZE) ? 1u : 0u;
    });
}

wchar_t* Tal_ConvertAsciToUnicodeIfNeeded(const char* text, wchar_t* buffer) {
    if (!text) return nullptr;
    size_t length = std::strlen(text);
    if (!buffer) buffer = static_cast<wchar_t*>(AllocVec((length + 1) * sizeof(wchar_t), 0));
    if (!buffer) return nullptr;
    // 8-bit texts are Latin-1: each byte is its own code point.
    for (size_t i = 0; i <= length; i++) buffer[i] = wchar_t(static_cast<unsigned char>(text[i]));
    return buffer;
}

// ---------------------------------------------------------------------------------------------------
// Safe saving.

FILE* Tal_SafeSaveOpen(Tal_SafeSave* save, const char* name, const char* mode) {
    if (!save) return nullptr;
    *save = {};
    if (!name) return nullptr;
    return guarded<FILE*>(nullptr, [&]() -> FILE* {
        optional<string> target = resolveWrite(parseName(name), true);
        return target ? safeSaveOpenHost(save, *target, mode) : nullptr;
    });
}

ULONG Tal_SafeSaveCommit(Tal_SafeSave* save) {
    if (!save || !save->file) return 0;
    return guarded(0u, [&] { return safeSaveCommit(save) ? 1u : 0u; });
}

void Tal_SafeSaveAbort(Tal_SafeSave* save) {
    if (!save || !save->file) return;
    std::fclose(save->file);
    unlink(save->temp);
    releaseSave(save);
}

void host_FailNextSafeSave() {
    failNextSave = true;
}

const char* host_FileErrorText(int error) {
    return error == ENODEV ? "Not a regular file" : std::strerror(error);
}

void host_RemoveStaleSafeSaves() {
    guarded(0, [&] {
        const string user = programDirectories().user;
        if (!user.empty()) removeStaleSaves(user, 8);
        return 0;
    });
}

// ---------------------------------------------------------------------------------------------------
// Directories of the program.

ULONG host_GetInstallDir(char* buffer, size_t size) {
    return guarded(0u, [&] { return copyOut(programDirectories().install, buffer, size) ? 1u : 0u; });
}

ULONG host_GetUserDir(char* buffer, size_t size) {
    return guarded(0u, [&] {
        string user = programDirectories().user;
        return !user.empty() && copyOut(user, buffer, size) ? 1u : 0u;
    });
}

ULONG host_ResolvePath(const char* name, ULONG write, char* buffer, size_t size) {
    if (!name) return 0;
    return guarded(0u, [&] {
        ProgramName program = parseName(name);
        optional<string> path = write ? resolveWrite(program, true) : resolveRead(program);
        if (path && !write && !exists(*path)) return 0u;
        return path && copyOut(*path, buffer, size) ? 1u : 0u;
    });
}

void host__ResetDirectories() {
    std::lock_guard lock(directoriesLock);
    directories = {};
}
