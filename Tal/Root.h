// The base class every object contains.
#pragma once

#include "Tal/RootIDs.h"
#include "Tal/Tal.h"

struct Tal_NotifyBlock;

// The Root instance: the shared part of every object. The box is the one the header's box pointer
// points at.
struct Tal_RootInstance {
    Tal_Object header;
    Tal_Box box;
    ULONG colour1; // background; 0xFFFFFFFF = none
    ULONG colour2;
    ULONG colour3;
    WORD weight;
    Tal_Semaphore* memberLock;
    ULONG backdrop; // an object that draws the background of this object and its members
    Tal_NotifyBlock* notify;
    Tal_Word userData;
    ULONG reserved;
    const char* label; // not owned
    char* name;        // owned
    MsgPort* asyncPort;
    const char* tooltip; // not owned
    BYTE hideCount;
    BYTE disableCount;
};

constexpr ULONG TAL_NO_COLOUR = 0xFFFFFFFF;

ULONG Tal_InitRootClass();
void Tal_CleanupRootClass();

// The Root instance at the bottom of a handle's instance chain; none for an invalid handle. The caller
// must know the object stays alive meanwhile (it is drawing it, or owns it).
Tal_RootInstance* Tal__GetRootInstance(ULONG handle);

ULONG Tal_IsCoordOverObject(ULONG handle, LONG x, LONG y);
void Tal_RelayoutAndRedrawObject(ULONG handle);

// The global object lock: it guards notification and member lists.
Tal_Semaphore* Tal__ObjectLock();

// The Root instance of an object, locked (release with Tal_UnlockObjectInstance); none when invalid.
Tal_RootInstance* Tal__LockRootInstance(ULONG handle);

// Like Tal_LockObjectInstance, but silent about handles that are gone.
Tal_Object* Tal__LockObjectInstanceQuiet(ULONG handle);
