// TARGA files: what ppmtotga and ImageMagick write (with the footer appended) loads as tgatoppm decodes
// it, packets that run across rows, saved files (plain and run-length coded) read back in tgatoppm, the
// process-wide option, and damaged files ending in an error number or a picture.
#include "talio_test.h"

#include "ui/Button.h"
#include "ui/Group.h"
#include "talio/TALIOBytes.h"

#include <thread>

using namespace talio_test;

namespace {

Picture tgatoppm(const fs::path& file) {
    return peerPicture("tgatoppm " + quoted(file));
}

Bytes footer() {
    Bytes f(8, 0);
    append(f, "TRUEVISION-XFILE.");
    f.push_back(0);
    return f;
}

Bytes joined(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

Bytes withFooter(const Bytes& file) {
    return joined(file, footer());
}

// An 18-byte header of a 24-bit file.
Bytes targaHeader(UBYTE type, UWORD width, UWORD height, UBYTE descriptor, UBYTE depth = 24) {
    Bytes h(18, 0);
    h[2] = type;
    TALIO__PutLE16(&h[12], width);
    TALIO__PutLE16(&h[14], height);
    h[16] = depth;
    h[17] = descriptor;
    return h;
}

// 7 x 2 pixels: a raw packet of 3, a run of 10 over the last 4 pixels of the first row and the first 6 of
// the second, a raw packet of 1.
const Bytes kRunAcrossRows{0x02, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x89, 10, 20, 30, 0x00, 40, 50, 60};

// The pixels of a picture as B, G, R, from its top row.
Bytes bgrOf(const Picture& pic) {
    Bytes out;
    for (size_t i = 0; i < pic.samples.size(); i += 3)
        out.insert(out.end(), {pic.samples[i + 2], pic.samples[i + 1], pic.samples[i]});
    return out;
}

// The bytes between the header and the footer of a saved file.
Bytes pixelBytes(const Bytes& file) {
    return Bytes(file.begin() + 18, file.end() - 26);
}

class TargaTest : public TalioFixture {
  protected:
    void TearDown() override {
        setCompress(0);
        TalioFixture::TearDown();
    }
    void setCompress(ULONG on) {
        const ULONG targa = Tal_CreateObject("TARGATALIO");
        Tal_DoMethod(targa, TARGATALIO_SetCompress, on);
        Tal_DisposeObject(targa);
    }
    // Saves the picture as a TARGA file, run-length coded or not; the file's bytes.
    Bytes save(const Picture& pic, const fs::path& file, ULONG compress) {
        setCompress(compress);
        TALIO_ImageBuffer* b = bufferOf(pic);
        EXPECT_EQ(saveBuffer(b, file, "TARGA"), TALIO_OK);
        TALIO_FreeBuffer(b);
        return readFile(file);
    }
    void expectLikeTgatoppm(const fs::path& file) {
        SCOPED_TRACE(file.filename().string());
        const Picture peer = tgatoppm(file);
        ASSERT_FALSE(peer.samples.empty());
        ULONG error = 0;
        std::string word;
        EXPECT_TRUE(loadedPicture(file, &error, &word) == peer) << "error " << error;
        EXPECT_EQ(word, "TARGA");
    }
    // The peers' files with the footer appended.
    std::vector<fs::path> peerFiles() {
        const Picture pic = testPicture(45, 17, 3, 2);
        // Long runs, so that the coded files have run packets as well as raw ones.
        Picture runs = pic;
        for (size_t i = 0; i < runs.samples.size(); i++) runs.samples[i] = UBYTE(runs.samples[i] & 0xC0);
        writeFile(path("pic.ppm"), pnmBytes(pic));
        writeFile(path("runs.ppm"), pnmBytes(runs));
        const std::pair<const char*, std::string> commands[] = {
            {"ppmtotga.tga", "ppmtotga -rgb -norle pic.ppm"},
            {"ppmtotga-rle.tga", "ppmtotga -rgb runs.ppm"},
            {"magick.tga", "convert pic.ppm tga:-"},
            {"magick-rle.tga", "convert runs.ppm -compress RLE tga:-"},
        };
        std::vector<fs::path> files;
        for (const auto& [name, command] : commands) {
            EXPECT_EQ(run("cd " + quoted(dir) + " && " + command + " > " + name + " 2>/dev/null"), 0)
                << command;
            writeFile(path(name), withFooter(readFile(path(name))));
            files.push_back(path(name));
        }
        return files;
    }
};

TEST_F(TargaTest, PeerFilesWithTheFooterLoadAsTgatoppmDecodesThem) {
    const std::vector<fs::path> files = peerFiles();
    for (const fs::path& file : files) expectLikeTgatoppm(file);
    // Coded, bottom-up with an identification field (ppmtotga); coded, top-down or not (ImageMagick).
    EXPECT_EQ(readFile(path("ppmtotga-rle.tga"))[2], 10);
    EXPECT_EQ(readFile(path("magick-rle.tga"))[2], 10);

    // Without the footer a TARGA file is not taken for one.
    const Bytes plain = readFile(path("ppmtotga.tga"));
    writeFile(path("no-footer.tga"), Bytes(plain.begin(), plain.end() - 26));
    ULONG error = 0;
    EXPECT_TRUE(loadedPicture(path("no-footer.tga"), &error).samples.empty());
    EXPECT_EQ(error, TALIO_ERR_UNKNOWN);
}

TEST_F(TargaTest, PacketsRunAcrossRowsAndAColourMapIsSkipped) {
    // 5 x 3, top row first: a raw packet of 7 (row 0 and two pixels of row 1), then a run of 8 (the rest
    // of row 1 and row 2), as other programs may write.
    const Picture pic = testPicture(5, 3, 3, 9);
    const Bytes bgr = bgrOf(pic);
    Bytes coded = targaHeader(10, 5, 3, 0x20);
    coded.push_back(0x06);
    coded.insert(coded.end(), bgr.begin(), bgr.begin() + 21);
    coded.push_back(0x87);
    coded.insert(coded.end(), bgr.begin() + 21, bgr.begin() + 24);
    writeFile(path("across.tga"), withFooter(coded));
    expectLikeTgatoppm(path("across.tga"));
    const Picture loaded = loadedPicture(path("across.tga"));
    ASSERT_EQ(loaded.samples.size(), pic.samples.size());
    EXPECT_TRUE(std::equal(pic.samples.begin(), pic.samples.begin() + 21, loaded.samples.begin()));

    // A run over the end of the bottom row and the start of the next.
    writeFile(path("run.tga"), withFooter(joined(targaHeader(10, 7, 2, 0), kRunAcrossRows)));
    expectLikeTgatoppm(path("run.tga"));

    // A true-colour file with an identification field and a colour map of 3 entries of 24 bits.
    Bytes mapped = targaHeader(2, 5, 3, 0x20);
    mapped[0] = 4, mapped[1] = 1;
    TALIO__PutLE16(&mapped[5], 3);
    mapped[7] = 24;
    mapped.insert(mapped.end(), 4 + 9, 0x77);
    mapped.insert(mapped.end(), bgr.begin(), bgr.end());
    writeFile(path("colour-map.tga"), withFooter(mapped));
    expectLikeTgatoppm(path("colour-map.tga"));
    EXPECT_TRUE(loadedPicture(path("colour-map.tga")) == pic);
}

TEST_F(TargaTest, WhatIsNotLoaded) {
    struct Case {
        const char* what;
        Bytes file;
        ULONG error;
    };
    const Case cases[] = {
        {"20 bytes", Bytes(20, 0), TALIO_ERR_UNKNOWN},
        {"a footer alone", footer(), TALIO_ERR_UNKNOWN},
        {"32 bits", withFooter(joined(targaHeader(2, 1, 1, 0, 32), {1, 2, 3, 4})), TALIO_ERR_UNSUPPORTED},
        {"colour-mapped", withFooter(joined(targaHeader(1, 1, 1, 0), {1, 2, 3})), TALIO_ERR_UNSUPPORTED},
        {"short rows", withFooter(joined(targaHeader(2, 2, 2, 0), {1, 2, 3})), TALIO_ERR_READ},
        {"packets cut short", withFooter(joined(targaHeader(10, 4, 1, 0), {0x83})), TALIO_ERR_READ},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path("x.tga"), c.file);
        ULONG error = 0;
        EXPECT_TRUE(loadedPicture(path("x.tga"), &error).samples.empty());
        EXPECT_EQ(error, c.error);
    }
}

TEST_F(TargaTest, SavedFilesAreReadByTgatoppm) {
    // 5 x 2 uncompressed: 18 + 30 + 26 bytes, top row first.
    const Picture small = testPicture(5, 2, 3, 4);
    const Bytes f = save(small, path("small.tga"), 0);
    ASSERT_EQ(f.size(), 74u);
    EXPECT_EQ(Bytes(f.begin(), f.begin() + 18), targaHeader(2, 5, 2, 0x20));
    EXPECT_EQ(pixelBytes(f), bgrOf(small));
    EXPECT_EQ(Bytes(f.end() - 26, f.end()), footer());
    EXPECT_TRUE(tgatoppm(path("small.tga")) == small);

    // Run-length coded, with runs and raw stretches of every length, rows 1 pixel wide, and rows that end
    // in a single pixel.
    Picture runs = testPicture(301, 7, 3, 5);
    for (size_t i = 0; i < runs.samples.size(); i++)
        if ((i / 3) % 301 < 280) runs.samples[i] &= 0x80;
    struct Case {
        const char* name;
        Picture pic;
    };
    for (const Case& c :
         {Case{"runs", runs}, Case{"noise", testPicture(130, 3, 3, 6)},
          Case{"one wide", testPicture(1, 5, 3, 7)}, Case{"two wide", testPicture(2, 1, 3, 8)}}) {
        SCOPED_TRACE(c.name);
        for (ULONG compress : {0, 1}) {
            const fs::path file = path(std::string(c.name) + std::to_string(compress) + ".tga");
            const Bytes bytes = save(c.pic, file, compress);
            ASSERT_GE(bytes.size(), 18u);
            EXPECT_EQ(bytes[2], compress ? 10 : 2);
            EXPECT_TRUE(tgatoppm(file) == c.pic);
            EXPECT_TRUE(loadedPicture(file) == c.pic);
        }
    }
    // A grey picture is written as colour.
    const Picture grey = testPicture(6, 2, 1, 3);
    TALIO_ImageBuffer* b = bufferOf(grey);
    ASSERT_EQ(saveBuffer(b, path("grey.tga"), "TARGA"), TALIO_OK);
    TALIO_FreeBuffer(b);
    EXPECT_TRUE(tgatoppm(path("grey.tga")) == asColour(grey));
}

TEST_F(TargaTest, RowsAreCodedAsRunsAndRawPacketsWithinTheRow) {
    auto pixel = [](UBYTE v) { return Bytes{v, UBYTE(v + 1), UBYTE(v + 2)}; };
    auto rowOf = [&](const std::vector<UBYTE>& values) {
        Picture pic{ULONG(values.size()), 1, 3, {}};
        for (UBYTE v : values) {
            const Bytes p = pixel(v);
            pic.samples.insert(pic.samples.end(), p.rbegin(), p.rend()); // saved as B, G, R = pixel(v)
        }
        return pic;
    };
    // P P P Q R: a run of 3 and a raw packet of 2.
    Bytes expected{0x82};
    for (const Bytes& part : {pixel(10), Bytes{0x01}, pixel(20), pixel(30)})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(pixelBytes(save(rowOf({10, 10, 10, 20, 30}), path("a.tga"), 1)), expected);
    // 300 equal pixels: runs of 128, 128 and 44.
    expected.clear();
    for (UBYTE count : {0xFF, 0xFF, 0xAB}) {
        expected.push_back(count);
        const Bytes p = pixel(40);
        expected.insert(expected.end(), p.begin(), p.end());
    }
    EXPECT_EQ(pixelBytes(save(rowOf(std::vector<UBYTE>(300, 40)), path("b.tga"), 1)), expected);
    // A row ending in a single pixel after a run; a single pixel alone.
    expected = {0x81};
    for (const Bytes& part : {pixel(50), Bytes{0x00}, pixel(60)})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(pixelBytes(save(rowOf({50, 50, 60}), path("c.tga"), 1)), expected);
    expected = {0x00};
    const Bytes p = pixel(70);
    expected.insert(expected.end(), p.begin(), p.end());
    EXPECT_EQ(pixelBytes(save(rowOf({70}), path("d.tga"), 1)), expected);
}

TEST_F(TargaTest, TheCompressOptionIsTheProgramsAndTheCheckBoxSetsIt) {
    const ULONG first = Tal_CreateObject("TARGATALIO"), second = Tal_CreateObject("TARGATALIO");
    ASSERT_NE(first, 0u);
    EXPECT_EQ(Tal_DoMethod(first, TALIO_GetKind), TALIO_KIND_FILE);
    EXPECT_EQ(Tal_DoMethod(first, TALIO_GetFlags), 1u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(first, TALIO_GetExtension)), "tga");
    EXPECT_EQ(Tal_DoMethod(second, TARGATALIO_GetCompress), 0u);
    Tal_DoMethod(first, TARGATALIO_SetCompress, 5);
    EXPECT_EQ(Tal_DoMethod(second, TARGATALIO_GetCompress), 1u);
    Tal_DisposeObject(first);
    const ULONG third = Tal_CreateObject("TARGATALIO");
    EXPECT_EQ(Tal_DoMethod(third, TARGATALIO_GetCompress), 1u);
    Tal_DoMethod(third, TARGATALIO_SetCompress, 0);

    // The save-options group: one check box, labelled from the catalogue, that sets the option.
    const ULONG group = ULONG(Tal_DoMethod(second, TALIO_GetSaveOptions));
    ASSERT_NE(group, 0u);
    EXPECT_EQ(Tal_DoMethod(second, TALIO_GetSaveOptions), group);
    const ULONG check = ULONG(Tal_DoMethod(group, TAL_GetMemberAt, 0));
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(check, TAL_GetLabel)), Tal_GetCatalogueText(252));
    Tal_DoMethod(check, TAL_SetChecked, 1);
    EXPECT_EQ(Tal_DoMethod(third, TARGATALIO_GetCompress), 1u);
    Tal_DoMethod(check, TAL_SetChecked, 0);
    EXPECT_EQ(Tal_DoMethod(third, TARGATALIO_GetCompress), 0u);
    Tal_DisposeObject(second);
    Tal_DisposeObject(third);
}

TEST_F(TargaTest, CodedLoadsInSeveralThreadsKeepTheirOwnPackets) {
    // The decoder's carry is the program's: loads take turns and each gets its own picture.
    std::vector<Picture> pics;
    for (ULONG i = 0; i < 4; i++) {
        Picture pic = testPicture(131, 40, 3, i + 1);
        for (UBYTE& v : pic.samples) v &= 0xE0;
        pics.push_back(pic);
        save(pic, path("t" + std::to_string(i) + ".tga"), 1);
    }
    std::vector<int> good(4, 0);
    std::vector<std::thread> threads;
    for (ULONG i = 0; i < 4; i++)
        threads.emplace_back([&, i] {
            for (int round = 0; round < 5; round++)
                good[i] += loadedPicture(path("t" + std::to_string(i) + ".tga")) == pics[i] ? 1 : 0;
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(good, std::vector<int>(4, 5));
}

TEST_F(TargaTest, DamagedFilesLoadQuietly) {
    std::vector<fs::path> files = peerFiles();
    writeFile(path("run.tga"), withFooter(joined(targaHeader(10, 7, 2, 0), kRunAcrossRows)));
    files.push_back(path("run.tga"));
    ULONG seed = 1;
    for (const fs::path& file : files) expectDamagedCopiesLoadQuietly(file, path("damaged.tga"), seed++);
}

} // namespace
