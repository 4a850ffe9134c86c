#include "host/dos.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

void writeFile(const fs::path& path, const std::string& content) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::optional<std::string> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string readAll(FILE* file) {
    std::string text;
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
    std::fclose(file);
    return text;
}

std::set<std::string> namesIn(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

// Makes a file impossible to delete or replace: for root with the immutable attribute, otherwise by
// locking its directory. False when that cannot be arranged here.
bool protect(const fs::path& file, bool on) {
    if (geteuid() != 0) return chmod(file.parent_path().c_str(), on ? 0555 : 0755) == 0;
    std::string command = std::string("chattr ") + (on ? "+i '" : "-i '") + file.string() + "' 2>/dev/null";
    return std::system(command.c_str()) == 0;
}

// Each test gets its own scratch tree with an installation directory and a user directory.
class Files : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* base = std::getenv("VELURA_TEST_TMP");
        fs::path root = base && *base ? fs::path(base) : fs::temp_directory_path();
        fs::create_directories(root);
        std::string pattern = (root / "files-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        scratch = pattern;
        install = scratch / "install";
        user = scratch / "user";
        fs::create_directories(install);
        setenv("VELURA_HOME", install.c_str(), 1);
        setenv("VELURA_USER_DIR", user.c_str(), 1);
        host__ResetDirectories();
    }
    void TearDown() override {
        unsetenv("VELURA_HOME");
        unsetenv("VELURA_USER_DIR");
        host__ResetDirectories();
        std::error_code ignored;
        fs::remove_all(scratch, ignored);
    }
    // Where a name of the program is read from, as its text.
    static std::string readName(const char* name) {
        FILE* file = Tal_OpenFile(name, "rb");
        return file ? readAll(file) : "<none>";
    }

    fs::path scratch, install, user;
};

TEST(PathText, JoinsAndSplitsNames) {
    struct Join {
        const char *path, *name, *result;
    };
    const Join joins[] = {
        {"Data", "Prefs", "Data\\Prefs"},
        {"Data/", "Prefs", "Data/Prefs"},
        {"Data\\", "Prefs", "Data\\Prefs"},
        {"", "Prefs", "Prefs"},
        {"/home/u/pics", "a.bmp", "/home/u/pics/a.bmp"},
        {"Data/", "/Prefs", "Data/Prefs"},
        {"Data", "\\Prefs", "Data\\Prefs"},
        {"Data", "", "Data"},
    };
    for (const Join& j : joins) {
        char buffer[64];
        std::strcpy(buffer, j.path);
        EXPECT_EQ(AddPart(buffer, j.name, sizeof buffer), 1u) << j.path << " + " << j.name;
        EXPECT_STREQ(buffer, j.result) << j.path << " + " << j.name;
    }

    struct Split {
        const char *path, *file, *directory;
    };
    const Split splits[] = {
        {"Data\\Lingua\\Velura.etf", "Velura.etf", "Data\\Lingua"},
        {"Velura:", "", "Velura:"},
        {"Velura:Data", "Data", "Velura:"},
        {"Velura.etf", "Velura.etf", ""},
        {"/home/u/", "", "/home/u"},
        {"/a", "a", "/"},
    };
    for (const Split& s : splits) {
        EXPECT_STREQ(FilePart(s.path), s.file) << s.path;
        std::string copy = s.path;
        *PathPart(copy.data()) = 0;
        EXPECT_STREQ(copy.c_str(), s.directory) << s.path;
    }
}

TEST(PathText, AddPartRefusesWhatDoesNotFit) {
    char path[260] = "Data/Images";
    std::string longName(300, 'n');
    EXPECT_EQ(AddPart(path, longName.c_str(), sizeof path), 0u);
    EXPECT_STREQ(path, "Data/Images");

    // The terminator counts: "ab/cd" needs six bytes.
    char small[6] = "ab";
    EXPECT_EQ(AddPart(small, "cde", sizeof small), 0u);
    EXPECT_STREQ(small, "ab");
    EXPECT_EQ(AddPart(small, "cd", sizeof small), 1u);
    EXPECT_STREQ(small, "ab\\cd");
}

TEST(PathText, LatinOneBecomesWideCharacters) {
    const char text[] = "Caf\xE9 \xFF";
    const wchar_t expected[] = L"Caf\u00E9 \u00FF";
    wchar_t buffer[16];
    EXPECT_EQ(Tal_ConvertAsciToUnicodeIfNeeded(text, buffer), buffer);
    EXPECT_STREQ(buffer, expected);
    wchar_t* allocated = Tal_ConvertAsciToUnicodeIfNeeded(text, nullptr);
    ASSERT_NE(allocated, nullptr);
    EXPECT_STREQ(allocated, expected);
    FreeVec(allocated);
    EXPECT_EQ(Tal_ConvertAsciToUnicodeIfNeeded(nullptr, buffer), nullptr);
}

TEST_F(Files, RelativeNamesAreCompletedFromTheInstallationDirectory) {
    writeFile(install / "Data/Prefs/VeluraPrefs.TalStr", "prefs");
    writeFile(install / "Data/Images/Tool.iff", "tool");
    for (const char* name :
         {"Data/Prefs/VeluraPrefs.TalStr", "Data\\Prefs\\VeluraPrefs.TalStr",
          "Velura:Data/Prefs/VeluraPrefs.TalStr", "Velura:\\Data\\Prefs\\VeluraPrefs.TalStr"})
        EXPECT_EQ(readName(name), "prefs") << name;
    EXPECT_EQ(readName("Tal_Images:Tool.iff"), "tool");
    EXPECT_EQ(readName("Data/Prefs/Missing.TalStr"), "<none>");

    Tal_FileInfo info;
    EXPECT_EQ(Tal_GetFileInfo("Data/Prefs/VeluraPrefs.TalStr", &info), 0);
    EXPECT_EQ(info.flags, 0u);
    EXPECT_EQ(info.size, 5u);

    char dir[PATH_MAX];
    ASSERT_EQ(host_GetInstallDir(dir, sizeof dir), 1u);
    EXPECT_EQ(std::string(dir), install.string() + "/");
}

TEST_F(Files, NamesStartingWithASeparatorAreOpenedAsTheyStand) {
    fs::path outside = scratch / "outside" / "picture.bmp";
    writeFile(outside, "BM");
    std::string backslashed = outside.string();
    std::replace(backslashed.begin(), backslashed.end(), '/', '\\');
    EXPECT_EQ(readName(backslashed.c_str()), "BM");
    EXPECT_EQ(readName(outside.c_str()), "BM");
}

TEST_F(Files, RelativeWritesGoToTheUserDirectoryAndAreReadBackFromThere) {
    const char* name = "Data/Prefs/VeluraPrefs.TalStr";
    writeFile(install / name, "shipped");

    FILE* file = Tal_OpenFile(name, "w");
    ASSERT_NE(file, nullptr);
    std::fputs("mine", file);
    std::fclose(file);
    file = Tal_OpenFile("Data\\Prefs\\VeluraPrefs.TalStr", "a");
    ASSERT_NE(file, nullptr);
    std::fputs("+more", file);
    std::fclose(file);

    EXPECT_EQ(readFile(user / name), "mine+more");
    EXPECT_EQ(readFile(install / name), "shipped");
    EXPECT_EQ(readName(name), "mine+more");

    // Deleting the user copy uncovers the shipped one; the installation tree is never touched.
    EXPECT_NE(Tal_DeleteFile(name), 0u);
    EXPECT_EQ(readName(name), "shipped");
    EXPECT_EQ(Tal_DeleteFile(name), 0u);
    EXPECT_EQ(readFile(install / name), "shipped");
}

TEST_F(Files, MissingNamesAreMatchedWithoutCase) {
    writeFile(install / "Data/Images/Brush.IFF", "install");
    writeFile(user / "Data/Presets/Soft.TalStr", "user");
    EXPECT_EQ(readName("data/IMAGES/brush.iff"), "install");
    EXPECT_EQ(readName("DATA\\presets\\soft.talstr"), "user");
    EXPECT_EQ(Tal_DoesFileExist("Velura:data/images"), 1u);

    // The spelling that exists wins.
    writeFile(install / "Data/Images/brush.iff", "exact");
    EXPECT_EQ(readName("Data/Images/brush.iff"), "exact");

    // A write over a differently spelled user file replaces it instead of making a second tree.
    FILE* file = Tal_OpenFile("data/presets/SOFT.TalStr", "w");
    ASSERT_NE(file, nullptr);
    std::fputs("again", file);
    std::fclose(file);
    EXPECT_EQ(namesIn(user), std::set<std::string>{"Data"});
    EXPECT_EQ(readFile(user / "Data/Presets/Soft.TalStr"), "again");

    // Absolute names are taken as spelled.
    std::string spelledOtherwise = (install / "data/images/brush.IFF").string();
    EXPECT_EQ(readName(spelledOtherwise.c_str()), "<none>");
}

TEST_F(Files, DirectoriesExistWithTheirFlag) {
    fs::create_directories(install / "Data/Media");
    Tal_FileInfo info;
    info.flags = 0xFF;
    EXPECT_EQ(Tal_GetFileInfo("Data/Media", &info), 0);
    EXPECT_EQ(info.flags & TAL_FILEINFO_DIRECTORY, 1u);
    EXPECT_EQ(Tal_DoesFileExist("Data/Media"), 1u);
    EXPECT_EQ(Tal_DoesFileExist((install / "Data/Media/").c_str()), 1u);
    EXPECT_EQ(Tal_DoesFileExist("Data/Nothing"), 0u);
    EXPECT_EQ(Tal_GetFileInfo("Data/Nothing", &info), -1);
    EXPECT_EQ(info.flags, 0u);

    // A directory is not a file to read.
    EXPECT_EQ(Tal_OpenFile("Data/Media", "r"), nullptr);
}

TEST_F(Files, ScansListEveryNameOnceInOrder) {
    writeFile(install / "Data/Media/Presets/Soft.TalStr", "");
    writeFile(install / "Data/Media/Presets/Hard.TalStr", "");
    writeFile(user / "Data/Media/Presets/Mine.TalStr", "");
    writeFile(user / "Data/Media/Presets/Soft.TalStr", "");

    auto scan = [](const char* path) {
        std::vector<std::string> names;
        Tal_DirectoryEntry* entry = Tal_OpenDirectory(path);
        if (!entry) return names;
        while (Tal_ScanDirectory(entry)) names.push_back(entry->name);
        EXPECT_EQ(Tal_ScanDirectory(entry), 0u);
        Tal_CloseDirectory(entry);
        return names;
    };
    using Names = std::vector<std::string>;
    // A relative directory shows the user's entries together with the shipped ones.
    EXPECT_EQ(scan("Data/Media/Presets"), (Names{".", "..", "Hard.TalStr", "Mine.TalStr", "Soft.TalStr"}));
    EXPECT_EQ(scan((install / "Data/Media/Presets/").c_str()),
              (Names{".", "..", "Hard.TalStr", "Soft.TalStr"}));
    EXPECT_EQ(Tal_OpenDirectory("Data/Nothing"), nullptr);
    EXPECT_EQ(Tal_OpenDirectory((install / "Data/Media/Presets/Hard.TalStr").c_str()), nullptr);
    Tal_CloseDirectory(nullptr);
}

TEST_F(Files, CopyDirCopiesTreesWithoutFollowingLinks) {
    fs::path p = scratch / "P", q = p / "Q", elsewhere = scratch / "elsewhere";
    writeFile(q / "top.txt", "top");
    writeFile(q / "Sub/Deeper/bytes.bin", std::string("\0\1\2\xFF", 4));
    fs::create_directories(q / "Empty");
    writeFile(elsewhere / "outside.txt", "outside");
    fs::create_directory_symlink(elsewhere, q / "link");
    fs::create_directories(scratch / "R");

    auto diff = [&](const fs::path& a, const fs::path& b) {
        std::string command = "diff -r '" + a.string() + "' '" + b.string() + "' >/dev/null 2>&1";
        return std::system(command.c_str());
    };

    // Without a trailing separator Q itself is copied into R.
    ASSERT_EQ(Tal_CopyDir(q.c_str(), (scratch / "R").c_str()), 1u);
    EXPECT_EQ(diff(q, scratch / "R/Q"), 0);
    EXPECT_TRUE(fs::is_directory(scratch / "R/Q/Empty"));
    EXPECT_TRUE(fs::is_symlink(scratch / "R/Q/link"));
    EXPECT_EQ(fs::read_symlink(scratch / "R/Q/link"), elsewhere);
    // Copying again overwrites what is there.
    writeFile(scratch / "R/Q/top.txt", "changed");
    ASSERT_EQ(Tal_CopyDir(q.c_str(), (scratch / "R").c_str()), 1u);
    EXPECT_EQ(diff(q, scratch / "R/Q"), 0);

    // With one, Q's contents go straight into an existing directory; backslashes work too.
    fs::create_directories(scratch / "S");
    std::string from = q.string() + "\\";
    std::replace(from.begin(), from.end(), '/', '\\');
    ASSERT_EQ(Tal_CopyDir(from.c_str(), (scratch / "S").c_str()), 1u);
    EXPECT_EQ(diff(q, scratch / "S"), 0);
    EXPECT_EQ(Tal_CopyDir((q.string() + "/").c_str(), (scratch / "Missing").c_str()), 0u);
    EXPECT_FALSE(fs::exists(scratch / "Missing"));

    // A tree is never copied into itself.
    EXPECT_EQ(Tal_CopyDir(p.c_str(), q.c_str()), 0u);
    EXPECT_EQ(Tal_CopyDir((q.string() + "/").c_str(), q.c_str()), 0u);
    EXPECT_FALSE(fs::exists(q / "P"));
    EXPECT_EQ(Tal_CopyDir((scratch / "Nothing").c_str(), (scratch / "R").c_str()), 0u);
}

TEST_F(Files, CopyDirOfRelativeNamesReadsShippedDataAndWritesTheUserTree) {
    writeFile(install / "Data/Media/Presets/Soft.TalStr", "soft");
    ASSERT_EQ(Tal_CopyDir("Data/Media/Presets", "Backup"), 1u);
    EXPECT_EQ(readFile(user / "Backup/Presets/Soft.TalStr"), "soft");
    EXPECT_EQ(namesIn(install), std::set<std::string>{"Data"});
}

TEST_F(Files, DeleteDirRemovesTreesButNotWhatLinksPointTo) {
    fs::path q = scratch / "P/Q", elsewhere = scratch / "elsewhere";
    auto fill = [&] {
        writeFile(q / "a.txt", "a");
        writeFile(q / "Sub/b.txt", "b");
        fs::create_directories(q / "Sub/Empty");
        fs::create_directory_symlink(elsewhere, q / "Sub/link");
    };
    writeFile(elsewhere / "keep.txt", "keep");
    fill();

    // A trailing separator empties the directory and keeps it.
    ASSERT_EQ(Tal_DeleteDir((q.string() + "\\").c_str()), 1u);
    EXPECT_TRUE(fs::is_directory(q));
    EXPECT_TRUE(fs::is_empty(q));
    EXPECT_EQ(readFile(elsewhere / "keep.txt"), "keep");

    fill();
    ASSERT_EQ(Tal_DeleteDir(q.c_str()), 1u);
    EXPECT_FALSE(fs::exists(q));
    EXPECT_TRUE(fs::is_directory(scratch / "P"));
    EXPECT_EQ(readFile(elsewhere / "keep.txt"), "keep");

    // A link named as the tree goes as a link.
    fs::create_directory_symlink(elsewhere, scratch / "P/alias");
    ASSERT_EQ(Tal_DeleteDir((scratch / "P/alias").c_str()), 1u);
    EXPECT_FALSE(fs::is_symlink(scratch / "P/alias"));
    EXPECT_EQ(readFile(elsewhere / "keep.txt"), "keep");

    EXPECT_EQ(Tal_DeleteDir(q.c_str()), 0u);
    EXPECT_EQ(Tal_DeleteDir((q.string() + "/").c_str()), 0u);
    EXPECT_EQ(Tal_DeleteDir((elsewhere / "keep.txt").c_str()), 0u);
}

TEST_F(Files, DeleteDirGoesOnAfterAFailureAndReportsIt) {
    fs::path q = scratch / "Q", kept = q / "Locked/kept.txt";
    writeFile(q / "a.txt", "a");
    writeFile(kept, "kept");
    writeFile(q / "z.txt", "z");
    if (!protect(kept, true)) GTEST_SKIP() << "cannot protect a file here";
    EXPECT_EQ(Tal_DeleteDir((q.string() + "/").c_str()), 0u);
    EXPECT_EQ(Tal_DeleteDir(q.c_str()), 0u);
    protect(kept, false);
    EXPECT_EQ(namesIn(q), std::set<std::string>{"Locked"});
    EXPECT_EQ(readFile(q / "Locked/kept.txt"), "kept");
}

TEST_F(Files, DeleteDirOfARelativeNameNeverTouchesTheInstallation) {
    writeFile(install / "Data/Thumbs/a.bmp", "shipped");
    writeFile(user / "Data/Thumbs/b.bmp", "mine");
    ASSERT_EQ(Tal_DeleteDir("Data/Thumbs"), 1u);
    EXPECT_FALSE(fs::exists(user / "Data/Thumbs"));
    EXPECT_EQ(readFile(install / "Data/Thumbs/a.bmp"), "shipped");
}

TEST_F(Files, FileOperations) {
    fs::path a = scratch / "a.txt", b = scratch / "b.txt", c = scratch / "c.txt";
    writeFile(a, "alpha");
    writeFile(b, "beta");

    ASSERT_NE(Tal_CopyFile(a.c_str(), c.c_str()), 0u);
    EXPECT_EQ(readFile(c), "alpha");
    ASSERT_NE(Tal_CopyFile(b.c_str(), c.c_str()), 0u); // overwrites
    EXPECT_EQ(readFile(c), "beta");
    host_FailNextSafeSave(); // a copy that fails half-way leaves the old target
    EXPECT_EQ(Tal_CopyFile(a.c_str(), c.c_str()), 0u);
    EXPECT_EQ(readFile(c), "beta");
    EXPECT_EQ(namesIn(scratch), (std::set<std::string>{"a.txt", "b.txt", "c.txt", "install"}));
    EXPECT_EQ(Tal_CopyFile((scratch / "none").c_str(), c.c_str()), 0u);
    EXPECT_EQ(Tal_CopyFile(scratch.c_str(), c.c_str()), 0u); // a directory is no file
    EXPECT_EQ(readFile(c), "beta");

    // A rename never destroys an existing file.
    EXPECT_EQ(Tal_RenameFile(a.c_str(), b.c_str()), 0u);
    EXPECT_EQ(readFile(b), "beta");
    ASSERT_NE(Tal_RenameFile(a.c_str(), (scratch / "d.txt").c_str()), 0u);
    EXPECT_FALSE(fs::exists(a));
    EXPECT_EQ(readFile(scratch / "d.txt"), "alpha");

    ASSERT_NE(Tal_CreateDir((scratch / "New").c_str()), 0u);
    EXPECT_TRUE(fs::is_directory(scratch / "New"));
    EXPECT_EQ(Tal_CreateDir((scratch / "New").c_str()), 0u);
    EXPECT_EQ(Tal_DeleteFile((scratch / "New").c_str()), 0u); // not a file
    ASSERT_NE(Tal_CreateDir("Data/Thumbs"), 0u);              // mirrored in the user tree
    EXPECT_TRUE(fs::is_directory(user / "Data/Thumbs"));
    EXPECT_FALSE(fs::exists(install / "Data/Thumbs"));
}

TEST_F(Files, SafeSaveReplacesTheFileOnlyWhenAllWasWritten) {
    fs::path dir = scratch / "pictures", target = dir / "picture.bmp";
    writeFile(target, "old contents");
    chmod(target.c_str(), 0640);

    Tal_SafeSave save;
    FILE* file = Tal_SafeSaveOpen(&save, target.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("new contents", file);
    EXPECT_EQ(readFile(target), "old contents"); // untouched until the commit
    ASSERT_EQ(Tal_SafeSaveCommit(&save), 1u);
    EXPECT_EQ(save.file, nullptr);
    EXPECT_EQ(readFile(target), "new contents");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0640));
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"picture.bmp"});

    // A failing write leaves the old file as it was and nothing else behind.
    host_FailNextSafeSave();
    file = Tal_SafeSaveOpen(&save, target.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fputs("lost", file);
    EXPECT_EQ(Tal_SafeSaveCommit(&save), 0u);
    EXPECT_EQ(readFile(target), "new contents");
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"picture.bmp"});

    // The hook fails one commit only; an abort also cleans up.
    file = Tal_SafeSaveOpen(&save, target.c_str(), "w");
    ASSERT_NE(file, nullptr);
    Tal_SafeSaveAbort(&save);
    EXPECT_EQ(namesIn(dir), std::set<std::string>{"picture.bmp"});
    file = Tal_SafeSaveOpen(&save, target.c_str(), "w");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(Tal_SafeSaveCommit(&save), 1u);
    EXPECT_EQ(readFile(target), "");
}

TEST_F(Files, SafeSaveRefusesCleanly) {
    Tal_SafeSave save;
    fs::path missing = scratch / "no/such/dir/file.bmp";
    EXPECT_EQ(Tal_SafeSaveOpen(&save, missing.c_str(), "wb"), nullptr);
    EXPECT_EQ(save.file, nullptr);
    EXPECT_FALSE(fs::exists(scratch / "no"));
    EXPECT_EQ(Tal_SafeSaveCommit(&save), 0u);
    Tal_SafeSaveAbort(&save);

    EXPECT_EQ(Tal_SafeSaveOpen(&save, scratch.c_str(), "wb"), nullptr); // a directory
    EXPECT_EQ(Tal_SafeSaveOpen(&save, (scratch / "x").c_str(), "a"), nullptr);

    // A file its owner made read-only stays so.
    fs::path locked = scratch / "locked/file.bmp";
    writeFile(locked, "keep");
    writeFile(scratch / "source.bmp", "other");
    chmod(locked.c_str(), 0444);
    if (geteuid() != 0 || protect(locked, true)) {
        EXPECT_EQ(Tal_SafeSaveOpen(&save, locked.c_str(), "wb"), nullptr);
        EXPECT_EQ(Tal_CopyFile((scratch / "source.bmp").c_str(), locked.c_str()), 0u);
        EXPECT_EQ(readFile(locked), "keep");
        if (geteuid() == 0) protect(locked, false);
    }
}

TEST_F(Files, SafeSaveOfNewAndLinkedFiles) {
    // A new relative file lands in the user directory with the usual permissions.
    Tal_SafeSave save;
    FILE* file = Tal_SafeSaveOpen(&save, "Data\\Prefs\\VeluraPrefs.TalStr", "w");
    ASSERT_NE(file, nullptr);
    std::fputs("prefs", file);
    ASSERT_EQ(Tal_SafeSaveCommit(&save), 1u);
    fs::path saved = user / "Data/Prefs/VeluraPrefs.TalStr";
    EXPECT_EQ(readFile(saved), "prefs");
    mode_t mask = umask(022);
    umask(mask);
    EXPECT_EQ(fs::status(saved).permissions() & fs::perms::all, fs::perms(0644 & ~mask));

    // Saving through a link updates the file it names and keeps the link.
    fs::path real = scratch / "real.txt", link = scratch / "link.txt";
    writeFile(real, "before");
    fs::create_symlink(real, link);
    file = Tal_SafeSaveOpen(&save, link.c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fputs("after", file);
    ASSERT_EQ(Tal_SafeSaveCommit(&save), 1u);
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(readFile(real), "after");
}

// A pipe, a device or a folder is never opened as a file: refused at once (a pipe without a writer would
// make a read wait for ever), through a link as well, and the file information says what it is.
TEST_F(Files, OnlyRegularFilesAreOpened) {
    const fs::path fifo = scratch / "pipe", toDevice = scratch / "null", toFifo = scratch / "to-pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/null", toDevice);
    fs::create_symlink(fifo, toFifo);
    fs::create_directories(user / "Data/Prefs/VeluraPrefs.TalStr");
    fs::create_directories(user);
    ASSERT_EQ(mkfifo((user / "Velura.etf").c_str(), 0600), 0);
    struct Case {
        std::string name;
        int error;
    } cases[] = {{fifo.string(), ENODEV},
                 {toFifo.string(), ENODEV},
                 {toDevice.string(), ENODEV},
                 {"Data/Prefs/VeluraPrefs.TalStr", EISDIR},
                 {"Velura.etf", ENODEV}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const char* mode : {"r", "rb", "r+", "a", "w"}) {
            errno = 0;
            EXPECT_EQ(Tal_OpenFile(c.name.c_str(), mode), nullptr) << mode;
            EXPECT_EQ(errno, c.error) << mode;
        }
        Tal_FileInfo info;
        ASSERT_EQ(Tal_GetFileInfo(c.name.c_str(), &info), 0);
        EXPECT_EQ(info.flags, c.error == EISDIR ? TAL_FILEINFO_DIRECTORY : TAL_FILEINFO_SPECIAL);
    }
    EXPECT_STREQ(host_FileErrorText(ENODEV), "Not a regular file");
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_TRUE(fs::is_fifo(fifo));

    // A file opened to be written is cut only once it is known to be a file.
    writeFile(scratch / "plain.txt", "old");
    FILE* file = Tal_OpenFile((scratch / "plain.txt").c_str(), "w");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(readFile(scratch / "plain.txt"), "");
}

// The safe save writes nothing but a file: a link to a device or a pipe, or a pipe itself, as the target
// fails at the open, with nothing written, created or replaced.
TEST_F(Files, SafeSaveReplacesOnlyFiles) {
    const fs::path fifo = scratch / "pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink("/dev/null", scratch / "prefs-to-null");
    fs::create_symlink(fifo, scratch / "prefs-to-pipe");
    for (const fs::path& target : {fifo, scratch / "prefs-to-null", scratch / "prefs-to-pipe"}) {
        SCOPED_TRACE(target.string());
        Tal_SafeSave save;
        errno = 0;
        EXPECT_EQ(Tal_SafeSaveOpen(&save, target.c_str(), "w"), nullptr);
        EXPECT_EQ(errno, ENODEV);
    }
    EXPECT_EQ(namesIn(scratch), (std::set<std::string>{"install", "pipe", "prefs-to-null", "prefs-to-pipe"}));
    EXPECT_TRUE(fs::is_symlink(scratch / "prefs-to-null"));
    EXPECT_TRUE(fs::is_fifo(fifo));
    struct stat st;
    ASSERT_EQ(stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
}

// Temporary files of safe saves whose process was killed go at the next start; those of a process that
// runs, and every other name, stay.
TEST_F(Files, StaleSafeSavesAreRemoved) {
    // A process id that is certainly free: a child that has been waited for.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    waitpid(gone, nullptr, 0);
    const std::string dead = ".velura-save-" + std::to_string(gone) + "-AbC123";
    const std::string live = ".velura-save-" + std::to_string(getpid()) + "-xYz789";
    const std::vector<std::string> kept = {live, ".velura-save-" + std::to_string(gone) + "-short",
                                           ".velura-save-x" + std::to_string(gone) + "-AbC123",
                                           "velura-save-1-AbC123", "picture.bmp"};
    for (const fs::path& dir : {user, user / "Data/Prefs"}) {
        writeFile(dir / dead, "half");
        for (const std::string& name : kept) writeFile(dir / name, "mine");
    }
    writeFile(scratch / dead, "not in a folder of ours");
    host_RemoveStaleSafeSaves();
    EXPECT_EQ(namesIn(user / "Data/Prefs"), std::set<std::string>(kept.begin(), kept.end()));
    std::set<std::string> top(kept.begin(), kept.end());
    top.insert("Data");
    EXPECT_EQ(namesIn(user), top);
    EXPECT_TRUE(fs::exists(scratch / dead));
}

TEST_F(Files, NamesThatDoNotFitFailInsteadOfBeingCut) {
    std::string absolute = "/" + std::string(4999, 'a');
    EXPECT_EQ(Tal_OpenFile(absolute.c_str(), "r"), nullptr);
    EXPECT_EQ(Tal_OpenFile(absolute.c_str(), "w"), nullptr);
    Tal_FileInfo info;
    EXPECT_EQ(Tal_GetFileInfo(absolute.c_str(), &info), -1);

    // A relative name that fits alone but not once completed.
    std::string relative;
    while (relative.size() < PATH_MAX) relative += std::string(200, 'd') + "/";
    relative += "file";
    EXPECT_EQ(Tal_OpenFile(relative.c_str(), "r"), nullptr);
    EXPECT_EQ(Tal_OpenFile(relative.c_str(), "w"), nullptr);
    EXPECT_EQ(Tal_GetFileInfo(relative.c_str(), &info), -1);
    Tal_SafeSave save;
    EXPECT_EQ(Tal_SafeSaveOpen(&save, relative.c_str(), "w"), nullptr);
    EXPECT_FALSE(fs::exists(user));

    // Long names that fit are not limited to the handheld's 259 characters.
    fs::path deep = scratch / std::string(200, 'x') / std::string(200, 'y') / "file.txt";
    writeFile(deep, "deep");
    EXPECT_GT(deep.string().size(), 400u);
    EXPECT_EQ(readName(deep.c_str()), "deep");
}

TEST_F(Files, TemporaryNamesAreNewEmptyFiles) {
    fs::path tmp = scratch / "tmp";
    fs::create_directories(tmp);
    setenv("TMPDIR", tmp.c_str(), 1);
    char first[TAL_NAME_SIZE], second[TAL_NAME_SIZE];
    ASSERT_EQ(Tal_GetTempFileName(first), 1u);
    ASSERT_EQ(Tal_GetTempFileName(second), 1u);
    EXPECT_STRNE(first, second);
    for (const char* name : {first, second}) {
        EXPECT_EQ(fs::path(name).parent_path(), tmp);
        EXPECT_TRUE(fs::is_regular_file(name));
        EXPECT_EQ(fs::file_size(name), 0u);
    }

    // Failures are reported, not papered over.
    setenv("TMPDIR", (scratch / "missing").c_str(), 1);
    EXPECT_EQ(Tal_GetTempFileName(first), 0u);
    setenv("TMPDIR", (scratch / std::string(300, 't')).c_str(), 1);
    EXPECT_EQ(Tal_GetTempFileName(first), 0u);
    unsetenv("TMPDIR");
}

} // namespace
