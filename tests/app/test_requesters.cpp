// The image engine's requesters in the running program (in this process, driven by script lines): the
// new-image requester from the menu and the start window, what it refuses, the pictures it makes; the
// progress display's Stop; the picture information round trip through a JPEG file; the welcome and
// snap-to-grid requesters; the about box; the help key.
#include "Tal/Catalogue.h"
#include "Vlr/ImageFile.h"
#include "Vlr/Requesters.h"
#include "app/MenuFunc.h"
#include "app/MenuResource.h"
#include "app/startup.h"
#include "host/dos.h"
#include "host/instance.h"
#include "host/msgbox.h"
#include "support/ScriptedWindow.h"
#include "support/Shell.h"
#include "talio/talio.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using scripted::boxOf;

// Every object below a container (depth first, in member order) for which `wanted` holds.
void collect(ULONG tree, const std::function<bool(ULONG)>& wanted, std::vector<ULONG>* out) {
    for (ULONG m = ULONG(Tal_DoMethod(tree, TAL_GetFirstGroupObject)); m;
         m = ULONG(Tal_DoMethod(tree, TAL_GetNextGroupObject, m))) {
        if (wanted(m)) out->push_back(m);
        collect(m, wanted, out);
    }
}
std::vector<ULONG> ofClass(ULONG tree, ULONG classId) {
    std::vector<ULONG> out;
    collect(
        tree, [&](ULONG m) { return Tal_GetObjectClassID(m) == classId; }, &out);
    return out;
}
std::string labelOf(ULONG object) {
    const auto* label = reinterpret_cast<const char*>(Tal_DoMethod(object, TAL_GetLabel));
    return label ? label : "";
}
// The object (a Text, or the button or row holding it when `holder`) whose label is `label`.
ULONG labelled(ULONG tree, const std::string& label, bool holder = false) {
    ULONG found = 0;
    std::function<void(ULONG)> walk = [&](ULONG t) {
        for (ULONG m = ULONG(Tal_DoMethod(t, TAL_GetFirstGroupObject)); m && !found;
             m = ULONG(Tal_DoMethod(t, TAL_GetNextGroupObject, m))) {
            if (Tal_GetObjectClassID(m) == 0x00040000 && labelOf(m) == label) found = holder ? t : m;
            walk(m);
        }
    };
    walk(tree);
    return found;
}
// The Texts' labels in tree order.
std::vector<std::string> labels(ULONG tree) {
    std::vector<std::string> out;
    for (ULONG t : ofClass(tree, 0x00040000)) out.push_back(labelOf(t));
    return out;
}

constexpr ULONG kMeasurementEdit = 0x00580000, kStringEdit = 0x001E0000, kMutualExclude = 0x00210000;

class Requesters : public scripted::Scripted {
  protected:
    void SetUp() override {
        Scripted::SetUp();
        const char* tmp = std::getenv("VELURA_TEST_TMP");
        dir = std::string(tmp ? tmp : "/tmp") + "/requesters-" + std::to_string(getpid());
        fs::remove_all(dir);
        fs::create_directories(dir);
        setenv("VELURA_USER_DIR", (dir + "/user").c_str(), 1);
        unsetenv("VELURA_HOME");
        host__ResetDirectories();
        host_SetHelpViewer(nullptr);
        host_SetScreenMenuBar(velura_MenuBarResource());
        base = Tal_InitImageBase();
        ASSERT_NE(base, nullptr);
        ASSERT_TRUE(app_BuildMainTree(&tree));
        Tal_DoMethod(tree.screen, TAL_Start);
        app_InstallCommands(&tree);
        settle();
    }
    void TearDown() override {
        for (LONG answer; host_TakeQueuedAnswer(&answer);) {
        }
        if (tree.screen) Tal_DoMethod(tree.screen, TAL_Stop);
        app_DisposeMainTree(&tree);
        if (base) Tal_CleanupImageBase();
        host_SetScreenMenuBar(nullptr);
        host_SetHelpViewer("xdg-open");
        unsetenv("VELURA_USER_DIR");
        unsetenv("VELURA_FREE_MEMORY");
        host__ResetDirectories();
        Scripted::TearDown();
    }
    Tal_Image* active() const {
        SemaphoreGuard guard(&base->listLock);
        return base->active_image;
    }
    LONG imageCount() const {
        SemaphoreGuard guard(&base->listLock);
        return LONG(ListCount(&base->images));
    }
    // The window titled so that covers the point, while it is on the screen.
    static ULONG shown(const std::string& title, LONG x = 120, LONG y = 160) {
        for (host_Window* hw = host_WindowFromPoint(x, y); hw; hw = host_GetParent(hw))
            if (const char* name = host_GetName(hw); name && title == name)
                return reinterpret_cast<Window*>(host_GetUserData(hw))->ObjectHandle;
        return 0;
    }
    std::string tapIn(ULONG win, ULONG object) const {
        if (!Tal_DoMethod(object, TAL_GetBox)) {
            ADD_FAILURE() << "no object to tap: " << object;
            return "";
        }
        return "tap " + at(win, object, -1, -1) + "\n";
    }
    // Runs a modal requester in a task of its own (it blocks its caller) until it is on the screen.
    template <typename F>
    auto inTask(F f) {
        auto result = std::async(std::launch::async, [f] {
            Task* task = Tal__AddThisProcess();
            auto r = f();
            Tal__RemoveThisProcess(task);
            return r;
        });
        settle();
        return result;
    }
    // A saved copy of the image, as ImageMagick reads it: "mean range" (an all-white picture has its mean
    // at the range).
    std::string whiteness(Tal_Image* image) {
        const std::string file = dir + "/copy.bmp";
        EXPECT_TRUE(Tal__SaveImageA(image, file.c_str(), "BMP", 0, TAL_SAVE_QUIET | TAL_SAVE_COPY, nullptr));
        return capture("identify -format '%[mean] %[fx:QuantumRange]' '" + file + "'");
    }

    std::string dir;
    Tal_ImageBase* base = nullptr;
    app_MainTree tree;
};

// "Create a New Image" from the start window and "New..." from the menu open the requester; OK makes the
// picture (480 x 640 and white without a picture open, then the size of the active one) and it becomes
// the active picture.
TEST_F(Requesters, NewImageFromTheMenuAndTheStartWindow) {
    if (!haveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    run("answer 1\n" + tapIn(tree.window, tree.buttons[0]));
    Tal_Image* first = active();
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->width, 480);
    EXPECT_EQ(first->height, 640);
    EXPECT_EQ(first->modified_count.load(), 0);
    ASSERT_NE(first->current_layer, nullptr);
    EXPECT_EQ(first->current_layer->kind, TAL_PAINT_LAYER);
    EXPECT_EQ(first->current_layer->depth, 8);
    const std::string white = whiteness(first);
    EXPECT_EQ(white.substr(0, white.find(' ')), white.substr(white.find(' ') + 1)) << white;

    // The picture's window now covers the start window: the menu.
    run("answer 1\nmenu 60");
    Tal_Image* second = active();
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(imageCount(), 2);

    // Cancelled, nothing is made.
    run("answer 0\nmenu 60");
    EXPECT_EQ(active(), second);
    EXPECT_EQ(imageCount(), 2);
}

// Typed into the shown requester: the memory line follows the sizes and the first layer (7 bytes a
// pixel with a paint layer, 10 with a floating image), and OK makes what the requester shows.
TEST_F(Requesters, NewImageRequesterAsTheUserFillsItIn) {
    run("menu 60");
    const ULONG window = shown(Tal_GetCatalogueText(518));
    ASSERT_NE(window, 0u);
    screenshots("new-image-requester");
    const std::vector<ULONG> fields = ofClass(window, kMeasurementEdit);
    ASSERT_EQ(fields.size(), 3u); // width, height, resolution
    const std::vector<ULONG> choices = ofClass(window, kMutualExclude);
    ASSERT_EQ(choices.size(), 3u);                           // grey, first layer, background
    const ULONG memory = labelled(window, "Memory: 2100KB"); // 480 x 640 x 7 / 1024
    ASSERT_NE(memory, 0u) << ::testing::PrintToString(labels(window));
    // "480 pixels" and "640 pixels" become 100.
    std::string erase;
    for (int i = 0; i < 10; i++) erase += "key BackSpace\n";
    for (ULONG field : {fields[0], fields[1]})
        run(tapIn(window, field) + "key End\n" + erase + "text 100\nkey Return");
    EXPECT_EQ(labelOf(memory), "Memory: 68KB");
    run(tapIn(window, labelled(choices[1], Tal_GetCatalogueText(527))));
    EXPECT_EQ(labelOf(memory), "Memory: 97KB");
    run(tapIn(window, labelled(choices[2], Tal_GetCatalogueText(515))));
    screenshots("new-image-requester-filled");
    run(tapIn(window, labelled(window, " Ok ", true)));
    EXPECT_EQ(shown(Tal_GetCatalogueText(518)), 0u);
    Tal_Image* image = active();
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->width, 100);
    EXPECT_EQ(image->height, 100);
    ASSERT_NE(image->current_layer, nullptr);
    EXPECT_EQ(image->current_layer->kind, TAL_FLOATING_IMAGE);
    EXPECT_EQ(image->red[50][50], 0); // black
}

// The requester object: presets, the getters, and the memory line of the sizes.
TEST_F(Requesters, NewImageReqPresetsAndMemoryLine) {
    const ULONG request =
        Tal_CreateObject("NewImageReq", TAL_SetNewImageWidth, 100, TAL_SetNewImageHeight, 100);
    ASSERT_NE(request, 0u);
    auto memory = [&] {
        return std::string(reinterpret_cast<const char*>(Tal_DoMethod(request, TAL_GetNewImageMemoryText)));
    };
    EXPECT_EQ(memory(), "Memory: 68KB");
    Tal_DoMethod(request, TAL_SetNewImageLayerKind, TAL_FLOATING_IMAGE);
    EXPECT_EQ(memory(), "Memory: 97KB");
    EXPECT_EQ(Tal_DoMethod(request, TAL_GetNewImageLayerKind), Tal_Word(TAL_FLOATING_IMAGE));
    for (size_t i = 0; i < std::size(TAL_NEW_IMAGE_PRESETS); i++) {
        ASSERT_EQ(Tal_DoMethod(request, TAL_ChooseNewImagePreset, i), 1u);
        const std::string preset = TAL_NEW_IMAGE_PRESETS[i];
        EXPECT_EQ(std::to_string(Tal_DoMethod(request, TAL_GetNewImageWidth)) + "x" +
                      std::to_string(Tal_DoMethod(request, TAL_GetNewImageHeight)),
                  preset);
    }
    ASSERT_EQ(Tal_DoMethod(request, TAL_ChooseNewImagePreset, 2), 1u);
    EXPECT_EQ(Tal_DoMethod(request, TAL_GetNewImageWidth), 480u);
    EXPECT_EQ(Tal_DoMethod(request, TAL_GetNewImageHeight), 640u);
    EXPECT_EQ(Tal_DoMethod(request, TAL_ChooseNewImagePreset, 6), 0u);
    // The choices as the getters give them.
    EXPECT_EQ(Tal_DoMethod(request, TAL_GetNewImageBackground), 0xFFFFFFu); // white unless asked
    Tal_DoMethod(request, TAL_SetNewImageBackground, 2);
    EXPECT_EQ(Tal_DoMethod(request, TAL_GetNewImageBackground),
              0xFFB164u); // the paint colour (100, 177, 255)
    EXPECT_EQ(Tal_DoMethod(request, TAL_GetNewImageDepth), 24u);
    Tal_DoMethod(request, TAL_SetNewImageDepth, 8);
    EXPECT_EQ(Tal_DoMethod(request, TAL_GetNewImageDepth), 8u);
    Tal_DisposeObject(request);
}

// Typed sizes are checked before anything is allocated: what cannot be made is said, the requester
// comes back (here cancelled), and nothing is made.
TEST_F(Requesters, TypedSizesThatCannotBeMadeAreRefused) {
    setenv("VELURA_FREE_MEMORY", "1000000000", 1);
    EXPECT_NE(Tal__NewImageRefusal(std::nanf(""), 1, 72, TAL_PAINT_LAYER, 8), nullptr);
    EXPECT_NE(Tal__NewImageRefusal(1, 1, std::nanf(""), TAL_PAINT_LAYER, 8), nullptr);
    struct Case {
        const char* width;
        const char* height;
        bool made;
    };
    for (const Case& c :
         {Case{"nan", "1", false}, Case{"-5", "1", false}, Case{"0", "1", false}, Case{"1", "1", true},
          Case{"32767", "1", true}, Case{"1", "32767", true}, Case{"40000", "1", false},
          Case{"1e39", "1", false}, Case{"30000", "30000", false}}) {
        SCOPED_TRACE(std::string(c.width) + " x " + c.height);
        const ULONG request = Tal_CreateObject("NewImageReq");
        const std::vector<ULONG> fields = ofClass(request, kMeasurementEdit);
        ASSERT_GE(fields.size(), 2u);
        // As typed: the field reads its text.
        Tal_DoMethod(fields[0], TAL_SetString, c.width);
        Tal_DoMethod(fields[1], TAL_SetString, c.height);
        const LONG before = imageCount();
        host_QueueMessageBoxAnswer(1); // OK
        if (!c.made) {
            host_QueueMessageBoxAnswer(1); // the message
            host_QueueMessageBoxAnswer(0); // the requester again: Cancel
        }
        ::testing::internal::CaptureStderr();
        Tal_Image* image = Tal__DoNewImageReqA(request, TAL_LOAD_NO_VIEW);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(image != nullptr, c.made);
        EXPECT_EQ(imageCount(), before + (c.made ? 1 : 0));
        if (image) {
            EXPECT_EQ(std::to_string(image->width) + " x " + std::to_string(image->height),
                      std::string(c.width) + " x " + c.height);
            Tal_DisposeObject(image->header.handle);
        } else {
            Tal_DisposeObject(request);
            const bool memory = std::string(c.width) == "30000";
            EXPECT_NE(said.find(Tal_GetCatalogueText(memory ? 671 : 670)), std::string::npos) << said;
        }
    }
}

// A grey picture is 24 bits with grey values: the paint colour (100, 177, 255) gives (177, 177, 177).
// Memory that runs out says so and leaves nothing behind.
TEST_F(Requesters, GreyPicturesAndRunningOutOfMemory) {
    if (!haveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    ULONG request = Tal_CreateObject("NewImageReq", TAL_SetNewImageWidth, 16, TAL_SetNewImageHeight, 8,
                                     TAL_SetNewImageDepth, 8, TAL_SetNewImageBackground, 2);
    host_QueueMessageBoxAnswer(1);
    Tal_Image* grey = Tal_DoNewImageReq(request);
    ASSERT_NE(grey, nullptr);
    EXPECT_EQ(grey->depth, 24);
    const std::string file = dir + "/grey.bmp";
    ASSERT_TRUE(Tal__SaveImageA(grey, file.c_str(), "BMP", 0, TAL_SAVE_QUIET, nullptr));
    EXPECT_EQ(capture("convert '" + file + "' -unique-colors -depth 8 txt:- | tail -n +2 | cut -d' ' -f2"),
              "(177,177,177)\n");
    EXPECT_EQ(capture("identify -format '%wx%h' '" + file + "'"), "16x8");

    const LONG before = imageCount();
    request = Tal_CreateObject("NewImageReq", TAL_SetNewImageWidth, 64, TAL_SetNewImageHeight, 64);
    host_QueueMessageBoxAnswer(1); // OK
    host_QueueMessageBoxAnswer(1); // the message
    Tal__FailPlaneAllocation(0);
    ::testing::internal::CaptureStderr();
    Tal_Image* none = Tal_DoNewImageReq(request);
    const std::string said = ::testing::internal::GetCapturedStderr();
    Tal__FailPlaneAllocation(-1);
    EXPECT_EQ(none, nullptr);
    EXPECT_NE(said.find("msgbox: Error | Sorry, out of memory."), std::string::npos) << said;
    EXPECT_EQ(imageCount(), before);
}

// Stop during a long load or save ends it cleanly: no picture made, the file on the disk as it was, no
// error box. The user taps Stop as soon as the display opens.
TEST_F(Requesters, StopEndsALongLoadOrSaveCleanly) {
    EXPECT_EQ(Tal_SetProgressDisplay(nullptr, 1, 2, nullptr), 1u);
    host_QueueMessageBoxAnswer(1);
    Tal_Image* image = Tal__DoNewImageReqA(
        Tal_CreateObject("NewImageReq", TAL_SetNewImageWidth, 1500, TAL_SetNewImageHeight, 1500),
        TAL_LOAD_NO_VIEW);
    ASSERT_NE(image, nullptr);
    const std::string file = dir + "/big.bmp";
    ASSERT_TRUE(Tal__SaveImageA(image, file.c_str(), "BMP", 0, TAL_SAVE_QUIET | TAL_SAVE_COPY, nullptr));
    const auto saved = fs::last_write_time(file);
    const auto size = fs::file_size(file);

    // The display as the library opens it, with the user's tap on Stop.
    static std::function<void(Tal_ProgressDisplay*)> user;
    static int opened;
    opened = 0;
    user = [this](Tal_ProgressDisplay* d) {
        settle();
        if (opened++ == 0) screenshots("progress");
        run(tapIn(d->window, d->stop_button));
    };
    static const TALIO_ProgressHooks tapStop = {
        [](const char* title, const char* text) {
            Tal_ProgressDisplay* d = Tal_BeginProgressDisplay(0, title, text);
            if (d) user(d);
            return d;
        },
        [](Tal_ProgressDisplay* d, ULONG v, ULONG t) { return Tal_SetProgressDisplay(d, v, t, nullptr); },
        [](Tal_ProgressDisplay* d) { Tal_EndProgressDisplay(d); },
    };
    TALIO__SetProgressHooks(&tapStop);
    const LONG before = imageCount();
    ::testing::internal::CaptureStderr();
    Tal_Image* loaded = Tal__LoadImageA(file.c_str(), 0, 0, TAL_LOAD_NO_VIEW, nullptr);
    const ULONG written = Tal__SaveImageA(image, file.c_str(), "BMP", 0, 0, nullptr);
    const std::string said = ::testing::internal::GetCapturedStderr();
    Tal__UseProgressDisplays(true);
    EXPECT_EQ(opened, 2);
    EXPECT_EQ(loaded, nullptr);
    EXPECT_EQ(imageCount(), before);
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(fs::last_write_time(file), saved);
    EXPECT_EQ(fs::file_size(file), size);
    EXPECT_EQ(said.find("msgbox:"), std::string::npos) << said;
    settle();
    EXPECT_EQ(shown(Tal_GetCatalogueText(39)), 0u); // the display went with the work
}

} // namespace

namespace {

void setText(char* field, size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// The picture information of a JPEG shows and what the user edits is saved: ImageMagick reads the new
// caption back, and a text longer than a field shows (here one that fills its field, without an end
// mark) stays whole when it is not edited. A picture without information gets a record once something
// is typed. The File page tells the size, the layers and the memory.
TEST_F(Requesters, PictureInformationRoundTrip) {
    if (!haveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
    host_QueueMessageBoxAnswer(1);
    Tal_Image* made = Tal__DoNewImageReqA(
        Tal_CreateObject("NewImageReq", TAL_SetNewImageWidth, 32, TAL_SetNewImageHeight, 16),
        TAL_LOAD_NO_VIEW);
    ASSERT_NE(made, nullptr);
    auto* record = static_cast<TALIO_IPTCInfo*>(Tal_AllocMemClear(sizeof(TALIO_IPTCInfo)));
    setText(record->headline, sizeof record->headline, "Harbour at dawn");
    setText(record->caption, sizeof record->caption, "Boats");
    const std::string instructions(sizeof record->special_instructions, 'i');
    setText(record->special_instructions, sizeof record->special_instructions, instructions);
    made->info_record = record;
    const std::string file = dir + "/info.jpg";
    ASSERT_TRUE(Tal__SaveImageA(made, file.c_str(), "JPEG", 0, TAL_SAVE_QUIET | TAL_SAVE_COPY, nullptr));
    Tal_Image* image = Tal__LoadImageA(file.c_str(), 0, 0, TAL_LOAD_NO_VIEW | TAL_LOAD_QUIET, nullptr);
    ASSERT_NE(image, nullptr);

    auto answer = inTask([&] { return Tal_ShowImageInfoReq(image); });
    ULONG window = shown("Image Information");
    ASSERT_NE(window, 0u);
    screenshots("image-information");
    const std::vector<std::string> file1 = labels(window);
    for (const char* part : {"info.jpg", "JPEG", "32 x 16 Pixels", "24 Bits per Pixel", "3KB"})
        EXPECT_NE(std::find(file1.begin(), file1.end(), part), file1.end()) << part;
    std::vector<ULONG> fields = ofClass(window, kStringEdit);
    ASSERT_EQ(fields.size(), 13u);
    auto textOf = [](ULONG field) {
        return std::string(reinterpret_cast<const char*>(Tal_DoMethod(field, TAL_GetString)));
    };
    EXPECT_EQ(textOf(fields[0]), "Harbour at dawn");
    EXPECT_EQ(textOf(fields[7]), "Boats");
    EXPECT_EQ(textOf(fields[12]), instructions.substr(0, 255));
    const ULONG tabs = ULONG(Tal_DoMethod(ofClass(window, 0x000B0000).at(0), TAL_GetTabRow));
    run(tapIn(window, labelled(tabs, "Caption", true)));
    run(tapIn(window, fields[7]) + "key End\ntext  at anchor\nkey Return");
    run(tapIn(window, labelled(tabs, "Category", true)));
    run(tapIn(window, fields[11]) + "text sea; boats\nkey Return");
    screenshots("image-information-category");
    run(tapIn(window, labelled(window, " Ok ", true)));
    EXPECT_EQ(answer.get(), 1u);
    const auto* edited = static_cast<const TALIO_IPTCInfo*>(image->info_record);
    ASSERT_NE(edited, nullptr);
    EXPECT_EQ(std::string(edited->keywords), "sea\nboats");
    EXPECT_EQ(std::string(edited->special_instructions, sizeof edited->special_instructions), instructions);
    EXPECT_GT(image->modified_count.load(), 0);
    const std::string saved = dir + "/edited.jpg";
    ASSERT_TRUE(Tal__SaveImageA(image, saved.c_str(), "JPEG", 0, TAL_SAVE_QUIET, nullptr));
    EXPECT_EQ(capture("identify -format '%[IPTC:2:120]|%[IPTC:2:105]' '" + saved + "'"),
              "Boats at anchor|Harbour at dawn");

    // Without a record: typing makes one. Two paint layers of 10 x 10 on a 10 x 10 picture: 800 bytes.
    host_QueueMessageBoxAnswer(1);
    Tal_Image* plain = Tal__DoNewImageReqA(
        Tal_CreateObject("NewImageReq", TAL_SetNewImageWidth, 10, TAL_SetNewImageHeight, 10),
        TAL_LOAD_NO_VIEW);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(Tal_DoImageMethod(plain, TAL_NewLayer, TAL_PAINT_LAYER, 8, 10, 10), 0u);
    answer = inTask([&] { return Tal_ShowImageInfoReq(plain); });
    window = shown("Image Information");
    ASSERT_NE(window, 0u);
    const std::vector<std::string> file2 = labels(window);
    const auto memory = std::find(file2.begin(), file2.end(), "Memory Used:");
    ASSERT_NE(memory, file2.end());
    EXPECT_EQ(*(memory + 1), "0KB");
    EXPECT_EQ(*(std::find(file2.begin(), file2.end(), "Number of Layers:") + 1), "2");
    fields = ofClass(window, kStringEdit);
    run(tapIn(window, labelled(ULONG(Tal_DoMethod(ofClass(window, 0x000B0000).at(0), TAL_GetTabRow)),
                               "Headline", true)));
    run(tapIn(window, fields[0]) + "text Still life\nkey Return");
    run(tapIn(window, labelled(window, " Ok ", true)));
    EXPECT_EQ(answer.get(), 1u);
    TALIO_IPTCInfo expected{};
    setText(expected.headline, sizeof expected.headline, "Still life");
    ASSERT_NE(plain->info_record, nullptr);
    EXPECT_EQ(std::memcmp(plain->info_record, &expected, sizeof expected), 0);
}

// The welcome requester's big buttons end it and choose their command; what cannot be done is greyed.
TEST_F(Requesters, WelcomeButtonsChooseTheirCommands) {
    scripted::Heard heard;
    heard.watch(tree.screen, TAL_ScreenMenuCommand);
    auto answer = inTask([] { return Tal_ShowStartupReq(); });
    const ULONG window = shown("Welcome to Velura!");
    ASSERT_NE(window, 0u);
    screenshots("welcome");
    const std::pair<const char*, ULONG> buttons[] = {{"Create a New Image", 60},
                                                     {"Open an Existing Image", 51},
                                                     {"Browse for Images", 139},
                                                     {"Capture a Screen Grab", 64}};
    for (const auto& [label, command] : buttons) {
        const ULONG button = labelled(window, label, true);
        ASSERT_NE(button, 0u) << label;
        EXPECT_EQ(Tal_DoMethod(button, TAL_IsDisabled) != 0, !host_IsScreenCommandEnabled(command)) << label;
    }
    EXPECT_TRUE(host_IsScreenCommandEnabled(60));
    run("answer 1\n" + tapIn(window, labelled(window, "Create a New Image", true)));
    EXPECT_EQ(answer.get(), 1u);
    EXPECT_EQ(heard.values(TAL_ScreenMenuCommand), std::vector<LONG>{60});
    EXPECT_NE(active(), nullptr);
}

// Snapping: the typed grid is stored in whole pixels, at least 1 for its size and within the sides a
// picture can have; Cancel keeps everything.
TEST_F(Requesters, SnapToGridStoresWholePixels) {
    base->snap_x = 7;
    base->snap_y = 9;
    for (bool ok : {false, true}) {
        auto answer = inTask([] { return Tal_ShowSnapToGridReq(); });
        const ULONG window = shown(Tal_GetCatalogueText(530));
        ASSERT_NE(window, 0u);
        const std::vector<ULONG> fields = ofClass(window, kMeasurementEdit);
        ASSERT_EQ(fields.size(), 4u);
        EXPECT_EQ(Tal_ULONGToFloat(ULONG(Tal_DoMethod(fields[0], TAL_GetMeasurementValue))), 10.0f);
        const char* typed[] = {"0", "12.6", "-3", "40000"};
        for (int i = 0; i < 4; i++) Tal_DoMethod(fields[i], TAL_SetString, typed[i]);
        run(tapIn(window, labelled(window, Tal_GetCatalogueText(673), true)));
        if (!ok) screenshots("snap-to-grid");
        run(tapIn(window, labelled(window, ok ? " Ok " : "Cancel", true)));
        EXPECT_EQ(answer.get(), ok ? 1u : 0u);
        const std::vector<LONG> stored = {base->snap_enabled, base->snap_width, base->snap_height,
                                          base->snap_x, base->snap_y};
        const std::vector<LONG> expected =
            ok ? std::vector<LONG>{1, 1, 13, -3, 32767} : std::vector<LONG>{0, 0, 0, 7, 9};
        EXPECT_EQ(stored, expected);
    }
}

// Image Information and Snap to Grid are commands too; without a picture the first does nothing.
TEST_F(Requesters, InformationAndSnapCommands) {
    DebugCapture debug;
    run("answer 0\nmenu 156\nmenu 157");
    EXPECT_FALSE(debug.contains("requester: Image Information")) << debug.text();
    EXPECT_TRUE(debug.contains(std::string("requester: ") + Tal_GetCatalogueText(530) + " answered 0"));
    run("answer 1\nmenu 60\nanswer 1\nmenu 156");
    EXPECT_TRUE(debug.contains("requester: Image Information answered 1")) << debug.text();
}

// "About..." shows the start picture until it is tapped, then the version; F1 opens the help pages, also
// right after a requester closed.
TEST_F(Requesters, AboutBoxAndHelpKey) {
    DebugCapture debug;
    run("answer 1\nmenu 103");
    ASSERT_NE(shown("Velura"), 0u);
    screenshots("about");
    run("tap 120 150");
    EXPECT_EQ(shown("Velura"), 0u);
    EXPECT_TRUE(debug.contains(std::string("requester: ") + Tal_GetCatalogueText(535) + " answered 1"))
        << debug.text();
    run("menu 60\nkey Escape\nkey F1");
    EXPECT_TRUE(debug.contains("Help/TableOfContents.htm (no help viewer in this run)")) << debug.text();
}

} // namespace
