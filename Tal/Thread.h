// The Thread class: a function run in a thread of its own.
#pragma once

#include "Tal/Tal.h"

// Called with the object's user data (Tal_SetUserData); should return when its task receives the break
// signal (SIGBREAKF_CTRL_C).
using Tal_ThreadEntry = ULONG (*)(Tal_Word userData);

constexpr ULONG TAL_SetThreadEntry = 0x000F000A;
constexpr ULONG TAL_SetThreadStackSize = 0x000F0014;
constexpr ULONG TAL_SetThreadName = 0x000F001E;
constexpr ULONG TAL_SetThreadPriority = 0x000F0028;

ULONG Tal_InitThreadClass();
void Tal_CleanupThreadClass();
