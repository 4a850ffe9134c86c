// The program's own X connections: Xlib's process-wide error handlers, and the X side of the SDL window.
#include "host/x11.h"
#include "host/host.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct Watched {
    Display* display;
    host__XConnectionLost lost;
};

std::mutex watchLock;
std::vector<Watched> watched;
// The handlers that were in place before ours, for the connections of others.
std::atomic<XErrorHandler> previousHandler{nullptr};
std::atomic<XIOErrorHandler> previousIOHandler{nullptr};

bool isWatched(Display* display) {
    std::lock_guard guard(watchLock);
    return std::any_of(watched.begin(), watched.end(),
                       [&](const Watched& w) { return w.display == display; });
}

int onXError(Display* display, XErrorEvent* event) {
    static thread_local bool inside = false; // a chain of handlers that leads back here ends
    if (isWatched(display)) {
        KPrintF("X: request %u failed with error %u on resource 0x%lx\n", unsigned(event->request_code),
                unsigned(event->error_code), static_cast<unsigned long>(event->resourceid));
        return 0;
    }
    if (inside) return 0;
    inside = true;
    const XErrorHandler previous = previousHandler.load();
    const int result = previous ? previous(display, event) : 0;
    inside = false;
    return result;
}

// For a watched connection Xlib goes on to its exit handler, which is ours; Xlib's own handler would
// print a line and end the process.
int onIOError(Display* display) {
    if (isWatched(display)) return 0;
    const XIOErrorHandler previous = previousIOHandler.load();
    return previous ? previous(display) : 0;
}

void onConnectionLost(Display* display, void*) {
    host__XConnectionLost lost = nullptr;
    {
        std::lock_guard guard(watchLock);
        for (const Watched& w : watched)
            if (w.display == display) lost = w.lost;
    }
    if (lost) lost(display);
}

// The SDL window: one at a time.
std::mutex sdlLock;
Display* sdlDisplay = nullptr;
::Window sdlWindow = 0;
std::string sdlConnectionLost;
std::atomic<host__DisplayLost> sdlLost{nullptr};

void onSdlConnectionLost(void*) {
    std::string why;
    {
        std::lock_guard guard(sdlLock);
        why = sdlConnectionLost;
    }
    if (host__DisplayLost lost = sdlLost.load()) lost(why.c_str());
}

} // namespace

void host__WatchXConnection(void* display, host__XConnectionLost lost) {
    auto* d = static_cast<Display*>(display);
    {
        std::lock_guard guard(watchLock);
        std::erase_if(watched, [&](const Watched& w) { return w.display == d; });
        watched.push_back({d, lost});
    }
    {
        // Others (SDL among them) may have put their handlers in place meanwhile: ours goes first again.
        // (Not under watchLock, which our handlers take while Xlib may hold its own.)
        static std::mutex handlerLock;
        std::lock_guard guard(handlerLock);
        if (XErrorHandler was = XSetErrorHandler(onXError); was != onXError) previousHandler = was;
        if (XIOErrorHandler was = XSetIOErrorHandler(onIOError); was != onIOError) previousIOHandler = was;
    }
    XSetIOErrorExitHandler(d, onConnectionLost, nullptr);
}

void host__UnwatchXConnection(void* display) {
    std::lock_guard guard(watchLock);
    std::erase_if(watched, [&](const Watched& w) { return w.display == display; });
}

bool host__WatchSdlX11Window(SDL_Window* window, host__DisplayLost lost) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return false;
    {
        std::lock_guard guard(sdlLock);
        sdlDisplay = info.info.x11.display;
        sdlWindow = info.info.x11.window;
        sdlConnectionLost =
            std::string("the connection to the display ") + DisplayString(sdlDisplay) + " was lost";
    }
    sdlLost = lost;
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    host__WatchXConnection(info.info.x11.display, onSdlConnectionLost);
    return true;
}

void host__SdlX11Event(const SDL_SysWMmsg* message) {
    if (!message || message->subsystem != SDL_SYSWM_X11) return;
    const XEvent& event = message->msg.x11.event;
    if (event.type != DestroyNotify) return;
    {
        std::lock_guard guard(sdlLock);
        if (!sdlWindow || event.xdestroywindow.window != sdlWindow) return;
    }
    if (host__DisplayLost lost = sdlLost.load()) lost("another program destroyed the window");
}

void host__WaitSdlX11(int wakeFd, int timeoutMs) {
    Display* display;
    {
        std::lock_guard guard(sdlLock);
        display = sdlDisplay;
    }
    // Events Xlib has read already would not wake the poll.
    if (display && XEventsQueued(display, QueuedAlready) > 0) return;
    pollfd fds[2] = {{wakeFd, POLLIN, 0}, {display ? ConnectionNumber(display) : -1, POLLIN, 0}};
    if (poll(fds, 2, timeoutMs) > 0 && (fds[0].revents & POLLIN)) {
        char drain[64];
        while (read(wakeFd, drain, sizeof drain) > 0) {
        }
    }
}

void host__UnwatchSdlX11Window() {
    Display* display;
    {
        std::lock_guard guard(sdlLock);
        display = sdlDisplay;
        sdlDisplay = nullptr;
        sdlWindow = 0;
    }
    sdlLost = nullptr;
    if (display) host__UnwatchXConnection(display);
}
