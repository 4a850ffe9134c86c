// Basic types of the whole program: fixed-width words, intrusive lists, tag lists, memory and the
// growable byte buffer. Nothing here locks; callers that share a list guard it themselves.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

using ULONG = uint32_t;
using LONG = int32_t;
using UWORD = uint16_t;
using WORD = int16_t;
using UBYTE = uint8_t;
using BYTE = int8_t;

// A word that travels through method arguments, results and tag data: wide enough for a pointer.
using Tal_Word = uintptr_t;

// ---------------------------------------------------------------------------------------------------
// Words: every argument of the variadic entry points is turned into a word the same way.

// Signed values are sign-extended (-1 stays -1), unsigned ones zero-extended, pointers keep their bits.
template <typename T>
constexpr Tal_Word Tal_ToWord(T v) {
    if constexpr (std::is_same_v<T, std::nullptr_t>) {
        return 0;
    } else if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<Tal_Word>(v);
    } else if constexpr (std::is_enum_v<T>) {
        return Tal_ToWord(static_cast<std::underlying_type_t<T>>(v));
    } else if constexpr (std::is_same_v<T, bool>) {
        return v ? 1 : 0;
    } else if constexpr (std::is_integral_v<T> && std::is_signed_v<T>) {
        return static_cast<Tal_Word>(static_cast<intptr_t>(v));
    } else if constexpr (std::is_integral_v<T>) {
        return static_cast<Tal_Word>(v);
    } else {
        // Floats must be passed explicitly with Tal_FloatToULONG; anything else is a mistake.
        static_assert(sizeof(T) == 0,
                      "pass floats through Tal_FloatToULONG, other values as integers or pointers");
        return 0;
    }
}

template <typename T>
inline T Tal_FromWord(Tal_Word w) {
    if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(w);
    else
        return static_cast<T>(w);
}

inline ULONG Tal_FloatToULONG(float f) {
    ULONG u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}
inline float Tal_ULONGToFloat(ULONG u) {
    float f;
    std::memcpy(&f, &u, sizeof f);
    return f;
}

// ---------------------------------------------------------------------------------------------------
// Lists. The header's (head, tail) pair acts as the sentinel first node and (tail, tail predecessor) as
// the sentinel last node, so insertion and removal never test for the ends.

struct MinNode {
    MinNode* mln_Succ;
    MinNode* mln_Pred;
};

struct Node {
    Node* ln_Succ;
    Node* ln_Pred;
    UBYTE ln_Type;
    BYTE ln_Pri;
    char* ln_Name;
};

struct List {
    Node* lh_Head;
    Node* lh_Tail; // always none
    Node* lh_TailPred;
    UBYTE lh_Type;
};

static_assert(offsetof(Node, ln_Pred) == offsetof(MinNode, mln_Pred));
static_assert(offsetof(List, lh_Tail) == sizeof(Node*));

List* NewList(List* list);
void Insert(List* list, Node* node, Node* pred);
void AddHead(List* list, Node* node);
void AddTail(List* list, Node* node);
Node* Remove(Node* node);
Node* RemHead(List* list);
ULONG ListCount(const List* list);
Node* NodeFromIndex(const List* list, ULONG index);
ULONG IndexFromNode(const List* list, const Node* node);

inline bool IsListEmpty(const List* list) {
    return list->lh_Head->ln_Succ == nullptr;
}

// Records that embed only the two links (MinNode) share the list operations.
inline void AddTail(List* list, MinNode* node) {
    AddTail(list, reinterpret_cast<Node*>(node));
}
inline MinNode* Remove(MinNode* node) {
    return reinterpret_cast<MinNode*>(Remove(reinterpret_cast<Node*>(node)));
}

// Walks a list: for (Node* n : ListNodes<Node>(list)) ... ; the current node may not be removed.
template <typename T>
struct ListNodes {
    explicit ListNodes(const List* l) : list(l) {}
    const List* list;
    struct It {
        Node* n;
        T* operator*() const { return reinterpret_cast<T*>(n); }
        It& operator++() {
            n = n->ln_Succ;
            return *this;
        }
        bool operator!=(const It& o) const { return n != o.n; }
    };
    It begin() const { return {list->lh_Head}; }
    It end() const { return {reinterpret_cast<Node*>(const_cast<Node**>(&list->lh_Tail))}; }
};

// ---------------------------------------------------------------------------------------------------
// Tag lists.

using Tag = Tal_Word;

struct TagItem {
    Tag ti_Tag;
    Tal_Word ti_Data;
};

constexpr Tag TAG_DONE = 0;
constexpr Tag TAG_END = 0;
constexpr Tag TAG_MORE = 2;
constexpr Tag TAG_SKIP = 3;
constexpr Tag TAG_USER = 0x80000000u;

// Builds a tag list from inline (tag, value) pairs; it always ends with TAG_DONE.
template <typename... A>
auto Tal_MakeTags(A... args) {
    constexpr size_t n = sizeof...(A);
    const Tal_Word words[n + 2] = {Tal_ToWord(args)..., 0, 0};
    std::array<TagItem, (n + 1) / 2 + 1> tags{};
    for (size_t i = 0; i < tags.size() - 1; i++) tags[i] = {words[2 * i], words[2 * i + 1]};
    return tags;
}

TagItem* FindTagItem(Tag tag, const TagItem* list);
Tal_Word GetTagData(Tag tag, Tal_Word defaultValue, const TagItem* list);
TagItem* NextTagItem(const TagItem** cursor);
inline TagItem* NextTagItem(TagItem** cursor) {
    return NextTagItem(const_cast<const TagItem**>(cursor));
}

// ---------------------------------------------------------------------------------------------------
// Memory. Every allocation of the program goes through these; they return none when memory runs out,
// and any block may be released by any of the release functions.

constexpr ULONG MEMF_CLEAR = 0x10000;

void* AllocVec(size_t size, ULONG flags);
void* AllocMem(size_t size, ULONG flags);
void FreeVec(void* p);
void FreeMem(void* p);
void* Tal_AllocMem(size_t size);
void* Tal_AllocMemClear(size_t size);
void* Tal_Calloc(size_t count, size_t size);
void Tal_FreeMem(void* p);
void* Tal_AllocMemQuick(size_t size);
void Tal_FreeMemQuick(void* p);
void Tal_FreeAsyncMsg(void* msg);

// Copies a text into a new block (none for none or when memory runs out).
char* Tal_StrDup(const char* text);

// ---------------------------------------------------------------------------------------------------
// Growable byte buffer: every write appends; multi-byte integers in the byte order of the flags.

struct Tal_DynamicMemory {
    UBYTE* data;
    ULONG length;
    ULONG capacity;
    ULONG writePosition;
    ULONG reserved;
    ULONG flags; // 1 = big-endian integers
};

constexpr ULONG TAL_DYNMEM_BIGENDIAN = 1;

Tal_DynamicMemory* Tal_InitDynamicMemoryA(ULONG flags);
ULONG Tal_WriteDynamicMemory(Tal_DynamicMemory* buf, const void* p, ULONG n);
ULONG Tal_WriteDynamicMemoryULONG(Tal_DynamicMemory* buf, ULONG v);
ULONG Tal_WriteDynamicMemoryUWORD(Tal_DynamicMemory* buf, ULONG v);
ULONG Tal_WriteDynamicMemoryUBYTE(Tal_DynamicMemory* buf, ULONG v);
void Tal_CleanupDynamicMemory(Tal_DynamicMemory* buf);
