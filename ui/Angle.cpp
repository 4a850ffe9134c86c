// Angle: a knob with a number field and two step buttons below it, all showing one angle of 0 to 359
// degrees. Turning the knob, typing a number or pressing a button changes it, and the other parts follow.
#include "ui/Slider.h"
#include "ui/Button.h"
#include "ui/Group.h"
#include "ui/StringEdit.h"

#include <atomic>

namespace {

Tal_Class angleClass;

constexpr LONG kArrowWidth = 11;

struct AngleInstance {
    Tal_Object header;
    ULONG knob, field;
    ULONG decreaseButton, increaseButton;
    std::atomic<LONG> angle;
};

AngleInstance* of(void* instance) {
    return static_cast<AngleInstance*>(instance);
}

// Every angle has one name in 0 .. 359.
LONG normalised(LONG degrees) {
    const LONG a = LONG(int64_t(degrees) % 360);
    return a < 0 ? a + 360 : a;
}

void setAngle(AngleInstance* a, LONG degrees) {
    const LONG angle = normalised(degrees);
    if (a->angle.exchange(angle) == angle) return;
    Tal_DoNotify(Tal_GetTopMostObject(a->header.handle), TAL_SetAngle, angle);
    Tal_DoMethod(a->knob, TAL_SetValue, angle);
    Tal_DoMethod(a->field, TAL_SetStringNumber, angle);
}

// A button with an arrow that sends the knob a step when it is released.
ULONG stepButton(ULONG row, ULONG shape, ULONG knob, ULONG method) {
    ULONG button = Tal_AddObject(row, "Button");
    if (!button) return 0;
    if (!Tal_AddObject(button, "VectorImage", TAL_SetVectorShape, shape, TAL_SetSpaceFixedWidth, kArrowWidth))
        return 0;
    Tal_AddNotify(button, TAL_Released, TAL_AnyValue, knob, 1, method);
    return button;
}

} // namespace

void* Tal_NewAngleClass(const TagItem*) {
    auto* a = of(Tal_AllocObjectMem(&angleClass));
    if (!a) return nullptr;
    new (&a->angle) std::atomic<LONG>(0);
    const ULONG group = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    a->header.superObject = group;
    ULONG column = 0, row = 0;
    if (group)
        column = Tal_AddObject(group, "Group", TAL_SetGroupOrientation, TAL_VERTICAL, TAL_SetGroupSpacing, 2);
    if (column) {
        a->knob = Tal_AddObject(column, "Knob", TAL_SetMinimum, 0, TAL_SetMaximum, 359, TAL_SetValue, 0);
        // The row keeps its height: the angle does not stretch.
        row = Tal_AddObject(column, "Group", TAL_SetGroupOrientation, TAL_HORIZONTAL, TAL_SetWeight, 0);
    }
    if (row && a->knob) {
        a->decreaseButton = stepButton(row, TAL_SHAPE_ARROW_LEFT, a->knob, TAL_KnobDecrease);
        a->field =
            Tal_AddObject(row, "StringEdit", TAL_SetStringFlags, TAL_STRING_NUMBER, TAL_SetStringNumber, 0);
        a->increaseButton = stepButton(row, TAL_SHAPE_ARROW_RIGHT, a->knob, TAL_KnobIncrease);
    }
    if (!a->decreaseButton || !a->field || !a->increaseButton) {
        Tal_DisposeObject(group); // and the parts it holds
        Tal_FreeObjectMem(a);
        return nullptr;
    }
    const ULONG self = a->header.handle;
    Tal_AddNotify(a->knob, TAL_SetValue, TAL_AnyValue, self, 2, TAL_SetAngle, TAL_TriggerValue);
    Tal_AddNotify(a->field, TAL_SetStringNumber, TAL_AnyValue, self, 2, TAL_SetAngle, TAL_TriggerValue);
    return a;
}

void Tal_DisposeAngleClass(void* instance) {
    auto* a = of(instance);
    Tal_DisposeObject(a->header.superObject);
    Tal_FreeObjectMem(a);
}

Tal_Word Tal_DoAngleClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* a = of(instance);
    switch (id) {
    case TAL_SetAngle:
        setAngle(a, args ? LONG(int32_t(args[0])) : 0);
        return 1;
    case TAL_GetAngle:
        return Tal_ToWord(a->angle.load());
    case TAL_SetValueImmediate:
        return Tal_DoMethodA(a->knob, id, args);
    case TAL_StoreChildren:
        return 1; // its parts are its own: the attributes make it again
    default:
        return Tal_DoMethodA(a->header.superObject, id, args);
    }
}

ULONG Tal_InitAngleClass() {
    return Tal__SetupClass(&angleClass, "Angle", 0x004D0000, "Group", Tal_NewAngleClass,
                           Tal_DisposeAngleClass, Tal_DoAngleClassMethod, nullptr, sizeof(AngleInstance));
}

void Tal_CleanupAngleClass() {
    Tal__CleanupClass(&angleClass);
}
