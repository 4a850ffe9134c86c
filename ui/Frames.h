// The interface's drawing operations: bevels, indents, background erasing and the frame styles. These
// leave the port's pens, draw mode and pen position as they found them.
#pragma once

#include "Tal/Tal.h"
#include "host/graphics.h"

constexpr ULONG TAL_DrawBackdrop = 0x000800A0; // (drawInfo, x, y, w, h, offset x, offset y)

void Tal_DrawBevel(Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h);  // outline in pen 1
void Tal_DrawIndent(Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h); // shade top-left, pen 1 bottom-right
// The object's backdrop draws the rectangle (offsets: the rectangle's place in the object's box); else
// with object colours its colour 1 or the first ancestor's that is set; else the background pen.
void Tal_EraseBackground(ULONG object, Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h);
void Tal_EraseObjectBackground(ULONG object, Tal_DrawInfo* di);
// The frame of a style (bit 7 ignored) round the box with the title centred (none or empty: no title).
// titleFlag is accepted for the callers' sake and not used.
void Tal_DrawFrame(ULONG object, Tal_DrawInfo* di, LONG x, LONG y, LONG w, LONG h, const char* title,
                   ULONG titleFlag, ULONG style);
