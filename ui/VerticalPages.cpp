// VerticalPages: Pages with the tabs in a column on the left of the page group (see Pages.cpp).
#include "ui/Pages.h"

namespace {

Tal_Class verticalPagesClass;

} // namespace

void* Tal_NewVerticalPagesClass(const TagItem*) {
    return Tal__NewTabbedPages(&verticalPagesClass, true);
}

void Tal_DisposeVerticalPagesClass(void* instance) {
    Tal__DisposeTabbedPages(instance);
}

Tal_Word Tal_DoVerticalPagesClassMethod(void* instance, ULONG id, const Tal_Word* args) {
    return Tal__DoTabbedPagesMethod(instance, id, args);
}

ULONG Tal_InitVerticalPagesClass() {
    return Tal__SetupClass(&verticalPagesClass, "VerticalPages", 0x00550000, "Group",
                           Tal_NewVerticalPagesClass, Tal_DisposeVerticalPagesClass,
                           Tal_DoVerticalPagesClassMethod, Tal__TabbedPagesMethods,
                           ULONG(Tal__TabbedPagesSize()));
}

void Tal_CleanupVerticalPagesClass() {
    Tal__CleanupClass(&verticalPagesClass);
}
