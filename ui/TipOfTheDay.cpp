// TipOfTheDay: the start-up window that shows one tip after another. The tips come from a stored-object
// file (a group whose members are the tips); a small state file remembers which tip comes next and
// whether the window shows at all.
#include "ui/Button.h"
#include "Tal/Catalogue.h"
#include "ui/Pages.h"
#include "ui/Window.h"
#include "host/dos.h"

#include <cstdio>
#include <cstdlib>

namespace {

Tal_Class tipOfTheDayClass;

constexpr const char* kTipsFile = "Data/Tips.TalStr";
constexpr const char* kStateFile = "Data/Prefs/Tips.txt";
constexpr ULONG kCentred = 0xCECECECE;
constexpr ULONG kRequesterWindow = 64;
constexpr ULONG kReturnKey = 13;
constexpr ULONG kTopAligned = 4; // none of the alignment bits: members keep to the top

struct TipInstance {
    Tal_Object header;
    ULONG tipArea;
    ULONG tips; // the page group of tips, once loaded
    ULONG checkBox;
    ULONG nextButton, closeButton;
    char* tipsFile;
    char* stateFile;
    LONG index;
    LONG count;
    UBYTE stateRead;
    UBYTE started;
    UBYTE tipsShown; // the tips are a member of the tip area (which then owns them)
};

TipInstance* of(void* instance) {
    return static_cast<TipInstance*>(instance);
}
ULONG self(TipInstance* t) {
    return t->header.handle;
}

// A text of the catalogue, or the English one when no catalogue is loaded.
const char* text(ULONG number, const char* english) {
    const char* t = Tal_GetCatalogueText(number);
    return *t ? t : english;
}

void setText(char*& field, const char* value) {
    char* copy = Tal_StrDup(value ? value : "");
    if (!copy) return;
    Tal_FreeMem(field);
    field = copy;
}

LONG wrap(LONG index, LONG count) {
    return count > 0 ? ((index % count) + count) % count : 0;
}

// "index,show"; a missing or unreadable file means the first tip, shown.
void readState(TipInstance* t) {
    t->stateRead = 1;
    LONG index = 0, show = 1;
    if (FILE* f = Tal_OpenFile(t->stateFile, "r")) {
        char line[64] = {};
        if (std::fgets(line, sizeof line, f)) {
            char* end = nullptr;
            const long i = std::strtol(line, &end, 10);
            if (end != line && *end == ',') {
                char* start = end + 1;
                const long s = std::strtol(start, &end, 10);
                if (end != start) {
                    index = LONG(i);
                    show = s != 0;
                }
            }
        }
        std::fclose(f);
    }
    t->index = index;
    if (!show) {
        Tal_DoMethod(self(t), TAL_CloseWindow);
        Tal_DoMethod(t->checkBox, TAL_SetChecked, 0);
    }
}

// Saved whole or not at all: the old state stays when the save fails.
ULONG writeState(TipInstance* t) {
    Tal_SafeSave save;
    FILE* f = Tal_SafeSaveOpen(&save, t->stateFile, "w");
    if (!f) return 0;
    const int show = Tal_DoMethod(t->checkBox, TAL_GetChecked) ? 1 : 0;
    std::fprintf(f, "%d,%d", int(t->index), show);
    return Tal_SafeSaveCommit(&save);
}

void loadTips(TipInstance* t) {
    if (!t->stateRead) readState(t);
    t->tips = Tal_RestoreObjectFromDisk(t->tipsFile);
    t->count = t->tips ? LONG(Tal_DoMethod(t->tips, TAL_GetMemberCount)) : 0;
    if (!t->count) {
        // No tips: none is shown.
        KPrintF("TipOfTheDay: no tips in \"%s\"\n", t->tipsFile);
        Tal_DisposeObject(t->tips);
        t->tips = 0;
        return;
    }
    // A state file from another set of tips may name any number.
    t->index = wrap(t->index, t->count);
    Tal_DoMethod(t->tips, TAL_SetObjectName, "Tips");
    Tal_DoMethod(t->tips, TAL_SetGroupOrientation, TAL_PAGES);
    Tal__SelectPage(t->tips, ULONG(t->index));
    t->tipsShown = Tal_DoMethod(t->tipArea, TAL_AddTail, t->tips) != 0;
}

ULONG nextTip(TipInstance* t) {
    if (!t->count) return 0;
    t->index = wrap(t->index + 1, t->count);
    return Tal__SelectPage(t->tips, ULONG(t->index));
}

ULONG closeTips(TipInstance* t) {
    Tal_DoMethod(self(t), TAL_CloseWindow);
    if (t->count) t->index = wrap(t->index + 1, t->count);
    return writeState(t);
}

ULONG button(const char* label) {
    return Tal_CreateObjects(0, TAL_TREE_OBJECT, "Button", TAL_TREE_TEXT, label, TAL_TREE_CLOSE);
}

} // namespace

void* Tal_NewTipOfTheDayClass(const TagItem*) {
    auto* t = of(Tal_AllocObjectMem(&tipOfTheDayClass));
    if (!t) return nullptr;
    const ULONG window =
        Tal_CreateObject("Window", TAL_SetWindowX, kCentred, TAL_SetWindowY, kCentred, TAL_SetWindowDefaultW,
                         350, TAL_SetWindowDefaultH, 240, TAL_SetWindowTitle, text(366, "Did You Know?"),
                         TAL_SetWindowType, kRequesterWindow);
    t->header.superObject = window;
    // The tip beside the picture, on white; below, the check box and the two buttons.
    const ULONG top = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetGroupFrame, 2,
                                       TAL_SetGroupMargin, 4, TAL_SetGroupSpacing, 6, TAL_SetColour1,
                                       0x00FFFFFF, TAL_SetGroupAlignment, kTopAligned);
    const ULONG picture =
        Tal_CreateObject("BitMap", TAL_SetBitMapColour0, 0, TAL_LoadBitMap, "Data/Images/DidYouKnow.iff");
    t->tipArea = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    // On the narrow screen the check box has a row of its own above the buttons.
    const ULONG bottom =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetWeight, 0, TAL_SetGroupMargin,
                         2, TAL_SetGroupSpacing, 2, TAL_SetGroupFrame, 6, TAL_SetGroupAlignment, kTopAligned);
    const ULONG buttons = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    t->checkBox =
        Tal_CreateObject("CheckBox", TAL_SetLabel, text(369, "Show tips at start-up"), TAL_SetChecked, 1);
    t->nextButton = button(text(368, "Next Tip"));
    t->closeButton = button(text(56, "Close"));
    const ULONG parts[] = {top,     picture,     t->tipArea,    bottom,
                           buttons, t->checkBox, t->nextButton, t->closeButton};
    bool complete = window != 0;
    for (ULONG part : parts) complete = complete && part;
    if (!complete) {
        for (ULONG part : parts) Tal_DisposeObject(part);
        Tal_DisposeObject(window);
        Tal_FreeObjectMem(t);
        return nullptr;
    }
    Tal_DoMethod(top, TAL_AddTail, picture);
    Tal_DoMethod(top, TAL_AddTail, t->tipArea);
    Tal_DoMethod(bottom, TAL_AddTail, t->checkBox);
    Tal_DoMethod(bottom, TAL_AddTail, buttons);
    Tal_DoMethod(buttons, TAL_AddTail, Tal_CreateObject("Space"));
    Tal_DoMethod(buttons, TAL_AddTail, t->nextButton);
    Tal_DoMethod(buttons, TAL_AddTail,
                 Tal_CreateObject("Space", TAL_SetSpaceFixedWidth, 20, TAL_SetWeight, 0));
    Tal_DoMethod(buttons, TAL_AddTail, t->closeButton);
    Tal_DoMethod(window, TAL_AddTail, top);
    Tal_DoMethod(window, TAL_AddTail, bottom);
    Tal_DoMethod(t->closeButton, TAL_SetShortcutKey, kReturnKey);
    // Names, so that scripts and tests find the parts.
    Tal_DoMethod(t->nextButton, TAL_SetObjectName, "NextTip");
    Tal_DoMethod(t->closeButton, TAL_SetObjectName, "CloseTips");
    Tal_DoMethod(t->checkBox, TAL_SetObjectName, "ShowTips");
    const ULONG me = t->header.handle;
    Tal_AddNotify(t->nextButton, TAL_ButtonClicked, TAL_AnyValue, me, 1, TAL_NextTip);
    Tal_AddNotify(t->closeButton, TAL_ButtonClicked, TAL_AnyValue, me, 1, TAL_CloseTips);
    // The window's close request (its close gadget) does the same as the close button.
    Tal_AddNotify(me, TAL_CloseWindow, TAL_AnyValue, me, 1, TAL_CloseTips);
    t->tipsFile = Tal_StrDup(kTipsFile);
    t->stateFile = Tal_StrDup(kStateFile);
    return t;
}

void Tal_DisposeTipOfTheDayClass(void* instance) {
    auto* t = of(instance);
    if (!t->tipsShown) Tal_DisposeObject(t->tips);
    Tal_DisposeObject(t->header.superObject);
    Tal_FreeMem(t->tipsFile);
    Tal_FreeMem(t->stateFile);
    Tal_FreeObjectMem(t);
}

Tal_Word Tal_DoTipOfTheDayClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* t = of(instance);
    switch (id) {
    case TAL_SetTipsFile:
        setText(t->tipsFile, reinterpret_cast<const char*>(args[0]));
        return 1;
    case TAL_SetTipsState:
        setText(t->stateFile, reinterpret_cast<const char*>(args[0]));
        readState(t);
        return 1;
    case TAL_NextTip:
        return nextTip(t);
    case TAL_CloseTips:
        return closeTips(t);
    case TAL_GetTipIndex:
        return Tal_Word(intptr_t(t->index));
    case TAL_Start:
        if (!t->started) {
            t->started = 1;
            loadTips(t);
        }
        return Tal_DoMethodA(t->header.superObject, id, args);
    case TAL_StoreChildren:
        return 1; // its parts are its own: the attributes make it again
    default:
        return Tal_DoMethodA(t->header.superObject, id, args);
    }
}

ULONG Tal_InitTipOfTheDayClass() {
    return Tal__SetupClass(&tipOfTheDayClass, "TipOfTheDay", 0x00560000, "Window", Tal_NewTipOfTheDayClass,
                           Tal_DisposeTipOfTheDayClass, Tal_DoTipOfTheDayClassMethod, nullptr,
                           sizeof(TipInstance));
}

void Tal_CleanupTipOfTheDayClass() {
    Tal__CleanupClass(&tipOfTheDayClass);
}
