// Start-up and shut-down of the program: the image engine with its catalogue, classes and preferences,
// the start picture, the main tree and its wiring, and what happens at quit (image work is let finish,
// then the preferences are stored).
#pragma once

#include "Vlr/Vlr.h"

// Starts the image engine (counted; only the first call does the work): the object system (nested), the
// class search paths, the text catalogue, the application classes in their order, the image-file library,
// the engine's state with its global image object, and the preferences object restored from its file (or
// made fresh). On failure its message has been shown and written to standard error; none.
Tal_ImageBase* Tal_InitImageBase();
// Ends what Tal_InitImageBase started when the count reaches 0: the preferences object, images, the
// image-file library, the application classes, the catalogue, the nested object system.
void Tal_CleanupImageBase();

// The preferences object (a VeluraPrefs), while the image engine runs.
ULONG app_PreferencesObject();

// The splash: a screen with a window showing the start picture, started. Dispose it when the main tree
// stands.
ULONG app_OpenSplash();

// The objects of the main tree.
struct app_MainTree {
    ULONG app = 0;
    ULONG screen = 0;
    ULONG window = 0;      // the start window
    ULONG buttons[3] = {}; // "Create a New Image", "Open an Existing Image", "Browse for Images"
    ULONG backdrop = 0;    // the start picture behind the buttons
    ULONG tools = 0;       // the tools (each chosen by its key), until a panel shows them
};
// Builds the main tree, wires its buttons and the start window's close event to the global image object,
// records the application, screen and main window in the image base, and adds the preferences window to
// the screen. False (with nothing left over) when it cannot be built.
bool app_BuildMainTree(app_MainTree* tree);
// Takes the preferences object back out of the screen (it belongs to the image engine) and disposes the
// tree.
void app_DisposeMainTree(app_MainTree* tree);

// The longest path the program opens; a longer one is refused, never cut.
constexpr size_t APP_PATH_MAX = 259;
// Has the image thread open a file (a copy of the path is kept). 0 when the path is too long (the reason
// goes to standard error) or the engine does not run.
ULONG app_OpenPath(const char* path);

// Quitting: every image thread finishes the method it performs and takes no further one. True when all
// have ended within the time.
bool app_FinishImageWork(ULONG milliseconds);
// Quitting: the preferences take the current settings and store themselves.
void app_StorePreferences();

// The callback behind the start buttons and the close event, by its user data: the new-image requester,
// open a file, browse for images, the quit question.
constexpr Tal_Word APP_NEW_IMAGE = 2, APP_OPEN = 51, APP_BROWSE = 139, APP_QUIT = 69;
Tal_Word EventFunc(Tal_Word userData, ULONG source, ULONG trigger, const Tal_Word* args);
