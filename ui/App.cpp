// App: a Group that owns the main loop. Tal_Start starts its members, then sleeps until the break signal
// arrives, then stops them; Tal_Stop sends the break signal.
#include "ui/App.h"
#include "host/graphics.h"

namespace {

Tal_Class appClass;

struct AppInstance {
    Tal_Object header;
    Task* task;    // the task that created the object
    MsgPort* port; // created with it
    UBYTE kind;
    char* name;
    char* title;
    char* description;
    UWORD value;
    Task* running; // the task inside Tal_Start; guarded by the forbid lock
};

AppInstance* of(void* instance) {
    return static_cast<AppInstance*>(instance);
}

bool setText(char*& field, Tal_Word text) {
    char* copy = Tal_StrDup(text ? reinterpret_cast<const char*>(text) : "");
    if (!copy) return false;
    Tal_FreeMem(field);
    field = copy;
    return true;
}

Tal_Word run(AppInstance* a, const Tal_Word* args) {
    Tal_DoMethodA(a->header.superObject, TAL_Start, args);
    Forbid();
    a->running = FindTask(nullptr);
    Permit();
    // Any signal ends a wait, a stray one too (the object's own port, for one): only the break signal
    // ends the loop.
    while (!(Wait(SIGBREAKF_CTRL_C) & SIGBREAKF_CTRL_C)) {
    }
    Forbid();
    a->running = nullptr;
    Permit();
    Tal_DoMethod(a->header.superObject, TAL_Stop);
    return 0;
}

// The break signal goes to the task that runs the loop, else to the creator, which finds it waiting
// when it starts the loop.
Tal_Word stop(AppInstance* a) {
    Forbid();
    Task* task = a->running ? a->running : a->task;
    if (task) Signal(task, SIGBREAKF_CTRL_C);
    Permit();
    return 1;
}

} // namespace

void* Tal_NewAppClass(const TagItem*) {
    auto* a = static_cast<AppInstance*>(Tal_AllocObjectMem(&appClass));
    if (!a) return nullptr;
    a->header.superObject = Tal_CreateObject("Group");
    a->task = host_ThisTask();
    a->port = CreateMsgPort();
    a->kind = 5;
    a->value = 3;
    if (!a->header.superObject || !a->port || !setText(a->name, Tal_Word("Unnamed Tal App")) ||
        !setText(a->title, Tal_Word("Unnamed Tal App")) || !setText(a->description, 0)) {
        Tal_FreeMem(a->name);
        Tal_FreeMem(a->title);
        Tal_FreeMem(a->description);
        DeleteMsgPort(a->port);
        Tal_DisposeObject(a->header.superObject);
        Tal_FreeObjectMem(a);
        return nullptr;
    }
    return a;
}

void Tal_DisposeAppClass(void* instance) {
    auto* a = of(instance);
    Tal_DisposeObject(a->header.superObject);
    // The port's signal bit belongs to the creator: another task leaves it reserved rather than free a
    // bit of its own.
    if (FindTask(nullptr) == a->task) {
        DeleteMsgPort(a->port);
    } else {
        Forbid();
        while (Node* msg = RemHead(&a->port->mp_MsgList)) Tal_FreeMem(msg);
        Permit();
        Tal_FreeMem(a->port);
    }
    Tal_FreeMem(a->name);
    Tal_FreeMem(a->title);
    Tal_FreeMem(a->description);
    Tal_FreeObjectMem(a);
}

Tal_Word Tal_DoAppClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* a = of(instance);
    switch (id) {
    case TAL_Start:
        return run(a, args);
    case TAL_Stop:
        return stop(a);
    case TAL_SetAppName:
        return setText(a->name, args[0]) ? 1 : 0;
    case TAL_SetAppTitle:
        return setText(a->title, args[0]) ? 1 : 0;
    case TAL_SetAppDescription:
        return setText(a->description, args[0]) ? 1 : 0;
    case TAL_SetAppValue:
        a->value = UWORD(args[0] * 3);
        return 1;
    default:
        return Tal_DoMethodA(a->header.superObject, id, args);
    }
}

ULONG Tal_InitAppClass() {
    if (!appClass.registered) {
        // The thread that starts the object system becomes a task, so that it can wait for signals.
        if (Task* task = init_exec()) task->tc_GlobalData = Tal_GetGlobalData();
        // Without an interface font text draws nothing, but everything else works: no reason to fail.
        init_graphics();
    }
    // Group is registered after App: its instances still contain a Group.
    return Tal__SetupClass(&appClass, "App", 0x00070000, "Group", Tal_NewAppClass, Tal_DisposeAppClass,
                           Tal_DoAppClassMethod, nullptr, sizeof(AppInstance));
}

void Tal_CleanupAppClass() {
    if (!appClass.registered) return;
    Tal__CleanupClass(&appClass);
    cleanup_graphics();
    cleanup_exec();
}
