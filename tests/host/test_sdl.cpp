// The SDL display back end end to end, under a virtual X display: what the user sees (grabbed from the X
// screen) and what the program gets from the mouse and keyboard.
#include "host/display.h"
#include "host/host.h"
#include "host/wm.h"

#include "support/TalTest.h"
#include "support/VirtualDisplay.h"

#include <SDL.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr LONG kWidth = 240, kHeight = 320;
constexpr int kZoom = 2;

struct Image {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels; // 0x00RRGGBB
    uint32_t at(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

// Reads a binary PPM with 8-bit samples.
bool readPpm(const std::string& path, Image* image) {
    std::ifstream in(path, std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 0;
    auto number = [&]() -> long {
        for (;;) {
            while (at < data.size() && std::isspace(static_cast<unsigned char>(data[at]))) at++;
            if (at < data.size() && data[at] == '#') {
                while (at < data.size() && data[at] != '\n') at++;
                continue;
            }
            break;
        }
        long v = -1;
        for (; at < data.size() && std::isdigit(static_cast<unsigned char>(data[at])); at++)
            v = (v < 0 ? 0 : v * 10) + (data[at] - '0');
        return v;
    };
    if (data.compare(0, 2, "P6") != 0) return false;
    at = 2;
    const long w = number(), h = number(), max = number();
    if (w <= 0 || h <= 0 || max != 255 || at >= data.size()) return false;
    at++; // the one white-space character before the samples
    if (data.size() - at < size_t(w) * size_t(h) * 3) return false;
    image->width = int(w);
    image->height = int(h);
    image->pixels.resize(size_t(w) * size_t(h));
    for (size_t i = 0; i < image->pixels.size(); i++) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at + 3 * i);
        image->pixels[i] = (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    }
    return true;
}

// The whole X screen, as ImageMagick grabs it.
bool grabScreen(Image* image) {
    const char* tmp = std::getenv("TMPDIR");
    std::string path = std::string(tmp && *tmp ? tmp : "/tmp") + "/velura-sdl-grab-XXXXXX";
    const int fd = mkstemp(path.data());
    if (fd < 0) return false;
    close(fd);
    const pid_t pid = spawn({"import", "-window", "root", "-depth", "8", "ppm:" + path});
    const bool ok = pid > 0 && reap(pid, 10000ms) == 0 && readPpm(path, image);
    unlink(path.c_str());
    return ok;
}

struct Box {
    int x = 0, y = 0, w = 0, h = 0;
    bool operator==(const Box&) const = default;
};

std::string describe(const Box& b) {
    return std::to_string(b.w) + "x" + std::to_string(b.h) + " at " + std::to_string(b.x) + "," +
           std::to_string(b.y);
}

// The program's window on the X screen (there is no window manager: its place is its client area's).
bool windowBox(Box* box) {
    const std::string out = capture("xdotool search --name '^Velura$' getwindowgeometry --shell 2>/dev/null");
    auto value = [&](const char* name, int* to) {
        const size_t at = out.find(std::string("\n") + name + "=");
        if (at == std::string::npos) return false;
        *to = std::atoi(out.c_str() + at + std::strlen(name) + 2);
        return true;
    };
    return value("X", &box->x) && value("Y", &box->y) && value("WIDTH", &box->w) && value("HEIGHT", &box->h);
}

// Where the logical screen shows in the grab, each pixel as kZoom x kZoom identical pixels: true with the
// place when it shows exactly; otherwise *wrong tells how many logical pixels differ at the best place
// (-1 when none came close).
bool findScreen(const Image& grab, const host_Surface* screen, int* foundX, int* foundY, long* wrong) {
    auto pixel = [&](LONG x, LONG y) { return screen->pixels[size_t(y) * screen->stride + x]; };
    auto blockIs = [&](int x, int y, LONG lx, LONG ly) {
        for (int dy = 0; dy < kZoom; dy++)
            for (int dx = 0; dx < kZoom; dx++)
                if (grab.at(x + lx * kZoom + dx, y + ly * kZoom + dy) != pixel(lx, ly)) return false;
        return true;
    };
    const LONG samples[][2] = {
        {0, 0}, {kWidth - 1, 0}, {0, kHeight - 1}, {kWidth - 1, kHeight - 1}, {kWidth / 2, kHeight / 2}};
    *wrong = -1;
    for (int y = 0; y + kHeight * kZoom <= grab.height; y++)
        for (int x = 0; x + kWidth * kZoom <= grab.width; x++) {
            if (!std::all_of(std::begin(samples), std::end(samples),
                             [&](const LONG* p) { return blockIs(x, y, p[0], p[1]); }))
                continue;
            long differ = 0;
            for (LONG ly = 0; ly < kHeight; ly++)
                for (LONG lx = 0; lx < kWidth; lx++)
                    if (!blockIs(x, y, lx, ly)) differ++;
            if (*wrong < 0 || differ < *wrong) {
                *wrong = differ;
                *foundX = x;
                *foundY = y;
            }
            if (differ == 0) return true;
        }
    return false;
}

// What the test window received.
struct Received {
    ULONG message;
    Tal_Word wParam, lParam;
};
std::mutex receivedLock;
std::condition_variable receivedWake;
std::vector<Received> received;

Tal_Word recordingProc(host_Window*, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    switch (message) {
    case HM_KEYDOWN:
    case HM_KEYUP:
    case HM_CHAR:
    case HM_MOUSEMOVE:
    case HM_LBUTTONDOWN:
    case HM_LBUTTONUP:
    case HM_RBUTTONDOWN:
    case HM_RBUTTONUP:
    case HM_MBUTTONDOWN:
    case HM_MBUTTONUP: {
        std::lock_guard guard(receivedLock);
        received.push_back({message, wParam, lParam});
        receivedWake.notify_all();
        break;
    }
    default:
        break;
    }
    return 0;
}

std::atomic<int> quitCalls{0};
void countQuit() {
    quitCalls++;
}

class SdlDisplay : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!onPath("Xvfb")) GTEST_SKIP() << "Xvfb is not installed (package xvfb)";
        const std::string why = xvfb_.start();
        ASSERT_TRUE(why.empty()) << why;
        unsetenv("WAYLAND_DISPLAY");
        setenv("DISPLAY", xvfb_.name().c_str(), 1);
        {
            std::lock_guard guard(receivedLock);
            received.clear();
        }
        host_InitWindowSystem(kWidth, kHeight);
        std::promise<host_Window*> made;
        auto window = made.get_future();
        // The thread keeps the promise: setting it may still be under way when the value is taken.
        pump_ = std::thread([made = std::move(made)]() mutable {
            host_WindowDesc desc;
            desc.rect = {0, 0, kWidth, kHeight};
            desc.proc = recordingProc;
            desc.name = "sdl test";
            host_Window* w = host_CreateWindow(desc);
            made.set_value(w);
            if (!w) return;
            HostMessage m;
            while (host_GetMessage(&m)) host_DispatchMessage(m);
            host_DestroyWindow(w);
        });
        window_ = window.get();
        ASSERT_NE(window_, nullptr);
        host_SetFocus(window_);
        InitRastPort(&rp_);
        rp_.rp_Layer = host_GetLayer(window_);
        drawPattern();
        host_DisplayOptions options;
        options.zoom = kZoom;
        ASSERT_TRUE(host_StartSDL(options));
        started_ = true;
    }
    void TearDown() override {
        if (started_) host_StopSDL();
        host_SetQuitHandler(nullptr);
        if (window_) host_PostQuitToOwner(window_);
        if (pump_.joinable()) pump_.join();
        host_CleanupWindowSystem();
        xvfb_.stop();
    }

    // Colour bands and one-pixel details (a checkerboard, the corner), which only exact pixel replication
    // shows as they are.
    void drawPattern() {
        FillPixelArray(&rp_, 0, 0, kWidth, kHeight, 0x00C08040);
        FillPixelArray(&rp_, 10, 20, 100, 40, 0x000000FF);
        FillPixelArray(&rp_, 120, 200, 60, 90, 0x0000FF00);
        FillPixelArray(&rp_, 30, 250, 50, 50, 0x00FF0000);
        for (LONG y = 100; y < 140; y++)
            for (LONG x = 60; x < 200; x++)
                if ((x + y) % 2) FillPixelArray(&rp_, x, y, 1, 1, 0x00FFFFFF);
        FillPixelArray(&rp_, 0, 0, 1, 1, 0x00123456);
    }

    // Grabs the X screen until the composed screen shows there exactly, for at most a few seconds.
    ::testing::AssertionResult showsScreen() {
        host_Surface* screen = host_AllocSurface(kWidth, kHeight);
        host_ComposeScreen(screen);
        std::string last = "no grab";
        const auto deadline = Clock::now() + 10s;
        bool ok = false;
        while (!ok && Clock::now() < deadline) {
            Image grab;
            if (!grabScreen(&grab)) {
                last = "import could not grab the screen";
            } else {
                int x = 0, y = 0;
                long wrong = 0;
                ok = findScreen(grab, screen, &x, &y, &wrong);
                if (wrong < 0)
                    last = "the screen is nowhere on the X screen";
                else if (!ok)
                    last = std::to_string(wrong) + " pixels differ at (" + std::to_string(x) + ", " +
                           std::to_string(y) + ")";
            }
            if (!ok) std::this_thread::sleep_for(100ms);
        }
        host_FreeSurface(screen);
        if (ok) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << last;
    }

    // Waits until a message arrives that `match` accepts; the messages before it.
    std::vector<Received> until(const std::function<bool(const Received&)>& match) {
        std::unique_lock guard(receivedLock);
        std::vector<Received> before;
        receivedWake.wait_for(guard, 5s, [&] {
            for (size_t i = 0; i < received.size(); i++)
                if (match(received[i])) {
                    before.assign(received.begin(), received.begin() + long(i));
                    received.erase(received.begin(), received.begin() + long(i) + 1);
                    return true;
                }
            return false;
        });
        return before;
    }

    VirtualDisplay xvfb_;
    std::thread pump_;
    host_Window* window_ = nullptr;
    RastPort rp_{};
    bool started_ = false;
};

void push(SDL_Event event) {
    ASSERT_TRUE(host_PushSDLEvent(&event)) << SDL_GetError();
}

void pushKey(SDL_Keycode sym, SDL_Scancode scancode, bool down) {
    SDL_Event e{};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.sym = sym;
    e.key.keysym.scancode = scancode;
    push(e);
}

void pushText(const char* utf8) {
    SDL_Event e{};
    e.type = SDL_TEXTINPUT;
    std::snprintf(e.text.text, sizeof e.text.text, "%s", utf8);
    push(e);
}

void pushMouse(Uint32 type, Uint8 button, int x, int y) {
    SDL_Event e{};
    e.type = type;
    if (type == SDL_MOUSEMOTION) {
        e.motion.x = x;
        e.motion.y = y;
    } else {
        e.button.button = button;
        e.button.state = type == SDL_MOUSEBUTTONDOWN ? SDL_PRESSED : SDL_RELEASED;
        e.button.x = x;
        e.button.y = y;
    }
    push(e);
}

// A key no case below uses: everything pushed before it has been handled once it arrives.
void pushMarker() {
    pushKey(SDLK_F12, SDL_SCANCODE_F12, true);
}
bool isMarker(const Received& r) {
    return r.message == HM_KEYDOWN && r.wParam == VK_F1 + 11;
}

std::vector<Received> withoutMoves(std::vector<Received> list) {
    std::erase_if(list, [](const Received& r) { return r.message == HM_MOUSEMOVE; });
    return list;
}

std::string describe(const std::vector<Received>& list) {
    std::string out;
    for (const Received& r : list) {
        char line[80];
        std::snprintf(line, sizeof line, "(0x%X %lu) ", unsigned(r.message),
                      static_cast<unsigned long>(r.wParam));
        out += line;
    }
    return out;
}

TEST_F(SdlDisplay, ShowsTheScreenZoomedPixelForPixelAndFollowsDrawing) {
    if (!onPath("import")) GTEST_SKIP() << "ImageMagick's import is not installed (package imagemagick)";
    EXPECT_TRUE(showsScreen());
    // Drawing after the start reaches the X screen without anything else happening.
    FillPixelArray(&rp_, 150, 30, 70, 60, 0x00FF00FF);
    FillPixelArray(&rp_, 239, 319, 1, 1, 0x00000000);
    EXPECT_TRUE(showsScreen());
}

TEST_F(SdlDisplay, MouseArrivesInLogicalCoordinates) {
    pushMouse(SDL_MOUSEMOTION, 0, 101, 203);
    pushMouse(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_LEFT, 101, 203);
    pushMouse(SDL_MOUSEBUTTONUP, SDL_BUTTON_LEFT, 479, 501);
    pushMouse(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_RIGHT, 0, 61);
    pushMouse(SDL_MOUSEBUTTONUP, SDL_BUTTON_RIGHT, 0, 61);
    pushMouse(SDL_MOUSEBUTTONDOWN, SDL_BUTTON_MIDDLE, 7, 99);
    pushMouse(SDL_MOUSEBUTTONUP, SDL_BUTTON_MIDDLE, 7, 99);
    pushMarker();
    const std::vector<Received> got = until(isMarker);
    // Points away from the screen's title and menu bars, which another test of the process may have left.
    const std::vector<Received> want = {
        {HM_MOUSEMOVE, 0, host_MakePoint(50, 101)},  {HM_LBUTTONDOWN, 0, host_MakePoint(50, 101)},
        {HM_LBUTTONUP, 0, host_MakePoint(239, 250)}, {HM_RBUTTONDOWN, 0, host_MakePoint(0, 30)},
        {HM_RBUTTONUP, 0, host_MakePoint(0, 30)},    {HM_MBUTTONDOWN, 0, host_MakePoint(3, 49)},
        {HM_MBUTTONUP, 0, host_MakePoint(3, 49)},
    };
    // The X pointer itself may add moves of its own before ours.
    std::vector<Received> ours = got;
    while (ours.size() > want.size() && ours.front().message == HM_MOUSEMOVE) ours.erase(ours.begin());
    ASSERT_EQ(ours.size(), want.size()) << describe(got);
    for (size_t i = 0; i < want.size(); i++) {
        EXPECT_EQ(ours[i].message, want[i].message) << i;
        EXPECT_EQ(host_PointX(ours[i].lParam), host_PointX(want[i].lParam)) << i;
        EXPECT_EQ(host_PointY(ours[i].lParam), host_PointY(want[i].lParam)) << i;
    }
}

// Resized, the window shows the whole screen at its aspect, centred, and a click lands on the screen pixel
// shown where it is made.
TEST_F(SdlDisplay, AResizedWindowKeepsTheAspectAndTakesClicksWhereTheyShow) {
    if (!onPath("import") || !onPath("xdotool"))
        GTEST_SKIP() << "ImageMagick's import or xdotool is not installed (packages imagemagick, xdotool)";
    struct Mark {
        LONG x, y;
        uint32_t colour; // as the X screen shows it
    };
    // Marks away from the title and menu bars, which another test of the process may have left: the first
    // two, far apart, show the picture's scale and place; the others are clicked.
    std::vector<Mark> marks = {{20, 40, 0},  {219, 279, 0}, {100, 150, 0},
                               {37, 211, 0}, {201, 61, 0},  {3, 287, 0}};
    for (size_t i = 0; i < marks.size(); i++)
        FillPixelArray(&rp_, marks[i].x, marks[i].y, 1, 1, 0x00010203 * ULONG(i + 1));
    host_Surface* screen = host_AllocSurface(kWidth, kHeight);
    host_ComposeScreen(screen);
    for (Mark& m : marks) m.colour = screen->pixels[size_t(m.y) * screen->stride + m.x] & 0xFFFFFF;
    const long unique = std::count_if(marks.begin(), marks.end(), [&](const Mark& m) {
        return std::count_if(screen->pixels, screen->pixels + size_t(kHeight) * screen->stride,
                             [&](uint32_t p) { return (p & 0xFFFFFF) == m.colour; }) == 1;
    });
    host_FreeSurface(screen);
    ASSERT_EQ(unique, long(marks.size()));

    for (const Box want : {Box{0, 0, 600, 500}, Box{0, 0, 300, 700}}) {
        SCOPED_TRACE(describe(want));
        ASSERT_EQ(std::system(("xdotool search --name '^Velura$' windowmove 0 0 windowsize " +
                               std::to_string(want.w) + " " + std::to_string(want.h))
                                  .c_str()),
                  0);
        // Each mark's pixels on the X screen, and from the first two the picture's scale and corner, once
        // the picture fills one side of the resized window.
        std::vector<Box> shown(marks.size());
        double scaleX = 0, scaleY = 0, left = 0, top = 0;
        bool laidOut = false;
        for (const auto deadline = Clock::now() + 10s; !laidOut && Clock::now() < deadline;) {
            Image grab;
            Box box;
            if (!grabScreen(&grab) || !windowBox(&box) || !(box == want)) continue;
            for (size_t i = 0; i < marks.size(); i++) {
                int x0 = grab.width, y0 = grab.height, x1 = -1, y1 = -1;
                for (int y = 0; y < grab.height; y++)
                    for (int x = 0; x < grab.width; x++)
                        if (grab.at(x, y) == marks[i].colour) {
                            x0 = std::min(x0, x), y0 = std::min(y0, y), x1 = std::max(x1, x),
                            y1 = std::max(y1, y);
                        }
                shown[i] = {x0, y0, x1 - x0 + 1, y1 - y0 + 1};
            }
            if (!std::all_of(shown.begin(), shown.end(), [](const Box& b) { return b.w > 0; })) continue;
            scaleX = double(shown[1].x - shown[0].x) / (marks[1].x - marks[0].x);
            scaleY = double(shown[1].y - shown[0].y) / (marks[1].y - marks[0].y);
            left = shown[0].x - marks[0].x * scaleX;
            top = shown[0].y - marks[0].y * scaleY;
            laidOut = std::abs(kWidth * scaleX - want.w) <= 2 || std::abs(kHeight * scaleY - want.h) <= 2;
        }
        ASSERT_TRUE(laidOut);
        // One scale both ways, the picture centred.
        EXPECT_NEAR(scaleX, scaleY, 0.02);
        EXPECT_NEAR(left - want.x, want.x + want.w - (left + kWidth * scaleX), 3) << left;
        EXPECT_NEAR(top - want.y, want.y + want.h - (top + kHeight * scaleY), 3) << top;

        for (size_t i = 2; i < marks.size(); i++) {
            const Box& at = shown[i];
            const std::string click = "xdotool mousemove " + std::to_string(at.x + at.w / 2) + " " +
                                      std::to_string(at.y + at.h / 2) + " click 1";
            ASSERT_EQ(std::system(click.c_str()), 0);
            bool got = false;
            until([&](const Received& r) {
                if (r.message != HM_LBUTTONDOWN) return false;
                EXPECT_EQ(host_PointX(r.lParam), marks[i].x) << click;
                EXPECT_EQ(host_PointY(r.lParam), marks[i].y) << click;
                return got = true;
            });
            EXPECT_TRUE(got) << click;
        }
    }
}

TEST_F(SdlDisplay, KeysArriveAsTheVirtualKeysAndCharactersTheProgramCompares) {
    struct Case {
        SDL_Keycode sym;
        SDL_Scancode scancode;
        ULONG vk;
        int character; // from the key itself; -1 none
    };
    const Case cases[] = {
        {SDLK_a, SDL_SCANCODE_A, 'A', -1},
        {SDLK_z, SDL_SCANCODE_Z, 'Z', -1},
        {SDLK_0, SDL_SCANCODE_0, '0', -1},
        {SDLK_9, SDL_SCANCODE_9, '9', -1},
        {SDLK_RETURN, SDL_SCANCODE_RETURN, 13, 13},
        {SDLK_KP_ENTER, SDL_SCANCODE_KP_ENTER, 13, 13},
        {SDLK_ESCAPE, SDL_SCANCODE_ESCAPE, 27, 27},
        {SDLK_TAB, SDL_SCANCODE_TAB, 9, 9},
        {SDLK_BACKSPACE, SDL_SCANCODE_BACKSPACE, 8, 8},
        {SDLK_DELETE, SDL_SCANCODE_DELETE, 46, -1},
        {SDLK_LEFT, SDL_SCANCODE_LEFT, 37, -1},
        {SDLK_UP, SDL_SCANCODE_UP, 38, -1},
        {SDLK_RIGHT, SDL_SCANCODE_RIGHT, 39, -1},
        {SDLK_DOWN, SDL_SCANCODE_DOWN, 40, -1},
        {SDLK_HOME, SDL_SCANCODE_HOME, 36, -1},
        {SDLK_END, SDL_SCANCODE_END, 35, -1},
        {SDLK_F1, SDL_SCANCODE_F1, 112, -1},
        {SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, 16, -1},
        {SDLK_LCTRL, SDL_SCANCODE_LCTRL, 17, -1},
        {SDLK_RCTRL, SDL_SCANCODE_RCTRL, 134, -1},
        {SDLK_LALT, SDL_SCANCODE_LALT, 18, -1},
        // A layout whose "1" key gives "&" still has the virtual key of the digit.
        {SDLK_AMPERSAND, SDL_SCANCODE_1, '1', -1},
    };
    for (const Case& c : cases) {
        pushKey(c.sym, c.scancode, true);
        pushKey(c.sym, c.scancode, false);
        pushMarker();
        const std::vector<Received> got = withoutMoves(until(isMarker));
        std::vector<Received> want = {{HM_KEYDOWN, c.vk, 0}};
        if (c.character >= 0) want.push_back({HM_CHAR, Tal_Word(c.character), 0});
        want.push_back({HM_KEYUP, c.vk, 0});
        ASSERT_EQ(got.size(), want.size()) << "key " << c.vk << ": " << describe(got);
        for (size_t i = 0; i < want.size(); i++) {
            EXPECT_EQ(got[i].message, want[i].message) << "key " << c.vk << ": " << describe(got);
            EXPECT_EQ(got[i].wParam, want[i].wParam) << "key " << c.vk << ": " << describe(got);
        }
    }
}

TEST_F(SdlDisplay, TypedTextGivesEachCharacterOnceInLatin1) {
    auto chars = [](const std::vector<Received>& list) {
        std::vector<Tal_Word> out;
        for (const Received& r : list)
            if (r.message == HM_CHAR) out.push_back(r.wParam);
        return out;
    };
    // A plain letter: the key and its text, one character.
    pushKey(SDLK_a, SDL_SCANCODE_A, true);
    pushText("a");
    pushKey(SDLK_a, SDL_SCANCODE_A, false);
    // Beyond Latin-1 is dropped; broken UTF-8 loses only itself.
    pushText("\xC3\xA9\xE2\x82\xAC\xC3\xBF");
    pushText("x\xC3y\x80z");
    // Control with a letter gives the control code, Shift or not, and no typed text.
    pushKey(SDLK_LCTRL, SDL_SCANCODE_LCTRL, true);
    pushKey(SDLK_a, SDL_SCANCODE_A, true);
    pushText("a");
    pushKey(SDLK_a, SDL_SCANCODE_A, false);
    pushKey(SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, true);
    pushKey(SDLK_z, SDL_SCANCODE_Z, true);
    pushKey(SDLK_z, SDL_SCANCODE_Z, false);
    pushKey(SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, false);
    pushKey(SDLK_LCTRL, SDL_SCANCODE_LCTRL, false);
    // The action key is not Control: its letter types as text.
    pushKey(SDLK_RCTRL, SDL_SCANCODE_RCTRL, true);
    pushKey(SDLK_b, SDL_SCANCODE_B, true);
    pushText("b");
    pushKey(SDLK_b, SDL_SCANCODE_B, false);
    pushKey(SDLK_RCTRL, SDL_SCANCODE_RCTRL, false);
    pushMarker();
    const std::vector<Received> got = until(isMarker);
    const std::vector<Tal_Word> want = {'a', 0xE9, 0xFF, 'x', 'y', 'z', 1, 26, 'b'};
    EXPECT_EQ(chars(got), want) << describe(got);
}

TEST_F(SdlDisplay, ShiftStaysDownWhileEitherShiftKeyIs) {
    pushKey(SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, true);
    pushKey(SDLK_RSHIFT, SDL_SCANCODE_RSHIFT, true);
    pushKey(SDLK_LSHIFT, SDL_SCANCODE_LSHIFT, false);
    pushMarker();
    std::vector<Received> got = withoutMoves(until(isMarker));
    ASSERT_EQ(got.size(), 2u) << describe(got);
    EXPECT_EQ(got[1].message, HM_KEYDOWN);
    EXPECT_TRUE(host_IsKeyDown(VK_SHIFT));
    pushKey(SDLK_RSHIFT, SDL_SCANCODE_RSHIFT, false);
    pushMarker();
    got = withoutMoves(until(isMarker));
    ASSERT_EQ(got.size(), 1u) << describe(got);
    EXPECT_EQ(got[0].message, HM_KEYUP);
    EXPECT_EQ(got[0].wParam, VK_SHIFT);
    EXPECT_FALSE(host_IsKeyDown(VK_SHIFT));
}

TEST_F(SdlDisplay, ClosingTheWindowCallsTheQuitHandler) {
    quitCalls = 0;
    host_SetQuitHandler(countQuit);
    SDL_Event close{};
    close.type = SDL_WINDOWEVENT;
    close.window.event = SDL_WINDOWEVENT_CLOSE;
    push(close);
    pushMarker();
    until(isMarker);
    EXPECT_EQ(quitCalls.load(), 1);
}

TEST_F(SdlDisplay, AnIdleDisplaySleeps) {
    // Presented, and the grab has ended.
    if (onPath("import")) {
        ASSERT_TRUE(showsScreen());
    }
    std::this_thread::sleep_for(500ms);
    auto cpu = [] {
        rusage usage{};
        getrusage(RUSAGE_SELF, &usage);
        return std::chrono::seconds(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               std::chrono::microseconds(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
    };
    const auto before = cpu();
    const auto start = Clock::now();
    std::this_thread::sleep_for(2s);
    const auto used = cpu() - before;
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    EXPECT_LT(used.count() * 20, elapsed.count())
        << "used " << used.count() << " us of CPU in " << elapsed.count() << " us of idleness";
}

// Without a zoom asked for, the window takes the largest whole zoom that fits the desktop's usable area
// (without the panels of _NET_WORKAREA); a zoom that does not fit makes it smaller, its aspect kept. Either
// way it lies inside that area, centred.
TEST(SdlWindow, FitsTheDesktopsUsableArea) {
    if (!onPath("Xvfb") || !onPath("xdotool") || !onPath("xprop"))
        GTEST_SKIP() << "Xvfb, xdotool or xprop is not installed (packages xvfb, xdotool, x11-utils)";
    struct Case {
        const char* workArea; // none: the whole screen of 1024 x 768
        int zoom;
        Box want;
    };
    const Case cases[] = {
        {nullptr, 0, {272, 64, 480, 640}},
        {"0, 40, 1024, 600", 0, {392, 180, 240, 320}},
        {nullptr, 3, {224, 0, 576, 768}},
        {"0, 24, 1024, 744", 3, {233, 24, 558, 744}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.workArea ? c.workArea : "the whole screen") + ", zoom " +
                     std::to_string(c.zoom));
        VirtualDisplay xvfb;
        const std::string why = xvfb.start("1024x768x24");
        ASSERT_TRUE(why.empty()) << why;
        unsetenv("WAYLAND_DISPLAY");
        setenv("DISPLAY", xvfb.name().c_str(), 1);
        if (c.workArea) {
            ASSERT_EQ(std::system((std::string("xprop -root -format _NET_WORKAREA 32c -set _NET_WORKAREA '") +
                                   c.workArea + "'")
                                      .c_str()),
                      0);
        }
        host_InitWindowSystem(kWidth, kHeight);
        host_DisplayOptions options;
        options.zoom = c.zoom;
        ASSERT_TRUE(host_StartSDL(options));
        Box box;
        EXPECT_TRUE(windowBox(&box));
        EXPECT_EQ(box, c.want) << describe(box);
        host_StopSDL();
        host_CleanupWindowSystem();
    }
}

TEST(SdlStart, WithoutADisplayItSaysWhyAndStartsNothing) {
    const char* display = std::getenv("DISPLAY");
    const std::string saved = display ? display : "";
    DebugCapture debug;
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_FALSE(host_StartSDL({}));
    EXPECT_TRUE(debug.contains("no display")) << debug.text();
    // A display that is named but not there.
    setenv("DISPLAY", ":32000", 1);
    setenv("SDL_VIDEODRIVER", "x11", 1);
    EXPECT_FALSE(host_StartSDL({}));
    EXPECT_TRUE(debug.contains("SDL: cannot open the display")) << debug.text();
    unsetenv("SDL_VIDEODRIVER");
    host_StopSDL(); // nothing to stop
    if (display)
        setenv("DISPLAY", saved.c_str(), 1);
    else
        unsetenv("DISPLAY");
}

} // namespace
