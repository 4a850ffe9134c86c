// The script parser: what every kind of line becomes, and the lines it refuses.
#include "app/script.h"
#include "host/wm.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

struct Valid {
    const char* line;
    ScriptOp op;
    LONG x, y;
    ULONG vk;
    UBYTE character;
    bool control, shift;
    LONG number;
    const char* text;
};

TEST(ScriptParser, ValidLines) {
    const Valid cases[] = {
        {"down 10 20", ScriptOp::Down, 10, 20, 0, 0, false, false, 0, ""},
        {"  move -5 319  ", ScriptOp::Move, -5, 319, 0, 0, false, false, 0, ""},
        {"up 1 2 # lift", ScriptOp::Up, 1, 2, 0, 0, false, false, 0, ""},
        {"tap 120 160\r", ScriptOp::Tap, 120, 160, 0, 0, false, false, 0, ""},
        {"rdown 3 4", ScriptOp::RDown, 3, 4, 0, 0, false, false, 0, ""},
        {"rup 3 4", ScriptOp::RUp, 3, 4, 0, 0, false, false, 0, ""},
        {"key a", ScriptOp::Key, 0, 0, 'A', 'a', false, false, 0, ""},
        {"key A", ScriptOp::Key, 0, 0, 'A', 'A', false, true, 0, ""},
        {"key shift+b", ScriptOp::Key, 0, 0, 'B', 'B', false, true, 0, ""},
        {"key ctrl+s", ScriptOp::Key, 0, 0, 'S', 19, true, false, 0, ""},
        {"key Ctrl+Shift+a", ScriptOp::Key, 0, 0, 'A', 1, true, true, 0, ""},
        {"key 7", ScriptOp::Key, 0, 0, '7', '7', false, false, 0, ""},
        {"key .", ScriptOp::Key, 0, 0, 0, '.', false, false, 0, ""},
        {"key #", ScriptOp::Key, 0, 0, 0, '#', false, false, 0, ""},
        {"key +", ScriptOp::Key, 0, 0, 0, '+', false, false, 0, ""},
        {"key \xC3\xA9", ScriptOp::Key, 0, 0, 0, 0xE9, false, false, 0, ""},
        {"key Return", ScriptOp::Key, 0, 0, VK_RETURN, 13, false, false, 0, ""},
        {"key escape", ScriptOp::Key, 0, 0, VK_ESCAPE, 27, false, false, 0, ""},
        {"key Tab", ScriptOp::Key, 0, 0, VK_TAB, 9, false, false, 0, ""},
        {"key BackSpace", ScriptOp::Key, 0, 0, VK_BACK, 8, false, false, 0, ""},
        {"key Delete", ScriptOp::Key, 0, 0, VK_DELETE, 0, false, false, 0, ""},
        {"key Up", ScriptOp::Key, 0, 0, VK_UP, 0, false, false, 0, ""},
        {"key Down", ScriptOp::Key, 0, 0, VK_DOWN, 0, false, false, 0, ""},
        {"key Left", ScriptOp::Key, 0, 0, VK_LEFT, 0, false, false, 0, ""},
        {"key Right", ScriptOp::Key, 0, 0, VK_RIGHT, 0, false, false, 0, ""},
        {"key F1", ScriptOp::Key, 0, 0, VK_F1, 0, false, false, 0, ""},
        {"key ctrl+Return", ScriptOp::Key, 0, 0, VK_RETURN, 0, true, false, 0, ""},
        {"text Hello, world # not a comment", ScriptOp::Text, 0, 0, 0, 0, false, false, 0,
         "Hello, world # not a comment"},
        {"text  two blanks", ScriptOp::Text, 0, 0, 0, 0, false, false, 0, " two blanks"},
        {"text Gr\xC3\xBC\xC3\x9F"
         "e",
         ScriptOp::Text, 0, 0, 0, 0, false, false, 0,
         "Gr\xFC\xDF"
         "e"},
        {"menu 69", ScriptOp::Menu, 0, 0, 0, 0, false, false, 69, ""},
        {"menu 40035", ScriptOp::Menu, 0, 0, 0, 0, false, false, 40035, ""},
        {"answer 1", ScriptOp::Answer, 0, 0, 0, 0, false, false, 1, ""},
        {"answer 0", ScriptOp::Answer, 0, 0, 0, 0, false, false, 0, ""},
        {"wait", ScriptOp::Wait, 0, 0, 0, 0, false, false, 0, ""},
        {"sleep 250", ScriptOp::Sleep, 0, 0, 0, 0, false, false, 250, ""},
        {"screenshot out/my shot.bmp  ", ScriptOp::Screenshot, 0, 0, 0, 0, false, false, 0,
         "out/my shot.bmp"},
        {"screenshot a#1.ppm # first", ScriptOp::Screenshot, 0, 0, 0, 0, false, false, 0, "a#1.ppm"},
        {"quit", ScriptOp::Quit, 0, 0, 0, 0, false, false, 0, ""},
    };
    for (const Valid& c : cases) {
        SCOPED_TRACE(c.line);
        ScriptCommand cmd;
        std::string error;
        ASSERT_EQ(app_ParseScriptLine(c.line, &cmd, &error), 1) << error;
        EXPECT_EQ(cmd.op, c.op);
        EXPECT_EQ(cmd.x, c.x);
        EXPECT_EQ(cmd.y, c.y);
        if (c.op == ScriptOp::Key) {
            EXPECT_EQ(cmd.vk, c.vk);
            EXPECT_EQ(cmd.character, c.character);
            EXPECT_EQ(cmd.control, c.control);
            EXPECT_EQ(cmd.shift, c.shift);
        }
        EXPECT_EQ(cmd.number, c.number);
        EXPECT_EQ(cmd.text, c.text);
    }
}

TEST(ScriptParser, BlankAndCommentLinesAreSkipped) {
    for (const char* line : {"", "   ", "\t", "# a comment", "   # indented", "\r"}) {
        ScriptCommand cmd;
        std::string error;
        EXPECT_EQ(app_ParseScriptLine(line, &cmd, &error), 0) << "\"" << line << "\"";
    }
}

TEST(ScriptParser, ErrorsNameTheProblem) {
    struct Bad {
        const char* line;
        const char* says;
    };
    const Bad cases[] = {
        {"frobnicate 1 2", "unknown command \"frobnicate 1 2\""},
        {"Tap 1 2", "unknown command"}, // commands are lower case
        {"tap 1", "two coordinates"},
        {"tap x 2", "two coordinates"},
        {"tap 1 2 3", "unexpected words"},
        {"move 1 99999", "two coordinates"},
        {"down 1.5 2", "two coordinates"},
        {"key", "key name"},
        {"key Fred", "unknown key \"Fred\""},
        {"key ctrl+", "unknown key"},
        {"key ab", "unknown key"},
        {"key a b", "unexpected words"},
        {"text", "text needs characters"},
        {"text \xE2\x82\xAC", "U+20AC cannot be typed (Latin-1"}, // the euro sign has no Latin-1 code
        {"text \xE6\x97\xA5", "U+65E5"},                          // nor has a Japanese one
        {"text \xC3", "not UTF-8"},                               // cut short
        {"text \xC0\x80", "not UTF-8"},                           // overlong
        {"menu", "command number"},
        {"menu 0", "command number"},
        {"menu 70000", "command number"},
        {"answer 2", "answer needs"},
        {"answer yes", "answer needs"},
        {"sleep", "milliseconds"},
        {"sleep -1", "milliseconds"},
        {"screenshot", "file name"},
        {"screenshot shot.gif", ".bmp or .ppm file name"}, // refused before anything runs
        {"screenshot shot", ".bmp or .ppm file name"},
        {"wait 5", "unexpected words"},
        {"quit now", "unexpected words"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.line);
        ScriptCommand cmd;
        std::string error;
        EXPECT_EQ(app_ParseScriptLine(c.line, &cmd, &error), -1);
        EXPECT_NE(error.find(c.says), std::string::npos) << error;
    }
}

// A long line is quoted cut to 80 characters, never inside a UTF-8 character.
TEST(ScriptParser, LongLinesAreQuotedCut) {
    const std::string word = "\xC3\xA9" + std::string(100, 'x'); // "é" and then 100 letters
    ScriptCommand cmd;
    std::string error;
    ASSERT_EQ(app_ParseScriptLine("  " + word + "  ", &cmd, &error), -1);
    EXPECT_EQ(error, "unknown command \"" + word.substr(0, 81) + "...\"");
    ASSERT_EQ(app_ParseScriptLine(word.substr(0, 81), &cmd, &error), -1);
    EXPECT_EQ(error, "unknown command \"" + word.substr(0, 81) + "\"");
}

TEST(ScriptParser, LoadNamesFileAndLineOfTheFirstError) {
    const char* tmp = std::getenv("VELURA_TEST_TMP");
    std::string dir = tmp ? tmp : "/tmp";
    std::string cmd = "mkdir -p '" + dir + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    const std::string name = dir + "/parser-" + std::to_string(getpid()) + ".txt";
    {
        std::ofstream f(name);
        f << "# start\n\ntap 1 2\nwait\nbogus line\nquit\n";
    }
    std::vector<ScriptCommand> commands;
    std::string error;
    EXPECT_FALSE(app_LoadScript(name.c_str(), &commands, &error));
    EXPECT_EQ(error, name + ":5: unknown command \"bogus line\"");
    {
        std::ofstream f(name);
        f << "# start\n\ntap 1 2\r\nwait\nquit";
    }
    ASSERT_TRUE(app_LoadScript(name.c_str(), &commands, &error)) << error;
    ASSERT_EQ(commands.size(), 3u);
    EXPECT_EQ(commands[0].line, 3);
    EXPECT_EQ(commands[2].op, ScriptOp::Quit);
    EXPECT_EQ(commands[2].line, 5);
    std::remove(name.c_str());
    EXPECT_FALSE(app_LoadScript(name.c_str(), &commands, &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos);
}

} // namespace
