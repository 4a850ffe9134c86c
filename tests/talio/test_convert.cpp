// velura-convert: conversions through the program's loading and saving, its error reports and exit codes,
// and that a failed save never costs the old file.
#include "talio_test.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

using namespace talio_test;

namespace {

// The converter is built beside the program.
std::string converter() {
    return (fs::path(VELURA_BINARY).parent_path() / "velura-convert").string();
}

class ConvertTest : public TalioFixture {
  protected:
    void SetUp() override {
        TalioFixture::SetUp();
        ASSERT_TRUE(fs::exists(converter())) << "velura-convert is not built";
    }
    // Runs the converter from the test folder; its exit status, with its error output in `errors`.
    int convert(const std::string& arguments) {
        const fs::path log = dir / "errors.log";
        const int status = run("cd " + quoted(dir) + " && " + quoted(fs::path(converter())) + " " +
                               arguments + " 2> " + quoted(log));
        const Bytes text = readFile(log);
        errors.assign(text.begin(), text.end());
        fs::remove(log);
        return status;
    }
    std::string errors;
};

TEST_F(ConvertTest, ConvertsWithQualityAndReduction) {
    const fs::path in = cjpeg(testPicture(120, 90), "in.jpg", "-quality 95");
    ASSERT_EQ(convert("in.jpg -o out.jpg --quality 60"), 0) << errors;
    EXPECT_EQ(output("identify -format '%w %h %Q' " + quoted(path("out.jpg"))), "120 90 60");
    TALIO_ImageBuffer* b = load(path("out.jpg"));
    ASSERT_NE(b, nullptr);
    EXPECT_TRUE(pixelsOf(b, 3) == djpeg(path("out.jpg")));
    TALIO_FreeBuffer(b);

    ASSERT_EQ(convert("in.jpg -o small.jpeg --reduce 4"), 0) << errors;
    EXPECT_EQ(output("identify -format '%w %h' " + quoted(path("small.jpeg"))), "30 23");
}

TEST_F(ConvertTest, WritesGifByTheOutputsExtensionWithItsOptions) {
    cjpeg(testPicture(60, 40), "in.jpg");
    ASSERT_EQ(convert("in.jpg -o out.gif --colours 16 --dither 0 --interlace"), 0) << errors;
    const Bytes gif = readFile(path("out.gif"));
    ASSERT_GT(gif.size(), 13u + 48 + 10);
    EXPECT_EQ(std::string(gif.begin(), gif.begin() + 6), "GIF89a");
    EXPECT_EQ(gif[10] & 7, 3);         // 16 entries
    EXPECT_EQ(gif[13 + 48 + 9], 0x40); // interlaced
    EXPECT_EQ(output("identify -format '%w %h' " + quoted(path("out.gif"))), "60 40");
    // Back to JPEG through the GIF loader.
    ASSERT_EQ(convert("out.gif -o back.jpg"), 0) << errors;
    EXPECT_EQ(output("identify -format '%m' " + quoted(path("back.jpg"))), "JPEG");
}

TEST_F(ConvertTest, AFolderOfOutputsKeepsNamesAndPictureInformation) {
    fs::create_directories(dir / "my.pics");
    fs::create_directories(dir / "out.d");
    cjpeg(testPicture(40, 30), "my.pics/holiday.old.jpg");
    // A picture with a caption: it travels with the picture.
    const Bytes plain = readFile(cjpeg(testPicture(20, 20, 3, 4), "plain.jpg"));
    Bytes block;
    const std::string photoshop("Photoshop 3.0", 14), caption = "Fjord";
    block.insert(block.end(), photoshop.begin(), photoshop.end());
    const Bytes iptc = {0x1C, 2, 120, 0, 5, 'F', 'j', 'o', 'r', 'd'};
    block.insert(block.end(), iptc.begin(), iptc.end());
    Bytes withInfo(plain.begin(), plain.begin() + 20); // SOI and the JFIF segment
    withInfo.insert(withInfo.end(), {0xFF, 0xED, 0, UBYTE(block.size() + 2)});
    withInfo.insert(withInfo.end(), block.begin(), block.end());
    withInfo.insert(withInfo.end(), plain.begin() + 20, plain.end());
    writeFile(path("caption"), withInfo);

    ASSERT_EQ(convert("my.pics/holiday.old.jpg caption -d out.d"), 0) << errors;
    EXPECT_TRUE(fs::exists(dir / "out.d" / "holiday.jpg"));
    EXPECT_EQ(output("identify -format '%[IPTC:2:120]' " + quoted(dir / "out.d" / "caption.jpg")), caption);
    EXPECT_FALSE(fs::exists(dir / "my.jpg"));
}

TEST_F(ConvertTest, IffAndPngOutputsFollowTheExtension) {
    const Picture pic = testPicture(41, 19);
    writeFile(path("in.ppm"), pnmBytes(pic));
    ASSERT_EQ(run("pnmtopng -force " + quoted(path("in.ppm")) + " > " + quoted(path("in.png"))), 0);
    struct Case {
        const char* arguments;
        const char* output;
        const char* formType; // the IFF form written, or none for PNG
    };
    for (const Case& c :
         {Case{"in.png -o out.iff", "out.iff", "ILBM"}, Case{"in.png -o out.ILBM", "out.ILBM", "ILBM"},
          Case{"in.png -o out.lbm", "out.lbm", "ILBM"}, Case{"in.png -o out.deep", "out.deep", "DEEP"},
          Case{"out.iff -o back.png --compression 9 --interlace", "back.png", nullptr}}) {
        SCOPED_TRACE(c.arguments);
        ASSERT_EQ(convert(c.arguments), 0) << errors;
        const Bytes file = readFile(path(c.output));
        ASSERT_GT(file.size(), 33u);
        if (c.formType) {
            EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 12), c.formType);
        } else {
            EXPECT_EQ(file[28], 1); // interlaced
        }
        TALIO_ImageBuffer* b = load(path(c.output));
        ASSERT_NE(b, nullptr);
        EXPECT_TRUE(colourPixelsOf(b) == pic);
        TALIO_FreeBuffer(b);
    }
    EXPECT_TRUE(netpbm("ilbmtoppm " + quoted(path("out.iff")) + " 2>/dev/null") == pic);
    EXPECT_TRUE(netpbm("pngtopam " + quoted(path("back.png"))) == pic);
    EXPECT_EQ(convert("in.png -o x.jpg --compression 3"), 2);
    EXPECT_EQ(convert("in.png -o x.png --compression 10"), 2);
}

TEST_F(ConvertTest, FailuresAreReportedWithTheProgramsTexts) {
    cjpeg(testPicture(16, 16), "good.jpg");
    writeFile(path("zeros"), Bytes(512, 0));
    fs::create_directories(dir / "out");
    EXPECT_EQ(convert("missing.jpg zeros good.jpg -d out"), 1);
    EXPECT_NE(errors.find("velura-convert: missing.jpg: The file could not be opened."), std::string::npos)
        << errors;
    EXPECT_NE(errors.find("velura-convert: zeros: Unknown file format."), std::string::npos) << errors;
    EXPECT_TRUE(fs::exists(dir / "out" / "good.jpg"));
    EXPECT_FALSE(fs::exists(dir / "out" / "missing.jpg"));
    EXPECT_FALSE(fs::exists(dir / "out" / "zeros.jpg"));

    // Saving into a folder that does not exist.
    EXPECT_EQ(convert("good.jpg -o nowhere/x.jpg"), 1);
    EXPECT_NE(errors.find("The file could not be opened."), std::string::npos) << errors;
}

TEST_F(ConvertTest, ADamagedPictureLeavesAnExistingOutputAsItWas) {
    // A progressive file cut where its last scan begins: djpeg would give a degraded picture.
    const Bytes whole = readFile(cjpeg(testPicture(80, 60), "whole.jpg", "-progressive"));
    writeFile(path("cut.jpg"), Bytes(whole.begin(), whole.begin() + long(scanStarts(whole).back())));
    const Bytes old(300, 'o');
    writeFile(path("out.jpg"), old);
    EXPECT_EQ(convert("cut.jpg -o out.jpg"), 1);
    EXPECT_NE(errors.find("velura-convert: cut.jpg: The file is damaged."), std::string::npos) << errors;
    EXPECT_EQ(readFile(path("out.jpg")), old);
}

TEST_F(ConvertTest, UsageErrors) {
    cjpeg(testPicture(8, 8), "a.jpg");
    for (const char* arguments :
         {"", "a.jpg", "a.jpg -o x.jpg -d .", "a.jpg a.jpg -o x.jpg", "a.jpg -o x.jpg --quality 0",
          "a.jpg -o x.jpg --reduce 3", "a.jpg -o x.unknown", "a.jpg -o x.jpg --format XYZ",
          "a.jpg -o x.jpg --bogus", "a.jpg -o x.jpg -o y.jpg", "a.jpg -d . -d .",
          "a.jpg -o x.jpg --colours 16", "a.jpg -o x.gif --colours 0", "a.jpg -o x.gif --dither 101"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(convert(arguments), 2);
        EXPECT_FALSE(errors.empty());
    }
    EXPECT_FALSE(fs::exists(path("x.jpg")));
    EXPECT_FALSE(fs::exists(path("x.gif")));
    EXPECT_EQ(convert("--help"), 0);
}

// An output name without an extension is saved as JPEG; every format word of the library either saves or
// says that it cannot be saved (never that it is unknown); a missing output folder is named as such.
TEST_F(ConvertTest, OutputNamesFormatsAndFolders) {
    cjpeg(testPicture(8, 8), "a.jpg");
    ASSERT_EQ(convert("a.jpg -o plain"), 0) << errors;
    EXPECT_EQ(output("identify -format '%m %w' " + quoted(path("plain"))), "JPEG 8");

    for (std::string word : {"BMP", "GIF", "ILBM", "IFFDEEP", "JPEG", "TARGA"}) {
        std::string lower = word;
        for (char& c : lower) c = char(std::tolower(UBYTE(c)));
        for (const std::string& arguments : {"a.jpg -o x." + lower, "a.jpg -o y --format " + word}) {
            SCOPED_TRACE(arguments);
            const int status = convert(arguments);
            if (status == 0) continue; // the saver is there
            EXPECT_EQ(status, 2);
            EXPECT_EQ(errors,
                      "velura-convert: " + word + ": " + TALIO_ErrorText(TALIO_ERR_CANNOT_SAVE) + "\n");
        }
    }

    EXPECT_EQ(convert("a.jpg -d nowhere"), 1);
    EXPECT_EQ(errors, "velura-convert: nowhere: the folder does not exist\n");
    EXPECT_EQ(convert("a.jpg -d a.jpg"), 1);
    EXPECT_EQ(errors, "velura-convert: a.jpg: this is not a folder\n");
}

TEST_F(ConvertTest, BmpAndTargaByTheOutputsExtension) {
    const Picture pic = testPicture(31, 17, 3, 3);
    writeFile(path("in.ppm"), pnmBytes(pic));
    ASSERT_EQ(run("ppmtobmp " + quoted(path("in.ppm")) + " > " + quoted(path("in.bmp")) + " 2>/dev/null"), 0);
    ASSERT_EQ(convert("in.bmp -o out.tga"), 0) << errors;
    EXPECT_TRUE(peerPicture("tgatoppm " + quoted(path("out.tga"))) == pic);
    ASSERT_EQ(convert("out.tga -o back.BMP"), 0) << errors;
    EXPECT_TRUE(peerPicture("bmptopnm " + quoted(path("back.BMP"))) == pic);
    fs::create_directories(dir / "out");
    ASSERT_EQ(convert("in.bmp --format TARGA -d out"), 0) << errors;
    EXPECT_TRUE(peerPicture("tgatoppm " + quoted(dir / "out" / "in.tga")) == pic);
}

TEST_F(ConvertTest, ASaveThatFailsHalfWayLeavesTheOldFile) {
    cjpeg(testPicture(300, 300, 3, 5), "big.jpg", "-quality 100");
    const Bytes old(5000, 'o');
    // JPEG, and PNG, whose writer compresses on several threads.
    for (const char* output : {"out.jpg", "out.png"}) {
        SCOPED_TRACE(output);
        writeFile(path(output), old);
        // The converter in a child whose files may not grow beyond 4 KiB.
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            const rlimit limit{4096, 4096};
            setrlimit(RLIMIT_FSIZE, &limit);
            if (chdir(dir.c_str()) != 0) _exit(99);
            const int log = open("errors.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(log, 2);
            execl(converter().c_str(), "velura-convert", "big.jpg", "-o", output,
                  static_cast<char*>(nullptr));
            _exit(98);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status)) << "the converter was killed by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(readFile(path(output)), old);
        const Bytes log = readFile(path("errors.log"));
        EXPECT_NE(std::string(log.begin(), log.end())
                      .find(std::string(output) + ": The file could not be written."),
                  std::string::npos);
        fs::remove(path("errors.log"));
    }
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big.jpg", "big.jpg.ppm", "out.jpg", "out.png"}));
}

} // namespace
