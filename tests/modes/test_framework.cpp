// What every mode shares: its parameters and their announcements, the recompose it asks for, choosing a
// mode for a layer, its options panel, changes of the layer's source image, and changing modes while
// another thread composes.
#include "ModesTest.h"
#include "support/Recorder.h"

#include <mutex>

using namespace modes_test;

namespace {

RECORDER_CLASS(panelClass, "TPanel", 0x7E420000)

// Notifications a callback has seen: attribute and its first argument.
struct Heard {
    std::mutex lock;
    std::vector<std::pair<ULONG, Tal_Word>> values;
    static Tal_Word note(Tal_Word user, ULONG, ULONG trigger, const Tal_Word* args) {
        auto* self = reinterpret_cast<Heard*>(user);
        std::lock_guard guard(self->lock);
        self->values.emplace_back(trigger, args[0]);
        return 0;
    }
    void listen(ULONG object, ULONG id) {
        Tal_AddCallBackNotify(object, id, TAL_AnyValue, &Heard::note, reinterpret_cast<Tal_Word>(this));
    }
    size_t count() {
        std::lock_guard guard(lock);
        return values.size();
    }
};

Tal_Word word(LONG value) {
    return Tal_Word(intptr_t(value));
}

class ModeFramework : public Modes {};

TEST_F(ModeFramework, ParametersKeepSixteenBitsAndAnnounceOnlyChanges) {
    ULONG mode = Tal_CreateObject("RootMode");
    ASSERT_NE(mode, 0u);
    const std::pair<ULONG, ULONG> parameters[] = {
        {TAL_SetModeAmount, TAL_GetModeAmount},         {TAL_SetModeRadius, TAL_GetModeRadius},
        {TAL_SetModeAngle, TAL_GetModeAngle},           {TAL_SetModeColourMode, TAL_GetModeColourMode},
        {TAL_SetModeParameterE, TAL_GetModeParameterE}, {TAL_SetModeParameterF, TAL_GetModeParameterF},
        {TAL_SetModeParameterG, TAL_GetModeParameterG}, {TAL_SetModeParameterH, TAL_GetModeParameterH},
        {TAL_SetModeParameterI, TAL_GetModeParameterI}, {TAL_SetModeParameterJ, TAL_GetModeParameterJ},
    };
    Heard heard;
    for (const auto& [set, get] : parameters) heard.listen(mode, set);
    for (const auto& [set, get] : parameters) {
        SCOPED_TRACE(set);
        heard.values.clear();
        EXPECT_EQ(Tal_DoMethod(mode, set, 70000), word(4464));
        EXPECT_EQ(Tal_DoMethod(mode, get), word(4464));
        EXPECT_EQ(Tal_DoMethod(mode, set, 4464), word(4464)); // no change: not announced
        EXPECT_EQ(Tal_DoMethod(mode, set, 40000), word(-25536));
        EXPECT_EQ(Tal_DoMethod(mode, get), word(-25536));
        ASSERT_EQ(heard.count(), 2u);
        EXPECT_EQ(heard.values[0], std::make_pair(set, word(4464)));
        EXPECT_EQ(heard.values[1], std::make_pair(set, word(-25536))); // the stored value, sign-extended
    }
    // Each parameter has its own place.
    EXPECT_EQ(Tal_DoMethod(mode, TAL_SetModeAmount, 1), word(1));
    EXPECT_EQ(Tal_DoMethod(mode, TAL_GetModeRadius), word(-25536));
    EXPECT_EQ(Tal_DoMethod(mode, TAL_SetModeFlags, 5), 1u);
    EXPECT_EQ(Tal_DoMethod(mode, TAL_GetModeFlags), 5u);
    Tal_DisposeObject(mode);

    // Emboss starts with its defaults, and its parameters are stored by name.
    ULONG emboss = Tal_CreateObject("EmbossMode");
    EXPECT_EQ(Tal_DoMethod(emboss, TAL_GetModeRadius), word(1));
    EXPECT_EQ(Tal_DoMethod(emboss, TAL_GetModeAngle), word(135));
    EXPECT_EQ(Tal_DoMethod(emboss, TAL_GetModeAmount), word(100));
    EXPECT_EQ(Tal_DoMethod(emboss, TAL_GetModeColourMode), word(0));
    Tal_DoMethod(emboss, TAL_SetModeAngle, -45);
    char* text = Tal_StoreObjectToBuffer(emboss, nullptr, 0);
    ASSERT_NE(text, nullptr);
    EXPECT_NE(std::string(text).find("Tal_SetModeAngle"), std::string::npos) << text;
    EXPECT_NE(std::string(text).find("-45"), std::string::npos) << text;
    Tal_FreeStoredObjectBuffer(text);
    Tal_DisposeObject(emboss);
}

// Changes of a mode's settings recompose its layer on the image's thread; a parameter set to the value
// it has does not.
TEST_F(ModeFramework, ChangesRecomposeTheLayer) {
    Tal_Image* image = imageOf(talio_test::testPicture(12, 9), 0);
    ASSERT_NE(image, nullptr);
    Tal_Image* layer = fullLayer(image, "Emboss");
    ASSERT_NE(layer, nullptr);
    Tal_FullProcessImage(image);
    waitIdle();
    auto settled = [&](const Picture& want) { return waitFor([&] { return picture(image) == want; }); };

    // The base changes behind the engine's back: only a recompose shows it.
    auto changeBase = [&](UBYTE value) {
        SemaphoreGuard guard(&image->compose_lock);
        for (LONG x = 0; x < image->width; x++) image->base_green[4][x] = UBYTE(value + 9 * x);
    };
    auto embossed = [&] {
        Picture below{ULONG(image->width), ULONG(image->height), 3, {}};
        below.samples.resize(size_t(image->width) * image->height * 3);
        UBYTE** base[3] = {image->base_red, image->base_green, image->base_blue};
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++)
                for (int ch = 0; ch < 3; ch++)
                    below.samples[(size_t(y) * below.width + x) * 3 + ch] = base[ch][y][x];
        Picture out = below;
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++)
                for (int ch = 0; ch < 3; ch++)
                    out.samples[(size_t(y) * out.width + x) * 3 + ch] = UBYTE(
                        std::clamp(127 + at(below, x + 1, y + 1, ch) - at(below, x - 1, y - 1, ch), 0, 255));
        return out;
    };
    const Picture before = picture(image);
    changeBase(3);
    Tal_DoMethod(layer->mode, TAL_SetModeAngle, 135); // its value already
    waitIdle();
    EXPECT_EQ(picture(image), before);
    Tal_DoMethod(layer->mode, TAL_SetModeAngle, 136); // the same direction, a new value
    EXPECT_TRUE(settled(embossed()));

    // ColourToGrey asks for a recompose at every setting of its conversion.
    ASSERT_TRUE(Tal_SelectLayerMode(layer, "ColourToGrey"));
    Tal_DoLayerDoesntNeedsFixing(layer);
    ULONG grey = layer->mode;
    Tal_DoMethod(grey, TAL_SetGreyConversion, 3);
    auto redAsGrey = [&] {
        Picture out = picture(image);
        for (LONG y = 0; y < image->height; y++)
            for (LONG x = 0; x < image->width; x++)
                for (int ch = 0; ch < 3; ch++)
                    out.samples[(size_t(y) * out.width + x) * 3 + ch] = image->base_red[y][x];
        return out;
    };
    EXPECT_TRUE(settled(redAsGrey()));
    {
        SemaphoreGuard guard(&image->compose_lock);
        for (LONG x = 0; x < image->width; x++) image->base_red[2][x] = UBYTE(200 - x);
    }
    EXPECT_EQ(Tal_DoMethod(grey, TAL_SetGreyConversion, 3), 0u);
    EXPECT_EQ(Tal_DoMethod(grey, TAL_GetGreyConversion), 3u);
    EXPECT_TRUE(settled(redAsGrey()));
    dispose(image);
    waitIdle();
}

// The clone offset: signed, announced, recomposed; inside a group of changes announced only.
TEST_F(ModeFramework, CloneOffsetsAndTheirGroup) {
    Tal_Image* image = imageOf(talio_test::testPicture(16, 16), 0);
    Tal_Image* layer = fullLayer(image, "Clone");
    ASSERT_NE(layer, nullptr);
    ULONG clone = layer->mode;
    Heard heard;
    heard.listen(clone, TAL_SetCloneDX);
    heard.listen(clone, TAL_SetCloneDY);
    const Picture below = picture(image);
    auto shifted = [&](LONG dx, LONG dy) {
        Picture out = below;
        for (LONG y = 0; y < 16; y++)
            for (LONG x = 0; x < 16; x++)
                for (int ch = 0; ch < 3; ch++)
                    out.samples[(size_t(y) * 16 + x) * 3 + ch] = UBYTE(at(below, x + dx, y + dy, ch));
        return out;
    };
    EXPECT_EQ(Tal_DoMethod(clone, TAL_SetCloneDX, 3), word(3));
    EXPECT_EQ(Tal_DoMethod(clone, TAL_SetCloneDY, -2), word(-2));
    EXPECT_EQ(Tal_DoMethod(clone, TAL_GetCloneDY), word(-2));
    EXPECT_TRUE(waitFor([&] { return picture(image) == shifted(3, -2); }));

    EXPECT_EQ(Tal_DoMethod(clone, TAL_CloneOffsetGroup, 1), 1u);
    Tal_DoMethod(clone, TAL_SetCloneDX, -5);
    waitIdle();
    EXPECT_EQ(picture(image), shifted(3, -2)); // the tool recomposes by itself
    Tal_FullProcessImage(image);
    EXPECT_EQ(picture(image), shifted(-5, -2));
    Tal_DoMethod(clone, TAL_CloneOffsetGroup, 0);
    Tal_DoMethod(clone, TAL_SetCloneDY, 70000); // 4464: beyond the picture, its bottom row
    EXPECT_TRUE(waitFor([&] { return picture(image) == shifted(-5, 4464); }));

    const std::vector<std::pair<ULONG, Tal_Word>> want = {{TAL_SetCloneDX, word(3)},
                                                          {TAL_SetCloneDY, word(-2)},
                                                          {TAL_SetCloneDX, word(-5)},
                                                          {TAL_SetCloneDY, word(4464)}};
    EXPECT_EQ(heard.values, want);
    dispose(image);
    waitIdle();
}

TEST_F(ModeFramework, ChoosingModes) {
    Tal_Image* image = newImage(8, 8);
    Tal_Image* layer = newLayer(image);
    ASSERT_NE(layer, nullptr);
    const ULONG paint = layer->mode;
    EXPECT_STREQ(layer->mode_name, "Paint");
    EXPECT_EQ(layer->pending_mode, 0u);

    // Names of no mode, and names too long for the fields, change nothing.
    const std::string longName(300, 'N');
    for (const char* name : {"Blur", "Root2", longName.c_str(),
                             "PaintPaintPaintPaintPaintPaintPaintPaintPaintPaintPaintPaintPaintPaintPaintPain"
                             "tPaintPaintPaintPaintPaintPaintPaintPaint"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Tal_SelectLayerMode(layer, name), 0u);
        EXPECT_EQ(layer->mode, paint);
        EXPECT_EQ(layer->pending_mode, 0u);
        EXPECT_STREQ(layer->mode_name, "Paint");
        EXPECT_STREQ(layer->pending_mode_name, "Paint");
    }

    // Two choices before a fix: the first goes into use (the mode it replaces is gone), the second waits.
    ASSERT_EQ(Tal_SelectLayerMode(layer, "Sepia"), 1u);
    const ULONG sepia = layer->pending_mode;
    EXPECT_EQ(layer->mode, paint);
    ASSERT_EQ(Tal_SelectLayerMode(layer, "Emboss"), 1u);
    EXPECT_EQ(layer->mode, sepia);
    EXPECT_STREQ(layer->mode_name, "Sepia");
    EXPECT_STREQ(layer->pending_mode_name, "Emboss");
    EXPECT_EQ(Tal_GetObjectInstance(paint), nullptr);
    EXPECT_EQ(Tal_DoMethod(layer->pending_mode, TAL_GetModeLayer), reinterpret_cast<Tal_Word>(layer));

    // The mode already waiting: nothing happens, the layer is not marked again.
    const LONG marks = layer->fix_count.load();
    const ULONG emboss = layer->pending_mode;
    EXPECT_EQ(Tal_SelectLayerMode(layer, "Emboss"), 1u);
    EXPECT_EQ(layer->pending_mode, emboss);
    EXPECT_EQ(layer->fix_count.load(), marks);
    dispose(image);
}

// The options panel shows in the mode options container while the mode's layer is current, and only
// for the mode the layer waits for (else the one in use).
TEST_F(ModeFramework, OptionsPanelFollowsTheCurrentLayer) {
    register_panelClass();
    const ULONG container = Tal_CreateObject("Group");
    const ULONG plugin = Tal_CreateObject("TPanel");
    base->mode_options_container = container;
    base->mode_options_plugin = plugin;
    Tal_Image* image = newImage(8, 8);
    Tal_DoImageMethod(image, TAL_AddToImageList);
    Tal_Image* a = newLayer(image);
    Tal_Image* b = newLayer(image);
    ASSERT_TRUE(a && b);
    auto current = [&](Tal_Image* layer) { Tal_DoImageMethod(image, TAL_SetCurrentLayer, layer); };
    auto shown = [&](ULONG panel) { return Tal_GetParentObject(panel) == container; };
    auto withPanel = [&](ULONG mode) {
        ULONG panel = Tal_CreateObject("TPanel");
        EXPECT_EQ(Tal_DoMethod(mode, TAL_SetModeOptions, panel), 1u);
        EXPECT_EQ(ULONG(Tal_DoMethod(mode, TAL_GetModeOptions)), panel);
        return panel;
    };

    current(a);
    ASSERT_EQ(Tal_SelectLayerMode(a, "Emboss"), 1u);
    const ULONG emboss = a->pending_mode;
    const ULONG panel = withPanel(emboss);
    // Made ready for the container: its title hidden three times, no frame; not yet shown.
    int hides = 0;
    for (const recorder::Call& call : recorder::calls(panel)) hides += call.id == TAL_PluginHideTitle;
    EXPECT_EQ(hides, 3);
    EXPECT_EQ(recorder::attribute(panel, TAL_SetGroupFrame), 0u);
    EXPECT_FALSE(shown(panel));

    Tal_DoMethod(emboss, TAL_SetModeLayer, a);
    EXPECT_TRUE(shown(panel));
    current(b);
    EXPECT_FALSE(shown(panel));
    current(a);
    EXPECT_TRUE(shown(panel));

    // A mode that is told its layer while another layer is current keeps its panel hidden.
    const ULONG bPanel = withPanel(b->mode);
    Tal_DoMethod(b->mode, TAL_SetModeLayer, b);
    EXPECT_FALSE(shown(bPanel));
    EXPECT_TRUE(recorder::calls(plugin).empty()); // the image is in no view: nothing to bring forward

    // A second choice: Emboss goes into use and leaves the container; the one waiting shows its own.
    ASSERT_EQ(Tal_SelectLayerMode(a, "Negative"), 1u);
    EXPECT_FALSE(shown(panel));
    const ULONG negativePanel = withPanel(a->pending_mode);
    current(b);
    EXPECT_TRUE(shown(bPanel));
    current(a);
    EXPECT_TRUE(shown(negativePanel));
    EXPECT_FALSE(shown(panel));
    EXPECT_FALSE(shown(bPanel));

    // Where the image is on show, a mode with a panel of its own brings the options forward.
    Tal_ImageView view{};
    image->first_view = &view;
    Tal_DoMethod(a->pending_mode, TAL_SetModeLayer, a);
    image->first_view = nullptr;
    EXPECT_EQ(recorder::calls(plugin).size(), 1u);
    EXPECT_EQ(recorder::calls(plugin).at(0).id, TAL_PluginToFront);

    // The fix puts the waiting mode into use and disposes Emboss with its panel.
    Tal_DoLayerDoesntNeedsFixing(a);
    EXPECT_EQ(Tal_GetObjectInstance(panel), nullptr);
    EXPECT_TRUE(shown(negativePanel));
    // A mode that goes takes its shown panel out of the container.
    dispose(image);
    EXPECT_EQ(Tal_GetObjectInstance(negativePanel), nullptr);
    EXPECT_EQ(Tal_DoMethod(container, TAL_GetFirstGroupObject), 0u);
    base->mode_options_container = base->mode_options_plugin = 0;
    Tal_DisposeObject(plugin);
    Tal_DisposeObject(container);
    Tal__CleanupClass(&panelClass);
}

// A mode that reads a source image hears of its changes and announces them as changes of its layer.
TEST_F(ModeFramework, SourceImageChangesBecomeLayerChanges) {
    Tal_Image* image = newImage(40, 30);
    Tal_Image* layer = newLayer(image);
    Tal_Image* source = newImage(20, 20);
    ASSERT_TRUE(layer && source);
    layer->source_x = 5;
    layer->source_y = 3;
    Tal_DoImageMethod(layer, TAL_SetModeSourceImage, source);
    std::vector<std::array<LONG, 5>> seen;
    Tal_AddCallBackNotify(
        layer->header.handle, TAL_ImageDataChanged, TAL_AnyValue,
        [](Tal_Word user, ULONG, ULONG, const Tal_Word* args) -> Tal_Word {
            reinterpret_cast<std::vector<std::array<LONG, 5>>*>(user)->push_back(
                {LONG(args[0]), LONG(args[2]), LONG(args[3]), LONG(args[4]), LONG(args[5])});
            return 0;
        },
        reinterpret_cast<Tal_Word>(&seen));

    Tal_ModifiedImageData(source, 1, 2, 3, 4); // the mode does not read its source: nothing
    EXPECT_TRUE(seen.empty());
    Tal_DoMethod(layer->mode, TAL_SetModeFlags, TAL_ModeReadsSource);
    Tal_ModifiedImageData(source, 1, 2, 3, 4);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0], (std::array<LONG, 5>{0, 6, 5, 8, 7}));

    // While the source is recomposed in bands, only its last band is announced, from its top.
    Tal_DoMethod(layer->mode, TAL_SetModeFlags, TAL_ModeReadsSource | TAL_ModeSourceAtLastRow);
    source->interruptible = 1;
    Tal_ModifiedImageData(source, 0, 0, 19, 9);
    EXPECT_EQ(seen.size(), 1u);
    Tal_ModifiedImageData(source, 0, 10, 19, 19);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[1], (std::array<LONG, 5>{0, 5, 3, 39, 22}));
    source->interruptible = 0;
    dispose(image);
    dispose(source);
}

// One thread chooses modes while another composes: modes change hands under the compose lock, and the
// mode that goes is disposed only after it (run under ThreadSanitizer too).
TEST_F(ModeFramework, ModesChangeWhileAnotherThreadComposes) {
    const Picture below = talio_test::testPicture(24, 16);
    Tal_Image* image = imageOf(below);
    Tal_Image* layer = fullLayer(image, "Paint");
    ASSERT_NE(layer, nullptr);
    std::atomic<bool> done{false};
    std::atomic<int> composed{0};
    TaskThread composer([&] {
        while (!done.load()) {
            Tal_FullProcessImage(image);
            composed++;
        }
    });
    const char* names[] = {"Negative",  "Emboss", "Sepia",        "FlipX",
                           "Colourise", "Clone",  "ColourToGrey", "FlipY"};
    // Choices go on until many compositions have run among them.
    for (int i = 0; i < 200 || composed.load() < 100; i++) {
        ASSERT_EQ(Tal_SelectLayerMode(layer, names[i % 8]), 1u);
        if (i % 5 == 0) Tal_DoLayerDoesntNeedsFixing(layer);
    }
    done = true;
    composer.join();
    Tal_SelectLayerMode(layer, "Negative");
    Tal_DoLayerDoesntNeedsFixing(layer);
    Tal_FullProcessImage(image);
    for (LONG y = 0; y < image->height; y++)
        for (LONG x = 0; x < image->width; x++) ASSERT_EQ(image->red[y][x], 255 - at(below, x, y, 0));
    dispose(image);
}

} // namespace
