// MeasurementUnitsPrefs: the choice of the unit every measurement field shows, as a pop-up list of the
// four unit names. A choice here changes every field and every other units choice of the program; a
// change made elsewhere shows here.
#include "Tal/Catalogue.h"
#include "ui/StringEdit.h"

namespace {

Tal_Class unitsPrefsClass;

// The unit names: catalogue texts 386 to 389 (centimetres, millimetres, inches, pixels).
constexpr ULONG kFirstUnitText = 386;
constexpr const char* kUnitNames[] = {"Centimetres", "Millimetres", "Inches", "Pixels"};
constexpr ULONG kUnitCount = 4;

struct UnitsPrefsInstance {
    Tal_Object header;
    ULONG list; // the PopUpList, a member of the group
};

UnitsPrefsInstance* of(void* instance) {
    return static_cast<UnitsPrefsInstance*>(instance);
}

const char* unitName(ULONG index) {
    const char* text = Tal_GetCatalogueText(kFirstUnitText + index);
    return *text ? text : kUnitNames[index];
}

// The list with one entry per unit; none when a part cannot be had.
ULONG makeList() {
    ULONG list = Tal_CreateObject("PopUpList", TAL_SetWeight, 0);
    if (!list) return 0;
    for (ULONG i = 0; i < kUnitCount; i++) {
        ULONG entry = Tal_CreateObject("Text", TAL_SetLabel, unitName(i));
        if (!entry || !Tal_DoMethod(list, TAL_AddTail, entry)) {
            Tal_DisposeObject(entry);
            Tal_DisposeObject(list);
            return 0;
        }
    }
    return list;
}

} // namespace

void* Tal_NewMeasurementUnitsPrefsClass(const TagItem*) {
    auto* p = static_cast<UnitsPrefsInstance*>(Tal_AllocObjectMem(&unitsPrefsClass));
    if (!p) return nullptr;
    p->header.superObject = Tal_CreateObject("Group", TAL_SetGroupOrientation, TAL_HORIZONTAL);
    p->list = p->header.superObject ? makeList() : 0;
    if (!p->list || !Tal_DoMethod(p->header.superObject, TAL_AddTail, p->list)) {
        Tal_DisposeObject(p->list);
        Tal_DisposeObject(p->header.superObject);
        Tal_FreeObjectMem(p);
        return nullptr;
    }
    Tal_DoMethod(p->list, TAL_SelectMemberIndex, Tal__GetMeasurementUnits() - 1);
    // Wired after the first selection, which is no choice of the user's.
    const ULONG self = p->header.handle;
    Tal_AddNotify(p->list, TAL_SelectMemberIndex, TAL_AnyValue, self, 2, TAL_UnitsPrefsChosen,
                  TAL_TriggerValue);
    Tal_AddNotify(Tal__MeasurementUnitsObject(), TAL_SetMeasurementUnits, TAL_AnyValue, self, 2,
                  TAL_UnitsPrefsShow, TAL_TriggerValue);
    return p;
}

void Tal_DisposeMeasurementUnitsPrefsClass(void* instance) {
    auto* p = of(instance);
    Tal_DisposeObject(p->header.superObject); // with the list, its member
    Tal_FreeObjectMem(p);
}

Tal_Word Tal_DoMeasurementUnitsPrefsClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* p = of(instance);
    switch (id) {
    case TAL_UnitsPrefsChosen: {
        // The list also reports the selections made here for a change from elsewhere: those are the
        // program's unit already and go no further.
        const ULONG unit = ULONG(args[0]) + 1;
        if (unit <= kUnitCount && unit != Tal__GetMeasurementUnits()) Tal__SetMeasurementUnits(unit);
        return 1;
    }
    case TAL_UnitsPrefsShow: {
        const ULONG unit = ULONG(args[0]);
        if (unit >= 1 && unit <= kUnitCount) Tal_DoMethod(p->list, TAL_SelectMemberIndex, unit - 1);
        return 1;
    }
    case TAL_StoreChildren:
        return 1; // its parts are its own: the attributes make it again
    default:
        return Tal_DoMethodA(p->header.superObject, id, args);
    }
}

ULONG Tal_InitMeasurementUnitsPrefsClass() {
    return Tal__SetupClass(&unitsPrefsClass, "MeasurementUnitsPrefs", 0x00590000, "Group",
                           Tal_NewMeasurementUnitsPrefsClass, Tal_DisposeMeasurementUnitsPrefsClass,
                           Tal_DoMeasurementUnitsPrefsClassMethod, nullptr, sizeof(UnitsPrefsInstance));
}

void Tal_CleanupMeasurementUnitsPrefsClass() {
    Tal__CleanupClass(&unitsPrefsClass);
}
