// The script runner: reads a whole script first (so that a typo never runs half a script), then plays it
// into the window system the way a user's stylus and keyboard would.
#include "app/script.h"
#include "host/display.h"
#include "host/intuition.h"
#include "host/msgbox.h"

#include <cctype>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

namespace {

struct NamedKey {
    const char* name;
    ULONG vk;
};

constexpr NamedKey kKeys[] = {
    {"Return", VK_RETURN}, {"Escape", VK_ESCAPE}, {"Tab", VK_TAB},     {"BackSpace", VK_BACK},
    {"Delete", VK_DELETE}, {"Up", VK_UP},         {"Down", VK_DOWN},   {"Left", VK_LEFT},
    {"Right", VK_RIGHT},   {"F1", VK_F1},         {"Space", VK_SPACE}, {"Home", VK_HOME},
    {"End", VK_END},
};

bool equalNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower(UBYTE(a[i])) != std::tolower(UBYTE(b[i]))) return false;
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// Splits off the next blank-separated word.
std::string_view nextWord(std::string_view* rest) {
    size_t i = 0;
    while (i < rest->size() && isBlank((*rest)[i])) i++;
    size_t j = i;
    while (j < rest->size() && !isBlank((*rest)[j])) j++;
    std::string_view word = rest->substr(i, j - i);
    *rest = rest->substr(j);
    return word;
}

bool parseNumber(std::string_view word, LONG low, LONG high, LONG* out) {
    long value = 0;
    const char* end = word.data() + word.size();
    auto [at, ec] = std::from_chars(word.data(), end, value);
    if (word.empty() || ec != std::errc() || at != end || value < low || value > high) return false;
    *out = LONG(value);
    return true;
}

// UTF-8 to Latin-1: every character must be U+0001..U+00FF.
bool toLatin1(std::string_view in, std::string* out, std::string* error) {
    out->clear();
    for (size_t i = 0; i < in.size();) {
        const UBYTE c = UBYTE(in[i]);
        ULONG code;
        size_t length;
        if (c < 0x80) {
            code = c;
            length = 1;
        } else if ((c & 0xE0) == 0xC0) {
            code = c & 0x1F;
            length = 2;
        } else if ((c & 0xF0) == 0xE0) {
            code = c & 0x0F;
            length = 3;
        } else if ((c & 0xF8) == 0xF0) {
            code = c & 0x07;
            length = 4;
        } else {
            *error = "the text is not UTF-8";
            return false;
        }
        if (i + length > in.size()) {
            *error = "the text is not UTF-8";
            return false;
        }
        for (size_t k = 1; k < length; k++) {
            const UBYTE d = UBYTE(in[i + k]);
            if ((d & 0xC0) != 0x80) {
                *error = "the text is not UTF-8";
                return false;
            }
            code = (code << 6) | (d & 0x3F);
        }
        static constexpr ULONG smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (code < smallest[length]) {
            *error = "the text is not UTF-8";
            return false;
        }
        if (code == 0 || code > 0xFF) {
            char name[16];
            std::snprintf(name, sizeof name, "U+%04X", unsigned(code));
            *error = "the character " + std::string(name) + " cannot be typed (Latin-1 only)";
            return false;
        }
        *out += char(code);
        i += length;
    }
    return true;
}

bool parseKey(std::string_view name, ScriptCommand* cmd, std::string* error) {
    for (;;) { // modifier prefixes, in any order
        if (name.size() > 5 && equalNoCase(name.substr(0, 5), "ctrl+")) {
            cmd->control = true;
            name.remove_prefix(5);
        } else if (name.size() > 6 && equalNoCase(name.substr(0, 6), "shift+")) {
            cmd->shift = true;
            name.remove_prefix(6);
        } else {
            break;
        }
    }
    for (const NamedKey& k : kKeys)
        if (equalNoCase(name, k.name)) {
            cmd->vk = k.vk;
            cmd->character = host_CharForKey(k.vk, cmd->shift, cmd->control);
            return true;
        }
    std::string latin;
    std::string why;
    if (!toLatin1(name, &latin, &why) || latin.size() != 1) {
        *error = "unknown key \"" + std::string(name) + "\"";
        return false;
    }
    const UBYTE c = UBYTE(latin[0]);
    if (c >= 'A' && c <= 'Z') cmd->shift = true; // a capital needs the shift key
    if (std::isalpha(c) && c < 0x80) {
        cmd->vk = ULONG(std::toupper(c));
    } else if ((c >= '0' && c <= '9') || c == ' ') {
        cmd->vk = c;
    } else {
        cmd->vk = 0; // other characters have no key of their own: only the character arrives
        cmd->character = c;
        return true;
    }
    cmd->character = host_CharForKey(cmd->vk, cmd->shift, cmd->control);
    return true;
}

struct Syntax {
    const char* word;
    ScriptOp op;
};

constexpr Syntax kCommands[] = {
    {"down", ScriptOp::Down},
    {"move", ScriptOp::Move},
    {"up", ScriptOp::Up},
    {"tap", ScriptOp::Tap},
    {"rdown", ScriptOp::RDown},
    {"rup", ScriptOp::RUp},
    {"key", ScriptOp::Key},
    {"text", ScriptOp::Text},
    {"menu", ScriptOp::Menu},
    {"answer", ScriptOp::Answer},
    {"wait", ScriptOp::Wait},
    {"sleep", ScriptOp::Sleep},
    {"screenshot", ScriptOp::Screenshot},
    {"quit", ScriptOp::Quit},
};

// After the arguments only blanks or a comment may follow.
bool onlyComment(std::string_view rest) {
    std::string_view word = nextWord(&rest);
    return word.empty() || word[0] == '#';
}

// A line as an error quotes it: without the blanks around it, and cut to kQuotedLength characters (never
// inside a UTF-8 character) with "..." after it.
constexpr size_t kQuotedLength = 80;

std::string quoted(const std::string& line) {
    std::string s = line;
    while (!s.empty() && isBlank(s.back())) s.pop_back();
    size_t i = 0;
    while (i < s.size() && isBlank(s[i])) i++;
    s.erase(0, i);
    size_t end = 0;
    for (size_t characters = 0; end < s.size() && characters < kQuotedLength; characters++) {
        end++;
        while (end < s.size() && (UBYTE(s[end]) & 0xC0) == 0x80) end++; // the rest of a UTF-8 character
    }
    return "\"" + s.substr(0, end) + (end < s.size() ? "...\"" : "\"");
}

void sleepFor(LONG ms, const std::atomic<bool>* stop) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (std::chrono::steady_clock::now() < until && !(stop && *stop))
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
            until - std::chrono::steady_clock::now(), std::chrono::milliseconds(10)));
}

// Idle a few times in a row, a few milliseconds apart: one look could fall between two messages.
bool waitIdle(const std::atomic<bool>* stop) {
    constexpr int kChecks = 5;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(SCRIPT_WAIT_LIMIT_MS);
    int quiet = 0;
    while (quiet < kChecks) {
        if (stop && *stop) return true;
        if (std::chrono::steady_clock::now() > limit) return false;
        quiet = host_Idle() ? quiet + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(3));
    }
    return true;
}

void injectKey(const ScriptCommand& c) {
    if (c.control) host_InjectKey(VK_CONTROL, true);
    if (c.shift) host_InjectKey(VK_SHIFT, true);
    if (c.vk) host_InjectKey(c.vk, true);
    if (c.character) host_InjectChar(c.character);
    if (c.vk) host_InjectKey(c.vk, false);
    if (c.shift) host_InjectKey(VK_SHIFT, false);
    if (c.control) host_InjectKey(VK_CONTROL, false);
}

} // namespace

int app_ParseScriptLine(const std::string& line, ScriptCommand* out, std::string* error) {
    std::string_view rest = line;
    if (!rest.empty() && rest.back() == '\r') rest.remove_suffix(1);
    const std::string_view word = nextWord(&rest);
    if (word.empty() || word[0] == '#') return 0;
    const Syntax* syntax = nullptr;
    for (const Syntax& s : kCommands)
        if (word == s.word) syntax = &s;
    if (!syntax) {
        *error = "unknown command " + quoted(line);
        return -1;
    }
    ScriptCommand cmd;
    cmd.op = syntax->op;
    const std::string name(word);
    switch (cmd.op) {
    case ScriptOp::Down:
    case ScriptOp::Move:
    case ScriptOp::Up:
    case ScriptOp::Tap:
    case ScriptOp::RDown:
    case ScriptOp::RUp:
        if (!parseNumber(nextWord(&rest), -32768, 32767, &cmd.x) ||
            !parseNumber(nextWord(&rest), -32768, 32767, &cmd.y)) {
            *error = name + " needs two coordinates: " + quoted(line);
            return -1;
        }
        break;
    case ScriptOp::Key: {
        const std::string_view key = nextWord(&rest);
        if (key.empty()) {
            *error = "key needs a key name: " + quoted(line);
            return -1;
        }
        if (!parseKey(key, &cmd, error)) return -1;
        break;
    }
    case ScriptOp::Text: {
        // The rest of the line after one blank, as it is ("#" included).
        std::string_view text = rest.empty() ? rest : rest.substr(1);
        if (text.empty()) {
            *error = "text needs characters: " + quoted(line);
            return -1;
        }
        std::string why;
        if (!toLatin1(text, &cmd.text, &why)) {
            *error = why + ": " + quoted(line);
            return -1;
        }
        *out = cmd;
        return 1;
    }
    case ScriptOp::Menu:
        if (!parseNumber(nextWord(&rest), 1, 65535, &cmd.number)) {
            *error = "menu needs a command number 1-65535: " + quoted(line);
            return -1;
        }
        break;
    case ScriptOp::Answer:
        if (!parseNumber(nextWord(&rest), 0, 1, &cmd.number)) {
            *error = "answer needs 1 (OK or Yes) or 0 (Cancel or No): " + quoted(line);
            return -1;
        }
        break;
    case ScriptOp::Sleep:
        if (!parseNumber(nextWord(&rest), 0, 3600000, &cmd.number)) {
            *error = "sleep needs milliseconds: " + quoted(line);
            return -1;
        }
        break;
    case ScriptOp::Screenshot: {
        // The rest of the line up to a comment, so that names may hold blanks.
        std::string_view file = rest;
        for (size_t i = 1; i < file.size(); i++)
            if (file[i] == '#' && isBlank(file[i - 1])) {
                file = file.substr(0, i);
                break;
            }
        while (!file.empty() && isBlank(file.front())) file.remove_prefix(1);
        while (!file.empty() && isBlank(file.back())) file.remove_suffix(1);
        if (file.empty()) {
            *error = "screenshot needs a file name: " + quoted(line);
            return -1;
        }
        cmd.text = file;
        if (!host_IsScreenshotName(cmd.text.c_str())) {
            *error = "screenshot needs a .bmp or .ppm file name: " + quoted(line);
            return -1;
        }
        *out = cmd;
        return 1;
    }
    case ScriptOp::Wait:
    case ScriptOp::Quit:
        break;
    }
    if (!onlyComment(rest)) {
        *error = "unexpected words after " + name + ": " + quoted(line);
        return -1;
    }
    *out = cmd;
    return 1;
}

bool app_LoadScript(const char* fileName, std::vector<ScriptCommand>* commands, std::string* error) {
    std::ifstream in(fileName, std::ios::binary);
    if (!in) {
        *error = std::string(fileName) + ": cannot read the script";
        return false;
    }
    commands->clear();
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        number++;
        ScriptCommand cmd;
        std::string why;
        const int result = app_ParseScriptLine(line, &cmd, &why);
        if (result < 0) {
            *error = std::string(fileName) + ":" + std::to_string(number) + ": " + why;
            return false;
        }
        if (result > 0) {
            cmd.line = number;
            commands->push_back(std::move(cmd));
        }
    }
    if (in.bad()) {
        *error = std::string(fileName) + ": cannot read the script";
        return false;
    }
    return true;
}

bool app_RunScript(const char* fileName, const std::vector<ScriptCommand>& commands,
                   const std::atomic<bool>* stop, std::string* error) {
    auto fail = [&](const ScriptCommand& c, const std::string& why) {
        *error = std::string(fileName) + ":" + std::to_string(c.line) + ": " + why;
        return false;
    };
    for (const ScriptCommand& c : commands) {
        if (stop && *stop) return true;
        switch (c.op) {
        case ScriptOp::Down:
            host_InjectMouseMove(c.x, c.y);
            host_InjectButton(0, true, c.x, c.y);
            break;
        case ScriptOp::Move:
            host_InjectMouseMove(c.x, c.y);
            break;
        case ScriptOp::Up:
            host_InjectMouseMove(c.x, c.y);
            host_InjectButton(0, false, c.x, c.y);
            break;
        case ScriptOp::Tap:
            host_InjectMouseMove(c.x, c.y);
            host_InjectButton(0, true, c.x, c.y);
            host_InjectButton(0, false, c.x, c.y);
            break;
        case ScriptOp::RDown:
            host_InjectMouseMove(c.x, c.y);
            host_InjectButton(1, true, c.x, c.y);
            break;
        case ScriptOp::RUp:
            host_InjectMouseMove(c.x, c.y);
            host_InjectButton(1, false, c.x, c.y);
            break;
        case ScriptOp::Key:
            injectKey(c);
            break;
        case ScriptOp::Text:
            for (char ch : c.text) host_InjectChar(UBYTE(ch));
            break;
        case ScriptOp::Menu: {
            // As from the menu bar: a greyed command cannot be chosen.
            if (host_IsScreenCommandShown(c.number) && !host_IsScreenCommandEnabled(c.number))
                return fail(c, "menu " + std::to_string(c.number) + ": the command is greyed");
            Screen* screen = LockPubScreen();
            const bool posted = screen && screen->HostWindow &&
                                host_PostMessage(screen->HostWindow, HM_COMMAND, Tal_Word(c.number), 0);
            if (screen) UnlockPubScreen(nullptr, screen);
            if (!posted) return fail(c, "menu " + std::to_string(c.number) + ": there is no screen");
            break;
        }
        case ScriptOp::Answer:
            host_QueueMessageBoxAnswer(c.number);
            break;
        case ScriptOp::Wait:
            if (!waitIdle(stop))
                return fail(c, "wait: the program did not become idle within " +
                                   std::to_string(SCRIPT_WAIT_LIMIT_MS / 1000) + " s");
            break;
        case ScriptOp::Sleep:
            sleepFor(c.number, stop);
            break;
        case ScriptOp::Screenshot:
            if (!host_SaveScreenshot(c.text.c_str()))
                return fail(c, "screenshot: cannot write \"" + c.text + "\" (a .bmp or .ppm file)");
            break;
        case ScriptOp::Quit:
            return true;
        }
    }
    return true;
}
