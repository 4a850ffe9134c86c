// Start-up, main loop and shut-down, and the preferences: the application object's loop, the start of
// the image engine with its catalogue and preferences file, the preferences window, the end of image work
// at quit, and the start picture.
#include "ui/App.h"
#include "ui/ui.h"
#include "ui/Button.h"
#include "Tal/Catalogue.h"
#include "app/SplashPicture.h"
#include "ui/Window.h"
#include "app/VeluraPrefs.h"
#include "app/startup.h"
#include "host/display.h"
#include "host/dos.h"
#include "host/msgbox.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

std::string testDir(const char* name) {
    const char* tmp = std::getenv("VELURA_TEST_TMP");
    std::string dir = std::string(tmp ? tmp : "/tmp") + "/" + name + "-" + std::to_string(getpid());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& name, const std::string& text) {
    fs::create_directories(fs::path(name).parent_path());
    std::ofstream(name, std::ios::binary) << text;
}

// Polls a condition; the limit only keeps a broken build from hanging the test run.
bool eventually(const std::function<bool()>& condition) {
    const auto limit = Clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (Clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

void settle() {
    for (int quiet = 0, i = 0; quiet < 4 && i < 4000; i++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        quiet = host_Idle() ? quiet + 1 : 0;
    }
}

RECORDER_CLASS(memberClass, "TMember", 0x7E300000)

std::vector<ULONG> startsAndStops(ULONG recorder) {
    std::vector<ULONG> ids;
    for (const recorder::Call& call : recorder::calls(recorder))
        if (call.id == TAL_Start || call.id == TAL_Stop) ids.push_back(call.id);
    return ids;
}

TEST(AppLoop, OnlyTheQuitRequestEndsIt) {
    Tal_UseInterfaceClasses();
    Tal_Init();
    register_memberClass();
    std::atomic<ULONG> app{0}, member{0};
    std::atomic<Task*> task{nullptr};
    std::atomic<int> loops{0};
    std::atomic<bool> again{false};
    TaskThread loop([&] {
        ULONG a = Tal_CreateObject("App");
        member = Tal_CreateObject("TMember");
        Tal_DoMethod(a, TAL_AddTail, member.load());
        task = FindTask(nullptr);
        app = a;
        Tal_DoMethod(a, TAL_Start);
        loops++;
        while (!again) std::this_thread::sleep_for(std::chrono::milliseconds(1)); // the task stays
        // A quit request that comes before the loop is not lost: the loop ends at once.
        Tal_DoMethod(a, TAL_Stop);
        Tal_DoMethod(a, TAL_Start);
        loops++;
    });
    ASSERT_TRUE(eventually([&] { return app != 0; }));
    // Stray signals: every bit but the break signal, the application's own port among them.
    for (int i = 0; i < 20; i++) {
        Signal(task, ~SIGBREAKF_CTRL_C);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(loops, 0);
    Tal_DoMethod(app, TAL_Stop);
    EXPECT_TRUE(eventually([&] { return loops == 1; }));
    again = true;
    loop.join();
    EXPECT_EQ(loops, 2);
    // The members were started for the loop and stopped after it.
    EXPECT_EQ(startsAndStops(member), (std::vector<ULONG>{TAL_Start, TAL_Stop, TAL_Start, TAL_Stop}));
    Tal_DisposeObject(app); // from another thread than its creator's
    Tal__CleanupClass(&memberClass);
    Tal_CleanUp();
}

class StartUp : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        dir = testDir("startup");
        setenv("VELURA_USER_DIR", (dir + "/user").c_str(), 1);
        unsetenv("VELURA_HOME");
        unsetenv("VELURA_OEM_INFO");
        host__ResetDirectories();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    void TearDown() override {
        for (; engines > 0; engines--) Tal_CleanupImageBase();
        settle();
        host_CleanupWindowSystem();
        unsetenv("VELURA_USER_DIR");
        unsetenv("VELURA_HOME");
        unsetenv("VELURA_OEM_INFO");
        host__ResetDirectories();
        TalFixture::TearDown();
    }
    bool start() {
        if (!Tal_InitImageBase()) return false;
        engines++;
        return true;
    }
    void stop() {
        Tal_CleanupImageBase();
        engines--;
    }
    // A start with this preferences file in the user directory (none: no file).
    void restart(const char* file) {
        if (engines) stop();
        fs::remove(prefsFile());
        if (file) writeFile(prefsFile(), file);
        ASSERT_TRUE(start());
    }
    static ULONG prefs() { return app_PreferencesObject(); }
    static Tal_Word get(ULONG id) { return Tal_DoMethod(prefs(), id); }
    static std::string text(ULONG id) { return reinterpret_cast<const char*>(get(id)); }
    std::string prefsFile() const { return dir + "/user/Data/Prefs/VeluraPrefs.TalStr"; }

    std::string dir;
    int engines = 0;
};

std::vector<std::string> classNames() {
    std::vector<std::string> names;
    SemaphoreGuard guard(&Tal_GetGlobalData()->registryLock);
    for (Tal_Class* cls : ListNodes<Tal_Class>(&Tal_GetGlobalData()->classList)) names.push_back(cls->name);
    return names;
}

bool registered(const char* name) {
    return Tal_FindClassFromName(name) != nullptr;
}

TEST_F(StartUp, TheEngineStartsOnceAndEndsWhatItStarted) {
    ASSERT_TRUE(start());
    Tal_ImageBase* base = Tal_GetImageBase();
    ASSERT_NE(base, nullptr);
    ASSERT_NE(base->image_object, nullptr);
    EXPECT_STREQ(base->product_name, "Velura");
    EXPECT_STRNE(Tal_GetCatalogueText(24), "");
    EXPECT_EQ(Tal_GetObjectClassID(prefs()), 0x03E80004u);
    // The application classes come after the interface classes, the preferences first.
    const std::vector<std::string> names = classNames();
    auto at = [&](const char* name) { return std::find(names.begin(), names.end(), name) - names.begin(); };
    EXPECT_EQ(at("App"), 0);
    EXPECT_LT(at("Screen"), at("VeluraPrefs"));
    EXPECT_LT(at("VeluraPrefs"), at("Image"));
    EXPECT_LT(at("Image"), at("RootTALIO"));
    // The image formats in their order, then PNG beyond them.
    const char* formats[] = {"RootTALIO",    "BMPTALIO",   "JPEGTALIO",      "GIFTALIO",        "ILBMTALIO",
                             "IFFDEEPTALIO", "TARGATALIO", "ClipboardTALIO", "ScreenGrabTALIO", "PNGTALIO"};
    for (size_t i = 0; i + 1 < std::size(formats); i++)
        EXPECT_LT(at(formats[i]), at(formats[i + 1])) << formats[i];
    EXPECT_LT(at("PNGTALIO"), ptrdiff_t(names.size()));
    // The modes between the image and the formats, CloneMode after the formats; a mode registered
    // before its superclass has no superclass pointer.
    EXPECT_LT(at("Image"), at("ColouriseMode"));
    EXPECT_LT(at("Image"), at("Histogram"));
    EXPECT_LT(at("Histogram"), at("ColouriseMode"));
    EXPECT_LT(at("SepiaMode"), at("RootTALIO"));
    EXPECT_LT(at("PNGTALIO"), at("CloneMode"));
    EXPECT_EQ(Tal_FindClassFromName("PaintMode")->superClass, nullptr);
    EXPECT_EQ(Tal_FindClassFromName("SepiaMode")->superClass, Tal_FindClassFromName("ColouriseMode"));
    EXPECT_EQ(Tal_FindClassFromName("CloneMode")->superClass, Tal_FindClassFromName("RootMode"));

    // Nested starts share the engine; the last end takes everything back.
    EXPECT_EQ(Tal_InitImageBase(), base);
    Tal_CleanupImageBase();
    EXPECT_NE(Tal_GetObjectInstance(prefs()), nullptr);
    const ULONG oldPrefs = prefs();
    stop();
    EXPECT_EQ(Tal_GetImageBase(), nullptr);
    EXPECT_EQ(Tal_GetObjectInstance(oldPrefs), nullptr);
    EXPECT_FALSE(registered("VeluraPrefs"));
    EXPECT_FALSE(registered("Image"));
    EXPECT_STREQ(Tal_GetCatalogueText(24), "");
    EXPECT_TRUE(registered("Window")); // the object system stays up for its own user

    // Without a readable catalogue the start stops with its message and leaves nothing behind.
    for (const char* damaged : {(const char*)nullptr, "not a catalogue at all"}) {
        SCOPED_TRACE(damaged ? "damaged" : "missing");
        if (damaged) {
            writeFile(dir + "/user/Data/Lingua/Velura.etf", damaged);
        } else {
            setenv("VELURA_HOME", (dir + "/empty/").c_str(), 1);
            fs::create_directories(dir + "/empty");
        }
        host__ResetDirectories();
        host_QueueMessageBoxAnswer(1);
        testing::internal::CaptureStderr();
        EXPECT_EQ(Tal_InitImageBase(), nullptr);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("msgbox: Serious Error | Cant open language file Data\\Lingua\\Velura.etf"),
                  std::string::npos)
            << said;
        EXPECT_EQ(Tal_GetImageBase(), nullptr);
        EXPECT_FALSE(registered("VeluraPrefs"));
        unsetenv("VELURA_HOME");
        fs::remove_all(dir + "/user/Data/Lingua");
    }
}

// The lines of a stored object: the method names before the first comma, braces as they are.
std::vector<std::string> storedNames(const std::string& text) {
    std::vector<std::string> names;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && (line[0] == '\t' || line[0] == ' ')) line.erase(0, 1);
        names.push_back(line.substr(0, line.find(',')));
    }
    return names;
}

TEST_F(StartUp, ThePreferencesFileHoldsEverySettingInOrderAndBringsItBack) {
    restart(nullptr);
    const ULONG p = prefs();
    Tal_DoMethod(p, TAL_SetInterpolatedDisplayMode, 1);
    Tal_DoMethod(p, TAL_SetAreYouSurePrefs, 0);
    Tal_DoMethod(p, TAL_SetCreateBackupsPrefs, 1);
    Tal_DoMethod(p, TAL_SetFileRequesterTypePrefs, 1);
    Tal_DoMethod(p, TAL_SetGlobalColourRGB, 0x00332211);
    Tal_DoMethod(p, TAL_SetMaxUndoRedoSize, 7);
    Tal_DoMethod(p, TAL_SetUseSameLoadSavePathPrefs, 1);
    Tal_DoMethod(p, TAL_SetLoadPath, "/pictures/a \"b\", c.jpg");
    Tal_DoMethod(p, TAL_SetRedrawMode, 3);
    app_StorePreferences();

    const std::vector<std::string> expected = {"VeluraPrefs",
                                               "{",
                                               "Tal_SetInterpolatedDisplayMode",
                                               "Tal_SetAreYouSurePrefs",
                                               "Tal_SetCreateBackupsPrefs",
                                               "Tal_SetFileRequesterTypePrefs",
                                               "Tal_SetGlobalColourRGB",
                                               "Tal_SetGlobalImageMediaName",
                                               "Tal_SetMaxUndoRedoSize",
                                               "Tal_SetUseSameLoadSavePathPrefs",
                                               "Tal_SetSavePath",
                                               "Tal_SetLoadPath",
                                               "Tal_SetRedrawMode"};
    const std::string stored = readFile(prefsFile());
    std::vector<std::string> names = storedNames(stored);
    ASSERT_GE(names.size(), expected.size()) << stored;
    names.resize(expected.size());
    EXPECT_EQ(names, expected) << stored;
    EXPECT_EQ(storedNames(stored).back(), "}");

    // The next start has them all, the three without a check box too.
    stop();
    ASSERT_TRUE(start());
    EXPECT_EQ(get(TAL_GetInterpolatedDisplayMode), 1u);
    EXPECT_EQ(get(TAL_GetAreYouSurePrefs), 0u);
    EXPECT_EQ(Tal_GetImageBase()->are_you_sure, 0);
    EXPECT_EQ(get(TAL_GetCreateBackupsPrefs), 1u);
    EXPECT_EQ(get(TAL_GetFileRequesterTypePrefs), 1u);
    EXPECT_EQ(get(TAL_GetGlobalColourRGB), 0x00332211u);
    EXPECT_EQ(get(TAL_GetMaxUndoRedoSize), 7u);
    EXPECT_EQ(get(TAL_GetUseSameLoadSavePathPrefs), 1u);
    EXPECT_EQ(text(TAL_GetLoadPath), "/pictures/a \"b\", c.jpg");
    EXPECT_EQ(text(TAL_GetSavePath), "/pictures/a \"b\", c.jpg");
    EXPECT_EQ(get(TAL_GetRedrawMode), 3u);

    // A file with nothing in it, a missing file, and files that are not preferences: the defaults.
    const Tal_Word defaultColour = [&] {
        restart("VeluraPrefs\n{\n}\n");
        return get(TAL_GetGlobalColourRGB);
    }();
    for (const char* file : {"VeluraPrefs\n{\n}\n", (const char*)nullptr, "\x01\x02\xff garbage {{ ,,\n", "",
                             "Window\n{\n\tTal_SetWindowX,\t\t\t5,\n}\n"}) {
        SCOPED_TRACE(file ? file : "(no file)");
        restart(file);
        ASSERT_EQ(Tal_GetObjectClassID(prefs()), 0x03E80004u);
        EXPECT_EQ(get(TAL_GetInterpolatedDisplayMode), 0u);
        EXPECT_EQ(get(TAL_GetAreYouSurePrefs), 1u);
        EXPECT_EQ(get(TAL_GetCreateBackupsPrefs), 0u);
        EXPECT_EQ(get(TAL_GetFileRequesterTypePrefs), 0u);
        EXPECT_EQ(get(TAL_GetGlobalColourRGB), defaultColour);
        EXPECT_EQ(get(TAL_GetMaxUndoRedoSize), 1u);
        EXPECT_EQ(get(TAL_GetUseSameLoadSavePathPrefs), 0u);
        EXPECT_EQ(text(TAL_GetLoadPath), "");
        EXPECT_EQ(text(TAL_GetSavePath), "");
        EXPECT_EQ(get(TAL_GetRedrawMode), 0u);
    }
}

// A preferences file that gives no preferences is moved aside with one line on the terminal before the
// defaults are used (nothing of it applied); a name that is not a regular file is never read, and a store
// to it fails saying why, leaving it as it was.
TEST_F(StartUp, DamagedPreferencesAreMovedAsideAndSaidSo) {
    std::string deep = "VeluraPrefs\n{\n\tTal_SetRedrawMode,\t\t\t5,\n";
    for (int i = 0; i < 20000; i++) deep += "Group\n{\n";
    for (const std::string& file :
         {std::string("\x01\x02\xff garbage {{ ,,\n"), std::string("Window\n{\n}\n"), deep}) {
        SCOPED_TRACE(file.substr(0, 20));
        if (engines) stop();
        writeFile(prefsFile(), file);
        testing::internal::CaptureStderr();
        ASSERT_TRUE(start());
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said, "velura: the preferences in " + prefsFile() + " are damaged: moved to " +
                            prefsFile() + ".bad, the defaults are used\n");
        EXPECT_EQ(readFile(prefsFile() + ".bad"), file);
        EXPECT_FALSE(fs::exists(prefsFile()));
        EXPECT_EQ(get(TAL_GetRedrawMode), 0u);
    }

    stop();
    fs::remove(prefsFile());
    ASSERT_EQ(mkfifo(prefsFile().c_str(), 0600), 0);
    testing::internal::CaptureStderr();
    ASSERT_TRUE(start());
    std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "velura: " + prefsFile() + " is not a regular file: the default preferences are used\n");
    testing::internal::CaptureStderr();
    Tal_DoMethod(prefs(), TAL_StorePrefs);
    said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("could not be saved to " + prefsFile() + ": Not a regular file"), std::string::npos)
        << said;
    EXPECT_TRUE(fs::is_fifo(prefsFile()));
    fs::remove(prefsFile());
}

// A value out of its range takes that setting's default; the other settings of the file stay.
TEST_F(StartUp, ASettingOutOfRangeTakesItsDefaultAlone) {
    restart("VeluraPrefs\n{\n}\n");
    const Tal_Word defaultColour = get(TAL_GetGlobalColourRGB);
    auto box = [] {
        return std::vector<LONG>{
            LONG(Tal_DoMethod(prefs(), TAL_GetWindowX)), LONG(Tal_DoMethod(prefs(), TAL_GetWindowY)),
            LONG(Tal_DoMethod(prefs(), TAL_GetWindowW)), LONG(Tal_DoMethod(prefs(), TAL_GetWindowH))};
    };
    const std::vector<LONG> defaultBox = box();
    auto file = [](const char* colour, const char* undo, const char* redraw, const char* x, const char* y) {
        return std::string("VeluraPrefs\n{\n\tTal_SetInterpolatedDisplayMode,\t\t\t1,\n") +
               "\tTal_SetGlobalColourRGB,\t\t\t" + colour + ",\n\tTal_SetMaxUndoRedoSize,\t\t\t" + undo +
               ",\n\tTal_SetLoadPath,\t\t\t/kept,\n\tTal_SetRedrawMode,\t\t\t" + redraw +
               ",\n\tTal_SetWindowX,\t\t\t" + x + ",\n\tTal_SetWindowY,\t\t\t" + y +
               ",\n\tTal_SetWindowW,\t\t\t200,\n\tTal_SetWindowH,\t\t\t200,\n}\n";
    };
    restart(file("green", "-4", "4294967301", "500", "10").c_str()); // 2^32 + 5
    EXPECT_EQ(get(TAL_GetInterpolatedDisplayMode), 1u);
    EXPECT_EQ(text(TAL_GetLoadPath), "/kept");
    EXPECT_EQ(get(TAL_GetGlobalColourRGB), defaultColour);
    EXPECT_EQ(get(TAL_GetMaxUndoRedoSize), 1u);
    EXPECT_EQ(get(TAL_GetRedrawMode), 0u);
    EXPECT_EQ(box(), defaultBox);
    EXPECT_FALSE(fs::exists(prefsFile() + ".bad"));

    // The same lines in range are taken.
    restart(file("123456", "7", "5", "10", "20").c_str());
    EXPECT_EQ(get(TAL_GetGlobalColourRGB), 0x123456u);
    EXPECT_EQ(get(TAL_GetMaxUndoRedoSize), 7u);
    EXPECT_EQ(get(TAL_GetRedrawMode), 5u);
    EXPECT_EQ(box(), (std::vector<LONG>{10, 20, 200, 200}));
}

TEST_F(StartUp, AFailedStoreKeepsTheOldFileAndSaysSoOnTheTerminal) {
    restart("VeluraPrefs\n{\n\tTal_SetRedrawMode,\t\t\t5,\n}\n");
    const std::string before = readFile(prefsFile());
    Tal_DoMethod(prefs(), TAL_SetRedrawMode, 0);
    host_FailNextSafeSave();
    testing::internal::CaptureStderr();
    EXPECT_EQ(Tal_DoMethod(prefs(), TAL_StorePrefs), 0u);
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("velura: the preferences could not be saved to"), std::string::npos) << said;
    EXPECT_EQ(readFile(prefsFile()), before);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(fs::path(prefsFile()).parent_path()), fs::directory_iterator{}),
        1);
}

TEST_F(StartUp, TheRedrawModeFollowsTheDeviceOrTheArgument) {
    ASSERT_TRUE(start());
    struct Case {
        const char* device; // none: not set
        LONG argument;
        LONG mode;
        LONG applied; // what OK makes of the 12-bit check box afterwards
    };
    for (Case c :
         {Case{"Compaq iPAQ H3600", 9999, 5, 5}, Case{"HP Jornada 720", 9999, 5, 5},
          Case{"Linux", 9999, 0, 0}, Case{nullptr, 9999, 0, 0}, Case{"Compaq iPAQ H3600 (B)", 9999, 0, 0},
          Case{"Linux", 3, 3, 5}, Case{"Compaq iPAQ H3600", 0, 0, 0}}) {
        SCOPED_TRACE(std::string(c.device ? c.device : "(unset)") + " " + std::to_string(c.argument));
        if (c.device)
            setenv("VELURA_OEM_INFO", c.device, 1);
        else
            unsetenv("VELURA_OEM_INFO");
        EXPECT_EQ(LONG(Tal_DoMethod(prefs(), TAL_SetRedrawMode, c.argument)), c.mode);
        EXPECT_EQ(LONG(get(TAL_GetRedrawMode)), c.mode);
        // The window's OK (its "ended positively" event) applies the check boxes.
        Tal__VeluraPrefsCallBack(prefs(), prefs(), TAL_WindowToFront, nullptr);
        EXPECT_EQ(LONG(get(TAL_GetRedrawMode)), c.applied);
    }
}

TEST_F(StartUp, PathsAreKeptWholeOrRefused) {
    ASSERT_TRUE(start());
    const ULONG p = prefs();
    Tal_DoMethod(p, TAL_SetLoadPath, "/in/a.jpg");
    Tal_DoMethod(p, TAL_SetSavePath, "/out/b.jpg");
    EXPECT_EQ(text(TAL_GetLoadPath), "/in/a.jpg");
    EXPECT_EQ(text(TAL_GetSavePath), "/out/b.jpg");
    // With the same path for both, a load path is the save path too, never the other way round.
    Tal_DoMethod(p, TAL_SetUseSameLoadSavePathPrefs, 1);
    Tal_DoMethod(p, TAL_SetLoadPath, "/in/c.jpg");
    EXPECT_EQ(text(TAL_GetSavePath), "/in/c.jpg");
    Tal_DoMethod(p, TAL_SetSavePath, "/out/d.jpg");
    EXPECT_EQ(text(TAL_GetLoadPath), "/in/c.jpg");
    // 259 characters fit; one more is refused and the old path stays.
    const std::string longest = "/" + std::string(258, 'x');
    EXPECT_NE(Tal_DoMethod(p, TAL_SetLoadPath, longest.c_str()), 0u);
    EXPECT_EQ(text(TAL_GetLoadPath), longest);
    EXPECT_EQ(Tal_DoMethod(p, TAL_SetLoadPath, (longest + "y").c_str()), 0u);
    EXPECT_EQ(Tal_DoMethod(p, TAL_SetSavePath, (longest + "y").c_str()), 0u);
    EXPECT_EQ(text(TAL_GetLoadPath), longest);
    EXPECT_EQ(text(TAL_GetSavePath), longest);
}

ULONG member(ULONG container, int index) {
    ULONG m = ULONG(Tal_DoMethod(container, TAL_GetFirstGroupObject));
    while (index-- > 0 && m) m = ULONG(Tal_DoMethod(container, TAL_GetNextGroupObject, m));
    return m;
}

// A tap in the middle of an object of an open window.
void tap(ULONG window, ULONG object) {
    auto* host = reinterpret_cast<Window*>(Tal_DoMethod(window, TAL_GetHostWindow));
    ASSERT_NE(host, nullptr);
    const Tal_Box& box = Tal__GetRootInstance(object)->box;
    const host_Rect at = host_GetScreenRect(host->HostWindow);
    const LONG x = at.x + host->BorderLeft + box.x + box.width / 2;
    const LONG y = at.y + host->BorderTop + box.y + box.height / 2;
    host_InjectMouseMove(x, y);
    host_InjectButton(0, true, x, y);
    host_InjectButton(0, false, x, y);
    settle();
}

TEST_F(StartUp, ThePreferencesWindowAppliesOnlyWithOk) {
    ASSERT_TRUE(start());
    const ULONG p = prefs();
    const ULONG screen = Tal_CreateObject("Screen");
    Tal_DoMethod(screen, TAL_AddTail, p);
    Tal_DoMethod(screen, TAL_Start);
    settle();
    auto open = [&] { return Tal_DoMethod(p, TAL_GetHostWindow) != 0; };
    EXPECT_FALSE(open()); // closed until it is asked for

    const ULONG boxes = member(p, 0);
    const ULONG twelveBit = member(boxes, 0), interpolated = member(boxes, 1);
    auto isChecked = [](ULONG box) { return Tal_DoMethod(box, TAL_GetChecked) != 0; };

    // Changed, then closed in another way than with OK: nothing changes, the boxes show the settings again.
    Tal_DoMethod(p, TAL_OpenWindow);
    settle();
    ASSERT_TRUE(open());
    // The tap goes to a box's button (its mark and label), not to the room beside it.
    tap(p, member(twelveBit, 0));
    tap(p, member(interpolated, 0));
    EXPECT_TRUE(isChecked(twelveBit));
    EXPECT_TRUE(isChecked(interpolated));
    Tal_DoMethod(p, TAL_EndRequester, 0);
    settle();
    EXPECT_FALSE(open());
    EXPECT_EQ(get(TAL_GetRedrawMode), 0u);
    EXPECT_EQ(get(TAL_GetInterpolatedDisplayMode), 0u);
    EXPECT_FALSE(isChecked(twelveBit));
    EXPECT_FALSE(isChecked(interpolated));

    // Changed, then OK: the settings follow the boxes, and the window closes.
    Tal_DoMethod(p, TAL_OpenWindow);
    settle();
    ASSERT_TRUE(open());
    tap(p, member(twelveBit, 0));
    const ULONG okRow = ULONG(Tal_DoMethod(p, TAL_GetLastGroupObject));
    tap(p, ULONG(Tal_DoMethod(okRow, TAL_GetLastGroupObject)));
    EXPECT_FALSE(open());
    EXPECT_EQ(get(TAL_GetRedrawMode), ULONG(TAL_REDRAW_12BIT));
    EXPECT_EQ(get(TAL_GetInterpolatedDisplayMode), 0u);

    Tal_DoMethod(screen, TAL_RemoveMember, p);
    Tal_DisposeObject(screen);
}

// A stand-in for a long save on an image thread: writes a file through the safe save, slowly.
Tal_Class saverClass;
constexpr ULONG kSlowSave = 0x7E31000A, kQuickSave = 0x7E310014;
constexpr size_t kChunk = 4096, kChunks = 50;
std::atomic<int> savesStarted{0};

Tal_Word saverDispatch(void* instance, ULONG id, const Tal_Word* args) {
    if (id != kSlowSave && id != kQuickSave)
        return Tal_DoMethodA(static_cast<Tal_Object*>(instance)->superObject, id, args);
    Tal_SafeSave save;
    FILE* file = Tal_SafeSaveOpen(&save, reinterpret_cast<const char*>(args[0]), "wb");
    if (!file) return 0;
    savesStarted++;
    const std::string chunk(kChunk, 'v');
    for (size_t i = 0; i < (id == kSlowSave ? kChunks : 1); i++) {
        std::fwrite(chunk.data(), 1, chunk.size(), file);
        Delay(1);
    }
    return Tal_SafeSaveCommit(&save);
}

TEST_F(StartUp, AtQuitImageWorkEndsWholeAndNoNewWorkStarts) {
    ASSERT_TRUE(start());
    Tal__SetupClass(
        &saverClass, "TSaver", 0x7E310000, "Root",
        [](const TagItem*) -> void* {
            auto* self = static_cast<Tal_Object*>(Tal_AllocObjectMem(&saverClass));
            if (self) self->superObject = Tal_CreateObject("Root");
            return self;
        },
        [](void* instance) {
            Tal_DisposeObject(static_cast<Tal_Object*>(instance)->superObject);
            Tal_FreeObjectMem(instance);
        },
        saverDispatch, nullptr, sizeof(Tal_Object));
    const ULONG saver = Tal_CreateObject("TSaver");
    const std::string saved = dir + "/out/saved.bin", next = dir + "/out/next.bin";
    fs::create_directories(dir + "/out");
    const ULONG image = Tal_GetImageBase()->image_object->header.handle;
    savesStarted = 0;
    Tal_DoAsyncMethod(image, TAL_DoAsyncMethodMethod, saver, kSlowSave, saved.c_str(), 0);
    Tal_DoAsyncMethod(image, TAL_DoAsyncMethodMethod, saver, kQuickSave, next.c_str(), 0);
    ASSERT_TRUE(eventually([] { return savesStarted > 0; }));

    EXPECT_TRUE(app_FinishImageWork(10000));
    EXPECT_EQ(fs::file_size(saved), kChunk * kChunks);
    EXPECT_FALSE(fs::exists(next)); // queued behind the save: not begun
    EXPECT_EQ(std::distance(fs::directory_iterator(dir + "/out"), fs::directory_iterator{}),
              1); // no temporary
    Tal_DisposeObject(saver);
    Tal__CleanupClass(&saverClass);
}

TEST(SplashPicture, FillsTheStartWindowAndHasNoTransparentPixel) {
    const Tal_BuiltInPicture* p = Tal__SplashPicture();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->width, 240);
    EXPECT_EQ(p->height, 267);
    std::set<ULONG> colours;
    for (LONG y = 0; y < p->height; y++)
        for (LONG x = 0; x < p->width; x++) {
            const UBYTE* px = p->pixels + size_t(y) * size_t(p->bytesPerRow) + size_t(x) * 3;
            colours.insert(ULONG(px[0]) << 16 | ULONG(px[1]) << 8 | px[2]);
        }
    EXPECT_EQ(colours.count(0xBDBDBD), 0u);
    EXPECT_GT(colours.size(), 1000u); // a picture, not a fill
}

} // namespace
