#include "host/dos.h"
#include "support/Recorder.h"
#include "support/TalTest.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

// A container with a text, a signed number and a hexadecimal attribute, and a setter of 17 words.
constexpr ULONG SetText = 0x7E01000A, GetText = 0x7E010014, SetNumber = 0x7E01001E, GetNumber = 0x7E010028,
                SetHex = 0x7E010032, GetHex = 0x7E01003C, SetMany = 0x7E010046;

struct StoreInstance {
    Tal_Object header;
    const char* text;
    Tal_Word number, hex, many;
    std::vector<ULONG>* members;
};

Tal_Class storeClass, otherClass;

const char* const kSeventeen = "%ld%ld%ld%ld%ld%ld%ld%ld%ld%ld%ld%ld%ld%ld%ld%ld%ld";
#define E(id, name, kind, counterpart, arg, result)                                                          \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry storeMethods[] = {
    E(SetText, "Tal_SetText", TAL_METHOD_SETTER, GetText, "%s", nullptr),
    E(GetText, "Tal_GetText", TAL_METHOD_GETTER, SetText, nullptr, "%s"),
    E(SetNumber, "Tal_SetNumber", TAL_METHOD_SETTER, GetNumber, "%ld", nullptr),
    E(GetNumber, "Tal_GetNumber", TAL_METHOD_GETTER, SetNumber, nullptr, "%ld"),
    E(SetHex, "Tal_SetHex", TAL_METHOD_SETTER, GetHex, "%lx", nullptr),
    E(GetHex, "Tal_GetHex", TAL_METHOD_GETTER, SetHex, nullptr, "%lx"),
    E(SetMany, "Tal_SetMany", TAL_METHOD_SETTER, 0, kSeventeen, nullptr),
    E(0, nullptr, 0, 0, nullptr, nullptr)};
#undef E

void* newStore(Tal_Class* cls) {
    auto* self = static_cast<StoreInstance*>(Tal_AllocObjectMem(cls));
    self->header.superObject = Tal_CreateObject("Root");
    self->members = new std::vector<ULONG>;
    return self;
}

void disposeStore(void* instance) {
    auto* self = static_cast<StoreInstance*>(instance);
    for (ULONG m : *self->members) Tal_DisposeObject(m);
    delete self->members;
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

Tal_Word storeDispatch(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<StoreInstance*>(instance);
    switch (id) {
    case SetText:
        self->text = reinterpret_cast<const char*>(args[0]);
        return 1;
    case GetText:
        return reinterpret_cast<Tal_Word>(self->text);
    case SetNumber:
        self->number = args[0];
        return 1;
    case GetNumber:
        return self->number;
    case SetHex:
        self->hex = args[0];
        return 1;
    case GetHex:
        return self->hex;
    case SetMany:
        self->many = 0;
        for (int i = 0; i < 17; i++) self->many += args[i];
        return 1;
    case recorder::AddTail:
        self->members->push_back(ULONG(args[0]));
        return 1;
    case TAL_StoreChildren:
        for (ULONG m : *self->members) Tal_DoMethod(m, TAL_StoreObject, args[0]);
        return 1;
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

RECORDER_CLASS(textClass, "Text", 0x00040000)

class Store : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        Tal__SetupClass(
            &storeClass, "TStore", 0x7E010000, "Root", [](const TagItem*) { return newStore(&storeClass); },
            disposeStore, storeDispatch, storeMethods, sizeof(StoreInstance));
        Tal__SetupClass(
            &otherClass, "TOther", 0x7E020000, "Root", [](const TagItem*) { return newStore(&otherClass); },
            disposeStore, storeDispatch, storeMethods, sizeof(StoreInstance));
        register_textClass();
        dir = std::string(std::getenv("VELURA_TEST_TMP") ? std::getenv("VELURA_TEST_TMP") : "/tmp") +
              "/store-" + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::system(("rm -rf '" + dir + "' && mkdir -p '" + dir + "'").c_str());
        setenv("VELURA_USER_DIR", dir.c_str(), 1);
        host__ResetDirectories();
    }
    void TearDown() override {
        for (Tal_Class* cls : {&storeClass, &otherClass, &textClass}) {
            EXPECT_EQ(cls->instanceCount.load(), 0u) << cls->name;
            Tal__CleanupClass(cls);
        }
        unsetenv("VELURA_USER_DIR");
        host__ResetDirectories();
        TalFixture::TearDown();
    }
    static StoreInstance* of(ULONG h) { return static_cast<StoreInstance*>(Tal_GetObjectInstance(h)); }
    static std::string stored(ULONG h) {
        ULONG size = 0;
        char* text = Tal_StoreObjectToBuffer(h, &size, 0);
        std::string out(text ? text : "");
        EXPECT_EQ(out.size(), size);
        Tal_FreeStoredObjectBuffer(text);
        return out;
    }
    // Parses a text; the buffer is kept for the life of the test, as restored texts point into it.
    ULONG parse(const std::string& text) {
        buffers.push_back(std::vector<char>(text.begin(), text.end()));
        buffers.back().push_back(0);
        return Tal_CreateObjectsFromString(buffers.back().data());
    }
    std::string readFile(const std::string& name) {
        std::ifstream in(dir + "/" + name, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string dir;
    std::vector<std::vector<char>> buffers;
};

TEST_F(Store, TextValuesComeBackExactly) {
    const char* values[] = {"a,b",        "x//y",     "/*c*/",        "tab\there", "q\"q", "back\\n",
                            "line\nfeed", "cr\rhere", "{x",           "}y",        "",     "plain",
                            "http://x",   "end\\",    "  blanks \t ", "\"quoted\""};
    for (const char* value : values) {
        ULONG h = Tal_CreateObject("TStore", SetText, value);
        std::string text = stored(h);
        Tal_DisposeObject(h);
        ULONG back = parse(text);
        ASSERT_NE(back, 0u) << text;
        EXPECT_STREQ(of(back)->text, value) << text;
        Tal_DisposeObject(back);
    }
}

TEST_F(Store, TreesRoundTripThroughAFile) {
    ULONG root = Tal_CreateObject("TStore", SetNumber, -5, SetHex, 0xCAFEBABE, TAL_SetLabel, "Top",
                                  TAL_SetObjectName, "root", TAL_SetUserData, 7);
    for (int i = 0; i < 2; i++) {
        ULONG child = Tal_CreateObject("TStore", SetNumber, i, SetText, "child, with comma");
        Tal_DoMethod(root, recorder::AddTail, child);
    }
    EXPECT_EQ(Tal_StoreObjectToDisk(root, "Data/Prefs/tree.TalStr", 0), 1u);
    // The shape of the text: class, brace, one line per attribute, members indented, brace.
    std::string text = readFile("Data/Prefs/tree.TalStr");
    EXPECT_EQ(text.substr(0, 31), "TStore\n{\n\tTal_SetNumber,\t\t\t-5,\n"); // no text: no line
    EXPECT_NE(text.find("\tTal_SetHex,\t\t\tcafebabe,\n"), std::string::npos);
    EXPECT_NE(text.find("\tTal_SetObjectName,\t\t\troot,\n"), std::string::npos);
    EXPECT_NE(
        text.find(
            "\tTStore\n\t{\n\t\tTal_SetText,\t\t\t\"child, with comma\",\n\t\tTal_SetNumber,\t\t\t1,\n"),
        std::string::npos);
    EXPECT_NE(text.find("\t\tTal_SetLabel,\t\t\t,\n"), std::string::npos); // an empty text is written
    EXPECT_EQ(text.substr(text.size() - 5), "\t}\n}\n");

    ULONG back = Tal_RestoreObjectFromDisk("Data/Prefs/tree.TalStr");
    ASSERT_NE(back, 0u);
    EXPECT_EQ(LONG(of(back)->number), -5);
    EXPECT_EQ(of(back)->hex, 0xCAFEBABEu);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(back, TAL_GetLabel)), "Top");
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(back, TAL_GetObjectName)), "root");
    EXPECT_EQ(Tal_DoMethod(back, TAL_GetUserData), 7u);
    ASSERT_EQ(of(back)->members->size(), 2u);
    EXPECT_STREQ(of(of(back)->members->at(1))->text, "child, with comma");
    EXPECT_EQ(stored(back), stored(root));
    Tal_DisposeObject(back); // releases the text the labels point into
    Tal_DisposeObject(root);
    EXPECT_EQ(Tal_RestoreObjectFromDisk("Data/Prefs/missing.TalStr"), 0u);
}

TEST_F(Store, AFailedStoreKeepsTheOldFile) {
    ULONG h = Tal_CreateObject("TStore", SetNumber, 1);
    ASSERT_EQ(Tal_StoreObjectToDisk(h, "keep.TalStr", 0), 1u);
    std::string before = readFile("keep.TalStr");
    Tal_DoMethod(h, SetNumber, 2);
    host_FailNextSafeSave();
    EXPECT_EQ(Tal_StoreObjectToDisk(h, "keep.TalStr", 0), 0u);
    EXPECT_EQ(readFile("keep.TalStr"), before);
    EXPECT_EQ(std::system(("test $(ls -A '" + dir + "' | wc -l) -eq 1").c_str()),
              0); // no temporary file left
    Tal_DisposeObject(h);
}

TEST_F(Store, ReaderKeywordsAndComments) {
    // A comment line, and a comment holding a complete comment, are gone.
    ULONG group = parse("TStore\n{\n// Tal_SetNumber, 9,\n/* a /* b */ Tal_SetNumber, 8, */\n"
                        "Tal_SetObjectName,abc,\n}\n");
    ASSERT_NE(group, 0u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(group, TAL_GetObjectName)), "abc");
    EXPECT_EQ(of(group)->number, 0u);
    Tal_DisposeObject(group);

    // Tal_Text drops the quotes of its label and keeps the comma inside; \n is a line feed.
    ULONG texts = parse("TStore\n{\nTal_Text,\"one, two\",\nTal_Text,\"x\\ny\",\n}\n");
    ASSERT_EQ(of(texts)->members->size(), 2u);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(of(texts)->members->at(0), TAL_GetLabel)),
                 "one, two");
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(of(texts)->members->at(1), TAL_GetLabel)),
                 "x\ny");
    Tal_DisposeObject(texts);

    // A method line without its trailing comma swallows the first token of the next line; numbers take
    // their base from their prefix.
    ULONG h = parse("TStore\n{\nTal_SetNumber,0x10\nSetHex,ff,\nSetNumber,-010,\n}\n");
    EXPECT_EQ(LONG(of(h)->number), -8);
    EXPECT_EQ(of(h)->hex, 0u);
    Tal_DisposeObject(h);
}

TEST_F(Store, MalformedTextsParseSafely) {
    struct Case {
        const char* text;
        bool creates;
    } cases[] = {
        {"}\n}\nTStore\n{\nTal_SetNumber,3,\n}\n}\n}", true}, // closing braces with nothing open
        {"TStore\n{\nTal_SetHex", true},                      // a method line cut at the end
        {"TStore\n{\nTal_SetMany,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,\n}", true}, // 17 conversions
        {"NoSuchClass\n{\nTal_SetNumber,1,\nTStore\n{\n}\n}", true}, // members of a missing class
        {"TStore\n{\n\"unterminated, quote\n}", true},
        {"/* never closed", false},
        {"", false},
        {"{\n{\n{", false},
    };
    for (const Case& c : cases) {
        ULONG h = parse(c.text);
        EXPECT_EQ(h != 0, c.creates) << c.text;
        if (h && of(h)->many) {
            EXPECT_EQ(of(h)->many, 16u); // never more than 16 arguments
        }
        Tal_DisposeObject(h);
    }
    // The object of a missing class is none; its first member becomes the result, and members nobody
    // could reach any more (a second one, a second root) are disposed, not leaked.
    ULONG orphan = parse("NoSuchClass\n{\nTStore\n{\nTal_SetNumber,4,\n}\nTStore\n{\n}\n}\nTStore\n{\n}\n");
    EXPECT_EQ(of(orphan)->number, 4u);
    EXPECT_EQ(storeClass.instanceCount.load(), 1u);
    Tal_DisposeObject(orphan);
}

// Objects nested deeper than the reader allows are a damaged text: nothing is made (no attribute set, no
// object left over), from a text or a file; up to the limit the whole tree is built.
TEST_F(Store, NestingBeyondTheLimitIsRefusedWhole) {
    auto nested = [](size_t depth) {
        std::string text;
        for (size_t i = 0; i < depth; i++) text += "TStore\n{\nTal_SetNumber,7,\n";
        for (size_t i = 0; i < depth; i++) text += "}\n";
        return text;
    };
    ULONG deepest = parse(nested(TAL_MAX_STORED_NESTING));
    ASSERT_NE(deepest, 0u);
    EXPECT_EQ(storeClass.instanceCount.load(), TAL_MAX_STORED_NESTING);
    Tal_DisposeObject(deepest);
    for (size_t depth : {TAL_MAX_STORED_NESTING + 1, size_t(20000)}) {
        SCOPED_TRACE(depth);
        EXPECT_EQ(parse(nested(depth)), 0u);
        EXPECT_EQ(storeClass.instanceCount.load(), 0u);
    }
    // Braces hidden as arguments do not get past the limit either.
    std::string hidden = "TStore\n{\n";
    for (size_t i = 0; i < 2 * TAL_MAX_STORED_NESTING; i++) hidden += "Tal_SetText,},\nTStore\n{\n";
    EXPECT_EQ(parse(hidden), 0u);
    EXPECT_EQ(storeClass.instanceCount.load(), 0u);

    std::ofstream(dir + "/deep.TalStr") << nested(20000);
    EXPECT_EQ(Tal_RestoreObjectFromDisk((dir + "/deep.TalStr").c_str()), 0u);
}

// A number that is not one of its format, or does not fit 32 bits, leaves its attribute alone; the other
// lines still apply.
TEST_F(Store, NumbersOutOfTheirFormatAreNotApplied) {
    struct Case {
        const char* line;
        bool applied;
        Tal_Word value;
    } cases[] = {
        {"Tal_SetHex, ff ,", true, 0xFF},
        {"Tal_SetHex,0xFFFFFFFF,", true, 0xFFFFFFFF},
        {"Tal_SetHex,-1,", true, 0xFFFFFFFF},
        {"Tal_SetNumber,-2147483648,", true, Tal_Word(intptr_t(INT32_MIN))},
        {"Tal_SetNumber,4294967295,", true, Tal_Word(intptr_t(-1))}, // a 32-bit build's unsigned value
        {"Tal_SetHex,zz,", false, 0},
        {"Tal_SetHex,1g,", false, 0},
        {"Tal_SetHex,100000000,", false, 0},
        {"Tal_SetNumber,4294967301,", false, 0}, // 2^32 + 5: not 5
        {"Tal_SetNumber,-2147483649,", false, 0},
        {"Tal_SetNumber,12abc,", false, 0},
        {"Tal_SetNumber,,", false, 0},
        {"Tal_SetNumber,- 5,", false, 0},
        {"Tal_SetNumber,99999999999999999999999,", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ULONG h = parse(std::string("TStore\n{\nTal_SetNumber,3,\nTal_SetHex,3,\n") + c.line +
                        "\nTal_SetText,after,\n}\n");
        ASSERT_NE(h, 0u);
        const bool hex = std::strstr(c.line, "Hex") != nullptr;
        EXPECT_EQ(hex ? of(h)->hex : of(h)->number, c.applied ? c.value : 3u);
        EXPECT_STREQ(of(h)->text, "after");
        Tal_DisposeObject(h);
    }
}

TEST_F(Store, CopyBetweenObjects) {
    ULONG a = Tal_CreateObject("TStore", SetNumber, 3, SetText, "t", TAL_SetObjectName, "n");
    ULONG b = Tal_CreateObject("TStore");
    ULONG other = Tal_CreateObject("TOther", SetNumber, 9);
    EXPECT_EQ(Tal_CopyObjectToObject(other, a), 0u);
    EXPECT_EQ(of(other)->number, 9u);
    EXPECT_EQ(Tal_CopyObjectToObject(b, a), 1u);
    EXPECT_EQ(of(b)->number, 3u);
    EXPECT_STREQ(of(b)->text, "t");
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoMethod(b, TAL_GetObjectName)), "n"); // from the base
    EXPECT_EQ(Tal_CopyObjectToObject(b, 0), 0u);
    for (ULONG h : {a, b, other}) Tal_DisposeObject(h);
}

} // namespace
