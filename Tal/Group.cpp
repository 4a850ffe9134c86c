// Group: the container class. Its registration also creates the global object lock, which guards every
// notification list and every member list of the process.
#include "Tal/TalPrivate.h"

ULONG Tal_InitGroupClass() {
    Tal_GlobalData* gd = Tal_GetGlobalData();
    if (!gd->objectLock) gd->objectLock = Tal_AllocSemaphore();
    return gd->objectLock ? 1 : 0;
}

void Tal_CleanupGroupClass() {
    Tal_GlobalData* gd = Tal_GetGlobalData();
    Tal_FreeSemaphore(gd->objectLock);
    gd->objectLock = nullptr;
}

Tal_Semaphore* Tal__ObjectLock() {
    return Tal_GetGlobalData()->objectLock;
}
