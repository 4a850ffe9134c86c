// The message box: every way of answering it for every type, its modality, its turn-taking between
// threads, and how it looks on the screen.
#include "host/display.h"
#include "host/intuition.h"
#include "host/msgbox.h"

#include "support/TalTest.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

// Polls a condition; the limit only keeps a broken build from hanging the test run.
bool eventually(const std::function<bool()>& condition) {
    const auto limit = Clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (Clock::now() > limit) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

class MessageBoxTest : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        host_InitWindowSystem(240, 320);
    }
    void TearDown() override {
        host_CleanupWindowSystem();
        TalFixture::TearDown();
    }

    // Shows a box of the type in another thread, lets `act` answer it and returns the box's result.
    LONG answer(ULONG type, const std::function<void()>& act, const char* text = "Save the changes?") {
        std::atomic<LONG> result{-1};
        TaskThread box([&] { result = host_MessageBox("Velura", text, type); });
        EXPECT_TRUE(eventually([] { return host_GetMessageBox() != nullptr; }));
        act();
        box.join();
        return result;
    }
};

void press(ULONG vk) {
    host_InjectKey(vk, true);
    host_InjectChar(UBYTE(vk));
    host_InjectKey(vk, false);
}

void tapButton(LONG button) {
    host_Rect r{};
    ASSERT_TRUE(host_GetMessageBoxButton(button, &r));
    EXPECT_GE(r.h, 20); // big enough for a stylus
    const LONG x = r.x + r.w / 2, y = r.y + r.h / 2;
    host_InjectMouseMove(x, y);
    host_InjectButton(0, true, x, y);
    host_InjectButton(0, false, x, y);
}

TEST_F(MessageBoxTest, EveryWayOfAnsweringEveryType) {
    struct Type {
        ULONG type;
        bool okOnly;
    };
    // 1 and 8: OK only; 4: Yes and No; 2 and anything else: OK and Cancel.
    for (Type t :
         {Type{1, true}, Type{8, true}, Type{4, false}, Type{2, false}, Type{0, false}, Type{77, false}}) {
        SCOPED_TRACE("type " + std::to_string(t.type));
        EXPECT_EQ(answer(t.type, [] { press(VK_RETURN); }), 1);
        EXPECT_EQ(answer(t.type, [] { press(VK_ESCAPE); }), t.okOnly ? 1 : 0);
        EXPECT_EQ(answer(t.type, [] { tapButton(1); }), 1);
        if (!t.okOnly) {
            EXPECT_EQ(answer(t.type, [] { tapButton(0); }), 0);
        } else {
            host_Rect r;
            EXPECT_EQ(answer(t.type,
                             [&] {
                                 EXPECT_FALSE(host_GetMessageBoxButton(0, &r));
                                 press(VK_RETURN);
                             }),
                      1);
        }
        host_QueueMessageBoxAnswer(1);
        EXPECT_EQ(host_MessageBox("Velura", "queued", t.type), 1);
        host_QueueMessageBoxAnswer(0);
        EXPECT_EQ(host_MessageBox("Velura", "queued", t.type), t.okOnly ? 1 : 0);
        EXPECT_EQ(host_GetMessageBox(), nullptr);
    }
}

TEST_F(MessageBoxTest, QueuedAnswersAreTakenInOrderAndLogged) {
    host_QueueMessageBoxAnswer(0);
    host_QueueMessageBoxAnswer(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(host_MessageBox("Quit", "Really quit?", HOST_MB_YESNO), 0);
    EXPECT_EQ(host_MessageBox("Gr\xFC\xDF"
                              "e",
                              "two\nlines", HOST_MB_OKCANCEL),
              1);
    const std::string log = testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("msgbox: Quit | Really quit?\n"), std::string::npos) << log;
    EXPECT_NE(log.find("msgbox: Gr\xC3\xBC\xC3\x9F"
                       "e | two lines\n"),
              std::string::npos)
        << log; // as UTF-8
    LONG button;
    EXPECT_FALSE(host_TakeQueuedAnswer(&button));
}

TEST_F(MessageBoxTest, ABoxShownIsLoggedToo) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(answer(
                  HOST_MB_OK, [] { press(VK_RETURN); }, "Cant open the file"),
              1);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("msgbox: Velura | Cant open the file\n"),
              std::string::npos);
}

TEST_F(MessageBoxTest, IsModalAndAnswersOnlyWhenReleasedOnTheButton) {
    std::atomic<int> clicks{0};
    host_WindowDesc desc;
    desc.rect = {0, 0, 240, 320};
    desc.proc = [](host_Window*, ULONG message, Tal_Word, Tal_Word) -> Tal_Word {
        return message == HM_LBUTTONDOWN ? 1 : 0;
    };
    host_Window* below = host_CreateWindow(desc);
    ASSERT_NE(below, nullptr);
    EXPECT_EQ(answer(HOST_MB_OKCANCEL,
                     [&] {
                         host_Rect ok{};
                         ASSERT_TRUE(host_GetMessageBoxButton(1, &ok));
                         // Pressed on OK, released beside it: no answer.
                         host_InjectButton(0, true, ok.x + 2, ok.y + 2);
                         ASSERT_TRUE(eventually([] { return host_GetCapture() == host_GetMessageBox(); }));
                         host_InjectMouseMove(ok.x - 20, ok.y - 20);
                         host_InjectButton(0, false, ok.x - 20, ok.y - 20);
                         // A tap outside the box reaches nothing.
                         host_InjectButton(0, true, 2, 2);
                         host_InjectButton(0, false, 2, 2);
                         HostMessage m;
                         while (host_PeekMessage(&m))
                             if (m.message == HM_LBUTTONDOWN) clicks++;
                         EXPECT_NE(host_GetMessageBox(), nullptr);
                         press(VK_ESCAPE);
                     }),
              0);
    EXPECT_EQ(clicks, 0);
    host_DestroyWindow(below);
}

TEST_F(MessageBoxTest, ASecondThreadWaitsItsTurnAndBothCountAsIdle) {
    std::atomic<LONG> first{-1}, second{-1};
    TaskThread a([&] { first = host_MessageBox("First", "one", HOST_MB_OKCANCEL); });
    ASSERT_TRUE(eventually([] { return host_GetMessageBox() != nullptr; }));
    host_Window* firstBox = host_GetMessageBox();
    TaskThread b([&] { second = host_MessageBox("Second", "two", HOST_MB_OKCANCEL); });
    // Both threads wait for the user now, which is what a script's "wait" waits for.
    ASSERT_TRUE(eventually([] { return host_Idle(); }));
    EXPECT_EQ(host_GetMessageBox(), firstBox);
    press(VK_RETURN);
    a.join();
    EXPECT_EQ(first, 1);
    ASSERT_TRUE(eventually([] { return host_GetMessageBox() != nullptr; }));
    press(VK_ESCAPE);
    b.join();
    EXPECT_EQ(second, 0);
}

TEST_F(MessageBoxTest, AQuitForTheThreadEndsTheBoxAndStaysForItsLoop) {
    std::atomic<LONG> result{-1};
    std::atomic<bool> quitSeen{false};
    TaskThread box([&] {
        result = host_MessageBox("Velura", "Quit?", HOST_MB_YESNO);
        HostMessage m;
        quitSeen = !host_GetMessage(&m);
    });
    ASSERT_TRUE(eventually([] { return host_GetMessageBox() != nullptr; }));
    host_PostQuitToOwner(host_GetMessageBox());
    box.join();
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(quitSeen);
}

TEST_F(MessageBoxTest, LongTextsStayOnTheScreen) {
    const std::string longText(5000, 'x');
    std::string manyWords;
    for (int i = 0; i < 400; i++) manyWords += "word" + std::to_string(i) + " ";
    for (const std::string& text : {longText, manyWords, std::string(60, '\n')}) {
        EXPECT_EQ(answer(
                      HOST_MB_OKCANCEL,
                      [] {
                          const host_Rect r = host_GetScreenRect(host_GetMessageBox());
                          EXPECT_GE(r.x, 0);
                          EXPECT_GE(r.y, 0);
                          EXPECT_LE(r.x + r.w, 240);
                          EXPECT_LE(r.y + r.h, 320);
                          press(VK_RETURN);
                      },
                      text.c_str()),
                  1);
    }
    // A short text makes a small box, centred.
    answer(HOST_MB_OK, [] {
        const host_Rect r = host_GetScreenRect(host_GetMessageBox());
        EXPECT_LT(r.h, 120);
        EXPECT_EQ(r.x, (240 - r.w) / 2);
        EXPECT_EQ(r.y, (320 - r.h) / 2);
        press(VK_RETURN);
    });
}

// Screenshots of boxes over the real screen, for a look by eye (in the test directory), and a check that
// the box is what the screen shows.
TEST_F(MessageBoxTest, OnTheScreen) {
    ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    const char* tmp = std::getenv("VELURA_TEST_TMP");
    const std::string dir = tmp ? tmp : "/tmp";
    ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
    struct Shot {
        ULONG type;
        std::string text;
        const char* file;
    };
    for (Shot s :
         {Shot{HOST_MB_OKCANCEL, "The picture has changed. Save the changes before closing it?",
               "msgbox-question.bmp"},
          Shot{HOST_MB_OK,
               "Cant open language file Data\\Lingua\\Velura.etf. The program cannot start without its "
               "texts; please install it again. " +
                   std::string(600, 'z'),
               "msgbox-alert.bmp"}}) {
        const std::string file = dir + "/" + s.file;
        host_Rect box{};
        EXPECT_EQ(answer(
                      s.type,
                      [&] {
                          box = host_GetScreenRect(host_GetMessageBox());
                          ASSERT_TRUE(eventually([] { return host_Idle(); }));
                          ASSERT_TRUE(host_SaveScreenshot(file.c_str()));
                          press(VK_RETURN);
                      },
                      s.text.c_str()),
                  1);
        // The box's title band (blue), a few pixels below its top edge; BMP rows are stored bottom-up.
        std::ifstream in(file, std::ios::binary);
        std::string bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        ASSERT_EQ(bmp.size(), 54u + 240u * 3u * 320u);
        EXPECT_EQ(bmp.substr(0, 2), "BM");
        const size_t at = 54 + size_t(319 - (box.y + 3)) * 720 + size_t(box.x + box.w - 4) * 3;
        EXPECT_EQ(UBYTE(bmp[at]), 0x97);
        EXPECT_EQ(UBYTE(bmp[at + 1]), 0x57);
        EXPECT_EQ(UBYTE(bmp[at + 2]), 0x2B);
    }
}

} // namespace
