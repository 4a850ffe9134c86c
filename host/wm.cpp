// The in-process window system.
//
// Locks: `tree` guards the window tree, focus, capture, the modal stack, key states and the pointer;
// each thread queue has its own lock for its messages and the paint state of its windows. The tree lock
// may be held while a queue lock is taken, never the other way round, and no lock is held while a window
// procedure runs.
#include "host/wm.h"
#include "host/host.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

struct ThreadQueue;

struct host_Window {
    host_Window* parent = nullptr;
    std::vector<host_Window*> children; // back to front
    host_Rect rect{};
    ULONG style = 0;
    bool visible = true;
    host_WindowProc proc = nullptr;
    Tal_Word user = 0;
    std::string name;
    Layer layer;
    ThreadQueue* queue = nullptr;
    // Guarded by the queue's lock.
    bool paintPending = false;
    host_Rect paintRect{};
};

namespace {

struct SentMessage {
    HostMessage message;
    Tal_Word result = 0;
    bool done = false;
    ThreadQueue* caller = nullptr;
};

} // namespace

struct ThreadQueue {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<HostMessage> posted;
    std::deque<SentMessage*> sent;
    std::vector<host_Window*> windows;
    bool quit = false;
    bool waiting = false; // blocked in host_GetMessage with nothing to do
};

namespace {

// The state below is shared with threads that may still run while the process ends (pumps, timers), so
// none of it is ever destroyed.
std::mutex& tree = *new std::mutex;
std::vector<host_Window*>& topLevel = *new std::vector<host_Window*>; // back to front
std::set<host_Window*>& allWindows = *new std::set<host_Window*>;
host_Window* focus = nullptr;
host_Window* capture = nullptr;
std::vector<host_Window*>& modal = *new std::vector<host_Window*>;
bool keys[256] = {};
LONG pointerX = 0, pointerY = 0;
LONG screenWidth = 240, screenHeight = 320;

// Every thread's queue, for the idle check.
std::mutex& queuesLock = *new std::mutex;
std::vector<ThreadQueue*>& queues = *new std::vector<ThreadQueue*>;

struct QueueHolder {
    ThreadQueue* queue = nullptr;
    ~QueueHolder() {
        if (!queue) return;
        {
            std::lock_guard guard(queuesLock);
            queues.erase(std::remove(queues.begin(), queues.end(), queue), queues.end());
        }
        // Whoever still waits for an answer from this thread gets 0.
        {
            std::lock_guard guard(queue->lock);
            for (SentMessage* s : queue->sent) {
                std::lock_guard callerGuard(s->caller->lock);
                s->done = true;
                s->caller->wake.notify_all();
            }
            queue->sent.clear();
        }
        delete queue;
    }
};
thread_local QueueHolder holder;

ThreadQueue& myQueue() {
    if (!holder.queue) {
        holder.queue = new ThreadQueue;
        std::lock_guard guard(queuesLock);
        queues.push_back(holder.queue);
    }
    return *holder.queue;
}

// Screen changes, for the presenter.
// Condition variables that detached threads wait on are never destroyed: destroying one at exit waits
// for its waiters, which never come back.
std::mutex& changeLock = *new std::mutex;
std::condition_variable& changeWake = *new std::condition_variable;
std::atomic<ULONG> changeCount{0};
std::atomic<int> presentersWaiting{0};

// Timers.
struct Timer {
    host_Window* window;
    ULONG id;
    std::chrono::milliseconds period;
    std::chrono::steady_clock::time_point due;
};
std::mutex& timerLock = *new std::mutex;
std::condition_variable& timerWake = *new std::condition_variable;
std::vector<Timer>& timers = *new std::vector<Timer>;
bool timerRunning = false;
bool timerStop = false;

bool valid(host_Window* w) {
    return w && allWindows.count(w);
} // under the tree lock

host_Rect screenRectOf(const host_Window* w) { // under the tree lock
    host_Rect r = w->rect;
    for (const host_Window* p = w->parent; p; p = p->parent) {
        r.x += p->rect.x;
        r.y += p->rect.y;
    }
    return r;
}

bool isShownOnScreen(const host_Window* w) {
    for (; w; w = w->parent)
        if (!w->visible) return false;
    return true;
}

bool inside(const host_Window* w, const host_Window* ancestor) {
    for (; w; w = w->parent)
        if (w == ancestor) return true;
    return false;
}

// Shell windows stay above their siblings. The program's windows, pop-ups among them, share one order:
// the window opened or raised last is in front (a borderless start or image window must not hide the
// requesters opened over it).
int layerOf(const host_Window* w) {
    return (w->style & HWS_SHELL) ? 1 : 0;
}

std::vector<host_Window*>& siblingsOf(host_Window* w) {
    return w->parent ? w->parent->children : topLevel;
}

void placeByLayer(std::vector<host_Window*>& list, host_Window* w) {
    list.erase(std::remove(list.begin(), list.end(), w), list.end());
    auto at = std::find_if(list.begin(), list.end(), [&](host_Window* o) { return layerOf(o) > layerOf(w); });
    list.insert(at, w);
}

host_Window* deepestAt(const std::vector<host_Window*>& list, LONG x, LONG y) {
    for (auto it = list.rbegin(); it != list.rend(); ++it) {
        host_Window* w = *it;
        if (!w->visible || !w->rect.contains(x, y)) continue;
        if (host_Window* child = deepestAt(w->children, x - w->rect.x, y - w->rect.y)) return child;
        return w;
    }
    return nullptr;
}

void post(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    ThreadQueue* q = w->queue;
    std::lock_guard guard(q->lock);
    if (message == HM_MOUSEMOVE && !q->posted.empty() && q->posted.back().message == HM_MOUSEMOVE &&
        q->posted.back().window == w) {
        q->posted.back().wParam = wParam;
        q->posted.back().lParam = lParam;
        return;
    }
    if (message == HM_TIMER)
        for (const HostMessage& m : q->posted)
            if (m.message == HM_TIMER && m.window == w && m.wParam == wParam) return;
    q->posted.push_back({w, message, wParam, lParam});
    q->wake.notify_all();
}

void invalidate(host_Window* w, const host_Rect& r) {
    ThreadQueue* q = w->queue;
    std::lock_guard guard(q->lock);
    if (w->paintPending) {
        LONG x0 = std::min(w->paintRect.x, r.x), y0 = std::min(w->paintRect.y, r.y);
        LONG x1 = std::max(w->paintRect.x + w->paintRect.w, r.x + r.w);
        LONG y1 = std::max(w->paintRect.y + w->paintRect.h, r.y + r.h);
        w->paintRect = {x0, y0, x1 - x0, y1 - y0};
    } else {
        w->paintPending = true;
        w->paintRect = r;
    }
    q->wake.notify_all();
}

Tal_Word dispatchSent(SentMessage* s) {
    host_Window* w = s->message.window;
    host_WindowProc proc = nullptr;
    {
        std::lock_guard guard(tree);
        if (valid(w)) proc = w->proc;
    }
    return proc ? proc(w, s->message.message, s->message.wParam, s->message.lParam) : 0;
}

void complete(SentMessage* s) {
    std::lock_guard guard(s->caller->lock);
    s->done = true;
    s->caller->wake.notify_all();
}

// Serves one sent message of the queue, if any; the queue's lock is held on entry and on return.
bool serveSent(ThreadQueue& q, std::unique_lock<std::mutex>& held) {
    if (q.sent.empty()) return false;
    SentMessage* s = q.sent.front();
    q.sent.pop_front();
    held.unlock();
    s->result = dispatchSent(s);
    complete(s);
    held.lock();
    return true;
}

// A message for the caller: posted ones first, then paints. Under the queue lock.
bool takeMessage(ThreadQueue& q, HostMessage* out) {
    while (!q.posted.empty()) {
        *out = q.posted.front();
        q.posted.pop_front();
        if (out->message == HM_QUIT) return true;
        if (std::find(q.windows.begin(), q.windows.end(), out->window) != q.windows.end()) return true;
    }
    for (host_Window* w : q.windows) {
        if (!w->paintPending) continue;
        w->paintPending = false;
        *out = {w, HM_PAINT, host_MakePoint(w->paintRect.x, w->paintRect.y),
                host_MakePoint(w->paintRect.w, w->paintRect.h)};
        return true;
    }
    return false;
}

// Runs while timers exist; detached, so that a process may end without stopping it.
void timerLoop() {
    host_SetThreadName("host timers");
    std::unique_lock guard(timerLock);
    while (!timerStop) {
        auto now = std::chrono::steady_clock::now();
        auto next = now + std::chrono::hours(1);
        std::vector<std::pair<host_Window*, ULONG>> due;
        for (Timer& t : timers) {
            if (t.due <= now) {
                due.push_back({t.window, t.id});
                t.due = now + t.period;
            }
            next = std::min(next, t.due);
        }
        if (!due.empty()) {
            guard.unlock();
            {
                std::lock_guard treeGuard(tree);
                for (auto [w, id] : due)
                    if (valid(w)) post(w, HM_TIMER, id, 0);
            }
            guard.lock();
            continue;
        }
        timerWake.wait_until(guard, next);
    }
    timerRunning = false;
    timerWake.notify_all();
}

void removeTimers(host_Window* w) {
    std::lock_guard guard(timerLock);
    timers.erase(std::remove_if(timers.begin(), timers.end(), [&](const Timer& t) { return t.window == w; }),
                 timers.end());
}

void copySurface(host_Surface* out, host_Window* w, const host_Rect& at, const host_Rect& clip) {
    std::lock_guard guard(w->layer.lock);
    host_Surface* s = w->layer.surface;
    if (!s) return;
    LONG x0 = std::max({at.x, clip.x, LONG(0)}), y0 = std::max({at.y, clip.y, LONG(0)});
    LONG x1 = std::min({at.x + std::min(at.w, s->width), clip.x + clip.w, out->width});
    LONG y1 = std::min({at.y + std::min(at.h, s->height), clip.y + clip.h, out->height});
    for (LONG y = y0; y < y1; y++)
        std::copy(s->pixels + size_t(y - at.y) * s->stride + (x0 - at.x),
                  s->pixels + size_t(y - at.y) * s->stride + (x1 - at.x),
                  out->pixels + size_t(y) * out->stride + x0);
}

void composeTree(host_Surface* out, host_Window* w, LONG ox, LONG oy, host_Rect clip) {
    if (!w->visible) return;
    host_Rect at{ox + w->rect.x, oy + w->rect.y, w->rect.w, w->rect.h};
    copySurface(out, w, at, clip);
    LONG x0 = std::max(clip.x, at.x), y0 = std::max(clip.y, at.y);
    LONG x1 = std::min(clip.x + clip.w, at.x + at.w), y1 = std::min(clip.y + clip.h, at.y + at.h);
    if (x1 <= x0 || y1 <= y0) return;
    for (host_Window* child : w->children) composeTree(out, child, at.x, at.y, {x0, y0, x1 - x0, y1 - y0});
}

// Where mouse input goes: the capture window, else the window under the point; none when a modal window
// is up and the target is outside it.
host_Window* mouseTarget(LONG x, LONG y) {
    host_Window* target = capture ? capture : deepestAt(topLevel, x, y);
    if (target && !modal.empty() && !inside(target, modal.back())) return nullptr;
    return target;
}

host_Window* keyTarget() {
    if (!modal.empty() && !inside(focus, modal.back())) return modal.back();
    return focus;
}

ULONG modifierState() {
    return (keys[VK_SHIFT] ? MK_SHIFT : 0) | (keys[VK_CONTROL] ? MK_CONTROL : 0) |
           (keys[VK_MENU] ? MK_ALT : 0);
}

ULONG buttonState() {
    return (keys[1] ? MK_LBUTTON : 0) | (keys[2] ? MK_RBUTTON : 0) | (keys[4] ? MK_MBUTTON : 0) |
           modifierState();
}

void postMouse(host_Window* target, ULONG message, LONG x, LONG y) {
    if (!target) return;
    host_Rect r = screenRectOf(target);
    post(target, message, buttonState(), host_MakePoint(x - r.x, y - r.y));
}

} // namespace

// ---------------------------------------------------------------------------------------------------

void host_InitWindowSystem(LONG width, LONG height) {
    std::lock_guard guard(tree);
    screenWidth = width;
    screenHeight = height;
}

void host_CleanupWindowSystem() {
    std::unique_lock guard(timerLock);
    timerStop = true;
    timerWake.notify_all();
    timerWake.wait(guard, [] { return !timerRunning; });
    timerStop = false;
    timers.clear();
}

LONG host_ScreenWidth() {
    std::lock_guard guard(tree);
    return screenWidth;
}

LONG host_ScreenHeight() {
    std::lock_guard guard(tree);
    return screenHeight;
}

host_Window* host_CreateWindow(const host_WindowDesc& desc) {
    if (desc.rect.w < 1 || desc.rect.h < 1) return nullptr;
    host_Surface* surface = host_AllocSurface(desc.rect.w, desc.rect.h);
    if (!surface) return nullptr;
    auto* w = new host_Window;
    w->parent = desc.parent;
    w->rect = desc.rect;
    w->style = desc.style;
    w->visible = !(desc.style & HWS_HIDDEN);
    w->proc = desc.proc;
    w->user = desc.createParam;
    w->name = desc.name ? desc.name : "";
    w->layer.surface = surface;
    w->queue = &myQueue();
    {
        std::lock_guard guard(tree);
        if (desc.parent && !valid(desc.parent)) {
            host_FreeSurface(surface);
            delete w;
            return nullptr;
        }
        allWindows.insert(w);
        placeByLayer(siblingsOf(w), w);
        std::lock_guard queueGuard(w->queue->lock);
        w->queue->windows.push_back(w);
    }
    if (w->proc && w->proc(w, HM_CREATE, 0, desc.createParam) == Tal_Word(-1)) {
        host_DestroyWindow(w);
        return nullptr;
    }
    host_Invalidate(w);
    host_NoteScreenChange();
    return w;
}

void host_DestroyWindow(host_Window* w) {
    std::vector<host_Window*> children;
    {
        std::lock_guard guard(tree);
        if (!valid(w)) return;
        children = w->children;
    }
    for (host_Window* child : children) host_DestroyWindow(child);
    if (w->proc) w->proc(w, HM_DESTROY, 0, 0);
    removeTimers(w);
    std::vector<SentMessage*> orphans;
    {
        std::lock_guard guard(tree);
        allWindows.erase(w);
        auto& list = siblingsOf(w);
        list.erase(std::remove(list.begin(), list.end(), w), list.end());
        if (focus == w) focus = nullptr;
        if (capture == w) capture = nullptr;
        modal.erase(std::remove(modal.begin(), modal.end(), w), modal.end());
        std::lock_guard queueGuard(w->queue->lock);
        auto& owned = w->queue->windows;
        owned.erase(std::remove(owned.begin(), owned.end(), w), owned.end());
        auto& sent = w->queue->sent;
        for (auto it = sent.begin(); it != sent.end();) {
            if ((*it)->message.window == w) {
                orphans.push_back(*it);
                it = sent.erase(it);
            } else {
                ++it;
            }
        }
        // Posted messages for it can never be delivered (a box that ends on a key press leaves the key's
        // release behind): they go too, or its thread's queue would never look idle again.
        auto& posted = w->queue->posted;
        posted.erase(
            std::remove_if(posted.begin(), posted.end(), [w](const HostMessage& m) { return m.window == w; }),
            posted.end());
    }
    for (SentMessage* s : orphans) complete(s);
    host_FreeSurface(host_SetLayerSurface(&w->layer, nullptr));
    delete w;
    host_NoteScreenChange();
}

bool host_IsWindow(host_Window* w) {
    std::lock_guard guard(tree);
    return valid(w);
}

Tal_Word host_GetUserData(host_Window* w) {
    std::lock_guard guard(tree);
    return valid(w) ? w->user : 0;
}

void host_SetUserData(host_Window* w, Tal_Word data) {
    std::lock_guard guard(tree);
    if (valid(w)) w->user = data;
}

Layer* host_GetLayer(host_Window* w) {
    return w ? &w->layer : nullptr;
}

host_Rect host_GetRect(host_Window* w) {
    std::lock_guard guard(tree);
    return valid(w) ? w->rect : host_Rect{};
}

host_Rect host_GetScreenRect(host_Window* w) {
    std::lock_guard guard(tree);
    return valid(w) ? screenRectOf(w) : host_Rect{};
}

host_Window* host_GetParent(host_Window* w) {
    std::lock_guard guard(tree);
    return valid(w) ? w->parent : nullptr;
}

ULONG host_GetStyle(host_Window* w) {
    std::lock_guard guard(tree);
    return valid(w) ? w->style : 0;
}

const char* host_GetName(host_Window* w) {
    return w ? w->name.c_str() : "";
}

void host_SetWindowRect(host_Window* w, const host_Rect& rect) {
    if (rect.w < 1 || rect.h < 1) return;
    host_Rect old;
    {
        std::lock_guard guard(tree);
        if (!valid(w)) return;
        old = w->rect;
        if (old.x == rect.x && old.y == rect.y && old.w == rect.w && old.h == rect.h) return;
    }
    bool resized = old.w != rect.w || old.h != rect.h;
    if (resized) {
        host_Surface* surface = host_AllocSurface(rect.w, rect.h);
        if (!surface) return;
        {
            std::lock_guard guard(w->layer.lock);
            host_Surface* before = w->layer.surface;
            for (LONG y = 0; before && y < std::min(before->height, rect.h); y++)
                std::copy(before->pixels + size_t(y) * before->stride,
                          before->pixels + size_t(y) * before->stride + std::min(before->width, rect.w),
                          surface->pixels + size_t(y) * surface->stride);
        }
        host_FreeSurface(host_SetLayerSurface(&w->layer, surface));
    }
    {
        std::lock_guard guard(tree);
        if (!valid(w)) return;
        w->rect = rect;
        post(w, HM_WINDOWPOSCHANGED, 0, 0);
    }
    if (resized) host_Invalidate(w);
    host_NoteScreenChange();
}

void host_ShowWindow(host_Window* w, bool show) {
    {
        std::lock_guard guard(tree);
        if (!valid(w) || w->visible == show) return;
        w->visible = show;
    }
    if (show) host_Invalidate(w);
    host_NoteScreenChange();
}

bool host_IsVisible(host_Window* w) {
    std::lock_guard guard(tree);
    return valid(w) && isShownOnScreen(w);
}

void host_BringToTop(host_Window* w) {
    {
        std::lock_guard guard(tree);
        if (!valid(w)) return;
        auto& list = siblingsOf(w);
        list.erase(std::remove(list.begin(), list.end(), w), list.end());
        auto at =
            std::find_if(list.begin(), list.end(), [&](host_Window* o) { return layerOf(o) > layerOf(w); });
        list.insert(at, w);
    }
    host_NoteScreenChange();
}

void host_Invalidate(host_Window* w, const host_Rect* rect) {
    std::lock_guard guard(tree);
    if (!valid(w)) return;
    invalidate(w, rect ? *rect : host_Rect{0, 0, w->rect.w, w->rect.h});
}

void host_SetFocus(host_Window* w) {
    std::lock_guard guard(tree);
    if (w && !valid(w)) return;
    if (focus == w) return;
    host_Window* old = focus;
    focus = w;
    if (valid(old)) post(old, HM_KILLFOCUS, 0, 0);
    if (w) post(w, HM_SETFOCUS, 0, 0);
}

host_Window* host_GetFocus() {
    std::lock_guard guard(tree);
    return focus;
}

void host_SetCapture(host_Window* w) {
    std::lock_guard guard(tree);
    if (valid(w)) capture = w;
}

void host_ReleaseCapture() {
    std::lock_guard guard(tree);
    host_Window* old = capture;
    capture = nullptr;
    if (valid(old)) post(old, HM_CAPTURECHANGED, 0, 0);
}

host_Window* host_GetCapture() {
    std::lock_guard guard(tree);
    return capture;
}

bool host_IsKeyDown(ULONG vk) {
    std::lock_guard guard(tree);
    return vk < 256 && keys[vk];
}

host_Window* host_WindowFromPoint(LONG x, LONG y) {
    std::lock_guard guard(tree);
    return deepestAt(topLevel, x, y);
}

void host_PushModal(host_Window* w) {
    std::lock_guard guard(tree);
    if (valid(w)) modal.push_back(w);
}

void host_PopModal(host_Window* w) {
    std::lock_guard guard(tree);
    modal.erase(std::remove(modal.begin(), modal.end(), w), modal.end());
}

bool host_PostMessage(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    std::lock_guard guard(tree);
    if (!valid(w)) return false;
    post(w, message, wParam, lParam);
    return true;
}

Tal_Word host_SendMessage(host_Window* w, ULONG message, Tal_Word wParam, Tal_Word lParam) {
    ThreadQueue& mine = myQueue();
    ThreadQueue* target;
    host_WindowProc proc;
    {
        std::lock_guard guard(tree);
        if (!valid(w)) return 0;
        target = w->queue;
        proc = w->proc;
    }
    if (target == &mine) return proc ? proc(w, message, wParam, lParam) : 0;
    SentMessage s;
    s.message = {w, message, wParam, lParam};
    s.caller = &mine;
    {
        std::lock_guard guard(tree); // the window may have gone meanwhile
        if (!valid(w)) return 0;
        std::lock_guard queueGuard(target->lock);
        target->sent.push_back(&s);
        target->wake.notify_all();
    }
    std::unique_lock held(mine.lock);
    while (!s.done)
        if (!serveSent(mine, held)) mine.wake.wait(held);
    return s.result;
}

bool host_GetMessage(HostMessage* out) {
    ThreadQueue& q = myQueue();
    std::unique_lock held(q.lock);
    for (;;) {
        if (serveSent(q, held)) continue;
        if (takeMessage(q, out)) return out->message != HM_QUIT;
        if (q.quit) {
            q.quit = false;
            *out = {nullptr, HM_QUIT, 0, 0};
            return false;
        }
        q.waiting = true;
        q.wake.wait(held);
        q.waiting = false;
    }
}

bool host_PeekMessage(HostMessage* out) {
    ThreadQueue& q = myQueue();
    std::unique_lock held(q.lock);
    while (serveSent(q, held)) {
    }
    return takeMessage(q, out);
}

Tal_Word host_DispatchMessage(const HostMessage& m) {
    host_WindowProc proc = nullptr;
    {
        std::lock_guard guard(tree);
        if (valid(m.window)) proc = m.window->proc;
    }
    return proc ? proc(m.window, m.message, m.wParam, m.lParam) : 0;
}

void host_PostQuitMessage() {
    ThreadQueue& q = myQueue();
    std::lock_guard guard(q.lock);
    q.quit = true;
    q.wake.notify_all();
}

void host_PostQuitToOwner(host_Window* w) {
    std::lock_guard guard(tree);
    if (!valid(w)) return;
    std::lock_guard queueGuard(w->queue->lock);
    w->queue->quit = true;
    w->queue->wake.notify_all();
}

void host_SetTimer(host_Window* w, ULONG id, ULONG milliseconds) {
    std::lock_guard guard(timerLock);
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.window == w && t.id == id; }),
                 timers.end());
    auto period = std::chrono::milliseconds(std::max<ULONG>(milliseconds, 1));
    timers.push_back({w, id, period, std::chrono::steady_clock::now() + period});
    if (!timerRunning) {
        timerRunning = true;
        std::thread(timerLoop).detach();
    }
    timerWake.notify_all();
}

void host_KillTimer(host_Window* w, ULONG id) {
    std::lock_guard guard(timerLock);
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [&](const Timer& t) { return t.window == w && t.id == id; }),
                 timers.end());
}

void host_InjectMouseMove(LONG x, LONG y) {
    std::lock_guard guard(tree);
    pointerX = x;
    pointerY = y;
    postMouse(mouseTarget(x, y), HM_MOUSEMOVE, x, y);
}

void host_InjectButton(int button, bool down, LONG x, LONG y) {
    static constexpr ULONG downs[] = {HM_LBUTTONDOWN, HM_RBUTTONDOWN, HM_MBUTTONDOWN};
    static constexpr ULONG ups[] = {HM_LBUTTONUP, HM_RBUTTONUP, HM_MBUTTONUP};
    if (button < 0 || button > 2) return;
    std::lock_guard guard(tree);
    pointerX = x;
    pointerY = y;
    keys[1 << button] = down; // the host's button "keys" 1, 2 and 4
    postMouse(mouseTarget(x, y), down ? downs[button] : ups[button], x, y);
}

void host_InjectKey(ULONG vk, bool down) {
    std::lock_guard guard(tree);
    if (vk < 256) keys[vk] = down;
    if (host_Window* target = keyTarget()) post(target, down ? HM_KEYDOWN : HM_KEYUP, vk, modifierState());
}

void host_InjectChar(UBYTE character) {
    std::lock_guard guard(tree);
    if (host_Window* target = keyTarget()) post(target, HM_CHAR, character, modifierState());
}

void host_GetPointer(LONG* x, LONG* y) {
    std::lock_guard guard(tree);
    *x = pointerX;
    *y = pointerY;
}

void host_ComposeScreen(host_Surface* out) {
    std::fill(out->pixels, out->pixels + size_t(out->stride) * out->height, 0);
    std::lock_guard guard(tree);
    for (host_Window* w : topLevel) composeTree(out, w, 0, 0, {0, 0, out->width, out->height});
}

// Drawing is frequent and presenters are few: the lock is only taken when someone waits. The count and
// the waiter count are sequentially consistent, so a change is either seen by the waiter's check or
// followed by a notification under the lock.
void host_NoteScreenChange() {
    changeCount.fetch_add(1);
    if (presentersWaiting.load() > 0) {
        std::lock_guard guard(changeLock);
        changeWake.notify_all();
    }
}

ULONG host_WaitScreenChange(ULONG seen, ULONG milliseconds) {
    std::unique_lock guard(changeLock);
    presentersWaiting++;
    changeWake.wait_for(guard, std::chrono::milliseconds(milliseconds),
                        [&] { return changeCount.load() != seen; });
    presentersWaiting--;
    return changeCount.load();
}

bool host_QueuesIdle() {
    std::lock_guard guard(queuesLock);
    for (ThreadQueue* q : queues) {
        std::lock_guard queueGuard(q->lock);
        bool painting =
            std::any_of(q->windows.begin(), q->windows.end(), [](host_Window* w) { return w->paintPending; });
        if (!q->posted.empty() || !q->sent.empty() || painting || q->quit) return false;
        if (!q->windows.empty() && !q->waiting) return false;
    }
    return true;
}

namespace {
std::atomic<host_Pointer> pointerShape{host_Pointer::Arrow};
}

void host_SetPointerShape(host_Pointer shape) {
    if (pointerShape.exchange(shape) != shape) host_NoteScreenChange();
}

host_Pointer host_GetPointerShape() {
    return pointerShape.load();
}

UBYTE host_CharForKey(ULONG vk, bool shift, bool control) {
    if (vk >= 'A' && vk <= 'Z') {
        if (control) return UBYTE(vk - 'A' + 1);
        return UBYTE(shift ? vk : vk + 32);
    }
    if (control) return 0;
    if ((vk >= '0' && vk <= '9') || vk == VK_SPACE) return UBYTE(vk);
    switch (vk) {
    case VK_RETURN:
    case VK_BACK:
    case VK_TAB:
    case VK_ESCAPE:
        return UBYTE(vk);
    default:
        return 0;
    }
}
