// Screenshots of the composed logical screen, as 24-bit BMP or binary PPM.
#include "host/display.h"
#include "host/dos.h"
#include "host/host.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

enum class ShotFormat { None, Bmp, Ppm };

ShotFormat formatOf(const std::string& name) {
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.find_first_of("/\\", dot) != std::string::npos)
        return ShotFormat::None;
    std::string ext = name.substr(dot + 1);
    for (char& c : ext) c = char(std::tolower(UBYTE(c)));
    if (ext == "bmp") return ShotFormat::Bmp;
    if (ext == "ppm" || ext == "pnm") return ShotFormat::Ppm;
    return ShotFormat::None;
}

void put16(std::vector<UBYTE>& out, ULONG v) {
    out.push_back(UBYTE(v));
    out.push_back(UBYTE(v >> 8));
}
void put32(std::vector<UBYTE>& out, ULONG v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A bottom-up 24-bit BMP with the 40-byte information header, rows padded to 4 bytes.
std::vector<UBYTE> encodeBmp(const host_Surface& s) {
    const ULONG rowBytes = (ULONG(s.width) * 3 + 3) & ~3u;
    const ULONG imageBytes = rowBytes * ULONG(s.height);
    std::vector<UBYTE> out;
    out.reserve(54 + imageBytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, 54 + imageBytes);
    put32(out, 0);
    put32(out, 54);
    put32(out, 40);
    put32(out, ULONG(s.width));
    put32(out, ULONG(s.height));
    put16(out, 1);
    put16(out, 24);
    put32(out, 0); // uncompressed
    put32(out, imageBytes);
    put32(out, 2835); // 72 dpi
    put32(out, 2835);
    put32(out, 0);
    put32(out, 0);
    for (LONG y = s.height - 1; y >= 0; y--) {
        const uint32_t* row = s.pixels + size_t(y) * size_t(s.stride);
        for (LONG x = 0; x < s.width; x++) {
            out.push_back(UBYTE(row[x]));
            out.push_back(UBYTE(row[x] >> 8));
            out.push_back(UBYTE(row[x] >> 16));
        }
        for (ULONG pad = ULONG(s.width) * 3; pad < rowBytes; pad++) out.push_back(0);
    }
    return out;
}

std::vector<UBYTE> encodePpm(const host_Surface& s) {
    const std::string header = "P6\n" + std::to_string(s.width) + " " + std::to_string(s.height) + "\n255\n";
    std::vector<UBYTE> out(header.begin(), header.end());
    out.reserve(header.size() + size_t(s.width) * size_t(s.height) * 3);
    for (LONG y = 0; y < s.height; y++) {
        const uint32_t* row = s.pixels + size_t(y) * size_t(s.stride);
        for (LONG x = 0; x < s.width; x++) {
            out.push_back(UBYTE(row[x] >> 16));
            out.push_back(UBYTE(row[x] >> 8));
            out.push_back(UBYTE(row[x]));
        }
    }
    return out;
}

} // namespace

bool host_IsScreenshotName(const char* fileName) {
    return fileName && formatOf(fileName) != ShotFormat::None;
}

// Screenshots are named on the command line or in scripts, so a relative name means the current directory
// (not the user directory, where relative program names would go): it is made absolute first.
bool host_SaveScreenshot(const char* fileName) {
    if (!fileName || !*fileName) return false;
    std::string name = fileName;
    const ShotFormat format = formatOf(name);
    if (format == ShotFormat::None) {
        KPrintF("screenshot %s: the name must end in .bmp or .ppm\n", fileName);
        return false;
    }
    if (name[0] != '/' && name[0] != '\\') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return false;
        name = std::string(cwd) + "/" + name;
    }
    host_Surface* screen = host_AllocSurface(host_ScreenWidth(), host_ScreenHeight());
    if (!screen) return false;
    host_ComposeScreen(screen);
    const std::vector<UBYTE> data = format == ShotFormat::Bmp ? encodeBmp(*screen) : encodePpm(*screen);
    host_FreeSurface(screen);

    Tal_SafeSave save;
    FILE* f = Tal_SafeSaveOpen(&save, name.c_str(), "wb");
    if (!f) {
        KPrintF("screenshot %s: cannot write there\n", name.c_str());
        return false;
    }
    if (std::fwrite(data.data(), 1, data.size(), f) != data.size()) {
        Tal_SafeSaveAbort(&save);
        return false;
    }
    if (!Tal_SafeSaveCommit(&save)) {
        KPrintF("screenshot %s: writing failed\n", name.c_str());
        return false;
    }
    return true;
}
