// What all display back ends share.
#include "host/display.h"
#include "host/host.h"

#include <atomic>

namespace {
std::atomic<host_QuitHandler> quitHandler{nullptr};
}

void host_SetQuitHandler(host_QuitHandler handler) { quitHandler = handler; }
host_QuitHandler host_GetQuitHandler() { return quitHandler.load(); }

bool host_Idle() { return host_QueuesIdle() && host_TasksIdle(); }
