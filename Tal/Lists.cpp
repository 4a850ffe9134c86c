// Intrusive lists and tag lists.
#include "Tal/TalBase.h"

// The header seen as the sentinel first node: its successor is the head.
static Node* headSentinel(List* list) {
    return reinterpret_cast<Node*>(&list->lh_Head);
}

List* NewList(List* list) {
    list->lh_Head = reinterpret_cast<Node*>(&list->lh_Tail);
    list->lh_Tail = nullptr;
    list->lh_TailPred = headSentinel(list);
    return list;
}

void Insert(List* list, Node* node, Node* pred) {
    if (!pred) pred = headSentinel(list);
    Node* succ = pred->ln_Succ;
    node->ln_Succ = succ;
    node->ln_Pred = pred;
    succ->ln_Pred = node;
    pred->ln_Succ = node;
}

void AddHead(List* list, Node* node) {
    Insert(list, node, nullptr);
}

void AddTail(List* list, Node* node) {
    Insert(list, node, list->lh_TailPred);
}

Node* Remove(Node* node) {
    if (!node) return nullptr;
    if (node->ln_Succ && node->ln_Pred) {
        node->ln_Pred->ln_Succ = node->ln_Succ;
        node->ln_Succ->ln_Pred = node->ln_Pred;
    }
    node->ln_Succ = nullptr;
    node->ln_Pred = nullptr;
    return node;
}

Node* RemHead(List* list) {
    return IsListEmpty(list) ? nullptr : Remove(list->lh_Head);
}

ULONG ListCount(const List* list) {
    ULONG n = 0;
    for (Node* node = list->lh_Head; node->ln_Succ; node = node->ln_Succ) n++;
    return n;
}

Node* NodeFromIndex(const List* list, ULONG index) {
    for (Node* node = list->lh_Head; node->ln_Succ; node = node->ln_Succ)
        if (index-- == 0) return node;
    return nullptr;
}

ULONG IndexFromNode(const List* list, const Node* wanted) {
    ULONG i = 0;
    for (Node* node = list->lh_Head; node->ln_Succ; node = node->ln_Succ, i++)
        if (node == wanted) return i;
    return 0xFFFFFFFF;
}

// A skip item with data n moves the walk to the item n places after it. A skip of 0 would walk
// backwards for ever, so it counts as 1 (no skip).
static const TagItem* skipTarget(const TagItem* skip) {
    return skip + (skip->ti_Data ? skip->ti_Data : 1) - 1;
}

TagItem* FindTagItem(Tag tag, const TagItem* list) {
    for (const TagItem* item = list; item && item->ti_Tag != TAG_DONE; item++) {
        if (item->ti_Tag == tag) return const_cast<TagItem*>(item);
        if (item->ti_Tag == TAG_SKIP) {
            item = skipTarget(item);
            if (item->ti_Tag == TAG_DONE) break;
        }
        if (item->ti_Tag == TAG_MORE) {
            if (TagItem* hit = FindTagItem(tag, reinterpret_cast<const TagItem*>(item->ti_Data))) return hit;
        }
    }
    return nullptr;
}

Tal_Word GetTagData(Tag tag, Tal_Word defaultValue, const TagItem* list) {
    const TagItem* item = FindTagItem(tag, list);
    return item ? item->ti_Data : defaultValue;
}

TagItem* NextTagItem(const TagItem** cursor) {
    const TagItem* item = *cursor;
    if (item && item->ti_Tag == TAG_SKIP) item = skipTarget(item);
    if (!item || item->ti_Tag == TAG_DONE) {
        *cursor = nullptr;
        return nullptr;
    }
    *cursor = item + 1;
    return const_cast<TagItem*>(item);
}
