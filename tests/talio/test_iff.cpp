// IFF pictures: ILBM files of netpbm load as ilbmtoppm decodes them, our ILBM files read back in
// ilbmtoppm, DEEP files reload identically, and damaged or crafted files load quietly or fail with the
// right error number.
#include "talio_test.h"

using namespace talio_test;

namespace {

void put16(Bytes& out, ULONG v) {
    out.insert(out.end(), {UBYTE(v >> 8), UBYTE(v)});
}
void put32(Bytes& out, ULONG v) {
    out.insert(out.end(), {UBYTE(v >> 24), UBYTE(v >> 16), UBYTE(v >> 8), UBYTE(v)});
}

// A chunk with its pad byte; `length` other than the data's size makes a chunk that claims more or less.
Bytes chunk(const char* id, const Bytes& data, long length = -1) {
    Bytes out;
    append(out, std::string(id, 4));
    put32(out, length < 0 ? ULONG(data.size()) : ULONG(length));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() & 1) out.push_back(0);
    return out;
}

Bytes form(const char* type, const std::vector<Bytes>& chunks) {
    Bytes body;
    append(body, type);
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes out;
    append(out, "FORM");
    put32(out, ULONG(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

Bytes bmhd(ULONG width, ULONG height, ULONG planes, ULONG masking = 0, ULONG compression = 0,
           size_t size = 20) {
    Bytes d;
    put16(d, width);
    put16(d, height);
    put32(d, 0);
    d.insert(d.end(), {UBYTE(planes), UBYTE(masking), UBYTE(compression), 0, 0, 0, 10, 11});
    put16(d, width);
    put16(d, height);
    d.resize(size);
    return chunk("BMHD", d);
}

Bytes cmap(const std::vector<ULONG>& colours) {
    Bytes d;
    for (ULONG c : colours) d.insert(d.end(), {UBYTE(c >> 16), UBYTE(c >> 8), UBYTE(c)});
    return chunk("CMAP", d);
}

// A picture of `count` colours in bands and steps, for the colour-mapped files of the peers.
Picture fewColours(ULONG width, ULONG height, ULONG count) {
    Picture pic{width, height, 3, Bytes(size_t(width) * height * 3)};
    for (ULONG y = 0; y < height; y++)
        for (ULONG x = 0; x < width; x++) {
            const ULONG i = (x / 3 + y / 2 * 5) % count;
            UBYTE* p = &pic.samples[(size_t(y) * width + x) * 3];
            p[0] = UBYTE(i * 255 / (count - 1)), p[1] = UBYTE(37 * i), p[2] = UBYTE(255 - 11 * i);
        }
    return pic;
}

Bytes deepFile(ULONG width, ULONG height, const std::vector<std::pair<ULONG, ULONG>>& elements,
               const Bytes& pixels, std::vector<Bytes> extra = {}) {
    Bytes dgbl, dpel;
    put16(dgbl, width);
    put16(dgbl, height);
    dgbl.insert(dgbl.end(), {0, 0, 22, 22});
    put32(dpel, ULONG(elements.size()));
    for (auto [type, bits] : elements) put16(dpel, type), put16(dpel, bits);
    std::vector<Bytes> chunks{chunk("DGBL", dgbl), chunk("DPEL", dpel)};
    chunks.insert(chunks.end(), extra.begin(), extra.end());
    chunks.push_back(chunk("DBOD", pixels));
    return form("DEEP", chunks);
}

class IffTest : public TalioFixture {
  protected:
    // Loads quietly; the red, green and blue pixels, or nothing with the error number.
    Picture loaded(const fs::path& file, ULONG* error = nullptr) {
        ULONG scratch = 0;
        if (!error) error = &scratch;
        TALIO_ImageBuffer* b = load(file, error);
        if (!b) return {};
        Picture pic = colourPixelsOf(b);
        TALIO_FreeBuffer(b);
        return pic;
    }
    fs::path written(const std::string& name, const Bytes& bytes) {
        writeFile(path(name), bytes);
        return path(name);
    }
    fs::path ppm(const std::string& name, const Picture& pic) {
        return written(name + (pic.channels == 3 ? ".ppm" : ".pgm"), pnmBytes(pic));
    }
    // What a format object's Identify says of a file, with the header set up as the registry does.
    ULONG identifyWith(const char* className, const fs::path& file) {
        const Bytes bytes = readFile(file);
        Bytes peek(512, 0);
        std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), 512), peek.begin());
        TALIO_ImageBuffer buffer{};
        TALIO_Header header{};
        header.buffer = &buffer;
        header.peek = peek.data();
        header.peek_length = ULONG(std::min<size_t>(bytes.size(), 512));
        header.file_size = bytes.size();
        header.stream = std::fopen(file.c_str(), "rb");
        header.truecolour_format = header.mapped_format = TALIO_FORMAT_RGBPLANES;
        header.grey_format = TALIO_FORMAT_GREY8;
        const ULONG object = Tal_CreateObject(className);
        const ULONG result = ULONG(Tal_DoMethod(object, TALIO_Identify, &header));
        Tal_DisposeObject(object);
        std::fclose(header.stream);
        return result;
    }
};

TEST_F(IffTest, PeerIlbmFilesLoadAsIlbmtoppmDecodesThem) {
    // Width 33: lines of 6 bytes, padding in the last word.
    const std::string colours32 = quoted(ppm("few32", fewColours(33, 21, 32)));
    const std::string colours16 = quoted(ppm("few16", fewColours(33, 21, 16)));
    const std::string photo = quoted(ppm("photo", testPicture(33, 21)));
    Picture mask{33, 21, 1, Bytes(33 * 21)};
    for (size_t i = 0; i < mask.samples.size(); i++) mask.samples[i] = (i % 7) < 3 ? 0 : 255;
    const std::string maskFile = quoted(ppm("mask", mask));
    struct Case {
        const char* name;
        std::string command;
        ULONG planes;
    };
    const Case cases[] = {
        {"default: 5 planes, ByteRun1", "ppmtoilbm " + colours32, 5},
        {"-nocompress", "ppmtoilbm -nocompress " + colours32, 5},
        {"-maxplanes 4", "ppmtoilbm -maxplanes 4 " + colours16, 4},
        {"-24force", "ppmtoilbm -24force " + photo, 24},
        {"-24force -nocompress", "ppmtoilbm -24force -nocompress " + photo, 24},
        {"with a mask plane",
         "pgmtopbm -threshold " + maskFile + " > mask.pbm && ppmtoilbm -maskfile mask.pbm " + colours32, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = path("peer.iff");
        ASSERT_EQ(run("cd " + quoted(dir) + " && " + c.command + " > peer.iff 2>/dev/null"), 0);
        const Picture peer = netpbm("ilbmtoppm " + quoted(file) + " 2>/dev/null");
        ASSERT_FALSE(peer.samples.empty());
        ULONG error = 0;
        TALIO_ImageBuffer* b = load(file, &error);
        ASSERT_NE(b, nullptr) << "error " << error;
        EXPECT_STREQ(b->header->format_name, "ILBM");
        EXPECT_EQ(b->depth, c.planes);
        EXPECT_TRUE(colourPixelsOf(b) == peer);
        TALIO_FreeBuffer(b);
    }
}

TEST_F(IffTest, IlbmSavesReadBackInIlbmtoppm) {
    struct Case {
        Picture picture;
        ULONG camg;
    };
    const Case cases[] = {{testPicture(33, 21), 0},
                          {testPicture(400, 300, 3, 2), 0x8004},
                          {testPicture(320, 256, 3, 3), 0},
                          {testPicture(17, 5, 1, 4), 0}};
    for (const Case& c : cases) {
        const Picture& pic = c.picture;
        SCOPED_TRACE(std::to_string(pic.width) + " x " + std::to_string(pic.height) + " x " +
                     std::to_string(pic.channels));
        TALIO_ImageBuffer* source = bufferOf(pic);
        ASSERT_EQ(saveBuffer(source, path("saved.iff"), "ILBM"), TALIO_OK);
        TALIO_FreeBuffer(source);
        // Grey pictures are written as true colour with equal red, green and blue.
        Picture expected = pic;
        if (pic.channels == 1) {
            expected = {pic.width, pic.height, 3, {}};
            for (UBYTE v : pic.samples) expected.samples.insert(expected.samples.end(), {v, v, v});
        }
        EXPECT_TRUE(netpbm("ilbmtoppm " + quoted(path("saved.iff")) + " 2>/dev/null") == expected);
        EXPECT_TRUE(loaded(path("saved.iff")) == expected);
        const Bytes file = readFile(path("saved.iff"));
        const size_t line = (pic.width + 15) / 16 * 2;
        ASSERT_EQ(file.size(), 12 + 28 + 12 + 8 + pic.height * 24 * line);
        EXPECT_EQ(std::string(file.begin() + 40, file.begin() + 44), "CAMG");
        EXPECT_EQ(ULONG(file[50]) << 8 | file[51], c.camg);
    }
    TALIO_ImageBuffer* b = bufferOf(testPicture(400, 300));
    ASSERT_EQ(saveBuffer(b, path("400.iff"), "ILBM"), TALIO_OK);
    EXPECT_EQ(fs::file_size(path("400.iff")), 360060u);
    TALIO_FreeBuffer(b);
}

TEST_F(IffTest, CraftedIlbmFilesLoadOrFailAsTheyShould) {
    const std::vector<ULONG> blackWhite{0x000000, 0xFFFFFF};
    // 32 x 2, one plane: lines of 4 bytes.
    auto onePlane = [&](const Bytes& body, long length = -1) {
        return form("ILBM", {bmhd(32, 2, 1, 0, 1), cmap(blackWhite), chunk("BODY", body, length)});
    };
    // Row `y` of a 32-pixel one-plane picture from its 4 line bytes.
    auto row = [](const Bytes& line) {
        Bytes pixels;
        for (UBYTE byte : line)
            for (int bit = 7; bit >= 0; bit--) {
                const UBYTE v = (byte >> bit) & 1 ? 255 : 0;
                pixels.insert(pixels.end(), {v, v, v});
            }
        return pixels;
    };
    auto picture = [&](const Bytes& line0, const Bytes& line1) {
        Picture pic{32, 2, 3, row(line0)};
        const Bytes second = row(line1);
        pic.samples.insert(pic.samples.end(), second.begin(), second.end());
        return pic;
    };
    Bytes longLiteral{0x7F};
    for (int i = 0; i < 128; i++) longLiteral.push_back(UBYTE(i));
    longLiteral.insert(longLiteral.end(), {0xFD, 0x0F});
    struct Case {
        const char* name;
        Bytes file;
        ULONG error;
        Picture expected; // when it loads
    };
    const Case cases[] = {
        {"FD 07 repeats 07 four times", onePlane({0xFD, 0x07, 0xFD, 0x07}), TALIO_OK,
         picture({7, 7, 7, 7}, {7, 7, 7, 7})},
        {"no-op bytes between runs", onePlane({0x80, 0xFD, 0x07, 0x80, 0x03, 1, 2, 3, 4}), TALIO_OK,
         picture({7, 7, 7, 7}, {1, 2, 3, 4})},
        {"a repeat run longer than the line is clipped", onePlane({0x81, 0xAA, 0xFD, 0x0F}), TALIO_OK,
         picture({0xAA, 0xAA, 0xAA, 0xAA}, {0x0F, 0x0F, 0x0F, 0x0F})},
        {"a literal run longer than the line is clipped", onePlane(longLiteral), TALIO_OK,
         picture({0, 1, 2, 3}, {0x0F, 0x0F, 0x0F, 0x0F})},
        {"all 128s never fill a line", onePlane(Bytes(300, 0x80)), TALIO_ERR_DAMAGED, {}},
        {"a ByteRun1 BODY cut off by the end of the file",
         onePlane({0xFD, 0x07, 0x01, 0x05}, 100),
         TALIO_ERR_READ,
         {}},
        {"a raw BODY cut off by the end of the file",
         form("ILBM", {bmhd(32, 2, 1), chunk("BODY", {1, 2, 3, 4, 5}, 8)}),
         TALIO_ERR_READ,
         {}},
        {"a raw BODY shorter than the picture",
         form("ILBM", {bmhd(32, 2, 1), chunk("BODY", {1, 2, 3, 4, 5, 6})}),
         TALIO_ERR_DAMAGED,
         {}},
        {"a second, larger BMHD",
         form("ILBM", {bmhd(32, 2, 1), bmhd(640, 400, 1), chunk("BODY", Bytes(8000, 0))}),
         TALIO_ERR_DAMAGED,
         {}},
        {"a BMHD shorter than 20 bytes",
         form("ILBM", {bmhd(32, 2, 1, 0, 0, 12), chunk("BODY", Bytes(8, 0))}),
         TALIO_ERR_UNKNOWN,
         {}},
        {"12 planes", form("ILBM", {bmhd(32, 2, 12), chunk("BODY", Bytes(96, 0))}), TALIO_ERR_UNKNOWN, {}},
        {"25 planes", form("ILBM", {bmhd(32, 2, 25), chunk("BODY", Bytes(200, 0))}), TALIO_ERR_UNKNOWN, {}},
        {"BODY before BMHD",
         form("ILBM", {chunk("BODY", Bytes(8, 0)), bmhd(32, 2, 1)}),
         TALIO_ERR_DAMAGED,
         {}},
        {"a chunk that claims more than the file holds before BMHD",
         form("ILBM", {chunk("ANNO", {'x'}, 1000), bmhd(32, 2, 1)}),
         TALIO_ERR_UNKNOWN,
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ULONG error = 0;
        const Picture pic = loaded(written("crafted.iff", c.file), &error);
        EXPECT_EQ(error, c.error);
        if (c.error == TALIO_OK) {
            EXPECT_TRUE(pic == c.expected);
        }
    }

    // The format object's own answers, which the registry turns into "not recognised".
    struct Refusal {
        const char* name;
        Bytes file;
        ULONG error;
    };
    const Refusal refusals[] = {
        {"short BMHD", form("ILBM", {bmhd(32, 2, 1, 0, 0, 12)}), TALIO_ERR_DAMAGED},
        {"0 planes", form("ILBM", {bmhd(32, 2, 0)}), TALIO_ERR_UNSUPPORTED},
        {"9 planes", form("ILBM", {bmhd(32, 2, 9)}), TALIO_ERR_UNSUPPORTED},
        {"23 planes", form("ILBM", {bmhd(32, 2, 23)}), TALIO_ERR_UNSUPPORTED},
        {"32 planes", form("ILBM", {bmhd(32, 2, 32)}), TALIO_ERR_UNSUPPORTED},
        {"compression 2", form("ILBM", {bmhd(32, 2, 1, 0, 2)}), TALIO_ERR_UNSUPPORTED},
        {"no BMHD", form("ILBM", {cmap(blackWhite)}), TALIO_ERR_UNKNOWN},
        {"a PBM form", form("PBM ", {bmhd(32, 2, 8)}), TALIO_ERR_UNKNOWN},
        {"24 planes", form("ILBM", {bmhd(32, 2, 24)}), TALIO_OK},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        EXPECT_EQ(identifyWith("ILBMTALIO", written("refused.iff", r.file)), r.error);
    }
}

TEST_F(IffTest, IlbmColourMapsMasksAndPicturesWithoutAColourMap) {
    // 4 planes with a colour map of 32 entries: only the first 16 are taken.
    std::vector<ULONG> colours;
    for (ULONG i = 0; i < 32; i++) colours.push_back(0x010203 * i);
    ULONG error = 0;
    TALIO_ImageBuffer* b =
        load(written("cmap.iff", form("ILBM", {bmhd(16, 1, 4), cmap(colours), chunk("BODY", Bytes(8, 0))})),
             &error);
    ASSERT_NE(b, nullptr) << error;
    EXPECT_EQ(b->palette[15], 15u | 30u << 8 | 45u << 16);
    EXPECT_EQ(b->palette[16], 0u);
    TALIO_FreeBuffer(b);

    // Masking 1 with 2 planes: three lines a row, the third (the mask) dropped.
    const Bytes masked{0xF0, 0x00, 0xFF, 0x00, 0x0F, 0x0F, /* row 2 */ 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF};
    const Picture two = loaded(
        written("mask.iff", form("ILBM", {bmhd(16, 2, 2, 1), cmap({0x000000, 0x0000FF, 0x00FF00, 0xFF0000}),
                                          chunk("BODY", masked)})),
        &error);
    ASSERT_EQ(error, TALIO_OK);
    auto pixel = [&](ULONG x, ULONG y) {
        const UBYTE* p = &two.samples[(size_t(y) * 16 + x) * 3];
        return ULONG(p[0]) << 16 | ULONG(p[1]) << 8 | p[2];
    };
    EXPECT_EQ(pixel(0, 0), 0xFF0000u); // planes 0 and 1 set: index 3
    EXPECT_EQ(pixel(4, 0), 0x00FF00u); // plane 1 only: index 2
    EXPECT_EQ(pixel(8, 0), 0x000000u);
    EXPECT_EQ(pixel(4, 1), 0x000000u); // the mask line of row 0 did not become row 1

    // Without a colour map the values are grey levels over the whole range, as ilbmtoppm shows them.
    for (ULONG planes : {1u, 3u, 5u, 8u}) {
        SCOPED_TRACE(std::to_string(planes) + " planes");
        Bytes body;
        for (ULONG k = 0; k < planes; k++) body.insert(body.end(), {UBYTE(0x5A ^ (k * 37)), UBYTE(0xC3 + k)});
        const fs::path file = written("grey.iff", form("ILBM", {bmhd(16, 1, planes), chunk("BODY", body)}));
        EXPECT_TRUE(loaded(file) == netpbm("ilbmtoppm " + quoted(file) + " 2>/dev/null"));
    }
}

TEST_F(IffTest, DeepFilesReloadIdenticallyAndKeepTheirLayout) {
    const Picture colour = testPicture(10, 10);
    TALIO_ImageBuffer* b = bufferOf(colour);
    ASSERT_EQ(saveBuffer(b, path("saved.deep"), "IFFDEEP"), TALIO_OK);
    TALIO_FreeBuffer(b);
    const Bytes file = readFile(path("saved.deep"));
    ASSERT_EQ(file.size(), 8u + 68 + 300);
    Bytes dloc;
    put16(dloc, 10), put16(dloc, 10), put32(dloc, 0);
    const Bytes expectedHead =
        deepFile(10, 10, {{1, 8}, {2, 8}, {3, 8}}, colour.samples, {chunk("DLOC", dloc)});
    EXPECT_EQ(file, expectedHead);
    ULONG error = 0;
    TALIO_ImageBuffer* back = load(path("saved.deep"), &error);
    ASSERT_NE(back, nullptr) << error;
    EXPECT_STREQ(back->header->format_name, "IFFDEEP");
    EXPECT_TRUE(pixelsOf(back, 3) == colour);
    TALIO_FreeBuffer(back);

    // Grey pictures: equal red, green and blue; odd sizes keep the DBOD unpadded.
    const Picture grey = testPicture(7, 3, 1, 5);
    b = bufferOf(grey);
    ASSERT_EQ(saveBuffer(b, path("grey.deep"), "IFFDEEP"), TALIO_OK);
    TALIO_FreeBuffer(b);
    EXPECT_EQ(fs::file_size(path("grey.deep")), 8u + 68 + 63);
    const Picture back3 = loaded(path("grey.deep"));
    ASSERT_EQ(back3.samples.size(), 63u);
    for (size_t i = 0; i < 21; i++)
        EXPECT_TRUE(back3.samples[3 * i] == grey.samples[i] && back3.samples[3 * i + 1] == grey.samples[i] &&
                    back3.samples[3 * i + 2] == grey.samples[i]);
}

TEST_F(IffTest, DeepElementsAreCheckedAndReordered) {
    const Picture pic = testPicture(5, 3);
    Bytes bgr = pic.samples;
    for (size_t i = 0; i < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
    Bytes dloc;
    put16(dloc, 5), put16(dloc, 3), put32(dloc, 0);
    Bytes otherDloc;
    put16(otherDloc, 6), put16(otherDloc, 3), put32(otherDloc, 0);
    const std::vector<std::pair<ULONG, ULONG>> rgb{{1, 8}, {2, 8}, {3, 8}};
    const Bytes cutShort = deepFile(5, 3, rgb, Bytes(pic.samples.begin(), pic.samples.end() - 2));
    struct Case {
        const char* name;
        Bytes file;
        ULONG error;
    };
    const Case cases[] = {
        {"blue, green, red", deepFile(5, 3, {{3, 8}, {2, 8}, {1, 8}}, bgr, {chunk("DLOC", dloc)}), TALIO_OK},
        {"a fourth element", deepFile(5, 3, {{1, 8}, {2, 8}, {3, 8}, {4, 8}}, pic.samples),
         TALIO_ERR_UNSUPPORTED},
        {"red twice", deepFile(5, 3, {{1, 8}, {1, 8}, {3, 8}}, pic.samples), TALIO_ERR_UNSUPPORTED},
        {"16-bit green", deepFile(5, 3, {{1, 8}, {2, 16}, {3, 8}}, pic.samples), TALIO_ERR_UNSUPPORTED},
        {"an alpha element", deepFile(5, 3, {{1, 8}, {4, 8}, {3, 8}}, pic.samples), TALIO_ERR_UNSUPPORTED},
        {"a DLOC of another size", deepFile(5, 3, rgb, pic.samples, {chunk("DLOC", otherDloc)}),
         TALIO_ERR_UNSUPPORTED},
        {"a DBOD cut short", cutShort, TALIO_ERR_READ},
        {"DBOD before DPEL",
         form("DEEP",
              {Bytes{'D', 'G', 'B', 'L', 0, 0, 0, 8, 0, 5, 0, 3, 0, 0, 22, 22}, chunk("DBOD", pic.samples)}),
         TALIO_ERR_READ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ULONG error = 0;
        const Picture back = loaded(written("crafted.deep", c.file), &error);
        EXPECT_EQ(error, c.error);
        if (c.error == TALIO_OK) {
            EXPECT_TRUE(back == pic);
        }
    }
    // Compressed DEEP pictures are not recognised.
    Bytes compressed = deepFile(5, 3, rgb, pic.samples);
    compressed[25] = 1;
    EXPECT_EQ(identifyWith("IFFDEEPTALIO", written("compressed.deep", compressed)), TALIO_ERR_UNKNOWN);
}

TEST_F(IffTest, AStopSignalCancelsLoadsAndSavesOfTheseFormats) {
    // PNG is here too: the same progress rule holds for every new format.
    const Picture pic = testPicture(40, 70);
    for (const char* word : {"ILBM", "IFFDEEP", "PNG"}) {
        SCOPED_TRACE(word);
        TALIO_ImageBuffer* b = bufferOf(pic);
        ASSERT_EQ(saveBuffer(b, path("whole"), word), TALIO_OK);
        SetSignal(SIGBREAKF_CTRL_C, SIGBREAKF_CTRL_C);
        EXPECT_EQ(saveBuffer(b, path("cancelled"), word), TALIO_ERR_CANCELLED);
        ULONG error = 0;
        EXPECT_EQ(load(path("whole"), &error), nullptr);
        SetSignal(0, SIGBREAKF_CTRL_C);
        EXPECT_EQ(error, TALIO_ERR_CANCELLED);
        EXPECT_FALSE(fs::exists(path("cancelled")));
        TALIO_FreeBuffer(b);
    }
}

TEST_F(IffTest, DamagedFilesLoadQuietly) {
    ASSERT_EQ(run("ppmtoilbm " + quoted(ppm("few", fewColours(33, 21, 32))) + " > " +
                  quoted(path("byterun1.iff")) + " 2>/dev/null"),
              0);
    ASSERT_EQ(run("ppmtoilbm -24force -nocompress " + quoted(ppm("photo", testPicture(33, 21))) + " > " +
                  quoted(path("raw24.iff")) + " 2>/dev/null"),
              0);
    TALIO_ImageBuffer* b = bufferOf(testPicture(21, 13));
    ASSERT_EQ(saveBuffer(b, path("picture.deep"), "IFFDEEP"), TALIO_OK);
    TALIO_FreeBuffer(b);
    for (const char* name : {"byterun1.iff", "raw24.iff", "picture.deep"})
        expectDamagedCopiesLoadQuietly(path(name), path(std::string("damaged-") + name));
}

} // namespace
