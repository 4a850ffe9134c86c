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
          "a.jpg -o x.jpg --bogus"}) {
        SCOPED_TRACE(arguments);
        EXPECT_EQ(convert(arguments), 2);
        EXPECT_FALSE(errors.empty());
    }
    EXPECT_FALSE(fs::exists(path("x.jpg")));
    EXPECT_EQ(convert("--help"), 0);
}

TEST_F(ConvertTest, ASaveThatFailsHalfWayLeavesTheOldFile) {
    cjpeg(testPicture(300, 300, 3, 5), "big.jpg", "-quality 100");
    const Bytes old(5000, 'o');
    writeFile(path("out.jpg"), old);
    // The converter in a child whose files may not grow beyond 4 KiB.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        if (chdir(dir.c_str()) != 0) _exit(99);
        const int log = open("errors.log", O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, 2);
        execl(converter().c_str(), "velura-convert", "big.jpg", "-o", "out.jpg", static_cast<char*>(nullptr));
        _exit(98);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the converter was killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(readFile(path("out.jpg")), old);
    const Bytes log = readFile(path("errors.log"));
    EXPECT_NE(std::string(log.begin(), log.end()).find("out.jpg: The file could not be written."),
              std::string::npos);
    fs::remove(path("errors.log"));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"big.jpg", "big.jpg.ppm", "out.jpg"}));
}

} // namespace
