// The SDL2 display back end: one window showing the logical screen zoomed, with the mouse and keyboard
// turned into input of the window system.
//
// Every SDL call happens in the display thread, except SDL_PushEvent (thread-safe, followed by a byte on
// the display thread's wake-up pipe), by which the notifier thread (which waits for drawing) and
// host_StopSDL wake it. The display thread sleeps whenever nothing is due, so an idle program costs nothing;
// the notifier hands over at most one frame until the display thread has shown it, so a busy program costs at
// most one compose per frame.
//
// Losing the display (the X server ends, or another program destroys the window) ends the thread's work
// and is reported to the program, which ends in order.
#include "host/clipboard.h"
#include "host/display.h"
#include "host/host.h"
#include "host/x11.h"

#include <SDL.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto framePeriod = std::chrono::microseconds(16667); // at most 60 frames a second

// Codes of the back end's own wake-up event.
constexpr Sint32 wakeFrame = 1; // the screen changed
constexpr Sint32 wakeStop = 2;  // host_StopSDL

// What the starting thread, the display thread and the notifier share.
std::mutex startLock; // serialises host_StartSDL and host_StopSDL
std::thread displayThread;
std::mutex stateLock;
std::condition_variable& stateWake =
    *new std::condition_variable; // never destroyed: the display thread may outlive exit
bool framePending = false;        // a frame event is on its way and not yet shown
bool stopping = false;
std::atomic<Uint32> wakeEventType{0};
std::atomic<bool> displayRunning{false};
// The display thread's wake-up pipe: a byte after each event handed to it from another thread.
int wakePipe[2] = {-1, -1};
std::atomic<int> wakeWrite{-1};

// The display gone under the program, and why; set in the display thread (inside Xlib, for a lost
// connection).
std::mutex lostLock;
std::atomic<bool> displayLost{false};
std::string lostWhy;

void noteLost(const char* why) {
    std::lock_guard guard(lostLock);
    if (displayLost) return;
    lostWhy = why;
    displayLost = true;
}

bool pushWake(Sint32 code) {
    SDL_Event event{};
    event.type = wakeEventType.load();
    event.user.code = code;
    return host_PushSDLEvent(&event);
}

bool isStopping() {
    std::lock_guard guard(stateLock);
    return stopping;
}

// Waits for drawing anywhere and hands one frame at a time to the display thread.
void notifierMain(ULONG seen) {
    host_SetThreadName("SDL notifier");
    for (;;) {
        // The timeout only bounds a missed wake-up; stopping wakes the wait with a screen change.
        const ULONG now = host_WaitScreenChange(seen, 1000);
        if (isStopping()) return;
        if (now == seen) continue;
        seen = now;
        {
            std::lock_guard guard(stateLock);
            framePending = true;
        }
        // A full event queue (or a filter that ate it) must not leave the frame pending for ever.
        while (!pushWake(wakeFrame)) {
            std::unique_lock guard(stateLock);
            if (stateWake.wait_for(guard, framePeriod, [] { return stopping; })) return;
        }
        std::unique_lock guard(stateLock);
        stateWake.wait(guard, [] { return !framePending || stopping; });
        if (stopping) return;
    }
}

// Virtual keys of SDL's key symbols (layout-aware, like the host's virtual keys).
ULONG virtualKey(const SDL_Keysym& key) {
    const SDL_Keycode sym = key.sym;
    if (sym >= SDLK_a && sym <= SDLK_z) return ULONG('A' + (sym - SDLK_a));
    if (sym >= SDLK_F1 && sym <= SDLK_F12) return VK_F1 + ULONG(sym - SDLK_F1);
    if (sym >= SDLK_KP_1 && sym <= SDLK_KP_9) return 97 + ULONG(sym - SDLK_KP_1); // numeric pad 1-9
    // Digits are the top-row keys whatever they give; letters of a non-Latin layout are their positions.
    if (key.scancode >= SDL_SCANCODE_1 && key.scancode <= SDL_SCANCODE_9)
        return ULONG('1' + (key.scancode - SDL_SCANCODE_1));
    if (key.scancode == SDL_SCANCODE_0) return '0';
    if (sym >= 128 && !(sym & SDLK_SCANCODE_MASK) && key.scancode >= SDL_SCANCODE_A &&
        key.scancode <= SDL_SCANCODE_Z)
        return ULONG('A' + (key.scancode - SDL_SCANCODE_A));
    switch (sym) {
    case SDLK_RETURN:
    case SDLK_KP_ENTER:
        return VK_RETURN;
    case SDLK_ESCAPE:
        return VK_ESCAPE;
    case SDLK_TAB:
        return VK_TAB;
    case SDLK_BACKSPACE:
        return VK_BACK;
    case SDLK_DELETE:
        return VK_DELETE;
    case SDLK_SPACE:
        return VK_SPACE;
    case SDLK_LEFT:
        return VK_LEFT;
    case SDLK_UP:
        return VK_UP;
    case SDLK_RIGHT:
        return VK_RIGHT;
    case SDLK_DOWN:
        return VK_DOWN;
    case SDLK_HOME:
        return VK_HOME;
    case SDLK_END:
        return VK_END;
    case SDLK_PAGEUP:
        return 33;
    case SDLK_PAGEDOWN:
        return 34;
    case SDLK_INSERT:
        return 45;
    case SDLK_KP_0:
        return 96;
    case SDLK_LSHIFT:
    case SDLK_RSHIFT:
        return VK_SHIFT;
    case SDLK_LCTRL:
        return VK_CONTROL;
    case SDLK_RCTRL:
        return VK_ACTION;
    case SDLK_LALT:
    case SDLK_RALT:
        return VK_MENU;
    default:
        return 0;
    }
}

constexpr std::array<SDL_SystemCursor, 9> cursorOfPointer = {
    SDL_SYSTEM_CURSOR_ARROW,     // Arrow
    SDL_SYSTEM_CURSOR_SIZEALL,   // Move
    SDL_SYSTEM_CURSOR_WAIT,      // Busy
    SDL_SYSTEM_CURSOR_CROSSHAIR, // Cross
    SDL_SYSTEM_CURSOR_IBEAM,     // TextBeam
    SDL_SYSTEM_CURSOR_SIZEWE,    // ResizeHorizontal
    SDL_SYSTEM_CURSOR_SIZENS,    // ResizeVertical
    SDL_SYSTEM_CURSOR_SIZENWSE,  // ResizeDiagonalDown
    SDL_SYSTEM_CURSOR_SIZENESW,  // ResizeDiagonalUp
};
static_assert(size_t(host_Pointer::ResizeDiagonalUp) + 1 == cursorOfPointer.size());

int64_t floorDiv(int64_t value, int64_t by) {
    return value >= 0 ? value / by : -((-value + by - 1) / by);
}

// Where the logical screen shows in the window: the largest box of its aspect that fits, centred.
struct View {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const View&) const = default;
};

View fitView(int width, int height, LONG screenWidth, LONG screenHeight) {
    View v;
    if (int64_t(width) * screenHeight <= int64_t(height) * screenWidth) {
        v.w = width;
        v.h = int(int64_t(width) * screenHeight / screenWidth);
    } else {
        v.h = height;
        v.w = int(int64_t(height) * screenWidth / screenHeight);
    }
    v.w = std::max(v.w, 1);
    v.h = std::max(v.h, 1);
    v.x = (width - v.w) / 2;
    v.y = (height - v.h) / 2;
    return v;
}

class Display {
  public:
    explicit Display(int zoom) : zoom_(std::max(zoom, 0)) {}
    ~Display();
    // Empty on success, else why the display cannot be had.
    std::string open();
    void run();

  private:
    SDL_Rect usableArea() const;
    SDL_Rect windowBox(const SDL_Rect& usable) const;
    void keepFrameInside();
    bool layout();
    bool remakeTexture();
    LONG screenX(int x) const;
    LONG screenY(int y) const;
    bool nextEvent(SDL_Event* event, int timeoutMs);
    void present();
    void show();
    void updatePointer();
    void handle(const SDL_Event& event);
    void key(const SDL_KeyboardEvent& event, bool down);
    void text(const char* utf8);
    void inject(ULONG vk, bool down);
    void releaseKeys();

    const int zoom_; // 0: the largest that fits
    LONG width_ = 0, height_ = 0;
    bool sdl_ = false;
    bool x11_ = false;    // the window's X connection is watched
    SDL_Rect usable_{};   // the desktop's usable area at the start
    bool framed_ = false; // the window manager's frame has been fitted into it
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr; // the screen at the view's size
    View view_;
    std::vector<LONG> columns_; // the screen column of each column of the view
    host_Surface* screen_ = nullptr;
    std::array<SDL_Cursor*, 9> cursors_{};
    int pointer_ = -1;
    std::thread notifier_;
    // Keys as this back end reported them: both shift and alt keys share one virtual key.
    std::array<bool, 256> down_{};
    bool leftShift_ = false, rightShift_ = false, leftAlt_ = false, rightAlt_ = false;
};

std::string sdlError(const char* what) {
    return std::string("SDL: ") + what + ": " + SDL_GetError() + "\n";
}

// The drivers of the desktops named in the environment. SDL would otherwise fall back to drawing off
// screen, where nobody sees the program.
std::string desktopDrivers() {
    std::string drivers;
    for (auto [variable, driver] : {std::pair{"DISPLAY", "x11"}, std::pair{"WAYLAND_DISPLAY", "wayland"}}) {
        const char* value = std::getenv(variable);
        if (value && *value) drivers += std::string(drivers.empty() ? "" : ",") + driver;
    }
    return drivers;
}

bool isDesktopDriver(const char* driver) {
    return driver && (std::strcmp(driver, "x11") == 0 || std::strcmp(driver, "wayland") == 0);
}

std::string Display::open() {
    // The program, not SDL, decides what signals do; a paint program need not keep the screen awake.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    SDL_SetHint(SDL_HINT_VIDEODRIVER, desktopDrivers().c_str());
    sdl_ = true; // SDL_Quit also clears what a failed start left (the hints above)
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return sdlError("cannot open the display");
    // SDL_VIDEODRIVER in the environment wins over the hint: an off-screen driver is refused here.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!isDesktopDriver(driver))
        return std::string("SDL: no real display (the video driver is ") + (driver ? driver : "none") + ")\n";
    const Uint32 type = SDL_RegisterEvents(1);
    if (type == Uint32(-1)) return sdlError("no event type left");
    wakeEventType = type;

    width_ = host_ScreenWidth();
    height_ = host_ScreenHeight();
    const SDL_Rect usable = usableArea();
    const SDL_Rect box = windowBox(usable);
    window_ = SDL_CreateWindow("Velura", box.x, box.y, box.w, box.h, SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE);
    if (!window_) return sdlError("cannot open a window");
    SDL_SetWindowMinimumSize(window_, std::max(1, int(width_ / 2)), std::max(1, int(height_ / 2)));
    usable_ = usable;
    keepFrameInside();
    x11_ = host__WatchSdlX11Window(window_, noteLost);
    // The zoom is done here and the window is small: on X11 its own (shared-memory) images do, without
    // loading a graphics driver. Other systems show the software renderer's frames their own way.
    if (std::strcmp(driver, "x11") == 0) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) return sdlError("cannot draw into the window");
    if (!layout()) return sdlError("cannot make the screen texture");
    screen_ = host_AllocSurface(width_, height_);
    if (!screen_) return "SDL: out of memory for the screen\n";

    SDL_StartTextInput();
    const ULONG seen = host_WaitScreenChange(0, 0);
    present();
    notifier_ = std::thread(notifierMain, seen);
    return {};
}

SDL_Rect Display::usableArea() const {
    SDL_Rect area{};
    if (SDL_GetDisplayUsableBounds(0, &area) == 0 && area.w > 0 && area.h > 0) return area;
    if (SDL_GetDisplayBounds(0, &area) == 0 && area.w > 0 && area.h > 0) return area;
    return {0, 0, int(width_ * std::max(zoom_, 1)), int(height_ * std::max(zoom_, 1))};
}

// The screen at the zoom asked for, or at the largest whole zoom that fits the usable area; made smaller,
// its aspect kept, where that does not fit; centred in the area.
SDL_Rect Display::windowBox(const SDL_Rect& usable) const {
    const int64_t zoom =
        zoom_ > 0 ? zoom_ : std::max<int64_t>(1, std::min(usable.w / width_, usable.h / height_));
    int w = int(std::min<int64_t>(width_ * zoom, INT32_MAX)),
        h = int(std::min<int64_t>(height_ * zoom, INT32_MAX));
    if (w > usable.w || h > usable.h) {
        const View fit = fitView(usable.w, usable.h, width_, height_);
        w = fit.w;
        h = fit.h;
    }
    return {usable.x + (usable.w - w) / 2, usable.y + (usable.h - h) / 2, w, h};
}

// The window manager's frame must fit the usable area too: its title bar above the top of the area would
// take the window's own title bar along, its bottom below the area the menu bar. The frame is known once
// the window manager has framed the window (some events after it shows); then, once, the window is made to
// fit.
void Display::keepFrameInside() {
    if (framed_) return;
    int top = 0, left = 0, bottom = 0, right = 0;
    if (SDL_GetWindowBordersSize(window_, &top, &left, &bottom, &right) != 0 ||
        (top | left | bottom | right) == 0)
        return;
    framed_ = true;
    const SDL_Rect& usable = usable_;
    int x = 0, y = 0, w = 0, h = 0;
    SDL_GetWindowPosition(window_, &x, &y);
    SDL_GetWindowSize(window_, &w, &h);
    const int areaW = usable.w - left - right, areaH = usable.h - top - bottom;
    const bool inside = x - left >= usable.x && y - top >= usable.y && x + w + right <= usable.x + usable.w &&
                        y + h + bottom <= usable.y + usable.h;
    if (inside || areaW < 1 || areaH < 1) return;
    if (w > areaW || h > areaH) {
        const View fit = fitView(areaW, areaH, width_, height_);
        w = fit.w;
        h = fit.h;
        SDL_SetWindowSize(window_, w, h);
    }
    SDL_SetWindowPosition(window_, usable.x + left + (areaW - w) / 2, usable.y + top + (areaH - h) / 2);
}

// Fits the view to the window; the texture follows it.
bool Display::layout() {
    int w = 0, h = 0;
    if (SDL_GetRendererOutputSize(renderer_, &w, &h) != 0 || w < 1 || h < 1)
        SDL_GetWindowSize(window_, &w, &h);
    const View view = fitView(std::max(w, 1), std::max(h, 1), width_, height_);
    if (texture_ && view == view_) return true;
    view_ = view;
    columns_.resize(size_t(view.w));
    for (int x = 0; x < view.w; x++) columns_[size_t(x)] = screenX(view.x + x);
    return remakeTexture();
}

bool Display::remakeTexture() {
    if (texture_) SDL_DestroyTexture(texture_);
    texture_ =
        SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING, view_.w, view_.h);
    if (!texture_) KPrintF("SDL: cannot make the screen texture: %s\n", SDL_GetError());
    return texture_ != nullptr;
}

// The screen pixel under a window pixel: the one the drawing shows there (outside the view, beyond the
// screen's edges).
LONG Display::screenX(int x) const {
    return LONG(floorDiv(int64_t(x - view_.x) * width_, view_.w));
}
LONG Display::screenY(int y) const {
    return LONG(floorDiv(int64_t(y - view_.y) * height_, view_.h));
}

Display::~Display() {
    if (notifier_.joinable()) {
        {
            std::lock_guard guard(stateLock);
            stopping = true;
        }
        stateWake.notify_all();
        host_NoteScreenChange(); // wakes the notifier's wait
        notifier_.join();
    }
    host_FreeSurface(screen_);
    {
        // After a lost display SDL is left as it is: taking it down would talk to the display through
        // SDL's second connection, which Xlib ends the process on, or ask it to destroy a window another
        // program destroyed already (an error not every handler in the chain survives). Its connections
        // stay watched for the same reason. Only what SDL keeps for this thread goes; the program ends.
        std::lock_guard guard(lostLock);
        if (displayLost) {
            SDL_TLSCleanup();
            return;
        }
    }
    for (SDL_Cursor* cursor : cursors_)
        if (cursor) SDL_FreeCursor(cursor);
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    if (sdl_) SDL_Quit();
    if (x11_) host__UnwatchSdlX11Window();
}

// The next event, false after timeoutMs (-1: none) or when the display is lost. On X11 the thread sleeps
// on the window's connection and the wake-up pipe; SDL's own wait would be woken through its second
// connection, which Xlib ends the process on when the display goes.
bool Display::nextEvent(SDL_Event* event, int timeoutMs) {
    if (!x11_) {
        if (timeoutMs >= 0) return SDL_WaitEventTimeout(event, timeoutMs) == 1;
        if (SDL_WaitEvent(event)) return true;
        KPrintF("SDL: waiting for events failed: %s\n", SDL_GetError()); // an error: do not spin on it
        SDL_Delay(100);
        return false;
    }
    const Clock::time_point until = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
        if (SDL_PollEvent(event)) return true;
        if (displayLost) return false;
        int left = -1;
        if (timeoutMs >= 0) {
            left = int(std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count());
            if (left <= 0) return false;
        }
        host__WaitSdlX11(wakePipe[0], left);
    }
}

void Display::run() {
    bool dirty = false;
    Clock::time_point lastFrame = Clock::now();
    while (!displayLost) {
        SDL_Event event;
        bool got;
        if (dirty) {
            const Clock::time_point due = lastFrame + framePeriod;
            const Clock::time_point now = Clock::now();
            if (now >= due) {
                present();
                lastFrame = now;
                dirty = false;
                {
                    std::lock_guard guard(stateLock);
                    framePending = false;
                }
                stateWake.notify_all();
                continue;
            }
            got = nextEvent(&event, int(std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
        } else {
            got = nextEvent(&event, -1);
        }
        if (!got) continue;
        if (event.type == wakeEventType.load()) {
            if (event.user.code == wakeStop && isStopping()) return;
            if (event.user.code == wakeFrame) dirty = true;
            continue;
        }
        if (event.type == SDL_RENDER_DEVICE_RESET) {
            remakeTexture();
            dirty = true;
            continue;
        }
        handle(event);
    }
}

void Display::present() {
    if (!texture_) return;
    host_ComposeScreen(screen_);
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture_, nullptr, &pixels, &pitch) == 0) {
        // Each row of the view shows the screen row under it, each column the screen column: the same
        // mapping as the pointer's.
        const uint32_t* previous = nullptr;
        LONG previousRow = -1;
        for (int y = 0; y < view_.h; y++) {
            auto* row = reinterpret_cast<uint32_t*>(static_cast<char*>(pixels) + size_t(y) * size_t(pitch));
            const LONG from = screenY(view_.y + y);
            if (from == previousRow) {
                std::copy_n(previous, size_t(view_.w), row);
            } else {
                const uint32_t* source = screen_->pixels + size_t(from) * screen_->stride;
                for (int x = 0; x < view_.w; x++) row[x] = source[columns_[size_t(x)]];
            }
            previous = row;
            previousRow = from;
        }
        SDL_UnlockTexture(texture_);
    }
    show();
    updatePointer();
}

void Display::show() {
    if (!texture_) return;
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    const SDL_Rect to{view_.x, view_.y, view_.w, view_.h};
    SDL_RenderCopy(renderer_, texture_, nullptr, &to);
    SDL_RenderPresent(renderer_);
}

void Display::updatePointer() {
    const int shape = int(host_GetPointerShape());
    if (shape == pointer_ || shape < 0 || size_t(shape) >= cursors_.size()) return;
    if (!cursors_[shape]) cursors_[shape] = SDL_CreateSystemCursor(cursorOfPointer[shape]);
    if (!cursors_[shape]) return; // keep the shape shown now; try again at the next frame
    SDL_SetCursor(cursors_[shape]);
    pointer_ = shape;
}

void Display::handle(const SDL_Event& event) {
    switch (event.type) {
    case SDL_MOUSEMOTION:
        host_InjectMouseMove(screenX(event.motion.x), screenY(event.motion.y));
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        const int button = event.button.button == SDL_BUTTON_LEFT     ? 0
                           : event.button.button == SDL_BUTTON_RIGHT  ? 1
                           : event.button.button == SDL_BUTTON_MIDDLE ? 2
                                                                      : -1;
        if (button >= 0)
            host_InjectButton(button, event.type == SDL_MOUSEBUTTONDOWN, screenX(event.button.x),
                              screenY(event.button.y));
        break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        key(event.key, event.type == SDL_KEYDOWN);
        break;
    case SDL_TEXTINPUT:
        text(event.text.text);
        break;
    case SDL_SYSWMEVENT:
        host__SdlX11Event(event.syswm.msg);
        break;
    case SDL_WINDOWEVENT:
        keepFrameInside();
        switch (event.window.event) {
        case SDL_WINDOWEVENT_EXPOSED:
            show();
            break;
        case SDL_WINDOWEVENT_SIZE_CHANGED:
            if (layout()) present();
            break;
        case SDL_WINDOWEVENT_FOCUS_LOST:
            releaseKeys();
            break;
        case SDL_WINDOWEVENT_CLOSE:
            if (host_QuitHandler quit = host_GetQuitHandler()) quit();
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
}

void Display::inject(ULONG vk, bool down) {
    down_[vk] = down;
    host_InjectKey(vk, down);
}

void Display::key(const SDL_KeyboardEvent& event, bool down) {
    const ULONG vk = virtualKey(event.keysym);
    if (!vk) return;
    switch (event.keysym.sym) {
    case SDLK_LSHIFT:
        leftShift_ = down;
        break;
    case SDLK_RSHIFT:
        rightShift_ = down;
        break;
    case SDLK_LALT:
        leftAlt_ = down;
        break;
    case SDLK_RALT:
        rightAlt_ = down;
        break;
    default:
        break;
    }
    // Releasing one of two held shift (or alt) keys leaves the virtual key down.
    if (!down &&
        ((vk == VK_SHIFT && (leftShift_ || rightShift_)) || (vk == VK_MENU && (leftAlt_ || rightAlt_))))
        return;
    if (!down && !down_[vk]) return; // a release whose press went elsewhere
    inject(vk, down);
    if (!down) return;
    // Keys that give control characters report them here: typed text never carries them.
    const bool control = down_[VK_CONTROL];
    const bool letter = vk >= 'A' && vk <= 'Z';
    if ((letter && control) || vk == VK_RETURN || vk == VK_BACK || vk == VK_TAB || vk == VK_ESCAPE)
        if (UBYTE c = host_CharForKey(vk, down_[VK_SHIFT], control)) host_InjectChar(c);
}

void Display::text(const char* utf8) {
    // With Control held the key has already given its character (or none, like the host).
    if (down_[VK_CONTROL]) return;
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    while (*s) {
        ULONG code;
        int more;
        if (*s < 0x80) {
            code = *s;
            more = 0;
        } else if ((*s & 0xE0) == 0xC0) {
            code = *s & 0x1F;
            more = 1;
        } else if ((*s & 0xF0) == 0xE0) {
            code = *s & 0x0F;
            more = 2;
        } else if ((*s & 0xF8) == 0xF0) {
            code = *s & 0x07;
            more = 3;
        } else { // a stray continuation or invalid byte
            s++;
            continue;
        }
        s++;
        bool valid = true;
        for (int i = 0; i < more; i++, s++) {
            if ((*s & 0xC0) != 0x80) {
                valid = false;
                break;
            }
            code = (code << 6) | (*s & 0x3F);
        }
        // 8-bit texts are Latin-1; control characters come with their keys, never as text.
        if (valid && code <= 0xFF && code >= 0x20 && !(code >= 0x7F && code < 0xA0))
            host_InjectChar(UBYTE(code));
    }
}

void Display::releaseKeys() {
    // Keys released while another window has the keyboard would otherwise stay down for ever.
    for (ULONG vk = 0; vk < down_.size(); vk++)
        if (down_[vk]) inject(vk, false);
    leftShift_ = rightShift_ = leftAlt_ = rightAlt_ = false;
}

void displayMain(int zoom, std::promise<std::string> started) {
    host_SetThreadName("SDL display");
    std::string failure;
    bool stopped = false; // by host_StopSDL (taking the display down stops the notifier the same way)
    {
        Display display(zoom);
        failure = display.open();
        if (failure.empty()) {
            displayRunning = true;
            started.set_value({});
            display.run();
            stopped = isStopping();
        }
    }
    displayRunning = false;
    if (!failure.empty()) {
        started.set_value(failure);
        return;
    }
    // Gone under the program, not stopped: the program hears of it.
    std::string why;
    {
        std::lock_guard guard(lostLock);
        if (!displayLost) return;
        why = lostWhy;
    }
    KPrintF("SDL: %s\n", why.c_str());
    if (host_DisplayLostHandler lost = host_GetDisplayLostHandler(); lost && !stopped) lost(why.c_str());
}

void closeWakePipe() {
    wakeWrite = -1;
    for (int& fd : wakePipe) {
        if (fd >= 0) close(fd);
        fd = -1;
    }
}

} // namespace

bool host_PushSDLEvent(SDL_Event* event) {
    if (SDL_PushEvent(event) != 1) return false;
    if (const int fd = wakeWrite.load(); fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] ssize_t n = write(fd, &byte, 1); // a full pipe wakes the thread already
    }
    return true;
}

bool host_StartSDL(const host_DisplayOptions& options) {
    std::lock_guard guard(startLock);
    if (displayThread.joinable()) {
        KPutStr("SDL: the display is already running\n");
        return false;
    }
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if ((!x11 || !*x11) && (!wayland || !*wayland)) {
        KPutStr("SDL: no display (neither DISPLAY nor WAYLAND_DISPLAY is set)\n");
        return false;
    }
    {
        std::lock_guard state(stateLock);
        stopping = false;
        framePending = false;
    }
    {
        std::lock_guard lost(lostLock);
        displayLost = false;
        lostWhy.clear();
    }
    if (pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        KPutStr("SDL: no wake-up pipe\n");
        return false;
    }
    wakeWrite = wakePipe[1];
    std::promise<std::string> started;
    std::future<std::string> result = started.get_future();
    displayThread = std::thread(displayMain, options.zoom, std::move(started));
    const std::string failure = result.get();
    if (failure.empty()) {
        // Pictures and texts are exchanged with other programs on the same display.
        host_StartDesktopClipboard();
        return true;
    }
    displayThread.join();
    closeWakePipe();
    KPutStr(failure.c_str());
    return false;
}

void host_StopSDL() {
    std::lock_guard guard(startLock);
    if (!displayThread.joinable()) return;
    if (displayThread.get_id() == std::this_thread::get_id()) {
        KPutStr("SDL: host_StopSDL called from the display thread\n");
        return;
    }
    host_StopDesktopClipboard();
    {
        std::lock_guard state(stateLock);
        stopping = true;
    }
    stateWake.notify_all();
    // The display thread ends through this event (or has ended, its display lost); a full queue is retried
    // until it takes it.
    while (displayRunning && !pushWake(wakeStop)) std::this_thread::sleep_for(framePeriod);
    displayThread.join();
    closeWakePipe();
}
