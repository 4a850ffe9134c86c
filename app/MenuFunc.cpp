// The commands of the menu bar and what the program offers of them.
#include "app/MenuFunc.h"

#include "app/MenuResource.h"
#include "Vlr/Requesters.h"
#include "host/display.h"
#include "host/intuition.h"
#include "ui/ui.h"

#include <iterator>

namespace {

// The help pages: F1 (and Ctrl+P, the same key code) choose this command.
constexpr ULONG kHelpCommand = 124;
constexpr ULONG kF1 = 112;

// The commands the program carries out, each with the class its work needs (none: always there). A
// command that is not here, or whose class does not exist, is not offered.
struct Command {
    ULONG number;
    const char* needs;
    Tal_Word (*run)();
    bool onImage = false; // works on the active image: offered while there is one
};

Tal_Image* activeImage() {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!base) return nullptr;
    SemaphoreGuard guard(&base->listLock);
    return base->active_image;
}

// The active image performs the method in its thread (the saves ask for the file there).
Tal_Word onActiveImage(ULONG method) {
    return Tal_DoAsyncImageMethod(activeImage(), method, 0);
}

constexpr Command kCommands[] = {
    {60, "NewImageReq", [] { return EventFunc(APP_NEW_IMAGE, 0, 0, nullptr); }},
    {51, "FileRequester", [] { return EventFunc(APP_OPEN, 0, 0, nullptr); }},
    {139, "FileRequester", [] { return EventFunc(APP_BROWSE, 0, 0, nullptr); }},
    {52, "FileRequester", [] { return onActiveImage(TAL_SaveImage); }, true},
    {53, "FileRequester", [] { return onActiveImage(TAL_SaveImageAs); }, true},
    {54, "FileRequester", [] { return onActiveImage(TAL_SaveImageCopy); }, true},
    {67, nullptr, [] { return Tal_DoMethod(app_PreferencesObject(), TAL_OpenWindow); }},
    {69, nullptr, [] { return EventFunc(APP_QUIT, 0, 0, nullptr); }},
    {103, "NewImageReq",
     [] {
         Tal__AboutVelura();
         return Tal_Word(1);
     }},
    {156, "NewImageReq",
     [] {
         // The picture information of the active image; nothing without one.
         Tal_ImageBase* base = Tal_GetImageBase();
         Tal_Image* image = nullptr;
         if (base) {
             SemaphoreGuard guard(&base->listLock);
             image = base->active_image;
         }
         return image ? Tal_Word(Tal_ShowImageInfoReq(image)) : 0;
     }},
    {157, "NewImageReq", [] { return Tal_Word(Tal_ShowSnapToGridReq()); }},
    {kHelpCommand, nullptr,
     [] {
         host_OpenHelp();
         return Tal_Word(1);
     }},
};

const Command* commandOf(ULONG number) {
    for (const Command& c : kCommands)
        if (c.number == number) return &c;
    return nullptr;
}

bool offered(ULONG number) {
    const Command* c = commandOf(number);
    return c && (!c->needs || Tal_FindClassFromName(c->needs)) && (!c->onImage || activeImage());
}

void forEachItem(const host_MenuItemResource* items, ULONG count, auto&& f) {
    for (ULONG i = 0; i < count; i++) {
        if (items[i].subItems) forEachItem(items[i].subItems, items[i].subCount, f);
        if (items[i].command && !(items[i].flags & HMF_SEPARATOR)) f(items[i].command);
    }
}

void updateCommands(const app_MainTree* tree) {
    const host_MenuBarResource* bar = velura_MenuBarResource();
    for (ULONG i = 0; i < bar->count; i++) {
        const host_MenuBarButtonResource& b = bar->buttons[i];
        bool any = false;
        forEachItem(b.items, b.count, [&](ULONG command) {
            const bool on = offered(command);
            host_EnableScreenCommand(command, on);
            any = any || on;
        });
        // A drop-down button with nothing to offer, and an image button that cannot act, are greyed.
        host_EnableScreenCommand(b.command, b.kind == HMB_MENU ? any : offered(b.command));
    }
    const ULONG commands[] = {60, 51, 139}; // the start window's buttons: new, open, browse
    for (size_t i = 0; i < std::size(commands); i++)
        Tal_DoMethod(tree->buttons[i], offered(commands[i]) ? TAL_EnableObject : TAL_DisableObject);
}

// The tree whose commands are offered (a copy: its handles are what counts).
app_MainTree installedTree;

Tal_Word activeImageChanged(Tal_Word, ULONG, ULONG, const Tal_Word*) {
    updateCommands(&installedTree);
    return 0;
}

} // namespace

Tal_Word MenuFunc(Tal_Word, ULONG, ULONG, const Tal_Word* args) {
    const ULONG number = args ? ULONG(args[0]) : 0;
    if (!offered(number)) {
        KPrintF("command %ld is not offered now\n", long(number));
        return 0;
    }
    return commandOf(number)->run();
}

void app_InstallCommands(const app_MainTree* tree) {
    Tal_AddCallBackNotify(tree->screen, TAL_ScreenMenuCommand, TAL_AnyValue, MenuFunc, 0);
    Tal_AddGlobalShortcutKey(kF1, 0, 0, tree->screen, 2, TAL_ScreenMenuCommand, kHelpCommand);
    host_SetMainWindowObject(tree->window);
    updateCommands(tree);
    // The commands on the active image come and go with it.
    installedTree = *tree;
    if (Tal_ImageBase* base = Tal_GetImageBase(); base && base->image_object)
        Tal_AddCallBackNotify(base->image_object->header.handle, TAL_SetActiveImage, TAL_AnyValue,
                              activeImageChanged, 0);
}
