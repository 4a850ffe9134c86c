// The interface classes and the order of their registration.
#include "Tal/Root.h"
#include "Tal/Thread.h"
#include "ui/ui.h"

namespace {

// Cleaned up in the reverse order, so that Group, Root and App go last.
constexpr Tal_ClassRegistration interfaceClasses[] = {
    {Tal_InitAppClass, Tal_CleanupAppClass},
    {Tal_InitRootClass, Tal_CleanupRootClass},
    {Tal_InitGroupClass, Tal_CleanupGroupClass},
    {Tal_InitLinkedListClass, Tal_CleanupLinkedListClass},
    {Tal_InitButtonClass, Tal_CleanupButtonClass},
    {Tal_InitTextClass, Tal_CleanupTextClass},
    {Tal_InitSpaceClass, Tal_CleanupSpaceClass},
    {Tal_InitBitMapClass, Tal_CleanupBitMapClass},
    {Tal_InitCheckBoxClass, Tal_CleanupCheckBoxClass},
    {Tal_InitPagesClass, Tal_CleanupPagesClass},
    {Tal_InitScrollerClass, Tal_CleanupScrollerClass},
    {Tal_InitSliderClass, Tal_CleanupSliderClass},
    {Tal_InitVectorImageClass, Tal_CleanupVectorImageClass},
    {Tal_InitStringEditClass, Tal_CleanupStringEditClass},
    {Tal_InitColourBoxClass, Tal_CleanupColourBoxClass},
    {Tal_InitColourEditClass, Tal_CleanupColourEditClass},
    {Tal_InitColourSpaceClass, Tal_CleanupColourSpaceClass},
    {Tal_InitMutualExcludeClass, Tal_CleanupMutualExcludeClass},
    {Tal_InitListTreeClass, Tal_CleanupListTreeClass},
    {Tal_InitListTreeItemClass, Tal_CleanupListTreeItemClass},
    {Tal_InitListTreeNodeClass, Tal_CleanupListTreeNodeClass},
    {Tal_InitMeasurementEditClass, Tal_CleanupMeasurementEditClass},
    {Tal_InitMeasurementUnitsPrefsClass, Tal_CleanupMeasurementUnitsPrefsClass},
    {Tal_InitToolButtonClass, Tal_CleanupToolButtonClass},
    {Tal_InitShortcutKeyClass, Tal_CleanupShortcutKeyClass},
    {Tal_InitVerticalPagesClass, Tal_CleanupVerticalPagesClass},
    {Tal_InitProgressBarClass, Tal_CleanupProgressBarClass},
    {Tal_InitThreadClass, Tal_CleanupThreadClass},
    {Tal_InitWindowClass, Tal_CleanupWindowClass},
    {Tal_InitVirtualGroupClass, Tal_CleanupVirtualGroupClass},
    {Tal_InitKnobClass, Tal_CleanupKnobClass},
    {Tal_InitAngleClass, Tal_CleanupAngleClass},
    {Tal_InitLUTEditClass, Tal_CleanupLUTEditClass},
    {Tal_InitTipOfTheDayClass, Tal_CleanupTipOfTheDayClass},
    {Tal_InitPopUpClass, Tal_CleanupPopUpClass},
    {Tal_InitPopUpListClass, Tal_CleanupPopUpListClass},
    {Tal_InitPopUpToolListClass, Tal_CleanupPopUpToolListClass},
    {Tal_InitMenuClass, Tal_CleanupMenuClass},
    {Tal_InitMenuBarClass, Tal_CleanupMenuBarClass},
    {Tal_InitMenuItemClass, Tal_CleanupMenuItemClass},
    {Tal_InitDirTreeClass, Tal_CleanupDirTreeClass},
    {Tal_InitDirTreeNodeClass, Tal_CleanupDirTreeNodeClass},
    {Tal_InitFileRequesterClass, Tal_CleanupFileRequesterClass},
    {Tal_InitScreenClass, Tal_CleanupScreenClass},
};

} // namespace

std::span<const Tal_ClassRegistration> Tal_InterfaceClasses() {
    return interfaceClasses;
}
