// The start picture: the JPEG the generator drew, decoded into the rows of a built-in picture.
#include "app/SplashPicture.h"

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

// Base64 without line breaks; false on any other character or a cut-off group.
bool decodeBase64(const char* text, std::vector<UBYTE>& out) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    uint32_t bits = 0;
    int count = 0, padding = 0;
    for (const char* p = text; *p; p++) {
        if (*p == '=') {
            padding++;
            continue;
        }
        const int v = value(*p);
        if (v < 0 || padding) return false;
        bits = (bits << 6) | uint32_t(v);
        if (++count == 4) {
            out.insert(out.end(), {UBYTE(bits >> 16), UBYTE(bits >> 8), UBYTE(bits)});
            bits = 0;
            count = 0;
        }
    }
    if (count == 2 && padding == 2)
        out.push_back(UBYTE(bits >> 4));
    else if (count == 3 && padding == 1)
        out.insert(out.end(), {UBYTE(bits >> 10), UBYTE(bits >> 2)});
    else if (count != 0 || padding != 0)
        return false;
    return true;
}

// The library reports fatal errors through this: back to the decoder, which gives up.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void fail(j_common_ptr info) {
    std::longjmp(reinterpret_cast<ErrorManager*>(info->err)->jump, 1);
}
void quiet(j_common_ptr) {}

// Decodes into `pixels`: rows of blue, green and red, bytesPerRow apart. No objects with destructors may
// live between the setjmp and a longjmp, so the rows come from the caller.
bool decodeJpeg(const std::vector<UBYTE>& file, UBYTE* pixels, LONG bytesPerRow) {
    jpeg_decompress_struct info;
    ErrorManager errors;
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = fail;
    errors.base.output_message = quiet;
    jpeg_create_decompress(&info);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_mem_src(&info, file.data(), static_cast<unsigned long>(file.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_width != JDIMENSION(TAL_SPLASH_WIDTH) ||
        info.output_height != JDIMENSION(TAL_SPLASH_HEIGHT) || info.output_components != 3) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    UBYTE line[TAL_SPLASH_WIDTH * 3];
    while (info.output_scanline < info.output_height) {
        const LONG y = LONG(info.output_scanline);
        JSAMPROW row = line;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) break;
        UBYTE* out = pixels + size_t(y) * size_t(bytesPerRow);
        for (LONG x = 0; x < TAL_SPLASH_WIDTH; x++) {
            out[3 * x] = line[3 * x + 2];
            out[3 * x + 1] = line[3 * x + 1];
            out[3 * x + 2] = line[3 * x];
        }
    }
    const bool complete = info.output_scanline == info.output_height;
    if (complete) jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return complete;
}

struct Splash {
    std::vector<UBYTE> pixels;
    Tal_BuiltInPicture record{};
    bool ok = false;
};

Splash decode() {
    Splash s;
    constexpr LONG bytesPerRow = TAL_SPLASH_WIDTH * 3; // 720: already a multiple of 4
    std::vector<UBYTE> file;
    s.pixels.assign(size_t(bytesPerRow) * TAL_SPLASH_HEIGHT, 0);
    if (!decodeBase64(Tal__SplashPictureData, file) || !decodeJpeg(file, s.pixels.data(), bytesPerRow)) {
        KPrintF("the start picture cannot be decoded\n");
        return s;
    }
    // A pixel that happened to come out in the key colour would show through: nudge it.
    const ULONG key = TAL_BUILTIN_KEY_COLOUR;
    for (size_t i = 0; i + 2 < s.pixels.size(); i += 3)
        if (s.pixels[i] == UBYTE(key >> 16) && s.pixels[i + 1] == UBYTE(key >> 8) &&
            s.pixels[i + 2] == UBYTE(key))
            s.pixels[i] ^= 1;
    s.record = {"Data/Images/Splash", TAL_SPLASH_WIDTH, TAL_SPLASH_HEIGHT, s.pixels.data(), bytesPerRow};
    s.ok = true;
    return s;
}

} // namespace

const Tal_BuiltInPicture* Tal__SplashPicture() {
    static const Splash splash = decode();
    return splash.ok ? &splash.record : nullptr;
}
