// Tools: the classes that turn pointer gestures on an image view into recorded actions. Every tool is a
// subclass of RootTool (a Group that holds the tool's button); exactly one tool is current, and the image
// view hands it every input event of its window.
#pragma once

#include "Vlr/ImageView.h"
#include "ui/Window.h"

// ---------------------------------------------------------------------------------------------------
// RootTool methods (class 0x1771; TAL_HandleToolInput, image and event, is in Vlr.h).

constexpr ULONG TAL_GetToolFlags = 0x1771000A;
constexpr ULONG TAL_SetToolFlags = 0x17710014;
constexpr ULONG TAL_SetToolOptions = 0x17710028;
constexpr ULONG TAL_GetToolOptions = 0x17710029;
constexpr ULONG TAL_ShowToolOptions = 0x17710032;
constexpr ULONG TAL_HideToolOptions = 0x1771003C;
constexpr ULONG TAL_SetToolCursor = 0x17710046;
constexpr ULONG TAL_GetToolCursor = 0x17710050;
// The tool's button: a ToolButton with one picture per name of the array (ended by none) and the
// catalogue text `tooltip` (0: none) as its tooltip, made the tool's member. Pressing it selects the tool;
// a change of its state reaches the tool as TAL_SetToolButtonState. Returns the button.
constexpr ULONG TAL_MakeToolButton = 0x1771005A;
// Whether an action was made by a tool of this kind (RootTool: no).
constexpr ULONG TAL_ToolOwnsAction = 0x138900D2;
// The tool-options plug-in's refresh, asked whenever a tool shows its options.
constexpr ULONG TAL_RefreshToolOptions = 0x03E8008C;

// Tool flags: the view tracks the pointer while the tool is current.
constexpr ULONG TAL_TOOL_TRACKS_POINTER = 1;
// Pointer shapes of tools (the window's pointer numbers).
constexpr ULONG TAL_TOOL_CURSOR_MOVE = 1;
constexpr ULONG TAL_TOOL_CURSOR_CROSS = 3;

// The buttons of a gesture, as tools remember them.
constexpr LONG TAL_TOOL_SELECT = 1;
constexpr LONG TAL_TOOL_MENU = 2;

ULONG Tal_InitRootToolClass();
void Tal_CleanupRootToolClass();

// ---------------------------------------------------------------------------------------------------
// Choosing tools by key: a typed character (without Ctrl) that no tool takes selects the tool given for
// it, as pressing its button would. One tool per key; 0 removes the key. A tool's keys go with it.

ULONG Tal_SetToolKey(UBYTE key, ULONG tool);
ULONG Tal_ToolForKey(UBYTE key);

// ---------------------------------------------------------------------------------------------------
// What tools share for their gestures.

// The view a tool draws its preview in: the first view of the image (0 when it has none).
ULONG Tal_ToolView(Tal_Image* image);
// Tells the image-base object that a gesture started (1) or ended (0).
void Tal_ToolGestureRunning(LONG running);

// A rubber-band preview on a view: the view's drawing context is locked, in complement mode with pen 1,
// clipped to the visible picture; drawing the same shape twice removes it. Empty (no port) when the view
// cannot be drawn now. The mode and pen are put back and the context unlocked at the end of its life.
class Tal_ToolPreview {
  public:
    explicit Tal_ToolPreview(ULONG view);
    ~Tal_ToolPreview();
    Tal_ToolPreview(const Tal_ToolPreview&) = delete;
    Tal_ToolPreview& operator=(const Tal_ToolPreview&) = delete;
    RastPort* port() const { return port_; }

  private:
    ULONG view_;
    RastPort* port_ = nullptr;
    ULONG pen_ = 0;
    ULONG mode_ = 0;
};
