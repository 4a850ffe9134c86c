// Pictures through the clipboard and from the screen: pasting bitmaps of every bit count in either row
// order, refusing damaged or changed ones, copying as a 24-bit bitmap, the way back as a new image, the
// exchange with other programs on an X display, and screen grabs of the composed screen.
#include "talio_test.h"

#include "ui/Button.h"
#include "ui/Slider.h"
#include "Vlr/ImageFile.h"
#include "host/clipboard.h"
#include "host/graphics.h"
#include "host/surface.h"
#include "host/wm.h"
#include "support/VirtualDisplay.h"

#include <chrono>
#include <random>

using namespace talio_test;
using namespace std::chrono_literals;

namespace {

void put32(Bytes& b, ULONG v) {
    for (int i = 0; i < 4; i++) b.push_back(UBYTE(v >> (8 * i)));
}

// A bitmap: the 40-byte header (image size and resolutions 0), then `rest` (masks, colours, rows) as given.
Bytes bitmap(int32_t width, int32_t height, UWORD bits, ULONG compression, ULONG coloursUsed,
             const Bytes& rest) {
    Bytes b;
    put32(b, 40);
    put32(b, ULONG(width));
    put32(b, ULONG(height));
    b.insert(b.end(), {1, 0, UBYTE(bits), UBYTE(bits >> 8)});
    put32(b, compression);
    for (int i = 0; i < 3; i++) put32(b, 0);
    put32(b, coloursUsed);
    put32(b, 0);
    b.insert(b.end(), rest.begin(), rest.end());
    return b;
}

// The block with a 32-bit field replaced.
Bytes patched(Bytes b, size_t at, ULONG value) {
    for (int i = 0; i < 4; i++) b[at + i] = UBYTE(value >> (8 * i));
    return b;
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

// Colour-table entries (B, G, R, 0) of RGB triples.
Bytes colours(std::initializer_list<std::array<UBYTE, 3>> rgb) {
    Bytes out;
    for (const auto& c : rgb) out.insert(out.end(), {c[2], c[1], c[0], 0});
    return out;
}

void putOnClipboard(const Bytes& block) {
    ASSERT_TRUE(host_OpenClipboard());
    UBYTE* copy = host_AllocClipboardBlock(block.size());
    std::copy(block.begin(), block.end(), copy);
    EXPECT_TRUE(host_SetClipboardBitmap(copy, block.size()));
    host_CloseClipboard();
}

Bytes clipboardBitmap() {
    Bytes out;
    if (!host_OpenClipboard()) return out;
    size_t length = 0;
    if (const UBYTE* b = host_GetClipboardBitmap(&length)) out.assign(b, b + length);
    host_CloseClipboard();
    return out;
}

Picture rgbPicture(ULONG width, ULONG height, std::initializer_list<UBYTE> samples) {
    return Picture{width, height, 3, Bytes(samples)};
}

class ClipboardTest : public TalioFixture {
  protected:
    void SetUp() override {
        TalioFixture::SetUp();
        Tal_InitClipboardTALIOClass();
        Tal_InitScreenGrabTALIOClass();
        clip = Tal_CreateObject("ClipboardTALIO");
        ASSERT_NE(clip, 0u);
    }
    void TearDown() override {
        if (host_OpenClipboard()) {
            host_EmptyClipboard();
            host_CloseClipboard();
        }
        Tal_DisposeObject(clip);
        Tal_CleanupScreenGrabTALIOClass();
        Tal_CleanupClipboardTALIOClass();
        TalioFixture::TearDown();
    }

    TALIO_ImageBuffer* paste(ULONG* error) {
        return TALIO_LoadBufferFromTALIOA(clip, TALIO_LOAD_QUIET, error, nullptr);
    }

    // The pasted picture as RGB samples; empty when the paste failed.
    Picture pasted(ULONG* error) {
        TALIO_ImageBuffer* b = paste(error);
        if (!b) return {};
        TALIO_ImageBuffer* planes = b->format == TALIO_FORMAT_RGBPLANES ? b : TALIO_ConvertBufferFormat(b, 1);
        const Picture pic = planes ? pixelsOf(planes, 3) : Picture{};
        if (planes != b) TALIO_FreeBuffer(planes);
        TALIO_FreeBuffer(b);
        return pic;
    }

    ULONG copy(TALIO_ImageBuffer* b) {
        TALIO_Header header{};
        header.buffer = b;
        const ULONG flags = TALIO_SAVE_QUIET;
        return TALIO_SaveBufferA(&header, nullptr, "Clipboard", clip, &flags);
    }

    // The class's own Identify on a fresh header: its error number, with the buffer's size and format.
    ULONG identify(TALIO_Header* header, TALIO_ImageBuffer* buffer) {
        *header = {};
        *buffer = {};
        header->buffer = buffer;
        header->truecolour_format = header->mapped_format = TALIO_FORMAT_RGBPLANES;
        header->grey_format = TALIO_FORMAT_GREY8;
        return ULONG(Tal_DoMethod(clip, TALIO_Identify, header, 0));
    }

    ULONG clip = 0;
};

TEST_F(ClipboardTest, PastesEveryBitCountInItsRowOrder) {
    const Bytes grey256 = [] {
        Bytes p;
        for (int i = 0; i < 256; i++) p.insert(p.end(), {UBYTE(i), UBYTE(i), UBYTE(i), 0});
        return p;
    }();
    struct Case {
        const char* name;
        Bytes block;
        Picture expected;
    };
    const Case cases[] = {
        {"24 bits, width 5: rows of 16 bytes, B G R turned round",
         bitmap(5, 2, 24, 0, 0, {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13, 14, 15, 0xEE, //
                                 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 0xEE}),
         rgbPicture(5, 2, {23, 22, 21, 26, 25, 24, 29, 28, 27, 32, 31, 30, 35, 34, 33, //
                           3,  2,  1,  6,  5,  4,  9,  8,  7,  12, 11, 10, 15, 14, 13})},
        {"24 bits top-down", bitmap(1, -2, 24, 0, 0, {1, 2, 3, 0, 4, 5, 6, 0}),
         rgbPicture(1, 2, {3, 2, 1, 6, 5, 4})},
        {"8 bits, no colour count: 256 colours, rows 1024 bytes on",
         bitmap(3, 1, 8, 0, 0, concat({grey256, {7, 200, 255, 0}})),
         rgbPicture(3, 1, {7, 7, 7, 200, 200, 200, 255, 255, 255})},
        {"8 bits, 2 colours",
         bitmap(2, 1, 8, 0, 2, concat({colours({{10, 20, 30}, {40, 50, 60}}), {1, 0, 0, 0}})),
         rgbPicture(2, 1, {40, 50, 60, 10, 20, 30})},
        {"4 bits, odd width",
         bitmap(3, 1, 4, 0, 3, concat({colours({{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}), {0x21, 0x00, 0, 0}})),
         rgbPicture(3, 1, {3, 3, 3, 2, 2, 2, 1, 1, 1})},
        {"32 bits, B G R and a spare byte", bitmap(1, 1, 32, 0, 0, {9, 8, 7, 0xFF}),
         rgbPicture(1, 1, {7, 8, 9})},
        {"16 bits, 5-6-5 fields after the header",
         bitmap(2, 1, 16, 3, 0,
                concat({{0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0}, {0x00, 0xF8, 0x41, 0x08}})),
         rgbPicture(2, 1, {255, 0, 0, 8, 8, 8})},
        {"32 bits, R G B fields in a longer header",
         patched(
             bitmap(1, 1, 32, 3, 0,
                    concat(
                        {{0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0}, Bytes(108 - 52, 0), {1, 2, 3, 0}})),
             0, 108),
         rgbPicture(1, 1, {1, 2, 3})},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putOnClipboard(c.block);
        ULONG error = 0;
        EXPECT_EQ(pasted(&error), c.expected);
        EXPECT_EQ(error, TALIO_OK);
        // A pasted picture leaves the clipboard.
        EXPECT_TRUE(clipboardBitmap().empty());
    }
}

TEST_F(ClipboardTest, OneBitBitmapsCopyOnlyTheirOwnBytesPerRow) {
    // Width 9: bitmap rows hold 4 bytes, bitplane rows 2. Bottom-up, each row different.
    const Bytes rows = {0x80, 0x80, 0xAA, 0xAA,  // bottom: pixels 0 and 8
                        0x01, 0x00, 0xBB, 0xBB,  // pixel 7
                        0xFF, 0x80, 0xCC, 0xCC}; // top: all nine
    putOnClipboard(bitmap(9, 3, 1, 0, 0, concat({colours({{0, 0, 0}, {255, 255, 255}}), rows})));
    TALIO_Header header;
    TALIO_ImageBuffer probe;
    ASSERT_EQ(identify(&header, &probe), TALIO_OK);
    EXPECT_EQ(probe.format, TALIO_FORMAT_BITPLANES);
    EXPECT_EQ(probe.depth, 1u);
    ULONG error = 0;
    const Picture pic = pasted(&error);
    ASSERT_EQ(error, TALIO_OK);
    std::string seen;
    for (ULONG y = 0; y < 3; y++, seen += '/')
        for (ULONG x = 0; x < 9; x++) seen += pic.samples[(y * 9 + x) * 3] ? '#' : '.';
    EXPECT_EQ(seen, "#########/.......#./#.......#/");
}

TEST_F(ClipboardTest, DamagedOrForeignBitmapsAreRefusedAndStay) {
    const Bytes row24 = {1, 2, 3, 0};
    struct Case {
        const char* name;
        Bytes block;
        ULONG identified; // the class's own answer (the registry makes any failure 8)
    };
    const Case cases[] = {
        {"colours used 100000", bitmap(1, 1, 8, 0, 100000, Bytes(1024 + 4, 0)), TALIO_ERR_DAMAGED},
        {"run-length compression", bitmap(4, 1, 8, 1, 0, Bytes(1024 + 8, 0)), TALIO_ERR_UNKNOWN},
        {"height larger than the data", bitmap(1, 500, 24, 0, 0, row24), TALIO_ERR_DAMAGED},
        {"negative height larger than the data", bitmap(1, -500, 24, 0, 0, row24), TALIO_ERR_DAMAGED},
        {"most negative height", bitmap(1, INT32_MIN, 24, 0, 0, row24), TALIO_ERR_UNKNOWN},
        {"header size beyond the block", patched(bitmap(1, 1, 24, 0, 0, row24), 0, 200), TALIO_ERR_DAMAGED},
        {"header shorter than 40 bytes", patched(bitmap(1, 1, 24, 0, 0, row24), 0, 12), TALIO_ERR_DAMAGED},
        {"fields missing after the header", bitmap(1, 1, 32, 3, 0, {}), TALIO_ERR_DAMAGED},
        {"fields of split bits",
         bitmap(1, 1, 16, 3, 0, {0x0F, 0xF0, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0, 0, 0, 0, 0}),
         TALIO_ERR_UNKNOWN},
        {"16 bits without fields", bitmap(1, 1, 16, 0, 0, row24), TALIO_ERR_UNKNOWN},
        {"2 bits", bitmap(1, 1, 2, 0, 0, concat({Bytes(16, 0), row24})), TALIO_ERR_UNKNOWN},
        {"width 0", bitmap(0, 1, 24, 0, 0, row24), TALIO_ERR_UNKNOWN},
        {"a block shorter than a header", Bytes{40, 0, 0, 0, 1, 0, 0, 0}, TALIO_ERR_DAMAGED},
        {"a palette the block does not hold", bitmap(2, 1, 8, 0, 0, Bytes(100, 0)), TALIO_ERR_DAMAGED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putOnClipboard(c.block);
        TALIO_Header header;
        TALIO_ImageBuffer probe;
        EXPECT_EQ(identify(&header, &probe), c.identified);
        ULONG error = 0;
        EXPECT_EQ(paste(&error), nullptr);
        EXPECT_EQ(error, TALIO_ERR_UNKNOWN);
        EXPECT_EQ(clipboardBitmap(), c.block);
    }
    // Nothing on the clipboard at all.
    ASSERT_TRUE(host_OpenClipboard());
    host_EmptyClipboard();
    host_CloseClipboard();
    ULONG error = 0;
    EXPECT_EQ(paste(&error), nullptr);
    EXPECT_EQ(error, TALIO_ERR_UNKNOWN);
}

TEST_F(ClipboardTest, ABitmapThatChangedAfterIdentifyIsNotPasted) {
    struct Case {
        const char* name;
        Bytes later;
    };
    const Bytes first = bitmap(2, 2, 24, 0, 0, Bytes(16, 7));
    const Case cases[] = {
        {"wider", bitmap(3, 2, 24, 0, 0, Bytes(24, 7))},
        {"other bit count, same size", bitmap(2, 2, 32, 0, 0, Bytes(16, 7))},
        {"gone", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        putOnClipboard(first);
        TALIO_Header header;
        TALIO_ImageBuffer buffer;
        ASSERT_EQ(identify(&header, &buffer), TALIO_OK);
        NewList(&buffer.layers);
        ASSERT_EQ(TALIO_AllocBufferMem(&buffer), 1u);
        if (c.later.empty()) {
            ASSERT_TRUE(host_OpenClipboard());
            host_EmptyClipboard();
            host_CloseClipboard();
        } else {
            putOnClipboard(c.later);
        }
        EXPECT_EQ(ULONG(Tal_DoMethod(clip, TALIO_Load, &header)), TALIO_ERR_DAMAGED);
        TALIO_FreeBufferMem(&buffer);
        EXPECT_EQ(clipboardBitmap(), c.later);
    }
}

TEST_F(ClipboardTest, CopyPutsA24BitBottomUpBitmapAndPastesBack) {
    // 3 x 2: 40 bytes of header, the bottom row, the top row (12 bytes each), 4 spare bytes.
    TALIO_ImageBuffer* small =
        bufferOf(rgbPicture(3, 2, {1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12, 13, 14, 15, 16, 17, 18, 19}));
    ASSERT_EQ(copy(small), TALIO_OK);
    const Bytes expected =
        concat({bitmap(3, 2, 24, 0, 0, {}),
                {13, 12, 11, 16, 15, 14, 19, 18, 17, 0, 0, 0, 3, 2, 1, 6, 5, 4, 9, 8, 7, 0, 0, 0},
                {0, 0, 0, 0}});
    EXPECT_EQ(clipboardBitmap(), expected);
    TALIO_FreeBuffer(small);

    // A picture of odd size comes back as it went; the clipboard is empty after it.
    const Picture picture = testPicture(37, 23);
    TALIO_ImageBuffer* b = bufferOf(picture);
    ASSERT_EQ(copy(b), TALIO_OK);
    ULONG error = 0;
    EXPECT_EQ(pasted(&error), picture);
    EXPECT_EQ(paste(&error), nullptr);
    EXPECT_EQ(error, TALIO_ERR_UNKNOWN);
    TALIO_FreeBuffer(b);

    // A grey picture copies as colour.
    const Picture grey = testPicture(5, 4, 1);
    TALIO_ImageBuffer* g = bufferOf(grey);
    ASSERT_EQ(copy(g), TALIO_OK);
    Picture asColour{5, 4, 3, {}};
    for (UBYTE v : grey.samples) asColour.samples.insert(asColour.samples.end(), {v, v, v});
    EXPECT_EQ(pasted(&error), asColour);
    TALIO_FreeBuffer(g);
}

TEST_F(ClipboardTest, APictureThatCannotBeReadPutsNothing) {
    putOnClipboard(bitmap(1, 1, 24, 0, 0, {1, 2, 3, 0}));
    const Bytes before = clipboardBitmap();
    TALIO_ImageBuffer* unreadable = TALIO_AllocBuffer(4, 4, 24, 0, TALIO_FORMAT_RGB24, 0);
    ASSERT_NE(unreadable, nullptr);
    EXPECT_EQ(copy(unreadable), TALIO_ERR_DAMAGED);
    EXPECT_EQ(clipboardBitmap(), before);
    TALIO_FreeBuffer(unreadable);
}

TEST_F(ClipboardTest, CopiedImagePastesAsANewImage) {
    Tal_InitImageClass();
    ASSERT_NE(Tal__OpenImageEngine(), nullptr);
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    ASSERT_TRUE(Tal_AllocImage(image, 7, 5, 24, TAL_ALLOC_NO_THREAD));
    for (LONG y = 0; y < 5; y++)
        for (LONG x = 0; x < 7; x++) {
            image->red[y][x] = UBYTE(x * 30);
            image->green[y][x] = UBYTE(y * 50);
            image->blue[y][x] = UBYTE(x + y);
        }
    EXPECT_EQ(Tal__SaveImageA(image, nullptr, "Clipboard", clip, TAL_SAVE_QUIET, nullptr), 1u);
    Tal_Image* pastedImage = Tal__LoadImageA(nullptr, 0, clip, TAL_LOAD_QUIET | TAL_LOAD_ONLY, nullptr);
    ASSERT_NE(pastedImage, nullptr);
    ASSERT_EQ(pastedImage->width, 7);
    ASSERT_EQ(pastedImage->height, 5);
    for (LONG y = 0; y < 5; y++)
        for (LONG x = 0; x < 7; x++) {
            EXPECT_EQ(pastedImage->red[y][x], image->red[y][x]);
            EXPECT_EQ(pastedImage->green[y][x], image->green[y][x]);
            EXPECT_EQ(pastedImage->blue[y][x], image->blue[y][x]);
        }
    Tal_DisposeObject(pastedImage->header.handle);
    Tal_DisposeObject(image->header.handle);
    Tal__CloseImageEngine();
    Tal_CleanupImageClass();
}

// ---------------------------------------------------------------------------------------------------
// Screen grabs.

class ScreenGrabTest : public ClipboardTest {
  protected:
    void SetUp() override {
        ClipboardTest::SetUp();
        host_InitWindowSystem(40, 30);
        grab = Tal_CreateObject("ScreenGrabTALIO");
        ASSERT_NE(grab, 0u);
        Tal_DoMethod(grab, ScreenGrabTALIO_SetDelay, 0);
    }
    void TearDown() override {
        Tal_DoMethod(grab, ScreenGrabTALIO_SetDelay, 2);
        Tal_DisposeObject(grab);
        host_CleanupWindowSystem();
        ClipboardTest::TearDown();
    }
    ULONG grab = 0;
};

TEST_F(ScreenGrabTest, GrabsTheComposedScreenAndSavesNothing) {
    host_WindowDesc desc;
    desc.rect = {5, 4, 20, 10};
    desc.proc = [](host_Window*, ULONG, Tal_Word, Tal_Word) -> Tal_Word { return 0; };
    host_Window* window = host_CreateWindow(desc);
    ASSERT_NE(window, nullptr);
    RastPort rp{};
    InitRastPort(&rp);
    rp.rp_Layer = host_GetLayer(window);
    FillPixelArray(&rp, 0, 0, 20, 10, 0x00336699);
    FillPixelArray(&rp, 3, 2, 1, 1, 0x00FEDCBA);

    ULONG error = 0;
    TALIO_ImageBuffer* b = TALIO_LoadBufferFromTALIOA(grab, TALIO_LOAD_QUIET, &error, nullptr);
    ASSERT_NE(b, nullptr) << error;
    host_Surface* screen = host_AllocSurface(40, 30);
    host_ComposeScreen(screen);
    Picture expected{40, 30, 3, {}};
    for (LONG y = 0; y < 30; y++)
        for (LONG x = 0; x < 40; x++) {
            const ULONG c = host_PixelToColour(screen->pixels[y * screen->stride + x]);
            expected.samples.insert(expected.samples.end(), {UBYTE(c), UBYTE(c >> 8), UBYTE(c >> 16)});
        }
    host_FreeSurface(screen);
    EXPECT_EQ(pixelsOf(b, 3), expected);
    EXPECT_EQ(expected.samples[((4 + 2) * 40 + 5 + 3) * 3], 0xBA);

    EXPECT_EQ(ULONG(Tal_DoMethod(grab, TALIO_Save, b->header)), TALIO_ERR_UNSUPPORTED);
    TALIO_FreeBuffer(b);
    host_DestroyWindow(window);
}

TEST_F(ScreenGrabTest, TheOptionsGroupSetsTheDelayWithinItsRange) {
    Tal_DoMethod(grab, ScreenGrabTALIO_SetDelay, 99);
    EXPECT_EQ(ULONG(Tal_DoMethod(grab, ScreenGrabTALIO_GetDelay)), 30u);
    // After the requester the group's values count: delay 0 from its slider.
    const ULONG group = ULONG(Tal_DoMethod(grab, TALIO_GetLoadOptions));
    ASSERT_NE(group, 0u);
    ULONG slider = 0;
    for (ULONG row = ULONG(Tal_DoMethod(group, TAL_GetFirstGroupObject)); row && !slider;
         row = ULONG(Tal_DoMethod(group, TAL_GetNextGroupObject, row)))
        for (ULONG o = ULONG(Tal_DoMethod(row, TAL_GetFirstGroupObject)); o;
             o = ULONG(Tal_DoMethod(row, TAL_GetNextGroupObject, o)))
            if (Tal_DoMethod(o, TAL_GetMaximum) == 30) slider = o;
    ASSERT_NE(slider, 0u);
    EXPECT_EQ(Tal_DoMethod(slider, TAL_GetValue), 30);
    Tal_DoMethod(slider, TAL_SetValue, 0);
    TALIO_Header header{};
    TALIO_ImageBuffer buffer{};
    header.buffer = &buffer;
    header.truecolour_format = TALIO_FORMAT_RGBPLANES;
    EXPECT_EQ(ULONG(Tal_DoMethod(grab, TALIO_Identify, &header, 1)), TALIO_OK);
    EXPECT_EQ(ULONG(Tal_DoMethod(grab, ScreenGrabTALIO_GetDelay)), 0u);
    EXPECT_EQ(buffer.width, 40u);
    EXPECT_EQ(buffer.height, 30u);
    EXPECT_EQ(buffer.depth, 24u);
}

// ---------------------------------------------------------------------------------------------------
// Other programs, on a virtual X display.

class DesktopClipboardTest : public ClipboardTest {
  protected:
    void SetUp() override {
        if (!onPath("Xvfb") || !onPath("xclip") || !onPath("pngtopam"))
            GTEST_SKIP() << "needs Xvfb, xclip and netpbm (packages xvfb, xclip, netpbm)";
        ClipboardTest::SetUp();
        const std::string why = xvfb.start();
        ASSERT_TRUE(why.empty()) << why;
        setenv("DISPLAY", xvfb.name().c_str(), 1);
        ASSERT_TRUE(host_StartDesktopClipboard());
    }
    void TearDown() override {
        if (!IsSkipped()) {
            ClipboardTest::TearDown();
            host_StopDesktopClipboard();
        }
        xvfb.stop();
        unsetenv("DISPLAY");
    }
    // Puts a PNG file on the X clipboard through xclip and waits until xclip offers it.
    void xclipIn(const fs::path& png) {
        ASSERT_TRUE(host_OpenClipboard());
        host_EmptyClipboard();
        host_CloseClipboard();
        ASSERT_EQ(run("xclip -selection clipboard -t image/png -i " + quoted(png) + " >/dev/null 2>&1"), 0);
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (output("xclip -selection clipboard -t TARGETS -o 2>/dev/null").find("image/png") ==
                   std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(50ms);
    }
    Picture xclipOut() {
        const fs::path out = path("out.png");
        if (run("xclip -selection clipboard -t image/png -o > " + quoted(out)) != 0) return {};
        const std::string ppm = output("pngtopam " + quoted(out));
        return readPnm(Bytes(ppm.begin(), ppm.end()));
    }
    VirtualDisplay xvfb;
};

// Random samples: a PNG of them is larger than one piece of a transfer.
Picture noisePicture(ULONG width, ULONG height) {
    std::mt19937 random(7);
    Picture pic{width, height, 3, Bytes(size_t(width) * height * 3)};
    for (UBYTE& s : pic.samples) s = UBYTE(random());
    return pic;
}

TEST_F(DesktopClipboardTest, PicturesMoveBetweenVeluraAndOtherPrograms) {
    for (const Picture& picture : {testPicture(61, 37), noisePicture(400, 300)}) {
        SCOPED_TRACE(std::to_string(picture.width) + " x " + std::to_string(picture.height));
        // Copied here, read there.
        TALIO_ImageBuffer* b = bufferOf(picture);
        ASSERT_EQ(copy(b), TALIO_OK);
        TALIO_FreeBuffer(b);
        EXPECT_EQ(xclipOut(), picture);

        // Copied there, pasted here (once).
        const Picture other = picture.width > 100 ? noisePicture(401, 300) : testPicture(61, 37, 3, 5);
        writeFile(path("in.ppm"), pnmBytes(other));
        ASSERT_EQ(run("pnmtopng " + quoted(path("in.ppm")) + " > " + quoted(path("in.png")) + " 2>/dev/null"),
                  0);
        xclipIn(path("in.png"));
        ULONG error = 0;
        EXPECT_EQ(pasted(&error), other);
        EXPECT_EQ(paste(&error), nullptr);
    }
}

} // namespace
