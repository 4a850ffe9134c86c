// The clipboard store: one holder at a time, bitmaps and texts; its PNG conversions against netpbm's
// decoding; texts exchanged with other programs on a virtual X display.
#include "host/clipboard.h"

#include "support/VirtualDisplay.h"
#include "talio/talio_test.h"

#include <atomic>
#include <cstring>
#include <future>
#include <random>

using namespace talio_test;
using namespace std::chrono_literals;

namespace {

std::string clipboardText() {
    std::string text;
    if (!host_OpenClipboard()) return "(not opened)";
    const size_t length = host_GetClipboardText(nullptr, 0);
    text.resize(length + 1);
    host_GetClipboardText(text.data(), text.size());
    text.resize(length);
    host_CloseClipboard();
    return text;
}

void setText(const char* text) {
    ASSERT_TRUE(host_OpenClipboard());
    EXPECT_TRUE(host_SetClipboardText(text));
    host_CloseClipboard();
}

void empty() {
    ASSERT_TRUE(host_OpenClipboard());
    host_EmptyClipboard();
    host_CloseClipboard();
}

// The RGB picture of a 24-bit bottom-up bitmap with a 40-byte header.
Picture pictureOf(const UBYTE* bitmap) {
    auto le = [&](size_t at) {
        return ULONG(bitmap[at] | bitmap[at + 1] << 8 | bitmap[at + 2] << 16 | bitmap[at + 3] << 24);
    };
    Picture pic{le(4), le(8), 3, {}};
    const size_t rowBytes = (size_t(pic.width) * 3 + 3) & ~size_t(3);
    for (ULONG y = 0; y < pic.height; y++)
        for (ULONG x = 0; x < pic.width; x++) {
            const UBYTE* p = bitmap + 40 + size_t(pic.height - 1 - y) * rowBytes + x * 3;
            pic.samples.insert(pic.samples.end(), {p[2], p[1], p[0]});
        }
    return pic;
}

// A PAM of 8-bit grey or RGB samples, with or without alpha, as RGB laid over white.
Picture overWhite(const std::string& pam) {
    const size_t body = pam.find("ENDHDR\n");
    if (pam.compare(0, 3, "P7\n") != 0 || body == std::string::npos) return {};
    auto field = [&](const char* name) {
        return ULONG(std::stoul(pam.substr(pam.find(name) + std::strlen(name))));
    };
    const ULONG width = field("WIDTH "), height = field("HEIGHT "), depth = field("DEPTH ");
    const bool alpha = pam.find("_ALPHA") < body;
    Picture pic{width, height, 3, {}};
    for (size_t p = body + 7; p + depth <= pam.size(); p += depth) {
        const ULONG a = alpha ? UBYTE(pam[p + depth - 1]) : 255;
        for (ULONG c = 0; c < 3; c++) {
            const ULONG v = UBYTE(pam[p + (depth >= 3 ? c : 0)]);
            pic.samples.push_back(UBYTE((v * a + 255 * (255 - a) + 127) / 255));
        }
    }
    return pic.samples.size() == size_t(width) * height * 3 ? pic : Picture{};
}

TEST(ClipboardStore, OneThreadHoldsItAtATime) {
    empty();
    ASSERT_TRUE(host_OpenClipboard());
    std::atomic<bool> gotIt{false};
    auto other = std::async(std::launch::async, [&] {
        // Not holding it, this thread can neither read nor write.
        size_t length = 0;
        const bool blind = !host_GetClipboardBitmap(&length) && !host_SetClipboardText("no");
        const bool opened = host_OpenClipboard();
        gotIt = true;
        char text[16] = "";
        host_GetClipboardText(text, sizeof text);
        host_CloseClipboard();
        return blind && opened && std::string(text) == "first";
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(gotIt);
    EXPECT_TRUE(host_SetClipboardText("first"));
    host_CloseClipboard();
    EXPECT_TRUE(other.get());

    // A bitmap replaces the text; a text is cut to the room given.
    ASSERT_TRUE(host_OpenClipboard());
    UBYTE* block = host_AllocClipboardBlock(3);
    ASSERT_TRUE(host_SetClipboardBitmap(block, 3));
    char small[4];
    EXPECT_EQ(host_GetClipboardText(small, sizeof small), 0u);
    EXPECT_TRUE(host_SetClipboardText("longer text"));
    EXPECT_EQ(host_GetClipboardText(small, sizeof small), 11u);
    EXPECT_STREQ(small, "lon");
    EXPECT_EQ(host_GetClipboardBitmap(nullptr), nullptr);
    host_EmptyClipboard();
    host_CloseClipboard();
    EXPECT_EQ(clipboardText(), "");
}

class ClipboardPng : public ::testing::Test {
  protected:
    void SetUp() override {
        if (run("command -v pnmtopng >/dev/null && command -v pngtopam >/dev/null") != 0)
            GTEST_SKIP() << "netpbm is not installed";
        const char* base = std::getenv("VELURA_TEST_TMP");
        // A folder of each test's own: the tests of a run may go on side by side.
        dir = fs::path(base && *base ? base : "/tmp/velura-test") / "host" /
              (std::string("ClipboardPng-") + testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    fs::path dir;
};

TEST_F(ClipboardPng, EveryKindOfPngBecomesTheBitmapNetpbmSees) {
    // Sources: the PNG is made by pnmtopng; the peer's reading by pngtopam, alpha laid over white.
    Picture colour = testPicture(13, 7);
    Picture grey = testPicture(13, 7, 1);
    Picture few{13, 7, 3, {}};
    for (size_t i = 0; i < 13 * 7; i++)
        few.samples.insert(few.samples.end(), {UBYTE(i % 3 * 100), 50, UBYTE(i % 2 * 200)});
    writeFile(dir / "colour.ppm", pnmBytes(colour));
    writeFile(dir / "grey.pgm", pnmBytes(grey));
    writeFile(dir / "few.ppm", pnmBytes(few));
    Bytes deep = {'P', '5', '\n', '3', ' ', '2', '\n', '6', '5', '5', '3', '5', '\n'};
    for (UWORD v : {0, 128, 129, 32896, 65280, 65535}) deep.insert(deep.end(), {UBYTE(v >> 8), UBYTE(v)});
    writeFile(dir / "deep.pgm", deep);
    const std::string c = quoted(dir / "colour.ppm"), g = quoted(dir / "grey.pgm");
    struct Case {
        const char* name;
        std::string make; // writes x.png
    };
    const Case cases[] = {
        {"RGB", "pnmtopng " + c},
        {"RGB interlaced", "pnmtopng -interlace " + c},
        {"RGB 16 bits", "pamdepth 65535 " + c + " | pnmtopng"},
        {"palette", "pnmtopng " + quoted(dir / "few.ppm")},
        {"grey", "pnmtopng " + g},
        {"grey 16 bits", "pnmtopng " + quoted(dir / "deep.pgm")},
        {"grey 1 bit", "pamthreshold " + g + " | pnmtopng"},
        {"RGBA", "pnmtopng -alpha=" + g + " " + c},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.name);
        const fs::path png = dir / "x.png";
        ASSERT_EQ(run("(" + k.make + ") > " + quoted(png) + " 2>/dev/null"), 0);
        const Picture expected = overWhite(output("pngtopam -alphapam " + quoted(png) + " | pamdepth 255"));
        ASSERT_FALSE(expected.samples.empty());
        const Bytes file = readFile(png);
        size_t length = 0;
        UBYTE* bitmap = host__PngToBitmap(file.data(), file.size(), &length, 32767);
        ASSERT_NE(bitmap, nullptr);
        EXPECT_EQ(length, 40 + ((expected.width * 3 + 3) & ~3u) * expected.height);
        EXPECT_EQ(pictureOf(bitmap), expected);
        host_FreeClipboardBlock(bitmap);
    }
}

TEST_F(ClipboardPng, BitmapsBecomePngsOfTheirPixels) {
    // 24 bits bottom-up and 32 bits top-down, the same picture.
    const Picture pic = testPicture(5, 3);
    Bytes up = {40, 0, 0, 0, 5, 0, 0, 0, 3, 0, 0, 0, 1, 0, 24, 0};
    up.resize(40, 0);
    Bytes down = up;
    down[8] = 0xFD, down[9] = down[10] = down[11] = 0xFF, down[14] = 32;
    for (ULONG r = 0; r < 3; r++) {
        for (ULONG x = 0; x < 5; x++) {
            const UBYTE* s = &pic.samples[((2 - r) * 5 + x) * 3];
            up.insert(up.end(), {s[2], s[1], s[0]});
            const UBYTE* t = &pic.samples[(r * 5 + x) * 3];
            down.insert(down.end(), {t[2], t[1], t[0], 0xFF});
        }
        up.push_back(0);
    }
    for (const Bytes* bitmap : {&up, &down}) {
        std::vector<UBYTE> png;
        ASSERT_TRUE(host__BitmapToPng(bitmap->data(), bitmap->size(), &png));
        writeFile(dir / "out.png", Bytes(png.begin(), png.end()));
        const std::string ppm = output("pngtopam " + quoted(dir / "out.png"));
        EXPECT_EQ(readPnm(Bytes(ppm.begin(), ppm.end())), pic);
        // One byte short of its rows, it is refused.
        EXPECT_FALSE(host__BitmapToPng(bitmap->data(), bitmap->size() - 1, &png));
    }
    Bytes eight = up;
    eight[14] = 8;
    std::vector<UBYTE> png;
    EXPECT_FALSE(host__BitmapToPng(eight.data(), eight.size(), &png));
}

TEST_F(ClipboardPng, DamagedOrOversizedPngsAreRefusedQuietly) {
    writeFile(dir / "pic.ppm", pnmBytes(testPicture(40, 30)));
    ASSERT_EQ(run("pnmtopng -interlace " + quoted(dir / "pic.ppm") + " > " + quoted(dir / "pic.png")), 0);
    const Bytes file = readFile(dir / "pic.png");
    size_t length = 0;
    EXPECT_EQ(host__PngToBitmap(file.data(), file.size(), &length, 39), nullptr);
    // Cut anywhere before its end chunk (12 bytes), it lacks picture data.
    for (size_t cut = 0; cut < file.size() - 12; cut += 7) {
        UBYTE* b = host__PngToBitmap(file.data(), cut, &length, 32767);
        EXPECT_EQ(b, nullptr) << cut;
        host_FreeClipboardBlock(b);
    }
    std::mt19937 random(3);
    for (int i = 0; i < 300; i++) {
        Bytes flipped = file;
        flipped[8 + random() % (flipped.size() - 8)] ^= UBYTE(1 + random() % 255);
        host_FreeClipboardBlock(host__PngToBitmap(flipped.data(), flipped.size(), &length, 32767));
    }
}

TEST(DesktopClipboard, TextsMoveBetweenVeluraAndOtherPrograms) {
    if (!onPath("Xvfb") || !onPath("xclip")) GTEST_SKIP() << "needs Xvfb and xclip (packages xvfb, xclip)";
    VirtualDisplay xvfb;
    const std::string why = xvfb.start();
    ASSERT_TRUE(why.empty()) << why;
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    ASSERT_TRUE(host_StartDesktopClipboard());

    setText("Gr\xfc\xdf"
            "e");
    EXPECT_EQ(output("xclip -selection clipboard -o"), "Gr\xc3\xbc\xc3\x9f"
                                                       "e");
    EXPECT_EQ(output("xclip -selection clipboard -t STRING -o"), "Gr\xfc\xdf"
                                                                 "e");
    // Emptied here, there is nothing there either.
    empty();
    EXPECT_EQ(output("xclip -selection clipboard -o 2>/dev/null"), "");

    ASSERT_EQ(run("printf 'caf\\303\\251 \\342\\202\\254' | xclip -selection clipboard -i >/dev/null 2>&1"),
              0);
    std::string seen;
    for (int i = 0; i < 200 && seen.empty(); i++) {
        seen = clipboardText();
        if (seen.empty()) std::this_thread::sleep_for(50ms);
    }
    EXPECT_EQ(seen, "caf\xe9 ?");
    // Taking it over does not consume it; emptying does.
    EXPECT_EQ(clipboardText(), "caf\xe9 ?");
    empty();
    EXPECT_EQ(clipboardText(), "");

    host_StopDesktopClipboard();
    xvfb.stop();
    unsetenv("DISPLAY");
}

TEST(DesktopClipboard, ADisplayThatGoesAwayLeavesTheProgramsOwnClipboard) {
#if defined(__SANITIZE_THREAD__)
    // libX11 (not built for ThreadSanitizer) releases its display lock twice on a lost connection.
    GTEST_SKIP() << "libX11's lost-connection path is reported by ThreadSanitizer";
#endif
    if (!onPath("Xvfb")) GTEST_SKIP() << "needs Xvfb (package xvfb)";
    VirtualDisplay xvfb;
    const std::string why = xvfb.start();
    ASSERT_TRUE(why.empty()) << why;
    setenv("DISPLAY", xvfb.name().c_str(), 1);
    ASSERT_TRUE(host_StartDesktopClipboard());
    setText("kept");
    xvfb.stop();
    setText("still here");
    EXPECT_EQ(clipboardText(), "still here");
    host_StopDesktopClipboard();
    unsetenv("DISPLAY");
}

} // namespace
