// What all display back ends share.
#include "host/display.h"
#include "host/host.h"

#include <atomic>

namespace {
std::atomic<host_QuitHandler> quitHandler{nullptr};
std::atomic<host_DisplayLostHandler> lostHandler{nullptr};
} // namespace

void host_SetQuitHandler(host_QuitHandler handler) {
    quitHandler = handler;
}
host_QuitHandler host_GetQuitHandler() {
    return quitHandler.load();
}
void host_SetDisplayLostHandler(host_DisplayLostHandler handler) {
    lostHandler = handler;
}
host_DisplayLostHandler host_GetDisplayLostHandler() {
    return lostHandler.load();
}

bool host_Idle() {
    return host_QueuesIdle() && host_TasksIdle();
}
