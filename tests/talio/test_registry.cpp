// The format registry: detection and its error numbers, the size limits and the too-big requester,
// saving through a temporary file, error texts, the loader and saver list files.
#include "talio_test.h"

#include <sys/stat.h>

#include "ui/Group.h"
#include "host/dos.h"
#include "host/msgbox.h"

#include <functional>

using namespace talio_test;

namespace {

// ---------------------------------------------------------------------------------------------------
// Format classes of the tests, built on RootTALIO like the real ones.

// What the spy saw when asked.
struct SpyRecord {
    ULONG width, height, depth, format, bytesPerRow, palette5;
    long identifyPosition = -1, loadPosition = -1;
    int identifies = 0;
};
SpyRecord spy;
bool writerFails = false;

enum class Behaviour { Reject, Spy, Writer, Source };

struct TestInstance {
    Tal_Object header;
    Behaviour behaviour;
};

Tal_Class rejectClass, spyClass, writerClass, sourceClass;

template <Tal_Class* cls, Behaviour behaviour>
void* newTestClass(const TagItem*) {
    auto* self = static_cast<TestInstance*>(Tal_AllocObjectMem(cls));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("RootTALIO");
    self->behaviour = behaviour;
    Tal_DoMethod(self->header.superObject, TALIO_SetFlags,
                 behaviour == Behaviour::Source ? TALIO_FLAG_OWN_OUTPUT | TALIO_FLAG_NO_PROGRESS : 1);
    return self;
}

void disposeTestClass(void* instance) {
    auto* self = static_cast<TestInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

ULONG identifyTest(TestInstance* self, TALIO_Header* h) {
    TALIO_ImageBuffer* b = h->buffer;
    switch (self->behaviour) {
    case Behaviour::Reject: {
        // Reads on, fills everything and then gives a size no buffer can have.
        UBYTE scratch[100];
        TALIO_ReadData(scratch, 1, sizeof scratch, h);
        b->width = 70000, b->height = 10, b->depth = 24, b->format = 1, b->bytes_per_row = 99999;
        b->palette[5] = 0x123456;
        return TALIO_OK;
    }
    case Behaviour::Spy:
        spy.width = b->width, spy.height = b->height, spy.depth = b->depth, spy.format = b->format;
        spy.bytesPerRow = b->bytes_per_row, spy.palette5 = b->palette[5];
        spy.identifyPosition = h->stream ? ftell(h->stream) : -1;
        spy.identifies++;
        // A row distance that does not fit the planes; the registry must not keep it.
        b->width = 20, b->height = 6, b->depth = 24, b->format = h->truecolour_format, b->bytes_per_row = 3;
        return TALIO_OK;
    case Behaviour::Source:
        b->width = 4, b->height = 2, b->depth = 24, b->format = h->truecolour_format;
        return TALIO_OK;
    default:
        return TALIO_ERR_UNSUPPORTED;
    }
}

ULONG loadTest(TestInstance* self, TALIO_Header* h) {
    TALIO_ImageBuffer* b = h->buffer;
    if (self->behaviour == Behaviour::Spy) spy.loadPosition = ftell(h->stream);
    for (ULONG y = 0; y < b->height; y++) {
        std::vector<UBYTE> row(size_t(b->width) * 3);
        for (ULONG x = 0; x < b->width; x++)
            row[x * 3] = UBYTE(x), row[x * 3 + 1] = UBYTE(y), row[x * 3 + 2] = 7;
        if (!TALIO_SetBufferData(b, 0, y, b->width, 1, 0, TALIO_PIXEL_RGB, row.data()))
            return TALIO_ERR_DAMAGED;
    }
    return TALIO_OK;
}

ULONG saveTest(TALIO_Header* h) {
    static const char text[] = "WRITTEN BY THE TEST SAVER";
    if (TALIO_WriteData(text, 1, sizeof text - 1, h) != sizeof text - 1) return TALIO_ERR_READ;
    if (!TALIO_WriteULONG(h->buffer->width, h)) return TALIO_ERR_READ;
    return writerFails ? TALIO_ERR_DAMAGED : TALIO_OK;
}

Tal_Word dispatchTestClass(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<TestInstance*>(instance);
    auto* header = reinterpret_cast<TALIO_Header*>(args[0]);
    switch (id) {
    case TALIO_Identify:
        return identifyTest(self, header);
    case TALIO_Load:
        if (self->behaviour == Behaviour::Spy || self->behaviour == Behaviour::Source)
            return loadTest(self, header);
        break;
    case TALIO_Save:
        if (self->behaviour == Behaviour::Writer) return saveTest(header);
        break;
    default:
        break;
    }
    return Tal_DoMethodA(self->header.superObject, id, args);
}

void registerTestClasses() {
    Tal__SetupClass(&rejectClass, "RejectTALIO", 7001, "RootTALIO",
                    newTestClass<&rejectClass, Behaviour::Reject>, disposeTestClass, dispatchTestClass,
                    nullptr, sizeof(TestInstance));
    Tal__SetupClass(&spyClass, "SpyTALIO", 7001, "RootTALIO", newTestClass<&spyClass, Behaviour::Spy>,
                    disposeTestClass, dispatchTestClass, nullptr, sizeof(TestInstance));
    Tal__SetupClass(&writerClass, "WriterTALIO", 7001, "RootTALIO",
                    newTestClass<&writerClass, Behaviour::Writer>, disposeTestClass, dispatchTestClass,
                    nullptr, sizeof(TestInstance));
    Tal__SetupClass(&sourceClass, "SourceTALIO", 7001, "RootTALIO",
                    newTestClass<&sourceClass, Behaviour::Source>, disposeTestClass, dispatchTestClass,
                    nullptr, sizeof(TestInstance));
}

class RegistryTest : public TalioFixture {
  protected:
    void SetUp() override {
        TalioFixture::SetUp();
        registerTestClasses();
    }
    void TearDown() override {
        for (Node* node : added) {
            Remove(node);
            Tal_FreeMem(node->ln_Name);
            Tal_FreeMem(node);
        }
        for (Tal_Class* cls : {&rejectClass, &spyClass, &writerClass, &sourceClass}) Tal__CleanupClass(cls);
        LONG unused;
        while (host_TakeQueuedAnswer(&unused)) {
        }
        unsetenv("VELURA_FREE_MEMORY");
        SetSignal(0, SIGBREAKF_CTRL_C);
        TalioFixture::TearDown();
    }
    // Puts a loader word in front of the others for this test.
    void tryFirst(const char* word) {
        auto* node = static_cast<Node*>(Tal_AllocMemClear(sizeof(Node)));
        node->ln_Name = Tal_StrDup(word);
        AddHead(&global->loaders, node);
        added.push_back(node);
    }
    // The file names in the test folder.
    std::vector<std::string> folder() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    std::vector<Node*> added;
};

TEST_F(RegistryTest, QuietLoadErrors) {
    const Bytes jpeg = readFile(cjpeg(testPicture(64, 64), "whole.jpg"));
    writeFile(path("empty"), {});
    writeFile(path("zeros"), Bytes(512, 0));
    writeFile(path("truncated.jpg"), Bytes(jpeg.begin(), jpeg.begin() + long(jpeg.size() * 2 / 3)));
    // ImageMagick writes CMYK files without a JFIF segment; a camera-style Exif segment makes the start one
    // that is recognised.
    ASSERT_EQ(run("convert " + quoted(path("whole.jpg")) + " -colorspace CMYK " + quoted(path("adobe.jpg"))),
              0);
    const Bytes adobe = readFile(path("adobe.jpg"));
    Bytes cmyk = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x08, 'E', 'x', 'i', 'f', 0, 0};
    cmyk.insert(cmyk.end(), adobe.begin() + 2, adobe.end());
    writeFile(path("cmyk.jpg"), cmyk);
    // A pipe and a device are refused at once, never read (a pipe without a writer would wait for ever).
    ASSERT_EQ(mkfifo(path("pipe.jpg").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", path("zero.jpg"));
    struct Case {
        const char* name;
        ULONG error;
    };
    testing::internal::CaptureStderr();
    for (const Case& c :
         {Case{"missing", TALIO_ERR_OPEN}, Case{"empty", TALIO_ERR_READ}, Case{"zeros", TALIO_ERR_UNKNOWN},
          Case{"truncated.jpg", TALIO_ERR_DAMAGED}, Case{"cmyk.jpg", TALIO_ERR_UNSUPPORTED},
          Case{"", TALIO_ERR_OPEN} /* the folder itself */, Case{"pipe.jpg", TALIO_ERR_OPEN},
          Case{"zero.jpg", TALIO_ERR_OPEN}}) {
        SCOPED_TRACE(c.name);
        ULONG error = 0, tagged = 0;
        const auto tags = Tal_MakeTags(TALIO_TAG_Error, &tagged);
        EXPECT_EQ(TALIO_AutoLoadBufferA(path(c.name).c_str(), TALIO_LOAD_QUIET, &error, tags.data()),
                  nullptr);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(tagged, c.error);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("msgbox:"), std::string::npos);
    EXPECT_EQ(TALIO_AutoLoadBufferA(nullptr, TALIO_LOAD_QUIET, nullptr, nullptr), nullptr);
}

TEST_F(RegistryTest, ALoadThatIsNotQuietShowsItsError) {
    host_QueueMessageBoxAnswer(1);
    testing::internal::CaptureStderr();
    ULONG error = 0;
    EXPECT_EQ(TALIO_AutoLoadBufferA(path("missing").c_str(), 0, &error, nullptr), nullptr);
    EXPECT_NE(testing::internal::GetCapturedStderr().find(
                  "msgbox: File Error | missing The file could not be opened."),
              std::string::npos);
}

TEST_F(RegistryTest, IdentifyOnlyGivesTheSizeWithoutPixels) {
    const fs::path file = cjpeg(testPicture(30, 20), "size.jpg");
    ULONG error = 0;
    TALIO_ImageBuffer* b = load(file, &error, TALIO_LOAD_QUIET | TALIO_LOAD_IDENTIFY);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(error, TALIO_OK);
    EXPECT_EQ(b->width, 30u);
    EXPECT_EQ(b->height, 20u);
    EXPECT_EQ(b->depth, 24u);
    EXPECT_EQ(b->red, nullptr);
    EXPECT_STREQ(b->header->format_name, "JPEG");
    EXPECT_STREQ(b->header->file_name, file.c_str());
    EXPECT_EQ(b->header->file_size, fs::file_size(file));
    // The stream is closed and the first bytes freed: nothing may point at them.
    EXPECT_EQ(b->header->stream, nullptr);
    EXPECT_EQ(b->header->peek, nullptr);
    TALIO_FreeBuffer(b);
}

TEST_F(RegistryTest, EveryIdentifyAndLoadStartsCleanAtTheStartOfTheFile) {
    tryFirst("Spy");
    tryFirst("Reject");
    // After the rejected loader read on and filled every field, the next one sees none of it.
    writeFile(path("data"), Bytes(600, 0x55));
    spy = {};
    ULONG error = 0;
    TALIO_ImageBuffer* b = load(path("data"), &error);
    ASSERT_NE(b, nullptr) << error;
    EXPECT_EQ(spy.identifies, 1);
    EXPECT_EQ(spy.width, 0u);
    EXPECT_EQ(spy.height, 0u);
    EXPECT_EQ(spy.depth, 0u);
    EXPECT_EQ(spy.format, 0u);
    EXPECT_EQ(spy.bytesPerRow, 0u);
    EXPECT_EQ(spy.palette5, 0u);
    EXPECT_EQ(spy.identifyPosition, 0);
    EXPECT_EQ(spy.loadPosition, 0);
    EXPECT_STREQ(b->header->format_name, "Spy");
    // The planes' own row distance, not the one the loader left behind.
    EXPECT_EQ(b->bytes_per_row, 24u);
    UBYTE pixel[3];
    ASSERT_TRUE(TALIO_GetBufferData(b, 19, 5, 1, 1, 3, TALIO_PIXEL_RGB, pixel));
    EXPECT_EQ(pixel[0], 19);
    EXPECT_EQ(pixel[1], 5);
    EXPECT_EQ(pixel[2], 7);
    TALIO_FreeBuffer(b);
}

// A picture larger than the program opens (more than 32767 on a side, or than 16384 × 16384 pixels in all)
// is refused before any allocation with its own error and text, shown with the file's name.
TEST_F(RegistryTest, SizesBeyondTheLimitsAreTooLargeBeforeAnyAllocation) {
    EXPECT_FALSE(TALIO_TooLarge(32767, 8192));
    EXPECT_FALSE(TALIO_TooLarge(16384, 16384));
    EXPECT_TRUE(TALIO_TooLarge(32768, 1));
    EXPECT_TRUE(TALIO_TooLarge(1, 32768));
    EXPECT_TRUE(TALIO_TooLarge(16385, 16384));
    const Bytes jpeg = readFile(cjpeg(testPicture(8, 8), "small.jpg"));
    writeFile(path("huge.jpg"), withClaimedSize(jpeg, 65500, 65500)); // a valid JPEG header
    writeFile(path("wide.jpg"), withClaimedSize(jpeg, 32768, 8));
    writeFile(path("many.jpg"), withClaimedSize(jpeg, 20000, 20000));
    ULONG error = 0;
    TALIO_ImageBuffer* sized = load(path("huge.jpg"), &error, TALIO_LOAD_QUIET | TALIO_LOAD_IDENTIFY);
    ASSERT_NE(sized, nullptr);
    EXPECT_EQ(sized->width, 65500u);
    TALIO_FreeBuffer(sized);
    for (const char* name : {"huge.jpg", "wide.jpg", "many.jpg"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(load(path(name), &error), nullptr);
        EXPECT_EQ(error, TALIO_ERR_TOO_LARGE);
    }
    EXPECT_STREQ(TALIO_ErrorText(TALIO_ERR_TOO_LARGE), Tal_GetCatalogueText(561));
    // Shown, with the memory to spare (no reduction offered).
    setenv("VELURA_FREE_MEMORY", "1000000000000000", 1);
    host_QueueMessageBoxAnswer(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(load(path("many.jpg"), &error, 0), nullptr);
    EXPECT_NE(
        testing::internal::GetCapturedStderr().find(
            "msgbox: File Error | many.jpg The picture is too large: Velura opens pictures of up to 16384 "
            "\xC3\x97 16384 pixels, at most 32767 on a side."),
        std::string::npos);
    unsetenv("VELURA_FREE_MEMORY");
}

TEST_F(RegistryTest, TooBigRequesterOffersAReducedLoadUnlessQuiet) {
    const fs::path file = cjpeg(testPicture(64, 48), "big.jpg");
    setenv("VELURA_FREE_MEMORY", "1000", 1);
    {
        DebugCapture debug;
        host_QueueMessageBoxAnswer(1);
        ULONG error = 0;
        TALIO_ImageBuffer* b = load(file, &error, 0);
        ASSERT_NE(b, nullptr) << error;
        EXPECT_TRUE(debug.contains("requester: Velura answered 1"));
        EXPECT_EQ(b->width, 32u);
        EXPECT_EQ(b->height, 24u);
        EXPECT_TRUE(pixelsOf(b, 3) == djpeg(file, "-scale 1/2"));
        TALIO_FreeBuffer(b);
    }
    {
        // Cancel: error 2, and no message about it.
        DebugCapture debug;
        host_QueueMessageBoxAnswer(0);
        testing::internal::CaptureStderr();
        ULONG error = 0;
        EXPECT_EQ(load(file, &error, 0), nullptr);
        EXPECT_EQ(error, TALIO_ERR_MEMORY);
        EXPECT_TRUE(debug.contains("requester: Velura answered 0"));
        EXPECT_EQ(testing::internal::GetCapturedStderr().find("msgbox:"), std::string::npos);
    }
    {
        DebugCapture debug;
        TALIO_ImageBuffer* b = load(file);
        ASSERT_NE(b, nullptr);
        EXPECT_EQ(b->width, 64u);
        EXPECT_FALSE(debug.contains("requester:"));
        TALIO_FreeBuffer(b);
    }
}

TEST_F(RegistryTest, TheMemoryFigureAPictureNeeds) {
    // 2000 × 2000 needs 2000 × 2001 × 7 + 65536 = 28,079,536 bytes.
    Picture flat{2000, 2000, 1, Bytes(size_t(2000) * 2000, 128)};
    const fs::path file = cjpeg(flat, "flat.jpg");
    for (const auto& [memory, asked] : {std::pair{"28079536", false}, std::pair{"28079535", true}}) {
        SCOPED_TRACE(memory);
        setenv("VELURA_FREE_MEMORY", memory, 1);
        DebugCapture debug;
        host_QueueMessageBoxAnswer(0);
        ULONG error = 0;
        TALIO_ImageBuffer* b = load(file, &error, 0);
        EXPECT_EQ(debug.contains("requester:"), asked);
        EXPECT_EQ(b == nullptr, asked);
        TALIO_FreeBuffer(b);
        LONG unused;
        while (host_TakeQueuedAnswer(&unused)) {
        }
    }
}

// A progress display that records what it was opened with and how far it got.
std::vector<std::string> progressLog;
Tal_ProgressDisplay* beginDisplay(const char* title, const char* text) {
    progressLog.push_back(std::string("begin ") + title + " / " + text);
    return reinterpret_cast<Tal_ProgressDisplay*>(&progressLog);
}
ULONG setDisplay(Tal_ProgressDisplay* display, ULONG value, ULONG total) {
    if (display) progressLog.push_back("set " + std::to_string(value) + "/" + std::to_string(total));
    return 1;
}
void endDisplay(Tal_ProgressDisplay*) {
    progressLog.push_back("end");
}

TEST_F(RegistryTest, ProgressDisplaysOfLoadsAndSaves) {
    const fs::path file = cjpeg(testPicture(20, 70), "tall.jpg");
    static const TALIO_ProgressHooks hooks{beginDisplay, setDisplay, endDisplay};
    TALIO__SetProgressHooks(&hooks);
    progressLog.clear();
    TALIO_ImageBuffer* b = load(file, nullptr, 0);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(progressLog, (std::vector<std::string>{"begin Loading / Loading JPEG Image", "set 32/70",
                                                     "set 64/70", "set 100/100", "end"}));
    progressLog.clear();
    ASSERT_EQ(saveBuffer(b, path("again.jpg"), "JPEG", 0), TALIO_OK);
    EXPECT_EQ(progressLog, (std::vector<std::string>{"begin Saving / Saving JPEG Image", "set 32/70",
                                                     "set 64/70", "set 100/100", "end"}));
    progressLog.clear();
    TALIO_FreeBuffer(load(file));
    EXPECT_TRUE(progressLog.empty());
    TALIO__SetProgressHooks(nullptr);
    TALIO_FreeBuffer(b);
}

TEST_F(RegistryTest, ErrorTextsStayInsideTheTable) {
    EXPECT_STREQ(TALIO_ErrorText(10), "The file could not be opened.");
    EXPECT_STREQ(TALIO_ErrorText(12), Tal_GetCatalogueText(343));
    for (ULONG outside : {0u, 14u, 99u, 0xFFFFFFFFu})
        EXPECT_STREQ(TALIO_ErrorText(outside), TALIO_ErrorText(6));
    EXPECT_EQ(TALIO_ErrorNumberRequest(TALIO_ERR_CANCELLED), 1u);
    host_QueueMessageBoxAnswer(1);
    testing::internal::CaptureStderr();
    TALIO_ErrorNumberRequest(0);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("msgbox: File Error | The file is damaged."),
              std::string::npos);
}

TEST_F(RegistryTest, SavingThroughAnUnknownFormat) {
    TALIO_ImageBuffer* b = bufferOf(testPicture(8, 8));
    EXPECT_EQ(saveBuffer(b, path("x.xyz"), "XYZ"), TALIO_ERR_UNKNOWN);
    host_QueueMessageBoxAnswer(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(saveBuffer(b, path("x.xyz"), "XYZ", 0), TALIO_ERR_UNKNOWN);
    EXPECT_NE(testing::internal::GetCapturedStderr().find("msgbox: File Error | Unknown file format."),
              std::string::npos);
    // A class that cannot save.
    EXPECT_EQ(saveBuffer(b, path("x.rej"), "Reject"), TALIO_ERR_CANNOT_SAVE);
    EXPECT_FALSE(fs::exists(path("x.xyz")));
    EXPECT_FALSE(fs::exists(path("x.rej")));
    TALIO_FreeBuffer(b);
}

TEST_F(RegistryTest, FailedSavesLeaveTheOldFileAsItWas) {
    const Bytes old = {'O', 'L', 'D', ' ', 'F', 'I', 'L', 'E'};
    TALIO_ImageBuffer* colour = bufferOf(testPicture(40, 40));
    TALIO_ImageBuffer* wrongDepth = TALIO_AllocBuffer(8, 8, 16, 0, TALIO_FORMAT_RGBPLANES, 0);
    struct Case {
        const char* name;
        const char* word;
        TALIO_ImageBuffer* buffer;
        std::function<void()> before;
        ULONG error;
    };
    const Case cases[] = {
        {"write failure, JPEG", "JPEG", colour, [] { host_FailNextSafeSave(); }, TALIO_ERR_READ},
        {"write failure, stream saver", "Writer", colour, [] { host_FailNextSafeSave(); }, TALIO_ERR_READ},
        {"refused buffer", "JPEG", wrongDepth, [] {}, TALIO_ERR_UNKNOWN},
        {"saver fails half way", "Writer", colour, [] { writerFails = true; }, TALIO_ERR_DAMAGED},
        {"cancel, JPEG", "JPEG", colour, [] { SetSignal(SIGBREAKF_CTRL_C, SIGBREAKF_CTRL_C); },
         TALIO_ERR_CANCELLED},
        {"cancel, stream saver", "Writer", colour, [] { SetSignal(SIGBREAKF_CTRL_C, SIGBREAKF_CTRL_C); },
         TALIO_ERR_CANCELLED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(path("target"), old);
        c.before();
        EXPECT_EQ(saveBuffer(c.buffer, path("target"), c.word), c.error);
        writerFails = false;
        SetSignal(0, SIGBREAKF_CTRL_C);
        EXPECT_EQ(readFile(path("target")), old);
        EXPECT_EQ(folder(), std::vector<std::string>{"target"});
    }
    // Shown, a write failure says so.
    host_QueueMessageBoxAnswer(1);
    host_FailNextSafeSave();
    testing::internal::CaptureStderr();
    EXPECT_EQ(saveBuffer(colour, path("target"), "JPEG", 0), TALIO_ERR_READ);
    EXPECT_NE(
        testing::internal::GetCapturedStderr().find("msgbox: File Error | The file could not be written."),
        std::string::npos);
    // And when nothing goes wrong the file is replaced.
    ASSERT_EQ(saveBuffer(colour, path("target"), "Writer"), TALIO_OK);
    const Bytes written = readFile(path("target"));
    EXPECT_EQ(std::string(written.begin(), written.end() - 4), "WRITTEN BY THE TEST SAVER");
    EXPECT_EQ(written.back(), 0); // width 40, little-endian
    EXPECT_EQ(written[written.size() - 4], 40);
    TALIO_FreeBuffer(colour);
    TALIO_FreeBuffer(wrongDepth);
}

TEST_F(RegistryTest, LoadingFromAnObjectThatSuppliesItsOwnInput) {
    const ULONG source = Tal_CreateObject("SourceTALIO");
    ULONG error = 0;
    TALIO_ImageBuffer* b = TALIO_LoadBufferFromTALIOA(source, TALIO_LOAD_QUIET, &error, nullptr);
    ASSERT_NE(b, nullptr) << error;
    EXPECT_EQ(b->width, 4u);
    EXPECT_EQ(b->header->peek, nullptr);
    UBYTE pixel[3];
    ASSERT_TRUE(TALIO_GetBufferData(b, 3, 1, 1, 1, 3, TALIO_PIXEL_RGB, pixel));
    EXPECT_EQ(pixel[0], 3);
    EXPECT_EQ(pixel[1], 1);
    TALIO_FreeBuffer(b);
    // The object stays the caller's.
    EXPECT_EQ(Tal_DoMethod(source, TALIO_GetFlags), TALIO_FLAG_OWN_OUTPUT | TALIO_FLAG_NO_PROGRESS);
    Tal_DisposeObject(source);
}

TEST_F(RegistryTest, TheListFilesNameTheRegistrysFormats) {
    char home[1024];
    ASSERT_TRUE(host_GetInstallDir(home, sizeof home));
    for (const auto& [file, list] : {std::pair{"Data/LoadersList.TalStr", &global->loaders},
                                     std::pair{"Data/SaversList.TalStr", &global->savers}}) {
        SCOPED_TRACE(file);
        const Bytes bytes = readFile(fs::path(home) / file);
        std::string text(bytes.begin(), bytes.end());
        // Read as a group, whose members are listed the same way a LinkedList's are.
        const size_t at = text.find("LinkedList");
        ASSERT_NE(at, std::string::npos);
        text.replace(at, 10, "Group");
        const ULONG group = Tal_CreateObjectsFromString(text.data());
        ASSERT_NE(group, 0u);
        std::vector<std::string> words, expected;
        const ULONG count = ULONG(Tal_DoMethod(group, TAL_GetMemberCount));
        for (ULONG i = 0; i < count; i++) {
            const ULONG member = ULONG(Tal_DoMethod(group, TAL_GetMemberAt, i));
            words.emplace_back(reinterpret_cast<const char*>(Tal_DoMethod(member, TAL_GetLabel)));
        }
        for (Node* node : ListNodes<Node>(list)) expected.emplace_back(node->ln_Name);
        EXPECT_EQ(words, expected);
        Tal_DisposeObject(group);
    }
}

TEST_F(RegistryTest, ExtensionsChangeInTheLastPathComponentOnly) {
    struct Case {
        const char* path;
        const char* changed;
    };
    for (const Case& c :
         {Case{"/home/u/my.pics/a.bmp", "/home/u/my.pics/a.jpg"}, Case{"/d.x/photo", "/d.x/photo.jpg"},
          Case{"my.old.bmp", "my.jpg"}, Case{".hidden.bmp", ".hidden.jpg"},
          Case{"/a.b/.hidden", "/a.b/.hidden.jpg"}, Case{"C:\\pics.d\\x.tga", "C:\\pics.d\\x.jpg"},
          Case{"trailing.", "trailing.jpg"}}) {
        char out[64];
        ASSERT_EQ(TALIO__ReplaceExtension(out, sizeof out, c.path, "jpg"), 1u) << c.path;
        EXPECT_STREQ(out, c.changed);
    }
    // A name that does not fit is refused, never cut.
    char small[8] = "keep";
    EXPECT_EQ(TALIO__ReplaceExtension(small, sizeof small, "abcd.bmp", "jpeg"), 0u);
    EXPECT_STREQ(small, "keep");
    EXPECT_EQ(TALIO__ReplaceExtension(small, sizeof small, "abc.bmp", "jpg"), 1u);
    EXPECT_STREQ(small, "abc.jpg");
}

} // namespace
