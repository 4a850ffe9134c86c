// Start-up and shut-down of the program.
#include "app/startup.h"
#include "ui/ui.h"
#include "Tal/Catalogue.h"
#include "app/SplashPicture.h"
#include "app/VeluraPrefs.h"
#include "Vlr/Requesters.h"
#include "Vlr/Tal/Histogram.h"
#include "host/dos.h"
#include "modes/modes.h"
#include "media/Media.h"
#include "talio/talio.h"
#include "Vlr/ImageView.h"
#include "Vlr/Tools/Tools.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <list>
#include <mutex>
#include <string>

namespace {

// Where external classes would be looked for; the list is kept, nothing reads it.
constexpr const char* kClassPaths[] = {"Data/Modes/",         "Data/Media/Classes/", "Data/Tools/",
                                       "Data/Tools/Actions/", "Data/Tal/",           "Data/TALIO/"};

constexpr const char* kCatalogue = "Data\\Lingua\\Velura.etf";

// The application classes, registered in this order after the catalogue (a class registered before its
// superclass reaches the superclass's attributes through its instances), removed in the reverse order.
// ImageView, BatchProcess, TALIOOptions, PopTabs and Histogram follow Image; then the modes, media, tools,
// actions and panels; then the image formats BMP, JPEG, GIF, ILBM, IFFDEEP, TARGA, Clipboard and
// ScreenGrab, and PNG after them; then CloneMode, TransformTool, TransparencyAction and ActionGroup. Each
// joins here as it is built.
struct ApplicationClass {
    ULONG (*init)();
    void (*cleanup)();
};
constexpr ApplicationClass applicationClasses[] = {
    {Tal_InitVeluraPrefsClass, Tal_CleanupVeluraPrefsClass},
    {Tal_InitImageClass, Tal_CleanupImageClass},
    {Tal_InitImageViewClass, Tal_CleanupImageViewClass},
    {Tal_InitHistogramClass, Tal_CleanupHistogramClass},
    {Tal_InitColouriseModeClass, Tal_CleanupColouriseModeClass},
    {Tal_InitColourToGreyModeClass, Tal_CleanupColourToGreyModeClass},
    {Tal_InitEmbossModeClass, Tal_CleanupEmbossModeClass},
    {Tal_InitFlipXModeClass, Tal_CleanupFlipXModeClass},
    {Tal_InitFlipYModeClass, Tal_CleanupFlipYModeClass},
    {Tal_InitNegativeModeClass, Tal_CleanupNegativeModeClass},
    {Tal_InitPaintModeClass, Tal_CleanupPaintModeClass},
    {Tal_InitRootModeClass, Tal_CleanupRootModeClass},
    {Tal_InitSepiaModeClass, Tal_CleanupSepiaModeClass},
    {Tal_InitRootMediaClass, Tal_CleanupRootMediaClass},
    {Tal_InitAirBrushMediaClass, Tal_CleanupAirBrushMediaClass},
    {Tal_InitImageMediaClass, Tal_CleanupImageMediaClass},
    {Tal_InitRootToolClass, Tal_CleanupRootToolClass},
    {Tal_InitRootTALIOClass, Tal_CleanupRootTALIOClass},
    {Tal_InitBMPTALIOClass, Tal_CleanupBMPTALIOClass},
    {Tal_InitJPEGTALIOClass, Tal_CleanupJPEGTALIOClass},
    {Tal_InitGIFTALIOClass, Tal_CleanupGIFTALIOClass},
    {Tal_InitILBMTALIOClass, Tal_CleanupILBMTALIOClass},
    {Tal_InitIFFDEEPTALIOClass, Tal_CleanupIFFDEEPTALIOClass},
    {Tal_InitTARGATALIOClass, Tal_CleanupTARGATALIOClass},
    {Tal_InitClipboardTALIOClass, Tal_CleanupClipboardTALIOClass},
    {Tal_InitScreenGrabTALIOClass, Tal_CleanupScreenGrabTALIOClass},
    // Beyond the listed classes.
    {Tal_InitPNGTALIOClass, Tal_CleanupPNGTALIOClass},
    {Tal_InitCloneModeClass, Tal_CleanupCloneModeClass},
    // The start-up's own classes: ImageIcon, ImagePopUp and NewImageReq.
    {Tal_InitNewImageReqClass, Tal_CleanupNewImageReqClass},
};
constexpr size_t kApplicationClasses = sizeof applicationClasses / sizeof applicationClasses[0];

// What the engine's start has done so far, so that a failure (or the end) undoes exactly that.
struct EngineState {
    std::mutex lock;
    LONG count = 0;
    bool catalogue = false;
    size_t classes = 0;
    TALIO_GlobalData* talio = nullptr;
    bool engine = false;
    ULONG prefs = 0;
};
EngineState state;

void undo() {
    if (state.prefs) Tal_DisposeObject(state.prefs);
    state.prefs = 0;
    if (state.engine) Tal__UseProgressDisplays(false);
    if (state.engine) Tal__CloseImageEngine();
    state.engine = false;
    if (state.talio) TALIO_Cleanup(state.talio);
    state.talio = nullptr;
    while (state.classes > 0) applicationClasses[--state.classes].cleanup();
    if (state.catalogue) Tal__FreeCatalogue();
    state.catalogue = false;
    Tal_CleanUp();
}

// The start cannot go on: the user is told (and the terminal too).
void seriousError(const char* text) {
    std::fprintf(stderr, "velura: Serious Error: %s\n", text);
    Tal_MessageBoxA("Serious Error", text, 1);
}

ULONG globalImageHandle() {
    Tal_ImageBase* base = Tal_GetImageBase();
    return base && base->image_object ? base->image_object->header.handle : 0;
}

bool isPreferences(ULONG object) {
    const auto* instance = static_cast<const Tal_Object*>(Tal_GetObjectInstance(object));
    return instance && instance->objClass == Tal_FindClassFromName("VeluraPrefs");
}

// A data file that is there but is no file (a folder, a device, a pipe) is never read: one line on
// standard error names it, with what follows. True when it said so.
bool saidNotAFile(const char* name, const char* consequence) {
    Tal_FileInfo info;
    char path[4096];
    if (Tal_GetFileInfo(name, &info) != 0 ||
        !(info.flags & (TAL_FILEINFO_DIRECTORY | TAL_FILEINFO_SPECIAL)) ||
        !host_ResolvePath(name, 0, path, sizeof path))
        return false;
    std::fprintf(stderr, "velura: %s is not a regular file%s\n", path, consequence);
    return true;
}

// The preferences object of the preferences file, or 0 for the defaults. A file that gives none is damaged:
// the user's own copy is moved aside (to the name with ".bad" added, replacing an older one) so that the
// settings are not lost with the next store, and one line on standard error says so. A name that is not a
// regular file is never read, and left as it is.
ULONG restorePreferences() {
    ULONG prefs = Tal_RestoreObjectFromDisk(TAL_PREFS_FILE);
    if (prefs && isPreferences(prefs)) return prefs;
    Tal_DisposeObject(prefs);
    char path[4096], user[4096];
    if (!host_ResolvePath(TAL_PREFS_FILE, 0, path, sizeof path)) return 0; // no file: the defaults, silently
    if (saidNotAFile(TAL_PREFS_FILE, ": the default preferences are used")) return 0;
    const std::string aside = std::string(TAL_PREFS_FILE) + ".bad";
    const bool own = host_GetUserDir(user, sizeof user) && std::strncmp(path, user, std::strlen(user)) == 0;
    if (own && (Tal_DeleteFile(aside.c_str()) || !Tal_DoesFileExist(aside.c_str())) &&
        Tal_RenameFile(TAL_PREFS_FILE, aside.c_str()))
        std::fprintf(stderr,
                     "velura: the preferences in %s are damaged: moved to %s.bad, the defaults are used\n",
                     path, path);
    else
        std::fprintf(stderr, "velura: the preferences in %s are damaged: the defaults are used\n", path);
    return 0;
}

// Paths handed to the image thread stay until the process ends: the method may run long after.
std::mutex keptLock;
std::list<std::string> keptPaths;

const char* keep(const char* path) {
    std::lock_guard guard(keptLock);
    return keptPaths.emplace_back(path).c_str();
}

// The tools the program has, each with the key that chooses it; the first one made is current from the
// start. Tools whose class is not part of the program are left out.
struct ToolKey {
    const char* className;
    UBYTE key;
};
constexpr ToolKey kTools[] = {
    {"DrawTool", 'd'},    {"LineTool", 'l'},    {"CurveTool", 'c'},    {"RectangleTool", 'r'},
    {"EllipseTool", 'e'}, {"PolygonTool", 'p'}, {"SymmetryTool", 's'},
};

// Until the panel holder shows the tool bar, the tools live in a group of their own.
ULONG makeTools() {
    const ULONG group = Tal_CreateObject("Group");
    if (!group) return 0;
    bool first = true;
    for (const ToolKey& t : kTools) {
        if (!Tal_FindClassFromName(t.className)) continue;
        const ULONG tool = Tal_CreateObject(t.className);
        if (!tool || !Tal_DoMethod(group, TAL_AddTail, tool)) {
            Tal_DisposeObject(tool);
            continue;
        }
        Tal_SetToolKey(t.key, tool);
        if (first) Tal_DoMethod(tool, TAL_Pressed);
        first = false;
    }
    return group;
}

} // namespace

Tal_ImageBase* Tal_InitImageBase() {
    std::lock_guard guard(state.lock);
    if (state.count > 0) {
        state.count++;
        return Tal_GetImageBase();
    }
    Tal_UseInterfaceClasses();
    Tal_Init(); // nested: the object system stays up as long as the engine
    Tal_AddProgramPicture(TAL_SPLASH_PICTURE, Tal__SplashPicture);
    Tal__ResetPrefsSettings();
    for (const char* path : kClassPaths) Tal_AddExternalClassSearchPath(path);

    state.catalogue = Tal__LoadCatalogue(kCatalogue, "") != 0;
    if (!state.catalogue) {
        saidNotAFile(kCatalogue, "");
        seriousError("Cant open language file Data\\Lingua\\Velura.etf");
        undo();
        return nullptr;
    }
    for (; state.classes < kApplicationClasses; state.classes++) {
        if (!applicationClasses[state.classes].init()) {
            undo();
            return nullptr;
        }
    }
    state.talio = TALIO_Init(Tal_GetGlobalData());
    if (!state.talio) {
        seriousError("Cant Initialise TALIO.library");
        undo();
        return nullptr;
    }
    // The engine's state and defaults (product name, mode and brush names), and the global image object.
    Tal_ImageBase* base = Tal__OpenImageEngine();
    state.engine = base != nullptr;
    if (!base) {
        undo();
        return nullptr;
    }
    // Views draw as the preferences say.
    Tal__UseDisplaySettings(&Tal_GetPrefsSettings()->redrawMode,
                            &Tal_GetPrefsSettings()->interpolatedDisplay);
    // Long loads and saves of the image-file library show their progress and can be stopped.
    Tal__UseProgressDisplays(true);
    // The preferences file, when there is one that makes a preferences object; anything else gives the
    // defaults.
    ULONG prefs = restorePreferences();
    if (prefs)
        Tal__KeepPrefsWindowOnScreen(prefs);
    else
        prefs = Tal_CreateObject("VeluraPrefs");
    state.prefs = prefs;
    if (!prefs) {
        undo();
        return nullptr;
    }
    // Images paint with the preset the preferences chose, else with the default brush.
    if (!base->preset)
        Tal_DoImageMethod(base->image_object, TAL_SetGlobalImageMediaName, base->default_media_name);
    state.count = 1;
    return base;
}

void Tal_CleanupImageBase() {
    std::lock_guard guard(state.lock);
    if (state.count <= 0 || --state.count > 0) return;
    undo();
}

ULONG app_PreferencesObject() {
    std::lock_guard guard(state.lock);
    return state.count > 0 ? state.prefs : 0;
}

ULONG app_OpenSplash() {
    const ULONG screen =
        Tal_CreateObjects(0, TAL_TREE_OBJECT, "Screen",
                          //
                          TAL_TREE_OBJECT, "Window", TAL_SetWindowTitle, "Velura", TAL_SetWindowX, 0xCECECECE,
                          TAL_SetWindowY, 0, TAL_SetWindowType, 16, TAL_SetWindowDefaultW, TAL_SPLASH_WIDTH,
                          TAL_SetWindowDefaultH, TAL_SPLASH_HEIGHT,
                          //
                          TAL_TREE_OBJECT, "BitMap", TAL_SetBitMapColour0, 0, TAL_SetBuiltInPicture,
                          TAL_SPLASH_PICTURE, TAL_TREE_CLOSE,
                          //
                          TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    if (screen) Tal_DoMethod(screen, TAL_Start);
    return screen;
}

Tal_Word EventFunc(Tal_Word userData, ULONG, ULONG, const Tal_Word*) {
    const ULONG image = globalImageHandle();
    switch (userData) {
    case APP_NEW_IMAGE:
        return reinterpret_cast<Tal_Word>(Tal__NewImageCommand());
    case APP_OPEN:
        return Tal_DoAsyncMethod(image, TAL_OpenImageFile, 0);
    case APP_BROWSE:
        return Tal_DoAsyncMethod(image, TAL_BrowseImages, 0);
    case APP_QUIT:
        return Tal_DoAsyncMethod(image, TAL_QuitRequest, 0);
    default:
        return 0;
    }
}

bool app_BuildMainTree(app_MainTree* t) {
    Tal_ImageBase* base = Tal_GetImageBase();
    const ULONG prefs = app_PreferencesObject();
    if (!base || !prefs) return false;
    *t = app_MainTree{};
    t->backdrop = Tal_CreateObject("BitMap", TAL_SetBuiltInPicture, TAL_SPLASH_PICTURE);
    if (!t->backdrop) return false;
    // clang-format off
    t->app = Tal_CreateObjects(0,
        TAL_TREE_OBJECT, "App", TAL_SetAppValue, 0, TAL_SetAppName, "Velura",
            TAL_SetAppTitle, Tal_GetCatalogueText(540), TAL_SetAppDescription, Tal_GetCatalogueText(227),
        TAL_TREE_OBJECT, "Screen", TAL_TREE_HANDLE, &t->screen, 0x00460028, Tal_GetCatalogueText(288),
            0x0046003C, "VELURA",
        TAL_TREE_OBJECT, "Window", TAL_TREE_HANDLE, &t->window, TAL_SetWindowTitle, "HToolBoxObj",
            TAL_SetWindowType, 16, TAL_SetWindowDefaultW, 240, TAL_SetWindowDefaultH, 268,
        TAL_TREE_VGROUP, TAL_SetGroupFrame, 6, TAL_SetBackdrop, t->backdrop,
        TAL_TREE_VGROUP, TAL_SetGroupMargin, 5, TAL_SetGroupSpacing, 5,
            TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &t->buttons[0], TAL_TREE_TEXT, "Create a New Image",
            TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &t->buttons[1], TAL_TREE_TEXT, "Open an Existing Image",
            TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &t->buttons[2], TAL_TREE_TEXT, "Browse for Images",
            TAL_TREE_CLOSE,
            TAL_TREE_SPACE_WIDTH1, TAL_TREE_OBJECT, "Space", TAL_TREE_CLOSE,
        TAL_TREE_CLOSE, TAL_TREE_CLOSE,
        TAL_TREE_SPACE_HEIGHT1,
        TAL_TREE_CLOSE, TAL_TREE_CLOSE, TAL_TREE_CLOSE);
    // clang-format on
    if (!t->app || !t->screen || !t->window || !t->buttons[0] || !t->buttons[1] || !t->buttons[2]) {
        Tal_DisposeObject(t->app);
        Tal_DisposeObject(t->backdrop);
        *t = app_MainTree{};
        return false;
    }
    // The buttons' notifications run in the start window's thread; the work goes to the image thread.
    Tal_AddCallBackNotify(t->buttons[0], TAL_ButtonClicked, TAL_AnyValue, EventFunc, APP_NEW_IMAGE);
    Tal_AddCallBackNotify(t->buttons[1], TAL_Released, TAL_AnyValue, EventFunc, APP_OPEN);
    Tal_AddCallBackNotify(t->buttons[2], TAL_Released, TAL_AnyValue, EventFunc, APP_BROWSE);
    Tal_AddCallBackNotify(t->window, TAL_CloseWindow, TAL_AnyValue, EventFunc, APP_QUIT);

    t->tools = makeTools();
    base->app_object = t->app;
    base->screen_object = t->screen;
    base->main_window = t->window;
    Tal__InitRedraw(t->screen);
    if (TALIO_GlobalData* talio = TALIO_GetGlobalData()) talio->requesterParent = t->window;
    Tal_DoMethod(t->screen, TAL_AddTail, prefs);
    return true;
}

void app_DisposeMainTree(app_MainTree* t) {
    if (Tal_ImageBase* base = Tal_GetImageBase()) {
        if (base->app_object == t->app) {
            base->app_object = base->screen_object = base->main_window = 0;
            Tal__InitRedraw(0);
        }
    }
    if (TALIO_GlobalData* talio = TALIO_GetGlobalData(); talio && talio->requesterParent == t->window)
        talio->requesterParent = 0;
    if (ULONG prefs = app_PreferencesObject(); prefs && t->screen)
        Tal_DoMethod(t->screen, TAL_RemoveMember, prefs);
    Tal_DisposeObject(t->tools);
    Tal_DisposeObject(t->app);
    Tal_DisposeObject(t->backdrop);
    *t = app_MainTree{};
}

ULONG app_OpenPath(const char* path) {
    if (!path || !*path) return 0;
    if (std::strlen(path) > APP_PATH_MAX) {
        std::fprintf(stderr, "velura: a path of more than %zu characters cannot be opened: %.40s...\n",
                     APP_PATH_MAX, path);
        return 0;
    }
    const ULONG image = globalImageHandle();
    return image ? Tal_DoAsyncMethod(image, TAL_OpenImageFile, keep(path)) : 0;
}

bool app_FinishImageWork(ULONG milliseconds) {
    Tal_ImageBase* base = Tal_GetImageBase();
    if (!base) return true;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    for (;;) {
        // The break signal ends an image thread after the method it performs; it is sent again while the
        // thread still runs. A thread's task lives until the thread has passed the forbid lock on its
        // way out, so it is safe to signal under that lock.
        bool running = false;
        {
            SemaphoreGuard list(&base->listLock);
            for (Tal_ImageNode* n : ListNodes<Tal_ImageNode>(&base->registry)) {
                auto* image = static_cast<Tal_Image*>(n->owner);
                Forbid();
                if (Task* task = image->thread_task.load()) {
                    Signal(task, SIGBREAKF_CTRL_C);
                    running = true;
                }
                Permit();
            }
        }
        if (!running) return true;
        if (std::chrono::steady_clock::now() > limit) return false;
        Delay(1);
    }
}

void app_StorePreferences() {
    const ULONG prefs = app_PreferencesObject();
    if (!prefs) return;
    Tal_DoMethod(prefs, TAL_ShowPrefsSettings);
    Tal_DoMethod(prefs, TAL_StorePrefs);
}
