// Picture files the build-time generators write: IFF ILBM (ByteRun1-compressed, with a colour map) for
// the interface, and the safe write of any file (a temporary file renamed over the target). Header-only
// and free of the program's library.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace pictures {

struct Colour {
    uint8_t r, g, b;
};

struct Picture {
    int width, height, planes;
    std::vector<Colour> palette; // 2^planes entries
    std::vector<uint8_t> pixels; // colour indices, rows top first
    uint8_t& at(int x, int y) { return pixels[size_t(y) * size_t(width) + size_t(x)]; }
};

// ---------------------------------------------------------------------------------------------------
// ILBM writing.

inline void put16(std::vector<uint8_t>& out, unsigned v) {
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v));
}
inline void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v >> 16);
    put16(out, v & 0xFFFF);
}
inline void putId(std::vector<uint8_t>& out, const char* id) {
    out.insert(out.end(), id, id + 4);
}

// ByteRun1: runs of three or more equal bytes repeat, everything else is copied literally.
inline void packLine(std::vector<uint8_t>& out, const std::vector<uint8_t>& line) {
    size_t i = 0;
    while (i < line.size()) {
        size_t run = 1;
        while (i + run < line.size() && run < 128 && line[i + run] == line[i]) run++;
        if (run >= 3) {
            out.push_back(uint8_t(257 - run));
            out.push_back(line[i]);
            i += run;
            continue;
        }
        size_t start = i, n = 0;
        while (i < line.size() && n < 128) {
            size_t same = 1;
            while (i + same < line.size() && same < 3 && line[i + same] == line[i]) same++;
            if (same >= 3) break;
            i++;
            n++;
        }
        out.push_back(uint8_t(n - 1));
        out.insert(out.end(), line.begin() + long(start), line.begin() + long(start + n));
    }
}

inline std::vector<uint8_t> encode(const Picture& p) {
    const size_t rowBytes = size_t((p.width + 15) / 16) * 2;
    std::vector<uint8_t> body;
    for (int y = 0; y < p.height; y++)
        for (int plane = 0; plane < p.planes; plane++) {
            std::vector<uint8_t> line(rowBytes, 0);
            for (int x = 0; x < p.width; x++)
                if (p.pixels[size_t(y) * size_t(p.width) + size_t(x)] >> plane & 1)
                    line[size_t(x / 8)] |= uint8_t(0x80 >> (x % 8));
            packLine(body, line);
        }
    std::vector<uint8_t> chunks;
    putId(chunks, "ILBM");
    putId(chunks, "BMHD");
    put32(chunks, 20);
    put16(chunks, unsigned(p.width));
    put16(chunks, unsigned(p.height));
    put32(chunks, 0); // position
    chunks.push_back(uint8_t(p.planes));
    chunks.push_back(0); // no mask
    chunks.push_back(1); // ByteRun1
    chunks.push_back(0);
    put16(chunks, 0);    // transparent colour
    chunks.push_back(1); // aspect
    chunks.push_back(1);
    put16(chunks, unsigned(p.width));
    put16(chunks, unsigned(p.height));
    putId(chunks, "CMAP");
    put32(chunks, uint32_t(p.palette.size() * 3));
    for (Colour c : p.palette) chunks.insert(chunks.end(), {c.r, c.g, c.b});
    putId(chunks, "BODY");
    put32(chunks, uint32_t(body.size()));
    chunks.insert(chunks.end(), body.begin(), body.end());
    if (body.size() & 1) chunks.push_back(0);
    std::vector<uint8_t> file;
    putId(file, "FORM");
    put32(file, uint32_t(chunks.size()));
    file.insert(file.end(), chunks.begin(), chunks.end());
    return file;
}

// Writes the bytes to a temporary file beside the target and renames it over the target only when every
// write and the close succeeded.
inline bool writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    const std::string temp = path + ".new";
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    ok = std::fclose(f) == 0 && ok;
    if (ok) ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) std::remove(temp.c_str());
    return ok;
}

inline bool save(const std::string& path, const Picture& p) {
    return writeFile(path, encode(p));
}

} // namespace pictures
