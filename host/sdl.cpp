// The SDL2 display back end: one window showing the logical screen scaled by an integer zoom, with the
// mouse and keyboard turned into input of the window system.
//
// Every SDL call happens in the display thread, except SDL_PushEvent (thread-safe), by which the notifier
// thread (which waits for drawing) and host_StopSDL wake it. The display thread sleeps in SDL's event wait
// whenever nothing is due, so an idle program costs nothing; the notifier hands over at most one frame
// until the display thread has shown it, so a busy program costs at most one compose per frame.
#include "host/clipboard.h"
#include "host/display.h"
#include "host/host.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <thread>

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
std::condition_variable& stateWake = *new std::condition_variable; // never destroyed: the display thread may outlive exit
bool framePending = false; // a frame event is on its way and not yet shown
bool stopping = false;
std::atomic<Uint32> wakeEventType{0};
std::atomic<bool> displayRunning{false};

bool pushWake(Sint32 code) {
    SDL_Event event{};
    event.type = wakeEventType.load();
    event.user.code = code;
    return SDL_PushEvent(&event) == 1;
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

LONG floorDiv(LONG value, LONG by) {
    return value >= 0 ? value / by : -((-value + by - 1) / by);
}

class Display {
  public:
    explicit Display(int zoom) : zoom_(zoom < 1 ? 1 : zoom) {}
    ~Display();
    // Empty on success, else why the display cannot be had.
    std::string open();
    void run();

  private:
    bool remakeTexture();
    void present();
    void show();
    void updatePointer();
    void handle(const SDL_Event& event);
    void key(const SDL_KeyboardEvent& event, bool down);
    void text(const char* utf8);
    void inject(ULONG vk, bool down);
    void releaseKeys();

    const LONG zoom_;
    LONG width_ = 0, height_ = 0;
    bool sdl_ = false;
    SDL_Window* window_ = nullptr;
    SDL_Renderer* renderer_ = nullptr;
    SDL_Texture* texture_ = nullptr;
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

std::string Display::open() {
    // The program, not SDL, decides what signals do; a paint program need not keep the screen awake.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    sdl_ = true; // SDL_Quit also clears what a failed start left (the hints above)
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return sdlError("cannot open the display");
    const Uint32 type = SDL_RegisterEvents(1);
    if (type == Uint32(-1)) return sdlError("no event type left");
    wakeEventType = type;

    width_ = host_ScreenWidth();
    height_ = host_ScreenHeight();
    if (width_ > 32767 / zoom_ || height_ > 32767 / zoom_) return "SDL: the zoomed screen is too large\n";
    const int w = int(width_ * zoom_), h = int(height_ * zoom_);
    window_ =
        SDL_CreateWindow("Velura", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, w, h, SDL_WINDOW_SHOWN);
    if (!window_) return sdlError("cannot open a window");
    // The zoom is done here and the window is small: on X11 its own (shared-memory) images do, without
    // loading a graphics driver. Other systems show the software renderer's frames their own way.
    const char* driver = SDL_GetCurrentVideoDriver();
    if (driver && std::strcmp(driver, "x11") == 0) SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    renderer_ = SDL_CreateRenderer(window_, -1, SDL_RENDERER_SOFTWARE);
    if (!renderer_) return sdlError("cannot draw into the window");
    // The texture has the window's size: the zoom is done here, so every logical pixel becomes exactly
    // zoom x zoom pixels whatever the renderer's own scaling would do.
    if (!remakeTexture()) return sdlError("cannot make the screen texture");
    screen_ = host_AllocSurface(width_, height_);
    if (!screen_) return "SDL: out of memory for the screen\n";

    SDL_StartTextInput();
    const ULONG seen = host_WaitScreenChange(0, 0);
    present();
    notifier_ = std::thread(notifierMain, seen);
    return {};
}

bool Display::remakeTexture() {
    if (texture_) SDL_DestroyTexture(texture_);
    texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB888, SDL_TEXTUREACCESS_STREAMING,
                                 int(width_ * zoom_), int(height_ * zoom_));
    if (!texture_) KPrintF("SDL: cannot make the screen texture: %s\n", SDL_GetError());
    return texture_ != nullptr;
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
    for (SDL_Cursor* cursor : cursors_)
        if (cursor) SDL_FreeCursor(cursor);
    host_FreeSurface(screen_);
    if (texture_) SDL_DestroyTexture(texture_);
    if (renderer_) SDL_DestroyRenderer(renderer_);
    if (window_) SDL_DestroyWindow(window_);
    if (sdl_) SDL_Quit();
}

void Display::run() {
    bool dirty = false;
    Clock::time_point lastFrame = Clock::now();
    for (;;) {
        SDL_Event event;
        int got;
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
            const auto wait = std::chrono::ceil<std::chrono::milliseconds>(due - now);
            got = SDL_WaitEventTimeout(&event, int(wait.count()));
        } else {
            got = SDL_WaitEvent(&event);
            if (!got) { // an error, not a timeout: do not spin on it
                KPrintF("SDL: waiting for events failed: %s\n", SDL_GetError());
                SDL_Delay(100);
            }
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
        const size_t rowWords = size_t(width_ * zoom_);
        for (LONG y = 0; y < height_; y++) {
            const uint32_t* from = screen_->pixels + size_t(y) * screen_->stride;
            auto* first = reinterpret_cast<uint32_t*>(static_cast<char*>(pixels) + size_t(y * zoom_) * pitch);
            for (LONG x = 0; x < width_; x++) std::fill_n(first + x * zoom_, zoom_, from[x]);
            for (LONG r = 1; r < zoom_; r++) {
                auto* row =
                    reinterpret_cast<uint32_t*>(static_cast<char*>(pixels) + size_t(y * zoom_ + r) * pitch);
                std::copy_n(first, rowWords, row);
            }
        }
        SDL_UnlockTexture(texture_);
    }
    show();
    updatePointer();
}

void Display::show() {
    if (!texture_) return;
    SDL_RenderCopy(renderer_, texture_, nullptr, nullptr);
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
        host_InjectMouseMove(floorDiv(event.motion.x, zoom_), floorDiv(event.motion.y, zoom_));
        break;
    case SDL_MOUSEBUTTONDOWN:
    case SDL_MOUSEBUTTONUP: {
        const int button = event.button.button == SDL_BUTTON_LEFT     ? 0
                           : event.button.button == SDL_BUTTON_RIGHT  ? 1
                           : event.button.button == SDL_BUTTON_MIDDLE ? 2
                                                                      : -1;
        if (button >= 0)
            host_InjectButton(button, event.type == SDL_MOUSEBUTTONDOWN, floorDiv(event.button.x, zoom_),
                              floorDiv(event.button.y, zoom_));
        break;
    }
    case SDL_KEYDOWN:
    case SDL_KEYUP:
        key(event.key, event.type == SDL_KEYDOWN);
        break;
    case SDL_TEXTINPUT:
        text(event.text.text);
        break;
    case SDL_WINDOWEVENT:
        switch (event.window.event) {
        case SDL_WINDOWEVENT_EXPOSED:
            show();
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
    {
        Display display(zoom);
        failure = display.open();
        if (failure.empty()) {
            displayRunning = true;
            started.set_value({});
            display.run();
        }
    }
    displayRunning = false;
    if (!failure.empty()) started.set_value(failure);
}

} // namespace

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
    // The display thread only ends through this event; a full queue is retried until it takes it.
    while (displayRunning && !pushWake(wakeStop)) std::this_thread::sleep_for(framePeriod);
    displayThread.join();
}
