// Windows driven by script lines, as the program's --script drives it: the fixture of the gallery
// tests, with their notification recorder and screenshots (written below VELURA_TEST_TMP/gallery, with
// zoom-2 copies as the SDL window shows them) that are there to be looked at.
#pragma once

#include "ui/ui.h"
#include "app/script.h"
#include "host/display.h"
#include "host/intuition.h"
#include "support/TalTest.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace scripted {

inline std::string tmpFile(const std::string& name) {
    const char* base = std::getenv("VELURA_TEST_TMP");
    const std::filesystem::path dir = std::filesystem::path(base ? base : "/tmp") / "gallery";
    std::filesystem::create_directories(dir);
    return (dir / name).string();
}

inline const Tal_Box& boxOf(ULONG object) {
    return *reinterpret_cast<Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
}

// Notifications of attributes, in order.
class Heard {
  public:
    void watch(ULONG object, ULONG attribute) {
        Tal_AddCallBackNotify(object, attribute, TAL_AnyValue, hear, Tal_Word(this));
    }
    std::vector<LONG> values(ULONG attribute) {
        std::lock_guard lock(mutex_);
        std::vector<LONG> out;
        for (auto [a, v] : heard_)
            if (a == attribute) out.push_back(v);
        return out;
    }

  private:
    static Tal_Word hear(Tal_Word user, ULONG, ULONG trigger, const Tal_Word* args) {
        auto* self = reinterpret_cast<Heard*>(user);
        std::lock_guard lock(self->mutex_);
        self->heard_.emplace_back(trigger, LONG(int32_t(args[0])));
        return 0;
    }
    std::mutex mutex_;
    std::vector<std::pair<ULONG, LONG>> heard_;
};

class Scripted : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    void TearDown() override {
        if (window) Tal_DisposeObject(window);
        settle();
        TalFixture::TearDown();
    }
    // Runs script lines as the program's --script runs them; every line ends with the program idle.
    void run(const std::string& text) {
        std::vector<ScriptCommand> commands;
        std::istringstream lines(text);
        std::string line, error;
        for (int number = 1; std::getline(lines, line); number++) {
            ScriptCommand c;
            const int parsed = app_ParseScriptLine(line, &c, &error);
            ASSERT_GE(parsed, 0) << line << ": " << error;
            if (!parsed) continue;
            c.line = number;
            commands.push_back(c);
            ScriptCommand wait;
            wait.op = ScriptOp::Wait;
            wait.line = number;
            commands.push_back(wait);
        }
        ASSERT_TRUE(app_RunScript("gallery", commands, nullptr, &error)) << error;
    }
    // A point of an object on the logical screen, as script coordinates ("x y"); the middle by default.
    std::string at(ULONG object, LONG dx = -1, LONG dy = -1) const { return at(window, object, dx, dy); }
    static std::string at(ULONG window, ULONG object, LONG dx, LONG dy) {
        const Tal_Box& b = boxOf(object);
        const Window* w = reinterpret_cast<Window*>(Tal_DoMethod(window, TAL_GetHostWindow));
        const host_Rect r = host_GetScreenRect(w->HostWindow);
        return std::to_string(r.x + w->BorderLeft + b.x + (dx < 0 ? b.width / 2 : dx)) + " " +
               std::to_string(r.y + w->BorderTop + b.y + (dy < 0 ? b.height / 2 : dy));
    }
    std::string tap(ULONG object, LONG dx = -1, LONG dy = -1) const {
        return "tap " + at(object, dx, dy) + "\n";
    }
    // Writes the screen as the user sees it at zoom 1, and as the SDL window shows it at zoom 2 (every
    // logical pixel as 2 x 2, which the display test checks against the real window).
    void screenshots(const std::string& name) {
        const std::string one = tmpFile(name + ".bmp");
        run("screenshot " + one);
        const std::string two = tmpFile(name + "-zoom2.png");
        const std::string command =
            "convert '" + one + "' -filter point -scale 200% '" + two + "' 2>/dev/null";
        if (std::system(command.c_str()) == 0) std::printf("gallery: %s\n", two.c_str());
        std::printf("gallery: %s\n", one.c_str());
    }
    ULONG window = 0;
};

} // namespace scripted
