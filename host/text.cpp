// Fonts: faces found through fontconfig, glyphs rendered by FreeType and cached per font.
#include "host/graphics.h"
#include "host/host.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_DRIVER_H
#include FT_MODULE_H
#include FT_OUTLINE_H
#include FT_SYNTHESIS_H

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr LONG kInterfaceFontSize = 11;
constexpr const char* kInterfaceFamily = "DejaVu Sans";

struct GlyphSlot {
    host_Glyph glyph{};
    std::vector<UBYTE> coverage;
};

// The FreeType library and the open faces: FT_New_Face and FT_Done_Face must not run concurrently.
std::mutex g_libraryLock;
FT_Library g_library = nullptr;
LONG g_fontCount = 0; // open fonts; the library goes with the last

std::mutex g_interfaceLock;
host_Font* g_interfaceFont = nullptr;
bool g_interfaceTried = false;

} // namespace

// A face at one size. A face renders one glyph at a time, so the lock covers loading glyphs into the
// cache; cached glyphs never change and live as long as the font.
struct host_Font {
    FT_Face face = nullptr;
    ULONG style = 0;
    bool synthBold = false, synthItalic = false;
    LONG ascent = 0, descent = 0;
    LONG underlinePosition = 0, underlineThickness = 1; // below the baseline
    std::mutex lock;
    std::array<std::unique_ptr<GlyphSlot>, 256> glyphs;
    std::array<bool, 256> tried{};
};

namespace {

// The file of the best face for a family and style; the sans family when the name has no match.
std::string findFontFile(const char* family, ULONG style, int* index, bool* isBold, bool* isItalic) {
    std::string result;
    if (!FcInit()) return result;
    for (const char* name : {family, "sans-serif"}) {
        FcPattern* pattern = FcPatternCreate();
        if (!pattern) break;
        FcPatternAddString(pattern, FC_FAMILY, reinterpret_cast<const FcChar8*>(name));
        FcPatternAddInteger(pattern, FC_WEIGHT,
                            (style & HOST_FONT_BOLD) ? FC_WEIGHT_BOLD : FC_WEIGHT_REGULAR);
        FcPatternAddInteger(pattern, FC_SLANT, (style & HOST_FONT_ITALIC) ? FC_SLANT_ITALIC : FC_SLANT_ROMAN);
        FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult res = FcResultNoMatch;
        FcPattern* match = FcFontMatch(nullptr, pattern, &res);
        FcPatternDestroy(pattern);
        if (!match) continue;
        // fontconfig always answers something; take it only when the family is what was asked for, or
        // when this is already the fallback.
        FcChar8* matchedFamily = nullptr;
        bool familyOk = name != family;
        for (int i = 0; !familyOk && FcPatternGetString(match, FC_FAMILY, i, &matchedFamily) == FcResultMatch;
             i++)
            familyOk = FcStrCmpIgnoreCase(matchedFamily, reinterpret_cast<const FcChar8*>(family)) == 0;
        FcChar8* file = nullptr;
        int weight = FC_WEIGHT_REGULAR, slant = FC_SLANT_ROMAN;
        FcPatternGetInteger(match, FC_WEIGHT, 0, &weight);
        FcPatternGetInteger(match, FC_SLANT, 0, &slant);
        if (familyOk && FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
            result = reinterpret_cast<const char*>(file);
            if (FcPatternGetInteger(match, FC_INDEX, 0, index) != FcResultMatch) *index = 0;
            *isBold = weight >= FC_WEIGHT_DEMIBOLD;
            *isItalic = slant != FC_SLANT_ROMAN;
        }
        FcPatternDestroy(match);
        if (!result.empty()) break;
    }
    return result;
}

LONG ceil26(FT_Pos v) {
    return LONG((v + 63) >> 6);
}

// Renders a glyph into its slot; the font's lock is held.
std::unique_ptr<GlyphSlot> renderGlyph(host_Font* font, UBYTE ch) {
    FT_Face face = font->face;
    const FT_UInt index = FT_Get_Char_Index(face, ch);
    if (index == 0) return nullptr;
    if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT | FT_LOAD_TARGET_NORMAL)) return nullptr;
    FT_GlyphSlot slot = face->glyph;
    if (font->synthItalic && slot->format == FT_GLYPH_FORMAT_OUTLINE) FT_GlyphSlot_Oblique(slot);
    if (font->synthBold) FT_GlyphSlot_Embolden(slot);
    if (FT_Render_Glyph(slot, FT_RENDER_MODE_NORMAL)) return nullptr;
    auto out = std::make_unique<GlyphSlot>();
    const FT_Bitmap& bm = slot->bitmap;
    out->glyph.width = LONG(bm.width);
    out->glyph.height = LONG(bm.rows);
    out->glyph.pitch = LONG(bm.width);
    out->glyph.left = slot->bitmap_left;
    out->glyph.top = slot->bitmap_top;
    out->glyph.advance = LONG((slot->advance.x + 32) >> 6);
    out->coverage.resize(size_t(bm.width) * bm.rows);
    for (unsigned r = 0; r < bm.rows; r++) {
        const UBYTE* src = bm.buffer + ptrdiff_t(r) * bm.pitch;
        UBYTE* dst = out->coverage.data() + size_t(r) * bm.width;
        if (bm.pixel_mode == FT_PIXEL_MODE_GRAY) {
            std::copy_n(src, bm.width, dst);
        } else if (bm.pixel_mode == FT_PIXEL_MODE_MONO) {
            for (unsigned c = 0; c < bm.width; c++) dst[c] = (src[c >> 3] & (0x80 >> (c & 7))) ? 255 : 0;
        }
    }
    out->glyph.coverage = out->coverage.empty() ? nullptr : out->coverage.data();
    return out;
}

void closeFace(FT_Face face) {
    std::lock_guard guard(g_libraryLock);
    if (face) FT_Done_Face(face);
    if (--g_fontCount == 0 && g_library) {
        FT_Done_FreeType(g_library);
        g_library = nullptr;
    }
}

} // namespace

host_Font* host_OpenFont(const char* name, LONG pixelSize, ULONG style) {
    if (!name || !*name || pixelSize < 1 || pixelSize > 2048) return nullptr;
    int index = 0;
    bool isBold = false, isItalic = false;
    const std::string file = findFontFile(name, style, &index, &isBold, &isItalic);
    if (file.empty()) return nullptr;

    auto font = std::make_unique<host_Font>();
    {
        std::lock_guard guard(g_libraryLock);
        if (!g_library) {
            if (FT_Init_FreeType(&g_library)) {
                g_library = nullptr;
                return nullptr;
            }
            // The classic TrueType hinting snaps stems to whole pixels in both directions: small
            // interface text is crisp at 1:1 (the newer interpreter keeps horizontal positions soft).
            FT_UInt version = TT_INTERPRETER_VERSION_35;
            FT_Property_Set(g_library, "truetype", "interpreter-version", &version);
        }
        g_fontCount++;
        if (FT_New_Face(g_library, file.c_str(), index, &font->face)) font->face = nullptr;
    }
    if (!font->face || FT_Set_Pixel_Sizes(font->face, 0, FT_UInt(pixelSize))) {
        closeFace(font->face);
        return nullptr;
    }
    font->style = style;
    font->synthBold = (style & HOST_FONT_BOLD) && !isBold;
    font->synthItalic = (style & HOST_FONT_ITALIC) && !isItalic;
    const FT_Size_Metrics& m = font->face->size->metrics;
    font->ascent = ceil26(m.ascender);
    font->descent = ceil26(-m.descender);
    if (FT_IS_SCALABLE(font->face)) {
        const FT_Fixed scale = m.y_scale;
        font->underlinePosition =
            std::max<LONG>(1, LONG(-FT_MulFix(font->face->underline_position, scale) >> 6));
        font->underlineThickness =
            std::max<LONG>(1, LONG((FT_MulFix(font->face->underline_thickness, scale) + 32) >> 6));
    }
    return font.release();
}

void host_CloseFont(host_Font* font) {
    if (!font) return;
    {
        std::lock_guard guard(g_interfaceLock);
        if (font == g_interfaceFont) return; // owned by graphics start-up
    }
    closeFace(font->face);
    delete font;
}

host_Font* host_InterfaceFont() {
    std::lock_guard guard(g_interfaceLock);
    if (!g_interfaceFont && !g_interfaceTried) {
        g_interfaceTried = true;
        g_interfaceFont = host_OpenFont(kInterfaceFamily, kInterfaceFontSize, 0);
        if (!g_interfaceFont)
            KPrintF("graphics: no font found for the interface (install fonts-dejavu-core)\n");
    }
    return g_interfaceFont;
}

// Releases the interface font (the last cleanup_graphics); the next use opens it again.
void host__ReleaseInterfaceFont() {
    host_Font* font;
    {
        std::lock_guard guard(g_interfaceLock);
        font = g_interfaceFont;
        g_interfaceFont = nullptr;
        g_interfaceTried = false;
    }
    if (font) {
        closeFace(font->face);
        delete font;
    }
}

LONG host_FontHeight(const host_Font* font) {
    return font ? font->ascent + font->descent : 0;
}
LONG host_FontAscent(const host_Font* font) {
    return font ? font->ascent : 0;
}

const host_Glyph* host_FontGlyph(host_Font* font, UBYTE ch) {
    if (!font) return nullptr;
    std::lock_guard guard(font->lock);
    if (!font->tried[ch]) {
        font->tried[ch] = true;
        font->glyphs[ch] = renderGlyph(font, ch);
    }
    return font->glyphs[ch] ? &font->glyphs[ch]->glyph : nullptr;
}

LONG host_FontTextWidth(host_Font* font, const char* text, ULONG length) {
    if (!font || !text) return 0;
    LONG width = 0;
    for (ULONG i = 0; i < length; i++)
        if (const host_Glyph* g = host_FontGlyph(font, UBYTE(text[i]))) width += g->advance;
    return width;
}

LONG host_RenderTextCoverage(host_Font* font, const char* text, ULONG length, UBYTE* image, LONG width,
                             LONG height, LONG bytesPerRow, LONG x, LONG y) {
    if (!font || !text || !image || width <= 0 || height <= 0 || bytesPerRow < width) return 0;
    auto add = [&](LONG px, LONG py, UBYTE c) {
        if (px < 0 || py < 0 || px >= width || py >= height || c == 0) return;
        UBYTE& d = image[size_t(py) * size_t(bytesPerRow) + size_t(px)];
        d = UBYTE(std::min(255, d + c));
    };
    const LONG baseline = y + font->ascent;
    LONG penX = x;
    for (ULONG i = 0; i < length; i++) {
        const host_Glyph* g = host_FontGlyph(font, UBYTE(text[i]));
        if (!g) continue;
        for (LONG r = 0; r < g->height; r++)
            for (LONG c = 0; c < g->width; c++)
                add(penX + g->left + c, baseline - g->top + r, g->coverage[r * g->pitch + c]);
        penX += g->advance;
    }
    if (font->style & HOST_FONT_UNDERLINE)
        for (LONG t = 0; t < font->underlineThickness; t++)
            for (LONG px = x; px < penX; px++) add(px, baseline + font->underlinePosition + t, 255);
    return penX - x;
}
