// The single running copy: a lock file held for the life of the process and a Unix-domain socket on which
// later starts hand over their paths.
//
// A message is the magic "VLR1", the path and a terminating zero byte; the receiver answers one byte, '1'
// when it took the path and '0' when it refused it. Data from another process is not trusted: the receiver
// reads at most a bounded number of bytes, takes only terminated paths that fit PATH_MAX, accepts only
// connections of the same user and never waits long for a slow sender.
#include "host/instance.h"
#include "host/dos.h"
#include "host/host.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <pwd.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr char kMagic[4] = {'V', 'L', 'R', '1'};
constexpr size_t kMaxMessage = sizeof kMagic + PATH_MAX; // magic, at most PATH_MAX - 1 bytes, zero
constexpr int kIoTimeoutMs = 2000;

std::mutex stateLock;
int lockFd = -1;
int listenFd = -1;
int wakePipe[2] = {-1, -1};
std::thread receiver;
std::string ownSocket; // the socket this process listens on, removed when it stops
std::string ownLock;   // the lock file it holds, likewise

struct Names {
    std::string socket, lock;
};

std::string userName() {
    std::vector<char> buffer(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_name &&
        *found->pw_name)
        return found->pw_name;
    return std::to_string(getuid());
}

// Names for this user and installation; false when none fits a socket address.
bool namesFor(Names* names) {
    char install[PATH_MAX];
    if (!host_GetInstallDir(install, sizeof install)) return false;
    uint64_t hash = 1469598103934665603ull; // FNV-1a
    for (const char* p = install; *p; p++) hash = (hash ^ UBYTE(*p)) * 1099511628211ull;
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    const std::string leaf = "velura-" + userName() + "-" + hex;
    // The runtime directory is the user's own and goes with the session; without one, the user directory
    // (made when missing), never a folder that other users share.
    std::string base;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    char path[PATH_MAX];
    if (runtime && runtime[0] == '/' && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
        base = runtime;
        while (base.size() > 1 && base.back() == '/') base.pop_back();
        base += "/" + leaf;
    } else if (host_ResolvePath(leaf.c_str(), 1, path, sizeof path)) {
        base = path;
    }
    if (base.empty() || base.size() + 5 >= sizeof(sockaddr_un::sun_path)) return false;
    *names = {base + ".sock", base + ".lock"};
    return true;
}

// Whether the lock file still has its name: a copy that ended removed it, and the lock taken on the file
// it had opened before would lock nothing another start sees.
bool lockFileNamed(int fd, const std::string& name) {
    struct stat held {};
    struct stat named {};
    return fstat(fd, &held) == 0 && stat(name.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
}

bool addressOf(const std::string& name, sockaddr_un* address) {
    if (name.size() >= sizeof address->sun_path) return false;
    std::memset(address, 0, sizeof *address);
    address->sun_family = AF_UNIX;
    std::memcpy(address->sun_path, name.c_str(), name.size() + 1);
    return true;
}

// Whether the socket file is one of ours: another user may have put something under the name.
bool ownSocketFile(const std::string& name) {
    struct stat st {};
    return lstat(name.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == getuid();
}

bool sameUser(int fd) {
    ucred cred{};
    socklen_t size = sizeof cred;
    return getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0 && cred.uid == getuid();
}

void setTimeouts(int fd) {
    timeval tv{kIoTimeoutMs / 1000, (kIoTimeoutMs % 1000) * 1000};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
}

// Reads one message; the path when it is well formed, else false. Never reads more than kMaxMessage bytes.
bool readMessage(int fd, std::string* path) {
    std::vector<char> buffer(kMaxMessage);
    size_t total = 0;
    while (total < buffer.size()) {
        ssize_t n = recv(fd, buffer.data() + total, buffer.size() - total, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false; // closed early or too slow
        const void* zero = std::memchr(buffer.data() + total, 0, size_t(n));
        total += size_t(n);
        if (zero) {
            const size_t end = size_t(static_cast<const char*>(zero) - buffer.data());
            if (end + 1 != total || end < sizeof kMagic) return false; // bytes after the path, or no magic
            if (std::memcmp(buffer.data(), kMagic, sizeof kMagic) != 0) return false;
            path->assign(buffer.data() + sizeof kMagic, end - sizeof kMagic);
            return true;
        }
    }
    return false; // no terminator within PATH_MAX bytes
}

void receive(int listening, int wake, host_InstanceHandler handler) {
    host_SetThreadName("Velura instance");
    for (;;) {
        pollfd fds[2] = {{listening, POLLIN, 0}, {wake, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        if (!(fds[0].revents & POLLIN)) continue;
        int c = accept4(listening, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        std::string path;
        bool ok = false;
        if (sameUser(c)) {
            setTimeouts(c);
            ok = readMessage(c, &path);
        }
        const char answer = ok ? '1' : '0';
        send(c, &answer, 1, MSG_NOSIGNAL);
        close(c);
        if (!ok) {
            KPrintF("instance: refused a message from another start\n");
            continue;
        }
        KPrintF("instance: another start handed over \"%s\"\n", path.c_str());
        if (handler) handler(path.c_str());
    }
}

// One attempt to hand the path to the running copy: '1' taken, '0' refused, 'n' no answer in time (or the
// connection broke), 0 when nobody listens.
char handOver(const std::string& socketName, const char* path) {
    sockaddr_un address;
    if (!addressOf(socketName, &address) || !ownSocketFile(socketName)) return 0;
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return 0;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return 0;
    }
    setTimeouts(fd);
    std::string message(kMagic, sizeof kMagic);
    message += path ? path : "";
    message += '\0';
    size_t sent = 0;
    while (sent < message.size()) {
        ssize_t n = send(fd, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sent += size_t(n);
    }
    char answer = 0;
    if (sent != message.size() || recv(fd, &answer, 1, 0) != 1 || (answer != '1' && answer != '0'))
        answer = 'n';
    close(fd);
    return answer;
}

enum class Lock { Taken, Held, Unusable };

// Takes the lock file; its descriptor in *fd when taken.
Lock takeLock(const std::string& name, int* fd) {
    // A copy that ends removes the file while it holds it: the lock on a file that lost its name is
    // worth nothing, so the file is opened anew.
    for (int attempt = 0; attempt < 10; attempt++) {
        *fd = open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        struct stat st {};
        if (*fd < 0 || fstat(*fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != getuid()) {
            if (*fd >= 0) close(*fd);
            KPrintF("instance: cannot use %s\n", name.c_str());
            return Lock::Unusable;
        }
        const bool held = flock(*fd, LOCK_EX | LOCK_NB) != 0;
        if (!held && lockFileNamed(*fd, name)) return Lock::Taken;
        close(*fd);
        if (held) return Lock::Held;
    }
    return Lock::Unusable;
}

bool listenOn(const std::string& socketName) {
    sockaddr_un address;
    if (!addressOf(socketName, &address)) return false;
    unlink(socketName.c_str()); // left by a copy that crashed: the lock says nobody listens on it
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        chmod(socketName.c_str(), 0600) != 0 || listen(fd, 8) != 0) {
        close(fd);
        return false;
    }
    listenFd = fd;
    return true;
}

} // namespace

host_InstanceRole host_StartSingleInstance(const char* path) {
    if (path && std::strlen(path) >= PATH_MAX) {
        KPrintF("instance: the path is too long to hand over\n");
        return host_InstanceRole::Refused;
    }
    Names names;
    if (!namesFor(&names)) {
        KPrintF("instance: no place for the instance socket\n");
        return host_InstanceRole::Alone;
    }
    // The running copy listens once its window is open: it is given a few seconds. One that ends (or fails
    // to open its window) meanwhile leaves the lock to this start.
    for (int attempt = 0; attempt < 50; attempt++) {
        if (attempt) usleep(100000);
        int fd = -1;
        switch (takeLock(names.lock, &fd)) {
        case Lock::Unusable:
            return host_InstanceRole::Alone;
        case Lock::Taken: {
            std::lock_guard guard(stateLock);
            if (lockFd >= 0) { // this process holds it already
                close(fd);
                return host_InstanceRole::Alone;
            }
            lockFd = fd;
            ownSocket = names.socket;
            ownLock = names.lock;
            return host_InstanceRole::First;
        }
        case Lock::Held:
            break;
        }
        switch (handOver(names.socket, path)) {
        case '1':
            return host_InstanceRole::HandedOver;
        case '0':
            return host_InstanceRole::Refused;
        case 'n':
            KPrintF("instance: the running copy did not answer in time\n");
            return host_InstanceRole::Alone;
        default:
            break;
        }
    }
    KPrintF("instance: a running copy holds the lock but does not listen\n");
    return host_InstanceRole::Alone;
}

bool host_ListenSingleInstance(host_InstanceHandler handler) {
    std::lock_guard guard(stateLock);
    if (lockFd < 0 || listenFd >= 0) return false;
    if (!listenOn(ownSocket)) return false;
    if (pipe2(wakePipe, O_CLOEXEC) != 0) {
        close(listenFd);
        listenFd = -1;
        unlink(ownSocket.c_str());
        return false;
    }
    receiver = std::thread(receive, listenFd, wakePipe[0], handler);
    return true;
}

void host_StopSingleInstance() {
    std::lock_guard guard(stateLock);
    if (lockFd < 0) return;
    if (listenFd >= 0) {
        const char stop = 1;
        while (write(wakePipe[1], &stop, 1) < 0 && errno == EINTR) {
        }
        if (receiver.joinable()) receiver.join();
        close(listenFd);
        close(wakePipe[0]);
        close(wakePipe[1]);
        unlink(ownSocket.c_str());
    }
    // Still held while its name goes: a start that opened it meanwhile sees that and tries again.
    unlink(ownLock.c_str());
    close(lockFd); // gives up the lock
    listenFd = lockFd = wakePipe[0] = wakePipe[1] = -1;
    ownSocket.clear();
    ownLock.clear();
}

ULONG host_InstanceSocketPath(char* buffer, size_t size) {
    Names names;
    if (!buffer || !namesFor(&names) || names.socket.size() >= size) return 0;
    std::memcpy(buffer, names.socket.c_str(), names.socket.size() + 1);
    return 1;
}
