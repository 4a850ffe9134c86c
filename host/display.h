// Display back ends: how the logical screen reaches the user.
//   SDL2: one window showing the screen scaled by an integer zoom, input from mouse and keyboard.
//   Headless: no display at all; input comes from a script.
#pragma once

#include "host/wm.h"

struct host_DisplayOptions {
    LONG width = 240;
    LONG height = 320;
    int zoom = 2;
};

// Starts the SDL display thread; false (with the reason on the debug output) when there is no display.
bool host_StartSDL(const host_DisplayOptions& options);
// Stops it (from any thread but the display thread).
void host_StopSDL();
// Set by the SDL back end when the user closes its window; the program then quits like after "quit".
using host_QuitHandler = void (*)();
void host_SetQuitHandler(host_QuitHandler handler);
host_QuitHandler host_GetQuitHandler();

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
