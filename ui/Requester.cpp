// The two standard requesters: the host's message box, and a requester window built around a caller's
// contents.
#include "ui/Group.h"
#include "Tal/Root.h"
#include "ui/Window.h"
#include "host/msgbox.h"

#include <atomic>
#include <new>

namespace {

constexpr ULONG TAL_ButtonPressed = 0x00030028;
constexpr ULONG TAL_SetShortcutKey = 0x004A000A;
constexpr Tag TAL_RequesterWidth = 0x000901A4;
constexpr Tag TAL_RequesterHeight = 0x000901AE;
constexpr Tag TAL_RequesterPosition = 0x0009021C;
constexpr ULONG kDisposeAfter = 0x10;
constexpr ULONG kDisposeUnlessOk = 0x20;

} // namespace

struct Tal_AnswerWait {
    Task* task;
    LONG signal; // -1: none could be had, the task polls instead
    std::atomic<ULONG> answered;
};

namespace {

Tal_Word answered(Tal_Word user, ULONG, ULONG, const Tal_Word*) {
    auto* w = reinterpret_cast<Tal_AnswerWait*>(user);
    w->answered = 1;
    if (w->signal >= 0) Signal(w->task, 1u << w->signal);
    return 0;
}

} // namespace

Tal_AnswerWait* Tal_AllocAnswerWait() {
    auto* w = new (std::nothrow) Tal_AnswerWait{FindTask(nullptr), -1, {0}};
    if (w && w->task) w->signal = AllocSignal(-1);
    return w;
}

void Tal_ListenForAnswer(Tal_AnswerWait* wait, ULONG object, ULONG trigger) {
    if (wait) Tal_AddCallBackNotify(object, trigger, TAL_AnyValue, answered, Tal_Word(wait));
}

ULONG Tal_WaitForAnswer(Tal_AnswerWait* wait) {
    if (!wait) return 0;
    while (!wait->answered) {
        if (SetSignal(0, 0) & SIGBREAKF_CTRL_C) return 0;
        if (wait->signal < 0) {
            Delay(5);
            continue;
        }
        // The stop signal ends the wait too, and stays pending for the caller.
        if (Wait((1u << wait->signal) | SIGBREAKF_CTRL_C) & SIGBREAKF_CTRL_C) {
            SetSignal(SIGBREAKF_CTRL_C, SIGBREAKF_CTRL_C);
            return wait->answered ? 1 : 0;
        }
    }
    return 1;
}

void Tal_FreeAnswerWait(Tal_AnswerWait* wait) {
    if (!wait) return;
    if (wait->signal >= 0) FreeSignal(wait->signal);
    delete wait;
}

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
    Tal_AddNotify(ok, TAL_ButtonPressed, TAL_AnyValue, window, 2, TAL_EndRequester, 1);
    Tal_AddNotify(cancel, TAL_ButtonPressed, TAL_AnyValue, window, 2, TAL_EndRequester, 0);
    Tal_DoMethod(window, TAL_SetRequesterButtons, row);
    Tal_AddNotify(window, TAL_WindowToFront, TAL_AnyValue, ok, 2, TAL_SetUserData, 1);
    Tal_AddNotify(ok, TAL_ButtonPressed, TAL_AnyValue, ok, 2, TAL_SetUserData, 1);
    // The answer (OK, Cancel, the window ended positively or closed) is heard after the notifications
    // above, which come in the order they were added.
    Tal_AnswerWait* answer = Tal_AllocAnswerWait();
    Tal_ListenForAnswer(answer, ok, TAL_ButtonPressed);
    Tal_ListenForAnswer(answer, cancel, TAL_ButtonPressed);
    Tal_ListenForAnswer(answer, window, TAL_WindowToFront);
    Tal_ListenForAnswer(answer, window, TAL_CloseWindow);
    Tal_DoMethod(window, TAL_Start);
    Tal_WaitForAnswer(answer);
    ULONG result = ULONG(Tal_DoMethod(ok, TAL_GetUserData));
    if (parent) Tal_DoMethod(parent, TAL_RemoveMember, window);
    Tal_DoMethod(inner, TAL_RemoveMember, contents);
    Tal_DisposeObject(window); // with its thread: no answer can come any more
    Tal_FreeAnswerWait(answer);
    if (flags & kDisposeAfter) Tal_DisposeObject(contents);
    return give(result);
}
