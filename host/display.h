// Display back ends: how the logical screen reaches the user.
//   SDL2: one window showing the screen zoomed, input from mouse and keyboard.
//   Headless: no display at all; input comes from a script.
#pragma once

#include "host/wm.h"

union SDL_Event;

struct host_DisplayOptions {
    LONG width = 240;
    LONG height = 320;
    int zoom = 0; // pixels per screen pixel; 0: the largest that fits the desktop
};

// Starts the SDL display thread; false (with the reason on the debug output) when no real display opens
// (SDL's off-screen and dummy drivers never count as one). The window shows the screen at the zoom asked
// for, made smaller (its aspect kept) where that does not fit the desktop's usable area, and placed inside
// that area. The user may resize it: the screen keeps its aspect, centred, and the pointer goes through
// the same mapping as the picture.
bool host_StartSDL(const host_DisplayOptions& options);
// Stops it (from any thread but the display thread).
void host_StopSDL();
// Set by the SDL back end when the user closes its window; the program then quits like after "quit".
using host_QuitHandler = void (*)();
void host_SetQuitHandler(host_QuitHandler handler);
host_QuitHandler host_GetQuitHandler();
// Called once, in the display thread, when the display is gone (its connection lost, or the window
// destroyed by another program), with why; the display thread has ended its work then. Without a handler
// the program would go on without a window.
using host_DisplayLostHandler = void (*)(const char* why);
void host_SetDisplayLostHandler(host_DisplayLostHandler handler);
host_DisplayLostHandler host_GetDisplayLostHandler();
// Hands an event to the SDL display thread as if the display had sent it (SDL_PushEvent alone does not
// wake the thread). False when it was not taken.
bool host_PushSDLEvent(SDL_Event* event);

// Writes the composed logical screen as a 24-bit BMP or a binary PPM (by the file's extension);
// false when the file cannot be written (the old file stays).
bool host_SaveScreenshot(const char* fileName);
// Whether a screenshot can be written under the name: its extension is .bmp or .ppm (or .pnm), any case.
bool host_IsScreenshotName(const char* fileName);

// Opens the help pages (Help/TableOfContents.htm below the installation directory) in the desktop's
// browser.
void host_OpenHelp();

// Idle: every host queue empty and waiting, every task (except the caller's) asleep in Wait or Delay.
bool host_Idle();
