// BMP files: what ppmtobmp and ImageMagick write loads as bmptopnm decodes it, saved files read back in
// bmptopnm, and damaged files (offsets, run-length codes, truncation) end in an error number or a picture.
#include "talio_test.h"

#include "talio/TALIOBytes.h"

using namespace talio_test;

namespace {

// A picture made of `colours` distinct colours, spread with noise.
Picture fewColours(ULONG width, ULONG height, ULONG colours, ULONG seed) {
    const Picture noise = testPicture(width, height, 3, seed);
    Picture pic{width, height, 3, {}};
    for (size_t i = 0; i < size_t(width) * height; i++) {
        const ULONG c = (noise.samples[3 * i] + 7 * (i % width) / std::max<ULONG>(1, width / 3)) % colours;
        pic.samples.insert(pic.samples.end(), {UBYTE(c * 37 + 11), UBYTE(255 - c * 13), UBYTE(c * 91 % 256)});
    }
    return pic;
}

Picture bmptopnm(const fs::path& file) {
    return peerPicture("bmptopnm " + quoted(file));
}

// A bitmap file by hand: the 14-byte file header and a 40-byte info header, then `rest` (colour table
// and rows). Height negative for top-down rows.
Bytes bitmap(LONG width, LONG height, UWORD bits, ULONG compression, const Bytes& palette,
             const Bytes& rows) {
    Bytes f(54, 0);
    f[0] = 'B', f[1] = 'M';
    TALIO__PutLE32(&f[2], ULONG(54 + palette.size() + rows.size()));
    TALIO__PutLE32(&f[10], ULONG(54 + palette.size()));
    TALIO__PutLE32(&f[14], 40);
    TALIO__PutLE32(&f[18], ULONG(width));
    TALIO__PutLE32(&f[22], ULONG(height));
    TALIO__PutLE16(&f[26], 1);
    TALIO__PutLE16(&f[28], bits);
    TALIO__PutLE32(&f[30], compression);
    f.insert(f.end(), palette.begin(), palette.end());
    f.insert(f.end(), rows.begin(), rows.end());
    return f;
}

// A grey ramp colour table: entry i is (i, i, i).
Bytes greyTable(ULONG entries) {
    Bytes t;
    for (ULONG i = 0; i < entries; i++) t.insert(t.end(), {UBYTE(i), UBYTE(i), UBYTE(i), 0});
    return t;
}

// The red samples of a picture (with a grey table, the indexes it was coded with).
Bytes reds(const Picture& pic) {
    Bytes out;
    for (size_t i = 0; i < pic.samples.size(); i += 3) out.push_back(pic.samples[i]);
    return out;
}

class BmpTest : public TalioFixture {
  protected:
    // Writes the picture as a netpbm file and runs `command` on it into `name`.
    fs::path peerFile(const Picture& pic, const std::string& name, const std::string& command) {
        const fs::path source = path(name + ".ppm"), file = path(name);
        writeFile(source, pnmBytes(pic));
        EXPECT_EQ(run(command + " " + quoted(source) + " > " + quoted(file) + " 2>/dev/null"), 0) << command;
        return file;
    }
    void expectLikeBmptopnm(const fs::path& file) {
        SCOPED_TRACE(file.filename().string());
        const Picture peer = bmptopnm(file);
        ASSERT_FALSE(peer.samples.empty());
        ULONG error = 0;
        std::string word;
        EXPECT_TRUE(loadedPicture(file, &error, &word) == peer) << "error " << error;
        EXPECT_EQ(word, "BMP");
    }
    // Loads bytes written to a file; the error number, and the picture when it loaded.
    ULONG loadBytes(const Bytes& bytes, Picture* pic = nullptr) {
        writeFile(path("crafted.bmp"), bytes);
        ULONG error = 0;
        Picture loaded = loadedPicture(path("crafted.bmp"), &error);
        if (pic) *pic = loaded;
        return error;
    }
    // The files of the peers, every bit depth and both headers.
    std::vector<fs::path> peerFiles() {
        std::vector<fs::path> files;
        struct Case {
            const char* name;
            Picture pic;
            const char* command;
        };
        const Case cases[] = {
            {"1bit.bmp", fewColours(33, 7, 2, 1), "ppmtobmp -bpp 1"},
            {"1bit-os2.bmp", fewColours(33, 7, 2, 1), "ppmtobmp -bpp 1 -os2"},
            {"4bit.bmp", fewColours(37, 9, 16, 2), "ppmtobmp -bpp 4"},
            {"4bit-os2.bmp", fewColours(37, 9, 16, 2), "ppmtobmp -bpp 4 -os2"},
            {"8bit.bmp", fewColours(41, 10, 200, 3), "ppmtobmp -bpp 8"},
            {"8bit-os2.bmp", fewColours(41, 10, 200, 3), "ppmtobmp -bpp 8 -os2"},
            {"24bit.bmp", testPicture(43, 11, 3, 4), "ppmtobmp -bpp 24"},
            {"24bit-os2.bmp", testPicture(43, 11, 3, 4), "ppmtobmp -bpp 24 -os2"},
            {"rle8.bmp", fewColours(40, 12, 30, 5), "convert - -type Palette -compress RLE bmp3:-"},
            {"v5.bmp", testPicture(29, 13, 3, 6), "convert - bmp:-"},
        };
        for (const Case& c : cases) {
            std::string command = c.command;
            if (command.find(" - ") != std::string::npos) {
                // ImageMagick reads the picture from its input.
                const fs::path source = path(std::string(c.name) + ".ppm");
                writeFile(source, pnmBytes(c.pic));
                EXPECT_EQ(run(command + " < " + quoted(source) + " > " + quoted(path(c.name))), 0);
                files.push_back(path(c.name));
            } else {
                files.push_back(peerFile(c.pic, c.name, command));
            }
        }
        return files;
    }
};

TEST_F(BmpTest, PeerFilesLoadAsBmptopnmDecodesThem) {
    const std::vector<fs::path> files = peerFiles();
    for (const fs::path& file : files) expectLikeBmptopnm(file);
    // The ImageMagick files are what they are meant to be: run-length coded, and with a V5 header.
    const Bytes rle = readFile(path("rle8.bmp")), v5 = readFile(path("v5.bmp"));
    ASSERT_GE(rle.size(), 34u);
    EXPECT_EQ(TALIO__GetLE32(&rle[30]), 1u);
    EXPECT_EQ(TALIO__GetLE16(&rle[28]), 8u);
    ASSERT_GE(v5.size(), 18u);
    EXPECT_EQ(TALIO__GetLE32(&v5[14]), 124u);

    // Top-down rows (a negative height): the 24-bit file with its rows turned over.
    Bytes topDown = readFile(path("24bit.bmp"));
    const size_t offset = TALIO__GetLE32(&topDown[10]), rowBytes = (43 * 3 + 3) & ~3;
    TALIO__PutLE32(&topDown[22], ULONG(-11));
    for (size_t r = 0; r < 11 / 2; r++)
        std::swap_ranges(topDown.begin() + long(offset + r * rowBytes),
                         topDown.begin() + long(offset + (r + 1) * rowBytes),
                         topDown.begin() + long(offset + (10 - r) * rowBytes));
    writeFile(path("top-down.bmp"), topDown);
    expectLikeBmptopnm(path("top-down.bmp"));
    EXPECT_TRUE(bmptopnm(path("top-down.bmp")) == bmptopnm(path("24bit.bmp")));
}

TEST_F(BmpTest, RunLengthCodesStayInsideTheirRows) {
    struct Case {
        const char* what;
        LONG width, height;
        Bytes codes;
        ULONG error;
        Bytes indexes; // rows from the top
    };
    const Case cases[] = {
        // A run, then a copy of three bytes padded to four, then the end of the row.
        {"run and copy", 6, 1, {3, 5, 0, 3, 10, 11, 12, 0, 0, 0, 0, 1}, TALIO_OK, {5, 5, 5, 10, 11, 12}},
        {"run of 255 on a row of 4", 4, 2, {255, 7, 0, 0, 2, 9, 0, 1}, TALIO_OK, {9, 9, 0, 0, 7, 7, 7, 7}},
        {"copy beyond the row", 3, 1, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}, TALIO_OK, {1, 2, 3}},
        {"move right beyond the row", 3, 1, {0, 2, 200, 0, 1, 9, 0, 1}, TALIO_OK, {0, 0, 0}},
        // Rows count from the bottom: a move up of two leaves the middle row, a move past the top ends.
        {"move up", 2, 3, {1, 4, 0, 2, 0, 2, 1, 6, 0, 1}, TALIO_OK, {0, 6, 0, 0, 4, 0}},
        {"move past the top", 2, 2, {1, 4, 0, 2, 0, 200, 1, 6, 0, 1}, TALIO_OK, {0, 0, 4, 0}},
        {"rows without an end code", 2, 2, {2, 1, 0, 0, 2, 3, 0, 0}, TALIO_OK, {3, 3, 1, 1}},
        {"cut inside a copy", 4, 1, {0, 4, 1, 2}, TALIO_ERR_READ, {}},
        {"cut before the last row", 2, 2, {2, 1, 0, 0}, TALIO_ERR_READ, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Picture pic;
        EXPECT_EQ(loadBytes(bitmap(c.width, c.height, 8, 1, greyTable(256), c.codes), &pic), c.error);
        EXPECT_EQ(reds(pic), c.indexes);
    }
}

TEST_F(BmpTest, OffsetsAndCodingsFromTheFileAreChecked) {
    const Bytes row{1, 2, 3, 0};
    Bytes table = greyTable(256);
    struct Case {
        const char* what;
        Bytes file;
        ULONG error;
    };
    // The pixels start inside the headers; beyond the end of the file.
    Bytes early = bitmap(3, 1, 8, 0, table, row), late = early;
    TALIO__PutLE32(&early[10], 20);
    TALIO__PutLE32(&late[10], ULONG(late.size() + 1));
    const Case cases[] = {
        {"pixels inside the headers", early, TALIO_ERR_DAMAGED},
        {"pixels after the end", late, TALIO_ERR_DAMAGED},
        {"cut rows", bitmap(3, 2, 8, 0, table, row), TALIO_ERR_READ},
        {"4 bits, run-length coded", bitmap(4, 1, 4, 2, greyTable(16), Bytes{0x12, 0x34, 0, 0}),
         TALIO_ERR_UNSUPPORTED},
        {"8 bits, bit fields", bitmap(3, 1, 8, 3, table, row), TALIO_ERR_UNSUPPORTED},
        {"24 bits, run-length coded", bitmap(1, 1, 24, 1, {}, Bytes{1, 2, 3, 0}), TALIO_ERR_UNSUPPORTED},
        {"1 bit, run-length coded", bitmap(1, 1, 1, 1, greyTable(2), Bytes{0, 0, 0, 0}),
         TALIO_ERR_UNSUPPORTED},
        {"16 bits", bitmap(2, 1, 16, 0, {}, Bytes{1, 2, 3, 4}), TALIO_ERR_UNKNOWN},
        {"32 bits", bitmap(1, 1, 32, 0, {}, Bytes{1, 2, 3, 4}), TALIO_ERR_UNKNOWN},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(loadBytes(c.file), c.error);
    }

    // A colour table far longer than 1024 bytes: the first 256 entries count. A short one: the entries
    // it lacks are black.
    Bytes longTable = greyTable(256);
    longTable.resize(5000, 0xEE);
    Picture pic;
    ASSERT_EQ(loadBytes(bitmap(3, 1, 8, 0, longTable, Bytes{1, 200, 255, 0}), &pic), TALIO_OK);
    EXPECT_EQ(reds(pic), (Bytes{1, 200, 255}));
    ASSERT_EQ(loadBytes(bitmap(3, 1, 8, 0, greyTable(10), Bytes{9, 10, 255, 0}), &pic), TALIO_OK);
    EXPECT_EQ(pic.samples, (Bytes{9, 9, 9, 0, 0, 0, 0, 0, 0}));
}

TEST_F(BmpTest, SavedFilesAreReadByBmptopnm) {
    // 5 x 2: rows of 15 bytes and one pad byte, 86 bytes in all.
    const Picture small = testPicture(5, 2, 3, 8);
    TALIO_ImageBuffer* b = bufferOf(small);
    ASSERT_EQ(saveBuffer(b, path("small.bmp"), "BMP"), TALIO_OK);
    const Bytes f = readFile(path("small.bmp"));
    ASSERT_EQ(f.size(), 86u);
    EXPECT_EQ(TALIO__GetLE32(&f[2]), 86u);
    EXPECT_EQ(TALIO__GetLE32(&f[10]), 54u);
    EXPECT_EQ(TALIO__GetLE32(&f[14]), 40u);
    EXPECT_EQ(TALIO__GetLE16(&f[28]), 24u);
    EXPECT_EQ(TALIO__GetLE32(&f[34]), 32u);
    EXPECT_EQ(f[54 + 15], 0);
    EXPECT_EQ(f[54 + 31], 0);
    // The bottom row comes first, blue first.
    EXPECT_EQ((Bytes{f[54], f[55], f[56]}), (Bytes{small.samples[17], small.samples[16], small.samples[15]}));
    EXPECT_TRUE(bmptopnm(path("small.bmp")) == small);
    TALIO_FreeBuffer(b);

    // Every row length modulo 4, and a grey picture (written as colour).
    for (ULONG width : {1, 2, 3, 4, 77}) {
        const Picture pic = testPicture(width, 9, 3, width);
        TALIO_ImageBuffer* buffer = bufferOf(pic);
        const fs::path file = path("w" + std::to_string(width) + ".bmp");
        ASSERT_EQ(saveBuffer(buffer, file, "BMP"), TALIO_OK);
        EXPECT_TRUE(bmptopnm(file) == pic) << width;
        EXPECT_TRUE(loadedPicture(file) == pic) << width;
        TALIO_FreeBuffer(buffer);
    }
    const Picture grey = testPicture(13, 6, 1, 3);
    TALIO_ImageBuffer* greyBuffer = bufferOf(grey);
    ASSERT_EQ(saveBuffer(greyBuffer, path("grey.bmp"), "BMP"), TALIO_OK);
    EXPECT_TRUE(bmptopnm(path("grey.bmp")) == asColour(grey));
    TALIO_FreeBuffer(greyBuffer);
}

TEST_F(BmpTest, DamagedFilesLoadQuietly) {
    std::vector<fs::path> files = peerFiles();
    writeFile(path("rle-copies.bmp"), bitmap(6, 2, 8, 1, greyTable(256),
                                             Bytes{3, 5, 0, 3, 10, 11, 12, 0, 0, 0, 0, 2, 1, 1, 2, 9, 0, 1}));
    files.push_back(path("rle-copies.bmp"));
    ULONG seed = 1;
    for (const fs::path& file : files) expectDamagedCopiesLoadQuietly(file, path("damaged.bmp"), seed++);
}

TEST_F(BmpTest, TheFormatObjectsValues) {
    const ULONG bmp = Tal_CreateObject("BMPTALIO");
    ASSERT_NE(bmp, 0u);
    EXPECT_EQ(Tal_DoMethod(bmp, TALIO_GetKind), TALIO_KIND_FILE);
    EXPECT_EQ(Tal_DoMethod(bmp, TALIO_GetFlags), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(bmp, TALIO_GetExtension)), "bmp");
    EXPECT_EQ(Tal_DoMethod(bmp, TALIO_GetSaveOptions), 0u);
    Tal_DisposeObject(bmp);
}

} // namespace
