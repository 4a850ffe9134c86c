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

// The leak checker of the sanitizer builds is told about memory that system libraries keep until the
// process ends (fontconfig's parsed configuration, and D-Bus, which SDL opens and never closes); every
// program that draws text or opens a display would otherwise fail it. One list for the whole program, in a
// file every program links.
#if defined(__SANITIZE_ADDRESS__)
#define VELURA_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELURA_LEAK_CHECKER 1
#endif
#endif
#ifdef VELURA_LEAK_CHECKER
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
// Without the summary of the suppressions used, which would follow every program's own output.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
#endif
