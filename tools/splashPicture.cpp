// Draws the start picture (built-in picture 160, 240 × 267: the splash window and the backdrop of the start
// window, whose three buttons cover its top third) and writes it as the source file
// app/SplashPictureData.cpp: a JPEG in a text literal, which app/SplashPicture.cpp decodes once when the
// picture is first shown.
//
// Usage: splashPicture BOLD.ttf BOOK.ttf OUTPUT.cpp [PREVIEW.ppm]
//
// The source file is checked in; run this after changing the picture:
//   c++ -std=c++20 -O2 tools/splashPicture.cpp $(pkg-config --cflags --libs freetype2 libjpeg)
//       -o /tmp/splashPicture
//   /tmp/splashPicture "$(fc-match -f '%{file}' 'DejaVu Sans:bold')"
//       "$(fc-match -f '%{file}' 'DejaVu Sans')" app/SplashPictureData.cpp
//
// Everything is drawn four times larger and then averaged down, so edges are smooth at 1:1.
#include "jpegFile.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <ft2build.h>
#include FT_FREETYPE_H

namespace {

constexpr int kWidth = 240, kHeight = 267, kScale = 4;
constexpr int kW = kWidth * kScale, kH = kHeight * kScale;

struct Rgb {
    float r, g, b;
};

Rgb mix(Rgb a, Rgb b, float t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

struct Canvas {
    std::vector<Rgb> pixels = std::vector<Rgb>(size_t(kW) * kH);
    Rgb& at(int x, int y) { return pixels[size_t(y) * kW + size_t(x)]; }
    // Paints colour over the pixel with coverage a (0..1).
    void blend(int x, int y, Rgb c, float a) {
        if (x < 0 || y < 0 || x >= kW || y >= kH || a <= 0) return;
        Rgb& p = at(x, y);
        p = mix(p, c, std::min(a, 1.0f));
    }
};

// Small deterministic noise, so that the picture is the same on every run.
float hash(int x, int y) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
}

float smooth(float e0, float e1, float x) {
    float t = std::clamp((x - e0) / (e1 - e0), 0.0f, 1.0f);
    return t * t * (3 - 2 * t);
}

// ---------------------------------------------------------------------------------------------------
// The scene. Coordinates below are in picture pixels; drawing happens at kScale.

void background(Canvas& c) {
    const Rgb top{18, 30, 68}, middle{48, 34, 98}, bottom{92, 36, 92};
    for (int y = 0; y < kH; y++) {
        float t = float(y) / float(kH - 1);
        Rgb row = t < 0.55f ? mix(top, middle, t / 0.55f) : mix(middle, bottom, (t - 0.55f) / 0.45f);
        for (int x = 0; x < kW; x++) {
            // A soft light behind the name, and darker corners.
            float dx = (float(x) / kScale - 120) / 130, dy = (float(y) / kScale - 182) / 95;
            float glow = std::exp(-(dx * dx + dy * dy) * 1.6f);
            float vx = float(x) / kW - 0.5f, vy = float(y) / kH - 0.5f;
            float vignette = 1 - 0.35f * (vx * vx + vy * vy) * 2.2f;
            Rgb p = mix(row, Rgb{150, 110, 200}, 0.30f * glow);
            c.at(x, y) = {p.r * vignette, p.g * vignette, p.b * vignette};
        }
    }
}

struct Point {
    float x, y;
};

Point bezier(Point a, Point b, Point c, Point d, float t) {
    float u = 1 - t;
    float w0 = u * u * u, w1 = 3 * u * u * t, w2 = 3 * u * t * t, w3 = t * t * t;
    return {a.x * w0 + b.x * w1 + c.x * w2 + d.x * w3, a.y * w0 + b.y * w1 + c.y * w2 + d.y * w3};
}

// A brush stroke along a cubic curve: full width in the middle, tapering to both ends, with the streaks of
// single bristles (lighter and darker lines along the stroke) and a little dry-brush break-up at its tail.
void stroke(Canvas& c, Point a, Point b, Point d, Point e, float width, Rgb colour, float opacity, int seed) {
    constexpr int kSteps = 1400;
    std::vector<Point> path(kSteps + 1);
    for (int i = 0; i <= kSteps; i++) {
        Point p = bezier(a, b, d, e, float(i) / kSteps);
        path[size_t(i)] = {p.x * kScale, p.y * kScale};
    }
    // For every pixel near the path: the nearest point gives the position along the stroke (t) and across
    // it (s, -1..1).
    float minX = 1e9f, minY = 1e9f, maxX = -1e9f, maxY = -1e9f;
    for (Point p : path) {
        minX = std::min(minX, p.x), maxX = std::max(maxX, p.x);
        minY = std::min(minY, p.y), maxY = std::max(maxY, p.y);
    }
    const float half = width * kScale / 2;
    for (int y = std::max(0, int(minY - half - 2)); y < std::min(kH, int(maxY + half + 2)); y++)
        for (int x = std::max(0, int(minX - half - 2)); x < std::min(kW, int(maxX + half + 2)); x++) {
            float best = 1e18f;
            int bestI = 0;
            for (int i = 0; i <= kSteps; i += 4) {
                float dx = path[size_t(i)].x - float(x), dy = path[size_t(i)].y - float(y);
                float d2 = dx * dx + dy * dy;
                if (d2 < best) best = d2, bestI = i;
            }
            for (int i = std::max(0, bestI - 4); i <= std::min(kSteps, bestI + 4); i++) {
                float dx = path[size_t(i)].x - float(x), dy = path[size_t(i)].y - float(y);
                float d2 = dx * dx + dy * dy;
                if (d2 < best) best = d2, bestI = i;
            }
            const float t = float(bestI) / kSteps;
            const float taper =
                std::pow(std::sin(3.14159f * std::clamp(t * 0.92f + 0.04f, 0.0f, 1.0f)), 0.55f);
            const float w = half * taper;
            const float dist = std::sqrt(best);
            if (w <= 0.5f || dist > w + 1) continue;
            // Which side: the sign of the cross product with the direction of travel.
            Point p0 = path[size_t(std::max(0, bestI - 1))], p1 = path[size_t(std::min(kSteps, bestI + 1))];
            float cross = (p1.x - p0.x) * (float(y) - p0.y) - (p1.y - p0.y) * (float(x) - p0.x);
            float s = (cross < 0 ? -dist : dist) / w; // -1..1 across
            float edge = std::clamp(w + 0.5f - dist, 0.0f, 1.0f);
            // Bristles: a value per lane across the stroke, smoothed between lanes.
            float lane = (s + 1) * 26 + float(seed) * 7;
            int l0 = int(std::floor(lane));
            float f = lane - float(l0);
            float bristle = hash(l0, seed) * (1 - f) + hash(l0 + 1, seed) * f;
            float shade = 0.82f + 0.30f * bristle - 0.10f * s; // lit from above
            // Towards the end the brush runs dry: more and more bristles leave gaps.
            float thinning = std::clamp((t - 0.72f) / 0.28f, 0.0f, 1.0f) * 1.15f;
            float dry = smooth(thinning - 0.12f, thinning + 0.12f, hash(l0, seed + 17));
            float alpha = opacity * edge * dry * (0.80f + 0.20f * bristle);
            c.blend(x, y, Rgb{colour.r * shade, colour.g * shade, colour.b * shade}, alpha);
        }
}

void dot(Canvas& c, float cx, float cy, float radius, Rgb colour, float opacity) {
    const float r = radius * kScale;
    const float x0 = cx * kScale, y0 = cy * kScale;
    for (int y = int(y0 - r - 2); y <= int(y0 + r + 2); y++)
        for (int x = int(x0 - r - 2); x <= int(x0 + r + 2); x++) {
            float d = std::hypot(float(x) - x0, float(y) - y0);
            float a = std::clamp(r + 0.5f - d, 0.0f, 1.0f);
            float light = 1.0f + 0.25f * std::clamp((y0 - float(y)) / r, -1.0f, 1.0f);
            c.blend(x, y, Rgb{colour.r * light, colour.g * light, colour.b * light}, a * opacity);
        }
}

// ---------------------------------------------------------------------------------------------------
// Lettering.

struct Coverage {
    int width = 0, height = 0;
    std::vector<float> a;
    float at(int x, int y) const {
        if (x < 0 || y < 0 || x >= width || y >= height) return 0;
        return a[size_t(y) * width + size_t(x)];
    }
};

// The text's coverage at the given pixel size (already scaled), tightly cropped; the baseline lies
// `ascent` below its top.
Coverage render(FT_Library library, const char* fontFile, const char* text, int pixelSize, int* ascent) {
    FT_Face face;
    if (FT_New_Face(library, fontFile, 0, &face) || FT_Set_Pixel_Sizes(face, 0, FT_UInt(pixelSize))) {
        std::fprintf(stderr, "splashPicture: cannot open the font %s\n", fontFile);
        std::exit(1);
    }
    // Lay out with kerning, then draw.
    int penX = 0, top = 0, bottom = 0;
    FT_UInt previous = 0;
    struct Glyph {
        int x, y, w, h;
        std::vector<uint8_t> bits;
    };
    std::vector<Glyph> glyphs;
    for (const char* p = text; *p; p++) {
        FT_UInt index = FT_Get_Char_Index(face, FT_ULong(uint8_t(*p)));
        if (previous && index && FT_HAS_KERNING(face)) {
            FT_Vector k;
            FT_Get_Kerning(face, previous, index, FT_KERNING_DEFAULT, &k);
            penX += int(k.x >> 6);
        }
        previous = index;
        if (FT_Load_Glyph(face, index, FT_LOAD_DEFAULT) ||
            FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL))
            continue;
        const FT_Bitmap& bm = face->glyph->bitmap;
        Glyph g{penX + face->glyph->bitmap_left, -face->glyph->bitmap_top, int(bm.width), int(bm.rows), {}};
        for (unsigned r = 0; r < bm.rows; r++)
            g.bits.insert(g.bits.end(), bm.buffer + r * bm.pitch, bm.buffer + r * bm.pitch + bm.width);
        top = std::min(top, g.y);
        bottom = std::max(bottom, g.y + g.h);
        glyphs.push_back(std::move(g));
        penX += int(face->glyph->advance.x >> 6);
    }
    Coverage out;
    out.width = penX + 2;
    out.height = bottom - top;
    out.a.assign(size_t(out.width) * out.height, 0);
    for (const Glyph& g : glyphs)
        for (int y = 0; y < g.h; y++)
            for (int x = 0; x < g.w; x++) {
                int ox = g.x + x, oy = g.y - top + y;
                if (ox < 0 || ox >= out.width) continue;
                float& d = out.a[size_t(oy) * out.width + size_t(ox)];
                d = std::min(1.0f, d + g.bits[size_t(y) * g.w + size_t(x)] / 255.0f);
            }
    *ascent = -top;
    FT_Done_Face(face);
    return out;
}

// A box blur of the coverage in both directions, for shadows.
Coverage blur(const Coverage& in, int radius) {
    Coverage tmp = in, out = in;
    const float n = float(2 * radius + 1);
    for (int y = 0; y < in.height; y++)
        for (int x = 0; x < in.width; x++) {
            float sum = 0;
            for (int k = -radius; k <= radius; k++) sum += in.at(x + k, y);
            tmp.a[size_t(y) * in.width + size_t(x)] = sum / n;
        }
    for (int y = 0; y < in.height; y++)
        for (int x = 0; x < in.width; x++) {
            float sum = 0;
            for (int k = -radius; k <= radius; k++) sum += tmp.at(x, y + k);
            out.a[size_t(y) * in.width + size_t(x)] = sum / n;
        }
    return out;
}

// Draws coverage with its left edge at x and its top at y (canvas pixels); the colour may vary by row
// (t = 0 at the top of the text, 1 at the bottom).
template <typename ColourOf>
void paint(Canvas& c, const Coverage& cov, int x, int y, float opacity, ColourOf colourOf) {
    for (int j = 0; j < cov.height; j++) {
        Rgb colour = colourOf(float(j) / float(std::max(1, cov.height - 1)));
        for (int i = 0; i < cov.width; i++) c.blend(x + i, y + j, colour, cov.at(i, j) * opacity);
    }
}

// Lettering centred on cx with its baseline at baseline (picture pixels), with a soft shadow.
void lettering(Canvas& c, FT_Library library, const char* font, const char* text, int size, float cx,
               float baseline, Rgb topColour, Rgb bottomColour, float shadow) {
    int ascent = 0;
    Coverage cov = render(library, font, text, size * kScale, &ascent);
    const int x = int(cx * kScale) - cov.width / 2;
    const int y = int(baseline * kScale) - ascent;
    if (shadow > 0) {
        // Pad the coverage so that the blur can spread beyond the letters.
        const int pad = 4 * kScale;
        Coverage padded;
        padded.width = cov.width + 2 * pad;
        padded.height = cov.height + 2 * pad;
        padded.a.assign(size_t(padded.width) * padded.height, 0);
        for (int j = 0; j < cov.height; j++)
            for (int i = 0; i < cov.width; i++)
                padded.a[size_t(j + pad) * padded.width + size_t(i + pad)] = cov.at(i, j);
        Coverage soft = blur(blur(padded, 2 * kScale), kScale);
        paint(c, soft, x - pad + kScale, y - pad + 2 * kScale, shadow, [](float) { return Rgb{10, 6, 24}; });
    }
    paint(c, cov, x, y, 1.0f, [&](float t) { return mix(topColour, bottomColour, t); });
}

// ---------------------------------------------------------------------------------------------------
// Output.

std::vector<uint8_t> downsample(const Canvas& c) {
    std::vector<uint8_t> rgb(size_t(kWidth) * kHeight * 3);
    for (int y = 0; y < kHeight; y++)
        for (int x = 0; x < kWidth; x++) {
            Rgb sum{0, 0, 0};
            for (int j = 0; j < kScale; j++)
                for (int i = 0; i < kScale; i++) {
                    const Rgb& p = c.pixels[size_t(y * kScale + j) * kW + size_t(x * kScale + i)];
                    sum = {sum.r + p.r, sum.g + p.g, sum.b + p.b};
                }
            const float n = kScale * kScale;
            uint8_t* o = &rgb[(size_t(y) * kWidth + size_t(x)) * 3];
            o[0] = uint8_t(std::clamp(std::lround(sum.r / n), 0L, 255L));
            o[1] = uint8_t(std::clamp(std::lround(sum.g / n), 0L, 255L));
            o[2] = uint8_t(std::clamp(std::lround(sum.b / n), 0L, 255L));
        }
    return rgb;
}

std::string base64(const std::vector<uint8_t>& data) {
    static const char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < data.size(); i += 3) {
        uint32_t v = uint32_t(data[i]) << 16;
        if (i + 1 < data.size()) v |= uint32_t(data[i + 1]) << 8;
        if (i + 2 < data.size()) v |= data[i + 2];
        out += digits[(v >> 18) & 63];
        out += digits[(v >> 12) & 63];
        out += i + 1 < data.size() ? digits[(v >> 6) & 63] : '=';
        out += i + 2 < data.size() ? digits[v & 63] : '=';
    }
    return out;
}

bool writeSource(const char* path, const std::vector<uint8_t>& jpegBytes) {
    const std::string text = base64(jpegBytes);
    const std::string temp = std::string(path) + ".new";
    FILE* f = std::fopen(temp.c_str(), "w");
    if (!f) return false;
    std::fprintf(
        f, "// The start picture (built-in picture 160), drawn by tools/splashPicture.cpp, which wrote this "
           "file.\n// Change the generator and run it again rather than editing this file.\n");
    std::fprintf(f, "#include \"app/SplashPicture.h\"\n\n");
    std::fprintf(f, "// A JPEG of %d x %d pixels, %zu bytes, in base64.\n", kWidth, kHeight,
                 jpegBytes.size());
    std::fprintf(f, "const char* const Tal__SplashPictureData =\n");
    constexpr size_t kLine = 100;
    for (size_t i = 0; i < text.size(); i += kLine)
        std::fprintf(f, "    \"%s\"%s\n", text.substr(i, kLine).c_str(), i + kLine >= text.size() ? ";" : "");
    bool ok = std::ferror(f) == 0;
    ok = std::fclose(f) == 0 && ok;
    if (ok) ok = std::rename(temp.c_str(), path) == 0;
    if (!ok) std::remove(temp.c_str());
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: splashPicture BOLD.ttf BOOK.ttf OUTPUT.cpp [PREVIEW.ppm]\n");
        return 2;
    }
    FT_Library library;
    if (FT_Init_FreeType(&library)) return 1;
    Canvas c;
    background(c);

    // Small drops of paint in the sky, where the buttons of the start window sit.
    const Rgb orange{255, 146, 52}, pink{240, 72, 132}, teal{44, 196, 184}, yellow{255, 214, 70},
        violet{150, 120, 255};
    for (int i = 0; i < 26; i++) {
        float x = 8 + hash(i, 1) * 224, y = 6 + hash(i, 2) * 110;
        const Rgb colours[] = {orange, pink, teal, yellow, violet};
        dot(c, x, y, 0.6f + hash(i, 3) * 1.3f, colours[i % 5], 0.30f + 0.35f * hash(i, 4));
    }

    // The strokes behind the name: three sweeps of colour from left to right.
    stroke(c, {-6, 214}, {60, 150}, {150, 250}, {248, 168}, 30, orange, 0.92f, 3);
    stroke(c, {-4, 246}, {80, 196}, {170, 262}, {246, 204}, 22, pink, 0.90f, 5);
    stroke(c, {10, 150}, {90, 128}, {160, 206}, {236, 142}, 13, teal, 0.88f, 9);
    stroke(c, {150, 236}, {180, 226}, {206, 244}, {232, 228}, 7, yellow, 0.85f, 13);
    for (Point p : {Point{214, 132}, Point{226, 138}, Point{30, 252}, Point{18, 130}, Point{200, 258}})
        dot(c, p.x, p.y, 1.6f, yellow, 0.8f);

    lettering(c, library, argv[1], "Velura", 46, 120, 196, Rgb{255, 255, 255}, Rgb{236, 226, 255}, 0.85f);
    lettering(c, library, argv[2], "Paint & Photo", 13, 120, 232, Rgb{250, 240, 255}, Rgb{250, 240, 255},
              0.7f);

    std::vector<uint8_t> rgb = downsample(c);
    if (argc > 4) {
        if (FILE* f = std::fopen(argv[4], "wb")) {
            std::fprintf(f, "P6\n%d %d\n255\n", kWidth, kHeight);
            std::fwrite(rgb.data(), 1, rgb.size(), f);
            std::fclose(f);
        }
    }
    if (!writeSource(argv[3], pictures::encodeJpeg(rgb.data(), kWidth, kHeight, 3, 94))) {
        std::fprintf(stderr, "splashPicture: cannot write %s\n", argv[3]);
        return 1;
    }
    FT_Done_FreeType(library);
    return 0;
}
