// Program entry: the command line, the display, the screen, then a script or the user until quit.
#include "Tal/Tal.h"
#include "app/script.h"
#include "host/display.h"
#include "host/instance.h"
#include "host/intuition.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <csignal>
#include <pthread.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Data-copy identifier of a path to open, as another start of the program hands it over.
constexpr ULONG COPYDATA_OPEN_PATH = 0x0013003C;

constexpr char kUsage[] =
    "Usage: velura [--version] [--help] [--headless] [--screen WxH] [--zoom N] [--script FILE] [image]\n"
    "\n"
    "  --version        print the version and exit\n"
    "  --headless       run without a display (needs --script); also VELURA_HEADLESS=1\n"
    "  --screen WxH     size of the logical screen (default 240x320)\n"
    "  --zoom N         pixels per screen pixel in the window (default 2)\n"
    "  --script FILE    drive the program from a script (see README.md)\n"
    "  image            a picture to open; handed to the running copy when one runs\n";

struct Options {
    bool headless = false;
    host_DisplayOptions display;
    std::string script; // empty: none
    std::string image;
    bool hasImage = false;
};

int usageError(const std::string& why) {
    std::fprintf(stderr, "velura: %s (see velura --help)\n", why.c_str());
    return 2;
}

bool parseSize(const char* text, LONG* width, LONG* height) {
    int w = 0, h = 0;
    char end = 0;
    if (std::sscanf(text, "%dx%d%c", &w, &h, &end) != 2) return false;
    if (w < 120 || h < 120 || w > 4096 || h > 4096) return false;
    *width = w;
    *height = h;
    return true;
}

// Returns -1 when the options are fine, else the exit code.
int parseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        std::string value;
        const bool takesValue = arg == "--screen" || arg == "--zoom" || arg == "--script";
        if (takesValue) {
            if (i + 1 >= argc) return usageError(arg + " needs a value");
            value = argv[++i];
        } else if (size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg.resize(eq);
            if (arg != "--screen" && arg != "--zoom" && arg != "--script")
                return usageError("unknown option " + arg);
        }
        if (arg == "--headless") {
            o->headless = true;
        } else if (arg == "--screen") {
            if (!parseSize(value.c_str(), &o->display.width, &o->display.height))
                return usageError("--screen wants WIDTHxHEIGHT, each 120-4096");
        } else if (arg == "--zoom") {
            char* end = nullptr;
            long zoom = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end || zoom < 1 || zoom > 8) return usageError("--zoom wants 1-8");
            o->display.zoom = int(zoom);
        } else if (arg == "--script") {
            if (value.empty()) return usageError("--script needs a file");
            o->script = value;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "--") {
            return usageError("unknown option " + arg);
        } else {
            if (arg == "--") {
                if (++i >= argc) break;
                arg = argv[i];
            }
            if (o->hasImage) return usageError("only one image can be given");
            o->image = arg;
            o->hasImage = true;
        }
    }
    const char* env = std::getenv("VELURA_HEADLESS");
    if (env && *env && std::strcmp(env, "0") != 0) o->headless = true;
    if (o->headless && o->script.empty())
        return usageError("a headless run needs a script: velura --headless --script FILE");
    return -1;
}

// The running copy has another current directory: hand over absolute paths.
std::string absolutePath(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd)) return path;
    return std::string(cwd) + "/" + path;
}

Task* mainTask = nullptr;
std::atomic<bool> quitting{false};

void requestQuit() {
    quitting = true;
    Signal(mainTask, SIGBREAKF_CTRL_C);
}

// Paths to open, from this start's command line or from later starts, reach the screen like the host's
// data-copy message; the image engine will take them from there.
void forwardPath(const char* path) {
    if (!*path) {
        KPrintF("another start of the program asked this one to come forward\n");
        return;
    }
    if (!host_SendCopyData(COPYDATA_OPEN_PATH, path, std::strlen(path)))
        KPrintF("cannot pass on the path %s\n", path);
}

void pathArrived(const host_CopyData* data) {
    if (data->id == COPYDATA_OPEN_PATH)
        std::fprintf(stderr, "received: %s\n", reinterpret_cast<const char*>(data->data));
}

// Everything between starting and ending the services: the single copy, the display, the screen, and the
// script or the user until quit. Returns the exit code.
int run(const Options& o, const std::vector<ScriptCommand>& script, const std::string& image) {
    const bool scripted = !o.script.empty();
    // One copy per user and installation. Scripts and headless runs drive a copy of their own.
    bool listening = false;
    if (!o.headless && !scripted) {
        switch (host_StartSingleInstance(image.c_str(), forwardPath)) {
        case host_InstanceRole::HandedOver:
            return 0;
        case host_InstanceRole::Refused:
            std::fprintf(stderr, "velura: the running copy did not take %s\n", image.c_str());
            return 2;
        case host_InstanceRole::First:
            listening = true;
            break;
        case host_InstanceRole::Alone:
            break;
        }
    }

    bool display = false;
    if (!o.headless) {
        display = host_StartSDL(o.display);
        if (!display && !scripted) {
            std::fprintf(stderr,
                         "velura: no display found; start it on a desktop (DISPLAY or WAYLAND_DISPLAY), "
                         "or run a script without one: velura --headless --script FILE\n");
            if (listening) host_StopSingleInstance();
            return 2;
        }
        if (!display) KPrintF("no display: running the script %s headless\n", o.script.c_str());
    }
    if (!display) host_SetHelpViewer(nullptr); // no desktop to show help pages on

    int code = 0;
    if (!OpenScreenTagList(nullptr, nullptr)) {
        std::fprintf(stderr, "velura: cannot open the screen\n");
        code = 1;
    } else {
        // The screen stays open to the end: its thread ends with the process, like every window's.
        if (!image.empty()) forwardPath(image.c_str());
        std::thread runner;
        std::string error;
        if (scripted) {
            runner = std::thread([&] {
                host_SetThreadName("Velura script");
                if (!app_RunScript(o.script.c_str(), script, &quitting, &error)) code = 2;
                requestQuit(); // a script that ends without "quit" ends the program all the same
            });
        }
        Wait(SIGBREAKF_CTRL_C);
        quitting = true;
        if (runner.joinable()) runner.join();
        if (code == 2) std::fprintf(stderr, "velura: %s\n", error.c_str());
    }

    if (listening) host_StopSingleInstance();
    if (display) host_StopSDL();
    return code;
}

} // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Velura %s\n", VELURA_VERSION);
            return 0;
        }
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--") == 0) break;
    }
    Options o;
    if (int code = parseOptions(argc, argv, &o); code >= 0) return code;

    // The whole script is read first: a mistake in it ends the run before anything happens.
    std::vector<ScriptCommand> script;
    std::string error;
    const bool scripted = !o.script.empty();
    if (scripted && !app_LoadScript(o.script.c_str(), &script, &error)) {
        std::fprintf(stderr, "velura: %s\n", error.c_str());
        return 2;
    }
    const std::string image = absolutePath(o.image);

    // Ctrl+C and kill end the program like "quit": a signal thread hears them (blocked everywhere else, so
    // block them before any thread starts).
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&quitSignals, sig);
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);

    if (!Tal_Init()) return 1;
    mainTask = FindTask(nullptr);
    host_InitWindowSystem(o.display.width, o.display.height);
    host_SetCopyDataHandler(pathArrived);
    host_SetQuitHandler(requestQuit);
    std::atomic<bool> ending{false};
    std::thread signals([&] {
        host_SetThreadName("Velura signals");
        int sig = 0;
        while (sigwait(&quitSignals, &sig) == 0 && !ending) {
            KPrintF("signal %d: quitting\n", sig);
            requestQuit();
        }
    });

    const int code = run(o, script, image);

    // The window threads end with the process; let them finish what they are drawing first, so that none
    // is busy while the process's globals go.
    for (int quiet = 0, tries = 0; quiet < 3 && tries < 1000; tries++) {
        quiet = host_Idle() ? quiet + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    ending = true;
    pthread_kill(signals.native_handle(), SIGTERM);
    signals.join();
    host_SetQuitHandler(nullptr);
    host_CleanupWindowSystem();
    Tal_CleanUp();
    return code;
}
