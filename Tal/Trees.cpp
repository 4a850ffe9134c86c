// Object trees built from a word list.
//
// The builder keeps a stack of open containers (bottom entry 0: no parent) and the object it created
// last. Codes that make a container open it; leaf codes make a member that stays closed; any other word
// is an attribute, sent with its value to the innermost open container.
#include "Tal/TalPrivate.h"

#include <vector>

namespace {

// Members of container classes the tree language knows.
constexpr ULONG kAddTail = 0x0047001E;
constexpr ULONG kGetFirstMember = 0x00470050;
constexpr ULONG kGetNextMember = 0x00470064;
constexpr ULONG kGroupOrientation = 0x000201F4;
constexpr ULONG kTextValue = 0x0004000A;
constexpr ULONG kTextAngle = 0x00040032;
constexpr ULONG kTextMode = 0x0004001E;
constexpr ULONG kBitMapFile = 0x80000136;
constexpr ULONG kStringEditMode = 0x001E001E;

const char* treeClassName(const char* name) {
    if (!name) return name;
    if (std::strcmp(name, "Slider") == 0 || std::strcmp(name, "CompactSlider") == 0) return "Scroller";
    if (std::strcmp(name, "SimpleSlider") == 0) return "Slider";
    return name;
}

} // namespace

ULONG Tal_AddObjectA(ULONG parent, const char* className, const TagItem* tags) {
    ULONG object = Tal_CreateObjectA(className, tags);
    if (object && parent) Tal_DoMethod(parent, kAddTail, object);
    return object;
}

void Tal_DoMethodForAllA(ULONG container, ULONG id, const Tal_Word* args) {
    for (ULONG member = ULONG(Tal_DoMethod(container, kGetFirstMember)); member;
         member = ULONG(Tal_DoMethod(container, kGetNextMember, member)))
        Tal_DoMethodA(member, id, args);
}

ULONG Tal_CreateObjectsA(const Tal_Word* words, ULONG subclassFlag) {
    if (!words) return 0;
    std::vector<ULONG> open{0};
    ULONG last = 0, result = 0;
    auto parent = [&] { return open.back(); };
    // A member that becomes the innermost open container.
    auto opened = [&](ULONG object) {
        if (open.size() == 1 && object) result = object;
        open.push_back(object);
        last = object;
    };
    auto leaf = [&](ULONG object) { last = object; };

    for (const Tal_Word* w = words; *w != TAL_TREE_END; w++) {
        const Tal_Word code = *w;
        const auto text = [&] { return reinterpret_cast<const char*>(*++w); };
        switch (code) {
        case TAL_TREE_OBJECT:
            opened(Tal_AddObject(parent(), treeClassName(text())));
            break;
        case TAL_TREE_CLOSE:
            if (subclassFlag) {
                if (!last) break;
                if (open.size() > 1) open.pop_back();
                if (auto* object = static_cast<Tal_Object*>(Tal_GetObjectInstance(last)))
                    object->outerObject = open.back();
            } else if (open.size() > 1) {
                open.pop_back();
            }
            break;
        case TAL_TREE_TEXT:
            leaf(Tal_AddObject(parent(), "Text", TAL_SetLabel, text()));
            break;
        case TAL_TREE_TEXTVALUE:
            leaf(Tal_AddObject(parent(), "Text", kTextValue, text()));
            break;
        case TAL_TREE_LABEL:
            leaf(Tal_AddObject(parent(), "Text", TAL_SetLabel, text(), TAL_SetWeight, 0));
            break;
        case TAL_TREE_TURNED:
            leaf(Tal_AddObject(parent(), "Text", TAL_SetLabel, text(), kTextAngle, 270, TAL_SetWeight, 0));
            break;
        case TAL_TREE_TEXTMODE4:
            leaf(Tal_AddObject(parent(), "Text", TAL_SetLabel, text(), kTextMode, 4));
            break;
        case TAL_TREE_BITMAP:
            leaf(Tal_AddObject(parent(), "BitMap", kBitMapFile, text()));
            break;
        case TAL_TREE_HGROUP:
            opened(Tal_AddObject(parent(), "Group", kGroupOrientation, 2));
            break;
        case TAL_TREE_VGROUP:
            opened(Tal_AddObject(parent(), "Group", kGroupOrientation, 1));
            break;
        case TAL_TREE_STRING:
            opened(Tal_AddObject(parent(), "StringEdit"));
            break;
        case TAL_TREE_STRING1:
            opened(Tal_AddObject(parent(), "StringEdit", kStringEditMode, 1));
            break;
        case TAL_TREE_COMPACTSLIDER:
            opened(Tal_AddObject(parent(), "CompactSlider"));
            break;
        case TAL_TREE_SLIDER:
            opened(Tal_AddObject(parent(), "Slider"));
            break;
        case TAL_TREE_SPACE: {
            Tal_Word n = *++w;
            leaf(Tal_AddObject(parent(), "Space", TAL_TREE_SPACE, n));
            break;
        }
        case TAL_TREE_SPACE_HEIGHT1:
            leaf(Tal_AddObject(parent(), "Space", TAL_SetFixedHeight, 1));
            break;
        case TAL_TREE_SPACE_WIDTH1:
            leaf(Tal_AddObject(parent(), "Space", TAL_SetFixedWidth, 1));
            break;
        case TAL_TREE_SPACE_WIDTH: {
            Tal_Word n = *++w;
            leaf(Tal_AddObject(parent(), "Space", TAL_SetFixedWidth, n, TAL_SetFixedHeight, 1));
            break;
        }
        case TAL_TREE_SPACE_HEIGHT: {
            Tal_Word n = *++w;
            leaf(Tal_AddObject(parent(), "Space", TAL_SetFixedWidth, 1, TAL_SetFixedHeight, n));
            break;
        }
        case TAL_TREE_HANDLE:
            if (auto* variable = reinterpret_cast<ULONG*>(*++w)) *variable = last;
            break;
        default: {
            Tal_Word value = *++w;
            Tal_DoMethodA(parent(), ULONG(code), &value);
            break;
        }
        }
    }
    return result;
}
