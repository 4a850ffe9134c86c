// The Window and Screen classes, and the drawing-context helpers every visible class uses.
#pragma once

#include "Tal/Tal.h"
#include "host/graphics.h"
#include "host/intuition.h"
#include "ui/Frames.h"

// The input event offered to objects (Tal_HandleIDCMP), built by a window's event thread for each input
// message. The pointer is relative to the window's inner area.
struct Tal_InputEvent {
    Message header;
    Window* window;
    ULONG Class;
    UWORD Code;
    UWORD Qualifier;
    void* IAddress;
    WORD MouseX, MouseY;
    ULONG Seconds, Micros;
    void* UpdateInfo;
};

// Window methods.
constexpr ULONG TAL_OpenWindow = 0x00090028;
constexpr ULONG TAL_CloseWindow = 0x00090032;
constexpr ULONG TAL_WindowActivated = 0x000900C8;
constexpr ULONG TAL_WindowDeactivated = 0x000900C9;
constexpr ULONG TAL_ChildWindowsClosed = 0x000900D2;
constexpr ULONG TAL_SetWindowTitle = 0x000900DC;
constexpr ULONG TAL_SetWindowType = 0x000900F0;
constexpr ULONG TAL_GetWindowType = 0x000900FA;
constexpr ULONG TAL_SetWindowFlags2 = 0x00090104;
constexpr ULONG TAL_GetWindowFlags2 = 0x0009010E;
constexpr ULONG TAL_SetWindowAnchor = 0x00090118;
constexpr ULONG TAL_GetWindowAnchor = 0x00090122;
constexpr ULONG TAL_SetWindowBox = 0x0009012C;
constexpr ULONG TAL_SetWindowX = 0x00090140;
constexpr ULONG TAL_GetWindowX = 0x0009014A;
constexpr ULONG TAL_SetWindowY = 0x00090154;
constexpr ULONG TAL_GetWindowY = 0x0009015E;
constexpr ULONG TAL_SetWindowW = 0x00090168;
constexpr ULONG TAL_GetWindowW = 0x00090172;
constexpr ULONG TAL_SetWindowH = 0x0009017C;
constexpr ULONG TAL_GetWindowH = 0x00090186;
constexpr ULONG TAL_SetWindowXOffset = 0x00090190;
constexpr ULONG TAL_SetWindowYOffset = 0x0009019A;
constexpr ULONG TAL_SetWindowDefaultW = 0x000901A4;
constexpr ULONG TAL_SetWindowDefaultH = 0x000901AE;
constexpr ULONG TAL_SetWindowHostFlags = 0x000901B8;
constexpr ULONG TAL_BeginWindowDrag = 0x000901C2;
constexpr ULONG TAL_ChangeWindowBox = 0x000901EA;
constexpr ULONG TAL_SetWindowXAnchor = 0x000901F4;
constexpr ULONG TAL_SetWindowYAnchor = 0x000901FE;
constexpr ULONG TAL_SetWindowPointer = 0x00090208;
constexpr ULONG TAL_GetWindowPointer = 0x00090212;
constexpr ULONG TAL_SetWindowPositionID = 0x0009021C;
constexpr ULONG TAL_GetWindowPositionID = 0x00090226;
constexpr ULONG TAL_EndRequester = 0x00090230;
constexpr ULONG TAL_WindowToFront = 0x0009023A;
constexpr ULONG TAL_WindowToBack = 0x00090244;
constexpr ULONG TAL_WindowToBackNow = 0x0009024E;
constexpr ULONG TAL_GetHostWindow = 0x00090262;
constexpr ULONG TAL_SetRequesterButtons = 0x0009026C;
constexpr ULONG TAL_DrawArea = 0x00010020;
constexpr ULONG TAL_ScreenMenuCommand = 0x004601CC;
constexpr ULONG TAL_ScreenTitle = 0x00460032;
constexpr ULONG TAL_TextEditFocusLost = 0x001E005A;

ULONG Tal_InitWindowClass();
void Tal_CleanupWindowClass();
ULONG Tal_InitScreenClass();
void Tal_CleanupScreenClass();

// The drawing context of an object for drawing a part of it: none when the object is hidden or has no
// context, or when the caller is not the window's event thread (the request is then queued to it), or
// when the window lock is busy (the window is redrawn later). Pair with Tal_UnlockDrawInfo.
Tal_DrawInfo* Tal_LockDrawInfoAreaDebug(ULONG object, LONG x, LONG y, LONG w, LONG h, const char* file,
                                        ULONG line);
void Tal_UnlockDrawInfoDebug(ULONG object, const char* file, ULONG line);
#define Tal_LockDrawInfoArea(object, x, y, w, h)                                                             \
    Tal_LockDrawInfoAreaDebug((object), (x), (y), (w), (h), __FILE__, __LINE__)
#define Tal_LockDrawInfo(object) Tal_LockDrawInfoAreaDebug((object), 0, 0, 0, 0, __FILE__, __LINE__)
#define Tal_UnlockDrawInfo(object) Tal_UnlockDrawInfoDebug((object), __FILE__, __LINE__)
// The screen's context for measuring (fonts, frame sizes) without drawing: none when the object has no
// drawing context. No lock.
Tal_DrawInfo* Tal_LockDrawInfoForInspection(ULONG object);
void Tal_UnlockDrawInfoForInspection(ULONG object);

// The context measuring uses: the first started screen's.
void Tal__SetInspectionDrawInfo(Tal_DrawInfo* di);
// Forgets that context when it is the one in use (its screen goes).
void Tal__ClearInspectionDrawInfo(Tal_DrawInfo* di);

// A global shortcut: when no object uses a Ctrl+key event (or F1), the first shortcut with that key
// sends its method (the first of the words) with the rest of the words to the target.
ULONG Tal_AddGlobalShortcutKeyA(ULONG key, ULONG qualifier, ULONG target, ULONG count, const Tal_Word* words);
template <typename... A>
ULONG Tal_AddGlobalShortcutKey(ULONG key, ULONG qualifier, ULONG, ULONG target, ULONG count, A... words) {
    const Tal_Word list[] = {Tal_ToWord(words)..., 0};
    return Tal_AddGlobalShortcutKeyA(key, qualifier, target, count, list);
}

// The qualifier of the input event being handled.
UWORD Tal_GetQualifier();
LONG Tal_GetWidestCharWidth(Tal_DrawInfo* di);
// The four border widths of ordinary windows: left, right, top, bottom.
void Tal_GetWindowLayoutInfo(Screen* screen, UBYTE* info);
// Requesters fill the screen's work area once the image engine runs.
void Tal_AlignRequestorPosition(ULONG window);
void Tal_BeginDragAndDrop(ULONG object);

// A task waiting for the answer of a window it opened: it sleeps (the program counts as idle) until one
// of the notifications it listens to comes, and is at work again from then on. Make it and listen before
// the window opens; after the wait dispose the window (so that no notification can still come), then free
// it. Waiting returns 1 once answered, 0 when the task is told to stop (the stop signal stays pending).
struct Tal_AnswerWait;
Tal_AnswerWait* Tal_AllocAnswerWait();
void Tal_ListenForAnswer(Tal_AnswerWait* wait, ULONG object, ULONG trigger);
ULONG Tal_WaitForAnswer(Tal_AnswerWait* wait);
void Tal_FreeAnswerWait(Tal_AnswerWait* wait);
// The host's modal message box: types 1 and 8 OK (exclamation), 4 Yes and No, others OK and Cancel
// (question). 1 for OK or Yes, else 0.
ULONG Tal_MessageBoxA(const char* title, const char* text, ULONG type);
// A modal requester window around `contents` (which stays the caller's) with OK (buttons 1) or OK and
// Cancel; flags 0x10 dispose the contents afterwards, 0x20 when the answer is not OK. Tags: default width
// 0x000901A4, height 0x000901AE, position identifier 0x0009021C. 1 for OK, else 0.
ULONG Tal_ShowRequesterA(const char* title, ULONG contents, ULONG buttons, ULONG parent, ULONG flags,
                         const TagItem* tags);
template <typename... A>
ULONG Tal_ShowRequester(const char* title, ULONG contents, ULONG buttons, ULONG parent, ULONG flags,
                        A... tags) {
    const auto list = Tal_MakeTags(tags...);
    return Tal_ShowRequesterA(title, contents, buttons, parent, flags, list.data());
}
