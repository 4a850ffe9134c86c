// Menus as data, the drop-up and pop-up menus that show them, the menu bar and the title bar.
//
// One lock guards every menu's items, the open-menu list and the bars' shared state; it is never held
// while a window procedure runs or a message is sent. A shown menu (a "session") lives in the thread that
// opened it: a hidden tracker window holds the pointer capture and is the modal window, so all mouse
// input and every key come to it, while the menu windows only paint.
#include "host/controls.h"

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

struct host_Menu {
    struct Item {
        ULONG command = 0;
        std::string text;
        ULONG flags = 0;
        std::unique_ptr<host_Menu> sub;
    };
    std::vector<Item> items;
    mutable std::vector<host_Window*> viewers; // menu windows showing it, repainted when it changes
};

namespace {

// Colours, in program order (0x00BBGGRR).
constexpr ULONG kFace = 0xC0C0C0;
constexpr ULONG kLightFace = 0xE0E0E0; // a checked image button
constexpr ULONG kShadow = 0x808080;
constexpr ULONG kDark = 0x404040;
constexpr ULONG kWhite = 0xFFFFFF;
constexpr ULONG kBlack = 0x000000;
constexpr ULONG kHighlight = 0xFFB43C; // pen 3
constexpr ULONG kGreyText = 0x808080;

// Menu metrics.
constexpr LONG kMenuBorder = 2;
constexpr LONG kCheckColumn = 14;
constexpr LONG kArrowColumn = 12;
constexpr LONG kRightPad = 8;
constexpr LONG kSeparatorHeight = 7;
constexpr LONG kMinMenuWidth = 48;

// Bar metrics.
constexpr LONG kTextButtonPad = 14;
constexpr LONG kImageButtonWidth = 24;
constexpr LONG kButtonTop = 2;
constexpr LONG kButtonGap = 6;
constexpr LONG kHelpButtonSize = 20;

constexpr ULONG PM_CANCELMENU = HM_USER + 0x101;
constexpr ULONG VK_LBUTTON = 1, VK_RBUTTON = 2; // the window system's button "keys"

std::mutex menuLock;
std::vector<host_Window*> openTrackers; // of the shown menus, under menuLock
struct Level;
std::vector<const Level*> shownLevels; // every shown menu window, oldest first, under menuLock

host_Font* font() {
    return host_InterfaceFont();
}
LONG fontHeight() {
    return std::max<LONG>(host_FontHeight(font()), 1);
}
LONG textWidth(const std::string& s) {
    return host_FontTextWidth(font(), s.data(), ULONG(s.size()));
}
LONG rowHeight() {
    return fontHeight() + 4;
}

// Drawing into a window's surface.
struct Painter {
    RastPort rp;
    explicit Painter(host_Window* w) {
        InitRastPort(&rp);
        rp.rp_Layer = host_GetLayer(w);
    }
    void fill(ULONG colour, LONG x, LONG y, LONG w, LONG h) {
        if (w > 0 && h > 0) FillPixelArray(&rp, x, y, w, h, colour);
    }
    void text(ULONG colour, LONG x, LONG y, const std::string& s) {
        SetABPenDrMd(&rp, host_DirectPen(colour), 0, JAM1);
        Move(&rp, x, y);
        Text(&rp, s.data(), ULONG(s.size()));
    }
    // A small picture of '#' pixels.
    void pattern(ULONG colour, LONG x, LONG y, std::initializer_list<const char*> rows) {
        LONG dy = 0;
        for (const char* row : rows) {
            for (LONG dx = 0; row[dx]; dx++)
                if (row[dx] == '#') fill(colour, x + dx, y + dy, 1, 1);
            dy++;
        }
    }
    void raised(LONG x, LONG y, LONG w, LONG h) {
        host__DrawEdges(&rp, kWhite, kDark, x, y, w, h);
        host__DrawEdges(&rp, kFace, kShadow, x + 1, y + 1, w - 2, h - 2);
    }
    void sunken(LONG x, LONG y, LONG w, LONG h) {
        host__DrawEdges(&rp, kDark, kWhite, x, y, w, h);
        host__DrawEdges(&rp, kShadow, kFace, x + 1, y + 1, w - 2, h - 2);
    }
};

// ---------------------------------------------------------------------------------------------------
// Menus as data (under menuLock).

std::unique_ptr<host_Menu> buildMenu(const host_MenuItemResource* items, ULONG count) {
    auto menu = std::make_unique<host_Menu>();
    menu->items.reserve(count);
    for (ULONG i = 0; i < count; i++) {
        const host_MenuItemResource& r = items[i];
        host_Menu::Item item;
        item.command = r.command;
        item.text = r.text ? r.text : "";
        item.flags = r.flags & (HMF_GREYED | HMF_CHECKED | HMF_HIDDEN | HMF_SEPARATOR);
        if (r.subItems) item.sub = buildMenu(r.subItems, r.subCount);
        menu->items.push_back(std::move(item));
    }
    return menu;
}

bool matches(const host_Menu::Item& item, ULONG command) {
    return command != 0 && item.command == command && !(item.flags & HMF_SEPARATOR);
}

template <typename F>
void forEachMatch(const host_Menu* menu, ULONG command, F&& f) {
    for (const host_Menu::Item& item : menu->items) {
        if (matches(item, command)) f(const_cast<host_Menu::Item&>(item));
        if (item.sub) forEachMatch(item.sub.get(), command, f);
    }
}

const host_Menu::Item* findFirst(const host_Menu* menu, ULONG command) {
    for (const host_Menu::Item& item : menu->items) {
        if (matches(item, command)) return &item;
        if (item.sub)
            if (const host_Menu::Item* found = findFirst(item.sub.get(), command)) return found;
    }
    return nullptr;
}

void repaintViewers(const host_Menu* menu) {
    for (host_Window* w : menu->viewers) host_Invalidate(w);
    for (const host_Menu::Item& item : menu->items)
        if (item.sub) repaintViewers(item.sub.get());
}

// ---------------------------------------------------------------------------------------------------
// Sessions: a shown menu with its open sub-menus.

struct Row {
    size_t index; // into the menu's items
    LONG y, h;    // in the menu window
    bool separator;
};

struct Level {
    const host_Menu* menu;
    host_Window* window = nullptr;
    host_Rect rect{}; // on the screen
    std::vector<Row> rows;
    LONG hot = -1; // the highlighted row
    bool arrows = false;
};

struct MenuBar;

struct Session {
    host_Window* tracker = nullptr;
    std::vector<std::unique_ptr<Level>> levels;
    MenuBar* bar = nullptr; // the bar whose drop-up menu this is; none for pop-up menus
    LONG barButton = -1;
    LONG bottomLimit = 0;      // sub-menus stay above it
    bool pressing = false;     // a button is down
    bool openingPress = false; // the press that opened the menu goes on
    bool visited = false;      // the pointer was over the menu during that press
    bool closing = false;      // closed by a press: ends when that press does, so that it reaches nothing
    bool done = false;
    ULONG result = 0;
};

enum class RowKind { Inert, Choosable, SubMenu };

RowKind rowKind(const Level& level, LONG row, ULONG* command = nullptr, const host_Menu** sub = nullptr) {
    if (row < 0 || size_t(row) >= level.rows.size()) return RowKind::Inert;
    std::lock_guard guard(menuLock);
    if (level.rows[row].index >= level.menu->items.size()) return RowKind::Inert;
    const host_Menu::Item& item = level.menu->items[level.rows[row].index];
    if (item.flags & (HMF_SEPARATOR | HMF_GREYED | HMF_HIDDEN)) return RowKind::Inert;
    if (command) *command = item.command;
    if (sub) *sub = item.sub.get();
    return item.sub ? RowKind::SubMenu : RowKind::Choosable;
}

Tal_Word menuWindowProc(host_Window* w, ULONG message, Tal_Word, Tal_Word);
Tal_Word trackerProc(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam);

// The rows of a menu's shown items (separators collapsed and never first or last) and the window size.
void layOut(Level& level, LONG* width, LONG* height) {
    std::lock_guard guard(menuLock);
    LONG y = kMenuBorder, textMax = 0;
    bool separatorPending = false;
    const auto& items = level.menu->items;
    for (size_t i = 0; i < items.size(); i++) {
        if (items[i].flags & HMF_HIDDEN) continue;
        if (items[i].flags & HMF_SEPARATOR) {
            separatorPending = !level.rows.empty();
            continue;
        }
        if (separatorPending) {
            level.rows.push_back({i, y, kSeparatorHeight, true});
            y += kSeparatorHeight;
            separatorPending = false;
        }
        level.rows.push_back({i, y, rowHeight(), false});
        y += rowHeight();
        textMax = std::max(textMax, textWidth(items[i].text));
        if (items[i].sub) level.arrows = true;
    }
    *width = std::max(kMinMenuWidth, 2 * kMenuBorder + kCheckColumn + textMax + kRightPad +
                                         (level.arrows ? kArrowColumn : 0));
    *height = y + kMenuBorder;
}

// Opens a menu window. `anchor` is where it goes: for the first level of a bar menu, x and the bottom
// edge (y); for a pop-up menu, the point; for a sub-menu, the item's row on the screen.
enum class Place { AboveBar, AtPoint, BesideRow };

bool openLevel(Session& s, const host_Menu* menu, Place place, host_Rect anchor) {
    auto level = std::make_unique<Level>();
    level->menu = menu;
    LONG w, h;
    layOut(*level, &w, &h);
    if (level->rows.empty()) return false;
    const LONG sw = host_ScreenWidth(), sh = host_ScreenHeight();
    w = std::min(w, sw);
    LONG x = anchor.x, y = anchor.y;
    switch (place) {
    case Place::AboveBar:
        y = anchor.y - h;
        break;
    case Place::AtPoint:
        if (x + w > sw) x -= w;
        if (y + h > sh) y -= h;
        break;
    case Place::BesideRow: {
        // Right of the parent when it fits, else left of it, else where there is more room.
        const LONG right = anchor.x + anchor.w - 2, left = anchor.x - w + 2;
        if (right + w <= sw)
            x = right;
        else if (left >= 0)
            x = left;
        else
            x = (sw - anchor.x - anchor.w >= anchor.x) ? sw - w : 0;
        y = anchor.y - kMenuBorder;
        if (y + h > s.bottomLimit) y = s.bottomLimit - h;
        break;
    }
    }
    x = std::clamp<LONG>(x, 0, std::max<LONG>(sw - w, 0));
    y = std::clamp<LONG>(y, 0, std::max<LONG>(sh - h, 0));
    level->rect = {x, y, w, h};
    host_WindowDesc desc;
    desc.rect = level->rect;
    desc.style = HWS_SHELL | HWS_POPUP;
    desc.proc = menuWindowProc;
    desc.createParam = reinterpret_cast<Tal_Word>(level.get());
    desc.name = "Menu";
    level->window = host_CreateWindow(desc);
    if (!level->window) return false;
    {
        std::lock_guard guard(menuLock);
        menu->viewers.push_back(level->window);
        shownLevels.push_back(level.get());
    }
    s.levels.push_back(std::move(level));
    return true;
}

void closeLevelsFrom(Session& s, size_t first) {
    while (s.levels.size() > first) {
        std::unique_ptr<Level> level = std::move(s.levels.back());
        s.levels.pop_back();
        {
            std::lock_guard guard(menuLock);
            auto& v = level->menu->viewers;
            v.erase(std::remove(v.begin(), v.end(), level->window), v.end());
            shownLevels.erase(std::remove(shownLevels.begin(), shownLevels.end(), level.get()),
                              shownLevels.end());
        }
        host_DestroyWindow(level->window);
    }
    if (!s.levels.empty()) host_Invalidate(s.levels.back()->window);
}

// The tracker takes the capture and every key; menus already open (in any thread) close.
bool startSession(Session& s) {
    host_WindowDesc desc;
    desc.rect = {0, 0, 1, 1};
    desc.style = HWS_SHELL | HWS_HIDDEN;
    desc.proc = trackerProc;
    desc.createParam = reinterpret_cast<Tal_Word>(&s);
    desc.name = "MenuTracker";
    s.tracker = host_CreateWindow(desc);
    if (!s.tracker) return false;
    {
        std::lock_guard guard(menuLock);
        for (host_Window* other : openTrackers) host_PostMessage(other, PM_CANCELMENU, 0, 0);
        openTrackers.push_back(s.tracker);
    }
    host_PushModal(s.tracker);
    host_SetCapture(s.tracker);
    s.pressing = host_IsKeyDown(VK_LBUTTON) || host_IsKeyDown(VK_RBUTTON);
    s.openingPress = s.pressing;
    return true;
}

void barSessionEnded(Session& s);

// Closes everything; the owner learns of it through `done` (and bars through barSessionEnded).
void finish(Session& s, ULONG result) {
    if (s.done) return;
    s.done = true;
    s.result = result;
    closeLevelsFrom(s, 0);
    {
        std::lock_guard guard(menuLock);
        openTrackers.erase(std::remove(openTrackers.begin(), openTrackers.end(), s.tracker),
                           openTrackers.end());
    }
    host_PopModal(s.tracker);
    if (host_GetCapture() == s.tracker) host_ReleaseCapture();
    host_Window* tracker = s.tracker;
    s.tracker = nullptr;
    host_DestroyWindow(tracker);
}

struct Hit {
    LONG level = -1, row = -1, button = -1;
};

LONG barButtonAt(const MenuBar& bar, LONG x, LONG y);

Hit hitTest(const Session& s, LONG x, LONG y) {
    Hit hit;
    for (LONG l = LONG(s.levels.size()) - 1; l >= 0; l--) {
        const Level& level = *s.levels[l];
        if (!level.rect.contains(x, y)) continue;
        hit.level = l;
        const LONG ly = y - level.rect.y;
        for (size_t r = 0; r < level.rows.size(); r++)
            if (ly >= level.rows[r].y && ly < level.rows[r].y + level.rows[r].h) hit.row = LONG(r);
        return hit;
    }
    if (s.bar) hit.button = barButtonAt(*s.bar, x, y);
    return hit;
}

void setHot(Level& level, LONG row) {
    if (level.hot == row) return;
    level.hot = row;
    host_Invalidate(level.window);
}

bool openSubMenu(Session& s, size_t levelIndex) {
    Level& level = *s.levels[levelIndex];
    const host_Menu* sub = nullptr;
    if (rowKind(level, level.hot, nullptr, &sub) != RowKind::SubMenu) return false;
    const Row& row = level.rows[level.hot];
    return openLevel(s, sub, Place::BesideRow, {level.rect.x, level.rect.y + row.y, level.rect.w, row.h});
}

bool isMenuButton(const MenuBar& bar, LONG button);
void switchBarMenu(Session& s, LONG button);
void repaintBar(const MenuBar& bar);

// The pointer is at (x, y): highlight what is under it, open or close sub-menus.
void pointAt(Session& s, LONG x, LONG y) {
    const Hit hit = hitTest(s, x, y);
    if (hit.level >= 0) {
        if (s.pressing) s.visited = true;
        Level& level = *s.levels[hit.level];
        const bool hasChild = s.levels.size() > size_t(hit.level) + 1;
        const RowKind kind = rowKind(level, hit.row);
        if (kind == RowKind::Inert) {
            if (!hasChild) setHot(level, -1);
            return;
        }
        if (level.hot != hit.row) {
            closeLevelsFrom(s, size_t(hit.level) + 1);
            setHot(level, hit.row);
        }
        if (kind == RowKind::SubMenu && s.levels.size() == size_t(hit.level) + 1)
            openSubMenu(s, size_t(hit.level));
        return;
    }
    if (hit.button >= 0 && hit.button != s.barButton && isMenuButton(*s.bar, hit.button)) {
        switchBarMenu(s, hit.button);
        return;
    }
    if (!s.levels.empty()) setHot(*s.levels.back(), -1);
}

void press(Session& s, LONG x, LONG y) {
    s.pressing = true;
    s.openingPress = false;
    const Hit hit = hitTest(s, x, y);
    if (hit.level >= 0) {
        pointAt(s, x, y);
        return;
    }
    if (hit.button >= 0 && hit.button != s.barButton && isMenuButton(*s.bar, hit.button)) {
        switchBarMenu(s, hit.button);
        s.openingPress = true;
        s.visited = false;
        return;
    }
    // A press outside (or on the button that opened the menu) closes it; the tap goes no further.
    closeLevelsFrom(s, 0);
    s.closing = true;
    if (s.bar) {
        s.barButton = -1;
        repaintBar(*s.bar);
    }
}

void release(Session& s, LONG x, LONG y) {
    if (s.closing) {
        finish(s, 0);
        return;
    }
    const bool opening = s.openingPress, visited = s.visited;
    s.pressing = s.openingPress = s.visited = false;
    const Hit hit = hitTest(s, x, y);
    if (hit.level >= 0) {
        Level& level = *s.levels[hit.level];
        ULONG command = 0;
        const RowKind kind = rowKind(level, hit.row, &command);
        if (kind == RowKind::Choosable)
            finish(s, command);
        else if (kind == RowKind::SubMenu)
            pointAt(s, x, y);
        return;
    }
    if (hit.button >= 0 && hit.button == s.barButton) return; // a tap on the opener leaves the menu open
    if (opening && visited) finish(s, 0);                     // dragged through the menu and out
}

// The next row that can be highlighted, from `from` in direction `step`, wrapping; -1 for none.
LONG nextSelectable(const Level& level, LONG from, LONG step) {
    const LONG n = LONG(level.rows.size());
    for (LONG i = 1; i <= n; i++) {
        LONG r = ((from < 0 ? (step > 0 ? -1 : 0) : from) + step * i) % n;
        if (r < 0) r += n;
        if (rowKind(level, r) != RowKind::Inert) return r;
    }
    return -1;
}

void key(Session& s, ULONG vk) {
    if (s.levels.empty()) return;
    Level& deepest = *s.levels.back();
    switch (vk) {
    case VK_ESCAPE:
        if (s.levels.size() > 1)
            closeLevelsFrom(s, s.levels.size() - 1);
        else
            finish(s, 0);
        break;
    case VK_UP:
    case VK_DOWN:
        setHot(deepest, nextSelectable(deepest, deepest.hot, vk == VK_DOWN ? 1 : -1));
        break;
    case VK_LEFT:
        if (s.levels.size() > 1) closeLevelsFrom(s, s.levels.size() - 1);
        break;
    case VK_RIGHT:
    case VK_RETURN: {
        ULONG command = 0;
        const RowKind kind = rowKind(deepest, deepest.hot, &command);
        if (kind == RowKind::SubMenu && openSubMenu(s, s.levels.size() - 1)) {
            Level& child = *s.levels.back();
            setHot(child, nextSelectable(child, -1, 1));
        } else if (kind == RowKind::Choosable && vk == VK_RETURN) {
            finish(s, command);
        }
        break;
    }
    default:
        break;
    }
}

// Input for a session, the point in screen coordinates.
void handleInput(Session& s, ULONG message, Tal_Word wParam, LONG x, LONG y) {
    if (s.done) return;
    if (s.closing && message != HM_LBUTTONUP && message != HM_RBUTTONUP && message != HM_CAPTURECHANGED &&
        message != PM_CANCELMENU)
        return;
    switch (message) {
    case HM_MOUSEMOVE:
        pointAt(s, x, y);
        break;
    case HM_LBUTTONDOWN:
    case HM_RBUTTONDOWN:
        press(s, x, y);
        break;
    case HM_LBUTTONUP:
    case HM_RBUTTONUP:
        release(s, x, y);
        break;
    case HM_KEYDOWN:
        key(s, ULONG(wParam));
        break;
    case HM_CAPTURECHANGED:
        // A late button release elsewhere may let the capture go: take it back. Another window that took
        // it ends the menu.
        if (host_Window* now = host_GetCapture(); !now)
            host_SetCapture(s.tracker);
        else if (now != s.tracker)
            finish(s, 0);
        break;
    case PM_CANCELMENU:
        finish(s, 0);
        break;
    default:
        break;
    }
}

bool isInput(ULONG message) {
    switch (message) {
    case HM_MOUSEMOVE:
    case HM_LBUTTONDOWN:
    case HM_RBUTTONDOWN:
    case HM_LBUTTONUP:
    case HM_RBUTTONUP:
    case HM_KEYDOWN:
    case HM_CAPTURECHANGED:
    case PM_CANCELMENU:
        return true;
    default:
        return false;
    }
}

Tal_Word trackerProc(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    if (!isInput(message)) return 0;
    auto* s = reinterpret_cast<Session*>(host_GetUserData(w));
    if (!s || s->done) return 0;
    // The tracker sits at the screen's origin: its points are screen points.
    handleInput(*s, message, wParam, host_PointX(lParam), host_PointY(lParam));
    if (s->done && s->bar) barSessionEnded(*s); // may delete the session
    return 0;
}

void paintMenu(host_Window* w, const Level& level) {
    Painter p(w);
    const LONG width = level.rect.w, height = level.rect.h;
    p.fill(kFace, 0, 0, width, height);
    host__DrawEdges(&p.rp, kShadow, kBlack, 0, 0, width, height);
    host__DrawEdges(&p.rp, kWhite, kShadow, 1, 1, width - 2, height - 2);
    const LONG fh = fontHeight();
    for (size_t r = 0; r < level.rows.size(); r++) {
        const Row& row = level.rows[r];
        if (row.separator) {
            const LONG y = row.y + row.h / 2 - 1;
            p.fill(kShadow, kMenuBorder + 3, y, width - 2 * kMenuBorder - 6, 1);
            p.fill(kWhite, kMenuBorder + 3, y + 1, width - 2 * kMenuBorder - 6, 1);
            continue;
        }
        std::string text;
        ULONG flags = HMF_GREYED;
        bool sub = false;
        {
            std::lock_guard guard(menuLock);
            if (row.index < level.menu->items.size()) {
                const host_Menu::Item& item = level.menu->items[row.index];
                text = item.text;
                flags = item.flags;
                sub = item.sub != nullptr;
            }
        }
        const bool hot = LONG(r) == level.hot && !(flags & HMF_GREYED);
        if (hot) p.fill(kHighlight, kMenuBorder, row.y, width - 2 * kMenuBorder, row.h);
        const ULONG ink = hot ? kWhite : (flags & HMF_GREYED) ? kGreyText : kBlack;
        const LONG ty = row.y + (row.h - fh) / 2;
        p.text(ink, kMenuBorder + kCheckColumn, ty, text);
        const LONG mid = row.y + row.h / 2;
        if (flags & HMF_CHECKED)
            p.pattern(ink, kMenuBorder + 3, mid - 4,
                      {"......#", ".....##", "#...###", "##.###.", "#####..", ".###...", "..#...."});
        if (sub)
            p.pattern(ink, width - kMenuBorder - 9, mid - 3,
                      {"#...", "##..", "###.", "####", "###.", "##..", "#..."});
    }
}

Tal_Word menuWindowProc(host_Window* w, ULONG message, Tal_Word, Tal_Word) {
    if (message != HM_PAINT) return 0;
    if (auto* level = reinterpret_cast<const Level*>(host_GetUserData(w))) paintMenu(w, *level);
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// The menu bar.

struct BarButton {
    ULONG command = 0;
    ULONG kind = HMB_MENU;
    std::string label;
    std::unique_ptr<host_Menu> menu;
    ULONG picture = 0;
    host_Rect rect{};
    bool enabled = true; // under menuLock
    bool checked = false;
    bool shown = true; // under menuLock
};

struct MenuBar {
    host_Window* window = nullptr;
    host_Window* target = nullptr;
    std::vector<BarButton> buttons;
    // The owner thread's.
    LONG pressed = -1; // the image button under a press
    bool pressInside = false;
    std::unique_ptr<Session> session;
};

struct TitleBar;
std::map<host_Window*, MenuBar*> bars;       // under menuLock
std::map<host_Window*, TitleBar*> titleBars; // under menuLock

MenuBar* barOf(host_Window* w) { // under menuLock
    auto it = bars.find(w);
    return it == bars.end() ? nullptr : it->second;
}

BarButton* buttonOf(MenuBar* bar, ULONG command) {
    for (BarButton& b : bar->buttons)
        if (b.command == command) return &b;
    return nullptr;
}

LONG barButtonAt(const MenuBar& bar, LONG x, LONG y) {
    const host_Rect at = host_GetScreenRect(bar.window);
    for (size_t i = 0; i < bar.buttons.size(); i++) {
        host_Rect r = bar.buttons[i].rect;
        r.x += at.x;
        r.y += at.y;
        if (r.contains(x, y)) return LONG(i);
    }
    return -1;
}

bool buttonEnabled(const BarButton& b) {
    std::lock_guard guard(menuLock);
    return b.enabled && b.shown;
}

bool isMenuButton(const MenuBar& bar, LONG button) {
    return button >= 0 && size_t(button) < bar.buttons.size() && bar.buttons[button].kind == HMB_MENU &&
           bar.buttons[button].menu && buttonEnabled(bar.buttons[button]);
}

void openBarLevel(Session& s, LONG button) {
    MenuBar& bar = *s.bar;
    const host_Rect at = host_GetScreenRect(bar.window);
    s.barButton = button;
    host_Invalidate(bar.window);
    if (!openLevel(s, bar.buttons[button].menu.get(), Place::AboveBar,
                   {at.x + bar.buttons[button].rect.x, at.y, 0, 0}))
        finish(s, 0);
}

void repaintBar(const MenuBar& bar) {
    host_Invalidate(bar.window);
}

void switchBarMenu(Session& s, LONG button) {
    closeLevelsFrom(s, 0);
    openBarLevel(s, button);
}

void barSessionEnded(Session& s) {
    MenuBar& bar = *s.bar;
    if (s.result) host_PostMessage(bar.target, HM_COMMAND, s.result, 0);
    host_Invalidate(bar.window);
    bar.session.reset();
}

void openBarSession(MenuBar& bar, LONG button) {
    auto s = std::make_unique<Session>();
    s->bar = &bar;
    s->bottomLimit = host_GetScreenRect(bar.window).y;
    if (!startSession(*s)) return;
    bar.session = std::move(s);
    openBarLevel(*bar.session, button);
    if (bar.session->done) barSessionEnded(*bar.session);
}

// A picture in grey, embossed: what a disabled image button shows.
void drawPicture(Painter& p, const host_Picture* pic, LONG x, LONG y, bool enabled) {
    if (!pic) return;
    const LONG bpr = pic->width * 3;
    if (enabled) {
        host_WritePixelArrayKeyed(pic->bgr, 0, 0, bpr, &p.rp, x, y, pic->width, pic->height, pic->keyColour);
        return;
    }
    for (const auto& [dx, colour] : {std::pair<LONG, ULONG>{1, kWhite}, {0, kShadow}})
        for (LONG py = 0; py < pic->height; py++)
            for (LONG px = 0; px < pic->width; px++) {
                const UBYTE* c = pic->bgr + py * bpr + px * 3;
                const ULONG colourHere = ULONG(c[0]) << 16 | ULONG(c[1]) << 8 | c[2];
                if (colourHere == pic->keyColour) continue;
                if (c[0] * 11 + c[1] * 59 + c[2] * 30 >= 100 * 150) continue; // light pixels vanish
                p.fill(colour, x + px + dx, y + py + dx, 1, 1);
            }
}

void paintBar(host_Window* w, MenuBar& bar) {
    Painter p(w);
    const host_Rect r = host_GetRect(w);
    p.fill(kFace, 0, 0, r.w, r.h);
    p.fill(kShadow, 0, 0, r.w, 1);
    p.fill(kWhite, 0, 1, r.w, 1);
    const LONG fh = fontHeight();
    for (size_t i = 0; i < bar.buttons.size(); i++) {
        const BarButton& b = bar.buttons[i];
        bool enabled, checked, shown;
        {
            std::lock_guard guard(menuLock);
            enabled = b.enabled;
            checked = b.checked;
            shown = b.shown;
        }
        if (!shown) continue;
        const host_Rect& br = b.rect;
        if (b.kind == HMB_MENU) {
            const bool open = bar.session && !bar.session->done && bar.session->barButton == LONG(i);
            if (open) p.fill(kHighlight, br.x, br.y, br.w, br.h);
            const ULONG ink = open ? kWhite : enabled ? kBlack : kGreyText;
            p.text(ink, br.x + kTextButtonPad / 2, br.y + (br.h - fh) / 2, b.label);
            continue;
        }
        const bool down = (bar.pressed == LONG(i) && bar.pressInside) || (b.kind == HMB_CHECK && checked);
        if (down) {
            if (b.kind == HMB_CHECK && checked) p.fill(kLightFace, br.x + 2, br.y + 2, br.w - 4, br.h - 4);
            p.sunken(br.x, br.y, br.w, br.h);
        }
        const host_Picture* pic = host_MenuBarPicture(b.picture);
        if (pic) {
            const LONG off = down ? 1 : 0;
            drawPicture(p, pic, br.x + (br.w - pic->width) / 2 + off, br.y + (br.h - pic->height) / 2 + off,
                        enabled);
        }
    }
}

void barPress(MenuBar& bar, LONG x, LONG y) {
    for (size_t i = 0; i < bar.buttons.size(); i++) {
        const BarButton& b = bar.buttons[i];
        if (!b.rect.contains(x, y) || !buttonEnabled(b)) continue;
        if (b.kind == HMB_MENU) {
            if (b.menu) openBarSession(bar, LONG(i));
        } else {
            bar.pressed = LONG(i);
            bar.pressInside = true;
            host_SetCapture(bar.window);
            host_Invalidate(bar.window);
        }
        return;
    }
}

void barRelease(MenuBar& bar, LONG x, LONG y) {
    if (bar.pressed < 0) return;
    BarButton& b = bar.buttons[bar.pressed];
    const bool chosen = b.rect.contains(x, y) && buttonEnabled(b);
    bar.pressed = -1;
    if (host_GetCapture() == bar.window) host_ReleaseCapture();
    if (chosen) {
        if (b.kind == HMB_CHECK) {
            std::lock_guard guard(menuLock);
            b.checked = !b.checked;
        }
        host_PostMessage(bar.target, HM_COMMAND, b.command, 0);
    }
    host_Invalidate(bar.window);
}

Tal_Word barProc(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    if (message == HM_CREATE) {
        auto* bar = reinterpret_cast<MenuBar*>(lParam);
        bar->window = w;
        std::lock_guard guard(menuLock);
        bars[w] = bar;
        return 0;
    }
    auto* bar = reinterpret_cast<MenuBar*>(host_GetUserData(w));
    if (!bar) return 0;
    const LONG x = host_PointX(lParam), y = host_PointY(lParam);
    // Input that reached the bar before a menu it opened took the capture belongs to that menu.
    if (bar->session && (message == HM_MOUSEMOVE || message == HM_LBUTTONDOWN || message == HM_LBUTTONUP ||
                         message == HM_RBUTTONDOWN || message == HM_RBUTTONUP)) {
        const host_Rect at = host_GetScreenRect(w);
        Session& s = *bar->session;
        handleInput(s, message, wParam, x + at.x, y + at.y);
        if (s.done) barSessionEnded(s);
        return 0;
    }
    switch (message) {
    case HM_PAINT:
        paintBar(w, *bar);
        break;
    case HM_LBUTTONDOWN:
    case HM_RBUTTONDOWN:
        barPress(*bar, x, y);
        break;
    case HM_MOUSEMOVE:
        if (bar->pressed >= 0) {
            const bool inside = bar->buttons[bar->pressed].rect.contains(x, y);
            if (inside != bar->pressInside) {
                bar->pressInside = inside;
                host_Invalidate(w);
            }
        }
        break;
    case HM_LBUTTONUP:
    case HM_RBUTTONUP:
        barRelease(*bar, x, y);
        break;
    case HM_CAPTURECHANGED:
        if (bar->pressed >= 0 && host_GetCapture() != w) {
            bar->pressed = -1;
            host_Invalidate(w);
        }
        break;
    case PM_CANCELMENU:
        if (bar->session) {
            finish(*bar->session, 0);
            barSessionEnded(*bar->session);
        }
        break;
    case HM_DESTROY:
        if (bar->session) finish(*bar->session, 0);
        bar->session.reset();
        {
            std::lock_guard guard(menuLock);
            bars.erase(w);
        }
        host_SetUserData(w, 0);
        delete bar;
        break;
    default:
        break;
    }
    return 0;
}

// ---------------------------------------------------------------------------------------------------
// The title bar.

struct TitleBar {
    host_Window* window = nullptr;
    host_Window* target = nullptr;
    std::string title; // under menuLock
    // The owner thread's.
    bool pressed = false;
    bool pressInside = false;
};

host_Rect helpButton(host_Window* w) {
    const host_Rect r = host_GetRect(w);
    return {r.w - kHelpButtonSize - 3, (r.h - kHelpButtonSize) / 2, kHelpButtonSize, kHelpButtonSize};
}

void paintTitle(host_Window* w, TitleBar& tb) {
    Painter p(w);
    const host_Rect r = host_GetRect(w);
    p.fill(kFace, 0, 0, r.w, r.h);
    p.fill(kShadow, 0, r.h - 1, r.w, 1);
    std::string title;
    {
        std::lock_guard guard(menuLock);
        title = tb.title;
    }
    const LONG fh = fontHeight(), ty = (r.h - 1 - fh) / 2;
    const host_Rect help = helpButton(w);
    // Drawn twice, a pixel apart: a bold title without a second font.
    Region clip{{0, 0, WORD(help.x - 4), WORD(r.h - 1)}};
    Region* old = InstallClipRegion(p.rp.rp_Layer, &clip);
    p.text(kBlack, 6, ty, title);
    p.text(kBlack, 7, ty, title);
    InstallClipRegion(p.rp.rp_Layer, old);
    const bool down = tb.pressed && tb.pressInside;
    if (down)
        p.sunken(help.x, help.y, help.w, help.h);
    else
        p.raised(help.x, help.y, help.w, help.h);
    const std::string q = "?";
    const LONG qx = help.x + (help.w - textWidth(q)) / 2 + (down ? 1 : 0);
    const LONG qy = help.y + (help.h - fh) / 2 + (down ? 1 : 0);
    p.text(kBlack, qx, qy, q);
    p.text(kBlack, qx + 1, qy, q);
}

Tal_Word titleProc(host_Window* w, ULONG message, Tal_Word, Tal_Word lParam) {
    if (message == HM_CREATE) {
        auto* tb = reinterpret_cast<TitleBar*>(lParam);
        tb->window = w;
        std::lock_guard guard(menuLock);
        titleBars[w] = tb;
        return 0;
    }
    auto* tb = reinterpret_cast<TitleBar*>(host_GetUserData(w));
    if (!tb) return 0;
    const LONG x = host_PointX(lParam), y = host_PointY(lParam);
    switch (message) {
    case HM_PAINT:
        paintTitle(w, *tb);
        break;
    case HM_LBUTTONDOWN:
        if (helpButton(w).contains(x, y)) {
            tb->pressed = tb->pressInside = true;
            host_SetCapture(w);
            host_Invalidate(w);
        }
        break;
    case HM_MOUSEMOVE:
        if (tb->pressed && helpButton(w).contains(x, y) != tb->pressInside) {
            tb->pressInside = !tb->pressInside;
            host_Invalidate(w);
        }
        break;
    case HM_LBUTTONUP:
        if (!tb->pressed) break;
        tb->pressed = false;
        if (host_GetCapture() == w) host_ReleaseCapture();
        if (helpButton(w).contains(x, y)) host_PostMessage(tb->target, HM_HELP, 0, 0);
        host_Invalidate(w);
        break;
    case HM_CAPTURECHANGED:
        if (tb->pressed && host_GetCapture() != w) {
            tb->pressed = false;
            host_Invalidate(w);
        }
        break;
    case HM_DESTROY: {
        {
            std::lock_guard guard(menuLock);
            titleBars.erase(w);
        }
        host_SetUserData(w, 0);
        delete tb;
        break;
    }
    default:
        break;
    }
    return 0;
}

} // namespace

// ---------------------------------------------------------------------------------------------------

void host__DrawEdges(RastPort* rp, ULONG topLeft, ULONG bottomRight, LONG x, LONG y, LONG w, LONG h) {
    if (w <= 0 || h <= 0) return;
    FillPixelArray(rp, x, y, w, 1, topLeft);
    FillPixelArray(rp, x, y, 1, h, topLeft);
    FillPixelArray(rp, x, y + h - 1, w, 1, bottomRight);
    FillPixelArray(rp, x + w - 1, y, 1, h, bottomRight);
}

host_Menu* host_CreateMenu(const host_MenuItemResource* items, ULONG count) {
    if (count && !items) return nullptr;
    try {
        return buildMenu(items, count).release();
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void host_DisposeMenu(host_Menu* menu) {
    std::lock_guard guard(menuLock);
    delete menu;
}

LONG host_AppendMenuItem(host_Menu* menu, ULONG command, const char* text, ULONG flags, host_Menu* subMenu) {
    std::unique_ptr<host_Menu> sub(subMenu);
    if (!menu) {
        std::lock_guard guard(menuLock);
        sub.reset();
        return -1;
    }
    try {
        host_Menu::Item item;
        item.command = command;
        item.text = text ? text : "";
        item.flags = flags & (HMF_GREYED | HMF_CHECKED | HMF_HIDDEN | HMF_SEPARATOR);
        item.sub = std::move(sub);
        std::lock_guard guard(menuLock);
        menu->items.push_back(std::move(item));
        return LONG(menu->items.size() - 1);
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

ULONG host_MenuItemCount(const host_Menu* menu) {
    if (!menu) return 0;
    std::lock_guard guard(menuLock);
    return ULONG(menu->items.size());
}

ULONG host_SetMenuItemFlags(host_Menu* menu, ULONG command, ULONG mask, ULONG value) {
    if (!menu) return 0;
    mask &= HMF_GREYED | HMF_CHECKED | HMF_HIDDEN;
    ULONG found = 0;
    std::lock_guard guard(menuLock);
    forEachMatch(menu, command, [&](host_Menu::Item& item) {
        item.flags = (item.flags & ~mask) | (value & mask);
        found++;
    });
    if (found) repaintViewers(menu);
    return found;
}

ULONG host_GetMenuItemFlags(const host_Menu* menu, ULONG command) {
    if (!menu) return HMF_NOTFOUND;
    std::lock_guard guard(menuLock);
    const host_Menu::Item* item = findFirst(menu, command);
    return item ? item->flags : HMF_NOTFOUND;
}

bool host_SetMenuItemText(host_Menu* menu, ULONG command, const char* text) {
    if (!menu) return false;
    bool found = false;
    std::lock_guard guard(menuLock);
    forEachMatch(menu, command, [&](host_Menu::Item& item) {
        item.text = text ? text : "";
        found = true;
    });
    if (found) repaintViewers(menu);
    return found;
}

ULONG host_GetMenuItemText(const host_Menu* menu, ULONG command, char* buffer, ULONG size) {
    if (size && buffer) buffer[0] = 0;
    if (!menu) return 0;
    std::lock_guard guard(menuLock);
    const host_Menu::Item* item = findFirst(menu, command);
    if (!item) return 0;
    if (size && buffer) {
        const size_t n = std::min<size_t>(item->text.size(), size - 1);
        std::memcpy(buffer, item->text.data(), n);
        buffer[n] = 0;
    }
    return ULONG(item->text.size());
}

ULONG host_TrackPopupMenu(const host_Menu* menu, LONG x, LONG y) {
    if (!menu) return 0;
    Session s;
    s.bottomLimit = host_ScreenHeight();
    if (!startSession(s)) return 0;
    if (!openLevel(s, menu, Place::AtPoint, {x, y, 0, 0})) {
        finish(s, 0);
        return 0;
    }
    bool quit = false;
    HostMessage m;
    while (!s.done) {
        if (!host_GetMessage(&m)) {
            quit = true;
            finish(s, 0);
            break;
        }
        host_DispatchMessage(m);
    }
    if (quit) host_PostQuitMessage();
    return s.result;
}

bool host_FindShownMenuItem(const char* text, host_Rect* rect) {
    if (!text) return false;
    std::lock_guard guard(menuLock);
    for (auto it = shownLevels.rbegin(); it != shownLevels.rend(); ++it) {
        const Level& level = **it;
        for (const Row& row : level.rows) {
            if (row.separator || row.index >= level.menu->items.size()) continue;
            if (level.menu->items[row.index].text != text) continue;
            if (rect)
                *rect = {level.rect.x + kMenuBorder, level.rect.y + row.y, level.rect.w - 2 * kMenuBorder,
                         row.h};
            return true;
        }
    }
    return false;
}

void host_CloseMenus() {
    std::lock_guard guard(menuLock);
    for (host_Window* tracker : openTrackers) host_PostMessage(tracker, PM_CANCELMENU, 0, 0);
}

bool host_IsMenuOpen() {
    std::lock_guard guard(menuLock);
    return !openTrackers.empty();
}

host_Window* host_CreateTitleBar(const char* title, host_Window* helpTarget) {
    auto* tb = new (std::nothrow) TitleBar;
    if (!tb) return nullptr;
    tb->target = helpTarget;
    tb->title = title ? title : "";
    host_WindowDesc desc;
    desc.rect = {0, 0, host_ScreenWidth(), HOST_BAR_HEIGHT};
    desc.style = HWS_SHELL;
    desc.proc = titleProc;
    desc.createParam = reinterpret_cast<Tal_Word>(tb);
    desc.name = "TitleBar";
    host_Window* w = host_CreateWindow(desc);
    if (!w) delete tb; // it was never registered: HM_CREATE registers, and it cannot fail
    return w;
}

bool host_GetTitleBarText(host_Window* titleBar, char* buffer, ULONG size) {
    std::lock_guard guard(menuLock);
    auto it = titleBars.find(titleBar);
    if (it == titleBars.end()) return false;
    if (size) std::snprintf(buffer, size, "%s", it->second->title.c_str());
    return true;
}

void host_SetTitleBarText(host_Window* titleBar, const char* title) {
    std::lock_guard guard(menuLock);
    auto it = titleBars.find(titleBar);
    if (it == titleBars.end()) return;
    it->second->title = title ? title : "";
    host_Invalidate(titleBar);
}

host_Window* host_CreateMenuBar(const host_MenuBarResource* resource, host_Window* target) {
    if (!resource || (resource->count && !resource->buttons)) return nullptr;
    auto* bar = new (std::nothrow) MenuBar;
    if (!bar) return nullptr;
    bar->target = target;
    try {
        LONG x = 2;
        bool images = false;
        const LONG h = HOST_BAR_HEIGHT - kButtonTop - 1;
        for (ULONG i = 0; i < resource->count; i++) {
            const host_MenuBarButtonResource& r = resource->buttons[i];
            BarButton b;
            b.command = r.command;
            b.kind = r.kind;
            b.label = r.label ? r.label : "";
            b.picture = r.picture;
            if (r.kind == HMB_MENU) {
                b.menu = buildMenu(r.items, r.items ? r.count : 0);
                b.rect = {x, kButtonTop, textWidth(b.label) + kTextButtonPad, h};
            } else {
                if (!images) x += kButtonGap;
                images = true;
                b.rect = {x, kButtonTop + 1, kImageButtonWidth, h - 1};
            }
            x += b.rect.w;
            bar->buttons.push_back(std::move(b));
        }
    } catch (const std::bad_alloc&) {
        delete bar;
        return nullptr;
    }
    host_WindowDesc desc;
    desc.rect = {0, host_ScreenHeight() - HOST_BAR_HEIGHT, host_ScreenWidth(), HOST_BAR_HEIGHT};
    desc.style = HWS_SHELL;
    desc.proc = barProc;
    desc.createParam = reinterpret_cast<Tal_Word>(bar);
    desc.name = "MenuBar";
    host_Window* w = host_CreateWindow(desc);
    if (!w) delete bar; // as for the title bar
    return w;
}

host_Menu* host_MenuBarMenu(host_Window* barWindow, ULONG buttonCommand) {
    std::lock_guard guard(menuLock);
    MenuBar* bar = barOf(barWindow);
    BarButton* b = bar ? buttonOf(bar, buttonCommand) : nullptr;
    return b ? b->menu.get() : nullptr;
}

bool host_GetMenuBarButtonRect(host_Window* barWindow, ULONG buttonCommand, host_Rect* rect) {
    host_Rect r;
    {
        std::lock_guard guard(menuLock);
        MenuBar* bar = barOf(barWindow);
        BarButton* b = bar ? buttonOf(bar, buttonCommand) : nullptr;
        if (!b) return false;
        r = b->rect;
    }
    const host_Rect at = host_GetScreenRect(barWindow);
    if (rect) *rect = {at.x + r.x, at.y + r.y, r.w, r.h};
    return true;
}

void host_EnableMenuBarButton(host_Window* barWindow, ULONG buttonCommand, bool enable) {
    std::lock_guard guard(menuLock);
    MenuBar* bar = barOf(barWindow);
    BarButton* b = bar ? buttonOf(bar, buttonCommand) : nullptr;
    if (!b || b->enabled == enable) return;
    b->enabled = enable;
    host_Invalidate(barWindow);
}

bool host_IsMenuBarButtonShown(host_Window* barWindow, ULONG buttonCommand) {
    std::lock_guard guard(menuLock);
    MenuBar* bar = barOf(barWindow);
    BarButton* b = bar ? buttonOf(bar, buttonCommand) : nullptr;
    return b && b->shown;
}

void host_ShowMenuBarButton(host_Window* barWindow, ULONG buttonCommand, bool show) {
    std::lock_guard guard(menuLock);
    MenuBar* bar = barOf(barWindow);
    BarButton* b = bar ? buttonOf(bar, buttonCommand) : nullptr;
    if (!b || b->shown == show) return;
    b->shown = show;
    host_Invalidate(barWindow);
}

bool host_IsMenuBarButtonEnabled(host_Window* barWindow, ULONG buttonCommand) {
    std::lock_guard guard(menuLock);
    MenuBar* bar = barOf(barWindow);
    BarButton* b = bar ? buttonOf(bar, buttonCommand) : nullptr;
    return b && b->enabled;
}

void host_CheckMenuBarButton(host_Window* barWindow, ULONG buttonCommand, bool checked) {
    std::lock_guard guard(menuLock);
    MenuBar* bar = barOf(barWindow);
    BarButton* b = bar ? buttonOf(bar, buttonCommand) : nullptr;
    if (!b || b->checked == checked) return;
    b->checked = checked;
    host_Invalidate(barWindow);
}

bool host_IsMenuBarButtonChecked(host_Window* barWindow, ULONG buttonCommand) {
    std::lock_guard guard(menuLock);
    MenuBar* bar = barOf(barWindow);
    BarButton* b = bar ? buttonOf(bar, buttonCommand) : nullptr;
    return b && b->checked;
}

void host_ShowMenuBar(host_Window* barWindow, bool show) {
    {
        std::lock_guard guard(menuLock);
        if (!barOf(barWindow)) return;
    }
    if (!show) host_PostMessage(barWindow, PM_CANCELMENU, 0, 0); // its menu closes in the bar's thread
    host_ShowWindow(barWindow, show);
}
