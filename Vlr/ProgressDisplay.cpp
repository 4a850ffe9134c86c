// The progress display of long operations: a window over the main window with a bar and a Stop button.
// The worker updates it from its own thread; the window's event thread notes a Stop (or a close), which
// the worker sees at its next update.
#include "Vlr/Requesters.h"

#include "Tal/Catalogue.h"
#include "talio/talio.h"
#include "ui/ui.h"

#include <array>
#include <new>
#include <string>

namespace {

constexpr ULONG kStopText = 538;
constexpr ULONG kBreakSignals = SIGBREAKF_CTRL_C | 0x8000;

// The record with what it keeps of its own: the parent it was added to and the bar's label, which the
// bar shows by reference (two buffers used in turn, as a new text may come while the old one is drawn).
struct Display : Tal_ProgressDisplay {
    ULONG parent;
    std::array<std::string, 2> texts;
    size_t textIndex;
};

const TALIO_ProgressHooks hooks = {
    [](const char* title, const char* text) { return Tal_BeginProgressDisplay(0, title, text); },
    [](Tal_ProgressDisplay* display, ULONG value, ULONG total) {
        return Tal_SetProgressDisplay(display, value, total, nullptr);
    },
    [](Tal_ProgressDisplay* display) { Tal_EndProgressDisplay(display); },
};

} // namespace

Tal_ProgressDisplay* Tal_BeginProgressDisplay(ULONG parent, const char* title, const char* text) {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!parent && base) parent = base->main_window;
    if (!parent) return nullptr;
    auto* d = new (std::nothrow) Display{};
    if (!d) return nullptr;
    d->parent = parent;
    d->texts[0] = text ? text : "";
    Tal_ProgressDisplay* p = d;
    // clang-format off
    p->window = Tal_CreateObjects(0,
        TAL_TREE_OBJECT, "Window", TAL_SetWindowTitle, title ? title : "", TAL_SetWindowX, 0xCECECECE,
            TAL_SetWindowY, 0xCECECECE, TAL_SetWindowDefaultW, 200,
        TAL_TREE_VGROUP, TAL_SetGroupMargin, 4, TAL_SetGroupSpacing, 4,
            TAL_TREE_OBJECT, "ProgressBar", TAL_TREE_HANDLE, &p->progress_bar,
                TAL_SetProgressBarLabel, d->texts[0].c_str(),
            TAL_TREE_CLOSE,
            TAL_TREE_HGROUP,
                TAL_TREE_OBJECT, "Space", TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &p->stop_button, TAL_SetWeight, 0,
                    TAL_TREE_TEXT, Tal_GetCatalogueText(kStopText),
                TAL_TREE_CLOSE,
                TAL_TREE_OBJECT, "Space", TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
        TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    // clang-format on
    if (!p->window || !p->progress_bar || !p->stop_button || !Tal_DoMethod(parent, TAL_AddTail, p->window)) {
        Tal_DisposeObject(p->window);
        delete d;
        return nullptr;
    }
    Tal_AddNotify(p->stop_button, TAL_ButtonClicked, TAL_AnyValue, p->window, 3, TAL_PokeLong, &p->stopped,
                  1);
    Tal_AddNotify(p->window, TAL_CloseWindow, TAL_AnyValue, p->window, 3, TAL_PokeLong, &p->stopped, 1);
    Tal_DoMethod(p->window, TAL_Start);
    return p;
}

ULONG Tal_SetProgressDisplay(Tal_ProgressDisplay* display, ULONG value, ULONG total, const char* text) {
    if (SetSignal(0, 0) & kBreakSignals) return 0;
    if (!display) return 1;
    auto* d = static_cast<Display*>(display);
    Tal_DoMethod(display->progress_bar, TAL_SetProgressTotal, total);
    Tal_DoMethod(display->progress_bar, TAL_SetProgressValue, value);
    if (text) {
        d->textIndex ^= 1;
        d->texts[d->textIndex] = text;
        Tal_DoMethod(display->progress_bar, TAL_SetProgressBarLabel, d->texts[d->textIndex].c_str());
    }
    return __atomic_load_n(&display->stopped, __ATOMIC_SEQ_CST) ? 0 : 1;
}

void Tal_EndProgressDisplay(Tal_ProgressDisplay* display) {
    if (!display) return;
    auto* d = static_cast<Display*>(display);
    Tal_DoMethod(d->parent, TAL_RemoveMember, display->window);
    Tal_DisposeObject(display->window);
    delete d;
}

void Tal__UseProgressDisplays(bool on) {
    TALIO__SetProgressHooks(on ? &hooks : nullptr);
}
