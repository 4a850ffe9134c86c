// Draws the brushes that ship with the program and the icons of the brush presets, and writes them into
// the installation tree:
//   Data/Images/Brushes/<name>.jpg   the brush pictures (grey: 255 lays full paint, 0 none), read by the
//                                    presets as master pictures: Chalk, Pencil, Paint, Sponge, FireWall,
//                                    Fire, Fire2, Neon, Star, Sparkle
//   Data/Images/Media/<icon>.iff     32 × 32 icons, each a sample stroke of its preset: AirBrush, Chalk,
//                                    Pencil, Paint, Sponge, Smudge, Fire, Fire3, Fire2, Neon, Star, Sparkle
//
// Usage: mediaPictures DIRECTORY   (the directory holding Data/, normally data/)
//
// The files are checked in; run this after changing a picture:
//   c++ -std=c++20 -O2 tools/mediaPictures.cpp -ljpeg -o /tmp/mediaPictures && /tmp/mediaPictures data
#include "jpegFile.h"
#include "pictureFiles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr float kPi = 3.14159265358979f;

float clamp01(float v) {
    return std::clamp(v, 0.0f, 1.0f);
}
float smoothstep(float edge0, float edge1, float x) {
    const float t = clamp01((x - edge0) / (edge1 - edge0));
    return t * t * (3 - 2 * t);
}
float mix(float a, float b, float t) {
    return a + (b - a) * t;
}

// ---------------------------------------------------------------------------------------------------
// Noise: hashed lattice values, smoothly interpolated, summed over octaves. Deterministic.

float lattice(int x, int y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 374761393u + uint32_t(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return float((h ^ (h >> 16)) & 0xFFFF) / 65535.0f;
}

float valueNoise(float x, float y, uint32_t seed) {
    const int xi = int(std::floor(x)), yi = int(std::floor(y));
    const float fx = x - float(xi), fy = y - float(yi);
    const float sx = fx * fx * (3 - 2 * fx), sy = fy * fy * (3 - 2 * fy);
    const float top = mix(lattice(xi, yi, seed), lattice(xi + 1, yi, seed), sx);
    const float bottom = mix(lattice(xi, yi + 1, seed), lattice(xi + 1, yi + 1, seed), sx);
    return mix(top, bottom, sy);
}

float fbm(float x, float y, uint32_t seed, int octaves = 4) {
    float sum = 0, amplitude = 0.5f, norm = 0;
    for (int i = 0; i < octaves; i++) {
        sum += amplitude * valueNoise(x, y, seed + uint32_t(i) * 17u);
        norm += amplitude;
        x *= 2.03f;
        y *= 2.03f;
        amplitude *= 0.5f;
    }
    return sum / norm;
}

// Distance to the nearest of points scattered one per cell (cells of size 1).
float cellDistance(float x, float y, uint32_t seed) {
    const int xi = int(std::floor(x)), yi = int(std::floor(y));
    float best = 9;
    for (int j = -1; j <= 1; j++)
        for (int i = -1; i <= 1; i++) {
            const float px = float(xi + i) + lattice(xi + i, yi + j, seed);
            const float py = float(yi + j) + lattice(xi + i, yi + j, seed + 1);
            best = std::min(best, std::hypot(px - x, py - y));
        }
    return best;
}

// ---------------------------------------------------------------------------------------------------
// The brushes, as coverage fields over u, v in −1..1 (v grows downwards; flames point up).

using Field = std::function<float(float u, float v)>;

float softRound(float u, float v) {
    const float d = u * u + v * v;
    return d < 1 ? 1 - d : 0;
}

float chalk(float u, float v) {
    const float r = std::hypot(u, v);
    // A ragged rim, then grain: the tooth of the paper shows through the stick.
    const float rim = 0.78f + 0.2f * fbm(u * 2.5f + 3, v * 2.5f, 11);
    const float body = smoothstep(rim, rim - 0.22f, r);
    const float grain =
        smoothstep(0.3f, 0.62f, fbm(u * 9, v * 9, 5, 3) * 0.7f + valueNoise(u * 26, v * 26, 9) * 0.3f);
    return body * grain;
}

float pencil(float u, float v) {
    const float r = std::hypot(u, v);
    const float tip = smoothstep(0.95f, 0.7f, r);
    return tip * (0.82f + 0.18f * valueNoise(u * 6 + 1, v * 6, 21));
}

float paint(float u, float v) {
    const float r = std::hypot(u, v);
    // A loaded round brush: a flat middle, a soft shoulder, and bristle marks across it.
    const float body = smoothstep(1.0f, 0.72f, r);
    const float bristles = 0.78f + 0.22f * valueNoise(u * 3, v * 22, 31);
    return body * bristles;
}

float sponge(float u, float v) {
    const float r = std::hypot(u, v);
    const float mask = smoothstep(1.0f, 0.75f, r + 0.15f * (fbm(u * 3, v * 3, 41) - 0.5f));
    // Pores round scattered centres; the walls between them carry the paint.
    const float f = cellDistance(u * 5 + 7, v * 5 + 3, 43);
    const float walls = smoothstep(0.22f, 0.42f, f);
    return mask * walls * (0.75f + 0.25f * valueNoise(u * 12, v * 12, 47));
}

// One flame: a tongue whose width narrows to the tip, flickering sideways.
float flame(float u, float v, float height, uint32_t seed) {
    const float t = (1 - v) / (2 * height); // 0 at the bottom, 1 at the tip
    if (t < 0 || t > 1) return 0;
    const float sway = 0.18f * (fbm(t * 2.2f, float(seed), seed) - 0.5f) * t;
    const float halfWidth = 0.55f * std::pow(std::sin(kPi * std::pow(t, 0.55f)), 0.9f) * (1 - 0.25f * t);
    const float across = std::fabs(u - sway) / std::max(halfWidth, 1e-3f);
    const float body = smoothstep(1.0f, 0.35f, across) * smoothstep(1.0f, 0.8f, t);
    const float flicker = 0.8f + 0.2f * fbm(u * 4, v * 6 - float(seed), seed + 3);
    return clamp01(body * flicker);
}

float fire(float u, float v) {
    return flame(u * 1.05f, v, 1.0f, 61);
}

float fire2(float u, float v) {
    return std::max({flame((u + 0.42f) * 2.1f, v * 1.0f + 0.1f, 0.7f, 71), flame(u * 1.6f, v, 1.0f, 73),
                     flame((u - 0.45f) * 2.3f, v + 0.05f, 0.62f, 79)});
}

float fireWall(float u, float v) {
    // A band of tongues of changing height over a burning base.
    const float x = (u + 1) * 6;
    const float tongue = 0.5f + 0.5f * std::fabs(std::sin(x * kPi * 0.5f + 0.7f * fbm(x * 0.4f, 0, 83)));
    const float height = 0.35f + 0.6f * tongue * (0.6f + 0.4f * fbm(x * 0.7f, 3, 89));
    const float t = (1 - v) / (2 * height);
    const float body = smoothstep(1.0f, 0.55f, t) * (0.85f + 0.15f * fbm(u * 6, v * 5, 97));
    const float sides = smoothstep(1.0f, 0.9f, std::fabs(u));
    return clamp01(body * sides);
}

float neon(float u, float v) {
    const float r = std::hypot(u, v);
    const float core = smoothstep(0.24f, 0.16f, r);
    const float glow = 0.55f * std::exp(-(r * r) / 0.12f) * smoothstep(1.0f, 0.8f, r);
    return clamp01(std::max(core, glow));
}

// A five-pointed star, point up.
float star(float u, float v) {
    const float r = std::hypot(u, v);
    float a = std::atan2(u, -v); // 0 at the top
    const float sector = 2 * kPi / 5;
    a = std::fmod(std::fabs(a) + sector / 2, sector) - sector / 2;
    // The edge between an outer point (radius 0.95) and an inner corner (0.4) at half a sector.
    const float outer = 0.95f, inner = 0.4f;
    const float px = outer, py = 0, qx = inner * std::cos(sector / 2), qy = inner * std::sin(sector / 2);
    const float x = r * std::cos(a), y = r * std::fabs(std::sin(a));
    // Inside when (x, y) lies on the centre's side of the line through p and q.
    const float side = (qx - px) * (y - py) - (qy - py) * (x - px);
    return side >= 0 ? 1.0f : 0.0f;
}

// A twinkle: a bright point with long thin rays across and shorter ones diagonally.
float twinkle(float u, float v, float rayWidth) {
    const float r = std::hypot(u, v);
    const float core = std::exp(-(r * r) / 0.01f);
    const float halo = 0.35f * std::exp(-(r * r) / 0.06f);
    auto ray = [rayWidth](float along, float across, float length) {
        return std::exp(-std::fabs(across) / rayWidth) *
               std::pow(clamp01(1 - std::fabs(along) / length), 2.0f);
    };
    const float d = 0.70710678f;
    const float cross = std::max(ray(u, v, 1.0f), ray(v, u, 1.0f));
    const float diagonal =
        0.6f * std::max(ray((u + v) * d, (u - v) * d, 0.55f), ray((u - v) * d, (u + v) * d, 0.55f));
    return clamp01(core + halo + std::max(cross, diagonal));
}

float sparkle(float u, float v) {
    return twinkle(u, v, 0.018f);
}

// The field sampled 4 × 4 times per pixel, as 8-bit coverage.
std::vector<uint8_t> render(const Field& field, int width, int height) {
    std::vector<uint8_t> out(size_t(width) * size_t(height));
    for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
            float sum = 0;
            for (int sy = 0; sy < 4; sy++)
                for (int sx = 0; sx < 4; sx++) {
                    const float u = ((float(x) + (float(sx) + 0.5f) / 4) / float(width)) * 2 - 1;
                    const float v = ((float(y) + (float(sy) + 0.5f) / 4) / float(height)) * 2 - 1;
                    sum += clamp01(field(u, v));
                }
            out[size_t(y) * size_t(width) + size_t(x)] = uint8_t(std::lround(sum / 16 * 255));
        }
    return out;
}

// ---------------------------------------------------------------------------------------------------
// Icons: a sample stroke of each preset on a 32 × 32 tile, reduced to 256 colours.

constexpr int kIcon = 32;

struct Rgb {
    float r, g, b;
};
Rgb lerp(Rgb a, Rgb b, float t) {
    return {mix(a.r, b.r, t), mix(a.g, b.g, t), mix(a.b, b.b, t)};
}

struct Canvas {
    std::array<float, kIcon * kIcon> cover{};
    float& at(int x, int y) { return cover[size_t(y) * kIcon + size_t(x)]; }

    // Lays one dab of the field, `size` pixels across, centred at (cx, cy), as an airbrush does.
    void dab(const Field& field, float cx, float cy, float size, float strength, float aspect = 1) {
        const float half = size / 2, halfH = half * aspect;
        for (int y = std::max(0, int(cy - halfH) - 1); y <= std::min(kIcon - 1, int(cy + halfH) + 1); y++)
            for (int x = std::max(0, int(cx - half) - 1); x <= std::min(kIcon - 1, int(cx + half) + 1); x++) {
                float sum = 0;
                for (int s = 0; s < 4; s++) {
                    const float px = float(x) + 0.25f + 0.5f * float(s & 1),
                                py = float(y) + 0.25f + 0.5f * float(s >> 1);
                    const float u = (px - cx) / half, v = (py - cy) / halfH;
                    if (std::fabs(u) <= 1 && std::fabs(v) <= 1) sum += clamp01(field(u, v));
                }
                const float c = sum / 4 * strength;
                at(x, y) = at(x, y) + (1 - at(x, y)) * c;
            }
    }
    // Dabs every `step` pixels along an S-shaped stroke across the tile.
    void stroke(const Field& field, float size, float strength, float step) {
        for (float t = 0; t <= 1.0001f; t += step / 40) {
            const float x = 5 + 22 * t;
            const float y = 16 + 7 * std::sin(t * 2 * kPi + 0.4f);
            dab(field, x, y, size, strength);
        }
    }
};

using ColourMap = std::function<Rgb(float coverage, int x, int y)>;

std::vector<Rgb> paintTile(Canvas& canvas, const ColourMap& colours) {
    std::vector<Rgb> out(kIcon * kIcon);
    for (int y = 0; y < kIcon; y++)
        for (int x = 0; x < kIcon; x++)
            out[size_t(y) * kIcon + size_t(x)] = colours(clamp01(canvas.at(x, y)), x, y);
    return out;
}

ColourMap onPaper(Rgb ink) {
    return [ink](float c, int x, int y) {
        const Rgb paper{244, 240, 228};
        const float shade = 1 - 0.05f * float(x + y) / float(2 * kIcon); // a light fall of light
        const Rgb bg{paper.r * shade, paper.g * shade, paper.b * shade};
        return lerp(bg, ink, c);
    };
}

Rgb fireColour(float c) {
    // Ember to flame to white heat.
    const Rgb stops[] = {{40, 12, 8}, {170, 24, 8}, {236, 96, 12}, {252, 196, 40}, {255, 250, 200}};
    const float at = c * 4;
    const int i = std::min(3, int(at));
    return lerp(stops[i], stops[i + 1], at - float(i));
}

ColourMap onNight(Rgb ink, Rgb hot) {
    return [ink, hot](float c, int x, int y) {
        const Rgb night{18, 20, 44};
        const Rgb bg = lerp(night, Rgb{30, 34, 70}, float(y) / kIcon * 0.6f + float(x) * 0.0f);
        return c < 0.7f ? lerp(bg, ink, c / 0.7f) : lerp(ink, hot, (c - 0.7f) / 0.3f);
    };
}

// Median cut to at most 256 colours.
pictures::Picture quantise(const std::vector<Rgb>& rgb) {
    struct Px {
        uint8_t c[3];
    };
    std::vector<Px> pixels;
    for (const Rgb& p : rgb)
        pixels.push_back({{uint8_t(std::lround(std::clamp(p.r, 0.0f, 255.0f))),
                           uint8_t(std::lround(std::clamp(p.g, 0.0f, 255.0f))),
                           uint8_t(std::lround(std::clamp(p.b, 0.0f, 255.0f)))}});
    std::vector<std::vector<Px>> boxes{pixels};
    while (boxes.size() < 256) {
        // Split the box with the widest channel range.
        size_t best = 0;
        int bestRange = -1, bestChannel = 0;
        for (size_t i = 0; i < boxes.size(); i++)
            for (int ch = 0; ch < 3; ch++) {
                int lo = 255, hi = 0;
                for (const Px& p : boxes[i]) {
                    lo = std::min<int>(lo, p.c[ch]);
                    hi = std::max<int>(hi, p.c[ch]);
                }
                if (boxes[i].size() > 1 && hi - lo > bestRange) {
                    bestRange = hi - lo;
                    best = i;
                    bestChannel = ch;
                }
            }
        if (bestRange <= 0) break;
        std::vector<Px>& box = boxes[best];
        std::sort(box.begin(), box.end(),
                  [&](const Px& a, const Px& b) { return a.c[bestChannel] < b.c[bestChannel]; });
        std::vector<Px> upper(box.begin() + long(box.size() / 2), box.end());
        box.resize(box.size() / 2);
        boxes.push_back(std::move(upper));
    }
    pictures::Picture picture{kIcon, kIcon, 8, std::vector<pictures::Colour>(256, {0, 0, 0}), {}};
    for (size_t i = 0; i < boxes.size(); i++) {
        uint32_t sum[3] = {};
        for (const Px& p : boxes[i])
            for (int ch = 0; ch < 3; ch++) sum[ch] += p.c[ch];
        const uint32_t n = uint32_t(std::max<size_t>(boxes[i].size(), 1));
        picture.palette[i] = {uint8_t(sum[0] / n), uint8_t(sum[1] / n), uint8_t(sum[2] / n)};
    }
    for (const Px& p : pixels) {
        int best = 0, bestDistance = 1 << 30;
        for (size_t i = 0; i < boxes.size(); i++) {
            const pictures::Colour& c = picture.palette[i];
            const int d = (c.r - p.c[0]) * (c.r - p.c[0]) + (c.g - p.c[1]) * (c.g - p.c[1]) +
                          (c.b - p.c[2]) * (c.b - p.c[2]);
            if (d < bestDistance) {
                bestDistance = d;
                best = int(i);
            }
        }
        picture.pixels.push_back(uint8_t(best));
    }
    return picture;
}

pictures::Picture airBrushIcon() {
    Canvas c;
    c.stroke(softRound, 9, 0.22f, 1);
    return quantise(paintTile(c, onPaper({30, 90, 220})));
}

pictures::Picture chalkIcon() {
    Canvas c;
    c.stroke(chalk, 8, 0.5f, 1);
    return quantise(paintTile(c, [](float v, int x, int y) {
        const Rgb slate{38, 64, 52};
        const Rgb board = lerp(slate, Rgb{48, 78, 62}, valueNoise(float(x) * 0.3f, float(y) * 0.3f, 3));
        return lerp(board, Rgb{246, 246, 238}, v);
    }));
}

pictures::Picture pencilIcon() {
    Canvas c;
    c.stroke(pencil, 2.6f, 0.8f, 0.5f);
    return quantise(paintTile(c, onPaper({52, 52, 60})));
}

pictures::Picture paintIcon() {
    Canvas c;
    c.stroke(paint, 8, 0.9f, 1);
    return quantise(paintTile(c, onPaper({206, 30, 36})));
}

pictures::Picture spongeIcon() {
    Canvas c;
    for (auto [x, y] :
         {std::pair{9.0f, 10.0f}, {22.0f, 11.0f}, {15.0f, 21.0f}, {25.0f, 24.0f}, {7.0f, 24.0f}})
        c.dab(sponge, x, y, 13, 0.95f);
    return quantise(paintTile(c, onPaper({40, 150, 70})));
}

pictures::Picture smudgeIcon() {
    // Two colours side by side, dragged into each other along the stroke.
    std::vector<Rgb> out(kIcon * kIcon);
    const Rgb left{250, 200, 40}, right{40, 90, 210};
    Canvas drag;
    drag.stroke(softRound, 11, 0.35f, 1);
    for (int y = 0; y < kIcon; y++)
        for (int x = 0; x < kIcon; x++) {
            const float edge = 15.5f + 3 * std::sin(float(y) * 0.35f);
            float t = smoothstep(edge - 1, edge + 1, float(x));
            // Along the stroke the colours are carried over each other.
            const float d = drag.at(x, y);
            t = mix(t, smoothstep(4, 28, float(x) + 6 * std::sin(float(y) * 0.5f)), d);
            out[size_t(y) * kIcon + size_t(x)] = lerp(left, right, t);
        }
    return quantise(out);
}

pictures::Picture fireWallIcon() {
    Canvas c;
    for (int i = 0; i < 3; i++) c.dab(fireWall, 16 + float(i - 1) * 0.5f, 21, 32, 0.55f, 0.55f);
    return quantise(paintTile(c, [](float v, int, int) { return fireColour(v); }));
}

pictures::Picture fireIcon() {
    Canvas c;
    c.dab(fire, 16, 17, 22, 1.0f, 1.3f);
    c.dab(fire, 16, 19, 12, 0.5f, 1.2f);
    return quantise(paintTile(c, [](float v, int, int) { return fireColour(v); }));
}

pictures::Picture fire2Icon() {
    Canvas c;
    c.dab(fire2, 16, 17, 30, 1.0f, 0.95f);
    return quantise(paintTile(c, [](float v, int, int) { return fireColour(v); }));
}

pictures::Picture neonIcon() {
    Canvas c;
    c.stroke(neon, 9, 0.55f, 0.7f);
    return quantise(paintTile(c, onNight({236, 40, 200}, {255, 236, 252})));
}

pictures::Picture starIcon() {
    Canvas c;
    c.dab(star, 11, 11, 16, 1);
    c.dab(star, 23, 20, 13, 1);
    c.dab(star, 10, 25, 8, 1);
    return quantise(paintTile(c, onNight({250, 196, 30}, {255, 240, 150})));
}

pictures::Picture sparkleIcon() {
    Canvas c;
    // Rays a pixel wide at this size.
    const Field bold = [](float u, float v) { return twinkle(u, v, 0.05f); };
    c.dab(bold, 12, 12, 22, 1);
    c.dab(bold, 24, 22, 14, 0.9f);
    c.dab(bold, 7, 25, 9, 0.8f);
    return quantise(paintTile(c, onNight({150, 190, 255}, {255, 255, 255})));
}

struct Brush {
    const char* name;
    Field field;
    int width, height;
};

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY (the folder holding Data/)\n", argv[0]);
        return 2;
    }
    const std::string images = std::string(argv[1]) + "/Data/Images/";
    const Brush brushes[] = {
        {"Chalk", chalk, 64, 64},     {"Pencil", pencil, 16, 16},      {"Paint", paint, 64, 64},
        {"Sponge", sponge, 64, 64},   {"FireWall", fireWall, 128, 64}, {"Fire", fire, 48, 64},
        {"Fire2", fire2, 64, 64},     {"Neon", neon, 64, 64},          {"Star", star, 64, 64},
        {"Sparkle", sparkle, 64, 64},
    };
    bool ok = true;
    for (const Brush& b : brushes) {
        const std::vector<uint8_t> grey = render(b.field, b.width, b.height);
        ok = pictures::writeFile(images + "Brushes/" + b.name + ".jpg",
                                 pictures::encodeJpeg(grey.data(), b.width, b.height, 1, 100)) &&
             ok;
    }
    const std::pair<const char*, pictures::Picture> icons[] = {
        {"AirBrush", airBrushIcon()}, {"Chalk", chalkIcon()},   {"Pencil", pencilIcon()},
        {"Paint", paintIcon()},       {"Sponge", spongeIcon()}, {"Smudge", smudgeIcon()},
        {"Fire", fireWallIcon()},     {"Fire3", fireIcon()},    {"Fire2", fire2Icon()},
        {"Neon", neonIcon()},         {"Star", starIcon()},     {"Sparkle", sparkleIcon()},
    };
    for (const auto& [name, picture] : icons)
        ok = pictures::save(images + "Media/" + name + ".iff", picture) && ok;
    if (!ok) std::fprintf(stderr, "%s: cannot write the pictures into %s\n", argv[0], images.c_str());
    return ok ? 0 : 1;
}
