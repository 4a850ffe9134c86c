// Program entry: the command line, one running copy, the display, then Velura itself: the image engine,
// the start picture, the start window and the main loop until the user quits. A script (or the user)
// drives the program meanwhile from other threads.
#include "ui/ui.h"
#include "Tal/Tal.h"
#include "app/MenuFunc.h"
#include "app/MenuResource.h"
#include "app/script.h"
#include "app/startup.h"
#include "host/display.h"
#include "host/dos.h"
#include "host/instance.h"
#include "host/intuition.h"
#include "host/msgbox.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <pthread.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Data-copy identifier of a path to open, as another start of the program hands it over.
constexpr ULONG COPYDATA_OPEN_PATH = 0x0013003C;

// At quit, image work may go on this long before the process ends without it; the rest of the shut-down
// (the preferences stored, everything taken down) gets as long again.
constexpr ULONG kImageWorkLimitMs = 10000;
constexpr auto kShutDownLimit = std::chrono::seconds(10);

constexpr char kUsage[] =
    "Usage: velura [--version] [--help] [--headless] [--screen WxH] [--zoom N] [--script FILE] [image]\n"
    "\n"
    "  --version        print the version and exit\n"
    "  --headless       run without a display (needs --script); also VELURA_HEADLESS=1\n"
    "  --screen WxH     size of the logical screen (default 240x320)\n"
    "  --zoom N         pixels per screen pixel in the window (default: the most that fit the desktop)\n"
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

// ---------------------------------------------------------------------------------------------------
// Quitting. The main loop ends only through the application object's stop; these reach it from the
// other threads.

std::atomic<ULONG> appObject{0};        // while the main loop may run
std::atomic<ULONG> mainWindowObject{0}; // the start window, likewise
std::atomic<bool> stopRequested{false}; // asked before the main loop started: it never starts
std::atomic<bool> ended{false};         // the main loop is over, or never came
std::atomic<bool> quitting{false};      // the script stops

void pressKey(ULONG vk) {
    host_InjectKey(vk, true);
    host_InjectChar(UBYTE(vk));
    host_InjectKey(vk, false);
}

// Ends the main loop without asking (Ctrl+C, kill, a script that failed). A message box waiting for an
// answer (a failed start's, a question) would hold the end up: it is dismissed.
void stopNow() {
    stopRequested = true;
    quitting = true; // a script ends what it does (and answers what the start-up still asks)
    if (ULONG app = appObject.load()) Tal_DoMethod(app, TAL_Stop);
    if (host_GetMessageBox()) pressKey(VK_ESCAPE);
}

// As if the user closed the start window: the quit question comes. Before there is a start window, the
// program ends without asking.
void closeMainWindow() {
    if (ULONG window = mainWindowObject.load())
        Tal_DoMethod(window, TAL_EndRequester, 0);
    else
        stopNow();
}

// The display went away under the program: it ends as at quit, with this code.
constexpr int kDisplayLostExit = 1;
std::atomic<bool> displayLost{false};

// The exit code of a run that ends well.
int quitCode() {
    return displayLost ? kDisplayLostExit : 0;
}

// Ends the process at once (when the shut-down would not end). The running copy's lock and socket go
// first.
std::atomic<bool> runningCopy{false};
[[noreturn]] void endNow(int code) {
    if (runningCopy) host_StopSingleInstance();
    std::fflush(stdout);
    std::fflush(stderr);
    _exit(code);
}

// A stop that comes while the program starts: the start-up is given a moment to end by itself (a message
// box it shows meanwhile is dismissed); a start-up that does not (it waits on something that never comes)
// ends with the process.
std::atomic<bool> startUpOver{false}; // the main loop was reached, or the start-up gave up
constexpr auto kStartUpStopLimit = std::chrono::seconds(3);

void stopStartUp() {
    const auto limit = std::chrono::steady_clock::now() + kStartUpStopLimit;
    while (!startUpOver && !ended) {
        if (std::chrono::steady_clock::now() > limit) {
            std::fprintf(stderr, "velura: stopped while starting\n");
            endNow(1);
        }
        if (host_GetMessageBox()) pressKey(VK_ESCAPE);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

// Whatever the shut-down waits for, the process ends within kShutDownLimit of its start.
class ShutDownLimit {
  public:
    void start() {
        thread_ = std::thread([this] {
            std::unique_lock guard(lock_);
            if (!wake_.wait_for(guard, kShutDownLimit, [this] { return done_; })) {
                std::fprintf(stderr, "velura: the shut-down did not end in time; ending anyway\n");
                endNow(quitCode());
            }
        });
    }
    void finish() {
        {
            std::lock_guard guard(lock_);
            done_ = true;
        }
        wake_.notify_all();
        if (thread_.joinable()) thread_.join();
    }

  private:
    std::thread thread_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool done_ = false;
};
ShutDownLimit shutDownLimit;

// Idle a few times in a row, or the end of the main loop; false when neither came in time.
bool settle(std::chrono::milliseconds limit) {
    const auto until = std::chrono::steady_clock::now() + limit;
    for (int quiet = 0; quiet < 5 && !ended;) {
        if (std::chrono::steady_clock::now() > until) return false;
        quiet = host_Idle() ? quiet + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    return true;
}

// A script starts once the program is up: its start window open, or a message box of the start-up waiting
// for an answer, or the start-up over. Before that, "wait" could find the program idle between two steps
// of the start.
std::atomic<bool> windowUp{false}; // the start window was activated: it is open

// The picture named on the command line opens once the start window is open, so that its window comes
// above the start window.
std::string startPath;
std::atomic<bool> startPathOpened{false};

Tal_Word windowActivated(Tal_Word, ULONG, ULONG, const Tal_Word*) {
    // Queued before a script may go on: its first "wait" includes the opening.
    if (!startPath.empty() && !startPathOpened.exchange(true)) app_OpenPath(startPath.c_str());
    windowUp = true;
    return 0;
}

void waitForStartUp() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(SCRIPT_WAIT_LIMIT_MS);
    while (!windowUp && !ended && !host_GetMessageBox() && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// "quit", and the end of a script: close the start window and answer the quit question with OK, until the
// program ends. Answers the script queued before come first, so "answer 0" then "quit" sees Cancel keep
// the program running, and the window is closed once more. When the program is ending already (it was
// stopped), nothing is asked. A message box on the screen (a failed start's, a question left open) is
// answered with Return.
void quitFromScript() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(SCRIPT_WAIT_LIMIT_MS);
    while (!ended) {
        if (std::chrono::steady_clock::now() > limit) {
            std::fprintf(stderr, "velura: the program did not quit when the script asked; stopping it\n");
            stopNow();
            return;
        }
        if (host_GetMessageBox()) {
            pressKey(VK_RETURN);
        } else if (!stopRequested && mainWindowObject.load()) {
            host_QueueMessageBoxAnswer(1);
            closeMainWindow();
        }
        settle(std::chrono::seconds(10));
    }
}

// The display's connection was lost or its window destroyed: no question can be asked any more, so the
// program ends as after a stop (image work finishes, the preferences are stored), saying why.
void loseDisplay(const char* why) {
    if (displayLost.exchange(true)) return;
    std::fprintf(stderr, "velura: %s; ending\n", why);
    stopNow();
    stopStartUp();
}

// ---------------------------------------------------------------------------------------------------
// Velura itself.

// Paths from later starts of the program arrive at the screen; the image thread opens them.
void forwardPath(const char* path) {
    if (!*path) {
        KPrintF("another start of the program asked this one to come forward\n");
        return;
    }
    if (!host_SendCopyData(COPYDATA_OPEN_PATH, path, std::strlen(path)))
        KPrintF("cannot pass on the path %s\n", path);
}

void pathArrived(const host_CopyData* data) {
    if (data->id == COPYDATA_OPEN_PATH) app_OpenPath(reinterpret_cast<const char*>(data->data));
}

// Start-up, main loop and shut-down. Returns the exit code (0 also when the start-up failed: its message
// has been shown).
int runVelura(const std::string& image) {
    struct StartUpOver {
        ~StartUpOver() { startUpOver = true; }
    } over; // also when the start-up fails
    if (!Tal_InitImageBase()) return 0;
    const ULONG splash = app_OpenSplash();
    app_MainTree tree;
    const bool built = app_BuildMainTree(&tree);
    Tal_DisposeObject(splash);
    if (!built) {
        std::fprintf(stderr, "velura: the start window could not be made\n");
        Tal_CleanupImageBase();
        return 0;
    }
    startPath = image;
    app_InstallCommands(&tree);
    Tal_AddCallBackNotify(tree.window, TAL_WindowActivated, TAL_AnyValue, windowActivated, 0);
    mainWindowObject = tree.window;
    appObject = tree.app;
    startUpOver = true;
    if (!stopRequested) Tal_DoMethod(tree.app, TAL_Start); // until the quit request
    appObject = 0;
    mainWindowObject = 0;
    host_SetMainWindowObject(0);

    const bool finished = app_FinishImageWork(kImageWorkLimitMs);
    shutDownLimit.start();
    app_StorePreferences();
    if (!finished) {
        std::fprintf(stderr, "velura: image work did not end in time; ending without it\n");
        endNow(quitCode());
    }
    app_DisposeMainTree(&tree);
    Tal_CleanupImageBase();
    return 0;
}

// Everything between starting and ending the services: the single copy, the display, the screen, and
// Velura with the script or the user until quit. Returns the exit code.
int run(const Options& o, const std::vector<ScriptCommand>& script, const std::string& image) {
    const bool scripted = !o.script.empty();
    // One copy per user and installation. Scripts and headless runs drive a copy of their own. The
    // running copy takes hand-overs only once its window is open: a copy without one never does.
    if (!o.headless && !scripted) {
        switch (host_StartSingleInstance(image.c_str())) {
        case host_InstanceRole::HandedOver:
            return 0;
        case host_InstanceRole::Refused:
            std::fprintf(stderr, "velura: the running copy did not take %s\n", image.c_str());
            return 2;
        case host_InstanceRole::First:
            runningCopy = true;
            break;
        case host_InstanceRole::Alone:
            break;
        }
    }

    bool display = false;
    if (!o.headless) {
        display = host_StartSDL(o.display);
        if (!display && !scripted) {
            const char* x11 = std::getenv("DISPLAY");
            const char* wayland = std::getenv("WAYLAND_DISPLAY");
            const std::string named = x11 && *x11 ? x11 : wayland && *wayland ? wayland : "";
            std::fprintf(stderr,
                         "velura: %s; start it on a desktop (DISPLAY or WAYLAND_DISPLAY), or run a script "
                         "without one: velura --headless --script FILE\n",
                         named.empty() ? "no display found"
                                       : ("the display " + named + " does not open").c_str());
            if (runningCopy) host_StopSingleInstance();
            runningCopy = false;
            return 2;
        }
        if (!display) KPrintF("no display: running the script %s headless\n", o.script.c_str());
    }
    if (runningCopy && !host_ListenSingleInstance(forwardPath))
        KPrintF("cannot take paths from later starts: running on its own\n");
    if (!display) host_SetHelpViewer(nullptr); // no desktop to show help pages on

    int code = 0;
    if (!OpenScreenTagList(nullptr, nullptr)) {
        std::fprintf(stderr, "velura: cannot open the screen\n");
        code = 1;
    } else {
        // The screen stays open to the end: its thread ends with the process, like every window's. The
        // script's thread starts at once, so that it can also answer what the start-up asks.
        std::thread runner;
        std::string error;
        std::atomic<bool> scriptFailed{false};
        if (scripted) {
            runner = std::thread([&] {
                host_SetThreadName("Velura script");
                waitForStartUp();
                if (!app_RunScript(o.script.c_str(), script, &quitting, &error)) {
                    scriptFailed = true;
                    stopNow();
                }
                quitFromScript();
            });
        }
        code = runVelura(image);
        if (displayLost) code = kDisplayLostExit;
        ended = true;
        quitting = true;
        if (runner.joinable()) runner.join();
        if (scriptFailed) {
            std::fprintf(stderr, "velura: %s\n", error.c_str());
            code = 2;
        }
    }

    if (runningCopy) host_StopSingleInstance();
    runningCopy = false;
    if (display) host_StopSDL();
    return code;
}

} // namespace

int main(int argc, char** argv) {
    // A file size limit makes writes fail with their error (a save then says so), never ends the program.
    std::signal(SIGXFSZ, SIG_IGN);
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
    // A path that does not fit the program's path fields would open another file: refused.
    const std::string image = absolutePath(o.image);
    if (image.size() > APP_PATH_MAX)
        return usageError("the image path is longer than " + std::to_string(APP_PATH_MAX) + " characters");

    // Ctrl+C and kill end the program without the quit question: a signal thread hears them (blocked
    // everywhere else, so block them before any thread starts).
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&quitSignals, sig);
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);

    host_RemoveStaleSafeSaves(); // what saves of a copy that was killed half-way left behind

    Tal_UseInterfaceClasses();
    if (!Tal_Init()) return 1;
    Tal_GetGlobalData()->tooltips = 0;
    host_InitWindowSystem(o.display.width, o.display.height);
    host_SetScreenMenuBar(velura_MenuBarResource());
    host_SetCopyDataHandler(pathArrived);
    host_SetQuitHandler(closeMainWindow); // the display's window closed
    host_SetDisplayLostHandler(loseDisplay);
    std::atomic<bool> ending{false};
    std::thread signals([&] {
        host_SetThreadName("Velura signals");
        int sig = 0;
        while (sigwait(&quitSignals, &sig) == 0 && !ending) {
            KPrintF("signal %d: quitting\n", sig);
            stopNow();
            stopStartUp();
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
    host_SetDisplayLostHandler(nullptr);
    host_SetCopyDataHandler(nullptr);
    host_CleanupWindowSystem();
    Tal_CleanUp();
    shutDownLimit.finish();
    return code;
}
