// The debug output.
#include "host/host.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex hookLock;
DebugHook hook = nullptr;
void* hookUser = nullptr;

bool debugToStderr() {
    static const bool enabled = [] {
        const char* value = std::getenv("VELURA_DEBUG");
        return value && value[0] == '1';
    }();
    return enabled;
}

} // namespace

void host_SetDebugHook(DebugHook newHook, void* user) {
    std::lock_guard lock(hookLock);
    hook = newHook;
    hookUser = user;
}

void KPutStr(const char* text) {
    if (!text) return;
    if (debugToStderr()) std::fputs(text, stderr);
    std::lock_guard lock(hookLock);
    if (hook) hook(text, hookUser);
}

void KPrintF(const char* format, ...) {
    char line[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    KPutStr(line);
}
