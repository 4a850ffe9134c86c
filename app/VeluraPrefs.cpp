// VeluraPrefs: a requester window whose setters and getters are the program's settings. It stores only
// those settings (and the window's own attributes), never its gadgets, so that its stored text is the
// preferences file.
#include "app/VeluraPrefs.h"
#include "ui/ui.h"
#include "Tal/Catalogue.h"
#include "Vlr/ImageFile.h"
#include "Vlr/Vlr.h"
#include "host/dos.h"
#include "host/intuition.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

Tal_Class prefsClass;
Tal_PrefsSettings settings;

// The handles of the window's gadgets. The file-requester type, undo size and same-path settings have
// none: their handles stay 0, and their values live in the settings alone.
struct PrefsInstance {
    Tal_Object header;
    ULONG areYouSureBox;
    ULONG fileRequesterGadget;
    ULONG backupsBox;
    ULONG undoSizeField;
    ULONG secondButton;
    ULONG reserved;
    ULONG interpolatedBox;
    ULONG twelveBitBox;
    ULONG firstButton;
    ULONG samePathGadget;
};

PrefsInstance* of(void* instance) {
    return static_cast<PrefsInstance*>(instance);
}

void check(ULONG box, LONG on) {
    if (box) Tal_DoMethod(box, TAL_SetChecked, on ? 1 : 0);
}
LONG checked(ULONG box) {
    return box ? LONG(Tal_DoMethod(box, TAL_GetChecked)) : 0;
}

Tal_Image* globalImage() {
    Tal_ImageBase* base = Tal_GetImageBase();
    return base ? base->image_object : nullptr;
}

Tal_Word showSettings(PrefsInstance* p) {
    Tal_ImageBase* base = Tal_GetImageBase();
    check(p->twelveBitBox, settings.redrawMode == TAL_REDRAW_12BIT);
    check(p->interpolatedBox, settings.interpolatedDisplay);
    check(p->areYouSureBox, base ? base->are_you_sure : 0);
    check(p->backupsBox, Tal__GetCreateBackups());
    return 0;
}

// What the user chose in the window becomes the settings. Settings without a gadget stay as they are.
void applyGadgets(PrefsInstance* p) {
    settings.redrawMode = checked(p->twelveBitBox) ? TAL_REDRAW_12BIT : 0;
    settings.interpolatedDisplay = checked(p->interpolatedBox);
    if (Tal_ImageBase* base = Tal_GetImageBase()) base->are_you_sure = checked(p->areYouSureBox);
    Tal__SetCreateBackups(checked(p->backupsBox));
}

LONG automaticRedrawMode() {
    char info[257];
    Tal__GetDeviceInfo(info, sizeof info);
    return std::strstr(info, "Jornada") || std::strcmp(info, "Compaq iPAQ H3600") == 0 ? TAL_REDRAW_12BIT : 0;
}

Tal_Word setRedrawMode(PrefsInstance* p, LONG argument) {
    LONG mode = argument;
    if (argument == TAL_REDRAW_AUTOMATIC) {
        mode = automaticRedrawMode();
        check(p->twelveBitBox, mode == TAL_REDRAW_12BIT);
    } else {
        check(p->twelveBitBox, argument);
    }
    settings.redrawMode = mode;
    return Tal_Word(intptr_t(mode));
}

// A path that does not fit is refused (0) and the old one stays.
Tal_Word setPath(bool load, Tal_Word text) {
    const char* path = text ? reinterpret_cast<const char*>(text) : "";
    if (std::strlen(path) > TAL_PREFS_PATH_MAX) {
        KPrintF("VeluraPrefs: a %s path of more than %zu characters is not kept\n", load ? "load" : "save",
                TAL_PREFS_PATH_MAX);
        return 0;
    }
    std::lock_guard guard(settings.pathLock);
    char* field = load ? settings.loadPath : settings.savePath;
    std::memmove(field, path, std::strlen(path) + 1);
    if (load && settings.sameLoadSavePath) std::memcpy(settings.savePath, field, sizeof settings.savePath);
    // The file requesters start there.
    Tal__SetRequesterFolder(0, settings.loadPath);
    Tal__SetRequesterFolder(1, settings.savePath);
    return reinterpret_cast<Tal_Word>(field);
}

// The folder the file requester was last in (the preferences store it), when it fits.
Tal_Word getPath(bool load) {
    const std::string folder = Tal__GetRequesterFolder(load ? 0 : 1);
    std::lock_guard guard(settings.pathLock);
    char* field = load ? settings.loadPath : settings.savePath;
    if (!folder.empty() && folder.size() <= TAL_PREFS_PATH_MAX)
        std::memcpy(field, folder.c_str(), folder.size() + 1);
    return reinterpret_cast<Tal_Word>(field);
}

Tal_Word store(PrefsInstance* p) {
    if (!Tal_StoreObjectToDisk(p->header.handle, TAL_PREFS_FILE, 0)) {
        // The old file stays; the user hears of it on the terminal only.
        const int why = errno;
        char where[4096];
        if (!host_ResolvePath(TAL_PREFS_FILE, 1, where, sizeof where))
            std::snprintf(where, sizeof where, "%s", TAL_PREFS_FILE);
        std::fprintf(stderr, "velura: the preferences could not be saved to %s: %s\n", where,
                     why ? host_FileErrorText(why) : "failed");
    }
    return 0;
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
#define PAIR(set, get, setName, getName, format)                                                             \
    ENTRY(set, setName, TAL_METHOD_SETTER, get, format, nullptr),                                            \
        ENTRY(get, getName, TAL_METHOD_GETTER, set, nullptr, format)
// The order of the settings is the order of the lines of the preferences file.
const Tal_MethodEntry prefsMethods[] = {
    PAIR(TAL_SetInterpolatedDisplayMode, TAL_GetInterpolatedDisplayMode, "Tal_SetInterpolatedDisplayMode",
         "Tal_GetInterpolatedDisplayMode", "%ld"),
    PAIR(TAL_SetAreYouSurePrefs, TAL_GetAreYouSurePrefs, "Tal_SetAreYouSurePrefs", "Tal_GetAreYouSurePrefs",
         "%ld"),
    PAIR(TAL_SetCreateBackupsPrefs, TAL_GetCreateBackupsPrefs, "Tal_SetCreateBackupsPrefs",
         "Tal_GetCreateBackupsPrefs", "%ld"),
    PAIR(TAL_SetFileRequesterTypePrefs, TAL_GetFileRequesterTypePrefs, "Tal_SetFileRequesterTypePrefs",
         "Tal_GetFileRequesterTypePrefs", "%ld"),
    PAIR(TAL_SetGlobalColourRGB, TAL_GetGlobalColourRGB, "Tal_SetGlobalColourRGB", "Tal_GetGlobalColourRGB",
         "%lx"),
    PAIR(TAL_SetGlobalImageMediaName, TAL_GetGlobalImageMediaName, "Tal_SetGlobalImageMediaName",
         "Tal_GetGlobalImageMediaName", "%s"),
    PAIR(TAL_SetMaxUndoRedoSize, TAL_GetMaxUndoRedoSize, "Tal_SetMaxUndoRedoSize", "Tal_GetMaxUndoRedoSize",
         "%ld"),
    PAIR(TAL_SetUseSameLoadSavePathPrefs, TAL_GetUseSameLoadSavePathPrefs, "Tal_SetUseSameLoadSavePathPrefs",
         "Tal_GetUseSameLoadSavePathPrefs", "%ld"),
    PAIR(TAL_SetSavePath, TAL_GetSavePath, "Tal_SetSavePath", "Tal_GetSavePath", "%s"),
    PAIR(TAL_SetLoadPath, TAL_GetLoadPath, "Tal_SetLoadPath", "Tal_GetLoadPath", "%s"),
    PAIR(TAL_SetRedrawMode, TAL_GetRedrawMode, "Tal_SetRedrawMode", "Tal_GetRedrawMode", "%ld"),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef PAIR
#undef ENTRY

} // namespace

void Tal__KeepPrefsWindowOnScreen(ULONG prefs) {
    Screen* screen = LockPubScreen();
    if (!screen) return;
    const LONG width = screen->Width, height = screen->Height;
    UnlockPubScreen(nullptr, screen);
    auto get = [&](ULONG id) { return LONG(int32_t(uint32_t(Tal_DoMethod(prefs, id)))); };
    const LONG x = get(TAL_GetWindowX), y = get(TAL_GetWindowY), w = get(TAL_GetWindowW),
               h = get(TAL_GetWindowH);
    const bool onScreen = x >= 0 && y >= 0 && w > 0 && h > 0 && w <= width - x && h <= height - y;
    if (onScreen) return;
    KPrintF("VeluraPrefs: the window box %d,%d %dx%d is not on the screen: the default box is used\n", int(x),
            int(y), int(w), int(h));
    Tal_AlignRequestorPosition(prefs);
}

Tal_PrefsSettings* Tal_GetPrefsSettings() {
    return &settings;
}

void Tal__ResetPrefsSettings() {
    settings.interpolatedDisplay = 0;
    Tal__SetCreateBackups(0);
    settings.fileRequesterType = 0;
    settings.sameLoadSavePath = 0;
    settings.redrawMode = 0;
    std::lock_guard guard(settings.pathLock);
    settings.loadPath[0] = settings.savePath[0] = 0;
    Tal__SetSameLoadSavePath(0);
    Tal__SetRequesterFolder(0, "");
    Tal__SetRequesterFolder(1, "");
}

void Tal__GetDeviceInfo(char* buffer, size_t size) {
    const char* info = std::getenv("VELURA_OEM_INFO");
    if (!info) info = "Linux";
    // The handheld hands out at most 256 characters of it.
    std::snprintf(buffer, std::min<size_t>(size, 257), "%s", info);
}

Tal_Word Tal__VeluraPrefsCallBack(Tal_Word prefs, ULONG source, ULONG, const Tal_Word*) {
    const ULONG self = ULONG(prefs);
    auto* p = static_cast<PrefsInstance*>(Tal_LockObjectInstance(self));
    if (!p) return 0;
    // The window's own "ended with OK" needs no user data: a restored value cannot turn it into another act.
    const Tal_Word action = Tal_GetTopMostObject(source) == self ? 0 : Tal_DoMethod(source, TAL_GetUserData);
    switch (action) {
    case 0:
        // Apply first: closing notifies, and nothing that hears it may see the old settings.
        applyGadgets(p);
        Tal_DoMethod(self, TAL_CloseWindow);
        break;
    case 1:
        store(p);
        Tal_DoMethod(self, TAL_CloseWindow);
        break;
    case 2:
        Tal_DoMethod(self, TAL_CloseWindow);
        showSettings(p);
        break;
    default:
        break;
    }
    Tal_UnlockObjectInstance(p);
    return 0;
}

void* Tal_NewVeluraPrefsClass(const TagItem*) {
    auto* p = static_cast<PrefsInstance*>(Tal_AllocObjectMem(&prefsClass));
    if (!p) return nullptr;
    const ULONG margin = Tal_GetGlobalData()->standardMargin;
    // Two close requests: the window stays closed when the program starts its windows, and opens at the
    // first open request.
    const ULONG window =
        Tal_CreateObjects(0, TAL_TREE_OBJECT, "Window", TAL_SetUserData, 0, TAL_SetWindowTitle,
                          Tal_GetCatalogueText(159), TAL_SetRequesterButtons, 1, TAL_CloseWindow, 0,
                          TAL_CloseWindow, 0, TAL_SetWindowType, 64, TAL_SetGroupFrame, 0,
                          //
                          TAL_TREE_VGROUP, TAL_SetGroupMargin, margin, TAL_SetGroupSpacing, margin,
                          //
                          TAL_TREE_OBJECT, "CheckBox", TAL_TREE_HANDLE, &p->twelveBitBox, TAL_SetLabel,
                          "12 Bit dithering for iPAQ/Jornada", TAL_TREE_CLOSE,
                          //
                          TAL_TREE_OBJECT, "CheckBox", TAL_TREE_HANDLE, &p->interpolatedBox, TAL_SetLabel,
                          "High quality interpolated display", TAL_TREE_CLOSE,
                          //
                          TAL_TREE_OBJECT, "CheckBox", TAL_TREE_HANDLE, &p->areYouSureBox, TAL_SetLabel,
                          Tal_GetCatalogueText(243), TAL_TREE_CLOSE,
                          //
                          TAL_TREE_OBJECT, "CheckBox", TAL_TREE_HANDLE, &p->backupsBox, TAL_SetLabel,
                          Tal_GetCatalogueText(342), TAL_TREE_CLOSE,
                          //
                          TAL_TREE_CLOSE,
                          //
                          TAL_TREE_HGROUP, TAL_Hide, 0,
                          //
                          TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &p->firstButton, TAL_SetUserData, 0,
                          TAL_TREE_TEXT, Tal_GetCatalogueText(173), TAL_TREE_CLOSE,
                          //
                          TAL_TREE_SPACE_HEIGHT1,
                          //
                          TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &p->secondButton, TAL_SetUserData, 2,
                          TAL_TREE_TEXT, Tal_GetCatalogueText(20), TAL_TREE_CLOSE,
                          //
                          TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    if (!window || !p->twelveBitBox || !p->interpolatedBox || !p->areYouSureBox || !p->backupsBox ||
        !p->firstButton || !p->secondButton) {
        Tal_DisposeObject(window);
        Tal_FreeObjectMem(p);
        return nullptr;
    }
    p->header.superObject = window;
    const ULONG self = p->header.handle;
    Tal_AlignRequestorPosition(window);
    const Tal_Word prefs = self;
    Tal_AddCallBackNotify(p->firstButton, TAL_ButtonClicked, TAL_AnyValue, Tal__VeluraPrefsCallBack, prefs);
    Tal_AddCallBackNotify(p->secondButton, TAL_ButtonClicked, TAL_AnyValue, Tal__VeluraPrefsCallBack, prefs);
    Tal_AddCallBackNotify(window, TAL_WindowToFront, TAL_AnyValue, Tal__VeluraPrefsCallBack, prefs);
    // Closed in any other way than with OK: as the second button (the settings stay as they were).
    Tal_AddNotify(window, TAL_CloseWindow, TAL_AnyValue, p->secondButton, 1, TAL_Pressed);
    Tal_AddNotify(window, TAL_CloseWindow, TAL_AnyValue, p->secondButton, 1, TAL_Released);
    showSettings(p);
    return p;
}

void Tal_DisposeVeluraPrefsClass(void* instance) {
    auto* p = of(instance);
    const ULONG self = p->header.handle;
    if (ULONG parent = Tal_GetParentObject(self)) Tal_DoMethod(parent, TAL_RemoveMember, self);
    Tal_DisposeObject(p->header.superObject);
    Tal_FreeObjectMem(p);
}

Tal_Word Tal_DoVeluraPrefsClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* p = of(instance);
    Tal_ImageBase* base = Tal_GetImageBase();
    switch (id) {
    case TAL_SetInterpolatedDisplayMode:
        settings.interpolatedDisplay = LONG(args[0]);
        check(p->interpolatedBox, LONG(args[0]));
        return Tal_Word(intptr_t(settings.interpolatedDisplay.load()));
    case TAL_GetInterpolatedDisplayMode:
        return Tal_Word(intptr_t(settings.interpolatedDisplay.load()));
    case TAL_SetAreYouSurePrefs:
        check(p->areYouSureBox, LONG(args[0]));
        if (base) base->are_you_sure = LONG(args[0]);
        return Tal_Word(checked(p->areYouSureBox));
    case TAL_GetAreYouSurePrefs:
        return Tal_Word(checked(p->areYouSureBox));
    case TAL_SetCreateBackupsPrefs:
        check(p->backupsBox, LONG(args[0]));
        Tal__SetCreateBackups(LONG(args[0]));
        return Tal_Word(checked(p->backupsBox));
    case TAL_GetCreateBackupsPrefs:
        return Tal_Word(checked(p->backupsBox));
    // Settings without a gadget answer from the settings themselves, so that they survive a restart.
    case TAL_SetFileRequesterTypePrefs:
        settings.fileRequesterType = LONG(args[0]);
        return Tal_Word(intptr_t(settings.fileRequesterType.load()));
    case TAL_GetFileRequesterTypePrefs:
        return Tal_Word(intptr_t(settings.fileRequesterType.load()));
    case TAL_SetUseSameLoadSavePathPrefs:
        settings.sameLoadSavePath = LONG(args[0]);
        Tal__SetSameLoadSavePath(settings.sameLoadSavePath);
        return Tal_Word(intptr_t(settings.sameLoadSavePath.load()));
    case TAL_GetUseSameLoadSavePathPrefs:
        return Tal_Word(intptr_t(settings.sameLoadSavePath.load()));
    case TAL_SetMaxUndoRedoSize:
        // A negative size is none: the default stands instead.
        if (base) base->max_undo_size = LONG(args[0]) < 0 ? TAL_DEFAULT_UNDO_SIZE : ULONG(args[0]);
        showSettings(p);
        return base ? Tal_Word(intptr_t(int32_t(base->max_undo_size))) : 0;
    case TAL_GetMaxUndoRedoSize:
        return base ? Tal_Word(intptr_t(int32_t(base->max_undo_size))) : 0;
    case TAL_SetGlobalColourRGB:
    case TAL_GetGlobalColourRGB:
    case TAL_SetGlobalImageMediaName:
        return Tal_DoImageMethod(globalImage(), id, args[0]);
    case TAL_GetGlobalImageMediaName:
        return base ? reinterpret_cast<Tal_Word>(base->preset_name) : 0;
    case TAL_SetLoadPath:
    case TAL_SetSavePath:
        return setPath(id == TAL_SetLoadPath, args[0]);
    case TAL_GetLoadPath:
    case TAL_GetSavePath:
        return getPath(id == TAL_GetLoadPath);
    case TAL_SetRedrawMode:
        return setRedrawMode(p, LONG(args[0]));
    case TAL_GetRedrawMode:
        return Tal_Word(intptr_t(settings.redrawMode.load()));
    case TAL_StorePrefs:
        return store(p);
    case TAL_ShowPrefsSettings:
        return showSettings(p);
    case TAL_PrefsNothing:
        return 0;
    case TAL_StoreChildren:
        return 1; // the gadgets are not part of the preferences file
    default:
        return Tal_DoMethodA(p->header.superObject, id, args);
    }
}

ULONG Tal_InitVeluraPrefsClass() {
    settings.redrawMode = 0;
    return Tal__SetupClass(&prefsClass, "VeluraPrefs", 0x03E80004, "Window", Tal_NewVeluraPrefsClass,
                           Tal_DisposeVeluraPrefsClass, Tal_DoVeluraPrefsClassMethod, prefsMethods,
                           sizeof(PrefsInstance));
}

void Tal_CleanupVeluraPrefsClass() {
    Tal__CleanupClass(&prefsClass);
}
