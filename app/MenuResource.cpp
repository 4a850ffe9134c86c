// The program's menu bar (resource 101): the File, Image and Mode menus and the three image buttons.
#include "app/MenuResource.h"

#include <iterator>

namespace {

using Item = host_MenuItemResource;
constexpr Item kSeparator{0, nullptr, HMF_SEPARATOR};

constexpr Item kFile[] = {
    {60, "New..."},
    {51, "Open..."},
    {139, "Browse..."},
    {52, "Save", HMF_GREYED},
    {53, "Save As...", HMF_GREYED},
    {61, "Revert", HMF_GREYED},
    kSeparator,
    {64, "Screen Grab..."},
    kSeparator,
    {65, "Close", HMF_GREYED},
    kSeparator,
    {67, "Preferences..."},
    {103, "About..."},
    kSeparator,
    {69, "Quit"},
};

constexpr Item kScale[] = {{89, "Choose Size..."}, {91, "Halve Size"}, {90, "Double Size"}};
constexpr Item kRotate[] = {
    {95, "Any Angle..."},
    {96, "90 Degrees Clockwise"},
    {97, "180 Degrees"},
    {98, "90 Degrees Anti-Clockwise"},
};
constexpr Item kClear[] = {{78, "To Black"}, {79, "To White"}, {80, "To Current Colour"}};
constexpr Item kMagnify[] = {
    {145, "10%"},  {146, "25%"},  {147, "50%"}, {148, "75%"},  {149, "100%"},      {150, "200%"},
    {151, "400%"}, {152, "800%"}, kSeparator,   {149, "100%"}, {87, "Reset View"},
};

constexpr Item kImage[] = {
    {0, "Scale", 0, kScale, ULONG(std::size(kScale))},
    {0, "Rotate", 0, kRotate, ULONG(std::size(kRotate))},
    {0, "Clear", 0, kClear, ULONG(std::size(kClear))},
    {112, "Invert"},
    {100, "Add Space..."},
    kSeparator,
    {0, "Magnify", 0, kMagnify, ULONG(std::size(kMagnify))},
    {140, "Zoom In"},
    {141, "Zoom Out"},
    {153, "View Full Screen..."},
    kSeparator,
    {135, "Undo/Clear Changes"},
};

constexpr Item kMode[] = {
    {40035, "Negative"}, {40075, "Colourise"}, {40055, "ColourToGrey"}, {40034, "Emboss"},
    {40037, "FlipX"},    {40038, "FlipY"},     {40060, "Sepia"},        {40028, "Paint"},
};

constexpr host_MenuBarButtonResource kButtons[] = {
    {40001, HMB_MENU, "File", kFile, ULONG(std::size(kFile))},
    {40012, HMB_MENU, "Image", kImage, ULONG(std::size(kImage))},
    {40025, HMB_MENU, "Mode", kMode, ULONG(std::size(kMode))},
    {143, HMB_IMAGE, "Fill Paint Layer with Current Paint Mode", nullptr, 0, 1},
    {81, HMB_IMAGE, "Clear Paint Layer", nullptr, 0, 2},
    {155, HMB_CHECK, "Erase Mode Toggle", nullptr, 0, 4},
};

constexpr host_MenuBarResource kMenuBar{kButtons, ULONG(std::size(kButtons))};

} // namespace

const host_MenuBarResource* velura_MenuBarResource() {
    return &kMenuBar;
}
