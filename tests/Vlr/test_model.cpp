// Image records and planes, the image lock, palettes and size texts.
#include "EngineTest.h"
#include "host/dos.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

using namespace engine_test;

namespace {

class Model : public Engine {};

// Rows are contiguous with a stride from the width, whatever the pointer size; every last byte of every
// row is writable (ASan checks), and sizes beyond 16 bits are refused.
TEST_F(Model, PlanesHoldEveryRow) {
    struct {
        LONG w, rows, depth;
        size_t stride;
    } cases[] = {{1, 1, 8, 8},  {7, 3, 8, 8},   {32767, 2, 8, 32768},
                 {1, 1, 24, 8}, {7, 3, 24, 24}, {32767, 2, 24, 98304},
                 {1, 1, 32, 8}, {7, 3, 32, 32}, {32767, 2, 32, 131072}};
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.rows) + "x" + std::to_string(c.depth));
        UBYTE** rows = Tal_AllocImageData(c.w, c.rows, c.depth);
        ASSERT_NE(rows, nullptr);
        EXPECT_EQ(Tal_ImageDataStride(c.w, c.depth), c.stride);
        if (c.rows > 1) {
            EXPECT_EQ(size_t(rows[1] - rows[0]), c.stride);
        }
        EXPECT_EQ(reinterpret_cast<uintptr_t>(rows[0]) % 8, 0u);
        EXPECT_GE(rows[0], reinterpret_cast<UBYTE*>(rows + c.rows)); // the rows follow the table
        size_t used = size_t(c.w) * (c.depth / 8);
        for (LONG y = 0; y < c.rows; y++) {
            EXPECT_EQ(rows[y][used - 1], 0);
            rows[y][used - 1] = 0xAB;
            rows[y][c.stride - 1] = 0xCD;
        }
        Tal_FreeImageData(rows);
    }
    for (auto [w, h, d] : {std::tuple{0, 1, 8}, {40000, 1, 8}, {1, 0, 24}, {-5, 3, 8}, {8, 8, 16}})
        EXPECT_EQ(Tal_AllocImageData(w, h, d), nullptr) << w << "x" << h << "x" << d;
    Tal_FreeImageData(nullptr);
    auto* image = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    EXPECT_EQ(Tal_AllocImage(image, 40000, 2, 24, TAL_ALLOC_NO_THREAD), nullptr);
    EXPECT_EQ(Tal_AllocImage(image, 4, 0, 24, TAL_ALLOC_NO_THREAD), nullptr);
    EXPECT_EQ(image->red, nullptr);
    dispose(image);
}

TEST_F(Model, AllocationFollowsKindAndDepth) {
    Tal_Image* image = newImage(5, 4);
    EXPECT_EQ(image->green[4] - image->green[0], 4 * 8);
    EXPECT_EQ(image->scratch_red, image->red[4]);
    EXPECT_EQ(image->spare_line, image->red[5]);
    EXPECT_NE(image->base_blue, nullptr);
    EXPECT_NE(image->rgb_line, nullptr);
    EXPECT_EQ(image->opacity, 256);
    EXPECT_EQ(image->fade_size, 30);
    for (LONG y = 0; y < 4 + 4; y++) EXPECT_EQ(image->row_max_x[y] - image->row_min_x[y], -4);

    Tal_Image* noBase = newImage(5, 4, 24, TAL_ALLOC_NO_BASE | TAL_ALLOC_NO_THREAD);
    EXPECT_EQ(noBase->base_red, nullptr);
    Tal_Image* layer = newLayer(image);
    EXPECT_EQ(layer->base_grey, nullptr);
    EXPECT_NE(layer->grey, nullptr);
    auto* odd = static_cast<Tal_Image*>(Tal_CreateImageObject("Image", TAL_SetImageKind, TAL_IMAGE));
    odd->red_strength = 7;
    EXPECT_EQ(Tal_AllocImage(odd, 3, 3, 16, TAL_ALLOC_NO_THREAD), odd); // no planes, still allocated
    EXPECT_EQ(odd->red, nullptr);
    EXPECT_EQ(odd->red_strength, 256);
    Tal_DeallocImage(odd);
    Tal_DeallocImage(odd); // harmless twice
    for (Tal_Image* i : {image, noBase, odd}) dispose(i);
}

TEST_F(Model, DepthChangeGoesOnlyTo96) {
    Tal_Image* image = newImage(3, 2);
    fillBase(image, 255, 51, 0);
    EXPECT_EQ(Tal_ChangeImageDepth(image, 32), 0u);
    EXPECT_EQ(image->depth, 24);
    ASSERT_EQ(Tal_ChangeImageDepth(image, 96), 1u);
    EXPECT_EQ(image->red, nullptr);
    EXPECT_FLOAT_EQ(image->fred[1][2], 1.0f);
    EXPECT_FLOAT_EQ(image->base_fgreen[0][0], 0.2f);
    EXPECT_EQ(Tal_ChangeImageDepth(image, 96), 0u);
    dispose(image);
}

TEST_F(Model, NavigationWalksLayersAndImages) {
    Tal_Image* image = newImage(4, 4);
    EXPECT_EQ(first_layer(image), nullptr);
    Tal_Image* a = newLayer(image);
    Tal_Image* b = newLayer(image);
    Tal_Image* c = newLayer(image);
    EXPECT_EQ(first_layer(image), a);
    EXPECT_EQ(last_layer(image), c);
    EXPECT_EQ(next_layer(a), b);
    EXPECT_EQ(prev_layer(a), nullptr);
    EXPECT_EQ(next_layer(c), nullptr);
    EXPECT_EQ(prev_layer(c), b);
    EXPECT_EQ(first_layer(nullptr), nullptr);
    EXPECT_EQ(first_image(base), nullptr);
    Tal_DoImageMethod(image, TAL_AddToImageList);
    EXPECT_EQ(first_image(base), image);
    EXPECT_EQ(last_image(base), image);
    EXPECT_EQ(next_image(image), nullptr);
    dispose(image);
    EXPECT_EQ(first_image(base), nullptr);
}

TEST_F(Model, CopiesCarryLayersAndTheirPaint) {
    Tal_Image* image = newImage(6, 3);
    fillBase(image, 10, 20, 30);
    Tal_Image* layer = newLayer(image);
    setColour(layer, 250, 0, 0);
    paint(layer, 2, 1, 255);
    Tal_FullProcessImage(image);
    ASSERT_EQ(image->red[1][2], 250);

    Tal_Image* flat = Tal__CopyImage(image, 1);
    ASSERT_NE(flat, nullptr);
    EXPECT_EQ(flat->base_red, nullptr);
    EXPECT_EQ(flat->red[1][2], 10); // the picture without unfixed paint
    ASSERT_NE(first_layer(flat), nullptr);
    EXPECT_EQ(first_layer(flat)->grey[1][2], 255);
    EXPECT_EQ(first_layer(flat)->layer_colour[0], 250);

    Tal_Image* full = Tal__CopyImage(image, 0);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(full->red[1][2], 250); // composed again from its own layer
    EXPECT_EQ(full->base_red[1][2], 10);
    EXPECT_STREQ(first_layer(full)->mode_name, "Paint");
    EXPECT_EQ(first_layer(full)->top_image, full);
    EXPECT_EQ(first_image(base), full);
    EXPECT_NE(full->thread_port, nullptr);
    for (Tal_Image* i : {image, flat, full}) dispose(i);
}

// ---------------------------------------------------------------------------------------------------
// The image lock.

TEST_F(Model, LockRefusesWhatIsNotALiveImage) {
    Tal_Image* image = newImage(4, 4);
    Tal_Image fake{};
    EXPECT_EQ(Tal_LockImageA(&fake, TAL_LOCK_READ, 0), 0u);
    EXPECT_EQ(Tal_LockImageA(nullptr, TAL_LOCK_READ, 0), 0u);
    ASSERT_EQ(Tal_LockImageA(image, TAL_LOCK_EXCLUSIVE, 0), 1u);
    ASSERT_EQ(Tal_LockImageA(image, TAL_LOCK_READ, 0), 1u); // recursive for its owner
    EXPECT_EQ(image->lock_count.load(), 2);
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
    Tal_UnlockImageA(image, TAL_LOCK_EXCLUSIVE, 0);
    EXPECT_EQ(image->lock_count.load(), 0);
    EXPECT_EQ(Tal_LockActiveImageA(TAL_LOCK_READ, 0), nullptr);
    Tal_DoImageMethod(image, TAL_SetActiveImage, image);
    EXPECT_EQ(Tal_LockActiveImageA(TAL_LOCK_READ, 0), image);
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
    dispose(image);
}

// Two callers that both want an image exclusively both get it in turn.
TEST_F(Model, ExclusiveLocksOfTwoThreadsBothFinish) {
    Tal_Image* image = newImage(4, 4);
    std::atomic<int> done{0};
    auto body = [&] {
        for (int i = 0; i < 20; i++) {
            ASSERT_EQ(Tal_LockImageA(image, TAL_LOCK_EXCLUSIVE, 0), 1u);
            image->marker_x++;
            Tal_UnlockImageA(image, TAL_LOCK_EXCLUSIVE, 0);
        }
        done++;
    };
    { TaskThread a(body), b(body); }
    EXPECT_EQ(done.load(), 2);
    EXPECT_EQ(image->marker_x, 40);
    dispose(image);
}

// Two threads taking two images in opposite orders: one take is refused, nobody hangs.
TEST_F(Model, OppositeLockOrdersDoNotHang) {
    Tal_Image* one = newImage(4, 4);
    Tal_Image* two = newImage(4, 4);
    std::atomic<int> ready{0};
    std::atomic<int> refused{0};
    auto body = [&](Tal_Image* first, Tal_Image* second) {
        ASSERT_EQ(Tal_LockImageA(first, TAL_LOCK_EXCLUSIVE, 0), 1u);
        ready++;
        while (ready.load() < 2) std::this_thread::yield();
        if (Tal_LockImageA(second, TAL_LOCK_READ, 0))
            Tal_UnlockImageA(second, TAL_LOCK_READ, 0);
        else
            refused++;
        Tal_UnlockImageA(first, TAL_LOCK_EXCLUSIVE, 0);
    };
    {
        TaskThread a([&] { body(one, two); }), b([&] { body(two, one); });
    }
    EXPECT_GE(refused.load(), 1);
    dispose(one);
    dispose(two);
}

// Disposal waits for a holder; lockers racing with the disposal get the lock or a refusal, never freed
// memory.
TEST_F(Model, DisposalWaitsForHoldersAndRefusesNewLocks) {
    Tal_Image* image = newImage(4, 4);
    ASSERT_EQ(Tal_LockImageA(image, TAL_LOCK_READ, 0), 1u);
    std::atomic<bool> disposed{false};
    TaskThread disposer([&] {
        dispose(image);
        disposed = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(disposed.load());
    EXPECT_EQ(Tal_LockImageA(image, TAL_LOCK_READ, 0), 0u); // being disposed
    Tal_UnlockImageA(image, TAL_LOCK_READ, 0);
    disposer.join();
    EXPECT_TRUE(disposed.load());

    for (int round = 0; round < 20; round++) {
        Tal_Image* victim = newImage(4, 4);
        std::atomic<bool> go{false};
        TaskThread locker([&] {
            while (!go) std::this_thread::yield();
            for (int i = 0; i < 200; i++)
                if (Tal_LockImageA(victim, i % 3 == 0 ? TAL_LOCK_EXCLUSIVE : TAL_LOCK_READ, 0))
                    Tal_UnlockImageA(victim, i % 3 == 0 ? TAL_LOCK_EXCLUSIVE : TAL_LOCK_READ, 0);
        });
        go = true;
        dispose(victim);
    }
}

// ---------------------------------------------------------------------------------------------------
// Palettes and size texts.

std::string chunk(const char* id, const std::string& body) {
    std::string c(id, 4);
    uint32_t n = uint32_t(body.size());
    c += char(n >> 24), c += char(n >> 16), c += char(n >> 8), c += char(n);
    c += body;
    if (body.size() & 1) c += '\0';
    return c;
}

std::string bmhd(int planes, size_t size = 20) {
    std::string body(size, '\0');
    if (size > 8) body[8] = char(planes);
    return chunk("BMHD", body);
}

std::string cmap(int colours) {
    std::string body;
    for (int i = 0; i < colours; i++) body += char(i), body += char(i * 2), body += char(255 - i);
    return chunk("CMAP", body);
}

std::string form(const std::string& chunks) {
    std::string body = "ILBM" + chunks;
    uint32_t n = uint32_t(body.size());
    return std::string("FORM") + char(n >> 24) + char(n >> 16) + char(n >> 8) + char(n) + body;
}

TEST_F(Model, PalettesTrustOnlyWhatTheFileHolds) {
    const char* dir = std::getenv("VELURA_TEST_TMP");
    std::string folder = std::string(dir ? dir : "/tmp") + "/engine";
    std::filesystem::create_directories(folder); // a fresh build directory has no test folder yet
    std::string path = folder + "/palette.iff";
    struct {
        const char* name;
        std::string file;
        ULONG count;
    } cases[] = {
        {"8 planes, 768-byte map", form(bmhd(8) + cmap(256)), 256},
        {"12-byte map", form(bmhd(8) + cmap(4)), 4},
        {"2 planes", form(bmhd(2) + cmap(256)), 4},
        {"10 planes", form(bmhd(10) + cmap(256)), 256},
        {"short BMHD counts as absent", form(bmhd(2, 8) + cmap(40)), 40},
        {"no CMAP", form(bmhd(8)), 0},
        {"chunk past the end", form(bmhd(8) + cmap(256)).substr(0, 300), 0},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        FILE* f = std::fopen(path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(c.file.data(), 1, c.file.size(), f);
        std::fclose(f);
        std::vector<ULONG> table(256 + 16, 0xDEADBEEF);
        EXPECT_EQ(Tal_ReadPalette(path.c_str(), table.data()), c.count);
        if (c.count > 3) {
            EXPECT_EQ(table[3], 0x00FC0603u); // R 3, G 6, B 252 as 0x00BBGGRR
        }
        EXPECT_EQ(table[256], 0xDEADBEEFu);
        if (c.count < 256) {
            EXPECT_EQ(table[c.count], 0xDEADBEEFu);
        }
    }
    EXPECT_EQ(Tal_ReadPalette("/nonexistent/palette.iff", std::vector<ULONG>(256).data()), 0u);
}

TEST_F(Model, SizeTexts) {
    struct {
        uint64_t bytes;
        const char* text;
    } cases[] = {{0, "1KB"},           {1000, "1KB"},        {3000, "2KB"},        {1048576, "1024KB"},
                 {1500000, "1,464KB"}, {2000000, "1,953KB"}, {2096128, "2,047KB"}, {1048577, "1,024KB"}};
    char text[32];
    for (auto& c : cases) {
        ASSERT_EQ(Tal_FormatByteCount(text, sizeof text, c.bytes), 1u);
        EXPECT_STREQ(text, c.text) << c.bytes;
    }
    EXPECT_EQ(Tal_FormatByteCount(text, 4, 1500000), 0u);
    Tal_FormatSeconds(text, sizeof text, 0);
    EXPECT_STREQ(text, "1s");
    Tal_FormatSeconds(text, sizeof text, 75);
    EXPECT_STREQ(text, "75s");
}

} // namespace
