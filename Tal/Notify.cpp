// Notifications: registration, removal from either side, and firing.
//
// Every list of every notification block is guarded by the global object lock. Firing releases the
// lock around each delivery, so a delivered method may notify, add or remove notifications, or even
// dispose the source: the block then stays until the last delivery has returned.
#include "Tal/TalPrivate.h"

#include <atomic>
#include <vector>

namespace {

std::atomic<Tal_ImageTargetResolver> imageTargetResolver{nullptr};

bool isTargetCode(Tal_Word target) {
    return target == TAL_TARGET_VALUE || target == TAL_TARGET_IMAGE || target == TAL_TARGET_LAYER ||
           target == TAL_TARGET_INNER_LAYER;
}

bool obtainObjectLock() {
    return Tal_ObtainSemaphore(Tal__ObjectLock(), TAL_LOCK_RETRIES) != 0;
}
void releaseObjectLock() {
    Tal_ReleaseSemaphore(Tal__ObjectLock());
}

bool isOnList(const List* list, const Node* wanted) {
    for (Node* node = list->lh_Head; node->ln_Succ; node = node->ln_Succ)
        if (node == wanted) return true;
    // The sentinel counts as on the list: it ends the walk.
    return wanted == reinterpret_cast<const Node*>(&list->lh_Tail);
}

void freeNotification(Tal_Notification* n) {
    n->selfMark = nullptr;
    Tal_FreeMem(n);
}

void unlinkTargetRecord(Tal_TargetRecord* t) {
    if (!t || t->selfMark != t) return;
    Remove(&t->node);
    t->selfMark = nullptr;
    Tal_FreeMem(t);
}

// Unlinks a notification from its source's list and frees it, with its target-side record.
void dropNotification(Tal_Notification* n) {
    if (!n || n->selfMark != n) return;
    unlinkTargetRecord(n->backRef);
    Remove(&n->node);
    freeNotification(n);
}

Tal_Notification* newNotification(ULONG source, ULONG trigger, Tal_Word value, Tal_Word target, ULONG words) {
    size_t size = sizeof(Tal_Notification) + 2 * size_t(words) * sizeof(Tal_Word);
    auto* n = static_cast<Tal_Notification*>(Tal_AllocMemClear(size));
    if (!n) return nullptr;
    n->selfMark = n;
    n->source = source;
    n->target = target;
    n->trigger = trigger;
    n->triggerValue = value;
    n->templ = reinterpret_cast<Tal_Word*>(n + 1);
    n->working = n->templ + words;
    return n;
}

ULONG resolveTarget(Tal_Word target, const Tal_Word* triggerWords) {
    if (target == TAL_TARGET_VALUE) return ULONG(triggerWords[1]);
    if (target == TAL_TARGET_IMAGE || target == TAL_TARGET_LAYER || target == TAL_TARGET_INNER_LAYER) {
        Tal_ImageTargetResolver resolver = imageTargetResolver.load();
        return resolver ? resolver(ULONG(target)) : 0;
    }
    return ULONG(target);
}

// The method to send: the template with its placeholders replaced by trigger words.
void fillWorkingCopy(const Tal_Notification* n, const Tal_Word* triggerWords, Tal_Word* out) {
    out[0] = n->templ[0];
    for (ULONG i = 1; i < n->wordCount; i++) {
        Tal_Word w = n->templ[i];
        if (w == TAL_TriggerArgument)
            w = triggerWords[i];
        else if (w == TAL_TriggerValue)
            w = triggerWords[1];
        else if (w == TAL_TriggerWord2)
            w = triggerWords[2];
        out[i] = w;
    }
}

// What a disposed object's block pointer is left at: a block that takes nothing, so that a late
// registration naming the object is refused instead of creating a block nobody frees.
Tal_NotifyBlock* disposedBlock() {
    static Tal_NotifyBlock* block = [] {
        static Tal_NotifyBlock b{};
        NewList(&b.sends);
        NewList(&b.incoming);
        b.disposed = true;
        return &b;
    }();
    return block;
}

void freeBlock(Tal_NotifyBlock* block) {
    Tal_FreeMem(block->lock);
    Tal_FreeMem(block);
}

} // namespace

void Tal__SetImageTargetResolver(Tal_ImageTargetResolver resolver) {
    imageTargetResolver = resolver;
}

Tal_NotifyBlock* Tal__NotifyBlock(Tal_RootInstance* root) {
    if (root->notify) return root->notify;
    auto* block = static_cast<Tal_NotifyBlock*>(Tal_AllocMemClear(sizeof(Tal_NotifyBlock)));
    if (!block) return nullptr;
    new (&block->inProgress) std::atomic<Tal_Notification*>(nullptr);
    new (&block->inProgressTarget) std::atomic<ULONG>(0);
    NewList(&block->sends);
    NewList(&block->incoming);
    root->notify = block;
    return block;
}

// args: source, trigger, value, target, word count, address of the words.
Tal_Word Tal__AddNotifyRecord(Tal_RootInstance* root, const Tal_Word* args) {
    ULONG trigger = ULONG(args[1]);
    Tal_Word value = args[2], target = args[3];
    ULONG words = ULONG(args[4]);
    const auto* method = reinterpret_cast<const Tal_Word*>(args[5]);
    if (!target || words == 0 || !method) return 0;

    // An object target keeps a record of its own, so that its disposal can unlink the registration.
    Tal_RootInstance* targetRoot = isTargetCode(target) ? nullptr : Tal__LockRootInstance(ULONG(target));
    if (!isTargetCode(target) && !targetRoot) return 0;
    Tal_Word result = 0;
    if (obtainObjectLock()) {
        Tal_NotifyBlock* block = Tal__NotifyBlock(root);
        Tal_NotifyBlock* targetBlock = targetRoot ? Tal__NotifyBlock(targetRoot) : nullptr;
        Tal_Notification* n = nullptr;
        Tal_TargetRecord* t = nullptr;
        bool usable = block && !block->disposed && (!targetRoot || (targetBlock && !targetBlock->disposed));
        if (usable) n = newNotification(root->header.handle, trigger, value, target, words);
        if (n && targetRoot) {
            t = static_cast<Tal_TargetRecord*>(Tal_AllocMemClear(sizeof(Tal_TargetRecord)));
            if (!t) {
                freeNotification(n);
                n = nullptr;
            }
        }
        if (n) {
            n->wordCount = words;
            std::copy(method, method + words, n->templ);
            AddTail(&block->sends, &n->node);
            if (t) {
                t->selfMark = t;
                t->notification = n;
                n->backRef = t;
                AddTail(&targetBlock->incoming, &t->node);
            }
            result = reinterpret_cast<Tal_Word>(n);
        }
        releaseObjectLock();
    }
    if (targetRoot) Tal_UnlockObjectInstance(targetRoot);
    return result;
}

// args: trigger, value, function, user data.
Tal_Word Tal__AddCallBackRecord(Tal_RootInstance* root, const Tal_Word* args) {
    if (!args[2]) return 0;
    if (!obtainObjectLock()) return 0;
    Tal_Word result = 0;
    Tal_NotifyBlock* block = Tal__NotifyBlock(root);
    if (block && !block->disposed) {
        if (Tal_Notification* n = newNotification(root->header.handle, ULONG(args[0]), args[1], args[2], 1)) {
            n->wordCount = TAL_CALLBACK_MARK;
            n->templ[0] = args[3];
            AddTail(&block->sends, &n->node);
            result = reinterpret_cast<Tal_Word>(n);
        }
    }
    releaseObjectLock();
    return result;
}

ULONG Tal__RemoveNotifyRecord(Tal_RootInstance* root, Tal_Word identifier) {
    if (!identifier || !obtainObjectLock()) return 0;
    if (Tal_NotifyBlock* block = root->notify) {
        for (Tal_Notification* n : ListNodes<Tal_Notification>(&block->sends)) {
            if (reinterpret_cast<Tal_Word>(n) == identifier) {
                dropNotification(n);
                break;
            }
        }
    }
    releaseObjectLock();
    return 1;
}

// args: the source as the caller named it, address of the trigger words.
Tal_Word Tal__FireNotify(Tal_RootInstance* root, const Tal_Word* args) {
    const ULONG sourceArg = ULONG(args[0]);
    const auto* trigger = reinterpret_cast<const Tal_Word*>(args[1]);
    if (!trigger || !obtainObjectLock()) return 0;
    Tal_NotifyBlock* block = root->notify;
    if (!block || IsListEmpty(&block->sends)) {
        releaseObjectLock();
        return 0;
    }
    block->firings++;
    const ULONG id = ULONG(trigger[0]);
    std::vector<Tal_Word> work;
    bool locked = true;
    auto* n = reinterpret_cast<Tal_Notification*>(block->sends.lh_Head);
    while (n->node.ln_Succ) {
        auto* next = reinterpret_cast<Tal_Notification*>(n->node.ln_Succ);
        if (n->trigger == id) {
            if (n->wordCount == TAL_CALLBACK_MARK) {
                auto function = reinterpret_cast<Tal_NotifyCallback>(n->target);
                Tal_Word userData = n->templ[0];
                releaseObjectLock();
                function(userData, sourceArg, id, trigger + 1);
                locked = obtainObjectLock();
            } else {
                ULONG target = resolveTarget(n->target, trigger);
                Tal_Notification* outer = block->inProgress;
                if (!outer || target != block->inProgressTarget) {
                    work.resize(n->wordCount + 1);
                    fillWorkingCopy(n, trigger, work.data());
                    std::copy(work.begin(), work.end() - 1, n->working);
                    work.back() = 0;
                    ULONG outerTarget = block->inProgressTarget;
                    block->inProgress = n;
                    block->inProgressTarget = target;
                    releaseObjectLock();
                    Tal_DoMethodA(target, ULONG(work[0]), work.data() + 1);
                    block->inProgress = outer;
                    block->inProgressTarget = outerTarget;
                    locked = obtainObjectLock();
                }
            }
            // The list may have changed while the lock was released.
            if (!locked || !isOnList(&block->sends, &next->node)) break;
        }
        n = next;
    }
    bool orphaned = false;
    if (locked) {
        orphaned = --block->firings == 0 && block->disposed;
        releaseObjectLock();
    }
    if (orphaned) freeBlock(block);
    return 0;
}

void Tal__DisposeNotifications(Tal_RootInstance* root) {
    // Disposal goes on even without the lock, as a stuck lock must not keep objects alive.
    bool locked = obtainObjectLock();
    Tal_NotifyBlock* block = root->notify;
    bool unused = false;
    if (block && !block->disposed) {
        block->disposed = true;
        while (!IsListEmpty(&block->sends))
            dropNotification(reinterpret_cast<Tal_Notification*>(block->sends.lh_Head));
        while (!IsListEmpty(&block->incoming)) {
            auto* t = reinterpret_cast<Tal_TargetRecord*>(block->incoming.lh_Head);
            Tal_Notification* n = t->notification;
            if (n && n->selfMark == n) {
                n->backRef = nullptr;
                Remove(&n->node);
                freeNotification(n);
            }
            unlinkTargetRecord(t);
        }
        while (Tal_StoredText* stored = block->storedTexts) {
            block->storedTexts = stored->next;
            Tal_FreeMem(stored->text);
            Tal_FreeMem(stored);
        }
        unused = block->firings == 0;
    }
    root->notify = disposedBlock();
    if (locked) releaseObjectLock();
    if (unused) freeBlock(block);
}

Tal_Word Tal_AddNotifyA(ULONG source, ULONG trigger, Tal_Word value, Tal_Word target, ULONG count,
                        const Tal_Word* method) {
    if (!source || !target) return 0;
    return Tal_DoMethod(source, TAL_AddNotifyMethod, source, trigger, value, target, count, method);
}

Tal_Word Tal_AddCallBackNotify(ULONG source, ULONG trigger, Tal_Word value, Tal_NotifyCallback function,
                               Tal_Word userData) {
    if (!source || !function) return 0;
    return Tal_DoMethod(source, TAL_AddCallBackNotifyMethod, trigger, value, function, userData);
}

ULONG Tal_RemoveNotify(ULONG source, Tal_Word identifier) {
    if (!source || !identifier) return 0;
    return ULONG(Tal_DoMethod(source, TAL_RemoveNotifyMethod, identifier));
}

Tal_Word Tal_DoNotifyWords(ULONG source, const Tal_Word* triggerWords) {
    return Tal_DoMethod(source, TAL_DoNotifyMethod, source, triggerWords);
}
