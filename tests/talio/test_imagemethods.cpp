// The Image class's file methods: open and browse, save, save as, save a copy and print, a file as a
// layer and the auxiliary image, each through the object system on real images and files.
#include "talio_test.h"

#include "Vlr/ImageFile.h"
#include "host/msgbox.h"

using namespace talio_test;

namespace {

Picture workingOf(const Tal_Image* image) {
    Picture pic{ULONG(image->width), ULONG(image->height), 3,
                Bytes(size_t(image->width) * image->height * 3)};
    for (LONG y = 0; y < image->height; y++)
        for (LONG x = 0; x < image->width; x++) {
            UBYTE* p = &pic.samples[(size_t(y) * image->width + x) * 3];
            p[0] = image->red[y][x], p[1] = image->green[y][x], p[2] = image->blue[y][x];
        }
    return pic;
}

// The mean difference of two pictures of one size.
double meanDifference(const Picture& a, const Picture& b) {
    if (a.samples.size() != b.samples.size() || a.samples.empty()) return 255;
    double sum = 0;
    for (size_t i = 0; i < a.samples.size(); i++) sum += std::abs(int(a.samples[i]) - int(b.samples[i]));
    return sum / double(a.samples.size());
}

// Smooth colour ramps, which JPEG keeps close.
Picture ramps(ULONG width, ULONG height) {
    Picture pic{width, height, 3, Bytes(size_t(width) * height * 3)};
    for (ULONG y = 0; y < height; y++)
        for (ULONG x = 0; x < width; x++) {
            UBYTE* p = &pic.samples[(size_t(y) * width + x) * 3];
            p[0] = UBYTE(40 + 4 * x), p[1] = UBYTE(200 - 6 * y), p[2] = UBYTE(90 + 2 * (x + y));
        }
    return pic;
}

// Views that only remember they were shown (the window side is not part of these tests).
Tal_Class viewClass;

void* newView(const TagItem*) {
    auto* self = static_cast<Tal_ImageView*>(Tal_AllocObjectMem(&viewClass));
    if (self) self->header.superObject = Tal_CreateObject("Root");
    return self;
}
void disposeView(void* instance) {
    auto* self = static_cast<Tal_ImageView*>(instance);
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}
Tal_Word viewMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<Tal_ImageView*>(instance);
    if (id == TAL_ViewSetImage) {
        self->image = reinterpret_cast<Tal_Image*>(args[0]);
        return 1;
    }
    return Tal_DoMethodA(self->header.superObject, id, args);
}

class ImageMethods : public TalioFixture {
  protected:
    void SetUp() override {
        TalioFixture::SetUp();
        Tal_InitImageClass();
        Tal__SetupClass(&viewClass, "ImageView", 0x00440000, "Root", newView, disposeView, viewMethod,
                        nullptr, sizeof(Tal_ImageView));
        base = Tal__OpenImageEngine();
        ASSERT_NE(base, nullptr);
    }
    void TearDown() override {
        Tal__SetCreateBackups(0);
        LONG unused;
        while (host_TakeQueuedAnswer(&unused)) {
        }
        Tal__CloseImageEngine();
        Tal__CleanupClass(&viewClass);
        Tal_CleanupImageClass();
        TalioFixture::TearDown();
    }

    // A new, unsaved image showing the picture.
    static Tal_Image* imageOf(const Picture& pic) {
        auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
        if (!image || !Tal_AllocImage(image, LONG(pic.width), LONG(pic.height), 24, TAL_ALLOC_NO_THREAD))
            return nullptr;
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++) {
                const UBYTE* p = &pic.samples[(size_t(y) * pic.width + x) * 3];
                image->red[y][x] = p[0], image->green[y][x] = p[1], image->blue[y][x] = p[2];
            }
        image->modified_count = 1;
        return image;
    }
    static Tal_Image* record(Tal_Word word) { return reinterpret_cast<Tal_Image*>(word); }
    static Tal_Image* recordOf(ULONG handle) {
        return handle ? reinterpret_cast<Tal_Image*>(Tal_DoMethod(handle, TAL_GetImageRecord)) : nullptr;
    }
    static void dispose(Tal_Image* image) {
        if (image) Tal_DisposeObject(image->header.handle);
    }
    size_t liveImages() {
        SemaphoreGuard guard(&base->listLock);
        return size_t(ListCount(&base->registry));
    }
    Tal_Image* active() {
        SemaphoreGuard guard(&base->listLock);
        return base->active_image;
    }
    // Opens through the engine-wide image object, as the menus and the command line do.
    Tal_Image* open(ULONG method, const fs::path& file) {
        return record(Tal_DoImageMethod(base->image_object, method, file.c_str()));
    }

    Tal_ImageBase* base = nullptr;
};

// Each save method writes the picture where it should and marks the image as it should; open and browse
// read the file back as the new active image.
TEST_F(ImageMethods, SavedPicturesOpenAgain) {
    const Picture pic = ramps(37, 21);
    Tal_Image* image = imageOf(pic);
    ASSERT_NE(image, nullptr);
    std::snprintf(image->format_name, sizeof image->format_name, "JPEG");
    std::snprintf(image->file_path, sizeof image->file_path, "%s", path("own.jpg").c_str());
    struct Case {
        ULONG method;
        const char* name;  // the path given to the method; none: the image's own
        const char* after; // the image's path afterwards
        bool saved;        // marked saved
    };
    for (const Case& c :
         {Case{TAL_SaveImageCopy, "copy.jpg", "own.jpg", false},
          Case{TAL_SaveImage, nullptr, "own.jpg", true}, Case{TAL_SaveImageAs, "as.jpg", "as.jpg", true}}) {
        const fs::path file = path(c.name ? c.name : "own.jpg");
        SCOPED_TRACE(file.filename().string());
        image->modified_count = 2;
        const Tal_Word given = c.name ? Tal_Word(file.c_str()) : 0;
        ASSERT_EQ(Tal_DoImageMethod(image, c.method, given), 1u);
        EXPECT_EQ(frameOfFile(file), 0xC0);
        EXPECT_EQ(image->modified_count.load(), c.saved ? 0 : 2);
        EXPECT_STREQ(image->file_path, path(c.after).c_str());
        EXPECT_LT(meanDifference(djpeg(file), pic), 3) << meanDifference(djpeg(file), pic);
    }
    EXPECT_EQ(readFile(path("copy.jpg")), readFile(path("as.jpg")));
    EXPECT_EQ(readFile(path("own.jpg")), readFile(path("as.jpg")));

    for (ULONG method : {TAL_OpenImageFile, TAL_BrowseImages}) {
        SCOPED_TRACE(method);
        Tal_Image* opened = open(method, path("as.jpg"));
        ASSERT_NE(opened, nullptr);
        EXPECT_TRUE(workingOf(opened) == djpeg(path("as.jpg")));
        EXPECT_STREQ(opened->file_path, path("as.jpg").c_str());
        EXPECT_TRUE(opened->in_list);
        EXPECT_EQ(active(), opened);
        EXPECT_NE(opened->first_view, nullptr);
        ASSERT_NE(first_layer(opened), nullptr);
        EXPECT_EQ(first_layer(opened)->kind, TAL_PAINT_LAYER);
        EXPECT_EQ(opened->modified_count.load(), 0);
        base->single_image = 0; // the next one opens beside it
    }
    dispose(image);
}

TEST_F(ImageMethods, SaveAsOntoAnExistingFileKeepsItAsTheBackup) {
    Tal_Image* image = imageOf(testPicture(16, 12));
    ASSERT_NE(image, nullptr);
    std::snprintf(image->format_name, sizeof image->format_name, "JPEG");
    const Bytes old = {'o', 'l', 'd'};
    writeFile(path("photo.jpg"), old);
    Tal__SetCreateBackups(1);
    ASSERT_EQ(Tal_DoImageMethod(image, TAL_SaveImageAs, path("photo.jpg").c_str()), 1u);
    EXPECT_EQ(readFile(path("photo.bak.jpg")), old);
    EXPECT_EQ(frameOfFile(path("photo.jpg")), 0xC0);
    // Save then goes to the same file, and the last save becomes the backup.
    const Bytes first = readFile(path("photo.jpg"));
    image->red[0][0] ^= 0xFF;
    ASSERT_EQ(Tal_DoImageMethod(image, TAL_SaveImage), 1u);
    EXPECT_EQ(readFile(path("photo.bak.jpg")), first);
    EXPECT_NE(readFile(path("photo.jpg")), first);
    dispose(image);
}

// A new image has no file yet: the user would be asked for one, and nothing is written until then.
// Without a file the user is asked for one: cancelled, nothing is saved and nothing is said.
TEST_F(ImageMethods, WithoutAFileNothingIsSaved) {
    Tal_Image* image = imageOf(testPicture(8, 8));
    ASSERT_NE(image, nullptr);
    testing::internal::CaptureStderr();
    for (ULONG method : {TAL_SaveImage, TAL_SaveImageAs, TAL_SaveImageCopy, TAL_PrintImage}) {
        SCOPED_TRACE(method);
        host_QueueMessageBoxAnswer(0); // the file requester's Cancel
        EXPECT_EQ(Tal_DoImageMethod(image, method), 0u);
        EXPECT_EQ(image->modified_count.load(), 1);
        EXPECT_STREQ(image->file_path, "");
        EXPECT_STREQ(image->format_name, "Velura");
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("msgbox:"), std::string::npos);
    EXPECT_TRUE(fs::is_empty(dir));
    dispose(image);
}

// With one image at a time, the opened image replaces the active one, but only once it has loaded and
// the user agreed to close the active image.
TEST_F(ImageMethods, OpeningReplacesTheActiveImageOnlyWhenTheFileLoads) {
    const fs::path file = cjpeg(testPicture(20, 10), "next.jpg");
    Tal_Image* first = open(TAL_OpenImageFile, cjpeg(testPicture(12, 12, 3, 5), "first.jpg"));
    ASSERT_NE(first, nullptr);
    ASSERT_NE(first->first_view, nullptr);
    first->modified_count = 1;
    const size_t images = liveImages();

    // A file that does not load, and a refused close, leave everything as it was.
    host_QueueMessageBoxAnswer(1); // "could not be opened"
    host_QueueMessageBoxAnswer(0); // "are you sure": Cancel
    testing::internal::CaptureStderr();
    EXPECT_EQ(open(TAL_OpenImageFile, path("missing.jpg")), nullptr);
    EXPECT_EQ(open(TAL_OpenImageFile, file), nullptr);
    const std::string boxes = testing::internal::GetCapturedStderr();
    EXPECT_NE(boxes.find("msgbox: File Error"), std::string::npos);
    EXPECT_NE(boxes.find("are you sure"), std::string::npos);
    EXPECT_EQ(active(), first);
    EXPECT_NE(first->first_view, nullptr);
    EXPECT_EQ(liveImages(), images);

    host_QueueMessageBoxAnswer(1); // OK
    testing::internal::CaptureStderr();
    Tal_Image* next = open(TAL_OpenImageFile, file);
    testing::internal::GetCapturedStderr();
    ASSERT_NE(next, nullptr);
    EXPECT_EQ(active(), next);
    EXPECT_NE(next->first_view, nullptr);
    EXPECT_EQ(first->first_view, nullptr);

    // Several at a time: the active image keeps its view.
    base->single_image = 0;
    Tal_Image* third = open(TAL_OpenImageFile, file);
    ASSERT_NE(third, nullptr);
    EXPECT_EQ(active(), third);
    EXPECT_NE(next->first_view, nullptr);
}

TEST_F(ImageMethods, FilesAsLayersAndAsTheAuxiliaryImage) {
    const fs::path paper = cjpeg(testPicture(9, 7), "paper.jpg");
    const fs::path other = cjpeg(testPicture(5, 4, 3, 2), "other.jpg");
    Tal_Image* image = imageOf(testPicture(30, 20));
    ASSERT_NE(image, nullptr);
    const size_t images = liveImages();

    Tal_Image* layer = record(Tal_DoImageMethod(image, TAL_LoadFileAsLayer, paper.c_str()));
    ASSERT_NE(layer, nullptr);
    EXPECT_EQ(image->current_layer, layer);
    EXPECT_EQ(layer->layer_w, 9);
    EXPECT_TRUE(workingOf(layer) == djpeg(paper));
    host_QueueMessageBoxAnswer(0); // without a path the file requester asks: cancelled
    EXPECT_EQ(Tal_DoImageMethod(image, TAL_LoadFileAsLayer, 0), 0u);
    EXPECT_EQ(ListCount(&image->layers), 1);

    // Loaded quietly and only loaded; the same path again loads nothing; a new one replaces it; one
    // that does not load keeps what there is.
    testing::internal::CaptureStderr();
    ASSERT_EQ(Tal_DoImageMethod(image, TAL_LoadAuxiliaryImage, paper.c_str()), 1u);
    const ULONG aux = image->extra_image;
    Tal_Image* texture = recordOf(aux);
    ASSERT_NE(texture, nullptr);
    EXPECT_TRUE(workingOf(texture) == djpeg(paper));
    EXPECT_FALSE(texture->in_list);
    EXPECT_EQ(texture->thread, 0u);
    EXPECT_STREQ(image->extra_image_path, paper.c_str());
    ASSERT_EQ(Tal_DoImageMethod(image, TAL_LoadAuxiliaryImage, paper.c_str()), 1u);
    EXPECT_EQ(image->extra_image, aux);

    ASSERT_EQ(Tal_DoImageMethod(image, TAL_LoadAuxiliaryImage, other.c_str()), 1u);
    EXPECT_NE(image->extra_image, aux);
    EXPECT_EQ(Tal_GetObjectClassID(aux), 0u);
    EXPECT_EQ(recordOf(image->extra_image)->width, 5);
    const ULONG kept = image->extra_image;
    EXPECT_EQ(Tal_DoImageMethod(image, TAL_LoadAuxiliaryImage, path("missing.jpg").c_str()), 0u);
    EXPECT_EQ(image->extra_image, kept);
    EXPECT_STREQ(image->extra_image_path, other.c_str());
    EXPECT_EQ(testing::internal::GetCapturedStderr().find("msgbox:"), std::string::npos);

    // It goes with the image.
    dispose(image);
    EXPECT_EQ(Tal_GetObjectClassID(kept), 0u);
    EXPECT_EQ(liveImages(), images - 1);
}

} // namespace
