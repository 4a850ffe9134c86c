// The pictures built into the program: the tool-bar and tab pictures, drawn here as pixel art for the
// 240 × 320 screen (16 × 16, one pixel = one screen pixel, so that they stay crisp at every zoom). They
// need no file: a BitMap given one of their names shows them.
#include "ui/Pages.h"

#include <mutex>
#include <vector>
#include <array>
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

namespace {

constexpr int kSize = 16;

// One letter per pixel; '.' is the transparent key colour.
struct PaletteEntry {
    char letter;
    UBYTE r, g, b;
};
constexpr PaletteEntry kPalette[] = {
    {'.', 189, 189, 189}, {'#', 0, 0, 0},      {'w', 255, 255, 255}, {'l', 224, 224, 224},
    {'g', 150, 150, 150}, {'d', 88, 88, 88},   {'r', 222, 40, 40},   {'R', 140, 16, 16},
    {'o', 245, 145, 30},  {'y', 252, 218, 52}, {'n', 214, 166, 104}, {'b', 140, 84, 36},
    {'G', 44, 170, 64},   {'e', 20, 104, 36},  {'B', 36, 96, 228},   {'c', 150, 196, 252},
    {'N', 20, 36, 120},   {'m', 206, 60, 206}, {'p', 250, 176, 196}, {'s', 172, 184, 200},
};

constexpr const PaletteEntry* entryFor(char letter) {
    for (const PaletteEntry& e : kPalette)
        if (e.letter == letter) return &e;
    return nullptr;
}

struct Art {
    const char* name;
    const char* rows[kSize];
};

// clang-format off
constexpr Art kArt[TAL_BUILTIN_PICTURES] = {
    {"Data/Images/ToolBar/Clone",
     {"................",
      "......####......",
      ".....#nnnn#.....",
      ".....#nwnn#.....",
      ".....#nnnn#.....",
      "......#nn#......",
      "......#nn#......",
      "...##########...",
      "..#bnnnnnnnnb#..",
      "..#bbbbbbbbbb#..",
      "..############..",
      "...#rrrrrrrr#...",
      "...##########...",
      "................",
      "..rr.rrrrrr.rr..",
      "................"}},
    {"Data/Images/ToolBar/ColourPicker",
     {"............##..",
      "...........#dd#.",
      "..........#dddd#",
      ".........##ddd#.",
      ".........#ggd#..",
      "........#wc##...",
      ".......#wc#.....",
      "......#wc#......",
      ".....#rc#.......",
      "....#rr#........",
      "...#rr#.........",
      "..#rr#..........",
      "..#r#...........",
      "..##............",
      "..r.............",
      ".rrr............"}},
    {"Data/Images/ToolBar/Crop",
     {"...##...........",
      "...##...........",
      "...##...........",
      "#############...",
      "#############...",
      "...##......##...",
      "...##......##...",
      "...##......##...",
      "...##......##...",
      "...##......##...",
      "...##......##...",
      "...#############",
      "...#############",
      "...........##...",
      "...........##...",
      "...........##..."}},
    {"Data/Images/ToolBar/Curve",
     {"................",
      "................",
      "................",
      "......####......",
      ".....#....#.....",
      "....#......#....",
      "...#........#...",
      "...#........#...",
      "..#..........#..",
      "..#..........#..",
      ".#............#.",
      ".#............#.",
      "###..........###",
      "#w#..........#w#",
      "###..........###",
      "................"}},
    {"Data/Images/ToolBar/DrawMain",
     {"................",
      "............##..",
      "...........#pp#.",
      "..........#ppp#.",
      ".........#sss#..",
      "........#yyo#...",
      ".......#yyo#....",
      "......#yyo#.....",
      ".....#yyo#......",
      "....#yyo#.......",
      "...#yyo#........",
      "..#nnn#.........",
      ".#nn#...........",
      ".#d#............",
      ".##.............",
      "................"}},
    {"Data/Images/ToolBar/DrawNormal",
     {"................",
      "................",
      "................",
      "........NN......",
      "..NN...NNNN.....",
      ".NNNN..NN.NN..N.",
      ".N..N..N...N.NN.",
      ".N..NN.N...NNN..",
      "NN...NNN....N...",
      "N.....N.........",
      "................",
      "................",
      "................",
      "................",
      "................",
      "................"}},
    {"Data/Images/ToolBar/DrawFilled",
     {"................",
      "................",
      "................",
      "....###.....###.",
      "...#BBB##..#BB#.",
      "..#BBBBBB##BBB#.",
      "..#BBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBB#..",
      ".#BBBBBBBBBBB#..",
      "..#BBB###BBB#...",
      "..###...#BB#....",
      ".........##.....",
      "................",
      "................"}},
    {"Data/Images/ToolBar/EllipseMain",
     {"................",
      "...#####........",
      ".##BBBBB##......",
      "#BBBBBBBBB#.....",
      "#BBBBBBBBB#.....",
      "#BBBBBBBBB#.....",
      "#BBBBBBBBB#.....",
      ".##BBBBB#####...",
      "...#####.....##.",
      ".....#.........#",
      ".....#.........#",
      ".....#.........#",
      ".....#.........#",
      "......##.....##.",
      "........#####...",
      "................"}},
    {"Data/Images/ToolBar/EllipseFilled",
     {"................",
      "................",
      ".....######.....",
      "...##BBBBBB##...",
      "..#BBBBBBBBBB#..",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      "..#BBBBBBBBBB#..",
      "...##BBBBBB##...",
      ".....######.....",
      "................",
      "................",
      "................"}},
    {"Data/Images/ToolBar/EllipseUnfilled",
     {"................",
      "................",
      ".....######.....",
      "...##......##...",
      "..#..........#..",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      "..#..........#..",
      "...##......##...",
      ".....######.....",
      "................",
      "................",
      "................"}},
    {"Data/Images/ToolBar/Fill",
     {"......##........",
      ".....#..#.......",
      "....#..#B#......",
      "...#..#sBB#.....",
      "..#..#sssBB#....",
      "..#.#sssssBB#...",
      "...#sssssssBB#..",
      "....#sssssss#B..",
      ".....#sssss#.B..",
      "......#sss#..B..",
      ".......#s#...B..",
      "........#....B..",
      ".............B..",
      "...........BBBB.",
      ".........BBBBBBB",
      "................"}},
    {"Data/Images/ToolBar/Line",
     {"................",
      "............###.",
      "............#w#.",
      "............###.",
      "...........##...",
      "..........##....",
      ".........##.....",
      "........##......",
      ".......##.......",
      "......##........",
      ".....##.........",
      "....##..........",
      ".####...........",
      ".#w#............",
      ".###............",
      "................"}},
    {"Data/Images/ToolBar/Magnify",
     {"................",
      "....#####.......",
      "..##ccccc##.....",
      ".#cwwcccccc#....",
      ".#cwccccccc#....",
      "#ccccccccccc#...",
      "#ccccccccccc#...",
      "#ccccccccccc#...",
      ".#ccccccccc#....",
      ".#ccccccccc#....",
      "..##ccccc###....",
      "....#####.bbb...",
      "...........bbb..",
      "............bbb.",
      ".............bbb",
      "..............bb"}},
    {"Data/Images/ToolBar/PolygonMain",
     {"................",
      "................",
      ".....#..........",
      "....#B#.........",
      "...#BBB#........",
      "..#BBBBB#.......",
      ".#BBBBBB########",
      "###########....#",
      "......#........#",
      ".....#.........#",
      ".....#.........#",
      ".....#.........#",
      ".....#........#.",
      ".....#.......#..",
      ".....########...",
      "................"}},
    {"Data/Images/ToolBar/PolygonUnfilled",
     {"................",
      "................",
      "......#########.",
      ".....#........#.",
      "....#.........#.",
      "...#..........#.",
      "..#...........#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#...........#..",
      ".#..........#...",
      ".#.........#....",
      ".##########.....",
      "................"}},
    {"Data/Images/ToolBar/PolygonFilled",
     {"................",
      "................",
      "......#########.",
      ".....#BBBBBBBB#.",
      "....#BBBBBBBBB#.",
      "...#BBBBBBBBBB#.",
      "..#BBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBB#..",
      ".#BBBBBBBBBB#...",
      ".#BBBBBBBBB#....",
      ".##########.....",
      "................"}},
    {"Data/Images/ToolBar/Position",
     {".......##.......",
      "......####......",
      ".....######.....",
      ".......##.......",
      ".......##.......",
      "..#....##....#..",
      ".##....##....##.",
      "################",
      "################",
      ".##....##....##.",
      "..#....##....#..",
      ".......##.......",
      ".......##.......",
      ".....######.....",
      "......####......",
      ".......##......."}},
    {"Data/Images/ToolBar/Rectangle/Main",
     {"................",
      "###########.....",
      "#BBBBBBBBB#.....",
      "#BBBBBBBBB#.....",
      "#BBBBBBBBB#.....",
      "#BBBBBBBBB#.....",
      "#BBBB###########",
      "#BBBB#BBBB#....#",
      "###########....#",
      ".....#.........#",
      ".....#.........#",
      ".....#.........#",
      ".....#.........#",
      ".....#.........#",
      ".....###########",
      "................"}},
    {"Data/Images/ToolBar/Rectangle/Outlined",
     {"................",
      "................",
      "................",
      ".##############.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".#............#.",
      ".##############.",
      "................",
      "................",
      "................"}},
    {"Data/Images/ToolBar/Rectangle/Solid",
     {"................",
      "................",
      "................",
      ".##############.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".#BBBBBBBBBBBB#.",
      ".##############.",
      "................",
      "................",
      "................"}},
    {"Data/Images/ToolBar/Symmetry",
     {"................",
      ".......BB.......",
      "..r....BB....r..",
      "...r...BB...r...",
      "....r..BB..r....",
      ".....r.BB.r.....",
      "......rBBr......",
      ".BBBBBBBBBBBBBB.",
      ".BBBBBBBBBBBBBB.",
      "......rBBr......",
      ".....r.BB.r.....",
      "....r..BB..r....",
      "...r...BB...r...",
      "..r....BB....r..",
      ".......BB.......",
      "................"}},
    {"Data/Images/ToolBar/Text",
     {"................",
      "................",
      "......###.......",
      "......###.......",
      ".....##.##......",
      ".....##.##......",
      "....##...##.....",
      "....##...##.....",
      "...##.....##....",
      "...#########....",
      "..##.......##...",
      "..##.......##...",
      ".##.........##..",
      "####.......####.",
      "................",
      "................"}},
    {"Data/Images/Tabs/Colour",
     {"................",
      ".....####.......",
      "...##nnnn###....",
      "..#nnrrnnyyn#...",
      "..#nnrrnnyynn#..",
      "..#nnnnnnnnnnn#.",
      "..#BBnnnnnnGGn#.",
      "..#BBnn##nnGGn#.",
      "..#nnn#..#nnnn#.",
      "..#nnn#..#nnnn#.",
      "..#nnnn##nnmmn#.",
      "..#nn##nnnnmm#..",
      "..#n#..#nnn##...",
      "...#...####.....",
      "................",
      "................"}},
    {"Data/Images/Tabs/ImageControl256",
     {"................",
      "################",
      "#cccccccccccccc#",
      "#cwwcccccccyycc#",
      "#wwwwcccccyyyyc#",
      "#cccccccccyyyyc#",
      "#ccccGcccccyycc#",
      "#cccGGGccccccGc#",
      "#ccGGGGGccccGGG#",
      "#cGGGGGGGccGGGG#",
      "#GGGGGGGGGGGGGG#",
      "#eGGGGeeGGGGGee#",
      "#eeeGGeeeeeGeee#",
      "#eeeeeeeeeeeeee#",
      "################",
      "................"}},
    {"Data/Images/Tabs/Media",
     {".............##.",
      "............#bb#",
      "...........#bb#.",
      "..........#bb#..",
      ".........#bb#...",
      "........#bb#....",
      ".......#bb#.....",
      "......#sss#.....",
      ".....#ssss#.....",
      "....#dddd#......",
      "...#dddd#.......",
      "..#dddd#........",
      ".#rddd#.........",
      ".#rrr#..........",
      ".#rr#...........",
      ".##............."}},
    {"Data/Images/Tabs/ModeOptions",
     {"................",
      ".....######.....",
      "...#####www##...",
      "..######wwww##..",
      "..######wwwww#..",
      ".#######wwwwww#.",
      ".#######wwwwww#.",
      ".#######wwwwww#.",
      ".#######wwwwww#.",
      ".#######wwwwww#.",
      ".#######wwwwww#.",
      "..######wwwww#..",
      "..######wwww##..",
      "...#####www##...",
      ".....######.....",
      "................"}},
    {"Data/Images/Tabs/ToolOptions",
     {"...###..........",
      "...#w#..........",
      ".dd#w#ddddddddd.",
      "...#w#..........",
      "...###..........",
      ".........###....",
      ".........#w#....",
      ".dddddddd#w#ddd.",
      ".........#w#....",
      ".........###....",
      "......###.......",
      "......#w#.......",
      ".ddddd#w#dddddd.",
      "......#w#.......",
      "......###.......",
      "................"}},
    {"Data/Images/Tabs/Transparency",
     {"################",
      "#wwwgggwwwgggww#",
      "#wwwgggwwwgggww#",
      "#wwwgggwwwgggww#",
      "#gggwwwgggwwwgg#",
      "#gggwwwrrrpppgg#",
      "#gggwwprrrppprg#",
      "#wwwgrrppprrrpp#",
      "#wwwgrrppprrrpp#",
      "#wwwgrrppprrrpp#",
      "#gggwpprrrppprr#",
      "#gggwpprrrppprr#",
      "#gggwpprrrppprr#",
      "#wwwggrppprrrpw#",
      "#wwwgggppprrrww#",
      "################"}},
};
// clang-format on

// Every row must be 16 letters of the palette: checked when the program is compiled.
constexpr bool artIsWellFormed() {
    for (const Art& art : kArt)
        for (const char* row : art.rows) {
            int n = 0;
            for (const char* p = row; *p; p++, n++)
                if (!entryFor(*p)) return false;
            if (n != kSize) return false;
        }
    return true;
}
static_assert(artIsWellFormed(), "a built-in picture has a row of the wrong length or an unknown letter");

constexpr LONG kBytesPerRow = kSize * 3; // 48: already a multiple of 4

struct Pictures {
    std::array<std::array<UBYTE, kBytesPerRow * kSize>, TAL_BUILTIN_PICTURES> pixels{};
    std::array<Tal_BuiltInPicture, TAL_BUILTIN_PICTURES> records{};
};

const Pictures& pictures() {
    static const Pictures built = [] {
        Pictures p;
        for (size_t i = 0; i < TAL_BUILTIN_PICTURES; i++) {
            UBYTE* out = p.pixels[i].data();
            for (const char* row : kArt[i].rows)
                for (const char* c = row; *c; c++) {
                    const PaletteEntry* e = entryFor(*c);
                    *out++ = e->b;
                    *out++ = e->g;
                    *out++ = e->r;
                }
            p.records[i] = {kArt[i].name, kSize, kSize, p.pixels[i].data(), kBytesPerRow};
        }
        return p;
    }();
    return built;
}

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (std::tolower(UBYTE(a[i])) != std::tolower(UBYTE(b[i]))) return false;
    return true;
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && sameName(text.substr(0, prefix.size()), prefix);
}

} // namespace

std::string Tal__PictureName(const char* name) {
    std::string out(name ? name : "");
    for (char& c : out)
        if (c == '\\') c = '/';
    for (auto [prefix, below] : {std::pair{"Tal_Images:", "Data/Images/"}, std::pair{"Velura:", ""}}) {
        if (!startsWith(out, prefix)) continue;
        size_t rest = std::strlen(prefix);
        while (rest < out.size() && out[rest] == '/') rest++;
        return below + out.substr(rest);
    }
    return out;
}

namespace {

struct ProgramPicture {
    ULONG handle;
    Tal_PictureSource source;
};
std::mutex programPicturesLock;
std::vector<ProgramPicture> programPictures;

Tal_PictureSource programPicture(ULONG handle) {
    std::lock_guard lock(programPicturesLock);
    for (const ProgramPicture& p : programPictures)
        if (p.handle == handle) return p.source;
    return nullptr;
}

} // namespace

void Tal_AddProgramPicture(ULONG handle, Tal_PictureSource source) {
    std::lock_guard lock(programPicturesLock);
    for (ProgramPicture& p : programPictures)
        if (p.handle == handle) {
            p.source = source;
            return;
        }
    programPictures.push_back({handle, source});
}

const Tal_BuiltInPicture* Tal__GetBuiltInPicture(ULONG handle) {
    if (Tal_PictureSource source = programPicture(handle)) return source();
    if (handle < 1 || handle > TAL_BUILTIN_PICTURES) return nullptr;
    return &pictures().records[handle - 1];
}

ULONG Tal_FindBuiltInPicture(const char* name) {
    if (!name) return 0;
    const std::string wanted = Tal__PictureName(name);
    for (ULONG i = 0; i < TAL_BUILTIN_PICTURES; i++)
        if (sameName(wanted, kArt[i].name)) return i + 1;
    return 0;
}
