// Files as images and images as files: adoption of loaded pictures with their names, information and
// layers, saving the composed picture with the format fall-back, extension and backup names, and saves
// that fail without costing the old file or its backup.
#include "talio_test.h"

#include "Vlr/ImageFile.h"
#include "host/dos.h"
#include "host/msgbox.h"

#include <sys/stat.h>

#include <functional>

using namespace talio_test;

namespace {

// The picture of one set of an image's planes (working or base) as interleaved samples.
Picture planesOf(UBYTE** red, UBYTE** green, UBYTE** blue, LONG width, LONG height) {
    Picture pic{ULONG(width), ULONG(height), 3, Bytes(size_t(width) * size_t(height) * 3)};
    for (LONG y = 0; y < height; y++)
        for (LONG x = 0; x < width; x++) {
            UBYTE* p = &pic.samples[(size_t(y) * size_t(width) + size_t(x)) * 3];
            p[0] = red[y][x], p[1] = green[y][x], p[2] = blue[y][x];
        }
    return pic;
}
Picture workingOf(const Tal_Image* image) {
    return planesOf(image->red, image->green, image->blue, image->width, image->height);
}
Picture baseOf(const Tal_Image* image) {
    return planesOf(image->base_red, image->base_green, image->base_blue, image->width, image->height);
}

// Change announcements of one image, by type.
struct Announcements {
    std::vector<ULONG> types;
    Tal_Word id = 0;
    ULONG source = 0;
    static Tal_Word heard(Tal_Word user, ULONG, ULONG, const Tal_Word* args) {
        reinterpret_cast<Announcements*>(user)->types.push_back(ULONG(args[0]));
        return 0;
    }
    explicit Announcements(Tal_Image* image) : source(image->header.handle) {
        id = Tal_AddCallBackNotify(source, TAL_ImageDataChanged, TAL_AnyValue, heard, Tal_Word(this));
    }
    ~Announcements() { Tal_RemoveNotify(source, id); }
    bool saved() const { return std::find(types.begin(), types.end(), TAL_CHANGE_SAVED) != types.end(); }
};

// A format class that hands out a picture with layers, as a loader outside the program may.
Tal_Class layeredClass, testModeClass;
ULONG givenModeObject = 0;
// What the class answers to a save, and the picture it was given.
ULONG saveResult = TALIO_OK;
ULONG savedWidth = 0, savedDepth = 0;

struct LayeredInstance {
    Tal_Object header;
};

void* newLayered(const TagItem*) {
    auto* self = static_cast<LayeredInstance*>(Tal_AllocObjectMem(&layeredClass));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("RootTALIO");
    Tal_DoMethod(self->header.superObject, TALIO_SetFlags, TALIO_FLAG_OWN_OUTPUT | TALIO_FLAG_NO_PROGRESS);
    return self;
}
void disposeLayered(void* instance) {
    auto* self = static_cast<LayeredInstance*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

void fill(TALIO_ImageBuffer* b, std::function<void(ULONG x, ULONG y, UBYTE* rgb)> pixel) {
    for (ULONG y = 0; y < b->height; y++) {
        Bytes row(size_t(b->width) * 3);
        for (ULONG x = 0; x < b->width; x++) pixel(x, y, &row[size_t(x) * 3]);
        TALIO_SetBufferData(b, 0, y, b->width, 1, 0, TALIO_PIXEL_RGB, row.data());
    }
}
void fillGrey(TALIO_ImageBuffer* b, std::function<UBYTE(ULONG x, ULONG y)> value) {
    for (ULONG y = 0; y < b->height; y++) {
        Bytes row(b->width);
        for (ULONG x = 0; x < b->width; x++) row[x] = value(x, y);
        TALIO_SetBufferData(b, 0, y, b->width, 1, 0, TALIO_PIXEL_GREY, row.data());
    }
}

// 12 × 8 grey-blue picture; a floating layer 6 × 4 of red with an alpha ramp; a coverage layer 12 × 8
// with colour, placement, settings, a mode and a mask.
ULONG loadLayered(TALIO_Header* h) {
    TALIO_ImageBuffer* b = h->buffer;
    fill(b, [](ULONG, ULONG, UBYTE* p) { p[0] = 10, p[1] = 20, p[2] = 200; });
    TALIO_ImageBuffer* floating = TALIO_AddLayer(b, 6, 4, 24, TALIO_FORMAT_RGBPLANES, 2, 0);
    TALIO_ImageBuffer* paint = TALIO_AddLayer(b, 12, 8, 8, TALIO_FORMAT_GREY8, 1, 0);
    if (!floating || !paint) return TALIO_ERR_MEMORY;
    fill(floating, [](ULONG x, ULONG, UBYTE* p) { p[0] = 200, p[1] = UBYTE(40 * x), p[2] = 0; });
    fillGrey(floating->alpha, [](ULONG x, ULONG) { return UBYTE(x * 51); });
    fillGrey(paint, [](ULONG x, ULONG y) { return UBYTE(x + 16 * y); });
    paint->has_layer_colour = 1;
    paint->layer_colour_red = 11;
    paint->layer_colour_green_blue = 22 | 33 << 8;
    paint->has_placement = 1;
    paint->placement = static_cast<UBYTE*>(Tal_AllocMemClear(40));
    for (UWORD i = 0; i < 18; i++) std::memcpy(paint->placement + 4 + 2 * i, &(i), 2);
    paint->has_effect_settings = 1;
    for (UWORD i = 0; i < 10; i++) paint->effect_values[i] = UWORD(100 + i);
    paint->fade_values[0] = 2, paint->fade_values[1] = 40, paint->fade_values[2] = 60,
    paint->fade_values[3] = 1;
    paint->has_mode_object = 1;
    paint->mode_object = givenModeObject = Tal_CreateObject("TestMode");
    paint->mask = TALIO_AllocBuffer(5, 3, 8, 0, TALIO_FORMAT_GREY8, 0);
    fillGrey(paint->mask, [](ULONG x, ULONG y) { return UBYTE(x * 10 + y); });
    return TALIO_OK;
}

Tal_Word dispatchLayered(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<LayeredInstance*>(instance);
    auto* h = reinterpret_cast<TALIO_Header*>(args[0]);
    switch (id) {
    case TALIO_Identify:
        h->buffer->width = 12, h->buffer->height = 8, h->buffer->depth = 24;
        h->buffer->format = h->truecolour_format;
        return TALIO_OK;
    case TALIO_Load:
        return loadLayered(h);
    case TALIO_Save:
        savedWidth = h->buffer->width, savedDepth = h->buffer->depth;
        return saveResult;
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

void* newTestMode(const TagItem*) {
    auto* self = static_cast<Tal_Object*>(Tal_AllocObjectMem(&testModeClass));
    if (self) self->superObject = Tal_CreateObject("Root");
    return self;
}
void disposeTestMode(void* instance) {
    Tal_DisposeObject(static_cast<Tal_Object*>(instance)->superObject);
    Tal_FreeObjectMem(instance);
}
Tal_Word dispatchTestMode(void* instance, ULONG id, const Tal_Word* args) {
    return Tal_DoMethodA(static_cast<Tal_Object*>(instance)->superObject, id, args);
}

class ImageFileTest : public TalioFixture {
  protected:
    void SetUp() override {
        TalioFixture::SetUp();
        Tal_InitImageClass();
        Tal__SetupClass(&layeredClass, "LayeredTALIO", 7001, "RootTALIO", newLayered, disposeLayered,
                        dispatchLayered, nullptr, sizeof(LayeredInstance));
        Tal__SetupClass(&testModeClass, "TestMode", 0x7E810001, "Root", newTestMode, disposeTestMode,
                        dispatchTestMode, nullptr, sizeof(Tal_Object));
        base = Tal__OpenImageEngine();
        ASSERT_NE(base, nullptr);
    }
    void TearDown() override {
        Tal__SetCreateBackups(0);
        SetSignal(0, SIGBREAKF_CTRL_C);
        LONG unused;
        while (host_TakeQueuedAnswer(&unused)) {
        }
        Tal__CloseImageEngine();
        Tal__CleanupClass(&testModeClass);
        Tal__CleanupClass(&layeredClass);
        Tal_CleanupImageClass();
        TalioFixture::TearDown();
    }

    // Loads quietly as the converter does (no thread, list or view); the error number and text.
    Tal_Image* loadImage(const fs::path& file, ULONG flags = TAL_LOAD_QUIET | TAL_LOAD_ONLY) {
        error = 0;
        text = nullptr;
        const auto tags = Tal_MakeTags(TALIO_TAG_Error, &error, TAL_TAG_FileErrorText, &text);
        return Tal__LoadImageA(file.c_str(), 0, 0, flags, tags.data());
    }
    ULONG saveImage(Tal_Image* image, const fs::path& file, const char* format = "JPEG",
                    ULONG flags = TAL_SAVE_QUIET) {
        error = 0;
        text = nullptr;
        const auto tags = Tal_MakeTags(TALIO_TAG_Error, &error, TAL_TAG_FileErrorText, &text);
        return Tal__SaveImageA(image, file.empty() ? nullptr : file.c_str(), format, 0, flags, tags.data());
    }
    static void dispose(Tal_Image* image) {
        if (image) Tal_DisposeObject(image->header.handle);
    }
    // Every live image object (layers included).
    size_t liveImages() {
        SemaphoreGuard guard(&base->listLock);
        return size_t(ListCount(&base->registry));
    }
    // The names in the test folder.
    std::vector<std::string> folder(const fs::path& in) const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(in))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    Tal_ImageBase* base = nullptr;
    ULONG error = 0;
    const char* text = nullptr;
};

TEST_F(ImageFileTest, FilesBecomeImagesWithTheirPixelsNamesAndInformation) {
    const Bytes plain = readFile(cjpeg(testPicture(45, 31), "plain.jpg"));
    writeFile(path("photo.jpg"),
              withApp13(plain, photoshopBlock({dataset(2, 120, "Quay"), dataset(2, 25, "boat")})));
    const fs::path greyFile = cjpeg(testPicture(20, 10, 1), "grey.jpg");

    Tal_Image* image = loadImage(path("photo.jpg"));
    ASSERT_NE(image, nullptr) << error;
    EXPECT_EQ(error, TALIO_OK);
    EXPECT_EQ(image->depth, 24);
    const Picture peer = djpeg(path("photo.jpg"));
    EXPECT_TRUE(baseOf(image) == peer);
    EXPECT_TRUE(workingOf(image) == peer);
    EXPECT_STREQ(image->file_path, path("photo.jpg").c_str());
    EXPECT_STREQ(image->file_type, "JPEG");
    EXPECT_STREQ(image->format_name, "JPEG");
    ASSERT_NE(image->info_record, nullptr);
    const auto* info = static_cast<const TALIO_IPTCInfo*>(image->info_record);
    EXPECT_EQ(std::string(info->caption, strnlen(info->caption, sizeof info->caption)), "Quay");
    EXPECT_EQ(image->modified_count.load(), 0);
    // Loaded only: no thread, not listed, no layer.
    EXPECT_EQ(image->thread, 0u);
    EXPECT_FALSE(image->in_list);
    EXPECT_TRUE(IsListEmpty(&image->layers));
    dispose(image);

    // A grey file is a colour image with equal channels; a listed image gets a paint layer.
    image = loadImage(greyFile, TAL_LOAD_QUIET | TAL_LOAD_NO_VIEW);
    ASSERT_NE(image, nullptr) << error;
    EXPECT_TRUE(workingOf(image) == asColour(djpeg(greyFile)));
    EXPECT_TRUE(image->in_list);
    EXPECT_NE(image->thread, 0u);
    ASSERT_NE(first_layer(image), nullptr);
    EXPECT_EQ(first_layer(image)->kind, TAL_PAINT_LAYER);
    EXPECT_EQ(first_layer(image)->width, 20);
    dispose(image);

    // The library's reduced loading reaches through.
    const auto tags = Tal_MakeTags(TALIO_TAG_Reduction, 400);
    image = Tal__LoadImageA(path("photo.jpg").c_str(), 0, 0, TAL_LOAD_QUIET | TAL_LOAD_ONLY, tags.data());
    ASSERT_NE(image, nullptr);
    EXPECT_TRUE(workingOf(image) == djpeg(path("photo.jpg"), "-scale 1/4"));
    dispose(image);

    // Above a megapixel the loader's second thread fills the working planes while it decodes: the same
    // picture in planes of their own, with their scratch and spare rows.
    const fs::path large = cjpeg(testPicture(1100, 1000, 3, 3), "large.jpg");
    image = loadImage(large);
    ASSERT_NE(image, nullptr) << error;
    const Picture largePeer = djpeg(large);
    EXPECT_TRUE(baseOf(image) == largePeer);
    EXPECT_TRUE(workingOf(image) == largePeer);
    EXPECT_NE(image->red[0], image->base_red[0]);
    for (const UBYTE* row :
         {image->scratch_red, image->scratch_green, image->scratch_blue, image->spare_line}) {
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(std::count(row, row + image->width, 0), image->width);
    }
    dispose(image);
    const Bytes whole = readFile(large);
    writeFile(path("cut.jpg"), Bytes(whole.begin(), whole.begin() + long(whole.size() / 2)));
    EXPECT_EQ(loadImage(path("cut.jpg")), nullptr);
    EXPECT_EQ(error, TALIO_ERR_DAMAGED);
}

TEST_F(ImageFileTest, FailedLoadsLeaveNoImage) {
    const Bytes jpeg = readFile(cjpeg(testPicture(64, 64), "whole.jpg"));
    writeFile(path("zeros"), Bytes(512, 0));
    writeFile(path("truncated.jpg"), Bytes(jpeg.begin(), jpeg.begin() + long(jpeg.size() / 2)));
    writeFile(path("huge.jpg"), withClaimedSize(jpeg, 20000, 20000));
    // A real file whose path does not fit the image's path field.
    fs::path deep = dir;
    while (deep.string().size() < TAL_PATH_SIZE) deep /= std::string(40, 'd');
    fs::create_directories(deep);
    fs::copy_file(path("whole.jpg"), deep / "deep.jpg");
    struct Case {
        fs::path file;
        ULONG error;
        const char* text;
    };
    const size_t before = liveImages();
    testing::internal::CaptureStderr();
    for (const Case& c : {Case{path("missing.jpg"), TALIO_ERR_OPEN, TALIO_ErrorText(TALIO_ERR_OPEN)},
                          Case{path("zeros"), TALIO_ERR_UNKNOWN, TALIO_ErrorText(TALIO_ERR_UNKNOWN)},
                          Case{path("truncated.jpg"), TALIO_ERR_DAMAGED, TALIO_ErrorText(TALIO_ERR_DAMAGED)},
                          Case{path("huge.jpg"), TALIO_ERR_TOO_LARGE, TALIO_ErrorText(TALIO_ERR_TOO_LARGE)},
                          Case{deep / "deep.jpg", TALIO_ERR_OPEN, TAL_PATH_TOO_LONG_TEXT}}) {
        SCOPED_TRACE(c.file.filename().string());
        EXPECT_EQ(loadImage(c.file, TAL_LOAD_QUIET), nullptr);
        EXPECT_EQ(error, c.error);
        EXPECT_STREQ(text, c.text);
        EXPECT_EQ(liveImages(), before);
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("msgbox:"), std::string::npos);
    // Not quiet, the failure is said once.
    host_QueueMessageBoxAnswer(1);
    host_QueueMessageBoxAnswer(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(loadImage(deep / "deep.jpg", 0), nullptr);
    const std::string shown = testing::internal::GetCapturedStderr();
    EXPECT_NE(shown.find(std::string("msgbox: File Error | deep.jpg ") + TAL_PATH_TOO_LONG_TEXT),
              std::string::npos)
        << shown;
    EXPECT_EQ(shown.find("msgbox:"), shown.rfind("msgbox:"));
    // Neither path nor stream: nothing to load (and no requester to ask).
    EXPECT_EQ(Tal__LoadImageA(nullptr, 0, 0, TAL_LOAD_QUIET, nullptr), nullptr);
    EXPECT_EQ(liveImages(), before);
}

TEST_F(ImageFileTest, SavingWritesTheComposedPictureAndMarksTheImageSaved) {
    const Bytes plain = readFile(cjpeg(testPicture(40, 30), "plain.jpg"));
    writeFile(path("in.jpg"), withApp13(plain, photoshopBlock({dataset(2, 120, "Harbour")})));
    Tal_Image* image = loadImage(path("in.jpg"));
    ASSERT_NE(image, nullptr);
    // Paint not fixed yet lives in the working planes only: that is what is saved.
    for (LONG y = 5; y < 25; y++)
        for (LONG x = 5; x < 35; x++) image->red[y][x] = 255, image->green[y][x] = 0, image->blue[y][x] = 0;
    image->modified_count = 3;
    Announcements heard(image);

    ASSERT_EQ(saveImage(image, path("copy.jpg"), "JPEG", TAL_SAVE_QUIET | TAL_SAVE_COPY), 1u) << error;
    EXPECT_EQ(image->modified_count.load(), 3);
    EXPECT_STREQ(image->file_path, path("in.jpg").c_str());
    EXPECT_FALSE(heard.saved());

    ASSERT_EQ(saveImage(image, path("out.jpg")), 1u) << error;
    EXPECT_EQ(error, TALIO_OK);
    EXPECT_EQ(image->modified_count.load(), 0);
    EXPECT_STREQ(image->file_path, path("out.jpg").c_str());
    EXPECT_STREQ(image->format_name, "JPEG");
    EXPECT_TRUE(heard.saved());
    EXPECT_EQ(readFile(path("out.jpg")), readFile(path("copy.jpg")));
    // The picture as peers read it, and the picture information with it.
    const Picture peer = djpeg(path("out.jpg"));
    Tal_Image* again = loadImage(path("out.jpg"));
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(workingOf(again) == peer);
    EXPECT_NEAR(peer.samples[(10 * 40 + 10) * 3], 255, 16);
    EXPECT_NEAR(peer.samples[(10 * 40 + 10) * 3 + 2], 0, 16);
    EXPECT_EQ(output("identify -format '%[IPTC:2:120]' " + quoted(path("out.jpg"))), "Harbour");
    // The image keeps its information record.
    ASSERT_NE(image->info_record, nullptr);
    dispose(again);
    dispose(image);
}

TEST_F(ImageFileTest, UnknownFormatsFallBackToJpegAndTheNameFollows) {
    fs::create_directories(dir / "my.pics");
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    ASSERT_TRUE(Tal_AllocImage(image, 16, 12, 24, TAL_ALLOC_NO_THREAD));
    EXPECT_STREQ(image->format_name, "Velura");
    // A new image names no saver: it is saved as JPEG, and the folder keeps its dot.
    ASSERT_EQ(saveImage(image, dir / "my.pics" / "photo.bmp", nullptr), 1u) << error;
    EXPECT_EQ(folder(dir / "my.pics"), std::vector<std::string>{"photo.jpg"});
    EXPECT_STREQ(image->file_path, (dir / "my.pics" / "photo.jpg").c_str());
    EXPECT_STREQ(image->format_name, "JPEG");
    EXPECT_EQ(frameOfFile(dir / "my.pics" / "photo.jpg"), 0xC0);
    // Without a path nothing is saved (the save requester is not there to ask).
    image->modified_count = 1;
    EXPECT_EQ(saveImage(image, fs::path(), "JPEG"), 0u);
    EXPECT_EQ(image->modified_count.load(), 1);
    // A listed saver without a class: the library's error, and nothing written.
    Tal_CleanupTARGATALIOClass();
    EXPECT_EQ(saveImage(image, path("x.tga"), "TARGA"), 0u);
    EXPECT_EQ(error, TALIO_ERR_UNKNOWN);
    EXPECT_FALSE(fs::exists(path("x.tga")));
    Tal_InitTARGATALIOClass();
    dispose(image);
}

TEST_F(ImageFileTest, ExtensionAndBackupNames) {
    struct Case {
        const char* path;
        const char* changed;
        const char* backup;
    };
    for (const Case& c : {Case{"/home/u/my.pics/a.bmp", "/home/u/my.pics/a.jpg", "/home/u/my.pics/a.bak.bmp"},
                          Case{"/d.x/photo", "/d.x/photo.jpg", "/d.x/photo.bak"},
                          Case{"my.old.bmp", "my.jpg", "my.bak.old.bmp"},
                          Case{".hidden.bmp", ".hidden.jpg", ".hidden.bak.bmp"},
                          Case{"/a.b/.hidden", "/a.b/.hidden.jpg", "/a.b/.hidden.bak"}}) {
        SCOPED_TRACE(c.path);
        char out[64];
        EXPECT_EQ(Tal_AutoChangeFileExtension(c.path, out, sizeof out, "JPEG"), 1u);
        EXPECT_STREQ(out, c.changed);
        EXPECT_EQ(Tal__BackupFileName(c.path, out, sizeof out), 1u);
        EXPECT_STREQ(out, c.backup);
    }
    // A format without a class (or extension) gives the plain copy; a name that does not fit is never cut.
    char out[16] = "unchanged";
    EXPECT_EQ(Tal_AutoChangeFileExtension("photo.bmp", out, sizeof out, "NOSUCH"), 0u);
    EXPECT_STREQ(out, "photo.bmp");
    EXPECT_EQ(Tal_AutoChangeFileExtension("abcdefghijk.bmp", out, sizeof out, "JPEG"), 1u);
    EXPECT_EQ(Tal_AutoChangeFileExtension("abcdefghijkl.bmp", out, sizeof out, "JPEG"), 0u);
    EXPECT_STREQ(out, "");
    EXPECT_EQ(Tal__BackupFileName("abcdefghijkl", out, sizeof out), 0u);
}

TEST_F(ImageFileTest, BackupsKeepThePreviousFile) {
    fs::create_directories(dir / "d.x");
    Tal_Image* image = loadImage(cjpeg(testPicture(24, 16), "source.jpg"));
    ASSERT_NE(image, nullptr);
    const Bytes first = {'f', 'i', 'r', 's', 't'};
    struct Case {
        const char* name;
        bool backups;
        ULONG flags;
        const char* backup; // none: no backup made
    };
    for (const Case& c : {Case{"photo.jpg", true, TAL_SAVE_QUIET, "photo.bak.jpg"},
                          Case{"d.x/photo", true, TAL_SAVE_QUIET, "d.x/photo.bak"},
                          Case{"nobackup.jpg", true, TAL_SAVE_QUIET | TAL_SAVE_NO_BACKUP, nullptr},
                          Case{"off.jpg", false, TAL_SAVE_QUIET, nullptr}}) {
        SCOPED_TRACE(c.name);
        Tal__SetCreateBackups(c.backups);
        writeFile(path(c.name), first);
        chmod(path(c.name).c_str(), 0640);
        ASSERT_EQ(saveImage(image, path(c.name), "JPEG", c.flags), 1u) << error;
        const Bytes saved = readFile(path(c.name));
        EXPECT_EQ(frameOfFile(path(c.name)), 0xC0);
        struct stat st;
        ASSERT_EQ(stat(path(c.name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u);
        if (!c.backup) {
            char backup[256];
            ASSERT_TRUE(Tal__BackupFileName(path(c.name).c_str(), backup, sizeof backup));
            EXPECT_FALSE(fs::exists(backup));
            continue;
        }
        EXPECT_EQ(readFile(path(c.backup)), first);
        // The next save makes the last one the backup.
        ASSERT_EQ(saveImage(image, path(c.name), "JPEG", c.flags), 1u);
        EXPECT_EQ(readFile(path(c.backup)), saved);
    }
    // Nothing else is left behind: no temporary files.
    EXPECT_EQ(folder(dir), (std::vector<std::string>{"d.x", "nobackup.jpg", "off.jpg", "photo.bak.jpg",
                                                     "photo.jpg", "source.jpg", "source.jpg.ppm"}));
    EXPECT_EQ(folder(dir / "d.x"), (std::vector<std::string>{"photo", "photo.bak"}));
    dispose(image);
}

TEST_F(ImageFileTest, FailedSavesLoseNothing) {
    // Tall enough for the saver to look for a cancel while it writes.
    Tal_Image* image = loadImage(cjpeg(testPicture(24, 40), "source.jpg"));
    ASSERT_NE(image, nullptr);
    const Bytes old = {'o', 'l', 'd'}, oldBackup = {'o', 'l', 'd', 'e', 'r'};
    struct Case {
        const char* name;
        bool backups;
        std::function<void()> before;
        ULONG error;
    };
    const auto writeFails = [] { host_FailNextSafeSave(); };
    const auto cancel = [] { SetSignal(SIGBREAKF_CTRL_C, SIGBREAKF_CTRL_C); };
    // A backup name held by a folder with something in it cannot be replaced.
    const auto backupBlocked = [this] {
        fs::remove(path("t.bak.jpg"));
        fs::create_directories(path("t.bak.jpg") / "keep");
    };
    for (const Case& c : {Case{"write failure", false, writeFails, TALIO_ERR_READ},
                          Case{"write failure, backups", true, writeFails, TALIO_ERR_READ},
                          Case{"cancel", false, cancel, TALIO_ERR_CANCELLED},
                          Case{"cancel, backups", true, cancel, TALIO_ERR_CANCELLED},
                          Case{"backup cannot be made", true, backupBlocked, TALIO_ERR_READ}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(path("t.bak.jpg"));
        writeFile(path("t.jpg"), old);
        writeFile(path("t.bak.jpg"), oldBackup);
        Tal__SetCreateBackups(c.backups);
        c.before();
        image->modified_count = 2;
        Announcements heard(image);
        EXPECT_EQ(saveImage(image, path("t.jpg")), 0u);
        SetSignal(0, SIGBREAKF_CTRL_C);
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(readFile(path("t.jpg")), old);
        if (fs::is_regular_file(path("t.bak.jpg"))) {
            EXPECT_EQ(readFile(path("t.bak.jpg")), oldBackup);
        }
        EXPECT_EQ(folder(dir),
                  (std::vector<std::string>{"source.jpg", "source.jpg.ppm", "t.bak.jpg", "t.jpg"}));
        EXPECT_EQ(image->modified_count.load(), 2);
        EXPECT_FALSE(heard.saved());
        EXPECT_STREQ(image->file_path, path("source.jpg").c_str());
    }
    // Not quiet, a failed rename is said like a failed write.
    host_QueueMessageBoxAnswer(1);
    testing::internal::CaptureStderr();
    EXPECT_EQ(saveImage(image, path("t.jpg"), "JPEG", 0), 0u);
    EXPECT_NE(
        testing::internal::GetCapturedStderr().find("msgbox: File Error | The file could not be written."),
        std::string::npos);
    EXPECT_EQ(readFile(path("t.jpg")), old);
    dispose(image);
}

TEST_F(ImageFileTest, LayersAreBuiltFromTheBuffersLayers) {
    const ULONG stream = Tal_CreateObject("LayeredTALIO");
    ASSERT_NE(stream, 0u);
    Tal_Image* image = Tal__LoadImageA(nullptr, 0, stream, TAL_LOAD_QUIET | TAL_LOAD_NO_VIEW, nullptr);
    ASSERT_NE(image, nullptr);
    EXPECT_EQ(image->process_enable.load(), 1);
    EXPECT_EQ(image->base_blue[7][11], 200);
    ASSERT_EQ(ListCount(&image->layers), 2);

    // The floating image: its picture premultiplied by its alpha, in both planes.
    Tal_Image* floating = first_layer(image);
    ASSERT_EQ(floating->kind, TAL_FLOATING_IMAGE);
    EXPECT_EQ(floating->width, 6);
    EXPECT_EQ(floating->process_enable.load(), 1);
    ASSERT_NE(floating->alpha_child, nullptr);
    for (LONG x = 0; x < 6; x++) {
        SCOPED_TRACE(x);
        EXPECT_EQ(floating->alpha_child->grey[2][x], x * 51);
        EXPECT_EQ(floating->red[2][x], 200 * x * 51 / 255);
        EXPECT_EQ(floating->green[2][x], UBYTE(40 * x) * x * 51 / 255);
        EXPECT_EQ(floating->base_red[2][x], floating->red[2][x]);
    }

    // The coverage layer with every property the loader gave it.
    Tal_Image* paint = next_layer(floating);
    ASSERT_EQ(paint->kind, TAL_PAINT_LAYER);
    EXPECT_EQ(paint->grey[3][5], 5 + 48);
    for (LONG y = 0; y < paint->height; y++) {
        EXPECT_EQ(paint->row_min_x[y], 0);
        EXPECT_EQ(paint->row_max_x[y], 11);
    }
    EXPECT_EQ(paint->layer_colour[0], 11);
    EXPECT_EQ(paint->layer_colour[1], 22);
    EXPECT_EQ(paint->layer_colour[2], 33);
    EXPECT_EQ(paint->layer_x, 0);
    EXPECT_EQ(paint->orig_h, 5);
    EXPECT_EQ(paint->source_x, 6);
    // The mask's own size replaces the mask placement's size; its position stays.
    EXPECT_EQ(paint->mask_y, 13);
    EXPECT_EQ(paint->mask_full_h, 3);
    EXPECT_EQ(paint->opacity, 100);
    EXPECT_EQ(paint->shadows, 109);
    EXPECT_EQ(paint->fade_size, 40);
    EXPECT_EQ(paint->fade_invert, 1);
    // The mode named by the loader's object, which is given up.
    EXPECT_STREQ(paint->mode_name, "Test");
    EXPECT_EQ(paint->pending_mode, 0u);
    EXPECT_EQ(Tal_GetObjectInstance(givenModeObject), nullptr);
    // The mask is an image of its own.
    ASSERT_NE(paint->mask_image, nullptr);
    EXPECT_EQ(paint->mask_image->width, 5);
    EXPECT_EQ(paint->mask_image->red[2][4], 42);
    EXPECT_TRUE(paint->mask_image->in_list);

    dispose(paint->mask_image);
    dispose(image);
    Tal_DisposeObject(stream);
}

TEST_F(ImageFileTest, GreyPicturesClipboardSavesAndOverlongPaths) {
    // A depth-8 picture is saved as it is, as a grey JPEG.
    auto* grey = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    ASSERT_TRUE(Tal_AllocImage(grey, 16, 40, 8, TAL_ALLOC_NO_THREAD));
    for (LONG y = 0; y < 40; y++)
        for (LONG x = 0; x < 16; x++) grey->grey[y][x] = UBYTE(x * 12 + y);
    ASSERT_EQ(saveImage(grey, path("grey.jpg")), 1u) << error;
    EXPECT_EQ(frameOf(readFile(path("grey.jpg"))).second, 1);
    const Picture back = djpeg(path("grey.jpg"));
    ASSERT_EQ(back.channels, 1u);
    EXPECT_NEAR(back.samples[10 * 16 + 5], 70, 6);

    // A stream of the clipboard's kind takes the picture directly: saved only when it says so, and the
    // image is not marked saved by it.
    const ULONG clipboard = Tal_CreateObject("LayeredTALIO");
    Tal_DoMethod(clipboard, TALIO_SetKind, TALIO_KIND_CLIPBOARD);
    grey->modified_count = 4;
    saveResult = TALIO_ERR_DAMAGED;
    EXPECT_EQ(Tal__SaveImageA(grey, nullptr, "Clipboard", clipboard, TAL_SAVE_QUIET, nullptr), 0u);
    saveResult = TALIO_OK;
    EXPECT_EQ(Tal__SaveImageA(grey, nullptr, "Clipboard", clipboard, TAL_SAVE_QUIET, nullptr), 1u);
    EXPECT_EQ(savedWidth, 16u);
    EXPECT_EQ(savedDepth, 8u);
    EXPECT_EQ(grey->modified_count.load(), 4);
    Tal_DisposeObject(clipboard);

    // A path the image could not keep is refused, never cut.
    const fs::path overlong = dir / (std::string(TAL_PATH_SIZE, 'n') + ".jpg");
    EXPECT_EQ(saveImage(grey, overlong), 0u);
    EXPECT_STREQ(text, TAL_PATH_TOO_LONG_TEXT);
    EXPECT_STREQ(grey->file_path, path("grey.jpg").c_str());
    dispose(grey);
}

TEST_F(ImageFileTest, AFileLoadsAsALayer) {
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    ASSERT_TRUE(Tal_AllocImage(image, 50, 40, 24, TAL_ALLOC_NO_THREAD));
    const fs::path file = cjpeg(testPicture(30, 20), "layer.jpg");
    Tal_Image* layer = Tal__LoadFileAsLayer(image, file.c_str(), TAL_LOAD_QUIET);
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(layer->kind, TAL_PAINT_LAYER);
    EXPECT_EQ(layer->depth, 24);
    EXPECT_EQ(layer->parent, image);
    EXPECT_EQ(image->current_layer, layer);
    EXPECT_EQ(layer->layer_w, 30);
    EXPECT_EQ(layer->layer_h, 20);
    EXPECT_EQ(layer->row_max_x[19], 29);
    EXPECT_TRUE(workingOf(layer) == djpeg(file));
    EXPECT_EQ(Tal__LoadFileAsLayer(image, path("missing.jpg").c_str(), TAL_LOAD_QUIET), nullptr);
    EXPECT_EQ(ListCount(&image->layers), 1);
    dispose(image);
}

} // namespace
