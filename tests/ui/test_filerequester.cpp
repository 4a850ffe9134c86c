// The file requester's listing and its thumbnail database: what is listed, the database's files byte for
// byte, thumbnails that follow their pictures, and a damaged database that harms nothing.
#include "ui/FileRequester.h"
#include "talio/talio_test.h"

#include <sys/stat.h>
#include <utime.h>

namespace {

using namespace talio_test;

class Thumbnails : public TalioFixture {
  protected:
    void SetUp() override {
        TalioFixture::SetUp();
        pictures = path("pictures");
        database = path("database");
        fs::remove_all(pictures);
        fs::remove_all(database);
        fs::create_directories(pictures);
        Tal_SetThumbnailDatabase(database.c_str());
    }
    void TearDown() override {
        Tal_SetThumbnailDatabase(nullptr);
        TalioFixture::TearDown();
    }
    void picture(const std::string& name, ULONG w, ULONG h, const char* word) {
        TALIO_ImageBuffer* b = bufferOf(testPicture(w, h));
        ASSERT_EQ(saveBuffer(b, pictures / name, word), TALIO_OK);
        TALIO_FreeBuffer(b);
    }
    std::vector<Tal_FileEntry> list() {
        std::vector<Tal_FileEntry> entries;
        EXPECT_TRUE(Tal_ListPictureFiles(pictures.string(), entries, nullptr));
        Tal_MakeThumbnails(pictures.string(), entries, nullptr, nullptr);
        return entries;
    }
    void relist() {
        std::vector<Tal_FileEntry> entries = list();
        Tal_ClearFileEntries(entries);
    }
    static ULONG dateOf(const fs::path& p) {
        struct stat st {};
        stat(p.c_str(), &st);
        return ULONG(uint64_t(st.st_mtime));
    }
    static void setDate(const fs::path& p, time_t when) {
        utimbuf times{when, when};
        utime(p.c_str(), &times);
    }
    fs::path pictures, database;
};

TEST_F(Thumbnails, ListsRegularPictureFilesByLowerCasedName) {
    picture("b.JPG", 8, 8, "JPEG");
    picture("A.gif", 8, 8, "GIF");
    picture("c.png", 8, 8, "PNG");
    picture(".hidden.bmp", 8, 8, "BMP");
    writeFile(pictures / "c.txt", Bytes{1, 2, 3});
    fs::create_directory(pictures / "folder.jpg");
    ASSERT_EQ(mkfifo((pictures / "pipe.jpg").c_str(), 0600), 0); // would hold the worker for ever
    std::vector<Tal_FileEntry> entries;
    ASSERT_TRUE(Tal_ListPictureFiles(pictures.string(), entries, nullptr));
    std::vector<std::string> names;
    for (const Tal_FileEntry& e : entries) names.push_back(e.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A.gif", "b.JPG", "c.png"}));
    // A stop asked for ends the listing with nothing.
    EXPECT_FALSE(Tal_ListPictureFiles(pictures.string(), entries, [] { return true; }));
    EXPECT_TRUE(entries.empty());
}

TEST_F(Thumbnails, SizeTexts) {
    const std::pair<uint64_t, const char*> cases[] = {
        {1000, "File Size: 1KB"},
        {2047, "File Size: 1KB"},
        {2048, "File Size: 2KB"},
        {1500000, "File Size: 1,464KB"},
        {5000000000, "File Size: 4,882,812KB"},
    };
    for (const auto& [bytes, text] : cases) EXPECT_EQ(Tal_FileSizeText(bytes), text) << bytes;
}

TEST_F(Thumbnails, FitTheBoxKeepingProportions) {
    struct Case {
        ULONG w, h;
        LONG tw, th;
    };
    for (const Case& c : {Case{200, 100, 50, 25}, Case{100, 200, 19, 39}, Case{2000, 1500, 50, 37},
                          Case{1, 5000, 1, 39}, Case{5000, 1, 50, 1}, Case{50, 39, 50, 39}}) {
        LONG w = 0, h = 0;
        Tal_FitThumbnail(c.w, c.h, 50, 39, &w, &h);
        EXPECT_EQ(w, c.tw) << c.w << "x" << c.h;
        EXPECT_EQ(h, c.th) << c.w << "x" << c.h;
    }
}

TEST_F(Thumbnails, DatabaseHoldsTheIndexRecordsAndJpegThumbnails) {
    picture("a.bmp", 200, 100, "BMP");
    picture("b.jpg", 64, 48, "JPEG");
    writeFile(pictures / "x.jpg", Bytes(300, 0x5A)); // damaged: no loader knows it
    setDate(pictures / "a.bmp", 1000000);
    std::vector<Tal_FileEntry> entries = list();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].state, 1u);
    EXPECT_EQ(entries[0].dimensionText, "200x100");
    EXPECT_EQ(entries[0].thumbnail.width, 50);
    EXPECT_EQ(entries[0].thumbnail.height, 25);
    EXPECT_EQ(entries[1].state, 1u);
    EXPECT_EQ(entries[2].state, 2u);              // not a picture: the placeholder
    EXPECT_EQ(entries[2].thumbnail.bgr, nullptr); // nothing to show
    Tal_ClearFileEntries(entries);

    const std::string index = "Highest: 1\n1," + pictures.string() + "\n";
    EXPECT_EQ(readFile(database / "Index"), Bytes(index.begin(), index.end()));
    Bytes expected;
    auto word = [&](ULONG v) {
        for (int i = 0; i < 4; i++) expected.push_back(UBYTE(v >> (8 * i)));
    };
    auto record = [&](ULONG w, ULONG h, ULONG state, ULONG date, const std::string& name) {
        append(expected, "METI");
        word(ULONG((name.size() + 21 + 3) & ~size_t(3)));
        for (ULONG v : {w, h, 0u, state, date}) word(v);
        append(expected, name);
        expected.resize(expected.size() + 4 - name.size() % 4, 0);
    };
    record(200, 100, 1, 1000000, "a.bmp");
    record(64, 48, 1, dateOf(pictures / "b.jpg"), "b.jpg");
    record(0, 0, 2, dateOf(pictures / "x.jpg"), "x.jpg");
    EXPECT_EQ(readFile(database / "1" / "_Entries"), expected);
    // A name of 7 characters makes a record of 28 bytes after the length.
    const Bytes seven = Tal_EncodeThumbnailRecords({{1, 2, 0, 1, 5, "abc.jpg"}});
    ASSERT_EQ(seven.size(), 36u);
    EXPECT_EQ(seven[4], 28);

    // The thumbnail is a JPEG of 50 x 25 (the peer says so too).
    ULONG error = 0;
    std::string format;
    const Picture thumb = loadedPicture(database / "1" / "a.bmp", &error, &format);
    EXPECT_EQ(format, "JPEG");
    EXPECT_EQ(thumb.width, 50u);
    EXPECT_EQ(thumb.height, 25u);
    if (run("command -v identify >/dev/null") == 0) {
        EXPECT_EQ(output("identify -format '%m %wx%h' " + quoted(database / "1" / "a.bmp")), "JPEG 50x25");
    }
}

TEST_F(Thumbnails, FollowTheirPictures) {
    picture("a.bmp", 200, 100, "BMP");
    picture("b.jpg", 64, 48, "JPEG");
    setDate(pictures / "a.bmp", 1000000);
    relist();
    // A stored thumbnail is shown as it is while its picture keeps its date...
    picture("stand-in.jpg", 10, 10, "JPEG");
    fs::copy_file(pictures / "stand-in.jpg", database / "1" / "a.bmp", fs::copy_options::overwrite_existing);
    fs::remove(pictures / "stand-in.jpg");
    std::vector<Tal_FileEntry> entries = list();
    EXPECT_EQ(entries[0].thumbnail.width, 10);
    Tal_ClearFileEntries(entries);
    // ... and made again once the picture's date changed.
    setDate(pictures / "a.bmp", 2000000);
    entries = list();
    EXPECT_EQ(entries[0].thumbnail.width, 50);
    EXPECT_EQ(entries[0].storedDate, 2000000u);
    Tal_ClearFileEntries(entries);
    EXPECT_EQ(loadedPicture(database / "1" / "a.bmp").width, 50u);
    // A picture that is gone takes its thumbnail and its record with it.
    fs::remove(pictures / "b.jpg");
    entries = list();
    EXPECT_EQ(entries.size(), 1u);
    Tal_ClearFileEntries(entries);
    EXPECT_FALSE(fs::exists(database / "1" / "b.jpg"));
    EXPECT_EQ(Tal_DecodeThumbnailRecords(readFile(database / "1" / "_Entries").data(),
                                         readFile(database / "1" / "_Entries").size())
                  .size(),
              1u);
}

TEST_F(Thumbnails, DamagedRecordsStopTheReadingAndDeleteNothingOutside) {
    const Bytes good = Tal_EncodeThumbnailRecords({{1, 2, 0, 1, 5, "a.jpg"}, {3, 4, 0, 2, 6, "b.jpg"}});
    ASSERT_EQ(Tal_DecodeThumbnailRecords(good.data(), good.size()).size(), 2u);
    // Cut anywhere: whole records before the cut only.
    for (size_t cut = 0; cut < good.size(); cut++) {
        const Bytes part(good.begin(), good.begin() + long(cut));
        EXPECT_LE(Tal_DecodeThumbnailRecords(part.data(), part.size()).size(),
                  cut >= good.size() / 2 ? 1u : 0u);
    }
    auto withLength = [&](ULONG length) {
        Bytes b = good;
        for (int i = 0; i < 4; i++) b[4 + size_t(i)] = UBYTE(length >> (8 * i));
        return b;
    };
    for (ULONG length : {0u, 20u, 23u, 25u, 0xFFFFFFF0u, 0xFFFFFFFFu})
        EXPECT_TRUE(Tal_DecodeThumbnailRecords(withLength(length).data(), good.size()).empty()) << length;
    Bytes noZero = good;
    std::fill(noZero.begin() + 28, noZero.begin() + 36, 'x');
    EXPECT_TRUE(Tal_DecodeThumbnailRecords(noZero.data(), noZero.size()).empty());
    const Bytes longName = Tal_EncodeThumbnailRecords({{1, 2, 0, 1, 5, std::string(260, 'n')}});
    EXPECT_TRUE(Tal_DecodeThumbnailRecords(longName.data(), longName.size()).empty());
    // Names that are not plain files are dropped, the records after them still read.
    const Bytes hostile = Tal_EncodeThumbnailRecords(
        {{0, 0, 0, 1, 5, "../victim"}, {0, 0, 0, 1, 5, "."}, {0, 0, 0, 1, 5, "ok.jpg"}});
    const auto kept = Tal_DecodeThumbnailRecords(hostile.data(), hostile.size());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].name, "ok.jpg");

    // In the database: a record named "../victim" deletes nothing outside its folder.
    picture("a.bmp", 20, 10, "BMP");
    relist();
    writeFile(database / "victim", Bytes{1});
    writeFile(database / "1" / "_Entries",
              Tal_EncodeThumbnailRecords({{0, 0, 0, 1, 5, "../victim"}, {0, 0, 0, 1, 5, "../Index"}}));
    relist();
    EXPECT_TRUE(fs::exists(database / "victim"));
    EXPECT_TRUE(fs::exists(database / "Index"));
}

TEST_F(Thumbnails, DamagedIndexNeverHandsOutANumberTwice) {
    fs::create_directories(database / "7");
    writeFile(database / "7" / "keep", Bytes{1});
    // "Highest" lies, and a line of no form ends the reading: the numbers seen still count.
    const std::string index = "Highest: 2\n7,/elsewhere\n" + std::string(5000, 'z') + "\n9,/lost\n";
    writeFile(database / "Index", Bytes(index.begin(), index.end()));
    Tal_SetThumbnailDatabase(database.c_str());
    picture("a.bmp", 20, 10, "BMP");
    relist();
    EXPECT_TRUE(fs::exists(database / "8" / "a.bmp"));
    EXPECT_TRUE(fs::exists(database / "7" / "keep"));
    const std::string text = [&] {
        Bytes b = readFile(database / "Index");
        return std::string(b.begin(), b.end());
    }();
    EXPECT_EQ(text.rfind("Highest: 8\n", 0), 0u) << text;
    EXPECT_NE(text.find("8," + pictures.string() + "\n"), std::string::npos);
}

} // namespace

namespace {

// The requester on a headless screen, run from a thread of its own as the image thread would.
class RequesterWindow : public Thumbnails {
  protected:
    void SetUp() override {
        Thumbnails::SetUp();
        host_InitWindowSystem(240, 320);
        ASSERT_NE(OpenScreenTagList(nullptr, nullptr), nullptr);
    }
    void TearDown() override {
        settle();
        Thumbnails::TearDown();
    }
    // Where an object is on the logical screen (its middle), once its window is open.
    static std::pair<LONG, LONG> middleOf(ULONG object) {
        const auto* box = reinterpret_cast<const Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
        const auto* di = reinterpret_cast<const Tal_DrawInfo*>(Tal_DoMethod(object, TAL_GetDrawInfo));
        if (!box || !di || !di->window) return {-1, -1};
        const host_Rect r = host_GetScreenRect(di->window->HostWindow);
        return {r.x + di->window->BorderLeft + box->x + box->width / 2,
                r.y + di->window->BorderTop + box->y + box->height / 2};
    }
    static void tap(std::pair<LONG, LONG> at) {
        host_InjectButton(0, true, at.first, at.second);
        host_InjectButton(0, false, at.first, at.second);
        settle();
    }
    // Waits (up to ten seconds) until a window of that title is on the screen and everything is idle.
    static bool shown(const char* title) {
        for (int i = 0; i < 1000; i++) {
            host_Window* w = host_WindowFromPoint(120, 150);
            if (w && std::strcmp(host_GetName(w), title) == 0) {
                settle();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    void screenshot(const std::string& name) { ASSERT_TRUE(host_SaveScreenshot(path(name).c_str())); }
};

TEST_F(RequesterWindow, ShowsThePicturesOfTheFolderAndAnswersWithTheOneTapped) {
    picture("a.bmp", 200, 100, "BMP");
    picture("b.jpg", 64, 48, "JPEG");
    char folder[TAL_REQUESTER_PATH_SIZE], file[TAL_REQUESTER_PATH_SIZE] = "";
    std::snprintf(folder, sizeof folder, "%s", pictures.c_str());
    ULONG result = 2;
    TaskThread caller([&] { result = Tal_FileRequest("Open Image", folder, file, nullptr, 0); });
    ASSERT_TRUE(shown("Open Image"));
    screenshot("requester.bmp");
    // The second row (the list starts 112 pixels down the screen, a row is a thumbnail high), then Ok.
    tap({120, 175});
    tap({55, 283});
    caller.join();
    EXPECT_EQ(result, 1u);
    EXPECT_STREQ(file, "b.jpg");
    EXPECT_EQ(std::string(folder), pictures.string());
}

TEST_F(RequesterWindow, CancelAnswersNothing) {
    picture("a.bmp", 20, 10, "BMP");
    char folder[TAL_REQUESTER_PATH_SIZE], file[TAL_REQUESTER_PATH_SIZE] = "kept.jpg";
    std::snprintf(folder, sizeof folder, "%s", pictures.c_str());
    ULONG result = 2;
    TaskThread caller([&] { result = Tal_FileRequest("Open Image", folder, file, nullptr, 0); });
    ASSERT_TRUE(shown("Open Image"));
    tap({173, 283});
    caller.join();
    EXPECT_EQ(result, 0u);
    EXPECT_STREQ(file, "kept.jpg");
}

} // namespace
