// Asynchronous methods, the draining of an owning thread's port, and background disposal.
#include "Tal/TalPrivate.h"

namespace {

// Words after the command that a queued method copies: up to and including the first 0 among words
// 2, 4, 6, ... of the array (word 0 being the command).
size_t argumentWords(const Tal_Word* words) {
    size_t k = 2;
    while (words[k] != 0) k += 2;
    return k;
}

void freeMessage(Tal_AsyncMessage* msg) {
    Tal_FreeAsyncMsg(msg);
}

bool isRedraw(const Tal_AsyncMessage* msg) {
    return msg->command == TAL_DoAsyncMethodMethod && Tal_AsyncArgCount(msg) >= 2 &&
           msg->args[1] == TAL_DrawObject;
}

// "Perform a method on a target": target and method follow, then the method's arguments.
void perform(Tal_AsyncMessage* msg) {
    if (Tal_AsyncArgCount(msg) >= 2) Tal_DoMethodA(ULONG(msg->args[0]), ULONG(msg->args[1]), msg->args + 2);
}

} // namespace

ULONG Tal__QueueAsyncMethod(Tal_RootInstance* root, const Tal_Word* words) {
    MsgPort* port = root->asyncPort;
    if (!port || !words) return 0;
    size_t count = argumentWords(words);
    size_t bytes = count * sizeof(Tal_Word);
    if (bytes > 0xFFFF) return 0;
    // Two zero words follow the copy, so a method taken from it always finds its argument array ended.
    size_t size = offsetof(Tal_AsyncMessage, args) + bytes + 2 * sizeof(Tal_Word);
    auto* msg = static_cast<Tal_AsyncMessage*>(Tal_AllocMemQuick(size));
    if (!msg) return 0;
    std::memset(msg, 0, size);
    msg->message.mn_Length = UWORD(bytes);
    msg->target = Tal_GetTopMostObject(root->header.handle);
    msg->command = words[0];
    std::memcpy(msg->args, words + 1, bytes);
    PutMsg(port, &msg->message);
    return 1;
}

ULONG Tal_DoAsyncMethodA(ULONG handle, const Tal_Word* words) {
    return ULONG(Tal_DoMethodA(handle, TAL_DoAsyncMethodMethod, words));
}

void Tal__DrainAsyncPort(MsgPort* port, Tal_AsyncHandler handler, void* user) {
    // A redraw waits here until a redraw of another object or the end of the queue comes.
    Tal_AsyncMessage* pendingRedraw = nullptr;
    auto drawPending = [&] {
        if (!pendingRedraw) return;
        perform(pendingRedraw);
        freeMessage(pendingRedraw);
        pendingRedraw = nullptr;
    };
    while (auto* msg = reinterpret_cast<Tal_AsyncMessage*>(GetMsg(port))) {
        if (isRedraw(msg)) {
            if (pendingRedraw && pendingRedraw->args[0] != msg->args[0]) drawPending();
            if (pendingRedraw) freeMessage(pendingRedraw);
            pendingRedraw = msg;
            continue;
        }
        if (msg->command == TAL_DoAsyncMethodMethod)
            perform(msg);
        else if (handler)
            handler(msg, user);
        freeMessage(msg);
    }
    drawPending();
}

// ---------------------------------------------------------------------------------------------------
// Background disposal.

namespace {

struct DisposalRecord {
    Tal_Word reserved;
    ULONG handle;
};

ULONG Tal__AsyncDisposeCode(Task* task) {
    auto* record = reinterpret_cast<DisposalRecord*>(task->tc_UserData);
    Delay(10);
    // Dispose once no caller is inside the object (our own look does not count).
    for (;;) {
        Tal_Object* object = Tal__LockObjectInstanceQuiet(record->handle);
        if (!object) break;
        bool unused = Tal__UseCount(object) == 1;
        Tal_UnlockObjectInstance(object);
        if (unused) {
            Tal_DisposeObject(record->handle);
            break;
        }
        Delay(10);
    }
    Tal_FreeMem(record);
    Tal_GetGlobalData()->pendingDisposals--;
    return 0;
}

} // namespace

ULONG Tal__DropAsyncMessages(MsgPort* port, Tal_Word command) {
    if (!port) return 0;
    ULONG dropped = 0;
    Forbid();
    for (Node* n = port->mp_MsgList.lh_Head; n->ln_Succ;) {
        Node* next = n->ln_Succ;
        auto* msg = reinterpret_cast<Tal_AsyncMessage*>(n);
        if (msg->command == command) {
            Remove(n);
            freeMessage(msg);
            dropped++;
        }
        n = next;
    }
    Permit();
    return dropped;
}

ULONG Tal_AsyncDisposeObject(ULONG handle) {
    if (!handle) return 0;
    auto* record = static_cast<DisposalRecord*>(Tal_AllocMemClear(sizeof(DisposalRecord)));
    if (!record) return 0;
    record->handle = handle;
    Tal_GlobalData* gd = Tal_GetGlobalData();
    gd->pendingDisposals++;
    Process* proc =
        CreateNewProcTags(NP_Entry, Tal__AsyncDisposeCode, NP_Name, "Tal_AsyncDisposeObject Thread",
                          NP_StackSize, 16384, NP_UserData, record);
    if (!proc) {
        gd->pendingDisposals--;
        Tal_FreeMem(record);
        return 0;
    }
    return 1;
}
