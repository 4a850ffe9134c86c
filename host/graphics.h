// Drawing: ports with two pens, a draw mode and a pen position that draw into the 32-bit surface of a
// layer; text through FreeType; planar bitmaps; single-rectangle clip regions; off-screen video data;
// pointer shapes; and the interface's frames, bevels and background erasing.
#pragma once

#include "Tal/TalBase.h"
#include "host/surface.h"

#include <atomic>
#include <mutex>

struct Screen;
struct Window;
struct ColorMap;
struct Task;
struct Tal_Box;
struct Tal_Semaphore;
struct host_Font;

// ---------------------------------------------------------------------------------------------------
// Start and end (counted: every init_graphics is matched by one cleanup_graphics).

// Reads the display depth and opens the interface font. Returns 1, or 0 when no font could be found
// (drawing works, text draws nothing). The last cleanup_graphics releases the interface font: no text may
// be drawn or measured meanwhile.
ULONG init_graphics();
void cleanup_graphics();

// Bits per pixel of the display: 24, or 8 or 16 when VELURA_DISPLAY_DEPTH says so (read by the first
// init_graphics; read afresh on every call while graphics are not initialised).
LONG host_DisplayDepth();

// ---------------------------------------------------------------------------------------------------
// Pens and draw modes.

// A pen with this bit is a direct colour: red in bits 0-7, green 8-15, blue 16-23 (the program's
// 0x00BBGGRR order). Other pens index the screen's colour table (0 background, 1 black, 2 white, 3).
constexpr ULONG PEN_DIRECT = 0x02000000;
constexpr ULONG host_DirectPen(ULONG colour) {
    return PEN_DIRECT | (colour & 0x00FFFFFF);
}

// Draw modes.
constexpr UBYTE JAM1 = 0;       // foreground only; text background transparent
constexpr UBYTE JAM2 = 1;       // foreground and background (opaque text on the B pen)
constexpr UBYTE COMPLEMENT = 2; // rectangles and lines invert the pixels below

// The colour of a table pen of the screen's table (pens 0..3); the window system sets the screen's
// background. Ports without a screen use the fixed default table (white, black, white, 0xFFB43C).
void host_SetScreenPenColour(ULONG pen, ULONG colour);

// ---------------------------------------------------------------------------------------------------
// Rectangles, regions and layers.

struct Rectangle {
    WORD MinX, MinY, MaxX, MaxY; // inclusive
};

// A single rectangle.
struct Region {
    Rectangle bounds;
};

Region* NewRegion();                                       // zeroed; none when memory runs out
void ClearRegion(Region* region);                          // (0, 0)-(32767, 32767)
ULONG OrRectRegion(Region* region, const Rectangle* rect); // INTERSECTS with the rectangle; returns 1
void DisposeRegion(Region* region);

// The device a port draws into: a window's surface (window outer coordinates = surface coordinates),
// with the installed clip rectangle and, while refreshing, the refresh rectangle. Every drawing
// operation holds the lock while it touches pixels; whoever reads the surface for display (or swaps it)
// takes it too. `changes` counts drawing operations so that a presenter knows when to show the surface.
struct Layer {
    explicit Layer(host_Surface* s = nullptr) : surface(s) {}
    host_Surface* surface;
    Region* clipRegion = nullptr; // the installed region (its rectangle is copied into clip)
    ULONG clipped = 0;
    Rectangle clip{0, 0, 0, 0};
    ULONG refreshing = 0;
    Rectangle refresh{32767, 32767, 0, 0};
    std::mutex lock;
    std::atomic<ULONG> changes{0};
};

// Replaces the surface under the layer lock (a window that changed size); returns the old one.
host_Surface* host_SetLayerSurface(Layer* layer, host_Surface* surface);

// Restricts drawing to the region's rectangle (copied now; none removes the restriction). Returns the
// region installed before, so that the caller can put it back.
Region* InstallClipRegion(Layer* layer, Region* region);

// A refresh: drawing is also clipped to the rectangle (inclusive) until EndRefresh, which leaves the
// refresh rectangle empty (min 32767, max 0).
void host_BeginRefresh(Layer* layer, const Rectangle& rect);
void host_EndRefresh(Layer* layer);

// Moves the pixels of the rectangle (inclusive, clipped like drawing) by (-dx, -dy). Pixels that nothing
// moved into keep their values; their bounding rectangle goes to *exposed (empty: MinX > MaxX) so that
// the window system can have it redrawn. Returns 1 when anything moved.
ULONG host_ScrollLayer(Layer* layer, LONG dx, LONG dy, LONG x0, LONG y0, LONG x1, LONG y1,
                       Rectangle* exposed);

// ---------------------------------------------------------------------------------------------------
// Drawing ports.

struct RastPort {
    ULONG FgPen;               // A pen
    ULONG BgPen;               // B pen
    ULONG AOlPen;              // outline pen of filled ellipses
    UBYTE DrawMode;            // JAM1, JAM2 or COMPLEMENT
    WORD cp_x, cp_y;           // pen position
    UWORD TxHeight;            // font height
    Screen* rp_Screen;         // whose colour table the pens index; may be none
    Layer* rp_Layer;           // where the pixels go; none draws nothing
    Window* rp_Window;         // the host window
    host_Font* rp_RotatedFont; // font of rotated text; none = the interface font
};

// Pens 1 (A), 0 (B), 1 (outline), draw mode JAM2, pen position (0, 0), the interface font's height,
// no screen, layer, window or rotated font.
void InitRastPort(RastPort* rp);
void SetAPen(RastPort* rp, ULONG pen);
void SetBPen(RastPort* rp, ULONG pen);
void SetOutlinePen(RastPort* rp, ULONG pen);
void SetABPenDrMd(RastPort* rp, ULONG a, ULONG b, ULONG mode);
void SetDrMd(RastPort* rp, ULONG mode);
ULONG GetDrMd(const RastPort* rp);
void Move(RastPort* rp, LONG x, LONG y);
void SetFont(RastPort* rp, const void* font); // no effect: text uses the window's font

// The program colour (0x00BBGGRR) a pen stands for in this port.
ULONG host_PenColour(const RastPort* rp, ULONG pen);

// Pens never allocate: the direct pen made of the high bytes of the 32-bit components.
ULONG ObtainBestPenA(ColorMap* colourMap, ULONG r, ULONG g, ULONG b, const TagItem* tags);
ULONG ObtainBestPen(ColorMap* colourMap, ULONG r, ULONG g, ULONG b);
// Red, green and blue of `count` pens from `first` as left-justified 32-bit values (3 per pen), from
// the screen's table (the default table when colourMap is none); direct pens give their colour.
void GetRGB32(const ColorMap* colourMap, ULONG first, ULONG count, ULONG* table);

// ---------------------------------------------------------------------------------------------------
// Drawing. Coordinates are the window's outer coordinates; everything clips to the surface, the
// installed clip rectangle and, while refreshing, the refresh rectangle.

void RectFill(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1);  // corners in any order, inclusive
void EraseRect(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1); // RectFill with pen 0 (A pen left 0)
void WritePixel(RastPort* rp, LONG x, LONG y);
// The program colour at the point, 0xFFFFFFFF outside the surface.
ULONG ReadRGBPixel(RastPort* rp, LONG x, LONG y);
// Fills w × h pixels with a program colour whatever the draw mode; returns w × h (0 for none port).
LONG FillPixelArray(RastPort* rp, LONG x, LONG y, LONG w, LONG h, ULONG colour);

// Horizontal and vertical lines and points are inclusive rectangles; a slanted line is drawn without
// its last pixel. Draw mode COMPLEMENT inverts. The port's A pen is not changed.
void DrawLine(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1, ULONG pen);
// Line in the A pen from the pen position to (x, y), which becomes the pen position. Like the host's
// line drawing it leaves out its last pixel in every direction, so that joined lines (outlines, curves,
// complement previews) touch every pixel once.
void Draw(RastPort* rp, LONG x, LONG y);
void DrawEllipse(RastPort* rp, LONG cx, LONG cy, LONG rx, LONG ry);
// Filled ellipse in the box (cx - rx, cy - ry)-(cx + rx, cy + ry): interior A pen, outline AOlPen.
void Tal_FillEllipse(RastPort* rp, LONG cx, LONG cy, LONG rx, LONG ry);
// The same for any box (inclusive corners, any order).
void host_FillEllipseBox(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1);
void Tal_DrawBezier(RastPort* rp, LONG x0, LONG y0, LONG mx, LONG my, LONG x1, LONG y1, LONG steps);
// Checkerboard of the A pen (where x + y is even) and the B pen over (x0, y0)-(x1, y1) inclusive.
void Tal_FillHatchedRectangle(RastPort* rp, LONG x0, LONG y0, LONG x1, LONG y1);
// Scrolls the rectangle by (-dx, -dy) and fills what was uncovered with the B pen.
void ScrollRaster(RastPort* rp, LONG dx, LONG dy, LONG x0, LONG y0, LONG x1, LONG y1);

// ---------------------------------------------------------------------------------------------------
// Text: 8-bit Latin-1 at the pen position (top-left of the text) in the A pen, on the B pen in JAM2.

struct TextExtent {
    UWORD te_Width;
    UWORD te_Height;
    Rectangle te_Extent;
};

LONG Text(RastPort* rp, const char* text, ULONG length);       // returns the width; pen moves by it
LONG TextLength(RastPort* rp, const char* text, ULONG length); // width in pixels
// The longest prefix (count, count - 1, ...) not wider than maxWidth; 0 when none fits. The extent of
// that prefix goes to textExtent when given; the constraining extent, direction and height are unused.
ULONG TextFit(RastPort* rp, const char* text, ULONG count, TextExtent* textExtent,
              const TextExtent* constrainingExtent, LONG direction, ULONG maxWidth, ULONG maxHeight);
// Angle 270 draws the text reading upwards, its first character at the pen position moved down by the
// text's width, the glyphs' tops to the left (the text spans x .. x + font height). Other angles draw
// nothing. Returns the width; the pen position stays.
LONG Tal_DrawRotatedText(RastPort* rp, const char* text, ULONG length, LONG angle);

// Fonts. Every font function is safe from any thread.
struct host_Glyph {
    LONG width, height, pitch; // coverage bitmap, 0..255
    LONG left, top;            // from the pen position on the baseline to the bitmap's top-left (top up)
    LONG advance;
    const UBYTE* coverage;
};

constexpr ULONG HOST_FONT_BOLD = 1;
constexpr ULONG HOST_FONT_ITALIC = 2;
constexpr ULONG HOST_FONT_UNDERLINE = 4;

// The interface font (DejaVu Sans, 11 pixels), opened on first use; none when no font exists.
host_Font* host_InterfaceFont();
// A font by family name (through fontconfig, falling back to sans) at a pixel size (the em), with the
// style bits above. None for an empty name, a size outside 1..2048 or when nothing can be opened.
host_Font* host_OpenFont(const char* name, LONG pixelSize, ULONG style);
void host_CloseFont(host_Font* font);
LONG host_FontHeight(const host_Font* font); // ascent + descent
LONG host_FontAscent(const host_Font* font);
// The glyph of a Latin-1 character, cached for the font's life; none when the font has none.
const host_Glyph* host_FontGlyph(host_Font* font, UBYTE ch);
LONG host_FontTextWidth(host_Font* font, const char* text, ULONG length);
// Adds the text's coverage (white on black, saturating) into an 8-bit image of width × height bytes
// rows bytesPerRow apart, the text's top-left at (x, y); underlines when the font asks for it. Returns
// the width of the text.
LONG host_RenderTextCoverage(host_Font* font, const char* text, ULONG length, UBYTE* image, LONG width,
                             LONG height, LONG bytesPerRow, LONG x, LONG y);

// ---------------------------------------------------------------------------------------------------
// Pixel blocks.

constexpr ULONG RECTFMT_BGR = 0;  // 3 bytes per pixel: blue, green, red
constexpr ULONG RECTFMT_BGRA = 1; // 4 bytes per pixel: blue, green, red, unused

// An off-screen pixel buffer (rows top-down, each a multiple of 4 bytes) that the image display builds
// its bands in. Pixels of 8 bits are grey levels, 16 bits 5-6-5 (red high), 24 bits blue, green, red,
// 32 bits blue, green, red, unused.
struct Tal_VideoData {
    UBYTE* bits;
    LONG width, height;
    ULONG bitsPerPixel;
    ULONG bytesPerRow;
};

// None unless the size is 1..32767 and the depth 8, 16, 24 or 32, or when memory runs out.
Tal_VideoData* Tal__AllocVideoData(Screen* screen, LONG width, LONG height, ULONG bitsPerPixel, UBYTE** bits,
                                   ULONG* bytesPerRow);
void Tal__FreeVideoData(Tal_VideoData* video);

// Copies w × h pixels into the port at (x, y) from the block's pixel (srcX, srcY), rows bytesPerRow
// apart (the block is bytesPerRow ÷ bytes-per-pixel pixels wide; columns beyond it are not drawn).
// Returns w × h, or 0 for a format other than RECTFMT_BGR / RECTFMT_BGRA or bad arguments.
LONG WritePixelArray(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x, LONG y,
                     LONG w, LONG h, ULONG format);
// The same from a video-data buffer (data and bytesPerRow are the buffer's; the arguments are unused).
LONG WritePixelArray(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x, LONG y,
                     LONG w, LONG h, const Tal_VideoData* video);
// Neither scales: both are WritePixelArray.
LONG ScalePixelArray(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x, LONG y,
                     LONG w, LONG h, ULONG format);
LONG MyScalePixelArray(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x, LONG y,
                       LONG w, LONG h, ULONG format);
// RECTFMT_BGR block copied without the pixels of the key colour (0x00BBGGRR): the interface's built-in
// pictures are drawn so.
LONG host_WritePixelArrayKeyed(const void* data, LONG srcX, LONG srcY, LONG bytesPerRow, RastPort* rp, LONG x,
                               LONG y, LONG w, LONG h, ULONG keyColour);

// ---------------------------------------------------------------------------------------------------
// Planar bitmaps.

struct BitMap {
    UWORD BytesPerRow; // width rounded up to 32 pixels, in bytes
    UWORD Rows;
    UBYTE Flags;
    UBYTE Depth;
    UWORD pad;
    UBYTE* Planes[8]; // depth above 8: Planes[0] holds all planes one after the other
};

constexpr ULONG BMA_HEIGHT = 0;
constexpr ULONG BMA_DEPTH = 4;
constexpr ULONG BMA_WIDTH = 8;
constexpr ULONG BMA_FLAGS = 12;

// One zeroed block with the record and all planes; none unless width and height are 1..32767 and the
// depth 1..32, or when memory runs out.
BitMap* AllocBitMap(ULONG width, ULONG height, ULONG depth, ULONG flags);
void FreeBitMap(BitMap* bitmap);
ULONG GetBitMapAttr(const BitMap* bitmap, ULONG attr);

// A bitmap header for drawing a planar bitmap: width, negative height (rows top-down), one plane, the
// depth as bits per pixel, and a zeroed 256-entry palette of program colours.
struct host_BitmapInfo {
    LONG width;
    LONG height;
    UWORD planes;
    UWORD bitCount;
    ULONG palette[256];
};
host_BitmapInfo* alloc_bitmapinfo(const BitMap* bitmap);
void free_bitmapinfo(host_BitmapInfo* info);

// One byte per pixel from depth planes (1..8) that follow each other, each rows × planeStride bytes,
// the leftmost pixel in the top bit of a row's first byte; pixel value bit k comes from plane k. Writes
// exactly `width` bytes to each of the rows outStride apart (never more, whatever the plane stride) and
// reads at most planeStride bytes of each plane row. Returns 0 and writes nothing for another depth or a
// plane row too short for the width.
ULONG planar_to_chunky(const UBYTE* planes, UBYTE* out, ULONG width, ULONG rows, ULONG depth,
                       ULONG planeStride, ULONG outStride);

// ---------------------------------------------------------------------------------------------------
// Pointer shapes.

enum class host_Pointer {
    Arrow,
    Move,
    Busy,
    Cross,
    TextBeam,
    ResizeHorizontal,
    ResizeVertical,
    ResizeDiagonalDown,
    ResizeDiagonalUp
};

// The pointer for a shape number of the window pointer setting: 1 move, 2 busy, 3 cross, 4 text beam,
// 5 and 6 horizontal, 7 and 8 vertical, 9 and 12 diagonal "\", 10 and 11 diagonal "/", others the arrow.
host_Pointer host_PointerForShape(ULONG shape);

// ---------------------------------------------------------------------------------------------------
// Drawing context of a window, handed to the drawing methods of objects.

struct Tal_DrawInfo {
    Screen* screen;
    Window* window;
    RastPort* rastPort;
    LONG fontHeight;
    ULONG reserved1;  // 0
    LONG frameWidth;  // 2
    LONG frameHeight; // 2
    ULONG shadePen;   // the background darkened, for recessed edges; 0 = none
    ULONG reserved2;  // 0
    ULONG backgroundPen;
    ULONG midGreyPen;  // also the hatch pen
    ULONG reserved3;   // 2
    ULONG darkGreyPen; // also the disabled pen
    ULONG windowObject;
    Tal_Box* box; // of the object drawing now
    ULONG screenObject;
    ULONG useColours; // 1: object colours are used
    Tal_Semaphore* windowLock;
    LONG pendingRedraws;
    Task* eventTask;
    bool lockMissed; // a draw found the window locked by another thread: the event thread tries again soon
};

// A context for a port with the usual values: frame 2 × 2, background pen 0, the port's font height,
// grey pens as direct colours; everything else 0.
void host_InitDrawInfo(Tal_DrawInfo* di, RastPort* rp);
