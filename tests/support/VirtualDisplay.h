// A virtual X display of a test's own (Xvfb) and the small process helpers it needs: finding a program,
// starting one with its output discarded or read, and waiting for it with a limit.
#pragma once

#include "support/Shell.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace virtual_display {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

inline bool onPath(const char* program) {
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        const std::string candidate = dirs.substr(start, end - start) + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

// Starts a program with its output discarded (it inherits descriptors without close-on-exec); -1 when it
// cannot be started.
inline pid_t spawn(const std::vector<std::string>& args) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

// Waits for a child at most `limit`, killing it after that; its exit status, -1 when killed.
inline int reap(pid_t pid, std::chrono::milliseconds limit, int firstSignal = 0) {
    if (firstSignal) kill(pid, firstSignal);
    const auto deadline = Clock::now() + limit;
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(10ms);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A virtual X display of its own: Xvfb picks a free display number and tells it through a pipe.
class VirtualDisplay {
  public:
    ~VirtualDisplay() { stop(); }
    // `screen`: WIDTHxHEIGHTxDEPTH.
    std::string start(const std::string& screen = "640x800x24") {
        int fds[2];
        if (pipe(fds) != 0) return "no pipe";
        fcntl(fds[0], F_SETFD, FD_CLOEXEC);
        // Without a reset when the last client goes, what a test puts on the root window stays there.
        pid_ = spawn({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten",
                      "tcp", "-noreset"});
        close(fds[1]);
        if (pid_ < 0) {
            close(fds[0]);
            return "Xvfb does not start";
        }
        std::string number;
        const auto deadline = Clock::now() + 15s;
        while (number.find('\n') == std::string::npos && Clock::now() < deadline) {
            pollfd p{fds[0], POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char c[16];
            const ssize_t n = read(fds[0], c, sizeof c);
            if (n <= 0) break;
            number.append(c, size_t(n));
        }
        close(fds[0]);
        if (number.find('\n') == std::string::npos) return "Xvfb did not report its display";
        name_ = ":" + number.substr(0, number.find('\n'));
        return {};
    }
    void stop() {
        if (pid_ > 0) reap(pid_, 5000ms, SIGTERM);
        pid_ = -1;
    }
    const std::string& name() const { return name_; }

  private:
    pid_t pid_ = -1;
    std::string name_;
};

} // namespace virtual_display

using virtual_display::onPath;
using virtual_display::reap;
using virtual_display::spawn;
using virtual_display::VirtualDisplay;
