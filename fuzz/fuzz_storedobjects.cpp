// Fuzz target: the stored-object reader, on Root objects and a small container class with a text, a
// number and a hexadecimal attribute.
#include "Tal/Root.h"
#include "ui/ui.h"

#include <cstring>
#include <vector>

namespace {

struct Box {
    Tal_Object header;
    const char* text;
    Tal_Word number;
    std::vector<ULONG>* members;
};

Tal_Class boxClass;

#define E(id, name, kind, counterpart, arg, result)                                                          \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry boxMethods[] = {
    E(0x7F01000A, "Tal_SetText", TAL_METHOD_SETTER, 0x7F010014, "%s", nullptr),
    E(0x7F010014, "Tal_GetText", TAL_METHOD_GETTER, 0x7F01000A, nullptr, "%s"),
    E(0x7F01001E, "Tal_SetPair", TAL_METHOD_SETTER, 0, "%ld%lx", nullptr),
    E(0, nullptr, 0, 0, nullptr, nullptr)};
#undef E

Tal_Word dispatch(void* instance, ULONG id, const Tal_Word* args) {
    auto* self = static_cast<Box*>(instance);
    switch (id) {
    case 0x7F01000A:
        self->text = reinterpret_cast<const char*>(args[0]);
        return 1;
    case 0x7F010014:
        return reinterpret_cast<Tal_Word>(self->text);
    case 0x7F01001E:
        self->number = args[0] ^ args[1];
        return 1;
    case 0x0047001E:
        self->members->push_back(ULONG(args[0]));
        return 1;
    default:
        return Tal_DoMethodA(self->header.superObject, id, args);
    }
}

void* newBox(const TagItem*) {
    auto* self = static_cast<Box*>(Tal_AllocObjectMem(&boxClass));
    self->header.superObject = Tal_CreateObject("Root");
    self->members = new std::vector<ULONG>;
    return self;
}

void disposeBox(void* instance) {
    auto* self = static_cast<Box*>(instance);
    for (ULONG m : *self->members) Tal_DisposeObject(m);
    delete self->members;
    Tal_DisposeObject(self->header.superObject);
    Tal_FreeObjectMem(self);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        Tal_UseInterfaceClasses();
        Tal_Init();
        Tal__SetupClass(&boxClass, "Box", 0x7F010000, "Root", newBox, disposeBox, dispatch, boxMethods,
                        sizeof(Box));
        return true;
    }();
    (void)ready;
    auto* text = static_cast<char*>(Tal_AllocMem(size + 1));
    std::memcpy(text, data, size);
    text[size] = 0;
    ULONG root = Tal_CreateObjectsFromString(text);
    if (root) {
        ULONG length = 0;
        Tal_FreeStoredObjectBuffer(Tal_StoreObjectToBuffer(root, &length, 0));
        Tal_DoMethod(root, TAL_SetStoredText, text);
        Tal_DisposeObject(root);
    } else {
        Tal_FreeMem(text);
    }
    return 0;
}
