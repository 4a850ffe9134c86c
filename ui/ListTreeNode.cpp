// ListTreeNode: a row of a ListTree that holds child rows. Its header shows an expand button (plus or
// minus), an icon and the title; below it, indented, the children, shown while it is expanded, with
// connector lines from the node to each child.
#include "ui/ListTree.h"
#include "Tal/Root.h"
#include "ui/Button.h"
#include "ui/Pages.h"
#include "ui/Window.h"

#include <cstdio>

namespace {

Tal_Class nodeClass;

constexpr ULONG kListTreeClass = 0x00220000;
constexpr ULONG kVirtualGroupClass = 0x00240000;
constexpr LONG kIndent = 16;
constexpr size_t kTitleSize = 256;

struct NodeInstance {
    Tal_Object header;
    UBYTE selected;
    UBYTE expanded;
    ULONG icon; // the BitMap in the header
    char title[kTitleSize];
    ULONG headerRow, expandButton, expandShape, titleText, childrenRow, children;
};

NodeInstance* of(void* instance) {
    return static_cast<NodeInstance*>(instance);
}
ULONG topmost(NodeInstance* n) {
    return Tal_GetTopMostObject(n->header.handle);
}

// The list lays itself out again: the node's height changed.
void relayoutList(NodeInstance* n) {
    if (ULONG list = Tal_SearchHierachyForClassId(topmost(n), kVirtualGroupClass))
        Tal_RelayoutAndRedrawObject(list);
}

void setExpanded(NodeInstance* n, bool expand) {
    n->expanded = expand;
    Tal_DoMethod(n->expandShape, TAL_SetVectorShape, expand ? TAL_SHAPE_MINUS_BOX : TAL_SHAPE_PLUS_BOX);
    Tal_DoMethod(n->childrenRow, expand ? TAL_ForceShow : TAL_ForceHide);
    Tal_DoNotify(topmost(n), expand ? TAL_ExpandListNode : TAL_CollapseListNode, topmost(n));
    relayoutList(n);
}

void showSelected(NodeInstance* n, bool selected) {
    n->selected = selected;
    Tal_DoMethod(n->headerRow, TAL_SetColour1,
                 selected ? Tal_GetGlobalData()->highlightColour : Tal_Word(TAL_NO_COLOUR));
    Tal_DoMethod(n->headerRow, TAL_DrawObject);
}

Tal_Word press(NodeInstance* n) {
    const ULONG me = topmost(n);
    if (n->selected) {
        Tal_DoMethod(me, TAL_ToggleListNode);
        Tal_DoNotify(me, TAL_RowActivated, me);
        return me;
    }
    const ULONG tree = Tal_SearchHierachyForClassId(me, kListTreeClass);
    if (ULONG active = tree ? ULONG(Tal_DoMethod(tree, TAL_GetActiveNode)) : 0; active && active != me)
        Tal_DoMethod(active, TAL_Released);
    showSelected(n, true);
    if (tree) Tal_DoMethod(tree, TAL_SetActiveNode, me);
    if (!n->expanded) Tal_DoMethod(me, TAL_ExpandListNode);
    return me;
}

Tal_Word release(NodeInstance* n) {
    if (n->selected) showSelected(n, false);
    return topmost(n);
}

Tal_Word handleInput(NodeInstance* n, const Tal_Word* args) {
    const auto* e = reinterpret_cast<const Tal_InputEvent*>(args[0]);
    if (e && e->Class == IDCMP_MOUSEBUTTONS && e->Code == SELECTDOWN) {
        if (Tal_IsCoordOverObject(n->expandButton, e->MouseX, e->MouseY)) {
            Tal_DoMethod(topmost(n), TAL_ToggleListNode);
            return 1;
        }
        if (Tal_IsCoordOverObject(n->headerRow, e->MouseX, e->MouseY)) {
            press(n);
            return 1;
        }
        return Tal_DoMethodA(n->children, TAL_HandleIDCMP, args);
    }
    return Tal_DoMethodA(n->header.superObject, TAL_HandleIDCMP, args);
}

const Tal_Box* boxOf(ULONG object) {
    return reinterpret_cast<const Tal_Box*>(Tal_DoMethod(object, TAL_GetBox));
}

// A line from the node to each child, and one down the indent to the last child, in the hatch pen.
void drawConnectors(NodeInstance* n) {
    if (!n->expanded) return;
    const ULONG first = ULONG(Tal_DoMethod(n->children, TAL_GetFirstGroupObject));
    if (!first) return;
    const ULONG me = n->header.handle;
    Tal_DrawInfo* di = Tal_LockDrawInfo(me);
    if (!di) return;
    const Tal_Box* row = boxOf(n->childrenRow);
    const LONG x = row->x + 5;
    LONG lastY = -1;
    for (ULONG child = first; child;
         child = ULONG(Tal_DoMethod(n->children, TAL_GetNextGroupObject, child))) {
        const Tal_Box* b = boxOf(child);
        if (!b || (b->flags & TAL_BOX_HIDDEN)) continue;
        lastY = b->y + 8;
        Tal_FillHatchedRectangle(di->rastPort, x, lastY, row->x + kIndent, lastY);
    }
    if (lastY >= 0) Tal_FillHatchedRectangle(di->rastPort, x, row->y - 2, x, lastY);
    Tal_UnlockDrawInfo(me);
}

} // namespace

void* Tal_NewListTreeNodeClass(const TagItem*) {
    auto* n = of(Tal_AllocObjectMem(&nodeClass));
    if (!n) return nullptr;
    n->header.superObject = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL);
    // clang-format off
    n->headerRow = Tal_CreateObjects(0,
        TAL_TREE_HGROUP, TAL_SetGroupFrame, TAL_FRAME_FLAT, TAL_SetGroupFixedHeight, 1,
            TAL_TREE_OBJECT, "Button", TAL_TREE_HANDLE, &n->expandButton, TAL_SetGroupFrame, TAL_FRAME_FLAT,
                TAL_SetWeight, 0,
                TAL_TREE_OBJECT, "VectorImage", TAL_TREE_HANDLE, &n->expandShape, TAL_SetVectorShape,
                    TAL_SHAPE_PLUS_BOX, TAL_SetSpaceFixedWidth, 10, TAL_SetSpaceFixedHeight, 10, TAL_TREE_CLOSE,
            TAL_TREE_CLOSE,
            TAL_TREE_SPACE_WIDTH, 4,
            TAL_TREE_OBJECT, "BitMap", TAL_TREE_HANDLE, &n->icon, TAL_SetWeight, 0, TAL_TREE_CLOSE,
            TAL_TREE_SPACE_WIDTH, 4,
            TAL_TREE_OBJECT, "Text", TAL_TREE_HANDLE, &n->titleText, TAL_SetTextMode, TAL_TEXT_PLAIN,
                TAL_SetWeight, 0, TAL_SetLabel, n->title, TAL_TREE_CLOSE,
            TAL_TREE_OBJECT, "Space", TAL_TREE_CLOSE,
        TAL_TREE_CLOSE);
    n->childrenRow = Tal_CreateObjects(0,
        TAL_TREE_HGROUP,
            TAL_TREE_SPACE_WIDTH, kIndent,
            TAL_TREE_VGROUP, TAL_TREE_HANDLE, &n->children, TAL_TREE_CLOSE,
        TAL_TREE_CLOSE);
    // clang-format on
    if (!n->header.superObject || !n->headerRow || !n->childrenRow || !n->expandButton || !n->titleText) {
        Tal_DisposeObject(n->headerRow);
        Tal_DisposeObject(n->childrenRow);
        Tal_DisposeObject(n->header.superObject);
        Tal_FreeObjectMem(n);
        return nullptr;
    }
    Tal_DoMethod(n->header.superObject, TAL_AddTail, n->headerRow);
    Tal_DoMethod(n->header.superObject, TAL_AddTail, n->childrenRow);
    Tal_DoMethod(n->childrenRow, TAL_ForceHide);
    return n;
}

void Tal_DisposeListTreeNodeClass(void* instance) {
    auto* n = of(instance);
    Tal_DisposeObject(n->header.superObject);
    Tal_FreeObjectMem(n);
}

Tal_Word Tal_DoListTreeNodeClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* n = of(instance);
    switch (id) {
    case TAL_ExpandListNode:
        setExpanded(n, true);
        return 1;
    case TAL_CollapseListNode:
        setExpanded(n, false);
        return 1;
    case TAL_ToggleListNode:
        return Tal_DoMethod(topmost(n), n->expanded ? TAL_CollapseListNode : TAL_ExpandListNode);
    case TAL_IsListNodeExpanded:
        return n->expanded;
    case TAL_SetListNodeTitle: {
        const char* text = reinterpret_cast<const char*>(args[0]);
        std::snprintf(n->title, sizeof n->title, "%s", text ? text : "");
        Tal_DoMethod(n->titleText, TAL_SetLabel, n->title);
        return 1;
    }
    case TAL_GetListNodeTitle:
        return reinterpret_cast<Tal_Word>(n->title);
    case TAL_SetListNodeIcon:
        return Tal_DoMethod(n->icon, TAL_CopyBitMap, args[0]);
    case TAL_GetListNodeIcon:
        return n->icon;
    case TAL_Pressed:
        return press(n);
    case TAL_Released:
        return release(n);
    case TAL_HandleIDCMP:
        return handleInput(n, args);
    case TAL_DrawObject: {
        const Tal_Word result = Tal_DoMethodA(n->header.superObject, id, args);
        drawConnectors(n);
        return result;
    }
    default:
        if ((id >> 16) == 0x0047) return Tal_DoMethodA(n->children, id, args);
        return Tal_DoMethodA(n->header.superObject, id, args);
    }
}

ULONG Tal_InitListTreeNodeClass() {
    return Tal__SetupClass(&nodeClass, "ListTreeNode", 0x00530000, "Group", Tal_NewListTreeNodeClass,
                           Tal_DisposeListTreeNodeClass, Tal_DoListTreeNodeClassMethod, nullptr,
                           sizeof(NodeInstance));
}

void Tal_CleanupListTreeNodeClass() {
    Tal__CleanupClass(&nodeClass);
}
