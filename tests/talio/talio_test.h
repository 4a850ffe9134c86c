// Helpers of the image-file tests: a fixture with the library started, a scratch folder, peer programs
// (djpeg, cjpeg, ImageMagick) and netpbm pictures.
#pragma once

#include "Tal/Catalogue.h"
#include "support/TalTest.h"
#include "talio/talio.h"

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace talio_test {

namespace fs = std::filesystem;

using Bytes = std::vector<UBYTE>;

// A picture as interleaved samples: 3 per pixel (colour) or 1 (grey).
struct Picture {
    ULONG width = 0, height = 0, channels = 3;
    Bytes samples;
    bool operator==(const Picture&) const = default;
};

inline Bytes readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

// Runs a shell command; its exit status (-1 when it could not run).
inline int run(const std::string& command) {
    const int status = std::system(command.c_str());
    return status == -1 ? -1 : WEXITSTATUS(status);
}

// The standard output of a command.
inline std::string output(const std::string& command) {
    std::string text;
    if (FILE* p = popen(command.c_str(), "r")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) text.append(chunk, n);
        pclose(p);
    }
    return text;
}

// A binary netpbm picture (P5 or P6, maxval 255); empty on anything else.
inline Picture readPnm(const Bytes& file) {
    Picture pic;
    size_t pos = 0;
    auto token = [&]() -> std::string {
        while (pos < file.size()) {
            if (file[pos] == '#')
                while (pos < file.size() && file[pos] != '\n') pos++;
            else if (std::isspace(file[pos]))
                pos++;
            else
                break;
        }
        std::string t;
        while (pos < file.size() && !std::isspace(file[pos])) t += char(file[pos++]);
        return t;
    };
    const std::string magic = token();
    if (magic != "P5" && magic != "P6") return {};
    pic.channels = magic == "P6" ? 3 : 1;
    pic.width = ULONG(std::stoul(token()));
    pic.height = ULONG(std::stoul(token()));
    if (token() != "255") return {};
    pos++; // one white-space byte ends the header
    const size_t size = size_t(pic.width) * pic.height * pic.channels;
    if (file.size() < pos + size) return {};
    pic.samples.assign(file.begin() + long(pos), file.begin() + long(pos + size));
    return pic;
}

inline Bytes pnmBytes(const Picture& pic) {
    const std::string head = (pic.channels == 3 ? "P6\n" : "P5\n") + std::to_string(pic.width) + " " +
                             std::to_string(pic.height) + "\n255\n";
    Bytes out(head.begin(), head.end());
    out.insert(out.end(), pic.samples.begin(), pic.samples.end());
    return out;
}

// A picture with gradients, edges and noise, so that coding errors show.
inline Picture testPicture(ULONG width, ULONG height, ULONG channels = 3, ULONG seed = 1) {
    Picture pic{width, height, channels, Bytes(size_t(width) * height * channels)};
    ULONG state = seed * 2654435761u + 1;
    for (ULONG y = 0; y < height; y++)
        for (ULONG x = 0; x < width; x++)
            for (ULONG c = 0; c < channels; c++) {
                state = state * 1103515245u + 12345u;
                const ULONG base =
                    (x * 255 / std::max<ULONG>(1, width - 1) * (c + 1) + y * 7 * (3 - c)) & 255;
                const ULONG edge = ((x / 8 + y / 8) & 1) ? 40 : 0;
                pic.samples[(size_t(y) * width + x) * channels + c] =
                    UBYTE((base + edge + (state >> 28)) & 255);
            }
    return pic;
}

// The pixels of a loaded buffer (format 1 or 9) as interleaved samples.
inline Picture pixelsOf(const TALIO_ImageBuffer* buffer, ULONG channels) {
    Picture pic{buffer->width, buffer->height, channels,
                Bytes(size_t(buffer->width) * buffer->height * channels)};
    const ULONG code = channels == 3 ? TALIO_PIXEL_RGB : TALIO_PIXEL_INDEX;
    if (!TALIO_GetBufferData(buffer, 0, 0, buffer->width, buffer->height, buffer->width * channels, code,
                             pic.samples.data()))
        return {};
    return pic;
}

// A buffer of format 1 (or 9 for grey) holding the picture.
inline TALIO_ImageBuffer* bufferOf(const Picture& pic) {
    const bool grey = pic.channels == 1;
    TALIO_ImageBuffer* b = TALIO_AllocBuffer(pic.width, pic.height, grey ? 8 : 24, 0,
                                             grey ? TALIO_FORMAT_GREY8 : TALIO_FORMAT_RGBPLANES, 0);
    if (b)
        TALIO_SetBufferData(b, 0, 0, pic.width, pic.height, pic.width * pic.channels,
                            grey ? TALIO_PIXEL_GREY : TALIO_PIXEL_RGB, pic.samples.data());
    return b;
}

// Saves a buffer quietly through a new object of the format; the error number.
inline ULONG saveBuffer(TALIO_ImageBuffer* buffer, const fs::path& path, const char* word = "JPEG",
                        ULONG flags = TALIO_SAVE_QUIET) {
    TALIO_Header* header = buffer->header;
    if (!header) {
        header = static_cast<TALIO_Header*>(Tal_AllocMemClear(sizeof(TALIO_Header)));
        header->buffer = buffer;
        header->truecolour_format = TALIO_FORMAT_RGBPLANES;
        header->grey_format = TALIO_FORMAT_GREY8;
        header->mapped_format = TALIO_FORMAT_RGBPLANES;
        buffer->header = header;
    }
    header->buffer = buffer;
    return TALIO_SaveBufferA(header, path.c_str(), word, 0, &flags);
}

// Loads quietly; the buffer or none, with the error number.
inline TALIO_ImageBuffer* load(const fs::path& path, ULONG* error = nullptr, ULONG flags = TALIO_LOAD_QUIET,
                               ULONG reduction = 0) {
    ULONG scratch = 0;
    const auto tags = Tal_MakeTags(TALIO_TAG_Reduction, reduction);
    return TALIO_AutoLoadBufferA(path.c_str(), flags, error ? error : &scratch,
                                 reduction ? tags.data() : nullptr);
}

// djpeg's decoding of a file: PPM for colour, PGM for grey.
inline Picture djpeg(const fs::path& jpeg, const std::string& options = "") {
    const std::string text = output("djpeg -pnm " + options + " " + quoted(jpeg));
    return readPnm(Bytes(text.begin(), text.end()));
}

// The segments of a JPEG file up to the start of the scan: marker and offset of its FF.
struct Segment {
    UBYTE marker;
    size_t at;
    size_t length; // of the segment's data with its length field
};

inline std::vector<Segment> segments(const Bytes& f) {
    std::vector<Segment> out;
    size_t p = 2;
    while (p + 4 <= f.size() && f[p] == 0xFF) {
        const UBYTE marker = f[p + 1];
        const size_t length = size_t(f[p + 2]) << 8 | f[p + 3];
        out.push_back({marker, p, length});
        if (marker == 0xDA) break;
        p += 2 + length;
    }
    return out;
}

// Where each scan of a JPEG file begins: the offsets of its start-of-scan markers, found by walking the
// segments and stepping over each scan's coded data.
inline std::vector<size_t> scanStarts(const Bytes& f) {
    std::vector<size_t> out;
    size_t p = 2;
    while (p + 4 <= f.size() && f[p] == 0xFF && f[p + 1] != 0xD9) {
        const size_t next = p + 2 + (size_t(f[p + 2]) << 8 | f[p + 3]);
        if (f[p + 1] != 0xDA) {
            p = next;
            continue;
        }
        out.push_back(p);
        // Coded data runs to the next marker that is neither a stuffed 0 nor a restart marker.
        for (p = next; p + 1 < f.size(); p++)
            if (f[p] == 0xFF && f[p + 1] != 0 && (f[p + 1] < 0xD0 || f[p + 1] > 0xD7)) break;
    }
    return out;
}

// The start-of-frame marker (0xC0 baseline, 0xC2 progressive) and its number of components.
inline std::pair<UBYTE, int> frameOf(const Bytes& f) {
    for (const Segment& s : segments(f))
        if (s.marker >= 0xC0 && s.marker <= 0xCF && s.marker != 0xC4 && s.marker != 0xC8 && s.marker != 0xCC)
            return {s.marker, f[s.at + 9]};
    return {0, 0};
}

// The file with the size its frame header claims changed (the picture data stays as it was).
inline Bytes withClaimedSize(Bytes jpeg, UWORD width, UWORD height) {
    for (const Segment& s : segments(jpeg))
        if (s.marker == 0xC0 || s.marker == 0xC2) {
            jpeg[s.at + 5] = UBYTE(height >> 8);
            jpeg[s.at + 6] = UBYTE(height);
            jpeg[s.at + 7] = UBYTE(width >> 8);
            jpeg[s.at + 8] = UBYTE(width);
        }
    return jpeg;
}

// The start-of-frame marker of a file.
inline UBYTE frameOfFile(const fs::path& file) {
    return frameOf(readFile(file)).first;
}

// The file with an APP13 segment holding `data` inserted after its APP0 segment.
inline Bytes withApp13(const Bytes& jpeg, const Bytes& data) {
    const std::vector<Segment> segs = segments(jpeg);
    const size_t at = segs.at(0).at + 2 + segs.at(0).length;
    Bytes out(jpeg.begin(), jpeg.begin() + long(at));
    const size_t length = data.size() + 2;
    out.insert(out.end(), {0xFF, 0xED, UBYTE(length >> 8), UBYTE(length)});
    out.insert(out.end(), data.begin(), data.end());
    out.insert(out.end(), jpeg.begin() + long(at), jpeg.end());
    return out;
}

inline void append(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

inline Bytes dataset(UBYTE record, UBYTE number, const std::string& text) {
    Bytes d{0x1C, record, number, UBYTE(text.size() >> 8), UBYTE(text.size())};
    append(d, text);
    return d;
}

// A "Photoshop 3.0" block as other programs write it: a resolution resource before the IPTC one, a
// coded-character-set dataset of the envelope record, then the application record.
inline Bytes photoshopBlock(const std::vector<Bytes>& datasets) {
    Bytes iptc = dataset(1, 90, "\x1B%G");
    Bytes version{0x1C, 2, 0, 0, 2, 0, 4};
    iptc.insert(iptc.end(), version.begin(), version.end());
    for (const Bytes& d : datasets) iptc.insert(iptc.end(), d.begin(), d.end());
    Bytes block;
    append(block, std::string("Photoshop 3.0", 14));
    auto resource = [&](UWORD id, const Bytes& data) {
        append(block, "8BIM");
        block.insert(block.end(), {UBYTE(id >> 8), UBYTE(id), 0, 0});
        const size_t n = data.size();
        block.insert(block.end(), {UBYTE(n >> 24), UBYTE(n >> 16), UBYTE(n >> 8), UBYTE(n)});
        block.insert(block.end(), data.begin(), data.end());
        if (n & 1) block.push_back(0);
    };
    resource(0x03ED, Bytes{0, 72, 0, 0, 0, 1, 0, 1, 0, 72, 0, 0, 0, 1, 0, 1});
    resource(0x0404, iptc);
    return block;
}

// The grey picture as colour samples.
inline Picture asColour(const Picture& grey) {
    Picture pic{grey.width, grey.height, 3, {}};
    for (UBYTE v : grey.samples) pic.samples.insert(pic.samples.end(), {v, v, v});
    return pic;
}

// A peer's decoding of a file (any netpbm output, as colour samples): `command` writes it to its output.
inline Picture peerPicture(const std::string& command) {
    const std::string text = output(command + " 2>/dev/null | ppmtoppm 2>/dev/null");
    return readPnm(Bytes(text.begin(), text.end()));
}

// What a file loads as, in colour samples whatever buffer format the loader chose, and the loader's word.
// Empty (with the error number) when it does not load.
inline Picture loadedPicture(const fs::path& file, ULONG* error = nullptr, std::string* word = nullptr) {
    ULONG scratch = 0;
    TALIO_ImageBuffer* b =
        TALIO_AutoLoadBufferA(file.c_str(), TALIO_LOAD_QUIET, error ? error : &scratch, nullptr);
    if (!b) return {};
    if (word) *word = b->header->format_name;
    TALIO_ImageBuffer* rgb = b->format == TALIO_FORMAT_RGBPLANES ? nullptr : TALIO_ConvertBufferFormat(b, 1);
    Picture pic = pixelsOf(rgb ? rgb : b, 3);
    TALIO_FreeBuffer(rgb);
    TALIO_FreeBuffer(b);
    return pic;
}

// The folder of the test, made empty.
inline fs::path scratchFolder() {
    const char* base = std::getenv("VELURA_TEST_TMP");
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    fs::path dir = fs::path(base && *base ? base : "/tmp/velura-test") / "talio" /
                   (std::string(info->test_suite_name()) + "." + info->name());
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

// The library started with its format classes and the text catalogue, as the program has it.
class TalioFixture : public TalFixture {
  protected:
    void SetUp() override {
        TalFixture::SetUp();
        Tal_InitRootTALIOClass();
        Tal_InitBMPTALIOClass();
        Tal_InitJPEGTALIOClass();
        Tal_InitGIFTALIOClass();
        Tal_InitILBMTALIOClass();
        Tal_InitIFFDEEPTALIOClass();
        Tal_InitTARGATALIOClass();
        Tal_InitPNGTALIOClass();
        Tal__LoadCatalogue("Data/Lingua/Velura", "");
        global = TALIO_Init(gd);
        ASSERT_NE(global, nullptr);
        dir = scratchFolder();
    }
    void TearDown() override {
        TALIO_Cleanup(global);
        Tal_CleanupPNGTALIOClass();
        Tal_CleanupTARGATALIOClass();
        Tal_CleanupIFFDEEPTALIOClass();
        Tal_CleanupILBMTALIOClass();
        Tal_CleanupGIFTALIOClass();
        Tal_CleanupJPEGTALIOClass();
        Tal_CleanupBMPTALIOClass();
        Tal_CleanupRootTALIOClass();
        TalFixture::TearDown();
    }
    fs::path path(const std::string& name) const { return dir / name; }

    // A JPEG file made by cjpeg from the picture.
    fs::path cjpeg(const Picture& pic, const std::string& name, const std::string& options = "-quality 85") {
        const fs::path source = path(name + (pic.channels == 3 ? ".ppm" : ".pgm"));
        writeFile(source, pnmBytes(pic));
        const fs::path jpeg = path(name);
        EXPECT_EQ(run("cjpeg " + options + " " + quoted(source) + " > " + quoted(jpeg)), 0);
        return jpeg;
    }

    TALIO_GlobalData* global = nullptr;
    fs::path dir;
};

// A netpbm decoder's picture (a command writing PBM, PGM or PPM), brought to maxval 255 by pamdepth.
inline Picture netpbm(const std::string& command) {
    const std::string text = output(command + " | pamdepth 255 2>/dev/null");
    return readPnm(Bytes(text.begin(), text.end()));
}

// The pixels of a loaded buffer in any format, as red, green and blue.
inline Picture colourPixelsOf(const TALIO_ImageBuffer* buffer) {
    if (buffer->format == TALIO_FORMAT_RGBPLANES) return pixelsOf(buffer, 3);
    TALIO_ImageBuffer* rgb = TALIO_ConvertBufferFormat(buffer, TALIO_FORMAT_RGBPLANES);
    if (!rgb) return {};
    Picture pic = pixelsOf(rgb, 3);
    TALIO_FreeBuffer(rgb);
    return pic;
}

// Loads damaged copies of a file, cut at many lengths and with a few bytes changed at seeded places (half
// of the changes in the first 64 bytes, where sizes and offsets are): each loads quietly (the sanitizers
// watch) to a picture whose pixels can all be read, or fails with an error number of the library.
inline void expectDamagedCopiesLoadQuietly(const fs::path& original, const fs::path& scratch,
                                           ULONG seed = 1) {
    SCOPED_TRACE(original.filename().string());
    const Bytes whole = readFile(original);
    ASSERT_FALSE(whole.empty());
    auto tryLoad = [&](const Bytes& bytes, const std::string& what) {
        writeFile(scratch, bytes);
        ULONG error = 0;
        TALIO_ImageBuffer* b = TALIO_AutoLoadBufferA(scratch.c_str(), TALIO_LOAD_QUIET, &error, nullptr);
        if (!b) {
            EXPECT_TRUE(error >= TALIO_ERR_MEMORY && error <= TALIO_ERR_TOO_LARGE)
                << what << ": error " << error;
            return;
        }
        EXPECT_EQ(error, TALIO_OK) << what;
        EXPECT_FALSE(colourPixelsOf(b).samples.empty()) << what;
        TALIO_FreeBuffer(b);
    };
    const size_t step = std::max<size_t>(1, whole.size() / 64);
    for (size_t length = 0; length < whole.size(); length += length < 64 ? 1 : step)
        tryLoad(Bytes(whole.begin(), whole.begin() + long(length)), "cut at " + std::to_string(length));
    ULONG state = seed * 2654435761u + 7;
    auto next = [&] { return state = state * 1103515245u + 12345u, state >> 8; };
    for (int variant = 0; variant < 300; variant++) {
        Bytes bytes = whole;
        for (ULONG n = 1 + next() % 3; n > 0; n--) {
            const size_t at =
                next() % 2 ? next() % std::min<size_t>(64, bytes.size()) : next() % bytes.size();
            bytes[at] = UBYTE(next());
        }
        tryLoad(bytes, "variant " + std::to_string(variant));
    }
}

} // namespace talio_test
