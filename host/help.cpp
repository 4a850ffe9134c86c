// The help command: the desktop's browser on the help pages of the installation.
#include "host/display.h"
#include "host/dos.h"
#include "host/host.h"
#include "host/instance.h"

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

std::mutex viewerLock;
std::string viewer = "xdg-open";
bool viewerOn = true;

// The program file of a command: as given when it names a path, else found on PATH.
std::string findProgram(const std::string& command) {
    if (command.find('/') != std::string::npos) return access(command.c_str(), X_OK) == 0 ? command : "";
    const char* path = std::getenv("PATH");
    std::string dirs = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string dir = dirs.substr(start, end - start);
        std::string file = (dir.empty() ? "." : dir) + "/" + command;
        struct stat st {};
        if (stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(file.c_str(), X_OK) == 0)
            return file;
        start = end + 1;
    }
    return "";
}

// Starts the program detached: an intermediate child starts it in a session of its own and ends at once,
// so the viewer never becomes our zombie and outlives us if it likes. Only async-signal-safe calls
// happen between fork and exec.
bool startDetached(const std::string& program, const std::string& argument) {
    const char* argv[] = {program.c_str(), argument.c_str(), nullptr};
    pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        pid_t grandchild = fork();
        if (grandchild == 0) {
            sigset_t none; // the viewer gets the signals the program keeps to one thread
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            setsid();
            int null = open("/dev/null", O_RDONLY);
            if (null >= 0) dup2(null, 0);
            execv(program.c_str(), const_cast<char* const*>(argv));
            _exit(127);
        }
        _exit(grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

} // namespace

void host_SetHelpViewer(const char* command) {
    std::lock_guard guard(viewerLock);
    viewerOn = command && *command;
    if (viewerOn) viewer = command;
}

void host_OpenHelp() {
    char dir[PATH_MAX];
    if (!host_GetInstallDir(dir, sizeof dir)) {
        KPrintF("help: the installation directory is not known\n");
        return;
    }
    const std::string page = std::string(dir) + "Help/TableOfContents.htm";
    struct stat st {};
    if (stat(page.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        KPrintF("help: %s is missing\n", page.c_str());
        return;
    }
    std::string command;
    {
        std::lock_guard guard(viewerLock);
        if (!viewerOn) {
            KPrintF("help: %s (no help viewer in this run)\n", page.c_str());
            return;
        }
        command = viewer;
    }
    const std::string program = findProgram(command);
    if (program.empty()) {
        KPrintF("help: %s not found; the help is %s\n", command.c_str(), page.c_str());
        return;
    }
    if (!startDetached(program, page))
        KPrintF("help: cannot start %s\n", program.c_str());
    else
        KPrintF("help: %s %s\n", program.c_str(), page.c_str());
}
