// MeasurementEdit: a StringEdit showing a length in the unit the user chose (centimetres, millimetres,
// inches or pixels; a resolution field shows dots per inch) while its owner exchanges values in a unit
// of its own. Every field follows the program's unit, which the units object announces.
//
// The field keeps the exact value its owner set, in the owner's unit, and converts it for every display:
// the rounded text is read back only after the user typed in it, so changing units back and forth does
// not move the value.
#include "ui/StringEdit.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <string>

namespace {

Tal_Class measurementEditClass;

// The object that carries TAL_SetMeasurementUnits to every field and units choice, and the unit itself.
std::atomic<ULONG> unitsObject{0};
std::atomic<ULONG> programUnit{TAL_UNIT_PIXELS};

constexpr double kMillimetresPerInch = 25.4000508001016; // 1 / 0.03937
constexpr double kInchesPerMillimetre = 0.03937;
constexpr float kDefaultResolution = 72.0f;

struct MeasurementInstance {
    Tal_Object header;
    ULONG displayUnit;
    ULONG baseUnit;
    ULONG word;
    float resolution;
    const char* suffix;
    // The value in the base unit, when it is known exactly (set by the owner, or typed and read once).
    double value;
    bool haveValue;
    // The unit the program asked for; it waits while a conversion to it is impossible.
    ULONG wantedUnit;
    std::mutex lock;
};

MeasurementInstance* of(void* instance) {
    return static_cast<MeasurementInstance*>(instance);
}
ULONG super(MeasurementInstance* m) {
    return m->header.superObject;
}
ULONG topmost(MeasurementInstance* m) {
    return Tal_GetTopMostObject(m->header.handle);
}

bool validUnit(ULONG unit) {
    return unit >= TAL_UNIT_CM && unit <= TAL_UNIT_DPI;
}

const char* suffixOf(ULONG unit) {
    switch (unit) {
    case TAL_UNIT_CM:
        return " cm";
    case TAL_UNIT_MM:
        return " mm";
    case TAL_UNIT_INCHES:
        return " inches";
    case TAL_UNIT_PIXELS:
        return " pixels";
    default:
        return " dpi";
    }
}

// From one unit to another through millimetres. Pixels need a resolution: without a positive one there
// is no conversion (none is returned), never an infinite or undefined value.
std::optional<double> convert(double v, ULONG from, ULONG to, double resolution) {
    if (from == to) return v;
    const bool pixels = from == TAL_UNIT_PIXELS || to == TAL_UNIT_PIXELS;
    if (pixels && !(resolution > 0 && std::isfinite(resolution))) return std::nullopt;
    double mm = v;
    switch (from) {
    case TAL_UNIT_CM:
        mm = v * 10;
        break;
    case TAL_UNIT_INCHES:
    case TAL_UNIT_DPI:
        mm = v * kMillimetresPerInch;
        break;
    case TAL_UNIT_PIXELS:
        mm = v / resolution * kMillimetresPerInch;
        break;
    }
    double out = mm;
    switch (to) {
    case TAL_UNIT_CM:
        out = mm * 0.1;
        break;
    case TAL_UNIT_INCHES:
    case TAL_UNIT_DPI:
        out = mm * kInchesPerMillimetre;
        break;
    case TAL_UNIT_PIXELS:
        out = resolution * mm * kInchesPerMillimetre;
        break;
    }
    if (!std::isfinite(out)) return std::nullopt;
    return out;
}

// The leading number of a text in the C locale ("25 mm" is 25); none when it has no number.
std::optional<double> parseValue(const char* text) {
    if (!text) return std::nullopt;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) p++;
    if (*p == '+' && p[1] != '-') p++;
    double v = 0;
    auto [stop, error] = std::from_chars(p, p + std::strlen(p), v, std::chars_format::general);
    if (stop == p || error != std::errc() || !std::isfinite(v)) return std::nullopt;
    return v;
}

// A value with a fixed number of decimals and the unit's suffix.
std::string format(double v, int decimals, const char* suffix) {
    char number[400];
    auto [end, error] = std::to_chars(number, number + sizeof number, v, std::chars_format::fixed, decimals);
    if (error != std::errc()) return {};
    return std::string(number, end) + suffix;
}

void show(MeasurementInstance* m, const std::string& text) {
    if (!text.empty()) Tal_DoMethod(super(m), TAL_SetString, text.c_str());
}

// The value now shown, in the base unit.
std::optional<double> currentValue(MeasurementInstance* m) {
    auto* text = reinterpret_cast<const char*>(Tal_DoMethod(super(m), TAL_GetString));
    std::lock_guard guard(m->lock);
    if (m->haveValue) return m->value;
    std::optional<double> shown = parseValue(text);
    return convert(shown.value_or(0), m->displayUnit, m->baseUnit, m->resolution);
}

// The exact value in the display unit: whole millimetres and pixels, else three decimals.
void showValue(MeasurementInstance* m) {
    std::string text;
    {
        std::lock_guard guard(m->lock);
        if (!m->haveValue) return;
        std::optional<double> shown = convert(m->value, m->baseUnit, m->displayUnit, m->resolution);
        if (!shown) return; // no conversion: the shown value stays
        const bool whole = m->displayUnit == TAL_UNIT_MM || m->displayUnit == TAL_UNIT_PIXELS;
        text = format(*shown, whole ? 0 : 3, m->suffix);
    }
    show(m, text);
}

ULONG setDisplayUnit(MeasurementInstance* m, ULONG unit) {
    if (!validUnit(unit)) return 0;
    {
        std::lock_guard guard(m->lock);
        m->wantedUnit = unit;
        // A resolution field keeps its unit and its text.
        if (m->displayUnit == TAL_UNIT_DPI) {
            m->suffix = suffixOf(TAL_UNIT_DPI);
            return 1;
        }
        if (m->displayUnit == unit) return 1;
    }
    std::optional<double> value = currentValue(m);
    std::string text;
    {
        std::lock_guard guard(m->lock);
        std::optional<double> shown =
            value ? convert(*value, m->baseUnit, unit, m->resolution) : std::nullopt;
        if (!shown) return 1; // no conversion now: the unit waits for a resolution
        // Read once, the value is kept exactly from now on.
        m->value = *value;
        m->haveValue = true;
        m->displayUnit = unit;
        m->suffix = suffixOf(unit);
        text = format(*shown, 6, m->suffix);
    }
    show(m, text);
    return 1;
}

ULONG setBaseUnit(MeasurementInstance* m, ULONG unit) {
    if (!validUnit(unit)) return 0;
    std::lock_guard guard(m->lock);
    // The same length in the new unit; when that is impossible, the text is read afresh later.
    if (m->haveValue) {
        std::optional<double> moved = convert(m->value, m->baseUnit, unit, m->resolution);
        m->haveValue = moved.has_value();
        m->value = moved.value_or(0);
    }
    m->baseUnit = unit;
    return 1;
}

void setValue(MeasurementInstance* m, float v) {
    {
        std::lock_guard guard(m->lock);
        m->value = v;
        m->haveValue = true;
    }
    showValue(m);
    Tal_DoNotify(topmost(m), TAL_SetMeasurementValue, Tal_FloatToULONG(v));
}

void setResolution(MeasurementInstance* m, float r) {
    ULONG wanted;
    bool waiting, pixels;
    {
        std::lock_guard guard(m->lock);
        m->resolution = r;
        wanted = m->wantedUnit;
        waiting = wanted != m->displayUnit && m->displayUnit != TAL_UNIT_DPI;
        pixels = (m->displayUnit == TAL_UNIT_PIXELS) != (m->baseUnit == TAL_UNIT_PIXELS);
    }
    // A unit that waited for a resolution is taken now; otherwise a pixel conversion shows the value anew.
    if (waiting)
        setDisplayUnit(m, wanted);
    else if (pixels)
        showValue(m);
}

// The user's text: its number in the display unit becomes the value.
void typed(MeasurementInstance* m) {
    auto* text = reinterpret_cast<const char*>(Tal_DoMethod(super(m), TAL_GetString));
    std::optional<double> entered = parseValue(text);
    if (!entered) {
        // Not a number: the field shows its value again.
        showValue(m);
        return;
    }
    float v;
    {
        std::lock_guard guard(m->lock);
        std::optional<double> value = convert(*entered, m->displayUnit, m->baseUnit, m->resolution);
        if (!value) return;
        v = float(*value);
        m->value = v;
        m->haveValue = true;
    }
    Tal_DoNotify(topmost(m), TAL_SetMeasurementValue, Tal_FloatToULONG(v));
}

#define ENTRY(id, name, kind, counterpart, arg, result)                                                      \
    { id, name, kind, counterpart, arg, nullptr, result, nullptr, nullptr }
const Tal_MethodEntry measurementMethods[] = {
    ENTRY(TAL_SetMeasurementBaseUnit, "Tal_SetMeasurementBaseUnit", TAL_METHOD_SETTER,
          TAL_GetMeasurementBaseUnit, "%ld", nullptr),
    ENTRY(TAL_GetMeasurementBaseUnit, "Tal_GetMeasurementBaseUnit", TAL_METHOD_GETTER,
          TAL_SetMeasurementBaseUnit, nullptr, "%ld"),
    ENTRY(TAL_SetMeasurementResolution, "Tal_SetMeasurementResolution", TAL_METHOD_SETTER,
          TAL_GetMeasurementResolution, "%lx", nullptr),
    ENTRY(TAL_GetMeasurementResolution, "Tal_GetMeasurementResolution", TAL_METHOD_GETTER,
          TAL_SetMeasurementResolution, nullptr, "%lx"),
    ENTRY(TAL_SetMeasurementUnit, "Tal_SetMeasurementUnit", TAL_METHOD_SETTER, TAL_GetMeasurementUnit, "%ld",
          nullptr),
    ENTRY(TAL_GetMeasurementUnit, "Tal_GetMeasurementUnit", TAL_METHOD_GETTER, TAL_SetMeasurementUnit,
          nullptr, "%ld"),
    ENTRY(TAL_SetMeasurementWord, "Tal_SetMeasurementWord", TAL_METHOD_SETTER, TAL_GetMeasurementWord, "%ld",
          nullptr),
    ENTRY(TAL_GetMeasurementWord, "Tal_GetMeasurementWord", TAL_METHOD_GETTER, TAL_SetMeasurementWord,
          nullptr, "%ld"),
    ENTRY(0, nullptr, 0, 0, nullptr, nullptr),
};
#undef ENTRY

} // namespace

ULONG Tal__GetMeasurementUnits() {
    return programUnit.load();
}

ULONG Tal__SetMeasurementUnits(ULONG unit) {
    if (unit < TAL_UNIT_CM || unit > TAL_UNIT_PIXELS) return 0;
    programUnit = unit;
    Tal_DoNotify(Tal__MeasurementUnitsObject(), TAL_SetMeasurementUnits, unit);
    return 1;
}

// Made when first needed, so that starting the object system creates no object.
ULONG Tal__MeasurementUnitsObject() {
    ULONG current = unitsObject.load();
    if (current) return current;
    const ULONG made = Tal_CreateObject("Root");
    if (unitsObject.compare_exchange_strong(current, made)) return made;
    Tal_DisposeObject(made); // another thread was first
    return current;
}

void* Tal_NewMeasurementEditClass(const TagItem*) {
    auto* m = static_cast<MeasurementInstance*>(Tal_AllocObjectMem(&measurementEditClass));
    if (!m) return nullptr;
    m->header.superObject = Tal_CreateObject("StringEdit");
    if (!m->header.superObject) {
        Tal_FreeObjectMem(m);
        return nullptr;
    }
    new (&m->lock) std::mutex;
    m->displayUnit = m->wantedUnit = programUnit.load();
    m->baseUnit = TAL_UNIT_PIXELS;
    m->resolution = kDefaultResolution;
    m->suffix = suffixOf(m->displayUnit);
    const ULONG self = m->header.handle;
    // The program's unit, and the user's typing (read back by the StringEdit), reach the field as
    // notifications; the target records go with the field.
    Tal_AddNotify(Tal__MeasurementUnitsObject(), TAL_SetMeasurementUnits, TAL_AnyValue, self, 2,
                  TAL_SetMeasurementUnit, TAL_TriggerValue);
    Tal_AddNotify(self, TAL_SetString, TAL_AnyValue, self, 2, TAL_MeasurementTyped, TAL_TriggerValue);
    return m;
}

void Tal_DisposeMeasurementEditClass(void* instance) {
    auto* m = of(instance);
    Tal_DisposeObject(m->header.superObject);
    m->lock.~mutex();
    Tal_FreeObjectMem(m);
}

Tal_Word Tal_DoMeasurementEditClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    auto* m = of(instance);
    switch (id) {
    case TAL_SetMeasurementUnit:
        return setDisplayUnit(m, ULONG(args[0]));
    case TAL_GetMeasurementUnit: {
        std::lock_guard guard(m->lock);
        return m->displayUnit;
    }
    case TAL_SetMeasurementBaseUnit:
        return setBaseUnit(m, ULONG(args[0]));
    case TAL_GetMeasurementBaseUnit: {
        std::lock_guard guard(m->lock);
        return m->baseUnit;
    }
    case TAL_SetMeasurementValue: {
        const float v = Tal_ULONGToFloat(ULONG(args[0]));
        if (!std::isfinite(v)) return 0;
        setValue(m, v);
        return 1;
    }
    case TAL_GetMeasurementValue:
        return Tal_FloatToULONG(float(currentValue(m).value_or(0)));
    case TAL_SetMeasurementResolution:
        setResolution(m, Tal_ULONGToFloat(ULONG(args[0])));
        return 1;
    case TAL_GetMeasurementResolution: {
        std::lock_guard guard(m->lock);
        return Tal_FloatToULONG(m->resolution);
    }
    case TAL_SetMeasurementWord:
        m->word = ULONG(args[0]);
        return 1;
    case TAL_GetMeasurementWord:
        return m->word;
    case TAL_SetMeasurementUnits:
        return Tal__SetMeasurementUnits(ULONG(args[0]));
    case TAL_MeasurementTyped:
        typed(m);
        return 1;
    case TAL_GetMeasurementText:
        return Tal_DoMethod(super(m), TAL_GetString);
    case TAL_SetString:
    case TAL_SetStringNumber: {
        // A text from outside: the value is read from it from now on.
        {
            std::lock_guard guard(m->lock);
            m->haveValue = false;
        }
        return Tal_DoMethodA(super(m), id, args);
    }
    default:
        return Tal_DoMethodA(super(m), id, args);
    }
}

ULONG Tal_InitMeasurementEditClass() {
    if (measurementEditClass.registered) return 1;
    if (!Tal__SetupClass(&measurementEditClass, "MeasurementEdit", 0x00580000, "StringEdit",
                         Tal_NewMeasurementEditClass, Tal_DisposeMeasurementEditClass,
                         Tal_DoMeasurementEditClassMethod, measurementMethods, sizeof(MeasurementInstance)))
        return 0;
    programUnit = TAL_UNIT_PIXELS;
    return 1;
}

void Tal_CleanupMeasurementEditClass() {
    Tal_DisposeObject(unitsObject.exchange(0));
    Tal__CleanupClass(&measurementEditClass);
}
