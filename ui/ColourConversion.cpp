// The colour conversions of the colour editors: integer HSV to RGB, single-precision RGB to HSV, and the
// colour at a point of each kind of colour field.
#include "ui/Colour.h"

#include <algorithm>
#include <cstring>

namespace {

// A 16-bit component: bit 15 set counts as 0, and nothing goes beyond 255.
LONG component(LONG v) {
    v &= 0xFFFF;
    if (v & 0x8000) return 0;
    return std::min<LONG>(v, 255);
}

LONG scaled(LONG x) {
    return LONG((x * 257 + 1) >> 16);
}

} // namespace

ULONG Tal_HSVToRGB(LONG hue, LONG saturation, LONG value) {
    const LONG s = component(saturation), v = component(value);
    if (s == 0) return Tal_PackRGB(ULONG(v), ULONG(v), ULONG(v));
    if (hue < 0 || hue > 359) return 0;
    const LONG sector = hue / 60, f = (hue % 60) * 256 / 60;
    const LONG p = scaled((255 - s) * v);
    const LONG q = scaled((255 - s * f / 256) * v);
    const LONG t = scaled((255 - (256 - f) * s / 256) * v);
    switch (sector) {
    case 0:
        return Tal_PackRGB(ULONG(v), ULONG(t), ULONG(p));
    case 1:
        return Tal_PackRGB(ULONG(q), ULONG(v), ULONG(p));
    case 2:
        return Tal_PackRGB(ULONG(p), ULONG(v), ULONG(t));
    case 3:
        return Tal_PackRGB(ULONG(p), ULONG(q), ULONG(v));
    case 4:
        return Tal_PackRGB(ULONG(t), ULONG(p), ULONG(v));
    default:
        return Tal_PackRGB(ULONG(v), ULONG(p), ULONG(q));
    }
}

Tal_HSV Tal_RGBToHSV(ULONG colour) {
    // Single precision throughout, in this order: the truncated results depend on it.
    const float r = float(colour & 0xFF), g = float((colour >> 8) & 0xFF), b = float((colour >> 16) & 0xFF);
    const float max = std::max({r, g, b}), min = std::min({r, g, b});
    const float value = max * 0.003921569f;
    const float saturation = max != 0.0f ? (max - min) / max : 0.0f;
    float hue = 0.0f;
    if (saturation != 0.0f) {
        const float range = max - min;
        const float rc = (max - r) / range, gc = (max - g) / range, bc = (max - b) / range;
        if (r == max)
            hue = (bc - gc) * 0.16666667f;
        else if (g == max)
            hue = (2.0f + rc - bc) * 0.16666667f;
        else
            hue = (4.0f + gc - rc) * 0.16666667f;
        if (hue < 0.0f) hue += 1.0f;
    }
    return {LONG(hue * 360.0f), LONG(saturation * 255.0f), LONG(value * 255.0f)};
}

ULONG Tal_ColourSpaceColourAt(const char* kind, LONG x, LONG y, LONG w, LONG h, LONG hue) {
    if (!kind) return 0;
    // A field squeezed below its minimum size divides by 1, not by 0.
    const LONG width = std::max<LONG>(w, 1), height = std::max<LONG>(h, 1);
    const LONG last = std::max<LONG>(width - 1, 1);
    const LONG rowHue = LONG(int64_t(y) * 360 / height);
    if (!std::strcmp(kind, "HS") || !std::strcmp(kind, "HW"))
        return Tal_HSVToRGB(rowHue, (last - x) * 255 / last, 255);
    if (!std::strcmp(kind, "HK")) return Tal_HSVToRGB(rowHue, 255, x * 255 / last);
    if (!std::strcmp(kind, "HSV")) {
        const LONG middle = std::max<LONG>((width - 1) / 2, 1);
        if (x < middle) return Tal_HSVToRGB(rowHue, 255, x * 255 / middle);
        return Tal_HSVToRGB(rowHue, (middle * 510 - x * 255) / middle, 255);
    }
    if (!std::strcmp(kind, "HSV2")) return Tal_HSVToRGB(rowHue, (last - x) * 255 / last, x * 255 / last);
    if (!std::strcmp(kind, "SV"))
        return Tal_HSVToRGB(hue, x * 255 / last, 255 - y * 255 / std::max<LONG>(height - 1, 1));
    return 0;
}
