// The modal message box of the window system: a title, a text, an icon and OK / OK+Cancel / Yes+No.
//
// It needs no other window: the box is a shell window of its own, owned by the calling thread, which runs a
// nested message loop until the box is answered (Return = OK or Yes, Escape = Cancel or No, or a tap on a
// button). While it is up, input to other windows is dropped. One box is on the screen at a time; a box
// asked for by another thread waits for its turn. Every box is also written to standard error as
// "msgbox: TITLE | TEXT", so that scripts and tests can follow them.
#pragma once

#include "host/wm.h"

// Types.
constexpr ULONG HOST_MB_OK = 1;       // OK, exclamation icon (8 does the same)
constexpr ULONG HOST_MB_OKCANCEL = 2; // OK and Cancel, question icon (any other type does the same)
constexpr ULONG HOST_MB_YESNO = 4;    // Yes and No, question icon
constexpr ULONG HOST_MB_ALERT = 8;    // like HOST_MB_OK

// Title and text are Latin-1. Returns 1 for OK or Yes, else 0 (a box with OK only always returns 1).
LONG host_MessageBox(const char* title, const char* text, ULONG type);

// The next message box (in any thread) is answered at once with the button: 1 = OK or Yes, 0 = Cancel or
// No. Answers queue up in order. The box is still written to standard error.
void host_QueueMessageBoxAnswer(LONG button);
// For requesters that answer queued answers the same way: takes the oldest queued answer; false when none
// is queued.
bool host_TakeQueuedAnswer(LONG* button);

// The message box on the screen now, else none.
host_Window* host_GetMessageBox();
// The screen rectangle of a button of the box on the screen now (1 = OK or Yes, 0 = Cancel or No); false
// when there is no box or no such button.
bool host_GetMessageBoxButton(LONG button, host_Rect* rect);
