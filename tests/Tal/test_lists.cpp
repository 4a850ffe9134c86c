#include "Tal/TalBase.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<Node*> nodesOf(const List* list) {
    std::vector<Node*> out;
    for (Node* n : ListNodes<Node>(list)) out.push_back(n);
    return out;
}

TEST(Lists, EmptyListHasNoNodes) {
    List list;
    NewList(&list);
    Node stranger{};
    EXPECT_TRUE(IsListEmpty(&list));
    EXPECT_EQ(ListCount(&list), 0u);
    EXPECT_EQ(NodeFromIndex(&list, 0), nullptr);
    EXPECT_EQ(IndexFromNode(&list, &stranger), 0xFFFFFFFFu);
    EXPECT_EQ(RemHead(&list), nullptr);
}

TEST(Lists, InsertionKeepsOrderAndSentinels) {
    List list;
    NewList(&list);
    Node a{}, b{}, c{}, d{};
    AddTail(&list, &b); // on an empty list: both head and tail predecessor
    EXPECT_EQ(list.lh_Head, &b);
    EXPECT_EQ(list.lh_TailPred, &b);
    EXPECT_EQ(b.ln_Succ, reinterpret_cast<Node*>(&list.lh_Tail));
    EXPECT_EQ(b.ln_Pred, reinterpret_cast<Node*>(&list));
    AddHead(&list, &a);
    AddTail(&list, &d);
    Insert(&list, &c, &b);
    EXPECT_EQ(nodesOf(&list), (std::vector<Node*>{&a, &b, &c, &d}));
    EXPECT_EQ(ListCount(&list), 4u);
    EXPECT_EQ(NodeFromIndex(&list, 2), &c);
    EXPECT_EQ(NodeFromIndex(&list, 4), nullptr);
    EXPECT_EQ(IndexFromNode(&list, &d), 3u);
    Node e{};
    Insert(&list, &e, nullptr); // no predecessor: to the head
    EXPECT_EQ(list.lh_Head, &e);
}

TEST(Lists, RemoveClearsLinksAndIsHarmlessTwice) {
    List list;
    NewList(&list);
    Node a{}, b{}, c{};
    AddTail(&list, &a);
    AddTail(&list, &b);
    AddTail(&list, &c);
    EXPECT_EQ(Remove(&b), &b);
    EXPECT_EQ(b.ln_Succ, nullptr);
    EXPECT_EQ(b.ln_Pred, nullptr);
    Remove(&b);
    EXPECT_EQ(nodesOf(&list), (std::vector<Node*>{&a, &c}));
    Remove(&a);
    Remove(&c);
    EXPECT_TRUE(IsListEmpty(&list));
    EXPECT_EQ(list.lh_TailPred, reinterpret_cast<Node*>(&list));
}

// items: 0 A=1 | 1 skip 3 | 2 B=2 | 3 more -> {D=4, E=5} | 4 C=3 | 5 more -> {F=6} | 6 G=7 | 7 end
struct TagFixture {
    TagItem sub1[3] = {{40, 4}, {50, 5}, {TAG_DONE, 0}};
    TagItem sub2[2] = {{60, 6}, {TAG_DONE, 0}};
    TagItem list[8] = {
        {10, 1}, {TAG_SKIP, 3}, {20, 2}, {TAG_MORE, Tal_ToWord(sub1)}, {30, 3}, {TAG_MORE, Tal_ToWord(sub2)},
        {70, 7}, {TAG_DONE, 0}};
};

TEST(Tags, FindTagItemThroughSkipAndMore) {
    TagFixture f;
    struct Case {
        Tag tag;
        Tal_Word expected; // 0 = not found
    } cases[] = {
        {10, 1},          // before the skip
        {20, 0},          // skipped
        {40, 4},          // in the sub-list of the item the skip lands on, which is still examined for "more"
        {50, 5}, {30, 3}, // compared: the first item n places after the skip item
        {60, 6},          // a second "more" inside the list ...
        {70, 7},          // ... and the walk goes on after it
        {99, 0},
    };
    for (const Case& c : cases) {
        TagItem* item = FindTagItem(c.tag, f.list);
        EXPECT_EQ(item ? item->ti_Data : 0, c.expected) << "tag " << c.tag;
        EXPECT_EQ(GetTagData(c.tag, 12345, f.list), c.expected ? c.expected : 12345) << "tag " << c.tag;
    }
    // Searching for a control tag finds the control item itself.
    EXPECT_EQ(FindTagItem(TAG_SKIP, f.list), &f.list[1]);
    EXPECT_EQ(FindTagItem(TAG_MORE, f.list), &f.list[5]);
}

TEST(Tags, NextTagItemFollowsSkipButNotMore) {
    TagFixture f;
    const TagItem* cursor = f.list;
    std::vector<Tag> seen;
    while (TagItem* item = NextTagItem(&cursor)) seen.push_back(item->ti_Tag);
    EXPECT_EQ(seen, (std::vector<Tag>{10, TAG_MORE, 30, TAG_MORE, 70}));
    EXPECT_EQ(cursor, nullptr);
    EXPECT_EQ(NextTagItem(&cursor), nullptr);
}

TEST(Tags, MissingOrEmptyListsGiveDefaults) {
    TagItem empty[] = {{TAG_DONE, 0}, {10, 1}};
    EXPECT_EQ(FindTagItem(10, nullptr), nullptr);
    EXPECT_EQ(GetTagData(10, 77, nullptr), 77u);
    EXPECT_EQ(GetTagData(10, 77, empty), 77u);
}

TEST(Tags, ZeroSkipDoesNotLoop) {
    TagItem list[] = {{TAG_SKIP, 0}, {10, 1}, {TAG_DONE, 0}};
    EXPECT_EQ(GetTagData(10, 0, list), 1u);
    const TagItem* cursor = list;
    int n = 0;
    while (NextTagItem(&cursor)) n++;
    EXPECT_EQ(n, 2);
}

TEST(Tags, SkipPastTheEndStops) {
    TagItem list[] = {{TAG_SKIP, 2}, {TAG_DONE, 0}, {10, 1}};
    EXPECT_EQ(FindTagItem(10, list), nullptr);
    const TagItem* cursor = list;
    EXPECT_EQ(NextTagItem(&cursor), nullptr);
}

TEST(Tags, InlineTagListsAndWords) {
    auto tags = Tal_MakeTags(1, -1, 2, "x", 3, 0u);
    EXPECT_EQ(tags.size(), 4u);
    EXPECT_EQ(int32_t(uint32_t(tags[0].ti_Data)), -1);
    EXPECT_EQ(tags[0].ti_Data, Tal_Word(-1)); // sign-extended into the whole word
    EXPECT_EQ(tags[3].ti_Tag, TAG_DONE);
    EXPECT_EQ(Tal_ULONGToFloat(Tal_FloatToULONG(-2.5f)), -2.5f);
    EXPECT_EQ(Tal_FloatToULONG(1.0f), 0x3F800000u);
}

TEST(DynamicMemory, ByteOrdersFollowTheFlags) {
    struct Case {
        ULONG flags;
        ULONG (*write)(Tal_DynamicMemory*, ULONG);
        ULONG value;
        std::vector<UBYTE> bytes;
    } cases[] = {
        {1, Tal_WriteDynamicMemoryULONG, 1, {0, 0, 0, 1}},
        {0, Tal_WriteDynamicMemoryULONG, 1, {1, 0, 0, 0}},
        {1, Tal_WriteDynamicMemoryUWORD, 258, {1, 2}},
        {0, Tal_WriteDynamicMemoryUWORD, 258, {2, 1}},
        {1, Tal_WriteDynamicMemoryUWORD, 0x12345678, {0x56, 0x78}},
        {1, Tal_WriteDynamicMemoryUBYTE, 0x1FF, {0xFF}},
        {6,
         Tal_WriteDynamicMemoryULONG,
         0x01020304,
         {0x04, 0x03, 0x02, 0x01}}, // only flags value 1 is big-endian
    };
    for (const Case& c : cases) {
        Tal_DynamicMemory* buf = Tal_InitDynamicMemoryA(c.flags);
        ASSERT_NE(buf, nullptr);
        EXPECT_EQ(buf->flags, c.flags & 3);
        EXPECT_EQ(c.write(buf, c.value), 1u);
        EXPECT_EQ(std::vector<UBYTE>(buf->data, buf->data + buf->length), c.bytes) << "value " << c.value;
        Tal_CleanupDynamicMemory(buf);
    }
}

TEST(DynamicMemory, GrowsExactlyAndAppends) {
    Tal_DynamicMemory* buf = Tal_InitDynamicMemoryA(0);
    EXPECT_EQ(buf->data, nullptr);
    for (int i = 0; i < 10; i++) EXPECT_EQ(Tal_WriteDynamicMemoryUBYTE(buf, ULONG(i)), 1u);
    EXPECT_EQ(buf->length, 10u);
    EXPECT_EQ(buf->capacity, 10u);
    EXPECT_EQ(buf->writePosition, 10u);
    EXPECT_EQ(Tal_WriteDynamicMemory(buf, "abc", 3), 1u);
    EXPECT_EQ(buf->capacity, 13u);
    EXPECT_EQ(std::memcmp(buf->data + 9,
                          "\x09"
                          "abc",
                          4),
              0);
    Tal_CleanupDynamicMemory(buf);
    Tal_CleanupDynamicMemory(nullptr);
}

TEST(Memory, ClearFlagZeroesAndAnyReleaseWorks) {
    auto* p = static_cast<UBYTE*>(AllocVec(64, MEMF_CLEAR));
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 64; i++) EXPECT_EQ(p[i], 0);
    Tal_FreeMem(p);
    FreeVec(Tal_AllocMemQuick(8));
    Tal_FreeAsyncMsg(AllocMem(8, 0));
    auto* q = static_cast<UBYTE*>(Tal_Calloc(4, 4));
    for (int i = 0; i < 16; i++) EXPECT_EQ(q[i], 0);
    FreeMem(q);
}

} // namespace
