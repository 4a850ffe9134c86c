// The shipped brush presets, choosing presets by name, and preset files with names that do not fit.
#include "MediaTest.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using namespace engine_test;
using namespace media_test;

namespace {

constexpr const char* kPresets[] = {"AirBrush", "Chalk", "Pencil", "Paint", "Sponge", "Smudge",
                                    "FireWall", "Fire",  "Fire2",  "Neon",  "Star",   "Sparkle"};

std::string presetText(const char* name) {
    std::ifstream in(std::string(VELURA_DATA_DIR) + "/Data/Media/Presets/" + name + ".TalStr");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The name of the last method line of a stored object (the line before its closing brace).
std::string lastSetting(const std::string& text) {
    const size_t close = text.rfind('}');
    const size_t end = text.rfind(',', close);
    const size_t start = text.find_first_not_of("\t ", text.rfind('\n', text.rfind(',', end - 1)) + 1);
    return text.substr(start, text.find(',', start) - start);
}

} // namespace

// Every preset restores a medium, builds its brush (from its own picture when it names one) and paints a
// stroke that changes the picture.
TEST_F(Media, EveryShippedPresetPaints) {
    for (const char* name : kPresets) {
        SCOPED_TRACE(name);
        const std::string text = presetText(name);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ(lastSetting(text), "Tal_SetMediaSize");

        Tal_Image* image = newImage(96, 80);
        fillPattern(image);
        Tal_Image* layer = newLayer(image);
        setColour(layer, 250, 40, 10);
        ASSERT_TRUE(Tal_DoImageMethod(image, TAL_SetGlobalImageMediaName, name));
        ASSERT_NE(image->media, 0u);
        EXPECT_STREQ(image->media_name, name);
        Tal_Media* media = Tal__GetMedia(image->media);
        ASSERT_NE(media, nullptr);
        ASSERT_NE(media->brush_image, nullptr);
        EXPECT_EQ(media->master_image != nullptr,
                  text.find("Tal_SetMasterMediaImageName") != std::string::npos);

        const std::vector<UBYTE> before = picture(image);
        for (auto [x0, y0, x1, y1] : {std::array<LONG, 4>{10, 40, 50, 30}, {50, 30, 86, 50}}) {
            const Tal_Word request[] = {TAL_MEDIA_LINE, Tal_Word(image), Tal_Word(layer), 1, 0, Tal_Word(x0),
                                        Tal_Word(y0),   Tal_Word(x1),    Tal_Word(y1),    0};
            Tal_DoMethodA(image->media, TAL_MediaStroke, request);
        }
        Tal_EndMediaStroke(image->media);
        EXPECT_NE(picture(image), before);
        dispose(image);
    }
}

// A preset is restored once and kept, with the user's changes; a missing one leaves the medium as it was.
TEST_F(Media, ChoosingPresets) {
    Tal_Image* image = newImage(16, 16);
    ASSERT_TRUE(Tal_DoImageMethod(image, TAL_SetGlobalImageMediaName, "Smudge"));
    const ULONG smudge = image->media;
    EXPECT_EQ(Tal_DoMethod(smudge, TAL_GetMediaSmearMode), 1);
    EXPECT_STREQ(reinterpret_cast<const char*>(Tal_DoImageMethod(image, TAL_GetGlobalImageMediaName)),
                 "Smudge");
    Tal_DoMethod(smudge, TAL_SetMediaPressure, 77);

    ASSERT_TRUE(Tal_DoImageMethod(image, TAL_SetGlobalImageMediaName, "AirBrush"));
    EXPECT_NE(image->media, smudge);
    ASSERT_TRUE(Tal_DoImageMethod(image, TAL_SetGlobalImageMediaName, "Smudge"));
    EXPECT_EQ(image->media, smudge);
    EXPECT_EQ(Tal_DoMethod(smudge, TAL_GetMediaPressure), 77);

    const std::string tooLong(300, 'a');
    for (const char* name : {"NoSuchPreset", "", "../Prefs/VeluraPrefs", tooLong.c_str()}) {
        EXPECT_FALSE(Tal_DoImageMethod(image, TAL_SetGlobalImageMediaName, name)) << name;
        EXPECT_EQ(image->media, smudge);
        EXPECT_STREQ(base->preset_name, "Smudge");
    }
    dispose(image);
}

// Names that do not fit their fields (300 characters) are refused: the preset loads without overflow
// and those settings stay as they were.
TEST_F(Media, PresetWithOverlongNames) {
    const char* tmp = std::getenv("VELURA_TEST_TMP");
    const std::string path = std::string(tmp ? tmp : "/tmp") + "/LongNames.TalStr";
    const std::string name(300, 'x');
    {
        std::ofstream out(path);
        out << "AirBrushMedia\n{\n\tTal_SetMediaModeName,\t\t\t" << name
            << ",\n\tTal_SetMasterMediaImageName,\t\t\t" << name
            << ",\n\tTal_SetMasterMediaAlphaImageName,\t\t\t" << name
            << ",\n\tTal_SetMediaSize,\t\t\t9,\n}\n";
    }
    ULONG m = Tal_RestoreObjectFromDisk(path.c_str());
    ASSERT_NE(m, 0u);
    made_.push_back(m);
    Tal_Media* media = Tal__GetMedia(m);
    ASSERT_NE(media, nullptr);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMediaModeName), 0u);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMasterMediaImageName), 0u);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMasterMediaAlphaImageName), 0u);
    EXPECT_EQ(media->master_image, nullptr);
    EXPECT_EQ(Tal_DoMethod(m, TAL_GetMediaWidth), 9);
    std::remove(path.c_str());
}

// A stored medium writes its size after its other brush settings, so that it restores with its brush
// built from all of them.
TEST_F(Media, StoredMediumRestoresAlike) {
    ULONG m = medium("AirBrushMedia", 99, 13);
    Tal_DoMethod(m, TAL_SetMediaJitter, 7);
    Tal_DoMethod(m, TAL_SetMediaSmearMode, 2);
    ULONG size = 0;
    char* text = Tal_StoreObjectToBuffer(m, &size, 0);
    ASSERT_NE(text, nullptr);
    // The object system's own attributes may follow; no other brush setting does.
    const std::string stored = text;
    const size_t sizeLine = stored.find("Tal_SetMediaSize");
    ASSERT_NE(sizeLine, std::string::npos);
    EXPECT_EQ(stored.find("Tal_SetMedia", sizeLine + 1), std::string::npos);
    EXPECT_EQ(stored.find("Tal_SetMaster", sizeLine + 1), std::string::npos);
    ULONG copy = Tal_CreateObjectsFromString(text);
    ASSERT_NE(copy, 0u);
    made_.push_back(copy);
    for (ULONG getter : {TAL_GetMediaPressure, TAL_GetMediaJitter, TAL_GetMediaSmearMode, TAL_GetMediaSize})
        EXPECT_EQ(Tal_DoMethod(copy, getter), Tal_DoMethod(m, getter));
    Tal_DisposeObject(copy);
    made_.pop_back();
    Tal_FreeStoredObjectBuffer(text);
}
