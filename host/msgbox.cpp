// The modal message box, drawn by the window system itself (the host has no native one).
#include "host/msgbox.h"
#include "host/host.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

// A program colour (0x00BBGGRR).
constexpr ULONG rgb(ULONG r, ULONG g, ULONG b) {
    return r | (g << 8) | (b << 16);
}

constexpr ULONG kFace = rgb(0xF2, 0xF2, 0xF2);
constexpr ULONG kFrame = rgb(0x30, 0x30, 0x30);
constexpr ULONG kTitleFace = rgb(0x2B, 0x57, 0x97);
constexpr ULONG kTitleText = rgb(0xFF, 0xFF, 0xFF);
constexpr ULONG kText = rgb(0x00, 0x00, 0x00);
constexpr ULONG kButtonFace = rgb(0xDD, 0xDD, 0xDD);
constexpr ULONG kButtonPressed = rgb(0xA8, 0xC4, 0xE8);
constexpr ULONG kButtonEdge = rgb(0x50, 0x50, 0x50);

// Layout, in pixels: small enough for the 240-pixel screen, buttons big enough for a stylus.
constexpr LONG kMaxWidth = 300;
constexpr LONG kScreenMargin = 8;
constexpr LONG kTitleHeight = 18;
constexpr LONG kPad = 8;
constexpr LONG kIcon = 24;
constexpr LONG kButtonHeight = 22;
constexpr LONG kButtonMinWidth = 64;
constexpr LONG kButtonGap = 10;
constexpr LONG kTextToButtons = 10;
constexpr char kEllipsis[] = "...";

struct Button {
    LONG answer; // 1 = OK or Yes, 0 = Cancel or No
    const char* label;
    host_Rect rect; // window coordinates
};

struct Box {
    std::string title;
    std::vector<std::string> lines;
    bool question = false;
    std::vector<Button> buttons;
    LONG lineHeight = 13;
    LONG answer = -1; // set when answered
    int pressed = -1; // button under the stylus while it is down
    bool pressedIn = false;
};

// ---------------------------------------------------------------------------------------------------
// Whose turn it is, and queued answers.

std::mutex turnLock;
std::condition_variable& turnWake = *new std::condition_variable; // never destroyed: waiters may outlive exit
std::thread::id turnOwner;
int turnDepth = 0;                                // boxes of the owner thread nested in each other
std::vector<std::pair<Box*, host_Window*>> shown; // guarded by turnLock; the innermost box last

std::mutex answerLock;
std::deque<LONG> answers;

// Marks the calling task asleep while it waits for the user, so that "idle" means what a script expects.
void setSleeping(bool on) {
    if (Task* task = FindTask(nullptr)) {
        Forbid();
        task->tc_Sleeping = on ? 1 : 0;
        Permit();
    }
}

void takeTurn() {
    std::unique_lock guard(turnLock);
    const auto me = std::this_thread::get_id();
    setSleeping(true);
    while (turnDepth > 0 && turnOwner != me) {
        turnWake.wait_for(guard, std::chrono::milliseconds(10));
        // Keep serving what other threads send to this one meanwhile, so that no one waits for us forever.
        guard.unlock();
        HostMessage m;
        while (host_PeekMessage(&m)) {
            setSleeping(false);
            if (m.message == HM_QUIT)
                host_PostQuitMessage();
            else
                host_DispatchMessage(m);
            setSleeping(true);
        }
        guard.lock();
    }
    setSleeping(false);
    turnOwner = me;
    turnDepth++;
}

void giveTurn() {
    std::lock_guard guard(turnLock);
    if (--turnDepth == 0) {
        turnOwner = {};
        turnWake.notify_all();
    }
}

// ---------------------------------------------------------------------------------------------------
// Text.

LONG widthOf(const std::string& s) {
    return host_FontTextWidth(host_InterfaceFont(), s.data(), ULONG(s.size()));
}

// The text cut so that it and the ellipsis fit the width.
std::string withEllipsis(std::string s, LONG width) {
    while (!s.empty() && widthOf(s + kEllipsis) > width) s.pop_back();
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s + kEllipsis;
}

std::string fitLine(const std::string& s, LONG width) {
    return widthOf(s) <= width ? s : withEllipsis(s, width);
}

// Characters of s (at least one) that fit the width.
size_t fittingPrefix(const std::string& s, LONG width) {
    size_t n = 1;
    while (n < s.size() && widthOf(s.substr(0, n + 1)) <= width) n++;
    return n;
}

// Word-wrapped lines, at most maxLines; when text was left over the last line ends in an ellipsis.
std::vector<std::string> wrap(const std::string& text, LONG width, size_t maxLines) {
    std::vector<std::string> lines;
    bool more = false;
    auto push = [&](const std::string& line) {
        if (lines.size() == maxLines)
            more = true;
        else
            lines.push_back(line);
    };
    size_t start = 0;
    while (start <= text.size() && !more) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string paragraph = text.substr(start, end - start);
        if (!paragraph.empty() && paragraph.back() == '\r') paragraph.pop_back();
        std::string line;
        size_t at = 0;
        while (at < paragraph.size() && !more) {
            size_t next = paragraph.find(' ', at);
            if (next == std::string::npos) next = paragraph.size();
            std::string word = paragraph.substr(at, next - at);
            at = next + 1;
            if (word.empty()) continue;
            std::string candidate = line.empty() ? word : line + " " + word;
            if (widthOf(candidate) <= width) {
                line = std::move(candidate);
                continue;
            }
            if (!line.empty()) push(line);
            line = std::move(word);
            while (!more && widthOf(line) > width) { // a word wider than the box is broken
                size_t n = fittingPrefix(line, width);
                push(line.substr(0, n));
                line.erase(0, n);
            }
        }
        if (!more) push(line);
        start = end + 1;
    }
    while (lines.size() > 1 && lines.back().empty() && !more) lines.pop_back();
    if (more && !lines.empty()) lines.back() = withEllipsis(lines.back(), width);
    return lines;
}

// Latin-1 as UTF-8 for the terminal, on one line.
std::string forLog(const char* text) {
    std::string out;
    for (const UBYTE* p = reinterpret_cast<const UBYTE*>(text ? text : ""); *p; p++) {
        if (*p == '\n' || *p == '\r') {
            out += ' ';
        } else if (*p < 0x80) {
            out += char(*p);
        } else {
            out += char(0xC0 | (*p >> 6));
            out += char(0x80 | (*p & 0x3F));
        }
    }
    return out;
}

// ---------------------------------------------------------------------------------------------------
// Drawing.

void fill(RastPort* rp, ULONG colour, LONG x, LONG y, LONG w, LONG h) {
    if (w <= 0 || h <= 0) return;
    SetAPen(rp, host_DirectPen(colour));
    RectFill(rp, x, y, x + w - 1, y + h - 1);
}

void outline(RastPort* rp, ULONG colour, LONG x, LONG y, LONG w, LONG h, LONG thickness) {
    for (LONG t = 0; t < thickness; t++) {
        fill(rp, colour, x + t, y + t, w - 2 * t, 1);
        fill(rp, colour, x + t, y + h - 1 - t, w - 2 * t, 1);
        fill(rp, colour, x + t, y + t, 1, h - 2 * t);
        fill(rp, colour, x + w - 1 - t, y + t, 1, h - 2 * t);
    }
}

void text(RastPort* rp, ULONG colour, LONG x, LONG y, const std::string& s) {
    SetAPen(rp, host_DirectPen(colour));
    SetDrMd(rp, JAM1);
    Move(rp, x, y);
    Text(rp, s.data(), ULONG(s.size()));
}

// Signed distances (positive inside) of the icon shapes, in icon pixels.
float triangleDistance(float x, float y) {
    static constexpr float v[3][2] = {{12.0f, 1.0f}, {23.0f, 22.5f}, {1.0f, 22.5f}};
    float d = 1e9f;
    for (int i = 0; i < 3; i++) {
        const float* a = v[i];
        const float* b = v[(i + 1) % 3];
        float ex = b[0] - a[0], ey = b[1] - a[1];
        float len = std::sqrt(ex * ex + ey * ey);
        d = std::min(d, ((x - a[0]) * ey - (y - a[1]) * ex) / len * -1.0f);
    }
    return d;
}

float circleDistance(float x, float y, float cx, float cy, float r) {
    return r - std::hypot(x - cx, y - cy);
}

float capsuleDistance(float x, float y, float cx, float y0, float y1, float r) {
    float cy = std::clamp(y, y0, y1);
    return r - std::hypot(x - cx, y - cy);
}

// The exclamation (yellow warning triangle with "!") or question (blue disc with "?") icon, drawn with
// 4 × 4 samples a pixel so that it stays smooth at 24 pixels.
void drawIcon(RastPort* rp, LONG x0, LONG y0, bool question) {
    std::vector<float> fillCover(kIcon * kIcon), edgeCover(kIcon * kIcon), markCover(kIcon * kIcon);
    constexpr float kEdge = 1.3f;
    for (LONG py = 0; py < kIcon; py++)
        for (LONG px = 0; px < kIcon; px++)
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++) {
                    float x = px + (sx + 0.5f) / 4, y = py + (sy + 0.5f) / 4;
                    float d = question ? circleDistance(x, y, 12, 12, 11.5f) : triangleDistance(x, y);
                    size_t i = size_t(py) * kIcon + size_t(px);
                    if (d >= kEdge)
                        fillCover[i] += 1.0f / 16;
                    else if (d >= 0)
                        edgeCover[i] += 1.0f / 16;
                    if (!question && (capsuleDistance(x, y, 12, 8.5f, 15, 1.6f) >= 0 ||
                                      circleDistance(x, y, 12, 19, 1.7f) >= 0))
                        markCover[i] += 1.0f / 16;
                }
    if (question) {
        // The "?" from the font, bold, centred on the disc.
        host_Font* font = host_OpenFont("DejaVu Sans", 17, HOST_FONT_BOLD);
        if (!font) font = host_InterfaceFont();
        if (const host_Glyph* g = font ? host_FontGlyph(font, '?') : nullptr) {
            std::vector<UBYTE> cover(size_t(kIcon) * kIcon);
            LONG gx = (kIcon - g->advance) / 2, gy = (kIcon - host_FontHeight(font)) / 2;
            host_RenderTextCoverage(font, "?", 1, cover.data(), kIcon, kIcon, kIcon, gx, gy);
            for (size_t i = 0; i < cover.size(); i++) markCover[i] = cover[i] / 255.0f;
        }
        if (font != host_InterfaceFont()) host_CloseFont(font);
    }
    const ULONG fillColour = question ? rgb(0x2E, 0x6F, 0xC9) : rgb(0xF6, 0xC3, 0x1C);
    const ULONG edgeColour = question ? rgb(0x1A, 0x3E, 0x78) : rgb(0x8A, 0x62, 0x00);
    const ULONG markColour = question ? rgb(0xFF, 0xFF, 0xFF) : rgb(0x10, 0x10, 0x10);
    auto channel = [](ULONG colour, int shift) { return float((colour >> shift) & 0xFF); };
    std::vector<UBYTE> bgr(size_t(kIcon) * kIcon * 3);
    for (size_t i = 0; i < fillCover.size(); i++)
        for (int c = 0; c < 3; c++) {
            const int shift = 16 - 8 * c; // blue, green, red from 0x00BBGGRR
            float v = channel(kFace, shift);
            v += (channel(edgeColour, shift) - v) * edgeCover[i];
            v += (channel(fillColour, shift) - v) * fillCover[i];
            v += (channel(markColour, shift) - v) * std::min(1.0f, markCover[i]);
            bgr[i * 3 + size_t(c)] = UBYTE(std::lround(std::clamp(v, 0.0f, 255.0f)));
        }
    WritePixelArray(bgr.data(), 0, 0, kIcon * 3, rp, x0, y0, kIcon, kIcon, RECTFMT_BGR);
}

void paint(host_Window* w, Box* box) {
    RastPort rp;
    InitRastPort(&rp);
    rp.rp_Layer = host_GetLayer(w);
    const host_Rect r = host_GetRect(w);
    fill(&rp, kFace, 0, 0, r.w, r.h);
    fill(&rp, kTitleFace, 0, 0, r.w, kTitleHeight);
    outline(&rp, kFrame, 0, 0, r.w, r.h, 1);
    const LONG fontHeight = host_FontHeight(host_InterfaceFont());
    text(&rp, kTitleText, kPad - 2, (kTitleHeight - fontHeight) / 2, box->title);
    drawIcon(&rp, kPad, kTitleHeight + kPad, box->question);
    LONG y = kTitleHeight + kPad;
    if (LONG(box->lines.size()) * box->lineHeight < kIcon)
        y += (kIcon - LONG(box->lines.size()) * box->lineHeight) / 2;
    for (const std::string& line : box->lines) {
        text(&rp, kText, kPad + kIcon + kPad, y, line);
        y += box->lineHeight;
    }
    for (size_t i = 0; i < box->buttons.size(); i++) {
        const Button& b = box->buttons[i];
        const bool down = box->pressed == int(i) && box->pressedIn;
        fill(&rp, down ? kButtonPressed : kButtonFace, b.rect.x, b.rect.y, b.rect.w, b.rect.h);
        // The button that Return chooses has the heavier edge.
        outline(&rp, kButtonEdge, b.rect.x, b.rect.y, b.rect.w, b.rect.h, b.answer == 1 ? 2 : 1);
        const std::string label = b.label;
        LONG tx = b.rect.x + (b.rect.w - widthOf(label)) / 2 + (down ? 1 : 0);
        LONG ty = b.rect.y + (b.rect.h - fontHeight) / 2 + (down ? 1 : 0);
        text(&rp, kText, tx, ty, label);
    }
}

int buttonAt(const Box* box, LONG x, LONG y) {
    for (size_t i = 0; i < box->buttons.size(); i++)
        if (box->buttons[i].rect.contains(x, y)) return int(i);
    return -1;
}

// Escape chooses Cancel or No; a box with OK only has nothing else to choose.
LONG escapeAnswer(const Box* box) {
    return box->buttons.size() == 1 ? 1 : 0;
}

Tal_Word boxProc(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    Box* box = reinterpret_cast<Box*>(host_GetUserData(w));
    if (!box) return 0;
    switch (message) {
    case HM_PAINT:
        paint(w, box);
        return 0;
    case HM_LBUTTONDOWN: {
        int i = buttonAt(box, host_PointX(lParam), host_PointY(lParam));
        if (i >= 0) {
            box->pressed = i;
            box->pressedIn = true;
            host_SetCapture(w);
            host_Invalidate(w);
        }
        return 0;
    }
    case HM_MOUSEMOVE:
        if (box->pressed >= 0) {
            bool in = buttonAt(box, host_PointX(lParam), host_PointY(lParam)) == box->pressed;
            if (in != box->pressedIn) {
                box->pressedIn = in;
                host_Invalidate(w);
            }
        }
        return 0;
    case HM_LBUTTONUP:
        if (box->pressed >= 0) {
            host_ReleaseCapture();
            if (buttonAt(box, host_PointX(lParam), host_PointY(lParam)) == box->pressed)
                box->answer = box->buttons[size_t(box->pressed)].answer;
            box->pressed = -1;
            box->pressedIn = false;
            host_Invalidate(w);
        }
        return 0;
    case HM_KEYDOWN:
        if (wParam == VK_RETURN) box->answer = 1;
        if (wParam == VK_ESCAPE) box->answer = escapeAnswer(box);
        return 0;
    default:
        return 0;
    }
}

// Lays the box out for the screen: its rectangle (screen coordinates) and the buttons'.
host_Rect layout(Box* box, const char* text, ULONG type) {
    const LONG screenW = host_ScreenWidth(), screenH = host_ScreenHeight();
    const LONG width = std::max<LONG>(120, std::min(kMaxWidth, screenW - 2 * kScreenMargin));
    box->lineHeight = host_FontHeight(host_InterfaceFont()) + 1;
    if (box->lineHeight < 2) box->lineHeight = 13;
    const LONG textWidth = width - kIcon - 3 * kPad;
    const LONG fixed = kTitleHeight + kPad + kTextToButtons + kButtonHeight + kPad;
    const LONG maxTextHeight = std::max<LONG>(box->lineHeight, screenH - 2 * kScreenMargin - fixed);
    box->lines = wrap(text ? text : "", textWidth, size_t(maxTextHeight / box->lineHeight));
    box->title = fitLine(box->title, width - 2 * kPad);
    const LONG textHeight = std::max(kIcon, LONG(box->lines.size()) * box->lineHeight);
    const LONG height = fixed + textHeight;

    if (type == HOST_MB_OK || type == HOST_MB_ALERT) {
        box->buttons = {{1, "OK", {}}};
    } else if (type == HOST_MB_YESNO) {
        box->buttons = {{1, "Yes", {}}, {0, "No", {}}};
    } else {
        box->buttons = {{1, "OK", {}}, {0, "Cancel", {}}};
    }
    box->question = !(type == HOST_MB_OK || type == HOST_MB_ALERT);
    LONG buttonWidth = kButtonMinWidth;
    for (const Button& b : box->buttons) buttonWidth = std::max(buttonWidth, widthOf(b.label) + 16);
    const LONG n = LONG(box->buttons.size());
    LONG x = (width - (n * buttonWidth + (n - 1) * kButtonGap)) / 2;
    for (Button& b : box->buttons) {
        b.rect = {x, height - kPad - kButtonHeight, buttonWidth, kButtonHeight};
        x += buttonWidth + kButtonGap;
    }
    return {(screenW - width) / 2, (screenH - height) / 2, width, height};
}

} // namespace

LONG host_MessageBox(const char* title, const char* text, ULONG type) {
    std::fprintf(stderr, "msgbox: %s | %s\n", forLog(title).c_str(), forLog(text).c_str());
    std::fflush(stderr);
    const bool okOnly = type == HOST_MB_OK || type == HOST_MB_ALERT;
    LONG queued;
    if (host_TakeQueuedAnswer(&queued)) {
        KPrintF("msgbox answered by the queue: %ld\n", long(queued));
        return okOnly ? 1 : (queued == 1 ? 1 : 0);
    }

    takeTurn();
    Box box;
    box.title = title ? title : "";
    host_WindowDesc desc;
    desc.rect = layout(&box, text, type);
    desc.proc = boxProc;
    desc.createParam = reinterpret_cast<Tal_Word>(&box);
    desc.name = "MessageBox";
    host_Window* previousFocus = host_GetFocus();
    desc.style = HWS_SHELL | HWS_HIDDEN; // shown once painted
    host_Window* w = host_CreateWindow(desc);
    if (!w) {
        giveTurn();
        KPrintF("msgbox: no window for the box\n");
        return okOnly ? 1 : 0;
    }
    paint(w, &box);
    host_ShowWindow(w, true);
    host_ReleaseCapture();
    host_PushModal(w);
    host_SetFocus(w);
    {
        std::lock_guard guard(turnLock);
        shown.push_back({&box, w});
    }

    bool quit = false;
    HostMessage m;
    while (box.answer < 0) {
        setSleeping(true);
        bool more = host_GetMessage(&m);
        setSleeping(false);
        if (!more) {
            quit = true;
            box.answer = escapeAnswer(&box);
            break;
        }
        host_DispatchMessage(m);
    }

    {
        std::lock_guard guard(turnLock);
        shown.pop_back();
    }
    host_PopModal(w);
    if (host_GetCapture() == w) host_ReleaseCapture();
    host_DestroyWindow(w);
    if (previousFocus && host_IsWindow(previousFocus)) host_SetFocus(previousFocus);
    giveTurn();
    if (quit) host_PostQuitMessage(); // the nested loop took the quit that belongs to the caller's loop
    KPrintF("msgbox answered: %ld\n", long(box.answer));
    return box.answer == 1 ? 1 : 0;
}

void host_QueueMessageBoxAnswer(LONG button) {
    std::lock_guard guard(answerLock);
    answers.push_back(button);
}

bool host_TakeQueuedAnswer(LONG* button) {
    std::lock_guard guard(answerLock);
    if (answers.empty()) return false;
    *button = answers.front();
    answers.pop_front();
    return true;
}

host_Window* host_GetMessageBox() {
    std::lock_guard guard(turnLock);
    return shown.empty() ? nullptr : shown.back().second;
}

bool host_GetMessageBoxButton(LONG button, host_Rect* rect) {
    std::lock_guard guard(turnLock);
    if (shown.empty()) return false;
    const host_Rect at = host_GetScreenRect(shown.back().second);
    for (const Button& b : shown.back().first->buttons)
        if (b.answer == button) {
            *rect = {at.x + b.rect.x, at.y + b.rect.y, b.rect.w, b.rect.h};
            return true;
        }
    return false;
}
