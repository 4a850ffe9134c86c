// The two standard requesters: the host's message box, and a requester window built around a caller's
// contents.
#include "ui/Group.h"
#include "Tal/Root.h"
#include "ui/Window.h"
#include "host/msgbox.h"

namespace {

constexpr ULONG TAL_ButtonPressed = 0x00030028;
constexpr ULONG TAL_SetShortcutKey = 0x004A000A;
constexpr Tag TAL_RequesterWidth = 0x000901A4;
constexpr Tag TAL_RequesterHeight = 0x000901AE;
constexpr Tag TAL_RequesterPosition = 0x0009021C;
constexpr ULONG kDisposeAfter = 0x10;
constexpr ULONG kDisposeUnlessOk = 0x20;

// The task waiting for a requester's answer, woken by the answer: until then it sleeps (the program is
// idle), and from the answer on it is at work again at once.
struct Waiter {
    Task* task;
    LONG signal;
};

Tal_Word wakeWaiter(Tal_Word user, ULONG, ULONG, const Tal_Word*) {
    auto* w = reinterpret_cast<Waiter*>(user);
    Signal(w->task, 1u << w->signal);
    return 0;
}

} // namespace

ULONG Tal_MessageBoxA(const char* title, const char* text, ULONG type) {
    return host_MessageBox(title ? title : "", text ? text : "", type) == 1 ? 1 : 0;
}

ULONG Tal_ShowRequesterA(const char* title, ULONG contents, ULONG buttons, ULONG parent, ULONG flags,
                         const TagItem* tags) {
    auto give = [&](ULONG result) {
        if (result != 1 && (flags & kDisposeUnlessOk)) Tal_DisposeObject(contents);
        return result == 1 ? 1u : 0u;
    };
    // A script may have answered it already.
    if (LONG answer; host_TakeQueuedAnswer(&answer)) {
        KPrintF("requester: %s answered %ld\n", title ? title : "", long(answer));
        if (flags & kDisposeAfter) Tal_DisposeObject(contents);
        return give(answer == 1 ? 1 : 0);
    }
    ULONG inner = 0;
    ULONG window = Tal_CreateObjects(
        0, TAL_TREE_OBJECT, "Window", TAL_SetWindowX, 0xCECECECE, TAL_SetWindowY, 0xCECECECE,
        TAL_SetWindowDefaultW, GetTagData(TAL_RequesterWidth, 230, tags), TAL_SetWindowDefaultH,
        GetTagData(TAL_RequesterHeight, 230, tags), TAL_SetWindowPositionID,
        GetTagData(TAL_RequesterPosition, 0, tags), TAL_SetWindowTitle, title ? title : "", TAL_SetGroupFrame,
        0, TAL_SetGroupMargin, Tal_GetGlobalData()->standardMargin, TAL_SetWindowType, 64, TAL_TREE_VGROUP,
        TAL_TREE_HANDLE, &inner, TAL_SetGroupFrame, 6, TAL_AddTail, contents, TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    if (!window || !inner || Tal_GetParentObject(contents) != inner) {
        if (window && inner) Tal_DoMethod(inner, TAL_RemoveMember, contents);
        Tal_DisposeObject(window);
        return give(0);
    }
    ULONG ok = 0, cancel = 0;
    ULONG row = Tal_CreateObjects(0, TAL_TREE_HGROUP, TAL_SetWeight, 0,                                    //
                                  TAL_TREE_OBJECT, "Button", TAL_TREE_LABEL, " Ok ", TAL_TREE_HANDLE, &ok, //
                                  TAL_TREE_CLOSE, TAL_TREE_SPACE, 2,                                       //
                                  TAL_TREE_OBJECT, "Button", TAL_TREE_LABEL, "Cancel", TAL_TREE_HANDLE,
                                  &cancel, TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    // The handle variable after a close names the last leaf; the buttons are the members' parents.
    ok = Tal_GetParentObject(ok);
    cancel = Tal_GetParentObject(cancel);
    if (ok) {
        Tal_DoMethod(ok, TAL_SetUserData, 0);
        Tal_DoMethod(ok, TAL_SetShortcutKey, 13);
    }
    if (cancel) Tal_DoMethod(cancel, TAL_SetShortcutKey, 27);
    if (parent) Tal_DoMethod(parent, TAL_AddTail, window);
    Tal_AlignRequestorPosition(window);
    if (buttons == 1) {
        Tal_DoMethod(cancel, TAL_Hide);
        Tal_DoMethod(row, TAL_AddHead, Tal_CreateObject("Space", TAL_SetFixedHeight, 1));
    }
    ULONG running = 1;
    Tal_AddNotify(ok, TAL_ButtonPressed, TAL_AnyValue, window, 2, TAL_EndRequester, 1);
    Tal_AddNotify(cancel, TAL_ButtonPressed, TAL_AnyValue, window, 2, TAL_EndRequester, 0);
    Tal_DoMethod(window, TAL_SetRequesterButtons, row);
    Tal_AddNotify(window, TAL_WindowToFront, TAL_AnyValue, ok, 2, TAL_SetUserData, 1);
    Tal_AddNotify(window, TAL_WindowToFront, TAL_AnyValue, window, 3, TAL_PokeLong, &running, 0);
    Tal_AddNotify(ok, TAL_ButtonPressed, TAL_AnyValue, ok, 2, TAL_SetUserData, 1);
    Tal_AddNotify(ok, TAL_ButtonPressed, TAL_AnyValue, window, 3, TAL_PokeLong, &running, 0);
    Tal_AddNotify(cancel, TAL_ButtonPressed, TAL_AnyValue, window, 3, TAL_PokeLong, &running, 0);
    Tal_AddNotify(window, TAL_CloseWindow, TAL_AnyValue, window, 3, TAL_PokeLong, &running, 0);
    // After the flag is cleared (notifications come in the order they were added), the caller is woken.
    Waiter waiter{FindTask(nullptr), AllocSignal(-1)};
    if (waiter.task && waiter.signal >= 0) {
        Tal_AddCallBackNotify(ok, TAL_ButtonPressed, TAL_AnyValue, wakeWaiter, Tal_Word(&waiter));
        Tal_AddCallBackNotify(cancel, TAL_ButtonPressed, TAL_AnyValue, wakeWaiter, Tal_Word(&waiter));
        Tal_AddCallBackNotify(window, TAL_WindowToFront, TAL_AnyValue, wakeWaiter, Tal_Word(&waiter));
        Tal_AddCallBackNotify(window, TAL_CloseWindow, TAL_AnyValue, wakeWaiter, Tal_Word(&waiter));
    }
    Tal_DoMethod(window, TAL_Start);
    while (true) {
        if (__atomic_load_n(&running, __ATOMIC_SEQ_CST) == 0 || (SetSignal(0, 0) & SIGBREAKF_CTRL_C)) break;
        if (waiter.signal < 0) {
            Delay(5);
            continue;
        }
        // The stop signal ends the wait too, and stays pending for the caller.
        if (Wait((1u << waiter.signal) | SIGBREAKF_CTRL_C) & SIGBREAKF_CTRL_C)
            SetSignal(SIGBREAKF_CTRL_C, SIGBREAKF_CTRL_C);
    }
    ULONG result = ULONG(Tal_DoMethod(ok, TAL_GetUserData));
    if (parent) Tal_DoMethod(parent, TAL_RemoveMember, window);
    Tal_DoMethod(inner, TAL_RemoveMember, contents);
    Tal_DisposeObject(window); // with the notifications that name the waiter
    if (waiter.signal >= 0) FreeSignal(waiter.signal);
    if (flags & kDisposeAfter) Tal_DisposeObject(contents);
    return give(result);
}
