// PNG files: every kind netpbm and ImageMagick write loads as pngtopam decodes it (alpha included), our
// files read back in pngtopam with the compression level and interlace asked for, the options group, and
// damaged files load quietly.
#include "talio_test.h"

#include "ui/Button.h"
#include "ui/Group.h"

#include <map>

using namespace talio_test;

namespace {

// The IHDR fields of a PNG file: bit depth, colour type and interlace method.
struct Kind {
    int bitDepth = -1, colourType = -1, interlace = -1;
    bool operator==(const Kind&) const = default;
};

Kind kindOf(const fs::path& file) {
    const Bytes f = readFile(file);
    if (f.size() < 33) return {};
    return {f[24], f[25], f[28]};
}

class PngTest : public TalioFixture {
  protected:
    void TearDown() override {
        // The options are the program's for the run: back to where they started.
        const ULONG png = Tal_CreateObject("PNGTALIO");
        Tal_DoMethod(png, PNGTALIO_SetCompression, 6);
        Tal_DoMethod(png, PNGTALIO_SetInterlace, 0);
        Tal_DisposeObject(png);
        TalioFixture::TearDown();
    }
    fs::path pnm(const std::string& name, const Picture& pic) {
        const fs::path file = path(name + (pic.channels == 3 ? ".ppm" : ".pgm"));
        writeFile(file, pnmBytes(pic));
        return file;
    }
    // Loads the file and expects pngtopam's picture and, when the file has one, its alpha.
    void expectLikePngtopam(const fs::path& file, ULONG channels, bool alpha) {
        const Picture peer = netpbm("pngtopam " + quoted(file));
        ASSERT_FALSE(peer.samples.empty());
        ASSERT_EQ(peer.channels, channels);
        ULONG error = 0;
        TALIO_ImageBuffer* b = load(file, &error);
        ASSERT_NE(b, nullptr) << "error " << error;
        EXPECT_STREQ(b->header->format_name, "PNG");
        EXPECT_EQ(b->depth, channels * 8);
        EXPECT_TRUE(pixelsOf(b, channels) == peer);
        ASSERT_EQ(b->alpha != nullptr, alpha);
        if (alpha) {
            EXPECT_TRUE(pixelsOf(b->alpha, 1) == netpbm("pngtopam -alpha " + quoted(file)));
        }
        TALIO_FreeBuffer(b);
    }
};

TEST_F(PngTest, PeerFilesLoadAsPngtopamDecodesThem) {
    const Picture colour = testPicture(37, 23);
    const Picture grey = testPicture(37, 23, 1, 2);
    const std::string ppm = quoted(pnm("colour", colour)), pgm = quoted(pnm("grey", grey));
    // A 16-bit grey picture, a mask for the alpha and a picture of few colours for a palette.
    Picture mask = grey;
    for (size_t i = 0; i < mask.samples.size(); i++) mask.samples[i] = UBYTE(i * 7);
    const std::string alpha = quoted(pnm("alpha", mask));
    Picture few = colour;
    for (UBYTE& v : few.samples) v &= 0xC0;
    const std::string palette = quoted(pnm("few", few));
    struct Case {
        const char* name;
        std::string command; // writes the file "peer.png" in the test's folder
        Kind kind;
        ULONG channels;
        bool alpha;
    };
    const Case cases[] = {
        {"1-bit grey", "pgmtopbm -threshold " + pgm + " | pnmtopng", {1, 0, 0}, 1, false},
        {"4-bit grey", "pamdepth 15 " + pgm + " | pnmtopng", {4, 0, 0}, 1, false},
        {"8-bit grey", "pnmtopng " + pgm, {8, 0, 0}, 1, false},
        {"16-bit grey",
         "pamdepth 65535 " + pgm + " | pamfunc -multiplier 1.003 | pnmtopng",
         {16, 0, 0},
         1,
         false},
        {"grey with alpha", "pnmtopng -alpha " + alpha + " " + pgm, {8, 4, 0}, 1, true},
        {"palette", "pnmtopng " + palette, {8, 3, 0}, 3, false},
        {"palette with a transparent colour",
         "pnmtopng -transparent =#c0c0c0 " + palette,
         {8, 3, 0},
         3,
         true},
        {"RGB", "pnmtopng -force " + ppm, {8, 2, 0}, 3, false},
        {"RGBA", "pnmtopng -force -alpha " + alpha + " " + ppm, {8, 6, 0}, 3, true},
        {"RGB interlaced", "pnmtopng -force -interlace " + ppm, {8, 2, 1}, 3, false},
        {"RGBA interlaced", "pnmtopng -force -interlace -alpha " + alpha + " " + ppm, {8, 6, 1}, 3, true},
        {"ImageMagick 16-bit RGB",
         "convert " + ppm + " -depth 16 -evaluate multiply 1.003 PNG48:-",
         {16, 2, 0},
         3,
         false},
        {"ImageMagick 16-bit RGBA",
         "convert " + ppm + " " + alpha +
             " -alpha off -compose copy-opacity -composite "
             "-depth 16 PNG64:-",
         {16, 6, 0},
         3,
         true},
        {"ImageMagick palette", "convert " + palette + " PNG8:-", {8, 3, 0}, 3, false},
        {"ImageMagick 2-bit grey", "convert " + pgm + " -depth 2 -type Grayscale PNG:-", {2, 0, 0}, 1, false},
        {"ImageMagick interlaced grey", "convert " + pgm + " -interlace PNG PNG:-", {8, 0, 1}, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = path("peer.png");
        ASSERT_EQ(run("cd " + quoted(dir) + " && " + c.command + " > peer.png 2>/dev/null"), 0);
        ASSERT_EQ(kindOf(file), c.kind);
        expectLikePngtopam(file, c.channels, c.alpha);
    }
}

TEST_F(PngTest, SavesReadBackInPngtopamWithTheirOptions) {
    const ULONG png = Tal_CreateObject("PNGTALIO");
    EXPECT_EQ(Tal_DoMethod(png, PNGTALIO_GetCompression), 6u);
    EXPECT_EQ(Tal_DoMethod(png, PNGTALIO_GetInterlace), 0u);
    struct Case {
        Picture picture;
        ULONG compression, interlace;
        Kind kind;
    };
    const Case cases[] = {
        {testPicture(37, 23), 6, 0, {8, 2, 0}},       {testPicture(37, 23), 0, 0, {8, 2, 0}},
        {testPicture(37, 23), 9, 1, {8, 2, 1}},       {testPicture(1, 1, 3, 5), 9, 1, {8, 2, 1}},
        {testPicture(37, 23, 1, 3), 6, 0, {8, 0, 0}}, {testPicture(5, 9, 1, 4), 1, 1, {8, 0, 1}},
    };
    std::map<ULONG, uintmax_t> sizes;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.picture.width) + " x " + std::to_string(c.picture.channels) +
                     ", level " + std::to_string(c.compression) + ", interlace " +
                     std::to_string(c.interlace));
        Tal_DoMethod(png, PNGTALIO_SetCompression, c.compression);
        Tal_DoMethod(png, PNGTALIO_SetInterlace, c.interlace);
        TALIO_ImageBuffer* b = bufferOf(c.picture);
        ASSERT_EQ(saveBuffer(b, path("saved.png"), "PNG"), TALIO_OK);
        TALIO_FreeBuffer(b);
        EXPECT_EQ(kindOf(path("saved.png")), c.kind);
        EXPECT_TRUE(netpbm("pngtopam " + quoted(path("saved.png"))) == c.picture);
        if (c.picture.width == 37 && c.picture.channels == 3 && !c.interlace)
            sizes[c.compression] = fs::file_size(path("saved.png"));
    }
    // Level 0 stores the rows without compressing them.
    EXPECT_GT(sizes[0], 37u * 23 * 3);
    EXPECT_LT(sizes[6], sizes[0]);
    // Out-of-range levels are held to 0..9.
    Tal_DoMethod(png, PNGTALIO_SetCompression, 42);
    EXPECT_EQ(Tal_DoMethod(png, PNGTALIO_GetCompression), 9u);
    Tal_DisposeObject(png);

    // Only true colour and grey pictures are saved.
    TALIO_ImageBuffer* odd = TALIO_AllocBuffer(4, 4, 4, 0, TALIO_FORMAT_BITPLANES, 0);
    EXPECT_EQ(saveBuffer(odd, path("odd.png"), "PNG"), TALIO_ERR_UNSUPPORTED);
    EXPECT_FALSE(fs::exists(path("odd.png")));
    TALIO_FreeBuffer(odd);
}

TEST_F(PngTest, LargePicturesAreCompressedInSegmentsThatMakeOneStream) {
    // Above 2 MiB of rows a picture is compressed in segments, on every processor; the file is one zlib
    // stream that pngtopam checks to its end, as small as libpng makes it at the same level.
    const ULONG png = Tal_CreateObject("PNGTALIO");
    struct Case {
        Picture picture;
        ULONG compression;
    };
    const Case cases[] = {{testPicture(1100, 700, 3, 9), 6},
                          {testPicture(1100, 700, 3, 9), 1},
                          {testPicture(2300, 1000, 1, 8), 9},
                          {testPicture(1100, 700, 3, 9), 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.picture.channels) + " channels, level " +
                     std::to_string(c.compression));
        Tal_DoMethod(png, PNGTALIO_SetCompression, c.compression);
        TALIO_ImageBuffer* b = bufferOf(c.picture);
        ASSERT_EQ(saveBuffer(b, path("large.png"), "PNG"), TALIO_OK);
        TALIO_FreeBuffer(b);
        EXPECT_TRUE(netpbm("pngtopam " + quoted(path("large.png"))) == c.picture);
        const fs::path source = pnm("large", c.picture);
        ASSERT_EQ(run("pnmtopng -compression " + std::to_string(c.compression) + " " + quoted(source) +
                      " > " + quoted(path("peer.png"))),
                  0);
        EXPECT_LE(fs::file_size(path("large.png")), fs::file_size(path("peer.png")) * 101 / 100);
    }
    Tal_DisposeObject(png);
}

TEST_F(PngTest, TheSaveOptionsGroupShowsAndSetsTheOptions) {
    for (const char* name : {"Text", "Scroller", "CheckBox"})
        if (!Tal_FindClassFromName(name)) GTEST_SKIP() << "the " << name << " class is not registered";
    constexpr ULONG kValue = 0x80000078, kGetValue = 0x80000079, kGetChecked = 0x00150014;
    const ULONG png = Tal_CreateObject("PNGTALIO");
    Tal_DoMethod(png, PNGTALIO_SetCompression, 3);
    const ULONG group = ULONG(Tal_DoMethod(png, TALIO_GetSaveOptions));
    ASSERT_NE(group, 0u);
    EXPECT_EQ(Tal_DoMethod(png, TALIO_GetSaveOptions), group);
    const ULONG row = ULONG(Tal_DoMethod(group, TAL_GetMemberAt, 0));
    const ULONG slider = ULONG(Tal_DoMethod(row, TAL_GetMemberAt, 1));
    const ULONG check = ULONG(Tal_DoMethod(group, TAL_GetMemberAt, 1));
    EXPECT_EQ(Tal_DoMethod(slider, kGetValue), 3u);
    EXPECT_EQ(Tal_DoMethod(check, kGetChecked), 0u);
    Tal_DoMethod(slider, kValue, 8);
    Tal_DoMethod(check, TAL_SetChecked, 1);
    EXPECT_EQ(Tal_DoMethod(png, PNGTALIO_GetCompression), 8u);
    EXPECT_EQ(Tal_DoMethod(png, PNGTALIO_GetInterlace), 1u);
    Tal_DisposeObject(png);
    EXPECT_EQ(Tal_GetObjectInstance(group), nullptr);
}

TEST_F(PngTest, DamagedFilesLoadQuietly) {
    const std::string ppm = quoted(pnm("colour", testPicture(29, 17)));
    ASSERT_EQ(run("pnmtopng -force " + ppm + " > " + quoted(path("rgb.png"))), 0);
    ASSERT_EQ(run("pnmtopng -interlace " + quoted(pnm("grey", testPicture(29, 17, 1))) + " > " +
                  quoted(path("grey-interlaced.png"))),
              0);
    ASSERT_EQ(
        run("convert " + ppm + " -alpha set -channel A -evaluate set 40% PNG32:" + quoted(path("rgba.png"))),
        0);
    // A file cut inside its picture data ends early (3); one whose data is changed is damaged (6).
    const Bytes whole = readFile(path("rgb.png"));
    writeFile(path("cut.png"), Bytes(whole.begin(), whole.begin() + long(whole.size() / 2)));
    ULONG error = 0;
    EXPECT_EQ(load(path("cut.png"), &error), nullptr);
    EXPECT_EQ(error, TALIO_ERR_READ);
    Bytes changed = whole;
    changed[whole.size() / 2] ^= 0x55;
    writeFile(path("changed.png"), changed);
    EXPECT_EQ(load(path("changed.png"), &error), nullptr);
    EXPECT_EQ(error, TALIO_ERR_DAMAGED);
    for (const char* name : {"rgb.png", "grey-interlaced.png", "rgba.png"})
        expectDamagedCopiesLoadQuietly(path(name), path(std::string("damaged-") + name));
}

} // namespace
