// JPEG files: loading what peers write exactly as djpeg decodes it (also reduced), saving what peers read
// back, the IPTC picture information both ways, and the refusals.
#include "talio_test.h"

#include "ui/Group.h"

#include <thread>

using namespace talio_test;

namespace {

std::string field(const char* area, size_t size) {
    return std::string(area, strnlen(area, size));
}
#define FIELD(info, member) field((info).member, sizeof((info).member))

// The datasets of a block TALIO__BuildIPTC wrote, as "record:number=text".
std::vector<std::string> datasetsOf(const Bytes& block) {
    std::vector<std::string> out;
    for (size_t p = 26; p + 5 <= block.size() && block[p] == 0x1C;) {
        const size_t n = size_t(block[p + 3]) << 8 | block[p + 4];
        out.push_back(std::to_string(block[p + 1]) + ":" + std::to_string(block[p + 2]) + "=" +
                      std::string(block.begin() + long(p + 5), block.begin() + long(p + 5 + n)));
        p += 5 + n;
    }
    return out;
}

Bytes built(const TALIO_IPTCInfo& info) {
    Tal_DynamicMemory* mem = Tal_InitDynamicMemoryA(TAL_DYNMEM_BIGENDIAN);
    Bytes out;
    if (TALIO__BuildIPTC(&info, mem)) out.assign(mem->data, mem->data + mem->length);
    Tal_CleanupDynamicMemory(mem);
    return out;
}

class JpegTest : public TalioFixture {
  protected:
    // Loads the file (at 1/reduction size) and expects djpeg's pixels.
    void expectLikeDjpeg(const fs::path& file, ULONG reduction = 1) {
        SCOPED_TRACE(file.filename().string() + " at 1/" + std::to_string(reduction));
        const Picture peer = djpeg(file, reduction > 1 ? "-scale 1/" + std::to_string(reduction) : "");
        ASSERT_FALSE(peer.samples.empty());
        ULONG error = 0;
        TALIO_ImageBuffer* b = load(file, &error, TALIO_LOAD_QUIET, reduction * 100);
        ASSERT_NE(b, nullptr) << "error " << error;
        EXPECT_STREQ(b->header->format_name, "JPEG");
        EXPECT_EQ(b->depth, peer.channels * 8);
        EXPECT_EQ(b->format, peer.channels == 1 ? TALIO_FORMAT_GREY8 : TALIO_FORMAT_RGBPLANES);
        EXPECT_TRUE(pixelsOf(b, peer.channels) == peer);
        TALIO_FreeBuffer(b);
    }
};

TEST_F(JpegTest, PeerFilesLoadWithDjpegsPixelsAtEveryScale) {
    const Picture colour = testPicture(97, 61);
    const Picture grey = testPicture(64, 48, 1);
    writeFile(path("colour.ppm"), pnmBytes(colour));
    struct Case {
        const char* name;
        fs::path file;
    };
    const Case cases[] = {
        {"baseline", cjpeg(colour, "baseline.jpg")},
        {"progressive", cjpeg(colour, "progressive.jpg", "-progressive -quality 70")},
        {"grey", cjpeg(grey, "grey.jpg")},
        {"restart markers", cjpeg(colour, "restart.jpg", "-restart 1")},
        {"4:4:4", cjpeg(colour, "444.jpg", "-sample 1x1 -quality 95")},
        {"odd size", cjpeg(testPicture(37, 23, 3, 7), "odd.jpg")},
        {"1 x 1", cjpeg(testPicture(1, 1, 3, 9), "one.jpg")},
        {"ImageMagick", path("im.jpg")},
        {"ImageMagick progressive", path("im-progressive.jpg")},
        {"ImageMagick grey", path("im-grey.jpg")},
    };
    const std::string source = quoted(path("colour.ppm"));
    ASSERT_EQ(run("convert " + source + " -quality 80 " + quoted(path("im.jpg"))), 0);
    ASSERT_EQ(run("convert " + source + " -interlace Plane " + quoted(path("im-progressive.jpg"))), 0);
    ASSERT_EQ(run("convert " + source + " -type Grayscale " + quoted(path("im-grey.jpg"))), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (ULONG reduction : {1, 2, 4, 8}) expectLikeDjpeg(c.file, reduction);
    }
}

TEST_F(JpegTest, LargePicturesAreStoredByAWorkerWithTheSameResult) {
    // Above a megapixel the decoded rows are stored by a second thread: the same pixels, and its end is
    // waited for whatever way the load ends.
    const fs::path file = cjpeg(testPicture(1100, 1000, 3, 3), "large.jpg");
    expectLikeDjpeg(file);
    const Bytes whole = readFile(file);
    writeFile(path("cut.jpg"), Bytes(whole.begin(), whole.begin() + long(whole.size() * 3 / 5)));
    ULONG error = 0;
    EXPECT_EQ(load(path("cut.jpg"), &error), nullptr);
    EXPECT_EQ(error, TALIO_ERR_DAMAGED);
    SetSignal(SIGBREAKF_CTRL_C, SIGBREAKF_CTRL_C);
    EXPECT_EQ(load(file, &error), nullptr);
    SetSignal(0, SIGBREAKF_CTRL_C);
    EXPECT_EQ(error, TALIO_ERR_CANCELLED);
}

TEST_F(JpegTest, FilesCutShortAreDamagedButStrayBytesAreNot) {
    const Picture pic = testPicture(97, 61, 3, 2);
    const Bytes progressive = readFile(cjpeg(pic, "progressive.jpg", "-progressive"));
    const Bytes baseline = readFile(cjpeg(pic, "baseline.jpg"));
    const std::vector<size_t> scans = scanStarts(progressive);
    ASSERT_GE(scans.size(), 3u);
    auto cut = [](const Bytes& f, size_t at) { return Bytes(f.begin(), f.begin() + long(at)); };
    auto inserted = [](const Bytes& f, size_t at) {
        Bytes out(f.begin(), f.begin() + long(at));
        out.insert(out.end(), {0x12, 0x34, 0x56});
        out.insert(out.end(), f.begin() + long(at), f.end());
        return out;
    };

    // Cut where a later scan begins (every scan before it whole), or inside the coded data.
    std::vector<std::pair<std::string, Bytes>> damaged;
    for (size_t i = 1; i < scans.size(); i++)
        damaged.emplace_back("progressive cut at scan " + std::to_string(i + 1), cut(progressive, scans[i]));
    damaged.emplace_back("progressive cut inside its last scan", cut(progressive, progressive.size() - 40));
    damaged.emplace_back("baseline cut inside its scan", cut(baseline, baseline.size() * 2 / 3));
    for (const auto& [name, bytes] : damaged) {
        SCOPED_TRACE(name);
        writeFile(path("damaged.jpg"), bytes);
        ULONG error = 0;
        EXPECT_EQ(load(path("damaged.jpg"), &error), nullptr);
        EXPECT_EQ(error, TALIO_ERR_DAMAGED);
    }

    // Only the end marker missing, or bytes that belong to nothing before a marker: djpeg's picture.
    const std::pair<std::string, Bytes> whole[] = {
        {"progressive without its end marker", cut(progressive, progressive.size() - 2)},
        {"baseline without its end marker", cut(baseline, baseline.size() - 2)},
        {"stray bytes between progressive scans", inserted(progressive, scans[2])},
        {"stray bytes before the end marker", inserted(baseline, baseline.size() - 2)},
    };
    for (const auto& [name, bytes] : whole) {
        SCOPED_TRACE(name);
        writeFile(path("whole.jpg"), bytes);
        expectLikeDjpeg(path("whole.jpg"));
    }
}

TEST_F(JpegTest, PreviewLoadsAimJustAboveThePreviewSize) {
    struct Case {
        ULONG width, height;
        ULONG reduction, previewWidth, previewHeight;
    };
    for (const Case& c :
         {Case{1000, 600, 800, 125, 75}, Case{101, 40, 200, 51, 20}, Case{100, 40, 100, 100, 40}}) {
        SCOPED_TRACE(std::to_string(c.width) + " wide");
        const fs::path file =
            cjpeg(testPicture(c.width, c.height), "preview" + std::to_string(c.width) + ".jpg");
        ULONG error = 0, fullWidth = 0, fullHeight = 0;
        const auto tags = Tal_MakeTags(TALIO_TAG_FullWidth, &fullWidth, TALIO_TAG_FullHeight, &fullHeight);
        TALIO_ImageBuffer* b =
            TALIO_AutoLoadBufferA(file.c_str(), TALIO_LOAD_QUIET | TALIO_LOAD_PREVIEW, &error, tags.data());
        ASSERT_NE(b, nullptr) << "error " << error;
        EXPECT_EQ(fullWidth, c.width);
        EXPECT_EQ(fullHeight, c.height);
        EXPECT_EQ(b->width, c.previewWidth);
        EXPECT_EQ(b->height, c.previewHeight);
        const ULONG scale = c.reduction / 100;
        EXPECT_TRUE(pixelsOf(b, 3) == djpeg(file, "-scale 1/" + std::to_string(scale)));
        TALIO_FreeBuffer(b);
    }
}

TEST_F(JpegTest, SavedFilesReadBackInDjpegAndCarryTheirSettings) {
    const Picture pic = testPicture(83, 45);
    TALIO_ImageBuffer* b = bufferOf(pic);
    ASSERT_NE(b, nullptr);
    const ULONG jpeg = Tal_CreateObject("JPEGTALIO");
    struct Case {
        ULONG quality, progressive;
        UBYTE frame;
    };
    for (const Case& c : {Case{90, 0, 0xC0}, Case{50, 0, 0xC0}, Case{75, 1, 0xC2}}) {
        SCOPED_TRACE("quality " + std::to_string(c.quality));
        Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, c.quality);
        Tal_DoMethod(jpeg, JPEGTALIO_SetProgressive, c.progressive);
        const fs::path file = path("saved" + std::to_string(c.quality) + ".jpg");
        ASSERT_EQ(saveBuffer(b, file), TALIO_OK);
        EXPECT_EQ(frameOf(readFile(file)), std::make_pair(c.frame, 3));
        EXPECT_EQ(output("identify -format %Q " + quoted(file)), std::to_string(c.quality));
        TALIO_ImageBuffer* again = load(file);
        ASSERT_NE(again, nullptr);
        EXPECT_TRUE(pixelsOf(again, 3) == djpeg(file));
        TALIO_FreeBuffer(again);
    }
    Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, 90);
    Tal_DoMethod(jpeg, JPEGTALIO_SetProgressive, 0);
    Tal_DisposeObject(jpeg);
    TALIO_FreeBuffer(b);
}

TEST_F(JpegTest, GreyBuffersAreSavedAsGreyJpegs) {
    const Picture grey = testPicture(40, 30, 1);
    TALIO_ImageBuffer* b = bufferOf(grey);
    const fs::path file = path("grey.jpg");
    ASSERT_EQ(saveBuffer(b, file), TALIO_OK);
    EXPECT_EQ(frameOf(readFile(file)).second, 1);
    const Picture back = djpeg(file);
    ASSERT_EQ(back.channels, 1u);
    for (size_t i = 0; i < back.samples.size(); i++) ASSERT_NEAR(back.samples[i], grey.samples[i], 12) << i;
    TALIO_FreeBuffer(b);
}

TEST_F(JpegTest, TheFormatObjectsValues) {
    const ULONG jpeg = Tal_CreateObject("JPEGTALIO");
    ASSERT_NE(jpeg, 0u);
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_GetKind), TALIO_KIND_FILE);
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_GetFlags), 259u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(jpeg, TALIO_GetExtension)), "jpg");
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_GetReduction), 100u);
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_SetReduction, 300), 0u);
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_GetReduction), 100u);
    // 7023 is the quality on a JPEG object, not the flags.
    EXPECT_EQ(Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, 77), 1u);
    EXPECT_EQ(Tal_DoMethod(jpeg, JPEGTALIO_GetQuality), 77u);
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_GetFlags), 259u);
    Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, 500);
    EXPECT_EQ(Tal_DoMethod(jpeg, JPEGTALIO_GetQuality), 100u);
    Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, 90);
    EXPECT_EQ(Tal_DoMethod(jpeg, JPEGTALIO_GetProgressive), 0u);
    Tal_DisposeObject(jpeg);
}

TEST_F(JpegTest, TheSaveOptionsGroupShowsAndSetsTheOptions) {
    for (const char* name : {"Text", "Scroller", "CheckBox"})
        if (!Tal_FindClassFromName(name)) GTEST_SKIP() << "the " << name << " class is not registered";
    constexpr ULONG kValue = 0x80000078, kGetValue = 0x80000079, kChecked = 0x0015000A,
                    kGetChecked = 0x00150014;
    const ULONG jpeg = Tal_CreateObject("JPEGTALIO");
    Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, 70);
    const ULONG group = ULONG(Tal_DoMethod(jpeg, TALIO_GetSaveOptions));
    ASSERT_NE(group, 0u);
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_GetSaveOptions), group);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(group, TAL_GetLabel)), Tal_GetCatalogueText(97));
    // A row with the quality slider between two labels, then the check box.
    const ULONG row = ULONG(Tal_DoMethod(group, TAL_GetMemberAt, 0));
    const ULONG slider = ULONG(Tal_DoMethod(row, TAL_GetMemberAt, 1));
    const ULONG check = ULONG(Tal_DoMethod(group, TAL_GetMemberAt, 1));
    EXPECT_EQ(Tal_DoMethod(slider, kGetValue), 70u);
    EXPECT_EQ(Tal_DoMethod(check, kGetChecked), 0u);
    Tal_DoMethod(slider, kValue, 40);
    Tal_DoMethod(check, kChecked, 1);
    EXPECT_EQ(Tal_DoMethod(jpeg, JPEGTALIO_GetQuality), 40u);
    EXPECT_EQ(Tal_DoMethod(jpeg, JPEGTALIO_GetProgressive), 1u);
    Tal_DoMethod(jpeg, JPEGTALIO_SetQuality, 90);
    Tal_DoMethod(jpeg, JPEGTALIO_SetProgressive, 0);
    // The group goes with its format object.
    Tal_DisposeObject(jpeg);
    EXPECT_EQ(Tal_GetObjectInstance(group), nullptr);
}

TEST_F(JpegTest, IdentifyWantsAnApp0OrApp1StartAndAPeek) {
    const Bytes good = readFile(cjpeg(testPicture(16, 16), "good.jpg"));
    // The same data with the JFIF segment taken out starts with a quantization table.
    const std::vector<Segment> segs = segments(good);
    Bytes dqtFirst(good.begin(), good.begin() + 2);
    dqtFirst.insert(dqtFirst.end(), good.begin() + long(segs[1].at), good.end());
    ASSERT_EQ(dqtFirst[3], 0xDB);
    writeFile(path("dqt.jpg"), dqtFirst);
    ULONG error = 0;
    EXPECT_EQ(load(path("dqt.jpg"), &error), nullptr);
    EXPECT_EQ(error, TALIO_ERR_UNKNOWN);

    TALIO_ImageBuffer* b = static_cast<TALIO_ImageBuffer*>(Tal_AllocMemClear(sizeof(TALIO_ImageBuffer)));
    TALIO_Header header{};
    header.buffer = b;
    header.file_name = path("good.jpg").c_str();
    const ULONG jpeg = Tal_CreateObject("JPEGTALIO");
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_Identify, &header), TALIO_ERR_UNKNOWN);
    UBYTE shortPeek[3] = {0xFF, 0xD8, 0xFF};
    header.peek = shortPeek;
    header.peek_length = 3;
    EXPECT_EQ(Tal_DoMethod(jpeg, TALIO_Identify, &header), TALIO_ERR_UNKNOWN);
    Tal_DisposeObject(jpeg);
    Tal_FreeMem(b);
}

TEST_F(JpegTest, PictureInformationIsReadFromTheMarker) {
    const std::string caption = "A harbour at dusk";
    const Bytes block =
        photoshopBlock({dataset(2, 120, caption), dataset(2, 105, "Evening"), dataset(2, 25, "sea"),
                        dataset(2, 25, "sky"), dataset(2, 5, "harbour-01")});
    const Bytes plain = readFile(cjpeg(testPicture(24, 16), "plain.jpg"));
    writeFile(path("iptc.jpg"), withApp13(plain, block));
    TALIO_ImageBuffer* b = load(path("iptc.jpg"));
    ASSERT_NE(b, nullptr);
    ASSERT_NE(b->header->extra, nullptr);
    const auto& info = *static_cast<const TALIO_IPTCInfo*>(b->header->extra);
    EXPECT_EQ(FIELD(info, caption), caption);
    EXPECT_EQ(FIELD(info, headline), "Evening");
    EXPECT_EQ(FIELD(info, keywords), "sea\nsky");
    EXPECT_EQ(FIELD(info, object_name), "harbour-01");
    // The envelope record's character set is not the city of the application record.
    EXPECT_EQ(FIELD(info, city), "");
    // The decoded picture is not disturbed by the marker.
    EXPECT_TRUE(pixelsOf(b, 3) == djpeg(path("iptc.jpg")));
    TALIO_FreeBuffer(b);
}

TEST_F(JpegTest, PictureInformationIsWrittenForPeers) {
    TALIO_ImageBuffer* b = bufferOf(testPicture(32, 24));
    b->header = static_cast<TALIO_Header*>(Tal_AllocMemClear(sizeof(TALIO_Header)));
    auto* info = static_cast<TALIO_IPTCInfo*>(Tal_AllocMemClear(sizeof(TALIO_IPTCInfo)));
    b->header->extra = info;
    // Full fields: no terminating zero in the record.
    const std::string caption(2000, 'c'), headline(256, 'h');
    std::memcpy(info->caption, caption.data(), 2000);
    std::memcpy(info->headline, headline.data(), 256);
    std::strcpy(info->supplemental_categories, "nature");
    std::strcpy(info->keywords, "sea\nsky");
    std::strcpy(info->byline, "Ann");
    const fs::path file = path("info.jpg");
    ASSERT_EQ(saveBuffer(b, file), TALIO_OK);
    EXPECT_EQ(output("identify -format '%[IPTC:2:120]' " + quoted(file)), caption);
    EXPECT_EQ(output("identify -format '%[IPTC:2:105]' " + quoted(file)), headline);
    EXPECT_EQ(output("identify -format '%[IPTC:2:25]' " + quoted(file)), "sea;sky");
    EXPECT_EQ(output("identify -format '%[IPTC:2:65]' " + quoted(file)), "Velura");

    TALIO_ImageBuffer* again = load(file);
    ASSERT_NE(again, nullptr);
    const auto& back = *static_cast<const TALIO_IPTCInfo*>(again->header->extra);
    EXPECT_EQ(FIELD(back, caption), caption);
    EXPECT_EQ(FIELD(back, headline), headline);
    EXPECT_EQ(FIELD(back, supplemental_categories), "nature");
    EXPECT_EQ(FIELD(back, keywords), "sea\nsky");
    EXPECT_EQ(FIELD(back, byline), "Ann");
    EXPECT_EQ(FIELD(back, originating_program), "Velura");
    TALIO_FreeBuffer(again);
    TALIO_FreeBuffer(b);
}

TEST_F(JpegTest, TheBlockWrittenForARecord) {
    TALIO_IPTCInfo info{};
    std::strcpy(info.headline, "Only this");
    EXPECT_EQ(datasetsOf(built(info)), (std::vector<std::string>{std::string("2:0=\0\2", 6), "2:65=Velura",
                                                                 "2:70=1", "2:105=Only this"}));
    const Bytes block = built(info);
    // The resource size counts everything after it, the pad byte included.
    EXPECT_EQ(block.size() % 2, 0u);
    EXPECT_EQ(size_t(block[22]) << 24 | size_t(block[23]) << 16 | size_t(block[24]) << 8 | block[25],
              block.size() - 26);

    TALIO_IPTCInfo many{};
    std::strcpy(many.keywords, "sea\nsky");
    std::strcpy(many.caption, "Boats");
    std::strcpy(many.city, "Bergen");
    EXPECT_EQ(datasetsOf(built(many)),
              (std::vector<std::string>{std::string("2:0=\0\2", 6), "2:120=Boats", "2:25=sea", "2:25=sky",
                                        "2:65=Velura", "2:70=1", "2:90=Bergen"}));
    TALIO_IPTCInfo read{};
    TALIO__ReadIPTC(block.data(), block.size(), &read);
    EXPECT_EQ(FIELD(read, headline), "Only this");
}

TEST_F(JpegTest, MarkersCutAtEveryLengthAreReadSafely) {
    const Bytes block = photoshopBlock({dataset(2, 120, std::string(300, 'x')), dataset(2, 100, "NORWAY"),
                                        dataset(2, 25, "a"), dataset(2, 25, "b"),
                                        dataset(2, 116, "(c) nobody"), dataset(2, 55, "20260101")});
    for (size_t n = 0; n <= block.size(); n++) {
        // A heap copy of exactly n bytes, so that any read past them is caught.
        std::unique_ptr<UBYTE[]> cut(new UBYTE[std::max<size_t>(n, 1)]);
        std::memcpy(cut.get(), block.data(), n);
        TALIO_IPTCInfo info{};
        TALIO__ReadIPTC(cut.get(), n, &info);
        // A four-byte field holds its text whole, without a terminator.
        const std::string country = FIELD(info, country_code);
        EXPECT_TRUE(country.empty() || country == "NORW") << n;
    }
    TALIO_IPTCInfo whole{};
    TALIO__ReadIPTC(block.data(), block.size(), &whole);
    EXPECT_EQ(FIELD(whole, country_code), "NORW");
    EXPECT_EQ(FIELD(whole, copyright_notice), "(c) nobody");
    EXPECT_EQ(FIELD(whole, date_created), "20260101");
}

TEST_F(JpegTest, LoadsAndSavesInSeveralThreadsAtOnce) {
    const fs::path files[] = {cjpeg(testPicture(120, 80, 3, 1), "a.jpg"),
                              cjpeg(testPicture(90, 130, 3, 2), "b.jpg")};
    // Each thread loads its file and saves it again; the results are those of one thread alone.
    auto convert = [&](int i, int round) {
        TALIO_ImageBuffer* b = load(files[i]);
        if (!b) return false;
        const bool saved =
            saveBuffer(b, path("out" + std::to_string(i) + "-" + std::to_string(round) + ".jpg"), "JPEG") ==
            TALIO_OK;
        TALIO_FreeBuffer(b);
        return saved;
    };
    ASSERT_TRUE(convert(0, 0));
    ASSERT_TRUE(convert(1, 0));
    std::atomic<int> failures{0};
    {
        TaskThread first([&] {
            for (int r = 1; r <= 4; r++) failures += !convert(0, r);
        });
        TaskThread second([&] {
            for (int r = 1; r <= 4; r++) failures += !convert(1, r);
        });
    }
    EXPECT_EQ(failures, 0);
    for (int i = 0; i < 2; i++)
        for (int r = 1; r <= 4; r++)
            EXPECT_EQ(readFile(path("out" + std::to_string(i) + "-" + std::to_string(r) + ".jpg")),
                      readFile(path("out" + std::to_string(i) + "-0.jpg")));
}

} // namespace
