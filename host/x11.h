// The program's own connections to the X display (the SDL window's, the clipboard link's), inside the
// host layer. Xlib's process-wide handlers end the process when a request fails or a connection is lost;
// for a connection watched here a failed request is only noted on the debug output, and a lost one calls
// its handler in the thread that found it out. The handler must return: Xlib then lets every later call
// on that connection fail at once, and the owner closes it as usual.
#pragma once

struct SDL_Window;
struct SDL_SysWMmsg;

// `display` is an Xlib Display*. Watching it again replaces the handler.
using host__XConnectionLost = void (*)(void* display);
void host__WatchXConnection(void* display, host__XConnectionLost lost);
// After the connection is closed (a handler may run until then).
void host__UnwatchXConnection(void* display);

// The SDL window's side: its connection is watched, and its X window going away (destroyed by another
// program) counts as losing the display. `lost` gets why, in the display thread. SDL's system events are
// turned on; each must be handed to host__SdlX11Event. False (nothing watched) when the window is not on
// X11.
using host__DisplayLost = void (*)(const char* why);
bool host__WatchSdlX11Window(SDL_Window* window, host__DisplayLost lost);
void host__SdlX11Event(const SDL_SysWMmsg* message);
// Sleeps until the window's connection or wakeFd has something to read, or timeoutMs (-1: no limit);
// bytes on wakeFd are taken. SDL's own wait would be woken through a second connection of SDL's, which
// Xlib ends the process on when the display goes away.
void host__WaitSdlX11(int wakeFd, int timeoutMs);
// After SDL has closed its connection (or when it is left open because it was lost).
void host__UnwatchSdlX11Window();
