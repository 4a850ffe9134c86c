// The program end to end: its command line, the missing or lost display, and scripts run headless with
// their screenshots read back by ImageMagick.
#include "support/Shell.h"

#include <gtest/gtest.h>

#include "support/VirtualDisplay.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <map>
#include <signal.h>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Outcome {
    int code = -1;
    std::string out, err;
};

std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string testDir(const char* name) {
    const char* tmp = std::getenv("VELURA_TEST_TMP");
    std::string dir = std::string(tmp ? tmp : "/tmp") + "/" + name + "-" + std::to_string(getpid());
    EXPECT_EQ(std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str()), 0);
    return dir;
}

// Starts a program in `dir` with changes to the environment (an empty value removes the variable), its
// output going to files there.
pid_t start(const std::vector<std::string>& args, const std::string& dir,
            const std::map<std::string, std::string>& changes = {}, rlim_t fileSizeLimit = RLIM_INFINITY) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e; e++) {
        const char* eq = std::strchr(*e, '=');
        if (eq) env[std::string(*e, size_t(eq - *e))] = eq + 1;
    }
    // The program's own installation and device, whatever other tests of this process set.
    for (const char* name : {"VELURA_DEBUG", "VELURA_HOME", "VELURA_OEM_INFO"}) env.erase(name);
    env["XDG_RUNTIME_DIR"] = dir; // never meet a copy of the program that the user runs
    env["VELURA_USER_DIR"] = dir + "/user";
    for (const auto& [k, v] : changes)
        if (v.empty())
            env.erase(k);
        else
            env[k] = v;
    std::vector<std::string> envText;
    for (const auto& [k, v] : env) envText.push_back(k + "=" + v);
    std::vector<char*> envp, argv;
    for (std::string& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argsCopy = args;
    for (std::string& s : argsCopy) argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::string outName = dir + "/stdout.txt", errName = dir + "/stderr.txt";

    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(dir.c_str()) != 0) _exit(126);
        int out = open(outName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int err = open(errName.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0) _exit(126);
        dup2(out, 1);
        dup2(err, 2);
        const rlimit limit{fileSizeLimit, fileSizeLimit};
        if (fileSizeLimit != RLIM_INFINITY && setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return pid;
}

// Waits for the program to end and collects its exit code and output. A run that hangs is killed after
// two minutes.
Outcome finish(pid_t pid, const std::string& dir) {
    Outcome r;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(2);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > limit) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the program hung";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = readFile(dir + "/stdout.txt");
    r.err = readFile(dir + "/stderr.txt");
    return r;
}

Outcome run(const std::vector<std::string>& args, const std::string& dir,
            const std::map<std::string, std::string>& changes = {}) {
    return finish(start(args, dir, changes), dir);
}

// Whether one of the process's threads has the name.
bool hasThread(pid_t pid, const std::string& name) {
    const std::string listing = "/proc/" + std::to_string(pid) + "/task";
    std::string names = capture("cat " + listing + "/*/comm 2>/dev/null");
    return names.find(name + "\n") != std::string::npos;
}

std::string writeScript(const std::string& dir, const std::string& name, const std::string& text) {
    std::ofstream(dir + "/" + name) << text;
    return dir + "/" + name;
}

// ImageMagick's reading of one pixel: "r,g,b".
std::string magickPixel(const std::string& file, int x, int y) {
    std::string text = capture("convert '" + file + "' -crop 1x1+" + std::to_string(x) + "+" +
                               std::to_string(y) + " -depth 8 txt:- 2>&1");
    // "0,0: (43,87,151)  #2B5797  srgb(43,87,151)"
    size_t open = text.find("\n0,0: (");
    if (open == std::string::npos) return "unreadable: " + text;
    size_t start = open + 7, end = text.find(')', start);
    std::string rgb = text.substr(start, end - start);
    std::string clean;
    for (char c : rgb)
        if (c != ' ') clean += c;
    return clean;
}

struct Ppm {
    int width = 0, height = 0;
    std::string pixels;
    std::string at(int x, int y) const {
        size_t i = (size_t(y) * size_t(width) + size_t(x)) * 3;
        return std::to_string(int(uint8_t(pixels[i]))) + "," + std::to_string(int(uint8_t(pixels[i + 1]))) +
               "," + std::to_string(int(uint8_t(pixels[i + 2])));
    }
};

bool readPpm(const std::string& file, Ppm* ppm) {
    std::string data = readFile(file);
    std::istringstream in(data);
    std::string magic;
    int max = 0;
    in >> magic >> ppm->width >> ppm->height >> max;
    if (magic != "P6" || max != 255) return false;
    in.get();
    ppm->pixels = data.substr(size_t(in.tellg()));
    return ppm->pixels.size() == size_t(ppm->width) * size_t(ppm->height) * 3;
}

TEST(Program, VersionAndHelp) {
    const std::string dir = testDir("program-version");
    Outcome r = run({VELURA_BINARY, "--version"}, dir);
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.out, std::string("Velura ") + VELURA_VERSION + "\n");
    r = run({VELURA_BINARY, "--help"}, dir);
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find("--script FILE"), std::string::npos);
    for (std::vector<std::string> bad : {std::vector<std::string>{"--frobnicate"},
                                         {"--screen", "10x10"},
                                         {"--zoom", "0"},
                                         {"a.bmp", "b.bmp"},
                                         {"--headless"},
                                         {"/" + std::string(259, 'p')}}) { // a path longer than 259
        bad.insert(bad.begin(), VELURA_BINARY);
        r = run(bad, dir);
        EXPECT_EQ(r.code, 2) << bad[1];
        EXPECT_NE(r.err.find("velura: "), std::string::npos) << r.err;
    }
}

// Velura's files in a folder (the running copy's lock and socket), one a line.
std::string runningCopyFiles(const std::string& dir) {
    return capture("ls -A '" + dir + "' | grep '^velura-'");
}

// Without a display that opens (none named, one that is not there, or only an off-screen one), and without
// a script, it says so in one line and ends: it never runs invisible, nor holds the running copy's place.
TEST(Program, WithoutDisplayOrScriptItSaysSoInOneLine) {
    const std::string dir = testDir("program-nodisplay");
    struct Case {
        std::map<std::string, std::string> env;
        std::string says;
    };
    for (const Case& c : {Case{{{"DISPLAY", ""}}, "velura: no display found; "},
                          Case{{{"DISPLAY", ":32000"}}, "velura: the display :32000 does not open; "},
                          Case{{{"DISPLAY", ":32000"}, {"SDL_VIDEODRIVER", "offscreen"}},
                               "velura: the display :32000 does not open; "}}) {
        std::map<std::string, std::string> env = c.env;
        env["WAYLAND_DISPLAY"] = "";
        env["VELURA_HEADLESS"] = "";
        Outcome r = run({VELURA_BINARY}, dir, env);
        SCOPED_TRACE(c.says);
        EXPECT_EQ(r.code, 2);
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
        EXPECT_EQ(r.err.rfind(c.says, 0), 0u) << r.err;
        EXPECT_NE(r.err.find("velura --headless --script FILE"), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(runningCopyFiles(dir), "");
    }
}

// Losing the display (the X server ends, or another program destroys the window) ends the program as at
// quit: the preferences are stored, the running copy's lock and socket go, one line says why, and the exit
// code is not 0.
TEST(Program, LosingTheDisplayEndsItInOrder) {
    if (!onPath("Xvfb") || !onPath("xdotool")) GTEST_SKIP() << "Xvfb or xdotool is not installed";
    for (bool serverEnds : {true, false}) {
        SCOPED_TRACE(serverEnds ? "the X server ends" : "the window is destroyed");
#if defined(__SANITIZE_THREAD__)
        // libX11 (not built for ThreadSanitizer) releases its display lock twice on a lost connection.
        if (serverEnds) continue;
#endif
        const std::string dir = testDir(serverEnds ? "program-lost-server" : "program-lost-window");
        VirtualDisplay xvfb;
        const std::string why = xvfb.start();
        ASSERT_TRUE(why.empty()) << why;
        const pid_t pid = start({VELURA_BINARY}, dir,
                                {{"DISPLAY", xvfb.name()}, {"WAYLAND_DISPLAY", ""}, {"VELURA_HEADLESS", ""}});
        // Its start window is up (the window's thread runs), and it takes hand-overs.
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        auto up = [&] {
            return hasThread(pid, "Tal WindowHTool") &&
                   runningCopyFiles(dir).find(".sock\n") != std::string::npos;
        };
        while (!up() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(up());
        if (serverEnds)
            xvfb.stop();
        else
            ASSERT_EQ(
                std::system(
                    ("DISPLAY=" + xvfb.name() + " xdotool search --name '^Velura$' windowclose").c_str()),
                0);
        Outcome r = finish(pid, dir);
        EXPECT_EQ(r.code, 1) << r.err;
        const std::string line =
            serverEnds ? "velura: the connection to the display " + xvfb.name() + " was lost; ending\n"
                       : "velura: another program destroyed the window; ending\n";
        EXPECT_EQ(r.err, line);
        const std::string prefs = readFile(dir + "/user/Data/Prefs/VeluraPrefs.TalStr");
        EXPECT_EQ(prefs.rfind("VeluraPrefs\n{\n", 0), 0u) << prefs;
        EXPECT_EQ(runningCopyFiles(dir), "");
    }
}

TEST(Program, HeadlessScriptTapsTypesAndTakesScreenshots) {
    if (!haveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    const std::string dir = testDir("program-script");
    const std::string script = writeScript(dir, "input.txt",
                                           "# pointer, keys and text into the screen\n"
                                           "tap 120 160\n"
                                           "down 100 100\n"
                                           "move 110 120\n"
                                           "up 120 140\n"
                                           "rdown 50 50\n"
                                           "rup 50 50\n"
                                           "key a\n"
                                           "key ctrl+s\n"
                                           "key shift+Tab\n"
                                           "key Return\n"
                                           "text Gr\xC3\xBC\xC3\x9F"
                                           "e, world\n"
                                           "sleep 20\n"
                                           "wait\n"
                                           "screenshot shot.bmp   # relative: the current directory\n"
                                           "screenshot " +
                                               dir +
                                               "/shot.ppm\n"
                                               "quit\n"
                                               "tap 1 1\n");
    Outcome r = run({VELURA_BINARY, "--headless", "--script", script}, dir, {{"VELURA_HEADLESS", ""}});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(capture("identify -format '%m %wx%h' '" + dir + "/shot.bmp' 2>&1"),
              "BMP3 240x320"); // BMP3: the 40-byte header
    EXPECT_EQ(capture("identify -format '%m %wx%h' '" + dir + "/shot.ppm' 2>&1"), "PPM 240x320");

    // Both files hold the same picture, as ImageMagick reads them: look at a coloured pixel (red differs from
    // blue, so a swapped channel order shows) and at the corners.
    Ppm ppm;
    ASSERT_TRUE(readPpm(dir + "/shot.ppm", &ppm));
    std::vector<std::pair<int, int>> points = {{0, 0}, {239, 319}, {120, 2}, {5, 310}};
    for (int i = 0; i < ppm.width * ppm.height; i++) {
        const char* p = &ppm.pixels[size_t(i) * 3];
        if (p[0] != p[2]) {
            points.push_back({i % ppm.width, i / ppm.width});
            break;
        }
    }
    for (auto [x, y] : points) {
        SCOPED_TRACE(std::to_string(x) + "," + std::to_string(y));
        EXPECT_EQ(magickPixel(dir + "/shot.bmp", x, y), ppm.at(x, y));
        EXPECT_EQ(magickPixel(dir + "/shot.ppm", x, y), ppm.at(x, y));
    }
}

TEST(Program, ScriptWithoutQuitEndsAndTheScreenSizeIsAsAsked) {
    if (!haveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    const std::string dir = testDir("program-size");
    const std::string script = writeScript(dir, "size.txt", "wait\nscreenshot wide.ppm\n");
    Outcome r =
        run({VELURA_BINARY, "--screen", "320x240", "--script", script}, dir, {{"VELURA_HEADLESS", "1"}});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(capture("identify -format '%wx%h' '" + dir + "/wide.ppm' 2>&1"), "320x240");
}

TEST(Program, ScriptErrorsEndTheRunWithCodeTwoNamingTheLine) {
    const std::string dir = testDir("program-errors");
    struct Case {
        std::string text;
        std::string says;
    };
    for (const Case& c :
         {Case{"tap 1 2\nfrobnicate 3\nquit\n", ":2: unknown command \"frobnicate 3\""},
          Case{"wait\ntap 1\n", ":2: tap needs two coordinates"},
          Case{"wait\nscreenshot /no/such/dir/x.bmp\nquit\n", ":2: screenshot: cannot write"},
          // Found when the script is read: the first screenshot is never taken.
          Case{"screenshot first.ppm\nscreenshot x.gif\n", ":2: screenshot needs a .bmp or .ppm file name"},
          Case{"text \xE6\x97\xA5\n", ":1: the character U+65E5 cannot be typed"},
          Case{"tap 1 1\n" + std::string(200, 'z') + "\n",
               ":2: unknown command \"" + std::string(80, 'z') + "...\"\n"}}) {
        SCOPED_TRACE(c.text);
        const std::string script = writeScript(dir, "bad.txt", c.text);
        Outcome r = run({VELURA_BINARY, "--headless", "--script", script}, dir);
        EXPECT_EQ(r.code, 2);
        EXPECT_NE(r.err.find(script + c.says), std::string::npos) << r.err;
    }
    EXPECT_NE(access((dir + "/first.ppm").c_str(), F_OK), 0);
    Outcome r = run({VELURA_BINARY, "--headless", "--script", dir + "/missing.txt"}, dir);
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("missing.txt: cannot read the script"), std::string::npos) << r.err;
}

constexpr const char* kQuitQuestion = "msgbox: Velura | Do you really want to quit Velura?\n";
constexpr const char* kButtonFace = "192,192,192";

// Killed, it ends without the quit question, also while a failed start waits for its message to be read.
TEST(Program, InterruptedItEndsLikeAfterQuit) {
    for (bool failedStart : {false, true}) {
        SCOPED_TRACE(failedStart ? "failed start" : "running");
        const std::string dir = testDir(failedStart ? "program-signal-failed" : "program-signal");
        const std::string script = writeScript(dir, "long.txt", "sleep 3600000\n");
        std::map<std::string, std::string> env;
        if (failedStart) env["VELURA_HOME"] = dir + "/nothing/";
        pid_t pid = start({VELURA_BINARY, "--headless", "--script", script}, dir, env);
        const auto limit = std::chrono::steady_clock::now() + std::chrono::minutes(1);
        auto ready = [&] {
            return failedStart
                       ? readFile(dir + "/stderr.txt").find("msgbox: Serious Error") != std::string::npos
                       : hasThread(pid, "Velura script");
        };
        while (!ready() && std::chrono::steady_clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        kill(pid, SIGTERM);
        Outcome r = finish(pid, dir);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.err.find(kQuitQuestion), std::string::npos) << r.err;
        EXPECT_EQ(readFile(dir + "/user/Data/Prefs/VeluraPrefs.TalStr").empty(), failedStart);
    }
}

size_t count(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) n++;
    return n;
}

// The start window's close asks the quit question: Cancel keeps the program running, OK ends it, and the
// preferences are written on the way out.
TEST(Program, HeadlessMessageBox) {
    const std::string dir = testDir("program-quit");
    const std::string script =
        writeScript(dir, "quit.txt", "wait\nscreenshot start.ppm\nanswer 0   # Cancel first\nquit\n");
    Outcome r = run({VELURA_BINARY, "--headless", "--script", script}, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(count(r.err, kQuitQuestion), 2u) << r.err;

    // The start window: its three buttons at the top, the start picture below them.
    Ppm shot;
    ASSERT_TRUE(readPpm(dir + "/start.ppm", &shot));
    for (int y : {40, 63, 86}) EXPECT_EQ(shot.at(10, y), kButtonFace) << y;
    for (int y : {51, 150, 250}) EXPECT_NE(shot.at(10, y), kButtonFace) << y;

    const std::string prefs = readFile(dir + "/user/Data/Prefs/VeluraPrefs.TalStr");
    EXPECT_EQ(prefs.rfind("VeluraPrefs\n{\n\tTal_SetInterpolatedDisplayMode,", 0), 0u) << prefs;
}

// The menu bar's commands reach the program: Quit asks the quit question, Preferences opens its window
// (a requester, so the menu bar's commands are hidden while it is open). What the program cannot do yet
// is greyed, and a script cannot choose it either.
TEST(Program, MenuCommandsReachTheProgramAndWhatCannotBeDoneIsGreyed) {
    const std::string dir = testDir("program-menus");
    const std::string script = writeScript(dir, "menus.txt",
                                           "wait\nscreenshot start.ppm\n"
                                           "answer 0\nmenu 69\nwait\n"
                                           "menu 67\nwait\nscreenshot prefs.ppm\nquit\n");
    Outcome r = run({VELURA_BINARY, "--headless", "--script", script}, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(count(r.err, kQuitQuestion), 2u) << r.err; // menu 69 (Cancel), then quit
    // The menu bar (the bottom 26 rows): "File" in black at the start, nothing while Preferences is open.
    auto blackInBar = [](const Ppm& shot) {
        int n = 0;
        for (int y = shot.height - 24; y < shot.height - 2; y++)
            for (int x = 0; x < 60; x++) n += shot.at(x, y) == "0,0,0";
        return n;
    };
    Ppm start, prefs;
    ASSERT_TRUE(readPpm(dir + "/start.ppm", &start));
    ASSERT_TRUE(readPpm(dir + "/prefs.ppm", &prefs));
    EXPECT_GT(blackInBar(start), 10);
    EXPECT_EQ(blackInBar(prefs), 0);
    EXPECT_NE(start.pixels, prefs.pixels);

    // "Save" is not part of the program yet: greyed.
    const std::string greyed = writeScript(dir, "greyed.txt", "menu 52\nquit\n");
    r = run({VELURA_BINARY, "--headless", "--script", greyed}, dir);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("menu 52: the command is greyed"), std::string::npos) << r.err;
}

// Close requests made while the quit question is open are answered by it: no second question follows.
TEST(Program, ASecondCloseRequestDoesNotStackAnotherQuitQuestion) {
    const std::string dir = testDir("program-quit-twice");
    // Two quit commands, the first question answered Cancel (Escape): without stacking, the program runs
    // on with no question open; "answer 0" and "quit" then ask twice more (Cancel, then OK): three in all.
    const std::string script = writeScript(dir, "quit.txt",
                                           "menu 69\nsleep 300\nmenu 69\nsleep 300\nkey Escape\nwait\n"
                                           "answer 0\nquit\n");
    Outcome r = run({VELURA_BINARY, "--headless", "--script", script}, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(count(r.err, kQuitQuestion), 3u) << r.err;
}

// A setting in the preferences file is what the next start has; the first start took the redraw mode
// from the device.
TEST(Program, PreferencesComeBackAtTheNextStart) {
    const std::string dir = testDir("program-prefs");
    const std::string script = writeScript(dir, "quit.txt", "quit\n");
    const std::string file = dir + "/user/Data/Prefs/VeluraPrefs.TalStr";
    Outcome r = run({VELURA_BINARY, "--headless", "--script", script}, dir,
                    {{"VELURA_OEM_INFO", "Compaq iPAQ H3600"}});
    ASSERT_EQ(r.code, 0) << r.err;
    std::string prefs = readFile(file);
    EXPECT_NE(prefs.find("\tTal_SetRedrawMode,\t\t\t5,\n"), std::string::npos) << prefs;
    const std::string off = "\tTal_SetInterpolatedDisplayMode,\t\t\t0,\n";
    const size_t at = prefs.find(off);
    ASSERT_NE(at, std::string::npos) << prefs;
    prefs.replace(at, off.size(), "\tTal_SetInterpolatedDisplayMode,\t\t\t1,\n");
    std::ofstream(file) << prefs;

    r = run({VELURA_BINARY, "--headless", "--script", script}, dir, {{"VELURA_OEM_INFO", "Linux"}});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(file), prefs);
}

// Pipes as its files never make it wait: the preferences, the picture to open and the catalogue are each
// refused at once with a line that names them, and a stop while it starts ends it.
TEST(Program, PipesAsItsFilesAreRefusedAtOnce) {
    const std::string dir = testDir("program-pipes");
    const std::string prefs = dir + "/user/Data/Prefs/VeluraPrefs.TalStr";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "/user/Data/Prefs'").c_str()), 0);
    ASSERT_EQ(mkfifo(prefs.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo((dir + "/pipe.jpg").c_str(), 0600), 0);
    const std::string script = writeScript(dir, "quit.txt", "wait\nquit\n");
    Outcome r = run({VELURA_BINARY, "--headless", "--script", script, "pipe.jpg"}, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("velura: " + prefs + " is not a regular file: the default preferences are used\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("msgbox: File Error | pipe.jpg The file could not be opened.\n"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("could not be saved to " + prefs + ": Not a regular file\n"), std::string::npos)
        << r.err;
    struct stat st {};
    ASSERT_EQ(stat(prefs.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    ASSERT_EQ(std::system(("mkdir -p '" + dir + "/user/Data/Lingua'").c_str()), 0);
    const std::string catalogue = dir + "/user/Data/Lingua/Velura.etf";
    ASSERT_EQ(mkfifo(catalogue.c_str(), 0600), 0);
    r = run({VELURA_BINARY, "--headless", "--script", script}, dir);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("velura: " + catalogue + " is not a regular file\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("msgbox: Serious Error | Cant open language file"), std::string::npos) << r.err;

    // Stopped while it starts (the catalogue's message box may be up or not yet), it ends.
    const pid_t pid = start(
        {VELURA_BINARY, "--headless", "--script", writeScript(dir, "long.txt", "sleep 3600000\n")}, dir);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    kill(pid, SIGTERM);
    r = finish(pid, dir);
    EXPECT_TRUE(r.code == 0 || r.code == 1) << r.code << r.err;
}

// A file size limit never kills the program: the preferences store fails saying why, the old file stays,
// and nothing half-written is left. Half-written files of a copy that was killed go at the next start.
TEST(Program, AFileSizeLimitFailsTheStoreAndNothingElse) {
    const std::string dir = testDir("program-fsize");
    const std::string prefs = dir + "/user/Data/Prefs/VeluraPrefs.TalStr";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "/user/Data/Prefs'").c_str()), 0);
    const std::string old = "VeluraPrefs\n{\n\tTal_SetLoadPath,\t\t\t/" + std::string(250, 'p') + ",\n}\n";
    std::ofstream(prefs) << old;
    const pid_t gone = fork(); // a process id that is free: a child that has been waited for
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    const std::string stale = dir + "/user/Data/Prefs/.velura-save-" + std::to_string(gone) + "-AbC123";
    std::ofstream(stale) << "half a file";

    const std::string script = writeScript(dir, "quit.txt", "quit\n");
    Outcome r = finish(start({VELURA_BINARY, "--headless", "--script", script}, dir, {}, 600), dir);
    EXPECT_EQ(r.code, 0) << r.err; // not 128 + SIGXFSZ
    EXPECT_NE(r.err.find("velura: the preferences could not be saved to " + prefs + ": File too large\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(prefs), old);
    EXPECT_EQ(capture("ls -A '" + dir + "/user/Data/Prefs'"), "VeluraPrefs.TalStr\n");
}

// Without its catalogue the program says so and ends, with code 0, without opening its start window.
TEST(Program, WithoutItsCatalogueItSaysSoAndEnds) {
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged" : "missing");
        const std::string dir = testDir(damaged ? "program-damaged" : "program-missing");
        std::map<std::string, std::string> env;
        if (damaged) {
            ASSERT_EQ(std::system(("mkdir -p '" + dir + "/user/Data/Lingua'").c_str()), 0);
            std::ofstream(dir + "/user/Data/Lingua/Velura.etf") << "Velura.etf but not a catalogue";
        } else {
            ASSERT_EQ(std::system(("mkdir -p '" + dir + "/empty'").c_str()), 0);
            env["VELURA_HOME"] = dir + "/empty/";
        }
        const std::string script = writeScript(dir, "fail.txt", "wait\nscreenshot fail.ppm\nkey Return\n");
        Outcome r = run({VELURA_BINARY, "--headless", "--script", script}, dir, env);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.err.find("msgbox: Serious Error | Cant open language file Data\\Lingua\\Velura.etf\n"),
                  std::string::npos)
            << r.err;
        EXPECT_EQ(r.err.find(kQuitQuestion), std::string::npos) << r.err;
        Ppm shot;
        ASSERT_TRUE(readPpm(dir + "/fail.ppm", &shot));
        EXPECT_NE(shot.at(10, 40), kButtonFace);
        EXPECT_EQ(readFile(dir + "/user/Data/Prefs/VeluraPrefs.TalStr"), "");
    }
}

// A plasma picture made by ImageMagick as a 24-bit BMP, and netpbm's reading of it. False when the tools are
// missing.
bool makePlasma(const std::string& dir, int width, int height, Ppm* asRead) {
    if (!haveImageMagick() || std::system("command -v bmptopnm >/dev/null 2>&1") != 0) return false;
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    return std::system(
               ("cd '" + dir + "' && convert -seed 7 -size " + size +
                " plasma: -type TrueColor BMP3:plasma.bmp && bmptopnm plasma.bmp > plasma.ppm 2>/dev/null")
                   .c_str()) == 0 &&
           readPpm(dir + "/plasma.ppm", asRead);
}

// Whether a picture shows somewhere in a screenshot exactly, each of its pixels as zoom x zoom pixels.
bool showsPicture(const Ppm& shot, const Ppm& picture, int zoom) {
    auto same = [&](int x, int y, int px, int py) {
        for (int dy = 0; dy < zoom; dy++)
            for (int dx = 0; dx < zoom; dx++)
                if (shot.pixels.compare(size_t((y + py * zoom + dy) * shot.width + x + px * zoom + dx) * 3, 3,
                                        picture.pixels, size_t(py * picture.width + px) * 3, 3) != 0)
                    return false;
        return true;
    };
    for (int y = 0; y + picture.height * zoom <= shot.height; y++)
        for (int x = 0; x + picture.width * zoom <= shot.width; x++) {
            if (!same(x, y, 0, 0) || !same(x, y, picture.width - 1, picture.height - 1)) continue;
            bool all = true;
            for (int py = 0; py < picture.height && all; py++)
                for (int px = 0; px < picture.width && all; px++) all = same(x, y, px, py);
            if (all) return true;
        }
    return false;
}

// A picture named on the command line opens in its image window at 100%, pixel for pixel as netpbm reads
// the file.
TEST(Program, APictureGivenAtStartShowsInItsWindow) {
    const std::string dir = testDir("program-picture");
    Ppm picture;
    if (!makePlasma(dir, 97, 61, &picture)) GTEST_SKIP() << "ImageMagick or netpbm is not installed";
    // The opening takes the image thread a moment: "wait" between each step of it.
    const std::string script =
        writeScript(dir, "open.txt", "wait\nsleep 800\nwait\nsleep 800\nwait\nscreenshot shot.ppm\nquit\n");
    Outcome r = run({VELURA_BINARY, "--headless", "--script", script, dir + "/plasma.bmp"}, dir);
    ASSERT_EQ(r.code, 0) << r.err;
    Ppm shot;
    ASSERT_TRUE(readPpm(dir + "/shot.ppm", &shot));
    EXPECT_TRUE(showsPicture(shot, picture, 1));
}

// The same in the SDL window on an X display: the screen grab shows the picture at the window's zoom.
TEST(Program, APictureShowsInTheSdlWindow) {
    using namespace virtual_display;
    if (!onPath("Xvfb") || !onPath("import")) GTEST_SKIP() << "Xvfb or ImageMagick is not installed";
    const std::string dir = testDir("program-picture-sdl");
    Ppm picture;
    if (!makePlasma(dir, 97, 61, &picture)) GTEST_SKIP() << "ImageMagick or netpbm is not installed";
    VirtualDisplay xvfb;
    const std::string why = xvfb.start();
    ASSERT_TRUE(why.empty()) << why;
    const pid_t pid = start({VELURA_BINARY, dir + "/plasma.bmp"}, dir,
                            {{"DISPLAY", xvfb.name()}, {"WAYLAND_DISPLAY", ""}, {"VELURA_HEADLESS", ""}});
    bool shown = false;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!shown && std::chrono::steady_clock::now() < limit) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const std::string grab = dir + "/grab.ppm";
        if (std::system(
                ("DISPLAY=" + xvfb.name() + " import -window root -depth 8 ppm:'" + grab + "' 2>/dev/null")
                    .c_str()) != 0)
            continue;
        Ppm shot;
        shown = readPpm(grab, &shot) && showsPicture(shot, picture, 2);
    }
    kill(pid, SIGTERM);
    Outcome r = finish(pid, dir);
    EXPECT_TRUE(shown) << r.err;
    EXPECT_EQ(r.code, 0) << r.err;
}

} // namespace

namespace {

// Opening and saving through the file requester, as a user would: the folder in the tree, a thumbnail,
// Ok; then Save As with a typed name. The picture saved is the one opened, pixel for pixel.
TEST(Program, OpensAndSavesPicturesChosenInTheFileRequester) {
    const std::string dir = testDir("program-requester");
    const std::string home = dir + "/home";
    ASSERT_EQ(
        std::system(("mkdir -p '" + home + "/pics' && convert -size 200x100 gradient:red-blue '" + home +
                     "/pics/photo.bmp' && convert -size 64x48 xc:green '" + home + "/pics/green.jpg'")
                        .c_str()),
        0);
    const std::map<std::string, std::string> env = {{"HOME", home}, {"XDG_CACHE_HOME", dir + "/cache"}};
    // Coordinates: "Open an Existing Image" (120, 63); in the requester the folder "pics" (65, 66), the
    // second picture's row (120, 175), the name field (150, 265), Ok (55, 283) and Cancel (173, 283).
    const std::string open = "wait\ntap 120 63\nsleep 1500\nwait\ntap 65 66\nwait\ntap 120 175\nwait\n";
    // Cancel opens nothing: Save As stays greyed.
    const std::string cancelled = writeScript(
        dir, "cancel.txt", open + "tap 173 283\nsleep 500\nwait\nscreenshot cancelled.ppm\nmenu 53\n");
    Outcome r = run({VELURA_BINARY, "--headless", "--script", cancelled}, dir, env);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find("menu 53: the command is greyed"), std::string::npos) << r.err;

    std::string save = open +
                       "screenshot chosen.ppm\ntap 55 283\nsleep 1500\nwait\nmenu 53\nsleep 1500\nwait\n"
                       "tap 150 265\nsleep 300\nwait\nkey End\n";
    for (int i = 0; i < 9; i++) save += "key BackSpace\n"; // "photo.bmp"
    save += "text copy.png\nkey Return\nwait\nscreenshot typed.ppm\ntap 55 283\nsleep 1000\nwait\nquit\n";
    r = run({VELURA_BINARY, "--headless", "--script", writeScript(dir, "save.txt", save)}, dir, env);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(capture("identify -format '%m %wx%h' '" + home + "/pics/copy.png'"), "PNG 200x100");
    EXPECT_EQ(
        capture("compare -metric AE '" + home + "/pics/copy.png' '" + home + "/pics/photo.bmp' null: 2>&1"),
        "0");
    // The requester showed the pictures with their thumbnails, and the typed name.
    Ppm chosen, typed;
    ASSERT_TRUE(readPpm(dir + "/chosen.ppm", &chosen));
    ASSERT_TRUE(readPpm(dir + "/typed.ppm", &typed));
    int red = 0, green = 0, blue = 0; // the green picture's thumbnail (a JPEG: nearly green)
    std::sscanf(chosen.at(20, 26 + 120).c_str(), "%d,%d,%d", &red, &green, &blue);
    EXPECT_TRUE(red < 16 && green > 112 && blue < 16) << chosen.at(20, 26 + 120);
    EXPECT_NE(chosen.pixels, typed.pixels);
    // The thumbnails were kept.
    EXPECT_EQ(capture("ls '" + dir + "/cache/velura/ImageDatabase/1'"), "_Entries\ngreen.jpg\nphoto.bmp\n");
}

} // namespace
