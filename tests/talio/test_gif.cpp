// GIF files: loading what peers write as giftopnm decodes it, crafted streams (no clear code, local and
// global tables over two frames, extensions of several sub-blocks, interlace order, damage), saving that
// giftopnm reads back, and the colour reduction behind it.
#include "talio_test.h"

#include "ui/Group.h"
#include "ui/Slider.h"
#include "talio/TALIOQuantize.h"

#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>

using namespace talio_test;

namespace {

// giftopnm's decoding of a file, as a PPM.
Picture giftopnm(const fs::path& gif) {
    const std::string text = output("giftopnm " + quoted(gif) + " 2>/dev/null | ppmtoppm 2>/dev/null");
    return readPnm(Bytes(text.begin(), text.end()));
}

void appendWord(Bytes& out, unsigned v) {
    out.push_back(UBYTE(v)), out.push_back(UBYTE(v >> 8));
}

void appendTable(Bytes& out, const std::vector<ULONG>& colours) {
    for (ULONG c : colours) out.insert(out.end(), {UBYTE(c), UBYTE(c >> 8), UBYTE(c >> 16)});
}

// Data as sub-blocks of at most 255 bytes, without the terminator.
void appendSubBlocks(Bytes& out, const Bytes& data, size_t size = 255) {
    for (size_t at = 0; at < data.size(); at += size) {
        const size_t n = std::min(size, data.size() - at);
        out.push_back(UBYTE(n));
        out.insert(out.end(), data.begin() + long(at), data.begin() + long(at + n));
    }
}

struct Code {
    int value, bits;
};

// Codes packed least significant bit first.
Bytes pack(const std::vector<Code>& codes) {
    Bytes out;
    uint32_t acc = 0;
    int held = 0;
    for (const Code& c : codes) {
        acc |= uint32_t(c.value) << held;
        for (held += c.bits; held >= 8; held -= 8, acc >>= 8) out.push_back(UBYTE(acc));
    }
    if (held) out.push_back(UBYTE(acc));
    return out;
}

// A plain LZW coder for crafted frames. The code sizes follow the decoder's rule (it adds a string after
// every code but the first after a clear, and grows when its next code reaches 2^size). With `clears`
// false it never sends a clear code, not even the first, and adds nothing once 4096 strings exist.
std::vector<Code> lzwCodes(const Bytes& indexes, int minimum, bool clears = true) {
    const int clear = 1 << minimum;
    std::vector<int> values;
    std::map<std::pair<int, int>, int> table;
    int next = clear + 2;
    auto reset = [&] {
        table.clear();
        next = clear + 2;
        values.push_back(clear);
    };
    if (clears) reset();
    int current = -1;
    for (UBYTE c : indexes) {
        if (current < 0) {
            current = c;
            continue;
        }
        if (auto it = table.find({current, c}); it != table.end()) {
            current = it->second;
            continue;
        }
        values.push_back(current);
        if (next < 4096) {
            table[{current, c}] = next++;
        } else if (clears) {
            reset();
        }
        current = c;
    }
    values.push_back(current);
    values.push_back(clear + 1);
    // Sizes as the decoder sees them.
    std::vector<Code> codes;
    int bits = minimum + 1, decoderNext = clear + 2;
    bool first = true;
    for (int v : values) {
        codes.push_back({v, bits});
        if (v == clear) {
            bits = minimum + 1, decoderNext = clear + 2, first = true;
            continue;
        }
        if (!first && decoderNext < 4096 && ++decoderNext == (1 << bits) && bits < 12) bits++;
        first = false;
    }
    return codes;
}

// A GIF file built piece by piece.
struct GifWriter {
    Bytes bytes;
    GifWriter(unsigned width, unsigned height, const std::vector<ULONG>& global,
              const char* version = "GIF89a") {
        bytes.assign(version, version + 6);
        appendWord(bytes, width), appendWord(bytes, height);
        const int bits = global.empty() ? 0 : tableBits(global.size());
        bytes.push_back(UBYTE(global.empty() ? 0 : 0x80 | (bits - 1)));
        bytes.push_back(0), bytes.push_back(0);
        appendPaddedTable(global, bits);
    }
    static int tableBits(size_t n) {
        int bits = 1;
        while ((size_t(1) << bits) < n) bits++;
        return bits;
    }
    void appendPaddedTable(std::vector<ULONG> colours, int bits) {
        if (colours.empty()) return;
        colours.resize(size_t(1) << bits, 0);
        appendTable(bytes, colours);
    }
    void extension(UBYTE label, const Bytes& data, size_t blockSize = 255) {
        bytes.push_back('!'), bytes.push_back(label);
        appendSubBlocks(bytes, data, blockSize);
        bytes.push_back(0);
    }
    // An image descriptor with an optional local table, then the code size and the data.
    void frame(unsigned width, unsigned height, const std::vector<ULONG>& local, int minimum,
               const Bytes& data, bool interlaced = false) {
        bytes.push_back(',');
        appendWord(bytes, 0), appendWord(bytes, 0), appendWord(bytes, width), appendWord(bytes, height);
        const int bits = local.empty() ? 0 : tableBits(local.size());
        bytes.push_back(UBYTE((local.empty() ? 0 : 0x80 | (bits - 1)) | (interlaced ? 0x40 : 0)));
        appendPaddedTable(local, bits);
        bytes.push_back(UBYTE(minimum));
        appendSubBlocks(bytes, data);
        bytes.push_back(0);
    }
    void frame(unsigned width, unsigned height, const std::vector<ULONG>& local, int minimum,
               const Bytes& indexes, bool interlaced, bool clears) {
        frame(width, height, local, minimum, pack(lzwCodes(indexes, minimum, clears)), interlaced);
    }
    void trailer() { bytes.push_back(';'); }
};

// The picture indexes show through a palette.
Picture throughPalette(unsigned width, unsigned height, const Bytes& indexes,
                       const std::vector<ULONG>& palette) {
    Picture pic{width, height, 3, Bytes(indexes.size() * 3)};
    for (size_t i = 0; i < indexes.size(); i++) {
        const ULONG c = palette[indexes[i]];
        pic.samples[3 * i] = UBYTE(c), pic.samples[3 * i + 1] = UBYTE(c >> 8),
                        pic.samples[3 * i + 2] = UBYTE(c >> 16);
    }
    return pic;
}

Bytes randomIndexes(size_t n, int colours, ULONG seed) {
    std::mt19937 random(seed);
    Bytes out(n);
    for (UBYTE& b : out) b = UBYTE(random() % unsigned(colours));
    return out;
}

std::vector<ULONG> rampPalette(int n, ULONG seed = 0) {
    std::vector<ULONG> p(static_cast<size_t>(n));
    for (int i = 0; i < n; i++)
        p[size_t(i)] = ULONG(i * 7 + seed) | ULONG(255 - i) << 8 | ULONG(i * 13 % 256) << 16;
    return p;
}

// A picture of `colours` distinct colours (at most 1024), each present, the rest in random order; the
// colours include neighbours 0 and 1 in every channel.
Picture fewColours(ULONG width, ULONG height, ULONG colours, ULONG seed) {
    std::mt19937 random(seed);
    std::vector<std::array<UBYTE, 3>> set;
    for (ULONG i = 0; i < colours; i++)
        set.push_back({UBYTE(i % 16), UBYTE(i / 16 % 16 * 16 + (i & 1)), UBYTE(i / 256 * 64 + (i / 2 & 1))});
    Picture pic{width, height, 3, Bytes(size_t(width) * height * 3)};
    for (size_t i = 0; i < size_t(width) * height; i++) {
        const auto& c = set[i < colours ? i : random() % colours];
        std::copy(c.begin(), c.end(), pic.samples.begin() + long(3 * i));
    }
    return pic;
}

size_t distinctColours(const Picture& pic) {
    std::set<ULONG> seen;
    for (size_t i = 0; i + 2 < pic.samples.size(); i += 3)
        seen.insert(ULONG(pic.samples[i]) | ULONG(pic.samples[i + 1]) << 8 | ULONG(pic.samples[i + 2]) << 16);
    return seen.size();
}

class GifTest : public TalioFixture {
  protected:
    void SetUp() override {
        TalioFixture::SetUp();
        gif = Tal_CreateObject("GIFTALIO");
        ASSERT_NE(gif, 0u);
    }
    void TearDown() override {
        // The options are the program's for the whole run.
        setOptions(256, 70, false);
        Tal_DisposeObject(gif);
        TalioFixture::TearDown();
    }
    void setOptions(ULONG colours, ULONG dithering, bool interlaced) {
        Tal_DoMethod(gif, GIFTALIO_SetColours, colours);
        Tal_DoMethod(gif, GIFTALIO_SetDithering, dithering);
        Tal_DoMethod(gif, GIFTALIO_SetInterlaced, interlaced ? 1 : 0);
    }
    // Loads the file and expects the picture; the error number when it does not load.
    void expectLoads(const fs::path& file, const Picture& expected) {
        ULONG error = 0;
        TALIO_ImageBuffer* b = load(file, &error);
        ASSERT_NE(b, nullptr) << "error " << error;
        EXPECT_STREQ(b->header->format_name, "GIF");
        EXPECT_EQ(b->depth, 24u);
        EXPECT_TRUE(pixelsOf(b, 3) == expected);
        TALIO_FreeBuffer(b);
    }
    ULONG loadError(const Bytes& file, const std::string& name) {
        writeFile(path(name), file);
        ULONG error = 0;
        TALIO_ImageBuffer* b = load(path(name), &error);
        TALIO_FreeBuffer(b);
        return b ? TALIO_OK : error;
    }
    // Saves the picture as GIF; the file.
    fs::path saveGif(const Picture& pic, const std::string& name) {
        TALIO_ImageBuffer* b = bufferOf(pic);
        EXPECT_EQ(saveBuffer(b, path(name), "GIF"), TALIO_OK);
        TALIO_FreeBuffer(b);
        return path(name);
    }
    ULONG gif = 0;
};

// ---------------------------------------------------------------------------------------------------
// Loading.

TEST_F(GifTest, PeerFilesLoadAsGiftopnmDecodesThem) {
    const Picture photo = testPicture(97, 61);
    writeFile(path("photo.ppm"), pnmBytes(photo));
    writeFile(path("few.ppm"), pnmBytes(fewColours(40, 33, 5, 2)));
    const std::string comment = (std::string(60, 'x') + ", said; the end;").substr(0, 50);
    std::string longComment;
    while (longComment.size() < 400) longComment += comment;
    longComment.resize(400);
    struct Case {
        const char* name;
        std::string command; // makes path(name)
    };
    const std::string photoIn = quoted(path("photo.ppm")), fewIn = quoted(path("few.ppm"));
    const Case cases[] = {
        {"im.gif", "convert " + photoIn + " " + quoted(path("im.gif"))},
        {"im-interlaced.gif", "convert " + photoIn + " -interlace GIF " + quoted(path("im-interlaced.gif"))},
        {"im87.gif", "convert " + photoIn + " gif87:" + path("im87.gif").string()},
        {"im-few.gif", "convert " + fewIn + " " + quoted(path("im-few.gif"))},
        {"pamtogif.gif",
         "pnmquant 256 " + photoIn + " 2>/dev/null | pamtogif > " + quoted(path("pamtogif.gif"))},
        {"pamtogif-comment.gif",
         "pamtogif -comment '" + longComment + "' " + fewIn + " > " + quoted(path("pamtogif-comment.gif"))},
        {"pamtogif-interlaced.gif",
         "pamtogif -interlace " + fewIn + " > " + quoted(path("pamtogif-interlaced.gif"))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(run(c.command + " 2>/dev/null"), 0);
        const Picture peer = giftopnm(path(c.name));
        ASSERT_FALSE(peer.samples.empty());
        expectLoads(path(c.name), peer);
    }
    // The files are what they claim.
    const Bytes old = readFile(path("im87.gif"));
    EXPECT_EQ(std::string(old.begin(), old.begin() + 6), "GIF87a");
    const Bytes commented = readFile(path("pamtogif-comment.gif"));
    EXPECT_NE(std::search(commented.begin(), commented.end(), longComment.begin(), longComment.begin() + 100),
              commented.end());
}

TEST_F(GifTest, CraftedStreamsLoad) {
    const std::vector<ULONG> global = rampPalette(256);
    const Bytes noise = randomIndexes(120 * 90, 256, 1);
    const Picture noisePicture = throughPalette(120, 90, noise, global);

    // A stream that never sends a clear code: the table fills at 4096 strings and stays so.
    GifWriter never(120, 90, global);
    never.frame(120, 90, {}, 8, noise, false, false);
    never.trailer();
    writeFile(path("never-cleared.gif"), never.bytes);
    expectLoads(path("never-cleared.gif"), noisePicture);
    EXPECT_TRUE(giftopnm(path("never-cleared.gif")) == noisePicture);

    // Two full frames, the first with a table of its own: the second shows the global colours.
    const std::vector<ULONG> local = rampPalette(4, 100);
    const Bytes first = randomIndexes(30 * 20, 4, 2), second = randomIndexes(30 * 20, 4, 3);
    GifWriter frames(30, 20, rampPalette(4));
    frames.frame(30, 20, local, 2, first, false, true);
    frames.frame(30, 20, {}, 2, second, false, true);
    frames.trailer();
    writeFile(path("two-frames.gif"), frames.bytes);
    expectLoads(path("two-frames.gif"), throughPalette(30, 20, second, rampPalette(4)));

    // Extensions of several sub-blocks holding "," and ";", and data sub-blocks after the end code.
    GifWriter extended(30, 20, rampPalette(4));
    Bytes text(600, ',');
    for (size_t i = 0; i < text.size(); i += 3) text[i] = ';';
    extended.extension(0xF9, {1, 0, 0, 3});
    extended.extension(0xFE, text, 100);
    Bytes netscape = {'N', 'E', 'T', 'S', 'C', 'A', 'P', 'E', '2', '.', '0'};
    extended.bytes.insert(extended.bytes.end(), {'!', 0xFF, 11});
    extended.bytes.insert(extended.bytes.end(), netscape.begin(), netscape.end());
    extended.bytes.insert(extended.bytes.end(), {3, 1, 0, 0, 0});
    extended.extension(0xFF, text, 255);
    Bytes data = pack(lzwCodes(first, 2));
    data.insert(data.end(), {',', ';', ',', ';'}); // after the end code
    extended.frame(30, 20, {}, 2, data);
    extended.extension(0xFE, text, 7);
    extended.trailer();
    writeFile(path("extensions.gif"), extended.bytes);
    expectLoads(path("extensions.gif"), throughPalette(30, 20, first, rampPalette(4)));
    EXPECT_TRUE(giftopnm(path("extensions.gif")) == throughPalette(30, 20, first, rampPalette(4)));

    // An interlaced frame of 10 rows fills rows 0, 8, 4, 2, 6, 1, 3, 5, 7, 9 in that order.
    std::vector<ULONG> grey(16);
    for (ULONG i = 0; i < 16; i++) grey[i] = i * 0x101010;
    Bytes rows;
    for (UBYTE k = 0; k < 10; k++) rows.insert(rows.end(), 3, k);
    GifWriter interlaced(3, 10, grey);
    interlaced.frame(3, 10, {}, 4, rows, true, true);
    interlaced.trailer();
    writeFile(path("interlaced.gif"), interlaced.bytes);
    const UBYTE order[10] = {0, 8, 4, 2, 6, 1, 3, 5, 7, 9};
    Bytes expected(30);
    for (UBYTE k = 0; k < 10; k++) std::fill_n(expected.begin() + order[k] * 3, 3, k);
    expectLoads(path("interlaced.gif"), throughPalette(3, 10, expected, grey));

    // A frame whose data ends (zero-length block) before its end code keeps the rows it got; a file
    // that ends after a frame without a trailer is whole.
    GifWriter open(30, 20, rampPalette(4));
    std::vector<Code> codes = lzwCodes(first, 2);
    codes.pop_back();
    open.frame(30, 20, {}, 2, pack(codes));
    writeFile(path("no-end.gif"), open.bytes);
    expectLoads(path("no-end.gif"), throughPalette(30, 20, first, rampPalette(4)));
}

TEST_F(GifTest, DamagedAndUnsupportedFilesGiveTheirErrors) {
    const std::vector<ULONG> palette = rampPalette(4);
    const Bytes pixels = randomIndexes(8 * 6, 4, 5);
    auto withFrame = [&](int minimum, const Bytes& data, unsigned width = 8) {
        GifWriter w(8, 6, palette);
        w.frame(width, 6, {}, minimum, data);
        w.trailer();
        return w.bytes;
    };
    const Bytes good = withFrame(2, pack(lzwCodes(pixels, 2)));
    GifWriter smaller(8, 6, palette);
    smaller.frame(8, 6, {}, 2, pixels, false, true);
    smaller.frame(4, 6, {}, 2, Bytes(24, 1), false, true);
    smaller.trailer();
    GifWriter noFrame(8, 6, palette);
    noFrame.extension(0xFE, {'h', 'i'});
    noFrame.trailer();

    struct Case {
        const char* name;
        Bytes file;
        ULONG error;
    };
    const Case cases[] = {
        {"a good file", good, TALIO_OK},
        {"a second frame smaller than the screen", smaller.bytes, TALIO_ERR_UNKNOWN},
        {"code size 1", withFrame(1, pack({{2, 2}, {0, 2}, {3, 2}})), TALIO_ERR_DAMAGED},
        {"code size 9", withFrame(9, pack({{512, 10}, {0, 10}, {513, 10}})), TALIO_ERR_DAMAGED},
        {"a first code equal to the next free code", withFrame(2, pack({{4, 3}, {6, 3}, {5, 3}})),
         TALIO_ERR_DAMAGED},
        {"a code above the next free code", withFrame(2, pack({{4, 3}, {1, 3}, {7, 3}, {5, 3}})),
         TALIO_ERR_DAMAGED},
        {"the file ends inside the frame", Bytes(good.begin(), good.end() - 6), TALIO_ERR_DAMAGED},
        {"the colour table is cut", Bytes(good.begin(), good.begin() + 16), TALIO_ERR_DAMAGED},
        {"no frame before the trailer", noFrame.bytes, TALIO_ERR_DAMAGED},
        {"no frame before the end of the file", Bytes(good.begin(), good.begin() + 25), TALIO_ERR_DAMAGED},
        {"not a GIF", Bytes{'G', 'I', 'X', '8', '9', 'a', 8, 0, 6, 0, 0, 0, 0}, TALIO_ERR_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(loadError(c.file, "case.gif"), c.error);
    }
}

TEST_F(GifTest, DamagedCopiesOfEveryFixtureLoadQuietly) {
    // Truncated at many lengths and with seeded byte flips, each loads to a picture or an error number.
    writeFile(path("photo.ppm"), pnmBytes(testPicture(41, 29)));
    ASSERT_EQ(run("convert " + quoted(path("photo.ppm")) + " -interlace GIF " + quoted(path("a.gif"))), 0);
    ASSERT_EQ(run("pnmquant 64 " + quoted(path("photo.ppm")) +
                  " 2>/dev/null | pamtogif -comment 'a, b; c' > " + quoted(path("b.gif")) + " 2>/dev/null"),
              0);
    const std::vector<ULONG> palette = rampPalette(256);
    GifWriter crafted(50, 40, palette);
    crafted.extension(0xFE, Bytes(300, ';'), 9);
    crafted.frame(50, 40, rampPalette(16, 3), 4, randomIndexes(2000, 16, 4), true, true);
    crafted.frame(50, 40, {}, 8, randomIndexes(2000, 256, 5), false, false);
    crafted.trailer();
    const std::vector<Bytes> fixtures = {readFile(path("a.gif")), readFile(path("b.gif")), crafted.bytes,
                                         readFile(saveGif(testPicture(33, 21, 3, 4), "ours.gif"))};
    std::mt19937 random(7);
    int pictures = 0, errors = 0;
    for (const Bytes& fixture : fixtures) {
        ASSERT_GT(fixture.size(), 100u);
        std::vector<Bytes> damaged;
        for (size_t n = 0; n < fixture.size(); n += n < 64 ? 1 : 1 + fixture.size() / 97)
            damaged.emplace_back(fixture.begin(), fixture.begin() + long(n));
        for (int i = 0; i < 150; i++) {
            Bytes copy = fixture;
            for (int flips = 1 + int(random() % 3); flips > 0; flips--)
                copy[13 + random() % (copy.size() - 13)] ^= UBYTE(1 + random() % 255);
            damaged.push_back(copy);
        }
        for (const Bytes& file : damaged) {
            const ULONG error = loadError(file, "damaged.gif");
            EXPECT_TRUE(error >= TALIO_OK && error <= TALIO_ERR_CANNOT_SAVE && error != TALIO_ERR_CANCELLED);
            (error == TALIO_OK ? pictures : errors)++;
        }
    }
    EXPECT_GT(pictures, 0);
    EXPECT_GT(errors, 0);
}

// ---------------------------------------------------------------------------------------------------
// Saving.

TEST_F(GifTest, PicturesOfFewColoursComeBackExact) {
    struct Case {
        Picture pic;
        ULONG dithering;
        bool interlaced;
    };
    // Noise of 256 colours fills the string table again and again (clear codes, sizes up to 12 bits);
    // 3 colours start at 3 bits.
    const Case cases[] = {
        {fewColours(200, 150, 256, 1), 70, false}, {fewColours(200, 150, 256, 1), 0, true},
        {fewColours(123, 77, 3, 2), 70, false},    {fewColours(123, 77, 3, 2), 70, true},
        {fewColours(1, 1, 1, 3), 70, false},       {fewColours(64, 9, 17, 4), 100, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pic.width) + " x " + std::to_string(c.pic.height) + ", " +
                     std::to_string(distinctColours(c.pic)) + " colours, dithering " +
                     std::to_string(c.dithering) + (c.interlaced ? ", interlaced" : ""));
        setOptions(256, c.dithering, c.interlaced);
        const fs::path file = saveGif(c.pic, "few.gif");
        EXPECT_TRUE(giftopnm(file) == c.pic);
        expectLoads(file, c.pic);
        const Bytes bytes = readFile(file);
        const size_t descriptor = 13 + 3 * (size_t(1) << ((bytes[10] & 7) + 1));
        ASSERT_EQ(bytes.at(descriptor), ',');
        EXPECT_EQ(bytes.at(descriptor + 9), c.interlaced ? 0x40 : 0);
    }
}

TEST_F(GifTest, HeaderFieldsFollowTheColourCount) {
    struct Case {
        std::vector<std::array<UBYTE, 3>> colours;
        UBYTE packed;
        size_t tableEntries;
        UBYTE codeSize;
    };
    const Case cases[] = {
        {{{0, 0, 0}, {255, 255, 255}, {255, 0, 0}}, 0x91, 4, 2},
        {{{10, 20, 30}}, 0x80, 2, 2},
        {{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}, {4, 4, 4}}, 0xA2, 8, 3},
    };
    for (const Case& c : cases) {
        Picture pic{7, 5, 3, Bytes(7 * 5 * 3)};
        for (size_t i = 0; i < 35; i++)
            std::copy(c.colours[i % c.colours.size()].begin(), c.colours[i % c.colours.size()].end(),
                      pic.samples.begin() + long(3 * i));
        const Bytes file = readFile(saveGif(pic, "fields.gif"));
        SCOPED_TRACE(int(c.packed));
        ASSERT_GT(file.size(), 13 + 3 * c.tableEntries + 11);
        EXPECT_EQ(std::string(file.begin(), file.begin() + 6), "GIF89a");
        EXPECT_EQ(file[6] | file[7] << 8, 7);
        EXPECT_EQ(file[10], c.packed);
        const size_t descriptor = 13 + 3 * c.tableEntries;
        EXPECT_EQ(file[descriptor], ',');
        EXPECT_EQ(file[descriptor + 10], c.codeSize);
        EXPECT_EQ(file.back(), ';');
        EXPECT_TRUE(giftopnm(path("fields.gif")) == pic);
    }
}

TEST_F(GifTest, GreyPicturesUseTheGreyRampAndComeBackExact) {
    const Picture grey = testPicture(90, 70, 1, 3);
    TALIO_ImageBuffer* b = bufferOf(grey);
    ASSERT_EQ(b->format, TALIO_FORMAT_GREY8);
    setOptions(16, 100, false); // neither applies to a grey picture
    ASSERT_EQ(saveBuffer(b, path("grey.gif"), "GIF"), TALIO_OK);
    TALIO_FreeBuffer(b);
    const Bytes file = readFile(path("grey.gif"));
    EXPECT_EQ(file[10], 0xF7);
    for (size_t i = 0; i < 256; i++)
        EXPECT_EQ(file[13 + 3 * i] | file[14 + 3 * i] << 8 | file[15 + 3 * i] << 16, int(i * 0x010101));
    Picture back = giftopnm(path("grey.gif"));
    Picture expected{90, 70, 3, Bytes()};
    for (UBYTE v : grey.samples) expected.samples.insert(expected.samples.end(), 3, v);
    EXPECT_TRUE(back == expected);
}

TEST_F(GifTest, SavesAreTheSameEveryTime) {
    // The diffusion starts afresh with each save, so a picture always gives the same file.
    const Picture pic = testPicture(80, 50, 3, 9);
    setOptions(64, 70, false);
    const Bytes first = readFile(saveGif(pic, "one.gif"));
    saveGif(testPicture(31, 17, 3, 2), "other.gif");
    EXPECT_EQ(readFile(saveGif(pic, "two.gif")), first);
    // What giftopnm reads is what we read.
    const Picture peer = giftopnm(path("two.gif"));
    ASSERT_FALSE(peer.samples.empty());
    expectLoads(path("two.gif"), peer);
    EXPECT_LE(distinctColours(peer), 64u);
}

TEST_F(GifTest, AWhitePictureOf4096By4096SavesAsOneWhiteEntry) {
    // 16,777,216 pixels in one node: more than 32-bit colour sums hold.
    TALIO_ImageBuffer* b = TALIO_AllocBuffer(4096, 4096, 24, 0, TALIO_FORMAT_RGBPLANES, 0);
    ASSERT_NE(b, nullptr);
    for (UBYTE* plane : {b->red, b->green, b->blue}) std::memset(plane, 255, size_t(b->bytes_per_row) * 4096);
    ASSERT_EQ(saveBuffer(b, path("white.gif"), "GIF"), TALIO_OK);
    TALIO_FreeBuffer(b);
    const Bytes file = readFile(path("white.gif"));
    EXPECT_EQ(file[10], 0x80);
    EXPECT_EQ(Bytes(file.begin() + 13, file.begin() + 19), Bytes({255, 255, 255, 0, 0, 0}));
    // One colour in the decoded picture: white, on every pixel.
    std::istringstream histogram(output("giftopnm " + quoted(path("white.gif")) + " | ppmhist -noheader"));
    std::vector<uint64_t> line;
    for (uint64_t v; histogram >> v;) line.push_back(v);
    EXPECT_EQ(line, (std::vector<uint64_t>{255, 255, 255, 255, 16777216}));
}

TEST_F(GifTest, TheSaveOptionsGroupShowsAndSetsTheOptions) {
    for (const char* name : {"Text", "Scroller", "CheckBox"})
        if (!Tal_FindClassFromName(name)) GTEST_SKIP() << "the " << name << " class is not registered";
    constexpr ULONG kChecked = 0x0015000A, kGetChecked = 0x00150014;
    setOptions(100, 30, true);
    // 7023 on a GIF object is the colour count.
    EXPECT_EQ(Tal_DoMethod(gif, GIFTALIO_GetColours), 100u);
    EXPECT_EQ(Tal_DoMethod(gif, TALIO_GetFlags), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(gif, TALIO_GetExtension)), "gif");
    const ULONG group = ULONG(Tal_DoMethod(gif, TALIO_GetSaveOptions));
    ASSERT_NE(group, 0u);
    const ULONG colours =
        ULONG(Tal_DoMethod(ULONG(Tal_DoMethod(group, TAL_GetMemberAt, 0)), TAL_GetMemberAt, 1));
    const ULONG dithering =
        ULONG(Tal_DoMethod(ULONG(Tal_DoMethod(group, TAL_GetMemberAt, 1)), TAL_GetMemberAt, 1));
    const ULONG check = ULONG(Tal_DoMethod(group, TAL_GetMemberAt, 2));
    EXPECT_EQ(Tal_DoMethod(colours, TAL_GetValue), 100u);
    EXPECT_EQ(Tal_DoMethod(dithering, TAL_GetValue), 30u);
    EXPECT_EQ(Tal_DoMethod(check, kGetChecked), 1u);
    EXPECT_EQ(Tal_DoMethod(colours, TAL_GetMinimum), 2u);
    EXPECT_EQ(Tal_DoMethod(colours, TAL_GetMaximum), 256u);
    Tal_DoMethod(colours, TAL_SetValue, 16);
    Tal_DoMethod(dithering, TAL_SetValue, 0);
    Tal_DoMethod(check, kChecked, 0);
    EXPECT_EQ(Tal_DoMethod(gif, GIFTALIO_GetColours), 16u);
    EXPECT_EQ(Tal_DoMethod(gif, GIFTALIO_GetDithering), 0u);
    EXPECT_EQ(Tal_DoMethod(gif, GIFTALIO_GetInterlaced), 0u);
    // Out-of-range values are limited.
    Tal_DoMethod(gif, GIFTALIO_SetColours, 0);
    Tal_DoMethod(gif, GIFTALIO_SetDithering, 1000);
    EXPECT_EQ(Tal_DoMethod(gif, GIFTALIO_GetColours), 1u);
    EXPECT_EQ(Tal_DoMethod(gif, GIFTALIO_GetDithering), 100u);
}

// ---------------------------------------------------------------------------------------------------
// The quantizer and the mapper.

// The pruning as passes over a linked tree, node by node, to hold the flat counting against.
struct ReferenceOctree {
    struct Node {
        std::unique_ptr<Node> child[8];
        uint64_t passing = 0, count = 0, sum[3] = {0, 0, 0};
    };
    Node root;
    uint64_t threshold = 0, smallest = 0, colourNodes = 0;
    std::vector<ULONG> palette;

    ReferenceOctree(const Picture& pic, ULONG colours) {
        ULONG depth = 1;
        while ((ULONG(1) << (depth + 1)) <= colours) depth++;
        for (size_t i = 0; i < pic.samples.size(); i += 3) {
            const UBYTE* p = &pic.samples[i];
            Node* n = &root;
            n->passing++;
            for (ULONG level = 0; level < depth; level++) {
                const int octant = ((p[0] >> (7 - level)) & 1) << 2 | ((p[1] >> (7 - level)) & 1) << 1 |
                                   ((p[2] >> (7 - level)) & 1);
                if (!n->child[octant]) {
                    n->child[octant] = std::make_unique<Node>();
                    if (level + 1 == depth) colourNodes++;
                }
                n = n->child[octant].get();
                n->passing++;
            }
            n->count++;
            for (int c = 0; c < 3; c++) n->sum[c] += p[c];
        }
        while (colourNodes > colours) {
            smallest = UINT64_MAX, colourNodes = 0;
            prune(&root, true);
            threshold = smallest;
        }
        number(&root);
    }
    // True when the node is to be merged into its parent.
    bool prune(Node* n, bool isRoot) {
        for (auto& c : n->child)
            if (c && prune(c.get(), false)) {
                n->count += c->count;
                for (int k = 0; k < 3; k++) n->sum[k] += c->sum[k];
                c.reset();
            }
        if (!isRoot && n->passing <= threshold) return true;
        if (n->count) colourNodes++;
        smallest = std::min(smallest, n->passing);
        return false;
    }
    void number(Node* n) {
        for (auto& c : n->child)
            if (c) number(c.get());
        if (!n->count) return;
        ULONG entry = 0;
        for (int k = 0; k < 3; k++) entry |= ULONG((n->sum[k] + n->count / 2) / n->count) << (8 * k);
        palette.push_back(entry);
    }
};

TALIO_PlaneRows rowsOf(const TALIO_ImageBuffer* b) {
    TALIO_PlaneRows rows;
    EXPECT_TRUE(TALIO__PlaneRowsOf(b, &rows));
    return rows;
}

TEST_F(GifTest, TheQuantizerPrunesAsPassesOverTheTreeWould) {
    struct Case {
        Picture pic;
        ULONG colours;
    };
    const Case cases[] = {
        {testPicture(64, 48, 3, 1), 256}, {testPicture(64, 48, 3, 2), 255},  {testPicture(50, 40, 3, 3), 100},
        {testPicture(50, 40, 3, 4), 16},  {testPicture(30, 30, 3, 5), 7},    {testPicture(30, 30, 3, 6), 2},
        {testPicture(30, 30, 3, 7), 1},   {fewColours(40, 40, 300, 8), 256}, {fewColours(9, 9, 40, 9), 256},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.colours) + " colours of " + std::to_string(distinctColours(c.pic)));
        TALIO_ImageBuffer* b = bufferOf(c.pic);
        TALIO_Octree tree;
        ASSERT_TRUE(tree.build(rowsOf(b), c.colours));
        const ReferenceOctree reference(c.pic, c.colours);
        EXPECT_EQ(std::vector<ULONG>(tree.palette().begin(), tree.palette().begin() + tree.count()),
                  reference.palette);
        EXPECT_LE(tree.count(), c.colours);
        TALIO_FreeBuffer(b);
    }
}

TEST_F(GifTest, ThreeHundredColoursGiveAtMost256MeansAndNearestMapping) {
    const Picture pic = fewColours(60, 40, 300, 11);
    ASSERT_EQ(distinctColours(pic), 300u);
    TALIO_ImageBuffer* b = bufferOf(pic);
    TALIO_Octree tree;
    ASSERT_TRUE(tree.build(rowsOf(b), 256));
    ASSERT_LE(tree.count(), 256u);
    ASSERT_GT(tree.count(), 200u);
    // Each entry is the rounded mean of the pixels it holds.
    std::vector<std::array<uint64_t, 4>> sums(tree.count());
    for (size_t i = 0; i < pic.samples.size(); i += 3) {
        const ULONG home = tree.home(pic.samples[i], pic.samples[i + 1], pic.samples[i + 2]);
        ASSERT_LT(home, tree.count());
        for (int c = 0; c < 3; c++) sums[home][c] += pic.samples[i + c];
        sums[home][3]++;
    }
    for (ULONG i = 0; i < tree.count(); i++) {
        ASSERT_GT(sums[i][3], 0u) << "entry " << i << " holds no pixel";
        ULONG mean = 0;
        for (int c = 0; c < 3; c++) mean |= ULONG((sums[i][c] + sums[i][3] / 2) / sums[i][3]) << (8 * c);
        EXPECT_EQ(tree.palette()[i], mean) << "entry " << i;
    }

    // At dithering 0 every pixel gets its nearest entry (the first of equals), in the library's mapper
    // and in the saved file.
    auto nearest = [](const ULONG* palette, ULONG n, const UBYTE* p) {
        ULONG best = 0;
        int bestDistance = INT_MAX;
        for (ULONG i = 0; i < n; i++) {
            int d = 0;
            for (int c = 0; c < 3; c++)
                d +=
                    (p[c] - int((palette[i] >> (8 * c)) & 255)) * (p[c] - int((palette[i] >> (8 * c)) & 255));
            if (d < bestDistance) bestDistance = d, best = i;
        }
        return best;
    };
    ASSERT_EQ(TALIO__ComputeBestColourmapA(b, 256), 1u);
    EXPECT_TRUE(std::equal(b->palette, b->palette + tree.count(), tree.palette().begin()));
    Bytes indexes(size_t(pic.width) * pic.height * 3);
    ASSERT_EQ(TALIO__GetBufferData(b, 0, 0, pic.width, pic.height, pic.width * 3, 0, indexes.data()), 1u);
    setOptions(256, 0, false);
    const Picture saved = giftopnm(saveGif(pic, "nearest.gif"));
    ASSERT_EQ(saved.samples.size(), pic.samples.size());
    for (size_t i = 0; i < size_t(pic.width) * pic.height; i++) {
        const ULONG want = nearest(b->palette, tree.count(), &pic.samples[3 * i]);
        ASSERT_EQ(indexes[(i / pic.width) * pic.width * 3 + i % pic.width], want) << "pixel " << i;
        const ULONG colour = b->palette[want];
        ASSERT_EQ(Bytes(saved.samples.begin() + long(3 * i), saved.samples.begin() + long(3 * i + 3)),
                  Bytes({UBYTE(colour), UBYTE(colour >> 8), UBYTE(colour >> 16)}))
            << "pixel " << i;
    }
    TALIO_FreeBuffer(b);
}

TEST_F(GifTest, TheMapperFindsTheNearestEntryForAnyColour) {
    // Random palettes (with repeated entries, so that equal distances occur) against random colours:
    // the first of the nearest entries, as a search of the whole palette finds it.
    std::mt19937 random(5);
    for (ULONG count : {1u, 2u, 17u, 256u}) {
        std::vector<ULONG> palette(count);
        for (ULONG& e : palette) e = random() & (count > 2 ? 0xF0F0F0 : 0xFFFFFF);
        TALIO_ColourMapper mapper;
        mapper.setPalette(palette.data(), count);
        for (int n = 0; n < 5000; n++) {
            const int c[3] = {int(random() % 256), int(random() % 256), int(random() % 256)};
            ULONG best = 0;
            int bestDistance = INT_MAX;
            for (ULONG i = 0; i < count; i++) {
                int d = 0;
                for (int k = 0; k < 3; k++) {
                    const int diff = c[k] - int((palette[i] >> (8 * k)) & 255);
                    d += diff * diff;
                }
                if (d < bestDistance) bestDistance = d, best = i;
            }
            ASSERT_EQ(mapper.nearest(c[0], c[1], c[2]), best) << count << " entries";
        }
    }
}

TEST_F(GifTest, ColourCountsAreLimitedTo1To256) {
    TALIO_ImageBuffer* b = bufferOf(testPicture(40, 30, 3, 2));
    std::fill(std::begin(b->palette), std::end(b->palette), 0xABCDEF);
    const ULONG layersHead = ULONG(reinterpret_cast<uintptr_t>(b->layers.lh_Head));
    // The grey ramp: at least one entry, at most the palette's 256.
    TALIO_ComputeBestColourmapA(b, 0);
    EXPECT_EQ(b->palette[0], 0u);
    EXPECT_EQ(b->palette[1], 0xABCDEFu);
    TALIO_ComputeBestColourmapA(b, 100000);
    EXPECT_EQ(b->palette[255], 0xFFFFFFu);
    EXPECT_EQ(ULONG(reinterpret_cast<uintptr_t>(b->layers.lh_Head)), layersHead);
    // The quantizer: 0 colours asks for one, more than 256 for 256.
    TALIO_Octree tree;
    ASSERT_TRUE(tree.build(rowsOf(b), 0));
    EXPECT_EQ(tree.count(), 1u);
    ASSERT_TRUE(tree.build(rowsOf(b), 5000));
    EXPECT_GT(tree.count(), 128u);
    EXPECT_LE(tree.count(), 256u);
    EXPECT_EQ(TALIO__ComputeBestColourmapA(b, 0), 1u);
    TALIO_FreeBuffer(b);
}

TEST_F(GifTest, DiffusionSpreadsTheErrorAlongASerpentine) {
    const ULONG blackAndWhite[2] = {0, 0xFFFFFF};
    TALIO_ColourMapper mapper;
    mapper.setPalette(blackAndWhite, 2);
    const Bytes grey(400, 100);
    Bytes out(400);
    // Plain nearest colour: all black.
    mapper.mapRow(grey.data(), grey.data(), grey.data(), 400, 0, out.data());
    EXPECT_EQ(std::count(out.begin(), out.end(), 1), 0);
    // Diffused, a mix of about the grey's share of white.
    mapper.reset();
    mapper.mapRow(grey.data(), grey.data(), grey.data(), 400, 100, out.data());
    const auto white = std::count(out.begin(), out.end(), 1);
    EXPECT_NEAR(double(white) / 400, 100.0 / 255, 0.08);
    // The first pixel goes black; the error (100 too dark) then makes the second white. The next row runs
    // right to left, carrying the error on from where the first one ended.
    EXPECT_EQ(out[0], 0);
    EXPECT_EQ(out[1], 1);
    mapper.reset();
    Bytes row(5);
    mapper.mapRow(grey.data(), grey.data(), grey.data(), 5, 100, row.data());
    Bytes second(5);
    mapper.mapRow(grey.data(), grey.data(), grey.data(), 5, 100, second.data());
    mapper.reset();
    Bytes ten(10);
    mapper.mapRow(grey.data(), grey.data(), grey.data(), 10, 100, ten.data());
    EXPECT_EQ(Bytes(ten.begin(), ten.begin() + 5), row);
    EXPECT_EQ(Bytes(second.rbegin(), second.rend()), Bytes(ten.begin() + 5, ten.end()));
}

} // namespace
