#include "Tal/Catalogue.h"
#include "Tal/CatalogueFormat.h"
#include "tools/etfWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// A catalogue file made by the compiler's own writer.
std::string makeCatalogue(const std::vector<std::string>& texts, const std::vector<std::string>& blocks = {},
                          const char* name = "Velura.etf", const char* ident = "") {
    std::string bytes, error;
    EXPECT_TRUE(etf::buildCatalogue(texts, blocks, name, ident, bytes, error)) << error;
    return bytes;
}

std::vector<std::string> numberedTexts(int n) {
    std::vector<std::string> texts;
    for (int i = 0; i < n; i++) texts.push_back("text " + std::to_string(i));
    return texts;
}

// Loads the bytes as if they were the file `name`.
ULONG loadBytes(Tal_Catalogue* cat, const std::string& bytes, const char* name = "Velura.etf",
                const char* ident = "") {
    FILE* f = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
    EXPECT_NE(f, nullptr);
    return Tal__ReadCatalogue(cat, f, name, ident);
}

// Where the fields of a catalogue written for "Velura.etf" with an empty identification text lie.
constexpr size_t kHeader = 11;              // name field
constexpr size_t kChecksum = kHeader;       // 16 bits
constexpr size_t kBlockCount = kHeader + 4; // 16 bits
constexpr size_t kSize = kHeader + 6;       // 32 bits
constexpr size_t kOffsets = kHeader + 10;   // N x 32 bits, then the block offsets

void put32(std::string& bytes, size_t at, uint32_t v) {
    for (int i = 0; i < 4; i++) bytes[at + i] = char(v >> (8 * i));
}
uint32_t get32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; i--) v = (v << 8) | uint8_t(bytes[at + i]);
    return v;
}
// Replaces one stored data byte and keeps the checksum right, so only the structure is at fault.
void replaceDataByte(std::string& bytes, size_t at, uint8_t plain) {
    uint8_t old = uint8_t(bytes[at]) ^ TAL_CATALOGUE_KEY;
    uint16_t sum = uint16_t(uint8_t(bytes[kChecksum]) | uint8_t(bytes[kChecksum + 1]) << 8);
    sum = uint16_t(sum - old + plain);
    bytes[kChecksum] = char(sum & 0xFF);
    bytes[kChecksum + 1] = char(sum >> 8);
    bytes[at] = char(plain ^ TAL_CATALOGUE_KEY);
}

class Catalogue : public ::testing::Test {
  protected:
    void TearDown() override {
        Tal__ReleaseCatalogue(&cat);
        Tal__FreeCatalogue();
    }
    Tal_Catalogue cat{};
};

TEST_F(Catalogue, ProjectCatalogueLoadsWithItsExtensionAppended) {
    // The name the program uses, with its separators, and without the extension.
    ASSERT_EQ(Tal__LoadCatalogue("Data\\Lingua\\Velura", ""), 1u);
    EXPECT_STRNE(Tal_GetCatalogueText(24), "");
    EXPECT_STRNE(Tal_GetCatalogueText(419), ""); // the highest number the program uses
    EXPECT_STRNE(Tal_GetCatalogueText(539), "");
    EXPECT_STREQ(Tal_GetCatalogueText(65535), "");

    // A second load fails and leaves the loaded texts where they are.
    const char* quit = Tal_GetCatalogueText(24);
    EXPECT_EQ(Tal__LoadCatalogue("Data/Lingua/Velura.etf", ""), 0u);
    EXPECT_EQ(Tal_GetCatalogueText(24), quit);

    Tal__FreeCatalogue();
    EXPECT_STREQ(Tal_GetCatalogueText(24), "");
    EXPECT_EQ(Tal__LoadCatalogue("Data/Lingua/Velura.etf", ""), 1u);
    EXPECT_EQ(Tal__LoadCatalogue("Data/Lingua/NoSuchLanguage", ""), 0u);
}

TEST_F(Catalogue, ExtensionIsAppendedOnlyWhenTheFilePartHasNone) {
    const char* base = std::getenv("VELURA_TEST_TMP");
    std::string pattern = std::string(base ? base : "/tmp") + "/catalogue.XXXXXX";
    std::filesystem::create_directories(std::filesystem::path(pattern).parent_path());
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    std::filesystem::path dir = std::filesystem::path(pattern) / "with.dot";
    std::filesystem::create_directories(dir);
    auto store = [&](const char* name) {
        std::ofstream(dir / name, std::ios::binary) << makeCatalogue(numberedTexts(3), {}, name);
    };
    store("Velura.etf");
    store("Velura.lang");

    EXPECT_EQ(Tal__LoadCatalogue((dir / "Velura").c_str(), ""), 1u);
    EXPECT_STREQ(Tal_GetCatalogueText(2), "text 2");
    Tal__FreeCatalogue();
    EXPECT_EQ(Tal__LoadCatalogue((dir / "Velura.lang").c_str(), ""), 1u);
    std::filesystem::remove_all(pattern);
}

TEST_F(Catalogue, LookupIsBoundedByTheTextCount) {
    EXPECT_STREQ(Tal__CatalogueText(&cat, 0), "");
    EXPECT_STREQ(Tal_GetCatalogueText(24), ""); // nothing loaded
    ASSERT_EQ(loadBytes(&cat, makeCatalogue(numberedTexts(10))), 1u);
    EXPECT_STREQ(Tal__CatalogueText(&cat, 9), "text 9");
    EXPECT_STREQ(Tal__CatalogueText(&cat, 10), "");
    EXPECT_STREQ(Tal__CatalogueText(&cat, 419), "");
    EXPECT_STREQ(Tal__CatalogueText(&cat, 0xFFFFFFFF), "");
}

TEST_F(Catalogue, CarriageReturnReadsAsSpaceButCountsAsThirteen) {
    // The writer sums the carriage return as 13; a loader that summed the space would fail here.
    ASSERT_EQ(loadBytes(&cat, makeCatalogue({"one\rtwo", "\r"})), 1u);
    EXPECT_STREQ(Tal__CatalogueText(&cat, 0), "one two");
    EXPECT_STREQ(Tal__CatalogueText(&cat, 1), " ");
}

TEST_F(Catalogue, IdentificationTextIsComparedWithoutLetterCase) {
    std::string bytes = makeCatalogue(numberedTexts(2), {}, "Velura.etf", "english");
    EXPECT_EQ(loadBytes(&cat, bytes, "Velura.etf", "spanish"), 0u); // same length, other text
    EXPECT_EQ(loadBytes(&cat, bytes, "Velura.etf", "ENGLISH"), 1u);
    Tal__ReleaseCatalogue(&cat);
    // With the empty identification text the name field must still have the length the name gives.
    EXPECT_EQ(loadBytes(&cat, bytes, "Velura.etf", ""), 0u);
    EXPECT_EQ(loadBytes(&cat, bytes, "Velura.etfenglish", ""), 1u);
}

TEST_F(Catalogue, OnlyTheOwnNameLengthOfTheFileCounts) {
    std::string bytes = makeCatalogue(numberedTexts(5));
    for (const char* name :
         {"Velura.etf", "Data/Lingua/Velura.etf", "Data\\Lingua\\Velura.etf", "/x.y/Abcdef.etf"}) {
        EXPECT_EQ(loadBytes(&cat, bytes, name), 1u) << name;
        Tal__ReleaseCatalogue(&cat);
    }
    // Renamed to a name of another length: the header is read from the wrong place.
    for (const char* name : {"Velura2.etf", "Vel.etf", "Data/Lingua/Velura.etf.bak"}) {
        EXPECT_EQ(loadBytes(&cat, bytes, name), 0u) << name;
        EXPECT_EQ(cat.loaded, 0u);
    }
}

TEST_F(Catalogue, DamagedFilesFailAndLeaveNothingLoaded) {
    const std::string good = makeCatalogue({"alpha", "beta", "gamma"}, {"block one", "block two"});
    ASSERT_EQ(loadBytes(&cat, good), 1u);
    Tal__ReleaseCatalogue(&cat);
    const uint32_t size = get32(good, kSize);
    const size_t blockTable = kOffsets + 3 * 4;
    const size_t data = blockTable + 3 * 4;

    struct Case {
        const char* what;
        void (*damage)(std::string&, uint32_t size, size_t blockTable, size_t data);
    };
    const Case cases[] = {
        {"a flipped text byte", [](std::string& b, uint32_t, size_t, size_t d) { b[d + 1] ^= 0x01; }},
        {"a flipped block byte", [](std::string& b, uint32_t, size_t, size_t) { b[b.size() - 1] ^= 0x40; }},
        {"a flipped checksum", [](std::string& b, uint32_t, size_t, size_t) { b[kChecksum] ^= 0x01; }},
        {"a text offset equal to S",
         [](std::string& b, uint32_t s, size_t, size_t) { put32(b, kOffsets + 4, s); }},
        {"a text offset far beyond S",
         [](std::string& b, uint32_t, size_t, size_t) { put32(b, kOffsets, 0xFFFFFFF0u); }},
        {"S beyond the file", [](std::string& b, uint32_t, size_t, size_t) { put32(b, kSize, 0xFFFFFFF0u); }},
        {"S one byte beyond the file",
         [](std::string& b, uint32_t, size_t, size_t d) { put32(b, kSize, uint32_t(b.size() - d + 1)); }},
        {"decreasing block offsets",
         [](std::string& b, uint32_t, size_t t, size_t) { put32(b, t + 4, get32(b, t) - 1); }},
        {"a block beyond the file",
         [](std::string& b, uint32_t, size_t t, size_t) { put32(b, t + 8, uint32_t(b.size() + 1)); }},
        {"a block count larger than the table",
         [](std::string& b, uint32_t, size_t, size_t) { b[kBlockCount] = char(0xFF); }},
        {"a name field longer than the file", [](std::string& b, uint32_t, size_t, size_t) { b.resize(5); }},
    };
    for (const Case& c : cases) {
        std::string bytes = good;
        c.damage(bytes, size, blockTable, data);
        EXPECT_EQ(loadBytes(&cat, bytes), 0u) << c.what;
        EXPECT_EQ(cat.loaded, 0u) << c.what;
        EXPECT_EQ(cat.texts, nullptr) << c.what;
        EXPECT_EQ(cat.file, nullptr) << c.what;
    }
    for (size_t cut = 0; cut < good.size(); cut++)
        EXPECT_EQ(loadBytes(&cat, good.substr(0, cut)), 0u) << "cut to " << cut << " bytes";
}

TEST_F(Catalogue, DataWithoutFinalZeroStaysInsideItsBlock) {
    std::string bytes = makeCatalogue({"first", "last"});
    replaceDataByte(bytes, bytes.size() - 1, 'X'); // the zero ending the last text
    ASSERT_EQ(loadBytes(&cat, bytes), 1u);
    EXPECT_STREQ(Tal__CatalogueText(&cat, 1), "lastX");
}

TEST_F(Catalogue, CatalogueWithoutTextsLoadsEmpty) {
    ASSERT_EQ(loadBytes(&cat, makeCatalogue({})), 1u);
    EXPECT_EQ(cat.count, 0u);
    EXPECT_STREQ(Tal__CatalogueText(&cat, 0), "");
    // Without texts the data size is not used: a wild one allocates nothing and does not matter.
    Tal__ReleaseCatalogue(&cat);
    std::string bytes = makeCatalogue({});
    put32(bytes, kSize, 0xFFFFFFFFu);
    EXPECT_EQ(loadBytes(&cat, bytes), 1u);
    EXPECT_EQ(cat.data, nullptr);
}

TEST_F(Catalogue, BlocksKeepTheFileOpenUntilRelease) {
    ASSERT_EQ(loadBytes(&cat, makeCatalogue(numberedTexts(2))), 1u);
    EXPECT_EQ(cat.file, nullptr);
    Tal__ReleaseCatalogue(&cat);

    // An empty block shares its start with the next one; each is still summed as itself.
    ASSERT_EQ(loadBytes(&cat, makeCatalogue(numberedTexts(2), {"", "second\r", ""})), 1u);
    EXPECT_NE(cat.file, nullptr);
    EXPECT_EQ(cat.blockCount, 3u);
    EXPECT_STREQ(Tal__CatalogueText(&cat, 1), "text 1");
    Tal__ReleaseCatalogue(&cat);
    EXPECT_EQ(cat.file, nullptr);
    EXPECT_STREQ(Tal__CatalogueText(&cat, 1), "");
}

TEST_F(Catalogue, LoadingTwiceKeepsTheFirstCatalogue) {
    ASSERT_EQ(loadBytes(&cat, makeCatalogue({"first"})), 1u);
    char* const* texts = cat.texts;
    EXPECT_EQ(loadBytes(&cat, makeCatalogue({"second"})), 0u);
    EXPECT_EQ(cat.texts, texts);
    EXPECT_STREQ(Tal__CatalogueText(&cat, 0), "first");
    // After a failed load the record is as it was, so loading again works.
    Tal__ReleaseCatalogue(&cat);
    EXPECT_EQ(loadBytes(&cat, "garbage"), 0u);
    EXPECT_EQ(loadBytes(&cat, makeCatalogue({"second"})), 1u);
    EXPECT_STREQ(Tal__CatalogueText(&cat, 0), "second");
}

} // namespace
