// Image buffers and streams: layouts and row distances, sizes that do not fit, storing and fetching
// pixels in every pixel code, format conversion, layers, the stream functions and the read-ahead reader.
#include "talio_test.h"

#include <unistd.h>

using namespace talio_test;

namespace {

using BufferTest = TalioFixture;

TALIO_ImageBuffer* make(ULONG width, ULONG height, ULONG depth, ULONG format, ULONG bytesPerRow = 0) {
    return TALIO_AllocBuffer(width, height, depth, bytesPerRow, format, 0);
}

std::vector<UBYTE> rgbAt(const TALIO_ImageBuffer* b, ULONG x, ULONG y) {
    std::vector<UBYTE> p(3);
    if (!TALIO_GetBufferData(b, x, y, 1, 1, 3, TALIO_PIXEL_RGB, p.data())) return {};
    return p;
}

TEST_F(BufferTest, RowDistancesOfEveryLayout) {
    struct Case {
        ULONG format, width, depth, given, expected; // expected 0: the allocation fails
    };
    for (const Case& c : {Case{TALIO_FORMAT_GREY8, 13, 8, 0, 16}, Case{TALIO_FORMAT_BITPLANES, 17, 4, 0, 4},
                          Case{TALIO_FORMAT_RGB24, 5, 24, 0, 16}, Case{TALIO_FORMAT_INDEXED8, 13, 8, 0, 16},
                          Case{TALIO_FORMAT_RGB32, 5, 32, 0, 0}, Case{TALIO_FORMAT_RGB32, 5, 32, 20, 20},
                          Case{TALIO_FORMAT_RGB24, 5, 24, 14, 0}, Case{TALIO_FORMAT_RGBPLANES, 13, 24, 0, 16},
                          // Plane formats always have their planes' row distance, whatever was asked.
                          Case{TALIO_FORMAT_RGBPLANES, 13, 24, 3, 16},
                          Case{TALIO_FORMAT_RGBAPLANES, 9, 32, 0, 16}, Case{7, 8, 8, 0, 0}}) {
        SCOPED_TRACE("format " + std::to_string(c.format) + " width " + std::to_string(c.width));
        TALIO_ImageBuffer* b = static_cast<TALIO_ImageBuffer*>(Tal_AllocMemClear(sizeof(TALIO_ImageBuffer)));
        *b = {};
        NewList(&b->layers);
        b->width = c.width, b->height = 3, b->depth = c.depth, b->format = c.format,
        b->bytes_per_row = c.given;
        EXPECT_EQ(TALIO_AllocBufferMem(b), c.expected ? 1u : 0u);
        if (c.expected) {
            EXPECT_EQ(b->bytes_per_row, c.expected);
        }
        TALIO_FreeBuffer(b);
    }
    // Plane rows are the distance apart that the row table says.
    TALIO_ImageBuffer* planes = make(13, 4, 24, TALIO_FORMAT_RGBPLANES);
    ASSERT_NE(planes, nullptr);
    EXPECT_EQ(planes->red_plane[1] - planes->red_plane[0], 16);
    EXPECT_EQ(planes->red, planes->red_plane[0]);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(planes->red) % 8, 0u);
    TALIO_FreeBuffer(planes);
}

TEST_F(BufferTest, SizesThatDoNotFitAreRefusedNotWrapped) {
    struct Case {
        ULONG width, height, depth, format;
    };
    // Each of these wraps around in 32 (or 64) bits: a short block and writes past it.
    for (const Case& c :
         {Case{0xFFFFFFF0u, 0xFFFFFFFFu, 32, TALIO_FORMAT_BITPLANES},
          Case{0x60000000u, 4, 24, TALIO_FORMAT_RGB24}, Case{0xFFFFFFFFu, 0xFFFFFFFFu, 8, TALIO_FORMAT_GREY8},
          Case{0xFFFFFFFFu, 0xFFFFFFFFu, 8, TALIO_FORMAT_INDEXED8},
          Case{0xFFFFFFFFu, 0xFFFFFFFFu, 24, TALIO_FORMAT_RGBPLANES}, Case{8, 8, 33, TALIO_FORMAT_BITPLANES},
          Case{0, 8, 8, TALIO_FORMAT_GREY8}}) {
        SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
        TALIO_ImageBuffer b{};
        NewList(&b.layers);
        b.width = c.width, b.height = c.height, b.depth = c.depth, b.format = c.format;
        EXPECT_EQ(TALIO_AllocBufferMem(&b), 0u);
        EXPECT_EQ(b.memory, nullptr);
        EXPECT_EQ(b.red_plane, nullptr);
    }
}

TEST_F(BufferTest, StoringPixelsOfEveryCode) {
    TALIO_ImageBuffer* b = make(4, 2, 24, TALIO_FORMAT_RGBPLANES);
    b->palette[1] = 0x00302010;
    b->palette[15] = 0x00FFEEDD;
    struct Case {
        ULONG code;
        Bytes source;
        std::vector<UBYTE> first, second; // R, G, B of pixels 0 and 1
    };
    auto word = [](UWORD v) {
        Bytes out(2);
        std::memcpy(out.data(), &v, 2);
        return out;
    };
    Bytes rgb565 = word(0xFFFF);
    const Bytes red565 = word(0xF800), grey565 = word(0x0841);
    rgb565.insert(rgb565.end(), red565.begin(), red565.end());
    const Case cases[] = {
        {TALIO_PIXEL_RGB, {1, 2, 3, 4, 5, 6}, {1, 2, 3}, {4, 5, 6}},
        {TALIO_PIXEL_RGBX, {1, 2, 3, 99, 4, 5, 6, 99}, {1, 2, 3}, {4, 5, 6}},
        {TALIO_PIXEL_BGR, {1, 2, 3, 4, 5, 6}, {3, 2, 1}, {6, 5, 4}},
        {TALIO_PIXEL_BGRX, {1, 2, 3, 99, 4, 5, 6, 99}, {3, 2, 1}, {6, 5, 4}},
        {TALIO_PIXEL_XBGR, {99, 1, 2, 3, 99, 4, 5, 6}, {3, 2, 1}, {6, 5, 4}},
        {TALIO_PIXEL_GREY, {9, 200}, {9, 9, 9}, {200, 200, 200}},
        {TALIO_PIXEL_INDEX, {1, 15}, {0x10, 0x20, 0x30}, {0xDD, 0xEE, 0xFF}},
        {TALIO_PIXEL_INDEX4, {0x1F}, {0x10, 0x20, 0x30}, {0xDD, 0xEE, 0xFF}},
        {TALIO_PIXEL_RGB565, rgb565, {255, 255, 255}, {255, 0, 0}},
        {TALIO_PIXEL_RGB565, grey565, {8, 8, 8}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        const ULONG width = c.second.empty() ? 1 : 2;
        ASSERT_EQ(TALIO_SetBufferData(b, 2, 1, width, 1, 0, c.code, c.source.data()), 1u);
        EXPECT_EQ(rgbAt(b, 2, 1), c.first);
        if (!c.second.empty()) {
            EXPECT_EQ(rgbAt(b, 3, 1), c.second);
        }
    }
    // Outside the buffer, or a combination that is not offered: nothing is stored.
    const UBYTE white[12] = {255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255};
    EXPECT_EQ(TALIO_SetBufferData(b, 3, 0, 2, 1, 6, TALIO_PIXEL_RGB, white), 0u);
    EXPECT_EQ(TALIO_SetBufferData(b, 0, 2, 1, 1, 3, TALIO_PIXEL_RGB, white), 0u);
    EXPECT_EQ(TALIO_SetBufferData(b, 0xFFFFFFFFu, 0, 2, 1, 3, TALIO_PIXEL_RGB, white), 0u);
    EXPECT_EQ(TALIO_SetBufferData(b, 0, 0, 1, 1, 3, TALIO_PIXEL_RGBA, white), 0u);
    EXPECT_EQ(rgbAt(b, 3, 0), (std::vector<UBYTE>{0, 0, 0}));
    TALIO_FreeBuffer(b);
}

TEST_F(BufferTest, GreyRowsTakeOnlyTheirWidthFromPaddedSourceRows) {
    TALIO_ImageBuffer* b = make(13, 3, 8, TALIO_FORMAT_GREY8);
    ASSERT_EQ(b->bytes_per_row, 16u);
    Bytes source(24 * 3);
    for (size_t i = 0; i < source.size(); i++) source[i] = UBYTE(i + 1);
    ASSERT_EQ(TALIO_SetBufferData(b, 0, 0, 13, 3, 24, TALIO_PIXEL_GREY, source.data()), 1u);
    for (ULONG y = 0; y < 3; y++)
        for (ULONG x = 0; x < 16; x++)
            EXPECT_EQ(b->grey[y * 16 + x], x < 13 ? source[y * 24 + x] : 0) << x << "," << y;
    // Nothing after the last row either.
    EXPECT_EQ(b->grey[3 * 16], 0);
    EXPECT_EQ(TALIO_SetBufferData(b, 0, 0, 1, 1, 3, TALIO_PIXEL_RGB, source.data()), 0u);
    TALIO_FreeBuffer(b);
}

TALIO_AlphaSource testAlpha;
ULONG resolveTestAlpha(const Tal_Image*, TALIO_AlphaSource* out) {
    *out = testAlpha;
    return 1;
}

TEST_F(BufferTest, FetchingPixelsFromColourAndGreyBuffers) {
    TALIO_ImageBuffer* colour = make(3, 2, 24, TALIO_FORMAT_RGBPLANES);
    const UBYTE rgb[] = {10, 20, 30, 40, 50, 60, 70, 80, 90};
    TALIO_SetBufferData(colour, 0, 1, 3, 1, 9, TALIO_PIXEL_RGB, rgb);
    TALIO_ImageBuffer* grey = make(3, 2, 8, TALIO_FORMAT_GREY8);
    const UBYTE greys[] = {5, 6, 7};
    TALIO_SetBufferData(grey, 0, 1, 3, 1, 3, TALIO_PIXEL_GREY, greys);
    struct Case {
        ULONG code;
        Bytes fromColour, fromGrey; // of pixel 1 of row 1; 0xEE marks a byte left as it was
    };
    for (const Case& c :
         {Case{TALIO_PIXEL_RGB, {40, 50, 60}, {6, 6, 6}},
          Case{TALIO_PIXEL_RGBX, {40, 50, 60, 0xEE}, {6, 6, 6, 0xEE}},
          Case{TALIO_PIXEL_BGR, {60, 50, 40}, {6, 6, 6}},
          Case{TALIO_PIXEL_BGRX, {60, 50, 40, 0xEE}, {6, 6, 6, 0xEE}}, Case{TALIO_PIXEL_INDEX, {50}, {6}},
          Case{TALIO_PIXEL_RGBA, {40, 50, 60, 255}, {6, 6, 6, 255}},
          Case{TALIO_PIXEL_RGBA_INVERSE, {40, 50, 60, 0}, {6, 6, 6, 0}}}) {
        SCOPED_TRACE("code " + std::to_string(c.code));
        for (const auto& [buffer, expected] :
             {std::pair{colour, c.fromColour}, std::pair{grey, c.fromGrey}}) {
            Bytes out(expected.size(), 0xEE);
            ASSERT_EQ(TALIO_GetBufferData(buffer, 1, 1, 1, 1, 0, c.code, out.data()), 1u);
            EXPECT_EQ(out, expected);
        }
    }
    EXPECT_EQ(TALIO_GetBufferData(colour, 0, 0, 1, 1, 0, TALIO_PIXEL_GREY, Bytes(4).data()), 0u);
    EXPECT_EQ(TALIO_GetBufferData(colour, 2, 0, 2, 1, 0, TALIO_PIXEL_RGB, Bytes(8).data()), 0u);

    // With a transparency record: its picture inside its rectangle, transparent outside.
    static const UBYTE alphaRow[] = {77};
    static const UBYTE* const alphaRows[] = {alphaRow};
    testAlpha = {1, 1, 1, 1, alphaRows};
    TALIO__SetAlphaResolver(resolveTestAlpha);
    colour->source_image = reinterpret_cast<Tal_Image*>(colour); // any non-none record
    Bytes row(12);
    ASSERT_EQ(TALIO_GetBufferData(colour, 0, 1, 3, 1, 0, TALIO_PIXEL_RGBA, row.data()), 1u);
    EXPECT_EQ(row[3], 0);
    EXPECT_EQ(row[7], 77);
    EXPECT_EQ(row[11], 0);
    ASSERT_EQ(TALIO_GetBufferData(colour, 0, 1, 3, 1, 0, TALIO_PIXEL_RGBA_INVERSE, row.data()), 1u);
    EXPECT_EQ(row[3], 255);
    EXPECT_EQ(row[7], 255 - 77);
    TALIO__SetAlphaResolver(nullptr);
    TALIO_FreeBuffer(colour);
    TALIO_FreeBuffer(grey);
}

TEST_F(BufferTest, ConversionsToRgbPlanes) {
    auto expectPixels = [](const TALIO_ImageBuffer* out, const std::vector<std::vector<UBYTE>>& pixels) {
        ASSERT_NE(out, nullptr);
        EXPECT_EQ(out->format, TALIO_FORMAT_RGBPLANES);
        EXPECT_EQ(out->header, nullptr);
        for (ULONG i = 0; i < pixels.size(); i++) EXPECT_EQ(rgbAt(out, i, 0), pixels[i]) << "pixel " << i;
    };
    TALIO_ImageBuffer* grey = make(2, 1, 8, TALIO_FORMAT_GREY8);
    grey->grey[0] = 3, grey->grey[1] = 250;
    TALIO_ImageBuffer* out = TALIO_ConvertBufferFormat(grey, TALIO_FORMAT_RGBPLANES);
    expectPixels(out, {{3, 3, 3}, {250, 250, 250}});
    TALIO_FreeBuffer(out);

    TALIO_ImageBuffer* indexed = make(2, 1, 8, TALIO_FORMAT_INDEXED8);
    indexed->palette[4] = 0x00030201;
    indexed->indexed[0] = 4;
    out = TALIO_ConvertBufferFormat(indexed, TALIO_FORMAT_RGBPLANES);
    expectPixels(out, {{1, 2, 3}, {0, 0, 0}});
    EXPECT_EQ(out->palette[4], 0x00030201u);
    TALIO_FreeBuffer(out);
    EXPECT_EQ(TALIO_ConvertBufferFormat(indexed, TALIO_FORMAT_GREY8), nullptr);

    // Four planes: the first three are red, green and blue.
    TALIO_ImageBuffer* rgba = make(1, 1, 32, TALIO_FORMAT_RGBAPLANES);
    rgba->rgba[0][0] = 11, rgba->rgba[1][0] = 22, rgba->rgba[2][0] = 33, rgba->rgba[3][0] = 44;
    out = TALIO_ConvertBufferFormat(rgba, TALIO_FORMAT_RGBPLANES);
    expectPixels(out, {{11, 22, 33}});
    TALIO_FreeBuffer(out);

    TALIO_ImageBuffer* rgb24 = make(2, 1, 24, TALIO_FORMAT_RGB24);
    const UBYTE pixels[] = {1, 2, 3, 4, 5, 6};
    std::memcpy(rgb24->rgb24, pixels, 6);
    out = TALIO_ConvertBufferFormat(rgb24, TALIO_FORMAT_RGBPLANES);
    expectPixels(out, {{1, 2, 3}, {4, 5, 6}});
    TALIO_FreeBuffer(out);

    // Bitplanes with a palette: 2 planes, pixel values 0..3 across the row.
    TALIO_ImageBuffer* mapped = make(4, 1, 2, TALIO_FORMAT_BITPLANES);
    mapped->planes[0][0] = 0x50; // 0101 0000: pixels 1 and 3 have bit 0
    mapped->planes[1][0] = 0x30; // 0011 0000: pixels 2 and 3 have bit 1
    for (ULONG i = 0; i < 4; i++) mapped->palette[i] = i * 0x00010101 * 10;
    out = TALIO_ConvertBufferFormat(mapped, TALIO_FORMAT_RGBPLANES);
    expectPixels(out, {{0, 0, 0}, {10, 10, 10}, {20, 20, 20}, {30, 30, 30}});
    TALIO_FreeBuffer(out);

    for (TALIO_ImageBuffer* b : {grey, indexed, rgba, rgb24, mapped}) TALIO_FreeBuffer(b);
}

TEST_F(BufferTest, TrueColourBitplanesFillExactlyTheirRows) {
    // 24 planes, 17 pixels wide: plane rows of 4 bytes hold 32 pixels, the picture rows only 17.
    const ULONG width = 17, height = 3;
    TALIO_ImageBuffer* planar = make(width, height, 24, TALIO_FORMAT_BITPLANES);
    ASSERT_EQ(planar->bytes_per_row, 4u);
    auto setBit = [&](ULONG plane, ULONG x, ULONG y) {
        planar->planes[plane][y * planar->bytes_per_row + x / 8] |= UBYTE(0x80 >> (x % 8));
    };
    // Every plane row full of ones, also beyond the 17 pixels.
    for (ULONG p = 0; p < 24; p++)
        for (ULONG y = 0; y < height; y++) std::memset(planar->planes[p] + y * 4, 0xFF, 4);
    std::memset(planar->planes[0], 0, 4); // row 0 of red: only pixel 16 has bit 0
    setBit(0, 16, 0);
    TALIO_ImageBuffer* out = TALIO_ConvertBufferFormat(planar, TALIO_FORMAT_RGBPLANES);
    ASSERT_NE(out, nullptr);
    ASSERT_EQ(out->bytes_per_row, 24u);
    EXPECT_EQ(rgbAt(out, 16, 0), (std::vector<UBYTE>{255, 255, 255}));
    EXPECT_EQ(rgbAt(out, 15, 0), (std::vector<UBYTE>{254, 255, 255}));
    for (ULONG y = 0; y < height; y++)
        for (ULONG x = width; x < 24; x++) {
            EXPECT_EQ(out->red[y * 24 + x], 0) << x << "," << y;
            EXPECT_EQ(out->blue[y * 24 + x], 0) << x << "," << y;
        }
    TALIO_FreeBuffer(out);
    TALIO_FreeBuffer(planar);
}

TEST_F(BufferTest, LayersAndWhatABufferOwns) {
    TALIO_ImageBuffer* b = make(4, 4, 24, TALIO_FORMAT_RGBPLANES);
    EXPECT_EQ(b->level, 255u);
    TALIO_ImageBuffer* plain = TALIO_AddLayer(b, 4, 4, 8, TALIO_FORMAT_GREY8, 1, 0);
    TALIO_ImageBuffer* withAlpha = TALIO_AddLayer(b, 2, 2, 24, TALIO_FORMAT_RGBPLANES, 2, 0);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(withAlpha, nullptr);
    EXPECT_EQ(plain->alpha, nullptr);
    ASSERT_NE(withAlpha->alpha, nullptr);
    EXPECT_EQ(withAlpha->alpha->format, TALIO_FORMAT_GREY8);
    EXPECT_EQ(withAlpha->alpha->width, 2u);
    EXPECT_EQ(TALIO_AddLayer(b, 4, 4, 8, TALIO_FORMAT_GREY8, 3, 0), nullptr);
    EXPECT_EQ(ListCount(&b->layers), 2u);
    b->mask = make(4, 4, 8, TALIO_FORMAT_GREY8);
    b->header = static_cast<TALIO_Header*>(Tal_AllocMemClear(sizeof(TALIO_Header)));
    b->header->extra = Tal_AllocMemClear(sizeof(TALIO_IPTCInfo));
    b->placement = static_cast<UBYTE*>(Tal_AllocMemClear(40));
    b->mode_object = Tal_CreateObject("Root");
    // The leak checker sees anything left over.
    TALIO_FreeBuffer(b);
    TALIO_FreeBuffer(nullptr);
    TALIO_FreeBufferMem(nullptr);
}

TEST_F(BufferTest, StreamValuesInBothByteOrders) {
    UBYTE bytes[] = {1, 2, 3, 4, 5, 6, 7};
    TALIO_Header h{};
    h.stream = fmemopen(bytes, sizeof bytes, "rb");
    ULONG value = 0;
    UWORD word = 0;
    UBYTE byte = 0;
    ASSERT_EQ(TALIO_ReadULONG(&value, &h), 1u);
    EXPECT_EQ(value, 0x04030201u);
    h.swap_bytes = 1;
    ASSERT_EQ(TALIO_ReadUWORD(&word, &h), 1u);
    EXPECT_EQ(word, 0x0506);
    ASSERT_EQ(TALIO_ReadUBYTE(&byte, &h), 1u);
    EXPECT_EQ(byte, 7);
    EXPECT_EQ(TALIO_ReadULONG(&value, &h), 0u); // end of the stream
    ASSERT_EQ(TALIO_Seek(&h, 0, 0), 0);
    ASSERT_EQ(TALIO_ReadULONG(&value, &h), 1u);
    EXPECT_EQ(value, 0x01020304u);
    std::fclose(h.stream);

    char* text = nullptr;
    size_t size = 0;
    h.stream = open_memstream(&text, &size);
    h.swap_bytes = 0;
    TALIO_WriteULONG(0x11223344, &h);
    h.swap_bytes = 1;
    TALIO_WriteUWORD(0x5566, &h);
    TALIO_WriteUBYTE(0x77, &h);
    std::fclose(h.stream);
    EXPECT_EQ(Bytes(text, text + size), (Bytes{0x44, 0x33, 0x22, 0x11, 0x55, 0x66, 0x77}));
    std::free(text);
    EXPECT_EQ(TALIO_ReadData(&byte, 1, 1, nullptr), 0u);
}

TEST_F(BufferTest, SeeksReachBeyondFourGigabytes) {
    const fs::path file = path("sparse");
    const int64_t far = (int64_t(1) << 32) + 10;
    {
        FILE* f = std::fopen(file.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(fseeko(f, off_t(far), SEEK_SET), 0);
        std::fputc('X', f);
        std::fclose(f);
    }
    TALIO_Header h{};
    h.stream = std::fopen(file.c_str(), "rb");
    ASSERT_EQ(TALIO_Seek(&h, far, 0), 0);
    UBYTE byte = 0;
    ASSERT_EQ(TALIO_ReadUBYTE(&byte, &h), 1u);
    EXPECT_EQ(byte, 'X');
    ASSERT_EQ(TALIO_Seek(&h, -far - 1, 1), 0);
    EXPECT_EQ(ftello(h.stream), 0);
    EXPECT_EQ(TALIO_Seek(&h, -1, 0), -1);
    std::fclose(h.stream);
    fs::remove(file);
}

TEST_F(BufferTest, EachHeaderHasItsOwnReadAhead) {
    Bytes first(3000), second(3000);
    for (size_t i = 0; i < first.size(); i++) first[i] = UBYTE(i * 7), second[i] = UBYTE(i * 13 + 1);
    writeFile(path("first"), first);
    writeFile(path("second"), second);
    TALIO_Header a{}, b{};
    a.stream = std::fopen(path("first").c_str(), "rb");
    b.stream = std::fopen(path("second").c_str(), "rb");
    // Requests of every size, taken in turns from the two files: small ones from the buffer, ones across
    // its end, large ones straight from the stream.
    Bytes gotA, gotB;
    for (size_t n : {1, 100, 1000, 600, 3, 700, 1024, 2000}) {
        Bytes chunk(n);
        gotA.insert(gotA.end(), chunk.begin(),
                    chunk.begin() + long(TALIO_ReadBuffered(chunk.data(), int64_t(n), &a)));
        gotB.insert(gotB.end(), chunk.begin(),
                    chunk.begin() + long(TALIO_ReadBuffered(chunk.data(), int64_t(n), &b)));
    }
    EXPECT_EQ(gotA, first);
    EXPECT_EQ(gotB, second);
    // A seek forgets what was read ahead.
    TALIO_Seek(&a, 10, 0);
    UBYTE byte = 0;
    ASSERT_EQ(TALIO_ReadBuffered(&byte, 1, &a), 1u);
    EXPECT_EQ(byte, first[10]);
    TALIO_ReadBuffered(nullptr, -1, &a);
    TALIO_ReadBuffered(nullptr, -1, &b);
    EXPECT_EQ(a.reader, nullptr);
    std::fclose(a.stream);
    std::fclose(b.stream);
}

int progressCalls = 0;
ULONG countingProgress(Tal_ProgressDisplay*, ULONG value, ULONG total) {
    progressCalls++;
    return value < total ? 1 : 0;
}

TEST_F(BufferTest, ProgressStepsAndCancelling) {
    EXPECT_EQ(TALIO_ProgressStep(100), 32u);
    EXPECT_EQ(TALIO_ProgressStep(660), 33u);
    EXPECT_EQ(TALIO_ProgressStep(2000), 100u);
    TALIO_Header h{};
    EXPECT_EQ(TALIO_SetProgressDisplay(&h, 1, 10), 1u);
    SetSignal(SIGBREAKF_CTRL_C, SIGBREAKF_CTRL_C);
    EXPECT_EQ(TALIO_SetProgressDisplay(&h, 1, 10), 0u);
    SetSignal(0, SIGBREAKF_CTRL_C);
    static const TALIO_ProgressHooks hooks{nullptr, countingProgress, nullptr};
    TALIO__SetProgressHooks(&hooks);
    EXPECT_EQ(TALIO_SetProgressDisplay(&h, 1, 10), 1u);
    EXPECT_EQ(TALIO_SetProgressDisplay(&h, 10, 10), 0u);
    EXPECT_EQ(progressCalls, 2);
    TALIO__SetProgressHooks(nullptr);
}

} // namespace
