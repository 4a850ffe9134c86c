// Scripts that drive the program without a user: pointer, keys, typed text, menu commands, answers for
// message boxes, waiting for the program to settle, screenshots. One command a line; "#" starts a
// comment; coordinates are logical screen pixels.
#pragma once

#include "Tal/TalBase.h"

#include <atomic>
#include <string>
#include <vector>

enum class ScriptOp {
    Down,   // select button down at (x, y)
    Move,   // pointer to (x, y)
    Up,     // select button up at (x, y)
    Tap,    // down and up at (x, y)
    RDown,  // menu button down
    RUp,    // menu button up
    Key,    // key (vk, with control and shift) and the character it gives
    Text,   // typed Latin-1 characters
    Menu,   // menu command number
    Answer, // answer for the next message box or requester
    Wait,   // until the program is idle
    Sleep,  // milliseconds
    Screenshot,
    Quit
};

struct ScriptCommand {
    ScriptOp op = ScriptOp::Quit;
    int line = 0;        // line number in the file, from 1
    LONG x = 0, y = 0;   // pointer commands
    ULONG vk = 0;        // Key: virtual key, 0 for a character without its own key
    UBYTE character = 0; // Key: the character the key gives, 0 for none
    bool control = false, shift = false;
    LONG number = 0;  // Menu, Answer, Sleep
    std::string text; // Text (Latin-1), Screenshot (file name)
};

// Parses one line (without its line end). Returns 1 with the command in *out, 0 for a blank or comment
// line, -1 with the reason in *error.
int app_ParseScriptLine(const std::string& line, ScriptCommand* out, std::string* error);

// Reads and parses a whole script. False with "FILE:LINE: reason" in *error when the file cannot be
// read or a line is not understood; nothing runs in that case.
bool app_LoadScript(const char* fileName, std::vector<ScriptCommand>* commands, std::string* error);

// How long "wait" waits for the program to become idle before it gives up.
constexpr ULONG SCRIPT_WAIT_LIMIT_MS = 60000;

// Runs the commands in the calling thread. Stops early (returning true) at "quit" and when *stop (if
// given) becomes true. False with "FILE:LINE: reason" in *error when a command fails (a wait that never
// ends, a screenshot that cannot be written, a menu command without a screen).
bool app_RunScript(const char* fileName, const std::vector<ScriptCommand>& commands,
                   const std::atomic<bool>* stop, std::string* error);
