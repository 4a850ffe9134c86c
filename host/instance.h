// One running copy of the program per user and installation, and the help pages.
//
// The first copy holds a lock file and, once its window is open, listens on a Unix-domain socket in
// $XDG_RUNTIME_DIR (else the user directory), both named after the user and a hash of the installation
// directory, and removes both when it stops. A later start hands its path (or an empty one: "come
// forward") to the running copy and ends. The lock goes with the process, so a copy that crashed leaves
// nothing that blocks the next one.
#pragma once

#include "Tal/TalBase.h"

#include <cstddef>

// Called in the receiving thread with every path handed over by another start: a path that fitted,
// terminated, or "" when the other start had no path.
using host_InstanceHandler = void (*)(const char* path);

enum class host_InstanceRole {
    First,      // this is the running copy now (it holds the lock): listen once the window is open
    HandedOver, // another copy runs and took the path: end this one
    Refused,    // another copy runs and did not take the path (too long): end this one with an error
    Alone       // no hand-over possible (socket directory unusable, or the running copy did not answer in
                // time): run on your own
};

// Becomes the running copy, or hands `path` (none or "" for no path; at most PATH_MAX - 1 bytes) to the
// one that runs. A copy that holds the lock but does not listen yet is waited for a few seconds. A relative
// path should be made absolute by the caller: the other copy has another current directory.
host_InstanceRole host_StartSingleInstance(const char* path);
// The running copy starts listening: handed-over paths reach the handler. False when it is not the running
// copy, listens already or cannot.
bool host_ListenSingleInstance(host_InstanceHandler handler);
// Stops listening and gives up the lock (the running copy, before it ends).
void host_StopSingleInstance();
// The socket's file name (for tests); 0 when it does not fit the buffer.
ULONG host_InstanceSocketPath(char* buffer, size_t size);

// The help viewer: a program started with the help page's path as its one argument ("xdg-open" unless
// changed). None turns starting a viewer off: host_OpenHelp then only writes the page's name to the debug
// output (headless runs have no desktop to show it on).
void host_SetHelpViewer(const char* command);
