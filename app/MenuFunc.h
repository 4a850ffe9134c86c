// The program's commands: the menu bar's menus and buttons end in MenuFunc, and what the program can do at
// the moment decides which commands (and start-window buttons) are offered.
#pragma once

#include "app/startup.h"

// Carries out a command; wired to the screen's menu-command notification (the command is the first
// argument).
Tal_Word MenuFunc(Tal_Word menu, ULONG source, ULONG trigger, const Tal_Word* args);

// Listens to the screen's menu commands, makes the start window the main window (it hears the menu bar
// and the screen's close request), and greys what cannot be done: a command whose work the program does
// not have is greyed on the menu bar (a button disabled, a drop-down button with nothing in it too), and
// so are the start window's buttons. Never a silent no-op.
void app_InstallCommands(const app_MainTree* tree);
