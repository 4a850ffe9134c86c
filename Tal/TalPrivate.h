// Internals shared by the source files of the object system.
#pragma once

#include "Tal/Root.h"

#include <atomic>

struct Tal_TargetRecord;

// One registration on a source object. A callback registration has the marker TAL_CALLBACK_MARK as
// its word count, the function as target and the user data as its one template word.
struct Tal_Notification {
    Node node;
    Tal_Notification* selfMark; // the record's own address while it is linked
    ULONG source;
    Tal_Word target;
    ULONG trigger;
    Tal_Word triggerValue; // stored, not compared
    ULONG wordCount;
    Tal_TargetRecord* backRef;
    Tal_Word* templ;   // wordCount words: method, then arguments
    Tal_Word* working; // the copy last sent
};
constexpr ULONG TAL_CALLBACK_MARK = 0x000100AB;

// The target's side of a registration, so that a disposed target can unlink what aims at it.
struct Tal_TargetRecord {
    Node node;
    Tal_TargetRecord* selfMark;
    Tal_Notification* notification;
};

// Stored-object texts attached to an object: restored text attributes point into them, so every text
// stays until the object goes.
struct Tal_StoredText {
    Tal_StoredText* next;
    void* text;
};

struct Tal_NotifyBlock {
    void* lock;
    List sends;    // Tal_Notification records, in registration order
    List incoming; // Tal_TargetRecord records
    // The delivery in progress and the object it was sent to: a notification does not re-enter a
    // target from inside a delivery of the same source to that target.
    std::atomic<Tal_Notification*> inProgress;
    std::atomic<ULONG> inProgressTarget;
    Tal_StoredText* storedTexts;
    LONG firings;  // deliveries running; the block outlives its object until they end
    bool disposed; // the object is gone: nothing is added any more
};

// All under the global object lock unless stated.
Tal_NotifyBlock* Tal__NotifyBlock(Tal_RootInstance* root); // creates it on first need
Tal_Word Tal__AddNotifyRecord(Tal_RootInstance* root, const Tal_Word* args);
Tal_Word Tal__AddCallBackRecord(Tal_RootInstance* root, const Tal_Word* args);
ULONG Tal__RemoveNotifyRecord(Tal_RootInstance* root, Tal_Word identifier);
Tal_Word Tal__FireNotify(Tal_RootInstance* root, const Tal_Word* args);
// Takes the lock itself; unlinks everything sent by and aimed at the object, frees the block.
void Tal__DisposeNotifications(Tal_RootInstance* root);

// Queues an asynchronous method on a Root instance's port (behind Tal_DoAsyncMethodA).
ULONG Tal__QueueAsyncMethod(Tal_RootInstance* root, const Tal_Word* words);
