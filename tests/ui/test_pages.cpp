// Pictures (the interface ILBM reader, built-in pictures, BitMap), tabbed pages, the scrolling group and
// the tip window, most of them in a headless window driven by stylus taps.
#include "ui/Button.h"
#include "Tal/Catalogue.h"
#include "ui/Pages.h"
#include "ui/Slider.h"
#include "ui/Window.h"
#include "host/display.h"
#include "host/dos.h"
#include "host/intuition.h"
#include "support/TalTest.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<UBYTE>;

std::string tmpDir() {
    const char* base = std::getenv("VELURA_TEST_TMP");
    std::string dir = std::string(base ? base : "/tmp") + "/pages";
    mkdir((base ? base : "/tmp"), 0755);
    mkdir(dir.c_str(), 0755);
    return dir;
}

Bytes readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

void writeAll(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), std::streamsize(data.size()));
}

struct Ppm {
    LONG width = 0, height = 0;
    Bytes rgb;
};

// A binary PPM with maxval 255.
Ppm readPpm(const std::string& path) {
    Bytes data = readAll(path);
    std::string text(data.begin(), data.end());
    std::istringstream in(text);
    std::string magic;
    int maxval = 0;
    Ppm p;
    in >> magic >> p.width >> p.height >> maxval;
    in.get();
    if (magic != "P6" || maxval != 255) return {};
    size_t at = size_t(in.tellg());
    p.rgb.assign(data.begin() + long(at), data.end());
    return p;
}

void writePpm(const std::string& path, LONG w, LONG h, const Bytes& rgb) {
    std::string header = "P6\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    Bytes out(header.begin(), header.end());
    out.insert(out.end(), rgb.begin(), rgb.end());
    writeAll(path, out);
}

// The colour of every pixel of a decoded picture, as red, green, blue.
Bytes pictureRgb(const Tal_InterfacePicture& p) {
    Bytes indices(size_t(p.width) * size_t(p.height));
    planar_to_chunky(p.planes->Planes[0], indices.data(), ULONG(p.width), ULONG(p.height), ULONG(p.depth),
                     p.planes->BytesPerRow, ULONG(p.width));
    Bytes rgb;
    for (UBYTE i : indices) rgb.insert(rgb.end(), p.palette + 3 * i, p.palette + 3 * i + 3);
    return rgb;
}

// IFF files put together chunk by chunk.
Bytes be32(ULONG v) {
    return {UBYTE(v >> 24), UBYTE(v >> 16), UBYTE(v >> 8), UBYTE(v)};
}
Bytes chunk(const char* id, const Bytes& data, bool pad = true) {
    Bytes out(id, id + 4);
    Bytes length = be32(ULONG(data.size()));
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), data.begin(), data.end());
    if (pad && (data.size() & 1)) out.push_back(0);
    return out;
}
Bytes form(std::initializer_list<Bytes> chunks, const char* type = "ILBM") {
    Bytes body(type, type + 4);
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out = {'F', 'O', 'R', 'M'};
    Bytes length = be32(ULONG(body.size()));
    out.insert(out.end(), length.begin(), length.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}
Bytes bmhd(UWORD w, UWORD h, UBYTE planes, UBYTE masking = 0, UBYTE compression = 0) {
    Bytes b(20, 0);
    b[0] = UBYTE(w >> 8);
    b[1] = UBYTE(w);
    b[2] = UBYTE(h >> 8);
    b[3] = UBYTE(h);
    b[8] = planes;
    b[9] = masking;
    b[10] = compression;
    return chunk("BMHD", b);
}
Bytes cmap(std::initializer_list<UBYTE> rgb) {
    return chunk("CMAP", Bytes(rgb));
}

// Reads bytes held in a block of exactly their size, so that AddressSanitizer sees any read beyond.
bool readIlbm(const Bytes& bytes, Tal_InterfacePicture* picture) {
    auto* exact = new UBYTE[std::max<size_t>(bytes.size(), 1)];
    std::copy(bytes.begin(), bytes.end(), exact);
    bool ok = Tal__ReadInterfaceILBM(exact, bytes.size(), picture) != 0;
    delete[] exact;
    return ok;
}

// ---------------------------------------------------------------------------------------------------
// The interface ILBM reader.

TEST(InterfaceIlbm, PicturesFromNetpbmReadBackAsTheirPpm) {
    const std::string dir = tmpDir();
    // A picture with more colours than 16, so that pnmquant has to choose.
    const LONG w = 37, h = 23;
    Bytes rgb;
    for (LONG y = 0; y < h; y++)
        for (LONG x = 0; x < w; x++)
            rgb.insert(rgb.end(), {UBYTE(x * 7), UBYTE(255 - y * 11), UBYTE((x * y) % 200 + 40)});
    writePpm(dir + "/source.ppm", w, h, rgb);
    ASSERT_EQ(std::system(("pnmquant 16 " + dir + "/source.ppm > " + dir + "/quant.ppm 2>/dev/null").c_str()),
              0);
    const Ppm quantised = readPpm(dir + "/quant.ppm");
    ASSERT_EQ(quantised.width, w);
    ASSERT_EQ(std::system(("pbmmake -gray 37 23 > " + dir + "/mask.pbm").c_str()), 0);

    for (const char* options : {"", "-nocompress", "-maskfile " /* + mask */}) {
        SCOPED_TRACE(options);
        std::string opts = options;
        if (opts.starts_with("-maskfile")) opts += dir + "/mask.pbm";
        const std::string file = dir + "/netpbm.iff";
        ASSERT_EQ(
            std::system(("ppmtoilbm " + opts + " " + dir + "/quant.ppm > " + file + " 2>/dev/null").c_str()),
            0);
        Tal_InterfacePicture picture;
        ASSERT_TRUE(readIlbm(readAll(file), &picture));
        EXPECT_EQ(picture.width, w);
        EXPECT_EQ(picture.height, h);
        EXPECT_EQ(picture.depth, 4);
        EXPECT_EQ(pictureRgb(picture), quantised.rgb);
        Tal__FreeInterfacePicture(&picture);
    }
}

TEST(InterfaceIlbm, TruncatedFilesAreRefused) {
    const std::string dir = tmpDir();
    Bytes rgb;
    for (int i = 0; i < 11 * 9; i++) rgb.insert(rgb.end(), {UBYTE(i * 37), UBYTE(i * 11), UBYTE(i * 5)});
    writePpm(dir + "/small.ppm", 11, 9, rgb);
    for (const char* options : {"", "-nocompress"}) {
        ASSERT_EQ(std::system(("pnmquant 8 " + dir + "/small.ppm 2>/dev/null | ppmtoilbm " + options + " > " +
                               dir + "/small.iff 2>/dev/null")
                                  .c_str()),
                  0);
        const Bytes whole = readAll(dir + "/small.iff");
        // The BODY's data ends the picture; what follows (a pad byte) may be missing.
        size_t bodyEnd = 0;
        for (size_t pos = 12; pos + 8 <= whole.size();) {
            const size_t length = size_t(whole[pos + 4]) << 24 | size_t(whole[pos + 5]) << 16 |
                                  size_t(whole[pos + 6]) << 8 | whole[pos + 7];
            if (std::equal(whole.begin() + long(pos), whole.begin() + long(pos) + 4, "BODY"))
                bodyEnd = pos + 8 + length;
            pos += 8 + length + (length & 1);
        }
        ASSERT_GT(bodyEnd, 0u);
        for (size_t n = 0; n <= whole.size(); n++) {
            Tal_InterfacePicture picture;
            const bool read = readIlbm(Bytes(whole.begin(), whole.begin() + long(n)), &picture);
            EXPECT_EQ(read, n >= bodyEnd) << options << " cut at " << n;
            Tal__FreeInterfacePicture(&picture);
        }
    }
}

TEST(InterfaceIlbm, CraftedFiles) {
    const Bytes onePlaneRow = {0xF0, 0x0F}; // a 16-pixel line
    struct Case {
        const char* what;
        Bytes file;
        bool read;
        ULONG colours; // when read
    };
    const Case cases[] = {
        {"width 0", form({bmhd(0, 1, 1), chunk("BODY", {0, 0})}), false, 0},
        {"height 0", form({bmhd(16, 0, 1), chunk("BODY", {0, 0})}), false, 0},
        {"9 planes", form({bmhd(16, 1, 9), chunk("BODY", Bytes(18, 0))}), false, 0},
        {"unknown compression", form({bmhd(16, 1, 1, 0, 2), chunk("BODY", onePlaneRow)}), false, 0},
        {"BODY before BMHD", form({chunk("BODY", onePlaneRow), bmhd(16, 1, 1)}), false, 0},
        {"no BODY", form({bmhd(16, 1, 1), cmap({0, 0, 0, 255, 255, 255})}), false, 0},
        {"not an ILBM", form({bmhd(16, 1, 1), chunk("BODY", onePlaneRow)}, "PBM "), false, 0},
        {"chunk longer than the file",
         [] {
             Bytes f = form({bmhd(16, 1, 1), chunk("BODY", {0xF0, 0x0F})});
             f[f.size() - 5] = 0x7F; // the BODY length's high byte
             return f;
         }(),
         false, 0},
        {"CMAP longer than the file",
         [] {
             Bytes f = form({bmhd(16, 1, 1), chunk("BODY", {0xF0, 0x0F}), cmap({1, 2, 3})});
             f[f.size() - 4 - 4] = 0x10;
             return f;
         }(),
         false, 0},
        {"short raw BODY", form({bmhd(16, 2, 1), chunk("BODY", onePlaneRow)}), false, 0},
        {"literal run past the line", form({bmhd(16, 2, 1, 0, 1), chunk("BODY", {5, 1, 2, 3, 4, 5, 6})}), false, 0},
        {"repeat run past the line", form({bmhd(16, 2, 1, 0, 1), chunk("BODY", {0xF0, 0xAA})}), false, 0},
        {"literal run past the BODY", form({bmhd(16, 1, 1, 0, 1), chunk("BODY", {0x7F, 1})}), false, 0},
        {"repeat without its byte", form({bmhd(16, 1, 1, 0, 1), chunk("BODY", {0xFF})}), false, 0},
        {"huge picture, tiny BODY", form({bmhd(32767, 32767, 8, 0, 1), chunk("BODY", {0x81, 0})}), false, 0},
        {"odd chunk before the BODY",
         form({bmhd(16, 1, 1), chunk("ANNO", {'a', 'b', 'c'}), cmap({0, 0, 0, 255, 255, 255}),
               chunk("BODY", onePlaneRow)}),
         true, 2},
        {"empty CMAP", form({bmhd(16, 1, 4), cmap({}), chunk("BODY", Bytes(8, 0))}), true, 0},
        {"32 colours on 4 planes",
         [] {
             Bytes colours(96);
             for (size_t i = 0; i < colours.size(); i++) colours[i] = UBYTE(i);
             return form({bmhd(16, 1, 4), chunk("CMAP", colours), chunk("BODY", Bytes(8, 0))});
         }(),
         true, 16},
        {"CMAP with a stray byte", form({bmhd(16, 1, 1), cmap({9, 9, 9, 8, 8, 8, 7}), chunk("BODY", onePlaneRow)}),
         true, 2},
        {"ByteRun1 with no-op bytes", form({bmhd(16, 1, 1, 0, 1), chunk("BODY", {0x80, 0x01, 0xF0, 0x0F})}), true, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tal_InterfacePicture picture;
        ASSERT_EQ(readIlbm(c.file, &picture), c.read);
        if (c.read) {
            EXPECT_EQ(picture.colours, c.colours);
        }
        Tal__FreeInterfacePicture(&picture);
    }
}

TEST(InterfaceIlbm, LinesMasksAndPalettes) {
    Tal_InterfacePicture p;
    // Width 33: lines of 6 bytes. ByteRun1 FD 07 repeats 07 four times.
    ASSERT_TRUE(readIlbm(form({bmhd(33, 1, 1, 0, 1), chunk("BODY", {0xFD, 0x07, 0x01, 0xAB, 0xCD})}), &p));
    EXPECT_EQ(p.planes->Planes[0][0], 0x07);
    EXPECT_EQ(p.planes->Planes[0][3], 0x07);
    EXPECT_EQ(p.planes->Planes[0][4], 0xAB);
    EXPECT_EQ(p.planes->Planes[0][5], 0xCD);
    // Without a colour map, a grey ramp: 0 and 255 for one plane.
    EXPECT_EQ(p.palette[3], 255);
    Tal__FreeInterfacePicture(&p);

    // Masking 1 with two planes: three lines a row, the third dropped.
    ASSERT_TRUE(readIlbm(form({bmhd(16, 2, 2, 1), chunk("BODY", {0x80, 0, 0x40, 0, 0xFF, 0xFF,     // row 0
                                                                 0, 0x01, 0, 0x02, 0xFF, 0xFF})}), // row 1
                         &p));
    Bytes rgb = pictureRgb(p);
    auto grey = [&](int x, int y) { return rgb[3 * size_t(y * 16 + x)]; };
    EXPECT_EQ(grey(0, 0), 85);  // plane 0
    EXPECT_EQ(grey(1, 0), 170); // plane 1
    EXPECT_EQ(grey(2, 0), 0);
    EXPECT_EQ(grey(15, 1), 85);
    EXPECT_EQ(grey(14, 1), 170);
    Tal__FreeInterfacePicture(&p);
}

TEST(InterfaceIlbm, ShippedPicturesReadAsThePeerReadsThem) {
    const std::string dir = tmpDir();
    for (const char* name : {"FolderContracted", "DidYouKnow"}) {
        SCOPED_TRACE(name);
        const std::string file = std::string(VELURA_DATA_DIR) + "/Data/Images/" + name + ".iff";
        ASSERT_EQ(std::system(("ilbmtoppm " + file + " > " + dir + "/peer.ppm 2>/dev/null").c_str()), 0);
        Tal_InterfacePicture picture;
        ASSERT_TRUE(readIlbm(readAll(file), &picture));
        EXPECT_EQ(pictureRgb(picture), readPpm(dir + "/peer.ppm").rgb);
        Tal__FreeInterfacePicture(&picture);
    }
}

TEST(BuiltInPictures, NamesWithAndWithoutThePrefix) {
    EXPECT_EQ(Tal_FindBuiltInPicture("Data/Images/ToolBar/Clone"), 1u);
    EXPECT_EQ(Tal_FindBuiltInPicture("Tal_Images:ToolBar/Line"),
              Tal_FindBuiltInPicture("Data/Images/ToolBar/Line"));
    EXPECT_EQ(Tal_FindBuiltInPicture("data\\images\\tabs\\transparency"), TAL_BUILTIN_PICTURES);
    EXPECT_EQ(Tal_FindBuiltInPicture("Data/Images/ToolBar/Open"), 0u);
    EXPECT_EQ(Tal__GetBuiltInPicture(0), nullptr);
    EXPECT_EQ(Tal__GetBuiltInPicture(TAL_BUILTIN_PICTURES + 1), nullptr);
    for (ULONG h = 1; h <= TAL_BUILTIN_PICTURES; h++) {
        const Tal_BuiltInPicture* p = Tal__GetBuiltInPicture(h);
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(Tal_FindBuiltInPicture(p->name), h);
        EXPECT_EQ(p->width, 16);
        EXPECT_EQ(p->height, 16);
    }
}

// ---------------------------------------------------------------------------------------------------
// In a window on the headless screen, driven by the stylus.

// Every notification of the watched objects, in order.
class Listener {
  public:
    void watch(ULONG object, ULONG id) {
        Tal_AddCallBackNotify(object, id, TAL_AnyValue, hear, Tal_Word(this));
    }
    std::vector<LONG> values() {
        std::lock_guard lock(mutex_);
        return values_;
    }

  private:
    static Tal_Word hear(Tal_Word user, ULONG, ULONG, const Tal_Word* args) {
        auto* self = reinterpret_cast<Listener*>(user);
        std::lock_guard lock(self->mutex_);
        self->values_.push_back(LONG(int32_t(uint32_t(args[0]))));
        return 0;
    }
    std::mutex mutex_;
    std::vector<LONG> values_;
};

const Tal_Box& boxOf(ULONG object) {
    return *reinterpret_cast<Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
}

bool hidden(ULONG object) {
    return Tal_DoMethod(object, TAL_IsHidden) != 0;
}

class PagesInWindow : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    void TearDown() override {
        for (ULONG o : owned) Tal_DisposeObject(o);
        settle();
        TalFixture::TearDown();
    }
    ULONG own(ULONG object) {
        owned.push_back(object);
        return object;
    }
    // A window at (x, y) holding the object, started and idle.
    ULONG open(ULONG content, LONG x, LONG y, LONG width, LONG height) {
        window = own(Tal_CreateObject("Window", TAL_SetWindowX, x, TAL_SetWindowY, y, TAL_SetWindowW, width,
                                      TAL_SetWindowH, height));
        Tal_DoMethod(window, TAL_AddTail, content);
        Tal_DoMethod(window, TAL_Start);
        settle();
        return window;
    }
    static Window* host(ULONG win) { return reinterpret_cast<Window*>(Tal_DoMethod(win, TAL_GetHostWindow)); }
    // A point of an object (its middle by default) on the logical screen.
    void at(ULONG object, LONG* x, LONG* y, LONG dx = -1, LONG dy = -1) const {
        const Tal_Box& b = boxOf(object);
        const host_Rect r = host_GetScreenRect(host(window)->HostWindow);
        *x = r.x + b.x + (dx < 0 ? b.width / 2 : dx);
        *y = r.y + b.y + (dy < 0 ? b.height / 2 : dy);
    }
    void tap(ULONG object, LONG dx = -1, LONG dy = -1) {
        LONG x, y;
        at(object, &x, &y, dx, dy);
        host_InjectMouseMove(x, y);
        host_InjectButton(0, true, x, y);
        settle();
        host_InjectButton(0, false, x, y);
        settle();
    }
    // A method performed in the window's thread, as the program's own calls are.
    void inWindow(ULONG target, ULONG method, Tal_Word argument) {
        Tal_DoAsyncMethod(window, TAL_DoAsyncMethodMethod, target, method, argument, 0);
        settle();
    }
    // The program colour (0x00BBGGRR) of a point of an object as the screen shows it.
    ULONG shown(ULONG object, LONG dx, LONG dy) {
        LONG x, y;
        at(object, &x, &y, dx, dy);
        host_Surface* screen = host_AllocSurface(240, 320);
        host_ComposeScreen(screen);
        const ULONG colour = host_PixelToColour(screen->pixels[y * screen->stride + x]);
        host_FreeSurface(screen);
        return colour;
    }
    std::vector<ULONG> owned;
    ULONG window = 0;
};

ULONG rgb(UBYTE r, UBYTE g, UBYTE b) {
    return ULONG(b) << 16 | ULONG(g) << 8 | r;
}

// A two-plane picture: colour 0 on the left half, colour 2 on the right half.
Bytes halvesPicture(UWORD width, UWORD height) {
    const size_t rowBytes = size_t((width + 15) / 16) * 2;
    Bytes body;
    for (UWORD y = 0; y < height; y++) {
        Bytes plane1(rowBytes, 0);
        for (UWORD x = width / 2; x < width; x++) plane1[x / 8] |= UBYTE(0x80 >> (x % 8));
        body.insert(body.end(), rowBytes, 0); // plane 0
        body.insert(body.end(), plane1.begin(), plane1.end());
    }
    return form(
        {bmhd(width, height, 2), cmap({255, 0, 0, 0, 255, 0, 0, 0, 255, 255, 255, 0}), chunk("BODY", body)});
}

TEST_F(PagesInWindow, PicturesShowFromFilesAndBuiltInNames) {
    const std::string dir = tmpDir();
    writeAll(dir + "/halves.iff", halvesPicture(20, 10));
    writeAll(dir + "/halves48.iff", halvesPicture(48, 48));
    const ULONG backdrop = rgb(0x33, 0x66, 0x99);
    const ULONG row = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupFrame, 6,
                                       TAL_SetColour1, backdrop, TAL_SetGroupSpacing, 4);
    const ULONG file = Tal_CreateObject("BitMap", TAL_LoadBitMap, (dir + "/halves.iff").c_str());
    const ULONG file48 = Tal_CreateObject("BitMap", TAL_LoadBitMap, (dir + "/halves48.iff").c_str());
    const ULONG line = Tal_CreateObject("BitMap", TAL_LoadBitMap, "Tal_Images:ToolBar/Line");
    const ULONG magnify = Tal_CreateObject("BitMap", TAL_SetToolBarName, "Magnify");
    for (ULONG b : {file, file48, line, magnify}) Tal_DoMethod(row, TAL_AddTail, b);
    Tal_DoMethod(row, TAL_AddTail, Tal_CreateObject("Space"));
    open(row, 0, 0, 200, 60);

    EXPECT_EQ(boxOf(file).width, 20);
    EXPECT_EQ(boxOf(file).height, 10);
    // Colour 0 shows what is behind, other colours their own; a 48 × 48 picture shows colour 0 too.
    EXPECT_EQ(shown(file, 2, 2), backdrop);
    EXPECT_EQ(shown(file, 15, 5), rgb(0, 0, 255));
    EXPECT_EQ(shown(file48, 2, 2), rgb(255, 0, 0));
    EXPECT_EQ(shown(file48, 40, 40), rgb(0, 0, 255));
    // Built-in pictures: the key colour is transparent.
    for (auto [object, name] :
         {std::pair{line, "Data/Images/ToolBar/Line"}, {magnify, "Data/Images/ToolBar/Magnify"}}) {
        SCOPED_TRACE(name);
        EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(object, TAL_GetBitMapFile)), name);
        const Tal_BuiltInPicture* p = Tal__GetBuiltInPicture(Tal_FindBuiltInPicture(name));
        ASSERT_NE(p, nullptr);
        int wrong = 0;
        for (LONG y = 0; y < p->height; y++)
            for (LONG x = 0; x < p->width; x++) {
                const UBYTE* px = p->pixels + y * p->bytesPerRow + 3 * x;
                const ULONG colour = rgb(px[2], px[1], px[0]);
                wrong += shown(object, x, y) != (colour == TAL_BUILTIN_KEY_COLOUR ? backdrop : colour);
            }
        EXPECT_EQ(wrong, 0);
    }
    // A picture that cannot be read leaves the one shown.
    EXPECT_EQ(Tal_DoMethod(file, TAL_LoadBitMap, "Data/Images/NoSuchPicture"), 0u);
    const Bytes whole = readAll(dir + "/halves.iff");
    writeAll(dir + "/damaged.iff", Bytes(whole.begin(), whole.end() - 9));
    EXPECT_EQ(Tal_DoMethod(file, TAL_LoadBitMap, (dir + "/damaged.iff").c_str()), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(Tal_DoMethod(file, TAL_GetBitMapFile))),
              dir + "/halves.iff");
    EXPECT_EQ(shown(file, 15, 5), rgb(0, 0, 255));
}

// Three tabs and three pages, of either kind.
struct Tabbed {
    ULONG pages;
    ULONG tabs[3];
    ULONG page[3];
};
Tabbed tabbed(const char* className) {
    Tabbed t{Tal_CreateObject(className, TAL_AddingPageLabels, 1), {}, {}};
    const char* labels[] = {"Brush", "Tool", "Colour"};
    for (const char* label : labels)
        Tal_DoMethod(t.pages, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, label));
    Tal_DoMethod(t.pages, TAL_AddingPageLabels, 0);
    const char* texts[] = {"Brush page", "Tool page", "Colour page"};
    for (int i = 0; i < 3; i++) {
        t.page[i] = Tal_CreateObject("Text", TAL_SetLabel, texts[i]);
        Tal_DoMethod(t.pages, TAL_AddTail, t.page[i]);
        t.tabs[i] = ULONG(Tal_DoMethod(ULONG(Tal_DoMethod(t.pages, TAL_GetTabRow)), TAL_GetMemberAt, i));
    }
    return t;
}

TEST_F(PagesInWindow, TappingATabShowsItsPage) {
    for (const char* className : {"Pages", "VerticalPages"}) {
        SCOPED_TRACE(className);
        const Tabbed t = tabbed(className);
        open(t.pages, 0, 0, 220, 120);
        auto state = [&](int i) { return Tal_DoMethod(t.tabs[i], TAL_GetButtonState); };
        auto check = [&](ULONG index) {
            EXPECT_EQ(Tal_DoMethod(t.pages, TAL_GetSelectedIndex), index);
            EXPECT_EQ(Tal_DoMethod(t.pages, TAL_GetSelectedMember), t.page[index]);
            for (ULONG i = 0; i < 3; i++) {
                EXPECT_EQ(state(int(i)), i == index ? 1u : 0u) << "tab " << i;
                EXPECT_EQ(hidden(t.page[i]), i != index) << "page " << i;
            }
        };
        check(0);
        tap(t.tabs[1]);
        check(1);
        tap(t.tabs[1]); // the chosen tab again: it stays chosen
        check(1);
        inWindow(t.pages, TAL_SelectMemberIndex, 2);
        check(2);
        inWindow(t.pages, TAL_SelectMemberIndex, t.tabs[0]); // a tab by its button
        check(0);
        EXPECT_EQ(Tal_DoMethod(t.pages, TAL_SelectMemberIndex, 3), 0u); // no such tab or page
        check(0);
        Tal_DisposeObject(window);
        owned.pop_back();
        settle();
    }
}

TEST_F(PagesInWindow, StoredPagesKeepTabsAndPagesApart) {
    const Tabbed t = tabbed("Pages");
    own(t.pages);
    char* text = Tal_StoreObjectToBuffer(t.pages, nullptr, 0);
    ASSERT_NE(text, nullptr);
    const std::string stored = text;
    const size_t on = stored.find("Tal_AddingPageLabels,\t\t\t1,\n");
    const size_t firstLabel = stored.find("Brush,\n");
    const size_t off = stored.find("Tal_AddingPageLabels,\t\t\t0,\n");
    const size_t firstPage = stored.find("Brush page");
    ASSERT_NE(on, std::string::npos);
    ASSERT_NE(off, std::string::npos);
    EXPECT_LT(on, firstLabel);
    EXPECT_LT(firstLabel, off);
    EXPECT_LT(off, firstPage);
    // Read back: the labels become tabs again and the pages pages.
    const ULONG copy = own(Tal_CreateObjectsFromString(text));
    ASSERT_NE(copy, 0u);
    Tal_DoMethod(copy, TAL_SetStoredText, text); // the restored labels point into it
    EXPECT_EQ(Tal_DoMethod(copy, TAL_GetMemberCount), 3u);
    EXPECT_EQ(Tal_DoMethod(ULONG(Tal_DoMethod(copy, TAL_GetTabRow)), TAL_GetMemberCount),
              4u); // and the spacer
}

// A scrolling group of ten rows, 150 × 30 each, in a window of 200 × 200.
struct Scrolling {
    ULONG group;
    ULONG rows[10];
};
Scrolling scrolling() {
    Scrolling s{Tal_CreateObject("VirtualGroup"), {}};
    for (ULONG& row : s.rows) {
        row = Tal_CreateObject("Space", TAL_SetSpaceMinWidth, 150, TAL_SetSpaceMinHeight, 30);
        Tal_DoMethod(s.group, TAL_AddTail, row);
    }
    return s;
}

TEST_F(PagesInWindow, ScrollingGroupScrollsWithItsScrollersAndMethods) {
    const Scrolling s = scrolling();
    open(s.group, 0, 0, 200, 200);
    const ULONG vertical = ULONG(Tal_DoMethod(s.group, TAL_GetVScroller));
    const ULONG horizontal = ULONG(Tal_DoMethod(s.group, TAL_GetHScroller));
    EXPECT_FALSE(hidden(vertical)); // 300 high in 200
    EXPECT_TRUE(hidden(horizontal));
    Listener heard;
    heard.watch(s.group, TAL_SetScrollY);
    const LONG top = boxOf(s.rows[0]).y;
    auto scrolled = [&] { return LONG(Tal_DoMethod(s.group, TAL_GetScrollY)); };

    // The down arrow steps, the track below the thumb pages, each moving the rows.
    const ULONG down = ULONG(Tal_DoMethod(vertical, TAL_GetLastGroupObject));
    tap(down);
    EXPECT_EQ(scrolled(), 16);
    EXPECT_EQ(boxOf(s.rows[0]).y, top - 16);
    EXPECT_EQ(Tal_DoMethod(vertical, TAL_GetScrollerValue), 16u);
    tap(vertical, -1, boxOf(vertical).height - 20);
    EXPECT_EQ(scrolled(), 100); // 16 + a page of 200, held at the end: 300 - 200
    EXPECT_EQ(boxOf(s.rows[9]).y + 30, boxOf(s.rows[0]).y + 300);
    EXPECT_EQ(boxOf(s.rows[9]).y + 30, top + 200);

    // The scroll-position methods, clamped, told to the scroller and notified.
    inWindow(s.group, TAL_SetScrollY, 30);
    EXPECT_EQ(scrolled(), 30);
    EXPECT_EQ(Tal_DoMethod(vertical, TAL_GetScrollerValue), 30u);
    EXPECT_EQ(boxOf(s.rows[1]).y, top);
    inWindow(s.group, TAL_SetScrollY, 5000);
    EXPECT_EQ(scrolled(), 100);
    Tal_DoMethod(s.group, TAL_ScrollToPoint, 40, 7);
    settle();
    EXPECT_EQ(scrolled(), 7);
    EXPECT_EQ(Tal_DoMethod(s.group, TAL_GetScrollX), 0u); // nothing to scroll across
    EXPECT_EQ(heard.values(), (std::vector<LONG>{16, 100, 30, 100, 7}));
}

TEST_F(PagesInWindow, ScrollersShowOnlyWhenTheContentDoesNotFit) {
    struct Case {
        UBYTE width, height;
        bool horizontal, vertical;
    } cases[] = {
        {200, 150, false, false}, {201, 50, true, false}, {100, 151, false, true}, {201, 151, true, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        const ULONG group = Tal_CreateObject("VirtualGroup");
        Tal_DoMethod(
            group, TAL_AddTail,
            Tal_CreateObject("Space", TAL_SetSpaceMinWidth, c.width, TAL_SetSpaceMinHeight, c.height));
        open(group, 0, 0, 200, 150);
        EXPECT_EQ(!hidden(ULONG(Tal_DoMethod(group, TAL_GetHScroller))), c.horizontal);
        EXPECT_EQ(!hidden(ULONG(Tal_DoMethod(group, TAL_GetVScroller))), c.vertical);
        // Hidden outright, a scroller stays hidden whatever the content.
        inWindow(group, TAL_HideScrollers, 0);
        EXPECT_TRUE(hidden(ULONG(Tal_DoMethod(group, TAL_GetHScroller))));
        EXPECT_TRUE(hidden(ULONG(Tal_DoMethod(group, TAL_GetVScroller))));
        inWindow(group, TAL_ShowScrollers, 0);
        EXPECT_EQ(!hidden(ULONG(Tal_DoMethod(group, TAL_GetHScroller))), c.horizontal);
        Tal_DisposeObject(window);
        owned.pop_back();
        settle();
    }
}

TEST_F(PagesInWindow, TipWindowCyclesAndRemembersTheNextTip) {
    const std::string dir = tmpDir();
    const std::string tips = dir + "/tips.TalStr", state = dir + "/tips-state.txt";
    std::string text = "VGroup\n{\n";
    for (int i = 0; i < 5; i++) text += "\tTal_MultiLineText,\t\"Tip " + std::to_string(i) + "\",\n";
    text += "}\n";
    writeAll(tips, Bytes(text.begin(), text.end()));
    writeAll(state, {'7', ',', '1'}); // from a longer list of tips: wraps round
    const ULONG tip =
        own(Tal_CreateObject("TipOfTheDay", TAL_SetTipsFile, tips.c_str(), TAL_SetTipsState, state.c_str()));
    window = tip;
    Tal_DoMethod(tip, TAL_Start);
    settle();
    ASSERT_NE(host(tip), nullptr);
    auto named = [&](const char* name) { return ULONG(Tal_DoMethod(tip, TAL_FindObjectByName, name)); };
    auto shownTip = [&] {
        const ULONG page = ULONG(Tal_DoMethod(named("Tips"), TAL_GetSelectedMember));
        return std::string(reinterpret_cast<const char*>(Tal_DoMethod(page, TAL_GetLabel)));
    };
    EXPECT_EQ(Tal_DoMethod(tip, TAL_GetTipIndex), 2u);
    EXPECT_EQ(shownTip(), "Tip 2");
    for (const char* expected : {"Tip 3", "Tip 4", "Tip 0"}) {
        tap(named("NextTip"));
        EXPECT_EQ(shownTip(), expected);
    }
    tap(named("ShowTips"));
    EXPECT_EQ(Tal_DoMethod(named("ShowTips"), TAL_GetChecked), 0u);
    tap(named("CloseTips"));
    EXPECT_EQ(host(tip), nullptr);
    EXPECT_EQ(readAll(state), (Bytes{'1', ',', '0'})); // the next tip, and no more tips at start-up
    // A save that fails leaves the state as it was.
    host_FailNextSafeSave();
    EXPECT_EQ(Tal_DoMethod(tip, TAL_CloseTips), 0u);
    EXPECT_EQ(readAll(state), (Bytes{'1', ',', '0'}));

    // Shown no more: the next tip window stays closed.
    const ULONG again =
        own(Tal_CreateObject("TipOfTheDay", TAL_SetTipsFile, tips.c_str(), TAL_SetTipsState, state.c_str()));
    Tal_DoMethod(again, TAL_Start);
    settle();
    EXPECT_EQ(host(again), nullptr);
    EXPECT_EQ(Tal_DoMethod(ULONG(Tal_DoMethod(again, TAL_FindObjectByName, "ShowTips")), TAL_GetChecked), 0u);

    // No tips: none is shown and the next button does nothing.
    const ULONG none =
        own(Tal_CreateObject("TipOfTheDay", TAL_SetTipsFile, (dir + "/missing.TalStr").c_str()));
    Tal_DoMethod(none, TAL_Start);
    settle();
    EXPECT_NE(host(none), nullptr);
    EXPECT_EQ(Tal_DoMethod(none, TAL_FindObjectByName, "Tips"), 0u);
    EXPECT_EQ(Tal_DoMethod(none, TAL_NextTip), 0u);
}

// The pictures and containers as the screen shows them, for a person to look at.
TEST_F(PagesInWindow, Sheet) {
    const ULONG column = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing,
                                          4, TAL_SetGroupMargin, 3, TAL_SetGroupFrame, 6);
    for (ULONG first : {1u, 15u}) {
        const ULONG row = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL,
                                           TAL_SetGroupSpacing, 1, TAL_SetWeight, 0);
        for (ULONG h = first; h < first + 14; h++)
            Tal_DoMethod(row, TAL_AddTail, Tal_CreateObject("BitMap", TAL_SetBuiltInPicture, h));
        Tal_DoMethod(column, TAL_AddTail, row);
    }
    // Tabs with pictures, as the panels have them.
    const ULONG pages = Tal_CreateObject("Pages", TAL_AddingPageLabels, 1);
    for (const char* name :
         {"Data/Images/Tabs/Media", "Data/Images/Tabs/ToolOptions", "Data/Images/Tabs/Colour"})
        Tal_DoMethod(pages, TAL_AddTail, Tal_CreateObject("BitMap", TAL_LoadBitMap, name));
    Tal_DoMethod(pages, TAL_AddingPageLabels, 0);
    for (const char* text :
         {"Brushes and their sizes.", "Options of the tool in use.", "Colours to paint with."})
        Tal_DoMethod(pages, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, text, TAL_SetTextMode, 4));
    Tal_DoMethod(column, TAL_AddTail, pages);
    // A scrolling group with more than fits: a folder list and the tip picture.
    const ULONG scrolling = Tal_CreateObject("VirtualGroup");
    for (const char* name : {"Pictures", "Holiday 2003", "Garden", "Portraits", "Scans", "Web", "Old"}) {
        const ULONG line =
            Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupSpacing, 4);
        Tal_DoMethod(line, TAL_AddTail,
                     Tal_CreateObject("BitMap", TAL_LoadBitMap, "Data/Images/FolderContracted.iff"));
        Tal_DoMethod(line, TAL_AddTail, Tal_CreateObject("Text", TAL_SetLabel, name, TAL_SetWeight, 0));
        Tal_DoMethod(line, TAL_AddTail, Tal_CreateObject("Space", TAL_SetSpaceMinWidth, 150));
        Tal_DoMethod(scrolling, TAL_AddTail, line);
    }
    Tal_DoMethod(scrolling, TAL_AddTail,
                 Tal_CreateObject("BitMap", TAL_LoadBitMap, "Data/Images/DidYouKnow.iff"));
    Tal_DoMethod(column, TAL_AddTail, scrolling);
    open(column, 0, 0, 240, 268);
    inWindow(pages, TAL_SelectMemberIndex, 1);
    inWindow(scrolling, TAL_SetScrollY, 20);
    const std::string file = tmpDir() + "/pages-sheet.bmp";
    ASSERT_TRUE(host_SaveScreenshot(file.c_str()));
    std::printf("sheet: %s\n", file.c_str());
    Tal_DisposeObject(window);
    owned.pop_back();
    settle();

    // The tip window on its own.
    Tal__LoadCatalogue("Data/Lingua/Velura", "");
    const ULONG tip =
        own(Tal_CreateObject("TipOfTheDay", TAL_SetTipsState, (tmpDir() + "/sheet-state.txt").c_str()));
    Tal_DoMethod(tip, TAL_Start);
    settle();
    const std::string tipFile = tmpDir() + "/tip-window.bmp";
    ASSERT_TRUE(host_SaveScreenshot(tipFile.c_str()));
    std::printf("tip window: %s\n", tipFile.c_str());
    Tal__FreeCatalogue();
}

} // namespace
