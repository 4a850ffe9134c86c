// The save-options groups of the format classes (see TALIO__MakeSaveOptions in talio.h).
#include "talio/talio.h"

#include "ui/ui.h"

#include <vector>

namespace {

// Scroller attributes: the range, the value and its text.
constexpr ULONG kSetMinimum = 0x80000064;
constexpr ULONG kSetMaximum = 0x8000006E;
constexpr ULONG kValue = 0x80000078;
constexpr ULONG kValueFormat = 0x80000082;

// Hands the new value of a control to the format's setter, which rides in the user word.
Tal_Word forward(Tal_Word setter, ULONG, ULONG, const Tal_Word* args) {
    reinterpret_cast<void (*)(Tal_Word)>(setter)(args[0]);
    return 0;
}

} // namespace

ULONG TALIO__MakeSaveOptions(const TALIO_SaveOptionsLayout& layout) {
    for (const char* name : {"Group", "Text", "Scroller", "CheckBox"})
        if (!Tal_FindClassFromName(name)) return 0;
    ULONG slider = 0, check = 0;
    std::vector<Tal_Word> words{TAL_TREE_VGROUP, TAL_SetGroupFrame,        1,
                                TAL_SetLabel,    Tal_ToWord(layout.title), TAL_TREE_HGROUP};
    if (layout.sliderLeft) words.insert(words.end(), {TAL_TREE_LABEL, Tal_ToWord(layout.sliderLeft)});
    words.insert(words.end(),
                 {TAL_TREE_OBJECT, Tal_ToWord("Slider"), TAL_TREE_HANDLE, Tal_ToWord(&slider), kSetMinimum,
                  Tal_ToWord(layout.minimum), kSetMaximum, Tal_ToWord(layout.maximum), kValue,
                  Tal_ToWord(layout.value), kValueFormat, Tal_ToWord(layout.valueFormat), TAL_TREE_CLOSE});
    if (layout.sliderRight) words.insert(words.end(), {TAL_TREE_LABEL, Tal_ToWord(layout.sliderRight)});
    words.insert(words.end(),
                 {TAL_TREE_CLOSE, TAL_TREE_OBJECT, Tal_ToWord("CheckBox"), TAL_TREE_HANDLE,
                  Tal_ToWord(&check), TAL_SetLabel, Tal_ToWord(layout.checkLabel), TAL_SetChecked,
                  Tal_ToWord(layout.checked), TAL_TREE_CLOSE, TAL_TREE_CLOSE, TAL_TREE_END});
    const ULONG group = Tal_CreateObjectsA(words.data(), 0);
    if (!group) return 0;
    if (slider)
        Tal_AddCallBackNotify(slider, kValue, TAL_AnyValue, forward,
                              reinterpret_cast<Tal_Word>(layout.sliderChanged));
    if (check)
        Tal_AddCallBackNotify(check, TAL_SetChecked, TAL_AnyValue, forward,
                              reinterpret_cast<Tal_Word>(layout.checkChanged));
    return group;
}
