// ShortcutKey: the editor of one keyboard shortcut: its key, a qualifier, the method to send and its
// argument, and the target word the owner keeps with it. Rows of a label and a field, one per value, so
// that the editor fits the narrow screen.
//
// The fields are text fields and the qualifier a pop-up list; while no pop-up list class is registered,
// a button steps through the qualifiers and the editor keeps the qualifier itself.
#include "ui/Button.h"
#include "ui/Window.h"

#include <algorithm>
#include <cstdio>

namespace {

Tal_Class shortcutKeyClass;

constexpr ULONG kSetString = 0x001E000A;
constexpr ULONG kGetString = 0x001E0014;
constexpr ULONG kSetStringMaxChars = 0x001E0028;
constexpr ULONG kNextQualifier = 0x004A00F0; // from the stepping button: the next qualifier

constexpr ULONG kQualifiers = std::size(TAL_SHORTCUT_QUALIFIERS);
constexpr size_t kKeySize = 4; // three characters
constexpr size_t kTextSize = 256;

struct ShortcutKeyInstance {
    Tal_Object header;
    ULONG keyField, methodField, argumentField;
    ULONG qualifierList;  // a PopUpList, or the stepping button
    ULONG qualifierLabel; // the stepping button's label
    ULONG qualifier;      // kept for the stepping button
    Tal_Word target;
    // The texts cut to their fields' lengths on the way in.
    char key[kKeySize];
    char method[kTextSize];
    char argument[kTextSize];
};

ShortcutKeyInstance* of(void* instance) {
    return static_cast<ShortcutKeyInstance*>(instance);
}

// A text field limited to maxChars characters.
ULONG makeField(ULONG maxChars) {
    ULONG field = Tal_CreateObject("StringEdit");
    if (field) Tal_DoMethod(field, kSetStringMaxChars, maxChars);
    return field;
}

void setText(ULONG field, char* kept, size_t size, const char* text) {
    std::snprintf(kept, size, "%s", text ? text : "");
    Tal_DoMethod(field, kSetString, kept);
}

const char* getText(ULONG field, const char* kept) {
    auto* text = reinterpret_cast<const char*>(Tal_DoMethod(field, kGetString));
    return text ? text : kept;
}

ULONG makeQualifierChooser(ShortcutKeyInstance* k) {
    if (ULONG list = Tal_CreateObject("PopUpList")) {
        for (const char* name : TAL_SHORTCUT_QUALIFIERS)
            if (ULONG entry = Tal_CreateObject("Text", TAL_SetLabel, name))
                if (!Tal_DoMethod(list, TAL_AddTail, entry)) Tal_DisposeObject(entry);
        Tal_DoMethod(list, TAL_SelectMemberIndex, 0);
        return list;
    }
    ULONG button = Tal_CreateObject("Button");
    k->qualifierLabel = Tal_CreateObject("Text", TAL_SetLabel, TAL_SHORTCUT_QUALIFIERS[0]);
    if (!button || !k->qualifierLabel || !Tal_DoMethod(button, TAL_AddTail, k->qualifierLabel)) {
        Tal_DisposeObject(k->qualifierLabel);
        Tal_DisposeObject(button);
        k->qualifierLabel = 0;
        return 0;
    }
    // Wide enough for every name, so that stepping changes no layout.
    LONG widest = 0;
    for (const char* name : TAL_SHORTCUT_QUALIFIERS)
        widest = std::max(widest, host_FontTextWidth(host_InterfaceFont(), name, ULONG(std::strlen(name))));
    Tal_DoMethod(button, TAL_SetGroupWidth, widest + 12);
    Tal_AddNotify(button, TAL_ButtonClicked, TAL_AnyValue, k->header.handle, 1, kNextQualifier);
    return button;
}

bool qualifierIsList(ShortcutKeyInstance* k) {
    return k->qualifierList && !k->qualifierLabel;
}

void setQualifier(ShortcutKeyInstance* k, ULONG index) {
    if (index >= kQualifiers) return;
    k->qualifier = index;
    if (qualifierIsList(k)) {
        Tal_DoMethod(k->qualifierList, TAL_SelectMemberIndex, index);
    } else if (k->qualifierLabel) {
        Tal_DoMethod(k->qualifierLabel, TAL_SetLabel, TAL_SHORTCUT_QUALIFIERS[index]);
        Tal_DoMethod(k->qualifierList, TAL_DrawObject);
    }
}

ULONG qualifier(ShortcutKeyInstance* k) {
    return qualifierIsList(k) ? ULONG(Tal_DoMethod(k->qualifierList, TAL_GetSelectedIndex)) : k->qualifier;
}

// A row: the caption, the field, and a stretching space after fields that do not stretch.
bool addRow(ULONG group, const char* caption, ULONG field) {
    ULONG row = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    ULONG parts[] = {Tal_CreateObject("Text", TAL_SetLabel, caption, TAL_SetWeight, 0), field,
                     Tal_CreateObject("Space")};
    bool ok = row != 0;
    for (ULONG part : parts) ok = ok && part && Tal_DoMethod(row, TAL_AddTail, part);
    ok = ok && Tal_DoMethod(group, TAL_AddTail, row);
    if (ok) return true;
    for (ULONG part : parts)
        if (part && !Tal_GetParentObject(part)) Tal_DisposeObject(part);
    Tal_DisposeObject(row);
    return false;
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry shortcutKeyMethods[] = {
    ENTRY(TAL_SetShortcutKey, "Tal_SetShortcutKey", TAL_METHOD_SETTER, TAL_GetShortcutKey, "%s", nullptr),
    ENTRY(TAL_GetShortcutKey, "Tal_GetShortcutKey", TAL_METHOD_GETTER, TAL_SetShortcutKey, nullptr, "%s"),
    ENTRY(TAL_SetShortcutKeyQualifier, "Tal_SetShortcutKeyQualifier", TAL_METHOD_SETTER,
          TAL_GetShortcutKeyQualifier, "%ld", nullptr),
    ENTRY(TAL_GetShortcutKeyQualifier, "Tal_GetShortcutKeyQualifier", TAL_METHOD_GETTER,
          TAL_SetShortcutKeyQualifier, nullptr, "%ld"),
    ENTRY(TAL_SetShortcutKeyTarget, "Tal_SetShortcutKeyTarget", TAL_METHOD_SETTER, TAL_GetShortcutKeyTarget,
          "%ld", nullptr),
    ENTRY(TAL_GetShortcutKeyTarget, "Tal_GetShortcutKeyTarget", TAL_METHOD_GETTER, TAL_SetShortcutKeyTarget,
          nullptr, "%ld"),
    ENTRY(TAL_SetShortcutKeyMethodString, "Tal_SetShortcutKeyMethodString", TAL_METHOD_SETTER,
          TAL_GetShortcutKeyMethodString, "%s", nullptr),
    ENTRY(TAL_GetShortcutKeyMethodString, "Tal_GetShortcutKeyMethodString", TAL_METHOD_GETTER,
          TAL_SetShortcutKeyMethodString, nullptr, "%s"),
    ENTRY(TAL_SetShortcutKeyArgumentString, "Tal_SetShortcutKeyArgumentString", TAL_METHOD_SETTER,
          TAL_GetShortcutKeyArgumentString, "%s", nullptr),
    ENTRY(TAL_GetShortcutKeyArgumentString, "Tal_GetShortcutKeyArgumentString", TAL_METHOD_GETTER,
          TAL_SetShortcutKeyArgumentString, nullptr, "%s"),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

void* Tal_NewShortcutKeyClass(const TagItem*) {
    auto* k = static_cast<ShortcutKeyInstance*>(Tal_AllocObjectMem(&shortcutKeyClass));
    if (!k) return nullptr;
    const ULONG group =
        Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 2);
    k->header.superObject = group;
    k->keyField = makeField(kKeySize - 1);
    k->qualifierList = makeQualifierChooser(k);
    k->methodField = makeField(kTextSize - 1);
    k->argumentField = makeField(kTextSize - 1);
    const ULONG fields[] = {k->keyField, k->qualifierList, k->methodField, k->argumentField};
    const char* captions[] = {" Shortcut Key: ", " Qualifier: ", " Method: ", " Argument: "};
    bool ok = group != 0;
    for (size_t i = 0; i < std::size(fields); i++)
        ok = ok && fields[i] && addRow(group, captions[i], fields[i]);
    if (!ok) {
        for (ULONG field : fields)
            if (field && !Tal_GetParentObject(field)) Tal_DisposeObject(field);
        Tal_DisposeObject(group);
        Tal_FreeObjectMem(k);
        return nullptr;
    }
    return k;
}

void Tal_DisposeShortcutKeyClass(void* instance) {
    auto* k = of(instance);
    Tal_DisposeObject(k->header.superObject);
    Tal_FreeObjectMem(k);
}

Tal_Word Tal_DoShortcutKeyClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* k = of(instance);
    switch (id) {
    case TAL_SetShortcutKey:
        setText(k->keyField, k->key, sizeof k->key, reinterpret_cast<const char*>(args[0]));
        return 1;
    case TAL_GetShortcutKey:
        return reinterpret_cast<Tal_Word>(getText(k->keyField, k->key));
    case TAL_SetShortcutKeyQualifier:
        setQualifier(k, ULONG(args[0]));
        return 1;
    case TAL_GetShortcutKeyQualifier:
        return qualifier(k);
    case kNextQualifier:
        setQualifier(k, (k->qualifier + 1) % kQualifiers);
        return 1;
    case TAL_SetShortcutKeyTarget:
        k->target = args[0];
        return 1;
    case TAL_GetShortcutKeyTarget:
        return k->target;
    case TAL_SetShortcutKeyMethodString:
        setText(k->methodField, k->method, sizeof k->method, reinterpret_cast<const char*>(args[0]));
        return 1;
    case TAL_GetShortcutKeyMethodString:
        return reinterpret_cast<Tal_Word>(getText(k->methodField, k->method));
    case TAL_SetShortcutKeyArgumentString:
        setText(k->argumentField, k->argument, sizeof k->argument, reinterpret_cast<const char*>(args[0]));
        return 1;
    case TAL_GetShortcutKeyArgumentString:
        return reinterpret_cast<Tal_Word>(getText(k->argumentField, k->argument));
    case TAL_StoreChildren:
        return 1; // the rows are the editor's own, not stored
    default:
        return Tal_DoMethodA(k->header.superObject, id, args);
    }
}

ULONG Tal_InitShortcutKeyClass() {
    return Tal__SetupClass(&shortcutKeyClass, "ShortcutKey", 0x004A0000, "Group", Tal_NewShortcutKeyClass,
                           Tal_DisposeShortcutKeyClass, Tal_DoShortcutKeyClassMethod, shortcutKeyMethods,
                           sizeof(ShortcutKeyInstance));
}

void Tal_CleanupShortcutKeyClass() {
    Tal__CleanupClass(&shortcutKeyClass);
}
