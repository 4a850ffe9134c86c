// The program's menu bar (resource 101): drop-down buttons 40001 File, 40012 Image and 40025 Mode, image
// buttons 143 (fill the paint layer with the paint mode), 81 (clear the paint layer) and the check button
// 155 (erase mode).
#pragma once

#include "host/controls.h"

const host_MenuBarResource* velura_MenuBarResource();
