// A test class on Root that records every method it receives (and passes those of the Root family on)
// and keeps the members added to it. Recorder classes may be registered under any name, so that a
// test can stand in for a class that does not exist yet.
#pragma once

#include "Tal/Root.h"

#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace recorder {

constexpr ULONG AddTail = 0x0047001E;
constexpr ULONG GetFirst = 0x00470050;
constexpr ULONG GetNext = 0x00470064;

// Methods of this family are recorded with four argument words (their senders pass at least four);
// others with their first word only.
constexpr ULONG WideFamily = 0x7E0F;

struct Call {
    ULONG id;
    std::vector<Tal_Word> args;
};

struct Instance {
    Tal_Object header;
    std::mutex* mutex;
    std::vector<Call>* calls;
    std::vector<ULONG>* members;
    // Called from the dispatcher for every recorded method, if set.
    void (*hook)(Instance* self, ULONG id, const Tal_Word* args);
};

inline void* newInstance(Tal_Class* cls) {
    auto* self = static_cast<Instance*>(Tal_AllocObjectMem(cls));
    if (!self) return nullptr;
    self->header.superObject = Tal_CreateObject("Root");
    self->mutex = new std::mutex;
    self->calls = new std::vector<Call>;
    self->members = new std::vector<ULONG>;
    return self;
}

inline void dispose(void* instance) {
    auto* self = static_cast<Instance*>(instance);
    for (ULONG member : *self->members) Tal_DisposeObject(member);
    delete self->mutex;
    delete self->calls;
    delete self->members;
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

inline Tal_Word dispatch(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<Instance*>(instance);
    if ((id >> 16) == 1) {
        {
            std::lock_guard lock(*self->mutex);
            self->calls->push_back({id, {args[0]}});
        }
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
    {
        std::lock_guard lock(*self->mutex);
        switch (id) {
        case AddTail: {
            ULONG member = ULONG(args[0]);
            self->members->push_back(member);
            if (Tal_RootInstance* root = Tal__GetRootInstance(member)) root->box.parent = self->header.handle;
            return 1;
        }
        case GetFirst:
            return self->members->empty() ? 0 : self->members->front();
        case GetNext:
            for (size_t i = 0; i + 1 < self->members->size(); i++)
                if ((*self->members)[i] == ULONG(args[0])) return (*self->members)[i + 1];
            return 0;
        default:
            if ((id >> 16) == WideFamily)
                self->calls->push_back({id, {args[0], args[1], args[2], args[3]}});
            else
                self->calls->push_back({id, {args[0]}});
        }
    }
    if (self->hook) self->hook(self, id, args);
    return 1;
}

// Registers a recorder class under a name (once per record).
inline void registerClass(Tal_Class* cls, const char* name, ULONG classId, Tal_NewFunction newFunction) {
    Tal__SetupClass(cls, name, classId, "Root", newFunction, dispose, dispatch, nullptr, sizeof(Instance));
}

inline Instance* of(ULONG handle) {
    return static_cast<Instance*>(Tal_GetObjectInstance(handle));
}

inline std::vector<Call> calls(ULONG handle) {
    Instance* self = of(handle);
    std::lock_guard lock(*self->mutex);
    return *self->calls;
}

inline std::vector<ULONG> members(ULONG handle) {
    return *of(handle)->members;
}

// The value of the last call of a one-word attribute, or `otherwise`.
inline Tal_Word attribute(ULONG handle, ULONG id, Tal_Word otherwise = 0xDEADBEEF) {
    Tal_Word value = otherwise;
    for (const Call& call : calls(handle))
        if (call.id == id) value = call.args[0];
    return value;
}

} // namespace recorder

// One recorder class per static record: RECORDER_CLASS(windowClass, "Window", 0x00090000) defines
// windowClass and a function registering it.
#define RECORDER_CLASS(var, name, id)                                                                        \
    Tal_Class var;                                                                                           \
    void register_##var() {                                                                                  \
        recorder::registerClass(&var, name, id, [](const TagItem*) { return recorder::newInstance(&var); }); \
    }
