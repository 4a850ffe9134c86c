// App: the application object at the root of the program's main tree. Its run method (Tal_Start) starts
// the screens and their windows and then keeps the calling thread asleep until the quit request
// (Tal_Stop, from any thread); all work happens meanwhile in the windows' and images' own threads.
#pragma once

#include "ui/Group.h"

constexpr ULONG TAL_SetAppName = 0x0007001E;
constexpr ULONG TAL_SetAppTitle = 0x00070028;
constexpr ULONG TAL_SetAppDescription = 0x00070032; // the application's third text
constexpr ULONG TAL_SetAppValue = 0x0007003C;       // kept times 3

// Registering the class also starts the host services (tasks and signals, graphics); removing it ends them.
ULONG Tal_InitAppClass();
void Tal_CleanupAppClass();
