// The interface kit: the classes of windows, containers and gadgets built on the object system, and the
// requesters and drawing helpers that go with them. What other folders use of the kit.
#pragma once

#include "Tal/Tal.h"
#include "ui/App.h"
#include "ui/Button.h"
#include "ui/Colour.h"
#include "ui/FileRequester.h"
#include "ui/Frames.h"
#include "ui/Group.h"
#include "ui/ListTree.h"
#include "ui/Pages.h"
#include "ui/PopUp.h"
#include "ui/Slider.h"
#include "ui/StringEdit.h"
#include "ui/Window.h"

#include <span>

// The interface classes in the order the object system registers them (App first: registering it starts
// the host services).
std::span<const Tal_ClassRegistration> Tal_InterfaceClasses();

// Hands the interface classes to the object system: call before the first Tal_Init.
inline void Tal_UseInterfaceClasses() {
    Tal_SetClassRegistrations(Tal_InterfaceClasses());
}
