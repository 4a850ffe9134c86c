// The link between the program's clipboard and the X display's CLIPBOARD selection: one connection of its
// own, an unmapped window and a thread that owns both. The thread answers other programs' requests for
// what the program copied (image/png, UTF-8 and Latin-1 text; large data incrementally) and fetches what
// another program copied when the store asks. It never touches the display back end's connection.
//
// Other threads talk to it through a command queue; the thread sleeps in poll() on its connection and a
// wake-up pipe.
#include "host/clipboard.h"
#include "host/host.h"
#include "host/x11.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <deque>
#include <future>
#include <list>
#include <mutex>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto kAnswerWait = 2s;           // for the owner of a selection to answer one request
constexpr auto kFetchTime = 2500ms;        // for all it has (the store waits a little longer)
constexpr auto kTransferIdle = 10s;        // an incremental transfer nobody reads is dropped
constexpr size_t kMaxForeign = 256u << 20; // the most taken from another program
constexpr size_t kMaxChunk = 256u << 10;   // the largest piece written at once

// A lost connection ends the link's work instead of the program.
std::atomic<bool> connectionLost{false};

void onConnectionLost(void*) {
    connectionLost = true;
}

// ---------------------------------------------------------------------------------------------------

struct Atoms {
    Atom clipboard, targets, timestamp, incr, png, utf8, text, plainUtf8, plain, property, stampProperty;
};

struct Command {
    enum Kind { Offer, Fetch, Stop } kind;
    std::shared_ptr<const host__ClipboardContents> contents;
    std::shared_ptr<std::promise<std::pair<host__DesktopState, host__DesktopContents>>> reply;
};

// An incremental transfer to another program: a piece each time it deletes the property.
struct Transfer {
    Window requestor;
    Atom property, type;
    std::shared_ptr<const std::vector<UBYTE>> data;
    size_t offset;
    Clock::time_point last;
};

class Link {
  public:
    bool start();
    void stop();
    void post(Command command);
    bool running() const { return running_; }

  private:
    void run();
    bool handleCommands(); // false on Stop
    void handle(const XEvent& event);
    void answer(const XSelectionRequestEvent& request);
    void send(Window requestor, Atom property, Atom type, std::shared_ptr<const std::vector<UBYTE>> data);
    void transferStep(const XPropertyEvent& event);
    void offer(std::shared_ptr<const host__ClipboardContents> contents);
    std::pair<host__DesktopState, host__DesktopContents> fetch();
    bool convert(Atom target, Atom* type, std::vector<UBYTE>* data);
    bool readProperty(Atom* type, int* format, std::vector<UBYTE>* data);
    bool waitFor(XEvent* out, Clock::time_point deadline, bool (*match)(const XEvent&, const Link&));
    Time serverTime();
    void wait(Clock::time_point deadline);
    std::shared_ptr<const std::vector<UBYTE>> pngOfContents();

    Display* display_ = nullptr;
    Window window_ = 0;
    Atoms atoms_{};
    int wake_[2] = {-1, -1};
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::mutex lock_;
    std::deque<Command> commands_;
    // The thread's own state.
    std::shared_ptr<const host__ClipboardContents> contents_; // what we offer while we own the selection
    std::shared_ptr<const std::vector<UBYTE>> png_;           // its PNG, made at the first request
    bool owned_ = false;
    Time ownedSince_ = CurrentTime;
    std::list<Transfer> transfers_;
    Atom pendingTarget_ = None;
    Clock::time_point fetchDeadline_;
};

Link& theLink = *new Link; // never destroyed: its thread may still be ending at exit
std::mutex startLock;

bool Link::start() {
    if (running_) return true;
    stop(); // a link whose display went away has ended on its own
    const char* name = std::getenv("DISPLAY");
    if (!name || !*name) return false;
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        KPrintF("clipboard: cannot open the display %s\n", name);
        return false;
    }
    if (pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) {
        XCloseDisplay(display);
        return false;
    }
    connectionLost = false;
    host__WatchXConnection(display, onConnectionLost);
    display_ = display;
    const Window root = DefaultRootWindow(display);
    window_ = XCreateSimpleWindow(display, root, 0, 0, 1, 1, 0, 0, 0);
    XSelectInput(display, window_, PropertyChangeMask);
    const char* names[] = {"CLIPBOARD",  "TARGETS",          "TIMESTAMP",  "INCR",
                           "image/png",  "UTF8_STRING",      "TEXT",       "text/plain;charset=utf-8",
                           "text/plain", "VELURA_CLIPBOARD", "VELURA_TIME"};
    Atom got[11];
    XInternAtoms(display, const_cast<char**>(names), 11, False, got);
    atoms_ = {got[0], got[1], got[2], got[3], got[4], got[5], got[6], got[7], got[8], got[9], got[10]};
    XFlush(display);
    {
        std::lock_guard guard(lock_);
        commands_.clear();
    }
    owned_ = false;
    contents_.reset();
    png_.reset();
    transfers_.clear();
    running_ = true;
    thread_ = std::thread([this] { run(); });
    return true;
}

void Link::stop() {
    if (!thread_.joinable()) return;
    post({Command::Stop, nullptr, nullptr});
    thread_.join();
    running_ = false;
    close(wake_[0]);
    close(wake_[1]);
    wake_[0] = wake_[1] = -1;
}

void Link::post(Command command) {
    {
        std::lock_guard guard(lock_);
        commands_.push_back(std::move(command));
    }
    const char byte = 1;
    [[maybe_unused]] ssize_t n = write(wake_[1], &byte, 1);
}

void Link::run() {
    host_SetThreadName("X clipboard");
    for (;;) {
        if (!handleCommands()) break;
        while (!connectionLost && XPending(display_)) {
            XEvent event;
            XNextEvent(display_, &event);
            handle(event);
        }
        if (connectionLost) break;
        XFlush(display_);
        // Transfers nobody reads are dropped after a while.
        const auto now = Clock::now();
        transfers_.remove_if([&](const Transfer& t) { return now - t.last > kTransferIdle; });
        wait(transfers_.empty() ? Clock::time_point::max() : now + 1s);
    }
    // Unanswered callers hear that nothing was fetched.
    std::deque<Command> left;
    {
        std::lock_guard guard(lock_);
        left.swap(commands_);
    }
    for (Command& c : left)
        if (c.reply) c.reply->set_value({host__DesktopState::Ours, {}});
    if (!connectionLost) {
        if (owned_) XSetSelectionOwner(display_, atoms_.clipboard, None, ownedSince_);
        XDestroyWindow(display_, window_);
    }
    // A lost connection only has its memory freed.
    XCloseDisplay(display_);
    host__UnwatchXConnection(display_);
    display_ = nullptr;
    running_ = false;
}

// Sleeps until the connection or the wake-up pipe has something, or the deadline.
void Link::wait(Clock::time_point deadline) {
    pollfd fds[2] = {{ConnectionNumber(display_), POLLIN, 0}, {wake_[0], POLLIN, 0}};
    int timeout = -1;
    if (deadline != Clock::time_point::max()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
        timeout = int(std::clamp<long long>(left, 0, INT_MAX));
    }
    if (poll(fds, 2, timeout) > 0 && (fds[1].revents & POLLIN)) {
        char drain[64];
        while (read(wake_[0], drain, sizeof drain) > 0) {
        }
    }
}

bool Link::handleCommands() {
    for (;;) {
        Command c;
        {
            std::lock_guard guard(lock_);
            if (commands_.empty()) return true;
            c = std::move(commands_.front());
            commands_.pop_front();
        }
        switch (c.kind) {
        case Command::Stop:
            return false;
        case Command::Offer:
            offer(std::move(c.contents));
            c.reply->set_value({host__DesktopState::Ours, {}});
            break;
        case Command::Fetch:
            c.reply->set_value(fetch());
            break;
        }
        if (connectionLost) return false;
    }
}

// ---------------------------------------------------------------------------------------------------
// Owning the selection.

// The server's time, from a property change of our own window (ownership needs a real time).
Time Link::serverTime() {
    XChangeProperty(display_, window_, atoms_.stampProperty, XA_INTEGER, 8, PropModeAppend, nullptr, 0);
    XEvent event;
    const auto match = [](const XEvent& e, const Link& link) {
        return e.type == PropertyNotify && e.xproperty.window == link.window_ &&
               e.xproperty.atom == link.atoms_.stampProperty;
    };
    return waitFor(&event, Clock::now() + kAnswerWait, match) ? event.xproperty.time : CurrentTime;
}

void Link::offer(std::shared_ptr<const host__ClipboardContents> contents) {
    contents_ = std::move(contents);
    png_.reset();
    const bool has = contents_ && (contents_->bitmap || contents_->hasText);
    if (!has) {
        contents_.reset();
        if (owned_ && XGetSelectionOwner(display_, atoms_.clipboard) == window_)
            XSetSelectionOwner(display_, atoms_.clipboard, None, ownedSince_);
        owned_ = false;
        return;
    }
    ownedSince_ = serverTime();
    XSetSelectionOwner(display_, atoms_.clipboard, window_, ownedSince_);
    owned_ = XGetSelectionOwner(display_, atoms_.clipboard) == window_;
    if (!owned_) KPutStr("clipboard: the display did not let the program own its clipboard\n");
}

std::shared_ptr<const std::vector<UBYTE>> Link::pngOfContents() {
    if (!png_ && contents_ && contents_->bitmap) {
        auto png = std::make_shared<std::vector<UBYTE>>();
        if (host__BitmapToPng(contents_->bitmap, contents_->bitmapLength, png.get())) png_ = std::move(png);
    }
    return png_;
}

std::shared_ptr<const std::vector<UBYTE>> bytesOf(const std::string& text) {
    return std::make_shared<const std::vector<UBYTE>>(text.begin(), text.end());
}

std::string utf8Of(const std::string& latin1) {
    std::string out;
    for (char ch : latin1) {
        const auto c = UBYTE(ch);
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void Link::answer(const XSelectionRequestEvent& request) {
    XEvent reply{};
    reply.xselection.type = SelectionNotify;
    reply.xselection.display = display_;
    reply.xselection.requestor = request.requestor;
    reply.xselection.selection = request.selection;
    reply.xselection.target = request.target;
    reply.xselection.time = request.time;
    reply.xselection.property = None;
    // Obsolete requestors name no property: the target's name serves.
    const Atom property = request.property != None ? request.property : request.target;
    const bool ours = owned_ && contents_ && request.selection == atoms_.clipboard &&
                      request.owner == window_ &&
                      (request.time == CurrentTime || request.time >= ownedSince_);
    if (ours) {
        const Atom target = request.target;
        const bool text = contents_->hasText;
        if (target == atoms_.targets) {
            std::vector<long> list = {long(atoms_.targets), long(atoms_.timestamp)};
            if (pngOfContents()) list.push_back(long(atoms_.png));
            if (text)
                for (Atom a : {atoms_.utf8, atoms_.plainUtf8, XA_STRING, atoms_.text, atoms_.plain})
                    list.push_back(long(a));
            XChangeProperty(display_, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(list.data()), int(list.size()));
            reply.xselection.property = property;
        } else if (target == atoms_.timestamp) {
            const long stamp = long(ownedSince_);
            XChangeProperty(display_, request.requestor, property, XA_INTEGER, 32, PropModeReplace,
                            reinterpret_cast<const unsigned char*>(&stamp), 1);
            reply.xselection.property = property;
        } else {
            // The data of a target we offer: the picture as PNG, the text as UTF-8 or Latin-1.
            std::shared_ptr<const std::vector<UBYTE>> data;
            Atom type = target;
            if (target == atoms_.png)
                data = pngOfContents();
            else if (text && (target == atoms_.utf8 || target == atoms_.plainUtf8))
                data = bytesOf(utf8Of(contents_->text));
            else if (text && (target == XA_STRING || target == atoms_.text || target == atoms_.plain)) {
                data = bytesOf(contents_->text);
                if (target == atoms_.text) type = XA_STRING;
            }
            if (data) {
                send(request.requestor, property, type, std::move(data));
                reply.xselection.property = property;
            }
        }
    }
    XSendEvent(display_, request.requestor, False, NoEventMask, &reply);
}

// Puts data on the requestor's property, at once or, when large, incrementally.
void Link::send(Window requestor, Atom property, Atom type, std::shared_ptr<const std::vector<UBYTE>> data) {
    const size_t maxRequest = std::max<size_t>(XExtendedMaxRequestSize(display_), XMaxRequestSize(display_));
    const size_t chunk = std::min(kMaxChunk, maxRequest * 4 - 1024);
    if (data->size() <= chunk) {
        XChangeProperty(display_, requestor, property, type, 8, PropModeReplace, data->data(),
                        int(data->size()));
        return;
    }
    XSelectInput(display_, requestor, PropertyChangeMask);
    const long size = long(data->size());
    XChangeProperty(display_, requestor, property, atoms_.incr, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&size), 1);
    transfers_.push_back({requestor, property, type, std::move(data), 0, Clock::now()});
}

// The requestor took a piece (deleted the property): the next one, and an empty one at the end.
void Link::transferStep(const XPropertyEvent& event) {
    if (event.state != PropertyDelete) return;
    for (auto it = transfers_.begin(); it != transfers_.end(); ++it) {
        if (it->requestor != event.window || it->property != event.atom) continue;
        const size_t chunk = std::min(kMaxChunk, it->data->size() - it->offset);
        XChangeProperty(display_, it->requestor, it->property, it->type, 8, PropModeReplace,
                        it->data->data() + it->offset, int(chunk));
        it->offset += chunk;
        it->last = Clock::now();
        if (chunk == 0) {
            const Window requestor = it->requestor;
            transfers_.erase(it);
            if (std::none_of(transfers_.begin(), transfers_.end(),
                             [&](const Transfer& t) { return t.requestor == requestor; }))
                XSelectInput(display_, requestor, NoEventMask);
        }
        return;
    }
}

void Link::handle(const XEvent& event) {
    switch (event.type) {
    case SelectionRequest:
        answer(event.xselectionrequest);
        break;
    case SelectionClear:
        if (event.xselectionclear.selection == atoms_.clipboard && event.xselectionclear.window == window_) {
            owned_ = false;
            contents_.reset();
            png_.reset();
        }
        break;
    case PropertyNotify:
        if (event.xproperty.window != window_) transferStep(event.xproperty);
        break;
    default:
        break;
    }
}

// ---------------------------------------------------------------------------------------------------
// Fetching another program's contents.

// Waits for an event that `match` accepts, handling every other one meanwhile; false at the deadline.
bool Link::waitFor(XEvent* out, Clock::time_point deadline, bool (*match)(const XEvent&, const Link&)) {
    for (;;) {
        while (!connectionLost && XPending(display_)) {
            XNextEvent(display_, out);
            if (match(*out, *this)) return true;
            handle(*out);
        }
        if (connectionLost || Clock::now() >= deadline) return false;
        XFlush(display_);
        wait(deadline);
    }
}

// Reads and deletes our property, in pieces as large as the server gives.
bool Link::readProperty(Atom* type, int* format, std::vector<UBYTE>* data) {
    data->clear();
    long offset = 0;
    for (;;) {
        unsigned long items = 0, after = 0;
        unsigned char* bytes = nullptr;
        if (XGetWindowProperty(display_, window_, atoms_.property, offset, long(kMaxChunk / 4), False,
                               AnyPropertyType, type, format, &items, &after, &bytes) != Success)
            return false;
        // Items of format 32 arrive as longs.
        const size_t unit = *format == 32 ? sizeof(long) : *format == 16 ? sizeof(short) : 1;
        const size_t wire = *format == 32 ? 4 : *format == 16 ? 2 : 1;
        const bool fits = data->size() + items * unit <= kMaxForeign;
        if (bytes && fits) data->insert(data->end(), bytes, bytes + items * unit);
        if (bytes) XFree(bytes);
        if (!fits) {
            XDeleteProperty(display_, window_, atoms_.property);
            return false;
        }
        offset += long(items * wire / 4);
        if (after == 0 || items == 0) break;
    }
    XDeleteProperty(display_, window_, atoms_.property);
    return true;
}

// Asks the owner for one target; the type and data it gave, false when it refused or did not answer.
bool Link::convert(Atom target, Atom* type, std::vector<UBYTE>* data) {
    XDeleteProperty(display_, window_, atoms_.property);
    XConvertSelection(display_, atoms_.clipboard, target, atoms_.property, window_, CurrentTime);
    pendingTarget_ = target;
    XEvent event;
    const auto answered = [](const XEvent& e, const Link& link) {
        return e.type == SelectionNotify && e.xselection.requestor == link.window_ &&
               e.xselection.selection == link.atoms_.clipboard && e.xselection.target == link.pendingTarget_;
    };
    if (!waitFor(&event, fetchDeadline_, answered) || event.xselection.property == None) return false;
    int format = 0;
    if (!readProperty(type, &format, data)) return false;
    if (*type != atoms_.incr) return true;
    // Incremental: each new value of the property is a piece, an empty one ends it.
    data->clear();
    const auto piece = [](const XEvent& e, const Link& link) {
        return e.type == PropertyNotify && e.xproperty.window == link.window_ &&
               e.xproperty.atom == link.atoms_.property && e.xproperty.state == PropertyNewValue;
    };
    for (;;) {
        if (!waitFor(&event, std::min(fetchDeadline_, Clock::now() + kAnswerWait), piece)) return false;
        std::vector<UBYTE> part;
        if (!readProperty(type, &format, &part)) return false;
        if (part.empty()) return true;
        if (data->size() + part.size() > kMaxForeign) return false;
        data->insert(data->end(), part.begin(), part.end());
    }
}

std::pair<host__DesktopState, host__DesktopContents> Link::fetch() {
    host__DesktopContents out;
    fetchDeadline_ = Clock::now() + kFetchTime;
    const Window owner = XGetSelectionOwner(display_, atoms_.clipboard);
    if (owner == window_) return {host__DesktopState::Ours, {}};
    owned_ = false;
    if (owner == None) return {host__DesktopState::Foreign, {}};
    out.owner = ULONG(owner);
    Atom type = None;
    std::vector<UBYTE> data;
    // What it offers; an owner that does not say is asked for each kind in turn.
    std::vector<Atom> offered;
    if (convert(atoms_.targets, &type, &data) && type == XA_ATOM)
        for (size_t i = 0; i + sizeof(long) <= data.size(); i += sizeof(long))
            offered.push_back(Atom(*reinterpret_cast<const long*>(data.data() + i)));
    const auto offers = [&](Atom a) {
        return offered.empty() || std::find(offered.begin(), offered.end(), a) != offered.end();
    };
    if (std::find(offered.begin(), offered.end(), atoms_.timestamp) != offered.end() &&
        convert(atoms_.timestamp, &type, &data) && data.size() >= sizeof(long))
        out.stamp = ULONG(*reinterpret_cast<const long*>(data.data()));
    if (offers(atoms_.png) && convert(atoms_.png, &type, &data) && type == atoms_.png)
        out.png = std::move(data);
    for (Atom target : {atoms_.utf8, XA_STRING}) {
        if (!offers(target) || !convert(target, &type, &data)) continue;
        out.text.assign(data.begin(), data.end());
        if (target == XA_STRING) out.text = utf8Of(out.text);
        out.hasText = true;
        break;
    }
    return {host__DesktopState::Foreign, std::move(out)};
}

} // namespace

bool host_StartDesktopClipboard() {
    std::lock_guard guard(startLock);
    return theLink.start();
}

void host_StopDesktopClipboard() {
    std::lock_guard guard(startLock);
    theLink.stop();
}

host__DesktopState host__FetchDesktopClipboard(host__DesktopContents* out, ULONG milliseconds) {
    auto reply = std::make_shared<std::promise<std::pair<host__DesktopState, host__DesktopContents>>>();
    auto answer = reply->get_future();
    {
        std::lock_guard guard(startLock);
        if (!theLink.running()) return host__DesktopState::Ours;
        theLink.post({Command::Fetch, nullptr, reply});
    }
    if (answer.wait_for(std::chrono::milliseconds(milliseconds)) != std::future_status::ready) {
        KPutStr("clipboard: the desktop's clipboard did not answer in time\n");
        return host__DesktopState::Ours;
    }
    auto [state, contents] = answer.get();
    if (state == host__DesktopState::Foreign && out) *out = std::move(contents);
    return state;
}

void host__OfferDesktopClipboard(std::shared_ptr<const host__ClipboardContents> contents) {
    auto reply = std::make_shared<std::promise<std::pair<host__DesktopState, host__DesktopContents>>>();
    auto done = reply->get_future();
    {
        std::lock_guard guard(startLock);
        if (!theLink.running()) return;
        theLink.post({Command::Offer, std::move(contents), reply});
    }
    // Other programs see what was copied once the copy is done.
    if (done.wait_for(kAnswerWait) != std::future_status::ready)
        KPutStr("clipboard: the desktop's clipboard did not take the contents in time\n");
}
