// VeluraPrefs: the persistent face of the program's settings. Its setters and getters read and write the
// settings, its stored text is the preferences file, and it is at the same time the preferences window
// (a requester with four check boxes) that lets the user change some of them.
#pragma once

#include "Tal/Tal.h"

#include <atomic>
#include <mutex>

constexpr ULONG TAL_SetMaxUndoRedoSize = 0x03E80022;
constexpr ULONG TAL_GetMaxUndoRedoSize = 0x03E8002C;
constexpr ULONG TAL_SetRedrawMode = 0x03E80036;
constexpr ULONG TAL_GetRedrawMode = 0x03E80040;
constexpr ULONG TAL_PrefsNothing = 0x03E8004A;
constexpr ULONG TAL_SetAreYouSurePrefs = 0x03E80072;
constexpr ULONG TAL_GetAreYouSurePrefs = 0x03E8007C;
constexpr ULONG TAL_SetLoadPath = 0x03E800AE;
constexpr ULONG TAL_GetLoadPath = 0x03E800B8;
constexpr ULONG TAL_SetSavePath = 0x03E800C2;
constexpr ULONG TAL_GetSavePath = 0x03E800CC;
constexpr ULONG TAL_SetCreateBackupsPrefs = 0x03E800D6;
constexpr ULONG TAL_GetCreateBackupsPrefs = 0x03E800E0;
constexpr ULONG TAL_SetFileRequesterTypePrefs = 0x03E800EA;
constexpr ULONG TAL_GetFileRequesterTypePrefs = 0x03E800F4;
constexpr ULONG TAL_SetUseSameLoadSavePathPrefs = 0x03E80112;
constexpr ULONG TAL_GetUseSameLoadSavePathPrefs = 0x03E8011C;
constexpr ULONG TAL_StorePrefs = 0x03E80176;        // to the preferences file; returns 0
constexpr ULONG TAL_ShowPrefsSettings = 0x03E8018A; // the current settings into the check boxes
constexpr ULONG TAL_SetInterpolatedDisplayMode = 0x03E801BC;
constexpr ULONG TAL_GetInterpolatedDisplayMode = 0x03E801C6;

// Tal_SetRedrawMode with this argument chooses by the device: 5 (12-bit dithering) on the handhelds that
// need it, else 0.
constexpr LONG TAL_REDRAW_AUTOMATIC = 9999;
constexpr LONG TAL_REDRAW_12BIT = 5;

// Where the preferences live: read from the user directory (else the installation's defaults), written to
// the user directory.
constexpr const char* TAL_PREFS_FILE = "Data/Prefs/VeluraPrefs.TalStr";

// The longest load or save path the settings keep; a longer one is refused, never cut.
constexpr size_t TAL_PREFS_PATH_MAX = 259;

// The settings the preferences keep besides those of the image base (are-you-sure and undo size), the
// global image object (colour and brush preset) and the image files (backups), for the parts of the
// program that use them. Numbers may be read from any thread; the paths under the lock.
struct Tal_PrefsSettings {
    std::atomic<LONG> interpolatedDisplay;
    std::atomic<LONG> fileRequesterType; // 0: the format is chosen before the file requester, 1: inside it
    std::atomic<LONG> sameLoadSavePath;
    std::atomic<LONG> redrawMode; // 5: the 12-bit dithering renderer
    std::mutex pathLock;
    char loadPath[TAL_PREFS_PATH_MAX + 1];
    char savePath[TAL_PREFS_PATH_MAX + 1];
};
Tal_PrefsSettings* Tal_GetPrefsSettings();
// Back to the state of a fresh start (the image engine does it when it starts).
void Tal__ResetPrefsSettings();

// The undo size of a fresh start, also taken for a negative one.
constexpr ULONG TAL_DEFAULT_UNDO_SIZE = 1;

// A preferences window whose stored box does not lie wholly on the screen (the file came from a larger
// screen, or was edited) goes back to the default box.
void Tal__KeepPrefsWindowOnScreen(ULONG prefs);

// The device information text the automatic redraw mode looks at: VELURA_OEM_INFO, else "Linux"; at most
// 256 characters.
void Tal__GetDeviceInfo(char* buffer, size_t size);

// The callback behind the window's buttons: by the source's user data, 0 applies the check boxes and closes,
// 1 stores the preferences and closes, 2 closes and shows the settings again. The object's own "ended
// positively" event counts as 0.
Tal_Word Tal__VeluraPrefsCallBack(Tal_Word prefs, ULONG source, ULONG trigger, const Tal_Word* args);

ULONG Tal_InitVeluraPrefsClass();
void Tal_CleanupVeluraPrefsClass();
